// Portable maps and PCX files written by netpbm, ImageMagick and PIL, read
// through the registry; the header forms other writers use, the maximum
// sample value, and files that are cut short or lie about their sizes.

#include "Beep.h"
#include "ImageReaders.h"
#include "ReaderTestFiles.h"

#include <string>

using namespace readertest;
using testutil::Quote;

namespace {

// The same picture in greys (red, green and blue alike).
testutil::RgbImage Greys(const testutil::RgbImage& image)
{
    testutil::RgbImage grey = image;
    for (std::size_t i = 0; i < grey.Rgb.size(); i += 3) {
        const auto v = static_cast<std::uint8_t>((grey.Rgb[i] * 3 + grey.Rgb[i + 1] * 5 + grey.Rgb[i + 2] * 2) / 10);
        grey.Rgb[i] = grey.Rgb[i + 1] = grey.Rgb[i + 2] = v;
    }
    return grey;
}

// The grey picture as a binary grey map of maximum 255.
void WritePgm(const std::string& path, const testutil::RgbImage& grey)
{
    const std::string header = "P5\n" + std::to_string(grey.Width) + " " + std::to_string(grey.Height) + "\n255\n";
    Bytes bytes(header.begin(), header.end());
    for (std::size_t i = 0; i < grey.Rgb.size(); i += 3)
        bytes.push_back(grey.Rgb[i]);
    testutil::WriteFile(path, bytes);
}

// The pixel bytes of a P6 file of maximum 255 behind a header of our own.
Bytes WithHeader(const std::string& header, const testutil::RgbImage& image)
{
    Bytes bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), image.Rgb.begin(), image.Rgb.end());
    return bytes;
}

// A picture reduced the way netpbm reduces it to another maximum and back,
// as the reference of maps of that maximum.
testutil::RgbImage Requantized(const testutil::TempDir& dir, const std::string& source, int maximum)
{
    const std::string out = dir.File("requantized.ppm");
    Must(Tool("pnmdepth") + " " + std::to_string(maximum) + " " + Quote(source) + " | " + Tool("pnmdepth") + " 255 | " +
         Tool("ppmtoppm") + " > " + Quote(out));
    return testutil::ReadPpm(out);
}

} // namespace

