// Drawing in the three transparency modes, colour keys, stretching, copies
// to and from bitmaps, pixel access and registration.

#include "PngTestSupport.h"

#include "Bitmap.h"
#include "Exceptions.h"
#include "Picture.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace pngtest;

namespace {

// A palette image of packed rows (filter 0) with the given PLTE and tRNS.
Bytes PaletteImage(int w, int h, int depth, const std::vector<TColor>& colours, const Bytes& trns,
                   const std::vector<std::vector<int>>& index)
{
    Bytes plte;
    for (TColor c : colours) {
        plte.push_back(GetRValue(c));
        plte.push_back(GetGValue(c));
        plte.push_back(GetBValue(c));
    }
    Bytes raw;
    for (int y = 0; y < h; ++y) {
        raw.push_back(0);
        Bytes row((static_cast<std::size_t>(w) * depth + 7) / 8, 0);
        for (int x = 0; x < w; ++x) {
            const std::size_t bit = static_cast<std::size_t>(x) * depth;
            row[bit / 8] |= static_cast<std::uint8_t>(index[y][x] << (8 - depth - bit % 8));
        }
        raw.insert(raw.end(), row.begin(), row.end());
    }
    Builder b;
    b.Chunk("IHDR", Ihdr(w, h, depth, 3)).Chunk("PLTE", plte);
    if (!trns.empty())
        b.Chunk("tRNS", trns);
    return b.Chunk("IDAT", Zlib(raw)).End().Out;
}

// A one-row image of the given colour type with samples as given (filter 0).
Bytes OneRow(int w, int depth, int colorType, const Bytes& samples, const Bytes& trns = {}, const Bytes& gama = {})
{
    Bytes raw = {0};
    raw.insert(raw.end(), samples.begin(), samples.end());
    Builder b;
    b.Chunk("IHDR", Ihdr(w, 1, depth, colorType));
    if (!gama.empty())
        b.Chunk("gAMA", gama);
    if (!trns.empty())
        b.Chunk("tRNS", trns);
    return b.Chunk("IDAT", Zlib(raw)).End().Out;
}

TColor At(const testutil::RgbImage& image, int x, int y)
{
    const std::uint8_t* p = image.At(x, y);
    return RGB(p[0], p[1], p[2]);
}

int Blend(int a, int s, int d)
{
    return (a * s + (255 - a) * d + 255) >> 8;
}

} // namespace

TEST(PngDraw, PaletteKeyIsSeeThroughAtAnySize)
{
    const std::vector<TColor> colours = {clRed, clLime, clBlue};
    const std::vector<std::vector<int>> index = {{0, 1, 2, 1}, {1, 1, 0, 2}};
    auto png = Load(PaletteImage(4, 2, 8, colours, {255, 0}, index));
    EXPECT_EQ(png->TransparencyMode(), 1);
    EXPECT_EQ(png->TransparentKey(), clLime);
    EXPECT_TRUE(png->Transparent());
    for (int scale : {1, 3}) {
        const auto image = DrawOn(*png, clYellow, 4 * scale, 2 * scale);
        for (int y = 0; y < 2 * scale; ++y)
            for (int x = 0; x < 4 * scale; ++x) {
                const int i = index[y / scale][x / scale];
                EXPECT_EQ(At(image, x, y), i == 1 ? clYellow : colours[i]) << scale << ":" << x << "," << y;
            }
    }
    TBitmap bitmap;
    bitmap.Assign(*png);
    EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
    EXPECT_TRUE(bitmap.Transparent());
    EXPECT_EQ(bitmap.TransparentColor(), clLime);
}

