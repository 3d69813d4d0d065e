// The windowless mode end to end: the built program on a generated file,
// a pseudo-terminal mapped as COM3 at the serial end and a TCP peer on
// 127.0.0.1 at the other.
#include "pump.h"
#include "registration.h"
#include "startup.h"

#include "registry/desktop_mirror.h"
#include "service/service.h"

#include "pty_pair.h"
#include "temp_dir.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include <csignal>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// The windowless program starts slowly on a busy machine.
bool pumpUntil(const std::function<bool()>& pred, int ms = 10000)
{
    return testsupport::pumpUntil(pred, ms);
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class Headless : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (program.state() != QProcess::NotRunning) {
            program.kill();
            program.waitForFinished(5000);
        }
    }
    // The child gets this process's environment as it stands now (the
    // ports map included) and folders of its own.
    void start(const QStringList& args, const QString& binary = LINTREL_BINARY)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LINTREL_HOME", QString::fromStdString(home.path()));
        env.insert("LINTREL_PORT_DIR", QString::fromStdString(ports.path()));
        program.setProcessEnvironment(env);
        program.start(binary, args);
        ASSERT_TRUE(program.waitForStarted(5000));
    }
    // Everything the program printed so far on standard output.
    std::string output()
    {
        out += program.readAllStandardOutput().toStdString();
        return out;
    }

    testsupport::TempDir home, ports;
    QProcess program;
    std::string out, err;
};

}  // namespace

TEST_F(Headless, BridgesAPortAndATcpPeerAndStopsCleanlyOnSigterm)
{
    testsupport::PtyPair pty;
    testsupport::PortsMap map;   // exported to the child through the environment
    map.map(3, pty.slavePath());
    QTcpServer peer;
    ASSERT_TRUE(peer.listen(QHostAddress::LocalHost, 0));
    const std::string file = home.file("bridge.qcf");
    std::ofstream(file, std::ios::binary)
        << "[Lintrel]\r\nNumSessions=1\r\n[Session1]\r\nConnector=3\r\nBaudRate=6\r\n"
           "Databits=3\r\nIPAddress=127.0.0.1\r\nPortNumber="
        << peer.serverPort() << "\r\nTCPOption=0\r\nAutoActivate=1\r\n";
    const std::string before = readFile(file);

    start({"--headless", QString::fromStdString(file)});
    ASSERT_TRUE(pumpUntil([&] { return peer.hasPendingConnections(); })) << output();
    QTcpSocket* client = peer.nextPendingConnection();
    ASSERT_TRUE(pumpUntil([&] {
        return output().find("Session1: TCP/IP Status: Connected\n") != std::string::npos;
    })) << output();
    EXPECT_NE(output().find("Session1: COM Status: Open\n"), std::string::npos);

    std::string bytes;
    for (int i = 0; i < 256; ++i)
        bytes.push_back(char(i));
    pty.send(bytes);
    std::string got;
    pumpUntil([&] {
        got += client->readAll().toStdString();
        return got.size() >= bytes.size();
    });
    EXPECT_EQ(got, bytes);
    client->write("from the network");
    ASSERT_TRUE(client->waitForBytesWritten(5000));
    EXPECT_EQ(pty.receive(16, 10000), "from the network");

    program.terminate();   // SIGTERM
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(readFile(file), before);   // not rewritten
    EXPECT_FALSE(std::ifstream(home.file("default.qcf")).good());
}

TEST_F(Headless, HelpDescribesTheCommandLine)
{
    start({"--help"});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 0);
    const std::string text = output();
    EXPECT_NE(text.find("--headless [--no-timestamps] [FILE]"), std::string::npos);
    EXPECT_NE(text.find("--version"), std::string::npos);
    EXPECT_NE(text.find("SIGTERM"), std::string::npos);
}

