// One frame of a GIF image: its descriptor, local colour table, extensions
// and pixels, how it reads and writes itself, and how bitmaps become frames.

#include "GifLzw.h"
#include "GifPicture.h"

#include "Canvas.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int MaxScreenSide = 0xFFFF;

// Width x height checked against the pixel budget, as a GIF error.
std::size_t CheckFrameSize(std::int64_t width, std::int64_t height)
{
    try {
        return CheckPixelBudget(width, height);
    } catch (const Exception& e) {
        RaiseGIFError("Image too large (" + std::to_string(width) + " x " + std::to_string(height) +
                      " pixels): " + e.Message);
    }
}

// Refuses a frame of pixels pixels that the rest of the stream, from its
// LZW code size on, could not fill even at the best compression. So a few
// bytes never allocate a huge frame, while a frame whose data is merely cut
// short still loads the rows it has.
void CheckDataLeft(TStream& stream, std::size_t pixels, int width, int height)
{
    if (pixels == 0)
        return;
    std::uint8_t codeSize = 0;
    std::uint64_t bytes = 0;
    if (ReadByteIfAny(stream, codeSize)) {
        bytes = static_cast<std::uint64_t>(std::max<std::int64_t>(stream.Remaining(), 0));
        stream.Seek(-1, soCurrent);
    }
    // A size the decoder refuses is left for it to name.
    if (pixels > MostLZWPixels(bytes, codeSize))
        RaiseGIFError("Frame too large for the data left (" + std::to_string(width) + " x " +
                      std::to_string(height) + " pixels, " + std::to_string(bytes) + " bytes)");
}

} // namespace

TGIFSubImage::TGIFSubImage(TGifPicture* image)
    : TGIFItem(image), FExtensions(image), FColorMap(this)
{
}

TGIFSubImage::~TGIFSubImage()
{
    if (TGifPicture* image = Image())
        image->Frames.Detach(this);
    // Extensions reach back to the frame as they go.
    FExtensions.FreeAll();
}

TGifPicture* TGIFSubImage::Image() const
{
    return static_cast<TGifPicture*>(OwnerImage);
}

TGIFColorMap& TGIFSubImage::EffectiveColorMap()
{
    TGifPicture* image = Image();
    if (FColorMap.EntryCount() > 0 || !image || image->Header.GlobalTable.EntryCount() == 0)
        return FColorMap;
    return image->Header.GlobalTable;
}

const TGIFColorMap& TGIFSubImage::ActiveColorMap() const
{
    return const_cast<TGIFSubImage*>(this)->EffectiveColorMap();
}

void TGIFSubImage::FramePaletteChanged()
{
    FDisplayPalette.clear();
    ReleaseCachedBitmap();
    FMask.clear();
    FMaskWanted = true;
    if (TGifPicture* image = Image())
        image->DropCachedBitmap();
}

