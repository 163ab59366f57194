#include "ReaderTestSupport.h"

#include <algorithm>
#include <cmath>
#include <map>

namespace readertest {

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::string Fill(std::string pattern, const std::string& dir)
{
    for (std::size_t at; (at = pattern.find("%s")) != std::string::npos;)
        pattern.replace(at, 2, dir);
    return pattern;
}

testutil::RgbImage TestPicture(int width, int height)
{
    testutil::RgbImage im;
    im.Width = width;
    im.Height = height;
    im.Rgb.resize(static_cast<std::size_t>(width) * height * 3);
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int noise = static_cast<int>((seed >> 16) % 9) - 4;
            std::uint8_t* p = &im.Rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            const bool edge = (x / 7 + y / 5) % 3 == 0;
            const int r = 30 + x * 200 / width + noise;
            const int g = edge ? 220 : 40 + y * 180 / height;
            const int b = 128 + static_cast<int>(100 * std::sin(x * 0.2 + y * 0.1)) + noise;
            p[0] = static_cast<std::uint8_t>(std::clamp(r, 0, 255));
            p[1] = static_cast<std::uint8_t>(std::clamp(g, 0, 255));
            p[2] = static_cast<std::uint8_t>(std::clamp(b, 0, 255));
        }
    }
    return im;
}

void Must(const std::string& commandLine)
{
    // In a subshell, so that the messages Run gathers stay out of a file
    // the command line writes with ">".
    const testutil::CommandResult r = testutil::Run("( " + commandLine + " )");
    ASSERT_EQ(r.ExitCode, 0) << commandLine << "\n" << r.Output;
}

void MustPython(const std::string& script, const std::vector<std::string>& args)
{
    std::string line = PythonWithPil() + " -c " + testutil::Quote(script);
    for (const std::string& a : args)
        line += " " + testutil::Quote(a);
    Must(line);
}

void PilToPpm(const std::string& file, const std::string& ppm)
{
    MustPython("import sys\nfrom PIL import Image\nImage.open(sys.argv[1]).convert('RGB').save(sys.argv[2])",
               {file, ppm});
}

void ExpectPicture(const std::string& file, const testutil::RgbImage& expected, int tolerance)
{
    const testutil::DumpResult dump = testutil::PicDump(file);
    ASSERT_TRUE(dump.Ok) << file << ": " << dump.Error;
    ASSERT_EQ(dump.Image.Width, expected.Width) << file;
    ASSERT_EQ(dump.Image.Height, expected.Height) << file;
    const int diff = testutil::MaxDifference(dump.Image, expected);
    EXPECT_LE(diff, tolerance) << file;
    if (diff > tolerance) {
        for (int y = 0; y < expected.Height; ++y)
            for (int x = 0; x < expected.Width; ++x)
                for (int c = 0; c < 3; ++c)
                    if (std::abs(dump.Image.At(x, y)[c] - expected.At(x, y)[c]) > tolerance) {
                        ADD_FAILURE() << "first difference at " << x << "," << y << " channel " << c << ": "
                                      << int(dump.Image.At(x, y)[c]) << " against " << int(expected.At(x, y)[c]);
                        return;
                    }
    }
}

void ExpectPicture(const std::string& file, const std::string& expectedPpm, int tolerance)
{
    ExpectPicture(file, testutil::ReadPpm(expectedPpm), tolerance);
}

namespace {

struct Writer {
    bool Big;
    Bytes Out;
    void U8(std::uint32_t v) { Out.push_back(static_cast<std::uint8_t>(v)); }
    void U16(std::uint32_t v)
    {
        if (Big) {
            U8(v >> 8);
            U8(v);
        } else {
            U8(v);
            U8(v >> 8);
        }
    }
    void U32(std::uint32_t v)
    {
        if (Big) {
            U16(v >> 16);
            U16(v & 0xFFFF);
        } else {
            U16(v & 0xFFFF);
            U16(v >> 16);
        }
    }
    void Value(std::uint16_t type, std::uint32_t v)
    {
        if (type == 1)
            U8(v);
        else if (type == 3)
            U16(v);
        else
            U32(v);
    }
};

std::size_t SizeOf(std::uint16_t type)
{
    return type == 1 ? 1 : type == 3 ? 2 : 4;
}

} // namespace

Bytes PackMsb(const std::vector<std::uint32_t>& codes, int width)
{
    Bytes out;
    std::uint64_t acc = 0;
    int bits = 0;
    for (std::uint32_t c : codes) {
        acc = (acc << width) | c;
        bits += width;
        while (bits >= 8) {
            out.push_back(static_cast<std::uint8_t>(acc >> (bits - 8)));
            bits -= 8;
        }
    }
    if (bits > 0)
        out.push_back(static_cast<std::uint8_t>(acc << (8 - bits)));
    return out;
}

