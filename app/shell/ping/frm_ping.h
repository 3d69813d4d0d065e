// The ping tool window: one ICMP echo request to an address or host name,
// with the reply's fields.
#pragma once

#include <QDialog>

#include <array>
#include <cstdint>
#include <functional>

class QLineEdit;
class QPushButton;

namespace lintrel {

class frmPing : public QDialog {
public:
    explicit frmPing(QWidget* parent = nullptr);

    QLineEdit* Text1;                  // "IP Address:"
    QLineEdit* Text2;                  // "Echo Data:"
    std::array<QLineEdit*, 5> Text4;   // results: status, address, time, size, data
    QPushButton* Command1;             // "&Ping"
    QPushButton* Command3;             // "&Cancel"

    void Command1_Click();

    // Message boxes go through this when it is set (tests); otherwise a
    // warning box over the tool.
    using MessageHook = std::function<void(const QString& text, const QString& title)>;
    static void setMessageHook(MessageHook hook);

private:
    void message(const QString& text, const QString& title);
};

// A reply address (host order) as the tool shows it: its four bytes read
// with the first octet lowest, as a signed 32-bit number.
std::int32_t addressDecimal(std::uint32_t address);

}  // namespace lintrel
