// The save assistant: the size and time texts, the names files are written
// under, and whole showings over a document held in memory with a scripted
// save dialog: each tab's file read back by outside tools, the pause before
// a preview, cancelling, failing, the restore at close (also over a full
// undo stack), the private temporary folder and the previews encoded off
// the user-interface thread.

#include "DialogTest.h"

#include "Clipboard.h"
#include "Desktop.h"
#include "EditorFrame.h"

#include "Exceptions.h"
#include "FileDialogs.h"
#include "PauseTimer.h"
#include "Picture.h"
#include "QtTestApp.h"
#include "SaveAssistant.h"
#include "CameraPhoto.h"
#include "PhotoMetadata.h"
#include "SaveAssistantDialog.h"

#include <QRadioButton>
#include <QSlider>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <deque>
#include <filesystem>
#include <fstream>
#include <set>

using namespace dlgtest;
using testutil::Quote;
using testutil::Run;
using testutil::TempDir;

namespace {

// Answers the save dialog from a list; an empty answer or none left cancels.
class TScriptedSaveAs : public ISaveAsDialog {
public:
    struct TCall {
        std::string Filter, DefaultExt, Folder, Proposed;
    };
    bool Execute(const std::string& filter, const std::string& defaultExt, const std::string& folder,
                 const std::string& proposed, std::string& fileName) override
    {
        Calls.push_back({filter, defaultExt, folder, proposed});
        return TakeScriptedAnswer(Answers, fileName);
    }
    std::deque<std::string> Answers;
    std::vector<TCall> Calls;
};

// "format width height" of a file by ImageMagick's identify.
std::string Identify(const std::string& path, const std::string& format = "%m %w %h")
{
    const auto result = Run(testutil::Tool("identify") + " -format " + Quote(format) + " " + Quote(path));
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    return result.Output;
}

// The pixels of a file as ImageMagick decodes them.
testutil::RgbImage Decoded(const std::string& path, const TempDir& dir)
{
    const std::string ppm = dir.File("decoded.ppm");
    const auto result = Run(testutil::Tool("convert") + " " + Quote(path) + " -depth 8 " + Quote("ppm:" + ppm));
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    return testutil::ReadPpm(ppm);
}

// A full disk for the life of the object: no file of the process grows past
// a few bytes (writes fail; the signal that would end the process is
// ignored meanwhile).
class TFullDisk {
public:
    TFullDisk()
    {
        FHandler = std::signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &FLimit);
        rlimit full = FLimit;
        full.rlim_cur = 16;
        EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &full), 0);
    }
    ~TFullDisk()
    {
        setrlimit(RLIMIT_FSIZE, &FLimit);
        std::signal(SIGXFSZ, FHandler);
    }
    TFullDisk(const TFullDisk&) = delete;
    TFullDisk& operator=(const TFullDisk&) = delete;

private:
    rlimit FLimit{};
    void (*FHandler)(int) = nullptr;
};

std::size_t FilesIn(const std::string& folder)
{
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder))
        ++n;
    return n;
}

class SaveAssistantTest : public ::testing::Test {
protected:
    SaveAssistantTest() : Logic(Clock, Boxes(), SaveAs, false)
    {
        App();
        Boxes().Calls.clear();
        Boxes().Answers.clear();
        CloseConfirmed = false;
        Logic.Browser = {[this] { return BrowserShown; },
                         [this](const std::string& path) { Refreshed.push_back(path); },
                         [this](const std::string& path) { Added.push_back(path); }};
    }
    ~SaveAssistantTest() override { Logic.FormClose(); }

    TDocument& D() { return **Doc; }

    // An assistant whose previews run off the user-interface thread, shown
    // on the PNG tab over a picture large enough for its PNG to take a
    // while at level 9: its first preview is still being encoded.
    std::unique_ptr<TFsauveLogic> BusyOverABigPicture()
    {
        Doc = std::make_unique<TTestDocument>(Pattern(1200, 900), Dir.File("big.bmp"));
        auto threaded = std::make_unique<TFsauveLogic>(Clock, Boxes(), SaveAs, true);
        threaded->Settings.Tab = stPNG;
        threaded->FormActivate(D());
        return threaded;
    }

    TempDir Dir;
    TManualClock Clock;
    TScriptedSaveAs SaveAs;
    TFsauveLogic Logic;
    // 41 pixels: BMP rows padded to 124 bytes.
    const TBitmap Original = Pattern(41, 30);
    std::unique_ptr<TTestDocument> Doc = std::make_unique<TTestDocument>(Original, Dir.File("photo.bmp"));
    bool BrowserShown = false;
    std::vector<std::string> Refreshed, Added;
};

// ---------------------------------------------------------------------------

TEST(SaveAssistantTexts, SizeAndDownloadTime)
{
    struct TRow {
        std::uint64_t Size;
        const char* SizeText;
        const char* TimeText;
    };
    for (const TRow& row : {TRow{0, "0", "0.0"}, TRow{400, "400", "0.0"}, TRow{999, "999", "0.1"},
                            TRow{4999, "4 999", "0.9"}, TRow{5000, "5 000", "1.0"}, TRow{12345, "12 345", "2.4"},
                            TRow{1234567, "1 234 567", "246.9"}, TRow{123456, "123 456", "24.6"},
                            TRow{10000000000ull, "10 000 000 000", "2000000.0"}}) {
        EXPECT_EQ(FileSizeText(row.Size), row.SizeText) << row.Size;
        EXPECT_EQ(DownloadTimeText(row.Size), row.TimeText) << row.Size;
    }
}

TEST(SaveAssistantTexts, TargetNamesFollowTheTab)
{
    InitOnce();
    EXPECT_EQ(SaveTargetName("/d/photo", stJPG), "/d/photo.jpg");
    EXPECT_EQ(SaveTargetName("/d/photo.png", stJPG), "/d/photo.jpg") << "a JPEG never goes under .png";
    EXPECT_EQ(SaveTargetName("/d/photo.jpg", stPNG), "/d/photo.png");
    EXPECT_EQ(SaveTargetName("/d/photo.ico", stBMP), "/d/photo.bmp");
    EXPECT_EQ(SaveTargetName("/d/photo.JPEG", stJPG), "/d/photo.JPEG") << "the tab's own format in any case";
    EXPECT_EQ(SaveTargetName("/d/photo.Jpg", stJPG), "/d/photo.Jpg");
    EXPECT_EQ(SaveTargetName("/d/photo.dib", stBMP), "/d/photo.dib");
    EXPECT_EQ(SaveTargetName("/d/vacances.2024", stPNG), "/d/vacances.2024.png") << "not a picture extension";
    EXPECT_EQ(SaveTargetName("/d.x/.photo", stBMP), "/d.x/.photo.bmp");
    EXPECT_EQ(SaveTargetName("/d/a.gif", stGIF), "/d/a.gif");
    EXPECT_EQ(SaveTargetName("/d/photo.", stJPG), "/d/photo.jpg") << "no doubled dot";
    EXPECT_EQ(SaveTabFilter(stGIF), "Compuserve Images (*.gif)|*.gif");
    EXPECT_EQ(SaveTabFilter(stPNG), "Portable Network Images (*.png)|*.png");
}

