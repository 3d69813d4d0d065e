// The main window: a multi-document frame holding one session window per
// session, with the File, Window, Tools and Help menus, the notification
// icon and its pop-up menu, start-up and shut-down, and the window
// placement kept in the per-user settings store.
#pragma once

#include "session_workspace.h"

#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QTimer>

#include <array>
#include <string>
#include <vector>

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;

namespace lintrel {

class frmDocument;

class frmMain : public QMainWindow, public SessionWorkspace {
    Q_OBJECT
public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // Start-up: program folder, file association, placement, the file
    // named on the command line (or the default file), the driver reset
    // when alone, the sessions saved as active, the notification icon.
    void Form_Load(const std::string& commandLine);
    // Shows the window in the state loading gave it.
    void showLoaded();

    // SessionWorkspace
    std::size_t sessionCount() const override { return m_documents.size(); }
    Session& session(std::size_t i) override;
    Session& NewSession() override;
    void closeAllSessions() override;
    int windowState() const override;
    void setWindowState(int state) override;

    frmDocument* document(std::size_t i) const { return m_documents.at(i); }
    // The session window in front (the last opened when none is active).
    frmDocument* activeDocument() const;

    // Menu actions.
    void mnuFileOpen_Click();
    void mnuFileClose_Click();
    void mnuFileSave_Click();
    void mnuFileSaveAs_Click();
    void mnuHelpContents_Click();
    void mnuHelpAbout_Click();
    // Pop-up menu of the notification icon.
    void mnuPopOpen_Click();
    void mnuPopExit_Click();

    // The 50 ms tick and the resize handler.
    void Timer2_Timer();
    void Form_Resize();
    // A mouse action over the notification icon.
    void trayCallback(QSystemTrayIcon::ActivationReason reason);

    const std::string& CurrentFile() const { return m_currentFile; }
    bool WasMinimized = false;
    bool TrayIconAdded = false;
    std::string EnteredPassword;
    QMenu* popupMenu() const { return mnuPopUp; }

    // Placement defaults in twips.
    static constexpr std::array<int, 4> kDefaultPlacement{1000, 1000, 7000, 5000};

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void buildMenus();
    void newLowLatencySession();
    void buildTray();
    void fillWindowMenu();
    void tile(bool horizontal);
    static void keepReachable(QMdiSubWindow* sub);
    void refusedFile(const std::string& file, const std::string& why);
    void arrangeIcons();
    bool passwordAccepted();
    void restorePlacement();
    void fitFirstSession();
    void savePlacement();
    double twipsPerPixel() const;

    QMdiArea* m_mdi;
    std::vector<frmDocument*> m_documents;   // opening order
    std::string m_currentFile;
    bool m_inResize = false;
    QTimer m_timer2;
    QSystemTrayIcon* m_tray = nullptr;
    QMenu* mnuPopUp = nullptr;
    QMenu* m_windowMenu = nullptr;
    QAction* m_closeAction = nullptr;
    std::vector<QAction*> m_windowListActions;
    // The placement as loaded, in twips and in pixels: an unmoved window
    // writes back the twips it was given, so pixel rounding never drifts.
    std::array<int, 4> m_loadedTwips{};
    std::array<int, 4> m_loadedPixels{};
    bool m_firstStart = false;   // no placement saved yet
};

}  // namespace lintrel
