// GIF files against outside decoders and writers: giflib (gif2rgb), PIL and
// ImageMagick read what we write, and we read what ImageMagick, gifsicle
// and PIL write.

#include "Formats.h"
#include "GifAnimation.h"
#include "GifPicture.h"
#include "Picture.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <map>
#include <random>
#include <sstream>

using namespace testutil;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The indices of frame 0 as PIL reads them: "width height" then hex.
const char* const PilIndices = R"(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
im.seek(0)
if im.mode != 'P':
    sys.exit('mode ' + im.mode)
print(im.size[0], im.size[1])
print(bytes(im.getdata()).hex())
)";

struct Indices {
    int Width = 0;
    int Height = 0;
    Bytes Data;
};

Indices PilRead(const TempDir& dir, const std::string& gif)
{
    const std::string script = dir.File("indices.py");
    WriteFile(script, Bytes(PilIndices, PilIndices + std::strlen(PilIndices)));
    const CommandResult r = Run(PythonWithPil() + " " + Quote(script) + " " + Quote(gif));
    Indices out;
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    std::istringstream in(r.Output);
    std::string hex;
    in >> out.Width >> out.Height >> hex;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.Data.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// ImageMagick's frame over white: the raw frame on its page, or with
// coalesce the frame as the animation shows it.
RgbImage ImageMagickRead(const TempDir& dir, const std::string& gif, int frame = 0, bool coalesce = false)
{
    const std::string pattern = dir.File("im-%d.ppm");
    const std::string command =
        coalesce ? Tool("convert") + " " + Quote(gif) + " -coalesce -background white -alpha remove +adjoin " + Quote(pattern)
                 : Tool("convert") + " " + Quote(gif + "[" + std::to_string(frame) + "]") +
                       " -background white -flatten +adjoin " + Quote(pattern);
    const CommandResult r = Run(command);
    EXPECT_EQ(r.ExitCode, 0) << command << r.Output;
    return ReadPpm(dir.File("im-" + std::to_string(coalesce ? frame : 0) + ".ppm"));
}

// gif2rgb -1: the screen as RGB triples, rows from the top.
RgbImage GiflibRead(const TempDir& dir, const std::string& gif, int width, int height)
{
    const std::string rgb = dir.File("giflib.rgb");
    const CommandResult r = Run(Tool("gif2rgb") + " -1 -o " + Quote(rgb) + " " + Quote(gif));
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    RgbImage out;
    out.Width = width;
    out.Height = height;
    out.Rgb = ReadFile(rgb);
    EXPECT_EQ(out.Rgb.size(), static_cast<std::size_t>(width) * height * 3);
    return out;
}

RgbImage Expected(TGifPicture& image)
{
    TGIFSubImage& frame = *image.Frames.Frame(0);
    const TGIFColorMap& table = frame.ActiveColorMap();
    RgbImage out;
    out.Width = frame.FrameWidth();
    out.Height = frame.FrameHeight();
    for (std::size_t i = 0; i < frame.PixelDataSize(); ++i) {
        const std::uint8_t* t = table.Triplets() + frame.PixelData()[i] * 3;
        out.Rgb.insert(out.Rgb.end(), t, t + 3);
    }
    return out;
}

void ExpectSame(const RgbImage& got, const RgbImage& want, const std::string& what)
{
    ASSERT_EQ(got.Width, want.Width) << what;
    ASSERT_EQ(got.Height, want.Height) << what;
    ASSERT_EQ(got.Rgb.size(), want.Rgb.size()) << what;
    EXPECT_TRUE(got.Rgb == want.Rgb) << what << ": max difference " << MaxDifference(got, want);
}

// The test colours: entry i is (i * 37 + 11, 255 - i, i * 91 + 5), wrapped.
std::array<std::uint8_t, 3> TestColour(int i)
{
    return {static_cast<std::uint8_t>(i * 37 + 11), static_cast<std::uint8_t>(255 - i),
            static_cast<std::uint8_t>(i * 91 + 5)};
}

TPalette TestPalette(int bits)
{
    TPalette colours;
    for (int i = 0; i < (1 << bits); ++i) {
        const auto c = TestColour(i);
        colours.push_back(TPaletteEntry{c[0], c[1], c[2], 0});
    }
    return colours;
}

// The picture the indices show in the test colours.
RgbImage TestColours(int width, int height, const Bytes& indices)
{
    RgbImage out;
    out.Width = width;
    out.Height = height;
    for (std::uint8_t i : indices) {
        const auto c = TestColour(i);
        out.Rgb.insert(out.Rgb.end(), c.begin(), c.end());
    }
    return out;
}

// A plain LZW encoder written for the tests: a map from (prefix, pixel) to
// codes, one bit wider once the next code needs it, cleared when the table
// is full or, deferred, kept full without a clear.
Bytes ReferenceLzw(const Bytes& indices, int codeSize, bool deferred)
{
    const int clear = 1 << codeSize;
    int width = codeSize + 1;
    int next = clear + 2;
    std::map<std::pair<int, int>, int> table;
    Bytes out;
    std::uint32_t acc = 0;
    int bits = 0;
    auto emit = [&](int code) {
        acc |= static_cast<std::uint32_t>(code) << bits;
        bits += width;
        for (; bits >= 8; bits -= 8, acc >>= 8)
            out.push_back(static_cast<std::uint8_t>(acc));
    };
    emit(clear);
    int prefix = indices.at(0);
    for (std::size_t i = 1; i < indices.size(); ++i) {
        const int pixel = indices[i];
        if (auto it = table.find({prefix, pixel}); it != table.end()) {
            prefix = it->second;
            continue;
        }
        emit(prefix);
        if (next < 4096) {
            table[{prefix, pixel}] = next++;
            if (next > (1 << width) && width < 12)
                ++width;
            if (next == 4096 && !deferred) {
                emit(clear);
                table.clear();
                next = clear + 2;
                width = codeSize + 1;
            }
        }
        prefix = pixel;
    }
    emit(prefix);
    emit(clear + 1);
    if (bits > 0)
        out.push_back(static_cast<std::uint8_t>(acc));
    return out;
}

// A one-frame GIF of the given indices, a global table of 2^bits colours
// and the data as sub-blocks of blockSize bytes.
Bytes ReferenceGif(int width, int height, int bits, const Bytes& indices, int codeSize, bool deferred,
                   std::size_t blockSize = 255)
{
    Bytes gif{'G', 'I', 'F', '8', '9', 'a', static_cast<std::uint8_t>(width), static_cast<std::uint8_t>(width >> 8),
              static_cast<std::uint8_t>(height), static_cast<std::uint8_t>(height >> 8),
              static_cast<std::uint8_t>(0x80 | (bits - 1)), 0, 0};
    for (int i = 0; i < (1 << bits); ++i) {
        const auto c = TestColour(i);
        gif.insert(gif.end(), c.begin(), c.end());
    }
    gif.insert(gif.end(), {0x2C, 0, 0, 0, 0, static_cast<std::uint8_t>(width), static_cast<std::uint8_t>(width >> 8),
                           static_cast<std::uint8_t>(height), static_cast<std::uint8_t>(height >> 8), 0,
                           static_cast<std::uint8_t>(codeSize)});
    const Bytes data = ReferenceLzw(indices, codeSize, deferred);
    for (std::size_t at = 0; at < data.size(); at += blockSize) {
        const std::size_t n = std::min(blockSize, data.size() - at);
        gif.push_back(static_cast<std::uint8_t>(n));
        gif.insert(gif.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    gif.push_back(0);
    gif.push_back(0x3B);
    return gif;
}

} // namespace

TEST(GifOutsideDecoders, ReadWhatWeWriteAtEveryDepthEncodingAndOrder)
{
    TempDir dir;
    std::mt19937 random(5);
    for (int bits = 1; bits <= 8; ++bits) {
        for (std::uint8_t method : {emLZW, emRLE}) {
            for (bool interlaced : {false, true}) {
                const std::string what = "bits " + std::to_string(bits) + (method == emRLE ? " RLE" : " LZW") +
                                         (interlaced ? " interlaced" : " plain");
                const int width = 53, height = 37;
                TGifPicture image;
                image.EncodingMethod = method;
                const TPalette colours = TestPalette(bits);
                auto frame = std::make_unique<TGIFSubImage>(&image);
                // Interlaced frames are written so only with the global table.
                if (interlaced)
                    image.Header.GlobalTable.LoadPalette(colours);
                else
                    frame->ColorMap().LoadPalette(colours);
                frame->PlaceFrame(0, 0, width, height);
                for (std::size_t i = 0; i < frame->PixelDataSize(); ++i)
                    frame->PixelData()[i] =
                        static_cast<std::uint8_t>(((i / 23) % 2 ? i / 23 : random()) % (1u << bits));
                frame->SetInterlaced(interlaced);
                image.AddFrame(std::move(frame));
                const std::string gif = dir.File("ours.gif");
                image.SaveToFile(gif);
                const Bytes file = ReadFile(gif);
                EXPECT_EQ(file[13 + (interlaced ? 3 << bits : 0) + 9] & 0x40, interlaced ? 0x40 : 0) << what;

                const Indices pil = PilRead(dir, gif);
                ASSERT_EQ(pil.Width, width) << what;
                ASSERT_EQ(pil.Height, height) << what;
                TGIFSubImage& ours = *image.Frames.Frame(0);
                EXPECT_TRUE(pil.Data == Bytes(ours.PixelData(), ours.PixelData() + ours.PixelDataSize())) << what;
                const RgbImage want = Expected(image);
                ExpectSame(GiflibRead(dir, gif, width, height), want, what + " giflib");
                ExpectSame(ImageMagickRead(dir, gif), want, what + " ImageMagick");
            }
        }
    }
}

TEST(GifOutsideDecoders, ReadTheEditorsSaveOfATrueColourPicture)
{
    TempDir dir;
    TBitmap photo(120, 80, pf24bit);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 120; ++x)
            photo.SetPixelColor(x, y, RGB(x * 2, y * 3, (x * y) & 255));
    TGifPicture image;
    image.ReductionMethod = rdOctree;
    image.SetPaletteBits(8);
    image.DitherMethod = dtFloydSteinberg;
    image.Assign(photo);
    const std::string gif = dir.File("photo.gif");
    image.SaveToFile(gif);
    const Bytes file = ReadFile(gif);
    ASSERT_GE(file.size(), 30u);
    EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF87a");
    EXPECT_EQ(file[6] | (file[7] << 8), 120);
    EXPECT_EQ(file[8] | (file[9] << 8), 80);
    EXPECT_EQ(file[10] & 0x80, 0);
    EXPECT_EQ(file[13], 0x2C);
    EXPECT_EQ(file[22] & 0x80, 0x80);
    EXPECT_LE(image.Frames.Frame(0)->ColorMap().EntryCount(), 256);
    EXPECT_EQ(file.back(), 0x3B);

    const RgbImage want = Expected(image);
    ExpectSame(GiflibRead(dir, gif, 120, 80), want, "giflib");
    ExpectSame(ImageMagickRead(dir, gif), want, "ImageMagick");
    // The reduction stays near the photo.
    EXPECT_LE(MaxDifference(want, FromBitmap(photo)), 64);
}

TEST(GifOutsideWriters, TheirFilesDecodeToTheirPixels)
{
    TempDir dir;
    const std::string base = dir.File("base.ppm");
    ASSERT_EQ(testutil::Run(Tool("convert") + " -size 71x43 plasma:fractal -seed 3 " + Quote(base)).ExitCode, 0);
    struct Case {
        std::string Name;
        std::string Command;
    };
    const std::string im = dir.File("im.gif"), imi = dir.File("imi.gif"), sic = dir.File("sic.gif"),
                      sici = dir.File("sici.gif"), pil = dir.File("pil.gif"), anim = dir.File("anim.gif"),
                      opt = dir.File("opt.gif");
    const std::vector<Case> cases = {
        {im, Tool("convert") + " " + Quote(base) + " -colors 200 " + Quote(im)},
        {imi, Tool("convert") + " " + Quote(base) + " -colors 60 -interlace GIF " + Quote(imi)},
        {sic, Tool("gifsicle") + " --colors 16 --comment 'un commentaire' --loopcount=3 " + Quote(im) + " -o " + Quote(sic)},
        // Two pictures of their own palettes: the second frame has a local table.
        {sici, Tool("gifsicle") + " -i " + Quote(im) + " " + Quote(imi) + " -o " + Quote(sici)},
        {pil, PythonWithPil() + " -c \"from PIL import Image; Image.open('" + base + "').convert('P').save('" + pil + "')\""},
        // Frames that change a little, so that the optimiser crops them and
        // leaves unchanged pixels transparent.
        {anim, Tool("convert") + " -delay 5 " + Quote(base) + " \\( " + Quote(base) +
                   " -fill red -draw 'rectangle 10,10 30,20' \\) \\( " + Quote(base) +
                   " -fill blue -draw 'rectangle 40,5 60,35' \\) -colors 64 -loop 0 " + Quote(anim)},
        {opt, Tool("gifsicle") + " -O3 " + Quote(anim) + " -o " + Quote(opt)},
    };
    for (const Case& c : cases) {
        const CommandResult made = testutil::Run(c.Command);
        ASSERT_EQ(made.ExitCode, 0) << c.Command << made.Output;
        const DumpResult ours = PicDump(c.Name);
        ASSERT_TRUE(ours.Ok) << c.Name << ours.Error;
        ExpectSame(ours.Image, ImageMagickRead(dir, c.Name), c.Name);
    }
    // The frames of an optimised animation, composed as they show.
    for (int frame = 0; frame < 3; ++frame) {
        const DumpResult ours = PicDump(opt, frame);
        ASSERT_TRUE(ours.Ok) << ours.Error;
        ExpectSame(ours.Image, ImageMagickRead(dir, opt, frame, true), "frame " + std::to_string(frame));
    }
    const DumpResult local = PicDump(sici, 1);
    ASSERT_TRUE(local.Ok) << local.Error;
    ExpectSame(local.Image, ImageMagickRead(dir, sici, 1, true), "local table");
    const DumpResult none = PicDump(opt, 3);
    EXPECT_FALSE(none.Ok);
    EXPECT_NE(none.Error.find("No frame 3"), std::string::npos) << none.Error;
}

TEST(GifOutsideWriters, AScreenLargerThanItsDataCouldFillOpensAtItsSize)
{
    const Bytes gif = gifanim::ScreenPastItsDataGif();
    ASSERT_EQ(gif.size(), 62u);
    TempDir dir;
    const std::string path = dir.File("ecran.gif");
    WriteFile(path, gif);

    // PIL and ImageMagick open it at the screen's size.
    const CommandResult pil = testutil::Run(PythonWithPil() + " -c " +
                                  Quote("import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1])\n"
                                        "im.load()\nprint(im.size[0], im.size[1], im.convert('RGB').getpixel((0, 0)))") +
                                  " " + Quote(path));
    ASSERT_EQ(pil.ExitCode, 0) << pil.Output;
    EXPECT_EQ(pil.Output, "1024 1024 (255, 0, 0)\n");
    const CommandResult identify = testutil::Run(Tool("identify") + " -format '%W x %H' " + Quote(path));
    ASSERT_EQ(identify.ExitCode, 0) << identify.Output;
    EXPECT_EQ(identify.Output, "1024 x 1024");

    // Through the registry, and as the editor opens it (picdump): the
    // picture ImageMagick shows, the red pixel on a white screen.
    RegisterPictureFormats();
    TPicture picture;
    picture.LoadFromFile(path);
    EXPECT_EQ(picture.Width(), 1024);
    EXPECT_EQ(picture.Height(), 1024);
    const DumpResult ours = PicDump(path);
    ASSERT_TRUE(ours.Ok) << ours.Error;
    const RgbImage theirs = ImageMagickRead(dir, path);
    ExpectSame(ours.Image, theirs, "1024 x 1024 screen");
    ASSERT_EQ(theirs.Width, 1024);
    EXPECT_EQ(theirs.At(0, 0)[0], 255);
    EXPECT_EQ(theirs.At(1023, 1023)[2], 255);
}

TEST(GifOutsideWriters, AFileCutInsideItsImageDataKeepsItsRowsAndSaysSo)
{
    TempDir dir;
    const std::string gif = dir.File("noise.gif");
    // 64 x 64 noise in up to 256 colours: more than a byte of data a pixel.
    const std::string command = Tool("convert") + " -size 64x64 xc:gray +noise Random -colors 256 " + Quote(gif);
    const CommandResult made = testutil::Run(command);
    ASSERT_EQ(made.ExitCode, 0) << command << made.Output;
    const Indices whole = PilRead(dir, gif);
    ASSERT_EQ(whole.Width, 64);
    ASSERT_EQ(whole.Height, 64);
    ASSERT_EQ(whole.Data.size(), 64u * 64u);

    // Where the image data starts: after the header, its global table, the
    // extensions, the descriptor, its local table and the code size byte.
    const Bytes bytes = ReadFile(gif);
    std::size_t at = 13 + ((bytes.at(10) & 0x80) ? 3u * (2u << (bytes[10] & 7)) : 0u);
    while (bytes.at(at) == 0x21) {
        for (at += 2; bytes.at(at) != 0; at += 1u + bytes[at]) {
        }
        ++at;
    }
    ASSERT_EQ(bytes.at(at), 0x2C);
    const std::uint8_t packed = bytes.at(at + 9);
    ASSERT_EQ(packed & 0x40, 0) << "interlaced";
    at += 10 + ((packed & 0x80) ? 3u * (2u << (packed & 7)) : 0u) + 1;
    ASSERT_GT(bytes.size(), at + 2000);
    // Cut half way into the data: inside a sub-block, the common case.
    const Bytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(at + (bytes.size() - at) / 2));

    TGifPicture image;
    std::vector<std::string> warnings;
    image.WarningHandler = [&](TPersistent&, int, const std::string& m) { warnings.push_back(m); };
    TMemoryStream stream(cut);
    ASSERT_NO_THROW(image.LoadFromStream(stream));
    EXPECT_NE(std::find(warnings.begin(), warnings.end(), "Decoder bit buffer under-run"), warnings.end());
    ASSERT_EQ(image.Frames.Count(), 1);
    TGIFSubImage& frame = *image.Frames.Frame(0);
    ASSERT_EQ(frame.FrameWidth(), 64);
    ASSERT_EQ(frame.FrameHeight(), 64);
    ASSERT_EQ(frame.PixelDataSize(), whole.Data.size());
    // The pixels read are PIL's, from the first row on; the rest keep the
    // initial index.
    const Bytes ours(frame.PixelData(), frame.PixelData() + frame.PixelDataSize());
    const auto read = static_cast<std::size_t>(
        std::mismatch(ours.begin(), ours.end(), whole.Data.begin()).first - ours.begin());
    EXPECT_GE(read, 16u * 64u);
    EXPECT_LT(read, ours.size());
    const auto initial = static_cast<std::uint8_t>(std::max(0, frame.TransparentIndex()));
    EXPECT_TRUE(std::all_of(ours.begin() + static_cast<std::ptrdiff_t>(read), ours.end(),
                            [&](std::uint8_t i) { return i == initial; }));
}

