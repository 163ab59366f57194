#pragma once
// The GIF image class and what it is made of: the frame (image descriptor,
// local colour table, extensions, one byte of colour index per pixel), the
// LZW decoder of the image data, the sub-block writer and the two raster
// encoders (LZW and run-length), the frame list, the image itself with its
// whole-file read and write, and the composition of frames on the logical
// screen.

#include "GifCodec.h"
#include "PixelMemory.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TGIFSubImage;
class TGifPicture;
class TGIFPainter;
class TGIFClock;

// The events of a painter, called with the painter on the owner's thread.
using TGIFNotifyEvent = std::function<void(TGIFPainter& sender)>;

// ---------------------------------------------------------------------------
// Image data of one frame

// Reads the LZW minimum code size, the codes in their data sub-blocks and the
// terminator into the frame's pixels (plain or interlaced rows). Short or
// broken data leaves the rest of the frame at its initial index and is
// reported as a warning; a code size outside 1..11 and a circular table
// raise GIFException.
void ReadFrameRaster(TGIFSubImage& frame, TStream& stream);
// Writes the frame's pixels as image data with the image's encoder.
void WriteFrameRaster(TGIFSubImage& frame, TStream& stream);

// i x 100 / n, rounded to the nearest as progress reports give it (0 when n
// is 0).
inline int MulDivPercent(std::int64_t i, std::int64_t n)
{
    return n == 0 ? 0 : static_cast<int>((i * 200 + n) / (2 * n));
}

// The callback of the encoders and the writer for a recoverable problem.
using TGIFWarningHandler = std::function<void(TPersistent& sender, int severity, const std::string& message)>;

// A write-only stream over a target stream: every operation raises
// Exception "Invalid stream operation".
class TGIFStream : public TStream {
public:
    explicit TGIFStream(TStream& target) : Target(target) {}
    std::size_t Read(void* buffer, std::size_t count) override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

    TGIFWarningHandler OnWarning;
    TStream& Target;

protected:
    // Byte 0 the block's length, 1..255 the data.
    std::uint8_t FBuffer[256] = {};
    // Bytes in use counting the length byte; 1 when empty.
    int FCount = 1;
};

// Packs what is written into data sub-blocks of at most 255 bytes.
class TGIFWriter : public TGIFStream {
public:
    explicit TGIFWriter(TStream& target) : TGIFStream(target) {}
    // Writes the last partial block; errors are dropped here, so call
    // FlushBlock first to see them.
    ~TGIFWriter() override;
    std::size_t Write(const void* buffer, std::size_t count) override;
    void FlushBlock();
    // One byte, as Write does it.
    void PutByte(std::uint8_t value)
    {
        FDirty = true;
        FBuffer[FCount++] = value;
        if (FCount == 256)
            FlushBlock();
    }

private:
    bool FDirty = false;
};

// The LZW string table of the encoder: 8009 slots of (key << 12) | code.
class THashTable {
public:
    static constexpr int Size = 8009;
    THashTable();
    void Reset();
    void Store(std::uint32_t key, int code);
    // The code stored for key, or -1.
    int Find(std::uint32_t key) const;
    // Find, and on a miss the slot where Store would put the key (-1 when
    // the table is full); StoreAt fills that slot.
    int Lookup(std::uint32_t key, int& freeSlot) const
    {
        // Most lookups end at the key's own slot.
        const int slot = SlotOf(key);
        const std::uint32_t v = FSlots[static_cast<std::size_t>(slot)];
        if ((v >> 12) == 0xFFFFF) {
            freeSlot = slot;
            return -1;
        }
        if ((v & 0xFFFFF000u) == (key << 12))
            return static_cast<int>(v & 0xFFF);
        return Probe(key, NextSlot(slot), freeSlot);
    }
    void StoreAt(int slot, std::uint32_t key, int code)
    {
        FSlots[static_cast<std::size_t>(slot)] = (key << 12) | (static_cast<std::uint32_t>(code) & 0xFFF);
    }

private:
    // Lookup past the key's own slot, from slot on.
    int Probe(std::uint32_t key, int slot, int& freeSlot) const;
    static int SlotOf(std::uint32_t key) { return static_cast<int>((key ^ (key >> 4)) % Size); }
    static int NextSlot(int slot) { return slot == 0 ? Size - 1 : (2 * slot >= Size ? 2 * slot - Size : 2 * slot); }
    std::vector<std::uint32_t> FSlots;
};

