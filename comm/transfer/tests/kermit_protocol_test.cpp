// Kermit without a port: packets and prefixing against hand-made values,
// scripted far ends for the sender's and the receiver's states, and our
// sender against our receiver.
#include "kermit.h"
#include "mem_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <random>

using namespace xfer;
using namespace xfer::kermit;

using xfertest::MemSink;
using xfertest::MemSource;

namespace {

std::string str(const std::vector<std::uint8_t>& v) { return std::string(v.begin(), v.end()); }
const std::uint8_t* u8(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

// Files in memory, every report recorded; the sender's queue behaves like
// the engine's: prepare takes the next name, an empty one when none is left.
class Host : public ProtocolHost {
public:
    std::vector<std::uint8_t> written;
    std::vector<std::string> messages;
    std::vector<std::string> events;
    std::vector<std::uint64_t> progress_;
    std::deque<std::string> queue;
    std::map<std::string, std::string> files;
    std::map<std::string, bool> closed;
    std::vector<std::string> proposed;
    bool abort = false;
    bool cancelled = false;
    int discards = 0;

    bool write(const std::uint8_t* b, std::size_t n) override
    {
        written.insert(written.end(), b, b + n);
        return true;
    }
    void drainOutput() override {}
    void discardInput() override { ++discards; }
    bool abortRequested() override { return abort; }
    void cancelTransfer() override { cancelled = true; }
    void message(std::string_view text) override { messages.emplace_back(text); }
    void prepare(FileNames& names, bool sending) override
    {
        if (sending) {
            names.source = queue.empty() ? std::string() : queue.front();
            names.destination = names.source;
            if (!queue.empty())
                queue.pop_front();
        } else {
            proposed.push_back(names.destination);
            if (names.destination.empty())
                names.destination = "UNTITLED.000";
        }
    }
    void fileSize(std::uint64_t size) override { events.push_back("size " + std::to_string(size)); }
    void progress(std::uint64_t bytes, std::uint32_t) override { progress_.push_back(bytes); }
    void fileEnded(bool ok) override { events.push_back(ok ? "end ok" : "end failed"); }
    void clearFields() override {}
    std::unique_ptr<FileSource> openSource(const std::string& path) override
    {
        auto it = files.find(path);
        return it == files.end() ? nullptr : std::make_unique<MemSource>(it->second);
    }
    std::unique_ptr<FileSink> createSink(const std::string& path) override
    {
        if (path == "readonly")
            return nullptr;
        files[path].clear();
        closed[path] = false;
        return std::make_unique<MemSink>(&files[path], &closed[path]);
    }

    std::string take()
    {
        std::string out(written.begin(), written.end());
        written.clear();
        return out;
    }
};

// A packet as the test sees it on the line.
struct Seen {
    char type = 0;
    int seq = -1;
    std::string data;
};

// Splits what a machine wrote into packets, checking each one's LEN,
// CHECK and end of line independently of the code under test.
std::vector<Seen> packets(const std::string& line, char eol = '\r')
{
    std::vector<Seen> out;
    std::size_t i = 0;
    while ((i = line.find('\x01', i)) != std::string::npos) {
        EXPECT_LT(i + 4, line.size());
        if (i + 4 >= line.size())
            break;
        const int len = std::uint8_t(line[i + 1]) - 32;
        EXPECT_LE(std::size_t(i + 2 + len), line.size());
        unsigned s = 0;
        for (int k = 1; k <= len; ++k)
            s += std::uint8_t(line[i + std::size_t(k)]);
        s &= 0xFF;
        EXPECT_EQ(std::uint8_t(line[i + 1 + std::size_t(len)]), 32 + (s + s / 64) % 64);
        EXPECT_EQ(line[i + 2 + std::size_t(len)], eol);
        out.push_back({line[i + 3], std::uint8_t(line[i + 2]) - 32, line.substr(i + 4, std::size_t(len) - 3)});
        i += 3 + std::size_t(len);
    }
    return out;
}

std::string packet(char type, int seq, const std::string& data = {})
{
    return str(framePacket(std::uint8_t(type), seq, u8(data), data.size(), Parameters{}));
}

void feed(ByteMachine& m, const std::string& bytes)
{
    for (char c : bytes)
        m.feed(std::uint8_t(c));
}

std::string randomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (char& c : s)
        c = char(gen() & 0xFF);
    return s;
}

// Our sender against our receiver: what one writes the other reads.
void runPair(Kermit& tx, Host& txHost, Kermit& rx, Host& rxHost)
{
    std::deque<std::uint8_t> toRx, toTx;
    tx.start();
    rx.start();
    for (int steps = 0; steps < 20'000'000 && !(tx.done() && rx.done()); ++steps) {
        for (auto b : txHost.written)
            toRx.push_back(b);
        txHost.written.clear();
        for (auto b : rxHost.written)
            toTx.push_back(b);
        rxHost.written.clear();
        if (!rx.done() && !toRx.empty()) {
            rx.feed(toRx.front());
            toRx.pop_front();
        } else if (!tx.done() && !toTx.empty()) {
            tx.feed(toTx.front());
            toTx.pop_front();
        } else if (!tx.done()) {
            tx.timeout();
        } else if (!rx.done()) {
            rx.timeout();
        }
    }
    ASSERT_TRUE(tx.done() && rx.done());
}

}  // namespace

