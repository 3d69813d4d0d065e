// Colour filters applied when painting; the stored attributes stay as they are.
#pragma once

#include <cstdint>

namespace qelcomm::terminal {

std::uint8_t filterAttribute(std::uint8_t attr, std::int32_t filter);

}  // namespace qelcomm::terminal
