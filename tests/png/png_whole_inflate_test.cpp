// The image data inflated in one call into the bitmap's own memory, and
// unfiltered by the vector code, gives the same pictures as the streamed
// reader with the plain code, and leaves every file the streamed reader
// would read or refuse to it: every width up to 67 (bitmap rows with and
// without padding, narrower and wider than the data's rows), every filter,
// interlacing, many chunks, and streams that are off only where the
// streamed reader does not look.

#include "PngTestSupport.h"
#include "PngUnfilter.h"
#include "PngWholeInflate.h"

#include "Parallel.h"

#include <gtest/gtest.h>

#include <random>

using namespace pngtest;

namespace {

// The streamed reader and the plain unfiltering code.
class Streamed {
public:
    Streamed()
    {
        pngimpl::SetImageDataRoad(pngimpl::TImageDataRoad::Streamed);
        pngimpl::SetVectorUnfilter(false);
    }
    ~Streamed()
    {
        pngimpl::SetImageDataRoad(pngimpl::TImageDataRoad::Chosen);
        pngimpl::SetVectorUnfilter(true);
    }
};

struct Decoded {
    std::string Error;
    int Width = 0, Height = 0;
    std::vector<TColor> Pixels;
    bool operator==(const Decoded&) const = default;
};

Decoded Decode(const Bytes& file)
{
    Decoded d;
    try {
        auto png = Load(file);
        d.Width = png->Width();
        d.Height = png->Height();
        for (int y = 0; y < d.Height; ++y)
            for (int x = 0; x < d.Width; ++x)
                d.Pixels.push_back(png->PixelColor(x, y));
    } catch (const Exception& e) {
        d.Error = std::string(e.ClassName()) + ": " + e.Message;
    }
    return d;
}

using pngimpl::TImageDataRoad;

const struct {
    TImageDataRoad Road;
    const char* Name;
} Roads[] = {{TImageDataRoad::Chosen, "chosen"},
             {TImageDataRoad::InPlace, "in place"},
             {TImageDataRoad::Overlapped, "overlapped"},
             {TImageDataRoad::Streamed, "streamed"}};

// Decoded through one road, with vector unfiltering on or off.
Decoded DecodeWith(const Bytes& file, TImageDataRoad road, bool vector)
{
    pngimpl::SetImageDataRoad(road);
    pngimpl::SetVectorUnfilter(vector);
    Decoded d = Decode(file);
    pngimpl::SetImageDataRoad(TImageDataRoad::Chosen);
    pngimpl::SetVectorUnfilter(true);
    return d;
}

void ExpectSameBothWays(const Bytes& file, const std::string& what)
{
    Decoded streamed;
    {
        Streamed scope;
        streamed = Decode(file);
    }
    for (const auto& road : Roads)
        for (bool vector : {false, true}) {
            const Decoded d = DecodeWith(file, road.Road, vector);
            const std::string how = what + " " + road.Name + (vector ? " vector" : " plain");
            EXPECT_EQ(d.Error, streamed.Error) << how;
            ASSERT_EQ(d.Width, streamed.Width) << how;
            ASSERT_EQ(d.Height, streamed.Height) << how;
            EXPECT_TRUE(d.Pixels == streamed.Pixels) << how;
        }
}

// Filtered rows of random bytes with random filter types.
Bytes RandomRows(std::size_t rows, std::size_t rowBytes, std::mt19937& rng)
{
    Bytes raw;
    for (std::size_t y = 0; y < rows; ++y) {
        raw.push_back(static_cast<std::uint8_t>(rng() % 5));
        for (std::size_t i = 0; i < rowBytes; ++i)
            raw.push_back(static_cast<std::uint8_t>(rng()));
    }
    return raw;
}

std::size_t RowBytes(std::size_t w, int depth, int colorType)
{
    const int channels = colorType == 2 ? 3 : colorType == 6 ? 4 : colorType == 4 ? 2 : 1;
    return (w * static_cast<std::size_t>(channels * depth) + 7) / 8;
}

// The filtered size of an interlaced picture.
Bytes RandomInterlaced(std::size_t w, std::size_t h, int depth, int colorType, std::mt19937& rng)
{
    static const int x0[7] = {0, 4, 0, 2, 0, 1, 0}, dx[7] = {8, 8, 4, 4, 2, 2, 1};
    static const int y0[7] = {0, 0, 4, 0, 2, 0, 1}, dy[7] = {8, 8, 8, 4, 4, 2, 2};
    Bytes raw;
    for (int p = 0; p < 7; ++p) {
        const std::size_t pw = w > static_cast<std::size_t>(x0[p]) ? (w - x0[p] + dx[p] - 1) / dx[p] : 0;
        const std::size_t ph = h > static_cast<std::size_t>(y0[p]) ? (h - y0[p] + dy[p] - 1) / dy[p] : 0;
        if (pw == 0 || ph == 0)
            continue;
        const Bytes rows = RandomRows(ph, RowBytes(pw, depth, colorType), rng);
        raw.insert(raw.end(), rows.begin(), rows.end());
    }
    return raw;
}

TEST(PngWholeInflate, SameAsStreamedOnEveryWidthKindAndInterlacing)
{
    std::mt19937 rng(6103);
    const struct {
        int Depth, ColorType;
    } kinds[] = {{1, 0}, {2, 0}, {4, 0}, {8, 0}, {16, 0}, {8, 2}, {16, 2}, {1, 3}, {2, 3},
                 {4, 3}, {8, 3}, {8, 4}, {16, 4}, {8, 6}, {16, 6}};
    for (const auto& k : kinds)
        for (std::size_t w = 1; w <= 67; ++w)
            for (int interlace : {0, 1}) {
                const std::size_t h = 1 + (w * 7) % 13;
                Builder b;
                b.Chunk("IHDR", Ihdr(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), k.Depth,
                                     k.ColorType, 0, 0, interlace));
                if (k.ColorType == 3) {
                    Bytes plte;
                    for (int i = 0; i < (1 << k.Depth) * 3; ++i)
                        plte.push_back(static_cast<std::uint8_t>(i * 5));
                    b.Chunk("PLTE", plte);
                }
                const Bytes raw = interlace ? RandomInterlaced(w, h, k.Depth, k.ColorType, rng)
                                            : RandomRows(h, RowBytes(w, k.Depth, k.ColorType), rng);
                b.Chunk("IDAT", Zlib(raw)).End();
                const std::string what = std::to_string(k.Depth) + "-bit type " + std::to_string(k.ColorType) +
                                         " " + std::to_string(w) + "x" + std::to_string(h) +
                                         (interlace ? " interlaced" : "");
                const Decoded whole = Decode(b.Out);
                ASSERT_EQ(whole.Error, "") << what;
                ExpectSameBothWays(b.Out, what);
                ExpectSameBothWays(Rechunk(b.Out, 7, true), what + " in chunks of 7 bytes");
            }
}