// ---------------------------------------------------------------------------

TEST_F(SaveAssistantTest, ActivationPreviewsTheActiveTabAndLeavesNoFile)
{
    CloseConfirmed = true;
    D().memorise();
    Logic.FormActivate(D());
    EXPECT_FALSE(CloseConfirmed);
    EXPECT_EQ(D().UndoCount(), 2);
    // 54 header bytes and 30 rows of 124.
    EXPECT_EQ(Logic.SizeLabels[stBMP], "3 774");
    EXPECT_EQ(Logic.TimeLabels[stBMP], "0.7");
    EXPECT_TRUE(SamePixels(D().Picture(), Original));
    const std::string folder = Logic.TempFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.find("corvinel-"), std::string::npos);
    EXPECT_EQ(FilesIn(folder), 0u) << "the preview file is deleted";

    Logic.SetTab(stPNG);
    EXPECT_EQ(FilesIn(folder), 0u);
    EXPECT_FALSE(Logic.SizeLabels[stPNG].empty());
    EXPECT_TRUE(SamePixels(D().Picture(), Original)) << "PNG keeps the picture";

    Logic.FormClose();
    EXPECT_FALSE(std::filesystem::exists(folder)) << "the folder goes at close";
    EXPECT_EQ(D().UndoCount(), 1);
    EXPECT_TRUE(SamePixels(D().Picture(), Original));
}

TEST_F(SaveAssistantTest, JpegTabPreviewsTheDecodedFileAndSavesItsQuality)
{
    Logic.Settings.Tab = stJPG;
    Logic.FormActivate(D());
    EXPECT_FALSE(SamePixels(D().Picture(), Original)) << "the document shows the decoded JPEG";
    SaveAs.Answers = {Dir.File("q80.jpg")};
    ASSERT_TRUE(Logic.enregistrerClick());
    EXPECT_EQ(Identify(Dir.File("q80.jpg"), "%m %w %h %Q"), "JPEG 41 30 80");
    ASSERT_EQ(SaveAs.Calls.size(), 1u);
    EXPECT_EQ(SaveAs.Calls[0].Filter, "JPEG Images (*.jpg)|*.jpg");
    EXPECT_EQ(SaveAs.Calls[0].DefaultExt, "jpg");
    EXPECT_EQ(SaveAs.Calls[0].Proposed, "photo.bmp");
    EXPECT_EQ(SaveAs.Calls[0].Folder, Dir.Path());
    // The preview is the file as an outside decoder reads it.
    const testutil::RgbImage outside = Decoded(Dir.File("q80.jpg"), Dir);
    const testutil::RgbImage shown = testutil::FromBitmap(D().Picture());
    ASSERT_EQ(outside.Width, shown.Width);
    ASSERT_EQ(outside.Height, shown.Height);
    EXPECT_LE(testutil::MaxDifference(outside, shown), 1);
    Logic.FormClose();

    // The slider's ends: quality 100 and libjpeg's lowest, 1.
    for (const auto& [position, quality] : {std::pair{0, "100"}, std::pair{100, "1"}}) {
        Logic.FormActivate(D());
        Logic.calChange(position, 9);
        Clock.Advance(500);
        const std::string name = Dir.File("q" + std::to_string(position) + ".jpg");
        SaveAs.Answers = {name};
        ASSERT_TRUE(Logic.enregistrerClick());
        EXPECT_EQ(Identify(name, "%m %Q"), std::string("JPEG ") + quality);
        Logic.FormClose();
    }
}

TEST_F(SaveAssistantTest, PngAndBmpFilesHoldThePictureExactly)
{
    for (const int tab : {stPNG, stBMP}) {
        Logic.Settings.Tab = tab;
        Logic.FormActivate(D());
        const std::string name = Dir.File(tab == stPNG ? "out.png" : "out.bmp");
        SaveAs.Answers = {name};
        ASSERT_TRUE(Logic.enregistrerClick());
        const std::uint64_t size = std::filesystem::file_size(name);
        EXPECT_EQ(Logic.SizeLabels[static_cast<std::size_t>(tab)], FileSizeText(size)) << "the label is the file's size";
        EXPECT_EQ(Identify(name), std::string(tab == stPNG ? "PNG" : "BMP3") + " 41 30");
        const testutil::RgbImage outside = Decoded(name, Dir);
        const testutil::RgbImage expected = testutil::FromBitmap(Original);
        ASSERT_EQ(outside.Width, expected.Width);
        ASSERT_EQ(outside.Height, expected.Height);
        EXPECT_EQ(testutil::MaxDifference(outside, expected), 0);
        Logic.FormClose();
    }
    // Level 0 stores, level 9 compresses: a plain picture shrinks.
    Doc = std::make_unique<TTestDocument>(TBitmap(200, 100, pf24bit), Dir.File("blank.bmp"));
    Logic.Settings.Tab = stPNG;
    Logic.FormActivate(D());
    const std::uint64_t level9 = Logic.LastPreview()->Size;
    Logic.calChange(20, 0);
    Clock.Advance(500);
    EXPECT_EQ(Logic.LastPreview()->Settings.PngLevel, 0);
    EXPECT_GT(Logic.LastPreview()->Size, 60000u);
    EXPECT_LT(level9, 2000u);
}

TEST_F(SaveAssistantTest, SliderPreviewsAtMostOncePerPause)
{
    Logic.Settings.Tab = stJPG;
    int previews = 0;
    Logic.OnChanged = [&] { ++previews; };
    Logic.FormActivate(D());
    EXPECT_EQ(previews, 1);
    Logic.calChange(30, 9);
    Clock.Advance(300);
    Logic.calChange(40, 9); // the running wait is not restarted
    Clock.Advance(199);
    EXPECT_EQ(previews, 1);
    Clock.Advance(1);
    EXPECT_EQ(previews, 2);
    EXPECT_EQ(Logic.LastPreview()->Settings.JpegPosition, 40);
    Clock.Advance(2000);
    EXPECT_EQ(previews, 2) << "no preview without a change";
    Logic.calChange(50, 9);
    Logic.FormClose();
    Clock.Advance(1000);
    EXPECT_EQ(previews, 2) << "a pending wait dies with the dialog";
    EXPECT_EQ(Clock.Pending(), 0u);
}

