// The flat interface as the public headers declare it. Including the public
// headers together with the engine's own makes any declaration that drifted
// (a changed argument or result type of a C member) a compile error here.
#include "qelcomm6.hpp"

#include "comm_object.h"
#include "comm_spy.h"
#include "engine_fixture.h"
#include "qelcomm.h"
#include "qelcomm_modem.h"
#include "qelcomm_terminal.h"
#include "transfer_engine.h"

#include "serial/serial.h"
#include "win/win.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>

using namespace enginetest;

namespace {

class FlatApiTest : public EngineTest {
protected:
    void farSend(const std::string& bytes)
    {
        std::uint32_t written = 0;
        ASSERT_TRUE(serial::WriteFile(m_far, bytes.data(), std::uint32_t(bytes.size()), &written));
        ASSERT_EQ(written, bytes.size());
    }
    std::string farReceive(std::size_t count)
    {
        std::string got;
        pumpUntil([&] {
            // only what is queued, so the read never blocks
            serial::COMSTAT stat{};
            std::uint32_t errors = 0;
            serial::ClearCommError(m_far, &errors, &stat);
            char buf[256];
            std::uint32_t n = 0;
            if (stat.cbInQue > 0)
                serial::ReadFile(m_far, buf, std::min<std::uint32_t>(stat.cbInQue, sizeof buf), &n);
            got.append(buf, n);
            return got.size() >= count;
        });
        return got;
    }
};

TEST_F(FlatApiTest, AHandleThatIsNoObjectChangesNothingAndReadsZero)
{
    QcHandle alive = newObject();
    const QcHandle dead = CreateCommObject(0);
    DestroyCommObject(dead);
    for (QcHandle h : {QcHandle(0), dead, alive + 7919}) {
        SetHandshaking(h, 2);
        EXPECT_EQ(GetHandshaking(h), 0);
        SetPort(h, 3);
        EXPECT_EQ(GetPort(h), 0);
        EXPECT_EQ(SetPortOpen(h, 1), 0);
        char buffer[8] = "xxxxxxx";
        EXPECT_EQ(GetSettings(h, buffer), 0);
        EXPECT_STREQ(buffer, "xxxxxxx");
        EXPECT_EQ(SetCommSpyInput(h, 1), 0);
        EXPECT_EQ(GetTransferFilename(h, buffer, 8), 0);
        EXPECT_STREQ(buffer, "xxxxxxx");
        qelbasLineInput(h, h ? buffer : nullptr);
        if (h) {
            EXPECT_EQ(buffer[0], 0) << "the line buffer is emptied first";
        }
    }
    // The script functions leave everything alone for handle 0; for another
    // handle qelbasInput still terminates the (empty) input.
    char buffer[4] = "abc";
    qelbasInput(0, buffer, 3);
    EXPECT_STREQ(buffer, "abc");
    qelbasInput(dead, buffer, 3);
    EXPECT_EQ(buffer[0], 0);
}

TEST_F(FlatApiTest, PairsReadBackWhatWasStoredWhetherOrNotTheDriverTookIt)
{
    QcHandle o = newObject();
    SetPort(o, 21);
    EXPECT_EQ(GetCommPort(o), 21);
    SetCommPort(o, 22);
    EXPECT_EQ(GetPort(o), 22);

    SetInputTimeOut(o, 120);
    SetDriverInputTimeOut(o, 500);
    EXPECT_EQ(GetDriverInputTimeOut(o), 500u);
    EXPECT_EQ(GetInputTimeOut(o), 120u);
    SetInputDriverTimeOut(o, 700);
    EXPECT_EQ(GetDriverInputTimeOut(o), 700u);
    EXPECT_EQ(GetInputTimeOut(o), 120u);

    openOnLoopback(o);
    SetPort(o, 9);  // stored only while closed
    EXPECT_EQ(GetPort(o), 21);
    SetHandshaking(o, 7);  // no range check
    EXPECT_EQ(GetHandshaking(o), 7);
    SetRThreshold(o, 4);
    SetRThreshold(o, -1);
    EXPECT_EQ(GetRThreshold(o), 4);
    SetParityReplace(o, -9);
    EXPECT_EQ(GetParityReplace(o), -1);
    SetLookUpSeparator(o, ';');
    EXPECT_EQ(GetLookUpSeparator(o), ';');
}

TEST_F(FlatApiTest, ScriptFunctionsColourSendAndRead)
{
    QcHandle o = newObject();
    qelbasColor(o, 14, 1);
    EXPECT_EQ(GetColor(o), 30);
    qelbasColor(o, 0x1E, 0x21);  // only the low four bits of each count
    EXPECT_EQ(GetColor(o), 30);

    openOnLoopback(o);
    qelbasSend(o, "ATZ^M");
    EXPECT_EQ(farReceive(4), "ATZ\r");

    farSend("hello");
    char five[6] = "#####";
    ASSERT_TRUE(pumpUntil([&] { return GetInBufferCount(o) == 5; }));
    qelbasInput(o, five, 3);
    EXPECT_STREQ(five, "hel");

    ClearInputBuffer(o);
    SetInputTimeOut(o, 3000);
    farSend(std::string(300, 'a') + "\r");
    char line[kQelbasLineSize + 8];
    std::memset(line, '#', sizeof line);
    qelbasLineInput(o, line);
    EXPECT_EQ(std::strlen(line), std::size_t(kQelbasLineSize - 1));
    EXPECT_EQ(line[kQelbasLineSize], '#') << "nothing written past the documented size";
}

TEST_F(FlatApiTest, AbortCurrentFileAndAbortTransferAreOneOperation)
{
    QcHandle a = newObject();
    QcHandle b = newObject();
    EXPECT_EQ(GetAbortTransfer(a), 0);
    AbortTransfer(a);
    AbortCurrentFile(b);
    EXPECT_EQ(GetAbortTransfer(a), 1);
    EXPECT_EQ(GetAbortTransfer(b), 1);
    EXPECT_EQ(GetTransferFilenameLength(a), 0);
}

TEST_F(FlatApiTest, PumpCommEventsRunsThePollingTimerAndWaitsItsTime)
{
    QcHandle o = newObject();
    openOnLoopback(o);
    SetRThreshold(o, 1);
    farSend("x");
    const std::uint32_t start = win::tickCount();
    while (std::find(g_events.begin(), g_events.end(), int(qelcomm::Event_Receive)) == g_events.end() &&
           win::tickCount() - start < 10000)
        EXPECT_EQ(PumpCommEvents(50), 1);
    EXPECT_NE(std::find(g_events.begin(), g_events.end(), int(qelcomm::Event_Receive)), g_events.end());

    const std::uint32_t before = win::tickCount();
    PumpCommEvents(150);
    EXPECT_GE(win::tickCount() - before, 140u);
    const std::uint32_t now = win::tickCount();
    EXPECT_EQ(PumpCommEvents(0), 1);
    EXPECT_LT(win::tickCount() - now, 2000u);
}

}  // namespace

namespace {

// A thread Qt did not start, in a process whose event loop lives on the
// main thread, cannot run its comm objects' timers: PumpCommEvents says so
// at once instead of sleeping.
TEST(PumpCommEvents, ReturnsZeroAtOnceOnAThreadThatCannotRunEvents)
{
    ASSERT_NE(QCoreApplication::instance(), nullptr);   // made on the main thread
    int result = -1;
    std::uint32_t took = 0;
    std::thread worker([&] {
        const std::uint32_t start = win::tickCount();
        result = PumpCommEvents(500);
        took = win::tickCount() - start;
    });
    worker.join();
    EXPECT_EQ(result, 0);
    EXPECT_LT(took, 400u);
    EXPECT_EQ(PumpCommEvents(0), 1);
}

}  // namespace
