// The editor timed from the window's side, its frame driven headless:
// opening a 24-megapixel JPEG beside djpeg decoding the same file, and
// "Accentuer" beside Convolve3x3 on the same picture. Opening is also timed
// as a whole process: picdump (which opens a file as the editor does and
// writes its pixels as PPM) beside djpeg writing the same PPM, and beside
// pngtopnm for the same photo as a PNG written by ImageMagick (its default
// compression; plain and interlaced), with the peak memory of each; and
// beside them, the memory limit: a copy of the picture's bytes into a buffer
// already mapped. The ratios are printed at the end.

#include "BenchPhoto.h"
#include "BenchRatios.h"
#include "EditorTest.h"
#include "Jpeg.h"
#include "photo.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

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

// The same kind of photo as PNG files written by ImageMagick with its
// default compression, plain (about 26 MB) and interlaced, made once.
struct TPngFiles {
    TPngFiles()
    {
        const std::string ppm = Photo().Folder + "/photo.ppm";
        TBitmap photo(Width, Height, pf24bit);
        PaintBenchPhoto(photo);
        if (FILE* f = std::fopen(ppm.c_str(), "wb")) {
            std::fprintf(f, "P6\n%d %d\n255\n", Width, Height);
            std::vector<std::uint8_t> rgb(std::size_t{Width} * 3);
            for (int y = 0; y < Height; ++y) {
                const std::uint8_t* row = photo.ScanLine(y);
                for (std::size_t x = 0; x < rgb.size(); x += 3) {
                    rgb[x] = row[x + 2];
                    rgb[x + 1] = row[x + 1];
                    rgb[x + 2] = row[x];
                }
                std::fwrite(rgb.data(), 1, rgb.size(), f);
            }
            std::fclose(f);
        }
        Plain = Photo().Folder + "/photo.png";
        Interlaced = Photo().Folder + "/photo-interlaced.png";
        if (std::system(("/usr/bin/convert '" + ppm + "' '" + Plain + "'").c_str()) != 0 ||
            std::system(("/usr/bin/convert '" + ppm + "' -interlace PNG '" + Interlaced + "'").c_str()) != 0)
            Plain = Interlaced = "";
        std::remove(ppm.c_str());
    }
    std::string Plain, Interlaced;
};

TPngFiles& PngFiles()
{
    static TPngFiles files;
    return files;
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

// The memory limit: the picture's bytes copied into a buffer whose pages
// are already there.
void BM_MemcpyMapped(benchmark::State& state)
{
    const std::size_t bytes = std::size_t{Width} * Height * 3;
    std::vector<std::uint8_t> source(bytes, 7);
    std::vector<std::uint8_t> dest(bytes, 1);
    for (auto _ : state) {
        std::memcpy(dest.data(), source.data(), bytes);
        benchmark::DoNotOptimize(dest.data());
        benchmark::ClobberMemory();
    }
}

// Runs a program to its end; false when it could not run or failed.
bool RunProgram(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The peak resident memory of one run of a program, in MB, as
// /usr/bin/time reports it (a child of this large process would count this
// process's memory as its own); negative when it failed.
double PeakMemoryMB(const std::vector<std::string>& args, const std::string& folder)
{
    const std::string report = folder + "/peak.txt";
    std::vector<std::string> timed = {"/usr/bin/time", "-f", "%M", "-o", report};
    timed.insert(timed.end(), args.begin(), args.end());
    if (!RunProgram(timed))
        return -1;
    FILE* f = std::fopen(report.c_str(), "r");
    long kb = -1;
    if (f) {
        if (std::fscanf(f, "%ld", &kb) != 1)
            kb = -1;
        std::fclose(f);
    }
    std::remove(report.c_str());
    return kb < 0 ? -1 : static_cast<double>(kb) / 1024.0;
}

// One program writing the photo's pixels as a PPM file, as a whole
// process; the file is removed between runs, outside the timed part. The
// peak memory of one more run is given beside the time.
void TimeProcess(benchmark::State& state, const std::vector<std::string>& args, const std::string& output)
{
    for (auto _ : state) {
        if (!RunProgram(args)) {
            state.SkipWithError((args[0] + " failed").c_str());
            return;
        }
        state.PauseTiming();
        std::remove(output.c_str());
        state.ResumeTiming();
    }
    state.counters["peak_MB"] = PeakMemoryMB(args, Photo().Folder);
    std::remove(output.c_str());
}

void BM_PicdumpJpeg(benchmark::State& state)
{
    const std::string out = Photo().Folder + "/picdump.ppm";
    TimeProcess(state, {CORVINEL_PICDUMP, Photo().Path, out}, out);
}

// The peer: libjpeg-turbo's own decoder writing the same PPM.
void BM_DjpegPpm(benchmark::State& state)
{
    const std::string out = Photo().Folder + "/djpeg.ppm";
    TimeProcess(state, {"/usr/bin/djpeg", "-ppm", "-outfile", out, Photo().Path}, out);
}

// picdump and netpbm's pngtopnm writing the PPM of the PNG photo.
void TimePngToPpm(benchmark::State& state, bool ours, bool interlaced)
{
    const std::string in = interlaced ? PngFiles().Interlaced : PngFiles().Plain;
    if (in.empty()) {
        state.SkipWithError("ImageMagick could not write the PNG photo");
        return;
    }
    const std::string out = Photo().Folder + (ours ? "/picdump.ppm" : "/pngtopnm.ppm");
    if (ours)
        TimeProcess(state, {CORVINEL_PICDUMP, in, out}, out);
    else
        TimeProcess(state, {"/bin/sh", "-c", "exec /usr/bin/pngtopnm '" + in + "' > '" + out + "'"}, out);
}

void BM_PicdumpPng(benchmark::State& state) { TimePngToPpm(state, true, false); }
void BM_PngtopnmPpm(benchmark::State& state) { TimePngToPpm(state, false, false); }
void BM_PicdumpPngInterlaced(benchmark::State& state) { TimePngToPpm(state, true, true); }
void BM_PngtopnmInterlaced(benchmark::State& state) { TimePngToPpm(state, false, true); }

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

BENCHMARK(BM_MemcpyMapped)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EditorOpenJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Djpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PicdumpJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DjpegPpm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PicdumpPng)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngtopnmPpm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PicdumpPngInterlaced)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngtopnmInterlaced)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EditorAccentuer)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Convolve3x3)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    edtest::InitOnce();
    return benchratios::RunAndPrintRatios(argc, argv,
                                          {{"BM_EditorOpenJpeg", "BM_Djpeg", 1.25},
                                           {"BM_EditorOpenJpeg", "BM_MemcpyMapped", 0},
                                           {"BM_PicdumpJpeg", "BM_DjpegPpm", 1.25},
                                           {"BM_PicdumpJpeg", "BM_MemcpyMapped", 0},
                                           {"BM_PicdumpPng", "BM_PngtopnmPpm", 0.6},
                                           {"BM_PicdumpPngInterlaced", "BM_PngtopnmInterlaced", 0.6},
                                           {"BM_EditorAccentuer", "BM_Convolve3x3", 1.5}});
}