TEST(PortableMaps, NetpbmAndPilMapsOfEveryTypeAndMaximum)
{
    RegisterReaderFormats();
    testutil::TempDir dir;
    const testutil::RgbImage colour = TestPicture(13, 7);
    const testutil::RgbImage grey = Greys(colour);
    const std::string ppm = dir.File("colour.ppm");
    const std::string pgm = dir.File("grey.pgm");
    testutil::WritePpm(ppm, colour);
    WritePgm(pgm, grey);

    for (int maximum : {1, 15, 255, 65535}) {
        SCOPED_TRACE("maximum " + std::to_string(maximum));
        const std::string m = std::to_string(maximum);
        const std::string raw = dir.File("raw" + m + ".ppm");
        const std::string plain = dir.File("plain" + m + ".ppm");
        const std::string rawGrey = dir.File("raw" + m + ".pgm");
        const std::string plainGrey = dir.File("plain" + m + ".pgm");
        Must(Tool("pnmdepth") + " " + m + " " + Quote(ppm) + " > " + Quote(raw));
        Must(Tool("pnmtoplainpnm") + " " + Quote(raw) + " > " + Quote(plain));
        Must(Tool("pnmdepth") + " " + m + " " + Quote(pgm) + " > " + Quote(rawGrey));
        Must(Tool("pnmtoplainpnm") + " " + Quote(rawGrey) + " > " + Quote(plainGrey));
        const testutil::RgbImage expected = Requantized(dir, ppm, maximum);
        const testutil::RgbImage expectedGrey = Requantized(dir, pgm, maximum);
        ExpectPicture(raw, expected);
        ExpectPicture(plain, expected);
        ExpectPicture(rawGrey, expectedGrey);
        ExpectPicture(plainGrey, expectedGrey);
    }

    // Bitmaps: black where the grey is dark.
    const std::string pbm = dir.File("bits.pbm");
    const std::string plainPbm = dir.File("plainbits.pbm");
    Must(Tool("pgmtopbm") + " -threshold " + Quote(pgm) + " > " + Quote(pbm));
    Must(Tool("pnmtoplainpnm") + " " + Quote(pbm) + " > " + Quote(plainPbm));
    const std::string bitsRef = dir.File("bits.ppm");
    Must(Tool("ppmtoppm") + " < " + Quote(pbm) + " > " + Quote(bitsRef));
    ExpectPicture(pbm, testutil::ReadPpm(bitsRef));
    ExpectPicture(plainPbm, testutil::ReadPpm(bitsRef));

    // PIL's maps: 8-bit colour and grey, and a 16-bit grey map.
    testutil::WriteFile(dir.File("pil.py"), [] {
        const std::string s = "import sys\nfrom PIL import Image\nd=sys.argv[1]\n"
                              "Image.open(d+'/colour.ppm').save(d+'/pil.ppm')\n"
                              "g=Image.open(d+'/grey.pgm')\ng.save(d+'/pil.pgm')\n"
                              "g.convert('I').point(lambda v: v*257).save(d+'/pil16.pgm')\n";
        return Bytes(s.begin(), s.end());
    }());
    Must(PythonWithPil() + " " + Quote(dir.File("pil.py")) + " " + Quote(dir.Path()));
    ExpectPicture(dir.File("pil.ppm"), colour);
    ExpectPicture(dir.File("pil.pgm"), grey);
    ExpectPicture(dir.File("pil16.pgm"), grey);
    UnregisterReaderFormats();
}

TEST(PortableMaps, HeaderNumbersOnTheFirstLineAndCommentsAnywhere)
{
    const testutil::RgbImage colour = TestPicture(5, 3);
    const char* const headers[] = {
        "P6 5 3\n255\n",              // width and height beside the type, as many writers put them
        "P6 5 3 255\n",               // everything on one line
        "P6\n5 3\n255\n",             // the usual form
        "P6\n# one\n# two\n5\n#x\n3 255\n", // comment lines in a row between the numbers
        "P6 # note\n5 3\r\n255\n",    // a comment on the first line, a CR LF ending
        "P6 5 3 255 ",                // samples right after one space on the first line
    };
    for (const char* header : headers) {
        SCOPED_TRACE(header);
        TPPMGraphic map;
        ASSERT_EQ(LoadError(map, WithHeader(header, colour)), "");
        ExpectSame(testutil::FromBitmap(map), colour);
    }

    // A comment right behind a number, in the header and among plain
    // samples, as netpbm and ImageMagick allow.
    const std::string comments[] = {"P5\n2 1#note\n255#x\nAB", "P2\n2 1\n255\n65#a\n66#end"};
    for (const std::string& text : comments) {
        SCOPED_TRACE(text);
        TPPMGraphic map;
        ASSERT_EQ(LoadError(map, Bytes(text.begin(), text.end())), "");
        ASSERT_EQ(map.Width(), 2);
        ASSERT_EQ(map.Height(), 1);
        EXPECT_EQ(map.ScanLine(0)[0], 65);
        EXPECT_EQ(map.ScanLine(0)[1], 66);
    }

    // One whitespace byte ends the maximum, on the first line too: the line
    // feed of a CR LF is the first sample, as netpbm and ImageMagick read it.
    const std::string crlf = "P5 2 1 255\r\nAB";
    TPPMGraphic grey;
    ASSERT_EQ(LoadError(grey, Bytes(crlf.begin(), crlf.end())), "");
    ASSERT_EQ(grey.Width(), 2);
    EXPECT_EQ(grey.ScanLine(0)[0], '\n');
    EXPECT_EQ(grey.ScanLine(0)[1], 'A');
}

