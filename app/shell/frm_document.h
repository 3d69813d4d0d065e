// The session window: a view of one Session.  Every widget is bound to the
// session's field model of the same name (object names Combo2, Combo1_0 ..
// Combo1_5, TCPOption_0, Command1, StatusBar1_0, Shape1_1, ...): edits go
// into the model and run the session's reaction, and the session's changed
// callback brings the widgets up to date.  The window owns its session;
// closing it destroys the session without deactivating it.
#pragma once

#include "session.h"
#include "session_host.h"

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <array>
#include <memory>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace lintrel {

class SecurityBox;
class frmClients;
class frmMonitor;

class frmDocument : public QWidget, public SessionHost {
    Q_OBJECT
public:
    explicit frmDocument(QWidget* parent = nullptr);
    ~frmDocument() override;

    Session& session() { return *m_session; }

    // Brings every widget in line with the session's fields.
    void refresh();
    // The counters group, from the session's counters (twice a second on
    // its own while the window is shown).
    void refreshCounters();
    // The COM list's entries with what each number opens (when its list
    // opens, and when the session starts or stops).
    void relabelPorts();

    // The traffic monitor and the client table of this session, opened or
    // raised.
    frmMonitor* showMonitor();
    frmClients* showClients();

    // SessionHost
    void messageBox(const std::string& text, const std::string& title) override;
    void showServerOptions() override;
    void showClientOptions() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void build();
    void bind();

    std::unique_ptr<Session> m_session;
    QPointer<frmMonitor> m_monitor;
    QPointer<frmClients> m_clients;
    QTimer m_countersTimer;
    bool m_shownActive = false;
    std::array<QLabel*, 3> m_counts;   // serial, TCP, connections and errors
    QComboBox* Combo2;
    std::array<QComboBox*, 6> Combo1;
    QCheckBox* BufferSerData;
    QCheckBox* chkVPort;
    std::array<QRadioButton*, 2> TCPOption;
    QLabel* lblHost;
    QLineEdit* IPAddress;
    QComboBox* LocalIP;
    QLabel* lblPort;
    QLineEdit* PortNumber;
    QCheckBox* WaitForCr;
    QCheckBox* LowLatency;
    QCheckBox* Rfc2217;
    QLineEdit* txtTimeoutValue;
    std::array<QLabel*, 2> StatusBar1;
    std::array<QFrame*, 2> Shape1;
    std::array<int, 2> m_shownColor{-1, -1};
    QPushButton* Command1;
    QPushButton* Command2;
    QGroupBox* Frame1;
    QGroupBox* Frame2;
    SecurityBox* Security;
};

}  // namespace lintrel
