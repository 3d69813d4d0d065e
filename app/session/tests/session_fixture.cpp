#include "session_fixture.h"

namespace sessiontest {

TcpPeerServer::TcpPeerServer()
{
    m_server.listen(QHostAddress::LocalHost, 0);
    QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
        while (QTcpSocket* s = m_server.nextPendingConnection())
            clients.push_back(s);
    });
}

QTcpSocket* TcpPeerServer::waitForClient(int n, int ms)
{
    pumpUntil([&] { return int(clients.size()) >= n; }, ms);
    return int(clients.size()) >= n ? clients[std::size_t(n - 1)] : nullptr;
}

std::string receive(QTcpSocket* sock, std::size_t count, int ms)
{
    std::string got;
    pumpUntil([&] {
        const QByteArray b = sock->readAll();
        got.append(b.constData(), std::size_t(b.size()));
        return got.size() >= count;
    }, ms);
    return got;
}

std::unique_ptr<QTcpSocket> connectTo(int port, int ms)
{
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(QHostAddress::LocalHost, quint16(port));
    if (!pumpUntil([&] { return s->state() == QAbstractSocket::ConnectedState; }, ms))
        return nullptr;
    return s;
}

std::string allByteValues()
{
    std::string s;
    for (int i = 0; i < 256; ++i)
        s.push_back(char(i));
    return s;
}

void resetGlobals()
{
    lintrel::GlobalOptions = {};
    lintrel::IoOptionTransfer = {};
    lintrel::PingIdleTicks = 0;
}

}  // namespace sessiontest
