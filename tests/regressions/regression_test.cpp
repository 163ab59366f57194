// Files that once crashed or misbehaved in a fuzz target, each under
// files/<extension>/: every one is loaded through the picture registry and,
// when it loads, drawn at full size and as a thumbnail, as the editor and the
// browser do. A load may fail with one of our exceptions (a JPEG picture's
// first decode counting as part of its load); nothing else may go wrong.

#include "TestUtil.h"

#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "Formats.h"
#include "Jpeg.h"
#include "Picture.h"
#include "Streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

// The editor draws a picture at full size on a 24-bit bitmap; the browser
// stretches it onto a tile whose longer side is 100 pixels.
void DrawAsTheProgramsDo(const TPicture& picture)
{
    const int width = picture.Width(), height = picture.Height();
    TBitmap full(width, height, pf24bit);
    full.Canvas().Draw(0, 0, *picture.Graphic());
    const int longer = std::max(width, height);
    const int tw = std::max(1, width * 100 / longer), th = std::max(1, height * 100 / longer);
    TBitmap thumb(tw, th, pf24bit);
    thumb.Canvas().StretchDraw(Rect(0, 0, tw, th), *picture.Graphic());
}

} // namespace

TEST(FuzzRegressions, EveryFileLoadsOrFailsCleanlyAndDraws)
{
    RegisterPictureFormats();
    const TPixelBudgetScope budget(std::size_t{1} << 22);
    const fs::path root = fs::path(CORVINEL_SOURCE_DIR) / "tests/regressions/files";
    ASSERT_TRUE(fs::is_directory(root)) << root;
    int files = 0;
    for (const auto& folder : fs::directory_iterator(root)) {
        if (!folder.is_directory())
            continue;
        const std::string extension = folder.path().filename().string();
        ASSERT_NE(TPicture::FindGraphicClass(extension), nullptr) << extension << " is not registered";
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            SCOPED_TRACE(entry.path().string());
            ++files;
            TPicture picture;
            try {
                TMemoryStream stream(testutil::ReadFile(entry.path().string()));
                picture.LoadFromStream(stream, extension);
                if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(picture.Graphic()))
                    jpeg->DIBNeeded();
            } catch (const Exception&) {
                continue;
            }
            const int width = picture.Width(), height = picture.Height();
            if (!picture.Graphic() || width <= 0 || height <= 0)
                continue;
            EXPECT_NO_THROW(DrawAsTheProgramsDo(picture));
        }
    }
    EXPECT_GT(files, 0);
}
