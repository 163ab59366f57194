// The GIF image class: the frame list, the whole-file read and write,
// copies to and from other graphics, the clipboard, the composition of
// frames on the logical screen, drawing and registration.

#include "GifPicture.h"

#include "GifLzw.h"
#include "GifPainter.h"

#include "Canvas.h"
#include "Picture.h"

#include <algorithm>
#include <mutex>

// ---------------------------------------------------------------------------
// Frame list

namespace {

// The next byte that is not 0x00; false when the data has ended.
bool NextBlockByte(TStream& stream, std::uint8_t& b)
{
    do {
        if (!ReadByteIfAny(stream, b))
            return false;
    } while (b == 0);
    return true;
}

} // namespace

void TGifPictureList::TakeLoadBytes(std::size_t bytes)
{
    if (!FLoading)
        return;
    if (FLoadBytes > MemoryAllowance || bytes > MemoryAllowance - FLoadBytes)
        RaiseGIFError("Frames too large (" + std::to_string(FLoadBytes) + " + " + std::to_string(bytes) +
                      " bytes): the frames of a picture may take " + std::to_string(MemoryAllowance) +
                      " bytes of memory in all");
    // A byte of frame pixels is a pixel.
    if (FLoadBytes + bytes > MostLZWPixels(FStreamBytes))
        RaiseGIFError("Frames too large for the data (" + std::to_string(FLoadBytes) + " + " +
                      std::to_string(bytes) + " pixels from " + std::to_string(FStreamBytes) + " bytes)");
    FLoadBytes += bytes;
}

void CheckScreenBudget(std::int64_t width, std::int64_t height)
{
    try {
        CheckPixelBudget(width, height);
    } catch (const Exception& e) {
        RaiseGIFError("Logical screen too large (" + std::to_string(width) + " x " + std::to_string(height) +
                      " pixels): " + e.Message);
    }
}

void TGifPictureList::LoadFromStream(TStream& stream, TPersistent* parent)
{
    auto* image = dynamic_cast<TGifPicture*>(parent);
    FLoading = true;
    FStoppedAtFirst = false;
    FLoadBytes = 0;
    FStreamBytes = static_cast<std::uint64_t>(std::max<std::int64_t>(stream.Size(), 0));
    struct Done {
        bool& Loading;
        ~Done() { Loading = false; }
    } done{FLoading};
    std::uint8_t b = 0;
    if (!NextBlockByte(stream, b))
        return;
    while (b != 0x3B) {
        stream.Seek(-1, soCurrent);
        if (b != 0x21 && b != 0x2C) {
            ReportWarning(1, "Unknown GIF block type");
            return;
        }
        auto frame = std::make_unique<TGIFSubImage>(image);
        frame->LoadFromStream(stream);
        const bool shown = !frame->IsEmpty();
        Append(std::move(frame));
        if (image) {
            image->DropCachedBitmap();
            image->ReportProgress(psRunning, MulDivPercent(stream.Position(), stream.Size()), false, "Loading...");
        }
        if (shown && FirstPictureOnly()) {
            FStoppedAtFirst = true;
            return;
        }
        if (!NextBlockByte(stream, b))
            return;
    }
    stream.Seek(-1, soCurrent);
}

void TGifPictureList::SaveToStream(TStream& stream) const
{
    auto* image = static_cast<TGifPicture*>(OwnerImage);
    const int n = Count();
    for (int i = 0; i < n; ++i) {
        Frame(i)->SaveToStream(stream);
        if (image)
            image->ReportProgress(psRunning, MulDivPercent(i + 1, n), false, "Saving...");
    }
}

// ---------------------------------------------------------------------------
// Composition

TGIFFrameComposer::TGIFFrameComposer(const TGifPicture& image) : FImage(image)
{
    FWidth = image.GetWidth();
    FHeight = image.GetHeight();
    CheckScreenBudget(FWidth, FHeight);
    const std::size_t pixels = static_cast<std::size_t>(FWidth) * static_cast<std::size_t>(FHeight);
    FRgb.assign(pixels * 3, 0);
    FCovered.assign(pixels, 0);
}

