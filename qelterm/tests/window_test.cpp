// qelterm's window on a pseudo-terminal, driven through its actions and
// shortcuts as a user would: what received bytes look like (hex dump, time
// stamps), the title, clearing, the log, a device that goes away and comes
// back, the size it opens with, and Connect To.
#include "port_dialog.h"
#include "pty_pair.h"
#include "pump.h"
#include "qelcomm_terminal.h"
#include "temp_dir.h"
#include "terminal_view.h"
#include "window.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

namespace {

using qelcomm::control::CQelComm;
using testsupport::pumpFor;
using testsupport::pumpUntil;

// Runs act on the next modal dialog once it shows.
void whenModal(std::function<void(QWidget*)> act)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(w);
        }
    });
    timer->start(20);
}

std::string screenText(const CQelComm& c)
{
    std::string text(65536, '\0');
    text.resize(std::size_t(::GetContents(c.Window(), text.data(), std::int32_t(text.size()))));
    return text;
}

std::string scrollText(const CQelComm& c)
{
    std::string text(65536, '\0');
    text.resize(std::size_t(::GetScrollContents(c.Window(), text.data(), std::int32_t(text.size()))));
    return text;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class Window : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The remembered window size goes to a folder of this test's own.
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(m_dir.file("config")));
        std::filesystem::create_symlink(m_device->slavePath(), m_link);
        m_map.map(7, m_link);
        qelterm::Options o;
        o.fixedSize = true;   // 80 x 25 whatever the size of a window not shown
        qelterm::setUpTerminal(m_control, o);
        m_control.SetCommPort(7);
        m_control.SetSettings("9600,n,8,1");
        m_window = std::make_unique<qelterm::TermWindow>(m_control, m_link);
        m_control.SetPortOpen(true);
        ASSERT_TRUE(m_control.PortOpen());
        m_window->refresh();
    }
    void TearDown() override
    {
        m_window.reset();
        qunsetenv("XDG_CONFIG_HOME");
    }

    QAction* action(const char* name) const { return m_window->findChild<QAction*>(name); }
    QString label(const char* name) const { return m_window->findChild<QLabel*>(name)->text(); }
    // What the far end sends, once it is on the screen.
    bool shows(const std::string& sent, const std::string& part)
    {
        m_device->send(sent);
        return pumpUntil([&] { return contains(screenText(m_control), part); }, 5000);
    }
    // The device unplugged and, when back is true, plugged in again under the same name.
    void unplug() { m_device->hangUp(); }
    void plugIn()
    {
        m_device = std::make_unique<testsupport::PtyPair>();
        std::filesystem::remove(m_link);
        std::filesystem::create_symlink(m_device->slavePath(), m_link);
    }

    testsupport::TempDir m_dir;
    std::unique_ptr<testsupport::PtyPair> m_device = std::make_unique<testsupport::PtyPair>();
    std::string m_link = m_dir.file("ttyUSB-board");
    testsupport::PortsMap m_map;
    CQelComm m_control;
    std::unique_ptr<qelterm::TermWindow> m_window;
};

TEST_F(Window, ReceivedLinesWithTimeStampsAndBytesAsAHexDump)
{
    m_window->receiver().clock = [] { return QTime(9, 5, 0, 42); };
    EXPECT_TRUE(shows("plain\r\n", "plain"));
    action("actionTimestamps")->trigger();
    EXPECT_TRUE(shows("U-Boot 2024.01\r\n=> ", "[09:05:00.042] U-Boot 2024.01\r\n[09:05:00.042] =>"))
        << screenText(m_control);
    // The hex dump starts on a line of its own; escape sequences show as bytes.
    action("actionHex")->trigger();
    EXPECT_TRUE(shows("OK\x1b[0m\r\n", "\r\n[09:05:00.042] 4f 4b 1b 5b 30 6d 0d 0a" + std::string(8 * 3, ' ') +
                                           "  OK.[0m..\r\n"))
        << screenText(m_control);
    action("actionTimestamps")->trigger();
    EXPECT_TRUE(shows("\xC3\xBC", "c3 bc" + std::string(14 * 3, ' ') + "  ..\r\n")) << screenText(m_control);
    action("actionHex")->trigger();
    EXPECT_TRUE(shows("gr\xC3\xBC\xC3\x9F" "e\r\n", "\r\ngr\xC3\xBC\xC3\x9F" "e\r\n")) << screenText(m_control);
}

