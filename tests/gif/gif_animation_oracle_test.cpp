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

#include <algorithm>
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

// A screen recording as PIL writes it with optimize=False: n frames of
// w x h, every one the whole screen in colours of its own, a bar moving.
const char* const PilRecording = R"(
import sys
from PIL import Image, ImageDraw
n, w, h, out = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
frames = []
for i in range(n):
    im = Image.new('P', (w, h), 0)
    im.putpalette([(k * 7 + i * 3) % 256 for k in range(768)])
    ImageDraw.Draw(im).rectangle([i % w, 2, i % w + 5, h - 3], fill=i % 200 + 1)
    frames.append(im)
frames[0].save(out, save_all=True, append_images=frames[1:], optimize=False, duration=40, loop=0)
print(Image.open(out).n_frames)
)";

// Runs a PIL script of the test's own with the arguments and answers what
// it printed; fails the test (and answers "") when PIL fails.
std::string RunPil(TempDir& dir, const char* script, const std::string& arguments)
{
    const std::string file = dir.File("script.py");
    WriteFile(file, std::vector<std::uint8_t>(script, script + std::strlen(script)));
    const CommandResult r = testutil::Run(PythonWithPil() + " " + Quote(file) + " " + arguments);
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    return r.ExitCode == 0 ? r.Output : std::string();
}

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
    const std::string printed = RunPil(out, PilFrames, Quote(gif) + " " + Quote(out.Path()));
    ASSERT_FALSE(printed.empty());
    EXPECT_EQ(std::stoi(printed), expectedFrames);
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

// One GIF file per ImageMagick picture, made with the given options
// before and after it; the files in order, or fewer when one failed.
std::vector<std::string> MakeParts(TempDir& dir, const std::vector<std::string>& parts, const std::string& before,
                                   const std::string& after)
{
    std::vector<std::string> files;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string file = dir.File("part" + std::to_string(i) + ".gif");
        const CommandResult r = testutil::Run(Tool("convert") + " " + before + parts[i] + after + " " + Quote(file));
        EXPECT_EQ(r.ExitCode, 0) << r.Output;
        if (r.ExitCode != 0)
            break;
        files.push_back(file);
    }
    return files;
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
    const std::vector<std::string> files = MakeParts(dir,
                                                     {
                                                         "-size 9x7 gradient:white-black",
                                                         "-size 4x4 xc:none -fill red -draw \"rectangle 0,0 1,3\"",
                                                         "-size 5x3 plasma:fractal -seed 3",
                                                         "-size 3x5 xc:cyan",
                                                     },
                                                     "-seed 3 ", " -colors 16");
    ASSERT_EQ(files.size(), 4u);
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

