// The terminal's settings, screen text, selection, capture and view origin.
#include "terminal.h"

#include <algorithm>
#include <cstring>

namespace qelcomm::terminal {
namespace {

int floorDiv(int a, int b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

Terminal::Terminal()
{
    for (int i = 0; i < 256; ++i)
        m_translation[std::size_t(i)] = std::uint8_t(i);
    m_screen.resize(kDefaultColumns, kDefaultRows, blank());
}

Terminal::~Terminal()
{
    setCaptureFilename("");
}

void Terminal::write(const std::uint8_t* bytes, std::size_t n)
{
    if (n == 0 || !bytes)
        return;
    if (m_captureMode == Capture_Binary)
        m_capture.write(bytes, n);
    // Without a screen nothing is shown and nothing is answered.
    if (!hasScreen())
        return;
    m_parser.feed(m_emulation, bytes, n, *this);
    markDirty(m_row);
    if (!m_repaintPending) {
        m_repaintPending = true;
        if (host.postRepaint)
            host.postRepaint();
    }
    followCursor(false);
    if (m_dirtyLast - m_dirtyFirst + 1 > 5)
        repaintNow();
}

void Terminal::setEmulation(std::int32_t e)
{
    if (e < Emulation_None || e > Emulation_VT100 || e == m_emulation)
        return;
    m_parser.reset();
    if (e == Emulation_None) {
        m_screen.release();
    } else if (!hasScreen()) {
        m_screen.allocate(m_screen.columns(), m_screen.rows(), blank());
        m_row = m_col = 0;
    }
    m_emulation = e;
    markAllDirty();
    repaintNow();
}

bool Terminal::resize(int columns, int rows)
{
    if (!validSize(columns, rows))
        return false;
    if (columns == m_screen.columns() && rows == m_screen.rows())
        return true;
    if (!m_screen.resize(columns, rows, blank()))
        return false;
    clampCursor();
    m_savedRow = std::min(m_savedRow, rows - 1);
    m_savedCol = std::min(m_savedCol, columns - 1);
    if (m_regionBottom >= rows)
        m_regionTop = m_regionBottom = 0;
    setViewOrigin(m_viewTop, m_viewLeft);
    markAllDirty();
    repaintNow();
    return true;
}

bool Terminal::fit(int columns, int rows)
{
    if (!validSize(columns, rows))
        return false;
    if (!hasScreen() || rows == m_screen.rows())
        return resize(columns, rows);
    const int oldRows = m_screen.rows();
    if (rows < oldRows) {
        shiftRowsOut(m_row - (rows - 1));
        return resize(columns, rows);
    }
    if (!resize(columns, rows))
        return false;
    const int back = m_screen.pullFromScrollBack(rows - oldRows);
    if (back > 0) {
        m_row += back;
        m_savedRow = std::min(m_savedRow + back, rows - 1);
        m_anchor.row += back;
        m_end.row += back;
        setViewOrigin(m_viewTop, m_viewLeft);
        markAllDirty();
    }
    return true;
}

// The top n rows leave the screen as scrolling takes them (into the
// scroll-back and a visible capture); the rest move up.
void Terminal::shiftRowsOut(int n)
{
    n = std::min(n, m_screen.rows());
    if (n <= 0)
        return;
    pushRows(n);
    for (int i = 0; i < n; ++i)
        m_screen.scrollUp(0, m_screen.rows() - 1, blank());
    m_row -= n;
    m_savedRow = std::max(0, m_savedRow - n);
    markAllDirty();
}

void Terminal::clampCursor()
{
    m_row = std::clamp(m_row, 0, m_screen.rows() - 1);
    m_col = std::clamp(m_col, 0, m_screen.columns() - 1);
}

void Terminal::setCursorRow(int r)
{
    markDirty(m_row);
    m_row = std::clamp(r, 0, m_screen.rows() - 1);
    markDirty(m_row);
}

void Terminal::setCursorColumn(int c)
{
    m_col = std::clamp(c, 0, m_screen.columns() - 1);
    markDirty(m_row);
}

void Terminal::setTranslationTable(const std::uint8_t table[256])
{
    std::memcpy(m_translation.data(), table, 256);
}

void Terminal::translationTable(std::uint8_t table[256]) const
{
    std::memcpy(table, m_translation.data(), 256);
}

int Terminal::setScrollRows(int n)
{
    if (n == m_screen.scrollRows())
        return 0;
    if (n < 0 || !m_screen.setScrollRows(n))
        return -1;
    const int oldest = -n;
    m_anchor.row = std::max(m_anchor.row, oldest);
    m_end.row = std::max(m_end.row, oldest);
    setViewOrigin(m_viewTop, m_viewLeft);
    markAllDirty();
    return 0;
}

std::string Terminal::contents(std::size_t size) const
{
    std::string out;
    if (!hasScreen())
        return out;
    size = std::min<std::size_t>(size, 65535);
    for (int r = 0; r < m_screen.rows(); ++r) {
        const std::string row = Screen::text(m_screen.row(r), m_screen.columns(), utf8());
        if (out.size() + row.size() + 2 >= size)
            break;
        out += row;
        out += "\r\n";
    }
    return out;
}

std::string Terminal::scrollContents(std::size_t size) const
{
    std::string out;
    if (!hasScreen())
        return out;
    size = std::min<std::size_t>(size, 65535);
    const int n = m_screen.scrollRows();
    int first = 0;
    while (first < n && Screen::text(m_screen.scrollRow(first), m_screen.columns(), utf8()).empty())
        ++first;
    for (int r = first; r < n; ++r) {
        const std::string row = Screen::text(m_screen.scrollRow(r), m_screen.columns(), utf8());
        if (out.size() + row.size() + 2 >= size)
            break;
        out += row;
        out += "\r\n";
    }
    return out;
}

void Terminal::setContents(const std::uint8_t* bytes, std::size_t n)
{
    const std::uint8_t ff = 12;
    write(&ff, 1);
    write(bytes, n);
}

int Terminal::setSelectionStart(int i)
{
    const int cols = m_screen.columns();
    if (i < 0 || i > m_screen.rows() * cols)
        return -1;
    setSelection({i / cols, i % cols}, {i / cols, i % cols});
    return 0;
}

// The end may sit at the very end of the screen (the row after the last,
// column 0), so that the whole screen can be selected.
int Terminal::setSelectionLength(int n)
{
    if (n < 0)
        return 0;
    const int cols = m_screen.columns();
    const long long pos = (long long)selectionStart() + n;
    if (pos > (long long)m_screen.rows() * cols)
        return -1;
    setSelection(m_anchor, {floorDiv(int(pos), cols), int(pos - (long long)floorDiv(int(pos), cols) * cols)});
    return 0;
}

int Terminal::selectionStart() const
{
    return m_anchor.row * m_screen.columns() + m_anchor.column;
}

// The number of cells from the anchor to the end.
int Terminal::selectionLength() const
{
    if (m_end.row == m_anchor.row)
        return m_end.column - m_anchor.column;
    return (m_end.row - m_anchor.row) * m_screen.columns() - m_anchor.column + m_end.column;
}

int Terminal::selectedRows() const
{
    int last = m_end.row;
    if (m_end.column == 0 && last > m_anchor.row)
        --last;
    return last - m_anchor.row + 1;
}

std::string Terminal::selectionText(std::size_t size) const
{
    std::string out;
    if (!hasScreen() || selectionLength() <= 0)
        return out;
    size = std::min<std::size_t>(size, 65535);
    const int cols = m_screen.columns();
    const int last = m_anchor.row + selectedRows() - 1;
    for (int r = m_anchor.row; r <= last; ++r) {
        const Cell* cells = m_screen.viewRow(r);
        if (!cells)
            break;
        const int from = r == m_anchor.row ? std::min(m_anchor.column, cols) : 0;
        const int to = r == m_end.row ? std::min(m_end.column, cols) : cols;
        const std::string piece = Screen::text(cells + from, std::max(0, to - from), utf8());
        if (out.size() + piece.size() + 2 + 1 > size)
            break;
        out += piece;
        out += "\r\n";
    }
    return out;
}

void Terminal::setSelection(CellPos anchor, CellPos end)
{
    if (end.row < anchor.row || (end.row == anchor.row && end.column < anchor.column))
        std::swap(anchor, end);
    for (int r : {m_anchor.row, m_end.row, anchor.row, end.row})
        markDirty(r);
    m_anchor = anchor;
    m_end = end;
}

bool Terminal::setCaptureFilename(const std::string& name)
{
    if (m_capture.isOpen()) {
        if (m_captureMode == Capture_Visible && hasScreen())
            for (int r = 0; r < m_screen.rows(); ++r)
                m_capture.writeRow(Screen::text(m_screen.row(r), m_screen.columns(), utf8()));
        m_capture.close();
    }
    if (name.empty())
        return true;
    return m_capture.open(name);
}

void Terminal::setViewExtent(int visibleColumns, int visibleRows)
{
    m_viewColumns = std::max(0, visibleColumns);
    m_viewRows = std::max(0, visibleRows);
    setViewOrigin(m_viewTop, m_viewLeft);
}

void Terminal::setViewOrigin(int top, int left)
{
    const int rows = m_viewRows ? m_viewRows : m_screen.rows();
    const int cols = m_viewColumns ? m_viewColumns : m_screen.columns();
    m_viewTop = std::clamp(top, -m_screen.scrollRows(), std::max(0, m_screen.rows() - rows));
    m_viewLeft = std::clamp(left, 0, std::max(0, m_screen.columns() - cols));
}

void Terminal::followCursor(bool afterKeys, bool forceRow)
{
    const int v = m_autoScroll;
    const bool rows = forceRow || v == 1 || v == 3 || v == 4;
    const bool columns = v == 2 || v == 3 || (v == 4 && afterKeys);
    int top = m_viewTop, left = m_viewLeft;
    if (rows) {
        const int visible = m_viewRows ? m_viewRows : m_screen.rows();
        if (m_row < top)
            top = m_row;
        else if (m_row >= top + visible)
            top = m_row - visible + 1;
    }
    if (columns) {
        const int visible = m_viewColumns ? m_viewColumns : m_screen.columns();
        const int col = std::min(m_col, m_screen.columns() - 1);
        if (col < left)
            left = col;
        else if (col >= left + visible)
            left = col - visible + 1;
    }
    if (top != m_viewTop || left != m_viewLeft) {
        setViewOrigin(top, left);
        markAllDirty();
    }
}

void Terminal::markDirty(int row)
{
    if (m_screen.rows() <= 0)
        return;
    row = std::clamp(row, 0, m_screen.rows() - 1);
    if (m_dirtyFirst > m_dirtyLast) {
        m_dirtyFirst = m_dirtyLast = row;
        return;
    }
    m_dirtyFirst = std::min(m_dirtyFirst, row);
    m_dirtyLast = std::max(m_dirtyLast, row);
}

void Terminal::takeDirty(int* first, int* last)
{
    *first = m_dirtyFirst;
    *last = m_dirtyLast;
    m_dirtyFirst = 1;
    m_dirtyLast = 0;
    m_repaintPending = false;
}

void Terminal::repaintNow()
{
    if (host.repaintNow)
        host.repaintNow();
}

}  // namespace qelcomm::terminal
