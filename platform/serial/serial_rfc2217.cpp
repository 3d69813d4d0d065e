// A remote serial port, "rfc2217://host:port": a TCP connection to an RFC
// 2217 access server (ser2net, a Lintrel session, pyserial's server) that
// answers the same calls as a local tty. Line settings, DTR, RTS, break and
// purges travel as COM-PORT-OPTION commands; the server's modem-state and
// line-state notifications become the modem status and the line errors.
//
// One I/O thread per port moves bytes between the socket and two queues
// (input up to the input queue size, output up to the output queue size)
// and answers the server's negotiation at once, so the port keeps flowing
// whoever calls and whether or not that thread runs an event loop: reads
// and writes wait on the queues under the Win32 time-outs, as on a tty.
// Notifications are posted to the event loop of the thread that asked.
//
// A server that never agrees to COM-PORT-OPTION leaves a plain data
// connection: commands are held by the codec and nothing waits for them.
// Waits for answers are bounded, and a server that stays silent (some do
// not answer every SET-CONTROL) is taken as having agreed.
#include "serial_p.h"

#include "rfc2217/client.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>

#include <cerrno>
#include <condition_variable>
#include <linux/sockios.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace serial::detail {

namespace {

using rfc2217::Control;
using Clock = std::chrono::steady_clock;

constexpr int kConnectMs = 3000;      // a server that does not accept by then is not there
constexpr int kNegotiationMs = 2000;  // for the server to agree to COM-PORT-OPTION at open
constexpr int kAnswerMs = 1000;       // for the answers to line settings
constexpr int kCloseFlushMs = 200;    // for the last commands (DTR off) to leave at close
constexpr std::size_t kWireChunk = 16384;
constexpr int kSendBuffer = 32768;    // keeps what the kernel holds near what a port queues

// "rfc2217://host:port" with host a name, an IPv4 address or [IPv6]; a
// trailing slash is allowed.
bool parseUrl(const std::string& url, std::string& host, std::string& port)
{
    std::string rest = url.substr(10);
    if (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    std::size_t colon = 0;
    if (!rest.empty() && rest[0] == '[') {
        const auto close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':')
            return false;
        host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.find(':');
        if (colon == std::string::npos)
            return false;
        host = rest.substr(0, colon);
    }
    port = rest.substr(colon + 1);
    if (host.empty() || port.empty() || port.size() > 5)
        return false;
    for (char c : port)
        if (c < '0' || c > '9')
            return false;
    const long n = std::stol(port);
    return n >= 1 && n <= 65535;
}

bool waitConnected(int s, Clock::time_point end)
{
    if (errno != EINPROGRESS)
        return false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0)
            return false;
        pollfd p{s, POLLOUT, 0};
        const int r = ::poll(&p, 1, int(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        int err = 0;
        socklen_t len = sizeof err;
        return ::getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0;
    }
}

// A connected, non-blocking TCP socket, or -1.
int connectTcp(const std::string& host, const std::string& port)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0)
        return -1;
    const auto end = Clock::now() + std::chrono::milliseconds(kConnectMs);
    int fd = -1;
    for (addrinfo* a = list; a && fd < 0; a = a->ai_next) {
        const int s = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0)
            continue;
        if (::connect(s, a->ai_addr, a->ai_addrlen) == 0 || waitConnected(s, end))
            fd = s;
        else
            ::close(s);
    }
    ::freeaddrinfo(list);
    if (fd >= 0) {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
        ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
    }
    return fd;
}

// The DCB's codes and the wire's: parity none..space is 0..4 here and 1..5
// there; stop bits one, one and a half, two are 0, 1, 2 here and 1, 3, 2 there.
rfc2217::Parity wireParity(std::uint8_t p) { return rfc2217::Parity(p + 1); }
rfc2217::StopSize wireStop(std::uint8_t s)
{
    return s == ONE5STOPBITS ? rfc2217::StopSize::OnePointFive
                             : s == TWOSTOPBITS ? rfc2217::StopSize::Two : rfc2217::StopSize::One;
}
std::optional<std::uint8_t> dcbParity(std::uint8_t wire)
{
    return wire >= 1 && wire <= 5 ? std::optional<std::uint8_t>(wire - 1) : std::nullopt;
}
std::optional<std::uint8_t> dcbStop(std::uint8_t wire)
{
    switch (rfc2217::StopSize(wire)) {
    case rfc2217::StopSize::One: return ONESTOPBIT;
    case rfc2217::StopSize::Two: return TWOSTOPBITS;
    case rfc2217::StopSize::OnePointFive: return ONE5STOPBITS;
    default: return std::nullopt;
    }
}

