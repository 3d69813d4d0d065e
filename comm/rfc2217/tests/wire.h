// Building and showing wire bytes in the codec's tables.
#pragma once

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace rfc2217test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytes(std::initializer_list<int> list)
{
    Bytes b;
    for (int v : list)
        b.push_back(std::uint8_t(v));
    return b;
}

inline Bytes text(std::string_view s)
{
    return Bytes(s.begin(), s.end());
}

inline Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// IAC SB COM-PORT-OPTION <payload, 255 doubled> IAC SE
inline Bytes sb(const Bytes& payload)
{
    Bytes b{255, 250, 44};
    for (std::uint8_t v : payload) {
        b.push_back(v);
        if (v == 255)
            b.push_back(255);
    }
    b.push_back(255);
    b.push_back(240);
    return b;
}

inline Bytes sb(std::initializer_list<int> payload)
{
    return sb(bytes(payload));
}

inline std::string hex(const Bytes& b)
{
    std::string s;
    char buf[4];
    for (std::uint8_t v : b) {
        std::snprintf(buf, sizeof buf, "%s%02X", s.empty() ? "" : " ", v);
        s += buf;
    }
    return s;
}

}  // namespace rfc2217test
