// The document model without any window: caption, zoom and pen width, the
// undo stack, the selection's XOR frame and its state machine.

#include "EditorTest.h"

#include "CommandStates.h"
#include "Document.h"
#include "PixelMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>

using namespace edtest;

namespace {

// The program's undo budget for the life of the object.
class UndoBudgetGuard {
public:
    explicit UndoBudgetGuard(std::size_t bytes) { TDocument::SetUndoBudget(bytes); }
    ~UndoBudgetGuard() { TDocument::SetUndoBudget(TDocument::DefaultUndoBudget()); }
    UndoBudgetGuard(const UndoBudgetGuard&) = delete;
    UndoBudgetGuard& operator=(const UndoBudgetGuard&) = delete;
};

class DocumentTest : public ::testing::Test {
protected:
    DocumentTest() : Doc(States)
    {
        InitOnce();
        Doc.SetPicture(Pattern(40, 30));
        Doc.FileName = "/photos/photo.jpg";
        Doc.SetXorPen();
        Doc.Affiche(0, 0);
    }
    ~DocumentTest() override { TDocument::SetUndoBudget(TDocument::DefaultUndoBudget()); }

    // A left drag in control pixels.
    void Drag(int x0, int y0, int x1, int y1)
    {
        Doc.MouseDown(x0, y0);
        Doc.MouseMove(x1, y1, true);
        Doc.MouseUp(x1, y1);
    }

