// Convolution: the integer fast path against a plain extended-precision
// reference, borders, kernel orientation and the clamping of odd results.

#include "photo.h"

#include "Numeric.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The pixels of a 24-bit bitmap, rows packed without padding.
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

Bytes RandomPixels(int w, int h, std::mt19937& rng)
{
    Bytes px(static_cast<std::size_t>(3 * w * h));
    for (auto& v : px)
        v = static_cast<std::uint8_t>(rng() & 0xFF);
    return px;
}

// The filter as written down: single-precision sum and weight, each step in
// extended precision, taps outside the image skipped, weight 0 gives 1, the
// quotient clamped to 0..255 before it becomes an integer.
template <int N>
Bytes ReferenceConvolve(const Bytes& src, int w, int h, const float (&k)[N][N])
{
    constexpr int R = N / 2;
    Bytes out(src.size());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 2; c >= 0; --c) {
                float sum = 0, weight = 0;
                for (int dy = -R; dy <= R; ++dy)
                    for (int dx = -R; dx <= R; ++dx) {
                        if (x + dx < 0 || x + dx >= w || y + dy < 0 || y + dy >= h)
                            continue;
                        const long double kw = k[dx + R][dy + R];
                        weight = static_cast<float>(static_cast<long double>(weight) + kw);
                        const long double v = src[static_cast<std::size_t>(3 * ((y + dy) * w + x + dx) + c)];
                        sum = static_cast<float>(static_cast<long double>(sum) + v * kw);
                    }
                if (weight == 0)
                    sum = weight = 1;
                const long double q = static_cast<long double>(sum) / static_cast<long double>(weight);
                int v;
                if (std::isnan(q) || q <= 0)
                    v = 0;
                else if (q >= 255)
                    v = 255;
                else
                    v = static_cast<int>(Trunc(q));
                out[static_cast<std::size_t>(3 * (y * w + x) + c)] = static_cast<std::uint8_t>(v);
            }
    return out;
}

Bytes Run3(const Bytes& src, int w, int h, const TKernel3x3& k)
{
    TBitmap b(w, h, pf24bit);
    SetPixels(b, src);
    Convolve3x3(b, k);
    EXPECT_EQ(b.Width(), w);
    EXPECT_EQ(b.Height(), h);
    EXPECT_EQ(b.PixelFormat(), pf24bit);
    return Pixels(b);
}

Bytes Run5(const Bytes& src, int w, int h, const TKernel5x5& k)
{
    TBitmap b(w, h, pf24bit);
    SetPixels(b, src);
    Convolve5x5(b, k);
    return Pixels(b);
}

// Index of the first differing byte, as "x,y channel", or "" when equal.
std::string FirstDifference(const Bytes& a, const Bytes& b, int w)
{
    if (a.size() != b.size())
        return "sizes differ";
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return std::to_string(i / 3 % static_cast<std::size_t>(w)) + "," +
                   std::to_string(i / 3 / static_cast<std::size_t>(w)) + " channel " + std::to_string(i % 3) +
                   ": " + std::to_string(a[i]) + " instead of " + std::to_string(b[i]);
    return "";
}

const TKernel3x3 Sharpen = TKernel3x3::FromRows({{-4, 0, -4}, {0, 40, 0}, {-4, 0, -4}});
const TKernel3x3 SharpenMore = TKernel3x3::FromRows({{-4, -2, -4}, {-2, 40, -2}, {-4, -2, -4}});
const TKernel3x3 Soften = TKernel3x3::FromRows({{1, 1, 1}, {1, 12, 1}, {1, 1, 1}});
const TKernel3x3 SoftenMore = TKernel3x3::FromRows({{1, 2, 1}, {2, 8, 2}, {1, 2, 1}});

