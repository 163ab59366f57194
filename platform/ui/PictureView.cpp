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

void TGraphicWatch::Watch(TGraphic* graphic, std::function<void()> changed)
{
    if (FGraphic)
        FGraphic->OnChange = std::move(FPrevious);
    FPrevious = nullptr;
    FGraphic = graphic;
    FChanged = std::move(changed);
    if (FGraphic) {
        FPrevious = FGraphic->OnChange;
        FGraphic->OnChange = [this](TGraphic& g) {
            if (FPrevious)
                FPrevious(g);
            if (FChanged)
                FChanged();
        };
    }
}

void TPictureView::SetGraphic(TGraphic* graphic)
{
    if (graphic == FWatch.Graphic())
        return;
    FWatch.Watch(graphic, [this] { update(); });
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
    const TGraphic* graphic = FWatch.Graphic();
    if (!graphic || graphic->Empty())
        return QSize(0, 0);
    return QSize(graphic->Width(), graphic->Height());
}

void TPictureView::PaintTo(TBitmap& bitmap)
{
    bitmap.SetSize(width(), height());
    const QColor back = palette().color(backgroundRole());
    TCanvas& canvas = bitmap.Canvas();
    canvas.Brush.Color = RGB(back.red(), back.green(), back.blue());
    canvas.Brush.Style = bsSolid;
    canvas.FillRect(TRect{0, 0, width(), height()});
    TGraphic* graphic = FWatch.Graphic();
    if (!graphic || graphic->Empty())
        return;
    const TRect target = FStretch ? TRect{0, 0, width(), height()} : TRect{0, 0, graphic->Width(), graphic->Height()};
    graphic->Draw(canvas, target);
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
