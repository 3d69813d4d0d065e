// Bytes through an active session end to end: a pseudo-terminal as the
// device on COM3, real TCP peers on 127.0.0.1, the loopback double where
// the line itself must be observed (breaks).
#include "session_fixture.h"

#include "pty_pair.h"
#include "qel_comm.h"
#include "serial/loopback.h"
#include "serial/serial.h"
#include "temp_dir.h"
#include "winsock/socket_control.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>

#include <sys/stat.h>

using namespace lintrel;
using namespace sessiontest;
using lt::winsock::SockState;

namespace {

class SessionBridge : public DeviceOnCom3 {
protected:
    // Activates s on COM3 as a client of server.
    void activateClient(Session& s, const TcpPeerServer& server)
    {
        s.Combo2.select("COM3");
        s.IPAddress.text = "127.0.0.1";
        s.PortNumber.text = std::to_string(server.port());
        s.Command1_Click();
        ASSERT_EQ(s.StatusBar1[0].text, "COM Status: Open");
        ASSERT_TRUE(pumpUntil([&] { return s.StatusBar1[1].text == "TCP/IP Status: Connected"; }));
    }

    // Activates s on the given COM port as a server on 127.0.0.1; returns
    // the port it listens on.
    int activateServer(Session& s, const char* com = "COM3")
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

    // Connects a client and waits until the session counts it.
    std::unique_ptr<QTcpSocket> join(Session& s, int port, int expectedCount)
    {
        auto c = connectTo(port);
        EXPECT_TRUE(c);
        EXPECT_TRUE(pumpUntil([&] { return s.ClientCount == expectedCount; }));
        // The accepted element reports connected once the session accepted it.
        pumpFor(20);
        return c;
    }

    // What the device at the far end of COM3 receives within ms, pumping
    // the session meanwhile (its tick writes TCP bytes to the port).
    std::string deviceReceive(std::size_t count, int ms = 5000)
    {
        std::string got;
        pumpUntil([&] {
            got += pty.receive(count - got.size(), 10);
            return got.size() >= count;
        }, ms);
        return got;
    }

