// Event detection by polling, delivery of event codes to the owner, and the
// look-up wait that reads until one of several strings arrives.
#include "comm_object.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace qelcomm {
namespace {

constexpr std::uintptr_t kPollTimerId = 1;
constexpr std::uint32_t kAutoReceiveBlock = 200;
constexpr char kDownloadPattern[] = "rz\r**";
constexpr int kDownloadPatternLength = 5;
constexpr std::size_t kMaxLookUpStrings = 50;
constexpr std::size_t kMaxWaitForText = 1024;

// Delivers code and reports whether the record is still there afterwards.
bool deliver(QcHandle object, std::int32_t code)
{
    FireCommEvent(object, code);
    return resolve(object) != nullptr;
}

void detectDownload(QcHandle object, std::uint8_t byte)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return;
    if (byte == std::uint8_t(kDownloadPattern[d->downloadDetect])) {
        if (++d->downloadDetect == kDownloadPatternLength) {
            d->downloadDetect = 0;
            Download(object, "");
        }
    } else {
        d->downloadDetect = 0;
    }
}

// Moves everything queued into the terminal view, 200 bytes at a time.
// Returns false when the object went away.
bool autoReceive(QcHandle object)
{
    std::uint8_t buffer[kAutoReceiveBlock];
    std::uint32_t got = 0;
    do {
        CommObjectData* d = resolve(object);
        if (!d)
            return false;
        got = ReadAvailable(d, buffer, kAutoReceiveBlock);
        CheckLineErrors(object);
        if (!(d = resolve(object)))
            return false;
        if (got == 0)
            break;
        TerminalWrite(d, buffer, got);
        if (d->commEcho && !WriteBytes(object, buffer, got) && !resolve(object))
            return false;
        for (std::uint32_t i = 0; i < got; ++i)
            detectDownload(object, buffer[i]);
    } while (got == kAutoReceiveBlock);
    return resolve(object) != nullptr;
}

bool equalsIgnoringCase(const char* a, const char* b, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

void ArmPollTimer(CommObjectData* d)
{
    if (!d->portOpen)
        return;
    if (d->autoProcess & AutoProcess_Receive)
        d->rThreshold = 1;
    if (d->timer)
        win::killTimer(d->window, d->timer);
    const std::uint32_t interval =
        d->watching ? std::max(d->pollInterval, kWakeIdleInterval) : d->pollInterval;
    d->timer = win::setTimer(d->window, kPollTimerId, interval);
}

void PollTick(QcHandle object)
{
    CommObjectData* d = resolve(object);
    if (!d || d->transferState != 0 || !d->portOpen)
        return;
    serial::COMSTAT stat;
    std::uint32_t errors = 0;
    if (!serial::ClearCommError(d->port, &errors, &stat)) {
        if (serial::GetLastError() == serial::ERROR_DEVICE_REMOVED) {
            DeviceRemoved(object);
            return;
        }
        stat = serial::COMSTAT{};
    }

    if (d->autoProcess & AutoProcess_Receive) {
        if (!autoReceive(object))
            return;
    } else if (d->rThreshold != 0 && stat.cbInQue >= std::uint32_t(d->rThreshold)) {
        if (!deliver(object, Event_Receive))
            return;
        CheckLineErrors(object);
    }
    if (!(d = resolve(object)))
        return;
    if (d->sThreshold != 0 && stat.cbOutQue <= std::uint32_t(d->sThreshold)) {
        if (!deliver(object, Event_Send))
            return;
        CheckLineErrors(object);
        if (!resolve(object))
            return;
    }
    CheckModemLines(object);
}

void CheckModemLines(QcHandle object)
{
    CommObjectData* d = resolve(object);
    if (!d || !d->portOpen)
        return;
    std::uint32_t status = 0;
    if (!serial::GetCommModemStatus(d->port, &status))
        return;
    const std::uint32_t changed = status ^ d->modemStatus;
    d->modemStatus = status;
    if ((changed & serial::MS_CTS_ON) && !deliver(object, Event_Cts))
        return;
    if ((changed & serial::MS_DSR_ON) && !deliver(object, Event_Dsr))
        return;
    if ((changed & serial::MS_RING_ON) && (status & serial::MS_RING_ON) && !deliver(object, Event_Ring))
        return;
    if (changed & serial::MS_RLSD_ON)
        deliver(object, Event_Carrier);
}

void CheckLineErrors(QcHandle object)
{
    CommObjectData* d = resolve(object);
    if (!d || !d->portOpen)
        return;
    serial::COMSTAT stat;
    std::uint32_t errors = 0;
    if (serial::ClearCommError(d->port, &errors, &stat))
        DispatchLineErrors(object, errors);
}

void DispatchLineErrors(QcHandle object, std::uint32_t mask)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return;
    d->lastError = mask;
    static constexpr struct {
        std::uint32_t bit;
        std::int32_t code;
    } kErrors[] = {
        {serial::CE_BREAK, Error_Break},      {serial::CE_FRAME, Error_FrameError},
        {serial::CE_OVERRUN, Error_DataOverrun}, {serial::CE_RXOVER, Error_ReceiveBufferOverflow},
        {serial::CE_RXPARITY, Error_Parity},  {serial::CE_TXFULL, Error_SendBufferOverflow},
    };
    for (const auto& e : kErrors)
        if ((mask & e.bit) && !deliver(object, e.code))
            return;
}

