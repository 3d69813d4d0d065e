// Counters, the client list and the traffic tap against bytes actually
// sent end to end: a pseudo-terminal as the device on COM3, a virtual
// port with pyserial at its far end, real TCP peers on 127.0.0.1.
#include "session_fixture.h"

#include "pty_pair.h"
#include "qel_comm.h"
#include "temp_dir.h"
#include "traffic_log.h"
#include "winsock/socket_control.h"

#include <QProcess>

#include <gtest/gtest.h>

using namespace lintrel;
using namespace sessiontest;

namespace {

struct Seen {
    TrafficDirection direction;
    std::string client, bytes;
};

class RecordingTap : public TrafficTap {
public:
    std::vector<Seen> seen;
    void chunk(TrafficDirection d, const std::string& client, const char* data, std::size_t n) override
    {
        seen.push_back({d, client, std::string(data, n)});
    }
    std::string all(TrafficDirection d) const
    {
        std::string s;
        for (const Seen& x : seen)
            if (x.direction == d)
                s += x.bytes;
        return s;
    }
};

class SessionCounting : public DeviceOnCom3 {
protected:
    int activateServer(Session& s, bool lowLatency = false)
    {
        s.LowLatency.checked = lowLatency;
        s.Combo2.select("COM3");
        s.TCPOption_Click(1);
        s.LocalIP.items.push_back("127.0.0.1");
        s.LocalIP.select("127.0.0.1");
        s.PortNumber.text = "0";
        s.Command1_Click();
        EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Listening...");
        return s.Winsock1(0).localPort;
    }

    std::unique_ptr<QTcpSocket> join(Session& s, int port, int expected)
    {
        auto c = connectTo(port);
        EXPECT_TRUE(c);
        EXPECT_TRUE(pumpUntil([&] { return s.ClientCount == expected; }));
        pumpFor(20);
        return c;
    }

    std::string deviceReceive(std::size_t count, int ms = 5000)
    {
        std::string got;
        pumpUntil([&] {
            got += pty.receive(count - got.size(), 10);
            return got.size() >= count;
        }, ms);
        return got;
    }

