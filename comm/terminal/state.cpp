// The terminal's state machine proper: the byte printer, line feeds and
// scrolling, and the actions of control sequences, escape commands and
// VT52 commands on the screen.
#include "terminal.h"

#include <algorithm>
#include <cstdio>
#include <vector>

namespace qelcomm::terminal {
namespace {

// "j k l m n q t u v w x" of the line-drawing set as PC box characters.
std::uint8_t lineDrawingChar(std::uint8_t c)
{
    switch (c) {
    case 'j': return 217;
    case 'k': return 191;
    case 'l': return 218;
    case 'm': return 192;
    case 'n': return 197;
    case 'q': return 196;
    case 't': return 195;
    case 'u': return 180;
    case 'v': return 193;
    case 'w': return 194;
    case 'x': return 179;
    default: return c;
    }
}

// ANSI colour numbers 0..7 in TerminalColor numbering.
constexpr std::uint8_t kAnsiToPc[8] = {0, 4, 2, 6, 1, 5, 3, 7};

constexpr int kMissing = -1;

// Parameter i is the number after the i-th ";"; a piece without leading
// digits is missing.
std::vector<int> parameters(std::string_view text)
{
    std::vector<int> p;
    std::size_t i = 0;
    for (;;) {
        int value = kMissing;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            value = std::min((value == kMissing ? 0 : value) * 10 + (text[i] - '0'), 99999);
            ++i;
        }
        p.push_back(value);
        while (i < text.size() && text[i] != ';')
            ++i;
        if (i >= text.size())
            break;
        ++i;
    }
    return p;
}

int param(const std::vector<int>& p, std::size_t i, int fallback)
{
    return i < p.size() && p[i] != kMissing ? p[i] : fallback;
}

}  // namespace

void Terminal::text(const std::uint8_t* bytes, std::size_t n)
{
    if (m_captureMode == Capture_Standard)
        m_capture.write(bytes, n);
    if (!hasScreen())
        return;
    for (std::size_t i = 0; i < n; ++i)
        printByte(bytes[i]);
}

void Terminal::printByte(std::uint8_t c)
{
    const int cols = m_screen.columns();
    const int rows = m_screen.rows();
    switch (c) {
    case 13:
        m_col = 0;
        return;
    case 7:
        if (host.beep)
            host.beep();
        return;
    case 8:
        if (m_col > 0) {
            m_col = std::min(m_col - 1, cols - 1);
            if (m_backspace == BackSpace_Destructive)
                m_screen.chars(m_row)[m_col] = ' ';
            markDirty(m_row);
        }
        return;
    case 9:
        m_col = std::min((m_col / 8 + 1) * 8, cols - 1);
        return;
    case 10:
        markDirty(m_row);
        lineFeed();
        return;
    case 12:
        formFeed();
        return;
    case 14:
        if (m_emulation == Emulation_VT100)
            m_lineDrawing = true;
        return;
    case 15:
        m_lineDrawing = false;
        return;
    default:
        break;
    }
    if (m_lineDrawing)
        c = lineDrawingChar(c);
    c = m_translation[c];
    if (c == 0 || c == 7)
        return;
    if (m_col >= cols) {
        switch (m_eol) {
        case EndOfLineMode_NextLine:
            m_col = 0;
            lineFeed();
            break;
        case EndOfLineMode_WrapLine:
            m_col = 0;
            if (m_row == rows - 1)
                m_row = 0;
            break;
        case EndOfLineMode_WrapScreen:
            m_col = 0;
            m_row = m_row == rows - 1 ? 0 : m_row + 1;
            break;
        default:  // DoNothing: the character is dropped
            return;
        }
    }
    m_screen.put(m_row, m_col, c, m_color);
    ++m_col;  // may stand one past the last column until the next character
    markDirty(m_row);
}

// A line feed scrolls on the bottom row of the scroll region, or on the last
// row when there is no region; below a region it only moves down.
void Terminal::lineFeed()
{
    const int last = m_screen.rows() - 1;
    if (hasRegion() && m_row == m_regionBottom)
        scrollLine();
    else if (m_row == last) {
        if (!hasRegion())
            scrollLine();
    } else {
        ++m_row;
    }
    markDirty(m_row);
}

