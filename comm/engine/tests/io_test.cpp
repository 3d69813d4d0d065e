// Moving bytes: reads, line reads, writes with and without a time-out,
// modem output, look-up, and waits that a handler interrupts.
#include "engine_fixture.h"

#include <chrono>
#include <cstring>
#include <thread>

using namespace enginetest;
namespace loopback = serial::loopback;

namespace {

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point t)
{
    return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

std::string allBytes()
{
    std::string s;
    for (int i = 0; i < 256; ++i)
        s.push_back(char(i));
    return s;
}

class IoTest : public EngineTest {};

TEST_F(IoTest, ReceivedBytesRaiseReceiveAndAreReadByteExact)
{
    QcHandle o = newObject();
    openOnPty(o);
    SetRThreshold(o, 1);
    SetInBufferSize(o, 4096);  // ignored while open; the default 2048 holds 256 bytes
    std::string received;
    g_onEvent = [&](QcHandle obj, int code) {
        if (code != qelcomm::Event_Receive)
            return;
        char buf[512];
        while (int n = GetInput(obj, buf, sizeof buf))
            received.append(buf, std::size_t(n));
    };
    m_pty->send(allBytes());
    EXPECT_TRUE(pumpUntil([&] { return received.size() >= 256; }, 3000));
    EXPECT_EQ(received, allBytes());
}

TEST_F(IoTest, GetInputTakesWhatIsQueuedUpToTheBufferSize)
{
    QcHandle o = newObject();
    SetInBufferSize(o, 2);
    openOnPty(o);
    m_pty->send("abcd");
    ASSERT_TRUE(pumpUntil([&] { return GetInBufferCount(o) == 4; }, 2000));
    char buf[10] = {};
    EXPECT_EQ(GetInput(o, buf, 10), 2);
    EXPECT_EQ(std::string(buf, 2), "ab");
    EXPECT_EQ(GetInBufferCount(o), 2);
    EXPECT_EQ(GetInput(o, buf, 0), 0);
    ClearInputBuffer(o);
    EXPECT_EQ(GetInBufferCount(o), 0);
    SetPortOpen(o, 0);
    EXPECT_EQ(GetInput(o, buf, 10), 0);
    EXPECT_EQ(GetInBufferCount(o), 0);
}

TEST_F(IoTest, LineInputSplitsAtCarriageReturnsAndDropsLineFeeds)
{
    QcHandle o = newObject();
    openOnPty(o);
    SetInputTimeOut(o, 1000);
    m_pty->send("AB\r\nCD\r");
    char line[64];
    EXPECT_EQ(GetLineInput(o, line, sizeof line), 2);
    EXPECT_STREQ(line, "AB");
    EXPECT_EQ(GetLineInput(o, line, sizeof line), 2);
    EXPECT_STREQ(line, "CD");

    // A full buffer ends the line; the rest stays queued.
    m_pty->send("ABCDEF");
    ASSERT_TRUE(pumpUntil([&] { return GetInBufferCount(o) == 6; }, 2000));
    EXPECT_EQ(GetLineInput(o, line, 4), 3);
    EXPECT_STREQ(line, "ABC");
    EXPECT_EQ(GetInBufferCount(o), 3);
}

TEST_F(IoTest, LineInputGivesUpAfterTheInputTimeOut)
{
    QcHandle o = newObject();
    openOnPty(o);
    SetInputTimeOut(o, 300);
    char line[16] = "x";
    const auto start = Clock::now();
    EXPECT_EQ(GetLineInput(o, line, sizeof line), 0);
    EXPECT_STREQ(line, "");
    EXPECT_GE(msSince(start), 250);
    EXPECT_LT(msSince(start), 3000);
}

TEST_F(IoTest, OutputReachesTheFarEndByteExact)
{
    QcHandle o = newObject();
    openOnPty(o);
    SetOutputTimeOut(o, 2000);
    const std::string data = allBytes() + allBytes();
    EXPECT_EQ(Output(o, data.data(), std::int32_t(data.size())), 1);
    EXPECT_EQ(m_pty->receive(data.size(), 3000), data);
    EXPECT_EQ(ComOutput(o, "xyz", 3), 3);
    EXPECT_EQ(m_pty->receive(3, 2000), "xyz");
    EXPECT_EQ(FlushOutputBuffer(o, 1000), 1);
}

TEST_F(IoTest, OutputOnAClosedPortFails)
{
    QcHandle o = newObject();
    SetEcho(o, 1);
    EXPECT_EQ(Output(o, "ab", 2), 0);
    EXPECT_EQ(ComOutput(o, "ab", 2), 0);
}

// Without a time-out a write makes one attempt; what the driver did not
// take is a failure, not success. With one it keeps writing until the time
// is up.
TEST_F(IoTest, OutputThatTheDriverTakesOnlyPartOfFails)
{
    QcHandle o = newObject();
    const serial::Handle far = openOnLoopback(o);
    serial::COMMTIMEOUTS noWait;
    noWait.ReadIntervalTimeout = 0xFFFFFFFF;  // reads return what is there
    serial::SetCommTimeouts(far, &noWait);
    loopback::limitWrites("COM21", 2);
    EXPECT_EQ(Output(o, "abcdef", 6), 0);
    char got[16] = {};
    std::uint32_t n = 0;
    ASSERT_TRUE(serial::ReadFile(far, got, sizeof got, &n));
    EXPECT_EQ(std::string(got, n), "ab");

    SetOutputTimeOut(o, 500);
    EXPECT_EQ(Output(o, "abcdef", 6), 1);  // three writes of two bytes
    ASSERT_TRUE(serial::ReadFile(far, got, sizeof got, &n));
    EXPECT_EQ(std::string(got, n), "abcdef");
    loopback::limitWrites("COM21", 0);

    SetOutputTimeOut(o, 0);
    loopback::blockOutput("COM21", true);
    EXPECT_EQ(Output(o, "abc", 3), 0);
    SetOutputTimeOut(o, 500);
    const auto start = Clock::now();
    EXPECT_EQ(Output(o, "abc", 3), 0);
    EXPECT_GE(msSince(start), 450);
    EXPECT_LT(msSince(start), 5000);
}

TEST_F(IoTest, ModemOutputTranslatesCaretsAndPausesAtTildes)
{
    QcHandle o = newObject();
    openOnPty(o);
    auto start = Clock::now();
    EXPECT_EQ(OutputModem(o, "AT^M"), 1);
    EXPECT_GE(msSince(start), 180);
    EXPECT_EQ(m_pty->receive(3, 1000), "AT\r");

    start = Clock::now();
    EXPECT_EQ(OutputModem(o, "~+++~^"), 1);  // a trailing caret is ignored
    EXPECT_GE(msSince(start), 2100);
    EXPECT_LT(msSince(start), 8000);
    EXPECT_EQ(m_pty->receive(4, 500), "+++");
}

TEST_F(IoTest, ModemOutputSkipsBytesAfterAFailureButKeepsPausing)
{
    QcHandle o = newObject();
    openOnLoopback(o);
    SetOutputTimeOut(o, 100);
    loopback::blockOutput("COM21", true);
    const auto start = Clock::now();
    EXPECT_EQ(OutputModem(o, "AB~C"), 0);
    EXPECT_GE(msSince(start), 1150);  // 200 + about 100 for A + 1000
}

TEST_F(IoTest, LookUpFindsTheFirstMatchingStringIgnoringCase)
{
    QcHandle o = newObject();
    openOnPty(o);
    m_pty->send("xxERROR");
    EXPECT_EQ(DiscardUntilLookUp(o, "OK\0ERROR\0"), 1);
    m_pty->send("fine ok");
    EXPECT_EQ(DiscardUntilLookUp(o, "OK\0ERROR\0"), 0);
    EXPECT_EQ(DiscardUntilLookUp(o, "\0"), -1);  // no strings: nothing read
}

TEST_F(IoTest, LookUpCollectsIntoOutAndStopsWhenItIsFull)
{
    QcHandle o = newObject();
    openOnPty(o);
    m_pty->send("abcdef");
    char out[4] = {};
    EXPECT_EQ(InputUntilLookUp(o, "zz\0", out, 3), -1);
    EXPECT_STREQ(out, "abc");
    EXPECT_EQ(GetInBufferCount(o), 3);
}

TEST_F(IoTest, LookUpAnswersAModemLikeFarEnd)
{
    QcHandle o = newObject();
    openOnPty(o);
    SetLookUpTimeOut(o, 3000);
    // The far end answers "OK" to a command line, the way a modem does.
    std::thread modem([this] {
        if (m_pty->receive(3, 2000) == "AT\r")
            m_pty->send("\r\nOK\r\n");
    });
    Output(o, "AT\r", 3);
    char out[64] = {};
    EXPECT_EQ(InputUntilLookUp(o, "OK\0ERROR\0", out, 60), 0);
    EXPECT_STREQ(out, "\r\nOK");
    modem.join();
}

TEST_F(IoTest, WaitForTimesOutAndKeepsItsTimeOut)
{
    QcHandle o = newObject();
    openOnPty(o);
    const auto start = Clock::now();
    EXPECT_EQ(qelbasWaitFor(o, "OK|NO CARRIER", "|", 400), -1);
    EXPECT_GE(msSince(start), 350);
    EXPECT_EQ(GetLookUpTimeOut(o), 400u);
    m_pty->send("\r\nNO CARRIER\r\n");
    EXPECT_EQ(qelbasWaitFor(o, "OK|NO CARRIER", "|", 2000), 1);
    EXPECT_EQ(qelbasWaitFor(o, std::string(1025, 'a').c_str(), "|", 10), -1);
    EXPECT_EQ(qelbasWaitFor(0, "OK", "|", 10), -1);
}

TEST_F(IoTest, GetInputIsRefusedInsideAWaitOnTheSameObject)
{
    QcHandle o = newObject();
    openOnPty(o);
    SetRThreshold(o, 1);
    int insideReads = -1;
    g_onEvent = [&](QcHandle obj, int code) {
        char buf[8];
        if (code == qelcomm::Event_Receive && insideReads < 0)
            insideReads = GetInput(obj, buf, sizeof buf);
    };
    m_pty->send("hi");
    ComPause(o, 400);  // ticks run inside the pause
    EXPECT_EQ(insideReads, 0);
    char buf[8];
    EXPECT_EQ(GetInput(o, buf, sizeof buf), 2);
}

TEST_F(IoTest, ShutDownFromAHandlerEndsAPendingLineRead)
{
    QcHandle o = newObject();
    openOnLoopback(o);
    SetInputTimeOut(o, 10000);
    SetSThreshold(o, 1);  // an idle output queue raises Send on every tick
    g_onEvent = [&](QcHandle obj, int code) {
        if (code == qelcomm::Event_Send)
            SetShutDown(obj, 1);
    };
    char line[16];
    const auto start = Clock::now();
    EXPECT_EQ(GetLineInput(o, line, sizeof line), 0);
    EXPECT_LT(msSince(start), 5000);
    EXPECT_EQ(GetShutDown(o), 1);
}

TEST_F(IoTest, DestroyingTheObjectFromAHandlerEndsTheWait)
{
    // A parent window owns the object; the handler runs inside the look-up
    // wait, where a direct destroy is refused, so it destroys the parent.
    win::WndClass cls;
    cls.name = "HolderWindow";
    cls.proc = win::defWindowProc;
    win::registerClass(cls);
    win::Hwnd holder = win::createWindow("HolderWindow", "", 0, 0);
    QcHandle o = CreateCommObject(holder);
    SetEventHandler(o, recordEvent);
    serial::loopback::createPair("COM23", "FAR23");
    SetCommPort(o, 23);
    ASSERT_EQ(SetPortOpen(o, 1), 1);
    SetSThreshold(o, 1);
    g_onEvent = [&](QcHandle obj, int code) {
        if (code == qelcomm::Event_Send) {
            EXPECT_EQ(DestroyCommObject(obj), 0);
            win::destroyWindow(holder);
        }
    };
    SetLookUpTimeOut(o, 5000);
    const auto start = Clock::now();
    EXPECT_EQ(DiscardUntilLookUp(o, "never\0"), -1);
    EXPECT_LT(msSince(start), 4000);
    EXPECT_FALSE(qelcomm::isObject(o));
    EXPECT_FALSE(loopback::state("COM23").open);
}

TEST_F(IoTest, FlushInputWaitsForTheProgramsOwnReads)
{
    QcHandle o = newObject();
    openOnPty(o);
    SetRThreshold(o, 1);
    m_pty->send("data");
    ASSERT_TRUE(pumpUntil([&] { return GetInBufferCount(o) == 4; }, 2000));
    EXPECT_EQ(FlushInputBuffer(o, 200), 0);  // nobody reads: still queued
    EXPECT_EQ(GetInBufferCount(o), 4);
    EXPECT_EQ(FlushOutputBuffer(o, 0), 1);
}

}  // namespace
