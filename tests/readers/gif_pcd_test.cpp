// The first-image GIF reader, loaded through its class (the GIF image class
// answers "gif" in the registry): files from ImageMagick and gifsicle, and
// hand-made files for the descriptor, interlacing and extension cases.
// Photo-CD packs written by ImageMagick, with the orientation byte set by
// hand: sizes and the direction of each turn as ImageMagick shows them, and
// the colour formula on plain areas.

#include "ImageReaders.h"
#include "ReaderTestFiles.h"

#include <cfenv>
#include <cmath>
#include <string>

using namespace readertest;
using testutil::Quote;

namespace {

testutil::RgbImage LoadGif(const std::string& path)
{
    TGIFGraphic gif;
    gif.LoadFromFile(path);
    return testutil::FromBitmap(gif);
}

struct GifOptions {
    int ScreenWidth = 0; // 0: the image's
    int DescriptorWidth = -1; // -1: the image's
    bool Interlaced = false;
    Bytes Extensions = {}; // between the colour table and the image
    int CodeSize = 8;
};

std::uint8_t GifIndex(int x, int y)
{
    return static_cast<std::uint8_t>(x * 17 + y * 31);
}

TPaletteEntry GifColour(int k)
{
    return TPaletteEntry{static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k * 7), static_cast<std::uint8_t>(255 - k),
                         0};
}

// A GIF of width x height whose data holds every pixel as a 9-bit literal
// code, with a clear code before the table would widen the codes.
Bytes GifFile(int width, int height, const GifOptions& o)
{
    Bytes b = {'G', 'I', 'F', '8', '9', 'a', 0, 0, 0, 0, 0xF7, 0, 0};
    PutLE16(b, 6, static_cast<unsigned>(o.ScreenWidth ? o.ScreenWidth : width));
    PutLE16(b, 8, static_cast<unsigned>(height));
    for (int k = 0; k < 256; ++k) {
        const TPaletteEntry e = GifColour(k);
        b.insert(b.end(), {e.peRed, e.peGreen, e.peBlue});
    }
    b.insert(b.end(), o.Extensions.begin(), o.Extensions.end());
    Bytes d(10, 0);
    d[0] = ',';
    PutLE16(d, 5, static_cast<unsigned>(o.DescriptorWidth >= 0 ? o.DescriptorWidth : width));
    PutLE16(d, 7, static_cast<unsigned>(height));
    d[9] = o.Interlaced ? 0x40 : 0;
    b.insert(b.end(), d.begin(), d.end());
    b.push_back(static_cast<std::uint8_t>(o.CodeSize));

    std::vector<int> rows;
    for (int pass = 0; pass < (o.Interlaced ? 4 : 1); ++pass) {
        static const int first[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
        for (int y = o.Interlaced ? first[pass] : 0; y < height; y += o.Interlaced ? step[pass] : 1)
            rows.push_back(y);
    }
    std::vector<unsigned> codes = {256};
    int sinceClear = 0;
    for (int y : rows)
        for (int x = 0; x < width; ++x) {
            if (sinceClear == 250) {
                codes.push_back(256);
                sinceClear = 0;
            }
            codes.push_back(GifIndex(x, y));
            ++sinceClear;
        }
    codes.push_back(257);
    Bytes data;
    std::uint32_t acc = 0;
    int bits = 0;
    for (unsigned c : codes) {
        acc |= c << bits;
        bits += 9;
        while (bits >= 8) {
            data.push_back(static_cast<std::uint8_t>(acc));
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0)
        data.push_back(static_cast<std::uint8_t>(acc));
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, data.size() - at);
        b.push_back(static_cast<std::uint8_t>(n));
        b.insert(b.end(), data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    b.push_back(0);
    b.push_back(';');
    return b;
}

testutil::RgbImage GifPicture(int width, int height)
{
    testutil::RgbImage image;
    image.Width = width;
    image.Height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const TPaletteEntry e = GifColour(GifIndex(x, y));
            image.Rgb.insert(image.Rgb.end(), {e.peRed, e.peGreen, e.peBlue});
        }
    return image;
}

} // namespace

