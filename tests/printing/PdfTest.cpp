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

#include <cmath>
#include <filesystem>
#include <sstream>
#include <utility>
#include <vector>
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

// The pixel sizes of the pictures a PDF file holds, as poppler's pdfimages
// lists them.
std::vector<std::pair<int, int>> PdfImageSizes(const std::string& pdf)
{
    const auto listed = testutil::Run(testutil::Tool("pdfimages") + " -list " + testutil::Quote(pdf));
    EXPECT_EQ(listed.ExitCode, 0) << listed.Output;
    std::vector<std::pair<int, int>> sizes;
    std::istringstream lines(listed.Output);
    std::string line;
    int row = 0;
    while (std::getline(lines, line)) {
        if (++row <= 2)
            continue; // the heading and its rule
        std::istringstream fields(line);
        int page = 0, number = 0, width = 0, height = 0;
        std::string type;
        if (fields >> page >> number >> type >> width >> height && type == "image")
            sizes.emplace_back(width, height);
    }
    return sizes;
}

// A picture of noise, which no compression makes small.
TBitmap Noise(int width, int height)
{
    TBitmap bitmap(width, height, pf24bit);
    std::uint32_t state = 12345;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = bitmap.ScanLine(y);
        for (int i = 0; i < width * 3; ++i) {
            state = state * 1664525u + 1013904223u;
            row[i] = static_cast<std::uint8_t>(state >> 24);
        }
    }
    return bitmap;
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

