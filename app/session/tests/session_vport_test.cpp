// Virtual-port sessions with a real program at the far end of the port
// (python3 with pyserial): the TCP connection that follows the program's
// open and close, and both data directions.
#include "session_fixture.h"

#include "kelvad_ctrl.h"
#include "temp_dir.h"
#include "winsock/socket_control.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace lintrel;
using namespace sessiontest;

namespace {

// Opens the port, reads the given count of bytes (5 s at most), prints
// them in hex, answers "from-program", holds the port a little, closes it.
// It speaks second: bytes a program sends before the session's TCP
// connection is up have no client to go to and are not kept.
const char* const kProgram = R"(
import serial, sys, time
p = serial.Serial(sys.argv[1], 9600, timeout=5)
data = p.read(int(sys.argv[2]))
sys.stdout.write(data.hex()); sys.stdout.flush()
p.write(b'from-program'); p.flush()
time.sleep(0.5)
p.close()
)";

class VirtualPortSession : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetGlobals();
        ::setenv("LINTREL_PORT_DIR", ports.path().c_str(), 1);
    }

    void activate(Session& s, const TcpPeerServer& server)
    {
        s.chkVPort.checked = true;
        s.Combo2.select("COM5");
        s.IPAddress.text = "127.0.0.1";
        s.PortNumber.text = std::to_string(server.port());
        s.Command1_Click();
        ASSERT_EQ(s.StatusBar1[0].text, "Virtual Port COM5 created");
    }

    void startProgram(QProcess& p, int readCount)
    {
        p.start("/usr/bin/python3", {"-c", kProgram, QString::fromStdString(ports.path() + "/COM5"),
                                     QString::number(readCount)});
        ASSERT_TRUE(p.waitForStarted(5000));
    }

    static bool finished(QProcess& p)
    {
        return p.state() == QProcess::NotRunning;
    }

    testsupport::TempDir ports;
    RecordingHost host;
};

TEST_F(VirtualPortSession, ConnectionFollowsTheProgramOpeningAndClosingThePort)
{
    TcpPeerServer server;
    Session s(&host);
    activate(s, server);
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status:");   // nothing until a program opens it
    pumpFor(200);
    EXPECT_TRUE(server.clients.empty());

    QProcess program;
    startProgram(program, 10);
    QTcpSocket* peer = server.waitForClient(1, 10000);
    ASSERT_NE(peer, nullptr) << program.readAllStandardError().toStdString();
    peer->write("to-program");
    EXPECT_EQ(receive(peer, 12, 10000), "from-program");
    ASSERT_TRUE(pumpUntil([&] { return finished(program); }, 15000));
    EXPECT_EQ(program.readAllStandardOutput().toStdString(), QByteArray("to-program").toHex().toStdString())
        << program.readAllStandardError().toStdString();

    EXPECT_TRUE(pumpUntil([&] { return s.StatusBar1[1].text == "TCP/IP Status: Closed"; }));
    EXPECT_TRUE(pumpUntil([&] { return peer->state() != QAbstractSocket::ConnectedState; }));
    EXPECT_FALSE(s.Timer1.enabled());   // closing on the program's close starts no retries
    s.Command1_Click();
    EXPECT_EQ(s.StatusBar1[0].text, "Virtual port closed");
}

TEST_F(VirtualPortSession, TcpDataWhileNoProgramHasThePortIsDiscarded)
{
    TcpPeerServer server;
    Session s(&host);
    s.ConnectOnVirtualOpen = 0;   // connect at activation
    activate(s, server);
    QTcpSocket* peer = server.waitForClient();
    ASSERT_NE(peer, nullptr);
    EXPECT_TRUE(pumpUntil([&] { return s.StatusBar1[1].text == "TCP/IP Status: Connected"; }));

    peer->write("lost");
    ASSERT_TRUE(pumpUntil([&] { return s.Shape1[1].fillColor == IndicatorField::kRed; }));
    EXPECT_TRUE(pumpUntil([&] { return s.TcpBuffer.empty(); }));

    // The program now opens the port: the old bytes are gone, new ones pass.
    QProcess program;
    startProgram(program, 3);
    ASSERT_TRUE(pumpUntil([&] { return s.Kelvad1().IsOpened(); }, 10000));
    peer->write("new");
    EXPECT_EQ(receive(peer, 12, 10000), "from-program");
    ASSERT_TRUE(pumpUntil([&] { return finished(program); }, 15000));
    EXPECT_EQ(program.readAllStandardOutput().toStdString(), QByteArray("new").toHex().toStdString());
    // The connection does not follow the program here.
    pumpFor(200);
    EXPECT_EQ(peer->state(), QAbstractSocket::ConnectedState);
}

}  // namespace
