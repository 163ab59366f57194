// Decoding of the image data: inflating the IDAT run, unfiltering the rows,
// the Adam7 passes and the conversion of each row into the header's bitmap
// and alpha plane.

#include "PngCodec.h"
#include "PngInternal.h"
#include "PngMessages.h"
#include "PngUnfilter.h"
#include "PngWholeInflate.h"

#include "Bitmap.h"
#include "Numeric.h"

#include <zlib.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace pngimpl;

namespace {

const TChunkType IdatType = MakeChunkType("IDAT");

[[noreturn]] void RaiseZlib(int code)
{
    Raise<EPNGZLIBError>(std::string(PngMessages::EPNGZLIBErrorText) + PngMessages::ZlibResultText(code));
}

// The compressed stream over the IDAT chunk being read and those that follow
// it, with the CRC of each chunk checked as its end is passed.
class CompressedReader {
public:
    CompressedReader(TStream& stream, const TChunkType& type, std::uint32_t length) : FStream(stream)
    {
        CheckChunkLength(stream, length);
        try {
            FInput.resize(65535);
        } catch (const std::bad_alloc&) {
            OutOfMemoryError();
        }
        const int ret = inflateInit(&FZ);
        if (ret != Z_OK)
            RaiseZlib(ret);
        // Every chunk's CRC already covers the compressed bytes: zlib need
        // not work out its own Adler-32 as well.
        inflateValidate(&FZ, 0);
        FCrc = UpdateCrc(0xFFFFFFFFu, type.data(), 4);
        FPos = stream.Position();
        FChunkEnd = FPos + length;
    }
    ~CompressedReader() { inflateEnd(&FZ); }
    CompressedReader(const CompressedReader&) = delete;
    CompressedReader& operator=(const CompressedReader&) = delete;

    // Fills count bytes or raises.
    void Read(std::uint8_t* dest, std::size_t count)
    {
        FZ.next_out = dest;
        FZ.avail_out = static_cast<uInt>(count);
        while (FZ.avail_out > 0) {
            // The stream ended before the image did.
            if (FEnded)
                RaiseZlib(Z_STREAM_END);
            if (FZ.avail_in == 0) {
                // Zero-length IDAT chunks are passed over like any other.
                while (FPos == FChunkEnd)
                    NextChunk();
                const auto n = static_cast<std::size_t>(std::min<std::int64_t>(65535, FChunkEnd - FPos));
                ReadOrEnd(FStream, FInput.data(), n);
                FPos += static_cast<std::int64_t>(n);
                FCrc = UpdateCrc(FCrc, FInput.data(), n);
                FZ.next_in = FInput.data();
                FZ.avail_in = static_cast<uInt>(n);
            }
            const int ret = inflate(&FZ, Z_NO_FLUSH);
            if (ret == Z_STREAM_END)
                FEnded = true;
            else if (ret != Z_OK)
                RaiseZlib(ret);
        }
    }

    // Takes the rest of the current chunk into its CRC and checks it.
    void Finish()
    {
        while (FPos < FChunkEnd) {
            const auto n = static_cast<std::size_t>(std::min<std::int64_t>(65535, FChunkEnd - FPos));
            ReadOrEnd(FStream, FInput.data(), n);
            FPos += static_cast<std::int64_t>(n);
            FCrc = UpdateCrc(FCrc, FInput.data(), n);
        }
        if (ReadBigEndian32(FStream) != ~FCrc)
            Raise<EPngInvalidCRC>(PngMessages::EPngInvalidCRCText);
    }

private:
    void NextChunk()
    {
        if (ReadBigEndian32(FStream) != ~FCrc)
            Raise<EPngInvalidCRC>(PngMessages::EPngInvalidCRCText);
        const std::uint32_t length = ReadBigEndian32(FStream);
        TChunkType type;
        ReadOrEnd(FStream, type.data(), 4);
        if (type != IdatType)
            Raise<EPNGMissingMultipleIDAT>(PngMessages::EPNGMissingMultipleIDATText);
        CheckChunkLength(FStream, length);
        FPos += 12;
        FCrc = UpdateCrc(0xFFFFFFFFu, type.data(), 4);
        FChunkEnd = FPos + length;
    }

