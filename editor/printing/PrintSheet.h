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

// Draws a graphic stretched into a rectangle of a printer's canvas. Pictures
// that mix themselves with what lies under them (transparency, alpha) are
// first drawn on white, the paper's colour, at their own size: a printer
// cannot be read back pixel by pixel.
void PrintGraphic(TCanvas& canvas, const TRect& rect, TGraphic& graphic);
