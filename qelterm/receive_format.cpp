#include "receive_format.h"

#include <cstdio>

namespace qelterm {

std::string ReceiveFormat::stamp(QTime t)
{
    char text[20];
    std::snprintf(text, sizeof text, "[%02d:%02d:%02d.%03d] ", t.hour(), t.minute(), t.second(), t.msec());
    return text;
}

std::string ReceiveFormat::format(std::string_view received, QTime now)
{
    std::string out;
    if (m_hex) {
        static const char digits[] = "0123456789abcdef";
        for (std::size_t at = 0; at < received.size(); at += kHexBytesPerLine) {
            const std::string_view line = received.substr(at, kHexBytesPerLine);
            if (m_timestamps)
                out += stamp(now);
            std::string ascii;
            for (std::size_t i = 0; i < std::size_t(kHexBytesPerLine); ++i) {
                if (i > 0)
                    out += ' ';
                if (i < line.size()) {
                    const auto b = static_cast<unsigned char>(line[i]);
                    out += digits[b >> 4];
                    out += digits[b & 15];
                    ascii += b >= 0x20 && b < 0x7f ? char(b) : '.';
                } else {
                    out += "  ";   // the ASCII column stays in place
                }
            }
            out += "  " + ascii + "\r\n";
        }
        return out;
    }
    // Where lines begin is followed with the stamps off too, so that
    // turning them on in the middle of a line stamps the next one.
    out.reserve(received.size() + 16);
    for (const char c : received) {
        if (c == '\n') {
            m_lineStart = true;
        } else if (m_lineStart && c != '\r') {
            if (m_timestamps)
                out += stamp(now);
            m_lineStart = false;
        }
        out += c;
    }
    return out;
}

}  // namespace qelterm
