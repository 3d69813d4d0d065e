// Activation and deactivation against real things: a pseudo-terminal
// mapped as a COM port, TCP peers on 127.0.0.1, virtual ports in a
// temporary port folder.
#include "session_fixture.h"

#include "kelvad_ctrl.h"
#include "pty_pair.h"
#include "temp_dir.h"
#include "qel_comm.h"
#include "winsock/socket_control.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

using namespace lintrel;
using namespace sessiontest;

namespace {

class SessionActivation : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetGlobals();
        ::setenv("LINTREL_PORT_DIR", ports.path().c_str(), 1);
        map.map(3, pty.slavePath());
    }

    // A session set for COM3 as a client of the test's server.
    void clientOf(Session& s, int port)
    {
        s.Combo2.select("COM3");
        s.IPAddress.text = "127.0.0.1";
        s.PortNumber.text = std::to_string(port);
    }

    static bool settingsEnabled(const Session& s)
    {
        bool all = s.Combo2.enabled && s.Command2.enabled && s.TCPOption[0].enabled &&
                   s.TCPOption[1].enabled && s.IPAddress.enabled && s.PortNumber.enabled &&
                   s.LocalIP.enabled && s.chkVPort.enabled;
        bool any = s.Combo2.enabled || s.Command2.enabled || s.TCPOption[0].enabled ||
                   s.TCPOption[1].enabled || s.IPAddress.enabled || s.PortNumber.enabled ||
                   s.LocalIP.enabled || s.chkVPort.enabled;
        for (const auto& c : s.Combo1) {
            all = all && c.enabled;
            any = any || c.enabled;
        }
        EXPECT_EQ(all, any) << "settings fields partly enabled";
        return all;
    }

    testsupport::TempDir ports;
    testsupport::PtyPair pty;
    testsupport::PortsMap map;
    RecordingHost host;
};

TEST_F(SessionActivation, ClientActivatesOpensThePortConnectsAndDeactivates)
{
    TcpPeerServer server;
    Session s(&host);
    clientOf(s, server.port());
    s.Combo1[0].select("57600");
    s.Combo1[3].select("2");
    s.Combo1[4].select("RTS/CTS");
    s.Command1_Click();

    EXPECT_EQ(s.StatusBar1[0].text, "COM Status: Open");
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Connecting...");
    EXPECT_EQ(s.Caption, "COM3 - ZU232 Vu ZOD/UV");
    EXPECT_EQ(s.Command1.text, "De-Activate");
    EXPECT_FALSE(settingsEnabled(s));
    EXPECT_TRUE(s.BufferSerData.enabled && s.WaitForCr.enabled && s.txtTimeoutValue.enabled);
    EXPECT_EQ(s.ServerMode, 0);
    EXPECT_EQ(s.PortIndex, 3);

    const auto line = pty.line();
    EXPECT_EQ(line.baud, 57600u);
    EXPECT_EQ(line.stopBits, 2);
    EXPECT_TRUE(line.rtsCts);

    ASSERT_NE(server.waitForClient(), nullptr);
    EXPECT_TRUE(pumpUntil([&] { return s.StatusBar1[1].text == "TCP/IP Status: Connected"; }));

    s.Command1_Click();
    EXPECT_EQ(s.StatusBar1[0].text, "COM Status: Closed");
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Closed");
    EXPECT_EQ(s.Command1.text, "Activate");
    EXPECT_TRUE(settingsEnabled(s));
    EXPECT_EQ(s.Caption, "COM3 - ZU232 Vu ZOD/UV");   // deactivation keeps it
    EXPECT_FALSE(s.Comm1().PortOpen());
    QTcpSocket* peer = server.clients[0];
    EXPECT_TRUE(pumpUntil([&] { return peer->state() != QAbstractSocket::ConnectedState; }));
}