    TStream& FStream;
    z_stream FZ{};
    std::vector<std::uint8_t> FInput;
    std::uint32_t FCrc = 0;
    std::int64_t FPos = 0;
    std::int64_t FChunkEnd = 0;
    bool FEnded = false;
};

// ---- Unfiltering

void UnfilterUp(std::uint8_t* row, const std::uint8_t* above, std::size_t n)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    for (; i + 16 <= n; i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(above + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(row + i), _mm_add_epi8(x, b));
    }
#endif
    for (; i < n; ++i)
        row[i] = static_cast<std::uint8_t>(row[i] + above[i]);
}


// Sub, Average and Paeth keep the pixel to the left (and the one above it)
// in registers: each byte depends on the one B bytes before it.
template <std::size_t B> void UnfilterSub(std::uint8_t* row, std::size_t n)
{
    unsigned left[B] = {};
    for (std::size_t k = 0; k < B && k < n; ++k)
        left[k] = row[k];
    for (std::size_t i = B; i + B <= n; i += B)
#pragma GCC unroll 8
        for (std::size_t k = 0; k < B; ++k) {
            left[k] = (row[i + k] + left[k]) & 0xFF;
            row[i + k] = static_cast<std::uint8_t>(left[k]);
        }
}

template <std::size_t B> void UnfilterAverage(std::uint8_t* row, const std::uint8_t* above, std::size_t n)
{
    unsigned left[B] = {};
    for (std::size_t i = 0; i + B <= n; i += B)
#pragma GCC unroll 8
        for (std::size_t k = 0; k < B; ++k) {
            left[k] = (row[i + k] + ((left[k] + above[i + k]) >> 1)) & 0xFF;
            row[i + k] = static_cast<std::uint8_t>(left[k]);
        }
}

template <std::size_t B> void UnfilterPaeth(std::uint8_t* row, const std::uint8_t* above, std::size_t n)
{
    int left[B] = {}, upperLeft[B] = {};
    for (std::size_t i = 0; i + B <= n; i += B)
#pragma GCC unroll 8
        for (std::size_t k = 0; k < B; ++k) {
            const int a = left[k], b = above[i + k], c = upperLeft[k];
            const int pa = b > c ? b - c : c - b;
            const int pb = a > c ? a - c : c - a;
            const int sum = a + b - 2 * c;
            const int pc = sum < 0 ? -sum : sum;
            const int pred = (pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c);
            left[k] = (row[i + k] + pred) & 0xFF;
            row[i + k] = static_cast<std::uint8_t>(left[k]);
            upperLeft[k] = b;
        }
}

template <std::size_t B> void UnfilterWith(int type, std::uint8_t* row, const std::uint8_t* above, std::size_t n)
{
    switch (type) {
    case 1:
        UnfilterSub<B>(row, n);
        break;
    case 2:
        UnfilterUp(row, above, n);
        break;
    case 3:
        UnfilterAverage<B>(row, above, n);
        break;
    case 4:
        UnfilterPaeth<B>(row, above, n);
        break;
    default:
        // None, and every unknown type, leaves the row as it is.
        break;
    }
}

void UnfilterRow(int type, std::uint8_t* row, const std::uint8_t* above, std::size_t n, std::size_t stride)
{
    if (UnfilterRowVector(type, row, above, n, stride))
        return;
    switch (stride) {
    case 1:
        UnfilterWith<1>(type, row, above, n);
        break;
    case 2:
        UnfilterWith<2>(type, row, above, n);
        break;
    case 3:
        UnfilterWith<3>(type, row, above, n);
        break;
    case 4:
        UnfilterWith<4>(type, row, above, n);
        break;
    case 6:
        UnfilterWith<6>(type, row, above, n);
        break;
    default:
        UnfilterWith<8>(type, row, above, n);
        break;
    }
}

// ---- Row conversion

