#include "frm_ping.h"

#include "ping_tool.h"

#include "net/echo.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace lintrel {

namespace {
frmPing::MessageHook g_messageHook;

QLabel* labelFor(const QString& text, QWidget* buddy)
{
    auto* l = new QLabel(text);
    l->setBuddy(buddy);
    return l;
}
}  // namespace

std::int32_t addressDecimal(std::uint32_t a)
{
    const std::uint32_t lowFirst = (a >> 24) | ((a >> 16) & 0xFF) << 8 | ((a >> 8) & 0xFF) << 16 | (a & 0xFF) << 24;
    return std::int32_t(lowFirst);
}

void frmPing::setMessageHook(MessageHook hook) { g_messageHook = std::move(hook); }

frmPing::frmPing(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmPing");
    setWindowTitle("Ping IP Address");

    Text1 = new QLineEdit;
    Text1->setObjectName("Text1");
    Text1->setToolTip("Enter the IP Address of the computer that you want to ping.");
    Text2 = new QLineEdit("Testing 123");
    Text2->setObjectName("Text2");
    Text2->setToolTip("Enter the data string that you want to ping the computer with.");

    auto* fields = new QGridLayout;
    fields->addWidget(labelFor("IP Address:", Text1), 0, 0);
    fields->addWidget(Text1, 0, 1);
    fields->addWidget(labelFor("Echo Data:", Text2), 1, 0);
    fields->addWidget(Text2, 1, 1);

    auto* frame = new QGroupBox("Ping Results:");
    frame->setObjectName("Frame1");
    auto* results = new QGridLayout(frame);
    const char* captions[] = {"Return Status:", "Address (dec):", "Round Trip Time:", "Data Packet Size:",
                              "Data Returned:"};
    for (int i = 0; i < 5; ++i) {
        Text4[i] = new QLineEdit;
        Text4[i]->setObjectName(QString("Text4_%1").arg(i));
        Text4[i]->setReadOnly(true);
        Text4[i]->setToolTip("Return status information.");
        Text4[i]->setMinimumWidth(260);
        results->addWidget(labelFor(captions[i], Text4[i]), i, 0);
        results->addWidget(Text4[i], i, 1);
    }

    Command1 = new QPushButton("&Ping");
    Command1->setObjectName("Command1");
    Command1->setDefault(true);
    Command3 = new QPushButton("&Cancel");
    Command3->setObjectName("Command3");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Command1);
    buttons->addWidget(Command3);

    auto* top = new QVBoxLayout(this);
    top->addLayout(fields);
    top->addWidget(frame);
    top->addLayout(buttons);
    top->setSizeConstraint(QLayout::SetFixedSize);

    connect(Command1, &QPushButton::clicked, this, [this] { Command1_Click(); });
    connect(Command3, &QPushButton::clicked, this, [this] { close(); });
}

void frmPing::message(const QString& text, const QString& title)
{
    if (g_messageHook)
        g_messageHook(text, title);
    else
        QMessageBox::warning(this, title, text);
}

void frmPing::Command1_Click()
{
    namespace net = lt::net;
    if (Text1->text().isEmpty()) {
        message("Please enter an IP Address or host name for the computer or device that you want to ping.",
                "Ping Error - Missing or invalid IP Address");
        Text1->setFocus();
        return;
    }
    if (!net::StartSockets()) {
        message("Windows Sockets for 32 bit Windows environments is not successfully responding.", windowTitle());
        return;
    }
    for (QLineEdit* t : Text4) t->clear();

    // A name that does not resolve gives an empty address, so "Bad IP Format".
    const std::string address = net::ResolveHostAddress(Text1->text().toStdString());
    net::EchoReplyBuffer reply;
    const QByteArray data = Text2->text().toLatin1();
    const std::int32_t status = net::SendEcho(address, data.toStdString(), reply);

    Text4[0]->setText(QString::fromStdString(net::EchoStatusText(status)));
    Text4[1]->setText(QString::number(addressDecimal(reply.Address)));
    Text4[2]->setText(QString::number(reply.RoundTripTime) + " ms");
    Text4[3]->setText(QString::number(reply.DataSize) + " bytes");
    if (reply.Data[0] != 0) {
        qsizetype n = 0;
        while (n < qsizetype(reply.Data.size()) && reply.Data[n] != 0) ++n;
        Text4[4]->setText(QString::fromLatin1(reinterpret_cast<const char*>(reply.Data.data()), n));
    }
    net::StopSockets();

    // The status alone ("IP General Failure") would not say why nothing was sent.
    const std::string why = net::EchoUnavailableReason();
    if (!why.empty())
        message("ICMP echo requests cannot be sent from this program: " + QString::fromStdString(why) + ".",
                windowTitle());
}

void showPingTool(QWidget* parent)
{
    frmPing tool(parent);
    tool.exec();
}

}  // namespace lintrel
