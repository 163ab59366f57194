#include "Bitmap.h"

#include "Canvas.h"
#include "Exceptions.h"
#include "Streams.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <cstdlib>
#include <utility>

int BitsPerPixel(TPixelFormat format)
{
    switch (format) {
    case pf1bit:
        return 1;
    case pf4bit:
        return 4;
    case pf8bit:
        return 8;
    case pf15bit:
    case pf16bit:
        return 16;
    case pf32bit:
        return 32;
    default:
        return 24;
    }
}

std::size_t BytesPerScanline(std::size_t width, int bitsPerPixel)
{
    return (width * static_cast<std::size_t>(bitsPerPixel) + 31) / 32 * 4;
}

namespace {

std::atomic<std::size_t> gPixelBudget{std::size_t{1} << 28};
// The calling thread's own budget while a TPixelBudgetScope lives (0: none).
thread_local std::size_t tThreadBudget = 0;
// Set while a TFirstPictureScope lives on the thread.
thread_local bool tFirstPictureOnly = false;

TPixelFormat Normalised(TPixelFormat format)
{
    return (format == pfDevice || format == pfCustom) ? pf24bit : format;
}

bool IsPaletteFormat(TPixelFormat format)
{
    return format == pf1bit || format == pf4bit || format == pf8bit;
}

std::uint8_t Widen5(unsigned v) { return static_cast<std::uint8_t>((v << 3) | (v >> 2)); }
std::uint8_t Widen6(unsigned v) { return static_cast<std::uint8_t>((v << 2) | (v >> 4)); }

// Nearest palette entry by squared RGB distance, first minimum.
int Nearest(const TPalette& palette, std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (std::size_t i = 0; i < palette.size(); ++i) {
        int dr = palette[i].peRed - r;
        int dg = palette[i].peGreen - g;
        int db = palette[i].peBlue - b;
        int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
            if (d == 0)
                break;
        }
    }
    return best;
}

// Expands one row of any format into B, G, R triples.
void DecodeRow(const std::uint8_t* src, TPixelFormat format, const TPalette& palette, int width, std::uint8_t* bgr)
{
    auto paletteColour = [&](unsigned index, std::uint8_t* out) {
        if (index < palette.size()) {
            out[0] = palette[index].peBlue;
            out[1] = palette[index].peGreen;
            out[2] = palette[index].peRed;
        } else {
            out[0] = out[1] = out[2] = 0;
        }
    };
    switch (format) {
    case pf1bit:
        for (int x = 0; x < width; ++x)
            paletteColour((src[x >> 3] >> (7 - (x & 7))) & 1, bgr + x * 3);
        break;
    case pf4bit:
        for (int x = 0; x < width; ++x)
            paletteColour((x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4), bgr + x * 3);
        break;
    case pf8bit:
        for (int x = 0; x < width; ++x)
            paletteColour(src[x], bgr + x * 3);
        break;
    case pf15bit:
        for (int x = 0; x < width; ++x) {
            unsigned v = src[x * 2] | (src[x * 2 + 1] << 8);
            bgr[x * 3] = Widen5(v & 31);
            bgr[x * 3 + 1] = Widen5((v >> 5) & 31);
            bgr[x * 3 + 2] = Widen5((v >> 10) & 31);
        }
        break;
    case pf16bit:
        for (int x = 0; x < width; ++x) {
            unsigned v = src[x * 2] | (src[x * 2 + 1] << 8);
            bgr[x * 3] = Widen5(v & 31);
            bgr[x * 3 + 1] = Widen6((v >> 5) & 63);
            bgr[x * 3 + 2] = Widen5((v >> 11) & 31);
        }
        break;
    case pf32bit:
        for (int x = 0; x < width; ++x) {
            bgr[x * 3] = src[x * 4];
            bgr[x * 3 + 1] = src[x * 4 + 1];
            bgr[x * 3 + 2] = src[x * 4 + 2];
        }
        break;
    default:
        std::memcpy(bgr, src, static_cast<std::size_t>(width) * 3);
        break;
    }
}

