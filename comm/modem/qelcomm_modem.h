// The modem dialer of the communications engine, as flat functions.
//
// A comm object keeps one set of modem settings: a title, the AT command
// strings and a speed. They travel as one line of tab-separated fields
// (title, init, tone dial prefix, pulse dial prefix, answer, hang-up,
// speed). Commands use OutputModem's notation: "^M" is a control
// character, "~" a one-second pause.
//
// Dialing and the modem commands wait for the modem's answers while
// pumping the thread's messages, like every other wait of the engine.
#pragma once

#include "qelcomm.h"

#include <cstdint>

enum DialModeValue : std::int32_t { Dial_Tone = 0, Dial_Pulse = 1 };

// Results of Dial.
enum DialResult : std::int32_t {
    Dial_Connected = 0,
    Dial_NoCarrier = 1,
    Dial_NoDialTone = 2,
    Dial_Busy = 3,
    Dial_TimeOut = 4,
    Dial_Canceled = 5,
};

// GetModemOptions never writes more than this many bytes; longer settings
// are cut when they are set.
#define QC_MODEM_OPTIONS_SIZE 1024

// Loads entry index of the modem list "MODEM.LST" (0: the built-in entry).
// 0 when the index is negative, the list cannot be found or is shorter;
// the settings then stay as they were.
QELCOMM_API std::int32_t LoadModemOptions(QcHandle object, std::int32_t index);
// The settings as one line, a tab after every field, no terminating zero;
// returns its length. A null buffer only measures.
QELCOMM_API std::int32_t GetModemOptions(QcHandle object, char* buffer);
// Replaces the settings; every character below 32 separates two fields.
QELCOMM_API void SetModemOptions(QcHandle object, const char* text);

QELCOMM_API void SetDialMode(QcHandle object, std::int32_t mode);
QELCOMM_API std::int32_t GetDialMode(QcHandle object);
QELCOMM_API void SetDialTimeOut(QcHandle object, std::uint32_t ms);
QELCOMM_API std::uint32_t GetDialTimeOut(QcHandle object);

// Dials number and classifies the answer (DialResult).
QELCOMM_API std::int32_t Dial(QcHandle object, const char* number);
// During a Dial: cancels it. Otherwise drops the line (DTR, then the
// hang-up command while carrier stays). 1 when the line is down.
QELCOMM_API std::int32_t HangUp(QcHandle object);
// Waits up to 8 s for "OK" (1) or "ERROR" (0); silence counts as failure.
QELCOMM_API std::int32_t WaitForOk(QcHandle object);
QELCOMM_API std::int32_t InitModem(QcHandle object);
QELCOMM_API std::int32_t InitModemForAnswer(QcHandle object);
// Sends "AT" and CR; 1 when the modem answers OK.
QELCOMM_API std::int32_t CheckModem(QcHandle object);
// Drops the carrier: DTR, then the hang-up command. 1 when CD is low.
QELCOMM_CPP_API std::int32_t Disconnect(QcHandle object);

// Script forms. result receives the outcome text (at most 16 bytes).
QELCOMM_CPP_API void qelbasDial(QcHandle object, const char* number, char* result);
QELCOMM_CPP_API void qelbasHangUp(QcHandle object);
