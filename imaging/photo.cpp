#include "photo.h"

#include "Numeric.h"
#include "Parallel.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

TContrastCurves ContrastCurves;
int DitherMatrix[3][3];

void InitPhotoTables()
{
    const Extended c1 = -100.0L / 255;
    const Extended c2 = -100.0L / (255 * 255);
    const Extended c3 = -100.0L / (255.0L * 255 * 255);
    for (int g = 0; g < 256; ++g) {
        const Extended eg = g;
        ContrastCurves.Values[0][g] = StoreSingle(100 + eg * c1);
        ContrastCurves.Values[1][g] = StoreSingle(100 + (eg * c2) * eg);
        ContrastCurves.Values[2][g] = StoreSingle(100 + ((eg * c3) * eg) * eg);
    }
    // Thresholds 28 x b - 14 spread the levels 1..9 evenly over 0..255.
    static constexpr int base[3][3] = {{7, 9, 5}, {2, 1, 4}, {6, 3, 8}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            DitherMatrix[i][j] = 28 * base[i][j] - 14;
}

namespace {

using Byte = std::uint8_t;

std::vector<Byte*> RowPointers(TBitmap& bitmap)
{
    std::vector<Byte*> rows(static_cast<std::size_t>(bitmap.Height()));
    for (int y = 0; y < bitmap.Height(); ++y)
        rows[static_cast<std::size_t>(y)] = bitmap.ScanLine(y);
    return rows;
}

// Calls body(y0, y1) for pieces of the rows [0, rows), on the shared pool.
// Every routine that uses it computes each row from data no other piece
// writes, so the result does not depend on how the rows are split.
template <typename F>
void ForRows(int rows, F body)
{
    const auto n = static_cast<std::size_t>(std::max(rows, 0));
    parallel::For(n, parallel::GrainFor(n),
                  [&](std::size_t begin, std::size_t end) { body(static_cast<int>(begin), static_cast<int>(end)); });
}

// Trunc of a value in [0, 2^31). A direct conversion switches the x87
// rounding mode, which is slow: go through double, rounded to nearest, and
// step back when that rounding went up to the next integer.
inline int TruncSmall(Extended q)
{
    int v = static_cast<int>(static_cast<double>(q));
    if (static_cast<Extended>(v) > q)
        --v;
    return v;
}

// A channel value from a floating-point result: the clamp to 0..255 is done
// before the conversion to an integer, so NaN and infinities are safe (NaN
// and -inf give 0, +inf gives 255). Inside the range the value is truncated.
inline Byte ClampToByte(Extended q)
{
    if (!(q > 0))
        return 0;
    if (q >= 255)
        return 255;
    return static_cast<Byte>(TruncSmall(q));
}

// Integer quotient truncated toward zero, clamped to 0..255.
inline Byte ClampQuotient(std::int32_t sum, std::int32_t weight)
{
    std::int32_t v = sum / weight;
    return static_cast<Byte>(std::clamp(v, 0, 255));
}

// ---------------------------------------------------------------------------
// Convolution
//
// The reference arithmetic keeps sum and weight in single precision, each
// step formed in extended precision: sum := sum + channel x weight. When every
// weight is an integer multiple of one power of two and the products can not
// leave 24 bits, every such step is exact, and so is the truncated quotient:
// the whole filter then runs on integers with the same results.

template <int R>
constexpr int KernelSide = 2 * R + 1;

template <int R>
using KernelWeights = float[KernelSide<R>][KernelSide<R>]; // [dx + R][dy + R]

template <int R>
struct IntegerKernel {
    std::int32_t W[KernelSide<R>][KernelSide<R>]; // [dx + R][dy + R]
};

// Scales the weights by the smallest power of two that makes them all whole;
// false when there is none, or when the sums could need more than 24 bits.
template <int R>
bool MakeIntegerKernel(const KernelWeights<R>& k, IntegerKernel<R>& out)
{
    constexpr int n = KernelSide<R>;
    for (int shift = 0; shift <= 24; ++shift) {
        bool whole = true;
        double magnitude = 0;
        for (int i = 0; i < n && whole; ++i)
            for (int j = 0; j < n && whole; ++j) {
                if (!std::isfinite(k[i][j]))
                    return false;
                double s = std::ldexp(static_cast<double>(k[i][j]), shift);
                whole = s == std::trunc(s);
                magnitude += std::fabs(s);
            }
        if (!whole)
            continue;
        if (magnitude * 255 >= 16777216.0)
            return false;
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
                out.W[i][j] = static_cast<std::int32_t>(std::ldexp(static_cast<double>(k[i][j]), shift));
        return true;
    }
    return false;
}

// The taps of (x, y) that fall inside a w x h image: dx in [X0, X1], dy in [Y0, Y1].
struct TapRange {
    int X0, X1, Y0, Y1;
    bool operator==(const TapRange&) const = default;
};

template <int R>
TapRange TapsInside(int w, int h, int x, int y)
{
    return TapRange{std::max(-R, -x), std::min(R, w - 1 - x), std::max(-R, -y), std::min(R, h - 1 - y)};
}

// The reference arithmetic: single-precision sums, each step formed in
// extended precision, taps in rows of dy, each row in order of dx.
template <int R>
float ExtendedWeight(const KernelWeights<R>& k, const TapRange& t)
{
    float weight = 0;
    for (int dy = t.Y0; dy <= t.Y1; ++dy)
        for (int dx = t.X0; dx <= t.X1; ++dx)
            weight = StoreSingle(static_cast<Extended>(weight) + static_cast<Extended>(k[dx + R][dy + R]));
    return weight;
}

template <int R>
void ExtendedPixel(const std::vector<Byte*>& src, int x, int y, const KernelWeights<R>& k, const TapRange& t,
                   float weight, Byte* out)
{
    // The three channels are independent sums; they go side by side.
    float sum[3] = {0, 0, 0};
    for (int dy = t.Y0; dy <= t.Y1; ++dy) {
        const Byte* row = src[static_cast<std::size_t>(y + dy)];
        for (int dx = t.X0; dx <= t.X1; ++dx) {
            const Extended kw = k[dx + R][dy + R];
            const Byte* p = row + 3 * (x + dx);
            for (int c = 0; c < 3; ++c)
                sum[c] = StoreSingle(static_cast<Extended>(sum[c]) + static_cast<Extended>(p[c]) * kw);
        }
    }
    for (int c = 0; c < 3; ++c)
        // A zero weight sum gives 1, not the unnormalised sum.
        out[c] = weight == 0 ? 1 : ClampToByte(static_cast<Extended>(sum[c]) / static_cast<Extended>(weight));
}

// One pixel on integers, taps outside the image skipped.
template <int R>
void IntegerPixel(const std::vector<Byte*>& src, int w, int h, int x, int y, const IntegerKernel<R>& k, Byte* out)
{
    const TapRange t = TapsInside<R>(w, h, x, y);
    std::int32_t weight = 0, s0 = 0, s1 = 0, s2 = 0;
    for (int dy = t.Y0; dy <= t.Y1; ++dy) {
        const Byte* row = src[static_cast<std::size_t>(y + dy)];
        for (int dx = t.X0; dx <= t.X1; ++dx) {
            const std::int32_t kw = k.W[dx + R][dy + R];
            const Byte* p = row + 3 * (x + dx);
            weight += kw;
            s0 += kw * p[0];
            s1 += kw * p[1];
            s2 += kw * p[2];
        }
    }
    if (weight == 0) {
        out[0] = out[1] = out[2] = 1;
        return;
    }
    out[0] = ClampQuotient(s0, weight);
    out[1] = ClampQuotient(s1, weight);
    out[2] = ClampQuotient(s2, weight);
}

// The taps of the middle of a row, where every tap is inside the image: the
// start of each tap's bytes and its weight, zero weights left out.
struct Tap {
    const Byte* Start;
    std::int32_t Weight;
};

constexpr int MaxTaps = 25;

#if defined(__x86_64__) || defined(__i386__)
#define PHOTO_AVX2_RUNS 1

// 32 quotients (four vectors of 8) truncated toward zero, saturated into 0..255
// and stored in order. Sums stay below 2^24 in magnitude and the divisor
// below 2^17, so the correctly rounded single-precision quotient truncates to
// the same integer as the exact one, and converts without overflow.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i Quotients(__m256i sums, __m256 divisor)
{
    return _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(sums), divisor));
}

