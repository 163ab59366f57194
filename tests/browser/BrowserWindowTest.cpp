// The browser in Corvinel's frame under the offscreen platform: the toggle
// and the command states, the tiles of the chosen folder as painted, the
// special nodes, the list the contact sheets read, the double click that
// opens a file, the save paths that redraw or add a tile, the column count,
// and a folder chosen while tiles are still drawn.

#include "BrowserTest.h"
#include "TestUtil.h"

#include "BrowserFiles.h"
#include "BrowserWindows.h"
#include "Bwin.h"
#include "ChildWin.h"
#include "Clipboard.h"
#include "Desktop.h"
#include "FileListBox.h"
#include "FolderTree.h"
#include "MainForm.h"
#include "ThumbView.h"

#include <QAction>
#include <QHelpEvent>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolTip>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace browsertest;
namespace fs = std::filesystem;

namespace {

class BrowserWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        App();
        Boxes().Calls.clear();
        Boxes().Answers.clear();
        Ns = std::make_shared<TTempNamespace>();
        Ns->Desktop = Tmp.File("Bureau");
        fs::create_directories(Ns->Desktop);
        fs::create_directories(Photos());
        fs::create_directories(Others());
        Ns->Vols = {{Tmp.File("vol") + "/", "Disque", false, false}};

        SaveBmp(Halves(60, 40), Photos("a.bmp"));
        SaveBmp(Halves(30, 90), Photos("B.JPG.bmp"));
        SaveBmp(Halves(50, 50), Photos("C.BMP"));
        std::ofstream(Photos("empty.gif")).flush();
        std::ofstream(Photos("notes.txt")) << "pas une image";
        SaveBmp(Halves(20, 20), Others("x.bmp"));
        SaveBmp(Halves(20, 20), Others("y.bmp"));

        Windows = std::make_unique<TBrowserWindows>(Later);
        Windows->SetNamespace(Ns);
        TMainFormServices services;
        services.Clipboard = &Clipboard;
        services.Shell = &Shell;
        services.Windows = Windows.get();
        Form = std::make_unique<TMainForm>(services);
        Windows->SetFrame(Form.get());
        Form->resize(1024, 768);
        Form->show();
        TApplication::ProcessMessages();
    }

    void TearDown() override
    {
        Form.reset();
        TApplication::ProcessMessages();
        Windows.reset();
    }

    std::string Photos(const std::string& name = "") const
    {
        return name.empty() ? Tmp.File("vol/photos") : Tmp.File("vol/photos/" + name);
    }
    std::string Others(const std::string& name = "") const
    {
        return name.empty() ? Tmp.File("vol/autres") : Tmp.File("vol/autres/" + name);
    }

    // Opens the browser and waits for its first paint.
    TBW* OpenBrowser()
    {
        Form->Action("Bparcourir")->trigger();
        TApplication::ProcessMessages();
        if (!BW)
            return nullptr;
        EXPECT_TRUE(WaitFor([] { return BW && !BW->FirstPaintPending(); }));
        return BW;
    }

    // Chooses a folder in the browser's tree and waits for every tile.
    void Browse(const std::string& folder)
    {
        ASSERT_TRUE(BW->FT()->SelectPath(folder)) << folder;
        ASSERT_TRUE(WaitFor([] { return !BW->Building(); }));
        TApplication::ProcessMessages();
    }

    std::vector<std::string> Captions() const
    {
        std::vector<std::string> captions;
        for (int i = 0; i < BW->ThumbCount(); ++i)
            captions.push_back(BW->Thumbs()[i].Caption);
        return captions;
    }

    static void Mouse(QWidget* w, QEvent::Type type, QPoint at)
    {
        QMouseEvent event(type, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::LeftButton,
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &event);
    }

    void DoubleClick(QPoint at)
    {
        QWidget* viewport = BW->boite()->viewport();
        Mouse(viewport, QEvent::MouseButtonPress, at);
        Mouse(viewport, QEvent::MouseButtonRelease, at);
        Mouse(viewport, QEvent::MouseButtonDblClick, at);
        Mouse(viewport, QEvent::MouseButtonRelease, at);
        TApplication::ProcessMessages();
    }

    bool On(const char* name) const { return Form->Action(name)->isEnabled(); }
    bool Checked(const char* name) const { return Form->Action(name)->isChecked(); }

    testutil::TempDir Tmp;
    std::shared_ptr<TTempNamespace> Ns;
    TNoEditorWindows Later;
    TMemoryClipboard Clipboard;
    TRecordingDesktop Shell;
    std::unique_ptr<TBrowserWindows> Windows;
    std::unique_ptr<TMainForm> Form;
};

} // namespace

