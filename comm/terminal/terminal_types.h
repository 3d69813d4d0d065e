// Values of the terminal's settings, numbered as the control's type library
// numbers them.
#pragma once

#include <cstdint>

namespace qelcomm::terminal {

enum Emulation : std::int32_t {
    Emulation_None = 0,
    Emulation_TTY = 1,
    Emulation_Ansi = 2,
    Emulation_VT52 = 3,
    Emulation_VT100 = 4,
};

enum EndOfLineMode : std::int32_t {
    EndOfLineMode_NextLine = 0,
    EndOfLineMode_DoNothing = 1,
    EndOfLineMode_WrapLine = 2,
    EndOfLineMode_WrapScreen = 3,
};

enum BackSpaceMode : std::int32_t { BackSpace_Destructive = 0, BackSpace_NonDestructive = 1 };

enum CaptureMode : std::int32_t { Capture_Standard = 0, Capture_Binary = 1, Capture_Visible = 2 };

enum ColorFilter : std::int32_t { ColorFilter_Full = 0, ColorFilter_Gray = 1, ColorFilter_BW = 2 };

// AutoSize_Screen: the other way round, the screen's columns and rows
// follow the window's size.
enum AutoSizeMode : std::int32_t { AutoSize_None = 0, AutoSize_Terminal = 1, AutoSize_Parent = 2, AutoSize_Screen = 3 };

// How received bytes become characters: one byte a character of the PC
// character set, or UTF-8 (wide characters take two cells).
enum CharacterSet : std::int32_t { CharacterSet_CodePage = 0, CharacterSet_Utf8 = 1 };

// How "set graphic rendition" is read: the 16 PC colours of the attribute
// byte, or the extended set (256 and true colours, underline, italic,
// strike-through, and default colours the view takes from its theme).
enum Rendition : std::int32_t { Rendition_PC = 0, Rendition_Extended = 1 };

// TerminalColor: low nibble of an attribute is the foreground, high nibble
// the background; bit 3 of each is "bright".
enum TerminalColor : std::int32_t {
    Black = 0, Blue, Green, Cyan, Red, Magenta, Brown, LightGray,
    DarkGray, LightBlue, LightGreen, LightCyan, LightRed, LightMagenta, Yellow, White,
};

inline constexpr std::uint8_t kDefaultColor = 31;      // white on blue
inline constexpr std::int32_t kDefaultColumns = 80;
inline constexpr std::int32_t kDefaultRows = 25;
inline constexpr std::int32_t kMaxCells = 65535;       // columns x rows stays below
inline constexpr std::int32_t kDefaultAutoScroll = 4;
inline constexpr std::size_t kSequenceLimit = 20;      // a sequence must stay below this
// The extended rendition's colour sequences are longer.
inline constexpr std::size_t kExtendedSequenceLimit = 256;

// Repaint request posted to the object's window, once per batch of changes.
inline constexpr std::uint32_t kRepaintMessage = 0x0400 + 1500;

inline bool validSize(std::int64_t columns, std::int64_t rows)
{
    return columns >= 1 && rows >= 1 && columns * rows < kMaxCells;
}

}  // namespace qelcomm::terminal
