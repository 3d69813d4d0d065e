// Real RFC 2217 servers for the interoperation tests: ser2net with a
// telnet(rfc2217) accepter, and a small server built on pyserial's own
// PortManager (rfc2217_pty_server.py). Each serves one device (a
// pseudo-terminal) on 127.0.0.1, is started by the test and stopped at
// destruction.
#pragma once

#include "temp_dir.h"

#include <string>
#include <sys/types.h>

namespace testsupport {

class Rfc2217Peer {
public:
    enum class Kind { Ser2net, Pyserial };

    Rfc2217Peer(Kind kind, const std::string& device);
    ~Rfc2217Peer();
    Rfc2217Peer(const Rfc2217Peer&) = delete;
    Rfc2217Peer& operator=(const Rfc2217Peer&) = delete;

    // Why the server cannot run here (not installed); empty when it can.
    const std::string& missing() const { return m_missing; }
    // Listening (at most 10 s after the start).
    bool ok() const { return m_ok; }
    int port() const { return m_port; }
    std::string url() const { return "rfc2217://127.0.0.1:" + std::to_string(m_port); }
    const char* name() const { return m_kind == Kind::Ser2net ? "ser2net" : "pyserial"; }

private:
    Kind m_kind;
    TempDir m_dir;
    std::string m_missing;
    int m_port = 0;
    pid_t m_pid = -1;
    bool m_ok = false;
};

}  // namespace testsupport
