// The save assistant's previews of a 12-megapixel photo, one per tab: the
// picture encoded into a file, read back through the picture registry,
// measured and deleted. Beside them the outside tools doing the same round
// trip (ImageMagick for BMP, PNG at level 9 and GIF with Floyd-Steinberg,
// libjpeg-turbo's cjpeg and djpeg for JPEG at quality 80), and the memory
// limit: a copy of the picture's bytes into a buffer already mapped.

#include "BenchPhoto.h"
#include "Bitmap.h"
#include "Formats.h"
#include "SaveAssistant.h"
#include "photo.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int PhotoWidth = 4000;
constexpr int PhotoHeight = 3000;

// A landscape-like picture with smooth gradients and fine noise, and its
// PPM file for the outside tools.
struct TPhoto {
    TPhoto() : Picture(PhotoWidth, PhotoHeight, pf24bit)
    {
        InitPhotoTables();
        RegisterPictureFormats();
        char pattern[] = "/tmp/save_bench_XXXXXX";
        const char* dir = ::mkdtemp(pattern);
        Folder = dir ? dir : "/tmp/save_bench";
        PaintBenchPhoto(Picture);
        Ppm = Folder + "/photo.ppm";
        FILE* f = std::fopen(Ppm.c_str(), "wb");
        if (f) {
            std::fprintf(f, "P6\n%d %d\n255\n", PhotoWidth, PhotoHeight);
            std::vector<std::uint8_t> rgb(static_cast<std::size_t>(PhotoWidth) * 3);
            for (int y = 0; y < PhotoHeight; ++y) {
                const std::uint8_t* row = Picture.ScanLine(y);
                for (int x = 0; x < PhotoWidth; ++x) {
                    rgb[3 * x] = row[3 * x + 2];
                    rgb[3 * x + 1] = row[3 * x + 1];
                    rgb[3 * x + 2] = row[3 * x];
                }
                std::fwrite(rgb.data(), 1, rgb.size(), f);
            }
            std::fclose(f);
        }
    }
    ~TPhoto()
    {
        std::error_code ec;
        fs::remove_all(Folder, ec);
    }
    TBitmap Picture;
    std::string Folder;
    std::string Ppm;
};

TPhoto& Photo()
{
    static TPhoto photo;
    return photo;
}

void SetPixels(benchmark::State& state)
{
    state.counters["Mpixel/s"] = benchmark::Counter(static_cast<double>(PhotoWidth) * PhotoHeight / 1e6 *
                                                        static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}

// One tab's preview: 0 BMP, 1 GIF, 2 JPG, 3 PNG at the dialog's defaults.
void BM_Preview(benchmark::State& state)
{
    TPhoto& photo = Photo();
    TSaveSettings settings;
    settings.Tab = static_cast<int>(state.range(0));
    if (settings.Tab == stGIF && !TFsauveLogic::GifAvailable()) {
        state.SkipWithError("GIF writing is not built");
        return;
    }
    std::uint64_t size = 0;
    for (auto _ : state) {
        const TSavePreview preview = MakeSavePreview(photo.Picture, settings, photo.Folder);
        size = preview.Size;
        benchmark::DoNotOptimize(preview.Picture.get());
    }
    state.counters["file KB"] = static_cast<double>(size) / 1000;
    SetPixels(state);
}
BENCHMARK(BM_Preview)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The outside tools: write the file and decode it again.
void BM_OutsidePeer(benchmark::State& state)
{
    TPhoto& photo = Photo();
    const std::string in = "'" + photo.Ppm + "'";
    const std::string base = "'" + photo.Folder + "/peer";
    std::string command;
    switch (state.range(0)) {
    case stBMP:
        command = "/usr/bin/convert " + in + " BMP3:" + base + ".bmp' && /usr/bin/convert " + base + ".bmp' ppm:/dev/null";
        break;
    case stGIF:
        command = "/usr/bin/convert " + in + " -dither FloydSteinberg -colors 256 " + base +
                  ".gif' && /usr/bin/convert " + base + ".gif' ppm:/dev/null";
        break;
    case stJPG:
        command = "/usr/bin/cjpeg -quality 80 " + in + " > " + base + ".jpg' && /usr/bin/djpeg " + base +
                  ".jpg' > /dev/null";
        break;
    default:
        command = "/usr/bin/convert " + in + " -define png:compression-level=9 " + base +
                  ".png' && /usr/bin/convert " + base + ".png' ppm:/dev/null";
        break;
    }
    command += " 2>/dev/null";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("the outside tool failed or is missing");
            break;
        }
    }
    SetPixels(state);
}
BENCHMARK(BM_OutsidePeer)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The memory limit: the picture's bytes copied into a mapped buffer.
void BM_MemcpyLimit(benchmark::State& state)
{
    TPhoto& photo = Photo();
    const std::size_t rowBytes = static_cast<std::size_t>(PhotoWidth) * 3;
    std::vector<std::uint8_t> target(rowBytes * PhotoHeight, 1);
    for (auto _ : state) {
        for (int y = 0; y < PhotoHeight; ++y)
            std::memcpy(target.data() + rowBytes * static_cast<std::size_t>(y), photo.Picture.ScanLine(y), rowBytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    SetPixels(state);
}
BENCHMARK(BM_MemcpyLimit)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
