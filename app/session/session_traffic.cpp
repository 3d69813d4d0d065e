// Who is connected to a session and what crossed it: the counters' open
// and close hooks, the client list with its Disconnect, and the tap calls.
#include "session.h"

#include "winsock/socket_control.h"

#include <chrono>

namespace lintrel {

using lt::winsock::SockState;

namespace {

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

}  // namespace

void Session::resetCounters()
{
    m_counters.reset(nowMs());
}

void Session::clientOpened(int index)
{
    lt::winsock::SocketControl& s = Winsock1(index);
    const ClientCounters& c = m_counters.open(index, s.remoteHostIP(), s.remotePort, nowMs());
    if (clientChanged)
        clientChanged(c, true);
}

void Session::clientClosed(int index)
{
    if (m_counters.close(index) && clientChanged)
        clientChanged(m_counters.clients[std::size_t(index)], false);
}

std::vector<Session::Client> Session::clients()
{
    std::vector<Client> list;
    for (int i = 0; i <= HighSocketIndex && i < socketCount(); ++i) {
        if (std::size_t(i) >= m_counters.clients.size() || !m_counters.clients[std::size_t(i)].open)
            continue;
        if (Winsock1(i).state() == SockState::Connected)
            list.push_back({i, m_counters.clients[std::size_t(i)]});
    }
    return list;
}

// As if the peer had closed: the count and the status line follow, and in
// the client role the reconnect timer starts.
void Session::disconnectClient(int index)
{
    if (index < 0 || index > HighSocketIndex || index >= socketCount() ||
        Winsock1(index).state() != SockState::Connected)
        return;
    closeHandling(index);
}

void Session::tapToTcp(int peers, int lastIndex, const std::string& bytes)
{
    const std::string who = peers == 1 && std::size_t(lastIndex) < m_counters.clients.size()
                                ? m_counters.clients[std::size_t(lastIndex)].name()
                                : std::to_string(peers) + " clients";
    m_tap->chunk(TrafficDirection::ToTcp, who, bytes.data(), bytes.size());
}

void Session::tapToSerial(int index, const std::string& bytes)
{
    const std::string who = std::size_t(index) < m_counters.clients.size()
                                ? m_counters.clients[std::size_t(index)].name()
                                : Winsock1(index).remoteHostIP();
    m_tap->chunk(TrafficDirection::ToSerial, who, bytes.data(), bytes.size());
}

}  // namespace lintrel
