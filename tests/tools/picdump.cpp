// picdump [--png-road ROAD] [--frame N] <file> <out.ppm>: loads a picture
// through the picture registry and writes its pixels as a binary PPM.
// Without --frame the picture is opened exactly as the editor opens a file:
// loaded, then flattened onto a white 24-bit bitmap by the editor's own
// function, which draws a GIF as every picture holder does. With --frame,
// frame N (from 0) of an animated picture is drawn as an animation shows it
// after the frames before it. A failed load, or a frame the picture does not
// have, prints "<exception class>: <message>" and exits with 1. The PPM is a
// scratch file for the tests: it is written in place, without the flush to
// disk that a saved document gets. --png-road sends a PNG's image data down
// one road (in-place, overlapped or streamed) instead of the one the codec
// chooses, for the benchmarks that time the roads beside each other.

#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "Formats.h"
#include "Picture.h"
#include "Streams.h"

#if __has_include("GifPicture.h")
#include "GifPicture.h"
#define PICDUMP_GIF 1
#endif

#if __has_include("PngWholeInflate.h")
#include "PngWholeInflate.h"
#define PICDUMP_PNG 1
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

// The rows turned at a time fill about this many bytes.
constexpr std::size_t BufferBytes = 128 * 1024;

// Writes the bitmap as a binary PPM. The rows are turned from BGR into RGB
// a few at a time in a small buffer that stays in the cache, and each
// buffer goes out in one call: the system copies from memory just written
// instead of reading the whole picture from main memory again.
void WritePpm(const std::string& fileName, const TBitmap& bitmap)
{
    const auto w = static_cast<std::size_t>(bitmap.Width());
    const int h = bitmap.Height();
    const std::string header = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    TFileStream stream(fileName, fmCreate);
    stream.WriteBuffer(header.data(), header.size());
    if (w == 0 || h == 0)
        return;
    const std::size_t rowBytes = 3 * w;
    const int blockRows = static_cast<int>(std::max<std::size_t>(1, BufferBytes / rowBytes));
    std::vector<std::uint8_t> rgb(rowBytes * static_cast<std::size_t>(std::min(blockRows, h)));
    for (int first = 0; first < h; first += blockRows) {
        const int rows = std::min(blockRows, h - first);
        std::uint8_t* out = rgb.data();
        for (int y = first; y < first + rows; ++y, out += rowBytes) {
            const std::uint8_t* row = bitmap.ScanLine(y);
            for (std::size_t x = 0; x < rowBytes; x += 3) {
                out[x] = row[x + 2];
                out[x + 1] = row[x + 1];
                out[x + 2] = row[x];
            }
        }
        stream.WriteBuffer(rgb.data(), rowBytes * static_cast<std::size_t>(rows));
    }
}

} // namespace

int main(int argc, char** argv)
{
    int frame = -1;
    int first = 1;
    if (argc > 2 && std::string(argv[1]) == "--png-road") {
#if PICDUMP_PNG
        const std::string road = argv[2];
        if (road == "in-place")
            pngimpl::SetImageDataRoad(pngimpl::TImageDataRoad::InPlace);
        else if (road == "overlapped")
            pngimpl::SetImageDataRoad(pngimpl::TImageDataRoad::Overlapped);
        else if (road == "streamed")
            pngimpl::SetImageDataRoad(pngimpl::TImageDataRoad::Streamed);
        else {
            std::fprintf(stderr, "picdump: no PNG road %s\n", argv[2]);
            return 2;
        }
#endif
        argc -= 2;
        argv += 2;
    }
    if (argc == 5 && std::string(argv[1]) == "--frame") {
        char* end = nullptr;
        const long n = std::strtol(argv[2], &end, 10);
        if (!end || *end != 0 || n < 0 || n > 1000000) {
            std::fprintf(stderr, "picdump: bad frame number %s\n", argv[2]);
            return 2;
        }
        frame = static_cast<int>(n);
        first = 3;
    } else if (argc != 3) {
        std::fprintf(stderr, "usage: picdump [--png-road ROAD] [--frame N] <file> <out.ppm>\n");
        return 2;
    }
    try {
        RegisterPictureFormats();
        TPicture picture;
        picture.LoadFromFile(argv[first]);
#if PICDUMP_GIF
        auto* gif = frame >= 0 ? dynamic_cast<TGifPicture*>(picture.Graphic()) : nullptr;
        if (gif) {
            TBitmap out(picture.Width(), picture.Height(), pf24bit);
            TGIFFrameComposer composer(*gif);
            if (!composer.SeekFrame(frame))
                throw EInvalidGraphic("No frame " + std::to_string(frame) + " in a picture of " +
                                      std::to_string(gif->Frames.Count()) + " frames");
            if (!out.Empty())
                composer.PaintOver(out);
            WritePpm(argv[first + 1], out);
            return 0;
        }
#endif
        if (frame > 0)
            throw EInvalidGraphic("No frame " + std::to_string(frame) + " in a picture of 1 frame");
        TBitmap out = FlattenPicture(picture);
        WritePpm(argv[first + 1], out);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.Message.c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
    return 0;
}
