// Colour lookups and the error-diffusion ditherers.

#include "GifCodec.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr std::int16_t HasPaletteColors = 0x100;

int Key15(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return ((blue >> 3) << 10) | ((green >> 3) << 5) | (red >> 3);
}

std::uint8_t ClampByte(int v)
{
    return static_cast<std::uint8_t>(std::clamp(v, 0, 255));
}

// channel + (accumulated + divisor / 2) / divisor, truncating, clamped.
std::uint8_t Diffused(std::uint8_t channel, std::int32_t accumulated, int divisor)
{
    return ClampByte(channel + (accumulated + divisor / 2) / divisor);
}

} // namespace

// ---------------------------------------------------------------------------
// Lookups

TFastColorLookup::TFastColorLookup(const TPalette& palette) : TColorLookup(palette), FNearestCache(32768, -1)
{
    const std::size_t n = std::min<std::size_t>(palette.size(), FEntries.size());
    std::copy_n(palette.begin(), n, FEntries.begin());
    ColorCount = static_cast<int>(n);
    FNextOfKey.fill(-1);
    // The first palette colour of a key is the cache's answer for the key;
    // the others of the same key are chained behind it in index order.
    std::vector<std::int16_t> lastOfKey(32768, -1);
    for (std::size_t i = 0; i < n; ++i) {
        const TPaletteEntry& e = FEntries[i];
        const int key = Key15(e.peRed, e.peGreen, e.peBlue);
        const auto index = static_cast<std::int16_t>(i);
        if (FNearestCache[static_cast<std::size_t>(key)] < 0)
            FNearestCache[static_cast<std::size_t>(key)] = static_cast<std::int16_t>(index | HasPaletteColors);
        else
            FNextOfKey[static_cast<std::size_t>(lastOfKey[static_cast<std::size_t>(key)])] = index;
        lastOfKey[static_cast<std::size_t>(key)] = index;
    }
}

std::uint8_t TFastColorLookup::MapColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r,
                                        std::uint8_t& g, std::uint8_t& b)
{
    std::int16_t& slot = FNearestCache[static_cast<std::size_t>(Key15(red, green, blue))];
    int index;
    if (slot >= 0) {
        index = slot & 0xFF;
        if (slot & HasPaletteColors) {
            // A palette colour answers its own entry, not the key's first.
            for (int i = index; i >= 0; i = FNextOfKey[static_cast<std::size_t>(i)]) {
                const TPaletteEntry& e = FEntries[static_cast<std::size_t>(i)];
                if (e.peRed == red && e.peGreen == green && e.peBlue == blue) {
                    index = i;
                    break;
                }
            }
        }
    } else {
        int best = 0x30000;
        index = 0;
        for (int i = 0; i < ColorCount; ++i) {
            const TPaletteEntry& e = FEntries[static_cast<std::size_t>(i)];
            const int d = std::abs(e.peRed - red) + std::abs(e.peGreen - green) + std::abs(e.peBlue - blue);
            if (d < best) {
                best = d;
                index = i;
            }
        }
        slot = static_cast<std::int16_t>(index);
    }
    const TPaletteEntry& e = FEntries[static_cast<std::size_t>(index)];
    r = e.peRed;
    g = e.peGreen;
    b = e.peBlue;
    return static_cast<std::uint8_t>(index);
}

TNetscapeColorLookup::TNetscapeColorLookup(const TPalette& palette) : TColorLookup(palette)
{
    ColorCount = 216;
}

std::uint8_t TNetscapeColorLookup::MapColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                                            std::uint8_t& r, std::uint8_t& g, std::uint8_t& b)
{
    const int ri = (red + 3) / 51, gi = (green + 3) / 51, bi = (blue + 3) / 51;
    r = static_cast<std::uint8_t>(ri * 51);
    g = static_cast<std::uint8_t>(gi * 51);
    b = static_cast<std::uint8_t>(bi * 51);
    return static_cast<std::uint8_t>(ri * 36 + gi * 6 + bi);
}

