#pragma once
// Contact sheets: every file the thumbnail browser shows, printed on A4
// pages in a grid of square cells of one of five sizes, each cell holding
// the picture scaled to fit and its name below it, each page headed
// "CORVINEL", the browsed folder and "Page " p " sur " n.
//
// TContactSheets is the dialog's logic without its widgets: TFimpV shows
// its texts and preview and hands it the clicks; tests drive it directly
// with a browser of their own.

#include "Bitmap.h"
#include "PrintSheet.h"
#include "Types.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

class IPrintDialog;
class TCanvas;
class TPrinter;

// The thumbnail browser as the contact sheets see it: the folder it shows
// and the files of its tiles, by name without folder, in the tiles' order.
class IContactSheetSource {
public:
    virtual ~IContactSheetSource() = default;
    virtual std::string Directory() const = 0;
    virtual std::vector<std::string> FileNames() const = 0;
};

// One entry of the size list. Lengths in millimetres on an A4 page of
// 210 x 297; the gaps share out what the cells leave.
struct TSheetSize {
    const char* Text;  // as the list shows it
    int Cell;          // side of a cell
    int Columns;
    int Rows;
    int FontSize;      // captions, in points

    int PerPage() const { return Columns * Rows; }
    int GapX() const { return (210 - Cell * Columns) / (Columns + 1); }
    int GapY() const { return (297 - Cell * Rows) / (Rows + 1); }
    // Cell (column, row), both from 0, on the page.
    TRect CellRect(int column, int row) const;
};

constexpr int SheetSizeCount = 5;
const std::array<TSheetSize, SheetSizeCount>& SheetSizes();
// The entry of a list index (the first one for an index out of range).
const TSheetSize& SheetSize(int index);

// Pages for n files: n div perPage, one more for a remainder.
int PageCount(int files, int perPage);
// The count line: n " miniature" ["s"] " à imprimer.".
std::string CountText(int files);
// "page." below 2 pages, "pages." from 2 on.
std::string PagesWord(int pages);
// A cell's caption: the file name without its last four characters (the
// extension with its dot, for three-letter extensions; ".jpeg" keeps its
// dot). A name of four characters or fewer loses its extension only, and
// keeps all of itself when nothing would be left.
std::string CaptionText(const std::string& fileName);
// The printed size in millimetres of a width x height picture in a cell of
// side millimetres: the long side fills the cell, the other is cut from the
// single-precision ratio.
TPoint FitInCell(int side, int width, int height);
// The message after a job for the files that could not be printed, each
// given as "name : reason"; the first fifteen are listed.
std::string UnprintedText(const std::vector<std::string>& files);
// A caption cut at its end, with "…", to fit a width on a canvas in its
// current font; a caption that fits stays whole.
std::string ElideText(TCanvas& canvas, const std::string& text, int width);

class TContactSheets {
public:
    static constexpr int PreviewWidth = 105;
    static constexpr int PreviewHeight = 148;
    static constexpr TColor CellColor = 0xFF0000; // blue

    // findBrowser answers the open thumbnail browser, or null when none is
    // open.
    TContactSheets(TPrinter& printer, IPrintDialog& dialog, std::function<IContactSheetSource*()> findBrowser);

    // The dialog's state, as its widgets show it.
    int ItemIndex = 0; // the size list
    std::string Label6; // the count line
    std::string Label2; // cells per page
    std::string Label3; // page count
    std::string Label4 = "page.";
    std::string LabelP;
    bool LabelPVisible = false;
    bool ImprimerVisible = true;
    // The page's preview, half a pixel a millimetre.
    TBitmap Imod;

    // Called where the windows need to repaint during a job (after each
    // cell and each page).
    std::function<void()> OnProgress;
    // Called when the dialog is to close after a job.
    std::function<void()> OnClose;

    bool Busy() const { return FBusy; }
    // The files of the last job that could not be printed, as "name :
    // reason"; their cells kept an empty frame and the caption. The user is
    // told after the job, through the application's message box.
    std::vector<std::string> Unprinted;

    // The dialog's handlers.
    void FormCreate();
    void FormPaint();
    void FormActivate() { UpdateSheetInfo(); }
    void taillesVChange(int index);
    // Asks the print dialog, then prints. Answers whether a job went out.
    bool ImprimerClick();

    // Counts and preview for the browser's list at the chosen size.
    void UpdateSheetInfo();
    // Prints the browser's list; answers whether a job went out.
    bool PrintContactSheets();

private:
    void DrawGrid();
    void FillPreviewCell(const TRect& cell);
    void Progress();
    void PrintJob(const std::string& folder, const std::vector<std::string>& names, const TSheetSize& size);
    void PrintCell(TCanvas& canvas, const TSheetMapping& map, const TSheetSize& size, const TRect& cell,
                   const std::string& path, const std::string& name);

    TPrinter& FPrinter;
    IPrintDialog& FDialog;
    std::function<IContactSheetSource*()> FFindBrowser;
    bool FFirstPaint = true;
    bool FBusy = false;
};
