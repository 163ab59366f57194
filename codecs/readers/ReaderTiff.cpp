// TIFF reading: the first image of a file in either byte order, strips
// uncompressed, LZW or PackBits, with or without horizontal differencing.

#include "ImageReaders.h"
#include "ReaderCompression.h"
#include "ReaderSupport.h"

#include "Exceptions.h"
#include "Numeric.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

const char* const InvalidFile = "Invalid TIFF file.";

enum TiffTag : std::uint16_t {
    tagImageWidth = 256,
    tagImageLength = 257,
    tagBitsPerSample = 258,
    tagCompression = 259,
    tagPhotometric = 262,
    tagStripOffsets = 273,
    tagSamplesPerPixel = 277,
    tagRowsPerStrip = 278,
    tagStripByteCounts = 279,
    tagPlanarConfiguration = 284,
    tagTileWidth = 322,
    tagTileOffsets = 324,
    tagPredictor = 317,
    tagColorMap = 320,
    tagExtraSamples = 338,
    tagYCbCrCoefficients = 529,
    tagYCbCrSubSampling = 530,
    tagReferenceBlackWhite = 532,
};

enum TiffType : std::uint16_t {
    ttByte = 1,
    ttAscii = 2,
    ttShort = 3,
    ttLong = 4,
    ttRational = 5,
    ttSByte = 6,
    ttUndefined = 7,
    ttSShort = 8,
    ttSLong = 9,
};

// Bytes of one value of a type; 0 for the types whose values are not read
// as numbers here.
std::size_t TypeSize(std::uint16_t type)
{
    switch (type) {
    case ttByte:
    case ttAscii:
    case ttSByte:
    case ttUndefined:
        return 1;
    case ttShort:
    case ttSShort:
        return 2;
    case ttLong:
    case ttSLong:
        return 4;
    case ttRational:
        return 8;
    default:
        return 0;
    }
}

struct Entry {
    std::uint16_t Tag = 0;
    std::uint16_t Type = 0;
    std::uint32_t Count = 0;
    std::uint8_t Field[4] = {}; // the value field as stored
};

[[noreturn]] void Fail(const std::string& message)
{
    throw Exception(message);
}

class TiffFile {
public:
    explicit TiffFile(TStream& stream) : S(stream)
    {
        Base = S.Position();
        FileEnd = S.Size();
    }

