#include "Bitmap.h"
#include "Exceptions.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <thread>

namespace {

const TPixelFormat kAllFormats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};

TEST(BitmapLayout, NewBitmapsAreWhiteInEveryFormat)
{
    for (TPixelFormat f : kAllFormats) {
        TBitmap b(5, 3, f);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                ASSERT_EQ(b.GetPixelColor(x, y), clWhite) << "format " << static_cast<int>(f);
    }
}

TEST(BitmapLayout, RowsArePaddedToFourBytesAndCountedFromTheTop)
{
    TBitmap b(3, 2, pf24bit);
    EXPECT_EQ(b.RowStride(), 12u);
    EXPECT_EQ(b.ScanLine(1) - b.ScanLine(0), 12);
    b.ScanLine(0)[0] = 0x12; // blue of the top-left pixel
    b.ScanLine(0)[2] = 0x34; // its red
    EXPECT_EQ(b.GetPixelColor(0, 0), RGB(0x34, 0xFF, 0x12));
    EXPECT_EQ(TBitmap(9, 1, pf1bit).RowStride(), 4u);
    EXPECT_EQ(TBitmap(9, 1, pf4bit).RowStride(), 8u);
    EXPECT_EQ(TBitmap(3, 1, pf16bit).RowStride(), 8u);
    EXPECT_THROW(b.ScanLine(2), EInvalidGraphicOperation);
    EXPECT_THROW(b.ScanLine(-1), EInvalidGraphicOperation);
}

TEST(BitmapLayout, PackedPixelsTakeTheHighBitsFirst)
{
    TBitmap one(8, 1, pf1bit);
    std::memset(one.ScanLine(0), 0, 4);
    one.SetRawPixel(0, 0, 1);
    one.SetRawPixel(7, 0, 1);
    EXPECT_EQ(one.ScanLine(0)[0], 0x81);
    TBitmap four(2, 1, pf4bit);
    four.SetRawPixel(0, 0, 0xA);
    four.SetRawPixel(1, 0, 0x3);
    EXPECT_EQ(four.ScanLine(0)[0], 0xA3);
}

TEST(BitmapLayout, EmptyAndNegativeSizes)
{
    TBitmap b;
    EXPECT_TRUE(b.Empty());
    b.SetSize(4, 0);
    EXPECT_TRUE(b.Empty());
    EXPECT_THROW(b.SetSize(-1, 3), EInvalidGraphic);
    EXPECT_EQ(b.Width(), 4);
}

TEST(BitmapLayout, ResizingKeepsTheOverlapAndWhitensTheRest)
{
    for (TPixelFormat f : kAllFormats) {
        TBitmap b(3, 3, f);
        b.SetPixelColor(1, 1, clBlack);
        b.SetSize(10, 2);
        EXPECT_EQ(b.GetPixelColor(1, 1), clBlack);
        EXPECT_EQ(b.GetPixelColor(9, 1), clWhite);
        EXPECT_EQ(b.GetPixelColor(3, 0), clWhite);
    }
}

TEST(BitmapBudget, OversizedPicturesRaiseAClearError)
{
    const std::size_t saved = PixelBudget();
    {
        const TPixelBudgetScope budget(1000);
        try {
            TBitmap b(100, 11);
            ADD_FAILURE() << "no exception";
        } catch (const EOutOfMemory& e) {
            EXPECT_NE(std::string(e.what()).find("100 x 11"), std::string::npos) << e.what();
        }
        TBitmap ok(100, 10);
        EXPECT_EQ(ok.Width(), 100);
        {
            const TPixelBudgetScope smaller(10);
            EXPECT_EQ(PixelBudget(), 10u);
        }
        EXPECT_EQ(PixelBudget(), 1000u);
        // Another thread keeps the process-wide budget.
        std::size_t there = 0;
        std::thread([&] { there = PixelBudget(); }).join();
        EXPECT_EQ(there, saved);
    }
    EXPECT_EQ(PixelBudget(), saved);
    EXPECT_THROW(CheckPixelBudget(1 << 30, 1 << 30), EOutOfMemory);
    EXPECT_THROW(CheckPixelBudget(-5, 2), EInvalidGraphic);
}

TEST(BitmapAssign, IsADeepCopy)
{
    TBitmap a(4, 4, pf8bit);
    a.SetPixelColor(2, 2, clRed);
    a.SetTransparent(true);
    TBitmap b;
    b.Assign(a);
    EXPECT_EQ(b.PixelFormat(), pf8bit);
    EXPECT_EQ(b.GetPalette(), a.GetPalette());
    EXPECT_TRUE(b.Transparent());
    b.SetPixelColor(2, 2, clBlue);
    EXPECT_EQ(a.GetPixelColor(2, 2), clRed);
    EXPECT_EQ(b.GetPixelColor(2, 2), clBlue);
}

