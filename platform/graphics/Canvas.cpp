#include "Canvas.h"

#include "Bitmap.h"
#include "Exceptions.h"
#include "Graphic.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
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
    // A picture whose far edge lies beyond int lies beyond every surface.
    const long long right = static_cast<long long>(x) + graphic.Width();
    const long long bottom = static_cast<long long>(y) + graphic.Height();
    if (right > std::numeric_limits<int>::max() || bottom > std::numeric_limits<int>::max())
        return;
    graphic.Draw(*this, Rect(x, y, static_cast<int>(right), static_cast<int>(bottom)));
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

// A rectangle in 64 bits, right and bottom exclusive.
struct Span {
    long long Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
};

// The span with its edges pulled in to one pixel outside clip: the pixels of
// clip it covers stay the same, and the result fits in int.
TRect ToClipped(const Span& s, const TRect& clip)
{
    if (s.IsEmpty())
        return TRect{};
    auto fit = [](long long v, int lo, int hi) {
        return static_cast<int>(std::clamp(v, static_cast<long long>(lo) - 1, static_cast<long long>(hi) + 1));
    };
    return TRect{fit(s.Left, clip.Left, clip.Right), fit(s.Top, clip.Top, clip.Bottom),
                 fit(s.Right, clip.Left, clip.Right), fit(s.Bottom, clip.Top, clip.Bottom)};
}

// Whether the pen is down at step k of a dash pattern (always for solid).
bool DashOn(const std::vector<int>& pattern, long long k)
{
    if (pattern.empty())
        return true;
    long long total = 0;
    for (int len : pattern)
        total += len;
    long long r = k % total;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (r < pattern[i])
            return i % 2 == 0;
        r -= pattern[i];
    }
    return true;
}

} // namespace

TRect TBitmapCanvas::ClipRect() const
{
    return Rect(0, 0, FBitmap.Width(), FBitmap.Height());
}

