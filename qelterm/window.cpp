#include "window.h"

#include "modem_widgets.h"
#include "port_dialog.h"
#include "port_name.h"
#include "qel_comm.h"
#include "qel_comm_commands.h"
#include "qelcomm_terminal.h"
#include "status_view.h"
#include "terminal_view.h"
#include "window_text.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusBar>

#include <iostream>
#include <memory>

namespace qelterm {
namespace {

using lt::automation::Variant;
using qelcomm::control::CQelComm;
namespace M = qelcomm::control::MemberId;
namespace cc = qelcomm::control;

constexpr int kBreakMs = 250;   // as tcsendbreak's

// ~/.config/lintrel/qelterm.conf, beside the ports map; found anew each
// time, as the ports map is ($XDG_CONFIG_HOME may change).
QSettings windowSettings()
{
    return QSettings(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/lintrel/qelterm.conf",
                     QSettings::IniFormat);
}

std::string text(const CQelComm& c, std::int32_t id)
{
    Variant v;
    c.Dispatch().get(id, v);
    return v.toString();
}

}  // namespace

TermWindow::TermWindow(CQelComm& control, std::string portName)
    : m_control(control), m_view(new qelcomm::terminal::TerminalView(control.Window())),
      m_dialogs(this, m_view), m_receiver(control), m_watch(control), m_port(new QLabel),
      m_settings(new QLabel), m_lines(new QLabel), m_state(new QLabel), m_log(new QLabel), m_dial(new QLabel),
      m_portName(std::move(portName)), m_portNumber(control.CommPort())
{
    setCentralWidget(m_view);
    m_port->setObjectName("port");
    m_lines->setObjectName("lines");
    m_state->setObjectName("state");
    m_log->setObjectName("log");
    buildActions();
    for (QLabel* l : {m_log, m_port, m_settings, m_lines, m_state})
        statusBar()->addPermanentWidget(l);
    statusBar()->addWidget(m_dial, 1);
    m_dialogs.onStatus = [this] { refresh(); };
    cc::SetCommandUi(&m_dialogs);
    m_watch.onChange = [this](bool gone) { deviceChanged(gone); };
    // Transfers, from the commands or started by the far end (ZModem's
    // "rz", seen by the receiver), show their status over this window.
    xfer::view::installStatusDialog([this](win::Hwnd) { return this; });
    // The dial status changes while Dial waits, which pumps messages.
    connect(&m_timer, &QTimer::timeout, this, [this] { refresh(); });
    m_timer.start(250);
    refresh();
}

TermWindow::~TermWindow()
{
    xfer::setStatusViewFactory({});
    cc::SetCommandUi(nullptr);
    for (const std::string& map : m_tempMaps)
        QFile::remove(QString::fromStdString(map));
}

void TermWindow::askForPort(std::string problem)
{
    choosePortWith(std::move(problem), [this](const QString& problem, const QString& port) {
        return std::make_unique<PortDialog>(this, problem, port, QString::fromStdString(m_control.Settings()));
    });
}

void TermWindow::askForRemote(std::string problem)
{
    choosePortWith(std::move(problem), [this](const QString& problem, const QString& port) {
        return std::make_unique<RemoteDialog>(this, problem, port, QString::fromStdString(m_control.Settings()));
    });
}

template <class MakeDialog>
void TermWindow::choosePortWith(std::string problem, MakeDialog makeDialog)
{
    for (;;) {
        if (!problem.empty())
            statusBar()->showMessage(QString::fromStdString(problem));
        const auto d = makeDialog(QString::fromStdString(problem), QString::fromStdString(m_portName));
        if (d->exec() != QDialog::Accepted)
            return;
        const std::string name = d->port().toStdString();
        problem = openChosenPort(m_control, name, d->settings().toStdString(), m_tempMaps);
        // The control has the port tried now, open or not; the one gone
        // before is not waited for any more.
        if (usablePortName(name)) {
            m_portName = name;
            m_portNumber = m_control.CommPort();
            m_watch.stop();
            m_gone = false;
        }
        refresh();
        if (problem.empty()) {
            statusBar()->clearMessage();
            return;
        }
    }
}

void TermWindow::place(bool lastSize)
{
    const QSize saved = windowSettings().value("window/size").toSize();
    resize(lastSize && saved.isValid() ? saved : sizeHint());
    if (const QScreen* s = screen()) {
        const QRect room = s->availableGeometry();
        resize(size().boundedTo(room.size()));
        move(room.center() - QPoint(width() / 2, height() / 2));
    }
}

void TermWindow::closeEvent(QCloseEvent* e)
{
    windowSettings().setValue("window/size", isMaximized() || isFullScreen() ? normalGeometry().size() : size());
    QMainWindow::closeEvent(e);
}

std::string TermWindow::state() const
{
    if (m_control.PortOpen())
        return "Connected";
    if (m_gone)
        return m_watch.waiting() ? "Device gone, waiting for it" : "Device gone";
    return "Disconnected";
}

std::string TermWindow::portText()
{
    // The ports map is read again only when the port changed.
    if (m_labelNumber != m_control.CommPort() || m_labelName != m_portName) {
        m_labelNumber = m_control.CommPort();
        m_labelName = m_portName;
        m_label = portLabel(m_portName, m_portNumber, m_labelNumber);
    }
    return m_label;
}

void TermWindow::refresh()
{
    const std::string port = portText();
    const std::string settings = m_control.Settings();
    m_port->setText(QString::fromStdString(port));
    m_settings->setText(QString::fromStdString(settings));
    const bool open = m_control.PortOpen();
    m_lines->setText(QString("DTR %1  RTS %2")
                         .arg(m_control.DTRHolding() ? "on" : "off", m_control.RTSEnable() ? "on" : "off"));
    m_lines->setEnabled(open);
    m_state->setText(QString::fromStdString(state()));
    const std::string log = text(m_control, M::CaptureFilename);
    m_log->setText(log.empty() ? QString() : "Log: " + QFileInfo(QString::fromStdString(log)).fileName());
    m_log->setToolTip(QString::fromStdString(log));
    m_log->setVisible(!log.empty());
    m_dial->setText(QString::fromStdString(text(m_control, M::Dial)));
    setWindowTitle(QString::fromStdString(qelterm::windowTitle(text(m_control, M::ProjectFilename), port, settings, state())));
    m_dtrAction->setChecked(m_control.DTRHolding());
    m_rtsAction->setChecked(m_control.RTSEnable());
    m_logAction->setChecked(!log.empty());
    m_breakAction->setEnabled(open);
}

void TermWindow::run(std::int32_t command)
{
    // Connect, Disconnect and a project are the user's word on a device gone.
    if (command == cc::CommCommand_Connect || command == cc::CommCommand_Disconnect ||
        command == cc::CommCommand_New || command == cc::CommCommand_Open) {
        m_watch.stop();
        m_gone = false;
    }
    cc::RunCommand(m_control, command);
    refresh();
}

void TermWindow::deviceChanged(bool gone)
{
    const std::string port = portText();
    m_gone = gone;
    // The title and the status bar say it too, from refresh().
    notice(port + (gone ? " is gone" + std::string(m_watch.waiting() ? "; waiting for it to come back" : "")
                        : " is back"));
    refresh();
}

void TermWindow::notice(const std::string& text)
{
    std::string line = ::GetCursorColumn(m_control.Window()) != 0 ? "\r\n" : "";
    line += "[qelterm " + QTime::currentTime().toString("HH:mm:ss").toStdString() + "] " + text + "\r\n";
    m_receiver.show(line);
    m_receiver.format().lineStarted();
}

void TermWindow::setHex(bool on)
{
    // A hex dump starts on a line of its own.
    if (on && ::GetCursorColumn(m_control.Window()) != 0)
        m_receiver.show("\r\n");
    m_receiver.format().setHex(on);
}

bool TermWindow::logTo(const QString& file)
{
    m_control.Dispatch().put(M::CaptureFilename, Variant(file.toStdString()));
    const bool ok = file.isEmpty() || QFileInfo(file).isFile();
    if (!ok)
        m_control.Dispatch().put(M::CaptureFilename, Variant(std::string()));
    refresh();
    return ok;
}

void TermWindow::sendBreak()
{
    m_control.SetBreak(true);
    QTimer::singleShot(kBreakMs, this, [this] { m_control.SetBreak(false); });
    statusBar()->showMessage("Break sent", 2000);
}

void TermWindow::clearScrollBack()
{
    const QcHandle object = m_control.Window();
    const std::int32_t rows = ::GetScrollRows(object);
    ::SetScrollRows(object, 0);
    ::SetScrollRows(object, rows);
}

void setUpTerminal(CQelComm& control, const Options& o)
{
    control.Dispatch().put(M::Emulation, Variant(std::int32_t(o.emulation)));
    control.Dispatch().put(M::ScrollRows, Variant(std::int32_t(1000)));
    control.Dispatch().put(M::CharacterSet, Variant(std::int32_t(o.charset)));
    control.Dispatch().put(M::Rendition, Variant(std::int32_t(o.rendition)));
    if (o.fixedSize) {
        control.Dispatch().put(M::Columns, Variant(std::int32_t(o.columns)));
        control.Dispatch().put(M::Rows, Variant(std::int32_t(o.rows)));
    }
    // The screen follows the window, unless its size was given.
    control.Dispatch().put(M::AutoSize, Variant(std::int32_t(o.fixedSize ? 1 : 3)));
}

int runWindow(const Options& o)
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/qelterm/hicolor/%1x%1/apps/qelterm.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    qelcomm::modem::installModemWindows();
    CQelComm control;
    setUpTerminal(control, o);
    std::string tempMap;
    if (!o.project.empty()) {
        if (!QFile::exists(QString::fromStdString(o.project))) {
            std::cerr << "qelterm: no project file " << o.project << "\n";
            return 2;
        }
        cc::ReadProject(control, o.project);
    } else {
        const std::string port = o.port.empty() ? "COM1" : o.port;
        const PortChoice choice = choosePort(port);
        if (!choice.number) {
            std::cerr << "qelterm: " << unusablePortText(port) << "\n";
            return 2;
        }
        tempMap = choice.tempMap;
        control.SetCommPort(std::int16_t(choice.number));
        if (control.SetSettings(o.settings).code != 0) {
            std::cerr << "qelterm: bad settings " << o.settings << "\n";
            return 2;
        }
    }
    int code = 0;
    {
        const std::string portName = o.project.empty() ? (o.port.empty() ? "COM1" : o.port) : std::string();
        // Received bytes go to the screen (watched for a ZModem start, which
        // downloads into the transfer folder), typed keys to the port.
        TermWindow window(control, portName);
        window.receiver().format().setTimestamps(o.timestamps);
        window.receiver().format().setHex(o.hex);
        if (o.project.empty()) {
            control.SetPortOpen(true);
            if (!control.PortOpen()) {
                // The window opens anyway (it may have been started from a
                // menu, with nobody to read standard error) and asks for
                // another port, saying why this one did not open.
                const std::string problem = openFailureText(portName);
                std::cerr << "qelterm: " << problem << "\n";
                QTimer::singleShot(0, &window, [&window, problem, remote = isRemotePortName(portName)] {
                    if (remote)
                        window.askForRemote(problem);
                    else
                        window.askForPort(problem);
                });
            }
        }
        window.refresh();
        window.place(!o.fixedSize);
        window.show();
        code = QApplication::exec();
        control.SetPortOpen(false);
    }
    if (!tempMap.empty())
        QFile::remove(QString::fromStdString(tempMap));
    return code;
}

}  // namespace qelterm
