// A serial port on a Linux tty through termios. The port is opened
// non-blocking and exclusive (TIOCEXCL, and flock so that root is kept out
// too); waits are done with poll so the Win32 time-outs can be honoured.
// Input always runs with PARMRK so breaks and line errors arrive marked;
// the read path decodes the marks into a receive buffer of its own, which
// makes the queue count exact and keeps every byte value intact.
// Output goes through a queue of the size the caller set, drained into the
// tty as it takes bytes, so a write that fits never waits: the kernel's tty
// buffer is a few kB whatever size the caller asked for. A hung-up tty (a
// USB adapter unplugged, a pseudo-terminal whose master closed) makes the
// port "gone": calls then fail with ERROR_DEVICE_REMOVED.
#include "baud_unix.h"
#include "serial_p.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <deque>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace serial::detail {

namespace {

struct SpeedConstant {
    std::uint32_t baud;
    speed_t code;
};

constexpr SpeedConstant kSpeeds[] = {
    {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200},
    {300, B300}, {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400},
    {4800, B4800}, {9600, B9600}, {19200, B19200}, {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800},
    {500000, B500000}, {576000, B576000}, {921600, B921600}, {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

std::uint32_t errorFromErrno(int e)
{
    switch (e) {
    case ENOENT: case ENODEV: case ENXIO: case ENOTDIR: return ERROR_FILE_NOT_FOUND;
    case EACCES: case EBUSY: case EPERM: case EWOULDBLOCK: return ERROR_ACCESS_DENIED;
    case ENOTTY: case EINVAL: case ENOTSUP: return ERROR_NOT_SUPPORTED;
    default: return ERROR_GEN_FAILURE;
    }
}

bool fail(std::uint32_t code)
{
    SetLastError(code);
    return false;
}

bool failErrno() { return fail(errorFromErrno(errno)); }

bool validLine(const DCB& d)
{
    if (d.BaudRate == 0 || d.ByteSize < 5 || d.ByteSize > 8 || d.Parity > SPACEPARITY)
        return false;
    if (d.StopBits == ONE5STOPBITS)
        return d.ByteSize == 5;  // 1.5 stop bits exist only with 5 data bits
    return d.StopBits == ONESTOPBIT || d.StopBits == TWOSTOPBITS;
}

constexpr tcflag_t kCflagBits = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
constexpr tcflag_t kIflagBits = INPCK | PARMRK | IXON | IXOFF;

termios lineTermios(termios t, const DCB& d)
{
    t.c_iflag = PARMRK;  // breaks and line errors arrive marked, 0xFF doubled
    if (d.fParity)
        t.c_iflag |= INPCK;
    if (d.fOutX)
        t.c_iflag |= IXON;
    if (d.fInX)
        t.c_iflag |= IXOFF;
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag &= ~kCflagBits;
    t.c_cflag |= CREAD | CLOCAL;
    static constexpr tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= sizes[d.ByteSize - 5];
    switch (d.Parity) {
    case ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
    case EVENPARITY: t.c_cflag |= PARENB; break;
    case MARKPARITY: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (d.StopBits != ONESTOPBIT)
        t.c_cflag |= CSTOPB;
    if (d.fOutxCtsFlow || d.fRtsControl == RTS_CONTROL_HANDSHAKE)
        t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    t.c_cc[VSTART] = cc_t(d.XonChar);
    t.c_cc[VSTOP] = cc_t(d.XoffChar);
    return t;
}

// A pseudo-terminal has no line framing: its driver always reports 8 data
// bits without parity, so those are not held against it.
bool isPseudoTerminal(int fd)
{
    struct stat st{};
    return ::fstat(fd, &st) == 0 && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

class TtyDevice : public StoredSettingsDevice, public std::enable_shared_from_this<TtyDevice> {
public:
    explicit TtyDevice(int fd) : m_fd(fd), m_pty(isPseudoTerminal(fd))
    {
        termios t{};
        ::tcgetattr(m_fd, &t);
        m_dcb.BaudRate = currentBaud(m_fd);
        if (m_dcb.BaudRate == 0)
            m_dcb.BaudRate = 9600;
        m_haveCounts = ::ioctl(m_fd, TIOCGICOUNT, &m_counts) == 0;
        // The output queue drains by itself, as a driver's does, on the
        // event loop of the thread that opened the port; without one it
        // drains whenever the port is used.
        if (QCoreApplication::instance() && QThread::currentThread()->eventDispatcher()) {
            m_writeNote = new QSocketNotifier(m_fd, QSocketNotifier::Write);
            m_writeNote->setEnabled(false);
            QObject::connect(m_writeNote, &QSocketNotifier::activated, m_writeNote, [this] { onWritable(); });
        }
    }
    ~TtyDevice() override
    {
        QSocketNotifier* note = m_writeNote ? m_writeNote.data() : m_readNote.data();
        if (note && QThread::currentThread() != note->thread()) {
            // The notifiers' thread may poll the descriptor until it has
            // disabled them: that thread disables them, then closes it.
            QSocketNotifier* r = m_readNote;
            QSocketNotifier* w = m_writeNote;
            for (QSocketNotifier* n : {r, w})
                if (n)
                    QObject::disconnect(n, nullptr, nullptr, nullptr);
            const int fd = m_fd;
            QMetaObject::invokeMethod(note, [r, w, fd] {
                for (QSocketNotifier* n : {r, w})
                    if (n) {
                        n->setEnabled(false);
                        n->deleteLater();
                    }
                ::flock(fd, LOCK_UN);
                ::close(fd);
            }, Qt::QueuedConnection);
            return;
        }
        dropNotifiers(true);
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }

    bool setState(const DCB& dcb) override;
    bool clearError(std::uint32_t* errors, COMSTAT* stat) override;
    bool read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override;
    bool write(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override;
    bool purge(std::uint32_t flags) override;
    bool escape(std::uint32_t function) override;
    bool modemStatus(std::uint32_t* status) override;
    bool setNotify(std::function<void(std::uint32_t)> fn) override;

private:
    bool applyLine(const DCB& dcb);
    bool lineTaken(const termios& wanted, std::uint32_t baud);
    void fill();
    void look();
    void decode(std::uint8_t c);
    void deliver(std::uint8_t c, bool marked);
    bool modemLines(unsigned long request, int bits);
    std::uint32_t outLimit() const { return m_outQueue ? m_outQueue : kDefaultOutQueue; }
    std::size_t pending() const { return m_tx.size() - m_txHead; }
    bool drain();
    void markGoneIfHungUp(ssize_t readResult, int error);
    void onReadable();
    void onWritable();
    void postNews();
    void deliverNews();
    void syncNotifiers();
    void dropNotifiers(bool all);

    const int m_fd;
    const bool m_pty;
    ByteQueue m_rx;                 // decoded input not yet read
    int m_markState = 0;            // bytes of a 0xFF mark sequence seen so far
    std::uint32_t m_markErrors = 0; // errors the marks showed since the last ClearCommError
    bool m_haveCounts = false;
    serial_icounter_struct m_counts{};
    std::vector<std::uint8_t> m_tx;  // output queue: bytes from m_txHead on wait for the tty
    std::size_t m_txHead = 0;
    bool m_gone = false;             // hung up: the device went away
    std::uint32_t m_noModemLines = 0; // the error TIOCMGET gave once for good
    // Notifications, on the thread that asked for them.
    std::function<void(std::uint32_t)> m_notify;
    QPointer<QSocketNotifier> m_readNote, m_writeNote;
    std::uint32_t m_notified = 0;    // news gathered for the next callback
    bool m_newsPosted = false;       // a delivery of m_notified is queued
};

// Hands the queue to the tty as far as it takes bytes; false once the
// device went away.  Called with the mutex held.
bool TtyDevice::drain()
{
    while (pending() > 0 && !m_gone) {
        const ssize_t n = ::write(m_fd, m_tx.data() + m_txHead, pending());
        if (n > 0) {
            m_txHead += std::size_t(n);
            m_notified |= NOTIFY_ROOM;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            markGoneIfHungUp(-1, errno);
        break;
    }
    if (pending() == 0) {
        m_tx.clear();
        m_txHead = 0;
    } else if (m_txHead > m_tx.size() / 2) {
        m_tx.erase(m_tx.begin(), m_tx.begin() + std::ptrdiff_t(m_txHead));
        m_txHead = 0;
    }
    return !m_gone;
}

// A read of 0 bytes is also what a tty in raw mode answers when nothing
// is there; only a hang-up shows POLLHUP as well.  Errors that mean the
// device is no more (a pseudo-terminal whose master closed gives EIO) do
// too.  Called with the mutex held.
void TtyDevice::markGoneIfHungUp(ssize_t readResult, int error)
{
    if (m_gone)
        return;
    if (readResult < 0 && (error == EIO || error == ENXIO || error == ENODEV)) {
        m_gone = true;
    } else if (readResult == 0) {
        pollfd p{m_fd, POLLIN, 0};
        m_gone = ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP);
    }
    if (m_gone) {
        m_notified |= NOTIFY_GONE;
        m_tx.clear();
        m_txHead = 0;
    }
}

bool TtyDevice::lineTaken(const termios& wanted, std::uint32_t baud)
{
    termios got{};
    if (::tcgetattr(m_fd, &got) != 0)
        return false;
    tcflag_t cflagBits = kCflagBits;
    if (m_pty)
        cflagBits &= ~(CSIZE | PARENB | PARODD);
    if ((got.c_cflag & cflagBits) != (wanted.c_cflag & cflagBits) || (got.c_iflag & kIflagBits) != (wanted.c_iflag & kIflagBits))
        return false;
    const std::uint32_t actual = currentBaud(m_fd);
    const std::uint32_t slack = baud / 50;  // a UART divisor may round the rate a little
    return actual + slack >= baud && actual <= baud + slack;
}

bool TtyDevice::applyLine(const DCB& dcb)
{
    termios old{};
    if (::tcgetattr(m_fd, &old) != 0)
        return failErrno();
    const std::uint32_t oldBaud = currentBaud(m_fd);
    termios t = lineTermios(old, dcb);
    const auto constant = std::find_if(std::begin(kSpeeds), std::end(kSpeeds),
                                       [&](const SpeedConstant& s) { return s.baud == dcb.BaudRate; });
    // Without a Bnnn constant, termios2 sets the rate once the rest is in.
    const speed_t code = constant != std::end(kSpeeds) ? constant->code : B38400;
    ::cfsetispeed(&t, code);
    ::cfsetospeed(&t, code);
    bool ok = ::tcsetattr(m_fd, TCSANOW, &t) == 0;
    if (ok && constant == std::end(kSpeeds))
        ok = setAnyBaud(m_fd, dcb.BaudRate);
    if (ok && lineTaken(t, dcb.BaudRate))
        return true;
    ::tcsetattr(m_fd, TCSANOW, &old);
    if (oldBaud != 0 && currentBaud(m_fd) != oldBaud)
        setAnyBaud(m_fd, oldBaud);
    return fail(ERROR_INVALID_PARAMETER);
}

bool TtyDevice::setState(const DCB& dcb)
{
    if (!validLine(dcb))
        return fail(ERROR_INVALID_PARAMETER);
    std::lock_guard lock(m_mutex);
    if (!applyLine(dcb))
        return false;
    m_dcb = dcb;
    // The lines follow the DCB where the tty has them; a pseudo-terminal has
    // none, which is no reason to refuse the configuration.
    modemLines(dcb.fDtrControl == DTR_CONTROL_DISABLE ? TIOCMBIC : TIOCMBIS, TIOCM_DTR);
    if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE)
        modemLines(dcb.fRtsControl == RTS_CONTROL_ENABLE ? TIOCMBIS : TIOCMBIC, TIOCM_RTS);
    return true;
}

void TtyDevice::deliver(std::uint8_t c, bool marked)
{
    if (marked && m_dcb.fErrorChar)
        c = std::uint8_t(m_dcb.ErrorChar);
    if (c == 0 && m_dcb.fNull)
        return;
    m_rx.push_back(c);
}

// PARMRK stream: 0xFF 0xFF is a data 0xFF, 0xFF 0x00 x is x received with
// an error (0xFF 0x00 0x00 a break or framing error), anything else is data.
void TtyDevice::decode(std::uint8_t c)
{
    switch (m_markState) {
    case 0:
        if (c == 0xFF)
            m_markState = 1;
        else
            deliver(c, false);
        return;
    case 1:
        m_markState = c == 0x00 ? 2 : 0;
        if (c == 0xFF) {
            deliver(0xFF, false);
        } else if (c != 0x00) {  // not a mark after all
            deliver(0xFF, false);
            deliver(c, false);
        }
        return;
    default:
        m_markState = 0;
        m_markErrors |= c == 0 ? CE_FRAME : (m_dcb.fParity ? CE_RXPARITY : CE_FRAME);
        deliver(c, true);
        return;
    }
}

// Moves input from the kernel into the decoded buffer, up to the input
// queue size; the rest waits in the kernel (and its flow control). Like a
// Windows driver, a smaller size than the default is taken as the default.
void TtyDevice::fill()
{
    const std::size_t limit = std::max(m_inQueue, kDefaultInQueue);
    std::uint8_t chunk[16384];
    while (m_rx.size() < limit && !m_gone) {
        // Asking the tty what it holds is far cheaper than a read that finds
        // nothing (a tty read waits for the tty's buffer work each time).
        int waiting = 0;
        if (::ioctl(m_fd, FIONREAD, &waiting) == 0) {
            if (waiting <= 0)
                return;
        } else if (errno == EIO || errno == ENXIO || errno == ENODEV) {
            markGoneIfHungUp(-1, errno);
            return;
        }
        const std::size_t want = std::min(sizeof chunk, limit - m_rx.size());
        const ssize_t n = ::read(m_fd, chunk, want);
        if (n <= 0) {
            if (!(n < 0 && (errno == EAGAIN || errno == EINTR)))
                markGoneIfHungUp(n, errno);
            return;
        }
        m_notified |= NOTIFY_INPUT;
        // Runs without a mark byte are taken whole; only marks (and, when
        // nulls are stripped, every byte) go one at a time.
        const std::uint8_t* p = chunk;
        const std::uint8_t* const end = chunk + n;
        while (p < end) {
            if (m_markState != 0 || m_dcb.fNull) {
                decode(*p++);
                continue;
            }
            const auto* mark = static_cast<const std::uint8_t*>(std::memchr(p, 0xFF, std::size_t(end - p)));
            const std::uint8_t* runEnd = mark ? mark : end;
            m_rx.append(p, std::size_t(runEnd - p));
            p = runEnd;
            if (mark)
                decode(*p++);
        }
    }
}

// A status read looks at the tty only when nothing else watches it: with
// an input notifier, new input is read when the notifier says so, which
// saves a read (and the tty's buffer flush behind it) on every status read.
void TtyDevice::look()
{
    if (!m_readNote)
        fill();
}

bool TtyDevice::clearError(std::uint32_t* errors, COMSTAT* stat)
{
    std::lock_guard lock(m_mutex);
    look();
    drain();
    // What arrived before the device went away can still be read.
    if (m_gone && m_rx.empty())
        return fail(ERROR_DEVICE_REMOVED);
    std::uint32_t e = 0;
    serial_icounter_struct now{};
    if (m_haveCounts && ::ioctl(m_fd, TIOCGICOUNT, &now) == 0) {
        if (now.brk != m_counts.brk) e |= CE_BREAK;
        if (now.frame != m_counts.frame) e |= CE_FRAME;
        if (now.overrun != m_counts.overrun) e |= CE_OVERRUN;
        if (now.buf_overrun != m_counts.buf_overrun) e |= CE_RXOVER;
        if (now.parity != m_counts.parity) e |= CE_RXPARITY;
        m_counts = now;
        // A break also shows as a framing mark; the counters tell them apart.
        if (!(e & CE_BREAK))
            e |= m_markErrors;
    } else {
        e |= m_markErrors;
    }
    m_markErrors = 0;
    *errors = e;
    *stat = COMSTAT{};
    stat->cbInQue = std::uint32_t(m_rx.size());
    stat->cbOutQue = std::uint32_t(pending());
    int out = 0;
    if (!m_pty && ::ioctl(m_fd, TIOCOUTQ, &out) == 0 && out > 0)   // a pty always answers 0
        stat->cbOutQue += std::uint32_t(out);
    int lines = 0;
    if (m_dcb.fOutxCtsFlow && ::ioctl(m_fd, TIOCMGET, &lines) == 0)
        stat->fCtsHold = !(lines & TIOCM_CTS);
    postNews();
    return true;
}

bool TtyDevice::read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done)
{
    COMMTIMEOUTS t;
    {
        std::lock_guard lock(m_mutex);
        t = m_timeouts;
    }
    ReadTimer timer(t, count);
    std::uint32_t got = 0;
    for (;;) {
        std::uint32_t taken = 0;
        bool gone = false;
        {
            std::lock_guard lock(m_mutex);
            fill();
            if (m_gone && m_rx.empty() && got == 0) {
                *done = 0;
                return fail(ERROR_DEVICE_REMOVED);
            }
            taken = std::uint32_t(m_rx.take(buffer + got, count - got));
            if (taken > 0)
                syncNotifiers();   // room again for input the notifier stopped taking
            postNews();
            gone = m_gone;
        }
        got += taken;
        if (gone)
            break;
        const int wait = timer.waitMs(got, taken > 0);
        if (wait == 0)
            break;
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, wait) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(p.revents & POLLIN))
            ::poll(nullptr, 0, std::min(wait < 0 ? 20 : wait, 20));  // far end gone: wait without spinning
    }
    *done = got;
    return true;
}

bool TtyDevice::write(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done)
{
    std::unique_lock lock(m_mutex);
    const std::uint64_t totalMs =
        std::uint64_t(m_timeouts.WriteTotalTimeoutMultiplier) * count + m_timeouts.WriteTotalTimeoutConstant;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(totalMs);
    std::uint32_t sent = 0;
    for (;;) {
        if (!drain()) {
            *done = sent;
            return fail(ERROR_DEVICE_REMOVED);
        }
        // Straight to the tty while nothing waits before these bytes.
        while (pending() == 0 && sent < count) {
            const ssize_t n = ::write(m_fd, buffer + sent, count - sent);
            if (n > 0) {
                sent += std::uint32_t(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno != EAGAIN) {
                markGoneIfHungUp(-1, errno);
                *done = sent;
                if (m_gone)
                    return fail(ERROR_DEVICE_REMOVED);
                return failErrno();
            }
            break;
        }
        // The rest joins the queue as far as it has room.
        const std::size_t room = outLimit() > pending() ? outLimit() - pending() : 0;
        const std::uint32_t take = std::uint32_t(std::min<std::size_t>(room, count - sent));
        m_tx.insert(m_tx.end(), buffer + sent, buffer + sent + take);
        sent += take;
        if (sent == count)
            break;
        // Does not fit: wait for the tty to take bytes, as the time-outs allow.
        int wait = -1;
        if (totalMs != 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                break;  // timed out: the short count tells the caller
            wait = int(std::min<long long>(left, 1000000));
        }
        lock.unlock();
        pollfd p{m_fd, POLLOUT, 0};
        ::poll(&p, 1, wait);
        lock.lock();
    }
    syncNotifiers();
    postNews();
    *done = sent;
    return true;
}

bool TtyDevice::setNotify(std::function<void(std::uint32_t)> fn)
{
    dropNotifiers(false);
    std::lock_guard lock(m_mutex);
    m_notify = std::move(fn);
    if (!m_notify)
        return true;
    // Notifications come on the event loop of the thread that opened the
    // port, where its output notifier already lives.
    if (!m_writeNote || QThread::currentThread() != m_writeNote->thread()) {
        m_notify = nullptr;
        return fail(ERROR_NOT_SUPPORTED);
    }
    m_readNote = new QSocketNotifier(m_fd, QSocketNotifier::Read);
    QObject::connect(m_readNote, &QSocketNotifier::activated, m_readNote, [this] { onReadable(); });
    m_notified = 0;
    syncNotifiers();
    return true;
}

// The notifiers watch only what can bring news: input (when asked for)
// while the receive buffer has room, output while the queue holds bytes,
// nothing once gone.  Notifiers belong to their thread; from another one
// the change is queued there.  Called with the mutex held.
void TtyDevice::syncNotifiers()
{
    const bool readOn = !m_gone && m_rx.size() < std::max(m_inQueue, kDefaultInQueue);
    const bool writeOn = !m_gone && pending() > 0;
    for (auto [note, on] : {std::pair{m_readNote.data(), readOn}, std::pair{m_writeNote.data(), writeOn}}) {
        if (!note)
            continue;
        if (QThread::currentThread() != note->thread())
            QMetaObject::invokeMethod(note, [note, on] { note->setEnabled(on); }, Qt::QueuedConnection);
        else if (note->isEnabled() != on)
            note->setEnabled(on);
    }
}

// Drops the input notifier and the callback; with all, the output notifier
// too (the port is closing).
void TtyDevice::dropNotifiers(bool all)
{
    std::function<void(std::uint32_t)> old;
    std::lock_guard lock(m_mutex);
    for (QPointer<QSocketNotifier>* n : {&m_readNote, &m_writeNote}) {
        if (n == &m_writeNote && !all)
            continue;
        if (QSocketNotifier* note = *n) {
            // Cut off from this object at once (safe from any thread),
            // disabled on its own thread, deleted later since this may run
            // inside the notifier's own signal.
            QObject::disconnect(note, nullptr, nullptr, nullptr);
            if (QThread::currentThread() == note->thread())
                note->setEnabled(false);
            else
                QMetaObject::invokeMethod(note, [note] { note->setEnabled(false); }, Qt::QueuedConnection);
            note->deleteLater();
        }
        *n = nullptr;
    }
    old.swap(m_notify);
}

void TtyDevice::onReadable()
{
    std::function<void(std::uint32_t)> notify;
    std::uint32_t what = 0;
    {
        std::lock_guard lock(m_mutex);
        fill();
        syncNotifiers();
        what = std::exchange(m_notified, 0);
        notify = m_notify;
    }
    if (what && notify)
        notify(what);   // may close the port: nothing of this object is touched after it
}

// News found outside the notifiers' own callbacks (a status read or a read
// that took input from the tty, a write that drained the queue) would
// otherwise never be told: the tty has nothing new to wake a notifier.  It
// is delivered from the event loop, never inside the call that found it.
// Called with the mutex held.
void TtyDevice::postNews()
{
    if (!m_notify) {
        m_notified = 0;
        return;
    }
    if (!m_notified || m_newsPosted || !m_writeNote)
        return;
    m_newsPosted = true;
    std::weak_ptr<TtyDevice> weak = weak_from_this();
    QMetaObject::invokeMethod(m_writeNote, [weak] {
        if (auto self = weak.lock())
            self->deliverNews();
    }, Qt::QueuedConnection);
}

void TtyDevice::deliverNews()
{
    std::function<void(std::uint32_t)> notify;
    std::uint32_t what = 0;
    {
        std::lock_guard lock(m_mutex);
        m_newsPosted = false;
        what = std::exchange(m_notified, 0);
        notify = m_notify;
    }
    if (what && notify)
        notify(what);
}

void TtyDevice::onWritable()
{
    std::function<void(std::uint32_t)> notify;
    std::uint32_t what = 0;
    {
        std::lock_guard lock(m_mutex);
        drain();
        syncNotifiers();
        what = std::exchange(m_notified, 0);
        notify = m_notify;
    }
    if (what && notify)
        notify(what);
}

bool TtyDevice::purge(std::uint32_t flags)
{
    std::lock_guard lock(m_mutex);
    if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) {
        ::tcflush(m_fd, TCIFLUSH);
        m_rx.clear();
        m_markState = 0;
    }
    if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) {
        ::tcflush(m_fd, TCOFLUSH);
        m_tx.clear();
        m_txHead = 0;
        syncNotifiers();
    }
    return true;
}

bool TtyDevice::modemLines(unsigned long request, int bits)
{
    return ::ioctl(m_fd, request, &bits) == 0 || failErrno();
}

bool TtyDevice::escape(std::uint32_t function)
{
    switch (function) {
    case SETXOFF: return ::tcflow(m_fd, TCOOFF) == 0 || failErrno();
    case SETXON: return ::tcflow(m_fd, TCOON) == 0 || failErrno();
    case SETRTS: return modemLines(TIOCMBIS, TIOCM_RTS);
    case CLRRTS: return modemLines(TIOCMBIC, TIOCM_RTS);
    case SETDTR: return modemLines(TIOCMBIS, TIOCM_DTR);
    case CLRDTR: return modemLines(TIOCMBIC, TIOCM_DTR);
    case SETBREAK: return ::ioctl(m_fd, TIOCSBRK) == 0 || failErrno();
    case CLRBREAK: return ::ioctl(m_fd, TIOCCBRK) == 0 || failErrno();
    default: return fail(ERROR_INVALID_PARAMETER);
    }
}

bool TtyDevice::modemStatus(std::uint32_t* status)
{
    // A tty without modem lines (a pseudo-terminal) says so once; the
    // answer does not change, and the engine asks on every tick.
    if (m_noModemLines)
        return fail(m_noModemLines);
    int lines = 0;
    if (::ioctl(m_fd, TIOCMGET, &lines) != 0) {
        const int e = errno;
        failErrno();
        if (e == ENOTTY || e == EINVAL)
            m_noModemLines = GetLastError();
        return false;
    }
    *status = ((lines & TIOCM_CTS) ? MS_CTS_ON : 0) | ((lines & TIOCM_DSR) ? MS_DSR_ON : 0)
        | ((lines & TIOCM_RI) ? MS_RING_ON : 0) | ((lines & TIOCM_CD) ? MS_RLSD_ON : 0);
    return true;
}

}  // namespace

std::shared_ptr<Device> openTty(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        failErrno();
        return nullptr;
    }
    if (!::isatty(fd)) {
        ::close(fd);
        fail(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    // TIOCEXCL keeps other users out; flock also stops root, which
    // TIOCEXCL lets through, and a second open in this very process.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        fail(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    ::ioctl(fd, TIOCEXCL);
    termios t{};
    if (::tcgetattr(fd, &t) == 0) {  // raw at once: no echo or line editing before SetCommState
        ::cfmakeraw(&t);
        t.c_cflag |= CREAD | CLOCAL;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        ::tcsetattr(fd, TCSANOW, &t);
    }
    return std::make_shared<TtyDevice>(fd);
}

}  // namespace serial::detail
