// The cell grid: a character plane and an attribute plane of columns x rows
// bytes each, row by row, and the scroll-back store of the same width,
// oldest row first. It knows nothing of cursors or sequences.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qelcomm::terminal {

class Screen {
public:
    bool allocated() const { return !m_chars.empty(); }
    int columns() const { return m_columns; }
    int rows() const { return m_rows; }

    // A fresh grid of spaces in attr.
    bool allocate(int columns, int rows, std::uint8_t attr);
    void release();
    // A new size keeping the overlapping part; new cells are spaces in attr.
    // The scroll-back keeps its rows, cut or padded to the new width.
    bool resize(int columns, int rows, std::uint8_t attr);

    std::uint8_t* chars(int row) { return &m_chars[std::size_t(row) * std::size_t(m_columns)]; }
    std::uint8_t* attrs(int row) { return &m_attrs[std::size_t(row) * std::size_t(m_columns)]; }
    const std::uint8_t* chars(int row) const { return &m_chars[std::size_t(row) * std::size_t(m_columns)]; }
    const std::uint8_t* attrs(int row) const { return &m_attrs[std::size_t(row) * std::size_t(m_columns)]; }
    void put(int row, int column, std::uint8_t c, std::uint8_t attr);

    // Clears cells [from, to) counted as row x columns + column.
    void clearCells(int from, int to, std::uint8_t attr);
    void clearRows(int first, int last, std::uint8_t attr);  // inclusive
    // Moves rows first+1..last up one; last becomes blank.
    void scrollUp(int first, int last, std::uint8_t attr);
    // Moves rows first..last-1 down one; first becomes blank.
    void scrollDown(int first, int last, std::uint8_t attr);

    // Scroll-back.
    int scrollRows() const { return m_scrollRows; }
    // A new store of n rows (spaces, attribute 0); false when memory fails.
    bool setScrollRows(int n);
    // Copies screen rows 0..n-1 to the end of the scroll-back; n is limited
    // to its size. Returns the number of rows pushed.
    int pushToScrollBack(int n);
    const std::uint8_t* scrollChars(int row) const { return &m_sbChars[std::size_t(row) * std::size_t(m_columns)]; }
    const std::uint8_t* scrollAttrs(int row) const { return &m_sbAttrs[std::size_t(row) * std::size_t(m_columns)]; }

    // Row r of the view's numbering: 0.. the screen, -1.. -scrollRows the
    // scroll-back (-1 the newest). Null outside both.
    const std::uint8_t* viewChars(int r) const;
    const std::uint8_t* viewAttrs(int r) const;

    // A row's text without trailing spaces.
    static std::string trimmed(const std::uint8_t* chars, int n);

private:
    int m_columns = 0;
    int m_rows = 0;
    int m_scrollRows = 0;
    std::vector<std::uint8_t> m_chars, m_attrs, m_sbChars, m_sbAttrs;
};

}  // namespace qelcomm::terminal