class RowConverter {
public:
    RowConverter(TChunkIHDR& header, const std::array<std::uint8_t, 256>& gamma)
        : FHeader(header), FGamma(gamma.data()), FColorType(header.ColorType), FDepth(header.BitDepth)
    {
        FIdentity = true;
        for (int i = 0; i < 256; ++i)
            if (gamma[static_cast<std::size_t>(i)] != i)
                FIdentity = false;
        for (int b = 0; b < 256; ++b) {
            // Four 2-bit samples into two bytes of 4-bit values; grey levels
            // become 5v so that they index the 16-entry grey table.
            const int mul = FColorType == 0 ? 5 : 1;
            int v[4];
            for (int k = 0; k < 4; ++k)
                v[k] = ((b >> (6 - 2 * k)) & 3) * mul;
            F2To4[b][0] = static_cast<std::uint8_t>((v[0] << 4) | v[1]);
            F2To4[b][1] = static_cast<std::uint8_t>((v[2] << 4) | v[3]);
        }
    }

    std::size_t Width() const { return FHeader.Width; }

    // A whole row of samples into image row y.
    void Row(const std::uint8_t* src, std::size_t rowSize, std::size_t y)
    {
        std::uint8_t* dib = FHeader.DibRow(y);
        const std::size_t w = FHeader.Width;
        switch (FColorType) {
        case 0:
        case 3:
            if (FDepth == 16) {
                for (std::size_t x = 0; x < w; ++x)
                    dib[x] = src[2 * x];
            } else if (FDepth == 2) {
                for (std::size_t i = 0; i < rowSize; ++i) {
                    dib[2 * i] = F2To4[src[i]][0];
                    dib[2 * i + 1] = F2To4[src[i]][1];
                }
            } else {
                std::memcpy(dib, src, rowSize);
            }
            break;
        case 2:
            if (FDepth == 8 && FIdentity)
                SwapRedBlue(src, dib, w);
            else if (FDepth == 8)
                Rgb<3, 1>(src, dib, w);
            else
                Rgb<6, 2>(src, dib, w);
            break;
        case 4: {
            std::uint8_t* alpha = FHeader.AlphaRow(y);
            const std::size_t step = FDepth == 8 ? 2 : 4;
            for (std::size_t x = 0; x < w; ++x) {
                dib[x] = src[step * x];
                alpha[x] = src[step * x + step / 2];
            }
            break;
        }
        case 6: {
            std::uint8_t* alpha = FHeader.AlphaRow(y);
            if (FDepth == 8) {
                Rgb<4, 1>(src, dib, w);
                for (std::size_t x = 0; x < w; ++x)
                    alpha[x] = src[4 * x + 3];
            } else {
                Rgb<8, 2>(src, dib, w);
                for (std::size_t x = 0; x < w; ++x)
                    alpha[x] = src[8 * x + 6];
            }
            break;
        }
        default:
            break;
        }
    }

    // The pixels of one Adam7 pass row into image row y, at columns first,
    // first + step, ...
    void PassRow(const std::uint8_t* src, std::size_t passWidth, std::size_t y, std::size_t first, std::size_t step)
    {
        std::uint8_t* dib = FHeader.DibRow(y);
        std::uint8_t* alpha = FHeader.AlphaPlane.empty() ? nullptr : FHeader.AlphaRow(y);
        const int bits = FHeader.DibBitsPerPixel;
        for (std::size_t i = 0, x = first; i < passWidth; ++i, x += step) {
            switch (FColorType) {
            case 0:
            case 3: {
                unsigned v;
                if (FDepth == 16) {
                    v = src[2 * i];
                } else if (FDepth == 8) {
                    v = src[i];
                } else {
                    const std::size_t bit = i * FDepth;
                    v = (src[bit / 8] >> (8 - FDepth - bit % 8)) & ((1u << FDepth) - 1);
                    if (FDepth == 2 && FColorType == 0)
                        v *= 5;
                }
                PutPacked(dib, x, bits, v);
                break;
            }
            case 2: {
                const std::size_t s = FDepth == 8 ? 3 * i : 6 * i, k = FDepth == 8 ? 1 : 2;
                dib[3 * x] = FGamma[src[s + 2 * k]];
                dib[3 * x + 1] = FGamma[src[s + k]];
                dib[3 * x + 2] = FGamma[src[s]];
                break;
            }
            case 4: {
                const std::size_t s = FDepth == 8 ? 2 * i : 4 * i;
                dib[x] = src[s];
                alpha[x] = src[s + (FDepth == 8 ? 1 : 2)];
                break;
            }
            case 6: {
                const std::size_t s = FDepth == 8 ? 4 * i : 8 * i, k = FDepth == 8 ? 1 : 2;
                dib[3 * x] = FGamma[src[s + 2 * k]];
                dib[3 * x + 1] = FGamma[src[s + k]];
                dib[3 * x + 2] = FGamma[src[s]];
                alpha[x] = src[s + 3 * k];
                break;
            }
            default:
                break;
            }
        }
    }

private:
    static void PutPacked(std::uint8_t* dib, std::size_t x, int bits, unsigned v)
    {
        switch (bits) {
        case 8:
            dib[x] = static_cast<std::uint8_t>(v);
            break;
        case 4: {
            std::uint8_t& b = dib[x / 2];
            b = (x & 1) ? static_cast<std::uint8_t>((b & 0xF0) | (v & 0x0F))
                        : static_cast<std::uint8_t>((b & 0x0F) | ((v & 0x0F) << 4));
            break;
        }
        default: {
            const auto mask = static_cast<std::uint8_t>(0x80 >> (x & 7));
            dib[x / 8] = (v & 1) ? static_cast<std::uint8_t>(dib[x / 8] | mask)
                                 : static_cast<std::uint8_t>(dib[x / 8] & ~mask);
            break;
        }
        }
    }