std::vector<std::pair<std::string, TKernel3x3>> Kernels3()
{
    std::vector<std::pair<std::string, TKernel3x3>> ks = {
        {"sharpen", Sharpen}, {"sharpen more", SharpenMore}, {"soften", Soften}, {"soften more", SoftenMore}};
    TKernel3x3 tap;
    tap.At(1, -1) = 1; // one tap up and to the right: a shift
    ks.push_back({"single tap (1,-1)", tap});
    TKernel3x3 skew;
    skew.At(-1, 0) = 3;
    skew.At(0, 1) = -1;
    skew.At(1, 1) = 2;
    ks.push_back({"skewed", skew});
    TKernel3x3 edge = TKernel3x3::FromRows({{0, -1, 0}, {-1, 4, -1}, {0, -1, 0}});
    ks.push_back({"edge detector", edge});
    TKernel3x3 wide; // partial sums beyond 16 bits
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            wide.At(dx, dy) = static_cast<float>(37 * dx + 91 * dy + 150);
    ks.push_back({"wide integers", wide});
    TKernel3x3 limit; // just inside 24 bits: sum |w| x 255 = 2^24 - 1
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            limit.At(dx, dy) = -1;
    limit.At(0, 0) = 65785;
    ks.push_back({"24-bit limit", limit});
    TKernel3x3 beyond = limit; // just outside: the extended-precision path
    beyond.At(0, 0) = 65786;
    ks.push_back({"beyond 24 bits", beyond});
    TKernel3x3 halves = TKernel3x3::FromRows({{0.5f, -0.25f, 0.5f}, {0.125f, 3, -0.375f}, {0.5f, 1.5f, 0.5f}});
    ks.push_back({"binary fractions", halves});
    TKernel3x3 tenths = TKernel3x3::FromRows({{0.1f, 0.2f, 0.1f}, {0.2f, 1.3f, -0.2f}, {0.1f, 0.2f, 0.3f}});
    ks.push_back({"decimal fractions", tenths});
    return ks;
}

std::vector<std::pair<std::string, TKernel5x5>> Kernels5()
{
    std::vector<std::pair<std::string, TKernel5x5>> ks;
    const float g[5] = {1, 4, 6, 4, 1};
    TKernel5x5 gauss;
    for (int dx = -2; dx <= 2; ++dx)
        for (int dy = -2; dy <= 2; ++dy)
            gauss.At(dx, dy) = g[dx + 2] * g[dy + 2];
    ks.push_back({"gauss", gauss});
    TKernel5x5 tap;
    tap.At(2, -1) = 1;
    ks.push_back({"single tap (2,-1)", tap});
    std::mt19937 rng(55);
    TKernel5x5 small;
    for (int dx = -2; dx <= 2; ++dx)
        for (int dy = -2; dy <= 2; ++dy)
            small.At(dx, dy) = static_cast<float>(static_cast<int>(rng() % 9) - 4);
    ks.push_back({"small random", small});
    TKernel5x5 large;
    for (int dx = -2; dx <= 2; ++dx)
        for (int dy = -2; dy <= 2; ++dy)
            large.At(dx, dy) = static_cast<float>(static_cast<int>(rng() % 2001) - 900);
    ks.push_back({"large random", large});
    TKernel5x5 fractions;
    for (int dx = -2; dx <= 2; ++dx)
        for (int dy = -2; dy <= 2; ++dy)
            fractions.At(dx, dy) = static_cast<float>(static_cast<int>(rng() % 201) - 50) / 37.0f;
    ks.push_back({"fractions", fractions});
    return ks;
}

const std::vector<std::pair<int, int>> Sizes = {{1, 1}, {1, 9}, {9, 1}, {2, 3}, {3, 2}, {4, 5},
                                                {5, 4}, {6, 7}, {37, 23}, {23, 37}, {401, 6}, {6, 401}};

} // namespace

TEST(Convolve, MatchesReferenceBitForBit)
{
    std::mt19937 rng(2024);
    for (auto [w, h] : Sizes) {
        const Bytes src = RandomPixels(w, h, rng);
        for (const auto& [name, k] : Kernels3())
            EXPECT_EQ(FirstDifference(Run3(src, w, h, k), ReferenceConvolve(src, w, h, k.Weights), w), "")
                << "3x3 " << name << " on " << w << " x " << h;
        for (const auto& [name, k] : Kernels5())
            EXPECT_EQ(FirstDifference(Run5(src, w, h, k), ReferenceConvolve(src, w, h, k.Weights), w), "")
                << "5x5 " << name << " on " << w << " x " << h;
    }
}

