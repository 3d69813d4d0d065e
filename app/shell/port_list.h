// The machine's serial devices with the COM names that reach them, as the
// "Serial ports..." dialog and `lintrel --list-ports` show them, and the
// names the session window's COM list gives each number.
#pragma once

#include "devices/devices.h"

#include <string>
#include <vector>

namespace lintrel {

struct PortRow {
    lt::devices::SerialDevice device;
    std::vector<int> comNumbers;   // every COMn that opens this device
};

struct PortList {
    std::vector<PortRow> rows;
    bool fromUdev = false;
    std::string note;   // why udev was not asked
};

// The machine's devices (udev or the /dev names) with their COM names.
PortList listPorts();
// The same for a listing made elsewhere (tests give a fake one).
PortList withComNumbers(const lt::devices::Listing& listing);

// The table of `lintrel --list-ports`: the devices, then the COM names
// that are mapped or virtual.
std::string portTableText(const PortList& list);

// The COM list's entries 1 to count: "COM3 (/dev/ttyUSB0)" for a mapped
// port, "COM5 (virtual)" for a virtual one, "COM1 (/dev/ttyS0)" where the
// classic name has a device, "COM9" where nothing answers.
std::vector<std::string> comLabels(int count);

}  // namespace lintrel
