// A frame on the screen: its pixels rendered to a palette bitmap with a
// one-bit transparency mask, both cached in the frame; drawing the frame
// scaled or tiled, opaque or through its mask; and the two per-frame steps
// of the optimiser, trimming transparent borders and making pixels that
// repeat the previous frame transparent.

#include "GifPicture.h"

#include "Canvas.h"
#include "Numeric.h"

#include <algorithm>
#include <cstring>

namespace {

const char* const RenderingText = "Rendering...";

// A colour that no entry of the palette has.
TColor UnusedColor(const TPalette& palette)
{
    for (std::uint32_t candidate = 0x00FF00FE;; candidate = (candidate * 2654435761u + 12345u) & 0x00FFFFFF) {
        const auto r = static_cast<std::uint8_t>(candidate);
        const auto g = static_cast<std::uint8_t>(candidate >> 8);
        const auto b = static_cast<std::uint8_t>(candidate >> 16);
        const bool used = std::any_of(palette.begin(), palette.end(), [&](const TPaletteEntry& e) {
            return e.peRed == r && e.peGreen == g && e.peBlue == b;
        });
        if (!used)
            return RGB(r, g, b);
    }
}

// The frame's rectangle on the logical screen mapped into rect.
TRect PlacedRect(const TGIFSubImage& frame, const TRect& rect, int screenWidth, int screenHeight)
{
    const int w = rect.Width();
    const int h = rect.Height();
    const int sw = std::max(screenWidth, 1);
    const int sh = std::max(screenHeight, 1);
    return TRect{rect.Left + MulDiv(frame.FrameLeft(), w, sw), rect.Top + MulDiv(frame.FrameTop(), h, sh),
                 rect.Left + MulDiv(frame.FrameLeft() + frame.FrameWidth(), w, sw),
                 rect.Top + MulDiv(frame.FrameTop() + frame.FrameHeight(), h, sh)};
}

} // namespace

void TGIFSubImage::ReleaseCachedBitmap()
{
    FCachedBitmap.reset();
    FMaskedBitmap.reset();
    FTrueColorBitmap.reset();
}

void TGIFSubImage::ReleaseMask()
{
    FMaskedBitmap.reset();
    FMask.clear();
    FMaskWanted = true;
}

TPalette TGIFSubImage::FramePalette()
{
    if (FCachedBitmap && !FCachedBitmap->GetPalette().empty())
        return FCachedBitmap->GetPalette();
    if (!FDisplayPalette.empty())
        return FDisplayPalette;
    TGifPicture* image = Image();
    if (image && image->WantsWebPalette())
        FDisplayPalette = WebPalette216();
    else if (FColorMap.EntryCount() > 0)
        FDisplayPalette = FColorMap.MakePalette();
    else
        return image ? image->GetPalette() : TPalette{};
    return FDisplayPalette;
}

void TGIFSubImage::SetFramePalette(const TPalette& palette)
{
    if (palette == FDisplayPalette)
        return;
    FDisplayPalette = palette;
    if (FCachedBitmap && FCachedBitmap->GetPalette() != palette) {
        ReleaseCachedBitmap();
        if (TGifPicture* image = Image()) {
            image->PaletteModified = true;
            image->Changed();
        }
    }
}