// A service manager starts the program on a file that was mistyped or not
// installed: it must fail at once and say why, not run a blank session.
TEST_F(Headless, AFileThatCannotBeReadEndsItWithStatusTwo)
{
    ::mkdir(home.file("folder.qcf").c_str(), 0700);
    const std::string locked = home.file("locked.qcf");
    std::ofstream(locked) << "[Lintrel]\r\nNumSessions=1\r\n";
    ::chmod(locked.c_str(), 0);
    struct Case {
        std::string file, reason;
    };
    std::vector<Case> cases = {{home.file("missing.qcf"), "no such file"},
                               {home.file("folder.qcf"), "it is a folder"}};
    if (::geteuid() != 0)   // root reads it anyway
        cases.push_back({locked, "ermission denied"});
    for (const Case& c : cases) {
        start({"--headless", QString::fromStdString(c.file)});
        ASSERT_TRUE(program.waitForFinished(10000)) << c.file;
        EXPECT_EQ(program.exitCode(), 2) << c.file;
        const std::string e = program.readAllStandardError().toStdString();
        EXPECT_NE(e.find("lintrel: cannot read " + c.file + ": " ), std::string::npos) << e;
        EXPECT_NE(e.find(c.reason), std::string::npos) << e;
        EXPECT_EQ(program.readAllStandardOutput().toStdString(), "");
    }
    EXPECT_FALSE(std::ifstream(home.file("default.qcf")).good());
}

TEST_F(Headless, VersionAndUnknownOptions)
{
    start({"--version"});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(output(), "lintrel " LINTREL_VERSION_TEXT "\n");

    start({"--headless", "--frobnicate"});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 2);
    EXPECT_NE(program.readAllStandardError().toStdString().find("unknown option --frobnicate"),
              std::string::npos);
}

// Status lines carry the local time unless asked not to.
TEST_F(Headless, StatusLinesCarryTheirTime)
{
    const std::string file = home.file("idle.qcf");
    std::ofstream(file, std::ios::binary)
        << "[Lintrel]\r\nNumSessions=1\r\n[Session1]\r\nConnector=0\r\nAutoActivate=1\r\n"
           "CreateVirtualPort=1\r\n";
    for (const bool stamped : {true, false}) {
        out.clear();
        QStringList args{"--headless"};
        if (!stamped)
            args << "--no-timestamps";
        args << QString::fromStdString(file);
        start(args);
        ASSERT_TRUE(pumpUntil([&] { return output().find("Session1: ") != std::string::npos; })) << output();
        const std::string line = output().substr(0, output().find('\n'));
        const QRegularExpression stamp(
            R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}\.\d{3}([+-]\d{2}:\d{2}|Z) Session1: )");
        EXPECT_EQ(stamp.match(QString::fromStdString(line)).hasMatch(), stamped) << line;
        if (!stamped) {
            EXPECT_EQ(line.rfind("Session1: ", 0), 0u) << line;
        }
        program.terminate();
        ASSERT_TRUE(program.waitForFinished(10000));
    }
}

TEST_F(Headless, ARunningInstanceIsSeenByTheNextOne)
{
    const std::string file = home.file("idle.qcf");
    std::ofstream(file, std::ios::binary) << "[Lintrel]\r\nNumSessions=1\r\n";
    start({"--headless", QString::fromStdString(file)});
    ASSERT_TRUE(pumpUntil([&] {
        err += program.readAllStandardError().toStdString();
        return err.find("session(s) loaded") != std::string::npos;
    }));
    // This process comes second: it must not reset the first one's ports.
    EXPECT_TRUE(lintrel::anotherInstanceRunning());
}

