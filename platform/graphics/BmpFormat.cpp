// BMP files and device-independent bitmaps: reading every common variant
// (OS/2 core and Windows info headers up to version 5, 1 to 32 bits per
// pixel, RLE4, RLE8 and bit fields) and writing the plain Windows form.

#include "Bitmap.h"
#include "ByteOrder.h"
#include "Exceptions.h"
#include "Streams.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <string>

namespace {

constexpr const char* BadBitmap = "L'image bitmap n'est pas valide";

[[noreturn]] void Invalid(const std::string& reason)
{
    throw EInvalidGraphic(std::string(BadBitmap) + " (" + reason + ")");
}

constexpr std::uint32_t BI_RGB = 0;
constexpr std::uint32_t BI_RLE8 = 1;
constexpr std::uint32_t BI_RLE4 = 2;
constexpr std::uint32_t BI_BITFIELDS = 3;
constexpr std::uint32_t BI_JPEG = 4;
constexpr std::uint32_t BI_PNG = 5;
constexpr std::uint32_t BI_ALPHABITFIELDS = 6;

constexpr std::size_t FileHeaderSize = 14;
constexpr std::size_t CoreHeaderSize = 12;
constexpr std::size_t InfoHeaderSize = 40;
constexpr std::size_t Os2HeaderSize = 64;
constexpr std::size_t MaxHeaderSize = 124;

// A read-only stream over bytes owned by the caller, so that a DIB in memory
// goes through the same reader as a file.
class TByteStream : public TStream {
public:
    TByteStream(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}

    std::size_t Read(void* buffer, std::size_t count) override
    {
        if (FPos >= FSize)
            return 0;
        std::size_t n = std::min(count, FSize - FPos);
        if (n > 0)
            std::memcpy(buffer, FData + FPos, n);
        FPos += n;
        return n;
    }
    std::size_t Write(const void*, std::size_t) override { return 0; }
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override
    {
        std::int64_t base = origin == soBeginning ? 0
                            : origin == soCurrent ? static_cast<std::int64_t>(FPos)
                                                  : static_cast<std::int64_t>(FSize);
        std::int64_t pos = base + offset;
        FPos = pos < 0 ? 0 : static_cast<std::size_t>(pos);
        return static_cast<std::int64_t>(FPos);
    }
    std::int64_t Size() override { return static_cast<std::int64_t>(FSize); }

private:
    const std::uint8_t* FData;
    std::size_t FSize;
    std::size_t FPos = 0;
};

// Reads count bytes or raises the truncation error.
void ReadExact(TStream& stream, void* buffer, std::size_t count, const char* reason = "données tronquées")
{
    auto* p = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        std::size_t n = stream.Read(p + done, count - done);
        if (n == 0)
            Invalid(reason);
        done += n;
    }
}

// What the info header says, in one form for every header version.
struct TDibHeader {
    std::size_t HeaderSize = 0;
    std::int64_t Width = 0;
    std::int64_t Height = 0; // always positive; TopDown tells the order
    bool TopDown = false;
    unsigned Bits = 0;
    std::uint32_t Compression = BI_RGB;
    std::uint32_t ClrUsed = 0;
    std::array<std::uint32_t, 4> Masks{}; // red, green, blue, alpha
    bool HasMasks = false;
    std::size_t MaskBytesAfter = 0; // masks stored after a 40-byte header
    std::size_t EntrySize = 4;      // bytes of one colour table entry
};

bool KnownHeaderSize(std::uint32_t size)
{
    switch (size) {
    case 12:
    case 40:
    case 52:
    case 56:
    case 64:
    case 108:
    case 124:
        return true;
    default:
        return false;
    }
}

