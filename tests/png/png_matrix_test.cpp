// Every colour type, bit depth and interlace, at sizes 1x1 to 9x9 and one
// larger, written by netpbm (pnmtopng), ImageMagick and PIL, decoded by us
// (in process and through picdump, as the editor opens files) and compared
// with each tool's own decode; the same files cut into 1-byte IDAT chunks;
// and our own output of every kind checked by pngcheck and decoded by PIL.

#include "PngTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>

using namespace pngtest;
using testutil::Quote;

namespace {

enum class Writer { Netpbm, Magick, Pil };

const char* WriterName(Writer w)
{
    switch (w) {
    case Writer::Netpbm:
        return "netpbm";
    case Writer::Magick:
        return "magick";
    default:
        return "pil";
    }
}

struct Kind {
    int ColorType;
    int Depth;
    bool Keyed; // one transparent colour (tRNS) instead of none
};

const Kind AllKinds[] = {
    {0, 1, false}, {0, 2, false}, {0, 4, false}, {0, 8, false}, {0, 16, false}, {2, 8, false},
    {2, 16, false}, {3, 1, false}, {3, 2, false}, {3, 4, false}, {3, 8, false}, {4, 8, false},
    {4, 16, false}, {6, 8, false}, {6, 16, false},
    // Colour keys.
    {0, 8, true},  {0, 16, true}, {0, 2, true}, {2, 8, true}, {2, 16, true}, {3, 2, true}, {3, 8, true},
};

struct Size {
    int W, H;
};
// The last size holds a photo-like picture (smooth shading with a fine
// texture) for which the writers choose the Sub, Up, Average and Paeth
// filters; the others hold noise, written mostly unfiltered.
const Size Sizes[] = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}, {9, 9}, {37, 23}, {64, 48}};
constexpr int PhotoWidth = 64;

// A photo-like 8-bit sample, in four bands of rows as photos have them:
// shading in both directions, a texture repeated down the rows, a soft ramp
// both ways, and shading down the rows only.
unsigned PhotoSample(int x, int y, int c, int w, int h)
{
    const int band = y * 4 / std::max(h, 1);
    double v;
    switch (band) {
    case 0:
        v = 128 + 70 * std::sin((x + 2 * c) / 6.0) * std::cos((y - c) / 4.5) + (x * 7 + y * 3 + c) % 5 - 2;
        break;
    case 1:
        v = 100 + (x * x * 13 + c * 31) % 97;
        break;
    case 2:
        v = 20 + 3 * x + 4 * y + c * 5 + (x * y) % 3;
        break;
    default:
        v = 30 + 4 * y + c * 9;
        break;
    }
    (void)w;
    return static_cast<unsigned>(std::clamp(static_cast<int>(v), 0, 255));
}

unsigned Hash(int x, int y, int c)
{
    unsigned h = static_cast<unsigned>(x) * 73856093u ^ static_cast<unsigned>(y) * 19349663u ^
                 static_cast<unsigned>(c + 1) * 83492791u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return h ^ (h >> 15);
}

TColor PaletteColour(int k)
{
    return RGB((k * 37 + 11) & 255, (k * 91 + 40) & 255, (k * 53 + 100) & 255);
}

// The picture a source describes: samples at the file's depth.
struct Source {
    int W = 0, H = 0;
    Kind K{};
    int Channels = 1;             // colour channels (1 grey, 3 RGB or palette colour)
    bool Alpha = false;           // an alpha sample follows
    std::vector<unsigned> Values; // per pixel: channels (+ alpha), at maxval
    unsigned Maxval = 255;
    unsigned Key = 0;             // the keyed grey value, or the keyed pixel's index
};

