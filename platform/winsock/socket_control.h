// TCP socket control over Qt Network with the members and events of the
// classic Winsock control: states 0..9, request ids for incoming
// connections, Winsock-style error numbers.  Events are plain callbacks
// delivered on the control's thread from the Qt event loop.  A control may
// speak TLS (tls set): it then connects and accepts only peers whose
// handshake finished, and moves plain bytes as before.
#pragma once

#include "winsock/address_list.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSslSocket;
class QTcpSocket;
class QTcpServer;

namespace lt::winsock {

enum class SockState : int {
    Closed = 0, Open = 1, Listening = 2, ConnectionPending = 3, ResolvingHost = 4,
    HostResolved = 5, Connecting = 6, Connected = 7, Closing = 8, Error = 9,
};

struct SockError {
    int number = 0;              // 0: success; 100xx/110xx socket errors; 400xx misuse
    std::string description;
    bool failed() const { return number != 0; }
};

constexpr int kErrBadState = 40006;
constexpr long kReadBufferSize = 1 << 20;   // bytes held per socket before TCP holds the peer
constexpr int kErrAddressInUse = 10048;
constexpr int kErrAddressNotAvailable = 10049;
constexpr int kErrRefused = 10061;
constexpr int kErrTimedOut = 10060;
constexpr int kErrNetUnreachable = 10051;
constexpr int kErrHostUnreachable = 10065;
constexpr int kErrAborted = 10053;
constexpr int kErrReset = 10054;
constexpr int kErrHostNotFound = 11001;
// No Winsock number: the TLS handshake or the encrypted connection failed.
constexpr int kErrTls = 10900;

class TlsContext;

struct SocketEvents {
    std::function<void(long requestId)> connectionRequest;
    std::function<void(long bytesTotal)> dataArrival;
    std::function<void()> connect;
    std::function<void()> close;
    std::function<void(int number, const std::string& description)> error;
    // A listener closed an incoming connection before raising its request:
    // the peer is not in allowedClients, or its TLS handshake failed.
    std::function<void(const std::string& peerIp, int peerPort, const std::string& why)> refused;
};

class SocketControl {
public:
    SocketControl();
    ~SocketControl();
    SocketControl(const SocketControl&) = delete;
    SocketControl& operator=(const SocketControl&) = delete;

    SocketEvents events;

    std::string remoteHost;
    int remotePort = 0;
    int localPort = 0;
    // Sends small segments at once (TCP_NODELAY) on connections made or
    // accepted while set.
    bool noDelay = false;
    // TLS on the connections this control makes or accepts (null: plain
    // TCP).  A listener raises ConnectionRequest once the handshake is done.
    std::shared_ptr<const TlsContext> tls;
    // Peers a listener admits (empty: everyone); checked before any byte is
    // read and before a TLS handshake.
    AddressList allowedClients;
    int handshakeTimeoutMs = 10000;
    // Handshakes a listener runs at once; more peers meanwhile are refused,
    // so a flood of silent connections cannot take every descriptor.
    int maxHandshakes = 64;

    std::string localIP() const;
    std::string remoteHostIP() const;
    SockState state() const { return state_; }
    long bytesReceived() const;
    // Bytes given to SendData that the peer has not taken yet.
    long bytesToSend() const;

    SockError connect(const std::string& host = {}, int port = 0);
    SockError bind(int port = 0, const std::string& ip = {});
    SockError listen();
    SockError accept(long requestId);
    SockError sendData(const std::string& bytes);
    // Moves up to maxLen (all when <= 0) received bytes into out.
    SockError getData(std::string& out, long maxLen = 0);
    void close();   // raises no Close event

private:
    // handshakeAhead: an outgoing TLS connection, connected once encrypted.
    void attach(QTcpSocket* s, bool handshakeAhead);
    void onSocketError();
    void onPeerClosed();
    void onPending();
    void offer(QTcpSocket* s);
    void refuse(QTcpSocket* s, const std::string& why);
    void startHandshake(QSslSocket* s);
    void endHandshake(QSslSocket* s, const std::string& failure);
    void handshakeTimedOut(QSslSocket* s);
    SockError fail(int number, std::string description);

    SockState state_ = SockState::Closed;
    QTcpSocket* socket_ = nullptr;
    QTcpServer* server_ = nullptr;
    std::string bindIp_;
    int callerLocalPort_ = -1;   // LocalPort as set before Connect; -1: no outgoing connection
    bool inConnect_ = false;
    std::optional<int> callError_;   // a QAbstractSocket::SocketError raised inside Connect
    std::string tlsErrors_;          // what the peer's certificate failed, for the error raised next
    bool handshaking_ = false;       // an outgoing connection is up and its TLS handshake under way
    std::vector<QSslSocket*> handshakes_;   // incoming connections still in their TLS handshake
};

std::string describeError(int number);

}  // namespace lt::winsock
