// Driver stand-in: ports as pseudo-terminal pairs, one worker thread per port
// blocking in poll() on the master, an inotify watch on the slave node and a
// wake-up eventfd.

#include "kvd/kvd.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <thread>

namespace kvd {

// ---------------------------------------------------------------- Event

void Event::set()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = true;
    m_cond.notify_all();
}

void Event::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = false;
}

bool Event::wait(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (timeoutMs < 0) {
        m_cond.wait(lock, [this] { return m_set; });
        return true;
    }
    return m_cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_set; });
}

namespace {

thread_local uint32_t t_lastError = 0;

bool fail(uint32_t error)
{
    t_lastError = error;
    return false;
}

constexpr size_t kQueueSize = 8192;
// How often the slave's settings are looked at while packet mode cannot be
// trusted to report their changes (see Port::run).
constexpr int kSettingsPollMs = 50;

std::string ownerFile(const std::string& folder, const std::string& name)
{
    return folder + "/." + name + ".owner";
}

bool processAlive(pid_t pid)
{
    return pid > 0 && (kill(pid, 0) == 0 || errno == EPERM);
}

pid_t readOwner(const std::string& path)
{
    std::ifstream in(path);
    long pid = 0;
    in >> pid;
    return in ? pid_t(pid) : 0;
}

uint32_t baudFromSpeed(speed_t s)
{
    static const std::pair<speed_t, uint32_t> table[] = {
        {B50, 50}, {B75, 75}, {B110, 110}, {B134, 134}, {B150, 150}, {B200, 200}, {B300, 300},
        {B600, 600}, {B1200, 1200}, {B1800, 1800}, {B2400, 2400}, {B4800, 4800}, {B9600, 9600},
        {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
        {B460800, 460800}, {B500000, 500000}, {B576000, 576000}, {B921600, 921600},
        {B1000000, 1000000}, {B1152000, 1152000}, {B1500000, 1500000}, {B2000000, 2000000},
        {B2500000, 2500000}, {B3000000, 3000000}, {B3500000, 3500000}, {B4000000, 4000000}};
    for (auto& [speed, baud] : table)
        if (speed == s)
            return baud;
    return 0;
}

// The slave's line settings as the driver's records.
struct LineSettings {
    uint32_t baud = 0;
    SerialLineControl line;
    SerialHandflow handflow;
    SerialChars chars;
    SerialTimeouts timeouts;
};

LineSettings settingsFrom(const termios& t)
{
    LineSettings s;
    s.baud = baudFromSpeed(cfgetospeed(&t));
    s.line.StopBits = (t.c_cflag & CSTOPB) ? 2 : 0;
    s.line.Parity = (t.c_cflag & PARENB) ? ((t.c_cflag & PARODD) ? 1 : 2) : 0;
    switch (t.c_cflag & CSIZE) {
    case CS5: s.line.WordLength = 5; break;
    case CS6: s.line.WordLength = 6; break;
    case CS7: s.line.WordLength = 7; break;
    default: s.line.WordLength = 8; break;
    }
    s.handflow.ControlHandShake = SERIAL_DTR_CONTROL | ((t.c_cflag & CRTSCTS) ? SERIAL_CTS_HANDSHAKE : 0);
    s.handflow.FlowReplace = ((t.c_cflag & CRTSCTS) ? SERIAL_RTS_HANDSHAKE : SERIAL_RTS_CONTROL) |
                             ((t.c_iflag & IXON) ? SERIAL_AUTO_TRANSMIT : 0) |
                             ((t.c_iflag & IXOFF) ? SERIAL_AUTO_RECEIVE : 0);
    s.handflow.XonLimit = 2048;
    s.handflow.XoffLimit = 512;
    s.chars.EofChar = t.c_cc[VEOF];
    s.chars.XonChar = t.c_cc[VSTART];
    s.chars.XoffChar = t.c_cc[VSTOP];
    // VMIN/VTIME as read timeouts: VTIME is in tenths of a second.
    const uint32_t vtimeMs = uint32_t(t.c_cc[VTIME]) * 100;
    if (t.c_cc[VMIN] == 0 && vtimeMs == 0)
        s.timeouts.ReadIntervalTimeout = 0xFFFFFFFF;
    else if (t.c_cc[VMIN] == 0)
        s.timeouts.ReadTotalTimeoutConstant = vtimeMs;
    else
        s.timeouts.ReadIntervalTimeout = vtimeMs;
    return s;
}

template <typename T>
bool differs(const T& a, const T& b)
{
    return std::memcmp(&a, &b, sizeof(T)) != 0;
}

// ---------------------------------------------------------------- Port

class Port {
public:
    Port(std::string name, std::string link, std::string owner) :
        m_name(std::move(name)), m_link(std::move(link)), m_owner(std::move(owner)) {}
    ~Port() { shutdown(); }

    bool start();
    void shutdown();
    bool gone();  // deleted: the handles still open on it fail every request

    const std::string& name() const { return m_name; }

    // Requests from the control's end.
    void setWaitMask(uint32_t mask);
    bool startWait(uint32_t* mask, Overlapped* ov);
    void cancelWait();
    uint32_t read(uint8_t* buf, uint32_t size);
    uint32_t write(const uint8_t* buf, uint32_t size);
    uint32_t inputCount();
    void purge(uint32_t flags);
    uint32_t state();
    LineSettings settings();
    uint32_t modemStatus();
    void setProgramSignal(uint32_t func);
    void setControlLine(uint32_t bit, bool on);
    void setTimeouts(const SerialTimeouts& t);
    Dcb dcb();
    void setDcb(const Dcb& d);

private:
    void run();
    void raise(uint32_t bits);  // with m_mutex held
    void completeWait();        // with m_mutex held
    bool drainMaster();         // false once the master is empty with no program left
    void checkSettings();
    void checkOpen();
    void wake();

    std::string m_name, m_link, m_owner, m_slavePath;
    int m_master = -1, m_inotify = -1, m_wakeFd = -1;
    std::thread m_thread;
    bool m_stop = false;

    std::mutex m_mutex;
    bool m_gone = false;
    std::string m_input;
    bool m_opened = false;
    bool m_leftover = false;      // a closed program's bytes may still wait in the master
    bool m_packetsReport = true;  // the slave keeps EXTPROC: packet mode reports its changes
    uint32_t m_waitMask = 0, m_pending = 0;
    int m_deferredOpenClose = 0;
    uint32_t* m_waitOut = nullptr;
    Overlapped* m_waitOv = nullptr;
    LineSettings m_settings;
    LineSettings m_slaveSeen;  // the slave's settings when last looked at
    uint32_t m_lines = 0;  // DCD and RING raised by the control (MS_* bits)
    uint32_t m_escape = 0; // DTR (0x1) and RTS (0x2) of the control's end
    Dcb m_dcb;
};

bool Port::start()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return false;
    char slave[128];
    if (ptsname_r(m_master, slave, sizeof slave) != 0)
        return false;
    m_slavePath = slave;
    // Raw 8-bit line with EXTPROC so that every tcsetattr by the program is
    // reported to the master in packet mode.
    int s = ::open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s < 0)
        return false;
    termios t{};
    tcgetattr(s, &t);
    cfmakeraw(&t);
    t.c_lflag |= EXTPROC;
    cfsetspeed(&t, B9600);
    tcsetattr(s, TCSANOW, &t);
    ::close(s);
    int on = 1;
    if (ioctl(m_master, TIOCPKT, &on) != 0)
        return false;
    tcgetattr(m_master, &t);
    m_settings = m_slaveSeen = settingsFrom(t);
    m_dcb.BaudRate = m_settings.baud;

