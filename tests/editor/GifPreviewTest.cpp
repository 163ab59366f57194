// A document window showing an animated GIF instead of its picture (the
// preview of a GIF save): the window redraws at each change of the image,
// so the animation plays there, and shows its own picture again after.

#include "../gif/GifAnimation.h"
#include "ChildWin.h"
#include "EditorTest.h"
#include "GifEventLoop.h"
#include "MainForm.h"
#include "QtTestApp.h"
#include "TestUtil.h"

#include <QAction>

#include <gtest/gtest.h>

using namespace edtest;
using namespace gifanim;

TEST(GifPreviewWindow, TheDocumentWindowPlaysAGifItShows)
{
    App();
    ResetScripts();
    TMemoryClipboard clipboard;
    TRecordingDesktop shell;
    testutil::TempDir dir;
    TMainFormServices services;
    services.Clipboard = &clipboard;
    services.Shell = &shell;
    auto form = std::make_unique<TMainForm>(services);
    form->resize(800, 600);
    form->show();
    const std::string path = dir.File("doc.bmp");
    SaveBmp(Pattern(8, 8), path);
    Dialogs().Answers.push_back(path);
    form->Action("bouvrir")->trigger();
    TApplication::ProcessMessages();
    TMDIChild* child = form->ActiveDocumentWindow();
    ASSERT_NE(child, nullptr);

    TGifEventLoop loop(App());
    TGIFManualClock clock;
    std::vector<FramePlan> frames;
    for (std::uint8_t i = 1; i <= 2; ++i) {
        FramePlan f;
        f.Width = 3;
        f.Height = 2;
        f.Pixels.assign(6, i);
        f.Delay = 10;
        frames.push_back(f);
    }
    auto image = MakeAnimation(3, 2, {clWhite, clRed, clLime}, frames, 0);
    image->Clock = &clock;

    child->ShowGraphic(image.get());
    ASSERT_EQ(child->ShownPicture().Width(), 3);
    ASSERT_EQ(child->ShownPicture().Height(), 2);
    EXPECT_EQ(ColorToRGB(child->ShownPicture().GetPixelColor(2, 1)), clRed);
    ASSERT_TRUE(testqt::WaitFor([&] { return !clock.Waits().empty(); }, 10000));
    clock.Advance(clock.Waits().front());
    EXPECT_TRUE(testqt::WaitFor(
        [&] { return ColorToRGB(child->ShownPicture().GetPixelColor(2, 1)) == clLime; }, 10000));

    child->ShowGraphic(nullptr);
    EXPECT_EQ(&child->ShownPicture(), &child->Document()->Picture());
    image.reset();
    form.reset();
    TApplication::ProcessMessages();
}
