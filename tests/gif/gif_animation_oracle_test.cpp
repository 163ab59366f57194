// Animated GIFs made by ImageMagick and gifsicle, every disposal method,
// transparent and opaque frames, offset frames smaller than the screen,
// local colour tables and loop counts: every frame as picdump --frame N
// composes it must equal ImageMagick's -coalesce over white, with PIL's
// ImageSequence as a second opinion; and the painter, playing the file
// inline over white, must show the same pixels frame by frame.
//
// Where the outside tools disagree: once a frame with disposal 2 has been
// shown, PIL (Pillow 9 and 10) differs from ImageMagick: it fills the
// cleared area in its own way, and a following restore-to-previous frame
// brings back the frame that had been cleared (in the first animation
// below, frames 2 to 4). ImageMagick clears to see-through and restores the
// screen as it was before the restore-to-previous frame, as browsers do; we
// follow ImageMagick. PIL is compared only where it agrees with
// ImageMagick, and the agreements are counted so that the test cannot pass
// by disagreement alone.

#include "Formats.h"
#include "GifAnimation.h"
#include "Picture.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace testutil;
using namespace gifanim;

namespace {

// Every frame of the animation composed by PIL over white, as frame-N.ppm.
const char* const PilFrames = R"(
import sys
from PIL import Image, ImageSequence
im = Image.open(sys.argv[1])
for n, frame in enumerate(ImageSequence.Iterator(im)):
    rgba = frame.convert('RGBA')
    white = Image.new('RGBA', rgba.size, (255, 255, 255, 255))
    white.alpha_composite(rgba)
    white.convert('RGB').save(sys.argv[2] + '/pil-%d.ppm' % n)
print(n + 1)
)";

int Frames(const std::string& gif)
{
    TPicture picture;
    picture.LoadFromFile(gif);
    auto* image = dynamic_cast<TGifPicture*>(picture.Graphic());
    return image ? image->Frames.Count() : 0;
}

// The painter's screen after each frame, playing the file inline over
// white at its own size.
std::vector<RgbImage> Played(const std::string& gif)
{
    TPicture picture;
    picture.LoadFromFile(gif);
    auto* image = dynamic_cast<TGifPicture*>(picture.Graphic());
    std::vector<RgbImage> shots;
    if (!image)
        return shots;
    TGIFManualClock clock;
    image->Clock = &clock;
    TBitmap screen(image->GetWidth(), image->GetHeight());
    image->FrameDoneHandler = [&](TGIFPainter&) { shots.push_back(FromBitmap(screen)); };
    image->StartPainter(nullptr, screen.Canvas(), poAnimate | poTransparent,
                        TRect{0, 0, image->GetWidth(), image->GetHeight()});
    return shots;
}

void CheckAnimation(const std::string& gif, int expectedFrames, int& pilAgreements)
{
    RegisterPictureFormats();
    TempDir out;
    ASSERT_EQ(Frames(gif), expectedFrames) << gif;
    const std::string pattern = out.File("im-%d.ppm");
    const CommandResult im =
        testutil::Run(Tool("convert") + " " + Quote(gif) + " -coalesce -background white -alpha remove +adjoin " + Quote(pattern));
    ASSERT_EQ(im.ExitCode, 0) << im.Output;
    const std::string script = out.File("frames.py");
    WriteFile(script, std::vector<std::uint8_t>(PilFrames, PilFrames + std::strlen(PilFrames)));
    const CommandResult pil = testutil::Run(PythonWithPil() + " " + Quote(script) + " " + Quote(gif) + " " + Quote(out.Path()));
    ASSERT_EQ(pil.ExitCode, 0) << pil.Output;
    EXPECT_EQ(std::stoi(pil.Output), expectedFrames);
    const std::vector<RgbImage> played = Played(gif);
    ASSERT_EQ(played.size(), static_cast<std::size_t>(expectedFrames));

    for (int n = 0; n < expectedFrames; ++n) {
        const RgbImage magick = ReadPpm(out.File("im-" + std::to_string(n) + ".ppm"));
        const DumpResult ours = PicDump(gif, n);
        ASSERT_TRUE(ours.Ok) << ours.Error;
        ASSERT_EQ(ours.Image.Width, magick.Width) << gif << " frame " << n;
        ASSERT_EQ(ours.Image.Height, magick.Height) << gif << " frame " << n;
        EXPECT_EQ(MaxDifference(ours.Image, magick), 0) << gif << " frame " << n << " against ImageMagick";
        const RgbImage& shot = played[static_cast<std::size_t>(n)];
        ASSERT_EQ(shot.Width, magick.Width);
        ASSERT_EQ(shot.Height, magick.Height);
        EXPECT_EQ(MaxDifference(shot, magick), 0) << gif << " frame " << n << " as the painter shows it";
        const RgbImage second = ReadPpm(out.File("pil-" + std::to_string(n) + ".ppm"));
        if (MaxDifference(second, magick) == 0) {
            ++pilAgreements;
            EXPECT_EQ(MaxDifference(ours.Image, second), 0) << gif << " frame " << n << " against PIL";
        }
    }
}

} // namespace

