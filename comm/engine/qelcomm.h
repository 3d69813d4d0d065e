// The communications engine as flat functions.
//
// A program creates a comm object, keeps the returned handle and passes it
// first to every other call. A handle that is not a comm object makes any
// call a harmless no-op returning 0 (an empty text, an untouched buffer).
// Flags are 0 = false, anything else true; times are milliseconds; texts are
// zero-terminated byte strings.
//
// QELCOMM_API members have C linkage and are declared for C programs in
// comm/include/qelcomm6.h; QELCOMM_CPP_API members keep C++ linkage (and so
// C++ mangled names) and are declared in comm/include/qelcomm6.hpp. A test
// compiles these headers together, so a declaration that drifts from the
// public one fails the build.
#pragma once

#include <cstdint>

#if defined(QELCOMM_BUILD)
#define QELCOMM_API extern "C" __attribute__((visibility("default")))
#define QELCOMM_CPP_API __attribute__((visibility("default")))
#else
#define QELCOMM_API extern "C"
#define QELCOMM_CPP_API
#endif

using QcHandle = std::uintptr_t;     // a comm object (its window)
using QcDevice = std::intptr_t;      // a device handle (serial::Handle)
using QcEventHandler = void (*)(QcHandle object, int controlId, int code);
using QcIdleLoop = void (*)();

// Object life. InitQelCommObjects also gives a process without a Qt
// application one, so the flat interface works from a plain C program.
QELCOMM_API std::int32_t InitQelCommObjects();
// Runs the calling thread's pending timers and events for about ms
// milliseconds (0 or less: only what is pending now); returns 1, or 0 at
// once on a thread that cannot run events (see qelcomm6.h).
QELCOMM_API std::int32_t PumpCommEvents(std::int32_t milliseconds);
QELCOMM_API QcHandle CreateCommObject(QcHandle parent);
QELCOMM_CPP_API QcHandle CreateCommObjectName(QcHandle parent, const char* name);
QELCOMM_API std::int32_t DestroyCommObject(QcHandle object);

// Port life.
QELCOMM_API void SetCommPort(QcHandle object, std::int32_t number);
QELCOMM_API std::int32_t GetCommPort(QcHandle object);
QELCOMM_CPP_API void SetPort(QcHandle object, std::int32_t number);  // as SetCommPort
QELCOMM_CPP_API std::int32_t GetPort(QcHandle object);               // as GetCommPort
QELCOMM_API std::int32_t SetPortOpen(QcHandle object, std::int32_t open);
QELCOMM_API std::int32_t GetPortOpen(QcHandle object);
QELCOMM_API void SetInBufferSize(QcHandle object, std::int32_t bytes);
QELCOMM_API std::int32_t GetInBufferSize(QcHandle object);
QELCOMM_API void SetOutBufferSize(QcHandle object, std::int32_t bytes);
QELCOMM_API std::int32_t GetOutBufferSize(QcHandle object);
QELCOMM_API std::int32_t SetCommID(QcHandle object, QcDevice handle);
QELCOMM_API QcDevice GetCommID(QcHandle object);

// Line settings and signals. GetSettings writes at most 20 bytes (19
// characters and the terminator) and returns the text's length.
QELCOMM_API std::int32_t SetSettings(QcHandle object, const char* text);
QELCOMM_API std::int32_t GetSettings(QcHandle object, char* buffer);
QELCOMM_API void SetHandshaking(QcHandle object, std::int32_t value);
QELCOMM_API std::int32_t GetHandshaking(QcHandle object);
QELCOMM_API void SetParityReplace(QcHandle object, std::int32_t code);
QELCOMM_API std::int32_t GetParityReplace(QcHandle object);
QELCOMM_API void SetDiscardNulls(QcHandle object, std::int32_t flag);
QELCOMM_API std::int32_t GetDiscardNulls(QcHandle object);
QELCOMM_API void SetNullDiscard(QcHandle object, std::int32_t flag);
QELCOMM_API std::int32_t GetNullDiscard(QcHandle object);
QELCOMM_API void SetDTR(QcHandle object, std::int32_t flag);
QELCOMM_API std::int32_t GetDTR(QcHandle object);
QELCOMM_API void SetRTS(QcHandle object, std::int32_t flag);
QELCOMM_API std::int32_t GetRTS(QcHandle object);
QELCOMM_API void SetBreak(QcHandle object, std::int32_t flag);
QELCOMM_API std::int32_t GetBreak(QcHandle object);
QELCOMM_API std::int32_t GetCTS(QcHandle object);
QELCOMM_API std::int32_t GetDSR(QcHandle object);
QELCOMM_API std::int32_t GetCarrier(QcHandle object);
QELCOMM_API void SetCTSTimeOut(QcHandle object, std::uint32_t ms);
QELCOMM_API std::uint32_t GetCTSTimeOut(QcHandle object);
QELCOMM_API void SetDSRTimeOut(QcHandle object, std::uint32_t ms);
QELCOMM_API std::uint32_t GetDSRTimeOut(QcHandle object);
QELCOMM_API void SetCarrierTimeOut(QcHandle object, std::uint32_t ms);
QELCOMM_API std::uint32_t GetCarrierTimeOut(QcHandle object);
QELCOMM_API void SetDriverInputTimeOut(QcHandle object, std::uint32_t ms);
QELCOMM_CPP_API void SetInputDriverTimeOut(QcHandle object, std::uint32_t ms);
QELCOMM_API std::uint32_t GetDriverInputTimeOut(QcHandle object);
// The modal port settings dialog over parent (baud, data bits, parity, stop
// bits, handshaking): 1 when OK applied the choice, 0 for Cancel or when no
// dialog is installed (a program without widgets).
QELCOMM_API std::int32_t PortSettingsDialog(QcHandle object, QcHandle parent);

