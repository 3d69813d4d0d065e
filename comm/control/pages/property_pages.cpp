#include "property_pages.h"

#include "qel_comm.h"
#include "window_host.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QFormLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace qelcomm::control::pages {
namespace {

using lt::automation::Variant;
namespace M = MemberId;

std::int32_t readNumber(CQelComm& c, std::int32_t id)
{
    Variant v;
    c.Dispatch().get(id, v);
    return v.toInt32().value_or(0);
}

bool readFlag(CQelComm& c, std::int32_t id)
{
    Variant v;
    c.Dispatch().get(id, v);
    return v.toBool();
}

void write(CQelComm& c, std::int32_t id, const Variant& v) { c.Dispatch().put(id, v); }

QSpinBox* spin(int low, int high, QWidget* parent)
{
    auto* box = new QSpinBox(parent);
    box->setRange(low, high);
    return box;
}

// Sets a widget's value without marking the page dirty.
void quietly(QSpinBox* box, int value)
{
    const bool blocked = box->blockSignals(true);
    box->setValue(value);
    box->blockSignals(blocked);
}

void quietly(QCheckBox* box, bool checked)
{
    const bool blocked = box->blockSignals(true);
    box->setChecked(checked);
    box->blockSignals(blocked);
}

void quietly(QComboBox* box, int index)
{
    const bool blocked = box->blockSignals(true);
    box->setCurrentIndex(index);
    box->blockSignals(blocked);
}

QComboBox* choices(const QStringList& items, QWidget* parent)
{
    auto* box = new QComboBox(parent);
    box->addItems(items);
    return box;
}

constexpr int kLastListedPort = 62;
constexpr std::int32_t kBauds[] = {110, 300, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200,
                                   230400, 460800, 921600};
constexpr const char* kParityLetters = "neoms";
constexpr const char* kDataBitsDigits = "5678";
constexpr const char* kStopBitsTexts[] = {"1", "2", "1.5"};

}  // namespace

void PropertyPage::apply(CQelComm& control)
{
    if (!m_dirty)
        return;
    store(control);
    m_dirty = false;
}

void PropertyPage::watch(QCheckBox* box)
{
    connect(box, &QCheckBox::toggled, this, [this] { m_dirty = true; });
}

void PropertyPage::watch(QSpinBox* box)
{
    connect(box, &QSpinBox::valueChanged, this, [this] { m_dirty = true; });
}

void PropertyPage::watch(QComboBox* box)
{
    connect(box, &QComboBox::currentIndexChanged, this, [this] { m_dirty = true; });
    if (box->isEditable())
        connect(box, &QComboBox::editTextChanged, this, [this] { m_dirty = true; });
}

// --- The settings string's fields.

SettingsFields readSettingsFields(const std::string& settings)
{
    SettingsFields f;
    f.baud = std::int32_t(std::strtol(settings.c_str(), nullptr, 10));
    const std::size_t comma = settings.find(',');
    if (comma == std::string::npos)
        return f;
    const std::size_t at = comma + 1;
    if (at < settings.size())
        if (const char* p = std::strchr(kParityLetters, std::tolower(static_cast<unsigned char>(settings[at]))); p && *p)
            f.parity = int(p - kParityLetters);
    if (at + 2 < settings.size())
        if (const char* p = std::strchr(kDataBitsDigits, settings[at + 2]); p && *p)
            f.dataBits = int(p - kDataBitsDigits);
    const std::string stop = at + 4 < settings.size() ? settings.substr(at + 4) : std::string();
    f.stopBits = stop == "1.5" ? 2 : stop.rfind('1', 0) == 0 ? 0 : 1;
    return f;
}

std::string composeSettings(const SettingsFields& f)
{
    char text[64];
    std::snprintf(text, sizeof text, "%d,%c,%c,%s", int(f.baud), kParityLetters[std::clamp(f.parity, 0, 4)],
                  kDataBitsDigits[std::clamp(f.dataBits, 0, 3)], kStopBitsTexts[std::clamp(f.stopBits, 0, 2)]);
    return text;
}

