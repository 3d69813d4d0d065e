// How qelterm reaches the port it was given: a COM name directly; a device
// path or a remote port ("rfc2217://host:port", any name of the form
// scheme://...) through the COM namespace: an existing entry, else a
// private ports map that adds one. Whether a remote name opens is the
// serial layer's to say.
#pragma once

#include <string>

namespace qelterm {

struct PortChoice {
    int number = 0;         // COM number; 0 when the name cannot be used
    std::string tempMap;    // a ports map written for this run, to remove at exit
};

PortChoice choosePort(const std::string& nameOrPath);

// Why a name cannot be used: "NAME is neither a COM name, a device path
// nor a remote port (rfc2217://host:port)".
std::string unusablePortText(const std::string& name);

// Whether choosePort takes the name: a COM name, an absolute path or a
// remote port.
bool usablePortName(const std::string& name);

// "rfc2217://host:port", the one kind of remote port the serial layer opens.
bool isRemotePortName(const std::string& name);

}  // namespace qelterm
