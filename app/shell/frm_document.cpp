#include "frm_document.h"

#include "frm_clients.h"
#include "frm_monitor.h"
#include "port_list.h"
#include "security_box.h"
#include "shell_dialogs.h"
#include "shell_tools.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace lintrel {
namespace {

template <typename W>
W* named(W* w, const char* name)
{
    w->setObjectName(name);
    return w;
}

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

void syncEnabledVisible(QWidget* w, const Field& f)
{
    if (w->isEnabled() != f.enabled)
        w->setEnabled(f.enabled);
    // isHidden: the widget's own flag, independent of its parents being shown.
    if (w->isHidden() == f.visible)
        w->setVisible(f.visible);
}

void syncList(QComboBox* box, const ListField& f)
{
    if (box->count() != int(f.items.size())) {
        QSignalBlocker block(box);
        box->clear();
        for (const std::string& item : f.items)
            box->addItem(qs(item));
    }
    if (box->currentIndex() != f.index) {
        QSignalBlocker block(box);
        box->setCurrentIndex(f.index);
    }
    syncEnabledVisible(box, f);
}

void syncCheck(QCheckBox* box, const CheckField& f)
{
    if (box->isChecked() != f.checked) {
        QSignalBlocker block(box);
        box->setChecked(f.checked);
    }
    syncEnabledVisible(box, f);
}

void syncText(QLineEdit* edit, const TextField& f)
{
    if (edit->text() != qs(f.text)) {
        QSignalBlocker block(edit);
        edit->setText(qs(f.text));
    }
    syncEnabledVisible(edit, f);
}

template <typename W>
void syncCaption(W* w, const std::string& text)
{
    if (w->text() != qs(text))
        w->setText(qs(text));
}

// Indicator colours are kept in the Windows encoding 0x00BBGGRR.
QColor fromWindowsColor(int c)
{
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

}  // namespace

frmDocument::frmDocument(QWidget* parent) : QWidget(parent)
{
    setObjectName("frmDocument");
    setAttribute(Qt::WA_DeleteOnClose);
    m_session = std::make_unique<Session>(this);
    build();
    bind();
    m_session->changed = [this] { refresh(); };
    refresh();
    relabelPorts();
    m_countersTimer.setInterval(500);
    connect(&m_countersTimer, &QTimer::timeout, this, [this] {
        if (isVisible())
            refreshCounters();
    });
    m_countersTimer.start();
}

frmDocument::~frmDocument()
{
    // The monitor and the client table work on the session: they go first.
    delete m_monitor.data();
    delete m_clients.data();
    // The session may still call back while its components go down.
    m_session->changed = nullptr;
}

void frmDocument::build()
{
    Session& s = *m_session;

    Frame1 = named(new QGroupBox("Serial Port"), "Frame1");
    auto* serial = new QFormLayout(Frame1);
    // The COM list says what each number opens, asked again as it opens.
    class PortCombo : public QComboBox {
    public:
        explicit PortCombo(frmDocument* doc) : m_doc(doc) {}
        void showPopup() override
        {
            m_doc->relabelPorts();
            QComboBox::showPopup();
        }

    private:
        frmDocument* m_doc;
    };
    Combo2 = named(new PortCombo(this), "Combo2");
    Combo2->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    Combo2->setMinimumContentsLength(10);
    serial->addRow("COM Port:", Combo2);
    static const char* const names[6] = {"Combo1_0", "Combo1_1", "Combo1_2",
                                         "Combo1_3", "Combo1_4", "Combo1_5"};
    static const char* const labels[6] = {"Baud Rate:", "Parity:", "Data Bits:",
                                          "Stop Bits:", "Flow Control:", "Buffer Size:"};
    for (std::size_t k = 0; k < 6; ++k) {
        Combo1[k] = named(new QComboBox, names[k]);
        serial->addRow(labels[k], Combo1[k]);
    }
    chkVPort = named(new QCheckBox(qs(s.chkVPort.caption)), "chkVPort");
    BufferSerData = named(new QCheckBox(qs(s.BufferSerData.caption)), "BufferSerData");
    serial->addRow(chkVPort);
    serial->addRow(BufferSerData);
    LowLatency = named(new QCheckBox(qs(s.LowLatency.caption)), "LowLatency");
    LowLatency->setToolTip("Bytes cross the session as soon as they arrive, instead of at the next "
                           "50 ms tick; an idle session then costs next to nothing");
    serial->addRow(LowLatency);

    Frame2 = named(new QGroupBox("TCP/IP"), "Frame2");
    Frame2->setToolTip("Double-click to list the connected clients (server role)");
    auto* tcp = new QFormLayout(Frame2);
    TCPOption[0] = named(new QRadioButton(qs(s.TCPOption[0].caption)), "TCPOption_0");
    TCPOption[1] = named(new QRadioButton(qs(s.TCPOption[1].caption)), "TCPOption_1");
    tcp->addRow(TCPOption[0]);
    tcp->addRow(TCPOption[1]);
    // The remote host field and the local address list share one row:
    // the role shows one of them.
    auto* hostBox = new QWidget;
    auto* hostRow = new QHBoxLayout(hostBox);
    hostRow->setContentsMargins(0, 0, 0, 0);
    IPAddress = named(new QLineEdit, "IPAddress");
    LocalIP = named(new QComboBox, "LocalIP");
    hostRow->addWidget(IPAddress);
    hostRow->addWidget(LocalIP);
    lblHost = named(new QLabel, "lblHost");
    tcp->addRow(lblHost, hostBox);
    lblPort = named(new QLabel, "lblPort");
    PortNumber = named(new QLineEdit, "PortNumber");
    tcp->addRow(lblPort, PortNumber);
    WaitForCr = named(new QCheckBox(qs(s.WaitForCr.caption)), "WaitForCr");
    tcp->addRow(WaitForCr);
    txtTimeoutValue = named(new QLineEdit, "txtTimeoutValue");
    tcp->addRow("Timeout value (ms):", txtTimeoutValue);
    Rfc2217 = named(new QCheckBox(qs(s.Rfc2217.caption)), "Rfc2217");
    Rfc2217->setToolTip("Telnet with the serial port's settings and signals (ser2net, pyserial's rfc2217:// "
                        "URLs): clients set this port, or, as a client, this port sets the remote one");
    tcp->addRow(Rfc2217);

    auto* status = new QGroupBox("Status");
    auto* statusRows = new QFormLayout(status);
    static const char* const statusNames[2] = {"StatusBar1_0", "StatusBar1_1"};
    static const char* const shapeNames[2] = {"Shape1_0", "Shape1_1"};
    for (std::size_t k = 0; k < 2; ++k) {
        Shape1[k] = named(new QFrame, shapeNames[k]);
        Shape1[k]->setFixedSize(14, 14);
        Shape1[k]->setFrameShape(QFrame::Box);
        Shape1[k]->setAutoFillBackground(true);
        StatusBar1[k] = named(new QLabel, statusNames[k]);
        StatusBar1[k]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        StatusBar1[k]->setWordWrap(true);  // a TLS refusal tells its reason at length
        statusRows->addRow(Shape1[k], StatusBar1[k]);
    }

    // What crossed since activation, and the ways to see more of it.
    auto* traffic = named(new QGroupBox("Traffic"), "Frame3");
    auto* trafficRows = new QGridLayout(traffic);
    static const char* const countNames[3] = {"lblSerialCounts", "lblTcpCounts", "lblConnectionCounts"};
    static const char* const countTitles[3] = {"Serial:", "TCP/IP:", "Clients:"};
    for (std::size_t k = 0; k < 3; ++k) {
        m_counts[k] = named(new QLabel, countNames[k]);
        m_counts[k]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        trafficRows->addWidget(new QLabel(countTitles[k]), int(k), 0);
        trafficRows->addWidget(m_counts[k], int(k), 1, 1, k == 2 ? 2 : 1);
    }
    m_counts[2]->setWordWrap(true);  // the client counts grow; the column is narrow
    m_counts[0]->setToolTip("Bytes read from the device and written to it since activation");
    m_counts[1]->setToolTip("Bytes taken from the TCP peers and handed to them (once for each peer)");
    auto* clientsButton = named(new QPushButton("C&lients..."), "cmdClients");
    clientsButton->setToolTip("The connected clients, with their bytes and a Disconnect");
    auto* monitorButton = named(new QPushButton("&Monitor..."), "cmdMonitor");
    monitorButton->setToolTip("Every chunk that crosses this session, in hex and text");
    trafficRows->addWidget(clientsButton, 0, 2);
    trafficRows->addWidget(monitorButton, 1, 2);
    trafficRows->setColumnStretch(1, 1);
    connect(clientsButton, &QPushButton::clicked, this, [this] { showClients(); });
    connect(monitorButton, &QPushButton::clicked, this, [this] { showMonitor(); });

    Command1 = named(new QPushButton, "Command1");
    Command2 = named(new QPushButton, "Command2");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command2);
    buttons->addWidget(Command1);

