// BMP reading and writing, checked against ImageMagick and PIL as writers of
// the files we read and as decoders of the files we write.

#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "Streams.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using namespace testutil;

namespace {


// A picture with smooth ramps, hard edges and a few repeated colours.
RgbImage Pattern(int w, int h)
{
    RgbImage img;
    img.Width = w;
    img.Height = h;
    img.Rgb.resize(static_cast<std::size_t>(w) * h * 3);
    std::uint32_t seed = 12345;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &img.Rgb[(static_cast<std::size_t>(y) * w + x) * 3];
            seed = seed * 1103515245 + 12345;
            p[0] = static_cast<std::uint8_t>(x * 255 / std::max(1, w - 1));
            p[1] = static_cast<std::uint8_t>(y * 255 / std::max(1, h - 1));
            p[2] = static_cast<std::uint8_t>(((x / 4 + y / 3) & 1) ? 200 : (seed >> 16));
        }
    }
    return img;
}

void Put16(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x)
{
    v[at] = static_cast<std::uint8_t>(x);
    v[at + 1] = static_cast<std::uint8_t>(x >> 8);
}

void Put32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v[at + i] = static_cast<std::uint8_t>(x >> (8 * i));
}

std::uint32_t Get32(const std::vector<std::uint8_t>& v, std::size_t at)
{
    return v[at] | (v[at + 1] << 8) | (v[at + 2] << 16) | (static_cast<std::uint32_t>(v[at + 3]) << 24);
}

// Hand-made BMP files for the cases the outside writers do not produce.
struct BmpSpec {
    std::uint32_t HeaderSize = 40;
    std::int32_t Width = 1;
    std::int32_t Height = 1;
    std::uint16_t Planes = 1;
    std::uint16_t Bits = 24;
    std::uint32_t Compression = 0;
    std::uint32_t ClrUsed = 0;
    std::vector<std::uint32_t> Masks;      // inside the header (52 bytes and more)
    std::vector<std::uint32_t> MasksAfter; // after a 40-byte header
    std::vector<std::uint32_t> Colours;    // 0x00RRGGBB, written as RGBQUAD or RGB triple
    std::vector<std::uint8_t> Pixels;
    std::optional<std::uint32_t> OffBits;

    std::vector<std::uint8_t> Build() const
    {
        const std::size_t entry = HeaderSize == 12 ? 3 : 4;
        const std::size_t off = 14 + HeaderSize + MasksAfter.size() * 4 + Colours.size() * entry;
        std::vector<std::uint8_t> v(off, 0);
        v[0] = 'B';
        v[1] = 'M';
        Put32(v, 10, OffBits.value_or(static_cast<std::uint32_t>(off)));
        Put32(v, 14, HeaderSize);
        if (HeaderSize == 12) {
            Put16(v, 18, static_cast<std::uint32_t>(Width));
            Put16(v, 20, static_cast<std::uint32_t>(Height));
            Put16(v, 22, Planes);
            Put16(v, 24, Bits);
        } else {
            Put32(v, 18, static_cast<std::uint32_t>(Width));
            Put32(v, 22, static_cast<std::uint32_t>(Height));
            Put16(v, 26, Planes);
            Put16(v, 28, Bits);
            Put32(v, 30, Compression);
            Put32(v, 34, static_cast<std::uint32_t>(Pixels.size()));
            Put32(v, 46, ClrUsed);
            for (std::size_t i = 0; i < Masks.size(); ++i)
                Put32(v, 54 + 4 * i, Masks[i]);
        }
        std::size_t at = 14 + HeaderSize;
        for (std::uint32_t m : MasksAfter) {
            Put32(v, at, m);
            at += 4;
        }
        for (std::uint32_t c : Colours) {
            v[at] = static_cast<std::uint8_t>(c);
            v[at + 1] = static_cast<std::uint8_t>(c >> 8);
            v[at + 2] = static_cast<std::uint8_t>(c >> 16);
            at += entry;
        }
        v.insert(v.end(), Pixels.begin(), Pixels.end());
        Put32(v, 2, static_cast<std::uint32_t>(v.size()));
        return v;
    }
};

void LoadBytes(const std::vector<std::uint8_t>& bytes, TBitmap& bitmap)
{
    TMemoryStream stream(bytes);
    bitmap.LoadFromStream(stream);
}

