// The conversion driver on temporary folders, checked with ImageMagick.

#include "Kavrel.h"
#include "KavrelTest.h"
#include "Picture.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace kaveltest;
namespace fs = std::filesystem;

namespace {

class ConversionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
    }
    testutil::TempDir Tmp;
};


} // namespace

TEST_F(ConversionTest, WritesResizedCopiesUnderTheSameNames)
{
    ASSERT_TRUE(MakeJpeg(Tmp.File("paysage.jpg"), 400, 300));
    ASSERT_TRUE(MakeJpeg(Tmp.File("IMG_0001.JPG"), 300, 400));
    ASSERT_TRUE(MakeJpeg(Tmp.File("carre.jpg"), 250, 250));
    testutil::WriteFile(Tmp.File("abime.jpg"), {'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'});
    testutil::WriteFile(Tmp.File("vide.jpg"), {});

    TConversion job;
    job.Folder = Tmp.Path();
    job.Files = {"IMG_0001.JPG", "abime.jpg", "carre.jpg", "paysage.jpg", "vide.jpg"};
    job.Size = {smMaximum, 200};
    job.Sharpen = true;
    job.Quality = 70;
    std::vector<std::pair<int, int>> progress;
    std::vector<std::string> previews;
    TConversionHooks hooks;
    hooks.Progress = [&](int done, int total) { progress.emplace_back(done, total); };
    hooks.Loaded = [&](const std::string& name, const TPicture& picture) {
        previews.push_back(name);
        EXPECT_GT(picture.Width(), 0);
    };
    const TConversionResult result = ConvertFiles(job, hooks);

    EXPECT_EQ(result.Converted, 3);
    EXPECT_EQ(result.Failed, (std::vector<std::string>{"abime.jpg", "vide.jpg"}));
    // The bar advances for every file, failed or not.
    ASSERT_EQ(progress.size(), 5u);
    EXPECT_EQ(progress.back(), std::make_pair(5, 5));
    EXPECT_EQ(previews, (std::vector<std::string>{"IMG_0001.JPG", "carre.jpg", "paysage.jpg"}));

    ASSERT_TRUE(fs::is_directory(Tmp.File("kavrel")));
    const TJpegInfo a = Identify(Tmp.File("kavrel/IMG_0001.JPG"));
    EXPECT_EQ(a.Width, 150);
    EXPECT_EQ(a.Height, 200);
    EXPECT_EQ(a.Quality, 70);
    const TJpegInfo b = Identify(Tmp.File("kavrel/paysage.jpg"));
    EXPECT_EQ(b.Width, 200);
    EXPECT_EQ(b.Height, 150);
    const TJpegInfo c = Identify(Tmp.File("kavrel/carre.jpg"));
    EXPECT_EQ(c.Width, 200);
    EXPECT_EQ(c.Height, 200);
    EXPECT_FALSE(fs::exists(Tmp.File("kavrel/abime.jpg")));
    // Nothing but the copies is left in the output folder.
    int files = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(Tmp.File("kavrel")))
        ++files;
    EXPECT_EQ(files, 3);
}

TEST_F(ConversionTest, ASmallFileDescribingAHugePictureFailsWithoutStallingTheBatch)
{
    ASSERT_TRUE(MakeJpeg(Tmp.File("photo.jpg"), 40, 30));
    testutil::WriteFile(Tmp.File("huge.bmp"), testutil::TinyRleBmp(12000, 12000));
    TConversion job;
    job.Folder = Tmp.Path();
    job.Files = {"huge.bmp", "photo.jpg"};
    job.Size = {smMaximum, 20};
    job.Quality = 70;
    const std::size_t budget = PixelBudget();
    const TConversionResult result = ConvertFiles(job, {});
    EXPECT_EQ(result.Converted, 1);
    EXPECT_EQ(result.Failed, (std::vector<std::string>{"huge.bmp"}));
    EXPECT_EQ(PixelBudget(), budget);
}

TEST_F(ConversionTest, OriginalSizeQualityAndSharpening)
{
    // A grey square on white: sharpening shows along its edges.
    ASSERT_TRUE(MakeJpeg(Tmp.File("a.jpg"), 120, 80, "xc:white -fill gray50 -draw 'rectangle 30,20 90,60'"));
    TConversion job;
    job.Folder = Tmp.Path() + "/";
    job.Files = {"a.jpg"};
    job.Size = {smOriginal, 0};
    job.Quality = 100;
    job.Sharpen = false;
    ASSERT_EQ(ConvertFiles(job).Converted, 1);
    const TJpegInfo plain = Identify(Tmp.File("kavrel/a.jpg"));
    EXPECT_EQ(plain.Width, 120);
    EXPECT_EQ(plain.Height, 80);
    EXPECT_EQ(plain.Quality, 100);
    const testutil::DumpResult source = testutil::PicDump(Tmp.File("a.jpg"));
    const testutil::DumpResult unsharpened = testutil::PicDump(Tmp.File("kavrel/a.jpg"));
    ASSERT_TRUE(source.Ok && unsharpened.Ok);
    EXPECT_LE(testutil::MaxDifference(source.Image, unsharpened.Image), 6);

    // Sharpened, the copy differs clearly from the source.
    job.Sharpen = true;
    ASSERT_EQ(ConvertFiles(job).Converted, 1);
    const testutil::DumpResult sharpened = testutil::PicDump(Tmp.File("kavrel/a.jpg"));
    ASSERT_TRUE(sharpened.Ok);
    EXPECT_GT(testutil::MaxDifference(source.Image, sharpened.Image), 60);
    // Inside the flat parts nothing changes.
    EXPECT_LE(std::abs(int(sharpened.Image.At(60, 40)[0]) - int(source.Image.At(60, 40)[0])), 3);
    EXPECT_LE(std::abs(int(sharpened.Image.At(5, 5)[1]) - int(source.Image.At(5, 5)[1])), 3);
}

