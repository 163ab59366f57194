// TIFF reading: files written by ImageMagick, PIL and tiffcp at every layout
// the reader takes (1-bit, 4- and 8-bit grey and palette, 16-bit grey, RGB,
// RGBA, CMYK, YCbCr), each copied by tiffcp with every compression, both
// byte orders and several strip sizes, decoded through picdump against an
// outside decoder; L*a*b*, lowest-bit-first and separate-plane files against
// outside readings too; then hand-built files for the tags' defaults, the
// checks of damaged and cut files and of files claiming more than they hold.

#include "ImageReaders.h"
#include "ReaderTestSupport.h"

#include "Exceptions.h"
#include "Streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>


using namespace readertest;
using testutil::Quote;

namespace {

struct Layout {
    const char* Name;
    // Writes base.tif from src.ppm in the folder (%s the folder).
    std::string Make;
    // Writes expected.ppm from base.tif; empty: the source picture itself.
    std::string Oracle;
    int Tolerance;
    bool Predictor; // tiffcp can add horizontal differencing
};

std::vector<Layout> Layouts()
{
    const std::string Im = Tool("convert");
    const std::string Pil = PythonWithPil() + " -c \"import sys\nfrom PIL import Image\n";
    const std::string PilOracle =
        Pil + "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])\" %s/base.tif %s/expected.ppm";
    const std::string ImOracle = Im + " %s/base.tif -colorspace sRGB -depth 8 %s/expected.ppm";

    const std::string RgbaOracle =
        Tool("tiff2rgba") + " %s/base.tif %s/rgba.tif && " + Pil +
        "Image.open(sys.argv[1]).convert('RGB').save(sys.argv[2])\" %s/rgba.tif %s/expected.ppm";

    return {
        {"RGB", Im + " %s/src.ppm -compress none %s/base.tif", "", 0, true},
        {"RGB 16-bit", Im + " %s/src.ppm -depth 16 -compress none %s/base.tif", ImOracle, 1, true},
        {"grey", Im + " %s/src.ppm -colorspace Gray -depth 8 -compress none %s/base.tif", PilOracle, 0, true},
        {"grey, white is zero",
         Im + " %s/src.ppm -colorspace Gray -depth 8 -define tiff:photometric=min-is-white %s/base.tif", PilOracle,
         0, true},
        {"grey 4-bit", Im + " %s/src.ppm -colorspace Gray -depth 4 %s/base.tif", ImOracle, 0, false},
        {"grey 16-bit", Im + " %s/src.ppm -colorspace Gray -depth 16 %s/base.tif", ImOracle, 1, true},
        {"bilevel", Im + " %s/src.ppm -monochrome %s/base.tif", PilOracle, 0, false},
        {"palette 8-bit", Im + " %s/src.ppm -colors 200 -type Palette %s/base.tif", PilOracle, 0, true},
        {"palette 4-bit", Im + " %s/src.ppm -colors 16 -type Palette -depth 4 %s/base.tif", PilOracle, 0, false},
        {"RGBA (PIL)",
         Pil + "im = Image.open(sys.argv[1]).convert('RGBA')\nim.putalpha(Image.linear_gradient('L').resize(im.size))\n"
               "im.save(sys.argv[2])\" %s/src.ppm %s/base.tif",
         PilOracle, 0, true},
        {"CMYK", Im + " %s/src.ppm -colorspace CMYK %s/base.tif", ImOracle, 1, true},
        {"CMYK (PIL)", Pil + "Image.open(sys.argv[1]).convert('CMYK').save(sys.argv[2])\" %s/src.ppm %s/base.tif", "",
         0, true},
        {"YCbCr", Im + " %s/src.ppm -colorspace YCbCr -compress none %s/base.tif", RgbaOracle, 1, true},
        {"YCbCr (PIL)", Pil + "Image.open(sys.argv[1]).convert('YCbCr').save(sys.argv[2])\" %s/src.ppm %s/base.tif",
         RgbaOracle, 1, true},
    };
}

// The copies tiffcp makes of each file.
struct Variant {
    const char* Options;
    bool UsesPredictor;
};
const Variant Variants[] = {
    {"-c none -L", false},          {"-c lzw -B -r 7", false},    {"-c lzw:2 -L -r 1", true},
    {"-c lzw:2 -B", true},          {"-c packbits -B -r 5", false}, {"-c packbits -L -r 1000", false},
};

// Grey 8-bit tags of a width x height picture, without strip tags.
std::vector<TiffTag> GreyTags(std::uint32_t width, std::uint32_t height)
{
    return {{256, 4, {width}}, {257, 4, {height}}, {258, 3, {8}}, {262, 3, {1}}};
}

Bytes Ramp(std::size_t n, int start = 0)
{
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i)
        b[i] = static_cast<std::uint8_t>(start + static_cast<int>(i) * 3);
    return b;
}

} // namespace

