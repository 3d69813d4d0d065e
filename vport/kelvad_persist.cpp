#include "kelvad_persist.h"

namespace kelvad {
namespace {

void put32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.push_back(char((v >> (8 * i)) & 0xFF));
}

std::uint32_t get32(const std::string& in, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= std::uint32_t(std::uint8_t(in[at + i])) << (8 * i);
    return v;
}

}  // namespace

std::string SaveState(const StockState& state)
{
    std::string out;
    put32(out, kVersionStamp);
    put32(out, std::uint32_t(state.cx));
    put32(out, std::uint32_t(state.cy));
    return out;
}

std::optional<StockState> LoadState(const std::string& bytes)
{
    if (bytes.size() < 12 || (get32(bytes, 0) >> 16) != (kVersionStamp >> 16))
        return std::nullopt;
    return StockState{std::int32_t(get32(bytes, 4)), std::int32_t(get32(bytes, 8))};
}

}  // namespace kelvad
