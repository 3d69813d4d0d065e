// An RFC 2217 access server on 127.0.0.1 for tests, whose "serial port" is
// only a record: it serves one client at a time on a thread of its own,
// answers with the codec's server end, and keeps what the client did (line
// settings, controls, purges, data) for the test to look at. The test plays
// the device: it sends data and changes the modem and line state.
#pragma once

#include "rfc2217/server.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class AccessServer {
public:
    struct Options {
        bool telnet = true;            // false: a raw TCP server that never negotiates
        std::uint32_t refuseBaud = 0;  // a baud rate the port does not take
        bool answers = true;           // false: SET commands go unanswered
    };

    // What the client did to the port.
    struct Port {
        std::uint32_t baud = 9600;
        std::uint8_t dataSize = 8;
        rfc2217::Parity parity = rfc2217::Parity::None;
        rfc2217::StopSize stop = rfc2217::StopSize::One;
        rfc2217::Control flow = rfc2217::Control::FlowNone;
        bool dtr = true, rts = true, breakOn = false;
        int breaks = 0;                        // BREAK on commands seen
        std::vector<rfc2217::Purge> purges;
        std::vector<rfc2217::Control> controls; // every SET-CONTROL, in order
        std::string data;                      // data for the device
        bool comPort = false;
        int connections = 0;                   // clients accepted so far
    };

    AccessServer();
    explicit AccessServer(Options options);
    ~AccessServer();
    AccessServer(const AccessServer&) = delete;
    AccessServer& operator=(const AccessServer&) = delete;

    int port() const { return m_port; }
    std::string url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_port); }

    Port state();
    // Waits until pred holds for the port's record (ms at most).
    bool waitFor(const std::function<bool(const Port&)>& pred, int ms = 5000);

    // The device sends data to the client.
    void send(const std::string& data);
    void setModemState(std::uint8_t lines);
    void setLineState(std::uint8_t state);
    // Closes the client's connection, as a server that goes away does.
    void dropClient();

private:
    class Host;
    void run();
    void flushLocked();
    void wake();

    Options m_options;
    int m_listen = -1;
    int m_client = -1;
    int m_wake = -1;
    int m_port = 0;
    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::unique_ptr<Host> m_host;
    std::unique_ptr<rfc2217::Server> m_server;
    std::string m_out;
    Port m_state;
    std::uint8_t m_modemLines = 0;
    bool m_stop = false;
    bool m_drop = false;
    std::thread m_thread;
};

}  // namespace testsupport
