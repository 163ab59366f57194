// Builds small bitmaps of any format and palette from arbitrary bytes and
// draws and converts them. Conversions must store what pixel-by-pixel
// SetPixelColor stores, and an XOR rectangle drawn twice must give back every
// pixel; anything else, or a crash, is a finding.

#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}
    std::uint8_t U8() { return FPos < FSize ? FData[FPos++] : 0; }
    std::uint32_t U32()
    {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = (v << 8) | U8();
        return v;
    }
    // Mostly small coordinates, now and then one far away.
    int Coordinate()
    {
        std::uint8_t kind = U8();
        if (kind < 240)
            return static_cast<int>(U8()) - 100;
        return static_cast<int>(U32());
    }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPos = 0;
};

const TPixelFormat kFormats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};

TBitmap MakeBitmap(Bytes& in)
{
    TPixelFormat format = kFormats[in.U8() % 7];
    int width = 1 + in.U8() % 40, height = 1 + in.U8() % 12;
    TBitmap b(width, height, format);
    if (in.U8() & 1) {
        TPalette palette(in.U8() + 1u);
        for (auto& e : palette)
            e = TPaletteEntry{in.U8(), in.U8(), in.U8(), 0};
        b.SetPalette(palette);
    }
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            b.SetRawPixel(x, y, in.U32());
    return b;
}

bool SamePixels(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (a.GetRawPixel(x, y) != b.GetRawPixel(x, y))
                return false;
    return true;
}

bool SameBits(const TBitmap& a, const TBitmap& b)
{
    return a.Width() == b.Width() && a.Height() == b.Height() && a.RowStride() == b.RowStride() &&
           std::memcmp(a.Bits(), b.Bits(), a.RowStride() * static_cast<std::size_t>(a.Height())) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Bytes in(data, size);
    try {
        TBitmap source = MakeBitmap(in);

        // Conversion against pixel-by-pixel stores into the same palette (a
        // bitmap keeps its stored values when the format stays).
        TBitmap converted;
        converted.Assign(source);
        converted.SetPixelFormat(kFormats[in.U8() % 7]);
        if (converted.PixelFormat() == source.PixelFormat())
            converted.SetPixelFormat(converted.PixelFormat() == pf24bit ? pf32bit : pf24bit);
        TBitmap expected(source.Width(), source.Height(), converted.PixelFormat());
        expected.SetPalette(converted.GetPalette());
        for (int y = 0; y < source.Height(); ++y)
            for (int x = 0; x < source.Width(); ++x)
                expected.SetPixelColor(x, y, source.GetPixelColor(x, y));
        if (!SamePixels(converted, expected))
            std::abort();

        // Drawing in every way onto another bitmap.
        TBitmap target = MakeBitmap(in);
        TCanvas& canvas = target.Canvas();
        TRect dest = Rect(in.Coordinate(), in.Coordinate(), in.Coordinate(), in.Coordinate());
        TRect from = Rect(in.Coordinate(), in.Coordinate(), in.Coordinate(), in.Coordinate());
        const TCopyMode modes[] = {cmSrcCopy, cmSrcInvert, cmSrcAnd, cmNotSrcCopy};
        canvas.CopyMode = modes[in.U8() % 4];
        canvas.StretchBitmap(dest, source, from, canvas.CopyMode);
        canvas.StretchBitmapTransparent(dest, source, from, source.GetPixelColor(0, 0));
        canvas.CopyRect(dest, target.Canvas(), from);

        canvas.Pen.Width = in.U8() % 2 ? static_cast<int>(in.U32() % 100000) : in.U8() % 9;
        canvas.Pen.Style = static_cast<TPenStyle>(in.U8() % 7);
        canvas.Pen.Mode = static_cast<TPenMode>(in.U8() % 16);
        canvas.Pen.Color = static_cast<TColor>(in.U32() & 0xFFFFFF);
        canvas.Brush.Style = in.U8() % 2 ? bsClear : bsSolid;
        canvas.MoveTo(in.Coordinate(), in.Coordinate());
        canvas.LineTo(in.Coordinate(), in.Coordinate());

        // The XOR frame of the editor's selection.
        TBitmap before;
        before.Assign(target);
        canvas.Pen.Mode = pmXor;
        canvas.Pen.Width = std::max(1, canvas.Pen.Width % 64);
        TRect frame = Rect(in.Coordinate(), in.Coordinate(), in.Coordinate(), in.Coordinate());
        canvas.Rectangle(frame);
        canvas.Rectangle(frame);
        if (!SameBits(target, before))
            std::abort();
        auto mask = target.MaskHandle();
    } catch (const Exception&) {
    }
    return 0;
}
