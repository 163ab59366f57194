// Encoding of the image data: each row of the header's bitmap (and alpha
// plane) in PNG sample layout, one filter chosen among the picture's
// RowFilters, deflated at its CompressionLevel and cut into IDAT chunks.

#include "PngCodec.h"
#include "PngInternal.h"
#include "PngMessages.h"
#include "PngWholeInflate.h"

#include "PixelMemory.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

using namespace pngimpl;

namespace {

[[noreturn]] void RaiseCompress(int code)
{
    Raise<EWriteError>(std::string(PngMessages::EPngCompressText) + PngMessages::ZlibResultText(code));
}

// A deflate stream whose output goes out as IDAT chunks of the buffer's size.
class DeflateWriter {
public:
    DeflateWriter(TStream& stream, int level, std::size_t bufferSize) : FStream(stream)
    {
        try {
            FOut.resize(bufferSize);
        } catch (const std::bad_alloc&) {
            OutOfMemoryError();
        }
        const int ret = deflateInit2(&FZ, ClampLevel(level), Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
        if (ret != Z_OK)
            RaiseCompress(ret);
        FStarted = true;
        Reset();
    }
    ~DeflateWriter()
    {
        if (FStarted)
            deflateEnd(&FZ);
    }
    DeflateWriter(const DeflateWriter&) = delete;
    DeflateWriter& operator=(const DeflateWriter&) = delete;

    void Deflate(const std::uint8_t* bytes, std::size_t count)
    {
        FZ.next_in = const_cast<Bytef*>(bytes);
        FZ.avail_in = static_cast<uInt>(count);
        while (FZ.avail_in > 0) {
            const int ret = deflate(&FZ, Z_NO_FLUSH);
            if (ret != Z_OK && ret != Z_BUF_ERROR)
                RaiseCompress(ret);
            if (FZ.avail_out == 0)
                Flush();
            else if (ret == Z_BUF_ERROR)
                RaiseCompress(ret); // no progress with room left
        }
    }

    void Finish()
    {
        for (;;) {
            const int ret = deflate(&FZ, Z_FINISH);
            if (ret == Z_STREAM_END)
                break;
            if (ret != Z_OK || Filled() == 0)
                RaiseCompress(ret);
            Flush();
        }
        if (Filled() > 0)
            Flush();
    }

private:
    std::size_t Filled() const { return FOut.size() - FZ.avail_out; }
    void Reset()
    {
        FZ.next_out = FOut.data();
        FZ.avail_out = static_cast<uInt>(FOut.size());
    }
    void Flush()
    {
        WriteIdatChunk(FStream, FOut.data(), Filled());
        Reset();
    }

    TStream& FStream;
    z_stream FZ{};
    std::vector<std::uint8_t> FOut;
    bool FStarted = false;
};

// The filtered rows gathered into one buffer and deflated in one call with
// libdeflate at the same level, then cut into IDAT chunks of the buffer's size
// as the streamed writer does. On photographs libdeflate is faster than zlib
// and its files are no larger; on data that shrinks to less than an eighth
// (drawings, screenshots) zlib finds the smaller files, and is used. When the
// buffer for the whole image can not be had, zlib's stream is used too.
class IdatWriter {
public:
    IdatWriter(TStream& stream, int level, std::size_t bufferSize, std::size_t total)
        : FStream(stream), FLevel(ClampLevel(level)), FBufferSize(bufferSize)
    {
        try {
            FWhole = TPixelBuffer::Uninitialised(total);
        } catch (const std::bad_alloc&) {
            FWhole.clear();
        }
        if (FWhole.empty() && total > 0)
            FStreamed = std::make_unique<DeflateWriter>(stream, level, bufferSize);
    }

    void Deflate(const std::uint8_t* bytes, std::size_t count)
    {
        if (FStreamed) {
            FStreamed->Deflate(bytes, count);
            return;
        }
        if (count > FWhole.size() - FUsed)
            RaiseCompress(Z_BUF_ERROR);
        std::memcpy(FWhole.data() + FUsed, bytes, count);
        FUsed += count;
    }

