// A control socket: a Unix socket through which other programs of the
// same user (or root) ask a running program something.  One request line
// per connection, one answer, then the connection ends.  A peer of
// another user, a request that is not one line of at most kMaxRequest
// bytes, one the handler does not know, and a peer that does not take its
// answer within kTimeoutMs are dropped; the program goes on.
#pragma once

#include <QObject>

#include <functional>
#include <string>

class QLocalServer;
class QLocalSocket;

namespace lt::control {

class RequestServer : public QObject {
public:
    static constexpr std::size_t kMaxRequest = 256;
    static constexpr int kTimeoutMs = 3000;
    static constexpr int kMaxPeers = 16;

    // The answer to a request line (without its line end); empty: not a
    // request this program knows, and the peer is dropped.
    using Handler = std::function<std::string(const std::string& request)>;

    explicit RequestServer(Handler handler, QObject* parent = nullptr);
    ~RequestServer() override;

    // Listens at path (a socket only its owner may open; one left behind
    // by a program that is gone is replaced).  False with the reason.
    bool listen(const std::string& path, std::string* why = nullptr);
    void close();
    const std::string& path() const { return m_path; }

    // Peers dropped so far (other users, garbage, too slow, too many).
    int dropped() const { return m_dropped; }

private:
    void onConnection();
    void onReadable(QLocalSocket* s);
    void drop(QLocalSocket* s);

    Handler m_handler;
    QLocalServer* m_server;
    std::string m_path;
    int m_peers = 0;
    int m_dropped = 0;
};

// The user id of the peer of a connected Unix socket; -1 when unknown.
long peerUid(long long descriptor);

// Connects to path, sends the request line, reads the answer until the
// other end closes, all within timeoutMs.  False with the reason (a
// refused connection says "not running").
bool ask(const std::string& path, const std::string& request, std::string& answer,
         std::string* why = nullptr, int timeoutMs = 3000);

}  // namespace lt::control