TEST(PngDraw, PaletteAlphaIsBlended)
{
    const std::vector<TColor> colours = {RGB(200, 100, 50), RGB(10, 20, 30), RGB(0, 255, 128), RGB(10, 20, 30)};
    const std::vector<std::vector<int>> index = {{0, 1, 2, 3}};
    const TColor bg = RGB(40, 80, 160);
    struct Case {
        Bytes Trns;
        int Mode;
    };
    // Two partial entries; one entry at 128; one at 0 whose colour another
    // (opaque) entry shares.
    for (const Case& c : {Case{{128, 0, 255}, 2}, Case{{255, 255, 128}, 2}, Case{{255, 0}, 2}}) {
        auto png = Load(PaletteImage(4, 1, 2, colours, c.Trns, index));
        EXPECT_EQ(png->TransparencyMode(), c.Mode);
        const auto image = DrawOn(*png, bg);
        for (int x = 0; x < 4; ++x) {
            const int a = static_cast<std::size_t>(x) < c.Trns.size() ? c.Trns[x] : 255;
            const TColor s = colours[x];
            EXPECT_EQ(At(image, x, 0), RGB(Blend(a, GetRValue(s), GetRValue(bg)), Blend(a, GetGValue(s), GetGValue(bg)),
                                           Blend(a, GetBValue(s), GetBValue(bg))))
                << x;
        }
    }
}

TEST(PngDraw, OneBitPaletteBlendTouchesOnlyItsPixels)
{
    auto png = Load(PaletteImage(3, 2, 1, {clBlack, clWhite}, {0, 100}, {{0, 1, 1}, {1, 0, 1}}));
    EXPECT_EQ(png->TransparencyMode(), 2);
    TBitmap target(8, 2, pf24bit);
    target.Canvas().Brush.Color = clRed;
    target.Canvas().FillRect(Rect(0, 0, 8, 2));
    target.Canvas().Draw(0, 0, *png);
    for (int y = 0; y < 2; ++y)
        for (int x = 3; x < 8; ++x)
            EXPECT_EQ(target.GetPixelColor(x, y), clRed);
    EXPECT_EQ(target.GetPixelColor(0, 0), clRed); // alpha 0
    EXPECT_EQ(target.GetPixelColor(1, 0), RGB(255, Blend(100, 255, 0), Blend(100, 255, 0)));
}

TEST(PngDraw, AlphaBlendingIsExactAndStretched)
{
    // RGBA 8-bit, alphas 255, 0, 128, 1.
    const Bytes samples = {10, 20, 30, 255, 40, 50, 60, 0, 200, 100, 0, 128, 255, 255, 255, 1};
    auto png = Load(OneRow(4, 8, 6, samples));
    EXPECT_EQ(png->TransparencyMode(), 2);
    const TColor bg = RGB(7, 77, 177);
    for (int scale : {1, 2}) {
        const auto image = DrawOn(*png, bg, 4 * scale, scale);
        for (int y = 0; y < scale; ++y)
            for (int x = 0; x < 4 * scale; ++x) {
                const int i = x / scale;
                const int a = samples[4 * i + 3];
                EXPECT_EQ(At(image, x, y),
                          RGB(Blend(a, samples[4 * i], 7), Blend(a, samples[4 * i + 1], 77),
                              Blend(a, samples[4 * i + 2], 177)))
                    << scale << ":" << x;
            }
    }
    // Alpha 255 gives the source exactly and 0 the destination, for every value.
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(Blend(255, v, 255 - v), v);
        EXPECT_EQ(Blend(0, 255 - v, v), v);
    }
    // A thumbnail: half the size still shows the picture.
    const auto half = DrawOn(*png, bg, 2, 1);
    EXPECT_EQ(At(half, 0, 0), RGB(Blend(0, 40, 7), Blend(0, 50, 77), Blend(0, 60, 177)));
}

TEST(PngDraw, GreyAlphaUsesTheGreyTable)
{
    // Grey + alpha 16-bit with gamma 1.0: greys go through the table.
    const Bytes samples = {128, 7, 255, 255, 64, 1, 0, 0};
    auto plain = Load(OneRow(2, 16, 4, samples));
    auto image = DrawOn(*plain, clBlack);
    EXPECT_EQ(At(image, 0, 0), RGB(128, 128, 128));
    EXPECT_EQ(At(image, 1, 0), clBlack);
    auto gamma = Load(OneRow(2, 16, 4, samples, {}, {0, 1, 0x86, 0xA0}));
    image = DrawOn(*gamma, clBlack);
    const int g = 186; // 255 (128 / 255) ^ (1 / 2.2), rounded by hand
    EXPECT_EQ(At(image, 0, 0), RGB(g, g, g));
    EXPECT_EQ(gamma->PixelColor(0, 0), RGB(g, g, g));
}

