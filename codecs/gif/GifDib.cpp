// Row access to bitmaps, the fixed palettes and the stream and error
// routines that the whole codec uses.

#include "GifCodec.h"
#include "ByteOrder.h"

#include <algorithm>
#include <cstring>
#include <new>

void RaiseGIFError(const std::string& message)
{
    throw GIFException(message);
}

void RaiseOutOfResources()
{
    throw EOutOfResources("Plus de ressources système");
}

std::size_t RowBytes(std::size_t pixels, int bitsPerPixel, int alignment)
{
    const auto align = static_cast<std::size_t>(alignment);
    return ((pixels * static_cast<std::size_t>(bitsPerPixel) + align - 1) & ~(align - 1)) >> 3;
}

int BitsForColors(int count)
{
    if (count <= 0)
        return 0;
    int bits = 1;
    while ((1LL << bits) < count)
        ++bits;
    return bits;
}

void WriteByte(TStream& stream, std::uint8_t value)
{
    // A byte the stream does not take would leave a file that looks saved
    // but ends too early.
    stream.WriteBuffer(&value, 1);
}

bool ReadByteIfAny(TStream& stream, std::uint8_t& value)
{
    if (stream.Read(&value, 1) == 1)
        return true;
    value = 0;
    return false;
}

std::uint8_t ReadByte(TStream& stream)
{
    std::uint8_t value = 0;
    ReadByteIfAny(stream, value);
    return value;
}

void ReadExact(TStream& stream, void* buffer, std::size_t count)
{
    auto* p = static_cast<std::uint8_t*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        std::size_t n = stream.Read(p + done, count - done);
        if (n == 0)
            RaiseGIFError("Premature end of data");
        done += n;
    }
}

void SkipExact(TStream& stream, std::size_t count)
{
    if (count == 0)
        return;
    if (static_cast<std::uint64_t>(std::max<std::int64_t>(stream.Remaining(), 0)) < count) {
        stream.Seek(0, soEnd);
        RaiseGIFError("Premature end of data");
    }
    stream.Seek(static_cast<std::int64_t>(count), soCurrent);
}

void WriteStringBlocks(TStream& stream, const TGIFTextLines& lines)
{
    for (const std::string& line : lines) {
        std::size_t done = 0;
        while (done < line.size()) {
            const std::size_t n = std::min<std::size_t>(line.size() - done, 255);
            WriteByte(stream, static_cast<std::uint8_t>(n));
            stream.WriteBuffer(line.data() + done, n);
            done += n;
        }
    }
    WriteByte(stream, 0);
}

void ReadStringBlocks(TStream& stream, TGIFTextLines& lines)
{
    lines.clear();
    std::uint8_t length = 0;
    ReadByteIfAny(stream, length);
    while (length != 0) {
        std::string line(length, '\0');
        ReadExact(stream, line.data(), length);
        lines.push_back(std::move(line));
        ReadByteIfAny(stream, length);
    }
}

TPixelFormat PixelFormatOf(const TBitmap& bitmap)
{
    return bitmap.PixelFormat();
}

void ChangePixelFormat(TBitmap& bitmap, TPixelFormat format)
{
    bitmap.SetPixelFormat(format);
}

// ---------------------------------------------------------------------------
// Fixed palettes

TPalette WebPalette216()
{
    TPalette palette;
    palette.reserve(216);
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                palette.push_back(TPaletteEntry{static_cast<std::uint8_t>(r * 51), static_cast<std::uint8_t>(g * 51),
                                                static_cast<std::uint8_t>(b * 51), 0});
    return palette;
}

TPalette GreyRampPalette()
{
    TPalette palette(256);
    for (int i = 0; i < 256; ++i) {
        auto v = static_cast<std::uint8_t>(i);
        palette[static_cast<std::size_t>(i)] = TPaletteEntry{v, v, v, PC_NOCOLLAPSE};
    }
    return palette;
}

TPalette Grey4Palette()
{
    TPalette palette;
    for (std::uint8_t v : {0x00, 0x80, 0xC0, 0xFF})
        palette.push_back(TPaletteEntry{v, v, v, PC_NOCOLLAPSE});
    return palette;
}

TPalette MonoPalette()
{
    return TPalette{TPaletteEntry{0, 0, 0, PC_NOCOLLAPSE}, TPaletteEntry{255, 255, 255, PC_NOCOLLAPSE}};
}

TPalette ScreenHalftonePalette()
{
    return HalftonePalette256();
}

void PaletteToRGBQuads(std::uint8_t* entries, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* e = entries + i * 4;
        std::swap(e[0], e[2]);
        e[3] = 0;
    }
}

// ---------------------------------------------------------------------------
// Row access

TDIBReader::TDIBReader(TBitmap& bitmap, TPixelFormat format) : TDIB(bitmap, format)
{
    ChangePixelFormat(bitmap, format);
}

std::uint8_t* TDIBReader::RowAt(int row)
{
    return BitmapRef.ScanLine(row);
}

namespace {

constexpr std::size_t BmpFileHeaderSize = 14;
constexpr std::size_t BmpInfoHeaderSize = 40;

} // namespace