void TBitmapCanvas::PenPixel(int x, int y, std::uint32_t penRaw, TPenMode mode)
{
    // Bits a format leaves unused (the top bit of 5-5-5) keep their value,
    // so that an XOR drawn twice gives back the very same bytes.
    std::uint32_t mask = ValueMask(FBitmap.PixelFormat());
    std::uint32_t dest = FBitmap.GetRawPixel(x, y);
    FBitmap.SetRawPixel(x, y, (ApplyPenMode(mode, penRaw, dest) & mask) | (dest & ~mask));
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
    const long long w = std::max(1, Pen.Width);
    const long long l = left, t = top, r = right, b = bottom;

    // The outline covers outer minus inner; the brush fills inner. Edges
    // are worked out in 64 bits and then pulled in to just outside the
    // surface, which leaves every pixel of the surface on the same side.
    Span outer, inner;
    if (!penVisible) {
        inner = Span{l, t, r - 1, b - 1};
    } else if (Pen.Style == psInsideFrame) {
        outer = Span{l, t, r, b};
        inner = Span{l + w, t + w, r - w, b - w};
    } else {
        long long half = w / 2;
        outer = Span{l - half, t - half, r - 1 - half + w, b - 1 - half + w};
        inner = Span{l - half + w, t - half + w, r - 1 - half, b - 1 - half};
    }
    TRect innerRect = ToClipped(inner, clip);
    TRect outerRect = ToClipped(outer, clip);

    if (Brush.Style != bsClear && !innerRect.IsEmpty()) {
        std::uint32_t raw = FBitmap.ColorToRaw(ColorToRGB(Brush.Color));
        TRect fill = Intersect(innerRect, clip);
        for (int y = fill.Top; y < fill.Bottom; ++y)
            for (int x = fill.Left; x < fill.Right; ++x)
                PenPixel(x, y, raw, Pen.Mode);
    }

    if (penVisible && !outer.IsEmpty()) {
        std::uint32_t raw = FBitmap.ColorToRaw(ColorToRGB(Pen.Color));
        const std::vector<int>& pattern = DashPattern(Pen.Style);
        if (w == 1 && !pattern.empty()) {
            // A thin dashed frame: the perimeter clockwise from the top-left
            // corner, each pixel taking the dash state of its place on it;
            // only the parts on the surface are visited.
            PixelSet set(Intersect(outerRect, clip));
            const long long ol = outer.Left, ot = outer.Top, orr = outer.Right - 1, ob = outer.Bottom - 1;
            const long long cl = clip.Left, ct = clip.Top, cr = clip.Right - 1, cb = clip.Bottom - 1;
            auto mark = [&](long long x, long long y, long long pos) {
                if (DashOn(pattern, pos))
                    set.Add(static_cast<int>(x), static_cast<int>(y));
            };
            const long long top = orr - ol + 1, right = ob - ot, bottomSide = orr - ol;
            if (ot >= ct && ot <= cb)
                for (long long x = std::max(ol, cl); x <= std::min(orr, cr); ++x)
                    mark(x, ot, x - ol);
            if (orr >= cl && orr <= cr)
                for (long long y = std::max(ot + 1, ct); y <= std::min(ob, cb); ++y)
                    mark(orr, y, top + (y - ot - 1));
            if (ob > ot && ob >= ct && ob <= cb)
                for (long long x = std::max(ol, cl); x <= std::min(orr - 1, cr); ++x)
                    mark(x, ob, top + right + (orr - 1 - x));
            if (orr > ol && ol >= cl && ol <= cr)
                for (long long y = std::max(ot + 1, ct); y <= std::min(ob - 1, cb); ++y)
                    mark(ol, y, top + right + bottomSide + (ob - 1 - y));
            set.ForEach([&](int x, int y) { PenPixel(x, y, raw, Pen.Mode); });
        } else {
            TRect band = Intersect(outerRect, clip);
            for (int y = band.Top; y < band.Bottom; ++y) {
                bool middle = !innerRect.IsEmpty() && y >= innerRect.Top && y < innerRect.Bottom;
                for (int x = band.Left; x < band.Right; ++x) {
                    if (middle && x >= innerRect.Left && x < innerRect.Right) {
                        x = innerRect.Right - 1;
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
    const int x0 = PenPos.X, y0 = PenPos.Y;
    PenPos = TPoint{x1, y1};
    if (Pen.Style == psClear)
        return;
    const int w = std::max(1, Pen.Width);
    const std::vector<int>& pattern = w == 1 ? DashPattern(Pen.Style) : DashPattern(psSolid);
    const long long half = (w - 1) / 2;
    const long long dx = std::llabs(static_cast<long long>(x1) - x0);
    const long long dy = std::llabs(static_cast<long long>(y1) - y0);
    const int sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
    TRect clip = ClipRect();
    const Span reach{std::min<long long>(x0, x1) - half, std::min<long long>(y0, y1) - half,
                     std::max<long long>(x0, x1) - half + w, std::max<long long>(y0, y1) - half + w};
    TRect box = Intersect(ToClipped(reach, clip), clip);
    if (box.IsEmpty())
        return;
    // The points of the walk from (x0, y0) that stops before (x1, y1): step k
    // of n moves the long axis by k and the short one (extent m) by
    // floor((n + 2 k m) / 2n), the pixels an all-octant Bresenham walk
    // visits. Only the steps whose pen square can reach the surface along
    // the long axis are visited.
    const bool xMajor = dx >= dy;
    const long long n = xMajor ? dx : dy, m = xMajor ? dy : dx;
    if (n == 0)
        return;
    const long long start = xMajor ? x0 : y0;
    const int step = xMajor ? sx : sy;
    const long long lo = (xMajor ? box.Left : box.Top) + half - w + 1;
    const long long hi = (xMajor ? box.Right : box.Bottom) + half - 1;
    long long kFirst = step > 0 ? lo - start : start - hi;
    long long kLast = step > 0 ? hi - start : start - lo;
    kFirst = std::max(kFirst, 0LL);
    kLast = std::min(kLast, n - 1);
    PixelSet set(box);
    const long long boxLeft = box.Left, boxTop = box.Top, boxRight = box.Right, boxBottom = box.Bottom;
    for (long long k = kFirst; k <= kLast; ++k) {
        if (!DashOn(pattern, k))
            continue;
        const auto minor = static_cast<long long>((static_cast<__int128>(n) + static_cast<__int128>(2) * k * m) /
                                                  (2 * static_cast<__int128>(n)));
        const long long x = x0 + static_cast<long long>(sx) * (xMajor ? k : minor);
        const long long y = y0 + static_cast<long long>(sy) * (xMajor ? minor : k);
        for (long long py = std::max(y - half, boxTop); py < std::min(y - half + w, boxBottom); ++py)
            for (long long px = std::max(x - half, boxLeft); px < std::min(x - half + w, boxRight); ++px)
                set.Add(static_cast<int>(px), static_cast<int>(py));
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
    // Extents reach 2^32 and their products 2^65.
    const long long dn = static_cast<long long>(d1) - d0, sn = static_cast<long long>(s1) - s0;
    int from = std::max(d0, clipStart), to = std::min(d1, clipEnd);
    firstDst = from;
    std::vector<int> map;
    if (dn <= 0 || sn <= 0 || to <= from)
        return map;
    map.reserve(static_cast<std::size_t>(to - from));
    for (int d = from; d < to; ++d) {
        long long i = static_cast<long long>(d) - d0;
        if (mirror)
            i = dn - 1 - i;
        const auto offset =
            static_cast<long long>((2 * static_cast<__int128>(i) + 1) * sn / (2 * static_cast<__int128>(dn)));
        // Columns beyond int are outside any bitmap.
        const long long column = std::clamp(s0 + offset, -1LL, static_cast<long long>(std::numeric_limits<int>::max()));
        map.push_back(static_cast<int>(column));
    }
    return map;
}

// The palette that colours stored into a bitmap are looked up in.
TPalette DestinationPalette(const TBitmap& bitmap)
{
    return bitmap.BitsPerPixel() <= 8 ? bitmap.GetPalette() : TPalette{};
}

// The source rows of a stretch in B, G, R form, each expanded once while
// consecutive destination rows use it.
class SourceRows {
public:
    explicit SourceRows(const TBitmap& bitmap)
        : FBitmap(bitmap), FRow(static_cast<std::size_t>(bitmap.Width()) * 3)
    {
    }
    const std::uint8_t* Row(int y)
    {
        if (y != FY) {
            FBitmap.ReadRowBGR(y, FRow.data());
            FY = y;
        }
        return FRow.data();
    }

private:
    const TBitmap& FBitmap;
    std::vector<std::uint8_t> FRow;
    int FY = -1;
};

// Stores the stretched source columns by colour, a row at a time; runs of
// kept source pixels go to the target together, and a pixel that keep
// refuses (or that falls outside the source) leaves its target pixel alone.
template <class Keep>
void StoreByColour(TBitmap& target, const TBitmap& bitmap, const std::vector<int>& xs, const std::vector<int>& ys,
                   int firstX, int firstY, Keep keep)
{
    const int width = bitmap.Width();
    const auto columns = static_cast<int>(xs.size());
    SourceRows rows(bitmap);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(columns) * 3);
    TPaletteMatcher matcher(DestinationPalette(target));
    for (std::size_t j = 0; j < ys.size(); ++j) {
        int sy = ys[j];
        if (sy < 0 || sy >= bitmap.Height())
            continue;
        const std::uint8_t* src = rows.Row(sy);
        int y = firstY + static_cast<int>(j);
        int run = 0;
        for (int i = 0; i <= columns; ++i) {
            int sx = i < columns ? xs[static_cast<std::size_t>(i)] : -1;
            if (sx >= 0 && sx < width) {
                const std::uint8_t* p = src + static_cast<std::size_t>(sx) * 3;
                if (keep(p)) {
                    std::memcpy(&out[static_cast<std::size_t>(i) * 3], p, 3);
                    continue;
                }
            }
            if (i > run)
                target.WriteRowBGR(y, firstX + run, i - run, &out[static_cast<std::size_t>(run) * 3], &matcher);
            run = i + 1;
        }
    }
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
    const TPixelFormat format = FBitmap.PixelFormat();
    const bool sameFormat = format == bitmap.PixelFormat() && FBitmap.GetPalette() == bitmap.GetPalette();
    const int width = bitmap.Width();
    const auto columns = static_cast<int>(xs.size());

    if (mode == cmSrcCopy && (format == pf24bit || sameFormat) && FBitmap.BitsPerPixel() >= 8 &&
        format != pf15bit && bitmap.BitsPerPixel() == FBitmap.BitsPerPixel()) {
        // The same stored values: copied as they are.
        const std::size_t bytes = static_cast<std::size_t>(FBitmap.BitsPerPixel() / 8);
        // Unscaled and inside the source: whole rows at once. The widths of
        // rectangles at the ends of int need 64 bits.
        const bool rows = static_cast<long long>(dest.Right) - dest.Left ==
                              static_cast<long long>(srcRect.Right) - srcRect.Left &&
                          xs.front() >= 0 &&
                          xs.back() < width && xs.back() - xs.front() == columns - 1;
        for (std::size_t j = 0; j < ys.size(); ++j) {
            int sy = ys[j];
            if (sy < 0 || sy >= bitmap.Height())
                continue;
            const std::uint8_t* src = bitmap.ScanLine(sy);
            std::uint8_t* dst = FBitmap.ScanLine(firstY + static_cast<int>(j)) + static_cast<std::size_t>(firstX) * bytes;
            if (rows) {
                std::memmove(dst, src + static_cast<std::size_t>(xs.front()) * bytes,
                             static_cast<std::size_t>(columns) * bytes);
                continue;
            }
            for (int i = 0; i < columns; ++i) {
                int sx = xs[static_cast<std::size_t>(i)];
                if (sx >= 0 && sx < width)
                    std::memcpy(dst + static_cast<std::size_t>(i) * bytes, src + static_cast<std::size_t>(sx) * bytes,
                                bytes);
            }
        }
        Changed();
        return;
    }

    if (mode == cmSrcCopy && !sameFormat) {
        // Across formats: by colour, a row at a time.
        StoreByColour(FBitmap, bitmap, xs, ys, firstX, firstY, [](const std::uint8_t*) { return true; });
        Changed();
        return;
    }

    // Raster operations: value by value.
    std::uint32_t mask = ValueMask(format);
    std::uint32_t brush = FBitmap.ColorToRaw(ColorToRGB(Brush.Color));
    TColor lastColour = clInvalid;
    std::uint32_t lastRaw = 0;
    for (std::size_t j = 0; j < ys.size(); ++j) {
        int sy = ys[j];
        if (sy < 0 || sy >= bitmap.Height())
            continue;
        int y = firstY + static_cast<int>(j);
        for (std::size_t i = 0; i < xs.size(); ++i) {
            int sx = xs[i];
            if (sx < 0 || sx >= width)
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
    if (xs.empty() || ys.empty())
        return;
    const TColor key = ColorToRGB(transparent);
    StoreByColour(FBitmap, bitmap, xs, ys, firstX, firstY,
                  [key](const std::uint8_t* p) { return RGB(p[2], p[1], p[0]) != key; });
    Changed();
}
