// ZModem without a port: the line format against known bytes (the headers
// as lrzsz writes them), the receiver and the sender driven by scripted far
// ends, and the two machines talking to each other.
#include "xmodem_frame.h"
#include "mem_files.h"
#include "zmodem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

using namespace xfer;
using namespace xfer::zm;

using xfertest::MemSink;
using xfertest::MemSource;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Files in memory, everything written kept, every message recorded.
class Host : public ProtocolHost {
public:
    Bytes written;
    std::vector<std::string> messages;
    std::vector<std::string> toSend;
    std::map<std::string, std::string> files;
    std::set<std::string> uncreatable;
    std::vector<std::uint64_t> positions;
    std::vector<std::string> line;   // breaks and pauses, each with the bytes written before it

    bool write(const std::uint8_t* b, std::size_t n) override
    {
        written.insert(written.end(), b, b + n);
        return true;
    }
    void drainOutput() override {}
    void discardInput() override {}
    void setBreak(bool on) override { line.push_back((on ? "break on after " : "break off after ") + std::to_string(written.size())); }
    void pause(std::uint32_t ms) override
    {
        line.push_back("pause " + std::to_string(ms) + " after " + std::to_string(written.size()));
    }
    bool abortRequested() override { return false; }
    void cancelTransfer() override {}
    void message(std::string_view text) override { messages.emplace_back(text); }
    void prepare(FileNames& names, bool sending) override
    {
        if (sending) {
            names.source = toSend.empty() ? std::string() : toSend.front();
            if (!toSend.empty())
                toSend.erase(toSend.begin());
            names.destination = names.source;
        }
    }
    void fileSize(std::uint64_t) override {}
    void progress(std::uint64_t bytes, std::uint32_t) override { positions.push_back(bytes); }
    void fileEnded(bool) override {}
    void clearFields() override {}
    std::unique_ptr<FileSource> openSource(const std::string& path) override
    {
        auto it = files.find(path);
        return it == files.end() ? nullptr : std::make_unique<MemSource>(it->second);
    }
    std::unique_ptr<FileSink> createSink(const std::string& path) override
    {
        if (uncreatable.count(path))
            return nullptr;
        files[path].clear();
        return std::make_unique<MemSink>(&files[path]);
    }
    std::unique_ptr<FileSink> appendSink(const std::string& path, std::uint64_t& length) override
    {
        auto it = files.find(path);
        length = it == files.end() ? 0 : it->second.size();
        return it == files.end() ? nullptr : std::make_unique<MemSink>(&it->second);
    }

    Bytes take() { return std::exchange(written, {}); }
    bool said(const std::string& text) const
    {
        return std::find(messages.begin(), messages.end(), text) != messages.end();
    }
};

bool collect(void* context, const std::uint8_t* b, std::size_t n)
{
    auto* out = static_cast<Bytes*>(context);
    out->insert(out->end(), b, b + n);
    return true;
}

// A binary header (and subpacket) as a far-end sender writes it.
Bytes binaryFrame(int type, const Header& h, const std::string& data = {}, std::uint8_t end = 0)
{
    Bytes out;
    Encoder e(&collect, &out);
    e.binaryHeader(type, h);
    if (end)
        e.subpacket(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), end);
    e.flush();
    return out;
}

Bytes hex(int type, const Header& h = {}) { return hexHeader(type, h); }

void feed(ByteMachine& m, const Bytes& bytes)
{
    for (std::uint8_t b : bytes)
        m.feed(b);
}

bool contains(const Bytes& hay, const Bytes& needle)
{
    return std::search(hay.begin(), hay.end(), needle.begin(), needle.end()) != hay.end();
}

int count(const Bytes& hay, const Bytes& needle)
{
    int n = 0;
    for (auto it = hay.begin(); (it = std::search(it, hay.end(), needle.begin(), needle.end())) != hay.end(); ++it)
        ++n;
    return n;
}

Header flags(std::uint8_t zf0)
{
    Header h{};
    h[ZF0] = zf0;
    return h;
}

