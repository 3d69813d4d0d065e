#include "frm_main.h"

#include "config_file.h"
#include "frm_about.h"
#include "frm_document.h"
#include "frm_ports.h"
#include "global_options.h"
#include "registration.h"
#include "shell_dialogs.h"
#include "shell_tools.h"
#include "startup.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSettings>
#include <QIcon>

#include <cmath>

namespace lintrel {
namespace {

const char* const kPlacementKeys[4] = {"MainLeft", "MainTop", "MainWidth", "MainHeight"};

QSettings placementStore()
{
    return QSettings("Lintrel", "Lintrel");
}

// The program icon from its PNG renderings, which need no SVG support, and
// the SVG for sizes in between when the SVG plug-in is there.
QIcon programIcon()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QString(":/lintrel/hicolor/%1x%1/apps/lintrel.png").arg(size), QSize(size, size));
    icon.addFile(":/lintrel/lintrel.svg");
    return icon;
}

}  // namespace

frmMain::frmMain(QWidget* parent) : QMainWindow(parent)
{
    setObjectName("frmMain");
    setWindowTitle("Lintrel");
    setWindowIcon(programIcon());
    m_mdi = new QMdiArea;
    m_mdi->setObjectName("mdiArea");
    // Scroll bars let the frame be smaller than its session windows.
    m_mdi->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_mdi->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setCentralWidget(m_mdi);
    buildMenus();
    m_timer2.setInterval(50);
    connect(&m_timer2, &QTimer::timeout, this, &frmMain::Timer2_Timer);
    m_timer2.start();
}

frmMain::~frmMain()
{
    closeAllSessions();
}

void frmMain::buildMenus()
{
    QMenu* file = menuBar()->addMenu("&File");
    file->setObjectName("mnuFile");
    auto add = [this](QMenu* menu, const char* name, const QString& caption, auto slot,
                      QKeySequence keys = {}) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(name);
        a->setShortcut(keys);
        connect(a, &QAction::triggered, this, slot);
        return a;
    };
    add(file, "mnuFileNew", "&New", [this] { newLowLatencySession(); }, QKeySequence("Ctrl+N"));
    add(file, "mnuFileOpen", "&Open", &frmMain::mnuFileOpen_Click, QKeySequence("Ctrl+O"));
    m_closeAction = add(file, "mnuFileClose", "&Close", &frmMain::mnuFileClose_Click);
    file->addSeparator();
    add(file, "mnuFileSave", "&Save", &frmMain::mnuFileSave_Click, QKeySequence("Ctrl+S"));
    add(file, "mnuFileSaveAs", "Save &As...", &frmMain::mnuFileSaveAs_Click);
    file->addSeparator();
    add(file, "mnuFileOptions", "&Options...", [this] { showOptionsDialog(this); });
    add(file, "mnuFilePassword", "Password...", [this] { showSetPasswordDialog(this); });
    file->addSeparator();
    add(file, "mnuFileExit", "E&xit", [this] { close(); });
    connect(file, &QMenu::aboutToShow, this,
            [this] { m_closeAction->setEnabled(!m_documents.empty()); });

    m_windowMenu = menuBar()->addMenu("&Window");
    m_windowMenu->setObjectName("mnuWindow");
    add(m_windowMenu, "mnuWindowCascade", "&Cascade", [this] { m_mdi->cascadeSubWindows(); });
    add(m_windowMenu, "mnuWindowTileHorizontal", "Tile &Horizontal", [this] { tile(true); });
    add(m_windowMenu, "mnuWindowTileVertical", "Tile &Vertical", [this] { tile(false); });
    add(m_windowMenu, "mnuWindowArrangeIcons", "&Arrange Icons", [this] { arrangeIcons(); });
    connect(m_windowMenu, &QMenu::aboutToShow, this, &frmMain::fillWindowMenu);

    QMenu* tools = menuBar()->addMenu("&Tools");
    tools->setObjectName("mnuTools");
    add(tools, "mnuToolsPing", "&Ping IP Address...", [this] { showPingTool(this); });
    add(tools, "mnuToolsResolve", "&Resolve IP Address from Host Name...",
        [this] { showResolveTool(this); });
    tools->addSeparator();
    QAction* monitor = add(tools, "mnuToolsMonitor", "Traffic &Monitor...", [this] {
        if (frmDocument* doc = activeDocument())
            doc->showMonitor();
    }, QKeySequence("Ctrl+M"));
    add(tools, "mnuToolsPorts", "Serial P&orts...", [this] {
        frmPorts dialog(this);
        dialog.exec();
        for (frmDocument* doc : m_documents)
            doc->relabelPorts();
    });
    connect(tools, &QMenu::aboutToShow, this, [this, monitor] { monitor->setEnabled(activeDocument()); });

    QMenu* help = menuBar()->addMenu("&Help");
    help->setObjectName("mnuHelp");
    add(help, "mnuHelpContents", "&Contents", &frmMain::mnuHelpContents_Click);
    add(help, "mnuHelpSearch", "&Search For Help On...", &frmMain::mnuHelpContents_Click);
    help->addSeparator();
    add(help, "mnuHelpWeb", "Velmora on the &Web", [] { openMakerWebPage(); });
    help->addSeparator();
    add(help, "mnuHelpAbout", "&About Lintrel...", &frmMain::mnuHelpAbout_Click);

    mnuPopUp = new QMenu(this);
    mnuPopUp->setObjectName("mnuPopUp");
    add(mnuPopUp, "mnuPopOpen", "&Open Lintrel", &frmMain::mnuPopOpen_Click);
    QAction* hide = add(mnuPopUp, "mnuPopHide", "&Hide Lintrel", [this] { setVisible(false); });
    hide->setVisible(false);
    add(mnuPopUp, "mnuPopExit", "E&xit Lintrel", &frmMain::mnuPopExit_Click);
    mnuPopUp->addSeparator();
    QAction* about = add(mnuPopUp, "mnuPopAbout", "&About Lintrel", &frmMain::mnuHelpAbout_Click);
    mnuPopUp->setDefaultAction(about);
}

