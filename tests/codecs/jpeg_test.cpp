// TJPEGImage against the outside JPEG tools: djpeg/cjpeg as the reference
// decoder and encoder, ImageMagick and PIL as other writers and readers.

#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "Jpeg.h"
#include "Streams.h"
#include "TestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

// The test writes a YCCK file through libjpeg itself, which no command-line
// tool here produces with chosen ink values.
#include <jpeglib.h>

using namespace testutil;

namespace {

// A picture with smooth gradients, hard edges and fine noise, so that every
// stage of the codec (sampling, DCT, quantisation, entropy coding) is busy.
RgbImage MakePattern(int width, int height)
{
    RgbImage img;
    img.Width = width;
    img.Height = height;
    img.Rgb.resize(static_cast<std::size_t>(width) * height * 3);
    std::uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            seed = seed * 1103515245u + 12345u;
            int noise = static_cast<int>((seed >> 16) & 31) - 16;
            std::uint8_t* p = &img.Rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            int r = x * 255 / std::max(1, width - 1);
            int g = y * 255 / std::max(1, height - 1);
            int b = ((x / 8 + y / 8) % 2) ? 220 : 30;
            if (x > width / 2 && y > height / 2)
                r = 255 - r;
            p[0] = static_cast<std::uint8_t>(std::clamp(r + noise, 0, 255));
            p[1] = static_cast<std::uint8_t>(std::clamp(g - noise, 0, 255));
            p[2] = static_cast<std::uint8_t>(std::clamp(b + noise / 2, 0, 255));
        }
    }
    return img;
}

// Gentle gradients only: what survives a JPEG round trip almost unchanged.
RgbImage MakeSmooth(int width, int height)
{
    RgbImage img;
    img.Width = width;
    img.Height = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            img.Rgb.push_back(static_cast<std::uint8_t>(40 + x * 150 / width));
            img.Rgb.push_back(static_cast<std::uint8_t>(200 - y * 120 / height));
            img.Rgb.push_back(static_cast<std::uint8_t>(90 + (x + y) * 60 / (width + height)));
        }
    return img;
}

// The same picture as a 24-bit bitmap.
std::unique_ptr<TBitmap> ToBitmap(const RgbImage& img)
{
    auto bmp = std::make_unique<TBitmap>(img.Width, img.Height, pf24bit);
    for (int y = 0; y < img.Height; ++y) {
        std::uint8_t* row = bmp->ScanLine(y);
        for (int x = 0; x < img.Width; ++x) {
            const std::uint8_t* p = img.At(x, y);
            row[x * 3 + 0] = p[2];
            row[x * 3 + 1] = p[1];
            row[x * 3 + 2] = p[0];
        }
    }
    return bmp;
}

std::unique_ptr<TJPEGImage> LoadJpeg(const std::vector<std::uint8_t>& bytes)
{
    auto jpeg = std::make_unique<TJPEGImage>();
    TMemoryStream stream(bytes);
    jpeg->LoadFromStream(stream);
    return jpeg;
}

std::unique_ptr<TJPEGImage> LoadJpeg(const std::string& path) { return LoadJpeg(ReadFile(path)); }

std::vector<std::uint8_t> SaveJpeg(const TJPEGImage& jpeg)
{
    TMemoryStream stream;
    jpeg.SaveToStream(stream);
    return stream.Data();
}

void MustRun(const std::string& command)
{
    CommandResult r = testutil::Run(command);
    ASSERT_EQ(r.ExitCode, 0) << command << "\n" << r.Output;
}

// The reference decoding: djpeg's defaults are the accurate integer DCT,
// fancy upsampling and block smoothing, as ours. Exit code 2 means the
// file decoded with warnings. Grey output (PGM) is widened to RGB.
RgbImage Djpeg(const TempDir& dir, const std::string& jpegPath, const std::string& extra = "")
{
    std::string out = dir.File("djpeg.pnm");
    std::remove(out.c_str());
    bool grey = extra.find("-grayscale") != std::string::npos;
    CommandResult r = testutil::Run(Tool("djpeg") + " -dct int -pnm " + std::string(grey ? "" : "-rgb ") + extra + " -outfile " +
                                    Quote(out) + " " + Quote(jpegPath));
    EXPECT_TRUE(r.ExitCode == 0 || r.ExitCode == 2) << r.Output;
    if (!grey)
        return ReadPpm(out);
    std::vector<std::uint8_t> pgm = ReadFile(out);
    int w = 0, h = 0, maxval = 0, used = 0;
    if (pgm.size() < 2 || pgm[0] != 'P' || pgm[1] != '5' ||
        std::sscanf(reinterpret_cast<const char*>(pgm.data()) + 2, "%d %d %d%n", &w, &h, &maxval, &used) != 3) {
        ADD_FAILURE() << "djpeg gave no PGM";
        return {};
    }
    std::size_t start = 2 + static_cast<std::size_t>(used) + 1;
    RgbImage img;
    img.Width = w;
    img.Height = h;
    for (std::size_t i = start; i < pgm.size(); ++i)
        img.Rgb.insert(img.Rgb.end(), 3, pgm[i]);
    EXPECT_EQ(img.Rgb.size(), static_cast<std::size_t>(w) * h * 3);
    return img;
}

// Mean absolute difference of all channels: how close a lossy copy is.
double MeanDifference(const RgbImage& a, const RgbImage& b)
{
    if (a.Width != b.Width || a.Height != b.Height || a.Rgb.empty())
        return 1e9;
    double sum = 0;
    for (std::size_t i = 0; i < a.Rgb.size(); ++i)
        sum += std::abs(int(a.Rgb[i]) - int(b.Rgb[i]));
    return sum / static_cast<double>(a.Rgb.size());
}

