#include "zmodem_frame.h"

#include "xmodem_frame.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace xfer::zm {

Header positionHeader(std::uint32_t position)
{
    return {std::uint8_t(position), std::uint8_t(position >> 8), std::uint8_t(position >> 16),
            std::uint8_t(position >> 24)};
}

std::uint32_t headerPosition(const Header& h)
{
    return std::uint32_t(h[0]) | std::uint32_t(h[1]) << 8 | std::uint32_t(h[2]) << 16 | std::uint32_t(h[3]) << 24;
}

namespace {
// The XModem CRC-16 a byte at a time through a table, for the data path.
struct CrcTable {
    std::array<std::uint16_t, 256> t{};
    CrcTable()
    {
        for (int i = 0; i < 256; ++i) {
            const std::uint8_t b = std::uint8_t(i);
            t[std::size_t(i)] = xfer::crc16(&b, 1, 0);
        }
    }
};
const CrcTable g_crc;
}  // namespace

std::uint16_t crc16Update(std::uint16_t crc, std::uint8_t byte)
{
    return std::uint16_t((crc << 8) ^ g_crc.t[std::size_t((crc >> 8) ^ byte)]);
}

namespace {
std::uint16_t headerCrc(int type, const Header& h)
{
    std::uint16_t crc = crc16Update(0, std::uint8_t(type));
    for (std::uint8_t b : h)
        crc = crc16Update(crc, b);
    return crc;
}

void hexByte(std::vector<std::uint8_t>& out, std::uint8_t b)
{
    static const char digits[] = "0123456789abcdef";
    out.push_back(std::uint8_t(digits[b >> 4]));
    out.push_back(std::uint8_t(digits[b & 15]));
}
}  // namespace

std::vector<std::uint8_t> hexHeader(int type, const Header& h)
{
    std::vector<std::uint8_t> out = {ZPAD, ZPAD, ZDLE, ZHEX};
    hexByte(out, std::uint8_t(type));
    for (std::uint8_t b : h)
        hexByte(out, b);
    const std::uint16_t crc = headerCrc(type, h);
    hexByte(out, std::uint8_t(crc >> 8));
    hexByte(out, std::uint8_t(crc));
    out.push_back('\r');
    out.push_back(0x8A);
    if (type != ZFIN && type != ZACK)
        out.push_back(XON);
    return out;
}

bool needsEscape(std::uint8_t byte, std::uint8_t previous, bool escapeAll)
{
    switch (byte) {
    case ZDLE:
    case 0x10: case 0x11: case 0x13:
    case 0x90: case 0x91: case 0x93:
        return true;
    case 0x0D: case 0x8D:
        if ((previous & 0x7F) == '@')
            return true;
        break;
    default: break;
    }
    return escapeAll && (byte & 0x60) == 0;
}

void Encoder::raw(std::uint8_t byte)
{
    put(byte);
    m_previous = byte;
}

void Encoder::raw(const std::vector<std::uint8_t>& bytes)
{
    for (std::uint8_t b : bytes)
        raw(b);
}

void Encoder::escaped(std::uint8_t byte)
{
    if (needsEscape(byte, m_previous, m_escapeAll)) {
        put(ZDLE);
        put(byte ^ 0x40);
    } else {
        put(byte);
    }
    m_previous = byte;
}

void Encoder::binaryHeader(int type, const Header& h)
{
    raw(ZPAD);
    raw(ZDLE);
    raw(ZBIN);
    escaped(std::uint8_t(type));
    for (std::uint8_t b : h)
        escaped(b);
    const std::uint16_t crc = headerCrc(type, h);
    escaped(std::uint8_t(crc >> 8));
    escaped(std::uint8_t(crc));
    flush();
}

void Encoder::subpacket(const std::uint8_t* data, std::size_t n, std::uint8_t end)
{
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = data[i];
        crc = std::uint16_t((crc << 8) ^ g_crc.t[std::size_t((crc >> 8) ^ b)]);
        // Three bytes in four have bit 0x20 or 0x40 set, and none of those
        // is ever escaped.
        if (b & 0x60) {
            put(b);
            m_previous = b;
        } else {
            escaped(b);
        }
    }
    put(ZDLE);
    put(end);
    m_previous = end;
    crc = crc16Update(crc, end);
    escaped(std::uint8_t(crc >> 8));
    escaped(std::uint8_t(crc));
    flush();
}

bool Encoder::flush()
{
    if (m_used == 0)
        return true;
    const bool ok = m_sink(m_context, m_buffer.data(), m_used);
    m_used = 0;
    return ok;
}

std::vector<std::uint8_t> fileInformation(const std::string& name, std::uint64_t size)
{
    char text[4200];
    const int n = std::snprintf(text, sizeof text, "%s %lu %lo", nameWithoutFolder(name).c_str(),
                                static_cast<unsigned long>(size), 0ul);
    std::vector<std::uint8_t> out(text, text + (n < 0 ? 0 : std::min<int>(n, int(sizeof text) - 1)));
    const std::size_t space = nameWithoutFolder(name).size();
    if (space < out.size())
        out[space] = 0;
    out.push_back(0);
    return out;
}

FileInformation parseFileInformation(const std::uint8_t* data, std::size_t n)
{
    FileInformation info;
    std::size_t end = 0;
    while (end < n && data[end] != 0)
        ++end;
    info.name.assign(reinterpret_cast<const char*>(data), end);
    const std::size_t rest = end + 1;
    if (rest < n && data[rest] != 0) {
        std::string fields(reinterpret_cast<const char*>(data + rest), n - rest);
        fields = fields.c_str();  // up to the next zero byte
        long size = 0;
        unsigned long mtime = 0;
        unsigned mode = 0;
        if (std::sscanf(fields.c_str(), "%ld%lo%o", &size, &mtime, &mode) >= 1 && size >= 0) {
            info.hasSize = true;
            info.size = std::uint64_t(size);
        }
    } else {
        for (char& c : info.name)
            if (c == '/')
                c = '_';
        if (!info.name.empty() && info.name.back() == '.')
            info.name.pop_back();
    }
    return info;
}

}  // namespace xfer::zm
