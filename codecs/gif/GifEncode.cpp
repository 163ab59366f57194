// The image data of a frame as it is written: the sub-block writer, the LZW
// encoder with its hash table, the run-length encoder and the choice between
// them.

#include "GifPicture.h"

#include <algorithm>
#include <cmath>
#include <cstring>

// ---------------------------------------------------------------------------
// Streams

std::size_t TGIFStream::Read(void*, std::size_t)
{
    throw Exception("Invalid stream operation");
}

std::size_t TGIFStream::Write(const void*, std::size_t)
{
    throw Exception("Invalid stream operation");
}

std::int64_t TGIFStream::Seek(std::int64_t, TSeekOrigin)
{
    throw Exception("Invalid stream operation");
}

TGIFWriter::~TGIFWriter()
{
    if (!FDirty)
        return;
    try {
        FlushBlock();
    } catch (...) {
        // FlushBlock called before the writer goes reports the error.
    }
}

std::size_t TGIFWriter::Write(const void* buffer, std::size_t count)
{
    FDirty = true;
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    std::size_t left = count;
    while (left > 0) {
        const std::size_t n = std::min<std::size_t>(left, static_cast<std::size_t>(256 - FCount));
        std::memcpy(FBuffer + FCount, p, n);
        FCount += static_cast<int>(n);
        p += n;
        left -= n;
        if (FCount == 256)
            FlushBlock();
    }
    return count;
}

void TGIFWriter::FlushBlock()
{
    if (FCount > 1) {
        FBuffer[0] = static_cast<std::uint8_t>(FCount - 1);
        const int count = FCount;
        FCount = 1;
        FDirty = false;
        Target.WriteBuffer(FBuffer, static_cast<std::size_t>(count));
    }
    FCount = 1;
    FDirty = false;
}

// ---------------------------------------------------------------------------
// Hash table

namespace {

constexpr std::uint32_t EmptySlot = 0xFFFFFFFFu;
// Probes by doubling before the scan takes over: the doubling sequence
// visits only about half the slots and may never meet an empty one.
constexpr int DoublingProbes = 32;

} // namespace

THashTable::THashTable() : FSlots(Size, EmptySlot) {}

void THashTable::Reset()
{
    std::fill(FSlots.begin(), FSlots.end(), EmptySlot);
}

int THashTable::Probe(std::uint32_t key, int slot, int& freeSlot) const
{
    const std::uint32_t wanted = key << 12;
    auto probe = [&](int s, int& answer) {
        const std::uint32_t v = FSlots[static_cast<std::size_t>(s)];
        if ((v >> 12) == 0xFFFFF) {
            freeSlot = s;
            answer = -1;
            return true;
        }
        if ((v & 0xFFFFF000u) == wanted) {
            answer = static_cast<int>(v & 0xFFF);
            return true;
        }
        return false;
    };
    int answer = -1;
    freeSlot = -1;
    for (int i = 1; i < DoublingProbes; ++i) {
        if (probe(slot, answer))
            return answer;
        slot = NextSlot(slot);
    }
    for (int i = 0; i < Size; ++i) {
        if (probe(slot, answer))
            return answer;
        slot = slot + 1 == Size ? 0 : slot + 1;
    }
    return -1;
}

int THashTable::Find(std::uint32_t key) const
{
    int freeSlot;
    return Lookup(key, freeSlot);
}

void THashTable::Store(std::uint32_t key, int code)
{
    int slot;
    // A key stored twice keeps its first code, as a lookup would find.
    if (Lookup(key, slot) >= 0 || slot < 0) {
        if (slot < 0)
            RaiseGIFError("LZW hash table is full");
        return;
    }
    StoreAt(slot, key, code);
}

// ---------------------------------------------------------------------------
// Encoder base

void TGIFEncoder::Encode(TStream& stream, int bitsPerPixel, int colorCount, const std::uint8_t* pixels,
                         bool interlaced, int height, int width)
{
    FStream = &stream;
    FColorCount = colorCount;
    FPixels = pixels;
    FInterlaced = interlaced;
    FHeight = height;
    FWidth = width;
    FBitsPerPixel = std::max(bitsPerPixel, 2);
    FInitialWidth = FBitsPerPixel + 1;
    WriteByte(stream, static_cast<std::uint8_t>(FBitsPerPixel));

    FCodeWidth = FInitialWidth;
    FHighestCode = (1 << FCodeWidth) - 1;
    FClearCode = 1 << (FInitialWidth - 1);
    FEndCode = FClearCode + 1;
    FFirstFree = FClearCode + 2;
    FAccumulator = 0;
    FBitsHeld = 0;
    FPixelsLeft = interlaced ? width : static_cast<std::int64_t>(width) * height;
    FRow = 0;
    FPass = 0;
    FCursor = pixels;

    TGIFWriter writer(stream);
    writer.OnWarning = OnWarning;
    FWriter = &writer;
    try {
        if (pixels && height > 0 && width > 0)
            EncodeRaster();
        EmitCode(FEndCode);
        writer.FlushBlock();
    } catch (...) {
        FWriter = nullptr;
        throw;
    }
    FWriter = nullptr;
    WriteByte(stream, 0);
}

