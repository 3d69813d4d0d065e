// Internal pieces shared by the control's source files: the member table
// builder, the engine's event road and the small conversions between
// automation values and engine values.
#pragma once

#include "qel_comm.h"

#include <cstdint>
#include <string>

namespace qelcomm::control {

// Engine flags are -1 or 1 for true depending on the member; any nonzero
// value is true.
inline bool engineFlag(std::int32_t v) { return v != 0; }
// A written boolean reaches the engine as the sign-extended automation value.
inline std::int32_t toEngineFlag(bool b) { return b ? -1 : 0; }

struct ControlAccess {
    static void buildDispatch(CQelComm& c);
    static void setStoredDefaults(CQelComm& c);
    // The terminal members: their table entries, the terminal's value of
    // the four AutoScroll switches and the terminal's end with the comm object.
    static void bindTerminal(CQelComm& c);
    static std::int32_t autoScrollValue(const CQelComm& c);
    static void releaseTerminal(CQelComm& c);
    // The modem members and their part of the apply step.
    static void bindModem(CQelComm& c);
    static void applyModem(CQelComm& c);
    // The file-transfer members over the transfer engine.
    static void bindTransfer(CQelComm& c);
    // DoCommand and the commands it runs.
    static void bindCommands(CQelComm& c);
    static ErrorInfo runCommand(CQelComm& c, std::int32_t value);
    // The trace: the Font entry, the property observer, and one line per
    // fired event when the switches ask for it.
    static void bindTrace(CQelComm& c);
    static void traceEvent(CQelComm& c, std::int32_t dispid, const lt::automation::Args& args);
    // The engine's event callback (the pop-up object) and the procedure of
    // the window that receives command messages once the control is in place.
    static void onEngineEvent(QcHandle object, int controlId, int code);
    static win::LResult commandWindowProc(win::Hwnd, std::uint32_t, win::WParam, win::LParam);
    static win::Hwnd createCommandWindow(CQelComm& c);
};

}  // namespace qelcomm::control
