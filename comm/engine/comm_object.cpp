// Comm object life and port life: the window class, the record, opening and
// closing the port, attaching a foreign device handle.
#include "comm_object.h"
#include "host_loop.h"

#include <cstring>
#include <new>

namespace qelcomm {
namespace {

int g_objectCounter = 0;  // never decremented: names are not reused

void initialiseRecord(CommObjectData* d, win::Hwnd hwnd)
{
    d->window = hwnd;
    for (int i = 0; i < 256; ++i)
        d->translation[std::size_t(i)] = std::uint8_t(i);
    d->modemOptions = DefaultModemOptions();
    ++g_objectCounter;
    d->name = "QelComm" + std::to_string(g_objectCounter);
}

void destroyRecord(CommObjectData* d)
{
    if (d->timer) {
        win::killTimer(d->window, d->timer);
        d->timer = 0;
    }
    if (d->portOpen && d->port != serial::INVALID_HANDLE_VALUE) {
        serial::SetCommNotify(d->port, {});
        serial::PurgeComm(d->port, serial::PURGE_RXCLEAR | serial::PURGE_RXABORT);
        serial::PurgeComm(d->port, serial::PURGE_TXCLEAR | serial::PURGE_TXABORT);
        serial::EscapeCommFunction(d->port, serial::CLRDTR);
        serial::CloseHandle(d->port);
        d->port = serial::INVALID_HANDLE_VALUE;
        d->portOpen = 0;
    }
    delete d;
}

win::LResult objectProc(win::Hwnd hwnd, std::uint32_t msg, win::WParam wParam, win::LParam lParam)
{
    auto* d = reinterpret_cast<CommObjectData*>(win::getWindowLongPtr(hwnd, 0));
    switch (msg) {
    case win::WM_CREATE: {
        auto* rec = new (std::nothrow) CommObjectData();
        if (!rec)
            return -1;
        win::setWindowLongPtr(hwnd, 0, reinterpret_cast<std::intptr_t>(rec));
        initialiseRecord(rec, hwnd);
        return 0;
    }
    case win::WM_DESTROY:
        if (d) {
            win::setWindowLongPtr(hwnd, 0, 0);
            destroyRecord(d);
        }
        return 0;
    case win::WM_TIMER:
        PollTick(hwnd);
        return 0;
    case WM_QC_WAKE:
        if (d) {
            d->wakePending = false;
            PollTick(hwnd);
        }
        return 0;
    case win::WM_SETTEXT: {
        const char* text = reinterpret_cast<const char*>(lParam);
        if (d && text && std::strlen(text) < 255)
            d->name = text;
        return 1;
    }
    case win::WM_GETTEXT:
        if (lParam && wParam > 0)
            reinterpret_cast<char*>(lParam)[0] = 0;
        return 0;
    case win::WM_GETTEXTLENGTH:
        return 0;
    case win::WM_ERASEBKGND:
        return 1;
    default:
        return win::defWindowProc(hwnd, msg, wParam, lParam);
    }
}

QcHandle createObject(QcHandle parent, std::uint32_t style, const char* caption)
{
    if (!InitQelCommObjects())
        return 0;
    return win::createWindow(kObjectClassName, caption ? caption : "", style, parent);
}

}  // namespace

CommObjectData* resolve(QcHandle object)
{
    if (!object || !win::isWindow(object) || win::getClassName(object) != kObjectClassName)
        return nullptr;
    return reinterpret_cast<CommObjectData*>(win::getWindowLongPtr(object, 0));
}

std::uint32_t WriteAllowancePerByte(std::uint32_t baud, std::uint32_t outTimeOut)
{
    if (outTimeOut != 0)
        return 4;
    if (baud > 10000)
        return 1;
    if (baud == 0)
        return 10000 + 4;
    return 10000 / baud + 4;
}

bool OpenPort(CommObjectData* d)
{
    if (d->portKind != PortKind_Serial)
        return false;
    const std::string shortName = "COM" + std::to_string(d->portNumber);
    serial::Handle h = serial::CreateFile(shortName);
    if (h == serial::INVALID_HANDLE_VALUE)
        h = serial::CreateFile("\\\\.\\" + shortName);
    if (h == serial::INVALID_HANDLE_VALUE) {
        d->port = serial::INVALID_HANDLE_VALUE;
        return false;
    }
    d->port = h;
    serial::SetupComm(h, std::uint32_t(d->inBufferSize), std::uint32_t(d->outBufferSize));

    serial::COMMTIMEOUTS t;
    t.ReadIntervalTimeout = 10;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = 0;
    t.WriteTotalTimeoutConstant = 1000;
    t.WriteTotalTimeoutMultiplier = WriteAllowancePerByte(d->baud, d->outTimeOut);
    serial::SetCommTimeouts(h, &t);

    std::uint32_t status = 0;
    if (serial::GetCommModemStatus(h, &status))
        d->modemStatus = status;
    d->portOpen = -1;
    if (!ApplyLineSettings(d)) {
        ArmPollTimer(d);
        serial::SetCommMask(h, kOpenEventMask);
    }
    return true;
}

void ClosePort(CommObjectData* d)
{
    const QcHandle object = d->window;
    serial::PurgeComm(d->port, serial::PURGE_RXCLEAR | serial::PURGE_RXABORT);
    CheckLineErrors(object);
    if (!(d = resolve(object)))
        return;
    serial::PurgeComm(d->port, serial::PURGE_TXCLEAR | serial::PURGE_TXABORT);
    CheckLineErrors(object);
    if (!(d = resolve(object)))
        return;
    serial::EscapeCommFunction(d->port, serial::CLRDTR);
    serial::SetCommNotify(d->port, {});
    d->watching = false;
    serial::CloseHandle(d->port);
    d->port = serial::INVALID_HANDLE_VALUE;
    d->portOpen = 0;
}

void WatchPort(CommObjectData* d)
{
    const bool want = d->wakeOnData && d->portOpen && d->port != serial::INVALID_HANDLE_VALUE;
    if (!want) {
        if (d->watching && d->port != serial::INVALID_HANDLE_VALUE)
            serial::SetCommNotify(d->port, {});
        d->watching = false;
        return;
    }
    if (d->watching)
        return;
    const QcHandle object = d->window;
    // The news only asks for a tick; the tick reads the port as always.
    d->watching = serial::SetCommNotify(d->port, [object](std::uint32_t) {
        CommObjectData* rec = resolve(object);
        if (!rec || rec->wakePending)
            return;
        rec->wakePending = true;
        win::postMessage(object, WM_QC_WAKE, 0, 0);
    });
}

void DeviceRemoved(QcHandle object)
{
    CommObjectData* d = resolve(object);
    if (!d || !d->portOpen)
        return;
    // Nothing can be purged or lowered on a device that is gone; the handle
    // is let go so that the same name can be opened again when it returns.
    serial::SetCommNotify(d->port, {});
    d->watching = false;
    serial::CloseHandle(d->port);
    d->port = serial::INVALID_HANDLE_VALUE;
    d->portOpen = 0;
    FireCommEvent(object, Error_DeviceRemoved);
}

}  // namespace qelcomm

