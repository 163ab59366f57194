#include "PngWholeInflate.h"

#include "PngInternal.h"

#include "Parallel.h"
#include "PixelMemory.h"

#include <libdeflate.h>

#include <atomic>
#include <exception>
#include <memory>
#include <new>
#include <vector>

namespace pngimpl {

namespace {

struct DecompressorFree {
    void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

std::atomic<TImageDataRoad> gRoad{TImageDataRoad::Chosen};

// Below this many bytes of image data, starting a thread costs more than
// the overlap gains.
constexpr std::size_t OverlapFrom = std::size_t{1} << 20;

} // namespace

void SetImageDataRoad(TImageDataRoad road) { gRoad.store(road); }
TImageDataRoad ImageDataRoad() { return gRoad.load(std::memory_order_relaxed); }

TImageDataRoad ChooseImageDataRoad(std::size_t filteredSize, std::size_t dibBytes, int interlace)
{
    if (interlace == 0 && dibBytes > 0 && filteredSize <= pixelmemory::BlockBytes(dibBytes))
        return TImageDataRoad::InPlace;
    // Work already spread over the pool (several pictures at once) keeps
    // every core busy without another thread.
    if (filteredSize >= OverlapFrom && parallel::ThreadCount() > 1 && !parallel::InWorker())
        return TImageDataRoad::Overlapped;
    return TImageDataRoad::Streamed;
}

void WholeIdatRun::Discard::operator()(std::uint8_t* block) const noexcept { pixelmemory::Discard(block, Size); }

std::vector<TRowRun> ImageRowRuns(const TChunkIHDR& header, std::size_t rowSize, int interlace)
{
    const std::size_t width = header.Width, height = header.Height;
    if (interlace == 0)
        return {TRowRun{-1, height, rowSize}};
    std::vector<TRowRun> runs;
    if (interlace != 1)
        return runs;
    for (int pass = 0; pass < 7; ++pass) {
        const std::size_t passRowSize = RowByteCount(PassWidth(width, pass), header.ColorType, header.BitDepth);
        const auto firstRow = static_cast<std::size_t>(Adam7FirstRow[pass]);
        const auto rowStep = static_cast<std::size_t>(Adam7RowStep[pass]);
        if (passRowSize == 0 || firstRow >= height)
            continue;
        runs.push_back(TRowRun{pass, (height - firstRow + rowStep - 1) / rowStep, passRowSize});
    }
    return runs;
}

std::size_t FilteredImageSize(const TChunkIHDR& header, std::size_t rowSize, int interlace)
{
    std::size_t total = 0;
    for (const TRowRun& run : ImageRowRuns(header, rowSize, interlace))
        total += run.Rows * (run.RowBytes + 1);
    return total;
}

void WholeIdatRun::Release()
{
    FData.reset();
    FSize = 0;
}

bool WholeIdatRun::Gather(TStream& stream, const TChunkType& type, std::uint32_t length)
{
    Release();
    FStart = stream.Position();
    try {
        if (ReadRun(stream, type, length))
            return true;
    } catch (const std::exception&) {
        // Any fault: the streamed reader decides.
    }
    Release();
    Rewind(stream);
    return false;
}

bool WholeIdatRun::ReadRun(TStream& stream, const TChunkType& type, std::uint32_t length)
{
    static const TChunkType idat = MakeChunkType("IDAT");
    // The lengths of the run's chunks first, seeking over their data: the
    // data then go, read once, into memory of exactly their size.
    std::vector<std::uint32_t> lengths;
    std::size_t total = 0;
    for (std::uint32_t n = length;;) {
        if (n > 0x7FFFFFFFu || static_cast<std::int64_t>(n) + 4 > stream.Remaining())
            return false;
        lengths.push_back(n);
        total += n;
        stream.Seek(static_cast<std::int64_t>(n) + 4, soCurrent);
        // The run goes on while the next chunk is an IDAT.
        if (stream.Remaining() < 8)
            break;
        n = ReadBigEndian32(stream);
        TChunkType next;
        ReadOrEnd(stream, next.data(), 4);
        if (next != idat)
            break;
    }
    Rewind(stream);
    FData = std::unique_ptr<std::uint8_t[], Discard>(static_cast<std::uint8_t*>(pixelmemory::Allocate(total)),
                                                     Discard{total});
    FSize = total;
    std::size_t used = 0;
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        if (i > 0)
            stream.Seek(8, soCurrent); // the length and type read above
        std::uint8_t* body = FData.get() + used;
        ReadOrEnd(stream, body, lengths[i]);
        // libdeflate's CRC-32 is the chunks' (zlib's) with a faster loop.
        std::uint32_t crc = libdeflate_crc32(0, (i == 0 ? type : idat).data(), 4);
        crc = libdeflate_crc32(crc, body, lengths[i]);
        if (ReadBigEndian32(stream) != crc)
            return false;
        used += lengths[i];
    }
    return true;
}

bool WholeIdatRun::Inflate(std::uint8_t* out, std::size_t size) const
{
    std::unique_ptr<libdeflate_decompressor, DecompressorFree> d(libdeflate_alloc_decompressor());
    if (!d || !FData)
        return false;
    std::size_t produced = 0;
    const libdeflate_result r = libdeflate_zlib_decompress(d.get(), FData.get(), FSize, out, size, &produced);
    return r == LIBDEFLATE_SUCCESS && produced == size;
}

} // namespace pngimpl