TEST(PngDraw, ColourKeysMatchTheStoredColour)
{
    const TColor bg = RGB(1, 2, 3);
    struct Case {
        const char* Name;
        Bytes File;
        std::vector<bool> Transparent;
    };
    const Bytes gamma1 = {0, 1, 0x86, 0xA0};
    std::vector<Case> cases = {
        {"grey 8", OneRow(3, 8, 0, {10, 200, 10}, {0, 200}), {false, true, false}},
        {"grey 16", OneRow(3, 16, 0, {10, 1, 200, 9, 10, 2}, {200, 9}), {false, true, false}},
        {"grey 4", OneRow(3, 4, 0, {0x3C, 0x30}, {0, 12}), {false, true, false}},
        {"grey 2", OneRow(4, 2, 0, {0x1B}, {0, 2}), {false, false, true, false}},
        {"grey 1", OneRow(3, 1, 0, {0x40}, {0, 1}), {false, true, false}},
        {"grey 8 gamma", OneRow(3, 8, 0, {10, 200, 10}, {0, 200}, gamma1), {false, true, false}},
        {"grey 2 gamma", OneRow(4, 2, 0, {0x1B}, {0, 1}, gamma1), {false, true, false, false}},
        {"RGB 8", OneRow(2, 8, 2, {1, 2, 3, 4, 5, 6}, {0, 4, 0, 5, 0, 6}), {false, true}},
        {"RGB 16", OneRow(2, 16, 2, {1, 0, 2, 0, 3, 0, 4, 9, 5, 9, 6, 9}, {4, 9, 5, 9, 6, 9}), {false, true}},
        {"RGB 8 gamma", OneRow(2, 8, 2, {1, 2, 3, 40, 50, 60}, {0, 40, 0, 50, 0, 60}, gamma1), {false, true}},
        // A key no pixel can have: the image is opaque.
        {"grey 4 key out of range", OneRow(2, 4, 0, {0x0F}, {0, 16}), {false, false}},
        {"RGB 8 key out of range", OneRow(1, 8, 2, {1, 1, 1}, {1, 1, 0, 1, 0, 1}), {false}},
        {"short grey tRNS", OneRow(1, 8, 0, {255}, {0}), {false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        auto png = Load(c.File);
        const auto image = DrawOn(*png, bg);
        for (std::size_t x = 0; x < c.Transparent.size(); ++x) {
            const TColor shown = At(image, static_cast<int>(x), 0);
            if (c.Transparent[x])
                EXPECT_EQ(shown, bg) << x;
            else
                EXPECT_EQ(shown, png->PixelColor(static_cast<int>(x), 0)) << x;
        }
    }
}

TEST(PngDraw, OpaqueImagesStretch)
{
    auto png = Load(OneRow(2, 8, 2, {255, 0, 0, 0, 0, 255}));
    EXPECT_EQ(png->TransparencyMode(), 0);
    const auto image = DrawOn(*png, clWhite, 6, 2);
    for (int x = 0; x < 6; ++x)
        EXPECT_EQ(At(image, x, 1), x < 3 ? clRed : clBlue);
}

TEST(PngAssign, FromBitmaps)
{
    // A transparent 8-bit bitmap: the tRNS makes its colour see-through.
    TBitmap bmp(5, 2, pf8bit);
    TPalette palette(256);
    for (int i = 0; i < 256; ++i)
        palette[static_cast<std::size_t>(i)] = TPaletteEntry{static_cast<std::uint8_t>(i), 0, 0, 0};
    palette[7] = TPaletteEntry::FromColor(clLime);
    bmp.SetPalette(palette);
    for (int x = 0; x < 5; ++x) {
        bmp.SetRawPixel(x, 0, static_cast<std::uint32_t>(x * 50));
        bmp.SetRawPixel(x, 1, 7);
    }
    bmp.SetTransparentColor(clLime);
    bmp.SetTransparent(true);
    TPngPicture png;
    png.Assign(bmp);
    auto* trns = png.Chunks.ItemFromClass<TChunktRNS>();
    ASSERT_NE(trns, nullptr);
    ASSERT_EQ(trns->DataSize(), 8u);
    const Bytes saved = Save(png);
    const auto chunks = ParseChunks(saved);
    EXPECT_EQ(chunks[0].Data, Ihdr(5, 2, 8, 3));
    EXPECT_EQ(chunks[1].Type, "PLTE");
    EXPECT_EQ(chunks[1].Data.size(), 768u);
    EXPECT_EQ(chunks[2].Type, "tRNS");
    EXPECT_EQ(chunks[2].Data, (Bytes{255, 255, 255, 255, 255, 255, 255, 0}));
    auto back = Load(saved);
    EXPECT_EQ(back->TransparencyMode(), 1);
    const auto image = DrawOn(*back, clBlue);
    for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(At(image, x, 0), RGB(x * 50, 0, 0));
        EXPECT_EQ(At(image, x, 1), clBlue);
    }

    // Bitmaps of 16 and 32 bits become 24-bit RGB; 1- and 4-bit ones keep
    // their depth.
    for (TPixelFormat format : {pf15bit, pf16bit, pf24bit, pf32bit, pf1bit, pf4bit}) {
        TBitmap source(7, 3, pf24bit);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 7; ++x)
                source.SetPixelColor(x, y, (x + y) % 2 ? clWhite : clBlack);
        source.SetPixelFormat(format);
        TPngPicture p;
        p.Assign(source);
        const auto& header = p.RequireHeader();
        const bool palette = format == pf1bit || format == pf4bit;
        EXPECT_EQ(header.ColorType, palette ? 3 : 2);
        EXPECT_EQ(header.BitDepth, format == pf1bit ? 1 : format == pf4bit ? 4 : 8);
        if (palette) {
            EXPECT_EQ(p.Chunks.ItemFromClass<TChunkPLTE>()->EntryCount, format == pf1bit ? 2u : 16u);
        }
        auto again = Load(Save(p));
        EXPECT_EQ(testutil::MaxDifference(DrawOn(*again, clRed), testutil::FromBitmap(source)), 0)
            << static_cast<int>(format);
    }
}