using namespace qelcomm;

QELCOMM_API std::int32_t InitQelCommObjects()
{
    ensureHostLoop();
    if (win::isClassRegistered(kObjectClassName))
        return 1;
    win::WndClass cls;
    cls.name = kObjectClassName;
    cls.style = win::CS_DBLCLKS;
    cls.extraWords = 1;
    cls.proc = objectProc;
    if (win::registerClass(cls))
        return 1;
    return win::getLastError() == win::ERROR_CLASS_ALREADY_EXISTS ? 1 : 0;
}

QELCOMM_API QcHandle CreateCommObject(QcHandle parent)
{
    const std::uint32_t style = parent ? (win::WS_CHILD | win::WS_HSCROLL | win::WS_VSCROLL) : win::WS_POPUP;
    return createObject(parent, style, "");
}

QELCOMM_CPP_API QcHandle CreateCommObjectName(QcHandle parent, const char* name)
{
    return createObject(parent, win::WS_CHILD | win::WS_HSCROLL | win::WS_VSCROLL, name);
}

QELCOMM_API std::int32_t DestroyCommObject(QcHandle object)
{
    CommObjectData* d = resolve(object);
    if (!d || d->busyCount != 0)
        return 0;
    return win::destroyWindow(object) ? 1 : 0;
}

