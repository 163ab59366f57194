// Targa reading and writing: files of ImageMagick, PIL and netpbm of every
// type, both origins, run-length or not, decoded through picdump against
// PIL; our files read back by PIL and ImageMagick; the header we write, the
// 256-colour question, and hand-built files for colour maps and damage.

#include "ImageReaders.h"
#include "ReaderTestFiles.h"

#include "Exceptions.h"
#include "Streams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace readertest;
using testutil::Quote;

namespace {

struct Writer {
    const char* Name;
    std::string Command; // from src.ppm (%s the folder) to a.tga
    int Tolerance;
    bool NetpbmDecodes = false; // tgatoppm as the decoder, else PIL
};

std::vector<Writer> Writers()
{
    const std::string Im = Tool("convert") + " %s/src.ppm ";
    const std::string Pil = PythonWithPil() + " -c \"import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n";
    const std::string PilArgs = "\" %s/src.ppm %s/a.tga";
    const std::string Quant = Tool("pnmquant") + " 200 %s/src.ppm 2>/dev/null | ";
    const std::string Grey = Tool("ppmtopgm") + " %s/src.ppm | ";
    const std::string Pamtotga = Tool("pamtotga");
    return {
        {"ImageMagick true colour", Im + "-compress none %s/a.tga", 0},
        {"ImageMagick true colour RLE", Im + "-compress RLE %s/a.tga", 0},
        {"ImageMagick grey", Im + "-colorspace Gray -type Grayscale -compress none %s/a.tga", 0},
        {"ImageMagick grey RLE", Im + "-colorspace Gray -type Grayscale -compress RLE %s/a.tga", 0},
        {"ImageMagick palette", Im + "-colors 200 -type Palette -compress none %s/a.tga", 0},
        {"ImageMagick palette RLE", Im + "-colors 200 -type Palette -compress RLE %s/a.tga", 0},
        {"ImageMagick with alpha", Im + "-alpha set -channel A -evaluate set 60% +channel %s/a.tga", 0},
        {"PIL RGB", Pil + "im.save(sys.argv[2])" + PilArgs, 0},
        {"PIL RGB RLE from the top", Pil + "im.save(sys.argv[2], compression='tga_rle', orientation=1)" + PilArgs, 0},
        {"PIL grey RLE", Pil + "im.convert('L').save(sys.argv[2], compression='tga_rle')" + PilArgs, 0},
        {"PIL grey from the top", Pil + "im.convert('L').save(sys.argv[2], orientation=1)" + PilArgs, 0},
        {"PIL grey and alpha", Pil + "im.convert('LA').save(sys.argv[2])" + PilArgs, 0},
        {"PIL grey and alpha RLE from the top",
         Pil + "im.convert('LA').save(sys.argv[2], compression='tga_rle', orientation=1)" + PilArgs, 0},
        {"PIL palette", Pil + "im.quantize(100).save(sys.argv[2])" + PilArgs, 0},
        {"PIL palette RLE", Pil + "im.quantize(60).save(sys.argv[2], compression='tga_rle')" + PilArgs, 0},
        {"PIL RGBA RLE", Pil + "im = im.convert('RGBA')\nim.putalpha(90)\nim.save(sys.argv[2], compression='tga_rle')" +
                             PilArgs, 0},
        {"netpbm RGB", Pamtotga + " -rgb -norle %s/src.ppm 2>/dev/null > %s/a.tga", 0},
        {"netpbm RGB RLE", Pamtotga + " -rgb %s/src.ppm 2>/dev/null > %s/a.tga", 0},
        {"netpbm grey", Grey + Pamtotga + " -mono -norle 2>/dev/null > %s/a.tga", 0},
        {"netpbm grey RLE", Grey + Pamtotga + " -mono 2>/dev/null > %s/a.tga", 0},
        {"netpbm colour map", Quant + Pamtotga + " -cmap -norle 2>/dev/null > %s/a.tga", 0},
        {"netpbm colour map RLE", Quant + Pamtotga + " -cmap 2>/dev/null > %s/a.tga", 0},
        // 16-bit map entries keep five bits a component: the low three bits
        // of each colour are zero here, where netpbm repeats the top bits.
        // (PIL misreads these maps.)
        {"netpbm 16-bit colour map", Quant + Pamtotga + " -cmap16 2>/dev/null > %s/a.tga", 7, true},
    };
}

Bytes Header(std::uint8_t type, std::uint16_t width, std::uint16_t height, std::uint8_t depth,
             std::uint8_t descriptor = 0x20, std::uint8_t mapType = 0, std::uint16_t mapLength = 0,
             std::uint8_t entrySize = 0)
{
    return {0,
            mapType,
            type,
            0,
            0,
            static_cast<std::uint8_t>(mapLength),
            static_cast<std::uint8_t>(mapLength >> 8),
            entrySize,
            0,
            0,
            0,
            0,
            static_cast<std::uint8_t>(width),
            static_cast<std::uint8_t>(width >> 8),
            static_cast<std::uint8_t>(height),
            static_cast<std::uint8_t>(height >> 8),
            depth,
            descriptor};
}

// A bitmap of the test picture in the given format.
TTargaGraphic Picture(TPixelFormat format)
{
    const testutil::RgbImage src = TestPicture(37, 23);
    TTargaGraphic g;
    g.SetSize(src.Width, src.Height);
    for (int y = 0; y < src.Height; ++y)
        for (int x = 0; x < src.Width; ++x)
            g.SetPixelColor(x, y, RGB(src.At(x, y)[0], src.At(x, y)[1], src.At(x, y)[2]));
    g.SetPixelFormat(format);
    return g;
}

} // namespace

