#pragma once
// Helpers of the reader tests: a test picture, outside tools run by their
// Debian paths, comparisons through picdump, and a builder of small TIFF
// files for the cases no tool writes.

#include "TestUtil.h"

#include "Exceptions.h"
#include "Streams.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace readertest {

using Bytes = std::vector<std::uint8_t>;

Bytes operator+(Bytes a, const Bytes& b);

// Outside tools come through testutil::Tool() and testutil::PythonWithPil().
using testutil::PythonWithPil;
using testutil::Tool;

// A photo-like test picture with smooth areas, edges and noise, written as
// a binary PPM.
testutil::RgbImage TestPicture(int width, int height);

// The pattern with every "%s" replaced by dir.
std::string Fill(std::string pattern, const std::string& dir);

// Loads file with reader class T from a memory stream.
template <class T>
std::unique_ptr<T> Load(const Bytes& file)
{
    auto g = std::make_unique<T>();
    TMemoryStream stream(file);
    g->LoadFromStream(stream);
    return g;
}

// The message of the exception loading file raises ("" when none).
template <class T>
std::string LoadError(const Bytes& file)
{
    try {
        Load<T>(file);
    } catch (const Exception& e) {
        return e.Message;
    }
    return "";
}

// Runs a command line and fails the test when it does not exit with 0.
void Must(const std::string& commandLine);
// Runs a Python script with the given arguments (Python with PIL).
void MustPython(const std::string& script, const std::vector<std::string>& args);
// Decodes a file with PIL to an RGB PPM.
void PilToPpm(const std::string& file, const std::string& ppm);

// Loads file through picdump and compares it with the PPM expected: sizes
// first, then every pixel within tolerance.
void ExpectPicture(const std::string& file, const testutil::RgbImage& expected, int tolerance = 0);
void ExpectPicture(const std::string& file, const std::string& expectedPpm, int tolerance = 0);

// Codes of one width packed most significant bit first, as TIFF LZW stores
// them.
Bytes PackMsb(const std::vector<std::uint32_t>& codes, int width);

// LZW codes of data as a plain encoder writes them: a clear code first, the
// longest string in the table each time, the end code last.
struct LzwPacking {
    int MinCodeSize = 8;     // codes start at MinCodeSize + 1 bits
    bool MsbFirst = true;    // else lowest bit first
    bool EarlyChange = true; // the decoder widens once its next free entry is 2^width - 1, else 2^width
    bool ClearWhenFull = true; // else the full table is kept (GIF's deferred clear)
};
Bytes LzwEncode(const Bytes& data, const LzwPacking& packing);

// A TIFF file of the given tags and strips. Strips are laid out after the
// header; unless the tags hold them, StripOffsets and StripByteCounts (LONG)
// are added. Values that do not fit an entry follow the directory.
struct TiffTag {
    std::uint16_t Tag;
    std::uint16_t Type; // 1 BYTE, 3 SHORT, 4 LONG, 5 RATIONAL (pairs)
    std::vector<std::uint32_t> Values;
};
Bytes BuildTiff(std::vector<TiffTag> tags, const std::vector<Bytes>& strips, bool bigEndian = false,
                bool addStripTags = true);

} // namespace readertest
