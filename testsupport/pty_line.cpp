// Reads a tty's line settings through termios2 so that any baud shows
// exactly; kept apart because <asm/termbits.h> clashes with <termios.h>.
#include "pty_pair.h"

#include <asm/termbits.h>
#include <stdexcept>
#include <sys/ioctl.h>

namespace testsupport {

PtyPair::Line PtyPair::line() const
{
    struct termios2 t {};
    if (::ioctl(m_master, TCGETS2, &t) != 0)
        throw std::runtime_error("TCGETS2 failed");
    Line l;
    l.baud = t.c_ospeed;
    switch (t.c_cflag & CSIZE) {
    case CS5: l.dataBits = 5; break;
    case CS6: l.dataBits = 6; break;
    case CS7: l.dataBits = 7; break;
    default: l.dataBits = 8; break;
    }
    if (t.c_cflag & PARENB) {
        const bool odd = t.c_cflag & PARODD;
        if (t.c_cflag & CMSPAR)
            l.parity = odd ? 'm' : 's';
        else
            l.parity = odd ? 'o' : 'e';
    }
    l.stopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    l.rtsCts = t.c_cflag & CRTSCTS;
    l.xonXoff = (t.c_iflag & IXON) && (t.c_iflag & IXOFF);
    return l;
}

}  // namespace testsupport
