// Defaults of a new control, the particulars of single properties, and the
// automation view of the member table.
#include "control_fixture.h"

namespace controltest {
namespace {

using lt::automation::Variant;
namespace M = MemberId;

class PropertiesTest : public ControlTest {
protected:
    Variant get(std::int32_t id)
    {
        Variant v;
        EXPECT_FALSE(m_control->Dispatch().get(id, v).failed()) << id;
        return v;
    }
    ErrorInfo put(std::int32_t id, const Variant& v) { return m_control->Dispatch().put(id, v); }
};

struct NotifyLog : lt::automation::EventSink {
    std::vector<std::int32_t> ids;
    void onEvent(std::int32_t dispid, lt::automation::Args&) override { ids.push_back(dispid); }
};

TEST_F(PropertiesTest, NewControlHoldsTheDefaultsInItsObject)
{
    EXPECT_EQ(m_control->Settings(), "9600,n,8,1");
    EXPECT_EQ(m_control->CommPort(), 1);
    EXPECT_FALSE(m_control->PortOpen());
    EXPECT_EQ(m_control->Handshaking(), 2);
    EXPECT_EQ(m_control->InBufferSize(), 16384);
    EXPECT_EQ(m_control->OutBufferSize(), 16384);
    EXPECT_EQ(m_control->AutoProcess(), 3);
    EXPECT_TRUE(m_control->AutoReceive());
    EXPECT_TRUE(m_control->AutoSend());
    EXPECT_EQ(m_control->LookUpTimeOut(), 10000);
    EXPECT_EQ(m_control->LookUpSeparator(), "|");
    EXPECT_EQ(m_control->ParityReplace(), "");
    EXPECT_EQ(m_control->RThreshold(), 0);
    EXPECT_FALSE(m_control->RTSEnable());
    EXPECT_TRUE(m_control->Enabled());
    EXPECT_EQ(m_control->CommEvent(), 0);
    EXPECT_EQ(m_control->ObjectName(), "QelComm");

    EXPECT_EQ(get(M::Enabled).toAutomationBool(), -1);
    EXPECT_EQ(get(M::RTSEnable).toAutomationBool(), 0);
    EXPECT_EQ(*get(M::Columns).toInt32(), 80);
    EXPECT_EQ(*get(M::Emulation).toInt32(), 4);
    EXPECT_EQ(*get(M::DialTimeOut).toInt32(), 60000);
    EXPECT_EQ(*get(M::XferProtocol).toInt32(), 5);
    EXPECT_EQ(get(M::ModemInitCommand).toString(), "ATX4E1V1S7=60&C1^M");
}

TEST_F(PropertiesTest, SingleValueParticulars)
{
    m_control->SetParityReplace("");
    EXPECT_EQ(m_control->ParityReplace(), "");
    m_control->SetParityReplace("?!");
    EXPECT_EQ(m_control->ParityReplace(), "?");
    m_control->SetParityReplace("\xFF");
    EXPECT_EQ(m_control->ParityReplace(), "\xFF");

    m_control->SetOutTimeOut(500);
    EXPECT_FALSE(m_control->SetOutTimeOut(-1).failed());
    EXPECT_EQ(m_control->OutTimeOut(), 500);

    m_control->SetAutoProcess(1);
    m_control->SetAutoSend(true);
    EXPECT_EQ(m_control->AutoProcess(), 3);
    m_control->SetAutoReceive(false);
    EXPECT_EQ(m_control->AutoProcess(), 2);
    m_control->SetAutoSend(false);
    EXPECT_EQ(m_control->AutoProcess(), 0);

    m_control->SetLookUpSeparator("");
    EXPECT_EQ(m_control->LookUpSeparator(), std::string(1, '\0'));
    m_control->SetLookUpSeparator(",;");
    EXPECT_EQ(m_control->LookUpSeparator(), ",");

    m_control->SetEnabled(false);
    EXPECT_EQ(get(M::Enabled).toAutomationBool(), 0);
}

TEST_F(PropertiesTest, WritingInBufferCountEmptiesOnlyForZero)
{
    openOnPty();
    m_pty->send("12345");
    ASSERT_TRUE(pumpUntil([&] { return m_control->InBufferCount() == 5; }, 3000));
    m_control->SetInBufferCount(5);
    EXPECT_EQ(m_control->InBufferCount(), 5);
    EXPECT_FALSE(put(M::InBufferCount, Variant(std::int32_t(0))).failed());
    EXPECT_EQ(m_control->InBufferCount(), 0);
}

TEST_F(PropertiesTest, AutomationViewUsesBooleansAndNames)
{
    const auto& t = m_control->Dispatch();
    EXPECT_EQ(t.idOfName("portopen"), M::PortOpen);
    EXPECT_EQ(t.idOfName("ComInput"), M::ComInput);
    EXPECT_EQ(t.nameOf(M::OutTimeOut), "OutTimeOut");
    EXPECT_FALSE(t.isWritable(M::CTSHolding));
    EXPECT_FALSE(t.isWritable(M::XferStatus));
    EXPECT_TRUE(t.isWritable(M::Output));

    // Any nonzero number written is true; reads give -1.
    EXPECT_FALSE(put(M::NullDiscard, Variant(std::int16_t(5))).failed());
    EXPECT_TRUE(m_control->NullDiscard());
    EXPECT_EQ(get(M::NullDiscard).toAutomationBool(), -1);

    EXPECT_EQ(put(M::CommPort, Variant("COM3")).hresult, lt::automation::kTypeMismatch);
    EXPECT_FALSE(put(M::CommPort, Variant(std::int16_t(3))).failed());
    EXPECT_EQ(m_control->CommPort(), 3);

    // Stored members keep the type they declare.
    EXPECT_FALSE(put(M::Columns, Variant("132")).failed());
    EXPECT_EQ(get(M::Columns), Variant(std::int32_t(132)));
    EXPECT_FALSE(put(M::ToolbarVisible, Variant(std::int32_t(0))).failed());
    EXPECT_EQ(get(M::ToolbarVisible).toAutomationBool(), 0);

    lt::automation::Variant a(std::int32_t(3)), b(std::int32_t(1)), r;
    lt::automation::Args args{&a, &b};
    EXPECT_FALSE(t.invoke(M::CommandState, args, r).failed());
    lt::automation::Args one{&a};
    EXPECT_FALSE(t.invoke(M::CommandState, one, r).failed());
    EXPECT_EQ(*r.toInt32(), 1);
}

TEST_F(PropertiesTest, ChangesAreAnnouncedAndRejectedSettingsAreVisible)
{
    NotifyLog log;
    m_control->PropertyNotify().connect(&log);
    m_control->SetSettings("19200,e,7,2");
    m_control->SetHandshaking(0);
    m_control->SetRThreshold(4);
    put(M::Columns, Variant(std::int32_t(132)));
    m_control->SetCommSpy(false);
    EXPECT_EQ(log.ids, (std::vector<std::int32_t>{M::Settings, M::RThreshold, M::Columns, M::CommSpy}));

    ErrorInfo e = m_control->SetSettings("fast please");
    EXPECT_FALSE(e.failed());
    EXPECT_EQ(e.code, 380);
    EXPECT_EQ(m_control->Settings(), "19200,e,7,2");
}

}  // namespace
}  // namespace controltest

namespace controltest {
namespace {

// A program without widgets (a core application): About shows nothing and
// returns at once.
TEST_F(PropertiesTest, AboutWithoutWidgetsReturnsAtOnce)
{
    lt::automation::Args none;
    Variant result;
    EXPECT_FALSE(m_control->Dispatch().invoke(MemberId::About, none, result).failed());
}

}  // namespace
}  // namespace controltest
