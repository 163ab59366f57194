// Quarter turns and resampling.

#include "photo.h"

#include "Numeric.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Picture {
    int W = 0, H = 0;
    Bytes Px; // B, G, R rows packed
    const std::uint8_t* At(int x, int y) const { return &Px[static_cast<std::size_t>(3 * (y * W + x))]; }
    std::uint8_t* At(int x, int y) { return &Px[static_cast<std::size_t>(3 * (y * W + x))]; }
};

Picture Read(TBitmap& b)
{
    Picture p{b.Width(), b.Height(), {}};
    for (int y = 0; y < b.Height(); ++y) {
        const std::uint8_t* row = b.ScanLine(y);
        p.Px.insert(p.Px.end(), row, row + 3 * b.Width());
    }
    return p;
}

void Write(TBitmap& b, const Picture& p)
{
    b.SetPixelFormat(pf24bit);
    b.SetSize(p.W, p.H);
    for (int y = 0; y < p.H; ++y)
        std::memcpy(b.ScanLine(y), p.At(0, y), 3 * static_cast<std::size_t>(p.W));
}

Picture Random(int w, int h, std::mt19937& rng)
{
    Picture p{w, h, Bytes(static_cast<std::size_t>(3 * w * h))};
    for (auto& v : p.Px)
        v = static_cast<std::uint8_t>(rng());
    return p;
}

Picture Uniform(int w, int h, std::uint8_t v) { return Picture{w, h, Bytes(static_cast<std::size_t>(3 * w * h), v)}; }

Picture Resized(const Picture& p, int nw, int nh)
{
    TBitmap b;
    Write(b, p);
    ResizeBitmap(b, nw, nh);
    EXPECT_EQ(b.PixelFormat(), pf24bit);
    return Read(b);
}

Picture Turned(const Picture& p, int direction)
{
    TBitmap b;
    Write(b, p);
    Rotate90(b, direction);
    return Read(b);
}

// Inverse-distance resampling done plainly, pixel by pixel. With clamp false
// the truncated mean is kept as it is, even below the neighbours' range.
Picture ReferenceResize(const Picture& src, int nw, int nh, bool clamp = true)
{
    Picture out = Uniform(nw, nh, 255);
    if (src.W == 0 || src.H == 0)
        return out;
    auto sample = [](int size, int newSize, int i) {
        const double s = static_cast<double>(static_cast<long double>(static_cast<long long>(size) * i) / newSize - 0.5L);
        return std::max(0.0, std::min(static_cast<double>(size - 1), s));
    };
    for (int y = 0; y < nh; ++y)
        for (int x = 0; x < nw; ++x) {
            const double fx = sample(src.W, nw, x), fy = sample(src.H, nh, y);
            const int x0 = static_cast<int>(std::floor(fx)), y0 = static_cast<int>(std::floor(fy));
            const double ax = fx - x0, ay = fy - y0;
            std::vector<const std::uint8_t*> n;
            std::vector<double> w;
            auto inv = [](long double d) { return static_cast<double>(1 / d); };
            if (ax == 0 && ay == 0) {
                std::memcpy(out.At(x, y), src.At(x0, y0), 3);
                continue;
            } else if (ay == 0) {
                n = {src.At(x0, y0), src.At(x0 + 1, y0)};
                w = {inv(ax), inv(1 - static_cast<long double>(ax))};
            } else if (ax == 0) {
                n = {src.At(x0, y0), src.At(x0, y0 + 1)};
                w = {inv(ay), inv(1 - static_cast<long double>(ay))};
            } else {
                const long double a = ax, b = ay, a1 = 1 - a, b1 = 1 - b;
                n = {src.At(x0, y0), src.At(x0 + 1, y0), src.At(x0, y0 + 1), src.At(x0 + 1, y0 + 1)};
                w = {inv(std::sqrt(a * a + b * b)), inv(std::sqrt(a1 * a1 + b * b)), inv(std::sqrt(a * a + b1 * b1)),
                     inv(std::sqrt(a1 * a1 + b1 * b1))};
            }
            for (int c = 2; c >= 0; --c) {
                long double num = 0, den = 0;
                int lo = 255, hi = 0;
                for (std::size_t i = 0; i < n.size(); ++i) {
                    num = i == 0 ? static_cast<long double>(w[i]) * n[i][c] : num + static_cast<long double>(w[i]) * n[i][c];
                    den = i == 0 ? static_cast<long double>(w[i]) : den + static_cast<long double>(w[i]);
                    lo = std::min<int>(lo, n[i][c]);
                    hi = std::max<int>(hi, n[i][c]);
                }
                int v = static_cast<int>(Trunc(num / den));
                if (clamp)
                    v = std::clamp(v, lo, hi);
                out.At(x, y)[c] = static_cast<std::uint8_t>(v);
            }
        }
    return out;
}

} // namespace

