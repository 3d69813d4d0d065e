// qelcomm6.hpp - the QelComm6 members with C++ linkage.
//
// Everything in qelcomm6.h, plus the members exported under C++ names: the
// script functions (qelbas...), the look-up separator, the tracing writer
// and a few alternative forms of plain members. The conventions of
// qelcomm6.h hold: a handle that is not a comm object makes every call a
// no-op returning 0, and the script functions do nothing for handle 0.
//
// Build with: c++ prog.cpp $(pkg-config --cflags --libs qelcomm6)
#pragma once

#include "qelcomm6.h"

#include <cstdint>
#include <string>

#if defined(QELCOMM_BUILD)
#define QELCOMM6_CPP_EXPORT __attribute__((visibility("default")))
#else
#define QELCOMM6_CPP_EXPORT
#endif

// ---- Alternative forms of plain members -----------------------------------

// A child comm object whose trace lines carry name.
QELCOMM6_CPP_EXPORT QcHandle CreateCommObjectName(QcHandle parent, const char* name);
// The same as SetCommPort and GetCommPort.
QELCOMM6_CPP_EXPORT void SetPort(QcHandle object, std::int32_t number);
QELCOMM6_CPP_EXPORT std::int32_t GetPort(QcHandle object);
// SetDriverInputTimeOut, then the line settings are applied at once.
QELCOMM6_CPP_EXPORT void SetInputDriverTimeOut(QcHandle object, std::uint32_t ms);
// Writes what the driver takes without waiting; returns the bytes accepted.
QELCOMM6_CPP_EXPORT std::int32_t ComOutput(QcHandle object, const void* bytes, std::int32_t count);
// Without an event handler, events go to window (else the object's parent)
// as WM_COMMAND messages: wParam the object's id, the event code in the
// high word of lParam.
QELCOMM6_CPP_EXPORT void SetEventWindow(QcHandle object, QcHandle window);
// The character between the texts of a look-up list ('|' by default).
QELCOMM6_CPP_EXPORT void SetLookUpSeparator(QcHandle object, char separator);
QELCOMM6_CPP_EXPORT char GetLookUpSeparator(QcHandle object);
// Drops the carrier: DTR low for 200 ms, then the modem's hang-up command.
// 1 when the carrier is down.
QELCOMM6_CPP_EXPORT std::int32_t Disconnect(QcHandle object);
// The terminal's 256-byte translation table in and out.
QELCOMM6_CPP_EXPORT void SetTranslationTable(QcHandle object, const std::uint8_t* table256);
QELCOMM6_CPP_EXPORT void GetTranslationTable(QcHandle object, std::uint8_t* table256);
// Kept for older callers: always 0.
QELCOMM6_CPP_EXPORT std::int32_t GetTransferFilename(QcHandle object, char* buffer, std::int32_t size);
QELCOMM6_CPP_EXPORT std::int32_t GetTransferFilenameLength(QcHandle object);

// ---- Tracing ---------------------------------------------------------------

// Appends one entry to the trace file commspy.txt ($XDG_STATE_HOME/qelcomm6/,
// else ~/.local/state/qelcomm6/): text followed by the bytes rendered as
// quoted text and Chr(n) pieces. kind (1 properties, 2 data, 4 events) is
// carried only.
QELCOMM6_CPP_EXPORT void CommSpyMsg(QcHandle object, int kind, const char* text, const void* data,
                                    std::uint32_t count);
QELCOMM6_CPP_EXPORT void CommSpyMsg(QcHandle object, int kind, const char* text, const std::string& data);
// Whether the object's reads and writes are traced; 1 when stored.
QELCOMM6_CPP_EXPORT std::int32_t SetCommSpyInput(QcHandle object, std::int32_t flag);
QELCOMM6_CPP_EXPORT std::int32_t SetCommSpyOutput(QcHandle object, std::int32_t flag);

// ---- Script functions ------------------------------------------------------

QELCOMM6_CPP_EXPORT void qelbasPrint(QcHandle object, const char* text);
// Terminal colour = (background & 15) * 16 + (foreground & 15).
QELCOMM6_CPP_EXPORT void qelbasColor(QcHandle object, std::int32_t foreground, std::int32_t background);
QELCOMM6_CPP_EXPORT void qelbasClearScreen(QcHandle object);
QELCOMM6_CPP_EXPORT void qelbasSend(QcHandle object, const char* text);
// Reads up to count bytes and a terminating zero: buffer holds count + 1.
QELCOMM6_CPP_EXPORT void qelbasInput(QcHandle object, char* buffer, std::int32_t count);
// Reads one line of at most 255 characters: buffer holds 256 bytes.
QELCOMM6_CPP_EXPORT void qelbasLineInput(QcHandle object, char* buffer);
// Waits up to ms for one of the texts in text (split by separator's first
// character); the index found, or -1.
QELCOMM6_CPP_EXPORT std::int32_t qelbasWaitFor(QcHandle object, const char* text, const char* separator,
                                               std::uint32_t ms);
// Dials; result (16 bytes) gets "" on success, else "No Dial Tone", "Busy",
// "Time Out" or "No Carrier".
QELCOMM6_CPP_EXPORT void qelbasDial(QcHandle object, const char* number, char* result);
QELCOMM6_CPP_EXPORT void qelbasHangUp(QcHandle object);
