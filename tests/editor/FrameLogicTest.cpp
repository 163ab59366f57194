// The frame's logic over windows held in memory: command rules, opening,
// the same-document check, saving, the close-all loop and the image commands.

#include "../gif/GifAnimation.h"
#include "EditorTest.h"
#include "TestUtil.h"

#include "Canvas.h"
#include "Exceptions.h"
#include "Picture.h"
#include "photo.h"
#include "PngCodec.h"
#include "Streams.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace edtest;
using testutil::TempDir;

namespace {

class FrameLogicTest : public ::testing::Test {
protected:
    TTestFrame T;
    TEditorFrame& F = *T.Frame;
    TempDir Dir;

    TDocument& Open(const std::string& name, int width = 40, int height = 30)
    {
        const std::string path = Dir.File(name);
        if (!std::filesystem::exists(path))
            SaveBmp(Pattern(width, height), path);
        TDocument* document = F.OpenImage(path);
        EXPECT_NE(document, nullptr);
        return *document;
    }
};

TEST_F(FrameLogicTest, EnableImageCommandsSwitchesExactlyItsSet)
{
    // After start-up every image command is off and the rest as in the form.
    for (const std::string& name : ImageCommandNames())
        EXPECT_FALSE(F.States.Enabled(name)) << name;
    for (const char* name : {"bouvrir", "Bparcourir", "bsourcescan", "bscan", "bcoller", "bkavrelc", "baide",
                             "ToolButton10", "FileOpenItem", "FileExitItem", "Parcourir1", "Numriser1"})
        EXPECT_TRUE(F.States.Enabled(name)) << name;
    for (const char* name : {"bimpv", "bannuler", "Imprimerlesvignettes1"})
        EXPECT_FALSE(F.States.Enabled(name)) << name;

    F.EnableImageCommands(true);
    EXPECT_EQ(ImageCommandNames().size(), 25u);
    for (const std::string& name : ImageCommandNames())
        EXPECT_TRUE(F.States.Enabled(name)) << name;
    // Never switched by it.
    for (const char* name : {"bimpv", "bannuler", "Imprimerlesvignettes1"})
        EXPECT_FALSE(F.States.Enabled(name)) << name;
    F.EnableImageCommands(false);
    EXPECT_TRUE(F.States.Enabled("bcoller"));
    EXPECT_TRUE(F.States.Enabled("FileOpenItem"));
}

TEST_F(FrameLogicTest, StatusPanelsAndStartFolder)
{
    EXPECT_EQ(StatusPanel0Width(1024), 760);
    EXPECT_EQ(F.States.Panel(0), "texte état");
    EXPECT_EQ(F.States.Panel(2), "x=0 y=0");
    {
        const testutil::CurrentDirGuard root("/");
        EXPECT_EQ(CurrentStartDir(), "/");
        std::filesystem::current_path(Dir.Path());
        EXPECT_EQ(CurrentStartDir(), std::filesystem::current_path().string() + "/");
    }

    StartDir = "/opt/corvinel/";
    F.baideClick();
    F.bkavrelcClick();
    ASSERT_EQ(T.Shell.Urls.size(), 1u);
    EXPECT_EQ(T.Shell.Urls[0], "file:///opt/corvinel/aide/corvinel.htm");
    ASSERT_EQ(T.Shell.Executed.size(), 1u);
    EXPECT_EQ(T.Shell.Executed[0], "/opt/corvinel/kavrel");
    // A missing batch program is told, in French, with where it was looked for.
    ASSERT_EQ(T.Boxes.Calls.size(), 1u);
    EXPECT_EQ(T.Boxes.Calls[0].Text,
              "Le programme de redimensionnement groupé est introuvable : /opt/corvinel/kavrel.");
    EXPECT_EQ(T.Boxes.Calls[0].Type, mtError);
    // One that ran says nothing.
    T.Boxes.Calls.clear();
    T.Shell.ExecResult = true;
    F.bkavrelcClick();
    EXPECT_TRUE(T.Boxes.Calls.empty());
}

TEST_F(FrameLogicTest, ExecAndWaitStartsWithoutAShellAndWaits)
{
    EXPECT_FALSE(ExecAndWait(Dir.File("kavrel")));
    EXPECT_FALSE(ExecAndWait("true; touch " + Dir.File("x"))); // never a shell line
    EXPECT_FALSE(std::filesystem::exists(Dir.File("x")));
    const std::string script = Dir.File("slow");
    {
        std::string text = "#!/bin/sh\nsleep 0.3\necho done > '" + Dir.File("ended") + "'\n";
        testutil::WriteFile(script, std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    EXPECT_TRUE(ExecAndWait(script));
    EXPECT_TRUE(std::filesystem::exists(Dir.File("ended")));
}

TEST_F(FrameLogicTest, FitZoomFindsTheSmallestReduction)
{
    EXPECT_EQ(FitZoom(3000, 2000, 1000, 600), -3);
    EXPECT_EQ(FitZoom(800, 500, 1000, 600), 0);
    EXPECT_EQ(FitZoom(1000, 600, 1000, 600), 0);
    EXPECT_EQ(FitZoom(1001, 10, 1000, 600), -1);
    // No room at all: the search would never end; the picture stays 1:1.
    EXPECT_EQ(FitZoom(3000, 2000, 1000, 0), 0);
    EXPECT_EQ(FitZoom(3000, 2000, -5, 600), 0);

    T.Windows.ClientWidth = 1000;
    T.Windows.ClientHeight = 700;
    TDocument& big = Open("big.bmp", 3000, 2000);
    EXPECT_EQ(big.Zoom, -3);
    EXPECT_EQ(big.DisplayWidth(), 750);
    EXPECT_EQ(big.DisplayHeight(), 500);
    EXPECT_EQ(big.Caption(), "big.bmp(1:4)");
    EXPECT_FLOAT_EQ(big.Aspect, 2000.0f / 3000.0f);
    EXPECT_EQ(F.States.Panel(1), "3000 x 2000");

    T.Windows.ClientHeight = 50; // less than the 100 kept free
    TDocument& other = Open("other.bmp", 300, 200);
    EXPECT_EQ(other.Zoom, 0);
}

TEST_F(FrameLogicTest, OpeningEnablesTheCommandsAndAFailedLoadLeavesNoWindow)
{
    TDocument& d = Open("a.bmp");
    EXPECT_EQ(F.ChildCount, 1);
    EXPECT_TRUE(F.States.Enabled("benr"));
    EXPECT_FALSE(F.States.Enabled("brecadrer"));
    EXPECT_FALSE(d.Modified);
    EXPECT_EQ(d.Caption(), "a.bmp(1:1)");

    testutil::WriteFile(Dir.File("broken.bmp"), {'B', 'M', 1, 2, 3});
    EXPECT_THROW(F.OpenImage(Dir.File("broken.bmp")), Exception);
    EXPECT_THROW(F.OpenImage(Dir.File("missing.bmp")), Exception);
    EXPECT_THROW(F.OpenImage(Dir.File("notes.xyz")), EInvalidGraphic);
    EXPECT_EQ(T.Windows.Open.size(), 1u);
    EXPECT_EQ(F.ChildCount, 1);
}

TEST_F(FrameLogicTest, TransparentAreasOfAPngOpenWhite)
{
    const std::string python = testutil::PythonWithPil();
    // Left half fully transparent blue, right half opaque red.
    const std::string path = Dir.File("clear.png");
    const auto made = testutil::Run(python + " -c \"from PIL import Image\n"
                                             "im = Image.new('RGBA', (10, 8), (255, 0, 0, 255))\n"
                                             "for x in range(5):\n"
                                             "    for y in range(8): im.putpixel((x, y), (0, 0, 255, 0))\n"
                                             "im.save('" + path + "')\"");
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    TDocument* d = F.OpenImage(path);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Picture().PixelFormat(), pf24bit);
    EXPECT_EQ(d->Picture().GetPixelColor(2, 3), clWhite);
    EXPECT_EQ(d->Picture().GetPixelColor(7, 3), clRed);
}

TEST_F(FrameLogicTest, SameDocumentComparesCanonicalPathsAndKeepsCase)
{
    TDocument& a = Open("a.bmp");
    Open("b.bmp");
    std::filesystem::create_directory(Dir.File("sub"));
    EXPECT_EQ(F.OpenImage(Dir.File("sub/../a.bmp")), &a);
    EXPECT_EQ(T.Windows.Open.size(), 2u);
    EXPECT_EQ(F.ActiveDocument(), &a);
    std::filesystem::create_symlink(Dir.File("a.bmp"), Dir.File("link.bmp"));
    EXPECT_EQ(F.OpenImage(Dir.File("link.bmp")), &a);

    // Another case is another file here.
    SaveBmp(Pattern(8, 8), Dir.File("A.BMP"));
    TDocument* upper = F.OpenImage(Dir.File("A.BMP"));
    ASSERT_NE(upper, &a);
    EXPECT_EQ(upper->Picture().Width(), 8);
    EXPECT_EQ(T.Windows.Open.size(), 3u);

    // Untitled windows are never taken for one another.
    F.NewImageWidth = 5;
    F.NewImageHeight = 5;
    TDocument* blank1 = F.OpenImage("Sans nom");
    TDocument* blank2 = F.OpenImage("Sans nom");
    EXPECT_NE(blank1, blank2);
    EXPECT_TRUE(blank2->Modified);
    EXPECT_EQ(blank2->Caption(), "Sans nom(1:1)*");
    EXPECT_EQ(blank2->Picture().GetPixelColor(2, 2), clWhite);
}

TEST_F(FrameLogicTest, DirectSaveWritesUnderTheRealPathBmpAndJpeg)
{
    TDocument& d = Open("Photo.BMP");
    F.badoucirClick();
    std::filesystem::remove(Dir.File("Photo.BMP"));
    CloseConfirmed = false;
    F.benrClick();
    EXPECT_TRUE(CloseConfirmed);
    EXPECT_TRUE(std::filesystem::exists(Dir.File("Photo.BMP")));
    EXPECT_FALSE(std::filesystem::exists(Dir.File("photo.bmp")));
    // The save leaves the modified state and the undo stack alone.
    EXPECT_TRUE(d.Modified);
    EXPECT_EQ(d.UndoCount(), 1);
    TPicture back;
    back.LoadFromFile(Dir.File("Photo.BMP"));
    TBitmap pixels(back.Width(), back.Height());
    pixels.Canvas().Draw(0, 0, *back.Graphic());
    EXPECT_TRUE(SamePixels(pixels, d.Picture()));

    TDocument& j = Open("x.bmp", 16, 16);
    j.FileName = Dir.File("Shot.JPEG");
    F.benrClick();
    EXPECT_TRUE(std::filesystem::exists(Dir.File("Shot.JPEG")));
}

// An animated GIF written by ImageMagick, one plain colour a frame.
void MakeAnimatedGif(const std::string& path, int frames)
{
    std::string command = testutil::Tool("convert") + " -delay 10";
    for (int i = 0; i < frames; ++i)
        command += i % 2 ? " -size 10x6 xc:blue" : " -size 10x6 xc:red";
    const auto made = testutil::Run(command + " " + testutil::Quote("gif:" + path));
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
}

// "frames width height" of a GIF file's first frame, by ImageMagick.
std::string GifFrames(const std::string& path)
{
    const auto result =
        testutil::Run(testutil::Tool("identify") + " -format \"%n %w %h,\" " + testutil::Quote(path));
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    return result.Output.substr(0, result.Output.find(','));
}

TEST_F(FrameLogicTest, DirectSaveOverAnAnimatedGifAsksFirst)
{
    const std::string animation = Dir.File("anim.gif");
    MakeAnimatedGif(animation, 4);
    ASSERT_EQ(GifFrames(animation), "4 10 6");
    const std::vector<std::uint8_t> before = testutil::ReadFile(animation);
    TDocument* d = F.OpenImage(animation);
    ASSERT_NE(d, nullptr);
    F.badoucirClick();

    // "Non", the default: the file stays byte for byte.
    CloseConfirmed = true;
    F.benrClick();
    ASSERT_EQ(T.Boxes.Calls.size(), 1u);
    const auto& question = T.Boxes.Calls[0];
    EXPECT_EQ(question.Caption, "Confirmation");
    EXPECT_EQ(question.Flags & MB_TYPEMASK, MB_YESNO);
    EXPECT_EQ(question.Answer, IDNO) << "Non by default";
    EXPECT_NE(question.Text.find("anim.gif"), std::string::npos) << question.Text;
    EXPECT_NE(question.Text.find("3 autres images"), std::string::npos) << question.Text;
    EXPECT_FALSE(CloseConfirmed);
    EXPECT_EQ(testutil::ReadFile(animation), before);

    // "Oui": the picture shown replaces the animation.
    T.Boxes.Answers = {IDYES};
    F.benrClick();
    EXPECT_TRUE(CloseConfirmed);
    EXPECT_EQ(GifFrames(animation), "1 10 6");

    // Now a still picture: saved over itself without a question.
    T.Boxes.Calls.clear();
    F.benrClick();
    EXPECT_TRUE(T.Boxes.Calls.empty());
    EXPECT_TRUE(CloseConfirmed);
}

TEST_F(FrameLogicTest, DirectSaveWritesPngAtTheStrongestCompression)
{
    TDocument& d = Open("x.bmp", 37, 23);
    d.MouseDown(3, 3);
    d.MouseMove(20, 15, true); // the frame never reaches the file
    d.MouseUp(20, 15);
    ASSERT_TRUE(d.SelVisible);
    d.FileName = Dir.File("Shot.PNG");
    CloseConfirmed = false;
    F.benrClick();
    EXPECT_TRUE(CloseConfirmed);
    EXPECT_TRUE(T.Boxes.Calls.empty());
    ASSERT_TRUE(std::filesystem::exists(Dir.File("Shot.PNG")));
    EXPECT_TRUE(d.SelVisible);

    // The image data's zlib stream announces the strongest level.
    const std::vector<std::uint8_t> bytes = testutil::ReadFile(Dir.File("Shot.PNG"));
    const std::string text(bytes.begin(), bytes.end());
    const auto idat = text.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    ASSERT_LT(idat + 5, bytes.size());
    EXPECT_EQ(bytes[idat + 4] & 0x0F, 8);  // deflate
    EXPECT_EQ(bytes[idat + 5] >> 6, 3);    // level 7 or more
    // Level 9 exactly: the codec's own output at 9, which differs at 7.
    auto encoded = [](int level) {
        TPngPicture png;
        png.Assign(Pattern(37, 23));
        png.CompressionLevel = static_cast<std::uint8_t>(level);
        TMemoryStream stream;
        png.SaveToStream(stream);
        const std::uint8_t* data = stream.Memory();
        return std::vector<std::uint8_t>(data, data + stream.Size());
    };
    ASSERT_NE(encoded(9), encoded(7));
    EXPECT_EQ(bytes, encoded(9));

    const testutil::RgbImage expected = testutil::FromBitmap(Pattern(37, 23));
    const auto check = testutil::Run(testutil::Tool("pngcheck") + " -q " + testutil::Quote(Dir.File("Shot.PNG")));
    EXPECT_EQ(check.ExitCode, 0) << check.Output;
    const auto run = testutil::Run(testutil::Tool("pngtopnm") + " " + testutil::Quote(Dir.File("Shot.PNG")) + " > " +
                                   testutil::Quote(Dir.File("shot.ppm")));
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    const testutil::RgbImage outside = testutil::ReadPpm(Dir.File("shot.ppm"));
    ASSERT_EQ(outside.Width, expected.Width);
    ASSERT_EQ(outside.Height, expected.Height);
    EXPECT_EQ(testutil::MaxDifference(outside, expected), 0);
    TPicture back;
    back.LoadFromFile(Dir.File("Shot.PNG"));
    TBitmap pixels(back.Width(), back.Height());
    pixels.Canvas().Draw(0, 0, *back.Graphic());
    EXPECT_TRUE(SamePixels(pixels, Pattern(37, 23)));
}

TEST_F(FrameLogicTest, DirectSaveWritesGifReducedTo256ColoursAndOpensItAgain)
{
    TDocument& d = Open("x.bmp", 41, 29);
    d.FileName = Dir.File("Shot.GIF");
    CloseConfirmed = false;
    F.benrClick();
    EXPECT_TRUE(CloseConfirmed);
    EXPECT_TRUE(T.Boxes.Calls.empty());
    ASSERT_TRUE(std::filesystem::exists(Dir.File("Shot.GIF")));
    const std::vector<std::uint8_t> bytes = testutil::ReadFile(Dir.File("Shot.GIF"));
    ASSERT_GT(bytes.size(), 13u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 6), "GIF87a");
    EXPECT_EQ(bytes.back(), 0x3B);

    // giflib reads the same picture as the editor opens again.
    const std::string rgb = Dir.File("shot.rgb");
    const auto run = testutil::Run(testutil::Tool("gif2rgb") + " -1 -o " + testutil::Quote(rgb) + " " +
                                   testutil::Quote(Dir.File("Shot.GIF")));
    ASSERT_EQ(run.ExitCode, 0) << run.Output;
    const std::vector<std::uint8_t> outside = testutil::ReadFile(rgb);
    TPicture back;
    back.LoadFromFile(Dir.File("Shot.GIF"));
    TBitmap pixels(back.Width(), back.Height());
    pixels.Canvas().Draw(0, 0, *back.Graphic());
    const testutil::RgbImage opened = testutil::FromBitmap(pixels);
    ASSERT_EQ(opened.Width, 41);
    ASSERT_EQ(opened.Height, 29);
    EXPECT_EQ(opened.Rgb, outside);
    // Reduced and dithered, but near the picture on average.
    const testutil::RgbImage original = testutil::FromBitmap(Pattern(41, 29));
    double total = 0;
    for (std::size_t i = 0; i < original.Rgb.size(); ++i)
        total += std::abs(int(opened.Rgb[i]) - int(original.Rgb[i]));
    EXPECT_LT(total / static_cast<double>(original.Rgb.size()), 12.0);
}

TEST_F(FrameLogicTest, OpensGifFilesAsImageMagickDrawsThem)
{
    const std::string gif = Dir.File("Anim.gif");
    const std::string ppm = Dir.File("anim.ppm");
    // Two frames; the document shows the first, holes on white.
    auto made = testutil::Run(testutil::Tool("convert") + " -size 30x20 xc:none -fill blue -draw 'rectangle 0,0 14,19' "
                              "-size 30x20 xc:red -loop 0 " + testutil::Quote(gif));
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    made = testutil::Run(testutil::Tool("convert") + " " + testutil::Quote(gif + "[0]") +
                         " -background white -flatten " + testutil::Quote(ppm));
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    TDocument* d = F.OpenImage(gif);
    ASSERT_NE(d, nullptr);
    const testutil::RgbImage opened = testutil::FromBitmap(d->Picture());
    const testutil::RgbImage outside = testutil::ReadPpm(ppm);
    ASSERT_EQ(opened.Width, outside.Width);
    ASSERT_EQ(opened.Height, outside.Height);
    EXPECT_EQ(testutil::MaxDifference(opened, outside), 0);
    EXPECT_EQ(d->Picture().GetPixelColor(20, 5), clWhite);
    EXPECT_EQ(d->Picture().GetPixelColor(5, 5), clBlue);
}

TEST_F(FrameLogicTest, GifsWhoseFramesPaintNothingOpenWithTheirFirstFrame)
{
    // The editor and picdump, which opens files as the editor does, show
    // what ImageMagick shows as frame 0; neither waits for the animation.
    for (const std::string& gif : gifanim::WriteDisposalsGifs(Dir)) {
        SCOPED_TRACE(gif);
        const std::string ppm = gif + ".ppm";
        const auto first = testutil::Run(testutil::Tool("convert") + " " + testutil::Quote(gif + "[0]") + " " +
                                         testutil::Quote(ppm));
        ASSERT_EQ(first.ExitCode, 0) << first.Output;
        const testutil::RgbImage outside = testutil::ReadPpm(ppm);
        TDocument* d = F.OpenImage(gif);
        ASSERT_NE(d, nullptr);
        const testutil::RgbImage opened = testutil::FromBitmap(d->Picture());
        ASSERT_EQ(opened.Width, outside.Width);
        ASSERT_EQ(opened.Height, outside.Height);
        EXPECT_EQ(testutil::MaxDifference(opened, outside), 0);
        const testutil::DumpResult dumped = testutil::PicDump(gif);
        ASSERT_TRUE(dumped.Ok) << dumped.Error;
        ASSERT_EQ(dumped.Image.Width, outside.Width);
        ASSERT_EQ(dumped.Image.Height, outside.Height);
        EXPECT_EQ(testutil::MaxDifference(dumped.Image, outside), 0);
    }
}

TEST_F(FrameLogicTest, AGifWhoseScreenItsDataCouldNotFillOpensAtItsScreen)
{
    // 62 bytes, a 1024 x 1024 screen and one red pixel: the document is the
    // screen as ImageMagick flattens it on white.
    const std::string gif = Dir.File("Ecran.gif");
    const std::string ppm = Dir.File("ecran.ppm");
    testutil::WriteFile(gif, gifanim::ScreenPastItsDataGif());
    const auto made = testutil::Run(testutil::Tool("convert") + " " + testutil::Quote(gif) +
                                    " -background white -flatten " + testutil::Quote(ppm));
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    const testutil::RgbImage outside = testutil::ReadPpm(ppm);
    ASSERT_EQ(outside.Width, 1024);
    ASSERT_EQ(outside.Height, 1024);
    TDocument* d = F.OpenImage(gif);
    ASSERT_NE(d, nullptr);
    const testutil::RgbImage opened = testutil::FromBitmap(d->Picture());
    ASSERT_EQ(opened.Width, 1024);
    ASSERT_EQ(opened.Height, 1024);
    EXPECT_EQ(testutil::MaxDifference(opened, outside), 0);
    EXPECT_EQ(d->Picture().GetPixelColor(0, 0), clRed);
    EXPECT_EQ(d->Picture().GetPixelColor(1023, 1023), clWhite);
}

TEST_F(FrameLogicTest, DirectSaveOfAnotherFormatTellsTheUserAndConfirmsNothing)
{
    TDocument& d = Open("a.bmp");
    d.FileName = Dir.File("a.tif");
    d.memorise();
    CloseConfirmed = true;
    F.benrClick();
    EXPECT_FALSE(CloseConfirmed);
    EXPECT_FALSE(std::filesystem::exists(Dir.File("a.tif")));
    ASSERT_EQ(T.Boxes.Calls.size(), 1u);
    EXPECT_EQ(T.Boxes.Calls[0].Type, mtWarning);

    // The close question's Yes cannot lose the changes that way.
    T.Boxes.Calls.clear();
    T.Boxes.Answers = {IDYES};
    EXPECT_FALSE(T.Windows.Open.front()->Close());
    EXPECT_EQ(T.Windows.Open.size(), 1u);

    // An untitled picture has nowhere to go without the save assistant.
    F.NewImageWidth = F.NewImageHeight = 4;
    F.OpenImage("Sans nom");
    T.Boxes.Calls.clear();
    F.benrClick();
    EXPECT_FALSE(CloseConfirmed);
    ASSERT_EQ(T.Boxes.Calls.size(), 1u);
    EXPECT_EQ(T.Boxes.Calls[0].Type, mtInformation);
}

TEST_F(FrameLogicTest, CloseQuestionYesSavesTheClosingWindowNotTheActiveOne)
{
    TDocument& first = Open("first.bmp");
    TDocument& second = Open("second.bmp"); // active
    first.memorise();
    second.memorise();
    first.Picture().SetPixelColor(0, 0, clRed);
    second.Picture().SetPixelColor(0, 0, clBlue);
    const auto firstTime = std::filesystem::last_write_time(Dir.File("first.bmp"));
    const auto secondTime = std::filesystem::last_write_time(Dir.File("second.bmp"));
    std::filesystem::remove(Dir.File("first.bmp"));

    // The loop starts at the bottom window: "first", which is not active.
    T.Boxes.Answers = {IDYES, IDCANCEL};
    EXPECT_FALSE(F.FormClose());
    ASSERT_TRUE(std::filesystem::exists(Dir.File("first.bmp")));
    TPicture back;
    back.LoadFromFile(Dir.File("first.bmp"));
    EXPECT_EQ(back.Bitmap().GetPixelColor(0, 0), clRed);
    EXPECT_EQ(std::filesystem::last_write_time(Dir.File("second.bmp")), secondTime);
    (void)firstTime;
    EXPECT_EQ(T.Windows.Open.size(), 1u);
    EXPECT_EQ(T.Windows.Open.front()->Document(), &second);
}

TEST_F(FrameLogicTest, CloseAllStopsAtCancelAndAsksTheClipboardQuestionLast)
{
    for (const char* name : {"1.bmp", "2.bmp", "3.bmp"})
        Open(name).memorise();
    T.Clipboard.SetBitmap(Pattern(2, 2));
    T.Boxes.Answers = {IDNO, IDCANCEL};
    EXPECT_FALSE(F.FormClose());
    ASSERT_EQ(T.Boxes.Calls.size(), 2u); // no clipboard question
    EXPECT_EQ(T.Boxes.Calls[0].Caption, "1.bmp");
    EXPECT_EQ(T.Boxes.Calls[1].Caption, "2.bmp");
    ASSERT_EQ(T.Windows.Open.size(), 2u);
    EXPECT_EQ(F.ChildCount, 2);
    EXPECT_TRUE(F.States.Enabled("baccentuer"));

    T.Boxes.Calls.clear();
    T.Boxes.Answers = {IDNO, IDNO, IDYES};
    EXPECT_TRUE(F.FormClose());
    ASSERT_EQ(T.Boxes.Calls.size(), 3u);
    EXPECT_EQ(T.Boxes.Calls[2].Text, "Vider le presse-papier avant de quitter ?");
    EXPECT_EQ(T.Boxes.Calls[2].Caption, "Le presse-papier contient une image");
    EXPECT_EQ(T.Boxes.Calls[2].Flags, MB_YESNO | MB_ICONQUESTION);
    EXPECT_FALSE(T.Clipboard.HasBitmap());
    EXPECT_EQ(F.ChildCount, 0);
    for (const char* name : {"baccentuer", "bannuler", "bduplique", "Dupliquer1"})
        EXPECT_FALSE(F.States.Enabled(name)) << name;
}

TEST_F(FrameLogicTest, ClipboardQuestionAloneWithoutDocuments)
{
    EXPECT_TRUE(F.FormClose());
    EXPECT_TRUE(T.Boxes.Calls.empty()); // empty clipboard: no question

    T.Clipboard.SetBitmap(Pattern(2, 2));
    T.Boxes.Answers = {IDNO};
    EXPECT_TRUE(F.FormClose());
    ASSERT_EQ(T.Boxes.Calls.size(), 1u);
    EXPECT_TRUE(T.Clipboard.HasBitmap());
}

TEST_F(FrameLogicTest, CommandsWithoutADocumentWindowDoNothing)
{
    Open("a.bmp");
    T.Windows.AddOtherWindow(); // the browser is active
    const auto calls = T.Boxes.Calls.size();
    F.baccentuerClick();
    F.brotateDClick();
    F.brecadrerClick();
    F.blplusClick();
    F.bannulerClick();
    F.bcopierClick();
    F.bdupliqueClick();
    F.btrameClick();
    F.bcontrasteClick();
    F.benrClick();
    EXPECT_EQ(T.Boxes.Calls.size(), calls);
    EXPECT_FALSE(T.Clipboard.HasBitmap());
    EXPECT_EQ(T.Windows.Open.size(), 2u);
    EXPECT_EQ(T.Windows.Open.back()->Document()->UndoCount(), 0);
}

TEST_F(FrameLogicTest, PasteCopyAndDuplicate)
{
    F.bcollerClick();
    ASSERT_EQ(T.Boxes.Calls.size(), 1u);
    EXPECT_EQ(T.Boxes.Calls[0].Text, "Pas d'image dans le Presse-papiers");
    EXPECT_TRUE(T.Windows.Open.empty());

    TDocument& a = Open("a.bmp");
    a.MouseDown(3, 3);
    a.MouseMove(20, 15, true);
    a.MouseUp(20, 15);
    ASSERT_TRUE(a.SelVisible);
    const TBitmap framed = Copy(a.Picture());
    F.bcopierClick();
    ASSERT_TRUE(T.Clipboard.HasBitmap());
    EXPECT_TRUE(SamePixels(*T.Clipboard.GetBitmap(), Pattern(40, 30))); // no frame
    EXPECT_TRUE(SamePixels(a.Picture(), framed));

    TDocument* copy = F.DuplicateChild(a);
    ASSERT_NE(copy, nullptr);
    EXPECT_TRUE(SamePixels(copy->Picture(), Pattern(40, 30)));
    EXPECT_TRUE(SamePixels(a.Picture(), framed));
    EXPECT_TRUE(a.SelVisible);
    EXPECT_EQ(copy->Caption(), "Sans nom(1:1)*");
    EXPECT_EQ(copy->UndoCount(), 0);
    EXPECT_FALSE(copy->SelVisible);

    F.bcollerClick();
    TDocument* pasted = F.ActiveDocument();
    ASSERT_NE(pasted, copy);
    EXPECT_EQ(pasted->FileName, "Sans nom");
    EXPECT_TRUE(SamePixels(pasted->Picture(), Pattern(40, 30)));
    EXPECT_EQ(F.ChildCount, 3);

    F.bscanClick(); // no scanner: nothing acquired, no window
    EXPECT_EQ(F.ChildCount, 3);
}

TEST_F(FrameLogicTest, SharpenWithASelectionAndUndoBringsBothBack)
{
    TDocument& d = Open("a.bmp");
    d.MouseDown(3, 3);
    d.MouseMove(20, 15, true);
    d.MouseUp(20, 15);
    const TBitmap framed = Copy(d.Picture());
    F.baccentuerClick();
    EXPECT_FALSE(d.SelVisible);
    EXPECT_EQ(F.States.Panel(3), "17 x 12");
    TBitmap expected = Pattern(40, 30);
    Convolve3x3(expected, SharpenKernel);
    EXPECT_TRUE(SamePixels(d.Picture(), expected));
    EXPECT_EQ(d.Caption(), "a.bmp(1:1)*");
    F.bannulerClick();
    EXPECT_TRUE(d.SelVisible);
    EXPECT_EQ(d.Selection, Rect(3, 3, 20, 15));
    EXPECT_TRUE(SamePixels(d.Picture(), framed));
    EXPECT_EQ(d.Caption(), "a.bmp(1:1)");
}

TEST_F(FrameLogicTest, CropTurnAndZoom)
{
    TDocument& d = Open("a.bmp", 640, 480);
    F.brotateDClick();
    EXPECT_EQ(d.Picture().Width(), 480);
    EXPECT_EQ(d.Picture().Height(), 640);
    EXPECT_FLOAT_EQ(d.Aspect, 640.0f / 480.0f);
    F.brotateGClick();
    EXPECT_TRUE(SamePixels(d.Picture(), Pattern(640, 480)));

    d.MouseDown(10, 20);
    d.MouseMove(110, 70, true);
    d.MouseUp(110, 70);
    EXPECT_EQ(F.States.Panel(3), "100 x 50");
    ASSERT_TRUE(F.States.Enabled("brecadrer"));
    F.brecadrerClick();
    EXPECT_EQ(d.Picture().Width(), 100);
    EXPECT_EQ(d.Picture().Height(), 50);
    EXPECT_EQ(F.States.Panel(1), "100 x 50");
    EXPECT_EQ(F.States.Panel(3), "0 x 0");
    EXPECT_FLOAT_EQ(d.Aspect, 0.5f);
    const TBitmap whole = Pattern(640, 480);
    EXPECT_EQ(d.Picture().GetPixelColor(0, 0), whole.GetPixelColor(10, 20));
    EXPECT_EQ(d.Picture().GetPixelColor(99, 49), whole.GetPixelColor(109, 69));
    EXPECT_EQ(d.UndoCount(), 3);

    F.blplusClick();
    EXPECT_EQ(d.Caption(), "a.bmp(2:1)*");
    EXPECT_EQ(d.UndoCount(), 3);
    F.blmoinsClick();
    F.blmoinsClick();
    EXPECT_EQ(d.Zoom, -1);
}

TEST_F(FrameLogicTest, CropOfASmallPartAtAStrongReductionStaysVisible)
{
    TDocument& d = Open("a.bmp", 400, 300);
    for (int i = 0; i < 20; ++i)
        F.blmoinsClick();
    ASSERT_EQ(d.Zoom, -20);
    d.Selection = Rect(0, 0, 5, 5); // shown at 1:21 as less than a pixel
    d.Trace();
    d.SelVisible = true;
    F.brecadrerClick();
    EXPECT_GE(d.DisplayWidth(), 1);
    EXPECT_GE(d.DisplayHeight(), 1);
}

TEST_F(FrameLogicTest, FiltersAndTurnsWorkInPlaceAndUndoGivesBackPictureAndFrame)
{
    // A 24 MB picture: large enough for its pixels to be mapped on their own.
    TDocument& d = Open("big.bmp", 2001, 1333);
    d.MouseDown(10, 10);
    d.MouseMove(300, 200, true);
    d.MouseUp(300, 200);
    ASSERT_TRUE(d.SelVisible);
    const TRect selection = d.Selection;
    TBitmap framed;
    framed.Assign(d.Picture()); // the frame is drawn in the picture

    F.baccentuerClick();
    EXPECT_FALSE(d.SelVisible);
    // The filter ran on the picture without its frame.
    TBitmap expected = Pattern(2001, 1333);
    Convolve3x3(expected, SharpenKernel);
    EXPECT_TRUE(SamePixels(d.Picture(), expected));

    F.bannulerClick();
    EXPECT_TRUE(SamePixels(d.Picture(), framed));
    EXPECT_TRUE(d.SelVisible);
    EXPECT_EQ(d.Selection, selection);
    d.annuleselection();
    EXPECT_TRUE(SamePixels(d.Picture(), Pattern(2001, 1333)));

    F.brotateDClick();
    EXPECT_EQ(d.Picture().Width(), 1333);
    EXPECT_EQ(d.Picture().Height(), 2001);
    EXPECT_FLOAT_EQ(d.Aspect, 2001.0f / 1333.0f);
    F.bannulerClick();
    EXPECT_TRUE(SamePixels(d.Picture(), Pattern(2001, 1333)));
}

TEST_F(FrameLogicTest, HalftoneCommandTakesTheFrameOffBeforeTheZoomChanges)
{
    TDocument& d = Open("a.bmp", 120, 90);
    F.blmoinsClick();
    F.blmoinsClick(); // pen width 3
    d.MouseDown(6, 6);
    d.MouseMove(30, 21, true);
    d.MouseUp(30, 21);
    ASSERT_TRUE(d.SelVisible);
    F.btrameClick();
    EXPECT_EQ(d.Zoom, 0);
    d.annuleselection();
    EXPECT_TRUE(SamePixels(d.Picture(), Pattern(120, 90)));
    // Without that window the user is told.
    ASSERT_FALSE(T.Boxes.Calls.empty());
    EXPECT_EQ(T.Boxes.Calls.back().Type, mtInformation);
}

TEST_F(FrameLogicTest, BrowserToggleWithoutTheBrowserComesBackUp)
{
    F.BparcourirClick(true);
    EXPECT_FALSE(F.States.Checked("Bparcourir"));
    EXPECT_FALSE(F.States.Checked("Parcourir1"));
    EXPECT_EQ(T.Boxes.Calls.size(), 1u);
}

TEST_F(FrameLogicTest, TilingSharesTheArea)
{
    const std::vector<TRect> h = TileRects(3, 300, 100, true);
    ASSERT_EQ(h.size(), 3u);
    EXPECT_EQ(h[0], Rect(0, 0, 300, 33));
    EXPECT_EQ(h[2], Rect(0, 66, 300, 100));
    const std::vector<TRect> v = TileRects(2, 301, 100, false);
    EXPECT_EQ(v[0], Rect(0, 0, 150, 100));
    EXPECT_EQ(v[1], Rect(150, 0, 301, 100));
    EXPECT_TRUE(TileRects(0, 10, 10, true).empty());
}

TEST_F(FrameLogicTest, TheCascadeGoesBackToTheCornerWhenTheNextWindowWouldPassTheBottom)
{
    // Windows of 200 x 150 in a wide, low area of 1000 x 300, a step of 30:
    // at 150 the sixth ends on the area's bottom edge; at 180 the seventh
    // would end at 330, below it, while its right edge (380) is far inside.
    TWindowCascade cascade;
    const std::vector<int> tops = {0, 30, 60, 90, 120, 150, 0, 30};
    for (std::size_t i = 0; i < tops.size(); ++i) {
        const TPoint at = cascade.Next(200, 150, 1000, 300, 30);
        EXPECT_EQ(at.X, tops[i]) << "window " << i + 1;
        EXPECT_EQ(at.Y, tops[i]) << "window " << i + 1;
    }

    // The same turned a quarter: the right edge stops it.
    TWindowCascade turned;
    for (std::size_t i = 0; i < tops.size(); ++i) {
        const TPoint at = turned.Next(150, 200, 300, 1000, 30);
        EXPECT_EQ(at.X, tops[i]) << "window " << i + 1;
        EXPECT_EQ(at.Y, tops[i]) << "window " << i + 1;
    }
}

} // namespace