[[gnu::target("avx2"), gnu::always_inline]] inline void StoreQuotients(__m256i a, __m256i b, __m256i c, __m256i d,
                                                                       __m256 divisor, Byte* out)
{
    const __m256i ab = _mm256_packs_epi32(Quotients(a, divisor), Quotients(b, divisor));
    const __m256i cd = _mm256_packs_epi32(Quotients(c, divisor), Quotients(d, divisor));
    const __m256i bytes = _mm256_packus_epi16(ab, cd);
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permutevar8x32_epi32(bytes, order));
}

// Eight 16-bit sums, unsigned, plus base.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i WidenFrom(__m128i sums, __m256i base)
{
    return _mm256_add_epi32(_mm256_cvtepu16_epi32(sums), base);
}

// The run 32 bytes at a time with 16-bit sums, for kernels whose sums span
// fewer than 2^16 values, from low up: the sums are formed modulo 2^16 from
// -low on, which gives sum - low exactly, whatever the partial sums did on
// the way. Answers how many bytes were done.
[[gnu::target("avx2")]] std::size_t InteriorRunAvx2Narrow(const Tap* taps, int count, Byte* out, std::size_t n,
                                                          float divisor, std::int32_t low)
{
    __m256i weights[MaxTaps];
    for (int t = 0; t < count; ++t)
        weights[t] = _mm256_set1_epi16(static_cast<std::int16_t>(taps[t].Weight));
    const __m256 d = _mm256_set1_ps(divisor);
    const __m256i start = _mm256_set1_epi16(static_cast<std::int16_t>(static_cast<std::uint16_t>(-low)));
    const __m256i base = _mm256_set1_epi32(low);
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i s0 = start, s1 = start;
        for (int t = 0; t < count; ++t) {
            const Byte* p = taps[t].Start + i;
            const __m256i v0 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
            const __m256i v1 = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
            s0 = _mm256_add_epi16(s0, _mm256_mullo_epi16(v0, weights[t]));
            s1 = _mm256_add_epi16(s1, _mm256_mullo_epi16(v1, weights[t]));
        }
        StoreQuotients(WidenFrom(_mm256_castsi256_si128(s0), base), WidenFrom(_mm256_extracti128_si256(s0, 1), base),
                       WidenFrom(_mm256_castsi256_si128(s1), base), WidenFrom(_mm256_extracti128_si256(s1, 1), base),
                       d, out + i);
    }
    return i;
}

