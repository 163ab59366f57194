// The picture holder widget.

#include "PictureView.h"

#include "Bitmap.h"
#include "BitmapView.h"
#include "Canvas.h"

#include <QPainter>

TPictureView::TPictureView(QWidget* parent) : QWidget(parent) {}

TPictureView::~TPictureView()
{
    SetGraphic(nullptr);
}

void TPictureView::SetGraphic(TGraphic* graphic)
{
    if (graphic == FGraphic)
        return;
    if (FGraphic)
        FGraphic->OnChange = std::move(FPreviousHandler);
    FPreviousHandler = nullptr;
    FGraphic = graphic;
    if (FGraphic) {
        FPreviousHandler = FGraphic->OnChange;
        FGraphic->OnChange = [this](TGraphic& changed) {
            if (FPreviousHandler)
                FPreviousHandler(changed);
            update();
        };
    }
    updateGeometry();
    update();
}

void TPictureView::SetStretch(bool value)
{
    if (value != FStretch) {
        FStretch = value;
        update();
    }
}

QSize TPictureView::sizeHint() const
{
    if (!FGraphic || FGraphic->Empty())
        return QSize(0, 0);
    return QSize(FGraphic->Width(), FGraphic->Height());
}

void TPictureView::PaintTo(TBitmap& bitmap)
{
    bitmap.SetSize(width(), height());
    const QColor back = palette().color(backgroundRole());
    TCanvas& canvas = bitmap.Canvas();
    canvas.Brush.Color = RGB(back.red(), back.green(), back.blue());
    canvas.Brush.Style = bsSolid;
    canvas.FillRect(TRect{0, 0, width(), height()});
    if (!FGraphic || FGraphic->Empty())
        return;
    const TRect target = FStretch ? TRect{0, 0, width(), height()} : TRect{0, 0, FGraphic->Width(), FGraphic->Height()};
    FGraphic->Draw(canvas, target);
}

void TPictureView::paintEvent(QPaintEvent*)
{
    ++FPaints;
    TBitmap screen(std::max(width(), 1), std::max(height(), 1), pf24bit);
    try {
        PaintTo(screen);
    } catch (...) {
        // A picture that cannot draw itself leaves the background.
    }
    QPainter painter(this);
    painter.drawImage(0, 0, WrapBitmap(screen));
}
