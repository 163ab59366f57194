// The GIF painter: delays, speed and overrun, loops, restart, halting,
// errors, the buffered composition of disposal methods, and the image's
// drawing of animations. Time comes from a manual clock: no test waits for
// a real delay.

#include "GifAnimation.h"

#include "Exceptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

using namespace gifanim;

namespace {

const std::vector<TColor> Colours{clWhite, clRed, clLime, clBlue};

std::unique_ptr<TGifPicture> ThreeFrames(std::vector<int> delays, int loops = -1)
{
    std::vector<FramePlan> frames;
    for (std::size_t i = 0; i < delays.size(); ++i) {
        FramePlan f;
        f.Width = 2;
        f.Height = 1;
        f.Pixels = {static_cast<std::uint8_t>(1 + i % 3), static_cast<std::uint8_t>(1 + i % 3)};
        f.Disposal = delays[i] < 0 ? -1 : 1;
        f.Delay = std::max(delays[i], 0);
        frames.push_back(f);
    }
    return MakeAnimation(2, 1, Colours, frames, loops);
}

// Counts the painter's events.
struct Events {
    int Starts = 0;
    int Paints = 0;
    int Done = 0;
    int Loops = 0;
    int Ends = 0;
    std::vector<int> Frames;
    void Attach(TGifPicture& image)
    {
        image.AnimationStartHandler = [this](TGIFPainter&) { ++Starts; };
        image.FramePaintHandler = [this](TGIFPainter& p) {
            ++Paints;
            Frames.push_back(p.CurrentFrame);
        };
        image.FrameDoneHandler = [this](TGIFPainter&) { ++Done; };
        image.LoopRestartHandler = [this](TGIFPainter&) { ++Loops; };
        image.AnimationEndHandler = [this](TGIFPainter&) { ++Ends; };
    }
};

constexpr std::uint16_t Threaded = poThreaded | poAnimate;
constexpr std::uint16_t Inline = poAnimate;

} // namespace

TEST(GifPainterTiming, ThreadedWaitsFollowDelaysSpeedAndOverrun)
{
    // No extension: 10 units; 1 counts as 3; 0 counts as 10; 250 as is.
    struct Case {
        int Speed;
        std::vector<int> Delays;
        std::vector<std::int64_t> Waits;
    };
    const Case cases[] = {
        {100, {-1, 1, 0, 250, 7}, {120, 36, 120, 3000}},
        {200, {-1, 2, 0, 250, 7}, {60, 18, 60, 1500}},
        {50, {-1, 3, 0, 250, 7}, {240, 72, 240, 6000}},
    };
    for (const Case& c : cases) {
        TGIFManualClock clock;
        auto image = ThreeFrames(c.Delays);
        image->Clock = &clock;
        image->PlaybackSpeed = c.Speed;
        TBitmap target(2, 1);
        TGIFPainter* painter = image->StartPainter(nullptr, target.Canvas(), Threaded, TRect{0, 0, 2, 1});
        ASSERT_NE(painter, nullptr);
        painter->Run();
        for (std::size_t i = 0; i < c.Waits.size(); ++i) {
            ASSERT_TRUE(PumpUntil([&] { return clock.Waits().size() > i; }));
            clock.Advance(clock.Waits()[i]);
        }
        ASSERT_TRUE(PumpUntil([&] { return painter->Finished(); }));
        EXPECT_EQ(clock.Waits(), c.Waits) << "speed " << c.Speed;
    }
}

TEST(GifPainterTiming, HalfOfALateFramesOverrunComesOffTheNextDelay)
{
    TGIFManualClock clock;
    auto image = ThreeFrames({10, 10, 10});
    image->Clock = &clock;
    TBitmap target(2, 1);
    TGIFPainter* painter = image->StartPainter(nullptr, target.Canvas(), Threaded, TRect{0, 0, 2, 1});
    painter->Run();
    ASSERT_TRUE(PumpUntil([&] { return clock.Waits().size() == 1; }));
    // 40 ms late: the next wait is 120 - 20.
    clock.Advance(160);
    ASSERT_TRUE(PumpUntil([&] { return clock.Waits().size() == 2; }));
    clock.Advance(100);
    ASSERT_TRUE(PumpUntil([&] { return painter->Finished(); }));
    EXPECT_EQ(clock.Waits(), (std::vector<std::int64_t>{120, 100}));
}

