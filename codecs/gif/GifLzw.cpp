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
    Stack[static_cast<std::size_t>(Top++)] = code;
    return code;
}

namespace {

constexpr int EndOfData = -1;
constexpr int EndOfImage = -2;

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

    // A pixel, or EndOfData / EndOfImage.
    int PullIndex()
    {
        if (FTables->Top > 0)
            return static_cast<int>(FTables->Stack[static_cast<std::size_t>(--FTables->Top)]);
        return ExpandCode();
    }

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
            if (FNoMoreData) {
                if (FBits == 0)
                    FFrame.ReportWarning(1, "Decoder bit buffer under-run");
                return EndOfData;
            }
            if (!NextBlock())
                return EndOfData;
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

    void ResetTable()
    {
        auto& t = *FTables;
        for (int i = 0; i < FClear; ++i) {
            t.Suffix[static_cast<std::size_t>(i)] = static_cast<std::uint32_t>(i);
            t.Prefix[static_cast<std::size_t>(i)] = 0;
        }
        std::fill(t.Suffix.begin() + FClear, t.Suffix.end(), 0u);
        std::fill(t.Prefix.begin() + FClear, t.Prefix.end(), 0u);
        FWidth = FCodeSize + 1;
        FLimit = 2 * FClear;
        FNextFree = FClear + 2;
        t.Top = 0;
    }

    int EndImage()
    {
        SkipRest();
        return EndOfImage;
    }

    int ExpandCode()
    {
        if (FEndHandled)
            return EndOfImage;
        auto& t = *FTables;
        for (;;) {
            int code = FetchCode();
            if (code < 0)
                return code;
            if (code == FClear) {
                ResetTable();
                do
                    code = FetchCode();
                while (code == FClear);
                if (code < 0)
                    return code;
                if (code == FEnd)
                    return EndImage();
                if (code > FEnd) {
                    FFrame.ReportWarning(1, "Invalid code in image data");
                    return EndImage();
                }
                FOldCode = code;
                FFirstPixel = code;
                return code;
            }
            if (code == FEnd)
                return EndImage();
            if (FOldCode < 0 || code > FNextFree) {
                // A code that no table holds: the data is corrupt.
                FFrame.ReportWarning(1, "Invalid code in image data");
                return EndImage();
            }
            const int incoming = code;
            if (code >= FNextFree) {
                t.Stack[static_cast<std::size_t>(t.Top++)] = static_cast<std::uint32_t>(FFirstPixel);
                code = FOldCode;
            }
            FFirstPixel = static_cast<int>(t.PushString(static_cast<std::uint32_t>(code), static_cast<std::uint32_t>(FClear)));
            if (FNextFree < TLZWStringTable::TableSize) {
                t.Prefix[static_cast<std::size_t>(FNextFree)] = static_cast<std::uint32_t>(FOldCode);
                t.Suffix[static_cast<std::size_t>(FNextFree)] = static_cast<std::uint32_t>(FFirstPixel);
                ++FNextFree;
                if (FNextFree >= FLimit && FLimit < TLZWStringTable::TableSize) {
                    FLimit *= 2;
                    ++FWidth;
                }
            }
            FOldCode = incoming;
            if (t.Top > 0)
                return static_cast<int>(t.Stack[static_cast<std::size_t>(--t.Top)]);
        }
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

// Fills count pixels from the decoder; false at the first negative answer.
bool FillRow(TLZWDecoder& decoder, std::uint8_t* row, std::size_t count)
{
    for (std::size_t x = 0; x < count; ++x) {
        const int pixel = decoder.PullIndex();
        if (pixel < 0)
            return false;
        row[x] = static_cast<std::uint8_t>(pixel);
    }
    return true;
}

} // namespace

void ReadFrameRaster(TGIFSubImage& frame, TStream& stream)
{
    frame.AllocPixels();
    const int initial = frame.TransparentIndex();
    if (std::uint8_t* pixels = frame.PixelData())
        std::fill_n(pixels, frame.PixelDataSize(), static_cast<std::uint8_t>(initial >= 0 ? initial : 0));

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
        if (pixels && !frame.IsInterlaced()) {
            FillRow(decoder, pixels, frame.PixelDataSize());
        } else if (pixels) {
            static constexpr int start[4] = {0, 4, 2, 1};
            static constexpr int step[4] = {8, 8, 4, 2};
            bool going = true;
            for (int pass = 0; pass < 4 && going; ++pass)
                for (int y = start[pass]; y < height && going; y += step[pass])
                    going = FillRow(decoder, pixels + static_cast<std::size_t>(y) * width, width);
        }
        decoder.PullIndex();
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
