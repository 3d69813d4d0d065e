// The option, password and resolve dialogs under the offscreen platform,
// found by their object names, on their own and from the windows that open
// them.
#include "config_file.h"
#include "frm_document.h"
#include "frm_io_options.h"
#include "frm_main.h"
#include "frm_options.h"
#include "frm_password.h"
#include "frm_resolve.h"
#include "global_options.h"
#include "shell_dialogs.h"

#include "registry/desktop_mirror.h"
#include "winsock/socket_control.h"
#include "temp_dir.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>

using namespace lintrel;

namespace {

bool exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

template <typename W>
W* child(QWidget* parent, const char* name)
{
    W* w = parent ? parent->findChild<W*>(name) : nullptr;
    EXPECT_NE(w, nullptr) << name;
    return w;
}

// Runs act on the next modal dialog once it is up (the caller then opens it).
void whenModal(std::function<void(QWidget*)> act)
{
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        }
    });
    timer->start();
}

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("LINTREL_HOME", home.path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", home.file("config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", home.file("data").c_str(), 1);
        ::setenv("LINTREL_REGISTRY_DIR", home.file("registry").c_str(), 1);
        ::setenv("LINTREL_PORT_DIR", home.path().c_str(), 1);
        GlobalOptions = {};
        IoOptionTransfer = {};
        ShellDialogs& d = shellDialogs();
        d.message = [this](QWidget*, const QString& text, const QString&, ShellDialogs::Icon) {
            messages.push_back(text);
        };
        d.enterPassword = [](QWidget* parent) { return QString::fromStdString(askPassword(parent)); };
        d.programFile = [this](QWidget*) { return programAnswer; };
    }
    testsupport::TempDir home;
    std::vector<QString> messages;
    QString programAnswer;
};

int packetSizeTyped(const QString& text)
{
    GlobalOptions.PacketSize = 777;
    frmOptions d;
    d.Combo1->setEditText(text);
    d.Command2->click();
    return GlobalOptions.PacketSize;
}

}  // namespace

TEST_F(Dialogs, PacketSizeRule)
{
    EXPECT_EQ(packetSizeTyped("0"), 2000);
    EXPECT_EQ(packetSizeTyped("10001"), 2000);
    EXPECT_EQ(packetSizeTyped("10000"), 10000);
    EXPECT_EQ(packetSizeTyped("1"), 1);
    EXPECT_EQ(packetSizeTyped("1500 bytes"), 1500);
    EXPECT_EQ(packetSizeTyped("abc"), 2000);
    EXPECT_EQ(packetSizeTyped("-5"), 2000);
    EXPECT_EQ(packetSizeTyped("2.5"), 2);    // halves to even
    EXPECT_EQ(packetSizeTyped("3.5"), 4);
    EXPECT_EQ(packetSizeTyped("1e3"), 1000);
    EXPECT_EQ(packetSizeTyped("1e300"), 2000);
}

TEST_F(Dialogs, OptionsShowTheRecordTakeItOnOkAndLeaveItOnCancel)
{
    GlobalOptions = {true, "/bin/logger", false, true, 3, 4, 500, ""};
    frmOptions d;
    EXPECT_EQ(d.windowTitle(), "Lintrel Options");
    EXPECT_EQ(child<QLineEdit>(&d, "Text1")->text(), "/bin/logger");
    EXPECT_TRUE(child<QCheckBox>(&d, "Check1")->isChecked());
    EXPECT_EQ(child<QComboBox>(&d, "Combo1")->currentText(), "500");
    EXPECT_EQ(child<QComboBox>(&d, "Combo1")->count(), 7);
    EXPECT_EQ(child<QComboBox>(&d, "Combo2")->currentText(), "20 Seconds");
    EXPECT_EQ(child<QComboBox>(&d, "Combo2")->count(), 12);
    EXPECT_EQ(child<QComboBox>(&d, "Combo3")->currentText(), "500 ms");
    EXPECT_EQ(child<QComboBox>(&d, "Combo3")->itemText(19), "2000 ms");
    EXPECT_TRUE(child<QCheckBox>(&d, "Check2")->isChecked());
    EXPECT_FALSE(child<QCheckBox>(&d, "chkLoadWithWindows")->isChecked());
    EXPECT_EQ(child<QPushButton>(&d, "Command1")->text(), "Browse...");

    // Browse: a chosen program replaces the command line, a cancel keeps it.
    d.Command1->click();
    EXPECT_EQ(d.Text1->text(), "/bin/logger");
    programAnswer = "/usr/bin/true";
    d.Command1->click();
    EXPECT_EQ(d.Text1->text(), "/usr/bin/true");

    d.Check1->setChecked(false);
    d.Combo1->setEditText("4000");
    d.Check2->setChecked(false);
    d.Combo2->setCurrentIndex(11);
    d.Combo3->setCurrentIndex(0);
    d.chkLoadWithWindows->setChecked(true);
    const GlobalOptionsRecord before = GlobalOptions;
    d.Command3->click();
    EXPECT_EQ(GlobalOptions.OnErrorRunApp, before.OnErrorRunApp);
    EXPECT_TRUE(GlobalOptions.LogErrors);
    EXPECT_EQ(GlobalOptions.PacketSize, 500);
    EXPECT_EQ(GlobalOptions.PingFrequency, 3);
    EXPECT_FALSE(GlobalOptions.LoadWithWindows);

    d.Command2->click();
    EXPECT_EQ(GlobalOptions.OnErrorRunApp, "/usr/bin/true");
    EXPECT_FALSE(GlobalOptions.LogErrors);
    EXPECT_EQ(GlobalOptions.PacketSize, 4000);
    EXPECT_FALSE(GlobalOptions.PingEnabled);
    EXPECT_EQ(GlobalOptions.PingFrequency, 11);
    EXPECT_EQ(GlobalOptions.PingTimeout, 0);
    EXPECT_TRUE(GlobalOptions.LoadWithWindows);
}

