// Modem names in Qt boxes, and the control's modem windows.
#pragma once

#include "qelcomm.h"

#include <cstdint>

#if defined(QELCOMM_MODEM_WIDGETS_BUILD)
#define QELCOMM_MODEM_WIDGETS_API __attribute__((visibility("default")))
#else
#define QELCOMM_MODEM_WIDGETS_API
#endif

class QComboBox;
class QListWidget;
class QWidget;

// Adds "Hayes Compatible" (entry 0) and the title of every entry of the
// modem list, each with its entry number as item data (Qt::UserRole), and
// selects the item whose text is the object's modem title. 0 when the list
// cannot be opened (the first item is added all the same).
QELCOMM_MODEM_WIDGETS_API std::int32_t FillComboWithModemNames(QcHandle object, QComboBox* combo);
QELCOMM_MODEM_WIDGETS_API std::int32_t FillListWithModemNames(QcHandle object, QListWidget* list);

namespace qelcomm::modem {

// A number that names box when written to the control's FillModemCombo
// (a QComboBox) or FillModemList (a QListWidget) member. The number stays
// valid while the box lives.
QELCOMM_MODEM_WIDGETS_API std::int32_t modemBoxId(QWidget* box);

// Gives the controls of this process their dial status window (shown while
// Dial waits when DialStatusDialog is not 0; its Cancel button hangs up)
// and lets FillModemCombo and FillModemList fill boxes named by modemBoxId.
QELCOMM_MODEM_WIDGETS_API void installModemWindows();

}  // namespace qelcomm::modem