void TGIFEncoder::EmitCode(int code)
{
    PackCode(code);
}

bool TGIFEncoder::AdvancePixel()
{
    if (--FPixelsLeft > 0)
        return true;
    if (!FInterlaced)
        return false;
    FPixelsLeft = FWidth;
    static constexpr int step[4] = {8, 8, 4, 2};
    static constexpr int start[4] = {0, 4, 2, 1};
    FRow += step[FPass];
    while (FRow >= FHeight) {
        if (FPass >= 3)
            return false;
        ++FPass;
        FRow = start[FPass];
    }
    FCursor = FPixels + static_cast<std::size_t>(FRow) * static_cast<std::size_t>(FWidth);
    return true;
}

int TGIFEncoder::TakePixel()
{
    const int pixel = *FCursor++;
    if (pixel >= FColorCount)
        RaiseGIFError("Color not in color table");
    return pixel;
}

// ---------------------------------------------------------------------------
// LZW

void TLZWEncoder::EmitCode(int code)
{
    EmitLZW(code);
}

inline void TLZWEncoder::EmitLZW(int code)
{
    PackCode(code);
    if (FJustCleared) {
        FCodeWidth = FInitialWidth;
        FHighestCode = (1 << FCodeWidth) - 1;
        FJustCleared = false;
    } else if (FNextFree > FHighestCode) {
        ++FCodeWidth;
        FHighestCode = FCodeWidth == 12 ? 4096 : (1 << FCodeWidth) - 1;
    }
}

void TLZWEncoder::Restart()
{
    FJustCleared = true;
    EmitCode(FClearCode);
    FTable->Reset();
    FNextFree = FClearCode + 2;
}

void TLZWEncoder::EncodeRaster()
{
    FTable = std::make_unique<THashTable>();
    try {
        Restart();
        FPrefix = TakePixel();
        // The pixels in walking order come as spans of contiguous bytes: the
        // whole picture, or one row at a time when interlaced.
        const std::uint8_t* span = FCursor;
        std::int64_t left = FPixelsLeft - 1;
        for (;;) {
            for (const std::uint8_t* end = span + left; span < end; ++span) {
                const int pixel = *span;
                if (pixel >= FColorCount)
                    RaiseGIFError("Color not in color table");
                const std::uint32_t key = (static_cast<std::uint32_t>(FPrefix) << 8) | static_cast<std::uint32_t>(pixel);
                int slot;
                const int found = FTable->Lookup(key, slot);
                if (found >= 0) {
                    FPrefix = found;
                    continue;
                }
                EmitLZW(FPrefix);
                FPrefix = pixel;
                if (FNextFree >= 4095) {
                    Restart();
                } else {
                    if (slot < 0)
                        RaiseGIFError("LZW hash table is full");
                    FTable->StoreAt(slot, key, FNextFree);
                    ++FNextFree;
                }
            }
            // Past this span: the walk goes on at the next row, if any.
            FCursor = span;
            FPixelsLeft = 1;
            if (!AdvancePixel())
                break;
            span = FCursor;
            left = FPixelsLeft;
        }
        EmitCode(FPrefix);
    } catch (...) {
        FTable.reset();
        throw;
    }
    FTable.reset();
}

// ---------------------------------------------------------------------------
// Run-length

void TRLEEncoder::CountedEmit(int code)
{
    FJustCleared = false;
    EmitCode(code);
    ++FCodesSinceClear;
    if (FCodesSinceClear == FBump) {
        FBump += 1 << FCodeWidth;
        ++FCodeWidth;
    }
    if (FCodesSinceClear == FClearLimit)
        Restart();
}

void TRLEEncoder::Restart()
{
    FBump = FInitialBump;
    FClearLimit = FInitialClearLimit;
    FCodesSinceClear = 0;
    FLongest = 0;
    FJustCleared = true;
    EmitCode(FClearCode);
    FCodeWidth = FInitialWidth;
}

int TRLEEncoder::CodesNeeded(int pixels, int longest) const
{
    const std::int64_t m = longest;
    const std::int64_t perSet = m * (m + 1) / 2;
    const std::int64_t full = pixels / perSet;
    const std::int64_t r = pixels % perSet;
    auto c = static_cast<std::int64_t>(std::sqrt(static_cast<double>(r)));
    while (c > 0 && c * (c + 1) >= 2 * r)
        --c;
    while (c * (c + 1) < 2 * r)
        ++c;
    return static_cast<int>(full * m + c);
}

