// Basic Kermit as one byte-fed machine: short packets with the
// one-character check, "#" control prefixing, one packet outstanding.
// The sender runs the states S, F, D, Z, B over the engine's queued files;
// the receiver runs R, F, D until the far end's B.
#pragma once

#include "kermit_packet.h"
#include "protocol.h"

#include <array>
#include <memory>
#include <string>

namespace xfer {

namespace kermit {
inline constexpr std::uint32_t kReadMs = 1000;   // each byte of a packet, and each wait for its SOH
inline constexpr int kMarkReads = 10;            // quiet reads without a SOH that cancel the transfer
inline constexpr int kStrayBytes = 1024;         // bytes other than SOH that do the same
inline constexpr int kMaxTries = 10;             // a packet may be tried this often and once more

// Results of reading a packet besides its type character.
inline constexpr int kNoPacket = 0;     // broken, cut short or failing its check
inline constexpr int kLineQuiet = -1;   // no SOH within the reads: the transfer is cancelled
}  // namespace kermit

class Kermit : public ByteMachine {
public:
    Kermit(ProtocolHost& host, bool sending);

    // What the far end asked for, once the send-init exchange is over.
    const kermit::Parameters& farParameters() const { return m_far; }

protected:
    Task run() override;

private:
    enum class State { Init, File, Data, Eof, Break, Complete, Abort };

    Task sender();
    Task receiver();

    // A packet into m_type, m_seq and m_data; its type, or kNoPacket or
    // kLineQuiet.
    Task readPacket();
    bool sendPacket(std::uint8_t type, int seq, const std::string& data = {});
    void sendAck(int seq, const std::string& data = {}) { sendPacket('Y', seq, data); }

    bool ackOf(int type) const;  // Y for n, or N for n + 1
    void errorPacket();
    // A message for the engine; clearing one already clear costs nothing.
    void say(const std::string& text);          // the far end's E: its text becomes the message
    bool openNextFile(bool first);
    bool fillNextField();
    void closeFile(bool ok);

    static int next(int seq) { return (seq + 1) & 63; }
    static int previous(int seq) { return (seq + 63) & 63; }

    ProtocolHost& m_host;
    bool m_sending;
    kermit::Parameters m_far;
    bool m_messageShown = false;

    // The exchange.
    State m_state = State::Init;
    int m_n = 0;
    int m_tries = 0;
    int m_oldTries = 0;

    // The packet last read.
    int m_seq = 0;
    std::string m_data;

    // The file being moved.
    std::unique_ptr<FileSource> m_source;
    std::unique_ptr<FileSink> m_sink;
    FileNames m_names;
    std::uint64_t m_bytes = 0;        // file bytes acknowledged or written
    std::string m_field;              // the data field being offered
    std::size_t m_fieldBytes = 0;     // file bytes in it
    std::array<std::uint8_t, 4096> m_buffer{};
    std::size_t m_bufferPos = 0;
    std::size_t m_bufferLen = 0;
    bool m_endOfFile = false;
};

}  // namespace xfer
