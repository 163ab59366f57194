#include "ReaderCompression.h"

#include "Exceptions.h"

#include <algorithm>
#include <cstring>

namespace {

// Writes n copies of one pixel of bpp bytes.
void FillPixels(std::uint8_t* dest, const std::uint8_t* pixel, std::size_t bpp, std::size_t n)
{
    if (n == 0)
        return;
    if (bpp == 1) {
        std::memset(dest, pixel[0], n);
        return;
    }
    std::memcpy(dest, pixel, bpp);
    std::size_t done = bpp;
    const std::size_t total = n * bpp;
    while (done < total) {
        const std::size_t chunk = std::min(done, total - done);
        std::memcpy(dest + done, dest, chunk);
        done += chunk;
    }
}

} // namespace

// ---------------------------------------------------------------- LZW

template <bool Tiff>
std::size_t TLZWDecoder::DecodeCodes(const std::uint8_t* in, std::size_t packedSize, std::uint8_t* dest,
                                     std::size_t unpackedSize, std::uint32_t initialWidth, const char* message)
{
    constexpr std::uint32_t tableSize = TableSize;
    constexpr std::uint32_t noCode = NoCode;
    std::size_t* const offset = Offset;
    std::uint16_t* const length = Length;
    ClearCode = static_cast<std::uint16_t>(1u << (initialWidth - 1));
    EOICode = static_cast<std::uint16_t>(ClearCode + 1);
    const std::uint32_t clear = ClearCode;
    const std::uint32_t eoi = EOICode;
    std::uint32_t width = initialWidth;
    std::uint32_t mask = (1u << width) - 1;
    std::uint32_t freeCode = clear + 2;
    std::uint32_t oldCode = noCode;
    std::size_t oldOffset = 0, oldLength = 0;
    std::uint8_t* out = dest;
    std::uint8_t* const end = dest + unpackedSize;
    std::uint64_t acc = 0;
    std::uint32_t bits = 0;
    std::size_t i = 0;
    for (;;) {
        while (bits <= 56 && i < packedSize) {
            if constexpr (Tiff)
                acc |= static_cast<std::uint64_t>(in[i++]) << (56 - bits);
            else
                acc |= static_cast<std::uint64_t>(in[i++]) << bits;
            bits += 8;
        }
        if (bits < width)
            break;
        std::uint32_t code;
        if constexpr (Tiff) {
            code = static_cast<std::uint32_t>(acc >> (64 - width));
            acc <<= width;
        } else {
            code = static_cast<std::uint32_t>(acc) & mask;
            acc >>= width;
        }
        bits -= width;
        if (code == eoi || out >= end)
            break;
        if (code == clear) {
            width = initialWidth;
            mask = (1u << width) - 1;
            freeCode = clear + 2;
            oldCode = noCode;
            continue;
        }
        if (code > freeCode)
            throw Exception(message);
        const std::size_t here = static_cast<std::size_t>(out - dest);
        std::size_t stringLength = 1;
        if (code < clear) {
            *out++ = static_cast<std::uint8_t>(code);
        } else {
            // A first code after a clear is a single byte.
            if (oldCode == noCode)
                throw Exception(message);
            // The next free code is the previous string plus its own first
            // byte: the previous string and the byte behind it, which this
            // copy writes itself (hence the forward copy when they overlap).
            const bool pending = code == freeCode;
            const std::size_t start = pending ? oldOffset : offset[code];
            stringLength = pending ? oldLength + 1 : length[code];
            const std::size_t room = static_cast<std::size_t>(end - out);
            const std::uint8_t* src = dest + start;
            const std::size_t distance = here - start;
            if (distance >= 16 && room >= 16 && stringLength <= 16) {
                std::memcpy(out, src, 16);
                out += stringLength;
            } else {
                const std::size_t n = std::min(stringLength, room);
                if (distance >= n)
                    std::memcpy(out, src, n);
                else
                    for (std::size_t k = 0; k < n; ++k)
                        out[k] = src[k];
                out += n;
            }
        }
        if (oldCode != noCode && freeCode < tableSize) {
            offset[freeCode] = oldOffset;
            length[freeCode] = static_cast<std::uint16_t>(oldLength + 1);
            if constexpr (Tiff) {
                ++freeCode;
                if (freeCode == mask && width < 12) {
                    ++width;
                    mask = (1u << width) - 1;
                }
            } else {
                // A full table takes no more entries until the next clear
                // code: encoders may go on with it (deferred clear).
                if (freeCode == mask && width < 12) {
                    ++width;
                    mask = (1u << width) - 1;
                }
                ++freeCode;
            }
        }
        oldCode = code;
        oldOffset = here;
        oldLength = stringLength;
    }
    CodeSize = width;
    CodeMask = mask;
    FreeCode = freeCode;
    OldCode = oldCode;
    return static_cast<std::size_t>(out - dest);
}

