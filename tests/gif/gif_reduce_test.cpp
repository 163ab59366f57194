// Colour lookups, error-diffusion ditherers, the octree quantiser and the
// reduction of true-colour bitmaps to a palette.

#include "GifCodec.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>
#include <tuple>

using namespace testutil;

namespace {

struct Mapped {
    int Index;
    int R, G, B;
    bool operator==(const Mapped&) const = default;
};

Mapped Map(TColorLookup& lookup, int r, int g, int b)
{
    std::uint8_t R, G, B;
    const int index = lookup.MapColor(static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g),
                                      static_cast<std::uint8_t>(b), R, G, B);
    return Mapped{index, R, G, B};
}

TPalette Colors(std::initializer_list<TColor> colors)
{
    TPalette p;
    for (TColor c : colors)
        p.push_back(TPaletteEntry::FromColor(c));
    return p;
}

// ---------------------------------------------------------------------------
// Lookups

TEST(GifLookups, FastLookupNearestAndCache)
{
    TFastColorLookup bw(Colors({clBlack, clWhite}));
    EXPECT_EQ(bw.ColorCount, 2);
    EXPECT_EQ(Map(bw, 128, 128, 128), (Mapped{1, 255, 255, 255}));
    TFastColorLookup wb(Colors({clWhite, clBlack}));
    EXPECT_EQ(Map(wb, 128, 128, 128).Index, 0);

    TFastColorLookup twins(Colors({clRed, clBlue, clBlue}));
    EXPECT_EQ(Map(twins, 0, 0, 255).Index, 1);
    EXPECT_EQ(Map(twins, 10, 0, 250).Index, 1);

    // The first colour of a key fixes the answer for the whole key.
    TFastColorLookup grey(Colors({RGB(0, 0, 0), RGB(20, 20, 20)}));
    EXPECT_EQ(Map(grey, 10, 10, 10).Index, 0);
    EXPECT_EQ(Map(grey, 15, 15, 15).Index, 0);
    TFastColorLookup fresh(Colors({RGB(0, 0, 0), RGB(20, 20, 20)}));
    EXPECT_EQ(Map(fresh, 15, 15, 15).Index, 1);

    TFastColorLookup none(TPalette{});
    EXPECT_EQ(none.ColorCount, 0);
    TFastColorLookup many(TPalette(300, TPaletteEntry{1, 1, 1, 0}));
    EXPECT_EQ(many.ColorCount, 256);
}

TEST(GifLookups, PaletteColoursAlwaysAnswerTheirOwnEntry)
{
    // (0,0,0) and (7,7,7) share a 15-bit key.
    TFastColorLookup lookup(Colors({RGB(0, 0, 0), RGB(7, 7, 7), RGB(200, 0, 0)}));
    EXPECT_EQ(Map(lookup, 7, 7, 7), (Mapped{1, 7, 7, 7}));
    EXPECT_EQ(Map(lookup, 0, 0, 0), (Mapped{0, 0, 0, 0}));
    EXPECT_EQ(Map(lookup, 3, 3, 3).Index, 0); // not in the palette: the key's first
    TFastColorLookup reversed(Colors({RGB(7, 7, 7), RGB(0, 0, 0)}));
    EXPECT_EQ(Map(reversed, 0, 0, 0).Index, 1);
    EXPECT_EQ(Map(reversed, 1, 2, 3).Index, 0);

    // A full palette of colours packed into few keys.
    TPalette packed;
    for (int i = 0; i < 256; ++i)
        packed.push_back(TPaletteEntry{static_cast<std::uint8_t>(i & 7), static_cast<std::uint8_t>((i >> 3) & 7),
                                       static_cast<std::uint8_t>((i >> 6) * 5), 0});
    TFastColorLookup dense(packed);
    for (int i = 255; i >= 0; --i) {
        const TPaletteEntry& e = packed[static_cast<std::size_t>(i)];
        ASSERT_EQ(Map(dense, e.peRed, e.peGreen, e.peBlue).Index, i);
    }
}

