#pragma once
// TMDIChild: the document window, an MDI child of the frame. It shows its
// TDocument's picture through a bitmap view inside a scroll box and hands
// the document the pointer and wheel events; the document does the rest.

#include "Document.h"
#include "EditorFrame.h"
#include "PictureView.h"

#include <QWidget>

#include <functional>
#include <memory>

namespace Ui {
class MDIChild;
}
class QMdiSubWindow;
class QScrollArea;
class TBitmapView;

class TMDIChild : public QWidget, public IChildWindow, public IDocumentView {
public:
    TMDIChild(TEditorFrame& frame, std::unique_ptr<TDocument> document, QWidget* parent = nullptr);
    ~TMDIChild() override;

    // IChildWindow
    TDocument* Document() override { return FDocument.get(); }
    void Focus() override;
    bool Close() override;

    // IDocumentView
    void Redisplay(int centerXPercent, int centerYPercent) override;
    void Repaint() override;
    void CaptionChanged() override;

    QScrollArea* SB() const;
    TBitmapView* IM() const;
    // The sub-window that holds it in the frame's MDI area.
    QMdiSubWindow* SubWindow() const;

    // Shows graphic (not owned) instead of the document's picture, drawn
    // anew after each of its changes, so that an animated GIF plays (the
    // preview of a GIF save). Null shows the document's picture again; call
    // it before the graphic goes.
    void ShowGraphic(TGraphic* graphic);
    TGraphic* ShownGraphic() const { return FShown.Graphic(); }
    // The picture the window shows now.
    const TBitmap& ShownPicture() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::unique_ptr<Ui::MDIChild> FUi;
    TEditorFrame& FFrame;
    std::unique_ptr<TDocument> FDocument;
    int FWheelRest = 0;
    bool FClosed = false;

    void RedrawShown();
    TGraphicWatch FShown;
    std::unique_ptr<TBitmap> FShownBitmap;
    bool FRedrawQueued = false;
};
