#include "frm_io_options.h"

#include "dialog_buttons.h"

#include "global_options.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace lintrel {
namespace {

enum Slot { kAllowMultiConnect, kServerSerial, kServerTcp, kClient, kConnectOnVirtualOpen };

std::int16_t& field(Slot s)
{
    return IoOptionTransfer.fields[std::size_t(s)];
}

// A frame of three option buttons named <base>_0 .. _2.  A value outside
// 0..2 (a hand-edited file) selects none of them.
QGroupBox* optionFrame(const char* caption, const char* base, const std::array<const char*, 3>& texts,
                       std::array<QRadioButton*, 3>& buttons, QWidget* owner)
{
    auto* frame = new QGroupBox(caption);
    auto* rows = new QVBoxLayout(frame);
    auto* group = new QButtonGroup(owner);
    for (std::size_t k = 0; k < 3; ++k) {
        buttons[k] = new QRadioButton(texts[k]);
        buttons[k]->setObjectName(QString("%1_%2").arg(base).arg(k));
        group->addButton(buttons[k], int(k));
        rows->addWidget(buttons[k]);
    }
    return frame;
}

void select(std::array<QRadioButton*, 3>& buttons, int index)
{
    for (std::size_t k = 0; k < 3; ++k)
        if (int(k) == index)
            buttons[k]->setChecked(true);
}

// For index 0, 1, 2 in turn a selected button sets the value; none
// selected leaves it as it was.
void takeSelected(const std::array<QRadioButton*, 3>& buttons, std::int16_t& value)
{
    for (std::size_t k = 0; k < 3; ++k)
        if (buttons[k]->isChecked())
            value = std::int16_t(k);
}

}  // namespace

frmServerOptions::frmServerOptions(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmServerOptions");
    setWindowTitle("Server I/O Options");
    chkMultiClients = new QCheckBox("Allow multiple client connections.");
    chkMultiClients->setObjectName("chkMultiClients");
    auto* top = new QVBoxLayout(this);
    top->addWidget(chkMultiClients);
    top->addWidget(optionFrame("Inbound serial data options:", "OptionSerial",
                               {"Send inbound serial data to all TCP/IP clients.",
                                "Ignore inbound serial data.",
                                "Send inbound serial data to first connected client only."},
                               OptionSerial, this));
    top->addWidget(optionFrame("Inbound TCP/IP data options:", "OptionTCP",
                               {"Transmit inbound TCP/IP data from all clients out serial port.",
                                "Ignore inbound TCP/IP data from all clients.",
                                "Transmit inbound TCP/IP data from first connected client only."},
                               OptionTCP, this));
    top->addLayout(okCancel(Command1, Command2));
    setFixedSize(sizeHint());
    connect(Command1, &QPushButton::clicked, this, &frmServerOptions::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmServerOptions::Command2_Click);
    Form_Load();
}

void frmServerOptions::Form_Load()
{
    chkMultiClients->setChecked(field(kAllowMultiConnect) != 0);
    select(OptionSerial, field(kServerSerial));
    select(OptionTCP, field(kServerTcp));
}

void frmServerOptions::Command1_Click()
{
    field(kAllowMultiConnect) = chkMultiClients->isChecked() ? 1 : 0;
    takeSelected(OptionTCP, field(kServerTcp));
    takeSelected(OptionSerial, field(kServerSerial));
    accept();
}

void frmServerOptions::Command2_Click()
{
    reject();
}

void frmServerOptions::reject()
{
    field(kAllowMultiConnect) = IoOptionTransferRecord::kCancelMark;
    QDialog::reject();
}

frmClientOptions::frmClientOptions(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmClientOptions");
    setWindowTitle("Client I/O Options");
    chkConnectOnVirtualPort = new QCheckBox("Open TCP/IP port only when Virtual COM Port is open");
    chkConnectOnVirtualPort->setObjectName("chkConnectOnVirtualPort");
    auto* top = new QVBoxLayout(this);
    top->addWidget(chkConnectOnVirtualPort);
    top->addWidget(optionFrame("2-Way I/O options:", "Option1",
                               {"Allow complete 2-way I/O.", "Disable output to serial port.",
                                "Disable output to TCP/IP port."},
                               Option1, this));
    top->addLayout(okCancel(Command1, Command2));
    setFixedSize(sizeHint());
    connect(Command1, &QPushButton::clicked, this, &frmClientOptions::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &frmClientOptions::Command2_Click);
    Form_Load();
}

void frmClientOptions::Form_Load()
{
    select(Option1, field(kClient));
    chkConnectOnVirtualPort->setChecked(field(kConnectOnVirtualOpen) != 0);
}

void frmClientOptions::Command1_Click()
{
    takeSelected(Option1, field(kClient));
    field(kConnectOnVirtualOpen) = chkConnectOnVirtualPort->isChecked() ? 1 : 0;
    accept();
}

void frmClientOptions::Command2_Click()
{
    reject();
}

void frmClientOptions::reject()
{
    field(kClient) = IoOptionTransferRecord::kCancelMark;
    QDialog::reject();
}

}  // namespace lintrel
