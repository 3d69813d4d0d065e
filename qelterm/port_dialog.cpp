#include "port_dialog.h"

#include "port_name.h"
#include "qel_comm.h"
#include "serial/namespace.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QUrl>
#include <QVBoxLayout>

namespace qelterm {

std::string openFailureText(const std::string& port)
{
    const std::string device = serial::resolvePortName(port);
    std::string text = "Cannot open " + port;
    if (device != port)
        text += " (" + device + ")";
    if (isRemotePortName(device))
        return text + ": no remote port answered there. Check the host and the TCP port, or pick another port below.";
    const QFileInfo info(QString::fromStdString(device));
    if (!info.exists())
        return text + ": there is no such device. Pick another port below.";
    if (!info.isReadable() || !info.isWritable()) {
        const std::string group = info.group().toStdString();
        return text + ": permission denied. The device belongs to the group " +
               (group.empty() ? std::string("dialout") : group) +
               "; add yourself to it (sudo usermod -aG " + (group.empty() ? "dialout" : group) +
               " $USER) and log in again, or pick another port below.";
    }
    return text + ": another program holds it, or it is not a serial port.";
}

QStringList offeredPorts()
{
    QStringList ports;
    const QDir byId("/dev/serial/by-id");
    for (const QFileInfo& f : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        ports << f.absoluteFilePath();
    const QDir dev("/dev");
    for (const QFileInfo& f : dev.entryInfoList({"ttyUSB*", "ttyACM*"}, QDir::System | QDir::Files, QDir::Name))
        ports << f.absoluteFilePath();
    const QDir virtualPorts(QString::fromStdString(serial::portFolder()));
    for (const QString& name : virtualPorts.entryList({"COM*"}, QDir::System | QDir::Files, QDir::Name))
        if (!ports.contains(name))
            ports << name;
    for (int n = 1; n <= 4; ++n)
        if (!ports.contains(QString("COM%1").arg(n)))
            ports << QString("COM%1").arg(n);
    return ports;
}

std::string openChosenPort(qelcomm::control::CQelComm& control, const std::string& port,
                           const std::string& settings, std::vector<std::string>& tempMaps)
{
    const PortChoice choice = choosePort(port);
    if (!choice.number)
        return unusablePortText("\"" + port + "\"") + ".";
    if (!choice.tempMap.empty())
        tempMaps.push_back(choice.tempMap);
    if (control.PortOpen())
        control.SetPortOpen(false);
    control.SetCommPort(std::int16_t(choice.number));
    if (control.SetSettings(settings).code != 0)
        return "\"" + settings + "\" are not settings such as 9600,n,8,1.";
    control.SetPortOpen(true);
    return control.PortOpen() ? std::string() : openFailureText(port);
}

PortDialog::PortDialog(QWidget* parent, const QString& problem, const QString& port, const QString& settings)
    : QDialog(parent), m_problem(new QLabel(problem)), m_port(new QComboBox), m_settings(new QLineEdit(settings))
{
    setObjectName("PortDialog");
    setWindowTitle("Port");
    m_problem->setObjectName("problem");
    m_problem->setWordWrap(true);
    m_problem->setVisible(!problem.isEmpty());
    m_port->setObjectName("port");
    m_port->setEditable(true);
    m_port->addItems(offeredPorts());
    m_port->setEditText(port);
    m_port->setToolTip("A COM name (COM3), a device path (/dev/ttyUSB0) or a remote port (rfc2217://host:port)");
    m_settings->setObjectName("settings");
    m_settings->setToolTip("baud,parity,data bits,stop bits, as 115200,n,8,1");
    auto* form = new QFormLayout;
    form->addRow("Port or device:", m_port);
    form->addRow("Settings:", m_settings);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Open | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addWidget(m_problem);
    top->addLayout(form);
    top->addWidget(buttons);
    setMinimumWidth(420);
}

QString PortDialog::port() const { return m_port->currentText().trimmed(); }
QString PortDialog::settings() const { return m_settings->text().trimmed(); }

namespace {

constexpr int kRfc2217Port = 2217;   // ser2net's customary port for it
constexpr const char* kRemoteScheme = "rfc2217://";

}  // namespace

std::string remotePortName(const std::string& host, int tcpPort)
{
    if (host.empty() || tcpPort < 1 || tcpPort > 65535 || host.find_first_of(" \t/[]@") != std::string::npos)
        return {};
    const bool ipv6 = host.find(':') != std::string::npos;
    return kRemoteScheme + (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(tcpPort);
}

RemoteDialog::RemoteDialog(QWidget* parent, const QString& problem, const QString& current, const QString& settings)
    : QDialog(parent), m_problem(new QLabel(problem)), m_host(new QLineEdit), m_tcpPort(new QSpinBox),
      m_settings(new QLineEdit(settings))
{
    setObjectName("RemoteDialog");
    setWindowTitle("Connect To");
    m_problem->setObjectName("problem");
    m_problem->setWordWrap(true);
    m_problem->setVisible(!problem.isEmpty());
    m_host->setObjectName("host");
    m_host->setPlaceholderText("host name or address");
    m_tcpPort->setObjectName("tcpPort");
    m_tcpPort->setRange(1, 65535);
    m_tcpPort->setValue(kRfc2217Port);
    // Start on the remote port open now.
    const QUrl now(current);
    if (current.startsWith(kRemoteScheme) && now.isValid() && !now.host().isEmpty()) {
        m_host->setText(now.host());
        m_tcpPort->setValue(now.port(kRfc2217Port));
    }
    m_settings->setObjectName("settings");
    m_settings->setToolTip("baud,parity,data bits,stop bits, as 115200,n,8,1; the server sets its port to them");
    auto* note = new QLabel("A serial port offered over the network with RFC 2217 (Telnet COM port control), "
                            "by ser2net, a Lintrel session or another server.");
    note->setWordWrap(true);
    auto* form = new QFormLayout;
    form->addRow("Host:", m_host);
    form->addRow("TCP port:", m_tcpPort);
    form->addRow("Settings:", m_settings);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    QPushButton* connectButton = buttons->addButton("Connect", QDialogButtonBox::AcceptRole);
    connectButton->setObjectName("connect");
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if (!port().isEmpty())
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* top = new QVBoxLayout(this);
    top->addWidget(m_problem);
    top->addWidget(note);
    top->addLayout(form);
    top->addWidget(buttons);
    setMinimumWidth(420);
}

QString RemoteDialog::port() const
{
    return QString::fromStdString(remotePortName(m_host->text().trimmed().toStdString(), m_tcpPort->value()));
}

QString RemoteDialog::settings() const { return m_settings->text().trimmed(); }

}  // namespace qelterm
