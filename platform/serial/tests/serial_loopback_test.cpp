// The loopback double: null-modem wiring, flow control, injected faults.
#include "serial/loopback.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace serial;

namespace {

struct LoopbackTest : ::testing::Test {
    Handle a = INVALID_HANDLE_VALUE, b = INVALID_HANDLE_VALUE;
    void SetUp() override
    {
        loopback::createPair("COM31", "FAR31");
        a = CreateFile("COM31");
        b = CreateFile("FAR31");
        ASSERT_NE(a, INVALID_HANDLE_VALUE);
        ASSERT_NE(b, INVALID_HANDLE_VALUE);
        COMMTIMEOUTS t;
        t.ReadTotalTimeoutConstant = 200;
        t.WriteTotalTimeoutConstant = 100;
        SetCommTimeouts(a, &t);
        SetCommTimeouts(b, &t);
    }
    void TearDown() override
    {
        CloseHandle(a);
        CloseHandle(b);
        loopback::removeAll();
    }
};

}  // namespace

TEST_F(LoopbackTest, NullModemWiringCarriesBytesAndLines)
{
    EXPECT_EQ(CreateFile("COM31"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    std::uint32_t n = 0;
    ASSERT_TRUE(WriteFile(a, "hello", 5, &n));
    EXPECT_EQ(n, 5u);
    std::uint32_t errors = 0;
    COMSTAT stat;
    ASSERT_TRUE(ClearCommError(b, &errors, &stat));
    EXPECT_EQ(stat.cbInQue, 5u);
    char buf[8] = {};
    ASSERT_TRUE(ReadFile(b, buf, 8, &n));
    EXPECT_EQ(std::string(buf, n), "hello");

    std::uint32_t status = 0;
    EscapeCommFunction(a, SETDTR);
    EscapeCommFunction(a, CLRRTS);
    GetCommModemStatus(b, &status);
    EXPECT_EQ(status, MS_DSR_ON | MS_RLSD_ON);
    loopback::setRing("FAR31", true);
    EscapeCommFunction(a, CLRDTR);
    EscapeCommFunction(a, SETRTS);
    GetCommModemStatus(b, &status);
    EXPECT_EQ(status, MS_CTS_ON | MS_RING_ON);

    SetCommBreak(a);
    EXPECT_TRUE(loopback::state("COM31").breakOn);
    ClearCommBreak(a);
    EXPECT_EQ(loopback::state("COM31").breakCount, 1);
    ClearCommError(b, &errors, &stat);
    EXPECT_EQ(errors, CE_BREAK);
}

TEST_F(LoopbackTest, ReadWaitsForBytesFromAnotherThread)
{
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::uint32_t n = 0;
        WriteFile(a, "xy", 2, &n);
    });
    char buf[2];
    std::uint32_t n = 0;
    ReadFile(b, buf, 2, &n);
    writer.join();
    EXPECT_EQ(n, 2u);
    ReadFile(b, buf, 2, &n);  // nothing more: the total time-out ends it
    EXPECT_EQ(n, 0u);
}

TEST_F(LoopbackTest, CtsFlowAndBlockedOutputHoldWrites)
{
    DCB dcb;
    dcb.fOutxCtsFlow = true;
    ASSERT_TRUE(SetCommState(a, &dcb));
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fOutxCtsFlow = false;
    ASSERT_TRUE(SetCommState(b, &dcb));  // far end drops RTS: our CTS is low
    std::uint32_t n = 9;
    ASSERT_TRUE(WriteFile(a, "abc", 3, &n));
    EXPECT_EQ(n, 0u);
    EscapeCommFunction(b, SETRTS);
    ASSERT_TRUE(WriteFile(a, "abc", 3, &n));
    EXPECT_EQ(n, 3u);

    loopback::blockOutput("FAR31", true);
    ASSERT_TRUE(WriteFile(b, "abc", 3, &n));
    EXPECT_EQ(n, 0u);
}

TEST_F(LoopbackTest, InjectedErrorsOverflowAndRefusedConfiguration)
{
    loopback::injectErrors("COM31", CE_FRAME | CE_OVERRUN);
    std::uint32_t errors = 0;
    COMSTAT stat;
    ClearCommError(a, &errors, &stat);
    EXPECT_EQ(errors, CE_FRAME | CE_OVERRUN);
    ClearCommError(a, &errors, &stat);
    EXPECT_EQ(errors, 0u);

    SetupComm(a, 4, 4);
    std::uint32_t n = 0;
    WriteFile(b, "123456", 6, &n);
    ClearCommError(a, &errors, &stat);
    EXPECT_EQ(errors, CE_RXOVER);
    EXPECT_EQ(stat.cbInQue, 4u);

    DCB dcb;
    dcb.BaudRate = 19200;
    ASSERT_TRUE(SetCommState(a, &dcb));
    loopback::refuseConfiguration("COM31", true);
    dcb.BaudRate = 300;
    EXPECT_FALSE(SetCommState(a, &dcb));
    EXPECT_EQ(loopback::state("COM31").dcb.BaudRate, 19200u);

    loopback::removeAll();
    EXPECT_FALSE(WriteFile(a, "x", 1, &n));
}