void TGIFSubImage::RenderTo(TBitmap& bitmap, bool web)
{
    const int width = FrameWidth();
    const int height = FrameHeight();
    const TPalette palette = FramePalette();
    TBitmap out(width, height, pf8bit);
    out.SetPalette(palette);

    const int transparent = TransparentIndex();
    std::vector<std::uint8_t> mask;
    bool anyTransparent = false;
    const std::size_t stride = MaskStride(width);
    if (FMaskWanted && transparent >= 0 && FMask.empty()) {
        FMaskWanted = false;
        mask.assign(stride * static_cast<std::size_t>(height), 0);
    }
    const bool masking = !mask.empty();

    TGifPicture* image = Image();
    const TGIFColorMap& table = EffectiveColorMap();
    const std::uint8_t* triplets = table.Triplets();
    const int entries = table.EntryCount();
    auto colourOf = [&](int index, std::uint8_t& r, std::uint8_t& g, std::uint8_t& b) {
        if (index < entries && triplets) {
            r = triplets[index * 3];
            g = triplets[index * 3 + 1];
            b = triplets[index * 3 + 2];
        } else {
            r = g = b = 0;
        }
    };

    TNetscapeColorLookup lookup(palette);
    TFloydSteinbergDitherer ditherer(width, lookup);
    std::uint8_t fill = 0;
    if (web && masking) {
        std::uint8_t r, g, b, mr, mg, mb;
        colourOf(transparent, r, g, b);
        fill = lookup.MapColor(r, g, b, mr, mg, mb);
    }

    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = FPixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        std::uint8_t* dst = out.ScanLine(y);
        std::uint8_t* maskRow = masking ? mask.data() + static_cast<std::size_t>(y) * stride : nullptr;
        if (!web) {
            std::memcpy(dst, src, static_cast<std::size_t>(width));
            if (masking)
                for (int x = 0; x < width; ++x)
                    if (src[x] == transparent) {
                        maskRow[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
                        anyTransparent = true;
                    }
        } else {
            if (masking)
                std::memset(dst, fill, static_cast<std::size_t>(width));
            for (int n = 0; n < width; ++n) {
                const int x = ditherer.Col;
                if (masking && src[x] == transparent) {
                    maskRow[x >> 3] |= static_cast<std::uint8_t>(0x80 >> (x & 7));
                    anyTransparent = true;
                    ditherer.SkipPixel();
                    continue;
                }
                std::uint8_t r, g, b, dr, dg, db;
                colourOf(src[x], r, g, b);
                dst[x] = ditherer.DitherPixel(r, g, b, dr, dg, db);
            }
            ditherer.NextRow();
        }
        if (image && (y & 31) == 31)
            image->ReportProgress(psRunning, MulDiv(y, 100, height), false, RenderingText);
    }
    if (anyTransparent)
        FMask = std::move(mask);
    bitmap.Assign(out);
}

TBitmap* TGIFSubImage::RenderedBitmap()
{
    if (FCachedBitmap)
        return FCachedBitmap.get();
    if (IsEmpty())
        return nullptr;
    TGifPicture* image = Image();
    if (image)
        image->ReportProgress(psStarting, 0, false, RenderingText);
    try {
        auto bitmap = std::make_unique<TBitmap>();
        RenderTo(*bitmap, image && image->WantsWebPalette());
        FCachedBitmap = std::move(bitmap);
    } catch (const EAbort&) {
        // A progress handler cancelled: the cache stays as it was.
    } catch (...) {
        if (image)
            image->ReportProgress(psEnding, 0, image->PaletteModified, RenderingText);
        throw;
    }
    if (image) {
        image->ReportProgress(psEnding, 100, image->PaletteModified, RenderingText);
        if (image->PaletteModified)
            image->Changed();
    }
    return FCachedBitmap.get();
}

bool TGIFSubImage::MaskReady()
{
    if (FMaskWanted && FTransparent && FGraphicControl) {
        ReleaseCachedBitmap();
        RenderedBitmap();
    }
    return !FMask.empty();
}

void TGIFSubImage::DrawFrame(TCanvas& canvas, const TRect& rect, bool tile, bool transparent)
{
    TGifPicture* image = Image();
    if (tile || !image) {
        StretchDrawFrame(canvas, rect, tile, transparent);
        return;
    }
    const TRect placed = PlacedRect(*this, rect, image->GetWidth(), image->GetHeight());
    if (placed.Left >= rect.Left && placed.Top >= rect.Top && placed.Right <= rect.Right &&
        placed.Bottom <= rect.Bottom) {
        StretchDrawFrame(canvas, placed, tile, transparent);
        return;
    }
    // A frame reaching past the logical screen: what lies outside rect on
    // the canvas is not the picture's and stays as it is. The visible part
    // is drawn into a copy of that area and copied back, so that scaled
    // frames sample exactly as when drawn whole.
    const TRect inside{std::max(placed.Left, rect.Left), std::max(placed.Top, rect.Top),
                       std::min(placed.Right, rect.Right), std::min(placed.Bottom, rect.Bottom)};
    if (inside.IsEmpty())
        return;
    if (!canvas.SourceBitmap()) {
        // A surface that cannot be read back clips only to its own bounds.
        StretchDrawFrame(canvas, placed, tile, transparent);
        return;
    }
    TBitmap part(inside.Width(), inside.Height(), pf24bit);
    const TRect whole{0, 0, inside.Width(), inside.Height()};
    part.Canvas().CopyMode = cmSrcCopy;
    part.Canvas().CopyRect(whole, canvas, inside);
    StretchDrawFrame(part.Canvas(),
                     TRect{placed.Left - inside.Left, placed.Top - inside.Top, placed.Right - inside.Left,
                           placed.Bottom - inside.Top},
                     false, transparent);
    const TCopyMode mode = canvas.CopyMode;
    canvas.CopyMode = cmSrcCopy;
    canvas.CopyRect(inside, part.Canvas(), whole);
    canvas.CopyMode = mode;
}

