#include "Bwin.h"

#include "Application.h"
#include "CommandStates.h"
#include "FileListBox.h"
#include "FolderTree.h"
#include "ThumbView.h"
#include "ui_BW.h"

#include <QCloseEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QScrollBar>
#include <QSplitter>
#include <QStatusBar>

#include <filesystem>
#include <system_error>

TBW* BW = nullptr;

namespace {

// How long one turn of the event loop may draw tiles before the window
// handles its events again.
constexpr int BuildSliceMs = 30;

} // namespace

TBW::TBW(const TBrowserHost& host, QWidget* parent, std::shared_ptr<TShellNamespace> ns)
    : QWidget(parent), FUi(std::make_unique<Ui::BW>()), FHost(host)
{
    FUi->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose, false);

    // The tree keeps its width; the tile area takes what the window gives.
    FUi->Splitter1->setStretchFactor(0, 0);
    FUi->Splitter1->setStretchFactor(1, 1);
    FUi->Splitter1->setSizes({169, std::max(140, width() - 169 - 6)});

    // Two status panels, 100 and 50 wide.
    for (int w : {100, 50}) {
        auto* panel = new QLabel(FUi->SB);
        panel->setFixedWidth(w);
        panel->setFrameShape(QFrame::StyledPanel);
        panel->setFrameShadow(QFrame::Sunken);
        FUi->SB->addWidget(panel);
    }

    FUi->boite->SetTiles(&FThumbs);
    FUi->boite->OnPaint = [this] { FormPaint(); };
    FUi->boite->OnResize = Guarded([this] { FormResize(); });
    FUi->boite->OnDblClick = [this](int index) { Guarded([this, index] { cblancDblClick(index); })(); };
    FUi->FL->OnChange = [this](TFileListBox&) { Guarded([this] { FLChange(); })(); };

    FBuilder.setInterval(0);
    connect(&FBuilder, &QTimer::timeout, this, Guarded([this] { BuildSome(); }));

    if (ns)
        FUi->FT->SetNamespace(std::move(ns));
    FUi->FT->SetFolderOptions({foNetworkNeighborhood, foRecycleBin});
    connect(FUi->FT, &TFolderTree::Change, this, Guarded([this] { FTChange(); }));
    FUi->FT->SetActive(true);

    FormCreate();
}

TBW::~TBW()
{
    FBuilder.stop();
    FUi->FL->OnChange = nullptr;
    if (::BW == this)
        ::BW = nullptr;
}

TFolderTree* TBW::FT() const
{
    return FUi->FT;
}

QSplitter* TBW::Splitter1() const
{
    return FUi->Splitter1;
}

TThumbView* TBW::boite() const
{
    return FUi->boite;
}

TFileListBox* TBW::FL() const
{
    return FUi->FL;
}

QStatusBar* TBW::SB() const
{
    return FUi->SB;
}

QMdiSubWindow* TBW::SubWindow() const
{
    return qobject_cast<QMdiSubWindow*>(parentWidget());
}

void TBW::FormCreate()
{
    FFirstPaintPending = true;
}

void TBW::FormPaint()
{
    FFirstPaintPending = false;
}

void TBW::FormActivate()
{
    if (!FHost.States)
        return;
    TCommandStates& states = *FHost.States;
    EnableImageCommands(states, false);
    states.SetEnabled("bannuler", false);
    states.SetEnabled("Annulerladernireaction1", false);
    states.SetEnabled("bimpv", true);
    states.SetEnabled("Imprimerlesvignettes1", true);
    states.SetPanel(1, "0 x 0");
    states.SetPanel(2, "x=0 y=0");
    states.SetPanel(3, "0 x 0");
}

void TBW::FormClose()
{
    FBuilder.stop();
    if (::BW == this)
        ::BW = nullptr;
    if (!FHost.States)
        return;
    TCommandStates& states = *FHost.States;
    states.SetChecked("Bparcourir", false);
    states.SetChecked("Parcourir1", false);
    states.SetEnabled("bimpv", false);
    states.SetEnabled("Imprimerlesvignettes1", false);
}

void TBW::closeEvent(QCloseEvent* event)
{
    if (!FClosed) {
        FClosed = true;
        Guarded([this] { FormClose(); })();
    }
    event->accept();
}

void TBW::FormResize()
{
    if (ColumnsFor(FUi->boite->ClientWidth()) != FThumbs.Columns())
        replacevignettes();
}

void TBW::FTChange()
{
    FUi->FL->SetMask(BrowseMask);
    std::string path;
    FUi->FT->GetSelectedPath(path);
    // An empty path (a special node) leaves the list's folder as it is.
    FUi->FL->ApplyFilePath(path);
}