enum TGIFEncoding : std::uint8_t { emLZW, emRLE };

// Turns the pixel indices of one frame into GIF image data.
class TGIFEncoder {
public:
    TGIFEncoder() = default;
    virtual ~TGIFEncoder() = default;
    TGIFEncoder(const TGIFEncoder&) = delete;
    TGIFEncoder& operator=(const TGIFEncoder&) = delete;

    // Writes the code size byte, the sub-blocks and the terminator. Every
    // pixel must be below colorCount, else GIFException "Color not in color
    // table" (the terminator is then not written).
    void Encode(TStream& stream, int bitsPerPixel, int colorCount, const std::uint8_t* pixels, bool interlaced,
                int height, int width);

    TGIFWarningHandler OnWarning;

protected:
    virtual void EmitCode(int code);
    // Packs a code into the bit accumulator and hands whole bytes to the
    // block writer; after the end code the last bits too, padded with 0.
    void PackCode(int code)
    {
        if (FBitsHeld == 0)
            FAccumulator = static_cast<std::uint32_t>(code);
        else
            FAccumulator =
                (static_cast<std::uint32_t>(code) << FBitsHeld) | (FAccumulator & ((1u << FBitsHeld) - 1));
        FBitsHeld += FCodeWidth;
        while (FBitsHeld >= 8) {
            FWriter->PutByte(static_cast<std::uint8_t>(FAccumulator));
            FAccumulator >>= 8;
            FBitsHeld -= 8;
        }
        if (code == FEndCode && FBitsHeld > 0) {
            FWriter->PutByte(static_cast<std::uint8_t>(FAccumulator));
            FAccumulator = 0;
            FBitsHeld = 0;
        }
    }
    virtual void Restart() = 0;
    virtual void EncodeRaster() = 0;
    // Moves the pixel walk on; false at the end.
    bool AdvancePixel();
    // The pixel under the cursor, checked against the colour count; the
    // cursor moves on by one.
    int TakePixel();

    int FColorCount = 0;
    int FBitsPerPixel = 0;
    TStream* FStream = nullptr;
    int FWidth = 0;
    int FHeight = 0;
    bool FInterlaced = false;
    const std::uint8_t* FPixels = nullptr;
    TGIFWriter* FWriter = nullptr;
    std::uint32_t FAccumulator = 0;
    int FBitsHeld = 0;
    bool FJustCleared = false;
    int FCodeWidth = 0;
    int FInitialWidth = 0;
    int FHighestCode = 0;
    int FClearCode = 0;
    int FEndCode = 0;
    int FFirstFree = 0;
    const std::uint8_t* FCursor = nullptr;
    std::int64_t FPixelsLeft = 0;
    int FRow = 0;
    int FPass = 0;
};

class TLZWEncoder final : public TGIFEncoder {
protected:
    void EmitCode(int code) override;
    // EmitCode's body, for the encoder's own loop.
    void EmitLZW(int code);
    void Restart() override;
    void EncodeRaster() override;

private:
    int FPrefix = 0;
    int FNextFree = 0;
    std::unique_ptr<THashTable> FTable;
};

// Writes only codes that any GIF decoder expands into runs of one colour,
// without a string table.
class TRLEEncoder : public TGIFEncoder {
protected:
    void Restart() override;
    void EncodeRaster() override;

private:
    void CountedEmit(int code);
    void FlushRun(int count);
    void RunsFromClear(int count);
    void RunsFromTable(int count);
    void RestoreLimit();
    int CodesNeeded(int pixels, int longest) const;

    int FBudget = 0;
    int FInitialBump = 0;
    int FInitialClearLimit = 0;
    int FPixel = -1;
    int FLongest = 0;
    int FRunPixel = 0;
    int FCodesSinceClear = 0;
    int FClearLimit = 0;
    int FBump = 0;
};

// ---------------------------------------------------------------------------
// Frame

class TGIFSubImage : public TGIFItem, public TGIFFrameOwner {
public:
    explicit TGIFSubImage(TGifPicture* image);
    // Takes the frame out of its image's frame list.
    ~TGIFSubImage() override;
    const char* ClassName() const override { return "TGIFSubImage"; }

