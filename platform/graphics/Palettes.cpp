// The fixed palettes of the palette pixel formats.

#include "Bitmap.h"

namespace {

TPalette FromRgb(std::initializer_list<std::uint32_t> rgb)
{
    TPalette p;
    for (std::uint32_t v : rgb)
        p.push_back(TPaletteEntry{static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                                  static_cast<std::uint8_t>(v), 0});
    return p;
}

} // namespace

const TPalette& StockPalette20()
{
    // Entries 0..9 and 10..19 of the stock default palette, as 0xRRGGBB.
    static const TPalette palette = FromRgb({
        0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0, 0xC0DCC0, 0xA6CAF0,
        0xFFFBF0, 0xA0A0A4, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF,
    });
    return palette;
}

const TPalette& MonoPalette2()
{
    static const TPalette palette = FromRgb({0x000000, 0xFFFFFF});
    return palette;
}

const TPalette& SystemPalette16()
{
    // The sixteen solid colours: stock entries 0..7 and 12..19.
    static const TPalette palette = [] {
        const TPalette& stock = StockPalette20();
        TPalette p(stock.begin(), stock.begin() + 8);
        p.insert(p.end(), stock.begin() + 12, stock.end());
        return p;
    }();
    return palette;
}

const TPalette& HalftonePalette256()
{
    // The static colours at both ends (0..9 and 246..255), the 6 x 6 x 6
    // colour cube in between (red outer, blue inner), then twenty greys that
    // fall between the cube's grey levels.
    static const TPalette palette = [] {
        const TPalette& stock = StockPalette20();
        TPalette p(stock.begin(), stock.begin() + 10);
        for (int r = 0; r < 6; ++r)
            for (int g = 0; g < 6; ++g)
                for (int b = 0; b < 6; ++b)
                    p.push_back(TPaletteEntry{static_cast<std::uint8_t>(r * 51), static_cast<std::uint8_t>(g * 51),
                                              static_cast<std::uint8_t>(b * 51), 0});
        for (int k = 1; k <= 20; ++k) {
            auto v = static_cast<std::uint8_t>((k * 255 + 10) / 21);
            p.push_back(TPaletteEntry{v, v, v, 0});
        }
        p.insert(p.end(), stock.begin() + 10, stock.end());
        return p;
    }();
    return palette;
}

const TPalette& DefaultPaletteFor(TPixelFormat format)
{
    static const TPalette none;
    switch (format) {
    case pf1bit:
        return MonoPalette2();
    case pf4bit:
        return SystemPalette16();
    case pf8bit:
        return HalftonePalette256();
    default:
        return none;
    }
}