void TBW::FLChange()
{
    if (!FFirstPaintPending)
        affichevignettes();
}

void TBW::affichevignettes()
{
    FThumbs.SetColumns(ColumnsFor(FUi->boite->ClientWidth()));
    effacevignettes();
    TFileListBox& list = *FUi->FL;
    std::vector<TListedFile> files;
    files.reserve(static_cast<std::size_t>(list.Count()));
    for (int i = 0; i < list.Count(); ++i)
        files.push_back(TListedFile{list.FilePath(i), list.Items(i)});
    FThumbs.BeginRebuild(files);
    FUi->boite->verticalScrollBar()->setValue(0);
    FUi->boite->TilesChanged();
    if (FThumbs.Building())
        FBuilder.start();
}

void TBW::BuildSome()
{
    QElapsedTimer clock;
    clock.start();
    while (FThumbs.Building()) {
        const int index = FThumbs.BuildNext();
        if (index >= 0)
            FUi->boite->TileChanged(index);
        if (clock.elapsed() >= BuildSliceMs)
            break;
    }
    if (!FThumbs.Building())
        FBuilder.stop();
}

void TBW::FinishTiles()
{
    while (FThumbs.Building()) {
        const int index = FThumbs.BuildNext();
        if (index >= 0)
            FUi->boite->TileChanged(index);
    }
    FBuilder.stop();
}

void TBW::effacevignettes()
{
    FBuilder.stop();
    FThumbs.Clear();
    FUi->boite->TilesChanged();
}

void TBW::replacevignettes()
{
    if (FThumbs.SetColumns(ColumnsFor(FUi->boite->ClientWidth())))
        FUi->boite->TilesChanged();
}

void TBW::Miseajourvignette(const std::string& fileName)
{
    for (int index : FThumbs.Refresh(fileName))
        FUi->boite->TileChanged(index);
}

void TBW::Ajoutevignette(const std::string& fileName)
{
    // Only the browsed folder's pictures get a tile: a file written
    // elsewhere would show a tile that no list of the folder has.
    if (!ShowsFile(fileName))
        return;
    FThumbs.Append(fileName);
    FUi->boite->TilesChanged();
}

bool TBW::ShowsFile(const std::string& fileName) const
{
    namespace fs = std::filesystem;
    const TFileListBox& list = *FUi->FL;
    const fs::path path(ExpandFileName(fileName));
    if (!TFileListBox::MatchesMask(path.filename().string(), list.Mask()))
        return false;
    // The same folder under another spelling (a link, "..") counts too.
    std::error_code error;
    return fs::equivalent(path.parent_path(), fs::path(list.Directory()), error) && !error;
}

void TBW::cblancDblClick(int index)
{
    if (index < 0 || index >= FThumbs.Count() || !FHost.OpenImage)
        return;
    // The path is copied: opening a document may change the tiles.
    const std::string fileName = FThumbs[index].FileName;
    FHost.OpenImage(fileName);
}

void TBW::Focus()
{
    if (QMdiSubWindow* sub = SubWindow()) {
        if (QMdiArea* area = sub->mdiArea())
            area->setActiveSubWindow(sub);
        sub->raise();
    }
    setFocus();
}

bool TBW::Close()
{
    if (QMdiSubWindow* sub = SubWindow())
        return sub->close();
    return close();
}

std::string TBW::BrowseDirectory() const
{
    return FUi->FL->Directory();
}

// The files are those the tiles show: the list's, then those written into
// the folder since it was read.
std::vector<std::string> TBW::BrowseFiles() const
{
    std::vector<std::string> names;
    for (int i = 0; i < FThumbs.Count(); ++i)
        names.push_back(FThumbs[i].Caption);
    return names;
}

std::vector<std::string> TBW::BrowseFilePaths() const
{
    std::vector<std::string> paths;
    for (int i = 0; i < FThumbs.Count(); ++i)
        paths.push_back(FThumbs[i].FileName);
    return paths;
}

QMdiSubWindow* ShowBrowser(QMdiArea* area, TBW* browser)
{
    QMdiSubWindow* sub = area->addSubWindow(browser);
    sub->setAttribute(Qt::WA_DeleteOnClose);
    sub->resize(410, 317);
    // Moved before it shows, it is not placed by the area: its frame places
    // it.
    sub->move(0, 0);
    QObject::connect(area, &QMdiArea::subWindowActivated, browser, [browser, sub](QMdiSubWindow* active) {
        if (active == sub)
            Guarded([browser] { browser->FormActivate(); })();
    });
    sub->show();
    return sub;
}
