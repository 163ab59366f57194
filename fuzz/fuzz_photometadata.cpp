// Reads arbitrary bytes as a photo's metadata and orientation, and writes
// what was read into a small JPEG picture. Any outcome but an answer is a
// finding: unreadable metadata must never stop a picture from opening.

#include "Bitmap.h"
#include "Jpeg.h"
#include "PhotoMetadata.h"

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::vector<std::uint8_t> picture = [] {
        TJPEGImage jpeg;
        jpeg.Assign(TBitmap(8, 8, pf24bit));
        jpeg.JPEGNeeded();
        return jpeg.Data();
    }();
    const int orientation = JpegOrientation(data, size);
    if (orientation < 1 || orientation > 8)
        __builtin_trap();
    if (const auto metadata = TPhotoMetadata::FromJpeg(data, size)) {
        const std::vector<std::uint8_t> out = metadata->ApplyTo(picture, 8, 8);
        if (out.size() < picture.size() / 2)
            __builtin_trap();
    }
    return 0;
}
