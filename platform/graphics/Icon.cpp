// Icon and cursor files: a directory of images, each a DIB of doubled height
// (colour image, then the 1-bit AND mask) or a PNG stream.

#include "Icon.h"

#include "Bitmap.h"
#include "ByteOrder.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "Picture.h"
#include "Streams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* BadIcon = "Icône non valide";

[[noreturn]] void Invalid(const std::string& reason)
{
    throw EInvalidGraphic(std::string(BadIcon) + " (" + reason + ")");
}

constexpr std::size_t DirHeaderSize = 6;
constexpr std::size_t DirEntrySize = 16;
constexpr std::uint8_t PngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool IsPng(const std::uint8_t* p, std::size_t size)
{
    return size >= sizeof PngSignature && std::memcmp(p, PngSignature, sizeof PngSignature) == 0;
}

struct TEntry {
    std::size_t Offset = 0;
    std::size_t Size = 0;
    bool Png = false;
    std::uint64_t Area = 0;
    unsigned Bits = 0;
};

// Checks the 6-byte header of an icon or cursor file; answers the number of
// images.
std::size_t CheckHeader(const std::uint8_t* data)
{
    if (GetU16LE(data) != 0)
        Invalid("en-tête invalide");
    unsigned type = GetU16LE(data + 2);
    if (type != 1 && type != 2)
        Invalid("type de ressource inconnu (" + std::to_string(type) + ")");
    std::size_t count = GetU16LE(data + 4);
    if (count == 0)
        Invalid("aucune image");
    return count;
}

// What a DIB entry's header says the entry takes: its colour image (header,
// masks, colour table, colour rows), then its AND mask. Both 0 when the 40
// bytes at p are no DIB header.
struct TDibExtent {
    std::uint64_t Colour = 0;
    std::uint64_t Mask = 0;
};

TDibExtent DibExtent(const std::uint8_t* p)
{
    if (IsPng(p, 40))
        return {};
    const std::uint32_t headerSize = GetU32LE(p);
    const auto width = static_cast<std::int32_t>(GetU32LE(p + 4));
    const auto doubledHeight = static_cast<std::int32_t>(GetU32LE(p + 8));
    const std::uint64_t bits = GetU16LE(p + 14);
    const std::uint32_t compression = GetU32LE(p + 16);
    std::uint64_t tableEntries = GetU32LE(p + 32);
    if (headerSize < 40 || width <= 0 || doubledHeight < 2 || bits == 0 || bits > 32 || tableEntries > 256)
        return {};
    if (bits <= 8 && tableEntries == 0)
        tableEntries = std::uint64_t{1} << bits;
    const auto w = static_cast<std::uint64_t>(width);
    const auto h = static_cast<std::uint64_t>(doubledHeight / 2);
    return {headerSize + (compression == 3 && headerSize == 40 ? 12 : 0) + tableEntries * 4 + (w * bits + 31) / 32 * 4 * h,
            (w + 31) / 32 * 4 * h};
}

// The bytes of an entry whose first `held` bytes are at p and `left` bytes
// of the file from it on: its stated count, or more when its DIB header says
// it is larger and the file holds its colour image (as other readers take
// such files; a mask the file ends in is cut where it ends).
std::uint64_t EntryBytes(const std::uint8_t* p, std::uint64_t held, std::uint64_t left, std::uint64_t stated)
{
    if (held < 40)
        return stated;
    const TDibExtent extent = DibExtent(p);
    if (extent.Colour == 0 || extent.Colour + extent.Mask <= stated || extent.Colour > left)
        return stated;
    return std::min(extent.Colour + extent.Mask, left);
}