    // R, G, B samples (of S bytes a pixel, K bytes a sample) into B, G, R.
    template <std::size_t S, std::size_t K> void Rgb(const std::uint8_t* src, std::uint8_t* dib, std::size_t w)
    {
        if (FIdentity) {
            for (std::size_t x = 0; x < w; ++x) {
                const std::uint8_t* p = src + S * x;
                std::uint8_t* d = dib + 3 * x;
                d[0] = p[2 * K];
                d[1] = p[K];
                d[2] = p[0];
            }
        } else {
            for (std::size_t x = 0; x < w; ++x) {
                const std::uint8_t* p = src + S * x;
                std::uint8_t* d = dib + 3 * x;
                d[0] = FGamma[p[2 * K]];
                d[1] = FGamma[p[K]];
                d[2] = FGamma[p[0]];
            }
        }
    }

    TChunkIHDR& FHeader;
    const std::uint8_t* FGamma;
    int FColorType;
    int FDepth;
    bool FIdentity = true;
    std::uint8_t F2To4[256][2];
};

// Hands the picture's rows, pass by pass when interlaced, to the converter:
// decodeRows(count, rowBytes, put) decodes count rows of rowBytes bytes and
// calls put(i, row) for each.
template <typename DecodeRows>
void ConvertImageRows(const std::vector<TRowRun>& runs, std::size_t rowSize, RowConverter& convert, KeyMasker& key,
                      DecodeRows&& decodeRows)
{
    for (const TRowRun& run : runs) {
        if (run.Pass < 0) {
            decodeRows(run.Rows, rowSize, [&](std::size_t y, const std::uint8_t* row) {
                convert.Row(row, rowSize, y);
                key.Row(row, y);
            });
            continue;
        }
        const int pass = run.Pass;
        const auto firstRow = static_cast<std::size_t>(Adam7FirstRow[pass]);
        const auto rowStep = static_cast<std::size_t>(Adam7RowStep[pass]);
        const auto first = static_cast<std::size_t>(Adam7FirstColumn[pass]);
        const auto step = static_cast<std::size_t>(Adam7ColumnStep[pass]);
        const std::size_t passWidth = PassWidth(convert.Width(), pass);
        decodeRows(run.Rows, run.RowBytes, [&](std::size_t i, const std::uint8_t* row) {
            const std::size_t y = firstRow + i * rowStep;
            convert.PassRow(row, passWidth, y, first, step);
            key.PassRow(row, passWidth, y, first, step);
        });
    }
}