TEST(PngAssign, ToBitmapsAndPictures)
{
    auto png = Load(PaletteImage(2, 1, 4, {clRed, clBlue}, {}, {{1, 0}}));
    TBitmap bitmap;
    png->AssignTo(bitmap);
    EXPECT_EQ(bitmap.PixelFormat(), pf4bit);
    EXPECT_EQ(bitmap.GetPixelColor(0, 0), clBlue);
    EXPECT_FALSE(bitmap.Transparent());

    auto rgba = Load(OneRow(2, 8, 6, {1, 2, 3, 0, 4, 5, 6, 255}));
    rgba->AssignTo(bitmap);
    EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
    EXPECT_EQ(bitmap.GetPixelColor(0, 0), RGB(1, 2, 3));

    TPngPicture copy;
    copy.Assign(*rgba);
    EXPECT_EQ(Save(copy), Save(*rgba));
    EXPECT_EQ(copy.PixelColor(1, 0), RGB(4, 5, 6));

    TPngPicture empty;
    EXPECT_THROW(empty.AssignTo(bitmap), EConvertError);

    // Through the clipboard.
    TClipboardFormat format = 0;
    TClipboardData data;
    TPalette palette;
    png->SaveToClipboardFormat(format, data, palette);
    TPngPicture pasted;
    pasted.LoadFromClipboardFormat(format, data, palette);
    EXPECT_EQ(pasted.Width(), 2);
    EXPECT_EQ(pasted.PixelColor(0, 0), clBlue);
    EXPECT_EQ(pasted.PixelColor(1, 0), clRed);
}

