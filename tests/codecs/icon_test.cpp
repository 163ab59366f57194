// Icons: files from ImageMagick and PIL compared with the same tool's white
// composite, the choice of the image, drawing with mask and alpha, and
// malformed files.

#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "Icon.h"
#include "Picture.h"
#include "StandardFormats.h"
#include "Streams.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace testutil;

namespace {


void Put16(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x)
{
    v[at] = static_cast<std::uint8_t>(x);
    v[at + 1] = static_cast<std::uint8_t>(x >> 8);
}

void Put32(std::vector<std::uint8_t>& v, std::size_t at, std::uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v[at + i] = static_cast<std::uint8_t>(x >> (8 * i));
}

// One image of an icon as a DIB: colour rows then AND mask, both bottom-up.
// pixel answers a palette index (8 bits and fewer), 0x00RRGGBB (24 bits) or
// 0xAARRGGBB (32 bits).
std::vector<std::uint8_t> DibEntry(int w, int h, int bits, const std::vector<std::uint32_t>& colours,
                                   const std::function<std::uint32_t(int, int)>& pixel,
                                   const std::function<bool(int, int)>& transparent)
{
    const std::size_t stride = BytesPerScanline(w, bits);
    const std::size_t maskStride = BytesPerScanline(w, 1);
    std::vector<std::uint8_t> v(40 + colours.size() * 4 + (stride + maskStride) * h, 0);
    Put32(v, 0, 40);
    Put32(v, 4, static_cast<std::uint32_t>(w));
    Put32(v, 8, static_cast<std::uint32_t>(2 * h));
    Put16(v, 12, 1);
    Put16(v, 14, static_cast<std::uint32_t>(bits));
    Put32(v, 32, static_cast<std::uint32_t>(colours.size()));
    std::size_t at = 40;
    for (std::uint32_t c : colours) {
        Put32(v, at, c);
        at += 4;
    }
    for (int y = h - 1; y >= 0; --y, at += stride) {
        for (int x = 0; x < w; ++x) {
            std::uint32_t p = pixel(x, y);
            switch (bits) {
            case 1:
                v[at + x / 8] |= static_cast<std::uint8_t>((p & 1) << (7 - x % 8));
                break;
            case 4:
                v[at + x / 2] |= static_cast<std::uint8_t>((p & 15) << (x % 2 ? 0 : 4));
                break;
            case 8:
                v[at + x] = static_cast<std::uint8_t>(p);
                break;
            case 24:
                for (int c = 0; c < 3; ++c)
                    v[at + 3 * x + c] = static_cast<std::uint8_t>(p >> (8 * c));
                break;
            case 32:
                Put32(v, at + 4 * x, p);
                break;
            }
        }
    }
    for (int y = h - 1; y >= 0; --y, at += maskStride)
        for (int x = 0; x < w; ++x)
            if (transparent(x, y))
                v[at + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    return v;
}

std::vector<std::uint8_t> IcoFile(const std::vector<std::vector<std::uint8_t>>& images, std::uint16_t type = 1)
{
    std::vector<std::uint8_t> v(6 + 16 * images.size(), 0);
    Put16(v, 2, type);
    Put16(v, 4, static_cast<std::uint32_t>(images.size()));
    for (std::size_t i = 0; i < images.size(); ++i) {
        Put32(v, 6 + 16 * i + 8, static_cast<std::uint32_t>(images[i].size()));
        Put32(v, 6 + 16 * i + 12, static_cast<std::uint32_t>(v.size()));
        v.insert(v.end(), images[i].begin(), images[i].end());
    }
    return v;
}

auto Solid(std::uint32_t value) { return [value](int, int) { return value; }; }
auto Opaque() { return [](int, int) { return false; }; }

std::unique_ptr<TIcon> LoadIcon(const std::vector<std::uint8_t>& bytes)
{
    auto icon = std::make_unique<TIcon>();
    TMemoryStream stream(bytes);
    icon->LoadFromStream(stream);
    return icon;
}

// Draws an icon onto a bitmap filled with one colour.
TBitmap DrawOn(TIcon& icon, int w, int h, TColor background, const TRect& rect)
{
    TBitmap b(w, h, pf24bit);
    b.Canvas().Brush.Color = background;
    b.Canvas().FillRect(Rect(0, 0, w, h));
    icon.Draw(b.Canvas(), rect);
    return b;
}

template <class E>
void ExpectIconError(const std::vector<std::uint8_t>& bytes, const std::string& text, const std::string& what)
{
    try {
        LoadIcon(bytes);
        ADD_FAILURE() << what << ": no exception";
    } catch (const E& e) {
        EXPECT_NE(e.Message.find(text), std::string::npos) << what << ": " << e.Message;
    } catch (const Exception& e) {
        ADD_FAILURE() << what << ": " << e.ClassName() << ": " << e.Message;
    }
}

// A stand-in for the PNG class: remembers what it was given.
class TFakePng : public TGraphic {
public:
    static inline std::vector<std::uint8_t> Loaded;
    void Draw(TCanvas& canvas, const TRect& rect) override
    {
        canvas.Brush.Color = clFuchsia;
        canvas.FillRect(rect);
    }
    bool GetEmpty() const override { return false; }
    int GetHeight() const override { return 5; }
    int GetWidth() const override { return 7; }
    void SetHeight(int) override {}
    void SetWidth(int) override {}
    void LoadFromStream(TStream& stream) override
    {
        Loaded.assign(static_cast<std::size_t>(stream.Size() - stream.Position()), 0);
        stream.ReadBuffer(Loaded.data(), Loaded.size());
    }
    void SaveToStream(TStream&) const override {}
};

std::vector<std::uint8_t> PngLike(std::uint32_t w, std::uint32_t h)
{
    std::vector<std::uint8_t> v = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    for (std::uint32_t n : {w, h})
        for (int i = 3; i >= 0; --i)
            v.push_back(static_cast<std::uint8_t>(n >> (8 * i)));
    v.insert(v.end(), {8, 6, 0, 0, 0, 0, 0, 0, 0});
    return v;
}

} // namespace

TEST(IconRead, ImageMagickIconsMatchImageMagickComposite)
{
    TempDir dir;
    std::string src = dir.File("src.ppm");
    ASSERT_EQ(testutil::Run(Tool("convert") + " -size 64x64 -seed 7 plasma:fractal " + Quote(src)).ExitCode, 0);
    struct Case {
        std::string Options;
        int Largest; // index of the largest image in the file
        int Size;
    };
    const Case cases[] = {
        {"-alpha set -channel A -fx 'i/w*j/h' +channel -define icon:auto-resize=16,32,48", 2, 48},
        {"-define icon:auto-resize=48,16", 0, 48},
        {"-resize 32x32 -colors 100 -type Palette", 0, 32},
        {"-resize 24x24 -colors 12 -type Palette", 0, 24},
        {"-resize 20x20 -monochrome", 0, 20},
        {"-resize 32x32 -type Palette -colors 100 \\( " + Quote(src) + " -resize 16x16 -colors 8 -type Palette \\)", 0,
         32},
    };
    for (const Case& c : cases) {
        std::string file = dir.File("im.ico");
        auto r = testutil::Run(Tool("convert") + " " + Quote(src) + " " + c.Options + " " + Quote(file));
        ASSERT_EQ(r.ExitCode, 0) << c.Options << r.Output;
        std::string ref = dir.File("ref.ppm");
        r = testutil::Run(Tool("convert") + " " + Quote(file + "[" + std::to_string(c.Largest) + "]") +
                          " -background white -flatten -depth 8 " + Quote("ppm:" + ref));
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        DumpResult d = PicDump(file);
        ASSERT_TRUE(d.Ok) << c.Options << ": " << d.Error;
        EXPECT_EQ(d.Image.Width, c.Size) << c.Options;
        int diff = MaxDifference(d.Image, ReadPpm(ref));
        EXPECT_LE(diff, 1) << c.Options;
    }
}

TEST(IconRead, PilIconsMatchPilComposite)
{
    const std::string Python = PythonWithPil();
    TempDir dir;
    // Palette, true colour, and true colour with graded alpha (32 bits).
    for (std::string mode : {"P", "RGB", "RGBA"}) {
        std::string file = dir.File("pil.ico");
        std::string ref = dir.File("ref.ppm");
        std::string script =
            "import sys\n"
            "from PIL import Image\n"
            "im = Image.radial_gradient('L').resize((64, 64))\n"
            "im = Image.merge('RGB', (im, im.rotate(90), im.transpose(Image.FLIP_LEFT_RIGHT)))\n"
            "m = sys.argv[1]\n"
            "if m == 'P': im = im.convert('P', palette=Image.ADAPTIVE, colors=60)\n"
            "if m == 'RGBA':\n"
            "    im = im.convert('RGBA')\n"
            "    im.putalpha(Image.linear_gradient('L').resize((64, 64)))\n"
            "im.save(sys.argv[2], sizes=[(16, 16), (32, 32), (64, 64)], bitmap_format='bmp')\n"
            "ico = Image.open(sys.argv[2]).convert('RGBA')\n"
            "bg = Image.new('RGBA', ico.size, (255, 255, 255, 255))\n"
            "bg.alpha_composite(ico)\n"
            "bg.convert('RGB').save(sys.argv[3])\n";
        auto r = testutil::Run(Python + " -c " + Quote(script) + " " + mode + " " + Quote(file) + " " + Quote(ref));
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        DumpResult d = PicDump(file);
        ASSERT_TRUE(d.Ok) << mode << ": " << d.Error;
        EXPECT_EQ(d.Image.Width, 64) << mode;
        int diff = MaxDifference(d.Image, ReadPpm(ref));
        EXPECT_LE(diff, 1) << mode;
    }
}

TEST(IconRead, ChoosesTheLargestThenTheDeepestImage)
{
    const std::vector<std::uint32_t> grey16(16, 0x808080);
    std::vector<std::uint32_t> blue256(256, 0x0000FF);
    std::vector<std::uint32_t> green16(16, 0x00FF00);
    auto icon = LoadIcon(IcoFile({
        DibEntry(16, 16, 32, {}, Solid(0xFFFF0000), Opaque()),
        DibEntry(32, 32, 4, green16, Solid(3), Opaque()),
        DibEntry(32, 32, 8, blue256, Solid(200), Opaque()),
        DibEntry(24, 24, 24, {}, Solid(0x00FF00), Opaque()),
        DibEntry(32, 32, 1, {0, 0xFFFFFF}, Solid(1), Opaque()),
    }));
    EXPECT_EQ(icon->Width(), 32);
    EXPECT_EQ(icon->Height(), 32);
    ASSERT_NE(icon->Image(), nullptr);
    EXPECT_EQ(icon->Image()->GetPixelColor(5, 5), RGB(0, 0, 255));

    // Cursors are read alike.
    auto cursor = LoadIcon(IcoFile({DibEntry(8, 8, 24, {}, Solid(0x123456), Opaque())}, 2));
    EXPECT_EQ(cursor->Image()->GetPixelColor(7, 7), RGB(0x12, 0x34, 0x56));
}

TEST(IconRead, PngImagesGoThroughThePngClass)
{
    auto dib = DibEntry(16, 16, 24, {}, Solid(0x0000FF), Opaque());
    auto png = PngLike(256, 256);
    if (!TPicture::FindGraphicClass("png")) {
        // Without a PNG class the other images are used...
        auto icon = LoadIcon(IcoFile({dib, png}));
        EXPECT_EQ(icon->Width(), 16);
        // ...and a file of PNG images only is refused.
        ExpectIconError<EInvalidGraphic>(IcoFile({png}), "Icône non valide (", "PNG only");
        ExpectIconError<EInvalidGraphic>(IcoFile({png}), "PNG", "PNG only");
    }

    static const TGraphicClassInfo fake{"TFakePng", [] { return std::unique_ptr<TGraphic>(new TFakePng); }};
    TPicture::RegisterFileFormat("png", "PNG de test", &fake);
    auto icon = LoadIcon(IcoFile({dib, png}));
    TPicture::UnregisterGraphicClass(&fake);
    EXPECT_EQ(TFakePng::Loaded, png);
    EXPECT_EQ(icon->Width(), 7);
    EXPECT_EQ(icon->Image(), nullptr);
    TBitmap b = DrawOn(*icon, 7, 5, clWhite, Rect(0, 0, 7, 5));
    EXPECT_EQ(b.GetPixelColor(3, 3), clFuchsia);
}

TEST(IconDraw, MaskAlphaAndStretching)
{
    // 32 bits: opaque red, transparent, half blue, opaque green.
    auto alpha = LoadIcon(IcoFile({DibEntry(2, 2, 32, {}, [](int x, int y) {
        const std::uint32_t px[4] = {0xFFFF0000, 0x00FFFFFF, 0x800000FF, 0xFF00FF00};
        return px[y * 2 + x];
    }, Opaque())}));
    const TColor under = RGB(0x40, 0x80, 0xC0);
    TBitmap b = DrawOn(*alpha, 2, 2, under, Rect(0, 0, 2, 2));
    EXPECT_EQ(b.GetPixelColor(0, 0), RGB(255, 0, 0));
    EXPECT_EQ(b.GetPixelColor(1, 0), under);
    // 0x80/255 of blue over the background, rounded.
    EXPECT_EQ(b.GetPixelColor(0, 1), RGB(32, 64, 224));
    EXPECT_EQ(b.GetPixelColor(1, 1), RGB(0, 255, 0));

    // 24 bits with an AND mask: the masked pixels leave the canvas as it was.
    auto masked = LoadIcon(IcoFile({DibEntry(2, 2, 24, {}, Solid(0xFFFF00),
                                             [](int x, int y) { return x == y; })}));
    b = DrawOn(*masked, 4, 4, under, Rect(0, 0, 4, 4));
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(b.GetPixelColor(x, y), x / 2 == y / 2 ? under : RGB(255, 255, 0)) << x << "," << y;

    // Partly outside the canvas: clipped.
    b = DrawOn(*masked, 3, 3, under, Rect(-2, 1, 2, 5));
    EXPECT_EQ(b.GetPixelColor(0, 1), RGB(255, 255, 0));
    EXPECT_EQ(b.GetPixelColor(1, 1), RGB(255, 255, 0));
    EXPECT_EQ(b.GetPixelColor(0, 2), RGB(255, 255, 0));
    EXPECT_EQ(b.GetPixelColor(2, 1), under);
    EXPECT_EQ(b.GetPixelColor(0, 0), under);

    // A 32-bit image whose alpha is all zero uses its mask.
    auto noAlpha = LoadIcon(IcoFile({DibEntry(2, 1, 32, {}, Solid(0x00102030),
                                              [](int x, int) { return x == 1; })}));
    b = DrawOn(*noAlpha, 2, 1, under, Rect(0, 0, 2, 1));
    EXPECT_EQ(b.GetPixelColor(0, 0), RGB(0x10, 0x20, 0x30));
    EXPECT_EQ(b.GetPixelColor(1, 0), under);
}

TEST(Icon, SizeIsFixedFileIsKeptAssignCopies)
{
    auto bytes = IcoFile({DibEntry(4, 3, 8, {0xFF0000, 0x00FF00}, [](int x, int) { return x % 2u; },
                                   [](int x, int y) { return x == 3 && y == 0; })});
    auto icon = LoadIcon(bytes);
    EXPECT_TRUE(icon->Transparent());
    try {
        icon->SetWidth(10);
        ADD_FAILURE() << "SetWidth accepted";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message, "Impossible de modifier la taille d'une icône");
    }
    EXPECT_THROW(icon->SetHeight(10), EInvalidGraphicOperation);
    EXPECT_EQ(icon->Width(), 4);