TEST(GifPainterTiming, InlineWaitsSleepInSlicesAndStopAtTwelveSeconds)
{
    TGIFManualClock clock;
    auto image = ThreeFrames({-1, 65535, 1});
    image->Clock = &clock;
    TBitmap target(2, 1);
    EXPECT_EQ(image->StartPainter(nullptr, target.Canvas(), Inline, TRect{0, 0, 2, 1}), nullptr);
    const auto sleeps = clock.Sleeps();
    // Frame 0 waits 1 ms (the inline first delay); frame 1 the default 120 ms
    // as 100 + 20; frame 2 the longest inline wait of 1000 units.
    std::int64_t total = 0;
    for (std::int64_t s : sleeps) {
        EXPECT_LE(s, 100);
        total += s;
    }
    EXPECT_EQ(total, 12 + 120 + 12000);
    EXPECT_EQ(sleeps.front(), 12);
}

TEST(GifPainterTiming, SpeedZeroShowsTheFirstFrameUntilHalted)
{
    TGIFManualClock clock;
    auto image = ThreeFrames({10, 10, 10});
    image->Clock = &clock;
    image->PlaybackSpeed = 0;
    Events events;
    events.Attach(*image);
    TBitmap target(2, 1);
    TGIFPainter* painter = image->StartPainter(nullptr, target.Canvas(), Threaded, TRect{0, 0, 2, 1});
    painter->Run();
    ASSERT_TRUE(PumpUntil([&] { return clock.Waits().size() == 1; }));
    clock.Advance(1000000);
    EXPECT_EQ(clock.Waits(), std::vector<std::int64_t>{-1});
    image->StopAllPainters();
    EXPECT_EQ(events.Paints, 1);
    EXPECT_EQ(image->PainterCount(), 0);
}

TEST(GifPainterTiming, AHugeDelayIsCutShortByAHalt)
{
    // The system clock: the painter would wait 65535 x 12 ms.
    auto image = ThreeFrames({65535, 65535, 65535});
    TBitmap target(2, 1);
    TGIFPainter* painter = image->StartPainter(nullptr, target.Canvas(), Threaded, TRect{0, 0, 2, 1});
    painter->Run();
    ASSERT_TRUE(PumpUntil([&] { return painter->HasPainted(); }));
    const auto start = std::chrono::steady_clock::now();
    image->StopAllPainters();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(image->PainterCount(), 0);
}

TEST(GifPainterLoops, CountsPassesAndRestarts)
{
    struct Case {
        int Loops;
        std::uint16_t Options;
        int Passes;
    };
    const Case cases[] = {
        {3, Inline | poLoop, 3},                  // three passes
        {0, Inline | poLoop, 1},                  // 0 inline without forever: one
        {3, Inline, 1},                           // poLoop clear: once
        {-1, Inline | poLoop, 1},                 // no looping extension: once
        {2, Inline | poLoop | poLoopForever, 0},  // forever: halted below
    };
    for (const Case& c : cases) {
        TGIFManualClock clock;
        auto image = ThreeFrames({5, 5, 5}, c.Loops);
        image->Clock = &clock;
        Events events;
        events.Attach(*image);
        if (c.Passes == 0)
            image->FrameDoneHandler = [&](TGIFPainter& p) {
                if (++events.Done == 12)
                    p.Halt();
            };
        TBitmap target(2, 1);
        image->StartPainter(nullptr, target.Canvas(), c.Options, TRect{0, 0, 2, 1});
        const int passes = c.Passes == 0 ? 4 : c.Passes;
        EXPECT_EQ(events.Paints, 3 * passes) << c.Loops << " " << c.Options;
        EXPECT_EQ(events.Loops, passes - 1);
        EXPECT_EQ(events.Starts, 1);
        // Told at the end of the animation, not after a halt.
        EXPECT_EQ(events.Ends, c.Passes == 0 ? 0 : 1);
    }
}

