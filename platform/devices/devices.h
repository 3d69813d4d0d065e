// The machine's serial devices, for choosing which one a COM number names:
// from udev when it runs here, otherwise from the device names
// /dev/ttyS*, /dev/ttyUSB* and /dev/ttyACM* with what sysfs tells of them.
#pragma once

#include <string>
#include <vector>

namespace lt::devices {

struct SerialDevice {
    std::string node;        // /dev/ttyUSB0
    std::string byId;        // /dev/serial/by-id/usb-FTDI_..., empty when it has none
    std::string driver;      // ftdi_sio, cdc_acm, serial8250, ...
    std::string vendorId;    // USB ids in hex ("0403", "6001"); empty for other buses
    std::string productId;
    std::string vendor;      // names as the device or udev's database gives them
    std::string product;
    std::string serial;      // the USB serial number
    std::vector<std::string> users;   // "picocom (1234)" for each process seen holding it open

    // The name that survives replugging: the by-id path when there is one.
    const std::string& stableName() const { return byId.empty() ? node : byId; }
    bool inUse() const { return !users.empty(); }
};

struct Listing {
    std::vector<SerialDevice> devices;   // in name order: ttyACM*, ttyS*, ttyUSB*, ...
    bool fromUdev = false;
    std::string note;                    // why udev was not used; empty when it was
};

// The devices of this machine, with their users.
Listing listSerialDevices();

// Without udev: the tty{S,USB,ACM}* names in devDir, their by-id names
// from devDir/serial/by-id, driver and USB details from sysDir
// (/sys/class/tty/<name>/device ...).  Serial ports a driver registered
// with no hardware behind them (sysfs "type" 0) are left out.  Users are
// not looked up.
std::vector<SerialDevice> listFromNames(const std::string& devDir = "/dev",
                                        const std::string& sysDir = "/sys");

// Whether this build can ask udev, and whether udev runs on this machine.
bool udevBuilt();
bool udevRunning();

// Processes that have path open, as far as this user may see them:
// "name (pid)", by pid.
std::vector<std::string> openers(const std::string& path, const std::string& procDir = "/proc");

}  // namespace lt::devices