TEST(GifFirstImage, HandMadeFilesAsImageMagickReadsThem)
{
    testutil::TempDir dir;
    // A comment whose data holds a zero byte, "," and ";" before its end,
    // and a graphic control extension making index 0 transparent.
    const Bytes comment = {'!', 0xFE, 6, 'a', 0, ',', ';', 0, 'b', 0};
    const Bytes control = {'!', 0xF9, 4, 1, 0, 0, 0, 0};
    Bytes extensions = comment;
    extensions.insert(extensions.end(), control.begin(), control.end());
    const struct {
        const char* Name;
        GifOptions Options;
    } files[] = {
        {"plain.gif", {}},
        {"interlaced.gif", {.Interlaced = true}},
        {"extensions.gif", {.Extensions = extensions}},
    };
    const testutil::RgbImage expected = GifPicture(23, 19);
    for (const auto& f : files) {
        SCOPED_TRACE(f.Name);
        const std::string path = dir.File(f.Name);
        testutil::WriteFile(path, GifFile(23, 19, f.Options));
        // The writer checked by ImageMagick (transparency off: the palette colour).
        Must(Tool("convert") + " " + Quote(path) + "[0] -alpha off " + Quote(dir.File("im.ppm")));
        ExpectSame(testutil::ReadPpm(dir.File("im.ppm")), expected);
        ExpectSame(LoadGif(path), expected);
    }

    TGIFGraphic gif;
    // Width 0 in the descriptor: the screen's.
    ASSERT_EQ(LoadError(gif, GifFile(23, 19, {.DescriptorWidth = 0})), "");
    ExpectSame(testutil::FromBitmap(gif), expected);
    // Code sizes the decoder cannot take.
    EXPECT_NE(LoadError(gif, GifFile(23, 19, {.CodeSize = 0})), "");
    EXPECT_NE(LoadError(gif, GifFile(23, 19, {.CodeSize = 12})), "");
    // The trailer before any image: no picture.
    Bytes empty = GifFile(4, 4, {});
    empty.resize(13 + 768);
    empty.push_back(';');
    EXPECT_EQ(LoadError(gif, empty), "");
    EXPECT_TRUE(gif.Empty());
    EXPECT_EQ(LoadError(gif, {'P', 'N', 'G', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}), "Not a valid GIF file.");
    // A picture no data of this size could encode: a code takes at least 9
    // bits and gives at most 4096 pixels.
    const std::string tooShort = "GIF: the file is too short for the picture it claims.";
    Bytes big = GifFile(1, 1, {});
    ASSERT_EQ(big.size(), 13 + 768 + 10 + 1 + 7u); // one block of 4 bytes, its end and the trailer
    auto claim = [&](unsigned width, unsigned height) {
        PutLE16(big, 13 + 768 + 5, width);
        PutLE16(big, 13 + 768 + 7, height);
        return LoadError(gif, big);
    };
    EXPECT_EQ(claim(16384, 16384), tooShort);
    // 7 bytes: 56 / 9 codes of 4096 pixels, 25486 pixels and no more.
    EXPECT_EQ(claim(2, 12743), "");
    EXPECT_EQ(gif.Height(), 12743);
    EXPECT_EQ(claim(1, 25487), tooShort);
    // Sizes beyond the pixel budget are refused.
    Bytes huge = GifFile(4, 4, {});
    PutLE16(huge, 13 + 768 + 5, 65535);
    PutLE16(huge, 13 + 768 + 7, 65535);
    EXPECT_NE(LoadError(gif, huge), "");
}

TEST(GifFirstImage, ImageMagickAndGifsicleFiles)
{
    testutil::TempDir dir;
    const std::string ppm = dir.File("colour.ppm");
    testutil::WritePpm(ppm, TestPicture(37, 21));
    const std::string gif = dir.File("im.gif");
    Must(Tool("convert") + " " + Quote(ppm) + " -colors 60 " + Quote(gif));
    Must(Tool("gifsicle") + " --interlace " + Quote(gif) + " -o " + Quote(dir.File("interlaced.gif")));
    Must(Tool("gifsicle") + " --transparent 0 " + Quote(gif) + " -o " + Quote(dir.File("transparent.gif")));
    Must(Tool("convert") + " " + Quote(gif) + " " + Quote(dir.File("im.ppm")));
    const testutil::RgbImage expected = testutil::ReadPpm(dir.File("im.ppm"));
    for (const char* name : {"im.gif", "interlaced.gif", "transparent.gif"}) {
        SCOPED_TRACE(name);
        ExpectSame(LoadGif(dir.File(name)), expected);
    }
}

