// ZSoft PCX reading (also .pcc and Word screen captures): 1 bit, 4 planes of
// 1 bit, 8 bits with the palette trailer or greys, and 24 bits in three
// planes, raw or run-length. Reading only.

#include "ImageReaders.h"
#include "ReaderCompression.h"
#include "ReaderSupport.h"

#include "Beep.h"
#include "ByteOrder.h"
#include "Exceptions.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace {

constexpr std::size_t HeaderSize = 128;
constexpr std::size_t TrailerSize = 769;

TPalette Triples(const std::uint8_t* rgb, int count)
{
    TPalette palette(static_cast<std::size_t>(count));
    for (int k = 0; k < count; ++k)
        palette[k] = TPaletteEntry{rgb[3 * k], rgb[3 * k + 1], rgb[3 * k + 2], 0};
    return palette;
}

} // namespace

void TPCXGraphic::LoadFromStream(TStream& stream)
{
    SetSize(0, 0);
    std::uint8_t header[HeaderSize];
    stream.ReadBuffer(header, HeaderSize);
    if (header[0] != 10 && header[0] != 205)
        throw Exception("Not a PCX or SCR file.");
    const int version = header[1];
    const bool packed = header[2] == 1;
    const int bits = header[3];
    const int planes = header[65];
    const std::int64_t width = std::int64_t(GetU16LE(header + 8)) - GetU16LE(header + 4) + 1;
    const std::int64_t height = std::int64_t(GetU16LE(header + 10)) - GetU16LE(header + 6) + 1;
    const std::size_t bytesPerLine = GetU16LE(header + 66);
    const bool greyInfo = GetU16LE(header + 68) == 2;

    TPixelFormat format;
    if (bits == 1 && planes == 1)
        format = pf1bit;
    else if (bits == 1 && planes == 4)
        format = pf4bit;
    else if (bits == 8 && planes == 1)
        format = pf8bit;
    else if (bits == 8 && planes == 3)
        format = pf24bit;
    else
        throw Exception("PCX: wrong pixel format");
    if (width <= 0 || height <= 0)
        throw Exception("PCX: invalid image size.");
    // Bytes one plane of a row needs.
    const std::size_t planeBytes = bits == 1 ? (static_cast<std::size_t>(width) + 7) / 8 : static_cast<std::size_t>(width);
    if (bytesPerLine < planeBytes)
        throw Exception("PCX: the bytes per line do not hold the image width.");

    const std::int64_t start = stream.Position();
    const std::int64_t size = stream.Size();
    TPalette palette;
    if (format == pf24bit) {
    } else if (version == 3 && format != pf1bit) {
        palette = SystemPalette16();
    } else if (format == pf1bit) {
        palette = {TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{255, 255, 255, 0}};
    } else if (format == pf4bit) {
        palette = greyInfo ? GreyPalette(16, 16) : Triples(header + 16, 16);
    } else {
        std::uint8_t trailer[TrailerSize];
        if (size - start >= static_cast<std::int64_t>(TrailerSize)) {
            stream.SetPosition(size - static_cast<std::int64_t>(TrailerSize));
            stream.ReadBuffer(trailer, TrailerSize);
            stream.SetPosition(start);
        } else {
            trailer[0] = 0;
        }
        // Without a trailer the picture is shown in greys; unless the header
        // says it is grey, the beep tells that its colours are missing.
        if (trailer[0] == 12) {
            palette = Triples(trailer + 1, 256);
        } else {
            if (!greyInfo)
                Beep();
            palette = GreyPalette(256, 1);
        }
    }

    // The data, without the 8-bit palette trailer's place.
    std::int64_t available = size - start;
    if (format == pf8bit)
        available -= static_cast<std::int64_t>(TrailerSize);
    if (available <= 0)
        ShortFileError("PCX");
    const std::size_t lineSize = static_cast<std::size_t>(planes) * bytesPerLine;
    const std::size_t rows = static_cast<std::size_t>(height);
    // The picture is made only when the data could hold it: all its bytes
    // when raw; when run-length, two bytes give at most a run of 63 (the
    // sizes below are doubled to keep to whole numbers). The trailer's
    // place counts as no data.
    const std::size_t data = static_cast<std::size_t>(available);
    const std::uint64_t lines = std::uint64_t{rows} * lineSize;
    const std::uint64_t reserved = static_cast<std::uint64_t>(size - start) - data;
    const std::string shortFile = ShortFileMessage("PCX");
    if (packed)
        CheckEncodable(stream, 2 * lines + 63 * reserved, 63, shortFile.c_str());
    else
        CheckEncodable(stream, lines + reserved, 1, shortFile.c_str());
    PrepareBitmap(*this, format, width, height, palette, "PCX: invalid image size.");

    std::vector<std::uint8_t> buffer = MakeBuffer(data);
    const std::size_t got = ReadUpTo(stream, buffer.data(), data);
    std::vector<std::uint8_t> pixels;
    std::size_t filled;
    if (packed) {
        pixels = MakeBuffer(rows * lineSize);
        TPCXRLE decoder;
        const std::uint8_t* source = buffer.data();
        filled = decoder.Decode(source, pixels.data(), got, pixels.size());
    } else {
        buffer.resize(got);
        pixels = std::move(buffer);
        filled = pixels.size();
    }

    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t whole = std::min(rows, filled / lineSize);
    for (std::size_t y = 0; y < whole; ++y) {
        const std::uint8_t* line = pixels.data() + y * lineSize;
        std::uint8_t* row = ScanLine(static_cast<int>(y));
        switch (format) {
        case pf1bit:
            std::memcpy(row, line, planeBytes);
            break;
        case pf4bit:
            for (std::size_t x = 0; x < w; ++x) {
                const std::size_t byte = x / 8;
                const int shift = 7 - static_cast<int>(x % 8);
                int index = 0;
                for (int p = 0; p < 4; ++p)
                    index |= ((line[p * bytesPerLine + byte] >> shift) & 1) << p;
                if (x % 2 == 0)
                    row[x / 2] = static_cast<std::uint8_t>((row[x / 2] & 0x0F) | (index << 4));
                else
                    row[x / 2] = static_cast<std::uint8_t>((row[x / 2] & 0xF0) | index);
            }
            break;
        case pf8bit:
            std::memcpy(row, line, w);
            break;
        default:
            for (std::size_t x = 0; x < w; ++x) {
                row[3 * x] = line[2 * bytesPerLine + x];
                row[3 * x + 1] = line[bytesPerLine + x];
                row[3 * x + 2] = line[x];
            }
            break;
        }
    }
    if (whole < rows)
        ShortFileError("PCX");
}

void TPCXGraphic::SaveToStream(TStream&) const {}

void TPCXGraphic::SaveToFile(const std::string&) const
{
    RefuseSave("ZSoft PCX");
}
