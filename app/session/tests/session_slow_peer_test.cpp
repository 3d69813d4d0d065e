// Peers that read slowly, not at all, or vanish: none of them may stall the
// session's thread (which serves every other session too), hold up the
// other clients, or make memory grow without bound; a device that comes
// back is used again.
#include "session_fixture.h"

#include "pty_pair.h"
#include "qel_comm.h"
#include "temp_dir.h"
#include "winsock/socket_control.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace lintrel;
using namespace sessiontest;

namespace {

using Clock = std::chrono::steady_clock;

class SlowPeers : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetGlobals();
        ::setenv("LINTREL_PORT_DIR", ports.path().c_str(), 1);
        ::setenv("LINTREL_HOME", home.path().c_str(), 1);
    }

    // A server session on COMn, 127.0.0.1, any port; returns the port.
    int serve(Session& s, const std::string& com)
    {
        s.Combo2.select(com);
        s.TCPOption_Click(1);
        s.LocalIP.items.push_back("127.0.0.1");
        s.LocalIP.select("127.0.0.1");
        s.PortNumber.text = "0";
        s.Command1_Click();
        EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Listening...");
        return s.Winsock1(0).localPort;
    }

    std::string errorLog() const
    {
        std::ifstream f(home.file("errorlog.txt"), std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }

    testsupport::TempDir ports, home;
    testsupport::PortsMap map;
    RecordingHost host;
};

std::string pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = char((i * 31 + i / 4093) & 0xFF);
    return s;
}

// A device that reads nothing while its client sends a megabyte: another
// session in the same thread still moves its bytes at once.
TEST_F(SlowPeers, ADeviceThatDoesNotReadHoldsUpNobody)
{
    testsupport::PtyPair stuck, lively;
    map.map(3, stuck.slavePath());
    map.map(4, lively.slavePath());
    Session a(&host), b(&host);
    auto flooder = connectTo(serve(a, "COM3"));
    auto other = connectTo(serve(b, "COM4"));
    ASSERT_TRUE(flooder && other);
    ASSERT_TRUE(pumpUntil([&] { return a.ClientCount == 1 && b.ClientCount == 1; }));

    const std::string flood = pattern(1 << 20);
    flooder->write(flood.data(), qint64(flood.size()));
    pumpFor(300);   // the flood is in the session and the port is full
    for (int round = 0; round < 5; ++round) {
        const auto start = Clock::now();
        other->write("ping");
        std::string got;
        ASSERT_TRUE(pumpUntil([&] {
            got += lively.receive(4 - got.size(), 5);
            return got.size() == 4;
        }, 5000)) << "round " << round;
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(2)) << "round " << round;
    }
    // The stuck device then reads after all: every byte, in order.
    std::string got;
    pumpUntil([&] {
        got += stuck.receive(flood.size() - got.size(), 2);
        return got.size() == flood.size();
    }, 30000);
    EXPECT_TRUE(got == flood) << got.size() << " of " << flood.size() << " bytes";
}

// One client does not read: once it holds the bound unread it is closed
// and logged, and the client that reads gets every byte.
TEST_F(SlowPeers, AClientThatDoesNotReadIsClosedAndTheOthersGetEverything)
{
    GlobalOptions.LogErrors = true;
    GlobalOptions.ClientQueueLimit = 1 << 20;
    testsupport::PtyPair device;
    map.map(3, device.slavePath());
    Session s(&host);
    s.LowLatency.checked = true;
    const int port = serve(s, "COM3");
    auto sleeper = std::make_unique<QTcpSocket>();
    sleeper->setReadBufferSize(4096);   // takes a little, then nothing
    sleeper->connectToHost(QHostAddress::LocalHost, quint16(port));
    ASSERT_TRUE(pumpUntil([&] { return sleeper->state() == QAbstractSocket::ConnectedState; }));
    const quint16 sleeperPort = sleeper->localPort();
    auto reader = connectTo(port);
    ASSERT_TRUE(reader);
    ASSERT_TRUE(pumpUntil([&] { return s.ClientCount == 2; }));
    pumpFor(50);

    const std::string data = pattern(24 << 20);
    std::string got;
    std::size_t sent = 0;
    const auto until = Clock::now() + std::chrono::seconds(60);
    while ((got.size() < data.size()) && Clock::now() < until) {
        if (sent < data.size())
            sent += device.trySend(data.substr(sent, std::min<std::size_t>(64 << 10, data.size() - sent)));
        pumpFor(1);
        const QByteArray b = reader->readAll();
        got.append(b.constData(), std::size_t(b.size()));
    }
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data) << "the reading client lost bytes";
    EXPECT_EQ(s.ClientCount, 1);
    const std::string log = errorLog();
    EXPECT_NE(log.find("Lintrel Error: client 127.0.0.1:" + std::to_string(sleeperPort) + " closed: not reading, "),
              std::string::npos) << log;
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

// The device's end goes away while the session is active (a USB adapter
// unplugged) and comes back under the same name: the session says so, logs
// it once, keeps its client, and moves data again.
TEST_F(SlowPeers, ADeviceThatGoesAwayAndComesBackIsUsedAgain)
{
    GlobalOptions.LogErrors = true;
    auto device = std::make_unique<testsupport::PtyPair>();
    const std::string link = ports.file("ttyUSB-test");
    std::filesystem::create_symlink(device->slavePath(), link);
    map.map(3, link);
    Session s(&host);
    auto client = connectTo(serve(s, "COM3"));
    ASSERT_TRUE(client);
    ASSERT_TRUE(pumpUntil([&] { return s.ClientCount == 1; }));

    device->hangUp();
    ASSERT_TRUE(pumpUntil([&] { return s.StatusBar1[0].text == "COM Status: Error - Device removed"; }, 5000))
        << s.StatusBar1[0].text;
    EXPECT_FALSE(s.Comm1().PortOpen());
    EXPECT_EQ(s.ClientCount, 1);   // the TCP side stays
    pumpFor(300);
    EXPECT_NE(errorLog().find("Lintrel Error: Device removed - COM3, "), std::string::npos) << errorLog();

    device = std::make_unique<testsupport::PtyPair>();   // plugged in again
    std::filesystem::remove(link);
    std::filesystem::create_symlink(device->slavePath(), link);
    ASSERT_TRUE(pumpUntil([&] { return s.StatusBar1[0].text == "COM Status: Open"; }, 8000))
        << s.StatusBar1[0].text;
    device->send("back");
    EXPECT_EQ(receive(client.get(), 4, 5000), "back");
    client->write("again");
    std::string got;
    pumpUntil([&] {
        got += device->receive(5 - got.size(), 2);
        return got.size() == 5;
    }, 5000);
    EXPECT_EQ(got, "again");
    const std::string log = errorLog();
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1) << log;
}

}  // namespace
