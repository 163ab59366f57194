#include "ChildWin.h"

#include "Application.h"
#include "BitmapView.h"
#include "Canvas.h"
#include "PictureView.h"
#include "Numeric.h"
#include "ui_MDIChild.h"

#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

TMDIChild::TMDIChild(TEditorFrame& frame, std::unique_ptr<TDocument> document, QWidget* parent)
    : QWidget(parent), FUi(std::make_unique<Ui::MDIChild>()), FFrame(frame), FDocument(std::move(document))
{
    FUi->setupUi(this);
    FUi->SB->setBackgroundRole(QPalette::Dark);
    FUi->IM->installEventFilter(this);
    FUi->SB->viewport()->installEventFilter(this);
    FDocument->View = this;
    FUi->IM->SetBitmap(&FDocument->Picture());
}

TMDIChild::~TMDIChild()
{
    ShowGraphic(nullptr);
    if (FDocument)
        FDocument->View = nullptr;
    // The view lets go of the picture before the document goes.
    FUi->IM->SetBitmap(nullptr);
}

QScrollArea* TMDIChild::SB() const
{
    return FUi->SB;
}

TBitmapView* TMDIChild::IM() const
{
    return FUi->IM;
}

QMdiSubWindow* TMDIChild::SubWindow() const
{
    return qobject_cast<QMdiSubWindow*>(parentWidget());
}

void TMDIChild::Focus()
{
    if (QMdiSubWindow* sub = SubWindow()) {
        if (QMdiArea* area = sub->mdiArea())
            area->setActiveSubWindow(sub);
        sub->raise();
    }
    setFocus();
}

bool TMDIChild::Close()
{
    if (QMdiSubWindow* sub = SubWindow())
        return sub->close();
    return close();
}

void TMDIChild::closeEvent(QCloseEvent* event)
{
    if (FClosed) {
        event->accept();
        return;
    }
    bool mayClose = false;
    try {
        mayClose = FFrame.DocumentCloseQuery(*FDocument);
    } catch (...) {
        // A failed save keeps the window and its changes.
        CloseConfirmed = false;
        mayClose = false;
        if (Application)
            Application->HandleException();
    }
    if (!mayClose) {
        event->ignore();
        return;
    }
    FClosed = true;
    FFrame.DocumentClosed(*FDocument);
    event->accept();
}

void TMDIChild::Redisplay(int centerXPercent, int centerYPercent)
{
    TBitmapView* im = FUi->IM;
    im->SetBitmap(&ShownPicture());
    im->SetZoom(FDocument->Zoom);
    const QSize shown = im->DisplaySize();

    QMdiSubWindow* sub = SubWindow();
    QMdiArea* area = sub ? sub->mdiArea() : nullptr;
    if (sub && area && !sub->isMaximized() && !sub->isMinimized()) {
        const QSize room = area->viewport()->size();
        const TPoint client =
            DocumentClientSize(shown.width(), shown.height(), room.width(), room.height(), sub->x(), sub->y());
        const QSize frame = sub->size() - size();
        sub->resize(frame + QSize(client.X, client.Y));
    }

    if (centerXPercent > 0 && centerYPercent > 0) {
        QScrollArea* sb = FUi->SB;
        const QSize view = sb->viewport()->size();
        // The point goes to half the scroll box's size (scroll bar included).
        auto scroll = [](QScrollBar* bar, int picture, int viewSize, int boxSize, int percent) {
            if (viewSize >= picture)
                return;
            const int range = picture - viewSize;
            bar->setRange(0, range);
            const long long target = Round(static_cast<Extended>(picture) * percent / 100) - boxSize / 2;
            bar->setValue(static_cast<int>(std::min<long long>(range, std::max(0LL, target))));
        };
        scroll(sb->horizontalScrollBar(), shown.width(), view.width(), sb->width(), centerXPercent);
        scroll(sb->verticalScrollBar(), shown.height(), view.height(), sb->height(), centerYPercent);
    }
    im->update();
}

