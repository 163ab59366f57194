#pragma once
// TPaintCanvas: a TCanvas that draws through a QPainter, on whatever device
// the painter is open on: the printer's pages, a PDF file or an image.
//
// Coordinates are the device's pixels. Text is placed by its top edge, as
// the class library does: TextOut(x, y) puts the top of the text's line at
// y, so Qt's baseline is y plus the font's ascent. "Arial" is drawn with
// Liberation Sans, which has Arial's metrics.
//
// A printer has no raster operations and cannot be read back: pen modes
// other than the plain ones draw as pmCopy there, and GetPixel answers the
// paper's white. On an image device GetPixel reads the image.

#include "Canvas.h"

#include <QFont>

class QPainter;
class QImage;

// The family Qt draws for a font name of the programs.
QString QtFontFamily(const std::string& name);
// The Qt font of a canvas font (family mapped, size in points, style).
QFont QtFont(const TFont& font);
// A 24-bit or 32-bit bitmap as an image that shares its rows; other formats
// converted to 24 bits into converted, which the image then uses.
QImage BitmapImage(const TBitmap& bitmap, TBitmap& converted);

class TPaintCanvas : public TCanvas {
public:
    // The painter must be active while the canvas draws; the clip rectangle
    // is (0, 0, width, height) in device pixels.
    TPaintCanvas(QPainter& painter, int width, int height);

    // Points the canvas at another painter or size (a new page, a new job).
    void Reset(QPainter& painter, int width, int height);

    void LineTo(int x, int y) override;
    void Rectangle(int left, int top, int right, int bottom) override;
    using TCanvas::Rectangle;
    void FillRect(const TRect& r) override;
    TColor GetPixel(int x, int y) const override;
    void SetPixel(int x, int y, TColor color) override;
    void StretchBitmap(const TRect& dest, const TBitmap& bitmap, const TRect& srcRect,
                       TCopyMode mode = cmSrcCopy) override;
    void StretchBitmapTransparent(const TRect& dest, const TBitmap& bitmap, const TRect& srcRect,
                                  TColor transparent) override;
    void TextOut(int x, int y, const std::string& text) override;
    int TextWidth(const std::string& text) override;
    int TextHeight(const std::string& text) override;
    TRect ClipRect() const override;

private:
    // The colour the pen draws with under its mode; false: nothing drawn.
    bool PenColor(TColor& color) const;
    void DrawImage(const TRect& dest, const QImage& image, const TRect& srcRect);

    QPainter* FPainter;
    int FWidth;
    int FHeight;
};
