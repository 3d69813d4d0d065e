// How qelterm reaches the port it was given: a COM name directly, a device
// path or a remote port (rfc2217://host:port) through the COM namespace (an
// existing entry, else a private ports map that adds one).
#pragma once

#include <string>

namespace qelterm {

struct PortChoice {
    int number = 0;         // COM number; 0 when the name cannot be used
    std::string tempMap;    // a ports map written for this run, to remove at exit
};

PortChoice choosePort(const std::string& nameOrPath);

}  // namespace qelterm
