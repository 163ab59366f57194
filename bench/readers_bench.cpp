// The readers' speed. TIFF: a 24 MP photo written by libtiff with LZW and
// horizontal differencing, decoded by TTIFFGraphic into its 24-bit bitmap and
// by libtiff strip by strip into RGB rows, beside a plain memcpy of the same
// pixels into an already-mapped buffer (the memory limit). Targa: run-length
// encoding of the same photo by TTargaGraphic, and by ImageMagick's convert
// (a whole process with the PPM read; for the record only).

#include "ImageReaders.h"

#include "Bitmap.h"
#include "Streams.h"

#include <benchmark/benchmark.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr int Width = 6000;
constexpr int Height = 4000;

// A photo-like picture as RGB rows: smooth light and shade, a few soft
// shapes and a little sensor noise.
Bytes MakePhotoRgb()
{
    Bytes rgb(static_cast<std::size_t>(Width) * Height * 3);
    std::mt19937 rng(42);
    std::normal_distribution<float> noise(0.0f, 2.0f);
    for (int y = 0; y < Height; ++y) {
        const double v = static_cast<double>(y) / Height;
        for (int x = 0; x < Width; ++x) {
            const double u = static_cast<double>(x) / Width;
            const double sky = 0.5 + 0.5 * std::sin(3.1 * u + 1.7 * v);
            const double hill = 0.5 + 0.5 * std::cos(7.0 * u * v + 2.0 * std::sin(5.0 * v));
            const double blob = std::exp(-((u - 0.6) * (u - 0.6) + (v - 0.4) * (v - 0.4)) * 18.0);
            const double c[3] = {40 + 150 * sky + 60 * blob, 60 + 120 * hill + 40 * blob, 90 + 100 * sky * hill};
            std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * Width + x) * 3];
            for (int k = 0; k < 3; ++k)
                p[k] = static_cast<std::uint8_t>(std::clamp(c[k] + noise(rng), 0.0, 255.0));
        }
    }
    return rgb;
}

struct Fixture {
    Bytes Rgb;
    std::string TiffPath;
    std::string PpmPath;
    std::unique_ptr<TTargaGraphic> Bitmap;
};

Fixture& Get()
{
    static Fixture f;
    if (!f.Rgb.empty())
        return f;
    f.Rgb = MakePhotoRgb();
    const std::string dir = std::filesystem::temp_directory_path().string();
    f.TiffPath = dir + "/corvinel-readers-bench.tif";
    f.PpmPath = dir + "/corvinel-readers-bench.ppm";
    TIFF* tif = TIFFOpen(f.TiffPath.c_str(), "w");
    if (!tif)
        throw std::runtime_error("cannot write the TIFF file");
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, Width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, Height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0));
    for (int y = 0; y < Height; ++y)
        if (TIFFWriteScanline(tif, &f.Rgb[static_cast<std::size_t>(y) * Width * 3], static_cast<std::uint32_t>(y), 0) < 0)
            throw std::runtime_error("libtiff write failed");
    TIFFClose(tif);
    if (std::FILE* out = std::fopen(f.PpmPath.c_str(), "wb")) {
        std::fprintf(out, "P6\n%d %d\n255\n", Width, Height);
        std::fwrite(f.Rgb.data(), 1, f.Rgb.size(), out);
        std::fclose(out);
    }
    // The Targa writer works on a 24-bit bitmap of the same pixels.
    f.Bitmap = std::make_unique<TTargaGraphic>();
    f.Bitmap->SetSize(Width, Height);
    for (int y = 0; y < Height; ++y) {
        std::uint8_t* row = f.Bitmap->ScanLine(y);
        const std::uint8_t* src = &f.Rgb[static_cast<std::size_t>(y) * Width * 3];
        for (int x = 0; x < Width; ++x) {
            row[3 * x] = src[3 * x + 2];
            row[3 * x + 1] = src[3 * x + 1];
            row[3 * x + 2] = src[3 * x];
        }
    }
    return f;
}

void BM_TiffLzwPredictorOurs(benchmark::State& state)
{
    Fixture& f = Get();
    for (auto _ : state) {
        TTIFFGraphic tiff;
        tiff.LoadFromFile(f.TiffPath);
        benchmark::DoNotOptimize(tiff.ScanLine(Height - 1));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(f.Rgb.size()));
}

void BM_TiffLzwPredictorLibtiff(benchmark::State& state)
{
    Fixture& f = Get();
    for (auto _ : state) {
        TIFF* tif = TIFFOpen(f.TiffPath.c_str(), "r");
        const tmsize_t stripSize = TIFFStripSize(tif);
        const std::uint32_t strips = TIFFNumberOfStrips(tif);
        Bytes pixels(static_cast<std::size_t>(Width) * Height * 3);
        std::size_t at = 0;
        for (std::uint32_t s = 0; s < strips; ++s) {
            const tmsize_t n = TIFFReadEncodedStrip(tif, s, pixels.data() + at,
                                                    std::min<tmsize_t>(stripSize, static_cast<tmsize_t>(pixels.size() - at)));
            if (n < 0)
                throw std::runtime_error("libtiff read failed");
            at += static_cast<std::size_t>(n);
        }
        TIFFClose(tif);
        benchmark::DoNotOptimize(pixels.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(f.Rgb.size()));
}

void BM_MemcpyLimit(benchmark::State& state)
{
    Fixture& f = Get();
    Bytes target(f.Rgb.size(), 1);
    for (auto _ : state) {
        std::memcpy(target.data(), f.Rgb.data(), f.Rgb.size());
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(f.Rgb.size()));
}

void BM_TargaRleEncodeOurs(benchmark::State& state)
{
    Fixture& f = Get();
    std::size_t size = 0;
    for (auto _ : state) {
        TMemoryStream out;
        f.Bitmap->SaveToStream(out);
        size = static_cast<std::size_t>(out.Size());
    }
    state.counters["bytes"] = static_cast<double>(size);
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(f.Rgb.size()));
}

void BM_TargaRleEncodeImageMagick(benchmark::State& state)
{
    Fixture& f = Get();
    const std::string out = f.PpmPath + ".tga";
    const std::string command = "/usr/bin/convert " + f.PpmPath + " -compress RLE " + out;
    for (auto _ : state)
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("convert failed");
    state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(out));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(f.Rgb.size()));
}

} // namespace

BENCHMARK(BM_TiffLzwPredictorOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TiffLzwPredictorLibtiff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyLimit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TargaRleEncodeOurs)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TargaRleEncodeImageMagick)->Unit(benchmark::kMillisecond)->Iterations(2);

BENCHMARK_MAIN();