    void ReadHeader()
    {
        std::uint8_t header[8];
        if (ReadUpTo(S, header, 8) != 8)
            Fail(InvalidFile);
        BigEndian = header[0] == 'M' && header[1] == 'M';
        if (U16(header + 2) != 42)
            Fail(InvalidFile);
        const std::uint32_t directory = U32(header + 4);
        if (!Fits(directory, 2))
            Fail("TIFF: the image directory lies outside the file.");
        Seek(directory);
        std::uint8_t countBytes[2];
        S.ReadBuffer(countBytes, 2);
        const std::size_t count = U16(countBytes);
        if (!Fits(directory + std::uint64_t{2}, count * 12))
            Fail("TIFF: the image directory lies outside the file.");
        std::vector<std::uint8_t> raw = MakeBuffer(count * 12);
        S.ReadBuffer(raw.data(), raw.size());
        Entries.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t* p = raw.data() + 12 * i;
            Entries[i].Tag = U16(p);
            Entries[i].Type = U16(p + 2);
            Entries[i].Count = U32(p + 4);
            std::memcpy(Entries[i].Field, p + 8, 4);
        }
        // The format wants the entries sorted; a careless writer's order
        // does not stop the lookup.
        std::stable_sort(Entries.begin(), Entries.end(),
                         [](const Entry& a, const Entry& b) { return a.Tag < b.Tag; });
    }

    const Entry* Find(std::uint16_t tag) const
    {
        auto it = std::lower_bound(Entries.begin(), Entries.end(), tag,
                                   [](const Entry& e, std::uint16_t t) { return e.Tag < t; });
        return it != Entries.end() && it->Tag == tag ? &*it : nullptr;
    }

    // The tag's values as numbers, from the entry itself when they fit in
    // its four bytes, else from their offset; empty when the tag is missing.
    std::vector<std::uint32_t> ReadValues(std::uint16_t tag)
    {
        const Entry* e = Find(tag);
        if (!e || e->Count == 0)
            return {};
        const std::size_t size = TypeSize(e->Type);
        if (size == 0 || e->Type == ttRational)
            Fail("TIFF: tag " + std::to_string(tag) + " has a type that cannot be read.");
        const std::size_t total = static_cast<std::size_t>(e->Count) * size;
        std::vector<std::uint8_t> bytes;
        const std::uint8_t* p = e->Field;
        if (total > 4) {
            const std::uint32_t offset = U32(e->Field);
            if (!Fits(offset, total))
                Fail("TIFF: the values of tag " + std::to_string(tag) + " lie outside the file.");
            bytes = MakeBuffer(total);
            Seek(offset);
            S.ReadBuffer(bytes.data(), total);
            p = bytes.data();
        }
        std::vector<std::uint32_t> values(e->Count);
        for (std::size_t i = 0; i < e->Count; ++i) {
            switch (size) {
            case 1:
                values[i] = p[i];
                break;
            case 2:
                values[i] = U16(p + 2 * i);
                break;
            default:
                values[i] = U32(p + 4 * i);
                break;
            }
        }
        return values;
    }

    // The first value of a tag, or the default when it is missing.
    std::uint32_t GetValue(std::uint16_t tag, std::uint32_t defaultValue)
    {
        const Entry* e = Find(tag);
        if (!e || e->Count == 0 || TypeSize(e->Type) == 0 || e->Type == ttRational)
            return defaultValue;
        return ReadValues(tag)[0];
    }

    // Rationals as doubles; empty when the tag is missing.
    std::vector<double> ReadRationals(std::uint16_t tag)
    {
        const Entry* e = Find(tag);
        if (!e || e->Type != ttRational || e->Count == 0)
            return {};
        const std::size_t total = static_cast<std::size_t>(e->Count) * 8;
        const std::uint32_t offset = U32(e->Field);
        if (!Fits(offset, total))
            Fail("TIFF: the values of tag " + std::to_string(tag) + " lie outside the file.");
        std::vector<std::uint8_t> bytes = MakeBuffer(total);
        Seek(offset);
        S.ReadBuffer(bytes.data(), total);
        std::vector<double> values(e->Count);
        for (std::size_t i = 0; i < e->Count; ++i) {
            const std::uint32_t den = U32(bytes.data() + 8 * i + 4);
            values[i] = den == 0 ? 0.0 : static_cast<double>(U32(bytes.data() + 8 * i)) / den;
        }
        return values;
    }

    std::uint16_t U16(const std::uint8_t* p) const
    {
        return BigEndian ? static_cast<std::uint16_t>((p[0] << 8) | p[1]) : static_cast<std::uint16_t>(p[0] | (p[1] << 8));
    }
    std::uint32_t U32(const std::uint8_t* p) const
    {
        return BigEndian ? (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3]
                         : (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
    }

    // True when size bytes from offset (from the base) lie inside the file.
    bool Fits(std::uint64_t offset, std::uint64_t size) const
    {
        const std::uint64_t available = static_cast<std::uint64_t>(std::max<std::int64_t>(FileEnd - Base, 0));
        return offset <= available && size <= available - offset;
    }
    // Bytes of the file from offset on (0 when it lies past the end).
    std::uint64_t Available(std::uint64_t offset) const
    {
        const std::uint64_t available = static_cast<std::uint64_t>(std::max<std::int64_t>(FileEnd - Base, 0));
        return offset < available ? available - offset : 0;
    }
    void Seek(std::uint64_t offset) { S.Seek(Base + static_cast<std::int64_t>(offset), soBeginning); }

    TStream& S;
    std::int64_t Base = 0;
    std::int64_t FileEnd = 0;
    bool BigEndian = false;
    std::vector<Entry> Entries;
};

// The YCbCr to RGB conversion of a file: its luma coefficients and the
// reference black and white of each component.
struct YCbCrConverter {
    double LumaRed = 0.299, LumaGreen = 0.587, LumaBlue = 0.114;
    double Ref[6] = {0, 255, 128, 255, 128, 255};