// Reads and checks the info header at the stream's position.
TDibHeader ReadHeader(TStream& stream)
{
    std::uint8_t buf[MaxHeaderSize] = {};
    ReadExact(stream, buf, 4, "en-tête tronqué");
    std::uint32_t size = GetU32LE(buf);
    if (!KnownHeaderSize(size))
        Invalid("taille d'en-tête inconnue (" + std::to_string(size) + ")");
    ReadExact(stream, buf + 4, size - 4, "en-tête tronqué");

    TDibHeader h;
    h.HeaderSize = size;
    unsigned planes;
    if (size == CoreHeaderSize) {
        h.Width = GetU16LE(buf + 4);
        h.Height = GetU16LE(buf + 6);
        planes = GetU16LE(buf + 8);
        h.Bits = GetU16LE(buf + 10);
        h.EntrySize = 3;
    } else {
        auto width = static_cast<std::int32_t>(GetU32LE(buf + 4));
        auto height = static_cast<std::int32_t>(GetU32LE(buf + 8));
        planes = GetU16LE(buf + 12);
        h.Bits = GetU16LE(buf + 14);
        h.Compression = GetU32LE(buf + 16);
        h.ClrUsed = GetU32LE(buf + 32);
        if (width < 0)
            Invalid("largeur négative");
        if (height == std::numeric_limits<std::int32_t>::min())
            Invalid("hauteur invalide");
        h.Width = width;
        h.TopDown = height < 0;
        h.Height = height < 0 ? -static_cast<std::int64_t>(height) : height;
        if (size >= 52 && size != Os2HeaderSize) {
            h.Masks[0] = GetU32LE(buf + 40);
            h.Masks[1] = GetU32LE(buf + 44);
            h.Masks[2] = GetU32LE(buf + 48);
            if (size >= 56)
                h.Masks[3] = GetU32LE(buf + 52);
        }
    }
    if (planes != 1)
        Invalid("nombre de plans invalide (" + std::to_string(planes) + ")");

    switch (h.Compression) {
    case BI_RGB:
        break;
    case BI_RLE8:
        if (h.Bits != 8)
            Invalid("compression RLE8 avec " + std::to_string(h.Bits) + " bits par pixel");
        break;
    case BI_RLE4:
        if (h.Bits != 4)
            Invalid("compression RLE4 avec " + std::to_string(h.Bits) + " bits par pixel");
        break;
    case BI_BITFIELDS:
    case BI_ALPHABITFIELDS:
        if (size == Os2HeaderSize)
            Invalid("compression OS/2 non prise en charge");
        if (h.Bits != 16 && h.Bits != 32)
            Invalid("masques de couleurs avec " + std::to_string(h.Bits) + " bits par pixel");
        h.HasMasks = true;
        if (size == InfoHeaderSize)
            h.MaskBytesAfter = h.Compression == BI_ALPHABITFIELDS ? 16 : 12;
        break;
    case BI_JPEG:
        Invalid(size == Os2HeaderSize ? "compression OS/2 non prise en charge"
                                      : "compression JPEG non prise en charge");
    case BI_PNG:
        Invalid("compression PNG non prise en charge");
    default:
        Invalid("compression inconnue (" + std::to_string(h.Compression) + ")");
    }
    switch (h.Bits) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        break;
    default:
        Invalid("nombre de bits par pixel invalide (" + std::to_string(h.Bits) + ")");
    }
    if (h.TopDown && (h.Compression == BI_RLE8 || h.Compression == BI_RLE4))
        Invalid("image compressée enregistrée de haut en bas");

    if (h.MaskBytesAfter > 0) {
        std::uint8_t masks[16];
        ReadExact(stream, masks, h.MaskBytesAfter, "masques de couleurs tronqués");
        for (std::size_t i = 0; i < h.MaskBytesAfter / 4; ++i)
            h.Masks[i] = GetU32LE(masks + 4 * i);
    }
    return h;
}

// One colour channel of a bit-field pixel, widened to 8 bits by repeating
// its bits.
struct TChannel {
    std::uint32_t Mask = 0;
    unsigned Shift = 0;
    unsigned Drop = 0; // low bits dropped from channels wider than 8 bits
    std::array<std::uint8_t, 256> Expand{};

