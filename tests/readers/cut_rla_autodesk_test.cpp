// Dr. Halo CUT (with its palette file), Wavefront RLA and Autodesk Animator
// pictures made by small writers that follow the formats; ImageMagick reads
// the CUT files too and must see the same picture.

#include "ImageReaders.h"
#include "ReaderTestFiles.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

using namespace readertest;
using testutil::Quote;

namespace {

// Index of the CUT test picture at (x, y): a run over the first three
// pixels of each row, distinct values after.
std::uint8_t CutIndex(int x, int y)
{
    return static_cast<std::uint8_t>(x < 3 ? y * 50 + 5 : y * 40 + x * 7);
}

// A CUT file of width x height: each row a run packet, a literal packet and
// the ending zero, behind its byte count.
Bytes CutFile(int width, int height)
{
    Bytes b(6, 0);
    PutLE16(b, 0, static_cast<unsigned>(width));
    PutLE16(b, 2, static_cast<unsigned>(height));
    for (int y = 0; y < height; ++y) {
        Bytes row = {0x83, CutIndex(0, y), static_cast<std::uint8_t>(width - 3)};
        for (int x = 3; x < width; ++x)
            row.push_back(CutIndex(x, y));
        row.push_back(0);
        Bytes count(2);
        PutLE16(count, 0, static_cast<unsigned>(row.size()));
        b.insert(b.end(), count.begin(), count.end());
        b.insert(b.end(), row.begin(), row.end());
    }
    return b;
}

TPaletteEntry PalColour(std::size_t k)
{
    return TPaletteEntry{static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(255 - k),
                         static_cast<std::uint8_t>(k * 3), 0};
}

// A Dr. Halo palette file of count entries (blocks of 512 bytes, entries from
// offset 40, none across two blocks).
Bytes PalFile(std::size_t count)
{
    Bytes b(512, 0);
    b[0] = 'A', b[1] = 'H';
    b[6] = 10;
    PutLE16(b, 12, static_cast<unsigned>(count - 1));
    for (std::size_t at : {14, 16, 18})
        PutLE16(b, at, 255);
    const std::string id = "Dr. Halo";
    std::copy(id.begin(), id.end(), b.begin() + 20);
    std::size_t at = 40;
    for (std::size_t k = 0; k < count; ++k) {
        if (at + 6 > b.size()) {
            at = b.size();
            b.resize(b.size() + 512, 0);
        }
        const TPaletteEntry e = PalColour(k % 256);
        PutLE16(b, at, e.peRed);
        PutLE16(b, at + 2, e.peGreen);
        PutLE16(b, at + 4, e.peBlue);
        at += 6;
    }
    return b;
}

testutil::RgbImage CutPicture(int width, int height, bool withPalette)
{
    testutil::RgbImage image;
    image.Width = width;
    image.Height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t i = CutIndex(x, y);
            const TPaletteEntry e = withPalette ? PalColour(i) : TPaletteEntry{i, i, i, 0};
            image.Rgb.insert(image.Rgb.end(), {e.peRed, e.peGreen, e.peBlue});
        }
    return image;
}

} // namespace

TEST(Cut, PaletteFileBesideThePictureAsImageMagickReadsIt)
{
    RegisterReaderFormats();
    testutil::TempDir dir;
    const std::string cut = dir.File("picture.cut");
    testutil::WriteFile(cut, CutFile(9, 4));

    // Without a palette file: greys.
    ExpectPicture(cut, CutPicture(9, 4, false));

    testutil::WriteFile(dir.File("picture.pal"), PalFile(256));
    // The writers checked: ImageMagick reads the pair as expected.
    Must(Tool("convert") + " " + Quote(cut) + " -depth 8 " + Quote(dir.File("im.ppm")));
    const testutil::RgbImage expected = CutPicture(9, 4, true);
    ExpectSame(testutil::ReadPpm(dir.File("im.ppm")), expected);
    ExpectPicture(cut, expected);

    // A memory stream uses the palette file of the last picture opened by
    // name.
    TCUTGraphic graphic;
    graphic.LoadFromFile(cut);
    EXPECT_EQ(graphic.PaletteFile, dir.File("picture.pal"));
    ASSERT_EQ(LoadError(graphic, CutFile(9, 4)), "");
    ExpectSame(testutil::FromBitmap(graphic), expected);

    // More than 256 entries: the first 256 are used.
    testutil::WriteFile(dir.File("picture.pal"), PalFile(300));
    ExpectPicture(cut, expected);
    // Upper-case names find an upper-case palette file.
    testutil::WriteFile(dir.File("SHOUT.CUT"), CutFile(9, 4));
    testutil::WriteFile(dir.File("SHOUT.PAL"), PalFile(256));
    ExpectPicture(dir.File("SHOUT.CUT"), expected);
    // A palette file cut short fails the load.
    testutil::WriteFile(dir.File("picture.pal"), Bytes(100, 0));
    EXPECT_FALSE(testutil::PicDump(cut).Ok);
    UnregisterReaderFormats();
}