Source MakeSource(const Kind& k, const Size& s)
{
    Source src;
    src.W = s.W;
    src.H = s.H;
    src.K = k;
    const bool palette = k.ColorType == 3;
    src.Channels = (k.ColorType == 0 || k.ColorType == 4) ? 1 : 3;
    src.Alpha = k.ColorType == 4 || k.ColorType == 6 || (palette && k.Keyed);
    src.Maxval = palette ? 255 : (1u << k.Depth) - 1;
    // Room for a transparent entry beside the colours at 8 bits.
    const unsigned colours = palette ? std::min(1u << k.Depth, 200u) : 0;
    for (int y = 0; y < s.H; ++y)
        for (int x = 0; x < s.W; ++x) {
            if (palette) {
                const unsigned i = s.W == PhotoWidth ? (x / 4 + y / 6) % colours : Hash(x, y, 0) % colours;
                const TColor c = PaletteColour(static_cast<int>(i));
                src.Values.insert(src.Values.end(), {GetRValue(c), GetGValue(c), GetBValue(c)});
                if (k.Keyed)
                    src.Values.push_back(i == 1 ? 0 : 255);
                continue;
            }
            for (int c = 0; c < src.Channels + (src.Alpha ? 1 : 0); ++c) {
                unsigned v = Hash(x, y, c) % (src.Maxval + 1);
                if (s.W == PhotoWidth) {
                    const unsigned p = PhotoSample(x, y, c, s.W, s.H);
                    v = k.Depth == 16 ? std::min(p * 257 + static_cast<unsigned>((x + y) % 3), 65535u)
                                      : p * src.Maxval / 255;
                } else if (k.Depth == 16) { // a low byte that follows from the high one
                    v = (v & 0xFF00) | (((v >> 8) ^ 0x5A) & 0xFF);
                }
                if (c == src.Channels && (x + y) % 5 == 0)
                    v = (x % 2) ? src.Maxval : 0; // fully opaque and fully transparent ones too
                src.Values.push_back(v);
            }
        }
    if (k.Keyed && !palette) {
        // The colour of the middle pixel is the transparent one.
        const std::size_t mid = (static_cast<std::size_t>(s.H / 2) * s.W + s.W / 2) * src.Channels;
        src.Key = src.Values[mid];
    }
    return src;
}

void WriteNetpbm(const Source& src, const std::string& image, const std::string& alpha)
{
    const bool wide = src.Maxval > 255;
    std::ostringstream head;
    head << (src.Channels == 1 ? "P5" : "P6") << "\n" << src.W << " " << src.H << "\n" << src.Maxval << "\n";
    const std::string h = head.str();
    Bytes out(h.begin(), h.end());
    Bytes a;
    std::string ah = "P5\n" + std::to_string(src.W) + " " + std::to_string(src.H) + "\n" +
                     std::to_string(src.Maxval) + "\n";
    a.assign(ah.begin(), ah.end());
    const int per = src.Channels + (src.Alpha ? 1 : 0);
    for (std::size_t p = 0; p < static_cast<std::size_t>(src.W) * src.H; ++p) {
        for (int c = 0; c < per; ++c) {
            Bytes& to = c < src.Channels ? out : a;
            const unsigned v = src.Values[p * per + c];
            if (wide)
                to.push_back(static_cast<std::uint8_t>(v >> 8));
            to.push_back(static_cast<std::uint8_t>(v));
        }
    }
    testutil::WriteFile(image, out);
    if (src.Alpha)
        testutil::WriteFile(alpha, a);
}

void WritePam(const Source& src, const std::string& path)
{
    const int per = src.Channels + (src.Alpha ? 1 : 0);
    const char* tuple = per == 1 ? "GRAYSCALE" : per == 2 ? "GRAYSCALE_ALPHA" : per == 3 ? "RGB" : "RGB_ALPHA";
    std::string h = "P7\nWIDTH " + std::to_string(src.W) + "\nHEIGHT " + std::to_string(src.H) + "\nDEPTH " +
                    std::to_string(per) + "\nMAXVAL " + std::to_string(src.Maxval) + "\nTUPLTYPE " + tuple +
                    "\nENDHDR\n";
    Bytes out(h.begin(), h.end());
    for (unsigned v : src.Values) {
        if (src.Maxval > 255)
            out.push_back(static_cast<std::uint8_t>(v >> 8));
        out.push_back(static_cast<std::uint8_t>(v));
    }
    testutil::WriteFile(path, out);
}

