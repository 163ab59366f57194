#include "Impression.h"

#include "Application.h"
#include "Canvas.h"
#include "Document.h"
#include "Numeric.h"
#include "PrintSheet.h"
#include "Printer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Where the sheet lies in the preview.
constexpr int SheetOffset = 43;
constexpr int SlotMarginLimit = 60;
constexpr TColor PreviewBackground = RGB(191, 191, 191);

// A ratio fit for the layout: a picture's height / width, or 1 when none
// has been taken yet.
Extended LayoutRatio(float ratio)
{
    return std::isfinite(ratio) && ratio > 0 ? static_cast<Extended>(ratio) : 1.0L;
}

// Sets Printing for the life of the object, and back whatever happens.
class TPrintingFlag {
public:
    explicit TPrintingFlag(bool& flag) : FFlag(flag) { FFlag = true; }
    ~TPrintingFlag() { FFlag = false; }
    TPrintingFlag(const TPrintingFlag&) = delete;
    TPrintingFlag& operator=(const TPrintingFlag&) = delete;

private:
    bool& FFlag;
};

} // namespace

bool PortraitSheet(float pageRatio, int mode)
{
    return (pageRatio > 1) != (mode == HalfPage);
}

TSlotExtent SlotExtent(int mode, bool portrait)
{
    switch (mode) {
    case HalfPage:
        return portrait ? TSlotExtent{210, 148} : TSlotExtent{148, 210};
    case QuarterPage:
        return portrait ? TSlotExtent{105, 148} : TSlotExtent{148, 105};
    default:
        return portrait ? TSlotExtent{210, 296} : TSlotExtent{296, 210};
    }
}

int SlotCount(int mode)
{
    switch (mode) {
    case HalfPage:
        return 2;
    case QuarterPage:
        return 4;
    default:
        return 1;
    }
}

TPoint SlotCentre(int mode, bool portrait, int slot)
{
    static const TPoint full[2][1] = {{{148, 105}}, {{105, 148}}};
    static const TPoint half[2][2] = {{{74, 105}, {222, 105}}, {{105, 74}, {105, 222}}};
    static const TPoint quarter[2][4] = {{{74, 52}, {222, 52}, {74, 157}, {222, 157}},
                                         {{52, 74}, {157, 74}, {52, 222}, {157, 222}}};
    const int p = portrait ? 1 : 0;
    const int s = std::clamp(slot, 0, SlotCount(mode) - 1);
    switch (mode) {
    case HalfPage:
        return half[p][s];
    case QuarterPage:
        return quarter[p][s];
    default:
        return full[p][0];
    }
}

int MarginMax(int mode, bool portrait)
{
    return std::min(SlotMarginLimit, (SlotExtent(mode, portrait).Across - 1) / 2);
}

std::string CentimetreText(int mm)
{
    const std::string sign = mm < 0 ? "-" : "";
    const long long value = std::llabs(static_cast<long long>(mm));
    return sign + std::to_string(value / 10) + "," + std::to_string(value % 10);
}

TPagePrint::TPagePrint(TPrinter& printer, IPrintDialog& dialog)
    : Page(PreviewSize, PreviewSize, pf24bit), FPrinter(printer), FDialog(dialog)
{
}

TPagePrint::~TPagePrint() = default;

void TPagePrint::SetDocument(TDocument& document)
{
    SetPicture(document.CopyWithoutFrame(), document.Aspect);
}

void TPagePrint::SetPicture(std::unique_ptr<TBitmap> picture, float pageRatio)
{
    FPicture = std::move(picture);
    PageRatio = pageRatio;
}

void TPagePrint::ReleasePicture()
{
    FPicture.reset();
}

TRect TPagePrint::SheetRect() const
{
    const TPoint centre = SlotCentre(Mode, Portrait(), SlotIndex);
    // The picture takes exactly the size the label shows, centred on its
    // slot (an odd size leaves the extra millimetre right and below).
    const int left = centre.X - ImageWidthMM / 2;
    const int top = centre.Y - ImageHeightMM / 2;
    return Rect(left, top, left + ImageWidthMM, top + ImageHeightMM);
}

void TPagePrint::FormShow()
{
    Margin = 0;
    ComputeMargins();
    RefreshPagePreview();
}

void TPagePrint::FormActivate(TDocument& document)
{
    SetDocument(document);
    FormShow();
}

void TPagePrint::PleinClick(int mode)
{
    Mode = std::clamp(mode, FullPage, QuarterPage);
    SlotIndex = 0;
    Margin = 0;
    ComputeMargins();
    RefreshPagePreview();
}

void TPagePrint::deplacerClick()
{
    SlotIndex = (SlotIndex + 1) % SlotCount(Mode);
    RefreshPagePreview();
}