std::string fileInfo(const std::string& name, std::uint64_t size)
{
    const Bytes b = fileInformation(name, size);
    return std::string(b.begin(), b.end());
}

TEST(ZmodemFrame, HexHeadersAndChecksMatchTheKnownBytes)
{
    // The bytes lrzsz itself sends for these headers.
    EXPECT_EQ(hex(ZRQINIT), bytesOf("**\x18" "B00000000000000\r\x8a\x11"));
    EXPECT_EQ(hex(ZRINIT, flags(CANFDX | CANOVIO)), bytesOf("**\x18" "B0100000003" "9a32\r\x8a\x11"));
    EXPECT_EQ(hex(ZRPOS, positionHeader(0)), bytesOf("**\x18" "B0900000000a87c\r\x8a\x11"));
    // No XON after ZFIN and ZACK.
    EXPECT_EQ(hex(ZFIN), bytesOf("**\x18" "B0800000000022d\r\x8a"));
    EXPECT_EQ(hex(ZACK).back(), 0x8a);
    // Positions are little-endian.
    EXPECT_EQ(headerPosition(positionHeader(0x01020304)), 0x01020304u);
    EXPECT_EQ(positionHeader(0x01020304)[0], 0x04);

    std::uint16_t crc = 0;
    for (char c : std::string("123456789"))
        crc = crc16Update(crc, std::uint8_t(c));
    EXPECT_EQ(crc, 0x31C3);
}

TEST(ZmodemFrame, EscapingCoversZdleFlowControlAndAtCr)
{
    auto encode = [](const Bytes& in, bool all) {
        Bytes out;
        Encoder e(&collect, &out);
        e.setEscapeAll(all);
        for (std::uint8_t b : in)
            e.escaped(b);
        e.flush();
        return out;
    };
    EXPECT_EQ(encode({ZDLE}, false), (Bytes{ZDLE, 'X'}));
    EXPECT_EQ(encode({0x10, 0x11, 0x13, 0x91, 0x93}, false),
              (Bytes{ZDLE, 0x50, ZDLE, 0x51, ZDLE, 0x53, ZDLE, 0xD1, ZDLE, 0xD3}));
    // CR only after "@" (either high bit).
    EXPECT_EQ(encode({'@', '\r', 'a', '\r', 0xC0, 0x8D}, false),
              (Bytes{'@', ZDLE, 0x4D, 'a', '\r', 0xC0, ZDLE, 0xCD}));
    // Plain bytes stay; with every control escaped, 0x01 goes too.
    EXPECT_EQ(encode({'A', 0x01, 0x7F}, false), (Bytes{'A', 0x01, 0x7F}));
    EXPECT_EQ(encode({0x01}, true), (Bytes{ZDLE, 0x41}));
}

TEST(ZmodemFrame, FileInformationIsReadBack)
{
    const std::string info = fileInfo("data.bin", 12345);
    const FileInformation got = parseFileInformation(reinterpret_cast<const std::uint8_t*>(info.data()), info.size());
    EXPECT_EQ(got.name, "data.bin");
    EXPECT_TRUE(got.hasSize);
    EXPECT_EQ(got.size, 12345u);
}

// A receiver that got its ZFILE and was asked for data: the scripted
// sender has just read the ZRPOS.
class Receiver : public ::testing::Test {
protected:
    void SetUp() override
    {
        rx.start();
        ASSERT_TRUE(contains(host.take(), hex(ZRINIT, flags(CANFDX | CANOVIO))));
    }
    void sendFile(const std::string& name, std::uint64_t size, std::uint8_t zf0 = 0)
    {
        feed(rx, binaryFrame(ZFILE, flags(zf0), fileInfo(name, size), ZCRCW));
    }

    Host host;
    ZModem rx{host, false, 300};
};