TEST(TargaReader, FilesOfOutsideWritersDecodeAsPilDecodesThem)
{
    testutil::TempDir dir;
    testutil::WritePpm(dir.File("src.ppm"), TestPicture(67, 45));
    for (const Writer& w : Writers()) {
        SCOPED_TRACE(w.Name);
        Must(Fill(w.Command, dir.Path()));
        if (w.NetpbmDecodes)
            Must(Tool("tgatoppm") + " " + Quote(dir.File("a.tga")) + " | " + Tool("pamdepth") + " 255 > " +
                 Quote(dir.File("expected.ppm")));
        else
            PilToPpm(dir.File("a.tga"), dir.File("expected.ppm"));
        ExpectPicture(dir.File("a.tga"), dir.File("expected.ppm"), w.Tolerance);
    }
}

TEST(TargaWriter, OurFilesReadBackByPilAndImageMagick)
{
    testutil::TempDir dir;
    for (TPixelFormat format : {pf24bit, pf32bit, pf8bit, pf15bit, pf16bit, pf4bit, pf1bit}) {
        SCOPED_TRACE(static_cast<int>(format));
        TTargaGraphic g = Picture(format);
        g.ImageID = "Corvinel";
        const std::string file = dir.File("ours.tga");
        g.SaveToFile(file);
        // What the file holds: 8 bits for 1- and 4-bit pictures, 15 for 16.
        TBitmap stored = testutil::Copy(g);
        if (format == pf1bit || format == pf4bit)
            stored.SetPixelFormat(pf8bit);
        if (format == pf16bit)
            stored.SetPixelFormat(pf15bit);
        const testutil::RgbImage expected = testutil::FromBitmap(stored);
        // Five-bit components are widened by each decoder its own way.
        const int tolerance = format == pf15bit || format == pf16bit ? 7 : 0;
        PilToPpm(file, dir.File("pil.ppm"));
        const testutil::RgbImage pil = testutil::ReadPpm(dir.File("pil.ppm"));
        ASSERT_EQ(pil.Width, expected.Width);
        ASSERT_EQ(pil.Height, expected.Height);
        EXPECT_LE(testutil::MaxDifference(pil, expected), tolerance);
        Must(Tool("convert") + " " + Quote(file) + " -depth 8 " + Quote(dir.File("im.ppm")));
        const testutil::RgbImage im = testutil::ReadPpm(dir.File("im.ppm"));
        ASSERT_EQ(im.Width, expected.Width);
        ASSERT_EQ(im.Height, expected.Height);
        EXPECT_LE(testutil::MaxDifference(im, expected), tolerance);
        // And our reader gives the same pixels back.
        TTargaGraphic back;
        back.LoadFromFile(file);
        EXPECT_TRUE(testutil::SamePixels(back, stored));
        EXPECT_EQ(back.ImageID, "Corvinel");
    }
}