// The image data inflated batch by batch on the caller's thread.
class StreamedBatches {
public:
    StreamedBatches(CompressedReader& reader, std::size_t capacity) : FReader(reader)
    {
        try {
            FBatch.resize(capacity);
        } catch (const std::bad_alloc&) {
            OutOfMemoryError();
        }
    }
    // The next bytes of filtered rows; raises when they cannot be had.
    std::uint8_t* Next(std::size_t bytes)
    {
        FReader.Read(FBatch.data(), bytes);
        return FBatch.data();
    }
    void Release() {}
    void Finish() { FReader.Finish(); }

private:
    CompressedReader& FReader;
    std::vector<std::uint8_t> FBatch;
};

// The image data inflated on a thread of its own into a ring of batches, in
// the order and sizes the caller takes them in (the same runs of rows, the
// same number of rows a batch); the caller unfilters and converts each
// batch while the next ones are inflated, and gives it back when done. The
// worker's exception reaches the caller where the batch it could not fill
// would have been, so the rows before it are in the bitmap as the streamed
// reader leaves them.
class OverlappedBatches {
public:
    static constexpr std::size_t Slots = 8;

    OverlappedBatches(CompressedReader& reader, std::size_t capacity, std::vector<TRowRun> runs,
                      std::size_t batchRows)
        : FReader(reader), FCapacity(capacity), FRuns(std::move(runs)), FBatchRows(batchRows)
    {
        try {
            FRing.resize(Slots * capacity);
        } catch (const std::bad_alloc&) {
            OutOfMemoryError();
        }
        // std::system_error when no thread can be had: the caller reads
        // streamed instead, nothing having been read yet.
        FWorker = std::thread([this] { Work(); });
    }
    ~OverlappedBatches()
    {
        {
            std::lock_guard<std::mutex> lock(FLock);
            FCancelled = true;
        }
        FChanged.notify_all();
        if (FWorker.joinable())
            FWorker.join();
    }
    OverlappedBatches(const OverlappedBatches&) = delete;
    OverlappedBatches& operator=(const OverlappedBatches&) = delete;

    std::uint8_t* Next(std::size_t)
    {
        std::unique_lock<std::mutex> lock(FLock);
        FChanged.wait(lock, [this] { return FFilled > FTaken || FDone; });
        if (FFilled == FTaken)
            RaiseWorkerError();
        return Slot(FTaken);
    }
    void Release()
    {
        {
            std::lock_guard<std::mutex> lock(FLock);
            ++FTaken;
        }
        FChanged.notify_all();
    }
    // Waits for the worker's end (the last chunk's CRC checked).
    void Finish()
    {
        std::unique_lock<std::mutex> lock(FLock);
        FChanged.wait(lock, [this] { return FDone; });
        if (FError)
            RaiseWorkerError();
    }

private:
    std::uint8_t* Slot(std::size_t n) { return FRing.data() + n % Slots * FCapacity; }

    [[noreturn]] void RaiseWorkerError()
    {
        if (FError)
            std::rethrow_exception(FError);
        // More batches asked for than the runs hold: cannot happen.
        RaiseZlib(Z_STREAM_END);
    }

    void Work()
    {
        try {
            for (const TRowRun& run : FRuns)
                for (std::size_t done = 0; done < run.Rows;) {
                    const std::size_t n = std::min(FBatchRows, run.Rows - done);
                    {
                        std::unique_lock<std::mutex> lock(FLock);
                        FChanged.wait(lock, [this] { return FCancelled || FFilled - FTaken < Slots; });
                        if (FCancelled)
                            return;
                    }
                    FReader.Read(Slot(FFilled), n * (run.RowBytes + 1));
                    {
                        std::lock_guard<std::mutex> lock(FLock);
                        ++FFilled;
                    }
                    FChanged.notify_all();
                    done += n;
                }
            FReader.Finish();
        } catch (...) {
            std::lock_guard<std::mutex> lock(FLock);
            FError = std::current_exception();
        }
        {
            std::lock_guard<std::mutex> lock(FLock);
            FDone = true;
        }
        FChanged.notify_all();
    }

    CompressedReader& FReader;
    const std::size_t FCapacity;
    const std::vector<TRowRun> FRuns;
    const std::size_t FBatchRows;
    std::vector<std::uint8_t> FRing;
    std::mutex FLock;
    std::condition_variable FChanged;
    std::size_t FFilled = 0; // batches inflated so far
    std::size_t FTaken = 0;  // batches given back by the caller
    bool FDone = false;
    bool FCancelled = false;
    std::exception_ptr FError;
    std::thread FWorker;
};

