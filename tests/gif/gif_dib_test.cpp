// Row access, fixed palettes and the stream routines of the GIF codec.

#include "GifCodec.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <random>

using namespace testutil;

namespace {

std::vector<std::uint8_t> Bytes(TMemoryStream& stream)
{
    return stream.Data();
}

TEST(GifSupport, RowBytesAndBitsForColors)
{
    EXPECT_EQ(RowBytes(3, 24, 32), 12u);
    EXPECT_EQ(RowBytes(5, 8, 32), 8u);
    EXPECT_EQ(RowBytes(1, 1, 32), 4u);
    EXPECT_EQ(RowBytes(9, 1, 8), 2u);
    // Sizes beyond 32 bits stay exact.
    EXPECT_EQ(RowBytes(std::size_t{1} << 31, 32, 32), std::size_t{1} << 33);
    const int expected[] = {0, 1, 1, 2, 2, 3, 3, 3, 3, 4};
    for (int count = 0; count < 10; ++count)
        EXPECT_EQ(BitsForColors(count), expected[count]) << count;
    EXPECT_EQ(BitsForColors(128), 7);
    EXPECT_EQ(BitsForColors(129), 8);
    EXPECT_EQ(BitsForColors(256), 8);
    EXPECT_EQ(BitsForColors(-3), 0);
}

TEST(GifSupport, ErrorsCarryTheirClassAndText)
{
    try {
        RaiseGIFError("Invalid GIF signature");
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.ClassName(), "GIFException");
        EXPECT_EQ(e.Message, "Invalid GIF signature");
    }
    EXPECT_EQ(CheckGDI(42), 42);
    int object = 0;
    EXPECT_EQ(CheckGDI(&object), &object);
    try {
        CheckGDI(0);
        FAIL();
    } catch (const EOutOfResources& e) {
        EXPECT_EQ(e.Message, "Plus de ressources système");
    }
}

TEST(GifSupport, ByteReadsNeverPassTheEnd)
{
    TMemoryStream stream(std::vector<std::uint8_t>{0x41});
    EXPECT_EQ(ReadByte(stream), 0x41);
    EXPECT_EQ(ReadByte(stream), 0);
    EXPECT_EQ(stream.Position(), 1);
    std::uint8_t v = 9;
    EXPECT_FALSE(ReadByteIfAny(stream, v));
    EXPECT_EQ(v, 0);

    TMemoryStream three(std::vector<std::uint8_t>{1, 2, 3});
    std::uint8_t buf[4];
    try {
        ReadExact(three, buf, 4);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message, "Premature end of data");
    }
    TMemoryStream five(std::vector<std::uint8_t>{1, 2, 3, 4, 5});
    SkipExact(five, 5);
    EXPECT_EQ(five.Position(), 5);
    five.SetPosition(2);
    EXPECT_THROW(SkipExact(five, 4), GIFException);
    EXPECT_LE(five.Position(), 5);
}

TEST(GifSupport, StringBlocksCountBytesAndKeepEveryByte)
{
    TMemoryStream empty;
    WriteStringBlocks(empty, {});
    EXPECT_EQ(Bytes(empty), std::vector<std::uint8_t>{0});

    // 600 bytes: 255 + 255 + 90; an empty line writes nothing.
    TMemoryStream stream;
    WriteStringBlocks(stream, {std::string(600, 'x'), "", "ab"});
    const auto& d = stream.Data();
    ASSERT_EQ(d.size(), 1 + 255 + 1 + 255 + 1 + 90 + 1 + 2 + 1u);
    EXPECT_EQ(d[0], 255);
    EXPECT_EQ(d[256], 255);
    EXPECT_EQ(d[512], 90);
    EXPECT_EQ(d[603], 2);
    EXPECT_EQ(d.back(), 0);

    // UTF-8 text is cut by bytes: 150 two-byte letters are 300 bytes.
    std::string accents;
    for (int i = 0; i < 150; ++i)
        accents += "é";
    TMemoryStream utf8;
    WriteStringBlocks(utf8, {accents});
    ASSERT_EQ(utf8.Data().size(), 1 + 255 + 1 + 45 + 1u);
    utf8.SetPosition(0);
    TGIFTextLines lines{"old"};
    ReadStringBlocks(utf8, lines);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0] + lines[1], accents);

    // A NUL byte is part of the text.
    TMemoryStream nul;
    const std::string withNul("a\0b", 3);
    WriteStringBlocks(nul, {withNul});
    EXPECT_EQ(Bytes(nul), (std::vector<std::uint8_t>{3, 'a', 0, 'b', 0}));
    nul.SetPosition(0);
    ReadStringBlocks(nul, lines);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], withNul);

    TMemoryStream abc(std::vector<std::uint8_t>{3, 'a', 'b', 'c', 0});
    ReadStringBlocks(abc, lines);
    EXPECT_EQ(lines, TGIFTextLines{"abc"});
    // The end of the data ends the text quietly; a short block does not.
    TMemoryStream open(std::vector<std::uint8_t>{2, 'h', 'i'});
    ReadStringBlocks(open, lines);
    EXPECT_EQ(lines, TGIFTextLines{"hi"});
    TMemoryStream cut(std::vector<std::uint8_t>{5, 'h', 'i'});
    EXPECT_THROW(ReadStringBlocks(cut, lines), GIFException);
}

