#include "PrinterCanvas.h"

#include "Bitmap.h"
#include "BitmapView.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cstdlib>

namespace {

QColor ToQColor(TColor color)
{
    const TColor c = ColorToRGB(color);
    return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

Qt::PenStyle ToQtStyle(TPenStyle style)
{
    switch (style) {
    case psDash:
        return Qt::DashLine;
    case psDot:
        return Qt::DotLine;
    case psDashDot:
        return Qt::DashDotLine;
    case psDashDotDot:
        return Qt::DashDotDotLine;
    case psClear:
        return Qt::NoPen;
    default:
        return Qt::SolidLine;
    }
}

} // namespace

QString QtFontFamily(const std::string& name)
{
    // Arial is not on a Linux desktop; Liberation Sans has its metrics.
    if (QString::fromStdString(name).compare(QStringLiteral("Arial"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("Liberation Sans");
    return QString::fromStdString(name);
}

QFont QtFont(const TFont& font)
{
    QFont result(QtFontFamily(font.Name));
    result.setPointSize(std::max(1, font.Size));
    result.setBold(font.Bold);
    result.setItalic(font.Italic);
    return result;
}

QImage BitmapImage(const TBitmap& bitmap, TBitmap& converted)
{
    QImage image = WrapBitmap(bitmap);
    if (!image.isNull() || bitmap.Empty())
        return image;
    converted.Assign(bitmap);
    converted.SetPixelFormat(pf24bit);
    return WrapBitmap(converted);
}

TPaintCanvas::TPaintCanvas(QPainter& painter, int width, int height)
    : FPainter(&painter), FWidth(width), FHeight(height)
{
}

void TPaintCanvas::Reset(QPainter& painter, int width, int height)
{
    FPainter = &painter;
    FWidth = width;
    FHeight = height;
}

bool TPaintCanvas::PenColor(TColor& color) const
{
    switch (Pen.Mode) {
    case pmNop:
        return false;
    case pmBlack:
        color = clBlack;
        return true;
    case pmWhite:
        color = clWhite;
        return true;
    case pmNotCopy:
        color = ColorToRGB(~ColorToRGB(Pen.Color));
        return true;
    default:
        color = ColorToRGB(Pen.Color);
        return true;
    }
}

void TPaintCanvas::LineTo(int x, int y)
{
    TColor color;
    if (Pen.Style != psClear && PenColor(color)) {
        QPen pen(ToQColor(color));
        pen.setWidth(std::max(1, Pen.Width));
        pen.setStyle(ToQtStyle(Pen.Style));
        pen.setCapStyle(Qt::FlatCap);
        FPainter->save();
        FPainter->setPen(pen);
        FPainter->setRenderHint(QPainter::Antialiasing, false);
        FPainter->drawLine(PenPos.X, PenPos.Y, x, y);
        FPainter->restore();
    }
    PenPos = TPoint{x, y};
    Changed();
}

void TPaintCanvas::Rectangle(int left, int top, int right, int bottom)
{
    if (right < left)
        std::swap(left, right);
    if (bottom < top)
        std::swap(top, bottom);
    if (right == left || bottom == top)
        return;
    if (Brush.Style == bsSolid)
        FPainter->fillRect(left, top, right - left, bottom - top, ToQColor(Brush.Color));
    TColor color;
    if (Pen.Style != psClear && PenColor(color)) {
        // The outline as four bands of the pen's width inside the rectangle,
        // so that it covers the same pixels as on a bitmap.
        const int w = std::min({std::max(1, Pen.Width), right - left, bottom - top});
        const QColor c = ToQColor(color);
        FPainter->fillRect(left, top, right - left, w, c);
        FPainter->fillRect(left, bottom - w, right - left, w, c);
        FPainter->fillRect(left, top, w, bottom - top, c);
        FPainter->fillRect(right - w, top, w, bottom - top, c);
    }
    Changed();
}

void TPaintCanvas::FillRect(const TRect& r)
{
    const int left = std::min(r.Left, r.Right);
    const int top = std::min(r.Top, r.Bottom);
    const int width = std::abs(r.Right - r.Left);
    const int height = std::abs(r.Bottom - r.Top);
    if (width > 0 && height > 0 && Brush.Style == bsSolid)
        FPainter->fillRect(left, top, width, height, ToQColor(Brush.Color));
    Changed();
}

TColor TPaintCanvas::GetPixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= FWidth || y >= FHeight)
        return clInvalid;
    if (FPainter->device() && FPainter->device()->devType() == QInternal::Image) {
        const auto* image = static_cast<const QImage*>(FPainter->device());
        if (x < image->width() && y < image->height()) {
            const QRgb rgb = image->pixel(x, y);
            return RGB(qRed(rgb), qGreen(rgb), qBlue(rgb));
        }
    }
    // Nothing drawn on paper can be read back: the paper's colour.
    return clWhite;
}

void TPaintCanvas::SetPixel(int x, int y, TColor color)
{
    if (x < 0 || y < 0 || x >= FWidth || y >= FHeight)
        return;
    FPainter->fillRect(x, y, 1, 1, ToQColor(color));
    Changed();
}

void TPaintCanvas::DrawImage(const TRect& dest, const QImage& image, const TRect& srcRect)
{
    if (dest.Width() == 0 || dest.Height() == 0 || srcRect.Width() == 0 || srcRect.Height() == 0)
        return;
    // A reversed rectangle on either side mirrors along that axis.
    const bool flipX = (dest.Width() < 0) != (srcRect.Width() < 0);
    const bool flipY = (dest.Height() < 0) != (srcRect.Height() < 0);
    const QRectF target(std::min(dest.Left, dest.Right), std::min(dest.Top, dest.Bottom), std::abs(dest.Width()),
                        std::abs(dest.Height()));
    const QRectF source(std::min(srcRect.Left, srcRect.Right), std::min(srcRect.Top, srcRect.Bottom),
                        std::abs(srcRect.Width()), std::abs(srcRect.Height()));
    FPainter->save();
    FPainter->setRenderHint(QPainter::SmoothPixmapTransform, false);
    if (flipX || flipY) {
        const QPointF centre = target.center();
        FPainter->translate(centre);
        FPainter->scale(flipX ? -1.0 : 1.0, flipY ? -1.0 : 1.0);
        FPainter->translate(-centre);
    }
    FPainter->drawImage(target, image, source);
    FPainter->restore();
}

void TPaintCanvas::StretchBitmap(const TRect& dest, const TBitmap& bitmap, const TRect& srcRect, TCopyMode mode)
{
    if (bitmap.Empty())
        return;
    if (mode == cmBlackness || mode == cmWhiteness) {
        const TBrush saved = Brush;
        Brush.Color = mode == cmBlackness ? clBlack : clWhite;
        Brush.Style = bsSolid;
        FillRect(dest);
        Brush = saved;
        return;
    }
    TBitmap converted;
    QImage image = BitmapImage(bitmap, converted);
    if (mode == cmNotSrcCopy) {
        image = image.convertToFormat(QImage::Format_RGB32);
        image.invertPixels();
    }
    // The other raster operations need the destination's pixels, which a
    // printer does not give back: they draw as a plain copy.
    DrawImage(dest, image, srcRect);
    Changed();
}

void TPaintCanvas::StretchBitmapTransparent(const TRect& dest, const TBitmap& bitmap, const TRect& srcRect,
                                            TColor transparent)
{
    if (bitmap.Empty())
        return;
    TBitmap converted;
    QImage image = BitmapImage(bitmap, converted).convertToFormat(QImage::Format_ARGB32);
    const QRgb key = ToQColor(transparent).rgb() & 0x00FFFFFF;
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((row[x] & 0x00FFFFFF) == key)
                row[x] = 0;
    }
    DrawImage(dest, image, srcRect);
    Changed();
}

void TPaintCanvas::TextOut(int x, int y, const std::string& text)
{
    const QString s = QString::fromStdString(text);
    const QFont font = QtFont(Font);
    const QFontMetrics metrics(font, FPainter->device());
    if (Brush.Style == bsSolid)
        FPainter->fillRect(x, y, metrics.horizontalAdvance(s), metrics.height(), ToQColor(Brush.Color));
    FPainter->save();
    FPainter->setFont(font);
    FPainter->setPen(ToQColor(Font.Color));
    FPainter->drawText(QPointF(x, y + metrics.ascent()), s);
    FPainter->restore();
    PenPos = TPoint{x + metrics.horizontalAdvance(s), y};
    Changed();
}

int TPaintCanvas::TextWidth(const std::string& text)
{
    return QFontMetrics(QtFont(Font), FPainter->device()).horizontalAdvance(QString::fromStdString(text));
}

int TPaintCanvas::TextHeight(const std::string&)
{
    return QFontMetrics(QtFont(Font), FPainter->device()).height();
}

TRect TPaintCanvas::ClipRect() const
{
    return Rect(0, 0, FWidth, FHeight);
}
