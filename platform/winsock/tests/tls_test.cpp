// TLS and allow-lists of the socket control against real peers: socat and
// openssl s_client as clients, socat as the server, certificates made by
// the openssl command for the test.
#include "winsock/socket_control.h"
#include "winsock/tls_context.h"

#include "pump.h"
#include "temp_dir.h"
#include "tls_pki.h"

#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace lt::winsock;
using testsupport::PeerProcess;
using testsupport::pumpFor;

namespace {

// Generous: handshakes and peer programs start slowly on a busy machine.
bool pumpUntil(const std::function<bool()>& pred, int ms = 15000)
{
    return testsupport::pumpUntil(pred, ms);
}

std::string allBytes()
{
    std::string s;
    for (int i = 0; i < 256; ++i)
        s.push_back(char(i));
    return s;
}

struct Refusal {
    std::string ip, why;
};

class Tls : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pki.ok) << pki.error; }

    std::shared_ptr<const TlsContext> context(const TlsFiles& files, bool server)
    {
        std::string why;
        auto c = TlsContext::load(files, server, why);
        EXPECT_TRUE(c) << why;
        return c;
    }
    TlsFiles serverFiles(bool requireClient = true) const
    {
        return {pki.server(), pki.serverKey(), pki.ca(), requireClient};
    }

    // A listener on 127.0.0.1 that accepts every request on a fresh control
    // and records refusals.
    void listen(std::shared_ptr<const TlsContext> tls, const std::string& allowed = {})
    {
        listener.tls = std::move(tls);
        ASSERT_TRUE(listener.allowedClients.parse(allowed));
        listener.events.connectionRequest = [this](long id) {
            auto c = std::make_unique<SocketControl>();
            SocketControl* raw = c.get();
            c->events.dataArrival = [this, raw](long) {
                std::string chunk;
                raw->getData(chunk);
                received += chunk;
            };
            EXPECT_FALSE(c->accept(id).failed());
            accepted.push_back(std::move(c));
        };
        listener.events.refused = [this](const std::string& ip, int port, const std::string& why) {
            EXPECT_GT(port, 0);
            refusals.push_back({ip, why});
        };
        ASSERT_FALSE(listener.bind(0, "127.0.0.1").failed());
        ASSERT_FALSE(listener.listen().failed());
    }
    QString port() const { return QString::number(listener.localPort); }

    // socat as a TLS client of the listener, with a certificate or without.
    std::unique_ptr<PeerProcess> socatClient(const std::string& cert = {}, const std::string& key = {})
    {
        QString address = "OPENSSL:127.0.0.1:" + port() + ",cafile=" + QString::fromStdString(pki.ca());
        if (!cert.empty())
            address += ",cert=" + QString::fromStdString(cert) + ",key=" + QString::fromStdString(key);
        auto p = std::make_unique<PeerProcess>("socat", QStringList{"-T", "20", "-", address});
        EXPECT_TRUE(p->started());
        return p;
    }

    testsupport::TempDir dir;
    testsupport::TestPki pki{dir.path()};
    SocketControl listener;
    std::vector<std::unique_ptr<SocketControl>> accepted;
    std::vector<Refusal> refusals;
    std::string received;
};

TEST_F(Tls, SocatClientWithCertificateMovesEveryByteValueBothWays)
{
    listen(context(serverFiles(), true));
    auto peer = socatClient(pki.client(), pki.clientKey());
    ASSERT_TRUE(pumpUntil([&] { return accepted.size() == 1; })) << peer->errors();
    EXPECT_EQ(accepted[0]->state(), SockState::Connected);
    const std::string data = allBytes() + allBytes();
    peer->write(data);
    ASSERT_TRUE(pumpUntil([&] { return received.size() >= data.size(); })) << peer->errors();
    EXPECT_EQ(received, data);
    ASSERT_FALSE(accepted[0]->sendData(data).failed());
    EXPECT_EQ(peer->waitOutput(data.size(), 15000), data);
    EXPECT_TRUE(refusals.empty());
}

