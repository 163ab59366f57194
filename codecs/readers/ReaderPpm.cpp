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
// The first line is read no further than this.
constexpr std::size_t MaxLine = 1024;
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

    // Bytes up to a line feed or carriage return (a carriage return and line
    // feed count as one end), without a comment from "#" on. An empty stream
    // gives an empty line.
    std::string Line()
    {
        std::string text;
        try {
            for (;;) {
                const std::uint8_t b = Byte();
                if (b == '\n')
                    break;
                if (b == '\r') {
                    if (Peek() == '\n')
                        Byte();
                    break;
                }
                text += static_cast<char>(b);
                if (text.size() == MaxLine)
                    break; // no map has a first line this long
            }
        } catch (const EReadError&) {
        }
        const std::size_t hash = text.find('#');
        if (hash != std::string::npos)
            text.erase(hash);
        return text;
    }

    // Skips whitespace and comments up to the next digit and reads the
    // number; the byte after it is consumed. Numbers beyond largest and
    // bytes that are neither digits, whitespace nor comments are refused.
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
            if (b < '0' || b > '9')
                break;
        }
        return static_cast<std::uint32_t>(value);
    }

    // One pixel digit of a plain bitmap ("0" or "1", with or without
    // whitespace between them).
    bool Bit()
    {
        return (SkipToDigit() - '0') & 1;
    }

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

    int Peek()
    {
        if (FIndex >= FCount && !Refill())
            return -1;
        return FBuffer[FIndex];
    }

    std::uint8_t SkipToDigit()
    {
        for (;;) {
            const std::uint8_t b = Byte();
            if (b >= '0' && b <= '9')
                return b;
            if (b == '#') {
                while (Byte() != '\n') {
                }
            } else if (b != ' ' && b != '\t' && b != '\n' && b != '\r' && b != '\v' && b != '\f') {
                throw Exception("PPM: unexpected character in the picture.");
            }
        }
    }

    TStream& FStream;
    std::uint8_t FBuffer[BufferSize];
    std::size_t FIndex = 0;
    std::size_t FCount = 0;
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

} // namespace

void TPPMGraphic::LoadFromStream(TStream& stream)
{
    SetSize(0, 0);
    TPpmSource source(stream);
    const std::string first = source.Line();
    if (first.empty() || first[0] != 'P')
        throw Exception("Not a valid ppm file.");
    if (first.size() < 2 || first[1] < '0' || first[1] > '9')
        throw EConvertError("'" + first.substr(1, 1) + "' is not a valid integer value");
    const int type = first[1] - '0';
    if (type < 1 || type > 6)
        return;

    // The numbers of the header may follow on the first line itself.
    TMemoryStream rest(std::vector<std::uint8_t>(first.begin() + 2, first.end()));
    TPpmSource firstLine(rest);
    std::uint32_t header[3] = {};
    const int numbers = (type == 1 || type == 4) ? 2 : 3;
    int have = 0;
    try {
        while (have < numbers)
            header[have++] = firstLine.Number();
    } catch (const EReadError&) {
        // the first line ran out: the rest follows below it
    }
    while (have < numbers)
        header[have++] = source.Number();
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
    PrepareBitmap(*this, bits ? pf1bit : grey ? pf8bit : pf24bit, width, height, palette,
                  "PPM: invalid image size.");

    const std::size_t w = width;
    const std::size_t channels = grey ? 1 : 3;
    const std::size_t sampleBytes = maximum > 255 ? 2 : 1;
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
