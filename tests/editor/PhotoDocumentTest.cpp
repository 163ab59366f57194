// Camera photos in the editor: they open upright, and a JPEG save keeps what
// the camera recorded, read back with exiftool.

#include "EditorTest.h"
#include "CameraPhoto.h"
#include "TestUtil.h"

#include "PhotoMetadata.h"
#include "Picture.h"

#include <gtest/gtest.h>

using namespace edtest;
using namespace testutil;

namespace {

class PhotoDocumentTest : public ::testing::Test {
protected:
    void SetUp() override { InitOnce(); }
    TTestFrame T;
    TEditorFrame& F = *T.Frame;
    TempDir Dir;
};

TEST_F(PhotoDocumentTest, ATurnedPhotoOpensUprightAndItsSaveKeepsTheMetadata)
{
    const std::string path = Dir.File("IMG_0008.JPG");
    MakeCameraPhoto(path, 64, 48, 8);
    const RgbImage upright = AutoOriented(path);

    TDocument* d = F.OpenImage(path);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->Picture().Width(), upright.Width);
    ASSERT_EQ(d->Picture().Height(), upright.Height);
    EXPECT_EQ(MaxDifference(FromBitmap(d->Picture()), upright), 0);
    EXPECT_EQ(F.States.Panel(1), "48 x 64");
    ASSERT_NE(d->Metadata, nullptr);

    // A quarter turn makes it 64 x 48; the save records that size.
    F.brotateDClick();
    F.benrClick();
    EXPECT_TRUE(CloseConfirmed);
    ExpectCameraDataKept(path, 64, 48);

    // Read again it stands as it was saved.
    TPicture again;
    again.LoadFromFile(path);
    EXPECT_EQ(again.Width(), 64);
    EXPECT_EQ(again.Height(), 48);
}

TEST_F(PhotoDocumentTest, PicturesWithoutAJpegSourceSaveNoMetadata)
{
    F.NewImageWidth = F.NewImageHeight = 8;
    TDocument* blank = F.OpenImage("Sans nom");
    ASSERT_NE(blank, nullptr);
    EXPECT_EQ(blank->Metadata, nullptr);

    const std::string bmp = Dir.File("scan.bmp");
    SaveBmp(Pattern(20, 10), bmp);
    TDocument* d = F.OpenImage(bmp);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Metadata, nullptr);
    d->FileName = Dir.File("scan.jpg");
    F.benrClick();
    EXPECT_EQ(ExifTag(Dir.File("scan.jpg"), "File:ImageWidth"), "20");
    EXPECT_EQ(ExifTag(Dir.File("scan.jpg"), "Make"), "");
}

} // namespace
