// Who may reach a session and how: the allow-list of client addresses and
// TLS with its files, as field models the window binds to, and the memory
// of refused clients that keeps the error log to one line per address and
// minute.
#pragma once

#include "fields.h"

#include <cstdint>
#include <map>
#include <string>

namespace lintrel {

struct SecurityFields {
    // Comma-separated IPv4/IPv6 addresses and CIDR ranges; empty: everyone.
    TextField AllowedClients;
    CheckField Tls;                            // "Encrypt with TLS"
    TextField TlsCertificate;                  // PEM: this end's certificate (a server needs one)
    TextField TlsKey;                          // PEM: its private key, readable by its owner only
    TextField TlsCaFile;                       // PEM: CAs the peer's certificate must come from
    CheckField TlsRequireClientCertificate;    // server: every client shows a certificate

    // Run time, from the last activation.
    bool TlsActive = false;
    std::int64_t RefusedCount = 0;
    LabelField LastRefused;                    // the log text of the latest refusal

    SecurityFields();
    void setEnabled(bool on);
};

// Whether a refusal is to be logged: once per address and minute, and only
// for so many addresses a minute, so a scanner cannot fill the log.
class RefusalLog {
public:
    static constexpr std::uint32_t kQuietMs = 60000;
    static constexpr std::size_t kMaxAddresses = 1024;
    bool due(const std::string& address, std::uint32_t nowMs);
    void clear() { m_last.clear(); }

private:
    std::map<std::string, std::uint32_t> m_last;
};

}  // namespace lintrel
