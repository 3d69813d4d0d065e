#include "frm_options.h"

#include "global_options.h"
#include "number_text.h"
#include "shell_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <cmath>

namespace lintrel {
namespace {

template <typename W>
W* named(W* w, const char* name)
{
    w->setObjectName(name);
    return w;
}

constexpr int kDefaultPacketSize = 2000;

}  // namespace

int packetSizeFromText(const std::string& text)
{
    // nearbyint rounds half to even in the default rounding mode.
    const double v = std::nearbyint(numericValue(text));
    if (!(v >= 1 && v <= 10000))
        return kDefaultPacketSize;
    return int(v);
}

frmOptions::frmOptions(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmOptions");
    setWindowTitle("Lintrel Options");

    auto* runFrame = new QGroupBox("Run external program when errors occur:");
    auto* runRows = new QVBoxLayout(runFrame);
    auto* commandRow = new QHBoxLayout;
    Text1 = named(new QLineEdit, "Text1");
    Command1 = named(new QPushButton("Browse..."), "Command1");
    auto* commandForm = new QFormLayout;
    commandForm->addRow("Command Line:", Text1);
    commandRow->addLayout(commandForm, 1);
    commandRow->addWidget(Command1);
    runRows->addLayout(commandRow);
    Check1 = named(new QCheckBox("Log all errors to file: ErrorLog.txt"), "Check1");
    runRows->addWidget(Check1);

    Combo1 = named(new QComboBox, "Combo1");
    Combo1->setEditable(true);
    Combo1->setInsertPolicy(QComboBox::NoInsert);
    auto* packetForm = new QFormLayout;
    packetForm->addRow("Max bytes per TCP/IP packet:", Combo1);
    ClientQueue = named(new QSpinBox, "ClientQueue");
    ClientQueue->setRange(0, 1 << 20);
    ClientQueue->setSuffix(" kB");
    ClientQueue->setSpecialValueText("no bound");
    ClientQueue->setToolTip("A client that leaves more than this unread is closed and logged, so the "
                            "device and the other clients go on");
    packetForm->addRow("Close a client that does not read after:", ClientQueue);

    auto* pingFrame = new QGroupBox("Ping remote IP Addresses to detect failed connections:");
    auto* pingRows = new QFormLayout(pingFrame);
    Check2 = named(new QCheckBox("Enable remote pings"), "Check2");
    pingRows->addRow(Check2);
    Combo2 = named(new QComboBox, "Combo2");
    Combo3 = named(new QComboBox, "Combo3");
    pingRows->addRow("Ping frequency (secs):", Combo2);
    pingRows->addRow("Ping Timeout (ms):", Combo3);

    chkLoadWithWindows = named(new QCheckBox("Load Lintrel with Windows at startup"), "chkLoadWithWindows");

    Command2 = named(new QPushButton("OK"), "Command2");
    Command3 = named(new QPushButton("Cancel"), "Command3");
    Command2->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command2);
    buttons->addWidget(Command3);

    auto* top = new QVBoxLayout(this);
    top->addWidget(runFrame);
    top->addLayout(packetForm);
    top->addWidget(pingFrame);
    top->addWidget(chkLoadWithWindows);
    top->addLayout(buttons);
    setFixedSize(sizeHint());

    connect(Command1, &QPushButton::clicked, this, &frmOptions::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmOptions::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &frmOptions::Command3_Click);
    Form_Load();
}

void frmOptions::Form_Load()
{
    const GlobalOptionsRecord& g = GlobalOptions;
    Text1->setText(QString::fromStdString(g.OnErrorRunApp));
    Check1->setChecked(g.LogErrors);

    Combo1->clear();
    for (const char* item : {"50", "100", "200", "500", "1000", "2000", "4000"})
        Combo1->addItem(item);
    Combo1->setCurrentIndex(-1);
    Combo1->setEditText(QString::number(g.PacketSize));

    Combo2->clear();
    for (int k = 1; k <= 12; ++k)
        Combo2->addItem(QString("%1 Seconds").arg(k * 5));
    Combo3->clear();
    for (int k = 1; k <= 20; ++k)
        Combo3->addItem(QString("%1 ms").arg(k * 100));
    m_storedFrequency = g.PingFrequency;
    m_storedTimeout = g.PingTimeout;
    Combo2->setCurrentIndex(g.PingFrequency >= 0 && g.PingFrequency < Combo2->count() ? g.PingFrequency : -1);
    Combo3->setCurrentIndex(g.PingTimeout >= 0 && g.PingTimeout < Combo3->count() ? g.PingTimeout : -1);

    Check2->setChecked(g.PingEnabled);
    chkLoadWithWindows->setChecked(g.LoadWithWindows);
    ClientQueue->setValue(int((g.ClientQueueLimit + 1023) / 1024));
}

void frmOptions::Command1_Click()
{
    const QString name = shellDialogs().programFile ? shellDialogs().programFile(this) : QString();
    if (!name.isEmpty())
        Text1->setText(name);
}

void frmOptions::Command2_Click()
{
    GlobalOptionsRecord& g = GlobalOptions;
    g.OnErrorRunApp = Text1->text().toStdString();
    g.LogErrors = Check1->isChecked();
    g.PacketSize = packetSizeFromText(Combo1->currentText().toStdString());
    g.PingEnabled = Check2->isChecked();
    g.PingFrequency = Combo2->currentIndex() >= 0 ? Combo2->currentIndex() : m_storedFrequency;
    g.PingTimeout = Combo3->currentIndex() >= 0 ? Combo3->currentIndex() : m_storedTimeout;
    g.LoadWithWindows = chkLoadWithWindows->isChecked();
    // A value the dialog shows as it was stays exact (bytes, not kB).
    if (ClientQueue->value() != int((g.ClientQueueLimit + 1023) / 1024))
        g.ClientQueueLimit = std::int64_t(ClientQueue->value()) * 1024;
    accept();
}

void frmOptions::Command3_Click()
{
    reject();
}

}  // namespace lintrel
