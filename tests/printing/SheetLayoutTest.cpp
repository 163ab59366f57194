// The contact-sheet dialog's grid, counts, labels, preview and captions,
// without widgets and without printing.

#include "ImpVignettes.h"
#include "PrintTest.h"
#include "Printer.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

using namespace prtest;

namespace {

struct TSheets {
    TApplication& Application = App();
    TScriptedPrintDialog Dialog;
    TFakeBrowser Browser;
    bool BrowserOpen = true;
    TContactSheets Logic{Printer(), Dialog, [this]() -> IContactSheetSource* { return BrowserOpen ? &Browser : nullptr; }};

    explicit TSheets(int files = 0)
    {
        App();
        Browser.Folder = "/photos";
        for (int i = 0; i < files; ++i)
            Browser.Names.push_back("photo" + std::to_string(i) + ".jpg");
        Logic.FormCreate();
    }
};

TEST(SheetGrid, SizesGapsAndCells)
{
    struct TExpected {
        int Cell, Columns, Rows, PerPage, GapX, GapY, Font;
    };
    const TExpected expected[] = {
        {30, 6, 7, 42, 4, 10, 8}, {40, 4, 5, 20, 10, 16, 9}, {50, 3, 4, 12, 15, 19, 10},
        {60, 3, 4, 12, 7, 11, 11}, {80, 2, 3, 6, 16, 14, 12},
    };
    const char* texts[] = {"3 x 3 cm", "4 x 4 cm", "5 x 5 cm", "6 x 6 cm", "8 x 8 cm"};
    for (int i = 0; i < SheetSizeCount; ++i) {
        const TSheetSize& size = SheetSize(i);
        SCOPED_TRACE(size.Text);
        EXPECT_STREQ(size.Text, texts[i]);
        EXPECT_EQ(size.Cell, expected[i].Cell);
        EXPECT_EQ(size.PerPage(), expected[i].PerPage);
        EXPECT_EQ(size.GapX(), expected[i].GapX);
        EXPECT_EQ(size.GapY(), expected[i].GapY);
        EXPECT_EQ(size.FontSize, expected[i].Font);
        // The last cell stays on the page, with its caption's 2 mm below.
        const TRect last = size.CellRect(size.Columns - 1, size.Rows - 1);
        EXPECT_LE(last.Right, 210);
        EXPECT_LE(last.Bottom + 2, 297);
    }
    EXPECT_EQ(SheetSize(2).CellRect(1, 2), Rect(15 + 65, 19 + 2 * 69, 15 + 65 + 50, 19 + 2 * 69 + 50));
}

TEST(SheetGrid, CountsAndLabelsForTheBrowsersList)
{
    struct TCase {
        int Files, Size;
        const char* Count;
        const char* Pages;
        const char* Word;
        const char* PerPage;
    };
    const TCase cases[] = {
        {0, 0, "0 miniature à imprimer.", "0", "page.", "42"},
        {1, 0, "1 miniature à imprimer.", "1", "page.", "42"},
        {12, 2, "12 miniatures à imprimer.", "1", "page.", "12"},
        {42, 0, "42 miniatures à imprimer.", "1", "page.", "42"},
        {43, 0, "43 miniatures à imprimer.", "2", "pages.", "42"},
        {43, 4, "43 miniatures à imprimer.", "8", "pages.", "6"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.Files) + " files, size " + std::to_string(c.Size));
        TSheets t(c.Files);
        t.Logic.taillesVChange(c.Size);
        EXPECT_EQ(t.Logic.Label6, c.Count);
        EXPECT_EQ(t.Logic.Label3, c.Pages);
        EXPECT_EQ(t.Logic.Label4, c.Word);
        EXPECT_EQ(t.Logic.Label2, c.PerPage);
    }
}

TEST(SheetGrid, WithoutABrowserNothingChanges)
{
    TSheets t(5);
    t.Logic.FormPaint();
    ASSERT_EQ(t.Logic.Label6, "5 miniatures à imprimer.");
    t.BrowserOpen = false;
    t.Logic.taillesVChange(4);
    EXPECT_EQ(t.Logic.ItemIndex, 4);
    EXPECT_EQ(t.Logic.Label6, "5 miniatures à imprimer.");
    EXPECT_EQ(t.Logic.Label2, "42");
    EXPECT_FALSE(t.Logic.ImprimerClick());
}