TEST(GifLookups, ArithmeticLookups)
{
    TNetscapeColorLookup web({});
    EXPECT_EQ(web.ColorCount, 216);
    EXPECT_EQ(Map(web, 47, 47, 47), (Mapped{0, 0, 0, 0}));
    EXPECT_EQ(Map(web, 48, 0, 0), (Mapped{36, 51, 0, 0}));
    EXPECT_EQ(Map(web, 251, 0, 0).R, 204);
    EXPECT_EQ(Map(web, 252, 0, 0).R, 255);
    EXPECT_EQ(Map(web, 255, 0, 0).Index, 180);
    const TPalette cube = WebPalette216();
    for (int v = 0; v < 256; v += 5) {
        const Mapped m = Map(web, v, 255 - v, v / 2);
        EXPECT_EQ(cube[static_cast<std::size_t>(m.Index)], (TPaletteEntry{static_cast<std::uint8_t>(m.R),
                                                                         static_cast<std::uint8_t>(m.G),
                                                                         static_cast<std::uint8_t>(m.B), 0}));
    }

    TGrayScaleLookup grey({});
    EXPECT_EQ(grey.ColorCount, 256);
    EXPECT_EQ(Map(grey, 255, 255, 255), (Mapped{255, 255, 255, 255}));
    EXPECT_EQ(Map(grey, 100, 50, 200).Index, (77 * 100 + 150 * 50 + 29 * 200) >> 8);

    TMonochromeLookup mono({});
    EXPECT_EQ(mono.ColorCount, 2);
    EXPECT_EQ(Map(mono, 127, 127, 127), (Mapped{0, 0, 0, 0}));
    EXPECT_EQ(Map(mono, 128, 128, 128), (Mapped{1, 255, 255, 255}));
}

// ---------------------------------------------------------------------------
// Ditherers against a plain model

struct Kernel {
    int Divisor;
    std::vector<std::tuple<int, int, int>> Taps; // row, column offset, weight
};

Kernel KernelOf(std::uint8_t dither)
{
    switch (dither) {
    case dtFloydSteinberg:
        return {16, {{0, 1, 7}, {1, -1, 3}, {1, 0, 5}, {1, 1, 1}}};
    case dtStucki:
        return {42, {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2},
                     {2, -2, 1}, {2, -1, 2}, {2, 0, 4}, {2, 1, 2}, {2, 2, 1}}};
    case dtSierra:
        return {32, {{0, 1, 5}, {0, 2, 3}, {1, -2, 2}, {1, -1, 4}, {1, 0, 5}, {1, 1, 4}, {1, 2, 2},
                     {2, -1, 2}, {2, 0, 3}, {2, 1, 2}}};
    case dtJaJuNi:
        return {48, {{0, 1, 7}, {0, 2, 5}, {1, -2, 3}, {1, -1, 5}, {1, 0, 7}, {1, 1, 5}, {1, 2, 3},
                     {2, -2, 1}, {2, -1, 3}, {2, 0, 5}, {2, 1, 3}, {2, 2, 1}}};
    case dtSteveArche:
        return {200, {{0, 2, 32}, {1, -3, 12}, {1, -1, 26}, {1, 1, 30}, {1, 3, 16}, {2, -2, 12}, {2, 0, 26},
                      {2, 2, 12}, {3, -3, 5}, {3, -1, 12}, {3, 1, 12}, {3, 3, 5}}};
    case dtBurkes:
        return {32, {{0, 1, 8}, {0, 2, 4}, {1, -2, 2}, {1, -1, 4}, {1, 0, 8}, {1, 1, 4}, {1, 2, 2}}};
    default:
        return {1, {}};
    }
}