    m_inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    m_wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_inotify < 0 || m_wakeFd < 0 ||
        inotify_add_watch(m_inotify, slave, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0)
        return false;
    if (symlink(slave, m_link.c_str()) != 0)
        return false;
    std::ofstream(m_owner) << getpid() << "\n";
    m_thread = std::thread([this] { run(); });
    return true;
}

void Port::shutdown()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gone = true;
    }
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        wake();
        m_thread.join();
    }
    cancelWait();
    for (int* fd : {&m_master, &m_inotify, &m_wakeFd})
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    if (!m_slavePath.empty()) {
        ::unlink(m_link.c_str());
        ::unlink(m_owner.c_str());
        m_slavePath.clear();
    }
}

bool Port::gone()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_gone;
}

void Port::wake()
{
    uint64_t one = 1;
    if (m_wakeFd >= 0)
        (void)!::write(m_wakeFd, &one, sizeof one);
}

void Port::run()
{
    for (;;) {
        bool opened, room, polling, leftover;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop)
                return;
            opened = m_opened;
            room = m_input.size() < kQueueSize;
            leftover = m_leftover;
            // A full queue leaves the master unread, and its settings reports with it.
            polling = opened && (!m_packetsReport || !room);
        }
        // While nobody holds the slave the master reports POLLHUP at once, so
        // it is watched only while the port is open: for data while the
        // queue has room, and always for the hang-up that a close makes
        // (poll reports that one whatever is asked for). inotify reports
        // opens. A program that cleared EXTPROC from its local flags no
        // longer makes packet mode report its settings changes (pyserial,
        // picocom and raw-mode programs in general do), so its settings are
        // then looked at every kSettingsPollMs.
        pollfd fds[3] = {{opened ? m_master : -1, short(room ? POLLIN : 0), 0},
                         {m_inotify, POLLIN, 0},
                         {m_wakeFd, POLLIN, 0}};
        if (::poll(fds, 3, polling ? kSettingsPollMs : -1) < 0 && errno != EINTR)
            return;
        if (fds[2].revents & POLLIN) {
            uint64_t v;
            (void)!::read(m_wakeFd, &v, sizeof v);
        }
        if (fds[1].revents & POLLIN) {
            char buf[4096];
            bool sawOpen = false;
            ssize_t n;
            while ((n = ::read(m_inotify, buf, sizeof buf)) > 0)
                for (char* p = buf; p < buf + n;) {
                    auto* ev = reinterpret_cast<inotify_event*>(p);
                    if (ev->mask & IN_OPEN)
                        sawOpen = true;
                    p += sizeof(inotify_event) + ev->len;
                }
            if (sawOpen) {
                std::lock_guard<std::mutex> lock(m_mutex);
                if (!m_opened) {
                    m_opened = true;
                    raise(EV_KVD_OPENCLOSE);
                }
            }
        }
        if (opened && (fds[0].revents & (POLLIN | POLLHUP | POLLERR)))
            drainMaster();
        else if (!opened && leftover && !drainMaster()) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_leftover = false;
        }
        checkSettings();
        checkOpen();
    }
}