// The bytes of each bitmap row past its last pixel (up to the 4-byte
// boundary) hold no image data whatever road the data took: the in-place
// road inflates the filtered data over them and clears them after, the
// other roads write only the pixels into a new bitmap and leave its padding
// as it was made, the same on both.
TEST(PngWholeInflate, RowPaddingHoldsNoImageDataOnAnyRoad)
{
    std::mt19937 rng(6102);
    const struct {
        int Depth, ColorType, DibBits;
    } kinds[] = {{8, 2, 24}, {16, 2, 24}, {8, 0, 8}, {1, 0, 1}, {8, 3, 8}, {4, 3, 4}, {8, 6, 24}};
    for (const auto& k : kinds)
        for (std::uint32_t w = 1; w <= 13; ++w) {
            const std::uint32_t h = 7;
            Builder b;
            b.Chunk("IHDR", Ihdr(w, h, k.Depth, k.ColorType));
            if (k.ColorType == 3)
                b.Chunk("PLTE", Bytes(std::size_t{3} << k.Depth, 90));
            // No byte of the filtered rows is zero, so data left in the
            // padding cannot pass for cleared padding.
            Bytes raw;
            for (std::uint32_t y = 0; y < h; ++y) {
                raw.push_back(static_cast<std::uint8_t>(rng() % 5));
                for (std::size_t i = 0; i < RowBytes(w, k.Depth, k.ColorType); ++i)
                    raw.push_back(static_cast<std::uint8_t>(1 + rng() % 255));
            }
            b.Chunk("IDAT", Zlib(raw)).End();
            const std::size_t used = (std::size_t{w} * static_cast<std::size_t>(k.DibBits) + 7) / 8;
            const std::size_t stride = (used + 3) / 4 * 4;
            const std::string what =
                std::to_string(k.Depth) + "-bit type " + std::to_string(k.ColorType) + " width " + std::to_string(w);
            // The padding of every row, read through one road.
            auto padding = [&](TImageDataRoad road) {
                pngimpl::SetImageDataRoad(road);
                std::unique_ptr<TPngPicture> png;
                EXPECT_NO_THROW(png = Load(b.Out)) << what;
                pngimpl::SetImageDataRoad(TImageDataRoad::Chosen);
                Bytes bytes;
                if (!png || !png->RequireHeader().HasDib()) {
                    ADD_FAILURE() << what << ": no bitmap";
                    return bytes;
                }
                const TChunkIHDR& header = png->RequireHeader();
                EXPECT_EQ(header.DibRowStride, stride) << what;
                for (std::uint32_t y = 0; y < h && header.DibRowStride == stride; ++y)
                    bytes.insert(bytes.end(), header.DibRow(y) + used, header.DibRow(y) + stride);
                return bytes;
            };
            EXPECT_EQ(padding(TImageDataRoad::InPlace), Bytes((stride - used) * h, 0)) << what << " in place";
            EXPECT_EQ(padding(TImageDataRoad::Overlapped), padding(TImageDataRoad::Streamed)) << what;
        }
}

