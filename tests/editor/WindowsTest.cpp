// The real frame and document windows under the offscreen platform: the
// components and their hints, the command states seen on the actions, the
// close-all loop, undo through the buttons, mouse and wheel on a document,
// saving and reopening.

#include "EditorTest.h"
#include "TestUtil.h"

#include "BitmapView.h"
#include "ChildWin.h"
#include "Icons.h"
#include "MainForm.h"
#include "Picture.h"

#include <QAction>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QWheelEvent>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

using namespace edtest;
using testutil::TempDir;

namespace {

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        ResetScripts();
        TMainFormServices services;
        services.Clipboard = &Clipboard;
        services.Shell = &Shell;
        Form = std::make_unique<TMainForm>(services);
        Form->resize(1024, 768);
        Form->show();
        TApplication::ProcessMessages();
    }

    void TearDown() override
    {
        Form.reset();
        TApplication::ProcessMessages();
    }

    std::string Picture(const std::string& name, int width = 60, int height = 40)
    {
        const std::string path = Dir.File(name);
        SaveBmp(Pattern(width, height), path);
        return path;
    }

    TMDIChild* OpenFile(const std::string& name, int width = 60, int height = 40)
    {
        Dialogs().Answers.push_back(Picture(name, width, height));
        Form->Action("bouvrir")->trigger();
        TApplication::ProcessMessages();
        return Form->ActiveDocumentWindow();
    }

    QString Title(TMDIChild* child) { return child->SubWindow()->windowTitle(); }

    bool On(const char* name) { return Form->Action(name)->isEnabled(); }

    static void Mouse(QWidget* w, QEvent::Type type, int x, int y, Qt::MouseButtons buttons)
    {
        const QPointF local(x, y);
        QMouseEvent e(type, local, w->mapToGlobal(local), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                      buttons, Qt::NoModifier);
        QCoreApplication::sendEvent(w, &e);
    }

    static void Drag(TMDIChild* child, int x0, int y0, int x1, int y1)
    {
        QWidget* im = child->IM();
        Mouse(im, QEvent::MouseMove, x0, y0, Qt::NoButton);
        Mouse(im, QEvent::MouseButtonPress, x0, y0, Qt::LeftButton);
        Mouse(im, QEvent::MouseMove, x1, y1, Qt::LeftButton);
        Mouse(im, QEvent::MouseButtonRelease, x1, y1, Qt::NoButton);
    }

    TMemoryClipboard Clipboard;
    TRecordingDesktop Shell;
    TempDir Dir;
    std::unique_ptr<TMainForm> Form;
};

