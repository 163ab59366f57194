#include "PhotoMetadata.h"

#include "AtomicFile.h"
#include "Bitmap.h"
#include "Jpeg.h"
#include "Streams.h"

#include <exiv2/exiv2.hpp>

#include <climits>
#include <cstring>
#include <exception>
#include <mutex>
#include <type_traits>

namespace {

// Exiv2's XMP toolkit is set up once for the process, with a lock so that
// threads converting pictures side by side may use it; Exiv2 itself writes
// nothing to the terminal.
std::mutex XmpMutex;

void XmpLock(void* data, bool lock)
{
    auto* mutex = static_cast<std::mutex*>(data);
    if (lock)
        mutex->lock();
    else
        mutex->unlock();
}

void InitExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(XmpLock, &XmpMutex);
    });
}

using TImagePtr = std::unique_ptr<Exiv2::Image>;

// The metadata of a JPEG file in memory, read; null when Exiv2 cannot.
TImagePtr OpenJpeg(const std::uint8_t* data, std::size_t size)
{
    InitExiv2();
    if (!data || size < 4 || size > static_cast<std::size_t>(LONG_MAX))
        return nullptr;
    TImagePtr image(Exiv2::ImageFactory::open(data, static_cast<long>(size)).release());
    if (!image || image->imageType() != Exiv2::ImageType::jpeg)
        return nullptr;
    image->readMetadata();
    return image;
}

// Gives a value to a key that is there; a key that is not stays absent.
template <typename Data, typename Value>
void UpdateIfPresent(Data& data, const char* key, const Value& value)
{
    using Key = std::conditional_t<std::is_same_v<Data, Exiv2::ExifData>, Exiv2::ExifKey, Exiv2::XmpKey>;
    if (data.findKey(Key(key)) != data.end())
        data[key] = value;
}

} // namespace

// ---------------------------------------------------------------------------

int JpegOrientation(const std::uint8_t* data, std::size_t size)
{
    try {
        TImagePtr image = OpenJpeg(data, size);
        if (!image)
            return 1;
        const Exiv2::ExifData& exif = image->exifData();
        const auto it = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (it == exif.end() || it->count() < 1)
            return 1;
        const long value = it->toLong(0);
        return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
    } catch (...) {
        // Unreadable metadata says nothing about the pixels.
        return 1;
    }
}

