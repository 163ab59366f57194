#pragma once
// Basic value types shared by the graphics layer: colours, points, rectangles,
// palette entries and pixel formats.

#include <cstdint>
#include <vector>

// A colour as 0x00BBGGRR. Negative values are the "no colour" markers.
using TColor = std::int32_t;

constexpr TColor clBlack = 0x000000;
constexpr TColor clMaroon = 0x000080;
constexpr TColor clGreen = 0x008000;
constexpr TColor clOlive = 0x008080;
constexpr TColor clNavy = 0x800000;
constexpr TColor clPurple = 0x800080;
constexpr TColor clTeal = 0x808000;
constexpr TColor clGray = 0x808080;
constexpr TColor clSilver = 0xC0C0C0;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clYellow = 0x00FFFF;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clFuchsia = 0xFF00FF;
constexpr TColor clAqua = 0xFFFF00;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clNone = 0x1FFFFFFF;
constexpr TColor clDefault = 0x20000000;
// Answer of TCanvas::Pixels outside the surface.
constexpr TColor clInvalid = -1;

constexpr std::uint8_t GetRValue(TColor c) { return static_cast<std::uint8_t>(c & 0xFF); }
constexpr std::uint8_t GetGValue(TColor c) { return static_cast<std::uint8_t>((c >> 8) & 0xFF); }
constexpr std::uint8_t GetBValue(TColor c) { return static_cast<std::uint8_t>((c >> 16) & 0xFF); }
constexpr TColor RGB(int r, int g, int b)
{
    return static_cast<TColor>((r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16));
}
// Drops the flag byte of a colour: what is left is the 0x00BBGGRR value.
constexpr TColor ColorToRGB(TColor c) { return c & 0x00FFFFFF; }

struct TPoint {
    int X = 0;
    int Y = 0;
    friend bool operator==(const TPoint&, const TPoint&) = default;
};

// Right and bottom are exclusive, as everywhere in the graphics layer.
struct TRect {
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
    friend bool operator==(const TRect&, const TRect&) = default;
};

constexpr TRect Rect(int left, int top, int right, int bottom) { return TRect{left, top, right, bottom}; }
constexpr TRect Bounds(int left, int top, int width, int height)
{
    return TRect{left, top, left + width, top + height};
}

// Palette entry flags.
constexpr std::uint8_t PC_RESERVED = 0x01;
constexpr std::uint8_t PC_EXPLICIT = 0x02;
constexpr std::uint8_t PC_NOCOLLAPSE = 0x04;

struct TPaletteEntry {
    std::uint8_t peRed = 0;
    std::uint8_t peGreen = 0;
    std::uint8_t peBlue = 0;
    std::uint8_t peFlags = 0;
    TColor Color() const { return RGB(peRed, peGreen, peBlue); }
    static TPaletteEntry FromColor(TColor c, std::uint8_t flags = 0)
    {
        return TPaletteEntry{GetRValue(c), GetGValue(c), GetBValue(c), flags};
    }
    friend bool operator==(const TPaletteEntry&, const TPaletteEntry&) = default;
};

// A palette is a value: at most 256 entries.
using TPalette = std::vector<TPaletteEntry>;
constexpr std::size_t MaxPaletteEntries = 256;

enum class TPixelFormat { pfDevice, pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit, pfCustom };
using enum TPixelFormat;

// Bits per pixel of a format; pfDevice is 24 bits here.
int BitsPerPixel(TPixelFormat format);
// Bytes of one row of `width` pixels, padded to 4 bytes.
std::size_t BytesPerScanline(std::size_t width, int bitsPerPixel);