    TMemoryStream saved;
    icon->SaveToStream(saved);
    EXPECT_EQ(saved.Data(), bytes);

    TIcon copy;
    copy.Assign(*icon);
    EXPECT_TRUE(copy.Equals(*icon));
    EXPECT_EQ(copy.Height(), 3);

    // As a bitmap: drawn on white.
    TBitmap b;
    b.Assign(*icon);
    EXPECT_EQ(b.Width(), 4);
    EXPECT_EQ(b.GetPixelColor(0, 1), RGB(255, 0, 0));
    EXPECT_EQ(b.GetPixelColor(1, 1), RGB(0, 255, 0));
    EXPECT_EQ(b.GetPixelColor(3, 0), clWhite);

    // Through the registry by extension.
    TempDir dir;
    WriteFile(dir.File("a.ico"), bytes);
    RegisterStandardGraphics();
    TPicture picture;
    picture.LoadFromFile(dir.File("a.ico"));
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_STREQ(picture.Graphic()->ClassName(), "TIcon");

    // A mask left out by its writer counts as opaque.
    auto cut = bytes;
    cut.resize(cut.size() - 12);
    Put32(cut, 6 + 8, static_cast<std::uint32_t>(cut.size() - 22));
    auto opaque = LoadIcon(cut);
    EXPECT_EQ(opaque->Image()->ScanLine(0)[4 * 3 + 3], 255);
}

