// Speed of the image routines on a 24-megapixel photo (6000 x 4000, random
// pixels), each beside the reference: a plain Assign copy of the same bitmap.
// Routines that change the picture's content or size get a fresh copy before
// each run, outside the timed part.

#include "photo.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

namespace {

constexpr int Width = 6000;
constexpr int Height = 4000;

const TBitmap& Source()
{
    static const std::unique_ptr<TBitmap> source = [] {
        auto b = std::make_unique<TBitmap>(Width, Height, pf24bit);
        std::mt19937 rng(1234);
        for (int y = 0; y < Height; ++y) {
            std::uint8_t* row = b->ScanLine(y);
            for (int i = 0; i < 3 * Width; ++i)
                row[i] = static_cast<std::uint8_t>(rng() >> 24);
        }
        InitPhotoTables();
        return b;
    }();
    return *source;
}

void SetBytes(benchmark::State& state)
{
    state.SetBytesProcessed(state.iterations() * std::int64_t{Width} * Height * 3);
}

// Runs f on a fresh copy of the source each iteration; only f is timed.
template <typename F>
void OnFreshCopy(benchmark::State& state, F f)
{
    TBitmap work;
    for (auto _ : state) {
        state.PauseTiming();
        work.Assign(Source());
        state.ResumeTiming();
        f(work);
        benchmark::DoNotOptimize(work.Bits());
    }
    SetBytes(state);
}

void BM_AssignCopy(benchmark::State& state)
{
    const TBitmap& src = Source();
    TBitmap work;
    for (auto _ : state) {
        work.Assign(src);
        benchmark::DoNotOptimize(work.Bits());
    }
    SetBytes(state);
}

const TKernel3x3 SharpenKernel = TKernel3x3::FromRows({{-4, 0, -4}, {0, 40, 0}, {-4, 0, -4}});

void BM_Convolve3x3Sharpen(benchmark::State& state)
{
    OnFreshCopy(state, [](TBitmap& b) { Convolve3x3(b, SharpenKernel); });
}

void BM_Convolve5x5Gauss(benchmark::State& state)
{
    const float g[5] = {1, 4, 6, 4, 1};
    TKernel5x5 k;
    for (int dx = -2; dx <= 2; ++dx)
        for (int dy = -2; dy <= 2; ++dy)
            k.At(dx, dy) = g[dx + 2] * g[dy + 2];
    OnFreshCopy(state, [&](TBitmap& b) { Convolve5x5(b, k); });
}

// Weights that are not binary fractions take the extended-precision path.
void BM_Convolve3x3Fractional(benchmark::State& state)
{
    const TKernel3x3 k = TKernel3x3::FromRows({{0.1f, 0.2f, 0.1f}, {0.2f, 1.3f, 0.2f}, {0.1f, 0.2f, 0.1f}});
    OnFreshCopy(state, [&](TBitmap& b) { Convolve3x3(b, k); });
}

void BM_ResizeHalf(benchmark::State& state)
{
    OnFreshCopy(state, [](TBitmap& b) { ResizeBitmap(b, Width / 2, Height / 2); });
}

void BM_Resize1024(benchmark::State& state)
{
    OnFreshCopy(state, [](TBitmap& b) { ResizeBitmap(b, 1024, 1024 * Height / Width); });
}

void BM_ConvertToGrey(benchmark::State& state)
{
    OnFreshCopy(state, [](TBitmap& b) { ConvertToGrey(b, 1); });
}

void BM_Rotate90(benchmark::State& state)
{
    OnFreshCopy(state, [](TBitmap& b) { Rotate90(b, -1); });
}

} // namespace

BENCHMARK(BM_AssignCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Convolve3x3Sharpen)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Convolve5x5Gauss)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Convolve3x3Fractional)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_ResizeHalf)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Resize1024)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ConvertToGrey)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Rotate90)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
