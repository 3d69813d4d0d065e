// A port that does not open: the words the user gets, and opening another
// one chosen by COM name or device path.
#include "port_dialog.h"
#include "pty_pair.h"
#include "qel_comm.h"
#include "temp_dir.h"

#include <QComboBox>
#include <QLabel>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

bool contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(PortDialog, TheReasonAPortDidNotOpen)
{
    const std::string none = qelterm::openFailureText("/dev/no-such-serial-device");
    EXPECT_TRUE(contains(none, "Cannot open /dev/no-such-serial-device: there is no such device")) << none;

    testsupport::PtyPair pty;
    testsupport::PortsMap map;
    map.map(7, pty.slavePath());
    const std::string held = qelterm::openFailureText("COM7");
    EXPECT_TRUE(contains(held, "Cannot open COM7 (" + pty.slavePath() + "): another program holds it")) << held;

    if (::geteuid() != 0) {   // root may open anything, so the check cannot fail there
        testsupport::TempDir dir;
        const std::string locked = dir.file("ttyLocked");
        ::close(::open(locked.c_str(), O_CREAT | O_WRONLY, 0600));
        ::chmod(locked.c_str(), 0);
        const std::string denied = qelterm::openFailureText(locked);
        EXPECT_TRUE(contains(denied, "permission denied")) << denied;
        EXPECT_TRUE(contains(denied, "usermod -aG")) << denied;
    }
}

TEST(PortDialog, AnotherPortChosenByDevicePathOrComName)
{
    testsupport::PtyPair pty;
    testsupport::PortsMap map;
    qelcomm::control::CQelComm control;
    std::vector<std::string> maps;
    map.map(9, pty.slavePath());
    EXPECT_EQ(qelterm::openChosenPort(control, "COM9", "9600,n,8,1", maps), "");
    EXPECT_EQ(control.CommPort(), 9);
    EXPECT_TRUE(control.PortOpen());
    EXPECT_EQ(pty.line().baud, 9600u);
    control.SetPortOpen(false);
    EXPECT_TRUE(contains(qelterm::openChosenPort(control, "not a port", "9600,n,8,1", maps),
                         "neither a COM name, a device path nor a remote port"));
    EXPECT_TRUE(contains(qelterm::openChosenPort(control, "/dev/no-such-serial-device", "9600,n,8,1", maps),
                         "no such device"));
    EXPECT_FALSE(control.PortOpen());
    EXPECT_TRUE(contains(qelterm::openChosenPort(control, pty.slavePath(), "fast", maps), "not settings"));

    // The next choice closes this one first.
    EXPECT_EQ(qelterm::openChosenPort(control, pty.slavePath(), "57600,n,8,1", maps), "");
    EXPECT_TRUE(control.PortOpen());
    EXPECT_EQ(pty.line().baud, 57600u);
    control.SetPortOpen(false);
    for (const std::string& m : maps)
        ::unlink(m.c_str());
}

TEST(PortDialog, ShowsTheProblemAndOffersTheDevices)
{
    testsupport::TempDir ports;
    ::setenv("LINTREL_PORT_DIR", ports.path().c_str(), 1);
    ::symlink("/dev/null", ports.file("COM12").c_str());
    qelterm::PortDialog d(nullptr, "Cannot open COM1", "COM1", "9600,n,8,1");
    auto* problem = d.findChild<QLabel*>("problem");
    ASSERT_NE(problem, nullptr);
    EXPECT_EQ(problem->text(), "Cannot open COM1");
    auto* port = d.findChild<QComboBox*>("port");
    ASSERT_NE(port, nullptr);
    EXPECT_GE(port->findText("COM12"), 0);
    EXPECT_GE(port->findText("COM1"), 0);
    EXPECT_EQ(d.port(), "COM1");
    EXPECT_EQ(d.settings(), "9600,n,8,1");
    ::unsetenv("LINTREL_PORT_DIR");
}

}  // namespace