bool OrientationSwapsSides(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

void OrientBitmap(TBitmap& bitmap, int orientation)
{
    if (orientation < 2 || orientation > 8 || bitmap.Empty())
        return;
    if (bitmap.BitsPerPixel() < 8 || bitmap.BitsPerPixel() % 8 != 0)
        bitmap.SetPixelFormat(pf24bit);
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    const std::size_t bpp = static_cast<std::size_t>(bitmap.BitsPerPixel() / 8);
    const bool swap = OrientationSwapsSides(orientation);
    const int ow = swap ? h : w;
    const int oh = swap ? w : h;

    TBitmap turned(ow, oh, bitmap.PixelFormat());
    if (!bitmap.GetPalette().empty())
        turned.SetPalette(bitmap.GetPalette());
    for (int y = 0; y < oh; ++y) {
        std::uint8_t* out = turned.ScanLine(y);
        // The stored pixel that lands at (x, y) of the upright picture is
        // (sx0 + x * dx, sy0 + x * dy): a walk along a stored row or column.
        int sx0 = 0, sy0 = 0, dx = 0, dy = 0;
        switch (orientation) {
        case 2: sx0 = w - 1, sy0 = y, dx = -1; break;
        case 3: sx0 = w - 1, sy0 = h - 1 - y, dx = -1; break;
        case 4: sx0 = 0, sy0 = h - 1 - y, dx = 1; break;
        case 5: sx0 = y, sy0 = 0, dy = 1; break;
        case 6: sx0 = y, sy0 = h - 1, dy = -1; break;
        case 7: sx0 = w - 1 - y, sy0 = h - 1, dy = -1; break;
        case 8: sx0 = w - 1 - y, sy0 = 0, dy = 1; break;
        default: break;
        }
        if (dy == 0) {
            const std::uint8_t* row = bitmap.ScanLine(sy0);
            for (int x = 0; x < ow; ++x)
                std::memcpy(out + static_cast<std::size_t>(x) * bpp,
                            row + static_cast<std::size_t>(sx0 + x * dx) * bpp, bpp);
        } else {
            const std::uint8_t* base = bitmap.ScanLine(0) + static_cast<std::size_t>(sx0) * bpp;
            const std::ptrdiff_t stride = bitmap.ScanLine(h > 1 ? 1 : 0) - bitmap.ScanLine(0);
            const std::uint8_t* src = base + static_cast<std::ptrdiff_t>(sy0) * stride;
            for (int x = 0; x < ow; ++x, src += dy * stride)
                std::memcpy(out + static_cast<std::size_t>(x) * bpp, src, bpp);
        }
    }
    bitmap = std::move(turned);
}

// ---------------------------------------------------------------------------

struct TPhotoMetadata::TData {
    Exiv2::ExifData Exif;
    Exiv2::IptcData Iptc;
    Exiv2::XmpData Xmp;
    std::vector<std::uint8_t> Icc;
    std::string Comment;
};

TPhotoMetadata::TPhotoMetadata(std::unique_ptr<TData> data) : F(std::move(data)) {}
TPhotoMetadata::~TPhotoMetadata() = default;

std::shared_ptr<const TPhotoMetadata> TPhotoMetadata::FromJpeg(const std::uint8_t* data, std::size_t size)
{
    try {
        TImagePtr image = OpenJpeg(data, size);
        if (!image)
            return nullptr;
        auto d = std::make_unique<TData>();
        d->Exif = image->exifData();
        d->Iptc = image->iptcData();
        d->Xmp = image->xmpData();
        if (image->iccProfileDefined()) {
            const Exiv2::DataBuf* icc = image->iccProfile();
            d->Icc.assign(icc->pData_, icc->pData_ + icc->size_);
        }
        d->Comment = image->comment();
        if (d->Exif.empty() && d->Iptc.empty() && d->Xmp.empty() && d->Icc.empty() && d->Comment.empty())
            return nullptr;
        return std::shared_ptr<const TPhotoMetadata>(new TPhotoMetadata(std::move(d)));
    } catch (...) {
        return nullptr;
    }
}

std::shared_ptr<const TPhotoMetadata> TPhotoMetadata::Of(const TGraphic* graphic)
{
    const auto* jpeg = dynamic_cast<const TJPEGImage*>(graphic);
    if (!jpeg || !jpeg->DataLoaded())
        return nullptr;
    return FromJpeg(jpeg->Data().data(), jpeg->Data().size());
}

std::vector<std::uint8_t> TPhotoMetadata::ApplyTo(const std::vector<std::uint8_t>& jpeg, int width, int height) const
{
    // A maker note Exiv2 cannot write again costs only that note: the rest
    // goes in without it.
    for (const bool makerNote : {true, false}) {
        try {
            return Write(jpeg, width, height, makerNote);
        } catch (...) {
        }
    }
    return jpeg;
}

std::vector<std::uint8_t> TPhotoMetadata::Write(const std::vector<std::uint8_t>& jpeg, int width, int height,
                                                bool makerNote) const
{
    TImagePtr image = OpenJpeg(jpeg.data(), jpeg.size());
    if (!image)
        return jpeg;

    // The pixels are upright and new: the old thumbnail would show the
    // picture as it was.
    Exiv2::ExifData exif = F->Exif;
    Exiv2::ExifThumb(exif).erase();
    if (!makerNote) {
        for (auto it = exif.begin(); it != exif.end();) {
            if (Exiv2::ExifTags::isMakerGroup(it->groupName()) || it->key() == "Exif.Photo.MakerNote")
                it = exif.erase(it);
            else
                ++it;
        }
    }
    const auto w = static_cast<std::uint32_t>(width);
    const auto h = static_cast<std::uint32_t>(height);
    UpdateIfPresent(exif, "Exif.Image.Orientation", static_cast<std::uint16_t>(1));
    UpdateIfPresent(exif, "Exif.Photo.PixelXDimension", w);
    UpdateIfPresent(exif, "Exif.Photo.PixelYDimension", h);
    UpdateIfPresent(exif, "Exif.Image.ImageWidth", w);
    UpdateIfPresent(exif, "Exif.Image.ImageLength", h);

    Exiv2::XmpData xmp = F->Xmp;
    for (auto it = xmp.begin(); it != xmp.end();) {
        if (it->key().rfind("Xmp.xmp.Thumbnails", 0) == 0)
            it = xmp.erase(it);
        else
            ++it;
    }
    UpdateIfPresent(xmp, "Xmp.tiff.Orientation", std::string("1"));
    UpdateIfPresent(xmp, "Xmp.exif.PixelXDimension", std::to_string(w));
    UpdateIfPresent(xmp, "Xmp.exif.PixelYDimension", std::to_string(h));
    UpdateIfPresent(xmp, "Xmp.tiff.ImageWidth", std::to_string(w));
    UpdateIfPresent(xmp, "Xmp.tiff.ImageLength", std::to_string(h));

    image->setExifData(exif);
    image->setIptcData(F->Iptc);
    image->setXmpData(xmp);
    if (!F->Icc.empty()) {
        Exiv2::DataBuf icc(F->Icc.data(), static_cast<long>(F->Icc.size()));
        image->setIccProfile(icc, false);
    }
    if (!F->Comment.empty())
        image->setComment(F->Comment);
    image->writeMetadata();

    Exiv2::BasicIo& io = image->io();
    if (io.open() != 0)
        return jpeg;
    io.seek(0, Exiv2::BasicIo::beg);
    const Exiv2::DataBuf buffer = io.read(static_cast<long>(io.size()));
    io.close();
    if (buffer.size_ <= 0)
        return jpeg;
    return std::vector<std::uint8_t>(buffer.pData_, buffer.pData_ + buffer.size_);
}

void SaveJpegFile(const TJPEGImage& jpeg, const TPhotoMetadata* metadata, const std::string& path)
{
    jpeg.JPEGNeeded();
    if (!metadata) {
        jpeg.SaveToFile(path);
        return;
    }
    const std::vector<std::uint8_t> bytes = metadata->ApplyTo(jpeg.Data(), jpeg.Width(), jpeg.Height());
    AtomicWriteFile(path, [&bytes](TStream& stream) { stream.WriteBuffer(bytes.data(), bytes.size()); });
}
