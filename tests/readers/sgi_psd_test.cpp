// SGI and Photoshop files written by netpbm, ImageMagick and PIL (8 and 16
// bits, raw and run-length, every channel count and colour mode), read
// through the registry; hand-made files for the edge cases and for tables,
// counts and sizes that do not fit the file.

#include "ImageReaders.h"
#include "ReaderTestFiles.h"

#include <string>

using namespace readertest;
using testutil::Quote;

namespace {

struct Files {
    testutil::TempDir Dir;
    testutil::RgbImage Colour = TestPicture(13, 7);
    std::string Ppm = Dir.File("colour.ppm");
    std::string Pgm = Dir.File("grey.pgm");
    std::string GreyPpm = Dir.File("grey.ppm");
    Files()
    {
        testutil::WritePpm(Ppm, Colour);
        Must(Tool("ppmtopgm") + " " + Quote(Ppm) + " > " + Quote(Pgm));
        Must(Tool("ppmtoppm") + " < " + Quote(Pgm) + " > " + Quote(GreyPpm));
    }
};

std::uint8_t* Pixel(TBitmap& bitmap, int x, int y, int bytes)
{
    return bitmap.ScanLine(y) + x * bytes;
}

} // namespace

TEST(Sgi, NetpbmImageMagickAndPilFiles)
{
    RegisterReaderFormats();
    Files f;
    // 16-bit samples of v x 257 keep v as their high byte: the 16-bit files
    // must read as the 8-bit picture.
    const std::string wide = f.Dir.File("wide.ppm");
    const std::string wideGrey = f.Dir.File("wide.pgm");
    Must(Tool("pnmdepth") + " 65535 " + Quote(f.Ppm) + " > " + Quote(wide));
    Must(Tool("pnmdepth") + " 65535 " + Quote(f.Pgm) + " > " + Quote(wideGrey));
    const testutil::RgbImage grey = testutil::ReadPpm(f.GreyPpm);
    const struct {
        std::string Command;
        std::string Source;
        std::string File;
        const testutil::RgbImage& Expected;
    } files[] = {
        {Tool("pnmtosgi") + " -rle", f.Ppm, "rle.sgi", f.Colour},
        {Tool("pnmtosgi") + " -verbatim", f.Ppm, "raw.rgb", f.Colour},
        {Tool("pnmtosgi") + " -rle", wide, "rle16.sgi", f.Colour},
        {Tool("pnmtosgi") + " -verbatim", wide, "raw16.sgi", f.Colour},
        {Tool("pnmtosgi") + " -rle", f.Pgm, "grey.bw", grey},
        {Tool("pnmtosgi") + " -verbatim", wideGrey, "grey16.bw", grey},
        {Tool("convert") + " ppm:- -compress RLE sgi:-", f.Ppm, "im.sgi", f.Colour},
        {Tool("convert") + " ppm:- -compress None -depth 16 sgi:-", f.Ppm, "im16.sgi", f.Colour},
        {Tool("convert") + " ppm:- -compress RLE -depth 16 sgi:-", f.Ppm, "im16r.sgi", f.Colour},
        {Tool("convert") + " ppm:- -alpha set -compress RLE sgi:-", f.Ppm, "im.rgba", f.Colour},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.File);
        Must(file.Command + " < " + Quote(file.Source) + " > " + Quote(f.Dir.File(file.File)));
        ExpectPicture(f.Dir.File(file.File), file.Expected);
    }

    // PIL: grey, RGB and RGBA with a known alpha.
    Must(PythonWithPil() + " -c " +
         Quote("import sys\nfrom PIL import Image\nd=sys.argv[1]\nim=Image.open(d+'/colour.ppm')\n"
               "im.save(d+'/pil.sgi')\nImage.open(d+'/grey.pgm').save(d+'/pil.bw')\n"
               "a=im.copy()\na.putalpha(77)\na.save(d+'/pil.rgba')\n") +
         " " + Quote(f.Dir.Path()));
    ExpectPicture(f.Dir.File("pil.sgi"), f.Colour);
    ExpectPicture(f.Dir.File("pil.bw"), grey);
    TSGIGraphic rgba;
    rgba.LoadFromFile(f.Dir.File("pil.rgba"));
    ASSERT_EQ(rgba.PixelFormat(), pf32bit);
    ASSERT_EQ(rgba.Width(), 13);
    ASSERT_EQ(rgba.Height(), 7);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) {
            const std::uint8_t* p = Pixel(rgba, x, y, 4);
            EXPECT_EQ(p[0], f.Colour.At(x, y)[2]);
            EXPECT_EQ(p[2], f.Colour.At(x, y)[0]);
            EXPECT_EQ(p[3], 77);
        }
    UnregisterReaderFormats();
}

