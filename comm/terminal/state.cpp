// The terminal's state machine proper: the byte printer, line feeds and
// scrolling, and the actions of control sequences, escape commands and
// VT52 commands on the screen.
#include "terminal.h"

#include "char_width.h"
#include "cp437.h"

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

// Parameters as groups at ";", each made of numbers at ":" (the colon
// form of the colour sub-parameters); a missing number is kMissing.
std::vector<std::vector<int>> parameterGroups(std::string_view text)
{
    std::vector<std::vector<int>> groups(1);
    int value = kMissing;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            value = std::min((value == kMissing ? 0 : value) * 10 + (c - '0'), 99999);
        } else if (c == ':' || c == ';') {
            groups.back().push_back(value);
            value = kMissing;
            if (c == ';')
                groups.emplace_back();
        }
    }
    groups.back().push_back(value);
    return groups;
}

// The colour of 38, 48 or 58 at group i: "5;n" or "2;r;g;b" in the groups
// that follow (i moves past them), or ":5:n", ":2:r:g:b" and
// ":2:space:r:g:b" inside the group. false when there is none to take.
bool extendedColor(const std::vector<std::vector<int>>& g, std::size_t& i, std::uint32_t& color)
{
    std::vector<int> v(g[i].begin() + 1, g[i].end());
    if (v.empty()) {
        if (i + 1 >= g.size())
            return false;
        const int kind = g[i + 1][0];
        const std::size_t take = kind == 5 ? 2 : kind == 2 ? 4 : 1;
        v.clear();
        for (std::size_t k = 1; k <= take && i + k < g.size(); ++k)
            v.push_back(g[i + k][0]);
        i = std::min(i + take, g.size() - 1);
    } else if (v.size() >= 5 && v[0] == 2) {
        v.erase(v.begin() + 1);   // the colour space
    }
    auto byte = [](int n) { return n == kMissing ? 0 : n; };
    if (v.size() == 2 && v[0] == 5 && v[1] >= 0 && v[1] <= 255) {
        color = indexedColor(v[1]);
        return true;
    }
    if (v.size() == 4 && v[0] == 2 && byte(v[1]) <= 255 && byte(v[2]) <= 255 && byte(v[3]) <= 255) {
        color = rgbColor(byte(v[1]), byte(v[2]), byte(v[3]));
        return true;
    }
    return false;
}

}  // namespace

void Terminal::text(const std::uint8_t* bytes, std::size_t n)
{
    if (m_captureMode == Capture_Standard)
        m_capture.write(bytes, n);
    if (!hasScreen())
        return;
    if (utf8()) {
        for (std::size_t i = 0; i < n; ++i)
            m_decoder.feed(bytes[i], [this](char32_t c) { printChar(c); });
    } else {
        for (std::size_t i = 0; i < n; ++i)
            printChar(bytes[i]);
    }
}

// A character cut short by a control sequence shows as U+FFFD.
void Terminal::endCharacter()
{
    if (m_decoder.pending()) {
        m_decoder.reset();
        printChar(kReplacementChar);
    }
}

