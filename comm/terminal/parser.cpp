#include "parser.h"

#include "terminal_types.h"

#include <cstring>

namespace qelcomm::terminal {
namespace {

constexpr std::uint8_t ESC = 27;
constexpr std::uint8_t CSI = 155;

// A control sequence ends at a final byte (0x40..0x7E); parameter and
// intermediate bytes come before it.
bool isFinal(std::uint8_t c) { return c >= 0x40 && c <= 0x7E; }

// Commands of the ANSI set that may follow ESC directly.
bool isAnsiCommand(std::uint8_t c)
{
    return c && std::strchr("ABCDEFGHIJKLMPSUXYZfmncqsrulh", c) != nullptr;
}

}  // namespace

void Parser::reset()
{
    m_state = State::Ground;
    m_seq.clear();
    m_overflow = false;
}

void Parser::start(std::uint8_t c)
{
    m_seq.assign(1, char(c));
    m_overflow = false;
}

// Adds one byte to the sequence in progress; a sequence that would reach
// the limit is marked and dropped when it ends.
void Parser::collect(std::uint8_t c, ParserActions& out)
{
    if (m_seq.size() + 1 >= m_limit)
        m_overflow = true;
    else
        m_seq.push_back(char(c));
    if (!isFinal(c))
        return;
    if (!m_overflow)
        out.controlSequence(std::string_view(m_seq).substr(m_bodyStart));
    reset();
}

void Parser::feed(std::int32_t emulation, const std::uint8_t* bytes, std::size_t n, ParserActions& out)
{
    if (emulation == Emulation_TTY) {
        out.text(bytes, n);
        return;
    }
    const bool vt100 = emulation != Emulation_Ansi && emulation != Emulation_VT52;
    const bool csiByte = vt100 && !m_utf8;
    std::size_t i = 0;
    while (i < n) {
        const std::uint8_t c = bytes[i];
        switch (m_state) {
        case State::Ground: {
            std::size_t j = i;
            while (j < n && bytes[j] != ESC && !(csiByte && bytes[j] == CSI))
                ++j;
            if (j > i)
                out.text(bytes + i, j - i);
            if (j == n)
                return;
            start(bytes[j]);
            if (bytes[j] == CSI) {
                m_bodyStart = 1;
                m_state = State::Sequence;
            } else {
                m_state = emulation == Emulation_VT52 ? State::Vt52Escape : State::Escape;
            }
            i = j + 1;
            continue;
        }
        case State::Escape:
            if (c == '[') {
                m_seq.push_back('[');
                m_bodyStart = 2;
                m_state = State::Sequence;
            } else if (c == ESC) {
                start(c);
            } else if (!vt100) {
                // ANSI: a command letter right after ESC acts as a sequence
                // of its own; any other pair is dropped.
                if (isAnsiCommand(c))
                    out.controlSequence(std::string_view(reinterpret_cast<const char*>(&c), 1));
                reset();
            } else if (c == '(' || c == ')' || c == '#') {
                m_command = c;
                m_state = State::EscapeArg;
            } else {
                out.escape(c, 0);
                reset();
            }
            break;
        case State::EscapeArg:
            out.escape(m_command, c);
            reset();
            break;
        case State::Sequence:
            if (c == ESC) {
                // An unfinished sequence ends; the ESC starts the next one.
                start(c);
                m_state = State::Escape;
            } else {
                collect(c, out);
            }
            break;
        case State::Vt52Escape:
            if (c == 'Y') {
                m_state = State::Vt52Row;
            } else {
                out.vt52(c, 0, 0);
                reset();
            }
            break;
        case State::Vt52Row:
            m_row = c;
            m_state = State::Vt52Column;
            break;
        case State::Vt52Column:
            out.vt52('Y', m_row, c);
            reset();
            break;
        }
        ++i;
    }
}

}  // namespace qelcomm::terminal
