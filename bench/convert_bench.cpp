// The readers' row conversions: CMYK and L*a*b* rows of a million pixels of
// random samples to blue, green, red, at 8 and 16 bits, in pixels a second.

#include "ImageReaders.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t Pixels = 1 << 20;

void ConvertRows(benchmark::State& state, TRowConversion convert, std::size_t samples, int bits)
{
    std::mt19937 random(7);
    Bytes row(Pixels * samples * static_cast<std::size_t>(bits / 8));
    for (std::uint8_t& b : row)
        b = static_cast<std::uint8_t>(random());
    Bytes out(Pixels * 3);
    for (auto _ : state) {
        convert(row, out, bits, Pixels * samples);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(Pixels));
}

void BM_ConvertCMYK8(benchmark::State& state) { ConvertRows(state, ConvertCMYK, 4, 8); }
void BM_ConvertCMYK16(benchmark::State& state) { ConvertRows(state, ConvertCMYK, 4, 16); }
void BM_ConvertLab8(benchmark::State& state) { ConvertRows(state, ConvertLab, 3, 8); }
void BM_ConvertLab16(benchmark::State& state) { ConvertRows(state, ConvertLab, 3, 16); }

} // namespace

BENCHMARK(BM_ConvertCMYK8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertCMYK16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertLab8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConvertLab16)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
