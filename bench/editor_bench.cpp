// The editor timed from the window's side, its frame driven headless:
// opening a 24-megapixel JPEG beside djpeg decoding the same file, and
// "Accentuer" beside Convolve3x3 on the same picture. Opening is also timed
// as a whole process: picdump (which opens a file as the editor does and
// writes its pixels as PPM) beside djpeg writing the same PPM, and beside
// pngtopnm for the same photo as a PNG written by ImageMagick (its default
// compression; plain and interlaced, and a 16-bit RGB photo), with the peak
// memory of each beside the memory limit of a PNG opening (the compressed
// data, one copy of the decoded picture and 16 MB). The PNG roads are timed
// beside each other in the same run: the one the codec chooses, the
// streamed reader, and the other roads picdump can be sent down. The
// resident memory a 3000 x 2000 16-bit PNG leaves after the editor opened
// it is given for the chosen and the in-place roads. And beside them, the
// speed limit: a copy of the picture's bytes into a buffer already mapped.
// The ratios are printed at the end.

#include "BenchPhoto.h"
#include "BenchRatios.h"
#include "EditorTest.h"
#include "Jpeg.h"
#include "PixelMemory.h"
#include "PngWholeInflate.h"
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

// The photo as a binary PPM, 8 bits a sample, or 16 with the low byte of
// each sample noise as a camera's raw data have; false when it could not be
// written.
bool WritePhotoPpm(const std::string& path, int width, int height, bool sixteen)
{
    TBitmap photo(width, height, pf24bit);
    PaintBenchPhoto(photo);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f)
        return false;
    std::fprintf(f, "P6\n%d %d\n%d\n", width, height, sixteen ? 65535 : 255);
    const std::size_t bytes = sixteen ? 2 : 1;
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * 3 * bytes);
    std::uint32_t seed = 2026;
    bool written = true;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = photo.ScanLine(y);
        for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x)
            for (std::size_t c = 0; c < 3; ++c) {
                std::uint8_t* sample = &out[(3 * x + c) * bytes];
                sample[0] = row[3 * x + 2 - c];
                if (sixteen) {
                    seed = seed * 1103515245u + 12345u;
                    sample[1] = static_cast<std::uint8_t>(seed >> 16);
                }
            }
        written = written && std::fwrite(out.data(), 1, out.size(), f) == out.size();
    }
    return std::fclose(f) == 0 && written;
}

// The same kind of photo as PNG files written by ImageMagick with its
// default compression: 8-bit RGB plain (about 26 MB) and interlaced, 16-bit
// RGB (about 130 MB), and a 16-bit RGB photo of 3000 x 2000, made once.
struct TPngFiles {
    TPngFiles()
    {
        const std::string folder = Photo().Folder;
        Plain = folder + "/photo.png";
        Interlaced = folder + "/photo-interlaced.png";
        Deep = folder + "/photo16.png";
        SmallDeep = folder + "/small16.png";
        const std::string ppm = folder + "/photo.ppm";
        auto convert = [&](const std::string& options, const std::string& out) {
            return std::system(("/usr/bin/convert '" + ppm + "' " + options + " '" + out + "'").c_str()) == 0;
        };
        if (!WritePhotoPpm(ppm, Width, Height, false) || !convert("", Plain) || !convert("-interlace PNG", Interlaced))
            Plain = Interlaced = "";
        if (!WritePhotoPpm(ppm, Width, Height, true) || !convert("", Deep))
            Deep = "";
        if (!WritePhotoPpm(ppm, 3000, 2000, true) || !convert("", SmallDeep))
            SmallDeep = "";
        std::remove(ppm.c_str());
    }
    std::string Plain, Interlaced, Deep, SmallDeep;
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

enum class TPngPhoto { Plain, Interlaced, Deep };

// picdump (down the road the codec chooses, or the one named) and netpbm's
// pngtopnm writing the PPM of a PNG photo; beside the peak memory, the
// limit of a PNG opening: the compressed file, one copy of the decoded
// picture and 16 MB.
void TimePngToPpm(benchmark::State& state, TPngPhoto photo, const char* road)
{
    const std::string in = photo == TPngPhoto::Plain        ? PngFiles().Plain
                           : photo == TPngPhoto::Interlaced ? PngFiles().Interlaced
                                                            : PngFiles().Deep;
    if (in.empty()) {
        state.SkipWithError("ImageMagick could not write the PNG photo");
        return;
    }
    const bool ours = road != nullptr;
    const std::string out = Photo().Folder + (ours ? "/picdump.ppm" : "/pngtopnm.ppm");
    if (!ours)
        TimeProcess(state, {"/bin/sh", "-c", "exec /usr/bin/pngtopnm '" + in + "' > '" + out + "'"}, out);
    else if (*road)
        TimeProcess(state, {CORVINEL_PICDUMP, "--png-road", road, in, out}, out);
    else
        TimeProcess(state, {CORVINEL_PICDUMP, in, out}, out);
    std::error_code ec;
    const double data = static_cast<double>(fs::file_size(in, ec)) / (1024 * 1024);
    state.counters["limit_MB"] = data + static_cast<double>(Width) * Height * 3 / (1024 * 1024) + 16;
}

void BM_PicdumpPng(benchmark::State& state) { TimePngToPpm(state, TPngPhoto::Plain, ""); }
void BM_PicdumpPngStreamed(benchmark::State& state) { TimePngToPpm(state, TPngPhoto::Plain, "streamed"); }
void BM_PicdumpPngOverlapped(benchmark::State& state) { TimePngToPpm(state, TPngPhoto::Plain, "overlapped"); }
void BM_PngtopnmPpm(benchmark::State& state) { TimePngToPpm(state, TPngPhoto::Plain, nullptr); }
void BM_PicdumpPng16(benchmark::State& state) { TimePngToPpm(state, TPngPhoto::Deep, ""); }
void BM_PicdumpPng16Streamed(benchmark::State& state) { TimePngToPpm(state, TPngPhoto::Deep, "streamed"); }
void BM_PicdumpPng16InPlace(benchmark::State& state) { TimePngToPpm(state, TPngPhoto::Deep, "in-place"); }
void BM_Pngtopnm16(benchmark::State& state) { TimePngToPpm(state, TPngPhoto::Deep, nullptr); }
void BM_PicdumpPngInterlaced(benchmark::State& state) { TimePngToPpm(state, TPngPhoto::Interlaced, ""); }
void BM_PicdumpPngInterlacedStreamed(benchmark::State& state)
{
    TimePngToPpm(state, TPngPhoto::Interlaced, "streamed");
}
void BM_PngtopnmInterlaced(benchmark::State& state) { TimePngToPpm(state, TPngPhoto::Interlaced, nullptr); }

// This process's resident memory, in MB.
double ResidentMB()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024 * 1024);
}