TEST(GifOutsideWriters, EveryCodeSizeAndDeferredClearsReadAsGiflibReadsThem)
{
    // Code size 1 is rare, but giflib reads it: the code width grows right
    // after the first code, as the encoder's next code already needs 3 bits.
    TempDir dir;
    std::mt19937 random(11);
    struct Case {
        int Width, Height, Bits, CodeSize;
        bool Deferred;
        std::size_t BlockSize;
    };
    const std::vector<Case> cases = {
        {31, 17, 1, 1, false, 255}, {301, 217, 1, 1, false, 255}, {1, 1, 1, 1, false, 255},
        {97, 1, 2, 2, false, 255},  {1, 97, 2, 2, false, 255},    {13, 7, 1, 2, false, 255},
        {301, 217, 4, 4, true, 255}, {401, 317, 8, 8, true, 255}, {301, 217, 8, 8, false, 255},
        {61, 43, 8, 8, false, 1},   {20, 20, 2, 7, false, 255},
    };
    for (const Case& c : cases) {
        const std::string what = std::to_string(c.Width) + "x" + std::to_string(c.Height) + " code size " +
                                 std::to_string(c.CodeSize) + (c.Deferred ? " deferred" : "");
        Bytes indices(static_cast<std::size_t>(c.Width) * c.Height);
        // Runs and noise, so that strings grow long and the table fills.
        for (std::size_t i = 0; i < indices.size(); ++i)
            indices[i] = static_cast<std::uint8_t>(((i / 7) % 3 ? random() : i / 7) % (1u << c.Bits));
        const std::string gif = dir.File("ref.gif");
        WriteFile(gif, ReferenceGif(c.Width, c.Height, c.Bits, indices, c.CodeSize, c.Deferred, c.BlockSize));
        const RgbImage want = TestColours(c.Width, c.Height, indices);
        ExpectSame(GiflibRead(dir, gif, c.Width, c.Height), want, what + " giflib");
        const DumpResult ours = PicDump(gif);
        ASSERT_TRUE(ours.Ok) << what << ours.Error;
        ExpectSame(ours.Image, want, what + " ours");
    }
}

