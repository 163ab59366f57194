#pragma once
// TCanvas: pen, brush and font with the drawing operations the programs use;
// TBitmapCanvas draws into a TBitmap. Other surfaces (the printer) derive
// their own canvas.

#include "Types.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TBitmap;
class TGraphic;

enum class TPenStyle { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
using enum TPenStyle;

// The sixteen binary raster operations of pen and brush.
enum class TPenMode {
    pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
    pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor
};
using enum TPenMode;

enum class TBrushStyle { bsSolid, bsClear };
using enum TBrushStyle;

// Raster operations of CopyRect and the bitmap blits.
using TCopyMode = std::uint32_t;
constexpr TCopyMode cmBlackness = 0x00000042;
constexpr TCopyMode cmDstInvert = 0x00550009;
constexpr TCopyMode cmMergePaint = 0x00BB0226;
constexpr TCopyMode cmNotSrcCopy = 0x00330008;
constexpr TCopyMode cmNotSrcErase = 0x001100A6;
constexpr TCopyMode cmSrcAnd = 0x008800C6;
constexpr TCopyMode cmSrcCopy = 0x00CC0020;
constexpr TCopyMode cmSrcErase = 0x00440328;
constexpr TCopyMode cmSrcInvert = 0x00660046;
constexpr TCopyMode cmSrcPaint = 0x00EE0086;
constexpr TCopyMode cmWhiteness = 0x00FF0062;

struct TPen {
    TColor Color = clBlack;
    int Width = 1;
    TPenStyle Style = psSolid;
    TPenMode Mode = pmCopy;
};

struct TBrush {
    TColor Color = clWhite;
    TBrushStyle Style = bsSolid;
};

struct TFont {
    std::string Name = "Arial";
    int Size = 8; // points
    TColor Color = clBlack;
    bool Bold = false;
    bool Italic = false;
};

// Applies a pen mode to a pen value and a destination value, bit by bit.
std::uint32_t ApplyPenMode(TPenMode mode, std::uint32_t pen, std::uint32_t dest);
// Applies a copy mode to a source, destination and brush value, bit by bit.
std::uint32_t ApplyCopyMode(TCopyMode mode, std::uint32_t source, std::uint32_t dest, std::uint32_t pattern = 0);

class TCanvas {
public:
    TCanvas() = default;
    TCanvas(const TCanvas&) = delete;
    TCanvas& operator=(const TCanvas&) = delete;
    virtual ~TCanvas() = default;

    TPen Pen;
    TBrush Brush;
    TFont Font;
    TCopyMode CopyMode = cmSrcCopy;
    TPoint PenPos;
    std::function<void()> OnChange;

    void MoveTo(int x, int y) { PenPos = TPoint{x, y}; }
    // A line from the pen position to (x, y), the last point left out.
    virtual void LineTo(int x, int y) = 0;
    // The outline with the pen, the inside with the brush; right and bottom
    // are exclusive. Every covered pixel is drawn exactly once, so an XOR
    // rectangle drawn twice restores the picture.
    virtual void Rectangle(int left, int top, int right, int bottom) = 0;
    void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
    // Fills with the brush, whatever the pen mode.
    virtual void FillRect(const TRect& r) = 0;

    virtual TColor GetPixel(int x, int y) const = 0;
    virtual void SetPixel(int x, int y, TColor color) = 0;

    void Draw(int x, int y, TGraphic& graphic);
    void StretchDraw(const TRect& r, TGraphic& graphic);
    // Copies srcRect of source into dest, stretched, with CopyMode.
    virtual void CopyRect(const TRect& dest, TCanvas& source, const TRect& srcRect);

    // The drawing primitive of the pictures: srcRect of bitmap stretched
    // into dest (nearest neighbour; a reversed rectangle mirrors).
    virtual void StretchBitmap(const TRect& dest, const TBitmap& bitmap, const TRect& srcRect,
                               TCopyMode mode = cmSrcCopy) = 0;
    // The same, leaving out the source pixels whose colour is transparent.
    virtual void StretchBitmapTransparent(const TRect& dest, const TBitmap& bitmap, const TRect& srcRect,
                                          TColor transparent) = 0;

    // Text. The bitmap canvas has no fonts and raises EInvalidGraphicOperation.
    virtual void TextOut(int x, int y, const std::string& text);
    virtual int TextWidth(const std::string& text);
    virtual int TextHeight(const std::string& text);

    // The surface's size; drawing outside it is clipped.
    virtual TRect ClipRect() const = 0;
    // The bitmap behind the canvas, or null for other surfaces.
    virtual const TBitmap* SourceBitmap() const { return nullptr; }
    // Expires when the canvas goes: holders of a weak copy (painter threads)
    // learn that their target is gone.
    std::weak_ptr<const void> AliveToken() const { return FAlive; }

protected:
    void Changed()
    {
        if (OnChange)
            OnChange();
    }

private:
    std::shared_ptr<const int> FAlive = std::make_shared<const int>(0);
};

class TBitmapCanvas : public TCanvas {
public:
    explicit TBitmapCanvas(TBitmap& bitmap) : FBitmap(bitmap) {}

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
    TRect ClipRect() const override;
    const TBitmap* SourceBitmap() const override { return &FBitmap; }

private:
    // Applies the pen mode of the pen colour to one pixel inside the picture.
    void PenPixel(int x, int y, std::uint32_t penRaw, TPenMode mode);
    TBitmap& FBitmap;
};
