#pragma once
// SANE's own `test` backend as the scanner of a test: a configuration folder
// whose dll.conf lists only that backend, set in SANE_CONFIG_DIR before the
// library starts, so that no hardware is needed and none is probed.

#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace testutil {

using TScanProgressLike = std::function<bool(double)>;

class SaneTestConfig {
public:
    // devices: how many virtual devices the backend offers (test:0...).
    explicit SaneTestConfig(int devices = 2)
    {
        WriteText(Dir.File("dll.conf"), "test\n");
        // The backend's start values: a grey page of 80 x 100 mm at 50 dpi.
        WriteText(Dir.File("test.conf"), "number_of_devices " + std::to_string(devices) + "\n" + R"(mode Gray
depth 8
hand-scanner false
three-pass false
three-pass-order RGB
resolution_min 1.0
resolution_max 1200.0
resolution_quant 1.0
resolution 50.0
test-picture "Solid black"
invert-endianess false
read-limit false
read-limit-size 1
read-delay false
read-delay-duration 1000
read-status-code "Default"
fuzzy-parameters false
ppl-loss 0
non-blocking false
select-fd false
enable-test-options false
geometry_min 0.0
geometry_max 200.0
geometry_quant 1.0
tl_x 0.0
tl_y 0.0
br_x 80.0
br_y 100.0
)");
        FVariable = std::make_unique<EnvGuard>("SANE_CONFIG_DIR", Dir.Path().c_str());
    }
    SaneTestConfig(const SaneTestConfig&) = delete;
    SaneTestConfig& operator=(const SaneTestConfig&) = delete;

    // Replaces the backends dll.conf lists; SANE reads it anew at each start
    // of the library ("": no scanner at all).
    void SetBackends(const std::string& lines) const { WriteText(Dir.File("dll.conf"), lines); }

    // The same configuration for an outside tool's command line.
    std::string Env() const { return "SANE_CONFIG_DIR=" + Quote(Dir.Path()) + " "; }

    TempDir Dir;

private:
    static void WriteText(const std::string& path, const std::string& text)
    {
        WriteFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    std::unique_ptr<EnvGuard> FVariable;
};

// The configuration of this test program, made on first use.
inline const SaneTestConfig& SaneTest()
{
    static const SaneTestConfig config;
    return config;
}

// The test backend reads each page on a thread that it stops wherever it is
// when a scan is cancelled or fails; stopped inside the C library's
// allocator, that thread never ends and the backend waits for it for ever.
// A progress that lets the thread write its (small) page and end before the
// first read, and then answers goOn.
inline TScanProgressLike SettledProgress(bool goOn = true)
{
    return [goOn, first = true](double) mutable {
        if (first)
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        first = false;
        return goOn;
    };
}

// Options to set, by name, with their values as text.
using TSettings = std::vector<std::pair<std::string, std::string>>;

// A page as scanimage writes it (PBM, PGM or PPM, 8 or 16 bits), expanded
// to 8-bit RGB: 16-bit samples give their high byte, PBM's 1 is black.
inline RgbImage ReadPnm(const std::vector<std::uint8_t>& data)
{
    RgbImage image;
    std::size_t pos = 0;
    auto token = [&] {
        std::string t;
        while (pos < data.size()) {
            const char c = static_cast<char>(data[pos]);
            if (c == '#') {
                while (pos < data.size() && data[pos] != '\n')
                    ++pos;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                if (!t.empty())
                    break;
                ++pos;
            } else {
                t += c;
                ++pos;
            }
        }
        return t;
    };
    const std::string magic = token();
    image.Width = std::stoi(token());
    image.Height = std::stoi(token());
    const int maxval = magic == "P4" ? 1 : std::stoi(token());
    ++pos; // the single white space before the samples
    const std::size_t w = static_cast<std::size_t>(image.Width);
    image.Rgb.resize(w * image.Height * 3);
    const std::uint8_t* p = data.data() + pos;
    const std::size_t sampleBytes = maxval > 255 ? 2 : 1;
    const std::size_t channels = magic == "P6" ? 3 : 1;
    const std::size_t rowBytes = magic == "P4" ? (w + 7) / 8 : w * channels * sampleBytes;
    EXPECT_GE(data.size() - pos, rowBytes * image.Height) << "scanimage's page is short";
    if (data.size() - pos < rowBytes * image.Height)
        return {};
    for (std::size_t y = 0; y < static_cast<std::size_t>(image.Height); ++y) {
        const std::uint8_t* row = p + y * rowBytes;
        for (std::size_t x = 0; x < w; ++x) {
            std::uint8_t* out = &image.Rgb[(y * w + x) * 3];
            if (magic == "P4") {
                const bool black = (row[x >> 3] >> (7 - (x & 7))) & 1;
                out[0] = out[1] = out[2] = black ? 0 : 255;
            } else {
                for (std::size_t c = 0; c < 3; ++c) {
                    const std::size_t channel = channels == 3 ? c : 0;
                    // 16-bit PNM samples are big-endian: the first byte is the high one.
                    out[c] = row[(x * channels + channel) * sampleBytes];
                }
            }
        }
    }
    return image;
}

// The page scanimage reads from a device of SaneTest() with these settings.
inline RgbImage ScanimagePage(const std::string& device, const TSettings& settings)
{
    std::string line = SaneTest().Env() + testutil::Tool("timeout") + " -k 5 20 " + testutil::Tool("scanimage") +
                       " --format=pnm -d " + Quote(device);
    for (const auto& [name, value] : settings) {
        const std::string v = value == "true" ? "yes" : value == "false" ? "no" : value;
        line += " --" + name + "=" + Quote(v);
    }
    const std::string out = SaneTest().Dir.File("oracle.pnm");
    // scanimage meets the test backend's hang in its cancel too: a run that
    // does not end is stopped and made again.
    CommandResult r;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        r = Run(line + " > " + Quote(out));
        if (r.ExitCode != 124 && r.ExitCode != 137)
            break;
        std::printf("[ watchdog ] scanimage hung in SANE's test backend (attempt %d); stopped\n", attempt);
    }
    EXPECT_EQ(r.ExitCode, 0) << line << "\n" << r.Output;
    return ReadPnm(ReadFile(out));
}

// A scanned page against the page expected: sizes first, then every pixel.
inline void ExpectSamePage(const TBitmap& page, const RgbImage& expected)
{
    const RgbImage actual = FromBitmap(page);
    ASSERT_EQ(actual.Width, expected.Width);
    ASSERT_EQ(actual.Height, expected.Height);
    EXPECT_EQ(MaxDifference(actual, expected), 0);
}

} // namespace testutil