// Unfilters and converts every run of rows of the image data, a batch at a
// time from batches (StreamedBatches or OverlappedBatches), then checks the
// data's end.
template <typename Batches>
void DecodeBatches(Batches& batches, const std::vector<TRowRun>& runs, std::size_t rowSize,
                   std::size_t pixelStride, std::size_t batchRows, RowConverter& convert, KeyMasker& key)
{
    std::vector<std::uint8_t> above;
    try {
        above.resize(rowSize);
    } catch (const std::bad_alloc&) {
        OutOfMemoryError();
    }
    auto decodeRows = [&](std::size_t count, std::size_t size, auto&& put) {
        std::fill(above.begin(), above.end(), 0); // zeros above a run's first row
        const std::size_t step = size + 1;
        for (std::size_t done = 0; done < count;) {
            const std::size_t n = std::min(batchRows, count - done);
            std::uint8_t* first = batches.Next(n * step);
            const std::uint8_t* prior = above.data();
            for (std::size_t i = 0; i < n; ++i) {
                std::uint8_t* row = first + i * step;
                UnfilterRow(row[0], row + 1, prior, size, pixelStride);
                put(done + i, row + 1);
                prior = row + 1;
            }
            std::memcpy(above.data(), prior, size);
            batches.Release();
            done += n;
        }
    };
    ConvertImageRows(runs, rowSize, convert, key, decodeRows);
    batches.Finish();
}

// The filtered data of a plain (not interlaced) picture inflated in one call
// straight into the memory of its bitmap, which is made here with room for
// them and holds them at its end. Null when that could not be done: no
// bitmap is left then, and the stream is where it was. (Interlaced pictures
// are left to the streamed reader: their passes, spread over the whole
// picture, would need a buffer of their own as large as the bitmap, and the
// streamed reader is about as fast there.)
const std::uint8_t* InflateIntoBitmap(TStream& stream, const TChunkType& type, std::uint32_t length,
                                      TChunkIHDR& header, std::size_t size, int interlace)
{
    if (interlace != 0 || header.HasDib())
        return nullptr;
    WholeIdatRun run;
    if (!run.Gather(stream, type, length))
        return nullptr;
    header.AllocateDib(size);
    if (header.HasDib()) {
        const std::size_t pixels = header.DibRowStride * header.Height;
        std::uint8_t* out = header.Dib->Bits() + (pixels > size ? pixels - size : 0);
        if (run.Inflate(out, size))
            return out;
    }
    header.Dib.reset();
    header.AlphaPlane.clear();
    run.Rewind(stream);
    return nullptr;
}

// Unfilters the data placed by InflateIntoBitmap and converts them into the
// bitmap's rows, which lie over them: row y's data begin no earlier than
// bitmap row y, and the data of the rows after it lie beyond that row's end.
// Each row is unfiltered in a row buffer of its own before its bitmap row is
// written.
void ConvertInPlace(const std::uint8_t* filtered, TChunkIHDR& header, RowConverter& convert, KeyMasker& key,
                    std::size_t rowSize, std::size_t pixelStride)
{
    std::vector<std::uint8_t> rows(2 * rowSize, 0);
    std::uint8_t* above = rows.data(); // zeros above the first row
    std::uint8_t* row = rows.data() + rowSize;
    // The bytes after each row's pixels held image data: cleared.
    const std::size_t used = (static_cast<std::size_t>(header.Width) * header.DibBitsPerPixel + 7) / 8;
    const std::size_t padding = header.DibRowStride - used;
    for (std::size_t y = 0; y < header.Height; ++y, filtered += rowSize + 1) {
        const int filter = filtered[0];
        std::memcpy(row, filtered + 1, rowSize);
        UnfilterRow(filter, row, above, rowSize, pixelStride);
        convert.Row(row, rowSize, y);
        key.Row(row, y);
        if (padding)
            std::memset(header.DibRow(y) + used, 0, padding);
        std::swap(row, above);
    }
}

} // namespace

// ---- TChunkIDAT