TEST(PortableMaps, BadHeadersAndUnknownTypesAreRefused)
{
    TPPMGraphic map;
    EXPECT_EQ(LoadError(map, {}), "Not a valid ppm file.");
    EXPECT_EQ(LoadError(map, {'\n', 'P', '6'}), "Not a valid ppm file.");
    EXPECT_EQ(LoadError(map, {'P', 'x', '6'}), "'x' is not a valid integer value");
    EXPECT_EQ(LoadError(map, {'P', '\n', '6'}), "'' is not a valid integer value");
    const std::string overflow = "P5\n99999999999 1\n255\n";
    EXPECT_NE(LoadError(map, Bytes(overflow.begin(), overflow.end())), "");
    const std::string zero = "P5\n2 1\n0\n\1\1";
    EXPECT_NE(LoadError(map, Bytes(zero.begin(), zero.end())), "");
    const char hugeText[] = "P5\n2 1\n65536\n\0\1\0\1";
    const std::string huge(hugeText, sizeof hugeText - 1); // the zero bytes kept
    EXPECT_NE(LoadError(map, Bytes(huge.begin(), huge.end())), "");
    // Another type digit is refused, not read as an empty picture.
    for (const std::string text : {"P7\nWIDTH 2\nHEIGHT 1\n", "P0\n2 1\n255\nAB", "P9\n1 1\n1"}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(LoadError(map, Bytes(text.begin(), text.end())), "PPM: unknown map type P" + text.substr(1, 1) + ".");
        EXPECT_TRUE(map.Empty());
    }
}

TEST(PortableMaps, AnythingButDigitsBetweenNumbersIsSkipped)
{
    const struct {
        std::string Text;
        std::vector<TColor> Pixels;
    } maps[] = {
        {"P5x\n2 1\n255\nAB", {RGB(65, 65, 65), RGB(66, 66, 66)}},
        {"P2\n2,1;255\n7,8", {RGB(7, 7, 7), RGB(8, 8, 8)}},
        {"P3 1 1 255 =10 +20 (30)", {RGB(10, 20, 30)}},
        {"P1 3 1 1x0y1", {clBlack, clWhite, clBlack}},
    };
    for (const auto& m : maps) {
        SCOPED_TRACE(m.Text);
        TPPMGraphic map;
        ASSERT_EQ(LoadError(map, Bytes(m.Text.begin(), m.Text.end())), "");
        ASSERT_EQ(map.Width(), static_cast<int>(m.Pixels.size()));
        ASSERT_EQ(map.Height(), 1);
        for (std::size_t x = 0; x < m.Pixels.size(); ++x)
            EXPECT_EQ(map.GetPixelColor(static_cast<int>(x), 0), m.Pixels[x]) << x;
    }
}

TEST(PortableMaps, NegativeNumbersAreRefused)
{
    // Each map reads as a 2 x 1 picture; with a minus sign before its
    // width, its height, its maximum or a plain sample it is refused, also
    // when the sign ends the number before it.
    const struct {
        std::string Header;
        std::string Samples;
    } maps[] = {
        {"P1\n2 1\n", "1 0"},      {"P2\n2 1\n255\n", "7 8"}, {"P3\n2 1\n255\n", "1 2 3 4 5 6"},
        {"P4\n2 1\n", "\x80"}, {"P5\n2 1\n255\n", "AB"},   {"P6\n2 1\n255\n", "ABCDEF"},
    };
    const std::string refused = "PPM: negative number.";
    for (const auto& m : maps) {
        SCOPED_TRACE(m.Header);
        const std::string whole = m.Header + m.Samples;
        TPPMGraphic map;
        ASSERT_EQ(LoadError(map, Bytes(whole.begin(), whole.end())), "");
        ASSERT_EQ(map.Width(), 2);
        ASSERT_EQ(map.Height(), 1);
        const bool hasMaximum = m.Header.size() > 7;
        std::vector<std::string> negative = {
            m.Header.substr(0, 3) + "-2 1\n" + m.Header.substr(7) + m.Samples,   // width
            m.Header.substr(0, 3) + "2 -1\n" + m.Header.substr(7) + m.Samples,   // height
            m.Header.substr(0, 3) + "2-1\n" + m.Header.substr(7) + m.Samples,    // height, right behind the width
            m.Header.substr(0, 2) + " -2 -1 " + m.Header.substr(7) + m.Samples,   // on the first line
        };
        if (hasMaximum)
            negative.push_back(m.Header.substr(0, 7) + "-255\n" + m.Samples);
        if (m.Header[1] <= '3')
            negative.push_back(m.Header + "-" + m.Samples); // the first sample
        for (const std::string& text : negative) {
            SCOPED_TRACE(text);
            EXPECT_EQ(LoadError(map, Bytes(text.begin(), text.end())), refused);
        }
    }
}