namespace {

constexpr std::size_t Orientation = 0x0E02;
constexpr std::size_t SecondOrientation = 194635;

// An ImageMagick pack of a grey picture with a red, a green and a blue
// corner; answers its path.
std::string MakePack(const testutil::TempDir& dir)
{
    const std::string pack = dir.File("pack.pcd");
    Must(Tool("convert") + " -size 768x512 xc:gray50 -fill red -draw 'rectangle 0,0 191,127' -fill lime -draw "
                   "'rectangle 576,0 767,127' -fill blue -draw 'rectangle 576,384 767,511' " +
         Quote(pack));
    return pack;
}

// Where the picture is plainly red, green or blue, both must agree on which.
void ExpectSameLayout(const testutil::RgbImage& got, const testutil::RgbImage& expected)
{
    ASSERT_EQ(got.Width, expected.Width);
    ASSERT_EQ(got.Height, expected.Height);
    int compared = 0;
    const int step = std::max(1, expected.Width / 96);
    for (int y = 0; y < expected.Height; y += step)
        for (int x = 0; x < expected.Width; x += step) {
            const std::uint8_t* e = expected.At(x, y);
            const int strongest = static_cast<int>(std::max_element(e, e + 3) - e);
            bool plain = true;
            for (int c = 0; c < 3; ++c)
                if (c != strongest && e[strongest] - e[c] < 80)
                    plain = false;
            if (!plain)
                continue;
            ++compared;
            const std::uint8_t* g = got.At(x, y);
            ASSERT_EQ(std::max_element(g, g + 3) - g, strongest) << "at " << x << "," << y;
        }
    EXPECT_GT(compared, 100);
}

} // namespace

TEST(PhotoCd, FourOrientationsTurnAsImageMagickTurnsThem)
{
    RegisterReaderFormats();
    testutil::TempDir dir;
    const std::string pack = MakePack(dir);
    const Bytes bytes = testutil::ReadFile(pack);
    ASSERT_GT(bytes.size(), Orientation);
    for (int o = 0; o < 4; ++o) {
        SCOPED_TRACE("orientation " + std::to_string(o));
        Bytes turned = bytes;
        turned[Orientation] = static_cast<std::uint8_t>(0xF0 | o); // only the low bits count
        const std::string path = dir.File("turned" + std::to_string(o) + ".pcd");
        testutil::WriteFile(path, turned);
        // ImageMagick leaves orientation 2 as it is; the picture upside down
        // is a half turn.
        const std::string im = dir.File("im.ppm");
        Must(Tool("convert") + " " + Quote(path) + " -colorspace sRGB -depth 8 " + (o == 2 ? "-rotate 180 " : "") + Quote(im));
        const testutil::DumpResult dump = testutil::PicDump(path);
        ASSERT_TRUE(dump.Ok) << dump.Error;
        EXPECT_EQ(dump.Image.Width, o % 2 ? 512 : 768);
        const testutil::RgbImage expected = testutil::ReadPpm(im);
        ExpectSameLayout(dump.Image, expected);

        // The second orientation byte turns a pack whose attributes byte
        // says upright, and only such a pack.
        Bytes second = bytes;
        ASSERT_GT(second.size(), SecondOrientation);
        ASSERT_EQ(second[Orientation] & 3, 0);
        second[SecondOrientation] = static_cast<std::uint8_t>(0xF0 | o);
        testutil::WriteFile(path, second);
        const testutil::DumpResult viaSecond = testutil::PicDump(path);
        ASSERT_TRUE(viaSecond.Ok) << viaSecond.Error;
        ExpectSameLayout(viaSecond.Image, expected);
        if (o != 0) {
            turned[SecondOrientation] = static_cast<std::uint8_t>(o ^ 2);
            testutil::WriteFile(path, turned);
            const testutil::DumpResult both = testutil::PicDump(path);
            ASSERT_TRUE(both.Ok) << both.Error;
            ExpectSameLayout(both.Image, expected);
        }
    }
    UnregisterReaderFormats();
}