TEST_F(Receiver, AcknowledgesWhereTheSenderAsksAndWritesAsDataComes)
{
    sendFile("a.txt", 9);
    EXPECT_TRUE(contains(host.take(), hex(ZRPOS, positionHeader(0))));
    feed(rx, binaryFrame(ZDATA, positionHeader(0), "hel", ZCRCQ));
    EXPECT_EQ(host.files["a.txt"], "hel");
    EXPECT_TRUE(contains(host.take(), hex(ZACK, positionHeader(3))));
    Bytes more;
    Encoder e(&collect, &more);
    e.subpacket(reinterpret_cast<const std::uint8_t*>("lo!"), 3, ZCRCW);
    e.flush();
    feed(rx, more);
    EXPECT_EQ(host.files["a.txt"], "hello!");
    Bytes ackAndXon = hex(ZACK, positionHeader(6));
    ackAndXon.push_back(XON);
    EXPECT_TRUE(contains(host.take(), ackAndXon));
    ASSERT_FALSE(rx.done());
}

TEST_F(Receiver, WholeSessionWithARepeatedFin)
{
    sendFile("b.txt", 5);
    host.take();
    Bytes frame = binaryFrame(ZDATA, positionHeader(0));
    Bytes data;
    Encoder e(&collect, &data);
    e.subpacket(reinterpret_cast<const std::uint8_t*>("ab"), 2, ZCRCG);
    e.subpacket(reinterpret_cast<const std::uint8_t*>("cde"), 3, ZCRCE);
    e.flush();
    feed(rx, frame);
    feed(rx, data);
    feed(rx, binaryFrame(ZEOF, positionHeader(5)));
    EXPECT_EQ(host.files["b.txt"], "abcde");
    EXPECT_TRUE(contains(host.take(), hex(ZRINIT, flags(CANFDX | CANOVIO))));
    feed(rx, hex(ZFIN));
    EXPECT_EQ(count(host.take(), hex(ZFIN)), 1);
    // The sender missed our ZFIN: it is answered again at once.
    feed(rx, hex(ZFIN));
    EXPECT_EQ(count(host.take(), hex(ZFIN)), 1);
    feed(rx, bytesOf("OO"));
    ASSERT_TRUE(rx.done());
    EXPECT_EQ(rx.result(), 0);
    EXPECT_TRUE(host.said("Ending file transfer"));
}

// sz loses its closing "OO" on pseudo-terminals: once ZFIN has been
// answered the files are complete, and the receiver ends within seconds.
TEST_F(Receiver, ClosingOoThatNeverComesEndsTheSessionSoon)
{
    sendFile("b.txt", 0);
    feed(rx, binaryFrame(ZEOF, positionHeader(0)));
    host.take();
    feed(rx, hex(ZFIN));
    EXPECT_EQ(count(host.take(), hex(ZFIN)), 1);
    ASSERT_FALSE(rx.done());
    EXPECT_LE(rx.timeoutMs(), 5000u);
    rx.timeout();
    ASSERT_TRUE(rx.done());
    EXPECT_EQ(rx.result(), 0);
    EXPECT_EQ(host.files["b.txt"], "");
}

// A file that cannot be created is skipped, not offered again for ever:
// ZSKIP (no ZRINIT, which would make the sender repeat its ZFILE), the
// next file arrives, and the transfer ends failed with the reason.
TEST_F(Receiver, FileThatCannotBeCreatedIsSkippedAndTheBatchGoesOn)
{
    host.uncreatable = {"locked.txt"};
    sendFile("locked.txt", 5);
    Bytes out = host.take();
    EXPECT_TRUE(contains(out, hex(ZSKIP)));
    EXPECT_FALSE(contains(out, hex(ZRINIT, flags(CANFDX | CANOVIO))));
    EXPECT_TRUE(host.said("Cannot create locked.txt"));
    EXPECT_FALSE(rx.done());

    sendFile("next.txt", 3);
    EXPECT_TRUE(contains(host.take(), hex(ZRPOS, positionHeader(0))));
    feed(rx, binaryFrame(ZDATA, positionHeader(0), "abc", ZCRCE));
    feed(rx, binaryFrame(ZEOF, positionHeader(3)));
    EXPECT_EQ(host.files["next.txt"], "abc");
    feed(rx, hex(ZFIN));
    feed(rx, bytesOf("OO"));
    ASSERT_TRUE(rx.done());
    EXPECT_NE(rx.result(), 0);
    EXPECT_EQ(host.messages.back(), "Cannot create locked.txt");
    EXPECT_EQ(host.files.count("locked.txt"), 0u);
}

