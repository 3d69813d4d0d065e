// UTF-8 both ways. The decoder is fed one byte at a time and keeps a
// character that is split across writes; each maximal ill-formed part of
// the input (a byte that cannot start a character, or a start that is not
// continued as it must be) becomes one U+FFFD, as Unicode recommends.
#pragma once

#include <cstdint>
#include <string>

namespace qelcomm::terminal {

inline constexpr char32_t kReplacementChar = 0xFFFD;

class Utf8Decoder {
public:
    // Feeds one byte and calls deliver(char32_t) for each character it ends:
    // none while a character is incomplete, two when a broken start is
    // followed by a byte that stands on its own.
    template <typename Deliver>
    void feed(std::uint8_t b, Deliver&& deliver)
    {
        if (m_need > 0) {
            if (b >= m_low && b <= m_high) {
                m_code = (m_code << 6) | (b & 0x3F);
                m_low = 0x80;
                m_high = 0xBF;
                if (--m_need == 0)
                    deliver(m_code);
                return;
            }
            m_need = 0;
            deliver(kReplacementChar);
        }
        start(b, deliver);
    }
    // A character in progress (a control sequence cuts it short).
    bool pending() const { return m_need > 0; }
    void reset() { m_need = 0; }

private:
    template <typename Deliver>
    void start(std::uint8_t b, Deliver&& deliver)
    {
        m_low = 0x80;
        m_high = 0xBF;
        if (b < 0x80) {
            deliver(char32_t(b));
        } else if (b >= 0xC2 && b <= 0xDF) {
            begin(1, b & 0x1F);
        } else if (b >= 0xE0 && b <= 0xEF) {
            begin(2, b & 0x0F);
            if (b == 0xE0)
                m_low = 0xA0;      // no overlong forms
            else if (b == 0xED)
                m_high = 0x9F;     // no surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            begin(3, b & 0x07);
            if (b == 0xF0)
                m_low = 0x90;
            else if (b == 0xF4)
                m_high = 0x8F;     // nothing above U+10FFFF
        } else {
            deliver(kReplacementChar);
        }
    }
    void begin(int need, char32_t bits)
    {
        m_need = need;
        m_code = bits;
    }

    int m_need = 0;
    char32_t m_code = 0;
    std::uint8_t m_low = 0x80, m_high = 0xBF;
};

// Appends c as UTF-8 (U+FFFD for a value that is not a character).
void appendUtf8(std::string& out, char32_t c);

}  // namespace qelcomm::terminal
