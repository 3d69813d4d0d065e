// Polling: threshold events, modem-line changes, line errors, automatic
// receive with the download detector, and delivery by WM_COMMAND.
#include "engine_fixture.h"

using namespace enginetest;
namespace loopback = serial::loopback;
using namespace qelcomm;

namespace {

class EventsTest : public EngineTest {
protected:
    // Runs n polling ticks by hand, the way the timer would.
    void tick(QcHandle o, int n = 1)
    {
        for (int i = 0; i < n; ++i)
            PollTick(o);
    }
};

TEST_F(EventsTest, ReceiveRepeatsEveryTickUntilTheByteIsRead)
{
    QcHandle o = newObject();
    serial::Handle far = openOnLoopback(o);
    SetRThreshold(o, 1);
    tick(o);
    EXPECT_TRUE(g_events.empty());
    std::uint32_t written = 0;
    serial::WriteFile(far, "x", 1, &written);
    tick(o, 3);
    EXPECT_EQ(g_events, (std::vector<int>{Event_Receive, Event_Receive, Event_Receive}));
    char c;
    ASSERT_EQ(GetInput(o, &c, 1), 1);
    g_events.clear();
    tick(o);
    EXPECT_TRUE(g_events.empty());
}

TEST_F(EventsTest, ThePollTimerDeliversWithoutHelp)
{
    QcHandle o = newObject();
    serial::Handle far = openOnLoopback(o);
    SetInterval(o, 20);
    SetRThreshold(o, 1);
    std::uint32_t written = 0;
    serial::WriteFile(far, "x", 1, &written);
    EXPECT_TRUE(pumpUntil([] { return g_events.size() >= 2; }, 2000));
    EXPECT_EQ(GetLastCommEvent(o), Event_Receive);
}

TEST_F(EventsTest, SendThresholdZeroNeverFiresAndOneFiresOnEveryTick)
{
    QcHandle o = newObject();
    openOnLoopback(o);
    tick(o, 2);
    EXPECT_TRUE(g_events.empty());
    SetSThreshold(o, 1);
    tick(o, 2);
    EXPECT_EQ(g_events, (std::vector<int>{Event_Send, Event_Send}));
    SetSThreshold(o, -5);  // ignored
    EXPECT_EQ(GetSThreshold(o), 1);
}

TEST_F(EventsTest, ModemLineChangesInTheirFixedOrder)
{
    QcHandle o = newObject();
    serial::Handle far = openOnLoopback(o);
    serial::EscapeCommFunction(far, serial::CLRRTS);
    serial::EscapeCommFunction(far, serial::CLRDTR);
    tick(o);
    g_events.clear();

    // CTS and DSR (and CD, wired with DSR) change before one tick.
    serial::EscapeCommFunction(far, serial::SETDTR);
    serial::EscapeCommFunction(far, serial::SETRTS);
    tick(o);
    EXPECT_EQ(g_events, (std::vector<int>{Event_Cts, Event_Dsr, Event_Carrier}));

    g_events.clear();
    tick(o);
    EXPECT_TRUE(g_events.empty());

    loopback::setRing("COM21", true);
    tick(o);
    loopback::setRing("COM21", false);
    tick(o);
    EXPECT_EQ(g_events, (std::vector<int>{Event_Ring}));
}

TEST_F(EventsTest, LinesHighAtOpenRaiseNothing)
{
    serial::loopback::createPair("COM24", "FAR24");
    serial::Handle far = serial::CreateFile("FAR24");
    serial::EscapeCommFunction(far, serial::SETDTR);
    serial::EscapeCommFunction(far, serial::SETRTS);
    QcHandle o = newObject();
    SetCommPort(o, 24);
    ASSERT_EQ(SetPortOpen(o, 1), 1);
    tick(o, 2);
    EXPECT_TRUE(g_events.empty());
    serial::CloseHandle(far);
}

TEST_F(EventsTest, LineErrorsAreDeliveredInCodeOrder)
{
    QcHandle o = newObject();
    openOnLoopback(o);
    loopback::injectErrors("COM21", serial::CE_FRAME | serial::CE_BREAK);
    ClearOutputBuffer(o);  // one of the operations that reports line errors
    EXPECT_EQ(g_events, (std::vector<int>{Error_Break, Error_FrameError}));
    EXPECT_EQ(GetLastCommError(o), 0x18u);

    g_events.clear();
    loopback::injectErrors("COM21", serial::CE_TXFULL | serial::CE_RXPARITY | serial::CE_RXOVER | serial::CE_OVERRUN);
    CheckLineErrors(o);
    EXPECT_EQ(g_events,
              (std::vector<int>{Error_DataOverrun, Error_ReceiveBufferOverflow, Error_Parity, Error_SendBufferOverflow}));

    // The tick's own status read and the counters clear errors silently.
    g_events.clear();
    loopback::injectErrors("COM21", serial::CE_FRAME);
    tick(o);
    loopback::injectErrors("COM21", serial::CE_FRAME);
    GetInBufferCount(o);
    EXPECT_TRUE(g_events.empty());
    CheckLineErrors(o);
    EXPECT_TRUE(g_events.empty());
    EXPECT_EQ(GetLastCommError(o), 0u);
}

TEST_F(EventsTest, AutomaticReceiveReadsEverythingAndDetectsADownload)
{
    QcHandle o = newObject();
    serial::Handle far = openOnLoopback(o);
    SetAutoProcess(o, AutoProcess_Receive);
    EXPECT_EQ(GetRThreshold(o), 1);
    const std::string big(450, 'q');
    std::uint32_t written = 0;
    serial::WriteFile(far, big.data(), std::uint32_t(big.size()), &written);
    tick(o);
    EXPECT_EQ(GetInBufferCount(o), 0);  // 200 + 200 + 50 in one tick
    EXPECT_TRUE(g_events.empty());      // no Receive event in this mode

    serial::WriteFile(far, "rrz\r**", 6, &written);
    tick(o);
    EXPECT_EQ(resolve(o)->downloadRequests, 0);
    serial::WriteFile(far, "rz\r**", 5, &written);
    tick(o);
    EXPECT_EQ(resolve(o)->downloadRequests, 1);
}

TEST_F(EventsTest, CommEchoWritesReceivedBytesBack)
{
    QcHandle o = newObject();
    serial::Handle far = openOnLoopback(o);
    SetAutoProcess(o, AutoProcess_Receive);
    SetCommEcho(o, 1);
    std::uint32_t n = 0;
    serial::WriteFile(far, "echo", 4, &n);
    tick(o);
    char back[8] = {};
    serial::ReadFile(far, back, 4, &n);
    EXPECT_EQ(std::string(back, n), "echo");
}

// Event windows: the code travels in the high word of lParam.
std::vector<std::pair<win::WParam, win::LParam>> g_commands;
win::LResult commandProc(win::Hwnd h, std::uint32_t msg, win::WParam w, win::LParam l)
{
    if (msg == win::WM_COMMAND) {
        g_commands.emplace_back(w, l);
        return 0;
    }
    return win::defWindowProc(h, msg, w, l);
}

TEST_F(EventsTest, WithoutACallbackEventsArriveAsCommandMessages)
{
    g_commands.clear();
    win::WndClass cls;
    cls.name = "EventSink";
    cls.proc = commandProc;
    win::registerClass(cls);
    win::Hwnd parent = win::createWindow("EventSink", "", 0, 0);
    win::Hwnd sink = win::createWindow("EventSink", "", 0, 0);

    QcHandle o = CreateCommObject(parent);
    serial::loopback::createPair("COM25", "FAR25");
    SetCommPort(o, 25);
    ASSERT_EQ(SetPortOpen(o, 1), 1);
    SetSThreshold(o, 1);
    tick(o);
    ASSERT_EQ(g_commands.size(), 1u);  // to the parent
    EXPECT_EQ((std::uint32_t(g_commands[0].second) >> 16) & 0xFFFF, std::uint32_t(Event_Send));
    EXPECT_EQ(std::uint32_t(g_commands[0].second) & 0xFFFF, std::uint32_t(o) & 0xFFFF);
    EXPECT_EQ(g_commands[0].first, win::WParam(win::getDlgCtrlId(o)));

    SetEventWindow(o, sink);
    tick(o);
    ASSERT_EQ(g_commands.size(), 2u);
    EXPECT_EQ(GetLastCommEvent(o), Event_Send);
    win::destroyWindow(parent);
    win::destroyWindow(sink);
}

}  // namespace