Control flowOf(const DCB& d)
{
    if (d.fOutxCtsFlow || d.fRtsControl == RTS_CONTROL_HANDSHAKE)
        return Control::FlowHardware;
    return d.fOutX || d.fInX ? Control::FlowXonXoff : Control::FlowNone;
}

// The server's answers to the line settings, as they come.
struct Answers {
    std::optional<std::uint32_t> baud;
    std::optional<std::uint8_t> size, parity, stop;   // wire values
};

// Which answers a change waits for.
struct Awaited {
    bool baud = false, size = false, parity = false, stop = false;
    bool any() const { return baud || size || parity || stop; }
};

class RemoteDevice final : public StoredSettingsDevice, public std::enable_shared_from_this<RemoteDevice>, private rfc2217::ClientHost {
public:
    explicit RemoteDevice(int fd) : m_fd(fd), m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), m_client(*this, "Lintrel qelcomm6") {}
    ~RemoteDevice() override;

    // Negotiates and learns the remote line settings; false (with
    // SetLastError) when the server went away at once.
    bool start();

    bool setState(const DCB& dcb) override;
    bool clearError(std::uint32_t* errors, COMSTAT* stat) override;
    bool read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override;
    bool write(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override;
    bool purge(std::uint32_t flags) override;
    bool escape(std::uint32_t function) override;
    bool modemStatus(std::uint32_t* status) override;
    bool setNotify(std::function<void(std::uint32_t)> fn) override;

private:
    // rfc2217::ClientHost, called with the mutex held.
    void toWire(const std::uint8_t* bytes, std::size_t n) override { m_wire.insert(m_wire.end(), bytes, bytes + n); }
    void toProgram(const std::uint8_t* bytes, std::size_t n) override { m_rx.append(bytes, n); }
    void comPort(bool on) override
    {
        m_comPort = on ? 1 : 0;
        m_cond.notify_all();
    }
    void baudRate(std::uint32_t v) override { answered(m_answers.baud, v); }
    void dataSize(std::uint8_t v) override { answered(m_answers.size, v); }
    void parity(rfc2217::Parity v) override { answered(m_answers.parity, std::uint8_t(v)); }
    void stopSize(rfc2217::StopSize v) override { answered(m_answers.stop, std::uint8_t(v)); }
    void modemState(std::uint8_t v) override;
    void lineState(std::uint8_t v) override;
    void flowSuspended(bool on) override { m_suspended = on; }

    template <typename T, typename V>
    void answered(std::optional<T>& slot, V v)
    {
        slot = T(v);
        m_cond.notify_all();
    }

    void run();
    void flushLocked();
    void goneLocked();
    void wakeIo();
    bool awaitAnswers(std::unique_lock<std::mutex>& lock, const Awaited& want);
    void postLocked(std::uint32_t news);
    void deliverNews();
    std::size_t inLimit() const { return std::max(m_inQueue, kDefaultInQueue); }
    std::size_t outLimit() const { return m_outQueue ? m_outQueue : kDefaultOutQueue; }
    std::size_t wirePending() const { return m_wire.size() - m_wireHead; }
    bool mayDrain() const { return !m_xoff && !m_suspended; }

    const int m_fd;
    const int m_wake;
    std::thread m_io;
    std::condition_variable m_cond;  // with m_mutex, which guards everything below
    rfc2217::Client m_client;
    ByteQueue m_rx;                    // data from the server not yet read
    ByteQueue m_tx;                    // data written, not yet encoded for the wire
    std::vector<std::uint8_t> m_wire;  // encoded bytes for the socket, from m_wireHead on
    std::size_t m_wireHead = 0;
    bool m_stop = false;
    bool m_gone = false;
    int m_comPort = -1;                // -1 undecided, 0 refused, 1 agreed
    bool m_xoff = false;               // SETXOFF: output held as if XOFF had come
    bool m_suspended = false;          // the server asked us to stop sending
    bool m_lineKnown = false;          // the server's line settings are those of m_dcb
    Answers m_answers;
    Control m_flowSent = Control::FlowQuery;   // FlowQuery: nothing sent yet
    Control m_dtrSent = Control::DtrQuery;
    Control m_rtsSent = Control::RtsQuery;
    std::uint32_t m_modem = 0;         // MS_* bits as last notified
    std::uint32_t m_errors = 0;        // CE_* bits since the last ClearCommError
    // Notifications, on the thread that asked for them.
    std::function<void(std::uint32_t)> m_notify;
    QObject* m_notifyContext = nullptr;
    std::uint32_t m_news = 0;
    bool m_newsPosted = false;
};

