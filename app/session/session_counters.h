// What crossed a session, counted on the data path itself with plain
// integer adds, and the tap through which a traffic monitor or a trace
// file sees each chunk.  A session without a tap pays one null check per
// chunk for it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lintrel {

// One connection, kept by the index of its socket.  The address and port
// are copied when it opens, so a closed client still has a name.
struct ClientCounters {
    std::string address;
    int port = 0;
    std::int64_t sinceMs = 0;     // wall clock, ms since the epoch, when it connected
    std::uint64_t bytesIn = 0;    // taken from this peer
    std::uint64_t bytesOut = 0;   // handed to this peer
    bool open = false;

    std::string name() const { return address + ":" + std::to_string(port); }
};

// Counted since the session was last activated.
struct SessionCounters {
    std::uint64_t serialIn = 0;    // read from the serial side (also what routing then drops)
    std::uint64_t serialOut = 0;   // written to the serial side
    std::uint64_t tcpIn = 0;       // taken from the peers
    std::uint64_t tcpOut = 0;      // handed to the peers, once for each peer
    std::uint64_t opened = 0;      // connections accepted (server role) or made (client role)
    std::uint64_t closed = 0;
    std::uint64_t errors = 0;      // errors shown or logged
    std::int64_t activeSinceMs = 0;
    std::vector<ClientCounters> clients;   // by socket index

    void sentTo(int index, std::size_t n)
    {
        if (std::size_t(index) < clients.size())
            clients[std::size_t(index)].bytesOut += n;
        tcpOut += n;
    }
    void takenFrom(int index, std::size_t n)
    {
        if (std::size_t(index) < clients.size())
            clients[std::size_t(index)].bytesIn += n;
        tcpIn += n;
    }
    // A connection on socket index opened: a fresh entry.
    ClientCounters& open(int index, const std::string& address, int port, std::int64_t nowMs);
    // Counts the close of an open entry once; false when there was none.
    bool close(int index);
    void reset(std::int64_t nowMs);
};

enum class TrafficDirection { ToTcp, ToSerial };

// Sees every chunk that crosses the session, after routing: serial bytes
// as they are handed to the peers, TCP bytes as they are taken for the
// serial side.
class TrafficTap {
public:
    virtual ~TrafficTap() = default;
    // client: "address:port" of the one peer, or "N clients".
    virtual void chunk(TrafficDirection direction, const std::string& client, const char* data,
                       std::size_t size) = 0;
};

}  // namespace lintrel