std::size_t TTIFFLZW::Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                             std::size_t unpackedSize)
{
    const char* const message = "TIF LZW: invalid opcode.";
    // Files written before TIFF 6 pack the codes lowest bit first and widen
    // them only once the next free entry is 512, 1024 or 2048, as GIF does.
    // Their strips begin with a clear code, which then shows as the bytes
    // 00 and then one with its lowest bit set; the usual packing begins with
    // 0x80.
    if (packedSize >= 2 && source[0] == 0 && (source[1] & 1) != 0)
        return DecodeCodes<false>(source, packedSize, dest, unpackedSize, 9, message);
    return DecodeCodes<true>(source, packedSize, dest, unpackedSize, 9, message);
}

std::size_t TGIFLZW::Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                            std::size_t unpackedSize)
{
    const std::uint32_t initial = std::clamp<std::uint32_t>(InitialCodeSize, 1, 11);
    return DecodeCodes<false>(source, packedSize, dest, unpackedSize, initial + 1, "GIF LZW: invalid opcode.");
}

// ---------------------------------------------------------------- run-length

namespace {

// The packed bytes and the output of one run-length decode, each with its
// position; every step is cut at both ends.
struct RunLengthCursor {
    const std::uint8_t* In;
    std::size_t PackedSize;
    std::uint8_t* Out;
    std::size_t UnpackedSize;
    std::size_t I = 0;
    std::size_t O = 0;

    bool InputLeft() const { return I < PackedSize; }
    bool OutputLeft() const { return O < UnpackedSize; }
    std::uint8_t Next() { return In[I++]; }
    // Copies the next count bytes (as far as both ends allow) and steps
    // over them.
    void Copy(std::size_t count)
    {
        const std::size_t avail = std::min(count, PackedSize - I);
        const std::size_t take = std::min(avail, UnpackedSize - O);
        std::memcpy(Out + O, In + I, take);
        O += take;
        I += avail;
    }
    // Writes count copies of the next byte; false when there is none.
    bool Run(std::size_t count)
    {
        if (!InputLeft())
            return false;
        const std::size_t take = std::min(count, UnpackedSize - O);
        std::memset(Out + O, Next(), take);
        O += take;
        return true;
    }
};

} // namespace

std::size_t TPackbitsRLE::Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                                 std::size_t unpackedSize)
{
    RunLengthCursor c{source, packedSize, dest, unpackedSize};
    while (c.InputLeft() && c.OutputLeft()) {
        const int n = static_cast<std::int8_t>(c.Next());
        if (n >= 0)
            c.Copy(static_cast<std::size_t>(n) + 1);
        else if (n != -128 && !c.Run(static_cast<std::size_t>(1 - n)))
            break;
    }
    return c.O;
}

std::size_t TPCXRLE::Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                            std::size_t unpackedSize)
{
    RunLengthCursor c{source, packedSize, dest, unpackedSize};
    while (c.OutputLeft() && c.InputLeft()) {
        const std::uint8_t b = c.Next();
        if (b < 0xC0)
            dest[c.O++] = b;
        else if (!c.Run(b & 0x3Fu))
            break;
    }
    return c.O;
}

std::size_t TSGIRLE::Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                            std::size_t unpackedSize)
{
    RunLengthCursor c{source, packedSize, dest, unpackedSize};
    const bool wide = SampleSize == 2;
    const std::size_t step = wide ? 2 : 1;
    while (c.OutputLeft() && packedSize - c.I >= step) {
        const unsigned header = wide ? static_cast<unsigned>((c.In[c.I] << 8) | c.In[c.I + 1]) : c.In[c.I];
        c.I += step;
        const std::size_t count = header & 0x7F;
        if (count == 0)
            break;
        if (!(header & 0x80)) {
            // One sample, its first (most significant) byte repeated.
            if (packedSize - c.I < step || !c.Run(count))
                break;
            c.I += step - 1;
        } else if (!wide) {
            c.Copy(count);
        } else {
            const std::size_t take = std::min({count, (packedSize - c.I) / 2, unpackedSize - c.O});
            for (std::size_t k = 0; k < take; ++k)
                dest[c.O + k] = c.In[c.I + 2 * k];
            c.O += take;
            c.I += std::min(count * 2, packedSize - c.I);
        }
    }
    return c.O;
}

std::size_t TCUTRLE::Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                            std::size_t unpackedSize)
{
    RunLengthCursor c{source, packedSize, dest, unpackedSize};
    c.I = std::min<std::size_t>(2, packedSize); // the row's byte count
    // The whole row is consumed, also past a full output, so that source
    // reaches the next row.
    while (c.InputLeft()) {
        const std::uint8_t h = c.Next();
        if (h == 0)
            break;
        if (!(h & 0x80))
            c.Copy(h & 0x7Fu);
        else if (!c.Run(h & 0x7Fu))
            break;
    }
    source += c.I;
    return c.O;
}

