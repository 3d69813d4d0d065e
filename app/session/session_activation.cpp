// Activation and deactivation of a session (the Activate / De-Activate
// button), with the serial and the TCP error handling of activation.
#include "session.h"

#include "global_options.h"
#include "number_text.h"
#include "session_rfc2217.h"

#include "kelvad_ctrl.h"
#include "qel_comm.h"
#include "winsock/socket_control.h"

#include <algorithm>

namespace lintrel {

using qelcomm::control::CQelComm;

void Session::Command1_Click()
{
    PingIdleTicks = 0;
    m_pingUnavailable = false;
    Timer1.setEnabled(false);
    ReopenTimer.setEnabled(false);
    if (isActive()) {
        deactivate();
    } else {
        resetCounters();
        activate();
    }
    notify();
}

// Serial error handling: close the port again and show the error.
void Session::serialError(const std::string& description)
{
    CQelComm& c = Comm1();
    if (c.PortOpen())
        c.SetPortOpen(false);
    StatusBar1[0].text = "COM Status: Error - " + description;
    ++m_counters.errors;
}

// TCP error handling.  Returns false when the activation must end here (a
// virtual port that could not be deleted).
bool Session::tcpError(const std::string& description)
{
    auto& s0 = Winsock1(0);
    s0.close();
    s0.remoteHost.clear();
    s0.remotePort = 0;
    StatusBar1[1].text = "TCP/IP Status: Error - " + description;
    ++m_counters.errors;
    if (chkVPort.checked) {
        if (!Kelvad1().Delete()) {
            StatusBar1[0].text = "Virtual port not closed";
            return false;
        }
        StatusBar1[0].text = "Virtual port closed";
    } else {
        if (Comm1().PortOpen())
            Comm1().SetPortOpen(false);
        StatusBar1[0].text = "COM Status: Closed";
    }
    return true;
}

bool Session::openSerialSide()
{
    const std::string name = "COM" + std::to_string(PortIndex);
    if (chkVPort.checked) {
        CKelvadCtrl& k = Kelvad1();
        k.Delete();
        if (!k.CreatePort(name)) {
            StatusBar1[0].text = "Cannot create virtual " + name;
            return false;
        }
        k.SetDCD(true);
        StatusBar1[0].text = "Virtual Port " + name + " created";
        return true;
    }

    CQelComm& c = Comm1();
    if (c.PortOpen())
        c.SetPortOpen(false);
    // Each failing step shows its error and the next step still runs; the
    // open check at the end decides.
    auto step = [this](const lt::automation::ErrorInfo& e) {
        if (e.failed())
            serialError(e.description);
    };
    step(c.SetCommPort(PortIndex));
    const std::string parity = Combo1[1].text().substr(0, 1);
    step(c.SetSettings(Combo1[0].text() + "," + parity + "," + Combo1[2].text() + "," +
                       Combo1[3].text()));
    const int flow = Combo1[4].index;
    if (flow == 3) {
        step(c.SetHandshaking(2));
        step(c.SetDTRHolding(false));
    } else {
        step(c.SetDTRHolding(true));
        step(c.SetHandshaking(flow < 0 ? 0 : flow));
    }
    const std::int32_t size = roundedValue(numericValue(Combo1[5].text()));
    step(c.SetInBufferSize(size));
    step(c.SetOutBufferSize(size));
    step(c.SetPortOpen(true));
    if (!c.PortOpen()) {
        StatusBar1[0].text = "COM Status: Error - Port not available";
        return false;
    }
    StatusBar1[0].text = "COM Status: Open";
    return true;
}

bool Session::activate()
{
    if (IPAddress.visible && IPAddress.text.empty()) {
        StatusBar1[1].text = "TCP/IP Status: Error - Invalid IP Address";
        return false;
    }
    const double port = numericValue(PortNumber.text);
    if (port < 0 || port > 65535) {
        StatusBar1[1].text = "TCP/IP Status: Error - Invalid Port Number";
        return false;
    }
    PortIndex = std::int16_t(Combo2.index < 0 ? 0 : Combo2.index);
    if (PortIndex == 0) {
        Caption = kNewCaption;
        StatusBar1[0].text = "COM Status:";
        StatusBar1[1].text = "TCP/IP Status:";
        return false;
    }
    if (!prepareSecurity())
        return false;
    applyLowLatency(LowLatency.checked);
    if (!openSerialSide()) {
        applyLowLatency(false);
        return false;
    }

    auto& s0 = Winsock1(0);
    s0.close();
    Rfc2217Active = Rfc2217.checked;
    m_comPort->reset();
    if (TCPOption[0].value) {
        ServerMode = 0;
        s0.remoteHost = IPAddress.text;
        s0.remotePort = roundedValue(port);
        if (!(ConnectOnVirtualOpen != 0 && chkVPort.checked)) {
            StatusBar1[1].text = "TCP/IP Status: Connecting...";
            const auto e = s0.connect();
            if (e.failed() && !tcpError(e.description))
                return false;
        }
    } else {
        ServerMode = 1;
        s0.localPort = roundedValue(port);
        // The listener takes exactly the address asked for or nothing: after
        // a failed Bind, Listen would open the port on every interface.
        const auto b = s0.bind(roundedValue(port), LocalIP.text());
        if (b.failed()) {
            if (!tcpError(b.description))
                return false;
        } else if (const auto l = s0.listen(); l.failed()) {
            if (!tcpError(l.description))
                return false;
        } else {
            StatusBar1[1].text = "TCP/IP Status: Listening...";
        }
    }

    Caption = Combo2.text() + kCaptionSuffix;
    setSettingsEnabled(false);
    Command1.text = "De-Activate";
    return true;
}

void Session::deactivate()
{
    if (chkVPort.checked) {
        if (!Kelvad1().Delete()) {
            StatusBar1[0].text = "Virtual port not closed";
            return;
        }
        StatusBar1[0].text = "Virtual port closed";
    } else {
        if (Comm1().PortOpen())
            Comm1().SetPortOpen(false);
        StatusBar1[0].text = "COM Status: Closed";
    }
    for (int i = 0; i <= HighSocketIndex; ++i) {
        clientClosed(i);
        Winsock1(i).close();
        Winsock1(i).localPort = 0;
    }
    ClientCount = 0;
    StatusBar1[1].text = "TCP/IP Status: Closed";
    Rfc2217Active = false;
    m_comPort->reset();
    applyLowLatency(false);
    setSettingsEnabled(true);
    Command1.text = "Activate";
}

// The real port's device went away (unplugged): the engine has closed the
// port. The TCP side stays as it is; the same port with the same settings
// is tried again every 5 s.
void Session::deviceRemoved()
{
    StatusBar1[0].text = "COM Status: Error - Device removed";
    LogErrors("Device removed - " + Combo2.text());
    ReopenTimer.setEnabled(isActive() && !chkVPort.checked);
    notify();
}

void Session::reopenPort()
{
    CQelComm& c = Comm1();
    if (!isActive() || chkVPort.checked || c.PortOpen()) {
        ReopenTimer.setEnabled(false);
        return;
    }
    c.SetPortOpen(true);
    if (!c.PortOpen())
        return;
    ReopenTimer.setEnabled(false);
    StatusBar1[0].text = "COM Status: Open";
    notify();
}

// Low latency: the port wakes the session when bytes arrive and when its
// output queue has room again (the send event at half the queue), and small
// TCP segments leave at once.
void Session::applyLowLatency(bool on)
{
    LowLatencyActive = on;
    CQelComm& c = Comm1();
    c.SetWakeOnData(on);
    const std::int32_t size = roundedValue(numericValue(Combo1[5].text()));
    c.SetSThreshold(on ? std::max<std::int32_t>(1, size / 2) : 0);
    for (int i = 0; i < socketCount(); ++i)
        Winsock1(i).noDelay = on;
    paceTimer2();
}

}  // namespace lintrel
