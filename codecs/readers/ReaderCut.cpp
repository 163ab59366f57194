// Dr. Halo CUT reading: 8-bit run-length rows, with the palette taken from the
// ".pal" file beside the picture (greys when there is none).

#include "ImageReaders.h"
#include "ReaderCompression.h"
#include "ReaderSupport.h"

#include "ByteOrder.h"
#include "Exceptions.h"

#include <filesystem>
#include <system_error>

namespace {

constexpr std::size_t BlockSize = 512;
constexpr std::size_t FirstEntry = 40;
constexpr std::size_t EntrySize = 6;

// The name with its extension (after the last dot of the last path
// component) replaced by extension.
std::string ChangeExtension(const std::string& name, const std::string& extension)
{
    const std::size_t slash = name.rfind('/');
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return name + extension;
    return name.substr(0, dot) + extension;
}

bool IsFile(const std::string& name)
{
    std::error_code error;
    return std::filesystem::is_regular_file(name, error);
}

// The entries of a palette file: their count is stored less one at offset 12
// of the first block; an entry never straddles two blocks. Only the first 256
// entries are used.
TPalette ReadPaletteFile(const std::string& fileName)
{
    TFileStream file(fileName, fmOpenRead);
    std::uint8_t block[BlockSize];
    file.ReadBuffer(block, BlockSize);
    const std::size_t count = std::min<std::size_t>(std::size_t{GetU16LE(block + 12)} + 1, MaxPaletteEntries);
    TPalette palette(count);
    std::size_t at = FirstEntry;
    for (std::size_t k = 0; k < count; ++k) {
        if (at + EntrySize > BlockSize) {
            file.ReadBuffer(block, BlockSize);
            at = 0;
        }
        palette[k] = TPaletteEntry{block[at], block[at + 2], block[at + 4], 0};
        at += EntrySize;
    }
    return palette;
}

} // namespace

void TCUTGraphic::LoadFromStream(TStream& stream)
{
    SetSize(0, 0);
    std::uint8_t header[6];
    stream.ReadBuffer(header, sizeof header);
    const std::size_t width = GetU16LE(header);
    const std::size_t height = GetU16LE(header + 2);
    const TPalette palette = !PaletteFile.empty() && IsFile(PaletteFile) ? ReadPaletteFile(PaletteFile)
                                                                         : GreyPalette(256);
    const std::int64_t remaining = stream.Remaining();
    // Every row takes at least its byte count and its ending zero.
    if (remaining < 0 || static_cast<std::uint64_t>(height) > static_cast<std::uint64_t>(remaining) / 3 + 1)
        ShortFileError("CUT");
    // A run packet of two bytes gives at most 127 pixels.
    CheckEncodable(stream, 2 * width * height, 127, "CUT: the file is too short for the picture it claims.");
    PrepareBitmap(*this, pf8bit, static_cast<std::int64_t>(width), static_cast<std::int64_t>(height), palette,
                  "CUT: invalid image size.");
    std::vector<std::uint8_t> data = MakeBuffer(static_cast<std::size_t>(remaining));
    stream.ReadBuffer(data.data(), data.size());
    TCUTRLE decoder;
    const std::uint8_t* source = data.data();
    const std::uint8_t* const end = data.data() + data.size();
    for (std::size_t y = 0; y < height; ++y) {
        if (source >= end)
            ShortFileError("CUT");
        decoder.Decode(source, ScanLine(static_cast<int>(y)), static_cast<std::size_t>(end - source), width);
    }
}

void TCUTGraphic::LoadFromFile(const std::string& fileName)
{
    // Linux names are case-sensitive: a "PICTURE.PAL" goes with "PICTURE.CUT".
    PaletteFile = ChangeExtension(fileName, ".pal");
    const std::string upper = ChangeExtension(fileName, ".PAL");
    if (!IsFile(PaletteFile) && IsFile(upper))
        PaletteFile = upper;
    TBitmap::LoadFromFile(fileName);
}
