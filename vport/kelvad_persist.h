// What a container saves for a Kelvad control: the framework's version
// stamp and its own stock state (the extent). No property of the control
// is saved, DeleteOnExit included, so a loaded control starts with its
// properties as constructed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kelvad {

inline constexpr std::uint32_t kVersionStamp = 0x00010000;  // major 1, minor 0

// The control's extent in HIMETRIC; 32 by 32 pixels at 96 dpi.
struct StockState {
    std::int32_t cx = 847;
    std::int32_t cy = 847;
};

// Version stamp, cx, cy: three little-endian 32-bit words.
std::string SaveState(const StockState& state);
// nullopt for a stream shorter than the three words or of another major
// version; a newer minor version loads.
std::optional<StockState> LoadState(const std::string& bytes);

}  // namespace kelvad