// Reads what the master has: packet mode puts a status byte before each
// chunk; 0 means data follows, TIOCPKT_IOCTL means the program changed the
// line settings (looked at by checkSettings, which runs after every wake-up).
bool Port::drainMaster()
{
    uint8_t buf[4097];
    for (;;) {
        size_t room;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            room = kQueueSize > m_input.size() ? kQueueSize - m_input.size() : 0;
        }
        if (room == 0)
            return true;
        ssize_t n = ::read(m_master, buf, std::min<size_t>(room, 4096) + 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return n < 0 && errno == EAGAIN;  // EIO: empty, and no program holds the slave
        if (buf[0] == TIOCPKT_DATA && n > 1) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_input.append(reinterpret_cast<char*>(buf + 1), size_t(n - 1));
            raise(EV_RXCHAR);
        }
    }
}

// Compares the slave's settings with what was last seen and reports what
// changed. A record the control set itself (the time-outs) is replaced only
// when the program changes the settings it comes from.
void Port::checkSettings()
{
    termios t{};
    if (tcgetattr(m_master, &t) != 0)
        return;
    const LineSettings s = settingsFrom(t);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_packetsReport = (t.c_lflag & EXTPROC) != 0;
    uint32_t bits = 0;
    if (s.baud != m_slaveSeen.baud) {
        bits |= EV_KVD_BAUD;
        m_settings.baud = s.baud;
    }
    if (differs(s.handflow, m_slaveSeen.handflow)) {
        bits |= EV_KVD_HANDFLOW;
        m_settings.handflow = s.handflow;
    }
    if (differs(s.chars, m_slaveSeen.chars)) {
        bits |= EV_KVD_CHARS;
        m_settings.chars = s.chars;
    }
    if (differs(s.timeouts, m_slaveSeen.timeouts)) {
        bits |= EV_KVD_TIMEOUTS;
        m_settings.timeouts = s.timeouts;
    }
    if (differs(s.line, m_slaveSeen.line)) {
        bits |= EV_KVD_LINECTRL;
        m_settings.line = s.line;
    }
    m_slaveSeen = s;
    if (bits)
        raise(bits);
}

