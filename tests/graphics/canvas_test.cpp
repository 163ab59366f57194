#include "Bitmap.h"
#include "Canvas.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <set>
#include <utility>
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

// Random stored values, also in the bits a format leaves unused.
TBitmap RawNoise(int w, int h, TPixelFormat f, unsigned seed)
{
    TBitmap b(w, h, f);
    std::mt19937 rng(seed);
    for (int y = 0; y < h; ++y)
        for (std::size_t x = 0; x < b.RowStride(); ++x)
            b.ScanLine(y)[x] = static_cast<std::uint8_t>(rng());
    return b;
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
    for (TPixelFormat f : {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit}) {
        for (int width = 1; width <= 7; ++width) {
            for (const TRect& r : rects) {
                TBitmap b = RawNoise(20, 16, f, static_cast<unsigned>(width));
                auto before = Pixels(b);
                XorPen(b.Canvas(), width);
                b.Canvas().Brush.Style = width % 2 ? bsClear : bsSolid; // a solid brush is XORed as well
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

TEST(XorRectangle, HugeRectanglesAreClippedExactly)
{
    const TRect rects[] = {Rect(INT_MIN, INT_MIN, INT_MAX, INT_MAX), Rect(3, 2, INT_MAX, INT_MAX),
                           Rect(INT_MIN, 4, 9, 11), Rect(-1000000000, -5, 1000000000, 7)};
    for (int width : {1, 2, 3, 8, 1000, INT_MAX / 4}) {
        for (TPenStyle style : {psSolid, psDot, psInsideFrame}) {
            for (const TRect& r : rects) {
                TBitmap b = Noise(20, 16, pf24bit, static_cast<unsigned>(width));
                auto before = Pixels(b);
                XorPen(b.Canvas(), width);
                b.Canvas().Pen.Style = style;
                b.Canvas().Rectangle(r);
                b.Canvas().Rectangle(r);
                ASSERT_EQ(Pixels(b), before) << "width " << width << " style " << static_cast<int>(style) << " rect "
                                             << r.Left << "," << r.Top << "," << r.Right << "," << r.Bottom;
            }
        }
    }
    // A thin dotted frame whose far corners lie billions of pixels away:
    // the visible top edge starts with its first dot at the corner.
    TBitmap b(12, 6);
    b.Canvas().Pen.Style = psDot;
    b.Canvas().Rectangle(2, 3, INT_MAX, INT_MAX);
    for (int x = 0; x < 12; ++x)
        EXPECT_EQ(b.GetPixelColor(x, 3), x >= 2 && (x - 2) % 6 < 3 ? clBlack : clWhite) << x;
    // The left edge comes last on the perimeter, walked upwards from the
    // bottom row INT_MAX - 1: after the top, right and bottom sides of
    // INT_MAX - 2, INT_MAX - 4 and INT_MAX - 3 pixels, (2, y) is at place
    // 3 INT_MAX - 9 + (INT_MAX - 2 - y).
    for (int y = 4; y < 6; ++y) {
        long long place = 4LL * INT_MAX - 11 - y;
        EXPECT_EQ(b.GetPixelColor(2, y), place % 6 < 3 ? clBlack : clWhite) << y;
    }
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

// The line walk as a plain all-octant Bresenham loop, for comparison.
std::set<std::pair<int, int>> ReferenceLine(int x0, int y0, int x1, int y1, int width, const std::vector<int>& dash)
{
    std::set<std::pair<int, int>> points;
    int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int err = dx + dy, half = (width - 1) / 2;
    int total = 0;
    for (int len : dash)
        total += len;
    for (int x = x0, y = y0, k = 0; !(x == x1 && y == y1); ++k) {
        bool on = true;
        if (total > 0) {
            int r = k % total;
            std::size_t seg = 0;
            while (r >= dash[seg])
                r -= dash[seg++];
            on = seg % 2 == 0;
        }
        if (on)
            for (int py = y - half; py < y - half + width; ++py)
                for (int px = x - half; px < x - half + width; ++px)
                    points.emplace(px, py);
        int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
    return points;
}

TEST(CanvasLines, MatchAPlainBresenhamWalkInEveryOctant)
{
    std::mt19937 rng(3);
    const std::vector<int> solid, dot{3, 3}, dashDotDot{9, 3, 3, 3, 3, 3};
    for (int i = 0; i < 3000; ++i) {
        int x0 = static_cast<int>(rng() % 120) - 40, y0 = static_cast<int>(rng() % 100) - 35;
        int x1 = static_cast<int>(rng() % 120) - 40, y1 = static_cast<int>(rng() % 100) - 35;
        int width = i % 3 == 0 ? 1 : static_cast<int>(rng() % 7) + 1;
        TPenStyle style = width > 1 || i % 2 ? psSolid : (i % 4 == 0 ? psDot : psDashDotDot);
        const std::vector<int>& dash = style == psDot ? dot : style == psDashDotDot ? dashDotDot : solid;
        TBitmap b(40, 30);
        b.Canvas().Pen.Width = width;
        b.Canvas().Pen.Style = style;
        b.Canvas().MoveTo(x0, y0);
        b.Canvas().LineTo(x1, y1);
        auto expected = ReferenceLine(x0, y0, x1, y1, width, dash);
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                ASSERT_EQ(b.GetPixelColor(x, y), expected.count({x, y}) ? clBlack : clWhite)
                    << "line " << x0 << "," << y0 << " to " << x1 << "," << y1 << " width " << width << " at " << x
                    << "," << y;
    }
}

TEST(CanvasLines, LinesFromFarAwayAreClippedWithoutOverflow)
{
    TBitmap b(30, 20);
    b.Canvas().MoveTo(INT_MIN, 5);
    b.Canvas().LineTo(INT_MAX, 5);
    b.Canvas().MoveTo(INT_MIN / 2, INT_MIN / 2); // a diagonal through (0, 0)
    b.Canvas().LineTo(INT_MAX / 2, INT_MAX / 2);
    b.Canvas().Pen.Width = 3;
    b.Canvas().MoveTo(25, INT_MAX);
    b.Canvas().LineTo(25, INT_MIN);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 30; ++x) {
            bool on = y == 5 || x == y || (x >= 24 && x <= 26);
            ASSERT_EQ(b.GetPixelColor(x, y), on ? clBlack : clWhite) << x << "," << y;
        }
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

TEST(CanvasDrawing, StretchEdgeCases)
{
    TBitmap src(4, 4);
    const TColor colours[4] = {clRed, clLime, clBlue, clYellow};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            src.SetPixelColor(x, y, colours[x] ^ (y * 0x10));
    auto at = [&](int x, int y) { return colours[x] ^ (y * 0x10); };

    // A zoom of a billion: every visible pixel is the middle of column 2.
    TBitmap dst(20, 8);
    dst.Canvas().StretchDraw(Rect(-2000000000, 0, 2000000000, 8), src);
    for (int x = 0; x < 20; ++x)
        EXPECT_EQ(dst.GetPixelColor(x, 3), at(2, 1)) << x;
    dst.Canvas().StretchDraw(Rect(INT_MIN, INT_MIN, INT_MAX, INT_MAX), src);
    EXPECT_EQ(dst.GetPixelColor(0, 0), at(2, 2));

    // Mirrored on both axes, partly outside on the left and top.
    TBitmap m(6, 6);
    m.Canvas().StretchDraw(Rect(2, 2, -2, -2), src);
    EXPECT_EQ(m.GetPixelColor(0, 0), at(1, 1));
    EXPECT_EQ(m.GetPixelColor(1, 1), at(0, 0));
    EXPECT_EQ(m.GetPixelColor(2, 2), clWhite);

    // One column stretched into a row of pixels, one row into a column.
    TBitmap line(5, 5);
    line.Canvas().CopyRect(Rect(0, 0, 5, 1), src.Canvas(), Rect(3, 0, 4, 4));
    EXPECT_EQ(line.GetPixelColor(0, 0), at(3, 2));
    line.Canvas().CopyRect(Rect(4, 0, 5, 5), src.Canvas(), Rect(0, 2, 4, 3));
    EXPECT_EQ(line.GetPixelColor(4, 4), at(2, 2));

    // A source rectangle partly outside the source leaves those pixels be.
    TBitmap part(4, 1);
    part.Canvas().CopyRect(Rect(0, 0, 4, 1), src.Canvas(), Rect(2, 0, 6, 1));
    EXPECT_EQ(part.GetPixelColor(0, 0), at(2, 0));
    EXPECT_EQ(part.GetPixelColor(1, 0), at(3, 0));
    EXPECT_EQ(part.GetPixelColor(2, 0), clWhite);
    EXPECT_EQ(part.GetPixelColor(3, 0), clWhite);
}

// Rectangles at the ends of int, copied between bitmaps of one format (the
// road that copies whole rows when the widths agree) and of two: their
// widths do not fit in int, and the visible pixels are worked out by hand.
TEST(CanvasDrawing, CopiesWithRectanglesAtTheEndsOfInt)
{
    TBitmap src(4, 2);
    const TColor colours[2][4] = {{clRed, clLime, clBlue, clYellow}, {clBlack, clAqua, clFuchsia, clGray}};
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 4; ++x)
            src.SetPixelColor(x, y, colours[y][x]);
    for (TPixelFormat format : {pf24bit, pf8bit}) {
        SCOPED_TRACE(static_cast<int>(format));
        // 4 columns over 2^32 - 1: destination column d takes source column
        // (2 (d + 2^31) + 1) 4 / (2 (2^32 - 1)) = 2 for every d from 0 to 9.
        TBitmap wide(10, 2, format);
        wide.Canvas().CopyRect(Rect(INT_MIN, 0, INT_MAX, 2), src.Canvas(), Rect(0, 0, 4, 2));
        ASSERT_EQ(wide.Width(), 10);
        ASSERT_EQ(wide.Height(), 2);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 10; ++x)
                ASSERT_EQ(wide.GetPixelColor(x, y), colours[y][2]) << x << "," << y;
        // The same width over a mirrored one-column source (widths 2^32 - 1
        // and -1, equal once cut to 32 bits): column 2 again.
        TBitmap mirrored(10, 2, format);
        mirrored.Canvas().CopyRect(Rect(INT_MIN, 0, INT_MAX, 2), src.Canvas(), Rect(3, 0, 2, 2));
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 10; ++x)
                ASSERT_EQ(mirrored.GetPixelColor(x, y), colours[y][2]) << x << "," << y;
        // Source columns INT_MIN + (2 i + 1) (2^32 - 1) / 8 for i = 0 to 3 all
        // lie outside the source: nothing changes.
        TBitmap far(4, 2, format);
        far.Canvas().CopyRect(Rect(0, 0, 4, 2), src.Canvas(), Rect(INT_MIN, 0, INT_MAX, 2));
        far.Canvas().StretchBitmapTransparent(Rect(0, 0, 4, 2), src, Rect(INT_MIN, 0, INT_MAX, 2), clRed);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x)
                ASSERT_EQ(far.GetPixelColor(x, y), clWhite) << x << "," << y;
        // Heights too: 2 rows over 2^32 - 1 give source row
        // (2 (d + 2^31) + 1) 2 / (2 (2^32 - 1)) = 1 to rows 0 to 2.
        TBitmap tall(3, 3, format);
        tall.Canvas().CopyRect(Rect(0, INT_MIN, 3, INT_MAX), src.Canvas(), Rect(1, 0, 4, 2));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 3; ++x)
                ASSERT_EQ(tall.GetPixelColor(x, y), colours[1][x + 1]) << x << "," << y;
        // A picture drawn where its far edge passes INT_MAX lies beyond the
        // bitmap.
        TBitmap beyond(4, 2, format);
        beyond.Canvas().Draw(INT_MAX - 1, 0, src);
        beyond.Canvas().Draw(0, INT_MAX - 1, src);
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 4; ++x)
                ASSERT_EQ(beyond.GetPixelColor(x, y), clWhite) << x << "," << y;
    }
}