TEST_F(SaveAssistantTest, SaveRightAfterAMovementUsesTheShownSetting)
{
    Logic.Settings.Tab = stJPG;
    Logic.FormActivate(D());
    Logic.calChange(50, 9); // ENREGISTRER before the pause ends
    SaveAs.Answers = {Dir.File("q50.jpg")};
    ASSERT_TRUE(Logic.enregistrerClick());
    EXPECT_EQ(Identify(Dir.File("q50.jpg"), "%Q"), "50");
    EXPECT_EQ(Logic.SizeLabels[stJPG], FileSizeText(std::filesystem::file_size(Dir.File("q50.jpg"))));
    EXPECT_EQ(Clock.Pending(), 0u);
}

TEST_F(SaveAssistantTest, SaveRenamesTheDocumentAndCloseRestoresItsPicture)
{
    D().memorise();
    D().Modified = true;
    const int depth = D().UndoCount();
    Logic.Settings.Tab = stJPG;
    BrowserShown = true;
    Logic.FormActivate(D());
    SaveAs.Answers = {Dir.File("new")};
    ASSERT_TRUE(Logic.enregistrerClick());
    EXPECT_TRUE(CloseConfirmed);
    EXPECT_EQ(D().FileName, Dir.File("new.jpg")) << "the tab's extension is added";
    EXPECT_EQ(Identify(Dir.File("new.jpg")), "JPEG 41 30");
    EXPECT_EQ(Added, std::vector<std::string>{Dir.File("new.jpg")});
    EXPECT_TRUE(Refreshed.empty());
    Logic.FormClose();
    EXPECT_TRUE(SamePixels(D().Picture(), Original)) << "not the decoded JPEG";
    EXPECT_EQ(D().UndoCount(), depth);
    EXPECT_FALSE(D().Modified);
    EXPECT_EQ(D().Caption(), "new.jpg(1:1)");

    // Saved again under its own path: the tile is refreshed.
    Logic.FormActivate(D());
    SaveAs.Answers = {Dir.File("new.jpg")};
    ASSERT_TRUE(Logic.enregistrerClick());
    EXPECT_EQ(Refreshed, std::vector<std::string>{Dir.File("new.jpg")});
    EXPECT_EQ(Added.size(), 1u);
    Logic.FormClose();

    // Written over another file of the folder: that file's tile is redrawn,
    // no second tile comes.
    std::ofstream(Dir.File("other.jpg")) << "old";
    Logic.FormActivate(D());
    SaveAs.Answers = {Dir.File("other.jpg")};
    ASSERT_TRUE(Logic.enregistrerClick());
    EXPECT_EQ(Identify(Dir.File("other.jpg")), "JPEG 41 30");
    EXPECT_EQ(Refreshed, (std::vector<std::string>{Dir.File("new.jpg"), Dir.File("other.jpg")}));
    EXPECT_EQ(Added.size(), 1u);
}

TEST_F(SaveAssistantTest, JpegSaveOfAPhotoKeepsItsCameraDataAndShowsTheSizeWritten)
{
    const std::string photo = Dir.File("camera.jpg");
    testutil::MakeCameraPhoto(photo, 41, 30, 1);
    D().Metadata = TPhotoMetadata::FromFile(photo);
    ASSERT_TRUE(D().Metadata);
    Logic.Settings.Tab = stJPG;
    Logic.FormActivate(D());
    const std::string size = Logic.SizeLabels[stJPG];
    const std::string time = Logic.TimeLabels[stJPG];
    SaveAs.Answers = {Dir.File("kept.jpg")};
    ASSERT_TRUE(Logic.enregistrerClick());
    testutil::ExpectCameraDataKept(Dir.File("kept.jpg"), 41, 30);
    // The size and download time shown are those of the file written,
    // camera data included (which outweighs this small picture's pixels).
    const std::uintmax_t written = std::filesystem::file_size(Dir.File("kept.jpg"));
    EXPECT_GT(written, 2000u);
    std::string digits = size;
    std::erase(digits, ' ');
    EXPECT_EQ(digits, std::to_string(written));
    EXPECT_EQ(time, std::to_string(written / 5000) + "." + std::to_string(written / 500 % 10));

    // Other formats carry none.
    Logic.FormClose();
    Logic.Settings.Tab = stPNG;
    Logic.FormActivate(D());
    SaveAs.Answers = {Dir.File("plain.png")};
    ASSERT_TRUE(Logic.enregistrerClick());
    EXPECT_EQ(testutil::ExifTag(Dir.File("plain.png"), "Model"), "");
}

TEST_F(SaveAssistantTest, CancelWritesNothingAndChangesNothing)
{
    D().Modified = true;
    BrowserShown = true;
    Logic.Settings.Tab = stPNG;
    Logic.FormActivate(D());
    SaveAs.Answers = {""};
    EXPECT_FALSE(Logic.enregistrerClick());
    EXPECT_FALSE(CloseConfirmed);
    EXPECT_EQ(D().FileName, Dir.File("photo.bmp"));
    EXPECT_TRUE(D().Modified);
    EXPECT_TRUE(Added.empty());
    EXPECT_TRUE(Refreshed.empty());
    EXPECT_EQ(FilesIn(Dir.Path()), 0u);
    EXPECT_EQ(FilesIn(Logic.TempFolder()), 0u);
}

TEST_F(SaveAssistantTest, AnotherFormatsExtensionIsReplacedAndAskedFor)
{
    Logic.Settings.Tab = stJPG;
    Logic.FormActivate(D());
    std::ofstream(Dir.File("shot.jpg")) << "old";
    SaveAs.Answers = {Dir.File("shot.png")};
    Boxes().Answers = {mrNo};
    EXPECT_FALSE(Logic.enregistrerClick());
    ASSERT_EQ(Boxes().Calls.size(), 1u);
    EXPECT_EQ(Boxes().Calls[0].Text, "Le fichier shot.jpg existe déjà. Voulez-vous le remplacer ?");
    EXPECT_EQ(testutil::ReadFile(Dir.File("shot.jpg")).size(), 3u);
    EXPECT_FALSE(std::filesystem::exists(Dir.File("shot.png")));

    SaveAs.Answers = {Dir.File("shot.png")};
    Boxes().Answers = {mrYes};
    ASSERT_TRUE(Logic.enregistrerClick());
    EXPECT_EQ(Identify(Dir.File("shot.jpg")), "JPEG 41 30");
    EXPECT_FALSE(std::filesystem::exists(Dir.File("shot.png")));
    EXPECT_EQ(D().FileName, Dir.File("shot.jpg"));
}