TEST(TiffReader, FilesOfOutsideWritersAtEveryLayoutCompressionAndByteOrder)
{
    testutil::TempDir dir;
    const testutil::RgbImage source = TestPicture(67, 45);
    testutil::WritePpm(dir.File("src.ppm"), source);
    for (const Layout& layout : Layouts()) {
        SCOPED_TRACE(layout.Name);
        Must(Fill(layout.Make, dir.Path()));
        const std::string expectedFile = dir.File("expected.ppm");
        if (layout.Oracle.empty())
            testutil::WritePpm(expectedFile, source);
        else
            Must(Fill(layout.Oracle, dir.Path()));
        const testutil::RgbImage expected = testutil::ReadPpm(expectedFile);
        ExpectPicture(dir.File("base.tif"), expected, layout.Tolerance);
        for (const Variant& v : Variants) {
            if (v.UsesPredictor && !layout.Predictor)
                continue;
            SCOPED_TRACE(v.Options);
            const std::string copy = dir.File("copy.tif");
            Must(Tool("tiffcp") + " " + v.Options + " " + Quote(dir.File("base.tif")) + " " + Quote(copy));
            ExpectPicture(copy, expected, layout.Tolerance);
        }
    }
}

TEST(TiffReader, SubsampledYCbCrAgainstTiff2rgba)
{
    // 6 x 4 pixels in 2 x 2 blocks: four luma samples, then Cb and Cr.
    for (std::uint32_t subV : {1u, 2u}) {
        SCOPED_TRACE(subV);
        const std::uint32_t w = 6, h = 4;
        Bytes data;
        for (std::uint32_t by = 0; by < h / subV; ++by)
            for (std::uint32_t bx = 0; bx < w / 2; ++bx) {
                for (std::uint32_t k = 0; k < 2 * subV; ++k)
                    data.push_back(static_cast<std::uint8_t>(30 + 40 * bx + 20 * by + 9 * k));
                data.push_back(static_cast<std::uint8_t>(90 + 30 * bx));
                data.push_back(static_cast<std::uint8_t>(200 - 25 * by));
            }
        const Bytes file = BuildTiff({{256, 3, {w}},
                                      {257, 3, {h}},
                                      {258, 3, {8, 8, 8}},
                                      {259, 3, {1}},
                                      {262, 3, {6}},
                                      {277, 3, {3}},
                                      {278, 3, {h}},
                                      {530, 3, {2, subV}},
                                      {532, 5, {0, 1, 255, 1, 128, 1, 255, 1, 128, 1, 255, 1}}},
                                     {data});
        testutil::TempDir dir;
        testutil::WriteFile(dir.File("y.tif"), file);
        Must(Tool("tiff2rgba") + " " + Quote(dir.File("y.tif")) + " " + Quote(dir.File("rgba.tif")));
        PilToPpm(dir.File("rgba.tif"), dir.File("expected.ppm"));
        ExpectPicture(dir.File("y.tif"), dir.File("expected.ppm"), 1);
    }
}

TEST(TiffReader, TagDefaultsAndValuesInsideTheEntry)
{
    // No Compression tag: uncompressed, as the format says.
    {
        auto g = Load<TTIFFGraphic>(BuildTiff(GreyTags(4, 2), {Ramp(8)}));
        ASSERT_EQ(g->Width(), 4);
        ASSERT_EQ(g->Height(), 2);
        EXPECT_EQ(g->PixelFormat(), pf8bit);
        EXPECT_EQ(g->ScanLine(1)[3], 21);
        EXPECT_EQ(g->GetPixelColor(1, 0), RGB(3, 3, 3));
    }
    // One strip whose RowsPerStrip is larger than the picture.
    {
        auto tags = GreyTags(3, 3);
        tags.push_back({278, 4, {1000}});
        auto g = Load<TTIFFGraphic>(BuildTiff(tags, {Ramp(9)}));
        ASSERT_EQ(g->Height(), 3);
        EXPECT_EQ(g->ScanLine(2)[2], 24);
    }
    // Two strips whose offsets and counts are SHORT values inside the entry,
    // in a big-endian file; the grey-and-alpha BitsPerSample fits too.
    for (bool big : {false, true}) {
        SCOPED_TRACE(big);
        const Bytes strip1 = {10, 255, 20, 255}, strip2 = {30, 0, 40, 0};
        // Strip data at offsets 8 and 12 (the builder lays them out there).
        auto g = Load<TTIFFGraphic>(BuildTiff({{256, 3, {2}},
                                 {257, 3, {2}},
                                 {258, 3, {8, 8}},
                                 {262, 3, {1}},
                                 {273, 3, {8, 12}},
                                 {277, 3, {2}},
                                 {278, 3, {1}},
                                 {279, 3, {4, 4}},
                                 {338, 3, {2}}},
                                {strip1, strip2}, big, false));
        ASSERT_EQ(g->Width(), 2);
        ASSERT_EQ(g->Height(), 2);
        EXPECT_EQ(g->GetPixelColor(0, 0), RGB(10, 10, 10));
        EXPECT_EQ(g->GetPixelColor(1, 0), RGB(20, 20, 20));
        EXPECT_EQ(g->GetPixelColor(0, 1), RGB(30, 30, 30));
        EXPECT_EQ(g->GetPixelColor(1, 1), RGB(40, 40, 40));
    }
}