// The netpbm colour of a sample value: 16-bit hex scaled back to maxval.
std::string NetpbmColour(const Source& src, unsigned v)
{
    char buf[64];
    if (src.Channels == 1) {
        const unsigned s = v * (65535 / src.Maxval);
        std::snprintf(buf, sizeof buf, "rgb:%04x/%04x/%04x", s, s, s);
    } else {
        std::snprintf(buf, sizeof buf, "rgb:%04x/%04x/%04x", 0u, 0u, 0u);
    }
    return buf;
}

const char* PilScript = R"PY(
import sys
from PIL import Image

def decode(path, out):
    im = Image.open(path)
    im.load()
    w, h = im.size
    if im.mode in ('I;16', 'I;16B', 'I;16L', 'I'):
        t = im.info.get('transparency')
        px = bytearray()
        for v in im.getdata():
            g = (v >> 8) & 255
            px += bytes((g, g, g, 0 if (t is not None and v == t) else 255))
    else:
        px = im.convert('RGBA').tobytes()
    with open(out, 'wb') as f:
        f.write(b'P7\nWIDTH %d\nHEIGHT %d\nDEPTH 4\nMAXVAL 255\nTUPLTYPE RGB_ALPHA\nENDHDR\n' % (w, h))
        f.write(px)

for line in open(sys.argv[1]):
    a = line.split()
    if not a:
        continue
    if a[0] == 'read':
        decode(a[1], a[2])
        continue
    _, mode, w, h, bits, trans, raw, pal, out = a
    im = Image.frombytes(mode, (int(w), int(h)), open(raw, 'rb').read())
    kw = {}
    if pal != '-':
        im.putpalette(list(open(pal, 'rb').read()))
    if bits != '-':
        kw['bits'] = int(bits)
    if trans != '-':
        t = [int(v) for v in trans.split(',')]
        kw['transparency'] = t[0] if len(t) == 1 else tuple(t)
    im.save(out, **kw)
)PY";

// The PIL mode for a kind, or "" when PIL cannot write it.
std::string PilMode(const Kind& k)
{
    switch (k.ColorType) {
    case 0:
        return k.Depth == 1 ? (k.Keyed ? "" : "1") : k.Depth == 8 ? "L" : (k.Depth == 16 && !k.Keyed) ? "I;16" : "";
    case 2:
        return k.Depth == 8 ? "RGB" : "";
    case 3:
        return "P";
    case 4:
        return k.Depth == 8 ? "LA" : "";
    case 6:
        return k.Depth == 8 ? "RGBA" : "";
    default:
        return "";
    }
}

