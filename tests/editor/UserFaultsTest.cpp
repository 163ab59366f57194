// What a user meets around the documents: pictures pasted from other
// programs, the start folder, the wait for the batch program, damaged JPEG
// files and the error texts that name the file.

#include "EditorTest.h"
#include "TestUtil.h"

#include "ChildWin.h"
#include "Exceptions.h"
#include "MainForm.h"
#include "Picture.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace edtest;
using testutil::TempDir;

namespace {

// Writes a PNG with PIL: four pixels in a row, RGBA each.
void MakeAlphaPng(const std::string& path)
{
    const auto made = testutil::Run(testutil::PythonWithPil() + " -c \"from PIL import Image\n"
                                             "im = Image.new('RGBA', (4, 1))\n"
                                             "im.putdata([(0, 0, 255, 0), (255, 0, 0, 255), (0, 0, 255, 128), "
                                             "(0, 255, 0, 64)])\n"
                                             "im.save('" + path + "')\"");
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
}

// The colours of those four pixels laid on white, worked by hand with
// (a * c + (255 - a) * 255 + 255) >> 8 per channel.
const TColor OnWhite[4] = {RGB(255, 255, 255), RGB(255, 0, 0), RGB(127, 127, 255), RGB(191, 255, 191)};

class PasteTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        ResetScripts();
        TMainFormServices services; // the system's clipboard
        services.Shell = &Shell;
        Form = std::make_unique<TMainForm>(services);
        Form->resize(800, 600);
        Form->show();
        TApplication::ProcessMessages();
    }
    void TearDown() override
    {
        QGuiApplication::clipboard()->clear();
        Form.reset();
        TApplication::ProcessMessages();
    }

    // The paste button; the pasted document's picture, or null.
    const TBitmap* Paste()
    {
        Form->Action("bcoller")->trigger();
        TApplication::ProcessMessages();
        TMDIChild* pasted = Form->ActiveDocumentWindow();
        return pasted ? &pasted->Document()->Picture() : nullptr;
    }

    TRecordingDesktop Shell;
    TempDir Dir;
    std::unique_ptr<TMainForm> Form;
};

TEST_F(PasteTest, APngWithTransparencyFromAnotherProgramIsLaidOnWhiteAsWhenOpened)
{
    const std::string path = Dir.File("alpha.png");
    MakeAlphaPng(path);
    // Another program offers the file's bytes as image/png.
    auto* data = new QMimeData;
    const std::vector<std::uint8_t> bytes = testutil::ReadFile(path);
    data->setData("image/png", QByteArray(reinterpret_cast<const char*>(bytes.data()),
                                          static_cast<qsizetype>(bytes.size())));
    QGuiApplication::clipboard()->setMimeData(data);

    const TBitmap* p = Paste();
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->Width(), 4);
    ASSERT_EQ(p->Height(), 1);
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(p->GetPixelColor(x, 0), OnWhite[x]) << x;

    // The same file opened gives the same picture.
    TDocument* opened = Form->Frame().OpenImage(path);
    ASSERT_NE(opened, nullptr);
    EXPECT_TRUE(SamePixels(opened->Picture(), *p));
}

TEST_F(PasteTest, AQtImageWithAlphaIsLaidOnWhiteToo)
{
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0, 0, 0, 0));
    image.setPixel(1, 0, qRgba(0, 0, 255, 128));
    QGuiApplication::clipboard()->setImage(image);
    const TBitmap* p = Paste();
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->Width(), 2);
    ASSERT_EQ(p->Height(), 1);
    EXPECT_EQ(p->GetPixelColor(0, 0), clWhite);
    EXPECT_EQ(p->GetPixelColor(1, 0), RGB(127, 127, 255));
}

class FrameFaultsTest : public ::testing::Test {
protected:
    TTestFrame T;
    TEditorFrame& F = *T.Frame;
    TempDir Dir;
};

TEST_F(FrameFaultsTest, TheStartFolderIsTheProgramsFolderWhereverItIsStartedFrom)
{
    {
        const testutil::CurrentDirGuard elsewhere(Dir.Path());
        F.FormCreate();
    }

    // The test program's own path, as the kernel knows it.
    const std::string program = std::filesystem::canonical("/proc/self/exe").string();
    const std::string folder = program.substr(0, program.rfind('/') + 1);
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(StartDir, folder);
    EXPECT_NE(StartDir, Dir.Path() + "/");

    F.baideClick();
    F.bkavrelcClick();
    ASSERT_EQ(T.Shell.Urls.size(), 1u);
    EXPECT_EQ(T.Shell.Urls[0], "file://" + folder + "aide/corvinel.htm");
    ASSERT_EQ(T.Shell.Executed.size(), 1u);
    EXPECT_EQ(T.Shell.Executed[0], folder + "kavrel");
    // Nothing was made in the folder it was started from.
    EXPECT_TRUE(std::filesystem::is_empty(Dir.Path()));
}

TEST_F(FrameFaultsTest, ABatchProgramThatCannotStartIsTold)
{
    StartDir = Dir.Path() + "/";
    std::ofstream(Dir.File("kavrel")) << "not a program\n"; // there, but not executable
    F.bkavrelcClick();
    ASSERT_EQ(T.Boxes.Calls.size(), 1u);
    EXPECT_EQ(T.Boxes.Calls[0].Text, "Impossible de lancer le programme de redimensionnement groupé " +
                                         Dir.File("kavrel") + ".");
    EXPECT_EQ(T.Boxes.Calls[0].Type, mtError);
}

