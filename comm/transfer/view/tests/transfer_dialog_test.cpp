// The transfer status dialog: its fields and formats, the Details toggle,
// Cancel, calls from another thread, and what it shows while two comm
// objects move files between them.
#include "line_fixture.h"
#include "status_view.h"
#include "transfer_dialog.h"
#include "transfer_engine.h"
#include "xmodem_frame.h"
#include "xymodem.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <sys/stat.h>

#include <map>
#include <thread>

using namespace xfertest;
using xfer::view::TransferDialog;

namespace {

QString text(QWidget* dialog, const char* name)
{
    auto* label = dialog->findChild<QLabel*>(name);
    return label ? label->text() : QString("<no %1>").arg(name);
}
int percent(QWidget* dialog) { return dialog->findChild<QProgressBar*>("progress")->value(); }
QPushButton* button(QWidget* dialog, const char* name) { return dialog->findChild<QPushButton*>(name); }

std::vector<TransferDialog*> openDialogs()
{
    std::vector<TransferDialog*> found;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = dynamic_cast<TransferDialog*>(w))
            found.push_back(d);
    return found;
}

TEST(TransferDialog, FieldsFormatsAndDetailsToggle)
{
    TransferDialog d(nullptr, false, {});
    EXPECT_EQ(d.windowTitle(), "File Transfer");
    EXPECT_EQ(d.windowModality(), Qt::NonModal);
    d.show();
    // Opens collapsed; the toggle expands and collapses the details.
    EXPECT_FALSE(d.detailsShown());
    EXPECT_FALSE(d.findChild<QGroupBox*>("detailsGroup")->isVisible());
    EXPECT_EQ(button(&d, "details")->text(), "&Details >>");
    button(&d, "details")->click();
    EXPECT_TRUE(d.findChild<QGroupBox*>("detailsGroup")->isVisible());
    EXPECT_EQ(d.findChild<QGroupBox*>("detailsGroup")->title(), "Transfer Details");
    EXPECT_EQ(button(&d, "details")->text(), "<< &No Details");
    button(&d, "details")->click();
    EXPECT_FALSE(d.detailsShown());
    EXPECT_EQ(button(&d, "details")->text(), "&Details >>");

    d.clearFields();
    d.setTotalSize(1025);
    EXPECT_EQ(text(&d, "totalSize"), "1025 bytes");
    d.setTotalSize(xfer::kUnknownSize);  // a size the sender did not give
    EXPECT_EQ(text(&d, "totalSize"), "");
    d.setProgress(512, 1024, 128);
    EXPECT_EQ(text(&d, "transferred"), "512 bytes");
    EXPECT_EQ(percent(&d), 50);
    EXPECT_EQ(text(&d, "blockSize"), "128");
    EXPECT_EQ(text(&d, "elapsed"), "");  // nothing during the first second
    // A last block counted whole passes the size: the bar stops at full.
    d.setProgress(1152, 1025, 128);
    EXPECT_EQ(percent(&d), 100);
    d.setProgress(3000000000ull, 4000000000ull, 1024);  // large sizes neither wrap nor overflow
    EXPECT_EQ(text(&d, "transferred"), "3000000000 bytes");
    EXPECT_EQ(percent(&d), 75);
    d.setProgress(4096, 0, 1024);  // no size: no bar
    EXPECT_EQ(percent(&d), 0);

    d.setMessage("Received NAK on sector");
    d.clearFields((3600 + 2 * 60 + 5) * 1000);  // a file started 1 h 2 min 5 s ago
    for (const char* f : {"message", "transferred", "totalSize", "elapsed", "blockSize"})
        EXPECT_EQ(text(&d, f), "") << f;
    EXPECT_EQ(percent(&d), 0);
    d.setProgress(128, 1024, 128);
    EXPECT_EQ(text(&d, "elapsed"), "01:02:05");
}

TEST(TransferDialog, CancelEscapeAndCloseAskForTheAbort)
{
    int cancels = 0;
    TransferDialog d(nullptr, true, [&] { ++cancels; });
    EXPECT_EQ(d.windowModality(), Qt::ApplicationModal);
    d.show();
    button(&d, "cancel")->click();
    EXPECT_EQ(cancels, 1);
    EXPECT_FALSE(button(&d, "cancel")->isEnabled());
    // Closing the window asks again; the dialog stays until the transfer ends.
    EXPECT_FALSE(d.close());
    EXPECT_EQ(cancels, 2);
    EXPECT_TRUE(d.isVisible());
}