    void Assign(const TPersistent& source) override;
    // A TBitmap receives the frame's pixels in its colours (24 bits).
    void AssignTo(TPersistent& dest) const override;
    int FormatVersion() const override;
    void SaveToStream(TStream& stream) const override;
    void LoadFromStream(TStream& stream) override;

    // TGIFFrameOwner
    TGIFImageOwner* FrameImage() const override { return OwnerImage; }
    TGIFExtensionList& Extensions() override { return FExtensions; }
    TGIFGraphicControlExtension* GraphicControl() const override { return FGraphicControl; }
    void SetGraphicControl(TGIFGraphicControlExtension* extension) override { FGraphicControl = extension; }
    bool FrameTransparent() const override { return FTransparent; }
    void SetFrameTransparent(bool value) override { FTransparent = value; }
    TGIFColorMap& EffectiveColorMap() override;
    std::uint8_t* PixelData() override { return FPixels.empty() ? nullptr : FPixels.data(); }
    std::size_t PixelDataSize() const override { return FPixels.size(); }
    void FramePaletteChanged() override;

    TGifPicture* Image() const;
    const TGIFExtensionList& ExtensionList() const { return FExtensions; }
    TGIFLocalColorMap& ColorMap() { return FColorMap; }
    const TGIFLocalColorMap& ColorMap() const { return FColorMap; }
    // The colour table the pixels index (local, else the image's global).
    const TGIFColorMap& ActiveColorMap() const;

    void ClearFrame();
    // A zeroed buffer of width x height bytes (none when either is 0). The
    // size is checked against the pixel budget first.
    void AllocPixels();
    void ReleasePixels();
    // GIFException "Image is empty" when there are no pixels.
    void RequirePixels();
    std::uint8_t* RowOf(int y);
    std::uint8_t PixelAt(int x, int y);

    int FrameLeft() const { return Word(1); }
    int FrameTop() const { return Word(3); }
    int FrameWidth() const { return Word(5); }
    int FrameHeight() const { return Word(7); }
    void SetFrameLeft(int value) { PlaceFrame(value, FrameTop(), FrameWidth(), FrameHeight()); }
    void SetFrameTop(int value) { PlaceFrame(FrameLeft(), value, FrameWidth(), FrameHeight()); }
    void SetFrameWidth(int value) { PlaceFrame(FrameLeft(), FrameTop(), value, FrameHeight()); }
    void SetFrameHeight(int value) { PlaceFrame(FrameLeft(), FrameTop(), FrameWidth(), value); }
    // Stores position and size; a new size gives a new zeroed pixel buffer;
    // a frame past the logical screen grows the screen.
    void PlaceFrame(int left, int top, int width, int height);
    bool IsInterlaced() const { return (Descriptor[9] & 0x40) != 0; }
    void SetInterlaced(bool value);
    bool IsEmpty() const;
    int TableBits() const { return FColorMap.TableBits(); }
    // The transparent index, or -1 when the frame has none.
    int TransparentIndex() const;
    // Delay in hundredths of a second and disposal method (0 without a
    // graphic control extension).
    int DelayTime() const;
    int Disposal() const;
    // Makes the pixels of mask (any pixel format; not black = transparent)
    // transparent through a new colour entry and a graphic control extension.
    void ApplyTransparencyMask(const TBitmap& mask);

    // Display. The frame as a palette bitmap and a transparency mask, both
    // built on first use and dropped whenever pixels, size or colours change.
    // The cached bitmap, rendered first when there is none; null for an
    // empty frame.
    TBitmap* RenderedBitmap();
    // The palette the frame is shown with.
    TPalette FramePalette();
    // Replaces the display palette (empty: none); a cached bitmap in other
    // colours is dropped and the image told.
    void SetFramePalette(const TPalette& palette);
    // True when the frame has a mask, rendering again first when one is
    // wanted and the frame is transparent.
    bool MaskReady();
    void ReleaseCachedBitmap();
    // Drops the mask and asks for a new one at the next rendering.
    void ReleaseMask();
    // Rows of (width + 15) / 16 * 2 bytes; a set bit, most significant
    // first, is a transparent pixel. Empty when there is no mask.
    const std::vector<std::uint8_t>& MaskBits() const { return FMask; }
    static std::size_t MaskStride(int width) { return static_cast<std::size_t>((width + 15) / 16) * 2; }
    // The frame placed in rect as the logical screen maps onto rect.
    void DrawFrame(TCanvas& canvas, const TRect& rect, bool tile, bool transparent);
    // The frame stretched over rect, or tiled from it by the screen's size.
    void StretchDrawFrame(TCanvas& canvas, const TRect& rect, bool tile, bool transparent);
    // Cuts the transparent rows and columns around the picture.
    void TrimTransparentBorders();
    // Pixels that show what the previous frame already shows become
    // transparent.
    void MaskUnchangedPixels(TGIFSubImage* previous);

