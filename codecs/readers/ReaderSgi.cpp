// SGI image reading: grey, RGB and RGBA, raw or run-length, one or two bytes
// a sample (two-byte samples keep their most significant byte). Channels are
// stored one after the other, each from the bottom row up.

#include "ImageReaders.h"
#include "ReaderCompression.h"
#include "ReaderSupport.h"

#include "ByteOrder.h"
#include "Exceptions.h"

#include <algorithm>

namespace {

constexpr std::size_t HeaderSize = 512;

} // namespace

void TSGIGraphic::LoadFromStream(TStream& stream)
{
    SetSize(0, 0);
    const std::int64_t base = stream.Position();
    std::uint8_t header[HeaderSize];
    stream.ReadBuffer(header, HeaderSize);
    if (GetU16BE(header) != 474)
        throw Exception("Not a valid sgi, bw or rgb(a) image.");
    const bool packed = header[2] == 1;
    const std::size_t sampleSize = header[3];
    if (sampleSize != 1 && sampleSize != 2)
        throw Exception("SGI: a sample must take 1 or 2 bytes.");
    const std::size_t width = GetU16BE(header + 6);
    const std::size_t height = GetU16BE(header + 8);
    const std::size_t depth = std::max<std::size_t>(GetU16BE(header + 10), 1);
    const std::size_t channels = depth == 3 ? 3 : depth == 4 ? 4 : 1;
    const TPixelFormat format = channels == 3 ? pf24bit : channels == 4 ? pf32bit : pf8bit;

    const std::int64_t fileEnd = stream.Size();
    const std::size_t rowBytes = width * sampleSize;
    const std::size_t entries = height * depth;
    std::vector<std::uint32_t> starts;
    std::vector<std::uint32_t> lengths;
    if (packed) {
        // Both tables must be in the file before they are allocated.
        if (static_cast<std::uint64_t>(entries) * 8 > static_cast<std::uint64_t>(fileEnd - stream.Position()))
            ShortFileError("SGI");
        std::vector<std::uint8_t> tables = MakeBuffer(entries * 8);
        stream.ReadBuffer(tables.data(), tables.size());
        starts.resize(entries);
        lengths.resize(entries);
        for (std::size_t i = 0; i < entries; ++i) {
            starts[i] = GetU32BE(tables.data() + 4 * i);
            lengths[i] = GetU32BE(tables.data() + 4 * (entries + i));
        }
        // A run packet of one header and one sample gives at most 127
        // samples.
        CheckEncodable(stream, 2 * sampleSize * width * height * channels, 127,
                       "SGI: the file is too short for the picture it claims.");
    } else if (static_cast<std::uint64_t>(base) + HeaderSize + static_cast<std::uint64_t>(rowBytes) * entries >
               static_cast<std::uint64_t>(fileEnd)) {
        ShortFileError("SGI");
    }
    PrepareBitmap(*this, format, static_cast<std::int64_t>(width), static_cast<std::int64_t>(height),
                  GreyPalette(256), "SGI: invalid image size.");

    // A run-length row of width samples never needs more than this; longer
    // rows are cut to it.
    std::vector<std::uint8_t> packedRow = MakeBuffer(rowBytes * 3 + 2 * sampleSize);
    std::vector<std::uint8_t> planes = MakeBuffer(width * channels);
    TSGIRLE decoder;
    decoder.SampleSize = static_cast<std::uint8_t>(sampleSize);

    auto readChannel = [&](std::size_t c, std::size_t r, std::uint8_t* dest) {
        const std::size_t entry = c * height + r;
        if (packed) {
            const std::int64_t at = base + starts[entry];
            if (at >= fileEnd)
                ShortFileError("SGI");
            stream.SetPosition(at);
            const std::size_t want = std::min<std::size_t>(lengths[entry], packedRow.size());
            const std::size_t got = ReadUpTo(stream, packedRow.data(), want);
            const std::uint8_t* source = packedRow.data();
            std::fill(dest, dest + width, std::uint8_t{0});
            decoder.Decode(source, dest, got, width);
        } else {
            stream.SetPosition(base + static_cast<std::int64_t>(HeaderSize + entry * rowBytes));
            stream.ReadBuffer(packedRow.data(), rowBytes);
            for (std::size_t x = 0; x < width; ++x)
                dest[x] = packedRow[x * sampleSize];
        }
    };

    for (std::size_t r = 0; r < height; ++r) {
        for (std::size_t c = 0; c < channels; ++c)
            readChannel(c, r, planes.data() + c * width);
        std::uint8_t* row = ScanLine(static_cast<int>(height - 1 - r));
        if (channels == 1) {
            std::copy(planes.begin(), planes.begin() + static_cast<std::ptrdiff_t>(width), row);
            continue;
        }
        for (std::size_t x = 0; x < width; ++x) {
            row[channels * x] = planes[2 * width + x];
            row[channels * x + 1] = planes[width + x];
            row[channels * x + 2] = planes[x];
            if (channels == 4)
                row[4 * x + 3] = planes[3 * width + x];
        }
    }
}