// Checks the directory; answers the entries in file order.
std::vector<TEntry> ReadDirectory(const std::uint8_t* data, std::size_t size)
{
    if (size < DirHeaderSize)
        Invalid("en-tête tronqué");
    const std::size_t count = CheckHeader(data);
    if (size < DirHeaderSize + count * DirEntrySize)
        Invalid("répertoire tronqué");

    std::vector<TEntry> entries(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* d = data + DirHeaderSize + i * DirEntrySize;
        TEntry& e = entries[i];
        const std::uint32_t offset = GetU32LE(d + 12);
        const std::uint64_t left = offset < size ? size - offset : 0;
        const std::uint64_t bytes = EntryBytes(data + std::min<std::size_t>(offset, size), left, left, GetU32LE(d + 8));
        if (offset > size || bytes > size - offset)
            Invalid("image " + std::to_string(i + 1) + " hors du fichier");
        e.Offset = offset;
        e.Size = static_cast<std::size_t>(bytes);
        const std::uint8_t* p = data + offset;
        if (IsPng(p, bytes)) {
            e.Png = true;
            // Signature, IHDR length and type, then width, height, depth, colour type.
            if (bytes < 26)
                Invalid("image PNG tronquée");
            static constexpr unsigned Channels[7] = {1, 0, 3, 1, 2, 0, 4};
            unsigned colourType = p[25];
            e.Area = static_cast<std::uint64_t>(GetU32BE(p + 16)) * GetU32BE(p + 20);
            e.Bits = p[24] * (colourType < 7 ? Channels[colourType] : 0);
        } else {
            if (bytes < 16)
                Invalid("en-tête d'image tronqué");
            auto width = static_cast<std::int32_t>(GetU32LE(p + 4));
            auto height = static_cast<std::int32_t>(GetU32LE(p + 8));
            if (width > 0 && height > 1)
                e.Area = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height / 2);
            e.Bits = GetU16LE(p + 14);
        }
    }
    return entries;
}

// The colour image of a DIB entry with alpha from its 32 bits or its mask.
std::unique_ptr<TBitmap> DecodeDibEntry(const std::uint8_t* p, std::size_t size)
{
    if (size < 40)
        Invalid("en-tête d'image tronqué");
    std::uint32_t headerSize = GetU32LE(p);
    if (headerSize < 40 || headerSize > size)
        Invalid("en-tête d'image invalide");
    auto width = static_cast<std::int32_t>(GetU32LE(p + 4));
    auto doubledHeight = static_cast<std::int32_t>(GetU32LE(p + 8));
    unsigned bits = GetU16LE(p + 14);
    std::uint32_t compression = GetU32LE(p + 16);
    std::uint32_t clrUsed = GetU32LE(p + 32);
    if (width <= 0 || doubledHeight < 2)
        Invalid("dimensions invalides");
    if (compression != 0 && compression != 3)
        Invalid("compression non prise en charge");
    const std::int32_t height = doubledHeight / 2;
    CheckPixelBudget(width, height);

    // The colour image is the DIB with its own height.
    std::vector<std::uint8_t> dib(p, p + size);
    PutU32LE(dib.data() + 8, static_cast<std::uint32_t>(height));
    auto image = std::make_unique<TBitmap>();
    try {
        ReadDib(dib.data(), dib.size(), *image);
    } catch (const EInvalidGraphic& e) {
        std::string reason = e.Message;
        auto open = reason.find('(');
        Invalid(open != std::string::npos && reason.size() > open + 1
                    ? reason.substr(open + 1, reason.size() - open - 2)
                    : reason);
    }

    // The AND mask follows the colour rows.
    std::uint64_t tableEntries = clrUsed;
    if (bits <= 8 && tableEntries == 0)
        tableEntries = 1u << bits;
    const auto w = static_cast<std::uint64_t>(width);
    const auto h = static_cast<std::uint64_t>(height);
    std::uint64_t maskOffset = headerSize + (compression == 3 && headerSize == 40 ? 12 : 0) + tableEntries * 4 +
                               (w * bits + 31) / 32 * 4 * h;
    const std::uint64_t maskStride = (w + 31) / 32 * 4;
    // Some writers leave the mask out or cut it short: the rows that are
    // missing (counted from the top, the mask being stored bottom-up) are
    // opaque.
    const std::uint64_t maskRows = maskOffset < size ? std::min(h, (size - maskOffset) / maskStride) : 0;

    bool alpha = false;
    if (bits == 32 && image->PixelFormat() == pf32bit) {
        for (std::int32_t y = 0; y < height && !alpha; ++y) {
            const std::uint8_t* row = image->ScanLine(y);
            for (std::int32_t x = 0; x < width; ++x) {
                if (row[4 * x + 3] != 0) {
                    alpha = true;
                    break;
                }
            }
        }
    }
    if (image->PixelFormat() != pf32bit)
        image->SetPixelFormat(pf32bit);
    if (alpha)
        return image;
    for (std::int32_t y = 0; y < height; ++y) {
        const auto fromBottom = static_cast<std::uint64_t>(height - 1 - y);
        std::uint8_t* row = image->ScanLine(y);
        if (fromBottom >= maskRows) {
            for (std::int32_t x = 0; x < width; ++x)
                row[4 * x + 3] = 255;
            continue;
        }
        const std::uint8_t* mask = p + maskOffset + maskStride * fromBottom;
        for (std::int32_t x = 0; x < width; ++x) {
            bool transparent = (mask[x >> 3] >> (7 - (x & 7))) & 1;
            row[4 * x + 3] = transparent ? 0 : 255;
        }
    }
    return image;
}