TEST(PngPixels, ReadAndWrite)
{
    TBitmap wide(400, 2, pf24bit);
    wide.SetPixelColor(300, 1, RGB(9, 8, 7));
    TPngPicture png;
    png.Assign(wide);
    EXPECT_EQ(png.PixelColor(300, 1), RGB(9, 8, 7));
    EXPECT_EQ(png.PixelColor(-1, 0), 0);
    EXPECT_EQ(png.PixelColor(400, 0), 0);
    EXPECT_EQ(png.PixelColor(0, 2), 0);
    png.SetPixelColor(5, 0, RGB(1, 2, 3));
    png.SetPixelColor(400, 0, RGB(1, 2, 3)); // outside: nothing
    EXPECT_EQ(png.PixelColor(5, 0), RGB(1, 2, 3));

    auto palette = Load(PaletteImage(3, 1, 2, {clRed, clLime, clBlue}, {}, {{0, 1, 2}}));
    EXPECT_EQ(palette->PixelColor(2, 0), clBlue);
    palette->SetPixelColor(0, 0, RGB(10, 250, 5)); // nearest is lime
    EXPECT_EQ(palette->PixelColor(0, 0), clLime);
    EXPECT_EQ(palette->PixelColor(1, 0), clLime);
    const TPalette entries = palette->GetPalette();
    ASSERT_EQ(entries.size(), 256u);
    EXPECT_EQ(entries[2].Color(), clBlue);
    // Only the palette's own entries are candidates, not the unused black
    // slots behind them: black is nearest to red, the first of three ties.
    palette->SetPixelColor(1, 0, clBlack);
    EXPECT_EQ(palette->PixelColor(1, 0), clRed);
    auto eight = Load(PaletteImage(2, 1, 8, {RGB(20, 20, 20), clWhite}, {}, {{1, 1}}));
    eight->SetPixelColor(0, 0, clBlack);
    EXPECT_EQ(eight->PixelColor(0, 0), RGB(20, 20, 20));
    const Bytes saved = Save(*eight);
    EXPECT_EQ(Inflate(JoinIdat(saved)), (Bytes{1, 0, 1})); // Sub: index 0, then 1 - 0

    auto grey = Load(OneRow(2, 8, 4, {50, 255, 150, 255}));
    EXPECT_EQ(grey->PixelColor(1, 0), RGB(150, 150, 150));
    grey->SetPixelColor(0, 0, RGB(100, 100, 100));
    EXPECT_EQ(grey->PixelColor(0, 0), RGB(100, 100, 100));
    EXPECT_TRUE(grey->GetPalette().empty());

    TPngPicture none;
    EXPECT_THROW(none.PixelColor(0, 0), EPNGHeaderNotPresent);
}

TEST(PngRegistration, PngFilesOpenThroughThePictureRegistry)
{
    RegisterPngFormat();
    EXPECT_EQ(TPicture::FindGraphicClass("png"), TPngPicture::Class());
    EXPECT_EQ(TPicture::FindGraphicClass(".PNG"), TPngPicture::Class());
    bool found = false;
    for (const TFileFormat& f : TPicture::FileFormats())
        if (f.Extension == "png" && f.Description == "Portable Network Graphics")
            found = true;
    EXPECT_TRUE(found);

    testutil::TempDir dir;
    const std::string path = dir.File("a.PNG");
    testutil::WriteFile(path, OneRow(2, 8, 2, {1, 2, 3, 4, 5, 6}));
    TPicture picture;
    picture.LoadFromFile(path);
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_STREQ(picture.Graphic()->ClassName(), "TPngPicture");
    EXPECT_EQ(picture.Width(), 2);
    TPicture copy;
    copy.Assign(picture);
    EXPECT_STREQ(copy.Graphic()->ClassName(), "TPngPicture");
}