// ImageMagick's decoding of a file as 8-bit RGB.
RgbImage MagickDecode(const TempDir& dir, const std::string& file)
{
    std::string out = dir.File("magick.ppm");
    auto r = testutil::Run(Tool("convert") + " " + Quote(file) + " -depth 8 ppm:" + Quote(out));
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    return ReadPpm(out);
}

// PIL's decoding of a file as 8-bit RGB.
RgbImage PilDecode(const TempDir& dir, const std::string& file)
{
    std::string out = dir.File("pil.ppm");
    auto r = testutil::Run(PythonWithPil() + " -c " +
                 Quote("import sys; from PIL import Image; Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])") +
                 " " + Quote(file) + " " + Quote(out));
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    return ReadPpm(out);
}

void ExpectPicDumpEquals(const std::string& file, const RgbImage& expected, const std::string& what)
{
    DumpResult d = PicDump(file);
    ASSERT_TRUE(d.Ok) << what << ": " << d.Error;
    ASSERT_EQ(d.Image.Width, expected.Width) << what;
    ASSERT_EQ(d.Image.Height, expected.Height) << what;
    EXPECT_EQ(MaxDifference(d.Image, expected), 0) << what;
}


// Expects the load to fail with the class and a message containing text.
template <class E>
void ExpectLoadError(const std::vector<std::uint8_t>& bytes, const std::string& text, const std::string& what)
{
    TBitmap b;
    try {
        LoadBytes(bytes, b);
        ADD_FAILURE() << what << ": no exception";
    } catch (const E& e) {
        EXPECT_NE(e.Message.find(text), std::string::npos) << what << ": " << e.Message;
    } catch (const Exception& e) {
        ADD_FAILURE() << what << ": " << e.ClassName() << ": " << e.Message;
    }
}

} // namespace

TEST(BmpRead, EveryImageMagickVariantMatchesImageMagick)
{
    TempDir dir;
    for (auto [w, h] : {std::pair{37, 21}, std::pair{1, 1}, std::pair{6, 3}}) {
        std::string src = dir.File("src.ppm");
        WritePpm(src, Pattern(w, h));
        std::string alpha = "-alpha set -channel A -fx i/w +channel ";
        // Options, then the header size, bit count and compression the file must have.
        struct Case {
            std::string Options;
            std::uint32_t Header, Bits, Compression;
        };
        const Case cases[] = {
            {"-type TrueColor BMP3:", 40, 24, 0},
            {"-type TrueColor BMP:", 124, 24, 0},
            {"-type TrueColor BMP2:", 12, 24, 0},
            {"-type Palette -compress None BMP3:", 40, 8, 0},
            {"-type Palette -compress None BMP:", 124, 8, 0},
            {"-type Palette -compress RLE BMP3:", 40, 8, 1},
            {"-type Palette BMP2:", 12, 8, 0},
            {"-colors 16 -type Palette -compress None BMP3:", 40, 4, 0},
            {"-monochrome BMP3:", 40, 1, 0},
            {"-define bmp:subtype=RGB565 BMP:", 124, 16, 3},
            {"-define bmp:subtype=RGB555 BMP:", 124, 16, 3},
            {alpha + "-define bmp:subtype=ARGB1555 BMP:", 124, 16, 3},
            {alpha + "-define bmp:subtype=ARGB8888 BMP:", 124, 32, 3},
        };
        for (const Case& c : cases) {
            std::string what = c.Options + " " + std::to_string(w) + "x" + std::to_string(h);
            std::string file = dir.File("im.bmp");
            auto r = testutil::Run(Tool("convert") + " " + Quote(src) + " " + c.Options + Quote(file));
            ASSERT_EQ(r.ExitCode, 0) << what << r.Output;
            auto bytes = ReadFile(file);
            ASSERT_GE(bytes.size(), 30u);
            // Makes sure the tool wrote the variant this case is about (a
            // tiny palette picture may be stored in fewer bits).
            ASSERT_EQ(Get32(bytes, 14), c.Header) << what;
            if (w > 8) {
                ASSERT_EQ(bytes[c.Header == 12 ? 24 : 28], c.Bits) << what;
                if (c.Header != 12) {
                    ASSERT_EQ(Get32(bytes, 30), c.Compression) << what;
                }
            }
            ExpectPicDumpEquals(file, MagickDecode(dir, file), what);
        }
    }
}

