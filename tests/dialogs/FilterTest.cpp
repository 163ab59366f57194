// Filter files and the custom filter dialog's logic: the file format with
// CR LF and LF, short and malformed files, whole numbers in the grid, the
// list of a folder, saving with and without a listed filter, and trying,
// clearing and keeping a filter on a document.

#include "DialogTest.h"
#include "TestUtil.h"

#include "FilterDialog.h"
#include "Exceptions.h"
#include "FilterFiles.h"
#include "MessageBoxes.h"
#include "photo.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <filesystem>
#include <limits>

using namespace dlgtest;
using testutil::TempDir;

namespace {

void WriteText(const std::string& path, const std::string& text)
{
    testutil::WriteFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::string ReadText(const std::string& path)
{
    const std::vector<std::uint8_t> data = testutil::ReadFile(path);
    return std::string(data.begin(), data.end());
}

// A filter file of the given weights written row by row with an end of line.
std::string FilterText(const std::string& name, const std::vector<std::string>& weights, const std::string& eol)
{
    std::string text = name + eol;
    for (const std::string& w : weights)
        text += w + eol;
    return text;
}

std::vector<std::string> Numbered()
{
    std::vector<std::string> weights;
    for (int i = 0; i < 25; ++i)
        weights.push_back(std::to_string(i - 12));
    return weights;
}

TEST(FilterFiles, WeightTextsReadTheSameInEveryLocale)
{
    // The user's locale writes "2,5"; the files and the grid never do.
    const testutil::LocaleGuard locale({"fr_FR.UTF-8", "de_DE.UTF-8", "fr_FR", "C.UTF-8"});
    bool ok = false;
    EXPECT_EQ(ParseWeight("2.5", &ok), 2.5f);
    EXPECT_TRUE(ok);
    EXPECT_EQ(ParseWeight("-0.125"), -0.125f);
    EXPECT_EQ(ParseWeight("+7"), 7.0f);
    EXPECT_EQ(ParseWeight(" 12 "), 12.0f);
    EXPECT_EQ(ParseWeight("1e2"), 100.0f);
    EXPECT_EQ(ParseWeight(".5"), 0.5f);
    EXPECT_EQ(ParseWeight("3."), 3.0f);
    EXPECT_EQ(ParseWeight(""), 0.0f);
    EXPECT_EQ(ParseWeight("2,5", &ok), 0.0f);
    EXPECT_FALSE(ok);
}

TEST(FilterFiles, MalformedAndUnboundedWeightsCountAsZero)
{
    for (const char* text : {"abc", "1-2", "--3", "+", "-", ".", "1e", "1e+", "0x10", "inf", "-inf", "nan", "NAN",
                             "1e40", "-1e39", "1e5000", "9.3e18", "1 2", "٣"}) {
        bool ok = true;
        const float w = ParseWeight(text, &ok);
        EXPECT_EQ(w, 0.0f) << text;
        EXPECT_FALSE(ok) << text;
    }
    // The largest whole numbers still shown as such.
    EXPECT_EQ(ParseWeight("9e18"), 9e18f);
    EXPECT_EQ(KernelToCells(TKernel5x5::FromRows({{9e18f}}))[0][0], "9000000202358128640");
}

TEST(FilterFiles, GridShowsWholeNumbersHalvesToEven)
{
    TKernel5x5 k;
    k.At(-2, -2) = 2.5f;
    k.At(-1, -2) = 3.5f;
    k.At(0, -2) = -2.5f;
    k.At(1, -2) = 0.5f;
    k.At(2, -2) = 1.4999f;
    k.At(0, 0) = -7.6f;
    k.At(2, 2) = std::numeric_limits<float>::infinity();
    k.At(1, 2) = std::numeric_limits<float>::quiet_NaN();
    const TGridCells cells = KernelToCells(k);
    EXPECT_EQ(cells[0][0], "2");
    EXPECT_EQ(cells[0][1], "4");
    EXPECT_EQ(cells[0][2], "-2");
    EXPECT_EQ(cells[0][3], "0");
    EXPECT_EQ(cells[0][4], "1");
    EXPECT_EQ(cells[2][2], "-8");
    EXPECT_EQ(cells[4][4], "0");
    EXPECT_EQ(cells[4][3], "0");

    // Back from the grid, column c and row r are the kernel's (c - 2, r - 2).
    TGridCells typed = cells;
    typed[1][3] = "0.25";
    const TKernel5x5 back = CellsToKernel(typed);
    EXPECT_EQ(back.At(1, -1), 0.25f);
    EXPECT_EQ(back.At(-2, -2), 2.0f);
    EXPECT_EQ(back.At(-1, -2), 4.0f);
}

TEST(FilterFiles, RoundTripsWithCrLfAndLf)
{
    TempDir dir;
    TGridCells cells;
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c)
            cells[static_cast<std::size_t>(r)][static_cast<std::size_t>(c)] = std::to_string(10 * r + c - 7);
    cells[2][2] = "12.75";
    cells[4][0] = "";
    const std::string path = dir.File("mine.fpw");
    WriteFilterFile(path, "Mon filtre", cells);

    // The exact bytes: 26 lines, each ended by CR LF, the cells as typed.
    std::string expected = "Mon filtre\r\n";
    for (const auto& row : cells)
        for (const std::string& cell : row)
            expected += cell + "\r\n";
    EXPECT_EQ(ReadText(path), expected);

    const TFilterFile read = ReadFilterFile(path);
    EXPECT_EQ(read.Name, "Mon filtre");
    EXPECT_EQ(read.WeightLines, 25);
    EXPECT_EQ(read.Malformed, 0);
    EXPECT_EQ(read.Kernel.At(0, 0), 12.75f);
    EXPECT_EQ(read.Kernel.At(-2, 2), 0.0f);
    EXPECT_EQ(read.Kernel.At(2, -2), -3.0f);
    TGridCells shown = cells;
    shown[2][2] = "13";
    shown[4][0] = "0";
    EXPECT_EQ(KernelToCells(read.Kernel), shown);

    // The same file with LF only, and with lone CR, reads the same.
    for (const std::string eol : {"\n", "\r"}) {
        WriteText(dir.File("unix.fpw"), FilterText("Mon filtre", Numbered(), eol));
        const TFilterFile unix = ReadFilterFile(dir.File("unix.fpw"));
        EXPECT_EQ(unix.Name, "Mon filtre");
        EXPECT_EQ(unix.Kernel.At(-2, -2), -12.0f);
        EXPECT_EQ(unix.Kernel.At(2, 2), 12.0f);
        EXPECT_EQ(unix.Kernel.At(1, -1), -4.0f); // line 2 + 5 x 1 + 3
    }

    // A name with line breaks stays one line.
    WriteFilterFile(dir.File("two.fpw"), "deux\r\nlignes", cells);
    EXPECT_EQ(ReadFilterFile(dir.File("two.fpw")).Name, "deux  lignes");
    EXPECT_EQ(ReadFilterFile(dir.File("two.fpw")).Kernel.At(0, 0), 12.75f);
}

TEST(FilterFiles, ShortAndMalformedFilesLoadWithZeros)
{
    TempDir dir;
    // Only the first row and a half.
    WriteText(dir.File("short.fpw"), "Court\r\n1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7");
    TFilterFile f = ReadFilterFile(dir.File("short.fpw"));
    EXPECT_EQ(f.Name, "Court");
    EXPECT_EQ(f.WeightLines, 7);
    EXPECT_EQ(f.Kernel.At(2, -2), 5.0f);
    EXPECT_EQ(f.Kernel.At(-2, -1), 6.0f);
    EXPECT_EQ(f.Kernel.At(-1, -1), 7.0f);
    for (int r = -1; r <= 2; ++r)
        for (int c = (r == -1 ? 0 : -2); c <= 2; ++c)
            EXPECT_EQ(f.Kernel.At(c, r), 0.0f);

    std::vector<std::string> weights = Numbered();
    weights[0] = "nan";
    weights[1] = "inf";
    weights[2] = "1e39";
    weights[3] = "deux";
    weights[4] = "";
    WriteText(dir.File("bad.fpw"), FilterText("Abîmé", weights, "\r\n"));
    f = ReadFilterFile(dir.File("bad.fpw"));
    EXPECT_EQ(f.Malformed, 4);
    for (int c = -2; c <= 2; ++c)
        EXPECT_EQ(f.Kernel.At(c, -2), 0.0f);
    EXPECT_EQ(f.Kernel.At(-2, -1), -7.0f);

    // Empty, name only, and a missing file.
    WriteText(dir.File("empty.fpw"), "");
    f = ReadFilterFile(dir.File("empty.fpw"));
    EXPECT_EQ(f.Name, "");
    EXPECT_EQ(f.WeightLines, 0);
    WriteText(dir.File("name.fpw"), "Rien");
    EXPECT_EQ(ReadFilterFile(dir.File("name.fpw")).Name, "Rien");
    EXPECT_THROW(ReadFilterFile(dir.File("none.fpw")), EFOpenError);
}

std::vector<TFilterEntry> List(const std::string& folder)
{
    std::vector<TFilterEntry> entries;
    ListFilters(folder, entries);
    return entries;
}

TEST(FilterFiles, ListingOrderDuplicatesAndMissingFolder)
{
    TempDir dir;
    EXPECT_TRUE(List(dir.File("filtres")).empty());
    WriteText(dir.File("b.fpw"), "Même\r\n");
    WriteText(dir.File("A.FPW"), "Premier\r\n");
    WriteText(dir.File("c.fpw"), "Même\r\n");
    WriteText(dir.File("d.txt"), "pas un filtre\r\n");
    std::filesystem::create_directory(dir.File("e.fpw")); // a folder is no filter
    const std::vector<TFilterEntry> list = List(dir.Path());
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0].Name, "Premier");
    EXPECT_EQ(list[0].Path, dir.File("A.FPW"));
    EXPECT_EQ(list[1].Name, "Même");
    EXPECT_EQ(list[1].Path, dir.File("b.fpw"));
    EXPECT_EQ(list[2].Name, "Même");
    EXPECT_EQ(list[2].Path, dir.File("c.fpw"));

    // More files than a fixed table of 100 would hold.
    for (int i = 0; i < 130; ++i)
        WriteText(dir.File("n" + std::to_string(1000 + i) + ".fpw"), "F" + std::to_string(i) + "\r\n");
    EXPECT_EQ(List(dir.Path()).size(), 133u);
}