TEST(GifPalettes, FixedPalettes)
{
    const TPalette web = WebPalette216();
    ASSERT_EQ(web.size(), 216u);
    EXPECT_EQ(web[180], (TPaletteEntry{255, 0, 0, 0}));
    EXPECT_EQ(web[3 * 36 + 2 * 6 + 1], (TPaletteEntry{153, 102, 51, 0}));
    EXPECT_EQ(web[215], (TPaletteEntry{255, 255, 255, 0}));

    const TPalette ramp = GreyRampPalette();
    ASSERT_EQ(ramp.size(), 256u);
    EXPECT_EQ(ramp[77], (TPaletteEntry{77, 77, 77, PC_NOCOLLAPSE}));
    EXPECT_EQ(Grey4Palette(), (TPalette{{0, 0, 0, PC_NOCOLLAPSE},
                                        {0x80, 0x80, 0x80, PC_NOCOLLAPSE},
                                        {0xC0, 0xC0, 0xC0, PC_NOCOLLAPSE},
                                        {0xFF, 0xFF, 0xFF, PC_NOCOLLAPSE}}));
    EXPECT_EQ(MonoPalette(), (TPalette{{0, 0, 0, PC_NOCOLLAPSE}, {255, 255, 255, PC_NOCOLLAPSE}}));
    EXPECT_EQ(ScreenHalftonePalette(), HalftonePalette256());

    std::uint8_t quads[] = {1, 2, 3, 4, 5, 6, 7, 8};
    PaletteToRGBQuads(quads, 2);
    EXPECT_EQ(std::vector<std::uint8_t>(quads, quads + 8), (std::vector<std::uint8_t>{3, 2, 1, 0, 7, 6, 5, 0}));
}

std::uint32_t Le32(const std::vector<std::uint8_t>& d, std::size_t at)
{
    return d[at] | (d[at + 1] << 8) | (d[at + 2] << 16) | (static_cast<std::uint32_t>(d[at + 3]) << 24);
}

TEST(GifDibWriter, LaysOutRowsBottomUp)
{
    TBitmap bitmap;
    TDIBWriter writer(bitmap, pf8bit, 10, 3, {});
    std::uint8_t* row0 = writer.RowAt(0);
    ASSERT_NE(writer.Bits(), nullptr);
    EXPECT_EQ(writer.BitsSize(), 36u);
    EXPECT_EQ(writer.InfoSize(), 1064u);
    EXPECT_EQ(row0, writer.Bits() + 24);
    EXPECT_EQ(writer.RowAt(2), writer.Bits());
    try {
        writer.RowAt(3);
        FAIL();
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message, "Indice ligne hors limites");
    }
    EXPECT_THROW(writer.RowAt(-1), EInvalidGraphicOperation);
    // The pixel memory starts cleared.
    for (std::size_t i = 0; i < writer.BitsSize(); ++i)
        ASSERT_EQ(writer.Bits()[i], 0);
    // The bitmap changes only when the writer stores.
    EXPECT_TRUE(bitmap.Empty());
}

