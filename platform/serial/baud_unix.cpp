// Line speed through termios2, which takes any rate (BOTHER). Kept apart
// because <asm/termbits.h> clashes with the C library's <termios.h>.
#include "baud_unix.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace serial::detail {

bool setAnyBaud(int fd, std::uint32_t baud)
{
    struct termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return false;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = baud;
    t.c_ospeed = baud;
    return ::ioctl(fd, TCSETS2, &t) == 0;
}

std::uint32_t currentBaud(int fd)
{
    struct termios2 t{};
    if (::ioctl(fd, TCGETS2, &t) != 0)
        return 0;
    return t.c_ospeed;
}

}  // namespace serial::detail