TEST(KermitPacket, FramingAndCheckMatchHandMadePackets)
{
    EXPECT_EQ(packet('Y', 0), "\x01# Y>\r");
    EXPECT_EQ(packet('S', 0, ownParameters()), "\x01) S~* @-#W\r");
    EXPECT_EQ(ownParameters(), "~* @-#");
    EXPECT_EQ(packet('D', 5, "#M###\xCD"), "\x01)%D#M###\xCDX\r");
    // The sequence wraps at 64; padding and the end of line are the far end's.
    Parameters far;
    far.padCount = 3;
    far.padChar = 0x7F;
    far.eol = '\n';
    const std::string padded = str(framePacket('Z', 64 + 2, nullptr, 0, far));
    EXPECT_EQ(padded.substr(0, 5), "\x7F\x7F\x7F\x01#");
    EXPECT_EQ(padded[5], '"');
    EXPECT_EQ(padded.back(), '\n');
}

TEST(KermitPacket, PrefixingOfControlsHashAndEighthBit)
{
    auto enc = [](std::uint8_t b) {
        std::string f;
        encodeByte(b, f);
        return f;
    };
    EXPECT_EQ(enc(0x0D), "#M");
    EXPECT_EQ(enc('#'), "##");
    EXPECT_EQ(enc(0x8D), "#\xCD");
    EXPECT_EQ(enc(0x00), "#@");
    EXPECT_EQ(enc(0x7F), "#?");
    EXPECT_EQ(enc(0xFF), "#\xBF");
    EXPECT_EQ(enc(0xA3), "\xA3");  // only "#" itself doubles
    EXPECT_EQ(enc('A'), "A");
    EXPECT_EQ(enc(0xC1), "\xC1");

    std::string all;
    for (int b = 0; b < 256; ++b)
        all += char(b);
    std::string field;
    EXPECT_EQ(fillField(u8(all), all.size(), 100000, field), 256u);
    EXPECT_EQ(decodeField(u8(field), field.size(), '#'), all);
    // A prefix followed by "#" with the eighth bit stays as it is; a lone
    // prefix at the end is dropped.
    EXPECT_EQ(decodeField(u8(std::string("#\xA3" "a#")), 4, '#'), "\xA3" "a");

    // A field stops once it holds the limit; a pair is never split.
    field.clear();
    const std::string crs(10, '\r');
    EXPECT_EQ(fillField(u8(crs), crs.size(), 5, field), 3u);
    EXPECT_EQ(field, "#M#M#M");
}

TEST(KermitPacket, FarParametersAndTheirDefaults)
{
    const std::string odd = "5%\"J !Y3~";  // MAXL 21, TIME 5, two pads of LF, EOL 0, "!", more fields
    Parameters p = parseParameters(u8(odd), odd.size());
    EXPECT_EQ(p.maxLength, 21);
    EXPECT_EQ(p.timeout, 5);
    EXPECT_EQ(p.padCount, 2);
    EXPECT_EQ(p.padChar, 0x0A);
    EXPECT_EQ(p.eol, 10);
    EXPECT_EQ(p.qctl, '!');
    // Nothing given, or lengths and prefixes a basic packet cannot have.
    p = parseParameters(nullptr, 0);
    EXPECT_EQ(p.maxLength, kDefaultLength);
    EXPECT_EQ(p.qctl, '#');
    EXPECT_EQ(parseParameters(u8(std::string("#")), 1).maxLength, kMinLength);
    p = parseParameters(u8(std::string("\xF0* @- ")), 6);
    EXPECT_EQ(p.maxLength, 94);
    EXPECT_EQ(p.qctl, '#');
}