namespace {

// A raw SGI file of width x height with one-byte channels, channel c row r
// (from the bottom) filled with value(c, r, x).
template <class F>
Bytes SgiRaw(int width, int height, int channels, F value)
{
    Bytes b(512, 0);
    PutBE16(b, 0, 474);
    b[3] = 1;
    PutBE16(b, 4, 3);
    PutBE16(b, 6, static_cast<unsigned>(width));
    PutBE16(b, 8, static_cast<unsigned>(height));
    PutBE16(b, 10, static_cast<unsigned>(channels));
    for (int c = 0; c < channels; ++c)
        for (int r = 0; r < height; ++r)
            for (int x = 0; x < width; ++x)
                b.push_back(value(c, r, x));
    return b;
}

// The same as one run-length file: each row one literal packet.
template <class F>
Bytes SgiRle(int width, int height, int channels, F value)
{
    const std::size_t entries = static_cast<std::size_t>(height) * channels;
    Bytes b(512 + entries * 8, 0);
    PutBE16(b, 0, 474);
    b[2] = 1;
    b[3] = 1;
    PutBE16(b, 6, static_cast<unsigned>(width));
    PutBE16(b, 8, static_cast<unsigned>(height));
    PutBE16(b, 10, static_cast<unsigned>(channels));
    for (int c = 0; c < channels; ++c)
        for (int r = 0; r < height; ++r) {
            const std::size_t entry = static_cast<std::size_t>(c) * height + r;
            PutBE32(b, 512 + 4 * entry, static_cast<std::uint32_t>(b.size()));
            PutBE32(b, 512 + 4 * (entries + entry), static_cast<std::uint32_t>(width + 2));
            b.push_back(static_cast<std::uint8_t>(0x80 | width));
            for (int x = 0; x < width; ++x)
                b.push_back(value(c, r, x));
            b.push_back(0);
        }
    return b;
}

} // namespace

TEST(Sgi, GreyFromTheFirstChannelAndTablesCheckedAgainstTheFile)
{
    auto value = [](int c, int r, int x) { return static_cast<std::uint8_t>(c * 100 + r * 10 + x); };
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        for (const Bytes& file : {SgiRaw(4, 3, channels, value), SgiRle(4, 3, channels, value)}) {
            TSGIGraphic sgi;
            ASSERT_EQ(LoadError(sgi, file), "");
            ASSERT_EQ(sgi.PixelFormat(), pf8bit);
            ASSERT_EQ(sgi.Width(), 4);
            ASSERT_EQ(sgi.Height(), 3);
            // The first stored row is the bottom one.
            for (int y = 0; y < 3; ++y)
                for (int x = 0; x < 4; ++x)
                    EXPECT_EQ(sgi.ScanLine(y)[x], (2 - y) * 10 + x);
        }
    }

    TSGIGraphic sgi;
    const Bytes good = SgiRle(4, 3, 3, value);
    // A row length far beyond the packed row is cut; the row still reads.
    Bytes longRow = good;
    PutBE32(longRow, 512 + 4 * 9, 0x7FFFFFFF);
    ASSERT_EQ(LoadError(sgi, longRow), "");
    EXPECT_EQ(sgi.ScanLine(2)[3 * 1 + 2], 1); // bottom row, pixel 1, red channel 0
    // A row start outside the file.
    Bytes outside = good;
    PutBE32(outside, 512 + 4 * 4, 1000000);
    EXPECT_NE(LoadError(sgi, outside), "");
    // Tables cut off.
    EXPECT_NE(LoadError(sgi, Bytes(good.begin(), good.begin() + 530)), "");
    // A raw file shorter than its rows, before anything is allocated.
    Bytes raw = SgiRaw(4, 3, 3, value);
    PutBE16(raw, 6, 60000);
    PutBE16(raw, 8, 60000);
    EXPECT_NE(LoadError(sgi, raw), "");
    // Samples of 3 bytes.
    raw = SgiRaw(4, 3, 3, value);
    raw[3] = 3;
    EXPECT_NE(LoadError(sgi, raw), "");
    EXPECT_EQ(LoadError(sgi, Bytes(512, 0)), "Not a valid sgi, bw or rgb(a) image.");
}

