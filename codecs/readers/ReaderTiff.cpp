// TIFF reading: the first image of a file in either byte order, strips
// uncompressed, LZW or PackBits, with or without horizontal differencing,
// samples interleaved or in separate planes, bits highest or lowest first.

#include "ImageReaders.h"
#include "ReaderCompression.h"
#include "ReaderSupport.h"

#include "Exceptions.h"
#include "Numeric.h"

#include <algorithm>
#include <array>
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
    tagFillOrder = 266,
    tagStripOffsets = 273,
    tagSamplesPerPixel = 277,
    tagRowsPerStrip = 278,
    tagStripByteCounts = 279,
    tagPlanarConfiguration = 284,
    tagPredictor = 317,
    tagTileWidth = 322,
    tagTileOffsets = 324,
    tagColorMap = 320,
    tagExtraSamples = 338,
    tagSampleFormat = 339,
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
        if (U16(header + 2) == 43)
            Fail("TIFF: BigTIFF files cannot be read.");
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
        const double g = (Y - LumaBlue * b - LumaRed * r) / LumaGreen;
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

// The most bytes of pixel data one byte of the file may stand for: 64 for
// PackBits (two bytes give a run of 128), for LZW 4096 bytes (the longest
// string) per code of at least 9 bits. Raw strips give one byte a byte, but
// a file cut short still shows what it holds: they are let go down to a
// 64th of the picture, no further than PackBits would.
std::uint64_t MaxExpansion(std::uint32_t compression)
{
    return compression == 5 ? 4096 * 8 / 9 + 1 : 64;
}

// Byte b with its bits in reverse order: the data of files whose FillOrder
// is 2 (lowest bit first) read as the usual highest bit first.
void ReverseBits(std::uint8_t* data, std::size_t size)
{
    static const auto table = [] {
        std::array<std::uint8_t, 256> t{};
        for (unsigned v = 0; v < 256; ++v) {
            unsigned r = 0;
            for (unsigned bit = 0; bit < 8; ++bit)
                r |= ((v >> bit) & 1u) << (7 - bit);
            t[v] = static_cast<std::uint8_t>(r);
        }
        return t;
    }();
    for (std::size_t i = 0; i < size; ++i)
        data[i] = table[data[i]];
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
    bool Lab = false;
    bool Cmyk = false;
};

// The rows of a picture stored in separate planes: the strips of each
// plane's rows decoded into one buffer a plane, then a row of every plane
// into the bitmap's row.
class PlaneRows {
public:
    PlaneRows(const RowLayout& layout, std::uint32_t samples, std::uint32_t colourSamples, std::uint32_t bits,
              std::uint32_t width)
        : FLayout(layout), FSamples(samples), FColourSamples(colourSamples), FBits(static_cast<int>(bits)),
          FWidth(width), FRowBytes(static_cast<std::size_t>(width) * (bits / 8)), FBuffers(samples)
    {
    }
    // Bytes of one row of one plane.
    std::size_t RowBytes() const { return FRowBytes; }
    // The planes the conversion reads: the grey one alone, or all.
    std::uint32_t Used() const { return FColourSamples == 1 ? 1 : FSamples; }
    std::vector<std::uint8_t>& Buffer(std::uint32_t plane) { return FBuffers[plane]; }
    std::span<std::uint8_t> Row(std::uint32_t plane, std::size_t r)
    {
        return {FBuffers[plane].data() + r * FRowBytes, FRowBytes};
    }

    void Convert(std::size_t r, std::span<std::uint8_t> line)
    {
        const std::size_t w = FWidth;
        if (FColourSamples == 1) {
            if (FBits == 16)
                Convert16To8(Row(0, r), line, 16, w);
            else
                std::memcpy(line.data(), Row(0, r).data(), std::min(w, line.size()));
        } else if (FLayout.Cmyk) {
            ConvertCMYKPlanar(Row(0, r), Row(1, r), Row(2, r), Row(3, r), line, FBits, 4 * w);
        } else if (FLayout.Lab) {
            ConvertLabPlanar(Row(0, r), Row(1, r), Row(2, r), line, FBits, 3 * w);
        } else if (FSamples == 3) {
            ConvertRGBPlanar(Row(0, r), Row(1, r), Row(2, r), line, FBits, 3 * w);
        } else {
            // RGB with an extra sample: the four planes side by side again.
            const std::size_t sampleBytes = static_cast<std::size_t>(FBits / 8);
            if (FInterleaved.size() < 4 * FRowBytes)
                FInterleaved = MakeBuffer(4 * FRowBytes);
            for (std::uint32_t p = 0; p < 4; ++p) {
                const std::uint8_t* from = Row(p, r).data();
                for (std::size_t x = 0; x < w; ++x)
                    std::memcpy(FInterleaved.data() + (4 * x + p) * sampleBytes, from + x * sampleBytes, sampleBytes);
            }
            ConvertRGBA(FInterleaved, line, FBits, 4 * w);
        }
    }

private:
    const RowLayout& FLayout;
    std::uint32_t FSamples, FColourSamples;
    int FBits;
    std::uint32_t FWidth;
    std::size_t FRowBytes;
    std::vector<std::vector<std::uint8_t>> FBuffers;
    std::vector<std::uint8_t> FInterleaved;
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
    FReadWarning.clear();
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
    const bool lowBitFirst = file.GetValue(tagFillOrder, 1) == 2;
    const std::uint32_t width = file.GetValue(tagImageWidth, 0);
    const std::uint32_t height = file.GetValue(tagImageLength, 0);

