#pragma once
// Pictures of random pixels for the comparisons of the routines' code paths.

#include "Bitmap.h"

#include <random>

namespace imagingtest {

inline TBitmap RandomBitmap(int w, int h, std::mt19937& rng)
{
    TBitmap b(w, h, pf24bit);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = b.ScanLine(y);
        for (int i = 0; i < 3 * w; ++i)
            row[i] = static_cast<std::uint8_t>(rng() >> 24);
    }
    return b;
}

} // namespace imagingtest