// Input and output.
QELCOMM_API std::int32_t GetInput(QcHandle object, void* buffer, std::int32_t count);
QELCOMM_API std::int32_t GetLineInput(QcHandle object, char* buffer, std::int32_t size);
QELCOMM_API std::int32_t GetInBufferCount(QcHandle object);
QELCOMM_API void ClearInputBuffer(QcHandle object);
QELCOMM_API std::int32_t FlushInputBuffer(QcHandle object, std::uint32_t ms);
QELCOMM_API std::int32_t Output(QcHandle object, const void* bytes, std::int32_t count);
QELCOMM_CPP_API std::int32_t ComOutput(QcHandle object, const void* bytes, std::int32_t count);
QELCOMM_API std::int32_t OutputModem(QcHandle object, const char* text);
QELCOMM_CPP_API void qelbasSend(QcHandle object, const char* text);  // OutputModem
// GetInput, then a zero byte after the bytes read: buffer holds count + 1.
QELCOMM_CPP_API void qelbasInput(QcHandle object, char* buffer, std::int32_t count);
// Empties buffer, then reads one line of at most kQelbasLineSize - 1
// characters with GetLineInput: buffer holds kQelbasLineSize bytes.
inline constexpr std::int32_t kQelbasLineSize = 256;
QELCOMM_CPP_API void qelbasLineInput(QcHandle object, char* buffer);
QELCOMM_API std::int32_t GetOutBufferCount(QcHandle object);
QELCOMM_API void ClearOutputBuffer(QcHandle object);
QELCOMM_API std::int32_t FlushOutputBuffer(QcHandle object, std::uint32_t ms);
QELCOMM_API void SetInputTimeOut(QcHandle object, std::uint32_t ms);
QELCOMM_API std::uint32_t GetInputTimeOut(QcHandle object);
QELCOMM_API void SetOutputTimeOut(QcHandle object, std::uint32_t ms);
QELCOMM_API std::uint32_t GetOutputTimeOut(QcHandle object);
QELCOMM_API void ComPause(QcHandle object, std::uint32_t ms);
QELCOMM_API void SetIdleLoop(QcHandle object, QcIdleLoop callback);
QELCOMM_API void SetShutDown(QcHandle object, std::int32_t flag);
QELCOMM_API std::int32_t GetShutDown(QcHandle object);
QELCOMM_API std::int32_t GetBusy(QcHandle object);
QELCOMM_API void WaitUntilTransferIsFinished(QcHandle object);
QELCOMM_API void SetEcho(QcHandle object, std::int32_t flag);
QELCOMM_API std::int32_t GetEcho(QcHandle object);
QELCOMM_API void SetInputEcho(QcHandle object, std::int32_t flag);
QELCOMM_API std::int32_t GetInputEcho(QcHandle object);
QELCOMM_API void SetCommEcho(QcHandle object, std::int32_t flag);
QELCOMM_API std::int32_t GetCommEcho(QcHandle object);

// Polling, events and look-up.
QELCOMM_API void SetInterval(QcHandle object, std::uint32_t ms);
QELCOMM_API std::uint32_t GetInterval(QcHandle object);
QELCOMM_API void SetWakeOnData(QcHandle object, std::int32_t flag);
QELCOMM_API std::int32_t GetWakeOnData(QcHandle object);
QELCOMM_API void SetRThreshold(QcHandle object, std::int32_t count);
QELCOMM_API std::int32_t GetRThreshold(QcHandle object);
QELCOMM_API void SetSThreshold(QcHandle object, std::int32_t count);
QELCOMM_API std::int32_t GetSThreshold(QcHandle object);
QELCOMM_API void SetAutoProcess(QcHandle object, std::int32_t bits);
QELCOMM_API std::int32_t GetAutoProcess(QcHandle object);
QELCOMM_API void SetEventHandler(QcHandle object, QcEventHandler callback);
QELCOMM_CPP_API void SetEventWindow(QcHandle object, QcHandle window);
QELCOMM_API std::int32_t GetLastCommEvent(QcHandle object);
QELCOMM_API std::uint32_t GetLastCommError(QcHandle object);
QELCOMM_API void SetLookUpTimeOut(QcHandle object, std::uint32_t ms);
QELCOMM_API std::uint32_t GetLookUpTimeOut(QcHandle object);
QELCOMM_CPP_API void SetLookUpSeparator(QcHandle object, char separator);
QELCOMM_CPP_API char GetLookUpSeparator(QcHandle object);
QELCOMM_API std::int32_t InputUntilLookUp(QcHandle object, const char* list, char* out, std::int32_t outSize);
QELCOMM_API std::int32_t DiscardUntilLookUp(QcHandle object, const char* list);
QELCOMM_CPP_API std::int32_t qelbasWaitFor(QcHandle object, const char* text, const char* separator, std::uint32_t ms);

// Values kept for the caller.
QELCOMM_API void SetCommLong(QcHandle object, std::uint32_t value);
QELCOMM_API std::uint32_t GetCommLong(QcHandle object);
QELCOMM_API void SetNotification(QcHandle object, std::int32_t value);
QELCOMM_API std::int32_t GetNotification(QcHandle object);
