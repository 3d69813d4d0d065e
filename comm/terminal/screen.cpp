#include "screen.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace qelcomm::terminal {

bool Screen::allocate(int columns, int rows, std::uint8_t attr)
{
    try {
        const std::size_t n = std::size_t(columns) * std::size_t(rows);
        std::vector<std::uint8_t> c(n, ' '), a(n, attr);
        std::vector<std::uint8_t> sc(std::size_t(m_scrollRows) * std::size_t(columns), ' ');
        std::vector<std::uint8_t> sa(sc.size(), 0);
        m_chars.swap(c);
        m_attrs.swap(a);
        m_sbChars.swap(sc);
        m_sbAttrs.swap(sa);
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_columns = columns;
    m_rows = rows;
    return true;
}

void Screen::release()
{
    std::vector<std::uint8_t>().swap(m_chars);
    std::vector<std::uint8_t>().swap(m_attrs);
}

bool Screen::resize(int columns, int rows, std::uint8_t attr)
{
    if (!allocated()) {
        m_columns = columns;
        m_rows = rows;
        return true;
    }
    std::vector<std::uint8_t> c, a, sc, sa;
    try {
        c.assign(std::size_t(columns) * std::size_t(rows), ' ');
        a.assign(c.size(), attr);
        sc.assign(std::size_t(m_scrollRows) * std::size_t(columns), ' ');
        sa.assign(sc.size(), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const int w = std::min(columns, m_columns);
    for (int r = 0; r < std::min(rows, m_rows); ++r) {
        std::memcpy(&c[std::size_t(r) * std::size_t(columns)], chars(r), std::size_t(w));
        std::memcpy(&a[std::size_t(r) * std::size_t(columns)], attrs(r), std::size_t(w));
    }
    for (int r = 0; r < m_scrollRows; ++r) {
        std::memcpy(&sc[std::size_t(r) * std::size_t(columns)], scrollChars(r), std::size_t(w));
        std::memcpy(&sa[std::size_t(r) * std::size_t(columns)], scrollAttrs(r), std::size_t(w));
    }
    m_chars.swap(c);
    m_attrs.swap(a);
    m_sbChars.swap(sc);
    m_sbAttrs.swap(sa);
    m_columns = columns;
    m_rows = rows;
    return true;
}

void Screen::put(int row, int column, std::uint8_t c, std::uint8_t attr)
{
    const std::size_t i = std::size_t(row) * std::size_t(m_columns) + std::size_t(column);
    m_chars[i] = c;
    m_attrs[i] = attr;
}

void Screen::clearCells(int from, int to, std::uint8_t attr)
{
    from = std::clamp(from, 0, m_columns * m_rows);
    to = std::clamp(to, 0, m_columns * m_rows);
    if (from >= to)
        return;
    std::memset(&m_chars[std::size_t(from)], ' ', std::size_t(to - from));
    std::memset(&m_attrs[std::size_t(from)], attr, std::size_t(to - from));
}

void Screen::clearRows(int first, int last, std::uint8_t attr)
{
    clearCells(first * m_columns, (last + 1) * m_columns, attr);
}

void Screen::scrollUp(int first, int last, std::uint8_t attr)
{
    if (first < last) {
        const std::size_t w = std::size_t(m_columns);
        std::memmove(chars(first), chars(first + 1), w * std::size_t(last - first));
        std::memmove(attrs(first), attrs(first + 1), w * std::size_t(last - first));
    }
    clearRows(last, last, attr);
}

void Screen::scrollDown(int first, int last, std::uint8_t attr)
{
    if (first < last) {
        const std::size_t w = std::size_t(m_columns);
        std::memmove(chars(first + 1), chars(first), w * std::size_t(last - first));
        std::memmove(attrs(first + 1), attrs(first), w * std::size_t(last - first));
    }
    clearRows(first, first, attr);
}

bool Screen::setScrollRows(int n)
{
    if (n < 0)
        return false;
    try {
        std::vector<std::uint8_t> sc(std::size_t(n) * std::size_t(m_columns), ' ');
        std::vector<std::uint8_t> sa(sc.size(), 0);
        m_sbChars.swap(sc);
        m_sbAttrs.swap(sa);
    } catch (const std::bad_alloc&) {
        return false;
    }
    m_scrollRows = n;
    return true;
}

int Screen::pushToScrollBack(int n)
{
    n = std::min({n, m_scrollRows, m_rows});
    if (n <= 0 || !allocated())
        return 0;
    const std::size_t w = std::size_t(m_columns);
    const std::size_t keep = std::size_t(m_scrollRows - n) * w;
    std::memmove(m_sbChars.data(), m_sbChars.data() + std::size_t(n) * w, keep);
    std::memmove(m_sbAttrs.data(), m_sbAttrs.data() + std::size_t(n) * w, keep);
    std::memcpy(m_sbChars.data() + keep, m_chars.data(), std::size_t(n) * w);
    std::memcpy(m_sbAttrs.data() + keep, m_attrs.data(), std::size_t(n) * w);
    return n;
}

const std::uint8_t* Screen::viewChars(int r) const
{
    if (!allocated() || r >= m_rows || r < -m_scrollRows)
        return nullptr;
    return r >= 0 ? chars(r) : scrollChars(m_scrollRows + r);
}

const std::uint8_t* Screen::viewAttrs(int r) const
{
    if (!allocated() || r >= m_rows || r < -m_scrollRows)
        return nullptr;
    return r >= 0 ? attrs(r) : scrollAttrs(m_scrollRows + r);
}

std::string Screen::trimmed(const std::uint8_t* chars, int n)
{
    while (n > 0 && chars[n - 1] == ' ')
        --n;
    return std::string(reinterpret_cast<const char*>(chars), std::size_t(n));
}

}  // namespace qelcomm::terminal
