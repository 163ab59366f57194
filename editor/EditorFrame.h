#pragma once
// TEditorFrame: the logic of Corvinel's frame apart from its widgets: the
// command states and status panels, opening and duplicating documents, the
// direct save, the image commands on the active document, the browser
// toggle, the help page, the batch program and the close-all loop. The
// frame's window (TMainForm) gives it its MDI children through IFrameWindows
// and binds its commands to these methods; tests give it their own.

#include "CommandStates.h"
#include "Document.h"
#include "Services.h"
#include "photo.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class IClipboard;
class IMessageBoxes;
class IDesktop;

// Corvinel's start folder, ending in "/": the folder that holds the program,
// wherever it was started from. The help page, the batch program and the
// filter folder are found below it.
extern std::string StartDir;

class Exception;

// Puts what failed and the file's name before an error's own text, as in
// "Impossible d'ouvrir le fichier /photos/a.jpg : Erreur JPEG: ...", so the
// error box says which file it is about; what ends in a blank. EAbort and a
// text that names the file already stay as they are.
void NameFileInError(Exception& error, const std::string& what, const std::string& fileName);
// The beginnings of those texts for opening and for saving.
extern const char* const OpenFailedText;
extern const char* const SaveFailedText;
// The warning shown when a damaged file opens with part of its picture.
std::string IncompleteFileText(const std::string& fileName, const std::string& warning);

// The current directory with "/" appended unless it already ends in one.
std::string CurrentStartDir();
// The folder of the running program's file with "/" appended; the current
// directory's form when the system does not tell.
std::string ProgramStartDir();

// The fixed kernels of the frame's filter commands.
extern const TKernel3x3 SharpenKernel;
extern const TKernel3x3 SharpenMoreKernel;
extern const TKernel3x3 SoftenKernel;
extern const TKernel3x3 SoftenMoreKernel;

// The zoom step that fits a picture into the room a new window has: the
// smallest reduction 1/i with height / i <= roomHeight and width / i <=
// roomWidth; 0 (1:1) when there is no room at all.
int FitZoom(int width, int height, int roomWidth, int roomHeight);

// An absolute path, "." and ".." resolved, case kept.
std::string ExpandFileName(const std::string& path);
// Opens a link (mailto:, file:...) with the desktop's program for it; when
// none takes it, an error box says so, naming the link. Answers whether it
// was opened.
bool OpenLink(IDesktop& desktop, IMessageBoxes& boxes, const std::string& link);

// Whether two paths name one file (canonical forms compared).
bool SameFile(const std::string& a, const std::string& b);

// The frames of the GIF file at a path; 0 when it is no GIF file or cannot
// be read.
int GifFileFrames(const std::string& path);
// The question asked before a document's one picture replaces the animated
// GIF it was opened from (the other frames would be lost); "Non" is the
// default. True when the file may be written: it is another file, a still
// picture, or the user answered "Oui".
bool ConfirmGifFramesLost(IMessageBoxes& boxes, const std::string& documentPath, const std::string& target);

// Window rectangles of a tiling: n windows in an area, one above the other
// (horizontal) or side by side (vertical).
std::vector<TRect> TileRects(int count, int width, int height, bool horizontal);

// The room a document window leaves to the frame's client area: its client
// area is cut to the client area's size less these, counted from where the
// window sits; the picture is fitted into it less FitMarginY down.
constexpr int WindowMarginX = 50;
constexpr int WindowMarginY = 82;
constexpr int FitMarginY = 100;
// The client size of a document window at (left, top) showing its picture
// at shownWidth x shownHeight in a frame client area of areaWidth x
// areaHeight: the displayed size, cut to the room; at least 1 x 1.
TPoint DocumentClientSize(std::int64_t shownWidth, std::int64_t shownHeight, int areaWidth, int areaHeight,
                          int left, int top);

// Where new windows go in the frame's client area, as the system places
// them: the first at the top-left corner, each next one a step down and to
// the right of the one placed before. A window that would not lie wholly
// inside the area there, or that would not keep there the size and zoom it
// has at the corner, goes to the top-left corner, and the cascade starts
// again from it.
class TWindowCascade {
public:
    // The place of a new window of width x height (its frame included) in
    // an area of areaWidth x areaHeight; keeps, when given, answers whether
    // the window keeps its size and zoom at a place.
    TPoint Next(int width, int height, int areaWidth, int areaHeight, int step,
                const std::function<bool(int left, int top)>& keeps = nullptr);
    // The next window goes to the top-left corner (no window is open).
    void Restart() { FNext = 0; }

private:
    int FNext = 0;
};

// An MDI child of the frame as the frame's logic sees it.
class IChildWindow {
public:
    virtual ~IChildWindow() = default;
    // The document it shows; null for a window that is no document window
    // (the thumbnail browser).
    virtual TDocument* Document() = 0;
    // Makes it the active window.
    virtual void Focus() = 0;
    // Closes it; a document window asks its close question first. True
    // when the window closed.
    virtual bool Close() = 0;
};