    void Finish()
    {
        if (FStreamed) {
            FStreamed->Finish();
            return;
        }
        std::unique_ptr<libdeflate_compressor, CompressorFree> c(libdeflate_alloc_compressor(FLevel));
        if (!c)
            OutOfMemoryError();
        if (HighlyCompressible(c.get())) {
            // Drawings and screenshots: there zlib's matches go further.
            DeflateWriter streamed(FStream, FLevel, FBufferSize);
            streamed.Deflate(FWhole.data(), FUsed);
            streamed.Finish();
            return;
        }
        const std::size_t bound = libdeflate_zlib_compress_bound(c.get(), FUsed);
        TPixelBuffer out;
        try {
            out = TPixelBuffer::Uninitialised(bound);
        } catch (const std::bad_alloc&) {
            OutOfMemoryError();
        }
        const std::size_t n = libdeflate_zlib_compress(c.get(), FWhole.data(), FUsed, out.data(), bound);
        if (n == 0)
            RaiseCompress(Z_BUF_ERROR);
        for (std::size_t at = 0; at < n; at += FBufferSize)
            WriteIdatChunk(FStream, out.data() + at, std::min(FBufferSize, n - at));
    }

private:
    // Whether a sample of the data shrinks to less than an eighth.
    bool HighlyCompressible(libdeflate_compressor* c) const
    {
        const std::size_t sample = std::min<std::size_t>(FUsed, 256 * 1024);
        if (sample < 4096)
            return false;
        std::vector<std::uint8_t> out(sample / 8);
        const std::size_t n = libdeflate_zlib_compress(c, FWhole.data(), sample, out.data(), out.size());
        return n != 0; // 0: it did not fit in an eighth
    }

    struct CompressorFree {
        void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
    };
    TStream& FStream;
    int FLevel;
    std::size_t FBufferSize;
    TPixelBuffer FWhole;
    std::size_t FUsed = 0;
    std::unique_ptr<DeflateWriter> FStreamed;
};

// The filter candidates of a row and the choice among them. Entry 0 holds
// the previous unfiltered row until the candidates are made, and the
// current one afterwards. Each entry starts with its filter-type byte.
class FilterChooser {
public:
    FilterChooser(std::size_t rowSize, std::size_t stride, TFilterSet filters)
        : FStride(stride), FFilters(filters), FRaw(rowSize, 0)
    {
        for (int f = 0; f < 5; ++f)
            if (f == 0 || (filters & (1u << f))) {
                FEntries[f].assign(rowSize + 1, 0);
                FEntries[f][0] = static_cast<std::uint8_t>(f);
            }
    }

    std::uint8_t* Raw() { return FRaw.data(); }
    const std::uint8_t* Entry(int f) const { return FEntries[f].data(); }
    // Zeroes the row above (start of a pass).
    void ClearAbove(std::size_t n) { std::memset(FEntries[0].data() + 1, 0, n); }

