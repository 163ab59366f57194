// Frame rendering: the palette bitmap and its mask, the web palette,
// placement, tiling and masked drawing, trimming and masking unchanged
// pixels. Expected values are worked out by hand.

#include "GifAnimation.h"

#include <gtest/gtest.h>

using namespace gifanim;

namespace {

const std::vector<TColor> Colours{clWhite, clRed, clLime, clBlue};

} // namespace

TEST(GifFrameRender, OwnPaletteKeepsTheIndicesAndMasksTransparentPixels)
{
    FramePlan f;
    f.Width = 17;
    f.Height = 2;
    f.Pixels.assign(34, 1);
    f.Pixels[0] = 0;
    f.Pixels[16] = 0;
    f.Pixels[17 + 8] = 0;
    f.Pixels[17 + 9] = 3;
    f.Transparent = 0;
    auto image = MakeAnimation(17, 2, Colours, {f});
    TGIFSubImage& frame = *image->Frames.Frame(0);
    TBitmap* bitmap = frame.RenderedBitmap();
    ASSERT_NE(bitmap, nullptr);
    ASSERT_EQ(bitmap->Width(), 17);
    ASSERT_EQ(bitmap->Height(), 2);
    EXPECT_EQ(bitmap->PixelFormat(), pf8bit);
    EXPECT_EQ(bitmap->ScanLine(1)[9], 3);
    EXPECT_EQ(bitmap->ScanLine(0)[1], 1);
    EXPECT_EQ(bitmap->GetPalette().size(), 4u);
    ASSERT_TRUE(frame.MaskReady());
    // Rows of 4 bytes; bits from 0x80 of the first byte.
    EXPECT_EQ(TGIFSubImage::MaskStride(17), 4u);
    EXPECT_EQ(frame.MaskBits(), (std::vector<std::uint8_t>{0x80, 0, 0x80, 0, 0, 0x80, 0, 0}));
    // The same bitmap until something changes.
    EXPECT_EQ(frame.RenderedBitmap(), bitmap);
    // A table of its own: rendered again in its colours.
    frame.ColorMap().AppendColor(clYellow);
    EXPECT_TRUE(frame.MaskReady());
    EXPECT_EQ(frame.RenderedBitmap()->GetPalette().size(), 1u);
}

// A frame of transparent pixels only (an optimiser's pause) shows nothing
// when drawn with transparency, and its colour when drawn opaque.
TEST(GifFrameRender, AnAllTransparentFrameDrawsNothingThroughItsMask)
{
    FramePlan f;
    f.Width = 2;
    f.Pixels = {2, 2};
    f.Transparent = 2;
    auto image = MakeAnimation(2, 1, Colours, {f});
    TGIFSubImage& frame = *image->Frames.Frame(0);
    EXPECT_TRUE(frame.MaskReady());
    TBitmap target(2, 1);
    frame.StretchDrawFrame(target.Canvas(), TRect{0, 0, 2, 1}, false, true);
    EXPECT_EQ(Row(target, 0), (std::vector<TColor>{clWhite, clWhite}));
    frame.StretchDrawFrame(target.Canvas(), TRect{0, 0, 2, 1}, false, false);
    EXPECT_EQ(Row(target, 0), (std::vector<TColor>{clLime, clLime}));
}

TEST(GifFrameRender, WebPaletteDithersToTheCube)
{
    FramePlan f;
    f.Width = 3;
    f.Pixels = {0, 1, 2};
    f.Transparent = 2;
    auto image = MakeAnimation(3, 1, {RGB(51, 102, 153), RGB(255, 0, 51), RGB(0, 0, 0)}, {f});
    image->PaintOptions = poWebPalette;
    TGIFSubImage& frame = *image->Frames.Frame(0);
    TBitmap* bitmap = frame.RenderedBitmap();
    ASSERT_NE(bitmap, nullptr);
    ASSERT_EQ(bitmap->GetPalette().size(), 216u);
    // Index 36 r + 6 g + b of the levels (colours on the cube dither to
    // themselves); the transparent pixel holds its colour's cube index.
    EXPECT_EQ(bitmap->ScanLine(0)[0], 36 * 1 + 6 * 2 + 3);
    EXPECT_EQ(bitmap->ScanLine(0)[1], 36 * 5 + 6 * 0 + 1);
    EXPECT_EQ(bitmap->ScanLine(0)[2], 0);
    EXPECT_EQ(frame.MaskBits(), (std::vector<std::uint8_t>{0x20, 0}));
    // The default options on a true-colour screen keep the frame's palette.
    image->PaintOptions = GIFDefaultPaintOptions;
    frame.SetFramePalette({});
    frame.ReleaseCachedBitmap();
    EXPECT_EQ(frame.RenderedBitmap()->GetPalette().size(), 3u);
}

TEST(GifFrameRender, DrawFramePlacesScalesAndTiles)
{
    FramePlan back;
    back.Width = 2;
    back.Pixels = {0, 0};
    FramePlan f;
    f.Left = 1;
    f.Width = 1;
    f.Pixels = {1};
    auto image = MakeAnimation(2, 1, Colours, {back, f});
    TGIFSubImage& frame = *image->Frames.Frame(1);
    TBitmap target(4, 2);
    target.Canvas().Brush.Color = clBlack;
    target.Canvas().FillRect(TRect{0, 0, 4, 2});
    frame.DrawFrame(target.Canvas(), TRect{0, 0, 4, 2}, false, false);
    EXPECT_EQ(Row(target, 0), (std::vector<TColor>{clBlack, clBlack, clRed, clRed}));
    EXPECT_EQ(Row(target, 1), Row(target, 0));

    // Tiles of the frame's size from its own position, stepping by the
    // screen's size, not clipped to the rectangle.
    TBitmap tiles(6, 1);
    tiles.Canvas().Brush.Color = clBlack;
    tiles.Canvas().FillRect(TRect{0, 0, 6, 1});
    frame.DrawFrame(tiles.Canvas(), TRect{0, 0, 4, 1}, true, false);
    EXPECT_EQ(Row(tiles, 0), (std::vector<TColor>{clBlack, clRed, clBlack, clRed, clBlack, clBlack}));
}