void TGIFSubImage::SetWord(int at, int value)
{
    Descriptor[at] = static_cast<std::uint8_t>(value);
    Descriptor[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void TGIFSubImage::SetInterlaced(bool value)
{
    Descriptor[9] = static_cast<std::uint8_t>(value ? (Descriptor[9] | 0x40) : (Descriptor[9] & ~0x40));
}

bool TGIFSubImage::IsEmpty() const
{
    return FPixels.empty() || FrameWidth() == 0 || FrameHeight() == 0;
}

int TGIFSubImage::TransparentIndex() const
{
    if (!FTransparent || !FGraphicControl)
        return -1;
    return FGraphicControl->TransparentIndex();
}

int TGIFSubImage::DelayTime() const
{
    return FGraphicControl ? FGraphicControl->DelayTime() : 0;
}

int TGIFSubImage::Disposal() const
{
    return FGraphicControl ? FGraphicControl->DisposalMethod() : 0;
}

void TGIFSubImage::ClearFrame()
{
    FExtensions.FreeAll();
    FColorMap.Reset();
    FramePaletteChanged();
    ReleasePixels();
    SetWord(7, 0);
    SetWord(5, 0);
    FTransparent = false;
    FGraphicControl = nullptr;
}

void TGIFSubImage::AllocPixels()
{
    ReleasePixels();
    const std::size_t count = CheckFrameSize(FrameWidth(), FrameHeight());
    if (count == 0)
        return;
    try {
        FPixels.assign(count, 0);
    } catch (const std::bad_alloc&) {
        RaiseGIFError("Not enough memory for " + std::to_string(FrameWidth()) + " x " +
                      std::to_string(FrameHeight()) + " pixels");
    }
}

void TGIFSubImage::ReleasePixels()
{
    FPixels.clear();
    FPixels.shrink_to_fit();
    ReleaseCachedBitmap();
    ReleaseMask();
}

void TGIFSubImage::RequirePixels()
{
    if (FPixels.empty())
        AllocPixels();
    if (FPixels.empty())
        RaiseGIFError("Image is empty");
}

std::uint8_t* TGIFSubImage::RowOf(int y)
{
    if (y < 0 || y >= FrameHeight())
        RaiseGIFError("Invalid pixel coordinates");
    RequirePixels();
    return FPixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(FrameWidth());
}

std::uint8_t TGIFSubImage::PixelAt(int x, int y)
{
    if (x < 0 || x >= FrameWidth())
        RaiseGIFError("Invalid pixel coordinates");
    return RowOf(y)[x];
}

namespace {

// Grows the logical screen to hold a frame, as far as the pixel budget goes.
void FitScreen(TGIFSubImage& frame, TGifPicture* image, int right, int bottom)
{
    if (!image)
        return;
    const int width = std::max(image->GetWidth(), std::min(right, MaxScreenSide));
    const int height = std::max(image->GetHeight(), std::min(bottom, MaxScreenSide));
    // The screen the frame needs must be one that can be drawn. Its size
    // is not in the data (a frame's place costs no bytes), so the pixel
    // budget is its only bound; the frame's own pixels are counted against
    // the data when they are read.
    if (width != image->GetWidth() || height != image->GetHeight())
        CheckScreenBudget(width, height);
    bool warned = false;
    if (image->GetWidth() < right) {
        if (image->GetWidth() > 0) {
            frame.ReportWarning(1, "Image width too small for contained frames");
            warned = true;
        }
        image->SetWidth(std::min(right, MaxScreenSide));
    }
    if (image->GetHeight() < bottom) {
        if (image->GetHeight() > 0) {
            frame.ReportWarning(1, "Image height too small for contained frames");
            warned = true;
        }
        image->SetHeight(std::min(bottom, MaxScreenSide));
    }
    if (warned)
        frame.ReportWarning(1, "Image exceeds Logical Screen size");
}

} // namespace

void TGIFSubImage::PlaceFrame(int left, int top, int width, int height)
{
    left = std::clamp(left, 0, MaxScreenSide);
    top = std::clamp(top, 0, MaxScreenSide);
    width = std::clamp(width, 0, MaxScreenSide);
    height = std::clamp(height, 0, MaxScreenSide);
    const bool resized = width != FrameWidth() || height != FrameHeight();
    SetWord(1, left);
    SetWord(3, top);
    SetWord(5, width);
    SetWord(7, height);
    if (resized) {
        FramePaletteChanged();
        AllocPixels();
    }
    FitScreen(*this, Image(), left + width, top + height);
}

int TGIFSubImage::FormatVersion() const
{
    if (FColorMap.SortedByUsage() || FExtensions.ItemCount() > 0)
        return 2;
    return 1;
}

void TGIFSubImage::PrepareDescriptor() const
{
    std::uint8_t& packed = const_cast<std::uint8_t&>(Descriptor[9]);
    if (FColorMap.EntryCount() == 0) {
        packed &= 0x58;
    } else {
        packed = FColorMap.SortedByUsage() ? 0xA0 : 0x80;
        packed |= static_cast<std::uint8_t>((FColorMap.TableBits() - 1) & 7);
    }
}

void TGIFSubImage::SaveToStream(TStream& stream) const
{
    FExtensions.SaveToStream(stream);
    if (IsEmpty())
        return;
    PrepareDescriptor();
    stream.WriteBuffer(Descriptor, sizeof Descriptor);
    FColorMap.WriteTable(stream);
    WriteFrameRaster(const_cast<TGIFSubImage&>(*this), stream);
}

void TGIFSubImage::LoadFromStream(TStream& stream)
{
    ClearFrame();
    FExtensions.LoadFromStream(stream, this);

    std::uint8_t b = 0;
    if (!ReadByteIfAny(stream, b))
        return;
    stream.Seek(-1, soCurrent);
    // Only the image separator starts a frame; the caller deals with the rest.
    if (b != 0x2C)
        return;

    std::uint8_t descriptor[10];
    ReadExact(stream, descriptor, sizeof descriptor);
    std::memcpy(Descriptor, descriptor, sizeof Descriptor);
    TGifPicture* image = Image();
    if (FrameWidth() == 0 || FrameHeight() == 0) {
        SetWord(7, image ? image->GetHeight() : 0);
        SetWord(5, image ? image->GetWidth() : 0);
        ReportWarning(1, "Image exceeds Logical Screen size");
    }
    // Checked before the pixels are allocated: the frame, the data that
    // would fill it, the screen it needs, and the frames read so far with it.
    const std::size_t pixels = CheckFrameSize(FrameWidth(), FrameHeight());
    if (Descriptor[9] & 0x80)
        FColorMap.ReadTable(stream, 2 << (Descriptor[9] & 7));
    CheckDataLeft(stream, pixels, FrameWidth(), FrameHeight());
    FitScreen(*this, image, FrameLeft() + FrameWidth(), FrameTop() + FrameHeight());
    if (image)
        image->Frames.TakeLoadBytes(pixels);
    ReadFrameRaster(*this, stream);
}

// ---------------------------------------------------------------------------
// Copies

void TGIFSubImage::Assign(const TPersistent& source)
{
    if (&source == this)
        return;
    if (auto* other = dynamic_cast<const TGIFSubImage*>(&source)) {
        ClearFrame();
        if (other->IsEmpty())
            return;
        std::memcpy(Descriptor, other->Descriptor, sizeof Descriptor);
        FPixels = other->FPixels;
        FColorMap.Assign(other->FColorMap);
        TMemoryStream copy;
        other->FExtensions.SaveToStream(copy);
        copy.SetPosition(0);
        FExtensions.LoadFromStream(copy, this);
        FTransparent = other->FTransparent && FGraphicControl && FGraphicControl->TransparentFlag();
        FitScreen(*this, Image(), FrameLeft() + FrameWidth(), FrameTop() + FrameHeight());
        return;
    }
    if (auto* bitmap = dynamic_cast<const TBitmap*>(&source)) {
        AssignBitmap(*bitmap);
        return;
    }
    if (auto* graphic = dynamic_cast<const TGraphic*>(&source)) {
        ClearFrame();
        if (graphic->Empty())
            return;
        auto& g = const_cast<TGraphic&>(*graphic);
        TBitmap drawn(graphic->Width(), graphic->Height(), pf24bit);
        drawn.Canvas().Draw(0, 0, g);
        AssignBitmap(drawn);
        if (graphic->Transparent()) {
            // Drawn once more over black: what differs is what the graphic
            // leaves uncovered, and becomes transparent.
            TBitmap dark(graphic->Width(), graphic->Height(), pf24bit);
            dark.Canvas().Brush.Color = clBlack;
            dark.Canvas().FillRect(Rect(0, 0, dark.Width(), dark.Height()));
            dark.Canvas().Draw(0, 0, g);
            TBitmap mask(graphic->Width(), graphic->Height(), pf24bit);
            for (int y = 0; y < mask.Height(); ++y) {
                const std::uint8_t* a = drawn.ScanLine(y);
                const std::uint8_t* b = dark.ScanLine(y);
                std::uint8_t* m = mask.ScanLine(y);
                for (std::size_t i = 0; i < static_cast<std::size_t>(mask.Width()) * 3; ++i)
                    m[i] = a[i] == b[i] ? 0 : 255;
            }
            ApplyTransparencyMask(mask);
        }
        return;
    }
    TGIFItem::Assign(source);
}

void TGIFSubImage::AssignTo(TPersistent& dest) const
{
    auto* bitmap = dynamic_cast<TBitmap*>(&dest);
    if (!bitmap) {
        TGIFItem::AssignTo(dest);
        return;
    }
    const int width = FrameWidth();
    const int height = FrameHeight();
    TBitmap out(width, height, pf24bit);
    if (!IsEmpty()) {
        const TGIFColorMap& table = ActiveColorMap();
        const std::uint8_t* triplets = table.Triplets();
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* src = FPixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
            std::uint8_t* row = out.ScanLine(y);
            for (int x = 0; x < width; ++x) {
                const int index = src[x];
                std::uint8_t* p = row + static_cast<std::size_t>(x) * 3;
                if (index < table.EntryCount()) {
                    p[0] = triplets[index * 3 + 2];
                    p[1] = triplets[index * 3 + 1];
                    p[2] = triplets[index * 3];
                } else {
                    p[0] = p[1] = p[2] = 0;
                }
            }
        }
    }
    *bitmap = std::move(out);
}

void TGIFSubImage::ImportPaletteBitmap(TBitmap& bitmap)
{
    const int width = FrameWidth();
    const int height = FrameHeight();
    const int bits = bitmap.BitsPerPixel();
    TGifPicture* image = Image();
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* src = bitmap.ScanLine(y);
        std::uint8_t* dst = FPixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        if (bits == 8) {
            std::memcpy(dst, src, static_cast<std::size_t>(width));
        } else if (bits == 4) {
            for (int x = 0; x < width; ++x)
                dst[x] = static_cast<std::uint8_t>((x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4));
        } else {
            for (int x = 0; x < width; ++x)
                dst[x] = static_cast<std::uint8_t>((src[x >> 3] >> (7 - (x & 7))) & 1);
        }
        if (image && (y & 31) == 0)
            image->ReportProgress(psRunning, MulDivPercent(y, height), false, "Converting...");
    }
}