TEST_F(Receiver, BrokenSubpacketsAskAgainFromTheGoodPosition)
{
    sendFile("c.txt", 8);
    host.take();
    feed(rx, binaryFrame(ZDATA, positionHeader(0), "1234", ZCRCG));
    // A subpacket with a bad check, then one from a wrong position.
    Bytes bad = binaryFrame(ZDATA, positionHeader(4), "5678", ZCRCE);
    bad.erase(bad.begin(), bad.begin() + long(binaryFrame(ZDATA, positionHeader(4)).size()));
    bad[1] ^= 0x01;
    feed(rx, bad);
    EXPECT_TRUE(host.said("Bad CRC"));
    EXPECT_TRUE(contains(host.take(), hex(ZRPOS, positionHeader(4))));
    feed(rx, binaryFrame(ZDATA, positionHeader(2), "34", ZCRCE));
    EXPECT_TRUE(contains(host.take(), hex(ZRPOS, positionHeader(4))));
    feed(rx, binaryFrame(ZDATA, positionHeader(4), "5678", ZCRCE));
    feed(rx, binaryFrame(ZEOF, positionHeader(8)));
    EXPECT_EQ(host.files["c.txt"], "12345678");
}

TEST_F(Receiver, OversizedSubpacketIsRefusedWithoutWritingPastIt)
{
    sendFile("d.txt", 5000);
    host.take();
    feed(rx, binaryFrame(ZDATA, positionHeader(0), std::string(1500, 'x'), ZCRCE));
    EXPECT_TRUE(host.said("Data subpacket too long"));
    EXPECT_TRUE(host.files["d.txt"].empty());
    EXPECT_TRUE(contains(host.take(), hex(ZRPOS, positionHeader(0))));
}

TEST_F(Receiver, TwentyErrorsInARowFailTheFile)
{
    sendFile("e.txt", 10);
    host.take();
    for (int i = 0; i < 21 && !rx.done(); ++i)
        feed(rx, binaryFrame(ZDATA, positionHeader(7), "x", ZCRCE));
    ASSERT_TRUE(rx.done());
    EXPECT_NE(rx.result(), 0);
}

TEST_F(Receiver, Crc32HeaderIsReadAndRefused)
{
    // "*" ZDLE "C" ZFILE, four flag bytes, four check bytes, then its
    // subpacket with a four-byte check.
    Bytes frame = {ZPAD, ZDLE, ZBIN32, ZFILE, 0, 0, 0, 0, 1, 2, 3, 4};
    const std::string info = fileInfo("f.txt", 3);
    frame.insert(frame.end(), info.begin(), info.end());
    for (std::uint8_t b : {ZDLE, ZCRCW, std::uint8_t(1), std::uint8_t(2), std::uint8_t(3), std::uint8_t(4)})
        frame.push_back(b);
    feed(rx, frame);
    EXPECT_TRUE(host.said("Bad CRC"));
    EXPECT_TRUE(host.files.empty());
    EXPECT_FALSE(rx.done());
}

TEST_F(Receiver, CommandIsAnsweredAndNeverRun)
{
    feed(rx, binaryFrame(ZCOMMAND, Header{}, std::string("touch /tmp/zmodem-was-here\0", 27), ZCRCW));
    EXPECT_TRUE(contains(host.take(), hex(ZCOMPL)));
    EXPECT_TRUE(host.files.empty());
    feed(rx, hex(ZFIN));
    feed(rx, bytesOf("OO"));
    ASSERT_TRUE(rx.done());
    EXPECT_EQ(rx.result(), 0);
}