// The road a picture takes by its sizes: in place only where the filtered
// data fit in the memory the bitmap gets anyway (large blocks come in whole
// 2 MB pieces), overlapped for large data when there is a second thread.
TEST(PngWholeInflate, TheChosenRoadKeepsWithinTheBitmapsMemory)
{
    using pngimpl::ChooseImageDataRoad;
    const parallel::TThreadCountScope threads(4);
    // 6000 x 4000 RGB: 24-bit bitmap rows of 18000 bytes (35 pieces of
    // 2 MB), 8-bit data rows of 18001 bytes, 16-bit ones of 36001.
    EXPECT_EQ(ChooseImageDataRoad(4000u * 18001, 4000u * 18000, 0), TImageDataRoad::InPlace);
    EXPECT_EQ(ChooseImageDataRoad(4000u * 36001, 4000u * 18000, 0), TImageDataRoad::Overlapped);
    EXPECT_EQ(ChooseImageDataRoad(35u * 2097152 + 1, 4000u * 18000, 0), TImageDataRoad::Overlapped);
    EXPECT_EQ(ChooseImageDataRoad(35u * 2097152, 4000u * 18000, 0), TImageDataRoad::InPlace);
    EXPECT_EQ(ChooseImageDataRoad(4000u * 18001, 4000u * 18000, 1), TImageDataRoad::Overlapped);
    // Small pictures: exactly the bitmap's bytes, or streamed.
    EXPECT_EQ(ChooseImageDataRoad(7 * 13, 7 * 12, 0), TImageDataRoad::Streamed);
    EXPECT_EQ(ChooseImageDataRoad(7 * 4, 7 * 4, 0), TImageDataRoad::InPlace);
    const parallel::TThreadCountScope one(1);
    EXPECT_EQ(ChooseImageDataRoad(4000u * 36001, 4000u * 18000, 0), TImageDataRoad::Streamed);
}

