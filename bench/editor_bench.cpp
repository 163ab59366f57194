// The editor timed from the window's side, its frame driven headless:
// opening a 24-megapixel JPEG beside djpeg decoding the same file, and
// "Accentuer" beside Convolve3x3 on the same picture. The ratios are printed
// at the end.

#include "BenchRatios.h"
#include "EditorTest.h"
#include "Jpeg.h"
#include "photo.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int Width = 6000;
constexpr int Height = 4000;

// A camera-like 24-megapixel JPEG at quality 92, made once.
struct TPhotoFile {
    TPhotoFile()
    {
        char pattern[] = "/tmp/editor_bench_XXXXXX";
        const char* dir = ::mkdtemp(pattern);
        Folder = dir ? dir : "/tmp";
        Path = Folder + "/photo.jpg";
        TBitmap photo(Width, Height, pf24bit);
        std::uint32_t seed = 99;
        for (int y = 0; y < Height; ++y) {
            std::uint8_t* row = photo.ScanLine(y);
            for (int x = 0; x < Width; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int noise = static_cast<int>(seed >> 28) - 8;
                row[3 * x] = static_cast<std::uint8_t>((x / 30 + noise) & 0xFF);
                row[3 * x + 1] = static_cast<std::uint8_t>((y / 20 + (x ^ y) % 50 + noise) & 0xFF);
                row[3 * x + 2] = static_cast<std::uint8_t>((150 + y / 40 + noise) & 0xFF);
            }
        }
        TJPEGImage jpeg;
        jpeg.Assign(photo);
        jpeg.SetCompressionQuality(92);
        jpeg.SaveToFile(Path);
    }
    ~TPhotoFile()
    {
        std::error_code ec;
        fs::remove_all(Folder, ec);
    }
    std::string Folder, Path;
};

TPhotoFile& Photo()
{
    static TPhotoFile file;
    return file;
}

edtest::TTestFrame& Frame()
{
    static edtest::TTestFrame frame;
    return frame;
}

// Closes the active window and lets its document go, as a real window does
// (the test windows keep closed children for inspection).
void CloseActive(edtest::TTestFrame& t)
{
    t.Frame->FileCloseItemClick();
    t.Windows.Closed.clear();
}

void BM_EditorOpenJpeg(benchmark::State& state)
{
    const std::string path = Photo().Path;
    edtest::TTestFrame& t = Frame();
    for (auto _ : state) {
        TDocument* document = t.Frame->OpenImage(path);
        benchmark::DoNotOptimize(document);
        state.PauseTiming();
        CloseActive(t);
        state.ResumeTiming();
    }
}

// The reference: libjpeg-turbo's own decoder, writing the pixels nowhere.
void BM_Djpeg(benchmark::State& state)
{
    const std::string command = "/usr/bin/djpeg -outfile /dev/null '" + Photo().Path + "'";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("djpeg failed");
}

void BM_EditorAccentuer(benchmark::State& state)
{
    edtest::TTestFrame& t = Frame();
    TDocument* document = t.Frame->OpenImage(Photo().Path);
    if (!document) {
        state.SkipWithError("the photo did not open");
        return;
    }
    for (auto _ : state) {
        t.Frame->baccentuerClick();
        state.PauseTiming();
        t.Frame->bannulerClick(); // the undo stack stays short
        state.ResumeTiming();
    }
    CloseActive(t);
}

// The reference: the filter alone on the same picture.
void BM_Convolve3x3(benchmark::State& state)
{
    edtest::TTestFrame& t = Frame();
    TDocument* document = t.Frame->OpenImage(Photo().Path);
    if (!document) {
        state.SkipWithError("the photo did not open");
        return;
    }
    TBitmap work;
    for (auto _ : state) {
        state.PauseTiming();
        work.Assign(document->Picture());
        state.ResumeTiming();
        Convolve3x3(work, SharpenKernel);
        benchmark::DoNotOptimize(work.Bits());
    }
    CloseActive(t);
}

} // namespace

BENCHMARK(BM_EditorOpenJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Djpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EditorAccentuer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Convolve3x3)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    edtest::InitOnce();
    return benchratios::RunAndPrintRatios(argc, argv,
                                          {{"BM_EditorOpenJpeg", "BM_Djpeg", 1.5},
                                           {"BM_EditorAccentuer", "BM_Convolve3x3", 1.5}});
}
