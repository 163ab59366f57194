// Opening a large RGB photo saved as PNG by ImageMagick (its default
// compression, many IDAT chunks), plain and interlaced, as the editor opens
// files (picdump): the pixels come out as they went in, and the process's
// peak memory holds one copy of them besides the compressed bytes, not the
// inflated data, the decoded picture and a drawn copy at once.

#include "PngTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

// The peak resident memory, in MB, of picdump opening path, as python's
// getrusage reports it for its child. The child counts python's own memory
// at the fork too: opening a 1 x 1 picture measures that floor.
double PicdumpPeakMB(const std::string& path, const std::string& out)
{
    const std::string script = "import resource, subprocess, sys\n"
                               "r = subprocess.run(sys.argv[1:])\n"
                               "print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss if r.returncode == 0 "
                               "else -1)\n";
    const auto run = testutil::Run(testutil::Tool("python3") + " -c " + testutil::Quote(script) + " " +
                                   testutil::Quote(CORVINEL_PICDUMP) + " " + testutil::Quote(path) + " " +
                                   testutil::Quote(out));
    EXPECT_EQ(run.ExitCode, 0) << run.Output;
    const double kb = std::atof(run.Output.c_str());
    EXPECT_GT(kb, 0) << path << ": " << run.Output;
    return kb / 1024.0;
}

} // namespace

TEST(PngOpenMemory, ALargePhotoOpensWithOneCopyOfItsPixels)
{
    testutil::TempDir dir;
    constexpr int W = 3000, H = 2000;
    // Light and shade with a little noise, as a camera gives.
    testutil::RgbImage photo;
    photo.Width = W;
    photo.Height = H;
    photo.Rgb.resize(std::size_t{W} * H * 3);
    std::uint32_t seed = 2103;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 28) - 8;
            std::uint8_t* p = &photo.Rgb[(std::size_t{W} * y + x) * 3];
            p[0] = static_cast<std::uint8_t>(std::clamp(60 + x / 20 + noise, 0, 255));
            p[1] = static_cast<std::uint8_t>(std::clamp(40 + (x ^ y) % 90 + noise, 0, 255));
            p[2] = static_cast<std::uint8_t>(std::clamp(200 - y / 12 + noise, 0, 255));
        }
    testutil::WritePpm(dir.File("photo.ppm"), photo);
    const std::string convert = testutil::Tool("convert");
    const auto made = testutil::Run(convert + " " + testutil::Quote(dir.File("photo.ppm")) + " " +
                                    testutil::Quote(dir.File("plain.png")) + " && " + convert + " " +
                                    testutil::Quote(dir.File("photo.ppm")) + " -interlace PNG " +
                                    testutil::Quote(dir.File("interlaced.png")) + " && " + convert +
                                    " -size 1x1 xc:white " + testutil::Quote(dir.File("tiny.png")));
    ASSERT_EQ(made.ExitCode, 0) << made.Output;

    const double floor = PicdumpPeakMB(dir.File("tiny.png"), dir.File("tiny.ppm"));
    const double pixels = static_cast<double>(photo.Rgb.size()) / (1024 * 1024);
    for (const char* name : {"plain.png", "interlaced.png"}) {
        SCOPED_TRACE(name);
        const std::string path = dir.File(name);
        const double data = static_cast<double>(std::filesystem::file_size(path)) / (1024 * 1024);
        const double peak = PicdumpPeakMB(path, dir.File("out.ppm"));
        // Memory comes in blocks of 2 MB; a few more hold the rows being
        // worked on and the threads that make the pages present.
        EXPECT_LE(peak, floor + pixels + data + 4) << "floor " << floor << " MB, pixels " << pixels << " MB, data "
                                                   << data << " MB";
        const testutil::RgbImage out = testutil::ReadPpm(dir.File("out.ppm"));
        ASSERT_EQ(out.Width, W);
        ASSERT_EQ(out.Height, H);
        EXPECT_TRUE(out.Rgb == photo.Rgb);
    }
}
