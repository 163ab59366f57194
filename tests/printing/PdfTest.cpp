// Whole jobs into PDF files, read back with poppler's tools: page size and
// orientation, where the picture lands on the paper, the headers and
// captions of the contact sheets, and jobs that break off.

#include "CommandStates.h"
#include "Document.h"
#include "ImpVignettes.h"
#include "Impression.h"
#include "PrintTest.h"
#include "Printer.h"

#include <QGuiApplication>

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

using namespace prtest;
using testutil::TempDir;

namespace {

constexpr TColor Red = RGB(255, 0, 0);
constexpr TColor Green = RGB(0, 160, 0);
constexpr int Dpi = 100;

// Expects a box in pixels to be a rectangle in millimetres on the paper,
// within one pixel at the raster's resolution.
void ExpectBoxAt(const TRect& box, double left, double top, double right, double bottom)
{
    EXPECT_NEAR(box.Left, MmToPx(left, Dpi), 1.0);
    EXPECT_NEAR(box.Top, MmToPx(top, Dpi), 1.0);
    EXPECT_NEAR(box.Right, MmToPx(right, Dpi), 1.0);
    EXPECT_NEAR(box.Bottom, MmToPx(bottom, Dpi), 1.0);
}

// The single-picture dialog over one picture, printing into files.
struct TSinglePrint {
    TApplication& Application = App();
    TScriptedPrintDialog Dialog;
    TPrinter Printer;
    TPagePrint Logic{Printer, Dialog};

