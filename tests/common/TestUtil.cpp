#include "TestUtil.h"

#include "Bitmap.h"

#include <gtest/gtest.h>

#include <array>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "corvinel-test-XXXXXX").string();
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed");
    FPath = buf.data();
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(FPath, ec);
}

CommandResult Run(const std::string& commandLine)
{
    CommandResult result;
    std::string full = commandLine + " 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0)
        result.Output.append(buf.data(), n);
    int status = pclose(pipe);
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string Tool(const std::string& name)
{
    const std::string path = name.find('/') == std::string::npos ? "/usr/bin/" + name : name;
    if (access(path.c_str(), X_OK) != 0)
        ADD_FAILURE() << "outside tool missing: " << name << " (" << path
                      << " is not installed; scripts/install-deps.sh installs it)";
    return path;
}

std::string PythonWithPil()
{
    const std::string python = Tool("python3");
    const CommandResult r = Run(python + " -c 'import PIL.Image'");
    if (r.ExitCode != 0)
        ADD_FAILURE() << "outside tool missing: python3-pil (" << python << " cannot import PIL: " << r.Output << ")";
    return python;
}

const std::vector<std::string>& OracleTools()
{
    static const std::vector<std::string> tools = {
        "convert",  "identify",  "python3",   "pnmtopng",      "pngtopnm", "pamtopng", "tiffcp",
        "tiffinfo", "tiff2rgba", "gif2rgb",   "giftext",       "gifsicle", "pngcheck", "djpeg",
        "cjpeg",    "pdfinfo",   "pdftoppm",  "pdftotext",     "pdfimages", "exiftool", "exiv2",
        "pamcut",   "pamdepth",  "pamtotga",  "tgatoppm",      "pgmtopbm", "pnmdepth", "pnmquant",
        "pnmtosgi", "ppmtopcx",  "ppmtopgm",  "pnmtoplainpnm", "ppmtoppm", "scanimage",
    };
    return tools;
}

std::string Quote(const std::string& s)
{
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

PixelBudgetGuard::PixelBudgetGuard(std::size_t pixels) : FSaved(PixelBudget()) { SetPixelBudget(pixels); }

PixelBudgetGuard::~PixelBudgetGuard() { SetPixelBudget(FSaved); }

CurrentDirGuard::CurrentDirGuard(const std::string& dir) : FSaved(std::filesystem::current_path().string())
{
    std::filesystem::current_path(dir);
}

CurrentDirGuard::~CurrentDirGuard()
{
    std::error_code ec;
    std::filesystem::current_path(FSaved, ec);
}

EnvGuard::EnvGuard(const std::string& name, const char* value) : FName(name)
{
    const char* old = std::getenv(name.c_str());
    FHadOld = old != nullptr;
    if (old)
        FOld = old;
    if (value)
        setenv(name.c_str(), value, 1);
    else
        unsetenv(name.c_str());
}

EnvGuard::~EnvGuard()
{
    if (FHadOld)
        setenv(FName.c_str(), FOld.c_str(), 1);
    else
        unsetenv(FName.c_str());
}

LocaleGuard::LocaleGuard(const std::vector<std::string>& locales) : FSaved(std::setlocale(LC_ALL, nullptr))
{
    for (const std::string& locale : locales)
        if (std::setlocale(LC_ALL, locale.c_str()))
            break;
}

LocaleGuard::~LocaleGuard() { std::setlocale(LC_ALL, FSaved.c_str()); }

std::vector<std::uint8_t> TinyRleBmp(int width, int height)
{
    const std::uint32_t offset = 14 + 40 + 2 * 4;
    std::vector<std::uint8_t> b(offset, 0);
    auto put32 = [&b](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    };
    b[0] = 'B';
    b[1] = 'M';
    put32(2, offset + 2);
    put32(10, offset);
    put32(14, 40);
    put32(18, static_cast<std::uint32_t>(width));
    put32(22, static_cast<std::uint32_t>(height));
    b[26] = 1;
    b[28] = 8;
    b[30] = 1; // BI_RLE8
    put32(34, 2);
    put32(46, 2); // two colours: black and white
    put32(58, 0x00FFFFFF);
    b.push_back(0); // end of bitmap
    b.push_back(1);
    return b;
}

std::vector<std::uint8_t> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& data)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

namespace {

// Reads the next header token of a PNM file, skipping comments.
int NextNumber(const std::vector<std::uint8_t>& d, size_t& pos)
{
    while (pos < d.size()) {
        if (d[pos] == '#') {
            while (pos < d.size() && d[pos] != '\n')
                ++pos;
        } else if (std::isspace(d[pos])) {
            ++pos;
        } else {
            break;
        }
    }
    int v = 0;
    bool any = false;
    while (pos < d.size() && std::isdigit(d[pos])) {
        v = v * 10 + (d[pos] - '0');
        ++pos;
        any = true;
    }
    return any ? v : -1;
}

} // namespace

RgbImage ReadPpm(const std::string& path)
{
    RgbImage img;
    auto d = ReadFile(path);
    if (d.size() < 2 || d[0] != 'P' || d[1] != '6') {
        ADD_FAILURE() << path << " is not a binary PPM";
        return img;
    }
    size_t pos = 2;
    img.Width = NextNumber(d, pos);
    img.Height = NextNumber(d, pos);
    int maxval = NextNumber(d, pos);
    ++pos; // the single white space after maxval
    if (img.Width < 0 || img.Height < 0 || maxval != 255) {
        ADD_FAILURE() << path << ": unexpected PPM header";
        return RgbImage{};
    }
    size_t n = static_cast<size_t>(img.Width) * img.Height * 3;
    if (d.size() < pos + n) {
        ADD_FAILURE() << path << ": PPM data too short";
        return RgbImage{};
    }
    img.Rgb.assign(d.begin() + static_cast<std::ptrdiff_t>(pos), d.begin() + static_cast<std::ptrdiff_t>(pos + n));
    return img;
}

void WritePpm(const std::string& path, const RgbImage& image)
{
    std::ostringstream head;
    head << "P6\n" << image.Width << " " << image.Height << "\n255\n";
    std::string h = head.str();
    std::vector<std::uint8_t> data(h.begin(), h.end());
    data.insert(data.end(), image.Rgb.begin(), image.Rgb.end());
    WriteFile(path, data);
}

RgbImage FromBitmap(const TBitmap& bitmap)
{
    TBitmap copy;
    copy.Assign(bitmap);
    copy.SetPixelFormat(pf24bit);
    RgbImage img;
    img.Width = copy.Width();
    img.Height = copy.Height();
    img.Rgb.resize(static_cast<size_t>(img.Width) * img.Height * 3);
    for (int y = 0; y < img.Height; ++y) {
        const std::uint8_t* row = copy.ScanLine(y);
        for (int x = 0; x < img.Width; ++x) {
            std::uint8_t* p = &img.Rgb[(static_cast<size_t>(y) * img.Width + x) * 3];
            p[0] = row[x * 3 + 2];
            p[1] = row[x * 3 + 1];
            p[2] = row[x * 3];
        }
    }
    return img;
}

TBitmap Copy(const TBitmap& bitmap)
{
    TBitmap copy;
    copy.Assign(bitmap);
    return copy;
}

bool SamePixels(const TBitmap& a, const TBitmap& b)
{
    if (a.Width() != b.Width() || a.Height() != b.Height())
        return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (a.GetPixelColor(x, y) != b.GetPixelColor(x, y))
                return false;
    return true;
}

int MaxDifference(const RgbImage& a, const RgbImage& b)
{
    if (a.Width != b.Width || a.Height != b.Height || a.Rgb.size() != b.Rgb.size()) {
        ADD_FAILURE() << "pictures of different sizes: " << a.Width << " x " << a.Height << " and " << b.Width
                      << " x " << b.Height;
        return 256;
    }
    int m = 0;
    for (size_t i = 0; i < a.Rgb.size(); ++i)
        m = std::max(m, std::abs(static_cast<int>(a.Rgb[i]) - static_cast<int>(b.Rgb[i])));
    return m;
}

DumpResult PicDump(const std::string& path, int frame)
{
    DumpResult r;
    std::string out = path + ".dump.ppm";
    const std::string option = frame >= 0 ? "--frame " + std::to_string(frame) + " " : "";
    auto res = Run(std::string(CORVINEL_PICDUMP) + " " + option + Quote(path) + " " + Quote(out));
    if (res.ExitCode != 0) {
        r.Error = res.Output;
        return r;
    }
    r.Ok = true;
    r.Image = ReadPpm(out);
    std::remove(out.c_str());
    return r;
}

std::vector<std::uint8_t> MakeJpegAndCutCopy(const std::string& whole, const std::string& cut, int seed)
{
    const CommandResult made = Run(Tool("convert") + " -size 320x240 gradient:red-blue -seed " + std::to_string(seed) +
                                   " -attenuate 0.3 +noise Gaussian -strip -quality 90 " + Quote(whole));
    EXPECT_EQ(made.ExitCode, 0) << made.Output;
    std::vector<std::uint8_t> bytes = ReadFile(whole);
    bytes.resize(bytes.size() / 2);
    WriteFile(cut, bytes);
    return bytes;
}

} // namespace testutil