TEST_F(Headless, AStartFromTheRunOnceEntryUsesItUp)
{
    ::setenv("LINTREL_REGISTRY_DIR", home.file("registry").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", home.file("config").c_str(), 1);
    ASSERT_TRUE(lintrel::SetStartEntry(true, "Lintrel", LINTREL_BINARY, true, false));
    const std::string autostart = lt::registry::autostartFile("Lintrel");
    ASSERT_NE(readFile(autostart).find("LT_RUNONCE_VALUE=Lintrel"), std::string::npos);

    ::setenv(lt::registry::kRunOnceVariable, "Lintrel", 1);
    const std::string file = home.file("idle.qcf");
    std::ofstream(file, std::ios::binary) << "[Lintrel]\r\nNumSessions=1\r\n";
    start({"--headless", QString::fromStdString(file)});
    ::unsetenv(lt::registry::kRunOnceVariable);
    ASSERT_TRUE(pumpUntil([&] {
        err += program.readAllStandardError().toStdString();
        return err.find("session(s) loaded") != std::string::npos;
    }));
    EXPECT_EQ(lintrel::ReadRegistryString(lt::registry::HKEY_CURRENT_USER, lt::registry::kRunOnceKey,
                                          "Lintrel", "gone"),
              "gone");
    EXPECT_EQ(readFile(autostart), "");
}

namespace {

// A server session on the device at COM3 and one on the virtual port COM9.
std::string twoBridges(int devicePort, int virtualPort)
{
    std::ostringstream s;
    s << "[Lintrel]\r\nNumSessions=2\r\n"
      << "[Session1]\r\nConnector=3\r\nBaudRate=6\r\nDatabits=3\r\nLocalIP=127.0.0.1\r\nPortNumber=" << devicePort
      << "\r\nTCPOption=1\r\nAutoActivate=1\r\n"
      << "[Session2]\r\nConnector=9\r\nCreateVirtualPort=1\r\nLocalIP=127.0.0.1\r\nPortNumber=" << virtualPort
      << "\r\nTCPOption=1\r\nAutoActivate=1\r\n";
    return s.str();
}

int freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// The service manager's end of $NOTIFY_SOCKET.
class NotifySocket {
public:
    explicit NotifySocket(const std::string& path) : path(path)
    {
        fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un a = {};
        a.sun_family = AF_UNIX;
        path.copy(a.sun_path, sizeof a.sun_path - 1);
        bound = ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~NotifySocket() { ::close(fd); }
    // Every message so far, each followed by "|".
    std::string& messages()
    {
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0)
            all += std::string(buf, std::size_t(n)) + "|";
        return all;
    }
    std::string path;
    std::string all;
    int fd = -1;
    bool bound = false;
};

}  // namespace

// SIGHUP: the unchanged session keeps its client and its data, the
// changed one moves to its new port.
TEST_F(Headless, SighupReloadsKeepingUnchangedSessionsAndTheirClients)
{
    testsupport::PtyPair pty;
    testsupport::PortsMap map;
    map.map(3, pty.slavePath());
    const int p1 = freePort(), p2 = freePort(), p3 = freePort();
    const std::string file = home.file("service.qcf");
    std::ofstream(file, std::ios::binary) << twoBridges(p1, p2);
    start({"--headless", "--no-timestamps", QString::fromStdString(file)});
    ASSERT_TRUE(pumpUntil([&] { return output().find("Session2: TCP/IP Status: Listening...") != std::string::npos; }))
        << output();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(p1));
    ASSERT_TRUE(pumpUntil([&] { return output().find("Session1: TCP/IP Status: (1) Connected") != std::string::npos; }))
        << output();

    std::ofstream(file, std::ios::binary) << twoBridges(p1, p3);
    ::kill(pid_t(program.processId()), SIGHUP);
    ASSERT_TRUE(pumpUntil([&] { return output().find("Reload: ") != std::string::npos; })) << output();
    EXPECT_NE(output().find("Reload: 1 session unchanged, 1 changed, 0 new, 0 removed; options unchanged\n"),
              std::string::npos) << output();
    EXPECT_EQ(output().find("Session1: TCP/IP Status: Closed"), std::string::npos) << output();

    pty.send("still here");
    std::string got;
    pumpUntil([&] {
        got += client.readAll().toStdString();
        return got.size() >= 10;
    });
    EXPECT_EQ(got, "still here");
    QTcpSocket moved;
    moved.connectToHost(QHostAddress::LocalHost, quint16(p3));
    EXPECT_TRUE(pumpUntil([&] { return moved.state() == QAbstractSocket::ConnectedState; })) << output();

    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 0);
}