TEST(Cut, RowsMissingAtTheEndAreAnError)
{
    TCUTGraphic cut;
    Bytes file = CutFile(9, 4);
    file.resize(file.size() - 2 * 13);
    EXPECT_NE(LoadError(cut, file), "");
    // A height no file of this size can hold, refused before allocating.
    PutLE16(file, 2, 65535);
    PutLE16(file, 0, 65535);
    EXPECT_NE(LoadError(cut, file), "");
    EXPECT_NE(LoadError(cut, Bytes(3, 0)), "");
}

namespace {

std::uint8_t RlaSample(int channel, int x, int y)
{
    return static_cast<std::uint8_t>(channel == 3 ? 200 - x : channel * 70 + x * 11 + y * 29);
}

struct RlaOptions {
    int ColourChannels = 3;
    int Matte = 0;
    bool TopDown = false;
    std::size_t Padding = 0; // bytes behind each record's runs, counted in it
};

// A Wavefront RLA file of width x height: each channel record one literal
// run and one repeat run (the last two pixels alike).
Bytes RlaFile(int width, int height, const RlaOptions& o)
{
    Bytes b(740, 0);
    const unsigned bottom = o.TopDown ? height - 1 : 0, top = o.TopDown ? 0 : height - 1;
    for (std::size_t at : {0, 8}) {
        PutBE16(b, at + 2, static_cast<unsigned>(width - 1));
        PutBE16(b, at + 4, bottom);
        PutBE16(b, at + 6, top);
    }
    PutBE16(b, 20, static_cast<unsigned>(o.ColourChannels));
    PutBE16(b, 22, static_cast<unsigned>(o.Matte));
    PutBE16(b, 26, 0xFFFE);
    PutBE16(b, 658, 8);
    b.resize(740 + 4 * static_cast<std::size_t>(height));
    for (int k = 0; k < height; ++k) {
        PutBE32(b, 740 + 4 * k, static_cast<std::uint32_t>(b.size()));
        const int y = o.TopDown ? k : height - 1 - k; // the picture's row, from the top
        for (int c = 0; c < o.ColourChannels + o.Matte; ++c) {
            const int channel = c < 3 ? c : c < o.ColourChannels ? 9 : 3;
            Bytes record = {static_cast<std::uint8_t>(256 - (width - 2))};
            for (int x = 0; x < width - 2; ++x)
                record.push_back(RlaSample(channel, x, y));
            record.push_back(1); // two alike
            record.push_back(RlaSample(channel, width - 2, y));
            record.insert(record.end(), o.Padding, 0x7F);
            Bytes count(2);
            PutBE16(count, 0, static_cast<unsigned>(record.size()));
            b.insert(b.end(), count.begin(), count.end());
            b.insert(b.end(), record.begin(), record.end());
        }
    }
    return b;
}

void ExpectRla(TRLAGraphic& rla, int width, int height, bool matte)
{
    ASSERT_EQ(rla.PixelFormat(), matte ? pf32bit : pf24bit);
    ASSERT_EQ(rla.Width(), width);
    ASSERT_EQ(rla.Height(), height);
    const int bytes = matte ? 4 : 3;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = rla.ScanLine(y) + x * bytes;
            const int sx = x == width - 1 ? width - 2 : x; // the repeat run
            EXPECT_EQ(p[2], RlaSample(0, sx, y));
            EXPECT_EQ(p[1], RlaSample(1, sx, y));
            EXPECT_EQ(p[0], RlaSample(2, sx, y));
            if (matte) {
                EXPECT_EQ(p[3], RlaSample(3, sx, y));
            }
        }
}

} // namespace