// c: a byte of the PC character set, or in UTF-8 a Unicode character.
void Terminal::printChar(char32_t c)
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
            if (m_backspace == BackSpace_Destructive) {
                Cell space = m_screen.row(m_row)[m_col];
                space.ch = ' ';
                m_screen.put(m_row, m_col, space);
            }
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
    if (m_lineDrawing && c < 0x80) {
        const std::uint8_t box = lineDrawingChar(std::uint8_t(c));
        c = utf8() && box != c ? kCp437[box] : box;
    }
    int width = 1;
    if (!utf8()) {
        c = m_translation[c & 0xFF];
        if (c == 0 || c == 7)
            return;
    } else if (c < 0x80) {
        // The table maps the single-byte characters.
        c = m_translation[c];
        if (c == 0 || c == 7)
            return;
    } else {
        // C1 controls have no meaning here; marks that join the character
        // before are left out, as the screen keeps one character a cell.
        width = c <= 0x9F ? 0 : charWidth(c);
        if (width == 0)
            return;
        width = std::min(width, cols);
    }
    if (m_col + width > cols) {
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
    Cell cell = pen();
    cell.ch = c;
    m_screen.put(m_row, m_col, cell);
    if (width == 2) {
        cell.ch = kWideTail;
        m_screen.put(m_row, m_col + 1, cell);
    }
    m_col += width;  // may stand one past the last column until the next character
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
        m_screen.scrollUp(0, m_screen.rows() - 1, blank());
        markAllDirty();
        return;
    }
    // Only a region that starts at the top feeds the scroll-back.
    if (m_regionTop == 0)
        pushRows(1);
    m_screen.scrollUp(m_regionTop, m_regionBottom, blank());
    markDirty(m_regionTop);
    markDirty(m_regionBottom);
}

void Terminal::reverseIndex()
{
    const int top = hasRegion() ? m_regionTop : 0;
    const int bottom = hasRegion() ? m_regionBottom : m_screen.rows() - 1;
    if (m_row == top) {
        m_screen.scrollDown(top, bottom, blank());
        markDirty(top);
        markDirty(bottom);
    } else if (m_row > 0) {
        --m_row;
    }
}

