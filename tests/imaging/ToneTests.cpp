// Start-up tables, grey levels, brightening and the two black-and-white
// dithers.

#include "photo.h"

#include "Numeric.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Pixels(TBitmap& b)
{
    Bytes out;
    for (int y = 0; y < b.Height(); ++y) {
        const std::uint8_t* row = b.ScanLine(y);
        out.insert(out.end(), row, row + 3 * b.Width());
    }
    return out;
}

void SetPixels(TBitmap& b, const Bytes& px)
{
    for (int y = 0; y < b.Height(); ++y)
        std::copy_n(px.begin() + static_cast<std::ptrdiff_t>(3 * b.Width() * y), 3 * b.Width(), b.ScanLine(y));
}

// A 24-bit picture whose three bytes per pixel are all the given grey.
void FillGrey(TBitmap& b, std::uint8_t v)
{
    for (int y = 0; y < b.Height(); ++y)
        std::memset(b.ScanLine(y), v, 3 * static_cast<std::size_t>(b.Width()));
}

// The red byte of (x, y); the dithers leave all three bytes equal.
int Red(TBitmap& b, int x, int y) { return b.ScanLine(y)[3 * x + 2]; }

// One row of grey values through Floyd-Steinberg.
std::vector<int> DitherRow(const std::vector<int>& grey)
{
    TBitmap b(static_cast<int>(grey.size()), 1, pf24bit);
    for (std::size_t x = 0; x < grey.size(); ++x)
        std::memset(b.ScanLine(0) + 3 * x, grey[x], 3);
    DitherFloydSteinberg(b);
    std::vector<int> out;
    for (int x = 0; x < b.Width(); ++x)
        out.push_back(Red(b, x, 0));
    return out;
}

} // namespace

TEST(PhotoTables, ContrastCurvesAndDitherMatrix)
{
    InitPhotoTables();
    EXPECT_EQ(ContrastCurves(1, 0), 100.0f);
    EXPECT_EQ(ContrastCurves(2, 0), 100.0f);
    EXPECT_EQ(ContrastCurves(3, 0), 100.0f);
    EXPECT_NEAR(ContrastCurves(2, 128), 74.80, 0.005);
    EXPECT_NEAR(ContrastCurves(3, 255), 0.0, 1e-4);
    for (int k = 1; k <= 3; ++k)
        for (int g = 0; g < 256; ++g) {
            EXPECT_NEAR(ContrastCurves(k, g), 100 * (1 - std::pow(g / 255.0, k)), 1e-4) << k << " " << g;
            if (g > 0) {
                EXPECT_LT(ContrastCurves(k, g), ContrastCurves(k, g - 1));
            }
        }
    // Bit for bit: the brightening gains are built from these values.
    for (int g = 0; g < 256; ++g) {
        const long double e = g;
        EXPECT_EQ(ContrastCurves(1, g), StoreSingle(100 + e * (-100.0L / 255))) << g;
        EXPECT_EQ(ContrastCurves(2, g), StoreSingle(100 + (e * (-100.0L / (255 * 255))) * e)) << g;
        EXPECT_EQ(ContrastCurves(3, g), StoreSingle(100 + ((e * (-100.0L / (255.0L * 255 * 255))) * e) * e)) << g;
    }
    // The curves stay high longer as k grows.
    EXPECT_LT(ContrastCurves(1, 128), ContrastCurves(2, 128));
    EXPECT_LT(ContrastCurves(2, 128), ContrastCurves(3, 128));

    const int expected[3][3] = {{182, 238, 126}, {42, 14, 98}, {154, 70, 210}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            EXPECT_EQ(DitherMatrix[i][j], expected[i][j]);

    // Calling it again changes nothing.
    const TContrastCurves before = ContrastCurves;
    InitPhotoTables();
    EXPECT_EQ(std::memcmp(&before, &ContrastCurves, sizeof before), 0);
}

TEST(GreyLevel, Modes)
{
    const TPixel24 p{30, 20, 10}; // blue, green, red
    EXPECT_EQ(GreyLevel(1, p), 18);
    const TPixel24 q{31, 20, 10};
    EXPECT_EQ(GreyLevel(2, q), 20);
    EXPECT_EQ(GreyLevel(3, q), 31);
    EXPECT_EQ(GreyLevel(0, q), 0);
    EXPECT_EQ(GreyLevel(4, q), 0);
    EXPECT_EQ(GreyLevel(-1, q), 0);
    EXPECT_EQ(GreyLevel(1, TPixel24{255, 255, 255}), 255);
    EXPECT_EQ(GreyLevel(2, TPixel24{255, 255, 255}), 255);
}

TEST(GreyLevel, WeightedMatchesExtendedSumForEveryColour)
{
    // The extended-precision sum rounded half to even, for all 2^24 colours.
    long mismatches = 0;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b) {
                const auto want = Round(0.3L * r + 0.59L * g + 0.11L * b);
                const TPixel24 p{static_cast<std::uint8_t>(b), static_cast<std::uint8_t>(g),
                                 static_cast<std::uint8_t>(r)};
                if (GreyLevel(1, p) != want && ++mismatches < 5)
                    ADD_FAILURE() << r << "," << g << "," << b << ": " << GreyLevel(1, p) << " instead of " << want;
            }
    EXPECT_EQ(mismatches, 0);
}