// Stretching between any two formats stores what SetPixelColor stores for
// the colour GetPixelColor reads, pixel by pixel.
TEST(CanvasDrawing, StretchingAcrossFormatsMatchesPixelByPixelCopies)
{
    const TPixelFormat formats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};
    std::mt19937 rng(9);
    for (TPixelFormat from : formats) {
        for (TPixelFormat to : formats) {
            for (int transparent = 0; transparent < 2; ++transparent) {
                TBitmap src = Noise(13, 7, from, static_cast<unsigned>(rng()));
                TBitmap dst = Noise(17, 11, to, static_cast<unsigned>(rng()));
                if (to == pf8bit) // a palette with equal entries: the first one is taken
                    dst.SetPalette(TPalette(256, TPaletteEntry{10, 20, 30, 0}));
                TBitmap expected;
                expected.Assign(dst);
                const TRect r = Rect(15, -3, -4, 12); // mirrored, partly outside
                const TRect from4 = Rect(1, 0, 12, 7);
                TColor key = src.GetPixelColor(3, 3);
                for (int y = 0; y < 11; ++y)
                    for (int x = 0; x < 17; ++x) {
                        // Nearest-neighbour source pixel of the mirrored stretch.
                        int i = 14 - x, j = y + 3;
                        if (i < 0 || i >= 19 || j >= 15)
                            continue;
                        int sx = 1 + (2 * i + 1) * 11 / 38, sy = (2 * j + 1) * 7 / 30;
                        TColor c = src.GetPixelColor(sx, sy);
                        if (!(transparent && c == key))
                            expected.SetPixelColor(x, y, c);
                    }
                if (transparent)
                    dst.Canvas().StretchBitmapTransparent(r, src, from4, key);
                else
                    dst.Canvas().StretchBitmap(r, src, from4);
                ASSERT_EQ(Pixels(dst), Pixels(expected))
                    << static_cast<int>(from) << " to " << static_cast<int>(to) << " transparent " << transparent;
            }
        }
    }
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
