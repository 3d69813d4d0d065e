// Reading and writing through the driver's own queues, the queue counters,
// draining, and the wait pass every blocking operation is built from.
#include "comm_object.h"
#include "comm_spy.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace qelcomm {
namespace {

constexpr std::uint32_t kWaitPassSleepMs = 50;

bool queueStatus(CommObjectData* d, serial::COMSTAT* stat, std::uint32_t* errors = nullptr)
{
    std::uint32_t e = 0;
    bool ok = serial::ClearCommError(d->port, &e, stat);
    if (errors)
        *errors = e;
    return ok;
}

void clearErrorsSilently(CommObjectData* d)
{
    serial::COMSTAT stat;
    queueStatus(d, &stat);
}

// One trace entry for bytes read from or written to the port.
void traceData(CommObjectData* d, const char* verb, const std::uint8_t* bytes, std::uint32_t n)
{
    if (n == 0)
        return;
    const std::string text = d->name + " " + verb + " " + std::to_string(n) + " bytes: ";
    CommSpyMsg(d->window, CommSpy_Data, text.c_str(), bytes, n);
}

std::uint32_t deadlineAfter(std::uint32_t ms)
{
    return win::tickCount() + ms;
}

// Shows read bytes in the terminal and writes them back, as the echo
// switches ask. Returns false when the object went away.
bool echoInput(QcHandle object, const std::uint8_t* bytes, std::uint32_t n)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return false;
    if (d->inputEcho)
        TerminalWrite(d, bytes, n);
    if (d->commEcho)
        WriteBytes(object, bytes, n);
    return resolve(object) != nullptr;
}

enum class Queue { Input, Output };

std::int32_t drain(QcHandle object, std::uint32_t ms, Queue which)
{
    const std::uint32_t deadline = deadlineAfter(ms);
    for (;;) {
        CommObjectData* d = resolve(object);
        if (!d)
            return 0;
        serial::COMSTAT stat;
        std::uint32_t errors = 0;
        if (!d->portOpen || !queueStatus(d, &stat, &errors))
            return 1;
        DispatchLineErrors(object, errors);
        if (!(d = resolve(object)))
            return 0;
        if ((which == Queue::Input ? stat.cbInQue : stat.cbOutQue) == 0)
            return 1;
        if (d->shutDown || win::tickReached(win::tickCount(), deadline))
            return 0;
        if (!IdleWait(object))
            return 0;
    }
}

}  // namespace

bool IdleWait(QcHandle object)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return false;
    ++d->busyCount;
    if (d->idleCallback) {
        d->idleCallback();
    } else {
        int exitCode = 0;
        if (!win::pumpMessages(&exitCode))
            win::postQuitMessage(exitCode);  // hand the quit on to the outer loop
    }
    win::sleepMs(kWaitPassSleepMs);
    d = resolve(object);
    if (!d)
        return false;
    --d->busyCount;
    return true;
}

bool ReadOneByte(CommObjectData* d, std::uint8_t* byte)
{
    if (d->portKind != PortKind_Serial)
        return false;
    serial::COMSTAT stat;
    if (!queueStatus(d, &stat) || stat.cbInQue == 0)
        return false;
    std::uint32_t got = 0;
    serial::ReadFile(d->port, byte, 1, &got);
    if (d->spyInput)
        traceData(d, "reads", byte, got);
    if (got != 1) {
        clearErrorsSilently(d);
        return false;
    }
    return true;
}

std::uint32_t ReadAvailable(CommObjectData* d, std::uint8_t* buffer, std::uint32_t n)
{
    std::memset(buffer, 0, n);
    serial::COMSTAT stat;
    if (!queueStatus(d, &stat))
        return 0;
    const std::uint32_t want = std::min(stat.cbInQue, n);
    if (want == 0)
        return 0;
    std::uint32_t got = 0;
    serial::ReadFile(d->port, buffer, want, &got);
    if (d->spyInput)
        traceData(d, "reads", buffer, std::min(got, want));
    if (got < want)
        clearErrorsSilently(d);  // a short read still hands on what it delivered
    return std::min(got, want);
}

bool WriteBytes(QcHandle object, const std::uint8_t* bytes, std::uint32_t count)
{
    CommObjectData* d = resolve(object);
    if (!d || d->portKind != PortKind_Serial)
        return false;
    const std::uint32_t now = win::tickCount();
    // A time-out longer than the tick range would wrap; keep it at the far end.
    const std::uint32_t deadline = d->outTimeOut > std::uint32_t(std::numeric_limits<std::int32_t>::max())
                                       ? now + std::uint32_t(std::numeric_limits<std::int32_t>::max())
                                       : now + d->outTimeOut;
    std::uint32_t done = 0;
    while (done < count) {
        std::uint32_t accepted = 0;
        serial::WriteFile(d->port, bytes + done, count - done, &accepted);
        if (d->spyOutput)
            traceData(d, "writes", bytes + done, count - done);
        done += std::min(accepted, count - done);
        clearErrorsSilently(d);
        // Without a time-out there is one attempt; what it left is a failure.
        if (d->outTimeOut == 0 || win::tickReached(win::tickCount(), deadline))
            break;
    }
    return done >= count;
}

