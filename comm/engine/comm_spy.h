// The CommSpy trace: a plain text log ("commspy.txt") with one entry per
// traced property access, event, read or write, each written as a line of
// Basic-like code. Data bytes are rendered as quoted text and Chr(n) pieces,
// wrapped at 80 columns with " + _" continuations.
#pragma once

#include "qelcomm.h"

#include <cstdint>
#include <string>

namespace qelcomm {

enum CommSpyKind : int { CommSpy_Properties = 1, CommSpy_Data = 2, CommSpy_Events = 4 };

// Neither is exported from the library: the tests link the formatting
// from its own static library (qelcomm6_spy_format).
#define QELCOMM_INTERNAL __attribute__((visibility("hidden")))

// The entry's text as it is appended to the log: the text, the rendered
// data (data null: no data part) and the line ends.
QELCOMM_INTERNAL std::string formatCommSpyEntry(const std::string& text, const std::uint8_t* data,
                                                std::uint32_t count);

// The log file: $XDG_STATE_HOME/qelcomm6/commspy.txt, else
// ~/.local/state/qelcomm6/commspy.txt; fixed at the first entry.
QELCOMM_INTERNAL std::string commSpyPath();

}  // namespace qelcomm

// Appends one entry for the object; kind is carried but changes nothing.
QELCOMM_CPP_API void CommSpyMsg(QcHandle object, int kind, const char* text, const void* data, std::uint32_t count);
QELCOMM_CPP_API void CommSpyMsg(QcHandle object, int kind, const char* text, const std::string& data);

QELCOMM_CPP_API std::int32_t SetCommSpyInput(QcHandle object, std::int32_t flag);
QELCOMM_CPP_API std::int32_t SetCommSpyOutput(QcHandle object, std::int32_t flag);
