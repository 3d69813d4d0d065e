// A real tty: a pseudo-terminal pair mapped as COM7, its master the far end.
#include "serial/serial.h"
#include "pty_pair.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

using namespace serial;
using Clock = std::chrono::steady_clock;

namespace {

struct PtyTest : ::testing::Test {
    testsupport::PtyPair pty;
    testsupport::PortsMap ports;
    Handle h = INVALID_HANDLE_VALUE;
    void SetUp() override
    {
        ports.map(7, pty.slavePath());
        h = CreateFile("COM7");
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
    }
    void TearDown() override { CloseHandle(h); }
    void setTimeouts(std::uint32_t interval, std::uint32_t constant)
    {
        COMMTIMEOUTS t;
        t.ReadIntervalTimeout = interval;
        t.ReadTotalTimeoutConstant = constant;
        ASSERT_TRUE(SetCommTimeouts(h, &t));
    }
    long msSince(Clock::time_point t)
    {
        return long(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
    }
};

}  // namespace

TEST_F(PtyTest, OpenIsExclusiveAndMissingDevicesAreNotFound)
{
    EXPECT_EQ(CreateFile("COM7"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    const std::string child = "timeout 5 /usr/bin/python3 -c \"import os,fcntl,sys; fd=os.open('" + pty.slavePath()
        + "', os.O_RDWR|os.O_NOCTTY|os.O_NONBLOCK); fcntl.flock(fd, fcntl.LOCK_EX|fcntl.LOCK_NB)\" 2>/dev/null";
    EXPECT_NE(std::system(child.c_str()), 0) << "another process took the port";
    CloseHandle(h);
    EXPECT_EQ(std::system(child.c_str()), 0) << "the port stayed locked after closing";
    h = CreateFile("COM7");
    EXPECT_NE(h, INVALID_HANDLE_VALUE);

    EXPECT_EQ(CreateFile("/dev/nonexistent-tty"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(CloseHandle(987654));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(PtyTest, LineSettingsReachTheTtyAndRefusedOnesLeaveTheOld)
{
    DCB dcb;
    dcb.BaudRate = 115200;
    dcb.Parity = EVENPARITY;
    dcb.ByteSize = 7;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutxCtsFlow = true;
    ASSERT_TRUE(SetCommState(h, &dcb));
    auto line = pty.line();
    EXPECT_EQ(line.baud, 115200u);
    EXPECT_EQ(line.stopBits, 2);
    EXPECT_TRUE(line.rtsCts);

    dcb.BaudRate = 250000;  // no Bnnn constant
    ASSERT_TRUE(SetCommState(h, &dcb));
    EXPECT_EQ(pty.line().baud, 250000u);

    DCB bad = dcb;
    bad.ByteSize = 4;
    EXPECT_FALSE(SetCommState(h, &bad));
    bad = dcb;
    bad.StopBits = ONE5STOPBITS;  // 1.5 only with 5 data bits
    EXPECT_FALSE(SetCommState(h, &bad));
    EXPECT_EQ(pty.line().baud, 250000u);
    DCB now;
    GetCommState(h, &now);
    EXPECT_EQ(now.ByteSize, 7);
    EXPECT_EQ(now.BaudRate, 250000u);

    std::uint32_t in = 0, out = 0;
    ASSERT_TRUE(SetupComm(h, 524288, 524288));
    GetQueueSizes(h, &in, &out);
    EXPECT_EQ(in, 524288u);
    EXPECT_EQ(out, 524288u);
}

TEST_F(PtyTest, EveryByteValuePassesBothWaysWithParityChecking)
{
    DCB dcb;
    dcb.fParity = true;
    dcb.Parity = EVENPARITY;
    ASSERT_TRUE(SetCommState(h, &dcb));
    setTimeouts(0, 1000);
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += char(i);
    all += "\xff\xff\xff\x00\xff";  // runs that look like marks

    pty.send(all);
    std::uint32_t errors = 0;
    COMSTAT stat;
    const auto start = Clock::now();
    do
        ASSERT_TRUE(ClearCommError(h, &errors, &stat));
    while (stat.cbInQue < all.size() && msSince(start) < 2000);
    EXPECT_EQ(stat.cbInQue, all.size());
    EXPECT_EQ(errors, 0u);
    std::string got(all.size(), '\0');
    std::uint32_t n = 0;
    ASSERT_TRUE(ReadFile(h, got.data(), stat.cbInQue, &n));
    EXPECT_EQ(n, all.size());
    EXPECT_EQ(got, all);

    ASSERT_TRUE(WriteFile(h, all.data(), std::uint32_t(all.size()), &n));
    EXPECT_EQ(n, all.size());
    EXPECT_EQ(pty.receive(all.size(), 2000), all);
}

TEST_F(PtyTest, InputQueueSizeBoundsWhatOneReadSees)
{
    ASSERT_TRUE(SetupComm(h, 5000, 16));
    const std::string sent(7000, 'a');
    pty.send(sent.substr(0, 3000));
    pty.send(sent.substr(3000));
    setTimeouts(0, 300);
    std::uint32_t errors = 0;
    COMSTAT stat;
    const auto start = Clock::now();
    do
        ClearCommError(h, &errors, &stat);
    while (stat.cbInQue < 5000 && msSince(start) < 2000);
    EXPECT_EQ(stat.cbInQue, 5000u);
    std::string buf(8000, '\0');
    std::uint32_t n = 0, total = 0;
    while (ReadFile(h, buf.data(), 8000, &n) && n > 0)
        total += n;
    EXPECT_EQ(total, 7000u);  // nothing lost beyond the queue: it waited in the tty
}

TEST_F(PtyTest, ReadTimeOutsAreHonoured)
{
    char buf[16];
    std::uint32_t n = 9;
    setTimeouts(0xFFFFFFFF, 0);  // return at once
    auto start = Clock::now();
    ASSERT_TRUE(ReadFile(h, buf, 16, &n));
    EXPECT_EQ(n, 0u);
    EXPECT_LT(msSince(start), 150);

    setTimeouts(0, 300);  // total only
    start = Clock::now();
    ReadFile(h, buf, 16, &n);
    EXPECT_EQ(n, 0u);
    EXPECT_GE(msSince(start), 280);
    EXPECT_LT(msSince(start), 3000);

    setTimeouts(100, 0);  // interval only: ends once the line goes quiet
    pty.send("abc");
    start = Clock::now();
    ReadFile(h, buf, 16, &n);
    EXPECT_EQ(std::string(buf, n), "abc");
    EXPECT_GE(msSince(start), 90);
    EXPECT_LT(msSince(start), 3000);
}

TEST_F(PtyTest, ModemLinesOnAPseudoTerminalFail)
{
    SetLastError(0);
    EXPECT_FALSE(EscapeCommFunction(h, SETDTR));
    EXPECT_NE(GetLastError(), 0u);
    std::uint32_t status = 0;
    EXPECT_FALSE(GetCommModemStatus(h, &status));
    ASSERT_TRUE(PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR));
}