    // The 10 bytes of the image descriptor as in the stream.
    std::uint8_t Descriptor[10] = {0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0};

private:
    int Word(int at) const { return Descriptor[at] | (Descriptor[at + 1] << 8); }
    void SetWord(int at, int value);
    void PrepareDescriptor() const;
    void AssignBitmap(const TBitmap& bitmap);
    void ImportPaletteBitmap(TBitmap& bitmap);

    TGIFExtensionList FExtensions;
    TGIFLocalColorMap FColorMap;
    std::vector<std::uint8_t> FPixels;
    bool FTransparent = false;
    TGIFGraphicControlExtension* FGraphicControl = nullptr;

    void RenderTo(TBitmap& bitmap, bool web);
    std::unique_ptr<TBitmap> FCachedBitmap;
    std::vector<std::uint8_t> FMask;
    // The rendered bitmap in 24 bits, transparent pixels in FMaskHole, a
    // colour the frame does not use.
    std::unique_ptr<TBitmap> FMaskedBitmap;
    TColor FMaskHole = clNone;
    // The rendered bitmap in 24 bits, for opaque drawing.
    std::unique_ptr<TBitmap> FTrueColorBitmap;
    bool FMaskWanted = true;
    TPalette FDisplayPalette;
};

// ---------------------------------------------------------------------------
// Frame list

class TGifPictureList : public TGIFList {
public:
    using TGIFList::TGIFList;
    const char* ClassName() const override { return "TGifPictureList"; }
    // Reads frames up to the trailer (which is left in the stream), the end
    // of the data or a byte that starts no block; under a TFirstPictureScope,
    // up to the first frame with pixels.
    void LoadFromStream(TStream& stream, TPersistent* parent) override;
    // The last read stopped after the first frame (TFirstPictureScope), so
    // no trailer follows.
    bool StoppedAtFirst() const { return FStoppedAtFirst; }
    void SaveToStream(TStream& stream) const override;
    TGIFSubImage* Frame(int index) const { return static_cast<TGIFSubImage*>(ItemAt(index)); }
    int Count() const { return ItemCount(); }
    // While the list reads a stream, the frames it reads share one memory
    // allowance: each takes the bytes of its pixels before it allocates
    // them, and the frame that would bring the sum past the allowance, or
    // past the pixels the stream's bytes could hold at LZW's best
    // compression, raises a GIFException. Outside a read, nothing is counted.
    void TakeLoadBytes(std::size_t bytes);

    // The bytes the pixels of all frames of one read may take (each frame
    // also keeps to the pixel budget).
    std::size_t MemoryAllowance = pixelmemory::Allowance();

private:
    bool FLoading = false;
    bool FStoppedAtFirst = false;
    std::size_t FLoadBytes = 0;
    // The bytes of the stream being read.
    std::uint64_t FStreamBytes = 0;
};

// A logical screen of width x height checked against the pixel budget, so
// that a picture that loads can be drawn: over it, a GIFException.
void CheckScreenBudget(std::int64_t width, std::int64_t height);

// ---------------------------------------------------------------------------
// Composition on the logical screen

