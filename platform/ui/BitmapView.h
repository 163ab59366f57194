#pragma once
// Showing a TBitmap on screen without copying its pixels.

#include "Bitmap.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <memory>

// A QImage over the bitmap's own rows: 24-bit bitmaps as Format_BGR888,
// 32-bit ones as Format_RGB32, with the bitmap's row stride. The image is
// read-only and stays valid while the bitmap keeps its size and format; a
// null image for every other format and for an empty bitmap.
QImage WrapBitmap(const TBitmap& bitmap);

// The size a picture of `pixels` pixels takes at a zoom step: n >= 0 shows
// n + 1 screen pixels a picture pixel, n < 0 one screen pixel for |n| + 1
// picture pixels; reduced sizes are rounded half to even.
std::int64_t ZoomedSize(int pixels, int zoom);

// Paints a bitmap at a zoom step, nearest neighbour, no smoothing. The view
// does not own the bitmap: whoever changes it calls update(), and calls
// SetBitmap again (or UpdateGeometry) when its size changes. 24-bit and
// 32-bit bitmaps are painted straight from their rows; other formats go
// through a 24-bit copy made at each paint.
class TBitmapView : public QWidget {
public:
    explicit TBitmapView(QWidget* parent = nullptr);

    const TBitmap* Bitmap() const { return FBitmap; }
    void SetBitmap(const TBitmap* bitmap);
    int Zoom() const { return FZoom; }
    void SetZoom(int zoom);
    // The displayed size at the current zoom step, within what a widget can
    // be; the widget takes it.
    QSize DisplaySize() const;
    void UpdateGeometry();

    QSize sizeHint() const override { return DisplaySize(); }

    // The image a paint uses: shares the bitmap's rows where it can.
    QImage PaintImage();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    const TBitmap* FBitmap = nullptr;
    int FZoom = 0;
    std::unique_ptr<TBitmap> FConverted;
};