// A fake service manager: readiness once the sessions run, the status
// line, the watchdog, reload and stop.
TEST_F(Headless, ASystemdServiceReportsReadinessStatusAndWatchdog)
{
    if (!lt::service::supported())
        GTEST_SKIP() << "built without libsystemd";
    NotifySocket manager(home.file("notify"));
    ASSERT_TRUE(manager.bound);
    const int port = freePort();
    const std::string file = home.file("service.qcf");
    std::ofstream(file, std::ios::binary)
        << "[Lintrel]\r\nNumSessions=1\r\n[Session1]\r\nConnector=9\r\nCreateVirtualPort=1\r\n"
           "LocalIP=127.0.0.1\r\nTCPOption=1\r\nAutoActivate=1\r\nPortNumber="
        << port << "\r\n";
    ::setenv("NOTIFY_SOCKET", manager.path.c_str(), 1);
    ::setenv("WATCHDOG_USEC", "300000", 1);
    start({"--headless", QString::fromStdString(file)});
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("WATCHDOG_USEC");

    ASSERT_TRUE(pumpUntil([&] { return manager.messages().find("READY=1") != std::string::npos; }))
        << manager.messages();
    EXPECT_NE(manager.messages().find("READY=1\nSTATUS=1 of 1 session active, 0 clients connected|"),
              std::string::npos) << manager.messages();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, quint16(port));
    EXPECT_TRUE(pumpUntil([&] {
        return manager.messages().find("STATUS=1 of 1 session active, 1 client connected|") != std::string::npos;
    })) << manager.messages();
    EXPECT_TRUE(pumpUntil([&] {
        const std::string& m = manager.messages();
        return m.find("WATCHDOG=1|") != m.rfind("WATCHDOG=1|");   // at least two
    })) << manager.messages();

    ::kill(pid_t(program.processId()), SIGHUP);
    EXPECT_TRUE(pumpUntil([&] {
        const std::string& m = manager.messages();
        const std::size_t reloading = m.find("RELOADING=1\nMONOTONIC_USEC=");
        return reloading != std::string::npos && m.find("READY=1", reloading) != std::string::npos;
    })) << manager.messages();
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_NE(manager.messages().find("STOPPING=1|"), std::string::npos) << manager.messages();
}

// Under journald: no time stamps, a priority on every line of the stream
// that goes to the journal, errors at 3.
TEST_F(Headless, LinesForTheJournalCarryTheirPriority)
{
    testsupport::PortsMap map;
    map.map(3, home.file("no-such-device"));
    const std::string file = home.file("service.qcf");
    std::ofstream(file, std::ios::binary)
        << "[Lintrel]\r\nNumSessions=2\r\n[Session1]\r\nConnector=3\r\nAutoActivate=1\r\nTCPOption=1\r\n"
           "[Session2]\r\nConnector=9\r\nCreateVirtualPort=1\r\nAutoActivate=1\r\nTCPOption=1\r\n"
           "LocalIP=127.0.0.1\r\nPortNumber="
        << freePort() << "\r\n";
    // systemd names the stream's device and inode; only standard output is
    // the journal here.
    start({"-c", "export JOURNAL_STREAM=$(stat -L -c %d:%i /proc/$$/fd/1); exec \"$0\" \"$@\"", LINTREL_BINARY,
           "--headless", QString::fromStdString(file)},
          "/bin/sh");
    ASSERT_TRUE(pumpUntil([&] { return output().find("Session2: TCP/IP Status: Listening...") != std::string::npos; }))
        << output();
    EXPECT_EQ(output().rfind("<3>Session1: COM Status: Error - Port not available\n", 0), 0u) << output();
    EXPECT_NE(output().find("<6>Session2: Virtual Port COM9 created\n"), std::string::npos) << output();
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000));
    const std::string e = program.readAllStandardError().toStdString();
    EXPECT_EQ(e.rfind("lintrel: running ", 0), 0u) << e;   // not the journal: no prefix
}

