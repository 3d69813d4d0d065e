// The in-process null-modem double: two ends sharing one lock and one
// condition variable, so a read or a held write on one end wakes when the
// other end writes or moves its lines.
#include "loopback.h"
#include "serial_p.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>

namespace serial::loopback {

namespace {

struct End {
    std::string name;
    bool open = false, dtr = false, rts = false, breakOn = false, ring = false;
    bool refuse = false, blocked = false, xoffHeld = false;
    DCB dcb;
    COMMTIMEOUTS timeouts;
    std::uint32_t inQueueSize = 0, outQueueSize = 0, eventMask = 0, errors = 0, held = 0;
    std::uint32_t writeLimit = 0;  // bytes one write takes at most; 0: no limit
    int breakCount = 0;
    std::deque<std::uint8_t> in;
};

struct Pair {
    std::mutex mutex;
    std::condition_variable changed;
    bool removed = false;
    End ends[2];
};

std::mutex g_mutex;
std::map<std::string, std::pair<std::shared_ptr<Pair>, int>> g_ends;

// Runs fn on the named end under its pair's lock; no-op if unknown.
template <typename Fn>
void withEnd(const std::string& name, Fn fn)
{
    std::shared_ptr<Pair> pair;
    int index = 0;
    {
        std::lock_guard lock(g_mutex);
        auto it = g_ends.find(name);
        if (it == g_ends.end())
            return;
        pair = it->second.first;
        index = it->second.second;
    }
    std::lock_guard lock(pair->mutex);
    fn(pair->ends[index]);
    pair->changed.notify_all();
}

class LoopbackDevice : public detail::Device {
public:
    LoopbackDevice(std::shared_ptr<Pair> pair, int index) : m_pair(std::move(pair)), m_self(index) {}
    ~LoopbackDevice() override
    {
        std::lock_guard lock(m_pair->mutex);
        End& e = self();
        e.open = e.dtr = e.rts = e.breakOn = false;  // dropping the lines, as a closed port does
        e.in.clear();
        m_pair->changed.notify_all();
    }

    bool setup(std::uint32_t inQueue, std::uint32_t outQueue) override
    {
        return run([&](End& e) { e.inQueueSize = inQueue; e.outQueueSize = outQueue; return true; });
    }
    bool queueSizes(std::uint32_t* inQueue, std::uint32_t* outQueue) override
    {
        return run([&](End& e) { *inQueue = e.inQueueSize; *outQueue = e.outQueueSize; return true; });
    }
    bool getState(DCB* dcb) override
    {
        return run([&](End& e) { *dcb = e.dcb; return true; });
    }
    bool setState(const DCB& dcb) override
    {
        return run([&](End& e) {
            if (e.refuse || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.BaudRate == 0)
                return fail(ERROR_INVALID_PARAMETER);
            e.dcb = dcb;
            e.dtr = dcb.fDtrControl != DTR_CONTROL_DISABLE;
            e.rts = dcb.fRtsControl == RTS_CONTROL_ENABLE || dcb.fRtsControl == RTS_CONTROL_HANDSHAKE;
            return true;
        });
    }
    bool getTimeouts(COMMTIMEOUTS* t) override
    {
        return run([&](End& e) { *t = e.timeouts; return true; });
    }
    bool setTimeouts(const COMMTIMEOUTS& t) override
    {
        return run([&](End& e) { e.timeouts = t; return true; });
    }
    bool clearError(std::uint32_t* errors, COMSTAT* stat) override
    {
        return run([&](End& e) {
            *errors = e.errors;
            e.errors = 0;
            *stat = COMSTAT{};
            stat->cbInQue = std::uint32_t(e.in.size());
            stat->cbOutQue = e.held;
            stat->fCtsHold = e.dcb.fOutxCtsFlow && !peer().rts;
            stat->fXoffHold = e.xoffHeld;
            return true;
        });
    }
    bool read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override;
    bool write(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) override;
    bool purge(std::uint32_t flags) override
    {
        return run([&](End& e) {
            if (flags & (PURGE_RXABORT | PURGE_RXCLEAR))
                e.in.clear();
            return true;
        });
    }
    bool escape(std::uint32_t function) override;
    bool modemStatus(std::uint32_t* status) override
    {
        return run([&](End& e) {
            const End& p = peer();
            *status = (p.rts ? MS_CTS_ON : 0) | (p.dtr ? MS_DSR_ON | MS_RLSD_ON : 0) | (e.ring ? MS_RING_ON : 0);
            return true;
        });
    }
    bool setMask(std::uint32_t mask) override
    {
        return run([&](End& e) { e.eventMask = mask; return true; });
    }
    bool getMask(std::uint32_t* mask) override
    {
        return run([&](End& e) { *mask = e.eventMask; return true; });
    }

private:
    static bool fail(std::uint32_t code)
    {
        SetLastError(code);
        return false;
    }
    End& self() { return m_pair->ends[m_self]; }
    End& peer() { return m_pair->ends[1 - m_self]; }
    bool holding(const End& e) { return e.blocked || e.xoffHeld || (e.dcb.fOutxCtsFlow && !peer().rts); }

    // Runs fn under the pair's lock, failing once the pair was removed.
    template <typename Fn>
    bool run(Fn fn)
    {
        std::lock_guard lock(m_pair->mutex);
        if (m_pair->removed)
            return fail(ERROR_GEN_FAILURE);
        const bool ok = fn(self());
        m_pair->changed.notify_all();
        return ok;
    }

