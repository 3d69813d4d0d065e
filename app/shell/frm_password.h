// The password dialogs, both "Lintrel Password" and centred on the screen:
// Form1 sets the access password (File > "Password..."), Form2 asks for it
// before a guarded action.
#pragma once

#include <QDialog>

#include <string>

class QLineEdit;
class QPushButton;

namespace lintrel {

class Form1 : public QDialog {
    Q_OBJECT
public:
    explicit Form1(QWidget* parent = nullptr);

    QLineEdit* Text1;       // "Enter Password:"
    QLineEdit* Text2;       // "Confirm Password:"
    QPushButton* Command1;  // "OK"
    QPushButton* Command2;  // "Cancel"

    void Command1_Click();
    void Command2_Click();
};

class Form2 : public QDialog {
    Q_OBJECT
public:
    explicit Form2(QWidget* parent = nullptr);

    QLineEdit* Text1;       // "Enter Password:"
    QPushButton* Command1;  // "OK"
    QPushButton* Command2;  // "Cancel"

    // The answer: the typed text after OK, empty after Cancel or a close.
    const std::string& entered() const { return m_entered; }

    void Command1_Click();
    void Command2_Click();

private:
    std::string m_entered;
};

// Shows Form2 modally; its answer.
std::string askPassword(QWidget* parent);

}  // namespace lintrel