// Serpentine error diffusion over a whole-picture error array.
std::vector<std::uint8_t> ModelDither(const RgbImage& img, std::uint8_t dither, TColorLookup& lookup)
{
    const Kernel k = KernelOf(dither);
    const int w = img.Width, h = img.Height;
    std::vector<std::int32_t> err(static_cast<std::size_t>(w) * h * 3, 0);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const int dir = y % 2 == 0 ? 1 : -1;
        for (int i = 0; i < w; ++i) {
            const int x = dir > 0 ? i : w - 1 - i;
            int v[3];
            for (int c = 0; c < 3; ++c) {
                const std::int32_t acc = err[(static_cast<std::size_t>(y) * w + x) * 3 + c];
                v[c] = std::clamp(img.At(x, y)[c] + (acc + k.Divisor / 2) / k.Divisor, 0, 255);
            }
            const Mapped m = Map(lookup, v[0], v[1], v[2]);
            out[static_cast<std::size_t>(y) * w + x] = static_cast<std::uint8_t>(m.Index);
            const int e[3] = {v[0] - m.R, v[1] - m.G, v[2] - m.B};
            for (auto [dr, dx, weight] : k.Taps) {
                const int xx = x + dx * dir, yy = y + dr;
                if (xx < 0 || xx >= w || yy >= h)
                    continue;
                for (int c = 0; c < 3; ++c)
                    err[(static_cast<std::size_t>(yy) * w + xx) * 3 + c] += weight * e[c];
            }
        }
    }
    return out;
}

// The engine driven as the reduction drives it.
std::vector<std::uint8_t> EngineDither(const RgbImage& img, std::uint8_t dither, TColorLookup& lookup)
{
    auto engine = MakeDitherer(dither, img.Width, lookup);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(img.Width) * img.Height, 0xEE);
    for (int y = 0; y < img.Height; ++y) {
        EXPECT_EQ(engine->Col, y % 2 == 0 ? 0 : img.Width - 1);
        EXPECT_EQ(engine->Step, y % 2 == 0 ? 1 : -1);
        std::uint8_t r, g, b;
        while (engine->Col >= 0 && engine->Col < img.Width) {
            const int x = engine->Col;
            const std::uint8_t* p = img.At(x, y);
            out[static_cast<std::size_t>(y) * img.Width + x] = engine->DitherPixel(p[0], p[1], p[2], r, g, b);
        }
        engine->NextRow();
    }
    return out;
}

RgbImage RandomImage(int width, int height, std::mt19937& rng)
{
    RgbImage img{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (auto& v : img.Rgb)
        v = static_cast<std::uint8_t>(rng());
    return img;
}

TPalette RandomPalette(int count, std::mt19937& rng)
{
    TPalette p(static_cast<std::size_t>(count));
    for (auto& e : p)
        e = TPaletteEntry{static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                          static_cast<std::uint8_t>(rng()), 0};
    return p;
}

TEST(GifDitherers, MatchAWholePictureErrorModel)
{
    std::mt19937 rng(2024);
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 7}, {2, 5}, {3, 6}, {4, 4}, {7, 3}, {31, 9}, {64, 17}};
    for (std::uint8_t dither = dtNearest; dither <= dtBurkes; ++dither) {
        for (auto [w, h] : sizes) {
            for (int lookupKind = 0; lookupKind < 3; ++lookupKind) {
                SCOPED_TRACE(testing::Message() << "dither " << int(dither) << ", " << w << " x " << h
                                                << ", lookup " << lookupKind);
                const RgbImage img = RandomImage(w, h, rng);
                const TPalette palette = RandomPalette(1 + static_cast<int>(rng() % 40), rng);
                auto make = [&]() -> std::unique_ptr<TColorLookup> {
                    if (lookupKind == 0)
                        return std::make_unique<TFastColorLookup>(palette);
                    if (lookupKind == 1)
                        return std::make_unique<TNetscapeColorLookup>(palette);
                    return std::make_unique<TMonochromeLookup>(palette);
                };
                auto forModel = make();
                auto forEngine = make();
                ASSERT_EQ(EngineDither(img, dither, *forEngine), ModelDither(img, dither, *forModel));
            }
        }
    }
}

