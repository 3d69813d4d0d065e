#include "xymodem.h"

#include <algorithm>
#include <cstdio>

namespace xfer {

XyFlags xyFlagsFor(int protocol)
{
    XyFlags f;
    switch (protocol) {
    case Protocol_XModemCrc: f.crc = true; f.startChar = WantCrc; break;
    case Protocol_XModem1K: f.crc = f.oneK = true; f.startChar = WantCrc; break;
    case Protocol_YModem: f.crc = f.batch = f.oneK = true; f.startChar = WantCrc; break;
    case Protocol_YModemG: f.crc = f.batch = f.streaming = f.oneK = true; f.startChar = WantStreaming; break;
    default: break;
    }
    return f;
}

XyModem::XyModem(ProtocolHost& host, int protocol, bool sending)
    : m_host(host), m_flags(xyFlagsFor(protocol)), m_sending(sending)
{
}

Task XyModem::run()
{
    if (m_sending)
        co_return co_await sender();
    if (m_flags.batch)
        co_return co_await ymodemReceiver();
    co_return co_await xmodemReceiver();
}

bool XyModem::cancelled()
{
    if (!m_cancelled && m_host.abortRequested())
        m_cancelled = true;
    return m_cancelled;
}

// ---- Sending ---------------------------------------------------------------

// The receiver's start character, or -1 when the transfer got cancelled.
Task XyModem::waitForStart()
{
    for (;;) {
        if (cancelled())
            co_return -1;
        const int b = co_await readByte(kStartPollMs);
        if (b == NAK || b == WantCrc || b == WantStreaming || b == CAN)
            co_return b;
        // Counted over the whole transfer, not per file.
        if (++m_startPolls >= kStartPolls) {
            m_host.message("Receiver never initiated transfer, cancelling...");
            m_cancelled = true;
            m_host.cancelTransfer();
            co_return -1;
        }
    }
}

// What arrived before the file was ready is stale and read away, except a
// start character at its end: a receiver started before us asks once and
// then waits seconds (rx ten) before it asks again. The character, or -1.
Task XyModem::waitingStart()
{
    int last = -1;
    for (int i = 0; i < kStaleBytes; ++i) {
        const int b = co_await readByte(0);
        if (b < 0)
            break;
        last = b;
    }
    m_host.discardInput();
    co_return last == NAK || last == WantCrc || last == WantStreaming ? last : -1;
}

// 0 when the block was acknowledged (or streamed), 1 when it failed.
Task XyModem::sendBlock(const std::uint8_t* data, std::size_t size, std::uint8_t number)
{
    const std::vector<std::uint8_t> frame = frameBlock(number, data, size, m_flags.crc);
    for (int attempt = 0; attempt < kBlockSends; ++attempt) {
        m_host.write(frame.data(), frame.size());
        m_host.drainOutput();
        if (m_flags.streaming && !m_firstBlock)
            co_return 0;
        bool firstRead = true;
        int previous = -1;
        for (;;) {
            const int b = co_await readByte(kAnswerTimeoutMs);
            if (b < 0) {
                if (firstRead)
                    m_host.message("Timeout on sector ACK");
                break;
            }
            firstRead = false;
            if (b == ACK || b == WantCrc || b == WantStreaming) {
                if (b != ACK && m_firstBlock)
                    m_flags.crc = true;
                m_firstBlock = false;
                if (b == ACK)
                    m_host.message("");
                if (attempt > 0)
                    co_return co_await settleAfterResend();
                co_return 0;
            }
            if (b == NAK) {
                m_host.message("Received NAK on sector");
                break;
            }
            if (b == CAN && previous == CAN) {
                m_host.message("Canceled");
                co_return 1;
            }
            previous = b;
        }
    }
    m_host.message("Too many errors");
    co_return 1;
}

// A block that went out more than once may be answered once per copy: a
// receiver that timed out as our own wait ran out NAKs while our resend is
// already under way, and then acknowledges both copies. The late ACK must
// not pass for the next block's, or that block is taken as delivered while
// the receiver still waits for it (lrzsz's rx, which also flushes its input
// after every ACK, then gives up with a sync error). So the line is read
// until it keeps quiet; 0, or 1 when the receiver cancelled meanwhile.
Task XyModem::settleAfterResend()
{
    int previous = -1;
    for (int i = 0; i < kSettleBytes; ++i) {
        const int b = co_await readByte(kSettleQuietMs);
        if (b < 0)
            break;
        if (b == CAN && previous == CAN) {
            m_host.message("Canceled");
            co_return 1;
        }
        previous = b;
    }
    co_return 0;
}

// 0 when one of the EOTs was acknowledged.
Task XyModem::sendEot()
{
    m_host.drainOutput();
    for (int i = 0; i < kEotSends; ++i) {
        send(EOT);
        m_host.drainOutput();
        for (;;) {
            const int b = co_await readByte(kAnswerTimeoutMs);
            if (b == ACK)
                co_return 0;
            if (b < 0 || b == NAK)
                break;
        }
    }
    co_return 1;
}

Task XyModem::sender()
{
    m_blockSize = m_flags.oneK ? 1024 : 128;
    for (;;) {
        FileNames names;
        m_host.prepare(names, true);
        if (names.source.empty())
            break;
        int start = co_await waitingStart();
        if (start < 0)
            start = co_await waitForStart();
        if (start < 0)
            break;
        m_host.clearFields();
        if (start == CAN) {
            m_host.message("Receiver canceled");
            m_cancelled = true;
            m_host.cancelTransfer();
            m_host.fileEnded(false);
            break;
        }

        if (m_flags.batch) {
            std::unique_ptr<FileSource> probe = m_host.openSource(names.source);
            if (!probe) {
                m_host.message("Unable to open file, skipping...");
                m_host.fileEnded(false);
                if (cancelled())
                    break;
                continue;
            }
            if (start != NAK)
                m_flags.crc = true;
            const auto header = ymodemHeader(nameWithoutFolder(names.destination), probe->size());
            m_firstBlock = true;
            if (co_await sendBlock(header.data(), header.size(), 0) != 0) {
                m_cancelled = true;
                m_host.cancelTransfer();
                m_host.fileEnded(false);
                break;
            }
            if (!m_flags.streaming) {
                start = co_await waitForStart();
                if (start < 0)
                    break;
            }
        }

        std::unique_ptr<FileSource> file = m_host.openSource(names.source);
        if (!file) {
            m_host.message("Cannot open file, skipping..");
            m_host.fileEnded(false);
            continue;
        }
        const std::uint64_t size = file->size();
        m_host.fileSize(size);
        if (start == WantCrc || start == WantStreaming)
            m_flags.crc = true;
        if (start == CAN) {
            m_host.message("Receiver canceled");
            m_cancelled = true;
            m_host.cancelTransfer();
            m_host.fileEnded(false);
            break;
        }

        std::size_t blockSize = m_blockSize;
        std::uint64_t read = 0, sent = 0;
        std::uint8_t number = 1;
        bool failed = false;
        m_firstBlock = true;
        while (!cancelled()) {
            if (size - std::min(read, size) <= 896)
                blockSize = 128;
            std::fill_n(m_block.begin(), blockSize, SUB);
            const std::size_t n = file->read(m_block.data(), blockSize);
            if (n == 0)
                break;
            read += n;
            if (co_await sendBlock(m_block.data(), blockSize, number) != 0) {
                failed = true;
                break;
            }
            ++number;
            sent += blockSize;
            m_host.progress(sent, std::uint32_t(blockSize));
        }
        file.reset();
        if (failed || m_cancelled) {
            m_cancelled = true;
            m_host.cancelTransfer();
            m_host.fileEnded(false);
            break;
        }
        if (co_await sendEot() != 0) {
            m_host.message("No ACK on EOT");
            m_cancelled = true;
            m_host.cancelTransfer();
            m_host.fileEnded(false);
            break;
        }
        m_host.fileEnded(true);
    }
    if (m_flags.batch && !m_cancelled) {
        // The receiver asks for every header, the closing empty one too.
        if (co_await waitForStart() >= 0) {
            const auto end = ymodemHeader("", 0);
            m_firstBlock = true;
            // Every file was acknowledged already: a closing block that
            // gets no answer (lrzsz's rb may exit and flush its ACK away)
            // does not undo them.
            co_await sendBlock(end.data(), end.size(), 0);
        }
    }
    co_return m_cancelled ? 1 : 0;
}

// ---- Receiving -------------------------------------------------------------

void XyModem::protocolCancel()
{
    for (int i = 0; i < 10; ++i)
        send(CAN);
    for (int i = 0; i < 10; ++i)
        send(BS);
    send(0);
    m_host.drainOutput();
}

// A block number (data in m_block, size in m_blockSize), kBlockEot, or
// kBlockFailed.
Task XyModem::receiveBlock(std::uint32_t firstTimeoutMs)
{
    int errors = 0;
    bool sawCan = false;
    for (;;) {
        if (cancelled()) {
            protocolCancel();
            co_return kBlockFailed;
        }
        const int b = co_await readByte(firstTimeoutMs);
        if (b == SOH || b == STX) {
            m_blockSize = b == STX ? 1024 : 128;
            const int number = co_await readByte(kInBlockTimeoutMs);
            int complement = -1;
            if (number >= 0)
                complement = co_await readByte(kInBlockTimeoutMs);
            bool good = true;
            if (number < 0 || complement < 0 || number + complement != 255) {
                m_host.message("Sector number garbled");
                good = false;
            }
            bool complete = number >= 0 && complement >= 0;
            for (std::size_t i = 0; complete && i < m_blockSize; ++i) {
                const int d = co_await readByte(kInBlockTimeoutMs);
                if (d < 0)
                    complete = false;
                else
                    m_block[i] = std::uint8_t(d);
            }
            if (complete) {
                if (m_flags.crc) {
                    const int hi = co_await readByte(kInBlockTimeoutMs);
                    int lo = -1;
                    if (hi >= 0)
                        lo = co_await readByte(kInBlockTimeoutMs);
                    if (lo < 0) {
                        complete = false;
                    } else if (good) {
                        const std::uint8_t check[2] = {std::uint8_t(hi), std::uint8_t(lo)};
                        if (crc16(check, 2, crc16(m_block.data(), m_blockSize)) != 0) {
                            m_host.message("CRC error");
                            good = false;
                        }
                    }
                } else {
                    const int sum = co_await readByte(kInBlockTimeoutMs);
                    if (sum < 0) {
                        complete = false;
                    } else if (good && std::uint8_t(sum) != checksum8(m_block.data(), m_blockSize)) {
                        m_host.message("Checksum error");
                        good = false;
                    }
                }
            }
            if (!complete && good) {
                m_host.message("Timeout");
                good = false;
            }
            if (good) {
                m_firstBlock = false;
                co_return number;
            }
        } else if (b == EOT) {
            m_firstBlock = false;
            co_return kBlockEot;
        } else if (b == CAN) {
            if (sawCan) {
                m_host.message("Sender canceled");
                co_return kBlockFailed;
            }
            sawCan = true;
            if (++errors >= kBlockErrors) {
                protocolCancel();
                co_return kBlockFailed;
            }
            continue;
        } else if (b < 0 && !m_firstBlock) {
            m_host.message("Timeout");
        }
        // Any error but a first CAN.
        sawCan = false;
        if (++errors >= kBlockErrors) {
            protocolCancel();
            co_return kBlockFailed;
        }
        m_host.discardInput();
        if (m_firstBlock)
            send(m_flags.startChar);
        else if (!m_flags.streaming)
            send(NAK);
    }
}

// 0 when the file's data came through to its EOT.
Task XyModem::receiveData(FileSink& file, std::uint64_t size)
{
    std::uint8_t answer = m_flags.startChar;
    std::uint32_t counter = 0;
    std::uint64_t remaining = size;
    std::uint64_t written = 0;
    int duplicates = 0;
    for (;;) {
        if (!m_flags.streaming) {
            send(answer);
        } else if (m_firstBlock) {
            send(answer);
            m_firstBlock = false;
        }
        const int number = co_await receiveBlock(counter % 128 == 0 ? kAnswerTimeoutMs : kLaterBlockTimeoutMs);
        if (number == kBlockFailed)
            co_return 1;
        if (number == kBlockEot) {
            const bool closed = file.close();
            send(ACK);
            if (!closed) {
                m_host.message("Cannot write file");
                co_return 1;
            }
            co_return 0;
        }
        if (number == int((counter + 1) & 0xFF)) {
            ++counter;
            const std::size_t n = std::size_t(std::min<std::uint64_t>(remaining, m_blockSize));
            written += n;
            m_host.progress(written, std::uint32_t(n));
            if (!file.write(m_block.data(), n)) {
                m_host.message("Cannot write file");
                co_return 1;
            }
            remaining -= n;
            m_host.message("");
            answer = ACK;
        } else if (number == int(counter & 0xFF)) {
            char text[64];
            std::snprintf(text, sizeof text, "Received duplicate sector: %u", counter);
            m_host.message(text);
            answer = ACK;
            if (++duplicates > kDuplicatesAllowed)
                co_return 1;
        } else {
            m_host.message("Out of sync");
            co_return 1;
        }
    }
}

Task XyModem::xmodemReceiver()
{
    m_host.clearFields();
    FileNames names;
    m_host.prepare(names, false);
    std::unique_ptr<FileSink> file = m_host.createSink(names.destination);
    if (!file) {
        m_host.message("Cannot create file");
        m_host.fileEnded(false);
        co_return 1;
    }
    m_firstBlock = true;
    if (co_await receiveData(*file, kUnknownSize) == 0) {
        m_host.fileEnded(true);
        co_return 0;
    }
    m_host.fileEnded(false);
    protocolCancel();
    file->close();
    co_return 1;
}

Task XyModem::ymodemReceiver()
{
    for (;;) {
        if (cancelled()) {
            protocolCancel();
            co_return 1;
        }
        m_host.clearFields();
        m_firstBlock = true;
        send(m_flags.startChar);
        const int number = co_await receiveBlock(kAnswerTimeoutMs);
        if (number == kBlockFailed)
            co_return 1;
        if (number == kBlockEot) {
            // A sender still closing the previous file: acknowledge and ask again.
            send(ACK);
            co_await readByte(kInBlockTimeoutMs);
            continue;
        }
        send(ACK);
        const YmodemHeader header = parseYmodemHeader(m_block.data(), m_blockSize);
        if (header.name.empty())
            co_return 0;
        FileNames names{header.name, header.name};
        m_host.prepare(names, false);
        const std::uint64_t size = header.size.value_or(kUnknownSize);
        m_host.fileSize(size);
        std::unique_ptr<FileSink> file = m_host.createSink(names.destination);
        if (!file) {
            m_host.message("Cannot create file");
            m_host.fileEnded(false);
            protocolCancel();
            co_return 1;
        }
        m_firstBlock = true;
        if (co_await receiveData(*file, size) != 0) {
            m_host.fileEnded(false);
            protocolCancel();
            file->close();
            co_return 1;
        }
        m_host.fileEnded(true);
    }
}

}  // namespace xfer
