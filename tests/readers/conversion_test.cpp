// Row conversions: hand-worked CMYK and L*a*b* values, channel order at 8
// and 16 bits, the predictor forms, and counts checked against the buffers.

#include "ImageReaders.h"

#include "Exceptions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Wide(std::initializer_list<std::uint16_t> values)
{
    Bytes b(values.size() * 2);
    std::size_t i = 0;
    for (std::uint16_t v : values) {
        std::memcpy(&b[i], &v, 2); // machine order, as the readers hand them over
        i += 2;
    }
    return b;
}

} // namespace

TEST(RowConversions, CmykGivesTheWorkedColours)
{
    Bytes out(9, 0xEE);
    const Bytes cmyk = {0, 0, 0, 0, 0, 0, 0, 255, 255, 0, 0, 0};
    ConvertCMYK(cmyk, out, 8, 12);
    EXPECT_EQ(out, (Bytes{255, 255, 255, 0, 0, 0, 255, 255, 0})) << "white, black, then cyan as B G R";
    // 50 % cyan with 50 % black: 255 - 128 - 128 + MulDiv(128, 128, 255) = 63.
    Bytes one(3);
    ConvertCMYK(Bytes{128, 0, 0, 128}, one, 8, 4);
    EXPECT_EQ(one, (Bytes{127, 127, 63}));
    // 16 bits: C = 0xFFFF, K = 0 gives red 0; K = 0xFFFF gives black.
    ConvertCMYK(Wide({0xFFFF, 0, 0, 0, 0, 0, 0, 0xFFFF}), out, 16, 8);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), (Bytes{255, 255, 0, 0, 0, 0}));
}

TEST(RowConversions, LabGivesCompandedSrgbAtEightAndSixteenBits)
{
    // Worked by hand (D65 white, sRGB matrix and companding): L = 128 is
    // L* 50.196, fy = 0.57066, Y = fy^3 = 0.18583; grey, so linear R = G =
    // B = Y, companded 1.055 Y^(1/2.4) - 0.055 = 0.46826, x 255 = 119.4. The
    // linear value without companding would give 47.
    Bytes lab(9);
    ConvertLab(Bytes{255, 0, 0, 0, 0, 0, 128, 0, 0}, lab, 8, 9);
    EXPECT_EQ(lab, (Bytes{255, 255, 255, 0, 0, 0, 119, 119, 119}));
    // Colours, a and b signed: (150, -20, 30) is R 125, G 150, B 88 and
    // (100, 60, -50) R 144, G 43, B 175 (the same formulas in double
    // precision); written blue first.
    ConvertLab(Bytes{150, 0xEC, 30, 100, 60, 0xCE}, lab, 8, 6);
    EXPECT_EQ(Bytes(lab.begin(), lab.begin() + 6), (Bytes{88, 150, 125, 175, 43, 144}));
    // A dark grey on the straight part of the curve: L = 10 is Y = 0.004342,
    // 12.92 Y x 255 = 14.3.
    ConvertLab(Bytes{10, 0, 0}, lab, 8, 3);
    EXPECT_EQ(Bytes(lab.begin(), lab.begin() + 3), (Bytes{14, 14, 14}));
    // 16 bits: L 0 to 65535, a and b signed in 1/256: L 0x8080 is L* 50.196
    // again; (32896, -20, 30) gives R 102, G 128, B 67, (40000, 48, -40)
    // R 196, G 116, B 219.
    ConvertLab(Wide({0x8080, 0, 0, 32896, static_cast<std::uint16_t>(-20 * 256), 30 * 256, 40000, 48 * 256,
                     static_cast<std::uint16_t>(-40 * 256)}),
               lab, 16, 9);
    EXPECT_EQ(lab, (Bytes{119, 119, 119, 67, 128, 102, 219, 116, 196}));
    // The planar form at both sizes, and a size other than 8 or 16 leaves
    // the row alone.
    Bytes planar(6, 0xEE);
    ConvertLabPlanar(Bytes{150, 128}, Bytes{0xEC, 0}, Bytes{30, 0}, planar, 8, 6);
    EXPECT_EQ(planar, (Bytes{88, 150, 125, 119, 119, 119}));
    ConvertLabPlanar(Wide({32896}), Wide({static_cast<std::uint16_t>(-20 * 256)}), Wide({30 * 256}), planar, 16, 3);
    EXPECT_EQ(Bytes(planar.begin(), planar.begin() + 3), (Bytes{67, 128, 102}));
    Bytes untouched(3, 0xEE);
    ConvertLab(Bytes{128, 0, 0}, untouched, 4, 3);
    EXPECT_EQ(untouched, (Bytes(3, 0xEE)));
}

