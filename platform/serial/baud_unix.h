// Any line speed on a tty, through termios2.
#pragma once

#include <cstdint>

namespace serial::detail {

bool setAnyBaud(int fd, std::uint32_t baud);
// The output speed in force (0 when it cannot be read).
std::uint32_t currentBaud(int fd);

}  // namespace serial::detail
