// The control's modem members: the Dial property's texts and status
// window against a scripted modem, the modem list through ModemIndex and
// the box members, and the settings the apply step hands to the object.
#include "control_fixture.h"
#include "modem_widgets.h"
#include "qel_comm_modem.h"
#include "qelcomm_modem.h"
#include "scripted_modem.h"
#include "temp_dir.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QListWidget>

using namespace controltest;
using lt::automation::Variant;
namespace M = MemberId;

namespace {

class ControlModemTest : public ControlTest {
protected:
    void SetUp() override
    {
        setenv("XDG_STATE_HOME", m_state.path().c_str(), 1);
        ControlTest::SetUp();
        qelcomm::modem::installModemWindows();
    }
    void TearDown() override
    {
        m_modem.reset();
        ControlTest::TearDown();
    }
    void openModem()
    {
        openOnPty();
        m_modem = std::make_unique<modemtest::ScriptedModem>(m_pty->master());
    }
    std::string text(std::int32_t id)
    {
        Variant v;
        EXPECT_FALSE(m_control->Dispatch().get(id, v).failed());
        return v.toString();
    }
    void put(std::int32_t id, const Variant& v) { EXPECT_FALSE(m_control->Dispatch().put(id, v).failed()); }

    testsupport::TempDir m_state;
    std::unique_ptr<modemtest::ScriptedModem> m_modem;
};

bool dialWindowVisible()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QDialog*>(w) && w->isVisible() && w->windowTitle() == "Dial Status")
            return true;
    return false;
}

TEST_F(ControlModemTest, DialTextFollowsTheOutcome)
{
    openModem();
    m_modem->answerDial("123", "BUSY");
    m_modem->answerDial("200", "CONNECT 9600");
    put(M::Dial, Variant("123"));
    EXPECT_EQ(text(M::Dial), "Busy");
    put(M::Dial, Variant("200"));
    EXPECT_EQ(text(M::Dial), "");
    put(M::DialTimeOut, Variant(std::int32_t(1000)));
    put(M::Dial, Variant("999"));
    EXPECT_EQ(text(M::Dial), "Time out");
    EXPECT_EQ(DialResultText(42), "Unexpected error");
}

TEST_F(ControlModemTest, HangUpInsideTheDialCancelsItAndTheWindowCloses)
{
    openModem();
    put(M::DialTimeOut, Variant(std::int32_t(20000)));
    m_control->SetSThreshold(1);   // a Send event on every tick
    std::string textWhileDialing;
    bool windowShown = false, blocked = false;
    m_sink.during = [&](std::int32_t dispid) {
        if (dispid != EventId::Send || !m_modem->dialSeen() || !textWhileDialing.empty())
            return;
        textWhileDialing = text(M::Dial);
        windowShown = dialWindowVisible();
        Variant v;
        blocked = m_control->Dispatch().get(M::InitModem, v).failed();   // Dial holds the guard
        EXPECT_EQ(text(M::HangUp), "True");
    };
    put(M::Dial, Variant("600"));
    EXPECT_EQ(textWhileDialing, "Dialing...");
    EXPECT_TRUE(windowShown);
    EXPECT_TRUE(blocked);
    EXPECT_EQ(text(M::Dial), "Canceled");
    EXPECT_FALSE(dialWindowVisible());
}

TEST_F(ControlModemTest, ModemListEntriesReachTheObjectAndTheBoxes)
{
    put(M::ModemIndex, Variant(std::int32_t(4)));    // from the list beside the library
    put(M::ModemIndex, Variant(std::int32_t(99)));   // no such entry: nothing changes
    EXPECT_EQ(text(M::ModemIndex), "4");
    put(M::ModemInitCommand, Variant("AT\tZ^M"));
    EXPECT_EQ(text(M::ModemInitCommand), "ATZ^M");  // a tab would split the field
    m_control->ApplyProperties();
    std::string line(QC_MODEM_OPTIONS_SIZE, '\0');
    line.resize(std::size_t(GetModemOptions(m_control->Window(), line.data())));
    EXPECT_EQ(line, "GSM/LTE Module (data call)\tATZ^M\tATD\tATD\tATS0=1^M\t~~+++~~ATH^M\t115200\t");
    EXPECT_EQ(GetDialTimeOut(m_control->Window()), 60000u);

    QComboBox combo;
    QListWidget list;
    put(M::FillModemCombo, Variant(qelcomm::modem::modemBoxId(&combo)));
    put(M::FillModemList, Variant(qelcomm::modem::modemBoxId(&list)));
    ASSERT_EQ(combo.count(), 6);
    EXPECT_EQ(combo.itemText(0), "Hayes Compatible");
    EXPECT_EQ(combo.currentIndex(), 4);
    EXPECT_EQ(combo.itemData(5).toInt(), 5);
    EXPECT_EQ(list.count(), 6);
    EXPECT_EQ(list.currentRow(), 4);
}

}  // namespace
