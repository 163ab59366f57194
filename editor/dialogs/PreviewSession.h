#pragma once
// One showing of an image dialog over a document: the document pushes an
// undo snapshot, its selection frame is erased and the selection cleared,
// and the dialog takes a private copy of the picture. Each preview starts
// from a fresh copy of it and replaces the document's picture. Applying
// keeps the last preview (the snapshot stays as one undo step); ending the
// showing without applying puts back the picture the dialog found.

#include "Bitmap.h"
#include "Types.h"

#include <functional>
#include <memory>

class TDocument;

class TPreviewSession {
public:
    TPreviewSession();
    ~TPreviewSession();
    TPreviewSession(const TPreviewSession&) = delete;
    TPreviewSession& operator=(const TPreviewSession&) = delete;

    // The start of a showing. Runs once per showing: while a showing is
    // open (a message box shown over the dialog activates it again) it does
    // nothing and answers false.
    bool Begin(TDocument& document);
    // The end of a showing: the picture is restored unless applied, the copy
    // freed. Nothing when no showing is open.
    void End();

    bool Active() const { return FDocument != nullptr; }
    // The document of the open showing (null when none is open).
    TDocument* Document() const { return FDocument; }
    // The picture as the showing found it, frame removed.
    const TBitmap& WorkBitmap() const;
    // True from Begin until Apply: ending the showing then restores.
    bool RestoreOnClose() const { return FRestoreOnClose; }
    // Whether Begin's snapshot went on the undo stack.
    bool SnapshotRecorded() const { return FRecorded; }

    // A fresh copy of the work picture, changed by compute, becomes the
    // document's picture. Nothing when no showing is open.
    void Preview(const std::function<void(TBitmap&)>& compute);
    // The untouched picture again, redisplayed.
    void ShowUntouched();
    // Keeps the document's picture: no restore at the end; the picture's
    // canvas gets the selection frame's XOR pen.
    void Apply();

private:
    TDocument* FDocument = nullptr;
    bool FRestoreOnClose = false;
    bool FRecorded = false;
    std::unique_ptr<TBitmap> FWork;
};