TEST(GifAnimationOracles, GifsicleTransparentFramesEveryDisposalAndFramesPastTheScreen)
{
    TempDir dir;
    const std::string convert = Tool("convert");
    const std::string gifsicle = Tool("gifsicle");
    // An opaque first frame covering the screen (ImageMagick and PIL fill
    // what no frame covers with the background colour, browsers and we
    // leave it see-through) and small frames with see-through parts.
    const std::vector<std::string> files = MakeParts(dir,
                                                     {
                                                         "-size 8x6 xc:orange",
                                                         "-size 4x4 xc:none -fill blue -draw \"rectangle 1,1 2,2\"",
                                                         "-size 5x3 xc:none -fill green -draw \"rectangle 0,0 2,1\"",
                                                         "-size 4x4 xc:none -fill purple -draw \"rectangle 0,0 3,1\"",
                                                     },
                                                     "", "");
    ASSERT_EQ(files.size(), 4u);
    struct Case {
        std::string Name;
        std::string Frames;
        int Count;
    };
    const Case cases[] = {
        // Restore-to-background twice in a row, restore-to-previous after
        // it, delays of 0, looping for ever.
        {"loop0",
         "--loopcount=0 --delay 0 --disposal=none " + Quote(files[0]) + " --disposal=background --position 4,2 " +
             Quote(files[1]) + " --disposal=background --position 0,0 " + Quote(files[3]) +
             " --disposal=previous --position 1,2 " + Quote(files[2]) + " --disposal=none --position 3,2 " +
             Quote(files[1]),
         5},
        // Restore-to-previous twice in a row, then one frame kept, once.
        {"loop1",
         "--loopcount=1 --delay 3 --disposal=none " + Quote(files[0]) + " --disposal=previous --position 4,2 " +
             Quote(files[3]) + " --disposal=previous --position 2,3 " + Quote(files[2]) +
             " --disposal=asis --position 0,1 " + Quote(files[1]) + " --disposal=background --position 3,0 " +
             Quote(files[2]),
         5},
    };
    int agreements = 0;
    for (const Case& c : cases) {
        const std::string gif = dir.File(c.Name + ".gif");
        const CommandResult r = testutil::Run(gifsicle + " " + c.Frames + " -o " + Quote(gif));
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        CheckAnimation(gif, c.Count, agreements);
    }
    EXPECT_GE(agreements, 5);

    // gifsicle widens the screen to hold every frame; a file may not: the
    // screen cut down to 6 x 4 leaves frames partly and wholly outside it.
    // Reading it, the screen grows to hold them (10 x 8, as the last frame
    // at 6,4 of 4 x 4 needs), where ImageMagick clips the frames to the 6 x
    // 4 the file gives: the 6 x 4 both show must agree, the frames' parts
    // past it drawn nowhere else.
    const std::string wide = dir.File("wide.gif");
    const CommandResult r = testutil::Run(gifsicle + " --delay 2 --disposal=none " + Quote(files[0]) +
                                          " --disposal=background --position 4,2 " + Quote(files[1]) +
                                          " --disposal=previous --position 3,3 " + Quote(files[2]) +
                                          " --disposal=none --position 6,4 " + Quote(files[3]) + " -o " + Quote(wide));
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    std::vector<std::uint8_t> bytes = ReadFile(wide);
    ASSERT_GT(bytes.size(), 10u);
    bytes[6] = 6;
    bytes[7] = 0;
    bytes[8] = 4;
    bytes[9] = 0;
    const std::string cut = dir.File("cut.gif");
    WriteFile(cut, bytes);
    ASSERT_EQ(Frames(cut), 4);
    const std::string pattern = dir.File("cut-%d.ppm");
    const CommandResult im = testutil::Run(convert + " " + Quote(cut) +
                                           " -coalesce -background white -alpha remove +adjoin " + Quote(pattern));
    ASSERT_EQ(im.ExitCode, 0) << im.Output;
    const std::vector<RgbImage> played = Played(cut);
    ASSERT_EQ(played.size(), 4u);
    auto sameCorner = [](const RgbImage& ours, const RgbImage& magick) {
        int differing = 0;
        for (int y = 0; y < magick.Height; ++y)
            for (int x = 0; x < magick.Width; ++x)
                differing += !std::equal(magick.At(x, y), magick.At(x, y) + 3, ours.At(x, y));
        return differing;
    };
    for (int n = 0; n < 4; ++n) {
        const RgbImage magick = ReadPpm(dir.File("cut-" + std::to_string(n) + ".ppm"));
        ASSERT_EQ(magick.Width, 6);
        ASSERT_EQ(magick.Height, 4);
        const DumpResult ours = PicDump(cut, n);
        ASSERT_TRUE(ours.Ok) << ours.Error;
        ASSERT_EQ(ours.Image.Width, 10) << "frame " << n;
        ASSERT_EQ(ours.Image.Height, 8) << "frame " << n;
        EXPECT_EQ(sameCorner(ours.Image, magick), 0) << "frame " << n << " against ImageMagick";
        const RgbImage& shot = played[static_cast<std::size_t>(n)];
        ASSERT_EQ(shot.Width, 10);
        ASSERT_EQ(shot.Height, 8);
        EXPECT_EQ(sameCorner(shot, magick), 0) << "frame " << n << " as the painter shows it";
    }
}

