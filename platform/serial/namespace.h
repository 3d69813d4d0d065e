// The COM device namespace: how a name such as "COM5" finds a device.
//
// In order: a virtual port of that name (its link in the port folder), the
// [Ports] map of $LINTREL_PORTS or $XDG_CONFIG_HOME/lintrel/ports.ini
// ("COM3=/dev/ttyUSB0", or a remote port: "COM12=rfc2217://10.0.0.5:2217"),
// then /dev/ttyS<n-1>. So a virtual port created as COM5 is what every
// program, this library included, reaches as COM5.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace serial {

// "COMn" or "\\.\COMn" (any letter case) to a device path. Any other name is
// returned unchanged (an absolute device path stays what it is).
std::string resolvePortName(const std::string& name);

// Whether the name is a remote port, "rfc2217://host:port" (any letter
// case in the scheme), reached over TCP instead of a device file.
bool isRemotePortName(const std::string& name);

// n for "COMn" / "\\.\COMn", else 0.
int comPortNumber(const std::string& name);

// The folder holding the virtual ports' links: $LINTREL_PORT_DIR, else
// $XDG_RUNTIME_DIR/lintrel, else /tmp/lintrel-<uid>. Not created here.
std::string portFolder();

// The ports map file in use: $LINTREL_PORTS, else
// $XDG_CONFIG_HOME/lintrel/ports.ini (XDG_CONFIG_HOME defaulting to ~/.config).
std::string portsMapPath();

// Where COMn leads, and by which rule.
struct PortTarget {
    enum Source { Virtual, Mapped, Classic } source = Classic;
    std::string path;      // the link, the mapped path or /dev/ttyS<n-1>
    std::string device;    // what path leads to now (links followed); empty when absent
};
PortTarget locatePort(int n);

// Sets COMn in the [Ports] section of the ports map to path, or removes it
// when path is empty.  Everything else in the file stays as it was; the
// file and its folder are made when missing.  False, with the reason in
// why, when it cannot be written.
bool setMappedPort(int n, const std::string& path, std::string* why = nullptr);

// n -> path for every COMn key of the [Ports] section, in file order.
std::vector<std::pair<int, std::string>> mappedPorts();

}  // namespace serial
