// Pixel memory: large blocks aligned for huge pages, copies into the memory a
// bitmap already has, and bitmaps taken over without a copy.

#include "Bitmap.h"
#include "PixelMemory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace {

TEST(PixelMemory, LargeBlocksAreAlignedAndSmallOnesWork)
{
    for (std::size_t size : {std::size_t{1}, std::size_t{4096}, pixelmemory::LargeBlock - 1,
                             pixelmemory::LargeBlock, std::size_t{72'000'000}}) {
        TPixelBuffer b(size);
        ASSERT_EQ(b.size(), size);
        if (size >= pixelmemory::LargeBlock) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(b.data()) % pixelmemory::LargeBlock, 0u) << size;
        }
        // Zeroed, and every byte writable.
        EXPECT_EQ(b[0], 0);
        EXPECT_EQ(b[size - 1], 0);
        std::memset(b.data(), 0xA5, size);
        EXPECT_EQ(b[size / 2], 0xA5);
    }
    EXPECT_TRUE(TPixelBuffer().empty());
    EXPECT_EQ(TPixelBuffer(0).data(), nullptr);
}

TEST(PixelMemory, ReusedBlocksStartZeroedWhenAskedSo)
{
    const std::size_t size = 5 * pixelmemory::LargeBlock + 123;
    {
        TPixelBuffer dirty(size);
        std::memset(dirty.data(), 0xFF, size);
    }
    TPixelBuffer clean(size);
    for (std::size_t i = 0; i < size; i += 4093)
        ASSERT_EQ(clean[i], 0) << i;
    pixelmemory::Trim();
}

TEST(PixelMemory, CopiesAreDeepAndSameSizeCopiesKeepTheMemory)
{
    TPixelBuffer a(3 * pixelmemory::LargeBlock);
    TPixelBuffer b(3 * pixelmemory::LargeBlock);
    a[7] = 42;
    const std::uint8_t* before = b.data();
    b = a;
    EXPECT_EQ(b.data(), before);
    EXPECT_EQ(b[7], 42);
    a[7] = 1;
    EXPECT_EQ(b[7], 42);
    TPixelBuffer c(std::move(a));
    EXPECT_TRUE(a.empty());
    EXPECT_EQ(c[7], 1);
}

TEST(BitmapMemory, AssignOfTheSameSizeCopiesIntoTheSamePixels)
{
    TBitmap source(1500, 1000, pf24bit);
    source.SetPixelColor(3, 4, RGB(1, 2, 3));
    TBitmap target(1500, 1000, pf24bit);
    const std::uint8_t* pixels = target.Bits();
    target.Assign(source);
    EXPECT_EQ(target.Bits(), pixels);
    EXPECT_EQ(target.GetPixelColor(3, 4), RGB(1, 2, 3));
    EXPECT_NE(source.Bits(), target.Bits());

    // Another size or format gets pixels of its own.
    TBitmap small(10, 10, pf8bit);
    small.Assign(source);
    EXPECT_EQ(small.Width(), 1500);
    EXPECT_EQ(small.PixelFormat(), pf24bit);
    EXPECT_EQ(small.GetPixelColor(3, 4), RGB(1, 2, 3));
}

TEST(BitmapMemory, AssignOfABitmapAboutToGoTakesItsPixels)
{
    TBitmap target(4, 4, pf8bit);
    int changes = 0;
    target.OnChange = [&](TGraphic&) { ++changes; };
    TBitmap fresh(7, 3, pf24bit);
    fresh.SetPixelColor(6, 2, RGB(9, 8, 7));
    const std::uint8_t* pixels = fresh.Bits();
    target.Assign(std::move(fresh));
    EXPECT_EQ(target.Bits(), pixels);
    EXPECT_EQ(target.Width(), 7);
    EXPECT_EQ(target.Height(), 3);
    EXPECT_EQ(target.PixelFormat(), pf24bit);
    EXPECT_EQ(target.GetPixelColor(6, 2), RGB(9, 8, 7));
    EXPECT_EQ(changes, 1);
}

