// Choosing the port when the one asked for did not open: what went wrong in
// words a user can act on, and a dialog to pick another COM name or device.
#pragma once

#include <QDialog>

#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace qelcomm::control { class CQelComm; }

namespace qelterm {

// "Cannot open COM1 (/dev/ttyS0): ..." with the likely cause: no such
// device, no permission (naming the device's group, usually dialout), or in
// use / not a serial port.
std::string openFailureText(const std::string& port);

// The serial devices worth offering: /dev/serial/by-id names, USB and ACM
// devices, this user's virtual ports, and COM1 to COM4.
QStringList offeredPorts();

// Opens the port a user chose (a COM name or a device path) with these
// settings, closing the one open now; empty on success, else what went
// wrong.  A ports map written for a device path is added to tempMaps.
std::string openChosenPort(qelcomm::control::CQelComm& control, const std::string& port,
                           const std::string& settings, std::vector<std::string>& tempMaps);

class PortDialog : public QDialog {
public:
    PortDialog(QWidget* parent, const QString& problem, const QString& port, const QString& settings);
    QString port() const;
    QString settings() const;

private:
    QLabel* m_problem;
    QComboBox* m_port;
    QLineEdit* m_settings;
};

// The remote port at host and TCP port, spoken to with RFC 2217 (Telnet
// COM port control): "rfc2217://host:port", an IPv6 address in brackets;
// empty for a host that cannot be one (empty, or with spaces or "/").
std::string remotePortName(const std::string& host, int tcpPort);

// "Connect to...": a serial port that a server (ser2net, a Lintrel
// session, ...) offers over the network with RFC 2217.
class RemoteDialog : public QDialog {
public:
    // current: the port open now; a remote one gives the host and TCP port
    // to start on.
    RemoteDialog(QWidget* parent, const QString& problem, const QString& current, const QString& settings);
    // The remote port's name; empty while the host is not a host.
    QString port() const;
    QString settings() const;

private:
    QLabel* m_problem;
    QLineEdit* m_host;
    QSpinBox* m_tcpPort;
    QLineEdit* m_settings;
};

}  // namespace qelterm