    std::shared_ptr<Pair> m_pair;
    int m_self;
};

bool LoopbackDevice::read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done)
{
    std::unique_lock lock(m_pair->mutex);
    detail::ReadTimer timer(self().timeouts, count);
    std::uint32_t got = 0;
    while (!m_pair->removed) {
        End& e = self();
        const auto taken = std::uint32_t(std::min<std::size_t>(count - got, e.in.size()));
        std::copy_n(e.in.begin(), taken, buffer + got);
        e.in.erase(e.in.begin(), e.in.begin() + taken);
        got += taken;
        const int wait = timer.waitMs(got, taken > 0);
        if (wait == 0)
            break;
        if (wait < 0)
            m_pair->changed.wait(lock);
        else
            m_pair->changed.wait_for(lock, std::chrono::milliseconds(wait));
    }
    *done = got;
    return !m_pair->removed || fail(ERROR_GEN_FAILURE);
}

bool LoopbackDevice::write(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done)
{
    std::unique_lock lock(m_pair->mutex);
    End& e = self();
    const std::uint64_t totalMs = std::uint64_t(e.timeouts.WriteTotalTimeoutMultiplier) * count + e.timeouts.WriteTotalTimeoutConstant;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(totalMs);
    // While held, the bytes wait here (and show as the output queue).
    e.held = count;
    while (!m_pair->removed && holding(e)) {
        if (totalMs == 0)
            m_pair->changed.wait(lock);
        else if (m_pair->changed.wait_until(lock, end) == std::cv_status::timeout && holding(e))
            break;
    }
    e.held = 0;
    *done = 0;
    if (m_pair->removed)
        return fail(ERROR_GEN_FAILURE);
    if (holding(e))
        return true;  // timed out with nothing sent
    if (e.writeLimit)
        count = std::min(count, e.writeLimit);
    End& far = peer();
    if (far.open) {  // into a closed port the bytes are lost, as on a real line
        const std::size_t limit = far.inQueueSize ? far.inQueueSize : detail::kDefaultInQueue;
        const std::size_t room = limit > far.in.size() ? limit - far.in.size() : 0;
        far.in.insert(far.in.end(), buffer, buffer + std::min<std::size_t>(room, count));
        if (count > room)
            far.errors |= CE_RXOVER;
    }
    *done = count;
    m_pair->changed.notify_all();
    return true;
}

bool LoopbackDevice::escape(std::uint32_t function)
{
    return run([&](End& e) {
        switch (function) {
        case SETXOFF: e.xoffHeld = true; return true;
        case SETXON: e.xoffHeld = false; return true;
        case SETRTS: e.rts = true; return true;
        case CLRRTS: e.rts = false; return true;
        case SETDTR: e.dtr = true; return true;
        case CLRDTR: e.dtr = false; return true;
        case SETBREAK:
            if (!e.breakOn) {
                ++e.breakCount;
                peer().errors |= CE_BREAK;
            }
            e.breakOn = true;
            return true;
        case CLRBREAK: e.breakOn = false; return true;
        default: return fail(ERROR_INVALID_PARAMETER);
        }
    });
}

}  // namespace

void createPair(const std::string& nameA, const std::string& nameB)
{
    auto pair = std::make_shared<Pair>();
    pair->ends[0].name = nameA;
    pair->ends[1].name = nameB;
    std::lock_guard lock(g_mutex);
    g_ends[nameA] = {pair, 0};
    g_ends[nameB] = {pair, 1};
}

void removeAll()
{
    std::lock_guard lock(g_mutex);
    for (auto& [name, entry] : g_ends) {
        std::lock_guard pairLock(entry.first->mutex);
        entry.first->removed = true;
        entry.first->changed.notify_all();
    }
    g_ends.clear();
}

bool exists(const std::string& name)
{
    std::lock_guard lock(g_mutex);
    return g_ends.count(name) != 0;
}

void injectErrors(const std::string& name, std::uint32_t ceMask)
{
    withEnd(name, [&](End& e) { e.errors |= ceMask; });
}

void setRing(const std::string& name, bool on)
{
    withEnd(name, [&](End& e) { e.ring = on; });
}

void refuseConfiguration(const std::string& name, bool refuse)
{
    withEnd(name, [&](End& e) { e.refuse = refuse; });
}

void blockOutput(const std::string& name, bool blocked)
{
    withEnd(name, [&](End& e) { e.blocked = blocked; });
}

void limitWrites(const std::string& name, std::uint32_t bytes)
{
    withEnd(name, [&](End& e) { e.writeLimit = bytes; });
}

LineState state(const std::string& name)
{
    LineState s;
    withEnd(name, [&](End& e) {
        s.open = e.open;
        s.dtr = e.dtr;
        s.rts = e.rts;
        s.breakOn = e.breakOn;
        s.dcb = e.dcb;
        s.inQueueSize = e.inQueueSize;
        s.outQueueSize = e.outQueueSize;
        s.eventMask = e.eventMask;
        s.timeouts = e.timeouts;
        s.breakCount = e.breakCount;
    });
    return s;
}

}  // namespace serial::loopback

namespace serial::detail {

std::unique_ptr<Device> openLoopback(const std::string& name, bool* registered)
{
    std::shared_ptr<loopback::Pair> pair;
    int index = 0;
    {
        std::lock_guard lock(loopback::g_mutex);
        auto it = loopback::g_ends.find(name);
        *registered = it != loopback::g_ends.end();
        if (!*registered)
            return nullptr;
        pair = it->second.first;
        index = it->second.second;
    }
    std::lock_guard lock(pair->mutex);
    loopback::End& e = pair->ends[index];
    if (e.open) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    e.open = true;
    e.errors = 0;
    return std::make_unique<loopback::LoopbackDevice>(pair, index);
}

}  // namespace serial::detail
