// Opening a file gives the document the picture drawn onto a new white
// 24-bit bitmap, byte for byte, whether the decoded pixels are taken over
// (a colour JPEG, a 24-bit BMP, an RGB PNG without transparency) or really
// drawn (a grey JPEG, a transparent PNG, a palette BMP); and the pixels that
// are taken over are not copied.

#include "EditorTest.h"
#include "TestUtil.h"

#include "Canvas.h"
#include "Jpeg.h"
#include "Picture.h"
#include "PngCodec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace edtest;

namespace {

// The road every picture took before: the loaded graphic drawn onto a new
// white 24-bit bitmap of its size.
TBitmap DrawnOntoWhite(const std::string& path)
{
    TPicture picture;
    picture.LoadFromFile(path);
    TBitmap drawn(picture.Width(), picture.Height(), pf24bit);
    drawn.Canvas().Draw(0, 0, *picture.Graphic());
    return drawn;
}

// Every byte of the rows, padding included.
std::vector<std::uint8_t> RowBytes(const TBitmap& bitmap)
{
    return std::vector<std::uint8_t>(bitmap.Bits(), bitmap.Bits() + bitmap.RowStride() * static_cast<std::size_t>(bitmap.Height()));
}

struct TCase {
    std::string Name;
    std::string MakeArgs; // ImageMagick's arguments, up to the file name
    bool DjpegDecodes;    // the outside decode: djpeg, else ImageMagick flattening onto white
};

// 37 pixels a row: 111 bytes of pixels in a row of 112, so that the padding
// counts too.
const std::string Noisy = "-size 37x23 gradient:orange-navy -seed 4 -attenuate 0.5 +noise Gaussian";

const std::vector<TCase> Cases = {
    {"colour.jpg", Noisy + " -quality 90 ", true},
    {"grey.jpg", Noisy + " -colorspace Gray -quality 90 ", true},
    {"true.bmp", Noisy + " -type TrueColor BMP3:", false},
    {"palette.bmp", Noisy + " -colors 50 -type Palette BMP3:", false},
    {"rgb.png", Noisy + " PNG24:", false},
    // 16-bit samples (each an 8-bit level repeated), interlaced.
    {"rgb48.png", Noisy + " -depth 8 -depth 16 -interlace PNG PNG48:", false},
    // One colour transparent (a tRNS chunk), drawn onto white.
    {"key.png", Noisy + " -fill '#ff0000' -draw 'rectangle 3,3 9,9' -transparent '#ff0000' PNG24:", false},
    {"alpha.png",
     "-size 37x23 xc:none +antialias -fill '#3070c0' -draw 'circle 18,11 18,3' -fill '#c03010' "
     "-draw 'rectangle 0,0 5,22' PNG32:",
     false},
};

// Writes the case's file with ImageMagick; "" when that failed.
std::string Make(const testutil::TempDir& dir, const TCase& c)
{
    const std::string path = dir.File(c.Name);
    const auto made = testutil::Run(testutil::Tool("convert") + " " + c.MakeArgs + testutil::Quote(path));
    EXPECT_EQ(made.ExitCode, 0) << made.Output;
    return made.ExitCode == 0 ? path : std::string();
}

} // namespace

TEST(OpenPixelsTest, EveryOpenedPictureHoldsThePixelsOfTheDrawingOntoWhite)
{
    TTestFrame T;
    TEditorFrame& F = *T.Frame;
    testutil::TempDir dir;
    for (const TCase& c : Cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = Make(dir, c);
        ASSERT_FALSE(path.empty());

        const std::string ppm = dir.File(c.Name + ".ppm");
        const auto decoded =
            c.DjpegDecodes
                ? testutil::Run(testutil::Tool("djpeg") + " -rgb -ppm -outfile " + testutil::Quote(ppm) + " " +
                                testutil::Quote(path))
                : testutil::Run(testutil::Tool("convert") + " " + testutil::Quote(path) +
                                " -background white -flatten -depth 8 ppm:" + testutil::Quote(ppm));
        ASSERT_EQ(decoded.ExitCode, 0) << decoded.Output;
        const testutil::RgbImage theirs = testutil::ReadPpm(ppm);

        TDocument* d = F.OpenImage(path);
        ASSERT_NE(d, nullptr);
        const TBitmap& opened = d->Picture();
        const TBitmap drawn = DrawnOntoWhite(path);
        ASSERT_EQ(opened.Width(), 37);
        ASSERT_EQ(opened.Height(), 23);
        ASSERT_EQ(opened.PixelFormat(), pf24bit);
        ASSERT_EQ(opened.RowStride(), drawn.RowStride());
        EXPECT_EQ(RowBytes(opened), RowBytes(drawn));
        EXPECT_TRUE(opened.GetPalette().empty());
        EXPECT_FALSE(opened.Transparent());

        const testutil::RgbImage ours = testutil::FromBitmap(opened);
        ASSERT_EQ(ours.Width, theirs.Width);
        ASSERT_EQ(ours.Height, theirs.Height);
        EXPECT_EQ(testutil::MaxDifference(ours, theirs), 0);
        if (c.Name == "alpha.png") {
            // Its transparent part became white, its opaque parts kept their colours.
            EXPECT_EQ(opened.GetPixelColor(36, 0), clWhite);
            EXPECT_EQ(opened.GetPixelColor(18, 11), RGB(0x30, 0x70, 0xc0));
            EXPECT_EQ(opened.GetPixelColor(2, 20), RGB(0xc0, 0x30, 0x10));
        }
    }
}

TEST(OpenPixelsTest, AnOpaque24BitPictureGivesUpItsPixelsWhereADrawingWouldCopyThem)
{
    InitOnce();
    testutil::TempDir dir;
    for (const TCase& c : Cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = Make(dir, c);
        ASSERT_FALSE(path.empty());
        TPicture picture;
        picture.LoadFromFile(path);
        auto* jpeg = dynamic_cast<TJPEGImage*>(picture.Graphic());
        auto* png = dynamic_cast<TPngPicture*>(picture.Graphic());
        const TBitmap* source = jpeg  ? &jpeg->Bitmap()
                                : png ? png->RequireHeader().Dib.get()
                                      : dynamic_cast<TBitmap*>(picture.Graphic());
        const std::uint8_t* sourceBits = source ? source->Bits() : nullptr;

        const TBitmap flat = FlattenPicture(picture);
        const bool takenOver =
            c.Name == "colour.jpg" || c.Name == "true.bmp" || c.Name == "rgb.png" || c.Name == "rgb48.png";
        EXPECT_EQ(flat.Bits() == sourceBits, takenOver);
        ASSERT_EQ(flat.Width(), 37);
        if (jpeg) {
            // The JPEG still has its bytes and decodes them again when asked.
            EXPECT_TRUE(testutil::SamePixels(jpeg->Bitmap(), flat));
        } else if (png && takenOver) {
            EXPECT_TRUE(png->Empty());
        } else if (!takenOver && source) {
            EXPECT_EQ(source->Bits(), sourceBits);
            EXPECT_EQ(source->Width(), 37);
        }
    }
}
