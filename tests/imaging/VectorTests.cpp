// The vector code of the routines against their plain code, and the grey
// levels of every colour against GreyLevel.

#include "photo.h"

#include "RandomPictures.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

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

TEST(VectorCode, SameAsPlainCodeForKernelsAroundTheSixteenBitLimit)
{
    // Integer kernels whose sums span just under, at and just over 2^16
    // values, with partial sums beyond a signed 16-bit range on either side,
    // and random ones: the vector code picks 16- or 32-bit sums by the span.
    std::vector<TKernel3x3> kernels;
    for (float centre : {128.0f, 129.0f, 200.0f, 256.0f, 257.0f, 258.0f, 300.0f}) {
        TKernel3x3 k;
        k.At(0, 0) = centre;
        kernels.push_back(k);
        k.At(0, 0) = -centre;
        k.At(1, 1) = 1;
        kernels.push_back(k);
        TKernel3x3 m;
        m.At(0, 0) = centre;
        m.At(-1, -1) = m.At(1, 1) = -(257 - centre / 2) / 2;
        kernels.push_back(m);
    }
    std::mt19937 rng(1616);
    std::uniform_int_distribution<int> weight(-300, 300);
    for (int i = 0; i < 120; ++i) {
        TKernel3x3 k;
        for (int dx = -1; dx <= 1; ++dx)
            for (int dy = -1; dy <= 1; ++dy)
                k.At(dx, dy) = static_cast<float>(i % 2 ? weight(rng) / 10 : weight(rng));
        kernels.push_back(k);
    }
    std::vector<TKernel5x5> kernels5;
    for (int i = 0; i < 40; ++i) {
        TKernel5x5 k;
        for (int dx = -2; dx <= 2; ++dx)
            for (int dy = -2; dy <= 2; ++dy)
                k.At(dx, dy) = static_cast<float>(weight(rng) / (i % 3 ? 4 : 40));
        kernels5.push_back(k);
    }
    for (int w : {13, 37, 67}) {
        const TBitmap picture = RandomBitmap(w, 7, rng);
        for (std::size_t i = 0; i < kernels.size(); ++i)
            ASSERT_EQ(PlainAgainstVector(picture, [&](TBitmap& b) { Convolve3x3(b, kernels[i]); }), "")
                << "3x3 kernel " << i << " at width " << w;
        for (std::size_t i = 0; i < kernels5.size(); ++i)
            ASSERT_EQ(PlainAgainstVector(picture, [&](TBitmap& b) { Convolve5x5(b, kernels5[i]); }), "")
                << "5x5 kernel " << i << " at width " << w;
    }
}

} // namespace