TEST(GifOutsideDecoders, ReadOurOddSizesFullTablesAndShortInterlacedFrames)
{
    TempDir dir;
    std::mt19937 random(17);
    struct Case {
        int Width, Height, Bits;
        bool Interlaced;
    };
    std::vector<Case> cases = {{1, 1, 1, false}, {1, 1, 8, false}, {1, 97, 2, false}, {97, 1, 8, false},
                               {301, 217, 8, false}, {301, 217, 1, false}, {640, 3, 8, true}};
    for (int height = 1; height <= 9; ++height)
        cases.push_back({5, height, 3, true});
    for (const Case& c : cases) {
        for (std::uint8_t method : {emLZW, emRLE}) {
            const std::string what = std::to_string(c.Width) + "x" + std::to_string(c.Height) + " bits " +
                                     std::to_string(c.Bits) + (method == emRLE ? " RLE" : " LZW") +
                                     (c.Interlaced ? " interlaced" : "");
            TGifPicture image;
            image.EncodingMethod = method;
            const TPalette colours = TestPalette(c.Bits);
            image.Header.GlobalTable.LoadPalette(colours);
            auto frame = std::make_unique<TGIFSubImage>(&image);
            frame->PlaceFrame(0, 0, c.Width, c.Height);
            Bytes indices(frame->PixelDataSize());
            for (std::size_t i = 0; i < indices.size(); ++i)
                indices[i] = static_cast<std::uint8_t>(((i / 5) % 4 ? random() : i / 5) % (1u << c.Bits));
            std::copy(indices.begin(), indices.end(), frame->PixelData());
            frame->SetInterlaced(c.Interlaced);
            image.AddFrame(std::move(frame));
            const std::string gif = dir.File("ours.gif");
            image.SaveToFile(gif);

            const RgbImage want = TestColours(c.Width, c.Height, indices);
            const Indices pil = PilRead(dir, gif);
            ASSERT_EQ(pil.Width, c.Width) << what;
            ASSERT_EQ(pil.Height, c.Height) << what;
            EXPECT_TRUE(pil.Data == indices) << what;
            ExpectSame(GiflibRead(dir, gif, c.Width, c.Height), want, what + " giflib");
            ExpectSame(ImageMagickRead(dir, gif), want, what + " ImageMagick");
        }
    }
}

