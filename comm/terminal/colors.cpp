#include "colors.h"

#include <initializer_list>

namespace qelcomm::terminal {
namespace {

constexpr std::uint32_t kPcRgb[16] = {
    0x000000, 0x0000AA, 0x00AA00, 0x00AAAA, 0xAA0000, 0xAA00AA, 0xAA5500, 0xAAAAAA,
    0x555555, 0x5555FF, 0x55FF55, 0x55FFFF, 0xFF5555, 0xFF55FF, 0xFFFF55, 0xFFFFFF,
};

// ANSI colour numbers 0..7 in TerminalColor numbering.
constexpr int kAnsiToPc[8] = {0, 4, 2, 6, 1, 5, 3, 7};

int channel(std::uint32_t rgb, int shift) { return int((rgb >> shift) & 0xFF); }

}  // namespace

std::uint32_t pcRgb(int pc) { return kPcRgb[pc & 15]; }

std::uint32_t indexedRgb(int i)
{
    i &= 0xFF;
    if (i < 16)
        return kPcRgb[kAnsiToPc[i & 7] | (i & 8)];
    if (i < 232) {
        static constexpr int kLevel[6] = {0, 95, 135, 175, 215, 255};
        const int n = i - 16;
        return std::uint32_t(kLevel[n / 36] << 16 | kLevel[n / 6 % 6] << 8 | kLevel[n % 6]);
    }
    const int grey = 8 + 10 * (i - 232);
    return std::uint32_t(grey << 16 | grey << 8 | grey);
}

int nearestPc(std::uint32_t color)
{
    if (colorKind(color) == ColorKind_Indexed && (color & 0xFF) < 16) {
        const int i = int(color & 0xFF);
        return kAnsiToPc[i & 7] | (i & 8);
    }
    const std::uint32_t rgb = colorKind(color) == ColorKind_Indexed ? indexedRgb(int(color & 0xFF)) : color & 0xFFFFFF;
    int best = 0;
    long bestDistance = -1;
    for (int pc = 0; pc < 16; ++pc) {
        long d = 0;
        for (int shift : {16, 8, 0}) {
            const long delta = channel(rgb, shift) - channel(kPcRgb[pc], shift);
            d += delta * delta;
        }
        if (bestDistance < 0 || d < bestDistance) {
            best = pc;
            bestDistance = d;
        }
    }
    return best;
}

}  // namespace qelcomm::terminal
