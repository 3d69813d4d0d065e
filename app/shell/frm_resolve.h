// The host name resolution tool (Tools > "&Resolve IP Address from Host
// Name..."): turns a host name into its first IPv4 address.
#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace lintrel {

class frmResolve : public QDialog {
    Q_OBJECT
public:
    explicit frmResolve(QWidget* parent = nullptr);

    QLineEdit* txtHostName;    // "Host Name:"
    QLineEdit* txtIPAddress;   // "IP Address:", filled by the tool
    QPushButton* Command1;     // "&Resolve IP Address"
    QPushButton* Command3;     // "Help..."
    QPushButton* Command4;     // "Cancel"

    void Command1_Click();
};

}  // namespace lintrel
