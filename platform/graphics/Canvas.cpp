#include "Canvas.h"

#include "Bitmap.h"
#include "Exceptions.h"
#include "Graphic.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

std::uint32_t ApplyPenMode(TPenMode mode, std::uint32_t p, std::uint32_t d)
{
    switch (mode) {
    case pmBlack:
        return 0;
    case pmWhite:
        return ~0u;
    case pmNop:
        return d;
    case pmNot:
        return ~d;
    case pmCopy:
        return p;
    case pmNotCopy:
        return ~p;
    case pmMergePenNot:
        return p | ~d;
    case pmMaskPenNot:
        return p & ~d;
    case pmMergeNotPen:
        return ~p | d;
    case pmMaskNotPen:
        return ~p & d;
    case pmMerge:
        return p | d;
    case pmNotMerge:
        return ~(p | d);
    case pmMask:
        return p & d;
    case pmNotMask:
        return ~(p & d);
    case pmXor:
        return p ^ d;
    case pmNotXor:
        return ~(p ^ d);
    }
    return d;
}

std::uint32_t ApplyCopyMode(TCopyMode mode, std::uint32_t s, std::uint32_t d, std::uint32_t p)
{
    // The operation's truth table: bit (p << 2 | s << 1 | d) of the code byte.
    unsigned code = (mode >> 16) & 0xFF;
    std::uint32_t result = 0;
    for (unsigned i = 0; i < 8; ++i) {
        if (!(code & (1u << i)))
            continue;
        std::uint32_t term = ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
        result |= term;
    }
    return result;
}


// --- TCanvas

void TCanvas::Draw(int x, int y, TGraphic& graphic)
{
    if (graphic.Empty())
        return;
    graphic.Draw(*this, Rect(x, y, x + graphic.Width(), y + graphic.Height()));
}

void TCanvas::StretchDraw(const TRect& r, TGraphic& graphic)
{
    if (graphic.Empty())
        return;
    graphic.Draw(*this, r);
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& srcRect)
{
    const TBitmap* bitmap = source.SourceBitmap();
    if (!bitmap)
        throw EInvalidGraphicOperation("Le canevas ne permet pas de dessiner");
    StretchBitmap(dest, *bitmap, srcRect, CopyMode);
}

void TCanvas::TextOut(int, int, const std::string&)
{
    throw EInvalidGraphicOperation("Le canevas ne permet pas de dessiner");
}

int TCanvas::TextWidth(const std::string&)
{
    throw EInvalidGraphicOperation("Le canevas ne permet pas de dessiner");
}

int TCanvas::TextHeight(const std::string&)
{
    throw EInvalidGraphicOperation("Le canevas ne permet pas de dessiner");
}

// --- TBitmapCanvas

namespace {

std::uint32_t ValueMask(TPixelFormat format)
{
    switch (format) {
    case pf1bit:
        return 0x1;
    case pf4bit:
        return 0xF;
    case pf8bit:
        return 0xFF;
    case pf15bit:
        return 0x7FFF;
    case pf16bit:
        return 0xFFFF;
    case pf32bit:
        return 0xFFFFFFFF;
    default:
        return 0xFFFFFF;
    }
}

// On and off lengths of the dashed pen styles (thin pens only).
const std::vector<int>& DashPattern(TPenStyle style)
{
    static const std::vector<int> solid;
    static const std::vector<int> dash{18, 6};
    static const std::vector<int> dot{3, 3};
    static const std::vector<int> dashDot{9, 6, 3, 6};
    static const std::vector<int> dashDotDot{9, 3, 3, 3, 3, 3};
    switch (style) {
    case psDash:
        return dash;
    case psDot:
        return dot;
    case psDashDot:
        return dashDot;
    case psDashDotDot:
        return dashDotDot;
    default:
        return solid;
    }
}

// Walks a dash pattern one pixel at a time.
class DashWalker {
public:
    explicit DashWalker(const std::vector<int>& pattern) : FPattern(pattern) {}
    bool Next()
    {
        if (FPattern.empty())
            return true;
        bool on = (FSegment % 2) == 0;
        if (++FStep >= FPattern[FSegment]) {
            FStep = 0;
            FSegment = (FSegment + 1) % FPattern.size();
        }
        return on;
    }

private:
    const std::vector<int>& FPattern;
    std::size_t FSegment = 0;
    int FStep = 0;
};

// A set of pixels inside a box, each marked at most once.
class PixelSet {
public:
    PixelSet(const TRect& box) : FBox(box)
    {
        if (!box.IsEmpty())
            FMarks.assign(static_cast<std::size_t>(box.Width()) * static_cast<std::size_t>(box.Height()), false);
    }
    void Add(int x, int y)
    {
        if (x < FBox.Left || y < FBox.Top || x >= FBox.Right || y >= FBox.Bottom)
            return;
        FMarks[static_cast<std::size_t>(y - FBox.Top) * static_cast<std::size_t>(FBox.Width()) +
               static_cast<std::size_t>(x - FBox.Left)] = true;
    }
    template <class F> void ForEach(F f) const
    {
        for (int y = FBox.Top; y < FBox.Bottom; ++y)
            for (int x = FBox.Left; x < FBox.Right; ++x)
                if (FMarks[static_cast<std::size_t>(y - FBox.Top) * static_cast<std::size_t>(FBox.Width()) +
                           static_cast<std::size_t>(x - FBox.Left)])
                    f(x, y);
    }

private:
    TRect FBox;
    std::vector<bool> FMarks;
};

TRect Intersect(const TRect& a, const TRect& b)
{
    TRect r{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right), std::min(a.Bottom, b.Bottom)};
    if (r.IsEmpty())
        return TRect{};
    return r;
}

} // namespace