TEST(GifPainterLoops, ThreadedCountZeroLoopsUntilHalted)
{
    TGIFManualClock clock;
    auto image = ThreeFrames({5, 5, 5}, 0);
    image->Clock = &clock;
    image->PlaybackSpeed = -1; // no delays at all
    int done = 0;
    image->FrameDoneHandler = [&](TGIFPainter&) { ++done; };
    TBitmap target(2, 1);
    TGIFPainter* painter = image->StartPainter(nullptr, target.Canvas(), Threaded | poLoop, TRect{0, 0, 2, 1});
    painter->Run();
    ASSERT_TRUE(PumpUntil([&] { return done >= 30; }));
    EXPECT_FALSE(painter->Finished());
    image->StopAllPainters();
    EXPECT_TRUE(clock.Waits().empty());
}

TEST(GifPainterLoops, RestartPlaysFromFrameZeroAgain)
{
    TGIFManualClock clock;
    auto image = ThreeFrames({5, 5, 5});
    image->Clock = &clock;
    Events events;
    events.Attach(*image);
    image->FrameDoneHandler = [&](TGIFPainter& p) {
        if (++events.Done == 2)
            p.Restart();
    };
    TBitmap target(2, 1);
    image->StartPainter(nullptr, target.Canvas(), Inline, TRect{0, 0, 2, 1});
    EXPECT_EQ(events.Starts, 2);
    EXPECT_EQ(events.Frames, (std::vector<int>{0, 1, 0, 1, 2}));
}

TEST(GifPainterLoops, AFrameDoneHandlerMayMoveTheCurrentFrame)
{
    TGIFManualClock clock;
    auto image = ThreeFrames({5, 5, 5, 5});
    image->Clock = &clock;
    Events events;
    events.Attach(*image);
    image->FrameDoneHandler = [&](TGIFPainter& p) {
        if (p.CurrentFrame == 0)
            p.CurrentFrame = 2;
    };
    TBitmap target(2, 1);
    image->StartPainter(nullptr, target.Canvas(), Inline, TRect{0, 0, 2, 1});
    EXPECT_EQ(events.Frames, (std::vector<int>{0, 2, 3}));
}

TEST(GifPainterHalting, InlinePainterEndsWhenTheProgramIsAskedToQuit)
{
    TGIFManualClock clock;
    auto image = ThreeFrames({5, 5, 5});
    image->Clock = &clock;
    Events events;
    events.Attach(*image);
    int pumps = 0;
    SetGIFEventPump([&] { return ++pumps < 2; });
    TBitmap target(2, 1);
    image->StartPainter(nullptr, target.Canvas(), Inline, TRect{0, 0, 2, 1});
    SetGIFEventPump(nullptr);
    EXPECT_EQ(pumps, 2);
    EXPECT_EQ(events.Paints, 1);
    EXPECT_EQ(events.Ends, 0);
}

TEST(GifPainterHalting, DestroyingTheImageWhilePaintingWaitsForThePainter)
{
    TGIFManualClock clock;
    auto image = ThreeFrames({5, 5, 5}, 0);
    image->Clock = &clock;
    image->PlaybackSpeed = -1;
    int done = 0;
    image->FrameDoneHandler = [&](TGIFPainter&) { ++done; };
    TBitmap target(2, 1);
    TGIFPainter* painter = image->StartPainter(nullptr, target.Canvas(), Threaded | poLoop, TRect{0, 0, 2, 1});
    painter->Run();
    ASSERT_TRUE(PumpUntil([&] { return done >= 5; }));
    // The painter now waits for its next call on this thread.
    image.reset();
    SUCCEED();
}

TEST(GifPainterHalting, AHandlerMayDestroyTheImage)
{
    // A window closed from a frame handler takes its picture with it while
    // the painter thread waits for the handler to return: neither may wait
    // for the other, and the painter ends without touching the image.
    TGIFManualClock clock;
    auto image = ThreeFrames({5, 5, 5}, 0);
    image->Clock = &clock;
    image->PlaybackSpeed = -1;
    int done = 0;
    int ends = 0;
    image->FrameDoneHandler = [&](TGIFPainter&) {
        if (++done == 3)
            image.reset();
    };
    image->AnimationEndHandler = [&](TGIFPainter&) { ++ends; };
    TBitmap target(2, 1);
    TGIFPainter* painter = image->StartPainter(nullptr, target.Canvas(), Threaded | poLoop, TRect{0, 0, 2, 1});
    painter->Run();
    ASSERT_TRUE(PumpUntil([&] { return !image; }));
    // Nothing more is asked of this thread.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
    while (std::chrono::steady_clock::now() < end)
        GIFPumpSynchronizedFor(1);
    EXPECT_EQ(done, 3);
    EXPECT_EQ(ends, 0);
}

