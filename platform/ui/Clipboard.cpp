#include "Clipboard.h"

#include "BitmapView.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <cstring>

namespace {

// A picture with transparency laid on white, the way an opened PNG or GIF
// is drawn into its document: each colour mixed with white by its own alpha.
std::unique_ptr<TBitmap> BitmapOnWhite(const QImage& image)
{
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    auto bitmap = std::make_unique<TBitmap>(argb.width(), argb.height(), pf24bit);
    for (int y = 0; y < argb.height(); ++y) {
        const auto* source = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        std::uint8_t* dest = bitmap->ScanLine(y);
        for (int x = 0; x < argb.width(); ++x, dest += 3) {
            const int a = qAlpha(source[x]);
            auto mix = [a](int c) { return static_cast<std::uint8_t>((a * c + (255 - a) * 255 + 255) >> 8); };
            dest[0] = mix(qBlue(source[x]));
            dest[1] = mix(qGreen(source[x]));
            dest[2] = mix(qRed(source[x]));
        }
    }
    return bitmap;
}

} // namespace

std::unique_ptr<TBitmap> BitmapFromImage(const QImage& image)
{
    if (image.isNull())
        return nullptr;
    if (image.hasAlphaChannel())
        return BitmapOnWhite(image);
    const QImage rgb = image.convertToFormat(QImage::Format_BGR888);
    auto bitmap = std::make_unique<TBitmap>(rgb.width(), rgb.height(), pf24bit);
    const std::size_t rowBytes = static_cast<std::size_t>(rgb.width()) * 3;
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(bitmap->ScanLine(y), rgb.constScanLine(y), rowBytes);
    return bitmap;
}

QImage ImageFromBitmap(const TBitmap& bitmap)
{
    if (bitmap.Empty())
        return QImage();
    if (bitmap.PixelFormat() == pf24bit)
        return WrapBitmap(bitmap).copy();
    TBitmap copy;
    copy.Assign(bitmap);
    copy.SetPixelFormat(pf24bit);
    return WrapBitmap(copy).copy();
}

namespace {

const QString PngMime = QStringLiteral("image/png");

} // namespace

bool TQtClipboard::HasBitmap()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && (data->hasImage() || data->hasFormat(PngMime));
}

std::unique_ptr<TBitmap> TQtClipboard::GetBitmap()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data)
        return nullptr;
    // Other programs offer PNG, which keeps transparency; Qt's own image
    // form is the fallback.
    if (data->hasFormat(PngMime)) {
        const QImage png = QImage::fromData(data->data(PngMime), "PNG");
        if (!png.isNull())
            return BitmapFromImage(png);
    }
    if (!data->hasImage())
        return nullptr;
    return BitmapFromImage(QGuiApplication::clipboard()->image());
}

void TQtClipboard::SetBitmap(const TBitmap& bitmap)
{
    QGuiApplication::clipboard()->setImage(ImageFromBitmap(bitmap));
}

void TQtClipboard::Clear()
{
    QGuiApplication::clipboard()->clear();
}

std::unique_ptr<TBitmap> TMemoryClipboard::GetBitmap()
{
    if (!FBitmap)
        return nullptr;
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(*FBitmap);
    copy->SetPixelFormat(pf24bit);
    return copy;
}

void TMemoryClipboard::SetBitmap(const TBitmap& bitmap)
{
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(bitmap);
    FBitmap = std::move(copy);
}