TEST_F(BrowserWindowTest, ToggleOpensAndClosesTheBrowser)
{
    EXPECT_FALSE(On("bimpv"));
    TBW* browser = OpenBrowser();
    ASSERT_TRUE(browser);
    ASSERT_TRUE(browser->SubWindow());
    EXPECT_EQ(browser->SubWindow()->windowTitle().toStdString(), "Parcourir");
    EXPECT_EQ(Form->ClientArea()->activeSubWindow(), browser->SubWindow());
    EXPECT_TRUE(Checked("Bparcourir"));
    EXPECT_TRUE(Checked("Parcourir1"));
    // The browser active: the contact sheets on, the image commands off.
    EXPECT_TRUE(On("bimpv"));
    EXPECT_TRUE(On("Imprimerlesvignettes1"));
    for (const char* name : {"benr", "bcontraste", "baccentuer", "brotateG", "bcopier", "bannuler", "FileSaveItem"})
        EXPECT_FALSE(On(name)) << name;
    for (const char* name : {"bouvrir", "bcoller", "bscan", "Bparcourir", "bkavrelc"})
        EXPECT_TRUE(On(name)) << name;
    EXPECT_EQ(Form->StatusPanel(1)->text().toStdString(), "0 x 0");
    EXPECT_EQ(Form->StatusPanel(2)->text().toStdString(), "x=0 y=0");
    EXPECT_EQ(Form->StatusPanel(3)->text().toStdString(), "0 x 0");
    // The frame counts it as a window that holds no document.
    EXPECT_EQ(Form->DocumentWindows().size(), 0u);
    EXPECT_EQ(FindBrowserFileList(Form->ClientArea()), static_cast<IBrowserFileList*>(browser));

    // The toggle again: closed and gone.
    Form->Action("Bparcourir")->trigger();
    EXPECT_EQ(BW, nullptr);
    EXPECT_TRUE(WaitFor([this] { return Form->ClientArea()->subWindowList().isEmpty(); }));
    EXPECT_FALSE(Checked("Bparcourir"));
    EXPECT_FALSE(Checked("Parcourir1"));
    EXPECT_FALSE(On("bimpv"));
    EXPECT_FALSE(On("Imprimerlesvignettes1"));
    EXPECT_EQ(FindBrowserFileList(Form->ClientArea()), nullptr);

    // The menu item opens it too; closing its window puts the button up.
    Form->Action("Parcourir1")->trigger();
    TApplication::ProcessMessages();
    ASSERT_TRUE(BW);
    EXPECT_TRUE(Checked("Bparcourir"));
    BW->SubWindow()->close();
    EXPECT_EQ(BW, nullptr);
    EXPECT_FALSE(Checked("Bparcourir"));
    EXPECT_FALSE(Checked("Parcourir1"));
    EXPECT_FALSE(On("bimpv"));
}

