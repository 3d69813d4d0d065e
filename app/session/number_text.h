// Numeric value of a text as a leading-number parse takes it: the longest
// numeric prefix (after leading blanks: sign, digits, a decimal point,
// an exponent), 0 when there is none.
#pragma once

#include <cstdint>
#include <string>

namespace lintrel {

double numericValue(const std::string& text);

// The value rounded half to even, as an automation integer conversion
// does, and clamped to the 32-bit range.
std::int32_t roundedValue(double value);

}  // namespace lintrel