TGrayScaleLookup::TGrayScaleLookup(const TPalette& palette) : TColorLookup(palette)
{
    ColorCount = 256;
}

std::uint8_t TGrayScaleLookup::MapColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r,
                                        std::uint8_t& g, std::uint8_t& b)
{
    const auto grey = static_cast<std::uint8_t>((77 * red + 150 * green + 29 * blue) >> 8);
    r = g = b = grey;
    return grey;
}

TMonochromeLookup::TMonochromeLookup(const TPalette& palette) : TColorLookup(palette)
{
    ColorCount = 2;
}

std::uint8_t TMonochromeLookup::MapColor(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r,
                                         std::uint8_t& g, std::uint8_t& b)
{
    if (77 * red + 150 * green + 29 * blue > 32512) {
        r = g = b = 255;
        return 1;
    }
    r = g = b = 0;
    return 0;
}

// ---------------------------------------------------------------------------
// Nearest colour

std::uint8_t TDitherEngine::DitherPixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r,
                                        std::uint8_t& g, std::uint8_t& b)
{
    const std::uint8_t index = Mapper->MapColor(red, green, blue, r, g, b);
    Col += Step;
    return index;
}

void TDitherEngine::NextRow()
{
    Step = -Step;
    Col = Step == 1 ? 0 : RowWidth - 1;
}

// ---------------------------------------------------------------------------
// Floyd-Steinberg

TFloydSteinbergDitherer::TFloydSteinbergDitherer(int rowWidth, TColorLookup& lookup)
    : TDitherEngine(rowWidth, lookup)
{
    for (auto& row : FBelow)
        row.assign(static_cast<std::size_t>(std::max(rowWidth, 0)) + 2, 0);
}

std::uint8_t TFloydSteinbergDitherer::DitherPixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                                                  std::uint8_t& r, std::uint8_t& g, std::uint8_t& b)
{
    const std::uint8_t in[3] = {red, green, blue};
    std::uint8_t value[3];
    const std::size_t ahead = FPos + static_cast<std::size_t>(static_cast<std::ptrdiff_t>(Step));
    for (int c = 0; c < 3; ++c)
        value[c] = Diffused(in[c], FBelow[c][ahead] + FCarry[c], 16);
    const std::uint8_t index = TDitherEngine::DitherPixel(value[0], value[1], value[2], r, g, b);
    const std::uint8_t out[3] = {r, g, b};
    for (int c = 0; c < 3; ++c) {
        const std::int32_t error = value[c] - out[c];
        FBelow[c][FPos] = FBelowBehind[c] + 3 * error;
        FBelowBehind[c] = FBelowError[c] + 5 * error;
        FBelowError[c] = error;
        FCarry[c] = 7 * error;
    }
    FPos = ahead;
    return index;
}

void TFloydSteinbergDitherer::SkipPixel()
{
    for (int c = 0; c < 3; ++c) {
        FBelow[c][FPos] = FBelowBehind[c];
        FBelowBehind[c] = FBelowError[c];
        FBelowError[c] = 0;
        FCarry[c] = 0;
    }
    FPos += static_cast<std::size_t>(static_cast<std::ptrdiff_t>(Step));
    TDitherEngine::SkipPixel();
}

void TFloydSteinbergDitherer::NextRow()
{
    for (int c = 0; c < 3; ++c) {
        FBelow[c][FPos] = FBelowBehind[c];
        FCarry[c] = FBelowError[c] = FBelowBehind[c] = 0;
    }
    TDitherEngine::NextRow();
    FPos = Step == 1 ? 0 : static_cast<std::size_t>(RowWidth) + 1;
}

// ---------------------------------------------------------------------------
// Five by three kernels