RemoteDevice::~RemoteDevice()
{
    {
        // What the closing caller sent last (DTR off, purges) still goes out.
        std::unique_lock lock(m_mutex);
        const auto end = Clock::now() + std::chrono::milliseconds(kCloseFlushMs);
        while (!m_gone && wirePending() > 0 && Clock::now() < end) {
            flushLocked();
            lock.unlock();
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 20);
            lock.lock();
        }
        m_stop = true;
        if (m_notifyContext)
            m_notifyContext->deleteLater();
        m_notifyContext = nullptr;
        m_notify = nullptr;
    }
    wakeIo();
    if (m_io.joinable())
        m_io.join();
    ::close(m_fd);
    if (m_wake >= 0)
        ::close(m_wake);
}

bool RemoteDevice::start()
{
    if (m_wake < 0)
        return fail(ERROR_GEN_FAILURE);
    std::unique_lock lock(m_mutex);
    m_client.start();
    flushLocked();
    m_io = std::thread([this] { run(); });
    m_cond.wait_for(lock, std::chrono::milliseconds(kNegotiationMs), [this] { return m_comPort >= 0 || m_gone; });
    if (m_gone)
        return fail(ERROR_ACCESS_DENIED);   // a server closes at once what it cannot serve
    if (m_comPort != 1)
        return true;
    // Line errors are told as they happen; the settings in force are asked
    // for, so the first SetCommState sends only what differs.
    m_client.setLineStateMask(rfc2217::line::Overrun | rfc2217::line::ParityError |
                              rfc2217::line::FramingError | rfc2217::line::BreakDetect);
    m_client.requestModemState();
    m_answers = {};
    m_client.setBaudRate(0);
    m_client.setDataSize(rfc2217::kQuery);
    m_client.setParity(rfc2217::Parity::Query);
    m_client.setStopSize(rfc2217::StopSize::Query);
    flushLocked();
    Awaited all;
    all.baud = all.size = all.parity = all.stop = true;
    if (!awaitAnswers(lock, all))
        return true;
    const auto parity = dcbParity(*m_answers.parity);
    const auto stop = dcbStop(*m_answers.stop);
    if (*m_answers.baud == 0 || *m_answers.size < 5 || *m_answers.size > 8 || !parity || !stop)
        return true;
    m_dcb.BaudRate = *m_answers.baud;
    m_dcb.ByteSize = *m_answers.size;
    m_dcb.Parity = *parity;
    m_dcb.StopBits = *stop;
    m_lineKnown = true;
    return true;
}

bool RemoteDevice::awaitAnswers(std::unique_lock<std::mutex>& lock, const Awaited& want)
{
    auto done = [&] {
        return (!want.baud || m_answers.baud) && (!want.size || m_answers.size) &&
               (!want.parity || m_answers.parity) && (!want.stop || m_answers.stop);
    };
    m_cond.wait_for(lock, std::chrono::milliseconds(kAnswerMs), [&] { return m_gone || done(); });
    return !m_gone && done();
}

