// The connected clients of a server session: address:port, connected
// since, bytes each way, and Disconnect.  Refreshed twice a second while
// open.
#pragma once

#include <QDialog>
#include <QTimer>

class QPushButton;
class QTableWidget;

namespace lintrel {

class Session;

class frmClients : public QDialog {
    Q_OBJECT
public:
    frmClients(Session& session, QWidget* parent = nullptr);

    // Reads the session's client list into the table now.
    void refresh();
    // Disconnects the client of the selected row.
    void disconnectSelected();
    QTableWidget* table() const { return m_table; }

private:
    Session& m_session;
    QTableWidget* m_table;
    QPushButton* m_disconnect;
    QTimer m_timer;
};

// "1,234,567" in the user's number format.
QString byteCountText(std::uint64_t n);

}  // namespace lintrel
