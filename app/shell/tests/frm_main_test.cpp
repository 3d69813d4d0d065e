// The main window and its session windows under the offscreen platform:
// start-up from a file, the File menu, shut-down and the placement store,
// the restore password check, and a session window driving a real session.
#include "config_file.h"
#include "pump.h"
#include "frm_document.h"
#include "frm_main.h"
#include "frm_password.h"
#include "global_options.h"
#include "shell_dialogs.h"

#include "pty_pair.h"
#include "temp_dir.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

using namespace lintrel;

namespace {

using testsupport::pumpUntil;

void writeFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary) << data;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct Message {
    QString text, title;
};

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::setenv("LINTREL_HOME", home.path().c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", config.path().c_str(), 1);
        ::setenv("LINTREL_PORT_DIR", ports.path().c_str(), 1);
        ::setenv("XDG_DATA_HOME", data.path().c_str(), 1);
        ::setenv("LINTREL_REGISTRY_DIR", config.file("registry").c_str(), 1);
        GlobalOptions = {};
        IoOptionTransfer = {};
        ShellDialogs& d = shellDialogs();
        d.message = [this](QWidget*, const QString& text, const QString& title, ShellDialogs::Icon) {
            messages.push_back({text, title});
        };
        d.configFile = [this](QWidget*, bool save) {
            fileDialogs.push_back(save);
            return fileAnswer;
        };
        d.enterPassword = [this](QWidget*) {
            ++passwordPrompts;
            return passwordAnswer;
        };
    }

    static std::string placement(const char* key)
    {
        QSettings store("Lintrel", "Lintrel");
        return store.value(QString("Settings/") + key).toString().toStdString();
    }
    static void setPlacement(int left, int top, int width, int height)
    {
        QSettings store("Lintrel", "Lintrel");
        store.setValue("Settings/MainLeft", QString::number(left));
        store.setValue("Settings/MainTop", QString::number(top));
        store.setValue("Settings/MainWidth", QString::number(width));
        store.setValue("Settings/MainHeight", QString::number(height));
    }

    template <typename W>
    W* find(frmMain& w, const char* name, std::size_t session = 0)
    {
        W* widget = w.document(session)->findChild<W*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    testsupport::TempDir home, config, ports, data;
    std::vector<Message> messages;
    std::vector<bool> fileDialogs;
    QString fileAnswer;
    QString passwordAnswer;
    int passwordPrompts = 0;
};

}  // namespace

TEST_F(MainWindow, FirstStartShowsAWholeSessionWindowAndSavesOnExit)
{
    auto* w = new frmMain;
    w->Form_Load("");
    w->showLoaded();
    ASSERT_EQ(w->sessionCount(), 1u);
    EXPECT_EQ(w->document(0)->windowTitle().toStdString(), kNewCaption);
    EXPECT_EQ(w->windowTitle(), "Lintrel");
    const double tpp = 1440.0 / w->logicalDpiX();
    EXPECT_EQ(w->x(), std::lround(1000 / tpp));
    EXPECT_EQ(w->y(), std::lround(1000 / tpp));
    EXPECT_GE(w->width(), std::lround(7000 / tpp));
    EXPECT_GE(w->height(), std::lround(5000 / tpp));
    // Nothing saved yet: the session window with its Activate button is
    // wholly in view, without scroll bars.
    testsupport::pumpFor(100);
    auto* mdi = w->findChild<QMdiArea*>("mdiArea");
    ASSERT_NE(mdi, nullptr);
    QMdiSubWindow* sub = mdi->subWindowList().first();
    EXPECT_TRUE(mdi->viewport()->rect().contains(sub->geometry()))
        << sub->geometry().width() << "x" << sub->geometry().height() << " in "
        << mdi->viewport()->width() << "x" << mdi->viewport()->height() << " window " << w->width() << "x"
        << w->height() << " screen " << w->screen()->availableGeometry().width() << "x"
        << w->screen()->availableGeometry().height();
    auto* activate = find<QPushButton>(*w, "Command1");
    EXPECT_TRUE(mdi->viewport()->rect().contains(
        QRect(activate->mapTo(mdi->viewport(), QPoint(0, 0)), activate->size())));
    EXPECT_FALSE(w->TrayIconAdded);   // the offscreen platform has no tray

    find<QLineEdit>(*w, "PortNumber")->setText("4321");
    w->session(0).PortNumber.text = "4321";
    const int width = w->width(), height = w->height();
    w->close();
    delete w;
    const std::string saved = readFile(defaultConfigFile());
    EXPECT_NE(saved.find("NumSessions=1\r\n"), std::string::npos);
    EXPECT_NE(saved.find("PortNumber=4321\r\n"), std::string::npos);
    EXPECT_EQ(placement("MainLeft"), "1000");
    EXPECT_EQ(placement("MainTop"), "1000");
    EXPECT_NEAR(std::stoi(placement("MainWidth")), width * tpp, 1);
    EXPECT_NEAR(std::stoi(placement("MainHeight")), height * tpp, 1);
}

