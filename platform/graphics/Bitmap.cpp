#include "Bitmap.h"

#include "Canvas.h"
#include "Exceptions.h"
#include "Streams.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <unordered_map>
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

// Remembers the nearest index of the colours already seen.
class NearestCache {
public:
    NearestCache(const TPalette& palette, std::size_t pixels) : FPalette(palette)
    {
        if (pixels > (std::size_t{1} << 18))
            FTable.assign(std::size_t{1} << 24, -1);
    }
    std::uint8_t Index(std::uint8_t r, std::uint8_t g, std::uint8_t b)
    {
        std::uint32_t key = (static_cast<std::uint32_t>(r) << 16) | (static_cast<std::uint32_t>(g) << 8) | b;
        if (!FTable.empty()) {
            std::int16_t& slot = FTable[key];
            if (slot < 0)
                slot = static_cast<std::int16_t>(Nearest(FPalette, r, g, b));
            return static_cast<std::uint8_t>(slot);
        }
        auto it = FMap.find(key);
        if (it != FMap.end())
            return it->second;
        auto idx = static_cast<std::uint8_t>(Nearest(FPalette, r, g, b));
        FMap.emplace(key, idx);
        return idx;
    }

private:
    const TPalette& FPalette;
    std::vector<std::int16_t> FTable;
    std::unordered_map<std::uint32_t, std::uint8_t> FMap;
};

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

// Packs B, G, R triples into one row of any format.
void EncodeRow(const std::uint8_t* bgr, TPixelFormat format, NearestCache* cache, int width, std::uint8_t* dst)
{
    switch (format) {
    case pf1bit:
    case pf4bit:
    case pf8bit: {
        int bpp = BitsPerPixel(format);
        for (int x = 0; x < width; ++x) {
            std::uint8_t idx = cache->Index(bgr[x * 3 + 2], bgr[x * 3 + 1], bgr[x * 3]);
            if (bpp == 8) {
                dst[x] = idx;
            } else if (bpp == 4) {
                std::uint8_t& b = dst[x >> 1];
                b = (x & 1) ? static_cast<std::uint8_t>((b & 0xF0) | idx) : static_cast<std::uint8_t>((b & 0x0F) | (idx << 4));
            } else {
                std::uint8_t& b = dst[x >> 3];
                std::uint8_t bit = static_cast<std::uint8_t>(0x80 >> (x & 7));
                b = idx ? (b | bit) : (b & ~bit);
            }
        }
        break;
    }
    case pf15bit:
        for (int x = 0; x < width; ++x) {
            unsigned v = ((bgr[x * 3 + 2] >> 3) << 10) | ((bgr[x * 3 + 1] >> 3) << 5) | (bgr[x * 3] >> 3);
            dst[x * 2] = static_cast<std::uint8_t>(v);
            dst[x * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        break;
    case pf16bit:
        for (int x = 0; x < width; ++x) {
            unsigned v = ((bgr[x * 3 + 2] >> 3) << 11) | ((bgr[x * 3 + 1] >> 2) << 5) | (bgr[x * 3] >> 3);
            dst[x * 2] = static_cast<std::uint8_t>(v);
            dst[x * 2 + 1] = static_cast<std::uint8_t>(v >> 8);
        }
        break;
    case pf32bit:
        for (int x = 0; x < width; ++x) {
            dst[x * 4] = bgr[x * 3];
            dst[x * 4 + 1] = bgr[x * 3 + 1];
            dst[x * 4 + 2] = bgr[x * 3 + 2];
            dst[x * 4 + 3] = 0;
        }
        break;
    default:
        std::memcpy(dst, bgr, static_cast<std::size_t>(width) * 3);
        break;
    }
}

} // namespace

std::size_t PixelBudget() { return gPixelBudget.load(); }

void SetPixelBudget(std::size_t pixels) { gPixelBudget.store(pixels); }

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
    Allocate(width, height, Normalised(format), DefaultPaletteFor(Normalised(format)));
    FillWhite();
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

void TBitmap::Allocate(int width, int height, TPixelFormat format, TPalette palette)
{
    CheckPixelBudget(width, height);
    std::size_t stride = BytesPerScanline(static_cast<std::size_t>(width), ::BitsPerPixel(format));
    std::vector<std::uint8_t> bits;
    try {
        bits.assign(stride * static_cast<std::size_t>(height), 0);
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
    std::unique_ptr<NearestCache> cache;
    if (IsPaletteFormat(format))
        cache = std::make_unique<NearestCache>(fresh.FPalette, static_cast<std::size_t>(FWidth) * FHeight);
    for (int y = 0; y < FHeight; ++y) {
        DecodeRow(ScanLine(y), FPixelFormat, FPalette, FWidth, bgr.data());
        EncodeRow(bgr.data(), format, cache.get(), FWidth, fresh.ScanLine(y));
    }
    FBits = std::move(fresh.FBits);
    FStride = fresh.FStride;
    FPixelFormat = format;
    FPalette = std::move(fresh.FPalette);
    Changed();
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
    for (int y = 0; y < FHeight; ++y)
        for (int x = 0; x < FWidth; ++x)
            mask->SetRawPixel(x, y, GetPixelColor(x, y) == key ? 1u : 0u);
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

void TBitmap::Assign(const TPersistent& source)
{
    if (&source == this)
        return;
    if (auto* other = dynamic_cast<const TBitmap*>(&source)) {
        std::vector<std::uint8_t> bits;
        try {
            bits = other->FBits;
        } catch (const std::bad_alloc&) {
            OutOfMemoryError();
        }
        FBits = std::move(bits);
        FWidth = other->FWidth;
        FHeight = other->FHeight;
        FPixelFormat = other->FPixelFormat;
        FStride = other->FStride;
        FPalette = other->FPalette;
        FTransparent = other->FTransparent;
        FTransparentColor = other->FTransparentColor;
        FTransparentMode = other->FTransparentMode;
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

void TBitmap::AssignTo(TPersistent& dest) const
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        bitmap->Assign(*this);
        return;
    }
    TGraphic::AssignTo(dest);
}
