#pragma once
// The set-up the targets share: every picture format registered (so that
// icons reach the PNG codec and the registry knows every reader) and a pixel
// budget small enough for the sanitizers, done once per process.

#include "Bitmap.h"
#include "Formats.h"

#include <cstddef>

inline void PrepareFuzzing()
{
    static const bool ready = [] {
        RegisterPictureFormats();
        SetPixelBudget(std::size_t{1} << 22);
        return true;
    }();
    (void)ready;
}