void TGIFFrameComposer::Dispose()
{
    const TGIFSubImage& frame = *FImage.Frames.Frame(FCurrent);
    switch (frame.Disposal()) {
    case 2: {
        const int right = std::min(FWidth, frame.FrameLeft() + frame.FrameWidth());
        const int bottom = std::min(FHeight, frame.FrameTop() + frame.FrameHeight());
        for (int y = frame.FrameTop(); y < bottom; ++y)
            for (int x = frame.FrameLeft(); x < right; ++x) {
                const std::size_t at = static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth) +
                                       static_cast<std::size_t>(x);
                FCovered[at] = 0;
                FRgb[at * 3] = FRgb[at * 3 + 1] = FRgb[at * 3 + 2] = 0;
            }
        break;
    }
    case 3:
        if (!FSavedRgb.empty()) {
            FRgb.swap(FSavedRgb);
            FCovered.swap(FSavedCovered);
        }
        break;
    default:
        break;
    }
    FSavedRgb.clear();
    FSavedCovered.clear();
}

bool TGIFFrameComposer::Advance()
{
    if (FCurrent + 1 >= FImage.Frames.Count())
        return false;
    if (FCurrent >= 0)
        Dispose();
    ++FCurrent;
    const TGIFSubImage& frame = *FImage.Frames.Frame(FCurrent);
    if (frame.Disposal() == 3) {
        FSavedRgb = FRgb;
        FSavedCovered = FCovered;
    }
    if (frame.IsEmpty())
        return true;

    // Colours by index; indices past the table are black.
    std::array<std::uint8_t, 768> lut{};
    const TGIFColorMap& table = frame.ActiveColorMap();
    if (const std::uint8_t* t = table.Triplets())
        std::copy_n(t, static_cast<std::size_t>(table.EntryCount()) * 3, lut.begin());
    const int transparent = frame.TransparentIndex();

    const int fw = frame.FrameWidth();
    const int left = frame.FrameLeft();
    const int top = frame.FrameTop();
    const int right = std::min(FWidth, left + fw);
    const int bottom = std::min(FHeight, top + frame.FrameHeight());
    auto& pixels = const_cast<TGIFSubImage&>(frame);
    const std::uint8_t* data = pixels.PixelData();
    for (int y = top; y < bottom; ++y) {
        const std::uint8_t* src = data + static_cast<std::size_t>(y - top) * static_cast<std::size_t>(fw);
        const std::size_t rowAt = static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth);
        for (int x = left; x < right; ++x) {
            const int index = src[x - left];
            if (index == transparent)
                continue;
            const std::size_t at = rowAt + static_cast<std::size_t>(x);
            std::copy_n(lut.begin() + index * 3, 3, FRgb.begin() + static_cast<std::ptrdiff_t>(at * 3));
            FCovered[at] = 1;
        }
    }
    return true;
}

bool TGIFFrameComposer::SeekFrame(int index)
{
    if (index < 0 || index >= FImage.Frames.Count())
        return false;
    while (FCurrent < index)
        if (!Advance())
            return false;
    return FCurrent == index;
}

void TGIFFrameComposer::PaintOver(TBitmap& backdrop) const
{
    if (backdrop.Width() != FWidth || backdrop.Height() != FHeight || backdrop.PixelFormat() != pf24bit)
        RaiseGIFError("Backdrop does not match the logical screen");
    for (int y = 0; y < FHeight; ++y) {
        std::uint8_t* row = backdrop.ScanLine(y);
        const std::size_t rowAt = static_cast<std::size_t>(y) * static_cast<std::size_t>(FWidth);
        for (int x = 0; x < FWidth; ++x) {
            const std::size_t at = rowAt + static_cast<std::size_t>(x);
            if (!FCovered[at])
                continue;
            row[x * 3] = FRgb[at * 3 + 2];
            row[x * 3 + 1] = FRgb[at * 3 + 1];
            row[x * 3 + 2] = FRgb[at * 3];
        }
    }
}

// ---------------------------------------------------------------------------
// Clipboard

