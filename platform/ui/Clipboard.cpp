#include "Clipboard.h"

#include "BitmapView.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "Picture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include <cstring>

std::unique_ptr<TBitmap> BitmapFromImage(const QImage& image)
{
    if (image.isNull())
        return nullptr;
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

bool TQtClipboard::HasBitmap()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    return data && (data->hasImage() || HasRegisteredPicture(*data));
}

std::unique_ptr<TBitmap> TQtClipboard::GetBitmap()
{
    const QMimeData* data = QGuiApplication::clipboard()->mimeData();
    if (!data)
        return nullptr;
    // A GIF stream is read by our own codec; Qt's image form is the fallback.
    if (std::unique_ptr<TBitmap> picture = RegisteredPicture(*data))
        return picture;
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

// ---------------------------------------------------------------------------
// Registered formats beside the bitmap

namespace {

// Registered formats that travel under a MIME type as well.
struct TMimeOfFormat {
    const char* Name;
    const char* Mime;
};
const TMimeOfFormat MimeTypes[] = {{"GIF Image", "image/gif"}};

} // namespace

bool HasRegisteredPicture(const QMimeData& data)
{
    for (const TMimeOfFormat& m : MimeTypes)
        if (data.hasFormat(m.Mime) && TPicture::FindClipboardClass(RegisterClipboardFormat(m.Name)))
            return true;
    return false;
}

std::unique_ptr<TBitmap> RegisteredPicture(const QMimeData& data)
{
    for (const TMimeOfFormat& m : MimeTypes) {
        if (!data.hasFormat(m.Mime))
            continue;
        const TClipboardFormat format = RegisterClipboardFormat(m.Name);
        TGraphicClass cls = TPicture::FindClipboardClass(format);
        if (!cls)
            continue;
        const QByteArray bytes = data.data(m.Mime);
        try {
            std::unique_ptr<TGraphic> graphic = cls->Create();
            graphic->LoadFromClipboardFormat(format, TClipboardData(bytes.begin(), bytes.end()), {});
            auto bitmap = std::make_unique<TBitmap>(graphic->Width(), graphic->Height(), pf24bit);
            if (bitmap->Empty())
                continue;
            bitmap->Canvas().Draw(0, 0, *graphic);
            return bitmap;
        } catch (const Exception&) {
            continue;
        }
    }
    return nullptr;
}

std::string ClipboardMimeType(const std::string& formatName)
{
    for (const TMimeOfFormat& m : MimeTypes)
        if (formatName == m.Name)
            return m.Mime;
    return {};
}

bool PlaceClipboardFormat(TClipboardFormat format, const TClipboardData& data)
{
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    const std::string name = ClipboardFormatName(format);
    if (name.empty())
        return false;
    // What the clipboard holds stays beside the new format.
    auto* merged = new QMimeData;
    if (const QMimeData* current = clipboard->mimeData()) {
        for (const QString& f : current->formats())
            merged->setData(f, current->data(f));
        if (current->hasImage())
            merged->setImageData(current->imageData());
    }
    const QByteArray bytes(reinterpret_cast<const char*>(data.data()), static_cast<qsizetype>(data.size()));
    merged->setData(QString::fromStdString(name), bytes);
    const std::string mime = ClipboardMimeType(name);
    if (!mime.empty())
        merged->setData(QString::fromStdString(mime), bytes);
    clipboard->setMimeData(merged);
    return true;
}
