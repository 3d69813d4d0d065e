// The comm object's record and the engine's internal operations.
//
// A comm object is a hidden window of the class "QelCommObject"; its record
// hangs in the window's first extra word. Every engine call resolves the
// handle to the record first and does nothing when there is none.
#pragma once

#include "qelcomm.h"
#include "serial/serial.h"
#include "win/win.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace qelcomm {

inline constexpr const char* kObjectClassName = "QelCommObject";

// Event and error codes delivered to the owner.
enum CommEventCode : std::int32_t {
    Event_Send = 1,
    Event_Receive = 2,
    Event_Cts = 3,
    Event_Dsr = 4,
    Event_Carrier = 5,
    Event_Ring = 6,
    Event_Eof = 7,
    Event_Transfer = 100,
    Error_Break = 1001,
    Error_CtsTimeOut = 1002,
    Error_DsrTimeOut = 1003,
    Error_FrameError = 1004,
    Error_InputTimeOut = 1005,
    Error_DataOverrun = 1006,
    Error_CarrierTimeOut = 1007,
    Error_ReceiveBufferOverflow = 1008,
    Error_Parity = 1009,
    Error_SendBufferOverflow = 1010,
    Error_DeviceRemoved = 1011,
};

enum Handshaking : std::int32_t {
    Handshaking_None = 0,
    Handshaking_XonXoff = 1,
    Handshaking_Hardware = 2,
    Handshaking_Both = 3,
};

enum PortKind : std::int32_t { PortKind_None = 0, PortKind_Serial = 2 };

enum AutoProcessBits : std::int32_t { AutoProcess_Receive = 1, AutoProcess_Send = 2 };

// Result of SetSettings for a rejected text.
inline constexpr std::int32_t kSettingsRejected = 380;

inline constexpr std::uint32_t kOpenEventMask = 0xF8;  // CTS, DSR, RLSD, break, error

struct CommObjectData {
    win::Hwnd window = 0;
    std::uint32_t cdTimeOut = 0;
    serial::Handle port = serial::INVALID_HANDLE_VALUE;
    std::int32_t lastEvent = 0;
    std::int32_t portNumber = 1;
    std::uint32_t ctsTimeOut = 0;
    std::uint32_t dsrTimeOut = 0;
    std::int32_t dtrEnable = -1;
    std::int32_t handshaking = Handshaking_None;
    std::int32_t inBufferSize = 2048;
    std::uint32_t pollInterval = 55;
    std::uint32_t inTimeOut = 0;
    std::uint32_t outTimeOut = 0;
    std::uint32_t driverInTimeOut = 0;
    std::int32_t nullDiscard = 0;
    std::int32_t outBufferSize = 2048;
    std::int32_t parityReplace = -1;
    std::int32_t portOpen = 0;
    std::int32_t rThreshold = 0;
    std::int32_t rtsEnable = -1;
    std::int32_t sThreshold = 0;
    std::uint32_t baud = 9600;
    std::int32_t parity = 0;
    std::int32_t dataBits = 8;
    std::int32_t stopBits = 0;
    std::int32_t busyCount = 0;
    std::uintptr_t timer = 0;

    // Terminal view (owned by the terminal once it exists).
    std::int32_t columns = 80;
    std::int32_t rows = 25;
    std::int32_t colorAttribute = 31;

    std::int32_t autoProcess = 0;
    std::int32_t echo = 0;
    char lookUpSeparator = 0;

    // File transfer (owned by the transfer engine once it exists).
    std::int32_t transferState = 0;  // 0 idle, 1 sending, 2 receiving

    std::int32_t inputEcho = 0;
    std::int32_t commEcho = 0;
    std::uint32_t lookUpTimeOut = 10000;
    QcEventHandler eventCallback = nullptr;
    QcIdleLoop idleCallback = nullptr;
    std::uint32_t dialTimeOut = 30000;
    std::int32_t dialMode = 0;   // 0 tone, 1 pulse
    std::int32_t dialing = 0;    // set while Dial waits for the modem's answer
    std::int32_t shutDown = 0;
    win::Hwnd eventWindow = 0;
    std::uint32_t lastError = 0;
    std::int32_t portKind = PortKind_None;
    std::uint32_t modemStatus = 0;
    std::uint32_t userValue = 0;
    std::int32_t notification = 0;
    std::int32_t dialCancel = 0;
    std::int32_t spyInput = 0;
    std::int32_t spyOutput = 0;
    std::array<std::uint8_t, 256> translation{};
    // Modem title, commands and speed, one string per field (modem_options.h).
    std::vector<std::string> modemOptions;
    std::string name;
    std::string transferPath;
    void* owner = nullptr;

    // Position of the file-transfer start detector in its pattern, and the
    // downloads it has asked for.
    int downloadDetect = 0;
    int downloadRequests = 0;

    // Wake on data: the port tells when something happens and a tick runs
    // at once; the timer then only keeps the slow checks going.
    std::int32_t wakeOnData = 0;
    bool wakePending = false;   // a wake message is on its way
    bool watching = false;      // the port accepted the notifications
};

// Posted to the object window when its port has news; runs a tick.
inline constexpr std::uint32_t WM_QC_WAKE = win::WM_USER + 0x514;
// The timer's interval while the port wakes the object: line and modem
// checks, and the events that fire on every tick, come this often.
inline constexpr std::uint32_t kWakeIdleInterval = 1000;

// The record of a comm object, or null for any other handle.
CommObjectData* resolve(QcHandle object);
inline bool isObject(QcHandle object) { return resolve(object) != nullptr; }

// A stored field of the object, or zero for a handle that is not one: the
// getter of every plain property pair.
template <typename T>
T fieldOf(QcHandle object, T CommObjectData::*field)
{
    CommObjectData* d = resolve(object);
    return d ? d->*field : T{};
}

// Port core.
bool OpenPort(CommObjectData* d);
void ClosePort(CommObjectData* d);
bool ApplyLineSettings(CommObjectData* d);
std::uint32_t WriteAllowancePerByte(std::uint32_t baud, std::uint32_t outTimeOut);

// Input and output primitives. Each takes the handle, not the record,
// because a wait or a delivery may destroy the object underneath it.
bool IdleWait(QcHandle object);
bool ReadOneByte(CommObjectData* d, std::uint8_t* byte);
std::uint32_t ReadAvailable(CommObjectData* d, std::uint8_t* buffer, std::uint32_t n);
bool WriteBytes(QcHandle object, const std::uint8_t* bytes, std::uint32_t count);
// Write, line-error check, display when Echo is on; false when the write failed.
bool KeyboardSend(QcHandle object, const std::uint8_t* bytes, std::uint32_t count);

// Events.
void ArmPollTimer(CommObjectData* d);
// Starts or stops the port's notifications as wakeOnData and the port ask.
void WatchPort(CommObjectData* d);
// The port's device went away: the port closes and Error_DeviceRemoved is
// delivered.
void DeviceRemoved(QcHandle object);
void PollTick(QcHandle object);
void CheckModemLines(QcHandle object);
void CheckLineErrors(QcHandle object);
void DispatchLineErrors(QcHandle object, std::uint32_t mask);
void FireCommEvent(QcHandle object, std::int32_t code);

// The built-in modem entry's fields (the modem dialer).
std::vector<std::string> DefaultModemOptions();

// Other subsystems' operations the engine calls. The terminal view and the
// transfer engine are not built yet: the display is a no-op and a detected
// download request is recorded but not started.
void TerminalWrite(CommObjectData* d, const std::uint8_t* bytes, std::uint32_t count);
void Download(QcHandle object, const char* fileName);

}  // namespace qelcomm
