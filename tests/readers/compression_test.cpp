// The decoder family: hand-worked packets of every run-length scheme, the
// bounds of packed data and output, the LZW code-width changes against a
// plain reference encoder and against GIF data written by PIL, and the
// Targa row encoder.

#include "ReaderCompression.h"

#include "Exceptions.h"
#include "ReaderTestSupport.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

using readertest::operator+;
using readertest::PackMsb;

// Decodes packed into an output of outSize bytes filled with 0xEE beforehand;
// the output has 8 guard bytes behind that must stay untouched.
struct Result {
    Bytes Out;
    std::size_t Written = 0;
};

Result DecodeAll(TDecoder& decoder, const Bytes& packed, std::size_t outSize, std::size_t packedSize = SIZE_MAX)
{
    Bytes out(outSize + 8, 0xEE);
    const std::uint8_t* src = packed.data();
    const std::size_t n = decoder.Decode(src, out.data(), std::min(packedSize, packed.size()), outSize);
    for (std::size_t i = outSize; i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xEE) << "written past the output at " << i;
    out.resize(outSize);
    return Result{out, n};
}

// TIFF LZW written the plain way: codes MSB first, the width growing one
// code early, a clear before the table overflows.
Bytes TiffLzwEncode(const Bytes& data)
{
    return readertest::LzwEncode(data, {});
}

// GIF LZW written the plain way: codes LSB first, the width growing after
// the code whose entry will be 2^width, and no clear code when the table is
// full: the encoder goes on with the full table (a deferred clear, as GIF
// allows).
Bytes GifLzwEncodeDeferred(const Bytes& data, int minCodeSize)
{
    return readertest::LzwEncode(data, {.MinCodeSize = minCodeSize, .MsbFirst = false, .EarlyChange = false,
                                        .ClearWhenFull = false});
}

Bytes Noise(std::size_t n, unsigned seed, int levels)
{
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& v : b)
        v = static_cast<std::uint8_t>(rng() % static_cast<unsigned>(levels));
    return b;
}

Bytes Hex(const std::string& text)
{
    Bytes b;
    std::istringstream in(text);
    std::string tok;
    while (in >> tok)
        b.push_back(static_cast<std::uint8_t>(std::stoul(tok, nullptr, 16)));
    return b;
}

} // namespace

TEST(RunLengthDecoders, HandWorkedPacketsOfEachScheme)
{
    {
        // The classic PackBits example, with a -128 no-op header in it.
        TPackbitsRLE d;
        const Bytes packed = Hex("FE AA 02 80 00 2A 80 FD AA 03 80 00 2A 22 F7 AA");
        const Bytes want = Hex("AA AA AA 80 00 2A AA AA AA AA 80 00 2A 22 AA AA AA AA AA AA AA AA AA AA");
        Result r = DecodeAll(d, packed, want.size());
        EXPECT_EQ(r.Out, want);
        EXPECT_EQ(r.Written, want.size());
    }
    {
        // PCX: C3 = 3 copies, C0 = nothing but two bytes consumed, literal 05.
        TPCXRLE d;
        Result r = DecodeAll(d, Hex("C3 11 C0 99 05 C2 22"), 6);
        EXPECT_EQ(r.Out, Hex("11 11 11 05 22 22"));
    }
    {
        // SGI 8-bit: 3 literal bytes, a run of 4, then the ending zero count.
        TSGIRLE d;
        Result r = DecodeAll(d, Hex("83 01 02 03 04 09 00 77"), 7);
        EXPECT_EQ(r.Out, Hex("01 02 03 09 09 09 09"));
        EXPECT_EQ(r.Written, 7u);
    }
    {
        // SGI 16-bit keeps the most significant byte of each sample.
        TSGIRLE d;
        d.SampleSize = 2;
        Result r = DecodeAll(d, Hex("00 82 12 34 56 78 00 03 AB CD 00 00"), 5);
        EXPECT_EQ(r.Out, Hex("12 56 AB AB AB"));
    }
    {
        // CUT: a byte count, a run of 3, 2 literals, the end; source moves
        // just behind the zero byte.
        TCUTRLE d;
        const Bytes packed = Hex("07 00 83 44 02 01 02 00 FF");
        Bytes out(5);
        const std::uint8_t* src = packed.data();
        EXPECT_EQ(d.Decode(src, out.data(), packed.size(), out.size()), 5u);
        EXPECT_EQ(out, Hex("44 44 44 01 02"));
        EXPECT_EQ(src, packed.data() + 8);
    }
    {
        // RLA: n >= 0 repeats n + 1 times, n < 0 copies -n bytes.
        TRLADecoder d;
        Result r = DecodeAll(d, Hex("02 7F FE 01 02"), 5);
        EXPECT_EQ(r.Out, Hex("7F 7F 7F 01 02"));
    }
}