TEST(ConvertToGrey, EveryPixelBecomesItsGrey)
{
    TBitmap b(3, 2, pf24bit);
    std::mt19937 rng(5);
    Bytes px(18);
    for (auto& v : px)
        v = static_cast<std::uint8_t>(rng());
    for (int mode = 0; mode <= 4; ++mode) {
        SetPixels(b, px);
        ConvertToGrey(b, mode);
        const Bytes out = Pixels(b);
        for (std::size_t i = 0; i < px.size(); i += 3) {
            const int want = GreyLevel(mode, TPixel24{px[i], px[i + 1], px[i + 2]});
            EXPECT_EQ(out[i], want);
            EXPECT_EQ(out[i + 1], want);
            EXPECT_EQ(out[i + 2], want);
            if (mode == 0 || mode == 4) {
                EXPECT_EQ(want, 0);
            }
        }
    }

    TBitmap pal(4, 4, pf8bit);
    pal.SetPixelColor(1, 1, clRed);
    ConvertToGrey(pal, 3);
    EXPECT_EQ(pal.PixelFormat(), pf24bit);
    EXPECT_EQ(Red(pal, 1, 1), 255);
    EXPECT_EQ(Red(pal, 0, 0), 255); // white
}

TEST(AutoContrast, Examples)
{
    InitPhotoTables();
    TBitmap b(3, 1, pf24bit);
    const Bytes px = {100, 100, 100, 0, 0, 0, 50, 50, 200};
    SetPixels(b, px);
    EXPECT_FLOAT_EQ(StoreSingle(static_cast<Extended>(ContrastCurves(1, 100)) / 100 + 1), 1.6078431f);
    AutoContrast(b, 1, 1, 1.0f);
    EXPECT_EQ(Pixels(b), (Bytes{160, 160, 160, 0, 0, 0, 81, 81, 255}));
}

TEST(AutoContrast, MatchesThePixelFormula)
{
    InitPhotoTables();
    std::mt19937 rng(77);
    const int w = 40, h = 30;
    Bytes px(3 * w * h);
    for (auto& v : px)
        v = static_cast<std::uint8_t>(rng());
    for (int curve = 1; curve <= 3; ++curve)
        for (int mode = 1; mode <= 3; ++mode)
            for (float strength : {0.01f, 0.37f, 1.0f, 2.5f, -0.5f}) {
                TBitmap b(w, h, pf24bit);
                SetPixels(b, px);
                AutoContrast(b, curve, mode, strength);
                const Bytes out = Pixels(b);
                for (std::size_t i = 0; i < px.size(); i += 3) {
                    const int g = GreyLevel(mode, TPixel24{px[i], px[i + 1], px[i + 2]});
                    const float gain = StoreSingle(static_cast<Extended>(ContrastCurves(curve, g)) *
                                                       static_cast<Extended>(strength) / 100 +
                                                   1);
                    for (std::size_t c = 0; c < 3; ++c) {
                        const Extended v = static_cast<Extended>(px[i + c]) * gain;
                        const int want = v >= 255 ? 255 : v <= 0 ? 0 : static_cast<int>(Trunc(v));
                        ASSERT_EQ(out[i + c], want) << "curve " << curve << " mode " << mode << " strength "
                                                    << strength << " byte " << i + c;
                    }
                }
            }
}

