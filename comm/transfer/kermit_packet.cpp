#include "kermit_packet.h"

#include <algorithm>

namespace xfer::kermit {

std::uint8_t blockCheck(const std::uint8_t* bytes, std::size_t n)
{
    unsigned s = 0;
    for (std::size_t i = 0; i < n; ++i)
        s += bytes[i];
    s &= 0xFF;
    return tochar(int((s + s / 64) % 64));
}

std::string ownParameters()
{
    const Parameters own;
    std::string p;
    p += char(tochar(own.maxLength));
    p += char(tochar(own.timeout));
    p += char(tochar(own.padCount));
    p += char(ctl(own.padChar));
    p += char(tochar(own.eol));
    p += char(own.qctl);
    return p;
}

Parameters parseParameters(const std::uint8_t* data, std::size_t n)
{
    auto field = [&](std::size_t i) -> int { return i < n ? unchar(data[i]) : 0; };
    Parameters p;
    const int maxl = field(0);
    p.maxLength = maxl <= 0 ? kDefaultLength : std::clamp(maxl, kMinLength, kMaxLength);
    p.timeout = std::max(0, field(1));
    p.padCount = std::clamp(field(2), 0, kMaxLength);
    p.padChar = n > 3 ? ctl(data[3]) : 0;
    const int eol = field(4);
    p.eol = eol <= 0 ? std::uint8_t(10) : std::uint8_t(eol);
    // A prefix must be a printable character; a blank or absent one, or
    // anything unprintable, means the usual "#".
    const std::uint8_t q = n > 5 ? data[5] : 0;
    p.qctl = (q > 32 && q < 127) ? q : kQctl;
    return p;
}

std::vector<std::uint8_t> framePacket(std::uint8_t type, int seq, const std::uint8_t* data, std::size_t n,
                                      const Parameters& far)
{
    std::vector<std::uint8_t> out;
    out.reserve(std::size_t(far.padCount) + n + 6);
    out.insert(out.end(), std::size_t(far.padCount), far.padChar);
    out.push_back(kMark);
    const std::size_t first = out.size();
    out.push_back(tochar(int(n) + 3));
    out.push_back(tochar(seq & 63));
    out.push_back(type);
    out.insert(out.end(), data, data + n);
    out.push_back(blockCheck(out.data() + first, out.size() - first));
    out.push_back(far.eol);
    return out;
}

void encodeByte(std::uint8_t byte, std::string& field)
{
    const std::uint8_t low = byte & 0x7F;
    if (low < 32 || low == 127) {
        field += char(kQctl);
        field += char(ctl(byte));
    } else if (byte == kQctl) {
        field += char(kQctl);
        field += char(kQctl);
    } else {
        field += char(byte);
    }
}

std::size_t fillField(const std::uint8_t* data, std::size_t n, std::size_t limit, std::string& field)
{
    std::size_t taken = 0;
    while (taken < n && field.size() < limit)
        encodeByte(data[taken++], field);
    return taken;
}

std::string decodeField(const std::uint8_t* data, std::size_t n, std::uint8_t qctl)
{
    std::string out;
    out.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        std::uint8_t c = data[i];
        if (c == qctl) {
            if (++i == n)
                break;
            c = data[i];
            if ((c & 0x7F) != qctl)
                c = ctl(c);
        }
        out += char(c);
    }
    return out;
}

}  // namespace xfer::kermit