TEST(GifAnimationOracles, ImageMagickAnimationsWithEveryDisposal)
{
    TempDir dir;
    int agreements = 0;
    struct Case {
        std::string Name;
        std::string Frames;
        int Count;
    };
    const Case cases[] = {
        // Opaque frames, offset and smaller than the screen, every disposal.
        {"opaque",
         "-dispose none -size 8x6 xc:red -dispose background -page +2+1 -size 4x3 xc:blue "
         "-dispose previous -page +1+2 -size 3x3 xc:lime -dispose none -page +5+0 -size 3x2 xc:yellow "
         "-dispose none -page +0+4 -size 2x2 xc:navy",
         5},
        // Frames with transparent parts over what came before.
        {"transparent",
         "-dispose none -size 8x6 xc:orange "
         "-dispose previous -page +0+0 \\( -size 8x6 xc:none -fill blue -draw \"rectangle 1,1 3,3\" \\) "
         "-dispose background -page +2+2 \\( -size 5x4 xc:none -fill green -draw \"rectangle 0,0 2,1\" \\) "
         "-dispose none -page +4+1 \\( -size 4x4 xc:none -fill purple -draw \"rectangle 1,1 2,2\" \\)",
         4},
    };
    for (const Case& c : cases) {
        const std::string gif = dir.File(c.Name + ".gif");
        const CommandResult r = testutil::Run(Tool("convert") + " -delay 7 " + c.Frames + " -loop 3 " + Quote(gif));
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        CheckAnimation(gif, c.Count, agreements);
    }
    EXPECT_GE(agreements, 5);
}

TEST(GifAnimationOracles, GifsicleAnimationsWithLocalTablesAndPositions)
{
    TempDir dir;
    // Single frames from ImageMagick in colours of their own, so that
    // gifsicle gives the later frames local tables.
    const std::string parts[] = {
        "-size 9x7 gradient:white-black",
        "-size 4x4 xc:none -fill red -draw \"rectangle 0,0 1,3\"",
        "-size 5x3 plasma:fractal -seed 3",
        "-size 3x5 xc:cyan",
    };
    std::vector<std::string> files;
    for (std::size_t i = 0; i < std::size(parts); ++i) {
        const std::string file = dir.File("part" + std::to_string(i) + ".gif");
        const CommandResult r = testutil::Run(Tool("convert") + " -seed 3 " + parts[i] + " -colors 16 " + Quote(file));
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        files.push_back(file);
    }
    const std::string gif = dir.File("sicle.gif");
    const std::string command = Tool("gifsicle") + " --loopcount=2 --delay 4 --disposal=none " + Quote(files[0]) +
                                " --disposal=background --position 1,1 " + Quote(files[1]) +
                                " --disposal=previous --position 4,3 " + Quote(files[2]) +
                                " --disposal=none --position 6,0 " + Quote(files[3]) + " -o " + Quote(gif);
    const CommandResult r = testutil::Run(command);
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    int agreements = 0;
    CheckAnimation(gif, 4, agreements);
    EXPECT_GE(agreements, 2);
}