TEST_F(SaveAssistantTest, FailedWriteKeepsTheOldFileAndTheDocument)
{
    D().Modified = true;
    Logic.Settings.Tab = stBMP;
    Logic.FormActivate(D());
    // The target is a folder: the write fails and the folder stays.
    std::filesystem::create_directory(Dir.File("taken.bmp"));
    std::ofstream(Dir.File("taken.bmp/inside")) << "x";
    SaveAs.Answers = {Dir.File("taken.bmp")};
    try {
        Logic.enregistrerClick();
        ADD_FAILURE() << "the write into a folder succeeded";
    } catch (const Exception& e) {
        // The error box says which file could not be saved.
        EXPECT_EQ(e.Message.rfind("Impossible d'enregistrer le fichier " + Dir.File("taken.bmp"), 0), 0u)
            << e.Message;
    }
    EXPECT_TRUE(std::filesystem::is_directory(Dir.File("taken.bmp")));
    EXPECT_TRUE(std::filesystem::exists(Dir.File("taken.bmp/inside")));
    EXPECT_EQ(D().FileName, Dir.File("photo.bmp"));
    EXPECT_TRUE(D().Modified);
    EXPECT_FALSE(CloseConfirmed);
    EXPECT_EQ(FilesIn(Dir.Path()), 1u) << "no temporary file beside it";
}

TEST_F(SaveAssistantTest, NoFiguresOfAnotherSettingAfterAFailedPreview)
{
    Logic.FormActivate(D());
    const std::string bmpSize = Logic.SizeLabels[stBMP];
    Logic.SetTab(stJPG);
    const std::string at20 = Logic.SizeLabels[stJPG];
    ASSERT_EQ(at20, FileSizeText(Logic.LastPreview()->Size));
    // The slider moves: until its preview no figures show, those of 20 are
    // not those of 60.
    Logic.calChange(60, 9);
    EXPECT_EQ(Logic.SizeLabels[stJPG], "");
    EXPECT_EQ(Logic.TimeLabels[stJPG], "");
    // The disk is full: the preview fails, and still no figures show; the
    // document shows its own picture, the dialog stays open. The BMP tab,
    // which has no setting, keeps its figures.
    {
        const TFullDisk full;
        EXPECT_THROW(Logic.pauseTimer(), Exception);
    }
    EXPECT_EQ(Logic.SizeLabels[stJPG], "");
    EXPECT_EQ(Logic.TimeLabels[stJPG], "");
    EXPECT_EQ(Logic.SizeLabels[stBMP], bmpSize);
    EXPECT_TRUE(SamePixels(D().Picture(), Original));
    EXPECT_TRUE(Logic.Session.Active()) << "the dialog stays open";
    // Nor can a save write what was never previewed.
    {
        const TFullDisk full;
        SaveAs.Answers = {Dir.File("never.jpg")};
        EXPECT_THROW(Logic.enregistrerClick(), Exception);
    }
    EXPECT_FALSE(std::filesystem::exists(Dir.File("never.jpg")));
    EXPECT_TRUE(SaveAs.Calls.empty());
    // Back at 20, the figures of 20 are right again.
    Logic.calChange(20, 9);
    EXPECT_EQ(Logic.SizeLabels[stJPG], at20);
    const std::string folder = Logic.TempFolder();
    Logic.FormClose();
    EXPECT_TRUE(SamePixels(D().Picture(), Original));
    EXPECT_FALSE(std::filesystem::exists(folder));
}

TEST_F(SaveAssistantTest, APreviewMakesThePrivateFolderAgainWhenItWasRemoved)
{
    // A cleaner removes the folder under the dialog: the next preview
    // makes it again, without a box.
    Logic.FormActivate(D());
    std::filesystem::remove_all(Logic.TempFolder());
    Logic.SetTab(stPNG);
    ASSERT_TRUE(Logic.LastPreview());
    EXPECT_EQ(Logic.LastPreview()->Settings.Tab, stPNG);
    EXPECT_EQ(Logic.SizeLabels[stPNG], FileSizeText(Logic.LastPreview()->Size));
    EXPECT_EQ(FilesIn(Logic.TempFolder()), 0u);
    Logic.FormClose();

    // The same with the previews encoded off the user-interface thread.
    TFsauveLogic threaded(Clock, Boxes(), SaveAs, true);
    threaded.Settings.Tab = stJPG;
    threaded.FormActivate(D());
    ASSERT_TRUE(testqt::WaitFor([&] { return !threaded.Busy(); }, 20000));
    std::filesystem::remove_all(threaded.TempFolder());
    threaded.calChange(60, 9);
    threaded.pauseTimer();
    ASSERT_TRUE(testqt::WaitFor([&] { return !threaded.Busy(); }, 20000));
    EXPECT_TRUE(Boxes().Calls.empty());
    ASSERT_TRUE(threaded.LastPreview());
    EXPECT_EQ(threaded.LastPreview()->Settings.JpegPosition, 60);
    EXPECT_EQ(threaded.SizeLabels[stJPG], FileSizeText(threaded.LastPreview()->Size));
    threaded.FormClose();
}

TEST_F(SaveAssistantTest, AFolderAnotherProgramPutUnderTheRemovedFoldersNameIsLeftAlone)
{
    // A cleaner removes the folder, then another program makes a folder of
    // its own under the same name and keeps a file in it.
    auto takeOver = [](const std::string& folder) {
        std::filesystem::remove_all(folder);
        std::filesystem::create_directory(folder);
        std::ofstream(folder + "/marker") << "not the assistant's";
        return folder + "/marker";
    };

    // The next preview works in a new folder of its own; neither it nor
    // the close touches the other program's.
    Logic.FormActivate(D());
    const std::string first = Logic.TempFolder();
    const std::string marker = takeOver(first);
    Logic.SetTab(stPNG);
    ASSERT_TRUE(Logic.LastPreview());
    EXPECT_EQ(Logic.LastPreview()->Settings.Tab, stPNG);
    const std::string second = Logic.TempFolder();
    EXPECT_NE(second, first);
    EXPECT_TRUE(std::filesystem::is_directory(second));
    EXPECT_EQ(FilesIn(first), 1u) << "no preview file is written into the other program's folder";
    Logic.FormClose();
    EXPECT_TRUE(std::filesystem::exists(marker));
    EXPECT_FALSE(std::filesystem::exists(second)) << "the assistant's own folder goes at the close";

    // Taken over after the last preview: the close leaves it too.
    Logic.FormActivate(D());
    const std::string afterLast = takeOver(Logic.TempFolder());
    Logic.FormClose();
    EXPECT_TRUE(std::filesystem::exists(afterLast));

    // The same with the previews encoded off the user-interface thread, the
    // assistant destroyed at the end.
    std::string threadedMarker;
    {
        TFsauveLogic threaded(Clock, Boxes(), SaveAs, true);
        threaded.Settings.Tab = stJPG;
        threaded.FormActivate(D());
        ASSERT_TRUE(testqt::WaitFor([&] { return !threaded.Busy(); }, 20000));
        threadedMarker = takeOver(threaded.TempFolder());
        threaded.calChange(60, 9);
        threaded.pauseTimer();
        ASSERT_TRUE(testqt::WaitFor([&] { return !threaded.Busy(); }, 20000));
        ASSERT_TRUE(threaded.LastPreview());
        EXPECT_EQ(threaded.LastPreview()->Settings.JpegPosition, 60);
        EXPECT_NE(threaded.TempFolder() + "/marker", threadedMarker);
        threaded.FormClose();
    }
    EXPECT_TRUE(std::filesystem::exists(threadedMarker));
    EXPECT_TRUE(Boxes().Calls.empty());
    for (const std::string& file : {marker, afterLast, threadedMarker})
        std::filesystem::remove_all(std::filesystem::path(file).parent_path());
}

