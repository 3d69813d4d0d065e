#include "winsock/socket_control.h"

#include "winsock/tls_context.h"

#include "net/net.h"

#include <QHostAddress>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <map>
#include <optional>
#include <utility>

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
    case QAbstractSocket::SslHandshakeFailedError:
    case QAbstractSocket::SslInternalError:
    case QAbstractSocket::SslInvalidUserDataError: return kErrTls;
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

// A listener whose incoming connections can start TLS.
class TlsListener : public QTcpServer {
protected:
    void incomingConnection(qintptr descriptor) override
    {
        auto* s = new QSslSocket(this);
        if (s->setSocketDescriptor(descriptor))
            addPendingConnection(s);
        else
            delete s;
    }
};

std::string peerText(const QTcpSocket* s)
{
    return plainAddress(s->peerAddress()).toString().toStdString();
}

std::string joined(const QList<QSslError>& errors)
{
    std::string text;
    for (const QSslError& e : errors) {
        const std::string one = e.errorString().toStdString();
        if (text.find(one) == std::string::npos)
            text += (text.empty() ? "" : "; ") + one;
    }
    return text;
}

// The handshake's timer goes with the socket, but the socket is deleted
// later than it is dropped: stopped here, it cannot call into a control
// that is gone by then.
void stopHandshakeTimer(QObject* s)
{
    if (auto* timer = s->findChild<QTimer*>("handshake", Qt::FindDirectChildrenOnly)) {
        timer->disconnect();
        timer->stop();
    }
}

std::string seconds(int ms)
{
    return std::to_string((ms + 999) / 1000) + " s";
}

// Why a handshake ended without a secure connection.
std::string handshakeFailure(QSslSocket* s, QAbstractSocket::SocketError e, const std::string& certificateErrors)
{
    if (e == QAbstractSocket::RemoteHostClosedError)
        return "TLS handshake failed - the peer closed the connection";
    return "TLS handshake failed - " + (certificateErrors.empty() ? s->errorString().toStdString() : certificateErrors);
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
    case kErrTls: return "TLS failed";
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
    if (!socket_)
        return 0;
    const auto* ssl = qobject_cast<const QSslSocket*>(socket_);
    return long(socket_->bytesToWrite() + (ssl ? ssl->encryptedBytesToWrite() : 0));
}

void SocketControl::attach(QTcpSocket* s, bool handshakeAhead)
{
    socket_ = s;
    tlsErrors_.clear();
    handshaking_ = false;
    // A bounded receive buffer: bytes the owner does not take stay in the
    // kernel, so TCP flow control slows the peer instead of memory growing.
    s->setReadBufferSize(kReadBufferSize);
    if (noDelay)
        s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    QObject::connect(s, &QTcpSocket::readyRead, s, [this] {
        if (events.dataArrival) events.dataArrival(long(socket_->bytesAvailable()));
    });
    auto connected = [this] {
        state_ = SockState::Connected;
        if (noDelay)
            socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        remotePort = socket_->peerPort();
        localPort = socket_->localPort();
        if (events.connect) events.connect();
    };
    auto* ssl = qobject_cast<QSslSocket*>(s);
    if (handshakeAhead && ssl) {
        // Connected only once the handshake is done; it has its time.
        auto* timer = new QTimer(ssl);
        timer->setObjectName("handshake");
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, ssl, [this, ssl] { handshakeTimedOut(ssl); });
        QObject::connect(ssl, &QSslSocket::connected, ssl, [this, timer] {
            handshaking_ = true;
            timer->start(handshakeTimeoutMs);
        });
        QObject::connect(ssl, &QSslSocket::encrypted, ssl, [this, timer, connected] {
            handshaking_ = false;
            timer->stop();
            connected();
        });
        QObject::connect(ssl, &QSslSocket::sslErrors, ssl,
                         [this](const QList<QSslError>& errors) { tlsErrors_ = joined(errors); });
    } else {
        QObject::connect(s, &QTcpSocket::connected, s, connected);
    }
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
    auto* ssl = qobject_cast<QSslSocket*>(socket_);
    const bool inHandshake = std::exchange(handshaking_, false);
    if (e == QAbstractSocket::RemoteHostClosedError && !inHandshake) {
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
    if (ssl && (inHandshake || numberFor(e) == kErrTls)) {
        const std::string why = inHandshake ? handshakeFailure(ssl, e, tlsErrors_)
                                            : "TLS failed - " + ssl->errorString().toStdString();
        if (events.error) events.error(kErrTls, why);
        return;
    }
    int n = numberFor(e);
    if (events.error) events.error(n, describeError(n));
}