TEST_F(Dialogs, PingPositionsOutsideTheListsOpenAndSurviveOk)
{
    GlobalOptions.PingFrequency = 40;
    GlobalOptions.PingTimeout = -3;
    frmOptions d;
    EXPECT_EQ(d.Combo2->currentIndex(), -1);
    EXPECT_EQ(d.Combo3->currentIndex(), -1);
    d.Command2->click();
    EXPECT_EQ(GlobalOptions.PingFrequency, 40);
    EXPECT_EQ(GlobalOptions.PingTimeout, -3);
    frmOptions again;
    again.Combo2->setCurrentIndex(2);
    again.Command2->click();
    EXPECT_EQ(GlobalOptions.PingFrequency, 2);
}

TEST_F(Dialogs, StartAtLogonWaitsForTheNextSave)
{
    frmMain w;
    w.Form_Load("");
    const std::string autostart = lt::registry::autostartFile("Lintrel");
    whenModal([](QWidget* d) {
        child<QCheckBox>(d, "chkLoadWithWindows")->setChecked(true);
        child<QPushButton>(d, "Command2")->click();
    });
    w.findChild<QAction*>("mnuFileOptions")->trigger();
    EXPECT_TRUE(GlobalOptions.LoadWithWindows);
    EXPECT_FALSE(exists(autostart));
    w.close();
    EXPECT_TRUE(exists(autostart));
}

TEST_F(Dialogs, ServerOptionsFromTheSessionWindowCancelAndOk)
{
    frmMain w;
    w.Form_Load("");
    Session& s = w.session(0);
    s.TCPOption_Click(1);
    auto* io = child<QPushButton>(w.document(0), "Command2");
    EXPECT_EQ(io->text(), "I/O Options...");
    auto changeAll = [](QWidget* d, const char* button) {
        EXPECT_EQ(d->windowTitle(), "Server I/O Options");
        EXPECT_TRUE(child<QCheckBox>(d, "chkMultiClients")->isChecked());
        EXPECT_TRUE(child<QRadioButton>(d, "OptionSerial_0")->isChecked());
        EXPECT_TRUE(child<QRadioButton>(d, "OptionTCP_0")->isChecked());
        child<QCheckBox>(d, "chkMultiClients")->setChecked(false);
        child<QRadioButton>(d, "OptionSerial_2")->setChecked(true);
        child<QRadioButton>(d, "OptionTCP_1")->setChecked(true);
        child<QPushButton>(d, button)->click();
    };
    whenModal([&](QWidget* d) { changeAll(d, "Command2"); });
    io->click();
    EXPECT_EQ(s.AllowMultiConnect, 1);
    EXPECT_EQ(s.ServerSerialOptions, 0);
    EXPECT_EQ(s.ServerTCPOptions, 0);

    // Closing the window is a cancel too.
    whenModal([](QWidget* d) {
        child<QRadioButton>(d, "OptionTCP_2")->setChecked(true);
        d->close();
    });
    io->click();
    EXPECT_EQ(s.ServerTCPOptions, 0);

    whenModal([&](QWidget* d) { changeAll(d, "Command1"); });
    io->click();
    EXPECT_EQ(s.AllowMultiConnect, 0);
    EXPECT_EQ(s.ServerSerialOptions, 2);
    EXPECT_EQ(s.ServerTCPOptions, 1);
}

