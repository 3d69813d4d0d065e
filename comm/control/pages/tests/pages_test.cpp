// The property pages over a real control: what they show, what they write,
// and that a page left alone writes nothing.
#include "property_pages.h"

#include "qel_comm.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTimer>
#include <QFontComboBox>
#include <QSpinBox>
#include <QTabWidget>
#include <gtest/gtest.h>

namespace {

using namespace qelcomm::control;
using namespace qelcomm::control::pages;
using lt::automation::Variant;

struct NotifyLog : lt::automation::EventSink {
    std::vector<std::int32_t> ids;
    void onEvent(std::int32_t dispid, lt::automation::Args&) override { ids.push_back(dispid); }
};

std::int32_t number(CQelComm& c, std::int32_t id)
{
    Variant v;
    c.Dispatch().get(id, v);
    return v.toInt32().value_or(-1);
}

TEST(PropertyPages, ShowTheControlsValues)
{
    CQelComm c;
    c.SetCommPort(5);
    c.SetRThreshold(2);
    c.SetIgnoreOnComm(true);
    c.SetCommSpyInput(true);
    c.SetCommSpyWarnings(true);
    c.Dispatch().put(MemberId::Columns, Variant(std::int32_t(132)));
    c.Dispatch().put(MemberId::Echo, Variant::fromBool(true));

    c.SetSettings("115200,e,7,1.5");
    CommunicationsPage comms;
    comms.load(c);
    EXPECT_EQ(comms.chosenPort(), 5);
    EXPECT_EQ(comms.commPort->currentText(), "COM5");
    EXPECT_EQ(comms.baud->currentText(), "115200");
    EXPECT_EQ(comms.parity->currentText(), "Even");
    EXPECT_EQ(comms.dataBits->currentText(), "7");
    EXPECT_EQ(comms.stopBits->currentText(), "1.5");
    EXPECT_EQ(comms.rThreshold->value(), 2);
    EXPECT_TRUE(comms.ignoreOnComm->isChecked());
    EXPECT_FALSE(comms.isDirty());

    CommSpyPage spy;
    spy.load(c);
    EXPECT_TRUE(spy.input->isChecked());
    EXPECT_TRUE(spy.warnings->isChecked());
    EXPECT_FALSE(spy.commSpy->isChecked());
    EXPECT_FALSE(spy.isDirty());

    TerminalPage term;
    term.load(c);
    EXPECT_EQ(term.columns->value(), 132);
    EXPECT_EQ(term.rows->value(), 25);
    EXPECT_TRUE(term.echo->isChecked());

    FontPage font;
    font.load(c);
    EXPECT_EQ(font.face->currentText(), "Terminal");
    EXPECT_EQ(font.size->value(), 10);
    EXPECT_FALSE(font.bold->isChecked());
}

TEST(PropertyPages, SettingsStringReadAndComposedAsThePageShowsIt)
{
    const struct {
        const char* text;
        SettingsFields fields;
    } table[] = {
        {"9600,n,8,1", {9600, 0, 3, 0}},
        {"19200,E,7,2", {19200, 1, 2, 1}},       // either case
        {"300,o,5,1.5", {300, 2, 0, 2}},
        {"1200,m,6,1", {1200, 3, 1, 0}},
        {"2400,s,8,2", {2400, 4, 3, 1}},
        {"4800,x,8,1", {4800, 0, 3, 0}},        // another letter is None
        {"57600,n,4,1", {57600, 0, 3, 0}},      // data bits the page lacks show as 8
        {"110,n,8,1.50", {110, 0, 3, 0}},       // "1.5" exactly, else starting with 1
    };
    for (const auto& row : table)
        EXPECT_EQ(readSettingsFields(row.text), row.fields) << row.text;
    EXPECT_EQ(composeSettings({115200, 2, 1, 2}), "115200,o,6,1.5");
    EXPECT_EQ(composeSettings({921600, 4, 3, 1}), "921600,s,8,2");
    EXPECT_EQ(composeSettings(readSettingsFields("38400,m,7,2")), "38400,m,7,2");
}

// The page writes the composed settings string; the control then holds it,
// and a page whose settings were left alone does not rewrite them.
TEST(PropertyPages, CommunicationsPageEditsTheSettings)
{
    CQelComm c;
    NotifyLog notes;
    c.PropertyNotify().connect(&notes);
    CommunicationsPage page;
    page.load(c);
    EXPECT_EQ(page.commPort->count(), 63);   // COM0 to COM62
    EXPECT_EQ(page.baud->count(), 13);
    page.rThreshold->setValue(3);
    page.apply(c);
    EXPECT_EQ(c.RThreshold(), 3);
    EXPECT_EQ(notes.ids, std::vector<std::int32_t>{MemberId::RThreshold}) << "Settings not rewritten";

    page.baud->setEditText("31250");   // not in the list: typed
    page.parity->setCurrentIndex(3);
    page.dataBits->setCurrentIndex(2);
    page.stopBits->setCurrentIndex(1);
    page.commPort->setCurrentIndex(0);
    ASSERT_TRUE(page.isDirty());
    page.apply(c);
    EXPECT_EQ(c.Settings(), "31250,m,7,2");
    EXPECT_EQ(c.CommPort(), 0);

    // A port past the list shows and is kept.
    c.SetCommPort(64);
    page.load(c);
    EXPECT_EQ(page.commPort->currentText(), "COM64");
    page.stopBits->setCurrentIndex(2);
    page.apply(c);
    EXPECT_EQ(c.CommPort(), 64);
    EXPECT_EQ(c.Settings(), "31250,m,7,1.5");
}

TEST(PropertyPages, WriteOnlyWhenChanged)
{
    CQelComm c;
    NotifyLog notes;
    c.PropertyNotify().connect(&notes);

    CommSpyPage spy;
    spy.load(c);
    spy.apply(c);
    EXPECT_TRUE(notes.ids.empty());   // a clean page writes nothing

    spy.commSpy->setChecked(true);
    spy.output->setChecked(true);
    EXPECT_TRUE(spy.isDirty());
    spy.apply(c);
    EXPECT_FALSE(spy.isDirty());
    EXPECT_TRUE(c.CommSpy());
    EXPECT_TRUE(c.CommSpyOutput());
    EXPECT_FALSE(c.CommSpyInput());
    EXPECT_EQ(notes.ids, std::vector<std::int32_t>{MemberId::CommSpy});

    TerminalPage term;
    term.load(c);
    term.rows->setValue(40);
    term.scrollRows->setValue(100);
    term.apply(c);
    EXPECT_EQ(number(c, MemberId::Rows), 40);
    EXPECT_EQ(number(c, MemberId::ScrollRows), 100);
    EXPECT_EQ(number(c, MemberId::Columns), 80);
}

TEST(PropertyPages, FontKeepsWhatThePageDoesNotShow)
{
    CQelComm c;
    lt::automation::FontDesc f;
    f.name = "Fixed";
    f.size = 105000;   // 10.5 points
    f.weight = 500;
    f.charset = 0;
    c.SetFont(f);

    FontPage page;
    page.load(c);
    page.italic->setChecked(true);
    page.apply(c);
    EXPECT_EQ(c.Font().size, 105000u);
    EXPECT_EQ(c.Font().weight, 500);
    EXPECT_EQ(c.Font().charset, 0);
    EXPECT_TRUE(c.Font().italic);
    EXPECT_EQ(c.Font().name, "Fixed");

    page.bold->setChecked(true);
    page.size->setValue(14);
    page.face->setEditText("Courier");
    page.apply(c);
    EXPECT_EQ(c.Font().weight, 700);
    EXPECT_EQ(c.Font().size, 140000u);
    EXPECT_EQ(c.Font().name, "Courier");
}

TEST(PropertyPages, SheetAppliesEveryDirtyPageAndShowsTheOutcome)
{
    CQelComm c;
    PropertySheet sheet(c);
    ASSERT_EQ(sheet.tabs()->count(), 4);
    EXPECT_EQ(sheet.tabs()->tabText(0), "Communications");
    EXPECT_EQ(sheet.tabs()->tabText(1), "CommSpy");
    EXPECT_EQ(sheet.tabs()->tabText(2), "Terminal");
    EXPECT_EQ(sheet.tabs()->tabText(3), "Font");

    auto* comms = static_cast<CommunicationsPage*>(sheet.page(0));
    auto* term = static_cast<TerminalPage*>(sheet.page(2));
    comms->commPort->setCurrentIndex(12);
    comms->rThreshold->setValue(8);
    term->inputEcho->setChecked(true);
    sheet.applyAll();
    EXPECT_EQ(c.CommPort(), 12);
    EXPECT_EQ(c.RThreshold(), 8);
    Variant v;
    c.Dispatch().get(MemberId::InputEcho, v);
    EXPECT_TRUE(v.toBool());
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(sheet.page(i)->isDirty()) << i;
}

// The control's About method shows the About box modally.
TEST(PropertyPages, AboutShowsTheAboutBox)
{
    CQelComm c;
    QString title;
    QTimer::singleShot(0, [&] {
        auto* box = dynamic_cast<AboutBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        box->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    lt::automation::Args none;
    Variant result;
    EXPECT_FALSE(c.Dispatch().invoke(MemberId::About, none, result).failed());
    EXPECT_EQ(title, "About Qel Comm Objects");
}

}  // namespace