TEST_F(BrowserWindowTest, ShowsTheTilesOfTheChosenFolder)
{
    ASSERT_TRUE(OpenBrowser());
    BW->SubWindow()->resize(700, 500);
    TApplication::ProcessMessages();
    Browse(Photos());
    // The picture files in the list's order, names in any case; the empty
    // one gets a placeholder; the text file is not listed.
    EXPECT_EQ(Captions(), (std::vector<std::string>{"a.bmp", "B.JPG.bmp", "C.BMP", "empty.gif"}));
    EXPECT_EQ(BW->FL()->Directory(), Photos());
    EXPECT_EQ(BW->Thumbs()[0].FileName, Photos("a.bmp"));
    EXPECT_EQ(BW->Thumbs()[2].FileName, Photos("C.BMP"));
    EXPECT_EQ(BW->Thumbs()[0].State, TThumbState::Drawn);
    EXPECT_EQ(BW->Thumbs()[3].State, TThumbState::Failed);
    EXPECT_EQ(BW->ThumbColumns(), ColumnsFor(BW->boite()->ClientWidth()));
    ASSERT_GE(BW->ThumbColumns(), 2);
    // The contact sheets find the browser by its type and read its list.
    IBrowserFileList* list = FindBrowserFileList(Form->ClientArea());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->BrowseDirectory(), Photos());
    EXPECT_EQ(list->BrowseFiles(), Captions());
    EXPECT_EQ(list->BrowseFilePaths()[1], Photos("B.JPG.bmp"));

    // As painted: silver around, the tile white, the photo centred in it.
    const QImage shot = BW->boite()->viewport()->grab().toImage();
    EXPECT_EQ(shot.pixelColor(2, 2), QColor(0xC0, 0xC0, 0xC0));
    EXPECT_EQ(shot.pixelColor(5 + 2, 5 + 2), QColor(Qt::white));
    // a.bmp, 60 x 40: 100 x 66 at (5, 22) in the tile, red on its left.
    EXPECT_EQ(shot.pixelColor(5 + 5 + 10, 5 + 22 + 30), QColor(Qt::red));
    EXPECT_EQ(shot.pixelColor(5 + 5 + 90, 5 + 22 + 30), QColor(Qt::blue));
    EXPECT_EQ(shot.pixelColor(5 + 5 + 10, 5 + 22 - 2), QColor(Qt::white));
    // B.JPG.bmp, 30 x 90: 33 x 100 at (38, 5) in the second tile.
    EXPECT_EQ(shot.pixelColor(120 + 38 + 5, 5 + 5 + 50), QColor(Qt::red));
    EXPECT_EQ(shot.pixelColor(120 + 38 + 28, 5 + 5 + 50), QColor(Qt::blue));
    EXPECT_EQ(shot.pixelColor(120 + 20, 5 + 5 + 50), QColor(Qt::white));
    // Below the tiles' 130 pixels, the silver gap.
    EXPECT_EQ(shot.pixelColor(20, 5 + 132), QColor(0xC0, 0xC0, 0xC0));

    // "Poste de travail", the trash and the network have no path: the
    // folder and the tiles stay.
    for (TFolderNodeKind kind : {nkMyComputer, nkRecycleBin, nkNetwork}) {
        TFolderNode* node = BW->FT()->SpecialNode(kind);
        ASSERT_TRUE(node) << static_cast<int>(kind);
        BW->FT()->setCurrentItem(node);
        TApplication::ProcessMessages();
        EXPECT_EQ(BW->FT()->currentItem(), node);
        EXPECT_EQ(BW->FL()->Directory(), Photos());
        EXPECT_EQ(BW->ThumbCount(), 4);
        EXPECT_FALSE(BW->Building());
    }

    Browse(Others());
    EXPECT_EQ(Captions(), (std::vector<std::string>{"x.bmp", "y.bmp"}));
    EXPECT_EQ(BW->Thumbs()[1].FileName, Others("y.bmp"));
}

