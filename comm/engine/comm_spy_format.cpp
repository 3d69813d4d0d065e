// The text of one CommSpy entry: data bytes as quoted text and Chr(n)
// pieces, wrapped at 80 columns with " + _" continuations.
#include "comm_spy.h"

namespace qelcomm {
namespace {

constexpr std::size_t kLineWidth = 80;
constexpr std::size_t kContinuationWidth = 70;
constexpr const char* kContinuationIndent = "          ";  // 10 spaces
constexpr std::uint32_t kMaxBytesPerLine = 32;

// Renders bytes from data[pos] into one line of at most width columns;
// returns the number of bytes taken (at least one).
std::uint32_t renderLine(const std::uint8_t* data, std::uint32_t pos, std::uint32_t count, std::size_t width,
                         std::string& line)
{
    std::uint32_t taken = 0;
    bool prevPrintable = false;
    while (pos + taken < count && taken < kMaxBytesPerLine) {
        const std::uint8_t b = data[pos + taken];
        const bool printable = b >= 32;
        std::string piece;
        if (!printable) {
            piece = taken == 0 ? "" : prevPrintable ? "\" + " : " + ";
            piece += "Chr(" + std::to_string(b) + ")";
        } else {
            piece = taken == 0 ? "\"" : prevPrintable ? "" : " + \"";
            piece += char(b);
        }
        const std::size_t reserve = printable ? 2 : 1;
        if (taken > 0 && line.size() + piece.size() + reserve > width)
            break;
        line += piece;
        prevPrintable = printable;
        ++taken;
    }
    if (prevPrintable)
        line += '"';
    return taken;
}

}  // namespace

std::string formatCommSpyEntry(const std::string& text, const std::uint8_t* data, std::uint32_t count)
{
    std::string out = text;
    if (count == 0)
        return out + (data ? "\"\"\r\n" : "\r\n");
    std::uint32_t pos = 0;
    std::size_t width = kLineWidth > text.size() ? kLineWidth - text.size() : 1;
    std::string line;
    for (;;) {
        pos += renderLine(data, pos, count, width, line);
        out += line;
        if (pos >= count)
            break;
        out += " + _\r\n";
        out += kContinuationIndent;
        width = kContinuationWidth;
        line.clear();
    }
    return out + "\r\n";
}

}  // namespace qelcomm