// Whatever a peer gets wrong, it is refused before any request is raised,
// the reason says what, and the listener goes on with the next client.
TEST_F(Tls, BadPeersAreRefusedBeforeTheirRequestAndOthersGoOn)
{
    listen(context(serverFiles(), true));
    struct Bad {
        std::string what, cert, key, reason;
    } bad[] = {
        {"no client certificate", "", "", "TLS handshake failed"},
        {"wrong CA", pki.otherClient(), pki.otherClientKey(), "TLS handshake failed"},
        {"expired", pki.expiredClient(), pki.clientKey(), "expired"},
    };
    for (const Bad& b : bad) {
        const std::size_t before = refusals.size();
        auto peer = socatClient(b.cert, b.key);
        peer->write("secret\n");
        ASSERT_TRUE(pumpUntil([&] { return refusals.size() == before + 1; })) << b.what;
        EXPECT_NE(refusals.back().why.find(b.reason), std::string::npos) << b.what << ": " << refusals.back().why;
        EXPECT_EQ(refusals.back().ip, "127.0.0.1");
        EXPECT_TRUE(peer->waitFinished(15000)) << b.what << ": socat ends when refused";
    }

    // Plain TCP in place of a handshake, and a handshake that never starts.
    QTcpSocket plain;
    plain.connectToHost("127.0.0.1", listener.localPort);
    ASSERT_TRUE(plain.waitForConnected(10000));
    plain.write("GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(pumpUntil([&] { return refusals.size() == 4; }));
    EXPECT_NE(refusals.back().why.find("TLS handshake failed"), std::string::npos) << refusals.back().why;
    listener.handshakeTimeoutMs = 500;
    QTcpSocket silent;
    silent.connectToHost("127.0.0.1", listener.localPort);
    ASSERT_TRUE(silent.waitForConnected(10000));
    ASSERT_TRUE(pumpUntil([&] { return refusals.size() == 5; }));
    EXPECT_EQ(refusals.back().why, "TLS handshake not finished within 1 s");
    EXPECT_TRUE(pumpUntil([&] { return silent.state() == QAbstractSocket::UnconnectedState; }));

    EXPECT_TRUE(accepted.empty());
    EXPECT_TRUE(received.empty());
    auto good = socatClient(pki.client(), pki.clientKey());
    good->write("hello");
    ASSERT_TRUE(pumpUntil([&] { return received == "hello"; })) << good->errors();
    EXPECT_EQ(refusals.size(), 5u);
}

TEST_F(Tls, OpensslClientNeedsNoCertificateUnlessRequiredAndAtLeastTls12)
{
    listen(context(serverFiles(false), true));
    auto sClient = [&](const QStringList& extra) {
        return std::make_unique<PeerProcess>(
            "openssl", QStringList{"s_client", "-connect", "127.0.0.1:" + port(), "-CAfile",
                                   QString::fromStdString(pki.ca()), "-verify_return_error", "-quiet"} + extra);
    };
    auto ok = sClient({"-tls1_2"});
    ok->write("over TLS 1.2\n");
    ASSERT_TRUE(pumpUntil([&] { return received == "over TLS 1.2\n"; })) << ok->errors();
    ASSERT_FALSE(accepted.at(0)->sendData("answer\n").failed());
    EXPECT_EQ(ok->waitOutput(7, 15000), "answer\n");

    // An old protocol is turned away (the client's own floor lowered so it offers it).
    auto old = sClient({"-tls1_1", "-cipher", "DEFAULT@SECLEVEL=0"});
    EXPECT_TRUE(old->waitFinished(15000));
    ASSERT_TRUE(pumpUntil([&] { return refusals.size() == 1; })) << old->errors();
    EXPECT_NE(refusals[0].why.find("TLS handshake failed"), std::string::npos) << refusals[0].why;
    EXPECT_EQ(accepted.size(), 1u);
}

// The allow-list holds before TLS: a peer from elsewhere is closed without
// a byte of handshake, and the reason is the list.
TEST_F(Tls, AllowListRefusesBeforeTheHandshake)
{
    listen(context(serverFiles(false), true), "127.0.0.1");
    QTcpSocket stranger;
    ASSERT_TRUE(stranger.bind(QHostAddress("127.0.0.2"), 0));
    stranger.connectToHost("127.0.0.1", listener.localPort);
    ASSERT_TRUE(stranger.waitForConnected(10000));
    stranger.write(QByteArray(300, '\x16'));   // as if a ClientHello
    ASSERT_TRUE(pumpUntil([&] { return refusals.size() == 1; }));
    EXPECT_EQ(refusals[0].ip, "127.0.0.2");
    EXPECT_EQ(refusals[0].why, "not allowed");
    EXPECT_TRUE(pumpUntil([&] { return stranger.state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(stranger.readAll().size(), 0) << "no handshake answer";

    auto friendly = socatClient();
    friendly->write("x");
    EXPECT_TRUE(pumpUntil([&] { return received == "x"; })) << friendly->errors();
}

// Silent connections hold a handshake each only so long and only so many
// at once; the listener serves the next good client afterwards.
TEST_F(Tls, SilentConnectionsAreBoundedInTimeAndNumber)
{
    listen(context(serverFiles(false), true));
    listener.maxHandshakes = 2;
    listener.handshakeTimeoutMs = 400;
    std::vector<std::unique_ptr<QTcpSocket>> silent;
    for (int i = 0; i < 3; ++i) {
        silent.push_back(std::make_unique<QTcpSocket>());
        silent.back()->connectToHost("127.0.0.1", listener.localPort);
        ASSERT_TRUE(silent.back()->waitForConnected(10000));
    }
    ASSERT_TRUE(pumpUntil([&] { return refusals.size() == 3; }));
    EXPECT_EQ(refusals[0].why, "too many TLS handshakes under way");
    EXPECT_EQ(refusals[1].why, "TLS handshake not finished within 1 s");
    EXPECT_EQ(refusals[2].why, "TLS handshake not finished within 1 s");
    listener.handshakeTimeoutMs = 10000;
    auto good = socatClient();
    good->write("x");
    EXPECT_TRUE(pumpUntil([&] { return received == "x"; })) << good->errors();
}

TEST(AllowList, PlainListenerTakesOnlyListedAddresses)
{
    SocketControl listener;
    int requests = 0;
    std::vector<std::string> refused;
    listener.events.connectionRequest = [&](long) { ++requests; };   // not accepted: closed
    listener.events.refused = [&](const std::string& ip, int, const std::string& why) {
        refused.push_back(ip + " " + why);
    };
    ASSERT_TRUE(listener.allowedClients.parse("127.0.0.1/32, ::1"));
    ASSERT_FALSE(listener.bind(0, "127.0.0.1").failed());
    ASSERT_FALSE(listener.listen().failed());
    for (const auto& [from, allowed] : {std::pair{"127.0.0.2", false}, {"127.0.0.1", true}, {"127.0.0.3", false}}) {
        const int requestsBefore = requests;
        const std::size_t refusedBefore = refused.size();
        QTcpSocket c;
        ASSERT_TRUE(c.bind(QHostAddress(from), 0));
        c.connectToHost("127.0.0.1", listener.localPort);
        ASSERT_TRUE(c.waitForConnected(10000));
        ASSERT_TRUE(pumpUntil([&] { return requests != requestsBefore || refused.size() != refusedBefore; }));
        EXPECT_EQ(requests, requestsBefore + (allowed ? 1 : 0)) << from;
        if (!allowed) {
            ASSERT_EQ(refused.size(), refusedBefore + 1);
            EXPECT_EQ(refused.back(), std::string(from) + " not allowed");
        }
    }
}

// The client role: socat as a TLS server that asks for our certificate.
class TlsClient : public Tls {
protected:
    // socat OPENSSL-LISTEN on a free port with the given server certificate.
    std::unique_ptr<PeerProcess> socatServer(const std::string& cert, const std::string& key)
    {
        QTcpServer probe;
        EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        serverPort = probe.serverPort();
        probe.close();
        auto p = std::make_unique<PeerProcess>(
            "socat", QStringList{"-d", "-d", "-T", "20",
                                 "OPENSSL-LISTEN:" + QString::number(serverPort) + ",bind=127.0.0.1,reuseaddr,cert=" +
                                     QString::fromStdString(cert) + ",key=" + QString::fromStdString(key) +
                                     ",cafile=" + QString::fromStdString(pki.ca()) + ",verify=1",
                                 "-"});
        EXPECT_TRUE(pumpUntil([&] { return p->errors().find("listening on") != std::string::npos; }))
            << p->errors();
        return p;
    }
    void connectClient(const std::string& host = "127.0.0.1")
    {
        client.tls = context({pki.client(), pki.clientKey(), pki.ca(), false}, false);
        client.events.connect = [this] { connected = true; };
        client.events.error = [this](int n, const std::string& d) { errors.push_back({std::to_string(n), d}); };
        client.events.dataArrival = [this](long) {
            std::string chunk;
            client.getData(chunk);
            received += chunk;
        };
        ASSERT_FALSE(client.connect(host, serverPort).failed());
    }
    int serverPort = 0;
    SocketControl client;
    bool connected = false;
    std::vector<Refusal> errors;   // number, description
};

TEST_F(TlsClient, ConnectsOnceTheServerIsVerifiedAndMovesBytes)
{
    auto server = socatServer(pki.server(), pki.serverKey());
    connectClient();
    ASSERT_TRUE(pumpUntil([&] { return connected; })) << server->errors();
    EXPECT_EQ(client.state(), SockState::Connected);
    const std::string data = allBytes();
    ASSERT_FALSE(client.sendData(data).failed());
    EXPECT_EQ(server->waitOutput(data.size(), 15000), data);
    server->write("from the server");
    EXPECT_TRUE(pumpUntil([&] { return received == "from the server"; }));
    EXPECT_TRUE(errors.empty());
}

TEST_F(TlsClient, RefusesAServerFromAnotherCaOrForAnotherName)
{
    for (const auto& [cert, key] : {std::pair{pki.otherServer(), pki.serverKey()},
                                    std::pair{pki.elsewhereServer(), pki.elsewhereKey()}}) {
        errors.clear();
        auto server = socatServer(cert, key);
        connectClient();
        ASSERT_TRUE(pumpUntil([&] { return !errors.empty(); })) << cert;
        EXPECT_FALSE(connected) << cert;
        EXPECT_EQ(errors[0].ip, std::to_string(kErrTls));
        EXPECT_NE(errors[0].why.find("TLS handshake failed - "), std::string::npos) << errors[0].why;
        EXPECT_TRUE(server->output().empty());
        client.close();
    }
    EXPECT_NE(errors[0].why.find("host name"), std::string::npos) << errors[0].why;
}

TEST_F(TlsClient, AServerThatNeverAnswersTimesOut)
{
    QTcpServer mute;
    ASSERT_TRUE(mute.listen(QHostAddress::LocalHost, 0));
    serverPort = mute.serverPort();
    client.handshakeTimeoutMs = 300;
    connectClient();
    ASSERT_TRUE(pumpUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors[0].why, "TLS handshake not finished within 1 s");
    EXPECT_FALSE(connected);
}

// No server at all is the refused connection it always was, not a TLS fault.
TEST_F(TlsClient, NoServerIsARefusedConnection)
{
    QTcpServer probe;
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    serverPort = probe.serverPort();
    probe.close();
    connectClient();
    ASSERT_TRUE(pumpUntil([&] { return !errors.empty(); }));
    EXPECT_EQ(errors[0].ip, std::to_string(kErrRefused));
    EXPECT_EQ(errors[0].why, describeError(kErrRefused));
}

TEST_F(Tls, FilesAreCheckedWithTheirReasons)
{
    const std::string groupKey = dir.file("group.key");
    QFile::copy(QString::fromStdString(pki.serverKey()), QString::fromStdString(groupKey));
    QFile::setPermissions(QString::fromStdString(groupKey),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    const std::string notPem = dir.file("not.pem");
    QFile f(QString::fromStdString(notPem));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("hello\n");
    f.close();
    struct Case {
        TlsFiles files;
        bool server;
        std::string why;
    } cases[] = {
        {{"", "", "", false}, true, "a TLS server needs a certificate file"},
        {{pki.server(), "", "", false}, false, "the TLS certificate needs its key file"},
        {{dir.file("missing.pem"), pki.serverKey(), "", false}, true,
         "TLS certificate " + dir.file("missing.pem") + " does not exist"},
        {{dir.path(), pki.serverKey(), "", false}, true, "TLS certificate " + dir.path() + " is not a file"},
        {{notPem, pki.serverKey(), "", false}, true, "TLS certificate " + notPem + " holds no PEM certificate"},
        {{pki.server(), groupKey, "", false}, true,
         "TLS key " + groupKey + " is readable by others: allow its owner only (chmod 600)"},
        {{pki.server(), pki.server(), "", false}, true, ""},   // readable by others, too
        {{pki.server(), pki.clientKey(), "", false}, true,
         "TLS key " + pki.clientKey() + " does not belong to the certificate " + pki.server()},
        {{pki.server(), pki.serverKey(), notPem, false}, true, "TLS CA file " + notPem + " holds no PEM certificate"},
    };
    for (const Case& c : cases) {
        std::string why;
        EXPECT_FALSE(TlsContext::load(c.files, c.server, why));
        if (!c.why.empty())
            EXPECT_EQ(why, c.why);
        else
            EXPECT_NE(why.find("readable by others"), std::string::npos) << why;
        EXPECT_EQ(tlsFileProblems(c.files, c.server), std::vector<std::string>{why});
    }
    EXPECT_TRUE(tlsFileProblems(serverFiles(), true).empty());
    EXPECT_TRUE(tlsFileProblems({"", "", pki.ca(), false}, false).empty()) << "a client may show no certificate";
    const auto expired = tlsFileProblems({pki.expiredClient(), pki.clientKey(), pki.ca(), false}, false);
    ASSERT_EQ(expired.size(), 1u);
    EXPECT_NE(expired[0].find("\"client\" expired on "), std::string::npos) << expired[0];
}

}  // namespace
