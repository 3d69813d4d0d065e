// Allowed clients and TLS on a whole session: a pseudo-terminal as the
// device on COM3, socat and plain sockets as clients on the loopback
// (127.0.0.1 and other 127/8 addresses), socat as the server of a client
// session, certificates made with openssl for the test.
#include "session_fixture.h"

#include "pty_pair.h"
#include "temp_dir.h"
#include "tls_pki.h"
#include "winsock/socket_control.h"

#include <gtest/gtest.h>

#include <QFile>

#include <fstream>
#include <regex>
#include <sstream>

using namespace lintrel;
using namespace sessiontest;
using testsupport::PeerProcess;

namespace {

// Handshakes and peer programs start slowly on a busy machine.
constexpr int kWait = 15000;

class SessionSecurity : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pki.ok) << pki.error;
        resetGlobals();
        GlobalOptions.LogErrors = true;
        ::setenv("LINTREL_PORT_DIR", ports.path().c_str(), 1);
        ::setenv("LINTREL_HOME", home.path().c_str(), 1);
        map.map(3, pty.slavePath());
    }

    void useTls(Session& s, bool requireClient)
    {
        s.Security.Tls.checked = true;
        s.Security.TlsCertificate.text = pki.server();
        s.Security.TlsKey.text = pki.serverKey();
        s.Security.TlsCaFile.text = pki.ca();
        s.Security.TlsRequireClientCertificate.checked = requireClient;
    }

    // Activates s on COM3 as a server on 127.0.0.1; returns its port.
    int activateServer(Session& s)
    {
        s.Combo2.select("COM3");
        s.TCPOption_Click(1);
        s.LocalIP.items.push_back("127.0.0.1");
        s.LocalIP.select("127.0.0.1");
        s.PortNumber.text = "0";
        s.Command1_Click();
        EXPECT_TRUE(s.isActive()) << s.StatusBar1[1].text;
        return s.Winsock1(0).localPort;
    }

    // socat as a TLS client from the given loopback address.
    std::unique_ptr<PeerProcess> socatClient(int port, const std::string& cert, const std::string& key,
                                             const std::string& from = "127.0.0.1")
    {
        QString address = "OPENSSL:127.0.0.1:" + QString::number(port) + ",bind=" + QString::fromStdString(from) +
                          ",cafile=" + QString::fromStdString(pki.ca());
        if (!cert.empty())
            address += ",cert=" + QString::fromStdString(cert) + ",key=" + QString::fromStdString(key);
        auto p = std::make_unique<PeerProcess>("socat", QStringList{"-T", "30", "-", address});
        EXPECT_TRUE(p->started());
        return p;
    }

    // A plain TCP client from the given loopback address that sends bytes.
    std::unique_ptr<QTcpSocket> plainClient(int port, const std::string& from, const std::string& bytes)
    {
        auto c = std::make_unique<QTcpSocket>();
        EXPECT_TRUE(c->bind(QHostAddress(QString::fromStdString(from)), 0));
        c->connectToHost("127.0.0.1", quint16(port));
        EXPECT_TRUE(c->waitForConnected(kWait));
        c->write(bytes.data(), qint64(bytes.size()));
        return c;
    }

    std::string deviceReceive(std::size_t count, int ms = kWait)
    {
        std::string got;
        pumpUntil([&] {
            got += pty.receive(count - got.size(), 10);
            return got.size() >= count;
        }, ms);
        return got;
    }

    std::string errorLog()
    {
        std::ifstream f(home.file("errorlog.txt"), std::ios::binary);
        std::stringstream ss;
        ss << f.rdbuf();
        return ss.str();
    }
    std::size_t logLines()
    {
        const std::string log = errorLog();
        return std::size_t(std::count(log.begin(), log.end(), '\n'));
    }

    testsupport::TempDir ports, home, certs;
    testsupport::TestPki pki{certs.path()};
    testsupport::PtyPair pty;
    testsupport::PortsMap map;
    RecordingHost host;
};