void Terminal::formFeed()
{
    pushRows(m_screen.rows());
    m_screen.clearRows(0, m_screen.rows() - 1, blank());
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
            m_capture.writeRow(Screen::text(m_screen.row(r), m_screen.columns(), utf8()));
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
    endCharacter();
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
        case 0: m_screen.clearCells(pos, rows * cols, blank()); break;
        case 1: m_screen.clearCells(0, pos, blank()); break;
        case 2:
            pushRows(rows);
            m_screen.clearRows(0, rows - 1, blank());
            m_row = m_col = 0;
            break;
        default: return;
        }
        markAllDirty();
        repaintNow();
        break;
    case 'K':
        switch (param(p, 0, 0)) {
        case 0: m_screen.clearCells(pos, (m_row + 1) * cols, blank()); break;
        case 1: m_screen.clearCells(m_row * cols, pos, blank()); break;
        case 2:
            m_screen.clearRows(m_row, m_row, blank());
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
        if (m_rendition == Rendition_Extended)
            extendedRendition(body.substr(0, body.size() - 1));
        else
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

// The extended rendition: missing parameters count as 0, as ECMA-48 has it.
void Terminal::extendedRendition(std::string_view text)
{
    const std::vector<std::vector<int>> g = parameterGroups(text);
    for (std::size_t i = 0; i < g.size(); ++i) {
        const int v = g[i][0] == kMissing ? 0 : g[i][0];
        std::uint8_t& f = m_penFlags;
        switch (v) {
        case 0:
            f = 0;
            m_penFg = m_penBg = ColorKind_Default;
            break;
        case 1: f |= Cell_Bold; break;
        case 2: f |= Cell_Faint; break;
        case 3: f |= Cell_Italic; break;
        case 4:
            // "4:0" is no underline; the other styles draw a single line.
            if (g[i].size() > 1 && g[i][1] == 0)
                f &= std::uint8_t(~Cell_Underline);
            else
                f |= Cell_Underline;
            break;
        case 5:
        case 6: f |= Cell_Blink; break;
        case 7: f |= Cell_Inverse; break;
        case 8: f |= Cell_Hidden; break;
        case 9: f |= Cell_Strike; break;
        case 21: f |= Cell_Underline; break;
        case 22: f &= std::uint8_t(~(Cell_Bold | Cell_Faint)); break;
        case 23: f &= std::uint8_t(~Cell_Italic); break;
        case 24: f &= std::uint8_t(~Cell_Underline); break;
        case 25: f &= std::uint8_t(~Cell_Blink); break;
        case 27: f &= std::uint8_t(~Cell_Inverse); break;
        case 28: f &= std::uint8_t(~Cell_Hidden); break;
        case 29: f &= std::uint8_t(~Cell_Strike); break;
        case 39: m_penFg = ColorKind_Default; break;
        case 49: m_penBg = ColorKind_Default; break;
        case 38:
        case 48:
        case 58: {
            // 58 (the underline's colour) is read so that its values are
            // not taken for attributes, and not drawn.
            std::uint32_t color;
            if (extendedColor(g, i, color) && v != 58)
                (v == 38 ? m_penFg : m_penBg) = color;
            break;
        }
        default:
            if (v >= 30 && v <= 37)
                m_penFg = indexedColor(v - 30);
            else if (v >= 40 && v <= 47)
                m_penBg = indexedColor(v - 40);
            else if (v >= 90 && v <= 97)
                m_penFg = indexedColor(v - 90 + 8);
            else if (v >= 100 && v <= 107)
                m_penBg = indexedColor(v - 100 + 8);
            break;
        }
    }
    updateColor();
}

// The attribute byte that shows the pen best in the 16 PC colours; the
// default colours count as light grey on black, as "ESC [ 0 m" gives.
void Terminal::updateColor()
{
    auto nibble = [this](std::uint32_t c, bool foreground) {
        switch (colorKind(c)) {
        case ColorKind_Pc: return foreground ? m_baseColor & 15 : m_baseColor >> 4;
        case ColorKind_Default: return foreground ? 7 : 0;
        default: return nearestPc(c);
        }
    };
    int fg = nibble(m_penFg, true), bg = nibble(m_penBg, false);
    if (m_penFlags & Cell_Bold)
        fg |= 8;
    if (m_penFlags & Cell_Inverse)
        std::swap(fg, bg);
    m_color = std::uint8_t(bg << 4 | fg);
}

void Terminal::setColor(std::uint8_t a)
{
    m_color = m_baseColor = a;
    m_penFlags = 0;
    m_penFg = m_penBg = ColorKind_Pc;
}

void Terminal::setCharacterSet(std::int32_t c)
{
    if ((c != CharacterSet_CodePage && c != CharacterSet_Utf8) || c == m_charset)
        return;
    m_charset = c;
    m_decoder.reset();
    m_parser.reset();   // a sequence begun in the other set means nothing now
    m_parser.setUtf8(utf8());
    m_screen.forEachCell([u = utf8()](Cell& cell) {
        if (cell.ch < 0x80)
            return;
        if (u) {
            cell.ch = kCp437[cell.ch & 0xFF];
        } else {
            const int b = cp437Byte(cell.ch);
            cell.ch = cell.ch == kWideTail ? U' ' : b < 0 ? U'?' : char32_t(b);
        }
    });
    markAllDirty();
    repaintNow();
}

void Terminal::setRendition(std::int32_t r)
{
    if ((r != Rendition_PC && r != Rendition_Extended) || r == m_rendition)
        return;
    m_rendition = r;
    m_parser.setLimit(r == Rendition_Extended ? kExtendedSequenceLimit : kSequenceLimit);
    if (r == Rendition_Extended) {
        m_screen.forEachCell([a = m_baseColor](Cell& cell) {
            if (cell.attr == a && cell.flags == 0 && cell.fg == ColorKind_Pc && cell.bg == ColorKind_Pc)
                cell.fg = cell.bg = ColorKind_Default;
        });
        m_penFlags = 0;
        m_penFg = m_penBg = ColorKind_Default;
    } else {
        setColor(m_color);
    }
    markAllDirty();
    repaintNow();
}

void Terminal::escape(std::uint8_t command, std::uint8_t arg)
{
    endCharacter();
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
    endCharacter();
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
        m_screen.clearCells(m_row * cols + std::min(m_col, cols), rows * cols, blank());
        markAllDirty();
        repaintNow();
        break;
    case 'K':
        m_screen.clearCells(m_row * cols + std::min(m_col, cols), (m_row + 1) * cols, blank());
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
