// The driver protocol: the control device under the cross-process lock,
// attaching to a port's far end, and the port event thread.

#include "driver_protocol.h"
#include "event_window.h"
#include "kelvad_ctrl.h"

#include <cstring>

using namespace kelvad;

namespace kelvad {

bool portRequest(kvd::Handle port, std::uint32_t code, const void* in, std::uint32_t inSize, void* out,
                 std::uint32_t outSize, int waitMs)
{
    // The completion record lives on the heap: a request that outlives a
    // bounded wait may still be completed by the driver later, so it is then
    // left to the driver rather than freed under it.
    struct Pending {
        kvd::Event event;
        kvd::Overlapped ov;
    };
    auto* p = new Pending;
    p->ov.hEvent = &p->event;
    std::uint32_t returned = 0;
    bool ok = kvd::DeviceIoControl(port, code, in, inSize, out, outSize, &returned, &p->ov);
    if (!ok && kvd::GetLastError() == kvd::kErrorIoPending) {
        if (!p->event.wait(waitMs))
            return false;  // p intentionally kept: see above
        std::uint32_t bytes = 0;
        ok = kvd::GetOverlappedResult(port, &p->ov, &bytes, false);
    }
    delete p;
    return ok;
}

}  // namespace kelvad

kvd::Handle CKelvadCtrl::AcquireControlDevice()
{
    if (!m_hControlLock || !m_hControlLock->valid())
        return kvd::kInvalidHandle;
    if (!m_hControlLock->wait(kLockWaitMs))
        return kvd::kInvalidHandle;
    const kvd::Handle device = kvd::CreateFile(u"\\\\.\\KVDControl", false);
    if (device == kvd::kInvalidHandle)
        m_hControlLock->signal();
    return device;
}

void CKelvadCtrl::ReleaseControlDevice(kvd::Handle device)
{
    if (device != kvd::kInvalidHandle)
        kvd::CloseHandle(device);
    if (m_hControlLock)
        m_hControlLock->signal();
}

bool CKelvadCtrl::sendControlRequest(kvd::Handle device, std::uint32_t code, const void* in, std::uint32_t size)
{
    std::uint32_t returned = 0;
    return kvd::DeviceIoControl(device, code, in, size, nullptr, 0, &returned, nullptr);
}

CKelvadCtrl::AttachResult CKelvadCtrl::AttachPort()
{
    const std::u16string path = u"\\\\.\\" + m_deviceName;
    kvd::Handle port = kvd::kInvalidHandle;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        port = kvd::CreateFile(path, true);
        if (port != kvd::kInvalidHandle)
            break;
        win::sleepMs(kAttemptPauseMs);
    }
    // Nothing to serve without the far end: report it, so callers fail
    // instead of claiming a port whose every member would then fail.
    if (port == kvd::kInvalidHandle)
        return AttachResult::NoPortEnd;
    m_hPort = port;

    kvd::Dcb dcb{};
    kvd::GetCommState(port, &dcb);
    dcb.BaudRate = 38400;
    dcb.Parity = 0;
    dcb.ByteSize = 8;
    kvd::SetCommState(port, &dcb);
    kvd::SetupComm(port, kQueueSize, kQueueSize);

    // On failure the end stays open; the caller's Delete closes it.
    const std::uint32_t mask = kPortEventMask;
    if (!portRequest(port, kvd::IOCTL_SERIAL_SET_WAIT_MASK, &mask, sizeof mask, nullptr, 0,
                     kAttachRequestWaitMs))
        return AttachResult::DriverSilent;
    std::uint32_t state = 0;
    if (!portRequest(port, kvd::IOCTL_KVD_GET_STATE, nullptr, 0, &state, sizeof state, kAttachRequestWaitMs))
        return AttachResult::DriverSilent;
    m_opened = (state & 1) != 0;

    auto window = std::make_unique<CEventWindow>(this);
    if (!window->hwnd())
        return AttachResult::DriverSilent;
    {
        std::lock_guard<std::mutex> lock(m_eventWndMutex);
        m_pEventWnd = std::move(window);
    }
    m_hThread = std::thread(PortEventThread, this, port);
    return AttachResult::Ok;
}