// Sends what differs from the settings in force and waits for the answers
// to the line settings. A value the server answers differently was refused:
// the old settings are asked for again and the call fails, as a driver
// that refuses a configuration leaves the old one in force.
bool RemoteDevice::setState(const DCB& dcb)
{
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > SPACEPARITY ||
        dcb.StopBits > TWOSTOPBITS)
        return fail(ERROR_INVALID_PARAMETER);
    std::unique_lock lock(m_mutex);
    if (m_gone)
        return fail(ERROR_DEVICE_REMOVED);
    const DCB old = m_dcb;
    const bool all = !m_lineKnown;
    Awaited want;
    m_answers = {};
    if (all || dcb.BaudRate != old.BaudRate) {
        m_client.setBaudRate(dcb.BaudRate);
        want.baud = true;
    }
    if (all || dcb.ByteSize != old.ByteSize) {
        m_client.setDataSize(dcb.ByteSize);
        want.size = true;
    }
    if (all || dcb.Parity != old.Parity) {
        m_client.setParity(wireParity(dcb.Parity));
        want.parity = true;
    }
    if (all || dcb.StopBits != old.StopBits) {
        m_client.setStopSize(wireStop(dcb.StopBits));
        want.stop = true;
    }
    auto control = [this](Control& sent, Control value) {
        if (sent != value)
            m_client.setControl(value);
        sent = value;
    };
    control(m_flowSent, flowOf(dcb));
    control(m_dtrSent, dcb.fDtrControl == DTR_CONTROL_DISABLE ? Control::DtrOff : Control::DtrOn);
    if (dcb.fRtsControl != RTS_CONTROL_HANDSHAKE)
        control(m_rtsSent, dcb.fRtsControl == RTS_CONTROL_DISABLE ? Control::RtsOff : Control::RtsOn);
    flushLocked();
    // Held commands (no agreement yet) have no answers to wait for.
    if (m_comPort != 1 || !want.any() || !awaitAnswers(lock, want)) {
        m_dcb = dcb;
        m_lineKnown = true;
        return !m_gone || fail(ERROR_DEVICE_REMOVED);
    }
    const bool taken = (!want.baud || *m_answers.baud == dcb.BaudRate) &&
                       (!want.size || *m_answers.size == dcb.ByteSize) &&
                       (!want.parity || *m_answers.parity == std::uint8_t(wireParity(dcb.Parity))) &&
                       (!want.stop || *m_answers.stop == std::uint8_t(wireStop(dcb.StopBits)));
    if (taken) {
        m_dcb = dcb;
        m_lineKnown = true;
        return true;
    }
    if (m_lineKnown) {
        // What was taken goes back to the old value.
        if (want.baud && *m_answers.baud != old.BaudRate)
            m_client.setBaudRate(old.BaudRate);
        if (want.size && *m_answers.size != old.ByteSize)
            m_client.setDataSize(old.ByteSize);
        if (want.parity && *m_answers.parity != std::uint8_t(wireParity(old.Parity)))
            m_client.setParity(wireParity(old.Parity));
        if (want.stop && *m_answers.stop != std::uint8_t(wireStop(old.StopBits)))
            m_client.setStopSize(wireStop(old.StopBits));
        flushLocked();
    }
    return fail(ERROR_INVALID_PARAMETER);
}

void RemoteDevice::modemState(std::uint8_t v)
{
    const std::uint32_t lines = v & rfc2217::modem::Lines;   // MS_* bits have the same places
    if (lines != m_modem) {
        m_modem = lines;
        postLocked(NOTIFY_STATUS);
    }
}

void RemoteDevice::lineState(std::uint8_t v)
{
    namespace line = rfc2217::line;
    std::uint32_t e = 0;
    if (v & line::Overrun)
        e |= CE_OVERRUN;
    if (v & line::ParityError)
        e |= CE_RXPARITY;
    if (v & line::FramingError)
        e |= CE_FRAME;
    if (v & line::BreakDetect)
        e |= CE_BREAK;
    if (e) {
        m_errors |= e;
        postLocked(NOTIFY_STATUS);
    }
}

bool RemoteDevice::clearError(std::uint32_t* errors, COMSTAT* stat)
{
    std::lock_guard lock(m_mutex);
    // What arrived before the connection dropped can still be read.
    if (m_gone && m_rx.empty())
        return fail(ERROR_DEVICE_REMOVED);
    *errors = std::exchange(m_errors, 0);
    *stat = COMSTAT{};
    stat->cbInQue = std::uint32_t(m_rx.size());
    stat->cbOutQue = std::uint32_t(m_tx.size() + wirePending());
    int unsent = 0;
    if (!m_gone && ::ioctl(m_fd, SIOCOUTQ, &unsent) == 0 && unsent > 0)
        stat->cbOutQue += std::uint32_t(unsent);
    stat->fCtsHold = m_dcb.fOutxCtsFlow && m_comPort == 1 && !(m_modem & MS_CTS_ON);
    stat->fXoffHold = m_xoff || m_suspended;
    return true;
}

bool RemoteDevice::read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done)
{
    std::unique_lock lock(m_mutex);
    ReadTimer timer(m_timeouts, count);
    std::uint32_t got = 0;
    for (;;) {
        if (m_gone && m_rx.empty() && got == 0) {
            *done = 0;
            return fail(ERROR_DEVICE_REMOVED);
        }
        const bool wasFull = m_rx.size() >= inLimit();
        const auto taken = std::uint32_t(m_rx.take(buffer + got, count - got));
        if (wasFull && m_rx.size() < inLimit())
            wakeIo();   // the I/O thread stopped reading the socket at the bound
        got += taken;
        if (m_gone)
            break;
        const int wait = timer.waitMs(got, taken > 0);
        if (wait == 0)
            break;
        if (wait < 0)
            m_cond.wait(lock);
        else
            m_cond.wait_for(lock, std::chrono::milliseconds(wait));
    }
    *done = got;
    return true;
}

