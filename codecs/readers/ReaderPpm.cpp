// Portable bitmap, grey map and pixel map reading: the three types in their
// plain (text) and binary forms, with comments between the header numbers.
// Samples are scaled from the file's maximum value to 0..255; binary maps
// whose maximum is above 255 carry two bytes a sample, most significant first.

#include "ImageReaders.h"
#include "ReaderSupport.h"

#include "Exceptions.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

constexpr std::size_t BufferSize = 4096;
// The largest maximum value a map may give.
constexpr std::uint32_t LargestMaximum = 65535;
// Header numbers beyond this are refused rather than wrapped.
constexpr std::uint32_t LargestNumber = 0x7FFFFFFF;

// The map's bytes through a buffer of its own.
class TPpmSource {
public:
    explicit TPpmSource(TStream& stream) : FStream(stream) {}

    // The next byte; raises the read error at the end of the stream.
    std::uint8_t Byte()
    {
        if (FIndex >= FCount) {
            FCount = ReadUpTo(FStream, FBuffer, BufferSize);
            FIndex = 0;
            if (FCount == 0)
                throw EReadError("PPM: Stream read error.");
        }
        return FBuffer[FIndex++];
    }

    // The next byte, or -1 at the end of the stream.
    int Get()
    {
        const int b = Peek();
        if (b >= 0)
            ++FIndex;
        return b;
    }

    int Peek()
    {
        if (FIndex >= FCount && !Refill())
            return -1;
        return FBuffer[FIndex];
    }

    // Skips every byte up to the next digit, comments to the end of their
    // line, and reads the number; the byte after it is consumed, and with it
    // the rest of the line when that byte starts a comment. Numbers beyond
    // largest, and numbers with a minus sign, are refused.
    std::uint32_t Number(std::uint32_t largest = LargestNumber)
    {
        std::uint8_t b = SkipToDigit();
        std::uint64_t value = 0;
        for (;;) {
            value = value * 10 + (b - '0');
            if (value > largest)
                throw Exception("PPM: number out of range.");
            if (FIndex >= FCount && !Refill())
                break; // a number may end the file
            b = Byte();
            if (b == '#')
                SkipComment();
            if (b < '0' || b > '9') {
                FMinus = b == '-';
                break;
            }
        }
        return static_cast<std::uint32_t>(value);
    }

    // One pixel digit of a plain bitmap ("0" or "1", with or without
    // anything between them).
    bool Bit()
    {
        return (SkipToDigit() - '0') & 1;
    }

    // The bytes read from the stream and not yet taken.
    std::size_t Buffered() const { return FCount - FIndex; }

    // Reads count bytes.
    void Read(std::uint8_t* dest, std::size_t count)
    {
        while (count > 0) {
            if (FIndex >= FCount) {
                // Whole buffers' worth go straight from the stream.
                if (count >= BufferSize) {
                    const std::size_t n = ReadUpTo(FStream, dest, count);
                    if (n < count)
                        throw EReadError("PPM: Stream read error.");
                    return;
                }
                if (!Refill())
                    throw EReadError("PPM: Stream read error.");
            }
            const std::size_t n = std::min(count, FCount - FIndex);
            std::copy(FBuffer + FIndex, FBuffer + FIndex + n, dest);
            FIndex += n;
            dest += n;
            count -= n;
        }
    }

private:
    bool Refill()
    {
        FCount = ReadUpTo(FStream, FBuffer, BufferSize);
        FIndex = 0;
        return FCount > 0;
    }

    // The rest of a comment, up to and with its line feed or the end of
    // the stream.
    void SkipComment()
    {
        for (int b = Get(); b >= 0 && b != '\n'; b = Get()) {
        }
    }

    // The next digit; a minus sign right before it is refused, as the
    // number would be negative.
    std::uint8_t SkipToDigit()
    {
        for (;;) {
            const std::uint8_t b = Byte();
            if (b >= '0' && b <= '9') {
                if (FMinus)
                    throw Exception("PPM: negative number.");
                return b;
            }
            FMinus = b == '-';
            if (b == '#')
                SkipComment();
        }
    }

    TStream& FStream;
    std::uint8_t FBuffer[BufferSize];
    std::size_t FIndex = 0;
    std::size_t FCount = 0;
    bool FMinus = false; // the last byte passed over was a minus sign
};

// Samples of 0..maximum scaled to 0..255 (halves up), looked up by value;
// larger samples are full.
class TScale {
public:
    explicit TScale(std::uint32_t maximum) : FTable(maximum + 1)
    {
        for (std::uint32_t v = 0; v <= maximum; ++v)
            FTable[v] = static_cast<std::uint8_t>((v * 255u + maximum / 2) / maximum);
    }
    std::uint8_t operator()(std::uint32_t sample) const { return sample < FTable.size() ? FTable[sample] : 255; }

private:
    std::vector<std::uint8_t> FTable;
};

// a x b, or the largest value when that does not fit.
std::uint64_t SaturatingProduct(std::uint64_t a, std::uint64_t b)
{
    return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

} // namespace

