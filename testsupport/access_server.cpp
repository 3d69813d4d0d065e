#include "access_server.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

using rfc2217::Control;

// The port behind the server: SET commands change the record (unless the
// options say otherwise) and are answered with what it holds.
class AccessServer::Host : public rfc2217::ServerHost {
public:
    explicit Host(AccessServer& s) : m_s(s) {}

    void toWire(const std::uint8_t* bytes, std::size_t n) override
    {
        // A silent server sends no subnegotiation (each comes whole).
        if (!m_s.m_options.answers && n >= 2 && bytes[0] == rfc2217::tn::IAC && bytes[1] == rfc2217::tn::SB)
            return;
        m_s.m_out.append(reinterpret_cast<const char*>(bytes), n);
    }
    void toPort(const std::uint8_t* bytes, std::size_t n) override
    {
        m_s.m_state.data.append(reinterpret_cast<const char*>(bytes), n);
    }
    std::uint32_t baudRate(std::uint32_t asked) override
    {
        if (asked != 0 && asked != m_s.m_options.refuseBaud)
            m_s.m_state.baud = asked;
        return m_s.m_state.baud;
    }
    std::uint8_t dataSize(std::uint8_t asked) override
    {
        if (asked != 0)
            m_s.m_state.dataSize = asked;
        return m_s.m_state.dataSize;
    }
    rfc2217::Parity parity(rfc2217::Parity asked) override
    {
        if (asked != rfc2217::Parity::Query)
            m_s.m_state.parity = asked;
        return m_s.m_state.parity;
    }
    rfc2217::StopSize stopSize(rfc2217::StopSize asked) override
    {
        if (asked != rfc2217::StopSize::Query)
            m_s.m_state.stop = asked;
        return m_s.m_state.stop;
    }
    Control control(Control c) override
    {
        Port& p = m_s.m_state;
        p.controls.push_back(c);
        switch (c) {
        case Control::FlowNone: case Control::FlowXonXoff: case Control::FlowHardware: p.flow = c; return c;
        case Control::FlowQuery: return p.flow;
        case Control::BreakOn: p.breakOn = true; ++p.breaks; return c;
        case Control::BreakOff: p.breakOn = false; return c;
        case Control::BreakQuery: return p.breakOn ? Control::BreakOn : Control::BreakOff;
        case Control::DtrOn: case Control::DtrOff: p.dtr = c == Control::DtrOn; return c;
        case Control::DtrQuery: return p.dtr ? Control::DtrOn : Control::DtrOff;
        case Control::RtsOn: case Control::RtsOff: p.rts = c == Control::RtsOn; return c;
        case Control::RtsQuery: return p.rts ? Control::RtsOn : Control::RtsOff;
        default: return Control::InboundFlowNone;
        }
    }
    void purge(rfc2217::Purge what) override { m_s.m_state.purges.push_back(what); }
    void comPort(bool on) override { m_s.m_state.comPort = on; }

private:
    AccessServer& m_s;
};

AccessServer::AccessServer() : AccessServer(Options{}) {}

AccessServer::AccessServer(Options options) : m_options(options)
{
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listen, 4) != 0 ||
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        ADD_FAILURE() << "no listening socket";
        return;
    }
    m_port = ntohs(a.sin_port);
    m_wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_host = std::make_unique<Host>(*this);
    m_thread = std::thread([this] { run(); });
}

AccessServer::~AccessServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    wake();
    if (m_thread.joinable())
        m_thread.join();
    for (int fd : {m_client, m_listen, m_wake})
        if (fd >= 0)
            ::close(fd);
}

AccessServer::Port AccessServer::state()
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

bool AccessServer::waitFor(const std::function<bool(const Port&)>& pred, int ms)
{
    std::unique_lock lock(m_mutex);
    return m_cond.wait_for(lock, std::chrono::milliseconds(ms), [&] { return pred(m_state); });
}

void AccessServer::send(const std::string& data)
{
    std::lock_guard lock(m_mutex);
    const auto* p = reinterpret_cast<const std::uint8_t*>(data.data());
    if (m_server)
        m_server->sendData(p, data.size());
    else
        m_out += data;
    wake();
}

void AccessServer::setModemState(std::uint8_t lines)
{
    std::lock_guard lock(m_mutex);
    m_modemLines = lines;
    if (m_server)
        m_server->setModemState(lines);
    wake();
}

void AccessServer::setLineState(std::uint8_t state)
{
    std::lock_guard lock(m_mutex);
    if (m_server)
        m_server->setLineState(state);
    wake();
}

void AccessServer::dropClient()
{
    std::lock_guard lock(m_mutex);
    m_drop = true;
    wake();
}

void AccessServer::wake()
{
    const std::uint64_t one = 1;
    (void)!::write(m_wake, &one, sizeof one);
}

// Hands what waits to the client; the test's client reads, so a blocking
// send is only ever short.
void AccessServer::flushLocked()
{
    while (m_client >= 0 && !m_out.empty()) {
        const ssize_t n = ::send(m_client, m_out.data(), m_out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n <= 0)
            break;
        m_out.erase(0, std::size_t(n));
    }
}

void AccessServer::run()
{
    char buf[16384];
    for (;;) {
        short clientEvents = POLLIN;
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
            if (m_drop && m_client >= 0) {
                ::close(m_client);
                m_client = -1;
                m_server.reset();
                m_state.comPort = false;
            }
            m_drop = false;
            flushLocked();
            if (!m_out.empty())
                clientEvents |= POLLOUT;
        }
        pollfd fds[3] = {{m_listen, POLLIN, 0}, {m_client, clientEvents, 0}, {m_wake, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0)
            continue;
        if (fds[2].revents & POLLIN) {
            std::uint64_t v;
            (void)!::read(m_wake, &v, sizeof v);
        }
        std::lock_guard lock(m_mutex);
        if ((fds[0].revents & POLLIN) && m_client < 0) {
            m_client = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (m_client >= 0) {
                ++m_state.connections;
                m_out.clear();
                if (m_options.telnet) {
                    m_server = std::make_unique<rfc2217::Server>(*m_host, "test access server");
                    m_server->setModemState(m_modemLines);
                    m_server->start();
                }
            }
        }
        if (m_client >= 0 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            const ssize_t n = ::recv(m_client, buf, sizeof buf, MSG_DONTWAIT);
            if (n > 0) {
                if (!m_server)
                    m_state.data.append(buf, std::size_t(n));
                else
                    m_server->feed(reinterpret_cast<const std::uint8_t*>(buf), std::size_t(n));
            } else if (n == 0) {
                ::close(m_client);
                m_client = -1;
                m_server.reset();
                m_state.comPort = false;
            }
        }
        flushLocked();
        m_cond.notify_all();
    }
}

}  // namespace testsupport