// Where a window sits in the frame, for fitting its picture.
struct TFitArea {
    int ClientWidth = 0;  // the frame's client area
    int ClientHeight = 0;
    int Left = 0;         // the window's position in it
    int Top = 0;
};

class IFrameWindows {
public:
    virtual ~IFrameWindows() = default;
    // The MDI children in the frame's list order: the active window first,
    // then down the stacking order.
    virtual std::vector<IChildWindow*> Children() = 0;
    virtual IChildWindow* ActiveChild() = 0;
    // A new document window showing the document, visible and active.
    virtual IChildWindow* CreateDocumentWindow(std::unique_ptr<TDocument> document) = 0;
    virtual TFitArea FitArea(IChildWindow& window) = 0;
    // Places a new window whose client area will be clientWidth x
    // clientHeight by the frame's cascade (TWindowCascade); keeps answers
    // whether it keeps its size and zoom at a place. A frame that places
    // nothing leaves the window where it is.
    virtual void PlaceWindow(IChildWindow& /*window*/, int /*clientWidth*/, int /*clientHeight*/,
                             const std::function<bool(int left, int top)>& /*keeps*/)
    {
    }
};

struct TEditorServices {
    IMessageBoxes* Boxes = nullptr;
    IClipboard* Clipboard = nullptr;
    IDesktop* Shell = nullptr;
    IScanner* Scanner = nullptr;
    IEditorWindows* Windows = nullptr;
};

class TEditorFrame {
public:
    TEditorFrame(IFrameWindows& windows, const TEditorServices& services);

    TCommandStates States;
    int ChildCount = 0;
    int NewImageWidth = 0;
    int NewImageHeight = 0;

    // Start-up: StartDir (the program's folder), no document, image
    // commands off.
    void FormCreate();

    // The document of the active MDI child; null when none is active or
    // the active one is not a document window.
    TDocument* ActiveDocument();
    IChildWindow* WindowOf(const TDocument& document);

    void EnableImageCommands(bool enabled) { ::EnableImageCommands(States, enabled); }

    // Opens a file or one of the pseudo names "*scan*", "*pp*" and "Sans nom"
    // in a new window, or focuses the window that shows that file already.
    // Answers the document shown, or null when nothing was opened. A file
    // that cannot be read raises, its name before the reader's text, and
    // leaves no window behind; a damaged file that still gives part of its
    // picture opens, and the user is told it is incomplete.
    TDocument* OpenImage(const std::string& name);
    // A new untitled window holding a copy of the source's picture.
    TDocument* DuplicateChild(TDocument& source);
    // The direct save of one document under its own name.
    void SaveDocument(TDocument& document);

    // The close question of a document window (true: it may close) and the
    // bookkeeping once it closed.
    bool DocumentCloseQuery(TDocument& document);
    void DocumentClosed(TDocument& document);
    // The close-all loop of the frame's close; false when a window refused
    // and the program goes on. Then the clipboard question.
    bool FormClose();

    // Image commands on the active document.
    void ApplyKernel(TKernel3x3 kernel);
    void RotateActiveChild(int direction);
    void CropActiveChild();

    // The command handlers.
    void benrClick();
    void BenrsousClick();
    void bscanClick();
    void bsourcescanClick();
    void bcollerClick();
    void bdupliqueClick();
    void bcopierClick();
    void bannulerClick();
    void baccentuerClick() { ApplyKernel(SharpenKernel); }
    void baccentuerdavClick() { ApplyKernel(SharpenMoreKernel); }
    void badoucirClick() { ApplyKernel(SoftenKernel); }
    void badoucirdavClick() { ApplyKernel(SoftenMoreKernel); }
    void brotateGClick() { RotateActiveChild(1); }
    void brotateDClick() { RotateActiveChild(-1); }
    void brecadrerClick();
    void blplusClick();
    void blmoinsClick();
    void bcontrasteClick();
    void bgrisClick();
    void btrameClick();
    void bfiltrepClick();
    void BkavrelClick();
    void bimprimerClick();
    void bimpvClick();
    void HelpAbout1Execute();
    void baideClick();
    void bkavrelcClick();
    void FileCloseItemClick();
    // The browser toggle after the button changed its state, and the menu
    // item that changes it first.
    void BparcourirClick(bool down);
    void Parcourir1Click();

private:
    // Shows one of the windows of IEditorWindows, or tells that it is not
    // part of this program.
    void ShowWindow(TEditorWindow window);
    void ShowSaveAssistantFor(TDocument& document);
    // Undo snapshot, selection removed.
    static void Preamble(TDocument& document);

    IFrameWindows& FWindows;
    TEditorServices FServices;
};
