// Truevision Targa: reading colour-mapped, true-colour and grey files, plain
// or run-length encoded, and writing run-length encoded files.

#include "ImageReaders.h"
#include "ReaderCompression.h"
#include "ReaderSupport.h"

#include "AtomicFile.h"
#include "ByteOrder.h"
#include "Exceptions.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const InvalidImage = "Targa: invalid image";
const char* const ConversionQuestion = "Targa image: 1 or 4 bit color depth not allowed. Convert to 256 colors?";

enum TargaType : std::uint8_t {
    ttMapped = 1,
    ttTrueColor = 2,
    ttGrey = 3,
    ttMappedRLE = 9,
    ttTrueColorRLE = 10,
    ttGreyRLE = 11,
};

struct TargaHeader {
    std::uint8_t IdLength = 0;
    std::uint8_t ColorMapType = 0;
    std::uint8_t ImageType = 0;
    std::uint16_t FirstEntry = 0;
    std::uint16_t MapLength = 0;
    std::uint8_t EntrySize = 0;
    std::uint16_t Width = 0;
    std::uint16_t Height = 0;
    std::uint8_t Depth = 0;
    std::uint8_t Descriptor = 0;
};

TargaHeader ParseHeader(const std::uint8_t* p)
{
    TargaHeader h;
    h.IdLength = p[0];
    h.ColorMapType = p[1];
    h.ImageType = p[2];
    h.FirstEntry = GetU16LE(p + 3);
    h.MapLength = GetU16LE(p + 5);
    h.EntrySize = p[7];
    h.Width = GetU16LE(p + 12);
    h.Height = GetU16LE(p + 14);
    h.Depth = p[16];
    h.Descriptor = p[17];
    return h;
}

TPalette GreyPalette()
{
    TPalette p(256);
    for (int k = 0; k < 256; ++k)
        p[static_cast<std::size_t>(k)] = TPaletteEntry{static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k),
                                                        static_cast<std::uint8_t>(k), 0};
    return p;
}

// Reverses the order of count pixels of pixelBytes bytes each.
void ReversePixels(std::uint8_t* row, std::size_t count, std::size_t pixelBytes)
{
    for (std::size_t a = 0, b = count; a + 1 < b; ++a, --b)
        std::swap_ranges(row + a * pixelBytes, row + (a + 1) * pixelBytes, row + (b - 1) * pixelBytes);
}

// Reads the colour map: 24-bit entries blue, green, red; 32-bit the same and
// a byte left out; 15- and 16-bit entries five bits a component. The map's
// first entry belongs to pixel value FirstEntry, so the palette starts with
// that many black entries; pixel values outside the map show black. Entries
// for values past 255 are read over.
TPalette ReadColorMap(TStream& stream, const TargaHeader& h)
{
    if (h.MapLength == 0)
        return {}; // an empty map, whatever its entry size says
    std::size_t entryBytes = 0;
    switch (h.EntrySize) {
    case 15:
    case 16:
        entryBytes = 2;
        break;
    case 24:
        entryBytes = 3;
        break;
    case 32:
        entryBytes = 4;
        break;
    default:
        throw Exception("Targa: colour map entries of " + std::to_string(h.EntrySize) + " bits cannot be read.");
    }
    std::vector<std::uint8_t> raw = MakeBuffer(entryBytes * h.MapLength);
    if (ReadUpTo(stream, raw.data(), raw.size()) != raw.size())
        throw Exception(InvalidImage);
    const std::size_t first = std::min<std::size_t>(h.FirstEntry, MaxPaletteEntries);
    TPalette palette(first, TPaletteEntry{0, 0, 0, 0});
    for (std::size_t k = 0; k < std::min<std::size_t>(h.MapLength, MaxPaletteEntries - first); ++k) {
        const std::uint8_t* e = raw.data() + k * entryBytes;
        if (entryBytes == 2) {
            const unsigned v = GetU16LE(e);
            palette.push_back(TPaletteEntry{static_cast<std::uint8_t>((v & 0x7C00) >> 7),
                                            static_cast<std::uint8_t>((v & 0x03E0) >> 2),
                                            static_cast<std::uint8_t>((v & 0x1F) << 3), 0});
        } else {
            palette.push_back(TPaletteEntry{e[2], e[1], e[0], 0});
        }
    }
    return palette;
}