namespace {

struct ClipboardSinkHolder {
    std::mutex Lock;
    TClipboardSink Sink;
};

ClipboardSinkHolder& TheSink()
{
    static ClipboardSinkHolder holder;
    return holder;
}

} // namespace

TClipboardFormat CF_GIF()
{
    static const TClipboardFormat format = RegisterClipboardFormat("GIF Image");
    return format;
}

void SetGIFClipboardSink(TClipboardSink sink)
{
    ClipboardSinkHolder& h = TheSink();
    std::lock_guard<std::mutex> guard(h.Lock);
    h.Sink = std::move(sink);
}

// ---------------------------------------------------------------------------
// The image

TGifPicture::TGifPicture() : Frames(this), Header(this)
{
    ClearImage();
}

TGifPicture::~TGifPicture()
{
    StopAllPainters();
    {
        // Inline painters still running further up this thread's stack
        // stop at their next step.
        std::lock_guard<std::mutex> guard(FPaintersLock);
        // Left: a threaded painter whose call this thread is running (a
        // handler destroys the image). Its thread waits for that call to
        // return, so it cannot be waited for here; cut loose from the
        // image, it ends after the call and frees itself.
        for (std::unique_ptr<TGIFPainter>& painter : FPainters) {
            painter->Halt();
            if (!painter->FThread.joinable())
                continue;
            painter->Image = nullptr;
            painter->FSlot = nullptr;
            painter->FOrphaned = true;
            static_cast<void>(painter.release());
        }
        FPainters.clear();
        FDrawPainter = nullptr;
        for (TGIFPainter* painter : FInlinePainters)
            painter->Image = nullptr;
        FInlinePainters.clear();
    }
    FCachedBitmap.reset();
    Frames.FreeAll();
}

TGraphicClass TGifPicture::Class()
{
    static const TGraphicClassInfo info{"TGifPicture", [] { return std::make_unique<TGifPicture>(); }};
    return &info;
}

void TGifPicture::ReportProgress(TProgressStage stage, int percent, bool redrawNow, const std::string& message)
{
    Progress(stage, percent, redrawNow, TRect{}, message);
}

void TGifPicture::RaiseWarning(TPersistent& sender, int severity, const std::string& message)
{
    if (WarningHandler)
        WarningHandler(sender, severity, message);
}

int TGifPicture::RequiredVersion() const
{
    int version = 0;
    for (int i = 0; i < Frames.Count(); ++i) {
        version = std::max(version, Frames.Frame(i)->FormatVersion());
        if (version >= 2)
            break;
    }
    return version;
}

int TGifPicture::MaxColorResolution() const
{
    int result = Header.GlobalResolution();
    for (int i = 0; i < Frames.Count(); ++i)
        result = std::max(result, Frames.Frame(i)->TableBits() - 1);
    return result;
}

int TGifPicture::MaxBitsPerPixel() const
{
    int result = Header.GlobalTableBits();
    for (int i = 0; i < Frames.Count(); ++i)
        result = std::max(result, Frames.Frame(i)->TableBits());
    return result;
}

void TGifPicture::DropPalette()
{
    FCachedPalette.clear();
}

void TGifPicture::SetPaletteBits(int value)
{
    if (value < 3 || value > 8)
        RaiseGIFError("Invalid Bits Per Pixel value");
    FPaletteBits = value;
}

void TGifPicture::ClearImage()
{
    StopAllPainters();
    Frames.FreeAll();
    Header.GlobalTable.Reset();
    Header.ScreenWidth = 0;
    Header.ScreenHeight = 0;
    Header.ComputeFlags();
    SetPalette({});
}

int TGifPicture::AddFrame(std::unique_ptr<TGIFSubImage> frame)
{
    if (!frame)
        RaiseGIFError("Object type not supported for operation");
    const int index = Frames.Append(std::move(frame));
    DropCachedBitmap();
    Changed();
    return index;
}

int TGifPicture::AddFrame(const TGraphic& graphic)
{
    auto frame = std::make_unique<TGIFSubImage>(this);
    frame->Assign(graphic);
    return AddFrame(std::move(frame));
}

TColor TGifPicture::ScreenBackgroundColor()
{
    return Header.BackgroundColor();
}