    explicit TChannel(std::uint32_t mask) : Mask(mask)
    {
        if (mask == 0)
            return;
        Shift = static_cast<unsigned>(std::countr_zero(mask));
        std::uint32_t bits = mask >> Shift;
        if ((bits & (bits + 1)) != 0)
            Invalid("masques de couleurs non contigus");
        auto width = static_cast<unsigned>(std::popcount(bits));
        Drop = width > 8 ? width - 8 : 0;
        unsigned w = width - Drop;
        for (unsigned v = 0; v < (1u << w); ++v) {
            unsigned out = 0;
            int pos = 8;
            while (pos > 0) {
                pos -= static_cast<int>(w);
                out |= pos >= 0 ? v << pos : v >> -pos;
            }
            Expand[v] = static_cast<std::uint8_t>(out);
        }
    }
    std::uint8_t operator()(std::uint32_t pixel) const { return Expand[((pixel & Mask) >> Shift) >> Drop]; }
};

// Zero the bits of a 16-bit mask outside the pixel.
std::array<std::uint32_t, 3> ColourMasks(const TDibHeader& h)
{
    if (!h.HasMasks) {
        if (h.Bits == 16)
            return {0x7C00, 0x03E0, 0x001F};
        return {0x00FF0000, 0x0000FF00, 0x000000FF};
    }
    std::uint32_t keep = h.Bits == 16 ? 0xFFFF : 0xFFFFFFFF;
    return {h.Masks[0] & keep, h.Masks[1] & keep, h.Masks[2] & keep};
}

// How the rows of the file become rows of the bitmap.
enum class TRowCopy { Direct, Mask15, Expand };

// RLE8 and RLE4: unwritten pixels stay index 0, runs are clipped to the
// picture. Answers how many bytes of data were used.
std::size_t DecodeRle(const std::uint8_t* data, std::size_t size, const TDibHeader& h, TBitmap& bitmap)
{
    const auto width = static_cast<std::size_t>(h.Width);
    const auto height = static_cast<std::size_t>(h.Height);
    const bool four = h.Compression == BI_RLE4;
    std::size_t x = 0;
    std::size_t y = 0; // counted from the bottom row
    std::size_t pos = 0;
    std::uint8_t* row = height > 0 ? bitmap.ScanLine(static_cast<int>(height - 1)) : nullptr;

    auto moveTo = [&](std::size_t newY) {
        y = newY;
        row = y < height ? bitmap.ScanLine(static_cast<int>(height - 1 - y)) : nullptr;
    };
    auto put = [&](std::size_t px, std::uint8_t index) {
        if (four) {
            std::uint8_t& b = row[px >> 1];
            b = (px & 1) ? static_cast<std::uint8_t>((b & 0xF0) | (index & 0x0F))
                         : static_cast<std::uint8_t>((b & 0x0F) | (index << 4));
        } else {
            row[px] = index;
        }
    };

    for (;;) {
        if (size - pos < 2) {
            if (y >= height)
                return pos; // every row is complete: a missing end mark does no harm
            Invalid("données RLE tronquées");
        }
        std::uint8_t count = data[pos];
        std::uint8_t value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            if (row && x < width) {
                std::size_t n = std::min<std::size_t>(count, width - x);
                if (four) {
                    for (std::size_t i = 0; i < n; ++i)
                        put(x + i, (i & 1) ? (value & 0x0F) : (value >> 4));
                } else {
                    std::memset(row + x, value, n);
                }
            }
            x += count;
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            moveTo(y + 1);
            break;
        case 1: // end of bitmap
            return pos;
        case 2: // delta
            if (size - pos < 2)
                Invalid("données RLE tronquées");
            x += data[pos];
            moveTo(y + data[pos + 1]);
            pos += 2;
            break;
        default: { // absolute run of `value` pixels, padded to a word
            std::size_t bytes = four ? (value + 1u) / 2 : value;
            if (size - pos < bytes)
                Invalid("données RLE tronquées");
            const std::uint8_t* src = data + pos;
            if (row && x < width) {
                std::size_t n = std::min<std::size_t>(value, width - x);
                for (std::size_t i = 0; i < n; ++i) {
                    std::uint8_t index = four ? ((i & 1) ? (src[i >> 1] & 0x0F) : (src[i >> 1] >> 4)) : src[i];
                    put(x + i, index);
                }
            }
            x += value;
            pos += std::min(size - pos, (bytes + 1) & ~std::size_t{1});
            break;
        }
        }
    }
}

