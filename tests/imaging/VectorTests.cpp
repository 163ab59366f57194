// The vector code of the routines against their plain code, and the grey
// levels of every colour against GreyLevel.

#include "photo.h"

#include "RandomPictures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace {

using imagingtest::RandomBitmap;

class PlainCode {
public:
    PlainCode() { SetPhotoVectorPaths(false); }
    ~PlainCode() { SetPhotoVectorPaths(true); }
};

std::string Difference(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return "size";
    for (int y = 0; y < a.Height(); ++y)
        for (int i = 0; i < 3 * a.Width(); ++i)
            if (a.ScanLine(y)[i] != b.ScanLine(y)[i])
                return "pixel " + std::to_string(i / 3) + ", " + std::to_string(y) + " byte " + std::to_string(i % 3) +
                       ": " + std::to_string(a.ScanLine(y)[i]) + " against " + std::to_string(b.ScanLine(y)[i]);
    return "";
}

template <typename F>
std::string PlainAgainstVector(const TBitmap& picture, F run)
{
    TBitmap plain, vector;
    plain.Assign(picture);
    vector.Assign(picture);
    {
        PlainCode scope;
        run(plain);
    }
    run(vector);
    return Difference(plain, vector);
}

TEST(VectorCode, GreyOfEveryColourIsItsGreyLevel)
{
    // 4096 x 4096 pixels: every colour once.
    TBitmap all(4096, 4096, pf24bit);
    for (int y = 0; y < 4096; ++y) {
        std::uint8_t* row = all.ScanLine(y);
        for (int x = 0; x < 4096; ++x) {
            const std::uint32_t c = static_cast<std::uint32_t>(y) * 4096 + static_cast<std::uint32_t>(x);
            row[3 * x] = static_cast<std::uint8_t>(c);
            row[3 * x + 1] = static_cast<std::uint8_t>(c >> 8);
            row[3 * x + 2] = static_cast<std::uint8_t>(c >> 16);
        }
    }
    for (GreyMode mode : {1, 2, 3, 0, 4}) {
        TBitmap b;
        b.Assign(all);
        ConvertToGrey(b, mode);
        for (int y = 0; y < 4096; ++y) {
            const std::uint8_t* row = b.ScanLine(y);
            for (int x = 0; x < 4096; ++x) {
                const std::uint32_t c = static_cast<std::uint32_t>(y) * 4096 + static_cast<std::uint32_t>(x);
                const int want = GreyLevel(mode, TPixel24{static_cast<std::uint8_t>(c), static_cast<std::uint8_t>(c >> 8),
                                                          static_cast<std::uint8_t>(c >> 16)});
                const std::uint8_t* p = row + 3 * x;
                ASSERT_TRUE(p[0] == want && p[1] == want && p[2] == want)
                    << "mode " << mode << " colour " << std::hex << c << ": " << std::dec << int(p[0]) << " not " << want;
            }
        }
    }
}

TEST(VectorCode, SameAsPlainCodeOnOddWidths)
{
    const TKernel3x3 sharpen = TKernel3x3::FromRows({{-4, 0, -4}, {0, 40, 0}, {-4, 0, -4}});
    const TKernel3x3 edges = TKernel3x3::FromRows({{0, -1, 0}, {-1, 4, -1}, {0, -1, 0}});
    const TKernel3x3 negative = TKernel3x3::FromRows({{-1, -2, -1}, {-2, -3, -2}, {-1, -2, -1}});
    TKernel5x5 gauss, wide;
    const float g[5] = {1, 4, 6, 4, 1};
    for (int dx = -2; dx <= 2; ++dx)
        for (int dy = -2; dy <= 2; ++dy) {
            gauss.At(dx, dy) = g[dx + 2] * g[dy + 2];
            wide.At(dx, dy) = static_cast<float>((dx * 7 + dy * 3) % 5) * 40;
        }
    wide.At(0, 0) = 900;
    std::mt19937 rng(67);
    for (int w = 1; w <= 67; w += 2)
        for (int h : {1, 4, 9}) {
            const TBitmap picture = RandomBitmap(w, h, rng);
            const std::string at = std::to_string(w) + "x" + std::to_string(h);
            EXPECT_EQ(PlainAgainstVector(picture, [&](TBitmap& b) { Convolve3x3(b, sharpen); }), "") << "sharpen " << at;
            EXPECT_EQ(PlainAgainstVector(picture, [&](TBitmap& b) { Convolve3x3(b, edges); }), "") << "edges " << at;
            EXPECT_EQ(PlainAgainstVector(picture, [&](TBitmap& b) { Convolve3x3(b, negative); }), "")
                << "negative " << at;
            EXPECT_EQ(PlainAgainstVector(picture, [&](TBitmap& b) { Convolve5x5(b, gauss); }), "") << "gauss " << at;
            EXPECT_EQ(PlainAgainstVector(picture, [&](TBitmap& b) { Convolve5x5(b, wide); }), "") << "wide " << at;
            for (GreyMode mode : {1, 2, 3})
                EXPECT_EQ(PlainAgainstVector(picture, [&](TBitmap& b) { ConvertToGrey(b, mode); }), "")
                    << "grey " << mode << " " << at;
        }
}

} // namespace
