#include "number_text.h"

#include <cctype>
#include <cfenv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace lintrel {

double numericValue(const std::string& text)
{
    std::size_t i = 0;
    const std::size_t n = text.size();
    auto digitAt = [&](std::size_t k) { return k < n && std::isdigit(static_cast<unsigned char>(text[k])); };

    while (i < n && (text[i] == ' ' || text[i] == '\t'))
        ++i;
    const std::size_t start = i;
    if (i < n && (text[i] == '+' || text[i] == '-'))
        ++i;
    bool digits = false;
    while (digitAt(i)) {
        ++i;
        digits = true;
    }
    if (i < n && text[i] == '.') {
        ++i;
        while (digitAt(i)) {
            ++i;
            digits = true;
        }
    }
    if (!digits)
        return 0;
    // An exponent counts only when digits follow it.
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t k = i + 1;
        if (k < n && (text[k] == '+' || text[k] == '-'))
            ++k;
        if (digitAt(k)) {
            while (digitAt(k))
                ++k;
            i = k;
        }
    }
    const double v = std::strtod(text.substr(start, i - start).c_str(), nullptr);
    return std::isfinite(v) ? v : 0;
}

std::int32_t roundedValue(double value)
{
    const double r = std::nearbyint(value);   // default mode: half to even
    if (r >= double(std::numeric_limits<std::int32_t>::max()))
        return std::numeric_limits<std::int32_t>::max();
    if (r <= double(std::numeric_limits<std::int32_t>::min()))
        return std::numeric_limits<std::int32_t>::min();
    return std::int32_t(r);
}

}  // namespace lintrel
