// The single-picture dialog's layout: orientation, margins, slots, labels
// and the preview, without widgets and without printing.

#include "CommandStates.h"
#include "Document.h"
#include "Impression.h"
#include "PrintTest.h"
#include "Printer.h"

#include <gtest/gtest.h>

using namespace prtest;

namespace {

constexpr TColor Red = RGB(255, 0, 0);
constexpr TColor Grey = RGB(191, 191, 191);

struct TLayout {
    TApplication& Application = App();
    TScriptedPrintDialog Dialog;
    TPagePrint Logic{Printer(), Dialog};

    // A picture of width x height, the dialog shown for it.
    TLayout(int width, int height, int mode = FullPage)
    {
        App();
        Logic.Mode = mode;
        Logic.SetPicture(std::make_unique<TBitmap>(Solid(width, height, Red)),
                         static_cast<float>(height) / static_cast<float>(width));
        Logic.FormShow();
    }
};

TEST(PageLayout, WidePictureOnAFullPageFitsTheHeightAndMovesTheSlider)
{
    TLayout t(1600, 1200);
    EXPECT_FALSE(t.Logic.Portrait());
    EXPECT_EQ(t.Logic.ImageWidthMM, 280);
    EXPECT_EQ(t.Logic.ImageHeightMM, 210);
    EXPECT_EQ(t.Logic.Margin, 8);
    EXPECT_EQ(t.Logic.LabelH, "Horizontale : 8 mm");
    EXPECT_EQ(t.Logic.LabelV, "Verticale : 0 mm");
    EXPECT_EQ(t.Logic.Dimensions, "28,0 cm X 21,0 cm.");
    EXPECT_EQ(t.Logic.SheetRect(), Rect(8, 0, 288, 210));
}

TEST(PageLayout, TallPictureOnAFullPageIsCentredOnThePortraitSheet)
{
    TLayout t(1200, 1600);
    EXPECT_TRUE(t.Logic.Portrait());
    EXPECT_EQ(t.Logic.ImageWidthMM, 210);
    EXPECT_EQ(t.Logic.ImageHeightMM, 280);
    EXPECT_EQ(t.Logic.LabelV, "Verticale : 8 mm");
    EXPECT_EQ(t.Logic.SlotCentreX[0], 105);
    EXPECT_EQ(t.Logic.SlotCentreY[0], 148);
    EXPECT_EQ(t.Logic.SheetRect(), Rect(0, 8, 210, 288));
}

TEST(PageLayout, HalfPageComputesAgainForTheMarginItSet)
{
    // 210 x 157.5 rounds to the even 158, too tall: 197 wide and margin 6;
    // margin 6 gives 198 x 148.5, which rounds to the even 148.
    TLayout t(1600, 1200, HalfPage);
    EXPECT_TRUE(t.Logic.Portrait());
    EXPECT_EQ(t.Logic.ImageWidthMM, 198);
    EXPECT_EQ(t.Logic.ImageHeightMM, 148);
    EXPECT_EQ(t.Logic.Margin, 6);
    EXPECT_EQ(t.Logic.LabelH, "Horizontale : 6 mm");
    EXPECT_EQ(t.Logic.LabelV, "Verticale : 0 mm");
    EXPECT_EQ(t.Logic.Dimensions, "19,8 cm X 14,8 cm.");
}

TEST(PageLayout, SquarePictureTurnsTheSheetByMode)
{
    TLayout t(500, 500);
    EXPECT_FALSE(t.Logic.Portrait());
    t.Logic.PleinClick(QuarterPage);
    EXPECT_FALSE(t.Logic.Portrait());
    EXPECT_EQ(t.Logic.ImageWidthMM, 105);
    EXPECT_EQ(t.Logic.ImageHeightMM, 105);
    t.Logic.PleinClick(HalfPage);
    EXPECT_TRUE(t.Logic.Portrait());
    EXPECT_EQ(t.Logic.ImageWidthMM, 148);
    EXPECT_EQ(t.Logic.ImageHeightMM, 148);
    EXPECT_EQ(t.Logic.Margin, 31);
}

TEST(PageLayout, MoverCyclesThroughTheSlotsOfTheMode)
{
    TLayout t(1200, 1600, QuarterPage);
    std::vector<int> visited{t.Logic.SlotIndex};
    for (int i = 0; i < 4; ++i) {
        t.Logic.deplacerClick();
        visited.push_back(t.Logic.SlotIndex);
    }
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 2, 3, 0}));
    // Portrait quarter slots: (52, 74), (157, 74), (52, 222), (157, 222).
    t.Logic.deplacerClick();
    t.Logic.deplacerClick();
    EXPECT_EQ(t.Logic.SlotCentreX[2], 52);
    EXPECT_EQ(t.Logic.SlotCentreY[2], 222);
    const TRect r = t.Logic.SheetRect();
    EXPECT_EQ((r.Left + r.Right) / 2, 52);

    t.Logic.PleinClick(HalfPage);
    visited = {t.Logic.SlotIndex};
    for (int i = 0; i < 2; ++i) {
        t.Logic.deplacerClick();
        visited.push_back(t.Logic.SlotIndex);
    }
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 0}));

    t.Logic.PleinClick(FullPage);
    t.Logic.deplacerClick();
    EXPECT_EQ(t.Logic.SlotIndex, 0);
}