TEST_F(SessionActivation, ServerListensAndCountsItsClients)
{
    Session s(&host);
    s.Combo2.select("COM3");
    s.TCPOption_Click(1);
    s.LocalIP.items.push_back("127.0.0.1");
    s.LocalIP.select("127.0.0.1");
    s.PortNumber.text = "0";   // any free port
    s.Command1_Click();
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Listening...");
    EXPECT_EQ(s.ServerMode, 1);
    const int port = s.Winsock1(0).localPort;
    ASSERT_GT(port, 0);

    auto c1 = connectTo(port);
    ASSERT_TRUE(c1);
    EXPECT_TRUE(pumpUntil([&] { return s.StatusBar1[1].text == "TCP/IP Status: (1) Connected"; }));
    c1->close();
    EXPECT_TRUE(pumpUntil([&] { return s.StatusBar1[1].text == "TCP/IP Status: Listening"; }));
    EXPECT_EQ(s.ClientCount, 0);
    s.Command1_Click();
    EXPECT_EQ(s.Winsock1(0).localPort, 0);
}

TEST_F(SessionActivation, ServerPortInUseClosesTheSerialSideAndShowsTheSocketError)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost, 0));
    Session s(&host);
    s.Combo2.select("COM3");
    s.TCPOption_Click(1);
    s.LocalIP.items.push_back("127.0.0.1");
    s.LocalIP.select("127.0.0.1");
    s.PortNumber.text = std::to_string(holder.serverPort());
    s.Command1_Click();

    const std::string prefix = "TCP/IP Status: Error - ";
    ASSERT_EQ(s.StatusBar1[1].text.rfind(prefix, 0), 0u) << s.StatusBar1[1].text;
    EXPECT_GT(s.StatusBar1[1].text.size(), prefix.size());
    EXPECT_EQ(s.StatusBar1[0].text, "COM Status: Closed");
    EXPECT_FALSE(s.Comm1().PortOpen());
    // The activation still completes; the user de-activates to start again.
    EXPECT_EQ(s.Command1.text, "De-Activate");
    EXPECT_TRUE(s.Winsock1(0).remoteHost.empty());
    EXPECT_EQ(s.Winsock1(0).remotePort, 0);
}

// Whether a TCP client gets through to address:port within a second.
bool reachable(const char* address, int port)
{
    QTcpSocket c;
    c.connectToHost(QHostAddress(QString(address)), quint16(port));
    const bool up = pumpUntil([&] { return c.state() == QAbstractSocket::ConnectedState ||
                                           c.state() == QAbstractSocket::UnconnectedState; },
                              1000);
    return up && c.state() == QAbstractSocket::ConnectedState;
}

TEST_F(SessionActivation, ServerListensOnExactlyTheAddressAskedForOrNotAtAll)
{
    QTcpServer probe;   // a free port, then freed
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    const int port = probe.serverPort();
    probe.close();

    auto serve = [&](Session& s, const std::string& address) {
        s.Combo2.select("COM3");
        s.TCPOption_Click(1);
        s.LocalIP.items.push_back(address);
        s.LocalIP.select(address);
        s.PortNumber.text = std::to_string(port);
        s.Command1_Click();
    };
    {
        Session s(&host);
        serve(s, "127.0.0.1");
        EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Listening...");
        EXPECT_TRUE(reachable("127.0.0.1", port));
        // 127.0.0.2 reaches this host too, but not a listener bound to 127.0.0.1.
        EXPECT_FALSE(reachable("127.0.0.2", port));
        s.Command1_Click();
    }
    const std::string notAnAddress[] = {"localhost", "AAAA", std::string(250, '1'),
                                        "127.0.0.1\xff\xfe", "192.0.2.1" /* not this host's */};
    for (const std::string& address : notAnAddress) {
        Session s(&host);
        serve(s, address);
        EXPECT_EQ(s.StatusBar1[1].text.rfind("TCP/IP Status: Error - ", 0), 0u)
            << address << ": " << s.StatusBar1[1].text;
        EXPECT_EQ(s.StatusBar1[0].text, "COM Status: Closed") << address;
        EXPECT_FALSE(reachable("127.0.0.1", port)) << address;
        EXPECT_FALSE(reachable("127.0.0.2", port)) << address;
        s.Command1_Click();
    }
}