    TCommandStates States;
    TDocument Doc;
};

TEST_F(DocumentTest, CaptionZoomTextAndPenWidthFollowTheZoomStep)
{
    EXPECT_EQ(Doc.Caption(), "photo.jpg(1:1)");
    Doc.Zoom = -2;
    Doc.Affiche(0, 0);
    EXPECT_EQ(Doc.Caption(), "photo.jpg(1:3)");
    EXPECT_EQ(Doc.PenWidth(), 3);
    EXPECT_FLOAT_EQ(Doc.Factor(), 1.0f / 3);
    Doc.Zoom = 1;
    Doc.Modified = true;
    Doc.Affiche(0, 0);
    EXPECT_EQ(Doc.Caption(), "photo.jpg(2:1)*");
    EXPECT_EQ(Doc.PenWidth(), 1);
    EXPECT_EQ(ZoomText(-9), "(1:10)");
    EXPECT_EQ(States.Panel(1), "40 x 30");
}

TEST_F(DocumentTest, UndoKeepsTheLastHundredSnapshots)
{
    // Operation k paints pixel (0,0) with value k: the picture before it holds k - 1.
    for (int k = 1; k <= 101; ++k) {
        Doc.memorise();
        Doc.Picture().SetPixelColor(0, 0, RGB(k, 0, 0));
    }
    EXPECT_EQ(Doc.UndoCount(), 100);
    EXPECT_EQ(GetRValue(Doc.Picture().GetPixelColor(0, 0)), 101);
    // Each undo takes back one operation, the last one first.
    for (int k = 101; k >= 2; --k) {
        Doc.restitue();
        ASSERT_EQ(GetRValue(Doc.Picture().GetPixelColor(0, 0)), k - 1) << k;
    }
    // The snapshot from before the first operation was the one that went.
    EXPECT_EQ(Doc.UndoCount(), 0);
    EXPECT_FALSE(States.Enabled("bannuler"));
    EXPECT_FALSE(States.Enabled("Annulerladernireaction1"));
    Doc.restitue();
    EXPECT_EQ(GetRValue(Doc.Picture().GetPixelColor(0, 0)), 1);
}

TEST_F(DocumentTest, UndoingAllThatIsLeftAfterOldSnapshotsWentKeepsTheDocumentModified)
{
    // 101 operations: the picture from the file (0 at (0,0)) is no longer
    // on the stack, so undoing all of it still leaves operation 1's result.
    for (int k = 1; k <= 101; ++k) {
        Doc.memorise();
        Doc.Picture().SetPixelColor(0, 0, RGB(k, 0, 0));
    }
    while (Doc.UndoCount() > 0)
        Doc.restitue();
    ASSERT_EQ(GetRValue(Doc.Picture().GetPixelColor(0, 0)), 1);
    EXPECT_TRUE(Doc.Modified);
    EXPECT_EQ(Doc.Caption(), "photo.jpg(1:1)*");
    EXPECT_TRUE(States.Enabled("benr"));

    // Likewise when the memory budget made a snapshot go.
    Doc.ReleaseUndo();
    Doc.Modified = false;
    Doc.SetUndoBudget(3600);
    Doc.memorise();
    Doc.memorise();
    ASSERT_EQ(Doc.UndoCount(), 1);
    Doc.restitue();
    EXPECT_TRUE(Doc.Modified);

    // A stack that lost nothing still brings the document back to its file.
    Doc.ReleaseUndo();
    Doc.SetUndoBudget(TDocument::DefaultUndoBudget());
    Doc.memorise();
    Doc.restitue();
    EXPECT_FALSE(Doc.Modified);
}

TEST_F(DocumentTest, UndoMemoryHasABudgetAndKeepsTheNewestSnapshot)
{
    // 40 x 30 at 24 bits: 120 bytes a row, 3,600 a snapshot.
    const std::size_t snapshot = 3600;
    Doc.SetUndoBudget(3 * snapshot - 1);
    for (int k = 1; k <= 5; ++k) {
        Doc.memorise();
        Doc.Picture().SetPixelColor(0, 0, RGB(k, 0, 0));
    }
    EXPECT_EQ(Doc.UndoCount(), 2);
    EXPECT_EQ(Doc.UndoBytes(), 2 * snapshot);
    Doc.restitue();
    EXPECT_EQ(GetRValue(Doc.Picture().GetPixelColor(0, 0)), 4);
    EXPECT_EQ(Doc.UndoBytes(), snapshot);
    // A budget smaller than one picture still keeps the last step.
    Doc.SetUndoBudget(10);
    Doc.memorise();
    Doc.Picture().SetPixelColor(0, 0, RGB(9, 0, 0));
    EXPECT_EQ(Doc.UndoCount(), 1);
    Doc.restitue();
    EXPECT_EQ(GetRValue(Doc.Picture().GetPixelColor(0, 0)), 4);
    EXPECT_EQ(Doc.UndoBytes(), 0u);
}

// Operation k on a document: a snapshot, then pixel (0,0) painted with k.
void Step(TDocument& document, int k)
{
    document.memorise();
    document.Picture().SetPixelColor(0, 0, RGB(k, 0, 0));
}

int Red(const TDocument& document)
{
    return GetRValue(document.Picture().GetPixelColor(0, 0));
}

TEST(DocumentUndoBudget, OneBudgetForAllDocumentsOldestSnapshotsFirst)
{
    InitOnce();
    // Room for four snapshots of 40 x 30 at 24 bits (3,600 bytes each) in
    // the whole program.
    const std::size_t snapshot = 3600;
    const UndoBudgetGuard budget(4 * snapshot);
    TCommandStates states;
    TDocument a(states), b(states);
    auto c = std::make_unique<TDocument>(states);
    for (TDocument* d : {&a, &b, c.get()}) {
        d->SetPicture(Pattern(40, 30));
        d->FileName = "/photos/photo.jpg";
    }
    Step(a, 1);
    Step(a, 2);
    Step(a, 3);
    Step(b, 4);
    EXPECT_EQ(TDocument::TotalUndoBytes(), 4 * snapshot);
    // The program's oldest snapshots go, whichever document holds them...
    Step(b, 5);
    EXPECT_EQ(a.UndoCount(), 2);
    EXPECT_EQ(b.UndoCount(), 2);
    Step(*c, 6);
    EXPECT_EQ(a.UndoCount(), 1);
    // ...but each other document keeps its newest one.
    Step(*c, 7);
    EXPECT_EQ(a.UndoCount(), 1);
    EXPECT_EQ(b.UndoCount(), 1);
    Step(*c, 8);
    EXPECT_EQ(a.UndoCount(), 1);
    EXPECT_EQ(b.UndoCount(), 1);
    EXPECT_EQ(c->UndoCount(), 2);
    EXPECT_EQ(TDocument::TotalUndoBytes(), 4 * snapshot);
    EXPECT_EQ(a.UndoBytes() + b.UndoBytes() + c->UndoBytes(), 4 * snapshot);

    // What is left undoes the latest operations; the documents whose older
    // snapshots went stay modified.
    a.restitue();
    EXPECT_EQ(Red(a), 2);
    EXPECT_TRUE(a.Modified);
    b.restitue();
    EXPECT_EQ(Red(b), 4);
    EXPECT_TRUE(b.Modified);
    c->restitue();
    EXPECT_EQ(Red(*c), 7);
    c->restitue();
    EXPECT_EQ(Red(*c), 6);
    EXPECT_TRUE(c->Modified);
    EXPECT_EQ(TDocument::TotalUndoBytes(), 0u);

    // A closed document gives its snapshots' memory back to the others.
    Step(*c, 9);
    Step(*c, 10);
    EXPECT_EQ(TDocument::TotalUndoBytes(), 2 * snapshot);
    c.reset();
    EXPECT_EQ(TDocument::TotalUndoBytes(), 0u);

    // A budget smaller than one picture: every document keeps its last step.
    TDocument::SetUndoBudget(10);
    Step(a, 11);
    Step(b, 12);
    Step(a, 13);
    EXPECT_EQ(a.UndoCount(), 1);
    EXPECT_EQ(b.UndoCount(), 1);
    a.restitue();
    EXPECT_EQ(Red(a), 11);
}

TEST(DocumentUndoBudget, AQuarterOfThePhysicalMemoryAtMostFourGigabytes)
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    std::uint64_t kb = 0;
    ASSERT_TRUE(meminfo >> key >> kb);
    ASSERT_EQ(key, "MemTotal:");
    const std::uint64_t expected = std::min<std::uint64_t>(kb * 1024 / 4, std::uint64_t{4} << 30);
    const std::uint64_t budget = TDocument::DefaultUndoBudget();
    EXPECT_LE(budget, std::uint64_t{4} << 30);
    // The kernel counts whole pages.
    EXPECT_NEAR(static_cast<double>(budget), static_cast<double>(expected), 1 << 20);
}

