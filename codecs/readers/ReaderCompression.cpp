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

void TLZWDecoder::ResetTable(std::uint32_t literals)
{
    for (std::uint32_t c = 0; c < literals; ++c) {
        Prefix[c] = NoCode;
        Suffix[c] = static_cast<std::uint8_t>(c);
        Length[c] = 1;
    }
    OldCode = NoCode;
}

std::uint8_t TLZWDecoder::OutputString(std::uint32_t code, const char* message)
{
    // The string of the next free code is OldCode's string and its own first
    // byte, which is the first byte of the string output last.
    const bool pending = code == FreeCode;
    const std::uint32_t start = pending ? OldCode : code;
    if (start >= TableSize)
        throw Exception(message);
    const std::size_t length = static_cast<std::size_t>(Length[start]) + (pending ? 1 : 0);
    if (length > TableSize)
        throw Exception(message);
    const std::size_t room = static_cast<std::size_t>(FOutEnd - FOut);
    std::uint8_t* target = length <= room ? FOut : Stack;
    std::size_t i = length;
    if (pending)
        target[--i] = FirstChar;
    std::uint32_t c = start;
    while (i > 0) {
        target[--i] = Suffix[c];
        c = Prefix[c];
    }
    const std::uint8_t first = target[0];
    if (target == FOut) {
        FOut += length;
    } else {
        std::memcpy(FOut, Stack, room);
        FOut += room;
    }
    return first;
}

void TLZWDecoder::AddEntry()
{
    Prefix[FreeCode] = OldCode;
    Suffix[FreeCode] = FirstChar;
    Length[FreeCode] = static_cast<std::uint16_t>(Length[OldCode] + 1);
}

std::size_t TTIFFLZW::Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                             std::size_t unpackedSize)
{
    static const char* const message = "TIF LZW: invalid opcode.";
    ClearCode = 256;
    EOICode = 257;
    FreeCode = 258;
    CodeSize = 9;
    CodeMask = 511;
    ResetTable(256);
    FOut = dest;
    FOutEnd = dest + unpackedSize;
    const std::uint8_t* in = source;
    std::uint32_t acc = 0;
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < packedSize; ++i) {
        acc |= static_cast<std::uint32_t>(in[i]) << (24 - bits);
        bits += 8;
        while (bits >= CodeSize) {
            const std::uint32_t code = acc >> (32 - CodeSize);
            acc <<= CodeSize;
            bits -= CodeSize;
            if (code == EOICode || FOut >= FOutEnd)
                return static_cast<std::size_t>(FOut - dest);
            if (code == ClearCode) {
                CodeSize = 9;
                CodeMask = 511;
                FreeCode = 258;
                OldCode = NoCode;
                continue;
            }
            if (code > FreeCode)
                throw Exception(message);
            if (OldCode == NoCode) {
                // The first code after a clear is a single byte.
                if (code >= ClearCode)
                    throw Exception(message);
                FirstChar = Suffix[code];
                *FOut++ = FirstChar;
                OldCode = code;
                continue;
            }
            FirstChar = OutputString(code, message);
            if (FreeCode < TableSize) {
                AddEntry();
                ++FreeCode;
            }
            if (FreeCode == CodeMask && CodeSize < 12) {
                ++CodeSize;
                CodeMask = (1u << CodeSize) - 1;
            }
            OldCode = code;
        }
    }
    return static_cast<std::size_t>(FOut - dest);
}

std::size_t TGIFLZW::Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                            std::size_t unpackedSize)
{
    static const char* const message = "GIF LZW: invalid opcode.";
    const std::uint32_t initial = std::clamp<std::uint32_t>(InitialCodeSize, 1, 11);
    ClearCode = static_cast<std::uint16_t>(1u << initial);
    EOICode = static_cast<std::uint16_t>(ClearCode + 1);
    auto clear = [&] {
        FreeCode = ClearCode + 2u;
        CodeSize = initial + 1;
        CodeMask = (1u << CodeSize) - 1;
        OldCode = NoCode;
    };
    clear();
    ResetTable(ClearCode);
    FOut = dest;
    FOutEnd = dest + unpackedSize;
    const std::uint8_t* in = source;
    std::uint32_t acc = 0;
    std::uint32_t bits = 0;
    for (std::size_t i = 0; i < packedSize; ++i) {
        acc |= static_cast<std::uint32_t>(in[i]) << bits;
        bits += 8;
        while (bits >= CodeSize) {
            const std::uint32_t code = acc & CodeMask;
            acc >>= CodeSize;
            bits -= CodeSize;
            if (code == EOICode || FOut >= FOutEnd)
                return static_cast<std::size_t>(FOut - dest);
            if (code == ClearCode) {
                clear();
                continue;
            }
            if (code > FreeCode)
                throw Exception(message);
            if (OldCode == NoCode) {
                if (code >= ClearCode)
                    throw Exception(message);
                FirstChar = Suffix[code];
                *FOut++ = FirstChar;
                OldCode = code;
                continue;
            }
            FirstChar = OutputString(code, message);
            // A full table takes no more entries until the next clear code:
            // encoders may go on with the full table (deferred clear).
            if (FreeCode < TableSize) {
                AddEntry();
                if (FreeCode == CodeMask && CodeSize < 12) {
                    ++CodeSize;
                    CodeMask = (1u << CodeSize) - 1;
                }
                ++FreeCode;
            }
            OldCode = code;
        }
    }
    return static_cast<std::size_t>(FOut - dest);
}