void TRLEEncoder::RestoreLimit()
{
    FClearLimit = FInitialClearLimit;
    if (FCodesSinceClear >= FClearLimit)
        Restart();
}

void TRLEEncoder::RunsFromClear(int count)
{
    FClearLimit = FBudget;
    FRunPixel = FPixel;
    int run = 1;
    int left = count;
    while (left > 0) {
        if (run == 1) {
            CountedEmit(FPixel);
            FLongest = 1;
            left -= 1;
        } else if (run <= left) {
            CountedEmit(FFirstFree + run - 2);
            FLongest = run;
            left -= run;
        } else {
            ++FLongest;
            CountedEmit(left == 1 ? FPixel : FFirstFree + left - 2);
            break;
        }
        run = FCodesSinceClear == 0 ? 1 : run + 1;
    }
    RestoreLimit();
}

void TRLEEncoder::RunsFromTable(int count)
{
    const int longest = FLongest;
    int q = count / longest;
    int r = count % longest;
    int extra = r > 0 ? 1 : 0;
    if (FCodesSinceClear + q + extra > FBudget) {
        q = FBudget - FCodesSinceClear;
        r = count - q * longest;
        extra = CodesNeeded(r, FBudget) + 1;
    }
    if (1 + CodesNeeded(count, FBudget) < q + extra) {
        Restart();
        RunsFromClear(count);
        return;
    }
    FClearLimit = FBudget;
    for (int i = 0; i < q; ++i)
        CountedEmit(FFirstFree + longest - 2);
    if (r > 0) {
        if (FJustCleared)
            RunsFromClear(r);
        else
            CountedEmit(r == 1 ? FPixel : FFirstFree + r - 2);
    }
    RestoreLimit();
}

void TRLEEncoder::FlushRun(int count)
{
    if (count == 1) {
        CountedEmit(FPixel);
    } else if (FJustCleared) {
        RunsFromClear(count);
    } else if (FLongest >= 2 && FRunPixel == FPixel) {
        RunsFromTable(count);
    } else if (count > 1 + CodesNeeded(count, FBudget)) {
        Restart();
        RunsFromClear(count);
    } else {
        for (int i = 0; i < count; ++i)
            CountedEmit(FPixel);
    }
}

void TRLEEncoder::EncodeRaster()
{
    FInitialBump = FClearCode - 1;
    FInitialClearLimit = FBitsPerPixel <= 3 ? 9 : FClearCode - 2;
    FBudget = 4095 - FFirstFree;
    Restart();
    FPixel = -1;
    // Runs are cut at a size whose pixel count stays in range.
    constexpr int LongestRun = 1 << 30;
    int count = 0;
    int pixel = TakePixel();
    for (;;) {
        if (count > 0 && (pixel != FPixel || count == LongestRun)) {
            FlushRun(count);
            count = 0;
        }
        if (pixel == FPixel && count > 0) {
            ++count;
        } else {
            FPixel = pixel;
            count = 1;
        }
        if (!AdvancePixel())
            break;
        pixel = TakePixel();
    }
    if (count > 0)
        FlushRun(count);
}

// ---------------------------------------------------------------------------
// Choice of encoder

void WriteFrameRaster(TGIFSubImage& frame, TStream& stream)
{
    int bitsPerPixel;
    int colorCount;
    TGifPicture* image = frame.Image();
    if (frame.ColorMap().EntryCount() > 0) {
        bitsPerPixel = frame.ColorMap().TableBits();
        colorCount = frame.ColorMap().EntryCount();
    } else {
        bitsPerPixel = image ? image->MaxBitsPerPixel() : 0;
        bitsPerPixel = std::clamp(bitsPerPixel, 0, 8);
        colorCount = 1 << bitsPerPixel;
    }
    std::unique_ptr<TGIFEncoder> encoder;
    if (image && image->EncodingMethod == emRLE)
        encoder = std::make_unique<TRLEEncoder>();
    else
        encoder = std::make_unique<TLZWEncoder>();
    if (image)
        encoder->OnWarning = [image](TPersistent& sender, int severity, const std::string& message) {
            image->RaiseWarning(sender, severity, message);
        };
    const bool interlaced = frame.ColorMap().EntryCount() == 0 && frame.IsInterlaced();
    encoder->Encode(stream, bitsPerPixel, colorCount, frame.PixelData(), interlaced, frame.FrameHeight(),
                    frame.FrameWidth());
}