void Terminal::scrollLine()
{
    if (!hasRegion()) {
        pushRows(1);
        m_screen.scrollUp(0, m_screen.rows() - 1, m_color);
        markAllDirty();
        return;
    }
    // Only a region that starts at the top feeds the scroll-back.
    if (m_regionTop == 0)
        pushRows(1);
    m_screen.scrollUp(m_regionTop, m_regionBottom, m_color);
    markDirty(m_regionTop);
    markDirty(m_regionBottom);
}

void Terminal::reverseIndex()
{
    const int top = hasRegion() ? m_regionTop : 0;
    const int bottom = hasRegion() ? m_regionBottom : m_screen.rows() - 1;
    if (m_row == top) {
        m_screen.scrollDown(top, bottom, m_color);
        markDirty(top);
        markDirty(bottom);
    } else if (m_row > 0) {
        --m_row;
    }
}

void Terminal::formFeed()
{
    pushRows(m_screen.rows());
    m_screen.clearRows(0, m_screen.rows() - 1, m_color);
    m_row = m_col = 0;
    markAllDirty();
    repaintNow();
}

// Rows leaving the top of the screen: every one of them reaches a visible
// capture, as many as fit reach the scroll-back, and the selection moves
// up with its text.
void Terminal::pushRows(int n)
{
    n = std::min(n, m_screen.rows());
    if (m_captureMode == Capture_Visible)
        for (int r = 0; r < n; ++r)
            m_capture.writeRow(m_screen.chars(r), m_screen.columns());
    const int pushed = m_screen.pushToScrollBack(n);
    if (pushed > 0) {
        const int oldest = -m_screen.scrollRows();
        m_anchor.row = std::max(m_anchor.row - pushed, oldest);
        m_end.row = std::max(m_end.row - pushed, oldest);
    }
}