void TGIFSubImage::StretchDrawFrame(TCanvas& canvas, const TRect& rect, bool tile, bool transparent)
{
    TBitmap* bitmap = RenderedBitmap();
    if (!bitmap)
        return;
    const int width = FrameWidth();
    const int height = FrameHeight();
    const TRect source{0, 0, width, height};

    // Through the mask: a 24-bit copy whose transparent pixels carry a colour
    // the frame does not use, drawn leaving that colour out.
    // Made once per rendering and kept with it.
    TBitmap* masked = nullptr;
    if (transparent && FTransparent && MaskReady()) {
        bitmap = RenderedBitmap();
        if (!FMaskedBitmap) {
            FMaskHole = UnusedColor(bitmap->GetPalette());
            auto copy = std::make_unique<TBitmap>();
            copy->Assign(*bitmap);
            copy->SetPixelFormat(pf24bit);
            const std::uint8_t hole[3] = {GetBValue(FMaskHole), GetGValue(FMaskHole), GetRValue(FMaskHole)};
            const std::size_t stride = MaskStride(width);
            for (int y = 0; y < height; ++y) {
                const std::uint8_t* maskRow = FMask.data() + static_cast<std::size_t>(y) * stride;
                std::uint8_t* row = copy->ScanLine(y);
                for (int x = 0; x < width; ++x)
                    if (maskRow[x >> 3] & (0x80 >> (x & 7)))
                        std::memcpy(row + static_cast<std::size_t>(x) * 3, hole, 3);
            }
            FMaskedBitmap = std::move(copy);
        }
        masked = FMaskedBitmap.get();
    }
    const TColor hole = FMaskHole;
    // Opaque, onto a true-colour canvas: from a 24-bit copy kept as well,
    // so that playing an animation converts each frame once.
    const TBitmap* opaque = bitmap;
    const TBitmap* surface = canvas.SourceBitmap();
    if (!masked && surface && surface->PixelFormat() == pf24bit) {
        if (!FTrueColorBitmap) {
            auto copy = std::make_unique<TBitmap>();
            copy->Assign(*bitmap);
            copy->SetPixelFormat(pf24bit);
            FTrueColorBitmap = std::move(copy);
        }
        opaque = FTrueColorBitmap.get();
    }
    auto drawOne = [&](const TRect& target) {
        if (masked)
            canvas.StretchBitmapTransparent(target, *masked, source, hole);
        else
            canvas.StretchBitmap(target, *opaque, source, cmSrcCopy);
    };

    if (!tile) {
        drawOne(rect);
        return;
    }
    TGifPicture* image = Image();
    const int stepX = std::max(image ? image->GetWidth() : width, 1);
    const int stepY = std::max(image ? image->GetHeight() : height, 1);
    for (int top = rect.Top + FrameTop(); top < rect.Bottom; top += stepY)
        for (int left = rect.Left + FrameLeft(); left < rect.Right; left += stepX)
            drawOne(TRect{left, top, left + width, top + height});
}

void TGIFSubImage::TrimTransparentBorders()
{
    const int transparent = TransparentIndex();
    if (transparent < 0 || IsEmpty())
        return;
    const int width = FrameWidth();
    const int height = FrameHeight();
    auto at = [&](int x, int y) { return FPixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + x]; };
    auto columnUsed = [&](int x) {
        for (int y = 0; y < height; ++y)
            if (at(x, y) != transparent)
                return true;
        return false;
    };
    int first = 0;
    while (first < width && !columnUsed(first))
        ++first;
    if (first == width) {
        ClearFrame();
        return;
    }
    int last = width - 1;
    while (!columnUsed(last))
        --last;
    auto rowUsed = [&](int y) {
        for (int x = first; x <= last; ++x)
            if (at(x, y) != transparent)
                return true;
        return false;
    };
    int top = 0;
    while (!rowUsed(top))
        ++top;
    int bottom = height - 1;
    while (!rowUsed(bottom))
        --bottom;
    const int newWidth = last - first + 1;
    const int newHeight = bottom - top + 1;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(newWidth) * static_cast<std::size_t>(newHeight));
    for (int y = 0; y < newHeight; ++y)
        std::memcpy(pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(newWidth),
                    FPixels.data() + static_cast<std::size_t>(y + top) * static_cast<std::size_t>(width) + first,
                    static_cast<std::size_t>(newWidth));
    SetWord(1, FrameLeft() + first);
    SetWord(3, FrameTop() + top);
    SetWord(5, newWidth);
    SetWord(7, newHeight);
    FPixels = std::move(pixels);
    ReleaseCachedBitmap();
    ReleaseMask();
}

