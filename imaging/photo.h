#pragma once
// The pixel routines shared by Corvinel and kavrel: convolution, grey levels,
// brightening, dithering to black and white, quarter turns and resampling.
//
// Every routine takes the caller's bitmap, first turns it into 24 bits a pixel
// (blue, green, red) and works on that. Routines whose result depends on the
// untouched source build the result in a second bitmap and assign it back;
// the pixel-by-pixel routines change the rows in place.
//
// InitPhotoTables must run once at program start-up, before any routine that
// reads ContrastCurves or DitherMatrix.

#include "Bitmap.h"

#include <cstdint>

// 3 x 3 convolution weights. The first index is the column offset dx, the
// second the row offset dy, both running from -1 to 1: At(dx, dy).
struct TKernel3x3 {
    static constexpr int Radius = 1;
    float Weights[3][3] = {}; // [dx + 1][dy + 1]

    constexpr float& At(int dx, int dy) { return Weights[dx + 1][dy + 1]; }
    constexpr float At(int dx, int dy) const { return Weights[dx + 1][dy + 1]; }

    // Builds a kernel from weights written row by row, as they are usually
    // read: rows[dy + 1][dx + 1].
    static constexpr TKernel3x3 FromRows(const float (&rows)[3][3])
    {
        TKernel3x3 k;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                k.At(dx, dy) = rows[dy + 1][dx + 1];
        return k;
    }
};

// 5 x 5 convolution weights, indices -2 to 2, first index dx: At(dx, dy).
struct TKernel5x5 {
    static constexpr int Radius = 2;
    float Weights[5][5] = {}; // [dx + 2][dy + 2]

    constexpr float& At(int dx, int dy) { return Weights[dx + 2][dy + 2]; }
    constexpr float At(int dx, int dy) const { return Weights[dx + 2][dy + 2]; }

    // rows[dy + 2][dx + 2].
    static constexpr TKernel5x5 FromRows(const float (&rows)[5][5])
    {
        TKernel5x5 k;
        for (int dy = -2; dy <= 2; ++dy)
            for (int dx = -2; dx <= 2; ++dx)
                k.At(dx, dy) = rows[dy + 2][dx + 2];
        return k;
    }
};

// Three tone curves of 256 values: curve k (1 to 3) at grey g (0 to 255) is
// 100 x (1 - (g / 255)^k), stored in single precision.
struct TContrastCurves {
    float Values[3][256] = {};

    // curve 1..3, grey 0..255.
    float operator()(int curve, int grey) const { return Values[curve - 1][grey]; }
};

// Filled by InitPhotoTables.
extern TContrastCurves ContrastCurves;
// Thresholds of the ordered dither: DitherMatrix[x mod 3][y mod 3].
extern int DitherMatrix[3][3];

// Fills ContrastCurves and DitherMatrix. Calling it again changes nothing.
void InitPhotoTables();

// The routines use the processor's vector instructions where it has them;
// false runs the plain code everywhere (the two give the same pixels).
void SetPhotoVectorPaths(bool enabled);

// Filters the whole bitmap with the kernel, normalised by the sum of the
// weights that fall inside the image. A zero weight sum gives 1; results are
// clamped to 0..255.
void Convolve3x3(TBitmap& Bitmap, TKernel3x3 Kernel);
void Convolve5x5(TBitmap& Bitmap, TKernel5x5 Kernel);

// Grey modes: 1 weighted (0.3 R + 0.59 G + 0.11 B, rounded half to even),
// 2 mean of the three, 3 the largest; any other mode gives 0.
using GreyMode = int;

struct TPixel24 {
    std::uint8_t Blue = 0;
    std::uint8_t Green = 0;
    std::uint8_t Red = 0;
};

int GreyLevel(GreyMode Mode, TPixel24 Pixel);

// Every pixel's three bytes become its grey level.
void ConvertToGrey(TBitmap& Bitmap, GreyMode Mode);

// Brightens each pixel by the gain ContrastCurves(Curve, grey) x Strength /
// 100 + 1; dark pixels gain the most. Strength 0, or a curve other than 1, 2
// or 3, leaves the bitmap exactly as it is.
void AutoContrast(TBitmap& Bitmap, int Curve, GreyMode Mode, float Strength);

// Black and white by Floyd-Steinberg error diffusion of the weighted grey.
void DitherFloydSteinberg(TBitmap& Bitmap);
// Black and white by the ordered 3 x 3 DitherMatrix.
void DitherOrdered3x3(TBitmap& Bitmap);

// A quarter turn: Direction -1 clockwise, +1 anticlockwise. Any other
// direction leaves the pixels as they are.
void Rotate90(TBitmap& Bitmap, int Direction);

// Resamples the bitmap to NewWidth x NewHeight by inverse-distance weighting
// of the (at most four) source pixels around each sample point. A negative
// size counts as 0; an empty source gives a white picture of the new size.
void ResizeBitmap(TBitmap& Bitmap, int NewWidth, int NewHeight);