TEST(GifDibWriter, InMemoryBmpHeader)
{
    TPalette palette;
    for (int i = 0; i < 16; ++i)
        palette.push_back(TPaletteEntry{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i * 2),
                                        static_cast<std::uint8_t>(i * 3), PC_NOCOLLAPSE});
    TBitmap bitmap;
    TDIBWriter writer(bitmap, pf8bit, 5, 2, palette);
    writer.RowAt(0)[0] = 7;
    const auto bmp = writer.InMemoryBmp();
    ASSERT_EQ(bmp.size(), 14 + 1064 + 16u);
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(Le32(bmp, 2), bmp.size());
    EXPECT_EQ(Le32(bmp, 6), 0u);
    EXPECT_EQ(Le32(bmp, 10), 14 + 1064u);
    EXPECT_EQ(Le32(bmp, 14), 40u);
    EXPECT_EQ(Le32(bmp, 18), 5u);
    EXPECT_EQ(Le32(bmp, 22), 2u);
    EXPECT_EQ(bmp[26] | (bmp[27] << 8), 1);
    EXPECT_EQ(bmp[28] | (bmp[29] << 8), 8);
    for (std::size_t at : {30, 34, 38, 42})
        EXPECT_EQ(Le32(bmp, at), 0u) << at;
    EXPECT_EQ(Le32(bmp, 46), 256u);
    EXPECT_EQ(Le32(bmp, 50), 16u);
    // Colour table: blue, green, red, 0, then 240 zero entries.
    EXPECT_EQ(bmp[54 + 5 * 4], 15);
    EXPECT_EQ(bmp[54 + 5 * 4 + 1], 10);
    EXPECT_EQ(bmp[54 + 5 * 4 + 2], 5);
    EXPECT_EQ(bmp[54 + 5 * 4 + 3], 0);
    for (std::size_t i = 54 + 16 * 4; i < 54 + 1024; ++i)
        ASSERT_EQ(bmp[i], 0) << i;
    // Row 0 is the last row of the file.
    EXPECT_EQ(bmp[14 + 1064 + 8], 7);

    writer.StoreIntoBitmap();
    EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
    EXPECT_EQ(bitmap.Width(), 5);
    EXPECT_EQ(bitmap.Height(), 2);
    ASSERT_EQ(bitmap.GetPalette().size(), 256u);
    EXPECT_EQ(bitmap.GetPalette()[7].Color(), RGB(7, 14, 21));
    EXPECT_EQ(bitmap.GetPixelColor(0, 0), RGB(7, 14, 21));
    EXPECT_EQ(bitmap.GetPixelColor(1, 0), RGB(0, 0, 0));
    // A row written after a store joins the rows written before it.
    writer.RowAt(1)[2] = 5;
    writer.StoreIntoBitmap();
    EXPECT_EQ(bitmap.GetPixelColor(0, 0), RGB(7, 14, 21));
    EXPECT_EQ(bitmap.GetPixelColor(2, 1), RGB(5, 10, 15));

    TBitmap deep;
    TDIBWriter writer24(deep, pf24bit, 3, 1, palette);
    writer24.RowAt(0);
    const auto bmp24 = writer24.InMemoryBmp();
    ASSERT_EQ(bmp24.size(), 14 + 40 + 12u);
    EXPECT_EQ(bmp24[28], 24);
    EXPECT_EQ(Le32(bmp24, 46), 0u);
    EXPECT_EQ(Le32(bmp24, 50), 0u);
}

TEST(GifDibWriter, RefusesBadFormatsSizesAndBudgets)
{
    TBitmap bitmap;
    auto message = [&](TPixelFormat format, int w, int h) -> std::string {
        try {
            TDIBWriter writer(bitmap, format, w, h, {});
            writer.RowAt(0);
        } catch (const Exception& e) {
            return std::string(e.ClassName()) + ": " + e.Message;
        }
        return "";
    };
    EXPECT_EQ(message(pf4bit, 2, 2), "GIFException: Unsupported PixelFormat");
    EXPECT_EQ(message(pf32bit, 2, 2), "GIFException: Unsupported PixelFormat");
    EXPECT_EQ(message(pf8bit, 0, 2), "GIFException: Invalid image dimensions");
    EXPECT_EQ(message(pf8bit, 2, 0), "GIFException: Invalid image dimensions");
    EXPECT_EQ(message(pf24bit, -2, 2), "GIFException: Invalid image dimensions");
    EXPECT_EQ(message(pf24bit, 2, -2), "GIFException: Invalid image dimensions");

    // Beyond the pixel budget: refused before any memory is taken.
    const std::size_t budget = PixelBudget();
    SetPixelBudget(1000);
    EXPECT_EQ(message(pf24bit, 40000, 40000).rfind("EOutOfMemory", 0), 0u);
    EXPECT_EQ(message(pf24bit, 0x7FFFFFFF, 0x7FFFFFFF).rfind("EOutOfMemory", 0), 0u);
    SetPixelBudget(budget);
    EXPECT_TRUE(bitmap.Empty());

    // More than 256 palette entries are cut to 256.
    TPalette big(300, TPaletteEntry{1, 2, 3, 0});
    TDIBWriter writer(bitmap, pf8bit, 1, 1, big);
    writer.RowAt(0);
    const auto bmp = writer.InMemoryBmp();
    EXPECT_EQ(Le32(bmp, 50), 256u);
    EXPECT_EQ(writer.SourcePalette().size(), 256u);
}

