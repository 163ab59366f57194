#include "PrintTest.h"

#include "QtTestApp.h"
#include "AtomicFile.h"
#include "Formats.h"
#include "Streams.h"
#include "photo.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace prtest {

namespace {


bool Near(const std::uint8_t* p, TColor colour, int tolerance)
{
    return std::abs(p[0] - GetRValue(colour)) <= tolerance && std::abs(p[1] - GetGValue(colour)) <= tolerance &&
           std::abs(p[2] - GetBValue(colour)) <= tolerance;
}

template <class P>
TRect BoxOf(const testutil::RgbImage& image, P inside)
{
    TRect box{image.Width, image.Height, 0, 0};
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x)
            if (inside(image.At(x, y))) {
                box.Left = std::min(box.Left, x);
                box.Top = std::min(box.Top, y);
                box.Right = std::max(box.Right, x + 1);
                box.Bottom = std::max(box.Bottom, y + 1);
            }
    if (box.Right == 0)
        return TRect{};
    return box;
}

} // namespace

TApplication& App()
{
    return testqt::App("Corvinel");
}

TScriptedMessageBoxes& Boxes()
{
    return testqt::Boxes();
}

TBitmap Solid(int width, int height, TColor color)
{
    TBitmap bitmap(width, height, pf24bit);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            bitmap.SetPixelColor(x, y, color);
    return bitmap;
}

void SaveBmp(const TBitmap& bitmap, const std::string& path)
{
    TFileStream stream(path, fmCreate);
    bitmap.SaveToStream(stream);
}

int PdfPages(const std::string& pdf)
{
    const auto result = testutil::Run(testutil::Tool("pdfinfo") + " " + testutil::Quote(pdf));
    std::istringstream lines(result.Output);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("Pages:", 0) == 0)
            return std::atoi(line.substr(6).c_str());
    ADD_FAILURE() << "pdfinfo: " << result.Output;
    return -1;
}

void PdfPageSize(const std::string& pdf, double& width, double& height)
{
    width = height = 0;
    const auto result = testutil::Run(testutil::Tool("pdfinfo") + " " + testutil::Quote(pdf));
    std::istringstream lines(result.Output);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("Page size:", 0) == 0) {
            std::istringstream fields(line.substr(10));
            std::string by;
            fields >> width >> by >> height;
            return;
        }
    ADD_FAILURE() << "pdfinfo: " << result.Output;
}

std::string PdfText(const std::string& pdf)
{
    return testutil::Run(testutil::Tool("pdftotext") + " -layout " + testutil::Quote(pdf) + " -").Output;
}

testutil::RgbImage Rasterise(const std::string& pdf, int page, int dpi)
{
    const std::string base = pdf + ".page" + std::to_string(page);
    const auto result = testutil::Run(testutil::Tool("pdftoppm") + " -r " + std::to_string(dpi) + " -f " + std::to_string(page) +
                                      " -l " + std::to_string(page) + " -singlefile " + testutil::Quote(pdf) +
                                      " " + testutil::Quote(base));
    EXPECT_EQ(result.ExitCode, 0) << result.Output;
    return testutil::ReadPpm(base + ".ppm");
}

TRect InkBox(const testutil::RgbImage& image)
{
    return BoxOf(image, [](const std::uint8_t* p) { return p[0] < 230 || p[1] < 230 || p[2] < 230; });
}

TRect ColourBox(const testutil::RgbImage& image, TColor colour, int tolerance)
{
    return BoxOf(image, [&](const std::uint8_t* p) { return Near(p, colour, tolerance); });
}

int CountColour(const testutil::RgbImage& image, TColor colour, int tolerance)
{
    int count = 0;
    for (int y = 0; y < image.Height; ++y)
        for (int x = 0; x < image.Width; ++x)
            if (Near(image.At(x, y), colour, tolerance))
                ++count;
    return count;
}

double MmToPx(double mm, int dpi)
{
    return mm * dpi / 25.4;
}

} // namespace prtest
