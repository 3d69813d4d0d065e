// The control's property pages as Qt widgets: communications, CommSpy,
// terminal and font, and a sheet that shows them as tabs. A page reads its
// values from a control and writes changed ones back through the member
// table, so a page's write is a property write like any other.
#pragma once

#include "automation/automation.h"

#include <QDialog>
#include <QWidget>

#include <cstdint>
#include <string>

#if defined(QELCOMM_CONTROL_PAGES_BUILD)
#define QELCOMM_PAGES_API __attribute__((visibility("default")))
#else
#define QELCOMM_PAGES_API
#endif

class QCheckBox;
class QComboBox;
class QFontComboBox;
class QSpinBox;
class QTabWidget;

namespace qelcomm::control {
class CQelComm;
}

namespace qelcomm::control::pages {

class QELCOMM_PAGES_API PropertyPage : public QWidget {
public:
    using QWidget::QWidget;
    virtual QString title() const = 0;
    // Shows the control's current values; the page is then clean.
    virtual void load(CQelComm& control) = 0;
    // Writes the page's values to the control when it is dirty.
    void apply(CQelComm& control);
    bool isDirty() const { return m_dirty; }

protected:
    virtual void store(CQelComm& control) = 0;
    // Marks the page dirty when the user changes one of these.
    void watch(QCheckBox* box);
    void watch(QSpinBox* box);
    void watch(QComboBox* box);
    void setDirty(bool dirty) { m_dirty = dirty; }

private:
    bool m_dirty = false;
};

// The settings string as the communications page edits it: the baud and
// the list positions of parity (None, Even, Odd, Mark, Space), data bits
// (5 to 8) and stop bits (1, 2, 1.5).
struct SettingsFields {
    std::int32_t baud = 9600;
    int parity = 0, dataBits = 3, stopBits = 0;
    bool operator==(const SettingsFields&) const = default;
};
// Reads a settings string: the digits as baud; the letter after the first
// comma as parity (either case; another letter is None); the character two
// places further as data bits (8 unless 5 to 8); from four places after
// the parity letter on, the stop bits: "1.5" exactly, else 1 for a text
// starting with "1", else 2.
QELCOMM_PAGES_API SettingsFields readSettingsFields(const std::string& settings);
// "%d,%c,%c,%s": baud, the letter in "neoms", the digit in "5678", the
// stop bits' text.
QELCOMM_PAGES_API std::string composeSettings(const SettingsFields& fields);

// The port (COM0 to COM62, the list position being the number; a port past
// them is added to the list), the settings string's four parts, IgnoreOnComm
// and RThreshold.
class QELCOMM_PAGES_API CommunicationsPage : public PropertyPage {
public:
    explicit CommunicationsPage(QWidget* parent = nullptr);
    QString title() const override { return QStringLiteral("Communications"); }
    void load(CQelComm& control) override;
    QComboBox* commPort;
    QComboBox* baud;       // editable: any number the driver takes
    QComboBox* parity;
    QComboBox* dataBits;
    QComboBox* stopBits;
    QCheckBox* ignoreOnComm;
    QSpinBox* rThreshold;
    // The port the list shows, and the fields' settings string.
    int chosenPort() const;
    SettingsFields chosenSettings() const;

protected:
    void store(CQelComm& control) override;

private:
    std::int32_t m_loadedBaud = 9600;
};

// The six trace switches.
class QELCOMM_PAGES_API CommSpyPage : public PropertyPage {
public:
    explicit CommSpyPage(QWidget* parent = nullptr);
    QString title() const override { return QStringLiteral("CommSpy"); }
    void load(CQelComm& control) override;
    QCheckBox* commSpy;
    QCheckBox* properties;
    QCheckBox* events;
    QCheckBox* input;
    QCheckBox* output;
    QCheckBox* warnings;

protected:
    void store(CQelComm& control) override;
};

// Both Columns entries are the one Columns property; Rows, ScrollRows,
// Echo and InputEcho.
class QELCOMM_PAGES_API TerminalPage : public PropertyPage {
public:
    explicit TerminalPage(QWidget* parent = nullptr);
    QString title() const override { return QStringLiteral("Terminal"); }
    void load(CQelComm& control) override;
    QSpinBox* columns;
    QSpinBox* rows;
    QSpinBox* scrollRows;
    QCheckBox* echo;
    QCheckBox* inputEcho;

protected:
    void store(CQelComm& control) override;
};

// The terminal font: face, size in points and style.
class QELCOMM_PAGES_API FontPage : public PropertyPage {
public:
    explicit FontPage(QWidget* parent = nullptr);
    QString title() const override { return QStringLiteral("Font"); }
    void load(CQelComm& control) override;
    QFontComboBox* face;
    QSpinBox* size;
    QCheckBox* bold;
    QCheckBox* italic;
    QCheckBox* underline;
    QCheckBox* strikeout;

protected:
    void store(CQelComm& control) override;

private:
    lt::automation::FontDesc m_loaded;
};

// "About Qel Comm Objects": the control's name, version and OK; what the
// control's About method shows.
class QELCOMM_PAGES_API AboutBox : public QDialog {
public:
    explicit AboutBox(QWidget* parent = nullptr);
};

// The four pages as tabs with OK, Cancel and Apply.
class QELCOMM_PAGES_API PropertySheet : public QDialog {
public:
    explicit PropertySheet(CQelComm& control, QWidget* parent = nullptr);
    // Writes every dirty page, then reloads them all.
    void applyAll();
    QTabWidget* tabs() const { return m_tabs; }
    PropertyPage* page(int index) const;

private:
    CQelComm& m_control;
    QTabWidget* m_tabs;
};

}  // namespace qelcomm::control::pages