TEST(GifOutsideDecoders, ReadOurLongRunsAtEveryDepth)
{
    // Runs of every length up to many thousands, one colour each: the
    // run-length encoder's long codes and clears, the LZW encoder's long strings.
    TempDir dir;
    const int width = 1009, height = 601;
    for (int bits : {1, 2, 5, 8}) {
        Bytes indices;
        for (int run = 1, colour = 0; indices.size() < static_cast<std::size_t>(width) * height;
             run = run * 5 / 4 + 1, colour = (colour * 7 + 3) % (1 << bits))
            indices.insert(indices.end(), std::min<std::size_t>(run, std::size_t(width) * height - indices.size()),
                           static_cast<std::uint8_t>(colour));
        for (std::uint8_t method : {emLZW, emRLE}) {
            const std::string what = "bits " + std::to_string(bits) + (method == emRLE ? " RLE" : " LZW");
            TGifPicture image;
            image.EncodingMethod = method;
            const TPalette colours = TestPalette(bits);
            auto frame = std::make_unique<TGIFSubImage>(&image);
            frame->ColorMap().LoadPalette(colours);
            frame->PlaceFrame(0, 0, width, height);
            ASSERT_EQ(frame->PixelDataSize(), indices.size());
            std::copy(indices.begin(), indices.end(), frame->PixelData());
            image.AddFrame(std::move(frame));
            const std::string gif = dir.File("runs.gif");
            image.SaveToFile(gif);
            const Indices pil = PilRead(dir, gif);
            ASSERT_EQ(pil.Width, width) << what;
            ASSERT_EQ(pil.Height, height) << what;
            EXPECT_TRUE(pil.Data == indices) << what;
            const RgbImage want = TestColours(width, height, indices);
            ExpectSame(GiflibRead(dir, gif, width, height), want, what + " giflib");
        }
    }
}