RgbImage Decode(const TJPEGImage& jpeg) { return FromBitmap(jpeg.Bitmap()); }

std::vector<std::uint8_t> Cjpeg(const TempDir& dir, const std::string& ppmPath, const std::string& options)
{
    std::string out = dir.File("cjpeg.jpg");
    std::remove(out.c_str());
    CommandResult r = testutil::Run(Tool("cjpeg") + " " + options + " -outfile " + Quote(out) + " " + Quote(ppmPath));
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    return ReadFile(out);
}

// Every quantisation table of the file (DQT segments) with its precision.
struct QuantTable {
    int Precision = 0; // 0: 8-bit entries, 1: 16-bit entries
    std::vector<int> Values;
};

std::vector<QuantTable> QuantTables(const std::vector<std::uint8_t>& d)
{
    std::vector<QuantTable> tables;
    std::size_t pos = 2;
    while (pos + 4 <= d.size() && d[pos] == 0xFF) {
        int marker = d[pos + 1];
        std::size_t len = static_cast<std::size_t>(d[pos + 2]) << 8 | d[pos + 3];
        if (marker == 0xDA)
            break;
        if (marker == 0xDB) {
            std::size_t p = pos + 4;
            std::size_t end = pos + 2 + len;
            while (p < end && p < d.size()) {
                QuantTable t;
                t.Precision = d[p] >> 4;
                ++p;
                for (int i = 0; i < 64 && p < d.size(); ++i) {
                    if (t.Precision) {
                        t.Values.push_back(d[p] << 8 | d[p + 1]);
                        p += 2;
                    } else {
                        t.Values.push_back(d[p++]);
                    }
                }
                tables.push_back(t);
            }
        }
        pos += 2 + len;
    }
    return tables;
}

// The SOFn marker code of the file (0xC0 baseline, 0xC2 progressive...).
int FrameMarker(const std::vector<std::uint8_t>& d)
{
    std::size_t pos = 2;
    while (pos + 4 <= d.size() && d[pos] == 0xFF) {
        int marker = d[pos + 1];
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
            return marker;
        pos += 2 + (static_cast<std::size_t>(d[pos + 2]) << 8 | d[pos + 3]);
    }
    return -1;
}

// Offset of the SOFn segment's marker.
std::size_t FrameOffset(const std::vector<std::uint8_t>& d)
{
    std::size_t pos = 2;
    while (pos + 4 <= d.size() && d[pos] == 0xFF) {
        int marker = d[pos + 1];
        if (marker == 0xC0 || marker == 0xC2)
            return pos;
        pos += 2 + (static_cast<std::size_t>(d[pos + 2]) << 8 | d[pos + 3]);
    }
    return 0;
}

// The file with its last scan (the tables before it, its header and its
// data) repeated `times` times in all. libjpeg takes a repeated scan with
// a warning at most, so this is how a file of thousands of scans looks.
std::vector<std::uint8_t> RepeatLastScan(const std::vector<std::uint8_t>& d, int times)
{
    std::size_t pos = 2, groupStart = 2, lastGroup = 0, eoi = 0;
    while (pos + 2 <= d.size()) {
        if (d[pos] != 0xFF) {
            ADD_FAILURE() << "no marker at " << pos;
            return {};
        }
        int marker = d[pos + 1];
        if (marker == 0xD9) {
            eoi = pos;
            break;
        }
        std::size_t len = static_cast<std::size_t>(d[pos + 2]) << 8 | d[pos + 3];
        pos += 2 + len;
        if (marker == 0xDA) {
            lastGroup = groupStart;
            // Entropy-coded data runs to the next marker that is neither a
            // stuffed zero nor a restart marker.
            while (pos + 1 < d.size() &&
                   !(d[pos] == 0xFF && d[pos + 1] != 0 && (d[pos + 1] < 0xD0 || d[pos + 1] > 0xD7)))
                ++pos;
            groupStart = pos;
        }
    }
    std::vector<std::uint8_t> out(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(eoi));
    for (int i = 1; i < times; ++i)
        out.insert(out.end(), d.begin() + static_cast<std::ptrdiff_t>(lastGroup),
                   d.begin() + static_cast<std::ptrdiff_t>(eoi));
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

// The file without its Adobe segments (APP14 holding "Adobe"), as a JFIF
// writer of an older library leaves a four-component file.
std::vector<std::uint8_t> WithoutAdobeSegment(const std::vector<std::uint8_t>& d)
{
    std::vector<std::uint8_t> out(d.begin(), d.begin() + 2);
    std::size_t pos = 2;
    while (pos + 4 <= d.size() && d[pos] == 0xFF && d[pos + 1] != 0xDA) {
        const std::size_t end = pos + 2 + (static_cast<std::size_t>(d[pos + 2]) << 8 | d[pos + 3]);
        const bool adobe = d[pos + 1] == 0xEE && end <= d.size() && end - pos >= 9 &&
                           std::string(d.begin() + static_cast<std::ptrdiff_t>(pos + 4),
                                       d.begin() + static_cast<std::ptrdiff_t>(pos + 9)) == "Adobe";
        if (!adobe)
            out.insert(out.end(), d.begin() + static_cast<std::ptrdiff_t>(pos),
                       d.begin() + static_cast<std::ptrdiff_t>(std::min(end, d.size())));
        pos = end;
    }
    if (pos < d.size())
        out.insert(out.end(), d.begin() + static_cast<std::ptrdiff_t>(pos), d.end());
    return out;
}

class JpegTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = MakePattern(61, 45);
        sourcePpm = dir.File("source.ppm");
        WritePpm(sourcePpm, source);
    }
    TempDir dir;
    RgbImage source;
    std::string sourcePpm;
};

} // namespace

