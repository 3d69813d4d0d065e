#include "frm_resolve.h"

#include "shell_dialogs.h"

#include "net/echo.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace lintrel {

frmResolve::frmResolve(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmResolve");
    setWindowTitle("Resolve IP Address from Host Name:");
    txtHostName = new QLineEdit;
    txtHostName->setObjectName("txtHostName");
    txtHostName->setToolTip(
        "Enter the Workstation Name or the URL for the computer that you want to find the IP Address of");
    txtIPAddress = new QLineEdit;
    txtIPAddress->setObjectName("txtIPAddress");
    auto* form = new QFormLayout;
    form->addRow("Host Name:", txtHostName);
    form->addRow("IP Address:", txtIPAddress);

    Command1 = new QPushButton("&Resolve IP Address");
    Command1->setObjectName("Command1");
    Command1->setDefault(true);
    Command3 = new QPushButton("Help...");   // no help file: does nothing
    Command3->setObjectName("Command3");
    Command4 = new QPushButton("Cancel");
    Command4->setObjectName("Command4");
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Command1);
    buttons->addStretch();
    buttons->addWidget(Command3);
    buttons->addWidget(Command4);

    auto* top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addLayout(buttons);
    setMinimumWidth(420);
    setFixedSize(sizeHint());
    connect(Command1, &QPushButton::clicked, this, &frmResolve::Command1_Click);
    connect(Command4, &QPushButton::clicked, this, &QDialog::reject);
}

void frmResolve::Command1_Click()
{
    if (!lt::net::StartSockets()) {
        showMessage(this, "Windows Sockets for 32 bit Windows environments is not successfully responding.",
                    windowTitle());
        return;
    }
    const QString host = txtHostName->text();
    const std::string address = lt::net::ResolveHostAddress(host.toStdString());
    if (!address.empty())
        txtIPAddress->setText(QString::fromStdString(address));
    else
        showMessage(this, "Cannot resolve the IP Address for host name: " + host, windowTitle());
    lt::net::StopSockets();
}

}  // namespace lintrel
