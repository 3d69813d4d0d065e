#include "event_window.h"

#include <cstring>
#include <mutex>

namespace kelvad {

using lt::automation::Args;
using lt::automation::Variant;

namespace {

template <typename T>
T recordAs(const std::array<std::uint8_t, 24>& r)
{
    static_assert(sizeof(T) <= 24);
    T value;
    std::memcpy(&value, r.data(), sizeof(T));
    return value;
}

// Driver values are unsigned 32-bit; events carry them as longs.
Variant asLong(std::uint32_t v)
{
    return Variant(static_cast<std::int32_t>(v));
}

}  // namespace

CEventWindow::CEventWindow(CKelvadCtrl* ctrl) : m_pCtrl(ctrl)
{
    static std::once_flag once;
    std::call_once(once, [] {
        win::WndClass cls;
        cls.name = kClassName;
        cls.proc = &CEventWindow::proc;
        win::registerClass(cls);
    });
    // Hidden, captionless, style 0, no parent.
    m_hwnd = win::createWindow(kClassName, "", 0, 0, 0, this);
}

CEventWindow::~CEventWindow()
{
    // Destroying the window drops its queued notifications; their record
    // copies go with m_records.
    if (m_hwnd)
        win::destroyWindow(m_hwnd);
}

std::intptr_t CEventWindow::storeRecord(const void* record, std::size_t size)
{
    Record copy{};
    std::memcpy(copy.data(), record, std::min(size, copy.size()));
    std::lock_guard<std::mutex> lock(m_recordsMutex);
    const std::intptr_t key = m_nextKey++;
    m_records.emplace(key, copy);
    return key;
}

bool CEventWindow::takeRecord(win::LParam key, Record& out)
{
    std::lock_guard<std::mutex> lock(m_recordsMutex);
    auto it = m_records.find(key);
    if (it == m_records.end())
        return false;
    out = it->second;
    m_records.erase(it);
    return true;
}

win::LResult CEventWindow::proc(win::Hwnd hwnd, std::uint32_t msg, win::WParam wParam, win::LParam lParam)
{
    if (msg == win::WM_CREATE) {
        auto* cs = reinterpret_cast<const win::CreateStruct*>(lParam);
        win::setWindowLongPtr(hwnd, win::GWLP_USERDATA, reinterpret_cast<std::intptr_t>(cs->createParams));
        return 0;
    }
    if (msg == WM_PORT_NOTIFY) {
        if (auto* self = reinterpret_cast<CEventWindow*>(win::getWindowLongPtr(hwnd, win::GWLP_USERDATA)))
            self->onPortNotify(static_cast<std::uint32_t>(wParam), lParam);
        return 1;
    }
    return win::defWindowProc(hwnd, msg, wParam, lParam);
}

void CEventWindow::onPortNotify(std::uint32_t code, win::LParam lParam)
{
    CKelvadCtrl* ctrl = m_pCtrl;
    Record r{};
    const bool carriesRecord = code == kNotifyTimeouts || code == kNotifyLineControl ||
                               code == kNotifyHandflow || code == kNotifyChars;
    if (carriesRecord && !takeRecord(lParam, r))
        return;

    std::vector<Variant> values;
    std::int32_t dispid = 0;
    switch (code) {
    case kNotifyRxChar:
        dispid = DISPID_OnRxChar;
        values = {asLong(static_cast<std::uint32_t>(lParam))};
        break;
    case kNotifyCts:
        dispid = DISPID_OnRTS;
        values = {Variant::fromBool(lParam != 0)};
        break;
    case kNotifyDsr:
        dispid = DISPID_OnDTR;
        values = {Variant::fromBool(lParam != 0)};
        break;
    case kNotifyRing:
        dispid = DISPID_OnRING;
        break;
    case kNotifyTimeouts: {
        const auto t = recordAs<kvd::SerialTimeouts>(r);
        dispid = DISPID_OnTimeouts;
        values = {asLong(t.ReadIntervalTimeout), asLong(t.ReadTotalTimeoutMultiplier),
                  asLong(t.ReadTotalTimeoutConstant), asLong(t.WriteTotalTimeoutMultiplier),
                  asLong(t.WriteTotalTimeoutConstant)};
        break;
    }
    case kNotifyOpenClose:
        dispid = DISPID_OnOpenClose;
        values = {Variant::fromBool(lParam != 0)};
        break;
    case kNotifyLineControl: {
        const auto l = recordAs<kvd::SerialLineControl>(r);
        dispid = DISPID_OnLineControl;
        values = {asLong(l.StopBits), asLong(l.Parity), asLong(l.WordLength)};
        break;
    }
    case kNotifyHandflow: {
        const auto h = recordAs<kvd::SerialHandflow>(r);
        dispid = DISPID_OnHandflow;
        values = {asLong(h.ControlHandShake), asLong(h.FlowReplace), asLong(h.XonLimit), asLong(h.XoffLimit)};
        break;
    }
    case kNotifyChars: {
        const auto c = recordAs<kvd::SerialChars>(r);
        dispid = DISPID_OnSpecialChars;
        values = {asLong(c.EofChar), asLong(c.ErrorChar), asLong(c.BreakChar),
                  asLong(c.EventChar), asLong(c.XonChar), asLong(c.XoffChar)};
        break;
    }
    case kNotifyBaudRate:
        dispid = DISPID_OnBaudRate;
        values = {asLong(static_cast<std::uint32_t>(lParam))};
        break;
    default:
        return;  // unknown codes are ignored
    }
    Args args;
    for (auto& v : values)
        args.push_back(&v);
    ctrl->FireEvent(dispid, args);  // may destroy this window: nothing follows
}

}  // namespace kelvad