TEST(PngWholeInflate, StreamsOffWhereTheStreamedReaderDoesNotLookOrFails)
{
    std::mt19937 rng(6104);
    const Bytes raw = RandomRows(9, 3 * 11, rng);
    const Bytes header = Ihdr(11, 9, 8, 2);
    auto file = [&](const Bytes& idat) { return Builder().Chunk("IHDR", header).Chunk("IDAT", idat).End().Out; };
    const Bytes good = Zlib(raw);

    // A wrong Adler-32 sum: the streamed reader does not check it.
    Bytes badSum = good;
    badSum.back() ^= 0x55;
    ExpectSameBothWays(file(badSum), "bad Adler-32");
    EXPECT_EQ(Decode(file(badSum)).Error, "");

    // More data in the stream than the picture needs.
    Bytes more = raw;
    more.insert(more.end(), 40, 7);
    ExpectSameBothWays(file(Zlib(more)), "data beyond the picture");

    // Too little data, broken data, a cut stream.
    ExpectSameBothWays(file(Zlib(Bytes(raw.begin(), raw.end() - 5))), "short data");
    Bytes broken = good;
    broken[broken.size() / 2] ^= 0xFF;
    ExpectSameBothWays(file(broken), "broken data");
    ExpectSameBothWays(file(Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2))),
                       "cut stream");

    // A later IDAT chunk with a bad CRC after the whole stream: skipped by
    // the streamed reader, so not an error.
    Builder b;
    b.Chunk("IHDR", header).Chunk("IDAT", good).Raw(0, "IDAT", {}, 12345).End();
    ExpectSameBothWays(b.Out, "trailing IDAT with a bad CRC");
    // A bad CRC inside the stream's own chunks is.
    Bytes split = Rechunk(file(good), 10);
    split[8 + 25 + 8 + 10] ^= 1; // the first IDAT's CRC
    ExpectSameBothWays(split, "bad CRC in the stream");
    EXPECT_NE(Decode(split).Error, "");
}

// A stream cut short in the middle of the picture: every road raises the
// streamed reader's error and leaves the same rows decoded in the bitmap
// (the batches inflated before the cut), plain and interlaced.
TEST(PngWholeInflate, ACutStreamLeavesTheSameRowsOnEveryRoad)
{
    std::mt19937 rng(6106);
    constexpr std::uint32_t w = 200, h = 1500;
    for (int interlace : {0, 1}) {
        const Bytes raw = interlace ? RandomInterlaced(w, h, 8, 2, rng) : RandomRows(h, 3 * w, rng);
        const Bytes z = Zlib(raw);
        const Bytes cut(z.begin(), z.begin() + static_cast<std::ptrdiff_t>(z.size() * 3 / 5));
        const Bytes file =
            Builder().Chunk("IHDR", Ihdr(w, h, 8, 2, 0, 0, interlace)).Chunk("IDAT", cut).End().Out;
        // The error, and the colour of every pixel left in the bitmap.
        auto decode = [&](TImageDataRoad road) {
            pngimpl::SetImageDataRoad(road);
            TPngPicture png;
            TMemoryStream stream(file);
            std::string error;
            try {
                png.LoadFromStream(stream);
            } catch (const Exception& e) {
                error = std::string(e.ClassName()) + ": " + e.Message;
            }
            pngimpl::SetImageDataRoad(TImageDataRoad::Chosen);
            std::vector<TColor> pixels;
            for (std::uint32_t y = 0; y < h; ++y)
                for (std::uint32_t x = 0; x < w; ++x)
                    pixels.push_back(png.PixelColor(static_cast<int>(x), static_cast<int>(y)));
            return std::make_pair(error, pixels);
        };
        const auto streamed = decode(TImageDataRoad::Streamed);
        ASSERT_NE(streamed.first, "") << interlace;
        // Some rows were decoded, not all.
        EXPECT_NE(streamed.second.front(), streamed.second.back()) << interlace;
        for (const auto& road : Roads) {
            const auto d = decode(road.Road);
            EXPECT_EQ(d.first, streamed.first) << road.Name << " " << interlace;
            EXPECT_TRUE(d.second == streamed.second) << road.Name << " " << interlace;
        }
    }
}