TEST(PortableMaps, SmallFilesClaimingHugePicturesAreRefusedBeforeAllocation)
{
    const std::string refused = "PPM: Stream read error.";
    auto text = [](const std::string& header, std::size_t count, const std::string& unit) {
        std::string t = header;
        for (std::size_t k = 0; k < count; ++k)
            t += unit;
        return Bytes(t.begin(), t.end());
    };
    {
        // Under a budget below the claimed size, the file's own refusal
        // shows that nothing was allocated first. Binary maps need every
        // byte; plain ones a digit and a separator a sample (none after the
        // last), plain bitmaps one digit a pixel.
        const TPixelBudgetScope budget(100);
        EXPECT_EQ(LoadError<TPPMGraphic>(text("P6\n16384 16384\n255\n", 100, "\1")), refused);
        EXPECT_EQ(LoadError<TPPMGraphic>(text("P5\n100 100\n65535\n", 19999, "\1")), refused);
        EXPECT_EQ(LoadError<TPPMGraphic>(text("P4\n100 100\n", 1299, "\1")), refused);
        EXPECT_EQ(LoadError<TPPMGraphic>(text("P1\n100 100\n", 9999, "1")), refused);
        EXPECT_EQ(LoadError<TPPMGraphic>(text("P2\n100 100\n255\n", 9999, "1 ")), refused);
        EXPECT_EQ(LoadError<TPPMGraphic>(text("P3\n100 100\n255\n", 29999, "1 ")), refused);
    }
    // At the limit they load; a byte less leaves no picture.
    TPPMGraphic map;
    EXPECT_EQ(LoadError(map, text("P1\n4 1\n", 1, "1010")), "");
    EXPECT_EQ(map.GetPixelColor(2, 0), clBlack);
    EXPECT_EQ(LoadError(map, text("P2\n3 1\n255\n", 1, "1 2 3")), "");
    EXPECT_EQ(map.GetPixelColor(2, 0), RGB(3, 3, 3));
    const Bytes wide = text("P5\n2 1\n65535\n", 4, "\xFF");
    EXPECT_EQ(LoadError(map, wide), "");
    EXPECT_EQ(map.GetPixelColor(1, 0), clWhite);
    EXPECT_EQ(LoadError(map, Bytes(wide.begin(), wide.end() - 1)), refused);
    EXPECT_TRUE(map.Empty());
    const testutil::RgbImage colour = TestPicture(4, 3);
    Bytes cut = WithHeader("P6\n4 3\n255\n", colour);
    cut.pop_back();
    EXPECT_EQ(LoadError(map, cut), refused);
    EXPECT_TRUE(map.Empty());
}