TChunkIDAT::TChunkIDAT(TPngPicture& owner) : TChunk(owner)
{
    ChunkType = MakeChunkType("IDAT");
}

TChunkIDAT::~TChunkIDAT() = default;

TChunkClass TChunkIDAT::Class()
{
    static const TChunkClassInfo info{"TChunkIDAT", [](TPngPicture& o) -> std::unique_ptr<TChunk> {
                                          return std::make_unique<TChunkIDAT>(o);
                                      }};
    return &info;
}

bool TChunkIDAT::ReadBody(TStream& stream, const TChunkType& type, std::uint32_t length)
{
    TChunkIHDR& header = OwnerHeader();
    // Palette images need their palette before the pixels.
    if (header.ColorType == 3 && !FOwner.Chunks.ItemFromClass<TChunkPLTE>())
        Raise<EPNGInvalidPalette>(PngMessages::EPNGInvalidPaletteText);
    // Raw data that the bytes left could not inflate to is refused before
    // the pixels take any memory.
    const auto left = static_cast<std::size_t>(std::max<std::int64_t>(0, stream.Remaining()));
    if (RawImageSize(header, FOwner.InterlaceMode) / MaxInflateRatio > left)
        Raise<EPngUnexpectedEnd>(PngMessages::EPngUnexpectedEndText);
    std::size_t rowSize, pixelStride;
    FOwner.GetRowInfo(rowSize, pixelStride);
    const int interlace = FOwner.InterlaceMode;
    const std::vector<TRowRun> runs = ImageRowRuns(header, rowSize, interlace);
    const std::size_t filteredSize = FilteredImageSize(header, rowSize, interlace);
    TImageDataRoad road = ImageDataRoad();
    if (road == TImageDataRoad::Chosen)
        road = ChooseImageDataRoad(filteredSize, header.DibBytes(), interlace);
    const std::uint8_t* filtered = road == TImageDataRoad::InPlace
                                       ? InflateIntoBitmap(stream, type, length, header, filteredSize, interlace)
                                       : nullptr;
    // Rows are inflated a batch at a time (about 128 KB: fewer calls, and
    // less of the output copied into zlib's window) and unfiltered in place.
    const std::size_t batchRows = std::max<std::size_t>(1, 131072 / (rowSize + 1));
    const std::size_t capacity = batchRows * (rowSize + 1);
    std::optional<CompressedReader> reader;
    std::unique_ptr<OverlappedBatches> overlapped;
    if (!filtered && road == TImageDataRoad::Overlapped && header.DibBytes() > 0) {
        // The worker starts before the bitmap is made, so that its pages
        // come while the first rows are inflated; the pixel budget is
        // checked first, as making the bitmap does.
        CheckPixelBudget(header.Width, header.Height);
        reader.emplace(stream, type, length);
        try {
            overlapped = std::make_unique<OverlappedBatches>(*reader, capacity, runs, batchRows);
        } catch (const std::system_error&) {
            // No second thread: the rows are read streamed below.
        }
    }
    header.AllocateDib();
    if (!header.HasDib())
        Raise<EPNGHeaderNotPresent>(PngMessages::EPNGHeaderNotPresentText);
    if (header.UsesColorTable && header.ColorType != 3) {
        const int levels = 1 << header.DibBitsPerPixel;
        for (int n = 0; n < levels; ++n) {
            const std::uint8_t g = FOwner.GammaTable[static_cast<std::size_t>(MulDiv(n, 255, levels - 1))];
            header.ColorTable[static_cast<std::size_t>(n)] = TPaletteEntry{g, g, g, 0};
        }
        header.ColorTableChanged();
    }

    RowConverter convert(header, FOwner.GammaTable);
    KeyMasker key(FOwner);
    if (filtered) {
        ConvertInPlace(filtered, header, convert, key, rowSize, pixelStride);
        return true;
    }

    if (overlapped) {
        DecodeBatches(*overlapped, runs, rowSize, pixelStride, batchRows, convert, key);
        return true;
    }
    if (!reader)
        reader.emplace(stream, type, length);
    StreamedBatches streamed(*reader, capacity);
    DecodeBatches(streamed, runs, rowSize, pixelStride, batchRows, convert, key);
    return true;
}
