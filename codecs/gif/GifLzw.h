#pragma once
// The string table of the LZW decoder, shared by the decoder and its tests.

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
