#include "zmodem.h"

#include "xmodem_frame.h"
#include "xymodem.h"

#include <algorithm>

namespace xfer {

using namespace zm;

namespace {

bool isFlowControl(int c) { return c == 0x11 || c == 0x13 || c == 0x91 || c == 0x93; }

int hexValue(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool carriesSubpacket(int type) { return type == ZFILE || type == ZDATA || type == ZSINIT || type == ZCOMMAND; }

}  // namespace

ZModem::ZModem(ProtocolHost& host, bool sending, int lineBaud)
    : m_host(host),
      m_sending(sending),
      m_garbageLimit(std::size_t(std::max(lineBaud, 0)) + 1400),
      m_out(&ZModem::sinkToHost, &host)
{
}

bool ZModem::sinkToHost(void* context, const std::uint8_t* bytes, std::size_t n)
{
    return static_cast<ProtocolHost*>(context)->write(bytes, n);
}

Task ZModem::run()
{
    if (m_sending)
        co_return co_await sender();
    co_return co_await receiver();
}

// ---- Reading ---------------------------------------------------------------

// The next byte that is not flow control, or kTimeout.
Task ZModem::readRaw(std::uint32_t ms)
{
    for (;;) {
        const int c = co_await readByte(ms);
        if (c < 0)
            co_return kTimeout;
        if (!isFlowControl(c))
            co_return c;
    }
}

// One byte of a binary header or a check value, escapes undone.
Task ZModem::readEscaped()
{
    int c = co_await readRaw(kByteTimeoutMs);
    if (c != ZDLE)
        co_return c;
    int cans = 1;
    for (;;) {
        c = co_await readRaw(kByteTimeoutMs);
        if (c < 0)
            co_return c;
        if (c != CAN)
            break;
        if (++cans >= 4)
            co_return kCancelled;
    }
    if (c == ZRUB0)
        co_return 0x7F;
    if (c == ZRUB1)
        co_return 0xFF;
    if ((c & 0x60) == 0x40)
        co_return c ^ 0x40;
    co_return kBadData;
}

// The type of the next header (its four bytes in m_rxHeader) or a negative
// result. pending is a byte already taken from the line, or -1.
Task ZModem::readHeader(int pending)
{
    std::size_t garbage = 0;
    int cans = 0;
    int state = 0;  // 0: looking for "*", 1: after "*", 2: after "*" ZDLE
    int form = 0;
    m_rxCrc32 = false;
    while (form == 0) {
        int c = pending;
        pending = -1;
        if (c < 0)
            c = co_await readRaw(kByteTimeoutMs);
        if (c < 0)
            co_return kTimeout;
        if (c == CAN) {
            if (++cans >= 5)
                co_return kCancelled;
        } else {
            cans = 0;
        }
        if (state == 1 && c == ZDLE) {
            state = 2;
            continue;
        }
        if (state == 2 && (c == ZHEX || c == ZBIN || c == ZBIN32)) {
            form = c;
            break;
        }
        if (c == ZPAD) {
            state = 1;
            continue;
        }
        state = 0;
        if (++garbage > m_garbageLimit) {
            m_host.message("Garbage count exceeded");
            co_return kGarbage;
        }
    }

    std::uint8_t bytes[9] = {};
    if (form == ZHEX) {
        for (int i = 0; i < 7; ++i) {
            const int hi = co_await readRaw(kByteTimeoutMs);
            if (hi < 0)
                co_return kTimeout;
            const int lo = co_await readRaw(kByteTimeoutMs);
            if (lo < 0)
                co_return kTimeout;
            if (hexValue(hi) < 0 || hexValue(lo) < 0)
                co_return kBadData;
            bytes[i] = std::uint8_t(hexValue(hi) << 4 | hexValue(lo));
        }
        // CR and LF close a hex header.
        const int cr = co_await readRaw(kByteTimeoutMs);
        if ((cr & 0x7F) == '\r')
            co_await readRaw(kByteTimeoutMs);
    } else {
        const int n = form == ZBIN32 ? 9 : 7;
        for (int i = 0; i < n; ++i) {
            const int c = co_await readEscaped();
            if (c < 0)
                co_return c == kTimeout ? kTimeout : c == kCancelled ? kCancelled : kBadData;
            bytes[i] = std::uint8_t(c);
        }
    }
    std::copy(bytes + 1, bytes + 5, m_rxHeader.begin());
    const int type = bytes[0];
    if (form == ZBIN32) {
        // Never asked for and not checked: read with what follows it, refused.
        m_rxCrc32 = true;
        m_host.message("Bad CRC");
        if (carriesSubpacket(type))
            co_await readSubpacket(kMaxSubpacket);
        m_rxCrc32 = false;
        co_return kBadCrc;
    }
    std::uint16_t crc = 0;
    for (int i = 0; i < 7; ++i)
        crc = crc16Update(crc, bytes[i]);
    if (crc != 0) {
        m_host.message("Bad CRC");
        co_return kBadCrc;
    }
    co_return type;
}

// One data subpacket into m_data (m_dataLength bytes): its end character,
// or a negative result with its message.
Task ZModem::readSubpacket(std::size_t limit)
{
    std::size_t n = 0;
    std::uint16_t crc = 0;
    m_dataLength = 0;
    for (;;) {
        int c = co_await readByte(kByteTimeoutMs);
        if (c < 0) {
            m_host.message("TIMEOUT");
            co_return kTimeout;
        }
        if (isFlowControl(c))
            continue;
        if (c == ZDLE) {
            int cans = 1;
            for (;;) {
                c = co_await readByte(kByteTimeoutMs);
                if (c < 0) {
                    m_host.message("TIMEOUT");
                    co_return kTimeout;
                }
                if (isFlowControl(c))
                    continue;
                if (c != CAN)
                    break;
                if (++cans >= 4)
                    co_return kCancelled;
            }
            if (c == ZCRCE || c == ZCRCG || c == ZCRCQ || c == ZCRCW) {
                const int end = c;
                crc = crc16Update(crc, std::uint8_t(end));
                const int checkBytes = m_rxCrc32 ? 4 : 2;
                for (int i = 0; i < checkBytes; ++i) {
                    const int b = co_await readEscaped();
                    if (b < 0) {
                        if (b == kCancelled)
                            co_return kCancelled;
                        m_host.message(b == kTimeout ? "TIMEOUT" : "Bad data subpacket");
                        co_return b == kTimeout ? kTimeout : kBadData;
                    }
                    crc = crc16Update(crc, std::uint8_t(b));
                }
                if (m_rxCrc32 || crc != 0) {
                    m_host.message("Bad CRC");
                    co_return kBadCrc;
                }
                m_dataLength = n;
                co_return end;
            }
            if (c == ZRUB0)
                c = 0x7F;
            else if (c == ZRUB1)
                c = 0xFF;
            else if ((c & 0x60) == 0x40)
                c ^= 0x40;
            else {
                m_host.message("Bad data subpacket");
                co_return kBadData;
            }
        }
        if (n >= limit) {
            m_host.message("Data subpacket too long");
            co_return kTooLong;
        }
        m_data[n++] = std::uint8_t(c);
        crc = crc16Update(crc, std::uint8_t(c));
    }
}

// ---- Sending ---------------------------------------------------------------

void ZModem::sendHex(int type, const Header& h)
{
    const std::vector<std::uint8_t> bytes = hexHeader(type, h);
    m_host.write(bytes.data(), bytes.size());
}

void ZModem::sendBinary(int type, const Header& h) { m_out.binaryHeader(type, h); }

void ZModem::cancelLine()
{
    std::uint8_t bytes[20];
    std::fill_n(bytes, 10, CAN);
    std::fill_n(bytes + 10, 10, BS);
    m_host.write(bytes, sizeof bytes);
    m_host.drainOutput();
}

// Moves the file to a position the receiver asked for: forward by reading,
// backward by opening it again. The position reached (the file's end when
// the receiver asked for more).
std::uint32_t ZModem::seek(std::uint32_t position)
{
    if (position < m_filePosition || !m_file) {
        m_file = m_host.openSource(m_sourcePath);
        m_filePosition = 0;
        if (!m_file)
            return 0;
    }
    while (m_filePosition < position) {
        const std::size_t want = std::min<std::size_t>(m_data.size(), position - m_filePosition);
        const std::size_t got = m_file->read(m_data.data(), want);
        if (got == 0)
            break;
        m_filePosition += std::uint32_t(got);
    }
    return m_filePosition;
}

// 0 once the receiver's ZRINIT came, 1 when the transfer has to end.
Task ZModem::waitForReceiver()
{
    sendHex(ZRQINIT);
    for (int i = 0; i < 10; ++i) {
        if (m_host.abortRequested())
            co_return 1;
        const int type = co_await readHeader();
        switch (type) {
        case ZRINIT:
            m_receiverFlags = m_rxHeader[ZF0];
            m_out.setEscapeAll((m_receiverFlags & ESCCTL) != 0);
            co_return 0;
        case ZCHALLENGE: sendHex(ZACK, m_rxHeader); break;
        case ZCOMMAND: sendHex(ZRQINIT); break;
        case kCancelled:
        case kGarbage: co_return 1;
        // A receiver that is not running yet gets asked again.
        case kTimeout: sendHex(ZRQINIT); break;
        default: sendHex(ZNAK); break;
        }
    }
    co_return 1;
}

// Results of sendData.
namespace {
constexpr int kDataAtEnd = 0;     // the whole file went out: ZEOF next
constexpr int kDataFailed = 1;
constexpr int kDataSkip = 2;      // the receiver skips the file
constexpr int kDataComplete = 3;  // the receiver has the file already
constexpr int kLinePollEvery = 8;
}  // namespace

Task ZModem::sendData(std::uint32_t& position)
{
    int goodRun = 0;
    int timeouts = 0;
    int sincePoll = 0;
    bool newFrame = true;
    for (;;) {
        if (newFrame) {
            if (m_host.abortRequested())
                co_return kDataFailed;
            for (int i = 0; i < 20; ++i)
                m_out.raw(0);
            sendBinary(ZDATA, positionHeader(position));
            newFrame = false;
        }
        const std::size_t n = m_file ? m_file->read(m_data.data(), m_length) : 0;
        const std::uint8_t end = n < m_length ? ZCRCE : ZCRCG;
        m_out.subpacket(m_data.data(), n, end);
        m_filePosition += std::uint32_t(n);
        position += std::uint32_t(n);
        m_host.progress(position, std::uint32_t(n));
        if (++goodRun >= 6 && m_length < kMaxSubpacket) {
            m_length *= 2;
            goodRun = 0;
        }
        if (end == ZCRCE)
            co_return kDataAtEnd;

        // Anything from the receiver between subpackets, looked at without
        // waiting: only a header or its cancel matters. The abort flag is
        // asked every few subpackets.
        if (++sincePoll >= kLinePollEvery) {
            sincePoll = 0;
            if (m_host.abortRequested())
                co_return kDataFailed;
        }
        int c = co_await readByte(0);
        while (c >= 0 && c != ZPAD && c != CAN)
            c = co_await readByte(0);
        if (c < 0)
            continue;
        const int type = co_await readHeader(c);
        switch (type) {
        case ZACK: break;
        case ZRPOS:
            position = seek(headerPosition(m_rxHeader));
            m_host.progress(position, 0);
            m_host.message("Resending");
            m_length = std::max(kMinSubpacket, m_length / 2);
            goodRun = 0;
            newFrame = true;
            break;
        case ZSKIP: m_host.message("Skipping file..."); co_return kDataSkip;
        case ZRINIT: co_return kDataComplete;
        case kTimeout:
            m_host.message("Timeout");
            if (++timeouts > kSenderTimeouts)
                co_return kDataFailed;
            break;
        case ZABORT:
        case ZFIN:
        case ZCAN:
        case kCancelled:
        case kGarbage: m_host.message("Error"); co_return kDataFailed;
        default:
            m_host.message("Unknown packet received");
            sendHex(ZNAK);
            break;
        }
    }
}

// 0 to go on with the next file, 1 when the transfer has to end.
Task ZModem::sendFile(const std::string& source, const std::string& destination)
{
    const std::vector<std::uint8_t> info = fileInformation(destination, m_fileSize);
    std::uint32_t position = 0;
    bool accepted = false;
    for (int tries = 0; tries < 10 && !accepted; ++tries) {
        if (m_host.abortRequested()) {
            m_file.reset();
            cancelLine();
            m_host.fileEnded(false);
            co_return 1;
        }
        sendBinary(ZFILE, Header{});
        m_out.subpacket(info.data(), info.size(), ZCRCW);
        int type = co_await readHeader();
        // A ZRINIT here is either the receiver's ready frame sent twice (rz
        // does, answering both our "rz" and our ZRQINIT) or a sign that it
        // missed the ZFILE. Its answer to the ZFILE may be on its way, so a
        // header that starts is read; only a line that keeps quiet gets the
        // ZFILE again.
        for (int more = 0; type == ZRINIT && more < 10; ++more) {
            int c = co_await readByte(kQuietMs);
            while (c >= 0 && c != ZPAD)
                c = co_await readByte(kQuietMs);
            if (c < 0)
                break;
            type = co_await readHeader(c);
        }
        if (type == ZRINIT || type == kTimeout || type == kBadCrc || type == kBadData)
            continue;
        if (type == kCancelled || type == kGarbage)
            break;
        if (type != ZRPOS) {
            m_file.reset();
            m_host.fileEnded(false);
            m_host.message("Receiving side requested to skip file...");
            co_return 0;
        }
        position = seek(headerPosition(m_rxHeader));
        m_host.progress(position, 0);
        accepted = true;
    }
    (void)source;
    if (!accepted) {
        m_file.reset();
        m_host.fileEnded(false);
        m_host.cancelTransfer();
        co_return 1;
    }

    m_length = kMaxSubpacket;
    for (int eofs = 0; eofs < 10;) {
        const int r = co_await sendData(position);
        if (r == kDataFailed)
            break;
        if (r == kDataSkip) {
            m_file.reset();
            m_host.fileEnded(false);
            co_return 0;
        }
        if (r == kDataComplete) {
            m_file.reset();
            m_host.fileEnded(true);
            co_return 0;
        }
        bool resume = false;
        while (!resume && eofs < 10) {
            ++eofs;
            sendBinary(ZEOF, positionHeader(position));
            const int type = co_await readHeader();
            if (type == ZRINIT) {
                m_file.reset();
                m_host.fileEnded(true);
                co_return 0;
            }
            if (type == ZACK)
                continue;
            if (type == ZSKIP) {
                m_host.message("Skipping file...");
                m_file.reset();
                m_host.fileEnded(false);
                co_return 0;
            }
            if (type != ZRPOS) {
                eofs = 10;
                break;
            }
            position = seek(headerPosition(m_rxHeader));
            m_host.progress(position, 0);
            resume = true;
        }
        if (!resume)
            break;
    }
    m_file.reset();
    m_host.fileEnded(false);
    m_host.cancelTransfer();
    co_return 1;
}

Task ZModem::finishSession()
{
    for (int i = 0; i < 10; ++i) {
        sendHex(ZFIN);
        const int type = co_await readHeader();
        if (type == ZFIN || type == ZCAN || type == kCancelled)
            break;
    }
    const std::uint8_t over[2] = {'O', 'O'};
    m_host.write(over, 2);
    m_host.drainOutput();
    co_return 0;
}

Task ZModem::sender()
{
    bool failed = false;
    for (;;) {
        FileNames names;
        m_host.prepare(names, true);
        if (names.source.empty())
            break;
        m_sourcePath = names.source;
        m_file = m_host.openSource(names.source);
        m_filePosition = 0;
        if (!m_file) {
            m_host.message("Cannot open file, skipping...");
            m_host.fileEnded(false);
            failed = true;
            break;
        }
        m_host.discardInput();
        const std::uint8_t start[3] = {'r', 'z', '\r'};
        m_host.write(start, 3);
        m_fileSize = m_file->size();
        m_host.fileSize(m_fileSize);
        if (co_await waitForReceiver() != 0) {
            m_file.reset();
            m_host.fileEnded(false);
            m_host.cancelTransfer();
            co_return 1;
        }
        if (co_await sendFile(names.source, names.destination.empty() ? names.source : names.destination) != 0)
            co_return 1;
    }
    co_await finishSession();
    co_return failed ? 1 : 0;
}

// ---- Receiving -------------------------------------------------------------

// The string the sender asked for to interrupt it: a break byte holds a
// break for a second, a pause byte waits a second, the rest go out as they
// are.
void ZModem::sendAttention()
{
    for (char ch : m_attention) {
        const auto b = std::uint8_t(ch);
        if (b == kAttentionBreak) {
            m_host.pause(kAttentionWaitMs);
            m_host.setBreak(true);
            m_host.pause(kAttentionWaitMs);
            m_host.setBreak(false);
        } else if (b == kAttentionPause) {
            m_host.pause(kAttentionWaitMs);
        } else {
            send(b);
        }
    }
}

// Once our ZFIN answers the sender's, every file is complete: the closing
// "OO" is waited for briefly, since lrzsz's sz flushes its tty as it exits
// and on a pseudo-terminal that often throws the "OO" away.
Task ZModem::endSession()
{
    m_host.message("Ending file transfer");
    for (int i = 0; i < 3; ++i) {
        sendHex(ZFIN);
        int others = 0;
        for (;;) {
            const int c = co_await readByte(kFinishWaitMs);
            if (c < 0)
                co_return 0;
            if (c == 'O') {
                co_await readByte(kFinishWaitMs);
                co_return 0;
            }
            // A hex header ends with its line feed: the sender repeated its
            // ZFIN because ours got lost, so it is answered again.
            if ((c & 0x7F) == '\n')
                break;
            if (++others > 64)
                co_return 0;
        }
    }
    co_return 0;
}

// Results of receiveFile.
namespace {
constexpr int kFileNext = 0;     // back to ZRINIT for the next file
constexpr int kFileFailed = 1;   // the transfer ends with failure
constexpr int kFileSkipped = 2;  // answered ZSKIP: the sender goes on with its next file
}  // namespace

Task ZModem::receiveFile()
{
    const FileInformation info = parseFileInformation(m_data.data(), m_dataLength);
    FileNames names{info.name, info.name};
    // Crash recovery: the sender wants the data from the length of the
    // file we already have, when the engine agrees there is one.
    names.resume = (m_rxHeader[ZF0] & 0x7F) == ZCRECOV;
    names.size = info.hasSize ? info.size : ~std::uint64_t(0);
    m_host.prepare(names, false);
    m_host.fileSize(info.hasSize ? info.size : kUnknownSize);
    std::uint64_t have = 0;
    m_sink.reset();
    if (!names.destination.empty() && names.resume)
        m_sink = m_host.appendSink(names.destination, have);
    if (!m_sink && !names.destination.empty()) {
        have = 0;
        m_sink = m_host.createSink(names.destination);
    }
    if (!m_sink) {
        // A ZRINIT here would only make the sender offer the file again:
        // it is told to skip it, and the batch goes on.
        m_fileFailure = "Cannot create " + (names.destination.empty() ? info.name : names.destination);
        m_host.message(m_fileFailure);
        sendHex(ZSKIP);
        m_host.fileEnded(false);
        co_return kFileSkipped;
    }
    m_rxPosition = std::uint32_t(have);
    if (have > 0)
        m_host.progress(have, 0);
    int errors = 0;
    bool askPosition = true;
    for (;;) {
        if (m_host.abortRequested()) {
            m_sink->close();
            m_sink.reset();
            m_host.fileEnded(false);
            co_return kFileFailed;
        }
        if (askPosition)
            sendHex(ZRPOS, positionHeader(m_rxPosition));
        askPosition = false;
        bool error = false;
        const int type = co_await readHeader();
        if (type == ZDATA && headerPosition(m_rxHeader) == m_rxPosition) {
            for (;;) {
                const int end = co_await readSubpacket(kMaxSubpacket);
                if (end == kCancelled) {
                    m_host.message("Sender Canceled");
                    m_sink->close();
                    m_sink.reset();
                    m_host.fileEnded(false);
                    co_return kFileFailed;
                }
                if (end < 0) {
                    error = true;
                    break;
                }
                if (m_dataLength > 0 && !m_sink->write(m_data.data(), m_dataLength)) {
                    m_host.message("Cannot write file");
                    m_sink->close();
                    m_sink.reset();
                    m_host.fileEnded(false);
                    co_return kFileFailed;
                }
                m_rxPosition += std::uint32_t(m_dataLength);
                m_host.progress(m_rxPosition, std::uint32_t(m_dataLength));
                errors = 0;
                if (end == ZCRCG)
                    continue;
                if (end == ZCRCQ) {
                    sendHex(ZACK, positionHeader(m_rxPosition));
                    continue;
                }
                if (end == ZCRCW) {
                    sendHex(ZACK, positionHeader(m_rxPosition));
                    send(XON);
                }
                break;  // ZCRCE and ZCRCW: a header comes next
            }
        } else if (type == ZEOF && headerPosition(m_rxHeader) == m_rxPosition) {
            const bool closed = m_sink->close();
            m_sink.reset();
            if (!closed) {
                sendHex(ZFERR);
                m_host.fileEnded(false);
                co_return kFileFailed;
            }
            m_host.fileEnded(true);
            co_return kFileNext;
        } else if (type == ZSKIP) {
            m_sink->close();
            m_sink.reset();
            m_host.fileEnded(false);
            co_return kFileNext;
        } else if (type == ZCAN || type == kCancelled) {
            m_host.message("Sender Canceled");
            m_sink->close();
            m_sink.reset();
            m_host.fileEnded(false);
            co_return kFileFailed;
        } else {
            // A data frame at another position, a header out of turn, a
            // broken header or silence.
            if (type == kTimeout)
                m_host.message("TIMEOUT");
            error = true;
        }
        if (error) {
            if (++errors > kDataErrors) {
                m_sink->close();
                m_sink.reset();
                m_host.fileEnded(false);
                co_return kFileFailed;
            }
            sendAttention();
            askPosition = true;
        }
    }
}

Task ZModem::receiver()
{
    Header capabilities{};
    capabilities[ZF0] = CANFDX | CANOVIO;  // buffer size 0: no limit
    int attempts = 0;
    while (attempts < kReceiverAttempts) {
        if (m_host.abortRequested())
            co_return 1;
        sendHex(ZRINIT, capabilities);
        ++attempts;
        bool newAttempt = false;
        for (int headers = 0; headers < 64 && !newAttempt; ++headers) {
            const int type = co_await readHeader();
            switch (type) {
            case ZSINIT: {
                const std::uint8_t flags = m_rxHeader[ZF0];
                const int end = co_await readSubpacket(kAttentionMax);
                if (end < 0) {
                    sendHex(ZNAK);
                    break;
                }
                m_attention.assign(reinterpret_cast<const char*>(m_data.data()), m_dataLength);
                m_attention = m_attention.c_str();
                m_out.setEscapeAll((flags & ESCCTL) != 0);
                sendHex(ZACK, positionHeader(1));
                break;
            }
            case ZFILE: {
                const int end = co_await readSubpacket(kMaxSubpacket);
                if (end < 0) {
                    sendHex(ZNAK);
                    break;
                }
                const int r = co_await receiveFile();
                if (r == kFileFailed)
                    co_return 1;
                attempts = 0;
                newAttempt = r == kFileNext;
                break;
            }
            case ZFREECNT: sendHex(ZACK, positionHeader(0xFFFFFFFFu)); break;
            case ZCOMMAND: {
                // Never run: the far end is told it completed, then the
                // session ends.
                const int end = co_await readSubpacket(kMaxSubpacket);
                if (end < 0) {
                    newAttempt = true;
                    break;
                }
                for (int i = 0; i < 20; ++i) {
                    sendHex(ZCOMPL);
                    if (co_await readHeader() == ZFIN) {
                        co_await endSession();
                        co_return 0;
                    }
                }
                co_return 1;
            }
            case ZCHALLENGE: break;
            case ZFIN:
                co_await endSession();
                if (m_fileFailure.empty())
                    co_return 0;
                // Every other file arrived; the reason for the one that
                // did not is the transfer's last word.
                m_host.message(m_fileFailure);
                co_return 1;
            case ZCAN:
            case kCancelled: m_host.message("Sender Canceled"); co_return 1;
            default: newAttempt = true; break;
            }
        }
    }
    co_return 1;
}

}  // namespace xfer
