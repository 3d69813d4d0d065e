#include "session.h"
#include "session_sinks.h"

#include "global_options.h"
#include "number_text.h"
#include "session_host.h"
#include "session_rfc2217.h"

#include "kelvad_ctrl.h"
#include "kvd/kvd.h"
#include "qel_comm.h"
#include "net/echo.h"
#include "net/net.h"
#include "winsock/socket_control.h"

namespace lintrel {

const char* const kCaptionSuffix = " - ZU232 Vu ZOD/UV";
const char* const kNewCaption = "New - ZU232 Vu ZOD/UV";

Session::Session(SessionHost* host)
    : Timer1(5000, false, [this] { Timer1_Timer(); }),
      Timer2(kTickMs, true, [this] { Timer2_Timer(); }),
      ReopenTimer(5000, false, [this] { reopenPort(); }),
      m_host(host)
{
    fillLists();
    BreakMarker.assign(10, char(0xFF));

    createComm();
    m_kelvad = std::make_unique<CKelvadCtrl>();
    connectKelvad();
    m_sockets.push_back(newSocket(0));
    m_comPort = std::make_unique<ComPortControl>(*this);

    Caption = kNewCaption;
    StatusBar1[0].text = "COM Status:";
    StatusBar1[1].text = "TCP/IP Status:";
    Command1.text = "Activate";
    Command2.text = "I/O Options...";
    BufferSerData.caption = "Buffer Data If TCP/IP Port Closed";
    chkVPort.caption = "Create Virtual COM Port";
    WaitForCr.caption = "Wait for timeout before transmit.";
    LowLatency.caption = "Forward data at once (low latency)";
    Rfc2217.caption = "Telnet COM port control (RFC 2217)";
    TCPOption[0].caption = "This PC Will Act As TCP Client";
    TCPOption[1].caption = "This PC Will Act As TCP Server";
    PortNumber.text = "1000";
    txtTimeoutValue.text = "150";
    TCPOption[0].value = true;
    TCPOption_Click(0);

    for (const std::string& a : lt::net::listLocalAddresses())
        LocalIP.items.push_back(a);
    HostAddress = Winsock1(0).localIP();
    if (!HostAddress.empty()) {
        if (!LocalIP.select(HostAddress)) {
            LocalIP.items.push_back(HostAddress);
            LocalIP.index = int(LocalIP.items.size()) - 1;
        }
    } else {
        TCPOption[1].enabled = false;
        ServerMode = 0;
    }
    AllowMultiConnect = 1;
    ConnectOnVirtualOpen = 1;

    // Echo requests take their time-out from the global options; a new
    // session window starts it at 1000 ms.
    lt::net::SetPingTimeoutSource([] { return std::int64_t(GlobalOptions.PingTimeout); });
    lt::net::ResetEchoTimeout();
}

Session::~Session()
{
    // The timers go first so no tick reaches half-destroyed components.
    Timer1.setEnabled(false);
    Timer2.setEnabled(false);
    ReopenTimer.setEnabled(false);
}

void Session::fillLists()
{
    Combo2.items.push_back("NONE");
    for (int n = 1; n <= 99; ++n)
        Combo2.items.push_back("COM" + std::to_string(n));
    Combo2.index = 0;

    Combo1[0].items = {"110", "300", "600", "1200", "2400", "4800", "9600",
                       "14400", "19200", "28800", "38400", "57600", "115200"};
    Combo1[0].index = 6;
    Combo1[1].items = {"None", "Even", "Odd", "Mark", "Space"};
    Combo1[1].index = 0;
    Combo1[2].items = {"5", "6", "7", "8"};
    Combo1[2].index = 3;
    Combo1[3].items = {"1", "1.5", "2"};
    Combo1[3].index = 0;
    Combo1[4].items = {"None", "Xon/Xoff", "RTS/CTS", "Opto-RS"};
    Combo1[4].index = 0;
    Combo1[5].items = {"1024", "4096", "8192", "16384", "32768", "65536",
                       "131072", "262144", "524288"};
    Combo1[5].index = 2;
}

void Session::TCPOption_Click(int index)
{
    const bool server = index == 1;
    TCPOption[0].value = !server;
    TCPOption[1].value = server;
    IPAddress.visible = !server;
    LocalIP.visible = server;
    lblHost.text = server ? "Local IP Address" : "Remote Host IP Address";
    lblPort.text = server ? "Local Port" : "Remote Port";
    notify();
}

void Session::PortNumber_Change()
{
    if (numericValue(PortNumber.text) > 65535 && m_host)
        m_host->messageBox("Port numbers must range between 0 and 65565", "Error");
}

void Session::Getstatus()
{
    IoOptionTransfer.fields = {AllowMultiConnect, ServerSerialOptions, ServerTCPOptions,
                              ClientOptions, ConnectOnVirtualOpen};
}

void Session::UpdateStatus()
{
    const auto& s = IoOptionTransfer.fields;
    AllowMultiConnect = s[0];
    ServerSerialOptions = s[1];
    ServerTCPOptions = s[2];
    ClientOptions = s[3];
    ConnectOnVirtualOpen = s[4];
}

void Session::Command2_Click()
{
    auto& s = IoOptionTransfer.fields;
    if (TCPOption[1].value) {
        s[0] = AllowMultiConnect;
        s[1] = ServerSerialOptions;
        s[2] = ServerTCPOptions;
        if (m_host)
            m_host->showServerOptions();
        if (s[0] != IoOptionTransferRecord::kCancelMark) {
            AllowMultiConnect = s[0];
            ServerSerialOptions = s[1];
            ServerTCPOptions = s[2];
        }
    } else {
        s[3] = ClientOptions;
        s[4] = ConnectOnVirtualOpen;
        if (m_host)
            m_host->showClientOptions();
        if (s[3] != IoOptionTransferRecord::kCancelMark) {
            ClientOptions = s[3];
            ConnectOnVirtualOpen = s[4];
        }
    }
    notify();
}

void Session::Frame2_DblClick()
{
    if (TCPOption[0].value)
        return;
    std::string list;
    for (int i = 0; i <= HighSocketIndex && i < socketCount(); ++i)
        if (Winsock1(i).state() == lt::winsock::SockState::Connected)
            list += Winsock1(i).remoteHostIP() + "\r\n";
    if (m_host)
        m_host->messageBox(list, "Connected Clients:");
}

std::string Session::virtualPortPath() const
{
    if (!isActive() || !chkVPort.checked)
        return {};
    return kvd::portFolder() + "/COM" + std::to_string(PortIndex);
}

void Session::setSettingsEnabled(bool on)
{
    Combo2.enabled = on;
    for (auto& c : Combo1)
        c.enabled = on;
    Command2.enabled = on;
    TCPOption[1].enabled = on;
    TCPOption[0].enabled = on;
    IPAddress.enabled = on;
    PortNumber.enabled = on;
    LocalIP.enabled = on;
    chkVPort.enabled = on;
    LowLatency.enabled = on;
    Rfc2217.enabled = on;
    Security.setEnabled(on);
}

}  // namespace lintrel