TRect TBitmapCanvas::ClipRect() const
{
    return Rect(0, 0, FBitmap.Width(), FBitmap.Height());
}

void TBitmapCanvas::PenPixel(int x, int y, std::uint32_t penRaw, TPenMode mode)
{
    std::uint32_t mask = ValueMask(FBitmap.PixelFormat());
    std::uint32_t dest = FBitmap.GetRawPixel(x, y);
    FBitmap.SetRawPixel(x, y, ApplyPenMode(mode, penRaw, dest) & mask);
}

TColor TBitmapCanvas::GetPixel(int x, int y) const
{
    return FBitmap.GetPixelColor(x, y);
}

void TBitmapCanvas::SetPixel(int x, int y, TColor color)
{
    if (x < 0 || y < 0 || x >= FBitmap.Width() || y >= FBitmap.Height())
        return;
    FBitmap.SetPixelColor(x, y, color);
    Changed();
}

void TBitmapCanvas::FillRect(const TRect& r)
{
    if (Brush.Style == bsClear)
        return;
    TRect area = Intersect(TRect{std::min(r.Left, r.Right), std::min(r.Top, r.Bottom), std::max(r.Left, r.Right),
                                 std::max(r.Top, r.Bottom)},
                           ClipRect());
    if (area.IsEmpty())
        return;
    std::uint32_t raw = FBitmap.ColorToRaw(ColorToRGB(Brush.Color));
    for (int y = area.Top; y < area.Bottom; ++y)
        for (int x = area.Left; x < area.Right; ++x)
            FBitmap.SetRawPixel(x, y, raw);
    Changed();
}

