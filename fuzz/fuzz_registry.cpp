// Loads arbitrary bytes through the picture registry, as the editor and the
// thumbnail browser open files. The first byte picks the extension among the
// registered formats (modulo their number), the rest is the file. What loads
// is drawn at full size on a 24-bit bitmap, as the editor opens it, and
// stretched onto a thumbnail, as the browser shows it. A load may fail with
// one of our exceptions; drawing a picture that loaded must not fail at all,
// and must end: an animated GIF is drawn through its painter, as in the
// editor, whatever its frames' disposal methods, delays and loop count.
// JPEG pictures decode their pixels on first use, so that decode counts as
// part of their load. A reader joins this target by registering its format.

#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "FuzzSetup.h"
#include "Jpeg.h"
#include "Picture.h"
#include "Streams.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    PrepareFuzzing();
    const std::vector<TFileFormat>& formats = TPicture::FileFormats();
    if (size == 0 || formats.empty())
        return 0;
    const std::string extension = formats[data[0] % formats.size()].Extension;
    TPicture picture;
    try {
        TMemoryStream stream(std::vector<std::uint8_t>(data + 1, data + size));
        picture.LoadFromStream(stream, extension);
        if (const auto* jpeg = dynamic_cast<const TJPEGImage*>(picture.Graphic()))
            jpeg->DIBNeeded();
    } catch (const Exception&) {
        return 0;
    }
    TGraphic* graphic = picture.Graphic();
    const int width = picture.Width(), height = picture.Height();
    if (!graphic || width <= 0 || height <= 0)
        return 0;
    try {
        TBitmap full(width, height, pf24bit);
        full.Canvas().Draw(0, 0, *graphic);
        // The browser's tile: the longer side 100 pixels.
        const int longer = std::max(width, height);
        const int tw = std::max(1, width * 100 / longer), th = std::max(1, height * 100 / longer);
        TBitmap thumb(tw, th, pf24bit);
        thumb.Canvas().StretchDraw(Rect(0, 0, tw, th), *graphic);
    } catch (const Exception&) {
        __builtin_trap();
    }
    return 0;
}
