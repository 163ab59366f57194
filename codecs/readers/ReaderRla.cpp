// Wavefront RLA reading: RGB, or RGB with a matte as 32 bits. Each row lies
// at its own offset and holds one run-length record a channel. Integer
// channels of 1 to 16 bits are scaled to 8 bits; a channel of more than 8
// bits keeps its samples in two bytes, big-endian, and its record holds the
// packets of all the high bytes, then those of all the low bytes.

#include "ImageReaders.h"
#include "ReaderCompression.h"
#include "ReaderSupport.h"

#include "ByteOrder.h"
#include "Exceptions.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr std::size_t HeaderSize = 740;

std::int16_t Signed16(const std::uint8_t* p)
{
    return static_cast<std::int16_t>(GetU16BE(p));
}

// The storage types of the header; bits a channel of 0 (files of the older
// header revision) stand for the type's own size.
enum RlaStorage : std::int16_t { rsByte = 0, rsWord = 1, rsDword = 2, rsFloat = 4 };

// The size of a group of channels, from its storage type and bits, and the
// scale of its samples to 8 bits.
struct ChannelSize {
    int Bits = 8;
    std::size_t SampleBytes = 1;
    std::vector<std::uint8_t> To8; // sample value to 8 bits, empty for 8 bits

    ChannelSize(std::int16_t storage, std::int16_t bits)
    {
        if (storage == rsFloat)
            throw Exception("RLA: floating-point channels cannot be read.");
        Bits = bits != 0 ? bits : storage == rsWord ? 16 : storage == rsDword ? 32 : 8;
        if (Bits < 1 || Bits > 16)
            throw Exception("RLA: channels of " + std::to_string(Bits) + " bits cannot be read.");
        SampleBytes = Bits > 8 ? 2 : 1;
        if (Bits == 8)
            return;
        // Rounded to the nearest level; values above the largest of the
        // bits (damaged data) show as the largest.
        const std::uint32_t top = (1u << Bits) - 1;
        To8 = MakeBuffer(std::size_t{1} << (8 * SampleBytes), 255);
        for (std::uint32_t v = 0; v <= top; ++v)
            To8[v] = static_cast<std::uint8_t>((v * 255 + top / 2) / top);
    }
};

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
    const ChannelSize colourSize(Signed16(header + 18), Signed16(header + 658));
    const ChannelSize matteSize = matte ? ChannelSize(Signed16(header + 660), Signed16(header + 662)) : colourSize;
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
    const std::uint64_t sampleBytes = 3 * colourSize.SampleBytes + (matte ? matteSize.SampleBytes : 0);
    CheckEncodable(stream, sampleBytes * w * rows, 64, "RLA: the file is too short for the picture it claims.");
    PrepareBitmap(*this, matte ? pf32bit : pf24bit, width, height, {}, "RLA: invalid image size.");

    // No record of a row of width bytes is longer than twice the width
    // (for each byte of a sample); the excess of a longer one is passed over.
    const std::size_t widest = std::max(colourSize.SampleBytes, matteSize.SampleBytes);
    std::vector<std::uint8_t> packed = MakeBuffer(w * 2 * widest);
    std::vector<std::uint8_t> planes = MakeBuffer(w * 4);
    std::vector<std::uint8_t> lowBytes;
    if (widest == 2)
        lowBytes = MakeBuffer(w);
    TRLADecoder decoder;

    // Decodes one channel's record into dest, width samples scaled to 8
    // bits; a null dest reads the record over.
    auto readRecord = [&](std::uint8_t* dest, const ChannelSize& size) {
        std::uint8_t count[2];
        read(count, 2);
        const std::size_t length = GetU16BE(count);
        const std::size_t take = std::min(length, packed.size());
        read(packed.data(), take);
        if (length > take) {
            if (stream.Remaining() < static_cast<std::int64_t>(length - take))
                ShortFileError("RLA");
            stream.Seek(static_cast<std::int64_t>(length - take), soCurrent);
        }
        if (!dest)
            return;
        const std::uint8_t* source = packed.data();
        std::fill(dest, dest + w, std::uint8_t{0});
        decoder.Decode(source, dest, take, w);
        if (size.SampleBytes == 2) {
            const std::size_t used = decoder.Consumed();
            const std::uint8_t* rest = source + used;
            std::fill(lowBytes.begin(), lowBytes.end(), std::uint8_t{0});
            decoder.Decode(rest, lowBytes.data(), take - used, w);
            for (std::size_t x = 0; x < w; ++x)
                dest[x] = size.To8[(std::size_t{dest[x]} << 8) | lowBytes[x]];
        } else if (!size.To8.empty()) {
            for (std::size_t x = 0; x < w; ++x)
                dest[x] = size.To8[dest[x]];
        }
    };

    for (std::size_t k = 0; k < rows; ++k) {
        const std::int64_t at = base + GetU32BE(table.data() + 4 * k);
        if (at >= fileEnd)
            ShortFileError("RLA");
        stream.SetPosition(at);
        for (std::size_t c = 0; c < 3; ++c)
            readRecord(planes.data() + c * w, colourSize);
        if (matte) {
            // A fourth colour channel comes before the matte.
            if (colourChannels == 4)
                readRecord(nullptr, colourSize);
            readRecord(planes.data() + 3 * w, matteSize);
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