    int Choose(std::size_t n)
    {
        const std::uint8_t* raw = FRaw.data();
        const std::uint8_t* above = FEntries[0].data() + 1;
        const std::size_t s = std::min(FStride, n);
        if (FFilters & pfSub)
            Sub(FEntries[1].data() + 1, raw, n, s);
        if (FFilters & pfUp) {
            std::uint8_t* out = FEntries[2].data() + 1;
            for (std::size_t x = 0; x < n; ++x)
                out[x] = static_cast<std::uint8_t>(raw[x] - above[x]);
        }
        if (FFilters & pfAverage) {
            std::uint8_t* out = FEntries[3].data() + 1;
            for (std::size_t x = 0; x < s; ++x)
                out[x] = static_cast<std::uint8_t>(raw[x] - (above[x] >> 1));
            for (std::size_t x = s; x < n; ++x)
                out[x] = static_cast<std::uint8_t>(raw[x] - ((raw[x - FStride] + above[x]) >> 1));
        }
        if (FFilters & pfPaeth) {
            std::uint8_t* out = FEntries[4].data() + 1;
            for (std::size_t x = 0; x < s; ++x)
                out[x] = static_cast<std::uint8_t>(raw[x] - PaethPredict(0, above[x], 0));
            for (std::size_t x = s; x < n; ++x)
                out[x] = static_cast<std::uint8_t>(
                    raw[x] - PaethPredict(raw[x - FStride], above[x], above[x - FStride]));
        }
        // Types 5 to 7 are never candidates, but as members of the set they
        // keep a single filter type from being taken without scoring.
        const TFilterSet set = FFilters & 0x1F;
        // Sub alone needs neither the row above nor the None candidate.
        if (FFilters == pfSub)
            return 1;
        std::memcpy(FEntries[0].data() + 1, raw, n);

        if (FFilters == pfNone || FFilters == 0)
            return 0;
        int best = 0;
        std::size_t score = 0;
        for (int f = 0; f < 5; ++f) {
            if (!(set & (1u << f)))
                continue;
            if (FFilters == (1u << f))
                return f;
            const std::uint8_t* e = FEntries[f].data() + 1;
            std::size_t count = 0;
            for (std::size_t j = 2; j < n; ++j)
                if (e[j] == e[j - 1] || e[j] == e[j - 2])
                    ++count;
            if (count > score) {
                best = f;
                score = count;
            }
        }
        return best;
    }

private:
    void Sub(std::uint8_t* __restrict out, const std::uint8_t* __restrict raw, std::size_t n, std::size_t s) const
    {
        std::memcpy(out, raw, s);
        const std::size_t stride = FStride;
        std::size_t x = s;
#if defined(__SSE2__)
        for (; x + 16 <= n; x += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(raw + x));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(raw + x - stride));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_sub_epi8(a, b));
        }
#endif
        for (; x < n; ++x)
            out[x] = static_cast<std::uint8_t>(raw[x] - raw[x - stride]);
    }

    std::size_t FStride;
    TFilterSet FFilters;
    std::vector<std::uint8_t> FRaw;
    std::vector<std::uint8_t> FEntries[5];
};

// Bitmap rows back into PNG samples.
class RowWriter {
public:
    RowWriter(const TChunkIHDR& header, const std::array<std::uint8_t, 256>& inverse)
        : FHeader(header), FInverse(inverse.data()), FColorType(header.ColorType), FDepth(header.BitDepth)
    {
        for (std::size_t i = 0; i < 256; ++i)
            if (inverse[i] != i)
                FIdentity = false;
    }

    void Row(std::size_t y, std::uint8_t* raw, std::size_t rowSize) const
    {
        const std::uint8_t* dib = FHeader.DibRow(y);
        const std::size_t w = FHeader.Width;
        if ((FColorType == 0 || FColorType == 3) && FDepth != 16) {
            std::memcpy(raw, dib, rowSize);
            return;
        }
        if (FDepth == 8 && (FColorType == 2 || FColorType == 6)) {
            // The common kinds: B, G, R into R, G, B (and alpha).
            const std::uint8_t* inv = FInverse;
            const std::uint8_t* alpha = FColorType == 6 ? FHeader.AlphaRow(y) : nullptr;
            if (alpha) {
                for (std::size_t x = 0; x < w; ++x) {
                    std::uint8_t* out = raw + 4 * x;
                    const std::uint8_t* in = dib + 3 * x;
                    out[0] = inv[in[2]];
                    out[1] = inv[in[1]];
                    out[2] = inv[in[0]];
                    out[3] = alpha[x];
                }
            } else if (FIdentity) {
                SwapRedBlue(dib, raw, w);
            } else {
                for (std::size_t x = 0; x < w; ++x) {
                    std::uint8_t* out = raw + 3 * x;
                    const std::uint8_t* in = dib + 3 * x;
                    out[0] = inv[in[2]];
                    out[1] = inv[in[1]];
                    out[2] = inv[in[0]];
                }
            }
            return;
        }
        for (std::size_t x = 0; x < w; ++x)
            raw = Pixel(dib, y, x, raw);
    }