TEST(Photoshop, ImageMagickFilesOfEveryModeDepthAndCompression)
{
    RegisterReaderFormats();
    Files f;
    const testutil::RgbImage grey = testutil::ReadPpm(f.GreyPpm);
    const struct {
        std::string Options;
        std::string Source;
        std::string File;
        const testutil::RgbImage* Expected; // null: as ImageMagick reads the file back
        int Tolerance = 0;
    } files[] = {
        {"-compress None", f.Ppm, "rgb.psd", &f.Colour},
        {"-compress RLE", f.Ppm, "rgbr.psd", &f.Colour},
        {"-compress None -depth 16", f.Ppm, "rgb16.psd", &f.Colour},
        {"-compress RLE -depth 16", f.Ppm, "rgb16r.psd", &f.Colour},
        {"-compress None", f.Pgm, "grey.psd", &grey},
        {"-compress RLE", f.Pgm, "greyr.psd", &grey},
        {"-compress RLE -depth 16", f.Pgm, "grey16.psd", &grey},
        {"-colorspace CMYK -compress None", f.Ppm, "cmyk.psd", nullptr, 1},
        {"-colorspace CMYK -compress RLE", f.Ppm, "cmykr.psd", nullptr, 1},
        {"-colorspace CMYK -compress RLE -depth 16", f.Ppm, "cmyk16.psd", nullptr, 1},
        {"-colorspace Lab -compress RLE", f.Ppm, "lab.psd", nullptr},
        {"-colorspace Lab -depth 16", f.Ppm, "lab16.psd", nullptr, 1}, // high bytes: within one
        {"-type bilevel -compress None", f.Ppm, "bits.psd", nullptr},
        {"-type bilevel -compress RLE", f.Ppm, "bitsr.psd", nullptr},
    };
    for (const auto& file : files) {
        SCOPED_TRACE(file.File);
        const std::string path = f.Dir.File(file.File);
        Must(Tool("convert") + " " + Quote(file.Source) + " " + file.Options + " " + Quote(path));
        if (file.Expected) {
            ExpectPicture(path, *file.Expected);
        } else {
            const std::string back = f.Dir.File("back.ppm");
            Must(Tool("convert") + " " + Quote(path) + " -flatten -colorspace sRGB -depth 8 " + Quote(back));
            // CMYK to RGB in integers and in floating point may round apart
            // by one.
            ExpectPicture(path, back, file.Tolerance);
        }
    }
    // A palette file, which ImageMagick does not read back: PIL does.
    const std::string palette = f.Dir.File("palette.psd");
    Must(Tool("convert") + " " + Quote(f.Ppm) + " -type palette " + Quote(palette));
    Must(PythonWithPil() + " -c " +
         Quote("import sys\nfrom PIL import Image\nImage.open(sys.argv[1]).convert('RGB').save(sys.argv[2])\n") + " " +
         Quote(palette) + " " + Quote(f.Dir.File("palette.ppm")));
    ExpectPicture(palette, testutil::ReadPpm(f.Dir.File("palette.ppm")));
    UnregisterReaderFormats();
}

