// The control's hidden window: the port event thread posts WM_PORT_NOTIFY
// to it, and its handler fires the matching control event on the thread
// that owns the control.
#pragma once

#include "kelvad_ctrl.h"

#include <array>
#include <cstdint>
#include <map>
#include <mutex>

namespace kelvad {

class CEventWindow {
public:
    // Creates the hidden window on the calling thread; hwnd() is 0 when that
    // failed.
    explicit CEventWindow(CKelvadCtrl* ctrl);
    ~CEventWindow();
    CEventWindow(const CEventWindow&) = delete;
    CEventWindow& operator=(const CEventWindow&) = delete;

    win::Hwnd hwnd() const { return m_hwnd; }

    // Keeps a private copy of a driver record (at most 24 bytes) for one
    // notification and returns the key the message carries. Thread-safe.
    std::intptr_t storeRecord(const void* record, std::size_t size);

    static constexpr const char* kClassName = "KelvadEventWindow";

private:
    using Record = std::array<std::uint8_t, 24>;
    static win::LResult proc(win::Hwnd hwnd, std::uint32_t msg, win::WParam wParam, win::LParam lParam);
    // Fires the event for one notification. The control's handler may
    // destroy this window (or the control): nothing is touched afterwards.
    void onPortNotify(std::uint32_t code, win::LParam lParam);
    bool takeRecord(win::LParam key, Record& out);

    CKelvadCtrl* m_pCtrl;
    win::Hwnd m_hwnd = 0;
    std::mutex m_recordsMutex;
    std::map<std::intptr_t, Record> m_records;  // copies not yet delivered
    std::intptr_t m_nextKey = 1;
};

}  // namespace kelvad
