// Animated GIFs in a picture holder on the Qt event loop: the painter's
// frames reach the view through queued calls and the view repaints on the
// picture's changes; an inline painter ends when the program is asked to
// quit. The painters run on a manual clock.

#include "../gif/GifAnimation.h"
#include "GifEventLoop.h"
#include "PictureView.h"
#include "QtTestApp.h"

#include <QCoreApplication>
#include <QEvent>

#include <gtest/gtest.h>

using namespace gifanim;

namespace {

std::unique_ptr<TGifPicture> Animation(int loops)
{
    std::vector<FramePlan> frames;
    for (std::uint8_t i = 1; i <= 3; ++i) {
        FramePlan f;
        f.Width = 2;
        f.Height = 2;
        f.Pixels.assign(4, i);
        f.Delay = 5;
        frames.push_back(f);
    }
    return MakeAnimation(2, 2, {clWhite, clRed, clLime, clBlue}, frames, loops);
}

} // namespace

TEST(GifAnimationView, APictureViewPlaysAnAnimatedGif)
{
    TApplication& app = testqt::App();
    TGifEventLoop loop(app);
    TGIFManualClock clock;
    auto image = Animation(0);
    image->Clock = &clock;
    {
        TPictureView view;
        view.SetStretch(true);
        view.resize(4, 4);
        view.SetGraphic(image.get());
        view.show();
        TBitmap shot(4, 4);
        view.PaintTo(shot);
        EXPECT_EQ(Row(shot, 3), std::vector<TColor>(4, clRed));
        ASSERT_NE(image->DrawPainter(), nullptr);

        // The painter waits for its delay; when it has passed, its next
        // frame comes through the event loop and the view repaints.
        ASSERT_TRUE(testqt::WaitFor([&] { return !clock.Waits().empty(); }, 10000));
        const int paints = view.Paints();
        clock.Advance(clock.Waits().front());
        ASSERT_TRUE(testqt::WaitFor(
            [&] { return ColorToRGB(image->RenderedBitmap()->GetPixelColor(1, 1)) == clLime && view.Paints() > paints; },
            10000));
        view.PaintTo(shot);
        EXPECT_EQ(Row(shot, 0), std::vector<TColor>(4, clLime));
        view.SetGraphic(nullptr);
    }
    // The image goes with its painter still waiting: it waits for it.
    image.reset();
}

TEST(GifAnimationView, AnInlinePainterEndsWhenTheProgramIsAskedToQuit)
{
    TApplication& app = testqt::App();
    TGifEventLoop loop(app);
    TGIFManualClock clock;
    auto image = Animation(0);
    image->Clock = &clock;
    int painted = 0;
    image->FramePaintHandler = [&](TGIFPainter&) {
        if (++painted == 1)
            QCoreApplication::postEvent(&app, new QEvent(QEvent::Quit));
    };
    TBitmap target(2, 2);
    EXPECT_EQ(image->StartPainter(nullptr, target.Canvas(), poAnimate | poLoop | poLoopForever, TRect{0, 0, 2, 2}),
              nullptr);
    EXPECT_EQ(painted, 1);
}