TEST(RunLengthDecoders, NeverReadPastThePackedDataNorWritePastTheOutput)
{
    // Each decoder gets data that asks for far more than the output takes,
    // and data that ends in the middle of a packet, with no ending code.
    struct Case {
        const char* Name;
        TDecoder* Decoder;
        Bytes Overlong;
        Bytes Truncated;
    };
    TPackbitsRLE packbits;
    TPCXRLE pcx;
    TSGIRLE sgi;
    TSGIRLE sgi16;
    sgi16.SampleSize = 2;
    TCUTRLE cut;
    TRLADecoder rla;
    const Case cases[] = {
        {"PackBits", &packbits, Hex("81 55 7F") + Bytes(128, 1), Hex("05 01 02")},
        {"PCX", &pcx, Hex("FF 55 FF 66"), Hex("01 02 C5")},
        {"SGI", &sgi, Hex("7F 55 FF") + Bytes(127, 2), Hex("85 01 02")},
        {"SGI 16", &sgi16, Hex("00 7F 55 00"), Hex("00 85 01 02 03")},
        {"CUT", &cut, Hex("00 00 FF 55 7F") + Bytes(127, 3), Hex("00 00 05 01 02")},
        {"RLA", &rla, Hex("7F 55 80") + Bytes(128, 4), Hex("FB 01 02")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Result r = DecodeAll(*c.Decoder, c.Overlong, 10);
        EXPECT_EQ(r.Written, 10u);
        // The truncated data sits at the start of a larger buffer: the
        // decoder is told only its own bytes, and must not read on into the
        // 0x77 bytes behind (a run of them would show in the output).
        Bytes padded = c.Truncated;
        padded.resize(c.Truncated.size() + 64, 0x77);
        Result t = DecodeAll(*c.Decoder, padded, 10, c.Truncated.size());
        for (std::size_t i = 0; i < t.Written; ++i)
            EXPECT_NE(t.Out[i], 0x77) << "read past the packed data, output byte " << i;
        EXPECT_LT(t.Written, 10u);
    }
}

TEST(LzwDecoders, TiffCodesDecodeAgainstAPlainEncoderThroughEveryWidth)
{
    // Noise of 200 levels fills the table: widths 9 to 12 and a clear code.
    for (const Bytes& data : {Noise(20000, 1, 200), Noise(5000, 2, 3), Bytes(3000, 7), Bytes{1, 2}}) {
        const Bytes packed = TiffLzwEncode(data);
        TTIFFLZW d;
        Result r = DecodeAll(d, packed, data.size());
        ASSERT_EQ(r.Written, data.size());
        EXPECT_EQ(r.Out, data);
        // Without its end code and with a short output it stops at either.
        Bytes noEnd(packed.begin(), packed.end() - 2);
        Result s = DecodeAll(d, noEnd, data.size() / 2);
        EXPECT_EQ(s.Written, data.size() / 2);
        EXPECT_TRUE(std::equal(s.Out.begin(), s.Out.end(), data.begin()));
    }
}

TEST(LzwDecoders, KwKwKStringAndTheWidthChangeAt511)
{
    // "aaa": codes a (97), then 258 = the next free code ("aa"), then end.
    const Bytes packed = TiffLzwEncode(Bytes{97, 97, 97});
    TTIFFLZW d;
    Result r = DecodeAll(d, packed, 3);
    EXPECT_EQ(r.Out, (Bytes{97, 97, 97}));
    // 300 different bytes fill the table past next free 511: the reference
    // then writes 10-bit codes; a decoder that changed at 512 would fail.
    Bytes data;
    for (int i = 0; i < 300; ++i)
        data.push_back(static_cast<std::uint8_t>(i * 7));
    const Bytes p2 = TiffLzwEncode(data);
    Result r2 = DecodeAll(d, p2, data.size());
    EXPECT_EQ(r2.Out, data);
}

TEST(LzwDecoders, InvalidCodesRaiseAndStringsStayBounded)
{
    TTIFFLZW tiff;
    // Clear, then code 300 > next free code 258.
    const Bytes bad = PackMsb({256, 300, 257}, 9);
    try {
        DecodeAll(tiff, bad, 16);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "TIF LZW: invalid opcode.");
    }
    // First code after a clear names an entry the table does not have yet.
    try {
        DecodeAll(tiff, PackMsb({256, 258, 257}, 9), 16);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "TIF LZW: invalid opcode.");
    }
    // A long string into a short output is cut at the output's end.
    const Bytes runs(4000, 9);
    const Bytes packed = TiffLzwEncode(runs);
    Result r = DecodeAll(tiff, packed, 1000);
    EXPECT_EQ(r.Written, 1000u);
    EXPECT_EQ(r.Out, Bytes(1000, 9));

    TGIFLZW gif;
    gif.InitialCodeSize = 2;
    // LSB first, 3 bits: clear (4), then 7 > next free code 6.
    try {
        DecodeAll(gif, Hex("3C"), 8);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message, "GIF LZW: invalid opcode.");
    }
}

