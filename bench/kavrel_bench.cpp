// kavrel's conversion of 20 photos of 12 megapixels to 1024 pixels on the
// long side, sharpened, quality 85, beside ImageMagick's mogrify doing the
// same on one thread. Both are timed on the wall clock.

#include "BenchPhoto.h"
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

void BM_KavrelConversion(benchmark::State& state)
{
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
}

// The reference: ImageMagick on one thread, writing into another folder.
void BM_MogrifyReference(benchmark::State& state)
{
    TPhotoFolder& photos = Photos();
    if (std::system("command -v mogrify >/dev/null 2>&1") != 0) {
        state.SkipWithError("mogrify is missing");
        return;
    }
    const std::string out = photos.Path + "/mogrify";
    fs::create_directories(out);
    const std::string command = "mogrify -limit thread 1 -path '" + out +
                                "' -resize 1024x1024 -sharpen 0x1 -quality 85 '" + photos.Path + "'/IMG_*.jpg";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0)
            state.SkipWithError("mogrify failed");
    }
    state.counters["photos"] = PhotoCount;
}

} // namespace

BENCHMARK(BM_KavrelConversion)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
BENCHMARK(BM_MogrifyReference)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

BENCHMARK_MAIN();