bool RemoteDevice::write(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done)
{
    std::unique_lock lock(m_mutex);
    const std::uint64_t totalMs =
        std::uint64_t(m_timeouts.WriteTotalTimeoutMultiplier) * count + m_timeouts.WriteTotalTimeoutConstant;
    const auto end = Clock::now() + std::chrono::milliseconds(totalMs);
    std::uint32_t sent = 0;
    for (;;) {
        if (m_gone) {
            *done = sent;
            return fail(ERROR_DEVICE_REMOVED);
        }
        const std::size_t room = outLimit() > m_tx.size() ? outLimit() - m_tx.size() : 0;
        const auto take = std::uint32_t(std::min<std::size_t>(room, count - sent));
        m_tx.append(buffer + sent, take);
        sent += take;
        flushLocked();
        if (sent == count)
            break;
        if (outLimit() > m_tx.size())
            continue;   // the wire took some at once
        // Does not fit: wait for the connection to take bytes, as the
        // time-outs allow.
        if (totalMs == 0) {
            m_cond.wait(lock);
        } else if (m_cond.wait_until(lock, end) == std::cv_status::timeout && outLimit() <= m_tx.size()) {
            break;   // timed out: the short count tells the caller
        }
    }
    *done = sent;
    return true;
}

bool RemoteDevice::purge(std::uint32_t flags)
{
    std::lock_guard lock(m_mutex);
    std::uint8_t what = 0;
    if (flags & (PURGE_RXABORT | PURGE_RXCLEAR)) {
        if (m_rx.size() >= inLimit())
            wakeIo();
        m_rx.clear();
        what |= std::uint8_t(rfc2217::Purge::Receive);
    }
    if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) {
        m_tx.clear();
        m_cond.notify_all();
        what |= std::uint8_t(rfc2217::Purge::Transmit);
    }
    if (what && !m_gone) {
        m_client.purge(rfc2217::Purge(what));
        flushLocked();
    }
    return true;
}

bool RemoteDevice::escape(std::uint32_t function)
{
    std::lock_guard lock(m_mutex);
    if (m_gone)
        return fail(ERROR_DEVICE_REMOVED);
    switch (function) {
    case SETXOFF: m_xoff = true; break;
    case SETXON: m_xoff = false; break;
    case SETRTS: m_client.setControl(m_rtsSent = Control::RtsOn); break;
    case CLRRTS: m_client.setControl(m_rtsSent = Control::RtsOff); break;
    case SETDTR: m_client.setControl(m_dtrSent = Control::DtrOn); break;
    case CLRDTR: m_client.setControl(m_dtrSent = Control::DtrOff); break;
    case SETBREAK: m_client.setControl(Control::BreakOn); break;
    case CLRBREAK: m_client.setControl(Control::BreakOff); break;
    default: return fail(ERROR_INVALID_PARAMETER);
    }
    flushLocked();
    return true;
}

bool RemoteDevice::modemStatus(std::uint32_t* status)
{
    std::lock_guard lock(m_mutex);
    if (m_gone)
        return fail(ERROR_DEVICE_REMOVED);
    *status = m_modem;
    return true;
}