// ---- The sender ------------------------------------------------------------

class KermitSender : public ::testing::Test {
protected:
    void start(const std::string& data, const std::string& name = "dir/data.bin")
    {
        host.files[name] = data;
        host.queue = {name};
        tx.start();
    }
    // The packet the sender wrote since the last call; exactly one.
    Seen sent()
    {
        const auto p = packets(host.take(), eol);
        EXPECT_EQ(p.size(), 1u);
        return p.empty() ? Seen{} : p.front();
    }
    void answer(char type, int seq, const std::string& data = {})
    {
        feed(tx, str(framePacket(std::uint8_t(type), seq, u8(data), data.size(), Parameters{})));
    }

    Host host;
    Kermit tx{host, true};
    char eol = '\r';
};

TEST_F(KermitSender, WholeExchangeWithNextSequenceNakAsAcknowledgement)
{
    // Control bytes, "#" and eighth-bit bytes, 300 of them: several fields.
    std::string data;
    for (int i = 0; i < 300; ++i)
        data += "\r#\x8D" "a"[i % 4];
    start(data);
    Seen s = sent();
    EXPECT_EQ(s.type, 'S');
    EXPECT_EQ(s.seq, 0);
    EXPECT_EQ(s.data, "~* @-#");
    EXPECT_EQ(host.discards, 1);
    answer('Y', 0, "~* @-#");
    EXPECT_EQ(host.events.front(), "size 300");
    EXPECT_EQ(host.messages.back(), "Sending data.bin");

    s = sent();
    EXPECT_EQ(s.type, 'F');
    EXPECT_EQ(s.seq, 1);
    EXPECT_EQ(s.data, "data.bin");  // without its folder
    answer('N', 2);                  // N for the next packet acknowledges this one

    std::string got;
    int seq = 2;
    std::vector<std::uint64_t> counted;
    std::vector<std::size_t> fields;
    for (;;) {
        s = sent();
        EXPECT_EQ(s.seq, seq % 64);
        if (s.type != 'D')
            break;
        fields.push_back(s.data.size());
        got += decodeField(u8(s.data), s.data.size(), '#');
        answer('Y', seq++);
        // Progress is the file bytes acknowledged, not MAXL per field.
        counted.push_back(got.size());
    }
    EXPECT_EQ(got, data);
    // MAXL - 8 characters, or one more when a pair ends the field; the
    // last one holds what is left.
    ASSERT_GE(fields.size(), 2u);
    for (std::size_t i = 0; i + 1 < fields.size(); ++i)
        EXPECT_TRUE(fields[i] == 86 || fields[i] == 87) << fields[i];
    EXPECT_LE(fields.back(), 87u);
    EXPECT_EQ(host.progress_, counted);
    EXPECT_EQ(host.progress_.back(), 300u);

    EXPECT_EQ(s.type, 'Z');
    answer('Y', seq++);
    EXPECT_EQ(host.events.back(), "end ok");
    s = sent();
    EXPECT_EQ(s.type, 'B');
    EXPECT_FALSE(tx.done());
    answer('Y', seq);
    ASSERT_TRUE(tx.done());
    EXPECT_EQ(tx.result(), 0);
}

TEST_F(KermitSender, UsesTheReceiversLengthPaddingAndEndOfLine)
{
    start(std::string(100, 'x') + "\r\r");
    sent();
    answer('Y', 0, "5*\"J\"#");  // MAXL 21, two pads of LF, EOL 0x02
    EXPECT_EQ(tx.farParameters().maxLength, 21);
    eol = '\x02';
    std::string got;
    for (int seq = 1;; ++seq) {
        const std::string raw = host.take();
        EXPECT_EQ(raw.substr(0, 3), "\n\n\x01");
        const auto p = packets(raw, eol);
        ASSERT_EQ(p.size(), 1u);
        if (p[0].type == 'Z')
            break;
        if (p[0].type == 'D') {
            EXPECT_LE(p[0].data.size(), 14u);
            got += decodeField(u8(p[0].data), p[0].data.size(), '#');
        }
        answer('Y', seq);
    }
    EXPECT_EQ(got, std::string(100, 'x') + "\r\r");
}

