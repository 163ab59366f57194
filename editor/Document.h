#pragma once
// TDocument: what a document window of Corvinel holds and does, apart from
// its widgets: the 24-bit picture, its file name and modified state, the zoom
// step, the selection whose frame is drawn with an XOR pen into the picture
// itself, and an undo stack of the last 100 full snapshots within the
// program's memory budget for undo. The window
// (TMDIChild) shows it and passes it the pointer and wheel events; the frame's
// command and status states are written through the TCommandStates given.

#include "Bitmap.h"
#include "Types.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

class IMessageBoxes;
class IClipboard;
class TCommandStates;
class TPhotoMetadata;

// The outcome of the last close question or save: the frame's close-all
// loop sets it before each close and stops at the first window that leaves
// it false; a completed save sets it.
extern bool CloseConfirmed;

// The name of every picture that has no file (blank, pasted or scanned).
inline const std::string UntitledName = "Sans nom";

// The file-name part of a path: what follows the last "/".
std::string ExtractFileName(const std::string& path);

// The zoom text of a caption: "(n:1)" or "(1:n)".
std::string ZoomText(int zoom);

// The factor of a zoom step, in single precision: zoom + 1 for zoom >= 0,
// else 1 / (|zoom| + 1).
float ZoomFactor(int zoom);

// One undo snapshot.
struct TUndoEntry {
    std::unique_ptr<TBitmap> Bitmap;
    TRect Selection;
    bool SelVisible = false;
    bool Moving = false;
    int LastX = 0;
    int LastY = 0;
    int Zoom = 0;
    // The order in which the program's snapshots were taken, all documents
    // together: a smaller number is an older snapshot.
    std::uint64_t Serial = 0;
};

// What the window showing a document does for it.
class IDocumentView {
public:
    virtual ~IDocumentView() = default;
    // Shows the picture at the document's zoom step, sizes the window to it
    // within the frame and, when both values are > 0, scrolls so that that
    // point of the picture (in percent of its size) comes to the middle.
    virtual void Redisplay(int centerXPercent, int centerYPercent) = 0;
    // The pixels changed, not the size.
    virtual void Repaint() = 0;
    // The caption changed.
    virtual void CaptionChanged() = 0;
};

class TDocument {
public:
    static constexpr int MaxUndo = 100;
    // The memory the snapshots of all documents together may take: the
    // allowance of pictures kept together (pixelmemory::Allowance).
    static std::size_t DefaultUndoBudget();

    explicit TDocument(TCommandStates& frame);
    ~TDocument();
    TDocument(const TDocument&) = delete;
    TDocument& operator=(const TDocument&) = delete;

    // The picture, always 24 bits a pixel. The object stays the same for the
    // document's life; a view may keep a pointer to it.
    TBitmap& Picture() { return FPicture; }
    const TBitmap& Picture() const { return FPicture; }
    // Assigns a new picture (converted to 24 bits) and tells the view.
    void SetPicture(const TBitmap& bitmap);
    // The same for a bitmap about to be freed: its pixels are taken over.
    void SetPicture(TBitmap&& bitmap);
    // Tells the view that a routine changed the picture where it is.
    void PictureChanged();

    std::string FileName = UntitledName;
    // What the camera recorded about the photo the document was opened
    // from (a JPEG file); null for other files and pictures without a
    // file. A JPEG save writes it back into the file.
    std::shared_ptr<const TPhotoMetadata> Metadata;
    bool Modified = false;
    float Aspect = 0;
    int Zoom = 0;
    int MouseX = 0;
    int MouseY = 0;
    int StartX = -1;
    int StartY = -1;
    int LastX = 0;
    int LastY = 0;
    TRect Selection;
    bool SelVisible = false;
    bool Moving = false;