TEST(PageLayout, ChangingTheModePutsThePictureBackInSlotZeroWithNoMargin)
{
    TLayout t(1200, 1600, QuarterPage);
    t.Logic.deplacerClick();
    t.Logic.HmargeChange(20);
    ASSERT_EQ(t.Logic.SlotIndex, 1);
    ASSERT_EQ(t.Logic.Margin, 20);
    t.Logic.PleinClick(HalfPage);
    EXPECT_EQ(t.Logic.SlotIndex, 0);
    // A tall picture on a half page turns the sheet: 148 across, the
    // margin then only what fitting the height asks.
    EXPECT_FALSE(t.Logic.Portrait());
    EXPECT_EQ(t.Logic.ImageHeightMM, 197);
    EXPECT_EQ(t.Logic.Margin, 0);
}

TEST(PageLayout, MovingDoesNotComputeTheMarginsAgain)
{
    TLayout t(1600, 1200, QuarterPage);
    t.Logic.HmargeChange(10);
    const int width = t.Logic.ImageWidthMM;
    const int margin = t.Logic.Margin;
    t.Logic.deplacerClick();
    EXPECT_EQ(t.Logic.ImageWidthMM, width);
    EXPECT_EQ(t.Logic.Margin, margin);
}

TEST(PageLayout, QuarterPageMarginIsBoundSoThePictureNeverTurnsOver)
{
    // Portrait quarter slots are 105 mm across: the slider's 60 mm would
    // leave -15 mm of picture.
    TLayout t(1000, 1500, QuarterPage);
    ASSERT_TRUE(t.Logic.Portrait());
    EXPECT_EQ(t.Logic.MarginMaximum(), 52);
    t.Logic.HmargeChange(60);
    EXPECT_EQ(t.Logic.Margin, 52);
    EXPECT_EQ(t.Logic.LabelH, "Horizontale : 52 mm");
    EXPECT_GE(t.Logic.ImageWidthMM, 1);
    EXPECT_GE(t.Logic.ImageHeightMM, 1);
    const TRect r = t.Logic.SheetRect();
    EXPECT_GT(r.Right, r.Left);
    EXPECT_GT(r.Bottom, r.Top);
    EXPECT_EQ(t.Logic.Dimensions.find('-'), std::string::npos) << t.Logic.Dimensions;

    // The other modes keep the slider's full range.
    t.Logic.PleinClick(FullPage);
    EXPECT_EQ(t.Logic.MarginMaximum(), 60);
    t.Logic.PleinClick(HalfPage);
    EXPECT_EQ(t.Logic.MarginMaximum(), 60);
}

