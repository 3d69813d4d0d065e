// The XModem and YModem family without a port: frames against known
// values, two protocol machines talking to each other, and scripted far
// ends for the failure paths.
#include "fake_host.h"
#include "mem_files.h"
#include "xymodem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

using namespace xfer;
using xfertest::FakeHost;

namespace xfertest {

std::unique_ptr<FileSource> FakeHost::openSource(const std::string& path)
{
    auto it = files.find(path);
    return it == files.end() ? nullptr : std::make_unique<MemSource>(it->second);
}

std::unique_ptr<FileSink> FakeHost::createSink(const std::string& path)
{
    files[path].clear();
    return std::make_unique<MemSink>(&files[path]);
}

}  // namespace xfertest

namespace {

std::string randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = char(gen() & 0xFF);
    return s;
}

// Runs a sender and a receiver against each other until both finish: the
// bytes one writes are what the other reads; when both wait with nothing
// to read, the shorter wait runs out.
void runPair(XyModem& tx, FakeHost& txHost, XyModem& rx, FakeHost& rxHost)
{
    std::deque<std::uint8_t> toRx, toTx;
    tx.start();
    rx.start();
    for (int steps = 0; steps < 10'000'000 && !(tx.done() && rx.done()); ++steps) {
        for (auto b : txHost.take())
            toRx.push_back(b);
        for (auto b : rxHost.take())
            toTx.push_back(b);
        if (!rx.done() && !toRx.empty()) {
            rx.feed(toRx.front());
            toRx.pop_front();
        } else if (!tx.done() && !toTx.empty()) {
            tx.feed(toTx.front());
            toTx.pop_front();
        } else if (!tx.done() && (rx.done() || tx.timeoutMs() <= rx.timeoutMs())) {
            tx.timeout();
        } else if (!rx.done()) {
            rx.timeout();
        }
    }
    ASSERT_TRUE(tx.done() && rx.done());
}

std::vector<std::uint8_t> bytes(std::initializer_list<int> list)
{
    std::vector<std::uint8_t> v;
    for (int b : list)
        v.push_back(std::uint8_t(b));
    return v;
}

void feedAll(ByteMachine& m, const std::vector<std::uint8_t>& data)
{
    for (auto b : data)
        m.feed(b);
}

}  // namespace

TEST(XmodemFrame, ChecksAndFraming)
{
    const std::string check = "123456789";
    const auto* p = reinterpret_cast<const std::uint8_t*>(check.data());
    EXPECT_EQ(crc16(p, check.size()), 0x31C3);
    EXPECT_EQ(checksum8(p, check.size()), std::uint8_t(0xDD));

    std::vector<std::uint8_t> data(128, 0x41);
    const auto crcFrame = frameBlock(1, data.data(), 128, true);
    ASSERT_EQ(crcFrame.size(), 133u);
    EXPECT_EQ(crcFrame[0], SOH);
    EXPECT_EQ(crcFrame[1], 1);
    EXPECT_EQ(crcFrame[2], 254);
    // Running the CRC over data and its own check gives zero.
    EXPECT_EQ(crc16(crcFrame.data() + 3, 130), 0);

    const auto sumFrame = frameBlock(255, data.data(), 128, false);
    ASSERT_EQ(sumFrame.size(), 132u);
    EXPECT_EQ(sumFrame[2], 0);
    EXPECT_EQ(sumFrame.back(), std::uint8_t(128 * 0x41));

    std::vector<std::uint8_t> big(1024, 0);
    EXPECT_EQ(frameBlock(7, big.data(), 1024, true)[0], STX);
}

TEST(XmodemFrame, YmodemHeaderRoundTrip)
{
    const auto h = ymodemHeader("data.bin", 300000);
    ASSERT_EQ(h.size(), 128u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.data())), "data.bin");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(h.data()) + 9), "300000 0 0 0 0 0");
    const auto parsed = parseYmodemHeader(h.data(), h.size());
    EXPECT_EQ(parsed.name, "data.bin");
    EXPECT_EQ(parsed.size.value_or(0), 300000u);

    EXPECT_TRUE(parseYmodemHeader(ymodemHeader("", 0).data(), 128).name.empty());
    EXPECT_EQ(ymodemHeader(std::string(200, 'n'), 1).size(), 1024u);
    EXPECT_EQ(nameWithoutFolder("/tmp/a/b.txt"), "b.txt");
    EXPECT_EQ(nameWithoutFolder("C:b.txt"), "b.txt");
}

class FamilyRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(FamilyRoundTrip, EverySizeComesThrough)
{
    const int protocol = GetParam();
    const bool batch = xyFlagsFor(protocol).batch;
    for (std::size_t size : {0u, 1u, 127u, 128u, 896u, 1000u, 1023u, 1024u, 1025u, 9000u}) {
        SCOPED_TRACE(size);
        FakeHost txHost, rxHost;
        const std::string data = randomBytes(size, unsigned(size));
        txHost.files["in.bin"] = data;
        txHost.sendQueue = {"in.bin"};
        if (batch) {
            txHost.files["second.bin"] = randomBytes(3000, 9);
            txHost.sendQueue.push_back("second.bin");
        }
        XyModem tx(txHost, protocol, true), rx(rxHost, protocol, false);
        runPair(tx, txHost, rx, rxHost);
        EXPECT_EQ(tx.result(), 0);
        EXPECT_EQ(rx.result(), 0);
        if (batch) {
            // The header's size cuts the fill bytes off.
            EXPECT_EQ(rxHost.files["in.bin"], data);
            EXPECT_EQ(rxHost.files["second.bin"], txHost.files["second.bin"]);
        } else {
            const std::string& got = rxHost.files["UNTITLED.000"];
            ASSERT_GE(got.size(), data.size());
            EXPECT_EQ(got.substr(0, data.size()), data);
            EXPECT_TRUE(std::all_of(got.begin() + long(data.size()), got.end(), [](char c) { return c == SUB; }));
            EXPECT_LT(got.size() - data.size(), 1024u);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Protocols, FamilyRoundTrip, ::testing::Values(0, 1, 2, 3, 4));

TEST(XmodemSender, OneKUsesSmallBlocksForTheTail)
{
    for (auto [size, expectSoh, expectStx] : {std::tuple{896, 7, 0}, std::tuple{1000, 0, 1}}) {
        FakeHost host;
        host.files["f"] = std::string(std::size_t(size), 'x');
        host.sendQueue = {"f"};
        XyModem tx(host, Protocol_XModem1K, true);
        tx.start();
        tx.timeout();  // nothing waits on the line
        tx.feed('C');
        int soh = 0, stx = 0;
        for (int guard = 0; guard < 20 && !tx.done(); ++guard) {
            const auto out = host.take();
            if (out.empty())
                break;
            if (out[0] == SOH)
                ++soh;
            if (out[0] == STX) {
                ++stx;
                EXPECT_TRUE(std::all_of(out.begin() + 3 + 1000, out.begin() + 3 + 1024, [](auto c) { return c == SUB; }));
            }
            if (out[0] == EOT)
                break;
            tx.feed(ACK);
        }
        EXPECT_EQ(soh, expectSoh);
        EXPECT_EQ(stx, expectStx);
    }
}

// A receiver started before the sender asked once already: its start
// character, left at the end of what waited on the line, starts the file at
// once. Anything else that waited is read away.
TEST(XmodemSender, StartCharacterThatWaitedIsTaken)
{
    FakeHost host;
    host.files["f"] = "hello";
    host.sendQueue = {"f", "f"};
    XyModem tx(host, Protocol_XModemCrc, true);
    tx.start();
    EXPECT_EQ(tx.timeoutMs(), 0u) << "only what is there already";
    tx.feed('x');
    tx.feed('C');
    tx.timeout();
    EXPECT_EQ(host.take().size(), 3u + 128 + 2);
    tx.feed(ACK);
    EXPECT_EQ(host.take(), bytes({EOT}));
    tx.feed(ACK);
    // The second file: a start character with noise after it is stale.
    tx.feed('C');
    tx.feed('x');
    tx.timeout();
    EXPECT_TRUE(host.take().empty());
    EXPECT_EQ(tx.timeoutMs(), kStartPollMs);
    tx.feed('C');
    EXPECT_EQ(host.take().size(), 3u + 128 + 2);
}

TEST(XmodemSender, CrcStartSwitchesChecksumSenderToCrc)
{
    FakeHost host;
    host.files["f"] = "hello";
    host.sendQueue = {"f"};
    XyModem tx(host, Protocol_XModem, true);
    tx.start();
    tx.timeout();  // nothing waits on the line
    tx.feed('C');
    EXPECT_EQ(host.take().size(), 3u + 128 + 2);
}

TEST(XmodemSender, TwoCansCancelAndNaksResend)
{
    FakeHost host;
    host.files["f"] = "hello";
    host.sendQueue = {"f"};
    XyModem tx(host, Protocol_XModemCrc, true);
    tx.start();
    tx.timeout();  // nothing waits on the line
    tx.feed('C');
    const auto first = host.take();
    tx.feed(NAK);
    EXPECT_EQ(host.take(), first);
    EXPECT_EQ(host.messages.back(), "Received NAK on sector");
    tx.feed(CAN);
    EXPECT_FALSE(tx.done());
    tx.feed(CAN);
    ASSERT_TRUE(tx.done());
    EXPECT_NE(tx.result(), 0);
    EXPECT_TRUE(std::find(host.messages.begin(), host.messages.end(), "Canceled") != host.messages.end());
    EXPECT_TRUE(host.cancelled);
    EXPECT_EQ(host.events.back(), "end failed");
}

// A timed-out block whose receiver NAKs as the resend goes out gets two
// copies through and two ACKs back; the second is no answer for block 2.
TEST(XmodemSender, LateAckOfAResentBlockDoesNotAcknowledgeTheNext)
{
    FakeHost host;
    host.files["f"] = std::string(256, 'z');
    host.sendQueue = {"f"};
    XyModem tx(host, Protocol_XModemCrc, true);
    tx.start();
    tx.timeout();  // nothing waits on the line
    tx.feed('C');
    const auto block1 = host.take();
    ASSERT_EQ(block1[1], 1);
    tx.timeout();
    EXPECT_EQ(host.take(), block1);
    EXPECT_EQ(host.messages.back(), "Timeout on sector ACK");
    tx.feed(NAK);
    EXPECT_EQ(host.take(), block1);
    tx.feed(ACK);  // for the first copy
    tx.feed(ACK);  // for the second
    EXPECT_TRUE(host.take().empty()) << "block 2 waits until the line is quiet";
    EXPECT_EQ(tx.timeoutMs(), kSettleQuietMs);
    tx.timeout();
    const auto block2 = host.take();
    ASSERT_EQ(block2.size(), 133u);
    EXPECT_EQ(block2[1], 2);
    EXPECT_EQ(tx.timeoutMs(), kAnswerTimeoutMs) << "block 2 still waits for its own answer";
    tx.feed(ACK);
    EXPECT_EQ(host.take(), bytes({EOT})) << "a block sent once goes on at once";
    tx.feed(ACK);
    EXPECT_EQ(host.events.back(), "end ok");

    // Two CANs while settling still cancel.
    FakeHost other;
    other.files["f"] = "x";
    other.sendQueue = {"f"};
    XyModem tx2(other, Protocol_XModemCrc, true);
    tx2.start();
    tx2.timeout();  // nothing waits on the line
    tx2.feed('C');
    tx2.feed(NAK);
    tx2.feed(ACK);
    tx2.feed(CAN);
    tx2.feed(CAN);
    ASSERT_TRUE(tx2.done());
    EXPECT_NE(tx2.result(), 0);
    EXPECT_EQ(other.messages.back(), "Canceled");
}

TEST(XmodemSender, EotRepeatsAndNoStartCancels)
{
    FakeHost host;
    host.files["f"] = "x";
    host.sendQueue = {"f"};
    XyModem tx(host, Protocol_XModemCrc, true);
    tx.start();
    tx.timeout();  // nothing waits on the line
    tx.feed('C');
    host.take();
    tx.feed(ACK);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(host.take(), bytes({EOT}));
        tx.timeout();
    }
    EXPECT_EQ(host.take(), bytes({EOT}));
    tx.feed(ACK);  // to the sixth EOT
    EXPECT_EQ(host.events.back(), "end ok");

    FakeHost idle;
    idle.files["f"] = "x";
    idle.sendQueue = {"f"};
    XyModem quiet(idle, Protocol_XModem, true);
    quiet.start();
    for (int i = 0; i < 200 && !quiet.done(); ++i)
        quiet.timeout();
    ASSERT_TRUE(quiet.done());
    EXPECT_EQ(idle.messages.back(), "Receiver never initiated transfer, cancelling...");
}

// The files of a batch were all acknowledged; the closing empty header
// going unanswered leaves the transfer a success.
TEST(YmodemSender, UnansweredClosingHeaderKeepsTheBatchWhole)
{
    FakeHost host;
    host.files["f"] = "abc";
    host.sendQueue = {"f"};
    XyModem tx(host, Protocol_YModem, true);
    tx.start();
    tx.timeout();  // nothing waits on the line
    tx.feed('C');
    ASSERT_EQ(host.take()[1], 0);  // the header block
    tx.feed(ACK);
    tx.feed('C');
    ASSERT_EQ(host.take()[1], 1);
    tx.feed(ACK);
    EXPECT_EQ(host.take(), bytes({EOT}));
    tx.feed(ACK);
    EXPECT_EQ(host.events.back(), "end ok");
    tx.feed('C');
    const auto closing = host.take();
    ASSERT_EQ(closing.size(), 133u);
    EXPECT_EQ(closing[3], 0) << "an empty name";
    for (int i = 0; i < 200 && !tx.done(); ++i)
        tx.timeout();
    ASSERT_TRUE(tx.done());
    EXPECT_EQ(tx.result(), 0);
    EXPECT_FALSE(host.cancelled);
}

TEST(XmodemReceiver, GarbledNumberAndBadCheckAreNaked)
{
    FakeHost host;
    XyModem rx(host, Protocol_XModemCrc, false);
    rx.start();
    EXPECT_EQ(host.take(), bytes({'C'}));
    std::vector<std::uint8_t> data(128, 7);
    auto block = frameBlock(1, data.data(), 128, true);
    block[2] = 0;  // complement no longer matches
    feedAll(rx, block);
    EXPECT_EQ(host.messages.back(), "Sector number garbled");
    // Still waiting for the first block: the start character again.
    EXPECT_EQ(host.take(), bytes({'C'}));

    feedAll(rx, frameBlock(1, data.data(), 128, true));
    EXPECT_EQ(host.take(), bytes({ACK}));
    auto bad = frameBlock(2, data.data(), 128, true);
    bad.back() ^= 1;
    feedAll(rx, bad);
    EXPECT_EQ(host.messages.back(), "CRC error");
    EXPECT_EQ(host.take(), bytes({NAK}));
}

TEST(XmodemReceiver, TwelfthRepeatFailsAndTwoCansCancel)
{
    FakeHost host;
    XyModem rx(host, Protocol_XModem, false);
    rx.start();
    std::vector<std::uint8_t> data(128, 1);
    const auto block = frameBlock(1, data.data(), 128, false);
    feedAll(rx, block);
    for (int i = 0; i < 11; ++i) {
        feedAll(rx, block);
        ASSERT_FALSE(rx.done()) << i;
    }
    EXPECT_EQ(host.messages.back(), "Received duplicate sector: 1");
    feedAll(rx, block);
    ASSERT_TRUE(rx.done());
    EXPECT_NE(rx.result(), 0);
    EXPECT_EQ(host.events.back(), "end failed");

    FakeHost host2;
    XyModem rx2(host2, Protocol_XModem, false);
    rx2.start();
    rx2.feed(CAN);
    EXPECT_FALSE(rx2.done());
    rx2.feed(CAN);
    ASSERT_TRUE(rx2.done());
    EXPECT_EQ(host2.messages.front(), "Sender canceled");
}

TEST(YmodemReceiver, WritesExactlyTheHeaderSize)
{
    FakeHost host;
    XyModem rx(host, Protocol_YModem, false);
    rx.start();
    const auto header = ymodemHeader("n.txt", 130);
    feedAll(rx, frameBlock(0, header.data(), 128, true));
    std::vector<std::uint8_t> data(128, 'a');
    feedAll(rx, frameBlock(1, data.data(), 128, true));
    std::fill(data.begin(), data.end(), SUB);
    data[0] = data[1] = 'b';
    feedAll(rx, frameBlock(2, data.data(), 128, true));
    rx.feed(EOT);
    feedAll(rx, frameBlock(0, ymodemHeader("", 0).data(), 128, true));
    ASSERT_TRUE(rx.done());
    EXPECT_EQ(rx.result(), 0);
    EXPECT_EQ(host.files["n.txt"], std::string(128, 'a') + "bb");
    EXPECT_EQ(host.events.front(), "size 130");
}
