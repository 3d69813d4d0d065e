// The output queue of a tty port and its notifications: a write that fits
// never waits for a device that reads slowly or not at all, what waits is
// counted and reaches the device in order, and the owner hears of input,
// room and a device that went away without polling.
#include "serial/serial.h"
#include "pty_pair.h"
#include "pump.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

using namespace serial;
using Clock = std::chrono::steady_clock;

namespace {

struct QueueTest : ::testing::Test {
    testsupport::PtyPair pty;
    testsupport::PortsMap ports;
    Handle h = INVALID_HANDLE_VALUE;
    void SetUp() override
    {
        ports.map(8, pty.slavePath());
        h = CreateFile("COM8");
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        // As the engine opens a port: writes may wait 1 s plus 1 ms a byte.
        COMMTIMEOUTS t;
        t.WriteTotalTimeoutConstant = 1000;
        t.WriteTotalTimeoutMultiplier = 1;
        ASSERT_TRUE(SetCommTimeouts(h, &t));
    }
    void TearDown() override { CloseHandle(h); }
    std::uint32_t inQueue()
    {
        std::uint32_t errors = 0;
        COMSTAT stat;
        return ClearCommError(h, &errors, &stat) ? stat.cbInQue : 0;
    }
    std::uint32_t outQueue()
    {
        std::uint32_t errors = 0;
        COMSTAT stat;
        EXPECT_TRUE(ClearCommError(h, &errors, &stat));
        return stat.cbOutQue;
    }
};

std::string pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = char((i * 7 + i / 251) & 0xFF);
    return s;
}

}  // namespace

// The device reads nothing: a write of 200 kB into a 256 kB queue returns
// whole although the tty itself takes a few kB, long before the write's own
// allowance (201 s) could pass; the queue count says what waits; once the
// device reads, every byte arrives in order and the count falls to 0.
TEST_F(QueueTest, AWriteThatFitsReturnsAtOnceAndArrivesWhole)
{
    ASSERT_TRUE(SetupComm(h, 4096, 256 * 1024));
    const std::string data = pattern(200 * 1024);
    const auto start = Clock::now();
    std::uint32_t done = 0;
    ASSERT_TRUE(WriteFile(h, data.data(), std::uint32_t(data.size()), &done));
    EXPECT_EQ(done, data.size());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_GE(outQueue(), 100u * 1024);

    std::string got;
    const auto until = Clock::now() + std::chrono::seconds(20);
    while (got.size() < data.size() && Clock::now() < until) {
        got += pty.receive(data.size() - got.size(), 50);
        outQueue();   // the owner looks at its queue now and then, which drains it
    }
    EXPECT_EQ(got.size(), data.size());
    EXPECT_TRUE(got == data) << "bytes lost or out of order";
    EXPECT_EQ(outQueue(), 0u);
}

// A write larger than the queue's room waits only as long as its time-out
// allows and says how much it took; the next write goes behind it.
TEST_F(QueueTest, AWriteThatDoesNotFitTakesWhatItCanInItsTime)
{
    ASSERT_TRUE(SetupComm(h, 4096, 8192));
    COMMTIMEOUTS t;
    t.WriteTotalTimeoutConstant = 200;
    ASSERT_TRUE(SetCommTimeouts(h, &t));
    const std::string data = pattern(256 * 1024);
    std::uint32_t done = 0;
    ASSERT_TRUE(WriteFile(h, data.data(), std::uint32_t(data.size()), &done));
    EXPECT_GE(done, 8192u);
    EXPECT_LT(done, data.size());
    ASSERT_TRUE(WriteFile(h, data.data() + done, 10, &done));   // no room yet: nothing taken
    EXPECT_EQ(done, 0u);
    ASSERT_TRUE(PurgeComm(h, PURGE_TXCLEAR));
    EXPECT_EQ(outQueue(), 0u);
}