// ---------------------------------------------------------------------------
// Decoding

TEST_F(JpegTest, DecodingMatchesDjpegBitForBit)
{
    RgbImage big = MakePattern(333, 211);
    std::string bigPpm = dir.File("big.ppm");
    WritePpm(bigPpm, big);
    const char* variants[] = {
        "-quality 90",                   // baseline 4:2:0
        "-quality 75 -sample 1x1",       // 4:4:4
        "-quality 80 -sample 2x1",       // 4:2:2
        "-quality 70 -progressive",      // progressive 4:2:0
        "-quality 95 -progressive -sample 1x1",
        "-quality 85 -grayscale",        // one component
        "-quality 85 -grayscale -progressive",
        "-quality 60 -restart 1",        // restart markers every MCU row
        "-quality 60 -restart 3B",       // and every three MCUs
        "-quality 90 -rgb",              // RGB components, no colour transform
        "-quality 90 -arithmetic",
        "-quality 30 -optimize",
    };
    for (const std::string& ppm : {sourcePpm, bigPpm}) {
        for (const char* options : variants) {
            SCOPED_TRACE(ppm + " " + options);
            std::string file = dir.File("in.jpg");
            MustRun(Tool("cjpeg") + " " + std::string(options) + " -outfile " + Quote(file) + " " + Quote(ppm));
            auto jpeg = LoadJpeg(file);
            const RgbImage& ref = ppm == sourcePpm ? source : big;
            // The header gives the size before any decoding.
            EXPECT_EQ(jpeg->Width(), ref.Width);
            EXPECT_EQ(jpeg->Height(), ref.Height);
            bool grey = std::string(options).find("grayscale") != std::string::npos;
            EXPECT_EQ(jpeg->Bitmap().PixelFormat(), grey ? pf8bit : pf24bit);
            EXPECT_EQ(MaxDifference(Decode(*jpeg), Djpeg(dir, file)), 0);
        }
    }
}

