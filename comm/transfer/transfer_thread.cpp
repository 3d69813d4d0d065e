// The transfer thread and the port under the protocol: byte-level reads and
// writes with their time-outs, the cancel sequence, and the reports that go
// to the object's thread through the callback window.
#include "transfer_thread.h"

#include "serial/serial.h"
#include "transfer_engine.h"
#include "xymodem.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <limits>
#include <chrono>
#include <thread>

namespace xfer {
namespace {

constexpr std::uint32_t kDrainMs = 10000;
constexpr std::uint32_t kBlockWriteWaitMs = 10000;
constexpr std::uint32_t kCancelQuietMs = 2000;
constexpr std::uint32_t kReadSliceMs = 50;
// Each report waits for the object's thread. On a line that moves a block
// in well under a millisecond (a pseudo-terminal) one report per block
// would cost more than the block, so progress goes out at most this often,
// and the abort flag is asked of the object no more often either; the
// thread's own abort flag is looked at every time. A line slower than about
// a block per interval sees every block reported.
constexpr std::uint32_t kReportEveryMs = 10;

class LocalFile : public FileSource, public FileSink {
public:
    explicit LocalFile(std::FILE* f, std::shared_ptr<bool> written = {}) : m_f(f), m_written(std::move(written)) {}
    ~LocalFile() override { close(); }
    std::uint64_t size() const override
    {
        const long here = std::ftell(m_f);
        std::fseek(m_f, 0, SEEK_END);
        const long end = std::ftell(m_f);
        std::fseek(m_f, here, SEEK_SET);
        return end < 0 ? 0 : std::uint64_t(end);
    }
    std::size_t read(std::uint8_t* buffer, std::size_t n) override { return std::fread(buffer, 1, n, m_f); }
    bool write(const std::uint8_t* bytes, std::size_t n) override
    {
        if (m_written && n > 0)
            *m_written = true;
        return std::fwrite(bytes, 1, n, m_f) == n;
    }
    bool close() override
    {
        if (!m_f)
            return true;
        const bool ok = std::fclose(m_f) == 0;
        m_f = nullptr;
        return ok;
    }

private:
    std::FILE* m_f;
    std::shared_ptr<bool> m_written;  // set by the first byte written
};

class PortHost : public ProtocolHost {
public:
    explicit PortHost(std::shared_ptr<ThreadShared> shared) : m_shared(std::move(shared)) {}

    // One callback on the object's thread. After it, the object may be gone.
    // A progress report held back goes first, so reports keep their order
    // and a file's last position is known before its end.
    std::intptr_t call(int code, std::intptr_t argument = 0)
    {
        flushProgress();
        return send(code, argument);
    }
    bool gone() const { return m_gone; }
    bool aborted() const { return m_gone || m_shared->abort; }
    void setPort(serial::Handle port) { m_port = port; }
    void setBaud(std::uint32_t baud) { m_baud = baud; }
    std::uint32_t lineBaud() override { return m_baud; }

    int readByte(std::uint32_t ms, bool abortable = true)
    {
        if (m_next < m_have)
            return m_buffer[m_next++];
        const std::uint32_t deadline = win::tickCount() + ms;
        for (;;) {
            if (abortable && aborted())
                return -1;
            const std::uint32_t now = win::tickCount();
            // With no time left the port is still looked at once, without
            // waiting: a sender streaming data polls this way for the
            // receiver's answers.
            const bool last = win::tickReached(now, deadline);
            serial::COMMTIMEOUTS t;
            t.ReadIntervalTimeout = std::numeric_limits<std::uint32_t>::max();
            t.ReadTotalTimeoutMultiplier = last ? 0 : std::numeric_limits<std::uint32_t>::max();
            t.ReadTotalTimeoutConstant = last ? 0 : std::min(kReadSliceMs, std::max<std::uint32_t>(1, deadline - now));
            serial::SetCommTimeouts(m_port, &t);
            std::uint32_t got = 0;
            if (!serial::ReadFile(m_port, m_buffer.data(), std::uint32_t(m_buffer.size()), &got)) {
                if (last)
                    return -1;
                win::sleepMs(kReadSliceMs);
                continue;
            }
            if (got > 0) {
                m_have = got;
                m_next = 1;
                return m_buffer[0];
            }
            if (last)
                return -1;
            // The line is quiet: the progress held back is shown now.
            flushProgress();
        }
    }

    std::uint32_t outQueue()
    {
        std::uint32_t errors = 0;
        serial::COMSTAT stat;
        return serial::ClearCommError(m_port, &errors, &stat) ? stat.cbOutQue : 0;
    }