TEST(TargaWriter, HeaderOfATrueColourFile)
{
    TTargaGraphic g = Picture(pf24bit);
    TMemoryStream out;
    g.SaveToStream(out);
    const Bytes& d = out.Data();
    ASSERT_GE(d.size(), 18u);
    EXPECT_EQ(Bytes(d.begin(), d.begin() + 18), Header(10, 37, 23, 24, 0x20, 0, 256, 24));
    // An identification longer than the field takes keeps its first 255
    // characters; the header stays consistent with what follows it.
    g.ImageID = std::string(300, 'x');
    TMemoryStream longId;
    g.SaveToStream(longId);
    EXPECT_EQ(longId.Data()[0], 255);
    longId.SetPosition(0);
    TTargaGraphic reread;
    reread.LoadFromStream(longId);
    EXPECT_EQ(reread.ImageID, std::string(255, 'x'));
    EXPECT_TRUE(testutil::SamePixels(reread, g));
    // A 32-bit picture saved and loaded gives the same bytes, alpha too.
    TTargaGraphic a = Picture(pf32bit);
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            a.ScanLine(y)[4 * x + 3] = static_cast<std::uint8_t>(x * 7 + y);
    TMemoryStream s32;
    a.SaveToStream(s32);
    s32.SetPosition(0);
    TTargaGraphic b;
    b.LoadFromStream(s32);
    ASSERT_EQ(b.PixelFormat(), pf32bit);
    for (int y = 0; y < a.Height(); ++y)
        EXPECT_EQ(0, std::memcmp(a.ScanLine(y), b.ScanLine(y), 4 * static_cast<std::size_t>(a.Width())));
}

TEST(TargaWriter, FourBitPicturesAskBeforeGoingTo256Colours)
{
    std::vector<std::string> asked;
    bool answer = false;
    TTargaGraphic::ConfirmConversion = [&](const std::string& q) {
        asked.push_back(q);
        return answer;
    };
    TTargaGraphic g = Picture(pf4bit);
    testutil::TempDir dir;
    const std::string file = dir.File("keep.tga");
    testutil::WriteFile(file, {9, 9, 9});
    TMemoryStream out;
    g.SaveToStream(out);
    g.SaveToFile(file);
    EXPECT_EQ(out.Size(), 0) << "declined: nothing written";
    EXPECT_EQ(testutil::ReadFile(file), (Bytes{9, 9, 9})) << "declined: the old file stays";
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], "Targa image: 1 or 4 bit color depth not allowed. Convert to 256 colors?");
    answer = true;
    g.SaveToFile(file);
    const Bytes d = testutil::ReadFile(file);
    ASSERT_GE(d.size(), 18u + 768u);
    EXPECT_EQ(d[1], 1);
    EXPECT_EQ(d[2], 9);
    EXPECT_EQ(d[5] | (d[6] << 8), 256);
    EXPECT_EQ(d[16], 8);
    TTargaGraphic back;
    back.LoadFromFile(file);
    EXPECT_EQ(back.PixelFormat(), pf8bit);
    EXPECT_TRUE(testutil::SamePixels(back, g));
    TTargaGraphic::ConfirmConversion = nullptr;

    // An empty picture writes nothing and leaves a file alone; a save that
    // fails leaves the old file whole.
    TTargaGraphic empty;
    empty.SaveToFile(file);
    EXPECT_EQ(testutil::ReadFile(file), d);
    TTargaGraphic wide;
    wide.SetSize(70000, 1);
    EXPECT_THROW(wide.SaveToFile(file), Exception);
    EXPECT_EQ(testutil::ReadFile(file), d);
}