// Packs count B, G, R triples into one row of any format, from column x0 on.
void EncodeRow(const std::uint8_t* bgr, TPixelFormat format, TPaletteMatcher& matcher, int x0, int count,
               std::uint8_t* dst)
{
    switch (format) {
    case pf1bit:
        for (int i = 0; i < count; ++i) {
            int x = x0 + i;
            int idx = matcher.Nearest(bgr[i * 3 + 2], bgr[i * 3 + 1], bgr[i * 3]);
            std::uint8_t& byte = dst[x >> 3];
            std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
            byte = (idx & 1) ? (byte | bit) : (byte & ~bit);
        }
        break;
    case pf4bit:
        for (int i = 0; i < count; ++i) {
            int x = x0 + i;
            auto idx = static_cast<std::uint8_t>(matcher.Nearest(bgr[i * 3 + 2], bgr[i * 3 + 1], bgr[i * 3]) & 0x0F);
            std::uint8_t& byte = dst[x >> 1];
            byte = (x & 1) ? static_cast<std::uint8_t>((byte & 0xF0) | idx)
                           : static_cast<std::uint8_t>((byte & 0x0F) | (idx << 4));
        }
        break;
    case pf8bit:
        dst += x0;
        for (int i = 0; i < count; ++i)
            dst[i] = static_cast<std::uint8_t>(matcher.Nearest(bgr[i * 3 + 2], bgr[i * 3 + 1], bgr[i * 3]));
        break;
    case pf15bit:
        dst += static_cast<std::size_t>(x0) * 2;
        for (int i = 0; i < count; ++i) {
            unsigned v = ((bgr[i * 3 + 2] >> 3) << 10) | ((bgr[i * 3 + 1] >> 3) << 5) | (bgr[i * 3] >> 3);
            dst[i * 2] = static_cast<std::uint8_t>(v);
            dst[i * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        break;
    case pf16bit:
        dst += static_cast<std::size_t>(x0) * 2;
        for (int i = 0; i < count; ++i) {
            unsigned v = ((bgr[i * 3 + 2] >> 3) << 11) | ((bgr[i * 3 + 1] >> 2) << 5) | (bgr[i * 3] >> 3);
            dst[i * 2] = static_cast<std::uint8_t>(v);
            dst[i * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        break;
    case pf32bit:
        dst += static_cast<std::size_t>(x0) * 4;
        for (int i = 0; i < count; ++i) {
            dst[i * 4] = bgr[i * 3];
            dst[i * 4 + 1] = bgr[i * 3 + 1];
            dst[i * 4 + 2] = bgr[i * 3 + 2];
            dst[i * 4 + 3] = 0;
        }
        break;
    default:
        std::memcpy(dst + static_cast<std::size_t>(x0) * 3, bgr, static_cast<std::size_t>(count) * 3);
        break;
    }
}

} // namespace

// --- TPaletteMatcher

namespace {

constexpr int kCellBits = 3;                      // a cell spans 8 values of each channel
constexpr int kCellsPerAxis = 256 >> kCellBits;   // 32
constexpr std::size_t kMemoSize = std::size_t{1} << 14;

} // namespace

TPaletteMatcher::TPaletteMatcher(const TPalette& palette) : FPalette(palette)
{
    if (FPalette.size() > MaxPaletteEntries)
        FPalette.resize(MaxPaletteEntries);
    if (FPalette.size() > 1) {
        FCellStart.assign(static_cast<std::size_t>(kCellsPerAxis) * kCellsPerAxis * kCellsPerAxis, -1);
        FCellCount.assign(FCellStart.size(), 0);
        FMemoKey.assign(kMemoSize, 0);
        FMemoIndex.assign(kMemoSize, 0);
    }
}

void TPaletteMatcher::BuildCell(std::size_t cell)
{
    // An entry can be the nearest to some colour of the cell only when its
    // smallest distance to the cell is within the largest distance of the
    // entry that is farthest at worst; every tie stays in, in palette order.
    const int lo[3] = {static_cast<int>((cell >> (2 * (8 - kCellBits))) << kCellBits),
                       static_cast<int>(((cell >> (8 - kCellBits)) & (kCellsPerAxis - 1)) << kCellBits),
                       static_cast<int>((cell & (kCellsPerAxis - 1)) << kCellBits)};
    const int span = (1 << kCellBits) - 1;
    std::int32_t nearMin[MaxPaletteEntries];
    std::int32_t bound = std::numeric_limits<std::int32_t>::max();
    for (std::size_t i = 0; i < FPalette.size(); ++i) {
        const int v[3] = {FPalette[i].peRed, FPalette[i].peGreen, FPalette[i].peBlue};
        std::int32_t dMin = 0, dMax = 0;
        for (int c = 0; c < 3; ++c) {
            int below = lo[c] - v[c], above = v[c] - (lo[c] + span);
            int nearest = below > 0 ? below : above > 0 ? above : 0;
            int farthest = std::max(std::abs(v[c] - lo[c]), std::abs(v[c] - (lo[c] + span)));
            dMin += nearest * nearest;
            dMax += farthest * farthest;
        }
        nearMin[i] = dMin;
        bound = std::min(bound, dMax);
    }
    FCellStart[cell] = static_cast<std::int32_t>(FCandidates.size());
    for (std::size_t i = 0; i < FPalette.size(); ++i)
        if (nearMin[i] <= bound)
            FCandidates.push_back(static_cast<std::uint8_t>(i));
    FCellCount[cell] = static_cast<std::uint16_t>(FCandidates.size() - static_cast<std::size_t>(FCellStart[cell]));
}

int TPaletteMatcher::Nearest(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    if (FPalette.size() <= 1)
        return 0;
    const std::size_t cell = (static_cast<std::size_t>(r >> kCellBits) << (2 * (8 - kCellBits))) |
                             (static_cast<std::size_t>(g >> kCellBits) << (8 - kCellBits)) |
                             static_cast<std::size_t>(b >> kCellBits);
    if (FCellStart[cell] < 0)
        BuildCell(cell);
    if (FCellCount[cell] == 1)
        return FCandidates[static_cast<std::size_t>(FCellStart[cell])];
    const std::uint32_t key = 0x01000000u | (static_cast<std::uint32_t>(r) << 16) |
                              (static_cast<std::uint32_t>(g) << 8) | b;
    const std::size_t slot = ((key * 2654435761u) >> 18) & (kMemoSize - 1);
    if (FMemoKey[slot] == key)
        return FMemoIndex[slot];
    const std::uint8_t* candidates = FCandidates.data() + FCellStart[cell];
    int best = 0;
    int bestDistance = std::numeric_limits<int>::max();
    for (std::size_t k = 0, n = FCellCount[cell]; k < n; ++k) {
        const TPaletteEntry& e = FPalette[candidates[k]];
        int dr = e.peRed - r, dg = e.peGreen - g, db = e.peBlue - b;
        int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = candidates[k];
            if (d == 0)
                break;
        }
    }
    FMemoKey[slot] = key;
    FMemoIndex[slot] = static_cast<std::uint8_t>(best);
    return best;
}

std::size_t PixelBudget() { return tThreadBudget ? tThreadBudget : gPixelBudget.load(); }

void SetPixelBudget(std::size_t pixels) { gPixelBudget.store(pixels); }

TPixelBudgetScope::TPixelBudgetScope(std::size_t pixels) : FPrevious(tThreadBudget)
{
    // 0 would mean "no scope": the smallest budget that refuses everything
    // is one pixel short of any picture, so keep at least one.
    tThreadBudget = pixels ? pixels : 1;
}

TPixelBudgetScope::~TPixelBudgetScope() { tThreadBudget = FPrevious; }

TThumbnailBudgetScope::TThumbnailBudgetScope() : TPixelBudgetScope(std::min(PixelBudget(), ThumbnailPixelBudget)) {}

TFirstPictureScope::TFirstPictureScope() : FPrevious(tFirstPictureOnly) { tFirstPictureOnly = true; }

TFirstPictureScope::~TFirstPictureScope() { tFirstPictureOnly = FPrevious; }

bool FirstPictureOnly() { return tFirstPictureOnly; }

std::size_t CheckPixelBudget(std::int64_t width, std::int64_t height)
{
    if (width < 0 || height < 0)
        throw EInvalidGraphic("Dimensions d'image incorrectes (" + std::to_string(width) + " x " +
                              std::to_string(height) + ")");
    if (width > std::numeric_limits<std::int32_t>::max() || height > std::numeric_limits<std::int32_t>::max())
        throw EOutOfMemory("Image trop grande : " + std::to_string(width) + " x " + std::to_string(height) +
                           " pixels");
    auto pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (pixels > PixelBudget())
        throw EOutOfMemory("Image trop grande : " + std::to_string(width) + " x " + std::to_string(height) +
                           " pixels dépassent la limite de " + std::to_string(PixelBudget()) + " pixels");
    return pixels;
}

TGraphicClass TBitmap::Class()
{
    static const TGraphicClassInfo info{"TBitmap", [] { return std::unique_ptr<TGraphic>(new TBitmap); }};
    return &info;
}

TBitmap::TBitmap() = default;

TBitmap::TBitmap(int width, int height, TPixelFormat format)
{
    // FillWhite writes every byte.
    Allocate(width, height, Normalised(format), DefaultPaletteFor(Normalised(format)), false);
    FillWhite();
}

TBitmap TBitmap::Uninitialised(int width, int height, TPixelFormat format)
{
    return Uninitialised(width, height, format, 0);
}

TBitmap TBitmap::Uninitialised(int width, int height, TPixelFormat format, std::size_t room)
{
    TBitmap b;
    format = Normalised(format);
    b.Allocate(width, height, format, DefaultPaletteFor(format), false, room);
    // From the last whole byte of pixels on, so that unused bits are zero too.
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(::BitsPerPixel(format)) / 8;
    if (rowBytes < b.FStride)
        for (int y = 0; y < height; ++y)
            std::memset(b.FBits.data() + static_cast<std::size_t>(y) * b.FStride + rowBytes, 0, b.FStride - rowBytes);
    return b;
}

TBitmap::~TBitmap() = default;

TBitmap::TBitmap(TBitmap&& other) noexcept
{
    TakeFrom(other);
}

TBitmap& TBitmap::operator=(TBitmap&& other) noexcept
{
    if (&other != this)
        TakeFrom(other);
    return *this;
}

void TBitmap::TakeFrom(TBitmap& other) noexcept
{
    FBits = std::move(other.FBits);
    FWidth = std::exchange(other.FWidth, 0);
    FHeight = std::exchange(other.FHeight, 0);
    FStride = std::exchange(other.FStride, 0);
    FPixelFormat = other.FPixelFormat;
    FPalette = std::move(other.FPalette);
    FTransparent = other.FTransparent;
    FTransparentColor = other.FTransparentColor;
    FTransparentMode = other.FTransparentMode;
    other.FBits.clear();
    other.FPalette.clear();
}

void TBitmap::Allocate(int width, int height, TPixelFormat format, TPalette palette, bool zeroed, std::size_t room)
{
    CheckPixelBudget(width, height);
    std::size_t stride = BytesPerScanline(static_cast<std::size_t>(width), ::BitsPerPixel(format));
    TPixelBuffer bits;
    try {
        bits = zeroed ? TPixelBuffer(stride * static_cast<std::size_t>(height))
                      : TPixelBuffer::Uninitialised(stride * static_cast<std::size_t>(height), room);
    } catch (const std::bad_alloc&) {
        throw EOutOfMemory("Mémoire insuffisante pour une image de " + std::to_string(width) + " x " +
                           std::to_string(height) + " pixels");
    }
    if (palette.size() > MaxPaletteEntries)
        palette.resize(MaxPaletteEntries);
    FBits = std::move(bits);
    FWidth = width;
    FHeight = height;
    FPixelFormat = format;
    FStride = stride;
    FPalette = std::move(palette);
}

void TBitmap::FillWhite()
{
    if (FBits.empty())
        return;
    switch (FPixelFormat) {
    case pf1bit:
    case pf4bit:
    case pf8bit: {
        std::uint32_t idx = static_cast<std::uint32_t>(NearestPaletteIndex(clWhite));
        std::uint8_t byte = FPixelFormat == pf8bit   ? static_cast<std::uint8_t>(idx)
                            : FPixelFormat == pf4bit ? static_cast<std::uint8_t>(idx * 0x11)
                                                     : static_cast<std::uint8_t>(idx ? 0xFF : 0x00);
        std::memset(FBits.data(), byte, FBits.size());
        break;
    }
    case pf15bit:
        for (std::size_t i = 0; i + 1 < FBits.size(); i += 2) {
            FBits[i] = 0xFF;
            FBits[i + 1] = 0x7F;
        }
        break;
    case pf32bit:
        for (std::size_t i = 0; i + 3 < FBits.size(); i += 4) {
            FBits[i] = FBits[i + 1] = FBits[i + 2] = 0xFF;
            FBits[i + 3] = 0;
        }
        break;
    default:
        std::memset(FBits.data(), 0xFF, FBits.size());
        break;
    }
}

void TBitmap::SetSize(int width, int height)
{
    if (width == FWidth && height == FHeight)
        return;
    if (width < 0 || height < 0)
        throw EInvalidGraphic("Dimensions d'image incorrectes (" + std::to_string(width) + " x " +
                              std::to_string(height) + ")");
    TBitmap fresh;
    fresh.Allocate(width, height, FPixelFormat, FPalette);
    fresh.FillWhite();
    int w = std::min(width, FWidth);
    int h = std::min(height, FHeight);
    int bpp = BitsPerPixel();
    for (int y = 0; y < h; ++y) {
        if (bpp >= 8) {
            std::memcpy(fresh.ScanLine(y), ScanLine(y), static_cast<std::size_t>(w) * (bpp / 8));
        } else {
            for (int x = 0; x < w; ++x)
                fresh.SetRawPixel(x, y, GetRawPixel(x, y));
        }
    }
    FBits = std::move(fresh.FBits);
    FWidth = width;
    FHeight = height;
    FStride = fresh.FStride;
    Changed();
}

void TBitmap::SetPalette(const TPalette& palette)
{
    FPalette = palette;
    if (FPalette.size() > MaxPaletteEntries)
        FPalette.resize(MaxPaletteEntries);
    PaletteModified = true;
    Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat format)
{
    format = Normalised(format);
    if (format == FPixelFormat)
        return;
    TPalette palette;
    if (IsPaletteFormat(format)) {
        std::size_t capacity = std::size_t{1} << ::BitsPerPixel(format);
        palette = (!FPalette.empty() && FPalette.size() <= capacity) ? FPalette : DefaultPaletteFor(format);
    }
    if (GetEmpty()) {
        Allocate(FWidth, FHeight, format, std::move(palette));
        Changed();
        return;
    }
    TBitmap fresh;
    fresh.Allocate(FWidth, FHeight, format, std::move(palette));
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(FWidth) * 3);
    TPaletteMatcher matcher(fresh.FPalette);
    for (int y = 0; y < FHeight; ++y) {
        ReadRowBGR(y, bgr.data());
        fresh.WriteRowBGR(y, 0, FWidth, bgr.data(), &matcher);
    }
    FBits = std::move(fresh.FBits);
    FStride = fresh.FStride;
    FPixelFormat = format;
    FPalette = std::move(fresh.FPalette);
    Changed();
}

void TBitmap::ReadRowBGR(int y, std::uint8_t* bgr) const
{
    DecodeRow(ScanLine(y), FPixelFormat, FPalette, FWidth, bgr);
}

void TBitmap::WriteRowBGR(int y, int x, int count, const std::uint8_t* bgr, TPaletteMatcher* matcher)
{
    std::uint8_t* row = ScanLine(y);
    if (x < 0 || count < 0 || count > FWidth - x)
        throw EInvalidGraphicOperation("Indice colonne hors limites");
    if (matcher) {
        EncodeRow(bgr, FPixelFormat, *matcher, x, count, row);
    } else {
        TPaletteMatcher own(IsPaletteFormat(FPixelFormat) ? FPalette : TPalette{});
        EncodeRow(bgr, FPixelFormat, own, x, count, row);
    }
}

std::uint8_t* TBitmap::ScanLine(int y)
{
    if (y < 0 || y >= FHeight)
        throw EInvalidGraphicOperation("Indice ligne hors limites");
    return FBits.data() + static_cast<std::size_t>(y) * FStride;
}

const std::uint8_t* TBitmap::ScanLine(int y) const
{
    if (y < 0 || y >= FHeight)
        throw EInvalidGraphicOperation("Indice ligne hors limites");
    return FBits.data() + static_cast<std::size_t>(y) * FStride;
}

TCanvas& TBitmap::Canvas()
{
    if (!FCanvas)
        FCanvas = std::make_unique<TBitmapCanvas>(*this);
    return *FCanvas;
}

bool TBitmap::Monochrome() const
{
    return FPixelFormat == pf1bit && FPalette.size() == 2 && FPalette[0].Color() == clBlack &&
           FPalette[1].Color() == clWhite;
}

void TBitmap::SetMonochrome(bool value)
{
    if (value == Monochrome())
        return;
    if (value) {
        SetPixelFormat(pf24bit);
        FPalette = MonoPalette2();
        SetPixelFormat(pf1bit);
    } else {
        SetPixelFormat(pf24bit);
    }
}

TColor TBitmap::TransparentColor() const
{
    if (FTransparentMode == tmFixed && FTransparentColor != clDefault)
        return ColorToRGB(FTransparentColor);
    if (GetEmpty())
        return clWhite;
    return GetPixelColor(0, FHeight - 1);
}

void TBitmap::SetTransparentColor(TColor color)
{
    FTransparentColor = color;
    FTransparentMode = color == clDefault ? tmAuto : tmFixed;
    Changed();
}

void TBitmap::SetTransparentMode(TTransparentMode mode)
{
    if (mode == FTransparentMode)
        return;
    if (mode == tmAuto)
        FTransparentColor = clDefault;
    else
        FTransparentColor = TransparentColor();
    FTransparentMode = mode;
    Changed();
}

std::unique_ptr<TBitmap> TBitmap::MaskHandle() const
{
    auto mask = std::make_unique<TBitmap>();
    mask->Allocate(FWidth, FHeight, pf1bit, MonoPalette2());
    TColor key = TransparentColor();
    std::vector<std::uint8_t> bgr(static_cast<std::size_t>(FWidth) * 3);
    for (int y = 0; y < FHeight; ++y) {
        ReadRowBGR(y, bgr.data());
        std::uint8_t* row = mask->ScanLine(y);
        for (int x = 0; x < FWidth; ++x)
            if (RGB(bgr[x * 3 + 2], bgr[x * 3 + 1], bgr[x * 3]) == key)
                row[x >> 3] = static_cast<std::uint8_t>(row[x >> 3] | (0x80 >> (x & 7)));
    }
    return mask;
}

std::uint32_t TBitmap::GetRawPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= FWidth || y >= FHeight)
        return 0;
    const std::uint8_t* row = FBits.data() + static_cast<std::size_t>(y) * FStride;
    switch (FPixelFormat) {
    case pf1bit:
        return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case pf4bit:
        return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
    case pf8bit:
        return row[x];
    case pf15bit:
    case pf16bit:
        return static_cast<std::uint32_t>(row[x * 2] | (row[x * 2 + 1] << 8));
    case pf32bit:
        return static_cast<std::uint32_t>(row[x * 4]) | (static_cast<std::uint32_t>(row[x * 4 + 1]) << 8) |
               (static_cast<std::uint32_t>(row[x * 4 + 2]) << 16) | (static_cast<std::uint32_t>(row[x * 4 + 3]) << 24);
    default:
        return static_cast<std::uint32_t>(row[x * 3]) | (static_cast<std::uint32_t>(row[x * 3 + 1]) << 8) |
               (static_cast<std::uint32_t>(row[x * 3 + 2]) << 16);
    }
}