// The frames of an image as an animation shows them, one after the other,
// each disposed of as its graphic control extension says before the next is
// painted. Pixels no frame covers stay see-through (Covered false), so the
// caller decides what lies under the picture.
class TGIFFrameComposer {
public:
    explicit TGIFFrameComposer(const TGifPicture& image);
    // Paints the next frame; false when there is none.
    bool Advance();
    // Paints frames until frame index (from 0) is on the screen; false when
    // the image has no such frame.
    bool SeekFrame(int index);
    // The index of the frame on the screen (-1 before the first).
    int Current() const { return FCurrent; }
    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // Red, green, blue per pixel and whether any frame covers it.
    const std::vector<std::uint8_t>& Rgb() const { return FRgb; }
    const std::vector<std::uint8_t>& Covered() const { return FCovered; }
    // The screen over a backdrop of the logical screen's size (24 bits).
    void PaintOver(TBitmap& backdrop) const;

private:
    void Dispose();
    const TGifPicture& FImage;
    int FWidth = 0;
    int FHeight = 0;
    int FCurrent = -1;
    std::vector<std::uint8_t> FRgb;
    std::vector<std::uint8_t> FCovered;
    std::vector<std::uint8_t> FSavedRgb;
    std::vector<std::uint8_t> FSavedCovered;
};

// ---------------------------------------------------------------------------
// The image

// The settings bits of PaintOptions.
enum TGIFPaintOption : std::uint16_t {
    poThreaded = 1 << 0,
    poTransparent = 1 << 1,
    poAnimate = 1 << 2,
    poLoop = 1 << 3,
    poLoopForever = 1 << 4,
    poKeepCanvasDC = 1 << 5,
    poDirectToCanvas = 1 << 6,
    poClearBackground = 1 << 7,
    poTile = 1 << 8,
    poWebPalette = 1 << 9,
    poWebPaletteOnPaletteDevice = 1 << 10,
};

// The defaults every new image starts with.
constexpr std::uint16_t GIFDefaultPaintOptions = 0x060F;
constexpr std::uint8_t GIFDefaultReductionMethod = rdNetscape216;
constexpr int GIFDefaultPaletteBits = 8;
constexpr std::uint8_t GIFDefaultDitherMethod = dtNearest;
constexpr std::uint8_t GIFDefaultEncodingMethod = emLZW;
constexpr std::uint8_t GIFDefaultPainterPriority = 3;
constexpr int GIFDefaultPlaybackSpeed = 100;

// The clipboard format "GIF Image": a whole GIF stream. On the desktop
// clipboard it travels as the MIME type image/gif as well.
TClipboardFormat CF_GIF();
inline constexpr const char* GIFMimeType = "image/gif";

// Where the GIF stream of SaveToClipboardFormat goes besides the bitmap: the
// clipboard layer installs a sink that answers whether the data was placed.
using TClipboardSink = std::function<bool(TClipboardFormat format, const TClipboardData& data)>;
void SetGIFClipboardSink(TClipboardSink sink);

class TGifPicture : public TGraphic, public TGIFImageOwner {
public:
    TGifPicture();
    ~TGifPicture() override;
    const char* ClassName() const override { return "TGifPicture"; }
    static TGraphicClass Class();

    // TPersistent
    void Assign(const TPersistent& source) override;
    void AssignTo(TPersistent& dest) const override;

