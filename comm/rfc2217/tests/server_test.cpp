// The server end against scripted clients: the opening negotiation, every
// COM-PORT-OPTION command with its answer (values in range, out of range,
// truncated), notifications through the masks, and data that stays data.
#include "rfc2217/server.h"
#include "wire.h"

#include <gtest/gtest.h>

#include <random>

using namespace rfc2217;
using namespace rfc2217test;

namespace {

// A port that takes every value the RFC defines and keeps it.
class Port : public ServerHost {
public:
    Bytes wire, port;
    std::vector<std::string> events;
    std::uint32_t baud = 9600;
    std::uint8_t bits = 8;
    Parity par = Parity::None;
    StopSize stop = StopSize::One;
    Control flow = Control::FlowNone, inbound = Control::InboundFlowNone;
    Control brk = Control::BreakOff, dtr = Control::DtrOn, rts = Control::RtsOn;

    void toWire(const std::uint8_t* b, std::size_t n) override { wire.insert(wire.end(), b, b + n); }
    void toPort(const std::uint8_t* b, std::size_t n) override { port.insert(port.end(), b, b + n); }
    std::uint32_t baudRate(std::uint32_t v) override
    {
        events.push_back("baud " + std::to_string(v));
        return v ? baud = v : baud;
    }
    std::uint8_t dataSize(std::uint8_t v) override
    {
        events.push_back("size " + std::to_string(v));
        return v ? bits = v : bits;
    }
    Parity parity(Parity v) override
    {
        events.push_back("parity " + std::to_string(int(v)));
        return v != Parity::Query ? par = v : par;
    }
    StopSize stopSize(StopSize v) override
    {
        events.push_back("stop " + std::to_string(int(v)));
        return v != StopSize::Query ? stop = v : stop;
    }
    Control control(Control v) override
    {
        events.push_back("control " + std::to_string(int(v)));
        Control* group[] = {&flow, &brk, &dtr, &rts, &inbound};
        Control& kept = *group[int(controlGroup(v))];
        return isQuery(v) ? kept : kept = v;
    }
    void purge(Purge what) override { events.push_back("purge " + std::to_string(int(what))); }
    void flowSuspended(bool on) override { events.push_back(on ? "suspend" : "resume"); }
    void clientSignature(std::string_view s) override { events.push_back("signature " + std::string(s)); }
    void comPort(bool on) override { events.push_back(on ? "com port on" : "com port off"); }

    Bytes takeWire()
    {
        Bytes w;
        w.swap(wire);
        return w;
    }
};

struct Fixture {
    Port port;
    Server server{port, "Lintrel COM5"};