void TGIFSubImage::MaskUnchangedPixels(TGIFSubImage* previous)
{
    if (IsEmpty() || !previous || previous->IsEmpty())
        return;
    const int previousDisposal = previous->Disposal();
    if (previousDisposal == 2 || previousDisposal == 3)
        return;
    const int left = std::max(FrameLeft(), previous->FrameLeft());
    const int top = std::max(FrameTop(), previous->FrameTop());
    const int right = std::min(FrameLeft() + FrameWidth(), previous->FrameLeft() + previous->FrameWidth());
    const int bottom = std::min(FrameTop() + FrameHeight(), previous->FrameTop() + previous->FrameHeight());
    if (left >= right || top >= bottom)
        return;

    TGifPicture* image = Image();
    const bool ownTable = FColorMap.EntryCount() > 0;
    const bool sameTable = !ownTable && previous->ColorMap().EntryCount() == 0;
    const TGIFColorMap& mine = ActiveColorMap();
    const TGIFColorMap& theirs = previous->ActiveColorMap();
    const int previousTransparent = previous->TransparentIndex();
    int transparent = TransparentIndex();
    const bool wasTransparent = transparent >= 0;

    auto chooseIndex = [&]() -> bool {
        if (ownTable) {
            if (FColorMap.EntryCount() >= 256)
                return false;
            transparent = FColorMap.AppendColor(clBlack);
            return true;
        }
        if (!image || image->Header.GlobalTable.EntryCount() == 0)
            return false;
        // Another frame's transparent index, unless this frame shows that
        // colour itself: those pixels would turn see-through.
        const auto shows = [&](int index) {
            return std::find(FPixels.begin(), FPixels.end(), static_cast<std::uint8_t>(index)) != FPixels.end();
        };
        for (int i = 0; i < image->Frames.Count(); ++i) {
            TGIFSubImage* other = image->Frames.Frame(i);
            if (other != this && other->ColorMap().EntryCount() == 0 && other->TransparentIndex() >= 0 &&
                !shows(other->TransparentIndex())) {
                transparent = other->TransparentIndex();
                return true;
            }
        }
        if (image->Header.GlobalTable.EntryCount() >= 256)
            return false;
        transparent = image->Header.GlobalTable.AppendColor(clBlack);
        return true;
    };

    // The table colours are read after an index may have been appended.
    bool chosen = wasTransparent;
    const int width = FrameWidth();
    const int previousWidth = previous->FrameWidth();
    for (int y = top; y < bottom; ++y) {
        std::uint8_t* row = FPixels.data() + static_cast<std::size_t>(y - FrameTop()) * width;
        const std::uint8_t* before =
            previous->FPixels.data() + static_cast<std::size_t>(y - previous->FrameTop()) * previousWidth;
        for (int x = left; x < right; ++x) {
            std::uint8_t& pixel = row[x - FrameLeft()];
            const int old = before[x - previous->FrameLeft()];
            if ((wasTransparent && pixel == transparent) || old == previousTransparent)
                continue;
            bool same = sameTable && pixel == old;
            if (!same) {
                const std::uint8_t* a = mine.Triplets();
                const std::uint8_t* b = theirs.Triplets();
                same = a && b && pixel < mine.EntryCount() && old < theirs.EntryCount() &&
                       std::memcmp(a + pixel * 3, b + old * 3, 3) == 0;
            }
            if (!same)
                continue;
            if (!chosen) {
                if (!chooseIndex())
                    return;
                chosen = true;
            }
            pixel = static_cast<std::uint8_t>(transparent);
        }
    }
    if (!wasTransparent && chosen) {
        if (!FGraphicControl) {
            auto extension = std::make_unique<TGIFGraphicControlExtension>(this);
            TGIFGraphicControlExtension* raw = extension.get();
            FExtensions.Append(std::move(extension));
            FGraphicControl = FGraphicControl ? FGraphicControl : raw;
        }
        FGraphicControl->SetTransparentIndex(transparent);
        FGraphicControl->SetTransparentFlag(true);
    }
    ReleaseCachedBitmap();
    ReleaseMask();
}