TEST(GifOutsideWriters, TheirAnimationsSurviveOurLoadAndSave)
{
    // Loaded and saved again with both encoders: ImageMagick composes every
    // frame of our file as it composes theirs, and gifsicle sees the same
    // frames, loop count and comment.
    TempDir dir;
    const std::string base = dir.File("base.ppm"), anim = dir.File("anim.gif"), opt = dir.File("opt.gif");
    ASSERT_EQ(testutil::Run(Tool("convert") + " -size 67x41 plasma:fractal -seed 9 " + Quote(base)).ExitCode, 0);
    ASSERT_EQ(testutil::Run(Tool("convert") + " -delay 7 " + Quote(base) + " \\( " + Quote(base) +
                  " -fill red -draw 'rectangle 3,4 30,20' \\) \\( " + Quote(base) +
                  " -fill blue -draw 'rectangle 40,5 60,35' -interlace GIF \\) -colors 32 -loop 4 " + Quote(anim))
                  .ExitCode,
              0);
    ASSERT_EQ(testutil::Run(Tool("gifsicle") + " -O3 --comment 'deux mots' " + Quote(anim) + " -o " + Quote(opt)).ExitCode, 0);
    const std::string theirInfo = testutil::Run(Tool("gifsicle") + " --info " + Quote(opt)).Output;
    for (std::uint8_t method : {emLZW, emRLE}) {
        TGifPicture image;
        image.LoadFromFile(opt);
        ASSERT_EQ(image.Frames.Count(), 3);
        image.EncodingMethod = method;
        const std::string ours = dir.File(method == emRLE ? "rle.gif" : "lzw.gif");
        image.SaveToFile(ours);
        const std::string what = method == emRLE ? "RLE" : "LZW";
        for (int frame = 0; frame < 3; ++frame) {
            const RgbImage want = ImageMagickRead(dir, opt, frame, true);
            ExpectSame(ImageMagickRead(dir, ours, frame, true), want, what + " frame " + std::to_string(frame));
        }
        // gifsicle's summary names the file; the rest must match.
        std::string info = testutil::Run(Tool("gifsicle") + " --info " + Quote(ours)).Output;
        auto strip = [](std::string s) { return s.substr(s.find('\n')); };
        EXPECT_EQ(strip(info), strip(theirInfo)) << what;
    }
}