TEST(TiffReader, ExtraSamplesPalettesAndByteOrders)
{
    // RGB with one extra sample (ExtraSamples 1 or 2), and four samples
    // without the tag, load as 32 bits with the alpha kept.
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(variant);
        std::vector<TiffTag> tags = {{256, 3, {2}}, {257, 3, {1}}, {258, 3, {8, 8, 8, 8}}, {262, 3, {2}}, {277, 3, {4}}};
        if (variant < 2)
            tags.push_back({338, 3, {static_cast<std::uint32_t>(variant + 1)}});
        auto g = Load<TTIFFGraphic>(BuildTiff(tags, {{1, 2, 3, 4, 5, 6, 7, 8}}));
        ASSERT_EQ(g->PixelFormat(), pf32bit);
        const std::uint8_t* row = g->ScanLine(0);
        EXPECT_EQ(Bytes(row, row + 8), (Bytes{3, 2, 1, 4, 7, 6, 5, 8}));
    }
    // A 4-bit palette takes its colours from 16-entry planes of the map.
    {
        std::vector<std::uint32_t> map;
        for (int plane = 0; plane < 3; ++plane)
            for (std::uint32_t k = 0; k < 16; ++k)
                map.push_back((k * 16 + static_cast<std::uint32_t>(plane)) << 8);
        auto g = Load<TTIFFGraphic>(BuildTiff({{256, 3, {2}}, {257, 3, {1}}, {258, 3, {4}}, {262, 3, {3}}, {320, 3, map}}, {{0x5A}}));
        ASSERT_EQ(g->PixelFormat(), pf4bit);
        EXPECT_EQ(g->GetPixelColor(0, 0), RGB(80, 81, 82));
        EXPECT_EQ(g->GetPixelColor(1, 0), RGB(160, 161, 162));
    }
    // The same 16-bit grey picture in either byte order, with the predictor
    // undone on 16-bit values: 0x01F0 + 0x0020 carries into the high byte.
    Bytes little = {0xF0, 0x01, 0x20, 0x00, 0x10, 0x00};
    Bytes big = {0x01, 0xF0, 0x00, 0x20, 0x00, 0x10};
    const std::vector<TiffTag> tags = {{256, 3, {3}}, {257, 3, {1}}, {258, 3, {16}}, {262, 3, {1}}, {317, 3, {2}}};
    auto a = Load<TTIFFGraphic>(BuildTiff(tags, {little}, false));
    auto b = Load<TTIFFGraphic>(BuildTiff(tags, {big}, true));
    ASSERT_EQ(a->Width(), 3);
    ASSERT_EQ(b->Width(), 3);
    for (int x = 0; x < 3; ++x)
        EXPECT_EQ(a->ScanLine(0)[x], b->ScanLine(0)[x]);
    EXPECT_EQ(a->ScanLine(0)[0], 0x01);
    EXPECT_EQ(a->ScanLine(0)[1], 0x02);
    EXPECT_EQ(a->ScanLine(0)[2], 0x02);
}