QELCOMM_API void SetCommPort(QcHandle object, std::int32_t number)
{
    if (CommObjectData* d = resolve(object)) {
        d->portKind = PortKind_Serial;
        if (!d->portOpen)
            d->portNumber = number;
    }
}

QELCOMM_API std::int32_t GetCommPort(QcHandle object)
{
    return fieldOf(object, &CommObjectData::portNumber);
}

QELCOMM_CPP_API void SetPort(QcHandle object, std::int32_t number) { SetCommPort(object, number); }

QELCOMM_CPP_API std::int32_t GetPort(QcHandle object) { return GetCommPort(object); }

QELCOMM_API std::int32_t SetPortOpen(QcHandle object, std::int32_t open)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return 0;
    if (!d->portOpen && open) {
        OpenPort(d);
        if (!d->portOpen)
            return 0;
        WatchPort(d);
        ArmPollTimer(d);
        return 1;
    }
    if (d->portOpen && !open)
        ClosePort(d);
    return 1;
}

QELCOMM_API void SetWakeOnData(QcHandle object, std::int32_t flag)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return;
    d->wakeOnData = flag ? -1 : 0;
    WatchPort(d);
    ArmPollTimer(d);
}

QELCOMM_API std::int32_t GetWakeOnData(QcHandle object)
{
    return fieldOf(object, &CommObjectData::wakeOnData);
}

QELCOMM_API std::int32_t GetPortOpen(QcHandle object)
{
    CommObjectData* d = resolve(object);
    return d && d->portOpen ? -1 : 0;
}

QELCOMM_API void SetInBufferSize(QcHandle object, std::int32_t bytes)
{
    CommObjectData* d = resolve(object);
    if (d && !d->portOpen)
        d->inBufferSize = bytes;
}

QELCOMM_API std::int32_t GetInBufferSize(QcHandle object)
{
    return fieldOf(object, &CommObjectData::inBufferSize);
}

QELCOMM_API void SetOutBufferSize(QcHandle object, std::int32_t bytes)
{
    CommObjectData* d = resolve(object);
    if (d && !d->portOpen)
        d->outBufferSize = bytes;
}

QELCOMM_API std::int32_t GetOutBufferSize(QcHandle object)
{
    return fieldOf(object, &CommObjectData::outBufferSize);
}

QELCOMM_API std::int32_t SetCommID(QcHandle object, QcDevice handle)
{
    CommObjectData* d = resolve(object);
    if (!d)
        return 0;
    if (handle == serial::INVALID_HANDLE_VALUE) {
        if (d->port != serial::INVALID_HANDLE_VALUE)
            serial::CloseHandle(d->port);
        d->port = serial::INVALID_HANDLE_VALUE;
        d->portOpen = 0;
        return 0;
    }
    d->port = handle;
    d->portOpen = -1;
    return 1;
}

QELCOMM_API QcDevice GetCommID(QcHandle object)
{
    return fieldOf(object, &CommObjectData::port);
}

QELCOMM_API void SetCommLong(QcHandle object, std::uint32_t value)
{
    if (CommObjectData* d = resolve(object))
        d->userValue = value;
}

QELCOMM_API std::uint32_t GetCommLong(QcHandle object)
{
    return fieldOf(object, &CommObjectData::userValue);
}

QELCOMM_API void SetNotification(QcHandle object, std::int32_t value)
{
    if (CommObjectData* d = resolve(object))
        d->notification = value;
}

QELCOMM_API std::int32_t GetNotification(QcHandle object)
{
    return fieldOf(object, &CommObjectData::notification);
}