TEST(LzwDecoders, GifDataWrittenByPilDecodesToPilsIndices)
{
    testutil::TempDir dir;
    const std::string script = dir.File("gif.py");
    // PIL writes the GIF; the script prints the minimum code size, the image
    // data sub-blocks joined, and PIL's own decoded indices.
    testutil::WriteFile(script, [] {
        const std::string s = R"PY(
import sys, random
from PIL import Image
random.seed(5)
w, h = 160, 120
im = Image.new('P', (w, h))
im.putpalette([i for c in range(256) for i in (c, 255 - c, c // 2)])
px = [(x * x + y * 3 + random.randrange(0, 40)) % 256 if y < 80 else (x // 16) for y in range(h) for x in range(w)]
im.putdata(px)
im.save(sys.argv[1], interlace=False)
d = open(sys.argv[1], 'rb').read()
p = 13 + (3 << ((d[10] & 7) + 1) if d[10] & 0x80 else 0)
while d[p] == 0x21:
    p += 2
    while d[p]:
        p += d[p] + 1
    p += 1
assert d[p] == 0x2C
flags = d[p + 9]
p += 10
if flags & 0x80:
    p += 3 << ((flags & 7) + 1)
mcs = d[p]
p += 1
data = b''
while d[p]:
    data += d[p + 1:p + 1 + d[p]]
    p += d[p] + 1
print(mcs)
print(data.hex())
print(bytes(Image.open(sys.argv[1]).getdata()).hex())
)PY";
        return Bytes(s.begin(), s.end());
    }());
    const auto res = testutil::Run(testutil::PythonWithPil() + " " + testutil::Quote(script) + " " +
                                   testutil::Quote(dir.File("a.gif")));
    ASSERT_EQ(res.ExitCode, 0) << res.Output;
    std::istringstream lines(res.Output);
    int mcs = 0;
    std::string dataHex, pixelsHex;
    lines >> mcs >> dataHex >> pixelsHex;
    auto fromHex = [](const std::string& h) {
        Bytes b;
        for (std::size_t i = 0; i + 1 < h.size(); i += 2)
            b.push_back(static_cast<std::uint8_t>(std::stoul(h.substr(i, 2), nullptr, 16)));
        return b;
    };
    const Bytes packed = fromHex(dataHex);
    const Bytes pixels = fromHex(pixelsHex);
    ASSERT_EQ(pixels.size(), 160u * 120u);
    TGIFLZW d;
    d.InitialCodeSize = static_cast<std::uint8_t>(mcs);
    Result r = DecodeAll(d, packed, pixels.size());
    ASSERT_EQ(r.Written, pixels.size());
    const auto diff = std::mismatch(r.Out.begin(), r.Out.end(), pixels.begin());
    EXPECT_EQ(diff.first, r.Out.end()) << "first difference at pixel " << (diff.first - r.Out.begin());
}

TEST(LzwDecoders, GifTableKeptWhenFullWithoutAClearCode)
{
    // 60000 bytes of 64 levels fill the 4096 entries long before the end;
    // the codes after that still name the entries the table had then.
    for (const Bytes& data : {Noise(60000, 3, 64), Noise(3000, 4, 4)}) {
        const Bytes packed = GifLzwEncodeDeferred(data, 6);
        TGIFLZW d;
        d.InitialCodeSize = 6;
        Result r = DecodeAll(d, packed, data.size());
        ASSERT_EQ(r.Written, data.size());
        EXPECT_EQ(r.Out, data);
    }
}

TEST(TargaRunLength, EncoderPacketsAndRoundTrips)
{
    Bytes out(1024);
    // Two different pixels: one raw packet of two.
    const Bytes two = Hex("01 02 03 04 05 06");
    ASSERT_EQ(EncodeTargaRLE(two.data(), out.data(), 2, 3), 7u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 7), Hex("01 01 02 03 04 05 06"));
    // 200 equal pixels: a run of 128 and a run of 72.
    const Bytes same(400, 0x42);
    ASSERT_EQ(EncodeTargaRLE(same.data(), out.data(), 200, 2), 6u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), Hex("FF 42 42 C7 42 42"));
    // One pixel: a raw packet of one.
    ASSERT_EQ(EncodeTargaRLE(two.data(), out.data(), 1, 4), 5u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), Hex("00 01 02 03 04"));
    // A B C C: raw of two, then a run of two.
    const Bytes abcc = Hex("0A 0B 0C 0C");
    ASSERT_EQ(EncodeTargaRLE(abcc.data(), out.data(), 4, 1), 5u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), Hex("01 0A 0B 81 0C"));

    // Rows of mixed runs and noise decode back to themselves at every depth.
    for (std::uint8_t depth : {8, 16, 24, 32}) {
        const std::size_t bpp = TargaBytesPerPixel(depth);
        Bytes row = Noise(700 * bpp, depth, 3);
        Bytes packed(2 * row.size());
        const std::size_t n = EncodeTargaRLE(row.data(), packed.data(), 700, bpp);
        ASSERT_LE(n, packed.size());
        Bytes back(row.size());
        EXPECT_EQ(DecodeTargaRLE(packed.data(), n, back.data(), back.size(), depth), n);
        EXPECT_EQ(back, row);
    }
    EXPECT_EQ(DecodeTargaRLE(two.data(), two.size(), out.data(), 4, 12), 0u) << "unknown depth";
}

TEST(TargaRunLength, APacketCrossingARowEndCarriesIntoTheNextRow)
{
    // Rows of 3 one-byte pixels: a run of 5 and a raw packet of 4 both cross
    // the row ends.
    const Bytes packed = Hex("84 11 03 01 02 03 04");
    TTargaRLEReader reader(8);
    Bytes rows(9, 0);
    std::size_t at = 0;
    for (int row = 0; row < 3; ++row) {
        at += reader.Decode(packed.data() + at, packed.size() - at, rows.data() + 3 * row, 3);
        EXPECT_EQ(reader.Written(), 3u);
    }
    EXPECT_EQ(at, packed.size());
    EXPECT_EQ(rows, Hex("11 11 11 11 11 01 02 03 04"));
    // Data that ends early writes what it has and stops.
    TTargaRLEReader shortReader(24);
    Bytes dest(12, 0xEE);
    EXPECT_EQ(shortReader.Decode(Hex("03 01 02 03 04").data(), 5, dest.data(), 12), 4u);
    EXPECT_EQ(shortReader.Written(), 3u);
    EXPECT_EQ(dest[3], 0xEE);
}