TEST(TiffReader, DamagedFilesAreRefusedClearlyOrLeaveTheRestWhite)
{
    const Bytes good = BuildTiff(GreyTags(4, 2), {Ramp(8)});
    {
        Bytes d = good;
        d[2] = 44;
        EXPECT_EQ(LoadError<TTIFFGraphic>(d), "Invalid TIFF file.");
        EXPECT_EQ(LoadError<TTIFFGraphic>(Bytes(good.begin(), good.begin() + 6)), "Invalid TIFF file.");
    }
    EXPECT_EQ(LoadError<TTIFFGraphic>(BuildTiff(GreyTags(0, 2), {Ramp(8)})), "Invalid TIFF file.");
    {
        auto tags = GreyTags(4, 2);
        tags.push_back({259, 3, {7}});
        EXPECT_EQ(LoadError<TTIFFGraphic>(BuildTiff(tags, {Ramp(8)})), "TIFF: Unknown compression scheme");
    }
    {
        // The directory offset points past the end.
        Bytes d = good;
        d[4] = 0xF0;
        d[5] = 0xFF;
        EXPECT_NE(LoadError<TTIFFGraphic>(d).find("outside the file"), std::string::npos);
    }
    {
        // A BitsPerSample array whose offset lies past the end.
        auto tags = GreyTags(4, 2);
        tags[2] = {258, 3, {8, 8, 8}};
        Bytes d = BuildTiff(tags, {Ramp(8)});
        // Find the entry (tag 258) and point its values far away.
        for (std::size_t i = 8; i + 12 <= d.size(); i += 2)
            if (d[i] == 2 && d[i + 1] == 1 && d[i + 2] == 3 && d[i + 4] == 3) {
                d[i + 10] = 0x7F;
                break;
            }
        EXPECT_NE(LoadError<TTIFFGraphic>(d).find("outside the file"), std::string::npos);
    }
    {
        // Twelve-bit samples, 4-bit RGB and five-sample RGB are refused by
        // name.
        auto tags = GreyTags(4, 2);
        tags[2] = {258, 3, {12}};
        EXPECT_NE(LoadError<TTIFFGraphic>(BuildTiff(tags, {Ramp(12)})).find("12 bits"), std::string::npos);
        EXPECT_EQ(LoadError<TTIFFGraphic>(BuildTiff({{256, 3, {2}}, {257, 3, {1}}, {258, 3, {4, 4, 4}}, {262, 3, {2}},
                                                     {277, 3, {3}}},
                                                    {Ramp(3)})),
                  "TIFF: 3 samples of 4 bits with photometric interpretation 2 cannot be read.");
        EXPECT_NE(LoadError<TTIFFGraphic>(BuildTiff({{256, 3, {1}}, {257, 3, {1}}, {258, 3, {8}}, {262, 3, {2}}, {277, 3, {40000}}},
                                      {Ramp(3)}))
                      .find("samples"),
                  std::string::npos);
    }
    {
        // BigTIFF, and half floats that would read as integers, are refused
        // by name.
        Bytes big = good;
        big[2] = 43;
        EXPECT_EQ(LoadError<TTIFFGraphic>(big), "TIFF: BigTIFF files cannot be read.");
        auto tags = GreyTags(4, 2);
        tags[2] = {258, 3, {16}};
        tags.push_back({339, 3, {3}});
        EXPECT_NE(LoadError<TTIFFGraphic>(BuildTiff(tags, {Ramp(16)})).find("floating point"), std::string::npos);
    }
    {
        // A palette image whose map is shorter than 3 x 2^bits.
        auto tags = GreyTags(4, 2);
        tags[3] = {262, 3, {3}};
        tags.push_back({320, 3, std::vector<std::uint32_t>(3 * 255, 0x8000)});
        EXPECT_NE(LoadError<TTIFFGraphic>(BuildTiff(tags, {Ramp(8)})).find("colour map"), std::string::npos);
    }
    {
        // Several strips and no RowsPerStrip.
        EXPECT_NE(LoadError<TTIFFGraphic>(BuildTiff(GreyTags(4, 2), {Ramp(4), Ramp(4)})).find("RowsPerStrip"), std::string::npos);
    }
    {
        // A picture past the pixel budget is refused before allocation.
        const TPixelBudgetScope budget(1000);
        try {
            Load<TTIFFGraphic>(BuildTiff(GreyTags(100, 11), {Ramp(8)}));
            ADD_FAILURE() << "no exception";
        } catch (const EOutOfMemory&) {
        }
    }
    {
        // An uncompressed strip that ends early, and an LZW strip whose data
        // ends early: what the data reaches is read, the rest stays white.
        auto tags = GreyTags(4, 3);
        auto g = Load<TTIFFGraphic>(BuildTiff(tags, {Ramp(6)}));
        ASSERT_EQ(g->Height(), 3);
        EXPECT_EQ(g->GetPixelColor(3, 0), RGB(9, 9, 9));
        EXPECT_EQ(g->GetPixelColor(0, 1), clWhite);
        EXPECT_EQ(g->GetPixelColor(3, 2), clWhite);
        EXPECT_NE(g->ReadWarning(), "");
        // The strip offset lies past the end of the file.
        Bytes d = BuildTiff(tags, {Ramp(12)});
        for (std::size_t i = 8; i + 12 <= d.size(); i += 2)
            if (d[i] == 0x11 && d[i + 1] == 1 && d[i + 2] == 4) {
                d[i + 10] = 0x7F;
                break;
            }
        EXPECT_EQ(LoadError<TTIFFGraphic>(d), "TIFF: the picture's strips lie outside the file.");
        // LZW: clear, literals 1 2 3 4 5, and no more.
        tags.push_back({259, 3, {5}});
        auto l = Load<TTIFFGraphic>(BuildTiff(tags, {{0x80, 0x00, 0x40, 0x40, 0x30, 0x20, 0x14}}));
        EXPECT_EQ(l->GetPixelColor(0, 0), RGB(1, 1, 1));
        EXPECT_EQ(l->GetPixelColor(3, 0), RGB(4, 4, 4));
        EXPECT_EQ(l->GetPixelColor(0, 1), clWhite) << "an incomplete row stays white";
        EXPECT_NE(l->ReadWarning().find("TIFF"), std::string::npos);
    }
    {
        // Horizontal differencing of 1-bit samples cannot be undone.
        auto tags = GreyTags(8, 1);
        tags[2] = {258, 3, {1}};
        tags.push_back({317, 3, {2}});
        EXPECT_NE(LoadError<TTIFFGraphic>(BuildTiff(tags, {{0x55}})).find("differencing"), std::string::npos);
    }
}

TEST(TiffReader, SavingWritesNothingAndLeavesAFileAlone)
{
    auto g = Load<TTIFFGraphic>(BuildTiff(GreyTags(4, 2), {Ramp(8)}));
    TMemoryStream out;
    g->SaveToStream(out);
    EXPECT_EQ(out.Size(), 0);
    testutil::TempDir dir;
    const std::string path = dir.File("keep.tif");
    testutil::WriteFile(path, {1, 2, 3});
    EXPECT_THROW(g->SaveToFile(path), Exception);
    EXPECT_EQ(testutil::ReadFile(path), (Bytes{1, 2, 3}));
}

