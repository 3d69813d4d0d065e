// The session window's "Security" group: the allowed clients and the TLS
// choices, each widget bound to the session's security field of the same
// name (object names AllowedClients, Tls, TlsCertificate, ...), with "..."
// buttons that pick the PEM files.
#pragma once

#include "session_security.h"

#include <QGroupBox>

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QToolButton;

namespace lintrel {

class SecurityBox : public QGroupBox {
    Q_OBJECT
public:
    SecurityBox(SecurityFields& fields, QWidget* parent = nullptr);
    void refresh();

    QLineEdit* AllowedClients;
    QCheckBox* Tls;
    QLineEdit* TlsCertificate;
    QLineEdit* TlsKey;
    QLineEdit* TlsCaFile;
    std::array<QToolButton*, 3> Browse;   // certificate, key, CA file
    QCheckBox* TlsRequireClientCertificate;
    QLabel* Refused;

private:
    QWidget* fileRow(QLineEdit*& edit, TextField& field, QToolButton*& browse, const char* name,
                     const QString& title);
    SecurityFields& m_fields;
};

}  // namespace lintrel