TEST(GifDibWriter, DestructorStoresThePicture)
{
    TBitmap bitmap;
    {
        TDIBWriter writer(bitmap, pf24bit, 2, 2, {});
        std::uint8_t* row = writer.RowAt(1);
        row[3] = 10; // blue
        row[4] = 20;
        row[5] = 30;
    }
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(bitmap.GetPixelColor(1, 1), RGB(30, 20, 10));
    EXPECT_EQ(bitmap.GetPixelColor(0, 0), RGB(0, 0, 0));
    // Without a written row nothing is stored.
    TBitmap untouched(3, 3);
    {
        TDIBWriter writer(untouched, pf8bit, 1, 1, {});
    }
    EXPECT_EQ(untouched.Width(), 3);
}

// Random pixels of a picture as 8-bit indices or BGR triples.
std::vector<std::uint8_t> RandomBytes(std::size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<std::uint8_t> v(n);
    for (auto& b : v)
        b = static_cast<std::uint8_t>(rng());
    return v;
}

TEST(GifDibWriter, OutsideDecodersReadTheInMemoryBmp)
{
    TempDir dir;
    for (TPixelFormat format : {pf8bit, pf24bit}) {
        const int width = 13, height = 7;
        TPalette palette;
        for (int i = 0; i < 256; ++i)
            palette.push_back(TPaletteEntry{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                                            static_cast<std::uint8_t>(i * 7), 0});
        TBitmap bitmap;
        TDIBWriter writer(bitmap, format, width, height, palette);
        const int bpp = format == pf8bit ? 1 : 3;
        const auto pixels = RandomBytes(static_cast<std::size_t>(width) * height * bpp, 5);
        RgbImage expected{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
        for (int y = 0; y < height; ++y) {
            std::uint8_t* row = writer.RowAt(y);
            for (int x = 0; x < width; ++x) {
                const std::size_t i = static_cast<std::size_t>(y) * width + x;
                std::uint8_t* out = &expected.Rgb[i * 3];
                if (bpp == 1) {
                    row[x] = pixels[i];
                    out[0] = palette[pixels[i]].peRed;
                    out[1] = palette[pixels[i]].peGreen;
                    out[2] = palette[pixels[i]].peBlue;
                } else {
                    std::copy_n(&pixels[i * 3], 3, row + x * 3);
                    out[0] = pixels[i * 3 + 2];
                    out[1] = pixels[i * 3 + 1];
                    out[2] = pixels[i * 3];
                }
            }
        }
        const std::string bmp = dir.File("mem.bmp"), ppm = dir.File("mem.ppm");
        WriteFile(bmp, writer.InMemoryBmp());
        auto res = testutil::Run("/usr/bin/convert " + Quote(bmp) + " -depth 8 " + Quote(ppm));
        ASSERT_EQ(res.ExitCode, 0) << res.Output;
        EXPECT_EQ(MaxDifference(ReadPpm(ppm), expected), 0) << BitsPerPixel(format);
        writer.StoreIntoBitmap();
        EXPECT_EQ(MaxDifference(FromBitmap(bitmap), expected), 0);
    }
}

// A picture with many colours, as PPM.
RgbImage Gradient(int width, int height)
{
    RgbImage img{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &img.Rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = static_cast<std::uint8_t>(x * 255 / (width - 1));
            p[1] = static_cast<std::uint8_t>(y * 255 / (height - 1));
            p[2] = static_cast<std::uint8_t>((x * 7 + y * 13) & 0xFF);
        }
    return img;
}

TEST(GifDibReader, ReadsRowsOfBmpsInEveryFormat)
{
    // ImageMagick and PIL both write the files; ImageMagick reads them back.
    const bool magick = true;
    const bool pil = true;
    TempDir dir;
    const std::string source = dir.File("src.ppm");
    WritePpm(source, Gradient(23, 9));

    struct Case {
        std::string Name;
        std::string Command; // writes {out}
        int Tolerance;
        TPixelFormat Format;
    };
    std::vector<Case> cases;
    const std::string in = Quote(source);
    if (magick) {
        cases.push_back({"IM 1 bit", "/usr/bin/convert " + in + " -monochrome BMP3:{out}", 0, pf1bit});
        cases.push_back({"IM 4 bits", "/usr/bin/convert " + in + " -colors 16 BMP3:{out}", 0, pf4bit});
        cases.push_back({"IM 8 bits", "/usr/bin/convert " + in + " -colors 200 BMP3:{out}", 0, pf8bit});
        cases.push_back({"IM 16 bits 565", "/usr/bin/convert " + in + " -define bmp:subtype=RGB565 {out}", 1, pf16bit});
        cases.push_back({"IM 16 bits 555", "/usr/bin/convert " + in + " -define bmp:subtype=RGB555 {out}", 1, pf15bit});
        cases.push_back({"IM 24 bits", "/usr/bin/convert " + in + " -type truecolor BMP3:{out}", 0, pf24bit});
        cases.push_back({"IM 32 bits", "/usr/bin/convert " + in + " -type truecolormatte {out}", 0, pf32bit});
    }
    if (pil) {
        const std::string py = "/usr/bin/python3 -c 'import sys; from PIL import Image; "
                               "Image.open(sys.argv[1]).convert(sys.argv[2]).save(sys.argv[3])' " + in;
        cases.push_back({"PIL 1 bit", py + " 1 {out}", 0, pf1bit});
        cases.push_back({"PIL grey", py + " L {out}", 0, pf8bit});
        cases.push_back({"PIL palette", py + " P {out}", 0, pf8bit});
        cases.push_back({"PIL 24 bits", py + " RGB {out}", 0, pf24bit});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string bmp = dir.File("case.bmp");
        std::string command = c.Command;
        command.replace(command.find("{out}"), 5, Quote(bmp));
        auto made = testutil::Run(command);
        ASSERT_EQ(made.ExitCode, 0) << made.Output;
        // The outside tool's own reading of its file is the reference.
        const std::string ref = dir.File("ref.ppm");
        RgbImage expected;
        if (magick) {
            auto res = testutil::Run("/usr/bin/convert " + Quote(bmp) + " -depth 8 " + Quote(ref));
            ASSERT_EQ(res.ExitCode, 0) << res.Output;
            expected = ReadPpm(ref);
        } else {
            auto res = testutil::Run("/usr/bin/python3 -c 'import sys; from PIL import Image; "
                           "Image.open(sys.argv[1]).convert(\"RGB\").save(sys.argv[2])' " +
                           Quote(bmp) + " " + Quote(ref));
            ASSERT_EQ(res.ExitCode, 0) << res.Output;
            expected = ReadPpm(ref);
        }

        TBitmap bitmap;
        bitmap.LoadFromFile(bmp);
        ASSERT_EQ(bitmap.PixelFormat(), c.Format);
        // Rows in the file's own format are the bitmap's rows.
        {
            TBitmap copy;
            copy.Assign(bitmap);
            TDIBReader native(copy, c.Format);
            for (int y = 0; y < copy.Height(); ++y)
                ASSERT_EQ(native.RowAt(y), copy.ScanLine(y));
        }
        TDIBReader reader(bitmap, pf24bit);
        EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
        EXPECT_EQ(PixelFormatOf(bitmap), pf24bit);
        ASSERT_EQ(bitmap.Width(), expected.Width);
        ASSERT_EQ(bitmap.Height(), expected.Height);
        int worst = 0;
        for (int y = 0; y < expected.Height; ++y) {
            const std::uint8_t* row = reader.RowAt(y);
            for (int x = 0; x < expected.Width; ++x)
                for (int k = 0; k < 3; ++k)
                    worst = std::max(worst, std::abs(row[x * 3 + 2 - k] - expected.At(x, y)[k]));
        }
        EXPECT_LE(worst, c.Tolerance);
        EXPECT_THROW(reader.RowAt(expected.Height), EInvalidGraphicOperation);
    }
}

} // namespace