TEST(Pcx, NetpbmImageMagickAndPilFilesOfEveryDepth)
{
    RegisterReaderFormats();
    testutil::TempDir dir;
    const testutil::RgbImage colour = TestPicture(13, 7);
    const std::string ppm = dir.File("colour.ppm");
    testutil::WritePpm(ppm, colour);
    // 16 colours (5 wide, so that the planes' bytes per line are padded),
    // and a bitmap 13 wide.
    const std::string few = dir.File("few.ppm");
    Must(Tool("pnmquant") + " -quiet 16 " + Quote(ppm) + " | " + Tool("pamcut") + " -width 5 > " + Quote(few));
    const std::string bits = dir.File("bits.ppm");
    Must(Tool("ppmtopgm") + " " + Quote(ppm) + " | " + Tool("pgmtopbm") + " -threshold | " + Tool("ppmtoppm") + " > " +
         Quote(bits));

    const struct {
        std::string Command;
        std::string Source;
        std::string File;
    } files[] = {
        {Tool("ppmtopcx") + " -quiet -24bit", ppm, "p24.pcx"},
        {Tool("ppmtopcx") + " -quiet -8bit", ppm, "p8.pcx"},
        {Tool("ppmtopcx") + " -quiet -planes 4", few, "p4.pcx"},
        {Tool("ppmtopcx") + " -quiet", bits, "p1.pcx"},
        {Tool("convert") + " ppm:- PCX:-", ppm, "im24.pcx"},
        {Tool("convert") + " ppm:- -type palette PCX:-", ppm, "im8.pcx"},
        {Tool("convert") + " ppm:- -type bilevel PCX:-", bits, "im1.pcx"},
    };
    for (const auto& f : files) {
        SCOPED_TRACE(f.File);
        Must(f.Command + " < " + Quote(f.Source) + " > " + Quote(dir.File(f.File)));
        // ImageMagick may reduce the colours on the way: its own reading of
        // its files is the reference.
        if (f.File.starts_with("im")) {
            Must(Tool("convert") + " " + Quote(dir.File(f.File)) + " -depth 8 " + Quote(dir.File("back.ppm")));
            ExpectPicture(dir.File(f.File), dir.File("back.ppm"));
        } else {
            ExpectPicture(dir.File(f.File), testutil::ReadPpm(f.Source));
        }
    }
    Must(PythonWithPil() + " -c " +
         Quote("import sys\nfrom PIL import Image\nd=sys.argv[1]\nim=Image.open(d+'/colour.ppm')\n"
               "im.save(d+'/pil24.pcx')\nim.quantize(256).save(d+'/pil8.pcx')\n"
               "im.quantize(256).convert('RGB').save(d+'/pil8.ppm')\n") +
         " " + Quote(dir.Path()));
    ExpectPicture(dir.File("pil24.pcx"), colour);
    ExpectPicture(dir.File("pil8.pcx"), testutil::ReadPpm(dir.File("pil8.ppm")));
    UnregisterReaderFormats();
}

namespace {

// A raw PCX file: 128-byte header and the data as given.
Bytes PcxFile(int bits, int planes, int width, int height, int bytesPerLine, int paletteInfo, const Bytes& data)
{
    Bytes b(128, 0);
    b[0] = 10;
    b[1] = 5;
    b[2] = 0;
    b[3] = static_cast<std::uint8_t>(bits);
    b[8] = static_cast<std::uint8_t>(width - 1);
    b[10] = static_cast<std::uint8_t>(height - 1);
    b[65] = static_cast<std::uint8_t>(planes);
    b[66] = static_cast<std::uint8_t>(bytesPerLine);
    b[68] = static_cast<std::uint8_t>(paletteInfo);
    b.insert(b.end(), data.begin(), data.end());
    return b;
}

} // namespace