// The port is closed once no program holds the slave: the master hangs up.
// Bytes the program wrote before it closed may still wait in the master
// (all of them while the input queue is full); they are read once there is
// room, after the close has been reported.
void Port::checkOpen()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_opened)
        return;
    pollfd p{m_master, 0, 0};
    if (::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP)) {
        m_opened = false;
        m_leftover = true;
        raise(EV_KVD_OPENCLOSE);
    }
}

void Port::raise(uint32_t bits)
{
    // Each open or close must reach the control in its own wake-up, since
    // the control flips its open state once per reported bit.
    if ((bits & EV_KVD_OPENCLOSE) && (m_pending & EV_KVD_OPENCLOSE)) {
        ++m_deferredOpenClose;
        bits &= ~EV_KVD_OPENCLOSE;
    }
    m_pending |= bits;
    completeWait();
}

void Port::completeWait()
{
    if (!m_waitOv || !(m_pending & m_waitMask))
        return;
    *m_waitOut = m_pending & m_waitMask;
    m_pending &= ~m_waitMask;
    if (m_deferredOpenClose > 0 && !(m_pending & EV_KVD_OPENCLOSE)) {
        --m_deferredOpenClose;
        m_pending |= EV_KVD_OPENCLOSE;
    }
    Overlapped* ov = m_waitOv;
    m_waitOv = nullptr;
    ov->status = kErrorSuccess;
    ov->bytes = sizeof(uint32_t);
    ov->pending = false;
    if (ov->hEvent)
        ov->hEvent->set();
}

void Port::setWaitMask(uint32_t mask)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_waitMask = mask;
    m_pending &= mask;
    // A new mask completes a pending wait with no events, as a serial port does.
    if (m_waitOv) {
        *m_waitOut = 0;
        m_waitOv->status = kErrorSuccess;
        m_waitOv->pending = false;
        if (m_waitOv->hEvent)
            m_waitOv->hEvent->set();
        m_waitOv = nullptr;
    }
}

bool Port::startWait(uint32_t* mask, Overlapped* ov)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_gone)
        return fail(kErrorDeviceRemoved);
    if (m_waitOv)
        return fail(kErrorInvalidParameter);
    *mask = 0;
    ov->pending = true;
    ov->status = kErrorIoPending;
    ov->bytes = 0;
    if (ov->hEvent)
        ov->hEvent->reset();
    m_waitOut = mask;
    m_waitOv = ov;
    completeWait();
    if (!ov->pending)
        return true;
    return fail(kErrorIoPending);
}

void Port::cancelWait()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_waitOv)
        return;
    m_waitOv->status = kErrorOperationAborted;
    m_waitOv->pending = false;
    if (m_waitOv->hEvent)
        m_waitOv->hEvent->set();
    m_waitOv = nullptr;
}

uint32_t Port::read(uint8_t* buf, uint32_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const uint32_t n = std::min<uint32_t>(size, uint32_t(m_input.size()));
    std::memcpy(buf, m_input.data(), n);
    const bool wasFull = m_input.size() >= kQueueSize;
    m_input.erase(0, n);
    if (wasFull && n > 0)
        wake();
    return n;
}

uint32_t Port::write(const uint8_t* buf, uint32_t size)
{
    {
        // With nobody holding the port the data has no reader: nothing is
        // taken, rather than left for whichever program opens the port next.
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_opened)
            return 0;
    }
    uint32_t done = 0;
    while (done < size) {
        ssize_t n = ::write(m_master, buf + done, size - done);
        if (n > 0) {
            done += uint32_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{m_master, POLLOUT, 0};
            if (::poll(&p, 1, 1000) == 1 && (p.revents & POLLOUT))
                continue;
        }
        break;
    }
    return done;
}