TEST(BmpRead, PilFilesMatchPil)
{
    const std::string Python = PythonWithPil();
    TempDir dir;
    std::string src = dir.File("src.ppm");
    WritePpm(src, Pattern(29, 17));
    for (std::string mode : {"1", "L", "P", "RGB", "RGBA"}) {
        std::string file = dir.File("pil.bmp");
        std::string script = "import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                             "m = sys.argv[3]; "
                             "im = im.convert('P', palette=Image.ADAPTIVE, colors=77) if m == 'P' else im.convert(m); "
                             "im.save(sys.argv[2])";
        auto r = testutil::Run(Python + " -c " + Quote(script) + " " + Quote(src) + " " + Quote(file) + " " + mode);
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        ExpectPicDumpEquals(file, PilDecode(dir, file), "PIL mode " + mode);
    }
}

TEST(BmpRead, PixelFormatsFollowTheFile)
{
    struct Case {
        std::uint16_t Bits;
        std::uint32_t Compression;
        std::vector<std::uint32_t> MasksAfter;
        TPixelFormat Expected;
    };
    const Case cases[] = {
        {1, 0, {}, pf1bit},
        {4, 0, {}, pf4bit},
        {8, 0, {}, pf8bit},
        {16, 0, {}, pf15bit},
        {16, 3, {0x7C00, 0x03E0, 0x001F}, pf15bit},
        {16, 3, {0xF800, 0x07E0, 0x001F}, pf16bit},
        {16, 3, {0x0F00, 0x00F0, 0x000F}, pf24bit},
        {24, 0, {}, pf24bit},
        {32, 0, {}, pf32bit},
        {32, 3, {0x00FF0000, 0x0000FF00, 0x000000FF}, pf32bit},
        {32, 3, {0x000000FF, 0x0000FF00, 0x00FF0000}, pf24bit},
    };
    for (const Case& c : cases) {
        BmpSpec s;
        s.Width = 3;
        s.Height = 2;
        s.Bits = c.Bits;
        s.Compression = c.Compression;
        s.MasksAfter = c.MasksAfter;
        if (c.Bits <= 8)
            s.Colours = {0x000000, 0xFFFFFF};
        s.Pixels.assign(BytesPerScanline(3, c.Bits) * 2, 0);
        TBitmap b;
        LoadBytes(s.Build(), b);
        EXPECT_EQ(b.PixelFormat(), c.Expected) << c.Bits << " bits, compression " << c.Compression;
        EXPECT_EQ(b.Width(), 3);
        EXPECT_EQ(b.Height(), 2);
    }
}

TEST(BmpRead, BitFieldsAreWidenedByBitReplication)
{
    // 16 bits as 4-4-4 (alpha in the top nibble) and 32 bits as 10-10-10.
    BmpSpec s16;
    s16.HeaderSize = 56;
    s16.Width = 3;
    s16.Bits = 16;
    s16.Compression = 3;
    s16.Masks = {0x0F00, 0x00F0, 0x000F, 0xF000};
    s16.Pixels = {0x5F, 0xFA, 0x00, 0x01, 0x21, 0xF8, 0, 0}; // 0xFA5F, 0x0100, 0xF821
    TBitmap b;
    LoadBytes(s16.Build(), b);
    ASSERT_EQ(b.PixelFormat(), pf24bit);
    EXPECT_EQ(b.GetPixelColor(0, 0), RGB(0xAA, 0x55, 0xFF));
    EXPECT_EQ(b.GetPixelColor(1, 0), RGB(0x11, 0x00, 0x00));
    EXPECT_EQ(b.GetPixelColor(2, 0), RGB(0x88, 0x22, 0x11));

    // 6-5-5: widths that do not divide 8 repeat their top bits too.
    s16.Masks = {0xFC00, 0x03E0, 0x001F, 0};
    s16.Pixels = {0xFF, 0xFF, 0x21, 0x84, 0, 0, 0, 0}; // 0xFFFF, 0x8421
    LoadBytes(s16.Build(), b);
    EXPECT_EQ(b.GetPixelColor(0, 0), RGB(0xFF, 0xFF, 0xFF));
    EXPECT_EQ(b.GetPixelColor(1, 0), RGB(0x86, 0x08, 0x08));

    BmpSpec s32;
    s32.Width = 2;
    s32.Bits = 32;
    s32.Compression = 3;
    s32.MasksAfter = {0x3FF00000, 0x000FFC00, 0x000003FF};
    auto px = [](std::uint32_t r, std::uint32_t g, std::uint32_t bl) { return (r << 20) | (g << 10) | bl; };
    std::uint32_t a = px(0x3FF, 0x200, 0x003), c = px(0x1FF, 0, 0x004);
    s32.Pixels.resize(8);
    for (int i = 0; i < 4; ++i) {
        s32.Pixels[i] = static_cast<std::uint8_t>(a >> (8 * i));
        s32.Pixels[4 + i] = static_cast<std::uint8_t>(c >> (8 * i));
    }
    LoadBytes(s32.Build(), b);
    ASSERT_EQ(b.PixelFormat(), pf24bit);
    EXPECT_EQ(b.GetPixelColor(0, 0), RGB(0xFF, 0x80, 0x00));
    EXPECT_EQ(b.GetPixelColor(1, 0), RGB(0x7F, 0x00, 0x01));

    // A mask that is not one run of bits is refused.
    s16.Masks = {0x0F0F, 0x00F0, 0x0000, 0};
    ExpectLoadError<EInvalidGraphic>(s16.Build(), "masques", "split mask");
}

