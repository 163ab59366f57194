// Several photos converted at once give the same files, the same previews
// and the same progress, in the same order, as one photo at a time.

#include "Kavrel.h"
#include "KavrelTest.h"
#include "CameraPhoto.h"
#include "Parallel.h"
#include "Picture.h"
#include "PixelMemory.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using namespace kaveltest;
namespace fs = std::filesystem;

namespace {

struct BatchRun {
    TConversionResult Result;
    std::vector<std::string> Events; // previews and progress, in order
    std::vector<std::vector<std::uint8_t>> Copies;
};

BatchRun Convert(const std::string& folder, const std::vector<std::string>& files, unsigned threads, int cancelAfter = -1)
{
    parallel::TThreadCountScope scope(threads);
    fs::remove_all(folder + "/kavrel");
    TConversion job;
    job.Folder = folder;
    job.Files = files;
    job.Size = {smMaximum, 150};
    job.Sharpen = true;
    job.Quality = 85;
    BatchRun run;
    int done = 0;
    TConversionHooks hooks;
    hooks.Loaded = [&](const std::string& name, const TPicture& picture) {
        run.Events.push_back("preview " + name + " " + std::to_string(picture.Width()));
    };
    hooks.Progress = [&](int d, int total) {
        done = d;
        run.Events.push_back("progress " + std::to_string(d) + "/" + std::to_string(total));
    };
    hooks.Cancel = [&] { return done == cancelAfter; };
    run.Result = ConvertFiles(job, hooks);
    for (const std::string& name : files) {
        const std::string copy = folder + "/kavrel/" + name;
        run.Copies.push_back(fs::exists(copy) ? testutil::ReadFile(copy) : std::vector<std::uint8_t>{});
    }
    return run;
}

TEST(SeveralAtOnce, SameFilesPreviewsAndProgressAsOneAtATime)
{
    App();
    testutil::TempDir tmp;
    std::vector<std::string> files;
    for (int i = 0; i < 12; ++i) {
        const std::string name = "photo" + std::to_string(i) + ".jpg";
        ASSERT_TRUE(MakeJpeg(tmp.File(name), 120 + 37 * i, 300 - 11 * i, i % 2 ? "plasma:fractal" : "gradient:red-blue"));
        files.push_back(name);
    }
    testutil::WriteFile(tmp.File("abime.jpg"), {'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'});
    files.insert(files.begin() + 5, "abime.jpg");
    files.push_back("absent.jpg");
    // A camera's photo, whose copy carries its metadata, and a cut one.
    testutil::MakeCameraPhoto(tmp.File("IMG_0006.JPG"), 90, 60, 6);
    files.insert(files.begin() + 2, "IMG_0006.JPG");
    testutil::MakeJpegAndCutCopy(tmp.File("entiere.jpg"), tmp.File("coupee.jpg"), 5);
    files.insert(files.begin() + 8, "coupee.jpg");

    const BatchRun one = Convert(tmp.Path(), files, 1);
    EXPECT_EQ(one.Result.Converted, 14);
    EXPECT_EQ(one.Result.Failed, (std::vector<std::string>{"abime.jpg", "absent.jpg"}));
    EXPECT_EQ(one.Result.Incomplete, (std::vector<std::string>{"coupee.jpg"}));
    const std::string exif = testutil::Run(testutil::Tool("exiftool") + " -s3 -Orientation# " +
                                            testutil::Quote(tmp.File("kavrel/IMG_0006.JPG"))).Output;
    EXPECT_EQ(exif.substr(0, 1), "1"); // the copy is upright and says so
    for (unsigned threads : {2u, 4u, 8u}) {
        const BatchRun many = Convert(tmp.Path(), files, threads);
        EXPECT_EQ(many.Result.Converted, one.Result.Converted) << threads;
        EXPECT_EQ(many.Result.Failed, one.Result.Failed) << threads;
        EXPECT_EQ(many.Result.Incomplete, one.Result.Incomplete) << threads;
        EXPECT_EQ(many.Events, one.Events) << threads;
        ASSERT_EQ(many.Copies.size(), one.Copies.size());
        for (std::size_t i = 0; i < files.size(); ++i)
            EXPECT_TRUE(many.Copies[i] == one.Copies[i]) << files[i] << " with " << threads << " threads";
    }

    // A stop leaves the files after it unwritten, even those converted ahead.
    const BatchRun stoppedOne = Convert(tmp.Path(), files, 1, 3);
    const BatchRun stoppedMany = Convert(tmp.Path(), files, 8, 3);
    EXPECT_TRUE(stoppedMany.Result.Stopped);
    EXPECT_EQ(stoppedMany.Result.Converted, 3);
    EXPECT_EQ(stoppedMany.Events, stoppedOne.Events);
    for (std::size_t i = 0; i < files.size(); ++i)
        EXPECT_EQ(stoppedMany.Copies[i].empty(), i >= 3) << files[i];
}

TEST(SeveralAtOnce, PhotosLoadUnderTheCallersBudgetAndTheMemoryGoesBackAfter)
{
    App();
    testutil::TempDir tmp;
    std::vector<std::string> files;
    for (int i = 0; i < 4; ++i) {
        const std::string name = "grand" + std::to_string(i) + ".jpg";
        ASSERT_TRUE(MakeJpeg(tmp.File(name), 1200 + i, 900)); // 3.2 MB of pixels
        files.push_back(name);
    }
    for (unsigned threads : {1u, 4u}) {
        // Under a budget smaller than the photos, every one fails to load.
        {
            const TPixelBudgetScope small(1000 * 800);
            const BatchRun refused = Convert(tmp.Path(), files, threads);
            EXPECT_EQ(refused.Result.Converted, 0) << threads;
            EXPECT_EQ(refused.Result.Failed, files) << threads;
        }
        const BatchRun run = Convert(tmp.Path(), files, threads);
        EXPECT_EQ(run.Result.Converted, 4) << threads;
        EXPECT_EQ(pixelmemory::CachedBytes(), 0u) << threads;
    }
}

} // namespace
