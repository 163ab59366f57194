// Photos turned upright by their EXIF orientation and the metadata a JPEG
// save keeps, against ImageMagick (-auto-orient) and exiftool as outside
// writers and readers.

#include "Bitmap.h"
#include "Jpeg.h"
#include "PhotoMetadata.h"
#include "CameraPhoto.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

using namespace testutil;

namespace {

TEST(PhotoOrientation, EveryOrientationOpensAsImageMagickTurnsIt)
{
    TempDir dir;
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        const std::string path = dir.File("o" + std::to_string(orientation) + ".jpg");
        MakeCameraPhoto(path, 36, 20, orientation);
        ASSERT_EQ(ExifTag(path, "Orientation"), std::to_string(orientation));
        const RgbImage expected = AutoOriented(path);

        TJPEGImage jpeg;
        jpeg.LoadFromFile(path);
        EXPECT_EQ(jpeg.Orientation(), orientation);
        // The header alone gives the upright size, before any pixel.
        ASSERT_EQ(jpeg.Width(), expected.Width);
        ASSERT_EQ(jpeg.Height(), expected.Height);
        const RgbImage ours = FromBitmap(jpeg.Bitmap());
        ASSERT_EQ(ours.Width, expected.Width);
        ASSERT_EQ(ours.Height, expected.Height);
        // Both decode through libjpeg at its slow exact DCT.
        EXPECT_EQ(MaxDifference(ours, expected), 0);
    }
}

TEST(PhotoOrientation, TurnsEachPixelFormatByHandWorkedPositions)
{
    // A 3 x 2 picture a b c / d e f and its upright forms, by orientation.
    const char* const upright[9] = {nullptr,  "abc/def", "cba/fed", "fed/cba", "def/abc",
                                    "ad/be/cf", "da/eb/fc", "fc/eb/da", "cf/be/ad"};
    for (TPixelFormat format : {pf8bit, pf24bit, pf32bit}) {
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(std::to_string(orientation));
            TBitmap b(3, 2, format);
            const std::string letters = "abcdef";
            for (int i = 0; i < 6; ++i)
                b.SetRawPixel(i % 3, i / 3, static_cast<std::uint32_t>(letters[static_cast<std::size_t>(i)]));
            OrientBitmap(b, orientation);
            std::string got;
            for (int y = 0; y < b.Height(); ++y) {
                if (y > 0)
                    got += '/';
                for (int x = 0; x < b.Width(); ++x)
                    got += static_cast<char>(b.GetRawPixel(x, y));
            }
            EXPECT_EQ(got, upright[orientation]);
            EXPECT_EQ(b.PixelFormat(), format);
        }
    }
}