// Encodes waiting data as the wire has room for it and hands the wire to
// the socket as far as it takes bytes; what stays is left to the I/O
// thread. Called with the mutex held, from any thread.
void RemoteDevice::flushLocked()
{
    if (m_gone)
        return;
    bool moved = false;
    std::uint8_t chunk[kWireChunk];
    while (mayDrain() && !m_tx.empty() && wirePending() < kWireChunk) {
        const std::size_t n = m_tx.take(chunk, sizeof chunk);
        m_client.sendData(chunk, n);
        moved = true;
    }
    while (wirePending() > 0) {
        const ssize_t n = ::send(m_fd, m_wire.data() + m_wireHead, wirePending(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            m_wireHead += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            goneLocked();
            return;
        }
        break;
    }
    if (m_wireHead == m_wire.size()) {
        m_wire.clear();
        m_wireHead = 0;
    } else if (m_wireHead > m_wire.size() / 2) {
        m_wire.erase(m_wire.begin(), m_wire.begin() + std::ptrdiff_t(m_wireHead));
        m_wireHead = 0;
    }
    if (moved) {
        postLocked(NOTIFY_ROOM);
        m_cond.notify_all();
    }
    if ((wirePending() > 0 || (mayDrain() && !m_tx.empty())) && std::this_thread::get_id() != m_io.get_id())
        wakeIo();
}

void RemoteDevice::goneLocked()
{
    if (m_gone)
        return;
    m_gone = true;
    m_tx.clear();
    m_wire.clear();
    m_wireHead = 0;
    postLocked(NOTIFY_GONE);
    m_cond.notify_all();
}

void RemoteDevice::wakeIo()
{
    const std::uint64_t one = 1;
    (void)!::write(m_wake, &one, sizeof one);
}

void RemoteDevice::run()
{
    std::uint8_t chunk[16384];
    for (;;) {
        short events = 0;
        bool gone = false;
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
            gone = m_gone;
            if (m_rx.size() < inLimit())
                events |= POLLIN;
            if (wirePending() > 0 || (mayDrain() && !m_tx.empty()))
                events |= POLLOUT;
        }
        pollfd fds[2] = {{gone ? -1 : m_fd, events, 0}, {m_wake, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;   // EINTR
        if (fds[1].revents & POLLIN) {
            std::uint64_t v;
            (void)!::read(m_wake, &v, sizeof v);
        }
        if (gone)
            continue;
        if (fds[0].revents & POLLOUT) {
            std::lock_guard lock(m_mutex);
            flushLocked();
        }
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        std::size_t room = sizeof chunk;
        {
            std::lock_guard lock(m_mutex);
            room = std::min(room, std::max<std::size_t>(1, inLimit() - std::min(m_rx.size(), inLimit())));
        }
        const ssize_t n = ::recv(m_fd, chunk, room, MSG_DONTWAIT);
        std::lock_guard lock(m_mutex);
        if (n > 0) {
            const std::size_t before = m_rx.size();
            m_client.feed(chunk, std::size_t(n));
            if (m_rx.size() > before)
                postLocked(NOTIFY_INPUT);
            m_cond.notify_all();
            flushLocked();   // answers to the server's negotiation, data it let go on
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
            goneLocked();
        }
    }
}

bool RemoteDevice::setNotify(std::function<void(std::uint32_t)> fn)
{
    std::lock_guard lock(m_mutex);
    if (m_notifyContext)
        m_notifyContext->deleteLater();
    m_notifyContext = nullptr;
    m_notify = std::move(fn);
    m_news = 0;
    m_newsPosted = false;
    if (!m_notify)
        return true;
    if (!QCoreApplication::instance() || !QThread::currentThread()->eventDispatcher()) {
        m_notify = nullptr;
        return fail(ERROR_NOT_SUPPORTED);
    }
    // Deliveries are queued to this object, which lives on the caller's thread.
    m_notifyContext = new QObject;
    if (!m_rx.empty())
        postLocked(NOTIFY_INPUT);
    if (m_gone)
        postLocked(NOTIFY_GONE);
    return true;
}

// Called with the mutex held, from any thread: the news is delivered from
// the asking thread's event loop, never inside the call that found it.
void RemoteDevice::postLocked(std::uint32_t news)
{
    if (!m_notify)
        return;
    m_news |= news;
    if (m_newsPosted || !m_notifyContext)
        return;
    m_newsPosted = true;
    std::weak_ptr<RemoteDevice> weak = weak_from_this();
    QMetaObject::invokeMethod(m_notifyContext, [weak] {
        if (auto self = weak.lock())
            self->deliverNews();
    }, Qt::QueuedConnection);
}

void RemoteDevice::deliverNews()
{
    std::function<void(std::uint32_t)> notify;
    std::uint32_t what = 0;
    {
        std::lock_guard lock(m_mutex);
        m_newsPosted = false;
        what = std::exchange(m_news, 0);
        notify = m_notify;
    }
    if (what && notify)
        notify(what);   // may close the port: nothing of this object is touched after it
}

}  // namespace

std::shared_ptr<Device> openRemote(const std::string& url)
{
    std::string host, port;
    if (!parseUrl(url, host, port)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    const int fd = connectTcp(host, port);
    if (fd < 0) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return nullptr;
    }
    auto device = std::make_shared<RemoteDevice>(fd);
    if (!device->start())
        return nullptr;
    return device;
}

}  // namespace serial::detail
