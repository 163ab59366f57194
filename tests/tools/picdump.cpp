// picdump <file> <out.ppm>: loads a picture through the picture registry,
// draws it on a white 24-bit bitmap as the editor does when it opens a file,
// and writes the pixels as a binary PPM. A failed load prints
// "<exception class>: <message>" and exits with 1.

#include "AtomicFile.h"
#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "Formats.h"
#include "Picture.h"

#include <cstdio>
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
    if (argc != 3) {
        std::fprintf(stderr, "usage: picdump <file> <out.ppm>\n");
        return 2;
    }
    try {
        RegisterPictureFormats();
        TPicture picture;
        picture.LoadFromFile(argv[1]);
        TBitmap out(picture.Width(), picture.Height(), pf24bit);
        if (TGraphic* graphic = picture.Graphic())
            out.Canvas().Draw(0, 0, *graphic);
        WritePpm(argv[2], out);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s: %s\n", e.ClassName(), e.Message.c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 2;
    }
    return 0;
}
