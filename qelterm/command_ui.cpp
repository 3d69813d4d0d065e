#include "command_ui.h"

#include "modem_widgets.h"
#include "qelcomm_terminal.h"
#include "terminal_types.h"
#include "terminal_view.h"
#include "transfer_engine.h"

#include <QCheckBox>
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
#include <QTabWidget>
#include <QVBoxLayout>

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

// A box of choices whose item data are the values, the current one chosen.
QComboBox* choices(const char* objectName, std::initializer_list<std::pair<const char*, int>> items, int current)
{
    auto* box = new QComboBox;
    box->setObjectName(objectName);
    for (const auto& [text, value] : items)
        box->addItem(text, value);
    box->setCurrentIndex(std::max(0, box->findData(current)));
    return box;
}

namespace term = qelcomm::terminal;

// The largest scroll-back offered; each row costs two bytes a column.
constexpr int kMaxScrollRows = 10000;

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
    auto* layout = new QVBoxLayout(&dialog);
    auto* tabs = new QTabWidget;
    layout->addWidget(tabs);
    auto page = [tabs](const char* title) {
        auto* w = new QWidget;
        tabs->addTab(w, title);
        return new QFormLayout(w);
    };

    // The line, and dialing: Connect dials the number through the modem.
    QFormLayout* line = page("Connection");
    QSpinBox* port = spin(1, 255, c.CommPort());
    port->setObjectName("port");
    auto* settings = new QLineEdit(QString::fromStdString(c.Settings()));
    settings->setObjectName("settings");
    auto* handshaking = new QComboBox;
    for (const char* h : {"None", "XOn/XOff", "RTS/CTS", "RTS/CTS and XOn/XOff"})
        handshaking->addItem(h);
    handshaking->setCurrentIndex(std::clamp(c.Handshaking(), 0, 3));
    QComboBox* protocol = protocolBox(get(c, M::XferProtocol).toInt32().value_or(5));
    auto* phone = new QLineEdit(QString::fromStdString(get(c, M::ProjectPhoneNumber).toString()));
    phone->setObjectName("phone");
    phone->setPlaceholderText("none: Connect opens the port");
    auto* modem = new QComboBox;
    modem->setObjectName("modem");
    FillComboWithModemNames(c.Window(), modem);
    line->addRow("Port (COM number):", port);
    line->addRow("Settings:", settings);
    line->addRow("Handshaking:", handshaking);
    line->addRow("Transfer protocol:", protocol);
    line->addRow("Phone number:", phone);
    line->addRow("Modem:", modem);

    // The terminal.
    QFormLayout* screen = page("Terminal");
    auto* emulation = new QComboBox;
    for (const char* e : {"TTY", "ANSI", "VT52", "VT100"})
        emulation->addItem(e);
    emulation->setCurrentIndex(std::clamp(get(c, M::Emulation).toInt32().value_or(4) - 1, 0, 3));
    QSpinBox* rows = spin(1, 255, get(c, M::Rows).toInt32().value_or(25));
    QSpinBox* columns = spin(1, 255, get(c, M::Columns).toInt32().value_or(80));
    QSpinBox* fore = spin(0, 15, get(c, M::ForeColor).toInt32().value_or(7));
    QSpinBox* back = spin(0, 15, get(c, M::BackColor).toInt32().value_or(0));
    QComboBox* endOfLine = choices("endOfLine",
                                   {{"Next line", term::EndOfLineMode_NextLine},
                                    {"Do nothing", term::EndOfLineMode_DoNothing},
                                    {"Wrap line", term::EndOfLineMode_WrapLine},
                                    {"Wrap screen", term::EndOfLineMode_WrapScreen}},
                                   get(c, M::EndOfLineMode).toInt32().value_or(0));
    QComboBox* backspace = choices("backspace",
                                   {{"Destructive", term::BackSpace_Destructive},
                                    {"Non-destructive", term::BackSpace_NonDestructive}},
                                   get(c, M::BackSpace).toInt32().value_or(term::BackSpace_NonDestructive));
    auto* echo = new QCheckBox("Show typed keys on the screen");
    echo->setObjectName("echo");
    echo->setChecked(get(c, M::Echo).toBool());
    QComboBox* colorFilter = choices("colorFilter",
                                     {{"Full colour", term::ColorFilter_Full},
                                      {"Gray", term::ColorFilter_Gray},
                                      {"Black and white", term::ColorFilter_BW}},
                                     get(c, M::ColorFilter).toInt32().value_or(0));
    QSpinBox* scrollRows = spin(0, kMaxScrollRows, get(c, M::ScrollRows).toInt32().value_or(0));
    scrollRows->setObjectName("scrollRows");
    screen->addRow("Emulation:", emulation);
    screen->addRow("Rows:", rows);
    screen->addRow("Columns:", columns);
    screen->addRow("Text colour (0-15):", fore);
    screen->addRow("Background colour (0-15):", back);
    screen->addRow("Colours:", colorFilter);
    screen->addRow("End of line:", endOfLine);
    screen->addRow("Backspace:", backspace);
    screen->addRow("Local echo:", echo);
    screen->addRow("Scroll-back rows:", scrollRows);

    // Capture: what the terminal receives goes on into a file as well.
    QFormLayout* capturing = page("Capture");
    const QString captureNow = QString::fromStdString(get(c, M::CaptureFilename).toString());
    auto* capture = new QLineEdit(captureNow);
    capture->setObjectName("capture");
    capture->setPlaceholderText("none");
    auto* browse = new QPushButton("Browse...");
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&dialog, capture] {
        const QString f = QFileDialog::getSaveFileName(&dialog, "Capture File", capture->text(), {}, nullptr,
                                                       QFileDialog::DontConfirmOverwrite);
        if (!f.isEmpty())
            capture->setText(f);
    });
    auto* captureRow = new QHBoxLayout;
    captureRow->addWidget(capture);
    captureRow->addWidget(browse);
    QComboBox* captureMode = choices("captureMode",
                                     {{"Text as shown, without escape sequences", term::Capture_Standard},
                                      {"Every byte received", term::Capture_Binary},
                                      {"Rows as they leave the screen", term::Capture_Visible}},
                                     get(c, M::CaptureMode).toInt32().value_or(0));
    capturing->addRow("File (appended to):", captureRow);
    capturing->addRow("What:", captureMode);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    layout->addWidget(buttons);
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

    t.put(M::ProjectPhoneNumber, Variant(phone->text().trimmed().toStdString()));
    if (modem->currentIndex() >= 0 && modem->currentData().toInt() != get(c, M::ModemIndex).toInt32().value_or(0))
        t.put(M::ModemIndex, Variant(std::int32_t(modem->currentData().toInt())));

    t.put(M::EndOfLineMode, Variant(std::int32_t(endOfLine->currentData().toInt())));
    t.put(M::BackSpace, Variant(std::int32_t(backspace->currentData().toInt())));
    t.put(M::Echo, Variant::fromBool(echo->isChecked()));
    t.put(M::ColorFilter, Variant(std::int32_t(colorFilter->currentData().toInt())));
    // A new size empties the scroll-back: only a change is applied.
    if (scrollRows->value() != get(c, M::ScrollRows).toInt32().value_or(0))
        t.put(M::ScrollRows, Variant(std::int32_t(scrollRows->value())));

    // The mode first: a capture file opened next writes in it.
    t.put(M::CaptureMode, Variant(std::int32_t(captureMode->currentData().toInt())));
    if (capture->text() != captureNow) {
        t.put(M::CaptureFilename, Variant(capture->text().toStdString()));
        if (!capture->text().isEmpty() && !QFileInfo(capture->text()).isFile())
            QMessageBox::warning(m_parent, "Properties", "The capture file " + capture->text() + " cannot be written.");
    }
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