TEST(BmpRead, HeaderVersionsAndRowOrderGiveOnePicture)
{
    // The same 5x3 24-bit picture in every header version, bottom-up and top-down.
    const int w = 5, h = 3;
    const std::size_t stride = BytesPerScanline(w, 24);
    std::vector<std::uint8_t> bottomUp(stride * h, 0), topDown(stride * h, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                auto v = static_cast<std::uint8_t>(x * 50 + y * 70 + c * 20);
                bottomUp[(h - 1 - y) * stride + x * 3 + c] = v;
                topDown[y * stride + x * 3 + c] = v;
            }
    BmpSpec base;
    base.Width = w;
    base.Height = h;
    base.Pixels = bottomUp;
    TBitmap reference;
    LoadBytes(base.Build(), reference);
    RgbImage expected = FromBitmap(reference);
    EXPECT_EQ(expected.At(4, 0)[0], 4 * 50 + 40);

    TempDir dir;
    for (std::uint32_t size : {12u, 40u, 52u, 56u, 64u, 108u, 124u}) {
        for (bool flip : {false, true}) {
            if (flip && size == 12)
                continue;
            BmpSpec s = base;
            s.HeaderSize = size;
            if (size >= 52 && size != 64)
                s.Masks = {0x00FF0000, 0x0000FF00, 0x000000FF};
            if (flip) {
                s.Height = -h;
                s.Pixels = topDown;
            }
            TBitmap b;
            LoadBytes(s.Build(), b);
            EXPECT_EQ(MaxDifference(FromBitmap(b), expected), 0) << size << (flip ? " top-down" : "");
            if (size == 40 && flip) {
                std::string file = dir.File("topdown.bmp");
                WriteFile(file, s.Build());
                EXPECT_EQ(MaxDifference(MagickDecode(dir, file), expected), 0);
            }
        }
    }
}

TEST(BmpRead, RlePicturesMatchImageMagick)
{
    TempDir dir;
    std::vector<std::uint32_t> colours;
    for (std::uint32_t i = 0; i < 16; ++i)
        colours.push_back((i * 17) << 16 | (255 - i * 16) << 8 | (i * 40 % 256));
    // Runs, end of line, an odd absolute run with its pad byte, a delta
    // (the skipped pixels stay index 0) and the end of the picture.
    BmpSpec rle8;
    rle8.Width = 9;
    rle8.Height = 4;
    rle8.Bits = 8;
    rle8.Compression = 1;
    rle8.Colours = colours;
    rle8.ClrUsed = 16;
    rle8.Pixels = {3, 5, 0, 3, 7, 8, 9, 0, 2, 10, 0, 0, // bottom row: 5 5 5 7 8 9 10 10, last pixel left
                   0, 2, 2, 1, 4, 3,                   // delta (2, 1): next row left, 3 3 3 3 from x = 2
                   0, 0, 9, 11,                        // top row all 11
                   0, 1};
    std::string file = dir.File("rle8.bmp");
    WriteFile(file, rle8.Build());
    ExpectPicDumpEquals(file, MagickDecode(dir, file), "RLE8");

    BmpSpec rle4 = rle8;
    rle4.Bits = 4;
    rle4.Compression = 2;
    rle4.Pixels = {5, 0x12, 0, 3, 0xAB, 0xC0, 0, 0,  // bottom row: 1 2 1 2 1 A B C
                   0, 5, 0x34, 0x56, 0x70, 0,        // next: 3 4 5 6 7 (odd run, word padded)
                   0, 0, 0, 2, 3, 1, 2, 0xEF, 0, 0, // delta (3, 1) to the top row, then E F
                   0, 1};
    file = dir.File("rle4.bmp");
    WriteFile(file, rle4.Build());
    ExpectPicDumpEquals(file, MagickDecode(dir, file), "RLE4");
}