    void PassRow(std::size_t y, std::uint8_t* raw, std::size_t rowSize, std::size_t passWidth, std::size_t first,
                 std::size_t step) const
    {
        const std::uint8_t* dib = FHeader.DibRow(y);
        if ((FColorType == 0 || FColorType == 3) && FDepth != 16) {
            const int b = FHeader.DibBitsPerPixel;
            std::memset(raw, 0, rowSize);
            for (std::size_t i = 0, x = first; i < passWidth; ++i, x += step) {
                unsigned v;
                if (b == 8) {
                    v = dib[x];
                } else {
                    const std::size_t bit = x * static_cast<std::size_t>(b);
                    v = (dib[bit / 8] >> (8 - b - static_cast<int>(bit % 8))) & ((1u << b) - 1);
                }
                const std::size_t out = i * FDepth;
                raw[out / 8] = static_cast<std::uint8_t>(raw[out / 8] | (v << (8 - FDepth - out % 8)));
            }
            return;
        }
        for (std::size_t i = 0, x = first; i < passWidth; ++i, x += step)
            raw = Pixel(dib, y, x, raw);
    }

private:
    std::uint8_t* Sample(std::uint8_t* raw, std::uint8_t v) const
    {
        *raw++ = v;
        if (FDepth == 16)
            *raw++ = 0;
        return raw;
    }

    std::uint8_t* Pixel(const std::uint8_t* dib, std::size_t y, std::size_t x, std::uint8_t* raw) const
    {
        switch (FColorType) {
        case 0:
        case 3:
            return Sample(raw, dib[x]);
        case 2:
            raw = Sample(raw, FInverse[dib[3 * x + 2]]);
            raw = Sample(raw, FInverse[dib[3 * x + 1]]);
            return Sample(raw, FInverse[dib[3 * x]]);
        case 4:
            raw = Sample(raw, dib[x]);
            return Sample(raw, FHeader.AlphaRow(y)[x]);
        case 6:
            raw = Sample(raw, FInverse[dib[3 * x + 2]]);
            raw = Sample(raw, FInverse[dib[3 * x + 1]]);
            raw = Sample(raw, FInverse[dib[3 * x]]);
            return Sample(raw, FHeader.AlphaRow(y)[x]);
        default:
            return raw;
        }
    }

    const TChunkIHDR& FHeader;
    const std::uint8_t* FInverse;
    int FColorType;
    std::size_t FDepth;
    bool FIdentity = true;
};

} // namespace

bool TChunkIDAT::WriteChunk(TStream& stream)
{
    TChunkIHDR& header = OwnerHeader();
    if (!header.HasDib() || header.Width == 0 || header.Height == 0)
        Raise<EInvalidGraphicOperation>(PngMessages::EPngEmptySaveText);
    if (FOwner.InterlaceMode > 1)
        Raise<EPNGUnknownInterlace>(PngMessages::EPNGUnknownInterlaceText);
    const std::size_t width = header.Width, height = header.Height;
    std::size_t rowSize, pixelStride;
    FOwner.GetRowInfo(rowSize, pixelStride);

    FilterChooser chooser(rowSize, pixelStride, FOwner.RowFilters);
    RowWriter convert(header, FOwner.InverseGammaTable);
    const std::size_t total = FilteredImageSize(header, rowSize, FOwner.InterlaceMode);
    IdatWriter writer(stream, FOwner.CompressionLevel, std::min<std::size_t>(FOwner.IdatBufferSize(), 0x7FFFFFFFu),
                      total);

    if (FOwner.InterlaceMode == 0) {
        for (std::size_t y = 0; y < height; ++y) {
            convert.Row(y, chooser.Raw(), rowSize);
            const int f = chooser.Choose(rowSize);
            writer.Deflate(chooser.Entry(f), rowSize + 1);
        }
    } else {
        for (int pass = 0; pass < 7; ++pass) {
            const std::size_t passWidth = PassWidth(width, pass);
            const std::size_t passRowSize = RowByteCount(passWidth, header.ColorType, header.BitDepth);
            chooser.ClearAbove(rowSize);
            if (passRowSize == 0)
                continue;
            for (auto y = static_cast<std::size_t>(Adam7FirstRow[pass]); y < height;
                 y += static_cast<std::size_t>(Adam7RowStep[pass])) {
                convert.PassRow(y, chooser.Raw(), passRowSize, passWidth,
                                static_cast<std::size_t>(Adam7FirstColumn[pass]),
                                static_cast<std::size_t>(Adam7ColumnStep[pass]));
                const int f = chooser.Choose(passRowSize);
                writer.Deflate(chooser.Entry(f), passRowSize + 1);
            }
        }
    }
    writer.Finish();
    return true;
}