void TBitmapCanvas::Rectangle(int left, int top, int right, int bottom)
{
    if (right < left)
        std::swap(left, right);
    if (bottom < top)
        std::swap(top, bottom);
    TRect clip = ClipRect();
    bool penVisible = Pen.Style != psClear;
    int w = std::max(1, Pen.Width);

    // The outline covers outer minus inner; the brush fills inner.
    TRect outer, inner;
    if (!penVisible) {
        outer = TRect{};
        inner = Rect(left, top, right - 1, bottom - 1);
    } else if (Pen.Style == psInsideFrame) {
        outer = Rect(left, top, right, bottom);
        inner = Rect(left + w, top + w, right - w, bottom - w);
    } else {
        int half = w / 2;
        outer = Rect(left - half, top - half, right - 1 - half + w, bottom - 1 - half + w);
        inner = Rect(left - half + w, top - half + w, right - 1 - half, bottom - 1 - half);
    }
    if (inner.IsEmpty())
        inner = TRect{};

    if (Brush.Style != bsClear && !inner.IsEmpty()) {
        std::uint32_t raw = FBitmap.ColorToRaw(ColorToRGB(Brush.Color));
        TRect fill = Intersect(inner, clip);
        for (int y = fill.Top; y < fill.Bottom; ++y)
            for (int x = fill.Left; x < fill.Right; ++x)
                PenPixel(x, y, raw, Pen.Mode);
    }

    if (penVisible && !outer.IsEmpty()) {
        std::uint32_t raw = FBitmap.ColorToRaw(ColorToRGB(Pen.Color));
        const std::vector<int>& pattern = DashPattern(Pen.Style);
        if (w == 1 && !pattern.empty()) {
            // A thin dashed frame: walk the perimeter once, clockwise.
            PixelSet set(Intersect(outer, clip));
            DashWalker dash(pattern);
            int l = outer.Left, t = outer.Top, r = outer.Right - 1, b = outer.Bottom - 1;
            for (int x = l; x <= r; ++x)
                if (dash.Next())
                    set.Add(x, t);
            for (int y = t + 1; y <= b; ++y)
                if (dash.Next())
                    set.Add(r, y);
            if (b > t)
                for (int x = r - 1; x >= l; --x)
                    if (dash.Next())
                        set.Add(x, b);
            if (r > l)
                for (int y = b - 1; y > t; --y)
                    if (dash.Next())
                        set.Add(l, y);
            set.ForEach([&](int x, int y) { PenPixel(x, y, raw, Pen.Mode); });
        } else {
            TRect band = Intersect(outer, clip);
            for (int y = band.Top; y < band.Bottom; ++y) {
                bool middle = !inner.IsEmpty() && y >= inner.Top && y < inner.Bottom;
                for (int x = band.Left; x < band.Right; ++x) {
                    if (middle && x >= inner.Left && x < inner.Right) {
                        x = inner.Right - 1;
                        continue;
                    }
                    PenPixel(x, y, raw, Pen.Mode);
                }
            }
        }
    }
    Changed();
}

