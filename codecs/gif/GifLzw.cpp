// The LZW decoder of a frame's image data: the bit reader over the data
// sub-blocks, the string table and the plain and interlaced row order.

#include "GifLzw.h"
#include "GifPicture.h"

#include <algorithm>
#include <memory>

std::uint32_t TLZWStringTable::PushString(std::uint32_t code, std::uint32_t clearCode)
{
    while (code >= clearCode) {
        if (Top >= StackSize || Prefix[code] == code)
            RaiseGIFError("Circular decoder table entry");
        Stack[static_cast<std::size_t>(Top++)] = Suffix[code];
        code = Prefix[code];
    }
    if (Top >= StackSize)
        RaiseGIFError("Circular decoder table entry");
    Stack[static_cast<std::size_t>(Top++)] = static_cast<std::uint8_t>(code);
    return code;
}

namespace {

constexpr int EndOfData = -1;

class TLZWDecoder {
public:
    TLZWDecoder(TGIFSubImage& frame, TStream& stream, int codeSize)
        : FFrame(frame), FStream(stream), FCodeSize(codeSize), FClear(1 << codeSize), FEnd(FClear + 1),
          FTables(std::make_unique<TLZWStringTable>())
    {
        FWidth = codeSize + 1;
        FNextFree = FClear + 2;
        FLimit = 2 * FClear;
        FStreamSize = stream.Size();
    }

    // Decodes up to count pixels into out; answers how many came before
    // the data ended.
    std::size_t Decode(std::uint8_t* out, std::size_t count);

    // Steps over what is left of the frame's sub-blocks, terminator included.
    void SkipRest()
    {
        if (FTerminatorSeen || FEndHandled)
            return;
        FEndHandled = true;
        FTerminatorSeen = true;
        SkipBlocks();
    }

private:
    int FetchCode()
    {
        if (FFirstCall) {
            FFirstCall = false;
            return FClear;
        }
        while (FBits < FWidth) {
            if (FBlockPos < FBlockLength) {
                FAccumulator |= static_cast<std::uint32_t>(FBlock[FBlockPos++]) << FBits;
                FBits += 8;
                continue;
            }
            // A code asked for once the data has run out: the frame was cut
            // short, whatever bits of it are left.
            if (FNoMoreData || !NextBlock()) {
                FFrame.ReportWarning(1, "Decoder bit buffer under-run");
                return EndOfData;
            }
        }
        const int code = static_cast<int>(FAccumulator & ((1u << FWidth) - 1));
        FAccumulator >>= FWidth;
        FBits -= FWidth;
        return code;
    }

    // Reads the next sub-block into the block buffer; false when its length
    // byte cannot be read.
    bool NextBlock()
    {
        std::uint8_t length = 0;
        if (!ReadByteIfAny(FStream, length)) {
            FNoMoreData = true;
            return false;
        }
        FBlockPos = 0;
        FBlockLength = 0;
        if (length == 0) {
            FTerminatorSeen = true;
            FNoMoreData = true;
            return true;
        }
        std::int64_t left = FStreamSize - FStream.Position();
        std::size_t count = length;
        if (left < static_cast<std::int64_t>(count)) {
            FFrame.ReportWarning(1, "Premature end of data");
            count = static_cast<std::size_t>(std::max<std::int64_t>(left, 0));
        }
        ReadExact(FStream, FBlock, count);
        FBlockLength = count;
        return true;
    }

    void SkipBlocks()
    {
        std::uint8_t length = 0;
        while (ReadByteIfAny(FStream, length) && length != 0) {
            const std::int64_t left = FStreamSize - FStream.Position();
            if (left <= length) {
                FStream.Seek(0, soEnd);
                return;
            }
            FStream.Seek(length, soCurrent);
        }
    }

    // Codes grow one bit wider once the next free code needs it, up to 12.
    void GrowWidth()
    {
        if (FNextFree >= FLimit && FLimit < TLZWStringTable::TableSize) {
            FLimit *= 2;
            ++FWidth;
        }
    }