TEST(SheetGrid, FirstPaintChoosesTheSmallestSizeLaterShowingsKeepTheChoice)
{
    TSheets t(3);
    t.Logic.ItemIndex = 3;
    t.Logic.FormPaint();
    EXPECT_EQ(t.Logic.ItemIndex, 0);
    t.Logic.taillesVChange(2);
    t.Logic.FormPaint();
    t.Logic.FormActivate();
    EXPECT_EQ(t.Logic.ItemIndex, 2);
    EXPECT_EQ(t.Logic.Label2, "12");
}

TEST(SheetGrid, PreviewShowsEveryCellInBlueAtHalfAPixelAMillimetre)
{
    TSheets t(1);
    t.Logic.taillesVChange(4); // 8 x 8: cells at x 16 and 112, y 14, 108, 202
    const TBitmap& preview = t.Logic.Imod;
    ASSERT_EQ(preview.Width(), 105);
    ASSERT_EQ(preview.Height(), 148);
    int blue = 0;
    for (int y = 0; y < preview.Height(); ++y)
        for (int x = 0; x < preview.Width(); ++x)
            if (preview.GetPixelColor(x, y) == clBlue)
                ++blue;
    EXPECT_EQ(blue, 6 * 40 * 40);
    EXPECT_EQ(preview.GetPixelColor(8, 7), clBlue);
    EXPECT_EQ(preview.GetPixelColor(47, 46), clBlue);
    EXPECT_EQ(preview.GetPixelColor(48, 46), clWhite);
    EXPECT_EQ(preview.GetPixelColor(7, 7), clWhite);
    EXPECT_EQ(preview.GetPixelColor(56, 54), clBlue); // (112, 108) / 2
}

TEST(SheetCaptions, DropTheLastFourCharactersAndSurviveShortNames)
{
    EXPECT_EQ(CaptionText("photo.jpg"), "photo");
    EXPECT_EQ(CaptionText("photo.jpeg"), "photo.");
    EXPECT_EQ(CaptionText("IMG_0001.JPG"), "IMG_0001");
    EXPECT_EQ(CaptionText("été.png"), "été");
    EXPECT_EQ(CaptionText("ça.bmp"), "ça");
    // Four characters or fewer: the extension goes, never the whole name.
    EXPECT_EQ(CaptionText("a.bw"), "a");
    EXPECT_EQ(CaptionText(".bw"), ".bw");
    EXPECT_EQ(CaptionText("abc"), "abc");
    EXPECT_EQ(CaptionText(""), "");
}

TEST(SheetCaptions, LongCaptionsAreElidedToTheCellWidth)
{
    App();
    QImage image(400, 100, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    TPaintCanvas canvas(painter, image.width(), image.height());
    canvas.Font.Size = 8;
    const std::string shortName = "photo";
    EXPECT_EQ(ElideText(canvas, shortName, 200), shortName);

    const std::string longName = "une_tres_longue_legende_de_vacances_au_bord_de_la_mer";
    const int width = 120;
    const std::string elided = ElideText(canvas, longName, width);
    EXPECT_LE(canvas.TextWidth(elided), width);
    ASSERT_GE(elided.size(), 4u);
    EXPECT_EQ(elided.substr(elided.size() - 3), "\xE2\x80\xA6");
    EXPECT_EQ(longName.rfind(elided.substr(0, elided.size() - 3), 0), 0u);
    // As much as fits: one more character would not.
    const std::string prefix = elided.substr(0, elided.size() - 3);
    EXPECT_GT(canvas.TextWidth(longName.substr(0, prefix.size() + 1) + "\xE2\x80\xA6"), width);

    // Multi-byte characters are never cut in two.
    const std::string accents = "ééééééééééééééééééééééééééééééé";
    const std::string cut = ElideText(canvas, accents, 60);
    EXPECT_TRUE(QString::fromUtf8(cut.c_str()).toUtf8().toStdString() == cut);
    EXPECT_EQ((cut.size() - 3) % 2, 0u);
    painter.end();
}

} // namespace

TEST(SheetFit, TheShortSideIsCutFromASinglePrecisionRatio)
{
    EXPECT_EQ(FitInCell(60, 3000, 4000), (TPoint{45, 60})); // 44 in extended precision
    EXPECT_EQ(FitInCell(80, 4000, 3000), (TPoint{80, 60}));
    EXPECT_EQ(FitInCell(30, 100, 100), (TPoint{30, 30}));
    EXPECT_EQ(FitInCell(50, 1000, 10), (TPoint{50, 0}));
}