// The same with 32-bit sums.
[[gnu::target("avx2")]] std::size_t InteriorRunAvx2Wide(const Tap* taps, int count, Byte* out, std::size_t n,
                                                        float divisor)
{
    __m256i weights[MaxTaps];
    for (int t = 0; t < count; ++t)
        weights[t] = _mm256_set1_epi32(taps[t].Weight);
    const __m256 d = _mm256_set1_ps(divisor);
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        __m256i s[4] = {_mm256_setzero_si256(), _mm256_setzero_si256(), _mm256_setzero_si256(),
                        _mm256_setzero_si256()};
        for (int t = 0; t < count; ++t) {
            const Byte* p = taps[t].Start + i;
            for (int j = 0; j < 4; ++j) {
                const __m256i v = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 8 * j)));
                s[j] = _mm256_add_epi32(s[j], _mm256_mullo_epi32(v, weights[t]));
            }
        }
        StoreQuotients(s[0], s[1], s[2], s[3], d, out + i);
    }
    return i;
}

bool HaveAvx2()
{
    static const bool have = __builtin_cpu_supports("avx2");
    return have;
}
#endif

std::atomic<bool> gVectorPaths{true};

bool VectorPathsEnabled() { return gVectorPaths.load(std::memory_order_relaxed); }

// Byte i of the run is sum(weight x tap.Start[i]) / divisor, truncated and
// clamped to 0..255: the vector code does what it can, plain code the rest.
void InteriorRun(const Tap* taps, int count, Byte* out, std::size_t n, float divisor, bool narrow, std::int32_t low)
{
    std::size_t i = 0;
#ifdef PHOTO_AVX2_RUNS
    if (HaveAvx2() && VectorPathsEnabled())
        i = narrow ? InteriorRunAvx2Narrow(taps, count, out, n, divisor, low)
                   : InteriorRunAvx2Wide(taps, count, out, n, divisor);
#else
    (void)narrow;
    (void)low;
#endif
    for (; i < n; ++i) {
        std::int32_t sum = 0;
        for (int t = 0; t < count; ++t)
            sum += taps[t].Weight * taps[t].Start[i];
        const auto v = static_cast<std::int32_t>(static_cast<float>(sum) / divisor);
        out[i] = static_cast<Byte>(std::clamp(v, 0, 255));
    }
}

// Rows [y0, y1) of the middle of the picture, from column R to w - R - 1.
template <int R>
void ConvolveInteriorRows(const std::vector<Byte*>& src, const std::vector<Byte*>& dst, int w, int y0, int y1,
                          const IntegerKernel<R>& k)
{
    constexpr int side = KernelSide<R>;
    std::int32_t total = 0, positive = 0, negative = 0;
    for (int i = 0; i < side; ++i)
        for (int j = 0; j < side; ++j) {
            total += k.W[i][j];
            (k.W[i][j] > 0 ? positive : negative) += k.W[i][j];
        }
    // Every sum lies within [255 x negative, 255 x positive].
    const std::int32_t low = 255 * negative;
    const bool narrow = 255 * positive - low <= 65535;
    const std::size_t n = static_cast<std::size_t>(w - 2 * R) * 3;
    for (int y = y0; y < y1; ++y) {
        Byte* out = dst[static_cast<std::size_t>(y)] + 3 * R;
        if (total == 0) {
            std::memset(out, 1, n);
            continue;
        }
        Tap taps[MaxTaps];
        int count = 0;
        for (int dy = -R; dy <= R; ++dy)
            for (int dx = -R; dx <= R; ++dx)
                if (k.W[dx + R][dy + R] != 0)
                    taps[count++] = Tap{src[static_cast<std::size_t>(y + dy)] + 3 * (R + dx), k.W[dx + R][dy + R]};
        InteriorRun(taps, count, out, n, static_cast<float>(total), narrow, low);
    }
}

// Rows [y0, y1) on integers: the borders pixel by pixel, the middle in runs.
template <int R>
void ConvolveInteger(const std::vector<Byte*>& src, const std::vector<Byte*>& dst, int w, int h, int y0, int y1,
                     const IntegerKernel<R>& k)
{
    const bool interior = w > 2 * R && h > 2 * R;
    for (int y = y0; y < y1; ++y) {
        const bool edgeRow = !interior || y < R || y >= h - R;
        Byte* out = dst[static_cast<std::size_t>(y)];
        for (int x = 0; x < w; ++x) {
            if (!edgeRow && x == R) {
                x = w - R - 1; // the middle of the row is done below
                continue;
            }
            IntegerPixel<R>(src, w, h, x, y, k, out + 3 * x);
        }
    }
    if (interior)
        ConvolveInteriorRows<R>(src, dst, w, std::max(y0, R), std::min(y1, h - R), k);
}

