// The serial side of a session: bytes from the real port (OnComm of Comm1)
// or the virtual port (OnRxChar of Kelvad1) into SerialBuffer and on to the
// connected sockets, whole or in packets, and the time-out flush.
#include "session.h"
#include "session_sinks.h"

#include "global_options.h"
#include "number_text.h"
#include "session_rfc2217.h"

#include "kelvad_ctrl.h"
#include "qel_comm.h"
#include "winsock/socket_control.h"

#include <algorithm>
#include <vector>

namespace lintrel {

using lt::winsock::SockState;
using qelcomm::control::CQelComm;

void Session::createComm()
{
    m_comm = std::make_unique<CQelComm>();
    CQelComm& c = *m_comm;
    c.SetRThreshold(1);
    c.SetSThreshold(0);
    c.SetInputLen(0);
    c.SetAutoProcess(2);
    c.SetRTSEnable(false);
    c.SetNullDiscard(false);
    c.SetParityReplace("");
    // Terminal members are reached through the member table.
    c.Dispatch().put(qelcomm::control::MemberId::Echo, lt::automation::Variant::fromBool(false));
    c.SetIgnoreOnComm(false);
    c.Dispatch().put(qelcomm::control::MemberId::Emulation, lt::automation::Variant(std::int32_t(0)));
    c.SetCommPort(1);
    c.SetSettings("9600,n,8,1");
    c.SetHandshaking(2);
    c.SetInBufferSize(524288);
    c.SetOutBufferSize(524288);
    c.SetCommSpy(false);
    m_commSink = std::make_unique<CommSink>(*this);
    c.Events().connect(m_commSink.get());
}

void Session::connectKelvad()
{
    m_kelvadSink = std::make_unique<KelvadSink>(*this);
    m_kelvad->connectionPoint().connect(m_kelvadSink.get());
}

bool Session::serialInputDropped() const
{
    return (ServerMode == 1 && ServerSerialOptions == 1) || (ServerMode != 1 && ClientOptions == 2);
}

// A peer whose unread bytes would pass the bound is closed and logged,
// and the others go on.
bool Session::takesMore(int index, std::size_t bytes)
{
    const std::int64_t limit = GlobalOptions.ClientQueueLimit;
    lt::winsock::SocketControl& s = Winsock1(index);
    if (limit <= 0 || std::int64_t(s.bytesToSend()) + std::int64_t(bytes) <= limit)
        return true;
    const std::string who = s.remoteHostIP() + ":" + std::to_string(s.remotePort);
    closeHandling(index);
    LogErrors("client " + who + " closed: not reading");
    return false;
}

bool Session::sendToClients(const std::string& bytes)
{
    int peers = 0, last = 0;
    for (int i = 0; i <= HighSocketIndex; ++i) {
        if (Winsock1(i).state() != SockState::Connected || !takesMore(i, bytes.size()))
            continue;
        if (Rfc2217Active)
            m_comPort->send(i, bytes);
        else
            Winsock1(i).sendData(bytes);
        m_counters.sentTo(i, bytes.size());
        ++peers;
        last = i;
        if (ServerMode == 1 && ServerSerialOptions == 2)
            break;
    }
    if (m_tap && peers)
        tapToTcp(peers, last, bytes);
    return peers > 0;
}

namespace {

int packetSize()
{
    // The options dialog keeps the value in range; a hand-edited file may
    // not, and a packet of 0 bytes would never let the cutting loop end.
    const int n = GlobalOptions.PacketSize;
    return n >= 1 && n <= 10000 ? n : 2000;
}

}  // namespace

void Session::Comm1_OnComm()
{
    CQelComm& c = Comm1();
    const std::int32_t code = c.CommEvent();
    if (Rfc2217Active)
        m_comPort->commEvent(code);
    if (code == qelcomm::control::Error_DeviceRemoved) {
        deviceRemoved();
        return;
    }
    // Low latency: the send event means room in the output queue.
    if (code == qelcomm::control::Event_Send && LowLatencyActive) {
        if (!TcpBuffer.empty())
            writeTcpToSerial();
        takeHeldSockets();
        notify();
        return;
    }
    Shape1[0].fillColor = IndicatorField::kRed;
    notify();
    if (serialInputDropped()) {
        std::string discard;
        while (c.InBufferCount() >= 1) {
            if (c.Input(discard).failed())
                break;
            m_counters.serialIn += discard.size();
        }
        return;
    }
    if (c.CommEvent() != qelcomm::control::Event_Receive)
        return;

    std::string chunk;
    if (!WaitForCr.checked) {
        while (c.InBufferCount() >= 1 && SerialBuffer.size() < kBufferBound) {
            if (c.Input(chunk).failed())
                break;   // the guard or a closed port: nothing more to read now
            m_counters.serialIn += chunk.size();
            SerialBuffer += chunk;
        }
        if (BufferSerData.checked && !anyConnected())
            return;
        if (SerialBuffer.empty())
            return;
        sendToClients(SerialBuffer);
        SerialBuffer.clear();
        return;
    }

    const std::size_t size = std::size_t(packetSize());
    while (c.InBufferCount() >= 1 && SerialBuffer.size() < kBufferBound) {
        chunk.clear();
        if (c.Input(chunk).failed() && chunk.empty())
            break;   // a read that fails and brings nothing would repeat forever
        m_counters.serialIn += chunk.size();
        SerialBuffer += chunk;
        if (!BufferSerData.checked || anyConnected()) {
            while (SerialBuffer.size() >= size) {
                sendToClients(SerialBuffer.substr(0, size));
                SerialBuffer.erase(0, size);
            }
        }
    }
    TimeoutTicks = 0;
}

void Session::Kelvad1_OnRxChar(std::int32_t /*count*/)
{
    CKelvadCtrl& k = Kelvad1();
    Shape1[0].fillColor = IndicatorField::kRed;
    notify();
    if (serialInputDropped()) {
        m_counters.serialIn += std::uint64_t(std::max(0, k.GetInCount()));
        k.PurgeQueue();
        return;
    }

    auto readOnce = [&] {
        const std::int32_t n = k.GetInCount();
        if (n <= 0)
            return false;
        std::vector<std::uint8_t> buf(static_cast<std::size_t>(n));
        const std::int32_t got = k.Read(buf.data(), n);
        if (got <= 0)
            return false;
        m_counters.serialIn += std::uint64_t(got);
        SerialBuffer.append(reinterpret_cast<const char*>(buf.data()), std::size_t(got));
        return true;
    };

    if (!WaitForCr.checked) {
        while (k.GetInCount() >= 1 && readOnce()) {
        }
        if (!SerialBuffer.empty())
            sendToClients(SerialBuffer);
        SerialBuffer.clear();
        return;
    }

    const std::size_t size = std::size_t(packetSize());
    while (k.GetInCount() > 0 && readOnce()) {
        while (SerialBuffer.size() >= size) {
            sendToClients(SerialBuffer.substr(0, size));
            SerialBuffer.erase(0, size);
        }
    }
    TimeoutTicks = 0;
}

void Session::timeoutFlush()
{
    ++TimeoutTicks;
    if (double(TimeoutTicks) * 50 <= numericValue(txtTimeoutValue.text))
        return;
    const bool sent = sendToClients(SerialBuffer);
    if (!BufferSerData.checked || sent)
        SerialBuffer.clear();
    TimeoutTicks = 0;
}

void Session::writeTcpToSerial()
{
    if (chkVPort.checked) {
        CKelvadCtrl& k = Kelvad1();
        if (!k.IsOpened()) {
            TcpBuffer.clear();
            return;
        }
        const std::int32_t n = std::int32_t(TcpBuffer.size());
        const std::int32_t written =
            k.Write(reinterpret_cast<const std::uint8_t*>(TcpBuffer.data()), n);
        if (written > 0) {
            TcpBuffer.erase(0, std::size_t(std::min(written, n)));
            m_counters.serialOut += std::uint64_t(std::min(written, n));
        }
        return;
    }
    CQelComm& c = Comm1();
    // With low latency the write goes on while the queue has room: bytes the
    // device takes at once leave room behind them, and a queue that fills
    // up reports room again as it drains.  Otherwise one write a tick.
    // What was written leaves TcpBuffer once, at the end.
    std::size_t written = 0;
    do {
        if (!c.PortOpen())
            break;
        const std::int32_t room = c.OutBufferSize() - c.OutBufferCount();
        if (room <= 0)
            break;
        const std::size_t n = std::min(TcpBuffer.size() - written, std::size_t(room));
        const bool whole = written == 0 && n == TcpBuffer.size();
        if (c.Output(whole ? TcpBuffer : TcpBuffer.substr(written, n)).failed())
            break;
        written += n;
    } while (LowLatencyActive && written < TcpBuffer.size());
    m_counters.serialOut += written;
    if (written == TcpBuffer.size())
        TcpBuffer.clear();
    else
        TcpBuffer.erase(0, written);
}

// Something the 50 ms tick still has to do: indicators to turn green,
// bytes waiting either way, sockets held back at the buffer bound.
bool Session::busy() const
{
    return Shape1[0].fillColor != IndicatorField::kGreen || Shape1[1].fillColor != IndicatorField::kGreen ||
           !SerialBuffer.empty() || !TcpBuffer.empty() || !m_heldSockets.empty();
}

// With low latency the data moves in the events themselves; while nothing
// waits, the tick slows to once a second (reconnects, monitoring and the
// like keep running), so idle sessions cost next to nothing.
void Session::paceTimer2()
{
    Timer2.setInterval(LowLatencyActive && !busy() ? kIdleTickMs : kTickMs);
}

void Session::Timer2_Timer()
{
    if (++LedTicks >= 3) {
        Shape1[0].fillColor = IndicatorField::kGreen;
        Shape1[1].fillColor = IndicatorField::kGreen;
        LedTicks = 0;
    }
    if (!TcpBuffer.empty())
        writeTcpToSerial();
    takeHeldSockets();
    if (Rfc2217Active)
        m_comPort->tick();
    if (!SerialBuffer.empty())
        timeoutFlush();
    else
        monitorConnections();
    notify();
}

}  // namespace lintrel