// --- Communications.

CommunicationsPage::CommunicationsPage(QWidget* parent) : PropertyPage(parent)
{
    auto* form = new QFormLayout(this);
    commPort = new QComboBox(this);
    for (int n = 0; n <= kLastListedPort; ++n)
        commPort->addItem(QStringLiteral("COM%1").arg(n), n);
    QStringList bauds;
    for (std::int32_t b : kBauds)
        bauds << QString::number(b);
    baud = choices(bauds, this);
    baud->setEditable(true);
    baud->setInsertPolicy(QComboBox::NoInsert);
    baud->lineEdit()->setValidator(new QIntValidator(1, 2147483647, baud));
    parity = choices({"None", "Even", "Odd", "Mark", "Space"}, this);
    dataBits = choices({"5", "6", "7", "8"}, this);
    stopBits = choices({"1", "2", "1.5"}, this);
    ignoreOnComm = new QCheckBox(QStringLiteral("&Ignore OnComm"), this);
    rThreshold = spin(0, 32767, this);
    form->addRow(QStringLiteral("Comm &port:"), commPort);
    form->addRow(QStringLiteral("&Baud rate:"), baud);
    form->addRow(QStringLiteral("P&arity:"), parity);
    form->addRow(QStringLiteral("&Data bits:"), dataBits);
    form->addRow(QStringLiteral("&Stop bits:"), stopBits);
    form->addRow(QStringLiteral("&RThreshold:"), rThreshold);
    form->addRow(ignoreOnComm);
    for (QComboBox* box : {commPort, baud, parity, dataBits, stopBits})
        watch(box);
    watch(ignoreOnComm);
    watch(rThreshold);
}

void CommunicationsPage::load(CQelComm& c)
{
    // A port past the list gets an entry of its own, so it shows and stays.
    const int port = readNumber(c, M::CommPort);
    int index = commPort->findData(port);
    if (index < 0) {
        commPort->addItem(QStringLiteral("COM%1").arg(port), port);
        index = commPort->count() - 1;
    }
    quietly(commPort, index);
    Variant settings;
    c.Dispatch().get(M::Settings, settings);
    const SettingsFields f = readSettingsFields(settings.toString());
    m_loadedBaud = f.baud;
    const bool blocked = baud->blockSignals(true);
    baud->setEditText(QString::number(f.baud));
    baud->blockSignals(blocked);
    quietly(parity, f.parity);
    quietly(dataBits, f.dataBits);
    quietly(stopBits, f.stopBits);
    quietly(ignoreOnComm, readFlag(c, M::IgnoreOnComm));
    quietly(rThreshold, readNumber(c, M::RThreshold));
    setDirty(false);
}

int CommunicationsPage::chosenPort() const { return commPort->currentData().toInt(); }

SettingsFields CommunicationsPage::chosenSettings() const
{
    SettingsFields f;
    bool ok = false;
    const int typed = baud->currentText().toInt(&ok);
    f.baud = ok && typed > 0 ? typed : m_loadedBaud;   // a field left empty keeps the baud
    f.parity = parity->currentIndex();
    f.dataBits = dataBits->currentIndex();
    f.stopBits = stopBits->currentIndex();
    return f;
}

void CommunicationsPage::store(CQelComm& c)
{
    write(c, M::CommPort, Variant(std::int32_t(chosenPort())));
    // Settings only when the page's text differs from the control's, so an
    // edit elsewhere on the page does not rewrite (and announce) it.
    Variant settings;
    c.Dispatch().get(M::Settings, settings);
    if (const std::string text = composeSettings(chosenSettings()); text != settings.toString())
        write(c, M::Settings, Variant(text));
    write(c, M::IgnoreOnComm, Variant::fromBool(ignoreOnComm->isChecked()));
    write(c, M::RThreshold, Variant(std::int32_t(rThreshold->value())));
}