TEST_F(BrowserWindowTest, PictureShowsTheHandAndTheHint)
{
    ASSERT_TRUE(OpenBrowser());
    Browse(Photos());
    TThumbView* view = BW->boite();
    const QPoint picture = view->PictureRect(0).center();
    Mouse(view->viewport(), QEvent::MouseMove, picture);
    EXPECT_EQ(view->viewport()->cursor().shape(), Qt::PointingHandCursor);
    const QPoint caption = view->TileRect(0).topLeft() + QPoint(55, 120);
    Mouse(view->viewport(), QEvent::MouseMove, caption);
    EXPECT_EQ(view->viewport()->cursor().shape(), Qt::ArrowCursor);
    EXPECT_EQ(view->PictureAt(caption), -1);
    EXPECT_EQ(view->TileAt(caption), 0);

    QHelpEvent help(QEvent::ToolTip, picture, view->viewport()->mapToGlobal(picture));
    QApplication::sendEvent(view->viewport(), &help);
    const std::string expected =
        ThumbnailHint(Photos("a.bmp"), fs::file_size(Photos("a.bmp")), 60, 40);
    EXPECT_EQ(QToolTip::text().toStdString(), expected);
    QToolTip::hideText();
}

TEST_F(BrowserWindowTest, DoubleClickOpensTheTilesFile)
{
    ASSERT_TRUE(OpenBrowser());
    Browse(Photos());
    // The current folder is elsewhere: the tile's own path is opened.
    ASSERT_NE(fs::current_path(), fs::path(Photos()));
    DoubleClick(BW->boite()->PictureRect(2).center());
    TMDIChild* child = Form->ActiveDocumentWindow();
    ASSERT_TRUE(child);
    EXPECT_EQ(child->Document()->FileName, Photos("C.BMP"));
    EXPECT_EQ(child->Document()->Picture().Width(), 50);
    EXPECT_TRUE(On("benr"));

    // On a caption nothing opens.
    const std::size_t before = Form->DocumentWindows().size();
    DoubleClick(BW->boite()->TileRect(1).topLeft() + QPoint(55, 120));
    EXPECT_EQ(Form->DocumentWindows().size(), before);

    // The placeholder's file cannot be read: the error box tells, no window.
    DoubleClick(BW->boite()->PictureRect(3).center());
    EXPECT_EQ(Form->DocumentWindows().size(), before);
    EXPECT_EQ(Boxes().Calls.size(), 1u);
}

TEST_F(BrowserWindowTest, SavePathsRedrawOrAddATile)
{
    ASSERT_TRUE(OpenBrowser());
    Browse(Photos());
    DoubleClick(BW->boite()->PictureRect(0).center());
    TMDIChild* child = Form->ActiveDocumentWindow();
    ASSERT_TRUE(child);
    // Turned and saved again under its own name: its tile follows.
    Form->Action("brotateG")->trigger();
    Form->Action("benr")->trigger();
    TApplication::ProcessMessages();
    const TThumbnail& tile = BW->Thumbs()[0];
    EXPECT_EQ(tile.PictureWidth, 40);
    EXPECT_EQ(tile.PictureHeight, 60);
    EXPECT_EQ(tile.Size, (TThumbSize{66, 100}));
    EXPECT_EQ(tile.Hint, ThumbnailHint(Photos("a.bmp"), fs::file_size(Photos("a.bmp")), 40, 60));
    EXPECT_EQ(BW->ThumbCount(), 4);

    // A file written under a new name in another folder gets no tile: the
    // tiles stay those of the browsed folder.
    SaveBmp(Halves(80, 20), Others("ailleurs.bmp"));
    Windows->BrowserFileAdded(Others("ailleurs.bmp"));
    EXPECT_EQ(BW->ThumbCount(), 4);
    EXPECT_EQ(Captions(), (std::vector<std::string>{"a.bmp", "B.JPG.bmp", "C.BMP", "empty.gif"}));

    // Written in the browsed folder (named by another spelling of it), it
    // comes last.
    SaveBmp(Halves(80, 20), Photos("nouveau.bmp"));
    Windows->BrowserFileAdded(Photos() + "/../photos/nouveau.bmp");
    ASSERT_EQ(BW->ThumbCount(), 5);
    EXPECT_EQ(BW->Thumbs()[4].Caption, "nouveau.bmp");
    EXPECT_EQ(BW->Thumbs()[4].FileName, Photos("nouveau.bmp"));
    EXPECT_EQ(BW->Thumbs()[4].Size, (TThumbSize{100, 25}));
    EXPECT_EQ(BW->boite()->TileRect(4).topLeft(),
              QPoint(TileOrigin(4, BW->ThumbColumns()).X, TileOrigin(4, BW->ThumbColumns()).Y));
    // A file of the folder that the list would not show gets none either,
    // nor does a picture written into a sub-folder of it.
    std::ofstream(Photos("notes2.txt")) << "pas une image";
    Windows->BrowserFileAdded(Photos("notes2.txt"));
    fs::create_directories(Photos("sous"));
    SaveBmp(Halves(20, 20), Photos("sous/profond.bmp"));
    Windows->BrowserFileAdded(Photos("sous/profond.bmp"));
    EXPECT_EQ(BW->ThumbCount(), 5);

    // Saved again, the added tile waits for the next rebuild.
    SaveBmp(Halves(20, 80), Photos("nouveau.bmp"));
    Windows->BrowserFileSaved(Photos("nouveau.bmp"));
    EXPECT_EQ(BW->Thumbs()[4].PictureWidth, 80);
}