TEST_F(FrameFaultsTest, ATruncatedJpegOpensWithWhatItHoldsAndTheUserIsTold)
{
    const std::string whole = Dir.File("entier.jpg");
    const std::string cut = Dir.File("coupe.jpg");
    testutil::MakeJpegAndCutCopy(whole, cut, 3);

    ASSERT_NE(F.OpenImage(whole), nullptr);
    EXPECT_TRUE(T.Boxes.Calls.empty());

    TDocument* d = F.OpenImage(cut);
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(T.Boxes.Calls.size(), 1u);
    EXPECT_EQ(T.Boxes.Calls[0].Type, mtWarning);
    EXPECT_EQ(T.Boxes.Calls[0].Text, "Le fichier " + cut +
                                         " est incomplet : seule la partie lue de l'image est affichée "
                                         "(Premature end of JPEG file).");

    // What the file holds is what libjpeg's own djpeg makes of it.
    const std::string ppm = Dir.File("coupe.ppm");
    const auto run = testutil::Run(testutil::Tool("djpeg") + " -ppm -outfile " + testutil::Quote(ppm) + " " +
                                   testutil::Quote(cut));
    // djpeg ends with its warning status, 2, and the same words.
    ASSERT_EQ(run.ExitCode, 2) << run.Output;
    EXPECT_NE(run.Output.find("Premature end of JPEG file"), std::string::npos) << run.Output;
    const testutil::RgbImage theirs = testutil::ReadPpm(ppm);
    const testutil::RgbImage ours = testutil::FromBitmap(d->Picture());
    ASSERT_EQ(ours.Width, theirs.Width);
    ASSERT_EQ(ours.Height, theirs.Height);
    EXPECT_EQ(testutil::MaxDifference(ours, theirs), 0);
}

TEST_F(FrameFaultsTest, ErrorsOfOpeningAndSavingNameTheFile)
{
    const std::string broken = Dir.File("abime.jpg");
    testutil::WriteFile(broken, {'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'});
    try {
        F.OpenImage(broken);
        ADD_FAILURE() << "no error";
    } catch (const EInvalidGraphic& e) {
        // libjpeg's own words follow the French sentence.
        EXPECT_EQ(std::string(e.what()), "Impossible d'ouvrir le fichier " + broken +
                                             " : Erreur JPEG: Not a JPEG file: starts with 0x6e 0x6f");
    }
    const std::string unknown = Dir.File("notes.xyz");
    try {
        F.OpenImage(unknown);
        ADD_FAILURE() << "no error";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(std::string(e.what()),
                  "Impossible d'ouvrir le fichier " + unknown + " : Extension de fichier graphique inconnue (.xyz)");
    }

    // A save into a folder that is gone: the file is named once.
    SaveBmp(Pattern(8, 8), Dir.File("a.bmp"));
    TDocument* d = F.OpenImage(Dir.File("a.bmp"));
    ASSERT_NE(d, nullptr);
    const std::string gone = Dir.File("parti/a.bmp");
    d->FileName = gone;
    try {
        F.SaveDocument(*d);
        ADD_FAILURE() << "no error";
    } catch (const Exception& e) {
        const std::string text = e.what();
        const std::size_t at = text.find(gone);
        ASSERT_NE(at, std::string::npos) << text;
        EXPECT_EQ(text.find(gone, at + 1), std::string::npos) << text;
    }

    // The silent exception stays as it was.
    EAbort abort("");
    NameFileInError(abort, "Impossible d'ouvrir le fichier ", "/x.bmp");
    EXPECT_EQ(abort.Message, "");
}

// A window that counts what reaches it.
class TCountingWidget : public QWidget {
public:
    int Paints = 0;
    int Presses = 0;
    int Closes = 0;

protected:
    void paintEvent(QPaintEvent*) override
    {
        ++Paints;
        QPainter(this).fillRect(rect(), Qt::white);
    }
    void mousePressEvent(QMouseEvent*) override { ++Presses; }
    void closeEvent(QCloseEvent* event) override
    {
        ++Closes;
        event->accept();
    }
};

TEST(ExecAndWaitWindows, WindowsRepaintWhileTheProgramRunsAndTheUsersInputIsDropped)
{
    App();
    TempDir dir;
    const std::string script = dir.File("lent");
    std::ofstream(script) << "#!/bin/sh\nsleep 1\n";
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);

    TCountingWidget window;
    window.resize(100, 80);
    window.show();
    TApplication::ProcessMessages();
    const int paintsBefore = window.Paints;
    int paintsDuring = -1;
    auto press = [&window] {
        QCoreApplication::postEvent(&window, new QMouseEvent(QEvent::MouseButtonPress, QPointF(5, 5),
                                                             window.mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                                                             Qt::LeftButton, Qt::NoModifier));
    };
    // While the program runs: the window is asked to repaint, clicked and
    // asked to close.
    QTimer::singleShot(200, &window, [&] {
        window.update();
        press();
        QCoreApplication::postEvent(&window, new QCloseEvent);
    });
    QTimer::singleShot(600, &window, [&] { paintsDuring = window.Paints; });
    EXPECT_TRUE(ExecAndWait(script));

    EXPECT_GT(paintsDuring, paintsBefore);
    EXPECT_EQ(window.Presses, 0);
    EXPECT_EQ(window.Closes, 0);
    EXPECT_TRUE(window.isVisible());

    // Afterwards the window answers again.
    press();
    TApplication::ProcessMessages();
    EXPECT_EQ(window.Presses, 1);
}

} // namespace
