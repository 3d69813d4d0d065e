// CQelComm: the communications control. A thin shell over one comm object:
// each property reads or writes a field of the object through the flat
// engine calls (qelcomm.h); the control adds its own fields, string
// handling, the blocking input and output members with their re-entry guard,
// and turns the engine's event codes into control events.
//
// Two ways in, one behaviour:
//   - typed C++ members named as the properties (PortOpen(), SetPortOpen(),
//     Input(out) ...); every fallible member returns an ErrorInfo, and the
//     last member's outcome is kept in LastError();
//   - Dispatch(): the automation table (DISPID and name), with automation
//     booleans (-1 / 0, any nonzero written value is true) and strings as
//     byte strings that pass unchanged.
//
// Events go to the sinks connected to Events(), synchronously and in
// connection order, as onEvent(dispid, args) with the DISPIDs of EventId.
// Property changes of Settings, RThreshold, CommSpy, Columns and Emulation
// go to the sinks of PropertyNotify() as onEvent(dispid of the property, {}).
//
// Everything runs on the thread that created the control. Blocking members
// pump that thread's messages, so events and other calls can arrive while
// they wait; a blocking member called then fails with 0x800A0005.
#pragma once

#include "automation/automation.h"
#include "qelcomm.h"
#include "win/win.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#if defined(QELCOMM_CONTROL_BUILD)
#define QELCOMM_CONTROL_API __attribute__((visibility("default")))
#else
#define QELCOMM_CONTROL_API
#endif

