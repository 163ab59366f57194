// GIF files against outside decoders and writers: giflib (gif2rgb), PIL and
// ImageMagick read what we write, and we read what ImageMagick, gifsicle
// and PIL write.

#include "GifPicture.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>

using namespace testutil;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The indices of frame 0 as PIL reads them: "width height" then hex.
const char* const PilIndices = R"(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
im.seek(0)
if im.mode != 'P':
    sys.exit('mode ' + im.mode)
print(im.size[0], im.size[1])
print(bytes(im.getdata()).hex())
)";

struct Indices {
    int Width = 0;
    int Height = 0;
    Bytes Data;
};

Indices PilRead(const TempDir& dir, const std::string& gif)
{
    const std::string script = dir.File("indices.py");
    WriteFile(script, Bytes(PilIndices, PilIndices + std::strlen(PilIndices)));
    const CommandResult r = Run(PythonWithPil() + " " + Quote(script) + " " + Quote(gif));
    Indices out;
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    std::istringstream in(r.Output);
    std::string hex;
    in >> out.Width >> out.Height >> hex;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.Data.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// ImageMagick's frame over white: the raw frame on its page, or with
// coalesce the frame as the animation shows it.
RgbImage ImageMagickRead(const TempDir& dir, const std::string& gif, int frame = 0, bool coalesce = false)
{
    const std::string pattern = dir.File("im-%d.ppm");
    const std::string command =
        coalesce ? Tool("convert") + " " + Quote(gif) + " -coalesce -background white -alpha remove +adjoin " + Quote(pattern)
                 : Tool("convert") + " " + Quote(gif + "[" + std::to_string(frame) + "]") +
                       " -background white -flatten +adjoin " + Quote(pattern);
    const CommandResult r = Run(command);
    EXPECT_EQ(r.ExitCode, 0) << command << r.Output;
    return ReadPpm(dir.File("im-" + std::to_string(coalesce ? frame : 0) + ".ppm"));
}

// gif2rgb -1: the screen as RGB triples, rows from the top.
RgbImage GiflibRead(const TempDir& dir, const std::string& gif, int width, int height)
{
    const std::string rgb = dir.File("giflib.rgb");
    const CommandResult r = Run(Tool("gif2rgb") + " -1 -o " + Quote(rgb) + " " + Quote(gif));
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    RgbImage out;
    out.Width = width;
    out.Height = height;
    out.Rgb = ReadFile(rgb);
    EXPECT_EQ(out.Rgb.size(), static_cast<std::size_t>(width) * height * 3);
    return out;
}

RgbImage Expected(TGifPicture& image)
{
    TGIFSubImage& frame = *image.Frames.Frame(0);
    const TGIFColorMap& table = frame.ActiveColorMap();
    RgbImage out;
    out.Width = frame.FrameWidth();
    out.Height = frame.FrameHeight();
    for (std::size_t i = 0; i < frame.PixelDataSize(); ++i) {
        const std::uint8_t* t = table.Triplets() + frame.PixelData()[i] * 3;
        out.Rgb.insert(out.Rgb.end(), t, t + 3);
    }
    return out;
}

void ExpectSame(const RgbImage& got, const RgbImage& want, const std::string& what)
{
    ASSERT_EQ(got.Width, want.Width) << what;
    ASSERT_EQ(got.Height, want.Height) << what;
    ASSERT_EQ(got.Rgb.size(), want.Rgb.size()) << what;
    EXPECT_TRUE(got.Rgb == want.Rgb) << what << ": max difference " << MaxDifference(got, want);
}

} // namespace

TEST(GifOutsideDecoders, ReadWhatWeWriteAtEveryDepthEncodingAndOrder)
{
    TempDir dir;
    std::mt19937 random(5);
    for (int bits = 1; bits <= 8; ++bits) {
        for (std::uint8_t method : {emLZW, emRLE}) {
            for (bool interlaced : {false, true}) {
                const std::string what = "bits " + std::to_string(bits) + (method == emRLE ? " RLE" : " LZW") +
                                         (interlaced ? " interlaced" : " plain");
                const int width = 53, height = 37;
                TGifPicture image;
                image.EncodingMethod = method;
                TPalette colours;
                for (int i = 0; i < (1 << bits); ++i)
                    colours.push_back(TPaletteEntry{static_cast<std::uint8_t>(i * 37 + 11),
                                                    static_cast<std::uint8_t>(255 - i),
                                                    static_cast<std::uint8_t>(i * 91 + 5), 0});
                auto frame = std::make_unique<TGIFSubImage>(&image);
                // Interlaced frames are written so only with the global table.
                if (interlaced)
                    image.Header.GlobalTable.LoadPalette(colours);
                else
                    frame->ColorMap().LoadPalette(colours);
                frame->PlaceFrame(0, 0, width, height);
                for (std::size_t i = 0; i < frame->PixelDataSize(); ++i)
                    frame->PixelData()[i] =
                        static_cast<std::uint8_t>(((i / 23) % 2 ? i / 23 : random()) % (1u << bits));
                frame->SetInterlaced(interlaced);
                image.AddFrame(std::move(frame));
                const std::string gif = dir.File("ours.gif");
                image.SaveToFile(gif);
                const Bytes file = ReadFile(gif);
                EXPECT_EQ(file[13 + (interlaced ? 3 << bits : 0) + 9] & 0x40, interlaced ? 0x40 : 0) << what;

                const Indices pil = PilRead(dir, gif);
                ASSERT_EQ(pil.Width, width) << what;
                ASSERT_EQ(pil.Height, height) << what;
                TGIFSubImage& ours = *image.Frames.Frame(0);
                EXPECT_TRUE(pil.Data == Bytes(ours.PixelData(), ours.PixelData() + ours.PixelDataSize())) << what;
                const RgbImage want = Expected(image);
                ExpectSame(GiflibRead(dir, gif, width, height), want, what + " giflib");
                ExpectSame(ImageMagickRead(dir, gif), want, what + " ImageMagick");
            }
        }
    }
}