void TBitmapCanvas::LineTo(int x1, int y1)
{
    int x0 = PenPos.X, y0 = PenPos.Y;
    PenPos = TPoint{x1, y1};
    if (Pen.Style == psClear)
        return;
    int w = std::max(1, Pen.Width);
    const std::vector<int>& pattern = w == 1 ? DashPattern(Pen.Style) : DashPattern(psSolid);
    int dx = std::abs(x1 - x0), dy = -std::abs(y1 - y0);
    int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    int half = (w - 1) / 2;
    TRect box = Intersect(Rect(std::min(x0, x1) - half, std::min(y0, y1) - half, std::max(x0, x1) - half + w,
                               std::max(y0, y1) - half + w),
                          ClipRect());
    if (box.IsEmpty())
        return;
    PixelSet set(box);
    DashWalker dash(pattern);
    int err = dx + dy;
    int x = x0, y = y0;
    while (!(x == x1 && y == y1)) {
        if (dash.Next()) {
            for (int py = y - half; py < y - half + w; ++py)
                for (int px = x - half; px < x - half + w; ++px)
                    set.Add(px, py);
        }
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
    std::uint32_t raw = FBitmap.ColorToRaw(ColorToRGB(Pen.Color));
    set.ForEach([&](int px, int py) { PenPixel(px, py, raw, Pen.Mode); });
    Changed();
}

namespace {

// Maps destination columns (or rows) onto source columns by nearest
// neighbour; a negative extent on either side mirrors.
std::vector<int> MapAxis(int dstStart, int dstEnd, int srcStart, int srcEnd, int clipStart, int clipEnd,
                         int& firstDst)
{
    bool mirror = (dstEnd < dstStart) != (srcEnd < srcStart);
    int d0 = std::min(dstStart, dstEnd), d1 = std::max(dstStart, dstEnd);
    int s0 = std::min(srcStart, srcEnd), s1 = std::max(srcStart, srcEnd);
    long long dn = d1 - d0, sn = s1 - s0;
    int from = std::max(d0, clipStart), to = std::min(d1, clipEnd);
    firstDst = from;
    std::vector<int> map;
    if (dn <= 0 || sn <= 0 || to <= from)
        return map;
    map.reserve(static_cast<std::size_t>(to - from));
    for (int d = from; d < to; ++d) {
        long long i = d - d0;
        if (mirror)
            i = dn - 1 - i;
        map.push_back(static_cast<int>(s0 + (2 * i + 1) * sn / (2 * dn)));
    }
    return map;
}

} // namespace

void TBitmapCanvas::StretchBitmap(const TRect& dest, const TBitmap& bitmap, const TRect& srcRect, TCopyMode mode)
{
    if (bitmap.GetEmpty())
        return;
    // Drawing a bitmap onto itself reads from a copy.
    if (&bitmap == &FBitmap) {
        TBitmap copy;
        copy.Assign(bitmap);
        StretchBitmap(dest, copy, srcRect, mode);
        return;
    }
    TRect clip = ClipRect();
    int firstX, firstY;
    std::vector<int> xs = MapAxis(dest.Left, dest.Right, srcRect.Left, srcRect.Right, clip.Left, clip.Right, firstX);
    std::vector<int> ys = MapAxis(dest.Top, dest.Bottom, srcRect.Top, srcRect.Bottom, clip.Top, clip.Bottom, firstY);
    if (xs.empty() || ys.empty())
        return;
    std::uint32_t mask = ValueMask(FBitmap.PixelFormat());
    std::uint32_t brush = FBitmap.ColorToRaw(ColorToRGB(Brush.Color));
    bool plain24 = mode == cmSrcCopy && FBitmap.PixelFormat() == pf24bit && bitmap.PixelFormat() == pf24bit;
    bool sameFormat = FBitmap.PixelFormat() == bitmap.PixelFormat() && FBitmap.GetPalette() == bitmap.GetPalette();
    TColor lastColour = clInvalid;
    std::uint32_t lastRaw = 0;
    for (std::size_t j = 0; j < ys.size(); ++j) {
        int sy = ys[j];
        if (sy < 0 || sy >= bitmap.Height())
            continue;
        int y = firstY + static_cast<int>(j);
        if (plain24) {
            const std::uint8_t* src = bitmap.ScanLine(sy);
            std::uint8_t* dst = FBitmap.ScanLine(y);
            for (std::size_t i = 0; i < xs.size(); ++i) {
                int sx = xs[i];
                if (sx < 0 || sx >= bitmap.Width())
                    continue;
                std::memcpy(dst + static_cast<std::size_t>(firstX + static_cast<int>(i)) * 3, src + sx * 3, 3);
            }
            continue;
        }
        for (std::size_t i = 0; i < xs.size(); ++i) {
            int sx = xs[i];
            if (sx < 0 || sx >= bitmap.Width())
                continue;
            int x = firstX + static_cast<int>(i);
            std::uint32_t s;
            if (sameFormat) {
                s = bitmap.GetRawPixel(sx, sy);
            } else {
                TColor c = bitmap.GetPixelColor(sx, sy);
                if (c != lastColour) {
                    lastColour = c;
                    lastRaw = FBitmap.ColorToRaw(c);
                }
                s = lastRaw;
            }
            std::uint32_t v = mode == cmSrcCopy ? s : ApplyCopyMode(mode, s, FBitmap.GetRawPixel(x, y), brush);
            FBitmap.SetRawPixel(x, y, v & mask);
        }
    }
    Changed();
}

void TBitmapCanvas::StretchBitmapTransparent(const TRect& dest, const TBitmap& bitmap, const TRect& srcRect,
                                             TColor transparent)
{
    if (bitmap.GetEmpty())
        return;
    if (&bitmap == &FBitmap) {
        TBitmap copy;
        copy.Assign(bitmap);
        StretchBitmapTransparent(dest, copy, srcRect, transparent);
        return;
    }
    TRect clip = ClipRect();
    int firstX, firstY;
    std::vector<int> xs = MapAxis(dest.Left, dest.Right, srcRect.Left, srcRect.Right, clip.Left, clip.Right, firstX);
    std::vector<int> ys = MapAxis(dest.Top, dest.Bottom, srcRect.Top, srcRect.Bottom, clip.Top, clip.Bottom, firstY);
    TColor key = ColorToRGB(transparent);
    TColor lastColour = clInvalid;
    std::uint32_t lastRaw = 0;
    for (std::size_t j = 0; j < ys.size(); ++j) {
        int sy = ys[j];
        if (sy < 0 || sy >= bitmap.Height())
            continue;
        for (std::size_t i = 0; i < xs.size(); ++i) {
            int sx = xs[i];
            if (sx < 0 || sx >= bitmap.Width())
                continue;
            TColor c = bitmap.GetPixelColor(sx, sy);
            if (c == key)
                continue;
            if (c != lastColour) {
                lastColour = c;
                lastRaw = FBitmap.ColorToRaw(c);
            }
            FBitmap.SetRawPixel(firstX + static_cast<int>(i), firstY + static_cast<int>(j), lastRaw);
        }
    }
    Changed();
}