template <int R>
void ConvolveExtended(const std::vector<Byte*>& src, const std::vector<Byte*>& dst, int w, int h, int y0, int y1,
                      const KernelWeights<R>& k)
{
    // The weight depends only on which taps are inside: most pixels share it.
    TapRange last{1, 0, 1, 0};
    float weight = 0;
    for (int y = y0; y < y1; ++y) {
        Byte* out = dst[static_cast<std::size_t>(y)];
        for (int x = 0; x < w; ++x) {
            const TapRange t = TapsInside<R>(w, h, x, y);
            if (!(t == last)) {
                weight = ExtendedWeight<R>(k, t);
                last = t;
            }
            ExtendedPixel<R>(src, x, y, k, t, weight, out + 3 * x);
        }
    }
}

template <int R>
void Convolve(TBitmap& bitmap, const KernelWeights<R>& k)
{
    bitmap.SetPixelFormat(pf24bit);
    const int w = bitmap.Width(), h = bitmap.Height();
    // Every pixel of the result is written below.
    TBitmap result = TBitmap::Uninitialised(w, h, pf24bit);
    if (w > 0 && h > 0) {
        const std::vector<Byte*> src = RowPointers(bitmap);
        const std::vector<Byte*> dst = RowPointers(result);
        IntegerKernel<R> ik;
        if (MakeIntegerKernel<R>(k, ik))
            ForRows(h, [&](int y0, int y1) { ConvolveInteger<R>(src, dst, w, h, y0, y1, ik); });
        else
            ForRows(h, [&](int y0, int y1) { ConvolveExtended<R>(src, dst, w, h, y0, y1, k); });
    }
    bitmap.Assign(std::move(result));
}

} // namespace

void SetPhotoVectorPaths(bool enabled) { gVectorPaths.store(enabled); }

void Convolve3x3(TBitmap& Bitmap, TKernel3x3 Kernel) { Convolve<1>(Bitmap, Kernel.Weights); }

void Convolve5x5(TBitmap& Bitmap, TKernel5x5 Kernel) { Convolve<2>(Bitmap, Kernel.Weights); }

// ---------------------------------------------------------------------------
// Grey levels, brightening, dithering

namespace {

// Round(0.3 R + 0.59 G + 0.11 B) with the sum formed in extended precision.
// The exact value is (30 R + 59 G + 11 B) / 100, and the extended sum is
// within 1e-15 of it, so only an exact half can round differently from the
// integer answer: that case is settled by the extended sum itself.
inline int WeightedGrey(int r, int g, int b)
{
    const int v = 30 * r + 59 * g + 11 * b;
    if (v % 100 == 50) [[unlikely]]
        return static_cast<int>(Round(0.3L * r + 0.59L * g + 0.11L * b));
    return (v + 50) / 100;
}

// Calls f for every pixel; rows go in pieces over the shared pool.
template <typename F>
void ForEachPixel(TBitmap& bitmap, F f)
{
    const int w = bitmap.Width();
    const std::vector<Byte*> rows = RowPointers(bitmap);
    ForRows(bitmap.Height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            Byte* row = rows[static_cast<std::size_t>(y)];
            for (int x = 0; x < w; ++x)
                f(row + 3 * x);
        }
    });
}

} // namespace

int GreyLevel(GreyMode Mode, TPixel24 Pixel)
{
    switch (Mode) {
    case 1:
        return WeightedGrey(Pixel.Red, Pixel.Green, Pixel.Blue);
    case 2:
        return (Pixel.Red + Pixel.Green + Pixel.Blue) / 3;
    case 3:
        return std::max({Pixel.Red, Pixel.Green, Pixel.Blue});
    default:
        return 0;
    }
}

namespace {

// WeightedGrey of a colour whose sum v = 30 R + 59 G + 11 B ends in an exact
// half of 100: the extended sum lies next to (v + 50) / 100 - 0.5, and
// rounds, halves to even, to one of its neighbours.
inline int WeightedGreyOfHalf(int r, int g, int b, int v)
{
    const Extended x = 0.3L * r + 0.59L * g + 0.11L * b;
    const int up = (v + 50) / 100;
    const Extended half = static_cast<Extended>(up) - 0.5L;
    if (x > half)
        return up;
    if (x < half)
        return up - 1;
    return (up & 1) ? up - 1 : up;
}

#ifdef PHOTO_AVX2_RUNS
// The shuffles that gather channel c of 16 pixels (48 bytes in three
// vectors) into one vector, and that spread 16 grey bytes back out as three
// bytes each.
struct GreyShuffles {
    alignas(16) std::int8_t Gather[3][3][16]; // [channel][source vector][byte]
    alignas(16) std::int8_t Spread[3][16];    // [destination vector][byte]

    GreyShuffles()
    {
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 3; ++v)
                for (int i = 0; i < 16; ++i) {
                    const int source = 3 * i + c; // byte of pixel i's channel c
                    Gather[c][v][i] = source / 16 == v ? static_cast<std::int8_t>(source % 16) : -1;
                }
        for (int v = 0; v < 3; ++v)
            for (int i = 0; i < 16; ++i)
                Spread[v][i] = static_cast<std::int8_t>((16 * v + i) / 3);
    }
};

const GreyShuffles& Shuffles()
{
    static const GreyShuffles shuffles;
    return shuffles;
}