TEST_F(JpegTest, FilesOfImageMagickAndPilDecodeLikeDjpeg)
{
    (void)PythonWithPil();
    struct Case {
        std::string Name;
        std::string Command;
    };
    std::string out = dir.File("other.jpg");
    std::vector<Case> cases = {
        {"magick q92", Tool("convert") + " " + Quote(sourcePpm) + " -quality 92 " + Quote(out)},
        {"magick progressive", Tool("convert") + " " + Quote(sourcePpm) + " -interlace JPEG -quality 50 " + Quote(out)},
        {"magick grey", Tool("convert") + " " + Quote(sourcePpm) + " -colorspace Gray -quality 80 " + Quote(out)},
        {"pil 4:4:4", PythonWithPil() + " -c \"from PIL import Image; Image.open('" + sourcePpm + "').save('" + out +
                          "', quality=88, subsampling=0)\""},
        {"pil progressive", PythonWithPil() + " -c \"from PIL import Image; Image.open('" + sourcePpm + "').save('" + out +
                                "', quality=40, progressive=True, optimize=True)\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        MustRun(c.Command);
        auto jpeg = LoadJpeg(out);
        EXPECT_EQ(MaxDifference(Decode(*jpeg), Djpeg(dir, out)), 0);
    }
}

TEST_F(JpegTest, GreyFilesGiveEightBitBitmapsWithGreyPalette)
{
    std::string file = dir.File("grey.jpg");
    MustRun(Tool("cjpeg") + " -grayscale -quality 90 -outfile " + Quote(file) + " " + Quote(sourcePpm));
    auto jpeg = LoadJpeg(file);
    const TBitmap& bmp = jpeg->Bitmap();
    ASSERT_EQ(bmp.PixelFormat(), pf8bit);
    TPalette pal = bmp.GetPalette();
    ASSERT_EQ(pal.size(), 256u);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(pal[static_cast<std::size_t>(i)].Color(), RGB(i, i, i));
    EXPECT_EQ(jpeg->GetPalette().size(), 256u);

    // Grey decoding of a colour file: the luminance, as djpeg -grayscale.
    std::string colour = dir.File("colour.jpg");
    MustRun(Tool("cjpeg") + " -quality 90 -outfile " + Quote(colour) + " " + Quote(sourcePpm));
    auto jc = LoadJpeg(colour);
    EXPECT_EQ(jc->Bitmap().PixelFormat(), pf24bit);
    jc->SetGrayscale(true);
    EXPECT_EQ(jc->Bitmap().PixelFormat(), pf8bit);
    EXPECT_EQ(MaxDifference(Decode(*jc), Djpeg(dir, colour, "-grayscale")), 0);
    jc->SetGrayscale(false);
    EXPECT_EQ(MaxDifference(Decode(*jc), Djpeg(dir, colour)), 0);
}

TEST_F(JpegTest, TruncatedFilesDecodeWithGreyRemainder)
{
    RgbImage big = MakePattern(160, 128);
    std::string bigPpm = dir.File("big.ppm");
    WritePpm(bigPpm, big);
    for (const char* options : {"-quality 90", "-quality 90 -progressive"}) {
        SCOPED_TRACE(options);
        std::string file = dir.File("full.jpg");
        MustRun(Tool("cjpeg") + " " + std::string(options) + " -outfile " + Quote(file) + " " + Quote(bigPpm));
        std::vector<std::uint8_t> bytes = ReadFile(file);
        bytes.resize(bytes.size() * 45 / 100);
        std::string cut = dir.File("cut.jpg");
        WriteFile(cut, bytes);

        std::unique_ptr<TJPEGImage> jpeg;
        ASSERT_NO_THROW(jpeg = LoadJpeg(bytes));
        RgbImage ours;
        ASSERT_NO_THROW(ours = Decode(*jpeg));
        EXPECT_EQ(MaxDifference(ours, Djpeg(dir, cut)), 0);
        if (std::string(options).find("progressive") == std::string::npos) {
            // The rows after the end of the data are mid grey.
            for (int x = 0; x < ours.Width; ++x)
                for (int c = 0; c < 3; ++c)
                    ASSERT_EQ(ours.At(x, ours.Height - 1)[c], 128) << x;
        } else {
            // Block smoothing fills the missing detail of a partial
            // progressive picture; without it the picture is blockier.
            jpeg->SetSmoothing(false);
            EXPECT_GT(MaxDifference(Decode(*jpeg), ours), 0);
            jpeg->SetSmoothing(true);
            EXPECT_EQ(MaxDifference(Decode(*jpeg), ours), 0);
        }
        // The kept bytes are saved as they came.
        EXPECT_EQ(SaveJpeg(*jpeg), bytes);
    }
}

TEST_F(JpegTest, CmykAndYcckFilesConvertToRgb)
{
    (void)PythonWithPil();
    // ImageMagick writes Adobe YCCK; its own decoding is the reference.
    std::string ycck = dir.File("ycck.jpg");
    MustRun(Tool("convert") + " " + Quote(sourcePpm) + " -colorspace CMYK -quality 98 " + Quote(ycck));
    std::string magickRgb = dir.File("magick.ppm");
    MustRun(Tool("convert") + " " + Quote(ycck) + " -colorspace sRGB " + Quote(magickRgb));
    auto jy = LoadJpeg(ycck);
    EXPECT_EQ(jy->Bitmap().PixelFormat(), pf24bit);
    EXPECT_LE(MaxDifference(Decode(*jy), ReadPpm(magickRgb)), 2);
    EXPECT_LT(MeanDifference(Decode(*jy), source), 6); // and it is the picture

    // PIL writes Adobe CMYK without transform; PIL's conversion is the reference.
    std::string cmyk = dir.File("cmyk.jpg");
    std::string pilRgb = dir.File("pil.ppm");
    MustRun(PythonWithPil() + " -c \"from PIL import Image\n"
                     "im = Image.open('" + sourcePpm + "')\n"
                     "def ink(p):\n"
                     "    m = max(p)\n"
                     "    return (0, 0, 0, 255) if m == 0 else tuple(255 - v * 255 // m for v in p) + (255 - m,)\n"
                     "c = Image.new('CMYK', im.size)\n"
                     "c.putdata([ink(p) for p in im.getdata()])\n"
                     "c.save('" + cmyk + "', quality=98)\n"
                     "Image.open('" + cmyk + "').convert('RGB').save('" + pilRgb + "')\"");
    auto jc = LoadJpeg(cmyk);
    EXPECT_LE(MaxDifference(Decode(*jc), ReadPpm(pilRgb)), 1);
    EXPECT_LT(MeanDifference(Decode(*jc), source), 3);

    // Grey decoding of CMYK goes through the RGB colours.
    jc->SetGrayscale(true);
    EXPECT_EQ(jc->Bitmap().PixelFormat(), pf8bit);
    RgbImage grey = Decode(*jc);
    RgbImage rgb = ReadPpm(pilRgb);
    int worst = 0;
    for (int y = 0; y < grey.Height; ++y)
        for (int x = 0; x < grey.Width; ++x) {
            const std::uint8_t* p = rgb.At(x, y);
            int lum = (19595 * p[0] + 38470 * p[1] + 7471 * p[2] + 32768) >> 16;
            worst = std::max(worst, std::abs(lum - grey.At(x, y)[0]));
        }
    EXPECT_LE(worst, 1);
}

TEST_F(JpegTest, CmykWithoutAdobesMarkerReadsAsAdobesInvertedInks)
{
    const std::string pil = PythonWithPil();
    // PIL writes Adobe CMYK (transform 0); the same file without the marker
    // is what an older JFIF writer leaves. ImageMagick writes Adobe YCCK
    // (transform 2). PIL reads all three as Adobe's inverted inks.
    const std::string cmyk = dir.File("cmyk.jpg");
    MustRun(pil + " -c \"from PIL import Image; Image.open('" + sourcePpm + "').convert('CMYK').save('" + cmyk +
            "', quality=98)\"");
    const std::vector<std::uint8_t> marked = ReadFile(cmyk);
    const std::vector<std::uint8_t> bare = WithoutAdobeSegment(marked);
    ASSERT_EQ(bare.size() + 16, marked.size()); // the 14-byte segment and its marker
    const std::string noMarker = dir.File("bare.jpg");
    WriteFile(noMarker, bare);
    const std::string ycck = dir.File("ycck.jpg");
    MustRun(Tool("convert") + " " + Quote(sourcePpm) + " -colorspace CMYK -quality 98 " + Quote(ycck));
    ASSERT_EQ(WithoutAdobeSegment(ReadFile(ycck)).size() + 16, ReadFile(ycck).size());

    for (const std::string& file : {noMarker, cmyk, ycck}) {
        SCOPED_TRACE(file);
        const std::string pilRgb = dir.File("pil.ppm");
        MustRun(pil + " -c \"from PIL import Image; Image.open('" + file + "').convert('RGB').save('" + pilRgb + "')\"");
        const RgbImage theirs = ReadPpm(pilRgb);
        const RgbImage ours = Decode(*LoadJpeg(file));
        ASSERT_EQ(ours.Width, theirs.Width);
        ASSERT_EQ(ours.Height, theirs.Height);
        EXPECT_LE(MaxDifference(ours, theirs), 1);
        EXPECT_LT(MeanDifference(ours, source), 6); // and it is the picture
    }
}

TEST_F(JpegTest, YcckWithChosenInksDecodesLikeCmyk)
{
    // The same inks, Adobe-inverted, written once as CMYK and once as YCCK.
    const int w = 40, h = 24;
    std::vector<std::uint8_t> inks(static_cast<std::size_t>(w) * h * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            std::uint8_t* p = &inks[(static_cast<std::size_t>(y) * w + x) * 4];
            p[0] = static_cast<std::uint8_t>(255 - x * 6);
            p[1] = static_cast<std::uint8_t>(255 - y * 10);
            p[2] = static_cast<std::uint8_t>(200);
            p[3] = static_cast<std::uint8_t>(255 - (x + y) * 3);
        }
    auto write = [&](J_COLOR_SPACE space) {
        jpeg_compress_struct c{};
        jpeg_error_mgr err{};
        c.err = jpeg_std_error(&err);
        jpeg_create_compress(&c);
        unsigned char* buf = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest(&c, &buf, &size);
        c.image_width = w;
        c.image_height = h;
        c.input_components = 4;
        c.in_color_space = JCS_CMYK;
        jpeg_set_defaults(&c);
        jpeg_set_colorspace(&c, space);
        jpeg_set_quality(&c, 100, TRUE);
        jpeg_start_compress(&c, TRUE);
        for (int y = 0; y < h; ++y) {
            JSAMPROW row = &inks[static_cast<std::size_t>(y) * w * 4];
            jpeg_write_scanlines(&c, &row, 1);
        }
        jpeg_finish_compress(&c);
        std::vector<std::uint8_t> bytes(buf, buf + size);
        jpeg_destroy_compress(&c);
        free(buf);
        return bytes;
    };
    RgbImage fromCmyk = Decode(*LoadJpeg(write(JCS_CMYK)));
    RgbImage fromYcck = Decode(*LoadJpeg(write(JCS_YCCK)));
    EXPECT_LE(MaxDifference(fromCmyk, fromYcck), 6);
    // Light = inverted ink of the colour times inverted black.
    const std::uint8_t* p = &inks[0];
    EXPECT_NEAR(fromCmyk.At(0, 0)[0], p[0] * p[3] / 255, 2);
    EXPECT_NEAR(fromCmyk.At(0, 0)[2], p[2] * p[3] / 255, 2);
}

// ---------------------------------------------------------------------------
// Encoding

TEST_F(JpegTest, EncodingEqualsCjpegAndOthersDecodeIt)
{
    (void)PythonWithPil();
    auto bmp = ToBitmap(source);
    double lastError = 1e9;
    for (int quality : {1, 50, 85, 100}) {
        SCOPED_TRACE("quality " + std::to_string(quality));
        TJPEGImage jpeg;
        jpeg.Assign(*bmp);
        jpeg.SetCompressionQuality(quality);
        std::string file = dir.File("ours.jpg");
        jpeg.SaveToFile(file);
        std::vector<std::uint8_t> ours = ReadFile(file);

        std::vector<std::uint8_t> ref =
            Cjpeg(dir, sourcePpm, "-quality " + std::to_string(quality) + " -baseline -dct int");
        EXPECT_EQ(ours, ref);

        // Baseline: SOF0 and 8-bit tables only, even at quality 1.
        EXPECT_EQ(FrameMarker(ours), 0xC0);
        auto tables = QuantTables(ours);
        ASSERT_EQ(tables.size(), 2u);
        for (const QuantTable& t : tables) {
            EXPECT_EQ(t.Precision, 0);
            EXPECT_LE(*std::max_element(t.Values.begin(), t.Values.end()), 255);
        }
        CommandResult pilTables =
            testutil::Run(PythonWithPil() + " -c \"from PIL import Image; q = Image.open('" + file +
                "').quantization; print(max(max(t) for t in q.values()))\"");
        ASSERT_EQ(pilTables.ExitCode, 0) << pilTables.Output;
        EXPECT_LE(std::stoi(pilTables.Output), 255);

        // djpeg, ImageMagick and PIL read it; djpeg agrees with us exactly.
        RgbImage decoded = Djpeg(dir, file);
        EXPECT_EQ(MaxDifference(decoded, Decode(*LoadJpeg(ours))), 0);
        std::string magick = dir.File("magick.ppm");
        MustRun(Tool("convert") + " " + Quote(file) + " " + Quote(magick));
        EXPECT_LE(MaxDifference(ReadPpm(magick), decoded), 1);
        std::string pil = dir.File("pil.ppm");
        MustRun(PythonWithPil() + " -c \"from PIL import Image; Image.open('" + file + "').convert('RGB').save('" + pil +
                "')\"");
        EXPECT_LE(MaxDifference(ReadPpm(pil), decoded), 1);
        // Each step up in quality brings the picture closer.
        double error = MeanDifference(decoded, source);
        EXPECT_LT(error, lastError);
        lastError = error;
    }
}

TEST_F(JpegTest, QualityIsClampedToOneToHundred)
{
    TJPEGImage jpeg;
    EXPECT_EQ(jpeg.CompressionQuality(), 90);
    auto bmp = ToBitmap(source);
    jpeg.Assign(*bmp);
    jpeg.SetCompressionQuality(1);
    std::vector<std::uint8_t> q1 = SaveJpeg(jpeg);
    jpeg.SetCompressionQuality(0);
    EXPECT_EQ(jpeg.CompressionQuality(), 1);
    EXPECT_EQ(SaveJpeg(jpeg), q1);
    jpeg.SetCompressionQuality(-7);
    EXPECT_EQ(jpeg.CompressionQuality(), 1);
    jpeg.SetCompressionQuality(100);
    std::vector<std::uint8_t> q100 = SaveJpeg(jpeg);
    EXPECT_NE(q100, q1);
    jpeg.SetCompressionQuality(255);
    EXPECT_EQ(jpeg.CompressionQuality(), 100);
    EXPECT_EQ(SaveJpeg(jpeg), q100);
}

TEST_F(JpegTest, ProgressiveAndGreyEncodingEqualCjpeg)
{
    auto bmp = ToBitmap(source);
    TJPEGImage jpeg;
    jpeg.Assign(*bmp);
    jpeg.SetCompressionQuality(75);
    jpeg.SetProgressiveEncoding(true);
    std::vector<std::uint8_t> progressive = SaveJpeg(jpeg);
    EXPECT_EQ(FrameMarker(progressive), 0xC2);
    EXPECT_EQ(progressive, Cjpeg(dir, sourcePpm, "-quality 75 -baseline -dct int -progressive"));

    jpeg.SetProgressiveEncoding(false);
    jpeg.SetGrayscale(true);
    std::vector<std::uint8_t> grey = SaveJpeg(jpeg);
    EXPECT_EQ(grey, Cjpeg(dir, sourcePpm, "-quality 75 -baseline -dct int -grayscale"));
    // The assigned bitmap stays in colour; only its compression is grey.
    EXPECT_EQ(jpeg.Bitmap().PixelFormat(), pf24bit);
    EXPECT_EQ(LoadJpeg(grey)->Bitmap().PixelFormat(), pf8bit);
}

TEST_F(JpegTest, BitmapsOfOtherFormatsAreEncodedFromTheir24BitColours)
{
    // An 8-bit bitmap with a colour palette and a 32-bit one.
    TBitmap pal8(50, 30, pf8bit);
    TPalette pal(256);
    for (int i = 0; i < 256; ++i)
        pal[static_cast<std::size_t>(i)] = TPaletteEntry{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                                                         static_cast<std::uint8_t>(i / 2), 0};
    pal8.SetPalette(pal);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 50; ++x)
            pal8.ScanLine(y)[x] = static_cast<std::uint8_t>(x * 3 + y * 2);

    auto bgr = ToBitmap(MakeSmooth(50, 30));
    TBitmap bgrx;
    bgrx.Assign(*bgr);
    bgrx.SetPixelFormat(pf32bit);

    // A grey-ramp 8-bit bitmap is taken as colours too.
    TBitmap grey8(50, 30, pf8bit);
    TPalette ramp(256);
    for (int i = 0; i < 256; ++i)
        ramp[static_cast<std::size_t>(i)] = TPaletteEntry::FromColor(RGB(i, i, i));
    grey8.SetPalette(ramp);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 50; ++x)
            grey8.ScanLine(y)[x] = static_cast<std::uint8_t>(x * 5);

    for (const TBitmap* bmp : {&pal8, &bgrx, &grey8}) {
        SCOPED_TRACE(bmp->BitsPerPixel());
        TJPEGImage jpeg;
        jpeg.Assign(*bmp);
        EXPECT_EQ(jpeg.Bitmap().PixelFormat(), pf24bit);
        jpeg.SetCompressionQuality(100);
        std::string ppm = dir.File("colours.ppm");
        WritePpm(ppm, FromBitmap(*bmp));
        EXPECT_EQ(SaveJpeg(jpeg), Cjpeg(dir, ppm, "-quality 100 -baseline -dct int"));
        // And back to a bitmap.
        TBitmap back;
        back.Assign(*LoadJpeg(SaveJpeg(jpeg)));
        EXPECT_EQ(back.Width(), 50);
        EXPECT_EQ(back.Height(), 30);
        EXPECT_LT(MeanDifference(FromBitmap(back), FromBitmap(*bmp)), 1.5);
    }
    // The source bitmap is left as it was.
    EXPECT_EQ(pal8.PixelFormat(), pf8bit);
    EXPECT_EQ(bgrx.PixelFormat(), pf32bit);
}