TEST(PixelFormatConversion, WidensFieldsByBitReplication)
{
    TBitmap b(2, 1, pf15bit);
    std::uint8_t* row = b.ScanLine(0);
    row[0] = 0x1F; // blue 31
    row[1] = 0x00;
    row[2] = 0x01; // blue 1
    row[3] = 0x00;
    b.SetPixelFormat(pf24bit);
    EXPECT_EQ(b.GetPixelColor(0, 0), RGB(0, 0, 0xFF));
    EXPECT_EQ(b.GetPixelColor(1, 0), RGB(0, 0, 0x08));

    TBitmap g(1, 1, pf16bit);
    g.ScanLine(0)[0] = 0xE0; // green 0x3F in bits 5..10
    g.ScanLine(0)[1] = 0x07;
    g.SetPixelFormat(pf24bit);
    EXPECT_EQ(g.GetPixelColor(0, 0), RGB(0, 0xFF, 0));
}

TEST(PixelFormatConversion, ThirtyTwoBitsDropTheFourthByte)
{
    TBitmap b(1, 1, pf32bit);
    std::uint8_t px[4] = {1, 2, 3, 200};
    std::memcpy(b.ScanLine(0), px, 4);
    b.SetPixelFormat(pf24bit);
    EXPECT_EQ(b.ScanLine(0)[0], 1);
    EXPECT_EQ(b.ScanLine(0)[1], 2);
    EXPECT_EQ(b.ScanLine(0)[2], 3);
    b.SetPixelFormat(pf32bit);
    EXPECT_EQ(b.ScanLine(0)[3], 0);
}

TEST(PixelFormatConversion, DownToAPaletteTakesTheFirstNearestEntry)
{
    TBitmap b(3, 1, pf24bit);
    b.SetPixelColor(0, 0, RGB(10, 10, 10));
    b.SetPixelColor(1, 0, RGB(250, 0, 0));
    b.SetPixelColor(2, 0, RGB(128, 128, 128));
    // Entries 1 and 2 are equally near to grey 128: the first wins.
    b.SetPalette({TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{120, 120, 120, 0}, TPaletteEntry{136, 136, 136, 0},
                  TPaletteEntry{255, 0, 0, 0}});
    b.SetPixelFormat(pf4bit);
    EXPECT_EQ(b.GetRawPixel(0, 0), 0u);
    EXPECT_EQ(b.GetRawPixel(1, 0), 3u);
    EXPECT_EQ(b.GetRawPixel(2, 0), 1u);
    b.SetPixelFormat(pf24bit);
    EXPECT_EQ(b.GetPixelColor(2, 0), RGB(120, 120, 120));
    EXPECT_TRUE(b.GetPalette().empty());
}

// The nearest entry by a plain search: squared RGB distance, first minimum.
int PlainNearest(const TPalette& palette, TColor c)
{
    int best = 0, bestDistance = INT_MAX;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        int dr = palette[i].peRed - GetRValue(c), dg = palette[i].peGreen - GetGValue(c),
            db = palette[i].peBlue - GetBValue(c);
        int d = dr * dr + dg * dg + db * db;
        if (d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

TEST(PixelFormatConversion, NearestEntriesMatchAPlainSearch)
{
    std::mt19937 rng(4);
    std::vector<TPalette> palettes{HalftonePalette256(), SystemPalette16(), MonoPalette2(), TPalette{}};
    for (int k = 0; k < 12; ++k) {
        // Random palettes, some crowded into a corner, with repeated entries
        // and entries at equal distance from many colours.
        TPalette p(1 + rng() % 256);
        for (auto& e : p) {
            int spread = k % 3 == 0 ? 24 : 256;
            e = TPaletteEntry{static_cast<std::uint8_t>(rng() % spread), static_cast<std::uint8_t>(rng() % spread),
                              static_cast<std::uint8_t>(rng() % spread), 0};
        }
        if (p.size() > 4)
            p[p.size() - 1] = p[1];
        palettes.push_back(p);
    }
    palettes.push_back(TPalette{TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{2, 2, 2, 0}}); // every odd grey is a tie
    for (const TPalette& palette : palettes) {
        TBitmap b(4096, 4, pf24bit);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4096; ++x) {
                TColor c = y == 0 ? RGB(x & 255, x & 255, x & 255)                               // greys
                           : y == 1 ? RGB((x & 15) * 17, ((x >> 4) & 15) * 17, (x >> 8) * 17) // a lattice
                                    : static_cast<TColor>(rng() & 0xFFFFFF);
                b.SetPixelColor(x, y, c);
            }
        TBitmap converted;
        converted.Assign(b);
        converted.SetPalette(palette);
        converted.SetPixelFormat(pf8bit);
        TPalette used = converted.GetPalette();
        ASSERT_EQ(used, palette.empty() ? HalftonePalette256() : palette);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4096; ++x)
                ASSERT_EQ(converted.GetRawPixel(x, y), static_cast<std::uint32_t>(PlainNearest(used, b.GetPixelColor(x, y))))
                    << "palette of " << palette.size() << " at " << x << "," << y;
    }
}