    // TGraphic. A still picture draws frame 0 through its mask; an
    // animation starts a painter that animates the cached bitmap (or the
    // canvas itself with poDirectToCanvas) and shows its first frame.
    void Draw(TCanvas& canvas, const TRect& rect) override;
    bool Equals(const TGraphic& other) const override { return &other == this; }
    bool GetEmpty() const override { return Frames.Count() == 0; }
    int GetHeight() const override { return Header.ScreenHeight; }
    int GetWidth() const override { return Header.ScreenWidth; }
    TPalette GetPalette() const override;
    void SetHeight(int value) override;
    void SetWidth(int value) override;
    void SetPalette(const TPalette& palette) override;
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) const override;
    void LoadFromClipboardFormat(TClipboardFormat format, const TClipboardData& data,
                                 const TPalette& palette) override;
    void SaveToClipboardFormat(TClipboardFormat& format, TClipboardData& data, TPalette& palette) const override;

    // TGIFImageOwner
    void RaiseWarning(TPersistent& sender, int severity, const std::string& message) override;
    int RequiredVersion() const override;
    int MaxColorResolution() const override;
    int MaxBitsPerPixel() const override;
    int FrameCount() const override { return Frames.Count(); }
    TGIFFrameOwner& FrameAt(int index) override { return *Frames.Frame(index); }
    void DropPalette() override;

    // Outside 3..8: GIFException "Invalid Bits Per Pixel value".
    void SetPaletteBits(int value);
    int PaletteBits() const { return FPaletteBits; }
    void ClearImage();
    // A graphic is wrapped in a new frame; the frame (taken over) is
    // appended. Answers the new index.
    int AddFrame(const TGraphic& graphic);
    int AddFrame(std::unique_ptr<TGIFSubImage> frame);
    TColor ScreenBackgroundColor();
    TGIFColorMap& GlobalColorTable() { return Header.GlobalTable; }
    bool WantsWebPalette() const;
    // The first frame composed on the logical screen over white, 24 bits.
    std::unique_ptr<TBitmap> ComposedBitmap() const;
    // The cached bitmap, made from frame 0 on first use; null when empty.
    TBitmap* RenderedBitmap();
    // The cached bitmap, made blank (screen size, image palette) when missing.
    TBitmap* NewCachedBitmap();
    // Halts the draw painter and frees the cached bitmap.
    void DropCachedBitmap();
    // A painter of the image on canvas in rect, stored in *slot (when given)
    // until it ends. Threaded: returned not yet running (call Run). Inline:
    // runs to the end here; the answer is null and an error of the run
    // passes to the caller.
    TGIFPainter* StartPainter(TGIFPainter** slot, TCanvas& canvas, std::uint16_t options, const TRect& rect);
    // Halts the draw painter and waits for it; drops the cached bitmap.
    void StopDrawPainter();
    // Halts every painter and waits for them; drops the cached bitmap.
    void StopAllPainters();
    // The draw painter, or null.
    TGIFPainter* DrawPainter();
    int PainterCount();
    // Reports progress with a sender other than the image (frames, list).
    void ReportProgress(TProgressStage stage, int percent, bool redrawNow, const std::string& message);

    TGifPictureList Frames;
    TGIFHeader Header;

    std::uint16_t PaintOptions = GIFDefaultPaintOptions;
    std::uint8_t ReductionMethod = GIFDefaultReductionMethod;
    std::uint8_t DitherMethod = GIFDefaultDitherMethod;
    std::uint8_t EncodingMethod = GIFDefaultEncodingMethod;
    std::uint8_t PainterPriority = GIFDefaultPainterPriority;
    int PlaybackSpeed = GIFDefaultPlaybackSpeed;
    TColor PaintBackdropColor = clNone;
    // Receives recoverable format problems (severity 1).
    TGIFWarningHandler WarningHandler;
    TGIFNotifyEvent AnimationStartHandler;
    TGIFNotifyEvent FramePaintHandler;
    TGIFNotifyEvent FrameDoneHandler;
    TGIFNotifyEvent LoopRestartHandler;
    TGIFNotifyEvent AnimationEndHandler;
    // Receives, once and on the owner's thread, the error that stopped a
    // threaded painter.
    std::function<void(const std::string& message)> PainterErrorHandler;
    // The clock of new painters (null: the system's).
    TGIFClock* Clock = nullptr;

private:
    // The logical screen's width (or height); every frame must fit.
    void SetScreenSide(bool width, int value);

    int FPaletteBits = GIFDefaultPaletteBits;
    mutable bool FInGetPalette = false;
    mutable TPalette FCachedPalette;
    friend class TGIFPainter;
    // Joins painters whose run has ended and passes on their errors.
    void ReapPainters(bool all);
    void HaltDrawPainter();
    // The painter's place in FPainters, or its end (FPaintersLock held).
    std::vector<std::unique_ptr<TGIFPainter>>::iterator FindPainter(const TGIFPainter* painter);
    void WatchCachedBitmap(TBitmap& bitmap);
    std::shared_ptr<TBitmap> FCachedBitmap;
    std::mutex FPaintersLock;
    std::vector<std::unique_ptr<TGIFPainter>> FPainters;
    // Inline painters running now (on this thread; not owned).
    std::vector<TGIFPainter*> FInlinePainters;
    TGIFPainter* FDrawPainter = nullptr;
    // Expires with the image: an inline painter's caller learns of it.
    std::shared_ptr<const int> FLife = std::make_shared<const int>(0);
    bool FDrawing = false;
};

// Registers TGifPicture for "gif" and the clipboard format "GIF Image". Run
// it after every other reader of "gif" so that this class answers the
// extension.
void RegisterGifFormat();
void UnregisterGifFormat();