TEST_F(MainWindow, ASavedPlacementIsKeptAsItWasEvenWhenSmall)
{
    setPlacement(1000, 1000, 7000, 5000);
    frmMain w;
    w.Form_Load("");
    w.showLoaded();
    const double tpp = 1440.0 / w.logicalDpiX();
    EXPECT_EQ(w.width(), std::lround(7000 / tpp));
    EXPECT_EQ(w.height(), std::lround(5000 / tpp));
    w.close();
    // An unmoved window writes back exactly what it was given.
    EXPECT_EQ(placement("MainWidth"), "7000");
    EXPECT_EQ(placement("MainHeight"), "5000");
}

TEST_F(MainWindow, PlacementIsKeptWhileMinimizedAndWrittenWhenNormal)
{
    setPlacement(1500, 1500, 9000, 6000);
    {
        frmMain w;
        w.Form_Load("");
        w.showLoaded();
        w.setWindowState(kStateMinimized);
        w.move(5, 5);
        w.close();
    }
    EXPECT_EQ(placement("MainLeft"), "1500");
    EXPECT_EQ(placement("MainWidth"), "9000");
    EXPECT_NE(readFile(defaultConfigFile()).find("WindowState=1\r\n"), std::string::npos);
    {
        frmMain w;
        w.Form_Load("");
        EXPECT_EQ(w.windowState(), kStateMinimized);   // the saved state comes back
        w.setWindowState(kStateNormal);
        w.showLoaded();
        w.move(100, 200);
        w.close();
    }
    const double tpp = 1440.0 / 96;
    EXPECT_NEAR(std::stoi(placement("MainLeft")), 100 * tpp, 1);
    EXPECT_NEAR(std::stoi(placement("MainTop")), 200 * tpp, 1);
}

TEST_F(MainWindow, MinimizedStartAndThePasswordOnRestore)
{
    const std::string file = home.file("min.qcf");
    writeFile(file, "[Lintrel]\r\nNumSessions=1\r\nWindowState=1\r\nPassword=Pw\r\n");
    frmMain w;
    w.Form_Load(file);
    w.showLoaded();
    EXPECT_TRUE(w.isMinimized());
    EXPECT_EQ(w.windowState(), kStateMinimized);

    w.trayCallback(QSystemTrayIcon::Context);   // acted on only while minimized
    EXPECT_TRUE(w.popupMenu()->isVisible());
    w.popupMenu()->hide();

    w.Timer2_Timer();
    EXPECT_TRUE(w.WasMinimized);
    passwordAnswer = "pw";   // letter case counts
    w.setWindowState(kStateNormal);
    EXPECT_EQ(passwordPrompts, 1);
    EXPECT_TRUE(w.isMinimized());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Invalid password");

    w.Timer2_Timer();
    passwordAnswer = "";   // a cancelled prompt: refused without a message
    w.setWindowState(kStateNormal);
    EXPECT_TRUE(w.isMinimized());
    EXPECT_EQ(messages.size(), 1u);

    w.Timer2_Timer();
    passwordAnswer = "Pw";
    w.setWindowState(kStateNormal);
    EXPECT_EQ(passwordPrompts, 3);
    EXPECT_FALSE(w.isMinimized());
    EXPECT_TRUE(w.isVisible());
    w.trayCallback(QSystemTrayIcon::Context);
    EXPECT_FALSE(w.popupMenu()->isVisible());

    // The notification menu's exit asks too; a wrong answer keeps it running.
    passwordAnswer = "nope";
    w.mnuPopExit_Click();
    EXPECT_TRUE(w.isVisible());
    EXPECT_EQ(passwordPrompts, 4);
}