void TBitmap::SetRawPixel(int x, int y, std::uint32_t value)
{
    if (x < 0 || y < 0 || x >= FWidth || y >= FHeight)
        return;
    std::uint8_t* row = FBits.data() + static_cast<std::size_t>(y) * FStride;
    switch (FPixelFormat) {
    case pf1bit: {
        std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
        row[x >> 3] = (value & 1) ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit);
        break;
    }
    case pf4bit: {
        std::uint8_t& b = row[x >> 1];
        b = (x & 1) ? static_cast<std::uint8_t>((b & 0xF0) | (value & 0x0F))
                    : static_cast<std::uint8_t>((b & 0x0F) | ((value & 0x0F) << 4));
        break;
    }
    case pf8bit:
        row[x] = static_cast<std::uint8_t>(value);
        break;
    case pf15bit:
    case pf16bit:
        row[x * 2] = static_cast<std::uint8_t>(value);
        row[x * 2 + 1] = static_cast<std::uint8_t>(value >> 8);
        break;
    case pf32bit:
        row[x * 4] = static_cast<std::uint8_t>(value);
        row[x * 4 + 1] = static_cast<std::uint8_t>(value >> 8);
        row[x * 4 + 2] = static_cast<std::uint8_t>(value >> 16);
        row[x * 4 + 3] = static_cast<std::uint8_t>(value >> 24);
        break;
    default:
        row[x * 3] = static_cast<std::uint8_t>(value);
        row[x * 3 + 1] = static_cast<std::uint8_t>(value >> 8);
        row[x * 3 + 2] = static_cast<std::uint8_t>(value >> 16);
        break;
    }
}

