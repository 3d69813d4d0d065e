#include "winsock/socket_control.h"

#include "net/net.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <map>
#include <optional>

namespace lt::winsock {

namespace {
// Incoming connections waiting for Accept, process-wide so that another
// control (as is usual) can accept a request raised by the listener.
std::map<long, QTcpSocket*>& pending()
{
    static std::map<long, QTcpSocket*> m;
    return m;
}
long g_nextRequest = 1;

int numberFor(QAbstractSocket::SocketError e)
{
    switch (e) {
    case QAbstractSocket::ConnectionRefusedError: return kErrRefused;
    case QAbstractSocket::HostNotFoundError: return kErrHostNotFound;
    case QAbstractSocket::SocketTimeoutError: return kErrTimedOut;
    case QAbstractSocket::NetworkError: return kErrNetUnreachable;
    case QAbstractSocket::AddressInUseError: return kErrAddressInUse;
    case QAbstractSocket::SocketAddressNotAvailableError: return kErrAddressNotAvailable;
    case QAbstractSocket::SocketAccessError: return 10013;
    case QAbstractSocket::RemoteHostClosedError: return kErrReset;
    default: return kErrAborted;
    }
}

// The address to bind: any address for an empty text, else the literal
// IPv4 or IPv6 address the text is.  A text that is no address (a host name,
// garbage) gives a null address, which callers refuse: Qt would take a null
// address as "every interface".
QHostAddress addressFor(const std::string& ip)
{
    if (ip.empty())
        return QHostAddress(QHostAddress::AnyIPv4);
    const QString text = QString::fromUtf8(ip.data(), qsizetype(ip.size()));
    QHostAddress a;
    if (text.size() > 45 || !a.setAddress(text) || text.toUtf8() != QByteArray::fromStdString(ip))
        return QHostAddress();
    return a;
}
}  // namespace

std::string describeError(int number)
{
    switch (number) {
    case kErrAddressInUse: return "Address in use";
    case kErrAddressNotAvailable: return "Address is not available from the local machine";
    case 10013: return "Permission denied";
    case kErrRefused: return "Connection is forcefully rejected";
    case kErrTimedOut: return "Connection is timed out";
    case kErrNetUnreachable: return "Network is unreachable";
    case kErrHostUnreachable: return "No route to host";
    case kErrAborted: return "Connection is aborted due to timeout or other failure";
    case kErrReset: return "Connection is reset by remote side";
    case kErrHostNotFound: return "Authoritative answer: Host not found";
    case kErrBadState: return "Wrong protocol or connection state for the requested transaction or request";
    default: return "Socket error " + std::to_string(number);
    }
}

SocketControl::SocketControl() = default;

SocketControl::~SocketControl()
{
    close();
}

SockError SocketControl::fail(int number, std::string description)
{
    return SockError{number, std::move(description)};
}

std::string SocketControl::localIP() const
{
    if (socket_ && socket_->state() == QAbstractSocket::ConnectedState)
        return socket_->localAddress().toString().toStdString();
    if (server_) return server_->serverAddress().toString().toStdString();
    if (!bindIp_.empty()) return bindIp_;
    // Unbound: the host's own address, as the name service gives it.
    const auto addresses = lt::net::listLocalAddresses();
    return addresses.empty() ? std::string() : addresses.front();
}

std::string SocketControl::remoteHostIP() const
{
    if (socket_ && socket_->state() == QAbstractSocket::ConnectedState)
        return socket_->peerAddress().toString().toStdString();
    return {};
}

long SocketControl::bytesReceived() const
{
    return socket_ ? long(socket_->bytesAvailable()) : 0;
}

long SocketControl::bytesToSend() const
{
    return socket_ ? long(socket_->bytesToWrite()) : 0;
}

void SocketControl::attach(QTcpSocket* s)
{
    socket_ = s;
    // A bounded receive buffer: bytes the owner does not take stay in the
    // kernel, so TCP flow control slows the peer instead of memory growing.
    s->setReadBufferSize(kReadBufferSize);
    if (noDelay)
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QObject::connect(s, &QTcpSocket::readyRead, s, [this] {
        if (events.dataArrival) events.dataArrival(long(socket_->bytesAvailable()));
    });
    QObject::connect(s, &QTcpSocket::connected, s, [this] {
        state_ = SockState::Connected;
        if (noDelay)
            socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        remotePort = socket_->peerPort();
        localPort = socket_->localPort();
        if (events.connect) events.connect();
    });
    QObject::connect(s, &QTcpSocket::hostFound, s, [this] {
        if (state_ == SockState::ResolvingHost) state_ = SockState::Connecting;
    });
    QObject::connect(s, &QAbstractSocket::errorOccurred, s, [this](QAbstractSocket::SocketError) {
        onSocketError();
    });
}

void SocketControl::onSocketError()
{
    if (!socket_) return;
    auto e = socket_->error();
    if (e == QAbstractSocket::RemoteHostClosedError) {
        onPeerClosed();
        return;
    }
    if (inConnect_) {
        // A failure Qt reports while Connect is still running: the call
        // itself either returns it or hands it to the event loop, never both.
        callError_ = int(e);
        return;
    }
    state_ = SockState::Error;
    int n = numberFor(e);
    if (events.error) events.error(n, describeError(n));
}

void SocketControl::onPeerClosed()
{
    // Data still buffered stays readable with GetData until Close.
    state_ = SockState::Closing;
    if (events.close) events.close();
}

SockError SocketControl::connect(const std::string& host, int port)
{
    if (state_ != SockState::Closed) return fail(kErrBadState, describeError(kErrBadState));
    if (!host.empty()) remoteHost = host;
    if (port) remotePort = port;
    if (remotePort <= 0 || remotePort > 65535) return fail(kErrBadState, "Invalid remote port");
    auto* s = new QTcpSocket;
    attach(s);
    inConnect_ = true;
    callError_.reset();
    // Only a port the caller asked for is bound; the one the system picked
    // for the last connection may still be held by TCP (TIME_WAIT).
    callerLocalPort_ = localPort;
    if (localPort && !s->bind(addressFor(bindIp_), quint16(localPort))) {
        inConnect_ = false;
        const int n = numberFor(s->error());
        s->disconnect();
        delete s;
        socket_ = nullptr;
        return fail(n, describeError(n));
    }
    state_ = SockState::ResolvingHost;
    s->connectToHost(QString::fromStdString(remoteHost), quint16(remotePort), QIODevice::ReadWrite,
                     QAbstractSocket::IPv4Protocol);
    inConnect_ = false;
    if (callError_) {
        // Refused at once (say, on loopback): reported as the later event
        // it would be anywhere else, after the caller has seen Connect return.
        const auto e = QAbstractSocket::SocketError(*callError_);
        callError_.reset();
        QMetaObject::invokeMethod(s, [this, s, e] {
            if (socket_ != s) return;   // closed meanwhile
            state_ = SockState::Error;
            const int n = numberFor(e);
            if (events.error) events.error(n, describeError(n));
        }, Qt::QueuedConnection);
    }
    return {};
}

SockError SocketControl::bind(int port, const std::string& ip)
{
    if (state_ != SockState::Closed) return fail(kErrBadState, describeError(kErrBadState));
    const QHostAddress address = addressFor(ip);
    if (address.isNull()) return fail(kErrAddressNotAvailable, describeError(kErrAddressNotAvailable));
    // Check the address now so a port in use is reported by Bind itself.
    QTcpServer probe;
    if (!probe.listen(address, quint16(port))) {
        int n = numberFor(probe.serverError());
        return fail(n, describeError(n));
    }
    localPort = probe.serverPort();
    bindIp_ = ip;
    state_ = SockState::Open;
    return {};
}

SockError SocketControl::listen()
{
    if (state_ != SockState::Closed && state_ != SockState::Open)
        return fail(kErrBadState, describeError(kErrBadState));
    const QHostAddress address = addressFor(bindIp_);
    if (address.isNull()) return fail(kErrAddressNotAvailable, describeError(kErrAddressNotAvailable));
    server_ = new QTcpServer;
    if (!server_->listen(address, quint16(localPort))) {
        int n = numberFor(server_->serverError());
        delete server_;
        server_ = nullptr;
        return fail(n, describeError(n));
    }
    localPort = server_->serverPort();
    QObject::connect(server_, &QTcpServer::newConnection, server_, [this] { onPending(); });
    state_ = SockState::Listening;
    return {};
}

void SocketControl::onPending()
{
    while (server_ && server_->hasPendingConnections()) {
        QTcpSocket* s = server_->nextPendingConnection();
        s->setParent(nullptr);
        long id = g_nextRequest++;
        pending()[id] = s;
        if (events.connectionRequest) events.connectionRequest(id);
        // A request not accepted during the event is refused.
        auto it = pending().find(id);
        if (it != pending().end()) {
            it->second->abort();
            it->second->deleteLater();
            pending().erase(it);
        }
    }
}

SockError SocketControl::accept(long requestId)
{
    if (state_ != SockState::Closed && state_ != SockState::Listening)
        return fail(kErrBadState, describeError(kErrBadState));
    auto it = pending().find(requestId);
    if (it == pending().end()) return fail(kErrBadState, "No connection request " + std::to_string(requestId));
    QTcpSocket* s = it->second;
    pending().erase(it);
    if (server_) {   // accepting on the listener itself ends listening
        server_->close();
        delete server_;
        server_ = nullptr;
    }
    attach(s);
    state_ = SockState::Connected;
    remotePort = s->peerPort();
    remoteHost = s->peerAddress().toString().toStdString();
    localPort = s->localPort();
    if (s->state() != QAbstractSocket::ConnectedState) QMetaObject::invokeMethod(s, [this] { onPeerClosed(); }, Qt::QueuedConnection);
    else if (s->bytesAvailable() > 0)
        QMetaObject::invokeMethod(s, [this] {
            if (socket_ && events.dataArrival) events.dataArrival(long(socket_->bytesAvailable()));
        }, Qt::QueuedConnection);
    return {};
}

SockError SocketControl::sendData(const std::string& bytes)
{
    if (state_ != SockState::Connected || !socket_) return fail(kErrBadState, describeError(kErrBadState));
    qint64 n = socket_->write(bytes.data(), qint64(bytes.size()));
    if (n != qint64(bytes.size())) {
        int e = numberFor(socket_->error());
        return fail(e, describeError(e));
    }
    return {};
}

SockError SocketControl::getData(std::string& out, long maxLen)
{
    out.clear();
    if (!socket_) return fail(kErrBadState, describeError(kErrBadState));
    qint64 n = socket_->bytesAvailable();
    if (maxLen > 0 && n > maxLen) n = maxLen;
    out.resize(std::size_t(n));
    qint64 got = n ? socket_->read(out.data(), n) : 0;
    out.resize(std::size_t(got < 0 ? 0 : got));
    return {};
}

void SocketControl::close()
{
    if (socket_ && !server_ && callerLocalPort_ >= 0) {
        // An outgoing connection: LocalPort read the system's port while it
        // lasted and goes back to what the caller had set.
        localPort = callerLocalPort_;
        callerLocalPort_ = -1;
    }
    if (socket_) {
        socket_->disconnect();
        socket_->abort();
        socket_->deleteLater();
        socket_ = nullptr;
    }
    if (server_) {
        server_->close();
        server_->deleteLater();
        server_ = nullptr;
    }
    state_ = SockState::Closed;
}

}  // namespace lt::winsock