    if (samples == 0 || samples > 16 || extraSamples >= samples)
        Fail("TIFF: " + std::to_string(samples) + " samples a pixel with " + std::to_string(extraSamples) +
             " extra samples cannot be read.");
    // Tiles are not strips: read as strips they would show the header.
    if (file.Find(tagTileWidth) || file.Find(tagTileOffsets))
        Fail("TIFF: images stored in tiles cannot be read.");
    // Signed and floating-point samples would read as unsigned integers.
    for (std::uint32_t format : file.ReadValues(tagSampleFormat))
        if (format != 1 && format != 4)
            Fail("TIFF: samples of format " + std::to_string(format) +
                 " (signed integer or floating point) cannot be read.");
    if (planar != 1 && planar != 2)
        Fail("TIFF: planar configuration " + std::to_string(planar) + " cannot be read.");
    const bool separate = samples > 1 && planar == 2;
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
    } else if (colourSamples == 3 && photometric == 8 && samples == 3) {
        layout.Convert = ConvertLab;
        layout.Lab = true;
    } else if (colourSamples == 4 && photometric == 2 && samples == 4) {
        layout.Format = pf32bit;
        layout.Convert = ConvertRGBA;
    } else if (colourSamples == 4 && photometric == 5 && samples == 4) {
        layout.Convert = ConvertCMYK;
        layout.Cmyk = true;
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
        if (separate)
            Fail("TIFF: YCbCr images stored in separate planes cannot be read.");
        if (predictor == 2 && (subH != 1 || subV != 1))
            Fail("TIFF: horizontal differencing of subsampled YCbCr cannot be undone.");
        const std::vector<double> coeff = file.ReadRationals(tagYCbCrCoefficients);
        if (coeff.size() >= 3) {
            // The conversion divides by the green one and weighs red and
            // blue by the others: a zero (or a zero denominator) leaves no
            // colours to show.
            if (!(coeff[0] > 0 && coeff[1] > 0 && coeff[2] > 0))
                Fail("TIFF: YCbCr coefficients of 0 cannot convert the colours.");
            ycc.LumaRed = coeff[0];
            ycc.LumaGreen = coeff[1];
            ycc.LumaBlue = coeff[2];
        }
        const std::vector<double> ref = file.ReadRationals(tagReferenceBlackWhite);
        if (ref.size() >= 6)
            std::copy(ref.begin(), ref.begin() + 6, ycc.Ref);
    }

    // Strips: with separate planes, all the strips of the first plane,
    // then all of the second, and so on.
    std::vector<std::uint32_t> offsets = file.ReadValues(tagStripOffsets);
    if (offsets.empty())
        offsets.push_back(0);
    const std::uint32_t planes = separate ? samples : 1;
    if (offsets.size() % planes != 0)
        Fail("TIFF: " + std::to_string(offsets.size()) + " strips cannot be shared among " + std::to_string(planes) +
             " separate planes.");
    const std::size_t stripsPerPlane = offsets.size() / planes;
    const std::vector<std::uint32_t> byteCounts = file.ReadValues(tagStripByteCounts);
    std::vector<std::uint32_t> sortedOffsets;
    if (byteCounts.size() < offsets.size()) {
        sortedOffsets = offsets;
        std::sort(sortedOffsets.begin(), sortedOffsets.end());
    }
    std::vector<std::uint32_t> rowsPerStrip = file.ReadValues(tagRowsPerStrip);
    if (stripsPerPlane == 1)
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

    // Before the picture is made: its strips must start inside the file, and
    // the bytes from the first of them on must be able to hold its pixels at
    // the compression's best.
    const std::uint32_t firstStrip = *std::min_element(offsets.begin(), offsets.end());
    if (file.Available(firstStrip) == 0)
        Fail("TIFF: the picture's strips lie outside the file.");
    file.Seek(firstStrip);
    CheckEncodable(stream, rowBytes64 * ((height + subV - 1) / subV), MaxExpansion(compression),
                   "TIFF: the file is too small to hold the picture it describes.");

    PrepareBitmap(*this, layout.Format, width, height, palette, InvalidFile);
    std::vector<std::uint8_t> packed;
    std::unique_ptr<TDecoder> decoder;
    if (compression == 5)
        decoder = std::make_unique<TTIFFLZW>();
    else if (compression == 32773)
        decoder = std::make_unique<TPackbitsRLE>();

    // Reads strip s, of stripBytes bytes of pixels, into buffer (grown to
    // what the strip's data can fill, so that a file claiming more than it
    // holds costs no more than the bitmap); answers the bytes it gave.
    bool endOfFile = false;
    auto readStrip = [&](std::size_t s, std::size_t stripBytes, std::vector<std::uint8_t>& buffer) -> std::size_t {
        const std::uint64_t offset = offsets[s];
        const std::uint64_t inFile = file.Available(offset);
        auto grown = [&](std::size_t size) {
            if (buffer.size() < size)
                buffer = MakeBuffer(size);
            return buffer.data();
        };
        if (!decoder) {
            // The strip's byte count, when the file gives it, bounds the
            // read: what follows the strip is not pixel data.
            std::uint64_t limit = stripBytes;
            if (s < byteCounts.size())
                limit = std::min<std::uint64_t>(limit, byteCounts[s]);
            endOfFile |= inFile < limit;
            const std::size_t want = static_cast<std::size_t>(std::min(limit, inFile));
            if (want == 0)
                return 0;
            file.Seek(offset);
            const std::size_t got = ReadUpTo(stream, grown(want), want);
            if (lowBitFirst)
                ReverseBits(buffer.data(), got);
            return got;
        }
        // Without its byte count a strip's data ends where the next strip's
        // begins, or at the end of the file. No encoder needs more than
        // twice a strip's size (PackBits' worst case; 12-bit LZW codes give a
        // byte or more each): larger counts are not trusted, so that strips
        // sharing their data cannot make each strip go over the rest of the
        // file.
        const std::uint64_t claimed = std::min<std::uint64_t>(
            s < byteCounts.size() ? std::uint64_t{byteCounts[s]} : UncountedStripBytes(sortedOffsets, offsets[s], file),
            2 * static_cast<std::uint64_t>(stripBytes) + 16);
        endOfFile |= inFile < claimed;
        const std::uint64_t count = std::min(claimed, inFile);
        if (count == 0)
            return 0;
        if (packed.size() < count)
            packed = MakeBuffer(static_cast<std::size_t>(count));
        file.Seek(offset);
        const std::size_t read = ReadUpTo(stream, packed.data(), static_cast<std::size_t>(count));
        if (lowBitFirst)
            ReverseBits(packed.data(), read);
        const std::uint8_t* source = packed.data();
        const std::size_t room =
            static_cast<std::size_t>(std::min<std::uint64_t>(stripBytes, MaxUnpacked(compression, read)));
        return decoder->Decode(source, grown(room), read, room);
    };

    // Undoes byte order and predictor on a row of samples of one plane or
    // of all planes, samplesPerPixel a pixel.
    const std::size_t rowSamples = static_cast<std::size_t>(width) * samples;
    auto prepare = [&](std::span<std::uint8_t> raw, std::size_t samplesPerPixel) {
        if (bits == 16 && file.BigEndian)
            SwapShort(raw, width * samplesPerPixel);
        if (predictor == 2) {
            if (bits == 16)
                UndoPredictor16(raw, width - 1, samplesPerPixel);
            else
                UndoPredictor(raw, width - 1, samplesPerPixel);
        }
    };

    std::vector<std::uint8_t> strip;
    PlaneRows planeRows(layout, samples, colourSamples, bits, width);
    const std::size_t copyBytes = std::min(rowBytes, RowStride());
    std::uint32_t row = 0;
    bool complete = true;
    for (std::size_t s = 0; s < stripsPerPlane && row < height; ++s) {
        const std::uint32_t rows = std::min(rowsPerStrip[std::min(s, rowsPerStrip.size() - 1)], height - row);
        // Rows that the strip's data does not reach stay white.
        std::size_t done = 0;
        if (separate) {
            done = rows;
            for (std::uint32_t p = 0; p < planeRows.Used(); ++p) {
                const std::size_t got =
                    readStrip(p * stripsPerPlane + s, rows * planeRows.RowBytes(), planeRows.Buffer(p));
                done = std::min(done, got / planeRows.RowBytes());
            }
            for (std::size_t r = 0; r < done; ++r) {
                for (std::uint32_t p = 0; p < planeRows.Used(); ++p)
                    prepare(planeRows.Row(p, r), 1);
                planeRows.Convert(r, {ScanLine(static_cast<int>(row + r)), RowStride()});
            }
        } else if (layout.YCbCr) {
            const std::size_t got = readStrip(s, ((rows + subV - 1) / subV) * rowBytes, strip);
            const std::size_t blockRows = got / rowBytes;
            done = std::min<std::size_t>(blockRows * subV, rows);
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
            const std::size_t got = readStrip(s, rows * rowBytes, strip);
            done = std::min<std::size_t>(got / rowBytes, rows);
            for (std::size_t r = 0; r < done; ++r) {
                std::span<std::uint8_t> raw(strip.data() + r * rowBytes, rowBytes);
                prepare(raw, samples);
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
        complete &= done == rows;
        row += rows;
    }
    complete &= row >= height;
    if (!complete)
        FReadWarning = endOfFile ? "TIFF: the file ends before the picture does; the rows missing are left white."
                                 : "TIFF: the picture data ends early; the rows missing are left white.";
    Changed();
}
