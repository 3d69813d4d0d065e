// Arbitrary bytes from the far end into a server or a client, and data
// round trips between the two. The first input byte picks the case and how
// the input is split into reads.
#include "rfc2217/client.h"
#include "rfc2217/server.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using namespace rfc2217;

namespace {

// Answers every request with the value asked (or a fixed one) and, like a
// loopback device, sends the client's data straight back while the server
// is still parsing.
class LoopPort : public ServerHost {
public:
    Server* server = nullptr;
    std::vector<std::uint8_t> wire, port;
    void toWire(const std::uint8_t* b, std::size_t n) override { wire.insert(wire.end(), b, b + n); }
    void toPort(const std::uint8_t* b, std::size_t n) override
    {
        port.insert(port.end(), b, b + n);
        if (server)
            server->sendData(b, n);
    }
    std::uint32_t baudRate(std::uint32_t v) override { return v ? v : 9600; }
    std::uint8_t dataSize(std::uint8_t v) override { return v ? v : 8; }
    Parity parity(Parity v) override { return v; }
    StopSize stopSize(StopSize v) override { return v; }
    Control control(Control c) override
    {
        if (std::uint8_t(c) >= kControlCount)
            __builtin_trap();  // never asked an undefined value
        return c;
    }
    void purge(Purge p) override
    {
        if (std::uint8_t(p) < 1 || std::uint8_t(p) > 3)
            __builtin_trap();
    }
};

class Program : public ClientHost {
public:
    Client* client = nullptr;
    std::vector<std::uint8_t> wire, data;
    void toWire(const std::uint8_t* b, std::size_t n) override { wire.insert(wire.end(), b, b + n); }
    void toProgram(const std::uint8_t* b, std::size_t n) override { data.insert(data.end(), b, b + n); }
    void modemState(std::uint8_t v) override
    {
        // Commands from inside a callback, while the client parses.
        if (client && (v & 1))
            client->setControl(Control(v % kControlCount));
    }
};

template <class Machine>
void feedInPieces(Machine& m, const std::uint8_t* data, std::size_t size, std::uint8_t split)
{
    const std::size_t piece = 1 + split % 64;
    for (std::size_t at = 0; at < size; at += piece)
        m.feed(data + at, size - at < piece ? size - at : piece);
}

void roundTrip(const std::uint8_t* data, std::size_t size, std::uint8_t split)
{
    LoopPort port;
    Server server(port, "fuzz");
    Program program;
    Client client(program, "fuzz");
    port.server = &server;
    program.client = &client;
    server.start();
    client.start();
    // Commands between the data, chosen by the data.
    std::size_t sent = 0;
    for (std::size_t at = 0; at < size; at += 16) {
        const std::size_t n = size - at < 16 ? size - at : 16;
        client.sendData(data + at, n);
        sent += n;
        client.setBaudRate(data[at] * 1200u);
        client.setControl(Control(data[at] % kControlCount));
        server.setModemState(data[at]);
        feedInPieces(server, program.wire.data(), program.wire.size(), split);
        program.wire.clear();
        feedInPieces(client, port.wire.data(), port.wire.size(), split);
        port.wire.clear();
    }
    // The port got exactly the data, and its echo came back exactly.
    if (port.port.size() != sent || program.data.size() != sent)
        __builtin_trap();
    for (std::size_t i = 0; i < sent; ++i)
        if (port.port[i] != data[i] || program.data[i] != data[i])
            __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::uint8_t mode = data[0] % 3, split = data[1];
    data += 2;
    size -= 2;
    if (mode == 0) {
        LoopPort port;
        Server server(port, "fuzz");
        port.server = &server;
        server.start();
        feedInPieces(server, data, size, split);
        server.setModemState(split);
        server.setLineState(split);
    } else if (mode == 1) {
        Program program;
        Client client(program, "fuzz");
        program.client = &client;
        client.start();
        client.setBaudRate(split);
        feedInPieces(client, data, size, split);
        client.purge(Purge::Both);
    } else {
        roundTrip(data, size, split);
    }
    return 0;
}