namespace {

// A Photoshop file: header, colour mode data, empty resources and layers,
// then compression and data as given.
Bytes PsdFile(int channels, std::uint32_t width, std::uint32_t height, int depth, int mode, const Bytes& modeData,
              int compression, const Bytes& data)
{
    Bytes b(26, 0);
    b[0] = '8', b[1] = 'B', b[2] = 'P', b[3] = 'S';
    PutBE16(b, 4, 1);
    PutBE16(b, 12, static_cast<unsigned>(channels));
    PutBE32(b, 14, height);
    PutBE32(b, 18, width);
    PutBE16(b, 22, static_cast<unsigned>(depth));
    PutBE16(b, 24, static_cast<unsigned>(mode));
    Bytes length(4);
    PutBE32(length, 0, static_cast<std::uint32_t>(modeData.size()));
    b.insert(b.end(), length.begin(), length.end());
    b.insert(b.end(), modeData.begin(), modeData.end());
    b.insert(b.end(), 8, 0);
    b.push_back(0);
    b.push_back(static_cast<std::uint8_t>(compression));
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

} // namespace

TEST(Photoshop, HandMadeFilesAndCountsThatDoNotFit)
{
    TPSDGraphic psd;
    // Bitmap mode, 10 pixels a row: 0 bits white, 1 bits black, raw and
    // PackBits alike.
    const Bytes bits = {0xA5, 0x40, 0x0F, 0xC0};
    const Bytes packed = {0, 3, 0, 3, 0x01, 0xA5, 0x40, 0x01, 0x0F, 0xC0};
    for (const Bytes& file : {PsdFile(1, 10, 2, 1, 0, {}, 0, bits), PsdFile(1, 10, 2, 1, 0, {}, 1, packed)}) {
        ASSERT_EQ(LoadError(psd, file), "");
        ASSERT_EQ(psd.PixelFormat(), pf1bit);
        ASSERT_EQ(psd.Width(), 10);
        ASSERT_EQ(psd.Height(), 2);
        const testutil::RgbImage got = testutil::FromBitmap(psd);
        EXPECT_EQ(got.At(0, 0)[0], 0);   // 1 bit: black
        EXPECT_EQ(got.At(1, 0)[0], 255); // 0 bit: white
        EXPECT_EQ(got.At(9, 0)[1], 0);   // bit 1 of the second byte
        EXPECT_EQ(got.At(4, 1)[2], 0);
        EXPECT_EQ(got.At(3, 1)[2], 255);
    }
    // Duotone with its colour data: grey.
    ASSERT_EQ(LoadError(psd, PsdFile(1, 2, 1, 8, 8, Bytes(40, 9), 0, {7, 200})), "");
    EXPECT_EQ(testutil::FromBitmap(psd).At(1, 0)[0], 200);
    EXPECT_EQ(testutil::FromBitmap(psd).At(1, 0)[2], 200);
    // A PackBits row that runs over its end is cut; the next row is its own.
    const Bytes overrun = {0, 2, 0, 2, 0xF7, 5, 0x81, 6};
    ASSERT_EQ(LoadError(psd, PsdFile(1, 4, 2, 8, 1, {}, 1, overrun)), "");
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(psd.ScanLine(0)[x], 5);
        EXPECT_EQ(psd.ScanLine(1)[x], 6);
    }
    // RGB with one channel; no channels at all.
    EXPECT_NE(LoadError(psd, PsdFile(1, 2, 1, 8, 3, {}, 0, Bytes(6, 0))), "");
    EXPECT_NE(LoadError(psd, PsdFile(0, 2, 1, 8, 1, {}, 0, Bytes(6, 0))), "");
    // Sizes far beyond the data: refused before anything is allocated.
    EXPECT_NE(LoadError(psd, PsdFile(3, 30000, 30000, 8, 3, {}, 0, Bytes(16, 0))), "");
    EXPECT_NE(LoadError(psd, PsdFile(3, 30000, 30000, 8, 3, {}, 1, Bytes(16, 0))), "");
    // Byte counts adding up to more than the file.
    EXPECT_NE(LoadError(psd, PsdFile(1, 4, 2, 8, 1, {}, 1, {0x7F, 0xFF, 0x7F, 0xFF, 0x03, 1, 2, 3, 4})), "");
    EXPECT_EQ(LoadError(psd, Bytes(40, 0)), "Not a valid psd file.");
}

