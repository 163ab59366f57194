#include "Bitmap.h"
#include "Canvas.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

TBitmap Noise(int w, int h, TPixelFormat f = pf24bit, unsigned seed = 1)
{
    TBitmap b(w, h, pf24bit);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x)
            b.ScanLine(y)[x] = static_cast<std::uint8_t>(rng());
    b.SetPixelFormat(f);
    return b;
}

std::vector<std::uint8_t> Pixels(const TBitmap& b)
{
    return std::vector<std::uint8_t>(b.Bits(), b.Bits() + b.RowStride() * static_cast<std::size_t>(b.Height()));
}

void XorPen(TCanvas& c, int width)
{
    c.Pen.Color = clWhite;
    c.Pen.Style = psSolid;
    c.Pen.Mode = pmXor;
    c.Pen.Width = width;
    c.Brush.Style = bsClear;
}

TEST(XorRectangle, DrawnTwiceGivesBackEveryPixel)
{
    const TRect rects[] = {Rect(2, 3, 15, 9), Rect(-4, -4, 30, 30), Rect(5, 5, 6, 6), Rect(10, 2, 3, 12),
                           Rect(0, 0, 20, 16), Rect(18, 14, 25, 25), Rect(7, 7, 8, 20)};
    for (TPixelFormat f : {pf24bit, pf8bit, pf32bit, pf1bit}) {
        for (int width = 1; width <= 7; ++width) {
            for (const TRect& r : rects) {
                TBitmap b = Noise(20, 16, f, static_cast<unsigned>(width));
                auto before = Pixels(b);
                XorPen(b.Canvas(), width);
                b.Canvas().Rectangle(r);
                b.Canvas().Rectangle(r);
                ASSERT_EQ(Pixels(b), before) << "width " << width << " rect " << r.Left << "," << r.Top << ","
                                             << r.Right << "," << r.Bottom;
            }
        }
    }
}

TEST(XorRectangle, ThinFrameCoversExactlyTheBorderPixels)
{
    TBitmap b(10, 10);
    b.Canvas().Brush.Color = clBlack;
    b.Canvas().FillRect(Rect(0, 0, 10, 10));
    XorPen(b.Canvas(), 1);
    b.Canvas().Rectangle(2, 3, 6, 8);
    int lit = 0;
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            bool onBorder = x >= 2 && x <= 5 && y >= 3 && y <= 7 && (x == 2 || x == 5 || y == 3 || y == 7);
            EXPECT_EQ(b.GetPixelColor(x, y), onBorder ? clWhite : clBlack) << x << "," << y;
            lit += onBorder;
        }
    EXPECT_EQ(lit, 14);
}

TEST(XorRectangle, WidePenIsCentredOnTheEdgesAndXoredOnce)
{
    TBitmap b(20, 20);
    b.Canvas().Brush.Color = clBlack;
    b.Canvas().FillRect(Rect(0, 0, 20, 20));
    XorPen(b.Canvas(), 3);
    b.Canvas().Rectangle(5, 5, 15, 15);
    // Width 3 around the one-pixel frame 5..14: columns 4..6 and 13..15.
    EXPECT_EQ(b.GetPixelColor(4, 10), clWhite);
    EXPECT_EQ(b.GetPixelColor(6, 10), clWhite);
    EXPECT_EQ(b.GetPixelColor(7, 10), clBlack);
    EXPECT_EQ(b.GetPixelColor(15, 15), clWhite);
    EXPECT_EQ(b.GetPixelColor(16, 10), clBlack);
    EXPECT_EQ(b.GetPixelColor(4, 4), clWhite); // corner drawn once, not twice
}

TEST(CanvasDrawing, BrushFillsInsideThePen)
{
    TBitmap b(8, 8);
    b.Canvas().Pen.Color = clRed;
    b.Canvas().Brush.Color = clBlue;
    b.Canvas().Rectangle(1, 1, 7, 7);
    EXPECT_EQ(b.GetPixelColor(1, 1), clRed);
    EXPECT_EQ(b.GetPixelColor(6, 4), clRed);
    EXPECT_EQ(b.GetPixelColor(3, 3), clBlue);
    EXPECT_EQ(b.GetPixelColor(7, 7), clWhite);
}

TEST(CanvasDrawing, LinesLeaveOutTheirLastPoint)
{
    TBitmap b(10, 10);
    b.Canvas().MoveTo(1, 1);
    b.Canvas().LineTo(5, 1);
    EXPECT_EQ(b.GetPixelColor(1, 1), clBlack);
    EXPECT_EQ(b.GetPixelColor(4, 1), clBlack);
    EXPECT_EQ(b.GetPixelColor(5, 1), clWhite);
    EXPECT_EQ(b.Canvas().PenPos, (TPoint{5, 1}));
    b.Canvas().LineTo(5, 6);
    EXPECT_EQ(b.GetPixelColor(5, 1), clBlack);
    EXPECT_EQ(b.GetPixelColor(5, 5), clBlack);
    EXPECT_EQ(b.GetPixelColor(5, 6), clWhite);
}