TEST(GifAnimationOracles, LoopCountsWrittenByGifsiclePlayAsManyPasses)
{
    RegisterPictureFormats();
    TempDir dir;
    const std::vector<std::string> files = MakeParts(dir, {"-size 3x2 xc:red", "-size 3x2 xc:blue"}, "", "");
    ASSERT_EQ(files.size(), 2u);
    struct Case {
        std::string Loop;
        int Passes;
    };
    // Played inline with looping asked for: a count of n plays n passes; 0
    // (for ever) plays one pass inline; no looping extension, one pass.
    const Case cases[] = {{"--loopcount=3", 3}, {"--loopcount=1", 1}, {"--loopcount=0", 1}, {"--no-loopcount", 1}};
    for (const Case& c : cases) {
        const std::string gif = dir.File("loops.gif");
        const CommandResult r = testutil::Run(Tool("gifsicle") + " " + c.Loop + " --delay 0 " + Quote(files[0]) + " " +
                                              Quote(files[1]) + " -o " + Quote(gif));
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        TPicture picture;
        picture.LoadFromFile(gif);
        auto* image = dynamic_cast<TGifPicture*>(picture.Graphic());
        ASSERT_NE(image, nullptr) << c.Loop;
        ASSERT_EQ(image->Frames.Count(), 2) << c.Loop;
        TGIFManualClock clock;
        image->Clock = &clock;
        int paints = 0;
        int restarts = 0;
        image->FramePaintHandler = [&](TGIFPainter&) { ++paints; };
        image->LoopRestartHandler = [&](TGIFPainter&) { ++restarts; };
        TBitmap screen(3, 2);
        image->StartPainter(nullptr, screen.Canvas(), poAnimate | poLoop, TRect{0, 0, 3, 2});
        EXPECT_EQ(paints, 2 * c.Passes) << c.Loop;
        EXPECT_EQ(restarts, c.Passes - 1) << c.Loop;
        // Delays of 0 count as 10 units: the second frame of every pass
        // and the first of every later one wait 120 ms.
        std::int64_t slept = 0;
        for (std::int64_t ms : clock.Sleeps())
            slept += ms;
        EXPECT_EQ(slept, 12 + 120 * (2 * c.Passes - 1)) << c.Loop;
    }
}

TEST(GifAnimationOracles, ALongRecordingPastThePixelBudgetLoadsWithItsLastFrameAsPilShowsIt)
{
    RegisterPictureFormats();
    TempDir dir;
    const std::string gif = dir.File("recording.gif");
    ASSERT_EQ(RunPil(dir, PilRecording, "40 64 48 " + Quote(gif)), "40\n");
    ASSERT_EQ(RunPil(dir, PilFrames, Quote(gif) + " " + Quote(dir.Path())), "40\n");
    // The budget holds four of the 40 frames: it is each frame's, not the
    // animation's.
    const TPixelBudgetScope budget(4 * 64 * 48);
    TPicture picture;
    picture.LoadFromFile(gif);
    auto* image = dynamic_cast<TGifPicture*>(picture.Graphic());
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->Frames.Count(), 40);
    for (int n = 0; n < 40; ++n) {
        EXPECT_EQ(image->Frames.Frame(n)->FrameWidth(), 64) << n;
        EXPECT_EQ(image->Frames.Frame(n)->FrameHeight(), 48) << n;
    }
    TGIFFrameComposer composer(*image);
    ASSERT_TRUE(composer.SeekFrame(39));
    TBitmap last(64, 48, pf24bit);
    composer.PaintOver(last);
    const RgbImage pil = ReadPpm(dir.File("pil-39.ppm"));
    ASSERT_EQ(pil.Width, 64);
    ASSERT_EQ(pil.Height, 48);
    EXPECT_EQ(MaxDifference(FromBitmap(last), pil), 0);
}
