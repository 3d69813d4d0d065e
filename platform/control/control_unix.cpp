#include "control.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QVariant>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace lt::control {

long peerUid(long long descriptor)
{
    ucred cred{};
    socklen_t len = sizeof cred;
    if (descriptor < 0 || ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0)
        return -1;
    return long(cred.uid);
}

RequestServer::RequestServer(Handler handler, QObject* parent)
    : QObject(parent), m_handler(std::move(handler)), m_server(new QLocalServer(this))
{
    // The socket is made where only this user can reach it, then moved in.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &RequestServer::onConnection);
}

RequestServer::~RequestServer()
{
    close();
}

bool RequestServer::listen(const std::string& path, std::string* why)
{
    close();
    const QString name = QString::fromStdString(path);
    if (!m_server->listen(name)) {
        // One left behind by a program that is gone answers no one: replace it.
        std::string answer;
        std::string reason;
        if (m_server->serverError() == QAbstractSocket::AddressInUseError &&
            !ask(path, "", answer, &reason, 500) && reason == "not running") {
            QLocalServer::removeServer(name);
            if (m_server->listen(name)) {
                m_path = path;
                return true;
            }
        }
        if (why)
            *why = m_server->errorString().toStdString();
        return false;
    }
    m_path = path;
    return true;
}

void RequestServer::close()
{
    if (m_server->isListening())
        m_server->close();   // removes the socket file
    m_path.clear();
}

void RequestServer::onConnection()
{
    while (QLocalSocket* s = m_server->nextPendingConnection()) {
        const long uid = peerUid(s->socketDescriptor());
        if (m_peers >= kMaxPeers || uid < 0 || (uid != long(::geteuid()) && uid != 0)) {
            ++m_dropped;
            s->abort();
            s->deleteLater();
            continue;
        }
        ++m_peers;
        s->setReadBufferSize(qint64(kMaxRequest) + 1);
        // Every peer is gone within the time-out, answered or not.
        auto* timer = new QTimer(s);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, s, [this, s] { drop(s); });
        timer->start(kTimeoutMs);
        connect(s, &QLocalSocket::disconnected, s, [this, s] {
            if (s->property("lt_gone").toBool())
                return;
            s->setProperty("lt_gone", true);
            --m_peers;
            s->deleteLater();
        });
        connect(s, &QLocalSocket::readyRead, s, [this, s] { onReadable(s); });
        onReadable(s);
    }
}

void RequestServer::onReadable(QLocalSocket* s)
{
    if (s->property("lt_answered").toBool()) {
        s->readAll();   // nothing more is taken after the request
        return;
    }
    if (!s->canReadLine()) {
        if (s->bytesAvailable() > qint64(kMaxRequest))
            drop(s);
        return;
    }
    QByteArray line = s->readLine(qint64(kMaxRequest) + 1);
    if (!line.endsWith('\n')) {
        drop(s);
        return;
    }
    line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    const std::string answer = m_handler ? m_handler(line.toStdString()) : std::string();
    if (answer.empty()) {
        drop(s);
        return;
    }
    s->setProperty("lt_answered", true);
    s->write(answer.data(), qint64(answer.size()));
    s->disconnectFromServer();   // after what is written has gone
}

void RequestServer::drop(QLocalSocket* s)
{
    if (s->property("lt_gone").toBool())
        return;
    ++m_dropped;
    s->abort();   // raises disconnected, which lets it go
    if (!s->property("lt_gone").toBool()) {
        s->setProperty("lt_gone", true);
        --m_peers;
        s->deleteLater();
    }
}

bool ask(const std::string& path, const std::string& request, std::string& answer, std::string* why,
         int timeoutMs)
{
    auto fail = [why](const std::string& reason) {
        if (why)
            *why = reason;
        return false;
    };
    answer.clear();
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path)
        return fail("path too long");
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail(std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        return fail(errno == ECONNREFUSED ? "not running" : std::strerror(errno));

    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    auto waitFor = [&](short events) {
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                until - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{fd, events, 0};
            const int n = ::poll(&p, 1, int(left.count()));
            if (n > 0)
                return true;
            if (n < 0 && errno != EINTR)
                return false;
        }
    };
    const std::string line = request + "\n";
    std::size_t sent = 0;
    while (sent < line.size()) {
        if (!waitFor(POLLOUT))
            return fail("timed out");
        const ssize_t n = ::send(fd, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno != EINTR && errno != EAGAIN)
            return fail(std::strerror(errno));
        if (n > 0)
            sent += std::size_t(n);
    }
    char buf[16384];
    for (;;) {
        if (!waitFor(POLLIN))
            return fail("timed out");
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            return fail(std::strerror(errno));
        }
        answer.append(buf, std::size_t(n));
    }
    if (answer.empty())
        return fail("no answer");
    return true;
}

}  // namespace lt::control