TEST(Rla, ChannelsMatteAndRowOrder)
{
    TRLAGraphic rla;
    ASSERT_EQ(LoadError(rla, RlaFile(6, 4, {})), "");
    ExpectRla(rla, 6, 4, false);
    ASSERT_EQ(LoadError(rla, RlaFile(6, 4, {.TopDown = true})), "");
    ExpectRla(rla, 6, 4, false);
    // Four colour channels and no matte: 24 bits.
    ASSERT_EQ(LoadError(rla, RlaFile(6, 4, {.ColourChannels = 4})), "");
    ExpectRla(rla, 6, 4, false);
    // A matte: 32 bits with the matte in the fourth byte, also behind a
    // fourth colour channel.
    ASSERT_EQ(LoadError(rla, RlaFile(6, 4, {.Matte = 1})), "");
    ExpectRla(rla, 6, 4, true);
    ASSERT_EQ(LoadError(rla, RlaFile(6, 4, {.ColourChannels = 4, .Matte = 1})), "");
    ExpectRla(rla, 6, 4, true);

    // Through the registry, as the editor opens it.
    RegisterReaderFormats();
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("a.rla"), RlaFile(6, 4, {}));
    const testutil::DumpResult dump = testutil::PicDump(dir.File("a.rla"));
    ASSERT_TRUE(dump.Ok) << dump.Error;
    EXPECT_EQ(dump.Image.Width, 6);
    EXPECT_EQ(dump.Image.At(5, 0)[0], RlaSample(0, 4, 0));
    UnregisterReaderFormats();
}

TEST(Rla, RecordsLongerThanTheirRowAndOffsetsOutsideTheFile)
{
    TRLAGraphic rla;
    // Records padded far beyond twice the width: the excess is passed over.
    ASSERT_EQ(LoadError(rla, RlaFile(6, 4, {.Matte = 1, .Padding = 40})), "");
    ExpectRla(rla, 6, 4, true);
    Bytes file = RlaFile(6, 4, {});
    PutBE32(file, 740 + 4, 0x7FFFFFF0);
    EXPECT_NE(LoadError(rla, file), "");
    // A record running past the end of the file.
    file = RlaFile(6, 4, {});
    file.resize(file.size() - 3);
    EXPECT_NE(LoadError(rla, file), "");
    // More rows than the offsets the file can hold.
    file = RlaFile(6, 4, {});
    PutBE16(file, 14, 30000);
    EXPECT_NE(LoadError(rla, file), "");
    file = RlaFile(6, 4, {});
    PutBE16(file, 20, 1);
    EXPECT_EQ(LoadError(rla, file), "RLA: image must be RGB(A).");
}

namespace {

// An old-style Autodesk picture: header, 256 six-bit colours, the indices.
Bytes AutodeskFile(int width, int height)
{
    Bytes b(32, 0);
    PutLE16(b, 0, 0x9119);
    PutLE16(b, 2, static_cast<unsigned>(width));
    PutLE16(b, 4, static_cast<unsigned>(height));
    b[6] = 0xAA; // fields not used
    for (int k = 0; k < 256; ++k) {
        b.push_back(static_cast<std::uint8_t>(k % 64));
        b.push_back(static_cast<std::uint8_t>(63 - k % 64));
        b.push_back(static_cast<std::uint8_t>(k / 4));
    }
    for (int i = 0; i < width * height; ++i)
        b.push_back(static_cast<std::uint8_t>(i * 13));
    return b;
}

} // namespace

TEST(Autodesk, SixBitPaletteAndRowsFromTheTop)
{
    RegisterReaderFormats();
    testutil::TempDir dir;
    testutil::WriteFile(dir.File("a.cel"), AutodeskFile(5, 3));
    testutil::RgbImage expected;
    expected.Width = 5;
    expected.Height = 3;
    for (int i = 0; i < 15; ++i) {
        const int k = (i * 13) & 0xFF;
        expected.Rgb.insert(expected.Rgb.end(), {static_cast<std::uint8_t>(k % 64 * 4),
                                                 static_cast<std::uint8_t>((63 - k % 64) * 4),
                                                 static_cast<std::uint8_t>(k / 4 * 4)});
    }
    ExpectPicture(dir.File("a.cel"), expected);
    UnregisterReaderFormats();

    TAutodeskGraphic pic;
    Bytes file = AutodeskFile(5, 3);
    file[0] = 0x12;
    EXPECT_EQ(LoadError(pic, file), "Cannot load image. Only old style Autodesk images are supported.");
    file = AutodeskFile(5, 3);
    file.resize(file.size() - 4);
    EXPECT_NE(LoadError(pic, file), "");
    EXPECT_NE(LoadError(pic, Bytes(file.begin(), file.begin() + 100)), "");
}

