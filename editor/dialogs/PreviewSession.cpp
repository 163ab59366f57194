#include "PreviewSession.h"

#include "Document.h"
#include "Exceptions.h"

#include <utility>

TPreviewSession::TPreviewSession() = default;

TPreviewSession::~TPreviewSession() = default;

const TBitmap& TPreviewSession::WorkBitmap() const
{
    if (!FWork)
        throw Exception("Aucune image en cours de traitement");
    return *FWork;
}

bool TPreviewSession::Begin(TDocument& document)
{
    if (FDocument)
        return false;

    // The picture as found, for a restore that the undo stack can not give.
    std::unique_ptr<TRestorePoint> restore;
    if (document.UndoCount() >= TDocument::MaxUndo) {
        restore = std::make_unique<TRestorePoint>();
        restore->Picture.Assign(document.Picture());
        restore->Selection = document.Selection;
        restore->SelVisible = document.SelVisible;
        restore->Moving = document.Moving;
        restore->LastX = document.LastX;
        restore->LastY = document.LastY;
        restore->Zoom = document.Zoom;
        restore->Modified = document.Modified;
    }

    const int before = document.UndoCount();
    document.memorise();
    FRecorded = document.UndoCount() > before;
    FDocument = &document;
    FRestoreOnClose = true;
    FRestore = FRecorded ? nullptr : std::move(restore);

    try {
        // The frame leaves the pixels and the status shows no selection.
        document.annuleselection();
        document.SelVisible = false;
        document.Moving = false;
        document.Selection = Rect(-1, -1, -1, -1);
        auto work = std::make_unique<TBitmap>();
        work->Assign(document.Picture());
        FWork = std::move(work);
    } catch (...) {
        End();
        throw;
    }
    return true;
}

void TPreviewSession::Preview(const std::function<void(TBitmap&)>& compute)
{
    if (!FDocument || !FWork)
        return;
    TBitmap result;
    result.Assign(*FWork);
    compute(result);
    FDocument->SetPicture(result);
}

void TPreviewSession::ShowUntouched()
{
    if (!FDocument || !FWork)
        return;
    FDocument->SetPicture(*FWork);
    FDocument->Affiche(0, 0);
}

void TPreviewSession::Apply()
{
    if (!FDocument)
        return;
    FRestoreOnClose = false;
    FDocument->SetXorPen();
}

void TPreviewSession::End()
{
    if (!FDocument)
        return;
    TDocument& document = *std::exchange(FDocument, nullptr);
    const bool restore = std::exchange(FRestoreOnClose, false);
    const bool recorded = std::exchange(FRecorded, false);
    const std::unique_ptr<TRestorePoint> own = std::move(FRestore);
    FWork.reset();
    if (!restore)
        return;
    if (recorded) {
        document.restitue();
    } else if (own) {
        document.SetPicture(own->Picture);
        document.SetXorPen();
        document.Selection = own->Selection;
        document.SelVisible = own->SelVisible;
        document.Moving = own->Moving;
        document.LastX = own->LastX;
        document.LastY = own->LastY;
        document.Zoom = own->Zoom;
        document.Modified = own->Modified;
        document.Affiche(0, 0);
    }
}
