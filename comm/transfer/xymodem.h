// XModem (checksum, CRC, 1K), YModem and YModem-G: one block sender and one
// block receiver set up by four flags.
#pragma once

#include "protocol.h"
#include "xmodem_frame.h"

#include <array>

namespace xfer {

enum Protocol : std::int32_t {
    Protocol_XModem = 0,
    Protocol_XModemCrc = 1,
    Protocol_XModem1K = 2,
    Protocol_YModem = 3,
    Protocol_YModemG = 4,
    Protocol_ZModem = 5,
    Protocol_Kermit = 6,
};

struct XyFlags {
    bool crc = false;
    bool batch = false;
    bool streaming = false;
    bool oneK = false;
    std::uint8_t startChar = NAK;  // what the receiver sends to start
};
XyFlags xyFlagsFor(int protocol);

// Time-outs and limits, in milliseconds and counts.
inline constexpr std::uint32_t kAnswerTimeoutMs = 6000;
inline constexpr std::uint32_t kStartPollMs = 1000;
inline constexpr int kStartPolls = 140;
inline constexpr std::uint32_t kInBlockTimeoutMs = 2000;
inline constexpr std::uint32_t kLaterBlockTimeoutMs = 10000;
inline constexpr int kBlockSends = 10;
inline constexpr int kBlockErrors = 10;
inline constexpr int kEotSends = 6;
inline constexpr int kDuplicatesAllowed = 11;
// After a block that needed resending: how long the line must keep quiet
// before the next block goes, and how many stray bytes are read at most.
inline constexpr std::uint32_t kSettleQuietMs = 500;
inline constexpr int kSettleBytes = 64;
// What waited on the line before a file: read away, at most this much.
inline constexpr int kStaleBytes = 4096;

class XyModem : public ByteMachine {
public:
    XyModem(ProtocolHost& host, int protocol, bool sending);

    const XyFlags& flags() const { return m_flags; }

protected:
    Task run() override;

private:
    Task sender();
    Task waitForStart();
    Task waitingStart();
    Task sendBlock(const std::uint8_t* data, std::size_t size, std::uint8_t number);
    Task sendEot();
    Task settleAfterResend();

    Task xmodemReceiver();
    Task ymodemReceiver();
    Task receiveBlock(std::uint32_t firstTimeoutMs);
    Task receiveData(FileSink& file, std::uint64_t size);
    void protocolCancel();
    void send(std::uint8_t byte) { m_host.write(&byte, 1); }
    bool cancelled();

    ProtocolHost& m_host;
    XyFlags m_flags;
    bool m_sending;
    bool m_firstBlock = false;
    bool m_cancelled = false;
    int m_startPolls = 0;
    std::size_t m_blockSize = 128;
    std::array<std::uint8_t, 1024> m_block{};
};

// Results of receiveBlock besides a block number.
inline constexpr int kBlockEot = -2;
inline constexpr int kBlockFailed = -1;

}  // namespace xfer