// Without a notification area the minimised window keeps its taskbar
// button; restoring it runs the real prompt, and the right password must
// leave the window normal and visible, every time.
TEST_F(MainWindow, RestoringWithoutATrayThroughTheRealPrompt)
{
    shellDialogs().enterPassword = [this](QWidget* parent) {
        ++passwordPrompts;
        return QString::fromStdString(askPassword(parent));
    };
    const std::string file = home.file("min.qcf");
    writeFile(file, "[Lintrel]\r\nNumSessions=1\r\nWindowState=1\r\nPassword=Pw\r\n");
    frmMain w;
    w.Form_Load(file);
    w.showLoaded();
    ASSERT_FALSE(w.TrayIconAdded);
    for (int round = 1; round <= 3; ++round) {
        ASSERT_TRUE(w.isMinimized());
        w.Timer2_Timer();
        // The prompt is modal: answer it from the event loop it runs.
        QTimer::singleShot(50, [] {
            auto* prompt = qobject_cast<Form2*>(QApplication::activeModalWidget());
            ASSERT_NE(prompt, nullptr);
            prompt->Text1->setText("Pw");
            prompt->Command1->click();
        });
        w.setWindowState(kStateNormal);   // the desktop restores the window
        EXPECT_EQ(passwordPrompts, round);
        EXPECT_FALSE(w.isMinimized()) << "round " << round;
        EXPECT_TRUE(w.isVisible()) << "round " << round;
        w.Timer2_Timer();
        w.setWindowState(kStateMinimized);
        w.Timer2_Timer();
    }
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindow, SaveRightAfterStartUpAsksForAName)
{
    const std::string file = home.file("given.qcf");
    writeFile(file, "[Lintrel]\r\nNumSessions=1\r\n[Session1]\r\nPortNumber=2101\r\n");
    frmMain w;
    w.Form_Load(file);
    EXPECT_EQ(w.session(0).PortNumber.text, "2101");
    EXPECT_EQ(w.CurrentFile(), "");

    w.mnuFileSave_Click();   // cancelled: nothing written
    EXPECT_EQ(fileDialogs, std::vector<bool>{true});
    const std::string chosen = home.file("chosen.qcf");
    fileAnswer = QString::fromStdString(chosen);
    w.mnuFileSave_Click();
    EXPECT_EQ(w.CurrentFile(), chosen);
    EXPECT_NE(readFile(chosen).find("PortNumber=2101\r\n"), std::string::npos);
    w.mnuFileSave_Click();   // now straight to the chosen file
    EXPECT_EQ(fileDialogs.size(), 2u);
}

TEST_F(MainWindow, MenusAndTheCloseItem)
{
    frmMain w;
    w.Form_Load("");
    auto texts = [](QMenu* m) {
        QStringList t;
        for (QAction* a : m->actions())
            t << (a->isSeparator() ? "-" : a->text());
        return t.join("|");
    };
    QMenu* file = w.menuBar()->findChild<QMenu*>("mnuFile");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(texts(file), "&New|&Open|&Close|-|&Save|Save &As...|-|&Options...|Password...|-|E&xit");
    EXPECT_EQ(texts(w.menuBar()->findChild<QMenu*>("mnuHelp")),
              "&Contents|&Search For Help On...|-|Velmora on the &Web|-|&About Lintrel...");
    EXPECT_EQ(texts(w.popupMenu()), "&Open Lintrel|&Hide Lintrel|E&xit Lintrel|-|&About Lintrel");
    EXPECT_EQ(w.popupMenu()->defaultAction()->text(), "&About Lintrel");
    QAction* close = w.findChild<QAction*>("mnuFileClose");
    emit file->aboutToShow();
    EXPECT_TRUE(close->isEnabled());
    w.closeAllSessions();
    emit file->aboutToShow();
    EXPECT_FALSE(close->isEnabled());
    w.findChild<QAction*>("mnuFileNew")->trigger();
    emit file->aboutToShow();
    EXPECT_TRUE(close->isEnabled());
    EXPECT_EQ(w.findChild<QAction*>("mnuFileNew")->shortcut(), QKeySequence("Ctrl+N"));

    w.findChild<QAction*>("mnuHelpContents")->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text,
              "Unable to display Help Contents. There is no Help associated with this project.");
}