TEST_F(BrowserWindowTest, NewWindowsCascadeInsideTheFrameAtTheSizeTheyHaveInItsCorner)
{
    // Pictures that show at 1:1 at the corner of the frame's client area,
    // and a small GIF among them.
    const std::string gif = Others("petit.gif");
    const auto made = testutil::Run(testutil::Tool("convert") + " -size 160x120 gradient:yellow-green " +
                                    testutil::Quote("gif:" + gif));
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    std::vector<std::string> files;
    for (int i = 0; i < 9; ++i) {
        files.push_back(Others("photo" + std::to_string(i) + ".bmp"));
        SaveBmp(Halves(600, 400), files.back());
    }
    files.insert(files.begin() + 4, gif);

    const QRect area(QPoint(0, 0), Form->ClientArea()->viewport()->size());
    QPoint previous;
    int step = 0;
    int restarts = 0;
    for (const std::string& file : files) {
        Form->OpenImage(file);
        TApplication::ProcessMessages();
        TMDIChild* child = Form->ActiveDocumentWindow();
        ASSERT_TRUE(child);
        const QMdiSubWindow* sub = child->SubWindow();
        const std::string name = fs::path(file).filename().string();
        const QSize picture = file == gif ? QSize(160, 120) : QSize(600, 400);
        EXPECT_TRUE(area.contains(sub->geometry())) << name << " lies outside the frame";
        EXPECT_EQ(child->Document()->Zoom, 0) << name;
        EXPECT_EQ(child->size(), picture) << name;
        EXPECT_TRUE(sub->windowTitle().endsWith("(1:1)")) << name;
        // The first one at the corner; each next one further down and to
        // the right by one step, or at the corner again.
        const QPoint at = sub->pos();
        if (file == files.front()) {
            EXPECT_EQ(at, QPoint(0, 0));
        } else if (at == QPoint(0, 0)) {
            ++restarts;
        } else {
            if (step == 0)
                step = at.x() - previous.x();
            EXPECT_EQ(at, previous + QPoint(step, step)) << name;
        }
        previous = at;
    }
    // A step leaves the title bar of the window behind in view.
    const QMdiSubWindow* last = Form->ActiveDocumentWindow()->SubWindow();
    EXPECT_GE(step, last->widget()->mapTo(last, QPoint(0, 0)).y());
    EXPECT_EQ(restarts, 1);

    // The browser too.
    ASSERT_TRUE(OpenBrowser());
    EXPECT_TRUE(area.contains(BW->SubWindow()->geometry()));
    EXPECT_EQ(BW->SubWindow()->size(), QSize(410, 317));
}

