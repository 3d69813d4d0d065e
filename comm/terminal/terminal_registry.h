// The terminal of each comm object, for the engine's display seam and for
// the terminal view. A terminal is made on first use and lives until its
// comm object is gone.
#pragma once

#include "keys.h"
#include "qelcomm.h"
#include "terminal.h"

#include <memory>
#include <string>

namespace qelcomm {
struct CommObjectData;
}

namespace qelcomm::terminal {

// The object's terminal, or null for a handle that is not a comm object.
std::shared_ptr<Terminal> terminalOf(QcHandle object);

// Ends the object's terminal now (its capture file is closed) rather than
// when the object is found gone.
void releaseTerminal(QcHandle object);

// The screen's new size when the view fits it to its window (AutoSize_Screen).
bool fitScreen(QcHandle object, int columns, int rows);

// Display seam: the bytes, then any answers to the port.
void displayBytes(CommObjectData* d, const std::uint8_t* bytes, std::uint32_t n);

// Keyboard: only while AutoProcess has its keyboard-send bit. A key sends
// its sequence (Page Up/Down scroll the view instead); typed text is sent
// byte by byte. Both follow the cursor afterwards. false: nothing was sent.
bool sendKey(QcHandle object, Key key, bool ctrl);
bool sendTyped(QcHandle object, const std::string& text);
bool keyboardSendEnabled(QcHandle object);

}  // namespace qelcomm::terminal
