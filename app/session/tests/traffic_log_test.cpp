// The traffic monitor's record: its memory bound, pause, and the text
// form the monitor saves and the trace files hold.
#include "traffic_log.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

using namespace lintrel;

namespace {

std::size_t recount(const TrafficLog& log)
{
    std::size_t n = 0;
    for (const TrafficRecord& r : log.records())
        n += TrafficLog::cost(r);
    return n;
}

TEST(TrafficLog, NeverHoldsMoreThanItsBoundAndKeepsTheNewest)
{
    TrafficLog log(64 * 1024);
    std::mt19937 rng(7);
    std::uint64_t total = 0;
    std::string last;
    for (int i = 0; i < 20000; ++i) {
        // Mostly small chunks, now and then one far larger than the bound.
        const std::size_t n = i % 997 == 0 ? 300000 : rng() % 2000;
        last.assign(n, char('a' + i % 26));
        log.add(i, i % 2 ? TrafficDirection::ToTcp : TrafficDirection::ToSerial, "127.0.0.1:5000",
                last.data(), last.size());
        total += n;
        ASSERT_LE(log.heldBytes(), log.limit());
        ASSERT_EQ(log.heldBytes(), recount(log));
    }
    EXPECT_LT(log.records().size(), 20000u);
    EXPECT_EQ(log.endSeq(), 20000u);
    EXPECT_EQ(log.firstSeq() + log.records().size(), log.endSeq());
    EXPECT_EQ(log.pushedOut(), log.firstSeq());
    EXPECT_EQ(log.records().back().bytes, last);
    EXPECT_EQ(log.records().back().usec, 19999);

    // A smaller bound pushes out at once; clearing gives everything back.
    log.setLimit(8192);
    EXPECT_LE(log.heldBytes(), 8192u);
    EXPECT_EQ(log.records().back().seq, 19999u);
    log.clear();
    EXPECT_EQ(log.heldBytes(), 0u);
    EXPECT_TRUE(log.records().empty());
    EXPECT_EQ(log.firstSeq(), log.endSeq());
}

TEST(TrafficLog, AChunkLargerThanTheBoundKeepsItsBeginning)
{
    TrafficLog log(TrafficLog::kMinLimit);
    std::string big(100000, 'z');
    big[0] = 'A';
    log.add(0, TrafficDirection::ToTcp, "2 clients", big.data(), big.size());
    ASSERT_EQ(log.records().size(), 1u);
    const TrafficRecord& r = log.records().front();
    EXPECT_EQ(r.size, big.size());
    EXPECT_EQ(r.bytes[0], 'A');
    EXPECT_LE(log.heldBytes(), log.limit());
    EXPECT_NE(formatHeader(r).find("100000 bytes, first " + std::to_string(r.bytes.size()) + " kept"),
              std::string::npos);
}

TEST(TrafficLog, PausedChunksAreSkippedAndCounted)
{
    TrafficLog log;
    log.chunk(TrafficDirection::ToSerial, "c", "ab", 2);
    log.setPaused(true);
    log.chunk(TrafficDirection::ToSerial, "c", "cd", 2);
    log.chunk(TrafficDirection::ToSerial, "c", "ef", 2);
    log.setPaused(false);
    log.chunk(TrafficDirection::ToTcp, "c", "gh", 2);
    ASSERT_EQ(log.records().size(), 2u);
    EXPECT_EQ(log.records()[1].bytes, "gh");
    EXPECT_EQ(log.skipped(), 2u);
    EXPECT_GT(log.records()[0].usec, 1600000000000000);   // a wall-clock time
}

TEST(TrafficFormat, RecordsAsText)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    // 2026-03-01 12:34:56.000123 UTC
    const std::int64_t t = 1772368496LL * 1000000 + 123;
    struct Case {
        TrafficDirection direction;
        std::string client, bytes, text;
    } cases[] = {
        {TrafficDirection::ToTcp, "127.0.0.1:50412", "A",
         "2026-03-01 12:34:56.000123  serial>tcp  127.0.0.1:50412  1 byte\n"
         "  0000  41                                                A\n"},
        {TrafficDirection::ToSerial, "10.0.0.2:7000", "Hello, device!\r\n" + std::string("\0\xff", 2),
         "2026-03-01 12:34:56.000123  tcp>serial  10.0.0.2:7000  18 bytes\n"
         "  0000  48 65 6c 6c 6f 2c 20 64  65 76 69 63 65 21 0d 0a  Hello, device!..\n"
         "  0010  00 ff                                             ..\n"},
        {TrafficDirection::ToTcp, "3 clients", "01234567",
         "2026-03-01 12:34:56.000123  serial>tcp  3 clients  8 bytes\n"
         "  0000  30 31 32 33 34 35 36 37                           01234567\n"},
        {TrafficDirection::ToTcp, "x:1", std::string(),
         "2026-03-01 12:34:56.000123  serial>tcp  x:1  0 bytes\n"},
    };
    for (const Case& c : cases) {
        TrafficRecord r;
        r.usec = t;
        r.direction = c.direction;
        r.client = c.client;
        r.bytes = c.bytes;
        r.size = c.bytes.size();
        EXPECT_EQ(formatRecord(r), c.text);
    }
    // Offsets grow past four digits; the dump has a line per 16 bytes.
    const std::string dump = hexDump(std::string(0x10001, '\x7f'));
    EXPECT_NE(dump.find("\n  10000  7f    "), std::string::npos) << dump.substr(dump.size() - 200);
    EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 0x1001);
}

}  // namespace
