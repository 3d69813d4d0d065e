// The global options dialog ("Lintrel Options"): edits GlobalOptions in
// memory; the file and the logon entry learn of it at the next save.
#pragma once

#include <QDialog>

#include <string>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace lintrel {

class frmOptions : public QDialog {
    Q_OBJECT
public:
    explicit frmOptions(QWidget* parent = nullptr);

    QLineEdit* Text1;             // "Command Line:"
    QPushButton* Command1;        // "Browse..."
    QCheckBox* Check1;            // log errors
    QComboBox* Combo1;            // packet size, editable
    QCheckBox* Check2;            // remote pings
    QComboBox* Combo2;            // ping frequency positions
    QComboBox* Combo3;            // ping time-out positions
    QCheckBox* chkLoadWithWindows;
    QSpinBox* ClientQueue;        // kB a client may leave unread (0: no bound)
    QPushButton* Command2;        // "OK"
    QPushButton* Command3;        // "Cancel"

    void Form_Load();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();

private:
    // A stored position outside its list: the list shows no selection, and
    // OK keeps the stored value unless the user picks one.
    int m_storedFrequency = 0;
    int m_storedTimeout = 0;
};

// Packet size from the typed text: the number at its start, rounded half to
// even; below 1 or above 10000 (or no number) gives 2000.
int packetSizeFromText(const std::string& text);

}  // namespace lintrel
