#pragma once
// Printing one picture on an A4 sheet: on the whole sheet, on one half or
// on one quarter of it, with a side margin in millimetres. The sheet is
// 210 x 296 mm (portrait) or 296 x 210 mm (landscape) and turns with the
// picture's shape. A preview of the sheet, one pixel a millimetre, shows
// where the picture goes; the routine that draws it prints too.
//
// TPagePrint is the dialog's logic without its widgets: TFimp shows its
// texts and preview and hands it the clicks; tests drive it directly.

#include "Bitmap.h"
#include "Types.h"

#include <array>
#include <memory>
#include <string>

class IPrintDialog;
class TDocument;
class TPrinter;

// The size modes of the radio buttons.
constexpr int FullPage = 0;    // "Pleine page"
constexpr int HalfPage = 1;    // "Demi-page"
constexpr int QuarterPage = 2; // "Quart de page"

// The sheet is portrait when "taller than wide" differs from "half page":
// a tall picture goes on a portrait sheet for full and quarter pages, a
// wide or square one on a portrait sheet for half pages.
bool PortraitSheet(float pageRatio, int mode);

// A slot's extent in millimetres, across and down.
struct TSlotExtent {
    int Across = 0;
    int Down = 0;
};
TSlotExtent SlotExtent(int mode, bool portrait);
// The number of slots of a mode: 1, 2 or 4.
int SlotCount(int mode);
// The centre of a slot on the sheet, in millimetres.
TPoint SlotCentre(int mode, bool portrait, int slot);
// The largest side margin of a mode: the slider's own limit of 60 mm, or
// less where the slot is narrower, so that at least 1 mm of picture is left.
int MarginMax(int mode, bool portrait);

// Millimetres as the centimetres the label shows: one decimal after a ","
// (190 gives "19,0", 5 gives "0,5").
std::string CentimetreText(int mm);

class TPagePrint {
public:
    static constexpr int PreviewSize = 296;

    TPagePrint(TPrinter& printer, IPrintDialog& dialog);
    ~TPagePrint();

    // The dialog's state, as its widgets show it.
    int Mode = FullPage;  // the radio buttons
    int Margin = 0;       // the slider's position, in millimetres
    std::string LabelH = "Horizontale :";
    std::string LabelV = "Verticale :";
    std::string Dimensions = "dimensions";
    // The sheet's preview, PreviewSize pixels square.
    TBitmap Page;

    // The picture's height / width, and where it goes.
    float PageRatio = 0;
    int SlotIndex = 0;
    std::array<int, 4> SlotCentreX{};
    std::array<int, 4> SlotCentreY{};
    int ImageWidthMM = 0;
    int ImageHeightMM = 0;
    int VMargin = 0;
    // While true, DrawPagePreview prints as well.
    bool Printing = false;

    // The picture printed (null before any activation).
    const TBitmap* Picture() const { return FPicture.get(); }
    // Takes the picture of a document: its height / width and its pixels
    // without the selection frame.
    void SetDocument(TDocument& document);
    // Takes a picture and its height / width directly.
    void SetPicture(std::unique_ptr<TBitmap> picture, float pageRatio);
    // Forgets the picture (the dialog closed).
    void ReleasePicture();

    // Where the picture goes on the sheet, in millimetres.
    TRect SheetRect() const;
    bool Portrait() const { return PortraitSheet(PageRatio, Mode); }
    int MarginMaximum() const { return MarginMax(Mode, Portrait()); }

    // The dialog's handlers.
    void FormShow();
    void FormActivate(TDocument& document);
    void PleinClick(int mode);
    void deplacerClick();
    // The slider moved to a position.
    void HmargeChange(int position);
    // Asks the print dialog, then prints. Answers whether a page went out.
    bool LanceImpClick();

    // The margin computation for the slider's position, then the preview.
    void ComputeMargins();
    void RefreshPagePreview();
    void DrawPagePreview(bool portrait, int mode);

private:
    void PrintPage(bool portrait, const TRect& sheet);

    TPrinter& FPrinter;
    IPrintDialog& FDialog;
    std::unique_ptr<TBitmap> FPicture;
};