TEST(Convolve, FirstIndexIsTheColumnOffset)
{
    // 3 x 2: a swapped dx / dy reads the wrong pixel or falls outside.
    const int w = 3, h = 2;
    Bytes src(18);
    for (std::size_t i = 0; i < src.size(); ++i)
        src[i] = static_cast<std::uint8_t>(10 + 10 * i);
    auto at = [&](const Bytes& px, int x, int y, int c) { return px[static_cast<std::size_t>(3 * (y * w + x) + c)]; };

    TKernel3x3 right;
    right.At(1, 0) = 1;
    EXPECT_EQ(right.Weights[2][1], 1.0f);
    const Bytes r = Run3(src, w, h, right);
    for (int y = 0; y < h; ++y)
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(at(r, 0, y, c), at(src, 1, y, c));
            EXPECT_EQ(at(r, 1, y, c), at(src, 2, y, c));
            EXPECT_EQ(at(r, 2, y, c), 1) << "no tap inside: weight 0";
        }

    TKernel3x3 down;
    down.At(0, 1) = 1;
    const Bytes d = Run3(src, w, h, down);
    for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(at(d, x, 0, c), at(src, x, 1, c));
            EXPECT_EQ(at(d, x, 1, c), 1);
        }

    TKernel5x5 farLeft;
    farLeft.At(-2, 0) = 1;
    const Bytes f = Run5(src, w, h, farLeft);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(at(f, 2, 1, c), at(src, 0, 1, c));
        EXPECT_EQ(at(f, 1, 1, c), 1);
    }
}

TEST(Convolve, FixedCases)
{
    // A single pixel keeps its value under sharpening: only the centre tap counts.
    const Bytes one = {12, 200, 99};
    EXPECT_EQ(Run3(one, 1, 1, Sharpen), one);

    // A uniform 100 stays 100 everywhere, borders included.
    for (auto [w, h] : Sizes) {
        const Bytes grey(static_cast<std::size_t>(3 * w * h), 100);
        for (const auto* k : {&Sharpen, &SharpenMore, &Soften, &SoftenMore})
            EXPECT_EQ(Run3(grey, w, h, *k), grey) << w << " x " << h;
        EXPECT_EQ(Run5(grey, w, h, Kernels5()[0].second), grey) << w << " x " << h;
    }

    // All-zero kernels give 1 everywhere.
    std::mt19937 rng(7);
    const Bytes src = RandomPixels(8, 5, rng);
    EXPECT_EQ(Run3(src, 8, 5, TKernel3x3{}), Bytes(src.size(), 1));
    EXPECT_EQ(Run5(src, 8, 5, TKernel5x5{}), Bytes(src.size(), 1));

    // An edge detector has weight 0 where all nine taps are inside (1), and is
    // renormalised on the border, where a uniform picture stays as it is.
    const TKernel3x3 edge = TKernel3x3::FromRows({{0, -1, 0}, {-1, 4, -1}, {0, -1, 0}});
    const Bytes r = Run3(Bytes(3 * 5 * 4, 100), 5, 4, edge);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) {
            const bool inner = x > 0 && x < 4 && y > 0 && y < 3;
            EXPECT_EQ(r[static_cast<std::size_t>(3 * (y * 5 + x))], inner ? 1 : 100) << x << "," << y;
        }

    // Sharpening overshoots are clamped: a bright dot on black, a dark dot on white.
    Bytes dot(27, 0);
    std::fill_n(dot.begin() + 12, 3, 255);
    Bytes hole(27, 255);
    std::fill_n(hole.begin() + 12, 3, 0);
    const Bytes sd = Run3(dot, 3, 3, Sharpen);
    const Bytes sh = Run3(hole, 3, 3, Sharpen);
    EXPECT_EQ(sd[12], 255); // 40 x 255 / 24
    EXPECT_EQ(sh[12], 0);   // -16 x 255 / 24
    EXPECT_EQ(sd[0], 0);    // corner: -4 x 255 / (40 - 4)
    EXPECT_EQ(sh[0], 255);  // corner: 40 x 255 / 36
}