TEST(BitmapMemory, ABitmapTakenOverIsLeftEmpty)
{
    // The bitmap given up must not describe pixels it no longer holds: a
    // small picture taking over a large one's place would otherwise leave
    // the large one's size on the small one's bytes.
    TBitmap target(2, 2, pf24bit);
    TBitmap fresh(300, 200, pf32bit);
    target.Assign(std::move(fresh));
    EXPECT_EQ(fresh.Width(), 0);
    EXPECT_EQ(fresh.Height(), 0);
    EXPECT_TRUE(fresh.Empty());
    EXPECT_EQ(fresh.Bits(), nullptr);
    // It can be used again.
    fresh.SetSize(3, 3);
    fresh.SetPixelColor(2, 2, RGB(1, 2, 3));
    EXPECT_EQ(fresh.GetPixelColor(2, 2), RGB(1, 2, 3));
}

TEST(BitmapMemory, UninitialisedBitmapsHaveZeroPadding)
{
    for (TPixelFormat f : {pf1bit, pf4bit, pf8bit, pf16bit, pf24bit, pf32bit}) {
        {
            // Leave dirty memory behind to be handed out again.
            TBitmap dirty(1001, 1000, f);
            std::memset(dirty.Bits(), 0xFF, dirty.RowStride() * 1000);
        }
        TBitmap b = TBitmap::Uninitialised(1001, 1000, f);
        ASSERT_EQ(b.Width(), 1001);
        ASSERT_EQ(b.PixelFormat(), f);
        const std::size_t used = 1001u * static_cast<std::size_t>(b.BitsPerPixel()) / 8;
        for (int y = 0; y < 1000; y += 97)
            for (std::size_t i = used; i < b.RowStride(); ++i)
                ASSERT_EQ(b.ScanLine(y)[i], 0) << "format " << static_cast<int>(f) << " row " << y;
    }
}

} // namespace

TEST(PixelMemory, TheAllowanceIsAQuarterOfTheMemoryUpTo4GBOnEverySystem)
{
    using pixelmemory::AllowanceFor;
    constexpr std::int64_t page = 4096;
    constexpr std::uint64_t gb = std::uint64_t{1} << 30;
    constexpr std::uint64_t size32 = UINT32_MAX, size64 = UINT64_MAX;
    // A 32-bit system: a 2 GB machine allows 512 MB, a 16 GB one all that
    // a 32-bit size holds (a quarter, 4 GB, is one more), and one that does
    // not tell its memory as much.
    EXPECT_EQ(AllowanceFor(2 * gb / page, page, size32), gb / 2);
    EXPECT_EQ(AllowanceFor(16 * gb / page, page, size32), size32);
    EXPECT_EQ(AllowanceFor(-1, page, size32), size32);
    EXPECT_EQ(AllowanceFor(64 * gb / page, page, size32), size32);
    // A 64-bit system: 8 GB allows 2 GB, 16 GB and more 4 GB.
    EXPECT_EQ(AllowanceFor(8 * gb / page, page, size64), 2 * gb);
    EXPECT_EQ(AllowanceFor(16 * gb / page, page, size64), 4 * gb);
    EXPECT_EQ(AllowanceFor(0, page, size64), 4 * gb);
    EXPECT_EQ(AllowanceFor(8 * gb / page, -1, size64), 4 * gb);
    // 2^50 pages of 64 KB: their quarter, 2^64 bytes, overflows even 64 bits.
    EXPECT_EQ(AllowanceFor(std::int64_t{1} << 50, 65536, size64), 4 * gb);
    // This system's.
    EXPECT_GT(pixelmemory::Allowance(), 0u);
    EXPECT_LE(pixelmemory::Allowance(), 4 * gb);
}
