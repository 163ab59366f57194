#pragma once
// What both printing dialogs share: the way millimetres on the sheet become
// the printer's pixels, and the way a picture of any class goes on paper.

#include "Types.h"

class TCanvas;
class TGraphic;
class TPrinter;

// Millimetres measured from the paper's top-left corner, as pixels of the
// printer's canvas (whose origin is the printable area's corner). One scale
// over the whole paper, the device's own pixels per millimetre, so that a
// length prints at its size in both directions, whatever margins the
// printer keeps.
struct TSheetMapping {
    float ScaleX = 1; // device pixels per millimetre
    float ScaleY = 1;
    int OffsetX = 0;  // the printable area's corner on the paper, in pixels
    int OffsetY = 0;

    static TSheetMapping Of(const TPrinter& printer);

    // Lengths in millimetres as device pixels.
    int Width(int mm) const;
    int Height(int mm) const;
    // Positions on the paper as canvas coordinates.
    int X(int mm) const { return Width(mm) - OffsetX; }
    int Y(int mm) const { return Height(mm) - OffsetY; }
    TRect Map(const TRect& mm) const { return Rect(X(mm.Left), Y(mm.Top), X(mm.Right), Y(mm.Bottom)); }
};

#include <memory>

class TBitmap;

// The resolution pictures are printed at: finer than the eye sees on paper,
// and a photo of a few million pixels in a small frame stays a small job.
constexpr int PrintDpi = 300;

// The 24-bit picture that goes on paper for a graphic printed into rect (in
// device pixels of map): the graphic drawn on white, the paper's colour
// (pictures that mix themselves with what lies under them cannot mix with a
// printer's pixels), then reduced by averaging to PrintDpi dots per inch of
// its printed size, or to the device's own pixels when those are fewer. A
// picture that is smaller already keeps its pixels.
std::unique_ptr<TBitmap> PrintedBitmap(TGraphic& graphic, const TRect& rect, const TSheetMapping& map);

// The size a picture of width x height pixels is printed with into rect,
// as PrintedBitmap makes it.
TPoint PrintedSize(int width, int height, const TRect& rect, const TSheetMapping& map);

// Draws a graphic stretched into a rectangle of a printer's canvas, through
// PrintedBitmap.
void PrintGraphic(TCanvas& canvas, const TRect& rect, TGraphic& graphic, const TSheetMapping& map);