TEST(RowConversions, ChannelOrderAtEightAndSixteenBits)
{
    Bytes bgr(6);
    ConvertRGB(Bytes{1, 2, 3, 4, 5, 6}, bgr, 8, 6);
    EXPECT_EQ(bgr, (Bytes{3, 2, 1, 6, 5, 4}));
    ConvertRGB(Wide({0x1122, 0x3344, 0x5566}), bgr, 16, 3);
    EXPECT_EQ(Bytes(bgr.begin(), bgr.begin() + 3), (Bytes{0x55, 0x33, 0x11}));
    Bytes bgra(4);
    ConvertRGBA(Wide({0x1100, 0x2200, 0x3300, 0x4400}), bgra, 16, 4);
    EXPECT_EQ(bgra, (Bytes{0x33, 0x22, 0x11, 0x44}));
    ConvertRGBA(Bytes{1, 2, 3, 4}, bgra, 8, 4);
    EXPECT_EQ(bgra, (Bytes{3, 2, 1, 4}));
    Bytes grey(2);
    Convert16To8(Wide({0xABCD, 0x0102}), grey, 16, 2);
    EXPECT_EQ(grey, (Bytes{0xAB, 0x01}));
    ConvertRGBPlanar(Bytes{1, 2}, Bytes{3, 4}, Bytes{5, 6}, bgr, 8, 6);
    EXPECT_EQ(bgr, (Bytes{5, 3, 1, 6, 4, 2}));
    Bytes untouched(3, 9);
    ConvertRGB(Bytes{1, 2, 3}, untouched, 12, 3);
    EXPECT_EQ(untouched, Bytes(3, 9)) << "other sample sizes convert nothing";

    Bytes swap = {1, 2, 3, 4};
    SwapShort(swap, 2);
    EXPECT_EQ(swap, (Bytes{2, 1, 4, 3}));
    SwapLong(swap, 1);
    EXPECT_EQ(swap, (Bytes{3, 4, 1, 2}));
    EXPECT_EQ(SwapLong(0x11223344u), 0x44332211u);
}

TEST(RowConversions, PredictorForms)
{
    Bytes row = {10, 1, 2, 250};
    UndoPredictor(row, 3);
    EXPECT_EQ(row, (Bytes{10, 11, 13, 7}));
    Bytes rgb = {1, 2, 3, 1, 1, 1, 255, 0, 1};
    UndoPredictor(rgb, 2, 3);
    EXPECT_EQ(rgb, (Bytes{1, 2, 3, 2, 3, 4, 1, 3, 5}));
    Bytes rgba = {1, 2, 3, 4, 1, 1, 1, 1};
    UndoPredictor(rgba, 1, 4);
    EXPECT_EQ(rgba, (Bytes{1, 2, 3, 4, 2, 3, 4, 5}));
    Bytes single = {7, 8, 9};
    UndoPredictor(single, 0, 3);
    EXPECT_EQ(single, (Bytes{7, 8, 9})) << "a row one pixel wide stays";
    // 16-bit samples carry across their bytes: 0x00FF + 0x0001 = 0x0100.
    Bytes wide = Wide({0x00FF, 0x0001, 0xFFFF});
    UndoPredictor16(wide, 2, 1);
    EXPECT_EQ(wide, Wide({0x00FF, 0x0100, 0x00FF}));
}

TEST(RowConversions, CountsThatDoNotFitTheBuffersAreRefused)
{
    Bytes small(3), big(64);
    EXPECT_THROW(ConvertRGB(big, small, 8, 6), Exception);
    EXPECT_THROW(ConvertRGB(small, big, 8, 6), Exception);
    EXPECT_THROW(ConvertRGB(Bytes(5), big, 16, 3), Exception);
    EXPECT_THROW(Convert16To8(Bytes(3), big, 16, 2), Exception);
    EXPECT_THROW(ConvertCMYK(big, small, 8, 8), Exception);
    EXPECT_THROW(UndoPredictor(small, 3), Exception);
    EXPECT_THROW(UndoPredictor(small, 1, 3), Exception);
    Bytes four(4);
    EXPECT_THROW(UndoPredictor16(four, 2, 1), Exception);
    EXPECT_THROW(SwapShort(small, 2), Exception);
}