TEST(GifPainterHalting, AHandlerNestedInAnotherMayStopThePainterBelowIt)
{
    // The draw painter's handler runs the calls of a second painter while
    // it waits; the second painter's handler stops the draw painter, whose
    // thread waits for the outer handler: it cannot be waited for.
    TGIFManualClock clock;
    auto image = ThreeFrames({5, 5, 5}, 0);
    image->Clock = &clock;
    image->PlaybackSpeed = -1;
    TGIFPainter* drawPainter = nullptr;
    TGIFPainter* second = nullptr;
    bool nested = false;
    bool stopped = false;
    image->FrameDoneHandler = [&](TGIFPainter& p) {
        if (&p == second && nested && !stopped) {
            stopped = true;
            image->StopDrawPainter();
        } else if (&p == drawPainter && second && !nested) {
            nested = true;
            PumpUntil([&] { return stopped; });
        }
    };
    TBitmap target(2, 1);
    image->Draw(target.Canvas(), TRect{0, 0, 2, 1});
    drawPainter = image->DrawPainter();
    ASSERT_NE(drawPainter, nullptr);
    TBitmap other(2, 1);
    second = image->StartPainter(nullptr, other.Canvas(), Threaded | poLoop, TRect{0, 0, 2, 1});
    ASSERT_NE(second, nullptr);
    second->Run();
    ASSERT_TRUE(PumpUntil([&] { return stopped; }));
    // The draw painter ends once the outer handler has returned.
    EXPECT_TRUE(PumpUntil([&] { return image->DrawPainter() == nullptr; }));
    image.reset();
}

TEST(GifPainterHalting, APainterWhoseCanvasWentStops)
{
    TGIFManualClock clock;
    auto image = ThreeFrames({5, 5, 5}, 0);
    image->Clock = &clock;
    image->PlaybackSpeed = -1;
    auto target = std::make_unique<TBitmap>(2, 1);
    int paints = 0;
    image->FramePaintHandler = [&](TGIFPainter&) { ++paints; };
    TGIFPainter* painter = image->StartPainter(nullptr, target->Canvas(), Threaded | poLoop, TRect{0, 0, 2, 1});
    painter->Run();
    ASSERT_TRUE(PumpUntil([&] { return paints >= 3; }));
    target.reset();
    ASSERT_TRUE(PumpUntil([&] { return painter->Finished(); }));
    EXPECT_TRUE(painter->Terminated());
}

TEST(GifPainterHalting, TwoPaintersOnOneImage)
{
    TGIFManualClock clock;
    auto image = ThreeFrames({5, 5, 5}, 0);
    image->Clock = &clock;
    image->PlaybackSpeed = -1;
    TBitmap a(2, 1);
    TBitmap b(4, 2);
    int onA = 0;
    int onB = 0;
    image->FrameDoneHandler = [&](TGIFPainter& p) { ++(p.Canvas == &a.Canvas() ? onA : onB); };
    TGIFPainter* first = image->StartPainter(nullptr, a.Canvas(), Threaded | poLoop, TRect{0, 0, 2, 1});
    TGIFPainter* second = image->StartPainter(nullptr, b.Canvas(), Threaded | poLoop, TRect{0, 0, 4, 2});
    first->Run();
    second->Run();
    ASSERT_TRUE(PumpUntil([&] { return onA >= 10 && onB >= 10; }));
    EXPECT_EQ(image->PainterCount(), 2);
    image->StopAllPainters();
    EXPECT_EQ(image->PainterCount(), 0);
    // Each shows a frame of its own pace; b's frame covers all of b.
    const std::vector<TColor> frameColours{clRed, clLime, clBlue};
    EXPECT_NE(std::find(frameColours.begin(), frameColours.end(), Row(a, 0)[0]), frameColours.end());
    EXPECT_NE(std::find(frameColours.begin(), frameColours.end(), Row(b, 0)[0]), frameColours.end());
    EXPECT_EQ(Row(b, 0), std::vector<TColor>(4, Row(b, 0)[0]));
    EXPECT_EQ(Row(b, 1), Row(b, 0));
}