// Reads the DIB at the stream's position. fileStart is where the file header
// began (the origin of offBits); offBits 0 means the pixels follow the colour
// table, as in a DIB without file header.
void ReadDibFrom(TStream& stream, std::int64_t fileStart, std::uint32_t offBits, TBitmap& bitmap)
{
    const std::int64_t streamEnd = stream.Size();
    TDibHeader h = ReadHeader(stream);
    // A picture of no size at all is no picture (one side of 0 still says
    // how large the other is, and loads empty).
    if (h.Width == 0 && h.Height == 0)
        Invalid("image vide de 0 x 0 pixels");
    const std::int64_t tableStart = stream.Position();

    // Colour table: biClrUsed entries (0: all of them for 8 bits and fewer).
    std::uint64_t tableEntries = h.ClrUsed;
    if (h.HeaderSize == CoreHeaderSize || (h.Bits <= 8 && tableEntries == 0))
        tableEntries = h.Bits <= 8 ? (1u << h.Bits) : 0;
    std::int64_t pixelStart;
    std::uint64_t paletteEntries = h.Bits <= 8 ? std::min<std::uint64_t>(tableEntries, 1u << h.Bits) : 0;
    if (offBits != 0) {
        pixelStart = fileStart + offBits;
        if (pixelStart < tableStart)
            Invalid("décalage des pixels dans l'en-tête");
        // A table whose size the header states must lie before the pixels:
        // pixels that would start inside it are its own bytes. A table of
        // implied size may be cut short by the offset, as writers do.
        if (h.HeaderSize != CoreHeaderSize && h.ClrUsed != 0 && h.Bits <= 8 &&
            static_cast<std::uint64_t>(pixelStart - tableStart) < paletteEntries * h.EntrySize)
            Invalid("décalage des pixels dans la table des couleurs");
        paletteEntries = std::min<std::uint64_t>(paletteEntries,
                                                 static_cast<std::uint64_t>(pixelStart - tableStart) / h.EntrySize);
    } else {
        std::uint64_t tableBytes = tableEntries * h.EntrySize;
        if (tableBytes > static_cast<std::uint64_t>(streamEnd - tableStart))
            Invalid("table des couleurs tronquée");
        pixelStart = tableStart + static_cast<std::int64_t>(tableBytes);
    }
    if (pixelStart > streamEnd)
        Invalid("décalage des pixels au-delà de la fin des données");
    paletteEntries = std::min<std::uint64_t>(paletteEntries,
                                             static_cast<std::uint64_t>(streamEnd - tableStart) / h.EntrySize);

    TPixelFormat format = pf24bit;
    TRowCopy copy = TRowCopy::Direct;
    std::array<std::uint32_t, 3> masks = ColourMasks(h);
    switch (h.Bits) {
    case 1:
        format = pf1bit;
        break;
    case 4:
        format = pf4bit;
        break;
    case 8:
        format = pf8bit;
        break;
    case 16:
        if (masks == std::array<std::uint32_t, 3>{0x7C00, 0x03E0, 0x001F}) {
            format = pf15bit;
            copy = TRowCopy::Mask15;
        } else if (masks == std::array<std::uint32_t, 3>{0xF800, 0x07E0, 0x001F}) {
            format = pf16bit;
        } else {
            copy = TRowCopy::Expand;
        }
        break;
    case 24:
        break;
    case 32:
        if (masks == std::array<std::uint32_t, 3>{0x00FF0000, 0x0000FF00, 0x000000FF})
            format = pf32bit;
        else
            copy = TRowCopy::Expand;
        break;
    }
    // Checks the masks before any pixel is touched.
    const TChannel red(copy == TRowCopy::Expand ? masks[0] : 0);
    const TChannel green(copy == TRowCopy::Expand ? masks[1] : 0);
    const TChannel blue(copy == TRowCopy::Expand ? masks[2] : 0);

    CheckPixelBudget(h.Width, h.Height);
    const auto width = static_cast<std::size_t>(h.Width);
    const auto height = static_cast<std::size_t>(h.Height);
    const bool rle = h.Compression == BI_RLE8 || h.Compression == BI_RLE4;
    const std::size_t srcStride = (width * h.Bits + 31) / 32 * 4;
    const std::size_t rowUsed = (width * h.Bits + 7) / 8;
    const auto available = static_cast<std::uint64_t>(streamEnd - pixelStart);
    if (!rle && height > 0 && width > 0 && available < srcStride * (height - 1) + rowUsed)
        Invalid("données tronquées");

    TPalette palette;
    if (paletteEntries > 0) {
        stream.SetPosition(tableStart);
        std::vector<std::uint8_t> table(static_cast<std::size_t>(paletteEntries) * h.EntrySize);
        ReadExact(stream, table.data(), table.size(), "table des couleurs tronquée");
        palette.resize(static_cast<std::size_t>(paletteEntries));
        for (std::size_t i = 0; i < palette.size(); ++i) {
            const std::uint8_t* e = &table[i * h.EntrySize];
            palette[i] = TPaletteEntry{e[2], e[1], e[0], 0};
        }
    } else if (h.Bits <= 8) {
        palette = DefaultPaletteFor(format);
    }

    bitmap.SetSize(0, 0);
    bitmap.SetPixelFormat(format);
    try {
        bitmap.SetSize(static_cast<int>(width), static_cast<int>(height));
        if (h.Bits <= 8)
            bitmap.SetPalette(palette);
        if (width == 0 || height == 0)
            return;
        stream.SetPosition(pixelStart);

        if (rle) {
            for (std::size_t y = 0; y < height; ++y)
                std::memset(bitmap.ScanLine(static_cast<int>(y)), 0, bitmap.RowStride());
            std::vector<std::uint8_t> data(static_cast<std::size_t>(available));
            ReadExact(stream, data.data(), data.size());
            std::size_t used = DecodeRle(data.data(), data.size(), h, bitmap);
            stream.SetPosition(pixelStart + static_cast<std::int64_t>(used));
            return;
        }

        // Rows the bitmap stores as they are in the file are read in place.
        const bool inPlace = copy != TRowCopy::Expand && bitmap.RowStride() >= srcStride;
        std::vector<std::uint8_t> buffer(inPlace ? 0 : srcStride);
        for (std::size_t i = 0; i < height; ++i) {
            std::size_t y = h.TopDown ? i : height - 1 - i;
            std::uint8_t* row = bitmap.ScanLine(static_cast<int>(y));
            std::uint8_t* src = buffer.empty() ? row : buffer.data();
            // The padding of the last row may be missing from the file.
            std::size_t n = i + 1 < height ? srcStride : std::min<std::uint64_t>(srcStride, available - srcStride * i);
            ReadExact(stream, src, n);
            if (n < srcStride)
                std::memset(src + n, 0, srcStride - n);
            if (copy != TRowCopy::Expand && src != row)
                std::memcpy(row, src, std::min(srcStride, bitmap.RowStride()));
            if (copy == TRowCopy::Mask15) {
                for (std::size_t x = 0; x < width; ++x)
                    row[2 * x + 1] &= 0x7F;
            } else if (copy == TRowCopy::Expand) {
                std::uint8_t* out = row;
                if (h.Bits == 16) {
                    for (std::size_t x = 0; x < width; ++x, out += 3) {
                        std::uint32_t px = GetU16LE(src + 2 * x);
                        out[0] = blue(px);
                        out[1] = green(px);
                        out[2] = red(px);
                    }
                } else {
                    for (std::size_t x = 0; x < width; ++x, out += 3) {
                        std::uint32_t px = GetU32LE(src + 4 * x);
                        out[0] = blue(px);
                        out[1] = green(px);
                        out[2] = red(px);
                    }
                }
            }
        }
    } catch (...) {
        bitmap.SetSize(0, 0);
        throw;
    }
}