TEST(Photoshop, RunLengthFileWithAnAlphaChannelAsPilReadsIt)
{
    RegisterReaderFormats();
    Files f;
    const std::string path = f.Dir.File("rgba.psd");
    Must(Tool("convert") + " " + Quote(f.Ppm) + " -alpha on -compress RLE " + Quote(path));
    // The file is what the test needs: four channels, each with its rows in
    // the byte-count table, PackBits data.
    const Bytes file = testutil::ReadFile(path);
    auto be = [&](std::size_t at, int n) {
        std::uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = v << 8 | file.at(at + static_cast<std::size_t>(i));
        return v;
    };
    ASSERT_EQ(be(12, 2), 4u);
    std::size_t at = 26;
    for (int section = 0; section < 3; ++section)
        at += 4 + be(at, 4);
    ASSERT_EQ(be(at, 2), 1u);
    PilToPpm(path, f.Dir.File("pil.ppm"));
    ExpectPicture(path, f.Dir.File("pil.ppm"));
    ExpectPicture(path, f.Colour);
    UnregisterReaderFormats();
}

TEST(Photoshop, SmallFilesClaimingHugePicturesAndModesWithoutConversion)
{
    const std::string tooShort = "PSD: the file is too short for the picture it claims.";
    const std::string endsEarly = "PSD: the file ends before the picture does.";
    TPSDGraphic psd;
    // 640 bytes: a Lab picture of 100 rows of 2684354 pixels whose byte
    // counts are all zero.
    const Bytes lab = PsdFile(3, 2684354, 100, 8, 9, {}, 1, Bytes(600, 0));
    ASSERT_EQ(lab.size(), 640u);
    EXPECT_EQ(LoadError(psd, lab), tooShort);
    // 40 bytes: a multichannel picture of 16384 x 16384 with no data.
    const Bytes multichannel = PsdFile(1, 16384, 16384, 8, 7, {}, 0, {});
    ASSERT_EQ(multichannel.size(), 40u);
    EXPECT_EQ(LoadError(psd, multichannel), endsEarly);
    // Duotone with its colour data, PackBits counts all zero.
    EXPECT_EQ(LoadError(psd, PsdFile(1, 671088, 400, 8, 8, Bytes(40, 9), 1, Bytes(800, 0))), tooShort);

    // Two PackBits runs of 128 (4 bytes) fill a row of 256 and no more.
    const Bytes runs = {0, 4, 0x81, 9, 0x81, 9};
    ASSERT_EQ(LoadError(psd, PsdFile(1, 256, 1, 8, 1, {}, 1, runs)), "");
    ASSERT_EQ(psd.Width(), 256);
    EXPECT_EQ(psd.ScanLine(0)[0], 9);
    EXPECT_EQ(psd.ScanLine(0)[255], 9);
    EXPECT_EQ(LoadError(psd, PsdFile(1, 257, 1, 8, 1, {}, 1, runs)), tooShort);

    // Multichannel: checked like the others, then a white picture of its
    // size.
    ASSERT_EQ(LoadError(psd, PsdFile(2, 3, 2, 8, 7, {}, 0, Bytes(12, 40))), "");
    ASSERT_EQ(psd.Width(), 3);
    ASSERT_EQ(psd.Height(), 2);
    EXPECT_EQ(testutil::FromBitmap(psd).At(2, 1)[1], 255);
    EXPECT_NE(LoadError(psd, PsdFile(2, 3, 2, 7, 7, {}, 0, Bytes(12, 40))), "");
    EXPECT_NE(LoadError(psd, PsdFile(0, 3, 2, 8, 7, {}, 0, Bytes(12, 40))), "");
    EXPECT_EQ(LoadError(psd, PsdFile(1, 3, 2, 8, 7, {}, 0, Bytes(5, 40))), endsEarly);
    EXPECT_EQ(LoadError(psd, PsdFile(1, 3, 2, 16, 8, {}, 0, Bytes(11, 40))), endsEarly);
    // ZIP data (compression 2 and 3) is refused.
    EXPECT_EQ(LoadError(psd, PsdFile(1, 3, 2, 8, 1, {}, 2, Bytes(40, 0))), "PSD: unsupported compression.");
    EXPECT_EQ(LoadError(psd, PsdFile(3, 3, 2, 8, 3, {}, 3, Bytes(40, 0))), "PSD: unsupported compression.");
    // So are 32-bit (floating-point) samples.
    EXPECT_EQ(LoadError(psd, PsdFile(3, 3, 2, 32, 3, {}, 0, Bytes(72, 0))), "PSD: unsupported bits per sample.");

    // Lab rows 0 and 1 hold black (L 0, a and b 0); rows 2 to 5 have no
    // data in any plane and stay white as the picture was made.
    Bytes counts, data;
    for (int plane = 0; plane < 3; ++plane)
        for (int row = 0; row < 6; ++row) {
            counts.insert(counts.end(), {0, static_cast<std::uint8_t>(row < 2 ? 2 : 0)});
            if (row < 2)
                data.insert(data.end(), {0xFD, static_cast<std::uint8_t>(plane == 0 ? 0 : 128)});
        }
    ASSERT_EQ(LoadError(psd, PsdFile(3, 4, 6, 8, 9, {}, 1, counts + data)), "");
    const testutil::RgbImage got = testutil::FromBitmap(psd);
    ASSERT_EQ(got.Width, 4);
    ASSERT_EQ(got.Height, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 4; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(got.At(x, y)[c], y < 2 ? 0 : 255) << x << "," << y;
}

TEST(Sgi, SmallRunLengthFilesClaimingHugePictures)
{
    const std::string tooShort = "SGI: the file is too short for the picture it claims.";
    TSGIGraphic sgi;
    // Under 1 KB: 61 grey rows of 65535 samples, every row the same four
    // bytes.
    auto file = [](int width, int height, const Bytes& row) {
        Bytes b = SgiRle(1, height, 1, [](int, int, int) { return std::uint8_t{0}; });
        PutBE16(b, 6, static_cast<unsigned>(width));
        b.resize(512 + 8 * static_cast<std::size_t>(height));
        for (int r = 0; r < height; ++r) {
            PutBE32(b, 512 + 4 * static_cast<std::size_t>(r), static_cast<std::uint32_t>(b.size()));
            PutBE32(b, 512 + 4 * static_cast<std::size_t>(height + r), static_cast<std::uint32_t>(row.size()));
        }
        return b + row;
    };
    const Bytes huge = file(65535, 61, {0x7F, 5, 0, 0});
    ASSERT_LT(huge.size(), 1024u);
    EXPECT_EQ(LoadError(sgi, huge), tooShort);

    // Two runs of 127 and the ending zero: 5 bytes, which could give
    // 5 x 127 / 2 = 317 samples and no more.
    const Bytes runs = {0x7F, 5, 0x7F, 5, 0};
    ASSERT_EQ(LoadError(sgi, file(254, 1, runs)), "");
    ASSERT_EQ(sgi.Width(), 254);
    EXPECT_EQ(sgi.ScanLine(0)[0], 5);
    EXPECT_EQ(sgi.ScanLine(0)[253], 5);
    EXPECT_EQ(LoadError(sgi, file(317, 1, runs)), "");
    EXPECT_EQ(LoadError(sgi, file(318, 1, runs)), tooShort);
}