TEST(GifFrameRender, MaskedDrawingLeavesTheCanvasUnderTransparentPixels)
{
    FramePlan f;
    f.Width = 4;
    f.Pixels = {1, 0, 3, 0};
    f.Transparent = 0;
    auto image = MakeAnimation(4, 1, Colours, {f});
    TGIFSubImage& frame = *image->Frames.Frame(0);
    TBitmap target(8, 1);
    target.Canvas().Brush.Color = clYellow;
    target.Canvas().FillRect(TRect{0, 0, 8, 1});
    const TColor brush = target.Canvas().Brush.Color;
    frame.StretchDrawFrame(target.Canvas(), TRect{0, 0, 8, 1}, false, true);
    EXPECT_EQ(Row(target, 0),
              (std::vector<TColor>{clRed, clRed, clYellow, clYellow, clBlue, clBlue, clYellow, clYellow}));
    EXPECT_EQ(target.Canvas().Brush.Color, brush);
    // Opaque: index 0 is white.
    frame.StretchDrawFrame(target.Canvas(), TRect{0, 0, 4, 1}, false, false);
    EXPECT_EQ(Row(target, 0)[1], clWhite);
}

TEST(GifFrameEdit, TrimTransparentBordersKeepsTheOpaqueRectangle)
{
    FramePlan f;
    f.Left = 1;
    f.Top = 1;
    f.Width = 4;
    f.Height = 3;
    f.Pixels.assign(12, 0);
    f.Pixels[1 * 4 + 2] = 3;
    f.Transparent = 0;
    auto image = MakeAnimation(6, 5, Colours, {f});
    TGIFSubImage& frame = *image->Frames.Frame(0);
    frame.TrimTransparentBorders();
    EXPECT_EQ(frame.FrameLeft(), 3);
    EXPECT_EQ(frame.FrameTop(), 2);
    ASSERT_EQ(frame.FrameWidth(), 1);
    ASSERT_EQ(frame.FrameHeight(), 1);
    ASSERT_EQ(frame.PixelDataSize(), 1u);
    EXPECT_EQ(frame.PixelData()[0], 3);

    // Nothing opaque: the frame is cleared.
    FramePlan none = f;
    none.Pixels.assign(12, 0);
    auto empty = MakeAnimation(6, 5, Colours, {none});
    empty->Frames.Frame(0)->TrimTransparentBorders();
    EXPECT_TRUE(empty->Frames.Frame(0)->IsEmpty());
}

TEST(GifFrameEdit, MaskUnchangedPixelsMakesRepeatsTransparent)
{
    FramePlan a;
    a.Width = 4;
    a.Pixels = {1, 2, 3, 1};
    a.Disposal = 1;
    FramePlan b;
    b.Left = 1;
    b.Width = 3;
    b.Pixels = {2, 1, 1};
    auto image = MakeAnimation(4, 1, Colours, {a, b});
    TGIFSubImage& second = *image->Frames.Frame(1);
    second.MaskUnchangedPixels(image->Frames.Frame(0));
    // Black appended to the global table as index 4 and made transparent.
    ASSERT_EQ(image->Header.GlobalTable.EntryCount(), 5);
    EXPECT_EQ(second.TransparentIndex(), 4);
    EXPECT_EQ(std::vector<std::uint8_t>(second.PixelData(), second.PixelData() + 3),
              (std::vector<std::uint8_t>{4, 1, 4}));

    // After a frame that is restored to the background nothing changes.
    a.Disposal = 2;
    auto restored = MakeAnimation(4, 1, Colours, {a, b});
    restored->Frames.Frame(1)->MaskUnchangedPixels(restored->Frames.Frame(0));
    EXPECT_EQ(restored->Frames.Frame(1)->TransparentIndex(), -1);
    EXPECT_EQ(restored->Frames.Frame(1)->PixelData()[0], 2);
}

TEST(GifFrameEdit, MaskUnchangedPixelsKeepsTheLookWhenReusingAnIndex)
{
    // Frame 2 is transparent through index 2 (lime); frame 1 shows lime
    // itself. Masking frame 1's repeat of frame 0 must not take index 2,
    // or its lime pixel would turn see-through and show frame 0's blue.
    FramePlan a;
    a.Width = 2;
    a.Pixels = {1, 3};
    a.Disposal = 1;
    FramePlan b;
    b.Width = 2;
    b.Pixels = {1, 2};
    b.Disposal = 1;
    FramePlan c;
    c.Width = 2;
    c.Pixels = {2, 2};
    c.Transparent = 2;
    auto image = MakeAnimation(2, 1, Colours, {a, b, c});
    TGIFSubImage& second = *image->Frames.Frame(1);
    second.MaskUnchangedPixels(image->Frames.Frame(0));
    ASSERT_GE(second.TransparentIndex(), 0);
    EXPECT_NE(second.TransparentIndex(), 2);
    TGIFFrameComposer composer(*image);
    ASSERT_TRUE(composer.SeekFrame(1));
    ASSERT_EQ(composer.Width(), 2);
    ASSERT_EQ(composer.Height(), 1);
    // Red (repeated from frame 0), then lime.
    EXPECT_EQ(composer.Rgb(), (std::vector<std::uint8_t>{255, 0, 0, 0, 255, 0}));
    EXPECT_EQ(composer.Covered(), (std::vector<std::uint8_t>{1, 1}));
}