TEST(GifPainterErrors, AnInlineErrorReachesTheCallerOnce)
{
    TGIFManualClock clock;
    auto image = ThreeFrames({5, 5, 5});
    image->Clock = &clock;
    int calls = 0;
    image->FramePaintHandler = [&](TGIFPainter&) {
        ++calls;
        throw EInvalidGraphic("broken frame");
    };
    TBitmap target(2, 1);
    EXPECT_THROW(image->StartPainter(nullptr, target.Canvas(), Inline, TRect{0, 0, 2, 1}), EInvalidGraphic);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(image->PainterCount(), 0);
}

TEST(GifPainterErrors, AThreadedErrorIsReportedOnceAndNeverThrownByADestructor)
{
    TGIFManualClock clock;
    auto image = ThreeFrames({5, 5, 5});
    image->Clock = &clock;
    image->FramePaintHandler = [&](TGIFPainter&) { throw EInvalidGraphic("broken frame"); };
    std::vector<std::string> reported;
    image->PainterErrorHandler = [&](const std::string& m) { reported.push_back(m); };
    TBitmap target(2, 1);
    TGIFPainter* painter = image->StartPainter(nullptr, target.Canvas(), Threaded, TRect{0, 0, 2, 1});
    painter->Run();
    ASSERT_TRUE(PumpUntil([&] { return painter->Finished(); }));
    image->StopAllPainters();
    image->StopAllPainters();
    EXPECT_EQ(reported, std::vector<std::string>{"broken frame"});
    EXPECT_NO_THROW(image.reset());
}

TEST(GifPainterFrames, EmptyFramesArePassedOver)
{
    TGIFManualClock clock;
    FramePlan a;
    a.Width = 2;
    a.Pixels = {1, 1};
    FramePlan empty;
    empty.Width = 0;
    empty.Height = 0;
    FramePlan c;
    c.Width = 2;
    c.Pixels = {2, 2};
    auto image = MakeAnimation(2, 1, Colours, {a, empty, c});
    image->Clock = &clock;
    Events events;
    events.Attach(*image);
    TBitmap target(2, 1);
    image->StartPainter(nullptr, target.Canvas(), Inline, TRect{0, 0, 2, 1});
    EXPECT_EQ(events.Frames, (std::vector<int>{0, 2}));
    EXPECT_EQ(Row(target, 0), (std::vector<TColor>{clLime, clLime}));
}

// ---------------------------------------------------------------------------
// The buffered composition, frame by frame, on a 4 x 1 screen whose canvas
// starts yellow (what shows through transparent pixels).

namespace {

std::vector<std::vector<TColor>> Play(TGifPicture& image, std::uint16_t options)
{
    TGIFManualClock clock;
    image.Clock = &clock;
    image.PaintBackdropColor = clBlack;
    TBitmap target(4, 1);
    target.Canvas().Brush.Color = clYellow;
    target.Canvas().FillRect(TRect{0, 0, 4, 1});
    std::vector<std::vector<TColor>> shots;
    image.FrameDoneHandler = [&](TGIFPainter&) { shots.push_back(Row(target, 0)); };
    image.StartPainter(nullptr, target.Canvas(), options, TRect{0, 0, 4, 1});
    return shots;
}

// Frame 0 fills the screen red; frame 1 covers x 1..2 with blue, x 2
// transparent (index 0), with the given disposal; frame 2 draws lime at x 3.
std::unique_ptr<TGifPicture> Disposals(int second, int third = 1)
{
    FramePlan f0;
    f0.Width = 4;
    f0.Pixels = {1, 1, 1, 1};
    f0.Disposal = 1;
    FramePlan f1;
    f1.Left = 1;
    f1.Width = 2;
    f1.Pixels = {3, 0};
    f1.Disposal = second;
    f1.Transparent = 0;
    FramePlan f2;
    f2.Left = 3;
    f2.Width = 1;
    f2.Pixels = {2};
    f2.Disposal = third;
    return MakeAnimation(4, 1, Colours, {f0, f1, f2});
}

} // namespace