TEST(TiffReader, TiledFilesAreRefusedNotShownAsStrips)
{
    // tiffcp stores the picture in 16 x 16 tiles: there are no strips to
    // read, and the offset the strips would default to is the header.
    testutil::TempDir dir;
    testutil::WritePpm(dir.File("src.ppm"), TestPicture(40, 30));
    Must(Tool("convert") + " " + Quote(dir.File("src.ppm")) + " -compress none " + Quote(dir.File("base.tif")));
    for (const char* compression : {"none", "lzw"}) {
        SCOPED_TRACE(compression);
        Must(Tool("tiffcp") + " -c " + compression + " -t -w 16 -l 16 " + Quote(dir.File("base.tif")) + " " +
             Quote(dir.File("tiled.tif")));
        const Bytes file = testutil::ReadFile(dir.File("tiled.tif"));
        EXPECT_NE(LoadError<TTIFFGraphic>(file).find("tiles"), std::string::npos);
    }
}

TEST(TiffReader, SmallFilesClaimingLargePicturesAreRefusedBeforeAllocation)
{
    // 4096 x 4096 grey pixels of sixteen 16-bit samples each: 512 MB of
    // samples from one strip of 64 bytes, which no compression reaches
    // (PackBits gives at most 4 KB, LZW about 230 KB).
    const std::uint32_t side = 4096;
    for (std::uint32_t compression : {1u, 5u, 32773u}) {
        SCOPED_TRACE(compression);
        const Bytes file = BuildTiff({{256, 3, {side}},
                                      {257, 3, {side}},
                                      {258, 3, std::vector<std::uint32_t>(16, 16)},
                                      {259, 3, {compression}},
                                      {262, 3, {1}},
                                      {277, 3, {16}},
                                      {338, 3, std::vector<std::uint32_t>(15, 0)}},
                                     {Bytes(64, 0x80)});
        EXPECT_EQ(LoadError<TTIFFGraphic>(file), "TIFF: the file is too small to hold the picture it describes.");
    }
    // A row of 2^28 RGBA pixels of 16 bits (2 GB of samples; a 1 GB bitmap)
    // from a file of about 150 bytes, and 2^28 one-bit pixels from an LZW
    // strip of four bytes.
    EXPECT_EQ(LoadError<TTIFFGraphic>(BuildTiff({{256, 4, {1u << 28}}, {257, 3, {1}}, {258, 3, {16, 16, 16, 16}},
                                                 {262, 3, {2}}, {277, 3, {4}}, {338, 3, {2}}},
                                                {Bytes(16, 0)})),
              "TIFF: the file is too small to hold the picture it describes.");
    EXPECT_EQ(LoadError<TTIFFGraphic>(BuildTiff({{256, 4, {1u << 28}}, {257, 3, {1}}, {258, 3, {1}}, {259, 3, {5}},
                                                 {262, 3, {1}}},
                                                {{0x80, 0x00, 0x20, 0x20}})),
              "TIFF: the file is too small to hold the picture it describes.");

    // Files near the bounds still load: a white 1-bit picture in PackBits
    // (runs of 128 bytes from 2, a ratio near 64) and a flat grey one in
    // LZW, both written by ImageMagick.
    testutil::TempDir dir;
    for (const char* options : {"-monochrome -compress rle", "-colorspace Gray -depth 8 -compress lzw"}) {
        SCOPED_TRACE(options);
        const std::string path = dir.File("flat.tif");
        Must(Tool("convert") + " -size 4000x3000 xc:white " + options + " " + Quote(path));
        ExpectPicture(path, testutil::RgbImage{4000, 3000, Bytes(std::size_t{4000} * 3000 * 3, 255)});
    }
}

TEST(TiffReader, ACompressedStripWithoutItsByteCountEndsWhereTheNextBegins)
{
    // Two LZW strips of two rows, no StripByteCounts (nine-bit codes:
    // literals, clear and end only). The first holds a row
    // and a half and no end code: its second row stays white rather than
    // being completed from the second strip's bytes (which would give 128
    // and 5 there).
    const Bytes first = PackMsb({256, 1, 2, 3, 4, 5, 6}, 9);
    const Bytes second = PackMsb({256, 11, 12, 13, 14, 15, 16, 17, 18, 257}, 9);
    const std::uint32_t secondOffset = static_cast<std::uint32_t>(8 + first.size() + first.size() % 2);
    Bytes firstPadded = first;
    if (firstPadded.size() % 2)
        firstPadded.push_back(0);
    auto tags = GreyTags(4, 4);
    tags.push_back({259, 3, {5}});
    tags.push_back({273, 4, {8, secondOffset}});
    tags.push_back({278, 3, {2}});
    const Bytes file = BuildTiff(tags, {firstPadded, second}, false, false);
    auto g = Load<TTIFFGraphic>(file);
    ASSERT_EQ(g->Width(), 4);
    ASSERT_EQ(g->Height(), 4);
    EXPECT_EQ(g->GetPixelColor(0, 0), RGB(1, 1, 1));
    EXPECT_EQ(g->GetPixelColor(3, 0), RGB(4, 4, 4));
    EXPECT_EQ(g->GetPixelColor(0, 1), clWhite);
    EXPECT_EQ(g->GetPixelColor(3, 1), clWhite);
    EXPECT_EQ(g->GetPixelColor(0, 2), RGB(11, 11, 11));
    EXPECT_EQ(g->GetPixelColor(3, 3), RGB(18, 18, 18));
}

