// Hooks through which a widgets library gives the control's modem members
// their windows, so that the control itself stays free of Qt Widgets.
#pragma once

#include "qel_comm.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qelcomm::control {

// Shown for the length of one Dial wait; closed when it is destroyed.
class DialStatusWindow {
public:
    virtual ~DialStatusWindow() = default;
};
// Opens the window for a Dial of number on object; mode is the control's
// DialStatusDialog value (never 0: 0 means no window).
using DialStatusFactory = std::unique_ptr<DialStatusWindow> (*)(QcHandle object, const std::string& number,
                                                                std::int32_t mode);
QELCOMM_CONTROL_API void SetDialStatusFactory(DialStatusFactory factory);

// Fills the box named by the value written to FillModemCombo (list false)
// or FillModemList (list true) with the modem names; returns the engine's
// result. Without a filler those members do nothing.
using ModemBoxFiller = std::int32_t (*)(QcHandle object, const lt::automation::Variant& box, bool list);
QELCOMM_CONTROL_API void SetModemBoxFiller(ModemBoxFiller filler);

// The Dial property's text for a Dial result.
QELCOMM_CONTROL_API std::string DialResultText(std::int32_t result);

}  // namespace qelcomm::control
