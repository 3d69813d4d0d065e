// The ZModem line format: frame types, header forms, ZDLE escaping and the
// check values. Pure functions and a small output buffer; no waiting.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace xfer::zm {

// Frame types.
enum Frame : int {
    ZRQINIT = 0,
    ZRINIT = 1,
    ZSINIT = 2,
    ZACK = 3,
    ZFILE = 4,
    ZSKIP = 5,
    ZNAK = 6,
    ZABORT = 7,
    ZFIN = 8,
    ZRPOS = 9,
    ZDATA = 10,
    ZEOF = 11,
    ZFERR = 12,
    ZCRC = 13,
    ZCHALLENGE = 14,
    ZCOMPL = 15,
    ZCAN = 16,
    ZFREECNT = 17,
    ZCOMMAND = 18,
};

inline constexpr std::uint8_t ZPAD = '*';
inline constexpr std::uint8_t ZDLE = 0x18;
inline constexpr std::uint8_t ZBIN = 'A';
inline constexpr std::uint8_t ZHEX = 'B';
inline constexpr std::uint8_t ZBIN32 = 'C';
// Subpacket ends.
inline constexpr std::uint8_t ZCRCE = 'h';  // end of frame, header follows
inline constexpr std::uint8_t ZCRCG = 'i';  // frame goes on, no answer
inline constexpr std::uint8_t ZCRCQ = 'j';  // frame goes on, ZACK wanted
inline constexpr std::uint8_t ZCRCW = 'k';  // end of frame, ZACK wanted
inline constexpr std::uint8_t ZRUB0 = 'l';  // escaped 0x7F
inline constexpr std::uint8_t ZRUB1 = 'm';  // escaped 0xFF
inline constexpr std::uint8_t XON = 0x11;
inline constexpr std::uint8_t XOFF = 0x13;

// Flag bits.
inline constexpr std::uint8_t CANFDX = 0x01;
inline constexpr std::uint8_t CANOVIO = 0x02;
inline constexpr std::uint8_t ESCCTL = 0x40;  // ZRINIT and ZSINIT: escape every control character
inline constexpr std::uint8_t ZCRECOV = 3;    // ZFILE ZF0: resume an interrupted file

// Header bytes: positions are little-endian in [0..3]; flags ZF0 is [3].
using Header = std::array<std::uint8_t, 4>;
Header positionHeader(std::uint32_t position);
std::uint32_t headerPosition(const Header& h);
inline constexpr int ZF0 = 3, ZF1 = 2, ZF2 = 1, ZF3 = 0;

std::uint16_t crc16Update(std::uint16_t crc, std::uint8_t byte);

// "**" ZDLE "B", type, four bytes and CRC as lower-case hex, CR, LF|0x80,
// then XON except after ZFIN and ZACK.
std::vector<std::uint8_t> hexHeader(int type, const Header& h);

// Output with ZDLE escaping, collected in a buffer that goes out at the end
// of every header and subpacket (and when full, which a subpacket of 1024
// bytes escaped throughout does not make it): one write each, as lrzsz
// does; every write costs a pseudo-terminal more than its bytes.
class Encoder {
public:
    using Sink = bool (*)(void* context, const std::uint8_t* bytes, std::size_t n);
    Encoder(Sink sink, void* context) : m_sink(sink), m_context(context) {}

    void setEscapeAll(bool on) { m_escapeAll = on; }
    bool escapeAll() const { return m_escapeAll; }

    void raw(std::uint8_t byte);
    void raw(const std::vector<std::uint8_t>& bytes);
    void escaped(std::uint8_t byte);
    void binaryHeader(int type, const Header& h);
    // The data, the end character, the CRC-16 over both.
    void subpacket(const std::uint8_t* data, std::size_t n, std::uint8_t end);
    bool flush();

private:
    void put(std::uint8_t byte)
    {
        m_buffer[m_used++] = byte;
        if (m_used == m_buffer.size())
            flush();
    }

    Sink m_sink;
    void* m_context;
    bool m_escapeAll = false;
    std::uint8_t m_previous = 0;
    std::array<std::uint8_t, 4096> m_buffer{};
    std::size_t m_used = 0;
};

// Whether a byte must go out as ZDLE and the byte with bit 0x40 flipped,
// given the byte sent before it.
bool needsEscape(std::uint8_t byte, std::uint8_t previous, bool escapeAll);

// The file information of ZFILE: name (without its folder), zero byte,
// "size 0" (decimal size, octal time).
std::vector<std::uint8_t> fileInformation(const std::string& name, std::uint64_t size);

struct FileInformation {
    std::string name;
    bool hasSize = false;
    std::uint64_t size = 0;
};
// Reads the information of a received ZFILE. Without anything after the
// name's zero byte, "/" in the name becomes "_" and a final "." goes.
FileInformation parseFileInformation(const std::uint8_t* data, std::size_t n);

}  // namespace xfer::zm
