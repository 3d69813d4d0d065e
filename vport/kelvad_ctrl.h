// The virtual serial port control. It creates a virtual port in the driver,
// serves the port's far end (what another program writes arrives here, what
// is written here arrives in that program), drives the signals that program
// sees, and reports through events how the program opens, closes and
// configures the port.
//
// Every member runs on the thread that owns the control (the UI thread) and
// reports failure only through its result: false or 0, never an exception.
// Events are fired on that same thread, from the messages pumped there, to
// the sinks connected to connectionPoint().
#pragma once

#include "automation/automation.h"
#include "kvd/kvd.h"
#include "win/win.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace kelvad {

// Methods and properties of the dispatch interface _DKelvad.
constexpr std::int32_t DISPID_ABOUTBOX = -552;
constexpr std::int32_t DISPID_CREATEPORT = 1;
constexpr std::int32_t DISPID_DELETE = 2;
constexpr std::int32_t DISPID_WRITE = 3;
constexpr std::int32_t DISPID_READ = 4;
constexpr std::int32_t DISPID_SETDSR = 5;
constexpr std::int32_t DISPID_SETCTS = 6;
constexpr std::int32_t DISPID_ISOPENED = 7;
constexpr std::int32_t DISPID_GETINCOUNT = 8;
constexpr std::int32_t DISPID_PURGEQUEUE = 9;
constexpr std::int32_t DISPID_RESETBUS = 10;
constexpr std::int32_t DISPID_OPEN = 11;
constexpr std::int32_t DISPID_DELETEONEXIT = 12;
constexpr std::int32_t DISPID_SETRING = 14;
constexpr std::int32_t DISPID_SETDCD = 15;
constexpr std::int32_t DISPID_SETTIMEOUTS = 17;

// Events of _DKelvadEvents. The arguments reach EventSink::onEvent in the
// order given; "long" is an Int32 variant, "bool" a Bool variant.
constexpr std::int32_t DISPID_OnRxChar = 1;        // (long Count): bytes now waiting in the input queue
constexpr std::int32_t DISPID_OnDTR = 2;           // (bool On): the program's DTR
constexpr std::int32_t DISPID_OnRTS = 3;           // (bool On): the program's RTS
constexpr std::int32_t DISPID_OnRING = 4;          // (): a ring event
constexpr std::int32_t DISPID_OnOpenClose = 5;     // (bool Opened): a program opened / closed the port
constexpr std::int32_t DISPID_OnTimeouts = 6;      // (long ReadIntervalTimeout, long ReadTotalTimeoutMultiplier,
                                                   //  long ReadTotalTimeoutConstant, long WriteTotalTimeoutMultiplier,
                                                   //  long WriteTotalTimeoutConstant)
constexpr std::int32_t DISPID_OnLineControl = 7;   // (long StopBits 0=1, 1=1.5, 2=2; long Parity 0 none,
                                                   //  1 odd, 2 even, 3 mark, 4 space; long WordLength)
constexpr std::int32_t DISPID_OnHandflow = 8;      // (long ControlHandShake, long FlowReplace,
                                                   //  long XOnLimit, long XOffLimit)
constexpr std::int32_t DISPID_OnSpecialChars = 9;  // (long EofChar, long ErrorChar, long BreakChar,
                                                   //  long EventChar, long XOnChar, long XOffChar), 0..255 each
constexpr std::int32_t DISPID_OnBaudRate = 10;     // (long BaudRate)

// Notification the port event thread posts to the event window: wParam is
// one of the codes below, lParam a value or the key of a record copy.
constexpr std::uint32_t WM_PORT_NOTIFY = win::WM_USER + 101;  // 0x465
enum NotifyCode : std::uint32_t {
    kNotifyRxChar = 1,
    kNotifyCts = 2,
    kNotifyDsr = 3,
    kNotifyRing = 4,
    kNotifyTimeouts = 5,
    kNotifyOpenClose = 6,
    kNotifyLineControl = 7,
    kNotifyHandflow = 8,
    kNotifyChars = 9,
    kNotifyBaudRate = 10,
};

// Room for a port name in the driver's create request, in characters.
constexpr std::size_t kMaxPortName = 128;
// Longest name accepted: "NULL_" and the name must fit the 128 characters of
// the delete request, or the delete would name a different port.
constexpr std::size_t kMaxAcceptedPortName = 128 - 5;
// Attempts at creating, deleting and opening, and the pause after a failure.
constexpr int kAttempts = 20;
constexpr int kAttemptPauseMs = 50;
// Longest wait for the cross-process lock and for the attach requests.
constexpr int kLockWaitMs = 500;
constexpr int kAttachRequestWaitMs = 500;
// The event bits the port event thread handles.
constexpr std::uint32_t kPortEventMask = 0xEE000119;
constexpr std::uint32_t kQueueSize = 8192;

class CEventWindow;

}  // namespace kelvad

class CKelvadCtrl {
public:
    CKelvadCtrl();
    ~CKelvadCtrl();
    CKelvadCtrl(const CKelvadCtrl&) = delete;
    CKelvadCtrl& operator=(const CKelvadCtrl&) = delete;