    TSinglePrint(TBitmap picture, int mode)
    {
        App();
        const float ratio = static_cast<float>(picture.Height()) / static_cast<float>(picture.Width());
        Logic.SetPicture(std::make_unique<TBitmap>(std::move(picture)), ratio);
        Logic.PleinClick(mode);
    }
};

TEST(SinglePicturePdf, FullPageLandscapeAtItsSizeOnTheSheet)
{
    TempDir dir;
    const std::string pdf = dir.File("full.pdf");
    TSinglePrint t(Solid(160, 120, Red), FullPage);
    t.Dialog.Answers.push_back(pdf);
    ASSERT_TRUE(t.Logic.LanceImpClick());
    EXPECT_FALSE(t.Logic.Printing);
    EXPECT_FALSE(t.Printer.Printing());

    EXPECT_EQ(PdfPages(pdf), 1);
    double width, height;
    PdfPageSize(pdf, width, height);
    EXPECT_NEAR(width, 842, 1); // A4 landscape
    EXPECT_NEAR(height, 595, 1);
    const auto page = Rasterise(pdf, 1, Dpi);
    ExpectBoxAt(ColourBox(page, Red), 8, 0, 288, 210);
    EXPECT_EQ(InkBox(page), ColourBox(page, Red)); // nothing else printed
}

TEST(SinglePicturePdf, A100MillimetrePicturePrints100MillimetresBothWays)
{
    // A square picture on a half page goes on a portrait sheet; a margin
    // of 55 mm leaves 100 mm of the 210 across.
    TempDir dir;
    const std::string pdf = dir.File("half.pdf");
    TSinglePrint t(Solid(50, 50, Green), HalfPage);
    t.Logic.HmargeChange(55);
    ASSERT_EQ(t.Logic.Dimensions, "10,0 cm X 10,0 cm.");
    t.Logic.deplacerClick(); // the lower half: centre (105, 222)
    t.Dialog.Answers.push_back(pdf);
    ASSERT_TRUE(t.Logic.LanceImpClick());

    double width, height;
    PdfPageSize(pdf, width, height);
    EXPECT_NEAR(width, 595, 1); // portrait
    EXPECT_NEAR(height, 842, 1);
    const auto page = Rasterise(pdf, 1, Dpi);
    const TRect box = ColourBox(page, Green);
    ExpectBoxAt(box, 55, 172, 155, 272);
    EXPECT_NEAR(box.Width(), box.Height(), 1);
}

TEST(SinglePicturePdf, QuarterPageWithAnOddWidthAndTheLargestMargin)
{
    TempDir dir;
    const std::string pdf = dir.File("quarter.pdf");
    TSinglePrint t(Solid(100, 150, Red), QuarterPage);
    ASSERT_TRUE(t.Logic.Portrait());
    t.Logic.HmargeChange(40); // 105 - 80 = 25 mm wide, 38 mm high (37.5 to even)
    ASSERT_EQ(t.Logic.ImageWidthMM, 25);
    ASSERT_EQ(t.Logic.ImageHeightMM, 38);
    t.Logic.deplacerClick(); // slot 1: centre (157, 74)
    t.Dialog.Answers.push_back(pdf);
    ASSERT_TRUE(t.Logic.LanceImpClick());
    ExpectBoxAt(ColourBox(Rasterise(pdf, 1, Dpi), Red), 157 - 12, 74 - 19, 157 - 12 + 25, 74 - 19 + 38);

    // The slider pushed to its end keeps a picture, the right way round.
    t.Logic.HmargeChange(60);
    const std::string last = dir.File("narrow.pdf");
    t.Dialog.Answers.push_back(last);
    ASSERT_TRUE(t.Logic.LanceImpClick());
    const TRect box = ColourBox(Rasterise(last, 1, Dpi), Red);
    EXPECT_FALSE(box.IsEmpty());
    EXPECT_LE(box.Width(), MmToPx(1, Dpi) + 1.5);
}

TEST(SinglePicturePdf, TheSelectionFrameIsNeverPrinted)
{
    App();
    TCommandStates states;
    TDocument document(states);
    document.SetPicture(Solid(200, 150, Red));
    document.Aspect = 0.75f;
    document.SetXorPen();
    document.Selection = Rect(20, 20, 180, 130);
    document.Trace();
    document.SelVisible = true;

    TempDir dir;
    const std::string pdf = dir.File("frame.pdf");
    TScriptedPrintDialog dialog;
    TPrinter printer;
    TPagePrint logic(printer, dialog);
    logic.FormActivate(document);
    dialog.Answers.push_back(pdf);
    ASSERT_TRUE(logic.LanceImpClick());
    const auto page = Rasterise(pdf, 1, Dpi);
    // White XOR red is cyan: not one such pixel, and the whole area red.
    EXPECT_EQ(CountColour(page, RGB(0, 255, 255), 60), 0);
    const TRect box = ColourBox(page, Red);
    ExpectBoxAt(box, 8, 0, 288, 210);
    EXPECT_EQ(CountColour(page, Red), box.Width() * box.Height());
    EXPECT_TRUE(document.SelVisible);
}

TEST(SinglePicturePdf, CancelledDialogPrintsNothing)
{
    TempDir dir;
    TSinglePrint t(Solid(10, 10, Red), FullPage);
    t.Dialog.Answers.push_back("");
    EXPECT_FALSE(t.Logic.LanceImpClick());
    EXPECT_EQ(t.Dialog.Calls, 1);
    EXPECT_FALSE(t.Logic.Printing);
    EXPECT_TRUE(std::filesystem::is_empty(dir.Path()));
}

TEST(SinglePicturePdf, AFailedJobLeavesNoPrintingStateBehind)
{
    // Before, a job that raised left the dialog printing: every later
    // change of the preview would have started a job of its own.
    TempDir dir;
    TSinglePrint t(Solid(10, 10, Red), FullPage);
    t.Dialog.Answers.push_back(dir.File("missing/folder/out.pdf"));
    EXPECT_THROW(t.Logic.LanceImpClick(), EPrinter);
    EXPECT_FALSE(t.Logic.Printing);
    EXPECT_FALSE(t.Printer.Printing());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // The preview draws again without printing: the file name now points
    // somewhere writable, and still no file appears.
    t.Printer.SetOutputFileName(dir.File("after.pdf"));
    t.Logic.HmargeChange(10);
    t.Logic.deplacerClick();
    EXPECT_FALSE(std::filesystem::exists(dir.File("after.pdf")));
}

// The contact-sheet dialog over a folder of pictures written by the test.
struct TSheetPrint {
    TApplication& Application = App();
    TempDir Dir;
    TScriptedPrintDialog Dialog;
    TPrinter Printer;
    TFakeBrowser Browser;
    int Closed = 0;
    int Progressed = 0;
    TContactSheets Logic{Printer, Dialog, [this]() -> IContactSheetSource* { return &Browser; }};

