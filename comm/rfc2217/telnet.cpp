#include "telnet.h"

#include <cstring>

namespace rfc2217 {

using namespace tn;

Telnet::Telnet(TelnetHost& host) : m_host(host)
{
    m_sb.reserve(kMaxSubnegotiation);
}

void Telnet::support(std::uint8_t option, bool local, bool remote)
{
    m_options[option].supportLocal = local;
    m_options[option].supportRemote = remote;
}

void Telnet::request(std::uint8_t option, Side side)
{
    Option& o = m_options[option];
    const bool local = side == Side::Local;
    (local ? o.supportLocal : o.supportRemote) = true;
    Q& q = local ? o.local : o.remote;
    if (q != Q::No)
        return;
    q = Q::WantYes;
    send3(local ? WILL : DO, option);
}

bool Telnet::enabled(std::uint8_t option, Side side) const
{
    const Option& o = m_options[option];
    return (side == Side::Local ? o.local : o.remote) == Q::Yes;
}

void Telnet::feed(const std::uint8_t* bytes, std::size_t n)
{
    std::size_t i = 0;
    while (i < n) {
        if (m_state == State::Data) {
            // Hand over the whole run up to the next IAC at once.
            const void* iac = std::memchr(bytes + i, IAC, n - i);
            const std::size_t end = iac ? std::size_t(static_cast<const std::uint8_t*>(iac) - bytes) : n;
            if (end > i)
                m_host.received(bytes + i, end - i);
            if (!iac)
                return;
            m_state = State::Iac;
            i = end + 1;
            continue;
        }
        step(bytes[i++]);
    }
}

void Telnet::step(std::uint8_t b)
{
    switch (m_state) {
    case State::Data:
        if (b == IAC)
            m_state = State::Iac;
        else
            m_host.received(&b, 1);
        break;
    case State::Iac:
        afterIac(b);
        break;
    case State::Verb:
        m_state = State::Data;
        negotiate(m_verb, b);
        break;
    case State::SbOption:
        m_sb.clear();
        m_sbTooLong = false;
        if (b == IAC) {
            m_sbOption = -1;
            m_state = State::SbIac;
        } else {
            m_sbOption = b;
            m_state = State::SbData;
        }
        break;
    case State::SbData:
        if (b == IAC) {
            m_state = State::SbIac;
        } else if (m_sb.size() < kMaxSubnegotiation) {
            m_sb.push_back(b);
        } else {
            m_sbTooLong = true;
        }
        break;
    case State::SbIac:
        if (b == IAC) {
            // IAC IAC: a 255 in the payload, or IAC SB IAC IAC naming option 255.
            if (m_sbOption < 0)
                m_sbOption = IAC;
            else if (m_sb.size() < kMaxSubnegotiation)
                m_sb.push_back(IAC);
            else
                m_sbTooLong = true;
            m_state = State::SbData;
        } else if (b == SE) {
            m_state = State::Data;
            if (m_sbOption >= 0 && !m_sbTooLong)
                m_host.subnegotiation(std::uint8_t(m_sbOption), m_sb.data(), m_sb.size());
        } else {
            // A command inside a subnegotiation: the peer lost track of it
            // (a truncated SB). Drop the subnegotiation and take the command.
            afterIac(b);
        }
        break;
    }
}

void Telnet::afterIac(std::uint8_t b)
{
    m_state = State::Data;
    switch (b) {
    case IAC:
        m_host.received(&b, 1);
        break;
    case WILL:
    case WONT:
    case DO:
    case DONT:
        m_verb = b;
        m_state = State::Verb;
        break;
    case SB:
        m_state = State::SbOption;
        break;
    default:
        // SE outside a subnegotiation and bytes below 240 mean nothing.
        if (b > SE && b < SB)
            m_host.command(b);
        break;
    }
}

void Telnet::negotiate(std::uint8_t verb, std::uint8_t option)
{
    Option& o = m_options[option];
    const bool local = verb == DO || verb == DONT;
    const bool on = verb == WILL || verb == DO;
    const Side side = local ? Side::Local : Side::Remote;
    Q& q = local ? o.local : o.remote;
    const std::uint8_t yes = local ? WILL : DO;
    const std::uint8_t no = local ? WONT : DONT;

    if (on) {
        if (q == Q::Yes)
            return;
        if (q == Q::WantYes) {
            q = Q::Yes;  // the answer to our own request
            m_host.option(option, side, true);
        } else if (local ? o.supportLocal : o.supportRemote) {
            q = Q::Yes;
            send3(yes, option);
            m_host.option(option, side, true);
        } else {
            send3(no, option);
        }
        return;
    }
    if (q == Q::No)
        return;
    const bool wasOn = q == Q::Yes;
    q = Q::No;
    if (wasOn)
        send3(no, option);
    m_host.option(option, side, false);
}

void Telnet::send3(std::uint8_t verb, std::uint8_t option)
{
    const std::uint8_t msg[3] = {IAC, verb, option};
    m_host.toWire(msg, 3);
}

void Telnet::sendData(const std::uint8_t* bytes, std::size_t n)
{
    if (n == 0)
        return;
    if (!std::memchr(bytes, IAC, n)) {
        m_host.toWire(bytes, n);
        return;
    }
    m_out.clear();
    m_out.reserve(n + n / 8 + 16);
    for (std::size_t i = 0; i < n; ++i) {
        m_out.push_back(bytes[i]);
        if (bytes[i] == IAC)
            m_out.push_back(IAC);
    }
    m_host.toWire(m_out.data(), m_out.size());
}

void Telnet::sendSubnegotiation(std::uint8_t option, const std::uint8_t* payload, std::size_t n)
{
    std::vector<std::uint8_t> out{IAC, SB, option};
    if (option == IAC)
        out.push_back(IAC);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(payload[i]);
        if (payload[i] == IAC)
            out.push_back(IAC);
    }
    out.push_back(IAC);
    out.push_back(SE);
    m_host.toWire(out.data(), out.size());
}

}  // namespace rfc2217