namespace {

// The mean difference of the samples of two pictures of one size.
double MeanDifference(const testutil::RgbImage& a, const testutil::RgbImage& b)
{
    double sum = 0;
    for (std::size_t i = 0; i < a.Rgb.size() && i < b.Rgb.size(); ++i)
        sum += std::abs(a.Rgb[i] - b.Rgb[i]);
    return a.Rgb.empty() ? 0 : sum / static_cast<double>(a.Rgb.size());
}

// Loads file through picdump and compares it with the picture expected:
// sizes first, then the mean difference of the samples.
void ExpectCloseOnAverage(const std::string& file, const testutil::RgbImage& expected, double meanTolerance)
{
    const testutil::DumpResult dump = testutil::PicDump(file);
    ASSERT_TRUE(dump.Ok) << file << ": " << dump.Error;
    ASSERT_EQ(dump.Image.Width, expected.Width);
    ASSERT_EQ(dump.Image.Height, expected.Height);
    EXPECT_LE(MeanDifference(dump.Image, expected), meanTolerance) << file;
}

} // namespace

TEST(TiffReader, LabFilesReadAsImageMagickReadsThem)
{
    // A plasma picture stored as L*a*b* at 8 and 16 bits, and copies of it
    // in other compressions, byte order and in separate planes. Out of
    // gamut colours round apart by a few levels, so the mean is compared.
    testutil::TempDir dir;
    const std::string im = Tool("convert");
    Must(im + " -seed 7 -size 96x64 plasma:fractal " + Quote(dir.File("src.ppm")));
    for (const char* depth : {"8", "16"}) {
        SCOPED_TRACE(depth);
        const std::string base = dir.File("lab.tif");
        Must(im + " " + Quote(dir.File("src.ppm")) + " -colorspace Lab -depth " + depth + " -compress none " +
             Quote(base));
        Must(im + " " + Quote(base) + " -depth 8 " + Quote(dir.File("expected.ppm")));
        const testutil::RgbImage expected = testutil::ReadPpm(dir.File("expected.ppm"));
        ExpectCloseOnAverage(base, expected, 3);
        std::vector<std::string> copies = {"-c lzw:2 -B -r 5", "-c packbits -L"};
        if (std::string(depth) == "8")
            copies.push_back("-p separate -c lzw:2 -r 9");
        for (const std::string& options : copies) {
            SCOPED_TRACE(options);
            Must(Tool("tiffcp") + " " + options + " " + Quote(base) + " " + Quote(dir.File("copy.tif")));
            ExpectCloseOnAverage(dir.File("copy.tif"), expected, 3);
        }
        // Separate planes at 16 bits come from ImageMagick.
        Must(im + " " + Quote(dir.File("src.ppm")) + " -colorspace Lab -depth " + depth +
             " -interlace plane -compress none " + Quote(dir.File("planes.tif")));
        Must(im + " " + Quote(dir.File("planes.tif")) + " -depth 8 " + Quote(dir.File("expected.ppm")));
        ExpectCloseOnAverage(dir.File("planes.tif"), testutil::ReadPpm(dir.File("expected.ppm")), 3);
    }
}

TEST(TiffReader, LowestBitFirstFilesReadLikeTheirNormalCopies)
{
    // tiffcp -f lsb2msb reverses the bits of every byte of the data; the
    // picture is that of the normal copy, as an outside decoder reads it.
    testutil::TempDir dir;
    testutil::WritePpm(dir.File("src.ppm"), TestPicture(61, 23));
    const std::string im = Tool("convert") + " " + Quote(dir.File("src.ppm"));
    const struct {
        const char* Name;
        std::string Make;
        bool Pil;
        int Tolerance;
    } layouts[] = {
        {"1-bit", im + " -monochrome", true, 0},
        {"4-bit", im + " -colorspace Gray -depth 4", true, 0},
        {"16-bit", im + " -colorspace Gray -depth 16", false, 1},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.Name);
        const std::string base = dir.File("base.tif");
        Must(layout.Make + " " + Quote(base));
        for (const char* compression : {"none", "lzw", "packbits"}) {
            SCOPED_TRACE(compression);
            const std::string normal = dir.File("normal.tif"), reversed = dir.File("reversed.tif");
            const std::string tiffcp = Tool("tiffcp") + " -r 4 -c " + compression + " ";
            Must(tiffcp + Quote(base) + " " + Quote(normal));
            Must(tiffcp + "-f lsb2msb " + Quote(base) + " " + Quote(reversed));
            const Bytes a = testutil::ReadFile(normal), b = testutil::ReadFile(reversed);
            ASSERT_EQ(a.size(), b.size());
            ASSERT_NE(a, b) << "the copy's data is in the other bit order";
            const std::string expected = dir.File("expected.ppm");
            if (layout.Pil)
                PilToPpm(normal, expected);
            else
                Must(Tool("convert") + " " + Quote(normal) + " -depth 8 " + Quote(expected));
            ExpectPicture(reversed, expected, layout.Tolerance);
        }
    }
}