TEST_F(SaveAssistantTest, CloseRestoresOverAFullUndoStack)
{
    for (int i = 0; i < TDocument::MaxUndo; ++i)
        D().memorise();
    Logic.Settings.Tab = stJPG;
    Logic.FormActivate(D());
    EXPECT_FALSE(SamePixels(D().Picture(), Original));
    SaveAs.Answers = {Dir.File("full.jpg")};
    ASSERT_TRUE(Logic.enregistrerClick());
    Logic.FormClose();
    EXPECT_TRUE(SamePixels(D().Picture(), Original));
    // The assistant's snapshot took the place of the oldest one, and its
    // restore took it back.
    EXPECT_EQ(D().UndoCount(), TDocument::MaxUndo - 1);
    EXPECT_FALSE(D().Modified) << "the save is not undone by the restore";
}

TEST_F(SaveAssistantTest, UnnamedDocumentIsProposedSansNom)
{
    Doc = std::make_unique<TTestDocument>(Original, UntitledName);
    Logic.FormActivate(D());
    SaveAs.Answers = {Dir.File("Sans nom")};
    ASSERT_TRUE(Logic.enregistrerClick());
    ASSERT_EQ(SaveAs.Calls.size(), 1u);
    EXPECT_EQ(SaveAs.Calls[0].Proposed, "Sans nom");
    EXPECT_EQ(SaveAs.Calls[0].Folder, "");
    EXPECT_EQ(D().FileName, Dir.File("Sans nom.bmp"));
    EXPECT_EQ(Identify(Dir.File("Sans nom.bmp")), "BMP3 41 30");
}

TEST_F(SaveAssistantTest, GifTabFollowsTheBuild)
{
    Logic.Settings.Tab = stGIF;
    Logic.FormActivate(D());
    if (!TFsauveLogic::GifAvailable()) {
        EXPECT_EQ(Logic.SizeLabels[stGIF], "");
        EXPECT_TRUE(SamePixels(D().Picture(), Original));
        SaveAs.Answers = {Dir.File("a.gif")};
        EXPECT_FALSE(Logic.enregistrerClick());
        ASSERT_EQ(Boxes().Calls.size(), 1u) << "the user is told";
        EXPECT_FALSE(std::filesystem::exists(Dir.File("a.gif")));
        return;
    }
    // A photo-like picture with far more than 256 colours.
    Logic.FormClose();
    Doc = std::make_unique<TTestDocument>(Pattern(64, 48), Dir.File("photo.bmp"));
    for (const bool sixteen : {false, true}) {
        Logic.Settings.Colors16 = false;
        Logic.FormActivate(D());
        const std::string size256 = Logic.SizeLabels[stGIF];
        Logic.Rcoul16Click(sixteen);
        if (sixteen) {
            EXPECT_NE(Logic.SizeLabels[stGIF], size256) << "16 colours are encoded at once";
            std::set<std::uint32_t> shown;
            const testutil::RgbImage rgb = testutil::FromBitmap(D().Picture());
            for (std::size_t i = 0; i + 2 < rgb.Rgb.size(); i += 3)
                shown.insert(rgb.Rgb[i] << 16 | rgb.Rgb[i + 1] << 8 | rgb.Rgb[i + 2]);
            EXPECT_LE(shown.size(), 16u) << "the document shows the reduced picture";
        }
        const std::string name = Dir.File(sixteen ? "c16.gif" : "c256.gif");
        SaveAs.Answers = {name};
        ASSERT_TRUE(Logic.enregistrerClick());
        EXPECT_EQ(Identify(name), "GIF 64 48");
        const int colours = std::stoi(Identify(name, "%k"));
        EXPECT_LE(colours, sixteen ? 16 : 256);
        EXPECT_GT(colours, sixteen ? 4 : 16);
        Logic.FormClose();
    }
}

TEST_F(SaveAssistantTest, ThreadedPreviewsLetTheLastRequestWin)
{
    TFsauveLogic threaded(Clock, Boxes(), SaveAs, true);
    threaded.Settings.Tab = stJPG;
    threaded.FormActivate(D());
    EXPECT_TRUE(threaded.Busy());
    for (const int position : {10, 60, 90}) {
        threaded.calChange(position, 9);
        threaded.pauseTimer();
    }
    EXPECT_TRUE(testqt::WaitFor([&] { return !threaded.Busy(); }, 20000));
    ASSERT_TRUE(threaded.LastPreview());
    EXPECT_EQ(threaded.LastPreview()->Settings.JpegPosition, 90);
    EXPECT_EQ(FilesIn(threaded.TempFolder()), 0u);
    // A request left running at close does not hold the close up: it ends
    // alone, its folder goes with it and its result is never shown.
    threaded.calChange(20, 9);
    threaded.pauseTimer();
    const std::string folder = threaded.TempFolder();
    threaded.FormClose();
    EXPECT_FALSE(threaded.Busy());
    EXPECT_TRUE(SamePixels(D().Picture(), Original));
    EXPECT_TRUE(testqt::WaitFor([&] { return threaded.RetiredCount() == 0; }, 20000));
    EXPECT_FALSE(std::filesystem::exists(folder));
    EXPECT_TRUE(SamePixels(D().Picture(), Original));

    // ENREGISTRER while a preview runs waits for it and saves what it shows.
    threaded.FormActivate(D());
    threaded.calChange(70, 9);
    threaded.pauseTimer();
    SaveAs.Answers = {Dir.File("t30.jpg")};
    ASSERT_TRUE(threaded.enregistrerClick());
    EXPECT_EQ(Identify(Dir.File("t30.jpg"), "%Q"), "30");
    threaded.FormClose();
}

