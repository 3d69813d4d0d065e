// The settings string grammar, without any port: "9600,n,8,1" and its
// tolerated forms (upper case, spaces, omitted parts, missing commas).
#pragma once

#include <cstdint>
#include <string>

namespace qelcomm {

struct LineFraming {
    std::uint32_t baud;
    std::int32_t parity;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::int32_t dataBits;  // 4..8
    std::int32_t stopBits;  // 0 one, 1 one and a half, 2 two
};

// Parses text over framing: parts given replace the values in framing, parts
// omitted keep them. Returns false (framing untouched) for a rejected text.
bool parseSettings(const std::string& text, LineFraming& framing);

// "baud,parity,data,stop"; a value missing from its table gives an empty part.
std::string formatSettings(const LineFraming& framing);

}  // namespace qelcomm
