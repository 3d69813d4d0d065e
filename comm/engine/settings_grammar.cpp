#include "settings_grammar.h"

#include <cctype>
#include <cstring>

namespace qelcomm {
namespace {

struct Entry {
    const char* text;
    std::int32_t value;
};

// Searched in this order; "1.5" stands before "1" so that it is found first.
constexpr Entry kParity[] = {{"n", 0}, {"o", 1}, {"e", 2}, {"m", 3}, {"s", 4}};
constexpr Entry kDataBits[] = {{"8", 8}, {"7", 7}, {"6", 6}, {"5", 5}, {"4", 4}};
constexpr Entry kStopBits[] = {{"1.5", 1}, {"1", 0}, {"2", 2}};

constexpr std::size_t kMaxSettingsText = 19;

class Cursor {
public:
    explicit Cursor(std::string text) : m_text(std::move(text)) {}

    void skipBlanks()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t'))
            ++m_pos;
    }
    void separator()
    {
        skipBlanks();
        if (m_pos < m_text.size() && m_text[m_pos] == ',')
            ++m_pos;
        skipBlanks();
    }
    bool atEnd() const { return m_pos >= m_text.size(); }
    bool partOmitted() const { return atEnd() || m_text[m_pos] == ','; }

    // Baud: a run of decimal digits, wrapping at 32 bits like the original
    // unsigned arithmetic. False when there are no digits.
    bool number(std::uint32_t& value)
    {
        std::size_t start = m_pos;
        std::uint32_t v = 0;
        while (m_pos < m_text.size() && std::isdigit(static_cast<unsigned char>(m_text[m_pos])))
            v = v * 10u + std::uint32_t(m_text[m_pos++] - '0');
        if (m_pos == start)
            return false;
        value = v;
        return true;
    }

    // One of the table's entries at the cursor: 1 found, 0 omitted, -1 no match.
    template <std::size_t N>
    int entry(const Entry (&table)[N], std::int32_t& value)
    {
        if (partOmitted())
            return 0;
        for (const Entry& e : table) {
            std::size_t len = std::strlen(e.text);
            if (m_text.compare(m_pos, len, e.text) == 0) {
                m_pos += len;
                value = e.value;
                return 1;
            }
        }
        return -1;
    }

private:
    std::string m_text;
    std::size_t m_pos = 0;
};

template <std::size_t N>
const char* textOf(const Entry (&table)[N], std::int32_t value)
{
    for (const Entry& e : table)
        if (e.value == value)
            return e.text;
    return "";
}

}  // namespace

bool parseSettings(const std::string& text, LineFraming& framing)
{
    std::string cut = text.substr(0, kMaxSettingsText);
    for (char& c : cut)
        c = char(std::tolower(static_cast<unsigned char>(c)));

    LineFraming result = framing;
    Cursor cur(cut);
    cur.skipBlanks();
    cur.number(result.baud);
    cur.separator();
    if (cur.entry(kParity, result.parity) < 0)
        return false;
    cur.separator();
    if (cur.entry(kDataBits, result.dataBits) < 0)
        return false;
    cur.separator();
    if (cur.entry(kStopBits, result.stopBits) < 0)
        return false;
    cur.skipBlanks();
    if (!cur.atEnd())
        return false;
    framing = result;
    return true;
}

std::string formatSettings(const LineFraming& f)
{
    // The baud is printed unsigned so that any stored value reads back in a
    // form the parser accepts again.
    return std::to_string(f.baud) + "," + textOf(kParity, f.parity) + "," + textOf(kDataBits, f.dataBits) + "," +
           textOf(kStopBits, f.stopBits);
}

}  // namespace qelcomm
