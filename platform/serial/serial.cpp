// The process-wide serial handle table and the Win32-shaped calls, which
// look a handle up and hand the call to its device (a tty, a remote port or
// a loopback end).
// Handles are never reused, so a stale one fails instead of reaching
// another port.
#include "serial.h"

#include "namespace.h"
#include "serial_p.h"

#include <limits>
#include <map>
#include <mutex>

namespace serial {

namespace {

thread_local std::uint32_t t_lastError = ERROR_SUCCESS;

std::mutex g_mutex;
std::map<Handle, std::shared_ptr<detail::Device>> g_handles;
Handle g_nextHandle = 1;

std::shared_ptr<detail::Device> lookUp(Handle h)
{
    std::lock_guard lock(g_mutex);
    auto it = g_handles.find(h);
    if (it == g_handles.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return it->second;
}

// Runs fn on the handle's device, failing with ERROR_INVALID_HANDLE if none.
template <typename Fn>
bool call(Handle h, Fn fn)
{
    auto device = lookUp(h);
    return device && fn(*device);
}

bool nonNull(const void* p)
{
    if (!p)
        SetLastError(ERROR_INVALID_PARAMETER);
    return p != nullptr;
}

}  // namespace

std::uint32_t GetLastError() { return t_lastError; }
void SetLastError(std::uint32_t code) { t_lastError = code; }

Handle CreateFile(const std::string& name)
{
    bool registered = false;
    std::shared_ptr<detail::Device> device = detail::openLoopback(name, &registered);
    if (!device && !registered) {
        const std::string path = resolvePortName(name);
        device = isRemotePortName(path) ? detail::openRemote(path) : detail::openTty(path);
    }
    if (!device)
        return INVALID_HANDLE_VALUE;
    std::lock_guard lock(g_mutex);
    const Handle h = g_nextHandle++;
    g_handles.emplace(h, std::move(device));
    return h;
}

bool CloseHandle(Handle h)
{
    std::shared_ptr<detail::Device> device;
    {
        std::lock_guard lock(g_mutex);
        auto it = g_handles.find(h);
        if (it == g_handles.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        device = std::move(it->second);
        g_handles.erase(it);
    }
    return true;  // the device closes when the last user lets go of it
}

bool SetupComm(Handle h, std::uint32_t inQueue, std::uint32_t outQueue)
{
    return call(h, [&](detail::Device& d) { return d.setup(inQueue, outQueue); });
}

bool GetCommState(Handle h, DCB* dcb)
{
    return nonNull(dcb) && call(h, [&](detail::Device& d) { return d.getState(dcb); });
}

bool SetCommState(Handle h, const DCB* dcb)
{
    return nonNull(dcb) && call(h, [&](detail::Device& d) { return d.setState(*dcb); });
}

bool GetCommTimeouts(Handle h, COMMTIMEOUTS* t)
{
    return nonNull(t) && call(h, [&](detail::Device& d) { return d.getTimeouts(t); });
}

bool SetCommTimeouts(Handle h, const COMMTIMEOUTS* t)
{
    return nonNull(t) && call(h, [&](detail::Device& d) { return d.setTimeouts(*t); });
}

bool ClearCommError(Handle h, std::uint32_t* errors, COMSTAT* stat)
{
    std::uint32_t e = 0;
    COMSTAT s;
    if (!call(h, [&](detail::Device& d) { return d.clearError(&e, &s); }))
        return false;
    if (errors)
        *errors = e;
    if (stat)
        *stat = s;
    return true;
}

bool ReadFile(Handle h, void* buffer, std::uint32_t count, std::uint32_t* done)
{
    std::uint32_t n = 0;
    const bool ok = (count == 0 || nonNull(buffer))
        && call(h, [&](detail::Device& d) { return d.read(static_cast<std::uint8_t*>(buffer), count, &n); });
    if (done)
        *done = n;
    return ok;
}

bool WriteFile(Handle h, const void* buffer, std::uint32_t count, std::uint32_t* done)
{
    std::uint32_t n = 0;
    const bool ok = (count == 0 || nonNull(buffer))
        && call(h, [&](detail::Device& d) { return d.write(static_cast<const std::uint8_t*>(buffer), count, &n); });
    if (done)
        *done = n;
    return ok;
}

bool PurgeComm(Handle h, std::uint32_t flags)
{
    return call(h, [&](detail::Device& d) { return d.purge(flags); });
}

bool EscapeCommFunction(Handle h, std::uint32_t function)
{
    return call(h, [&](detail::Device& d) { return d.escape(function); });
}

bool SetCommBreak(Handle h) { return EscapeCommFunction(h, SETBREAK); }
bool ClearCommBreak(Handle h) { return EscapeCommFunction(h, CLRBREAK); }

bool GetCommModemStatus(Handle h, std::uint32_t* status)
{
    return nonNull(status) && call(h, [&](detail::Device& d) { return d.modemStatus(status); });
}

bool SetCommMask(Handle h, std::uint32_t mask)
{
    return call(h, [&](detail::Device& d) { return d.setMask(mask); });
}

bool GetCommMask(Handle h, std::uint32_t* mask)
{
    return nonNull(mask) && call(h, [&](detail::Device& d) { return d.getMask(mask); });
}

bool GetQueueSizes(Handle h, std::uint32_t* inQueue, std::uint32_t* outQueue)
{
    return nonNull(inQueue) && nonNull(outQueue)
        && call(h, [&](detail::Device& d) { return d.queueSizes(inQueue, outQueue); });
}

bool SetCommNotify(Handle h, std::function<void(std::uint32_t what)> fn)
{
    return call(h, [&](detail::Device& d) { return d.setNotify(std::move(fn)); });
}

namespace detail {

constexpr std::uint32_t kMax = std::numeric_limits<std::uint32_t>::max();

ReadTimer::ReadTimer(const COMMTIMEOUTS& t, std::uint32_t count)
    : m_count(count)
{
    const auto now = Clock::now();
    if (t.ReadIntervalTimeout == kMax && t.ReadTotalTimeoutMultiplier == 0 && t.ReadTotalTimeoutConstant == 0) {
        m_immediate = true;
        return;
    }
    if (t.ReadIntervalTimeout == kMax && t.ReadTotalTimeoutMultiplier == kMax
        && t.ReadTotalTimeoutConstant != 0 && t.ReadTotalTimeoutConstant != kMax) {
        m_firstByteOnly = true;
        m_hasTotal = true;
        m_totalEnd = now + std::chrono::milliseconds(t.ReadTotalTimeoutConstant);
        return;
    }
    if (t.ReadTotalTimeoutMultiplier != 0 || t.ReadTotalTimeoutConstant != 0) {
        m_hasTotal = true;
        const auto ms = std::uint64_t(t.ReadTotalTimeoutConstant) + std::uint64_t(t.ReadTotalTimeoutMultiplier) * count;
        m_totalEnd = now + std::chrono::milliseconds(ms);
    }
    if (t.ReadIntervalTimeout != kMax)
        m_interval = t.ReadIntervalTimeout;
}

int ReadTimer::waitMs(std::uint32_t got, bool newBytes)
{
    if (got >= m_count || m_immediate || (m_firstByteOnly && got > 0))
        return 0;
    const auto now = Clock::now();
    if (newBytes)
        m_lastByte = now;
    bool limited = false;
    auto end = now;
    if (m_hasTotal) {
        end = m_totalEnd;
        limited = true;
    }
    if (m_interval != 0 && got > 0) {
        const auto gapEnd = m_lastByte + std::chrono::milliseconds(m_interval);
        end = limited ? std::min(end, gapEnd) : gapEnd;
        limited = true;
    }
    if (!limited)
        return -1;
    if (end <= now)
        return 0;
    // Round up so the wait ends just after the deadline, not before it.
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(end - now).count();
    const auto ms = (us + 999) / 1000;
    return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : int(ms);
}

}  // namespace detail

}  // namespace serial