    bool waitOutBelow(std::uint32_t limit, std::uint32_t ms, bool abortable)
    {
        const std::uint32_t deadline = win::tickCount() + ms;
        while (outQueue() >= limit) {
            if ((abortable && aborted()) || win::tickReached(win::tickCount(), deadline))
                return false;
            // A fast line (a pseudo-terminal, a USB adapter) drains a
            // kilobyte well within a millisecond: look again soon.
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        return true;
    }

    bool write(const std::uint8_t* bytes, std::size_t n) override
    {
        if (m_gone)
            return false;
        waitOutBelow(std::uint32_t(n) + 1024, kBlockWriteWaitMs, true);
        std::size_t sent = 0;
        const std::uint32_t deadline = win::tickCount() + kBlockWriteWaitMs;
        while (sent < n) {
            std::uint32_t done = 0;
            if (!serial::WriteFile(m_port, bytes + sent, std::uint32_t(n - sent), &done))
                return false;
            sent += done;
            if (sent < n && win::tickReached(win::tickCount(), deadline))
                return false;
        }
        return true;
    }
    void drainOutput() override { waitOutBelow(1, kDrainMs, true); }
    void setBreak(bool on) override
    {
        if (on) {
            drainOutput();
            serial::SetCommBreak(m_port);
        } else {
            serial::ClearCommBreak(m_port);
        }
    }
    void pause(std::uint32_t ms) override
    {
        const std::uint32_t deadline = win::tickCount() + ms;
        for (std::uint32_t now = win::tickCount(); !aborted() && !win::tickReached(now, deadline); now = win::tickCount())
            win::sleepMs(std::min(kReadSliceMs, deadline - now));
    }
    void discardInput() override
    {
        m_next = m_have = 0;
        serial::PurgeComm(m_port, serial::PURGE_RXCLEAR);
    }

    bool abortRequested() override
    {
        if (aborted())
            return true;
        const std::uint32_t now = win::tickCount();
        if (m_asked && !win::tickReached(now, m_lastAsk + kReportEveryMs))
            return false;
        m_asked = true;
        m_lastAsk = now;
        return call(Cb_AbortRequested) != 0 || aborted();
    }
    void cancelTransfer() override { m_shared->abort = true; }
    void message(std::string_view text) override
    {
        // Clearing a message that is clear already changes nothing.
        if (text.empty() && m_messageClear)
            return;
        m_messageClear = text.empty();
        const std::string s(text);
        call(Cb_Message, std::intptr_t(s.c_str()));
    }
    void prepare(FileNames& names, bool) override
    {
        PrepareRequest r{names};
        call(Cb_Prepare, std::intptr_t(&r));
        m_messageClear = false;   // the engine may have said it renamed the file
        names = m_gone ? FileNames{} : r.names;
    }
    void fileSize(std::uint64_t size) override { call(Cb_FileSize, std::intptr_t(size)); }
    void progress(std::uint64_t bytes, std::uint32_t blockSize) override
    {
        m_pending[0] = bytes;
        m_pending[1] = blockSize;
        m_progressPending = true;
        // A new position (blockSize 0: a file resumed or sent again from
        // elsewhere) is reported at once, like the first block.
        const std::uint32_t now = win::tickCount();
        if (blockSize == 0 || !m_reported || win::tickReached(now, m_lastReport + kReportEveryMs))
            flushProgress();
    }
    void fileEnded(bool ok) override
    {
        // A file this transfer created and that failed before a byte of it
        // was written is not left behind empty.
        if (!ok && m_created.written && !*m_created.written)
            std::remove(m_created.path.c_str());
        m_created = {};
        call(ok ? Cb_FileEnded : Cb_FileAborted);
    }
    void clearFields() override { call(Cb_ClearFields); }

    std::unique_ptr<FileSource> openSource(const std::string& path) override
    {
        std::FILE* f = m_gone || path.empty() ? nullptr : std::fopen(path.c_str(), "rb");
        return f ? std::make_unique<LocalFile>(f) : nullptr;
    }
    std::unique_ptr<FileSink> createSink(const std::string& path) override
    {
        m_created = {};
        if (m_gone || path.empty())
            return nullptr;
        struct stat st;
        const bool existed = ::stat(path.c_str(), &st) == 0;
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (!f)
            return nullptr;
        auto written = std::make_shared<bool>(false);
        if (!existed)
            m_created = {path, written};
        return std::make_unique<LocalFile>(f, written);
    }
    std::unique_ptr<FileSink> appendSink(const std::string& path, std::uint64_t& length) override
    {
        length = 0;
        std::FILE* f = m_gone || path.empty() ? nullptr : std::fopen(path.c_str(), "ab");
        if (!f)
            return nullptr;
        const long at = std::fseek(f, 0, SEEK_END) == 0 ? std::ftell(f) : -1;
        if (at < 0) {
            std::fclose(f);
            return nullptr;
        }
        length = std::uint64_t(at);
        return std::make_unique<LocalFile>(f);
    }

    // Ten CAN and ten backspace bytes, then whatever the far end still
    // sends is read away until it keeps quiet.
    void cancelSequence()
    {
        serial::PurgeComm(m_port, serial::PURGE_TXCLEAR);
        std::array<std::uint8_t, 20> bytes;
        bytes.fill(CAN);
        std::fill(bytes.begin() + 10, bytes.end(), BS);
        std::uint32_t done = 0;
        serial::WriteFile(m_port, bytes.data(), std::uint32_t(bytes.size()), &done);
        waitOutBelow(1, kDrainMs, false);
        while (readByte(kCancelQuietMs, false) >= 0) {
        }
        discardInput();
    }

private:
    std::intptr_t send(int code, std::intptr_t argument)
    {
        if (m_gone)
            return 0;
        const std::intptr_t r = win::sendMessage(m_shared->callbackWindow, kCallbackMessage, win::WParam(code), argument);
        if (!win::isWindow(m_shared->callbackWindow))
            m_gone = true;
        return r;
    }
    void flushProgress()
    {
        if (!m_progressPending)
            return;
        m_progressPending = false;
        m_reported = true;
        m_lastReport = win::tickCount();
        send(Cb_Progress, std::intptr_t(m_pending));
    }

    std::shared_ptr<ThreadShared> m_shared;
    // The file createSink made for the current file, if it made a new one.
    struct {
        std::string path;
        std::shared_ptr<bool> written;
    } m_created;
    serial::Handle m_port = serial::INVALID_HANDLE_VALUE;
    std::uint32_t m_baud = 0;
    bool m_gone = false;
    std::array<std::uint8_t, 4096> m_buffer{};
    std::size_t m_have = 0;
    std::size_t m_next = 0;
    // Reports.
    std::uint64_t m_pending[2] = {0, 0};
    bool m_progressPending = false;
    bool m_reported = false;
    std::uint32_t m_lastReport = 0;
    bool m_asked = false;
    std::uint32_t m_lastAsk = 0;
    bool m_messageClear = true;
};

void runTransfer(std::shared_ptr<ThreadShared> shared)
{
    PortHost host(shared);
    const int protocol = int(host.call(Cb_Protocol));
    const auto port = serial::Handle(host.call(Cb_Port));
    if (host.gone())
        return;
    host.setPort(port);

    serial::DCB saved;
    serial::COMMTIMEOUTS savedTimeouts;
    if (!serial::GetCommState(port, &saved) || !serial::GetCommTimeouts(port, &savedTimeouts)) {
        host.call(Cb_TransferFailed);
        return;
    }
    host.setBaud(saved.BaudRate);
    serial::DCB dcb = saved;
    dcb.fOutX = dcb.fInX = false;
    dcb.fNull = false;
    dcb.fErrorChar = false;
    if (protocol != Protocol_Kermit) {
        dcb.ByteSize = 8;
        dcb.Parity = serial::NOPARITY;
        dcb.fParity = false;
    }
    if (!serial::SetCommState(port, &dcb)) {
        host.call(Cb_TransferFailed);
        return;
    }

    const int dialogType = int(host.call(Cb_DialogType));
    host.call(Cb_CreateDialog, dialogType);
    const bool sending = host.call(Cb_Direction) == 1;

    int result = 1;
    if (std::unique_ptr<ByteMachine> machine = makeProtocol(host, protocol, sending)) {
        machine->start();
        while (!machine->done() && !host.gone()) {
            const int b = host.readByte(machine->timeoutMs());
            if (b < 0)
                machine->timeout();
            else
                machine->feed(std::uint8_t(b));
        }
        if (host.gone())
            return;
        result = machine->result();
    } else {
        const std::string text = std::string(protocolName(protocol)) + " transfers are not available";
        host.message(text);
    }

    if (shared->abort)
        host.cancelSequence();
    host.waitOutBelow(1, kDrainMs, false);
    serial::SetCommState(port, &saved);
    serial::SetCommTimeouts(port, &savedTimeouts);
    host.call(Cb_DestroyDialog);
    host.call(result != 0 || shared->abort ? Cb_TransferFailed : Cb_TransferEnded);
    shared->finished = true;
}

}  // namespace

void startTransferThread(std::shared_ptr<ThreadShared> shared)
{
    std::thread(runTransfer, std::move(shared)).detach();
}

}  // namespace xfer
