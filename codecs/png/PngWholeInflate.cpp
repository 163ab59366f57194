#include "PngWholeInflate.h"

#include "PixelMemory.h"
#include "PngInternal.h"

#include <libdeflate.h>

#include <atomic>
#include <cstring>
#include <exception>
#include <memory>
#include <new>

namespace pngimpl {

namespace {

struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// Gathers the bodies of the IDAT chunks from the stream's position on,
// checking each CRC; false at the first fault.
bool GatherIdatRun(TStream& stream, const TChunkType& type, std::uint32_t length, TPixelBuffer& data,
                   std::size_t& used)
{
    static const TChunkType idat = MakeChunkType("IDAT");
    used = 0;
    TChunkType current = type;
    for (;;) {
        if (length > 0x7FFFFFFFu || static_cast<std::int64_t>(length) + 4 > stream.Remaining())
            return false;
        if (used + length > data.size()) {
            // Room for this chunk and as much again: few copies for many chunks.
            TPixelBuffer bigger = TPixelBuffer::Uninitialised(2 * (used + length));
            if (used)
                std::memcpy(bigger.data(), data.data(), used);
            data.swap(bigger);
        }
        if (length)
            ReadOrEnd(stream, data.data() + used, length);
        // libdeflate's CRC-32 is the chunks' (zlib's) with a faster loop.
        std::uint32_t crc = libdeflate_crc32(0, current.data(), 4);
        crc = libdeflate_crc32(crc, data.data() + used, length);
        if (ReadBigEndian32(stream) != crc)
            return false;
        used += length;
        // The run goes on while the next chunk is an IDAT.
        if (stream.Remaining() < 8)
            break;
        const std::int64_t next = stream.Position();
        const std::uint32_t nextLength = ReadBigEndian32(stream);
        TChunkType nextType;
        ReadOrEnd(stream, nextType.data(), 4);
        if (nextType != idat) {
            stream.SetPosition(next);
            break;
        }
        length = nextLength;
        current = nextType;
    }
    return true;
}

} // namespace

std::size_t FilteredImageSize(const TChunkIHDR& header, std::size_t rowSize, int interlace)
{
    const std::size_t width = header.Width, height = header.Height;
    if (interlace == 0)
        return height * (rowSize + 1);
    std::size_t total = 0;
    for (int pass = 0; pass < 7; ++pass) {
        const std::size_t passRowSize = RowByteCount(PassWidth(width, pass), header.ColorType, header.BitDepth);
        const auto firstRow = static_cast<std::size_t>(Adam7FirstRow[pass]);
        if (passRowSize == 0 || firstRow >= height)
            continue;
        total += (height - firstRow + Adam7RowStep[pass] - 1) / Adam7RowStep[pass] * (passRowSize + 1);
    }
    return total;
}

namespace {
std::atomic<bool> gWholeInflate{true};
} // namespace

void SetWholeInflate(bool enabled) { gWholeInflate.store(enabled); }
bool WholeInflateEnabled() { return gWholeInflate.load(std::memory_order_relaxed); }

bool InflateWholeIdatRun(TStream& stream, const TChunkType& type, std::uint32_t length, std::uint8_t* out,
                         std::size_t size)
{
    const std::int64_t start = stream.Position();
    try {
        TPixelBuffer compressed;
        std::size_t used = 0;
        std::unique_ptr<libdeflate_decompressor, DecompressorFree> d(libdeflate_alloc_decompressor());
        if (d && GatherIdatRun(stream, type, length, compressed, used)) {
            std::size_t produced = 0;
            const libdeflate_result r =
                libdeflate_zlib_decompress(d.get(), compressed.data(), used, out, size, &produced);
            if (r == LIBDEFLATE_SUCCESS && produced == size)
                return true;
        }
    } catch (const std::exception&) {
        // Any fault: the streamed reader decides.
    }
    stream.SetPosition(start);
    return false;
}

} // namespace pngimpl