bool TGifPicture::WantsWebPalette() const
{
    // The desktop here shows true colour: no palette screen.
    constexpr bool webPaletteScreen = false;
    return (PaintOptions & poWebPalette) && (!(PaintOptions & poWebPaletteOnPaletteDevice) || webPaletteScreen);
}

TPalette TGifPicture::GetPalette() const
{
    if (FInGetPalette)
        RaiseGIFError("No global or local color table defined");
    FInGetPalette = true;
    struct Guard {
        bool& Flag;
        ~Guard() { Flag = false; }
    } guard{FInGetPalette};
    if (!FCachedPalette.empty())
        return FCachedPalette;
    if (WantsWebPalette())
        FCachedPalette = WebPalette216();
    else if (Header.GlobalTable.EntryCount() > 0)
        FCachedPalette = Header.GlobalTable.MakePalette();
    else
        return Frames.Count() > 0 ? Frames.Frame(0)->ColorMap().MakePalette() : TPalette{};
    return FCachedPalette;
}

void TGifPicture::SetPalette(const TPalette& palette)
{
    if (palette == FCachedPalette)
        return;
    FCachedPalette = palette;
    if (FCachedBitmap) {
        DropCachedBitmap();
        PaletteModified = true;
        Changed();
    }
}

void TGifPicture::SetScreenSide(bool width, int value)
{
    value = std::clamp(value, 0, 0xFFFF);
    for (int i = 0; i < Frames.Count(); ++i) {
        const TGIFSubImage& f = *Frames.Frame(i);
        if (width && f.FrameLeft() + f.FrameWidth() > value)
            RaiseGIFError("Image width too small for contained frames");
        if (!width && f.FrameTop() + f.FrameHeight() > value)
            RaiseGIFError("Image height too small for contained frames");
    }
    std::uint16_t& side = width ? Header.ScreenWidth : Header.ScreenHeight;
    if (value > side)
        CheckScreenBudget(width ? value : Header.ScreenWidth, width ? Header.ScreenHeight : value);
    if (value != side) {
        side = static_cast<std::uint16_t>(value);
        DropCachedBitmap();
        Changed();
    }
}

void TGifPicture::SetWidth(int value)
{
    SetScreenSide(true, value);
}

void TGifPicture::SetHeight(int value)
{
    SetScreenSide(false, value);
}

void TGifPicture::LoadFromStream(TStream& stream)
{
    ReportProgress(psStarting, 0, false, "Loading...");
    ClearImage();
    const std::int64_t start = stream.Position();
    try {
        Header.LoadFromStream(stream);
        CheckScreenBudget(Header.ScreenWidth, Header.ScreenHeight);
        Frames.LoadFromStream(stream, this);
        if (!Frames.StoppedAtFirst()) {
            TGIFTrailer trailer(this);
            trailer.LoadFromStream(stream);
        }
        // Frames with pixels grow a screen with an empty side to their
        // size: one still without pixels had none, and there is nothing to
        // show.
        if (Header.ScreenWidth == 0 || Header.ScreenHeight == 0)
            RaiseGIFError("Empty image: a logical screen of " + std::to_string(Header.ScreenWidth) + " x " +
                          std::to_string(Header.ScreenHeight) + " pixels and no frame");
    } catch (...) {
        try {
            stream.SetPosition(start);
        } catch (...) {
        }
        ReportProgress(psEnding, 0, true, "Loading...");
        throw;
    }
    ReportProgress(psEnding, 100, true, "Loading...");
}

void TGifPicture::SaveToStream(TStream& stream) const
{
    auto& self = const_cast<TGifPicture&>(*this);
    self.ReportProgress(psStarting, 0, false, "Saving...");
    try {
        Header.SaveToStream(stream);
        Frames.SaveToStream(stream);
        TGIFTrailer trailer(&self);
        trailer.SaveToStream(stream);
    } catch (...) {
        self.ReportProgress(psEnding, 0, true, "Saving...");
        throw;
    }
    self.ReportProgress(psEnding, 100, true, "Saving...");
}

