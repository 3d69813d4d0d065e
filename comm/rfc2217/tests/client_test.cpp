// The client end: its opening, commands held until the server agrees, the
// bytes of every command, the server's answers as events (broken ones
// dropped), and a client and a server talking to each other.
#include "rfc2217/client.h"
#include "rfc2217/server.h"
#include "wire.h"

#include <gtest/gtest.h>

using namespace rfc2217;
using namespace rfc2217test;

namespace {

class Program : public ClientHost {
public:
    Bytes wire, data;
    std::vector<std::string> events;

    void toWire(const std::uint8_t* b, std::size_t n) override { wire.insert(wire.end(), b, b + n); }
    void toProgram(const std::uint8_t* b, std::size_t n) override { data.insert(data.end(), b, b + n); }
    void comPort(bool on) override { add(on ? "com port on" : "com port off"); }
    void signature(std::string_view s) override { add("signature " + std::string(s)); }
    void baudRate(std::uint32_t v) override { add("baud " + std::to_string(v)); }
    void dataSize(std::uint8_t v) override { add("size " + std::to_string(v)); }
    void parity(Parity v) override { add("parity " + std::to_string(int(v))); }
    void stopSize(StopSize v) override { add("stop " + std::to_string(int(v))); }
    void control(Control v) override { add("control " + std::to_string(int(v))); }
    void lineState(std::uint8_t v) override { add("line " + std::to_string(v)); }
    void modemState(std::uint8_t v) override { add("modem " + std::to_string(v)); }
    void lineStateMask(std::uint8_t v) override { add("line mask " + std::to_string(v)); }
    void modemStateMask(std::uint8_t v) override { add("modem mask " + std::to_string(v)); }
    void purged(std::uint8_t v) override { add("purged " + std::to_string(v)); }
    void flowSuspended(bool on) override { add(on ? "suspend" : "resume"); }

    void add(std::string e) { events.push_back(std::move(e)); }
    Bytes takeWire()
    {
        Bytes w;
        w.swap(wire);
        return w;
    }
};

struct Fixture {
    Program program;
    Client client{program, "qelcomm6"};

