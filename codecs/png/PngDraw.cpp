// Drawing in the three transparency modes, the display palette, copying to
// and from bitmaps and other PNG pictures, and single-pixel access.

#include "PngCodec.h"
#include "PngInternal.h"
#include "PngMessages.h"

#include "Canvas.h"

#include <algorithm>
#include <cstring>
#include <limits>

using namespace pngimpl;

namespace {

// Destination columns (or rows) inside the clip and the source index each
// one shows: nearest neighbour, a reversed extent mirrors (the canvas's own
// stretching rule).
struct AxisMap {
    int First = 0;
    std::vector<int> Source;
};

AxisMap MapAxis(int dstStart, int dstEnd, int srcExtent, int clipStart, int clipEnd)
{
    AxisMap map;
    const bool mirror = dstEnd < dstStart;
    const int d0 = std::min(dstStart, dstEnd), d1 = std::max(dstStart, dstEnd);
    const long long dn = static_cast<long long>(d1) - d0, sn = srcExtent;
    const int from = std::max(d0, clipStart), to = std::min(d1, clipEnd);
    map.First = from;
    if (dn <= 0 || sn <= 0 || to <= from)
        return map;
    map.Source.reserve(static_cast<std::size_t>(to - from));
    for (int d = from; d < to; ++d) {
        long long i = static_cast<long long>(d) - d0;
        if (mirror)
            i = dn - 1 - i;
        map.Source.push_back(static_cast<int>((2 * i + 1) * sn / (2 * dn)));
    }
    return map;
}

int NearestEntry(const TPaletteEntry* entries, std::size_t count, TColor color)
{
    const int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (std::size_t i = 0; i < count; ++i) {
        const int dr = entries[i].peRed - r, dg = entries[i].peGreen - g, db = entries[i].peBlue - b;
        const int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

// The colour and alpha of one pixel of an image drawn blended.
class BlendSource {
public:
    explicit BlendSource(const TPngPicture& image) : FHeader(image.RequireHeader())
    {
        FTrns = image.Chunks.ItemFromClass<TChunktRNS>();
        FPlte = image.Chunks.ItemFromClass<TChunkPLTE>();
    }

    TColor Pixel(int x, int y, int& alpha) const
    {
        const std::uint8_t* row = FHeader.DibRow(static_cast<std::size_t>(y));
        const auto ux = static_cast<std::size_t>(x);
        switch (FHeader.ColorType) {
        case 6:
            alpha = FHeader.AlphaRow(static_cast<std::size_t>(y))[ux];
            return RGB(row[3 * ux + 2], row[3 * ux + 1], row[3 * ux]);
        case 4:
            alpha = FHeader.AlphaRow(static_cast<std::size_t>(y))[ux];
            return FHeader.ColorTable[row[ux]].Color();
        case 3: {
            const std::uint32_t index = FHeader.Dib->GetRawPixel(x, y) & 0xFF;
            alpha = FTrns ? FTrns->TransparencyData[index] : 255;
            // An index past the palette shows black, as in every other path.
            if (FPlte && index >= FPlte->EntryCount)
                return 0;
            return FHeader.ColorTable[index].Color();
        }
        default:
            // A grey or RGB image with a colour key: the mask of its samples.
            alpha = FHeader.AlphaPlane.empty() ? 255 : FHeader.AlphaRow(static_cast<std::size_t>(y))[ux];
            return FHeader.Dib->GetPixelColor(x, y);
        }
    }

private:
    const TChunkIHDR& FHeader;
    const TChunktRNS* FTrns = nullptr;
    const TChunkPLTE* FPlte = nullptr;
};

void DrawBlended(const TPngPicture& image, TCanvas& canvas, const TRect& rect)
{
    const TChunkIHDR& header = image.RequireHeader();
    const TRect clip = canvas.ClipRect();
    const AxisMap xs = MapAxis(rect.Left, rect.Right, static_cast<int>(header.Width), clip.Left, clip.Right);
    const AxisMap ys = MapAxis(rect.Top, rect.Bottom, static_cast<int>(header.Height), clip.Top, clip.Bottom);
    if (xs.Source.empty() || ys.Source.empty())
        return;
    BlendSource source(image);
    for (std::size_t j = 0; j < ys.Source.size(); ++j) {
        const int y = ys.First + static_cast<int>(j);
        for (std::size_t i = 0; i < xs.Source.size(); ++i) {
            const int x = xs.First + static_cast<int>(i);
            int a;
            const TColor s = source.Pixel(xs.Source[i], ys.Source[j], a);
            if (a == 0)
                continue; // the destination stays exactly as it is
            if (a == 255) {
                canvas.SetPixel(x, y, s);
                continue;
            }
            const TColor d = canvas.GetPixel(x, y);
            if (d < 0)
                continue;
            auto mix = [a](int src, int dst) { return (a * src + (255 - a) * dst + 255) >> 8; };
            canvas.SetPixel(x, y,
                            RGB(mix(GetRValue(s), GetRValue(d)), mix(GetGValue(s), GetGValue(d)),
                                mix(GetBValue(s), GetBValue(d))));
        }
    }
}

} // namespace

std::uint8_t* TPngPicture::DibRow(int y) const
{
    TChunkIHDR& header = RequireHeader();
    if (!header.Dib || y < 0 || static_cast<std::uint32_t>(y) >= header.Height)
        return nullptr;
    return header.DibRow(static_cast<std::size_t>(y));
}

int TPngPicture::TransparencyMode() const
{
    const TChunkIHDR& header = RequireHeader();
    const TChunktRNS* trns = Chunks.ItemFromClass<TChunktRNS>();
    switch (header.ColorType) {
    case 0:
    case 2:
        // A transparent sample no pixel can have leaves the image opaque.
        return trns && !trns->KeyMatchesNothing() ? 1 : 0;
    case 3:
        return !trns ? 0 : trns->SingleTransparent ? 1 : 2;
    case 4:
    case 6:
        return 2;
    default:
        return 0;
    }
}

TColor TPngPicture::TransparentKey() const
{
    const TChunktRNS* trns = Chunks.ItemFromClass<TChunktRNS>();
    return trns ? trns->GetTransparentColor() : 0;
}

bool TPngPicture::GetTransparent() const
{
    return TransparencyMode() != 0;
}

TPalette TPngPicture::GetPalette() const
{
    const TChunkIHDR& header = RequireHeader();
    if (header.ColorType != 0 && header.ColorType != 3)
        return {};
    return TPalette(header.ColorTable.begin(), header.ColorTable.end());
}

void TPngPicture::Draw(TCanvas& canvas, const TRect& rect)
{
    if (!HasHeader())
        return;
    const TChunkIHDR& header = RequireHeader();
    if (!header.Dib || header.Dib->GetEmpty())
        return;
    const TRect source = Rect(0, 0, static_cast<int>(header.Width), static_cast<int>(header.Height));
    switch (TransparencyMode()) {
    case 1:
        // Grey and RGB keys compare the samples as stored (the mask made
        // while decoding); palette keys and pictures set from a bitmap
        // compare colours.
        if ((header.ColorType == 0 || header.ColorType == 2) &&
            header.AlphaPlane.size() == static_cast<std::size_t>(header.Width) * header.Height)
            DrawBlended(*this, canvas, rect);
        else
            canvas.StretchBitmapTransparent(rect, *header.Dib, source, ColorToRGB(TransparentKey()));
        break;
    case 2:
        DrawBlended(*this, canvas, rect);
        break;
    default:
        canvas.StretchBitmap(rect, *header.Dib, source, cmSrcCopy);
        break;
    }
}

std::unique_ptr<TBitmap> TPngPicture::TakeOpaquePixels()
{
    if (!HasHeader())
        return nullptr;
    TChunkIHDR& header = RequireHeader();
    if (!header.Dib || header.Dib->GetEmpty() || header.Dib->PixelFormat() != pf24bit || TransparencyMode() != 0)
        return nullptr;
    std::unique_ptr<TBitmap> pixels = std::move(header.Dib);
    ClearChunks();
    Changed();
    return pixels;
}

void TPngPicture::Assign(const TPersistent& source)
{
    if (auto* png = dynamic_cast<const TPngPicture*>(&source)) {
        AssignPNG(*png);
        return;
    }
    if (auto* bitmap = dynamic_cast<const TBitmap*>(&source)) {
        AssignBitmap(*bitmap, bitmap->Transparent(), ColorToRGB(bitmap->TransparentColor()));
        return;
    }
    TGraphic::Assign(source);
}

void TPngPicture::AssignTo(TPersistent& dest) const
{
    if (auto* png = dynamic_cast<TPngPicture*>(&dest)) {
        png->AssignPNG(*this);
        return;
    }
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        if (HasHeader() && RequireHeader().Dib) {
            bitmap->Assign(*RequireHeader().Dib);
            if (TransparencyMode() == 1) {
                bitmap->SetTransparentColor(TransparentKey());
                bitmap->SetTransparent(true);
            }
            return;
        }
    }
    TGraphic::AssignTo(dest);
}

void TPngPicture::AssignPNG(const TPngPicture& source)
{
    if (&source == this)
        return;
    InterlaceMode = source.InterlaceMode;
    SetIdatBufferSize(source.IdatBufferSize());
    CompressionLevel = source.CompressionLevel;
    RowFilters = source.RowFilters;
    ClearChunks();
    GammaTable = source.GammaTable;
    InverseGammaTable = source.InverseGammaTable;
    for (std::size_t i = 0; i < source.Chunks.Count(); ++i) {
        const TChunk* from = source.Chunks.Item(i);
        TChunk* chunk = Chunks.Add(from->ChunkClass()->Create(*this));
        chunk->CopyFrom(*from);
    }
    Changed();
}

void TPngPicture::AssignBitmap(const TBitmap& bitmap, bool transparent, TColor transparentColor)
{
    const int bpp = bitmap.BitsPerPixel();
    const bool palette = bpp < 16;
    ClearChunks();
    auto* header = static_cast<TChunkIHDR*>(Chunks.Add(std::make_unique<TChunkIHDR>(*this)));
    TChunkPLTE* plte = nullptr;
    if (palette)
        plte = static_cast<TChunkPLTE*>(Chunks.Add(std::make_unique<TChunkPLTE>(*this)));
    TChunktRNS* trns = nullptr;
    if (transparent)
        trns = static_cast<TChunktRNS*>(Chunks.Add(std::make_unique<TChunktRNS>(*this)));
    Chunks.Add(std::make_unique<TChunkIDAT>(*this));
    Chunks.Add(std::make_unique<TChunkIEND>(*this));

    header->Width = static_cast<std::uint32_t>(bitmap.Width());
    header->Height = static_cast<std::uint32_t>(bitmap.Height());
    header->BitDepth = static_cast<std::uint8_t>(palette ? bpp : 8);
    header->ColorType = palette ? 3 : 2;
    header->CompressionMethod = 0;
    header->FilterMethod = 0;
    header->InterlaceMethod = 0;
    header->BuildDib();
    const std::size_t rows = header->Height;
    if (palette) {
        const TPalette colours = bitmap.GetPalette();
        for (std::size_t i = 0; i < colours.size() && i < 256; ++i)
            header->ColorTable[i] = TPaletteEntry{colours[i].peRed, colours[i].peGreen, colours[i].peBlue, 0};
        header->ColorTableChanged();
        if (rows && header->Dib && bitmap.RowStride() == header->DibRowStride)
            std::memcpy(header->Dib->Bits(), bitmap.Bits(), header->DibRowStride * rows);
        plte->EntryCount = 1u << bpp;
    } else if (rows && header->Dib) {
        const TBitmap* source = &bitmap;
        TBitmap converted;
        if (bitmap.PixelFormat() != pf24bit) {
            converted.Assign(bitmap);
            converted.SetPixelFormat(pf24bit);
            source = &converted;
        }
        std::memcpy(header->Dib->Bits(), source->Bits(), header->DibRowStride * rows);
    }
    if (trns)
        trns->SetTransparentColor(transparentColor);
    Changed();
}

TColor TPngPicture::PixelColor(int x, int y) const
{
    const TChunkIHDR& header = RequireHeader();
    if (!header.Dib || x < 0 || y < 0 || static_cast<std::uint32_t>(x) >= header.Width ||
        static_cast<std::uint32_t>(y) >= header.Height)
        return 0;
    switch (header.ColorType) {
    case 0:
    case 3:
    case 4:
        return header.ColorTable[header.Dib->GetRawPixel(x, y) & 0xFF].Color();
    case 2:
    case 6:
        return header.Dib->GetPixelColor(x, y);
    default:
        return 0;
    }
}

void TPngPicture::SetPixelColor(int x, int y, TColor color)
{
    TChunkIHDR& header = RequireHeader();
    if (!header.Dib || x < 0 || y < 0 || static_cast<std::uint32_t>(x) >= header.Width ||
        static_cast<std::uint32_t>(y) >= header.Height)
        return;
    color = ColorToRGB(color);
    switch (header.ColorType) {
    case 0:
    case 3:
    case 4: {
        std::size_t count = std::size_t{1} << header.DibBitsPerPixel;
        // A palette image's pixels may only name the entries its palette
        // has: the slots behind them are black and are not in the file.
        if (header.ColorType == 3)
            if (const auto* plte = Chunks.ItemFromClass<TChunkPLTE>(); plte && plte->EntryCount > 0)
                count = std::min<std::size_t>(count, plte->EntryCount);
        header.Dib->SetRawPixel(x, y,
                                static_cast<std::uint32_t>(NearestEntry(header.ColorTable.data(), count, color)));
        break;
    }
    case 2:
    case 6:
        header.Dib->SetRawPixel(x, y,
                                static_cast<std::uint32_t>(GetBValue(color)) |
                                    (static_cast<std::uint32_t>(GetGValue(color)) << 8) |
                                    (static_cast<std::uint32_t>(GetRValue(color)) << 16));
        break;
    default:
        break;
    }
    // A keyed grey or RGB pixel is transparent when its new colour is the key's.
    if ((header.ColorType == 0 || header.ColorType == 2) &&
        header.AlphaPlane.size() == static_cast<std::size_t>(header.Width) * header.Height)
        header.AlphaRow(static_cast<std::size_t>(y))[x] = color == ColorToRGB(TransparentKey()) ? 0 : 255;
    Changed();
}
