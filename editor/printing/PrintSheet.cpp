#include "PrintSheet.h"

#include "Bitmap.h"
#include "Canvas.h"
#include "Numeric.h"
#include "Printer.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

int TSheetMapping::Width(int mm) const
{
    return static_cast<int>(Round(static_cast<Extended>(ScaleX) * mm));
}

int TSheetMapping::Height(int mm) const
{
    return static_cast<int>(Round(static_cast<Extended>(ScaleY) * mm));
}

TSheetMapping TSheetMapping::Of(const TPrinter& printer)
{
    TSheetMapping map;
    map.ScaleX = StoreSingle(static_cast<Extended>(printer.XResolution()) / 25.4L);
    map.ScaleY = StoreSingle(static_cast<Extended>(printer.YResolution()) / 25.4L);
    map.OffsetX = printer.PhysicalOffsetX();
    map.OffsetY = printer.PhysicalOffsetY();
    return map;
}

namespace {

// The pixels of a printed length of devicePixels at scale device pixels per
// millimetre, at PrintDpi, rounded up; never more than the device's own.
int PixelsAtPrintDpi(int devicePixels, float scale)
{
    devicePixels = std::abs(devicePixels);
    if (scale <= 0)
        return devicePixels;
    const Extended mm = static_cast<Extended>(devicePixels) / scale;
    const auto pixels = static_cast<long long>(std::ceil(mm * PrintDpi / 25.4L));
    return static_cast<int>(std::clamp<long long>(pixels, 1, std::max(devicePixels, 1)));
}

// A 24-bit picture reduced to width x height (no larger than it) by
// averaging the block of source pixels under each new pixel.
std::unique_ptr<TBitmap> ReduceByAveraging(const TBitmap& source, int width, int height)
{
    const int sw = source.Width();
    const int sh = source.Height();
    auto reduced = std::make_unique<TBitmap>(width, height, pf24bit);
    // Block edges: new pixel i covers source pixels [edge[i], edge[i + 1]).
    auto edges = [](int from, int to) {
        std::vector<int> edge(static_cast<std::size_t>(to) + 1);
        for (int i = 0; i <= to; ++i)
            edge[static_cast<std::size_t>(i)] = static_cast<int>(static_cast<long long>(i) * from / to);
        return edge;
    };
    const std::vector<int> xs = edges(sw, width);
    const std::vector<int> ys = edges(sh, height);
    std::vector<std::uint64_t> sums(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        std::fill(sums.begin(), sums.end(), 0);
        const int y0 = ys[static_cast<std::size_t>(y)];
        const int y1 = ys[static_cast<std::size_t>(y) + 1];
        for (int sy = y0; sy < y1; ++sy) {
            const std::uint8_t* row = source.ScanLine(sy);
            for (int x = 0; x < width; ++x) {
                std::uint64_t* sum = &sums[static_cast<std::size_t>(x) * 3];
                for (int sx = xs[static_cast<std::size_t>(x)]; sx < xs[static_cast<std::size_t>(x) + 1]; ++sx) {
                    const std::uint8_t* p = row + static_cast<std::size_t>(sx) * 3;
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                }
            }
        }
        std::uint8_t* out = reduced->ScanLine(y);
        for (int x = 0; x < width; ++x) {
            const std::uint64_t count = static_cast<std::uint64_t>(y1 - y0) *
                                        (xs[static_cast<std::size_t>(x) + 1] - xs[static_cast<std::size_t>(x)]);
            for (int c = 0; c < 3; ++c)
                out[x * 3 + c] =
                    static_cast<std::uint8_t>((sums[static_cast<std::size_t>(x) * 3 + c] + count / 2) / count);
        }
    }
    return reduced;
}

} // namespace

TPoint PrintedSize(int width, int height, const TRect& rect, const TSheetMapping& map)
{
    return TPoint{std::min(width, PixelsAtPrintDpi(rect.Width(), map.ScaleX)),
                  std::min(height, PixelsAtPrintDpi(rect.Height(), map.ScaleY))};
}

std::unique_ptr<TBitmap> PrintedBitmap(TGraphic& graphic, const TRect& rect, const TSheetMapping& map)
{
    auto flat = std::make_unique<TBitmap>();
    auto* bitmap = dynamic_cast<TBitmap*>(&graphic);
    if (bitmap && !bitmap->Transparent()) {
        flat->Assign(*bitmap);
        flat->SetPixelFormat(pf24bit);
    } else {
        flat = std::make_unique<TBitmap>(graphic.Width(), graphic.Height(), pf24bit);
        flat->Canvas().StretchDraw(Rect(0, 0, flat->Width(), flat->Height()), graphic);
    }
    const TPoint size = PrintedSize(flat->Width(), flat->Height(), rect, map);
    if (size.X >= flat->Width() && size.Y >= flat->Height())
        return flat;
    return ReduceByAveraging(*flat, size.X, size.Y);
}

void PrintGraphic(TCanvas& canvas, const TRect& rect, TGraphic& graphic, const TSheetMapping& map)
{
    if (graphic.Empty() || rect.IsEmpty())
        return;
    canvas.StretchDraw(rect, *PrintedBitmap(graphic, rect, map));
}