// The compression level a PNG file records (zlib's FLEVEL of its first
// IDAT chunk: 0 for levels 0 and 1, 3 for 7 to 9), read by Python.
std::string PngZlibLevel(const std::string& path)
{
    const std::string script = "import struct,sys\n"
                               "d=open(sys.argv[1],'rb').read();p=8\n"
                               "while p<len(d):\n"
                               " n,=struct.unpack('>I',d[p:p+4]);t=d[p+4:p+8]\n"
                               " if t==b'IDAT':\n"
                               "  print(d[p+9]>>6,end='');break\n"
                               " p+=12+n\n";
    const auto result = Run(testutil::Tool("python3") + " -c " + Quote(script) + " " + Quote(path));
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    return result.Output;
}

TEST_F(SaveAssistantTest, SaveWaitsForItsPreviewWithoutFreezingTheWindow)
{
    const std::unique_ptr<TFsauveLogic> busy = BusyOverABigPicture();
    TFsauveLogic& threaded = *busy;
    ASSERT_TRUE(threaded.Busy());
    threaded.calChange(20, 1); // ENREGISTRER before the pause ends
    // The test runs no event loop of its own: ticks counted come from the
    // events the save handles while it waits for the preview.
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(2);
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start();
    // A window the user asks to close meanwhile stays: the save goes on.
    QWidget window;
    window.show();
    bool closeAsked = false;
    QTimer::singleShot(1, [&] {
        closeAsked = true;
        window.close();
    });
    SaveAs.Answers = {Dir.File("level1.png")};
    ASSERT_TRUE(threaded.enregistrerClick());
    ticker.stop();
    EXPECT_GT(ticks, 0) << "the window repaints while the save waits";
    EXPECT_TRUE(closeAsked);
    EXPECT_TRUE(window.isVisible()) << "no window closes under the waiting save";
    ASSERT_TRUE(threaded.LastPreview());
    EXPECT_EQ(threaded.LastPreview()->Settings.PngLevel, 1);
    EXPECT_EQ(PngZlibLevel(Dir.File("level1.png")), "0") << "saved at the level shown, not 9";
    EXPECT_EQ(threaded.SizeLabels[stPNG], FileSizeText(std::filesystem::file_size(Dir.File("level1.png"))));
    EXPECT_EQ(Identify(Dir.File("level1.png")), "PNG 1200 900");
    threaded.FormClose();
}

TEST_F(SaveAssistantTest, ActivationLeavesTheSelectionSizeShown)
{
    DrawSelection(D(), Rect(4, 3, 30, 20));
    Logic.FormActivate(D());
    EXPECT_EQ(Doc->States.Panel(3), "26 x 17");
    EXPECT_FALSE(D().SelVisible);
    EXPECT_TRUE(SamePixels(D().Picture(), Original)) << "the frame is erased";
}

TEST_F(SaveAssistantTest, PreviewFailingWhileTheSaveWaitsIsShownOnceInputIsTakenAgain)
{
    const std::unique_ptr<TFsauveLogic> busy = BusyOverABigPicture();
    TFsauveLogic& threaded = *busy;
    ASSERT_TRUE(threaded.Busy());
    // The disk is full; the slider moves and ENREGISTRER comes at once.
    threaded.calChange(20, 1);
    SaveAs.Answers = {Dir.File("never.png")};
    {
        const TFullDisk full;
        EXPECT_FALSE(threaded.enregistrerClick());
    }
    ASSERT_EQ(Boxes().Calls.size(), 1u) << "the error is told once";
    EXPECT_FALSE(Boxes().Calls[0].InputDropped) << "a person can answer the box";
    EXPECT_NE(Boxes().Calls[0].Text.find("tempo.png"), std::string::npos) << Boxes().Calls[0].Text;
    EXPECT_FALSE(InputPaused());
    // The save stopped cleanly: nothing asked, nothing written, the dialog
    // still open over the document.
    EXPECT_TRUE(SaveAs.Calls.empty());
    EXPECT_FALSE(std::filesystem::exists(Dir.File("never.png")));
    EXPECT_FALSE(threaded.Busy());
    EXPECT_TRUE(threaded.Session.Active());
    EXPECT_FALSE(CloseConfirmed);
    threaded.FormClose();
    EXPECT_TRUE(SamePixels(D().Picture(), Pattern(1200, 900)));
}

// An animated GIF of the given frames written by ImageMagick, each frame a
// plain colour.
void MakeAnimatedGif(const std::string& path, int frames)
{
    std::string command = testutil::Tool("convert") + " -delay 10";
    const char* colours[] = {"red", "lime", "blue", "yellow"};
    for (int i = 0; i < frames; ++i)
        command += std::string(" -size 12x8 xc:") + colours[i % 4];
    command += " " + Quote("gif:" + path);
    const auto result = Run(command);
    ASSERT_EQ(result.ExitCode, 0) << result.Output;
    std::string each;
    for (int i = 0; i < frames; ++i)
        each += std::to_string(frames) + ",";
    ASSERT_EQ(Identify(path, "%n,"), each);
}

std::string FileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST_F(SaveAssistantTest, SavingOverAnAnimatedGifAsksFirst)
{
    if (!TFsauveLogic::GifAvailable())
        FAIL() << "this build cannot write GIF files";
    const std::string animation = Dir.File("anim.gif");
    MakeAnimatedGif(animation, 3);
    const std::string before = FileBytes(animation);
    Doc = std::make_unique<TTestDocument>(Pattern(12, 8), animation);
    Logic.Settings.Tab = stGIF;

    // "Non", the default: nothing is written.
    Logic.FormActivate(D());
    SaveAs.Answers = {animation};
    EXPECT_FALSE(Logic.enregistrerClick());
    ASSERT_EQ(Boxes().Calls.size(), 1u);
    const auto& question = Boxes().Calls[0];
    EXPECT_EQ(question.Caption, "Confirmation");
    EXPECT_EQ(question.Flags & MB_TYPEMASK, MB_YESNO);
    EXPECT_EQ(MessageBoxDefault(question.Flags), IDNO);
    EXPECT_EQ(question.Answer, IDNO);
    EXPECT_NE(question.Text.find("anim.gif"), std::string::npos) << question.Text;
    EXPECT_NE(question.Text.find("2 autres images"), std::string::npos) << question.Text;
    EXPECT_EQ(FileBytes(animation), before) << "the file stays byte for byte";
    EXPECT_FALSE(CloseConfirmed);
    Logic.FormClose();

    // "Oui": the one picture replaces the animation.
    Boxes().Calls.clear();
    Boxes().Answers = {IDYES};
    Logic.FormActivate(D());
    SaveAs.Answers = {animation};
    ASSERT_TRUE(Logic.enregistrerClick());
    EXPECT_EQ(Boxes().Calls.size(), 1u);
    EXPECT_EQ(Identify(animation, "%n %w %h "), "1 12 8 ");
    Logic.FormClose();

    // A one-frame GIF written over itself, and an animation's picture
    // saved under another name, ask nothing.
    Boxes().Calls.clear();
    Logic.FormActivate(D());
    SaveAs.Answers = {animation};
    EXPECT_TRUE(Logic.enregistrerClick());
    Logic.FormClose();
    const std::string other = Dir.File("other.gif");
    MakeAnimatedGif(other, 2);
    Doc = std::make_unique<TTestDocument>(Pattern(12, 8), other);
    Logic.FormActivate(D());
    SaveAs.Answers = {Dir.File("copy.gif")};
    EXPECT_TRUE(Logic.enregistrerClick());
    EXPECT_TRUE(Boxes().Calls.empty());
    EXPECT_EQ(Identify(Dir.File("copy.gif"), "%n %w %h "), "1 12 8 ");
}

