#pragma once
// The test photo of the benchmarks: a landscape-like picture with smooth
// gradients and fine noise, as a camera gives, the same for every run.

#include "Bitmap.h"

#include <algorithm>
#include <cstdint>

inline void PaintBenchPhoto(TBitmap& photo)
{
    std::uint32_t seed = 12345;
    const int width = photo.Width();
    const int height = photo.Height();
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = photo.ScanLine(y);
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 28) - 8;
            const bool sky = y < height / 2;
            row[3 * x + 0] = static_cast<std::uint8_t>(std::clamp(sky ? 230 - y / 20 + noise : 40 + x / 40 + noise, 0, 255));
            row[3 * x + 1] = static_cast<std::uint8_t>(std::clamp(sky ? 180 - y / 30 + noise : 120 + (x ^ y) % 60 + noise, 0, 255));
            row[3 * x + 2] = static_cast<std::uint8_t>(std::clamp(sky ? 120 + x / 60 + noise : 60 + y / 50 + noise, 0, 255));
        }
    }
}