// ---------------------------------------------------------------------------
// Kept bytes, copies and drawing

TEST_F(JpegTest, LoadedBytesAreSavedUnchangedUntilCompressed)
{
    std::string file = dir.File("photo.jpg");
    MustRun(Tool("cjpeg") + " -quality 93 -progressive -outfile " + Quote(file) + " " + Quote(sourcePpm));
    std::vector<std::uint8_t> original = ReadFile(file);

    // The stream's position is where the picture starts.
    std::vector<std::uint8_t> prefixed = {'x', 'y', 'z'};
    prefixed.insert(prefixed.end(), original.begin(), original.end());
    TMemoryStream stream(prefixed);
    stream.SetPosition(3);
    TJPEGImage jpeg;
    jpeg.LoadFromStream(stream);
    EXPECT_EQ(jpeg.Data(), original);

    jpeg.SetCompressionQuality(20);
    EXPECT_EQ(SaveJpeg(jpeg), original);

    // Compress encodes the decoded pixels at the current quality.
    RgbImage decoded = Djpeg(dir, file);
    std::string decodedPpm = dir.File("decoded.ppm");
    WritePpm(decodedPpm, decoded);
    jpeg.Compress();
    EXPECT_EQ(SaveJpeg(jpeg), Cjpeg(dir, decodedPpm, "-quality 20 -baseline -dct int"));
    EXPECT_EQ(MaxDifference(Decode(jpeg), decoded), 0);

    // A copy saves the same bytes and shows the same pixels.
    TJPEGImage copy;
    copy.Assign(jpeg);
    EXPECT_EQ(SaveJpeg(copy), SaveJpeg(jpeg));
    EXPECT_EQ(MaxDifference(Decode(copy), decoded), 0);
}