TEST(TransferDialog, CallsFromAnotherThreadReachTheGuiThreadInOrder)
{
    std::unique_ptr<xfer::StatusView> view;
    std::thread worker([&] {
        view = xfer::view::makeStatusDialog({}, 0, 1, {});
        ASSERT_TRUE(view);
        view->setCaption("Receiving a.bin (YModem)");
        view->clearFields();
        view->setTotalSize(300);
        view->setProgress(128, 300, 128);
        view->setProgress(256, 300, 128);
        view->setMessage("Received duplicate sector: 2");
    });
    worker.join();
    ASSERT_TRUE(pumpUntil([] { return openDialogs().size() == 1; }, 5000));
    TransferDialog* d = openDialogs()[0];
    ASSERT_TRUE(pumpUntil([&] { return text(d, "message") != ""; }, 5000));
    EXPECT_EQ(d->thread(), QApplication::instance()->thread());
    EXPECT_TRUE(d->isVisible());
    EXPECT_EQ(d->windowTitle(), "Receiving a.bin (YModem)");
    EXPECT_EQ(text(d, "totalSize"), "300 bytes");
    EXPECT_EQ(text(d, "transferred"), "256 bytes");
    EXPECT_EQ(percent(d), 85);
    std::thread([&] { view.reset(); }).join();
    EXPECT_TRUE(pumpUntil([] { return openDialogs().empty(); }, 5000));
}

// What the dialogs show, sampled at every transfer event.
struct Sample {
    QString title, transferred, total, block, message;
    int percent = 0;
    bool visible = false;
    Qt::WindowModality modality = Qt::NonModal;
};
std::vector<Sample> g_samples;

void sampleDialogs(QcHandle, int, int code)
{
    if (code != 100)
        return;
    for (TransferDialog* d : openDialogs())
        g_samples.push_back({d->windowTitle(), text(d, "transferred"), text(d, "totalSize"), text(d, "blockSize"),
                             text(d, "message"), percent(d), d->isVisible(), d->windowModality()});
}

class DialogTransfer : public TransferTest {
protected:
    void SetUp() override
    {
        g_samples.clear();
        xfer::view::installStatusDialog();
    }
    void TearDown() override
    {
        xfer::setStatusViewFactory({});
        TransferTest::TearDown();
    }
};

TEST_F(DialogTransfer, ShowsBothSidesOfAYmodemBatch)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle tx = openObject(line.nearPath(), 51);
    QcHandle rx = openObject(line.farPath(), 52);
    SetEventHandler(tx, sampleDialogs);
    SetEventHandler(rx, sampleDialogs);
    SetProtocol(tx, xfer::Protocol_YModem);
    SetProtocol(rx, xfer::Protocol_YModem);
    SetTransferDialogType(tx, 1);
    SetTransferDialogType(rx, 2);
    const std::string into = m_dir.file("in");
    ::mkdir(into.c_str(), 0700);
    SetXferPath(rx, into.c_str());
    writeFile(m_dir.file("a1025"), randomData(1025, 1));
    writeFile(m_dir.file("b300"), randomData(300, 2));
    ASSERT_EQ(Upload(tx, m_dir.file("a1025").c_str()), 1);
    ASSERT_EQ(Upload(tx, m_dir.file("b300").c_str()), 1);
    ASSERT_EQ(Download(rx, nullptr), 1);
    ASSERT_TRUE(pumpUntil([&] { return GetTransferType(tx) == 0 && GetTransferType(rx) == 0; }, 60000));
    EXPECT_EQ(GetTransferStatus(tx), 0);
    EXPECT_EQ(GetTransferStatus(rx), 0);
    EXPECT_TRUE(pumpUntil([] { return openDialogs().empty(); }, 5000)) << "the dialogs go with the transfer";

    // The last sample of each caption: the end of that file on that side.
    std::map<QString, Sample> last;
    for (const Sample& s : g_samples)
        if (!s.transferred.isEmpty())
            last[s.title] = s;
    ASSERT_EQ(last.count("Sending a1025 (YModem)"), 1u);
    ASSERT_EQ(last.count("Receiving a1025 (YModem)"), 1u);
    ASSERT_EQ(last.count("Sending b300 (YModem)"), 1u);
    ASSERT_EQ(last.count("Receiving b300 (YModem)"), 1u);
    // The sender counts whole blocks (1024 + 128), the receiver the file's bytes.
    const Sample& sent = last["Sending a1025 (YModem)"];
    EXPECT_EQ(sent.transferred, "1152 bytes");
    EXPECT_EQ(sent.total, "1025 bytes");
    EXPECT_EQ(sent.block, "128");
    EXPECT_EQ(sent.percent, 100);
    EXPECT_TRUE(sent.visible);
    EXPECT_EQ(sent.modality, Qt::NonModal);
    const Sample& got = last["Receiving a1025 (YModem)"];
    EXPECT_EQ(got.transferred, "1025 bytes");
    EXPECT_EQ(got.total, "1025 bytes");
    EXPECT_EQ(got.block, "1");
    EXPECT_EQ(got.percent, 100);
    EXPECT_TRUE(got.visible);
    EXPECT_NE(got.modality, Qt::NonModal);
    EXPECT_EQ(last["Receiving b300 (YModem)"].transferred, "300 bytes");
    EXPECT_EQ(last["Sending b300 (YModem)"].transferred, "384 bytes");
    // The second file starts with cleared fields: its first sample does not
    // carry the first file's numbers.
    for (const Sample& s : g_samples) {
        EXPECT_FALSE(s.title.contains("  (")) << "the end of the batch names no file";
        if (s.title == "Receiving b300 (YModem)") {
            EXPECT_NE(s.transferred, "1025 bytes");
        }
    }
}

