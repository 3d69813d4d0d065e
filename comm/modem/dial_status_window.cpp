// The control's dial status window and the boxes its FillModemCombo and
// FillModemList members fill.
#include "modem_widgets.h"

#include "qel_comm_modem.h"
#include "qelcomm_modem.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <map>

namespace qelcomm::modem {
namespace {

class DialStatusDialog final : public control::DialStatusWindow {
public:
    DialStatusDialog(QcHandle object, const std::string& number, std::int32_t mode)
    {
        m_dialog = new QDialog;
        m_dialog->setWindowTitle(QStringLiteral("Dial Status"));
        m_dialog->setAttribute(Qt::WA_DeleteOnClose, false);
        auto* layout = new QVBoxLayout(m_dialog);
        layout->addWidget(new QLabel(QStringLiteral("Dialing %1...").arg(QString::fromLatin1(number)), m_dialog));
        auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, m_dialog);
        layout->addWidget(buttons);
        // Cancel hangs up: the waiting Dial then ends as canceled. The
        // handle is safe to use even after the object has gone.
        QObject::connect(buttons, &QDialogButtonBox::rejected, m_dialog, [object] { ::HangUp(object); });
        QObject::connect(m_dialog, &QDialog::rejected, m_dialog, [object] { ::HangUp(object); });
        if (mode == 2)
            m_dialog->setWindowModality(Qt::ApplicationModal);
        m_dialog->show();
    }
    ~DialStatusDialog() override
    {
        if (m_dialog) {
            m_dialog->disconnect();
            delete m_dialog.data();
        }
    }
    QDialog* dialog() const { return m_dialog; }

private:
    QPointer<QDialog> m_dialog;
};

std::map<std::int32_t, QPointer<QWidget>>& boxes()
{
    static std::map<std::int32_t, QPointer<QWidget>> map;
    return map;
}

std::unique_ptr<control::DialStatusWindow> openDialStatus(QcHandle object, const std::string& number,
                                                          std::int32_t mode)
{
    return std::make_unique<DialStatusDialog>(object, number, mode);
}

std::int32_t fillBox(QcHandle object, const lt::automation::Variant& value, bool list)
{
    const auto id = value.toInt32();
    if (!id)
        return 0;
    const auto it = boxes().find(*id);
    if (it == boxes().end() || !it->second)
        return 0;
    if (list) {
        auto* box = qobject_cast<QListWidget*>(it->second.data());
        return box ? FillListWithModemNames(object, box) : 0;
    }
    auto* box = qobject_cast<QComboBox*>(it->second.data());
    return box ? FillComboWithModemNames(object, box) : 0;
}

}  // namespace

std::int32_t modemBoxId(QWidget* box)
{
    static std::int32_t next = 0;
    for (auto& [id, w] : boxes())
        if (w == box)
            return id;
    boxes()[++next] = box;
    return next;
}

void installModemWindows()
{
    control::SetDialStatusFactory(&openDialStatus);
    control::SetModemBoxFiller(&fillBox);
}

}  // namespace qelcomm::modem