    auto* columns = new QHBoxLayout;
    columns->addWidget(Frame1);
    columns->addWidget(Frame2);
    // Security beside status and traffic: stacked, the window would not
    // fit a 768-pixel screen.
    Security = new SecurityBox(s.Security);
    auto* state = new QVBoxLayout;
    state->addWidget(status);
    state->addWidget(traffic);
    state->addStretch();
    auto* lower = new QHBoxLayout;
    lower->addWidget(Security, 3);
    lower->addLayout(state, 2);
    auto* top = new QVBoxLayout(this);
    top->addLayout(columns);
    top->addLayout(lower);
    top->addLayout(buttons);
}

void frmDocument::bind()
{
    Session& s = *m_session;
    auto list = [this](QComboBox* box, ListField& f) {
        connect(box, &QComboBox::currentIndexChanged, this, [&f](int i) { f.index = i; });
    };
    list(Combo2, s.Combo2);
    for (std::size_t k = 0; k < 6; ++k)
        list(Combo1[k], s.Combo1[k]);
    list(LocalIP, s.LocalIP);
    auto check = [this](QCheckBox* box, CheckField& f) {
        connect(box, &QCheckBox::toggled, this, [&f](bool on) { f.checked = on; });
    };
    check(chkVPort, s.chkVPort);
    check(BufferSerData, s.BufferSerData);
    check(WaitForCr, s.WaitForCr);
    check(LowLatency, s.LowLatency);
    check(Rfc2217, s.Rfc2217);
    connect(IPAddress, &QLineEdit::textEdited, this,
            [&s](const QString& t) { s.IPAddress.text = t.toStdString(); });
    connect(txtTimeoutValue, &QLineEdit::textEdited, this,
            [&s](const QString& t) { s.txtTimeoutValue.text = t.toStdString(); });
    connect(PortNumber, &QLineEdit::textEdited, this, [&s](const QString& t) {
        s.PortNumber.text = t.toStdString();
        s.PortNumber_Change();
    });
    for (int k = 0; k < 2; ++k)
        connect(TCPOption[std::size_t(k)], &QRadioButton::clicked, this,
                [&s, k] { s.TCPOption_Click(k); });
    connect(Command1, &QPushButton::clicked, this, [&s] { s.Command1_Click(); });
    connect(Command2, &QPushButton::clicked, this, [&s] { s.Command2_Click(); });
    Frame2->installEventFilter(this);
}

