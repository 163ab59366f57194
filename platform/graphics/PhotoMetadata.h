#pragma once
// What a camera records beside the pixels of a JPEG photo (EXIF, IPTC and
// XMP, the colour profile and the comment), read and written through
// Exiv2, and the EXIF orientation that says how the stored pixels must be
// turned to stand upright.
//
// Pictures are turned upright when they are loaded, so a photo saved again,
// or a copy made of it, keeps its metadata with the orientation set to
// normal, no embedded thumbnail (it would show the old pixels) and the pixel
// sizes of the new picture.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TBitmap;
class TGraphic;
class TJPEGImage;
namespace Exiv2 {
class Image;
}

// The EXIF orientation of a JPEG file: 1 (upright) to 8; 1 when the file
// has none, an unknown value or unreadable metadata.
//   1 upright          2 mirrored left-right   3 turned half a turn
//   4 mirrored top-bottom                      5 mirrored along the diagonal
//   6 to turn a quarter clockwise              7 mirrored along the other diagonal
//   8 to turn a quarter counter-clockwise
int JpegOrientation(const std::uint8_t* data, std::size_t size);

// True for the orientations whose upright picture has width and height
// exchanged (5 to 8).
bool OrientationSwapsSides(int orientation);

// Turns and mirrors a bitmap stored with an EXIF orientation into its
// upright form. Orientations outside 2..8 leave it as it is. Works on any
// pixel format of a whole number of bytes a pixel (8, 16, 24, 32 bits).
void OrientBitmap(TBitmap& bitmap, int orientation);

class TPhotoMetadata {
public:
    ~TPhotoMetadata();
    TPhotoMetadata(const TPhotoMetadata&) = delete;
    TPhotoMetadata& operator=(const TPhotoMetadata&) = delete;

    // The metadata of a JPEG file's bytes; null when it holds none (or none
    // that can be read).
    static std::shared_ptr<const TPhotoMetadata> FromJpeg(const std::uint8_t* data, std::size_t size);
    // The metadata of a JPEG file on disk; null for other files.
    static std::shared_ptr<const TPhotoMetadata> FromFile(const std::string& path);
    // The metadata of a graphic loaded from a JPEG file; null for any other
    // graphic and for a JPEG picture made from a bitmap.
    static std::shared_ptr<const TPhotoMetadata> Of(const TGraphic* graphic);

    // The JPEG bytes `jpeg` (a whole file of a width x height picture) with
    // this metadata put in: orientation normal, no thumbnail, the pixel
    // sizes of the picture. When Exiv2 cannot write into them the bytes are
    // answered as they are: the picture matters more than its metadata.
    std::vector<std::uint8_t> ApplyTo(const std::vector<std::uint8_t>& jpeg, int width, int height) const;

private:
    struct TData;
    explicit TPhotoMetadata(std::unique_ptr<TData> data);
    static std::shared_ptr<const TPhotoMetadata> FromImage(Exiv2::Image* image);
    // ApplyTo's work; raises what Exiv2 raises.
    std::vector<std::uint8_t> Write(const std::vector<std::uint8_t>& jpeg, int width, int height,
                                    bool makerNote) const;
    std::unique_ptr<TData> F;
};

// Compresses a JPEG picture and writes it to path through atomic writing,
// with the metadata when there is any (null: the picture alone).
void SaveJpegFile(const TJPEGImage& jpeg, const TPhotoMetadata* metadata, const std::string& path);