TEST(BmpRead, RleRunsAreClippedToThePicture)
{
    BmpSpec s;
    s.Width = 4;
    s.Height = 2;
    s.Bits = 8;
    s.Compression = 1;
    s.Colours = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF};
    // A run of 200 on a 4-pixel row, an absolute run past the row, a delta
    // past the picture; no end mark after the last row.
    s.Pixels = {200, 1, 0, 0, 0, 6, 2, 3, 2, 3, 2, 3, 0, 2, 9, 9, 7, 2};
    TBitmap b;
    LoadBytes(s.Build(), b);
    ASSERT_EQ(b.PixelFormat(), pf8bit);
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(b.GetRawPixel(x, 1), 1u) << x;
        EXPECT_EQ(b.GetRawPixel(x, 0), x % 2 ? 3u : 2u) << x;
    }

    // RLE4 run longer than the row, then the end of the picture: the
    // untouched row stays index 0.
    s.Bits = 4;
    s.Compression = 2;
    s.Pixels = {9, 0x12, 0, 1};
    LoadBytes(s.Build(), b);
    ASSERT_EQ(b.PixelFormat(), pf4bit);
    EXPECT_EQ(b.GetRawPixel(0, 1), 1u);
    EXPECT_EQ(b.GetRawPixel(3, 1), 2u);
    EXPECT_EQ(b.GetRawPixel(2, 0), 0u);
}

TEST(BmpRead, ColourTables)
{
    // Fewer entries than the bit count allows, and pixel values past them.
    BmpSpec s;
    s.Width = 4;
    s.Height = 1;
    s.Bits = 8;
    s.ClrUsed = 2;
    s.Colours = {0x102030, 0x405060};
    s.Pixels = {0, 1, 2, 255};
    TBitmap b;
    LoadBytes(s.Build(), b);
    EXPECT_EQ(b.GetPalette().size(), 2u);
    EXPECT_EQ(b.GetPixelColor(1, 0), RGB(0x40, 0x50, 0x60));
    EXPECT_EQ(b.GetRawPixel(3, 0), 255u);
    TBitmap shown(4, 1);
    shown.Canvas().Draw(0, 0, b);
    EXPECT_EQ(shown.GetPixelColor(0, 0), RGB(0x10, 0x20, 0x30));

    // A table cut short by the pixel offset keeps the entries before it.
    s.ClrUsed = 0;
    s.Colours = {0x102030, 0x405060, 0x708090};
    s.OffBits = 14 + 40 + 2 * 4;
    auto bytes = s.Build();
    bytes.erase(bytes.begin() + 14 + 40 + 8, bytes.begin() + 14 + 40 + 12);
    LoadBytes(bytes, b);
    EXPECT_EQ(b.GetPalette().size(), 2u);

    // OS/2 core files: RGB triples.
    BmpSpec core;
    core.HeaderSize = 12;
    core.Width = 2;
    core.Height = 1;
    core.Bits = 1;
    core.Colours = {0xFF0000, 0x00FF00};
    core.Pixels = {0x40, 0, 0, 0};
    LoadBytes(core.Build(), b);
    EXPECT_EQ(b.GetPixelColor(0, 0), RGB(0xFF, 0, 0));
    EXPECT_EQ(b.GetPixelColor(1, 0), RGB(0, 0xFF, 0));
}

TEST(BmpRead, ReadsFromTheStreamPositionAndStopsAfterThePixels)
{
    BmpSpec s;
    s.Width = 3;
    s.Height = 2;
    s.Pixels.assign(24, 0x7F);
    auto bmp = s.Build();
    // Five bytes before the file, one after it.
    TMemoryStream stream;
    const std::uint8_t other[5] = {1, 2, 3, 4, 5};
    stream.WriteBuffer(other, 5);
    stream.WriteBuffer(bmp.data(), bmp.size());
    stream.WriteBuffer(other, 1);
    stream.SetPosition(5);
    TBitmap b;
    b.LoadFromStream(stream);
    EXPECT_EQ(b.Width(), 3);
    EXPECT_EQ(b.GetPixelColor(2, 1), RGB(0x7F, 0x7F, 0x7F));
    EXPECT_EQ(stream.Position(), static_cast<std::int64_t>(5 + bmp.size()));
}