namespace {

// The pixels an outside decoder (ImageMagick, through libpng) finds fully
// transparent, as a row-major mask.
std::vector<bool> OutsideTransparent(const Bytes& file, int& width, int& height)
{
    testutil::TempDir dir;
    const std::string png = dir.File("key.png"), alpha = dir.File("alpha.pgm");
    testutil::WriteFile(png, file);
    const auto r = testutil::Run(ImageMagick() + " " + testutil::Quote(png) + " -alpha extract -depth 8 " +
                                 testutil::Quote("pgm:" + alpha));
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    Rgba mask;
    EXPECT_TRUE(ReadPnm(alpha, mask));
    width = mask.Width;
    height = mask.Height;
    std::vector<bool> out;
    for (int y = 0; y < mask.Height; ++y)
        for (int x = 0; x < mask.Width; ++x)
            out.push_back(mask.At(x, y)[0] == 0);
    return out;
}

// A grey or RGB image of w x h pixels with a colour key, rows filtered 0,
// plain or interlaced; sample(x, y, c) gives each sample.
template <class F>
Bytes KeyedImage(int w, int h, int depth, int colorType, const Bytes& trns, bool interlaced, F sample,
                 const Bytes& gama = {})
{
    const int channels = colorType == 2 ? 3 : 1;
    auto packRow = [&](const std::vector<int>& xs, int y) {
        Bytes row = {0};
        std::size_t bits = 0;
        for (int x : xs)
            for (int c = 0; c < channels; ++c) {
                const unsigned v = static_cast<unsigned>(sample(x, y, c));
                if (depth == 16) {
                    row.push_back(static_cast<std::uint8_t>(v >> 8));
                    row.push_back(static_cast<std::uint8_t>(v));
                } else if (depth == 8) {
                    row.push_back(static_cast<std::uint8_t>(v));
                } else {
                    if (bits % 8 == 0)
                        row.push_back(0);
                    row.back() |= static_cast<std::uint8_t>(v << (8 - depth - bits % 8));
                    bits += static_cast<std::size_t>(depth);
                }
            }
        return row;
    };
    Bytes raw;
    if (!interlaced) {
        std::vector<int> xs;
        for (int x = 0; x < w; ++x)
            xs.push_back(x);
        for (int y = 0; y < h; ++y) {
            const Bytes row = packRow(xs, y);
            raw.insert(raw.end(), row.begin(), row.end());
        }
    } else {
        // Adam7 written out by hand.
        const int fr[7] = {0, 0, 4, 0, 2, 0, 1}, fc[7] = {0, 4, 0, 2, 0, 1, 0};
        const int rs[7] = {8, 8, 8, 4, 4, 2, 2}, cs[7] = {8, 8, 4, 4, 2, 2, 1};
        for (int p = 0; p < 7; ++p) {
            std::vector<int> xs;
            for (int x = fc[p]; x < w; x += cs[p])
                xs.push_back(x);
            if (xs.empty())
                continue;
            for (int y = fr[p]; y < h; y += rs[p]) {
                const Bytes row = packRow(xs, y);
                raw.insert(raw.end(), row.begin(), row.end());
            }
        }
    }
    Builder b;
    b.Chunk("IHDR", Ihdr(static_cast<std::uint32_t>(w), static_cast<std::uint32_t>(h), depth, colorType, 0, 0,
                         interlaced ? 1 : 0));
    if (!gama.empty())
        b.Chunk("gAMA", gama);
    return b.Chunk("tRNS", trns).Chunk("IDAT", Zlib(raw)).End().Out;
}

} // namespace