TEST_F(WindowsTest, ComponentsCarryTheirNamesCaptionsHintsAndIcons)
{
    EXPECT_EQ(Form->windowTitle(), "Corvinel");
    EXPECT_EQ(Form->objectName(), "MainForm");
    auto* toolBar = Form->findChild<QToolBar*>("ToolBar2");
    ASSERT_NE(toolBar, nullptr);
    ASSERT_NE(Form->findChild<QMenuBar*>("MainMenu1"), nullptr);

    QStringList onBar;
    for (QAction* a : toolBar->actions())
        onBar << (a->isSeparator() ? QString() : a->objectName());
    QStringList expected;
    for (const std::string& name : ToolButtonNames())
        expected << QString::fromStdString(name);
    EXPECT_EQ(onBar, expected);

    for (const std::string& name : ToolButtonNames()) {
        if (name.empty())
            continue;
        QAction* action = Form->Action(name);
        ASSERT_NE(action, nullptr) << name;
        EXPECT_NE(toolBar->widgetForAction(action), nullptr) << name;
        EXPECT_EQ(toolBar->widgetForAction(action)->objectName().toStdString(), name);
        // A real picture: some pixels drawn, not all of one colour.
        const QImage icon = action->icon().pixmap(24, 24).toImage().convertToFormat(QImage::Format_ARGB32);
        ASSERT_FALSE(icon.isNull()) << name;
        QSet<QRgb> colours;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                if (qAlpha(icon.pixel(x, y)) > 128)
                    colours.insert(icon.pixel(x, y));
        EXPECT_GE(colours.size(), 2) << name;
        // The drawn set stands in for every button when no theme exists.
        EXPECT_FALSE(DrawnIcon(QString::fromStdString(name)).isNull()) << name;
    }
    for (const std::string& name : MenuItemNames())
        EXPECT_NE(Form->Action(name), nullptr) << name;

    QAction* benr = Form->Action("benr");
    EXPECT_EQ(benr->toolTip(), "Enregistrer sous");
    EXPECT_EQ(benr->statusTip(), "Enregistrer le fichier en cours sous un nouveau nom");
    EXPECT_EQ(Form->Action("blmoins")->toolTip(), "Zomm arrière");
    EXPECT_EQ(Form->Action("bouvrir")->statusTip(), "Ouvrir");
    EXPECT_EQ(Form->Action("FileSaveAsItem")->text(), "Enregistrer &sous...");
    EXPECT_EQ(Form->Action("HelpAboutItem")->statusTip(),
              "Afficher des informations sur le programme, le numéro de version, et le copyright");
    EXPECT_EQ(Form->findChild<QMenu*>("Window1")->title(), "Fe&nêtre");
    EXPECT_EQ(Form->findChild<QMenu*>("Window1")->menuAction()->statusTip(), "Commandes relatives au fenêtres");
    EXPECT_TRUE(Form->Action("Bparcourir")->isCheckable());

    EXPECT_EQ(Form->StatusPanel(0)->text(), "texte état");
    EXPECT_EQ(Form->StatusPanel(1)->text(), "0 x 0");
    EXPECT_EQ(Form->StatusPanel(2)->text(), "x=0 y=0");
    EXPECT_EQ(Form->StatusPanel(3)->text(), "0 x 0");
    EXPECT_EQ(Form->StatusPanel(1)->width(), 86);

    // The long part of a hint under the pointer goes to panel 0.
    QStatusTipEvent tip(benr->statusTip());
    QCoreApplication::sendEvent(Form.get(), &tip);
    EXPECT_EQ(Form->StatusPanel(0)->text(), "Enregistrer le fichier en cours sous un nouveau nom");
}

TEST_F(WindowsTest, AButtonWithoutAHintShowsNoToolTip)
{
    auto* toolBar = Form->findChild<QToolBar*>("ToolBar2");
    ASSERT_NE(toolBar, nullptr);
    auto tipOf = [&](const char* name) {
        QWidget* button = toolBar->widgetForAction(Form->Action(name));
        const QPoint at(4, 4);
        QHelpEvent help(QEvent::ToolTip, at, button->mapToGlobal(at));
        QCoreApplication::sendEvent(button, &help);
        return (QToolTip::isVisible() ? QToolTip::text() : QString()).toStdString();
    };
    // (A tip once shown lingers a moment: the buttons without one come first.)
    EXPECT_EQ(tipOf("bannuler"), "");
    Form->Action("bannuler")->setEnabled(true); // a change of the command keeps it so
    EXPECT_EQ(tipOf("bannuler"), "");
    EXPECT_EQ(tipOf("bcopier"), "Copier dans le presse-papier");
    QToolTip::hideText();
}

TEST_F(WindowsTest, NewWindowsCascadeBackToTheCornerBeforeTheyPassTheBottom)
{
    // A frame far wider than high: the cascade of windows of the browser's
    // size reaches the bottom of the client area long before its right
    // edge.
    Form->resize(1600, 600);
    TApplication::ProcessMessages();
    QMdiArea* area = Form->ClientArea();
    const QRect room(QPoint(0, 0), area->viewport()->size());
    const QSize size(410, 317);
    auto place = [&] {
        QMdiSubWindow* sub = area->addSubWindow(new QWidget);
        sub->resize(size);
        sub->show();
        Form->PlaceNewWindow(sub, sub->size());
        return sub->geometry();
    };
    ASSERT_EQ(place().topLeft(), QPoint(0, 0));
    const int step = place().top();
    ASSERT_GT(step, 0);
    // The first place below the corner where the window would pass the
    // bottom, while it would still end left of the right edge.
    int last = 1;
    while ((last + 1) * step + size.height() <= room.height())
        ++last;
    ASSERT_LE((last + 1) * step + size.width(), room.width());
    for (int i = 2; i <= last; ++i) {
        const QRect at = place();
        EXPECT_EQ(at.topLeft(), QPoint(i * step, i * step)) << "window " << i + 1;
        EXPECT_TRUE(room.contains(at)) << "window " << i + 1;
    }
    EXPECT_EQ(place().topLeft(), QPoint(0, 0)) << "back to the corner instead of past the bottom";
    EXPECT_EQ(place().topLeft(), QPoint(step, step));
}