TEST_F(KermitSender, RetriesThenGivesUp)
{
    start("abc");
    // Broken answers, N and stale acknowledgements repeat the S: 11 in all.
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(sent().type, 'S') << i;
        if (i % 3 == 0)
            answer('N', 0);
        else if (i % 3 == 1)
            answer('Y', 5);
        else
            feed(tx, "\x01# Y?\r");  // check off by one
    }
    EXPECT_EQ(sent().type, 'S');
    EXPECT_FALSE(tx.done());
    answer('N', 0);
    ASSERT_TRUE(tx.done());
    EXPECT_NE(tx.result(), 0);
    EXPECT_TRUE(host.take().empty());
}

TEST_F(KermitSender, QuietLineCancelsTheTransferButTextBeforeAPacketDoesNot)
{
    start("abc");
    sent();
    // A banner and C-Kermit's "kermit -ir" between quiet reads, then the
    // answer still counts.
    for (int i = 0; i < 9; ++i)
        tx.timeout();
    feed(tx, "KERMIT READY TO RECEIVE...\r\nkermit -ir\r");
    answer('Y', 0, "~* @-#");
    EXPECT_EQ(sent().type, 'F');
    for (int i = 0; i < 9; ++i)
        tx.timeout();
    EXPECT_FALSE(tx.done());
    tx.timeout();
    ASSERT_TRUE(tx.done());
    EXPECT_TRUE(host.cancelled);
    EXPECT_NE(tx.result(), 0);
    EXPECT_EQ(host.events.back(), "end failed");

    // Endless text without a SOH ends it too.
    Host h2;
    h2.files["f"] = "x";
    h2.queue = {"f"};
    Kermit k(h2, true);
    k.start();
    feed(k, std::string(kStrayBytes - 1, 'z'));
    EXPECT_FALSE(k.done());
    k.feed('z');
    ASSERT_TRUE(k.done());
    EXPECT_TRUE(h2.cancelled);
}

TEST_F(KermitSender, ErrorPacketAbortsWithItsText)
{
    start("abc");
    sent();
    answer('Y', 0, "~* @-#");
    sent();
    answer('E', 1, "Disk full#M");
    ASSERT_TRUE(tx.done());
    EXPECT_NE(tx.result(), 0);
    EXPECT_EQ(host.messages.back(), "Aborting:\nDisk full\r\n");
    EXPECT_EQ(host.events.back(), "end failed");
}

TEST_F(KermitSender, MissingFileGivesTheTransferUp)
{
    host.queue = {"nowhere"};
    tx.start();
    sent();
    answer('Y', 0);
    ASSERT_TRUE(tx.done());
    EXPECT_NE(tx.result(), 0);
    ASSERT_GE(host.messages.size(), 2u);
    EXPECT_EQ(host.messages[host.messages.size() - 2], "Cannot open file, skipping...");
    EXPECT_EQ(host.messages.back(), "Cannot open file nowhere");
}

TEST_F(KermitSender, EmptyFileAndABatchEndWithOneBreak)
{
    host.files["a"] = "";
    host.files["b"] = "bee";
    host.queue = {"a", "b"};
    tx.start();
    sent();
    answer('Y', 0, "~* @-#");
    EXPECT_EQ(sent().type, 'F');
    answer('Y', 1);
    EXPECT_EQ(sent().type, 'Z');  // nothing to send for the empty file
    answer('Y', 2);
    EXPECT_EQ(sent().data, "b");
    answer('Y', 3);
    EXPECT_EQ(sent().data, "bee");
    answer('Y', 4);
    EXPECT_EQ(sent().type, 'Z');
    answer('Y', 5);
    EXPECT_EQ(sent().type, 'B');
    answer('N', 7);
    ASSERT_TRUE(tx.done());
    EXPECT_EQ(tx.result(), 0);
    EXPECT_EQ(std::count(host.events.begin(), host.events.end(), "end ok"), 2);
}

// ---- The receiver ----------------------------------------------------------

