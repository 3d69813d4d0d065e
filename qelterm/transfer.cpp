#include "transfer.h"

#include "port_name.h"
#include "qel_comm.h"
#include "transfer_engine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <unistd.h>

namespace qelterm {
namespace {

using lt::automation::Args;
using lt::automation::Variant;
namespace M = qelcomm::control::MemberId;
namespace E = qelcomm::control::EventId;

constexpr qint64 kLingerMs = 1000;

volatile std::sig_atomic_t g_interrupted = 0;
void onInterrupt(int) { g_interrupted = 1; }

std::string baseName(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Reports the transfer on standard error from the control's events: a bar
// redrawn in place on a terminal, a line per file otherwise.
class Progress : public lt::automation::EventSink {
public:
    Progress(qelcomm::control::CQelComm& c, bool sending) : m_c(c), m_sending(sending), m_tty(::isatty(2) != 0) {}

    void onEvent(std::int32_t dispid, Args&) override
    {
        switch (dispid) {
        case E::PrepareFile:
        case E::StartFile: {
            // An empty name is the end of a batch, not a file.
            const std::string name = baseName(text(m_sending ? M::XferSourceFilename : M::XferDestFilename));
            if (name.empty())
                break;
            if (!m_inFile) {
                m_inFile = true;
                m_blocks = false;
                m_earlierMessage = text(M::XferMessage);
            }
            m_name = name;
            break;
        }
        case E::TransferBlock:
            // A message from before the file's data (a renamed file's
            // notice, a retry) is not why it fails later.
            if (!m_blocks)
                m_earlierMessage = text(M::XferMessage);
            m_blocks = true;
            if (m_tty)
                drawBar();
            break;
        // An aborted file ends with AbortFile and then FinishFile: its line
        // is already out.
        case E::FinishFile:
            if (m_inFile)
                endFile(std::string());
            m_inFile = false;
            break;
        case E::AbortFile:
            if (m_inFile)
                endFile(failure());
            m_inFile = false;
            break;
        default: break;
        }
    }

    // Why the last file failed; empty when none did.
    const std::string& lastFailure() const { return m_lastFailure; }

private:
    std::string text(std::int32_t id) const
    {
        Variant v;
        m_c.Dispatch().get(id, v);
        return v.toString();
    }
    std::int64_t number(std::int32_t id) const
    {
        Variant v;
        m_c.Dispatch().get(id, v);
        return v.toInt32().value_or(0);
    }
    // The file's size, when the protocol knows it (XModem does not).
    std::int64_t knownSize() const
    {
        const std::int64_t size = number(M::XferFileSize);
        return size == 2000000000 ? 0 : size;
    }

    void drawBar()
    {
        // At most ten redraws a second.
        if (m_redraw.isValid() && m_redraw.elapsed() < 100)
            return;
        m_redraw.start();
        const std::int64_t done = number(M::XferTransferred), size = knownSize();
        std::string bar;
        if (size > 0) {
            const int width = 30;
            const int filled = int(std::min<std::int64_t>(width, done * width / size));
            bar = "[" + std::string(std::size_t(filled), '#') + std::string(std::size_t(width - filled), '.') + "] ";
            bar += std::to_string(std::min<std::int64_t>(100, done * 100 / size)) + "% ";
        }
        std::fprintf(stderr, "\r%s %s%lld bytes\033[K", m_name.c_str(), bar.c_str(), static_cast<long long>(done));
        std::fflush(stderr);
    }

    // Ctrl-C when it came (what the protocol says then is its echo), else
    // the protocol's message when it left one for this file, else what can
    // be told from here.
    std::string failure() const
    {
        if (g_interrupted)
            return "failed: interrupted";
        const std::string message = text(M::XferMessage);
        if (!message.empty() && message != m_earlierMessage)
            return "aborted: " + message;
        if (number(M::XferTransferred) == 0)
            return m_sending ? "failed: no data was taken" : "failed: no data arrived";
        return "failed: no reason given";
    }

    void endFile(const std::string& failure)
    {
        const std::int64_t done = number(M::XferTransferred);
        m_lastFailure = failure.empty() ? std::string() : failure.substr(failure.find(": ") + 2);
        const std::string line = m_name + ": " + std::to_string(done) + " bytes, " + (failure.empty() ? "done" : failure);
        std::fprintf(stderr, m_tty ? "\r%s\033[K\n" : "%s\n", line.c_str());
        std::fflush(stderr);
        m_redraw.invalidate();
    }

    qelcomm::control::CQelComm& m_c;
    bool m_sending;
    bool m_tty;
    std::string m_name;
    bool m_inFile = false;  // a file has started and its line is not out yet
    bool m_blocks = false;  // the file has had data
    std::string m_earlierMessage, m_lastFailure;
    QElapsedTimer m_redraw;
};

int transferOn(qelcomm::control::CQelComm& c, const Options& o)
{
    const bool sending = o.mode == Options::Mode::Send;
    if (c.SetSettings(o.settings).failed() || c.Settings() != o.settings) {
        std::cerr << "qelterm: bad settings " << o.settings << "\n";
        return kTransferUsage;
    }
    if (!xfer::hasProtocol(o.protocol)) {
        std::cerr << "qelterm: " << xfer::protocolName(o.protocol) << " transfers are not built into this qelterm\n";
        return kTransferFailed;
    }
    for (const std::string& f : sending ? o.files : std::vector<std::string>{}) {
        if (!QFileInfo(QString::fromStdString(f)).isFile() || !QFile(QString::fromStdString(f)).open(QIODevice::ReadOnly)) {
            std::cerr << "qelterm: cannot read " << f << "\n";
            return kTransferFailed;
        }
    }
    if (!sending && !o.dir.empty() && !QFileInfo(QString::fromStdString(o.dir)).isDir()) {
        std::cerr << "qelterm: " << o.dir << " is not a folder\n";
        return kTransferFailed;
    }
    const auto& t = c.Dispatch();
    t.put(M::XferProtocol, Variant(std::int32_t(o.protocol)));
    t.put(M::XferStatusDialog, Variant(std::int32_t(0)));  // no window to show it in
    t.put(M::XferPath, Variant(o.dir));
    // Every byte of the line belongs to the transfer, none to a terminal.
    c.SetAutoProcess(0);
    c.SetPortOpen(true);
    if (!c.PortOpen()) {
        std::cerr << "qelterm: cannot open " << o.port << "\n";
        return kTransferFailed;
    }

    Progress progress(c, sending);
    const std::uint32_t cookie = c.Events().connect(&progress);
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    const std::vector<std::string> names = sending ? o.files : std::vector<std::string>{o.files.empty() ? "" : o.files[0]};
    for (const std::string& name : names) {
        if (const auto e = t.put(sending ? M::Upload : M::Download, Variant(name)); e.failed()) {
            std::cerr << "qelterm: " << e.description << "\n";
            c.Events().disconnect(cookie);
            return kTransferFailed;
        }
    }
    const QcHandle object = c.Window();
    bool abortSent = false;
    QTimer tick;  // wakes the wait below to look at the interrupt flag
    tick.start(50);
    while (::GetTransferType(object) != 0) {
        if (g_interrupted && !abortSent) {
            ::AbortTransfer(object);
            abortSent = true;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    c.Events().disconnect(cookie);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    // Closing the port flushes its output. The transfer drained it, but on
    // a pseudo-terminal drained only means handed to the other side, which
    // may not have read our last answer yet (an ACK the sender waits for):
    // give it a moment before the close.
    QElapsedTimer linger;
    linger.start();
    while (linger.elapsed() < kLingerMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    Variant status;
    t.get(M::XferStatus, status);
    if (status.toInt32().value_or(-1) == 0)
        return 0;
    Variant message;
    t.get(M::XferMessage, message);
    std::string reason = g_interrupted ? std::string("interrupted") : message.toString();
    if (reason.empty())
        reason = progress.lastFailure();
    std::cerr << "qelterm: transfer failed" << (reason.empty() ? std::string() : ": " + reason) << "\n";
    return kTransferFailed;
}

}  // namespace

int runTransfer(const Options& o)
{
    const PortChoice choice = choosePort(o.port);
    if (!choice.number) {
        std::cerr << "qelterm: " << unusablePortText(o.port) << "\n";
        return kTransferUsage;
    }
    int code;
    {
        qelcomm::control::CQelComm c;
        c.SetCommPort(std::int16_t(choice.number));
        code = transferOn(c, o);
    }
    if (!choice.tempMap.empty())
        QFile::remove(QString::fromStdString(choice.tempMap));
    return code;
}

}  // namespace qelterm