TDIBWriter::TDIBWriter(TBitmap& bitmap, TPixelFormat format, int width, int height, const TPalette& palette)
    : TDIB(bitmap, format)
{
    if (format != pf8bit && format != pf24bit)
        RaiseGIFError("Unsupported PixelFormat");
    if (width <= 0 || height <= 0)
        RaiseGIFError("Invalid image dimensions");
    FPixelHeight = height;
    FPixelWidth = width;
    FSourcePalette = palette;
    if (FSourcePalette.size() > MaxPaletteEntries)
        FSourcePalette.resize(MaxPaletteEntries);
}

TDIBWriter::~TDIBWriter()
{
    try {
        StoreIntoBitmap();
    } catch (...) {
        // A destructor cannot report; StoreIntoBitmap called earlier can.
    }
    ReleaseDIB();
}

void TDIBWriter::AllocateDIB()
{
    ReleaseDIB();
    try {
        const bool eightBits = Format == pf8bit;
        const int bitCount = eightBits ? 8 : 24;
        CheckPixelBudget(FPixelWidth, FPixelHeight);
        FInfoSize = eightBits ? BmpInfoHeaderSize + 256 * 4 : BmpInfoHeaderSize;
        FInfo.assign(FInfoSize, 0);
        std::uint8_t* h = FInfo.data();
        PutU32LE(h, BmpInfoHeaderSize);
        PutU32LE(h + 4, static_cast<std::uint32_t>(FPixelWidth));
        PutU32LE(h + 8, static_cast<std::uint32_t>(FPixelHeight));
        PutU16LE(h + 12, 1);
        PutU16LE(h + 14, static_cast<std::uint32_t>(bitCount));
        // Compression, image size and both resolutions stay 0.
        if (eightBits) {
            const std::size_t n = FSourcePalette.size();
            std::uint8_t* table = h + BmpInfoHeaderSize;
            for (std::size_t i = 0; i < n; ++i) {
                const TPaletteEntry& e = FSourcePalette[i];
                table[i * 4] = e.peRed;
                table[i * 4 + 1] = e.peGreen;
                table[i * 4 + 2] = e.peBlue;
                table[i * 4 + 3] = e.peFlags;
            }
            PaletteToRGBQuads(table, n);
            PutU32LE(h + 32, 256);
            PutU32LE(h + 36, static_cast<std::uint32_t>(n));
        }
        FBitsSize = RowBytes(static_cast<std::size_t>(FPixelWidth), bitCount, 32) * static_cast<std::size_t>(FPixelHeight);
        try {
            FBits.assign(FBitsSize, 0);
        } catch (const std::bad_alloc&) {
            throw EOutOfMemory("Failed to allocate memory for GIF DIB");
        }
    } catch (...) {
        ReleaseDIB();
        throw;
    }
}

void TDIBWriter::ReleaseDIB()
{
    FInfo.clear();
    FInfo.shrink_to_fit();
    FBits.clear();
    FBits.shrink_to_fit();
}

void TDIBWriter::EnsureDIB()
{
    if (FBits.empty())
        AllocateDIB();
}

std::uint8_t* TDIBWriter::RowAt(int row)
{
    EnsureDIB();
    if (FBits.empty())
        RaiseGIFError("Image has no DIB");
    if (row < 0 || row >= FPixelHeight)
        throw EInvalidGraphicOperation("Indice ligne hors limites");
    const std::uint8_t* h = FInfo.data();
    const auto height = static_cast<std::int32_t>(GetU32LE(h + 8));
    const int bitCount = h[14] | (h[15] << 8);
    const std::size_t stride = RowBytes(GetU32LE(h + 4), bitCount, 32);
    // Rows are stored bottom-up: the top row comes last.
    const std::size_t index = height > 0 ? static_cast<std::size_t>(height - row - 1) : static_cast<std::size_t>(row);
    return FBits.data() + index * stride;
}

std::vector<std::uint8_t> TDIBWriter::InMemoryBmp() const
{
    std::vector<std::uint8_t> out;
    if (FBits.empty())
        return out;
    const std::size_t total = BmpFileHeaderSize + FInfoSize + FBitsSize;
    try {
        out.assign(total, 0);
    } catch (const std::bad_alloc&) {
        OutOfMemoryError();
    }
    out[0] = 'B';
    out[1] = 'M';
    PutU32LE(out.data() + 2, static_cast<std::uint32_t>(std::min<std::size_t>(total, 0xFFFFFFFF)));
    PutU32LE(out.data() + 10, static_cast<std::uint32_t>(BmpFileHeaderSize + FInfoSize));
    std::memcpy(out.data() + BmpFileHeaderSize, FInfo.data(), FInfoSize);
    std::memcpy(out.data() + BmpFileHeaderSize + FInfoSize, FBits.data(), FBitsSize);
    return out;
}

void TDIBWriter::StoreIntoBitmap()
{
    if (FBits.empty())
        return;
    // The picture stays, so rows written afterwards join those before.
    TMemoryStream stream(InMemoryBmp());
    stream.SetPosition(0);
    BitmapRef.LoadFromStream(stream);
}