TEST_F(BrowserWindowTest, ColumnsFollowTheWidth)
{
    ASSERT_TRUE(OpenBrowser());
    BW->SubWindow()->resize(900, 400);
    TApplication::ProcessMessages();
    Browse(Photos());
    const int wide = BW->ThumbColumns();
    EXPECT_EQ(wide, ColumnsFor(BW->boite()->ClientWidth()));
    ASSERT_GE(wide, 4);
    EXPECT_EQ(BW->boite()->TileRect(3).topLeft(), QPoint(350, 5));

    // Narrower: the tiles move to fewer columns.
    BW->FT()->setMinimumWidth(169);
    BW->SubWindow()->resize(169 + 6 + 260, 400);
    TApplication::ProcessMessages();
    const int narrow = BW->ThumbColumns();
    EXPECT_EQ(narrow, ColumnsFor(BW->boite()->ClientWidth()));
    EXPECT_LT(narrow, wide);
    EXPECT_EQ(BW->boite()->TileRect(narrow).topLeft(), QPoint(5, 140));
    EXPECT_EQ(BW->ThumbCount(), 4);
}

TEST_F(BrowserWindowTest, FolderChosenWhileTilesAreDrawn)
{
    const std::string many = Tmp.File("vol/beaucoup");
    fs::create_directories(many);
    const TBitmap picture = Halves(300, 200);
    for (int i = 0; i < 100; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "p%03d.bmp", i);
        SaveBmp(picture, many + "/" + name);
    }
    ASSERT_TRUE(OpenBrowser());
    ASSERT_TRUE(BW->FT()->SelectPath(many));
    EXPECT_EQ(BW->ThumbCount(), 100);
    // Some tiles drawn, events handled in between.
    ASSERT_TRUE(WaitFor([] { return BW->Thumbs()[0].State != TThumbState::Pending; }));
    Browse(Others());
    EXPECT_EQ(Captions(), (std::vector<std::string>{"x.bmp", "y.bmp"}));
    for (int i = 0; i < BW->ThumbCount(); ++i)
        EXPECT_EQ(BW->Thumbs()[i].State, TThumbState::Drawn);

    // Back to the big folder, every tile in place.
    Browse(many);
    ASSERT_EQ(BW->ThumbCount(), 100);
    EXPECT_EQ(BW->Thumbs()[99].FileName, many + "/p099.bmp");
    for (int i = 0; i < BW->ThumbCount(); ++i)
        ASSERT_EQ(BW->Thumbs()[i].State, TThumbState::Drawn) << i;
    // The last row can be scrolled to and hit.
    BW->boite()->EnsureVisible(99);
    TApplication::ProcessMessages();
    EXPECT_EQ(BW->boite()->PictureAt(BW->boite()->PictureRect(99).center()), 99);
    EXPECT_GT(BW->boite()->verticalScrollBar()->value(), 0);
}

TEST(BrowserBeforePaint, ListChangesBuildNoTileBeforeTheFirstPaint)
{
    App();
    testutil::TempDir tmp;
    auto ns = std::make_shared<TTempNamespace>();
    ns->Desktop = tmp.File("Bureau");
    fs::create_directories(ns->Desktop);
    fs::create_directories(tmp.File("vol/p"));
    ns->Vols = {{tmp.File("vol") + "/", "Disque", false, false}};
    SaveBmp(Halves(10, 10), tmp.File("vol/p/1.bmp"));
    SaveBmp(Halves(10, 10), tmp.File("vol/p/2.BMP"));

    TBrowserHost host;
    TBW browser(host, nullptr, ns);
    ASSERT_TRUE(browser.FirstPaintPending());
    ASSERT_TRUE(browser.FT()->SelectPath(tmp.File("vol/p")));
    EXPECT_EQ(browser.FL()->Count(), 2);
    EXPECT_EQ(browser.ThumbCount(), 0);

    browser.resize(410, 317);
    browser.show();
    ASSERT_TRUE(WaitFor([&browser] { return !browser.FirstPaintPending(); }));
    browser.FT()->setCurrentItem(nullptr);
    ASSERT_TRUE(browser.FT()->SelectPath(tmp.File("vol/p")));
    EXPECT_EQ(browser.ThumbCount(), 2);
    browser.FinishTiles();
    EXPECT_EQ(browser.Thumbs()[1].Caption, "2.BMP");
    EXPECT_EQ(browser.Thumbs()[1].State, TThumbState::Drawn);
}
