// Telnet without a socket: data and commands apart in any split of the
// input, option negotiation that answers once and never loops, bounded
// subnegotiations, and 255 doubled both ways.
#include "rfc2217/telnet.h"
#include "wire.h"

#include <gtest/gtest.h>

#include <deque>

using namespace rfc2217;
using namespace rfc2217test;

namespace {

class Recorder : public TelnetHost {
public:
    Bytes wire, data;
    std::vector<std::string> events;

    void toWire(const std::uint8_t* b, std::size_t n) override { wire.insert(wire.end(), b, b + n); }
    void received(const std::uint8_t* b, std::size_t n) override { data.insert(data.end(), b, b + n); }
    void subnegotiation(std::uint8_t option, const std::uint8_t* p, std::size_t n) override
    {
        events.push_back("sb " + std::to_string(option) + ": " + hex(Bytes(p, p + n)));
    }
    void option(std::uint8_t option, Side side, bool on) override
    {
        events.push_back(std::to_string(option) + (side == Side::Local ? " local " : " remote ") + (on ? "on" : "off"));
    }
    void command(std::uint8_t code) override { events.push_back("cmd " + std::to_string(code)); }

    Bytes takeWire()
    {
        Bytes w;
        w.swap(wire);
        return w;
    }
};

void feed(Telnet& t, const Bytes& b)
{
    t.feed(b.data(), b.size());
}

TEST(Telnet, DataCommandsAndSubnegotiationsComeApartInEverySplit)
{
    const Bytes input = text("ab") + bytes({255, 255}) + text("c") + bytes({255, 241}) + text("d")
        + sb({1, 0, 255}) + text("e") + bytes({255, 249, 255, 243, 255, 240, 255, 17}) + text("f");
    const Bytes data = text("ab") + bytes({255}) + text("cdef");
    const std::vector<std::string> events{"cmd 241", "sb 44: 01 00 FF", "cmd 249", "cmd 243"};

    for (std::size_t cut = 0; cut <= input.size(); ++cut) {
        Recorder r;
        Telnet t(r);
        t.feed(input.data(), cut);
        t.feed(input.data() + cut, input.size() - cut);
        EXPECT_EQ(hex(r.data), hex(data)) << "cut at " << cut;
        EXPECT_EQ(r.events, events) << "cut at " << cut;
        EXPECT_TRUE(r.wire.empty());
    }
    Recorder r;
    Telnet t(r);
    for (std::uint8_t b : input)
        t.feed(&b, 1);
    EXPECT_EQ(hex(r.data), hex(data));
    EXPECT_EQ(r.events, events);
}

TEST(Telnet, NegotiationAnswersEachRequestOnceAndRefusesWhatItDoesNotKnow)
{
    struct Row {
        const char* what;
        Bytes in;
        Bytes out;
    };
    // BINARY is agreed both ways, SGA was asked for (WILL and DO) by us,
    // everything else is unknown.
    const Row rows[] = {
        {"unknown DO", bytes({255, 253, 24}), bytes({255, 252, 24})},
        {"unknown DO again", bytes({255, 253, 24}), bytes({255, 252, 24})},
        {"ECHO offered", bytes({255, 251, 1}), bytes({255, 254, 1})},
        {"unknown WONT and DONT", bytes({255, 252, 5, 255, 254, 5}), {}},
        {"peer offers BINARY", bytes({255, 251, 0}), bytes({255, 253, 0})},
        {"offered again: in that state", bytes({255, 251, 0}), {}},
        {"peer asks for BINARY", bytes({255, 253, 0}), bytes({255, 251, 0})},
        {"peer stops BINARY", bytes({255, 252, 0}), bytes({255, 254, 0})},
        {"stops again", bytes({255, 252, 0}), {}},
        {"answer to our WILL SGA", bytes({255, 253, 3}), {}},
        {"asked again", bytes({255, 253, 3}), {}},
        {"answer to our DO SGA", bytes({255, 251, 3}), {}},
        {"peer turns SGA off", bytes({255, 254, 3}), bytes({255, 252, 3})},
        {"and on again", bytes({255, 253, 3}), bytes({255, 251, 3})},
    };
    Recorder r;
    Telnet t(r);
    t.support(tn::BINARY, true, true);
    t.request(tn::SGA, Side::Local);
    t.request(tn::SGA, Side::Remote);
    EXPECT_EQ(hex(r.takeWire()), "FF FB 03 FF FD 03");
    for (const Row& row : rows) {
        feed(t, row.in);
        EXPECT_EQ(hex(r.takeWire()), hex(row.out)) << row.what;
    }
    EXPECT_TRUE(t.enabled(tn::SGA, Side::Local));
    EXPECT_TRUE(t.enabled(tn::SGA, Side::Remote));
    EXPECT_TRUE(t.enabled(tn::BINARY, Side::Local));
    EXPECT_FALSE(t.enabled(tn::BINARY, Side::Remote));
    EXPECT_FALSE(t.enabled(24, Side::Local));
    EXPECT_TRUE(r.data.empty());
}

TEST(Telnet, ARefusedRequestIsReportedAndNotRepeated)
{
    Recorder r;
    Telnet t(r);
    t.request(tn::COM_PORT, Side::Remote);
    t.request(tn::COM_PORT, Side::Remote);  // already asked: not sent twice
    EXPECT_EQ(hex(r.takeWire()), "FF FD 2C");
    feed(t, bytes({255, 252, 44}));
    EXPECT_TRUE(r.takeWire().empty());
    EXPECT_EQ(r.events, std::vector<std::string>{"44 remote off"});
    EXPECT_FALSE(t.enabled(tn::COM_PORT, Side::Remote));
    // Offered later, it is taken: we asked for it once.
    feed(t, bytes({255, 251, 44}));
    EXPECT_EQ(hex(r.takeWire()), "FF FD 2C");
    EXPECT_TRUE(t.enabled(tn::COM_PORT, Side::Remote));
}

TEST(Telnet, TwoEndsAskingForTheSameOptionsAtOnceSettleWithoutALoop)
{
    Recorder ra, rb;
    Telnet a(ra), b(rb);
    for (Telnet* t : {&a, &b}) {
        for (std::uint8_t o : {tn::BINARY, tn::SGA}) {
            t->request(o, Side::Local);
            t->request(o, Side::Remote);
        }
    }
    int exchanged = 0;
    for (int round = 0; round < 10 && (!ra.wire.empty() || !rb.wire.empty()); ++round) {
        const Bytes toB = ra.takeWire(), toA = rb.takeWire();
        exchanged += int(toA.size() + toB.size());
        feed(b, toB);
        feed(a, toA);
    }
    EXPECT_TRUE(ra.wire.empty() && rb.wire.empty());
    EXPECT_EQ(exchanged, 2 * 4 * 3);  // each end's four requests, no answers
    for (Telnet* t : {&a, &b})
        for (std::uint8_t o : {tn::BINARY, tn::SGA})
            EXPECT_TRUE(t->enabled(o, Side::Local) && t->enabled(o, Side::Remote));
}

TEST(Telnet, SubnegotiationsAreBoundedAndABrokenOneDoesNotSwallowWhatFollows)
{
    Recorder r;
    Telnet t(r);
    t.support(tn::BINARY, true, true);

    // The longest payload kept, then one byte more: dropped whole.
    feed(t, sb(Bytes(Telnet::kMaxSubnegotiation, 'x')));
    ASSERT_EQ(r.events.size(), 1u);
    EXPECT_EQ(r.events[0].size(), std::string("sb 44: ").size() + Telnet::kMaxSubnegotiation * 3 - 1);
    r.events.clear();
    feed(t, sb(Bytes(Telnet::kMaxSubnegotiation + 1, 255)) + text("ok"));
    EXPECT_TRUE(r.events.empty());
    EXPECT_EQ(r.data, text("ok"));

    // A flood inside an unterminated SB is never data and is not kept.
    r.data.clear();
    const Bytes flood(1 << 20, 'z');
    feed(t, bytes({255, 250, 44, 1}));
    for (int i = 0; i < 4; ++i)
        feed(t, flood);
    EXPECT_TRUE(r.data.empty());
    EXPECT_TRUE(r.events.empty());
    feed(t, bytes({255, 240}) + text("after"));
    EXPECT_EQ(r.data, text("after"));
    EXPECT_TRUE(r.events.empty());

    // A command inside an SB ends it: the SB is dropped, the command taken.
    r.data.clear();
    feed(t, bytes({255, 250, 44, 1, 0, 255, 251, 0}) + text("data"));
    EXPECT_EQ(hex(r.takeWire()), "FF FD 00");
    EXPECT_EQ(r.data, text("data"));
    EXPECT_EQ(r.events, std::vector<std::string>{"0 remote on"});

    // SB without an option, SE and undefined commands outside one.
    r.data.clear();
    r.events.clear();
    feed(t, bytes({255, 250, 255, 240, 255, 240, 255, 100}) + text("x"));
    EXPECT_EQ(r.data, text("x"));
    EXPECT_TRUE(r.events.empty());
}

TEST(Telnet, SendingDoubles255InDataAndSubnegotiations)
{
    Recorder r;
    Telnet t(r);
    Bytes all;
    for (int i = 0; i < 256; ++i)
        all.push_back(std::uint8_t(i));
    t.sendData(all.data(), all.size());
    EXPECT_EQ(r.wire.size(), 257u);
    EXPECT_EQ(hex(Bytes(r.wire.end() - 3, r.wire.end())), "FE FF FF");

    Recorder back;
    Telnet other(back);
    feed(other, r.takeWire());
    EXPECT_EQ(back.data, all);

    const Bytes payload = bytes({1, 0, 255, 255});
    t.sendSubnegotiation(44, payload.data(), payload.size());
    EXPECT_EQ(hex(r.takeWire()), "FF FA 2C 01 00 FF FF FF FF FF F0");
}

}  // namespace
