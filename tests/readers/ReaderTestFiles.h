#pragma once
// Helpers of the reader tests: a test picture, outside tools run by their
// Debian paths, and the comparison of a file as the registry loads it
// (through picdump) with an expected picture, sizes first.

#include "Bitmap.h"
#include "Exceptions.h"
#include "Streams.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace readertest {

using Bytes = std::vector<std::uint8_t>;

// The outside tools, by their Debian paths.
inline const std::string Netpbm = "/usr/bin/"; // followed by the program's name
inline const std::string Convert = "/usr/bin/convert";
inline const std::string Gifsicle = "/usr/bin/gifsicle";
inline const std::string Python = "/usr/bin/python3";

// A picture of width x height with distinct colours along both sides, so
// that a mirrored or turned picture differs from it.
inline testutil::RgbImage Pattern(int width, int height)
{
    testutil::RgbImage image;
    image.Width = width;
    image.Height = height;
    image.Rgb.resize(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &image.Rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1));
            p[1] = static_cast<std::uint8_t>(y * 255 / std::max(1, height - 1));
            p[2] = static_cast<std::uint8_t>((x * 37 + y * 91) & 0xFF);
        }
    return image;
}

// The same picture in greys (red, green and blue alike).
inline testutil::RgbImage Greys(const testutil::RgbImage& image)
{
    testutil::RgbImage grey = image;
    for (std::size_t i = 0; i < grey.Rgb.size(); i += 3) {
        const auto v = static_cast<std::uint8_t>((grey.Rgb[i] * 3 + grey.Rgb[i + 1] * 5 + grey.Rgb[i + 2] * 2) / 10);
        grey.Rgb[i] = grey.Rgb[i + 1] = grey.Rgb[i + 2] = v;
    }
    return grey;
}

// Runs a shell command line of outside tools (by their absolute paths) and
// fails the test when it fails.
inline void Tool(const std::string& commandLine)
{
    const testutil::CommandResult r = testutil::Run(commandLine);
    ASSERT_EQ(r.ExitCode, 0) << commandLine << "\n" << r.Output;
}

inline void ExpectSame(const testutil::RgbImage& got, const testutil::RgbImage& expected)
{
    ASSERT_EQ(got.Width, expected.Width);
    ASSERT_EQ(got.Height, expected.Height);
    for (int y = 0; y < expected.Height; ++y)
        for (int x = 0; x < expected.Width; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(got.At(x, y)[c], expected.At(x, y)[c]) << "pixel " << x << "," << y << " channel " << c;
}

// Loads path as the editor does and compares it with expected.
inline void ExpectFile(const std::string& path, const testutil::RgbImage& expected)
{
    SCOPED_TRACE(path);
    const testutil::DumpResult dump = testutil::PicDump(path);
    ASSERT_TRUE(dump.Ok) << dump.Error;
    ExpectSame(dump.Image, expected);
}

// Loads bytes with a reader class and answers the exception's message ("" when
// it loaded).
template <class T>
std::string LoadError(T& graphic, const Bytes& bytes)
{
    TMemoryStream stream{Bytes(bytes)};
    try {
        graphic.LoadFromStream(stream);
    } catch (const Exception& e) {
        return e.Message.empty() ? "(empty message)" : e.Message;
    }
    return "";
}

inline void PutLE16(Bytes& b, std::size_t at, unsigned v)
{
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}

inline void PutBE16(Bytes& b, std::size_t at, unsigned v)
{
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}

inline void PutBE32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

} // namespace readertest
