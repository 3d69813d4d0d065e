// Reconnecting as people use it: a program that opens and closes a virtual
// port again and again, a client whose server drops it, a server that is
// not there at all.  Each new connection must come at once, and each failed
// attempt must be reported once.
#include "session_fixture.h"

#include "kelvad_ctrl.h"
#include "pty_pair.h"
#include "temp_dir.h"
#include "winsock/socket_control.h"

#include <QFile>
#include <QProcess>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace lintrel;
using namespace sessiontest;

namespace {

// Opens the port three times in a row; each time waits for the byte the
// server sends to every new client and prints how long that took, then
// closes the port again at once.
const char* const kReopeningProgram = R"(
import serial, sys, time
for i in range(3):
    t = time.monotonic()
    p = serial.Serial(sys.argv[1], 9600, timeout=3)
    got = p.read(1)
    print('%.3f %s' % (time.monotonic() - t, got.hex()), flush=True)
    p.close()
    time.sleep(0.1)
)";

// A server on 127.0.0.1 that greets every client with one byte "!".
class GreetingServer {
public:
    GreetingServer()
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                s->write("!");
                clients.push_back(s);
            }
        });
    }
    int port() const { return m_server.serverPort(); }
    std::vector<QTcpSocket*> clients;

private:
    QTcpServer m_server;
};

class Reconnect : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetGlobals();
        ::setenv("LINTREL_PORT_DIR", ports.path().c_str(), 1);
    }

    testsupport::TempDir ports;
    RecordingHost host;
};

TEST_F(Reconnect, AProgramReopeningTheVirtualPortIsConnectedEachTime)
{
    GreetingServer server;
    Session s(&host);
    s.chkVPort.checked = true;
    s.Combo2.select("COM5");
    s.IPAddress.text = "127.0.0.1";
    s.PortNumber.text = std::to_string(server.port());
    s.Command1_Click();
    ASSERT_EQ(s.StatusBar1[0].text, "Virtual Port COM5 created");

    QProcess program;
    program.start("/usr/bin/python3", {"-c", kReopeningProgram,
                                       QString::fromStdString(ports.path() + "/COM5")});
    ASSERT_TRUE(program.waitForStarted(5000));
    ASSERT_TRUE(pumpUntil([&] { return program.state() == QProcess::NotRunning; }, 20000));
    const std::string out = program.readAllStandardOutput().toStdString();
    std::istringstream lines(out);
    std::string line;
    int opens = 0;
    while (std::getline(lines, line)) {
        ++opens;
        std::istringstream fields(line);
        double seconds = 0;
        std::string byte;
        fields >> seconds >> byte;
        EXPECT_LT(seconds, 1.0) << "open " << opens << " waited for its connection";
        EXPECT_EQ(byte, "21") << "open " << opens << " got no greeting";
    }
    EXPECT_EQ(opens, 3) << out << program.readAllStandardError().toStdString();
    EXPECT_EQ(server.clients.size(), 3u);
    s.Command1_Click();
}

TEST_F(Reconnect, AClientIsConnectedAgainOnTheFirstRetryAfterTheServerDropsIt)
{
    testsupport::PtyPair pty;
    testsupport::PortsMap map;
    map.map(3, pty.slavePath());
    GreetingServer server;
    Session s(&host);
    s.Combo2.select("COM3");
    s.IPAddress.text = "127.0.0.1";
    s.PortNumber.text = std::to_string(server.port());
    s.Command1_Click();
    ASSERT_TRUE(pumpUntil([&] { return server.clients.size() == 1; }));
    ASSERT_TRUE(pumpUntil([&] { return s.StatusBar1[1].text == "TCP/IP Status: Connected"; }));

    for (std::size_t round = 1; round <= 2; ++round) {
        server.clients.back()->disconnectFromHost();   // the server drops the connection
        ASSERT_TRUE(pumpUntil([&] { return s.Timer1.enabled(); }));
        // The next reconnect tick comes within 5 s and must succeed.
        EXPECT_TRUE(pumpUntil([&] { return server.clients.size() == round + 1; }, 6500))
            << "round " << round << ": " << s.StatusBar1[1].text;
        EXPECT_TRUE(pumpUntil([&] { return s.StatusBar1[1].text == "TCP/IP Status: Connected"; }))
            << s.StatusBar1[1].text;
    }
    s.Command1_Click();
}

// Lines of a text file, or none when it does not exist.
std::vector<std::string> fileLines(const std::string& path)
{
    std::vector<std::string> lines;
    std::ifstream f(path, std::ios::binary);
    for (std::string line; std::getline(f, line);)
        lines.push_back(line);
    return lines;
}

// A port on 127.0.0.1 where nothing listens.
int deadPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

TEST_F(Reconnect, EachFailedAttemptIsLoggedOnceAndStartsTheProgramOnce)
{
    testsupport::TempDir home;
    ::setenv("LINTREL_HOME", home.path().c_str(), 1);
    GlobalOptions.LogErrors = true;
    GlobalOptions.OnErrorRunApp = "/bin/sh -c \"echo run >> '" + home.file("runs") + "'\"";

    testsupport::PtyPair pty;
    testsupport::PortsMap map;
    map.map(3, pty.slavePath());
    Session s(&host);
    s.Combo2.select("COM3");
    s.IPAddress.text = "127.0.0.1";
    s.PortNumber.text = std::to_string(deadPort());
    int attempts = 0;
    std::string shown;
    s.changed = [&] {
        if (s.StatusBar1[1].text != shown && s.StatusBar1[1].text == "TCP/IP Status: Connecting...")
            ++attempts;
        shown = s.StatusBar1[1].text;
    };
    s.Command1_Click();
    pumpFor(12000);
    s.Command1_Click();
    pumpFor(300);   // the last program finishes its line

    const auto log = fileLines(home.file("errorlog.txt"));
    EXPECT_GE(attempts, 2);
    EXPECT_EQ(int(log.size()), attempts);
    for (const std::string& line : log)
        EXPECT_NE(line.find("Client Mode, Remote Host: 127.0.0.1,"), std::string::npos) << line;
    EXPECT_EQ(int(fileLines(home.file("runs")).size()), attempts);
    ::unsetenv("LINTREL_HOME");
}

}  // namespace