TEST(SmallFiles, CutRlaAndAutodeskFilesClaimingHugePictures)
{
    // CUT: under 1 KB, 330 rows of 65535 pixels, each only its byte count
    // and ending zero.
    TCUTGraphic cut;
    Bytes file(6, 0);
    PutLE16(file, 0, 65535);
    PutLE16(file, 2, 330);
    file.resize(6 + 3 * 330, 0);
    ASSERT_LT(file.size(), 1024u);
    const std::string cutShort = "CUT: the file is too short for the picture it claims.";
    EXPECT_EQ(LoadError(cut, file), cutShort);
    // One row of two runs of 127: 7 bytes, which could give 7 x 127 / 2 =
    // 444 pixels and no more.
    auto cutRow = [](unsigned width) {
        Bytes b = {0, 0, 1, 0, 0, 0, 5, 0, 0xFF, 8, 0xFF, 8, 0};
        PutLE16(b, 0, width);
        return b;
    };
    ASSERT_EQ(LoadError(cut, cutRow(254)), "");
    ASSERT_EQ(cut.Width(), 254);
    EXPECT_EQ(cut.ScanLine(0)[253], 8);
    EXPECT_EQ(LoadError(cut, cutRow(444)), "");
    EXPECT_EQ(LoadError(cut, cutRow(445)), cutShort);

    // RLA: under 1 KB, 65 rows of 65536 pixels that share one record.
    TRLAGraphic rla;
    const std::string rlaShort = "RLA: the file is too short for the picture it claims.";
    auto rlaFile = [](int left, int right, int rows, const Bytes& row) {
        Bytes b(740, 0);
        PutBE16(b, 8, static_cast<unsigned>(left) & 0xFFFF);
        PutBE16(b, 10, static_cast<unsigned>(right) & 0xFFFF);
        PutBE16(b, 14, static_cast<unsigned>(rows - 1));
        PutBE16(b, 20, 3);
        b.resize(740 + 4 * static_cast<std::size_t>(rows), 0);
        for (int k = 0; k < rows; ++k)
            PutBE32(b, 740 + 4 * static_cast<std::size_t>(k), static_cast<std::uint32_t>(b.size()));
        return b + row;
    };
    const Bytes huge = rlaFile(-32768, 32767, 65, Bytes(6, 0));
    ASSERT_LT(huge.size(), 1024u);
    EXPECT_EQ(LoadError(rla, huge), rlaShort);
    // Each channel two runs of 128 behind its count: 18 bytes, which could
    // give 18 x 128 / 2 = 3 x 384 bytes and no more.
    Bytes runs;
    for (std::uint8_t v : {10, 20, 30})
        runs.insert(runs.end(), {0, 4, 0x7F, v, 0x7F, v});
    ASSERT_EQ(LoadError(rla, rlaFile(0, 255, 1, runs)), "");
    ASSERT_EQ(rla.Width(), 256);
    EXPECT_EQ(rla.ScanLine(0)[3 * 255], 30);
    EXPECT_EQ(rla.ScanLine(0)[3 * 255 + 2], 10);
    EXPECT_EQ(LoadError(rla, rlaFile(0, 383, 1, runs)), "");
    EXPECT_EQ(LoadError(rla, rlaFile(0, 384, 1, runs)), rlaShort);

    // Autodesk pictures are raw: 100 bytes of pixels make no 16000 x 16000.
    TAutodeskGraphic pic;
    Bytes big = AutodeskFile(10, 10);
    PutLE16(big, 2, 16000);
    PutLE16(big, 4, 16000);
    EXPECT_EQ(LoadError(pic, big), "Autodesk: the file ends before the picture does.");
}

TEST(Rla, ATruncatedFileNamesItsFormat)
{
    const std::string message = "RLA: the file ends before the picture does.";
    TRLAGraphic rla;
    const Bytes file = RlaFile(6, 4, {.Matte = 1});
    for (std::size_t size : {std::size_t{100}, std::size_t{745}, file.size() - 3, file.size() - 9}) {
        SCOPED_TRACE(size);
        EXPECT_EQ(LoadError(rla, Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size))), message);
    }
}