TEST(IconRead, EntriesStatedAtEightBytesAreSizedFromTheirHeader)
{
    // 1-bit and 8-bit images from ImageMagick, as icons and as cursors whose
    // directory says 8 bytes: their header, table, rows and mask follow.
    TempDir dir;
    const std::string src = dir.File("src.ppm");
    ASSERT_EQ(testutil::Run(Tool("convert") + " -size 32x32 -seed 7 plasma:fractal " + Quote(src)).ExitCode, 0);
    const std::pair<std::string, unsigned> cases[] = {{"-colors 2 -type Palette", 1}, {"-colors 100 -type Palette", 8}};
    for (const auto& [options, bits] : cases) {
        const std::string file = dir.File("im.ico"), ref = dir.File("ref.ppm");
        auto r = testutil::Run(Tool("convert") + " " + Quote(src) + " " + options + " " + Quote(file));
        ASSERT_EQ(r.ExitCode, 0) << options << r.Output;
        r = testutil::Run(Tool("convert") + " " + Quote(file) + " -background white -flatten -depth 8 " +
                          Quote("ppm:" + ref));
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        const RgbImage want = ReadPpm(ref);
        const std::vector<std::uint8_t> bytes = ReadFile(file);
        ASSERT_GT(bytes.size(), 22u + 40u);
        ASSERT_EQ(bytes[22 + 14], bits) << options;
        for (std::uint32_t type : {1u, 2u}) {
            const std::string what = options + (type == 2 ? " cursor" : " icon");
            std::vector<std::uint8_t> stated = bytes;
            Put16(stated, 2, type);
            Put32(stated, 6 + 8, 8);
            const std::string patched = dir.File("stated.ico");
            WriteFile(patched, stated);
            DumpResult d = PicDump(patched);
            ASSERT_TRUE(d.Ok) << what << ": " << d.Error;
            ASSERT_EQ(d.Image.Width, 32) << what;
            ASSERT_EQ(d.Image.Height, 32) << what;
            EXPECT_EQ(MaxDifference(d.Image, want), 0) << what;

            // The same with the mask left out by its writer: opaque.
            std::vector<std::uint8_t> noMask = stated;
            noMask.resize(noMask.size() - 32 * 4);
            auto icon = LoadIcon(noMask);
            ASSERT_EQ(icon->Width(), 32) << what;
            EXPECT_EQ(MaxDifference(FromBitmap(DrawOn(*icon, 32, 32, clWhite, Rect(0, 0, 32, 32))), want), 0)
                << what;
            // When the colour rows are not all there, the entry is refused.
            noMask.resize(noMask.size() - 1);
            EXPECT_THROW(LoadIcon(noMask), EInvalidGraphic) << what;
        }
    }
}