TEST(Pcx, GreysWithoutTrailerAndFilesThatLie)
{
    // 8 bits, palette info 2, no trailer: greys; the last 769 bytes are not
    // picture data.
    Bytes data = {10, 20, 30, 40, 50, 60};
    data.resize(6 + 769, 0xAB);
    TPCXGraphic pcx;
    ASSERT_EQ(LoadError(pcx, PcxFile(8, 1, 3, 2, 3, 2, data)), "");
    ASSERT_EQ(pcx.Width(), 3);
    ASSERT_EQ(pcx.Height(), 2);
    const testutil::RgbImage got = testutil::FromBitmap(pcx);
    for (int i = 0; i < 6; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(got.At(i % 3, i / 3)[c], 10 * (i + 1));
    // Without palette info as well: still greys, not a random palette.
    ASSERT_EQ(LoadError(pcx, PcxFile(8, 1, 3, 2, 3, 1, data)), "");
    EXPECT_EQ(testutil::FromBitmap(pcx).At(2, 1)[1], 60);

    // Bytes per line shorter than the width.
    EXPECT_NE(LoadError(pcx, PcxFile(8, 3, 20, 2, 4, 1, Bytes(300, 0))), "");
    // Two planes of one bit: no such format.
    EXPECT_EQ(LoadError(pcx, PcxFile(1, 2, 8, 2, 2, 1, Bytes(8, 0))), "PCX: wrong pixel format");
    // Data for one row of four: an error, not a read past the data.
    EXPECT_NE(LoadError(pcx, PcxFile(8, 3, 8, 4, 8, 1, Bytes(24, 1))), "");
    // A run-length file far too short for its height.
    Bytes packed = PcxFile(8, 3, 200, 200, 200, 1, {0xFF, 1});
    packed[2] = 1;
    EXPECT_NE(LoadError(pcx, packed), "");
    EXPECT_NE(LoadError(pcx, Bytes(20, 10)), "");
    EXPECT_EQ(LoadError(pcx, Bytes(200, 0)), "Not a PCX or SCR file.");
}

TEST(Pcx, EightBitFilesWithoutPaletteBeep)
{
    int beeps = 0;
    const testutil::HookGuard hook(SetBeepHook, [&] { ++beeps; });
    Bytes data = {10, 20, 30, 40, 50, 60};
    data.resize(6 + 769, 0xAB);
    Bytes trailer = data;
    trailer[6] = 12;
    struct Case {
        const char* Name;
        Bytes File;
        int Beeps;
    } cases[] = {
        {"no trailer, no palette info", PcxFile(8, 1, 3, 2, 3, 1, data), 1},
        {"no trailer, palette info 0", PcxFile(8, 1, 3, 2, 3, 0, data), 1},
        {"no trailer, greys", PcxFile(8, 1, 3, 2, 3, 2, data), 0},
        {"trailer", PcxFile(8, 1, 3, 2, 3, 1, trailer), 0},
        {"24 bits", PcxFile(8, 3, 2, 1, 2, 1, data), 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        beeps = 0;
        TPCXGraphic pcx;
        EXPECT_EQ(LoadError(pcx, c.File), "");
        EXPECT_EQ(beeps, c.Beeps);
    }
}

TEST(Pcx, SmallFilesClaimingHugePicturesAreRefusedBeforeAllocation)
{
    const std::string refused = "PCX: the file ends before the picture does.";
    {
        // Under a budget below the claimed size, the file's own refusal
        // shows that nothing was allocated first.
        const TPixelBudgetScope budget(100);
        Bytes packed = PcxFile(8, 3, 200, 200, 200, 1, Bytes(400, 0xFF));
        packed[2] = 1;
        EXPECT_EQ(LoadError<TPCXGraphic>(packed), refused);
        EXPECT_EQ(LoadError<TPCXGraphic>(PcxFile(8, 1, 100, 100, 100, 1, Bytes(9999 + 769, 1))), refused);
    }
    // Run-length: two bytes give a run of 63 at most, so four bytes of
    // data (before the 769 of the trailer's place) fill two rows of 63 but
    // not three.
    Bytes two = PcxFile(8, 1, 63, 2, 63, 2, Bytes{0xFF, 7, 0xFF, 9} + Bytes(769, 0));
    two[2] = 1;
    TPCXGraphic pcx;
    ASSERT_EQ(LoadError(pcx, two), "");
    EXPECT_EQ(pcx.GetPixelColor(62, 1), RGB(9, 9, 9));
    Bytes three = two;
    three[10] = 2;
    EXPECT_EQ(LoadError(pcx, three), refused);
}
