// Basic Kermit on the line: the packet with its one-character check, the
// send-init parameters, and control-character prefixing of the data field.
// No I/O here; the protocol machine in kermit.h uses these.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace xfer::kermit {

inline constexpr std::uint8_t kMark = 0x01;      // SOH, starts every packet
inline constexpr std::uint8_t kQctl = '#';       // our control prefix
inline constexpr std::uint8_t kEol = 13;         // our end of line (CR)
inline constexpr int kMaxLength = 94;            // the longest basic packet
inline constexpr int kMinLength = 10;            // a far end asking for less gets this
inline constexpr int kDefaultLength = 80;        // a far end naming no length gets this
inline constexpr int kFieldReserve = 8;          // a data field holds MAXL - 8 characters

constexpr std::uint8_t tochar(int x) { return std::uint8_t(x + 32); }
constexpr int unchar(std::uint8_t c) { return int(c) - 32; }
constexpr std::uint8_t ctl(std::uint8_t c) { return std::uint8_t(c ^ 0x40); }

// The check character over LEN, SEQ, TYPE and the data:
// 32 + ((s + s / 64) mod 64), s being their sum modulo 256.
std::uint8_t blockCheck(const std::uint8_t* bytes, std::size_t n);

// What one side asks of the packets the other side sends it.
struct Parameters {
    int maxLength = kMaxLength;  // MAXL
    int timeout = 10;            // TIME, seconds
    int padCount = 0;            // NPAD
    std::uint8_t padChar = 0;    // PADC
    std::uint8_t eol = kEol;     // EOL
    std::uint8_t qctl = kQctl;   // QCTL: the prefix that side sends with
};

// Our own parameters as they go in S and its acknowledgement: "~* @-#".
std::string ownParameters();

// The far end's parameters from the data field of its S or of the
// acknowledgement to ours. Fields it left out count as 0; an EOL of 0
// becomes LF and a missing or unusable QCTL "#". A length outside what a
// basic packet can carry is brought into range.
Parameters parseParameters(const std::uint8_t* data, std::size_t n);

// One packet as it goes on the line: padding, SOH, LEN, SEQ, TYPE, the
// data, CHECK and the end of line, all as the far end asked.
std::vector<std::uint8_t> framePacket(std::uint8_t type, int seq, const std::uint8_t* data, std::size_t n,
                                      const Parameters& far);

// Appends the prefixed form of one file byte: a byte whose low seven bits
// are a control character or DEL goes as "#" and the byte with 0x40
// flipped, "#" itself as "##", everything else (eighth bit included) as it
// is.
void encodeByte(std::uint8_t byte, std::string& field);

// Appends the encoded bytes of data[0..n) to field until it holds limit
// characters or the data runs out; returns how many data bytes it took.
std::size_t fillField(const std::uint8_t* data, std::size_t n, std::size_t limit, std::string& field);

// Undoes the prefixing: every qctl takes the next character and flips its
// 0x40 bit unless that character's low seven bits are qctl itself. A lone
// prefix at the end is dropped.
std::string decodeField(const std::uint8_t* data, std::size_t n, std::uint8_t qctl);

}  // namespace xfer::kermit