TEST(GifDitherers, ExactColoursCarryNoError)
{
    std::mt19937 rng(7);
    // Colours that share 15-bit keys in pairs.
    TPalette palette;
    for (int i = 0; i < 32; ++i) {
        const auto base = static_cast<std::uint8_t>((i * 8) & 0xF8);
        palette.push_back(TPaletteEntry{base, static_cast<std::uint8_t>(255 - base), 9, 0});
        palette.push_back(TPaletteEntry{static_cast<std::uint8_t>(base + 7), static_cast<std::uint8_t>(255 - base), 9, 0});
    }
    RgbImage img{19, 11, {}};
    std::vector<std::uint8_t> expected;
    for (int i = 0; i < img.Width * img.Height; ++i) {
        const auto k = static_cast<std::size_t>(rng() % palette.size());
        img.Rgb.insert(img.Rgb.end(), {palette[k].peRed, palette[k].peGreen, palette[k].peBlue});
        expected.push_back(static_cast<std::uint8_t>(k));
    }
    for (std::uint8_t dither = dtNearest; dither <= dtBurkes; ++dither) {
        TFastColorLookup lookup(palette);
        EXPECT_EQ(EngineDither(img, dither, lookup), expected) << int(dither);
    }
}

// ---------------------------------------------------------------------------
// Octree

TBitmap BitmapOf(const RgbImage& img)
{
    TBitmap bitmap(img.Width, img.Height, pf24bit);
    for (int y = 0; y < img.Height; ++y) {
        std::uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < img.Width; ++x) {
            row[x * 3] = img.At(x, y)[2];
            row[x * 3 + 1] = img.At(x, y)[1];
            row[x * 3 + 2] = img.At(x, y)[0];
        }
    }
    return bitmap;
}

RgbImage Solid(int width, int height, std::initializer_list<TColor> colors)
{
    RgbImage img{width, height, {}};
    const std::vector<TColor> list(colors);
    for (int i = 0; i < width * height; ++i) {
        const TColor c = list[static_cast<std::size_t>(i) % list.size()];
        img.Rgb.insert(img.Rgb.end(), {GetRValue(c), GetGValue(c), GetBValue(c)});
    }
    return img;
}

TEST(GifOctree, ExactColoursAndDepthFirstOrder)
{
    TBitmap three = BitmapOf(Solid(5, 4, {RGB(200, 10, 10), RGB(10, 200, 10), RGB(10, 10, 200)}));
    TDIBReader reader(three, pf24bit);
    TColorQuantizer quantizer(256, 8);
    EXPECT_TRUE(quantizer.ScanBitmap(reader));
    EXPECT_EQ(quantizer.Leaves(), 3);
    std::array<std::uint8_t, 1024> table{};
    ASSERT_EQ(quantizer.ColorTable(table.data()), 3);
    // Children by index: blue's child (1) before green's (2) before red's (4).
    EXPECT_EQ(std::vector<std::uint8_t>(table.begin(), table.begin() + 12),
              (std::vector<std::uint8_t>{200, 10, 10, 0, 10, 200, 10, 0, 10, 10, 200, 0}));

    const TPalette palette = BuildOctreePalette(reader, 256, 8, false);
    ASSERT_EQ(palette.size(), 256u);
    EXPECT_EQ(palette[0].Color(), RGB(10, 10, 200));
    for (std::size_t i = 3; i < 256; ++i)
        ASSERT_EQ(palette[i], TPaletteEntry{}) << i;

    // Two colours apart only in the top red bit: children 0 and 4; merged,
    // their average truncates.
    TColorQuantizer pair(2, 8);
    pair.AddPixel(0, 0, 0);
    pair.AddPixel(129, 0, 0);
    ASSERT_EQ(pair.ColorTable(table.data()), 2);
    EXPECT_EQ(table[2], 0);
    EXPECT_EQ(table[6], 129);
    ASSERT_NE(pair.Root(), nullptr);
    EXPECT_NE(pair.Root()->Children[0], nullptr);
    EXPECT_NE(pair.Root()->Children[4], nullptr);
    TColorQuantizer one(1, 8);
    one.AddPixel(0, 0, 0);
    one.AddPixel(129, 0, 0);
    ASSERT_EQ(one.ColorTable(table.data()), 1);
    EXPECT_EQ(table[2], 64);
}

