// The window side of the commands, driven as a user would: the project
// file dialogs, the properties dialog and pasting into the port.
#include "command_ui.h"
#include "pty_pair.h"
#include "pump.h"
#include "temp_dir.h"
#include "terminal_view.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFontDialog>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

using lt::automation::Variant;
using namespace qelcomm::control;

// Runs act on the next modal dialog once it shows.
void whenModal(std::function<void(QWidget*)> act)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (QWidget* w = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(w);
            // A failed check inside act must not leave the test waiting on the dialog.
            if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible())
                d->reject();
        }
    });
    timer->start(20);
}

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override { SetCommandUi(&m_dialogs); }
    void TearDown() override { SetCommandUi(nullptr); }

    CQelComm m_control;
    QWidget m_window;
    qelcomm::terminal::TerminalView m_view{m_control.Window(), &m_window};
    qelterm::CommandDialogs m_dialogs{&m_window, &m_view};
    testsupport::TempDir m_dir;
};

TEST_F(Dialogs, ProjectSavedThroughTheDialogOpensAgainWithTheSameValues)
{
    m_control.SetSettings("2400,e,7,1");
    m_control.SetCommPort(5);
    m_control.Dispatch().put(MemberId::ProjectPhoneNumber, Variant("777"));
    QString title, suffix;
    QStringList filters;
    whenModal([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_TRUE(d);
        title = d->windowTitle();
        filters = d->nameFilters();
        suffix = d->defaultSuffix();
        d->setDirectory(QString::fromStdString(m_dir.path()));
        d->findChild<QLineEdit*>("fileNameEdit")->setText("line");
        static_cast<QDialog*>(d)->accept();
    });
    RunCommand(m_control, CommCommand_SaveAs);
    EXPECT_EQ(title, "Qel Comm Objects");
    EXPECT_EQ(filters, (QStringList{"Communications Files (*.sco)", "All Files (*.*)"}));
    EXPECT_EQ(suffix, "sco");
    const std::string file = m_dir.file("line.sco");
    Variant name;
    m_control.Dispatch().get(MemberId::ProjectFilename, name);
    EXPECT_EQ(name.toString(), file);

    CQelComm other;
    bool mustExist = false;
    whenModal([&](QWidget* w) {
        auto* d = qobject_cast<QFileDialog*>(w);
        ASSERT_TRUE(d);
        mustExist = d->fileMode() == QFileDialog::ExistingFile;
        d->setDirectory(QString::fromStdString(m_dir.path()));
        d->findChild<QLineEdit*>("fileNameEdit")->setText("line.sco");
        static_cast<QDialog*>(d)->accept();
    });
    RunCommand(other, CommCommand_Open);
    EXPECT_TRUE(mustExist);
    EXPECT_EQ(other.Settings(), "2400,e,7,1");
    EXPECT_EQ(other.CommPort(), 5);
    Variant phone;
    other.Dispatch().get(MemberId::ProjectPhoneNumber, phone);
    EXPECT_EQ(phone.toString(), "777");
}

TEST_F(Dialogs, PropertiesApplyWhatWasEnteredAndCancelKeepsAll)
{
    auto edit = [](bool accept) {
        return [accept](QWidget* w) {
            auto* d = qobject_cast<QDialog*>(w);
            ASSERT_TRUE(d);
            d->findChild<QLineEdit*>("settings")->setText("4800,o,8,2");
            d->findChild<QSpinBox*>("port")->setValue(9);
            accept ? d->accept() : d->reject();
        };
    };
    whenModal(edit(false));
    RunCommand(m_control, CommCommand_Properties);
    EXPECT_EQ(m_control.Settings(), "9600,n,8,1");
    EXPECT_EQ(m_control.CommPort(), 1);

    whenModal(edit(true));
    RunCommand(m_control, CommCommand_Properties);
    EXPECT_EQ(m_control.Settings(), "4800,o,8,2");
    EXPECT_EQ(m_control.CommPort(), 9);
}