void SocketControl::handshakeTimedOut(QSslSocket* s)
{
    if (socket_ != s)
        return;
    s->disconnect();
    s->abort();
    handshaking_ = false;
    state_ = SockState::Error;
    if (events.error) events.error(kErrTls, "TLS handshake not finished within " + seconds(handshakeTimeoutMs));
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
    QTcpSocket* s = tls ? new QSslSocket : new QTcpSocket;
    if (tls)
        static_cast<QSslSocket*>(s)->setSslConfiguration(tls->configuration());
    attach(s, tls != nullptr);
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
    // TLS checks the server's certificate against the name connected to.
    if (tls)
        static_cast<QSslSocket*>(s)->connectToHostEncrypted(QString::fromStdString(remoteHost), quint16(remotePort),
                                                            QIODevice::ReadWrite, QAbstractSocket::IPv4Protocol);
    else
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
    server_ = tls ? new TlsListener : new QTcpServer;
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
        auto* ssl = qobject_cast<QSslSocket*>(s);
        if (!allowedClients.admits(s->peerAddress()))
            refuse(s, "not allowed");
        else if (tls && ssl && int(handshakes_.size()) >= maxHandshakes)
            refuse(s, "too many TLS handshakes under way");
        else if (tls && ssl)
            startHandshake(ssl);
        else
            offer(s);
    }
}

void SocketControl::offer(QTcpSocket* s)
{
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

void SocketControl::refuse(QTcpSocket* s, const std::string& why)
{
    const std::string ip = peerText(s);
    const int port = s->peerPort();
    s->disconnect();
    s->abort();
    s->deleteLater();
    if (events.refused) events.refused(ip, port, why);
}

void SocketControl::startHandshake(QSslSocket* s)
{
    handshakes_.push_back(s);
    s->setSslConfiguration(tls->configuration());
    auto* timer = new QTimer(s);
    timer->setObjectName("handshake");
    timer->setSingleShot(true);
    auto certificateErrors = std::make_shared<std::string>();
    QObject::connect(timer, &QTimer::timeout, s, [this, s] {
        endHandshake(s, "TLS handshake not finished within " + seconds(handshakeTimeoutMs));
    });
    QObject::connect(s, &QSslSocket::encrypted, s, [this, s] { endHandshake(s, {}); });
    QObject::connect(s, &QSslSocket::sslErrors, s,
                     [certificateErrors](const QList<QSslError>& errors) { *certificateErrors = joined(errors); });
    QObject::connect(s, &QAbstractSocket::errorOccurred, s, [this, s, certificateErrors](QAbstractSocket::SocketError e) {
        endHandshake(s, handshakeFailure(s, e, *certificateErrors));
    });
    timer->start(handshakeTimeoutMs);
    s->startServerEncryption();
}

void SocketControl::endHandshake(QSslSocket* s, const std::string& failure)
{
    const auto it = std::find(handshakes_.begin(), handshakes_.end(), s);
    if (it == handshakes_.end())
        return;
    handshakes_.erase(it);
    s->disconnect();
    stopHandshakeTimer(s);
    if (failure.empty())
        offer(s);
    else
        refuse(s, failure);
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
    attach(s, false);
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
        stopHandshakeTimer(socket_);
        socket_->abort();
        socket_->deleteLater();
        socket_ = nullptr;
    }
    if (server_) {
        server_->close();
        server_->deleteLater();
        server_ = nullptr;
    }
    for (QSslSocket* s : handshakes_) {
        s->disconnect();
        stopHandshakeTimer(s);
        s->abort();
        s->deleteLater();
    }
    handshakes_.clear();
    state_ = SockState::Closed;
}

}  // namespace lt::winsock
