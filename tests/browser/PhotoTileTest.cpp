// A camera photo taken turned shows upright in its tile.

#include "BrowserTest.h"
#include "CameraPhoto.h"
#include "TestUtil.h"

#include "Thumbnails.h"

#include <gtest/gtest.h>

using namespace browsertest;
using namespace testutil;

namespace {

TEST(PhotoTileTest, ATurnedPhotoIsDrawnUpright)
{
    InitOnce();
    TempDir dir;
    // Stored 150 x 100 and to be turned a quarter clockwise.
    const std::string path = dir.File("IMG_0006.JPG");
    MakeCameraPhoto(path, 150, 100, 6);
    TThumbnail tile;
    tile.FileName = path;
    DrawThumbnail(tile, path);
    ASSERT_EQ(tile.State, TThumbState::Drawn) << tile.Error;
    EXPECT_EQ(tile.PictureWidth, 100);
    EXPECT_EQ(tile.PictureHeight, 150);
    ASSERT_TRUE(tile.Picture);
    ASSERT_EQ(tile.Picture->Width(), 66);
    ASSERT_EQ(tile.Picture->Height(), 100);
    // The green corner stored top left comes top right.
    const RgbImage pixels = FromBitmap(*tile.Picture);
    EXPECT_GT(pixels.At(62, 3)[1], 200);
    EXPECT_LT(pixels.At(3, 3)[1], 60);
}

} // namespace
