#pragma once
// Helpers of the PNG tests: building PNG streams chunk by chunk with an
// independent CRC (zlib's), splitting and inspecting files, reading PNM/PAM
// decodes of the outside tools, and drawing our pictures on a background.

#include "PngCodec.h"
#include "TestUtil.h"

#include "Bitmap.h"
#include "Canvas.h"
#include "Streams.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace pngtest {

using Bytes = std::vector<std::uint8_t>;

inline void PutBe32(Bytes& out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

inline std::uint32_t GetBe32(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

inline std::uint32_t Crc(const std::string& type, const Bytes& data)
{
    uLong c = crc32(0, reinterpret_cast<const Bytef*>(type.data()), 4);
    if (!data.empty())
        c = crc32(c, data.data(), static_cast<uInt>(data.size()));
    return static_cast<std::uint32_t>(c);
}

const Bytes Signature = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// A PNG stream put together chunk by chunk.
struct Builder {
    Bytes Out = Signature;
    Builder& Chunk(const std::string& type, const Bytes& data)
    {
        return Raw(static_cast<std::uint32_t>(data.size()), type, data, Crc(type, data));
    }
    Builder& Raw(std::uint32_t length, const std::string& type, const Bytes& data, std::uint32_t crc)
    {
        PutBe32(Out, length);
        Out.insert(Out.end(), type.begin(), type.end());
        Out.insert(Out.end(), data.begin(), data.end());
        PutBe32(Out, crc);
        return *this;
    }
    Builder& End() { return Chunk("IEND", {}); }
};

inline Bytes Ihdr(std::uint32_t w, std::uint32_t h, int depth, int colorType, int compression = 0, int filter = 0,
                  int interlace = 0)
{
    Bytes d;
    PutBe32(d, w);
    PutBe32(d, h);
    d.push_back(static_cast<std::uint8_t>(depth));
    d.push_back(static_cast<std::uint8_t>(colorType));
    d.push_back(static_cast<std::uint8_t>(compression));
    d.push_back(static_cast<std::uint8_t>(filter));
    d.push_back(static_cast<std::uint8_t>(interlace));
    return d;
}

inline Bytes Zlib(const Bytes& raw, int level = 6)
{
    uLongf size = compressBound(static_cast<uLong>(raw.size()));
    Bytes out(size);
    EXPECT_EQ(compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), level), Z_OK);
    out.resize(size);
    return out;
}

inline Bytes Inflate(const Bytes& packed)
{
    z_stream z{};
    EXPECT_EQ(inflateInit(&z), Z_OK);
    Bytes out;
    std::uint8_t buf[65536];
    z.next_in = const_cast<Bytef*>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    int ret;
    do {
        z.next_out = buf;
        z.avail_out = sizeof buf;
        ret = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buf, buf + (sizeof buf - z.avail_out));
    } while (ret == Z_OK);
    EXPECT_EQ(ret, Z_STREAM_END);
    inflateEnd(&z);
    return out;
}

struct ChunkInfo {
    std::string Type;
    Bytes Data;
    std::uint32_t StoredCrc = 0;
};

inline std::vector<ChunkInfo> ParseChunks(const Bytes& file)
{
    std::vector<ChunkInfo> chunks;
    std::size_t p = 8;
    while (p + 12 <= file.size()) {
        std::uint32_t len = GetBe32(&file[p]);
        if (p + 12 + len > file.size())
            break;
        ChunkInfo c;
        c.Type.assign(reinterpret_cast<const char*>(&file[p + 4]), 4);
        c.Data.assign(file.begin() + static_cast<std::ptrdiff_t>(p + 8),
                      file.begin() + static_cast<std::ptrdiff_t>(p + 8 + len));
        c.StoredCrc = GetBe32(&file[p + 8 + len]);
        chunks.push_back(std::move(c));
        p += 12 + len;
    }
    return chunks;
}

inline Bytes JoinIdat(const Bytes& file)
{
    Bytes all;
    for (const auto& c : ParseChunks(file))
        if (c.Type == "IDAT")
            all.insert(all.end(), c.Data.begin(), c.Data.end());
    return all;
}

// The same file with its image data cut into IDAT chunks of `piece` bytes
// (0-length chunks between them when withEmpty).
inline Bytes Rechunk(const Bytes& file, std::size_t piece, bool withEmpty = false)
{
    Builder b;
    bool done = false;
    const Bytes data = JoinIdat(file);
    for (const auto& c : ParseChunks(file)) {
        if (c.Type != "IDAT") {
            b.Chunk(c.Type, c.Data);
            continue;
        }
        if (done)
            continue;
        done = true;
        for (std::size_t i = 0; i < data.size(); i += piece) {
            b.Chunk("IDAT", Bytes(data.begin() + static_cast<std::ptrdiff_t>(i),
                                  data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), i + piece))));
            if (withEmpty)
                b.Chunk("IDAT", {});
        }
    }
    return b.Out;
}

inline std::unique_ptr<TPngPicture> Load(const Bytes& bytes)
{
    auto png = std::make_unique<TPngPicture>();
    TMemoryStream stream(bytes);
    png->LoadFromStream(stream);
    return png;
}

inline Bytes Save(const TPngPicture& png)
{
    TMemoryStream stream;
    png.SaveToStream(stream);
    return stream.Data();
}

// The class name of what loading the bytes raises ("" when nothing).
inline std::string LoadError(const Bytes& bytes, std::string* message = nullptr)
{
    try {
        Load(bytes);
    } catch (const Exception& e) {
        if (message)
            *message = e.Message;
        return e.ClassName();
    }
    return "";
}

