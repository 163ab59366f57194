// kavrel's copies of camera photos: sized from the upright picture and
// carrying the original's metadata, read back with exiftool and ImageMagick.

#include "Kavrel.h"
#include "KavrelTest.h"
#include "CameraPhoto.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

using namespace testutil;

namespace {

TEST(PhotoCopyTest, ATurnedPhotoIsSizedUprightAndKeepsItsMetadata)
{
    kaveltest::App();
    TempDir dir;
    // Stored 60 x 40 and to be turned a quarter clockwise: 40 x 60 upright.
    MakeCameraPhoto(dir.File("IMG_0006.JPG"), 60, 40, 6);

    TConversion job;
    job.Folder = dir.Path();
    job.Files = {"IMG_0006.JPG"};
    job.Size = {smWidth, 20};
    job.Sharpen = false;
    const TConversionResult result = ConvertFiles(job);
    ASSERT_EQ(result.Converted, 1);

    const std::string copy = dir.File("kavrel/IMG_0006.JPG");
    // By width 20 the upright picture gives 20 x Round(20 * 60 / 40).
    ExpectCameraDataKept(copy, 20, 30);

    // The green corner stored top left is top right once turned clockwise.
    const RgbImage pixels = AutoOriented(copy);
    ASSERT_EQ(pixels.Width, 20);
    ASSERT_EQ(pixels.Height, 30);
    const std::uint8_t* right = pixels.At(18, 2);
    const std::uint8_t* left = pixels.At(1, 2);
    EXPECT_GT(right[1], 200);
    EXPECT_LT(right[0], 60);
    EXPECT_LT(left[1], 60);
}

TEST(PhotoCopyTest, APhotoWithoutMetadataGivesAPlainCopy)
{
    kaveltest::App();
    TempDir dir;
    ASSERT_EQ(testutil::Run(testutil::Tool("convert") + " -size 30x20 xc:navy " + Quote(dir.File("plain.jpg"))).ExitCode, 0);
    TConversion job;
    job.Folder = dir.Path();
    job.Files = {"plain.jpg"};
    ASSERT_EQ(ConvertFiles(job).Converted, 1);
    const std::string copy = dir.File("kavrel/plain.jpg");
    EXPECT_EQ(ExifTag(copy, "File:ImageWidth"), "30");
    EXPECT_EQ(ExifTag(copy, "Make"), "");
    EXPECT_EQ(ExifTag(copy, "Orientation"), "");
}

} // namespace