// Draws a B, G, R, alpha picture stretched into rect (nearest pixel).
void DrawImage(const TBitmap& image, TCanvas& canvas, const TRect& rect)
{
    const int w = image.Width();
    const int h = image.Height();
    if (w <= 0 || h <= 0 || rect.Left == rect.Right || rect.Top == rect.Bottom)
        return;
    const bool flipX = rect.Right < rect.Left;
    const bool flipY = rect.Bottom < rect.Top;
    const int left = std::min(rect.Left, rect.Right);
    const int top = std::min(rect.Top, rect.Bottom);
    const std::int64_t rw = std::abs(static_cast<std::int64_t>(rect.Right) - rect.Left);
    const std::int64_t rh = std::abs(static_cast<std::int64_t>(rect.Bottom) - rect.Top);
    const TRect clip = canvas.ClipRect();
    const std::int64_t x0 = std::max<std::int64_t>(left, clip.Left);
    const std::int64_t x1 = std::min<std::int64_t>(left + rw, clip.Right);
    const std::int64_t y0 = std::max<std::int64_t>(top, clip.Top);
    const std::int64_t y1 = std::min<std::int64_t>(top + rh, clip.Bottom);
    for (std::int64_t dy = y0; dy < y1; ++dy) {
        std::int64_t sy = (dy - top) * h / rh;
        if (flipY)
            sy = h - 1 - sy;
        const std::uint8_t* row = image.ScanLine(static_cast<int>(sy));
        for (std::int64_t dx = x0; dx < x1; ++dx) {
            std::int64_t sx = (dx - left) * w / rw;
            if (flipX)
                sx = w - 1 - sx;
            const std::uint8_t* px = row + 4 * sx;
            const unsigned a = px[3];
            if (a == 0)
                continue;
            const int x = static_cast<int>(dx);
            const int y = static_cast<int>(dy);
            if (a == 255) {
                canvas.SetPixel(x, y, RGB(px[2], px[1], px[0]));
                continue;
            }
            // A surface that cannot answer its pixels is taken as white paper.
            TColor under = canvas.GetPixel(x, y);
            under = under < 0 ? clWhite : ColorToRGB(under);
            auto blend = [a](unsigned src, unsigned dst) { return static_cast<int>((src * a + dst * (255 - a) + 127) / 255); };
            canvas.SetPixel(x, y,
                            RGB(blend(px[2], GetRValue(under)), blend(px[1], GetGValue(under)),
                                blend(px[0], GetBValue(under))));
        }
    }
}

} // namespace

TIcon::TIcon() = default;
TIcon::~TIcon() = default;

TGraphicClass TIcon::Class()
{
    static const TGraphicClassInfo info{"TIcon", [] { return std::unique_ptr<TGraphic>(new TIcon); }};
    return &info;
}

void TIcon::Clear()
{
    FData.clear();
    FImage.reset();
    FPng.reset();
}

void TIcon::Decode(std::vector<std::uint8_t> data)
{
    std::vector<TEntry> entries = ReadDirectory(data.data(), data.size());

    TGraphicClass pngClass = TPicture::FindGraphicClass("png");
    std::vector<TEntry> usable;
    for (const TEntry& e : entries) {
        if (!e.Png || pngClass)
            usable.push_back(e);
    }
    if (usable.empty())
        Invalid("images PNG sans lecteur PNG");
    const TEntry* best = &usable.front();
    for (const TEntry& e : usable) {
        if (e.Area > best->Area || (e.Area == best->Area && e.Bits > best->Bits))
            best = &e;
    }

    const std::uint8_t* p = data.data() + best->Offset;
    std::unique_ptr<TBitmap> image;
    std::unique_ptr<TGraphic> png;
    if (best->Png) {
        CheckPixelBudget(GetU32BE(p + 16), GetU32BE(p + 20));
        png = pngClass->Create();
        TMemoryStream stream(std::vector<std::uint8_t>(p, p + best->Size));
        png->LoadFromStream(stream);
    } else {
        image = DecodeDibEntry(p, best->Size);
    }
    // Nothing changes until the whole file has been read.
    FData = std::move(data);
    FImage = std::move(image);
    FPng = std::move(png);
}

