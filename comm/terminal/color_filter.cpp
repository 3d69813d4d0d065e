#include "color_filter.h"

#include "terminal_types.h"

namespace qelcomm::terminal {

std::uint8_t filterAttribute(std::uint8_t a, std::int32_t filter)
{
    const std::uint8_t f = a & 0x0F;
    const std::uint8_t b = a >> 4;
    switch (filter) {
    case ColorFilter_Gray:
        if (a == 0)
            return 0;
        if (f == b)
            return (f & 8) ? 0xFF : 0x77;
        if (f & 8)
            return b == 0 ? 0x0F : 0x7F;
        return b == 0 ? 0x07 : 0x70;
    case ColorFilter_BW:
        if (a == 0)
            return 0;
        if (f == b)
            return 0xFF;
        if (f == 0 || f == 1 || f == 8)
            return 0xF0;
        return 0x0F;
    default:
        return a;
    }
}

}  // namespace qelcomm::terminal
