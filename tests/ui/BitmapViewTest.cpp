// The bitmap view: zero-copy images over the bitmap's rows and painting at
// a zoom step with nearest-neighbour scaling.

#include "UiTest.h"

#include "BitmapView.h"
#include "Bitmap.h"

#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

using namespace uitest;

namespace {

QRgb Rgb(TColor c) { return qRgb(GetRValue(c), GetGValue(c), GetBValue(c)); }

// What the view shows, painted into an image of its size.
QImage Shown(TBitmapView& view)
{
    QImage out(view.size(), QImage::Format_RGB32);
    out.fill(Qt::magenta);
    view.render(&out);
    return out;
}

// A 4 x 3 picture whose pixels all differ.
void Fill(TBitmap& b)
{
    for (int y = 0; y < b.Height(); ++y)
        for (int x = 0; x < b.Width(); ++x)
            b.SetPixelColor(x, y, RGB(40 * x + 10, 60 * y + 20, 7 * (x + y) + 30));
}

class BitmapViewTest : public ::testing::Test {
protected:
    void SetUp() override { App(); }
};

} // namespace

TEST_F(BitmapViewTest, TrueColourImagesShareTheBitmapRows)
{
    for (TPixelFormat format : {pf24bit, pf32bit}) {
        TBitmap b(5, 3, format); // 5 pixels: 24-bit rows carry padding
        Fill(b);
        const QImage image = WrapBitmap(b);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.constBits(), b.ScanLine(0));
        EXPECT_EQ(static_cast<std::size_t>(image.bytesPerLine()), b.RowStride());
        EXPECT_EQ(image.format(), format == pf24bit ? QImage::Format_BGR888 : QImage::Format_RGB32);
        EXPECT_EQ(image.size(), QSize(5, 3));
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 5; ++x)
                EXPECT_EQ(image.pixel(x, y), Rgb(b.GetPixelColor(x, y))) << x << "," << y;

        // A change of the bitmap is seen through the same image.
        b.SetPixelColor(4, 2, clRed);
        EXPECT_EQ(image.pixel(4, 2), qRgb(255, 0, 0));
    }
}

TEST_F(BitmapViewTest, OtherFormatsAndEmptyBitmapsAreNotWrapped)
{
    EXPECT_TRUE(WrapBitmap(TBitmap(4, 4, pf8bit)).isNull());
    EXPECT_TRUE(WrapBitmap(TBitmap(4, 4, pf16bit)).isNull());
    EXPECT_TRUE(WrapBitmap(TBitmap(0, 0, pf24bit)).isNull());
}

TEST_F(BitmapViewTest, TheViewPaintsStraightFromTheBitmap)
{
    TBitmap b(4, 3);
    Fill(b);
    TBitmapView view;
    view.SetBitmap(&b);
    EXPECT_EQ(view.PaintImage().constBits(), b.ScanLine(0));
    EXPECT_EQ(view.size(), QSize(4, 3));

    QImage shown = Shown(view);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(shown.pixel(x, y), Rgb(b.GetPixelColor(x, y)));

    // The picture changes in place; the next paint shows it.
    b.SetPixelColor(2, 1, clBlue);
    EXPECT_EQ(Shown(view).pixel(2, 1), qRgb(0, 0, 255));
}

TEST_F(BitmapViewTest, PaletteBitmapsAreShownThroughACopy)
{
    TBitmap b(3, 2, pf8bit);
    b.SetPixelColor(0, 0, clRed);
    b.SetPixelColor(2, 1, clBlue);
    TBitmapView view;
    view.SetBitmap(&b);
    EXPECT_NE(view.PaintImage().constBits(), b.ScanLine(0));
    QImage shown = Shown(view);
    EXPECT_EQ(shown.pixel(0, 0), Rgb(b.GetPixelColor(0, 0)));
    EXPECT_EQ(shown.pixel(2, 1), Rgb(b.GetPixelColor(2, 1)));
    EXPECT_EQ(shown.pixel(1, 0), qRgb(255, 255, 255));
    // Changes show without a new SetBitmap here too.
    b.SetPixelColor(1, 0, clBlack);
    EXPECT_EQ(Shown(view).pixel(1, 0), qRgb(0, 0, 0));
}

TEST_F(BitmapViewTest, EnlargingRepeatsEachPixelAsASquare)
{
    TBitmap b(4, 3);
    Fill(b);
    TBitmapView view;
    view.SetBitmap(&b);
    view.SetZoom(2); // 3 screen pixels a picture pixel
    ASSERT_EQ(view.size(), QSize(12, 9));
    const QImage shown = Shown(view);
    for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 12; ++x)
            ASSERT_EQ(shown.pixel(x, y), Rgb(b.GetPixelColor(x / 3, y / 3))) << x << "," << y;
}

TEST_F(BitmapViewTest, PartialRepaintsAtAZoomMatchTheWholePicture)
{
    TBitmap b(9, 7);
    Fill(b);
    TBitmapView view;
    view.SetBitmap(&b);
    view.SetZoom(3);
    const QImage whole = Shown(view);
    // Regions whose edges fall inside screen-pixel blocks.
    for (const QRect& r : {QRect(5, 3, 7, 9), QRect(1, 1, 2, 2), QRect(30, 22, 6, 6)}) {
        QImage part(view.size(), QImage::Format_RGB32);
        part.fill(Qt::magenta);
        // The region's corner lands on the target offset.
        view.render(&part, r.topLeft(), QRegion(r));
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                ASSERT_EQ(part.pixel(x, y), whole.pixel(x, y)) << x << "," << y;
    }
}

TEST_F(BitmapViewTest, ReducingPicksPixelsWithoutBlending)
{
    // A black and white checkerboard: any smoothing would show grey.
    TBitmap b(8, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 8; ++x)
            b.SetPixelColor(x, y, (x + y) % 2 ? clBlack : clWhite);
    TBitmapView view;
    view.SetBitmap(&b);
    view.SetZoom(-1); // half size
    ASSERT_EQ(view.size(), QSize(4, 3));
    const QImage shown = Shown(view);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const QRgb p = shown.pixel(x, y);
            EXPECT_TRUE(p == qRgb(0, 0, 0) || p == qRgb(255, 255, 255)) << x << "," << y;
        }
}

TEST_F(BitmapViewTest, ZoomedSizesFollowTheZoomSteps)
{
    EXPECT_EQ(ZoomedSize(640, 0), 640);
    EXPECT_EQ(ZoomedSize(640, 1), 1280);
    EXPECT_EQ(ZoomedSize(100, -2), 33);     // factor 1/3 in single precision
    EXPECT_EQ(ZoomedSize(5, -1), 2);        // 2.5: halves go to even
    EXPECT_EQ(ZoomedSize(7, -1), 4);        // 3.5
    EXPECT_EQ(ZoomedSize(3, -9), 0);        // reduced to nothing
    EXPECT_EQ(ZoomedSize(1000, 1'000'000'000), 1'000'000'001'000LL);

    // The view keeps to what a widget can be and paints nothing at size 0.
    TBitmap b(3, 3);
    TBitmapView view;
    view.SetBitmap(&b);
    view.SetZoom(-9);
    EXPECT_EQ(view.size(), QSize(0, 0));
    view.SetZoom(2'000'000'000);
    EXPECT_EQ(view.DisplaySize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
}
