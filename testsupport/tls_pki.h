// Certificates for TLS tests, made with the openssl command in a folder of
// the test's, and peer programs (socat, openssl s_client) on pipes.
#pragma once

#include <QProcess>
#include <QStringList>

#include <string>

namespace testsupport {

// A CA with a server certificate for 127.0.0.1, a client certificate, the
// client's key under an expired certificate, a second ("other") CA with a
// client and a server certificate of its own, and a server certificate of
// the first CA for another host name.  Keys are owner-only EC keys.
struct TestPki {
    explicit TestPki(const std::string& folder);
    bool ok = false;
    std::string error;   // what the openssl command said when it failed

    std::string file(const std::string& name) const { return m_folder + "/" + name; }
    std::string ca() const { return file("ca.pem"); }
    std::string server() const { return file("server.pem"); }
    std::string serverKey() const { return file("server.key"); }
    std::string client() const { return file("client.pem"); }
    std::string clientKey() const { return file("client.key"); }
    std::string expiredClient() const { return file("expired.pem"); }   // key: clientKey
    std::string otherCa() const { return file("other-ca.pem"); }
    std::string otherClient() const { return file("other-client.pem"); }
    std::string otherClientKey() const { return file("other-client.key"); }
    std::string otherServer() const { return file("other-server.pem"); }   // key: serverKey
    std::string elsewhereServer() const { return file("elsewhere.pem"); }   // for elsewhere.example only
    std::string elsewhereKey() const { return file("elsewhere.key"); }

private:
    bool run(const QStringList& args);
    bool sign(const std::string& csr, const std::string& caName, const std::string& out, const std::string& ext,
              int days);
    std::string m_folder;
};

// A program whose standard input and output are the test's: bytes written
// go to the program, what it prints is collected.  Killed at destruction.
class PeerProcess {
public:
    PeerProcess(const QString& program, const QStringList& args);
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    bool started() const { return m_started; }
    void write(const std::string& bytes);
    // Collects output until it holds count bytes or ms passed (pumping events).
    std::string waitOutput(std::size_t count, int ms = 5000);
    // Whether the program ended within ms (pumping events).
    bool waitFinished(int ms = 5000);
    std::string output();
    std::string errors();
    QProcess& process() { return m_process; }

private:
    QProcess m_process;
    std::string m_out, m_err;
    bool m_started = false;
};

}  // namespace testsupport