bool KeyboardSend(QcHandle object, const std::uint8_t* bytes, std::uint32_t count)
{
    const bool written = WriteBytes(object, bytes, count);
    CheckLineErrors(object);
    if (CommObjectData* d = resolve(object))
        if (d->echo)
            TerminalWrite(d, bytes, count);
    return written;
}

}  // namespace qelcomm

using namespace qelcomm;

QELCOMM_API std::int32_t GetInput(QcHandle object, void* buffer, std::int32_t count)
{
    CommObjectData* d = resolve(object);
    if (!d || count <= 0 || !buffer || d->busyCount != 0 || !d->portOpen)
        return 0;
    serial::COMSTAT stat;
    std::uint32_t errors = 0;
    if (queueStatus(d, &stat, &errors)) {
        DispatchLineErrors(object, errors);
        if (!(d = resolve(object)))
            return 0;
    }
    const std::uint32_t readable = std::min<std::uint32_t>(stat.cbInQue, std::uint32_t(std::max(d->inBufferSize, 0)));
    if (readable == 0)
        return 0;
    const std::uint32_t want = std::min<std::uint32_t>(std::uint32_t(count), readable);
    std::uint32_t got = 0;
    serial::ReadFile(d->port, buffer, want, &got);
    // A short read hands on the bytes it did deliver rather than dropping them.
    const std::int32_t result = std::int32_t(std::min(got, want));
    if (result > 0 && !echoInput(object, static_cast<const std::uint8_t*>(buffer), std::uint32_t(result)))
        return result;
    CheckLineErrors(object);
    if (resolve(object))
        CheckLineErrors(object);
    return result;
}

QELCOMM_API std::int32_t GetLineInput(QcHandle object, char* buffer, std::int32_t size)
{
    CommObjectData* d = resolve(object);
    if (!d || !buffer || size <= 0)
        return 0;
    std::memset(buffer, 0, std::size_t(size));
    const std::uint32_t deadline = deadlineAfter(d->inTimeOut);
    std::int32_t stored = 0;
    std::uint8_t last = 0;
    while ((d = resolve(object)) && !d->shutDown) {
        if (stored >= size - 1 || last == 13)
            break;
        std::uint8_t byte = 0;
        if (ReadOneByte(d, &byte)) {
            last = byte;
            if (!echoInput(object, &byte, 1))
                break;
            if (byte != 13 && byte != 10)
                buffer[stored++] = char(byte);
        } else {
            if (!IdleWait(object))
                break;
            if (win::tickReached(win::tickCount(), deadline))
                break;
        }
    }
    buffer[stored] = 0;
    return stored;
}

QELCOMM_API std::int32_t GetInBufferCount(QcHandle object)
{
    CommObjectData* d = resolve(object);
    serial::COMSTAT stat;
    if (!d || !d->portOpen || !queueStatus(d, &stat))
        return 0;
    return std::int32_t(stat.cbInQue);
}

QELCOMM_API std::int32_t GetOutBufferCount(QcHandle object)
{
    CommObjectData* d = resolve(object);
    serial::COMSTAT stat;
    if (!d || !d->portOpen || !queueStatus(d, &stat))
        return 0;
    return std::int32_t(stat.cbOutQue);
}

QELCOMM_API void ClearInputBuffer(QcHandle object)
{
    CommObjectData* d = resolve(object);
    if (!d || !d->portOpen)
        return;
    serial::PurgeComm(d->port, serial::PURGE_RXCLEAR | serial::PURGE_RXABORT);
    CheckLineErrors(object);
}

QELCOMM_API void ClearOutputBuffer(QcHandle object)
{
    CommObjectData* d = resolve(object);
    if (!d || !d->portOpen)
        return;
    serial::PurgeComm(d->port, serial::PURGE_TXCLEAR | serial::PURGE_TXABORT);
    CheckLineErrors(object);
}

QELCOMM_API std::int32_t FlushInputBuffer(QcHandle object, std::uint32_t ms)
{
    return isObject(object) ? drain(object, ms, Queue::Input) : 0;
}

QELCOMM_API std::int32_t FlushOutputBuffer(QcHandle object, std::uint32_t ms)
{
    return isObject(object) ? drain(object, ms, Queue::Output) : 0;
}