TEST_F(DocumentTest, UndoingEverythingClearsModifiedUnlessTheImageHasNoFile)
{
    const std::string before = Doc.Caption();
    Doc.restitue(); // empty stack: nothing, not even the caption
    EXPECT_EQ(Doc.Caption(), before);

    Doc.memorise();
    Doc.memorise();
    EXPECT_EQ(Doc.Caption(), "photo.jpg(1:1)*");
    EXPECT_TRUE(States.Enabled("bannuler"));
    Doc.restitue();
    EXPECT_EQ(Doc.Caption(), "photo.jpg(1:1)*");
    Doc.restitue();
    EXPECT_EQ(Doc.Caption(), "photo.jpg(1:1)");
    EXPECT_FALSE(Doc.Modified);
    EXPECT_FALSE(States.Enabled("benr"));

    Doc.FileName = UntitledName;
    Doc.memorise();
    Doc.restitue();
    EXPECT_TRUE(Doc.Modified);
    EXPECT_EQ(Doc.Caption(), "Sans nom(1:1)*");
}

TEST_F(DocumentTest, FrameIsAnXorRectangleThatASecondTraceRemoves)
{
    const TBitmap original = Pattern(40, 30);
    Doc.Selection = Rect(5, 5, 20, 15);
    Doc.Zoom = -2;
    Doc.Trace();
    EXPECT_EQ(States.Panel(3), "15 x 10");
    // Pen of three pixels: a pixel of the outline and the inside untouched.
    EXPECT_EQ(Doc.Picture().GetPixelColor(5, 10), original.GetPixelColor(5, 10) ^ 0xFFFFFF);
    EXPECT_EQ(Doc.Picture().GetPixelColor(6, 10), original.GetPixelColor(6, 10) ^ 0xFFFFFF);
    EXPECT_EQ(Doc.Picture().GetPixelColor(12, 10), original.GetPixelColor(12, 10));
    Doc.Trace();
    EXPECT_TRUE(SamePixels(Doc.Picture(), original));
}

TEST_F(DocumentTest, SelectionIsDrawnClampedMovedAndCancelled)
{
    const TBitmap original = Pattern(40, 30);
    Drag(10, 10, 4, 30);
    EXPECT_TRUE(Doc.SelVisible);
    EXPECT_EQ(Doc.Selection, Rect(4, 10, 10, 30));
    EXPECT_EQ(States.Panel(3), "6 x 20");
    EXPECT_TRUE(States.Enabled("brecadrer"));

    // Beyond the left edge the rectangle stops at 0.
    Drag(10, 5, -7, 12);
    EXPECT_EQ(Doc.Selection, Rect(0, 5, 10, 12));

    // A move that would cross the right edge keeps its horizontal place,
    // the vertical part still applies.
    Doc.MouseMove(5, 8, false);
    Doc.MouseDown(5, 8);
    EXPECT_TRUE(Doc.Moving);
    Doc.MouseMove(40, 10, true);
    EXPECT_EQ(Doc.Selection, Rect(0, 7, 10, 14));
    Doc.MouseUp(40, 10);
    EXPECT_TRUE(Doc.Moving); // until the next press outside

    // A press and release on one pixel cancels the selection and its frame.
    Doc.MouseDown(5, 10);
    Doc.MouseUp(5, 10);
    EXPECT_FALSE(Doc.SelVisible);
    EXPECT_EQ(States.Panel(3), "0 x 0");
    EXPECT_FALSE(States.Enabled("brecadrer"));
    EXPECT_TRUE(SamePixels(Doc.Picture(), original));
}