    void ToBGR(int y, int cb, int cr, std::uint8_t* bgr) const
    {
        auto scale = [&](int v, int k, double range) {
            const double span = Ref[2 * k + 1] - Ref[2 * k];
            return span == 0 ? 0.0 : (v - Ref[2 * k]) * range / span;
        };
        const double Y = scale(y, 0, 255);
        const double Cb = scale(cb, 1, 127);
        const double Cr = scale(cr, 2, 127);
        const double r = Cr * (2 - 2 * LumaRed) + Y;
        const double b = Cb * (2 - 2 * LumaBlue) + Y;
        const double g = LumaGreen == 0 ? 0 : (Y - LumaBlue * b - LumaRed * r) / LumaGreen;
        auto clamp = [](double v) { return static_cast<std::uint8_t>(std::clamp<std::int64_t>(Round(v), 0, 255)); };
        bgr[0] = clamp(b);
        bgr[1] = clamp(g);
        bgr[2] = clamp(r);
    }
};

// The most bytes count packed bytes can decode to. PackBits: a run of 128
// bytes from two. LZW: codes take 9 bits or more, and the string of the k-th
// code after a clear is at most k bytes long (each table entry is one byte
// longer than a string before it), and never longer than the table.
std::uint64_t MaxUnpacked(std::uint32_t compression, std::uint64_t count)
{
    if (compression == 32773)
        return 64 * (count + 1);
    const std::uint64_t codes = count * 8 / 9 + 1;
    return codes < 8192 ? codes * (codes + 1) / 2 : codes * 4096;
}

// The bytes from offset to the next strip's offset above it (sortedOffsets
// holds them all in ascending order), or to the end of the file; for strips
// the file gives no byte count.
std::uint64_t UncountedStripBytes(const std::vector<std::uint32_t>& sortedOffsets, std::uint32_t offset,
                                  const TiffFile& file)
{
    const std::uint64_t bytes = file.Available(offset);
    const auto next = std::upper_bound(sortedOffsets.begin(), sortedOffsets.end(), offset);
    return next == sortedOffsets.end() ? bytes : std::min<std::uint64_t>(bytes, *next - offset);
}

// One row of samples into one row of the bitmap.
struct RowLayout {
    TPixelFormat Format = pf24bit;
    TRowConversion Convert = nullptr; // null: the row is copied as it stands
    bool GreyWithExtra = false;       // first of several samples a pixel, to 8 bits
    bool YCbCr = false;
};

} // namespace

TTIFFGraphic::TTIFFGraphic()
{
    SetPixelFormat(pf24bit);
}

void TTIFFGraphic::SaveToStream(TStream&) const {}

void TTIFFGraphic::SaveToFile(const std::string&) const
{
    RefuseSave("TIFF");
}

