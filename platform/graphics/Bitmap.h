#pragma once
// TBitmap: a device-independent picture in one of the pixel formats, rows
// stored top-down and padded to 4 bytes, with its own palette.

#include "Graphic.h"
#include "PixelMemory.h"
#include "Types.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

class TCanvas;
class TBitmapCanvas;
class TPaletteMatcher;

// The largest number of pixels one picture may have. Decoders and TBitmap
// refuse larger pictures with a clear message instead of failing later.
std::size_t PixelBudget();
void SetPixelBudget(std::size_t pixels);

// While it lives, the budget of the calling thread is the given number of
// pixels (the process-wide one elsewhere); the previous budget of the thread
// comes back when it goes, also when an exception unwinds. The browser's
// thumbnails and kavrel's conversions load under a lower budget so that a
// small file describing a huge picture never stalls them.
class TPixelBudgetScope {
public:
    explicit TPixelBudgetScope(std::size_t pixels);
    ~TPixelBudgetScope();
    TPixelBudgetScope(const TPixelBudgetScope&) = delete;
    TPixelBudgetScope& operator=(const TPixelBudgetScope&) = delete;

private:
    std::size_t FPrevious;
};
// The budget for thumbnails, contact sheets and batch conversions: about
// 134 million pixels, more than any camera's photo.
constexpr std::size_t ThumbnailPixelBudget = std::size_t{1} << 27;
// A scope of that budget (or of the current one when it is lower).
class TThumbnailBudgetScope : public TPixelBudgetScope {
public:
    TThumbnailBudgetScope();
};
// While it lives, readers of files that hold a sequence of pictures (the
// frames of an animation) read the first picture only, on the calling
// thread: all a thumbnail shows, without the time and memory of the rest.
class TFirstPictureScope {
public:
    TFirstPictureScope();
    ~TFirstPictureScope();
    TFirstPictureScope(const TFirstPictureScope&) = delete;
    TFirstPictureScope& operator=(const TFirstPictureScope&) = delete;

private:
    bool FPrevious;
};
bool FirstPictureOnly();
// Raises EOutOfMemory when width x height exceeds the budget or a side is
// negative; answers width x height.
std::size_t CheckPixelBudget(std::int64_t width, std::int64_t height);

enum class TTransparentMode { tmAuto, tmFixed };
using enum TTransparentMode;

class TBitmap : public TGraphic {
public:
    TBitmap();
    // A white bitmap of the given size and format.
    TBitmap(int width, int height, TPixelFormat format = pf24bit);
    // A bitmap whose pixels are left undefined (the row padding is zero), for
    // routines that go on to write every pixel.
    static TBitmap Uninitialised(int width, int height, TPixelFormat format = pf24bit);
    // The same with memory that has room for at least room bytes from Bits()
    // on, for a decoder that unpacks larger data in place into the pixels.
    static TBitmap Uninitialised(int width, int height, TPixelFormat format, std::size_t room);
    ~TBitmap() override;
    // Moving takes the pixels; the canvas stays with its own bitmap.
    TBitmap(TBitmap&& other) noexcept;
    TBitmap& operator=(TBitmap&& other) noexcept;
    const char* ClassName() const override { return "TBitmap"; }
    static TGraphicClass Class();

    // TGraphic
    void Draw(TCanvas& canvas, const TRect& rect) override;
    bool GetEmpty() const override { return FWidth == 0 || FHeight == 0; }
    int GetHeight() const override { return FHeight; }
    int GetWidth() const override { return FWidth; }
    TPalette GetPalette() const override { return FPalette; }
    void SetHeight(int value) override { SetSize(FWidth, value); }
    void SetWidth(int value) override { SetSize(value, FHeight); }
    // Replaces the colour table; pixel indices stay as they are.
    void SetPalette(const TPalette& palette) override;
    void LoadFromStream(TStream& stream) override;
    void SaveToStream(TStream& stream) const override;
    void LoadFromClipboardFormat(TClipboardFormat format, const TClipboardData& data,
                                 const TPalette& palette) override;
    void SaveToClipboardFormat(TClipboardFormat& format, TClipboardData& data, TPalette& palette) const override;
    // Assigning a bitmap of the same size and format copies into the pixels
    // this bitmap already has.
    void Assign(const TPersistent& source) override;
    // The same for a bitmap about to be freed: its pixels are taken over.
    void Assign(TBitmap&& source);
    void AssignTo(TPersistent& dest) const override;

    // Changes the size; the overlapping part keeps its pixels, new parts are
    // white. Negative sizes raise EInvalidGraphic.
    void SetSize(int width, int height);