void TMDIChild::Repaint()
{
    FUi->IM->update();
}

const TBitmap& TMDIChild::ShownPicture() const
{
    return FShownBitmap ? *FShownBitmap : FDocument->Picture();
}

void TMDIChild::ShowGraphic(TGraphic* graphic)
{
    if (graphic == FShown.Graphic())
        return;
    // Redrawn from the event loop, once for a burst of changes.
    FShown.Watch(graphic, [this] {
        if (!FRedrawQueued) {
            FRedrawQueued = true;
            QMetaObject::invokeMethod(this, [this] { RedrawShown(); }, Qt::QueuedConnection);
        }
    });
    if (TGraphic* shown = FShown.Graphic()) {
        FShownBitmap = std::make_unique<TBitmap>(std::max(shown->Width(), 1), std::max(shown->Height(), 1));
        RedrawShown();
    } else {
        FUi->IM->SetBitmap(&FDocument->Picture());
        FShownBitmap.reset();
        FUi->IM->update();
    }
}

void TMDIChild::RedrawShown()
{
    FRedrawQueued = false;
    TGraphic* shown = FShown.Graphic();
    if (!shown || !FShownBitmap)
        return;
    TCanvas& canvas = FShownBitmap->Canvas();
    canvas.Brush.Color = clWhite;
    canvas.Brush.Style = bsSolid;
    canvas.FillRect(TRect{0, 0, FShownBitmap->Width(), FShownBitmap->Height()});
    try {
        shown->Draw(canvas, TRect{0, 0, FShownBitmap->Width(), FShownBitmap->Height()});
    } catch (...) {
        // A graphic that cannot draw itself leaves white; redrawn at its
        // next change.
    }
    FUi->IM->SetBitmap(FShownBitmap.get());
    FUi->IM->update();
}

void TMDIChild::CaptionChanged()
{
    setWindowTitle(QString::fromStdString(FDocument->Caption()));
}

bool TMDIChild::eventFilter(QObject* watched, QEvent* event)
{
    try {
        if (watched == FUi->IM) {
            switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonDblClick: { // the second press of a double click
                const auto* e = static_cast<QMouseEvent*>(event);
                const QPoint p = e->position().toPoint();
                FDocument->MouseDown(p.x(), p.y());
                return true;
            }
            case QEvent::MouseMove: {
                const auto* e = static_cast<QMouseEvent*>(event);
                const QPoint p = e->position().toPoint();
                const bool over = FDocument->MouseMove(p.x(), p.y(), (e->buttons() & Qt::LeftButton) != 0);
                FUi->IM->setCursor(over ? Qt::SizeAllCursor : Qt::CrossCursor);
                return true;
            }
            case QEvent::MouseButtonRelease: {
                const auto* e = static_cast<QMouseEvent*>(event);
                const QPoint p = e->position().toPoint();
                FDocument->MouseUp(p.x(), p.y());
                return true;
            }
            default:
                break;
            }
        } else if (watched == FUi->SB->viewport() && event->type() == QEvent::Wheel) {
            // The wheel zooms, one step a notch, around the pointer. A window
            // behind the active one comes to the front first, so that the
            // frame's commands and panels describe the window that changes.
            const auto* e = static_cast<QWheelEvent*>(event);
            if (QMdiSubWindow* sub = SubWindow(); sub && sub->mdiArea() && sub->mdiArea()->currentSubWindow() != sub)
                Focus();
            FWheelRest += e->angleDelta().y();
            while (FWheelRest >= 120 || FWheelRest <= -120) {
                const int direction = FWheelRest > 0 ? 1 : -1;
                FWheelRest -= direction * 120;
                FDocument->MouseWheel(direction);
            }
            return true;
        }
    } catch (...) {
        if (Application)
            Application->HandleException();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