TEST(CanvasDrawing, PixelsOutsideTheBitmap)
{
    TBitmap b(2, 2);
    b.Canvas().SetPixel(5, 5, clRed); // ignored
    EXPECT_EQ(b.Canvas().GetPixel(5, 5), clInvalid);
    EXPECT_EQ(b.Canvas().GetPixel(-1, 0), clInvalid);
    b.Canvas().SetPixel(1, 0, clRed);
    EXPECT_EQ(b.Canvas().GetPixel(1, 0), clRed);
}

TEST(CanvasDrawing, StretchDrawReplicatesByNearestNeighbour)
{
    TBitmap src(2, 2);
    src.SetPixelColor(0, 0, clRed);
    src.SetPixelColor(1, 0, clLime);
    src.SetPixelColor(0, 1, clBlue);
    src.SetPixelColor(1, 1, clBlack);
    TBitmap dst(6, 4);
    dst.Canvas().StretchDraw(Rect(0, 0, 4, 4), src);
    EXPECT_EQ(dst.GetPixelColor(1, 1), clRed);
    EXPECT_EQ(dst.GetPixelColor(2, 1), clLime);
    EXPECT_EQ(dst.GetPixelColor(3, 3), clBlack);
    EXPECT_EQ(dst.GetPixelColor(0, 2), clBlue);
    EXPECT_EQ(dst.GetPixelColor(4, 0), clWhite);
    // A reversed destination mirrors.
    dst.Canvas().StretchDraw(Rect(2, 0, 0, 2), src);
    EXPECT_EQ(dst.GetPixelColor(0, 0), clLime);
    EXPECT_EQ(dst.GetPixelColor(1, 0), clRed);
}

TEST(CanvasDrawing, DrawConvertsBetweenFormats)
{
    TBitmap src(2, 1, pf8bit);
    src.SetPixelColor(0, 0, clRed);
    TBitmap dst(2, 1, pf24bit);
    dst.Canvas().Draw(0, 0, src);
    EXPECT_EQ(dst.GetPixelColor(0, 0), clRed);
    EXPECT_EQ(dst.GetPixelColor(1, 0), clWhite);
}

TEST(CanvasDrawing, TransparentBitmapsLeaveTheirKeyColourOut)
{
    TBitmap src(2, 1);
    src.SetPixelColor(0, 0, clLime);
    src.SetPixelColor(1, 0, clRed);
    src.SetTransparent(true);
    src.SetTransparentColor(clLime);
    TBitmap dst(2, 1);
    dst.Canvas().Brush.Color = clBlue;
    dst.Canvas().FillRect(Rect(0, 0, 2, 1));
    dst.Canvas().Draw(0, 0, src);
    EXPECT_EQ(dst.GetPixelColor(0, 0), clBlue);
    EXPECT_EQ(dst.GetPixelColor(1, 0), clRed);
}

TEST(CanvasDrawing, CopyRectWithinOneBitmapReadsTheOriginal)
{
    TBitmap b(4, 1);
    b.SetPixelColor(0, 0, clRed);
    b.SetPixelColor(1, 0, clLime);
    b.Canvas().CopyRect(Rect(1, 0, 3, 1), b.Canvas(), Rect(0, 0, 2, 1));
    EXPECT_EQ(b.GetPixelColor(1, 0), clRed);
    EXPECT_EQ(b.GetPixelColor(2, 0), clLime);
}

TEST(CanvasDrawing, CopyModesCombineSourceAndDestination)
{
    EXPECT_EQ(ApplyCopyMode(cmSrcCopy, 0xAB, 0x12) & 0xFF, 0xABu);
    EXPECT_EQ(ApplyCopyMode(cmSrcInvert, 0xF0, 0x3C) & 0xFF, 0xCCu);
    EXPECT_EQ(ApplyCopyMode(cmSrcAnd, 0xF0, 0x3C) & 0xFF, 0x30u);
    EXPECT_EQ(ApplyCopyMode(cmSrcPaint, 0xF0, 0x3C) & 0xFF, 0xFCu);
    EXPECT_EQ(ApplyCopyMode(cmBlackness, 0xF0, 0x3C) & 0xFF, 0x00u);
    EXPECT_EQ(ApplyCopyMode(cmNotSrcCopy, 0xF0, 0x3C) & 0xFF, 0x0Fu);
    EXPECT_EQ(ApplyPenMode(pmNotXor, 0xF0, 0x3C) & 0xFF, 0x33u);
}

} // namespace
