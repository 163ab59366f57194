// Speed of the image routines on a 24-megapixel photo (6000 x 4000, random
// pixels), beside the physical reference, a copy of the same bytes into a
// buffer already mapped (memcpy), and beside OpenCV doing the same work, both
// on one thread (/1) and on every core (/all). Routines that change the
// picture get a fresh copy before each run, outside the timed part. The ratios
// are printed at the end.

#include "BenchRatios.h"
#include "Parallel.h"
#include "photo.h"

#include <benchmark/benchmark.h>

#ifdef PHOTO_BENCH_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

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

std::size_t PictureBytes() { return Source().RowStride() * static_cast<std::size_t>(Height); }

void SetBytes(benchmark::State& state)
{
    state.SetBytesProcessed(state.iterations() * std::int64_t{Width} * Height * 3);
}

// Arg 1: one thread; arg 0: every core.
unsigned Threads(const benchmark::State& state) { return static_cast<unsigned>(state.range(0)); }

// Runs f on a fresh copy of the source each iteration; only f is timed.
template <typename F>
void OnFreshCopy(benchmark::State& state, F f)
{
    parallel::TThreadCountScope scope(Threads(state));
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

// The physical reference: the same bytes into a buffer whose pages are mapped.
void BM_MemcpyMapped(benchmark::State& state)
{
    const std::size_t n = PictureBytes();
    std::vector<std::uint8_t> dst(n, 1);
    for (auto _ : state) {
        std::memcpy(dst.data(), Source().Bits(), n);
        benchmark::DoNotOptimize(dst.data());
        benchmark::ClobberMemory();
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

TKernel5x5 GaussKernel()
{
    const float g[5] = {1, 4, 6, 4, 1};
    TKernel5x5 k;
    for (int dx = -2; dx <= 2; ++dx)
        for (int dy = -2; dy <= 2; ++dy)
            k.At(dx, dy) = g[dx + 2] * g[dy + 2];
    return k;
}

void BM_Convolve3x3Sharpen(benchmark::State& state)
{
    OnFreshCopy(state, [](TBitmap& b) { Convolve3x3(b, SharpenKernel); });
}

void BM_Convolve5x5Gauss(benchmark::State& state)
{
    const TKernel5x5 k = GaussKernel();
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

#ifdef PHOTO_BENCH_OPENCV
// OpenCV on the same pixels; its output buffer is kept between runs, as ours.
template <typename F>
void OpenCv(benchmark::State& state, F f)
{
    const int saved = cv::getNumThreads();
    cv::setNumThreads(Threads(state) == 1 ? 1 : static_cast<int>(parallel::ProcessorCount()));
    const TBitmap& src = Source();
    const cv::Mat in(Height, Width, CV_8UC3, const_cast<std::uint8_t*>(src.Bits()), src.RowStride());
    cv::Mat out;
    f(in, out); // maps the output once, as ours is by the runs before
    for (auto _ : state) {
        f(in, out);
        benchmark::DoNotOptimize(out.data);
    }
    cv::setNumThreads(saved);
    SetBytes(state);
}

void BM_OpenCvFilter3x3(benchmark::State& state)
{
    cv::Mat k(3, 3, CV_32F);
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            k.at<float>(dy + 1, dx + 1) = SharpenKernel.At(dx, dy) / 24.0f;
    OpenCv(state, [&](const cv::Mat& in, cv::Mat& out) { cv::filter2D(in, out, -1, k); });
}

void BM_OpenCvFilter5x5(benchmark::State& state)
{
    const TKernel5x5 g = GaussKernel();
    cv::Mat k(5, 5, CV_32F);
    for (int dy = -2; dy <= 2; ++dy)
        for (int dx = -2; dx <= 2; ++dx)
            k.at<float>(dy + 2, dx + 2) = g.At(dx, dy) / 256.0f;
    OpenCv(state, [&](const cv::Mat& in, cv::Mat& out) { cv::filter2D(in, out, -1, k); });
}

void BM_OpenCvGrey(benchmark::State& state)
{
    OpenCv(state, [](const cv::Mat& in, cv::Mat& out) { cv::cvtColor(in, out, cv::COLOR_BGR2GRAY); });
}

void BM_OpenCvRotate90(benchmark::State& state)
{
    OpenCv(state, [](const cv::Mat& in, cv::Mat& out) { cv::rotate(in, out, cv::ROTATE_90_CLOCKWISE); });
}

void BM_OpenCvResizeHalf(benchmark::State& state)
{
    OpenCv(state, [](const cv::Mat& in, cv::Mat& out) {
        cv::resize(in, out, cv::Size(Width / 2, Height / 2), 0, 0, cv::INTER_AREA);
    });
}

void BM_OpenCvResize1024(benchmark::State& state)
{
    OpenCv(state, [](const cv::Mat& in, cv::Mat& out) {
        cv::resize(in, out, cv::Size(1024, 1024 * Height / Width), 0, 0, cv::INTER_AREA);
    });
}
#endif

} // namespace

#define PHOTO_BENCH(f) BENCHMARK(f)->Unit(benchmark::kMillisecond)->UseRealTime()->ArgName("threads")->Arg(1)->Arg(0)

BENCHMARK(BM_MemcpyMapped)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AssignCopy)->Unit(benchmark::kMillisecond)->UseRealTime();
PHOTO_BENCH(BM_Convolve3x3Sharpen);
PHOTO_BENCH(BM_Convolve5x5Gauss);
PHOTO_BENCH(BM_Convolve3x3Fractional)->Iterations(1);
PHOTO_BENCH(BM_ResizeHalf);
PHOTO_BENCH(BM_Resize1024);
PHOTO_BENCH(BM_ConvertToGrey);
PHOTO_BENCH(BM_Rotate90);
#ifdef PHOTO_BENCH_OPENCV
PHOTO_BENCH(BM_OpenCvFilter3x3);
PHOTO_BENCH(BM_OpenCvFilter5x5);
PHOTO_BENCH(BM_OpenCvGrey);
PHOTO_BENCH(BM_OpenCvRotate90);
PHOTO_BENCH(BM_OpenCvResizeHalf);
PHOTO_BENCH(BM_OpenCvResize1024);
#endif

int main(int argc, char** argv)
{
    std::vector<benchratios::TRatio> ratios = {
        {"BM_AssignCopy", "BM_MemcpyMapped", 0},
        {"BM_Convolve3x3Sharpen/threads:1", "BM_MemcpyMapped", 4.0},
        {"BM_Convolve3x3Sharpen/threads:0", "BM_MemcpyMapped", 1.5},
    };
    const char* pairs[][2] = {
        {"BM_Convolve3x3Sharpen", "BM_OpenCvFilter3x3"}, {"BM_Convolve5x5Gauss", "BM_OpenCvFilter5x5"},
        {"BM_ConvertToGrey", "BM_OpenCvGrey"},           {"BM_Rotate90", "BM_OpenCvRotate90"},
        {"BM_ResizeHalf", "BM_OpenCvResizeHalf"},        {"BM_Resize1024", "BM_OpenCvResize1024"},
    };
    for (const char* suffix : {"/threads:1", "/threads:0"})
        for (const auto& p : pairs)
            ratios.push_back({std::string(p[0]) + suffix, std::string(p[1]) + suffix, 1.0});
    return benchratios::RunAndPrintRatios(argc, argv, ratios);
}