TEST(PhotoCd, APortraitPackFromImageMagickReadsUpright)
{
    RegisterReaderFormats();
    testutil::TempDir dir;
    const std::string pack = dir.File("portrait.pcd");
    Must(Tool("convert") + " -size 512x768 xc:gray50 -fill red -draw 'rectangle 0,0 127,191' -fill lime -draw "
                   "'rectangle 384,0 511,191' -fill blue -draw 'rectangle 0,576 127,767' " +
         Quote(pack));
    const std::string im = dir.File("im.ppm");
    Must(Tool("convert") + " " + Quote(pack) + " -colorspace sRGB -depth 8 " + Quote(im));
    const testutil::DumpResult dump = testutil::PicDump(pack);
    ASSERT_TRUE(dump.Ok) << dump.Error;
    EXPECT_EQ(dump.Image.Width, 512);
    ExpectSameLayout(dump.Image, testutil::ReadPpm(im));
    UnregisterReaderFormats();
}

TEST(PhotoCd, LowerResolutionsAndTheColourFormula)
{
    testutil::TempDir dir;
    const std::string pack = MakePack(dir);
    const Bytes bytes = testutil::ReadFile(pack);

    const struct {
        std::uint8_t Resolution;
        std::size_t Offset;
        int Width, Height;
        const char* Scene;
    } images[] = {{0, 0x2000, 192, 128, "[0]"}, {1, 0xB800, 384, 256, "[2]"}, {2, 0x30000, 768, 512, "[3]"}};
    for (const auto& image : images) {
        SCOPED_TRACE(image.Width);
        TPCDGraphic pcd;
        pcd.Resolution = image.Resolution;
        ASSERT_EQ(LoadError(pcd, bytes), "");
        const testutil::RgbImage got = testutil::FromBitmap(pcd);
        Must(Tool("convert") + " " + Quote(pack + image.Scene) + " -colorspace sRGB -depth 8 " + Quote(dir.File("im.ppm")));
        ExpectSameLayout(got, testutil::ReadPpm(dir.File("im.ppm")));

        // Inside the red corner luminance and chrominance are flat: the
        // pixel follows from the stored bytes of row 10 by the formula.
        const std::size_t w = static_cast<std::size_t>(image.Width);
        const std::size_t record = image.Offset + 5 * 3 * w;
        const long double l = bytes[record + 8], c1 = bytes[record + 2 * w + 4], c2 = bytes[record + 2 * w + w / 2 + 4];
        ASSERT_EQ(std::fegetround(), FE_TONEAREST);
        auto channel = [](long double v) { return static_cast<int>(std::clamp(std::nearbyint(v), 0.0L, 255.0L)); };
        const std::uint8_t* p = got.At(8, 10);
        EXPECT_EQ(p[0], channel(1.3584L * l + 1.8215L * (c2 - 137)));
        EXPECT_EQ(p[1], channel(1.3584L * l - 0.9271435L * (c2 - 137) - 0.4302726L * (c1 - 156)));
        EXPECT_EQ(p[2], channel(1.3584L * l + 2.2179L * (c1 - 156)));
    }

    TPCDGraphic pcd;
    pcd.Resolution = 3;
    EXPECT_EQ(LoadError(pcd, bytes), "PCD: image size currently not supported");
    // A pack cut short, in the image, before the attributes byte or before
    // the signature, names its format.
    const struct {
        std::uint8_t Resolution;
        std::size_t Size;
    } cuts[] = {{2, 0x40000}, {0, 0x3000}, {2, 3000}, {2, 1000}};
    for (const auto& cut : cuts) {
        SCOPED_TRACE(cut.Size);
        pcd.Resolution = cut.Resolution;
        EXPECT_EQ(LoadError(pcd, Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(cut.Size))),
                  "PCD: the file ends before the picture does.");
    }
    pcd.Resolution = 2;
    Bytes wrong = bytes;
    wrong[2048] = 'X';
    EXPECT_EQ(LoadError(pcd, wrong), "PCD: wrong image format.");
}