// Files that are no configuration end the program at once with the reason
// and are not touched.
TEST_F(Headless, AFileThatIsNoConfigurationIsRefused)
{
    const std::string many = home.file("many.qcf");
    std::ofstream(many, std::ios::binary) << "[Lintrel]\r\nNumSessions=100000\r\n";
    const std::string before = readFile(many);
    for (const std::string& file : {many, std::string("/dev/zero")}) {
        start({"--headless", QString::fromStdString(file)});
        ASSERT_TRUE(program.waitForFinished(10000)) << file;
        EXPECT_EQ(program.exitCode(), 2) << file;
        const std::string e = program.readAllStandardError().toStdString();
        EXPECT_EQ(e.rfind("lintrel: cannot load " + file + ": it ", 0), 0u) << e;
        EXPECT_EQ(program.readAllStandardOutput().toStdString(), "");
    }
    EXPECT_EQ(readFile(many), before);
    EXPECT_FALSE(std::ifstream(home.file("default.qcf")).good());
}

// The largest file allowed still lets SIGTERM through soon.
TEST_F(Headless, SigtermEndsItWhileManySessionsLoad)
{
    std::ostringstream text;
    text << "[Lintrel]\r\nNumSessions=256\r\n";
    for (int i = 1; i <= 256; ++i)
        text << "[Session" << i << "]\r\nConnector=0\r\nBaudRate=6\r\nDatabits=3\r\nLocalIP=127.0.0.1\r\n"
             << "IPAddress=\r\nPortNumber=" << 30000 + i << "\r\nTCPOption=1\r\nAutoActivate=0\r\n"
             << "WaitForCr=0\r\nTimeoutValue=150\r\nAllowMultiConnect=1\r\n";
    const std::string file = home.file("many.qcf");
    std::ofstream(file, std::ios::binary) << text.str();
    const auto begin = std::chrono::steady_clock::now();
    start({"--headless", QString::fromStdString(file)});
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, std::chrono::seconds(5));
}

TEST_F(Headless, CheckPrintsEveryProblemAndWritesNothing)
{
    const std::string good = home.file("good.qcf");
    std::ofstream(good, std::ios::binary)
        << "[Lintrel]\r\nNumSessions=1\r\nPacketSize=512\r\n[Session1]\r\nConnector=9\r\nCreateVirtualPort=1\r\n"
           "LocalIP=127.0.0.1\r\nPortNumber=7000\r\nTCPOption=1\r\nAutoActivate=1\r\n";
    start({"--check", QString::fromStdString(good)});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 0);
    EXPECT_EQ(output(), good + ": 1 session, no problems\n");

    testsupport::PortsMap map;
    map.map(4, home.file("gone"));
    const std::string bad = home.file("bad.qcf");
    std::ofstream(bad, std::ios::binary)
        << "[Lintrel]\r\nNumSessions=2\r\nPacketSize=0\r\nPasword=x\r\n"
           "[Session1]\r\nConnector=4\r\nPortNumber=7000\r\nTCPOption=1\r\nLocalIP=127.0.0.1\r\nBaudRate=13\r\n"
           "[Session2]\r\nConnector=4\r\nPortNumber=7000\r\nTCPOption=1\r\nLocalIP=127.0.0.1\r\n";
    const std::string before = readFile(bad);
    out.clear();
    start({"--check", QString::fromStdString(bad)});
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitCode(), 1);
    const std::string text = output();
    for (const std::string& line : {
             bad + ":3: PacketSize=0 in [Lintrel] is read as 2000\n",
             bad + ":4: unknown key Pasword in [Lintrel]\n",
             bad + ":5: [Session1] COM4 is " + home.file("gone") + ", which does not exist\n",
             bad + ":10: BaudRate=13 in [Session1] is read as 6\n",
             bad + ":11: [Session2] and [Session1] both use COM4\n",
             bad + ":11: [Session2] and [Session1] both listen on TCP port 7000\n",
             bad + ":11: [Session2] COM4 is " + home.file("gone") + ", which does not exist\n",
             bad + ": 7 problems\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "in\n" << text;
    EXPECT_EQ(readFile(bad), before);
    EXPECT_EQ(QDir(QString::fromStdString(home.path())).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size(),
              2) << "nothing but the two files";
}
