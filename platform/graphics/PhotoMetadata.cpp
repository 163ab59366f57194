#include "PhotoMetadata.h"

#include "AtomicFile.h"
#include "Bitmap.h"
#include "Jpeg.h"
#include "Streams.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <climits>
#include <cstddef>
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

namespace {

// Copies the pixels of an orientation: the stored pixel that lands at (x, y)
// of the upright picture is origin(y) + x * step, a walk along a stored row
// or column. The picture goes in square tiles so that a quarter turn reads
// and writes memory near what it just used.
template <std::size_t N>
void CopyOriented(const TBitmap& source, TBitmap& dest, int orientation)
{
    const int w = source.Width();
    const int h = source.Height();
    const int ow = dest.Width();
    const int oh = dest.Height();
    const std::uint8_t* first = source.ScanLine(0);
    const std::ptrdiff_t stride = h > 1 ? source.ScanLine(1) - first : 0;
    const auto n = static_cast<std::ptrdiff_t>(N);
    auto at = [&](int x, int y) { return first + static_cast<std::ptrdiff_t>(y) * stride + x * n; };
    std::ptrdiff_t step = 0;
    switch (orientation) {
    case 2: case 3: step = -n; break;
    case 4: step = n; break;
    case 5: case 8: step = stride; break;
    default: step = -stride; break; // 6, 7
    }
    auto origin = [&](int y) {
        switch (orientation) {
        case 2: return at(w - 1, y);
        case 3: return at(w - 1, h - 1 - y);
        case 4: return at(0, h - 1 - y);
        case 5: return at(y, 0);
        case 6: return at(y, h - 1);
        case 7: return at(w - 1 - y, h - 1);
        default: return at(w - 1 - y, 0); // 8
        }
    };
    constexpr int Tile = 64;
    for (int ty = 0; ty < oh; ty += Tile) {
        const int yEnd = std::min(oh, ty + Tile);
        for (int tx = 0; tx < ow; tx += Tile) {
            const int xEnd = std::min(ow, tx + Tile);
            for (int y = ty; y < yEnd; ++y) {
                const std::uint8_t* src = origin(y) + tx * step;
                std::uint8_t* out = dest.ScanLine(y) + static_cast<std::ptrdiff_t>(tx) * n;
                for (int x = tx; x < xEnd; ++x, src += step, out += n)
                    for (std::size_t i = 0; i < N; ++i)
                        out[i] = src[i];
            }
        }
    }
}

} // namespace

void OrientBitmap(TBitmap& bitmap, int orientation)
{
    if (orientation < 2 || orientation > 8 || bitmap.Empty())
        return;
    if (bitmap.BitsPerPixel() < 8 || bitmap.BitsPerPixel() % 8 != 0 || bitmap.BitsPerPixel() > 32)
        bitmap.SetPixelFormat(pf24bit);
    const bool swap = OrientationSwapsSides(orientation);
    TBitmap turned(swap ? bitmap.Height() : bitmap.Width(), swap ? bitmap.Width() : bitmap.Height(),
                   bitmap.PixelFormat());
    if (!bitmap.GetPalette().empty())
        turned.SetPalette(bitmap.GetPalette());
    switch (bitmap.BitsPerPixel()) {
    case 8: CopyOriented<1>(bitmap, turned, orientation); break;
    case 16: CopyOriented<2>(bitmap, turned, orientation); break;
    case 24: CopyOriented<3>(bitmap, turned, orientation); break;
    default: CopyOriented<4>(bitmap, turned, orientation); break;
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

std::shared_ptr<const TPhotoMetadata> TPhotoMetadata::FromImage(Exiv2::Image* image)
{
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
}

std::shared_ptr<const TPhotoMetadata> TPhotoMetadata::FromJpeg(const std::uint8_t* data, std::size_t size)
{
    try {
        return FromImage(OpenJpeg(data, size).get());
    } catch (...) {
        return nullptr;
    }
}

std::shared_ptr<const TPhotoMetadata> TPhotoMetadata::FromFile(const std::string& path)
{
    try {
        InitExiv2();
        TImagePtr image(Exiv2::ImageFactory::open(path, false).release());
        if (!image || image->imageType() != Exiv2::ImageType::jpeg)
            return nullptr;
        image->readMetadata();
        return FromImage(image.get());
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