TEST_F(WindowsTest, ImageCommandsFollowTheDocumentWindows)
{
    struct TRow {
        const char* Name;
        bool Start, OneDocument, AfterClose;
    };
    const TRow table[] = {
        {"bouvrir", true, true, true},       {"Bparcourir", true, true, true},
        {"benr", false, true, false},        {"Benrsous", false, true, false},
        {"bsourcescan", true, true, true},   {"bscan", true, true, true},
        {"bimprimer", false, true, false},   {"bimpv", false, false, false},
        {"bannuler", false, false, false},   {"bcopier", false, true, false},
        {"bcoller", true, true, true},       {"bduplique", false, true, false},
        {"bcontraste", false, true, false},  {"baccentuer", false, true, false},
        {"baccentuerdav", false, true, false}, {"badoucir", false, true, false},
        {"badoucirdav", false, true, false}, {"bfiltrep", false, true, false},
        {"bgris", false, true, false},       {"btrame", false, true, false},
        {"brotateG", false, true, false},    {"brotateD", false, true, false},
        {"brecadrer", false, false, false},  {"Bkavrel", false, true, false},
        {"bkavrelc", true, true, true},      {"blplus", false, true, false},
        {"blmoins", false, true, false},     {"baide", true, true, true},
        {"ToolButton10", true, true, true},  {"FileOpenItem", true, true, true},
        {"FileCloseItem", false, true, false}, {"FileSaveItem", false, true, false},
        {"FileSaveAsItem", false, true, false}, {"Imprimer1", false, true, false},
        {"Imprimerlesvignettes1", false, false, false}, {"Copierdanslepressepapier1", false, true, false},
        {"Collerdepuislepressepapier1", true, true, true}, {"Dupliquer1", false, true, false},
        {"Numriser1", true, true, true},     {"FileExitItem", true, true, true},
    };
    for (const TRow& row : table)
        EXPECT_EQ(On(row.Name), row.Start) << row.Name << " at start";
    TMDIChild* child = OpenFile("a.bmp");
    ASSERT_NE(child, nullptr);
    for (const TRow& row : table)
        EXPECT_EQ(On(row.Name), row.OneDocument) << row.Name << " with a document";
    EXPECT_EQ(Form->StatusPanel(1)->text(), "60 x 40");
    Form->Action("FileCloseItem")->trigger();
    TApplication::ProcessMessages();
    EXPECT_TRUE(Form->DocumentWindows().empty());
    for (const TRow& row : table)
        EXPECT_EQ(On(row.Name), row.AfterClose) << row.Name << " after the close";
}

TEST_F(WindowsTest, CancelAtTheSecondQuestionKeepsTheProgramRunning)
{
    for (const char* name : {"1.bmp", "2.bmp", "3.bmp"}) {
        ASSERT_NE(OpenFile(name), nullptr);
        Form->Action("badoucir")->trigger();
    }
    Clipboard.SetBitmap(Pattern(3, 3));
    Boxes().Answers = {IDNO, IDCANCEL};
    EXPECT_FALSE(Form->close());
    TApplication::ProcessMessages();
    ASSERT_EQ(Boxes().Calls.size(), 2u);
    EXPECT_EQ(Boxes().Calls[0].Caption, "1.bmp"); // the bottom window first
    EXPECT_EQ(Boxes().Calls[1].Caption, "2.bmp");
    EXPECT_TRUE(Form->isVisible());
    ASSERT_EQ(Form->DocumentWindows().size(), 2u);
    EXPECT_EQ(Form->Frame().ChildCount, 2);
    EXPECT_TRUE(On("baccentuer"));

    Boxes().Calls.clear();
    Boxes().Answers = {IDNO, IDNO, IDYES};
    EXPECT_TRUE(Form->close());
    EXPECT_EQ(Boxes().Calls.size(), 3u);
    EXPECT_FALSE(Clipboard.HasBitmap());
}

