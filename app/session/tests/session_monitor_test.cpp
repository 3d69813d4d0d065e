// Connection monitoring with the service tick driven by the test and the
// echo result injected: who is pinged, when, and what a failed echo does.
#include "session_fixture.h"

#include "net/echo.h"
#include "pty_pair.h"
#include "temp_dir.h"
#include "winsock/socket_control.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace lintrel;
using namespace sessiontest;

namespace {

class ConnectionMonitoring : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetGlobals();
        ::setenv("LINTREL_HOME", home.path().c_str(), 1);
        map.map(3, pty.slavePath());
        lt::net::SetPingPeerHook([this](const std::string& address) {
            pinged.push_back(address);
            return echoResult;
        });
        GlobalOptions.PingEnabled = true;
        GlobalOptions.PingFrequency = 0;   // every 91 idle ticks
        GlobalOptions.LogErrors = true;
    }
    void TearDown() override
    {
        lt::net::SetPingPeerHook({});
        lt::net::SetEchoUnavailableHook({});
    }

    // A listening session on COM3 with two connected clients, its own
    // timer stopped so the test counts the ticks.
    void serverWithTwoClients()
    {
        s = std::make_unique<Session>(&host);
        s->Timer2.setEnabled(false);
        s->Combo2.select("COM3");
        s->TCPOption_Click(1);
        s->LocalIP.items.push_back("127.0.0.1");
        s->LocalIP.select("127.0.0.1");
        s->PortNumber.text = "0";
        s->Command1_Click();
        const int port = s->Winsock1(0).localPort;
        a = connectTo(port);
        b = connectTo(port);
        ASSERT_TRUE(a && b);
        ASSERT_TRUE(pumpUntil([&] {
            return s->ClientCount == 2 && s->Winsock1(2).state() == lt::winsock::SockState::Connected;
        }));
        PingIdleTicks = 0;
    }

    void ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            s->Timer2_Timer();
    }

    std::string errorLog() const
    {
        std::ifstream f(home.file("errorlog.txt"), std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }

    testsupport::TempDir home;
    testsupport::PtyPair pty;
    testsupport::PortsMap map;
    RecordingHost host;
    std::unique_ptr<Session> s;
    std::unique_ptr<QTcpSocket> a, b;
    std::vector<std::string> pinged;
    std::int32_t echoResult = 0;
};

TEST_F(ConnectionMonitoring, ConnectedPeersArePingedEveryStepAndTheListenerNever)
{
    serverWithTwoClients();
    ticks(90);
    EXPECT_TRUE(pinged.empty());
    EXPECT_EQ(PingIdleTicks, 90);
    ticks(1);
    EXPECT_EQ(pinged, (std::vector<std::string>{"127.0.0.1", "127.0.0.1"}));
    EXPECT_EQ(PingIdleTicks, 0);
    EXPECT_EQ(s->ClientCount, 2);   // both answered
    EXPECT_EQ(errorLog(), "");

    // Position 1 doubles the step; TCP data restarts the count.
    GlobalOptions.PingFrequency = 1;
    ticks(150);
    a->write("data");
    ASSERT_TRUE(pumpUntil([&] { return PingIdleTicks == 0; }));
    ticks(181);
    EXPECT_EQ(pinged.size(), 2u);
    ticks(1);
    EXPECT_EQ(pinged.size(), 4u);
}

TEST_F(ConnectionMonitoring, APeerThatDoesNotAnswerIsClosedAndLogged)
{
    serverWithTwoClients();
    echoResult = 11010;
    ticks(91);
    EXPECT_EQ(pinged.size(), 2u);
    EXPECT_EQ(s->ClientCount, 0);
    EXPECT_EQ(s->StatusBar1[1].text, "TCP/IP Status: Listening");
    EXPECT_TRUE(pumpUntil([&] { return a->state() != QAbstractSocket::ConnectedState &&
                                       b->state() != QAbstractSocket::ConnectedState; }));
    const std::string log = errorLog();
    const std::string entry = "Lintrel Error: Ping Failed - Ping Result = 11010   [IP Request Timed Out], ";
    EXPECT_EQ(log.find(entry), 0u) << log;
    EXPECT_NE(log.find(entry, 1), std::string::npos) << "one line per failed peer";
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);
}

TEST_F(ConnectionMonitoring, NoEchoWhileSerialBytesWaitOrWhenDisabled)
{
    serverWithTwoClients();
    s->txtTimeoutValue.text = "100000";
    s->BufferSerData.checked = true;
    s->SerialBuffer = "waiting";
    ticks(200);
    EXPECT_TRUE(pinged.empty());
    EXPECT_EQ(PingIdleTicks, 0);

    s->SerialBuffer.clear();
    GlobalOptions.PingEnabled = false;
    ticks(200);
    EXPECT_TRUE(pinged.empty());
    EXPECT_EQ(PingIdleTicks, 0);
}

// A user who may not open an ICMP socket: monitoring cannot work, so it
// must not close healthy peers as failed; it says why once and stays off.
TEST_F(ConnectionMonitoring, WithoutPermissionToPingPeersAreKeptAndTheReasonToldOnce)
{
    const std::string why = "datagram ICMP socket: Permission denied (this group is outside "
                            "net.ipv4.ping_group_range); raw ICMP socket: Operation not permitted "
                            "(needs CAP_NET_RAW)";
    int asked = 0;
    lt::net::SetEchoUnavailableHook([&] {
        ++asked;
        return why;
    });
    serverWithTwoClients();
    ticks(91 * 4);
    EXPECT_TRUE(pinged.empty());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(s->ClientCount, 2);
    EXPECT_EQ(s->StatusBar1[1].text, "TCP/IP Status: Ping monitoring off - " + why);
    pumpFor(100);
    EXPECT_EQ(a->state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(b->state(), QAbstractSocket::ConnectedState);
    const std::string log = errorLog();
    EXPECT_EQ(log.find("Lintrel Error: Ping monitoring off - " + why + ", "), 0u) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);

    // Permission granted later: the next activation monitors again.
    lt::net::SetEchoUnavailableHook({});
    s->Command1_Click();
    s->Command1_Click();
    const int port = s->Winsock1(0).localPort;
    a = connectTo(port);
    ASSERT_TRUE(a);
    ASSERT_TRUE(pumpUntil([&] { return s->ClientCount == 1; }));
    ticks(91);
    EXPECT_EQ(pinged.size(), 1u);
}

}  // namespace