    // The snapshots held, oldest first.
    int UndoCount() const { return static_cast<int>(FUndo.size()); }
    const TUndoEntry& UndoEntry(int index) const { return FUndo.at(static_cast<std::size_t>(index)); }
    // The bytes of pixels this document's snapshots hold.
    std::size_t UndoBytes() const { return FUndoBytes; }
    // The bytes the snapshots of every document hold, and the most they may
    // hold together (DefaultUndoBudget unless set).
    static std::size_t TotalUndoBytes();
    static std::size_t UndoBudget();
    static void SetUndoBudget(std::size_t bytes);

    const std::string& Caption() const { return FCaption; }

    IDocumentView* View = nullptr;

    // The zoom factor of the current step and the width of the frame's pen
    // (one screen pixel wide when the picture is reduced).
    float Factor() const { return ZoomFactor(Zoom); }
    int PenWidth() const;
    // A control coordinate as a picture coordinate: divided by the factor,
    // rounded half to even.
    int ToPicture(int controlCoordinate) const;
    // The displayed size at a zoom step.
    std::int64_t DisplayWidth(int zoom) const;
    std::int64_t DisplayHeight(int zoom) const;
    std::int64_t DisplayWidth() const { return DisplayWidth(Zoom); }
    std::int64_t DisplayHeight() const { return DisplayHeight(Zoom); }
    // The zoom steps a window can show: at least one screen pixel each way,
    // and no more than a widget can be.
    bool ZoomAllowed(int zoom) const;

    // Sets the XOR pen on the picture's canvas.
    void SetXorPen();
    // Pushes a snapshot and marks the document modified. This document
    // keeps at most 100; beyond the budget the program's oldest snapshots
    // go first, whichever document holds them, but every other document
    // keeps its newest one and the new one always stays.
    void memorise();
    // Pops the last snapshot back; nothing at all when the stack is empty.
    void restitue();
    // Draws the selection frame once (a second call removes it).
    void Trace();
    // Removes the selection.
    void annuleselection();
    // Recomputes the view, the caption and the frame's states.
    void Affiche(int centerXPercent, int centerYPercent);
    // A copy of the picture without the selection frame.
    std::unique_ptr<TBitmap> CopyWithoutFrame();
    // Puts the picture, without its frame, on the clipboard.
    void ToPP(IClipboard& clipboard);
    // Changes the zoom step by delta around a redisplay centred on the given
    // point (0, 0: no scrolling), the frame redrawn at the new pen width. A
    // step outside ZoomAllowed changes nothing; answers whether it changed.
    bool ZoomBy(int delta, int centerXPercent = 0, int centerYPercent = 0);
    // Sets the zoom step (when allowed), the frame kept right.
    bool SetZoomStep(int zoom);

    // The window became the active one.
    void FormActivate();
    // The close question. Answers whether the window may close; save is the
    // frame's direct save of this document.
    bool FormCloseQuery(IMessageBoxes& boxes, const std::function<void()>& save);
    // Frees the snapshots of a closing window.
    void ReleaseUndo();

    // Pointer events, in control pixels. MouseMove answers whether the
    // pointer is over a shown selection (the move cursor) or not (the cross).
    void MouseDown(int x, int y);
    bool MouseMove(int x, int y, bool leftButton);
    void MouseUp(int x, int y);
    // The wheel: +1 up (zoom in), -1 down (zoom out).
    void MouseWheel(int direction);

    // The caption's "*" rules, for the operations that change it.
    void EnsureStar();
    void RemoveStar();
    void SetCaptionText(const std::string& caption);

private:
    // Converts a picture just assigned to 24 bits and tells the view.
    void PictureAssigned();
    void ShowSelectionSize();
    void SetUndoCommands(bool enabled);
    // Drops this document's oldest snapshot.
    void DropOldestSnapshot();
    // Drops the program's oldest snapshots until need more bytes fit the
    // budget, as memorise tells.
    void MakeRoomFor(std::size_t need);

    TCommandStates& FFrame;
    TBitmap FPicture;
    std::deque<TUndoEntry> FUndo;
    std::size_t FUndoBytes = 0;
    // Snapshots went to keep the stack within its limits: the bottom of the
    // stack is no longer the picture as it was opened.
    bool FUndoDropped = false;
    std::string FCaption;
};