TEST(IconRead, MalformedFilesRaiseClearErrors)
{
    auto good = IcoFile({DibEntry(4, 4, 24, {}, Solid(0x123456), Opaque())});
    auto patched16 = [&](std::size_t at, std::uint32_t v) {
        auto b = good;
        Put16(b, at, v);
        return b;
    };
    auto patched32 = [&](std::size_t at, std::uint32_t v) {
        auto b = good;
        Put32(b, at, v);
        return b;
    };
    const std::size_t dib = 22; // the image after one directory entry
    ExpectIconError<EInvalidGraphic>({}, "Icône non valide (", "empty");
    ExpectIconError<EInvalidGraphic>({0, 0, 1}, "tronqué", "header cut");
    ExpectIconError<EInvalidGraphic>(patched16(0, 1), "en-tête", "reserved word");
    ExpectIconError<EInvalidGraphic>(patched16(2, 3), "type", "type 3");
    ExpectIconError<EInvalidGraphic>(patched16(4, 0), "aucune image", "no image");
    ExpectIconError<EInvalidGraphic>(patched16(4, 500), "répertoire tronqué", "directory cut");
    ExpectIconError<EInvalidGraphic>(patched32(6 + 12, 0x7FFFFFF0), "hors du fichier", "offset past the end");
    ExpectIconError<EInvalidGraphic>(patched32(6 + 8, 0xFFFFFFFF), "hors du fichier", "size past the end");
    ExpectIconError<EInvalidGraphic>(patched32(dib, 12), "en-tête d'image", "core header");
    ExpectIconError<EInvalidGraphic>(patched32(dib + 4, 0), "dimensions", "zero width");
    ExpectIconError<EInvalidGraphic>(patched32(dib + 4, 0xFFFFFFFC), "dimensions", "negative width");
    ExpectIconError<EInvalidGraphic>(patched32(dib + 8, 0xFFFFFFF8), "dimensions", "negative height");
    ExpectIconError<EInvalidGraphic>(patched32(dib + 16, 1), "compression", "RLE image");
    ExpectIconError<EInvalidGraphic>(patched16(dib + 12, 0), "plans", "zero planes");
    ExpectIconError<EOutOfMemory>(patched32(dib + 4, 0x7FFFFFF0), "Image trop grande", "over the budget");
    // Colour rows cut short: the image's own size says 4 rows, the entry holds 2.
    auto rows = good;
    rows.resize(dib + 40 + 2 * 12);
    Put32(rows, 6 + 8, 40 + 2 * 12);
    ExpectIconError<EInvalidGraphic>(rows, "Icône non valide (données tronquées)", "rows cut");
    auto png = IcoFile({std::vector<std::uint8_t>{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0}});
    ExpectIconError<EInvalidGraphic>(png, "PNG", "PNG header cut");

    // A failed load leaves the icon as it was.
    auto icon = LoadIcon(good);
    for (const auto& bytes : {patched16(2, 3), rows}) {
        TMemoryStream bad(bytes);
        EXPECT_THROW(icon->LoadFromStream(bad), EInvalidGraphic);
        EXPECT_EQ(icon->Width(), 4);
        EXPECT_EQ(icon->Data(), good);
    }
}

