// picdump [--frame N] <file> <out.ppm>: loads a picture through the picture
// registry, draws it on a white 24-bit bitmap as the editor does when it
// opens a file, and writes the pixels as a binary PPM. With --frame, frame N
// (from 0) of an animated picture is drawn as an animation shows it after
// the frames before it; without, frame 0. A failed load, or a frame the
// picture does not have, prints "<exception class>: <message>" and exits
// with 1.

#include "AtomicFile.h"
#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "Formats.h"
#include "Picture.h"

#if __has_include("GifPicture.h")
#include "GifPicture.h"
#define PICDUMP_GIF 1
#endif

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

namespace {

void WritePpm(const std::string& fileName, const TBitmap& bitmap)
{
    const int w = bitmap.Width();
    const int h = bitmap.Height();
    const std::string header = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    AtomicWriteFile(fileName, [&](TStream& stream) {
        stream.WriteBuffer(header.data(), header.size());
        std::vector<std::uint8_t> rgb(static_cast<std::size_t>(w) * 3);
        for (int y = 0; y < h; ++y) {
            const std::uint8_t* row = bitmap.ScanLine(y);
            for (std::size_t x = 0; x < static_cast<std::size_t>(w); ++x) {
                rgb[3 * x] = row[3 * x + 2];
                rgb[3 * x + 1] = row[3 * x + 1];
                rgb[3 * x + 2] = row[3 * x];
            }
            stream.WriteBuffer(rgb.data(), rgb.size());
        }
    });
}

} // namespace

int main(int argc, char** argv)
{
    int frame = 0;
    int first = 1;
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
        std::fprintf(stderr, "usage: picdump [--frame N] <file> <out.ppm>\n");
        return 2;
    }
    try {
        RegisterPictureFormats();
        TPicture picture;
        picture.LoadFromFile(argv[first]);
        TBitmap out(picture.Width(), picture.Height(), pf24bit);
        TGraphic* graphic = picture.Graphic();
#if PICDUMP_GIF
        if (auto* gif = dynamic_cast<TGifPicture*>(graphic)) {
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
        if (frame != 0)
            throw EInvalidGraphic("No frame " + std::to_string(frame) + " in a picture of 1 frame");
        if (graphic)
            out.Canvas().Draw(0, 0, *graphic);
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
