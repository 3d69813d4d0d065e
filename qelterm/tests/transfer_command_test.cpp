// Send File... and Receive File... in the window: the small dialog that
// picks the protocol and the file or folder, and the transfer it starts
// with the status dialog over the window.
#include "command_ui.h"
#include "line_fixture.h"
#include "status_view.h"
#include "terminal_view.h"
#include "transfer_dialog.h"
#include "transfer_engine.h"
#include "xymodem.h"

#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <sys/stat.h>

namespace {

using lt::automation::Variant;
using namespace qelcomm::control;
using namespace xfertest;

// Fills the next modal dialog once it shows: protocol, then the named
// line edits, then OK. Returns whether it was still open after OK.
struct Fill {
    int protocol;
    std::vector<std::pair<const char*, std::string>> edits;
    bool stillOpenAfterOk = false;
    QString title;
};

void fillNextDialog(Fill& f)
{
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, &f] {
        auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (!d)
            return;
        timer->stop();
        timer->deleteLater();
        f.title = d->windowTitle();
        if (auto* box = d->findChild<QComboBox*>("protocol"))
            box->setCurrentIndex(box->findData(f.protocol));
        for (const auto& [name, text] : f.edits)
            if (auto* e = d->findChild<QLineEdit*>(name))
                e->setText(QString::fromStdString(text));
        d->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        f.stillOpenAfterOk = d->isVisible();
        if (d->isVisible())
            d->reject();
    });
    timer->start(20);
}

class TransferCommand : public TransferTest {
protected:
    void SetUp() override { SetCommandUi(&m_dialogs); }
    void TearDown() override
    {
        SetCommandUi(nullptr);
        xfer::setStatusViewFactory({});
        TransferTest::TearDown();
    }

    CQelComm m_control;
    QWidget m_window;
    qelcomm::terminal::TerminalView m_view{m_control.Window(), &m_window};
    qelterm::CommandDialogs m_dialogs{&m_window, &m_view};
};

TEST_F(TransferCommand, ReceiveDialogTakesProtocolFolderAndName)
{
    // A folder that does not exist keeps the dialog open.
    Fill missing{xfer::Protocol_YModem, {{"folder", m_dir.file("none")}}, false, {}};
    fillNextDialog(missing);
    RunCommand(m_control, CommCommand_ReceiveFile);
    EXPECT_EQ(missing.title, "Receive File");
    EXPECT_TRUE(missing.stillOpenAfterOk);

    Fill f{xfer::Protocol_XModem1K, {{"folder", m_dir.path()}, {"file", "log.bin"}}, false, {}};
    fillNextDialog(f);
    RunCommand(m_control, CommCommand_ReceiveFile);
    EXPECT_FALSE(f.stillOpenAfterOk);
    Variant protocol, path;
    m_control.Dispatch().get(MemberId::XferProtocol, protocol);
    m_control.Dispatch().get(MemberId::XferPath, path);
    EXPECT_EQ(protocol.toInt32(), xfer::Protocol_XModem1K);
    EXPECT_EQ(path.toString(), m_dir.path());

    // Sending needs a file.
    Fill empty{xfer::Protocol_YModem, {{"file", ""}}, false, {}};
    fillNextDialog(empty);
    RunCommand(m_control, CommCommand_SendFile);
    EXPECT_EQ(empty.title, "Send File");
    EXPECT_TRUE(empty.stillOpenAfterOk);
}

TEST_F(TransferCommand, SendFileRunsTheTransferWithTheStatusDialog)
{
    xfer::view::installStatusDialog([this](win::Hwnd) { return &m_window; });
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle far = openObject(line.farPath(), 57);
    const std::string into = m_dir.file("in");
    ::mkdir(into.c_str(), 0700);
    SetProtocol(far, xfer::Protocol_YModem);
    SetXferPath(far, into.c_str());
    ASSERT_EQ(Download(far, nullptr), 1);

    m_ports->map(58, line.nearPath());
    m_control.SetCommPort(58);
    m_control.SetSettings("115200,n,8,1");
    m_control.SetPortOpen(true);
    ASSERT_TRUE(m_control.PortOpen());
    const std::string data = randomData(5000, 9);
    writeFile(m_dir.file("firmware.img"), data);
    Fill f{xfer::Protocol_YModem, {{"file", m_dir.file("firmware.img")}}, false, {}};
    fillNextDialog(f);
    // What the status dialog shows while the transfer runs.
    QString caption;
    bool overWindow = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (xfer::view::TransferDialog* d = xfer::view::currentDialog(); d && d->isVisible()) {
            caption = d->windowTitle();
            overWindow = d->parentWidget() == &m_window;
        }
    });
    watch.start(5);
    RunCommand(m_control, CommCommand_SendFile);
    ASSERT_TRUE(pumpUntil([&] { return GetTransferType(m_control.Window()) == 0 && GetTransferType(far) == 0; }, 60000));
    Variant status;
    m_control.Dispatch().get(MemberId::XferStatus, status);
    EXPECT_EQ(status.toInt32(), 0);
    EXPECT_EQ(sha256(readFile(into + "/firmware.img")), sha256(data));
    EXPECT_EQ(caption, "Sending firmware.img (YModem)");
    EXPECT_TRUE(overWindow);
    m_control.SetPortOpen(false);
}

}  // namespace
