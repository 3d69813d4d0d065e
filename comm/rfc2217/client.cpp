#include "client.h"

#include <algorithm>
#include <utility>

namespace rfc2217 {

namespace {

// What a held command is a kind of: a later command of the same kind makes
// it moot. Queries are kinds apart, so a query does not drop a set.
int kindOf(const std::vector<std::uint8_t>& p)
{
    int code = p[0];
    int sub = 0;
    bool query = p.size() > 1 && p[1] == kQuery;
    switch (Command(code)) {
    case Command::SetBaudRate:
        query = std::all_of(p.begin() + 1, p.end(), [](std::uint8_t b) { return b == 0; });
        break;
    case Command::SetControl:
        sub = int(controlGroup(Control(p[1])));
        query = isQuery(Control(p[1]));
        break;
    case Command::FlowControlResume:
        code = int(Command::FlowControlSuspend);
        break;
    case Command::SetDataSize:
    case Command::SetParity:
    case Command::SetStopSize:
        break;
    default:
        query = false;
        break;
    }
    return (code * 8 + sub) * 2 + int(query);
}

}  // namespace

Client::Client(ClientHost& host, std::string signature)
    : m_host(host), m_telnet(*this), m_signature(std::move(signature))
{
    // Some servers offer the option themselves (WILL); that controls the
    // port as well.
    m_telnet.support(tn::COM_PORT, true, true);
}

void Client::start()
{
    m_telnet.request(tn::BINARY, Side::Local);
    m_telnet.request(tn::BINARY, Side::Remote);
    m_telnet.request(tn::SGA, Side::Local);
    m_telnet.request(tn::SGA, Side::Remote);
    m_telnet.request(tn::COM_PORT, Side::Local);
}

void Client::feed(const std::uint8_t* bytes, std::size_t n)
{
    m_telnet.feed(bytes, n);
}

void Client::sendData(const std::uint8_t* bytes, std::size_t n)
{
    m_telnet.sendData(bytes, n);
}

bool Client::comPortEnabled() const
{
    return m_comPort;
}

void Client::toWire(const std::uint8_t* bytes, std::size_t n)
{
    m_host.toWire(bytes, n);
}

void Client::received(const std::uint8_t* bytes, std::size_t n)
{
    m_host.toProgram(bytes, n);
}

void Client::option(std::uint8_t option, Side, bool)
{
    if (option != tn::COM_PORT)
        return;
    const bool on = m_telnet.enabled(tn::COM_PORT, Side::Local) || m_telnet.enabled(tn::COM_PORT, Side::Remote);
    if (on) {
        if (m_comPort)
            return;
        m_comPort = true;
        std::vector<Held> held;
        held.swap(m_held);
        for (const Held& h : held)
            m_telnet.sendSubnegotiation(tn::COM_PORT, h.payload.data(), h.payload.size());
        m_host.comPort(true);
        return;
    }
    // Refused, or turned off again.
    m_held.clear();
    m_comPort = false;
    m_host.comPort(false);
}

void Client::subnegotiation(std::uint8_t option, const std::uint8_t* payload, std::size_t n)
{
    if (option == tn::COM_PORT && m_comPort && n > 0)
        answer(payload, n);
}

void Client::answer(const std::uint8_t* p, std::size_t n)
{
    if (p[0] < kServer)
        return;  // a client's code from the server: not ours to act on
    const Command c = Command(p[0] - kServer);
    if (c == Command::Signature) {
        if (n > 1)
            m_host.signature(std::string_view(reinterpret_cast<const char*>(p + 1), n - 1));
        else if (!m_signature.empty())
            send(Command::Signature, reinterpret_cast<const std::uint8_t*>(m_signature.data()), m_signature.size());
        return;
    }
    if (c == Command::FlowControlSuspend || c == Command::FlowControlResume) {
        m_host.flowSuspended(c == Command::FlowControlSuspend);
        return;
    }
    if (c == Command::SetBaudRate) {
        if (n >= 5)
            m_host.baudRate(std::uint32_t(p[1]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 8 | p[4]);
        return;
    }
    if (n < 2)
        return;  // every other answer carries one byte
    const std::uint8_t v = p[1];
    switch (c) {
    case Command::SetDataSize:
        m_host.dataSize(v);
        break;
    case Command::SetParity:
        m_host.parity(Parity(v));
        break;
    case Command::SetStopSize:
        m_host.stopSize(StopSize(v));
        break;
    case Command::SetControl:
        m_host.control(Control(v));
        break;
    case Command::NotifyLineState:
        m_host.lineState(v);
        break;
    case Command::NotifyModemState:
        m_host.modemState(v);
        break;
    case Command::SetLineStateMask:
        m_host.lineStateMask(v);
        break;
    case Command::SetModemStateMask:
        m_host.modemStateMask(v);
        break;
    case Command::PurgeData:
        m_host.purged(v);
        break;
    default:
        break;
    }
}

void Client::send(Command c, std::uint8_t value)
{
    send(c, &value, 1);
}

void Client::send(Command c, const std::uint8_t* value, std::size_t n)
{
    std::vector<std::uint8_t> payload;
    payload.reserve(1 + n);
    payload.push_back(std::uint8_t(c));
    payload.insert(payload.end(), value, value + n);
    if (m_comPort) {
        m_telnet.sendSubnegotiation(tn::COM_PORT, payload.data(), payload.size());
        return;
    }
    const int kind = kindOf(payload);
    auto same = std::find_if(m_held.begin(), m_held.end(), [kind](const Held& h) { return h.kind == kind; });
    if (same != m_held.end())
        same->payload = std::move(payload);
    else
        m_held.push_back({kind, std::move(payload)});
}

void Client::requestSignature()
{
    send(Command::Signature, nullptr, 0);
}

void Client::setBaudRate(std::uint32_t baud)
{
    const std::uint8_t v[4] = {std::uint8_t(baud >> 24), std::uint8_t(baud >> 16), std::uint8_t(baud >> 8), std::uint8_t(baud)};
    send(Command::SetBaudRate, v, 4);
}

void Client::setDataSize(std::uint8_t bits)
{
    send(Command::SetDataSize, bits);
}

void Client::setParity(Parity parity)
{
    send(Command::SetParity, std::uint8_t(parity));
}

void Client::setStopSize(StopSize stop)
{
    send(Command::SetStopSize, std::uint8_t(stop));
}

void Client::setControl(Control control)
{
    send(Command::SetControl, std::uint8_t(control));
}

void Client::requestLineState()
{
    send(Command::NotifyLineState, nullptr, 0);
}

void Client::requestModemState()
{
    send(Command::NotifyModemState, nullptr, 0);
}

void Client::suspendFlow(bool suspend)
{
    send(suspend ? Command::FlowControlSuspend : Command::FlowControlResume, nullptr, 0);
}

void Client::setLineStateMask(std::uint8_t mask)
{
    send(Command::SetLineStateMask, mask);
}

void Client::setModemStateMask(std::uint8_t mask)
{
    send(Command::SetModemStateMask, mask);
}

void Client::purge(Purge what)
{
    send(Command::PurgeData, std::uint8_t(what));
}

}  // namespace rfc2217
