#include "receiver.h"

#include "qelcomm_terminal.h"
#include "transfer_engine.h"

namespace qelterm {
namespace {

namespace E = qelcomm::control::EventId;

// What "rz" prints before its first header, and AutoProcess's keyboard bit.
constexpr char kDownloadStart[] = "rz\r**";
constexpr int kDownloadStartLength = 5;
constexpr std::int32_t kKeyboardSend = 2;
constexpr int kReadBlock = 4096;

}  // namespace

Receiver::Receiver(qelcomm::control::CQelComm& c) : m_c(c)
{
    m_c.SetAutoProcess(kKeyboardSend);
    m_c.SetRThreshold(1);
    m_cookie = m_c.Events().connect(this);
}

Receiver::~Receiver() { m_c.Events().disconnect(m_cookie); }

void Receiver::show(const std::string& text)
{
    ::TerminalWrite(m_c.Window(), text.data(), std::int32_t(text.size()));
}

void Receiver::onEvent(std::int32_t dispid, lt::automation::Args&)
{
    // The control's Connect clears AutoProcess while a modem dials: the
    // dialer reads the modem's answers itself.
    if (dispid == E::Receive && (m_c.AutoProcess() & kKeyboardSend))
        drain();
}

void Receiver::drain()
{
    const QcHandle object = m_c.Window();
    char buffer[kReadBlock];
    std::int32_t got = 0;
    do {
        if (!m_c.PortOpen() || ::GetTransferType(object) != 0)
            return;
        got = ::GetInput(object, buffer, kReadBlock);
        if (got <= 0)
            return;
        show(m_format.format(std::string_view(buffer, std::size_t(got)), clock()));
        watchForDownload(buffer, got);
    } while (got == kReadBlock);
}

void Receiver::watchForDownload(const char* bytes, int n)
{
    for (int i = 0; i < n; ++i) {
        if (bytes[i] != kDownloadStart[m_downloadMatch]) {
            m_downloadMatch = bytes[i] == kDownloadStart[0] ? 1 : 0;
            continue;
        }
        if (++m_downloadMatch == kDownloadStartLength) {
            m_downloadMatch = 0;
            ::Download(m_c.Window(), "");
            return;   // the rest belongs to the transfer
        }
    }
}

}  // namespace qelterm