TEST_F(JpegTest, AnAssignedBitmapIsCompressedWithTheCurrentQuality)
{
    auto bmp = ToBitmap(source);
    TJPEGImage jpeg;
    jpeg.Assign(*bmp);
    jpeg.SetCompressionQuality(50);
    EXPECT_EQ(SaveJpeg(jpeg), Cjpeg(dir, sourcePpm, "-quality 50 -baseline -dct int"));
    jpeg.SetCompressionQuality(85);
    EXPECT_EQ(SaveJpeg(jpeg), Cjpeg(dir, sourcePpm, "-quality 85 -baseline -dct int"));
    // The bitmap is a copy: changing the source afterwards changes nothing.
    std::vector<std::uint8_t> before = SaveJpeg(jpeg);
    bmp->ScanLine(0)[0] ^= 0xFF;
    jpeg.SetCompressionQuality(84);
    jpeg.SetCompressionQuality(85);
    EXPECT_EQ(SaveJpeg(jpeg), before);
    EXPECT_EQ(MaxDifference(Decode(jpeg), source), 0);

    // Assigning a bitmap drops the bytes of a loaded file.
    std::string file = dir.File("other.jpg");
    MustRun(Tool("cjpeg") + " -quality 10 -outfile " + Quote(file) + " " + Quote(sourcePpm));
    auto loaded = LoadJpeg(file);
    loaded->SetCompressionQuality(85);
    loaded->Assign(*ToBitmap(source));
    EXPECT_EQ(SaveJpeg(*loaded), before);
}

