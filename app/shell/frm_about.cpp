#include "frm_about.h"

#include "shell_dialogs.h"

#include <QApplication>
#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

namespace lintrel {

const char* const kMakerWebAddress = "https://www.velmora.example/lintrel";

void openMakerWebPage()
{
    QApplication::setOverrideCursor(Qt::BusyCursor);
    QDesktopServices::openUrl(QUrl(kMakerWebAddress));
    QApplication::restoreOverrideCursor();
}

frmAbout::frmAbout(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmAbout");
    setWindowTitle("About Lintrel");

    auto* icon = new QLabel;
    icon->setPixmap(style()->standardIcon(QStyle::SP_ComputerIcon).pixmap(48, 48));
    auto* title = new QLabel("ZU232 vu ZOD/UV Converter");
    title->setObjectName("lblTitle");
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    title->setFont(big);
    auto* version = new QLabel(QString("Lintrel version %1").arg(LINTREL_VERSION));
    version->setObjectName("lblVersion");
    auto* description = new QLabel(
        "Joins serial devices and TCP/IP networks: each session bridges one serial port, "
        "real or virtual, with one TCP server or client.");
    description->setObjectName("lblDescription");
    description->setWordWrap(true);
    auto* web = new QLabel(QString("<a href=\"%1\">%1</a>").arg(kMakerWebAddress));
    web->setObjectName("lblWeb");
    web->setTextInteractionFlags(Qt::LinksAccessibleByMouse);
    connect(web, &QLabel::linkActivated, this, [] { openMakerWebPage(); });

    auto* ok = new QPushButton("OK");
    ok->setObjectName("cmdOK");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* sysInfo = new QPushButton("&System Info...");
    sysInfo->setObjectName("cmdSysInfo");
    connect(sysInfo, &QPushButton::clicked, this, &frmAbout::StartSysInfo);

    auto* text = new QVBoxLayout;
    text->addWidget(title);
    text->addWidget(version);
    text->addWidget(description);
    text->addWidget(web);
    auto* upper = new QHBoxLayout;
    upper->addWidget(icon, 0, Qt::AlignTop);
    upper->addLayout(text, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(sysInfo);
    auto* all = new QVBoxLayout(this);
    all->addLayout(upper);
    all->addLayout(buttons);
    setMinimumWidth(420);
}

void frmAbout::StartSysInfo()
{
    showMessage(this, "System Information Is Unavailable At This Time", windowTitle());
}

}  // namespace lintrel