namespace qelcomm::control {

using lt::automation::ErrorInfo;
using lt::automation::HResult;

inline constexpr HResult kErrorBlocked = 0x800A0005;      // guard, automatic receive
inline constexpr HResult kErrorWriteFailed = 0x800A0000;  // Output, OutputLine
inline constexpr const char* kProgId = "Qel.CommControl.1";
inline constexpr const char* kInterfaceName = "IQelComm";

// Event DISPIDs of the event interface. Arguments, in order, as the
// pointers of args:
//   KeyDown, KeyUp:  Keycode (int16, by reference), Shift (int16, by reference)
//   KeyPress:        KeyAscii (int16, by reference)
//   Command:         Command (int32, a CommCommand), Cancel (bool, out)
//   MouseMove, MouseDown, MouseUp: Button (int16, out), Shift (int16, out),
//                    X (double, out), Y (double, out)
//   every other event: no arguments.
namespace EventId {
inline constexpr std::int32_t Receive = 1;
inline constexpr std::int32_t Click = 2;
inline constexpr std::int32_t KeyDown = 3;
inline constexpr std::int32_t KeyPress = 4;
inline constexpr std::int32_t KeyUp = 5;
inline constexpr std::int32_t Send = 6;
inline constexpr std::int32_t CTSChanged = 7;
inline constexpr std::int32_t DSRChanged = 8;
inline constexpr std::int32_t CarrierChanged = 9;
inline constexpr std::int32_t Ring = 10;
inline constexpr std::int32_t AbortFileTransfer = 11;
inline constexpr std::int32_t FinishFileTransfer = 12;
inline constexpr std::int32_t WaitForFile = 13;
inline constexpr std::int32_t PrepareFile = 14;
inline constexpr std::int32_t StartFile = 15;
inline constexpr std::int32_t AbortFile = 16;
inline constexpr std::int32_t FinishFile = 17;
inline constexpr std::int32_t TransferBlock = 18;
inline constexpr std::int32_t OnComm = 19;
inline constexpr std::int32_t Command = 20;
inline constexpr std::int32_t DblClick = 21;
inline constexpr std::int32_t Hide = 22;
inline constexpr std::int32_t Paint = 23;
inline constexpr std::int32_t Show = 24;
inline constexpr std::int32_t MouseMove = 25;
inline constexpr std::int32_t MouseDown = 26;
inline constexpr std::int32_t MouseUp = 27;
}  // namespace EventId

// Member DISPIDs of the automation interface.
namespace MemberId {
// Communications.
inline constexpr std::int32_t Enabled = -514;
inline constexpr std::int32_t Settings = 1;
inline constexpr std::int32_t AutoProcess = 5;
inline constexpr std::int32_t AutoReceive = 6;
inline constexpr std::int32_t AutoSend = 11;
inline constexpr std::int32_t Break = 14;
inline constexpr std::int32_t Busy = 15;
inline constexpr std::int32_t CDHolding = 18;
inline constexpr std::int32_t CDTimeOut = 19;
inline constexpr std::int32_t ComInput = 22;
inline constexpr std::int32_t ComLineInput = 23;
inline constexpr std::int32_t CommEcho = 24;
inline constexpr std::int32_t CommError = 25;
inline constexpr std::int32_t CommEvent = 26;
inline constexpr std::int32_t CommHandle = 27;
inline constexpr std::int32_t CommPort = 28;
inline constexpr std::int32_t CTSHolding = 36;
inline constexpr std::int32_t CTSTimeOut = 37;
inline constexpr std::int32_t DSRHolding = 46;
inline constexpr std::int32_t DSRTimeOut = 47;
inline constexpr std::int32_t DTRHolding = 48;
inline constexpr std::int32_t Handshaking = 55;
inline constexpr std::int32_t IgnoreOnComm = 57;
inline constexpr std::int32_t InBufferCount = 58;
inline constexpr std::int32_t InBufferSize = 59;
inline constexpr std::int32_t InputLen = 63;
inline constexpr std::int32_t Interval = 64;
inline constexpr std::int32_t InTimeOut = 65;
inline constexpr std::int32_t LookUp = 66;
inline constexpr std::int32_t LookUpInput = 67;
inline constexpr std::int32_t LookUpInputLen = 68;
inline constexpr std::int32_t LookUpSeparator = 69;
inline constexpr std::int32_t LookUpText = 70;
inline constexpr std::int32_t LookUpTimeOut = 71;
inline constexpr std::int32_t Notification = 79;
inline constexpr std::int32_t NullDiscard = 80;
inline constexpr std::int32_t OutBufferCount = 81;
inline constexpr std::int32_t OutBufferSize = 82;
inline constexpr std::int32_t Output = 83;
inline constexpr std::int32_t OutputLine = 84;
inline constexpr std::int32_t ParityReplace = 86;
inline constexpr std::int32_t Pause = 87;
inline constexpr std::int32_t PortOpen = 88;
inline constexpr std::int32_t RThreshold = 90;
inline constexpr std::int32_t RTSEnable = 91;
inline constexpr std::int32_t ShutDown = 97;
inline constexpr std::int32_t SThreshold = 98;
inline constexpr std::int32_t Input = 108;
inline constexpr std::int32_t LineInput = 109;
inline constexpr std::int32_t CommID = 110;
inline constexpr std::int32_t OutTimeOut = 111;
// Tracing.
inline constexpr std::int32_t CommSpy = 29;
inline constexpr std::int32_t CommSpyEvents = 30;
inline constexpr std::int32_t CommSpyInput = 31;
inline constexpr std::int32_t CommSpyOutput = 32;
inline constexpr std::int32_t CommSpyProperties = 33;
inline constexpr std::int32_t CommSpyWarnings = 34;
// Terminal view.
inline constexpr std::int32_t Font = -512;
inline constexpr std::int32_t BackColor = 2;
inline constexpr std::int32_t AutoScroll = 7;
inline constexpr std::int32_t AutoScrollColumn = 8;
inline constexpr std::int32_t AutoScrollKeyboard = 9;
inline constexpr std::int32_t AutoScrollRow = 10;
inline constexpr std::int32_t AutoSize = 12;
inline constexpr std::int32_t BackSpace = 13;
inline constexpr std::int32_t CaptureFilename = 16;
inline constexpr std::int32_t CaptureMode = 17;
inline constexpr std::int32_t ColorFilter = 20;
inline constexpr std::int32_t Columns = 21;
inline constexpr std::int32_t Contents = 35;
inline constexpr std::int32_t CursorColumn = 38;
inline constexpr std::int32_t CursorRow = 39;
inline constexpr std::int32_t Display = 43;
inline constexpr std::int32_t DisplayLine = 44;
inline constexpr std::int32_t Echo = 49;
inline constexpr std::int32_t Emulation = 50;
inline constexpr std::int32_t EndOfLineMode = 51;
inline constexpr std::int32_t ForeColor = 54;
inline constexpr std::int32_t InputEcho = 62;
inline constexpr std::int32_t Rows = 89;
inline constexpr std::int32_t ScrollContents = 92;
inline constexpr std::int32_t ScrollRows = 93;
inline constexpr std::int32_t SelLength = 94;
inline constexpr std::int32_t SelStart = 95;
inline constexpr std::int32_t SelText = 96;
inline constexpr std::int32_t ToolbarVisible = 112;
inline constexpr std::int32_t StatusbarVisible = 113;
inline constexpr std::int32_t DoCommand = 116;
inline constexpr std::int32_t BorderStyle = 119;
inline constexpr std::int32_t CommandState = 121;
inline constexpr std::int32_t CharacterSet = 122;
inline constexpr std::int32_t Rendition = 123;
// File transfer.
inline constexpr std::int32_t AbortTransfer = 3;
inline constexpr std::int32_t Download = 45;
inline constexpr std::int32_t Upload = 99;
inline constexpr std::int32_t XferDestFilename = 100;
inline constexpr std::int32_t XferFileSize = 101;
inline constexpr std::int32_t XferMessage = 102;
inline constexpr std::int32_t XferProtocol = 103;
inline constexpr std::int32_t XferSourceFilename = 104;
inline constexpr std::int32_t XferStatus = 105;
inline constexpr std::int32_t XferStatusDialog = 106;
inline constexpr std::int32_t XferTransferred = 107;
inline constexpr std::int32_t XferPath = 120;
// Modem, dialing and project files.
inline constexpr std::int32_t Dial = 40;
inline constexpr std::int32_t DialMode = 41;
inline constexpr std::int32_t DialTimeOut = 42;
inline constexpr std::int32_t FillModemCombo = 52;
inline constexpr std::int32_t FillModemList = 53;
inline constexpr std::int32_t HangUp = 56;
inline constexpr std::int32_t InitModem = 60;
inline constexpr std::int32_t InitModemForAnswer = 61;
inline constexpr std::int32_t ModemAnswerCommand = 72;
inline constexpr std::int32_t ModemDialPulseCommand = 73;
inline constexpr std::int32_t ModemDialToneCommand = 74;
inline constexpr std::int32_t ModemHangUpCommand = 75;
inline constexpr std::int32_t ModemIndex = 76;
inline constexpr std::int32_t ModemInitCommand = 77;
inline constexpr std::int32_t ModemTitle = 78;
inline constexpr std::int32_t OutputModem = 85;
inline constexpr std::int32_t ProjectPhoneNumber = 114;
inline constexpr std::int32_t ProjectFilename = 115;
inline constexpr std::int32_t DialStatusDialog = 117;
inline constexpr std::int32_t UseTAPI = 118;
// Other.
inline constexpr std::int32_t About = 4;
}  // namespace MemberId

// Values of the CommEvent property: events 1..7 and 100, errors 1001..1011.
enum CommEventValue : std::int32_t {
    Event_Send = 1,
    Event_Receive = 2,
    Event_Cts = 3,
    Event_Dsr = 4,
    Event_Carrier = 5,
    Event_Ring = 6,
    Event_Eof = 7,
    Event_Transfer = 100,
    Error_None = 0,
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
    Error_DeviceRemoved = 1011,   // the device went away; PortOpen is false from then on
};

// Values of XferStatus; they pick the event of a transfer code (100).
enum TransferStatus : std::int32_t {
    TransferStatus_Failure = -1,
    TransferStatus_Success = 0,
    TransferStatus_WaitForFile = 1,
    TransferStatus_Prepare = 2,
    TransferStatus_Starting = 3,
    TransferStatus_Transfering = 4,
    TransferStatus_FileAbort = 5,
    TransferStatus_TransferAborting = 6,
    TransferStatus_EndOfFile = 7,
};

// Name and help string of an event DISPID (empty for an unknown one).
QELCOMM_CONTROL_API std::string EventName(std::int32_t dispid);
QELCOMM_CONTROL_API std::string EventHelp(std::int32_t dispid);
// Name ("Event_Receive", "Error_Parity"...) and help string of a CommEvent or
// CommError value (empty for an unknown one).
QELCOMM_CONTROL_API std::string CommEventName(std::int32_t code);
QELCOMM_CONTROL_API std::string CommEventHelp(std::int32_t code);
// The event a transfer code fires for a transfer status, 0 for none.
QELCOMM_CONTROL_API std::int32_t TransferEventFor(std::int32_t status);

class QELCOMM_CONTROL_API CQelComm {
public:
    // Creates the pop-up comm object, gives every field its default, pushes
    // them into the object and installs the event callback.
    CQelComm();
    // Destroys the comm object (closing its port). Safe inside an event
    // handler or while a blocking member of this control waits: the waiting
    // member then returns at once without touching the control.
    ~CQelComm();
    CQelComm(const CQelComm&) = delete;
    CQelComm& operator=(const CQelComm&) = delete;