void FireCommEvent(QcHandle object, std::int32_t code)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return;
    d->lastEvent = code;
    const int id = win::getDlgCtrlId(object);
    if (d->eventCallback) {
        d->eventCallback(object, id, code);
        return;
    }
    const win::Hwnd target = d->eventWindow ? d->eventWindow : win::getParent(object);
    if (!target)
        return;
    const win::LParam lParam =
        win::LParam((std::uint32_t(code) << 16) | (std::uint32_t(object) & 0xFFFFu));
    win::sendMessage(target, win::WM_COMMAND, win::WParam(id), lParam);
}

}  // namespace qelcomm

using namespace qelcomm;

QELCOMM_API void SetInterval(QcHandle object, std::uint32_t ms)
{
    if (CommObjectData* d = resolve(object)) {
        d->pollInterval = ms;
        ArmPollTimer(d);
    }
}

QELCOMM_API std::uint32_t GetInterval(QcHandle object)
{
    return fieldOf(object, &CommObjectData::pollInterval);
}

QELCOMM_API void SetRThreshold(QcHandle object, std::int32_t count)
{
    CommObjectData* d = resolve(object);
    if (d && count >= 0) {
        d->rThreshold = count;
        ArmPollTimer(d);
    }
}

QELCOMM_API std::int32_t GetRThreshold(QcHandle object)
{
    return fieldOf(object, &CommObjectData::rThreshold);
}

QELCOMM_API void SetSThreshold(QcHandle object, std::int32_t count)
{
    CommObjectData* d = resolve(object);
    if (d && count >= 0) {
        d->sThreshold = count;
        ArmPollTimer(d);
    }
}

QELCOMM_API std::int32_t GetSThreshold(QcHandle object)
{
    return fieldOf(object, &CommObjectData::sThreshold);
}

QELCOMM_API void SetAutoProcess(QcHandle object, std::int32_t bits)
{
    if (CommObjectData* d = resolve(object)) {
        d->autoProcess = bits;
        ArmPollTimer(d);
    }
}

QELCOMM_API std::int32_t GetAutoProcess(QcHandle object)
{
    return fieldOf(object, &CommObjectData::autoProcess);
}

QELCOMM_API void SetEventHandler(QcHandle object, QcEventHandler callback)
{
    if (CommObjectData* d = resolve(object))
        d->eventCallback = callback;
}

