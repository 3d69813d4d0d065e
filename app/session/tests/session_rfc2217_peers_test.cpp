// Sessions with RFC 2217 against the real peers: pyserial's rfc2217://
// client on a server session, and a virtual-port client session bridged to
// ser2net and to a pyserial server, with a program (pyserial) on the
// virtual port. Devices are pseudo-terminals; their line settings are read
// on the device side.
#include "session_fixture.h"

#include "pty_pair.h"
#include "rfc2217_peers.h"
#include "temp_dir.h"
#include "winsock/socket_control.h"

#include <QProcess>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace lintrel;
using namespace sessiontest;
using testsupport::Rfc2217Peer;

namespace {

// pyserial as an RFC 2217 client: sets 57600 with two stop bits, waits,
// sends every byte value, prints what comes back, purges both ways and
// sends a break (each of which waits for the server's answer and fails
// without one).
const char* const kClient = R"(
import serial, sys
p = serial.serial_for_url(sys.argv[1], baudrate=57600, stopbits=2, timeout=5)
print('set', flush=True)
sys.stdin.readline()
p.write(bytes(range(256)))
p.flush()
print('got', p.read(256).hex(), flush=True)
p.reset_input_buffer()
p.reset_output_buffer()
p.send_break(0.1)
print('answered', flush=True)
p.close()
)";

// A program on the virtual port: opens it at 57600 with two stop bits,
// waits, sets 19200, sends a word and prints the one it gets back.
const char* const kProgram = R"(
import serial, sys
p = serial.Serial(sys.argv[1], 57600, stopbits=2, timeout=5)
print('open', flush=True)
sys.stdin.readline()
p.baudrate = 19200
print('changed', flush=True)
p.write(b'to-device')
p.flush()
print(p.read(9).decode(), flush=True)
p.close()
)";

class Rfc2217Peers : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetGlobals();
        ::setenv("LINTREL_PORT_DIR", ports.path().c_str(), 1);
        ::setenv("LINTREL_HOME", home.path().c_str(), 1);
    }

    static std::string line(QProcess& p, int ms = 10000)
    {
        if (!pumpUntil([&] { return p.canReadLine() || p.state() == QProcess::NotRunning; }, ms))
            return {};
        return p.readLine().trimmed().toStdString();
    }

    // Pumps until the device's tty has the baud and stop bits.
    bool deviceLine(testsupport::PtyPair& pty, unsigned baud, int stopBits)
    {
        return pumpUntil([&] {
            const auto l = pty.line();
            return l.baud == baud && l.stopBits == stopBits;
        }, 5000);
    }

    std::string deviceReceive(testsupport::PtyPair& pty, std::size_t count)
    {
        std::string got;
        pumpUntil([&] {
            got += pty.receive(count - got.size(), 10);
            return got.size() >= count;
        }, 5000);
        return got;
    }

    testsupport::TempDir ports, home;
    RecordingHost host;
};

TEST_F(Rfc2217Peers, PyserialClientSetsTheServerSessionsTty)
{
    testsupport::PtyPair pty;
    testsupport::PortsMap map;
    map.map(3, pty.slavePath());
    Session s(&host);
    s.Rfc2217.checked = true;
    s.Combo2.select("COM3");
    s.TCPOption_Click(1);
    s.LocalIP.items.push_back("127.0.0.1");
    s.LocalIP.select("127.0.0.1");
    s.PortNumber.text = "0";
    s.Command1_Click();
    ASSERT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Listening...");

    QProcess client;
    client.start("/usr/bin/python3",
                 {"-c", kClient, QString("rfc2217://127.0.0.1:%1").arg(s.Winsock1(0).localPort)});
    ASSERT_TRUE(client.waitForStarted(5000));
    ASSERT_EQ(line(client), "set") << client.readAllStandardError().toStdString();
    EXPECT_TRUE(deviceLine(pty, 57600, 2));
    client.write("\n");
    EXPECT_EQ(deviceReceive(pty, 256), allByteValues());
    pty.send(allByteValues());
    EXPECT_EQ(line(client), "got " + QByteArray::fromStdString(allByteValues()).toHex().toStdString());
    EXPECT_EQ(line(client), "answered") << client.readAllStandardError().toStdString();
    EXPECT_TRUE(pumpUntil([&] { return client.state() == QProcess::NotRunning; }, 10000));
    EXPECT_EQ(client.exitCode(), 0);
}

class VirtualPortToServer : public Rfc2217Peers, public ::testing::WithParamInterface<Rfc2217Peer::Kind> {};

TEST_P(VirtualPortToServer, TheProgramsSettingsReachTheServersTty)
{
    testsupport::PtyPair pty;
    Rfc2217Peer server(GetParam(), pty.slavePath());
    if (!server.missing().empty())
        GTEST_SKIP() << server.missing();
    ASSERT_TRUE(server.ok()) << server.name() << " did not start";
    Session s(&host);
    s.Rfc2217.checked = true;
    s.chkVPort.checked = true;
    s.Combo2.select("COM5");
    s.IPAddress.text = "127.0.0.1";
    s.PortNumber.text = std::to_string(server.port());
    s.Command1_Click();
    ASSERT_EQ(s.StatusBar1[0].text, "Virtual Port COM5 created");

    QProcess program;
    program.start("/usr/bin/python3", {"-c", kProgram, QString::fromStdString(ports.path() + "/COM5")});
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_EQ(line(program), "open") << program.readAllStandardError().toStdString();
    EXPECT_TRUE(deviceLine(pty, 57600, 2)) << "baud " << pty.line().baud;
    program.write("\n");
    ASSERT_EQ(line(program), "changed");
    EXPECT_TRUE(deviceLine(pty, 19200, 2)) << "baud " << pty.line().baud;
    EXPECT_EQ(deviceReceive(pty, 9), "to-device");
    pty.send("to-progrm");
    EXPECT_EQ(line(program), "to-progrm") << program.readAllStandardError().toStdString();
    EXPECT_TRUE(pumpUntil([&] { return program.state() == QProcess::NotRunning; }, 10000));
    s.Command1_Click();
    EXPECT_EQ(s.StatusBar1[0].text, "Virtual port closed");
}

INSTANTIATE_TEST_SUITE_P(Servers, VirtualPortToServer,
                         ::testing::Values(Rfc2217Peer::Kind::Ser2net, Rfc2217Peer::Kind::Pyserial),
                         [](const auto& info) {
                             return std::string(info.param == Rfc2217Peer::Kind::Ser2net ? "Ser2net" : "Pyserial");
                         });

}  // namespace