TEST(BmpRead, MalformedFilesRaiseClearErrors)
{
    std::optional<TPixelBudgetScope> budget(std::in_place, 1 << 24);
    BmpSpec good;
    good.Width = 4;
    good.Height = 4;
    good.Pixels.assign(BytesPerScanline(4, 24) * 4, 0);
    auto base = good.Build();

    auto with = [&](const std::function<void(BmpSpec&)>& change) {
        BmpSpec s = good;
        change(s);
        return s.Build();
    };
    auto truncated = [&](std::size_t n) { return std::vector<std::uint8_t>(base.begin(), base.begin() + n); };
    auto patched = [&](std::size_t at, std::uint32_t v) {
        auto b = base;
        Put32(b, at, v);
        return b;
    };

    ExpectLoadError<EInvalidGraphic>(truncated(5), "L'image bitmap n'est pas valide (", "file header cut");
    ExpectLoadError<EInvalidGraphic>(truncated(30), "en-tête tronqué", "info header cut");
    ExpectLoadError<EInvalidGraphic>(truncated(base.size() - 20), "(données tronquées)", "rows cut");
    ExpectLoadError<EInvalidGraphic>(patched(0, 0x12345678), "signature", "no BM");
    ExpectLoadError<EInvalidGraphic>(patched(14, 41), "taille d'en-tête", "header size 41");
    ExpectLoadError<EInvalidGraphic>(patched(10, 0x10000), "au-delà de la fin", "pixels past the end");
    ExpectLoadError<EInvalidGraphic>(patched(10, 20), "décalage des pixels", "pixels inside the header");
    ExpectLoadError<EInvalidGraphic>(with([](BmpSpec& s) { s.Planes = 0; }), "plans", "zero planes");
    ExpectLoadError<EInvalidGraphic>(with([](BmpSpec& s) { s.Width = -4; }), "largeur", "negative width");
    ExpectLoadError<EInvalidGraphic>(with([](BmpSpec& s) { s.Height = INT32_MIN; }), "hauteur", "height -2^31");
    ExpectLoadError<EInvalidGraphic>(with([](BmpSpec& s) { s.Bits = 7; }), "bits par pixel", "7 bits");
    ExpectLoadError<EInvalidGraphic>(with([](BmpSpec& s) { s.Bits = 0, s.Compression = 4; }), "JPEG", "JPEG inside");
    ExpectLoadError<EInvalidGraphic>(with([](BmpSpec& s) { s.Bits = 0, s.Compression = 5; }), "PNG", "PNG inside");
    ExpectLoadError<EInvalidGraphic>(with([](BmpSpec& s) { s.Compression = 9; }), "compression inconnue", "bad compression");
    ExpectLoadError<EInvalidGraphic>(with([](BmpSpec& s) { s.Compression = 1; }), "RLE8", "RLE8 with 24 bits");
    ExpectLoadError<EInvalidGraphic>(with([](BmpSpec& s) {
        s.Bits = 8, s.Compression = 1, s.Height = -4, s.Colours = {0, 0xFFFFFF};
    }), "haut en bas", "top-down RLE");
    ExpectLoadError<EInvalidGraphic>(with([](BmpSpec& s) {
        s.Bits = 8, s.Compression = 1, s.Colours = {0, 0xFFFFFF}, s.Pixels = {4, 1, 0, 5, 1, 2};
    }), "RLE tronquées", "RLE absolute run cut");
    ExpectLoadError<EInvalidGraphic>(with([](BmpSpec& s) {
        s.Bits = 8, s.Compression = 1, s.Colours = {0, 0xFFFFFF}, s.Pixels = {4, 1, 0, 0};
    }), "RLE tronquées", "RLE without end");
    auto noMasks = with([](BmpSpec& s) { s.Compression = 3, s.Bits = 16; });
    noMasks.resize(14 + 40 + 8);
    ExpectLoadError<EInvalidGraphic>(noMasks, "masques de couleurs tronqués", "bit fields cut");
    ExpectLoadError<EOutOfMemory>(with([](BmpSpec& s) { s.Width = 100000, s.Height = 100000; }), "Image trop grande",
                                  "over the budget");

    budget.reset();

    // A failed load never leaves a half-read picture: errors found in the
    // headers leave the bitmap as it was, errors in compressed data empty it.
    TBitmap b(8, 8);
    EXPECT_THROW(LoadBytes(truncated(base.size() - 20), b), EInvalidGraphic);
    EXPECT_EQ(b.Width(), 8);
    EXPECT_THROW(LoadBytes(with([](BmpSpec& s) {
                     s.Bits = 8, s.Compression = 1, s.Colours = {0, 0xFFFFFF}, s.Pixels = {4, 1, 0, 0};
                 }), b),
                 EInvalidGraphic);
    EXPECT_TRUE(b.Empty());

    // DIBs without file header: the colour table and rows must fit.
    std::vector<std::uint8_t> dib(base.begin() + 14, base.end());
    TBitmap d;
    ReadDib(dib.data(), dib.size(), d);
    EXPECT_EQ(d.Width(), 4);
    EXPECT_THROW(ReadDib(dib.data(), dib.size() - 20, d), EInvalidGraphic);
    Put32(dib, 32, 0x40000000); // biClrUsed: a huge table before the rows
    EXPECT_THROW(ReadDib(dib.data(), dib.size(), d), EInvalidGraphic);
    EXPECT_THROW(ReadDib(dib.data(), 3, d), EInvalidGraphic);
}