void frmMain::buildTray()
{
    TrayIconAdded = false;
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    m_tray = new QSystemTrayIcon(windowIcon(), this);
    m_tray->setToolTip("Lintrel");
    connect(m_tray, &QSystemTrayIcon::activated, this, &frmMain::trayCallback);
    m_tray->show();
    TrayIconAdded = m_tray->isVisible();
}

void frmMain::Form_Load(const std::string& commandLine)
{
    const std::string file = commandLineFile(commandLine);
    takeRunOnceStart();
    enterProgramFolder();
    EnsureFileAssociation("Lintrel.Configuration", ".qcf");
    restorePlacement();
    AutoActivateFlags.assign(2, 0);
    const std::string why = getprofilesettings(*this, file);
    resetVirtualPortsIfAlone(*this);
    activateFlaggedSessions();
    buildTray();
    if (!why.empty())
        refusedFile(file.empty() ? defaultConfigFile() : file, why);
}

// A file the configuration reader refuses is named with the reason; it is
// not written to later either, so nothing of it is lost.
void frmMain::refusedFile(const std::string& file, const std::string& why)
{
    showMessage(this, QString::fromStdString("Cannot use " + file + ": " + why + "."), windowTitle(),
                ShellDialogs::Icon::Critical);
}

// A session window larger than the frame is placed partly off its left or
// top edge; keep its top left corner in view.
void frmMain::keepReachable(QMdiSubWindow* sub)
{
    sub->move(std::max(0, sub->x()), std::max(0, sub->y()));
}

void frmMain::showLoaded()
{
    show();   // places the session windows created while hidden
    for (QMdiSubWindow* sub : m_mdi->subWindowList())
        keepReachable(sub);
    if (m_firstStart)
        fitFirstSession();
    Form_Resize();
}

// The default placement is smaller than one session window; on a first
// start (nothing saved yet) the frame grows, where it stands, until the
// first session window fits whole, within the screen.
void frmMain::fitFirstSession()
{
    const QList<QMdiSubWindow*> subs = m_mdi->subWindowList(QMdiArea::CreationOrder);
    if (subs.isEmpty() || isMinimized() || isMaximized())
        return;
    QMdiSubWindow* first = subs.first();
    const QSize sub = first->size().expandedTo(first->sizeHint());
    // The frame's own parts, from their hints: before the first resize
    // event the widgets' sizes still are those of the hidden window.
    const int border = 2 * m_mdi->frameWidth();
    const QSize frameExtra(border, border + menuBar()->sizeHint().height());
    QSize wanted = (sub + QSize(first->x(), first->y()) + frameExtra).expandedTo(size());
    if (const QScreen* s = screen())
        wanted = wanted.boundedTo(s->availableGeometry().size());
    resize(wanted);
}

Session& frmMain::session(std::size_t i)
{
    return m_documents.at(i)->session();
}

// A session the user creates forwards at once; one loaded from a file
// keeps what the file says (off when it says nothing).
void frmMain::newLowLatencySession()
{
    Session& s = NewSession();
    s.LowLatency.checked = true;
    m_documents.back()->refresh();
}