TEST_F(QueueTest, NotificationsOfInputRoomAndADeviceThatWentAway)
{
    ASSERT_TRUE(SetupComm(h, 4096, 64 * 1024));
    std::uint32_t seen = 0;
    int calls = 0;
    ASSERT_TRUE(SetCommNotify(h, [&](std::uint32_t what) {
        seen |= what;
        ++calls;
    }));
    testsupport::pumpFor(50);
    EXPECT_EQ(calls, 0) << "news without anything happening";

    pty.send("ping");
    ASSERT_TRUE(testsupport::pumpUntil([&] { return (seen & NOTIFY_INPUT) != 0; }, 5000));
    char buf[16];
    std::uint32_t n = 0;
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = 0xFFFFFFFF;   // what is there, at once
    ASSERT_TRUE(SetCommTimeouts(h, &t));
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n));
    EXPECT_EQ(std::string(buf, n), "ping");

    // Output waits in the queue; as the device reads, room is reported.
    seen = 0;
    const std::string data = pattern(48 * 1024);
    ASSERT_TRUE(WriteFile(h, data.data(), std::uint32_t(data.size()), &n));
    ASSERT_EQ(n, data.size());
    std::string got;
    ASSERT_TRUE(testsupport::pumpUntil([&] {
        got += pty.receive(data.size(), 5);
        return got.size() == data.size();
    }, 10000)) << "the queue drained only " << got.size() << " bytes without the owner asking";
    EXPECT_NE(seen & NOTIFY_ROOM, 0u);
    EXPECT_TRUE(got == data);

    // Unplugged: one notification, and the port's calls say so from then on.
    seen = 0;
    pty.hangUp();
    ASSERT_TRUE(testsupport::pumpUntil([&] { return (seen & NOTIFY_GONE) != 0; }, 5000));
    const int callsAtGone = calls;
    testsupport::pumpFor(100);
    EXPECT_EQ(calls, callsAtGone) << "a gone device keeps notifying";
    std::uint32_t errors = 0;
    COMSTAT stat;
    EXPECT_FALSE(ClearCommError(h, &errors, &stat));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
    EXPECT_FALSE(WriteFile(h, "x", 1, &n));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
    EXPECT_FALSE(ReadFile(h, buf, 1, &n));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
}

// Without notifications a hang-up is still found by the next status read,
// after what the port took in before it has been read.
TEST_F(QueueTest, WhatArrivedBeforeTheHangUpIsStillRead)
{
    pty.send("last words");
    ASSERT_TRUE(testsupport::pumpUntil([&] { return outQueue() == 0 && inQueue() == 10; }, 5000));
    pty.hangUp();
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = 0xFFFFFFFF;
    ASSERT_TRUE(SetCommTimeouts(h, &t));
    char buf[32];
    std::uint32_t n = 0;
    ASSERT_TRUE(ReadFile(h, buf, sizeof buf, &n));
    EXPECT_EQ(std::string(buf, n), "last words");
    std::uint32_t errors = 0;
    COMSTAT stat;
    EXPECT_FALSE(ClearCommError(h, &errors, &stat));
    EXPECT_EQ(GetLastError(), ERROR_DEVICE_REMOVED);
}

// Input that a read took from the tty beyond what it returned leaves the
// tty with nothing to report: the port must still tell.
TEST_F(QueueTest, InputTakenByAReadIsStillNotified)
{
    std::uint32_t seen = 0;
    ASSERT_TRUE(SetCommNotify(h, [&](std::uint32_t what) { seen |= what; }));
    COMMTIMEOUTS t;
    t.ReadIntervalTimeout = 0xFFFFFFFF;   // what is there, at once
    ASSERT_TRUE(SetCommTimeouts(h, &t));
    for (int round = 0; round < 20; ++round) {
        seen = 0;
        pty.send("ab");
        // One byte, read without running the event loop: the read takes
        // both from the tty and keeps the second.
        char c = 0;
        std::uint32_t n = 0;
        const auto until = Clock::now() + std::chrono::seconds(5);
        while (n == 0 && Clock::now() < until)
            ASSERT_TRUE(ReadFile(h, &c, 1, &n));
        ASSERT_EQ(n, 1u);
        ASSERT_TRUE(testsupport::pumpUntil([&] { return (seen & NOTIFY_INPUT) != 0; }, 500))
            << "round " << round << ": the byte waits unreported";
        ASSERT_TRUE(ReadFile(h, &c, 1, &n));
        EXPECT_EQ(c, 'b');
    }
}