// The editor opening the 3000 x 2000 16-bit photo down one road: the time,
// and the resident memory the open document adds (pixel memory kept for
// reuse let go first), beside its 24-bit bitmap.
void OpenSmallDeep(benchmark::State& state, pngimpl::TImageDataRoad road)
{
    const std::string path = PngFiles().SmallDeep;
    if (path.empty()) {
        state.SkipWithError("ImageMagick could not write the PNG photo");
        return;
    }
    edtest::TTestFrame& t = Frame();
    pngimpl::SetImageDataRoad(road);
    double added = 0;
    for (auto _ : state) {
        state.PauseTiming();
        pixelmemory::Trim();
        const double before = ResidentMB();
        state.ResumeTiming();
        TDocument* document = t.Frame->OpenImage(path);
        benchmark::DoNotOptimize(document);
        state.PauseTiming();
        pixelmemory::Trim();
        added = ResidentMB() - before;
        CloseActive(t);
        state.ResumeTiming();
    }
    pngimpl::SetImageDataRoad(pngimpl::TImageDataRoad::Chosen);
    state.counters["resident_MB"] = added;
    state.counters["bitmap_MB"] = 3000.0 * 2000 * 3 / (1024 * 1024);
}

void BM_EditorOpenPng16Small(benchmark::State& state) { OpenSmallDeep(state, pngimpl::TImageDataRoad::Chosen); }
void BM_EditorOpenPng16SmallInPlace(benchmark::State& state)
{
    OpenSmallDeep(state, pngimpl::TImageDataRoad::InPlace);
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

BENCHMARK(BM_MemcpyMapped)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EditorOpenJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Djpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PicdumpJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_DjpegPpm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PicdumpPng)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PicdumpPngStreamed)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PicdumpPngOverlapped)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngtopnmPpm)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PicdumpPng16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PicdumpPng16Streamed)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PicdumpPng16InPlace)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Pngtopnm16)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PicdumpPngInterlaced)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PicdumpPngInterlacedStreamed)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_PngtopnmInterlaced)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EditorOpenPng16Small)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_EditorOpenPng16SmallInPlace)->Unit(benchmark::kMillisecond)->UseRealTime();
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
                                           {"BM_PicdumpPng", "BM_PicdumpPngStreamed", 1.0},
                                           {"BM_PicdumpPngOverlapped", "BM_PicdumpPngStreamed", 1.0},
                                           {"BM_PicdumpPng16", "BM_Pngtopnm16", 0.6},
                                           {"BM_PicdumpPng16", "BM_PicdumpPng16Streamed", 1.0},
                                           {"BM_PicdumpPng16InPlace", "BM_PicdumpPng16Streamed", 0},
                                           {"BM_PicdumpPngInterlaced", "BM_PngtopnmInterlaced", 0.6},
                                           {"BM_PicdumpPngInterlaced", "BM_PicdumpPngInterlacedStreamed", 1.0},
                                           {"BM_EditorAccentuer", "BM_Convolve3x3", 1.5}});
}
