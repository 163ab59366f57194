#pragma once
// Sample files for the extensions of the picture readers, for the tests of
// the windows that open them: a picture of 40 x 30 (768 x 512 for Photo-CD)
// red on the left half and blue on the right (greys for CUT, which has no
// palette file here). ImageMagick writes the formats it can; Autodesk, CUT
// and RLA files are written here.

#include "TestUtil.h"

#include <cstdint>
#include <string>
#include <vector>

namespace readersamples {

// The extensions of the readers whose files open as pictures of their own
// (GIF files open through the GIF image class).
inline const std::vector<std::string> Extensions = {"pcx", "pcc", "scr", "pcd", "ppm", "pgm", "pbm",
                                                    "sgi", "rgb", "rgba", "bw", "psd", "pdd", "pic",
                                                    "cel", "cut", "rla", "rpf"};

// Writes the sample of the extension at path; answers "" or what went wrong.
inline std::string Write(const std::string& path, const std::string& extension)
{
    using Bytes = std::vector<std::uint8_t>;
    const int w = 40, h = 30;
    auto le16 = [](Bytes& b, unsigned v) {
        b.push_back(static_cast<std::uint8_t>(v));
        b.push_back(static_cast<std::uint8_t>(v >> 8));
    };
    auto be16 = [](Bytes& b, unsigned v) {
        b.push_back(static_cast<std::uint8_t>(v >> 8));
        b.push_back(static_cast<std::uint8_t>(v));
    };
    if (extension == "pic" || extension == "cel") {
        // Autodesk Animator: index 1 red, index 2 blue, six-bit colours.
        Bytes b;
        le16(b, 0x9119);
        le16(b, w);
        le16(b, h);
        b.resize(32 + 768, 0);
        b[32 + 3] = 63;
        b[32 + 8] = 63;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                b.push_back(x < w / 2 ? 1 : 2);
        testutil::WriteFile(path, b);
        return "";
    }
    if (extension == "cut") {
        // Dr. Halo CUT: each row two runs, 76 and 29 (greys), and the end.
        Bytes b;
        le16(b, w);
        le16(b, h);
        le16(b, 0);
        for (int y = 0; y < h; ++y) {
            le16(b, 5);
            b.insert(b.end(), {0x80 | w / 2, 76, 0x80 | w / 2, 29, 0});
        }
        testutil::WriteFile(path, b);
        return "";
    }
    if (extension == "rla" || extension == "rpf") {
        // Wavefront RLA: each channel record two runs of w / 2.
        Bytes b(740, 0);
        auto put16 = [&](std::size_t at, unsigned v) {
            b[at] = static_cast<std::uint8_t>(v >> 8);
            b[at + 1] = static_cast<std::uint8_t>(v);
        };
        put16(10, w - 1);
        put16(14, h - 1);
        put16(20, 3);
        Bytes row;
        const std::uint8_t left[3] = {255, 0, 0}, right[3] = {0, 0, 255};
        for (int c = 0; c < 3; ++c) {
            be16(row, 4);
            row.insert(row.end(), {w / 2 - 1, left[c], w / 2 - 1, right[c]});
        }
        for (int k = 0; k < h; ++k) {
            const std::uint32_t at = static_cast<std::uint32_t>(740 + 4 * h + k * row.size());
            for (int i = 0; i < 4; ++i)
                b.push_back(static_cast<std::uint8_t>(at >> (24 - 8 * i)));
        }
        for (int k = 0; k < h; ++k)
            b.insert(b.end(), row.begin(), row.end());
        testutil::WriteFile(path, b);
        return "";
    }
    std::string format = extension;
    if (extension == "pcc" || extension == "scr")
        format = "pcx";
    else if (extension == "rgb" || extension == "rgba" || extension == "bw")
        format = "sgi";
    else if (extension == "pdd")
        format = "psd";
    const std::string colours = extension == "bw" ? " -alpha off -colorspace gray" : " -alpha off";
    const testutil::CommandResult r =
        testutil::Run(testutil::Tool("convert") + " -size 40x30 xc:red -fill blue -draw \"rectangle 20,0 39,29\"" + colours + " " +
                      format + ":" + testutil::Quote(path));
    return r.ExitCode == 0 ? "" : r.Output;
}

} // namespace readersamples
