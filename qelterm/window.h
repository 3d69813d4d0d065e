// qelterm's window mode: the terminal view on a port, the control's
// commands and a terminal's habits in a menu bar (shortcuts with
// Ctrl+Shift, so that Ctrl with a letter stays a control code for the
// port), a toolbar and a context menu, and a status bar with the port, its
// settings, its DTR and RTS lines and its state.
#pragma once

#include "command_ui.h"
#include "device_watch.h"
#include "options.h"
#include "receiver.h"

#include <QMainWindow>
#include <QTimer>

#include <string>
#include <vector>

class QAction;
class QLabel;

namespace qelcomm::control {
class CQelComm;
}
namespace qelcomm::terminal {
class TerminalView;
}

namespace qelterm {

class TermWindow : public QMainWindow {
public:
    // portName: the port as the user gave it (COM name, device path or
    // remote port), already set on the control.
    TermWindow(qelcomm::control::CQelComm& control, std::string portName);
    ~TermWindow() override;

    // Asks for a port (or a remote port) until one opens or the user gives
    // up; problem says why the last one did not open.
    void askForPort(std::string problem);
    void askForRemote(std::string problem);

    // The window as it was last closed (else just big enough for the
    // screen), centred on its screen.
    void place(bool lastSize);

    // Starts logging what the screen receives (text as shown, without
    // escape sequences) to file, appended; false when it cannot be written.
    // An empty name ends the log.
    bool logTo(const QString& file);

    // Port, settings and state in the title and status bar, now.
    void refresh();

    qelcomm::terminal::TerminalView* view() const { return m_view; }
    Receiver& receiver() { return m_receiver; }
    DeviceWatch& deviceWatch() { return m_watch; }
    // The state word of the title: Connected, Disconnected, Device gone.
    std::string state() const;

protected:
    void closeEvent(QCloseEvent* e) override;

private:
    void buildActions();   // window_menus.cpp
    QAction* makeAction(const char* objectName, const QString& text, const char* icon, const QKeySequence& keys);
    void run(std::int32_t command);
    // Asks with the dialogs makeDialog(problem, port) makes until a port
    // opens or the user gives up.
    template <class MakeDialog>
    void choosePortWith(std::string problem, MakeDialog makeDialog);
    void deviceChanged(bool gone);
    // A line of the window's own on the screen, between received lines.
    void notice(const std::string& text);
    void setHex(bool on);
    void chooseLog(bool on);
    void sendBreak();
    void clearScrollBack();
    // The port's name for the title and status bar.
    std::string portText();

    qelcomm::control::CQelComm& m_control;
    qelcomm::terminal::TerminalView* m_view;
    CommandDialogs m_dialogs;
    Receiver m_receiver;
    DeviceWatch m_watch;
    QLabel* m_port;
    QLabel* m_settings;
    QLabel* m_lines;
    QLabel* m_state;
    QLabel* m_log;
    QLabel* m_dial;
    QAction* m_dtrAction = nullptr;
    QAction* m_rtsAction = nullptr;
    QAction* m_logAction = nullptr;
    QAction* m_breakAction = nullptr;
    QTimer m_timer;
    std::string m_portName;                 // as the user gave it
    int m_portNumber = 0;                   // the COM number it has
    bool m_gone = false;                    // the device went away and did not come back yet
    std::string m_label, m_labelName;       // portText() and what it was made for
    int m_labelNumber = -1;
    std::vector<std::string> m_tempMaps;    // ports maps written for device paths
};

// The terminal as the options want it: emulation, character set, colours,
// a scroll-back, and a screen of fixed size or one following the window.
void setUpTerminal(qelcomm::control::CQelComm& control, const Options& o);

// Opens the port, shows the window and runs until it closes; the exit code.
int runWindow(const Options& o);

}  // namespace qelterm
