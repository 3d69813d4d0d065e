#include "kermit.h"

#include "xmodem_frame.h"

namespace xfer {

using namespace kermit;

Kermit::Kermit(ProtocolHost& host, bool sending) : m_host(host), m_sending(sending) {}

Task Kermit::run()
{
    if (m_sending)
        co_return co_await sender();
    co_return co_await receiver();
}

// ---- Packets ---------------------------------------------------------------

Task Kermit::readPacket()
{
    // Waiting for the SOH, the line may carry text besides packets: a
    // peer's banner, or C-Kermit's "kermit -ir" that starts a receiver at
    // a shell. Such bytes are skipped up to a bound; quiet reads are what
    // cancels a transfer whose peer has gone.
    int b = -1;
    for (int quiet = 0, stray = 0; b != kMark;) {
        if (quiet == kMarkReads || stray == kStrayBytes) {
            m_host.cancelTransfer();
            co_return kLineQuiet;
        }
        b = co_await readByte(kReadMs);
        if (b < 0)
            ++quiet;
        else if (b != kMark)
            ++stray;
    }
    // From here a SOH starts the packet again. The packet is kept from LEN
    // to CHECK: LEN, SEQ and TYPE, then LEN - 35 data characters.
    std::uint8_t packet[kMaxLength + 1];
    for (int have = 0, need = 3;;) {
        b = co_await readByte(kReadMs);
        if (b < 0)
            co_return kNoPacket;
        if (b == kMark) {
            have = 0;
            need = 3;
            continue;
        }
        packet[have++] = std::uint8_t(b);
        if (have == 2) {
            const int length = unchar(packet[0]);
            if (length < 3 || length > kMaxLength || unchar(packet[1]) < 0 || unchar(packet[1]) > 63)
                co_return kNoPacket;
            need = length + 1;
        }
        if (have == need)
            break;
    }
    const int n = unchar(packet[0]) - 3;
    if (packet[3 + n] != blockCheck(packet, std::size_t(3 + n)))
        co_return kNoPacket;
    m_seq = unchar(packet[1]);
    m_data.assign(reinterpret_cast<const char*>(packet + 3), std::size_t(n));
    co_return packet[2];
}

bool Kermit::sendPacket(std::uint8_t type, int seq, const std::string& data)
{
    const auto bytes = framePacket(type, seq, reinterpret_cast<const std::uint8_t*>(data.data()), data.size(), m_far);
    return m_host.write(bytes.data(), bytes.size());
}

bool Kermit::ackOf(int type) const
{
    return (type == 'Y' && m_seq == m_n) || (type == 'N' && m_seq == next(m_n));
}

void Kermit::errorPacket()
{
    const std::string text = decodeField(reinterpret_cast<const std::uint8_t*>(m_data.data()), m_data.size(), m_far.qctl);
    say("Aborting:\n" + text + "\n");
}

void Kermit::say(const std::string& text)
{
    m_host.message(text);
    m_messageShown = !text.empty();
}

void Kermit::closeFile(bool ok)
{
    const bool open = m_source || m_sink;
    m_source.reset();
    if (m_sink) {
        m_sink->close();
        m_sink.reset();
    }
    if (open)
        m_host.fileEnded(ok);
}

// ---- Sending ---------------------------------------------------------------

// Settles and opens the next queued file. False when none is left (only
// after the first) or when it cannot be opened, which gives the transfer up.
bool Kermit::openNextFile(bool first)
{
    m_names = {};
    m_host.prepare(m_names, true);
    if (m_names.source.empty() && !first) {
        m_state = State::Break;
        return false;
    }
    m_source = m_names.source.empty() ? nullptr : m_host.openSource(m_names.source);
    if (!m_source) {
        say("Cannot open file, skipping...");
        say("Cannot open file " + m_names.source);
        m_state = State::Abort;
        return false;
    }
    m_host.clearFields();
    m_host.fileSize(m_source->size());
    say("Sending " + nameWithoutFolder(m_names.source));
    m_bytes = 0;
    m_bufferPos = m_bufferLen = 0;
    m_endOfFile = false;
    m_state = State::File;
    return true;
}

// The next data field from the file; false at its end.
bool Kermit::fillNextField()
{
    m_field.clear();
    m_fieldBytes = 0;
    const std::size_t limit = std::size_t(m_far.maxLength - kFieldReserve);
    while (m_field.size() < limit) {
        if (m_bufferPos == m_bufferLen) {
            if (m_endOfFile)
                break;
            m_bufferLen = m_source->read(m_buffer.data(), m_buffer.size());
            m_bufferPos = 0;
            if (m_bufferLen == 0) {
                m_endOfFile = true;
                break;
            }
        }
        const std::size_t taken = fillField(m_buffer.data() + m_bufferPos, m_bufferLen - m_bufferPos, limit, m_field);
        m_bufferPos += taken;
        m_fieldBytes += taken;
    }
    return m_fieldBytes > 0;
}

Task Kermit::sender()
{
    m_far = Parameters{};  // EOL CR, "#", no padding until the far end says otherwise
    m_state = State::Init;
    m_n = m_tries = 0;
    while (m_state != State::Complete && m_state != State::Abort) {
        if (m_host.abortRequested()) {
            m_state = State::Abort;
            break;
        }
        if (m_tries++ > kMaxTries) {
            m_state = State::Abort;
            break;
        }
        switch (m_state) {
        case State::Init: {
            m_host.discardInput();
            if (!sendPacket('S', m_n, ownParameters()))
                break;
            const int type = co_await readPacket();
            if (type == 'Y' && m_seq == m_n) {
                m_far = parseParameters(reinterpret_cast<const std::uint8_t*>(m_data.data()), m_data.size());
                m_n = next(m_n);
                m_tries = 0;
                openNextFile(true);
            } else if (type == 'E') {
                errorPacket();
                m_state = State::Abort;
            } else if (type != kNoPacket && type != 'N' && type != 'Y') {
                m_state = State::Abort;
            }
            break;
        }
        case State::File: {
            std::string name;
            const std::string bare = nameWithoutFolder(m_names.destination.empty() ? m_names.source : m_names.destination);
            fillField(reinterpret_cast<const std::uint8_t*>(bare.data()), bare.size(),
                      std::size_t(m_far.maxLength - kFieldReserve), name);
            if (!sendPacket('F', m_n, name))
                break;
            const int type = co_await readPacket();
            if (ackOf(type)) {
                m_n = next(m_n);
                m_tries = 0;
                m_state = fillNextField() ? State::Data : State::Eof;
            } else if (type == 'E') {
                errorPacket();
                m_state = State::Abort;
            } else if (type != kNoPacket && type != 'N' && type != 'Y') {
                // A stale acknowledgement (a repeated S answered twice) is
                // no reason to give up; anything else is.
                m_state = State::Abort;
            }
            break;
        }
        case State::Data: {
            if (!sendPacket('D', m_n, m_field))
                break;
            const int type = co_await readPacket();
            if (ackOf(type)) {
                m_n = next(m_n);
                m_tries = 0;
                m_bytes += m_fieldBytes;
                m_host.progress(m_bytes, std::uint32_t(m_fieldBytes));
                if (m_messageShown)
                    say("");
                if (!fillNextField())
                    m_state = State::Eof;
            } else if (type == 'E') {
                errorPacket();
                m_state = State::Abort;
            } else if (type == kLineQuiet) {
                m_state = State::Abort;
            }
            break;
        }
        case State::Eof: {
            if (!sendPacket('Z', m_n))
                break;
            const int type = co_await readPacket();
            if (ackOf(type)) {
                closeFile(true);
                m_n = next(m_n);
                m_tries = 0;
                openNextFile(false);
            } else if (type == 'E') {
                errorPacket();
                m_state = State::Abort;
            } else if (type != kNoPacket && type != 'N' && type != 'Y') {
                m_state = State::Abort;
            }
            break;
        }
        case State::Break: {
            if (!sendPacket('B', m_n))
                break;
            const int type = co_await readPacket();
            if (ackOf(type)) {
                m_n = next(m_n);
                m_state = State::Complete;
            } else if (type == 'E') {
                errorPacket();
                m_state = State::Abort;
            } else if (type != kNoPacket && type != 'N' && type != 'Y') {
                m_state = State::Abort;
            }
            break;
        }
        default: break;
        }
    }
    if (m_state == State::Abort) {
        closeFile(false);
        co_return 1;
    }
    co_return 0;
}

// ---- Receiving -------------------------------------------------------------

Task Kermit::receiver()
{
    m_far = Parameters{};
    m_state = State::Init;
    m_n = m_tries = m_oldTries = 0;
    while (m_state != State::Complete && m_state != State::Abort) {
        if (m_host.abortRequested() || m_tries++ > kMaxTries) {
            m_state = State::Abort;
            break;
        }
        const int type = co_await readPacket();
        if (type == kLineQuiet) {
            m_state = State::Abort;
            break;
        }
        if (type == kNoPacket) {
            sendPacket('N', m_n);
            continue;
        }
        if (type == 'E') {
            errorPacket();
            m_state = State::Abort;
            break;
        }
        const bool current = m_seq == m_n;
        const bool repeat = m_seq == previous(m_n);
        switch (m_state) {
        case State::Init:
            if (type != 'S') {
                m_state = State::Abort;
                break;
            }
            m_far = parseParameters(reinterpret_cast<const std::uint8_t*>(m_data.data()), m_data.size());
            sendAck(m_n, ownParameters());
            m_oldTries = m_tries;
            m_tries = 0;
            m_n = next(m_n);
            m_state = State::File;
            break;
        case State::File:
            if (type == 'F' && current) {
                std::string name = decodeField(reinterpret_cast<const std::uint8_t*>(m_data.data()), m_data.size(), m_far.qctl);
                // A zero byte would end the name early at the file system.
                name = name.substr(0, name.find('\0'));
                m_names = FileNames{name, name};
                m_host.clearFields();
                m_host.prepare(m_names, false);
                m_sink = m_names.destination.empty() ? nullptr : m_host.createSink(m_names.destination);
                if (!m_sink) {
                    say("Cannot create " + (m_names.destination.empty() ? name : m_names.destination));
                    m_state = State::Abort;
                    break;
                }
                m_bytes = 0;
                say("Receiving " + nameWithoutFolder(m_names.destination));
                sendAck(m_n);
                m_oldTries = m_tries;
                m_tries = 0;
                m_n = next(m_n);
                m_state = State::Data;
            } else if (type == 'B' && current) {
                sendAck(m_n);
                m_state = State::Complete;
            } else if ((type == 'S' || type == 'Z') && repeat) {
                if (m_oldTries++ > kMaxTries) {
                    m_state = State::Abort;
                    break;
                }
                sendAck(m_seq, type == 'S' ? ownParameters() : std::string());
                m_tries = 0;
            } else {
                m_state = State::Abort;
            }
            break;
        case State::Data:
            if (type == 'D' && current) {
                const std::string bytes = decodeField(reinterpret_cast<const std::uint8_t*>(m_data.data()), m_data.size(), m_far.qctl);
                if (!m_sink->write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())) {
                    say("Cannot write file");
                    m_state = State::Abort;
                    break;
                }
                m_bytes += bytes.size();
                m_host.progress(m_bytes, std::uint32_t(bytes.size()));
                sendAck(m_n);
                m_oldTries = m_tries;
                m_tries = 0;
                m_n = next(m_n);
            } else if ((type == 'D' || type == 'F') && repeat) {
                if (m_oldTries++ > kMaxTries) {
                    m_state = State::Abort;
                    break;
                }
                sendAck(m_seq);
                m_tries = 0;
            } else if (type == 'Z' && current) {
                sendAck(m_n);
                const bool closed = m_sink->close();
                m_sink.reset();
                m_n = next(m_n);
                m_tries = 0;
                if (!closed) {
                    say("Cannot write file");
                    m_host.fileEnded(false);
                    m_state = State::Abort;
                    break;
                }
                // "D" in the Z means the sender gave this file up: what
                // came stays, but the file did not go through.
                m_host.fileEnded(m_data != "D");
                m_state = State::File;
            } else {
                m_state = State::Abort;
            }
            break;
        default: break;
        }
    }
    if (m_state == State::Abort) {
        closeFile(false);
        co_return 1;
    }
    co_return 0;
}

}  // namespace xfer
