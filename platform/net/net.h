// IPv4 name service helpers: the host's own addresses, host name lookup
// and dotted-decimal conversion.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lt::net {

// The local host name, trimmed; empty when the platform cannot give it.
std::string localHostName();

// IPv4 addresses of a host name in the order the name service lists them,
// without duplicates; empty when the lookup fails.  A dotted address
// resolves to itself.
std::vector<std::string> lookupHost(const std::string& name);

// First IPv4 address of a host name, or empty when it cannot be resolved.
std::string resolveHostAddress(const std::string& name);

// The IPv4 addresses of the host's interfaces that are up, in the order
// the system lists them, without duplicates.  Loopback addresses only when
// there is no other; 127.0.0.1 when the system lists none at all, so a
// caller always has an address to offer.
std::vector<std::string> listLocalAddresses();

// Dotted decimal <-> address as a host-order 32-bit value.
std::optional<std::uint32_t> parseDotted(const std::string& text);
std::string formatDotted(std::uint32_t address);

}  // namespace lt::net
