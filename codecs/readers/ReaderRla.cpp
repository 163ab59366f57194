// Wavefront RLA reading: RGB, or RGB with a matte as 32 bits. Each row lies
// at its own offset and holds one run-length record a channel.

#include "ImageReaders.h"
#include "ReaderCompression.h"
#include "ReaderSupport.h"

#include "ByteOrder.h"
#include "Exceptions.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr std::size_t HeaderSize = 740;

std::int16_t Signed16(const std::uint8_t* p)
{
    return static_cast<std::int16_t>(GetU16BE(p));
}

} // namespace

void TRLAGraphic::LoadFromStream(TStream& stream)
{
    SetSize(0, 0);
    const std::int64_t base = stream.Position();
    const std::int64_t fileEnd = stream.Size();
    auto read = [&](void* buffer, std::size_t count) { ReadOrShortFileError(stream, buffer, count, "RLA"); };
    std::uint8_t header[HeaderSize];
    read(header, HeaderSize);
    const int colourChannels = Signed16(header + 20);
    if (colourChannels != 3 && colourChannels != 4)
        throw Exception("RLA: image must be RGB(A).");
    const bool matte = Signed16(header + 22) != 0;
    const std::int64_t width = std::int64_t{Signed16(header + 10)} - Signed16(header + 8) + 1;
    const std::int64_t bottom = Signed16(header + 12);
    const std::int64_t top = Signed16(header + 14);
    const std::int64_t height = std::abs(bottom - top) + 1;
    const bool fromBottom = bottom < top;
    if (width <= 0)
        throw Exception("RLA: invalid image size.");
    const std::size_t rows = static_cast<std::size_t>(height);
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t bytes = matte ? 4 : 3;
    // The row offsets, then the picture, only once the file could hold them.
    if (static_cast<std::int64_t>(rows * 4) > stream.Remaining())
        ShortFileError("RLA");
    std::vector<std::uint8_t> table = MakeBuffer(rows * 4);
    read(table.data(), table.size());
    // A run packet of two bytes gives at most 128 bytes of a channel.
    CheckEncodable(stream, std::uint64_t{bytes} * w * rows, 64,
                   "RLA: the file is too short for the picture it claims.");
    PrepareBitmap(*this, matte ? pf32bit : pf24bit, width, height, {}, "RLA: invalid image size.");

    // No record of a row of width bytes is longer than twice the width;
    // the excess of a longer one is passed over.
    std::vector<std::uint8_t> packed = MakeBuffer(w * 2);
    std::vector<std::uint8_t> planes = MakeBuffer(w * 4);
    TRLADecoder decoder;

    auto readRecord = [&](std::uint8_t* dest) {
        std::uint8_t count[2];
        read(count, 2);
        const std::size_t size = GetU16BE(count);
        const std::size_t take = std::min(size, packed.size());
        read(packed.data(), take);
        if (size > take) {
            if (stream.Remaining() < static_cast<std::int64_t>(size - take))
                ShortFileError("RLA");
            stream.Seek(static_cast<std::int64_t>(size - take), soCurrent);
        }
        if (dest) {
            const std::uint8_t* source = packed.data();
            std::fill(dest, dest + w, std::uint8_t{0});
            decoder.Decode(source, dest, take, w);
        }
    };

    for (std::size_t k = 0; k < rows; ++k) {
        const std::int64_t at = base + GetU32BE(table.data() + 4 * k);
        if (at >= fileEnd)
            ShortFileError("RLA");
        stream.SetPosition(at);
        for (std::size_t c = 0; c < 3; ++c)
            readRecord(planes.data() + c * w);
        if (matte) {
            // A fourth colour channel comes before the matte.
            if (colourChannels == 4)
                readRecord(nullptr);
            readRecord(planes.data() + 3 * w);
        }
        std::uint8_t* row = ScanLine(static_cast<int>(fromBottom ? rows - 1 - k : k));
        for (std::size_t x = 0; x < w; ++x) {
            row[bytes * x] = planes[2 * w + x];
            row[bytes * x + 1] = planes[w + x];
            row[bytes * x + 2] = planes[x];
            if (matte)
                row[4 * x + 3] = planes[3 * w + x];
        }
    }
}