void TGifPicture::Assign(const TPersistent& source)
{
    if (&source == this)
        return;
    if (auto* other = dynamic_cast<const TGifPicture*>(&source)) {
        ClearImage();
        OnProgress = other->OnProgress;
        WarningHandler = other->WarningHandler;
        struct Reset {
            TGifPicture& Image;
            ~Reset()
            {
                Image.OnProgress = nullptr;
                Image.WarningHandler = nullptr;
            }
        } reset{*this};
        ReportProgress(psStarting, 0, false, "Copying...");
        try {
            Header.Assign(other->Header);
            PainterPriority = other->PainterPriority;
            PaintBackdropColor = other->PaintBackdropColor;
            PaintOptions = other->PaintOptions;
            ReductionMethod = other->ReductionMethod;
            DitherMethod = other->DitherMethod;
            const int n = other->Frames.Count();
            for (int i = 0; i < n; ++i) {
                auto frame = std::make_unique<TGIFSubImage>(this);
                frame->Assign(*other->Frames.Frame(i));
                AddFrame(std::move(frame));
                ReportProgress(psRunning, MulDivPercent(i + 1, n), false, "Copying...");
            }
        } catch (...) {
            ReportProgress(psEnding, 0, false, "Copying...");
            throw;
        }
        ReportProgress(psEnding, 100, false, "Copying...");
        return;
    }
    if (auto* picture = dynamic_cast<const TPicture*>(&source)) {
        if (picture->Graphic())
            Assign(*picture->Graphic());
        else
            ClearImage();
        return;
    }
    if (dynamic_cast<const TGraphic*>(&source)) {
        ClearImage();
        auto frame = std::make_unique<TGIFSubImage>(this);
        try {
            frame->Assign(source);
        } catch (const EConvertError&) {
            frame.reset();
            TGraphic::Assign(source);
            return;
        }
        AddFrame(std::move(frame));
        return;
    }
    TGraphic::Assign(source);
}

std::unique_ptr<TBitmap> TGifPicture::ComposedBitmap() const
{
    auto bitmap = std::make_unique<TBitmap>(GetWidth(), GetHeight(), pf24bit);
    if (Frames.Count() == 0 || bitmap->Empty())
        return bitmap;
    TGIFFrameComposer composer(*this);
    composer.SeekFrame(0);
    composer.PaintOver(*bitmap);
    return bitmap;
}

void TGifPicture::AssignTo(TPersistent& dest) const
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        bitmap->Assign(*ComposedBitmap());
        return;
    }
    TGraphic::AssignTo(dest);
}

void TGifPicture::SaveToClipboardFormat(TClipboardFormat& format, TClipboardData& data, TPalette& palette) const
{
    if (GetEmpty())
        return;
    ComposedBitmap()->SaveToClipboardFormat(format, data, palette);
    TMemoryStream stream;
    SaveToStream(stream);
    TClipboardSink sink;
    {
        ClipboardSinkHolder& h = TheSink();
        std::lock_guard<std::mutex> guard(h.Lock);
        sink = h.Sink;
    }
    if (sink && !sink(CF_GIF(), stream.Data()))
        RaiseGIFError("Failed to store GIF on clipboard");
}

void TGifPicture::LoadFromClipboardFormat(TClipboardFormat format, const TClipboardData& data,
                                          const TPalette& palette)
{
    if (format == CF_GIF() && !data.empty()) {
        TMemoryStream stream(data);
        LoadFromStream(stream);
        return;
    }
    if ((format == CF_BITMAP || format == CF_DIB) && !data.empty()) {
        TBitmap bitmap;
        bitmap.LoadFromClipboardFormat(format, data, palette);
        Assign(bitmap);
        return;
    }
    RaiseGIFError("Format de Presse-papiers non supporté");
}

// ---------------------------------------------------------------------------
// Registration

void RegisterGifFormat()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TPicture::RegisterFileFormat("gif", "GIF Image", TGifPicture::Class());
        TPicture::RegisterClipboardFormat(CF_GIF(), TGifPicture::Class());
    });
}

void UnregisterGifFormat()
{
    TPicture::UnregisterGraphicClass(TGifPicture::Class());
}