TEST_F(DialogTransfer, HiddenDialogForTypeZero)
{
    SocatLine line(m_dir.path());
    ASSERT_TRUE(line.ok());
    QcHandle tx = openObject(line.nearPath(), 53);
    QcHandle rx = openObject(line.farPath(), 54);
    SetEventHandler(tx, sampleDialogs);
    SetProtocol(tx, xfer::Protocol_XModem1K);
    SetProtocol(rx, xfer::Protocol_XModem1K);
    SetTransferDialogType(tx, 0);
    writeFile(m_dir.file("s"), randomData(2000, 3));
    ASSERT_EQ(Download(rx, m_dir.file("r").c_str()), 1);
    ASSERT_EQ(Upload(tx, m_dir.file("s").c_str()), 1);
    ASSERT_TRUE(pumpUntil([&] { return GetTransferType(tx) == 0 && GetTransferType(rx) == 0; }, 60000));
    EXPECT_EQ(GetTransferStatus(tx), 0);
    // Both objects' dialogs are open at once; the sender's are the ones
    // whose caption says so.
    std::vector<Sample> sending;
    for (const Sample& s : g_samples) {
        EXPECT_FALSE(s.visible);
        if (s.title.startsWith("Sending"))
            sending.push_back(s);
    }
    ASSERT_FALSE(sending.empty());
    EXPECT_EQ(sending.back().title, "Sending s (XModem 1K)");
    EXPECT_EQ(sending.back().transferred, "2048 bytes");
}

TEST_F(DialogTransfer, CancelButtonAbortsWithTheCancelBytes)
{
    testsupport::PtyPair pty;
    QcHandle o = openObject(pty.slavePath(), 55);
    SetHandshaking(o, 1);
    const std::string src = m_dir.file("s");
    writeFile(src, "payload");
    SetProtocol(o, xfer::Protocol_XModemCrc);
    SetTransferDialogType(o, 1);
    ASSERT_EQ(Upload(o, src.c_str()), 1);
    // The far end never asks for the file: the sender waits until Cancel.
    ASSERT_TRUE(pumpUntil([] { return openDialogs().size() == 1 && openDialogs()[0]->isVisible(); }, 10000));
    ASSERT_TRUE(pumpUntil([&] { return !pty.line().xonXoff; }, 5000));
    button(openDialogs()[0], "cancel")->click();
    ASSERT_TRUE(waitForEnd(o, 20000));
    EXPECT_EQ(GetTransferStatus(o), xfer::Status_Failure);
    EXPECT_EQ(pty.receive(20, 3000), std::string(10, char(xfer::CAN)) + std::string(10, char(xfer::BS)));
    EXPECT_TRUE(pty.line().xonXoff) << "the line settings come back";
    EXPECT_TRUE(pumpUntil([] { return openDialogs().empty(); }, 5000));
}

}  // namespace