TEST(GifPainterComposition, EveryDisposalMethodFrameByFrame)
{
    const std::vector<TColor> first{clRed, clRed, clRed, clRed};
    const std::vector<TColor> second{clRed, clBlue, clRed, clRed};
    struct Case {
        int Disposal;
        std::vector<TColor> Third;
    };
    const Case cases[] = {
        {0, {clRed, clBlue, clRed, clLime}},
        {1, {clRed, clBlue, clRed, clLime}},
        // Restored to the canvas as it was (transparent painting).
        {2, {clRed, clYellow, clYellow, clLime}},
        // Restored to what frame 0 left.
        {3, {clRed, clRed, clRed, clLime}},
    };
    for (const Case& c : cases) {
        auto image = Disposals(c.Disposal);
        const auto shots = Play(*image, Inline | poTransparent);
        ASSERT_EQ(shots.size(), 3u) << c.Disposal;
        EXPECT_EQ(shots[0], first) << c.Disposal;
        EXPECT_EQ(shots[1], second) << c.Disposal;
        EXPECT_EQ(shots[2], c.Third) << c.Disposal;
    }
}

TEST(GifPainterComposition, OpaquePaintingRestoreToPreviousAndReservedMethods)
{
    using Shot = std::vector<TColor>;
    struct Case {
        const char* What;
        int Second;
        int Third;
        std::uint16_t Options;
        Shot AfterSecond;
        Shot AfterThird;
    };
    const Case cases[] = {
        // Opaque: index 0 shows white; disposal 2 restores the background
        // colour.
        {"opaque", 2, 1, Inline, {clRed, clBlue, clWhite, clRed}, {clRed, clBlack, clBlack, clLime}},
        // Disposal 3 after 1 draws on the canvas alone; disposal 3 after 3
        // goes through the scratch buffer: frame 1 is gone, frame 2 shows.
        {"previous", 3, 3, Inline | poTransparent, {clRed, clBlue, clRed, clRed}, {clRed, clRed, clRed, clLime}},
        // Method 5 beside method 2 is not drawn at all.
        {"reserved", 2, 5, Inline | poTransparent, {clRed, clBlue, clRed, clRed}, {clRed, clBlue, clRed, clRed}},
    };
    for (const Case& c : cases) {
        auto image = Disposals(c.Second, c.Third);
        const auto shots = Play(*image, c.Options);
        ASSERT_EQ(shots.size(), 3u) << c.What;
        EXPECT_EQ(shots[1], c.AfterSecond) << c.What;
        EXPECT_EQ(shots[2], c.AfterThird) << c.What;
    }
}

TEST(GifPainterComposition, FramesPastTheScreenAreClipped)
{
    FramePlan f0;
    f0.Width = 4;
    f0.Pixels = {1, 1, 1, 1};
    f0.Disposal = 2;
    FramePlan f1;
    f1.Left = 2;
    f1.Width = 4;
    f1.Pixels = {3, 3, 3, 3};
    f1.Disposal = 2;
    auto image = MakeAnimation(4, 1, Colours, {f0, f1});
    // As a file may have it: the second frame hangs 2 pixels past the
    // logical screen.
    image->Header.ScreenWidth = 4;
    const auto shots = Play(*image, Inline | poTransparent);
    ASSERT_EQ(shots.size(), 2u);
    EXPECT_EQ(shots[0], (std::vector<TColor>{clRed, clRed, clRed, clRed}));
    EXPECT_EQ(shots[1], (std::vector<TColor>{clYellow, clYellow, clBlue, clBlue}));
}

TEST(GifPainterComposition, FramesPastTheScreenStayInsideThePaintedRectangle)
{
    // The painter paints the left 4 pixels of a 6-pixel yellow canvas; the
    // second frame hangs 2 pixels past the logical screen. Whether it goes
    // straight to the canvas (no buffer, or restore-to-previous after a
    // kept frame) or through the saved screen, the 2 pixels right of the
    // rectangle stay yellow.
    for (int second : {1, 3}) {
        FramePlan f0;
        f0.Width = 4;
        f0.Pixels = {1, 1, 1, 1};
        f0.Disposal = 1;
        FramePlan f1;
        f1.Left = 2;
        f1.Width = 4;
        f1.Pixels = {3, 3, 3, 3};
        f1.Disposal = second;
        auto image = MakeAnimation(4, 1, Colours, {f0, f1});
        image->Header.ScreenWidth = 4;
        TGIFManualClock clock;
        image->Clock = &clock;
        TBitmap target(6, 1);
        target.Canvas().Brush.Color = clYellow;
        target.Canvas().FillRect(TRect{0, 0, 6, 1});
        std::vector<std::vector<TColor>> shots;
        image->FrameDoneHandler = [&](TGIFPainter&) { shots.push_back(Row(target, 0)); };
        image->StartPainter(nullptr, target.Canvas(), Inline, TRect{0, 0, 4, 1});
        ASSERT_EQ(shots.size(), 2u) << second;
        EXPECT_EQ(shots[1], (std::vector<TColor>{clRed, clRed, clBlue, clBlue, clYellow, clYellow})) << second;
    }
    // Drawn as a still picture, scaled to twice its size into a part of
    // the canvas, the same.
    FramePlan only;
    only.Left = 2;
    only.Width = 4;
    only.Pixels = {3, 3, 3, 3};
    auto still = MakeAnimation(4, 1, Colours, {only});
    still->Header.ScreenWidth = 4;
    TBitmap target(10, 1);
    target.Canvas().Brush.Color = clYellow;
    target.Canvas().FillRect(TRect{0, 0, 10, 1});
    still->Draw(target.Canvas(), TRect{0, 0, 8, 1});
    EXPECT_EQ(Row(target, 0), (std::vector<TColor>{clYellow, clYellow, clYellow, clYellow, clBlue, clBlue, clBlue,
                                                   clBlue, clYellow, clYellow}));
}

