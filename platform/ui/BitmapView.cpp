#include "BitmapView.h"

#include "Numeric.h"

#include <QPaintEvent>
#include <QPainter>

#include <algorithm>
#include <cstdlib>

QImage WrapBitmap(const TBitmap& bitmap)
{
    if (bitmap.Empty())
        return QImage();
    QImage::Format format;
    switch (bitmap.PixelFormat()) {
    case pf24bit:
        format = QImage::Format_BGR888;
        break;
    case pf32bit:
        format = QImage::Format_RGB32;
        break;
    default:
        return QImage();
    }
    // The const constructor keeps the image read-only: Qt never writes into
    // the bitmap's rows, and a writing access on the image would copy.
    return QImage(bitmap.ScanLine(0), bitmap.Width(), bitmap.Height(),
                  static_cast<qsizetype>(bitmap.RowStride()), format);
}

std::int64_t ZoomedSize(int pixels, int zoom)
{
    if (zoom >= 0)
        return static_cast<std::int64_t>(pixels) * (static_cast<std::int64_t>(zoom) + 1);
    // The factor is held in single precision, the product taken wider.
    const float f = StoreSingle(1.0L / (std::llabs(static_cast<long long>(zoom)) + 1));
    return Round(static_cast<Extended>(pixels) * static_cast<Extended>(f));
}

TBitmapView::TBitmapView(QWidget* parent) : QWidget(parent)
{
    // The view paints every pixel of its area itself.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TBitmapView::SetBitmap(const TBitmap* bitmap)
{
    FBitmap = bitmap;
    FConverted.reset();
    UpdateGeometry();
}

void TBitmapView::SetZoom(int zoom)
{
    FZoom = zoom;
    UpdateGeometry();
}

QSize TBitmapView::DisplaySize() const
{
    if (!FBitmap)
        return QSize(0, 0);
    auto limit = [](std::int64_t v) {
        return static_cast<int>(std::clamp<std::int64_t>(v, 0, QWIDGETSIZE_MAX));
    };
    return QSize(limit(ZoomedSize(FBitmap->Width(), FZoom)), limit(ZoomedSize(FBitmap->Height(), FZoom)));
}

void TBitmapView::UpdateGeometry()
{
    const QSize size = DisplaySize();
    setFixedSize(size);
    updateGeometry();
    update();
}

QImage TBitmapView::PaintImage()
{
    if (!FBitmap || FBitmap->Empty())
        return QImage();
    QImage image = WrapBitmap(*FBitmap);
    if (!image.isNull())
        return image;
    // Palette and 16-bit formats: a 24-bit copy, current at every paint.
    if (!FConverted)
        FConverted = std::make_unique<TBitmap>();
    FConverted->Assign(*FBitmap);
    FConverted->SetPixelFormat(pf24bit);
    return WrapBitmap(*FConverted);
}

void TBitmapView::paintEvent(QPaintEvent* event)
{
    QPainter painter(this);
    const QRect area = rect();
    QImage image;
    try {
        image = PaintImage();
    } catch (...) {
        // Only the copy of a palette picture can fail (memory). A box cannot
        // be shown from inside a paint: the area stays empty instead.
    }
    if (image.isNull() || area.isEmpty()) {
        painter.fillRect(event->rect(), palette().window());
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (FZoom >= 0) {
        // Whole picture pixels only: the exposed part, widened to the blocks
        // of screen pixels it touches. A factor past the widget size limit
        // acts as that limit.
        const std::int64_t f = std::min<std::int64_t>(static_cast<std::int64_t>(FZoom) + 1, QWIDGETSIZE_MAX);
        const QRect exposed = event->rect().intersected(area);
        const std::int64_t x0 = exposed.left() / f;
        const std::int64_t y0 = exposed.top() / f;
        const std::int64_t x1 = std::min<std::int64_t>(image.width(), (exposed.right() + f) / f);
        const std::int64_t y1 = std::min<std::int64_t>(image.height(), (exposed.bottom() + f) / f);
        if (x1 > x0 && y1 > y0) {
            const QRect source(int(x0), int(y0), int(x1 - x0), int(y1 - y0));
            const QRectF target(double(x0 * f), double(y0 * f), double((x1 - x0) * f), double((y1 - y0) * f));
            painter.drawImage(target, image, QRectF(source));
        }
    } else {
        painter.drawImage(area, image);
    }
}