    void feed(const Bytes& b) { server.feed(b.data(), b.size()); }
    // A client that took the opening and offered the option.
    void open()
    {
        server.start();
        feed(bytes({255, 251, 44}));
        port.wire.clear();
        port.events.clear();
    }
};

TEST(Rfc2217Server, OpensWithBinarySgaAndComPortAndAnswersAClientAskingForEverything)
{
    Fixture f;
    f.server.setModemState(modem::Cd | modem::Dsr | modem::Cts);
    f.server.start();
    EXPECT_EQ(hex(f.port.takeWire()), "FF FB 00 FF FD 00 FF FB 03 FF FD 03 FF FD 2C");
    EXPECT_FALSE(f.server.comPortEnabled());

    // DO ECHO, WILL SGA, DO SGA, WILL COM-PORT-OPTION, DO COM-PORT-OPTION,
    // WILL BINARY, DO BINARY.
    f.feed(bytes({255, 253, 1, 255, 251, 3, 255, 253, 3, 255, 251, 44, 255, 253, 44, 255, 251, 0, 255, 253, 0}));
    EXPECT_EQ(hex(f.port.takeWire()),
        "FF FC 01 "                 // no echo
        "FF FA 2C 6B B0 FF F0 "     // the option is on: the modem lines at once
        "FF FB 2C");                // and we perform it as well
    EXPECT_TRUE(f.server.comPortEnabled());
    EXPECT_EQ(f.port.events, std::vector<std::string>{"com port on"});
    EXPECT_TRUE(f.port.port.empty());

    f.feed(bytes({255, 252, 44, 255, 254, 44}));
    EXPECT_FALSE(f.server.comPortEnabled());
    EXPECT_EQ(f.port.events.back(), "com port off");
}

TEST(Rfc2217Server, EachCommandIsAppliedAndAnsweredWithTheValueInForce)
{
    struct Row {
        Bytes command;
        const char* host;   // what the port was asked, "" for nothing
        Bytes answer;       // the answer's payload, empty for none
    };
    const Row rows[] = {
        // SIGNATURE: an empty one asks for ours, a text tells the client's.
        {bytes({0}), "", bytes({100}) + text("Lintrel COM5")},
        {bytes({0}) + text("pyserial"), "signature pyserial", {}},
        // SET-BAUDRATE, four bytes in network order; 0 asks.
        {bytes({1, 0, 1, 0xC2, 0}), "baud 115200", bytes({101, 0, 1, 0xC2, 0})},
        {bytes({1, 0, 0, 0, 0}), "baud 0", bytes({101, 0, 1, 0xC2, 0})},
        {bytes({1, 0, 0, 0xFF, 0xFF}), "baud 65535", bytes({101, 0, 0, 0xFF, 0xFF})},
        {bytes({1, 0, 0x96}), "baud 0", bytes({101, 0, 0, 0xFF, 0xFF})},
        // SET-DATASIZE 5..8; anything else asks.
        {bytes({2, 7}), "size 7", bytes({102, 7})},
        {bytes({2, 0}), "size 0", bytes({102, 7})},
        {bytes({2, 9}), "size 0", bytes({102, 7})},
        {bytes({2, 4}), "size 0", bytes({102, 7})},
        {bytes({2}), "size 0", bytes({102, 7})},
        // SET-PARITY 1..5.
        {bytes({3, 3}), "parity 3", bytes({103, 3})},
        {bytes({3, 5}), "parity 5", bytes({103, 5})},
        {bytes({3, 6}), "parity 0", bytes({103, 5})},
        {bytes({3, 200}), "parity 0", bytes({103, 5})},
        // SET-STOPSIZE 1..3 (3 is 1.5).
        {bytes({4, 3}), "stop 3", bytes({104, 3})},
        {bytes({4, 4}), "stop 0", bytes({104, 3})},
        // SET-CONTROL: sets and queries per group.
        {bytes({5, 9}), "control 9", bytes({105, 9})},
        {bytes({5, 7}), "control 7", bytes({105, 9})},
        {bytes({5, 8}), "control 8", bytes({105, 8})},
        {bytes({5, 12}), "control 12", bytes({105, 12})},
        {bytes({5, 10}), "control 10", bytes({105, 12})},
        {bytes({5, 5}), "control 5", bytes({105, 5})},
        {bytes({5, 4}), "control 4", bytes({105, 5})},
        {bytes({5, 6}), "control 6", bytes({105, 6})},
        {bytes({5, 3}), "control 3", bytes({105, 3})},
        {bytes({5, 0}), "control 0", bytes({105, 3})},
        {bytes({5, 19}), "control 19", bytes({105, 19})},
        {bytes({5, 16}), "control 16", bytes({105, 16})},
        {bytes({5, 13}), "control 13", bytes({105, 16})},
        {bytes({5, 18}), "control 18", bytes({105, 18})},
        // Values of no group get the flow setting, never what was asked.
        {bytes({5, 20}), "control 0", bytes({105, 19})},
        {bytes({5, 255}), "control 0", bytes({105, 19})},
        // FLOWCONTROL-SUSPEND and -RESUME are not answered.
        {bytes({8}), "suspend", {}},
        {bytes({9}), "resume", {}},
        // The masks are kept here and echoed.
        {bytes({10, 255}), "", bytes({110, 255})},
        {bytes({11, 0x30}), "", bytes({111, 0x30})},
        {bytes({11}), "", bytes({111, 0x30})},
        // PURGE-DATA 1..3; anything else purges nothing and says 0.
        {bytes({12, 1}), "purge 1", bytes({112, 1})},
        {bytes({12, 3}), "purge 3", bytes({112, 3})},
        {bytes({12, 0}), "", bytes({112, 0})},
        {bytes({12, 4}), "", bytes({112, 0})},
        // Unknown commands and a server's codes are ignored.
        {bytes({13, 1}), "", {}},
        {bytes({101, 0, 0, 0x25, 0x80}), "", {}},
        {bytes({255, 255}), "", {}},
    };
    Fixture f;
    f.open();
    for (const Row& row : rows) {
        f.feed(sb(row.command));
        const std::string host = f.port.events.empty() ? "" : f.port.events.front();
        EXPECT_EQ(host, row.host) << hex(row.command);
        EXPECT_LE(f.port.events.size(), 1u) << hex(row.command);
        EXPECT_EQ(hex(f.port.takeWire()), row.answer.empty() ? "" : hex(sb(row.answer))) << hex(row.command);
        f.port.events.clear();
    }
    EXPECT_TRUE(f.port.port.empty());
}

TEST(Rfc2217Server, CommandsBeforeTheOptionIsAgreedAreIgnored)
{
    Fixture f;
    f.server.start();
    f.port.takeWire();
    f.feed(sb({1, 0, 0, 0x4B, 0}) + sb({5, 8}) + text("x"));
    EXPECT_TRUE(f.port.events.empty());
    EXPECT_TRUE(f.port.wire.empty());
    EXPECT_EQ(f.port.port, text("x"));
}

TEST(Rfc2217Server, ModemLineChangesAreNotifiedThroughTheMaskWithTheirDeltas)
{
    Fixture f;
    f.server.setModemState(modem::Cts | modem::Dsr);
    f.server.start();
    f.feed(bytes({255, 251, 44}));
    EXPECT_EQ(hex(f.port.takeWire()).substr(45), "FF FA 2C 6B 30 FF F0");

    struct Step {
        std::uint8_t lines;
        const char* notified;  // the value, or "" for no notification
    } steps[] = {
        {modem::Dsr, "21"},                                  // CTS dropped
        {modem::Dsr, ""},                                    // no change
        {modem::Dsr | modem::Ring, "60"},                     // RI rises: no delta
        {modem::Dsr, "24"},                                  // RI ends
        {modem::Dsr | modem::Cd | modem::DeltaCts, "A8"},    // delta bits passed in are ignored
    };
    for (const Step& s : steps) {
        f.server.setModemState(s.lines);
        const Bytes w = f.port.takeWire();
        EXPECT_EQ(w.empty() ? "" : hex(Bytes(w.begin() + 4, w.begin() + 5)), s.notified) << int(s.lines);
    }

    // A client watching CTS only hears nothing of DSR or CD.
    f.feed(sb({11, 0x11}));
    EXPECT_EQ(hex(f.port.takeWire()), hex(sb({111, 0x11})));
    f.server.setModemState(modem::Cd);
    EXPECT_TRUE(f.port.wire.empty());
    f.server.setModemState(modem::Cd | modem::Cts);
    EXPECT_EQ(hex(f.port.takeWire()), hex(sb({107, 0x11})));
    // Asked, it hears the lines through the mask (no deltas).
    f.feed(sb({7}));
    EXPECT_EQ(hex(f.port.takeWire()), hex(sb({107, 0x10})));
}

TEST(Rfc2217Server, LineStateIsSilentUntilMaskedInThenLevelsOnChangeAndErrorsEachTime)
{
    Fixture f;
    f.open();
    f.server.setLineState(line::DataReady | line::Overrun);
    EXPECT_TRUE(f.port.wire.empty());
    f.feed(sb({10, 0x13}));  // data ready, overrun, break
    f.port.takeWire();
    struct Step {
        std::uint8_t state;
        const char* notified;
    } steps[] = {
        {line::DataReady, ""},  // already so
        {0, "00"},
        {line::HoldingEmpty, ""},  // outside the mask
        {line::DataReady | line::Overrun, "03"},
        {line::DataReady | line::Overrun, "03"},
        {line::DataReady, ""},
        {line::DataReady | line::FramingError, ""},
        {line::BreakDetect | line::HoldingEmpty, "10"},
    };
    for (const Step& s : steps) {
        f.server.setLineState(s.state);
        const Bytes w = f.port.takeWire();
        EXPECT_EQ(w.empty() ? "" : hex(Bytes(w.begin() + 4, w.begin() + 5)), s.notified) << int(s.state);
    }
    f.feed(sb({6}));
    EXPECT_EQ(hex(f.port.takeWire()), hex(sb({106, 0x00})));
}

TEST(Rfc2217Server, SuspendAndResumeGoToTheClient)
{
    Fixture f;
    f.server.suspendFlow(true);  // not before the option
    EXPECT_TRUE(f.port.wire.empty());
    f.open();
    f.server.suspendFlow(true);
    f.server.suspendFlow(false);
    EXPECT_EQ(hex(f.port.takeWire()), hex(sb({108}) + sb({109})));
}

// Random data between every kind of negotiation and command: the port gets
// the data and nothing else, in order, however the bytes are split.
TEST(Rfc2217Server, NothingButDataReachesThePort)
{
    std::mt19937 gen(2217);
    const Bytes protocol[] = {
        bytes({255, 241}), bytes({255, 249}), bytes({255, 243}), bytes({255, 253, 1}), bytes({255, 251, 44}),
        bytes({255, 254, 0}), bytes({255, 250, 24, 0, 'x', 'y', 255, 240}), sb({1, 0, 0, 0xFF, 0}), sb({5, 8}),
        sb({0}) + bytes({255, 250, 44, 12, 255, 251, 3}), sb({2, 255}), sb({12, 3}), bytes({255, 250, 255, 240}),
    };
    Bytes wire, data;
    for (int i = 0; i < 400; ++i) {
        if (gen() % 2) {
            const Bytes& p = protocol[gen() % std::size(protocol)];
            wire.insert(wire.end(), p.begin(), p.end());
        } else {
            for (int n = int(gen() % 20); n > 0; --n) {
                const std::uint8_t b = std::uint8_t(gen() % 4 ? gen() : 255);
                data.push_back(b);
                wire.push_back(b);
                if (b == 255)
                    wire.push_back(255);
            }
        }
    }
    Fixture f;
    f.server.start();
    for (std::size_t at = 0; at < wire.size();) {
        const std::size_t n = std::min<std::size_t>(1 + gen() % 7, wire.size() - at);
        f.server.feed(wire.data() + at, n);
        at += n;
    }
    EXPECT_EQ(f.port.port, data);

    // And the other way: all 256 values arrive doubled where needed.
    Bytes all;
    for (int i = 0; i < 256; ++i)
        all.push_back(std::uint8_t(i));
    f.port.wire.clear();
    f.server.sendData(all.data(), all.size());
    EXPECT_EQ(f.port.wire, all + bytes({255}));
}

}  // namespace