// Grey levels of 16 pixels at a time; answers the pixels done. Mode 1 works
// on the integer sum 30 R + 59 G + 11 B and leaves the pixels whose sum ends
// in an exact half to the plain code.
template <int mode>
[[gnu::target("avx2")]] int GreyRowAvx2(Byte* row, int w)
{
    const GreyShuffles& sh = Shuffles();
    __m128i gather[3][3], spread[3];
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 3; ++v)
            gather[c][v] = _mm_load_si128(reinterpret_cast<const __m128i*>(sh.Gather[c][v]));
    for (int v = 0; v < 3; ++v)
        spread[v] = _mm_load_si128(reinterpret_cast<const __m128i*>(sh.Spread[v]));
    const __m128i zero = _mm_setzero_si128();
    int x = 0;
    for (; x + 16 <= w; x += 16) {
        Byte* p = row + 3 * x;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
        __m128i ch[3];
        for (int k = 0; k < 3; ++k)
            ch[k] = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(a, gather[k][0]), _mm_shuffle_epi8(b, gather[k][1])),
                                 _mm_shuffle_epi8(c, gather[k][2]));
        // ch[0] blue, ch[1] green, ch[2] red.
        __m128i grey;
        int halves = 0;
        if constexpr (mode == 3) {
            grey = _mm_max_epu8(_mm_max_epu8(ch[0], ch[1]), ch[2]);
        } else {
            __m128i q[2];
            for (int half = 0; half < 2; ++half) {
                const __m128i bl = half ? _mm_unpackhi_epi8(ch[0], zero) : _mm_unpacklo_epi8(ch[0], zero);
                const __m128i gr = half ? _mm_unpackhi_epi8(ch[1], zero) : _mm_unpacklo_epi8(ch[1], zero);
                const __m128i re = half ? _mm_unpackhi_epi8(ch[2], zero) : _mm_unpacklo_epi8(ch[2], zero);
                if constexpr (mode == 1) {
                    // n = 30 R + 59 G + 11 B + 50 <= 25550; n / 100 = (n x 5243) >> 19 there.
                    const __m128i n = _mm_add_epi16(
                        _mm_add_epi16(_mm_mullo_epi16(re, _mm_set1_epi16(30)), _mm_mullo_epi16(gr, _mm_set1_epi16(59))),
                        _mm_add_epi16(_mm_mullo_epi16(bl, _mm_set1_epi16(11)), _mm_set1_epi16(50)));
                    q[half] = _mm_srli_epi16(_mm_mulhi_epu16(n, _mm_set1_epi16(5243)), 3);
                    const __m128i exact = _mm_cmpeq_epi16(_mm_mullo_epi16(q[half], _mm_set1_epi16(100)), n);
                    halves |= _mm_movemask_epi8(_mm_packs_epi16(exact, zero)) << (8 * half);
                } else {
                    // s = R + G + B <= 765; s / 3 = (s x 43691) >> 17 there.
                    const __m128i sum = _mm_add_epi16(_mm_add_epi16(re, gr), bl);
                    q[half] = _mm_srli_epi16(_mm_mulhi_epu16(sum, _mm_set1_epi16(static_cast<short>(43691))), 1);
                }
            }
            grey = _mm_packus_epi16(q[0], q[1]);
        }
        if (mode == 1 && halves) [[unlikely]] {
            alignas(16) Byte levels[16];
            _mm_store_si128(reinterpret_cast<__m128i*>(levels), grey);
            for (; halves; halves &= halves - 1) {
                const int i = __builtin_ctz(static_cast<unsigned>(halves));
                const int r = p[3 * i + 2], g = p[3 * i + 1], b = p[3 * i];
                levels[i] = static_cast<Byte>(WeightedGreyOfHalf(r, g, b, 30 * r + 59 * g + 11 * b));
            }
            grey = _mm_load_si128(reinterpret_cast<const __m128i*>(levels));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(grey, spread[0]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 16), _mm_shuffle_epi8(grey, spread[1]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 32), _mm_shuffle_epi8(grey, spread[2]));
    }
    return x;
}
#endif

// The plain code, pixel by pixel from column x on.
void GreyRowPlain(Byte* row, int x, int w, GreyMode mode)
{
    for (; x < w; ++x) {
        Byte* p = row + 3 * x;
        const Byte v = static_cast<Byte>(GreyLevel(mode, TPixel24{p[0], p[1], p[2]}));
        p[0] = p[1] = p[2] = v;
    }
}

} // namespace

void ConvertToGrey(TBitmap& Bitmap, GreyMode Mode)
{
    Bitmap.SetPixelFormat(pf24bit);
    const int w = Bitmap.Width();
    const std::vector<Byte*> rows = RowPointers(Bitmap);
    const bool known = Mode >= 1 && Mode <= 3;
    ForRows(Bitmap.Height(), [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            Byte* row = rows[static_cast<std::size_t>(y)];
            if (!known) {
                std::memset(row, 0, 3 * static_cast<std::size_t>(w));
                continue;
            }
            int x = 0;
#ifdef PHOTO_AVX2_RUNS
            if (HaveAvx2() && VectorPathsEnabled())
                x = Mode == 1 ? GreyRowAvx2<1>(row, w) : Mode == 2 ? GreyRowAvx2<2>(row, w) : GreyRowAvx2<3>(row, w);
#endif
            GreyRowPlain(row, x, w, Mode);
        }
    });
}