    TPixelFormat PixelFormat() const { return FPixelFormat; }
    // Converts the pixels: up through the palette and by bit replication,
    // down to a palette by the nearest entry.
    void SetPixelFormat(TPixelFormat format);
    int BitsPerPixel() const { return ::BitsPerPixel(FPixelFormat); }

    // Row y counted from the top; EInvalidGraphicOperation outside.
    std::uint8_t* ScanLine(int y);
    const std::uint8_t* ScanLine(int y) const;
    std::size_t RowStride() const { return FStride; }
    std::uint8_t* Bits() { return FBits.data(); }
    const std::uint8_t* Bits() const { return FBits.data(); }

    TCanvas& Canvas();

    bool Monochrome() const;
    void SetMonochrome(bool value);

    // Transparent drawing leaves out the pixels of TransparentColor. In
    // automatic mode that is the colour of the bottom-left pixel.
    TColor TransparentColor() const;
    void SetTransparentColor(TColor color);
    TTransparentMode TransparentMode() const { return FTransparentMode; }
    void SetTransparentMode(TTransparentMode mode);
    // A 1-bit mask of the picture: 1 (white) where the pixel has the
    // transparent colour, 0 (black) elsewhere.
    std::unique_ptr<TBitmap> MaskHandle() const;

    // Colour of one pixel as 0x00BBGGRR; clInvalid outside the picture.
    TColor GetPixelColor(int x, int y) const;
    void SetPixelColor(int x, int y, TColor color);
    // The stored value of one pixel (index, packed word or BGR value).
    std::uint32_t GetRawPixel(int x, int y) const;
    void SetRawPixel(int x, int y, std::uint32_t value);
    // Colour of a stored value and the value of a colour in this format.
    TColor RawToColor(std::uint32_t raw) const;
    std::uint32_t ColorToRaw(TColor color) const;
    // Index of the nearest palette entry (squared RGB distance, first minimum).
    int NearestPaletteIndex(TColor color) const;

    // Whole rows in B, G, R form, for work across pixel formats. ReadRowBGR
    // expands row y into Width() triples, as GetPixelColor reads them.
    // WriteRowBGR stores count triples into row y from column x on, as
    // SetPixelColor stores them; palette formats look the colours up through
    // matcher, which must be made for this bitmap's palette (null: a
    // matcher for this call only).
    void ReadRowBGR(int y, std::uint8_t* bgr) const;
    void WriteRowBGR(int y, int x, int count, const std::uint8_t* bgr, TPaletteMatcher* matcher);

private:
    friend class TBitmapCanvas;
    void Allocate(int width, int height, TPixelFormat format, TPalette palette, bool zeroed = true,
                  std::size_t room = 0);
    void CopyStateFrom(const TBitmap& other);
    void FillWhite();
    void TakeFrom(TBitmap& other) noexcept;

    int FWidth = 0;
    int FHeight = 0;
    TPixelFormat FPixelFormat = pf24bit;
    std::size_t FStride = 0;
    TPixelBuffer FBits;
    TPalette FPalette;
    TColor FTransparentColor = clDefault;
    TTransparentMode FTransparentMode = tmAuto;
    std::unique_ptr<TBitmapCanvas> FCanvas;
};

// The nearest entry of one palette for many colours: the same answer as
// TBitmap::NearestPaletteIndex (squared RGB distance, first minimum), but
// each colour is compared only with the few entries that can be nearest in
// its cell of the colour cube.
class TPaletteMatcher {
public:
    explicit TPaletteMatcher(const TPalette& palette);
    int Nearest(std::uint8_t r, std::uint8_t g, std::uint8_t b);

private:
    void BuildCell(std::size_t cell);
    TPalette FPalette;
    std::vector<std::int32_t> FCellStart; // into FCandidates; -1 until built
    std::vector<std::uint16_t> FCellCount;
    std::vector<std::uint8_t> FCandidates;
    // The last answers, by colour.
    std::vector<std::uint32_t> FMemoKey;
    std::vector<std::uint8_t> FMemoIndex;
};

// Default palettes of the palette formats.
const TPalette& MonoPalette2();
const TPalette& SystemPalette16();
// The 256-colour halftone palette of the screen.
const TPalette& HalftonePalette256();
// The 20 static colours of the stock default palette.
const TPalette& StockPalette20();
// The default palette for a pixel format (empty above 8 bits).
const TPalette& DefaultPaletteFor(TPixelFormat format);

// BMP files and DIBs. ReadBmp reads a file with its 14-byte header from the
// stream's position; ReadDib reads a DIB without file header.
void ReadBmp(TStream& stream, TBitmap& bitmap);
void WriteBmp(TStream& stream, const TBitmap& bitmap);
void ReadDib(const std::uint8_t* data, std::size_t size, TBitmap& bitmap);
std::vector<std::uint8_t> WriteDib(const TBitmap& bitmap);
