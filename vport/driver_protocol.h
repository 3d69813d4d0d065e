// Requests on an open end of a virtual port, shared by the control and its
// port event thread.
#pragma once

#include "kvd/kvd.h"

#include <cstdint>

namespace kelvad {

// One device request on the port end with its own completion event. A
// pending request is waited for at most waitMs (negative: no limit).
// True when the driver completed it successfully.
bool portRequest(kvd::Handle port, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                 std::uint32_t outSize, int waitMs);

}  // namespace kelvad