TEST_F(DocumentTest, PointerCoordinatesAreDividedByTheFactorAndRoundedHalfToEven)
{
    Doc.Zoom = 1; // factor 2
    Doc.MouseMove(5, 7, false);
    EXPECT_EQ(States.Panel(2), "x=2 y=4");
    Doc.Zoom = -1; // factor 1/2
    EXPECT_EQ(Doc.ToPicture(3), 6);
    EXPECT_EQ(Doc.MouseMove(3, 3, false), false);
}

TEST_F(DocumentTest, ASelectionClampedToNothingIsNoSelection)
{
    // Pressed on the right edge (x = width) and dragged further right.
    Doc.MouseDown(40, 5);
    Doc.MouseMove(55, 20, true);
    EXPECT_FALSE(Doc.SelVisible);
    Doc.MouseUp(55, 20);
    EXPECT_FALSE(States.Enabled("brecadrer"));
    EXPECT_TRUE(SamePixels(Doc.Picture(), Pattern(40, 30)));
    // Pressed on the top edge and dragged upward.
    Doc.MouseDown(5, 0);
    Doc.MouseMove(20, -9, true);
    EXPECT_FALSE(Doc.SelVisible);
}

TEST_F(DocumentTest, ZoomKeepsAtLeastOnePixelAndStaysWithinWidgetSizes)
{
    // 40 x 30 reduced until one side would round to no pixel at all.
    int steps = 0;
    while (Doc.ZoomBy(-1))
        ++steps;
    EXPECT_GE(Doc.DisplayWidth(), 1);
    EXPECT_GE(Doc.DisplayHeight(), 1);
    EXPECT_FALSE(Doc.ZoomAllowed(Doc.Zoom - 1));
    EXPECT_EQ(Doc.Zoom, -steps);
    Doc.MouseWheel(-1); // refused, no division by a zero size
    EXPECT_GE(Doc.DisplayHeight(), 1);

    EXPECT_FALSE(Doc.ZoomAllowed((1 << 24) / 40));
    EXPECT_TRUE(Doc.ZoomAllowed((1 << 24) / 40 - 2));
}

TEST_F(DocumentTest, WheelRedrawsTheFrameAtTheNewPenWidth)
{
    Drag(2, 2, 30, 20);
    Doc.MouseMove(30, 20, false);
    for (int i = 0; i < 3; ++i)
        Doc.MouseWheel(-1);
    EXPECT_EQ(Doc.Zoom, -3);
    EXPECT_EQ(Doc.Caption(), "photo.jpg(1:4)");
    Doc.annuleselection();
    EXPECT_TRUE(SamePixels(Doc.Picture(), Pattern(40, 30)));
}

TEST_F(DocumentTest, CloseQuestionAnswersDecideAndYesSavesThroughTheCallback)
{
    TScriptedMessageBoxes boxes;
    int saves = 0;
    EXPECT_TRUE(Doc.FormCloseQuery(boxes, [&] { ++saves; })); // not modified: no question
    EXPECT_TRUE(boxes.Calls.empty());

    Doc.Modified = true;
    boxes.Answers = {IDCANCEL, IDNO, IDYES};
    EXPECT_FALSE(Doc.FormCloseQuery(boxes, [&] { ++saves; }));
    EXPECT_FALSE(CloseConfirmed);
    EXPECT_TRUE(Doc.FormCloseQuery(boxes, [&] { ++saves; }));
    EXPECT_TRUE(CloseConfirmed);
    EXPECT_FALSE(Doc.FormCloseQuery(boxes, [&] { ++saves; })); // the save did not confirm
    EXPECT_EQ(saves, 1);
    ASSERT_EQ(boxes.Calls.size(), 3u);
    EXPECT_EQ(boxes.Calls[0].Text, "Voulez-vous enregistrer les changemements ?");
    EXPECT_EQ(boxes.Calls[0].Caption, "photo.jpg");
    EXPECT_EQ(boxes.Calls[0].Flags, MB_YESNOCANCEL | MB_ICONEXCLAMATION);
}

TEST(DocumentMemory, TheLastDocumentToGoGivesThePixelMemoryBack)
{
    InitOnce();
    TCommandStates states;
    auto first = std::make_unique<TDocument>(states);
    auto second = std::make_unique<TDocument>(states);
    for (TDocument* d : {first.get(), second.get()}) {
        d->SetPicture(Pattern(1500, 1000)); // 4.5 MB of pixels
        d->memorise();
        d->memorise();
    }
    pixelmemory::Trim();
    first.reset();
    // Another document is open: its next pictures may use what went.
    EXPECT_GE(pixelmemory::CachedBytes(), std::size_t{3} * 1500 * 1000);
    second.reset();
    EXPECT_EQ(pixelmemory::CachedBytes(), 0u);
}

} // namespace