    // The automation view of every member.
    const lt::automation::DispatchTable& Dispatch() const { return m_dispatch; }
    lt::automation::ConnectionPoint& Events() { return m_events; }
    lt::automation::ConnectionPoint& PropertyNotify() { return m_propertyNotify; }

    // Outcome of the last member called (success when it did not fail).
    const ErrorInfo& LastError() const { return m_lastError; }

    // The comm object every engine call goes to.
    win::Hwnd Window() const { return m_hObject; }
    // In-place activation: the pop-up object (and any port it had open) is
    // replaced by a child comm object of container; events then come as
    // command messages instead of the callback. Stored properties are
    // pushed into the new object.
    bool InPlaceActivate(win::Hwnd container);
    // The container's display name for the control; empty means "QelComm".
    // Taken over by the next apply step (construction, in-place activation).
    void SetAmbientDisplayName(const std::string& name) { m_ambientName = name; }
    // The container's status bar showing the control's state (port,
    // settings, connection); the apply step, every write of Settings,
    // CommPort and PortOpen, and a carrier change (on the callback road)
    // ask it to refresh.
    void SetStatusRefresh(std::function<void()> refresh) { m_statusRefresh = std::move(refresh); }
    const std::string& ObjectName() const { return m_objectName; }
    // Whether the container runs its form (true) or designs it; trace
    // lines of properties and events are written in run mode only.
    void SetAmbientUserMode(bool run) { m_ambientUserMode = run; }
    // Pushes every stored property into the comm object, then takes the
    // display name over.
    void ApplyProperties();

