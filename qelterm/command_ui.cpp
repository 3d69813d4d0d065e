#include "command_ui.h"

#include "qelcomm_terminal.h"
#include "terminal_view.h"
#include "transfer_engine.h"

#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDialog>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>

#include <functional>

namespace qelterm {
namespace {

using lt::automation::Variant;
using qelcomm::control::CQelComm;
namespace M = qelcomm::control::MemberId;

// Transfer protocols are numbered 0 to 6 (XModem to Kermit).
constexpr int kProtocolCount = 7;

QString projectFilters()
{
    return QString("%1;;%2").arg(qelcomm::control::kProjectFilter, qelcomm::control::kAllFilesFilter);
}

Variant get(const CQelComm& c, std::int32_t dispid)
{
    Variant v;
    c.Dispatch().get(dispid, v);
    return v;
}

QComboBox* protocolBox(std::int32_t current)
{
    auto* box = new QComboBox;
    // Only the protocols this build can run are offered.
    for (int i = 0; i < kProtocolCount; ++i)
        if (xfer::hasProtocol(i))
            box->addItem(xfer::protocolName(i), i);
    if (box->findData(current) < 0)
        box->addItem(QString("%1 (not available)").arg(xfer::protocolName(current)), current);
    box->setCurrentIndex(box->findData(current));
    return box;
}

QSpinBox* spin(int low, int high, int value)
{
    auto* s = new QSpinBox;
    s->setRange(low, high);
    s->setValue(value);
    return s;
}

}  // namespace

bool CommandDialogs::chooseProjectFile(CQelComm&, bool save, const std::string& initial, std::string& chosen)
{
    QFileDialog dialog(m_parent, qelcomm::control::kProjectDialogTitle, QString::fromStdString(initial),
                       projectFilters());
    dialog.setDefaultSuffix(qelcomm::control::kProjectExtension);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    chosen = dialog.selectedFiles().first().toStdString();
    return true;
}

bool CommandDialogs::chooseTransfer(CQelComm& c, bool sending, std::int32_t& protocol, std::string& file)
{
    QDialog dialog(m_parent);
    dialog.setWindowTitle(sending ? "Send File" : "Receive File");
    auto* form = new QFormLayout(&dialog);
    QComboBox* protocols = protocolBox(protocol);
    protocols->setObjectName("protocol");
    form->addRow("Protocol:", protocols);
    // A line edit with a browse button; pick runs the browse.
    auto pathRow = [&](const char* caption, const char* objectName, const QString& initial,
                       std::function<QString(const QString&)> pick) {
        auto* edit = new QLineEdit(initial);
        edit->setObjectName(objectName);
        auto* browse = new QPushButton("Browse...");
        auto* row = new QHBoxLayout;
        row->addWidget(edit);
        row->addWidget(browse);
        form->addRow(caption, row);
        QObject::connect(browse, &QPushButton::clicked, &dialog, [edit, pick] {
            const QString f = pick(edit->text());
            if (!f.isEmpty())
                edit->setText(f);
        });
        return edit;
    };
    QLineEdit* folder = nullptr;
    if (!sending) {
        // Received files go to the transfer folder, under the names the
        // sender gives unless a name is set below.
        folder = pathRow("Folder:", "folder", QString::fromStdString(get(c, M::XferPath).toString()),
                         [&dialog](const QString& at) { return QFileDialog::getExistingDirectory(&dialog, "Folder", at); });
    }
    QLineEdit* name = pathRow(sending ? "File:" : "Save as:", "file", QString::fromStdString(file),
                              [&dialog, sending](const QString& at) {
                                  return sending ? QFileDialog::getOpenFileName(&dialog, "Send File", at)
                                                 : QFileDialog::getSaveFileName(&dialog, "Receive File", at);
                              });
    if (!sending)
        name->setPlaceholderText("the sender's names");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, [&] {
        if (sending && name->text().isEmpty())
            return;   // nothing to send yet
        if (folder && !folder->text().isEmpty() && !QFileInfo(folder->text()).isDir())
            return;   // no such folder to receive into
        dialog.accept();
    });
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    protocol = protocols->currentData().toInt();
    file = name->text().toStdString();
    if (folder)
        c.Dispatch().put(M::XferPath, Variant(folder->text().toStdString()));
    return true;
}

