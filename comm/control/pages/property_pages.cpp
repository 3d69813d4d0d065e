#include "property_pages.h"

#include "qel_comm.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFontComboBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>

#include <cmath>

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

// --- Communications.

CommunicationsPage::CommunicationsPage(QWidget* parent) : PropertyPage(parent)
{
    auto* form = new QFormLayout(this);
    commPort = spin(1, 255, this);
    ignoreOnComm = new QCheckBox(QStringLiteral("&Ignore OnComm"), this);
    rThreshold = spin(0, 32767, this);
    form->addRow(QStringLiteral("Comm &port:"), commPort);
    form->addRow(QStringLiteral("&RThreshold:"), rThreshold);
    form->addRow(ignoreOnComm);
    watch(commPort);
    watch(ignoreOnComm);
    watch(rThreshold);
}

void CommunicationsPage::load(CQelComm& c)
{
    quietly(commPort, readNumber(c, M::CommPort));
    quietly(ignoreOnComm, readFlag(c, M::IgnoreOnComm));
    quietly(rThreshold, readNumber(c, M::RThreshold));
    setDirty(false);
}

void CommunicationsPage::store(CQelComm& c)
{
    write(c, M::CommPort, Variant(std::int32_t(commPort->value())));
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