T5by3Ditherer::T5by3Ditherer(int rowWidth, TColorLookup& lookup, int denominator)
    : TDitherEngine(rowWidth, lookup), Denominator(denominator)
{
    for (auto& channel : FRows)
        for (auto& row : channel)
            row.assign(static_cast<std::size_t>(std::max(rowWidth, 0)) + 4, 0);
}

std::uint8_t T5by3Ditherer::DitherPixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r,
                                        std::uint8_t& g, std::uint8_t& b)
{
    const std::uint8_t in[3] = {red, green, blue};
    std::uint8_t value[3];
    for (int c = 0; c < 3; ++c)
        value[c] = Diffused(in[c], FRows[c][0][FPos], Denominator);
    const std::uint8_t index = TDitherEngine::DitherPixel(value[0], value[1], value[2], r, g, b);
    const std::uint8_t out[3] = {r, g, b};
    for (int c = 0; c < 3; ++c) {
        const std::int32_t error = value[c] - out[c];
        if (error != 0)
            Spread(FRows[c][0].data() + FPos, FRows[c][1].data() + FPos, FRows[c][2].data() + FPos, error);
    }
    FPos += static_cast<std::size_t>(static_cast<std::ptrdiff_t>(Step));
    return index;
}

void T5by3Ditherer::NextRow()
{
    for (auto& channel : FRows) {
        std::fill(channel[0].begin(), channel[0].end(), 0);
        std::rotate(channel.begin(), channel.begin() + 1, channel.end());
    }
    TDitherEngine::NextRow();
    Step2 = 2 * Step;
    FPos = Step == 1 ? 2 : static_cast<std::size_t>(RowWidth) + 1;
}

void TStuckiDitherer::Spread(std::int32_t* row0, std::int32_t* row1, std::int32_t* row2, std::int32_t error)
{
    const int s = Step, s2 = Step2;
    row0[s] += 8 * error;
    row0[s2] += 4 * error;
    row1[-s2] += 2 * error;
    row1[-s] += 4 * error;
    row1[0] += 8 * error;
    row1[s] += 4 * error;
    row1[s2] += 2 * error;
    row2[-s2] += error;
    row2[-s] += 2 * error;
    row2[0] += 4 * error;
    row2[s] += 2 * error;
    row2[s2] += error;
}

void TSierraDitherer::Spread(std::int32_t* row0, std::int32_t* row1, std::int32_t* row2, std::int32_t error)
{
    const int s = Step, s2 = Step2;
    row0[s] += 5 * error;
    row0[s2] += 3 * error;
    row1[-s2] += 2 * error;
    row1[-s] += 4 * error;
    row1[0] += 5 * error;
    row1[s] += 4 * error;
    row1[s2] += 2 * error;
    row2[-s] += 2 * error;
    row2[0] += 3 * error;
    row2[s] += 2 * error;
}

void TJaJuNiDitherer::Spread(std::int32_t* row0, std::int32_t* row1, std::int32_t* row2, std::int32_t error)
{
    const int s = Step, s2 = Step2;
    row0[s] += 7 * error;
    row0[s2] += 5 * error;
    row1[-s2] += 3 * error;
    row1[-s] += 5 * error;
    row1[0] += 7 * error;
    row1[s] += 5 * error;
    row1[s2] += 3 * error;
    row2[-s2] += error;
    row2[-s] += 3 * error;
    row2[0] += 5 * error;
    row2[s] += 3 * error;
    row2[s2] += error;
}

// ---------------------------------------------------------------------------
// Stevenson-Arce

TSteveArcheDitherer::TSteveArcheDitherer(int rowWidth, TColorLookup& lookup) : TDitherEngine(rowWidth, lookup)
{
    for (auto& channel : FRows)
        for (auto& row : channel)
            row.assign(static_cast<std::size_t>(std::max(rowWidth, 0)) + 6, 0);
}