void AutoContrast(TBitmap& Bitmap, int Curve, GreyMode Mode, float Strength)
{
    if (Strength == 0)
        return;
    // Only curves 1 to 3 exist. Any other curve is treated like a zero
    // strength: nothing changes, and nothing outside the table is read.
    if (Curve < 1 || Curve > 3)
        return;
    Bitmap.SetPixelFormat(pf24bit);
    // The result of channel value c at grey g, for every g and c.
    std::vector<Byte> result(256 * 256);
    for (int g = 0; g < 256; ++g) {
        const float gain = StoreSingle(static_cast<Extended>(ContrastCurves(Curve, g)) *
                                           static_cast<Extended>(Strength) / 100 +
                                       1);
        for (int c = 0; c < 256; ++c)
            result[static_cast<std::size_t>(g * 256 + c)] =
                ClampToByte(static_cast<Extended>(c) * static_cast<Extended>(gain));
    }
    ForEachPixel(Bitmap, [&](Byte* p) {
        const Byte* line = &result[static_cast<std::size_t>(GreyLevel(Mode, TPixel24{p[0], p[1], p[2]})) * 256];
        p[2] = line[p[2]];
        p[1] = line[p[1]];
        p[0] = line[p[0]];
    });
}

void DitherFloydSteinberg(TBitmap& Bitmap)
{
    ConvertToGrey(Bitmap, 1);
    const int w = Bitmap.Width(), h = Bitmap.Height();
    const std::vector<Byte*> rows = RowPointers(Bitmap);
    // The error goes to the red byte of a neighbour, clamped at every store.
    auto spread = [](Byte& red, int share) { red = static_cast<Byte>(std::clamp(red + share, 0, 255)); };
    for (int y = 0; y < h; ++y) {
        Byte* row = rows[static_cast<std::size_t>(y)];
        Byte* next = y < h - 1 ? rows[static_cast<std::size_t>(y + 1)] : nullptr;
        for (int x = 0; x < w; ++x) {
            Byte* p = row + 3 * x;
            const int v = p[2];
            const int out = v > 128 ? 255 : 0;
            const int err = v - out;
            p[0] = p[1] = p[2] = static_cast<Byte>(out);
            if (x < w - 1) {
                spread(row[3 * (x + 1) + 2], err * 7 / 16);
                if (next)
                    spread(next[3 * (x + 1) + 2], err / 16);
            }
            if (next) {
                spread(next[3 * x + 2], err * 5 / 16);
                if (x > 0)
                    spread(next[3 * (x - 1) + 2], err * 3 / 16);
            }
        }
    }
}

void DitherOrdered3x3(TBitmap& Bitmap)
{
    ConvertToGrey(Bitmap, 1);
    const int w = Bitmap.Width(), h = Bitmap.Height();
    const std::vector<Byte*> rows = RowPointers(Bitmap);
    ForRows(h, [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            Byte* row = rows[static_cast<std::size_t>(y)];
            for (int x = 0; x < w; ++x) {
                Byte* p = row + 3 * x;
                const Byte v = p[2] >= DitherMatrix[x % 3][y % 3] ? 255 : 0;
                p[0] = p[1] = p[2] = v;
            }
        }
    });
}

// ---------------------------------------------------------------------------
// Quarter turns and resampling

void Rotate90(TBitmap& Bitmap, int Direction)
{
    Bitmap.SetPixelFormat(pf24bit);
    if (Direction != -1 && Direction != 1)
        return;
    const int w = Bitmap.Width(), h = Bitmap.Height();
    // Every pixel of the result is written below.
    TBitmap result = TBitmap::Uninitialised(h, w, pf24bit);
    if (w > 0 && h > 0) {
        const std::vector<Byte*> src = RowPointers(Bitmap);
        const std::vector<Byte*> dst = RowPointers(result);
        // Square tiles keep the rows read and written in the cache; bands of
        // destination rows go over the pool. Clockwise, the destination
        // (x, y) is the source (y, h - 1 - x); anticlockwise, the source
        // (w - 1 - y, x).
        constexpr int tile = 256;
        const bool clockwise = Direction == -1;
        ForRows((w + tile - 1) / tile, [&](int band0, int band1) {
            for (int by = band0 * tile; by < std::min(band1 * tile, w); by += tile) {
                const int ey = std::min(by + tile, w);
                for (int bx = 0; bx < h; bx += tile) {
                    const int ex = std::min(bx + tile, h);
                    // Whole source rows are read along, destination columns
                    // written down. Pixels go four bytes at a time where the
                    // fourth byte is the next pixel's, which this thread
                    // writes afterwards (destination column x + 1, in this
                    // tile or the next one along) and which lies inside the
                    // source; the rest go three at a time.
                    for (int x = bx; x < ex; ++x) {
                        const Byte* in = src[static_cast<std::size_t>(clockwise ? h - 1 - x : x)];
                        const std::size_t at = 3 * static_cast<std::size_t>(x);
                        if (x == h - 1) {
                            for (int y = by; y < ey; ++y)
                                std::memcpy(dst[static_cast<std::size_t>(y)] + at, in + 3 * (clockwise ? y : w - 1 - y), 3);
                            continue;
                        }
                        for (int y = by; y < ey; ++y) {
                            const int column = clockwise ? y : w - 1 - y;
                            Byte* out = dst[static_cast<std::size_t>(y)] + at;
                            if (column == w - 1) {
                                std::memcpy(out, in + 3 * column, 3);
                            } else {
                                std::uint32_t v;
                                std::memcpy(&v, in + 3 * column, 4);
                                std::memcpy(out, &v, 4);
                            }
                        }
                    }
                }
            }
        });
    }
    Bitmap.Assign(std::move(result));
}