TEST_F(MainWindow, SessionWindowDrivesItsSessionOverARealPortAndTcp)
{
    testsupport::PtyPair pty;
    testsupport::PortsMap map;
    map.map(3, pty.slavePath());
    QTcpServer peer;
    ASSERT_TRUE(peer.listen(QHostAddress::LocalHost, 0));
    const std::string file = home.file("bridge.qcf");
    writeFile(file, "[Lintrel]\r\nNumSessions=1\r\n[Session1]\r\nConnector=3\r\nBaudRate=6\r\n"
                    "Databits=3\r\nIPAddress=127.0.0.1\r\nPortNumber=" +
                        std::to_string(peer.serverPort()) + "\r\nAutoActivate=1\r\n");
    frmMain w;
    w.Form_Load(file);   // the saved-active session comes up at start-up
    w.showLoaded();
    auto* command1 = find<QPushButton>(w, "Command1");
    EXPECT_EQ(command1->text(), "De-Activate");
    EXPECT_EQ(find<QLabel>(w, "StatusBar1_0")->text(), "COM Status: Open");
    EXPECT_FALSE(find<QComboBox>(w, "Combo2")->isEnabled());
    EXPECT_EQ(find<QComboBox>(w, "Combo1_0")->currentText(), "9600");
    EXPECT_EQ(w.document(0)->windowTitle(), "COM3 - ZU232 Vu ZOD/UV");
    ASSERT_TRUE(pumpUntil([&] { return peer.hasPendingConnections(); }));
    QTcpSocket* client = peer.nextPendingConnection();
    ASSERT_TRUE(pumpUntil([&] {
        return find<QLabel>(w, "StatusBar1_1")->text() == "TCP/IP Status: Connected";
    }));
    pty.send("ping");
    std::string got;
    pumpUntil([&] {
        got += client->readAll().toStdString();
        return got.size() >= 4;
    });
    EXPECT_EQ(got, "ping");
    // Data lights the indicator red until the session's timer resets it.
    EXPECT_TRUE(pumpUntil([&] {
        return find<QFrame>(w, "Shape1_0")->palette().color(QPalette::Window) == QColor(0, 255, 0);
    }));

    command1->click();
    EXPECT_EQ(command1->text(), "Activate");
    EXPECT_EQ(find<QLabel>(w, "StatusBar1_0")->text(), "COM Status: Closed");
    EXPECT_TRUE(find<QComboBox>(w, "Combo2")->isEnabled());

    // File > Open of the same file replaces the session and activates nothing.
    fileAnswer = QString::fromStdString(file);
    w.mnuFileOpen_Click();
    ASSERT_EQ(w.sessionCount(), 1u);
    EXPECT_FALSE(w.session(0).isActive());
    EXPECT_EQ(w.CurrentFile(), file);
}

// The session window tells where programs open its virtual port.
TEST_F(MainWindow, TheVirtualPortsPathIsShownWhileActive)
{
    frmMain w;
    w.Form_Load("");
    Session& s = w.session(0);
    s.chkVPort.checked = true;
    s.Combo2.select("COM6");
    s.IPAddress.text = "127.0.0.1";
    s.Command1_Click();
    w.document(0)->refresh();
    ASSERT_EQ(s.StatusBar1[0].text, "Virtual Port COM6 created");
    EXPECT_EQ(find<QLabel>(w, "StatusBar1_0")->toolTip().toStdString(),
              "Programs open this port as " + ports.file("COM6"));
    s.Command1_Click();
    w.document(0)->refresh();
    EXPECT_TRUE(find<QLabel>(w, "StatusBar1_0")->toolTip().isEmpty());
}

TEST_F(MainWindow, SessionWindowEditsReachTheSession)
{
    frmMain w;
    w.Form_Load("");
    Session& s = w.session(0);
    find<QComboBox>(w, "Combo2")->setCurrentIndex(7);
    EXPECT_EQ(s.Combo2.text(), "COM7");
    find<QCheckBox>(w, "chkVPort")->setChecked(true);
    EXPECT_TRUE(s.chkVPort.checked);
    find<QRadioButton>(w, "TCPOption_1")->click();
    EXPECT_TRUE(s.TCPOption[1].value);
    EXPECT_TRUE(find<QLineEdit>(w, "IPAddress")->isHidden());
    EXPECT_FALSE(find<QComboBox>(w, "LocalIP")->isHidden());
    EXPECT_EQ(find<QLabel>(w, "lblHost")->text(), "Local IP Address");

    auto* port = find<QLineEdit>(w, "PortNumber");
    port->setFocus();
    port->selectAll();
    port->insert("65535");
    EXPECT_TRUE(messages.empty());
    port->insert("6");   // 655356
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Port numbers must range between 0 and 65565");
    EXPECT_EQ(messages[0].title, "Error");
    EXPECT_EQ(s.PortNumber.text, "655356");
}

// A default file the reader refuses is named at start-up and survives the
// exit save; File > Open of such a file keeps the sessions in the window.
TEST_F(MainWindow, ARefusedFileIsNamedAndNeverOverwritten)
{
    const std::string defaults = home.file("default.qcf");
    const std::string huge = "[Lintrel]\r\nNumSessions=100000\r\n";
    writeFile(defaults, huge);
    {
        frmMain w;
        w.Form_Load("");
        w.showLoaded();
        EXPECT_EQ(w.sessionCount(), 1u);
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text.toStdString(),
                  "Cannot use " + defaults + ": it asks for 100000 sessions; at most 256 can be loaded.");

        const std::string binary = home.file("binary.qcf");
        writeFile(binary, std::string("[Lintrel]\0\0\0", 12));
        fileAnswer = QString::fromStdString(binary);
        w.document(0)->session().PortNumber.text = "4321";
        w.mnuFileOpen_Click();
        ASSERT_EQ(messages.size(), 2u);
        EXPECT_NE(messages[1].text.toStdString().find("not a text file"), std::string::npos);
        EXPECT_EQ(w.session(0).PortNumber.text, "4321");
        w.close();
    }
    EXPECT_EQ(readFile(defaults), huge);
}
