#pragma once
// More helpers of the reader tests: pictures compared in memory, sizes
// first, loads that answer their error, and fields put into hand-made files.

#include "ReaderTestSupport.h"

#include "Bitmap.h"

#include <algorithm>

namespace readertest {

inline void ExpectSame(const testutil::RgbImage& got, const testutil::RgbImage& expected)
{
    ASSERT_EQ(got.Width, expected.Width);
    ASSERT_EQ(got.Height, expected.Height);
    for (int y = 0; y < expected.Height; ++y)
        for (int x = 0; x < expected.Width; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(got.At(x, y)[c], expected.At(x, y)[c]) << "pixel " << x << "," << y << " channel " << c;
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