// --- CommSpy.

CommSpyPage::CommSpyPage(QWidget* parent) : PropertyPage(parent)
{
    auto* layout = new QVBoxLayout(this);
    commSpy = new QCheckBox(QStringLiteral("&CommSpy"), this);
    properties = new QCheckBox(QStringLiteral("&Properties"), this);
    events = new QCheckBox(QStringLiteral("&Events"), this);
    input = new QCheckBox(QStringLiteral("&Input"), this);
    output = new QCheckBox(QStringLiteral("&Output"), this);
    warnings = new QCheckBox(QStringLiteral("&Warnings"), this);
    for (QCheckBox* box : {commSpy, properties, events, input, output, warnings}) {
        layout->addWidget(box);
        watch(box);
    }
    layout->addStretch();
}

void CommSpyPage::load(CQelComm& c)
{
    quietly(commSpy, c.CommSpy());
    quietly(properties, c.CommSpyProperties());
    quietly(events, c.CommSpyEvents());
    quietly(input, c.CommSpyInput());
    quietly(output, c.CommSpyOutput());
    quietly(warnings, c.CommSpyWarnings());
    setDirty(false);
}

void CommSpyPage::store(CQelComm& c)
{
    write(c, M::CommSpy, Variant::fromBool(commSpy->isChecked()));
    write(c, M::CommSpyProperties, Variant::fromBool(properties->isChecked()));
    write(c, M::CommSpyEvents, Variant::fromBool(events->isChecked()));
    write(c, M::CommSpyInput, Variant::fromBool(input->isChecked()));
    write(c, M::CommSpyOutput, Variant::fromBool(output->isChecked()));
    write(c, M::CommSpyWarnings, Variant::fromBool(warnings->isChecked()));
}

// --- Terminal.

TerminalPage::TerminalPage(QWidget* parent) : PropertyPage(parent)
{
    auto* form = new QFormLayout(this);
    columns = spin(1, 32767, this);
    rows = spin(1, 32767, this);
    scrollRows = spin(0, 32767, this);
    echo = new QCheckBox(QStringLiteral("&Echo"), this);
    inputEcho = new QCheckBox(QStringLiteral("&Input echo"), this);
    form->addRow(QStringLiteral("&Columns:"), columns);
    form->addRow(QStringLiteral("&Rows:"), rows);
    form->addRow(QStringLiteral("&Scroll rows:"), scrollRows);
    form->addRow(echo);
    form->addRow(inputEcho);
    for (QSpinBox* box : {columns, rows, scrollRows})
        watch(box);
    watch(echo);
    watch(inputEcho);
}

void TerminalPage::load(CQelComm& c)
{
    quietly(columns, readNumber(c, M::Columns));
    quietly(rows, readNumber(c, M::Rows));
    quietly(scrollRows, readNumber(c, M::ScrollRows));
    quietly(echo, readFlag(c, M::Echo));
    quietly(inputEcho, readFlag(c, M::InputEcho));
    setDirty(false);
}

void TerminalPage::store(CQelComm& c)
{
    write(c, M::Columns, Variant(std::int32_t(columns->value())));
    write(c, M::Rows, Variant(std::int32_t(rows->value())));
    write(c, M::ScrollRows, Variant(std::int32_t(scrollRows->value())));
    write(c, M::Echo, Variant::fromBool(echo->isChecked()));
    write(c, M::InputEcho, Variant::fromBool(inputEcho->isChecked()));
}

// --- Font.