Session& frmMain::NewSession()
{
    auto* doc = new frmDocument;
    doc->session().Caption = kNewCaption;
    QMdiSubWindow* sub = m_mdi->addSubWindow(doc);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    doc->refresh();
    m_documents.push_back(doc);
    connect(doc, &QObject::destroyed, this, [this, doc] {
        std::erase(m_documents, doc);
    });
    sub->show();
    keepReachable(sub);
    return doc->session();
}

void frmMain::closeAllSessions()
{
    // At once, not later: a new session may open the same port next.
    while (!m_documents.empty()) {
        frmDocument* doc = m_documents.back();
        m_documents.pop_back();
        QWidget* sub = doc->parentWidget();
        delete (sub ? sub : static_cast<QWidget*>(doc));
    }
}

int frmMain::windowState() const
{
    const Qt::WindowStates s = QMainWindow::windowState();
    if (s & Qt::WindowMinimized)
        return kStateMinimized;
    if (s & Qt::WindowMaximized)
        return kStateMaximized;
    return kStateNormal;
}

void frmMain::setWindowState(int state)
{
    switch (state) {
    case kStateMinimized: QMainWindow::setWindowState(Qt::WindowMinimized); break;
    case kStateMaximized: QMainWindow::setWindowState(Qt::WindowMaximized); break;
    default: QMainWindow::setWindowState(Qt::WindowNoState); break;
    }
}

void frmMain::mnuFileOpen_Click()
{
    const QString name = shellDialogs().configFile(this, false);
    if (name.isEmpty())
        return;
    m_currentFile = name.toStdString();
    if (const std::string why = getprofilesettings(*this, m_currentFile); !why.empty())
        refusedFile(m_currentFile, why);
}

frmDocument* frmMain::activeDocument() const
{
    QMdiSubWindow* sub = m_mdi->activeSubWindow();
    if (!sub && !m_documents.empty())
        return m_documents.back();
    return sub ? qobject_cast<frmDocument*>(sub->widget()) : nullptr;
}

void frmMain::mnuFileClose_Click()
{
    if (QMdiSubWindow* sub = m_mdi->activeSubWindow())
        sub->close();
}

void frmMain::mnuFileSave_Click()
{
    if (m_currentFile.empty())
        mnuFileSaveAs_Click();
    else if (const std::string why = writeprofilesettings(*this, m_currentFile); !why.empty())
        refusedFile(m_currentFile, why);
}

void frmMain::mnuFileSaveAs_Click()
{
    const QString name = shellDialogs().configFile(this, true);
    if (name.isEmpty())
        return;
    m_currentFile = name.toStdString();
    if (const std::string why = writeprofilesettings(*this, m_currentFile); !why.empty())
        refusedFile(m_currentFile, why);
}

void frmMain::mnuHelpContents_Click()
{
    // No help file ships with this program.
    showMessage(this, "Unable to display Help Contents. There is no Help associated with this project.",
                windowTitle());
}

void frmMain::mnuHelpAbout_Click()
{
    frmAbout about(this);
    about.exec();
}

void frmMain::fillWindowMenu()
{
    for (QAction* a : m_windowListActions)
        delete a;
    m_windowListActions.clear();
    const auto subs = m_mdi->subWindowList(QMdiArea::CreationOrder);
    if (!subs.isEmpty())
        m_windowListActions.push_back(m_windowMenu->addSeparator());
    int n = 0;
    for (QMdiSubWindow* sub : subs) {
        QAction* a = m_windowMenu->addAction(QString("&%1 %2").arg(++n).arg(sub->windowTitle()));
        a->setCheckable(true);
        a->setChecked(sub == m_mdi->activeSubWindow());
        connect(a, &QAction::triggered, this, [this, sub] { m_mdi->setActiveSubWindow(sub); });
        m_windowListActions.push_back(a);
    }
}

// Horizontal tiling stacks the windows one above the other, each as wide as
// the frame; vertical tiling sets them side by side.
void frmMain::tile(bool horizontal)
{
    QList<QMdiSubWindow*> subs;
    for (QMdiSubWindow* sub : m_mdi->subWindowList(QMdiArea::CreationOrder))
        if (!sub->isMinimized())
            subs.push_back(sub);
    if (subs.isEmpty())
        return;
    const QRect area = m_mdi->viewport()->rect();
    const int n = int(subs.size());
    for (int i = 0; i < n; ++i) {
        subs[i]->showNormal();
        if (horizontal) {
            const int h = area.height() / n;
            subs[i]->setGeometry(0, i * h, area.width(), h);
        } else {
            const int w = area.width() / n;
            subs[i]->setGeometry(i * w, 0, w, area.height());
        }
    }
}