    // --- Persistence (qel_comm_persist.cpp). The persisted properties go
    // out and come back in one fixed order through their getters and
    // setters; no trace is written meanwhile.
    // A fresh state without loading: the construction values stand.
    void InitNew() {}
    void Save(lt::automation::ByteStream& out);
    void Save(lt::automation::PropertyBag& bag);
    // A stream load sets what it could read, then runs the apply step; a
    // failure's message is left in LastError() while the load itself
    // counts as done.
    void Load(lt::automation::ByteStream& in);
    // A bag load sets the properties it holds; no apply step.
    void Load(const lt::automation::PropertyBag& bag);
    // The extent the container gives the control, in HIMETRIC.
    std::int32_t ExtentX() const { return m_extentX; }
    std::int32_t ExtentY() const { return m_extentY; }
    void SetExtent(std::int32_t cx, std::int32_t cy) { m_extentX = cx; m_extentY = cy; }
    const lt::automation::FontDesc& Font() const { return m_font; }
    ErrorInfo SetFont(const lt::automation::FontDesc& font);

    // --- Port and line.
    std::int16_t CommPort() const;
    ErrorInfo SetCommPort(std::int16_t port);
    bool PortOpen() const;
    ErrorInfo SetPortOpen(bool open);   // a failed open raises no error
    std::string Settings() const;
    ErrorInfo SetSettings(const std::string& settings);
    std::int32_t Handshaking() const;
    ErrorInfo SetHandshaking(std::int32_t value);
    std::int32_t InBufferSize() const;
    ErrorInfo SetInBufferSize(std::int32_t bytes);
    std::int32_t OutBufferSize() const;
    ErrorInfo SetOutBufferSize(std::int32_t bytes);
    std::int32_t InBufferCount() const;
    ErrorInfo SetInBufferCount(std::int32_t count);    // 0 empties the queue
    std::int32_t OutBufferCount() const;
    ErrorInfo SetOutBufferCount(std::int32_t count);   // 0 empties the queue
    bool CTSHolding() const;
    bool DSRHolding() const;
    bool CDHolding() const;
    bool DTRHolding() const;
    ErrorInfo SetDTRHolding(bool on);
    bool RTSEnable() const;
    ErrorInfo SetRTSEnable(bool on);
    bool Break() const;
    ErrorInfo SetBreak(bool on);
    bool NullDiscard() const;
    ErrorInfo SetNullDiscard(bool on);
    std::string ParityReplace() const;                 // one character or empty
    ErrorInfo SetParityReplace(const std::string& text);
    std::int32_t CTSTimeOut() const;
    ErrorInfo SetCTSTimeOut(std::int32_t ms);
    std::int32_t DSRTimeOut() const;
    ErrorInfo SetDSRTimeOut(std::int32_t ms);
    std::int32_t CDTimeOut() const;
    ErrorInfo SetCDTimeOut(std::int32_t ms);
    std::int32_t CommHandle() const;
    ErrorInfo SetCommHandle(std::int32_t device);
    std::int32_t CommID() const { return CommHandle(); }
    ErrorInfo SetCommID(std::int32_t device) { return SetCommHandle(device); }