TEST(PngDraw, ColourKeysCompareTheWholeStoredSamples)
{
    const TColor bg = RGB(1, 2, 3);
    struct Case {
        std::string Name;
        Bytes File;
        int Expected; // transparent pixels, counted by hand from the samples
    };
    std::vector<Case> cases;
    for (bool interlaced : {false, true}) {
        const std::string how = interlaced ? " interlaced" : "";
        // 16-bit grey whose high bytes are mostly 0: the key 0x00FF names
        // one full sample, not every pixel whose high byte is 0.
        auto grey16 = [](int x, int y, int) { return (x * 37 + y * 11) % 300; };
        int n = 0;
        for (int y = 0; y < 64; ++y)
            for (int x = 0; x < 64; ++x)
                n += grey16(x, y, 0) == 0xFF;
        cases.push_back({"grey 16" + how, KeyedImage(64, 64, 16, 0, {0x00, 0xFF}, interlaced, grey16), n});
        // 16-bit RGB: the same high bytes, the key's low bytes on one pixel in 8.
        auto rgb16 = [](int x, int y, int c) { return 0x4000 + c * 0x100 + ((x + y) % 8 == 3 ? 0x21 : 0x20); };
        cases.push_back({"RGB 16" + how,
                         KeyedImage(16, 12, 16, 2, {0x40, 0x21, 0x41, 0x21, 0x42, 0x21}, interlaced, rgb16), 24});
        // Grey levels 10, 11 and 12 that a gamma of 1/100 shows as one black:
        // only the stored 11 is the key.
        auto merged = [](int x, int, int) { return 10 + x % 3; };
        cases.push_back(
            {"grey 8 gamma" + how, KeyedImage(9, 9, 8, 0, {0, 11}, interlaced, merged, {0, 0, 0x03, 0xE8}), 27});
        auto rgbMerged = [](int x, int, int c) { return c == 1 ? 10 + x % 3 : 5; };
        cases.push_back({"RGB 8 gamma" + how,
                         KeyedImage(9, 9, 8, 2, {0, 5, 0, 11, 0, 5}, interlaced, rgbMerged, {0, 0, 0x03, 0xE8}),
                         27});
        auto grey2 = [](int x, int y, int) { return (x + 2 * y) % 4; };
        cases.push_back({"grey 2" + how, KeyedImage(10, 7, 2, 0, {0, 2}, interlaced, grey2), 17});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        int w = 0, h = 0;
        const std::vector<bool> theirs = OutsideTransparent(c.File, w, h);
        EXPECT_EQ(std::count(theirs.begin(), theirs.end(), true), c.Expected);
        auto png = Load(c.File);
        ASSERT_EQ(png->Width(), w);
        ASSERT_EQ(png->Height(), h);
        EXPECT_EQ(png->TransparencyMode(), 1);
        const auto image = DrawOn(*png, bg);
        ASSERT_EQ(image.Width, w);
        ASSERT_EQ(image.Height, h);
        int shownTransparent = 0;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool see = At(image, x, y) == bg;
                shownTransparent += see;
                EXPECT_EQ(see, theirs[static_cast<std::size_t>(y) * w + x]) << x << ", " << y;
                if (!see) {
                    EXPECT_EQ(At(image, x, y), png->PixelColor(x, y)) << x << ", " << y;
                }
            }
        EXPECT_EQ(shownTransparent, c.Expected);
        // A copy draws the same.
        TPngPicture copy;
        copy.Assign(*png);
        EXPECT_EQ(testutil::MaxDifference(DrawOn(copy, bg), image), 0);
    }
    // The gamma really merged the three levels on the screen.
    auto png = Load(cases[2].File);
    EXPECT_EQ(png->PixelColor(0, 0), png->PixelColor(1, 0));
    EXPECT_EQ(png->PixelColor(1, 0), png->PixelColor(2, 0));
}

TEST(PngDraw, ANewKeyOrPixelFollowsTheColours)
{
    const TColor bg = RGB(1, 2, 3);
    auto rgb = [](int x, int, int) { return x * 40; };
    auto png = Load(KeyedImage(4, 1, 8, 2, {0, 40, 0, 40, 0, 40}, false, rgb));
    auto image = DrawOn(*png, bg);
    EXPECT_EQ(At(image, 1, 0), bg);
    // A pixel set to the key's colour is transparent too; one set away from it is not.
    png->SetPixelColor(3, 0, RGB(40, 40, 40));
    png->SetPixelColor(1, 0, RGB(7, 7, 7));
    image = DrawOn(*png, bg);
    EXPECT_EQ(At(image, 3, 0), bg);
    EXPECT_EQ(At(image, 1, 0), RGB(7, 7, 7));
    // A new key names a colour.
    png->Chunks.ItemFromClass<TChunktRNS>()->SetTransparentColor(RGB(80, 80, 80));
    image = DrawOn(*png, bg);
    EXPECT_EQ(At(image, 2, 0), bg);
    EXPECT_EQ(At(image, 3, 0), RGB(40, 40, 40));
}