TEST(Rotate90, QuarterTurns)
{
    Picture p{3, 2, {}};
    for (int i = 0; i < 18; ++i)
        p.Px.push_back(static_cast<std::uint8_t>(i * 13));
    const Picture cw = Turned(p, -1);
    ASSERT_EQ(cw.W, 2);
    ASSERT_EQ(cw.H, 3);
    const Picture acw = Turned(p, 1);
    ASSERT_EQ(acw.W, 2);
    ASSERT_EQ(acw.H, 3);
    EXPECT_EQ(std::memcmp(cw.At(1, 0), p.At(0, 0), 3), 0) << "top-left lands top-right";
    EXPECT_EQ(std::memcmp(acw.At(0, 2), p.At(0, 0), 3), 0) << "top-left lands bottom-left";
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 2; ++x) {
            EXPECT_EQ(std::memcmp(cw.At(x, y), p.At(y, 1 - x), 3), 0) << x << "," << y;
            EXPECT_EQ(std::memcmp(acw.At(x, y), p.At(2 - y, x), 3), 0) << x << "," << y;
        }

    // Larger than the tiles the turn works in, and not square.
    std::mt19937 rng(3);
    const Picture big = Random(70, 45, rng);
    EXPECT_EQ(Turned(Turned(big, -1), 1).Px, big.Px);
    EXPECT_EQ(Turned(Turned(big, 1), -1).Px, big.Px);
    Picture four = big;
    for (int i = 0; i < 4; ++i)
        four = Turned(four, -1);
    EXPECT_EQ(four.Px, big.Px);
    const Picture half = Turned(Turned(big, 1), 1);
    for (int y = 0; y < big.H; ++y)
        for (int x = 0; x < big.W; ++x)
            ASSERT_EQ(std::memcmp(half.At(x, y), big.At(big.W - 1 - x, big.H - 1 - y), 3), 0);
}

TEST(Rotate90, EdgeCases)
{
    // Other directions leave the pixels as they are.
    std::mt19937 rng(4);
    const Picture p = Random(5, 2, rng);
    for (int d : {0, 2, -2}) {
        const Picture t = Turned(p, d);
        EXPECT_EQ(t.W, 5);
        EXPECT_EQ(t.Px, p.Px);
    }
    TBitmap empty(0, 4, pf24bit);
    Rotate90(empty, 1);
    EXPECT_EQ(empty.Width(), 4);
    EXPECT_EQ(empty.Height(), 0);

    TBitmap pal(3, 1, pf8bit);
    pal.SetPixelColor(0, 0, clBlack);
    Rotate90(pal, -1);
    EXPECT_EQ(pal.PixelFormat(), pf24bit);
    EXPECT_EQ(pal.Width(), 1);
    EXPECT_EQ(pal.GetPixelColor(0, 0), clBlack);
    EXPECT_EQ(pal.GetPixelColor(0, 2), clWhite);
}

TEST(ResizeBitmap, Examples)
{
    // 0 and 100 doubled: sample points -0.5 (clamped), 0, 0.5 and 1.
    Picture line{2, 1, {0, 0, 0, 100, 100, 100}};
    EXPECT_EQ(Resized(line, 4, 1).Px, (Bytes{0, 0, 0, 0, 0, 0, 50, 50, 50, 100, 100, 100}));

    std::mt19937 rng(11);
    const Picture p = Random(4, 4, rng);
    const Picture half = Resized(p, 2, 2);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(half.At(0, 0)[c], p.At(0, 0)[c]);
        EXPECT_EQ(half.At(1, 0)[c], (p.At(1, 0)[c] + p.At(2, 0)[c]) / 2);
        EXPECT_EQ(half.At(0, 1)[c], (p.At(0, 1)[c] + p.At(0, 2)[c]) / 2);
        EXPECT_EQ(half.At(1, 1)[c], (p.At(1, 1)[c] + p.At(2, 1)[c] + p.At(1, 2)[c] + p.At(2, 2)[c]) / 4);
    }

    // The same size is not a copy: every pixel but the first mixes its
    // neighbours up and to the left.
    const Picture q = Random(5, 3, rng);
    const Picture same = Resized(q, 5, 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c) {
                int want;
                if (x == 0 && y == 0)
                    want = q.At(0, 0)[c];
                else if (y == 0)
                    want = (q.At(x - 1, 0)[c] + q.At(x, 0)[c]) / 2;
                else if (x == 0)
                    want = (q.At(0, y - 1)[c] + q.At(0, y)[c]) / 2;
                else
                    want = (q.At(x - 1, y - 1)[c] + q.At(x, y - 1)[c] + q.At(x - 1, y)[c] + q.At(x, y)[c]) / 4;
                EXPECT_EQ(same.At(x, y)[c], want) << x << "," << y;
            }
}