TEST(PhotoOrientation, BrokenOrMissingMetadataLeavesThePictureAsStored)
{
    TempDir dir;
    const std::string plain = dir.File("plain.jpg");
    ASSERT_EQ(testutil::Run(testutil::Tool("convert") + " -size 12x8 xc:teal " + Quote(plain)).ExitCode, 0);
    std::vector<std::uint8_t> data = ReadFile(plain);
    EXPECT_EQ(JpegOrientation(data.data(), data.size()), 1);
    EXPECT_EQ(TPhotoMetadata::FromJpeg(data.data(), data.size()), nullptr);

    // An EXIF segment whose TIFF header points far outside it.
    const std::vector<std::uint8_t> app1 = {0xFF, 0xE1, 0x00, 0x12, 'E', 'x', 'i', 'f', 0, 0, 'I', 'I',
                                            0x2A, 0x00, 0xF0, 0xFF, 0xFF, 0x7F, 0x01, 0x00};
    data.insert(data.begin() + 2, app1.begin(), app1.end());
    const std::string broken = dir.File("broken.jpg");
    WriteFile(broken, data);
    EXPECT_EQ(JpegOrientation(data.data(), data.size()), 1);
    TJPEGImage jpeg;
    jpeg.LoadFromFile(broken);
    ASSERT_EQ(jpeg.Width(), 12);
    ASSERT_EQ(jpeg.Height(), 8);
    EXPECT_EQ(jpeg.Bitmap().Width(), 12);

    EXPECT_EQ(JpegOrientation(nullptr, 0), 1);
    const std::uint8_t junk[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(JpegOrientation(junk, sizeof junk), 1);
    EXPECT_EQ(TPhotoMetadata::FromJpeg(junk, sizeof junk), nullptr);
}

TEST(PhotoMetadata, AJpegSaveKeepsTheCameraDataUprightWithoutTheOldThumbnail)
{
    TempDir dir;
    const std::string source = dir.File("source.jpg");
    MakeCameraPhoto(source, 60, 40, 6);
    ASSERT_FALSE(ExifTag(source, "ThumbnailLength").empty());

    TJPEGImage original;
    original.LoadFromFile(source);
    const auto metadata = TPhotoMetadata::Of(&original);
    ASSERT_NE(metadata, nullptr);

    // The edited picture: upright (40 x 60) and then cropped.
    TBitmap edited(30, 50, pf24bit);
    TJPEGImage jpeg;
    jpeg.Assign(edited);
    EXPECT_EQ(TPhotoMetadata::Of(&jpeg), nullptr); // made from a bitmap: nothing of its own
    const std::string saved = dir.File("saved.jpg");
    SaveJpegFile(jpeg, metadata.get(), saved);

    ExpectCameraDataKept(saved, 30, 50);
    EXPECT_EQ(ExifTag(saved, "ThumbnailImage"), "");

    // Still a sound JPEG file of the saved picture, upright for every reader.
    const RgbImage back = AutoOriented(saved);
    EXPECT_EQ(back.Width, 30);
    EXPECT_EQ(back.Height, 50);
    const CommandResult check = testutil::Run(testutil::Tool("exiv2") + " -pa " + Quote(saved));
    EXPECT_EQ(check.ExitCode, 0) << check.Output;
    EXPECT_NE(check.Output.find("Exif.Image.Make"), std::string::npos);
}

TEST(PhotoMetadata, ASaveWithoutMetadataWritesThePictureAlone)
{
    TempDir dir;
    TBitmap bitmap(20, 10, pf24bit);
    TJPEGImage jpeg;
    jpeg.Assign(bitmap);
    const std::string path = dir.File("plain.jpg");
    SaveJpegFile(jpeg, nullptr, path);
    EXPECT_EQ(ExifTag(path, "Make"), "");
    EXPECT_EQ(ExifTag(path, "ImageWidth"), "20");
    EXPECT_EQ(ReadFile(path), jpeg.Data());
}

TEST(PhotoMetadata, TheColourProfileTheCommentAndTheXmpSizesTravelToo)
{
    TempDir dir;
    const std::string source = dir.File("profile.jpg");
    // PIL writes the sRGB profile of Little CMS; exiftool adds the comment
    // and an XMP copy of the orientation and the sizes.
    CommandResult r = testutil::Run(testutil::PythonWithPil() + " -c \"from PIL import Image, ImageCms; "
                                    "p = ImageCms.ImageCmsProfile(ImageCms.createProfile('sRGB')).tobytes(); "
                                    "Image.new('RGB', (20, 10), (200, 30, 40)).save('" + source +
                                    "', icc_profile=p)\"");
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    r = testutil::Run(testutil::Tool("exiftool") + " -q -overwrite_original -n '-Comment=Tirage 2024' -XMP-tiff:Orientation=8 "
                      "-XMP-exif:ExifImageWidth=20 -XMP-exif:ExifImageHeight=10 " +
                      Quote(source));
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    const std::vector<std::uint8_t> bytes = ReadFile(source);
    const auto metadata = TPhotoMetadata::FromJpeg(bytes.data(), bytes.size());
    ASSERT_NE(metadata, nullptr);

    TJPEGImage jpeg;
    jpeg.Assign(TBitmap(7, 5, pf24bit));
    const std::string saved = dir.File("saved.jpg");
    SaveJpegFile(jpeg, metadata.get(), saved);
    EXPECT_EQ(ExifTag(saved, "ProfileDescription"), "sRGB built-in");
    EXPECT_EQ(ExifTag(saved, "Comment"), "Tirage 2024");
    EXPECT_EQ(ExifTag(saved, "XMP-tiff:Orientation"), "1");
    EXPECT_EQ(ExifTag(saved, "XMP-exif:ExifImageWidth"), "7");
    EXPECT_EQ(ExifTag(saved, "XMP-exif:ExifImageHeight"), "5");
}

} // namespace
