#include "session_rfc2217.h"

#include "session.h"

#include "kelvad_ctrl.h"
#include "qel_comm.h"
#include "rfc2217/client.h"
#include "rfc2217/server.h"
#include "serial/serial.h"
#include "winsock/socket_control.h"

#include <cstdlib>

namespace lintrel {

using qelcomm::control::CQelComm;
using rfc2217::Control;
using rfc2217::Parity;
using rfc2217::StopSize;

namespace {

constexpr const char* kSignature = "Lintrel";

char parityLetter(Parity p)
{
    switch (p) {
    case Parity::Odd: return 'o';
    case Parity::Even: return 'e';
    case Parity::Mark: return 'm';
    case Parity::Space: return 's';
    default: return 'n';
    }
}

const char* stopText(StopSize s)
{
    return s == StopSize::Two ? "2" : s == StopSize::OnePointFive ? "1.5" : "1";
}

// The serial codes (stop bits 0, 1, 2 = one, one and a half, two; parity
// none, odd, even, mark, space = 0..4) to the wire's.
StopSize wireStop(std::int32_t code)
{
    return code == 1 ? StopSize::OnePointFive : code == 2 ? StopSize::Two : StopSize::One;
}
Parity wireParity(std::int32_t code)
{
    return code >= 0 && code <= 4 ? Parity(code + 1) : Parity::None;
}

Control flowOf(std::int32_t handshaking)
{
    if (handshaking & 2)
        return Control::FlowHardware;
    return handshaking & 1 ? Control::FlowXonXoff : Control::FlowNone;
}

// The settings string's parts ("9600,n,8,1") as the wire has them.
ComPortControl::Line parseSettings(const std::string& s)
{
    ComPortControl::Line l;
    const auto c1 = s.find(',');
    l.baud = std::uint32_t(std::strtoul(s.substr(0, c1).c_str(), nullptr, 10));
    if (c1 == std::string::npos || c1 + 5 > s.size())
        return l;
    switch (s[c1 + 1]) {
    case 'o': l.parity = Parity::Odd; break;
    case 'e': l.parity = Parity::Even; break;
    case 'm': l.parity = Parity::Mark; break;
    case 's': l.parity = Parity::Space; break;
    default: break;
    }
    l.dataSize = std::uint8_t(s[c1 + 3] - '0');
    const std::string stop = s.substr(c1 + 5);
    l.stop = stop == "2" ? StopSize::Two : stop == "1.5" ? StopSize::OnePointFive : StopSize::One;
    return l;
}

}  // namespace

// One socket's codec and what it has for the socket and for the port.
class ComPortControl::Peer {
public:
    virtual ~Peer() = default;
    virtual void feed(const std::string& bytes) = 0;
    virtual void sendData(const std::string& bytes) = 0;
    virtual void setModemState(std::uint8_t) {}
    virtual void setLineState(std::uint8_t) {}
    std::string wire;   // for the socket
    std::string data;   // for the port
    bool mayWrite = true;
};

class ComPortControl::ServerPeer final : public Peer, private rfc2217::ServerHost {
public:
    ServerPeer(ComPortControl& owner, std::uint8_t lines) : m_owner(owner), m_server(*this, kSignature)
    {
        m_server.setModemState(lines);
        m_server.start();
    }
    void feed(const std::string& b) override { m_server.feed(reinterpret_cast<const std::uint8_t*>(b.data()), b.size()); }
    void sendData(const std::string& b) override
    {
        m_server.sendData(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
    }
    void setModemState(std::uint8_t lines) override { m_server.setModemState(lines); }
    void setLineState(std::uint8_t state) override { m_server.setLineState(state); }

private:
    void toWire(const std::uint8_t* b, std::size_t n) override { wire.append(reinterpret_cast<const char*>(b), n); }
    void toPort(const std::uint8_t* b, std::size_t n) override { data.append(reinterpret_cast<const char*>(b), n); }
    std::uint32_t baudRate(std::uint32_t asked) override { return m_owner.setBaud(asked, mayWrite); }
    std::uint8_t dataSize(std::uint8_t asked) override { return m_owner.setDataSize(asked, mayWrite); }
    Parity parity(Parity asked) override { return m_owner.setParity(asked, mayWrite); }
    StopSize stopSize(StopSize asked) override { return m_owner.setStop(asked, mayWrite); }
    Control control(Control asked) override { return m_owner.setControl(asked, mayWrite); }
    void purge(rfc2217::Purge what) override { m_owner.purge(what, mayWrite); }

    ComPortControl& m_owner;
    rfc2217::Server m_server;
};

class ComPortControl::ClientPeer final : public Peer, private rfc2217::ClientHost {
public:
    explicit ClientPeer(ComPortControl& owner) : m_owner(owner), m_client(*this, kSignature) { m_client.start(); }
    void feed(const std::string& b) override { m_client.feed(reinterpret_cast<const std::uint8_t*>(b.data()), b.size()); }
    void sendData(const std::string& b) override
    {
        m_client.sendData(reinterpret_cast<const std::uint8_t*>(b.data()), b.size());
    }
    rfc2217::Client& codec() { return m_client; }