// ---------------------------------------------------------------------------
// The image's Draw

TEST(GifPictureDraw, AnAnimationStartsAPainterIntoTheCachedBitmap)
{
    auto image = ThreeFrames({5, 5, 5}, 0);
    TGIFManualClock clock;
    image->Clock = &clock;
    int changes = 0;
    image->OnChange = [&](TGraphic&) { ++changes; };
    TBitmap target(2, 1);
    image->Draw(target.Canvas(), TRect{0, 0, 2, 1});
    EXPECT_EQ(Row(target, 0), (std::vector<TColor>{clRed, clRed}));
    ASSERT_NE(image->DrawPainter(), nullptr);
    EXPECT_GT(changes, 0);
    // The painter moves on; the next Draw shows what the bitmap holds.
    ASSERT_TRUE(PumpUntil([&] { return !clock.Waits().empty(); }));
    clock.Advance(clock.Waits().front());
    ASSERT_TRUE(PumpUntil([&] { return ColorToRGB(image->RenderedBitmap()->GetPixelColor(0, 0)) == clLime; }));
    image->Draw(target.Canvas(), TRect{0, 0, 2, 1});
    EXPECT_EQ(Row(target, 0), (std::vector<TColor>{clLime, clLime}));
    image->StopDrawPainter();
    EXPECT_EQ(image->DrawPainter(), nullptr);
}

TEST(GifPictureDraw, FirstFramesThatPaintNothingLeaveFrameZeroShownAtOnce)
{
    // As files may hold them, each looping for ever: disposal methods 4 to 7
    // paint nothing, nor 3 after them; a frame without pixels is passed
    // over; a delay may be 65535 units (13 minutes). Draw returns with frame
    // 0 at once, and the animation goes on from there.
    struct Case {
        const char* Name;
        int FirstDisposal;
        int FirstDelay;
        FramePlan Second;
        TColor AfterTheDelay; // clNone: nothing painted
    };
    FramePlan lime;
    lime.Width = 2;
    lime.Height = 1;
    lime.Pixels = {2, 2};
    FramePlan limeRestored = lime;
    limeRestored.Disposal = 3;
    FramePlan noPixels;
    noPixels.Width = 0;
    noPixels.Height = 0;
    noPixels.Disposal = 2;
    FramePlan limeCleared = lime;
    limeCleared.Disposal = 2;
    const std::vector<Case> cases = {
        {"4 then 3", 4, 0, limeRestored, clNone},
        {"6 then 2 without pixels", 6, 0, noPixels, clNone},
        {"4 for 65535 units then 2", 4, 65535, limeCleared, clLime},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        FramePlan first;
        first.Width = 2;
        first.Height = 1;
        first.Pixels = {1, 3};
        first.Disposal = c.FirstDisposal;
        first.Delay = c.FirstDelay;
        TGIFManualClock clock;
        auto image = MakeAnimation(2, 1, Colours, {first, c.Second}, 0);
        image->Clock = &clock;
        TBitmap target(2, 1);
        image->Draw(target.Canvas(), TRect{0, 0, 2, 1});
        EXPECT_EQ(Row(target, 0), (std::vector<TColor>{clRed, clBlue}));
        EXPECT_NE(image->DrawPainter(), nullptr);
        if (c.AfterTheDelay != clNone) {
            ASSERT_TRUE(PumpUntil([&] { return !clock.Waits().empty(); }));
            EXPECT_EQ(clock.Waits().front(), 65535 * 12);
            clock.Advance(clock.Waits().front());
            EXPECT_TRUE(PumpUntil(
                [&] { return ColorToRGB(image->RenderedBitmap()->GetPixelColor(1, 0)) == c.AfterTheDelay; }));
        }
    }
}

