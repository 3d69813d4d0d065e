// Internal device interface behind the serial handles: one implementation
// per back end (a termios tty, a remote port over RFC 2217, a loopback
// end), plus the byte queue and the read time-out arithmetic they share.
#pragma once

#include "serial.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace serial::detail {

class Device {
public:
    virtual ~Device() = default;
    // Every call returns false with SetLastError already done on failure.
    virtual bool setup(std::uint32_t inQueue, std::uint32_t outQueue) = 0;
    virtual bool getState(DCB* dcb) = 0;
    virtual bool setState(const DCB& dcb) = 0;
    virtual bool getTimeouts(COMMTIMEOUTS* t) = 0;
    virtual bool setTimeouts(const COMMTIMEOUTS& t) = 0;
    virtual bool clearError(std::uint32_t* errors, COMSTAT* stat) = 0;
    virtual bool read(std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) = 0;
    virtual bool write(const std::uint8_t* buffer, std::uint32_t count, std::uint32_t* done) = 0;
    virtual bool purge(std::uint32_t flags) = 0;
    virtual bool escape(std::uint32_t function) = 0;
    virtual bool modemStatus(std::uint32_t* status) = 0;
    virtual bool setMask(std::uint32_t mask) = 0;
    virtual bool getMask(std::uint32_t* mask) = 0;
    virtual bool queueSizes(std::uint32_t* inQueue, std::uint32_t* outQueue) = 0;
    virtual bool setNotify(std::function<void(std::uint32_t)>) { return fail(ERROR_NOT_SUPPORTED); }

protected:
    static bool fail(std::uint32_t code)
    {
        SetLastError(code);
        return false;
    }
};

// A device whose line settings, time-outs, queue sizes and event mask are
// plain stored values; the back ends act on them where they read or write.
// m_mutex guards these and whatever state the back end keeps beside them.
class StoredSettingsDevice : public Device {
public:
    bool setup(std::uint32_t inQueue, std::uint32_t outQueue) override
    {
        std::lock_guard lock(m_mutex);
        m_inQueue = inQueue;
        m_outQueue = outQueue;
        return true;
    }
    bool queueSizes(std::uint32_t* inQueue, std::uint32_t* outQueue) override
    {
        std::lock_guard lock(m_mutex);
        *inQueue = m_inQueue;
        *outQueue = m_outQueue;
        return true;
    }
    bool getState(DCB* dcb) override
    {
        std::lock_guard lock(m_mutex);
        *dcb = m_dcb;
        return true;
    }
    bool getTimeouts(COMMTIMEOUTS* t) override
    {
        std::lock_guard lock(m_mutex);
        *t = m_timeouts;
        return true;
    }
    bool setTimeouts(const COMMTIMEOUTS& t) override
    {
        std::lock_guard lock(m_mutex);
        m_timeouts = t;
        return true;
    }
    bool setMask(std::uint32_t mask) override
    {
        std::lock_guard lock(m_mutex);
        m_mask = mask;
        return true;
    }
    bool getMask(std::uint32_t* mask) override
    {
        std::lock_guard lock(m_mutex);
        *mask = m_mask;
        return true;
    }

protected:
    std::mutex m_mutex;  // never held across a wait
    DCB m_dcb{};
    COMMTIMEOUTS m_timeouts{};
    std::uint32_t m_inQueue = 0, m_outQueue = 0, m_mask = 0;
};

// A tty device at that path; nullptr with SetLastError on failure.
std::shared_ptr<Device> openTty(const std::string& path);
// The loopback end registered under exactly that name. nullptr and
// *registered false when there is none; nullptr and *registered true (with
// SetLastError) when it is registered but cannot be opened.
std::unique_ptr<Device> openLoopback(const std::string& name, bool* registered);
// A remote port, "rfc2217://host:port", over a TCP connection; nullptr with
// SetLastError on failure.
std::shared_ptr<Device> openRemote(const std::string& url);

// Bytes in arrival order: appended at the back, taken from the front,
// stored contiguously so both are block copies.
class ByteQueue {
public:
    std::size_t size() const { return m_bytes.size() - m_head; }
    bool empty() const { return size() == 0; }
    void push_back(std::uint8_t c) { m_bytes.push_back(c); }
    void append(const std::uint8_t* p, std::size_t n) { m_bytes.insert(m_bytes.end(), p, p + n); }
    // Moves up to n bytes from the front into out; returns how many.
    std::size_t take(std::uint8_t* out, std::size_t n)
    {
        n = std::min(n, size());
        if (n == 0)
            return 0;
        std::memcpy(out, m_bytes.data() + m_head, n);
        m_head += n;
        if (m_head == m_bytes.size()) {
            m_bytes.clear();
            m_head = 0;
        } else if (m_head > m_bytes.size() / 2) {
            m_bytes.erase(m_bytes.begin(), m_bytes.begin() + std::ptrdiff_t(m_head));
            m_head = 0;
        }
        return n;
    }
    void clear()
    {
        m_bytes.clear();
        m_head = 0;
    }

private:
    std::vector<std::uint8_t> m_bytes;
    std::size_t m_head = 0;
};

// Queue bounds used before SetupComm (or when it was given 0).
constexpr std::uint32_t kDefaultInQueue = 4096;
constexpr std::uint32_t kDefaultOutQueue = 4096;

// How long a read may still wait under the Win32 time-out rules.
class ReadTimer {
public:
    ReadTimer(const COMMTIMEOUTS& t, std::uint32_t count);
    // Milliseconds to wait for more (-1 = no limit, 0 = return now), given
    // how many bytes the read holds and whether the last look brought some.
    int waitMs(std::uint32_t got, bool newBytes);

private:
    using Clock = std::chrono::steady_clock;
    std::uint32_t m_count;
    bool m_immediate = false;     // return at once with what is there
    bool m_firstByteOnly = false; // return as soon as anything came
    bool m_hasTotal = false;
    Clock::time_point m_totalEnd;
    std::uint32_t m_interval = 0;
    Clock::time_point m_lastByte;
};

}  // namespace serial::detail