TColor TBitmap::RawToColor(std::uint32_t raw) const
{
    switch (FPixelFormat) {
    case pf1bit:
    case pf4bit:
    case pf8bit:
        return raw < FPalette.size() ? FPalette[raw].Color() : clBlack;
    case pf15bit:
        return RGB(Widen5((raw >> 10) & 31), Widen5((raw >> 5) & 31), Widen5(raw & 31));
    case pf16bit:
        return RGB(Widen5((raw >> 11) & 31), Widen6((raw >> 5) & 63), Widen5(raw & 31));
    default:
        return RGB(static_cast<int>((raw >> 16) & 0xFF), static_cast<int>((raw >> 8) & 0xFF),
                   static_cast<int>(raw & 0xFF));
    }
}

std::uint32_t TBitmap::ColorToRaw(TColor color) const
{
    unsigned r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    switch (FPixelFormat) {
    case pf1bit:
    case pf4bit:
    case pf8bit:
        return static_cast<std::uint32_t>(NearestPaletteIndex(color));
    case pf15bit:
        return ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3);
    case pf16bit:
        return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    default:
        return b | (g << 8) | (r << 16);
    }
}

int TBitmap::NearestPaletteIndex(TColor color) const
{
    if (FPalette.empty())
        return 0;
    return Nearest(FPalette, GetRValue(color), GetGValue(color), GetBValue(color));
}