    // --- Input and output.
    // Input: the queued bytes (InputLen 0), or waits up to InTimeOut for
    // InputLen bytes and returns what came. Blocking and guarded; refused
    // while AutoReceive is on.
    ErrorInfo Input(std::string& out);
    ErrorInfo ComInput(std::string& out);
    // One line (up to a carriage return), at most 1023 bytes.
    ErrorInfo LineInput(std::string& out);
    ErrorInfo ComLineInput(std::string& out);
    std::int32_t InputLen() const { return m_inputLen; }
    ErrorInfo SetInputLen(std::int32_t count);
    std::int32_t InTimeOut() const;
    ErrorInfo SetInTimeOut(std::int32_t ms);
    std::int32_t OutTimeOut() const { return m_outTimeOut; }
    ErrorInfo SetOutTimeOut(std::int32_t ms);          // negative: ignored
    // Writes the bytes; a closed port writes nothing and succeeds.
    ErrorInfo Output(const std::string& bytes);
    // Writes the bytes, then a carriage return if they were written.
    ErrorInfo OutputLine(const std::string& bytes);
    bool CommEcho() const;
    ErrorInfo SetCommEcho(bool on);
    bool Busy() const;
    bool ShutDown() const;
    ErrorInfo SetShutDown(bool on);
    ErrorInfo Pause(std::int32_t ms);

    // --- Events and processing.
    std::int32_t RThreshold() const;
    ErrorInfo SetRThreshold(std::int32_t count);
    std::int32_t SThreshold() const;
    ErrorInfo SetSThreshold(std::int32_t count);
    std::int32_t CommEvent() const;
    std::int32_t CommError() const;    // the engine's last line-error mask
    // Wake on data (not stored with the control): the port wakes the engine
    // when bytes arrive or leave, so OnComm comes at once rather than at the
    // next poll; see SetWakeOnData in qelcomm6.h.
    bool WakeOnData() const;
    ErrorInfo SetWakeOnData(bool on);
    bool IgnoreOnComm() const { return m_ignoreOnComm != 0; }
    ErrorInfo SetIgnoreOnComm(bool on);
    std::int32_t AutoProcess() const;
    ErrorInfo SetAutoProcess(std::int32_t bits);
    bool AutoReceive() const;
    ErrorInfo SetAutoReceive(bool on);
    bool AutoSend() const;
    ErrorInfo SetAutoSend(bool on);
    std::int32_t Interval() const;
    ErrorInfo SetInterval(std::int32_t ms);
    std::int32_t Notification() const;
    ErrorInfo SetNotification(std::int32_t value);
    bool Enabled() const { return m_enabled; }
    ErrorInfo SetEnabled(bool on);

    // --- Look-up.
    // Reads until one of the LookUpText strings arrives; index is the
    // position of the string found, -1 for none. Blocking and guarded;
    // refused while AutoReceive is on.
    ErrorInfo LookUp(std::int32_t& index);
    std::string LookUpText() const { return m_lookUpText; }
    ErrorInfo SetLookUpText(const std::string& text);
    std::string LookUpSeparator() const { return std::string(1, m_lookUpSeparator); }
    ErrorInfo SetLookUpSeparator(const std::string& text);
    std::int32_t LookUpInputLen() const { return m_lookUpInputLen; }
    ErrorInfo SetLookUpInputLen(std::int32_t count);
    std::string LookUpInput() const { return m_lookUpInput; }
    std::int32_t LookUpTimeOut() const { return m_lookUpTimeOut; }
    ErrorInfo SetLookUpTimeOut(std::int32_t ms);