TEST(FilterFiles, NewFileNamesEndInFpw)
{
    EXPECT_EQ(FilterFileName("/f/net.fpw"), "/f/net.fpw");
    EXPECT_EQ(FilterFileName("/f/net.FPW"), "/f/net.FPW");
    EXPECT_EQ(FilterFileName("/f/net.txt"), "/f/net.fpw");
    EXPECT_EQ(FilterFileName("/f/net"), "/f/net.fpw");
    EXPECT_EQ(FilterFileName("/f/a.b/net"), "/f/a.b/net.fpw");
    EXPECT_TRUE(IsGridText("+-.0123456789"));
    EXPECT_FALSE(IsGridText("1,5"));
    EXPECT_FALSE(IsGridText("1e3"));
    EXPECT_FALSE(IsGridText(" 1"));
}

// ---------------------------------------------------------------------------
// The dialog's logic

class FilterLogicTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        StartDir = Dir.Path() + "/";
        Folder = StartDir + "filtres";
    }

    TempDir Dir;
    std::string StartDir;
    std::string Folder;
    TScriptedMessageBoxes Boxes;
    TScriptedFilterSaveDialog Save;
};

TEST_F(FilterLogicTest, MissingFolderIsMadeAndTheCurrentFolderStays)
{
    const auto cwd = std::filesystem::current_path();
    TFfiltresLogic logic(Boxes, Save);
    logic.FormCreate(StartDir);
    EXPECT_TRUE(std::filesystem::is_directory(Folder));
    EXPECT_TRUE(logic.FilterTable.empty());
    EXPECT_EQ(logic.Cells[2][2], "0");
    EXPECT_EQ(std::filesystem::current_path(), cwd);

    // A start folder where nothing can be made: an empty list, no error.
    WriteText(Dir.File("plain"), "x");
    TFfiltresLogic blocked(Boxes, Save);
    EXPECT_NO_THROW(blocked.FormCreate(Dir.File("plain") + "/"));
    EXPECT_TRUE(blocked.FilterTable.empty());
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(FilterLogicTest, AnUnreadableFileStopsTheListingAndNamesIt)
{
    std::filesystem::create_directory(Folder);
    WriteText(Folder + "/a.fpw", "Premier\r\n");
    // A link that leads nowhere cannot be read, not even by root.
    const std::string broken = Folder + "/b.fpw";
    std::filesystem::create_symlink(Folder + "/parti.txt", broken);
    WriteText(Folder + "/c.fpw", "Dernier\r\n");

    TFfiltresLogic logic(Boxes, Save);
    try {
        logic.FormCreate(StartDir);
        ADD_FAILURE() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_NE(e.Message.find("Impossible d'ouvrir le fichier " + broken), std::string::npos) << e.Message;
    }
    ASSERT_EQ(logic.FilterTable.size(), 1u);
    EXPECT_EQ(logic.FilterTable[0].Name, "Premier");
    EXPECT_EQ(logic.Cells[2][2], "0");

    // Saving reads the list again: the file is written, the listing stops
    // at the same place.
    logic.ChooseFilter(0);
    logic.Cells[0][0] = "3";
    EXPECT_THROW(logic.SaveFilter(), EFOpenError);
    EXPECT_EQ(ReadFilterFile(Folder + "/a.fpw").Kernel.At(-2, -2), 3.0f);
    ASSERT_EQ(logic.FilterTable.size(), 1u);

    // Once the link leads to a filter, all three are listed.
    WriteText(Folder + "/parti.txt", "Milieu\r\n");
    logic.LoadFilterList();
    ASSERT_EQ(logic.FilterTable.size(), 3u);
    EXPECT_EQ(logic.FilterTable[1].Name, "Milieu");
    EXPECT_EQ(logic.FilterTable[2].Name, "Dernier");
    EXPECT_TRUE(Boxes.Calls.empty());
}

TEST_F(FilterLogicTest, SameNamesAreToldApartByTheirPlace)
{
    std::filesystem::create_directory(Folder);
    std::vector<std::string> a(25, "1"), b(25, "2");
    WriteText(Folder + "/a.fpw", FilterText("Double", a, "\r\n"));
    WriteText(Folder + "/b.fpw", FilterText("Double", b, "\r\n"));
    TFfiltresLogic logic(Boxes, Save);
    logic.FormCreate(StartDir);
    ASSERT_EQ(logic.FilterTable.size(), 2u);
    logic.ChooseFilter(1);
    EXPECT_EQ(logic.FilterKernel.At(0, 0), 2.0f);
    EXPECT_EQ(logic.Cells[0][0], "2");
    EXPECT_EQ(logic.Text, "Double");
    logic.ChooseFilter(0);
    EXPECT_EQ(logic.FilterKernel.At(0, 0), 1.0f);
    logic.ChooseFilter(5); // no such item
    EXPECT_EQ(logic.ItemIndex, 0);
}

TEST_F(FilterLogicTest, SavingAListedFilterOverwritesItsOwnFile)
{
    std::filesystem::create_directory(Folder);
    WriteText(Folder + "/a.fpw", FilterText("Double", std::vector<std::string>(25, "1"), "\n"));
    WriteText(Folder + "/b.fpw", FilterText("Double", std::vector<std::string>(25, "2"), "\n"));
    TFfiltresLogic logic(Boxes, Save);
    logic.FormCreate(StartDir);
    logic.ChooseFilter(1);
    logic.Cells[2][2] = "-3.5";
    EXPECT_TRUE(logic.SaveFilter());
    EXPECT_TRUE(Save.Proposed.empty()) << "no save dialog";
    EXPECT_TRUE(Boxes.Calls.empty()) << "no question";
    const TFilterFile b = ReadFilterFile(Folder + "/b.fpw");
    EXPECT_EQ(b.Kernel.At(0, 0), -3.5f);
    EXPECT_EQ(b.Kernel.At(-2, -2), 2.0f);
    EXPECT_EQ(ReadFilterFile(Folder + "/a.fpw").Kernel.At(0, 0), 1.0f) << "the other file of that name is untouched";
    // The list is read again and the combo emptied.
    EXPECT_EQ(logic.FilterTable.size(), 2u);
    EXPECT_EQ(logic.ItemIndex, -1);
    EXPECT_EQ(logic.Text, "");
}

TEST_F(FilterLogicTest, SavingANewNameAsksForAFile)
{
    TFfiltresLogic logic(Boxes, Save);
    logic.FormCreate(StartDir);
    logic.TextEdited("Accent");
    logic.Cells[0][0] = "5";

    // Cancelled: nothing written.
    EXPECT_FALSE(logic.SaveFilter());
    ASSERT_EQ(Save.Proposed.size(), 1u);
    EXPECT_EQ(Save.Proposed[0], "nom du filtre.fpw");
    EXPECT_EQ(Save.Folders[0], Folder);
    EXPECT_TRUE(List(Folder).empty());

    // Another extension becomes ".fpw".
    Save.Answers = {Folder + "/accent.txt"};
    EXPECT_TRUE(logic.SaveFilter());
    EXPECT_FALSE(std::filesystem::exists(Folder + "/accent.txt"));
    const TFilterFile saved = ReadFilterFile(Folder + "/accent.fpw");
    EXPECT_EQ(saved.Name, "Accent");
    EXPECT_EQ(saved.Kernel.At(-2, -2), 5.0f);
    ASSERT_EQ(logic.FilterTable.size(), 1u);
    EXPECT_EQ(logic.FilterTable[0].Name, "Accent");
}

TEST_F(FilterLogicTest, SavingOverAnotherExistingFileAsksFirst)
{
    std::filesystem::create_directory(Folder);
    const std::string other = FilterText("Autre", std::vector<std::string>(25, "4"), "\r\n");
    WriteText(Folder + "/autre.fpw", other);
    TFfiltresLogic logic(Boxes, Save);
    logic.FormCreate(StartDir);
    logic.TextEdited("Nouveau");

    // "autre" given without extension names the existing "autre.fpw".
    Save.Answers = {Folder + "/autre"};
    Boxes.Answers = {mrNo};
    EXPECT_FALSE(logic.SaveFilter());
    ASSERT_EQ(Boxes.Calls.size(), 1u);
    EXPECT_EQ(Boxes.Calls[0].Kind, TScriptedMessageBoxes::TKind::MessageDlg);
    EXPECT_EQ(Boxes.Calls[0].Type, mtConfirmation);
    EXPECT_NE(Boxes.Calls[0].Text.find("autre.fpw"), std::string::npos);
    EXPECT_EQ(ReadText(Folder + "/autre.fpw"), other);

    Save.Answers = {Folder + "/autre.fpw"};
    Boxes.Answers = {mrYes};
    EXPECT_TRUE(logic.SaveFilter());
    EXPECT_EQ(ReadFilterFile(Folder + "/autre.fpw").Name, "Nouveau");
}

TEST_F(FilterLogicTest, TestClearApplyAndCloseOnADocument)
{
    std::filesystem::create_directory(Folder);
    // Halves in the file: the grid shows 2 and 4, and those act.
    std::vector<std::string> weights(25, "0");
    weights[12] = "2.5";
    weights[7] = "3.5";
    weights[11] = "-1";
    WriteText(Folder + "/demi.fpw", FilterText("Demis", weights, "\r\n"));
    TFfiltresLogic logic(Boxes, Save);
    logic.FormCreate(StartDir);
    logic.ChooseFilter(0);
    EXPECT_EQ(logic.Cells[2][2], "2");
    EXPECT_EQ(logic.Cells[1][2], "4");

    const TBitmap original = Pattern(21, 15);
    TTestDocument doc(original);
    logic.FormActivate(*doc);
    EXPECT_EQ(doc->UndoCount(), 1);
    EXPECT_TRUE(SamePixels(doc->Picture(), original)) << "no preview at activation";

    TKernel5x5 whole;
    whole.At(0, 0) = 2;
    whole.At(0, -1) = 4;
    whole.At(-1, 0) = -1;
    TBitmap expected = Copy(original);
    Convolve5x5(expected, whole);
    logic.TestFilter();
    EXPECT_TRUE(SamePixels(doc->Picture(), expected));
    logic.TestFilter(); // again from the untouched picture, not the result
    EXPECT_TRUE(SamePixels(doc->Picture(), expected));

    // A fraction typed in a cell acts as typed.
    logic.Cells[2][2] = "2.5";
    TKernel5x5 typed = whole;
    typed.At(0, 0) = 2.5f;
    TBitmap typedResult = Copy(original);
    Convolve5x5(typedResult, typed);
    logic.TestFilter();
    EXPECT_TRUE(SamePixels(doc->Picture(), typedResult));

    logic.Effacer();
    EXPECT_TRUE(SamePixels(doc->Picture(), original));
    EXPECT_EQ(logic.Cells[2][2], "2.5") << "the grid stays";

    logic.FormClose();
    EXPECT_TRUE(SamePixels(doc->Picture(), original));
    EXPECT_EQ(doc->UndoCount(), 0);

    logic.FormActivate(*doc);
    logic.Cells[2][2] = "2";
    logic.Apply();
    logic.FormClose();
    EXPECT_TRUE(SamePixels(doc->Picture(), expected));
    EXPECT_EQ(doc->UndoCount(), 1);
}

} // namespace
