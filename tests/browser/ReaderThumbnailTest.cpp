// Thumbnails of TIFF and Targa files.

#include "BrowserTest.h"
#include "ReaderSamples.h"
#include "TestUtil.h"

#include "Thumbnails.h"

#include <gtest/gtest.h>

using namespace browsertest;

TEST(ReaderThumbnailTest, TiffAndTargaFilesAreDrawn)
{
    InitOnce();
    testutil::TempDir dir;
    for (const char* name : {"wide.tif", "wide.tga"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.File(name);
        const auto made = testutil::Run(testutil::Tool("convert") + " -size 200x100 xc:red -fill blue -draw \"rectangle 100,0 199,99\" " +
                                        testutil::Quote(path));
        ASSERT_EQ(made.ExitCode, 0) << made.Output;
        TThumbnail t;
        t.FileName = path;
        DrawThumbnail(t, path);
        ASSERT_EQ(t.State, TThumbState::Drawn) << t.Error;
        EXPECT_EQ(t.Size, (TThumbSize{100, 50}));
        const std::uint8_t* left = t.Picture->ScanLine(25) + 3 * 20;
        const std::uint8_t* right = t.Picture->ScanLine(25) + 3 * 80;
        EXPECT_GT(left[2], 215);
        EXPECT_LT(left[0], 40);
        EXPECT_GT(right[0], 215);
        EXPECT_LT(right[2], 40);
        EXPECT_NE(t.Hint.find("\n200 x 100"), std::string::npos);
    }
}

TEST(ReaderThumbnailTest, EveryReaderExtensionIsDrawn)
{
    InitOnce();
    testutil::TempDir dir;
    for (const std::string& extension : readersamples::Extensions) {
        SCOPED_TRACE(extension);
        const std::string path = dir.File("halves." + extension);
        ASSERT_EQ(readersamples::Write(path, extension), "");
        TThumbnail t;
        t.FileName = path;
        DrawThumbnail(t, path);
        ASSERT_EQ(t.State, TThumbState::Drawn) << t.Error;
        EXPECT_NE(t.Hint.find(extension == "pcd" ? "\n768 x 512" : "\n40 x 30"), std::string::npos) << t.Hint;
    }
}