// The DIB of a bitmap: BITMAPINFOHEADER, masks of 16-bit pictures, colour
// table, bottom-up rows. fileHeader reserves 14 bytes in front.
std::vector<std::uint8_t> BuildDib(const TBitmap& source, bool fileHeader)
{
    const TBitmap* bitmap = &source;
    TBitmap converted;
    TPixelFormat format = source.PixelFormat();
    if (format == pfDevice || format == pfCustom) {
        converted.Assign(source);
        converted.SetPixelFormat(pf24bit);
        bitmap = &converted;
        format = pf24bit;
    }
    const int bits = BitsPerPixel(format);
    const auto width = static_cast<std::size_t>(bitmap->Width());
    const auto height = static_cast<std::size_t>(bitmap->Height());
    const std::size_t stride = BytesPerScanline(width, bits);

    TPalette palette;
    if (bits <= 8) {
        palette = bitmap->GetPalette();
        if (palette.empty())
            palette = DefaultPaletteFor(format);
        if (palette.size() > (1u << bits))
            palette.resize(1u << bits);
    }
    const std::size_t maskBytes = format == pf16bit ? 12 : 0;
    const std::size_t prefix = (fileHeader ? FileHeaderSize : 0) + InfoHeaderSize + maskBytes + palette.size() * 4;
    const std::size_t imageSize = stride * height;

    std::vector<std::uint8_t> out;
    try {
        out.assign(prefix + imageSize, 0);
    } catch (const std::bad_alloc&) {
        OutOfMemoryError();
    }
    std::uint8_t* p = out.data();
    if (fileHeader) {
        p[0] = 'B';
        p[1] = 'M';
        PutU32LE(p + 2, static_cast<std::uint32_t>(std::min<std::size_t>(out.size(), 0xFFFFFFFF)));
        PutU32LE(p + 10, static_cast<std::uint32_t>(prefix));
        p += FileHeaderSize;
    }
    PutU32LE(p, InfoHeaderSize);
    PutU32LE(p + 4, static_cast<std::uint32_t>(width));
    PutU32LE(p + 8, static_cast<std::uint32_t>(height));
    PutU16LE(p + 12, 1);
    PutU16LE(p + 14, static_cast<std::uint32_t>(bits));
    PutU32LE(p + 16, format == pf16bit ? BI_BITFIELDS : BI_RGB);
    PutU32LE(p + 20, static_cast<std::uint32_t>(std::min<std::size_t>(imageSize, 0xFFFFFFFF)));
    PutU32LE(p + 32, static_cast<std::uint32_t>(palette.size()));
    p += InfoHeaderSize;
    if (format == pf16bit) {
        PutU32LE(p, 0xF800);
        PutU32LE(p + 4, 0x07E0);
        PutU32LE(p + 8, 0x001F);
        p += 12;
    }
    for (const TPaletteEntry& e : palette) {
        p[0] = e.peBlue;
        p[1] = e.peGreen;
        p[2] = e.peRed;
        p[3] = 0;
        p += 4;
    }
    const std::size_t rowBytes = std::min(stride, bitmap->RowStride());
    for (std::size_t i = 0; i < height && rowBytes > 0; ++i) {
        const std::uint8_t* row = bitmap->ScanLine(static_cast<int>(height - 1 - i));
        std::memcpy(p, row, rowBytes);
        if (format == pf32bit) {
            for (std::size_t x = 0; x < width; ++x)
                p[4 * x + 3] = 0;
        } else if (format == pf15bit) {
            for (std::size_t x = 0; x < width; ++x)
                p[2 * x + 1] &= 0x7F;
        }
        p += stride;
    }
    return out;
}

} // namespace

void ReadBmp(TStream& stream, TBitmap& bitmap)
{
    const std::int64_t start = stream.Position();
    std::uint8_t header[FileHeaderSize];
    ReadExact(stream, header, sizeof header, "en-tête de fichier tronqué");
    if (header[0] != 'B' || header[1] != 'M')
        Invalid("signature BM absente");
    std::uint32_t offBits = GetU32LE(header + 10);
    // Zero would mean "after the colour table", which only a DIB may say.
    if (offBits == 0)
        Invalid("décalage des pixels nul");
    ReadDibFrom(stream, start, offBits, bitmap);
}

void WriteBmp(TStream& stream, const TBitmap& bitmap)
{
    std::vector<std::uint8_t> data = BuildDib(bitmap, true);
    stream.WriteBuffer(data.data(), data.size());
}

void ReadDib(const std::uint8_t* data, std::size_t size, TBitmap& bitmap)
{
    TByteStream stream(data, size);
    ReadDibFrom(stream, 0, 0, bitmap);
}

std::vector<std::uint8_t> WriteDib(const TBitmap& bitmap)
{
    return BuildDib(bitmap, false);
}