void CKelvadCtrl::notify(std::uint32_t code, std::intptr_t value, const void* record, std::size_t recordSize)
{
    // Posted only while the window exists; it is detached under this lock
    // before it is destroyed.
    std::lock_guard<std::mutex> lock(m_eventWndMutex);
    if (!m_pEventWnd)
        return;
    if (record)
        value = m_pEventWnd->storeRecord(record, recordSize);
    win::postMessage(m_pEventWnd->hwnd(), WM_PORT_NOTIFY, code, value);
}

void CKelvadCtrl::destroyEventWindow()
{
    std::unique_ptr<CEventWindow> window;
    {
        std::lock_guard<std::mutex> lock(m_eventWndMutex);
        window = std::move(m_pEventWnd);
    }
    window.reset();
}

void CKelvadCtrl::stopThread()
{
    // The thread ends once the port end is closed (its wait fails); waiting
    // for it keeps it from touching the control after the control is gone.
    if (m_hThread.joinable())
        m_hThread.join();
}

namespace {

template <typename T>
bool query(kvd::Handle port, std::uint32_t code, T& out)
{
    return portRequest(port, code, nullptr, 0, &out, sizeof out, -1);
}

}  // namespace

void PortEventThread(CKelvadCtrl* ctrl, kvd::Handle port)
{
    kvd::Event waitEvent;
    for (;;) {
        std::uint32_t events = 0;
        kvd::Overlapped ov;
        ov.hEvent = &waitEvent;
        if (!kvd::WaitCommEvent(port, &events, &ov)) {
            if (kvd::GetLastError() != kvd::kErrorIoPending)
                break;
            std::uint32_t bytes = 0;
            if (!kvd::GetOverlappedResult(port, &ov, &bytes, true))
                break;  // the end was closed, or the port is gone
        }
        // One bit at a time, lowest first.
        for (std::uint32_t bit = 1; bit != 0; bit <<= 1) {
            if (!(events & bit))
                continue;
            switch (bit) {
            case kvd::EV_RXCHAR: {
                std::uint32_t errors = 0;
                kvd::ComStat stat;
                if (kvd::ClearCommError(port, &errors, &stat) && stat.cbInQue >= 1)
                    ctrl->notify(kNotifyRxChar, stat.cbInQue);
                break;
            }
            case kvd::EV_CTS:
            case kvd::EV_DSR: {
                std::uint32_t status = 0;
                if (!kvd::GetCommModemStatus(port, &status))
                    break;
                if (bit == kvd::EV_CTS)
                    ctrl->notify(kNotifyCts, status & kvd::MS_CTS_ON);
                else
                    ctrl->notify(kNotifyDsr, status & kvd::MS_DSR_ON);
                break;
            }
            case kvd::EV_RING:
                ctrl->notify(kNotifyRing, 0);
                break;
            case kvd::EV_KVD_BAUD: {
                std::uint32_t baud = 0;
                if (query(port, kvd::IOCTL_KVD_GET_BAUD_RATE, baud))
                    ctrl->notify(kNotifyBaudRate, std::intptr_t(baud));
                break;
            }
            case kvd::EV_KVD_HANDFLOW: {
                kvd::SerialHandflow r;
                if (query(port, kvd::IOCTL_KVD_GET_HANDFLOW, r))
                    ctrl->notify(kNotifyHandflow, 0, &r, sizeof r);
                break;
            }
            case kvd::EV_KVD_CHARS: {
                kvd::SerialChars r;
                if (query(port, kvd::IOCTL_KVD_GET_CHARS, r))
                    ctrl->notify(kNotifyChars, 0, &r, sizeof r);
                break;
            }
            case kvd::EV_KVD_TIMEOUTS: {
                kvd::SerialTimeouts r;
                if (query(port, kvd::IOCTL_KVD_GET_TIMEOUTS, r))
                    ctrl->notify(kNotifyTimeouts, 0, &r, sizeof r);
                break;
            }
            case kvd::EV_KVD_LINECTRL: {
                kvd::SerialLineControl r;
                if (query(port, kvd::IOCTL_KVD_GET_LINE_CONTROL, r))
                    ctrl->notify(kNotifyLineControl, 0, &r, sizeof r);
                break;
            }
            case kvd::EV_KVD_OPENCLOSE: {
                // The thread is the only writer while attached; the posted
                // value is what the event reports.
                const bool opened = !ctrl->m_opened.load();
                ctrl->m_opened = opened;
                ctrl->notify(kNotifyOpenClose, opened ? 1 : 0);
                break;
            }
            default:
                break;
            }
        }
    }
}