TEST_F(Receiver, GarbagePastTheLimitStartsAgain)
{
    // At 300 baud the limit is 1700 bytes without a header.
    feed(rx, Bytes(1701, 'x'));
    EXPECT_TRUE(host.said("Garbage count exceeded"));
    EXPECT_TRUE(contains(host.take(), hex(ZRINIT, flags(CANFDX | CANOVIO))));
    // Fifteen attempts, then the receiver gives up.
    for (int i = 0; i < 20 && !rx.done(); ++i)
        feed(rx, Bytes(1701, 'x'));
    ASSERT_TRUE(rx.done());
    EXPECT_NE(rx.result(), 0);
}

TEST_F(Receiver, AttentionStringGoesOutBeforeEveryRepeatedPosition)
{
    feed(rx, binaryFrame(ZSINIT, Header{}, std::string("\x03!\0", 3), ZCRCW));
    EXPECT_TRUE(contains(host.take(), hex(ZACK, positionHeader(1))));
    sendFile("g.txt", 4);
    host.take();
    feed(rx, binaryFrame(ZDATA, positionHeader(3), "x", ZCRCE));
    const Bytes out = host.take();
    const Bytes expected = [&] {
        Bytes b = {0x03, '!'};
        const Bytes h = hex(ZRPOS, positionHeader(0));
        b.insert(b.end(), h.begin(), h.end());
        return b;
    }();
    EXPECT_TRUE(contains(out, expected));
}

// A break byte holds a break for a second after a second's wait, a pause
// byte waits a second; the other bytes go out between them in order.
TEST_F(Receiver, AttentionBreakAndPauseGoToTheLine)
{
    feed(rx, binaryFrame(ZSINIT, Header{}, std::string("\x03\xdd!\xde\0", 5), ZCRCW));
    sendFile("g.txt", 4);
    host.take();
    feed(rx, binaryFrame(ZDATA, positionHeader(3), "x", ZCRCE));
    EXPECT_EQ(host.line, (std::vector<std::string>{"pause 1000 after 1", "break on after 1", "pause 1000 after 1",
                                                   "break off after 1", "pause 1000 after 2"}));
    const Bytes out = host.take();
    ASSERT_GE(out.size(), 2u);
    EXPECT_EQ(out[0], 0x03);
    EXPECT_EQ(out[1], '!');
    EXPECT_TRUE(contains(out, hex(ZRPOS, positionHeader(0))));
}

TEST_F(Receiver, ResumeRequestAsksFromTheLengthWeHave)
{
    host.files["h.bin"] = "0123";
    sendFile("h.bin", 10, ZCRECOV);
    EXPECT_TRUE(contains(host.take(), hex(ZRPOS, positionHeader(4))));
    feed(rx, binaryFrame(ZDATA, positionHeader(4), "456789", ZCRCE));
    feed(rx, binaryFrame(ZEOF, positionHeader(10)));
    EXPECT_EQ(host.files["h.bin"], "0123456789");

    // Without the request the data starts at 0.
    sendFile("h.bin", 3);
    EXPECT_TRUE(contains(host.take(), hex(ZRPOS, positionHeader(0))));
}

// The sender against a scripted receiver.
class Sender : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::mt19937 gen(7);
        for (int i = 0; i < 20000; ++i)
            data.push_back(char(gen() & 0xFF));
        host.files["s.bin"] = data;
        host.toSend = {"s.bin"};
        tx.start();
    }
    // Runs the sender while it only polls the line.
    void runPolls(int limit = 1000)
    {
        for (int i = 0; i < limit && !tx.done() && tx.timeoutMs() <= 1; ++i)
            tx.timeout();
    }

    std::string data;
    Host host;
    ZModem tx{host, true, 19200};
};

TEST_F(Sender, StartsTheFarEndAndOffersTheFile)
{
    Bytes out = host.take();
    Bytes start = bytesOf("rz\r");
    const Bytes rq = hex(ZRQINIT);
    start.insert(start.end(), rq.begin(), rq.end());
    EXPECT_EQ(out, start);
    feed(tx, hex(ZRINIT, flags(CANFDX | CANOVIO)));
    out = host.take();
    EXPECT_TRUE(contains(out, binaryFrame(ZFILE, Header{}, fileInfo("s.bin", data.size()), ZCRCW)));
}