    // --- Trace switches.
    bool CommSpy() const { return m_spy != 0; }
    ErrorInfo SetCommSpy(bool on);
    bool CommSpyEvents() const { return m_spyEvents != 0; }
    ErrorInfo SetCommSpyEvents(bool on);
    bool CommSpyProperties() const { return m_spyProperties != 0; }
    ErrorInfo SetCommSpyProperties(bool on);
    bool CommSpyWarnings() const { return m_spyWarnings != 0; }
    ErrorInfo SetCommSpyWarnings(bool on);
    bool CommSpyInput() const { return m_spyInput != 0; }
    ErrorInfo SetCommSpyInput(bool on);
    bool CommSpyOutput() const { return m_spyOutput != 0; }
    ErrorInfo SetCommSpyOutput(bool on);

    // --- Modem output (guarded: it pauses while pumping messages).
    ErrorInfo OutputModem(const std::string& text);

    // Shows the About box modally, from the property pages' library
    // (libqelcomm6_control_pages, loaded when the program does not link
    // it); nothing when that library is missing or no window can show.
    void About();

    // Members of the terminal view, file transfer and modem areas that only
    // keep their value for now: read and written by DISPID (see Dispatch()).
    lt::automation::Variant StoredProperty(std::int32_t dispid) const;

private:
    friend struct ControlAccess;   // the event road and the member table

    void setDefaults();
    void createObject(win::Hwnd parent);
    void destroyObject();

    // Guard of the blocking members.
    class Guard;
    ErrorInfo checkAutoReceive(const char* member);
    ErrorInfo input(const char* member, std::string& out);
    ErrorInfo lineInput(const char* member, std::string& out);
    ErrorInfo write(const std::string& bytes, bool withCarriageReturn);

    // Event road: one engine code to OnComm and the specific event.
    void handleCode(std::int32_t code, bool fromCallback);
    void fire(std::int32_t dispid);
    void notifyChanged(std::int32_t dispid);
    // Asks the container's status bar to show the port, settings and
    // connection again (not while stored values are being loaded).
    void refreshStatus();
    ErrorInfo ok();
    ErrorInfo fail(HResult hr, const std::string& description);

    win::Hwnd m_hObject = 0;
    win::Hwnd m_commandWindow = 0;   // receives the object's command messages once in place
    std::string m_busyProperty;
    std::int32_t m_autoProcess = 3;
    std::int32_t m_inputLen = 0;
    std::int32_t m_ignoreOnComm = 0;
    std::int32_t m_spy = 0, m_spyEvents = 0, m_spyProperties = 0, m_spyWarnings = 0, m_spyInput = 0,
                 m_spyOutput = 0;
    std::string m_lookUpText, m_lookUpInput;
    char m_lookUpSeparator = '|';
    std::int32_t m_lookUpInputLen = 0, m_lookUpTimeOut = 10000;
    std::int32_t m_outTimeOut = 0;
    // The last Output or OutputLine wrote nothing and is not traced (a
    // closed port, another blocking member running).
    bool m_writeUntraced = false;
    std::int32_t m_loadDepth = 0;
    std::string m_objectName, m_ambientName;
    bool m_ambientUserMode = true;
    std::int32_t m_extentX = 5080, m_extentY = 5080;   // 2 by 2 inches
    lt::automation::FontDesc m_font;

    // Stored copies of the persisted communications properties.
    bool m_enabled = true;
    std::function<void()> m_statusRefresh;
    std::string m_settings = "9600,n,8,1";
    std::int32_t m_commPort = 1;
    std::int32_t m_handshaking = 2;
    std::int32_t m_inBufferSize = 16384, m_outBufferSize = 16384;
    std::int32_t m_rThreshold = 0, m_sThreshold = 0;
    bool m_rtsEnable = false, m_nullDiscard = false, m_commEcho = false;
    std::int32_t m_parityReplace = -1;
    std::int32_t m_inTimeOut = 0;
    std::int32_t m_ctsTimeOut = 0, m_dsrTimeOut = 0, m_cdTimeOut = 0;

    // Values of the members that only store them (by DISPID).
    std::map<std::int32_t, lt::automation::Variant> m_stored;
    std::map<std::int32_t, lt::automation::Variant> m_commandState;

    lt::automation::DispatchTable m_dispatch;
    lt::automation::ConnectionPoint m_events;
    lt::automation::ConnectionPoint m_propertyNotify;
    ErrorInfo m_lastError;
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};

}  // namespace qelcomm::control
