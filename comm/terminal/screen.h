// The cell grid: columns x rows cells, row by row, and the scroll-back
// store, oldest row first. A cell holds one character (a byte of the PC
// character set, or a Unicode character), its PC attribute byte and the
// extended look; a wide character fills its cell and the tail cell after
// it. The grid knows nothing of cursors or sequences.
#pragma once

#include "colors.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qelcomm::terminal {

// The second cell of a wide character (not a character itself).
inline constexpr char32_t kWideTail = 0x110000;

struct Cell {
    char32_t ch = ' ';
    std::uint8_t attr = 0;     // PC colours: low nibble foreground, high background
    std::uint8_t flags = 0;    // CellFlag bits
    std::uint32_t fg = ColorKind_Pc, bg = ColorKind_Pc;
};

class Screen {
public:
    bool allocated() const { return !m_cells.empty(); }
    int columns() const { return m_columns; }
    int rows() const { return m_rows; }

    // A fresh grid of blanks.
    bool allocate(int columns, int rows, const Cell& blank);
    void release();
    // A new size keeping the overlapping part; new cells are blanks. The
    // scroll-back keeps its rows whole: its store only ever widens.
    bool resize(int columns, int rows, const Cell& blank);

    Cell* row(int r) { return &m_cells[std::size_t(r) * std::size_t(m_columns)]; }
    const Cell* row(int r) const { return &m_cells[std::size_t(r) * std::size_t(m_columns)]; }
    // Stores a cell; a wide character it breaks becomes a blank.
    void put(int row, int column, const Cell& cell);

    // Clears cells [from, to) counted as row x columns + column.
    void clearCells(int from, int to, const Cell& blank);
    void clearRows(int first, int last, const Cell& blank);  // inclusive
    // Moves rows first+1..last up one; last becomes blank.
    void scrollUp(int first, int last, const Cell& blank);
    // Moves rows first..last-1 down one; first becomes blank.
    void scrollDown(int first, int last, const Cell& blank);

    // Scroll-back.
    int scrollRows() const { return m_scrollRows; }
    // Rows pushed into the scroll-back since it was made, at most its size.
    int scrollUsed() const { return m_scrollUsed; }
    // A new store of n rows (blanks, attribute 0); false when memory fails.
    bool setScrollRows(int n);
    // Copies screen rows 0..n-1 to the end of the scroll-back; n is limited
    // to its size. Returns the number of rows pushed.
    int pushToScrollBack(int n);
    // The reverse: the n newest scroll-back rows come back above the screen
    // rows, which move down (the last n screen rows are dropped). n is
    // limited to the rows the scroll-back holds; returns the rows moved.
    int pullFromScrollBack(int n);
    const Cell* scrollRow(int r) const { return &m_scroll[std::size_t(r) * std::size_t(m_scrollWidth)]; }

    // Row r of the view's numbering: 0.. the screen, -1.. -scrollRows the
    // scroll-back (-1 the newest). Null outside both. Both give at least
    // columns() cells.
    const Cell* viewRow(int r) const;

    // Every cell of the screen and the scroll-back.
    template <typename F>
    void forEachCell(F f)
    {
        for (Cell& c : m_cells)
            f(c);
        for (Cell& c : m_scroll)
            f(c);
    }

    // A row's text without trailing spaces: the bytes of the PC character
    // set, or UTF-8; the tails of wide characters give nothing.
    static std::string text(const Cell* cells, int n, bool utf8);

private:
    int m_columns = 0;
    int m_rows = 0;
    int m_scrollRows = 0;
    int m_scrollWidth = 0;   // cells a scroll-back row holds, at least m_columns
    int m_scrollUsed = 0;
    std::vector<Cell> m_cells, m_scroll;
};

}  // namespace qelcomm::terminal
