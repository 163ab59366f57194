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

    // The snapshot always goes on the stack (a full one gives up its oldest).
    document.memorise();
    FRecorded = true;
    FDocument = &document;
    FRestoreOnClose = true;

    try {
        // The frame leaves the pixels (drawn once more with the XOR pen);
        // the status panel keeps the size that drawing shows.
        if (document.SelVisible)
            document.Trace();
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
    FWork.reset();
    if (restore && recorded)
        document.restitue();
}