TEST_F(Window, TitleAndStatusBarSayPortSettingsLinesAndState)
{
    const QString port = QString::fromStdString(m_link);
    EXPECT_EQ(m_window->windowTitle(), port + " 9600,n,8,1 [Connected] - qelterm");
    EXPECT_EQ(label("port"), port);
    const QString lines = label("lines");
    action("actionDtr")->trigger();
    action("actionRts")->trigger();
    EXPECT_NE(label("lines"), lines);
    EXPECT_EQ(m_control.DTRHolding(), action("actionDtr")->isChecked());
    EXPECT_EQ(label("lines"), QString("DTR %1  RTS %2").arg(m_control.DTRHolding() ? "on" : "off",
                                                            m_control.RTSEnable() ? "on" : "off"));
    action("actionDisconnect")->trigger();
    EXPECT_FALSE(m_control.PortOpen());
    EXPECT_EQ(m_window->windowTitle(), port + " 9600,n,8,1 [Disconnected] - qelterm");
    EXPECT_FALSE(action("actionBreak")->isEnabled());
    action("actionConnect")->trigger();
    EXPECT_TRUE(m_control.PortOpen());
    EXPECT_EQ(label("state"), "Connected");
}

// Ctrl+Shift with a letter is the window's; Ctrl with the letter alone
// still reaches the port as its control code.
TEST_F(Window, ShortcutsClearTheScreenAndScrollBackWhileCtrlLettersGoToThePort)
{
    m_window->show();
    QApplication::setActiveWindow(m_window.get());
    m_window->view()->setFocus();
    ASSERT_TRUE(pumpUntil([&] { return m_window->isActiveWindow(); }, 3000));
    std::string lines;
    for (int i = 0; i < 60; ++i)
        lines += "line " + std::to_string(i) + "\r\n";
    ASSERT_TRUE(shows(lines, "line 59"));
    EXPECT_TRUE(contains(scrollText(m_control), "line 0\r\n"));

    QTest::keyClick(m_window->view(), Qt::Key_L, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(contains(screenText(m_control), "line"));
    EXPECT_TRUE(contains(scrollText(m_control), "line 59"));   // the screen went into the scroll-back
    QTest::keyClick(m_window->view(), Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(contains(scrollText(m_control), "line"));
    EXPECT_TRUE(shows("after\r\n", "after"));
    EXPECT_EQ(m_device->receive(1, 200), "");   // nothing went to the port

    QTest::keyClick(m_window->view(), Qt::Key_L, Qt::ControlModifier);
    EXPECT_EQ(m_device->receive(1, 3000), "\x0c");
    EXPECT_TRUE(contains(screenText(m_control), "after"));
}

TEST_F(Window, LogToFileTakesTheTextAsShown)
{
    const QString file = QString::fromStdString(m_dir.file("board.log"));
    ASSERT_TRUE(m_window->logTo(file));
    EXPECT_TRUE(action("actionLog")->isChecked());
    EXPECT_EQ(label("log"), "Log: board.log");
    ASSERT_TRUE(shows("\x1b[32mlogged\x1b[0m line\r\n", "logged line"));
    EXPECT_TRUE(m_window->logTo({}));
    EXPECT_FALSE(action("actionLog")->isChecked());
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().toStdString(), "logged line\r\n");
    EXPECT_FALSE(m_window->logTo(QString::fromStdString(m_dir.file("no/such/folder.log"))));
    EXPECT_FALSE(action("actionLog")->isChecked());
}

TEST_F(Window, ADeviceThatGoesAwayIsOpenedAgainWhenItReturns)
{
    ASSERT_TRUE(shows("before\r\n", "before"));
    unplug();
    ASSERT_TRUE(pumpUntil([&] { return m_window->state() == "Device gone, waiting for it"; }, 5000))
        << m_window->state();
    m_window->refresh();
    EXPECT_TRUE(m_window->windowTitle().contains("[Device gone, waiting for it]"));
    // "[qelterm HH:MM:SS] /tmp/.../ttyUSB-board is gone; ...", wrapped at 80 columns.
    EXPECT_TRUE(contains(screenText(m_control), "ttyUSB-board is gone; waiting for it"))
        << screenText(m_control);
    pumpFor(1200);   // tries while it is away fail quietly
    EXPECT_EQ(m_window->state(), "Device gone, waiting for it");

    plugIn();
    ASSERT_TRUE(pumpUntil([&] { return m_control.PortOpen(); }, 5000));
    EXPECT_EQ(m_window->state(), "Connected");
    EXPECT_TRUE(contains(screenText(m_control), "ttyUSB-board is back")) << screenText(m_control);
    EXPECT_TRUE(shows("after\r\n", "after"));
    m_control.Output("typed");
    EXPECT_EQ(m_device->receive(5, 3000), "typed");
}

TEST_F(Window, WithoutReopenAGoneDeviceStaysClosed)
{
    action("actionReopen")->trigger();
    EXPECT_FALSE(action("actionReopen")->isChecked());
    unplug();
    ASSERT_TRUE(pumpUntil([&] { return m_window->state() == "Device gone"; }, 5000)) << m_window->state();
    plugIn();
    pumpFor(1500);
    EXPECT_FALSE(m_control.PortOpen());
    action("actionConnect")->trigger();
    EXPECT_EQ(m_window->state(), "Connected");
}

TEST_F(Window, OpensCentredAtTheSizeItWasClosedWith)
{
    m_window->place(true);   // nothing remembered yet: the whole screen shows
    EXPECT_EQ(m_window->size(), m_window->sizeHint().boundedTo(m_window->screen()->availableGeometry().size()));
    m_window->show();
    m_window->resize(640, 420);
    m_window->close();
    CQelComm other;
    qelterm::TermWindow again(other, "COM7");
    again.place(true);
    EXPECT_EQ(again.size(), QSize(640, 420));
    const QPoint centre = again.screen()->availableGeometry().center();
    EXPECT_LE((again.geometry().center() - centre).manhattanLength(), 2);
    again.place(false);   // a screen of fixed size is shown whole instead
    EXPECT_EQ(again.size(), again.sizeHint().boundedTo(again.screen()->availableGeometry().size()));
}

// Until a remote port answers, Connect To asks again, saying why and
// keeping what was entered; the window names the port tried.
TEST_F(Window, ConnectToAsksAgainWithWhyAndKeepsTheRemotePort)
{
    QString problem, host;
    int tcpPort = 0;
    whenModal([&](QWidget* w) {
        ASSERT_EQ(w->objectName(), "RemoteDialog");
        w->findChild<QLineEdit*>("host")->setText("127.0.0.1");
        w->findChild<QSpinBox*>("tcpPort")->setValue(1);
        whenModal([&](QWidget* again) {
            problem = again->findChild<QLabel*>("problem")->text();
            host = again->findChild<QLineEdit*>("host")->text();
            tcpPort = again->findChild<QSpinBox*>("tcpPort")->value();
            static_cast<QDialog*>(again)->reject();
        });
        static_cast<QDialog*>(w)->accept();
    });
    action("actionConnectTo")->trigger();
    EXPECT_TRUE(problem.startsWith("Cannot open rfc2217://127.0.0.1:1: no remote port answered there")) << problem.toStdString();
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(tcpPort, 1);
    EXPECT_FALSE(m_control.PortOpen());
    EXPECT_EQ(m_window->windowTitle(), "rfc2217://127.0.0.1:1 9600,n,8,1 [Disconnected] - qelterm");
}

}  // namespace