    TSheetPrint()
    {
        App();
        Browser.Folder = Dir.Path() + "/photos";
        std::filesystem::create_directory(Browser.Folder);
        Logic.OnClose = [this] { ++Closed; };
        Logic.OnProgress = [this] {
            ++Progressed;
            // While a job runs, the print button gives way to the page label.
            EXPECT_FALSE(Logic.ImprimerVisible);
            EXPECT_TRUE(Logic.LabelPVisible);
        };
        Logic.FormCreate();
    }
    void Add(const std::string& name, const TBitmap& picture)
    {
        SaveBmp(picture, Browser.Folder + "/" + name);
        Browser.Names.push_back(name);
    }
    std::string Print(int size)
    {
        const std::string pdf = Dir.File("sheets.pdf");
        Logic.taillesVChange(size);
        Dialog.Answers.push_back(pdf);
        EXPECT_TRUE(Logic.ImprimerClick());
        return pdf;
    }
};

TEST(ContactSheetPdf, FortyThreeFilesGiveTwoHeadedPortraitPages)
{
    TSheetPrint t;
    for (int i = 0; i < 43; ++i)
        t.Add("vacances" + std::to_string(100 + i) + ".bmp", Solid(30, 20, i == 42 ? Green : Red));
    // The last job was landscape: the sheets turn the paper back.
    t.Printer.SetOrientation(poLandscape);
    const std::string pdf = t.Print(0);
    EXPECT_EQ(t.Closed, 1);
    EXPECT_TRUE(t.Logic.ImprimerVisible);
    EXPECT_FALSE(t.Logic.LabelPVisible);
    EXPECT_GT(t.Progressed, 43);

    EXPECT_EQ(PdfPages(pdf), 2);
    double width, height;
    PdfPageSize(pdf, width, height);
    EXPECT_NEAR(width, 595, 1);
    EXPECT_NEAR(height, 842, 1);
    const std::string text = PdfText(pdf);
    EXPECT_NE(text.find("CORVINEL"), std::string::npos);
    EXPECT_NE(text.find("Page 1 sur 2"), std::string::npos);
    EXPECT_NE(text.find("Page 2 sur 2"), std::string::npos);
    EXPECT_NE(text.find(t.Browser.Folder), std::string::npos);
    EXPECT_NE(text.find("vacances100"), std::string::npos);
    EXPECT_NE(text.find("vacances142"), std::string::npos);
    EXPECT_EQ(text.find(".bmp"), std::string::npos);

    // Page 2 holds the last picture alone, in cell (0, 0): 4..34 mm across,
    // 10..40 mm down, 30 x 20 mm centred in it.
    const auto second = Rasterise(pdf, 2, Dpi);
    EXPECT_EQ(CountColour(second, Red), 0);
    ExpectBoxAt(ColourBox(second, Green), 4, 15, 34, 35);
}

TEST(ContactSheetPdf, CellsAreSquareAndPicturesKeepTheirShape)
{
    TSheetPrint t;
    t.Add("carre.bmp", Solid(64, 64, Red));
    t.Add("large.bmp", Solid(400, 200, Green)); // 80 x 40 mm at 8 x 8
    const std::string pdf = t.Print(4);
    const auto page = Rasterise(pdf, 1, Dpi);
    // Cell (0, 0) at (16, 14), cell (1, 0) at (112, 14), 80 mm a side.
    ExpectBoxAt(ColourBox(page, Red), 16, 14, 96, 94);
    ExpectBoxAt(ColourBox(page, Green), 112, 34, 192, 74);
}

TEST(ContactSheetPdf, TwelveFilesAtFiveCentimetresFillOnePageExactly)
{
    TSheetPrint t;
    for (int i = 0; i < 12; ++i)
        t.Add("p" + std::to_string(i) + ".bmp", Solid(10, 10, Red));
    const std::string pdf = t.Print(2);
    EXPECT_EQ(PdfPages(pdf), 1);
    EXPECT_NE(PdfText(pdf).find("Page 1 sur 1"), std::string::npos);
}

TEST(ContactSheetPdf, FilesAreFoundByTheirFolderNotTheCurrentDirectory)
{
    TSheetPrint t;
    t.Add("ici.bmp", Solid(20, 20, Red));
    // Another dialog moved the current directory meanwhile.
    TempDir elsewhere;
    const auto before = std::filesystem::current_path();
    std::filesystem::current_path(elsewhere.Path());
    std::string pdf;
    EXPECT_NO_THROW(pdf = t.Print(0));
    std::filesystem::current_path(before);
    ExpectBoxAt(ColourBox(Rasterise(pdf, 1, Dpi), Red), 4, 10, 34, 40);
}

TEST(ContactSheetPdf, LongAndShortNamesMakeCaptionsThatFitTheirCells)
{
    TSheetPrint t;
    const std::string longName = "anniversaire_de_grand_mere_chez_les_cousins_a_la_campagne.bmp";
    t.Add(longName, Solid(20, 20, Red));
    t.Add("a.bmp", Solid(20, 20, Red));
    const std::string pdf = t.Print(0);
    const std::string text = PdfText(pdf);
    EXPECT_NE(text.find("anniversaire"), std::string::npos);
    EXPECT_EQ(text.find("campagne"), std::string::npos);
    EXPECT_NE(text.find("\xE2\x80\xA6"), std::string::npos);
    // The captions stay under their 30 mm cells: nothing of them reaches
    // the gap between the first two cells' columns (34..38 mm) beyond a
    // glyph's side bearing.
    const auto page = Rasterise(pdf, 1, Dpi);
    const int gapLeft = static_cast<int>(MmToPx(34.5, Dpi));
    const int gapRight = static_cast<int>(MmToPx(37.5, Dpi));
    for (int y = static_cast<int>(MmToPx(40, Dpi)); y < static_cast<int>(MmToPx(50, Dpi)); ++y)
        for (int x = gapLeft; x < gapRight; ++x)
            ASSERT_GT(page.At(x, y)[0], 200) << x << "," << y;
}

TEST(ContactSheetPdf, AnUnreadableFileAbortsTheJobAndRestoresTheDialog)
{
    TSheetPrint t;
    t.Add("bonne.bmp", Solid(20, 20, Red));
    testutil::WriteFile(t.Browser.Folder + "/abimee.bmp", {'B', 'M', 1, 2, 3});
    t.Browser.Names.push_back("abimee.bmp");
    t.Add("apres.bmp", Solid(20, 20, Red));
    const std::string pdf = t.Dir.File("broken.pdf");
    t.Dialog.Answers.push_back(pdf);
    EXPECT_ANY_THROW(t.Logic.ImprimerClick());
    EXPECT_FALSE(t.Printer.Printing());
    EXPECT_TRUE(t.Printer.Aborted());
    EXPECT_FALSE(std::filesystem::exists(pdf));
    EXPECT_TRUE(t.Logic.ImprimerVisible);
    EXPECT_FALSE(t.Logic.LabelPVisible);
    EXPECT_EQ(t.Logic.LabelP, "");
    EXPECT_FALSE(t.Logic.Busy());
    EXPECT_EQ(t.Closed, 0);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // The next job runs normally.
    t.Browser.Names.erase(t.Browser.Names.begin() + 1);
    t.Dialog.Answers.push_back(pdf);
    EXPECT_TRUE(t.Logic.ImprimerClick());
    EXPECT_TRUE(std::filesystem::exists(pdf));
}

TEST(ContactSheetPdf, NothingToPrintOrACancelledDialogLeavesNoFile)
{
    TSheetPrint t;
    t.Dialog.Answers.push_back(t.Dir.File("empty.pdf"));
    EXPECT_FALSE(t.Logic.ImprimerClick());
    EXPECT_FALSE(std::filesystem::exists(t.Dir.File("empty.pdf")));
    t.Add("x.bmp", Solid(5, 5, Red));
    t.Dialog.Answers.push_back("");
    EXPECT_FALSE(t.Logic.ImprimerClick());
    EXPECT_EQ(t.Closed, 0);
    EXPECT_EQ(t.Progressed, 0);
}

TEST(ContactSheetPdf, TransparentPicturesPrintOnWhite)
{
    TSheetPrint t;
    // A PNG whose left half is opaque red and right half fully transparent.
    const std::string path = t.Browser.Folder + "/alpha.png";
    const auto made = testutil::Run(testutil::PythonWithPil() + " -c \"from PIL import Image; im = Image.new('RGBA', (40, 40), "
                                    "(0, 0, 0, 0)); im.paste((255, 0, 0, 255), (0, 0, 20, 40)); im.save('" +
                                    path + "')\"");
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    t.Browser.Names.push_back("alpha.png");
    const std::string pdf = t.Print(0);
    const auto page = Rasterise(pdf, 1, Dpi);
    // The picture's outer edges are sharp; the edge between its halves is
    // softened by the PDF's image compression.
    const TRect red = ColourBox(page, Red);
    EXPECT_NEAR(red.Left, MmToPx(4, Dpi), 1.0);
    EXPECT_NEAR(red.Top, MmToPx(10, Dpi), 1.0);
    EXPECT_NEAR(red.Bottom, MmToPx(40, Dpi), 1.0);
    EXPECT_NEAR(red.Right, MmToPx(19, Dpi), MmToPx(1.5, Dpi));
    // The transparent half is the paper's white, not black.
    const int x = static_cast<int>(MmToPx(27, Dpi));
    const int y = static_cast<int>(MmToPx(25, Dpi));
    EXPECT_GT(page.At(x, y)[0], 240);
    EXPECT_GT(page.At(x, y)[1], 240);
}

} // namespace