    void ResetTable()
    {
        auto& t = *FTables;
        for (int i = 0; i < FClear; ++i) {
            t.Suffix[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
            t.Prefix[static_cast<std::size_t>(i)] = 0;
            t.Length[static_cast<std::size_t>(i)] = 1;
        }
        std::fill(t.Suffix.begin() + FClear, t.Suffix.end(), std::uint8_t{0});
        std::fill(t.Prefix.begin() + FClear, t.Prefix.end(), std::uint16_t{0});
        std::fill(t.Length.begin() + FClear, t.Length.end(), std::uint16_t{1});
        FWidth = FCodeSize + 1;
        FLimit = 2 * FClear;
        FNextFree = FClear + 2;
        t.Top = 0;
    }

    TGIFSubImage& FFrame;
    TStream& FStream;
    std::int64_t FStreamSize = 0;
    const int FCodeSize;
    const int FClear;
    const int FEnd;
    int FWidth = 0;
    int FNextFree = 0;
    int FLimit = 0;
    int FOldCode = -1;
    int FFirstPixel = 0;
    std::unique_ptr<TLZWStringTable> FTables;

    std::uint8_t FBlock[256] = {};
    std::size_t FBlockPos = 0;
    std::size_t FBlockLength = 0;
    std::uint32_t FAccumulator = 0;
    int FBits = 0;
    bool FNoMoreData = false;
    bool FTerminatorSeen = false;
    bool FFirstCall = true;
    bool FEndHandled = false;
};

} // namespace

std::size_t TLZWDecoder::Decode(std::uint8_t* out, std::size_t count)
{
    auto& t = *FTables;
    std::size_t n = 0;
    auto corrupt = [this] {
        FFrame.ReportWarning(1, "Invalid code in image data");
        SkipRest();
    };
    while (n < count) {
        if (t.Top > 0) {
            out[n++] = t.Stack[static_cast<std::size_t>(--t.Top)];
            continue;
        }
        if (FEndHandled)
            return n;
        int code = FetchCode();
        if (code < 0)
            return n;
        if (code == FClear) {
            ResetTable();
            do
                code = FetchCode();
            while (code == FClear);
            if (code < 0)
                return n;
            if (code == FEnd) {
                SkipRest();
                return n;
            }
            if (code > FEnd) {
                corrupt();
                return n;
            }
            FOldCode = code;
            FFirstPixel = code;
            out[n++] = static_cast<std::uint8_t>(code);
            // With a code size of 1 the first free code already needs the
            // wider width: the encoder widens after this first code.
            GrowWidth();
            continue;
        }
        if (code == FEnd) {
            SkipRest();
            return n;
        }
        if (FOldCode < 0 || code > FNextFree) {
            // A code that no table holds: the data is corrupt.
            corrupt();
            return n;
        }
        const int incoming = code;
        // A code equal to the next free one is the last string and its own
        // first pixel.
        const bool ahead = code >= FNextFree;
        const int source = ahead ? FOldCode : code;
        const std::size_t length = t.Length[static_cast<std::size_t>(source)] + (ahead ? 1u : 0u);
        if (length <= count - n) {
            // The whole string fits: written from its end backwards.
            std::uint8_t* const start = out + n;
            std::uint8_t* p = start + length;
            if (ahead)
                *--p = static_cast<std::uint8_t>(FFirstPixel);
            int c = source;
            while (c >= FClear) {
                if (p <= start)
                    RaiseGIFError("Circular decoder table entry");
                *--p = t.Suffix[static_cast<std::size_t>(c)];
                c = t.Prefix[static_cast<std::size_t>(c)];
            }
            if (p != start + 1)
                RaiseGIFError("Circular decoder table entry");
            *--p = static_cast<std::uint8_t>(c);
            FFirstPixel = c;
            n += length;
        } else {
            if (ahead)
                t.Stack[static_cast<std::size_t>(t.Top++)] = static_cast<std::uint8_t>(FFirstPixel);
            FFirstPixel = static_cast<int>(
                t.PushString(static_cast<std::uint32_t>(source), static_cast<std::uint32_t>(FClear)));
        }
        if (FNextFree < TLZWStringTable::TableSize) {
            const auto next = static_cast<std::size_t>(FNextFree);
            t.Prefix[next] = static_cast<std::uint16_t>(FOldCode);
            t.Suffix[next] = static_cast<std::uint8_t>(FFirstPixel);
            t.Length[next] = static_cast<std::uint16_t>(
                std::min<int>(t.Length[static_cast<std::size_t>(FOldCode)] + 1, 0xFFFF));
            ++FNextFree;
            GrowWidth();
        }
        FOldCode = incoming;
    }
    return n;
}

void ReadFrameRaster(TGIFSubImage& frame, TStream& stream)
{
    frame.AllocPixels();
    // The buffer comes zeroed; a transparent frame starts transparent.
    const int initial = frame.TransparentIndex();
    if (std::uint8_t* pixels = frame.PixelData(); pixels && initial > 0)
        std::fill_n(pixels, frame.PixelDataSize(), static_cast<std::uint8_t>(initial));

    std::uint8_t codeSize = 0;
    if (!ReadByteIfAny(stream, codeSize))
        return;
    // The string table holds 4096 codes: sizes above 11 leave no room for
    // the table to grow, and 0 leaves no literal beside clear and end.
    if (codeSize < 1 || codeSize > 11)
        RaiseGIFError("Invalid LZW code size (" + std::to_string(codeSize) + ")");

    TLZWDecoder decoder(frame, stream, codeSize);
    try {
        const std::size_t width = static_cast<std::size_t>(frame.FrameWidth());
        const int height = frame.FrameHeight();
        std::uint8_t* pixels = frame.PixelData();
        const std::size_t total = frame.PixelDataSize();
        if (pixels && !frame.IsInterlaced()) {
            decoder.Decode(pixels, total);
        } else if (pixels) {
            // Rows come in pass order, each decoded in its place. Rows the
            // data did not reach keep their initial index.
            static constexpr int start[4] = {0, 4, 2, 1};
            static constexpr int step[4] = {8, 8, 4, 2};
            bool more = true;
            for (int pass = 0; pass < 4 && more; ++pass)
                for (int y = start[pass]; y < height && more; y += step[pass])
                    more = decoder.Decode(pixels + static_cast<std::size_t>(y) * width, width) == width;
        }
    } catch (...) {
        try {
            decoder.SkipRest();
        } catch (...) {
        }
        throw;
    }
    // Whatever ended the pixels, the stream goes on after the terminator.
    decoder.SkipRest();
}
