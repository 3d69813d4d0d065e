#include "server.h"

#include <utility>

namespace rfc2217 {

Server::Server(ServerHost& host, std::string signature)
    : m_host(host), m_telnet(*this), m_signature(std::move(signature))
{
    // A client may also ask the server to perform the option (DO), as
    // pyserial's does besides its WILL; either way the port is controlled.
    m_telnet.support(tn::COM_PORT, true, true);
}

void Server::start()
{
    m_telnet.request(tn::BINARY, Side::Local);
    m_telnet.request(tn::BINARY, Side::Remote);
    m_telnet.request(tn::SGA, Side::Local);
    m_telnet.request(tn::SGA, Side::Remote);
    m_telnet.request(tn::COM_PORT, Side::Remote);
}

void Server::feed(const std::uint8_t* bytes, std::size_t n)
{
    m_telnet.feed(bytes, n);
}

void Server::sendData(const std::uint8_t* bytes, std::size_t n)
{
    m_telnet.sendData(bytes, n);
}

bool Server::comPortEnabled() const
{
    return m_comPort;
}

void Server::toWire(const std::uint8_t* bytes, std::size_t n)
{
    m_host.toWire(bytes, n);
}

void Server::received(const std::uint8_t* bytes, std::size_t n)
{
    m_host.toPort(bytes, n);
}

void Server::option(std::uint8_t option, Side, bool)
{
    if (option != tn::COM_PORT)
        return;
    const bool on = m_telnet.enabled(tn::COM_PORT, Side::Local) || m_telnet.enabled(tn::COM_PORT, Side::Remote);
    if (on == m_comPort)
        return;
    m_comPort = on;
    // Clients read the modem lines from notifications only, so they learn
    // the state at once.
    if (on)
        notifyModemState(m_modemLines & m_modemMask);
    m_host.comPort(on);
}

void Server::subnegotiation(std::uint8_t option, const std::uint8_t* payload, std::size_t n)
{
    // Commands count only while the option is agreed (RFC 855).
    if (option == tn::COM_PORT && m_comPort && n > 0)
        command(payload, n);
}

void Server::command(const std::uint8_t* p, std::size_t n)
{
    const std::uint8_t value = n > 1 ? p[1] : kQuery;
    switch (Command(p[0])) {
    case Command::Signature:
        if (n == 1)
            reply(Command::Signature, reinterpret_cast<const std::uint8_t*>(m_signature.data()), m_signature.size());
        else
            m_host.clientSignature(std::string_view(reinterpret_cast<const char*>(p + 1), n - 1));
        break;
    case Command::SetBaudRate: {
        // A value shorter than four bytes is taken as the query.
        const std::uint32_t asked = n >= 5 ? std::uint32_t(p[1]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 8 | p[4] : 0;
        const std::uint32_t baud = m_host.baudRate(asked);
        const std::uint8_t out[4] = {std::uint8_t(baud >> 24), std::uint8_t(baud >> 16), std::uint8_t(baud >> 8), std::uint8_t(baud)};
        reply(Command::SetBaudRate, out, 4);
        break;
    }
    case Command::SetDataSize:
        reply(Command::SetDataSize, m_host.dataSize(value >= 5 && value <= 8 ? value : kQuery));
        break;
    case Command::SetParity:
        reply(Command::SetParity, std::uint8_t(m_host.parity(value <= 5 ? Parity(value) : Parity::Query)));
        break;
    case Command::SetStopSize:
        reply(Command::SetStopSize, std::uint8_t(m_host.stopSize(value <= 3 ? StopSize(value) : StopSize::Query)));
        break;
    case Command::SetControl:
        // A value of no group has no value in force of its own; the answer
        // (the flow control setting) differs from what was asked, which is
        // how a client learns it was not done.
        reply(Command::SetControl, std::uint8_t(m_host.control(value < kControlCount ? Control(value) : Control::FlowQuery)));
        break;
    case Command::NotifyLineState:
        reply(Command::NotifyLineState, std::uint8_t(m_lineLevels & m_lineMask));
        break;
    case Command::NotifyModemState:
        notifyModemState(m_modemLines & m_modemMask);
        break;
    case Command::FlowControlSuspend:
        m_host.flowSuspended(true);
        break;
    case Command::FlowControlResume:
        m_host.flowSuspended(false);
        break;
    case Command::SetLineStateMask:
        if (n > 1)
            m_lineMask = value;
        reply(Command::SetLineStateMask, m_lineMask);
        break;
    case Command::SetModemStateMask:
        if (n > 1)
            m_modemMask = value;
        reply(Command::SetModemStateMask, m_modemMask);
        break;
    case Command::PurgeData:
        // Nothing is purged for an undefined value, and the answer says so.
        if (value >= 1 && value <= 3) {
            m_host.purge(Purge(value));
            reply(Command::PurgeData, value);
        } else {
            reply(Command::PurgeData, kQuery);
        }
        break;
    default:
        // Unknown subcommands, and server codes a client has no business
        // sending, are ignored.
        break;
    }
}

void Server::setModemState(std::uint8_t lines)
{
    lines &= modem::Lines;
    const std::uint8_t changed = lines ^ m_modemLines;
    if (!changed)
        return;
    std::uint8_t delta = 0;
    if (changed & modem::Cts)
        delta |= modem::DeltaCts;
    if (changed & modem::Dsr)
        delta |= modem::DeltaDsr;
    if (changed & modem::Cd)
        delta |= modem::DeltaCd;
    if ((changed & modem::Ring) && !(lines & modem::Ring))
        delta |= modem::RingEnded;
    m_modemLines = lines;
    if (m_comPort && ((changed | delta) & m_modemMask))
        notifyModemState((lines | delta) & m_modemMask);
}

void Server::setLineState(std::uint8_t state)
{
    const std::uint8_t levels = state & ~line::Errors;
    const std::uint8_t trigger = ((levels ^ m_lineLevels) | (state & line::Errors)) & m_lineMask;
    m_lineLevels = levels;
    if (m_comPort && trigger)
        reply(Command::NotifyLineState, std::uint8_t(state & m_lineMask));
}

void Server::suspendFlow(bool suspend)
{
    if (m_comPort)
        reply(suspend ? Command::FlowControlSuspend : Command::FlowControlResume, nullptr, 0);
}

void Server::notifyModemState(std::uint8_t value)
{
    reply(Command::NotifyModemState, value);
}

void Server::reply(Command c, std::uint8_t value)
{
    reply(c, &value, 1);
}

void Server::reply(Command c, const std::uint8_t* value, std::size_t n)
{
    std::uint8_t payload[1 + Telnet::kMaxSubnegotiation];
    if (n > Telnet::kMaxSubnegotiation - 1)
        n = Telnet::kMaxSubnegotiation - 1;  // a signature a peer would drop anyway
    payload[0] = std::uint8_t(kServer + std::uint8_t(c));
    for (std::size_t i = 0; i < n; ++i)
        payload[1 + i] = value[i];
    m_telnet.sendSubnegotiation(tn::COM_PORT, payload, 1 + n);
}

}  // namespace rfc2217