TEST_F(SessionSecurity, TlsServerBridgesEveryByteAndTakesTheBreakMarker)
{
    Session s(&host);
    useTls(s, true);
    const int port = activateServer(s);
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Listening... (TLS)");

    auto peer = socatClient(port, pki.client(), pki.clientKey());
    ASSERT_TRUE(pumpUntil([&] { return s.ClientCount == 1; }, kWait)) << peer->errors();
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: (1) Connected (TLS)");

    const std::string bytes = allByteValues() + allByteValues();
    peer->write(bytes);
    EXPECT_EQ(deviceReceive(bytes.size()), bytes);
    pty.send(bytes);
    EXPECT_EQ(peer->waitOutput(bytes.size(), kWait), bytes);

    // Ten bytes of 255 in one message are the break, not data.
    peer->write(std::string(10, char(0xFF)));
    pumpFor(600);
    peer->write("after");
    EXPECT_EQ(deviceReceive(5), "after");

    peer.reset();
    ASSERT_TRUE(pumpUntil([&] { return s.ClientCount == 0; }, kWait));
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: Listening (TLS)");
    EXPECT_EQ(errorLog(), "");
}

// RFC 2217 inside TLS: a client's SET-BAUDRATE reaches the tty, a
// doubled 255 is one data byte each way.
TEST_F(SessionSecurity, Rfc2217WorksInsideTls)
{
    Session s(&host);
    s.Rfc2217.checked = true;
    useTls(s, true);
    const int port = activateServer(s);
    auto peer = socatClient(port, pki.client(), pki.clientKey());
    ASSERT_TRUE(pumpUntil([&] { return s.ClientCount == 1; }, kWait)) << peer->errors();

    // IAC WILL COM-PORT-OPTION, then IAC SB COM-PORT-OPTION SET-BAUDRATE 57600 IAC SE.
    peer->write(std::string("\xff\xfb\x2c\xff\xfa\x2c\x01\x00\x00\xe1\x00\xff\xf0", 13));
    EXPECT_TRUE(pumpUntil([&] { return pty.line().baud == 57600u; }, kWait)) << pty.line().baud;
    peer->write(std::string("a\xff\xff" "b", 4));
    EXPECT_EQ(deviceReceive(3), std::string("a\xff" "b", 3));

    pty.send(std::string("z\xff", 2));
    std::string out;
    pumpUntil([&] {
        out = peer->output();
        return out.find(std::string("z\xff\xff", 3)) != std::string::npos;
    }, kWait);
    EXPECT_NE(out.find(std::string("z\xff\xff", 3)), std::string::npos);
    // The server answered the baud rate with the value in force (SB 44 101).
    EXPECT_NE(out.find(std::string("\xff\xfa\x2c\x65\x00\x00\xe1\x00\xff\xf0", 10)), std::string::npos);
}

TEST_F(SessionSecurity, RefusedAddressesAreCountedAndLoggedOncePerMinute)
{
    Session s(&host);
    s.Security.AllowedClients.text = "127.0.0.1, 10.0.0.0/8";
    const int port = activateServer(s);
    auto friendClient = connectTo(port);
    ASSERT_TRUE(friendClient);
    ASSERT_TRUE(pumpUntil([&] { return s.ClientCount == 1; }));

    std::vector<std::unique_ptr<QTcpSocket>> strangers;
    for (int i = 0; i < 3; ++i) {
        strangers.push_back(plainClient(port, "127.0.0.2", "to the device"));
        ASSERT_TRUE(pumpUntil([&] { return s.Security.RefusedCount == i + 1; }, kWait));
    }
    strangers.push_back(plainClient(port, "127.0.0.3", "to the device"));
    ASSERT_TRUE(pumpUntil([&] { return s.Security.RefusedCount == 4; }, kWait));
    for (auto& c : strangers)
        EXPECT_TRUE(pumpUntil([&] { return c->state() == QAbstractSocket::UnconnectedState; }, kWait));

    EXPECT_EQ(s.ClientCount, 1);
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: (1) Connected");
    const std::string log = errorLog();
    const std::regex line("Lintrel Error: client 127\\.0\\.0\\.([23]):\\d+ refused: not allowed, "
                          "\\d\\d-\\d\\d-\\d{4}, \\d\\d:\\d\\d:\\d\\d, Lintrel IP Address: [^,]*, "
                          "Server Mode, Local Port: " + std::to_string(port) + "\r\n");
    std::string rest = log;
    std::vector<std::string> who;
    for (std::smatch m; std::regex_search(rest, m, line); rest = m.suffix())
        who.push_back(m[1]);
    EXPECT_EQ(who, (std::vector<std::string>{"2", "3"})) << log;
    EXPECT_EQ(rest, "") << log;
    EXPECT_EQ(pty.receive(100, 200), "") << "nothing from a refused client reaches the device";

    friendClient->write("still here");
    EXPECT_EQ(deviceReceive(10), "still here");
}