TEST(BitmapRows, RowsReadAndWriteWhatPixelsDo)
{
    std::mt19937 rng(6);
    for (TPixelFormat f : kAllFormats) {
        TBitmap b(13, 2, f);
        for (int x = 0; x < 13; ++x)
            b.SetRawPixel(x, 0, rng());
        std::vector<std::uint8_t> bgr(13 * 3);
        b.ReadRowBGR(0, bgr.data());
        for (int x = 0; x < 13; ++x)
            ASSERT_EQ(RGB(bgr[x * 3 + 2], bgr[x * 3 + 1], bgr[x * 3]), b.GetPixelColor(x, 0)) << static_cast<int>(f);

        // Writing from an odd column keeps the packed neighbours.
        TBitmap expected;
        expected.Assign(b);
        for (auto& v : bgr)
            v = static_cast<std::uint8_t>(rng());
        b.WriteRowBGR(0, 3, 7, bgr.data(), nullptr);
        for (int i = 0; i < 7; ++i)
            expected.SetPixelColor(3 + i, 0, RGB(bgr[i * 3 + 2], bgr[i * 3 + 1], bgr[i * 3]));
        ASSERT_EQ(std::memcmp(b.Bits(), expected.Bits(), b.RowStride() * 2), 0) << static_cast<int>(f);
        EXPECT_THROW(b.WriteRowBGR(0, 10, 4, bgr.data(), nullptr), EInvalidGraphicOperation);
        EXPECT_THROW(b.WriteRowBGR(2, 0, 1, bgr.data(), nullptr), EInvalidGraphicOperation);
        EXPECT_THROW(b.ReadRowBGR(-1, bgr.data()), EInvalidGraphicOperation);
    }
}

TEST(PixelFormatConversion, PaletteFormatsWithoutPaletteGetTheDefaults)
{
    TBitmap b(1, 1, pf24bit);
    b.SetPixelFormat(pf8bit);
    EXPECT_EQ(b.GetPalette(), HalftonePalette256());
    EXPECT_EQ(b.GetPixelColor(0, 0), clWhite);
    b.SetPixelFormat(pf24bit);
    b.SetPixelFormat(pf4bit);
    EXPECT_EQ(b.GetPalette(), SystemPalette16());
    b.SetPixelFormat(pf1bit);
    EXPECT_EQ(b.GetPalette(), MonoPalette2());
    EXPECT_TRUE(b.Monochrome());
}

TEST(PixelFormatConversion, DefaultPalettesHoldTheStockColours)
{
    ASSERT_EQ(StockPalette20().size(), 20u);
    ASSERT_EQ(HalftonePalette256().size(), 256u);
    ASSERT_EQ(SystemPalette16().size(), 16u);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(HalftonePalette256()[i], StockPalette20()[i]);
        EXPECT_EQ(HalftonePalette256()[246 + i], StockPalette20()[10 + i]);
    }
    EXPECT_EQ(StockPalette20()[8].Color(), RGB(0xC0, 0xDC, 0xC0));
    EXPECT_EQ(SystemPalette16()[8].Color(), RGB(0x80, 0x80, 0x80));
    EXPECT_EQ(SystemPalette16()[15].Color(), clWhite);
}

TEST(PixelFormatConversion, RoundTripsThroughEveryFormatKeepExactColours)
{
    // Colours every format holds exactly survive a trip through it.
    for (TPixelFormat f : kAllFormats) {
        TBitmap b(2, 1, pf24bit);
        b.SetPixelColor(0, 0, clBlack);
        b.SetPixelColor(1, 0, clWhite);
        b.SetPixelFormat(f);
        b.SetPixelFormat(pf24bit);
        EXPECT_EQ(b.GetPixelColor(0, 0), clBlack) << static_cast<int>(f);
        EXPECT_EQ(b.GetPixelColor(1, 0), clWhite) << static_cast<int>(f);
    }
}

TEST(BitmapTransparency, AutomaticColourIsTheBottomLeftPixel)
{
    TBitmap b(3, 3);
    b.SetPixelColor(0, 2, clLime);
    EXPECT_EQ(b.TransparentColor(), clLime);
    b.SetTransparentColor(clRed);
    EXPECT_EQ(b.TransparentMode(), tmFixed);
    EXPECT_EQ(b.TransparentColor(), clRed);
    b.SetTransparentMode(tmAuto);
    EXPECT_EQ(b.TransparentColor(), clLime);
    auto mask = b.MaskHandle();
    EXPECT_EQ(mask->PixelFormat(), pf1bit);
    EXPECT_EQ(mask->GetRawPixel(0, 2), 1u);
    EXPECT_EQ(mask->GetRawPixel(1, 1), 0u);
}

} // namespace