// rz sends its ready frame twice. The second one must not cost the
// receiver's answer to our ZFILE: the ZRPOS right behind it starts the data
// at once, without the ZFILE going out again.
TEST_F(Sender, DoubledReadyFrameDoesNotHoldUpTheFile)
{
    feed(tx, hex(ZRINIT, flags(CANFDX | CANOVIO)));
    host.take();
    feed(tx, hex(ZRINIT, flags(CANFDX | CANOVIO)));
    feed(tx, hex(ZRPOS, positionHeader(0)));
    runPolls(1);
    const Bytes out = host.take();
    EXPECT_TRUE(contains(out, binaryFrame(ZDATA, positionHeader(0))));
    EXPECT_EQ(count(out, binaryFrame(ZFILE, Header{}, fileInfo("s.bin", data.size()), ZCRCW)), 0);

    // A ZRINIT and then silence: the receiver missed the ZFILE, it goes
    // out again.
    Host h2;
    h2.files["s.bin"] = data;
    h2.toSend = {"s.bin"};
    ZModem tx2{h2, true, 19200};
    tx2.start();
    feed(tx2, hex(ZRINIT, flags(CANFDX | CANOVIO)));
    h2.take();
    feed(tx2, hex(ZRINIT, flags(CANFDX | CANOVIO)));
    EXPECT_TRUE(h2.take().empty());
    tx2.timeout();
    EXPECT_TRUE(contains(h2.take(), binaryFrame(ZFILE, Header{}, fileInfo("s.bin", data.size()), ZCRCW)));
}

TEST_F(Sender, RepositionMidFileResendsFromThereWithHalfTheLength)
{
    feed(tx, hex(ZRINIT, flags(CANFDX | CANOVIO)));
    feed(tx, hex(ZRPOS, positionHeader(0)));
    runPolls(3);
    EXPECT_EQ(tx.subpacketLength(), kMaxSubpacket);
    host.take();
    feed(tx, hex(ZRPOS, positionHeader(8192)));
    EXPECT_TRUE(host.said("Resending"));
    EXPECT_EQ(tx.subpacketLength(), kMaxSubpacket / 2);
    runPolls(1);
    EXPECT_TRUE(contains(host.take(), binaryFrame(ZDATA, positionHeader(8192))));
    // Halving stops at 64.
    for (int i = 0; i < 8; ++i)
        feed(tx, hex(ZRPOS, positionHeader(0)));
    EXPECT_EQ(tx.subpacketLength(), kMinSubpacket);
}

// Sender and receiver machines joined in memory: every byte value, a
// batch of two files, and the session's end.
TEST(ZmodemMachines, TwoMachinesMoveABatchByteExact)
{
    Host a, b;
    std::string one, two(3000, '\0');
    for (int i = 0; i < 70000; ++i)
        one.push_back(char(i * 7 % 256));
    for (std::size_t i = 0; i < two.size(); ++i)
        two[i] = char(i % 3 == 0 ? ZDLE : i % 3 == 1 ? 0x11 : '@');
    a.files = {{"one", one}, {"two", two}};
    a.toSend = {"one", "two"};
    ZModem tx(a, true), rx(b, false);
    tx.start();
    rx.start();
    for (int step = 0; step < 200000 && !(tx.done() && rx.done()); ++step) {
        const Bytes ab = a.take(), ba = b.take();
        feed(rx, ab);
        feed(tx, ba);
        // Silence: the shorter wait runs out first, as it would in time.
        if (ab.empty() && ba.empty()) {
            if (!tx.done() && (rx.done() || tx.timeoutMs() <= rx.timeoutMs()))
                tx.timeout();
            else if (!rx.done())
                rx.timeout();
        }
    }
    ASSERT_TRUE(tx.done() && rx.done());
    EXPECT_EQ(tx.result(), 0);
    EXPECT_EQ(rx.result(), 0);
    EXPECT_TRUE(b.files["one"] == one) << b.files["one"].size();
    EXPECT_TRUE(b.files["two"] == two) << b.files["two"].size();
}

}  // namespace
