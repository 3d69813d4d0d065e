// What the window shows of the bytes a port receives: the bytes as they
// are, with a time stamp before each line as tio prints it, or a hex dump.
// Pure: bytes and the time in, bytes for the terminal out.
#pragma once

#include <QTime>

#include <string>
#include <string_view>

namespace qelterm {

class ReceiveFormat {
public:
    // Bytes a line of the hex dump holds.
    static constexpr int kHexBytesPerLine = 16;

    bool timestamps() const { return m_timestamps; }
    bool hex() const { return m_hex; }
    void setTimestamps(bool on) { m_timestamps = on; }
    // Hex dump lines always end complete, so the text after them starts a
    // line of its own (and gets a time stamp).
    void setHex(bool on)
    {
        m_hex = on;
        m_lineStart = true;
    }

    // Text shown between received bytes ended a line.
    void lineStarted() { m_lineStart = true; }

    // The bytes for the terminal for bytes received at now. Text: a time
    // stamp goes before the first byte of each line that is neither CR nor
    // LF. Hex: lines of up to 16 bytes as two hex digits each and the
    // printable ASCII beside them, each line complete; one read's bytes
    // start a new line, so a pause shows as one.
    std::string format(std::string_view received, QTime now);

    // "[HH:MM:SS.mmm] ".
    static std::string stamp(QTime t);

private:
    bool m_timestamps = false;
    bool m_hex = false;
    bool m_lineStart = true;   // text: the next byte begins a line
};

}  // namespace qelterm
