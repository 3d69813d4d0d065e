// Wake on data: with the polling interval set to ten seconds, only the
// port's own news can bring an event in time; and a device that goes away
// is reported once and lets go of its name.
#include "engine_fixture.h"

#include <chrono>

using namespace enginetest;
using namespace qelcomm;

namespace {

class WakeTest : public EngineTest {};

TEST_F(WakeTest, ReceiveComesLongBeforeTheIntervalWouldHavePassed)
{
    QcHandle o = newObject();
    openOnPty(o);
    SetInterval(o, 10000);
    SetRThreshold(o, 1);
    SetWakeOnData(o, 1);
    EXPECT_NE(GetWakeOnData(o), 0);
    pumpFor(100);
    g_events.clear();

    const auto start = std::chrono::steady_clock::now();
    m_pty->send("q");
    ASSERT_TRUE(pumpUntil([] { return !g_events.empty(); }, 5000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(g_events.front(), Event_Receive);
    char c = 0;
    ASSERT_EQ(GetInput(o, &c, 1), 1);
    EXPECT_EQ(c, 'q');

    // Off again: the same byte now waits for the ten-second tick.
    SetWakeOnData(o, 0);
    g_events.clear();
    m_pty->send("r");
    pumpFor(500);
    EXPECT_TRUE(g_events.empty());
}

// The send threshold's event follows the output queue as the device takes
// bytes, so a writer can go on at once instead of at the next tick.
TEST_F(WakeTest, RoomInTheOutputQueueRunsATick)
{
    QcHandle o = newObject();
    SetOutBufferSize(o, 65536);
    openOnPty(o);
    SetInterval(o, 10000);
    SetWakeOnData(o, 1);
    SetSThreshold(o, 1);
    std::string data(60000, 'x');
    ASSERT_EQ(Output(o, data.data(), std::int32_t(data.size())), 1);
    EXPECT_GT(GetOutBufferCount(o), 1);
    pumpFor(100);
    g_events.clear();
    std::string got;
    ASSERT_TRUE(pumpUntil([&] {
        got += m_pty->receive(data.size(), 5);
        return got.size() == data.size() && !g_events.empty();
    }, 10000));
    EXPECT_EQ(g_events.back(), Event_Send);
    EXPECT_EQ(GetOutBufferCount(o), 0);
}

// Unplugged while open: one Error_DeviceRemoved, the port reads closed, and
// opening the same name again works once a device is back behind it.
TEST_F(WakeTest, AVanishedDeviceIsReportedOnceAndTheNameOpensAgain)
{
    for (const bool wake : {false, true}) {
        QcHandle o = newObject();
        openOnPty(o);
        SetInterval(o, 20);
        SetWakeOnData(o, wake ? 1 : 0);
        pumpFor(60);
        g_events.clear();
        m_pty->hangUp();
        ASSERT_TRUE(pumpUntil([] { return !g_events.empty(); }, 5000)) << "wake " << wake;
        pumpFor(200);
        EXPECT_EQ(g_events, std::vector<int>{Error_DeviceRemoved}) << "wake " << wake;
        EXPECT_EQ(GetPortOpen(o), 0);
        EXPECT_EQ(GetLastCommEvent(o), Error_DeviceRemoved);

        m_pty = std::make_unique<testsupport::PtyPair>();   // the device is back
        m_ports->map(7, m_pty->slavePath());
        ASSERT_EQ(SetPortOpen(o, 1), 1);
        m_pty->send("back");
        char buf[8] = {};
        ASSERT_TRUE(pumpUntil([&] { return GetInBufferCount(o) == 4; }, 5000));
        EXPECT_EQ(GetInput(o, buf, 4), 4);
        EXPECT_EQ(std::string(buf, 4), "back");
        SetPortOpen(o, 0);
    }
}

}  // namespace
