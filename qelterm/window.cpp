#include "window.h"

#include "command_ui.h"
#include "modem_widgets.h"
#include "port_dialog.h"
#include "port_name.h"
#include "qel_comm.h"
#include "qel_comm_commands.h"
#include "status_view.h"
#include "terminal_view.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QStatusBar>
#include <QTimer>
#include <QToolBar>

#include <iostream>

namespace qelterm {
namespace {

using lt::automation::Variant;
using qelcomm::control::CQelComm;
namespace M = qelcomm::control::MemberId;
namespace cc = qelcomm::control;

// The twelve commands with their captions and desktop theme icons.
const struct {
    std::int32_t command;
    const char* caption;
    const char* icon;
    bool separatorAfter;
} kCommands[] = {
    {cc::CommCommand_New, "New", "document-new", false},
    {cc::CommCommand_Open, "Open...", "document-open", false},
    {cc::CommCommand_Save, "Save", "document-save", false},
    {cc::CommCommand_SaveAs, "Save As...", "document-save-as", true},
    {cc::CommCommand_Copy, "Copy", "edit-copy", false},
    {cc::CommCommand_Paste, "Paste", "edit-paste", true},
    {cc::CommCommand_Connect, "Connect", "network-connect", false},
    {cc::CommCommand_Disconnect, "Disconnect", "network-disconnect", true},
    {cc::CommCommand_SendFile, "Send File...", "go-up", false},
    {cc::CommCommand_ReceiveFile, "Receive File...", "go-down", true},
    {cc::CommCommand_Properties, "Properties...", "document-properties", false},
    {cc::CommCommand_Font, "Font...", "preferences-desktop-font", false},
};

class TermWindow : public QMainWindow {
public:
    TermWindow(CQelComm& control, std::string portName)
        : m_control(control), m_view(new qelcomm::terminal::TerminalView(control.Window())),
          m_dialogs(this, m_view), m_portName(std::move(portName))
    {
        setCentralWidget(m_view);
        QToolBar* bar = addToolBar("Commands");
        auto* portAction = new QAction(QIcon::fromTheme("preferences-system"), "Port...", this);
        portAction->setObjectName("actionPort");
        connect(portAction, &QAction::triggered, this, [this] { askForPort({}); });
        bar->addAction(portAction);
        bar->addSeparator();
        m_view->setContextMenuPolicy(Qt::ActionsContextMenu);
        for (const auto& c : kCommands) {
            auto* action = new QAction(QIcon::fromTheme(c.icon), c.caption, this);
            connect(action, &QAction::triggered, this, [this, n = c.command] { run(n); });
            bar->addAction(action);
            m_view->addAction(action);
            if (c.separatorAfter) {
                bar->addSeparator();
                auto* separator = new QAction(this);
                separator->setSeparator(true);
                m_view->addAction(separator);
            }
        }
        for (QLabel* l : {m_port, m_settings, m_state})
            statusBar()->addPermanentWidget(l);
        statusBar()->addWidget(m_dial, 1);
        m_dialogs.onStatus = [this] { refresh(); };
        cc::SetCommandUi(&m_dialogs);
        // Transfers, from the commands or started by the far end (ZModem's
        // "rz" with automatic receive on), show their status over this window.
        xfer::view::installStatusDialog([this](win::Hwnd) { return this; });
        // The dial status changes while Dial waits, which pumps messages.
        connect(&m_timer, &QTimer::timeout, this, [this] { refresh(); });
        m_timer.start(250);
        refresh();
    }
    ~TermWindow() override
    {
        xfer::setStatusViewFactory({});
        cc::SetCommandUi(nullptr);
        for (const std::string& map : m_tempMaps)
            QFile::remove(QString::fromStdString(map));
    }

    // Asks for a port until one opens or the user gives up; problem says
    // why the last one did not open.
    void askForPort(std::string problem)
    {
        for (;;) {
            if (!problem.empty())
                statusBar()->showMessage(QString::fromStdString(problem));
            PortDialog d(this, QString::fromStdString(problem), QString::fromStdString(m_portName),
                         QString::fromStdString(m_control.Settings()));
            if (d.exec() != QDialog::Accepted)
                return;
            const std::string name = d.port().toStdString();
            problem = openChosenPort(m_control, name, d.settings().toStdString(), m_tempMaps);
            refresh();
            if (problem.empty()) {
                m_portName = name;
                statusBar()->clearMessage();
                return;
            }
        }
    }

    qelcomm::terminal::TerminalView* view() const { return m_view; }

    void refresh()
    {
        m_port->setText(QString("COM%1").arg(m_control.CommPort()));
        m_settings->setText(QString::fromStdString(m_control.Settings()));
        m_state->setText(m_control.PortOpen() ? "Connected" : "Disconnected");
        Variant dial, file;
        m_control.Dispatch().get(M::Dial, dial);
        m_dial->setText(QString::fromStdString(dial.toString()));
        m_control.Dispatch().get(M::ProjectFilename, file);
        setWindowTitle(file.toString().empty() ? QString("qelterm")
                                               : QString("qelterm - %1").arg(QString::fromStdString(file.toString())));
    }

private:
    void run(std::int32_t command)
    {
        cc::RunCommand(m_control, command);
        refresh();
    }

    CQelComm& m_control;
    qelcomm::terminal::TerminalView* m_view;
    CommandDialogs m_dialogs;
    QLabel* m_port = new QLabel;
    QLabel* m_settings = new QLabel;
    QLabel* m_state = new QLabel;
    QLabel* m_dial = new QLabel;
    QTimer m_timer;
    std::string m_portName;                 // as the user gave it
    std::vector<std::string> m_tempMaps;   // ports maps written for device paths
};

}  // namespace

int runWindow(const Options& o)
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/qelterm/hicolor/%1x%1/apps/qelterm.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    qelcomm::modem::installModemWindows();
    CQelComm control;
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
            std::cerr << "qelterm: " << port << " is neither a COM name nor a device path\n";
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
        const std::string portName = o.port.empty() ? "COM1" : o.port;
        TermWindow window(control, portName);
        // Received bytes go to the screen (watched for a ZModem start, which
        // downloads into the transfer folder), typed keys to the port.
        control.SetAutoProcess(3);
        if (o.project.empty()) {
            control.SetPortOpen(true);
            if (!control.PortOpen()) {
                // The window opens anyway (it may have been started from a
                // menu, with nobody to read standard error) and asks for
                // another port, saying why this one did not open.
                const std::string problem = openFailureText(portName);
                std::cerr << "qelterm: " << problem << "\n";
                QTimer::singleShot(0, &window, [&window, problem] { window.askForPort(problem); });
            }
        }
        if (code == 0) {
            window.refresh();
            window.resize(window.view()->terminalSize() + QSize(0, 80));
            window.show();
            code = QApplication::exec();
        }
        control.SetPortOpen(false);
    }
    if (!tempMap.empty())
        QFile::remove(QString::fromStdString(tempMap));
    return code;
}

}  // namespace qelterm
