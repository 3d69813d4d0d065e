// One session: a bridge between one serial endpoint (a real port driven by
// Comm1 or a virtual port created by Kelvad1) and one TCP endpoint (the
// socket array Winsock1).  The session owns its settings as field models
// that the session window binds to, its run-time state, its components and
// its two timers, and handles every event of them.  It has no widgets, so
// tests and the windowless mode drive the same code the window drives.
#pragma once

#include "fields.h"
#include "session_counters.h"
#include "session_security.h"
#include "session_timer.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace qelcomm::control { class CQelComm; }
class CKelvadCtrl;
namespace lt::winsock { class SocketControl; }

namespace lintrel {

class SessionHost;
class ComPortControl;

extern const char* const kCaptionSuffix;   // " - ZU232 Vu ZOD/UV"
extern const char* const kNewCaption;      // "New - ZU232 Vu ZOD/UV"

class Session {
public:
    // Most bytes SerialBuffer and TcpBuffer hold.  At the bound the session
    // stops taking bytes in: serial bytes stay in the port's queue (where
    // flow control holds the device), TCP bytes stay in the socket (where
    // TCP holds the peer), and both are taken once there is room again.
    static constexpr std::size_t kBufferBound = 16u << 20;
    // The service tick, and its pace while a low-latency session is idle.
    static constexpr int kTickMs = 50;
    static constexpr int kIdleTickMs = 1000;

    // Window load: fills the lists, creates the components with their
    // creation values and takes the host's address.  host may be null
    // (message boxes and dialogs are then skipped).
    explicit Session(SessionHost* host = nullptr);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // ---- settings (field models, read where they are used)
    ListField Combo2;                    // "NONE", "COM1" .. "COM99"
    std::array<ListField, 6> Combo1;     // baud, parity, data bits, stop bits, flow, buffer size
    CheckField BufferSerData;
    CheckField chkVPort;
    std::array<OptionField, 2> TCPOption;   // 0 client, 1 server
    TextField IPAddress;
    ListField LocalIP;
    TextField PortNumber;
    CheckField WaitForCr;
    TextField txtTimeoutValue;
    CheckField LowLatency;               // "Forward data at once (low latency)"
    CheckField Rfc2217;                  // "Telnet COM port control (RFC 2217)"
    LabelField lblHost;                  // caption above IPAddress / LocalIP
    LabelField lblPort;                  // caption above PortNumber
    SecurityFields Security;             // allowed clients and TLS

    // The five I/O options, edited through IoOptionTransfer.
    std::int16_t AllowMultiConnect = 1;
    std::int16_t ServerSerialOptions = 0;
    std::int16_t ServerTCPOptions = 0;
    std::int16_t ClientOptions = 0;
    std::int16_t ConnectOnVirtualOpen = 1;

    // ---- status display
    std::array<LabelField, 2> StatusBar1;     // 0 serial, 1 TCP
    std::array<IndicatorField, 2> Shape1;     // 0 serial receive, 1 TCP receive
    LabelField Command1;                      // the activation button's caption and state
    LabelField Command2;                      // "I/O Options..."
    std::string Caption;

    // ---- run-time state
    std::int16_t ServerMode = 0;
    std::int16_t PortIndex = 0;
    std::string SerialBuffer;
    std::int32_t TimeoutTicks = 0;
    std::string TcpBuffer;
    std::string HostAddress;
    std::string BreakMarker;
    std::int32_t HighSocketIndex = 0;
    std::int32_t ClientCount = 0;
    std::int32_t LedTicks = 0;
    bool InClose = false;
    bool LowLatencyActive = false;   // activated with LowLatency checked
    bool Rfc2217Active = false;      // activated with Rfc2217 checked

    // ---- components
    qelcomm::control::CQelComm& Comm1() { return *m_comm; }
    CKelvadCtrl& Kelvad1() { return *m_kelvad; }
    lt::winsock::SocketControl& Winsock1(int index) { return *m_sockets.at(std::size_t(index)); }
    int socketCount() const { return int(m_sockets.size()); }
    SessionTimer Timer1;
    SessionTimer Timer2;
    // Tries every 5 s to open a real port again whose device went away.
    SessionTimer ReopenTimer;

