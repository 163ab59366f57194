// Photoshop reading: the merged image of a file in bitmap, grey, indexed,
// duotone, RGB, CMYK or Lab mode, 8 or 16 bits a sample (1 bit in bitmap
// mode), raw or PackBits. Only the planes the mode needs are read; alpha and
// spot channels are passed over. Other modes (multichannel, ...) are checked
// like the rest and give a white picture of the file's size.

#include "ImageReaders.h"
#include "ReaderCompression.h"
#include "ReaderSupport.h"

#include "ByteOrder.h"
#include "Exceptions.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t HeaderSize = 26;
constexpr std::size_t IndexedPaletteSize = 768;

enum Mode { Bitmap = 0, Grey = 1, Indexed = 2, RGBMode = 3, CMYK = 4, Duotone = 8, Lab = 9 };

// Passes over a section given by its 32-bit length.
void SkipSection(TStream& stream)
{
    const std::uint32_t length = stream.ReadU32BE();
    if (length > stream.Remaining())
        ShortFileError("PSD");
    stream.Seek(length, soCurrent);
}

} // namespace

void TPSDGraphic::LoadFromStream(TStream& stream)
{
    SetSize(0, 0);
    std::uint8_t header[HeaderSize];
    stream.ReadBuffer(header, HeaderSize);
    if (std::memcmp(header, "8BPS", 4) != 0)
        throw Exception("Not a valid psd file.");
    const std::size_t channels = GetU16BE(header + 12);
    const std::uint32_t height = GetU32BE(header + 14);
    const std::uint32_t width = GetU32BE(header + 18);
    const int depth = GetU16BE(header + 22);
    const int mode = GetU16BE(header + 24);

    const bool onePlane = mode == Bitmap || mode == Grey || mode == Indexed || mode == Duotone;
    const bool planar = mode == RGBMode || mode == CMYK || mode == Lab;
    const std::size_t used = onePlane ? 1 : mode == CMYK ? 4 : planar ? 3 : 0;
    // A mode without a conversion (multichannel, ...) still has its first
    // plane checked like any other: channels, depth and data.
    const std::size_t planeCount = std::max<std::size_t>(used, 1);
    if (channels < planeCount)
        throw Exception("PSD: the file has fewer channels than its colour mode needs.");
    if (mode == Bitmap ? depth != 1 : depth != 8 && depth != 16)
        throw Exception("PSD: unsupported bits per sample.");
    const TPixelFormat format = mode == Bitmap ? pf1bit : onePlane ? pf8bit : planar ? pf24bit : PixelFormat();
    // Colour mode data: the indexed palette, 256 reds, greens and blues.
    std::uint8_t colours[IndexedPaletteSize] = {};
    {
        const std::uint32_t length = stream.ReadU32BE();
        if (length > stream.Remaining())
            ShortFileError("PSD");
        const std::uint32_t take = mode == Indexed ? std::min<std::uint32_t>(length, IndexedPaletteSize) : 0;
        stream.ReadBuffer(colours, take);
        stream.Seek(length - take, soCurrent);
    }
    TPalette palette;
    if (depth == 1) {
        palette = {TPaletteEntry{255, 255, 255, 0}, TPaletteEntry{0, 0, 0, 0}};
    } else if (mode == Indexed) {
        palette.resize(256);
        for (std::size_t k = 0; k < 256; ++k)
            palette[k] = TPaletteEntry{colours[k], colours[256 + k], colours[512 + k], 0};
    } else {
        palette = GreyPalette(256);
    }
    SkipSection(stream); // image resources
    SkipSection(stream); // layers and masks

    const std::uint16_t compression = stream.ReadU16BE();
    if (compression > 1)
        throw Exception("PSD: unsupported compression.");
    const bool packbits = compression == 1;
    const std::size_t sampleBytes = depth == 16 ? 2 : 1;
    // Within the budget the sizes below cannot overflow.
    CheckPixelBudget(width, height);
    const std::size_t rowBytes = mode == Bitmap ? (std::size_t{width} + 7) / 8 : std::size_t{width} * sampleBytes;
    const std::size_t rows = height;
    const std::size_t planeSize = rows * rowBytes;
    const std::uint64_t planeBytes = std::uint64_t{planeCount} * planeSize;

    // Everything the planes need must be in the file before they are
    // allocated. PackBits rows: the table holds the byte counts of every
    // channel, plane after plane, so the planes read come first; only the
    // rows down to the last one that holds data are converted.
    std::vector<std::uint32_t> counts;
    std::uint64_t packedBytes = planeBytes;
    std::size_t filledRows = rows;
    if (packbits) {
        const std::uint64_t tableBytes = std::uint64_t{channels} * rows * 2;
        if (tableBytes > static_cast<std::uint64_t>(stream.Remaining()))
            ShortFileError("PSD");
        std::vector<std::uint8_t> table = MakeBuffer(static_cast<std::size_t>(tableBytes));
        stream.ReadBuffer(table.data(), table.size());
        counts.resize(planeCount * rows);
        packedBytes = 0;
        filledRows = 0;
        for (std::size_t i = 0; i < counts.size(); ++i) {
            counts[i] = GetU16BE(table.data() + 2 * i);
            packedBytes += counts[i];
            if (counts[i] != 0)
                filledRows = std::max(filledRows, i % rows + 1);
        }
        if (packedBytes > static_cast<std::uint64_t>(stream.Remaining()))
            ShortFileError("PSD");
        // Two bytes of PackBits give at most 128.
        CheckEncodable(stream, planeBytes, 64, "PSD: the file is too short for the picture it claims.");
    } else if (planeBytes > static_cast<std::uint64_t>(stream.Remaining())) {
        ShortFileError("PSD");
    }
    PrepareBitmap(*this, format, width, height, palette, "PSD: invalid image size.");
    if (used == 0)
        return; // a mode without a conversion: the picture stays as created

    std::vector<std::uint8_t> data = MakeBuffer(static_cast<std::size_t>(packedBytes));
    stream.ReadBuffer(data.data(), data.size());

    // The planes, one row after the other; each PackBits row is decoded by
    // itself, so that a row that overruns is cut at its end.
    std::vector<std::uint8_t> planes;
    if (packbits) {
        planes = MakeBuffer(static_cast<std::size_t>(planeBytes));
        TPackbitsRLE decoder;
        std::size_t at = 0;
        for (std::size_t i = 0; i < counts.size(); ++i) {
            const std::uint8_t* source = data.data() + at;
            decoder.Decode(source, planes.data() + i * rowBytes, counts[i], rowBytes);
            at += counts[i];
        }
    } else {
        planes = std::move(data);
    }
    if (sampleBytes == 2)
        SwapShort(planes, planes.size() / 2);

    const std::size_t w = width;
    std::vector<std::uint8_t> lab;
    if (mode == CMYK) {
        for (std::uint8_t& b : planes)
            b = static_cast<std::uint8_t>(255 - b);
    } else if (mode == Lab) {
        // 8-bit L with signed a and b; 16-bit samples keep their high byte.
        lab = MakeBuffer(3 * planeSize / sampleBytes);
        for (std::size_t i = 0; i < lab.size(); ++i) {
            std::uint16_t wide = 0;
            if (sampleBytes == 2)
                std::memcpy(&wide, planes.data() + 2 * i, 2);
            const std::uint8_t sample = sampleBytes == 2 ? static_cast<std::uint8_t>(wide >> 8) : planes[i];
            lab[i] = static_cast<std::uint8_t>(i >= lab.size() / 3 ? sample - 128 : sample);
        }
    }
    for (std::size_t y = 0; y < filledRows; ++y) {
        std::uint8_t* row = ScanLine(static_cast<int>(y));
        auto plane = [&](std::size_t p) {
            return std::span<const std::uint8_t>(planes.data() + p * planeSize + y * rowBytes, rowBytes);
        };
        const std::span<std::uint8_t> dest(row, w * 3);
        switch (mode) {
        case RGBMode:
            ConvertRGBPlanar(plane(0), plane(1), plane(2), dest, depth, w * 3);
            break;
        case CMYK:
            ConvertCMYKPlanar(plane(0), plane(1), plane(2), plane(3), dest, depth, w * 4);
            break;
        case Lab: {
            auto labPlane = [&](std::size_t p) {
                return std::span<const std::uint8_t>(lab.data() + p * (planeSize / sampleBytes) + y * w, w);
            };
            ConvertLabPlanar(labPlane(0), labPlane(1), labPlane(2), dest, 8, w * 3);
            break;
        }
        default:
            if (sampleBytes == 2) {
                for (std::size_t x = 0; x < w; ++x) {
                    std::uint16_t v;
                    std::memcpy(&v, planes.data() + y * rowBytes + 2 * x, 2);
                    row[x] = static_cast<std::uint8_t>(v >> 8);
                }
            } else {
                std::memcpy(row, planes.data() + y * rowBytes, rowBytes);
            }
            break;
        }
    }
}