void TTIFFGraphic::LoadFromStream(TStream& stream)
{
    SetSize(0, 0);
    TiffFile file(stream);
    file.ReadHeader();

    const std::uint32_t photometric = file.GetValue(tagPhotometric, 0);
    const std::uint32_t samples = file.GetValue(tagSamplesPerPixel, 1);
    std::vector<std::uint32_t> bitsPerSample = file.ReadValues(tagBitsPerSample);
    if (bitsPerSample.empty())
        bitsPerSample.push_back(1);
    const std::uint32_t bits = bitsPerSample[0];
    const Entry* extra = file.Find(tagExtraSamples);
    const std::uint32_t extraSamples = extra ? extra->Count : 0;
    const std::uint32_t compression = file.GetValue(tagCompression, 1);
    const std::uint32_t predictor = file.GetValue(tagPredictor, 1);
    const std::uint32_t planar = file.GetValue(tagPlanarConfiguration, 1);
    const std::uint32_t width = file.GetValue(tagImageWidth, 0);
    const std::uint32_t height = file.GetValue(tagImageLength, 0);

    if (samples == 0 || samples > 16 || extraSamples >= samples)
        Fail("TIFF: " + std::to_string(samples) + " samples a pixel with " + std::to_string(extraSamples) +
             " extra samples cannot be read.");
    // Tiles are not strips: read as strips they would show the header.
    if (file.Find(tagTileWidth) || file.Find(tagTileOffsets))
        Fail("TIFF: images stored in tiles cannot be read.");
    if (samples > 1 && planar == 2)
        Fail("TIFF: images stored in separate colour planes cannot be read.");
    const std::uint32_t colourSamples = samples - extraSamples;

    // Pixel format and row handling by the colour samples.
    RowLayout layout;
    auto unsupported = [&] {
        Fail("TIFF: " + std::to_string(samples) + " samples of " + std::to_string(bits) +
             " bits with photometric interpretation " + std::to_string(photometric) + " cannot be read.");
    };
    if (colourSamples == 1) {
        switch (bits) {
        case 1:
            layout.Format = pf1bit;
            break;
        case 4:
            layout.Format = pf4bit;
            break;
        case 8:
            layout.Format = pf8bit;
            break;
        case 16:
            layout.Format = pf8bit;
            layout.Convert = Convert16To8;
            break;
        default:
            unsupported();
        }
        // Palette indices above 8 bits would need a map of more than 256
        // colours.
        if (photometric == 3 && bits > 8)
            unsupported();
        if (samples > 1) {
            if (bits < 8)
                unsupported();
            layout.Convert = nullptr;
            layout.GreyWithExtra = true;
        }
    } else if (bits != 8 && bits != 16) {
        unsupported();
    } else if (colourSamples == 3 && photometric == 2 && samples <= 4) {
        layout.Format = samples == 4 ? pf32bit : pf24bit;
        layout.Convert = samples == 4 ? ConvertRGBA : ConvertRGB;
    } else if (colourSamples == 3 && photometric == 6 && samples == 3 && bits == 8) {
        layout.YCbCr = true;
    } else if (colourSamples == 3 && photometric == 8 && samples == 3 && bits == 8) {
        layout.Convert = ConvertLab;
    } else if (colourSamples == 4 && photometric == 2 && samples == 4) {
        layout.Format = pf32bit;
        layout.Convert = ConvertRGBA;
    } else if (colourSamples == 4 && photometric == 5 && samples == 4) {
        layout.Convert = ConvertCMYK;
    } else {
        unsupported();
    }

    // The palette of one-sample images.
    TPalette palette;
    if (colourSamples == 1) {
        const std::uint32_t paletteBits = std::min<std::uint32_t>(bits, 8);
        const std::size_t entries = std::size_t{1} << paletteBits;
        if (photometric == 3) {
            const std::vector<std::uint32_t> map = file.ReadValues(tagColorMap);
            const std::size_t mapEntries = std::size_t{1} << bits;
            if (map.size() < 3 * mapEntries)
                Fail("TIFF: the colour map has fewer than 3 x " + std::to_string(mapEntries) + " values.");
            for (std::size_t k = 0; k < entries; ++k)
                palette.push_back(TPaletteEntry{static_cast<std::uint8_t>(map[k] >> 8),
                                                static_cast<std::uint8_t>(map[mapEntries + k] >> 8),
                                                static_cast<std::uint8_t>(map[2 * mapEntries + k] >> 8), 0});
        } else {
            const unsigned step = bits == 1 ? 255 : bits == 4 ? 17 : 1;
            for (std::size_t k = 0; k < entries; ++k) {
                const unsigned grey = photometric == 0 ? static_cast<unsigned>((entries - 1 - k) * step)
                                                       : static_cast<unsigned>(k * step);
                const auto g = static_cast<std::uint8_t>(grey);
                palette.push_back(TPaletteEntry{g, g, g, 0});
            }
        }
    }

    if (width == 0 || height == 0)
        Fail(InvalidFile);
    if (width > INT32_MAX || height > INT32_MAX)
        Fail(InvalidFile);
    CheckPixelBudget(width, height);

    if (compression != 1 && compression != 5 && compression != 32773)
        Fail("TIFF: Unknown compression scheme");
    if (predictor == 2 && bits < 8)
        Fail("TIFF: horizontal differencing of " + std::to_string(bits) + "-bit samples cannot be undone.");
    if (predictor != 1 && predictor != 2)
        Fail("TIFF: predictor " + std::to_string(predictor) + " cannot be undone.");

    // Subsampled YCbCr comes in blocks of h x v luma samples and one Cb, Cr.
    std::uint32_t subH = 1, subV = 1;
    YCbCrConverter ycc;
    if (layout.YCbCr) {
        const std::vector<std::uint32_t> sub = file.ReadValues(tagYCbCrSubSampling);
        subH = sub.size() >= 1 ? sub[0] : 2;
        subV = sub.size() >= 2 ? sub[1] : 2;
        auto valid = [](std::uint32_t s) { return s == 1 || s == 2 || s == 4; };
        if (!valid(subH) || !valid(subV) || subV > subH)
            Fail("TIFF: YCbCr subsampling " + std::to_string(subH) + " x " + std::to_string(subV) +
                 " cannot be read.");
        if (predictor == 2 && (subH != 1 || subV != 1))
            Fail("TIFF: horizontal differencing of subsampled YCbCr cannot be undone.");
        const std::vector<double> coeff = file.ReadRationals(tagYCbCrCoefficients);
        if (coeff.size() >= 3) {
            ycc.LumaRed = coeff[0];
            ycc.LumaGreen = coeff[1];
            ycc.LumaBlue = coeff[2];
        }
        const std::vector<double> ref = file.ReadRationals(tagReferenceBlackWhite);
        if (ref.size() >= 6)
            std::copy(ref.begin(), ref.begin() + 6, ycc.Ref);
    }

    // Strips.
    std::vector<std::uint32_t> offsets = file.ReadValues(tagStripOffsets);
    if (offsets.empty())
        offsets.push_back(0);
    const std::vector<std::uint32_t> byteCounts = file.ReadValues(tagStripByteCounts);
    std::vector<std::uint32_t> sortedOffsets;
    if (byteCounts.size() < offsets.size()) {
        sortedOffsets = offsets;
        std::sort(sortedOffsets.begin(), sortedOffsets.end());
    }
    std::vector<std::uint32_t> rowsPerStrip = file.ReadValues(tagRowsPerStrip);
    if (offsets.size() == 1)
        rowsPerStrip.assign(1, height);
    if (rowsPerStrip.empty())
        Fail("TIFF: " + std::to_string(offsets.size()) + " strips without a RowsPerStrip tag cannot be read.");
    for (std::uint32_t& r : rowsPerStrip) {
        if (r == 0)
            Fail("TIFF: a RowsPerStrip of 0 cannot be read.");
        r = std::min(r, height);
    }

    // Bytes of one row (or of one row of blocks for subsampled YCbCr).
    const std::uint64_t blocksPerRow = (static_cast<std::uint64_t>(width) + subH - 1) / subH;
    const std::uint64_t rowBytes64 = layout.YCbCr
                                         ? blocksPerRow * (subH * subV + 2)
                                         : (static_cast<std::uint64_t>(width) * bits * samples + 7) / 8;
    const std::size_t rowBytes = static_cast<std::size_t>(rowBytes64);

    PrepareBitmap(*this, layout.Format, width, height, palette, InvalidFile);
    // The strip buffer grows to what each strip's data can fill, so that a
    // small file claiming a large picture costs no more than the bitmap.
    std::vector<std::uint8_t> strip;
    auto stripBuffer = [&](std::size_t size) {
        if (strip.size() < size)
            strip = MakeBuffer(size);
        return strip.data();
    };
    std::vector<std::uint8_t> packed;
    std::unique_ptr<TDecoder> decoder;
    if (compression == 5)
        decoder = std::make_unique<TTIFFLZW>();
    else if (compression == 32773)
        decoder = std::make_unique<TPackbitsRLE>();

    const std::size_t rowSamples = static_cast<std::size_t>(width) * samples;
    const std::size_t copyBytes = std::min(rowBytes, RowStride());
    std::uint32_t row = 0;
    for (std::size_t s = 0; s < offsets.size() && row < height; ++s) {
        const std::uint32_t rows = std::min(rowsPerStrip[std::min(s, rowsPerStrip.size() - 1)], height - row);
        const std::size_t stripBytes = ((rows + subV - 1) / subV) * rowBytes;
        const std::uint64_t offset = offsets[s];
        std::size_t got = 0;
        if (!decoder) {
            // The strip's byte count, when the file gives it, bounds the
            // read: what follows the strip is not pixel data.
            std::uint64_t limit = std::min<std::uint64_t>(stripBytes, file.Available(offset));
            if (s < byteCounts.size())
                limit = std::min<std::uint64_t>(limit, byteCounts[s]);
            const std::size_t want = static_cast<std::size_t>(limit);
            if (want > 0) {
                file.Seek(offset);
                got = ReadUpTo(stream, stripBuffer(want), want);
            }
        } else {
            // Without its byte count a strip's data ends where the next
            // strip's begins, or at the end of the file. No encoder needs
            // more than twice a strip's size (PackBits' worst case; 12-bit
            // LZW codes give a byte or more each): larger counts are not
            // trusted, so that strips sharing their data cannot make each
            // strip go over the rest of the file.
            const std::uint64_t count = std::min(
                {s < byteCounts.size() ? std::uint64_t{byteCounts[s]} : UncountedStripBytes(sortedOffsets, offsets[s], file),
                 2 * static_cast<std::uint64_t>(stripBytes) + 16, file.Available(offset)});
            if (count > 0) {
                if (packed.size() < count)
                    packed = MakeBuffer(static_cast<std::size_t>(count));
                file.Seek(offset);
                const std::size_t read = ReadUpTo(stream, packed.data(), static_cast<std::size_t>(count));
                const std::uint8_t* source = packed.data();
                const std::size_t room =
                    static_cast<std::size_t>(std::min<std::uint64_t>(stripBytes, MaxUnpacked(compression, read)));
                got = decoder->Decode(source, stripBuffer(room), read, room);
            }
        }
        // Rows that the strip's data does not reach stay white.
        if (layout.YCbCr) {
            const std::size_t blockRows = got / rowBytes;
            for (std::size_t br = 0; br < blockRows; ++br) {
                std::uint8_t* p = strip.data() + br * rowBytes;
                if (predictor == 2) // 1 x 1 blocks only: Y, Cb, Cr a pixel
                    UndoPredictor({p, rowBytes}, width - 1, 3);
                const std::uint32_t y0 = row + static_cast<std::uint32_t>(br) * subV;
                for (std::uint64_t bx = 0; bx < blocksPerRow; ++bx, p += subH * subV + 2) {
                    const int cb = p[subH * subV], cr = p[subH * subV + 1];
                    for (std::uint32_t dy = 0; dy < subV && y0 + dy < row + rows; ++dy) {
                        std::uint8_t* line = ScanLine(static_cast<int>(y0 + dy));
                        for (std::uint32_t dx = 0; dx < subH && bx * subH + dx < width; ++dx)
                            ycc.ToBGR(p[dy * subH + dx], cb, cr, line + 3 * (bx * subH + dx));
                    }
                }
            }
        } else {
            const std::size_t complete = std::min<std::size_t>(got / rowBytes, rows);
            for (std::size_t r = 0; r < complete; ++r) {
                std::span<std::uint8_t> raw(strip.data() + r * rowBytes, rowBytes);
                if (bits == 16 && file.BigEndian)
                    SwapShort(raw, rowSamples);
                if (predictor == 2) {
                    if (bits == 16)
                        UndoPredictor16(raw, width - 1, samples);
                    else
                        UndoPredictor(raw, width - 1, samples);
                }
                std::span<std::uint8_t> line(ScanLine(static_cast<int>(row + r)), RowStride());
                if (layout.GreyWithExtra) {
                    // The grey sample of each pixel; the extra ones are left out.
                    const std::size_t step = samples * (bits / 8);
                    for (std::uint32_t x = 0; x < width; ++x) {
                        if (bits == 16) {
                            std::uint16_t v;
                            std::memcpy(&v, raw.data() + x * step, 2);
                            line[x] = static_cast<std::uint8_t>(v >> 8);
                        } else {
                            line[x] = raw[x * step];
                        }
                    }
                } else if (layout.Convert) {
                    layout.Convert(raw, line, static_cast<int>(bits), rowSamples);
                } else {
                    std::memcpy(line.data(), raw.data(), copyBytes);
                }
            }
        }
        row += rows;
    }
    Changed();
}