TEST_F(WindowsTest, ClipboardQuestionAloneWithNoDocument)
{
    Clipboard.SetBitmap(Pattern(3, 3));
    Boxes().Answers = {IDYES};
    EXPECT_TRUE(Form->close());
    ASSERT_EQ(Boxes().Calls.size(), 1u);
    EXPECT_EQ(Boxes().Calls[0].Text, "Vider le presse-papier avant de quitter ?");
    EXPECT_FALSE(Clipboard.HasBitmap());
}

TEST_F(WindowsTest, HelpThatNoProgramOpensIsTold)
{
    // The help page beside the program, as a link of the local file.
    const std::string page = "file://" + StartDir + "aide/corvinel.htm";
    Form->Action("baide")->trigger();
    ASSERT_EQ(Shell.Urls, (std::vector<std::string>{page}));
    EXPECT_TRUE(Boxes().Calls.empty());

    // Without a browser both help commands say so, naming the page.
    Shell.UrlResult = false;
    Form->Action("baide")->trigger();
    Form->Action("AideCorvinel1")->trigger();
    EXPECT_EQ(Shell.Urls.size(), 3u);
    ASSERT_EQ(Boxes().Calls.size(), 2u);
    for (const auto& call : Boxes().Calls) {
        EXPECT_EQ(call.Type, mtError);
        EXPECT_EQ(call.Text, "Le lien " + page + " n'a pas pu \u00EAtre ouvert : aucun programme ne le prend en charge.");
    }
}

TEST_F(WindowsTest, HundredAndOneOperationsKeepTheLastHundred)
{
    TMDIChild* child = OpenFile("a.bmp");
    ASSERT_NE(child, nullptr);
    TDocument& d = *child->Document();
    Form->Action("badoucir")->trigger();
    const TBitmap afterFirst = Copy(d.Picture());
    for (int i = 1; i < 100; ++i)
        Form->Action("badoucir")->trigger();
    const TBitmap afterHundredth = Copy(d.Picture());
    Form->Action("badoucir")->trigger();
    EXPECT_EQ(d.UndoCount(), 100);
    EXPECT_EQ(Title(child), "a.bmp(1:1)*");
    EXPECT_TRUE(On("bannuler"));
    EXPECT_TRUE(On("Annulerladernireaction1"));
    // One undo takes back the 101st operation alone.
    Form->Action("bannuler")->trigger();
    EXPECT_TRUE(SamePixels(d.Picture(), afterHundredth));
    for (int i = 1; i < 100; ++i)
        Form->Action("bannuler")->trigger();
    EXPECT_EQ(d.UndoCount(), 0);
    EXPECT_FALSE(On("bannuler"));
    // The first operation's snapshot was the one given up.
    EXPECT_TRUE(SamePixels(d.Picture(), afterFirst));
    EXPECT_FALSE(SamePixels(d.Picture(), Pattern(60, 40)));
    // So the picture still differs from its file: it stays to be saved.
    EXPECT_EQ(Title(child), "a.bmp(1:1)*");
    EXPECT_TRUE(d.Modified);
    EXPECT_TRUE(On("benr"));
}