TEST_F(JpegTest, DrawAndAssignToGiveTheDecodedPixels)
{
    std::string file = dir.File("photo.jpg");
    MustRun(Tool("cjpeg") + " -quality 80 -outfile " + Quote(file) + " " + Quote(sourcePpm));
    auto jpeg = LoadJpeg(file);
    RgbImage ref = Djpeg(dir, file);

    TBitmap target(source.Width, source.Height, pf24bit);
    target.Canvas().Draw(0, 0, *jpeg);
    EXPECT_EQ(MaxDifference(FromBitmap(target), ref), 0);

    TBitmap doubled(source.Width * 2, source.Height * 2, pf24bit);
    doubled.Canvas().StretchDraw(Rect(0, 0, source.Width * 2, source.Height * 2), *jpeg);
    RgbImage d = FromBitmap(doubled);
    EXPECT_TRUE(std::equal(d.At(10, 8), d.At(10, 8) + 3, ref.At(5, 4)));

    TBitmap assigned;
    assigned.Assign(*jpeg);
    EXPECT_EQ(MaxDifference(FromBitmap(assigned), ref), 0);
}

TEST_F(JpegTest, OpensThroughThePictureRegistry)
{
    std::string file = dir.File("photo.jpg");
    MustRun(Tool("cjpeg") + " -quality 80 -outfile " + Quote(file) + " " + Quote(sourcePpm));
    DumpResult dump = PicDump(file);
    ASSERT_TRUE(dump.Ok) << dump.Error;
    EXPECT_EQ(MaxDifference(dump.Image, Djpeg(dir, file)), 0);
}

// ---------------------------------------------------------------------------
// Bad input

