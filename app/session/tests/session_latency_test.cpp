// "Forward data at once (low latency)": bytes cross the session in the
// events themselves, not at the polling interval or the 50 ms tick. The
// tests make that unambiguous by setting the comm object's polling interval
// to ten seconds and stopping the session's tick.
#include "session_fixture.h"

#include "kelvad_ctrl.h"
#include "pty_pair.h"
#include "qel_comm.h"
#include "temp_dir.h"
#include "winsock/socket_control.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <chrono>

using namespace lintrel;
using namespace sessiontest;

namespace {

using Clock = std::chrono::steady_clock;

class LowLatency : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetGlobals();
        ::setenv("LINTREL_PORT_DIR", ports.path().c_str(), 1);
        map.map(3, pty.slavePath());
    }

    // A low-latency server on COM3 (127.0.0.1, any port), one client
    // joined, the session's own tick stopped.
    std::unique_ptr<QTcpSocket> serveOneClient(Session& s, const char* bufferSize = "8192")
    {
        s.LowLatency.checked = true;
        s.Combo2.select("COM3");
        s.Combo1[5].select(bufferSize);
        s.TCPOption_Click(1);
        s.LocalIP.items.push_back("127.0.0.1");
        s.LocalIP.select("127.0.0.1");
        s.PortNumber.text = "0";
        s.Command1_Click();
        EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Listening...");
        s.Comm1().SetInterval(10000);
        auto c = connectTo(s.Winsock1(0).localPort);
        EXPECT_TRUE(c);
        EXPECT_TRUE(pumpUntil([&] { return s.ClientCount == 1; }));
        pumpFor(50);
        s.Timer2.setEnabled(false);
        return c;
    }

    std::string deviceReceive(std::size_t count, int ms = 5000)
    {
        std::string got;
        pumpUntil([&] {
            got += pty.receive(count - got.size(), 2);
            return got.size() >= count;
        }, ms);
        return got;
    }

    testsupport::TempDir ports;
    testsupport::PtyPair pty;
    testsupport::PortsMap map;
    RecordingHost host;
};

std::string pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = char((i * 13 + i / 256) & 0xFF);
    return s;
}

TEST_F(LowLatency, BothWaysWithoutThePollOrTheTick)
{
    Session s(&host);
    auto client = serveOneClient(s);
    ASSERT_TRUE(client);
    for (int round = 0; round < 3; ++round) {
        const auto start = Clock::now();
        pty.send("?");
        EXPECT_EQ(receive(client.get(), 1, 5000), "?");
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(5)) << "waited for the 10 s poll";

        client->write("!");
        EXPECT_EQ(deviceReceive(1), "!") << "TCP bytes waited for the stopped tick";
    }
    // Sockets take small segments at once.
    EXPECT_TRUE(s.Winsock1(1).noDelay);
    s.Command1_Click();
    EXPECT_FALSE(s.Comm1().WakeOnData());
}

// The device does not read at first: the output queue fills, the rest of
// the client's bytes wait in the session, and as the device reads, room is
// reported and everything follows in order, with the tick still stopped.
TEST_F(LowLatency, AFullOutputQueueSendsTheRestInOrderWhenRoomAppears)
{
    Session s(&host);
    auto client = serveOneClient(s);
    ASSERT_TRUE(client);
    const std::string data = pattern(300 * 1024);
    client->write(data.data(), qint64(data.size()));
    ASSERT_TRUE(pumpUntil([&] { return !s.TcpBuffer.empty(); }, 5000));
    EXPECT_GT(s.Comm1().OutBufferCount(), 0);
    const std::string got = deviceReceive(data.size(), 20000);
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data) << "bytes lost or out of order";
    EXPECT_TRUE(s.TcpBuffer.empty());
}

// Packet mode keeps its meaning: whole packets go at once, a remainder
// waits for the time-out, which the (running) tick measures.
TEST_F(LowLatency, PacketModeStillHoldsARemainderForItsTimeOut)
{
    GlobalOptions.PacketSize = 100;
    Session s(&host);
    s.WaitForCr.checked = true;
    s.txtTimeoutValue.text = "300";
    auto client = serveOneClient(s);
    ASSERT_TRUE(client);
    s.Timer2.setEnabled(true);
    pty.send(pattern(250));
    EXPECT_EQ(receive(client.get(), 200, 5000).size(), 200u);
    pumpFor(100);
    EXPECT_EQ(client->bytesAvailable(), 0) << "the remainder did not wait";
    EXPECT_EQ(receive(client.get(), 50, 5000).size(), 50u);
}

// The virtual port's road is as prompt: a program on the port echoes what
// it reads, with the session's tick stopped.
TEST_F(LowLatency, AVirtualPortEchoesWithoutTheTick)
{
    const char* const echo = R"(
import serial, sys
p = serial.Serial(sys.argv[1], 9600, timeout=5)
for i in range(3):
    b = p.read(5)
    p.write(b)
    p.flush()
p.close()
)";
    Session s(&host);
    s.LowLatency.checked = true;
    s.chkVPort.checked = true;
    s.Combo2.select("COM5");
    s.TCPOption_Click(1);
    s.LocalIP.items.push_back("127.0.0.1");
    s.LocalIP.select("127.0.0.1");
    s.PortNumber.text = "0";
    s.Command1_Click();
    ASSERT_EQ(s.StatusBar1[0].text, "Virtual Port COM5 created");
    auto client = connectTo(s.Winsock1(0).localPort);
    ASSERT_TRUE(client);
    ASSERT_TRUE(pumpUntil([&] { return s.ClientCount == 1; }));
    QProcess program;
    program.start("/usr/bin/python3", {"-c", echo, QString::fromStdString(ports.path() + "/COM5")});
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_TRUE(pumpUntil([&] { return s.Kelvad1().IsOpened(); }, 10000));
    s.Timer2.setEnabled(false);
    for (const char* word : {"alpha", "bravo", "charl"}) {
        client->write(word);
        EXPECT_EQ(receive(client.get(), 5, 5000), word);
    }
    pumpUntil([&] { return program.state() == QProcess::NotRunning; }, 10000);
}

// While nothing waits, a low-latency session's tick slows to once a
// second; any traffic brings it back to 50 ms until the work is done.
TEST_F(LowLatency, TheTickSlowsWhileIdle)
{
    Session s(&host);
    auto client = serveOneClient(s);
    ASSERT_TRUE(client);
    s.Timer2.setEnabled(true);
    ASSERT_TRUE(pumpUntil([&] { return s.Timer2.interval() == Session::kIdleTickMs; }, 3000));
    pty.send("x");
    ASSERT_TRUE(pumpUntil([&] { return s.Timer2.interval() == Session::kTickMs; }, 3000));
    EXPECT_EQ(receive(client.get(), 1, 5000), "x");
    EXPECT_TRUE(pumpUntil([&] { return s.Timer2.interval() == Session::kIdleTickMs; }, 3000));

    Session plain(&host);   // without low latency: always 50 ms
    EXPECT_EQ(plain.Timer2.interval(), Session::kTickMs);
}

}  // namespace