std::size_t TRLADecoder::Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                                std::size_t unpackedSize)
{
    RunLengthCursor c{source, packedSize, dest, unpackedSize};
    while (c.InputLeft() && c.OutputLeft()) {
        const int n = static_cast<std::int8_t>(c.Next());
        if (n < 0)
            c.Copy(static_cast<std::size_t>(-n));
        else if (!c.Run(static_cast<std::size_t>(n) + 1))
            break;
    }
    FConsumed = c.I;
    return c.O;
}

// ---------------------------------------------------------------- Targa

std::size_t TargaBytesPerPixel(std::uint8_t colorDepth)
{
    switch (colorDepth) {
    case 8:
        return 1;
    case 15:
    case 16:
        return 2;
    case 24:
        return 3;
    case 32:
        return 4;
    default:
        return 0;
    }
}

TTargaRLEReader::TTargaRLEReader(std::uint8_t colorDepth) : FBpp(TargaBytesPerPixel(colorDepth)) {}

std::size_t TTargaRLEReader::Decode(const std::uint8_t* source, std::size_t sourceSize, std::uint8_t* dest,
                                    std::size_t count)
{
    FWritten = 0;
    if (FBpp == 0)
        return 0;
    count -= count % FBpp;
    std::size_t i = 0, o = 0;
    while (o < count) {
        if (FPending == 0) {
            if (i >= sourceSize)
                break;
            const std::uint8_t h = source[i++];
            FPending = (h & 0x7Fu) + 1;
            FRun = h >= 0x80;
            if (FRun) {
                if (sourceSize - i < FBpp) {
                    FPending = 0;
                    i = sourceSize;
                    break;
                }
                std::memcpy(FPixel, source + i, FBpp);
                i += FBpp;
            }
        }
        std::size_t n = std::min(FPending, (count - o) / FBpp);
        if (FRun) {
            FillPixels(dest + o, FPixel, FBpp, n);
        } else {
            n = std::min(n, (sourceSize - i) / FBpp);
            if (n == 0)
                break;
            std::memcpy(dest + o, source + i, n * FBpp);
            i += n * FBpp;
        }
        o += n * FBpp;
        FPending -= n;
    }
    FWritten = o;
    return i;
}

std::size_t DecodeTargaRLE(const std::uint8_t* source, std::size_t sourceSize, std::uint8_t* dest,
                           std::size_t count, std::uint8_t colorDepth)
{
    TTargaRLEReader reader(colorDepth);
    return reader.Decode(source, sourceSize, dest, count);
}

std::uint32_t PixelValue(const std::uint8_t* pixel, std::size_t bpp)
{
    std::uint32_t v = 0;
    for (std::size_t k = 0; k < bpp; ++k)
        v = (v << 8) | pixel[k];
    return v;
}

namespace {

// Packets hold at most 128 pixels, so no count looks further.
constexpr std::size_t MaxPacket = 128;

bool SamePixel(const std::uint8_t* a, const std::uint8_t* b, std::size_t bpp)
{
    return std::memcmp(a, b, bpp) == 0;
}

} // namespace

std::size_t CountDiffPixels(const std::uint8_t* source, std::size_t bpp, std::size_t count)
{
    if (count <= 1)
        return count;
    const std::size_t limit = std::min(count - 1, MaxPacket);
    for (std::size_t i = 0; i < limit; ++i)
        if (SamePixel(source + i * bpp, source + (i + 1) * bpp, bpp))
            return i;
    return limit == count - 1 ? count : limit;
}

std::size_t CountSamePixels(const std::uint8_t* source, std::size_t bpp, std::size_t count)
{
    if (count == 0)
        return 0;
    const std::size_t limit = std::min(count, MaxPacket);
    std::size_t n = 1;
    while (n < limit && SamePixel(source, source + n * bpp, bpp))
        ++n;
    return n;
}

std::size_t EncodeTargaRLE(const std::uint8_t* source, std::uint8_t* dest, std::size_t count, std::size_t bpp)
{
    std::size_t o = 0;
    while (count > 0) {
        const std::size_t diff = std::min(CountDiffPixels(source, bpp, count), MaxPacket);
        if (diff > 0) {
            dest[o++] = static_cast<std::uint8_t>(diff - 1);
            std::memcpy(dest + o, source, diff * bpp);
            o += diff * bpp;
            source += diff * bpp;
            count -= diff;
            continue;
        }
        const std::size_t same = std::min(CountSamePixels(source, bpp, count), MaxPacket);
        dest[o++] = static_cast<std::uint8_t>((same - 1) | 0x80);
        std::memcpy(dest + o, source, bpp);
        o += bpp;
        source += same * bpp;
        count -= same;
    }
    return o;
}