    // The whole line at once, as at connect.
    void sendLine(const Line& l)
    {
        m_client.setBaudRate(l.baud);
        m_client.setDataSize(l.dataSize);
        m_client.setParity(l.parity);
        m_client.setStopSize(l.stop);
        m_client.setControl(l.flow);
    }

private:
    void toWire(const std::uint8_t* b, std::size_t n) override { wire.append(reinterpret_cast<const char*>(b), n); }
    void toProgram(const std::uint8_t* b, std::size_t n) override { data.append(reinterpret_cast<const char*>(b), n); }
    void modemState(std::uint8_t state) override { m_owner.remoteModem(state); }

    ComPortControl& m_owner;
    rfc2217::Client m_client;
};

ComPortControl::ComPortControl(Session& session) : m_s(session) {}

ComPortControl::~ComPortControl() = default;

void ComPortControl::reset()
{
    m_peers.clear();
    m_dtr = m_rts = true;
    m_break = m_ring = false;
    m_appliedModem = -1;
    // A new virtual port starts at 9600 8N1 without flow control until its
    // program says otherwise.
    m_program = Line{};
    m_programOpen = virtualPort() && m_s.Kelvad1().IsOpened();
    m_programDtr = m_programRts = true;
}

bool ComPortControl::virtualPort() const
{
    return m_s.chkVPort.checked;
}

ComPortControl::Peer* ComPortControl::peer(int index)
{
    if (index < 0)
        return nullptr;
    if (std::size_t(index) >= m_peers.size())
        m_peers.resize(std::size_t(index) + 1);
    auto& p = m_peers[std::size_t(index)];
    if (!p) {
        if (m_s.ServerMode == 1)
            p = std::make_unique<ServerPeer>(*this, modemLines());
        else
            p = std::make_unique<ClientPeer>(*this);
    }
    return p.get();
}

void ComPortControl::accepted(int index)
{
    closed(index);
    peer(index);
    flush(index);
}

void ComPortControl::connected(int index)
{
    closed(index);
    m_appliedModem = -1;   // the new server's first notification sets every line
    Peer* p = peer(index);
    if (auto* c = dynamic_cast<ClientPeer*>(p))
        c->sendLine(inForce());   // held by the codec until the server agrees
    flush(index);
}

void ComPortControl::closed(int index)
{
    if (index >= 0 && std::size_t(index) < m_peers.size())
        m_peers[std::size_t(index)].reset();
}

// The codec's bytes for the socket go out now; a client that leaves them
// unread past the bound is closed as for data (the peer may be gone after).
void ComPortControl::flush(int index)
{
    if (index < 0 || std::size_t(index) >= m_peers.size() || !m_peers[std::size_t(index)])
        return;
    std::string wire;
    wire.swap(m_peers[std::size_t(index)]->wire);
    if (wire.empty())
        return;
    lt::winsock::SocketControl& s = m_s.Winsock1(index);
    if (s.state() == lt::winsock::SockState::Connected && m_s.takesMore(index, wire.size()))
        s.sendData(wire);
}

std::string ComPortControl::fromSocket(int index, const std::string& bytes, bool mayWrite)
{
    Peer* p = peer(index);
    if (!p)
        return {};
    p->mayWrite = mayWrite;
    p->feed(bytes);
    std::string data;
    data.swap(p->data);
    flush(index);
    return data;
}

void ComPortControl::send(int index, const std::string& data)
{
    // Without a 255 the wire carries the data as it is.
    if (data.find('\xff') == std::string::npos) {
        m_s.Winsock1(index).sendData(data);
        return;
    }
    if (Peer* p = peer(index)) {
        p->sendData(data);
        flush(index);
    }
}

// ---- the port in force

ComPortControl::Line ComPortControl::inForce()
{
    if (virtualPort())
        return m_program;
    CQelComm& c = m_s.Comm1();
    serial::DCB d;
    if (c.PortOpen() && serial::GetCommState(serial::Handle(c.CommID()), &d)) {
        // What the driver took, which a refused setting did not change.
        Line l;
        l.baud = d.BaudRate;
        l.dataSize = d.ByteSize;
        l.parity = wireParity(d.Parity);
        l.stop = wireStop(d.StopBits);
        l.flow = d.fOutxCtsFlow ? Control::FlowHardware : d.fOutX ? Control::FlowXonXoff : Control::FlowNone;
        return l;
    }
    Line l = parseSettings(c.Settings());
    l.flow = flowOf(c.Handshaking());
    return l;
}

void ComPortControl::applySettings(const std::string& text)
{
    m_s.Comm1().SetSettings(text);
    settle();
}

// A refused configuration leaves the control's record holding what was
// asked: it is put back to what the port has, or the next setting would be
// refused for it too.
void ComPortControl::settle()
{
    CQelComm& c = m_s.Comm1();
    const Line l = inForce();
    const std::string actual = std::to_string(l.baud) + "," + parityLetter(l.parity) + "," +
                               std::to_string(l.dataSize) + "," + stopText(l.stop);
    if (c.PortOpen() && c.Settings() != actual)
        c.SetSettings(actual);
    keepLines();
}

// Every apply of the line settings raises DTR and RTS (the control's own
// DTR and RTS setters apply too); a client that lowered one keeps it low.
// The line itself is set, so no further apply undoes it.
void ComPortControl::keepLines()
{
    CQelComm& c = m_s.Comm1();
    if (!c.PortOpen())
        return;
    const auto h = serial::Handle(c.CommID());
    if (!m_dtr)
        serial::EscapeCommFunction(h, serial::CLRDTR);
    if (!m_rts && inForce().flow != Control::FlowHardware)
        serial::EscapeCommFunction(h, serial::CLRRTS);
}

std::uint32_t ComPortControl::setBaud(std::uint32_t asked, bool mayWrite)
{
    if (asked != 0 && mayWrite && !virtualPort() && asked != inForce().baud)
        applySettings(std::to_string(asked));
    return inForce().baud;
}

std::uint8_t ComPortControl::setDataSize(std::uint8_t asked, bool mayWrite)
{
    if (asked != 0 && mayWrite && !virtualPort() && asked != inForce().dataSize)
        applySettings(",," + std::to_string(asked));
    return inForce().dataSize;
}

Parity ComPortControl::setParity(Parity asked, bool mayWrite)
{
    if (asked != Parity::Query && mayWrite && !virtualPort() && asked != inForce().parity)
        applySettings(std::string(",") + parityLetter(asked));
    return inForce().parity;
}

StopSize ComPortControl::setStop(StopSize asked, bool mayWrite)
{
    if (asked != StopSize::Query && mayWrite && !virtualPort() && asked != inForce().stop)
        applySettings(std::string(",,,") + stopText(asked));
    return inForce().stop;
}

Control ComPortControl::setControl(Control asked, bool mayWrite)
{
    CQelComm& c = m_s.Comm1();
    const bool real = !virtualPort();
    switch (rfc2217::controlGroup(asked)) {
    case rfc2217::ControlGroup::Flow: {
        const int wanted = asked == Control::FlowNone ? 0 : asked == Control::FlowXonXoff ? 1
                         : asked == Control::FlowHardware ? 2 : -1;   // DCD and DSR flow: not offered
        if (wanted >= 0 && mayWrite && real && flowOf(wanted) != inForce().flow) {
            c.SetHandshaking(wanted);
            settle();
        }
        return inForce().flow;
    }
    case rfc2217::ControlGroup::InboundFlow: {
        // Inbound flow follows the outbound setting on these ports.
        const Control flow = inForce().flow;
        return flow == Control::FlowHardware ? Control::InboundFlowHardware
             : flow == Control::FlowXonXoff ? Control::InboundFlowXonXoff : Control::InboundFlowNone;
    }
    case rfc2217::ControlGroup::Break:
        // A virtual port has no line to hold in break.
        if ((asked == Control::BreakOn || asked == Control::BreakOff) && mayWrite && real) {
            m_break = asked == Control::BreakOn;
            c.SetBreak(m_break);
        }
        return m_break ? Control::BreakOn : Control::BreakOff;
    case rfc2217::ControlGroup::Dtr:
        if ((asked == Control::DtrOn || asked == Control::DtrOff) && mayWrite) {
            m_dtr = asked == Control::DtrOn;
            if (real) {
                c.SetDTRHolding(m_dtr);
                keepLines();
            } else {
                m_s.Kelvad1().SetDSR(m_dtr);   // the program sees our DTR as its DSR
            }
        }
        return m_dtr ? Control::DtrOn : Control::DtrOff;
    case rfc2217::ControlGroup::Rts:
        if ((asked == Control::RtsOn || asked == Control::RtsOff) && mayWrite) {
            m_rts = asked == Control::RtsOn;
            if (real) {
                c.SetRTSEnable(m_rts);
                keepLines();
            } else {
                m_s.Kelvad1().SetCTS(m_rts);   // and our RTS as its CTS
            }
        }
        return m_rts ? Control::RtsOn : Control::RtsOff;
    }
    return inForce().flow;
}

void ComPortControl::purge(rfc2217::Purge what, bool mayWrite)
{
    if (!mayWrite)
        return;
    const auto bits = std::uint8_t(what);
    if (bits & std::uint8_t(rfc2217::Purge::Receive)) {
        m_s.SerialBuffer.clear();
        if (virtualPort())
            m_s.Kelvad1().PurgeQueue();
        else
            m_s.Comm1().SetInBufferCount(0);
    }
    if (bits & std::uint8_t(rfc2217::Purge::Transmit)) {
        m_s.TcpBuffer.clear();
        if (!virtualPort())
            m_s.Comm1().SetOutBufferCount(0);
    }
}

// ---- modem lines and line state for the clients (server role)

std::uint8_t ComPortControl::modemLines()
{
    namespace modem = rfc2217::modem;
    if (virtualPort()) {
        // Null-modem wiring: the program's DTR is our DSR and CD, its RTS our CTS.
        if (!m_programOpen)
            return 0;
        return std::uint8_t((m_programDtr ? modem::Dsr | modem::Cd : 0) | (m_programRts ? modem::Cts : 0));
    }
    CQelComm& c = m_s.Comm1();
    if (!c.PortOpen())
        return 0;
    return std::uint8_t((c.CTSHolding() ? modem::Cts : 0) | (c.DSRHolding() ? modem::Dsr : 0) |
                        (c.CDHolding() ? modem::Cd : 0) | (m_ring ? modem::Ring : 0));
}

void ComPortControl::notifyModem()
{
    if (m_s.ServerMode != 1)
        return;
    bool any = false;
    for (const auto& p : m_peers)
        any = any || p;
    if (!any)
        return;
    const std::uint8_t lines = modemLines();
    for (std::size_t i = 0; i < m_peers.size(); ++i)
        if (m_peers[i]) {
            m_peers[i]->setModemState(lines);
            flush(int(i));
        }
}

void ComPortControl::tick()
{
    notifyModem();
}

void ComPortControl::commEvent(std::int32_t code)
{
    namespace line = rfc2217::line;
    using namespace qelcomm::control;
    std::uint8_t state = 0;
    switch (code) {
    case Event_Cts: case Event_Dsr: case Event_Carrier:
        notifyModem();
        return;
    case Event_Ring:
        // One ring: the line up, then its trailing edge.
        m_ring = true;
        notifyModem();
        m_ring = false;
        notifyModem();
        return;
    case Error_Break: state = line::BreakDetect; break;
    case Error_FrameError: state = line::FramingError; break;
    case Error_Parity: state = line::ParityError; break;
    case Error_DataOverrun: case Error_ReceiveBufferOverflow: state = line::Overrun; break;
    default: return;
    }
    if (m_s.ServerMode != 1)
        return;
    for (std::size_t i = 0; i < m_peers.size(); ++i)
        if (m_peers[i]) {
            m_peers[i]->setLineState(state);
            flush(int(i));
        }
}

// ---- the program on the virtual port (client role: on to the remote port)

ComPortControl::ClientPeer* ComPortControl::remote()
{
    if (m_s.ServerMode == 1 || m_peers.empty())
        return nullptr;
    return dynamic_cast<ClientPeer*>(m_peers[0].get());
}

void ComPortControl::programBaud(std::uint32_t baud)
{
    m_program.baud = baud;
    if (ClientPeer* c = remote()) {
        c->codec().setBaudRate(baud);
        flush(0);
    }
}

void ComPortControl::programLine(std::int32_t stopBits, std::int32_t parity, std::int32_t wordLength)
{
    const Line old = m_program;
    if (wordLength >= 5 && wordLength <= 8)
        m_program.dataSize = std::uint8_t(wordLength);
    m_program.parity = wireParity(parity);
    m_program.stop = wireStop(stopBits);
    ClientPeer* c = remote();
    if (!c)
        return;
    if (m_program.dataSize != old.dataSize)
        c->codec().setDataSize(m_program.dataSize);
    if (m_program.parity != old.parity)
        c->codec().setParity(m_program.parity);
    if (m_program.stop != old.stop)
        c->codec().setStopSize(m_program.stop);
    flush(0);
}

void ComPortControl::programHandflow(std::int32_t controlHandShake, std::int32_t flowReplace)
{
    const Control flow = (controlHandShake & kvd::SERIAL_CTS_HANDSHAKE) ? Control::FlowHardware
                       : (flowReplace & (kvd::SERIAL_AUTO_TRANSMIT | kvd::SERIAL_AUTO_RECEIVE)) ? Control::FlowXonXoff
                       : Control::FlowNone;
    if (flow == m_program.flow)
        return;
    m_program.flow = flow;
    if (ClientPeer* c = remote()) {
        c->codec().setControl(flow);
        flush(0);
    }
}

void ComPortControl::programDtr(bool on)
{
    m_programDtr = on;
    notifyModem();
    if (ClientPeer* c = remote()) {
        c->codec().setControl(on ? Control::DtrOn : Control::DtrOff);
        flush(0);
    }
}

void ComPortControl::programRts(bool on)
{
    m_programRts = on;
    notifyModem();
    if (ClientPeer* c = remote()) {
        c->codec().setControl(on ? Control::RtsOn : Control::RtsOff);
        flush(0);
    }
}

void ComPortControl::programOpen(bool opened)
{
    m_programOpen = opened;
    m_programDtr = m_programRts = true;   // opening raises both
    notifyModem();
}

void ComPortControl::remoteModem(std::uint8_t state)
{
    namespace modem = rfc2217::modem;
    if (!virtualPort())
        return;   // a real port's input lines are the device's
    const int lines = state & modem::Lines;
    const int changed = m_appliedModem < 0 ? modem::Lines : (lines ^ m_appliedModem);
    m_appliedModem = lines;
    CKelvadCtrl& k = m_s.Kelvad1();
    if (changed & modem::Cts)
        k.SetCTS(lines & modem::Cts);
    if (changed & modem::Dsr)
        k.SetDSR(lines & modem::Dsr);
    if (changed & modem::Cd)
        k.SetDCD(lines & modem::Cd);
    if (changed & modem::Ring)
        k.SetRING(lines & modem::Ring);
}

}  // namespace lintrel

namespace lintrel {

// The program's settings matter to a session only with RFC 2217: they are
// what its clients are told, or what goes on to the remote port.
void Session::Kelvad1_OnBaudRate(std::int32_t baudRate)
{
    if (Rfc2217Active && baudRate > 0)
        m_comPort->programBaud(std::uint32_t(baudRate));
}

void Session::Kelvad1_OnLineControl(std::int32_t stopBits, std::int32_t parity, std::int32_t wordLength)
{
    if (Rfc2217Active)
        m_comPort->programLine(stopBits, parity, wordLength);
}

void Session::Kelvad1_OnHandflow(std::int32_t controlHandShake, std::int32_t flowReplace)
{
    if (Rfc2217Active)
        m_comPort->programHandflow(controlHandShake, flowReplace);
}

void Session::Kelvad1_OnDTR(bool on)
{
    if (Rfc2217Active)
        m_comPort->programDtr(on);
}

void Session::Kelvad1_OnRTS(bool on)
{
    if (Rfc2217Active)
        m_comPort->programRts(on);
}

}  // namespace lintrel
