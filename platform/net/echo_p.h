// Shared between the two halves of the echo module; not for callers.
#pragma once

#include <cstdint>
#include <string>

namespace lt::net {

// Recomputes the echo time-out from the ping time-out source; returns it.
std::int32_t updateEchoTimeout();

// Opens and closes an ICMP socket; empty when that worked, else why not.
std::string probeIcmpSocket();

// Passes a socket library warning to the installed handler.
void socketsWarning(const std::string& text);

}  // namespace lt::net