QELCOMM_CPP_API void SetEventWindow(QcHandle object, QcHandle window)
{
    if (CommObjectData* d = resolve(object))
        d->eventWindow = window;
}

QELCOMM_API std::int32_t GetLastCommEvent(QcHandle object)
{
    return fieldOf(object, &CommObjectData::lastEvent);
}

QELCOMM_API std::uint32_t GetLastCommError(QcHandle object)
{
    return fieldOf(object, &CommObjectData::lastError);
}

QELCOMM_API void SetLookUpTimeOut(QcHandle object, std::uint32_t ms)
{
    if (CommObjectData* d = resolve(object))
        d->lookUpTimeOut = ms;
}

QELCOMM_API std::uint32_t GetLookUpTimeOut(QcHandle object)
{
    return fieldOf(object, &CommObjectData::lookUpTimeOut);
}

QELCOMM_CPP_API void SetLookUpSeparator(QcHandle object, char separator)
{
    if (CommObjectData* d = resolve(object))
        d->lookUpSeparator = separator;
}

QELCOMM_CPP_API char GetLookUpSeparator(QcHandle object)
{
    return fieldOf(object, &CommObjectData::lookUpSeparator);
}

QELCOMM_API std::int32_t InputUntilLookUp(QcHandle object, const char* list, char* out, std::int32_t outSize)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return 0;
    if (outSize == 0)
        outSize = 1;

    std::vector<const char*> strings;
    std::size_t windowLength = 0;
    for (const char* s = list; s && *s && strings.size() < kMaxLookUpStrings; s += std::strlen(s) + 1) {
        strings.push_back(s);
        windowLength = std::max(windowLength, std::strlen(s));
    }
    if (windowLength == 0)
        return -1;

    std::vector<char> window(windowLength + 1, 0);
    std::size_t outLength = 0;
    const std::uint32_t deadline = win::tickCount() + d->lookUpTimeOut;
    std::int32_t found = -1;
    for (;;) {
        if (outSize <= 0 || !(d = resolve(object)) || d->shutDown || d->dialCancel)
            break;
        std::uint8_t byte = 0;
        if (ReadOneByte(d, &byte)) {
            window[windowLength - 1] = char(byte);
            if (d->inputEcho)
                TerminalWrite(d, &byte, 1);
            if (d->commEcho && !WriteBytes(object, &byte, 1) && !resolve(object))
                break;
            if (out) {
                out[outLength++] = char(byte);
                --outSize;
            }
            // The window's tail is compared as text: a zero byte in it ends
            // the text, so no string matches across a received zero.
            for (std::size_t i = 0; i < strings.size() && found < 0; ++i) {
                const std::size_t n = std::strlen(strings[i]);
                const char* tail = window.data() + windowLength - n;
                if (std::strlen(tail) == n && equalsIgnoringCase(tail, strings[i], n))
                    found = std::int32_t(i);
            }
            if (found >= 0)
                break;
            std::memmove(window.data(), window.data() + 1, windowLength - 1);
        } else if (!IdleWait(object)) {
            break;
        }
        if (win::tickReached(win::tickCount(), deadline))
            break;
    }
    if (out)
        out[outLength] = 0;
    return found;
}

QELCOMM_API std::int32_t DiscardUntilLookUp(QcHandle object, const char* list)
{
    return InputUntilLookUp(object, list, nullptr, 0);
}

QELCOMM_CPP_API std::int32_t qelbasWaitFor(QcHandle object, const char* text, const char* separator, std::uint32_t ms)
{
    if (!object || !text || std::strlen(text) > kMaxWaitForText)
        return -1;
    SetLookUpTimeOut(object, ms);
    std::string list(text);
    if (separator && *separator)
        std::replace(list.begin(), list.end(), *separator, '\0');
    list.append(2, '\0');
    return DiscardUntilLookUp(object, list.data());
}