TColor TBitmap::GetPixelColor(int x, int y) const
{
    if (x < 0 || y < 0 || x >= FWidth || y >= FHeight)
        return clInvalid;
    return RawToColor(GetRawPixel(x, y));
}

void TBitmap::SetPixelColor(int x, int y, TColor color)
{
    SetRawPixel(x, y, ColorToRaw(ColorToRGB(color)));
}

void TBitmap::Draw(TCanvas& canvas, const TRect& rect)
{
    if (GetEmpty())
        return;
    TRect source = Rect(0, 0, FWidth, FHeight);
    if (GetTransparent())
        canvas.StretchBitmapTransparent(rect, *this, source, TransparentColor());
    else
        canvas.StretchBitmap(rect, *this, source, canvas.CopyMode);
}

void TBitmap::LoadFromStream(TStream& stream)
{
    ReadBmp(stream, *this);
    Changed();
}

void TBitmap::SaveToStream(TStream& stream) const
{
    WriteBmp(stream, *this);
}

void TBitmap::LoadFromClipboardFormat(TClipboardFormat format, const TClipboardData& data, const TPalette&)
{
    if (format != CF_BITMAP && format != CF_DIB)
        throw EInvalidGraphic("Format de presse-papiers non supporté");
    ReadDib(data.data(), data.size(), *this);
    Changed();
}