TEST(TargaReader, ColourMapsDepthsAndOrigins)
{
    // 15- and 16-bit pixels of one picture load alike.
    const Bytes pixels = {0x1F, 0x00, 0xE0, 0x03, 0x00, 0x7C, 0xFF, 0x7F};
    auto a = Load<TTargaGraphic>(Header(2, 4, 1, 15) + pixels);
    auto b = Load<TTargaGraphic>(Header(2, 4, 1, 16) + pixels);
    EXPECT_TRUE(testutil::SamePixels(*a, *b));
    EXPECT_EQ(a->GetPixelColor(0, 0), RGB(0, 0, 255));
    EXPECT_EQ(a->GetPixelColor(2, 0), RGB(255, 0, 0));
    // A 32-bit colour map: the fourth byte of each entry is left out.
    auto m = Load<TTargaGraphic>(Header(1, 2, 1, 8, 0x20, 1, 2, 32) + Bytes{10, 20, 30, 99, 40, 50, 60, 99} + Bytes{1, 0});
    EXPECT_EQ(m->GetPixelColor(0, 0), RGB(60, 50, 40));
    EXPECT_EQ(m->GetPixelColor(1, 0), RGB(30, 20, 10));
    // A map of 300 entries: read over, the first 256 kept.
    Bytes map;
    for (int k = 0; k < 300; ++k)
        map = map + Bytes{static_cast<std::uint8_t>(k), 0, 0};
    auto big = Load<TTargaGraphic>(Header(1, 2, 1, 8, 0x20, 1, 300, 24) + map + Bytes{255, 3});
    EXPECT_EQ(big->GetPixelColor(0, 0), RGB(0, 0, 255));
    EXPECT_EQ(big->GetPixelColor(1, 0), RGB(0, 0, 3));
    // An index past a short map shows black, never another colour.
    auto shortMap = Load<TTargaGraphic>(Header(1, 2, 1, 8, 0x20, 1, 2, 24) + Bytes{1, 2, 3, 4, 5, 6} + Bytes{1, 200});
    EXPECT_EQ(shortMap->GetPixelColor(1, 0), clBlack);
    // A grey run-length file gets the 256-step grey palette; rows from the
    // bottom when bit 5 is clear; a run carried over the row end.
    auto grey = Load<TTargaGraphic>(Header(11, 3, 2, 8, 0x00) + Bytes{0x83, 77, 0x01, 5, 6});
    ASSERT_EQ(grey->PixelFormat(), pf8bit);
    EXPECT_EQ(grey->GetPixelColor(0, 1), RGB(77, 77, 77));
    EXPECT_EQ(grey->GetPixelColor(0, 0), RGB(77, 77, 77));
    EXPECT_EQ(grey->GetPixelColor(1, 0), RGB(5, 5, 5));
    EXPECT_EQ(grey->GetPixelColor(2, 0), RGB(6, 6, 6));
    // Grey and alpha pairs show their grey, plain and run-length, and a
    // pair run carried over the row end.
    auto pairs = Load<TTargaGraphic>(Header(3, 2, 1, 16) + Bytes{10, 200, 20, 0});
    ASSERT_EQ(pairs->PixelFormat(), pf8bit);
    EXPECT_EQ(pairs->GetPixelColor(0, 0), RGB(10, 10, 10));
    EXPECT_EQ(pairs->GetPixelColor(1, 0), RGB(20, 20, 20));
    auto pairRuns = Load<TTargaGraphic>(Header(11, 2, 2, 16) + Bytes{0x82, 90, 255, 0x00, 30, 1});
    EXPECT_EQ(pairRuns->GetPixelColor(0, 0), RGB(90, 90, 90));
    EXPECT_EQ(pairRuns->GetPixelColor(0, 1), RGB(90, 90, 90));
    EXPECT_EQ(pairRuns->GetPixelColor(1, 1), RGB(30, 30, 30));
    // A colour map flagged but empty reads nothing, whatever its entry
    // size says: the true-colour pixels follow the header.
    auto emptyMap = Load<TTargaGraphic>(Header(2, 1, 1, 24, 0x20, 1, 0, 0) + Bytes{1, 2, 3});
    EXPECT_EQ(emptyMap->GetPixelColor(0, 0), RGB(3, 2, 1));
    // The image ID is kept.
    Bytes withId = Header(3, 1, 1, 8);
    withId[0] = 3;
    auto id = Load<TTargaGraphic>(withId + Bytes{'a', 'b', 'c', 42});
    EXPECT_EQ(id->ImageID, "abc");
    EXPECT_EQ(id->GetPixelColor(0, 0), RGB(42, 42, 42));
}

TEST(TargaReader, DamagedFilesAreRefusedOrLeaveTheRestWhite)
{
    EXPECT_EQ(LoadError<TTargaGraphic>(Bytes{0, 0, 2}), "Targa: invalid image");
    EXPECT_EQ(LoadError<TTargaGraphic>(Header(2, 2, 2, 24) + Bytes(9, 1)), "Targa: invalid image");
    EXPECT_NE(LoadError<TTargaGraphic>(Header(2, 2, 2, 12) + Bytes(12, 1)).find("depth 12"), std::string::npos);
    EXPECT_NE(LoadError<TTargaGraphic>(Header(1, 2, 1, 8, 0x20, 1, 2, 8) + Bytes(10, 1)).find("colour map"), std::string::npos);
    EXPECT_NE(LoadError<TTargaGraphic>(Header(1, 2, 1, 24, 0x20, 1, 2, 24) + Bytes(12, 1)).find("colour-mapped"), std::string::npos);
    EXPECT_NE(LoadError<TTargaGraphic>(Header(7, 2, 1, 24) + Bytes(6, 1)).find("image type 7"), std::string::npos);
    // A truncated run-length picture: the first row, then white.
    auto t = Load<TTargaGraphic>(Header(10, 2, 2, 24) + Bytes{0x81, 1, 2, 3});
    EXPECT_EQ(t->GetPixelColor(1, 0), RGB(3, 2, 1));
    EXPECT_EQ(t->GetPixelColor(0, 1), clWhite);
    // Sizes past the pixel budget are refused before allocation.
    const TPixelBudgetScope budget(1000);
    EXPECT_THROW(Load<TTargaGraphic>(Header(2, 40, 40, 8) + Bytes(1600, 1)), EOutOfMemory);
}