TEST(SinglePicturePdf, ALargePhotoIsPrintedAt300DotsPerInchOfItsPrintedSize)
{
    // 3000 x 2000 on a quarter page: landscape sheet, 148 x 99 mm, which
    // at 300 dpi is 148 / 25.4 * 300 = 1748.03 pixels across.
    TempDir dir;
    const std::string pdf = dir.File("quarter.pdf");
    TSinglePrint t(Noise(3000, 2000), QuarterPage);
    ASSERT_EQ(t.Logic.ImageWidthMM, 148);
    ASSERT_EQ(t.Logic.ImageHeightMM, 99);
    t.Dialog.Answers.push_back(pdf);
    ASSERT_TRUE(t.Logic.LanceImpClick());
    const auto sizes = PdfImageSizes(pdf);
    ASSERT_EQ(sizes.size(), 1u);
    EXPECT_GE(sizes[0].first, 1748);
    EXPECT_LE(sizes[0].first, 1750);
    EXPECT_GE(sizes[0].second, 1169); // 99 / 25.4 * 300 = 1169.3
    EXPECT_LE(sizes[0].second, 1171);
    // 1749 x 1166 pixels of noise: some 6 MB at most, not the 18 MB of the
    // whole photo.
    EXPECT_LT(std::filesystem::file_size(pdf), 7u * 1000 * 1000);

    // A picture smaller than that keeps its own pixels.
    const std::string small = dir.File("small.pdf");
    TSinglePrint s(Noise(300, 200), QuarterPage);
    s.Dialog.Answers.push_back(small);
    ASSERT_TRUE(s.Logic.LanceImpClick());
    EXPECT_EQ(PdfImageSizes(small), (std::vector<std::pair<int, int>>{{300, 200}}));
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
    std::string pdf;
    {
        const testutil::CurrentDirGuard moved(elsewhere.Path());
        EXPECT_NO_THROW(pdf = t.Print(0));
    }
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

TEST(ContactSheetPdf, UnreadableFilesKeepAnEmptyFrameAndAreToldAfterTheJob)
{
    TSheetPrint t;
    Boxes().Calls.clear();
    t.Add("bonne.bmp", Solid(20, 20, Red));
    testutil::WriteFile(t.Browser.Folder + "/abimee.bmp", {'B', 'M', 1, 2, 3});
    t.Browser.Names.push_back("abimee.bmp");
    testutil::WriteFile(t.Browser.Folder + "/vide.jpg", {});
    t.Browser.Names.push_back("vide.jpg");
    t.Add("apres.bmp", Solid(20, 20, Green));
    const std::string pdf = t.Print(0);

    // The job went on to its end and the dialog closed as after any job.
    EXPECT_FALSE(t.Printer.Printing());
    EXPECT_FALSE(t.Printer.Aborted());
    EXPECT_EQ(t.Closed, 1);
    EXPECT_TRUE(t.Logic.ImprimerVisible);
    EXPECT_FALSE(t.Logic.LabelPVisible);
    EXPECT_FALSE(t.Logic.Busy());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    ASSERT_EQ(PdfPages(pdf), 1);

    // The user is told once, afterwards, which files and why.
    ASSERT_EQ(t.Logic.Unprinted.size(), 2u);
    EXPECT_EQ(t.Logic.Unprinted[0].rfind("abimee.bmp : ", 0), 0u) << t.Logic.Unprinted[0];
    EXPECT_EQ(t.Logic.Unprinted[1], "vide.jpg : Erreur JPEG: Empty input file");
    ASSERT_EQ(Boxes().Calls.size(), 1u);
    EXPECT_EQ(Boxes().Calls[0].Type, mtWarning);
    EXPECT_EQ(Boxes().Calls[0].Text, "Ces fichiers n'ont pas pu être imprimés, leurs cadres sont restés vides :\n" +
                                         t.Logic.Unprinted[0] + "\nvide.jpg : Erreur JPEG: Empty input file");

    // Every cell keeps its caption; the good pictures print in cells 0 and
    // 3 (6 columns of 30 mm, gaps of 4 mm: cell 3 spans 106..136 mm).
    const std::string text = PdfText(pdf);
    for (const char* caption : {"bonne", "abimee", "vide", "apres"})
        EXPECT_NE(text.find(caption), std::string::npos) << caption;
    const auto page = Rasterise(pdf, 1, Dpi);
    ExpectBoxAt(ColourBox(page, Red), 4, 10, 34, 40);
    ExpectBoxAt(ColourBox(page, Green), 106, 10, 136, 40);
    // Cells 1 and 2 (38..68 and 72..102 mm across) hold a dark frame around
    // white paper.
    for (const double left : {38.0, 72.0}) {
        const int top = static_cast<int>(MmToPx(10, Dpi));
        const int middle = static_cast<int>(MmToPx(25, Dpi));
        const int x0 = static_cast<int>(std::lround(MmToPx(left, Dpi)));
        const int centre = static_cast<int>(MmToPx(left + 15, Dpi));
        auto darkNear = [&page](int x, int y) {
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    if (page.At(x + dx, y + dy)[0] < 128)
                        return true;
            return false;
        };
        EXPECT_TRUE(darkNear(x0, middle)) << left;            // left side of the frame
        EXPECT_TRUE(darkNear(centre, top)) << left;           // its top
        EXPECT_GT(page.At(centre, middle)[0], 240) << left;   // empty inside
    }

    // A job where everything prints tells nothing.
    Boxes().Calls.clear();
    t.Browser.Names = {"bonne.bmp"};
    t.Print(0);
    EXPECT_TRUE(t.Logic.Unprinted.empty());
    EXPECT_TRUE(Boxes().Calls.empty());
}

TEST(ContactSheetPdf, PhotosAreScaledToTheirCellsAt300DotsPerInch)
{
    TSheetPrint t;
    // Four photos of 2400 x 1600 written by ImageMagick, printed in 30 mm
    // cells: 30 x 20 mm, that is 30 / 25.4 * 300 = 354.3 pixels across.
    std::uintmax_t photos = 0;
    for (int i = 0; i < 4; ++i) {
        const std::string name = "photo" + std::to_string(i) + ".jpg";
        const std::string path = t.Browser.Folder + "/" + name;
        const auto made = testutil::Run(testutil::Tool("convert") + " -size 2400x1600 xc:gray -seed " + std::to_string(i + 1) +
                                        " +noise Random -quality 90 " + testutil::Quote(path));
        ASSERT_EQ(made.ExitCode, 0) << made.Output;
        photos += std::filesystem::file_size(path);
        t.Browser.Names.push_back(name);
    }
    const std::string pdf = t.Print(0);
    const auto sizes = PdfImageSizes(pdf);
    ASSERT_EQ(sizes.size(), 4u);
    for (const auto& [width, height] : sizes) {
        EXPECT_GE(width, 354);
        EXPECT_LE(width, 356);
        EXPECT_NEAR(height, 236, 2); // 20 mm
    }
    // Four cells of some 250 000 pixels each, against photos of several
    // megabytes.
    EXPECT_LT(std::filesystem::file_size(pdf), photos / 10) << photos;
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
