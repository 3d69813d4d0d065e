// TLS for a socket control: the certificate, key and trusted CAs of one
// endpoint, read and checked once when a session starts and then shared by
// all its connections.  Files are PEM; a private key must not be readable
// by anyone but its owner and must not need a passphrase.
#pragma once

#include <QSslConfiguration>

#include <memory>
#include <string>
#include <vector>

namespace lt::winsock {

struct TlsFiles {
    std::string certificate;   // this endpoint's certificate, then its chain
    std::string key;           // the certificate's private key
    std::string caFile;        // CAs that must have signed the peer; empty: the system's store
    bool requireClientCertificate = false;   // a server asks every client for a certificate
};

class TlsContext {
public:
    // The files read and checked; null, with what is wrong with which file
    // in why, when one is missing, unreadable, not PEM, a key readable by
    // others or not belonging to the certificate.  A server needs a
    // certificate and key; a client may present one.
    static std::shared_ptr<const TlsContext> load(const TlsFiles& files, bool server, std::string& why);

    bool server() const { return m_server; }
    const QSslConfiguration& configuration() const { return m_configuration; }

private:
    TlsContext() = default;
    bool m_server = false;
    QSslConfiguration m_configuration;
};

// Everything wrong with the files (the reason load gives, or certificates
// out of their validity dates), one phrase each; empty when all is well.
std::vector<std::string> tlsFileProblems(const TlsFiles& files, bool server);

}  // namespace lt::winsock