TEST(PageLayout, CentimetreTextAlwaysHasADigitBeforeTheComma)
{
    EXPECT_EQ(CentimetreText(190), "19,0");
    EXPECT_EQ(CentimetreText(5), "0,5");
    EXPECT_EQ(CentimetreText(0), "0,0");
    EXPECT_EQ(CentimetreText(1234), "123,4");
    EXPECT_EQ(CentimetreText(-5), "-0,5");
    EXPECT_EQ(CentimetreText(-25), "-2,5");
}

TEST(PageLayout, OddSizesPrintAsTheLabelSays)
{
    // A quarter of a portrait sheet leaves an odd width for every margin.
    TLayout tall(1000, 1400, QuarterPage);
    ASSERT_TRUE(tall.Logic.Portrait());
    tall.Logic.HmargeChange(10);
    EXPECT_EQ(tall.Logic.ImageWidthMM, 85);
    EXPECT_EQ(tall.Logic.SheetRect().Width(), 85);
    EXPECT_EQ(tall.Logic.SheetRect().Height(), tall.Logic.ImageHeightMM);
}

TEST(PagePreview, ShowsTheSheetTheDashesAndThePicture)
{
    TLayout t(1600, 1200, FullPage);
    const TBitmap& page = t.Logic.Page;
    // Landscape: the sheet from y = 43 to 253, grey above and below.
    EXPECT_EQ(page.GetPixelColor(150, 20), Grey);
    EXPECT_EQ(page.GetPixelColor(150, 270), Grey);
    EXPECT_EQ(page.GetPixelColor(3, 150), clWhite);
    // The picture at (8, 0)-(288, 210) on the sheet.
    EXPECT_EQ(page.GetPixelColor(8, 43), Red);
    EXPECT_EQ(page.GetPixelColor(287, 252), Red);
    EXPECT_EQ(page.GetPixelColor(7, 150), clWhite);
    EXPECT_EQ(page.GetPixelColor(288, 150), clWhite);

    // A quarter page: dashed black lines across the middles of the sheet.
    t.Logic.PleinClick(QuarterPage);
    int dark = 0;
    for (int x = 0; x < TPagePrint::PreviewSize; ++x)
        if (page.GetPixelColor(x, 148) == clBlack)
            ++dark;
    EXPECT_GT(dark, 0);
    EXPECT_LT(dark, TPagePrint::PreviewSize); // dashed, not solid
}

TEST(PagePreview, NeverShowsTheSelectionFrame)
{
    App();
    TCommandStates states;
    TDocument document(states);
    document.SetPicture(Solid(160, 120, Red));
    document.Aspect = 0.75f;
    document.SetXorPen();
    document.Selection = Rect(10, 10, 150, 110);
    document.Trace();
    document.SelVisible = true;
    ASSERT_NE(document.Picture().GetPixelColor(10, 10), Red);

    TScriptedPrintDialog dialog;
    TPagePrint logic(Printer(), dialog);
    logic.FormActivate(document);
    for (int y = 43; y < 253; ++y)
        for (int x = 8; x < 288; ++x)
            ASSERT_EQ(logic.Page.GetPixelColor(x, y), Red) << x << "," << y;
    // The document keeps its frame.
    EXPECT_TRUE(document.SelVisible);
    EXPECT_NE(document.Picture().GetPixelColor(10, 10), Red);
}

TEST(PagePreview, WithoutAPictureThereIsNothingToPrint)
{
    App();
    TScriptedPrintDialog dialog;
    dialog.Answers.push_back("/nonexistent/never.pdf");
    TPagePrint logic(Printer(), dialog);
    logic.FormShow();
    EXPECT_FALSE(logic.LanceImpClick());
    EXPECT_EQ(dialog.Calls, 0);
    EXPECT_EQ(logic.Page.GetPixelColor(150, 150), clWhite);
}

} // namespace