void CommandDialogs::copy(CQelComm& c) { CopySelectionToClipboard(c.Window()); }

void CommandDialogs::paste(CQelComm& c)
{
    const QString text = QGuiApplication::clipboard()->text();
    if (text.isEmpty())
        return;
    // Line ends go out as the carriage return a terminal sends for Enter.
    QByteArray bytes = GetCharacterSet(c.Window()) == 1 ? text.toUtf8() : text.toLatin1();
    bytes.replace("\r\n", "\r").replace('\n', '\r');
    c.Output(bytes.toStdString());
}

void CommandDialogs::properties(CQelComm& c)
{
    QDialog dialog(m_parent);
    dialog.setWindowTitle("Properties");
    auto* form = new QFormLayout(&dialog);
    QSpinBox* port = spin(1, 255, c.CommPort());
    auto* settings = new QLineEdit(QString::fromStdString(c.Settings()));
    auto* handshaking = new QComboBox;
    for (const char* h : {"None", "XOn/XOff", "RTS/CTS", "RTS/CTS and XOn/XOff"})
        handshaking->addItem(h);
    handshaking->setCurrentIndex(std::clamp(c.Handshaking(), 0, 3));
    auto* emulation = new QComboBox;
    for (const char* e : {"TTY", "ANSI", "VT52", "VT100"})
        emulation->addItem(e);
    emulation->setCurrentIndex(std::clamp(get(c, M::Emulation).toInt32().value_or(4) - 1, 0, 3));
    QSpinBox* rows = spin(1, 255, get(c, M::Rows).toInt32().value_or(25));
    QSpinBox* columns = spin(1, 255, get(c, M::Columns).toInt32().value_or(80));
    QSpinBox* fore = spin(0, 15, get(c, M::ForeColor).toInt32().value_or(7));
    QSpinBox* back = spin(0, 15, get(c, M::BackColor).toInt32().value_or(0));
    QComboBox* protocol = protocolBox(get(c, M::XferProtocol).toInt32().value_or(5));
    form->addRow("Port (COM number):", port);
    form->addRow("Settings:", settings);
    form->addRow("Handshaking:", handshaking);
    form->addRow("Emulation:", emulation);
    form->addRow("Rows:", rows);
    form->addRow("Columns:", columns);
    form->addRow("Text colour (0-15):", fore);
    form->addRow("Background colour (0-15):", back);
    form->addRow("Transfer protocol:", protocol);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    form->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    if (dialog.exec() != QDialog::Accepted)
        return;

    const auto& t = c.Dispatch();
    if (port->value() != c.CommPort()) {
        // A new port takes effect by reopening when the old one was open.
        const bool wasOpen = c.PortOpen();
        c.SetPortOpen(false);
        c.SetCommPort(std::int16_t(port->value()));
        if (wasOpen)
            c.SetPortOpen(true);
    }
    if (c.SetSettings(settings->text().toStdString()).code != 0)
        QMessageBox::warning(m_parent, "Properties", "The settings were not changed: " + settings->text() +
                                                         " is not a settings text such as 9600,n,8,1.");
    c.SetHandshaking(handshaking->currentIndex());
    t.put(M::Emulation, Variant(std::int32_t(emulation->currentIndex() + 1)));
    t.put(M::Rows, Variant(std::int32_t(rows->value())));
    t.put(M::Columns, Variant(std::int32_t(columns->value())));
    t.put(M::ForeColor, Variant(std::int32_t(fore->value())));
    t.put(M::BackColor, Variant(std::int32_t(back->value())));
    t.put(M::XferProtocol, Variant(std::int32_t(protocol->currentData().toInt())));
    statusChanged(c);
}

void CommandDialogs::font(CQelComm& c)
{
    bool ok = false;
    const QFont chosen = QFontDialog::getFont(&ok, m_view->dialogFont(), m_parent, "Font", QFontDialog::MonospacedFonts);
    if (!ok)
        return;
    lt::automation::FontDesc desc = c.Font();
    desc.name = chosen.family().toStdString();
    desc.size = std::uint32_t(std::max(1.0, chosen.pointSizeF()) * 10000);
    desc.weight = std::int16_t(chosen.weight());
    desc.italic = chosen.italic();
    c.SetFont(desc);
    // The view takes the control's font now: new cells, a refitted screen.
    m_view->refreshFont();
}

}  // namespace qelterm