std::uint8_t TSteveArcheDitherer::DitherPixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue,
                                              std::uint8_t& r, std::uint8_t& g, std::uint8_t& b)
{
    const std::uint8_t in[3] = {red, green, blue};
    std::uint8_t value[3];
    for (int c = 0; c < 3; ++c)
        value[c] = Diffused(in[c], FRows[c][0][FPos], 200);
    const std::uint8_t index = TDitherEngine::DitherPixel(value[0], value[1], value[2], r, g, b);
    const std::uint8_t out[3] = {r, g, b};
    const int s = Step, s2 = FStep2, s3 = FStep3;
    for (int c = 0; c < 3; ++c) {
        const std::int32_t e = value[c] - out[c];
        if (e == 0)
            continue;
        std::int32_t* row0 = FRows[c][0].data() + FPos;
        std::int32_t* row1 = FRows[c][1].data() + FPos;
        std::int32_t* row2 = FRows[c][2].data() + FPos;
        std::int32_t* row3 = FRows[c][3].data() + FPos;
        row0[s2] += 32 * e;
        row1[-s3] += 12 * e;
        row1[-s] += 26 * e;
        row1[s] += 30 * e;
        row1[s3] += 16 * e;
        row2[-s2] += 12 * e;
        row2[0] += 26 * e;
        row2[s2] += 12 * e;
        row3[-s3] += 5 * e;
        row3[-s] += 12 * e;
        row3[s] += 12 * e;
        row3[s3] += 5 * e;
    }
    FPos += static_cast<std::size_t>(static_cast<std::ptrdiff_t>(Step));
    return index;
}

void TSteveArcheDitherer::NextRow()
{
    for (auto& channel : FRows) {
        std::fill(channel[0].begin(), channel[0].end(), 0);
        std::rotate(channel.begin(), channel.begin() + 1, channel.end());
    }
    TDitherEngine::NextRow();
    FStep2 = 2 * Step;
    FStep3 = 3 * Step;
    FPos = Step == 1 ? 3 : static_cast<std::size_t>(RowWidth) + 2;
}

// ---------------------------------------------------------------------------
// Burkes

TBurkesDitherer::TBurkesDitherer(int rowWidth, TColorLookup& lookup) : TDitherEngine(rowWidth, lookup)
{
    for (auto& channel : FRows)
        for (auto& row : channel)
            row.assign(static_cast<std::size_t>(std::max(rowWidth, 0)) + 4, 0);
}

std::uint8_t TBurkesDitherer::DitherPixel(std::uint8_t red, std::uint8_t green, std::uint8_t blue, std::uint8_t& r,
                                          std::uint8_t& g, std::uint8_t& b)
{
    const std::uint8_t in[3] = {red, green, blue};
    std::uint8_t value[3];
    for (int c = 0; c < 3; ++c)
        value[c] = Diffused(in[c], FRows[c][0][FPos], 32);
    const std::uint8_t index = TDitherEngine::DitherPixel(value[0], value[1], value[2], r, g, b);
    const std::uint8_t out[3] = {r, g, b};
    const int s = Step, s2 = FStep2;
    for (int c = 0; c < 3; ++c) {
        const std::int32_t e = value[c] - out[c];
        if (e == 0)
            continue;
        std::int32_t* row0 = FRows[c][0].data() + FPos;
        std::int32_t* row1 = FRows[c][1].data() + FPos;
        row0[s] += 8 * e;
        row0[s2] += 4 * e;
        row1[-s2] += 2 * e;
        row1[-s] += 4 * e;
        row1[0] += 8 * e;
        row1[s] += 4 * e;
        row1[s2] += 2 * e;
    }
    FPos += static_cast<std::size_t>(static_cast<std::ptrdiff_t>(Step));
    return index;
}

void TBurkesDitherer::NextRow()
{
    for (auto& channel : FRows) {
        std::fill(channel[0].begin(), channel[0].end(), 0);
        std::swap(channel[0], channel[1]);
    }
    TDitherEngine::NextRow();
    FStep2 = 2 * Step;
    FPos = Step == 1 ? 2 : static_cast<std::size_t>(RowWidth) + 1;
}