    static std::string readErrorLog(const std::string& folder)
    {
        std::ifstream f(folder + "/errorlog.txt", std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
};

TEST_F(SessionBridge, EveryByteValuePassesBothWays)
{
    TcpPeerServer server;
    Session s(&host);
    activateClient(s, server);
    QTcpSocket* peer = server.clients.at(0);

    const std::string bytes = allByteValues() + allByteValues();
    pty.send(bytes);
    EXPECT_EQ(receive(peer, bytes.size()), bytes);

    peer->write(bytes.data(), qint64(bytes.size()));
    EXPECT_EQ(deviceReceive(bytes.size()), bytes);
}

TEST_F(SessionBridge, ServerSendsToEveryClientAndTakesFromEach)
{
    Session s(&host);
    const int port = activateServer(s);
    auto a = join(s, port, 1), b = join(s, port, 2), c = join(s, port, 3);
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: (3) Connected");
    EXPECT_EQ(s.HighSocketIndex, 3);

    const std::string bytes = allByteValues();
    pty.send(bytes);
    for (QTcpSocket* client : {a.get(), b.get(), c.get()})
        EXPECT_EQ(receive(client, bytes.size()), bytes);

    b->write("from-b");
    EXPECT_EQ(deviceReceive(6, 3000), "from-b");

    // The client at index 1 leaves; the next one takes index 1.
    a->close();
    ASSERT_TRUE(pumpUntil([&] { return s.ClientCount == 2; }));
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: (2) Connected");
    auto d = join(s, port, 3);
    EXPECT_EQ(s.HighSocketIndex, 3);
    EXPECT_EQ(s.Winsock1(1).state(), SockState::Connected);
}

TEST_F(SessionBridge, FirstClientOnlyMeansTheLowestConnectedIndex)
{
    Session s(&host);
    s.ServerSerialOptions = 2;
    s.ServerTCPOptions = 2;
    const int port = activateServer(s);
    auto a = join(s, port, 1), b = join(s, port, 2);

    // Data from index 2 is dropped while index 1 is connected.
    b->write("dropped");
    a->write("kept");
    EXPECT_EQ(deviceReceive(4, 3000), "kept");
    EXPECT_EQ(deviceReceive(1, 200), "");

    a->close();
    ASSERT_TRUE(pumpUntil([&] { return s.ClientCount == 1; }));
    auto c = join(s, port, 2);   // reconnects into index 1
    ASSERT_EQ(s.Winsock1(1).state(), SockState::Connected);
    pty.send("hello");
    EXPECT_EQ(receive(c.get(), 5), "hello");
    EXPECT_EQ(receive(b.get(), 1, 200), "");
}

TEST_F(SessionBridge, SingleClientModeRefusesASecondClientUntilTheFirstLeaves)
{
    Session s(&host);
    s.AllowMultiConnect = 0;
    const int port = activateServer(s);
    auto a = join(s, port, 1);

    auto b = std::make_unique<QTcpSocket>();
    b->connectToHost(QHostAddress::LocalHost, quint16(port));
    EXPECT_TRUE(pumpUntil([&] { return b->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(s.ClientCount, 1);

    a->close();
    ASSERT_TRUE(pumpUntil([&] { return s.ClientCount == 0; }));
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Listening");
    auto c = join(s, port, 1);
    EXPECT_EQ(s.HighSocketIndex, 1);
    pty.send("x");
    EXPECT_EQ(receive(c.get(), 1), "x");
}

TEST_F(SessionBridge, PacketModeCutsAtThePacketSizeAndFlushesTheRestAfterTheTimeOut)
{
    GlobalOptions.PacketSize = 100;
    TcpPeerServer server;
    Session s(&host);
    s.WaitForCr.checked = true;
    s.txtTimeoutValue.text = "100000";   // hold the remainder until the test lets it go
    activateClient(s, server);
    QTcpSocket* peer = server.clients.at(0);

    std::string bytes;
    for (int i = 0; i < 250; ++i)
        bytes.push_back(char(i));
    pty.send(bytes);
    EXPECT_EQ(receive(peer, 200), bytes.substr(0, 200));
    EXPECT_TRUE(pumpUntil([&] { return s.SerialBuffer.size() == 50; }));
    EXPECT_EQ(receive(peer, 1, 300), "");

    s.txtTimeoutValue.text = "";   // 1 x 50 > 0: the next tick sends it
    EXPECT_EQ(receive(peer, 50), bytes.substr(200));
    EXPECT_TRUE(s.SerialBuffer.empty());
}

TEST_F(SessionBridge, BufferingKeepsSerialBytesUntilAClientConnects)
{
    Session s(&host);
    s.BufferSerData.checked = true;
    const int port = activateServer(s);
    pty.send("waiting bytes");
    ASSERT_TRUE(pumpUntil([&] { return s.SerialBuffer == "waiting bytes"; }));
    pumpFor(300);   // several time-out flushes with nobody to send to
    EXPECT_EQ(s.SerialBuffer, "waiting bytes");

    auto c = join(s, port, 1);
    EXPECT_EQ(receive(c.get(), 13), "waiting bytes");
}

TEST_F(SessionBridge, WithoutBufferingBytesForNoClientAreDiscarded)
{
    Session s(&host);
    const int port = activateServer(s);
    pty.send("lost");
    ASSERT_TRUE(pumpUntil([&] { return s.Shape1[0].fillColor == IndicatorField::kRed; }));
    pumpFor(100);
    EXPECT_TRUE(s.SerialBuffer.empty());
    auto c = join(s, port, 1);
    EXPECT_EQ(receive(c.get(), 1, 300), "");
}

TEST_F(SessionBridge, ClientOptionsDropOneDirection)
{
    TcpPeerServer server;
    Session s(&host);
    s.ClientOptions = 2;   // nothing to TCP
    bool sawRed = false;
    s.changed = [&] { sawRed = sawRed || s.Shape1[0].fillColor == IndicatorField::kRed; };
    activateClient(s, server);
    QTcpSocket* peer = server.clients.at(0);
    pty.send("serial");
    ASSERT_TRUE(pumpUntil([&] { return sawRed; }));
    EXPECT_EQ(receive(peer, 1, 300), "");
    EXPECT_TRUE(s.SerialBuffer.empty());

    s.ClientOptions = 1;   // nothing to the serial port
    peer->write("tcp");
    ASSERT_TRUE(pumpUntil([&] { return s.Shape1[1].fillColor == IndicatorField::kRed; }));
    EXPECT_EQ(deviceReceive(1, 300), "");
    EXPECT_TRUE(s.TcpBuffer.empty());
}

TEST_F(SessionBridge, TcpBytesForAClosedPortWaitUpToTheBound)
{
    Session s(&host);
    const int port = activateServer(s);
    auto c = join(s, port, 1);
    s.Comm1().SetPortOpen(false);   // the port went away while active

    c->write("kept for later");
    ASSERT_TRUE(pumpUntil([&] { return s.TcpBuffer == "kept for later"; }));
    pumpFor(200);
    EXPECT_EQ(s.TcpBuffer, "kept for later");

    const std::string flood(Session::kBufferBound + (1u << 20), 'x');
    c->write(flood.data(), qint64(flood.size()));
    ASSERT_TRUE(pumpUntil([&] { return s.TcpBuffer.size() == Session::kBufferBound; }, 20000));
    pumpFor(200);
    EXPECT_EQ(s.TcpBuffer.size(), Session::kBufferBound);
    EXPECT_EQ(s.TcpBuffer.substr(0, 14), "kept for later");
    EXPECT_EQ(c->state(), QAbstractSocket::ConnectedState);
}

TEST_F(SessionBridge, BreakMarkerInOneMessageBreaksTheLineOtherwiseItIsData)
{
    serial::loopback::createPair("COM21", "FAR21");
    const serial::Handle far = serial::CreateFile("FAR21");
    ASSERT_NE(far, serial::INVALID_HANDLE_VALUE);
    serial::COMMTIMEOUTS immediate{};
    immediate.ReadIntervalTimeout = 0xFFFFFFFF;   // reads return what is there
    serial::SetCommTimeouts(far, &immediate);
    Session s(&host);
    const int port = activateServer(s, "COM21");
    ASSERT_EQ(s.StatusBar1[0].text, "COM Status: Open");
    auto c = join(s, port, 1);

    const std::string marker(10, char(0xFF));
    const auto start = std::chrono::steady_clock::now();
    c->write(marker.data(), 10);
    ASSERT_TRUE(pumpUntil([] { return serial::loopback::state("COM21").breakCount == 1; }));
    ASSERT_TRUE(pumpUntil([] { return !serial::loopback::state("COM21").breakOn; }));
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(400));

    auto readFar = [&](std::size_t n) {
        std::string got;
        pumpUntil([&] {
            char buf[64];
            std::uint32_t done = 0;
            if (serial::ReadFile(far, buf, sizeof buf, &done) && done)
                got.append(buf, done);
            return got.size() >= n;
        }, 3000);
        return got;
    };
    EXPECT_EQ(readFar(1), "") << "the marker itself is not forwarded";

    const std::string longer = marker + "!";
    c->write(longer.data(), qint64(longer.size()));
    EXPECT_EQ(readFar(11), longer);
    c->write(marker.data(), 5);
    c->flush();
    pumpFor(100);
    c->write(marker.data() + 5, 5);
    EXPECT_EQ(readFar(10), marker);
    EXPECT_EQ(serial::loopback::state("COM21").breakCount, 1);
    serial::CloseHandle(far);
}

TEST_F(SessionBridge, RefusedConnectionIsLoggedAndRetriedUntilTheServerAppears)
{
    GlobalOptions.LogErrors = true;
    int port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    Session s(&host);
    s.Combo2.select("COM3");
    s.IPAddress.text = "127.0.0.1";
    s.PortNumber.text = std::to_string(port);
    s.Command1_Click();
    ASSERT_TRUE(pumpUntil([&] { return s.Timer1.enabled(); }));
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Closed");

    const std::string log = readErrorLog(home.path());
    const std::regex line("Lintrel Error: [^,\r\n]+, \\d\\d-\\d\\d-\\d{4}, \\d\\d:\\d\\d:\\d\\d, "
                          "Lintrel IP Address: " + s.HostAddress +
                          ", Client Mode, Remote Host: 127\\.0\\.0\\.1, RemotePort: " +
                          std::to_string(port) + "\r\n");
    EXPECT_TRUE(std::regex_match(log, line)) << log;

    // The next reconnect tick finds the server.
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, quint16(port)));
    s.Timer1_Timer();
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Connecting...");
    EXPECT_TRUE(pumpUntil([&] { return s.StatusBar1[1].text == "TCP/IP Status: Connected"; }));
    EXPECT_FALSE(s.Timer1.enabled());
}

TEST_F(SessionBridge, ReconnectTickThatFailsAtOnceClearsTheAddressAndLogsIt)
{
    GlobalOptions.LogErrors = true;
    Session s(&host);
    s.PortNumber.text = "abc";   // port 0: the connect call itself fails
    s.IPAddress.text = "127.0.0.1";
    s.Timer1_Timer();
    EXPECT_EQ(s.StatusBar1[1].text.rfind("TCP/IP Status: Error - ", 0), 0u);
    EXPECT_TRUE(s.Winsock1(0).remoteHost.empty());
    const std::string log = readErrorLog(home.path());
    EXPECT_NE(log.find(", Client Mode, Remote Host: , RemotePort: 0\r\n"), std::string::npos) << log;
}

TEST_F(SessionBridge, ErrorLogLineAndRunOnError)
{
    Session s(&host);
    s.HostAddress = "192.0.2.5";
    s.ServerMode = 1;
    s.Winsock1(0).localPort = 1000;
    s.LogErrors("nothing logged");   // both options off
    EXPECT_EQ(readErrorLog(home.path()), "");

    GlobalOptions.LogErrors = true;
    s.LogErrors("description");
    const std::regex line("Lintrel Error: description, (\\d\\d)-(\\d\\d)-(\\d{4}), "
                          "(\\d\\d):(\\d\\d):(\\d\\d), Lintrel IP Address: 192\\.0\\.2\\.5, "
                          "Server Mode, Local Port: 1000\r\n");
    std::smatch m;
    const std::string log = readErrorLog(home.path());
    ASSERT_TRUE(std::regex_match(log, m, line)) << log;
    EXPECT_LE(std::stoi(m[1]), 12);
    EXPECT_LE(std::stoi(m[4]), 23);

    // The on-error program runs once per error, logging on or off.
    const std::string marks = home.file("runs");
    const std::string script = home.file("on error.sh");
    {
        std::ofstream f(script);
        f << "#!/bin/sh\necho run >> \"$1\"\n";
    }
    ::chmod(script.c_str(), 0755);
    // Double quotes keep a path with spaces together.
    GlobalOptions.OnErrorRunApp = "\"" + script + "\" \"" + marks + "\"";
    s.LogErrors("one");
    GlobalOptions.LogErrors = false;
    s.LogErrors("two");
    std::string runs;
    pumpUntil([&] {
        std::ifstream f(marks);
        std::stringstream ss;
        ss << f.rdbuf();
        runs = ss.str();
        return runs == "run\nrun\n";
    });
    EXPECT_EQ(runs, "run\nrun\n");
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
}

}  // namespace
