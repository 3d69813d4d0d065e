// Reaching a device path through the COM namespace.
#include "port_name.h"
#include "pty_pair.h"
#include "serial/namespace.h"

#include <QFile>
#include <QProcess>

#include <gtest/gtest.h>

TEST(PortName, ComNamesAndDevicePaths)
{
    EXPECT_EQ(qelterm::choosePort("COM4").number, 4);
    EXPECT_EQ(qelterm::choosePort("relative/path").number, 0);

    testsupport::PtyPair pty;
    testsupport::PortsMap ports;
    ports.map(3, "/dev/null");
    // A path already mapped keeps its number.
    ports.map(12, pty.slavePath());
    EXPECT_EQ(qelterm::choosePort(pty.slavePath()).number, 12);
}

TEST(PortName, UnmappedPathGetsAPrivateMapEntry)
{
    testsupport::PtyPair pty;
    testsupport::PortsMap ports;
    ports.map(3, "/dev/null");
    const qelterm::PortChoice c = qelterm::choosePort(pty.slavePath());
    ASSERT_GT(c.number, 0);
    ASSERT_FALSE(c.tempMap.empty());
    EXPECT_EQ(serial::resolvePortName("COM" + std::to_string(c.number)), pty.slavePath());
    EXPECT_EQ(serial::resolvePortName("COM3"), "/dev/null");  // the user's entries stay
    QFile::remove(QString::fromStdString(c.tempMap));
}

// A remote port is reached through the namespace like a device path.
TEST(PortName, RemotePortsAreMappedLikeDevicePaths)
{
    testsupport::PortsMap ports;
    ports.map(12, "rfc2217://10.0.0.5:2217");
    EXPECT_EQ(qelterm::choosePort("rfc2217://10.0.0.5:2217").number, 12);
    EXPECT_EQ(qelterm::choosePort("telnet://10.0.0.5:2217").number, 0);
    const qelterm::PortChoice c = qelterm::choosePort("rfc2217://127.0.0.1:2217");
    ASSERT_GT(c.number, 0);
    EXPECT_EQ(serial::resolvePortName("COM" + std::to_string(c.number)), "rfc2217://127.0.0.1:2217");
    EXPECT_EQ(serial::resolvePortName("COM12"), "rfc2217://10.0.0.5:2217");
    QFile::remove(QString::fromStdString(c.tempMap));
}

// Started from a desktop menu with a port that does not exist, the window
// opens anyway and says why, instead of leaving one line on a standard
// error nobody reads.
TEST(PortName, TheWindowOpensWhenThePortDoesNot)
{
    QProcess term;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    term.setProcessEnvironment(env);
    term.start(QELTERM_PATH, {"--port", "/dev/no-such-serial-device"});
    ASSERT_TRUE(term.waitForStarted(5000));
    EXPECT_FALSE(term.waitForFinished(2000)) << "exit code " << term.exitCode();
    EXPECT_NE(term.readAllStandardError().toStdString().find(
                  "Cannot open /dev/no-such-serial-device: there is no such device"),
              std::string::npos);
    term.kill();
    term.waitForFinished(3000);
}