TEST_F(WindowsTest, OpenChangeUndoAllAndTheCaptions)
{
    TMDIChild* child = OpenFile("photo.bmp");
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(Title(child), "photo.bmp(1:1)");
    Form->Action("baccentuer")->trigger();
    Form->Action("brotateG")->trigger();
    EXPECT_EQ(Title(child), "photo.bmp(1:1)*");
    Form->Action("bannuler")->trigger();
    Form->Action("Annulerladernireaction1")->trigger();
    EXPECT_EQ(Title(child), "photo.bmp(1:1)");
    EXPECT_FALSE(child->Document()->Modified);
    EXPECT_TRUE(SamePixels(child->Document()->Picture(), Pattern(60, 40)));

    Form->Action("blplus")->trigger();
    EXPECT_EQ(Title(child), "photo.bmp(2:1)");
    EXPECT_EQ(child->IM()->size(), QSize(120, 80));
    Form->Action("blmoins")->trigger();
    Form->Action("blmoins")->trigger();
    Form->Action("blmoins")->trigger();
    EXPECT_EQ(Title(child), "photo.bmp(1:3)");
    EXPECT_EQ(child->IM()->size(), QSize(20, 13));

    // Wheel up over the picture: one step in.
    const QPointF at(10, 6);
    Mouse(child->IM(), QEvent::MouseMove, 10, 6, Qt::NoButton);
    QWheelEvent wheel(at, child->IM()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(child->SB()->viewport(), &wheel);
    EXPECT_EQ(Title(child), "photo.bmp(1:2)");
    EXPECT_EQ(child->Document()->UndoCount(), 0);

    // Duplicate: an untitled modified copy.
    Form->Action("bduplique")->trigger();
    TMDIChild* copy = Form->ActiveDocumentWindow();
    ASSERT_NE(copy, child);
    EXPECT_EQ(Title(copy), "Sans nom(1:1)*");
}

TEST_F(WindowsTest, TheWheelOverAWindowBehindZoomsItAsTheActiveOne)
{
    TMDIChild* behind = OpenFile("behind.bmp", 90, 70);
    ASSERT_NE(behind, nullptr);
    Form->Action("badoucir")->trigger(); // an undo step there
    TMDIChild* front = OpenFile("front.bmp", 50, 30);
    ASSERT_NE(front, nullptr);
    ASSERT_EQ(Form->ActiveDocumentWindow(), front);
    ASSERT_FALSE(On("bannuler"));

    Mouse(behind->IM(), QEvent::MouseMove, 20, 20, Qt::NoButton);
    const QPointF at(20, 20);
    QWheelEvent wheel(at, behind->IM()->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(behind->SB()->viewport(), &wheel);
    TApplication::ProcessMessages();

    // The zoomed window is the one the commands and the status bar describe.
    EXPECT_EQ(Title(behind), "behind.bmp(1:2)*");
    EXPECT_EQ(Form->ActiveDocumentWindow(), behind);
    EXPECT_TRUE(On("bannuler"));
    EXPECT_EQ(Form->StatusPanel(1)->text(), "90 x 70");
    Form->Action("bannuler")->trigger();
    EXPECT_EQ(behind->Document()->UndoCount(), 0);
    EXPECT_EQ(Title(front), "front.bmp(1:1)");
}

TEST_F(WindowsTest, TheWheelBringsThePointUnderThePointerToTheMiddle)
{
    TMDIChild* child = OpenFile("wide.bmp", 600, 400);
    ASSERT_NE(child, nullptr);
    Form->Action("blplus")->trigger();
    Form->Action("blplus")->trigger(); // 3:1, 1800 x 1200, larger than the window
    TApplication::ProcessMessages();
    ASSERT_EQ(child->IM()->size(), QSize(1800, 1200));

    Mouse(child->IM(), QEvent::MouseMove, 900, 900, Qt::NoButton);
    const QPointF at(900, 900);
    QWheelEvent wheel(at, child->IM()->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(child->SB()->viewport(), &wheel);
    TApplication::ProcessMessages();
    ASSERT_EQ(child->IM()->size(), QSize(2400, 1600));

    // 900 of 1800 is 50 %, 900 of 1200 is 75 %: those points of the new
    // size, less half the scroll box, within the scroll range.
    QScrollArea* sb = child->SB();
    ASSERT_LT(sb->viewport()->width(), 2400);
    ASSERT_LT(sb->viewport()->height(), 1600);
    const int h = std::min(sb->horizontalScrollBar()->maximum(), std::max(0, 2400 * 50 / 100 - sb->width() / 2));
    const int v = std::min(sb->verticalScrollBar()->maximum(), std::max(0, 1600 * 75 / 100 - sb->height() / 2));
    EXPECT_EQ(sb->horizontalScrollBar()->value(), h);
    EXPECT_EQ(sb->verticalScrollBar()->value(), v);
    EXPECT_LT(0, h);
    EXPECT_LT(h, sb->horizontalScrollBar()->maximum());
    EXPECT_LT(0, v);
    EXPECT_LT(v, sb->verticalScrollBar()->maximum());
}

TEST_F(WindowsTest, TheSecondPressOfADoubleClickStartsASelectionToo)
{
    TMDIChild* child = OpenFile("a.bmp", 200, 100);
    ASSERT_NE(child, nullptr);
    QWidget* im = child->IM();
    // A click at (10, 10), then a quick second press at (14, 12) dragged on:
    // the platform reports that press as a double click.
    Mouse(im, QEvent::MouseButtonPress, 10, 10, Qt::LeftButton);
    Mouse(im, QEvent::MouseButtonRelease, 10, 10, Qt::NoButton);
    Mouse(im, QEvent::MouseButtonDblClick, 14, 12, Qt::LeftButton);
    Mouse(im, QEvent::MouseMove, 60, 50, Qt::LeftButton);
    Mouse(im, QEvent::MouseButtonRelease, 60, 50, Qt::NoButton);
    const TDocument& d = *child->Document();
    EXPECT_TRUE(d.SelVisible);
    EXPECT_EQ(d.Selection, Rect(14, 12, 60, 50));
    EXPECT_EQ(Form->StatusPanel(3)->text(), "46 x 38");
}

TEST_F(WindowsTest, SelectCropAndTurnWithTheMouse)
{
    TMDIChild* child = OpenFile("a.bmp", 200, 100);
    ASSERT_NE(child, nullptr);
    Drag(child, 20, 10, 120, 60);
    EXPECT_EQ(Form->StatusPanel(3)->text(), "100 x 50");
    EXPECT_EQ(Form->StatusPanel(2)->text(), "x=120 y=60");
    EXPECT_TRUE(On("brecadrer"));
    EXPECT_EQ(child->IM()->cursor().shape(), Qt::CrossCursor);
    Mouse(child->IM(), QEvent::MouseMove, 50, 30, Qt::NoButton);
    EXPECT_EQ(child->IM()->cursor().shape(), Qt::SizeAllCursor);

    Form->Action("brecadrer")->trigger();
    TDocument& d = *child->Document();
    EXPECT_EQ(d.Picture().Width(), 100);
    EXPECT_EQ(d.Picture().Height(), 50);
    EXPECT_EQ(Form->StatusPanel(1)->text(), "100 x 50");
    EXPECT_EQ(Form->StatusPanel(3)->text(), "0 x 0");
    EXPECT_FALSE(On("brecadrer"));
    EXPECT_EQ(child->IM()->size(), QSize(100, 50));

    Form->Action("brotateD")->trigger();
    EXPECT_EQ(d.Picture().Width(), 50);
    EXPECT_EQ(d.Picture().Height(), 100);
    EXPECT_EQ(child->IM()->size(), QSize(50, 100));
    // The turned picture's top-left pixel was the bottom-left one.
    const TBitmap whole = Pattern(200, 100);
    EXPECT_EQ(d.Picture().GetPixelColor(0, 0), whole.GetPixelColor(20, 59));
}

TEST_F(WindowsTest, SaveAndReopenBmpExactlyAndJpegClosely)
{
    TMDIChild* child = OpenFile("pic.bmp", 64, 48);
    ASSERT_NE(child, nullptr);
    Form->Action("baccentuer")->trigger();
    Drag(child, 5, 5, 30, 30); // the frame never reaches the file
    TBitmap expected = Pattern(64, 48);
    Convolve3x3(expected, SharpenKernel);
    Form->Action("benr")->trigger();
    Boxes().Answers = {IDNO};
    child->Close();
    TApplication::ProcessMessages();
    ASSERT_TRUE(Form->DocumentWindows().empty());

    TMDIChild* again = OpenFile("unused.bmp");
    ASSERT_NE(again, nullptr);
    Dialogs().Answers.push_back(Dir.File("pic.bmp"));
    Form->Action("FileOpenItem")->trigger();
    TMDIChild* reopened = Form->ActiveDocumentWindow();
    ASSERT_NE(reopened, again);
    EXPECT_TRUE(SamePixels(reopened->Document()->Picture(), expected));

    // A smooth picture as JPEG at quality 85.
    TBitmap smooth(64, 48, pf24bit);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            smooth.SetPixelColor(x, y, RGB(x * 4, y * 5, 200 - x - y));
    SaveBmp(smooth, Dir.File("smooth.bmp"));
    Dialogs().Answers.push_back(Dir.File("smooth.bmp"));
    Form->Action("bouvrir")->trigger();
    TMDIChild* toSave = Form->ActiveDocumentWindow();
    ASSERT_NE(toSave, nullptr);
    toSave->Document()->FileName = Dir.File("pic.jpg");
    Form->Action("FileSaveItem")->trigger();
    ASSERT_TRUE(std::filesystem::exists(Dir.File("pic.jpg")));
    toSave->Close();
    TApplication::ProcessMessages();
    Dialogs().Answers.push_back(Dir.File("pic.jpg"));
    Form->Action("bouvrir")->trigger();
    TMDIChild* jpeg = Form->ActiveDocumentWindow();
    ASSERT_NE(jpeg, nullptr);
    ASSERT_EQ(jpeg->Document()->FileName, Dir.File("pic.jpg"));
    const testutil::RgbImage ours = testutil::FromBitmap(jpeg->Document()->Picture());
    const testutil::RgbImage source = testutil::FromBitmap(smooth);
    EXPECT_LE(testutil::MaxDifference(ours, source), 12);
    EXPECT_GT(testutil::MaxDifference(ours, source), 0); // really compressed
    {
        const auto run = testutil::Run(testutil::Tool("djpeg") + " -ppm -outfile " + testutil::Quote(Dir.File("pic.ppm")) + " " +
                                       testutil::Quote(Dir.File("pic.jpg")));
        ASSERT_EQ(run.ExitCode, 0) << run.Output;
        const testutil::RgbImage theirs = testutil::ReadPpm(Dir.File("pic.ppm"));
        EXPECT_LE(testutil::MaxDifference(theirs, ours), 2);
    }
}

TEST_F(WindowsTest, AFileThatFailsToLoadShowsTheErrorAndLeavesNoWindow)
{
    testutil::WriteFile(Dir.File("bad.bmp"), {'B', 'M', 0, 0});
    Dialogs().Answers.push_back(Dir.File("bad.bmp"));
    Form->Action("bouvrir")->trigger();
    TApplication::ProcessMessages();
    EXPECT_TRUE(Form->ClientArea()->subWindowList().empty());
    EXPECT_EQ(Form->Frame().ChildCount, 0);
    ASSERT_EQ(Boxes().Calls.size(), 1u);
    EXPECT_EQ(Boxes().Calls[0].Caption, "Corvinel");
    EXPECT_EQ(Boxes().Calls[0].Flags, MB_OK | MB_ICONSTOP);
    EXPECT_EQ(Boxes().Calls[0].Text.back(), '.');
    EXPECT_FALSE(On("baccentuer"));
}

TEST_F(WindowsTest, ACommandThatFailsGivesTheCursorBackAndLeavesAConsistentDocument)
{
    TMDIChild* child = OpenFile("a.bmp");
    ASSERT_NE(child, nullptr);
    TDocument& d = *child->Document();
    Drag(child, 5, 5, 30, 20);
    const TBitmap framed = Copy(d.Picture());
    const TBitmap plain = Pattern(60, 40);
    {
    const TPixelBudgetScope budget(1000); // the routines find no room for their 60 x 40 result
    for (const char* command : {"baccentuer", "brotateG"}) {
        Boxes().Calls.clear();
        Form->Action(command)->trigger();
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << command;
        ASSERT_EQ(Boxes().Calls.size(), 1u) << command;
        EXPECT_EQ(Boxes().Calls[0].Flags, MB_OK | MB_ICONSTOP);
        // The picture as it was, its frame gone with the selection.
        EXPECT_FALSE(d.SelVisible);
        EXPECT_TRUE(SamePixels(d.Picture(), plain)) << command;
    }
    }
    // Undo brings the frame back with the selection.
    Form->Action("bannuler")->trigger();
    Form->Action("bannuler")->trigger();
    EXPECT_TRUE(d.SelVisible);
    EXPECT_TRUE(SamePixels(d.Picture(), framed));
}

} // namespace