// A PIL write job for the source (raw bytes in PIL's layout).
std::string PilJob(const Source& src, const std::string& base, const std::string& out)
{
    const std::string mode = PilMode(src.K);
    Bytes raw;
    std::string pal = "-", trans = "-", bits = "-";
    const std::size_t n = static_cast<std::size_t>(src.W) * src.H;
    if (mode == "1") {
        const std::size_t stride = (static_cast<std::size_t>(src.W) + 7) / 8;
        raw.assign(stride * src.H, 0);
        for (int y = 0; y < src.H; ++y)
            for (int x = 0; x < src.W; ++x)
                if (src.Values[static_cast<std::size_t>(y) * src.W + x])
                    raw[y * stride + x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    } else if (mode == "I;16") {
        for (unsigned v : src.Values) {
            raw.push_back(static_cast<std::uint8_t>(v));
            raw.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    } else if (mode == "P") {
        const int per = src.K.Keyed ? 4 : 3;
        std::vector<TColor> colours;
        for (int k = 0; k < (1 << src.K.Depth); ++k)
            colours.push_back(PaletteColour(k));
        Bytes paletteBytes;
        for (TColor c : colours)
            paletteBytes.insert(paletteBytes.end(), {GetRValue(c), GetGValue(c), GetBValue(c)});
        for (std::size_t p = 0; p < n; ++p) {
            const TColor c = RGB(static_cast<int>(src.Values[p * per]), static_cast<int>(src.Values[p * per + 1]),
                                 static_cast<int>(src.Values[p * per + 2]));
            raw.push_back(static_cast<std::uint8_t>(std::find(colours.begin(), colours.end(), c) - colours.begin()));
        }
        testutil::WriteFile(base + ".pal", paletteBytes);
        pal = base + ".pal";
        bits = std::to_string(src.K.Depth);
        if (src.K.Keyed)
            trans = "1";
    } else {
        for (unsigned v : src.Values)
            raw.push_back(static_cast<std::uint8_t>(v));
        if (src.K.Keyed)
            trans = src.Channels == 1 ? std::to_string(src.Key)
                                      : std::to_string(src.Values[0]) + "," + std::to_string(src.Values[1]) + "," +
                                            std::to_string(src.Values[2]);
    }
    testutil::WriteFile(base + ".raw", raw);
    return "write " + mode + " " + std::to_string(src.W) + " " + std::to_string(src.H) + " " + bits + " " + trans +
           " " + base + ".raw " + pal + " " + out + "\n";
}

struct Made {
    std::string Png;
    std::string Reference; // the tool's decode
    std::string ReferenceAlpha;
    bool Interlaced = false;
    Source Src;
};

class PngMatrix : public ::testing::TestWithParam<std::tuple<Writer, int>> {};

TEST_P(PngMatrix, DecodesLikeTheWriter)
{
    const Writer writer = std::get<0>(GetParam());
    const Kind kind = AllKinds[std::get<1>(GetParam())];
    testutil::TempDir dir;
    std::vector<Made> made;
    std::string script, pilJobs;
    int n = 0;
    for (bool interlaced : {false, true}) {
        if (interlaced && writer == Writer::Pil)
            continue;
        for (const Size& size : Sizes) {
            Made m;
            m.Src = MakeSource(kind, size);
            m.Interlaced = interlaced;
            const std::string base = dir.File("f" + std::to_string(n++));
            m.Png = base + ".png";
            m.Reference = base + ".ref.pam";
            const Source& src = m.Src;
            if (writer == Writer::Netpbm) {
                WriteNetpbm(src, base + ".pnm", base + ".alpha.pgm");
                std::string options = interlaced ? " -interlace" : "";
                if (kind.ColorType == 3) {
                    // The palette: the colours in the image, in first-use order.
                    std::vector<TColor> used;
                    for (std::size_t p = 0; p * 3 < src.Values.size(); ++p) {
                        const TColor c = RGB(static_cast<int>(src.Values[3 * p]),
                                             static_cast<int>(src.Values[3 * p + 1]),
                                             static_cast<int>(src.Values[3 * p + 2]));
                        if (std::find(used.begin(), used.end(), c) == used.end())
                            used.push_back(c);
                    }
                    std::string h = "P6\n" + std::to_string(used.size()) + " 1\n255\n";
                    Bytes pal(h.begin(), h.end());
                    for (TColor c : used)
                        pal.insert(pal.end(), {GetRValue(c), GetGValue(c), GetBValue(c)});
                    testutil::WriteFile(base + ".pal.ppm", pal);
                    options += " -palette=" + Quote(base + ".pal.ppm");
                } else {
                    options += " -force";
                    if (src.Alpha)
                        options += " -alpha=" + Quote(base + ".alpha.pgm");
                    if (kind.Keyed)
                        options += " -transparent=" +
                                   (src.Channels == 1 ? NetpbmColour(src, src.Key)
                                                      : [&] {
                                                            char buf[64];
                                                            const unsigned f = 65535 / src.Maxval;
                                                            std::snprintf(buf, sizeof buf, "rgb:%04x/%04x/%04x",
                                                                          src.Values[0] * f, src.Values[1] * f,
                                                                          src.Values[2] * f);
                                                            return std::string(buf);
                                                        }());
                }
                script += testutil::Tool("pnmtopng") + options + " " + Quote(base + ".pnm") + " > " + Quote(m.Png) + " 2>/dev/null\n";
                if (kind.Keyed && kind.ColorType == 2) {
                    // netpbm's own decoders (and PIL at 16 bits) ignore an
                    // RGB tRNS: ImageMagick reads these.
                    script += ImageMagick() + " " + Quote(m.Png) + " -depth 16 " + Quote("pam:" + m.Reference) + "\n";
                } else {
                    script += testutil::Tool("pngtopnm") + " " + Quote(m.Png) + " > " + Quote(base + ".ref.pnm") + "\n";
                    m.Reference = base + ".ref.pnm";
                }
                if (src.Alpha || (kind.Keyed && kind.ColorType != 2)) {
                    script += testutil::Tool("pngtopnm") + " -alpha " + Quote(m.Png) + " > " + Quote(base + ".ref.alpha.pgm") + "\n";
                    m.ReferenceAlpha = base + ".ref.alpha.pgm";
                }
            } else if (writer == Writer::Magick) {
                WritePam(src, base + ".pam");
                // With a colour type forced ImageMagick drops palette
                // transparency: keyed palettes take its own choice.
                std::string options = kind.Keyed ? std::string()
                                                 : " -define png:color-type=" + std::to_string(kind.ColorType) +
                                                       " -define png:bit-depth=" + std::to_string(kind.Depth);
                if (interlaced)
                    options += " -interlace PNG";
                script += ImageMagick() + " " + Quote(base + ".pam") + options + " " + Quote("png:" + m.Png) + "\n";
                script += ImageMagick() + " " + Quote(m.Png) + " -depth 16 " + Quote("pam:" + m.Reference) + "\n";
            } else {
                pilJobs += PilJob(src, base, m.Png);
                pilJobs += "read " + m.Png + " " + m.Reference + "\n";
            }
            made.push_back(std::move(m));
        }
    }
    if (!script.empty()) {
        testutil::WriteFile(dir.File("make.sh"), Bytes(script.begin(), script.end()));
        const auto r = testutil::Run("/bin/sh -e " + Quote(dir.File("make.sh")));
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
    }
    if (!pilJobs.empty()) {
        testutil::WriteFile(dir.File("pil.py"), Bytes(PilScript, PilScript + std::strlen(PilScript)));
        testutil::WriteFile(dir.File("jobs.txt"), Bytes(pilJobs.begin(), pilJobs.end()));
        const auto r = testutil::Run(Python() + " " + Quote(dir.File("pil.py")) + " " + Quote(dir.File("jobs.txt")));
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
    }

    for (const Made& m : made) {
        SCOPED_TRACE(m.Png + " " + std::to_string(m.Src.W) + "x" + std::to_string(m.Src.H) +
                     (m.Interlaced ? " interlaced" : ""));
        const Bytes file = testutil::ReadFile(m.Png);
        ASSERT_GT(file.size(), 33u);
        const auto chunks = ParseChunks(file);
        ASSERT_EQ(chunks[0].Type, "IHDR");
        const int type = chunks[0].Data[9], depth = chunks[0].Data[8], interlace = chunks[0].Data[12];
        // The writers must have made the kind asked for (a palette written
        // by netpbm takes the depth its colours need).
        EXPECT_EQ(type, kind.ColorType);
        // Palettes written by netpbm and ImageMagick take the depth they
        // choose; PIL writes each palette depth as asked.
        if (kind.ColorType != 3 || writer == Writer::Pil) {
            EXPECT_EQ(depth, kind.Depth);
        }
        EXPECT_EQ(interlace, m.Interlaced ? 1 : 0);
        bool hasTrns = false;
        for (const auto& c : chunks)
            hasTrns = hasTrns || c.Type == "tRNS";
        bool anyKeyed = !kind.Keyed || writer != Writer::Magick;
        for (std::size_t p = 3; kind.Keyed && p < m.Src.Values.size(); p += 4)
            anyKeyed = anyKeyed || m.Src.Values[p] == 0;
        EXPECT_EQ(hasTrns, kind.Keyed && anyKeyed);

        Rgba reference;
        ASSERT_TRUE(ReadPnm(m.Reference, reference, m.ReferenceAlpha)) << m.Reference;
        const auto onWhite = Composite(reference, clWhite);
        const auto onBlack = Composite(reference, clBlack);
        auto png = Load(file);
        EXPECT_EQ(testutil::MaxDifference(DrawOn(*png, clWhite), onWhite), 0);
        EXPECT_EQ(testutil::MaxDifference(DrawOn(*png, clBlack), onBlack), 0);
        // The same data in 1-byte IDAT chunks.
        auto split = Load(Rechunk(file, 1));
        EXPECT_EQ(testutil::MaxDifference(DrawOn(*split, clBlack), onBlack), 0);
        // As the editor opens it.
        const auto dumped = testutil::PicDump(m.Png);
        ASSERT_TRUE(dumped.Ok) << dumped.Error;
        EXPECT_EQ(testutil::MaxDifference(dumped.Image, onWhite), 0);
    }
}

std::string MatrixName(const ::testing::TestParamInfo<std::tuple<Writer, int>>& info)
{
    const Kind& k = AllKinds[std::get<1>(info.param)];
    return std::string(WriterName(std::get<0>(info.param))) + "_type" + std::to_string(k.ColorType) + "_depth" +
           std::to_string(k.Depth) + (k.Keyed ? "_keyed" : "");
}

// The kinds each writer can make: pnmtopng writes no palette transparency;
// ImageMagick's grey and RGB colour keys are left to the other two; PIL
// writes no 2- or 4-bit grey and no 16-bit colour.
std::vector<std::tuple<Writer, int>> WriterKinds()
{
    std::vector<std::tuple<Writer, int>> out;
    for (int i = 0; i < static_cast<int>(std::size(AllKinds)); ++i) {
        const Kind& k = AllKinds[i];
        if (!(k.Keyed && k.ColorType == 3))
            out.emplace_back(Writer::Netpbm, i);
        if (!k.Keyed || k.ColorType == 3)
            out.emplace_back(Writer::Magick, i);
        if (!PilMode(k).empty())
            out.emplace_back(Writer::Pil, i);
    }
    return out;
}

INSTANTIATE_TEST_SUITE_P(Writers, PngMatrix, ::testing::ValuesIn(WriterKinds()), MatrixName);

// ---- Our own output

class PngOwnOutput : public ::testing::TestWithParam<int> {};

TEST_P(PngOwnOutput, PassesPngcheckAndDecodesInPil)
{
    const Kind kind = AllKinds[GetParam()];
    testutil::TempDir dir;
    std::string script, jobs;
    std::vector<std::tuple<std::string, std::string, bool>> files; // ours, PIL's decode, interlaced
    int n = 0;
    for (bool interlaced : {false, true}) {
        for (const Size& size : {Size{1, 1}, Size{5, 3}, Size{37, 23}}) {
            const Source src = MakeSource(kind, size);
            const std::string base = dir.File("s" + std::to_string(n++));
            WritePam(src, base + ".pam");
            script += ImageMagick() + " " + Quote(base + ".pam") + " -define png:color-type=" +
                      std::to_string(kind.ColorType) + " -define png:bit-depth=" + std::to_string(kind.Depth) + " " +
                      Quote("png:" + base + ".png") + "\n";
            files.emplace_back(base + ".ours.png", base + ".ours.pam", interlaced);
            jobs += "read " + base + ".ours.png " + base + ".ours.pam\n";
        }
    }
    testutil::WriteFile(dir.File("make.sh"), Bytes(script.begin(), script.end()));
    ASSERT_EQ(testutil::Run("/bin/sh -e " + Quote(dir.File("make.sh"))).ExitCode, 0);
    std::vector<std::unique_ptr<TPngPicture>> ours;
    for (const auto& [path, decoded, interlaced] : files) {
        const std::string source = path.substr(0, path.size() - std::string(".ours.png").size()) + ".png";
        auto png = Load(testutil::ReadFile(source));
        png->InterlaceMode = interlaced ? 1 : 0;
        png->RowFilters = interlaced ? TFilterSet(0x1F) : pfSub;
        png->SaveToFile(path);
        const auto check = testutil::Run(testutil::Tool("pngcheck") + " -v " + Quote(path));
        EXPECT_EQ(check.ExitCode, 0) << check.Output;
        EXPECT_NE(check.Output.find(interlaced ? "interlaced" : "non-interlaced"), std::string::npos);
        ours.push_back(std::move(png));
    }
    testutil::WriteFile(dir.File("pil.py"), Bytes(PilScript, PilScript + std::strlen(PilScript)));
    testutil::WriteFile(dir.File("jobs.txt"), Bytes(jobs.begin(), jobs.end()));
    const auto r = testutil::Run(Python() + " " + Quote(dir.File("pil.py")) + " " + Quote(dir.File("jobs.txt")));
    ASSERT_EQ(r.ExitCode, 0) << r.Output;
    for (std::size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(std::get<0>(files[i]));
        Rgba pil;
        ASSERT_TRUE(ReadPnm(std::get<1>(files[i]), pil));
        EXPECT_EQ(testutil::MaxDifference(Composite(pil, clWhite), DrawOn(*ours[i], clWhite)), 0);
        EXPECT_EQ(testutil::MaxDifference(Composite(pil, clBlack), DrawOn(*ours[i], clBlack)), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, PngOwnOutput, ::testing::Range(0, static_cast<int>(std::size(AllKinds))),
                         [](const ::testing::TestParamInfo<int>& info) {
                             const Kind& k = AllKinds[info.param];
                             return "type" + std::to_string(k.ColorType) + "_depth" + std::to_string(k.Depth) +
                                    (k.Keyed ? "_keyed" : "");
                         });

} // namespace

// The filter type of every row of a non-interlaced file.
std::set<int> RowFilterTypes(const Bytes& file, std::size_t rowBytes)
{
    const Bytes raw = Inflate(JoinIdat(file));
    std::set<int> types;
    for (std::size_t at = 0; at < raw.size(); at += rowBytes + 1)
        types.insert(raw[at]);
    return types;
}

TEST(PngPhotoLike, OutsideWritersUseEveryFilterAndWeDecodeThem)
{
    testutil::TempDir dir;
    const int w = 64, h = 48;
    testutil::RgbImage photo;
    photo.Width = w;
    photo.Height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                photo.Rgb.push_back(static_cast<std::uint8_t>(PhotoSample(x, y, c, w, h)));
    const std::string ppm = dir.File("photo.ppm");
    testutil::WritePpm(ppm, photo);
    const std::string python = Python();
    const std::vector<std::pair<std::string, std::string>> writers = {
        {"ImageMagick", ImageMagick() + " " + Quote(ppm) + " " + Quote("png24:" + dir.File("magick.png"))},
        {"netpbm", testutil::Tool("pnmtopng") + " " + Quote(ppm) + " > " + Quote(dir.File("netpbm.png"))},
        {"PIL", python + " -c \"import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2])\" " +
                    Quote(ppm) + " " + Quote(dir.File("pil.png"))},
    };
    std::set<int> all;
    for (const auto& [name, command] : writers) {
        SCOPED_TRACE(name);
        const auto r = testutil::Run(command);
        ASSERT_EQ(r.ExitCode, 0) << r.Output;
        const std::string file = name == "ImageMagick" ? "magick.png" : name == "netpbm" ? "netpbm.png" : "pil.png";
        const Bytes bytes = testutil::ReadFile(dir.File(file));
        const auto chunks = ParseChunks(bytes);
        ASSERT_FALSE(chunks.empty());
        ASSERT_EQ(chunks[0].Data[9], 2); // RGB
        ASSERT_EQ(chunks[0].Data[12], 0); // not interlaced
        const std::set<int> types = RowFilterTypes(bytes, static_cast<std::size_t>(w) * 3);
        all.insert(types.begin(), types.end());
        // The picture itself is the reference: PNG is lossless.
        auto png = Load(bytes);
        EXPECT_EQ(testutil::MaxDifference(DrawOn(*png, clWhite), photo), 0);
    }
    for (int type = 1; type <= 4; ++type)
        EXPECT_TRUE(all.count(type)) << "no writer used filter type " << type;
}