void TIcon::Draw(TCanvas& canvas, const TRect& rect)
{
    if (FPng)
        FPng->Draw(canvas, rect);
    else if (FImage)
        DrawImage(*FImage, canvas, rect);
}

bool TIcon::GetEmpty() const
{
    return !FImage && !FPng;
}

int TIcon::GetWidth() const
{
    return FPng ? FPng->Width() : FImage ? FImage->Width() : 0;
}

int TIcon::GetHeight() const
{
    return FPng ? FPng->Height() : FImage ? FImage->Height() : 0;
}

void TIcon::SetHeight(int)
{
    throw EInvalidGraphicOperation("Impossible de modifier la taille d'une icône");
}

void TIcon::SetWidth(int)
{
    throw EInvalidGraphicOperation("Impossible de modifier la taille d'une icône");
}

void TIcon::LoadFromStream(TStream& stream)
{
    const std::int64_t start = stream.Position();
    const std::int64_t available = stream.Size() - start;
    std::uint8_t header[DirHeaderSize];
    if (available < static_cast<std::int64_t>(DirHeaderSize))
        Invalid("en-tête tronqué");
    stream.ReadBuffer(header, sizeof header);
    const std::size_t count = CheckHeader(header);
    const std::size_t dirSize = DirHeaderSize + count * DirEntrySize;
    if (static_cast<std::uint64_t>(available) < dirSize)
        Invalid("répertoire tronqué");
    std::vector<std::uint8_t> directory(dirSize);
    std::memcpy(directory.data(), header, sizeof header);
    stream.ReadBuffer(directory.data() + DirHeaderSize, dirSize - DirHeaderSize);

    // The file ends with its last image.
    std::uint64_t end = dirSize;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* d = directory.data() + DirHeaderSize + i * DirEntrySize;
        std::uint64_t last = static_cast<std::uint64_t>(GetU32LE(d + 12)) + GetU32LE(d + 8);
        if (last > static_cast<std::uint64_t>(available))
            Invalid("image " + std::to_string(i + 1) + " hors du fichier");
        end = std::max(end, last);
    }
    // An entry stated smaller than its DIB header: its header is read to
    // size it, and the rest of its bitmap when the stream holds it.
    std::uint64_t headers = end;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t offset = GetU32LE(directory.data() + DirHeaderSize + i * DirEntrySize + 12);
        if (offset + 40 <= static_cast<std::uint64_t>(available))
            headers = std::max(headers, offset + 40);
    }
    std::vector<std::uint8_t> data;
    auto readTo = [&](std::uint64_t size) {
        const std::size_t had = data.size();
        try {
            data.resize(static_cast<std::size_t>(size));
        } catch (const std::bad_alloc&) {
            OutOfMemoryError();
        }
        if (data.size() > had)
            stream.ReadBuffer(data.data() + had, data.size() - had);
    };
    data = directory;
    readTo(headers);
    std::uint64_t last = end;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* d = directory.data() + DirHeaderSize + i * DirEntrySize;
        const std::uint64_t offset = GetU32LE(d + 12);
        if (offset >= data.size())
            continue;
        last = std::max(last, offset + EntryBytes(data.data() + offset, data.size() - offset,
                                                  static_cast<std::uint64_t>(available) - offset, GetU32LE(d + 8)));
    }
    // The file ends with its last image: what was read past it goes.
    if (last < data.size())
        data.resize(static_cast<std::size_t>(last));
    readTo(last);
    stream.SetPosition(start + static_cast<std::int64_t>(last));

    Decode(std::move(data));
    Changed();
}

void TIcon::SaveToStream(TStream& stream) const
{
    if (!FData.empty())
        stream.WriteBuffer(FData.data(), FData.size());
}

void TIcon::Assign(const TPersistent& source)
{
    if (const auto* icon = dynamic_cast<const TIcon*>(&source)) {
        if (icon == this)
            return;
        if (icon->FData.empty())
            Clear();
        else
            Decode(icon->FData);
        Changed();
        return;
    }
    TGraphic::Assign(source);
}

void TIcon::AssignTo(TPersistent& dest) const
{
    if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
        bitmap->SetSize(0, 0);
        bitmap->SetPixelFormat(pf24bit);
        bitmap->SetSize(GetWidth(), GetHeight());
        const TRect r{0, 0, GetWidth(), GetHeight()};
        if (FPng)
            FPng->Draw(bitmap->Canvas(), r);
        else if (FImage)
            DrawImage(*FImage, bitmap->Canvas(), r);
        return;
    }
    TGraphic::AssignTo(dest);
}
