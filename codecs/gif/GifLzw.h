#pragma once
// The string table of the LZW decoder, shared by the decoder and its tests.

#include <array>
#include <cstdint>

struct TLZWStringTable {
    static constexpr int TableSize = 4096;
    static constexpr int StackSize = 8192;

    // The last pixel of each code's string and the code of the rest.
    std::array<std::uint32_t, TableSize> Suffix{};
    std::array<std::uint32_t, TableSize> Prefix{};
    // Pixels of expanded strings, last first.
    std::array<std::uint32_t, StackSize> Stack{};
    int Top = 0;

    // Pushes the pixels of code's string, the last first, and answers its
    // first pixel (a literal below clearCode). A chain that fills the stack
    // (a cycle of prefixes) raises GIFException "Circular decoder table
    // entry".
    std::uint32_t PushString(std::uint32_t code, std::uint32_t clearCode);
};
