// Autodesk Animator pictures (old style): a 32-byte header, a palette of 256
// six-bit colours and one byte a pixel, rows from the top.

#include "ImageReaders.h"
#include "ReaderSupport.h"

#include "ByteOrder.h"
#include "Exceptions.h"

namespace {

constexpr std::size_t HeaderSize = 32;
constexpr std::size_t PaletteSize = 768;

} // namespace

void TAutodeskGraphic::LoadFromStream(TStream& stream)
{
    SetSize(0, 0);
    std::uint8_t header[HeaderSize];
    stream.ReadBuffer(header, 2);
    if (GetU16LE(header) != 0x9119)
        throw Exception("Cannot load image. Only old style Autodesk images are supported.");
    stream.ReadBuffer(header + 2, HeaderSize - 2);
    std::uint8_t colours[PaletteSize];
    stream.ReadBuffer(colours, PaletteSize);
    TPalette palette(256);
    for (std::size_t k = 0; k < 256; ++k) {
        // Six-bit components; the top bits of a stray byte are dropped.
        auto six = [&](std::size_t i) { return static_cast<std::uint8_t>((colours[3 * k + i] & 0x3F) * 4); };
        palette[k] = TPaletteEntry{six(0), six(1), six(2), 0};
    }
    const std::size_t width = GetU16LE(header + 2);
    const std::size_t height = GetU16LE(header + 4);
    if (static_cast<std::uint64_t>(width) * height > static_cast<std::uint64_t>(stream.Remaining()))
        ShortFileError("Autodesk");
    PrepareBitmap(*this, pf8bit, static_cast<std::int64_t>(width), static_cast<std::int64_t>(height), palette,
                  "Autodesk: invalid image size.");
    for (std::size_t y = 0; y < height; ++y)
        stream.ReadBuffer(ScanLine(static_cast<int>(y)), width);
}