TEST(TiffReader, SeparatePlanesAtEightAndSixteenBits)
{
    // RGB, RGB with alpha, CMYK and grey with alpha in separate planes:
    // tiffcp makes them at 8 bits from a file in one plane, ImageMagick at
    // 16 bits from the same picture; each against an outside reading of the
    // file in one plane (16 bits: within one more level).
    testutil::TempDir dir;
    testutil::WritePpm(dir.File("src.ppm"), TestPicture(53, 37));
    const std::string im = Tool("convert") + " " + Quote(dir.File("src.ppm"));
    const std::string alpha = " -alpha on -channel A -fx \"(i+j)/(w+h)\" +channel";
    const struct {
        const char* Name;
        std::string Options;
        bool Pil; // PIL reads the file in one plane; else ImageMagick
        int Tolerance;
    } layouts[] = {
        {"RGB", "", true, 0},
        {"RGBA", alpha, true, 0},
        {"CMYK", " -colorspace CMYK", false, 1},
        {"grey and alpha", " -colorspace Gray" + alpha, true, 0},
    };
    for (const auto& layout : layouts) {
        SCOPED_TRACE(layout.Name);
        const std::string base = dir.File("base.tif"), planes = dir.File("planes.tif");
        const std::string expectedFile = dir.File("expected.ppm");
        Must(im + layout.Options + " -depth 8 -compress none " + Quote(base));
        if (layout.Pil)
            PilToPpm(base, expectedFile);
        else
            Must(Tool("convert") + " " + Quote(base) + " -colorspace sRGB -depth 8 " + Quote(expectedFile));
        const testutil::RgbImage expected = testutil::ReadPpm(expectedFile);
        for (const char* options : {"-c none", "-c lzw -r 7", "-c lzw:2 -B", "-c packbits -r 5"}) {
            SCOPED_TRACE(options);
            Must(Tool("tiffcp") + " -p separate " + options + " " + Quote(base) + " " + Quote(planes));
            ExpectPicture(planes, expected, layout.Tolerance);
        }
        for (const char* options : {"-compress none", "-compress lzw -define tiff:predictor=2", "-compress rle"}) {
            SCOPED_TRACE(options);
            Must(im + layout.Options + " -depth 16 -interlace plane " + options + " " + Quote(planes));
            ExpectPicture(planes, expected, layout.Tolerance + 1);
        }
    }
    // The strips must divide among the planes.
    EXPECT_NE(LoadError<TTIFFGraphic>(BuildTiff({{256, 3, {2}}, {257, 3, {2}}, {258, 3, {8, 8, 8}}, {262, 3, {2}},
                                                 {277, 3, {3}}, {278, 3, {1}}, {284, 3, {2}}},
                                                {Ramp(2), Ramp(2), Ramp(2), Ramp(2)}))
                  .find("planes"),
              std::string::npos);
}

TEST(TiffReader, AFileCutShortKeepsItsRowsAndSaysItIsIncomplete)
{
    // 4 x 6 grey in three PackBits strips of two rows, laid out after the
    // directory as many writers do; the copy cut inside the second strip
    // keeps the first two rows and leaves the rest white.
    auto tags = GreyTags(4, 6);
    tags.push_back({259, 3, {32773}});
    tags.push_back({278, 3, {2}});
    std::vector<Bytes> strips;
    for (int k = 0; k < 3; ++k)
        strips.push_back(Bytes{7} + Ramp(8, 10 + 40 * k));
    auto withStrips = [&](std::uint32_t first) {
        auto t = tags;
        t.push_back({273, 4, {first, first + 9, first + 18}});
        t.push_back({279, 4, {9, 9, 9}});
        return BuildTiff(t, {}, false, false);
    };
    const std::size_t directoryBytes = withStrips(0).size();
    Bytes whole = withStrips(static_cast<std::uint32_t>(directoryBytes));
    for (const Bytes& strip : strips)
        whole = whole + strip;

    auto g = Load<TTIFFGraphic>(whole);
    ASSERT_EQ(g->Height(), 6);
    EXPECT_EQ(g->ReadWarning(), "");
    EXPECT_EQ(g->GetPixelColor(3, 5), RGB(111, 111, 111));

    const Bytes cut(whole.begin(), whole.end() - 14);
    auto c = Load<TTIFFGraphic>(cut);
    ASSERT_EQ(c->Width(), 4);
    ASSERT_EQ(c->Height(), 6);
    EXPECT_NE(c->ReadWarning().find("TIFF"), std::string::npos);
    EXPECT_NE(c->ReadWarning().find("ends"), std::string::npos) << c->ReadWarning();
    EXPECT_EQ(c->GetPixelColor(0, 0), RGB(10, 10, 10));
    EXPECT_EQ(c->GetPixelColor(3, 1), RGB(31, 31, 31));
    for (int y = 2; y < 6; ++y)
        EXPECT_EQ(c->GetPixelColor(0, y), clWhite) << y;

    // A PIL file (directory first, raw strips) cut after half its bytes: the
    // rows it holds are PIL's reading of the whole file, the others white.
    testutil::TempDir dir;
    testutil::WritePpm(dir.File("src.ppm"), TestPicture(40, 30));
    MustPython("import sys\nfrom PIL import Image\nImage.open(sys.argv[1]).save(sys.argv[2])",
               {dir.File("src.ppm"), dir.File("whole.tif")});
    PilToPpm(dir.File("whole.tif"), dir.File("expected.ppm"));
    const testutil::RgbImage expected = testutil::ReadPpm(dir.File("expected.ppm"));
    const Bytes pil = testutil::ReadFile(dir.File("whole.tif"));
    auto half = Load<TTIFFGraphic>(Bytes(pil.begin(), pil.begin() + static_cast<std::ptrdiff_t>(pil.size() / 2)));
    EXPECT_NE(half->ReadWarning(), "");
    const testutil::RgbImage got = testutil::FromBitmap(*half);
    ASSERT_EQ(got.Width, expected.Width);
    ASSERT_EQ(got.Height, expected.Height);
    int kept = 0;
    while (kept < got.Height && std::equal(got.At(0, kept), got.At(0, kept) + 3 * got.Width, expected.At(0, kept)))
        ++kept;
    EXPECT_GE(kept, 10);
    EXPECT_LT(kept, 16);
    for (int y = kept; y < got.Height; ++y)
        for (int x = 0; x < got.Width; ++x)
            ASSERT_EQ(got.At(x, y)[0] & got.At(x, y)[1] & got.At(x, y)[2], 255) << x << "," << y;

    // Strips that all lie past the end would show nothing at all: refused.
    const Bytes noStrips(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(directoryBytes));
    EXPECT_EQ(LoadError<TTIFFGraphic>(noStrips), "TIFF: the picture's strips lie outside the file.");
}

