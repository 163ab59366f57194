// Colour reduction of a 12-megapixel photo (4000 x 3000: smooth gradients,
// shapes and sensor-like noise) by octree to 256 and 16 colours with
// Floyd-Steinberg dithering, beside the reference: ImageMagick's
// `convert -dither FloydSteinberg -colors N` on the same picture in the same
// run. ImageMagick's time includes starting the program, reading the PPM and
// writing an uncompressed BMP; ours is the reduction alone, source already
// 24-bit in memory, result an 8-bit bitmap.

#include "GifCodec.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

namespace {

constexpr int Width = 4000;
constexpr int Height = 3000;

TBitmap& Photo()
{
    static const std::unique_ptr<TBitmap> photo = [] {
        auto b = std::make_unique<TBitmap>(Width, Height, pf24bit);
        std::mt19937 rng(77);
        for (int y = 0; y < Height; ++y) {
            std::uint8_t* row = b->ScanLine(y);
            for (int x = 0; x < Width; ++x) {
                const int noise = static_cast<int>(rng() % 13) - 6;
                const int dx = x - 2600, dy = y - 1200;
                const bool disc = dx * dx + dy * dy < 700 * 700;
                int r = 40 + x * 180 / Width + (disc ? 60 : 0);
                int g = 30 + y * 200 / Height + ((x / 250 + y / 250) % 2) * 15;
                int bl = disc ? 200 - y * 80 / Height : 90 + (x + y) * 100 / (Width + Height);
                row[x * 3] = static_cast<std::uint8_t>(std::clamp(bl + noise, 0, 255));
                row[x * 3 + 1] = static_cast<std::uint8_t>(std::clamp(g + noise, 0, 255));
                row[x * 3 + 2] = static_cast<std::uint8_t>(std::clamp(r + noise, 0, 255));
            }
        }
        return b;
    }();
    return *photo;
}

// The photo as a PPM file for ImageMagick, written once.
const std::string& PhotoFile()
{
    static const std::string path = [] {
        const std::string dir = (std::filesystem::temp_directory_path() / "corvinel-gif-bench").string();
        std::filesystem::create_directories(dir);
        const std::string file = dir + "/photo.ppm";
        std::ofstream out(file, std::ios::binary);
        out << "P6\n" << Width << " " << Height << "\n255\n";
        const TBitmap& b = Photo();
        std::vector<char> rgb(static_cast<std::size_t>(Width) * 3);
        for (int y = 0; y < Height; ++y) {
            const std::uint8_t* row = b.ScanLine(y);
            for (int x = 0; x < Width; ++x) {
                rgb[static_cast<std::size_t>(x) * 3] = static_cast<char>(row[x * 3 + 2]);
                rgb[static_cast<std::size_t>(x) * 3 + 1] = static_cast<char>(row[x * 3 + 1]);
                rgb[static_cast<std::size_t>(x) * 3 + 2] = static_cast<char>(row[x * 3]);
            }
            out.write(rgb.data(), static_cast<std::streamsize>(rgb.size()));
        }
        return file;
    }();
    return path;
}

void SetPixels(benchmark::State& state)
{
    state.SetItemsProcessed(state.iterations() * std::int64_t{Width} * Height);
}

void BM_OctreeFloydSteinberg(benchmark::State& state)
{
    const int bits = static_cast<int>(state.range(0));
    TBitmap& photo = Photo();
    for (auto _ : state) {
        auto result = ReduceToPalette(photo, rdOctree, dtFloydSteinberg, bits);
        benchmark::DoNotOptimize(result->Bits());
    }
    SetPixels(state);
}
BENCHMARK(BM_OctreeFloydSteinberg)->Arg(8)->Arg(4)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_OctreePaletteOnly(benchmark::State& state)
{
    const int colors = static_cast<int>(state.range(0));
    TBitmap& photo = Photo();
    for (auto _ : state) {
        TPalette palette = OctreePaletteOf(photo, colors, 8, false);
        benchmark::DoNotOptimize(palette.data());
    }
    SetPixels(state);
}
BENCHMARK(BM_OctreePaletteOnly)->Arg(256)->Arg(16)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

void BM_ImageMagickFloydSteinberg(benchmark::State& state)
{
    const int colors = static_cast<int>(state.range(0));
    const std::string& in = PhotoFile();
    const std::string out = in.substr(0, in.rfind('/')) + "/magick.bmp";
    const std::string command = "convert '" + in + "' -dither FloydSteinberg -colors " + std::to_string(colors) +
                                " BMP3:'" + out + "' 2>/dev/null";
    if (std::system("command -v convert >/dev/null 2>&1") != 0) {
        state.SkipWithError("ImageMagick convert missing");
        return;
    }
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("convert failed");
            break;
        }
    }
    std::remove(out.c_str());
    SetPixels(state);
}
BENCHMARK(BM_ImageMagickFloydSteinberg)->Arg(256)->Arg(16)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