TEST_F(Dialogs, ClientOptionsFromTheSessionWindowCancelAndOk)
{
    frmMain w;
    w.Form_Load("");
    Session& s = w.session(0);
    auto* io = child<QPushButton>(w.document(0), "Command2");
    auto changeAll = [](QWidget* d, const char* button) {
        EXPECT_EQ(d->windowTitle(), "Client I/O Options");
        EXPECT_TRUE(child<QRadioButton>(d, "Option1_0")->isChecked());
        EXPECT_TRUE(child<QCheckBox>(d, "chkConnectOnVirtualPort")->isChecked());
        child<QRadioButton>(d, "Option1_2")->setChecked(true);
        child<QCheckBox>(d, "chkConnectOnVirtualPort")->setChecked(false);
        child<QPushButton>(d, button)->click();
    };
    whenModal([&](QWidget* d) { changeAll(d, "Command2"); });
    io->click();
    EXPECT_EQ(s.ClientOptions, 0);
    EXPECT_EQ(s.ConnectOnVirtualOpen, 1);
    whenModal([&](QWidget* d) { changeAll(d, "Command1"); });
    io->click();
    EXPECT_EQ(s.ClientOptions, 2);
    EXPECT_EQ(s.ConnectOnVirtualOpen, 0);
}

TEST_F(Dialogs, IoOptionsOutsideTheirRangeStayAsTheyWere)
{
    IoOptionTransfer.fields = {1, 7, 2, 9, 1};
    frmServerOptions server;
    EXPECT_FALSE(server.OptionSerial[0]->isChecked() || server.OptionSerial[1]->isChecked() ||
                 server.OptionSerial[2]->isChecked());
    server.Command1->click();
    EXPECT_EQ(IoOptionTransfer.fields[1], 7);
    EXPECT_EQ(IoOptionTransfer.fields[2], 2);
    frmClientOptions client;
    client.Command1->click();
    EXPECT_EQ(IoOptionTransfer.fields[3], 9);
}

TEST_F(Dialogs, SetPassword)
{
    GlobalOptions.Password = "Old";
    {
        Form1 d;
        d.show();
        EXPECT_EQ(d.windowTitle(), "Lintrel Password");
        EXPECT_EQ(d.Text1->text(), "Old");
        EXPECT_EQ(d.Text2->text(), "Old");
        EXPECT_EQ(d.Text1->echoMode(), QLineEdit::Password);
        EXPECT_EQ(d.Text2->echoMode(), QLineEdit::Password);
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        EXPECT_NEAR(d.frameGeometry().center().x(), screen.center().x(), 20);
        EXPECT_NEAR(d.frameGeometry().center().y(), screen.center().y(), 40);

        d.Text1->setText("New");
        d.Text2->setText("new");
        d.Command1->click();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0], "Your confirming password does not match your password. Please re-enter.");
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(GlobalOptions.Password, "Old");
        d.Command2->click();
        EXPECT_EQ(GlobalOptions.Password, "Old");
    }
    {
        Form1 d;
        d.Command1->click();   // unchanged: kept
        EXPECT_EQ(GlobalOptions.Password, "Old");
    }
    Form1 d;
    d.Text1->clear();
    d.Text2->clear();
    d.Command1->click();
    EXPECT_EQ(GlobalOptions.Password, "");
}

TEST_F(Dialogs, RestoreAsksWithTheEnterPasswordDialogAndExitDoesNot)
{
    {
        frmMain w;
        w.Form_Load("");
        GlobalOptions.Password = "Pw";
        w.showLoaded();
        w.setWindowState(kStateMinimized);
        w.close();   // saves the password and the minimized state
    }
    frmMain w;
    w.Form_Load("");
    w.showLoaded();
    ASSERT_TRUE(w.isMinimized());
    w.Timer2_Timer();
    whenModal([](QWidget* d) {
        EXPECT_EQ(d->objectName(), "Form2");
        EXPECT_EQ(d->windowTitle(), "Lintrel Password");
        auto* field = child<QLineEdit>(d, "Text1");
        EXPECT_EQ(field->echoMode(), QLineEdit::Password);
        field->setText("PW");   // differs in case only
        child<QPushButton>(d, "Command1")->click();
    });
    w.setWindowState(kStateNormal);
    EXPECT_TRUE(w.isMinimized());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Invalid password");

    w.Timer2_Timer();
    whenModal([](QWidget* d) {
        child<QLineEdit>(d, "Text1")->setText("Pw");
        child<QPushButton>(d, "Command1")->click();
    });
    w.setWindowState(kStateNormal);
    EXPECT_FALSE(w.isMinimized());

    // File > Exit ends the program without a prompt.
    bool prompted = false;
    shellDialogs().enterPassword = [&](QWidget*) {
        prompted = true;
        return QString();
    };
    w.findChild<QAction*>("mnuFileExit")->trigger();
    EXPECT_FALSE(prompted);
    EXPECT_FALSE(w.isVisible());
}