// Writes the bitmap as a run-length Targa file; pixels is 8-, 15-, 24- or
// 32-bit.
void WriteTarga(TStream& stream, const TBitmap& pixels, const std::string& imageId)
{
    const std::size_t bpp = static_cast<std::size_t>(pixels.BitsPerPixel() + 7) / 8;
    const int width = pixels.Width(), height = pixels.Height();
    if (width > 0xFFFF || height > 0xFFFF)
        throw Exception("Targa: pictures larger than 65535 pixels a side cannot be saved.");
    const std::string id = imageId.substr(0, 255);
    std::uint8_t header[18] = {};
    header[0] = static_cast<std::uint8_t>(id.size());
    header[1] = bpp == 1 ? 1 : 0;
    header[2] = bpp == 1 ? ttMappedRLE : ttTrueColorRLE;
    PutU16LE(header + 5, 256);
    header[7] = 24;
    PutU16LE(header + 12, static_cast<std::uint32_t>(width));
    PutU16LE(header + 14, static_cast<std::uint32_t>(height));
    header[16] = static_cast<std::uint8_t>(8 * bpp);
    header[17] = 0x20;
    auto write = [&](const void* data, std::size_t size) {
        if (stream.Write(data, size) != size)
            throw Exception("Targa: could not write image data");
    };
    write(header, sizeof header);
    if (!id.empty())
        write(id.data(), id.size());
    if (bpp == 1) {
        std::uint8_t map[256 * 3] = {};
        const TPalette& palette = pixels.GetPalette();
        for (std::size_t k = 0; k < std::min<std::size_t>(palette.size(), 256); ++k) {
            map[3 * k] = palette[k].peBlue;
            map[3 * k + 1] = palette[k].peGreen;
            map[3 * k + 2] = palette[k].peRed;
        }
        write(map, sizeof map);
    }
    std::vector<std::uint8_t> packed = MakeBuffer(2 * static_cast<std::size_t>(width) * bpp + 2);
    for (int y = 0; y < height; ++y) {
        const std::size_t n = EncodeTargaRLE(pixels.ScanLine(y), packed.data(), static_cast<std::size_t>(width), bpp);
        write(packed.data(), n);
    }
}

// The bitmap in a format Targa stores: 1- and 4-bit pictures go to 8 bits
// when the user agrees, 16-bit 5-6-5 pictures to 15 bits. Answers source
// itself, or converted holding the converted copy, or null when nothing is
// to be written (an empty picture, a declined conversion).
const TBitmap* PixelsForTarga(const TBitmap& source, TBitmap& converted)
{
    if (source.Empty())
        return nullptr;
    TPixelFormat target;
    switch (source.PixelFormat()) {
    case pf1bit:
    case pf4bit:
        if (TTargaGraphic::ConfirmConversion && !TTargaGraphic::ConfirmConversion(ConversionQuestion))
            return nullptr;
        target = pf8bit;
        break;
    case pf16bit:
        target = pf15bit;
        break;
    case pf8bit:
    case pf15bit:
    case pf24bit:
    case pf32bit:
        return &source;
    default:
        target = pf24bit;
        break;
    }
    converted.Assign(source);
    converted.SetPixelFormat(target);
    return &converted;
}

} // namespace

std::function<bool(const std::string&)> TTargaGraphic::ConfirmConversion;