// Garbage, a wrong CA, an expired certificate, no certificate and a stalled
// handshake: each refused and logged once, and the client already in goes on.
TEST_F(SessionSecurity, BadTlsPeersAreRefusedWhileAGoodClientGoesOn)
{
    Session s(&host);
    useTls(s, true);
    const int port = activateServer(s);
    auto good = socatClient(port, pki.client(), pki.clientKey());
    ASSERT_TRUE(pumpUntil([&] { return s.ClientCount == 1; }, kWait)) << good->errors();

    auto garbage = plainClient(port, "127.0.0.2", "GET / HTTP/1.0\r\n\r\n");
    ASSERT_TRUE(pumpUntil([&] { return s.Security.RefusedCount == 1; }, kWait));
    auto wrongCa = socatClient(port, pki.otherClient(), pki.otherClientKey(), "127.0.0.3");
    auto expired = socatClient(port, pki.expiredClient(), pki.clientKey(), "127.0.0.4");
    auto none = socatClient(port, "", "", "127.0.0.5");
    ASSERT_TRUE(pumpUntil([&] { return s.Security.RefusedCount == 4; }, kWait));
    s.Winsock1(0).handshakeTimeoutMs = 300;
    auto stalled = plainClient(port, "127.0.0.6", "");
    ASSERT_TRUE(pumpUntil([&] { return s.Security.RefusedCount == 5; }, kWait));

    const std::string log = errorLog();
    for (const char* who : {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5", "127.0.0.6"})
        EXPECT_NE(log.find(std::string("client ") + who + ":"), std::string::npos) << who << " in\n" << log;
    EXPECT_NE(log.find("refused: TLS handshake not finished within 1 s"), std::string::npos) << log;
    EXPECT_NE(log.find("expired"), std::string::npos) << log;
    EXPECT_EQ(logLines(), 5u) << log;
    EXPECT_EQ(s.ClientCount, 1);
    EXPECT_EQ(s.StatusBar1[1].text, "TCP/IP Status: (1) Connected (TLS)");
    EXPECT_EQ(pty.receive(100, 200), "");

    good->write("still here");
    EXPECT_EQ(deviceReceive(10), "still here");
}

// A file that is missing or a key others can read: the session stays
// inactive, nothing is opened, and the status names the file and the fault.
TEST_F(SessionSecurity, ActivationStopsOnFilesOrListsThatAreWrong)
{
    const std::string openKey = certs.file("open.key");
    QFile::copy(QString::fromStdString(pki.serverKey()), QString::fromStdString(openKey));
    QFile::setPermissions(QString::fromStdString(openKey), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                QFileDevice::ReadGroup | QFileDevice::ReadOther);
    struct Case {
        std::string certificate, key, allowed, status;
    } cases[] = {
        {pki.server(), openKey, "",
         "TCP/IP Status: Error - TLS key " + openKey + " is readable by others: allow its owner only (chmod 600)"},
        {certs.file("gone.pem"), pki.serverKey(), "",
         "TCP/IP Status: Error - TLS certificate " + certs.file("gone.pem") + " does not exist"},
        {pki.server(), pki.clientKey(), "",
         "TCP/IP Status: Error - TLS key " + pki.clientKey() + " does not belong to the certificate " + pki.server()},
        {pki.server(), pki.serverKey(), "127.0.0.1, localhost",
         "TCP/IP Status: Error - Allowed clients: \"localhost\" is not an IP address or range"},
    };
    for (const Case& c : cases) {
        Session s(&host);
        useTls(s, false);
        s.Security.TlsCertificate.text = c.certificate;
        s.Security.TlsKey.text = c.key;
        s.Security.AllowedClients.text = c.allowed;
        s.Combo2.select("COM3");
        s.TCPOption_Click(1);
        s.PortNumber.text = "0";
        s.Command1_Click();
        EXPECT_FALSE(s.isActive());
        EXPECT_EQ(s.StatusBar1[1].text, c.status);
        EXPECT_EQ(s.StatusBar1[0].text, "COM Status:") << "the port was not opened";
        EXPECT_EQ(s.Winsock1(0).state(), lt::winsock::SockState::Closed);
    }
}

class TlsClientSession : public SessionSecurity {
protected:
    // socat OPENSSL-LISTEN with this certificate, asking for ours.
    std::unique_ptr<PeerProcess> socatServer(const std::string& cert)
    {
        QTcpServer probe;
        EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        serverPort = probe.serverPort();
        probe.close();
        auto p = std::make_unique<PeerProcess>(
            "socat", QStringList{"-d", "-d", "-T", "30",
                                 "OPENSSL-LISTEN:" + QString::number(serverPort) + ",bind=127.0.0.1,reuseaddr,cert=" +
                                     QString::fromStdString(cert) + ",key=" + QString::fromStdString(pki.serverKey()) +
                                     ",cafile=" + QString::fromStdString(pki.ca()) + ",verify=1",
                                 "-"});
        EXPECT_TRUE(pumpUntil([&] { return p->errors().find("listening on") != std::string::npos; }, kWait));
        return p;
    }
    void activateClient(Session& s)
    {
        s.Security.Tls.checked = true;
        s.Security.TlsCertificate.text = pki.client();
        s.Security.TlsKey.text = pki.clientKey();
        s.Security.TlsCaFile.text = pki.ca();
        s.Combo2.select("COM3");
        s.IPAddress.text = "127.0.0.1";
        s.PortNumber.text = std::to_string(serverPort);
        s.Command1_Click();
        EXPECT_TRUE(s.isActive()) << s.StatusBar1[1].text;
    }
    int serverPort = 0;
};

TEST_F(TlsClientSession, ConnectsToAVerifiedServerWithLowLatency)
{
    auto server = socatServer(pki.server());
    Session s(&host);
    s.LowLatency.checked = true;
    activateClient(s);
    ASSERT_TRUE(pumpUntil([&] { return s.StatusBar1[1].text == "TCP/IP Status: Connected (TLS)"; }, kWait))
        << s.StatusBar1[1].text << server->errors();
    const std::string bytes = allByteValues();
    pty.send(bytes);
    EXPECT_EQ(server->waitOutput(bytes.size(), kWait), bytes);
    server->write(bytes);
    EXPECT_EQ(deviceReceive(bytes.size()), bytes);
}

TEST_F(TlsClientSession, ShowsAndLogsWhyItRefusedTheServer)
{
    auto server = socatServer(pki.otherServer());
    Session s(&host);
    activateClient(s);
    ASSERT_TRUE(pumpUntil([&] { return s.StatusBar1[1].text.rfind("TCP/IP Status: Error - TLS", 0) == 0; }, kWait))
        << s.StatusBar1[1].text;
    const std::string status = s.StatusBar1[1].text;
    EXPECT_NE(status.find("TLS handshake failed - "), std::string::npos) << status;
    EXPECT_NE(errorLog().find("Lintrel Error: " + status.substr(std::string("TCP/IP Status: Error - ").size())),
              std::string::npos)
        << errorLog();
    EXPECT_TRUE(s.Timer1.enabled()) << "retries as after any failed connection";
    pty.send("secret");
    pumpFor(300);
    EXPECT_EQ(server->output(), "");
}

TEST(RefusalLog, OncePerAddressAndMinuteForSoManyAddresses)
{
    RefusalLog log;
    const std::uint32_t t0 = 0xFFFFFFF0u;   // the tick count wraps inside this minute
    EXPECT_TRUE(log.due("10.0.0.1", t0));
    EXPECT_FALSE(log.due("10.0.0.1", t0 + 1000));
    EXPECT_TRUE(log.due("10.0.0.2", t0 + 1000));
    EXPECT_FALSE(log.due("10.0.0.1", t0 + RefusalLog::kQuietMs - 1));
    EXPECT_TRUE(log.due("10.0.0.1", t0 + RefusalLog::kQuietMs));
    EXPECT_FALSE(log.due("10.0.0.1", t0 + RefusalLog::kQuietMs + 5));

    RefusalLog flood;
    for (std::size_t i = 0; i < RefusalLog::kMaxAddresses; ++i)
        EXPECT_TRUE(flood.due("a" + std::to_string(i), 1000));
    EXPECT_FALSE(flood.due("one too many", 2000));
    EXPECT_TRUE(flood.due("one too many", 1000 + RefusalLog::kQuietMs)) << "the old ones have aged out";
}

}  // namespace