void frmMain::arrangeIcons()
{
    const QRect area = m_mdi->viewport()->rect();
    int x = 0;
    for (QMdiSubWindow* sub : m_mdi->subWindowList(QMdiArea::CreationOrder)) {
        if (!sub->isMinimized())
            continue;
        sub->move(x, area.height() - sub->height());
        x += sub->width();
    }
}

void frmMain::Timer2_Timer()
{
    WasMinimized = isMinimized();
}

bool frmMain::passwordAccepted()
{
    const std::string& password = GlobalOptions.Password;
    if (password.empty())
        return true;
    EnteredPassword.clear();
    EnteredPassword = shellDialogs().enterPassword(this).toStdString();
    if (EnteredPassword == password)
        return true;
    if (!EnteredPassword.empty())
        showMessage(this, "Invalid password", windowTitle());
    return false;
}

void frmMain::Form_Resize()
{
    if (m_inResize)
        return;
    m_inResize = true;
    if (WasMinimized) {
        if (GlobalOptions.Password.empty()) {
            m_inResize = false;
            return;
        }
        hide();
        if (passwordAccepted()) {
            // A window first shown minimized keeps "start iconic" among its
            // window-manager hints, and mapping it again after hide() would
            // minimize it once more: passing through the minimized state
            // while hidden writes the hints afresh, ending at normal.
            setWindowState(kStateMinimized);
            setWindowState(kStateNormal);
        } else {
            WasMinimized = false;
            setWindowState(kStateMinimized);
        }
        show();
    }
    WasMinimized = false;
    if (TrayIconAdded && isMinimized())
        hide();
    m_inResize = false;
}

void frmMain::changeEvent(QEvent* event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange)
        Form_Resize();
}

void frmMain::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void frmMain::trayCallback(QSystemTrayIcon::ActivationReason reason)
{
    if (!isMinimized())
        return;
    if (reason == QSystemTrayIcon::DoubleClick) {
        auto* about = new frmAbout(this);
        about->setAttribute(Qt::WA_DeleteOnClose);
        about->show();
    } else if (reason == QSystemTrayIcon::Context) {
        mnuPopUp->popup(QCursor::pos());
    }
}

void frmMain::mnuPopOpen_Click()
{
    if (!isMinimized()) {
        show();
        raise();
        activateWindow();
        return;
    }
    setWindowState(kStateNormal);   // runs the resize handler and its password check
    // A refused password leaves the window minimized: in the notification
    // area it then stays hidden.
    if (!isMinimized())
        show();
}

void frmMain::mnuPopExit_Click()
{
    if (passwordAccepted())
        close();
}

void frmMain::closeEvent(QCloseEvent* event)
{
    writeprofilesettings(*this, std::string());
    closeAllSessions();
    if (!isMinimized())
        savePlacement();
    if (TrayIconAdded && m_tray)
        m_tray->hide();
    TrayIconAdded = false;
    m_timer2.stop();
    event->accept();
    // Closing the main window ends the program, also when it was hidden in
    // the notification area (it is then not the last visible window).
    QCoreApplication::quit();
}

double frmMain::twipsPerPixel() const
{
    const int dpi = logicalDpiX();
    return 1440.0 / (dpi > 0 ? dpi : 96);
}

void frmMain::restorePlacement()
{
    QSettings store = placementStore();
    store.beginGroup("Settings");
    const double tpp = twipsPerPixel();
    m_firstStart = !store.contains(kPlacementKeys[2]) && !store.contains(kPlacementKeys[3]);
    for (std::size_t k = 0; k < 4; ++k) {
        bool ok = false;
        int v = store.value(kPlacementKeys[k]).toString().toInt(&ok);
        if (!ok)
            v = kDefaultPlacement[k];
        m_loadedTwips[k] = v;
        m_loadedPixels[k] = int(std::lround(v / tpp));
    }
    move(m_loadedPixels[0], m_loadedPixels[1]);
    resize(std::max(m_loadedPixels[2], 1), std::max(m_loadedPixels[3], 1));
}

void frmMain::savePlacement()
{
    const std::array<int, 4> pixels{x(), y(), width(), height()};
    QSettings store = placementStore();
    store.beginGroup("Settings");
    const double tpp = twipsPerPixel();
    for (std::size_t k = 0; k < 4; ++k) {
        const int twips = pixels[k] == m_loadedPixels[k] ? m_loadedTwips[k]
                                                         : int(std::lround(pixels[k] * tpp));
        store.setValue(kPlacementKeys[k], QString::number(twips));
    }
}

}  // namespace lintrel
