#include "status_view.h"

#include "transfer_dialog.h"
#include "transfer_engine.h"

#include <QApplication>
#include <QPointer>
#include <QThread>

#include <memory>

namespace xfer::view {
namespace {

QPointer<TransferDialog>& latest()
{
    static QPointer<TransferDialog> d;
    return d;
}

class DialogView : public StatusView {
public:
    DialogView(const ParentResolver& parentFor, win::Hwnd parent, int type, std::function<void()> cancel)
        : m_state(std::make_shared<State>())
    {
        onGuiThread([parentFor, parent, type, cancel = std::move(cancel)](State& s) {
            QWidget* owner = parentFor ? parentFor(parent) : nullptr;
            s.dialog = new TransferDialog(owner, type == 2, cancel);
            s.dialog->setAttribute(Qt::WA_DeleteOnClose, false);
            latest() = s.dialog;
            if (type == 1 || type == 2)
                s.dialog->show();
        });
    }
    ~DialogView() override
    {
        onGuiThread([](State& s) { delete s.dialog.data(); });
    }

    void setCaption(const std::string& text) override
    {
        onDialog([t = QString::fromStdString(text)](TransferDialog& d) { d.setCaption(t); });
    }
    void clearFields() override
    {
        onDialog([](TransferDialog& d) { d.clearFields(); });
    }
    void setMessage(const std::string& text) override
    {
        onDialog([t = QString::fromStdString(text)](TransferDialog& d) { d.setMessage(t); });
    }
    void setTotalSize(std::uint64_t size) override
    {
        onDialog([size](TransferDialog& d) { d.setTotalSize(size); });
    }
    void setProgress(std::uint64_t bytes, std::uint64_t fileSize, std::uint32_t blockSize) override
    {
        onDialog([=](TransferDialog& d) { d.setProgress(bytes, fileSize, blockSize); });
    }

private:
    struct State {
        QPointer<TransferDialog> dialog;
    };

    // Runs f on the GUI thread: now when called there, else queued after
    // every earlier call of this view.
    template <typename F>
    void onGuiThread(F f)
    {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app)
            return;
        if (QThread::currentThread() == app->thread()) {
            f(*m_state);
            return;
        }
        QMetaObject::invokeMethod(app, [state = m_state, f = std::move(f)] { f(*state); }, Qt::QueuedConnection);
    }
    template <typename F>
    void onDialog(F f)
    {
        onGuiThread([f = std::move(f)](State& s) {
            if (s.dialog)
                f(*s.dialog);
        });
    }

    std::shared_ptr<State> m_state;
};

}  // namespace

std::unique_ptr<StatusView> makeStatusDialog(const ParentResolver& parentFor, win::Hwnd parent, int dialogType,
                                             std::function<void()> cancel)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return nullptr;
    return std::make_unique<DialogView>(parentFor, parent, dialogType, std::move(cancel));
}

void installStatusDialog(ParentResolver parentFor)
{
    setStatusViewFactory([parentFor](win::Hwnd parent, int type, std::function<void()> cancel) {
        return makeStatusDialog(parentFor, parent, type, std::move(cancel));
    });
}

TransferDialog* currentDialog() { return latest().data(); }

}  // namespace xfer::view