    // --- _DKelvad -------------------------------------------------------
    // Creates the port PortName in the driver and attaches to its far end.
    // False for an empty or too long name (over kMaxAcceptedPortName bytes,
    // or holding a NUL), while a port is attached, when
    // the driver is busy or refuses the name, or when the far end cannot be
    // opened (the new port is then deleted again).
    bool CreatePort(const std::string& PortName);
    // Attaches to a port that already exists in the driver (made earlier by
    // this or another control and not deleted). False when it cannot.
    bool Open(const std::string& PortName);
    // Lets the attached port go and deletes it in the driver.
    bool Delete();
    // A program has the port open.
    bool IsOpened() const;
    // Sends Count bytes from Buffer to the program; returns the bytes written,
    // 0 while no program holds the port (nothing is taken then).
    std::int32_t Write(const std::uint8_t* Buffer, std::int32_t Count);
    // Takes at most Count of the bytes waiting into Buffer; returns how many.
    std::int32_t Read(std::uint8_t* Buffer, std::int32_t Count);
    // The control end's DTR / RTS, seen by the program as DSR / CTS.
    bool SetDSR(bool On);
    bool SetCTS(bool On);
    // Ring and carrier detect as the driver presents them to the program.
    bool SetRING(bool On);
    bool SetDCD(bool On);
    bool SetTimeouts(std::int32_t ReadIntervalTimeout, std::int32_t ReadTotalTimeoutMultiplier,
                     std::int32_t ReadTotalTimeoutConstant, std::int32_t WriteTotalTimeoutMultiplier,
                     std::int32_t WriteTotalTimeoutConstant);
    // Bytes waiting to be read; 0 when not attached.
    std::int32_t GetInCount();
    // Discards the waiting input; true in every case.
    bool PurgeQueue();
    // Deletes every virtual port in the driver; this control's state stays.
    bool ResetBus();
    // Whether destruction deletes the attached port (starts false).
    bool DeleteOnExit() const { return m_deleteOnExit != 0; }
    void SetDeleteOnExit(bool on);
    // Shows the About box through the container's handler, if it set one
    // (the control itself has no user interface).
    void AboutBox();

    // --- container side --------------------------------------------------
    lt::automation::ConnectionPoint& connectionPoint() { return m_events; }
    const lt::automation::DispatchTable& dispatch() const { return m_dispatch; }
    void setAboutBoxHandler(std::function<void()> handler) { m_aboutBox = std::move(handler); }
    // A port is attached to this control (m_created).
    bool IsCreated() const { return m_created; }
    // The port name as given to CreatePort or Open; empty while detached.
    std::string PortName() const;
    // Set when a property changed since the container last cleared it.
    bool IsModified() const { return m_modified; }
    void SetModifiedFlag(bool modified = true) { m_modified = modified; }

    // --- driver protocol (also used by tests) -----------------------------
    // Takes the cross-process lock (at most 500 ms) and opens the driver's
    // control device; invalid handle on failure, with the lock given back.
    kvd::Handle AcquireControlDevice();
    // Closes the control device handle and gives the lock back.
    void ReleaseControlDevice(kvd::Handle device);

private:
    friend class kelvad::CEventWindow;
    friend void PortEventThread(CKelvadCtrl* ctrl, kvd::Handle port);

    // Fires an event to the connected sinks (UI thread only).
    void FireEvent(std::int32_t dispid, lt::automation::Args& args);

    enum class AttachResult { Ok, NoPortEnd, DriverSilent };
    bool checkName(const std::string& name, std::u16string& wide) const;
    AttachResult AttachPort();
    bool attached() const { return m_created && m_hPort != kvd::kInvalidHandle; }
    bool sendControlRequest(kvd::Handle device, std::uint32_t code, const void* in, std::uint32_t size);
    void destroyEventWindow();
    void stopThread();
    void buildDispatch();

    // Called by the port event thread: posts a notification while the event
    // window exists; record (of recordSize bytes) is copied for the message.
    void notify(std::uint32_t code, std::intptr_t value, const void* record = nullptr,
                std::size_t recordSize = 0);

    bool m_created = false;
    std::atomic<bool> m_opened{false};
    std::u16string m_deviceName;  // "NULL_" + port name
    kvd::Handle m_hPort = kvd::kInvalidHandle;
    std::thread m_hThread;
    std::unique_ptr<kvd::NamedLock> m_hControlLock;
    std::mutex m_eventWndMutex;  // guards m_pEventWnd against the port event thread
    std::unique_ptr<kelvad::CEventWindow> m_pEventWnd;
    std::int32_t m_deleteOnExit = 0;
    bool m_modified = false;

    lt::automation::ConnectionPoint m_events;
    lt::automation::DispatchTable m_dispatch;
    std::function<void()> m_aboutBox;
};

// The port event thread: waits for the driver's events on port and posts
// them to the control's event window until the port end is closed.
void PortEventThread(CKelvadCtrl* ctrl, kvd::Handle port);
