// GIF reading, first image only, as an 8-bit bitmap with the image's colour
// table: the fallback for builds without the GIF image class.

#include "ImageReaders.h"
#include "ReaderCompression.h"
#include "ReaderSupport.h"

#include "ByteOrder.h"
#include "Exceptions.h"

#include <cctype>
#include <cstring>

namespace {

TPalette ReadColourTable(TStream& stream, std::uint8_t flags)
{
    const std::size_t count = std::size_t{2} << (flags & 7);
    std::uint8_t rgb[3 * 256];
    stream.ReadBuffer(rgb, 3 * count);
    TPalette palette(count);
    for (std::size_t k = 0; k < count; ++k)
        palette[k] = TPaletteEntry{rgb[3 * k], rgb[3 * k + 1], rgb[3 * k + 2], 0};
    return palette;
}

// The data of the sub-blocks that follow, up to the zero length or the end of
// the stream.
std::vector<std::uint8_t> ReadSubBlocks(TStream& stream)
{
    std::vector<std::uint8_t> data;
    std::uint8_t length = 0;
    while (ReadUpTo(stream, &length, 1) == 1 && length != 0) {
        const std::size_t at = data.size();
        data.resize(at + length);
        const std::size_t got = ReadUpTo(stream, data.data() + at, length);
        if (got < length) {
            data.resize(at + got);
            break;
        }
    }
    return data;
}

} // namespace

void TGIFGraphic::LoadFromStream(TStream& stream)
{
    SetSize(0, 0);
    SetPixelFormat(pf8bit);
    std::uint8_t header[13];
    stream.ReadBuffer(header, sizeof header);
    if (std::toupper(header[0]) != 'G' || std::toupper(header[1]) != 'I' || std::toupper(header[2]) != 'F')
        throw Exception("Not a valid GIF file.");
    const std::size_t screenWidth = GetU16LE(header + 6);
    const std::size_t screenHeight = GetU16LE(header + 8);
    TPalette palette = GreyPalette(256);
    if (header[10] & 0x80)
        palette = ReadColourTable(stream, header[10]);

    // Up to the first image; extensions are passed over by their sub-blocks.
    for (;;) {
        const std::uint8_t b = stream.ReadU8();
        if (b == ';')
            return;
        if (b == ',')
            break;
        if (b == '!') {
            stream.ReadU8(); // label
            ReadSubBlocks(stream);
        }
    }
    std::uint8_t descriptor[9];
    stream.ReadBuffer(descriptor, sizeof descriptor);
    std::size_t width = GetU16LE(descriptor + 4);
    std::size_t height = GetU16LE(descriptor + 6);
    if (width == 0)
        width = screenWidth;
    if (height == 0)
        height = screenHeight;
    const bool interlaced = descriptor[8] & 0x40;
    if (descriptor[8] & 0x80)
        palette = ReadColourTable(stream, descriptor[8]);
    const std::uint8_t codeSize = stream.ReadU8();
    if (codeSize < 1 || codeSize > 8)
        throw Exception("GIF: invalid LZW code size.");
    // A code takes at least codeSize + 1 bits and gives at most 4096 pixels.
    CheckEncodable(stream, std::uint64_t{width} * height * (codeSize + 1), 8 * 4096,
                   "GIF: the file is too short for the picture it claims.");
    PrepareBitmap(*this, pf8bit, static_cast<std::int64_t>(width), static_cast<std::int64_t>(height), palette,
                  "GIF: invalid image size.");

    const std::vector<std::uint8_t> data = ReadSubBlocks(stream);
    std::vector<std::uint8_t> pixels = MakeBuffer(width * height);
    TGIFLZW decoder;
    decoder.InitialCodeSize = codeSize;
    const std::uint8_t* source = data.data();
    decoder.Decode(source, pixels.data(), data.size(), pixels.size());

    // Interlaced rows come in four passes: every 8th from 0, every 8th from
    // 4, every 4th from 2, every 2nd from 1.
    static const std::size_t firstRow[] = {0, 4, 2, 1};
    static const std::size_t step[] = {8, 8, 4, 2};
    std::size_t stored = 0;
    for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass) {
        const std::size_t first = interlaced ? firstRow[pass] : 0;
        const std::size_t every = interlaced ? step[pass] : 1;
        for (std::size_t y = first; y < height; y += every)
            std::memcpy(ScanLine(static_cast<int>(y)), pixels.data() + width * stored++, width);
    }
}