// ---------------------------------------------------------------------------
// The frame's ways into the assistant

// The frame's MDI area with room for one document window.
class TOneWindow : public IFrameWindows, public IChildWindow {
public:
    std::vector<IChildWindow*> Children() override { return Doc ? std::vector<IChildWindow*>{this} : std::vector<IChildWindow*>{}; }
    IChildWindow* ActiveChild() override { return Doc ? this : nullptr; }
    IChildWindow* CreateDocumentWindow(std::unique_ptr<TDocument> document) override
    {
        Doc = std::move(document);
        return this;
    }
    TFitArea FitArea(IChildWindow&) override { return TFitArea{1000, 800, 0, 0}; }
    TDocument* Document() override { return Doc.get(); }
    void Focus() override {}
    bool Close() override
    {
        if (!Frame->DocumentCloseQuery(*Doc))
            return false;
        Frame->DocumentClosed(*Doc);
        Doc.reset();
        return true;
    }
    TEditorFrame* Frame = nullptr;
    std::unique_ptr<TDocument> Doc;
};

// The assistant as the frame shows it: one showing that presses ENREGISTRER.
class TAssistantWindows : public TNoEditorWindows {
public:
    explicit TAssistantWindows(TFsauveLogic& logic) : FLogic(logic) {}
    bool Has(TEditorWindow window) const override { return window == TEditorWindow::SaveAssistant; }
    void ShowModal(TEditorWindow window) override
    {
        ASSERT_EQ(window, TEditorWindow::SaveAssistant);
        ++Shown;
        FLogic.FormActivate(*Active());
        FLogic.enregistrerClick();
        FLogic.FormClose();
    }
    // The frame's active document, as the dialogs find it.
    std::function<TDocument*()> Active;
    int Shown = 0;

private:
    TFsauveLogic& FLogic;
};

// A frame over the windows given, the assistant standing for its dialogs;
// new pictures are 8 x 6.
struct TAssistantFrame {
    TAssistantFrame(IFrameWindows& windows, TFsauveLogic& logic, IMessageBoxes& boxes) : Assistant(logic)
    {
        Assistant.Active = [&windows] {
            IChildWindow* active = windows.ActiveChild();
            return active ? active->Document() : nullptr;
        };
        Services.Boxes = &boxes;
        Services.Clipboard = &Clipboard;
        Services.Shell = &Shell;
        Services.Scanner = &Scanner;
        Services.Windows = &Assistant;
        Frame = std::make_unique<TEditorFrame>(windows, Services);
        Frame->FormCreate();
        Frame->NewImageWidth = 8;
        Frame->NewImageHeight = 6;
    }
    TAssistantWindows Assistant;
    TMemoryClipboard Clipboard;
    TRecordingDesktop Shell;
    TNoScanner Scanner;
    TEditorServices Services;
    std::unique_ptr<TEditorFrame> Frame;
};

TEST_F(SaveAssistantTest, FrameSavesUnnamedAndSaveAsThroughTheAssistant)
{
    TOneWindow windows;
    TAssistantFrame frames(windows, Logic, Boxes());
    TAssistantWindows& assistant = frames.Assistant;
    TEditorFrame& frame = *frames.Frame;
    windows.Frame = &frame;
    ASSERT_TRUE(frame.OpenImage(UntitledName));

    // Closing the unnamed picture with Yes, the assistant cancelled: it stays.
    Boxes().Answers = {IDYES};
    SaveAs.Answers = {""};
    EXPECT_FALSE(windows.Close());
    EXPECT_EQ(assistant.Shown, 1);
    EXPECT_FALSE(CloseConfirmed);

    // The direct save of an unnamed picture is the assistant.
    SaveAs.Answers = {Dir.File("blank")};
    frame.benrClick();
    EXPECT_EQ(assistant.Shown, 2);
    EXPECT_TRUE(CloseConfirmed);
    EXPECT_EQ(Identify(Dir.File("blank.bmp")), "BMP3 8 6");
    EXPECT_EQ(windows.Doc->FileName, Dir.File("blank.bmp"));

    // "Enregistrer sous..." opens it for a named picture too.
    SaveAs.Answers = {Dir.File("copy.png")};
    Logic.Settings.Tab = stPNG;
    frame.BenrsousClick();
    EXPECT_EQ(assistant.Shown, 3);
    EXPECT_EQ(Identify(Dir.File("copy.png")), "PNG 8 6");

    // Yes on the close question, saved through the assistant: it closes.
    windows.Doc->memorise();
    windows.Doc->FileName = UntitledName;
    Boxes().Answers = {IDYES};
    SaveAs.Answers = {Dir.File("closing.png")};
    EXPECT_TRUE(windows.Close());
    EXPECT_EQ(assistant.Shown, 4);
    EXPECT_TRUE(std::filesystem::exists(Dir.File("closing.png")));
    EXPECT_FALSE(windows.Doc);
}

// Document windows of which the first stays active whatever the frame asks.
class TStubbornWindows : public IFrameWindows {
public:
    struct TChild : IChildWindow {
        TStubbornWindows* Owner = nullptr;
        std::unique_ptr<TDocument> Doc;
        TDocument* Document() override { return Doc.get(); }
        void Focus() override {}
        bool Close() override
        {
            if (!Owner->Frame->DocumentCloseQuery(*Doc))
                return false;
            Owner->Frame->DocumentClosed(*Doc);
            Doc.reset();
            return true;
        }
    };
    std::vector<IChildWindow*> Children() override
    {
        std::vector<IChildWindow*> children;
        for (const auto& kid : Kids)
            if (kid->Doc)
                children.push_back(kid.get());
        return children;
    }
    IChildWindow* ActiveChild() override { return Kids.empty() || !Kids[0]->Doc ? nullptr : Kids[0].get(); }
    IChildWindow* CreateDocumentWindow(std::unique_ptr<TDocument> document) override
    {
        Kids.push_back(std::make_unique<TChild>());
        Kids.back()->Owner = this;
        Kids.back()->Doc = std::move(document);
        return Kids.back().get();
    }
    TFitArea FitArea(IChildWindow&) override { return TFitArea{1000, 800, 0, 0}; }
    TEditorFrame* Frame = nullptr;
    std::vector<std::unique_ptr<TChild>> Kids;
};