TEST(GifOutsideDecoders, ReadTheEditorsSaveOfATrueColourPicture)
{
    TempDir dir;
    TBitmap photo(120, 80, pf24bit);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 120; ++x)
            photo.SetPixelColor(x, y, RGB(x * 2, y * 3, (x * y) & 255));
    TGifPicture image;
    image.ReductionMethod = rdOctree;
    image.SetPaletteBits(8);
    image.DitherMethod = dtFloydSteinberg;
    image.Assign(photo);
    const std::string gif = dir.File("photo.gif");
    image.SaveToFile(gif);
    const Bytes file = ReadFile(gif);
    ASSERT_GE(file.size(), 30u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF87a");
    EXPECT_EQ(file[6] | (file[7] << 8), 120);
    EXPECT_EQ(file[8] | (file[9] << 8), 80);
    EXPECT_EQ(file[10] & 0x80, 0);
    EXPECT_EQ(file[13], 0x2C);
    EXPECT_EQ(file[22] & 0x80, 0x80);
    EXPECT_LE(image.Frames.Frame(0)->ColorMap().EntryCount(), 256);
    EXPECT_EQ(file.back(), 0x3B);

    const RgbImage want = Expected(image);
    ExpectSame(GiflibRead(dir, gif, 120, 80), want, "giflib");
    ExpectSame(ImageMagickRead(dir, gif), want, "ImageMagick");
    // The reduction stays near the photo.
    EXPECT_LE(MaxDifference(want, FromBitmap(photo)), 64);
}

TEST(GifOutsideWriters, TheirFilesDecodeToTheirPixels)
{
    TempDir dir;
    const std::string base = dir.File("base.ppm");
    ASSERT_EQ(testutil::Run(Tool("convert") + " -size 71x43 plasma:fractal -seed 3 " + Quote(base)).ExitCode, 0);
    struct Case {
        std::string Name;
        std::string Command;
    };
    const std::string im = dir.File("im.gif"), imi = dir.File("imi.gif"), sic = dir.File("sic.gif"),
                      sici = dir.File("sici.gif"), pil = dir.File("pil.gif"), anim = dir.File("anim.gif"),
                      opt = dir.File("opt.gif");
    const std::vector<Case> cases = {
        {im, Tool("convert") + " " + Quote(base) + " -colors 200 " + Quote(im)},
        {imi, Tool("convert") + " " + Quote(base) + " -colors 60 -interlace GIF " + Quote(imi)},
        {sic, Tool("gifsicle") + " --colors 16 --comment 'un commentaire' --loopcount=3 " + Quote(im) + " -o " + Quote(sic)},
        // Two pictures of their own palettes: the second frame has a local table.
        {sici, Tool("gifsicle") + " -i " + Quote(im) + " " + Quote(imi) + " -o " + Quote(sici)},
        {pil, PythonWithPil() + " -c \"from PIL import Image; Image.open('" + base + "').convert('P').save('" + pil + "')\""},
        // Frames that change a little, so that the optimiser crops them and
        // leaves unchanged pixels transparent.
        {anim, Tool("convert") + " -delay 5 " + Quote(base) + " \\( " + Quote(base) +
                   " -fill red -draw 'rectangle 10,10 30,20' \\) \\( " + Quote(base) +
                   " -fill blue -draw 'rectangle 40,5 60,35' \\) -colors 64 -loop 0 " + Quote(anim)},
        {opt, Tool("gifsicle") + " -O3 " + Quote(anim) + " -o " + Quote(opt)},
    };
    for (const Case& c : cases) {
        const CommandResult made = testutil::Run(c.Command);
        ASSERT_EQ(made.ExitCode, 0) << c.Command << made.Output;
        const DumpResult ours = PicDump(c.Name);
        ASSERT_TRUE(ours.Ok) << c.Name << ours.Error;
        ExpectSame(ours.Image, ImageMagickRead(dir, c.Name), c.Name);
    }
    // The frames of an optimised animation, composed as they show.
    for (int frame = 0; frame < 3; ++frame) {
        const DumpResult ours = PicDump(opt, frame);
        ASSERT_TRUE(ours.Ok) << ours.Error;
        ExpectSame(ours.Image, ImageMagickRead(dir, opt, frame, true), "frame " + std::to_string(frame));
    }
    const DumpResult local = PicDump(sici, 1);
    ASSERT_TRUE(local.Ok) << local.Error;
    ExpectSame(local.Image, ImageMagickRead(dir, sici, 1, true), "local table");
    const DumpResult none = PicDump(opt, 3);
    EXPECT_FALSE(none.Ok);
    EXPECT_NE(none.Error.find("No frame 3"), std::string::npos) << none.Error;
}
