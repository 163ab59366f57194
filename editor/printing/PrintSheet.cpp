#include "PrintSheet.h"

#include "Bitmap.h"
#include "Canvas.h"
#include "Numeric.h"
#include "Printer.h"

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

void PrintGraphic(TCanvas& canvas, const TRect& rect, TGraphic& graphic)
{
    if (graphic.Empty() || rect.IsEmpty())
        return;
    auto* bitmap = dynamic_cast<TBitmap*>(&graphic);
    if (bitmap && !bitmap->Transparent()) {
        canvas.StretchDraw(rect, *bitmap);
        return;
    }
    TBitmap flat(graphic.Width(), graphic.Height(), pf24bit);
    flat.Canvas().StretchDraw(Rect(0, 0, flat.Width(), flat.Height()), graphic);
    canvas.StretchDraw(rect, flat);
}