TEST(GifOctree, LeavesStayWithinTheLimit)
{
    std::mt19937 rng(11);
    for (int limit : {1, 2, 16, 256}) {
        TColorQuantizer quantizer(limit, 8);
        int fewest = limit;
        for (int i = 0; i < 20000; ++i) {
            quantizer.AddPixel(static_cast<std::uint8_t>(rng()), static_cast<std::uint8_t>(rng()),
                               static_cast<std::uint8_t>(rng()));
            ASSERT_LE(quantizer.Leaves(), limit);
            if (i > 5000)
                fewest = std::min(fewest, quantizer.Leaves());
        }
        std::array<std::uint8_t, 1024> table{};
        EXPECT_EQ(quantizer.ColorTable(table.data()), quantizer.Leaves());
        // One merge takes at most 7 leaves from limit + 1.
        EXPECT_GE(fewest, std::max(1, limit - 6)) << limit;
    }
}

// The table of a quantizer as (red, green, blue) colours.
std::vector<TColor> TableColours(const TColorQuantizer& quantizer)
{
    std::array<std::uint8_t, 1024> table{};
    const int n = quantizer.ColorTable(table.data());
    std::vector<TColor> out;
    for (int i = 0; i < n; ++i)
        out.push_back(RGB(table[static_cast<std::size_t>(i) * 4 + 2], table[static_cast<std::size_t>(i) * 4 + 1],
                          table[static_cast<std::size_t>(i) * 4]));
    return out;
}

TEST(GifOctree, MergesTheNewestNodeOfTheDeepestLevel)
{
    TColorQuantizer quantizer(3, 8);
    // Two nodes at level 7 under one level-6 node: A holds (0,0,0) and
    // (0,0,1), B, made later, (2,0,0) and (3,0,0). The fourth leaf merges B.
    for (TColor c : {RGB(0, 0, 0), RGB(0, 0, 1), RGB(2, 0, 0), RGB(3, 0, 0)})
        quantizer.AddPixel(GetRValue(c), GetGValue(c), GetBValue(c));
    EXPECT_EQ(quantizer.Leaves(), 3);
    EXPECT_EQ(TableColours(quantizer), (std::vector<TColor>{RGB(0, 0, 0), RGB(0, 0, 1), RGB(2, 0, 0)}));

    // (0,0,2) makes a third level-7 node C with one leaf: merging C gains
    // nothing, so A, the next at that level, goes as well.
    quantizer.AddPixel(0, 0, 2);
    EXPECT_EQ(quantizer.Leaves(), 3);
    EXPECT_EQ(TableColours(quantizer), (std::vector<TColor>{RGB(0, 0, 0), RGB(0, 0, 2), RGB(2, 0, 0)}));

    // (128,0,0) opens a new branch down to level 7: its lone nodes at
    // levels 7 and 6 merge first, then the older level-6 node with the five
    // pixels above: (5 / 5, 0, 3 / 5).
    quantizer.AddPixel(128, 0, 0);
    EXPECT_EQ(quantizer.Leaves(), 2);
    EXPECT_EQ(TableColours(quantizer), (std::vector<TColor>{RGB(1, 0, 0), RGB(128, 0, 0)}));
}

