// The block format shared by XModem and YModem: control bytes, the two
// check values, block framing and the YModem header block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace xfer {

inline constexpr std::uint8_t SOH = 0x01;  // 128-byte block
inline constexpr std::uint8_t STX = 0x02;  // 1024-byte block
inline constexpr std::uint8_t EOT = 0x04;
inline constexpr std::uint8_t ACK = 0x06;
inline constexpr std::uint8_t BS = 0x08;
inline constexpr std::uint8_t NAK = 0x15;
inline constexpr std::uint8_t CAN = 0x18;
inline constexpr std::uint8_t SUB = 0x1A;  // fills the rest of the last block
inline constexpr std::uint8_t WantCrc = 'C';
inline constexpr std::uint8_t WantStreaming = 'G';

// Stands for a file size the sender did not give.
inline constexpr std::uint64_t kUnknownSize = 2000000000;

// XModem CRC-16: polynomial 0x1021, initial 0, no reflection. Running it
// over a block's data followed by its two CRC bytes gives 0 for a good block.
std::uint16_t crc16(const std::uint8_t* data, std::size_t n, std::uint16_t crc = 0);
std::uint8_t checksum8(const std::uint8_t* data, std::size_t n);

// One block as it goes on the line: SOH/STX, number, 255 - number, the data
// (128 or 1024 bytes), then the CRC (high byte first) or the checksum.
std::vector<std::uint8_t> frameBlock(std::uint8_t number, const std::uint8_t* data, std::size_t size, bool crc);

// The data of a YModem header block: the name, a zero byte, then
// "size 0 0 0 0 0". An empty name gives the all-zero block that ends a
// batch. 128 bytes, or 1024 when the text does not fit in 128.
std::vector<std::uint8_t> ymodemHeader(const std::string& name, std::uint64_t size);

struct YmodemHeader {
    std::string name;                 // empty: end of the batch
    std::optional<std::uint64_t> size;
};
YmodemHeader parseYmodemHeader(const std::uint8_t* data, std::size_t size);

// The name a sender puts in the header: the text after the last folder
// separator ("/" or "\") or, without one, after the last ":".
std::string nameWithoutFolder(const std::string& path);

}  // namespace xfer
