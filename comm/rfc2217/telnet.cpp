#include "telnet.h"

#include <algorithm>
#include <cstring>
#include <utility>

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
            // A run without IAC goes to the host as it is.
            if (m_inLen == 0 && !std::memchr(bytes + i, IAC, n - i)) {
                m_host.received(bytes + i, n - i);
                return;
            }
            i = gather(bytes, i, n);
            if (i >= n)
                break;
            flushReceived();
            m_state = State::Iac;
            ++i;
            continue;
        }
        step(bytes[i++]);
    }
    flushReceived();
}

// Copies data from bytes[i, n) into m_in with doubled 255s undone, up to the
// IAC of a command (or an IAC that is the last byte); returns where it
// stopped. Runs between 255s are block copies; where 255s come close
// together a byte loop is quicker, for a stretch.
std::size_t Telnet::gather(const std::uint8_t* bytes, std::size_t i, std::size_t n)
{
    if (m_in.size() < m_inLen + (n - i))
        m_in.resize(m_inLen + (n - i));
    std::uint8_t* o = m_in.data() + m_inLen;
    const std::uint8_t* p = bytes + i;
    const std::uint8_t* const end = bytes + n;
    auto doubled = [&] { return p + 1 < end && p[1] == IAC; };
    while (p < end) {
        const auto* iac = static_cast<const std::uint8_t*>(std::memchr(p, IAC, std::size_t(end - p)));
        if (!iac) {
            std::memcpy(o, p, std::size_t(end - p));
            o += end - p;
            p = end;
            break;
        }
        const std::size_t run = std::size_t(iac - p);
        std::memcpy(o, p, run);
        o += run;
        p = iac;
        if (!doubled())
            break;
        *o++ = IAC;
        p += 2;
        if (run >= kDenseRun)
            continue;
        const std::uint8_t* const stop = p + std::min<std::size_t>(std::size_t(end - p), kDenseStretch);
        while (p < stop && (*p != IAC || doubled())) {
            *o++ = *p;
            p += *p == IAC ? 2 : 1;
        }
        if (p < end && *p == IAC && !doubled())
            break;
    }
    m_inLen = std::size_t(o - m_in.data());
    return std::size_t(p - bytes);
}

void Telnet::flushReceived()
{
    if (m_inLen == 0)
        return;
    const std::size_t n = std::exchange(m_inLen, 0);
    m_host.received(m_in.data(), n);
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
    if (m_out.size() < 2 * n)
        m_out.resize(2 * n);
    std::uint8_t* o = m_out.data();
    const std::uint8_t* p = bytes;
    const std::uint8_t* const end = bytes + n;
    // As in gather: block copies between sparse 255s, a byte loop among dense ones.
    while (p < end) {
        const auto* iac = static_cast<const std::uint8_t*>(std::memchr(p, IAC, std::size_t(end - p)));
        if (!iac) {
            std::memcpy(o, p, std::size_t(end - p));
            o += end - p;
            break;
        }
        const std::size_t run = std::size_t(iac + 1 - p);
        std::memcpy(o, p, run);
        o += run;
        *o++ = IAC;
        p = iac + 1;
        if (run > kDenseRun)
            continue;
        const std::uint8_t* const stop = p + std::min<std::size_t>(std::size_t(end - p), kDenseStretch);
        while (p < stop) {
            const std::uint8_t c = *p++;
            *o++ = c;
            if (c == IAC)
                *o++ = IAC;
        }
    }
    m_host.toWire(m_out.data(), std::size_t(o - m_out.data()));
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
