#pragma once
// The string table of the LZW decoder, shared by the decoder and its tests.

#include <algorithm>
#include <array>
#include <cstdint>

struct TLZWStringTable {
    static constexpr int TableSize = 4096;
    static constexpr int StackSize = 8192;

    // The last pixel of each code's string, the code of the rest and the
    // string's length.
    std::array<std::uint8_t, TableSize> Suffix{};
    std::array<std::uint16_t, TableSize> Prefix{};
    std::array<std::uint16_t, TableSize> Length{};
    // Pixels of expanded strings, last first.
    std::array<std::uint8_t, StackSize> Stack{};
    int Top = 0;

    // Pushes the pixels of code's string, the last first, and answers its
    // first pixel (a literal below clearCode). A chain that fills the stack
    // (a cycle of prefixes) raises GIFException "Circular decoder table
    // entry".
    std::uint32_t PushString(std::uint32_t code, std::uint32_t clearCode);
};

// The most pixels that LZW data of the given bytes can give: every code
// takes at least code size + 1 bits (sizes 1 to 11) and gives at most 4096
// pixels, the longest string the table holds.
constexpr std::uint64_t MostLZWPixels(std::uint64_t bytes, int codeSize = 1)
{
    const auto codeBits = static_cast<std::uint64_t>(std::clamp(codeSize, 1, 11) + 1);
    if (bytes > UINT64_MAX / (8 * TLZWStringTable::TableSize))
        return UINT64_MAX;
    return bytes * 8 / codeBits * TLZWStringTable::TableSize;
}