TEST(AutoContrast, NothingHappensWithoutStrengthOrWithAnUnknownCurve)
{
    InitPhotoTables();
    auto unchanged = [](int curve, float strength) {
        TBitmap b(5, 3, pf8bit);
        b.SetPixelColor(2, 1, clNavy);
        TBitmap before;
        before.Assign(b);
        AutoContrast(b, curve, 1, strength);
        EXPECT_EQ(b.PixelFormat(), pf8bit) << curve << " " << strength;
        EXPECT_TRUE(b.Equals(before)) << curve << " " << strength;
    };
    unchanged(1, 0.0f);
    unchanged(3, -0.0f);
    // Curves other than 1..3 would read outside the table: they are ignored.
    for (int curve : {0, 4, -1, 1000, INT_MIN, INT_MAX})
        unchanged(curve, 1.0f);
}

TEST(DitherFloydSteinberg, Decisions)
{
    TBitmap b(4, 3, pf24bit);
    FillGrey(b, 128);
    DitherFloydSteinberg(b);
    EXPECT_EQ(Red(b, 0, 0), 0) << "128 is not above 128";
    FillGrey(b, 129);
    DitherFloydSteinberg(b);
    EXPECT_EQ(Red(b, 0, 0), 255);

    // 2 x 2 of 100: (0,0) black, error 100 -> (1,0) 143 white, error -112
    // shared with (1,1) and (0,1): (0,1) 110 black, (1,1) 119 black.
    TBitmap s(2, 2, pf24bit);
    FillGrey(s, 100);
    DitherFloydSteinberg(s);
    EXPECT_EQ(Pixels(s), (Bytes{0, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0, 0}));

    // Shares are truncated toward zero: -55 x 7 / 16 is -24, so 153 becomes
    // 129 and turns white (rounding down would give 128 and black).
    EXPECT_EQ(DitherRow({200, 153}), (std::vector<int>{255, 255}));
    // Every store is clamped: 250 + 56 is kept as 255, white with no error
    // left, so the 110 after it stays black.
    EXPECT_EQ(DitherRow({128, 250, 110}), (std::vector<int>{0, 255, 0}));

    // Error diffusion keeps the mean: a quarter grey gives about a quarter white.
    TBitmap q(60, 60, pf24bit);
    FillGrey(q, 64);
    DitherFloydSteinberg(q);
    int white = 0;
    const Bytes out = Pixels(q);
    for (std::size_t i = 0; i < out.size(); i += 3) {
        ASSERT_TRUE(out[i] == out[i + 1] && out[i] == out[i + 2] && (out[i] == 0 || out[i] == 255));
        white += out[i] == 255;
    }
    EXPECT_NEAR(white / 3600.0, 64 / 255.0, 0.02);
}

TEST(DitherOrdered3x3, Patterns)
{
    InitPhotoTables();
    TBitmap b(7, 5, pf24bit);
    auto whiteAt = [&](int v) {
        FillGrey(b, static_cast<std::uint8_t>(v));
        DitherOrdered3x3(b);
        std::vector<std::pair<int, int>> cells;
        const Bytes out = Pixels(b);
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) {
                const std::uint8_t* p = &out[static_cast<std::size_t>(3 * (y * 7 + x))];
                EXPECT_TRUE(p[0] == p[1] && p[0] == p[2] && (p[0] == 0 || p[0] == 255));
                if (p[0] == 255)
                    cells.emplace_back(x, y);
            }
        return cells;
    };
    // 100: white where the threshold is 42, 14, 98 or 70.
    for (auto [x, y] : whiteAt(100)) {
        const int t = DitherMatrix[x % 3][y % 3];
        EXPECT_TRUE(t == 42 || t == 14 || t == 98 || t == 70) << x << "," << y;
    }
    EXPECT_EQ(whiteAt(100).size(), 14u);
    for (auto [x, y] : whiteAt(14))
        EXPECT_TRUE(x % 3 == 1 && y % 3 == 1) << x << "," << y;
    EXPECT_EQ(whiteAt(14).size(), 4u);
    EXPECT_TRUE(whiteAt(13).empty());
    EXPECT_EQ(whiteAt(255).size(), 35u);
}