// ---------------------------------------------------------------- run-length

std::size_t TPackbitsRLE::Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                                 std::size_t unpackedSize)
{
    const std::uint8_t* in = source;
    std::size_t i = 0, o = 0;
    while (i < packedSize && o < unpackedSize) {
        const int n = static_cast<std::int8_t>(in[i++]);
        if (n >= 0) {
            const std::size_t want = static_cast<std::size_t>(n) + 1;
            const std::size_t take = std::min({want, packedSize - i, unpackedSize - o});
            std::memcpy(dest + o, in + i, take);
            o += take;
            i += std::min(want, packedSize - i);
        } else if (n != -128) {
            if (i >= packedSize)
                break;
            const std::size_t take = std::min(static_cast<std::size_t>(1 - n), unpackedSize - o);
            std::memset(dest + o, in[i++], take);
            o += take;
        }
    }
    return o;
}

std::size_t TPCXRLE::Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                            std::size_t unpackedSize)
{
    const std::uint8_t* in = source;
    std::size_t i = 0, o = 0;
    while (o < unpackedSize && i < packedSize) {
        const std::uint8_t b = in[i++];
        if (b >= 0xC0) {
            if (i >= packedSize)
                break;
            const std::size_t take = std::min<std::size_t>(b & 0x3F, unpackedSize - o);
            std::memset(dest + o, in[i++], take);
            o += take;
        } else {
            dest[o++] = b;
        }
    }
    return o;
}

std::size_t TSGIRLE::Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                            std::size_t unpackedSize)
{
    const std::uint8_t* in = source;
    const std::size_t step = SampleSize == 2 ? 2 : 1;
    std::size_t i = 0, o = 0;
    while (o < unpackedSize && packedSize - i >= step) {
        const unsigned header = step == 2 ? static_cast<unsigned>((in[i] << 8) | in[i + 1]) : in[i];
        i += step;
        const std::size_t count = header & 0x7F;
        if (count == 0)
            break;
        if (header & 0x80) {
            const std::size_t take = std::min({count, (packedSize - i) / step, unpackedSize - o});
            if (step == 1) {
                std::memcpy(dest + o, in + i, take);
            } else {
                for (std::size_t k = 0; k < take; ++k)
                    dest[o + k] = in[i + 2 * k];
            }
            o += take;
            i += std::min(count * step, packedSize - i);
        } else {
            if (packedSize - i < step)
                break;
            const std::size_t take = std::min(count, unpackedSize - o);
            std::memset(dest + o, in[i], take);
            o += take;
            i += step;
        }
    }
    return o;
}

std::size_t TCUTRLE::Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                            std::size_t unpackedSize)
{
    const std::uint8_t* in = source;
    std::size_t i = std::min<std::size_t>(2, packedSize);
    std::size_t o = 0;
    // The whole row is consumed, also past a full output, so that source
    // reaches the next row.
    while (i < packedSize) {
        const std::uint8_t h = in[i++];
        if (h == 0)
            break;
        const std::size_t count = h & 0x7F;
        if (h & 0x80) {
            if (i >= packedSize)
                break;
            const std::size_t take = std::min(count, unpackedSize - o);
            std::memset(dest + o, in[i++], take);
            o += take;
        } else {
            const std::size_t avail = std::min(count, packedSize - i);
            const std::size_t take = std::min(avail, unpackedSize - o);
            std::memcpy(dest + o, in + i, take);
            o += take;
            i += avail;
        }
    }
    source = in + i;
    return o;
}

std::size_t TRLADecoder::Decode(const std::uint8_t*& source, std::uint8_t* dest, std::size_t packedSize,
                                std::size_t unpackedSize)
{
    const std::uint8_t* in = source;
    std::size_t i = 0, o = 0;
    while (i < packedSize && o < unpackedSize) {
        const int n = static_cast<std::int8_t>(in[i++]);
        if (n >= 0) {
            if (i >= packedSize)
                break;
            const std::size_t take = std::min(static_cast<std::size_t>(n) + 1, unpackedSize - o);
            std::memset(dest + o, in[i++], take);
            o += take;
        } else {
            const std::size_t want = static_cast<std::size_t>(-n);
            const std::size_t take = std::min({want, packedSize - i, unpackedSize - o});
            std::memcpy(dest + o, in + i, take);
            o += take;
            i += std::min(want, packedSize - i);
        }
    }
    return o;
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
