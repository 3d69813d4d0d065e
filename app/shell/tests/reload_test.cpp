// Reloading the windowless mode's file in process: which sessions keep
// running (with their clients), which restart, start and stop, and what a
// file that cannot be loaded leaves behind.  Sessions are virtual ports
// served on 127.0.0.1.
#include "global_options.h"
#include "headless.h"

#include "pty_pair.h"
#include "pump.h"
#include "temp_dir.h"

#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <unistd.h>

using namespace lintrel;
using testsupport::pumpUntil;

namespace {

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

struct Bridge {
    int com;
    int port;
};

std::string configText(const std::vector<Bridge>& bridges, int packetSize = 2000)
{
    std::ostringstream s;
    s << "[Lintrel]\r\nNumSessions=" << bridges.size() << "\r\nPacketSize=" << packetSize << "\r\n";
    for (std::size_t i = 0; i < bridges.size(); ++i)
        s << "[Session" << i + 1 << "]\r\nConnector=" << bridges[i].com
          << "\r\nCreateVirtualPort=1\r\nLocalIP=127.0.0.1\r\nPortNumber=" << bridges[i].port
          << "\r\nTCPOption=1\r\nAutoActivate=1\r\n";
    return s.str();
}

bool listening(int port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, quint16(port));
    const bool up = pumpUntil([&] { return probe.state() == QAbstractSocket::ConnectedState ||
                                           probe.state() == QAbstractSocket::UnconnectedState; }, 3000) &&
                    probe.state() == QAbstractSocket::ConnectedState;
    probe.abort();
    return up;
}

class Reload : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("LINTREL_PORT_DIR", ports.path().c_str(), 1);
        ::setenv("LINTREL_HOME", home.path().c_str(), 1);
        GlobalOptions = {};
    }
    void write(const std::string& text) { std::ofstream(file, std::ios::binary) << text; }
    std::string lastLine()
    {
        const std::string text = out.str();
        const std::size_t end = text.find_last_of('\n');
        const std::size_t begin = text.find_last_of('\n', end - 1);
        return text.substr(begin == std::string::npos ? 0 : begin + 1, end - (begin == std::string::npos ? 0 : begin + 1));
    }
    testsupport::TempDir ports, home;
    std::string file = home.file("service.qcf");
    std::ostringstream out, err;
    HeadlessRunner runner{out, err};
};

}  // namespace

TEST_F(Reload, AnUnchangedSessionKeepsItsClientWhileOthersChange)
{
    const int p1 = freePort(), p2 = freePort(), p3 = freePort(), p4 = freePort();
    write(configText({{21, p1}, {22, p2}, {23, p3}}));
    ASSERT_EQ(runner.start(file), "");
    ASSERT_EQ(runner.sessionCount(), 3u);
    Session* kept = &runner.session(0);
    ASSERT_TRUE(kept->isActive());
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(p1));
    ASSERT_TRUE(pumpUntil([&] { return kept->ClientCount == 1; })) << out.str();
    EXPECT_EQ(runner.summary(), "3 of 3 sessions active, 1 client connected");

    // The second session moves to another port, the third goes.
    write(configText({{21, p1}, {22, p4}}));
    ASSERT_TRUE(runner.reload(file));
    EXPECT_EQ(lastLine(), "Reload: 1 session unchanged, 1 changed, 0 new, 1 removed; options unchanged");
    ASSERT_EQ(runner.sessionCount(), 2u);
    EXPECT_EQ(&runner.session(0), kept);
    EXPECT_EQ(client.state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(kept->ClientCount, 1);
    EXPECT_TRUE(runner.session(1).isActive());
    EXPECT_TRUE(listening(p4));
    EXPECT_FALSE(listening(p2));
    EXPECT_FALSE(listening(p3));
    // The stopped sessions said so under their old numbers.
    EXPECT_NE(out.str().find("Session3: TCP/IP Status: Closed\n"), std::string::npos);

    // Reordered, with one new session and another packet size: nothing
    // running restarts, and the status lines follow the new numbers.
    const int p5 = freePort();
    write(configText({{22, p4}, {24, p5}, {21, p1}}, 700));
    ASSERT_TRUE(runner.reload(file));
    EXPECT_EQ(lastLine(), "Reload: 2 sessions unchanged, 0 changed, 1 new, 0 removed; options changed");
    EXPECT_EQ(&runner.session(2), kept);
    EXPECT_EQ(GlobalOptions.PacketSize, 700);
    EXPECT_TRUE(listening(p5));
    client.abort();
    ASSERT_TRUE(pumpUntil([&] { return kept->ClientCount == 0; }));
    pumpUntil([&] { return out.str().find("Session3: TCP/IP Status: Listening") != std::string::npos; }, 2000);
    EXPECT_NE(out.str().find("Session3: TCP/IP Status: Listening"), std::string::npos) << out.str();
}

TEST_F(Reload, AFileThatCannotBeLoadedChangesNothing)
{
    const int p1 = freePort();
    write(configText({{25, p1}}));
    ASSERT_EQ(runner.start(file), "");
    Session* running = &runner.session(0);
    ASSERT_TRUE(running->isActive());
    runner.setJournal(true, true);

    const std::string good = configText({{25, p1}});
    for (const std::string& bad : {std::string("[Lintrel]\r\nNumSessions=300\r\n"), std::string("\0\0\0", 3)}) {
        write(bad);
        EXPECT_FALSE(runner.reload(file));
        EXPECT_EQ(lastLine().rfind("<3>Reload: cannot load " + file + ": it ", 0), 0u) << lastLine();
        EXPECT_NE(lastLine().find("; nothing changed"), std::string::npos);
    }
    std::remove(file.c_str());
    EXPECT_FALSE(runner.reload(file));
    EXPECT_EQ(lastLine(), "<3>Reload: cannot load " + file + ": no such file; nothing changed");
    ASSERT_EQ(runner.sessionCount(), 1u);
    EXPECT_EQ(&runner.session(0), running);
    EXPECT_TRUE(running->isActive());
    EXPECT_TRUE(listening(p1));
}

// A device that was missing at start-up (an adapter not yet plugged in)
// is tried again by a reload, though the file did not change.
TEST_F(Reload, ASessionThatFailedToStartIsTriedAgain)
{
    testsupport::PortsMap map;
    map.map(3, home.file("not-plugged-in"));
    const int port = freePort();
    std::ostringstream text;
    text << "[Lintrel]\r\nNumSessions=1\r\n[Session1]\r\nConnector=3\r\nLocalIP=127.0.0.1\r\nPortNumber="
         << port << "\r\nTCPOption=1\r\nAutoActivate=1\r\n";
    write(text.str());
    ASSERT_EQ(runner.start(file), "");
    Session* s = &runner.session(0);
    EXPECT_FALSE(s->isActive()) << out.str();
    EXPECT_EQ(runner.summary(), "0 of 1 session active, 0 clients connected");

    testsupport::PtyPair device;
    ASSERT_EQ(::symlink(device.slavePath().c_str(), home.file("not-plugged-in").c_str()), 0);
    ASSERT_TRUE(runner.reload(file));
    EXPECT_EQ(lastLine(), "Reload: 1 session unchanged, 0 changed, 0 new, 0 removed, 1 started again; "
                          "options unchanged");
    EXPECT_EQ(&runner.session(0), s);
    EXPECT_TRUE(s->isActive()) << out.str();
    EXPECT_TRUE(listening(port));
}
