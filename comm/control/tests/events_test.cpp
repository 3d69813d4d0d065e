// Engine codes to control events: order, CommEvent inside the handlers,
// OnComm and IgnoreOnComm, the command-message road of an in-place control,
// and handlers that destroy the control.
#include "control_fixture.h"

#include "comm_object.h"

namespace controltest {
namespace {

namespace E = EventId;

class EventsTest : public ControlTest {};

TEST_F(EventsTest, ReceiveRepeatsEveryTickUntilTheByteIsRead)
{
    openOnPty();
    m_control->SetRThreshold(1);
    m_pty->send("A");
    ASSERT_TRUE(pumpUntil([&] { return m_sink.seen.size() >= 4; }, 5000));
    const std::vector<Seen> pair{{E::OnComm, 2}, {E::Receive, 2}};
    EXPECT_EQ(std::vector<Seen>(m_sink.seen.begin(), m_sink.seen.begin() + 2), pair);
    EXPECT_EQ(std::vector<Seen>(m_sink.seen.begin() + 2, m_sink.seen.begin() + 4), pair);

    std::string got;
    ASSERT_FALSE(m_control->Input(got).failed());
    EXPECT_EQ(got, "A");
    m_sink.seen.clear();
    pumpFor(300);
    EXPECT_TRUE(m_sink.seen.empty());

    // Without the compatibility event only Receive arrives.
    m_control->SetIgnoreOnComm(true);
    m_pty->send("B");
    ASSERT_TRUE(pumpUntil([&] { return m_sink.seen.size() >= 2; }, 5000));
    EXPECT_EQ(m_sink.seen[0], (Seen{E::Receive, 2}));
    EXPECT_EQ(m_sink.seen[1], (Seen{E::Receive, 2}));
}

TEST_F(EventsTest, LineErrorReachesTheContainerThroughOnCommAlone)
{
    openOnLoopback();
    m_sink.seen.clear();
    serial::loopback::injectErrors("COM21", serial::CE_FRAME);
    m_control->SetOutBufferCount(0);   // clearing a queue reports line errors
    EXPECT_EQ(m_sink.seen, (std::vector<Seen>{{E::OnComm, Error_FrameError}}));
    EXPECT_EQ(m_control->CommError(), std::int32_t(serial::CE_FRAME));

    m_sink.seen.clear();
    m_control->SetIgnoreOnComm(true);
    serial::loopback::injectErrors("COM21", serial::CE_FRAME);
    m_control->SetOutBufferCount(0);
    EXPECT_TRUE(m_sink.seen.empty());
    EXPECT_EQ(m_control->CommEvent(), Error_FrameError);
}

TEST_F(EventsTest, ModemLinesChangingInOneTickFireInLineOrder)
{
    serial::Handle far = openOnLoopback();
    serial::EscapeCommFunction(far, serial::CLRRTS);
    serial::EscapeCommFunction(far, serial::CLRDTR);
    tick(*m_control);
    m_sink.seen.clear();

    // The far end's DTR drives both DSR and CD on this double.
    serial::EscapeCommFunction(far, serial::SETDTR);
    serial::EscapeCommFunction(far, serial::SETRTS);
    tick(*m_control);
    EXPECT_EQ(m_sink.seen, (std::vector<Seen>{{E::OnComm, 3},
                                              {E::CTSChanged, 3},
                                              {E::OnComm, 4},
                                              {E::DSRChanged, 4},
                                              {E::OnComm, 5},
                                              {E::CarrierChanged, 5}}));
    EXPECT_TRUE(m_control->CTSHolding());
    EXPECT_TRUE(m_control->DSRHolding());
    EXPECT_TRUE(m_control->CDHolding());
}

TEST_F(EventsTest, OpeningWithCarrierOnFiresCarrierChangedAlone)
{
    serial::loopback::createPair("COM22", "FAR22");
    m_far = serial::CreateFile("FAR22");
    serial::EscapeCommFunction(m_far, serial::SETDTR);
    m_control->SetAutoProcess(0);
    m_control->SetCommPort(22);
    m_control->SetPortOpen(true);
    ASSERT_EQ(m_sink.seen.size(), 1u);
    EXPECT_EQ(m_sink.seen[0].dispid, E::CarrierChanged);

    // Reopening without carrier, and a failed open, fire nothing.
    m_control->SetPortOpen(false);
    serial::EscapeCommFunction(m_far, serial::CLRDTR);
    m_sink.seen.clear();
    m_control->SetPortOpen(true);
    m_control->SetPortOpen(false);
    m_control->SetCommPort(63);
    ErrorInfo e = m_control->SetPortOpen(true);
    EXPECT_FALSE(e.failed());
    EXPECT_FALSE(m_control->PortOpen());
    EXPECT_TRUE(m_sink.seen.empty());
}

// The container's status bar is asked to refresh after each write of
// Settings, CommPort and PortOpen and after a carrier change, and sees the
// new state; other writes leave it alone.
TEST_F(EventsTest, StatusBarFollowsSettingsPortConnectionAndCarrier)
{
    std::vector<std::string> shown;
    m_control->SetStatusRefresh([&] {
        shown.push_back(m_control->Settings() + " COM" + std::to_string(m_control->CommPort()) +
                        (m_control->PortOpen() ? " open" : " closed") + (m_control->CDHolding() ? " CD" : ""));
    });
    serial::loopback::createPair("COM23", "FAR23");
    m_far = serial::CreateFile("FAR23");
    serial::EscapeCommFunction(m_far, serial::SETDTR);   // carrier on at the open
    m_control->SetAutoProcess(0);
    m_control->Dispatch().put(MemberId::Settings, lt::automation::Variant("2400,e,7,1"));
    m_control->Dispatch().put(MemberId::CommPort, lt::automation::Variant(std::int16_t(23)));
    m_control->Dispatch().put(MemberId::RThreshold, lt::automation::Variant(std::int32_t(1)));
    m_control->SetPortOpen(true);
    tick(*m_control);
    serial::EscapeCommFunction(m_far, serial::CLRDTR);
    tick(*m_control);
    m_control->SetPortOpen(false);
    EXPECT_EQ(shown, (std::vector<std::string>{"2400,e,7,1 COM1 closed", "2400,e,7,1 COM23 closed",
                                               "2400,e,7,1 COM23 open CD", "2400,e,7,1 COM23 open",
                                               "2400,e,7,1 COM23 closed"}));
}

TEST_F(EventsTest, TransferProgressNeverRaisesOnComm)
{
    qelcomm::FireCommEvent(m_control->Window(), Event_Transfer);
    EXPECT_EQ(m_sink.seen, (std::vector<Seen>{{E::FinishFileTransfer, Event_Transfer}}));

    EXPECT_EQ(TransferEventFor(TransferStatus_Transfering), E::TransferBlock);
    EXPECT_EQ(TransferEventFor(TransferStatus_Failure), E::AbortFileTransfer);
    EXPECT_EQ(TransferEventFor(TransferStatus_TransferAborting), E::AbortFileTransfer);
    EXPECT_EQ(TransferEventFor(TransferStatus_EndOfFile), E::FinishFile);
    EXPECT_EQ(TransferEventFor(8), 0);

    // EOF reaches the container through OnComm only.
    m_sink.seen.clear();
    qelcomm::FireCommEvent(m_control->Window(), Event_Eof);
    EXPECT_EQ(m_sink.seen, (std::vector<Seen>{{E::OnComm, Event_Eof}}));
}

TEST_F(EventsTest, InPlaceControlGetsItsEventsAsCommandMessages)
{
    win::WndClass cls;
    cls.name = "ControlTestContainer";
    cls.proc = win::defWindowProc;
    win::registerClass(cls);
    const win::Hwnd container = win::createWindow("ControlTestContainer", "", win::WS_POPUP, 0);
    ASSERT_NE(container, 0u);

    m_control->SetCommPort(21);
    m_control->SetSettings("19200,e,7,1");
    m_control->SetAutoProcess(0);
    m_control->SetAmbientDisplayName("Comm1");
    const win::Hwnd popUp = m_control->Window();
    ASSERT_TRUE(m_control->InPlaceActivate(container));
    EXPECT_FALSE(win::isWindow(popUp));
    EXPECT_EQ(win::getParent(m_control->Window()), container);
    EXPECT_EQ(qelcomm::resolve(m_control->Window())->eventCallback, nullptr);
    // The stored properties hold in the new object.
    EXPECT_EQ(m_control->CommPort(), 21);
    EXPECT_EQ(m_control->Settings(), "19200,e,7,1");
    EXPECT_EQ(m_control->InBufferSize(), 16384);
    EXPECT_EQ(m_control->ObjectName(), "Comm1");

    serial::Handle far = openOnLoopback();
    serial::EscapeCommFunction(far, serial::CLRRTS);
    tick(*m_control);
    m_sink.seen.clear();
    serial::EscapeCommFunction(far, serial::SETRTS);
    tick(*m_control);
    EXPECT_EQ(m_sink.seen, (std::vector<Seen>{{E::OnComm, 3}, {E::CTSChanged, 3}}));

    m_owned.reset();
    m_control = nullptr;
    win::destroyWindow(container);
}

TEST_F(EventsTest, HandlerMayDestroyTheControl)
{
    serial::Handle far = openOnLoopback();
    serial::EscapeCommFunction(far, serial::CLRRTS);
    serial::EscapeCommFunction(far, serial::CLRDTR);
    tick(*m_control);
    const win::Hwnd object = m_control->Window();
    m_sink.seen.clear();
    m_sink.during = [&](std::int32_t) {
        m_owned.reset();
        m_control = nullptr;
    };
    serial::EscapeCommFunction(far, serial::SETDTR);
    serial::EscapeCommFunction(far, serial::SETRTS);
    win::sendMessage(object, win::WM_TIMER, 1, 0);
    // The first OnComm destroyed it: nothing more is fired.
    EXPECT_EQ(m_sink.seen.size(), 1u);
    EXPECT_FALSE(win::isWindow(object));
}

}  // namespace
}  // namespace controltest
