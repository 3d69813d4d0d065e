// The status dialog "File Transfer": animation, progress bar, message line,
// Cancel and the Details toggle over the transfer details group.
#pragma once

#include <QDialog>
#include <QElapsedTimer>

#include <cstdint>
#include <functional>

class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace xfer::view {

// A page moving from one folder to the other, redrawn on a timer while shown.
class TransferAnimation : public QWidget {
public:
    explicit TransferAnimation(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {160, 48}; }
    int frame() const { return m_frame; }

protected:
    void paintEvent(QPaintEvent*) override;
    void timerEvent(QTimerEvent*) override;

private:
    int m_frame = 0;
};

class TransferDialog : public QDialog {
public:
    // modal: the second template, a modal frame over its parent.
    TransferDialog(QWidget* parent, bool modal, std::function<void()> cancel);

    void setCaption(const QString& text) { setWindowTitle(text); }
    // The start of a file: the five fields empty, the clock restarted
    // (elapsedBeforeMs lets a caller start it as if the file began earlier).
    void clearFields(qint64 elapsedBeforeMs = 0);
    void setMessage(const QString& text);
    void setTotalSize(std::uint64_t size);
    void setProgress(std::uint64_t bytes, std::uint64_t fileSize, std::uint32_t blockSize);
    void setDetailsShown(bool shown);
    bool detailsShown() const;

protected:
    void closeEvent(QCloseEvent* e) override;
    void reject() override;  // Escape: as Cancel

private:
    void cancel();

    std::function<void()> m_cancel;
    TransferAnimation* m_animation;
    QProgressBar* m_progress;
    QLabel* m_message;
    QPushButton* m_cancelButton;
    QPushButton* m_detailsButton;
    QGroupBox* m_details;
    QLabel* m_transferred;
    QLabel* m_totalSize;
    QLabel* m_elapsed;
    QLabel* m_blockSize;
    QElapsedTimer m_clock;
    qint64 m_clockOffsetMs = 0;
};

}  // namespace xfer::view
