#include "security_box.h"

#include "shell_dialogs.h"

#include <QCheckBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>

namespace lintrel {
namespace {

QString qs(const std::string& s)
{
    return QString::fromStdString(s);
}

void syncField(QWidget* w, const Field& f)
{
    if (w->isEnabled() != f.enabled)
        w->setEnabled(f.enabled);
}

void syncText(QLineEdit* edit, const TextField& f)
{
    if (edit->text() != qs(f.text)) {
        QSignalBlocker block(edit);
        edit->setText(qs(f.text));
    }
    syncField(edit, f);
}

void syncCheck(QCheckBox* box, const CheckField& f)
{
    if (box->isChecked() != f.checked) {
        QSignalBlocker block(box);
        box->setChecked(f.checked);
    }
    syncField(box, f);
}

}  // namespace

SecurityBox::SecurityBox(SecurityFields& fields, QWidget* parent)
    : QGroupBox("Security", parent), m_fields(fields)
{
    setObjectName("Security");
    auto* rows = new QFormLayout(this);

    AllowedClients = new QLineEdit;
    AllowedClients->setObjectName("AllowedClients");
    AllowedClients->setPlaceholderText("everyone");
    AllowedClients->setToolTip("Server role: the client addresses and ranges let in, separated by commas, "
                               "for example 192.168.1.0/24, 10.0.0.5, fd00::/8. Others are closed at once "
                               "and logged.");
    rows->addRow("Allowed clients:", AllowedClients);
    connect(AllowedClients, &QLineEdit::textEdited, this,
            [this](const QString& t) { m_fields.AllowedClients.text = t.toStdString(); });

    Tls = new QCheckBox(qs(fields.Tls.caption));
    Tls->setObjectName("Tls");
    Tls->setToolTip("TLS 1.2 or later. A server needs a certificate and its key; a client checks the "
                    "server's certificate and name against the CA file or the system's CAs.");
    rows->addRow(Tls);
    connect(Tls, &QCheckBox::toggled, this, [this](bool on) { m_fields.Tls.checked = on; });

    rows->addRow("Certificate:", fileRow(TlsCertificate, fields.TlsCertificate, Browse[0], "TlsCertificate",
                                         "TLS Certificate"));
    rows->addRow("Key:", fileRow(TlsKey, fields.TlsKey, Browse[1], "TlsKey", "TLS Private Key"));
    TlsKey->setToolTip("Unencrypted PEM key, readable by its owner only (chmod 600)");
    rows->addRow("CA file:", fileRow(TlsCaFile, fields.TlsCaFile, Browse[2], "TlsCaFile", "TLS CA Certificates"));
    TlsCaFile->setToolTip("The CAs the peer's certificate must come from; empty: the system's CAs");

    TlsRequireClientCertificate = new QCheckBox(qs(fields.TlsRequireClientCertificate.caption));
    TlsRequireClientCertificate->setObjectName("TlsRequireClientCertificate");
    TlsRequireClientCertificate->setToolTip("Server role: only clients with a certificate from the CA file "
                                            "are let in");
    rows->addRow(TlsRequireClientCertificate);
    connect(TlsRequireClientCertificate, &QCheckBox::toggled, this,
            [this](bool on) { m_fields.TlsRequireClientCertificate.checked = on; });

    Refused = new QLabel;
    Refused->setObjectName("Refused");
    Refused->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Refused->setWordWrap(true);
    rows->addRow(Refused);
    refresh();
}

QWidget* SecurityBox::fileRow(QLineEdit*& edit, TextField& field, QToolButton*& browse, const char* name,
                              const QString& title)
{
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 18);  // a path stays readable
    browse = new QToolButton;
    browse->setText("...");
    browse->setObjectName(QString(name) + "Browse");
    browse->setToolTip("Choose the file");
    layout->addWidget(edit);
    layout->addWidget(browse);
    connect(edit, &QLineEdit::textEdited, this, [&field](const QString& t) { field.text = t.toStdString(); });
    connect(browse, &QToolButton::clicked, this, [this, &field, title] {
        if (!shellDialogs().pemFile)
            return;
        const QString chosen = shellDialogs().pemFile(this, title, qs(field.text));
        if (chosen.isEmpty())
            return;
        field.text = chosen.toStdString();
        refresh();
    });
    return row;
}

void SecurityBox::refresh()
{
    const SecurityFields& f = m_fields;
    syncText(AllowedClients, f.AllowedClients);
    syncCheck(Tls, f.Tls);
    syncText(TlsCertificate, f.TlsCertificate);
    syncText(TlsKey, f.TlsKey);
    syncText(TlsCaFile, f.TlsCaFile);
    syncCheck(TlsRequireClientCertificate, f.TlsRequireClientCertificate);
    Browse[0]->setEnabled(f.TlsCertificate.enabled);
    Browse[1]->setEnabled(f.TlsKey.enabled);
    Browse[2]->setEnabled(f.TlsCaFile.enabled);
    const QString refused = f.RefusedCount == 0
                                ? QString()
                                : QString("Refused: %1, the last: %2").arg(f.RefusedCount).arg(qs(f.LastRefused.text));
    if (Refused->text() != refused)
        Refused->setText(refused);
    Refused->setVisible(!refused.isEmpty());
}

}  // namespace lintrel