namespace {

// RLA run-length packets of one row of bytes: repeat packets for runs of
// three or more, literal packets between them.
Bytes RlaPackets(const Bytes& row)
{
    Bytes out;
    std::size_t i = 0;
    auto runAt = [&](std::size_t at) {
        std::size_t n = 1;
        while (at + n < row.size() && n < 128 && row[at + n] == row[at])
            ++n;
        return n;
    };
    while (i < row.size()) {
        const std::size_t run = runAt(i);
        if (run >= 3) {
            out.insert(out.end(), {static_cast<std::uint8_t>(run - 1), row[i]});
            i += run;
            continue;
        }
        std::size_t n = 0;
        while (i + n < row.size() && n < 128 && (n == 0 || runAt(i + n) < 3))
            ++n;
        out.push_back(static_cast<std::uint8_t>(256 - n));
        out.insert(out.end(), row.begin() + static_cast<std::ptrdiff_t>(i),
                   row.begin() + static_cast<std::ptrdiff_t>(i + n));
        i += n;
    }
    return out;
}

// A level in [0, 1) of channel c (red, green, blue, matte) at (x, y): the
// test picture with a fraction of a level added, so that deeper samples
// hold more than 8 bits do.
double RlaLevel(const testutil::RgbImage& picture, int c, int x, int y)
{
    const int base = c < 3 ? picture.At(x, y)[c] : (x * 13 + y * 7) % 256;
    return (base + ((x * 37 + y * 91 + c * 53) % 100) / 100.0) / 256.0;
}

struct RlaDepth {
    int Bits = 8;
    int Storage = 0; // 0 byte, 1 word, 4 float
    int MatteBits = 0; // no matte when 0
};

// An RLA file of width x height of the given channel size whose channel c
// (red, green, blue, matte) holds sample(c, x, y) at (x, y), rows stored
// from the bottom: samples of more than 8 bits in two bytes, each record
// the packets of the high bytes and then those of the low bytes.
template <class Sample>
Bytes RlaSampleFile(int width, int height, const RlaDepth& d, Sample sample)
{
    Bytes b(740, 0);
    for (std::size_t at : {0, 8}) {
        PutBE16(b, at + 2, static_cast<unsigned>(width - 1));
        PutBE16(b, at + 6, static_cast<unsigned>(height - 1));
    }
    PutBE16(b, 18, static_cast<unsigned>(d.Storage));
    PutBE16(b, 20, 3);
    PutBE16(b, 22, d.MatteBits ? 1 : 0);
    PutBE16(b, 26, 0xFFFE);
    PutBE16(b, 658, static_cast<unsigned>(d.Bits));
    PutBE16(b, 660, static_cast<unsigned>(d.Storage));
    PutBE16(b, 662, static_cast<unsigned>(d.MatteBits));
    b.resize(740 + 4 * static_cast<std::size_t>(height));
    for (int k = 0; k < height; ++k) {
        PutBE32(b, 740 + 4 * static_cast<std::size_t>(k), static_cast<std::uint32_t>(b.size()));
        const int y = height - 1 - k;
        for (int c = 0; c < (d.MatteBits ? 4 : 3); ++c) {
            const int bits = c < 3 ? d.Bits : d.MatteBits;
            Bytes high, low;
            for (int x = 0; x < width; ++x) {
                const unsigned v = sample(c, x, y);
                high.push_back(static_cast<std::uint8_t>(bits > 8 ? v >> 8 : v));
                low.push_back(static_cast<std::uint8_t>(v));
            }
            Bytes record = RlaPackets(high);
            if (bits > 8)
                record = record + RlaPackets(low);
            Bytes count(2);
            PutBE16(count, 0, static_cast<unsigned>(record.size()));
            b = b + count + record;
        }
    }
    return b;
}

// The picture as an RLA file of the given channel size, its levels rounded
// to the channels' bits.
Bytes RlaDeepFile(const testutil::RgbImage& picture, const RlaDepth& d)
{
    return RlaSampleFile(picture.Width, picture.Height, d, [&](int c, int x, int y) {
        const int bits = c < 3 ? d.Bits : d.MatteBits;
        return static_cast<unsigned>(std::lround(RlaLevel(picture, c, x, y) * ((1 << bits) - 1)));
    });
}

// Mean and largest difference of the samples of two loaded RLA pictures.
std::pair<double, int> RlaDifference(TRLAGraphic& a, TRLAGraphic& b)
{
    const int bytes = a.PixelFormat() == pf32bit ? 4 : 3;
    double sum = 0;
    int largest = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int i = 0; i < a.Width() * bytes; ++i) {
            const int d = std::abs(a.ScanLine(y)[i] - b.ScanLine(y)[i]);
            sum += d;
            largest = std::max(largest, d);
        }
    return {sum / (double(a.Width()) * a.Height() * bytes), largest};
}

} // namespace