    // ---- operations of the window
    void Command1_Click();               // activate or deactivate
    void TCPOption_Click(int index);     // role switch
    void PortNumber_Change();            // after every edit of PortNumber
    void Command2_Click();               // I/O options dialog
    void Getstatus();                    // five I/O options -> IoOptionTransfer
    void UpdateStatus();                 // IoOptionTransfer -> five I/O options
    void Frame2_DblClick();              // connected clients message box
    bool isActive() const { return Command1.text == "De-Activate"; }
    // Where other programs open this session's virtual port; empty unless
    // the session is active with one.
    std::string virtualPortPath() const;

    // ---- events of the components (public so tests can drive them)
    void Comm1_OnComm();
    void Kelvad1_OnRxChar(std::int32_t count);
    void Kelvad1_OnOpenClose(bool opened);
    // What the program on the virtual port set (used with Rfc2217 only).
    void Kelvad1_OnBaudRate(std::int32_t baudRate);
    void Kelvad1_OnLineControl(std::int32_t stopBits, std::int32_t parity, std::int32_t wordLength);
    void Kelvad1_OnHandflow(std::int32_t controlHandShake, std::int32_t flowReplace);
    void Kelvad1_OnDTR(bool on);
    void Kelvad1_OnRTS(bool on);
    void Winsock1_ConnectionRequest(int index, long requestId);
    void Winsock1_DataArrival(int index);
    void Winsock1_Connect(int index);
    void Winsock1_Close(int index);
    void Winsock1_Error(int index, std::int16_t number, const std::string& description);
    void Timer1_Timer();
    void Timer2_Timer();

    // Appends a line to the error log and starts the on-error program, as
    // the global options ask.
    void LogErrors(const std::string& desc);

    // Called after every operation or event that may have changed a field.
    std::function<void()> changed;

    // ---- what crossed the session since its activation, and who is connected
    const SessionCounters& counters() const { return m_counters; }
    struct Client {
        int index;   // of the socket
        ClientCounters counters;
    };
    // The connected peers in socket order.
    std::vector<Client> clients();
    // Closes the connection on socket index as if the peer had closed it.
    void disconnectClient(int index);
    // One tap at a time (a monitor window or a trace file) sees every chunk;
    // null: none.  The session does not own it.
    void setTrafficTap(TrafficTap* tap) { m_tap = tap; }
    TrafficTap* trafficTap() const { return m_tap; }
    // A peer connected (true) or went away (false).
    std::function<void(const ClientCounters&, bool connected)> clientChanged;

private:
    friend class ComPortControl;
    class CommSink;
    class KelvadSink;
    void notify()
    {
        markSecureStatus();
        paceTimer2();
        if (changed)
            changed();
    }
    void fillLists();
    void setSettingsEnabled(bool on);
    void serialError(const std::string& description);
    bool tcpError(const std::string& description);
    bool openSerialSide();
    bool activate();
    void deactivate();
    void createComm();
    void connectKelvad();
    std::unique_ptr<lt::winsock::SocketControl> newSocket(int index);
    bool anyConnected();
    bool serialInputDropped() const;
    bool busy() const;
    std::size_t tcpBound();
    void paceTimer2();
    void applyLowLatency(bool on);
    void deviceRemoved();
    void reopenPort();
    bool sendToClients(const std::string& bytes);
    bool takesMore(int index, std::size_t bytes);
    void timeoutFlush();
    void writeTcpToSerial();
    void monitorConnections();
    void closeHandling(int index);
    void takeHeldSockets();
    bool prepareSecurity();
    void clientRefused(const std::string& ip, int port, const std::string& why);
    void showTlsFailure(std::int16_t number, const std::string& description);
    void markSecureStatus();
    void resetCounters();
    void clientOpened(int index);
    void clientClosed(int index);
    void tapToTcp(int peers, int lastIndex, const std::string& bytes);
    void tapToSerial(int index, const std::string& bytes);

    SessionHost* m_host;
    std::unique_ptr<qelcomm::control::CQelComm> m_comm;
    std::unique_ptr<CKelvadCtrl> m_kelvad;
    std::vector<std::unique_ptr<lt::winsock::SocketControl>> m_sockets;
    std::vector<int> m_heldSockets;   // sockets with bytes left unread at the bound
    RefusalLog m_refusals;
    bool m_pingUnavailable = false;   // no echo can be sent: monitoring off until reactivation
    std::unique_ptr<CommSink> m_commSink;
    std::unique_ptr<KelvadSink> m_kelvadSink;
    SessionCounters m_counters;
    TrafficTap* m_tap = nullptr;
    std::unique_ptr<ComPortControl> m_comPort;   // RFC 2217 on the TCP side
};

}  // namespace lintrel