    static std::string name(const QTcpSocket& c)
    {
        return "127.0.0.1:" + std::to_string(c.localPort());
    }
};

// Both data paths, with the session's own tick (specified timing) and with
// low latency (DataArrival writes at once, the send event for room).
TEST_F(SessionCounting, CountsBytesBothWaysPerClientAndOverall)
{
    for (bool lowLatency : {false, true}) {
        SCOPED_TRACE(lowLatency ? "low latency" : "specified timing");
        RecordingTap tap;
        Session s(&host);
        s.setTrafficTap(&tap);
        const int port = activateServer(s, lowLatency);
        auto a = join(s, port, 1), b = join(s, port, 2);

        const std::string fromDevice = allByteValues() + std::string(5000, 'x');
        pty.send(fromDevice);
        EXPECT_EQ(receive(a.get(), fromDevice.size()), fromDevice);
        EXPECT_EQ(receive(b.get(), fromDevice.size()), fromDevice);

        const std::string fromA(3000, 'a'), fromB = "bee";
        a->write(fromA.data(), qint64(fromA.size()));
        EXPECT_EQ(deviceReceive(fromA.size()), fromA);
        b->write(fromB.data(), qint64(fromB.size()));
        EXPECT_EQ(deviceReceive(fromB.size()), fromB);
        pumpFor(50);

        const SessionCounters& c = s.counters();
        EXPECT_EQ(c.serialIn, fromDevice.size());
        EXPECT_EQ(c.tcpOut, 2 * fromDevice.size());
        EXPECT_EQ(c.tcpIn, fromA.size() + fromB.size());
        EXPECT_EQ(c.serialOut, fromA.size() + fromB.size());
        EXPECT_EQ(c.opened, 2u);
        EXPECT_EQ(c.closed, 0u);
        EXPECT_EQ(c.errors, 0u);

        auto list = s.clients();
        ASSERT_EQ(list.size(), 2u);
        EXPECT_EQ(list[0].counters.name(), name(*a));
        EXPECT_EQ(list[0].counters.bytesOut, fromDevice.size());
        EXPECT_EQ(list[0].counters.bytesIn, fromA.size());
        EXPECT_EQ(list[1].counters.name(), name(*b));
        EXPECT_EQ(list[1].counters.bytesIn, fromB.size());
        EXPECT_GT(list[0].counters.sinceMs, 0);

        // What the tap saw is what crossed, each chunk named by its peer.
        EXPECT_EQ(tap.all(TrafficDirection::ToTcp), fromDevice);
        EXPECT_EQ(tap.all(TrafficDirection::ToSerial), fromA + fromB);
        for (const Seen& x : tap.seen) {
            if (x.direction == TrafficDirection::ToTcp)
                EXPECT_EQ(x.client, "2 clients");
            else
                EXPECT_TRUE(x.client == name(*a) || x.client == name(*b)) << x.client;
        }
        EXPECT_EQ(tap.seen.back().client, name(*b));

        // One leaves; counting it once, however the close is told.
        a->close();
        ASSERT_TRUE(pumpUntil([&] { return s.ClientCount == 1; }));
        EXPECT_EQ(s.counters().closed, 1u);
        ASSERT_EQ(s.clients().size(), 1u);
        EXPECT_EQ(s.clients()[0].counters.name(), name(*b));
        // Deactivation closes the other; activation starts from zero.
        s.Command1_Click();
        EXPECT_EQ(s.counters().closed, 2u);
        EXPECT_EQ(s.counters().tcpIn, fromA.size() + fromB.size());
        s.setTrafficTap(nullptr);
        activateServer(s, lowLatency);
        EXPECT_EQ(s.counters().serialIn, 0u);
        EXPECT_EQ(s.counters().opened, 0u);
        s.Command1_Click();
    }
}

TEST_F(SessionCounting, RoutingDropsAreCountedInButNotSeenCrossing)
{
    RecordingTap tap;
    Session s(&host);
    s.setTrafficTap(&tap);
    s.ServerTCPOptions = 1;     // ignore inbound TCP data
    s.ServerSerialOptions = 1;  // ignore inbound serial data
    const int port = activateServer(s);
    auto a = join(s, port, 1);
    a->write("dropped");
    pty.send("also dropped");
    EXPECT_TRUE(pumpUntil([&] { return s.counters().tcpIn == 7 && s.counters().serialIn == 12; }));
    pumpFor(100);
    EXPECT_EQ(s.counters().serialOut, 0u);
    EXPECT_EQ(s.counters().tcpOut, 0u);
    EXPECT_TRUE(tap.seen.empty());
}

TEST_F(SessionCounting, DisconnectFromTheClientTableClosesAndTells)
{
    Session s(&host);
    std::vector<std::pair<std::string, bool>> told;
    s.clientChanged = [&](const ClientCounters& c, bool up) { told.push_back({c.name(), up}); };
    const int port = activateServer(s);
    auto a = join(s, port, 1), b = join(s, port, 2);
    ASSERT_EQ(told.size(), 2u);
    const std::string aName = name(*a);
    EXPECT_EQ(told[0], std::make_pair(aName, true));

    const int index = s.clients().at(0).index;
    s.disconnectClient(index);
    EXPECT_EQ(s.ClientCount, 1);
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: (1) Connected");
    EXPECT_TRUE(pumpUntil([&] { return a->state() == QAbstractSocket::UnconnectedState; }));
    ASSERT_EQ(told.size(), 3u);
    EXPECT_EQ(told[2], std::make_pair(aName, false));
    // Its close event, coming late or not at all, is not counted twice;
    // a socket that is not connected is left alone.
    pumpFor(100);
    s.disconnectClient(index);
    s.disconnectClient(99);
    EXPECT_EQ(s.counters().closed, 1u);
    EXPECT_EQ(s.ClientCount, 1);
}

TEST_F(SessionCounting, ErrorsAreCounted)
{
    Session s(&host);
    s.Combo2.select("COM3");
    s.IPAddress.text = "127.0.0.1";
    s.PortNumber.text = "1";   // nothing listens there: the connection is refused
    s.Command1_Click();
    EXPECT_TRUE(pumpUntil([&] { return s.counters().errors >= 1; }));
    s.Command1_Click();
}

TEST_F(SessionCounting, VirtualPortPathIsCounted)
{
    // A program on the virtual port sends, then reads what the peer sent.
    const char* const program = R"(
import serial, sys, time
p = serial.Serial(sys.argv[1], 9600, timeout=5)
time.sleep(0.5)
p.write(b'from-program'); p.flush()
data = p.read(9)
sys.stdout.write(data.decode()); sys.stdout.flush()
time.sleep(0.3)
p.close()
)";
    RecordingTap tap;
    Session s(&host);
    s.setTrafficTap(&tap);
    s.chkVPort.checked = true;
    s.ConnectOnVirtualOpen = 0;
    const int port = activateServer(s);
    ASSERT_EQ(s.StatusBar1[0].text, "Virtual Port COM3 created");
    auto a = join(s, port, 1);

    QProcess p;
    p.start("/usr/bin/python3", {"-c", program, QString::fromStdString(ports.path() + "/COM3")});
    ASSERT_TRUE(p.waitForStarted(5000));
    EXPECT_EQ(receive(a.get(), 12, 10000), "from-program");
    a->write("from-peer");
    ASSERT_TRUE(pumpUntil([&] { return p.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(p.readAllStandardOutput().toStdString(), "from-peer");
    EXPECT_EQ(s.counters().serialIn, 12u);
    EXPECT_EQ(s.counters().tcpOut, 12u);
    EXPECT_EQ(s.counters().tcpIn, 9u);
    EXPECT_EQ(s.counters().serialOut, 9u);
    EXPECT_EQ(tap.all(TrafficDirection::ToTcp), "from-program");
    EXPECT_EQ(tap.all(TrafficDirection::ToSerial), "from-peer");
    s.Command1_Click();
}

}  // namespace