TEST(BmpWrite, EveryPixelFormatReadsBackInImageMagickAndPil)
{
    TempDir dir;
    RgbImage pattern = Pattern(23, 11);
    TBitmap source(23, 11, pf24bit);
    for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 23; ++x)
            source.SetPixelColor(x, y, RGB(pattern.At(x, y)[0], pattern.At(x, y)[1], pattern.At(x, y)[2]));

    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
        TBitmap b;
        b.Assign(source);
        b.SetPixelFormat(format);
        RgbImage expected = FromBitmap(b);
        std::string what = "format " + std::to_string(static_cast<int>(format));
        std::string file = dir.File("ours.bmp");
        b.SaveToFile(file);

        auto bytes = ReadFile(file);
        ASSERT_GE(bytes.size(), 54u);
        EXPECT_EQ(Get32(bytes, 14), 40u) << what;
        EXPECT_EQ(bytes[28], b.BitsPerPixel()) << what;
        EXPECT_EQ(Get32(bytes, 30), format == pf16bit ? 3u : 0u) << what;
        EXPECT_EQ(Get32(bytes, 38), 0u) << what;
        EXPECT_EQ(Get32(bytes, 42), 0u) << what;
        EXPECT_EQ(Get32(bytes, 2), bytes.size()) << what;
        if (format <= pf8bit) {
            EXPECT_EQ(Get32(bytes, 46), b.GetPalette().size()) << what;
        }
        if (format == pf16bit) {
            EXPECT_EQ(Get32(bytes, 54), 0xF800u);
            EXPECT_EQ(Get32(bytes, 58), 0x07E0u);
            EXPECT_EQ(Get32(bytes, 62), 0x001Fu);
        }

        // The outside tools widen 5- and 6-bit channels by scaling, where
        // we repeat the bits: one step apart at most.
        const int tolerance = (format == pf15bit || format == pf16bit) ? 1 : 0;
        EXPECT_LE(MaxDifference(PilDecode(dir, file), expected), tolerance) << what << " (PIL)";
        EXPECT_LE(MaxDifference(MagickDecode(dir, file), expected), tolerance) << what << " (ImageMagick)";

        // And back through our reader, in the same format.
        TBitmap back;
        back.LoadFromFile(file);
        EXPECT_EQ(back.PixelFormat(), format) << what;
        EXPECT_EQ(MaxDifference(FromBitmap(back), expected), 0) << what;
    }
}