// The picture drawn at its own size (or into `size`) on a bitmap filled
// with background.
inline testutil::RgbImage DrawOn(TPngPicture& png, TColor background, int width = -1, int height = -1)
{
    if (width < 0) {
        width = png.Width();
        height = png.Height();
    }
    TBitmap target(width, height, pf24bit);
    target.Canvas().Brush.Color = background;
    target.Canvas().FillRect(Rect(0, 0, width, height));
    target.Canvas().StretchDraw(Rect(0, 0, width, height), png);
    return testutil::FromBitmap(target);
}

// A decoded picture as 8-bit RGBA.
struct Rgba {
    int Width = 0;
    int Height = 0;
    Bytes Pixels;
    const std::uint8_t* At(int x, int y) const { return &Pixels[(static_cast<std::size_t>(y) * Width + x) * 4]; }
};

// Composites over a plain background with the codec's blend rule.
inline testutil::RgbImage Composite(const Rgba& image, TColor background)
{
    testutil::RgbImage out;
    out.Width = image.Width;
    out.Height = image.Height;
    out.Rgb.resize(static_cast<std::size_t>(image.Width) * image.Height * 3);
    const int bg[3] = {GetRValue(background), GetGValue(background), GetBValue(background)};
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x) {
            const std::uint8_t* p = image.At(x, y);
            for (int c = 0; c < 3; ++c)
                out.Rgb[(static_cast<std::size_t>(y) * image.Width + x) * 3 + c] =
                    static_cast<std::uint8_t>((p[3] * p[c] + (255 - p[3]) * bg[c] + 255) >> 8);
        }
    return out;
}

// Reads P5, P6 or P7 (PAM) of any maxval; samples become 8-bit (the high
// byte of 16-bit ones, scaled otherwise). Grey becomes R=G=B; missing alpha
// is 255. `alphaFile`, when given, is a PGM holding the alpha.
inline bool ReadPnm(const std::string& path, Rgba& out, const std::string& alphaFile = "")
{
    const Bytes data = testutil::ReadFile(path);
    std::size_t p = 0;
    auto token = [&]() {
        std::string t;
        while (p < data.size()) {
            char c = static_cast<char>(data[p]);
            if (c == '#') {
                while (p < data.size() && data[p] != '\n')
                    ++p;
            } else if (std::isspace(static_cast<unsigned char>(c))) {
                if (!t.empty())
                    break;
                ++p;
            } else {
                t += c;
                ++p;
            }
        }
        return t;
    };
    std::string magic = token();
    int w = 0, h = 0, depth = 1;
    unsigned maxval = 255;
    if (magic == "P4") {
        w = std::stoi(token());
        h = std::stoi(token());
        ++p;
        const std::size_t stride = (static_cast<std::size_t>(w) + 7) / 8;
        if (data.size() < p + stride * h)
            return false;
        out.Width = w;
        out.Height = h;
        out.Pixels.assign(static_cast<std::size_t>(w) * h * 4, 255);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if ((data[p + y * stride + x / 8] >> (7 - x % 8)) & 1) { // 1 is black
                    std::uint8_t* o = &out.Pixels[(static_cast<std::size_t>(y) * w + x) * 4];
                    o[0] = o[1] = o[2] = 0;
                }
        return true;
    }
    if (magic == "P5" || magic == "P6") {
        w = std::stoi(token());
        h = std::stoi(token());
        maxval = static_cast<unsigned>(std::stoul(token()));
        depth = magic == "P5" ? 1 : 3;
        ++p;
    } else if (magic == "P7") {
        for (;;) {
            std::string key = token();
            if (key == "ENDHDR")
                break;
            if (key.empty())
                return false;
            if (key == "TUPLTYPE") {
                token();
                continue;
            }
            std::string value = token();
            if (key == "WIDTH")
                w = std::stoi(value);
            else if (key == "HEIGHT")
                h = std::stoi(value);
            else if (key == "DEPTH")
                depth = std::stoi(value);
            else if (key == "MAXVAL")
                maxval = static_cast<unsigned>(std::stoul(value));
        }
        ++p;
    } else {
        return false;
    }
    const std::size_t bytes = maxval > 255 ? 2 : 1;
    if (data.size() < p + static_cast<std::size_t>(w) * h * depth * bytes)
        return false;
    out.Width = w;
    out.Height = h;
    out.Pixels.assign(static_cast<std::size_t>(w) * h * 4, 255);
    auto eight = [&](std::size_t i) -> std::uint8_t {
        unsigned v = bytes == 2 ? (data[p + 2 * i] << 8) | data[p + 2 * i + 1] : data[p + i];
        if (maxval == 65535)
            return static_cast<std::uint8_t>(v >> 8);
        return static_cast<std::uint8_t>((v * 255 + maxval / 2) / maxval);
    };
    for (std::size_t i = 0; i < static_cast<std::size_t>(w) * h; ++i) {
        std::uint8_t* o = &out.Pixels[i * 4];
        if (depth <= 2) {
            o[0] = o[1] = o[2] = eight(i * depth);
            if (depth == 2)
                o[3] = eight(i * depth + 1);
        } else {
            for (int c = 0; c < 3; ++c)
                o[c] = eight(i * depth + c);
            if (depth == 4)
                o[3] = eight(i * depth + 3);
        }
    }
    if (!alphaFile.empty()) {
        Rgba alpha;
        if (!ReadPnm(alphaFile, alpha) || alpha.Width != w || alpha.Height != h)
            return false;
        for (std::size_t i = 0; i < static_cast<std::size_t>(w) * h; ++i)
            out.Pixels[i * 4 + 3] = alpha.Pixels[i * 4];
    }
    return true;
}

// The outside decoders; a missing one fails the test that asks for it.
inline std::string Python()
{
    return testutil::PythonWithPil();
}

inline std::string ImageMagick()
{
    return testutil::Tool("convert");
}

} // namespace pngtest
