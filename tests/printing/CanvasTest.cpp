// The printer's canvas, drawn on an image so that its pixels can be read:
// exclusive rectangles, text placed by its top edge, Arial's stand-in,
// stretched, mirrored and transparent bitmaps.

#include "PrintTest.h"
#include "PrinterCanvas.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

using namespace prtest;

namespace {

struct TImageCanvas {
    QImage Image;
    QPainter Painter;
    std::unique_ptr<TPaintCanvas> Canvas;

    TImageCanvas(int width, int height) : Image(width, height, QImage::Format_RGB32)
    {
        App();
        Image.fill(Qt::white);
        Painter.begin(&Image);
        Canvas = std::make_unique<TPaintCanvas>(Painter, width, height);
    }
    TColor At(int x, int y) const
    {
        const QRgb p = Image.pixel(x, y);
        return RGB(qRed(p), qGreen(p), qBlue(p));
    }
    // The rows holding a pixel darker than mid grey, from first to last.
    std::pair<int, int> InkRows() const
    {
        int first = -1, last = -1;
        for (int y = 0; y < Image.height(); ++y)
            for (int x = 0; x < Image.width(); ++x)
                if (qGray(Image.pixel(x, y)) < 128) {
                    if (first < 0)
                        first = y;
                    last = y;
                    break;
                }
        return {first, last};
    }
};

TEST(PaintCanvas, RectangleLeavesOutTheRightAndBottomEdges)
{
    TImageCanvas t(20, 20);
    TCanvas& c = *t.Canvas;
    c.Pen.Color = clBlack;
    c.Brush.Color = clRed;
    c.Rectangle(2, 3, 9, 8);
    t.Painter.end();
    EXPECT_EQ(t.At(2, 3), clBlack);
    EXPECT_EQ(t.At(8, 7), clBlack);
    EXPECT_EQ(t.At(9, 7), clWhite);
    EXPECT_EQ(t.At(8, 8), clWhite);
    EXPECT_EQ(t.At(1, 3), clWhite);
    EXPECT_EQ(t.At(5, 5), clRed);
}

TEST(PaintCanvas, FillRectAndPixels)
{
    TImageCanvas t(10, 10);
    TCanvas& c = *t.Canvas;
    c.Brush.Color = clBlue;
    c.FillRect(Rect(6, 6, 2, 2)); // reversed corners fill the same area
    c.SetPixel(9, 9, clLime);
    c.SetPixel(10, 10, clRed); // outside: nothing
    EXPECT_EQ(c.GetPixel(9, 9), clLime);
    EXPECT_EQ(c.GetPixel(10, 0), clInvalid);
    t.Painter.end();
    EXPECT_EQ(t.At(2, 2), clBlue);
    EXPECT_EQ(t.At(5, 5), clBlue);
    EXPECT_EQ(t.At(6, 6), clWhite);
    EXPECT_EQ(c.ClipRect(), Rect(0, 0, 10, 10));
}

TEST(PaintCanvas, TextIsPlacedByItsTopEdge)
{
    TImageCanvas t(200, 80);
    TCanvas& c = *t.Canvas;
    c.Font.Name = "Arial";
    c.Font.Size = 20;
    c.Brush.Style = bsClear;
    const int top = 30;
    c.TextOut(5, top, "HHHH");
    const QFontMetrics metrics(QtFont(c.Font), &t.Image);
    t.Painter.end();
    const auto [first, last] = t.InkRows();
    // The capitals stand on the baseline, top + ascent; their tops are
    // capHeight above it.
    const int baseline = top + metrics.ascent();
    EXPECT_NEAR(last + 1, baseline, 1);
    EXPECT_NEAR(first, baseline - metrics.capHeight(), 1);
    EXPECT_GE(first, top);
    EXPECT_EQ(c.TextHeight("H"), metrics.height());
    EXPECT_EQ(c.TextWidth("HHHH"), metrics.horizontalAdvance("HHHH"));
}

TEST(PaintCanvas, SolidBrushFillsBehindTheText)
{
    TImageCanvas t(100, 40);
    TCanvas& c = *t.Canvas;
    c.Brush.Color = clYellow;
    c.Font.Size = 10;
    c.TextOut(10, 5, "ab");
    const int width = c.TextWidth("ab");
    t.Painter.end();
    EXPECT_EQ(t.At(10, 5), clYellow);
    EXPECT_EQ(t.At(10 + width - 1, 5), clYellow);
    EXPECT_EQ(t.At(10 + width, 5), clWhite);
    EXPECT_EQ(c.PenPos, (TPoint{10 + width, 5}));
}

TEST(PaintCanvas, ArialIsDrawnWithLiberationSans)
{
    App();
    TFont font;
    font.Name = "Arial";
    font.Size = 10;
    EXPECT_EQ(QtFontFamily("arial"), "Liberation Sans");
    EXPECT_EQ(QtFontFamily("Courier New"), "Courier New");
    EXPECT_EQ(QFontInfo(QtFont(font)).family(), "Liberation Sans");
}

TEST(PaintCanvas, StretchedAndMirroredBitmaps)
{
    TImageCanvas t(40, 20);
    TCanvas& c = *t.Canvas;
    TBitmap bitmap(2, 1, pf24bit);
    bitmap.SetPixelColor(0, 0, clRed);
    bitmap.SetPixelColor(1, 0, clBlue);
    c.StretchBitmap(Rect(0, 0, 20, 10), bitmap, Rect(0, 0, 2, 1));
    // Right and left swapped: mirrored across.
    c.StretchBitmap(Rect(40, 10, 20, 20), bitmap, Rect(0, 0, 2, 1));
    t.Painter.end();
    EXPECT_EQ(t.At(2, 5), clRed);
    EXPECT_EQ(t.At(17, 5), clBlue);
    EXPECT_EQ(t.At(22, 15), clBlue);
    EXPECT_EQ(t.At(37, 15), clRed);
}

TEST(PaintCanvas, PaletteBitmapsAndTransparentColour)
{
    TImageCanvas t(20, 10);
    TCanvas& c = *t.Canvas;
    c.Brush.Color = clLime;
    c.FillRect(Rect(0, 0, 20, 10));
    TBitmap bitmap(2, 1, pf24bit);
    bitmap.SetPixelColor(0, 0, clFuchsia);
    bitmap.SetPixelColor(1, 0, clNavy);
    bitmap.SetPixelFormat(pf8bit);
    c.StretchBitmapTransparent(Rect(0, 0, 20, 10), bitmap, Rect(0, 0, 2, 1), clFuchsia);
    t.Painter.end();
    EXPECT_EQ(t.At(3, 5), clLime);
    EXPECT_EQ(t.At(15, 5), clNavy);
}

} // namespace