TEST(GifPictureDraw, OneFrameOrNoAnimationDrawsFrameZeroWithoutAPainter)
{
    auto image = ThreeFrames({5, 5, 5});
    image->PaintOptions = static_cast<std::uint16_t>(image->PaintOptions & ~poAnimate);
    TBitmap target(2, 1);
    image->Draw(target.Canvas(), TRect{0, 0, 2, 1});
    EXPECT_EQ(Row(target, 0), (std::vector<TColor>{clRed, clRed}));
    EXPECT_EQ(image->PainterCount(), 0);
    EXPECT_EQ(image->DrawPainter(), nullptr);
}

namespace {

// A surface that cannot be read back, as a printer's page: drawing goes to
// a bitmap, reading it is not offered.
class TPageCanvas : public TCanvas {
public:
    explicit TPageCanvas(TBitmap& page) : FPage(page) {}
    void LineTo(int x, int y) override { FPage.Canvas().LineTo(x, y); }
    void Rectangle(int l, int t, int r, int b) override { FPage.Canvas().Rectangle(l, t, r, b); }
    void FillRect(const TRect& r) override { FPage.Canvas().FillRect(r); }
    TColor GetPixel(int x, int y) const override { return FPage.GetPixelColor(x, y); }
    void SetPixel(int x, int y, TColor c) override { FPage.Canvas().SetPixel(x, y, c); }
    void StretchBitmap(const TRect& d, const TBitmap& b, const TRect& s, TCopyMode m) override
    {
        FPage.Canvas().StretchBitmap(d, b, s, m);
    }
    void StretchBitmapTransparent(const TRect& d, const TBitmap& b, const TRect& s, TColor t) override
    {
        FPage.Canvas().StretchBitmapTransparent(d, b, s, t);
    }
    TRect ClipRect() const override { return TRect{0, 0, FPage.Width(), FPage.Height()}; }

private:
    TBitmap& FPage;
};

} // namespace

TEST(GifPictureDraw, APageThatCannotBeReadBackGetsFrameZeroWithoutAPainter)
{
    auto image = ThreeFrames({5, 5, 5});
    TBitmap page(2, 1);
    TPageCanvas canvas(page);
    image->Draw(canvas, TRect{0, 0, 2, 1});
    EXPECT_EQ(Row(page, 0), (std::vector<TColor>{clRed, clRed}));
    EXPECT_EQ(image->PainterCount(), 0);
    // A painter started on it directly finds a plain background.
    TGIFManualClock clock;
    image->Clock = &clock;
    image->StartPainter(nullptr, canvas, Inline | poClearBackground | poTransparent, TRect{0, 0, 2, 1});
    EXPECT_EQ(Row(page, 0), (std::vector<TColor>{clBlue, clBlue}));
}

TEST(GifPainterHalting, AHandlerMayStopItsOwnPainter)
{
    // The handler runs on this thread while the painter thread waits for
    // it: stopping must not wait for that thread.
    TGIFManualClock clock;
    auto image = ThreeFrames({5, 5, 5}, 0);
    image->Clock = &clock;
    image->PlaybackSpeed = -1;
    int done = 0;
    image->FrameDoneHandler = [&](TGIFPainter&) {
        if (++done == 3)
            image->StopDrawPainter();
    };
    TBitmap target(2, 1);
    image->Draw(target.Canvas(), TRect{0, 0, 2, 1});
    TGIFPainter* painter = image->DrawPainter();
    ASSERT_NE(painter, nullptr);
    ASSERT_TRUE(PumpUntil([&] { return done >= 3; }));
    ASSERT_TRUE(PumpUntil([&] { return painter->Finished(); }));
    EXPECT_EQ(done, 3);
    EXPECT_EQ(image->DrawPainter(), nullptr);
    image.reset();
}