void TPPMGraphic::LoadFromStream(TStream& stream)
{
    SetSize(0, 0);
    TPpmSource source(stream);
    if (source.Get() != 'P')
        throw Exception("Not a valid ppm file.");
    const int digit = source.Peek();
    if (digit < '0' || digit > '9') {
        const bool shown = digit >= 0 && digit != '\n' && digit != '\r' && digit != '#';
        throw EConvertError("'" + (shown ? std::string(1, static_cast<char>(digit)) : std::string()) +
                            "' is not a valid integer value");
    }
    source.Get();
    const int type = digit - '0';
    if (type < 1 || type > 6)
        throw Exception("PPM: unknown map type P" + std::to_string(type) + ".");

    // The header numbers, whether on the first line beside the type or on
    // the lines below it; binary samples start right after the byte that
    // ends the last one, even on the first line.
    std::uint32_t header[3] = {};
    const int numbers = (type == 1 || type == 4) ? 2 : 3;
    for (int k = 0; k < numbers; ++k)
        header[k] = source.Number();
    const std::uint32_t width = header[0];
    const std::uint32_t height = header[1];
    const std::uint32_t maximum = numbers == 3 ? header[2] : 1;
    if (maximum == 0 || maximum > LargestMaximum)
        throw Exception("PPM: the maximum sample value must be 1 to 65535.");

    const bool bits = type == 1 || type == 4;
    const bool grey = type == 2 || type == 5;
    TPalette palette;
    if (bits)
        palette = {TPaletteEntry{255, 255, 255, 0}, TPaletteEntry{0, 0, 0, 0}};
    else if (grey)
        palette = GreyPalette(256);
    const std::size_t w = width;
    const std::size_t channels = bits || grey ? 1 : 3;
    const std::size_t sampleBytes = maximum > 255 ? 2 : 1;
    // The picture is made only when the rest of the file could hold it:
    // all its bytes when binary; when plain, a digit and a separator a
    // sample (none after the last), and for a plain bitmap one digit a
    // pixel, which needs no separator.
    const std::uint64_t samples = SaturatingProduct(std::uint64_t{width} * height, channels);
    std::uint64_t need = 0;
    if (type == 4)
        need = SaturatingProduct((w + 7) / 8, height);
    else if (type >= 5)
        need = SaturatingProduct(samples, sampleBytes);
    else if (type == 1)
        need = samples;
    else if (samples > 0)
        need = SaturatingProduct(samples, 2) - 1;
    const std::uint64_t buffered = source.Buffered();
    CheckEncodable(stream, need > buffered ? need - buffered : 0, 1, "PPM: Stream read error.");
    PrepareBitmap(*this, bits ? pf1bit : grey ? pf8bit : pf24bit, width, height, palette,
                  "PPM: invalid image size.");
    const TScale scale(maximum);
    std::vector<std::uint8_t> packed;
    if (type == 5 || type == 6)
        packed = MakeBuffer(w * channels * sampleBytes);
    for (int y = 0; y < static_cast<int>(height); ++y) {
        std::uint8_t* row = ScanLine(y);
        switch (type) {
        case 1:
            for (std::size_t x = 0; x < w; ++x) {
                const std::uint8_t mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
                if (source.Bit())
                    row[x / 8] |= mask;
                else
                    row[x / 8] &= static_cast<std::uint8_t>(~mask);
            }
            break;
        case 4:
            source.Read(row, (w + 7) / 8);
            break;
        case 2:
        case 3:
            for (std::size_t x = 0; x < w; ++x) {
                if (grey) {
                    row[x] = scale(source.Number());
                } else {
                    row[3 * x + 2] = scale(source.Number());
                    row[3 * x + 1] = scale(source.Number());
                    row[3 * x] = scale(source.Number());
                }
            }
            break;
        default: {
            source.Read(packed.data(), packed.size());
            if (sampleBytes == 1 && maximum == 255) {
                if (grey) {
                    std::copy(packed.begin(), packed.end(), row);
                } else {
                    for (std::size_t x = 0; x < w; ++x) {
                        row[3 * x] = packed[3 * x + 2];
                        row[3 * x + 1] = packed[3 * x + 1];
                        row[3 * x + 2] = packed[3 * x];
                    }
                }
                break;
            }
            auto sample = [&](std::size_t i) {
                const std::uint32_t v =
                    sampleBytes == 2 ? (std::uint32_t(packed[2 * i]) << 8) | packed[2 * i + 1] : packed[i];
                return scale(v);
            };
            if (grey) {
                for (std::size_t x = 0; x < w; ++x)
                    row[x] = sample(x);
            } else {
                for (std::size_t x = 0; x < w; ++x) {
                    row[3 * x] = sample(3 * x + 2);
                    row[3 * x + 1] = sample(3 * x + 1);
                    row[3 * x + 2] = sample(3 * x);
                }
            }
            break;
        }
        }
    }
}