TEST(IconRead, AnEntryStatedSmallerThanItsBitmapIsReadFromItsHeader)
{
    // 8 x 8 at 24 bits: yellow left half, blue right half, the top-left
    // pixel masked out; the directory says the entry is its 40-byte header.
    auto colour = [](int x, int) { return x < 4 ? 0xFFFF00u : 0x0000FFu; };
    auto masked = [](int x, int y) { return x == 0 && y == 0; };
    const std::vector<std::uint8_t> entry = DibEntry(8, 8, 24, {}, colour, masked);
    std::vector<std::uint8_t> file = IcoFile({entry});
    file[6] = 8; // the directory's width, height, planes and bits, as writers fill them
    file[7] = 8;
    Put16(file, 6 + 4, 1);
    Put16(file, 6 + 6, 24);
    Put32(file, 6 + 8, 40);
    const TColor under = RGB(1, 2, 3);
    auto icon = LoadIcon(file);
    ASSERT_EQ(icon->Width(), 8);
    ASSERT_EQ(icon->Height(), 8);
    TBitmap b = DrawOn(*icon, 8, 8, under, Rect(0, 0, 8, 8));
    EXPECT_EQ(b.GetPixelColor(0, 0), under);
    EXPECT_EQ(b.GetPixelColor(1, 0), RGB(255, 255, 0));
    EXPECT_EQ(b.GetPixelColor(7, 7), RGB(0, 0, 255));
    // ImageMagick reads the file the same way.
    TempDir dir;
    const std::string ico = dir.File("short.ico"), ref = dir.File("short.ppm");
    WriteFile(ico, file);
    const auto r = testutil::Run(Tool("convert") + " " + Quote(ico) + " -background '#010203' -flatten -depth 8 " +
                                 Quote("ppm:" + ref));
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_EQ(MaxDifference(FromBitmap(b), ReadPpm(ref)), 0);

    // The same entry first in a file of two, the other a 4 x 4 one.
    std::vector<std::uint8_t> two = IcoFile({entry, DibEntry(4, 4, 24, {}, Solid(0xFF0000), Opaque())});
    Put32(two, 6 + 8, 40);
    icon = LoadIcon(two);
    EXPECT_EQ(icon->Width(), 8);
    b = DrawOn(*icon, 8, 8, under, Rect(0, 0, 8, 8));
    EXPECT_EQ(b.GetPixelColor(0, 0), under);
    EXPECT_EQ(b.GetPixelColor(7, 0), RGB(0, 0, 255));

    // When the bitmap is not there either, the file is refused.
    file.resize(file.size() - 100);
    EXPECT_THROW(LoadIcon(file), EInvalidGraphic);
}