void Terminal::answer(std::string_view s)
{
    if (host.answer)
        host.answer(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

void Terminal::controlSequence(std::string_view body)
{
    if (!hasScreen() || body.empty())
        return;
    const char final = body.back();
    const std::vector<int> p = parameters(body.substr(0, body.size() - 1));
    const int cols = m_screen.columns();
    const int rows = m_screen.rows();
    const int pos = m_row * cols + std::min(m_col, cols);
    switch (final) {
    case 'A': m_row = std::max(0, m_row - param(p, 0, 1)); break;
    case 'B': m_row = std::min(rows - 1, m_row + param(p, 0, 1)); break;
    case 'C': m_col = std::min(cols - 1, m_col + param(p, 0, 1)); break;
    case 'D': m_col = std::max(0, std::min(m_col, cols) - param(p, 0, 1)); break;
    case 'H':
    case 'f': {
        const int r = param(p, 0, 1) - 1, c = param(p, 1, 1) - 1;
        if (r >= 0 && r < rows && c >= 0 && c < cols) {
            m_row = r;
            m_col = c;
        }
        break;
    }
    case 'J':
        switch (param(p, 0, 0)) {
        case 0: m_screen.clearCells(pos, rows * cols, m_color); break;
        case 1: m_screen.clearCells(0, pos, m_color); break;
        case 2:
            pushRows(rows);
            m_screen.clearRows(0, rows - 1, m_color);
            m_row = m_col = 0;
            break;
        default: return;
        }
        markAllDirty();
        repaintNow();
        break;
    case 'K':
        switch (param(p, 0, 0)) {
        case 0: m_screen.clearCells(pos, (m_row + 1) * cols, m_color); break;
        case 1: m_screen.clearCells(m_row * cols, pos, m_color); break;
        case 2:
            m_screen.clearRows(m_row, m_row, m_color);
            m_col = 0;
            break;
        default: return;
        }
        markDirty(m_row);
        break;
    case 's':
    case 'S':
        m_savedRow = m_row;
        m_savedCol = m_col;
        break;
    case 'u':
    case 'U':
        m_row = m_savedRow;
        m_col = m_savedCol;
        clampCursor();
        break;
    case 'r': {
        const int top = param(p, 0, 0), bottom = param(p, 1, 0);
        if (top == 0 || bottom == 0) {
            m_regionTop = m_regionBottom = 0;
        } else if (top >= 1 && bottom <= rows && top <= bottom) {
            m_regionTop = top - 1;
            m_regionBottom = bottom - 1;
            m_row = m_regionTop;
            m_col = 0;
        }
        break;
    }
    case 'n':
        if (param(p, 0, 0) == 5) {
            answer("\x1b[0n");
        } else if (param(p, 0, 0) == 6) {
            char text[32];
            std::snprintf(text, sizeof text, "\x1b[%d;%dR", m_row + 1, std::min(m_col, cols - 1) + 1);
            answer(text);
        }
        break;
    case 'c':
        answer("\x1b[?1;2c");
        break;
    case 'h':
    case 'l': {
        const bool set = final == 'h';
        if (body == (set ? "12h" : "12l")) {
            if (host.setEcho)
                host.setEcho(!set);
        } else if (body == (set ? "?3h" : "?3l")) {
            m_regionTop = m_regionBottom = 0;
            resize(set ? 132 : 80, rows);
        } else if (body == (set ? "?6h" : "?6l")) {
            m_origin = set;
        }
        break;
    }
    case 'm':
        graphicRendition(p.data(), int(p.size()));
        break;
    default:
        // Insert and delete commands and the finals without a meaning here
        // are ignored.
        break;
    }
}

void Terminal::graphicRendition(const int* p, int count)
{
    // "ESC [ m" resets like "ESC [ 0 m"; otherwise the parameters act up
    // to the first missing one.
    if (count == 1 && p[0] == kMissing) {
        m_color = 7;
        return;
    }
    for (int i = 0; i < std::min(count, 100) && p[i] != kMissing; ++i) {
        const int v = p[i];
        std::uint8_t fg = m_color & 0x0F, bg = m_color >> 4;
        if (v == 0) {
            fg = 7;
            bg = 0;
        } else if (v == 1 || v == 4) {
            fg |= 8;
        } else if (v == 5) {
            bg |= 8;
        } else if (v == 7 || v == 27) {
            std::swap(fg, bg);
        } else if (v == 8) {
            fg &= bg;
        } else if (v == 22 || v == 24 || v == 25) {
            fg &= 7;
        } else if (v >= 30 && v <= 37) {
            fg = (fg & 8) | kAnsiToPc[v - 30];
        } else if (v >= 40 && v <= 47) {
            bg = (bg & 8) | kAnsiToPc[v - 40];
        }
        m_color = std::uint8_t(bg << 4 | fg);
    }
}

void Terminal::escape(std::uint8_t command, std::uint8_t arg)
{
    if (!hasScreen())
        return;
    switch (command) {
    case '(': m_lineDrawing = arg == '0'; break;
    case '=': m_keypad = true; break;
    case '>': m_keypad = false; break;
    case 'D': m_row = std::min(m_row + 1, m_screen.rows() - 1); break;
    case 'E':
        markDirty(m_row);
        m_col = 0;
        lineFeed();
        break;
    case 'M': reverseIndex(); break;
    case '7':
        m_savedRow = m_row;
        m_savedCol = m_col;
        break;
    case '8':
        m_row = m_savedRow;
        m_col = m_savedCol;
        clampCursor();
        break;
    default: break;  // ESC ")" and ESC "#" with their byte, and other pairs
    }
}

void Terminal::vt52(std::uint8_t command, std::uint8_t a, std::uint8_t b)
{
    if (!hasScreen())
        return;
    const int cols = m_screen.columns(), rows = m_screen.rows();
    switch (command) {
    case 'A':
    case 'I': m_row = std::max(0, m_row - 1); break;
    case 'B': m_row = std::min(rows - 1, m_row + 1); break;
    case 'C': m_col = std::min(cols - 1, m_col + 1); break;
    case 'D': m_col = std::max(0, std::min(m_col, cols) - 1); break;
    case 'H': m_row = m_col = 0; break;
    case 'J':
        m_screen.clearCells(m_row * cols + std::min(m_col, cols), rows * cols, m_color);
        markAllDirty();
        repaintNow();
        break;
    case 'K':
        m_screen.clearCells(m_row * cols + std::min(m_col, cols), (m_row + 1) * cols, m_color);
        markDirty(m_row);
        break;
    case 'Y':
        m_row = std::clamp(int(a) - 32, 0, rows - 1);
        m_col = std::clamp(int(b) - 32, 0, cols - 1);
        break;
    case 'Z': answer("\x1b/Z"); break;
    default: break;
    }
}

}  // namespace qelcomm::terminal