Bytes LzwEncode(const Bytes& data, const LzwPacking& packing)
{
    Bytes out;
    std::uint64_t acc = 0;
    int bits = 0;
    const int clear = 1 << packing.MinCodeSize;
    int width = 0;
    int next = 0;
    std::map<std::string, int> table;
    auto reset = [&] {
        table.clear();
        for (int c = 0; c < clear; ++c)
            table[std::string(1, static_cast<char>(c))] = c;
        width = packing.MinCodeSize + 1;
        next = clear + 2;
    };
    // The decoder, one entry behind the encoder, adds entry next - 1 on
    // reading this code: the codes after it are wider once that entry is
    // the one where its width changes.
    const int early = packing.EarlyChange ? 1 : 0;
    auto put = [&](int code) {
        if (packing.MsbFirst) {
            acc = (acc << width) | static_cast<std::uint64_t>(code);
            bits += width;
            for (; bits >= 8; bits -= 8)
                out.push_back(static_cast<std::uint8_t>(acc >> (bits - 8)));
        } else {
            acc |= static_cast<std::uint64_t>(code) << bits;
            bits += width;
            for (; bits >= 8; bits -= 8, acc >>= 8)
                out.push_back(static_cast<std::uint8_t>(acc));
        }
        if (next >= (1 << width) - early && width < 12)
            ++width;
    };
    reset();
    put(clear);
    std::string w;
    for (std::uint8_t byte : data) {
        std::string wc = w + static_cast<char>(byte);
        if (table.count(wc)) {
            w = wc;
            continue;
        }
        put(table[w]);
        if (next < 4096)
            table[wc] = next++;
        if (packing.ClearWhenFull && next == 4094) {
            put(clear);
            reset();
        }
        w = std::string(1, static_cast<char>(byte));
    }
    if (!w.empty())
        put(table[w]);
    put(clear + 1);
    if (bits > 0)
        out.push_back(static_cast<std::uint8_t>(packing.MsbFirst ? acc << (8 - bits) : acc));
    return out;
}

Bytes BuildTiff(std::vector<TiffTag> tags, const std::vector<Bytes>& strips, bool bigEndian, bool addStripTags)
{
    Writer w{bigEndian, {}};
    w.U8(bigEndian ? 'M' : 'I');
    w.U8(bigEndian ? 'M' : 'I');
    w.U16(42);
    w.U32(0); // directory offset, set below
    std::vector<std::uint32_t> offsets, counts;
    for (const Bytes& s : strips) {
        offsets.push_back(static_cast<std::uint32_t>(w.Out.size()));
        counts.push_back(static_cast<std::uint32_t>(s.size()));
        w.Out.insert(w.Out.end(), s.begin(), s.end());
    }
    if (w.Out.size() % 2)
        w.U8(0);
    if (addStripTags) {
        tags.push_back({273, 4, offsets});
        tags.push_back({279, 4, counts});
    }
    std::sort(tags.begin(), tags.end(), [](const TiffTag& a, const TiffTag& b) { return a.Tag < b.Tag; });
    const std::uint32_t directory = static_cast<std::uint32_t>(w.Out.size());
    Writer fix{bigEndian, {}};
    fix.U32(directory);
    std::copy(fix.Out.begin(), fix.Out.end(), w.Out.begin() + 4);
    std::uint32_t extra = directory + 2 + 12 * static_cast<std::uint32_t>(tags.size()) + 4;
    Bytes outOfLine;
    Writer ool{bigEndian, {}};
    w.U16(static_cast<std::uint32_t>(tags.size()));
    for (const TiffTag& t : tags) {
        w.U16(t.Tag);
        w.U16(t.Type);
        const bool rational = t.Type == 5;
        const std::size_t count = rational ? t.Values.size() / 2 : t.Values.size();
        w.U32(static_cast<std::uint32_t>(count));
        const std::size_t bytes = rational ? 8 * count : SizeOf(t.Type) * count;
        if (bytes <= 4) {
            const std::size_t start = w.Out.size();
            for (std::uint32_t v : t.Values)
                w.Value(t.Type, v);
            while (w.Out.size() < start + 4)
                w.U8(0);
        } else {
            w.U32(extra + static_cast<std::uint32_t>(ool.Out.size()));
            for (std::uint32_t v : t.Values)
                ool.Value(rational ? 4 : t.Type, v);
            if (ool.Out.size() % 2)
                ool.U8(0);
        }
    }
    w.U32(0);
    w.Out.insert(w.Out.end(), ool.Out.begin(), ool.Out.end());
    return w.Out;
}

} // namespace readertest