uint32_t Port::inputCount()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return uint32_t(m_input.size());
}

void Port::purge(uint32_t flags)
{
    if (flags & (PURGE_RXCLEAR | PURGE_RXABORT)) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_input.clear();
    }
    if (flags & (PURGE_TXCLEAR | PURGE_TXABORT))
        tcflush(m_master, TCOFLUSH);
    wake();
}

uint32_t Port::state()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_opened ? 1 : 0;
}

LineSettings Port::settings()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_settings;
}

uint32_t Port::modemStatus()
{
    // The program's RTS and DTR cannot be seen through a pseudo-terminal;
    // the control's end reports them as raised.
    std::lock_guard<std::mutex> lock(m_mutex);
    return MS_CTS_ON | MS_DSR_ON | m_lines;
}

void Port::setProgramSignal(uint32_t func)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (func == SETDTR) m_escape |= 1;
    if (func == CLRDTR) m_escape &= ~1u;
    if (func == SETRTS) m_escape |= 2;
    if (func == CLRRTS) m_escape &= ~2u;
}

void Port::setControlLine(uint32_t bit, bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_lines = on ? (m_lines | bit) : (m_lines & ~bit);
}

void Port::setTimeouts(const SerialTimeouts& t)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings.timeouts = t;
}

Dcb Port::dcb()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dcb;
}

void Port::setDcb(const Dcb& d)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_dcb = d;
}

// ---------------------------------------------------------------- driver

struct Object {
    bool control = false;
    std::shared_ptr<Port> port;
};

struct Driver {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<Port>> ports;  // by bare name
    std::map<Handle, Object> handles;
    Handle next = 1;
    bool controlOpen = false;
};

Driver& driver()
{
    static Driver* d = new Driver;  // lives until exit; ports unlinked at exit below
    return *d;
}

std::string narrow(const char16_t* units, size_t max)
{
    std::string s;
    for (size_t i = 0; i < max && units[i]; ++i) {
        if (units[i] > 0x7F)
            return {};  // keep names plain ASCII: they become file names
        s += char(units[i]);
    }
    return s;
}

bool validName(const std::string& n)
{
    return !n.empty() && n.find('/') == std::string::npos && n != "." && n != ".." && n[0] != '.';
}

void removeAllOwnPorts()
{
    auto& d = driver();
    std::map<std::string, std::shared_ptr<Port>> ports;
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        ports.swap(d.ports);
    }
    for (auto& [name, port] : ports)
        port->shutdown();
}

struct ExitCleanup {
    ExitCleanup() { std::atexit([] { removeAllOwnPorts(); }); }
};

bool createPort(const std::string& name)
{
    if (!validName(name))
        return fail(kErrorInvalidParameter);
    static ExitCleanup cleanup;
    auto& d = driver();
    std::lock_guard<std::mutex> lock(d.mutex);
    const std::string folder = portFolder();
    const std::string link = folder + "/" + name, owner = ownerFile(folder, name);
    if (d.ports.count(name))
        return fail(kErrorAlreadyExists);
    struct stat st;
    if (lstat(link.c_str(), &st) == 0) {
        if (processAlive(readOwner(owner)))
            return fail(kErrorAlreadyExists);
        ::unlink(link.c_str());  // stale: its owner is gone
    }
    auto port = std::make_shared<Port>(name, link, owner);
    if (!port->start())
        return fail(kErrorGenFailure);
    d.ports[name] = port;
    return true;
}

bool deletePort(const std::string& deviceName)
{
    if (deviceName.rfind("NULL_", 0) != 0)
        return fail(kErrorFileNotFound);
    const std::string name = deviceName.substr(5);
    std::shared_ptr<Port> port;
    {
        auto& d = driver();
        std::lock_guard<std::mutex> lock(d.mutex);
        auto it = d.ports.find(name);
        if (it == d.ports.end())
            return fail(kErrorFileNotFound);
        port = it->second;
        d.ports.erase(it);
    }
    port->shutdown();
    return true;
}