FontPage::FontPage(QWidget* parent) : PropertyPage(parent)
{
    auto* form = new QFormLayout(this);
    face = new QFontComboBox(this);
    face->setEditable(true);   // a face this machine lacks still shows and stays
    size = spin(1, 999, this);
    bold = new QCheckBox(QStringLiteral("&Bold"), this);
    italic = new QCheckBox(QStringLiteral("&Italic"), this);
    underline = new QCheckBox(QStringLiteral("&Underline"), this);
    strikeout = new QCheckBox(QStringLiteral("S&trikeout"), this);
    form->addRow(QStringLiteral("&Font:"), face);
    form->addRow(QStringLiteral("&Size:"), size);
    for (QCheckBox* box : {bold, italic, underline, strikeout}) {
        form->addRow(box);
        watch(box);
    }
    watch(size);
    connect(face, &QComboBox::editTextChanged, this, [this] { setDirty(true); });
}

void FontPage::load(CQelComm& c)
{
    m_loaded = c.Font();
    const bool blocked = face->blockSignals(true);
    face->setEditText(QString::fromLatin1(m_loaded.name.c_str()));
    face->blockSignals(blocked);
    quietly(size, int(std::lround(m_loaded.size / 10000.0)));
    quietly(bold, m_loaded.weight >= 600);
    quietly(italic, m_loaded.italic);
    quietly(underline, m_loaded.underline);
    quietly(strikeout, m_loaded.strikethrough);
    setDirty(false);
}

void FontPage::store(CQelComm& c)
{
    lt::automation::FontDesc f = m_loaded;   // the character set stays
    f.name = face->currentText().toLatin1().toStdString();
    // A size the page shows unchanged keeps its fraction.
    if (int(std::lround(m_loaded.size / 10000.0)) != size->value())
        f.size = std::uint32_t(size->value()) * 10000u;
    if (bold->isChecked() != (m_loaded.weight >= 600))
        f.weight = bold->isChecked() ? 700 : 400;
    f.italic = italic->isChecked();
    f.underline = underline->isChecked();
    f.strikethrough = strikeout->isChecked();
    c.SetFont(f);
    m_loaded = f;
}

// --- About.

AboutBox::AboutBox(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("About Qel Comm Objects"));
    auto* layout = new QVBoxLayout(this);
    auto* name = new QLabel(QStringLiteral("<b>Qel Comm Objects 6.0</b>"), this);
    name->setObjectName(QStringLiteral("name"));
    layout->addWidget(name);
    layout->addWidget(new QLabel(QStringLiteral("The QelComm communications control: serial ports, terminal\n"
                                                "emulation, file transfers and modem dialing."),
                                 this));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
}

// --- The sheet.

PropertySheet::PropertySheet(CQelComm& control, QWidget* parent) : QDialog(parent), m_control(control)
{
    setWindowTitle(QStringLiteral("Qel Comm 6 Control Properties"));
    auto* layout = new QVBoxLayout(this);
    m_tabs = new QTabWidget(this);
    for (PropertyPage* p : std::initializer_list<PropertyPage*>{new CommunicationsPage, new CommSpyPage,
                                                               new TerminalPage, new FontPage}) {
        p->load(control);
        m_tabs->addTab(p, p->title());
    }
    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    layout->addWidget(m_tabs);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        applyAll();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::Apply), &QPushButton::clicked, this, [this] { applyAll(); });
}

PropertyPage* PropertySheet::page(int index) const
{
    return static_cast<PropertyPage*>(m_tabs->widget(index));
}

void PropertySheet::applyAll()
{
    for (int i = 0; i < m_tabs->count(); ++i)
        page(i)->apply(m_control);
    // A written value may differ from what the control keeps (a port the
    // engine refused): show what it holds now.
    for (int i = 0; i < m_tabs->count(); ++i)
        page(i)->load(m_control);
}

}  // namespace qelcomm::control::pages

// What the control's About method looks up, whether or not the program
// links this library.
extern "C" __attribute__((visibility("default"))) void qelcomm6ShowAboutBox()
{
    if (!qelcomm::canShowWindows())
        return;
    qelcomm::control::pages::AboutBox box(QApplication::activeWindow());
    box.exec();
}
