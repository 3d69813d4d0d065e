// The blocking members: Input with InputLen and InTimeOut, Output and
// OutputLine with their failures, LookUp, and the guard that refuses a
// second blocking member while one waits.
#include "control_fixture.h"

#include <chrono>

namespace controltest {
namespace {

class BlockingTest : public ControlTest {};

const char* kBusyInputDuringOutputModem =
    "Cannot access the Input property until the OutputModem property has returned.";

TEST_F(BlockingTest, InputTakesTheQueueOrWaitsForInputLen)
{
    openOnPty();
    m_pty->send(std::string("1\0" "345", 5));
    ASSERT_TRUE(pumpUntil([&] { return m_control->InBufferCount() == 5; }, 3000));
    std::string got;
    ASSERT_FALSE(m_control->Input(got).failed());
    EXPECT_EQ(got, std::string("1\0" "345", 5));   // zero bytes stay in the text

    m_pty->send("abcde");
    ASSERT_TRUE(pumpUntil([&] { return m_control->InBufferCount() == 5; }, 3000));
    m_control->SetInputLen(10);
    m_control->SetInTimeOut(1000);
    const auto start = std::chrono::steady_clock::now();
    ASSERT_FALSE(m_control->Input(got).failed());
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(got, "abcde");
    EXPECT_GE(ms, 800);
    EXPECT_LT(ms, 6000);

    // With enough bytes queued the wait ends early and leaves the rest.
    m_pty->send("0123456789XY");
    ASSERT_TRUE(pumpUntil([&] { return m_control->InBufferCount() == 12; }, 3000));
    ASSERT_FALSE(m_control->Input(got).failed());
    EXPECT_EQ(got, "0123456789");
    EXPECT_EQ(m_control->InBufferCount(), 2);
}

TEST_F(BlockingTest, InputMembersAreRefusedUnderAutomaticReceive)
{
    // A new control has AutoProcess 3.
    std::string got = "x";
    ErrorInfo e = m_control->Input(got);
    EXPECT_EQ(e.hresult, kErrorBlocked);
    EXPECT_EQ(e.description, "Cannot access the Input property while AutoReceive is True.");
    EXPECT_EQ(e.source, kProgId);
    EXPECT_EQ(m_control->LastError().description, e.description);
    EXPECT_TRUE(got.empty());

    m_control->SetAutoProcess(0);
    m_control->SetAutoReceive(true);
    lt::automation::Variant v;
    e = m_control->Dispatch().get(MemberId::ComLineInput, v);
    EXPECT_EQ(e.description, "Cannot access the ComLineInput property while AutoReceive is True.");
    std::int32_t index = 0;
    EXPECT_EQ(m_control->LookUp(index).description, "Cannot access the LookUp property while AutoReceive is True.");

    m_control->SetAutoReceive(false);
    EXPECT_FALSE(m_control->Input(got).failed());   // closed port: no bytes
    EXPECT_TRUE(got.empty());
}

TEST_F(BlockingTest, OutputWritesOnlyOnAnOpenPort)
{
    openOnPty();
    m_control->SetPortOpen(false);
    EXPECT_FALSE(m_control->Output("hello").failed());
    EXPECT_FALSE(m_control->OutputLine("hello").failed());
    EXPECT_EQ(m_pty->receive(5, 300), "");

    m_control->SetPortOpen(true);
    EXPECT_FALSE(m_control->Output(std::string("h\0i", 3)).failed());
    EXPECT_FALSE(m_control->OutputLine("x").failed());
    EXPECT_EQ(m_pty->receive(5, 2000), std::string("h\0ix\r", 5));
}

TEST_F(BlockingTest, WritesThatCannotCompleteFailWithTheirOwnTexts)
{
    serial::Handle far = openOnLoopback();
    m_control->SetHandshaking(0);   // the far end does not raise RTS
    serial::loopback::blockOutput("COM21", true);
    m_control->SetOutTimeOut(200);

    ErrorInfo e = m_control->OutputLine("abc");
    EXPECT_EQ(e.hresult, kErrorWriteFailed);
    EXPECT_EQ(e.description, "The OutputBuffer is full.  Increase the value of the OutTimeOut property.");
    e = m_control->Output("abc");
    EXPECT_EQ(e.hresult, kErrorWriteFailed);
    EXPECT_EQ(e.description,
              "Cannot write to the communications port.  Increase the value of the OutTimeOut property.");

    serial::loopback::blockOutput("COM21", false);
    EXPECT_FALSE(m_control->Output("ok").failed());
    serial::COMSTAT stat{};
    std::uint32_t errors = 0;
    ASSERT_TRUE(serial::ClearCommError(far, &errors, &stat));
    ASSERT_EQ(stat.cbInQue, 2u);
    char buffer[16] = {};
    std::uint32_t got = 0;
    serial::ReadFile(far, buffer, stat.cbInQue, &got);
    EXPECT_EQ(std::string(buffer, got), "ok");   // no carriage return from the failed line
}

TEST_F(BlockingTest, GuardRefusesASecondBlockingMemberWhileOneWaits)
{
    openOnPty();
    m_control->SetRThreshold(1);
    std::vector<ErrorInfo> inHandler;
    m_sink.during = [&](std::int32_t dispid) {
        if (dispid != EventId::Receive)
            return;
        std::string s;
        inHandler.push_back(m_control->Input(s));
        inHandler.push_back(m_control->Output("x"));
        m_control->SetRThreshold(0);   // not guarded: usable while waiting
    };

    // A handler running inside an output member's pauses.
    m_pty->send("Q");
    ASSERT_TRUE(pumpUntil([&] { return m_control->InBufferCount() == 1; }, 3000));
    EXPECT_FALSE(m_control->OutputModem("AT").failed());
    ASSERT_EQ(inHandler.size(), 2u);
    EXPECT_EQ(inHandler[0].hresult, kErrorBlocked);
    EXPECT_EQ(inHandler[0].description, kBusyInputDuringOutputModem);
    EXPECT_EQ(inHandler[1].description,
              "Cannot access the Output property until the OutputModem property has returned.");
    EXPECT_EQ(m_pty->receive(2, 2000), "AT");

    // A handler running inside Input's wait.
    inHandler.clear();
    m_control->SetRThreshold(1);
    m_control->SetInputLen(3);
    m_control->SetInTimeOut(2000);
    std::string got;
    EXPECT_FALSE(m_control->Input(got).failed());
    ASSERT_EQ(inHandler.size(), 2u);
    EXPECT_EQ(inHandler[0].description, "Cannot access the Input property until the Input property has returned.");
    EXPECT_EQ(inHandler[1].description, "Cannot access the Output property until the Input property has returned.");
    EXPECT_EQ(got, "Q");

    // Once returned, the slot is free again.
    m_sink.during = nullptr;
    EXPECT_FALSE(m_control->Output("z").failed());
    EXPECT_EQ(m_pty->receive(1, 2000), "z");
}

TEST_F(BlockingTest, ControlDestroyedDuringAWaitEndsTheWait)
{
    openOnPty();
    m_control->SetRThreshold(1);
    m_control->SetInputLen(10);
    m_control->SetInTimeOut(5000);
    m_sink.during = [&](std::int32_t) {
        m_owned.reset();
        m_control = nullptr;
    };
    m_pty->send("Q");
    CQelComm* c = m_control;
    std::string got = "untouched";
    const auto start = std::chrono::steady_clock::now();
    c->Input(got);
    EXPECT_EQ(m_control, nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

TEST_F(BlockingTest, LookUpFindsOneOfTheStrings)
{
    openOnPty();
    m_control->SetLookUpText("OK|ERROR");
    m_control->SetLookUpTimeOut(3000);
    m_pty->send("xxerror");
    std::int32_t index = -2;
    ASSERT_FALSE(m_control->LookUp(index).failed());
    EXPECT_EQ(index, 1);

    m_control->SetLookUpInputLen(20);
    m_control->SetLookUpSeparator(",");
    m_control->SetLookUpText("CONNECT,OK");
    m_pty->send("AT OK\r\n");
    ASSERT_FALSE(m_control->LookUp(index).failed());
    EXPECT_EQ(index, 1);
    EXPECT_EQ(m_control->LookUpInput(), "AT OK");

    m_control->SetLookUpTimeOut(300);
    ASSERT_FALSE(m_control->LookUp(index).failed());
    EXPECT_EQ(index, -1);
}

}  // namespace
}  // namespace controltest