class KermitReceiver : public ::testing::Test {
protected:
    void SetUp() override { rx.start(); }
    Seen answerTo(char type, int seq, const std::string& data = {})
    {
        feed(rx, packet(type, seq, data));
        const auto p = packets(host.take());
        EXPECT_EQ(p.size(), 1u);
        return p.empty() ? Seen{} : p.front();
    }
    void throughHeader(const std::string& name = "x.bin")
    {
        Seen a = answerTo('S', 0, "~* @-#");
        EXPECT_EQ(a.type, 'Y');
        EXPECT_EQ(a.data, "~* @-#");
        a = answerTo('F', 1, name);
        EXPECT_EQ(a.type, 'Y');
        EXPECT_EQ(a.seq, 1);
    }

    Host host;
    Kermit rx{host, false};
};

TEST_F(KermitReceiver, DecodesDataAndRepeatedPacketIsNotWrittenTwice)
{
    throughHeader();
    EXPECT_EQ(host.proposed.back(), "x.bin");
    EXPECT_EQ(host.messages.back(), "Receiving x.bin");
    EXPECT_EQ(answerTo('D', 2, "#M###\xCD" "ab").seq, 2);
    // The sender missed our Y and sends the same packet again.
    const Seen again = answerTo('D', 2, "#M###\xCD" "ab");
    EXPECT_EQ(again.type, 'Y');
    EXPECT_EQ(again.seq, 2);
    EXPECT_EQ(answerTo('D', 3, "#@#?").type, 'Y');
    EXPECT_EQ(host.progress_, (std::vector<std::uint64_t>{5, 7}));
    EXPECT_EQ(answerTo('Z', 4).type, 'Y');
    EXPECT_EQ(host.files["x.bin"], std::string("\r#\x8D" "ab") + std::string(1, '\0') + "\x7F");
    EXPECT_TRUE(host.closed["x.bin"]);
    EXPECT_EQ(host.events.back(), "end ok");
    EXPECT_EQ(answerTo('B', 5).type, 'Y');
    ASSERT_TRUE(rx.done());
    EXPECT_EQ(rx.result(), 0);
}

TEST_F(KermitReceiver, BrokenPacketsAreNakedAndRepeatsReacknowledged)
{
    // Before anything: a broken S gets N for 0.
    feed(rx, "\x01) S~* @-#X\r");
    Seen n = packets(host.take()).at(0);
    EXPECT_EQ(n.type, 'N');
    EXPECT_EQ(n.seq, 0);
    // A packet cut short by a time-out, and a SOH inside one that starts it again.
    feed(rx, "\x01) S~*");
    rx.timeout();
    EXPECT_EQ(packets(host.take()).at(0).type, 'N');
    feed(rx, "\x01)  S\x01");
    EXPECT_EQ(answerTo('S', 0, "~* @-#").type, 'Y');
    // Our acknowledgement of S was lost: S again gets it again.
    const Seen again = answerTo('S', 0, "~* @-#");
    EXPECT_EQ(again.type, 'Y');
    EXPECT_EQ(again.data, "~* @-#");
    answerTo('F', 1, "f");
    const Seen header = answerTo('F', 1, "f");
    EXPECT_EQ(header.type, 'Y');
    EXPECT_EQ(header.seq, 1);
    EXPECT_EQ(host.proposed.size(), 1u);  // the file was set up once
    answerTo('D', 2, "abc");
    answerTo('Z', 3);
    EXPECT_EQ(answerTo('Z', 3).seq, 3);
    EXPECT_EQ(host.files["f"], "abc");
}

TEST_F(KermitReceiver, LimitsOfRepeatsTriesAndSilence)
{
    throughHeader();
    answerTo('D', 2, "a");
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(answerTo('D', 2, "a").type, 'Y') << i;
    feed(rx, packet('D', 2, "a"));
    ASSERT_TRUE(rx.done());
    EXPECT_NE(rx.result(), 0);
    EXPECT_EQ(host.files["x.bin"], "a");
    EXPECT_EQ(host.events.back(), "end failed");

    // Eleven broken packets in a row, each answered with N, end it.
    Host h2;
    Kermit r2(h2, false);
    r2.start();
    for (int i = 0; i < 10; ++i) {
        feed(r2, "\x01# Y?\r");
        EXPECT_FALSE(r2.done()) << i;
    }
    feed(r2, "\x01# Y?\r");
    EXPECT_TRUE(r2.done());
    EXPECT_EQ(packets(h2.take()).size(), 11u);
    EXPECT_FALSE(h2.cancelled);

    // Ten quiet seconds without a SOH cancel the transfer.
    Host h3;
    Kermit r3(h3, false);
    r3.start();
    for (int i = 0; i < 10; ++i)
        r3.timeout();
    ASSERT_TRUE(r3.done());
    EXPECT_TRUE(h3.cancelled);
    EXPECT_TRUE(h3.written.empty());
}