TEST(TiffReader, OldStyleLzwStripsWithCodesLowestBitFirst)
{
    // The packing of files from before TIFF 6: codes lowest bit first,
    // widened once the next free entry is 512, 1024 and 2048; noise enough
    // to reach 12-bit codes and a clear code, in two strips. libtiff reads
    // the file as the picture it was made from, and so must we.
    const testutil::RgbImage source = TestPicture(97, 61);
    const LzwPacking old{.MsbFirst = false, .EarlyChange = false};
    const std::size_t half = 31 * 97 * 3; // rows 0 to 30, then 31 to 60
    const Bytes top(source.Rgb.begin(), source.Rgb.begin() + static_cast<std::ptrdiff_t>(half));
    const Bytes bottom(source.Rgb.begin() + static_cast<std::ptrdiff_t>(half), source.Rgb.end());
    const Bytes first = LzwEncode(top, old), second = LzwEncode(bottom, old);
    ASSERT_EQ(first[0], 0);
    ASSERT_EQ(first[1] & 1, 1);
    const Bytes file = BuildTiff({{256, 3, {97}},
                                  {257, 3, {61}},
                                  {258, 3, {8, 8, 8}},
                                  {259, 3, {5}},
                                  {262, 3, {2}},
                                  {277, 3, {3}},
                                  {278, 3, {31}}},
                                 {first, second});
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("old.tif"), file);
    Must(Tool("tiff2rgba") + " " + Quote(dir.File("old.tif")) + " " + Quote(dir.File("rgba.tif")) + " 2>/dev/null");
    PilToPpm(dir.File("rgba.tif"), dir.File("libtiff.ppm"));
    const testutil::RgbImage libtiff = testutil::ReadPpm(dir.File("libtiff.ppm"));
    ASSERT_EQ(libtiff.Width, source.Width);
    ASSERT_EQ(libtiff.Height, source.Height);
    ASSERT_EQ(testutil::MaxDifference(libtiff, source), 0) << "the hand-made file is not what libtiff reads";
    ExpectPicture(dir.File("old.tif"), source);
}

TEST(TiffReader, YCbCrCoefficientsOfZeroAreRefusedAsLibtiffRefusesThem)
{
    // Grey pixels (Cb = Cr = 128) under coefficients that would divide by a
    // zero green weight.
    for (const std::vector<std::uint32_t>& coefficients :
         {std::vector<std::uint32_t>{0, 1, 0, 1, 0, 1}, {299, 1000, 0, 1, 114, 1000}, {299, 1000, 587, 0, 114, 1000}}) {
        SCOPED_TRACE(coefficients[2]);
        const Bytes file = BuildTiff({{256, 3, {2}},
                                      {257, 3, {1}},
                                      {258, 3, {8, 8, 8}},
                                      {259, 3, {1}},
                                      {262, 3, {6}},
                                      {277, 3, {3}},
                                      {529, 5, coefficients},
                                      {530, 3, {1, 1}}},
                                     {{128, 128, 128, 60, 128, 128}});
        EXPECT_EQ(LoadError<TTIFFGraphic>(file), "TIFF: YCbCr coefficients of 0 cannot convert the colours.");
        testutil::TempDir dir;
        testutil::WriteFile(dir.File("y.tif"), file);
        const testutil::CommandResult r = testutil::Run(Tool("tiff2rgba") + " " + Quote(dir.File("y.tif")) + " " +
                                                        Quote(dir.File("rgba.tif")));
        EXPECT_NE(r.ExitCode, 0) << r.Output;
    }
}
