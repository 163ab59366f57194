#pragma once
// Helpers of the printing tests: the application object, test pictures and
// files, and reading the PDF files the jobs write with poppler's tools.

#include "Application.h"
#include "Bitmap.h"
#include "ImpVignettes.h"
#include "TestUtil.h"

#include <string>
#include <vector>

namespace prtest {

// The application object (message boxes scripted), the picture formats.
TApplication& App();
TScriptedMessageBoxes& Boxes();

// A 24-bit picture of one colour.
TBitmap Solid(int width, int height, TColor color);
void SaveBmp(const TBitmap& bitmap, const std::string& path);

// The thumbnail browser as a test lists it.
class TFakeBrowser : public IContactSheetSource {
public:
    std::string Folder;
    std::vector<std::string> Names;
    std::string Directory() const override { return Folder; }
    std::vector<std::string> FileNames() const override { return Names; }
};

// The number of pages and the first page's size in points.
int PdfPages(const std::string& pdf);
void PdfPageSize(const std::string& pdf, double& width, double& height);
// The text of the whole file.
std::string PdfText(const std::string& pdf);
// One page as pixels at a resolution in dots per inch.
testutil::RgbImage Rasterise(const std::string& pdf, int page, int dpi);

// The smallest rectangle holding every pixel that is not near white (right
// and bottom exclusive); empty when there is none.
TRect InkBox(const testutil::RgbImage& image);
// The same for pixels near a colour.
TRect ColourBox(const testutil::RgbImage& image, TColor colour, int tolerance = 40);
// Pixels near a colour.
int CountColour(const testutil::RgbImage& image, TColor colour, int tolerance = 40);
// Millimetres on paper as pixels at a resolution.
double MmToPx(double mm, int dpi);

} // namespace prtest