TEST(ResizeBitmap, MatchesReferenceBitForBit)
{
    std::mt19937 rng(12);
    // Halving both ways ({16, 10} and {30, 18} to {8, 5} and {15, 9}) meets
    // the rows and columns that sample halfway between two source pixels.
    const std::vector<std::pair<int, int>> from = {{1, 1}, {2, 1}, {1, 7}, {7, 5}, {16, 9}, {31, 17}, {16, 10}, {30, 18}};
    const std::vector<std::pair<int, int>> to = {{1, 1}, {3, 2}, {2, 3}, {7, 5}, {13, 11}, {40, 3},
                                                 {5, 29}, {8, 4}, {15, 16}, {62, 34}, {8, 5}, {15, 9}};
    for (auto [w, h] : from) {
        const Picture p = Random(w, h, rng);
        for (auto [nw, nh] : to)
            EXPECT_EQ(Resized(p, nw, nh).Px, ReferenceResize(p, nw, nh).Px)
                << w << " x " << h << " -> " << nw << " x " << nh;
    }
}

TEST(ResizeBitmap, UniformStaysUniform)
{
    // Truncating a weighted mean of equal values can fall one below them;
    // the result is kept inside the neighbours' range.
    bool rawFallsBelow = false;
    for (std::uint8_t v : {23, 1, 77, 254, 255})
        for (auto [nw, nh] : {std::pair{7, 5}, {11, 13}, {3, 8}, {29, 2}, {17, 19}}) {
            const Picture src = Uniform(4, 3, v);
            EXPECT_EQ(Resized(src, nw, nh).Px, Uniform(nw, nh, v).Px) << int(v) << " -> " << nw << " x " << nh;
            const Picture raw = ReferenceResize(src, nw, nh, false);
            rawFallsBelow |= std::any_of(raw.Px.begin(), raw.Px.end(), [v](std::uint8_t b) { return b < v; });
        }
    EXPECT_TRUE(rawFallsBelow) << "the cases above no longer show the truncation";
}

TEST(ResizeBitmap, Sizes)
{
    std::mt19937 rng(13);
    const Picture p = Random(6, 4, rng);
    for (auto [nw, nh] : {std::pair{0, 5}, {5, 0}, {0, 0}}) {
        const Picture r = Resized(p, nw, nh);
        EXPECT_EQ(r.W, nw);
        EXPECT_EQ(r.H, nh);
    }
    // Negative sizes count as 0.
    for (auto [nw, nh] : {std::pair{-3, 5}, {5, -1}, {INT32_MIN, INT32_MIN}}) {
        const Picture r = Resized(p, nw, nh);
        EXPECT_EQ(r.W, std::max(nw, 0));
        EXPECT_EQ(r.H, std::max(nh, 0));
    }
    // An empty source has nothing to sample: a white picture of the new size.
    for (auto [w, h] : {std::pair{0, 0}, {0, 3}, {4, 0}}) {
        TBitmap empty(w, h, pf24bit);
        ResizeBitmap(empty, 5, 3);
        const Picture r = Read(empty);
        EXPECT_EQ(r.W, 5);
        EXPECT_EQ(r.H, 3);
        EXPECT_EQ(r.Px, Uniform(5, 3, 255).Px);
    }
    // 8 bits become 24.
    TBitmap pal(4, 4, pf8bit);
    ResizeBitmap(pal, 2, 2);
    EXPECT_EQ(pal.PixelFormat(), pf24bit);
    EXPECT_EQ(Read(pal).Px, Uniform(2, 2, 255).Px);
}

TEST(ResizeBitmap, LongSidesDoNotOverflow)
{
    // 70000 x 39999 does not fit in 32 bits: a gradient must stay a gradient
    // up to its far end, both across and down.
    const int n = 70000, m = 40000;
    Picture across{n, 1, Bytes(3 * n)};
    for (int x = 0; x < n; ++x)
        std::memset(across.At(x, 0), x * 255 / (n - 1), 3);
    const Picture r = Resized(across, m, 1);
    EXPECT_EQ(r.Px, ReferenceResize(across, m, 1).Px);
    for (int x = 1; x < m; ++x)
        ASSERT_GE(r.At(x, 0)[0], r.At(x - 1, 0)[0]) << x;
    EXPECT_GE(r.At(m - 1, 0)[0], 254);

    Picture down{1, n, across.Px};
    const Picture d = Resized(down, 1, m);
    for (int y = 0; y < m; ++y)
        ASSERT_EQ(d.At(0, y)[0], r.At(y, 0)[0]) << y;
}