TEST_F(SaveAssistantTest, ClosingAPictureThatCannotComeForwardSavesNoOther)
{
    TStubbornWindows windows;
    TAssistantFrame frames(windows, Logic, Boxes());
    TAssistantWindows& assistant = frames.Assistant;
    TEditorFrame& frame = *frames.Frame;
    windows.Frame = &frame;
    ASSERT_TRUE(frame.OpenImage(UntitledName));
    ASSERT_TRUE(frame.OpenImage(UntitledName));
    ASSERT_EQ(windows.Kids.size(), 2u);
    TDocument& other = *windows.Kids[1]->Doc;
    other.memorise();

    // Yes to the question of the second picture; the first stays in front.
    Boxes().Answers = {IDYES, mrOk};
    SaveAs.Answers = {Dir.File("wrong.png")};
    EXPECT_FALSE(windows.Kids[1]->Close()) << "the unsaved picture stays";
    EXPECT_EQ(assistant.Shown, 0) << "the first picture is not saved in its place";
    EXPECT_FALSE(CloseConfirmed);
    EXPECT_FALSE(std::filesystem::exists(Dir.File("wrong.png")));
    ASSERT_TRUE(windows.Kids[1]->Doc);
    EXPECT_EQ(windows.Kids[1]->Doc->FileName, UntitledName);
    EXPECT_EQ(windows.Kids[0]->Doc->FileName, UntitledName);
    ASSERT_EQ(Boxes().Calls.size(), 2u) << "the user is told";
    EXPECT_NE(Boxes().Calls[1].Text.find("n'a pas été enregistrée"), std::string::npos);
}

// ---------------------------------------------------------------------------
// The form

TEST_F(SaveAssistantTest, FormShowsTheLabelsAndKeepsItsTab)
{
    TFsauve form(Clock, Boxes(), &SaveAs, false);
    EXPECT_EQ(form.windowTitle(), "Assistant sauvegarde");
    auto* pc = form.findChild<QTabWidget*>("PC");
    ASSERT_TRUE(pc);
    ASSERT_EQ(pc->count(), 4);
    EXPECT_EQ(pc->tabText(0), "BMP");
    EXPECT_EQ(pc->tabText(3), "PNG");
    auto* cal = form.findChild<QSlider*>("cal");
    auto* label10 = form.findChild<QLabel*>("Label10");
    ASSERT_TRUE(cal && label10);
    EXPECT_EQ(cal->value(), 20);
    EXPECT_EQ(form.findChild<QSlider*>("CalPNG")->value(), 9);
    EXPECT_TRUE(form.findChild<QRadioButton*>("Rcoul256")->isChecked());

    bool ran = false;
    QTimer::singleShot(0, &form, [&] {
        EXPECT_EQ(form.findChild<QLabel*>("Label19")->text(), "3 774");
        EXPECT_EQ(form.findChild<QLabel*>("Label21")->text(), "0.7");
        pc->setCurrentIndex(stJPG);
        EXPECT_FALSE(form.findChild<QLabel*>("LTailleJPG")->text().isEmpty());
        cal->setValue(35);
        EXPECT_EQ(label10->text(), "35");
        SaveAs.Answers = {Dir.File("form.jpg")};
        form.findChild<QToolButton*>("enregistrer")->click();
        ran = true;
    });
    form.Execute(D());
    EXPECT_TRUE(ran);
    EXPECT_FALSE(form.isVisible()) << "a save closes the assistant";
    EXPECT_EQ(Identify(Dir.File("form.jpg"), "%m %Q"), "JPEG 65");
    EXPECT_TRUE(SamePixels(D().Picture(), Original));
    EXPECT_EQ(pc->currentIndex(), stJPG) << "the tab stays for the next showing";
}

} // namespace

namespace {

// The desktop's save dialog as the assistant sets it up: the tab's filter,
// its extension added to a bare name, the document's folder and name.
TEST(SaveAsDialogTest, TheDesktopDialogGetsTheTabsFilterAndExtension)
{
    App();
    TempDir dir;
    QWidget parent;
    TQtSaveAsDialog saveAs(&parent);
    bool ran = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_TRUE(dialog);
        EXPECT_EQ(dialog->nameFilters(), QStringList{"JPEG Images (*.jpg)"});
        EXPECT_EQ(dialog->defaultSuffix(), "jpg");
        EXPECT_EQ(dialog->directory().absolutePath().toStdString(), dir.Path());
        EXPECT_EQ(dialog->acceptMode(), QFileDialog::AcceptSave);
        dialog->selectFile(QString::fromStdString(dir.File("vacances")));
        static_cast<QDialog*>(dialog)->accept();
        ran = true;
    });
    std::string chosen;
    ASSERT_TRUE(saveAs.Execute(SaveTabFilter(stJPG), "jpg", dir.Path(), "photo.bmp", chosen));
    EXPECT_TRUE(ran);
    EXPECT_EQ(chosen, dir.File("vacances.jpg"));

    QTimer::singleShot(0, [&] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    chosen = "unchanged";
    EXPECT_FALSE(saveAs.Execute(SaveTabFilter(stPNG), "png", dir.Path(), "photo.bmp", chosen));
    EXPECT_EQ(chosen, "unchanged");
}

// A new picture's dialog opens in the pictures folder, or the home folder
// where there is none: never in the folder the program was started from.
TEST(SaveAsDialogTest, ANewPictureStartsInThePicturesOrHomeFolder)
{
    App();
    TempDir home;
    const testutil::EnvGuard homeVariable("HOME", home.Path().c_str());
    const testutil::EnvGuard configVariable("XDG_CONFIG_HOME", nullptr);
    QWidget parent;
    TQtSaveAsDialog saveAs(&parent);
    std::vector<std::string> shown;
    for (int round = 0; round < 2; ++round) {
        QTimer::singleShot(0, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                shown.push_back(dialog->directory().absolutePath().toStdString());
                dialog->reject();
            }
        });
        std::string chosen;
        EXPECT_FALSE(saveAs.Execute(SaveTabFilter(stJPG), "jpg", "", "Sans nom", chosen));
        std::filesystem::create_directory(home.File("Pictures"));
    }
    EXPECT_EQ(shown, (std::vector<std::string>{home.Path(), home.File("Pictures")}));
}

} // namespace