TEST(GifOctree, RefusesBadLimits)
{
    EXPECT_THROW(TColorQuantizer(0, 8), GIFException);
    EXPECT_THROW(TColorQuantizer(257, 8), GIFException);
    EXPECT_THROW(TColorQuantizer(16, 0), GIFException);
    EXPECT_THROW(TColorQuantizer(16, 9), GIFException);
    TBitmap bitmap(2, 2);
    TDIBReader reader(bitmap, pf24bit);
    EXPECT_THROW(BuildOctreePalette(reader, 0, 8, false), GIFException);
    EXPECT_THROW(BuildOctreePalette(reader, 257, 8, false), GIFException);
    try {
        ReduceToPalette(bitmap, rdOctree, dtNearest, 9);
        FAIL();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message, "Invalid Bits Per Pixel value");
    }
    EXPECT_THROW(ReduceToPalette(bitmap, rdOctree, dtNearest, -1), GIFException);
}

TEST(GifOctree, SumsOfLargeLeavesDoNotOverflow)
{
    // 9 million bright pixels in one leaf: 32-bit sums would overflow.
    TBitmap white(3000, 3000, pf24bit);
    const TPalette palette = OctreePaletteOf(white, 16, 8, false);
    EXPECT_EQ(palette[0].Color(), clWhite);
    TBitmap mixed = BitmapOf(Solid(3000, 3000, {RGB(250, 250, 250), RGB(252, 252, 252)}));
    EXPECT_EQ(OctreePaletteOf(mixed, 1, 8, false)[0].Color(), RGB(251, 251, 251));
}

TEST(GifOctree, SystemColoursFrameTheOctreeColours)
{
    TBitmap bitmap = BitmapOf(Solid(4, 4, {RGB(1, 2, 3), RGB(100, 110, 120)}));
    const TPalette palette = OctreePaletteOf(bitmap, 16, 8, true);
    ASSERT_EQ(palette.size(), 256u);
    const TPalette& stock = StockPalette20();
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(palette[i], stock[i]);
        EXPECT_EQ(palette[246 + i], stock[10 + i]);
    }
    EXPECT_EQ(palette[10].Color(), RGB(1, 2, 3));
    EXPECT_EQ(palette[11].Color(), RGB(100, 110, 120));
    EXPECT_EQ(palette[12], TPaletteEntry{});
    EXPECT_EQ(palette[245], TPaletteEntry{});
}

// ---------------------------------------------------------------------------
// Reduction

std::vector<std::uint8_t> Indices(const TBitmap& bitmap)
{
    std::vector<std::uint8_t> out;
    for (int y = 0; y < bitmap.Height(); ++y) {
        const std::uint8_t* row = bitmap.ScanLine(y);
        out.insert(out.end(), row, row + bitmap.Width());
    }
    return out;
}

RgbImage Photo(int width, int height, unsigned seed)
{
    std::mt19937 rng(seed);
    RgbImage img{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 3)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = &img.Rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            const int noise = static_cast<int>(rng() % 9) - 4;
            p[0] = static_cast<std::uint8_t>(std::clamp(x * 255 / std::max(width - 1, 1) + noise, 0, 255));
            p[1] = static_cast<std::uint8_t>(std::clamp(y * 255 / std::max(height - 1, 1) - noise, 0, 255));
            p[2] = static_cast<std::uint8_t>(std::clamp(128 + ((x * y) % 97) - 48 + noise, 0, 255));
        }
    return img;
}

TEST(GifReduce, OctreeWithDitheringFollowsTheModel)
{
    const RgbImage img = Photo(45, 31, 1);
    for (std::uint8_t dither = dtNearest; dither <= dtBurkes; ++dither) {
        for (int bits : {4, 8}) {
            TBitmap source = BitmapOf(img);
            const TPalette palette = OctreePaletteOf(source, 1 << bits, 8, false);
            auto result = ReduceToPalette(source, rdOctree, dither, bits);
            ASSERT_EQ(result->PixelFormat(), pf8bit);
            ASSERT_EQ(result->Width(), img.Width);
            ASSERT_EQ(result->Height(), img.Height);
            const TPalette got = result->GetPalette();
            ASSERT_EQ(got.size(), 256u);
            for (std::size_t i = 0; i < palette.size(); ++i)
                ASSERT_EQ(got[i].Color(), palette[i].Color()) << i;
            TFastColorLookup lookup(palette);
            EXPECT_EQ(Indices(*result), ModelDither(img, dither, lookup)) << int(dither) << " " << bits;
        }
    }
}

