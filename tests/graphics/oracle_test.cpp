// The outside tools the tests compare against must all be installed and
// able to do a small job: a missing oracle fails here, by name, and again
// wherever a test needs it, never as a silent skip.

#include "TestUtil.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <set>
#include <string>

using testutil::Quote;
using testutil::Run;
using testutil::Tool;

namespace {

// Runs one job of an outside tool; answers its output.
std::string Job(const std::string& tool, const std::string& arguments)
{
    const auto r = Run(Tool(tool) + " " + arguments);
    EXPECT_EQ(r.ExitCode, 0) << tool << " cannot run: " << arguments << "\n" << r.Output;
    return r.Output;
}

} // namespace

TEST(OutsideTools, EveryOracleIsInstalledAndRuns)
{
    testutil::TempDir dir;
    const std::string ppm = Quote(dir.File("a.ppm"));
    const std::string png = Quote(dir.File("a.png"));
    const std::string jpg = Quote(dir.File("a.jpg"));
    const std::string tif = Quote(dir.File("a.tif"));
    const std::string gif = Quote(dir.File("a.gif"));
    const std::string pdf = Quote(dir.File("a.pdf"));
    std::set<std::string> checked;
    auto job = [&](const std::string& tool, const std::string& arguments) {
        checked.insert(tool);
        return Job(tool, arguments);
    };

    job("convert", "-size 4x3 xc:red " + ppm);
    EXPECT_EQ(job("identify", "-format %wx%h " + ppm), "4x3");
    job("pnmtopng", ppm + " > " + png);
    EXPECT_NE(job("pngtopnm", png).find("4 3"), std::string::npos);
    job("pamtopng", ppm + " > " + Quote(dir.File("b.png")));
    EXPECT_NE(job("pngcheck", png).find("OK"), std::string::npos);
    job("cjpeg", "-outfile " + jpg + " " + ppm);
    EXPECT_NE(job("djpeg", "-pnm " + jpg).find("4 3"), std::string::npos);
    job("convert", ppm + " " + tif);
    EXPECT_NE(job("tiffinfo", tif).find("Image Width: 4"), std::string::npos);
    job("tiffcp", tif + " " + Quote(dir.File("b.tif")));
    job("tiff2rgba", tif + " " + Quote(dir.File("rgba.tif")));
    EXPECT_NE(job("tiffinfo", Quote(dir.File("rgba.tif"))).find("Image Width: 4"), std::string::npos);
    job("convert", ppm + " " + gif);
    EXPECT_NE(job("gifsicle", "--info " + gif).find("4x3"), std::string::npos);
    job("giftext", gif);
    job("gif2rgb", "-1 -o " + Quote(dir.File("a.rgb")) + " " + gif);
    EXPECT_EQ(testutil::ReadFile(dir.File("a.rgb")).size(), 36u);
    checked.insert("python3");
    const std::string python = testutil::PythonWithPil();
    const auto made = testutil::Run(python + " -c \"from PIL import Image; Image.open('" + dir.File("a.png") +
                          "').convert('RGB').save('" + dir.File("a.pdf") + "')\"");
    EXPECT_EQ(made.ExitCode, 0) << made.Output;
    EXPECT_NE(job("pdfinfo", pdf).find("Pages:"), std::string::npos);
    job("pdftoppm", "-r 10 " + pdf + " " + Quote(dir.File("page")));
    job("pdftotext", pdf + " -");
    job("pdfimages", "-list " + pdf);
    EXPECT_NE(job("exiftool", "-ImageWidth " + jpg).find("4"), std::string::npos);
    job("exiv2", "--version");

    // The netpbm programs the reader tests write and read their files with;
    // each answers a 4 x 3 picture.
    const std::string pgm = Quote(dir.File("a.pgm"));
    job("ppmtopgm", ppm + " > " + pgm);
    auto fourByThree = [&](const std::string& tool, const std::string& arguments) {
        EXPECT_NE(job(tool, arguments).find("4 3"), std::string::npos) << tool;
    };
    fourByThree("ppmtoppm", "< " + ppm);
    fourByThree("pgmtopbm", "-threshold " + pgm);
    fourByThree("pnmdepth", "15 " + ppm);
    fourByThree("pamdepth", "255 " + ppm);
    fourByThree("pnmtoplainpnm", ppm);
    fourByThree("pnmquant", "-quiet 2 " + ppm);
    fourByThree("pamcut", "-width 4 " + ppm);
    const std::string tga = Quote(dir.File("a.tga"));
    job("pamtotga", "-rgb " + ppm + " > " + tga);
    fourByThree("tgatoppm", tga);
    job("pnmtosgi", ppm + " > " + Quote(dir.File("a.sgi")));
    job("ppmtopcx", "-quiet " + ppm + " > " + Quote(dir.File("a.pcx")));
    EXPECT_EQ(job("identify", "-format %wx%h " + Quote(dir.File("a.sgi"))), "4x3");
    EXPECT_EQ(job("identify", "-format %wx%h " + Quote(dir.File("a.pcx"))), "4x3");
    // The scanner tests' oracle reads the test backend; here it only has to run.
    EXPECT_NE(job("scanimage", "--version").find("sane-backends"), std::string::npos);

    // The list the other tests draw from is the list checked here.
    for (const std::string& tool : testutil::OracleTools())
        EXPECT_TRUE(checked.count(tool)) << tool << " is listed but not checked";
    EXPECT_EQ(checked.size(), testutil::OracleTools().size());
}

TEST(OutsideTools, AMissingToolFailsWithItsName)
{
    // The failure checks see only statics.
    static std::string path;
    EXPECT_NONFATAL_FAILURE(path = Tool("no-such-oracle-tool"), "no-such-oracle-tool");
    EXPECT_EQ(path, "/usr/bin/no-such-oracle-tool");
}

TEST(OutsideTools, PixelDifferenceOfUnequalSizesFails)
{
    static testutil::RgbImage a, b;
    a.Width = 2;
    a.Height = 1;
    a.Rgb.assign(6, 10);
    b.Width = 1;
    b.Height = 2;
    b.Rgb.assign(6, 10);
    static int d = 0;
    EXPECT_NONFATAL_FAILURE(d = testutil::MaxDifference(a, b), "different sizes");
    EXPECT_GT(d, 255);
    b.Width = 2;
    b.Height = 1;
    b.Rgb[4] = 13;
    EXPECT_EQ(testutil::MaxDifference(a, b), 3);
}
