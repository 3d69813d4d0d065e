// The colours and looks a cell can carry in the extended rendition, and
// the 256 indexed colours. The attribute byte of a cell always holds the
// nearest PC colours too, so that everything that reads attributes (the
// colour filters, GetColor, qelterm render) keeps working.
#pragma once

#include <cstdint>

namespace qelcomm::terminal {

// A cell's foreground or background: the kind in the top byte.
enum ColorKind : std::uint32_t {
    ColorKind_Pc = 0u << 24,        // the colour of the attribute byte
    ColorKind_Default = 1u << 24,   // the view's theme colour (text or background)
    ColorKind_Indexed = 2u << 24,   // indexed colour 0..255 in the low byte
    ColorKind_Rgb = 3u << 24,       // 0xRRGGBB in the low bytes
};

constexpr std::uint32_t colorKind(std::uint32_t c) { return c & 0xFF000000u; }
constexpr std::uint32_t indexedColor(int i) { return ColorKind_Indexed | std::uint32_t(i & 0xFF); }
constexpr std::uint32_t rgbColor(int r, int g, int b)
{
    return ColorKind_Rgb | std::uint32_t((r & 0xFF) << 16 | (g & 0xFF) << 8 | (b & 0xFF));
}

enum CellFlag : std::uint8_t {
    Cell_Bold = 1,
    Cell_Faint = 2,
    Cell_Italic = 4,
    Cell_Underline = 8,
    Cell_Blink = 16,
    Cell_Inverse = 32,
    Cell_Hidden = 64,
    Cell_Strike = 128,
};

// 0xRRGGBB of PC colour 0..15 (TerminalColor order).
std::uint32_t pcRgb(int pc);
// 0xRRGGBB of indexed colour 0..255: the 16 ANSI colours (the PC colours
// in ANSI order), the 6 x 6 x 6 cube, 24 greys.
std::uint32_t indexedRgb(int i);
// The PC colour (0..15) that shows an indexed or RGB colour best.
int nearestPc(std::uint32_t color);

}  // namespace qelcomm::terminal
