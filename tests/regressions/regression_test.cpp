// Files that once crashed or misbehaved in a fuzz target, each under
// files/<extension>/: every one is loaded through the picture registry and,
// when it loads, drawn at full size and as a thumbnail, as the editor and the
// browser do. Each file has its outcome in the table below: the message its
// refusal carries (a JPEG picture's first decode counting as part of its
// load), or the size of the picture it loads as. Files the test writes
// itself follow. The same tests run once more in a program built under
// AddressSanitizer and UBSan.

#include "../gif/GifAnimation.h"
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
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace {

// What loading a file gives: a refusal whose message holds Refusal, or
// (Refusal empty) a picture of Width x Height.
struct TOutcome {
    std::string Refusal;
    int Width = 0;
    int Height = 0;
};

TOutcome Refused(const std::string& message) { return {message, 0, 0}; }
TOutcome Loads(int width, int height) { return {"", width, height}; }

// Under a budget of 2^22 pixels, by file under files/; the sizes are the
// files' own (ImageMagick's identify agrees).
const std::map<std::string, TOutcome>& Outcomes()
{
    static const std::map<std::string, TOutcome> outcomes = {
        {"bmp/no-size.bmp", Refused("L'image bitmap n'est pas valide (image vide de 0 x 0 pixels)")},
        {"bmp/offset-inside-table.bmp",
         Refused("L'image bitmap n'est pas valide (décalage des pixels dans la table des couleurs)")},
        {"gif/empty-screen.gif", Refused("Empty image: a logical screen of 0 x 0 pixels and no frame")},
        {"gif/frame-grows-screen-past-budget.gif", Refused("Logical screen too large (65535 x 65535 pixels)")},
        {"gif/frames-past-budget.gif",
         Refused("Frame too large for the data left (2048 x 2048 pixels, 102 bytes)")},
        {"gif/screen-past-budget.gif", Refused("Logical screen too large (65535 x 65535 pixels)")},
        {"ico/cursor-entry-stated-8-bytes.ico", Loads(16, 16)},
        {"ico/entry-stated-smaller.ico", Loads(8, 8)},
        {"jpg/bogus-huffman-table.jpg", Refused("Bogus Huffman table definition")},
        {"png/gamma-merged-key.png", Loads(9, 9)},
        {"png/grey16-key-00ff.png", Loads(64, 64)},
        {"png/palette-index-past-palette.png", Loads(4, 1)},
    };
    return outcomes;
}

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

TEST(FuzzRegressions, EveryFileHasItsOutcomeAndWhatLoadsDraws)
{
    RegisterPictureFormats();
    const TPixelBudgetScope budget(std::size_t{1} << 22);
    const fs::path root = fs::path(CORVINEL_SOURCE_DIR) / "tests/regressions/files";
    ASSERT_TRUE(fs::is_directory(root)) << root;
    std::map<std::string, TOutcome> left = Outcomes();
    for (const auto& folder : fs::directory_iterator(root)) {
        if (!folder.is_directory())
            continue;
        const std::string extension = folder.path().filename().string();
        ASSERT_NE(TPicture::FindGraphicClass(extension), nullptr) << extension << " is not registered";
        for (const auto& entry : fs::directory_iterator(folder.path())) {
            const std::string name = extension + "/" + entry.path().filename().string();
            SCOPED_TRACE(name);
            const auto expected = left.find(name);
            if (expected == left.end()) {
                ADD_FAILURE() << "no outcome in the table";
                continue;
            }
            const TOutcome want = expected->second;
            left.erase(expected);
            TPicture picture;
            try {
                TFileStream stream(entry.path().string(), fmOpenRead);
                picture.LoadFromStream(stream, extension);
                if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(picture.Graphic()))
                    jpeg->DIBNeeded();
            } catch (const Exception& e) {
                EXPECT_FALSE(want.Refusal.empty()) << "refused: " << e.Message;
                EXPECT_NE(e.Message.find(want.Refusal), std::string::npos) << e.Message;
                continue;
            }
            ASSERT_TRUE(want.Refusal.empty()) << "loaded instead of: " << want.Refusal;
            ASSERT_NE(picture.Graphic(), nullptr);
            EXPECT_EQ(picture.Width(), want.Width);
            EXPECT_EQ(picture.Height(), want.Height);
            EXPECT_NO_THROW(DrawAsTheProgramsDo(picture));
        }
    }
    for (const auto& [name, outcome] : left)
        ADD_FAILURE() << name << " is missing";
}

TEST(FuzzRegressions, AnAnimationWhoseFramesPaintNothingIsDrawnAtOnce)
{
    // Drawing it once waited for a painted frame that never came.
    RegisterPictureFormats();
    TMemoryStream stream(gifanim::DamagedDisposalsGif());
    TPicture picture;
    picture.LoadFromStream(stream, "gif");
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(picture.Width(), 2);
    EXPECT_EQ(picture.Height(), 2);
    EXPECT_NO_THROW(DrawAsTheProgramsDo(picture));
}
