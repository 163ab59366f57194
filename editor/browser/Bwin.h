#pragma once
// TBW: the thumbnail browser, an MDI child of Corvinel's frame captioned
// "Parcourir". The folder tree FT on the left chooses a folder; the hidden
// file list FL lists its picture files; the tile area boite shows one tile
// per listed file, built one file at a time from the event loop so that the
// window stays live in a large folder. A double click on a tile's picture
// opens the file as a document. The frame's save paths redraw a tile
// (Miseajourvignette) or add one (Ajoutevignette).

#include "BrowserFiles.h"
#include "EditorFrame.h"
#include "Thumbnails.h"

#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class BW;
}
class QLabel;
class QMdiArea;
class QMdiSubWindow;
class QSplitter;
class QStatusBar;
class TCommandStates;
class TFileListBox;
class TFolderTree;
class TShellNamespace;
class TThumbView;

// What the browser asks of the frame.
struct TBrowserHost {
    // The frame's commands and status panels (none in some tests).
    TCommandStates* States = nullptr;
    // Opens a file as a document (the frame's OpenImage).
    std::function<void(const std::string& fileName)> OpenImage;
};

class TBW : public QWidget, public IChildWindow, public IBrowserFileList {
public:
    // The folder tree shows ns (the system's namespace when null).
    explicit TBW(const TBrowserHost& host, QWidget* parent = nullptr, std::shared_ptr<TShellNamespace> ns = nullptr);
    ~TBW() override;

    TFolderTree* FT() const;
    QSplitter* Splitter1() const;
    TThumbView* boite() const;
    TFileListBox* FL() const;
    QStatusBar* SB() const;
    // The sub-window that holds it in the frame's MDI area.
    QMdiSubWindow* SubWindow() const;

    // The tiles, in the grid's order.
    const TThumbnailList& Thumbs() const { return FThumbs; }
    int ThumbCount() const { return FThumbs.Count(); }
    int ThumbColumns() const { return FThumbs.Columns(); }
    bool FirstPaintPending() const { return FFirstPaintPending; }
    // Tiles are still being drawn.
    bool Building() const { return FThumbs.Building(); }
    // Draws every pending tile at once.
    void FinishTiles();

    void FormCreate();
    void FormPaint();
    void FormActivate();
    void FormClose();
    void FormResize();
    void FTChange();
    void FLChange();
    // Rebuilds the tiles for the list: the old ones go, each listed file
    // gets one, drawn in the list's order as the event loop runs.
    void affichevignettes();
    void effacevignettes();
    // Re-places the tiles when the column count changed.
    void replacevignettes();
    // A file was written again under this path: its tiles are drawn again.
    void Miseajourvignette(const std::string& fileName);
    // A new file was written: when it is a picture of the browsed folder,
    // a tile for it comes after the others; other files get none.
    void Ajoutevignette(const std::string& fileName);
    // Whether the file lies in the browsed folder and matches the list's mask.
    bool ShowsFile(const std::string& fileName) const;
    // Double click on tile index: the file is opened.
    void cblancDblClick(int index);

    // IChildWindow: no document; closes without a question.
    TDocument* Document() override { return nullptr; }
    void Focus() override;
    bool Close() override;

    // IBrowserFileList
    std::string BrowseDirectory() const override;
    std::vector<std::string> BrowseFiles() const override;
    std::vector<std::string> BrowseFilePaths() const override;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildSome();

    std::unique_ptr<Ui::BW> FUi;
    TBrowserHost FHost;
    TThumbnailList FThumbs;
    QTimer FBuilder;
    bool FFirstPaintPending = true;
    bool FClosed = false;
};

// The browser of the running program (null while none is open).
extern TBW* BW;

// Puts a browser into an MDI area as a sub-window that is freed when it
// closes, tells it of its activations, and shows it at the area's top-left
// corner (the frame then places it).
QMdiSubWindow* ShowBrowser(QMdiArea* area, TBW* browser);