void resetBus()
{
    removeAllOwnPorts();
    const std::string folder = portFolder();
    // Stale links: an owner file whose process is gone, or a link without one.
    if (DIR* dir = opendir(folder.c_str())) {
        while (dirent* e = readdir(dir)) {
            std::string n = e->d_name;
            if (n.empty() || n[0] == '.')
                continue;
            const std::string link = folder + "/" + n;
            struct stat st;
            if (lstat(link.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
                continue;
            if (!processAlive(readOwner(ownerFile(folder, n)))) {
                ::unlink(link.c_str());
                ::unlink(ownerFile(folder, n).c_str());
            }
        }
        closedir(dir);
    }
}

Object* find(Handle h)
{
    auto& d = driver();
    auto it = d.handles.find(h);
    return it == d.handles.end() ? nullptr : &it->second;
}

// The port behind a handle; null (with the error set) for a bad handle or a
// port that has been deleted since the handle was opened.
std::shared_ptr<Port> portOf(Handle h)
{
    auto& d = driver();
    std::lock_guard<std::mutex> lock(d.mutex);
    Object* o = find(h);
    if (!o || !o->port) {
        fail(kErrorInvalidHandle);
        return nullptr;
    }
    if (o->port->gone()) {
        fail(kErrorDeviceRemoved);
        return nullptr;
    }
    return o->port;
}

bool complete(Overlapped* ov, uint32_t bytes)
{
    if (ov) {
        ov->status = kErrorSuccess;
        ov->bytes = bytes;
        ov->pending = false;
        if (ov->hEvent)
            ov->hEvent->set();
    }
    t_lastError = 0;
    return true;
}

template <typename T>
bool output(const T& value, void* out, uint32_t outSize, uint32_t* returned, Overlapped* ov)
{
    if (!out || outSize < sizeof(T))
        return fail(kErrorInvalidParameter);
    std::memcpy(out, &value, sizeof(T));
    if (returned)
        *returned = sizeof(T);
    return complete(ov, sizeof(T));
}

}  // namespace

std::string portFolder()
{
    std::string dir;
    if (const char* p = getenv("LINTREL_PORT_DIR"); p && *p)
        dir = p;
    else if (const char* x = getenv("XDG_RUNTIME_DIR"); x && *x)
        dir = std::string(x) + "/lintrel";
    else
        dir = "/tmp/lintrel-" + std::to_string(getuid());
    ::mkdir(dir.c_str(), 0700);
    return dir;
}

uint32_t GetLastError()
{
    return t_lastError;
}

Handle CreateFile(const std::u16string& path, bool /*overlapped*/)
{
    const std::u16string prefix = u"\\\\.\\";
    if (path.rfind(prefix, 0) != 0) {
        fail(kErrorFileNotFound);
        return kInvalidHandle;
    }
    const std::string name = narrow(path.c_str() + prefix.size(), path.size() - prefix.size());
    auto& d = driver();
    std::lock_guard<std::mutex> lock(d.mutex);
    Object obj;
    if (name == "KVDControl") {
        if (d.controlOpen) {
            fail(kErrorSharingViolation);
            return kInvalidHandle;
        }
        d.controlOpen = true;
        obj.control = true;
    } else if (name.rfind("NULL_", 0) == 0 && d.ports.count(name.substr(5))) {
        obj.port = d.ports[name.substr(5)];
        for (auto& [h, o] : d.handles)
            if (o.port == obj.port) {
                fail(kErrorSharingViolation);
                return kInvalidHandle;
            }
    } else {
        fail(kErrorFileNotFound);
        return kInvalidHandle;
    }
    const Handle h = d.next++;
    d.handles[h] = obj;
    t_lastError = 0;
    return h;
}

bool CloseHandle(Handle h)
{
    std::shared_ptr<Port> port;
    {
        auto& d = driver();
        std::lock_guard<std::mutex> lock(d.mutex);
        Object* o = find(h);
        if (!o)
            return fail(kErrorInvalidHandle);
        if (o->control)
            d.controlOpen = false;
        port = o->port;
        d.handles.erase(h);
    }
    // A wait pending on the closed end completes with failure.
    if (port)
        port->cancelWait();
    return true;
}

bool DeviceIoControl(Handle h, uint32_t code, const void* in, uint32_t inSize, void* out,
                     uint32_t outSize, uint32_t* returned, Overlapped* ov)
{
    if (returned)
        *returned = 0;
    bool isControl;
    std::shared_ptr<Port> port;
    {
        auto& d = driver();
        std::lock_guard<std::mutex> lock(d.mutex);
        Object* o = find(h);
        if (!o)
            return fail(kErrorInvalidHandle);
        isControl = o->control;
        port = o->port;
    }
    if (port && port->gone())
        return fail(kErrorDeviceRemoved);
    if (isControl) {
        switch (code) {
        case IOCTL_KVD_CREATE_PORT: {
            if (!in || inSize < kCreatePortInputSize)
                return fail(kErrorInvalidParameter);
            char16_t units[256];
            std::memcpy(units, static_cast<const uint8_t*>(in) + 4, sizeof units);
            return createPort(narrow(units, 256)) && complete(ov, 0);
        }
        case IOCTL_KVD_DELETE_PORT: {
            if (!in || inSize < kDeletePortInputSize)
                return fail(kErrorInvalidParameter);
            char16_t units[128];
            std::memcpy(units, static_cast<const uint8_t*>(in) + 4, sizeof units);
            return deletePort(narrow(units, 128)) && complete(ov, 0);
        }
        case IOCTL_KVD_RESET_BUS:
            resetBus();
            return complete(ov, 0);
        }
        return fail(kErrorNotSupported);
    }
    switch (code) {
    case IOCTL_SERIAL_SET_WAIT_MASK: {
        if (!in || inSize < 4)
            return fail(kErrorInvalidParameter);
        uint32_t mask;
        std::memcpy(&mask, in, 4);
        port->setWaitMask(mask);
        return complete(ov, 0);
    }
    case IOCTL_KVD_GET_STATE: return output(port->state(), out, outSize, returned, ov);
    case IOCTL_KVD_GET_TIMEOUTS: return output(port->settings().timeouts, out, outSize, returned, ov);
    case IOCTL_KVD_GET_BAUD_RATE: return output(port->settings().baud, out, outSize, returned, ov);
    case IOCTL_KVD_GET_LINE_CONTROL: return output(port->settings().line, out, outSize, returned, ov);
    case IOCTL_KVD_GET_CHARS: return output(port->settings().chars, out, outSize, returned, ov);
    case IOCTL_KVD_GET_HANDFLOW: return output(port->settings().handflow, out, outSize, returned, ov);
    case IOCTL_KVD_SET_RING: port->setControlLine(MS_RING_ON, true); return complete(ov, 0);
    case IOCTL_KVD_CLR_RING: port->setControlLine(MS_RING_ON, false); return complete(ov, 0);
    case IOCTL_KVD_SET_DCD: port->setControlLine(MS_RLSD_ON, true); return complete(ov, 0);
    case IOCTL_KVD_CLR_DCD: port->setControlLine(MS_RLSD_ON, false); return complete(ov, 0);
    case IOCTL_KVD_SET_TIMEOUTS: {
        if (!in || inSize < sizeof(SerialTimeouts))
            return fail(kErrorInvalidParameter);
        SerialTimeouts t;
        std::memcpy(&t, in, sizeof t);
        port->setTimeouts(t);
        return complete(ov, 0);
    }
    }
    return fail(kErrorNotSupported);
}

bool ReadFile(Handle h, void* buf, uint32_t size, uint32_t* read, Overlapped* ov)
{
    if (read)
        *read = 0;
    auto port = portOf(h);
    if (!port)
        return false;
    const uint32_t n = port->read(static_cast<uint8_t*>(buf), size);
    if (read)
        *read = n;
    return complete(ov, n);
}

bool WriteFile(Handle h, const void* buf, uint32_t size, uint32_t* written, Overlapped* ov)
{
    if (written)
        *written = 0;
    auto port = portOf(h);
    if (!port)
        return false;
    const uint32_t n = port->write(static_cast<const uint8_t*>(buf), size);
    if (written)
        *written = n;
    return complete(ov, n);
}

bool WaitCommEvent(Handle h, uint32_t* mask, Overlapped* ov)
{
    if (!mask || !ov)
        return fail(kErrorInvalidParameter);
    // Started under the driver lock, so a CloseHandle racing with this call
    // either finds the wait and cancels it or makes the lookup fail; a wait
    // left pending on a closed handle would never end.
    auto& d = driver();
    std::lock_guard<std::mutex> lock(d.mutex);
    Object* o = find(h);
    if (!o || !o->port)
        return fail(kErrorInvalidHandle);
    return o->port->startWait(mask, ov);
}

bool GetOverlappedResult(Handle /*h*/, Overlapped* ov, uint32_t* bytes, bool wait)
{
    if (!ov)
        return fail(kErrorInvalidParameter);
    if (ov->pending) {
        if (!wait || !ov->hEvent)
            return fail(kErrorIoPending);
        ov->hEvent->wait(-1);
    }
    if (bytes)
        *bytes = ov->bytes;
    if (ov->status != kErrorSuccess)
        return fail(ov->status);
    return true;
}

bool SetCommMask(Handle h, uint32_t mask)
{
    return DeviceIoControl(h, IOCTL_SERIAL_SET_WAIT_MASK, &mask, 4, nullptr, 0, nullptr, nullptr);
}

bool ClearCommError(Handle h, uint32_t* errors, ComStat* stat)
{
    auto port = portOf(h);
    if (!port)
        return false;
    if (errors)
        *errors = 0;
    if (stat)
        *stat = ComStat{port->inputCount(), 0};
    return true;
}

bool GetCommModemStatus(Handle h, uint32_t* status)
{
    auto port = portOf(h);
    if (!port)
        return false;
    *status = port->modemStatus();
    return true;
}

bool PurgeComm(Handle h, uint32_t flags)
{
    auto port = portOf(h);
    if (!port)
        return false;
    port->purge(flags);
    return true;
}

bool EscapeCommFunction(Handle h, uint32_t func)
{
    auto port = portOf(h);
    if (!port)
        return false;
    if (func < SETRTS || func > CLRDTR)
        return fail(kErrorInvalidParameter);
    port->setProgramSignal(func);
    return true;
}

bool GetCommState(Handle h, Dcb* dcb)
{
    auto port = portOf(h);
    if (!port)
        return false;
    *dcb = port->dcb();
    return true;
}

bool SetCommState(Handle h, const Dcb* dcb)
{
    auto port = portOf(h);
    if (!port)
        return false;
    port->setDcb(*dcb);
    return true;
}

bool SetupComm(Handle h, uint32_t, uint32_t)
{
    return portOf(h) != nullptr;
}

// ---------------------------------------------------------------- lock

NamedLock::NamedLock(const std::string& name)
{
    // One lock per port folder, so separate folders (tests) do not contend.
    const std::string semName = "/" + name + "." + std::to_string(getuid()) + "." +
                                std::to_string(std::hash<std::string>{}(portFolder()));
    sem_t* s = sem_open(semName.c_str(), O_CREAT, 0600, 1);
    m_sem = s == SEM_FAILED ? nullptr : s;
}

NamedLock::~NamedLock()
{
    if (m_sem)
        sem_close(static_cast<sem_t*>(m_sem));
}

bool NamedLock::wait(int timeoutMs)
{
    if (!m_sem)
        return false;
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    ts.tv_sec += timeoutMs / 1000;
    ts.tv_nsec += long(timeoutMs % 1000) * 1000000;
    if (ts.tv_nsec >= 1000000000) {
        ts.tv_sec += 1;
        ts.tv_nsec -= 1000000000;
    }
    while (sem_timedwait(static_cast<sem_t*>(m_sem), &ts) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

void NamedLock::signal()
{
    // Auto-reset event: signalled at most once.
    int v = 0;
    if (m_sem && sem_getvalue(static_cast<sem_t*>(m_sem), &v) == 0 && v < 1)
        sem_post(static_cast<sem_t*>(m_sem));
}

}  // namespace kvd