namespace {

// Where one destination column (or row) samples the source: the clamped
// sample coordinate split into its whole part and its fraction.
struct SamplePoint {
    int Index = 0;
    double Fraction = 0;
};

std::vector<SamplePoint> SamplePoints(int size, int newSize)
{
    std::vector<SamplePoint> points(static_cast<std::size_t>(newSize));
    for (int i = 0; i < newSize; ++i) {
        const auto product = static_cast<std::int64_t>(size) * i;
        const double s = static_cast<double>(static_cast<Extended>(product) / newSize - 0.5L);
        const double f = std::max(0.0, std::min(static_cast<double>(size - 1), s));
        const double whole = std::floor(f);
        points[static_cast<std::size_t>(i)] = SamplePoint{static_cast<int>(whole), f - whole};
    }
    return points;
}

// The weights of two neighbours at distances a and 1 - a.
struct PairWeights {
    double W1 = 0, W2 = 0;
    Extended Sum = 0;
    bool Equal = false;
};

PairWeights MakePairWeights(double a)
{
    PairWeights p;
    p.W1 = static_cast<double>(1 / static_cast<Extended>(a));
    p.W2 = static_cast<double>(1 / (1 - static_cast<Extended>(a)));
    p.Sum = static_cast<Extended>(p.W1) + static_cast<Extended>(p.W2);
    p.Equal = p.W1 == p.W2;
    return p;
}

struct QuadWeights {
    double W[4] = {};
    Extended Sum = 0;
    bool Equal = false;
};

QuadWeights MakeQuadWeights(double ax, double ay)
{
    const Extended x = ax, y = ay;
    const Extended x1 = 1 - x, y1 = 1 - y;
    QuadWeights q;
    q.W[0] = static_cast<double>(1 / std::sqrt(x * x + y * y));
    q.W[1] = static_cast<double>(1 / std::sqrt(x1 * x1 + y * y));
    q.W[2] = static_cast<double>(1 / std::sqrt(x * x + y1 * y1));
    q.W[3] = static_cast<double>(1 / std::sqrt(x1 * x1 + y1 * y1));
    q.Sum = ((static_cast<Extended>(q.W[0]) + static_cast<Extended>(q.W[1])) + static_cast<Extended>(q.W[2])) +
            static_cast<Extended>(q.W[3]);
    q.Equal = q.W[0] == q.W[1] && q.W[0] == q.W[2] && q.W[0] == q.W[3];
    return q;
}

// The truncated weighted mean, kept inside the neighbours' range: truncating
// the mean of equal values could otherwise give one less than each of them.
inline Byte Mix2(const PairWeights& w, Byte a, Byte b)
{
    int v;
    if (w.Equal) // with equal weights the mean is exact in extended precision
        v = (a + b) / 2;
    else
        v = TruncSmall((static_cast<Extended>(w.W1) * a + static_cast<Extended>(w.W2) * b) / w.Sum);
    return static_cast<Byte>(std::clamp<int>(v, std::min(a, b), std::max(a, b)));
}

// n pixels, each the truncated mean of two neighbouring pixels' column sums
// (s holds the sums of two rows): pixel k from the sums at 2k and 2k + 1.
void HalfMeans(const std::uint16_t* s, Byte* out, int n)
{
    for (int k = 0; k < n; ++k, s += 6, out += 3) {
        out[0] = static_cast<Byte>((s[0] + s[3]) >> 2);
        out[1] = static_cast<Byte>((s[1] + s[4]) >> 2);
        out[2] = static_cast<Byte>((s[2] + s[5]) >> 2);
    }
}

inline Byte Mix4(const QuadWeights& w, Byte a, Byte b, Byte c, Byte d)
{
    int v;
    if (w.Equal)
        v = (a + b + c + d) / 4;
    else
        v = TruncSmall((((static_cast<Extended>(w.W[0]) * a + static_cast<Extended>(w.W[1]) * b) +
                               static_cast<Extended>(w.W[2]) * c) +
                              static_cast<Extended>(w.W[3]) * d) /
                             w.Sum);
    return static_cast<Byte>(std::clamp<int>(v, std::min({a, b, c, d}), std::max({a, b, c, d})));
}

} // namespace