void TTargaGraphic::LoadFromStream(TStream& stream)
{
    SetSize(0, 0);
    std::uint8_t raw[18];
    if (ReadUpTo(stream, raw, sizeof raw) != sizeof raw)
        throw Exception(InvalidImage);
    const TargaHeader h = ParseHeader(raw);
    ImageID.assign(h.IdLength, '\0');
    if (ReadUpTo(stream, reinterpret_cast<std::uint8_t*>(ImageID.data()), h.IdLength) != h.IdLength)
        throw Exception(InvalidImage);

    TPixelFormat format;
    switch (h.Depth) {
    case 8:
        format = pf8bit;
        break;
    case 15:
    case 16:
        format = pf15bit;
        break;
    case 24:
        format = pf24bit;
        break;
    case 32:
        format = pf32bit;
        break;
    default:
        throw Exception("Targa: pixel depth " + std::to_string(h.Depth) + " cannot be read.");
    }
    const bool grey = h.ImageType == ttGrey || h.ImageType == ttGreyRLE;
    const bool mapped = h.ImageType == ttMapped || h.ImageType == ttMappedRLE;
    const bool rle = h.ImageType >= ttMappedRLE && h.ImageType <= ttGreyRLE;
    const bool known = rle || (h.ImageType >= ttMapped && h.ImageType <= ttGrey);
    if (!known)
        throw Exception("Targa: image type " + std::to_string(h.ImageType) + " cannot be read.");
    // Grey with an alpha byte a pixel (grey first) shows its grey.
    const bool greyAlpha = grey && h.Depth == 16;
    if (greyAlpha)
        format = pf8bit;
    if ((mapped || grey) && format != pf8bit)
        throw Exception("Targa: colour-mapped and grey images of " + std::to_string(h.Depth) +
                        " bits a pixel cannot be read.");

    TPalette palette;
    if (h.ColorMapType == 1)
        palette = ReadColorMap(stream, h); // read over also when grey
    if (grey)
        palette = GreyPalette();
    else if (mapped && h.ColorMapType != 1)
        palette = DefaultPaletteFor(pf8bit); // the indices stand; their colours were never stored
    else if (format == pf8bit && palette.empty())
        palette = GreyPalette();

    const std::size_t bpp = TargaBytesPerPixel(h.Depth);
    // The picture is made only when the rest of the file could hold it: all
    // its bytes when plain; when run-length, a packet of one header byte
    // and one pixel gives at most 128 pixels.
    const std::uint64_t pixelCount = std::uint64_t{h.Width} * h.Height;
    if (rle)
        CheckEncodable(stream, pixelCount * (1 + bpp), 128, InvalidImage);
    else
        CheckEncodable(stream, pixelCount * bpp, 1, InvalidImage);
    PrepareBitmap(*this, format, h.Width, h.Height, palette, InvalidImage);
    const std::size_t rowSize = static_cast<std::size_t>(h.Width) * bpp;
    const bool topDown = (h.Descriptor & 0x20) != 0;
    const bool rightToLeft = (h.Descriptor & 0x10) != 0;
    auto bitmapRow = [&](int k) { return ScanLine(topDown ? k : h.Height - 1 - k); };
    // Rows stored from the right are turned round once read; a row read in
    // part keeps its pixels on the right, the white rest on the left.
    const std::size_t bitmapPixelBytes = static_cast<std::size_t>(BitsPerPixel()) / 8;
    auto turnRow = [&](int k) {
        if (rightToLeft)
            ReversePixels(bitmapRow(k), h.Width, bitmapPixelBytes);
    };
    // Grey and alpha pairs are read into a row of their own, and their grey
    // bytes (as far as the row was read) go into the bitmap.
    std::vector<std::uint8_t> pairs;
    if (greyAlpha)
        pairs = MakeBuffer(rowSize);
    auto fileRow = [&](int k) { return greyAlpha ? pairs.data() : bitmapRow(k); };
    auto keepGrey = [&](int k, std::size_t bytes) {
        if (!greyAlpha)
            return;
        std::uint8_t* line = bitmapRow(k);
        for (std::size_t x = 0; x < bytes / 2; ++x)
            line[x] = pairs[2 * x];
    };

    if (!rle) {
        for (int k = 0; k < h.Height; ++k) {
            const std::size_t got = ReadUpTo(stream, fileRow(k), rowSize);
            keepGrey(k, got);
            turnRow(k);
            if (got != rowSize)
                throw Exception(InvalidImage);
        }
    } else {
        // A packet may run over the end of a row into the next one: the
        // decoder carries it. No row needs more than twice its size of data.
        TTargaRLEReader decoder(h.Depth);
        std::vector<std::uint8_t> packed = MakeBuffer(2 * rowSize);
        for (int k = 0; k < h.Height; ++k) {
            const std::size_t got = ReadUpTo(stream, packed.data(), packed.size());
            const std::size_t used = decoder.Decode(packed.data(), got, fileRow(k), rowSize);
            stream.Seek(-static_cast<std::int64_t>(got - used), soCurrent);
            keepGrey(k, decoder.Written());
            turnRow(k);
            if (decoder.Written() < rowSize)
                break; // the data ends here; the rest stays white
        }
    }
    Changed();
}

void TTargaGraphic::SaveToStream(TStream& stream) const
{
    TBitmap converted;
    if (const TBitmap* pixels = PixelsForTarga(*this, converted))
        WriteTarga(stream, *pixels, ImageID);
}

void TTargaGraphic::SaveToFile(const std::string& fileName) const
{
    // Nothing to write leaves the file as it was.
    TBitmap converted;
    if (const TBitmap* pixels = PixelsForTarga(*this, converted))
        AtomicWriteFile(fileName, [&](TStream& stream) { WriteTarga(stream, *pixels, ImageID); });
}