TEST(GifReduce, PicturesOfFewColoursSurviveUnchanged)
{
    std::mt19937 rng(5);
    // 256 colours, many of them sharing 15-bit keys.
    std::vector<TColor> colors;
    for (int i = 0; i < 256; ++i)
        colors.push_back(RGB((i & 7) * 1 + (i >> 5) * 32, ((i >> 3) & 3) * 3, 250 - (i >> 5)));
    RgbImage img{32, 24, {}};
    for (int i = 0; i < img.Width * img.Height; ++i) {
        const TColor c = i < 256 ? colors[static_cast<std::size_t>(i)] : colors[rng() % 256];
        img.Rgb.insert(img.Rgb.end(), {GetRValue(c), GetGValue(c), GetBValue(c)});
    }
    for (std::uint8_t dither : {dtNearest, dtFloydSteinberg, dtStucki, dtSteveArche, dtBurkes}) {
        TBitmap source = BitmapOf(img);
        auto result = ReduceToPalette(source, rdOctree, dither, 8);
        EXPECT_EQ(MaxDifference(FromBitmap(*result), img), 0) << int(dither);
    }
}

TEST(GifReduce, FixedPalettesGiveOnlyTheirColours)
{
    const RgbImage img = Photo(37, 21, 3);
    struct Case {
        std::uint8_t Method;
        TPalette Allowed;
    };
    const Case cases[] = {
        {rdSystem20, StockPalette20()},       {rdHalftone, HalftonePalette256()},
        {rdGray4, Grey4Palette()},             {rdBlackWhite, MonoPalette()},
        {rdGray256, GreyRampPalette()},        {rdNetscape216, WebPalette216()},
        {rdCustomPalette, Colors({clRed, clTeal, clNavy})},
    };
    for (const Case& c : cases) {
        for (std::uint8_t dither : {dtNearest, dtSierra}) {
            TBitmap source = BitmapOf(img);
            auto result = ReduceToPalette(source, c.Method, dither, 8, c.Allowed);
            ASSERT_EQ(result->PixelFormat(), pf8bit) << int(c.Method);
            std::set<TColor> allowed;
            for (const auto& e : c.Allowed)
                allowed.insert(e.Color());
            const std::vector<std::uint8_t> indices = Indices(*result);
            const TPalette palette = result->GetPalette();
            for (std::size_t i = 0; i < indices.size(); ++i) {
                ASSERT_LT(indices[i], c.Allowed.size()) << int(c.Method);
                ASSERT_TRUE(allowed.count(palette[indices[i]].Color())) << int(c.Method);
            }
        }
    }
}

TEST(GifReduce, OctreeWithSystemColoursKeepsTheStaticColoursAround)
{
    const RgbImage img = Photo(29, 17, 6);
    TBitmap source = BitmapOf(img);
    auto result = ReduceToPalette(source, rdOctreeSystem, dtNearest, 4);
    ASSERT_EQ(result->PixelFormat(), pf8bit);
    const TPalette got = result->GetPalette();
    ASSERT_EQ(got.size(), 256u);
    const TPalette& stock = StockPalette20();
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(got[i].Color(), stock[i].Color()) << i;
        EXPECT_EQ(got[246 + i].Color(), stock[10 + i].Color()) << i;
    }
    // 236 octree colours between them, whatever the reduction bits say.
    TBitmap again = BitmapOf(img);
    const TPalette octree = OctreePaletteOf(again, 256, 8, true);
    for (std::size_t i = 10; i < 246; ++i)
        ASSERT_EQ(got[i].Color(), octree[i].Color()) << i;
    std::set<TColor> inner;
    for (std::size_t i = 10; i < 246; ++i)
        inner.insert(octree[i].Color());
    EXPECT_GT(inner.size(), 200u);
    TFastColorLookup lookup(octree);
    EXPECT_EQ(Indices(*result), ModelDither(img, dtNearest, lookup));
}