void TBitmap::SaveToClipboardFormat(TClipboardFormat& format, TClipboardData& data, TPalette& palette) const
{
    format = CF_BITMAP;
    data = WriteDib(*this);
    palette = FPalette;
}

void TBitmap::CopyStateFrom(const TBitmap& other)
{
    FWidth = other.FWidth;
    FHeight = other.FHeight;
    FPixelFormat = other.FPixelFormat;
    FStride = other.FStride;
    FPalette = other.FPalette;
    FTransparent = other.FTransparent;
    FTransparentColor = other.FTransparentColor;
    FTransparentMode = other.FTransparentMode;
}

void TBitmap::Assign(const TPersistent& source)
{
    if (&source == this)
        return;
    if (auto* other = dynamic_cast<const TBitmap*>(&source)) {
        // Copies into the pixels this bitmap has when the size is the same;
        // a failed allocation leaves the bitmap as it was.
        try {
            FBits.AssignBytes(other->FBits.data(), other->FBits.size());
        } catch (const std::bad_alloc&) {
            OutOfMemoryError();
        }
        CopyStateFrom(*other);
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

void TBitmap::Assign(TBitmap&& source)
{
    if (&source == this)
        return;
    FBits.swap(source.FBits);
    CopyStateFrom(source);
    // The source is left empty, as a moved-from bitmap is; the pixels it
    // got in exchange go back to the pixel memory.
    source.FBits.clear();
    source.FWidth = 0;
    source.FHeight = 0;
    source.FStride = 0;
    source.FPalette.clear();
    Changed();
}

void TBitmap::AssignTo(TPersistent& dest) const
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        bitmap->Assign(*this);
        return;
    }
    TGraphic::AssignTo(dest);
}
