#include "xmodem_frame.h"

#include <algorithm>
#include <cstdio>

namespace xfer {

std::uint16_t crc16(const std::uint8_t* data, std::size_t n, std::uint16_t crc)
{
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= std::uint16_t(data[i]) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? std::uint16_t((crc << 1) ^ 0x1021) : std::uint16_t(crc << 1);
    }
    return crc;
}

std::uint8_t checksum8(const std::uint8_t* data, std::size_t n)
{
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum = std::uint8_t(sum + data[i]);
    return sum;
}

std::vector<std::uint8_t> frameBlock(std::uint8_t number, const std::uint8_t* data, std::size_t size, bool crc)
{
    std::vector<std::uint8_t> out;
    out.reserve(size + 5);
    out.push_back(size == 1024 ? STX : SOH);
    out.push_back(number);
    out.push_back(std::uint8_t(255 - number));
    out.insert(out.end(), data, data + size);
    if (crc) {
        const std::uint16_t c = crc16(data, size);
        out.push_back(std::uint8_t(c >> 8));
        out.push_back(std::uint8_t(c & 0xFF));
    } else {
        out.push_back(checksum8(data, size));
    }
    return out;
}

std::vector<std::uint8_t> ymodemHeader(const std::string& name, std::uint64_t size)
{
    std::vector<std::uint8_t> block(128, 0);
    if (name.empty())
        return block;
    char tail[64];
    std::snprintf(tail, sizeof tail, "%llu 0 0 0 0 0", static_cast<unsigned long long>(size));
    const std::string text = name + '\0' + tail;
    if (text.size() >= block.size())
        block.assign(1024, 0);
    const std::size_t n = std::min(text.size(), block.size() - 1);
    std::copy_n(text.begin(), n, block.begin());
    return block;
}

YmodemHeader parseYmodemHeader(const std::uint8_t* data, std::size_t size)
{
    YmodemHeader h;
    std::size_t i = 0;
    while (i < size && data[i] != 0)
        h.name.push_back(char(data[i++]));
    if (h.name.empty() || i + 1 >= size)
        return h;
    ++i;
    std::uint64_t value = 0;
    bool any = false;
    while (i < size && data[i] >= '0' && data[i] <= '9' && value < kUnknownSize * 10) {
        value = value * 10 + (data[i++] - '0');
        any = true;
    }
    if (any)
        h.size = value;
    return h;
}

std::string nameWithoutFolder(const std::string& path)
{
    const std::size_t sep = path.find_last_of("/\\");
    if (sep != std::string::npos)
        return path.substr(sep + 1);
    const std::size_t colon = path.rfind(':');
    return colon == std::string::npos ? path : path.substr(colon + 1);
}

}  // namespace xfer