void TGIFSubImage::AssignBitmap(const TBitmap& source)
{
    ClearFrame();
    if (source.Empty())
        return;
    TGifPicture* image = Image();
    PlaceFrame(0, 0, source.Width(), source.Height());

    TBitmap working;
    working.Assign(source);
    const int bits = working.BitsPerPixel();
    if (bits != 1 && bits != 4 && bits != 8) {
        const std::uint8_t method = image ? image->ReductionMethod : GIFDefaultReductionMethod;
        const std::uint8_t dither = image ? image->DitherMethod : GIFDefaultDitherMethod;
        const int paletteBits = image ? image->PaletteBits() : GIFDefaultPaletteBits;
        std::unique_ptr<TBitmap> reduced = ReduceToPalette(working, method, dither, paletteBits);
        if (!reduced || reduced->Empty())
            RaiseGIFError("Unsupported PixelFormat");
        working = std::move(*reduced);
    }
    AllocPixels();
    if (image)
        image->ReportProgress(psStarting, 0, false, "Converting...");
    bool done = false;
    try {
        const int width = FrameWidth();
        const int height = FrameHeight();
        if (working.BitsPerPixel() <= 8) {
            FColorMap.LoadPalette(working.GetPalette());
            ImportPaletteBitmap(working);
        } else {
            working.SetPixelFormat(pf24bit);
            // Colours met lately with their indices, searched from the last hit.
            struct CacheEntry {
                TColor Color = -1;
                int Index = 0;
            };
            std::array<CacheEntry, 8> cache{};
            int last = 0;
            int used = 0;
            for (int y = 0; y < height; ++y) {
                const std::uint8_t* src = working.ScanLine(y);
                std::uint8_t* dst = FPixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
                for (int x = 0; x < width; ++x) {
                    const std::uint8_t* p = src + static_cast<std::size_t>(x) * 3;
                    const TColor color = RGB(p[2], p[1], p[0]);
                    int found = -1;
                    for (int k = 0, i = last; k < 8; ++k, i = (i + 7) & 7) {
                        if (cache[static_cast<std::size_t>(i)].Color < 0)
                            break;
                        if (cache[static_cast<std::size_t>(i)].Color == color) {
                            found = cache[static_cast<std::size_t>(i)].Index;
                            last = i;
                            break;
                        }
                    }
                    if (found < 0) {
                        found = FColorMap.FindColor(color);
                        if (found < 0)
                            found = FColorMap.AppendColor(color);
                        last = used;
                        cache[static_cast<std::size_t>(used)] = CacheEntry{color, found};
                        used = (used + 1) & 7;
                    }
                    dst[x] = static_cast<std::uint8_t>(found);
                }
                if (image && (y & 31) == 0)
                    image->ReportProgress(psRunning, MulDivPercent(y, height), false, "Converting...");
            }
        }
        if (source.Transparent())
            if (std::unique_ptr<TBitmap> mask = source.MaskHandle())
                ApplyTransparencyMask(*mask);
        done = true;
    } catch (...) {
        if (image)
            image->ReportProgress(psEnding, 0, image->PaletteModified, "Converting...");
        throw;
    }
    if (image && done)
        image->ReportProgress(psEnding, 100, image->PaletteModified, "Converting...");
}

void TGIFSubImage::ApplyTransparencyMask(const TBitmap& mask)
{
    FColorMap.SortByUsage();
    const int count = FColorMap.EntryCount();
    if (count == 0 || count == 256)
        return;
    const int index = FColorMap.AppendColor(clBlack);
    const int width = std::min(FrameWidth(), mask.Width());
    const int height = std::min(FrameHeight(), mask.Height());
    bool any = false;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = FPixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(FrameWidth());
        for (int x = 0; x < width; ++x) {
            if (ColorToRGB(mask.GetPixelColor(x, y)) != clBlack) {
                row[x] = static_cast<std::uint8_t>(index);
                any = true;
            }
        }
    }
    if (!any) {
        FColorMap.RemoveColor(index);
        return;
    }
    auto control = std::make_unique<TGIFGraphicControlExtension>(this);
    TGIFGraphicControlExtension* raw = control.get();
    FExtensions.Append(std::move(control));
    raw->SetTransparentIndex(index);
    raw->SetTransparentFlag(true);
    FGraphicControl = FGraphicControl ? FGraphicControl : raw;
}