TEST_F(KermitReceiver, UnexpectedPacketsErrorsAndUncreatableFiles)
{
    EXPECT_EQ(answerTo('S', 0, "~* @-#").type, 'Y');
    feed(rx, packet('D', 1, "early"));
    ASSERT_TRUE(rx.done());
    EXPECT_NE(rx.result(), 0);

    Host h2;
    Kermit r2(h2, false);
    r2.start();
    feed(r2, packet('S', 0));
    feed(r2, packet('E', 1, "No such file"));
    ASSERT_TRUE(r2.done());
    EXPECT_EQ(h2.messages.back(), "Aborting:\nNo such file\n");

    Host h3;
    Kermit r3(h3, false);
    r3.start();
    feed(r3, packet('S', 0));
    h3.take();
    feed(r3, packet('F', 1, "readonly"));
    ASSERT_TRUE(r3.done());
    EXPECT_EQ(h3.messages.back(), "Cannot create readonly");
    EXPECT_TRUE(h3.take().empty());  // no E packet goes out
}

TEST_F(KermitReceiver, NameStopsAtAZeroByteAndEmptyNameIsProposedEmpty)
{
    throughHeader("..#@/etc/passwd");
    EXPECT_EQ(host.proposed.back(), "..");
    answerTo('Z', 2);
    answerTo('F', 3, "");
    EXPECT_EQ(host.proposed.back(), "");
    answerTo('Z', 4);
    EXPECT_EQ(host.files.count("UNTITLED.000"), 1u);
}

TEST_F(KermitReceiver, FileTheSenderDiscardsIsNotReportedAsWhole)
{
    throughHeader();
    answerTo('D', 2, "part");
    EXPECT_EQ(answerTo('Z', 3, "D").type, 'Y');
    EXPECT_EQ(host.events.back(), "end failed");
    EXPECT_EQ(host.files["x.bin"], "part");
    // The transfer goes on with the next file.
    answerTo('F', 4, "y.bin");
    answerTo('Z', 5);
    EXPECT_EQ(host.events.back(), "end ok");
    EXPECT_EQ(answerTo('B', 6).type, 'Y');
    ASSERT_TRUE(rx.done());
    EXPECT_EQ(rx.result(), 0);
}

TEST_F(KermitReceiver, AbortFlagEndsAtTheNextPacket)
{
    throughHeader();
    host.abort = true;
    feed(rx, packet('D', 2, "a"));
    ASSERT_TRUE(rx.done());
    EXPECT_NE(rx.result(), 0);
    EXPECT_EQ(host.events.back(), "end failed");
}

// ---- Both of ours ----------------------------------------------------------

TEST(KermitRoundTrip, EverySizeAndABatchComeThrough)
{
    for (std::size_t size : {0u, 1u, 85u, 86u, 87u, 1024u, 1025u, 20000u}) {
        SCOPED_TRACE(size);
        Host txHost, rxHost;
        txHost.files["in.bin"] = randomBytes(size, unsigned(size));
        txHost.files["second"] = randomBytes(3000, 9);
        txHost.queue = {"in.bin", "second"};
        Kermit tx(txHost, true), rx(rxHost, false);
        runPair(tx, txHost, rx, rxHost);
        EXPECT_EQ(tx.result(), 0);
        EXPECT_EQ(rx.result(), 0);
        EXPECT_EQ(rxHost.files["in.bin"], txHost.files["in.bin"]);
        EXPECT_EQ(rxHost.files["second"], txHost.files["second"]);
        EXPECT_EQ(rxHost.progress_.empty() ? 0u : rxHost.progress_.back(), 3000u);
    }
}
