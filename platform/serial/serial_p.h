// Internal device interface behind the serial handles: one implementation
// per back end (a termios tty, a loopback end), plus the read time-out
// arithmetic both share.
#pragma once

#include "serial.h"

#include <chrono>
#include <functional>
#include <memory>
#include <string>

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

// A tty device at that path; nullptr with SetLastError on failure.
std::shared_ptr<Device> openTty(const std::string& path);
// The loopback end registered under exactly that name. nullptr and
// *registered false when there is none; nullptr and *registered true (with
// SetLastError) when it is registered but cannot be opened.
std::unique_ptr<Device> openLoopback(const std::string& name, bool* registered);

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
