// The windowless mode end to end: the built program on a generated file,
// a pseudo-terminal mapped as COM3 at the serial end and a TCP peer on
// 127.0.0.1 at the other.
#include "registration.h"
#include "startup.h"

#include "registry/desktop_mirror.h"

#include "pty_pair.h"
#include "temp_dir.h"

#include <QCoreApplication>
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

#include <sys/stat.h>
#include <unistd.h>

namespace {

bool pumpUntil(const std::function<bool()>& pred, int ms = 10000)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= until)
            return false;
        QCoreApplication::processEvents();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
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
    void start(const QStringList& args)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LINTREL_HOME", QString::fromStdString(home.path()));
        env.insert("LINTREL_PORT_DIR", QString::fromStdString(ports.path()));
        program.setProcessEnvironment(env);
        program.start(LINTREL_BINARY, args);
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