TEST_F(JpegTest, MalformedInputRaisesEInvalidGraphic)
{
    std::string file = dir.File("photo.jpg");
    MustRun(Tool("cjpeg") + " -quality 80 -outfile " + Quote(file) + " " + Quote(sourcePpm));
    std::vector<std::uint8_t> good = ReadFile(file);

    std::vector<std::uint8_t> garbage(4000);
    std::uint32_t seed = 99;
    for (auto& b : garbage) {
        seed = seed * 1664525u + 1013904223u;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    std::vector<std::uint8_t> soiThenGarbage = {0xFF, 0xD8};
    soiThenGarbage.insert(soiThenGarbage.end(), garbage.begin(), garbage.end());
    std::vector<std::uint8_t> headerOnly(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(FrameOffset(good)));
    const std::string png = "\x89PNG\r\n\x1a\n\0\0\0\rIHDR";
    std::vector<std::vector<std::uint8_t>> bad = {
        {}, garbage, soiThenGarbage, headerOnly, std::vector<std::uint8_t>(png.begin(), png.end()), {0xFF, 0xD8},
        // Found by fuzzing: a failed header read left libjpeg's object unreleased.
        {'('},
    };
    for (std::size_t i = 0; i < bad.size(); ++i) {
        SCOPED_TRACE(i);
        TJPEGImage jpeg;
        try {
            LoadJpeg(bad[i])->DIBNeeded();
            ADD_FAILURE() << "no exception";
        } catch (const EInvalidGraphic& e) {
            EXPECT_EQ(e.Message.rfind("Erreur JPEG: ", 0), 0u) << e.Message;
            EXPECT_GT(e.Message.size(), 14u);
        }
        // A failed load leaves the picture as it was.
        TMemoryStream goodStream(good);
        jpeg.LoadFromStream(goodStream);
        TMemoryStream s(bad[i]);
        EXPECT_THROW(jpeg.LoadFromStream(s), EInvalidGraphic);
        EXPECT_EQ(jpeg.Data(), good);
    }
}

TEST_F(JpegTest, AProgressiveCmykPictureAtThePixelBudgetStillDecodes)
{
    // The whole picture's coefficients are held at once: four components
    // unsubsampled, at exactly the budget, within libjpeg's memory cap.
    const std::string file = dir.File("cmyk.jpg");
    MustRun(Tool("convert") + " -size 1024x768 plasma:fractal -seed 3 -colorspace CMYK -sampling-factor 1x1 "
                              "-interlace JPEG -quality 90 " + Quote(file));
    auto jpeg = LoadJpeg(file);
    ASSERT_EQ(jpeg->Width(), 1024);
    ASSERT_EQ(jpeg->Height(), 768);
    const TPixelBudgetScope budget(1024 * 768);
    ASSERT_NO_THROW(jpeg->DIBNeeded());
    // The pixels are those ImageMagick decodes, within JPEG's colour rounding.
    const std::string ppm = dir.File("cmyk.ppm");
    MustRun(Tool("convert") + " " + Quote(file) + " -colorspace sRGB -depth 8 " + Quote("ppm:" + ppm));
    EXPECT_LE(MaxDifference(Decode(*jpeg), ReadPpm(ppm)), 3);
}

TEST_F(JpegTest, SizesBeyondThePixelBudgetAreRefusedFromTheHeader)
{
    std::string file = dir.File("photo.jpg");
    MustRun(Tool("cjpeg") + " -quality 80 -outfile " + Quote(file) + " " + Quote(sourcePpm));
    std::vector<std::uint8_t> bytes = ReadFile(file);
    std::size_t sof = FrameOffset(bytes);
    ASSERT_GT(sof, 0u);
    // SOF: marker, length, precision, height, width.
    bytes[sof + 5] = 60000 >> 8;
    bytes[sof + 6] = 60000 & 0xFF;
    bytes[sof + 7] = 60000 >> 8;
    bytes[sof + 8] = 60000 & 0xFF;
    EXPECT_THROW(LoadJpeg(bytes), EOutOfMemory);

    // The budget is read again when the pixels are decoded.
    auto jpeg = LoadJpeg(file);
    {
        const TPixelBudgetScope budget(100);
        EXPECT_THROW(jpeg->DIBNeeded(), EOutOfMemory);
    }
    EXPECT_NO_THROW(jpeg->DIBNeeded());
}

TEST_F(JpegTest, SizeCannotChangeAndEmptyPicturesDoNotSave)
{
    auto jpeg = LoadJpeg(Cjpeg(dir, sourcePpm, "-quality 50"));
    try {
        jpeg->SetWidth(10);
        ADD_FAILURE() << "no exception";
    } catch (const EInvalidGraphicOperation& e) {
        EXPECT_EQ(e.Message, "Impossible de modifier la taille d'une image JPEG");
    }
    EXPECT_THROW(jpeg->SetHeight(10), EInvalidGraphicOperation);
    EXPECT_EQ(jpeg->Width(), source.Width);

    TJPEGImage empty;
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(empty.Bitmap().Width(), 0);
    TMemoryStream out;
    EXPECT_THROW(empty.SaveToStream(out), EInvalidGraphic);
    EXPECT_EQ(out.Size(), 0);
}

TEST_F(JpegTest, PicturesLibjpegCannotWriteRaiseOnSave)
{
    // Wider than the format allows: the error comes from libjpeg, raised as ours.
    TBitmap wide(70000, 1, pf24bit);
    TJPEGImage jpeg;
    jpeg.Assign(wide);
    TMemoryStream out;
    try {
        jpeg.SaveToStream(out);
        ADD_FAILURE() << "no exception";
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message.rfind("Erreur JPEG: ", 0), 0u) << e.Message;
        EXPECT_NE(e.Message.find("65500"), std::string::npos) << e.Message;
    }
    EXPECT_EQ(out.Size(), 0);
    // The picture stays usable.
    jpeg.Assign(*ToBitmap(source));
    EXPECT_NO_THROW(jpeg.SaveToStream(out));
    EXPECT_GT(out.Size(), 0);
}

TEST_F(JpegTest, FilesOfThousandsOfScansAreRefused)
{
    // Each scan makes the decoder run over the whole picture: a small file
    // of many empty scans would keep it busy for minutes.
    std::vector<std::uint8_t> progressive = Cjpeg(dir, sourcePpm, "-quality 80 -progressive");
    std::vector<std::uint8_t> many = RepeatLastScan(progressive, 900);
    ASSERT_GT(many.size(), progressive.size() * 10);
    std::string file = dir.File("many.jpg");
    WriteFile(file, many);
    auto jpeg = LoadJpeg(many);
    EXPECT_EQ(MaxDifference(Decode(*jpeg), Djpeg(dir, file)), 0);

    auto tooMany = LoadJpeg(RepeatLastScan(progressive, 1100));
    try {
        tooMany->DIBNeeded();
        ADD_FAILURE() << "no exception";
    } catch (const EInvalidGraphic& e) {
        EXPECT_NE(e.Message.find("scans"), std::string::npos) << e.Message;
    }
}