TEST(TargaReader, RowsStoredFromTheRightInEveryOrigin)
{
    // ImageMagick stores the rows as they stand and says in the descriptor
    // where they start; PIL turns them round as the descriptor says. (Rows
    // from the left are in the test of the outside writers.)
    testutil::TempDir dir;
    testutil::WritePpm(dir.File("src.ppm"), TestPicture(29, 17));
    const struct {
        const char* Orient;
        std::uint8_t Bits; // descriptor bits 4 and 5
    } origins[] = {{"TopRight", 0x30}, {"BottomRight", 0x10}};
    const char* const kinds[] = {"", "-colorspace Gray -type Grayscale", "-colors 40 -type Palette",
                                 "-alpha set -channel A -evaluate set 70% +channel"};
    std::vector<std::string> files;
    for (const auto& origin : origins)
        for (const char* kind : kinds)
            for (const char* compression : {"none", "RLE"}) {
                const std::string file = dir.File("a" + std::to_string(files.size()) + ".tga");
                Must(Tool("convert") + " " + Quote(dir.File("src.ppm")) + " " + kind + " -orient " + origin.Orient +
                     " -compress " + compression + " " + Quote(file));
                const Bytes d = testutil::ReadFile(file);
                ASSERT_GE(d.size(), 18u);
                ASSERT_EQ(d[17] & 0x30, origin.Bits) << file;
                files.push_back(file);
            }
    MustPython("import sys\nfrom PIL import Image\nfor f in sys.argv[1:]:\n"
               "    Image.open(f).convert('RGB').save(f + '.ppm')",
               files);
    for (const std::string& file : files)
        ExpectPicture(file, file + ".ppm");

    // Grey and alpha pairs, run-length, from the bottom right, a run going
    // on into the next row: file rows 90 90 90 and 90 10 20.
    auto pairs = Load<TTargaGraphic>(Header(11, 3, 2, 16, 0x10) + Bytes{0x83, 90, 255, 0x01, 10, 0, 20, 0});
    ASSERT_EQ(pairs->Width(), 3);
    ASSERT_EQ(pairs->Height(), 2);
    EXPECT_EQ(pairs->GetPixelColor(0, 0), RGB(20, 20, 20));
    EXPECT_EQ(pairs->GetPixelColor(1, 0), RGB(10, 10, 10));
    EXPECT_EQ(pairs->GetPixelColor(2, 0), RGB(90, 90, 90));
    EXPECT_EQ(pairs->GetPixelColor(0, 1), RGB(90, 90, 90));
    // 15-bit pixels from the top right: the first stored pixel (blue) on
    // the right.
    auto fifteen = Load<TTargaGraphic>(Header(2, 2, 1, 15, 0x30) + Bytes{0x1F, 0x00, 0x00, 0x7C});
    EXPECT_EQ(fifteen->GetPixelColor(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(fifteen->GetPixelColor(1, 0), RGB(0, 0, 255));
}

TEST(TargaReader, ColourMappedFilesWithoutTheirMap)
{
    // The indices are kept; the colours are those of a new 8-bit bitmap.
    const Bytes indices = {0, 5, 255};
    for (const Bytes& file : {Header(1, 3, 1, 8) + indices, Header(9, 3, 1, 8) + Bytes{0x02} + indices}) {
        TTargaGraphic g;
        ASSERT_EQ(LoadError(g, file), "");
        ASSERT_EQ(g.Width(), 3);
        ASSERT_EQ(g.Height(), 1);
        ASSERT_EQ(g.PixelFormat(), pf8bit);
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(g.GetRawPixel(x, 0), std::uint32_t{indices[static_cast<std::size_t>(x)]});
        EXPECT_EQ(g.GetPalette(), TBitmap(1, 1, pf8bit).GetPalette());
    }
}

TEST(TargaReader, SmallFilesClaimingHugePicturesAreRefusedBeforeAllocation)
{
    // Under a budget below the claimed size, a refusal of the file itself
    // (not the budget's) shows that nothing was allocated first.
    {
        const TPixelBudgetScope budget(100);
        EXPECT_EQ(LoadError<TTargaGraphic>(Header(2, 16384, 16384, 32)), "Targa: invalid image");
        EXPECT_EQ(LoadError<TTargaGraphic>(Header(2, 100, 100, 24) + Bytes(29999, 1)), "Targa: invalid image");
        EXPECT_EQ(LoadError<TTargaGraphic>(Header(1, 100, 100, 8) + Bytes(9999, 1)), "Targa: invalid image");
        // Run-length: four bytes of 24-bit runs give 128 pixels at most.
        EXPECT_EQ(LoadError<TTargaGraphic>(Header(10, 1000, 1000, 24) + Bytes(31248, 0xFF)), "Targa: invalid image");
    }
    // At the limit a run-length file loads: two 8-bit runs of 128 fill 256
    // pixels, and one pixel more is refused.
    const Bytes runs = {0xFF, 7, 0xFF, 9};
    auto full = Load<TTargaGraphic>(Header(11, 128, 2, 8) + runs);
    EXPECT_EQ(full->GetPixelColor(127, 0), RGB(7, 7, 7));
    EXPECT_EQ(full->GetPixelColor(127, 1), RGB(9, 9, 9));
    EXPECT_EQ(LoadError<TTargaGraphic>(Header(11, 257, 1, 8) + runs), "Targa: invalid image");
    // Two grey and alpha runs of three bytes each: 256 pixels, not 257.
    EXPECT_EQ(LoadError<TTargaGraphic>(Header(11, 256, 1, 16) + Bytes{0xFF, 1, 2, 0xFF, 3, 4}), "");
    EXPECT_EQ(LoadError<TTargaGraphic>(Header(11, 257, 1, 16) + Bytes{0xFF, 1, 2, 0xFF, 3, 4}), "Targa: invalid image");
}

TEST(TargaReader, AColourMapStartingPastEntryZero)
{
    // Pixel values 39 to 98 take entries 0 to 59 of a map whose first entry
    // is 39, as PIL and ImageMagick read it; the same map as run-length data.
    constexpr int width = 17, height = 6, first = 39, length = 60;
    Bytes map;
    for (int k = 0; k < length; ++k)
        map = map + Bytes{static_cast<std::uint8_t>(k * 4), static_cast<std::uint8_t>(250 - k * 3),
                          static_cast<std::uint8_t>(k * k % 256)};
    Bytes indices;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            indices.push_back(static_cast<std::uint8_t>(first + (x * 7 + y * 11) % length));
    Bytes runLength;
    for (std::size_t at = 0; at < indices.size(); at += 100) {
        const std::size_t n = std::min<std::size_t>(100, indices.size() - at);
        runLength.push_back(static_cast<std::uint8_t>(n - 1));
        runLength.insert(runLength.end(), indices.begin() + static_cast<std::ptrdiff_t>(at),
                         indices.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    auto withOrigin = [&](std::uint8_t type, std::uint16_t w, std::uint16_t h) {
        Bytes header = Header(type, w, h, 8, 0x20, 1, length, 24);
        PutLE16(header, 3, first);
        return header + map;
    };
    testutil::TempDir dir;
    for (const Bytes& file : {withOrigin(1, width, height) + indices, withOrigin(9, width, height) + runLength}) {
        SCOPED_TRACE(static_cast<int>(file[2]));
        testutil::WriteFile(dir.File("a.tga"), file);
        PilToPpm(dir.File("a.tga"), dir.File("pil.ppm"));
        ExpectPicture(dir.File("a.tga"), dir.File("pil.ppm"));
        Must(Tool("convert") + " " + Quote(dir.File("a.tga")) + " -depth 8 " + Quote(dir.File("im.ppm")));
        ExpectPicture(dir.File("a.tga"), dir.File("im.ppm"));
    }
    // Values below the map's first entry or past its last show black.
    auto outside = Load<TTargaGraphic>(withOrigin(1, 4, 1) + Bytes{38, 99, 39, 98});
    EXPECT_EQ(outside->GetPixelColor(0, 0), clBlack);
    EXPECT_EQ(outside->GetPixelColor(1, 0), clBlack);
    EXPECT_EQ(outside->GetPixelColor(2, 0), RGB(0, 250, 0));
    EXPECT_EQ(outside->GetPixelColor(3, 0), RGB(59 * 59 % 256, 250 - 59 * 3, 59 * 4));
}