TEST_F(SessionActivation, PortHeldByAnotherProgramIsNotAvailable)
{
    const int fd = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    TcpPeerServer server;
    Session s(&host);
    clientOf(s, server.port());
    s.Command1_Click();
    EXPECT_EQ(s.StatusBar1[0].text, "COM Status: Error - Port not available");
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status:");
    EXPECT_EQ(s.Command1.text, "Activate");
    EXPECT_TRUE(settingsEnabled(s));
    pumpFor(100);
    EXPECT_TRUE(server.clients.empty());
    ::close(fd);
}

TEST_F(SessionActivation, SettingsAreCheckedBeforeAnythingOpens)
{
    Session s(&host);
    s.Combo2.select("COM3");
    s.Command1_Click();   // no remote host
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Error - Invalid IP Address");
    EXPECT_EQ(s.StatusBar1[0].text, "COM Status:");
    EXPECT_FALSE(s.Comm1().PortOpen());

    s.IPAddress.text = "127.0.0.1";
    for (const char* bad : {"65536", "-1"}) {
        s.StatusBar1[1].text.clear();
        s.PortNumber.text = bad;
        s.Command1_Click();
        EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Error - Invalid Port Number") << bad;
        EXPECT_EQ(s.Command1.text, "Activate");
        EXPECT_FALSE(s.Comm1().PortOpen());
    }

    s.PortNumber.text = "1000";
    s.Combo2.select("NONE");
    s.StatusBar1[0].text = "x";
    s.Command1_Click();
    EXPECT_EQ(s.Caption, "New - ZU232 Vu ZOD/UV");
    EXPECT_EQ(s.StatusBar1[0].text, "COM Status:");
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status:");
    EXPECT_EQ(s.Command1.text, "Activate");
}

TEST_F(SessionActivation, NonNumericPortMeansPortZeroAndTheConnectFailure)
{
    Session s(&host);
    clientOf(s, 0);
    s.PortNumber.text = "abc";
    s.Command1_Click();
    // Port 0 passes the check; connecting to it fails at once, which runs
    // the TCP error handling and still completes the activation.
    EXPECT_EQ(s.StatusBar1[1].text.rfind("TCP/IP Status: Error - ", 0), 0u) << s.StatusBar1[1].text;
    EXPECT_EQ(s.StatusBar1[0].text, "COM Status: Closed");
    EXPECT_EQ(s.Command1.text, "De-Activate");
    s.Command1_Click();
    EXPECT_EQ(s.Command1.text, "Activate");
}

TEST_F(SessionActivation, VirtualPortIsCreatedOnceAndDeletedAtDeactivation)
{
    Session a(&host), b(&host);
    for (Session* s : {&a, &b}) {
        s->chkVPort.checked = true;
        s->Combo2.select("COM5");
        s->IPAddress.text = "127.0.0.1";
    }
    a.Command1_Click();
    EXPECT_EQ(a.StatusBar1[0].text, "Virtual Port COM5 created");
    // Connecting waits for a program to open the port.
    EXPECT_EQ(a.StatusBar1[1].text, "TCP/IP Status:");
    EXPECT_EQ(a.Command1.text, "De-Activate");
    EXPECT_EQ(::access((ports.path() + "/COM5").c_str(), F_OK), 0);

    b.Command1_Click();
    EXPECT_EQ(b.StatusBar1[0].text, "Cannot create virtual COM5");
    EXPECT_EQ(b.Command1.text, "Activate");

    a.Command1_Click();
    EXPECT_EQ(a.StatusBar1[0].text, "Virtual port closed");
    EXPECT_EQ(a.Command1.text, "Activate");
    EXPECT_NE(::access((ports.path() + "/COM5").c_str(), F_OK), 0);
}

}  // namespace
