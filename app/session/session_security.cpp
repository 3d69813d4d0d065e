// The allow-list and TLS of a session: checked and handed to the listener
// or the client socket at activation, refused clients counted and logged,
// and "(TLS)" beside the connection state.
#include "session.h"

#include "win/win.h"
#include "winsock/socket_control.h"
#include "winsock/tls_context.h"

namespace lintrel {

SecurityFields::SecurityFields()
{
    Tls.caption = "Encrypt with TLS";
    TlsRequireClientCertificate.caption = "Require a client certificate";
}

void SecurityFields::setEnabled(bool on)
{
    AllowedClients.enabled = on;
    Tls.enabled = on;
    TlsCertificate.enabled = on;
    TlsKey.enabled = on;
    TlsCaFile.enabled = on;
    TlsRequireClientCertificate.enabled = on;
}

bool RefusalLog::due(const std::string& address, std::uint32_t nowMs)
{
    auto quiet = [nowMs](std::uint32_t then) { return nowMs - then < kQuietMs; };
    if (auto it = m_last.find(address); it != m_last.end()) {
        if (quiet(it->second))
            return false;
        it->second = nowMs;
        return true;
    }
    if (m_last.size() >= kMaxAddresses)
        std::erase_if(m_last, [&](const auto& entry) { return !quiet(entry.second); });
    if (m_last.size() >= kMaxAddresses)
        return false;
    m_last.emplace(address, nowMs);
    return true;
}

// Before anything opens: a list or file that is wrong stops the activation
// with the reason, rather than serving everyone or serving in clear.
bool Session::prepareSecurity()
{
    SecurityFields& f = Security;
    lt::winsock::SocketControl& s0 = Winsock1(0);
    f.TlsActive = false;
    f.RefusedCount = 0;
    f.LastRefused.text.clear();
    m_refusals.clear();
    s0.tls.reset();
    s0.allowedClients = {};
    s0.events.refused = [this](const std::string& ip, int port, const std::string& why) {
        clientRefused(ip, port, why);
    };
    const bool server = TCPOption[1].value;
    std::string why;
    if (server && !s0.allowedClients.parse(f.AllowedClients.text, &why)) {
        StatusBar1[1].text = "TCP/IP Status: Error - Allowed clients: " + why;
        return false;
    }
    if (!f.Tls.checked)
        return true;
    const lt::winsock::TlsFiles files{f.TlsCertificate.text, f.TlsKey.text, f.TlsCaFile.text,
                                      f.TlsRequireClientCertificate.checked};
    s0.tls = lt::winsock::TlsContext::load(files, server, why);
    if (!s0.tls) {
        StatusBar1[1].text = "TCP/IP Status: Error - " + why;
        return false;
    }
    f.TlsActive = true;
    return true;
}

void Session::clientRefused(const std::string& ip, int port, const std::string& why)
{
    ++Security.RefusedCount;
    const std::string text = "client " + ip + ":" + std::to_string(port) + " refused: " + why;
    Security.LastRefused.text = text;
    if (m_refusals.due(ip, win::tickCount()))
        LogErrors(text);
    notify();
}

// A client role's failed handshake keeps its reason in view until the
// next attempt; the close handling has just written "Closed".
void Session::showTlsFailure(std::int16_t number, const std::string& description)
{
    if (number != lt::winsock::kErrTls || ServerMode == 1)
        return;
    StatusBar1[1].text = "TCP/IP Status: Error - " + description;
    notify();
}

void Session::markSecureStatus()
{
    static const std::string kMark = " (TLS)";
    std::string& t = StatusBar1[1].text;
    if (!Security.TlsActive || (t.size() >= kMark.size() && t.compare(t.size() - kMark.size(), kMark.size(), kMark) == 0))
        return;
    for (const char* state : {"TCP/IP Status: (", "TCP/IP Status: Connected", "TCP/IP Status: Listening"})
        if (t.rfind(state, 0) == 0) {
            t += kMark;
            return;
        }
}

}  // namespace lintrel
