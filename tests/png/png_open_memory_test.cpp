// Opening a large RGB photo saved as PNG by ImageMagick (its default
// compression, many IDAT chunks), plain, interlaced and with 16-bit samples,
// as the editor opens files (picdump): the pixels come out as they went in,
// and the process's peak memory holds one copy of them besides the
// compressed bytes, not the inflated data, the decoded picture and a drawn
// copy at once. A 16-bit picture leaves only its 24-bit bitmap in memory.

#include "PngTestSupport.h"

#include "PixelMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

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

// Light and shade with a little noise, as a camera gives.
testutil::RgbImage NoisyPhoto(int w, int h)
{
    testutil::RgbImage photo;
    photo.Width = w;
    photo.Height = h;
    photo.Rgb.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 3);
    std::uint32_t seed = 2103;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 28) - 8;
            std::uint8_t* p = &photo.Rgb[(static_cast<std::size_t>(w) * static_cast<std::size_t>(y) + static_cast<std::size_t>(x)) * 3];
            p[0] = static_cast<std::uint8_t>(std::clamp(60 + x / 20 + noise, 0, 255));
            p[1] = static_cast<std::uint8_t>(std::clamp(40 + (x ^ y) % 90 + noise, 0, 255));
            p[2] = static_cast<std::uint8_t>(std::clamp(200 - y / 12 + noise, 0, 255));
        }
    return photo;
}

// The peak of picdump opening a 1 x 1 PNG that ImageMagick writes in dir:
// the floor of every other peak.
double PicdumpFloorMB(const testutil::TempDir& dir)
{
    const auto made = testutil::Run(testutil::Tool("convert") + " -size 1x1 xc:white " +
                                    testutil::Quote(dir.File("tiny.png")));
    EXPECT_EQ(made.ExitCode, 0) << made.Output;
    return PicdumpPeakMB(dir.File("tiny.png"), dir.File("tiny.ppm"));
}

// picdump opens path with a peak of one copy of the expected 24-bit pixels
// besides the compressed data above the floor, and writes those pixels.
void ExpectOpensWithOneCopy(const testutil::TempDir& dir, const std::string& path,
                            const testutil::RgbImage& expected, double floor)
{
    const double pixels = static_cast<double>(expected.Rgb.size()) / (1024 * 1024);
    const double data = static_cast<double>(std::filesystem::file_size(path)) / (1024 * 1024);
    const double peak = PicdumpPeakMB(path, dir.File("out.ppm"));
    // Memory comes in blocks of 2 MB; a few more hold the rows being
    // worked on and the threads that make the pages present.
    EXPECT_LE(peak, floor + pixels + data + 4) << "floor " << floor << " MB, pixels " << pixels << " MB, data "
                                               << data << " MB";
    const testutil::RgbImage out = testutil::ReadPpm(dir.File("out.ppm"));
    ASSERT_EQ(out.Width, expected.Width);
    ASSERT_EQ(out.Height, expected.Height);
    EXPECT_TRUE(out.Rgb == expected.Rgb);
}

// This process's resident memory, in MB.
double ResidentMB()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    EXPECT_GT(resident, 0);
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024 * 1024);
}

} // namespace

TEST(PngOpenMemory, ALargePhotoOpensWithOneCopyOfItsPixels)
{
    testutil::TempDir dir;
    constexpr int W = 3000, H = 2000;
    const testutil::RgbImage photo = NoisyPhoto(W, H);
    testutil::WritePpm(dir.File("photo.ppm"), photo);
    const std::string convert = testutil::Tool("convert");
    const auto made = testutil::Run(convert + " " + testutil::Quote(dir.File("photo.ppm")) + " " +
                                    testutil::Quote(dir.File("plain.png")) + " && " + convert + " " +
                                    testutil::Quote(dir.File("photo.ppm")) + " -interlace PNG " +
                                    testutil::Quote(dir.File("interlaced.png")));
    ASSERT_EQ(made.ExitCode, 0) << made.Output;

    const double floor = PicdumpFloorMB(dir);
    for (const char* name : {"plain.png", "interlaced.png"}) {
        SCOPED_TRACE(name);
        ExpectOpensWithOneCopy(dir, dir.File(name), photo, floor);
    }
}

TEST(PngOpenMemory, ASixteenBitPhotoKeepsOnlyItsBitmap)
{
    testutil::TempDir dir;
    constexpr int W = 3000, H = 2000;
    // 16-bit samples whose low bytes are noise, as a camera's raw data;
    // the high bytes are the picture's 8-bit pixels.
    const testutil::RgbImage high = NoisyPhoto(W, H);
    {
        std::ofstream ppm(dir.File("photo16.ppm"), std::ios::binary);
        ppm << "P6\n" << W << " " << H << "\n65535\n";
        std::uint32_t seed = 6101;
        std::vector<char> samples(high.Rgb.size() * 2);
        for (std::size_t i = 0; i < high.Rgb.size(); ++i) {
            seed = seed * 1664525u + 1013904223u;
            samples[2 * i] = static_cast<char>(high.Rgb[i]);
            samples[2 * i + 1] = static_cast<char>(seed >> 24);
        }
        ppm.write(samples.data(), static_cast<std::streamsize>(samples.size()));
        ASSERT_TRUE(ppm.good());
    }
    const auto made = testutil::Run(testutil::Tool("convert") + " " + testutil::Quote(dir.File("photo16.ppm")) +
                                    " " + testutil::Quote(dir.File("photo16.png")));
    ASSERT_EQ(made.ExitCode, 0) << made.Output;
    const std::string path = dir.File("photo16.png");
    {
        // ImageMagick kept the 16 bits: IHDR's bit depth and colour type.
        std::ifstream png(path, std::ios::binary);
        char ihdr[26] = {};
        png.read(ihdr, sizeof ihdr);
        ASSERT_EQ(ihdr[24], 16);
        ASSERT_EQ(ihdr[25], 2);
    }

    // The process: one copy of the 24-bit pixels besides the compressed
    // data at its peak, and the pixels' high bytes out.
    ExpectOpensWithOneCopy(dir, path, high, PicdumpFloorMB(dir));
    const double pixels = static_cast<double>(high.Rgb.size()) / (1024 * 1024);

    // In this process: once the picture handed its bitmap over, what stays
    // resident is that bitmap (pixel memory kept for reuse let go), not
    // memory sized for the 16-bit data.
    pixelmemory::Trim();
    const double before = ResidentMB();
    std::unique_ptr<TBitmap> bitmap;
    {
        TPngPicture png;
        png.LoadFromFile(path);
        bitmap = png.TakeOpaquePixels();
    }
    ASSERT_TRUE(bitmap);
    ASSERT_EQ(bitmap->Width(), W);
    ASSERT_EQ(bitmap->Height(), H);
    pixelmemory::Trim();
    const double added = ResidentMB() - before;
    EXPECT_GE(added, pixels - 1);
    EXPECT_LE(added, pixels + 3) << "pixels " << pixels << " MB";
    for (int y = 0; y < H; y += 97)
        for (int x = 0; x < W; x += 13) {
            const std::uint8_t* p = bitmap->ScanLine(y) + 3 * x;
            const std::uint8_t* q = high.At(x, y);
            ASSERT_EQ(RGB(p[2], p[1], p[0]), RGB(q[0], q[1], q[2])) << x << ", " << y;
        }
}