TEST_F(Dialogs, ResolveTool)
{
    frmResolve d;
    EXPECT_EQ(d.windowTitle(), "Resolve IP Address from Host Name:");
    EXPECT_EQ(d.txtHostName->toolTip(),
              "Enter the Workstation Name or the URL for the computer that you want to find the IP Address of");
    EXPECT_EQ(d.Command1->text(), "&Resolve IP Address");
    d.txtHostName->setText("127.0.0.1");
    d.Command1->click();
    EXPECT_EQ(d.txtIPAddress->text(), "127.0.0.1");
    d.txtHostName->setText("localhost");
    d.txtIPAddress->setText("x");
    d.Command1->click();
    EXPECT_EQ(d.txtIPAddress->text(), "127.0.0.1");
    d.txtHostName->setText("no-such-host.invalid");
    d.Command1->click();
    EXPECT_EQ(d.txtIPAddress->text(), "127.0.0.1");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Cannot resolve the IP Address for host name: no-such-host.invalid");
    d.Command3->click();   // Help... does nothing
    EXPECT_EQ(messages.size(), 1u);
}

// The security group edits the session's fields, picks files through the
// file seam, locks while the session is active and shows what was refused.
TEST_F(Dialogs, SecurityGroupOfTheSessionWindow)
{
    frmDocument w;
    Session& s = w.session();
    QString picked = "/etc/lintrel/server.pem";
    QString askedTitle;
    shellDialogs().pemFile = [&](QWidget*, const QString& title, const QString&) {
        askedTitle = title;
        return picked;
    };
    child<QLineEdit>(&w, "AllowedClients")->setText("x");   // programmatic: not an edit
    EXPECT_EQ(s.Security.AllowedClients.text, "");
    QTest::keyClicks(child<QLineEdit>(&w, "AllowedClients"), "10.0.0.0/8");
    EXPECT_EQ(s.Security.AllowedClients.text, "x10.0.0.0/8");
    child<QCheckBox>(&w, "Tls")->click();
    EXPECT_TRUE(s.Security.Tls.checked);
    child<QToolButton>(&w, "TlsCertificateBrowse")->click();
    EXPECT_EQ(askedTitle, "TLS Certificate");
    EXPECT_EQ(s.Security.TlsCertificate.text, "/etc/lintrel/server.pem");
    EXPECT_EQ(child<QLineEdit>(&w, "TlsCertificate")->text(), "/etc/lintrel/server.pem");
    picked.clear();   // cancelled: the path stays
    child<QToolButton>(&w, "TlsCertificateBrowse")->click();
    EXPECT_EQ(s.Security.TlsCertificate.text, "/etc/lintrel/server.pem");
    child<QCheckBox>(&w, "TlsRequireClientCertificate")->click();
    EXPECT_TRUE(s.Security.TlsRequireClientCertificate.checked);

    // While the session is active the group is locked and shows who was refused.
    s.Combo2.select("COM3");
    s.TCPOption_Click(1);
    s.Security.Tls.checked = false;
    s.Security.AllowedClients.text = "127.0.0.1";
    s.PortNumber.text = "0";
    s.LocalIP.items.push_back("127.0.0.1");
    s.LocalIP.select("127.0.0.1");
    ::setenv("LINTREL_PORT_DIR", home.path().c_str(), 1);
    s.chkVPort.checked = true;
    child<QPushButton>(&w, "Command1")->click();
    ASSERT_TRUE(s.isActive()) << s.StatusBar1[1].text;
    for (const char* name : {"AllowedClients", "TlsCertificate", "TlsKey", "TlsCaFile"})
        EXPECT_FALSE(child<QLineEdit>(&w, name)->isEnabled()) << name;
    EXPECT_FALSE(child<QToolButton>(&w, "TlsKeyBrowse")->isEnabled());
    EXPECT_FALSE(child<QCheckBox>(&w, "Tls")->isEnabled());
    auto* refused = child<QLabel>(&w, "Refused");
    EXPECT_TRUE(refused->isHidden());

    QTcpSocket stranger;
    ASSERT_TRUE(stranger.bind(QHostAddress("127.0.0.2"), 0));
    stranger.connectToHost("127.0.0.1", quint16(s.Winsock1(0).localPort));
    QDeadlineTimer until(10000);
    while (s.Security.RefusedCount == 0 && !until.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_FALSE(refused->isHidden());
    EXPECT_TRUE(refused->text().startsWith("Refused: 1, the last: client 127.0.0.2:")) << refused->text().toStdString();
    EXPECT_TRUE(refused->text().endsWith(" refused: not allowed")) << refused->text().toStdString();
    child<QPushButton>(&w, "Command1")->click();
    EXPECT_TRUE(child<QLineEdit>(&w, "AllowedClients")->isEnabled());
}