// What the library has for a terminal is in reach: the number and modem
// Connect dials with, the end-of-line and backspace modes, local echo, the
// colour filter, the scroll-back, and capture to a file.
TEST_F(Dialogs, PropertiesReachDialingTerminalModesAndCapture)
{
    const std::string captureFile = m_dir.file("session.log");
    QStringList modems;
    whenModal([&](QWidget* w) {
        auto* d = qobject_cast<QDialog*>(w);
        ASSERT_TRUE(d);
        d->findChild<QLineEdit*>("phone")->setText(" 5551234 ");
        auto* modem = d->findChild<QComboBox*>("modem");
        for (int i = 0; i < modem->count(); ++i)
            modems << modem->itemText(i);
        modem->setCurrentIndex(modem->findText("Null Modem Cable"));
        auto pick = [d](const char* name, int value) {
            auto* box = d->findChild<QComboBox*>(name);
            box->setCurrentIndex(box->findData(value));
        };
        pick("endOfLine", 3);
        pick("backspace", 0);
        pick("colorFilter", 2);
        pick("captureMode", 1);
        d->findChild<QCheckBox*>("echo")->setChecked(true);
        d->findChild<QSpinBox*>("scrollRows")->setValue(500);
        d->findChild<QLineEdit*>("capture")->setText(QString::fromStdString(captureFile));
        d->accept();
    });
    RunCommand(m_control, CommCommand_Properties);
    auto value = [this](std::int32_t id) {
        Variant v;
        m_control.Dispatch().get(id, v);
        return v;
    };
    EXPECT_EQ(modems.value(0), "Hayes Compatible");
    EXPECT_TRUE(modems.contains("Null Modem Cable")) << modems.join(", ").toStdString();
    EXPECT_EQ(value(MemberId::ProjectPhoneNumber).toString(), "5551234");
    EXPECT_EQ(value(MemberId::ModemTitle).toString(), "Null Modem Cable");
    EXPECT_EQ(value(MemberId::EndOfLineMode).toInt32(), 3);
    EXPECT_EQ(value(MemberId::BackSpace).toInt32(), 0);
    EXPECT_EQ(value(MemberId::ColorFilter).toInt32(), 2);
    EXPECT_EQ(value(MemberId::CaptureMode).toInt32(), 1);
    EXPECT_TRUE(value(MemberId::Echo).toBool());
    EXPECT_EQ(value(MemberId::ScrollRows).toInt32(), 500);
    EXPECT_EQ(value(MemberId::CaptureFilename).toString(), captureFile);

    // Bytes shown on the terminal go into the capture file as they come.
    m_control.Dispatch().put(MemberId::Display, Variant("captured\x1b[1m!"));
    m_control.Dispatch().put(MemberId::CaptureFilename, Variant(""));
    QFile f(QString::fromStdString(captureFile));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().toStdString(), "captured\x1b[1m!");

    // Connect dials through the modem chosen: the null modem cable is
    // connected as soon as the port opens.
    testsupport::PtyPair pty;
    testsupport::PortsMap ports;
    ports.map(8, pty.slavePath());
    m_control.SetCommPort(8);
    RunCommand(m_control, CommCommand_Connect);
    EXPECT_TRUE(m_control.PortOpen());
    EXPECT_EQ(value(MemberId::Dial).toString(), "");
    m_control.SetPortOpen(false);
}

TEST_F(Dialogs, PasteSendsTheClipboardWithCarriageReturns)
{
    QApplication::clipboard()->setText("AT\nATZ");
    if (QApplication::clipboard()->text().isEmpty())
        GTEST_SKIP() << "this platform has no clipboard";
    testsupport::PtyPair pty;
    testsupport::PortsMap ports;
    ports.map(7, pty.slavePath());
    m_control.SetCommPort(7);
    m_control.SetPortOpen(true);
    ASSERT_TRUE(m_control.PortOpen());
    RunCommand(m_control, CommCommand_Paste);
    EXPECT_EQ(pty.receive(6, 3000), "AT\rATZ");
}

TEST_F(Dialogs, PasteInUtf8SendsUtf8)
{
    QApplication::clipboard()->setText(QString::fromUtf8("gr\xC3\xBC\xC3\x9F" "e\n"));
    if (QApplication::clipboard()->text().isEmpty())
        GTEST_SKIP() << "this platform has no clipboard";
    testsupport::PtyPair pty;
    testsupport::PortsMap ports;
    ports.map(7, pty.slavePath());
    m_control.SetCommPort(7);
    m_control.SetPortOpen(true);
    ASSERT_TRUE(m_control.PortOpen());
    m_control.Dispatch().put(MemberId::CharacterSet, Variant(std::int32_t(1)));
    RunCommand(m_control, CommCommand_Paste);
    EXPECT_EQ(pty.receive(8, 3000), "gr\xC3\xBC\xC3\x9F" "e\r");
}

TEST_F(Dialogs, FontDialogStartsRegularAndTheChoiceShowsAtOnce)
{
    m_window.resize(800, 600);
    m_view.resize(800, 600);
    m_control.Dispatch().put(MemberId::AutoSize, Variant(std::int32_t(3)));
    const QSize cell = m_view.cellSize();
    auto columnsNow = [this] {
        Variant v;
        m_control.Dispatch().get(MemberId::Columns, v);
        return v.toInt32().value_or(0);
    };
    const int columns = columnsNow();
    QFont started;
    whenModal([&](QWidget* w) {
        auto* d = qobject_cast<QFontDialog*>(w);
        ASSERT_TRUE(d);
        started = d->currentFont();
        QFont bigger = started;
        bigger.setPointSizeF(started.pointSizeF() * 2);
        d->setCurrentFont(bigger);
        d->accept();
    });
    RunCommand(m_control, CommCommand_Font);
    EXPECT_FALSE(started.italic()) << started.styleName().toStdString();
    EXPECT_EQ(started.weight(), QFont::Normal);
    // Without waiting for a repaint: new cells, a screen refitted to them.
    EXPECT_GT(m_view.cellSize().height(), cell.height());
    EXPECT_EQ(m_view.font().family(), started.family());
    EXPECT_LT(columnsNow(), columns);
}

}  // namespace