TEST(Rla, DeeperChannelsLookLikeTheirEightBitTwin)
{
    const testutil::RgbImage picture = TestPicture(150, 9);
    for (int matte : {0, 8}) {
        TRLAGraphic eight;
        ASSERT_EQ(LoadError(eight, RlaDeepFile(picture, {.MatteBits = matte})), "");
        for (const RlaDepth& d : {RlaDepth{10, 1, matte ? 10 : 0}, RlaDepth{12, 1, matte ? 16 : 0},
                                  RlaDepth{16, 1, matte ? 9 : 0}, RlaDepth{10, 0, matte}}) {
            SCOPED_TRACE(std::to_string(d.Bits) + " bits, matte " + std::to_string(d.MatteBits));
            TRLAGraphic deep;
            ASSERT_EQ(LoadError(deep, RlaDeepFile(picture, d)), "");
            ASSERT_EQ(deep.PixelFormat(), eight.PixelFormat());
            ASSERT_EQ(deep.Width(), eight.Width());
            ASSERT_EQ(deep.Height(), eight.Height());
            const auto [mean, largest] = RlaDifference(deep, eight);
            EXPECT_LE(mean, 1.0);
            EXPECT_LE(largest, 1);
        }
    }
    // Fewer than 8 bits stretch to the full range. The first pixel's red
    // and green levels are 255.00 / 256 and 128.53 / 256: 4 bits 15 and 8,
    // which give 255 and 136; 1 bit 1 and 1, which give 255. The second
    // pixel's red, 0.37 / 256, is 0.
    testutil::RgbImage levels;
    levels.Width = 2;
    levels.Height = 1;
    levels.Rgb = {255, 128, 0, 0, 0, 0};
    for (const auto& [bits, first] : {std::pair{4, 255}, std::pair{1, 255}}) {
        TRLAGraphic low;
        ASSERT_EQ(LoadError(low, RlaDeepFile(levels, {.Bits = bits})), "");
        EXPECT_EQ(low.ScanLine(0)[2], first);
        EXPECT_EQ(low.ScanLine(0)[1], bits == 4 ? 136 : 255);
        EXPECT_EQ(low.ScanLine(0)[3 + 2], 0);
    }
}

TEST(Rla, NarrowChannelsAreScaledToTheNearestLevel)
{
    // 3-bit samples 0 to 7 in red, 7 to 0 in green, 4 in blue and in a
    // 3-bit matte. Each level v is v x 255 / 7 rounded: 4 gives 145.71,
    // so 146, where cutting the fraction off would give 145.
    const int expected[8] = {0, 36, 73, 109, 146, 182, 219, 255};
    TRLAGraphic rla;
    ASSERT_EQ(LoadError(rla, RlaSampleFile(8, 1, {.Bits = 3, .MatteBits = 3},
                                           [](int c, int x, int) -> unsigned {
                                               return c == 0 ? x : c == 1 ? 7 - x : 4;
                                           })),
              "");
    ASSERT_EQ(rla.PixelFormat(), pf32bit);
    ASSERT_EQ(rla.Width(), 8);
    ASSERT_EQ(rla.Height(), 1);
    for (int x = 0; x < 8; ++x) {
        SCOPED_TRACE(x);
        const std::uint8_t* p = rla.ScanLine(0) + 4 * x;
        EXPECT_EQ(p[2], expected[x]);
        EXPECT_EQ(p[1], expected[7 - x]);
        EXPECT_EQ(p[0], 146);
        EXPECT_EQ(p[3], 146);
    }
}

TEST(Rla, FloatingPointAndWiderChannelsAreRefused)
{
    const testutil::RgbImage picture = TestPicture(6, 4);
    TRLAGraphic rla;
    Bytes file = RlaDeepFile(picture, {});
    PutBE16(file, 18, 4);
    PutBE16(file, 658, 32);
    EXPECT_EQ(LoadError(rla, file), "RLA: floating-point channels cannot be read.");
    // A float matte behind integer colours.
    file = RlaDeepFile(picture, {.MatteBits = 8});
    PutBE16(file, 660, 4);
    EXPECT_EQ(LoadError(rla, file), "RLA: floating-point channels cannot be read.");
    file = RlaDeepFile(picture, {});
    PutBE16(file, 18, 2);
    PutBE16(file, 658, 32);
    EXPECT_EQ(LoadError(rla, file), "RLA: channels of 32 bits cannot be read.");
}