TEST(GifReduce, EdgeCasesOfMethodDitherAndSize)
{
    TBitmap source = BitmapOf(Photo(6, 5, 9));
    source.SetPixelFormat(pf32bit);
    auto copy = ReduceToPalette(source, rdNone, dtNearest, 8);
    EXPECT_EQ(copy->PixelFormat(), pf24bit);
    EXPECT_EQ(source.PixelFormat(), pf32bit);
    EXPECT_EQ(MaxDifference(FromBitmap(*copy), FromBitmap(source)), 0);

    auto reduced = ReduceToPalette(source, rdGray256, dtNearest, 8);
    EXPECT_EQ(source.PixelFormat(), pf24bit);
    EXPECT_EQ(reduced->PixelFormat(), pf8bit);

    for (auto [method, dither] : {std::pair<int, int>{10, 0}, {255, 1}, {6, 7}, {7, 200}}) {
        auto empty = ReduceToPalette(source, static_cast<std::uint8_t>(method), static_cast<std::uint8_t>(dither), 8);
        EXPECT_TRUE(empty->Empty()) << method << " " << dither;
    }
    EXPECT_TRUE(ReduceToPalette(source, rdCustomPalette, dtNearest, 8, {})->Empty());
    // A custom palette of more than 256 entries is cut to 256.
    auto many = ReduceToPalette(source, rdCustomPalette, dtNearest, 8, TPalette(400, TPaletteEntry{9, 9, 9, 0}));
    EXPECT_EQ(many->GetPalette().size(), 256u);

    // Above 500000 pixels the result is first made 1 bit deep.
    TBitmap large(1000, 501, pf24bit), limit(1000, 500, pf24bit);
    EXPECT_EQ(ReduceToPalette(large, 10, 0, 8)->PixelFormat(), pf1bit);
    EXPECT_NE(ReduceToPalette(limit, 10, 0, 8)->PixelFormat(), pf1bit);

    // An empty source cannot be written.
    TBitmap nothing;
    EXPECT_THROW(ReduceToPalette(nothing, rdGray256, dtNearest, 8), GIFException);
}

TEST(GifReduce, OutsideToolsCountTheColours)
{
    // Both count: ImageMagick and PIL.
    const bool magick = true;
    const bool pil = true;
    TempDir dir;
    const RgbImage img = Photo(160, 120, 4);
    for (int bits : {8, 4}) {
        TBitmap source = BitmapOf(img);
        auto result = ReduceToPalette(source, rdOctree, dtFloydSteinberg, bits);
        std::set<TColor> ours;
        for (int y = 0; y < result->Height(); ++y)
            for (int x = 0; x < result->Width(); ++x)
                ours.insert(result->GetPixelColor(x, y));
        EXPECT_LE(ours.size(), std::size_t{1} << bits);
        EXPECT_GT(ours.size(), (std::size_t{1} << bits) / 2);
        const std::string file = dir.File("reduced.bmp");
        result->SaveToFile(file);
        if (magick) {
            auto res = testutil::Run("/usr/bin/identify -format %k " + Quote(file));
            ASSERT_EQ(res.ExitCode, 0) << res.Output;
            EXPECT_EQ(std::stoul(res.Output), ours.size()) << bits;
        }
        if (pil) {
            auto res = testutil::Run("/usr/bin/python3 -c 'import sys; from PIL import Image; "
                                     "print(len(Image.open(sys.argv[1]).convert(\"RGB\").getcolors(1 << 24)))' " +
                                     Quote(file));
            ASSERT_EQ(res.ExitCode, 0) << res.Output;
            EXPECT_EQ(std::stoul(res.Output), ours.size()) << bits;
        }
    }
}

} // namespace
