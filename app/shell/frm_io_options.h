// The session window's I/O option dialogs, by TCP role.  Both work on
// IoOptionTransfer: they read the options the session handed over when
// they open, write them back on OK, and on Cancel (or a close without OK)
// put the cancel mark into their first field so the session keeps its own.
#pragma once

#include <QDialog>

#include <array>

class QCheckBox;
class QPushButton;
class QRadioButton;

namespace lintrel {

class frmServerOptions : public QDialog {
    Q_OBJECT
public:
    explicit frmServerOptions(QWidget* parent = nullptr);

    QCheckBox* chkMultiClients;
    std::array<QRadioButton*, 3> OptionSerial;   // inbound serial data
    std::array<QRadioButton*, 3> OptionTCP;      // inbound TCP/IP data
    QPushButton* Command1;                       // "OK"
    QPushButton* Command2;                       // "Cancel"

    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void reject() override;   // closing the window cancels
};

class frmClientOptions : public QDialog {
    Q_OBJECT
public:
    explicit frmClientOptions(QWidget* parent = nullptr);

    QCheckBox* chkConnectOnVirtualPort;
    std::array<QRadioButton*, 3> Option1;   // 2-way I/O
    QPushButton* Command1;                  // "OK"
    QPushButton* Command2;                  // "Cancel"

    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void reject() override;
};

}  // namespace lintrel
