// The window side of the commands, driven as a user would: the project
// file dialogs, the properties dialog and pasting into the port.
#include "command_ui.h"
#include "pty_pair.h"
#include "pump.h"
#include "temp_dir.h"
#include "terminal_view.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
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
            d->findChild<QLineEdit*>()->setText("4800,o,8,2");
            d->findChildren<QSpinBox*>().first()->setValue(9);   // the port
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

}  // namespace
