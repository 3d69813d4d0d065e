// ZModem sender and receiver as one byte-fed machine: headers in the hex
// and binary CRC-16 forms, streaming data subpackets, resumption from the
// position the receiver asks for.
#pragma once

#include "protocol.h"
#include "zmodem_frame.h"

#include <array>
#include <memory>
#include <string>

namespace xfer {

namespace zm {
// Results of reading a header or a subpacket besides a frame type or an
// end character.
inline constexpr int kTimeout = -1;
inline constexpr int kCancelled = -2;   // CAN bytes from the far end
inline constexpr int kGarbage = -3;     // the garbage limit ran out
inline constexpr int kBadCrc = -4;
inline constexpr int kBadData = -5;     // a broken escape
inline constexpr int kTooLong = -6;

inline constexpr std::uint32_t kByteTimeoutMs = 10000;
inline constexpr std::uint32_t kQuietMs = 3000;
// After our ZFIN every file is complete: the closing "OO" (or a repeated
// ZFIN) is waited for this long, no more.
inline constexpr std::uint32_t kFinishWaitMs = 3000;
// The attention string's break (0xDD) and pause (0xDE).
inline constexpr std::uint8_t kAttentionBreak = 0xDD;
inline constexpr std::uint8_t kAttentionPause = 0xDE;
inline constexpr std::uint32_t kAttentionWaitMs = 1000;
inline constexpr std::size_t kMaxSubpacket = 1024;
inline constexpr std::size_t kMinSubpacket = 64;
inline constexpr std::size_t kAttentionMax = 32;
inline constexpr int kReceiverAttempts = 15;
inline constexpr int kDataErrors = 20;
inline constexpr int kSenderTimeouts = 8;
inline constexpr int kDefaultBaud = 19200;
}  // namespace zm

class ZModem : public ByteMachine {
public:
    // lineBaud sets the garbage limit: baud + 1400 bytes without a header.
    ZModem(ProtocolHost& host, bool sending, int lineBaud = zm::kDefaultBaud);

    std::size_t subpacketLength() const { return m_length; }

protected:
    Task run() override;

private:
    // Reading.
    Task readRaw(std::uint32_t ms);
    Task readEscaped();
    Task readHeader(int pending = -1);
    Task readSubpacket(std::size_t limit);

    // Sending.
    Task sender();
    Task waitForReceiver();
    Task sendFile(const std::string& source, const std::string& destination);
    Task sendData(std::uint32_t& position);
    Task finishSession();
    std::uint32_t seek(std::uint32_t position);
    void sendHex(int type, const zm::Header& h = {});
    void sendBinary(int type, const zm::Header& h);
    void cancelLine();

    // Receiving.
    Task receiver();
    Task receiveFile();
    Task endSession();
    void sendAttention();
    void send(std::uint8_t byte) { m_host.write(&byte, 1); }

    static bool sinkToHost(void* context, const std::uint8_t* bytes, std::size_t n);

    ProtocolHost& m_host;
    bool m_sending;
    std::size_t m_garbageLimit;
    zm::Encoder m_out;

    // The last header read.
    zm::Header m_rxHeader{};
    bool m_rxCrc32 = false;
    // The last subpacket read.
    std::array<std::uint8_t, zm::kMaxSubpacket + 1> m_data{};
    std::size_t m_dataLength = 0;

    // Sender state.
    std::unique_ptr<FileSource> m_file;
    std::string m_sourcePath;
    std::uint64_t m_fileSize = 0;
    std::uint32_t m_filePosition = 0;  // bytes read from m_file so far
    std::size_t m_length = zm::kMaxSubpacket;
    std::uint8_t m_receiverFlags = 0;
    bool m_failed = false;

    // Receiver state.
    std::string m_attention;
    std::string m_fileFailure;  // why a file was skipped; the transfer then fails
    std::unique_ptr<FileSink> m_sink;
    std::uint32_t m_rxPosition = 0;
};

}  // namespace xfer
