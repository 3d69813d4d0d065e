// The window's actions: the menu bar, the toolbar and the view's context
// menu share them, and with them their shortcuts. Every shortcut takes
// Ctrl+Shift: Ctrl with a letter alone is a control code for the port.
#include "window.h"

#include "qel_comm.h"
#include "qel_comm_commands.h"
#include "qelcomm_terminal.h"
#include "terminal_view.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QStatusBar>
#include <QToolBar>

namespace qelterm {
namespace {

namespace cc = qelcomm::control;

QKeySequence ctrlShift(Qt::Key key) { return QKeySequence(Qt::CTRL | Qt::SHIFT | key); }

}  // namespace

QAction* TermWindow::makeAction(const char* objectName, const QString& text, const char* icon,
                               const QKeySequence& keys)
{
    auto* a = new QAction(icon ? QIcon::fromTheme(icon) : QIcon(), text, this);
    a->setObjectName(objectName);
    if (!keys.isEmpty()) {
        a->setShortcut(keys);
        a->setShortcutContext(Qt::WindowShortcut);
    }
    return a;
}

void TermWindow::buildActions()
{
    // The control's commands, each run through its Command event.
    auto command = [this](const char* name, const QString& text, const char* icon, std::int32_t number,
                          const QKeySequence& keys = {}) {
        QAction* a = makeAction(name, text, icon, keys);
        connect(a, &QAction::triggered, this, [this, number] { run(number); });
        return a;
    };
    QAction* newProject = command("actionNew", "New", "document-new", cc::CommCommand_New);
    QAction* open = command("actionOpen", "Open...", "document-open", cc::CommCommand_Open, ctrlShift(Qt::Key_O));
    QAction* save = command("actionSave", "Save", "document-save", cc::CommCommand_Save, ctrlShift(Qt::Key_S));
    QAction* saveAs = command("actionSaveAs", "Save As...", "document-save-as", cc::CommCommand_SaveAs);
    QAction* copy = command("actionCopy", "Copy", "edit-copy", cc::CommCommand_Copy, ctrlShift(Qt::Key_C));
    QAction* paste = command("actionPaste", "Paste", "edit-paste", cc::CommCommand_Paste, ctrlShift(Qt::Key_V));
    QAction* connectPort = command("actionConnect", "Connect", "network-connect", cc::CommCommand_Connect);
    QAction* disconnect =
        command("actionDisconnect", "Disconnect", "network-disconnect", cc::CommCommand_Disconnect);
    QAction* sendFile = command("actionSendFile", "Send File...", "go-up", cc::CommCommand_SendFile, ctrlShift(Qt::Key_U));
    QAction* receiveFile =
        command("actionReceiveFile", "Receive File...", "go-down", cc::CommCommand_ReceiveFile, ctrlShift(Qt::Key_J));
    QAction* properties =
        command("actionProperties", "Properties...", "document-properties", cc::CommCommand_Properties);
    QAction* font = command("actionFont", "Font...", "preferences-desktop-font", cc::CommCommand_Font);

    // The window's own.
    QAction* log = m_logAction = makeAction("actionLog", "Log to File...", "document-save", ctrlShift(Qt::Key_F));
    log->setCheckable(true);
    connect(log, &QAction::triggered, this, [this](bool on) { chooseLog(on); });
    QAction* quit = makeAction("actionQuit", "Quit", "application-exit", ctrlShift(Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &QWidget::close);
    QAction* clear = makeAction("actionClear", "Clear Screen", "edit-clear", ctrlShift(Qt::Key_L));
    connect(clear, &QAction::triggered, this, [this] { ::SetContents(m_control.Window(), nullptr, 0); });
    QAction* clearBack = makeAction("actionClearScrollBack", "Clear Scroll-back", "edit-clear-all", ctrlShift(Qt::Key_K));
    connect(clearBack, &QAction::triggered, this, [this] { clearScrollBack(); });
    QAction* port = makeAction("actionPort", "Open Port...", "preferences-system", ctrlShift(Qt::Key_P));
    connect(port, &QAction::triggered, this, [this] { askForPort({}); });
    QAction* remote = makeAction("actionConnectTo", "Connect To...", "network-server", ctrlShift(Qt::Key_M));
    connect(remote, &QAction::triggered, this, [this] { askForRemote({}); });
    QAction* brk = m_breakAction = makeAction("actionBreak", "Send Break", nullptr, ctrlShift(Qt::Key_B));
    connect(brk, &QAction::triggered, this, [this] { sendBreak(); });
    QAction* dtr = m_dtrAction = makeAction("actionDtr", "DTR", nullptr, ctrlShift(Qt::Key_D));
    dtr->setCheckable(true);
    connect(dtr, &QAction::triggered, this, [this](bool on) {
        m_control.SetDTRHolding(on);
        refresh();
    });
    QAction* rts = m_rtsAction = makeAction("actionRts", "RTS", nullptr, ctrlShift(Qt::Key_R));
    rts->setCheckable(true);
    connect(rts, &QAction::triggered, this, [this](bool on) {
        m_control.SetRTSEnable(on);
        refresh();
    });
    QAction* reopen = makeAction("actionReopen", "Reopen When the Device Returns", nullptr, {});
    reopen->setCheckable(true);
    reopen->setChecked(m_watch.reopen());
    connect(reopen, &QAction::toggled, this, [this](bool on) {
        m_watch.setReopen(on);
        refresh();
    });
    QAction* hex = makeAction("actionHex", "Hex", nullptr, ctrlShift(Qt::Key_H));
    hex->setCheckable(true);
    hex->setToolTip("Received bytes as a hex dump");
    connect(hex, &QAction::toggled, this, [this](bool on) { setHex(on); });
    QAction* stamps = makeAction("actionTimestamps", "Time Stamps", nullptr, ctrlShift(Qt::Key_T));
    stamps->setCheckable(true);
    stamps->setToolTip("The time before each received line");
    connect(stamps, &QAction::toggled, this, [this](bool on) { m_receiver.format().setTimestamps(on); });
    QAction* about = makeAction("actionAbout", "About qelterm", "help-about", {});
    connect(about, &QAction::triggered, this, [this] {
        QMessageBox::about(this, "About qelterm",
                           "<b>qelterm</b><p>A terminal on serial ports, local or remote (RFC 2217), with "
                           "XModem, YModem, ZModem and Kermit transfers and modem dialing, over the qelcomm6 "
                           "library.</p><p>Shortcuts take Ctrl+Shift, so that Ctrl with a letter reaches the "
                           "port as its control code.</p>");
    });
    QAction* aboutQt = makeAction("actionAboutQt", "About Qt", nullptr, {});
    connect(aboutQt, &QAction::triggered, qApp, &QApplication::aboutQt);

    QToolBar* bar = addToolBar("Toolbar");
    bar->setObjectName("toolbar");
    QAction* toolbarShown = bar->toggleViewAction();
    toolbarShown->setObjectName("actionToolbar");
    auto* statusShown = makeAction("actionStatusBar", "Status Bar", nullptr, {});
    statusShown->setCheckable(true);
    statusShown->setChecked(true);
    connect(statusShown, &QAction::toggled, statusBar(), &QWidget::setVisible);

    // The menu bar.
    QMenuBar* menus = menuBar();
    QMenu* file = menus->addMenu("&File");
    file->addActions({newProject, open, save, saveAs});
    file->addSeparator();
    file->addAction(log);
    file->addSeparator();
    file->addAction(quit);
    QMenu* edit = menus->addMenu("&Edit");
    edit->addActions({copy, paste});
    edit->addSeparator();
    edit->addActions({clear, clearBack});
    edit->addSeparator();
    edit->addActions({font, properties});
    QMenu* transfer = menus->addMenu("&Transfer");
    transfer->addActions({sendFile, receiveFile});
    QMenu* portMenu = menus->addMenu("&Port");
    portMenu->addActions({port, remote});
    portMenu->addSeparator();
    portMenu->addActions({connectPort, disconnect});
    portMenu->addSeparator();
    portMenu->addActions({brk, dtr, rts});
    portMenu->addSeparator();
    portMenu->addAction(reopen);
    QMenu* view = menus->addMenu("&View");
    view->addActions({hex, stamps});
    view->addSeparator();
    view->addActions({toolbarShown, statusShown});
    QMenu* help = menus->addMenu("&Help");
    help->addActions({about, aboutQt});

    // The toolbar and the context menu: the control's twelve commands as
    // it has them, the toolbar with the port choice first.
    bar->addAction(port);
    bar->addSeparator();
    const std::vector<std::vector<QAction*>> groups = {{newProject, open, save, saveAs}, {copy, paste},
                                                       {connectPort, disconnect}, {sendFile, receiveFile},
                                                       {properties, font}};
    m_view->setContextMenuPolicy(Qt::ActionsContextMenu);
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (g > 0) {
            bar->addSeparator();
            auto* separator = new QAction(this);
            separator->setSeparator(true);
            m_view->addAction(separator);
        }
        for (QAction* a : groups[g]) {
            bar->addAction(a);
            m_view->addAction(a);
        }
    }
}

void TermWindow::chooseLog(bool on)
{
    if (!on) {
        logTo({});
        return;
    }
    const QString suggested =
        QDir::home().filePath(QDateTime::currentDateTime().toString("'qelterm-'yyyyMMdd-HHmmss'.log'"));
    const QString file = QFileDialog::getSaveFileName(this, "Log to File", suggested, "Logs (*.log);;All Files (*)",
                                                      nullptr, QFileDialog::DontConfirmOverwrite);
    if (file.isEmpty()) {
        refresh();
        return;
    }
    if (!logTo(file))
        QMessageBox::warning(this, "Log to File", "The log file " + file + " cannot be written.");
}

}  // namespace qelterm