TEST(PngWholeInflate, KeysAndIndicesPastThePaletteDrawAlikeBothWays)
{
    const TColor bg = RGB(1, 2, 3);
    // A 16-bit grey key 0x00FF: only the sample 0x00FF is see-through, not
    // 0x01FF nor 0xFFFF (whose high bytes are 0x01 and 0xFF, and 0x00 for
    // 0x00FF itself).
    Builder grey;
    grey.Chunk("IHDR", Ihdr(4, 1, 16, 0))
        .Chunk("tRNS", {0x00, 0xFF})
        .Chunk("IDAT", Zlib({0, 0x00, 0xFF, 0x01, 0xFF, 0xFF, 0xFF, 0x00, 0xFF}))
        .End();
    // A palette of two colours with indices 0, 1, 5 and 255: the last two
    // are past it and black.
    Builder pal;
    pal.Chunk("IHDR", Ihdr(4, 1, 8, 3))
        .Chunk("PLTE", {200, 10, 10, 10, 200, 10})
        .Chunk("tRNS", {255, 128})
        .Chunk("IDAT", Zlib({0, 0, 1, 5, 255}))
        .End();
    for (const Bytes* file : {&grey.Out, &pal.Out}) {
        for (bool whole : {true, false}) {
            SCOPED_TRACE(std::string(file == &grey.Out ? "grey key" : "palette") + (whole ? " whole" : " streamed"));
            std::unique_ptr<Streamed> streamed;
            if (!whole)
                streamed = std::make_unique<Streamed>();
            auto png = Load(*file);
            testutil::RgbImage image;
            ASSERT_NO_THROW(image = DrawOn(*png, bg));
            ASSERT_EQ(image.Width, 4);
            ASSERT_EQ(image.Height, 1);
            const auto at = [&](int x) {
                const std::uint8_t* p = image.At(x, 0);
                return RGB(p[0], p[1], p[2]);
            };
            if (file == &grey.Out) {
                EXPECT_EQ(at(0), bg);
                EXPECT_EQ(at(1), RGB(1, 1, 1));
                EXPECT_EQ(at(2), RGB(255, 255, 255));
                EXPECT_EQ(at(3), bg);
            } else {
                EXPECT_EQ(at(0), RGB(200, 10, 10));
                EXPECT_EQ(at(2), RGB(0, 0, 0));
                EXPECT_EQ(at(3), RGB(0, 0, 0));
            }
        }
    }
}

} // namespace

namespace {

// Our files of a noisy photo (deflated by libdeflate) and of a flat drawing
// (deflated by zlib), at several levels, plain and interlaced: pngcheck takes
// them and ImageMagick reads back the pixels that went in.
TEST(PngWholeDeflate, FilesOfBothCompressorsAreReadByOutsideTools)
{
    testutil::TempDir dir;
    std::mt19937 rng(6105);
    TBitmap noisy(301, 203, pf24bit), flat(301, 203, pf24bit);
    for (int y = 0; y < 203; ++y)
        for (int x = 0; x < 301; ++x) {
            std::uint8_t* p = noisy.ScanLine(y) + 3 * x;
            p[0] = static_cast<std::uint8_t>(x + (rng() & 15));
            p[1] = static_cast<std::uint8_t>(y + (rng() & 15));
            p[2] = static_cast<std::uint8_t>(rng());
            flat.SetPixelColor(x, y, (x / 40 + y / 30) % 2 ? RGB(200, 30, 30) : RGB(20, 20, 90));
        }
    int n = 0;
    for (const TBitmap* source : {&noisy, &flat})
        for (int level : {1, 6, 9})
            for (int interlace : {0, 1}) {
                TPngPicture png;
                png.AssignBitmap(*source, false, clDefault);
                png.CompressionLevel = static_cast<std::uint8_t>(level);
                png.InterlaceMode = static_cast<std::uint8_t>(interlace);
                const std::string path = dir.File("out" + std::to_string(n++) + ".png");
                png.SaveToFile(path);
                const std::string what = path + " level " + std::to_string(level);
                const auto check = testutil::Run(testutil::Tool("pngcheck") + " " + testutil::Quote(path));
                EXPECT_EQ(check.ExitCode, 0) << what << check.Output;
                const auto conv =
                    testutil::Run(testutil::Tool("convert") + " " + testutil::Quote(path) + " " + testutil::Quote(path + ".ppm"));
                ASSERT_EQ(conv.ExitCode, 0) << what << conv.Output;
                const testutil::RgbImage back = testutil::ReadPpm(path + ".ppm");
                ASSERT_EQ(back.Width, 301) << what;
                ASSERT_EQ(back.Height, 203) << what;
                for (int y = 0; y < 203; ++y)
                    for (int x = 0; x < 301; ++x) {
                        const std::uint8_t* p = back.At(x, y);
                        ASSERT_EQ(RGB(p[0], p[1], p[2]), source->GetPixelColor(x, y)) << what << " at " << x << ", " << y;
                    }
            }
}

} // namespace
