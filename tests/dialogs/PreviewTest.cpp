// The preview-then-apply pattern and the three tone dialogs, without
// windows: cancel and apply on the undo stack, a full stack, the selection
// frame, one start of work per showing, and the pause before a contrast
// preview on a clock turned by hand.

#include "DialogTest.h"

#include "Canvas.h"
#include "Exceptions.h"
#include "Numeric.h"
#include "PauseTimer.h"
#include "PreviewSession.h"
#include "ToneDialogs.h"
#include "photo.h"

#include <QElapsedTimer>

#include <gtest/gtest.h>

using namespace dlgtest;

namespace {

TBitmap Contrasted(const TBitmap& source, int curve, int position)
{
    TBitmap b = Copy(source);
    AutoContrast(b, curve, 1, StoreSingle(static_cast<Extended>(position) / 100));
    return b;
}

TBitmap Grey(const TBitmap& source, int mode)
{
    TBitmap b = Copy(source);
    ConvertToGrey(b, mode);
    return b;
}

// ---------------------------------------------------------------------------
// The session

TEST(PreviewSession, CloseWithoutApplyingRestoresPixelsAndUndoDepth)
{
    const TBitmap original = Pattern(23, 17);
    TTestDocument doc(original);
    doc->memorise(); // an earlier command
    const int depth = doc->UndoCount();
    doc->Modified = true;

    TFgrisLogic grey;
    grey.FormActivate(*doc);
    EXPECT_EQ(doc->UndoCount(), depth + 1);
    EXPECT_TRUE(SamePixels(doc->Picture(), Grey(original, 1))) << "the first preview runs at activation";
    grey.ChoiceClick(3);
    EXPECT_TRUE(SamePixels(doc->Picture(), Grey(original, 3))) << "each preview starts from the untouched copy";
    grey.FormClose();

    EXPECT_TRUE(SamePixels(doc->Picture(), original));
    EXPECT_EQ(doc->UndoCount(), depth);
    EXPECT_FALSE(grey.Session.Active());
}

TEST(PreviewSession, ApplyLeavesOneUndoStepThatBringsTheImageBack)
{
    const TBitmap original = Pattern(20, 12);
    TTestDocument doc(original);
    TFtrameLogic halftone;
    halftone.FormActivate(*doc);
    halftone.ChoiceClick(2);
    doc->Picture().Canvas().Pen.Mode = pmCopy;
    halftone.Apply();
    halftone.FormClose();

    TBitmap dithered = Copy(original);
    DitherFloydSteinberg(dithered);
    EXPECT_TRUE(SamePixels(doc->Picture(), dithered));
    EXPECT_EQ(doc->UndoCount(), 1);
    EXPECT_TRUE(doc->Modified);
    EXPECT_EQ(doc->Picture().Canvas().Pen.Mode, pmXor) << "the selection frame's pen is set again";

    doc->restitue();
    EXPECT_TRUE(SamePixels(doc->Picture(), original));
    EXPECT_EQ(doc->UndoCount(), 0);
    EXPECT_FALSE(doc->Modified);
}

TEST(PreviewSession, FullUndoStackStillRestoresAndKeepsTheNewerSnapshots)
{
    const TBitmap original = Pattern(9, 7);
    TTestDocument doc(original);
    // 100 commands, each changing the picture: snapshot k holds the picture
    // before command k + 1.
    for (int k = 0; k < TDocument::MaxUndo; ++k) {
        doc->memorise();
        TBitmap next = Copy(doc->Picture());
        next.ScanLine(0)[0] = static_cast<std::uint8_t>(k + 1);
        doc->SetPicture(next);
    }
    ASSERT_EQ(doc->UndoCount(), TDocument::MaxUndo);
    const TBitmap beforeDialog = Copy(doc->Picture());
    doc->Zoom = 2;
    DrawSelection(*doc, Rect(1, 1, 6, 5));
    const TBitmap framed = Copy(doc->Picture());

    TFgrisLogic grey;
    grey.FormActivate(*doc);
    // The dialog's snapshot takes the place of the oldest one.
    EXPECT_TRUE(grey.Session.SnapshotRecorded());
    EXPECT_EQ(doc->UndoCount(), TDocument::MaxUndo);
    EXPECT_FALSE(doc->SelVisible);
    EXPECT_TRUE(SamePixels(grey.Session.WorkBitmap(), beforeDialog)) << "the work copy has no frame";
    grey.FormClose();

    EXPECT_TRUE(SamePixels(doc->Picture(), framed)) << "the picture the dialog found, frame included";
    EXPECT_TRUE(doc->SelVisible);
    EXPECT_EQ(doc->Selection, Rect(1, 1, 6, 5));
    EXPECT_EQ(doc->Zoom, 2);
    EXPECT_EQ(doc->UndoCount(), TDocument::MaxUndo - 1);

    // The top snapshot is still the one from before the 100th command.
    doc->restitue();
    EXPECT_EQ(doc->Picture().ScanLine(0)[0], 99);
}

TEST(PreviewSession, SelectionFrameIsErasedBeforeTheCopyAndNotRedrawn)
{
    const TBitmap original = Pattern(30, 20);
    TTestDocument doc(original);
    DrawSelection(*doc, Rect(3, 4, 20, 15));
    ASSERT_FALSE(SamePixels(doc->Picture(), original));

    TPreviewSession session;
    ASSERT_TRUE(session.Begin(*doc));
    EXPECT_TRUE(SamePixels(session.WorkBitmap(), original));
    EXPECT_FALSE(doc->SelVisible);
    EXPECT_FALSE(doc->Moving);
    EXPECT_EQ(doc->Selection, Rect(-1, -1, -1, -1));
    // Erasing the frame draws it once more, which shows its size: 17 x 11.
    EXPECT_EQ(doc.States.Panel(3), "17 x 11");
    session.Apply();
    session.End();
    EXPECT_TRUE(SamePixels(doc->Picture(), original));
    EXPECT_FALSE(doc->SelVisible);
}

TEST(PreviewSession, EachDialogsActivationLeavesTheSelectionSizeShown)
{
    const TBitmap original = Pattern(30, 20);
    TManualClock clock;
    TFcontrasteLogic contrast(clock);
    TFgrisLogic grey;
    TFtrameLogic halftone;
    for (TToneDialogLogic* dialog : std::initializer_list<TToneDialogLogic*>{&contrast, &grey, &halftone}) {
        TTestDocument doc(original);
        DrawSelection(*doc, Rect(2, 5, 27, 9));
        dialog->FormActivate(*doc);
        EXPECT_EQ(doc.States.Panel(3), "25 x 4");
        EXPECT_FALSE(doc->SelVisible);
        dialog->FormClose();
    }
    // Without a selection the panel is left as it was.
    TTestDocument plain(original);
    plain.States.SetPanel(3, "0 x 0");
    grey.FormActivate(*plain);
    EXPECT_EQ(plain.States.Panel(3), "0 x 0");
    grey.FormClose();
}

TEST(PreviewSession, StartOfWorkRunsOncePerShowing)
{
    const TBitmap original = Pattern(16, 16);
    TTestDocument doc(original);
    TFgrisLogic grey;
    grey.FormActivate(*doc);
    EXPECT_EQ(doc->UndoCount(), 1);
    // A message box over the dialog gives the activation back to it: no
    // second snapshot, no new copy taken from the preview now shown.
    grey.FormActivate(*doc);
    grey.FormActivate(*doc);
    EXPECT_EQ(doc->UndoCount(), 1);
    EXPECT_TRUE(SamePixels(grey.Session.WorkBitmap(), original));
    grey.FormClose();
    EXPECT_TRUE(SamePixels(doc->Picture(), original));
    EXPECT_EQ(doc->UndoCount(), 0);

    // The next showing starts again, with the variant chosen last.
    grey.ChoiceClick(2); // outside a showing: nothing to preview
    EXPECT_TRUE(SamePixels(doc->Picture(), original));
    grey.FormActivate(*doc);
    EXPECT_EQ(doc->UndoCount(), 1);
    EXPECT_TRUE(SamePixels(doc->Picture(), Grey(original, 2)));
    grey.FormClose();
}

TEST(PreviewSession, ShowUntouchedRedisplaysTheWorkCopy)
{
    const TBitmap original = Pattern(12, 12);
    TTestDocument doc(original);
    TPreviewSession session;
    session.Begin(*doc);
    session.Preview([](TBitmap& b) { ConvertToGrey(b, 3); });
    const int redisplays = doc.View.Redisplays;
    session.ShowUntouched();
    EXPECT_TRUE(SamePixels(doc->Picture(), original));
    EXPECT_GT(doc.View.Redisplays, redisplays);
    session.End();
    EXPECT_EQ(doc->UndoCount(), 0);
}

// ---------------------------------------------------------------------------
// The tone dialogs

TEST(ToneDialogs, RoutinesAndVariants)
{
    const TBitmap original = Pattern(25, 19);
    TTestDocument doc(original);
    TManualClock clock;
    TFcontrasteLogic contrast(clock);
    contrast.FormActivate(*doc);
    EXPECT_TRUE(SamePixels(doc->Picture(), Contrasted(original, 1, 1))) << "curve 1 at 0.01 at first";
    contrast.ChoiceClick(3);
    EXPECT_TRUE(SamePixels(doc->Picture(), Contrasted(original, 3, 1)));
    contrast.TTvalChange(70);
    clock.Advance(500);
    EXPECT_TRUE(SamePixels(doc->Picture(), Contrasted(original, 3, 70)));
    contrast.FormClose();

    TFtrameLogic halftone;
    halftone.FormActivate(*doc);
    TBitmap ordered = Copy(original);
    DitherOrdered3x3(ordered);
    EXPECT_TRUE(SamePixels(doc->Picture(), ordered));
    halftone.ChoiceClick(7); // no such variant: the copy as it is
    EXPECT_TRUE(SamePixels(doc->Picture(), original));
    halftone.FormClose();
    EXPECT_EQ(doc->UndoCount(), 0);
}

TEST(ToneDialogs, ContrastStrengthZeroChangesNothing)
{
    const TBitmap original = Pattern(31, 9);
    TTestDocument doc(original);
    TManualClock clock;
    TFcontrasteLogic contrast(clock);
    EXPECT_EQ(TFcontrasteLogic::Strength(0), 0.0f);
    EXPECT_EQ(TFcontrasteLogic::Strength(1), 0.01f);
    EXPECT_EQ(TFcontrasteLogic::Strength(100), 1.0f);
    contrast.Position = 0;
    for (int curve = 1; curve <= 3; ++curve) {
        contrast.Choice = curve;
        contrast.FormActivate(*doc);
        EXPECT_TRUE(SamePixels(doc->Picture(), original)) << "curve " << curve;
        contrast.Apply();
        contrast.FormClose();
        EXPECT_TRUE(SamePixels(doc->Picture(), original));
    }
}

TEST(ToneDialogs, ContrastPreviewsOnce500MsAfterTheLastMovement)
{
    const TBitmap original = Pattern(18, 14);
    TTestDocument doc(original);
    TManualClock clock;
    TFcontrasteLogic contrast(clock);
    contrast.FormActivate(*doc);
    const int first = doc.View.Repaints;

    // A steady drag: a step every 100 ms for a second.
    for (int i = 1; i <= 10; ++i) {
        contrast.TTvalChange(10 * i);
        clock.Advance(100);
        EXPECT_EQ(doc.View.Repaints, first) << "no preview during the drag (step " << i << ")";
    }
    clock.Advance(399);
    EXPECT_EQ(doc.View.Repaints, first);
    EXPECT_TRUE(SamePixels(doc->Picture(), Contrasted(original, 1, 1)));
    clock.Advance(1);
    EXPECT_EQ(doc.View.Repaints, first + 1) << "one preview 500 ms after the last step";
    EXPECT_TRUE(SamePixels(doc->Picture(), Contrasted(original, 1, 100)));
    clock.Advance(5000);
    EXPECT_EQ(doc.View.Repaints, first + 1) << "and only one";
    EXPECT_FALSE(contrast.PauseC.Enabled());
    contrast.FormClose();
}

TEST(ToneDialogs, PendingContrastPreviewDoesNotFireAfterClose)
{
    const TBitmap original = Pattern(18, 14);
    TTestDocument doc(original);
    TManualClock clock;
    TFcontrasteLogic contrast(clock);
    contrast.FormActivate(*doc);
    contrast.TTvalChange(90);
    clock.Advance(200);
    contrast.FormClose();
    EXPECT_TRUE(SamePixels(doc->Picture(), original));
    EXPECT_EQ(clock.Pending(), 0u);
    const int repaints = doc.View.Repaints;
    clock.Advance(1000);
    EXPECT_EQ(doc.View.Repaints, repaints);
    EXPECT_TRUE(SamePixels(doc->Picture(), original));
    EXPECT_EQ(doc->UndoCount(), 0);

    // The slider's position stays for the next showing, which previews
    // with it at once.
    contrast.FormActivate(*doc);
    EXPECT_TRUE(SamePixels(doc->Picture(), Contrasted(original, 1, 90)));
    contrast.FormClose();
}

// ---------------------------------------------------------------------------
// The pause timer

TEST(PauseTimer, RestartAndKeepRunningModes)
{
    TManualClock clock;
    int restartFired = 0, keepFired = 0;
    TPauseTimer restart(clock, TPauseMode::RestartOnChange);
    TPauseTimer keep(clock, TPauseMode::KeepRunning);
    restart.OnTimer = [&] {
        restart.SetEnabled(false);
        ++restartFired;
    };
    keep.OnTimer = [&] {
        keep.SetEnabled(false);
        ++keepFired;
    };
    // Changes at 0, 300, 600 and 900 ms.
    for (int i = 0; i < 4; ++i) {
        restart.Changed();
        keep.Changed();
        clock.Advance(300);
    }
    // By 1200 ms: the running wait of the second timer fired at 500 and a
    // new one started at 600 fired at 1100; the first still waits.
    EXPECT_EQ(restartFired, 0);
    EXPECT_EQ(keepFired, 2);
    clock.Advance(199);
    EXPECT_EQ(restartFired, 0);
    clock.Advance(1);
    EXPECT_EQ(restartFired, 1) << "500 ms after the change at 900";
    EXPECT_EQ(keepFired, 2);
}

TEST(PauseTimer, EnabledTimerFiresEveryIntervalUntilStopped)
{
    TManualClock clock;
    int fired = 0;
    TPauseTimer timer(clock, TPauseMode::KeepRunning, 100);
    timer.OnTimer = [&] { ++fired; };
    timer.SetEnabled(true);
    timer.SetEnabled(true); // the same state: no second wait
    clock.Advance(350);
    EXPECT_EQ(fired, 3);
    timer.Stop();
    clock.Advance(1000);
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(clock.Pending(), 0u);
    timer.SetEnabled(true);
    {
        TPauseTimer gone(clock, TPauseMode::RestartOnChange);
        gone.Changed();
    }
    EXPECT_EQ(clock.Pending(), 1u) << "a destroyed timer leaves no call behind";
}

// Runs the event loop until done answers true, or 5 s have passed.
bool RunUntil(const std::function<bool()>& done)
{
    QElapsedTimer time;
    time.start();
    while (!done() && time.elapsed() < 5000)
        TApplication::ProcessMessages();
    return done();
}

TEST(PauseTimer, ProgramClockRunsDueCallsOnceAndDropsCancelledOnes)
{
    App();
    int early = 0, late = 0, cancelled = 0;
    {
        TQtClock clock;
        const ITimerClock::TTicket dropped = clock.Schedule(1, [&] { ++cancelled; });
        clock.Schedule(1, [&] { ++early; });
        clock.Schedule(30, [&] { ++late; });
        EXPECT_NE(dropped, 0u);
        clock.Cancel(dropped);
        clock.Cancel(dropped);
        clock.Cancel(987654);
        ASSERT_TRUE(RunUntil([&] { return late > 0; }));
        TApplication::ProcessMessages();
        EXPECT_EQ(early, 1);
        EXPECT_EQ(late, 1);
        EXPECT_EQ(cancelled, 0);

        // An error in a call goes to the error box; the clock goes on.
        Boxes().Calls.clear();
        clock.Schedule(0, [] { throw Exception("Panne du minuteur"); });
        clock.Schedule(5, [&] { ++early; });
        ASSERT_TRUE(RunUntil([&] { return early == 2; }));
        ASSERT_EQ(Boxes().Calls.size(), 1u);
        EXPECT_NE(Boxes().Calls[0].Text.find("Panne du minuteur"), std::string::npos);

        // A call still waiting when the clock goes is never made.
        clock.Schedule(0, [&] { ++cancelled; });
    }
    TApplication::ProcessMessages();
    TApplication::ProcessMessages();
    EXPECT_EQ(cancelled, 0);
}

} // namespace
