// Portable map reading: a 24 MP binary pixel map (P6) and a 16-bit grey map
// (P5, maximum 65535) decoded from memory by TPPMGraphic into its bitmap and
// by OpenCV's imdecode (the fastest reader of the format at hand), beside a
// plain memcpy of the same pixels into an already-mapped buffer (the memory
// limit).

#include "ImageReaders.h"

#include "Bitmap.h"
#include "Streams.h"

#include <benchmark/benchmark.h>
#include <opencv2/imgcodecs.hpp>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int Width = 6000;
constexpr int Height = 4000;

struct Maps {
    Bytes Colour; // P6, maximum 255
    Bytes Grey16; // P5, maximum 65535
    std::size_t ColourPixels = 0;
};

Bytes Map(const std::string& header, std::size_t samples, std::size_t sampleBytes)
{
    Bytes b(header.begin(), header.end());
    const std::size_t start = b.size();
    b.resize(start + samples * sampleBytes);
    std::mt19937 rng(7);
    // Smooth rows with a little noise, like a photo.
    for (std::size_t i = 0; i < samples * sampleBytes; ++i)
        b[start + i] = static_cast<std::uint8_t>((i / 97) % 200 + rng() % 16);
    return b;
}

const Maps& Get()
{
    static const Maps maps = [] {
        Maps m;
        const std::string size = std::to_string(Width) + " " + std::to_string(Height);
        m.Colour = Map("P6\n" + size + "\n255\n", std::size_t{Width} * Height * 3, 1);
        m.Grey16 = Map("P5\n" + size + "\n65535\n", std::size_t{Width} * Height, 2);
        m.ColourPixels = std::size_t{Width} * Height * 3;
        return m;
    }();
    return maps;
}

void Ours(benchmark::State& state, const Bytes& file)
{
    TMemoryStream stream{Bytes(file)};
    for (auto _ : state) {
        stream.SetPosition(0);
        TPPMGraphic map;
        map.LoadFromStream(stream);
        benchmark::DoNotOptimize(map.ScanLine(0));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}

void OpenCv(benchmark::State& state, const Bytes& file)
{
    for (auto _ : state) {
        const cv::Mat image = cv::imdecode(file, cv::IMREAD_UNCHANGED);
        if (image.empty())
            state.SkipWithError("imdecode failed");
        benchmark::DoNotOptimize(image.data);
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(file.size()));
}

void BM_PpmColourOurs(benchmark::State& state) { Ours(state, Get().Colour); }
void BM_PpmColourOpenCv(benchmark::State& state) { OpenCv(state, Get().Colour); }
void BM_PgmGrey16Ours(benchmark::State& state) { Ours(state, Get().Grey16); }
void BM_PgmGrey16OpenCv(benchmark::State& state) { OpenCv(state, Get().Grey16); }

void BM_MemcpyLimit(benchmark::State& state)
{
    const Bytes& source = Get().Colour;
    Bytes target(source.size());
    std::memset(target.data(), 1, target.size());
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(source.size()));
}

} // namespace

BENCHMARK(BM_PpmColourOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PpmColourOpenCv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PgmGrey16Ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PgmGrey16OpenCv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyLimit)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
