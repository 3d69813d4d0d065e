#include "screen.h"

#include "utf8.h"

#include <algorithm>
#include <new>

namespace qelcomm::terminal {
namespace {

// A scroll-back cell nothing was written to.
constexpr Cell kEmpty{};

// Copies n cells of a row into a wider or equal one; the rest are blanks
// in the colours of the row's last cell, so that a row that comes back
// onto a wider screen goes on as it ended.
void copyRow(Cell* to, int width, const Cell* from, int n)
{
    std::copy(from, from + n, to);
    Cell pad = n > 0 ? from[n - 1] : kEmpty;
    pad.ch = ' ';
    pad.flags &= Cell_Inverse;
    std::fill(to + n, to + width, pad);
}

}  // namespace

bool Screen::allocate(int columns, int rows, const Cell& blank)
{
    try {
        std::vector<Cell> cells(std::size_t(columns) * std::size_t(rows), blank);
        std::vector<Cell> scroll(std::size_t(m_scrollRows) * std::size_t(columns), kEmpty);
        m_cells.swap(cells);
        m_scroll.swap(scroll);
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_columns = columns;
    m_rows = rows;
    m_scrollWidth = columns;
    m_scrollUsed = 0;
    return true;
}

void Screen::release()
{
    std::vector<Cell>().swap(m_cells);
}

bool Screen::resize(int columns, int rows, const Cell& blank)
{
    if (!allocated()) {
        m_columns = columns;
        m_rows = rows;
        return true;
    }
    const int scrollWidth = std::max(columns, m_scrollWidth);
    std::vector<Cell> cells, scroll;
    try {
        cells.assign(std::size_t(columns) * std::size_t(rows), blank);
        if (scrollWidth != m_scrollWidth)
            scroll.assign(std::size_t(m_scrollRows) * std::size_t(scrollWidth), kEmpty);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const int w = std::min(columns, m_columns);
    for (int r = 0; r < std::min(rows, m_rows); ++r) {
        Cell* to = &cells[std::size_t(r) * std::size_t(columns)];
        std::copy(row(r), row(r) + w, to);
        // A wide character whose tail is cut off goes.
        if (w < m_columns && row(r)[w].ch == kWideTail)
            to[w - 1].ch = ' ';
    }
    if (scrollWidth != m_scrollWidth) {
        for (int r = 0; r < m_scrollRows; ++r)
            copyRow(&scroll[std::size_t(r) * std::size_t(scrollWidth)], scrollWidth, scrollRow(r), m_scrollWidth);
        m_scroll.swap(scroll);
        m_scrollWidth = scrollWidth;
    }
    m_cells.swap(cells);
    m_columns = columns;
    m_rows = rows;
    return true;
}

void Screen::put(int r, int column, const Cell& cell)
{
    Cell* line = row(r);
    if (line[column].ch == kWideTail && column > 0)
        line[column - 1].ch = ' ';
    if (column + 1 < m_columns && line[column + 1].ch == kWideTail)
        line[column + 1].ch = ' ';
    line[column] = cell;
}

void Screen::clearCells(int from, int to, const Cell& blank)
{
    const int total = m_columns * m_rows;
    from = std::clamp(from, 0, total);
    to = std::clamp(to, 0, total);
    if (from >= to)
        return;
    // Halves of wide characters left outside the cleared cells go too.
    if (from % m_columns != 0 && m_cells[std::size_t(from)].ch == kWideTail)
        m_cells[std::size_t(from) - 1].ch = ' ';
    if (to < total && to % m_columns != 0 && m_cells[std::size_t(to)].ch == kWideTail)
        m_cells[std::size_t(to)].ch = ' ';
    std::fill(m_cells.begin() + from, m_cells.begin() + to, blank);
}

void Screen::clearRows(int first, int last, const Cell& blank)
{
    clearCells(first * m_columns, (last + 1) * m_columns, blank);
}

void Screen::scrollUp(int first, int last, const Cell& blank)
{
    if (first < last)
        std::copy(row(first + 1), row(last) + m_columns, row(first));
    clearRows(last, last, blank);
}

void Screen::scrollDown(int first, int last, const Cell& blank)
{
    if (first < last)
        std::copy_backward(row(first), row(last), row(last) + m_columns);
    clearRows(first, first, blank);
}

bool Screen::setScrollRows(int n)
{
    if (n < 0)
        return false;
    try {
        std::vector<Cell> scroll(std::size_t(n) * std::size_t(m_columns), kEmpty);
        m_scroll.swap(scroll);
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_scrollRows = n;
    m_scrollWidth = m_columns;
    m_scrollUsed = 0;
    return true;
}

int Screen::pushToScrollBack(int n)
{
    n = std::min({n, m_scrollRows, m_rows});
    if (n <= 0 || !allocated())
        return 0;
    const std::size_t w = std::size_t(m_scrollWidth);
    std::copy(m_scroll.begin() + std::ptrdiff_t(std::size_t(n) * w), m_scroll.end(), m_scroll.begin());
    for (int r = 0; r < n; ++r)
        copyRow(&m_scroll[std::size_t(m_scrollRows - n + r) * w], m_scrollWidth, row(r), m_columns);
    m_scrollUsed = std::min(m_scrollRows, m_scrollUsed + n);
    return n;
}

int Screen::pullFromScrollBack(int n)
{
    n = std::min({n, m_scrollUsed, m_rows});
    if (n <= 0 || !allocated())
        return 0;
    const auto shift = std::ptrdiff_t(std::size_t(n) * std::size_t(m_columns));
    std::copy_backward(m_cells.begin(), m_cells.end() - shift, m_cells.end());
    for (int r = 0; r < n; ++r) {
        const Cell* from = scrollRow(m_scrollRows - n + r);
        std::copy(from, from + m_columns, row(r));
        if (m_scrollWidth > m_columns && from[m_columns].ch == kWideTail)
            row(r)[m_columns - 1].ch = ' ';
    }
    // The rows left in the store move to its end, where the newest rows live.
    const auto gone = std::ptrdiff_t(std::size_t(n) * std::size_t(m_scrollWidth));
    std::copy_backward(m_scroll.begin(), m_scroll.end() - gone, m_scroll.end());
    std::fill(m_scroll.begin(), m_scroll.begin() + gone, kEmpty);
    m_scrollUsed -= n;
    return n;
}

const Cell* Screen::viewRow(int r) const
{
    if (!allocated() || r >= m_rows || r < -m_scrollRows)
        return nullptr;
    return r >= 0 ? row(r) : scrollRow(m_scrollRows + r);
}

std::string Screen::text(const Cell* cells, int n, bool utf8)
{
    while (n > 0 && cells[n - 1].ch == ' ')
        --n;
    std::string out;
    out.reserve(std::size_t(n));
    for (int i = 0; i < n; ++i) {
        const char32_t c = cells[i].ch;
        if (c == kWideTail)
            continue;
        if (utf8)
            appendUtf8(out, c);
        else
            out += char(std::uint8_t(c));
    }
    return out;
}

}  // namespace qelcomm::terminal