void TPagePrint::HmargeChange(int position)
{
    Margin = position;
    ComputeMargins();
    RefreshPagePreview();
}

void TPagePrint::ComputeMargins()
{
    const bool portrait = Portrait();
    const TSlotExtent slot = SlotExtent(Mode, portrait);
    const Extended ratio = LayoutRatio(PageRatio);
    // A margin the slot has no room for is brought back within the mode's
    // limit before anything is computed from it.
    Margin = std::clamp(Margin, 0, MarginMax(Mode, portrait));
    // Moving the slider to fit a picture too tall for its slot computes
    // again for the new margin; those results stay. The margin only grows
    // on the way, so this ends within a few rounds.
    for (int round = 0; round < 8; ++round) {
        LabelH = "Horizontale : " + std::to_string(Margin) + " mm";
        ImageWidthMM = slot.Across - 2 * Margin;
        ImageHeightMM = std::max(1, static_cast<int>(Round(ImageWidthMM * ratio)));
        VMargin = (slot.Down - ImageHeightMM) / 2;
        if (ImageHeightMM <= slot.Down)
            break;
        ImageHeightMM = slot.Down;
        ImageWidthMM = std::max(1, static_cast<int>(Round(slot.Down / ratio)));
        VMargin = 0;
        const int fitted = std::clamp((slot.Across - ImageWidthMM) / 2, 0, MarginMax(Mode, portrait));
        if (fitted == Margin)
            break;
        Margin = fitted;
    }
    LabelV = "Verticale : " + std::to_string(VMargin) + " mm";
}

void TPagePrint::RefreshPagePreview()
{
    DrawPagePreview(Portrait(), Mode);
}

void TPagePrint::DrawPagePreview(bool portrait, int mode)
{
    TCanvas& canvas = Page.Canvas();
    canvas.Pen = TPen();
    canvas.Brush.Style = bsSolid;
    canvas.Brush.Color = PreviewBackground;
    canvas.FillRect(Rect(0, 0, PreviewSize, PreviewSize));

    canvas.Brush.Color = clWhite;
    const TPoint origin = portrait ? TPoint{SheetOffset, 0} : TPoint{0, SheetOffset};
    if (portrait)
        canvas.FillRect(Rect(SheetOffset, 0, PreviewSize - SheetOffset, PreviewSize));
    else
        canvas.FillRect(Rect(0, SheetOffset, PreviewSize, PreviewSize - SheetOffset));

    canvas.Pen.Color = clBlack;
    canvas.Pen.Style = psDash;
    auto line = [&canvas](int x0, int y0, int x1, int y1) {
        canvas.MoveTo(x0, y0);
        canvas.LineTo(x1, y1);
    };
    if (mode == HalfPage || mode == QuarterPage) {
        if (portrait)
            line(SheetOffset, 148, PreviewSize - SheetOffset, 148);
        else
            line(148, SheetOffset, 148, PreviewSize - SheetOffset);
    }
    if (mode == QuarterPage) {
        if (portrait)
            line(148, 0, 148, PreviewSize);
        else
            line(0, 148, PreviewSize, 148);
    }
    canvas.Pen.Style = psSolid;

    SlotCentreX.fill(0);
    SlotCentreY.fill(0);
    for (int slot = 0; slot < SlotCount(mode); ++slot) {
        const TPoint centre = SlotCentre(mode, portrait, slot);
        SlotCentreX[static_cast<std::size_t>(slot)] = centre.X;
        SlotCentreY[static_cast<std::size_t>(slot)] = centre.Y;
    }

    const TRect sheet = SheetRect();
    if (FPicture) {
        const TRect shown = Rect(sheet.Left + origin.X, sheet.Top + origin.Y, sheet.Right + origin.X,
                                 sheet.Bottom + origin.Y);
        canvas.StretchDraw(shown, *FPicture);
    }

    if (Printing && FPicture)
        PrintPage(portrait, sheet);

    Dimensions = CentimetreText(ImageWidthMM) + " cm X " + CentimetreText(ImageHeightMM) + " cm.";
}

void TPagePrint::PrintPage(bool portrait, const TRect& sheet)
{
    TWaitCursor wait;
    FPrinter.SetOrientation(portrait ? poPortrait : poLandscape);
    const TSheetMapping map = TSheetMapping::Of(FPrinter);
    FPrinter.BeginDoc();
    try {
        PrintGraphic(FPrinter.Canvas(), map.Map(sheet), *FPicture, map);
        FPrinter.EndDoc();
    } catch (...) {
        FPrinter.Abort();
        throw;
    }
}

bool TPagePrint::LanceImpClick()
{
    if (!FPicture || !FDialog.Execute(FPrinter))
        return false;
    TPrintingFlag printing(Printing);
    RefreshPagePreview();
    return true;
}
