// The port settings dialog's model: its radio groups by control id, the
// choice preselected from an object's settings, and what OK does with a
// choice. The dialog itself is a widget (comm/engine/view); the engine
// calls the runner that library installed, or loads the library for it.
#pragma once

#include "qelcomm.h"

#include <cstdint>
#include <string>

namespace qelcomm {

// Control ids of the dialog's radio buttons.
inline constexpr int kBaudIds[] = {11, 12, 13, 14, 15, 16, 17, 18};
inline constexpr std::int32_t kBauds[] = {1200, 2400, 4800, 9600, 14400, 19200, 28800, 38400};
inline constexpr int kDataBitsIds[] = {22, 23, 24, 25};          // 5 to 8
inline constexpr int kParityIds[] = {41, 42, 43, 44, 45};        // none, odd, even, mark, space
inline constexpr char kParityLetters[] = {'n', 'o', 'e', 'm', 's'};
inline constexpr int kStopBitsIds[] = {31, 32, 33};              // 1, 1.5, 2
inline constexpr const char* kStopBitsTexts[] = {"1", "1.5", "2"};
inline constexpr int kHandshakingIds[] = {51, 52, 53};           // XonXoff, Hardware, None
inline constexpr std::int32_t kHandshakingValues[] = {1, 2, 0};
inline constexpr int kIdOk = 1, kIdCancel = 2;

struct PortSettingsChoice {
    int baud = 14, dataBits = 25, parity = 41, stopBits = 31, handshaking = 53;  // control ids
};

// The buttons checked when the dialog opens: the object's settings, a baud
// outside the list as 38400, handshaking Both as Hardware.
PortSettingsChoice currentPortSettingsChoice(QcHandle object);
// "%ld,%c,%d,%s" from the choice: baud, parity letter, data bits, stop bits.
std::string composePortSettings(const PortSettingsChoice& choice);
// OK: SetSettings with the composed text, then SetHandshaking with the
// chosen value. Returns SetSettings' result.
std::int32_t applyPortSettingsChoice(QcHandle object, const PortSettingsChoice& choice);

// Shows the modal dialog for object over parent; 1 for OK, 0 for Cancel.
using PortSettingsDialogRunner = std::int32_t (*)(QcHandle object, QcHandle parent);
// Installed by the widgets library; without one PortSettingsDialog loads
// that library (libqelcomm6_port_dialog) and returns 0 only when it is missing.
QELCOMM_CPP_API void SetPortSettingsDialogRunner(PortSettingsDialogRunner runner);

}  // namespace qelcomm