TEST_F(ConversionTest, AFailureNeverDestroysThePreviousCopy)
{
    ASSERT_TRUE(MakeJpeg(Tmp.File("a.jpg"), 64, 48));
    ASSERT_TRUE(MakeJpeg(Tmp.File("b.jpg"), 64, 48));
    TConversion job;
    job.Folder = Tmp.Path();
    job.Files = {"a.jpg", "b.jpg"};
    job.Size = {smWidth, 32};
    ASSERT_EQ(ConvertFiles(job).Converted, 2);
    const std::vector<std::uint8_t> previous = testutil::ReadFile(Tmp.File("kavrel/a.jpg"));

    // The source is damaged now, and b's copy cannot be replaced: the old
    // copies stay as they were and both failures are counted.
    testutil::WriteFile(Tmp.File("a.jpg"), {0xFF, 0xD8, 0xFF});
    fs::remove(Tmp.File("kavrel/b.jpg"));
    fs::create_directory(Tmp.File("kavrel/b.jpg"));
    const TConversionResult result = ConvertFiles(job);
    EXPECT_EQ(result.Converted, 0);
    EXPECT_EQ(result.Failed.size(), 2u);
    EXPECT_EQ(testutil::ReadFile(Tmp.File("kavrel/a.jpg")), previous);
    EXPECT_TRUE(fs::is_directory(Tmp.File("kavrel/b.jpg")));
    // No temporary file is left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(Tmp.File("kavrel")))
        ++entries;
    EXPECT_EQ(entries, 2);
}

TEST_F(ConversionTest, OutputFolderThatCannotBeMadeFailsEveryFile)
{
    ASSERT_TRUE(MakeJpeg(Tmp.File("a.jpg"), 32, 32));
    testutil::WriteFile(Tmp.File("kavrel"), {'x'}); // a file where the folder goes
    TConversion job;
    job.Folder = Tmp.Path();
    job.Files = {"a.jpg"};
    const TConversionResult result = ConvertFiles(job);
    EXPECT_EQ(result.Converted, 0);
    EXPECT_EQ(result.Failed.size(), 1u);
}

TEST_F(ConversionTest, CancelStopsBeforeTheNextFile)
{
    for (const char* name : {"1.jpg", "2.jpg", "3.jpg"})
        ASSERT_TRUE(MakeJpeg(Tmp.File(name), 32, 32));
    TConversion job;
    job.Folder = Tmp.Path();
    job.Files = {"1.jpg", "2.jpg", "3.jpg"};
    int done = 0;
    TConversionHooks hooks;
    hooks.Progress = [&](int d, int) { done = d; };
    hooks.Cancel = [&] { return done == 1; };
    const TConversionResult result = ConvertFiles(job, hooks);
    EXPECT_TRUE(result.Stopped);
    EXPECT_EQ(result.Converted, 1);
    EXPECT_FALSE(fs::exists(Tmp.File("kavrel/2.jpg")));
}

TEST_F(ConversionTest, ATruncatedPhotoIsConvertedWithWhatItHoldsAndReportedOnce)
{
    const std::vector<std::uint8_t> bytes =
        testutil::MakeJpegAndCutCopy(Tmp.File("entiere.jpg"), Tmp.File("coupee1.jpg"), 5);
    testutil::WriteFile(Tmp.File("coupee2.jpg"), bytes);
    testutil::WriteFile(Tmp.File("vide.jpg"), {});

    TConversion job;
    job.Folder = Tmp.Path();
    job.Files = {"coupee1.jpg", "coupee2.jpg", "entiere.jpg", "vide.jpg"};
    job.Size = {smWidth, 160};
    const TConversionResult result = ConvertFiles(job);
    EXPECT_EQ(result.Converted, 3);
    EXPECT_EQ(result.Failed, (std::vector<std::string>{"vide.jpg"}));
    EXPECT_EQ(result.Incomplete, (std::vector<std::string>{"coupee1.jpg", "coupee2.jpg"}));
    // The copies exist, at the size of the whole picture.
    const TJpegInfo copy = Identify(Tmp.File("kavrel/coupee1.jpg"));
    EXPECT_EQ(copy.Width, 160);
    EXPECT_EQ(copy.Height, 120);

    // One message at the end says it all.
    EXPECT_EQ(RunReportText(result), "1 photo n'a pas pu être convertie.\n\n"
                                     "Ces photos sont incomplètes, leurs copies ne montrent que la partie lue :\n"
                                     "coupee1.jpg\ncoupee2.jpg");
    TConversionResult one;
    one.Incomplete = {"a.jpg"};
    EXPECT_EQ(RunReportText(one), "La photo a.jpg est incomplète : sa copie ne montre que la partie lue.");
    EXPECT_EQ(RunReportText(TConversionResult{}), "");
}