TEST(PngDraw, PaletteIndexPastThePaletteIsBlackInEveryPath)
{
    const TColor bg = RGB(1, 2, 3);
    const std::vector<TColor> colours = {RGB(200, 10, 10), RGB(10, 200, 10)};
    const std::vector<std::vector<int>> index = {{0, 1, 5, 255}};
    struct Case {
        const char* Name;
        Bytes Trns;
        int Mode;
    };
    for (const Case& c : {Case{"opaque", {}, 0}, Case{"key", {0}, 1}, Case{"alpha", {255, 128}, 2}}) {
        SCOPED_TRACE(c.Name);
        auto png = Load(PaletteImage(4, 1, 8, colours, c.Trns, index));
        EXPECT_EQ(png->TransparencyMode(), c.Mode);
        testutil::RgbImage image;
        ASSERT_NO_THROW(image = DrawOn(*png, bg));
        ASSERT_EQ(image.Width, 4);
        EXPECT_EQ(At(image, 2, 0), RGB(0, 0, 0));
        EXPECT_EQ(At(image, 3, 0), RGB(0, 0, 0));
        EXPECT_EQ(png->PixelColor(2, 0), RGB(0, 0, 0));
        // Stretched as the browser does.
        ASSERT_NO_THROW(DrawOn(*png, bg, 9, 3));
    }
}

TEST(PngDraw, AlphaDrawingMatchesAnOutsideCompositorOnWhite)
{
    // Every alpha level over shaded colours: RGBA, grey + alpha at 16 bits,
    // and a palette with graded tRNS entries.
    const int w = 32, h = 16;
    Bytes rgba, greyAlpha, palette;
    for (int y = 0; y < h; ++y) {
        rgba.push_back(0);
        greyAlpha.push_back(0);
        palette.push_back(0);
        for (int x = 0; x < w; ++x) {
            const int a = (y * w + x) * 255 / (w * h - 1);
            rgba.insert(rgba.end(), {static_cast<std::uint8_t>(x * 8), static_cast<std::uint8_t>(255 - y * 16),
                                     static_cast<std::uint8_t>((x * y) & 0xFF), static_cast<std::uint8_t>(a)});
            const int g = (x * 2000 + y * 900) & 0xFFFF, a16 = a * 257;
            greyAlpha.insert(greyAlpha.end(), {static_cast<std::uint8_t>(g >> 8), static_cast<std::uint8_t>(g),
                                               static_cast<std::uint8_t>(a16 >> 8), static_cast<std::uint8_t>(a16)});
            palette.push_back(static_cast<std::uint8_t>((x + y) % 16));
        }
    }
    Bytes plte, trns;
    for (int i = 0; i < 16; ++i) {
        plte.insert(plte.end(), {static_cast<std::uint8_t>(i * 16), static_cast<std::uint8_t>(200 - i * 10),
                                 static_cast<std::uint8_t>(i * 7)});
        trns.push_back(static_cast<std::uint8_t>(i * 17));
    }
    const std::vector<std::pair<std::string, Bytes>> files = {
        {"RGBA 8", Builder().Chunk("IHDR", Ihdr(w, h, 8, 6)).Chunk("IDAT", Zlib(rgba)).End().Out},
        {"grey alpha 16", Builder().Chunk("IHDR", Ihdr(w, h, 16, 4)).Chunk("IDAT", Zlib(greyAlpha)).End().Out},
        {"palette alpha", Builder()
                              .Chunk("IHDR", Ihdr(w, h, 8, 3))
                              .Chunk("PLTE", plte)
                              .Chunk("tRNS", trns)
                              .Chunk("IDAT", Zlib(palette))
                              .End()
                              .Out},
    };
    testutil::TempDir dir;
    for (const auto& [name, file] : files) {
        SCOPED_TRACE(name);
        const std::string path = dir.File("alpha.png"), flat = dir.File("flat.ppm");
        testutil::WriteFile(path, file);
        const auto r = testutil::Run(ImageMagick() + " " + testutil::Quote(path) +
                                     " -background white -flatten -depth 8 " + testutil::Quote("ppm:" + flat));
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        auto png = Load(file);
        EXPECT_EQ(png->TransparencyMode(), 2);
        EXPECT_LE(testutil::MaxDifference(DrawOn(*png, clWhite), testutil::ReadPpm(flat)), 1);
    }
}
