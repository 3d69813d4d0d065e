#include "transfer_dialog.h"

#include "xmodem_frame.h"

#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace xfer::view {

namespace {
constexpr int kFrames = 16;
constexpr int kFrameMs = 90;

const char* const kDetailsText = "&Details >>";
const char* const kNoDetailsText = "<< &No Details";
}  // namespace

TransferAnimation::TransferAnimation(QWidget* parent) : QWidget(parent)
{
    setObjectName("animation");
    setMinimumSize(sizeHint());
    startTimer(kFrameMs);
}

void TransferAnimation::timerEvent(QTimerEvent*)
{
    m_frame = (m_frame + 1) % kFrames;
    update();
}

void TransferAnimation::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const int h = height();
    const QColor folder(222, 180, 70);
    auto drawFolder = [&](int x) {
        p.setPen(folder.darker(140));
        p.setBrush(folder);
        p.drawRect(x, h / 2 - 8, 30, 22);
        p.drawRect(x, h / 2 - 12, 12, 4);
    };
    drawFolder(6);
    drawFolder(width() - 36);
    // The page flies on an arc from the left folder to the right one.
    const double t = double(m_frame) / (kFrames - 1);
    const int span = width() - 72;
    const int x = 36 + int(t * span) - 6;
    const int y = h / 2 - 4 - int(4.0 * t * (1.0 - t) * (h / 2 - 8));
    p.setPen(Qt::darkGray);
    p.setBrush(Qt::white);
    p.drawRect(x, y, 12, 15);
    p.drawLine(x + 3, y + 4, x + 9, y + 4);
    p.drawLine(x + 3, y + 8, x + 9, y + 8);
}

TransferDialog::TransferDialog(QWidget* parent, bool modal, std::function<void()> onCancel)
    : QDialog(parent), m_cancel(std::move(onCancel))
{
    setWindowTitle("File Transfer");
    setObjectName("transferDialog");
    if (modal)
        setWindowModality(parent ? Qt::WindowModal : Qt::ApplicationModal);

    m_animation = new TransferAnimation(this);
    m_progress = new QProgressBar(this);
    m_progress->setObjectName("progress");
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_message = new QLabel(this);
    m_message->setObjectName("message");
    m_message->setMinimumWidth(280);

    m_cancelButton = new QPushButton("Cancel", this);
    m_cancelButton->setObjectName("cancel");
    m_detailsButton = new QPushButton(kDetailsText, this);
    m_detailsButton->setObjectName("details");
    connect(m_cancelButton, &QPushButton::clicked, this, [this] { cancel(); });
    connect(m_detailsButton, &QPushButton::clicked, this, [this] { setDetailsShown(!detailsShown()); });

    m_details = new QGroupBox("Transfer Details", this);
    m_details->setObjectName("detailsGroup");
    auto* form = new QFormLayout(m_details);
    auto field = [&](const char* caption, const char* name) {
        auto* value = new QLabel(m_details);
        value->setObjectName(name);
        form->addRow(caption, value);
        return value;
    };
    m_transferred = field("Transferred:", "transferred");
    m_totalSize = field("Total Size:", "totalSize");
    m_elapsed = field("Time Elapsed:", "elapsed");
    m_blockSize = field("Block Size:", "blockSize");

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cancelButton);
    buttons->addWidget(m_detailsButton);
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);  // shrinks again when the details go
    layout->addWidget(m_animation);
    layout->addWidget(m_progress);
    layout->addWidget(m_message);
    layout->addLayout(buttons);
    layout->addWidget(m_details);
    setDetailsShown(false);
    m_clock.start();
}

void TransferDialog::clearFields(qint64 elapsedBeforeMs)
{
    m_progress->setValue(0);
    m_message->clear();
    m_transferred->clear();
    m_totalSize->clear();
    m_elapsed->clear();
    m_blockSize->clear();
    m_clock.restart();
    m_clockOffsetMs = elapsedBeforeMs;
}

void TransferDialog::setMessage(const QString& text) { m_message->setText(text); }

void TransferDialog::setTotalSize(std::uint64_t size)
{
    // The receiver's stand-in for "not given" is not a size to show.
    m_totalSize->setText(size == kUnknownSize ? QString() : QString("%1 bytes").arg(size));
}

void TransferDialog::setProgress(std::uint64_t bytes, std::uint64_t fileSize, std::uint32_t blockSize)
{
    m_transferred->setText(QString("%1 bytes").arg(bytes));
    // A last block counted whole may pass the size: the bar stops at full.
    const std::uint64_t percent = fileSize == 0 ? 0 : std::min<std::uint64_t>(100, bytes * 100 / fileSize);
    m_progress->setValue(int(percent));
    const qint64 seconds = (m_clock.elapsed() + m_clockOffsetMs) / 1000;
    m_elapsed->setText(seconds < 1 ? QString()
                                   : QString::asprintf("%02d:%02d:%02d", int(seconds / 3600), int(seconds / 60 % 60),
                                                       int(seconds % 60)));
    m_blockSize->setText(QString::number(blockSize));
}

void TransferDialog::setDetailsShown(bool shown)
{
    m_details->setVisible(shown);
    m_detailsButton->setText(shown ? kNoDetailsText : kDetailsText);
}

bool TransferDialog::detailsShown() const { return !m_details->isHidden(); }

void TransferDialog::cancel()
{
    if (m_cancel)
        m_cancel();
    m_cancelButton->setEnabled(false);  // once is enough; the dialog goes when the transfer ends
}

void TransferDialog::closeEvent(QCloseEvent* e)
{
    // The transfer owns the dialog: closing asks for the cancel, the
    // transfer's end takes the dialog away.
    cancel();
    e->ignore();
}

void TransferDialog::reject() { cancel(); }

}  // namespace xfer::view