bool frmDocument::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Frame2 && event->type() == QEvent::MouseButtonDblClick) {
        // The client table in place of the message box, in the server role.
        if (!m_session->TCPOption[0].value)
            showClients();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void frmDocument::refresh()
{
    const Session& s = *m_session;
    syncList(Combo2, s.Combo2);
    for (std::size_t k = 0; k < 6; ++k)
        syncList(Combo1[k], s.Combo1[k]);
    syncList(LocalIP, s.LocalIP);
    syncCheck(chkVPort, s.chkVPort);
    syncCheck(BufferSerData, s.BufferSerData);
    syncCheck(WaitForCr, s.WaitForCr);
    syncCheck(LowLatency, s.LowLatency);
    syncCheck(Rfc2217, s.Rfc2217);
    for (std::size_t k = 0; k < 2; ++k) {
        if (TCPOption[k]->isChecked() != s.TCPOption[k].value) {
            QSignalBlocker block(TCPOption[k]);
            TCPOption[k]->setChecked(s.TCPOption[k].value);
        }
        syncEnabledVisible(TCPOption[k], s.TCPOption[k]);
    }
    syncText(IPAddress, s.IPAddress);
    syncText(PortNumber, s.PortNumber);
    syncText(txtTimeoutValue, s.txtTimeoutValue);
    syncCaption(lblHost, s.lblHost.text);
    syncCaption(lblPort, s.lblPort.text);
    for (std::size_t k = 0; k < 2; ++k) {
        syncCaption(StatusBar1[k], s.StatusBar1[k].text);
        if (m_shownColor[k] != s.Shape1[k].fillColor) {
            m_shownColor[k] = s.Shape1[k].fillColor;
            QPalette p = Shape1[k]->palette();
            p.setColor(QPalette::Window, fromWindowsColor(m_shownColor[k]));
            Shape1[k]->setPalette(p);
        }
    }
    // A user needs the path to open the virtual port from another program.
    const std::string path = s.virtualPortPath();
    const QString tip = path.empty() ? QString() : "Programs open this port as " + qs(path);
    if (StatusBar1[0]->toolTip() != tip)
        StatusBar1[0]->setToolTip(tip);
    Security->refresh();
    syncCaption(Command1, s.Command1.text);
    syncEnabledVisible(Command1, s.Command1);
    syncCaption(Command2, s.Command2.text);
    syncEnabledVisible(Command2, s.Command2);
    if (windowTitle() != qs(s.Caption)) {
        setWindowTitle(qs(s.Caption));
        if (parentWidget())
            parentWidget()->setWindowTitle(qs(s.Caption));
        if (m_monitor)
            m_monitor->setCaption(qs(s.Caption));
    }
    // A virtual port comes and goes with activation.
    if (m_shownActive != s.isActive()) {
        m_shownActive = s.isActive();
        relabelPorts();
        refreshCounters();
    }
}

void frmDocument::refreshCounters()
{
    const SessionCounters& c = m_session->counters();
    const QString texts[3] = {
        QString("in %1, out %2").arg(byteCountText(c.serialIn), byteCountText(c.serialOut)),
        QString("in %1, out %2").arg(byteCountText(c.tcpIn), byteCountText(c.tcpOut)),
        QString("%1 now, %2 opened, %3 closed; errors %4")
            .arg(c.opened - c.closed)
            .arg(c.opened)
            .arg(c.closed)
            .arg(c.errors),
    };
    for (std::size_t k = 0; k < 3; ++k)
        if (m_counts[k]->text() != texts[k])
            m_counts[k]->setText(texts[k]);
}

void frmDocument::relabelPorts()
{
    const std::vector<std::string> labels = comLabels(Combo2->count() - 1);
    for (int i = 1; i < Combo2->count() && std::size_t(i - 1) < labels.size(); ++i) {
        const QString label = qs(labels[std::size_t(i - 1)]);
        if (Combo2->itemText(i) != label)
            Combo2->setItemText(i, label);
    }
}

frmMonitor* frmDocument::showMonitor()
{
    if (!m_monitor)
        m_monitor = new frmMonitor(*m_session, this);
    m_monitor->show();
    m_monitor->raise();
    m_monitor->activateWindow();
    return m_monitor;
}

frmClients* frmDocument::showClients()
{
    if (!m_clients) {
        m_clients = new frmClients(*m_session, this);
        m_clients->setWindowTitle("Connected Clients: " + qs(m_session->Caption));
    }
    m_clients->show();
    m_clients->raise();
    m_clients->activateWindow();
    return m_clients;
}

void frmDocument::messageBox(const std::string& text, const std::string& title)
{
    showMessage(this, qs(text), qs(title));
}

void frmDocument::showServerOptions()
{
    showServerOptionsDialog(this);
}

void frmDocument::showClientOptions()
{
    showClientOptionsDialog(this);
}

}  // namespace lintrel
