// The escape-sequence framing of the four interpreters. The parser is fed
// bytes and hands what it found to its actions: runs of text for the byte
// printer, complete control sequences, escape commands and VT52 commands.
// It keeps the sequence in progress, so a sequence may span several writes.
#pragma once

#include "terminal_types.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qelcomm::terminal {

class ParserActions {
public:
    virtual ~ParserActions() = default;
    // Bytes for the byte printer, control codes included.
    virtual void text(const std::uint8_t* bytes, std::size_t n) = 0;
    // A control sequence: the bytes after its introducer (ESC "[" or the
    // CSI byte), the final byte included.
    virtual void controlSequence(std::string_view body) = 0;
    // VT100 ESC commands; arg is the byte after ESC "(", ")" or "#", else 0.
    virtual void escape(std::uint8_t command, std::uint8_t arg) = 0;
    // VT52 commands; for "Y" the two coordinate bytes.
    virtual void vt52(std::uint8_t command, std::uint8_t a, std::uint8_t b) = 0;
};

class Parser {
public:
    // emulation: the Emulation value (TTY prints everything).
    void feed(std::int32_t emulation, const std::uint8_t* bytes, std::size_t n, ParserActions& out);
    void reset();
    // In UTF-8 the byte 155 continues a character and is no CSI.
    void setUtf8(bool on) { m_utf8 = on; }
    // A sequence must stay below this many bytes.
    void setLimit(std::size_t limit) { m_limit = limit; }
    // Bytes of the sequence in progress (0 = none).
    std::size_t pending() const { return m_seq.size(); }

private:
    enum class State { Ground, Escape, Sequence, EscapeArg, Vt52Escape, Vt52Row, Vt52Column };
    void collect(std::uint8_t c, ParserActions& out);
    void start(std::uint8_t c);

    State m_state = State::Ground;
    std::string m_seq;          // ESC or CSI, then the collected bytes
    bool m_overflow = false;    // the sequence reached the limit and will be dropped
    std::size_t m_bodyStart = 0;
    std::uint8_t m_command = 0;
    std::uint8_t m_row = 0;
    bool m_utf8 = false;
    std::size_t m_limit = kSequenceLimit;
};

}  // namespace qelcomm::terminal
