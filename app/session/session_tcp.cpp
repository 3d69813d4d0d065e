// The TCP side of a session: the socket table, the client-role connection,
// received TCP bytes with their routing and the break marker, the close
// handling and socket errors, the reconnect timer.
#include "session.h"

#include "global_options.h"
#include "number_text.h"
#include "session_rfc2217.h"

#include "qel_comm.h"
#include "winsock/socket_control.h"
#include "net/echo.h"
#include "win/win.h"

#include <algorithm>

namespace lintrel {

using lt::winsock::SockState;
using lt::winsock::SocketControl;

std::unique_ptr<SocketControl> Session::newSocket(int index)
{
    auto s = std::make_unique<SocketControl>();
    s->noDelay = LowLatencyActive;
    s->events.connectionRequest = [this, index](long id) { Winsock1_ConnectionRequest(index, id); };
    s->events.dataArrival = [this, index](long) { Winsock1_DataArrival(index); };
    s->events.connect = [this, index] { Winsock1_Connect(index); };
    s->events.close = [this, index] { Winsock1_Close(index); };
    s->events.error = [this, index](int number, const std::string& d) {
        Winsock1_Error(index, std::int16_t(number), d);
    };
    return s;
}

// With low latency the port is written as bytes arrive, so little needs to
// wait here: the rest stays in the socket, where TCP holds the peer back.
std::size_t Session::tcpBound()
{
    if (!LowLatencyActive)
        return kBufferBound;
    const std::int32_t out = Comm1().OutBufferSize();
    return std::max<std::size_t>(std::size_t(std::max(out, 0)), 65536);
}

bool Session::anyConnected()
{
    for (int i = 0; i <= HighSocketIndex; ++i)
        if (Winsock1(i).state() == SockState::Connected)
            return true;
    return false;
}

void Session::Winsock1_ConnectionRequest(int /*index*/, long requestId)
{
    if (AllowMultiConnect == 0 && ClientCount != 0)
        return;
    if (ServerMode != 1)
        return;
    ++ClientCount;

    int slot = 0;
    for (int i = 1; i <= HighSocketIndex; ++i)
        if (int(Winsock1(i).state()) <= 0) {
            slot = i;
            break;
        }
    if (slot == 0) {
        if (HighSocketIndex >= 32767)
            return;   // the element index is 16-bit; no room for another client
        slot = ++HighSocketIndex;
        m_sockets.push_back(newSocket(slot));
    }
    Winsock1(slot).localPort = Winsock1(0).localPort;
    if (!Winsock1(slot).accept(requestId).failed()) {
        clientOpened(slot);
        if (Rfc2217Active)
            m_comPort->accepted(slot);
    }
    StatusBar1[1].text = "TCP/IP Status: (" + std::to_string(ClientCount) + ") Connected";
    notify();
}

void Session::Winsock1_DataArrival(int index)
{
    PingIdleTicks = 0;
    Shape1[1].fillColor = IndicatorField::kRed;
    std::string bytes;
    const std::size_t bound = tcpBound();
    const std::size_t room = bound - std::min(TcpBuffer.size(), bound);
    if (room == 0 || Winsock1(index).bytesReceived() > long(room)) {
        // Past the bound the rest stays in the socket until the tick has
        // written some of TcpBuffer out.
        if (std::find(m_heldSockets.begin(), m_heldSockets.end(), index) == m_heldSockets.end())
            m_heldSockets.push_back(index);
        if (room == 0)
            return;
    }
    Winsock1(index).getData(bytes, long(room));
    m_counters.takenFrom(index, bytes.size());
    notify();

    bool dropped = (ServerMode == 1 && ServerTCPOptions == 1) || (ServerMode != 1 && ClientOptions == 1);
    if (!dropped && ServerMode == 1 && ServerTCPOptions == 2) {
        int first = 0;
        for (int i = 1; i <= HighSocketIndex; ++i)
            if (Winsock1(i).state() == SockState::Connected) {
                first = i;
                break;
            }
        dropped = first == 0 || index != first;
    }
    // With RFC 2217 the commands are answered whatever the routing does
    // with the data, and a break is a command, never a marker in the data.
    if (Rfc2217Active)
        bytes = m_comPort->fromSocket(index, bytes, !dropped);
    if (dropped)
        return;
    if (m_tap && !bytes.empty())
        tapToSerial(index, bytes);
    if (!Rfc2217Active && bytes == BreakMarker) {
        // A 400 ms break on the line; the whole process waits, as the
        // break must be one unbroken condition on the wire.
        Comm1().SetBreak(true);
        const std::uint32_t until = win::tickCount() + 400;
        while (!win::tickReached(win::tickCount(), until))
            win::sleepMs(1);
        Comm1().SetBreak(false);
        return;
    }
    TcpBuffer += bytes;
    // Low latency: to the port now, as far as its output queue has room;
    // the rest goes when the port reports room (or at the next tick).
    if (LowLatencyActive)
        writeTcpToSerial();
}

void Session::takeHeldSockets()
{
    if (m_heldSockets.empty() || TcpBuffer.size() >= tcpBound())
        return;
    std::vector<int> held;
    held.swap(m_heldSockets);
    for (int index : held)
        if (Winsock1(index).bytesReceived() > 0)
            Winsock1_DataArrival(index);
}

void Session::Winsock1_Connect(int index)
{
    clientOpened(index);
    Timer1.setEnabled(false);
    if (Rfc2217Active)
        m_comPort->connected(index);
    StatusBar1[1].text = "TCP/IP Status: Connected";
    notify();
}

void Session::Winsock1_Close(int index)
{
    closeHandling(index);
}

void Session::closeHandling(int index)
{
    if (InClose)
        return;
    InClose = true;
    clientClosed(index);
    Winsock1(index).close();
    m_comPort->closed(index);
    if (--ClientCount < 0)
        ClientCount = 0;
    if (ServerMode != 1) {
        StatusBar1[1].text = "TCP/IP Status: Closed";
        Timer1.setEnabled(true);
    } else if (ClientCount != 0) {
        StatusBar1[1].text = "TCP/IP Status: (" + std::to_string(ClientCount) + ") Connected";
    } else {
        StatusBar1[1].text = "TCP/IP Status: Listening";
    }
    InClose = false;
    notify();
}

void Session::Winsock1_Error(int index, std::int16_t number, const std::string& description)
{
    StatusBar1[1].text = "TCP/IP Status: Error";
    notify();
    LogErrors(description);
    if (number > 10000)
        closeHandling(index);
    showTlsFailure(number, description);
}

// A program opened or closed the virtual port: in the client role with
// connect-on-open, the TCP connection follows it.  Closing here raises no
// close event, so no reconnect timer starts.
void Session::Kelvad1_OnOpenClose(bool opened)
{
    if (Rfc2217Active)
        m_comPort->programOpen(opened);
    if (ConnectOnVirtualOpen == 0 || !chkVPort.checked || ServerMode != 0)
        return;
    SocketControl& s0 = Winsock1(0);
    if (opened) {
        StatusBar1[1].text = "TCP/IP Status: Connecting...";
        notify();
        if (s0.state() != SockState::Connected)
            s0.connect();   // refused while an attempt is under way: that one goes on
    } else {
        StatusBar1[1].text = "TCP/IP Status: Closed";
        notify();
        if (s0.state() == SockState::Connected) {
            clientClosed(0);
            s0.close();
        }
    }
}

// Connection monitoring: every so many idle ticks, each connected peer must
// answer an ICMP echo; one that does not is closed and logged.
void Session::monitorConnections()
{
    if (!GlobalOptions.PingEnabled || m_pingUnavailable)
        return;
    // A tick of the idle pace stands for as many 50 ms ticks as it lasts.
    PingIdleTicks += std::max(1, Timer2.interval() / 50);
    if (PingIdleTicks < 91 * (GlobalOptions.PingFrequency + 1))
        return;
    PingIdleTicks = 0;
    if (!anyConnected())
        return;
    // Without permission to send an echo every peer would fail the check
    // and be closed although nothing is wrong with it: monitoring stays off
    // for this activation, and the reason is told once.
    if (const std::string why = lt::net::EchoUnavailable(); !why.empty()) {
        m_pingUnavailable = true;
        StatusBar1[1].text = "TCP/IP Status: Ping monitoring off - " + why;
        notify();
        LogErrors("Ping monitoring off - " + why);
        return;
    }
    for (int i = 0; i <= HighSocketIndex; ++i) {
        if (Winsock1(i).state() != SockState::Connected)
            continue;
        const std::int32_t result = lt::net::PingPeer(Winsock1(i).remoteHostIP());
        if (result != 0) {
            closeHandling(i);
            LogErrors("Ping Failed - Ping Result = " + lt::net::EchoStatusText(result));
        }
    }
}

void Session::Timer1_Timer()
{
    SocketControl& s = Winsock1(0);
    s.remoteHost = IPAddress.text;
    s.remotePort = roundedValue(numericValue(PortNumber.text));
    StatusBar1[1].text = "TCP/IP Status: Connecting...";
    notify();
    const lt::winsock::SockError e = s.connect();
    if (e.failed()) {
        s.close();
        s.remoteHost.clear();
        s.remotePort = 0;
        StatusBar1[1].text = "TCP/IP Status: Error - " + e.description;
        notify();
        LogErrors(e.description);
    }
}

}  // namespace lintrel