QELCOMM_API std::int32_t Output(QcHandle object, const void* bytes, std::int32_t count)
{
    CommObjectData* d = resolve(object);
    if (!d || count < 0 || (!bytes && count > 0))
        return 0;
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    if (d->echo)
        TerminalWrite(d, p, std::uint32_t(count));
    if (!d->portOpen)
        return 0;
    return WriteBytes(object, p, std::uint32_t(count)) ? 1 : 0;
}

QELCOMM_CPP_API std::int32_t ComOutput(QcHandle object, const void* bytes, std::int32_t count)
{
    CommObjectData* d = resolve(object);
    if (!d || count <= 0 || !bytes || !d->portOpen)
        return 0;
    std::uint32_t accepted = 0;
    serial::WriteFile(d->port, bytes, std::uint32_t(count), &accepted);
    CheckLineErrors(object);
    return std::int32_t(accepted);
}

QELCOMM_API std::int32_t OutputModem(QcHandle object, const char* text)
{
    if (!isObject(object) || !text)
        return 0;
    ComPause(object, 200);
    bool failed = false;
    for (const char* p = text; *p; ++p) {
        if (!isObject(object))
            return 0;
        if (*p == '~') {
            ComPause(object, 1000);
            continue;
        }
        std::uint8_t byte = std::uint8_t(*p);
        if (*p == '^') {
            if (!p[1])
                break;  // a trailing "^" is ignored
            byte = std::uint8_t(std::uint8_t(*++p) - 64);
        }
        if (!failed && !KeyboardSend(object, &byte, 1))
            failed = true;
    }
    return failed ? 0 : 1;
}

QELCOMM_API void SetOutputTimeOut(QcHandle object, std::uint32_t ms)
{
    if (CommObjectData* d = resolve(object))
        d->outTimeOut = ms;
}

QELCOMM_API std::uint32_t GetOutputTimeOut(QcHandle object)
{
    return fieldOf(object, &CommObjectData::outTimeOut);
}

QELCOMM_API void ComPause(QcHandle object, std::uint32_t ms)
{
    if (!isObject(object) || ms == 0)
        return;
    const std::uint32_t deadline = deadlineAfter(ms);
    for (;;) {
        CommObjectData* d = resolve(object);
        if (!d || d->shutDown || win::tickReached(win::tickCount(), deadline))
            return;
        if (!IdleWait(object))
            return;
    }
}

QELCOMM_API void SetIdleLoop(QcHandle object, QcIdleLoop callback)
{
    if (CommObjectData* d = resolve(object))
        d->idleCallback = callback;
}

QELCOMM_API void SetShutDown(QcHandle object, std::int32_t flag)
{
    if (CommObjectData* d = resolve(object))
        d->shutDown = flag;
}

QELCOMM_API std::int32_t GetShutDown(QcHandle object)
{
    return fieldOf(object, &CommObjectData::shutDown);
}

QELCOMM_API std::int32_t GetBusy(QcHandle object)
{
    CommObjectData* d = resolve(object);
    return d && d->busyCount != 0 ? -1 : 0;
}

QELCOMM_API void WaitUntilTransferIsFinished(QcHandle object)
{
    for (;;) {
        CommObjectData* d = resolve(object);
        if (!d || d->shutDown || d->transferState <= 0)
            return;
        if (!IdleWait(object))
            return;
    }
}

#define QELCOMM_FLAG_PAIR(Name, field)                                        \
    QELCOMM_API void Set##Name(QcHandle object, std::int32_t flag)            \
    {                                                                         \
        if (CommObjectData* d = resolve(object))                              \
            d->field = flag;                                                  \
    }                                                                         \
    QELCOMM_API std::int32_t Get##Name(QcHandle object)                       \
    {                                                                         \
        return fieldOf(object, &CommObjectData::field);                       \
    }

QELCOMM_FLAG_PAIR(Echo, echo)
QELCOMM_FLAG_PAIR(InputEcho, inputEcho)
QELCOMM_FLAG_PAIR(CommEcho, commEcho)
#undef QELCOMM_FLAG_PAIR

QELCOMM_CPP_API void qelbasSend(QcHandle object, const char* text)
{
    if (object)
        OutputModem(object, text);
}

QELCOMM_CPP_API void qelbasInput(QcHandle object, char* buffer, std::int32_t count)
{
    if (!object || !buffer)
        return;
    const std::int32_t got = GetInput(object, buffer, count);
    buffer[std::max(got, 0)] = 0;
}

QELCOMM_CPP_API void qelbasLineInput(QcHandle object, char* buffer)
{
    if (!object || !buffer)
        return;
    buffer[0] = 0;
    GetLineInput(object, buffer, kQelbasLineSize);
}
