// kavrel's conversion of 20 photos of 12 megapixels to 1024 pixels on the
// long side, sharpened, quality 85, on one thread and on every core, beside
// ImageMagick's mogrify doing the same with all cores (its default), with
// kavrel's own sharpening kernel. Both are
// timed on the wall clock; the "bytes" counters give the sizes of the copies
// written, and the ratios are printed at the end.

#include "BenchPhoto.h"
#include "BenchRatios.h"
#include "Parallel.h"
#include "Bitmap.h"
#include "Formats.h"
#include "Jpeg.h"
#include "Kavrel.h"
#include "photo.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int PhotoCount = 20;
constexpr int PhotoWidth = 4000;
constexpr int PhotoHeight = 3000;

// The folder of test photos, made once: a landscape-like picture with
// smooth gradients and fine texture, as a camera's JPEG at quality 92.
class TPhotoFolder {
public:
    TPhotoFolder()
    {
        InitPhotoTables();
        RegisterPictureFormats();
        char pattern[] = "/tmp/kavrel_bench_XXXXXX";
        const char* dir = ::mkdtemp(pattern);
        Path = dir ? dir : "/tmp/kavrel_bench";
        TBitmap photo(PhotoWidth, PhotoHeight, pf24bit);
        PaintBenchPhoto(photo);
        TJPEGImage jpeg;
        jpeg.Assign(photo);
        jpeg.SetCompressionQuality(92);
        const std::string first = Name(0);
        jpeg.SaveToFile(first);
        for (int i = 1; i < PhotoCount; ++i)
            fs::copy_file(first, Name(i), fs::copy_options::overwrite_existing);
    }
    ~TPhotoFolder()
    {
        std::error_code ec;
        fs::remove_all(Path, ec);
    }
    std::string Name(int i) const { return Path + "/IMG_" + std::to_string(1000 + i) + ".jpg"; }

    std::string Path;
};

TPhotoFolder& Photos()
{
    static TPhotoFolder folder;
    return folder;
}

std::int64_t FolderBytes(const std::string& folder)
{
    std::int64_t total = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.is_regular_file())
            total += static_cast<std::int64_t>(entry.file_size());
    return total;
}

// Arg 1: one thread; arg 0: every core.
void BM_KavrelConversion(benchmark::State& state)
{
    parallel::TThreadCountScope scope(static_cast<unsigned>(state.range(0)));
    TPhotoFolder& photos = Photos();
    TConversion job;
    job.Folder = photos.Path;
    for (int i = 0; i < PhotoCount; ++i)
        job.Files.push_back(fs::path(photos.Name(i)).filename().string());
    job.Size = {smMaximum, 1024};
    job.Sharpen = true;
    job.Quality = 85;
    for (auto _ : state) {
        const TConversionResult result = ConvertFiles(job);
        if (result.Converted != PhotoCount)
            state.SkipWithError("kavrel failed to convert a photo");
        benchmark::DoNotOptimize(result.Converted);
    }
    state.counters["photos"] = PhotoCount;
    state.counters["bytes"] = static_cast<double>(FolderBytes(OutputFolder(photos.Path)));
}

// The reference: ImageMagick with all cores, writing into another folder.
void BM_MogrifyReference(benchmark::State& state)
{
    TPhotoFolder& photos = Photos();
    if (!fs::exists("/usr/bin/mogrify")) {
        state.SkipWithError("mogrify is missing");
        return;
    }
    const std::string out = photos.Path + "/mogrify";
    fs::create_directories(out);
    const std::string command = "/usr/bin/mogrify -path '" + out +
                                "' -resize 1024x1024 -convolve '-4,0,-4,0,40,0,-4,0,-4' -quality 85 '" + photos.Path + "'/IMG_*.jpg";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("mogrify failed");
    }
    state.counters["photos"] = PhotoCount;
    state.counters["bytes"] = static_cast<double>(FolderBytes(out));
}

} // namespace

BENCHMARK(BM_KavrelConversion)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2)->ArgName("threads")->Arg(1)->Arg(0);
BENCHMARK(BM_MogrifyReference)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

int main(int argc, char** argv)
{
    return benchratios::RunAndPrintRatios(argc, argv,
                                          {
                                              {"BM_KavrelConversion/threads:0", "BM_MogrifyReference", 0.5},
                                              {"BM_KavrelConversion/threads:1", "BM_MogrifyReference", 0},
                                          });
}