TEST(BmpWrite, DibIsTheFileWithoutItsHeader)
{
    TBitmap b(5, 3, pf8bit);
    TPalette pal(7);
    for (std::size_t i = 0; i < pal.size(); ++i)
        pal[i] = TPaletteEntry{static_cast<std::uint8_t>(i * 30), 5, 9, 0};
    b.SetPalette(pal);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            b.SetRawPixel(x, y, static_cast<std::uint32_t>((x + y) % 7));
    TMemoryStream file;
    b.SaveToStream(file);
    std::vector<std::uint8_t> dib = WriteDib(b);
    ASSERT_EQ(dib.size() + 14, file.Data().size());
    EXPECT_TRUE(std::equal(dib.begin(), dib.end(), file.Data().begin() + 14));
    EXPECT_EQ(Get32(file.Data(), 10), 14u + 40 + 7 * 4);

    TBitmap back;
    ReadDib(dib.data(), dib.size(), back);
    EXPECT_EQ(back.PixelFormat(), pf8bit);
    EXPECT_EQ(back.GetPalette(), pal);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(back.GetRawPixel(x, y), b.GetRawPixel(x, y));

    // The clipboard goes the same way.
    TClipboardFormat format = 0;
    TClipboardData data;
    TPalette clipPalette;
    b.SaveToClipboardFormat(format, data, clipPalette);
    TBitmap pasted;
    pasted.LoadFromClipboardFormat(format, data, clipPalette);
    EXPECT_EQ(MaxDifference(FromBitmap(pasted), FromBitmap(b)), 0);
}

TEST(BmpWrite, PicturesWithoutPixelsRoundTrip)
{
    // Found by fuzzing: a file of width 0 and some height gave a bitmap whose
    // rows have no bytes, and writing it passed a null row to the copy.
    BmpSpec s;
    s.Width = 0;
    s.Height = 5;
    TBitmap b;
    LoadBytes(s.Build(), b);
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.Height(), 5);
    TMemoryStream out;
    b.SaveToStream(out);
    EXPECT_EQ(out.Data().size(), 54u);
    TBitmap back;
    LoadBytes(out.Data(), back);
    EXPECT_TRUE(back.Empty());
}

TEST(BmpRead, APictureOfNoSizeIsRefused)
{
    // 0 x 0 in a Windows header, at 8 bits with a table, and in an OS/2 one.
    BmpSpec plain;
    plain.Width = 0;
    plain.Height = 0;
    BmpSpec table = plain;
    table.Bits = 8;
    table.Colours = {0xFF0000, 0x00FF00};
    BmpSpec core = plain;
    core.HeaderSize = 12;
    for (const auto& [layout, what] : {std::pair{plain, "24 bits"}, {table, "8 bits"}, {core, "core header"}})
        ExpectLoadError<EInvalidGraphic>(layout.Build(), "L'image bitmap n'est pas valide (image vide de 0 x 0 pixels)",
                                         what);
    // The bitmap keeps what it held; a DIB from the clipboard is refused too.
    TBitmap b(3, 2);
    EXPECT_THROW(LoadBytes(plain.Build(), b), EInvalidGraphic);
    EXPECT_EQ(b.Width(), 3);
    EXPECT_EQ(b.Height(), 2);
    const std::vector<std::uint8_t> dib = plain.Build();
    EXPECT_THROW(ReadDib(dib.data() + 14, dib.size() - 14, b), EInvalidGraphic);
}

TEST(BmpRead, PixelsNeverStartInsideAStatedColourTable)
{
    // 2 x 2 at 8 bits with a table of four colours, stated in the header.
    BmpSpec s;
    s.Width = 2;
    s.Height = 2;
    s.Bits = 8;
    s.ClrUsed = 4;
    s.Colours = {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    s.Pixels = {0, 1, 0, 0, 2, 3, 0, 0};
    TBitmap good;
    LoadBytes(s.Build(), good);
    EXPECT_EQ(good.GetPixelColor(1, 1), RGB(0, 255, 0));
    // The offset two entries into the table: those bytes are no pixels.
    s.OffBits = 14 + 40 + 2 * 4;
    ExpectLoadError<EInvalidGraphic>(s.Build(), "table des couleurs", "offset inside the table");
    // A table of implied size may end where the pixels start.
    s.ClrUsed = 0;
    s.Colours = {0xFF0000, 0x00FF00};
    s.OffBits = std::nullopt;
    s.Pixels = {0, 1, 0, 0, 1, 0, 0, 0};
    TBitmap shortTable;
    LoadBytes(s.Build(), shortTable);
    EXPECT_EQ(shortTable.GetPixelColor(0, 0), RGB(0, 255, 0));
    EXPECT_EQ(shortTable.GetPixelColor(1, 0), RGB(255, 0, 0));
}