TEST(Convolve, CentreWeightAloneKeepsThePicture)
{
    // Every quotient is then an exact whole number, whatever the weight: a
    // division that rounds the wrong way shows here. 40 pixels wide covers
    // both the vector and the plain code of a row.
    std::mt19937 rng(31);
    const Bytes src = RandomPixels(40, 4, rng);
    for (int weight = -300; weight <= 300; ++weight) {
        if (weight == 0)
            continue;
        TKernel3x3 k3;
        k3.At(0, 0) = static_cast<float>(weight);
        ASSERT_EQ(Run3(src, 40, 4, k3), src) << weight;
        TKernel5x5 k5;
        k5.At(0, 0) = static_cast<float>(weight * 97);
        ASSERT_EQ(Run5(src, 40, 4, k5), src) << weight * 97;
    }
}

TEST(Convolve, OddResultsAreClamped)
{
    // 2 x 2, red channel shown; weights so large that sums overflow single
    // precision, and a weight sum that is tiny.
    auto run = [](std::uint8_t a, std::uint8_t b, std::uint8_t c, const TKernel3x3& k) {
        Bytes px = {a, a, a, b, b, b, c, c, c, 0, 0, 0};
        return Run3(px, 2, 2, k)[2];
    };
    TKernel3x3 huge;
    huge.At(0, 0) = 3e38f;
    huge.At(1, 0) = -3e38f;
    huge.At(0, 1) = 1e-30f; // the weight sum of the top-left pixel is tiny
    EXPECT_EQ(run(255, 1, 7, huge), 255) << "sum +inf";
    EXPECT_EQ(run(0, 255, 7, huge), 0) << "sum -inf";
    EXPECT_EQ(run(255, 255, 7, huge), 255) << "an infinite sum stays infinite";
    TKernel3x3 big = huge;
    big.At(0, 0) = 1e36f;
    big.At(1, 0) = -1e36f;
    EXPECT_EQ(run(200, 100, 7, big), 255) << "finite sum over a tiny weight";
    EXPECT_EQ(run(100, 200, 7, big), 0) << "negative sum over a tiny weight";

    TKernel3x3 nan;
    nan.At(0, 0) = std::nanf("");
    EXPECT_EQ(run(100, 100, 100, nan), 0);
    TKernel3x3 inf;
    inf.At(0, 0) = INFINITY;
    EXPECT_EQ(run(100, 100, 100, inf), 0) << "inf / inf";
    inf.At(1, 0) = 1; // the top-left pixel: (0 x inf + 100) / inf
    EXPECT_EQ(run(0, 100, 100, inf), 0);

    std::mt19937 rng(99);
    const Bytes src = RandomPixels(6, 5, rng);
    for (const TKernel3x3* k : {&huge, &big, &nan, &inf})
        EXPECT_EQ(FirstDifference(Run3(src, 6, 5, *k), ReferenceConvolve(src, 6, 5, k->Weights), 6), "");
}

TEST(Convolve, OtherFormatsBecome24Bit)
{
    TBitmap b(7, 4, pf8bit);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 7; ++x)
            b.SetPixelColor(x, y, (x + y) % 2 ? clRed : clSilver);
    TBitmap expected;
    expected.Assign(b);
    expected.SetPixelFormat(pf24bit);
    const Bytes want = ReferenceConvolve(Pixels(expected), 7, 4, Soften.Weights);
    Convolve3x3(b, Soften);
    EXPECT_EQ(b.PixelFormat(), pf24bit);
    EXPECT_EQ(Pixels(b), want);

    TBitmap empty(0, 3, pf24bit);
    Convolve5x5(empty, Kernels5()[0].second);
    EXPECT_EQ(empty.Width(), 0);
    EXPECT_EQ(empty.Height(), 3);
}
