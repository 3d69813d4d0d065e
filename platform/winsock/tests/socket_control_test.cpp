#include "winsock/socket_control.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTcpServer>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace lt::winsock;

namespace {
// Runs the event loop until cond holds or a few seconds pass.
bool pump(const std::function<bool()>& cond, int ms = 3000)
{
    QDeadlineTimer t(ms);
    while (!cond()) {
        if (t.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

std::string allBytes()
{
    std::string s;
    for (int i = 0; i < 256; ++i) s.push_back(static_cast<char>(i));
    return s;
}

// Listener that accepts each request on a fresh control.
struct Server {
    SocketControl listener;
    std::vector<std::unique_ptr<SocketControl>> conns;
    Server()
    {
        listener.events.connectionRequest = [this](long id) {
            auto c = std::make_unique<SocketControl>();
            EXPECT_FALSE(c->accept(id).failed());
            conns.push_back(std::move(c));
        };
        EXPECT_FALSE(listener.bind(0, "127.0.0.1").failed());
        EXPECT_FALSE(listener.listen().failed());
        EXPECT_EQ(listener.state(), SockState::Listening);
    }
};
}  // namespace

TEST(SocketControl, DataBothWaysAllByteValues)
{
    Server srv;
    SocketControl client;
    bool connected = false;
    std::string atClient;
    client.events.connect = [&] { connected = true; };
    client.events.dataArrival = [&](long n) {
        std::string chunk;
        client.getData(chunk);
        EXPECT_GE(n, long(chunk.size()));
        atClient += chunk;
    };
    ASSERT_FALSE(client.connect("127.0.0.1", srv.listener.localPort).failed());
    ASSERT_TRUE(pump([&] { return connected && srv.conns.size() == 1; }));
    EXPECT_EQ(client.state(), SockState::Connected);
    EXPECT_EQ(client.remoteHostIP(), "127.0.0.1");

    SocketControl& peer = *srv.conns[0];
    std::string atServer;
    peer.events.dataArrival = [&](long) {
        std::string chunk;
        peer.getData(chunk);
        atServer += chunk;
    };
    const std::string data = allBytes() + allBytes();
    ASSERT_FALSE(client.sendData(data).failed());
    ASSERT_FALSE(peer.sendData(data).failed());
    ASSERT_TRUE(pump([&] { return atServer.size() >= data.size() && atClient.size() >= data.size(); }));
    EXPECT_EQ(atServer, data);
    EXPECT_EQ(atClient, data);
}

TEST(SocketControl, ConnectRefusedReportsError)
{
    QTcpServer probe;   // find a free port, then free it
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    int port = probe.serverPort();
    probe.close();

    SocketControl client;
    int number = 0;
    std::string text;
    client.events.error = [&](int n, const std::string& d) { number = n; text = d; };
    ASSERT_FALSE(client.connect("127.0.0.1", port).failed());
    ASSERT_TRUE(pump([&] { return number != 0; }));
    EXPECT_EQ(number, kErrRefused);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(client.state(), SockState::Error);
}

TEST(SocketControl, BindToPortInUse)
{
    Server srv;
    SocketControl other;
    SockError e = other.bind(srv.listener.localPort, "127.0.0.1");
    EXPECT_EQ(e.number, kErrAddressInUse);
    EXPECT_EQ(e.description, "Address in use");
    EXPECT_EQ(other.state(), SockState::Closed);
}

TEST(SocketControl, MisuseReportsBadState)
{
    SocketControl s;
    EXPECT_EQ(s.sendData("x").number, kErrBadState);
    EXPECT_EQ(s.accept(123456).number, kErrBadState);
    Server srv;
    EXPECT_EQ(srv.listener.connect("127.0.0.1", 1).number, kErrBadState);
}

TEST(SocketControl, CloseSemantics)
{
    Server srv;
    SocketControl client;
    bool connected = false, clientClosed = false;
    client.events.connect = [&] { connected = true; };
    client.events.close = [&] { clientClosed = true; };
    ASSERT_FALSE(client.connect("127.0.0.1", srv.listener.localPort).failed());
    ASSERT_TRUE(pump([&] { return connected && srv.conns.size() == 1; }));

    bool peerClosed = false;
    srv.conns[0]->events.close = [&] { peerClosed = true; };
    ASSERT_FALSE(srv.conns[0]->sendData("bye").failed());
    ASSERT_TRUE(pump([&] { return client.bytesReceived() == 3; }));
    srv.conns[0]->close();   // the closing side gets no Close event
    EXPECT_EQ(srv.conns[0]->state(), SockState::Closed);
    ASSERT_TRUE(pump([&] { return clientClosed; }));
    EXPECT_EQ(client.state(), SockState::Closing);
    std::string rest;
    client.getData(rest);
    EXPECT_EQ(rest, "bye");   // data received before the close stays readable
    client.close();
    EXPECT_EQ(client.state(), SockState::Closed);
    pump([] { return false; }, 200);
    EXPECT_FALSE(peerClosed);
}

TEST(SocketControl, ManyClients)
{
    Server srv;
    constexpr int kClients = 20;
    std::vector<std::unique_ptr<SocketControl>> clients;
    int connected = 0;
    for (int i = 0; i < kClients; ++i) {
        auto c = std::make_unique<SocketControl>();
        c->events.connect = [&] { ++connected; };
        ASSERT_FALSE(c->connect("127.0.0.1", srv.listener.localPort).failed());
        clients.push_back(std::move(c));
    }
    ASSERT_TRUE(pump([&] { return connected == kClients && int(srv.conns.size()) == kClients; }));
    EXPECT_EQ(srv.listener.state(), SockState::Listening);
    for (auto& c : srv.conns) EXPECT_EQ(c->state(), SockState::Connected);
}

// Closing our side first leaves its port in TIME_WAIT: the next Connect
// must not try to bind that port again, and LocalPort reads the port of
// the connection only while it lasts.
TEST(SocketControl, ReconnectAfterOwnCloseTakesAFreshPort)
{
    Server srv;
    SocketControl client;
    int connects = 0, errors = 0;
    client.events.connect = [&] { ++connects; };
    client.events.error = [&](int, const std::string&) { ++errors; };
    for (int round = 1; round <= 3; ++round) {
        ASSERT_FALSE(client.connect("127.0.0.1", srv.listener.localPort).failed()) << round;
        ASSERT_TRUE(pump([&] { return connects == round; }, 1000)) << "round " << round;
        EXPECT_GT(client.localPort, 0);
        client.close();
        EXPECT_EQ(client.localPort, 0);
    }
    EXPECT_EQ(errors, 0);
}

// A failure is reported either by the call or by the Error event, never by
// both: a local port in use fails the call; a refusal comes as the event,
// after the call returned.
TEST(SocketControl, EachFailureIsReportedOnce)
{
    Server srv;
    SocketControl client;
    std::vector<int> events;
    client.events.error = [&](int n, const std::string&) { events.push_back(n); };
    client.localPort = srv.listener.localPort;   // the caller asks for a port in use
    const SockError e = client.connect("127.0.0.1", srv.listener.localPort);
    EXPECT_EQ(e.number, kErrAddressInUse);
    pump([] { return false; }, 200);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(client.state(), SockState::Closed);

    QTcpServer probe;   // a port where nothing listens
    ASSERT_TRUE(probe.listen(QHostAddress::LocalHost));
    const int dead = probe.serverPort();
    probe.close();
    client.localPort = 0;
    ASSERT_FALSE(client.connect("127.0.0.1", dead).failed());
    EXPECT_TRUE(events.empty()) << "reported inside the call";
    ASSERT_TRUE(pump([&] { return !events.empty(); }));
    pump([] { return false; }, 200);
    EXPECT_EQ(events, std::vector<int>{kErrRefused});
    // Closed before the queued report ran: nothing is reported at all.
    client.close();
    events.clear();
    ASSERT_FALSE(client.connect("127.0.0.1", dead).failed());
    client.close();
    pump([] { return false; }, 200);
    EXPECT_TRUE(events.empty());
}

// Bind takes a literal address or none; a host name or garbage must never
// widen to every interface.
TEST(SocketControl, BindRefusesWhatIsNotAnAddress)
{
    for (const std::string& ip : {std::string("localhost"), std::string("AAAA"),
                                  std::string(250, '1'), std::string("127.0.0.1\xff")}) {
        SocketControl s;
        const SockError e = s.bind(0, ip);
        EXPECT_EQ(e.number, kErrAddressNotAvailable) << ip;
        EXPECT_EQ(e.description, "Address is not available from the local machine");
        EXPECT_EQ(s.state(), SockState::Closed);
    }
    SocketControl v6;
    EXPECT_FALSE(v6.bind(0, "::1").failed());
    EXPECT_FALSE(v6.listen().failed());
}