void ResizeBitmap(TBitmap& Bitmap, int NewWidth, int NewHeight)
{
    NewWidth = std::max(NewWidth, 0);
    NewHeight = std::max(NewHeight, 0);
    Bitmap.SetPixelFormat(pf24bit);
    const int w = Bitmap.Width(), h = Bitmap.Height();
    // An empty source has nothing to sample: the new picture stays white.
    // Otherwise every pixel is written below.
    TBitmap result = w > 0 && h > 0 ? TBitmap::Uninitialised(NewWidth, NewHeight, pf24bit)
                                    : TBitmap(NewWidth, NewHeight, pf24bit);
    if (w > 0 && h > 0 && NewWidth > 0 && NewHeight > 0) {
        const std::vector<Byte*> src = RowPointers(Bitmap);
        const std::vector<Byte*> dst = RowPointers(result);
        const std::vector<SamplePoint> cols = SamplePoints(w, NewWidth);
        const std::vector<SamplePoint> rows = SamplePoints(h, NewHeight);

        // Columns with the same fraction share their weights: give each
        // distinct fraction a class.
        std::vector<double> fractions;
        for (const SamplePoint& c : cols)
            if (c.Fraction != 0)
                fractions.push_back(c.Fraction);
        std::sort(fractions.begin(), fractions.end());
        fractions.erase(std::unique(fractions.begin(), fractions.end()), fractions.end());
        std::vector<int> colClass(cols.size(), -1);
        std::vector<PairWeights> colPairs(fractions.size());
        for (std::size_t i = 0; i < fractions.size(); ++i)
            colPairs[i] = MakePairWeights(fractions[i]);
        for (std::size_t x = 0; x < cols.size(); ++x)
            if (cols[x].Fraction != 0)
                colClass[x] = static_cast<int>(std::lower_bound(fractions.begin(), fractions.end(), cols[x].Fraction) -
                                               fractions.begin());

        // Four neighbours weigh the same only at the fractions 0.5 and 0.5:
        // their truncated mean is then (a + b + c + d) / 4, which the rows
        // halfway between two source rows take from the sums of those rows.
        const auto halfAt = std::lower_bound(fractions.begin(), fractions.end(), 0.5);
        const int halfClass =
            halfAt != fractions.end() && *halfAt == 0.5 ? static_cast<int>(halfAt - fractions.begin()) : -2;

        // Where such columns follow each other two source pixels apart, as
        // when halving, a whole run of them goes in one loop: the end of the
        // run that starts at each of them.
        std::vector<int> halfRunEnd(cols.size(), 0);
        for (int x = NewWidth - 1; x >= 0; --x) {
            const auto i = static_cast<std::size_t>(x);
            if (colClass[i] != halfClass)
                continue;
            const bool joins = x + 1 < NewWidth && colClass[i + 1] == halfClass && cols[i + 1].Index == cols[i].Index + 2;
            halfRunEnd[i] = joins ? halfRunEnd[i + 1] : x + 1;
        }

        ForRows(NewHeight, [&](int y0, int y1) {
            std::vector<QuadWeights> quads(fractions.size());
            double quadsRowFraction = 0; // the row fraction quads were made for; 0: none yet
            std::vector<std::uint16_t> columnSums;
            for (int y = y0; y < y1; ++y) {
                const SamplePoint& sy = rows[static_cast<std::size_t>(y)];
                const Byte* r0 = src[static_cast<std::size_t>(sy.Index)];
                const Byte* r1 = sy.Fraction != 0 ? src[static_cast<std::size_t>(sy.Index) + 1] : nullptr;
                Byte* out = dst[static_cast<std::size_t>(y)];
                PairWeights rowPair;
                if (sy.Fraction != 0) {
                    rowPair = MakePairWeights(sy.Fraction);
                    if (sy.Fraction != quadsRowFraction) {
                        for (std::size_t i = 0; i < fractions.size(); ++i)
                            quads[i] = MakeQuadWeights(fractions[i], sy.Fraction);
                        quadsRowFraction = sy.Fraction;
                    }
                }
                const bool halfRow = r1 && sy.Fraction == 0.5 && halfClass >= 0;
                if (halfRow) {
                    columnSums.resize(3 * static_cast<std::size_t>(w));
                    for (std::size_t i = 0; i < columnSums.size(); ++i)
                        columnSums[i] = static_cast<std::uint16_t>(r0[i] + r1[i]);
                }
                for (int x = 0; x < NewWidth; ++x) {
                    const SamplePoint& sx = cols[static_cast<std::size_t>(x)];
                    const int cls = colClass[static_cast<std::size_t>(x)];
                    const Byte* p00 = r0 + 3 * sx.Index;
                    Byte* o = out + 3 * x;
                    if (halfRow && cls == halfClass) {
                        const int end = halfRunEnd[static_cast<std::size_t>(x)];
                        HalfMeans(columnSums.data() + 3 * sx.Index, o, end - x);
                        x = end - 1;
                    } else if (cls < 0 && !r1) {
                        std::memcpy(o, p00, 3);
                    } else if (!r1) {
                        const PairWeights& pw = colPairs[static_cast<std::size_t>(cls)];
                        for (int c = 2; c >= 0; --c)
                            o[c] = Mix2(pw, p00[c], p00[3 + c]);
                    } else if (cls < 0) {
                        const Byte* p01 = r1 + 3 * sx.Index;
                        for (int c = 2; c >= 0; --c)
                            o[c] = Mix2(rowPair, p00[c], p01[c]);
                    } else {
                        const QuadWeights& qw = quads[static_cast<std::size_t>(cls)];
                        const Byte* p01 = r1 + 3 * sx.Index;
                        for (int c = 2; c >= 0; --c)
                            o[c] = Mix4(qw, p00[c], p00[3 + c], p01[c], p01[3 + c]);
                    }
                }
            }
        });
    }
    Bitmap.Assign(std::move(result));
}