    void feed(const Bytes& b) { client.feed(b.data(), b.size()); }
    // A server that took the opening and agreed to the option.
    void open()
    {
        client.start();
        feed(bytes({255, 253, 44}));
        program.wire.clear();
        program.events.clear();
    }
};

TEST(Rfc2217Client, OpensAndHoldsCommandsUntilTheServerAgrees)
{
    Fixture f;
    f.client.start();
    EXPECT_EQ(hex(f.program.takeWire()), "FF FB 00 FF FD 00 FF FB 03 FF FD 03 FF FB 2C");

    f.client.setBaudRate(9600);
    f.client.setDataSize(8);
    f.client.setControl(Control::DtrOn);
    f.client.setBaudRate(115200);        // replaces 9600 in its place
    f.client.setControl(Control::RtsOn);
    f.client.setControl(Control::DtrOff);
    f.client.setBaudRate(0);             // a query is a kind of its own
    f.client.suspendFlow(true);
    f.client.suspendFlow(false);
    const std::uint8_t d[] = {'a', 255};
    f.client.sendData(d, 2);             // data does not wait
    EXPECT_EQ(hex(f.program.takeWire()), "61 FF FF");
    EXPECT_FALSE(f.client.comPortEnabled());

    // The server asks for BINARY and SGA too (answers to ours), then agrees.
    f.feed(bytes({255, 253, 0, 255, 251, 0, 255, 253, 44}));
    EXPECT_EQ(hex(f.program.takeWire()),
        hex(sb({1, 0, 1, 0xC2, 0}) + sb({2, 8}) + sb({5, 9}) + sb({5, 11}) + sb({1, 0, 0, 0, 0}) + sb({9})));
    EXPECT_TRUE(f.client.comPortEnabled());
    EXPECT_EQ(f.program.events, std::vector<std::string>{"com port on"});

    f.client.setParity(Parity::Even);    // now at once
    EXPECT_EQ(hex(f.program.takeWire()), hex(sb({3, 3})));
}

TEST(Rfc2217Client, ARefusalDropsWhatWasHeld)
{
    Fixture f;
    f.client.start();
    f.program.takeWire();
    f.client.setBaudRate(300);
    f.feed(bytes({255, 254, 44}));
    EXPECT_TRUE(f.program.wire.empty());
    EXPECT_EQ(f.program.events, std::vector<std::string>{"com port off"});
    // A server that later offers the option itself still gets it.
    f.feed(bytes({255, 251, 44}));
    EXPECT_EQ(hex(f.program.takeWire()), "FF FD 2C");
    EXPECT_TRUE(f.client.comPortEnabled());
}

TEST(Rfc2217Client, CommandBytes)
{
    Fixture f;
    f.open();
    struct Row {
        void (*call)(Client&);
        Bytes payload;
    } rows[] = {
        {[](Client& c) { c.requestSignature(); }, bytes({0})},
        {[](Client& c) { c.setBaudRate(115200); }, bytes({1, 0x00, 0x01, 0xC2, 0x00})},
        {[](Client& c) { c.setBaudRate(0x01FF02FF); }, bytes({1, 0x01, 0xFF, 0x02, 0xFF})},
        {[](Client& c) { c.setDataSize(7); }, bytes({2, 7})},
        {[](Client& c) { c.setParity(Parity::Mark); }, bytes({3, 4})},
        {[](Client& c) { c.setStopSize(StopSize::OnePointFive); }, bytes({4, 3})},
        {[](Client& c) { c.setControl(Control::BreakOn); }, bytes({5, 5})},
        {[](Client& c) { c.setControl(Control::InboundFlowQuery); }, bytes({5, 13})},
        {[](Client& c) { c.requestLineState(); }, bytes({6})},
        {[](Client& c) { c.requestModemState(); }, bytes({7})},
        {[](Client& c) { c.suspendFlow(true); }, bytes({8})},
        {[](Client& c) { c.suspendFlow(false); }, bytes({9})},
        {[](Client& c) { c.setLineStateMask(0xFF); }, bytes({10, 0xFF})},
        {[](Client& c) { c.setModemStateMask(0x10); }, bytes({11, 0x10})},
        {[](Client& c) { c.purge(Purge::Both); }, bytes({12, 3})},
    };
    for (const Row& row : rows) {
        row.call(f.client);
        EXPECT_EQ(hex(f.program.takeWire()), hex(sb(row.payload)));
    }
    EXPECT_EQ(hex(sb(bytes({1, 0x01, 0xFF, 0x02, 0xFF}))), "FF FA 2C 01 01 FF FF 02 FF FF FF F0");
}

TEST(Rfc2217Client, AnswersAndNotificationsBecomeEvents)
{
    struct Row {
        Bytes payload;
        const char* event;  // "" for none
    } rows[] = {
        {bytes({100}) + text("ser2net"), "signature ser2net"},
        {bytes({101, 0, 0, 0x25, 0x80}), "baud 9600"},
        {bytes({101, 0, 0, 0x25}), ""},               // truncated
        {bytes({101, 0, 0, 0x25, 0x80, 0, 0, 0, 0}), "baud 9600"},  // extra bytes ignored
        {bytes({102, 8}), "size 8"},
        {bytes({102}), ""},
        {bytes({103, 1}), "parity 1"},
        {bytes({104, 2}), "stop 2"},
        {bytes({105, 8}), "control 8"},
        {bytes({105, 77}), "control 77"},             // passed on as sent
        {bytes({106, 0x61}), "line 97"},
        {bytes({107, 0xB1}), "modem 177"},
        {bytes({108}), "suspend"},
        {bytes({109}), "resume"},
        {bytes({110, 0xFF}), "line mask 255"},
        {bytes({111, 0}), "modem mask 0"},
        {bytes({112, 3}), "purged 3"},
        {bytes({1, 0, 0, 0x25, 0x80}), ""},           // a client's code
        {bytes({113, 1}), ""},
        {bytes({255}), ""},
    };
    Fixture f;
    f.open();
    for (const Row& row : rows) {
        f.feed(sb(row.payload));
        EXPECT_EQ(f.program.events.empty() ? "" : f.program.events.front(), std::string(row.event)) << hex(row.payload);
        EXPECT_LE(f.program.events.size(), 1u);
        f.program.events.clear();
    }
    EXPECT_TRUE(f.program.wire.empty());
    EXPECT_TRUE(f.program.data.empty());

    // The server asks for our signature.
    f.feed(sb({100}));
    EXPECT_EQ(hex(f.program.takeWire()), hex(sb(bytes({0}) + text("qelcomm6"))));
    // Without a signature of our own there is nothing to tell: an empty
    // answer would be a request, and two such ends would loop.
    Program quiet;
    Client anonymous(quiet, "");
    anonymous.start();
    const Bytes agree = bytes({255, 253, 44}) + sb({100});
    anonymous.feed(agree.data(), agree.size());
    EXPECT_EQ(hex(quiet.wire), "FF FB 00 FF FD 00 FF FB 03 FF FD 03 FF FB 2C");
}

TEST(Rfc2217Client, AnswersBeforeTheOptionAreIgnored)
{
    Fixture f;
    f.client.start();
    f.feed(sb({101, 0, 0, 0x25, 0x80}) + text("z"));
    EXPECT_TRUE(f.program.events.empty());
    EXPECT_EQ(f.program.data, text("z"));
}

// A client and a server joined back to back, as a session and a remote
// port would be over TCP.
class PortState : public ServerHost {
public:
    Bytes wire, port;
    std::vector<std::string> purges;
    std::uint32_t baud = 9600;
    StopSize stop = StopSize::One;
    bool dtr = true;
    void toWire(const std::uint8_t* b, std::size_t n) override { wire.insert(wire.end(), b, b + n); }
    void toPort(const std::uint8_t* b, std::size_t n) override { port.insert(port.end(), b, b + n); }
    std::uint32_t baudRate(std::uint32_t v) override { return v && v <= 921600 ? baud = v : baud; }
    std::uint8_t dataSize(std::uint8_t) override { return 8; }
    Parity parity(Parity) override { return Parity::None; }
    StopSize stopSize(StopSize v) override { return v == StopSize::Query ? stop : stop = v; }
    Control control(Control c) override
    {
        if (c == Control::DtrOn || c == Control::DtrOff)
            dtr = c == Control::DtrOn;
        if (controlGroup(c) == ControlGroup::Dtr)
            return dtr ? Control::DtrOn : Control::DtrOff;
        return isQuery(c) ? Control(std::uint8_t(c) + 1) : c;
    }
    void purge(Purge p) override { purges.push_back(std::to_string(int(p))); }
};

TEST(Rfc2217Client, TalksToTheServer)
{
    PortState port;
    Server server(port, "port");
    Program program;
    Client client(program, "program");
    auto pump = [&] {
        for (int i = 0; i < 20 && (!port.wire.empty() || !program.wire.empty()); ++i) {
            Bytes toServer, toClient;
            toServer.swap(program.wire);
            toClient.swap(port.wire);
            server.feed(toServer.data(), toServer.size());
            client.feed(toClient.data(), toClient.size());
        }
        ASSERT_TRUE(port.wire.empty() && program.wire.empty());
    };
    server.setModemState(modem::Cts | modem::Dsr);
    server.start();
    client.start();
    client.setBaudRate(57600);
    client.setStopSize(StopSize::Two);
    pump();
    EXPECT_TRUE(client.comPortEnabled() && server.comPortEnabled());
    EXPECT_EQ(port.baud, 57600u);
    EXPECT_EQ(port.stop, StopSize::Two);
    EXPECT_EQ(program.events, (std::vector<std::string>{"com port on", "modem 48", "baud 57600", "stop 2"}));
    client.setBaudRate(4000000);  // more than the port does: answered with what is in force
    pump();
    EXPECT_EQ(program.events.back(), "baud 57600");

    program.events.clear();
    client.setControl(Control::DtrOff);
    client.purge(Purge::Both);
    client.requestSignature();
    server.setModemState(modem::Dsr);
    Bytes all;
    for (int i = 0; i < 256; ++i)
        all.push_back(std::uint8_t(i));
    client.sendData(all.data(), all.size());
    server.sendData(all.data(), all.size());
    pump();
    EXPECT_FALSE(port.dtr);
    EXPECT_EQ(port.purges, std::vector<std::string>{"3"});
    EXPECT_EQ(program.events, (std::vector<std::string>{"modem 33", "control 9", "purged 3", "signature port"}));
    EXPECT_EQ(port.port, all);
    EXPECT_EQ(program.data, all);
}

}  // namespace
