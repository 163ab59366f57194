#include "ImpVignettes.h"

#include "Application.h"
#include "Bitmap.h"
#include "Canvas.h"
#include "Exceptions.h"
#include "MessageBoxes.h"
#include "Numeric.h"
#include "Picture.h"
#include "Printer.h"

#include <algorithm>
#include <memory>
#include <new>

namespace {

const char* const Ellipsis = "\xE2\x80\xA6";

// The byte offsets where the code points of a UTF-8 text start.
std::vector<std::size_t> CodePointStarts(const std::string& text)
{
    std::vector<std::size_t> starts;
    for (std::size_t i = 0; i < text.size(); ++i)
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80)
            starts.push_back(i);
    return starts;
}

// A file of the listed folder by its full path: never relative to the
// current directory, which another dialog may have moved.
std::string FileInFolder(const std::string& folder, const std::string& name)
{
    if (folder.empty() || folder.back() == '/')
        return folder + name;
    return folder + "/" + name;
}

// Runs an action when the scope ends, however it ends.
template <class F>
class TFinally {
public:
    explicit TFinally(F fn) : FFn(std::move(fn)) {}
    ~TFinally() { FFn(); }
    TFinally(const TFinally&) = delete;
    TFinally& operator=(const TFinally&) = delete;

private:
    F FFn;
};

} // namespace

std::string UnprintedText(const std::vector<std::string>& files)
{
    return ListMessage(files.size() == 1 ? "Ce fichier n'a pas pu être imprimé, son cadre est resté vide :"
                                         : "Ces fichiers n'ont pas pu être imprimés, leurs cadres sont restés vides :",
                       files);
}

TRect TSheetSize::CellRect(int column, int row) const
{
    const int left = GapX() + column * (Cell + GapX());
    const int top = GapY() + row * (Cell + GapY());
    return Rect(left, top, left + Cell, top + Cell);
}

const std::array<TSheetSize, SheetSizeCount>& SheetSizes()
{
    static const std::array<TSheetSize, SheetSizeCount> sizes = {{
        {"3 x 3 cm", 30, 6, 7, 8},
        {"4 x 4 cm", 40, 4, 5, 9},
        {"5 x 5 cm", 50, 3, 4, 10},
        {"6 x 6 cm", 60, 3, 4, 11},
        {"8 x 8 cm", 80, 2, 3, 12},
    }};
    return sizes;
}

const TSheetSize& SheetSize(int index)
{
    if (index < 0 || index >= SheetSizeCount)
        index = 0;
    return SheetSizes()[static_cast<std::size_t>(index)];
}

int PageCount(int files, int perPage)
{
    if (files <= 0 || perPage <= 0)
        return 0;
    return files / perPage + (files % perPage > 0 ? 1 : 0);
}

std::string CountText(int files)
{
    return std::to_string(files) + " miniature" + (files > 1 ? "s" : "") + " à imprimer.";
}

std::string PagesWord(int pages)
{
    return pages < 2 ? "page." : "pages.";
}

std::string CaptionText(const std::string& fileName)
{
    const std::vector<std::size_t> starts = CodePointStarts(fileName);
    if (starts.size() > 4)
        return fileName.substr(0, starts[starts.size() - 4]);
    const std::size_t dot = fileName.rfind('.');
    if (dot != std::string::npos && dot > 0)
        return fileName.substr(0, dot);
    return fileName;
}

std::string ElideText(TCanvas& canvas, const std::string& text, int width)
{
    if (canvas.TextWidth(text) <= width)
        return text;
    const std::vector<std::size_t> starts = CodePointStarts(text);
    // The longest beginning that fits with the ellipsis after it.
    std::size_t low = 0;
    std::size_t high = starts.size();
    while (low < high) {
        const std::size_t mid = (low + high + 1) / 2;
        const std::size_t bytes = mid < starts.size() ? starts[mid] : text.size();
        if (canvas.TextWidth(text.substr(0, bytes) + Ellipsis) <= width)
            low = mid;
        else
            high = mid - 1;
    }
    if (low == 0)
        return canvas.TextWidth(Ellipsis) <= width ? std::string(Ellipsis) : std::string();
    return text.substr(0, starts[low]) + Ellipsis;
}

TContactSheets::TContactSheets(TPrinter& printer, IPrintDialog& dialog,
                               std::function<IContactSheetSource*()> findBrowser)
    : Imod(PreviewWidth, PreviewHeight, pf24bit), FPrinter(printer), FDialog(dialog),
      FFindBrowser(std::move(findBrowser))
{
}

void TContactSheets::FormCreate()
{
    FFirstPaint = true;
    ItemIndex = 0;
}

void TContactSheets::FormPaint()
{
    if (!FFirstPaint)
        return;
    ItemIndex = 0;
    UpdateSheetInfo();
    FFirstPaint = false;
}

void TContactSheets::taillesVChange(int index)
{
    ItemIndex = std::clamp(index, 0, SheetSizeCount - 1);
    UpdateSheetInfo();
}

void TContactSheets::UpdateSheetInfo()
{
    const TSheetSize& size = SheetSize(ItemIndex);
    IContactSheetSource* browser = FFindBrowser ? FFindBrowser() : nullptr;
    if (!browser)
        return;
    const int files = static_cast<int>(browser->FileNames().size());
    const int pages = PageCount(files, size.PerPage());
    Label6 = CountText(files);
    Label2 = std::to_string(size.PerPage());
    Label3 = std::to_string(pages);
    Label4 = PagesWord(pages);
    DrawGrid();
}

void TContactSheets::FillPreviewCell(const TRect& cell)
{
    TCanvas& canvas = Imod.Canvas();
    canvas.Brush.Style = bsSolid;
    canvas.Brush.Color = CellColor;
    canvas.FillRect(Rect(cell.Left / 2, cell.Top / 2, cell.Right / 2, cell.Bottom / 2));
}

void TContactSheets::DrawGrid()
{
    TCanvas& canvas = Imod.Canvas();
    canvas.Brush.Style = bsSolid;
    canvas.Brush.Color = clWhite;
    canvas.FillRect(Rect(0, 0, PreviewWidth, PreviewHeight));
    const TSheetSize& size = SheetSize(ItemIndex);
    for (int r = 0; r < size.Rows; ++r)
        for (int c = 0; c < size.Columns; ++c)
            FillPreviewCell(size.CellRect(c, r));
}

void TContactSheets::Progress()
{
    if (OnProgress)
        OnProgress();
}

bool TContactSheets::ImprimerClick()
{
    if (FBusy || !FDialog.Execute(FPrinter))
        return false;
    return PrintContactSheets();
}

TPoint FitInCell(int side, int width, int height)
{
    const float ratio = StoreSingle(static_cast<Extended>(height) / width);
    if (ratio >= 1)
        return TPoint{static_cast<int>(Trunc(static_cast<float>(side) / ratio)), side};
    return TPoint{side, static_cast<int>(Trunc(static_cast<float>(side) * ratio))};
}

void TContactSheets::PrintCell(TCanvas& canvas, const TSheetMapping& map, const TSheetSize& size,
                               const TRect& cell, const std::string& path, const std::string& name)
{
    const int a = size.Cell;
    // A file that cannot be read keeps its cell: an empty frame with the
    // caption, and the user hears of it once the job is out.
    std::unique_ptr<TBitmap> printed;
    TRect dest;
    bool failed = false;
    try {
        // A cell never waits on a small file that describes a huge picture.
        const TThumbnailBudgetScope budget;
        TPicture picture;
        picture.LoadFromFile(path);
        TGraphic* graphic = picture.Graphic();
        if (!graphic || graphic->Empty() || graphic->Width() <= 0 || graphic->Height() <= 0)
            throw EInvalidGraphic("Image vide");
        const TPoint fit = FitInCell(a, graphic->Width(), graphic->Height());
        const int w = fit.X;
        const int h = fit.Y;
        const int left = map.X(cell.Left + (a - w) / 2);
        const int top = map.Y(cell.Top + (a - h) / 2);
        dest = Rect(left, top, left + map.Width(w), top + map.Height(h));
        if (!dest.IsEmpty())
            printed = PrintedBitmap(*graphic, dest, map);
    } catch (const EAbort&) {
        throw;
    } catch (const std::bad_alloc&) {
        Unprinted.push_back(name + " : Mémoire insuffisante");
        failed = true;
    } catch (const std::exception& e) {
        Unprinted.push_back(name + " : " + e.what());
        failed = true;
    }
    if (printed) {
        canvas.StretchDraw(dest, *printed);
    } else if (failed) {
        canvas.Brush.Style = bsClear;
        canvas.Pen.Color = clBlack;
        canvas.Pen.Style = psSolid;
        canvas.Pen.Width = 1;
        canvas.Rectangle(map.Map(cell));
    }

    canvas.Brush.Style = bsClear;
    canvas.Pen.Color = clBlack;
    canvas.Font.Name = "Arial";
    canvas.Font.Size = size.FontSize;
    canvas.Font.Color = clBlack;
    // A caption wider than its cell would run into the next one.
    const std::string caption = ElideText(canvas, CaptionText(name), map.Width(a));
    const int textWidth = canvas.TextWidth(caption);
    const int x = static_cast<int>(Round((static_cast<Extended>(a) * map.ScaleX - textWidth) / 2)) + map.X(cell.Left);
    const int y = map.Y(cell.Top + a) + map.Height(2);
    canvas.TextOut(x, y, caption);
}

bool TContactSheets::PrintContactSheets()
{
    IContactSheetSource* browser = FFindBrowser ? FFindBrowser() : nullptr;
    if (!browser || FBusy)
        return false;
    // The list as it is now: the browser may read its folder again while
    // the job runs.
    const std::string folder = browser->Directory();
    const std::vector<std::string> names = browser->FileNames();
    if (names.empty())
        return false;
    Unprinted.clear();
    PrintJob(folder, names, SheetSize(ItemIndex));
    if (!Unprinted.empty() && Application)
        Application->MessageDlg(UnprintedText(Unprinted), mtWarning, Btn(mbOK));
    if (OnClose)
        OnClose();
    return true;
}

void TContactSheets::PrintJob(const std::string& folder, const std::vector<std::string>& names,
                              const TSheetSize& size)
{
    const int files = static_cast<int>(names.size());
    const int pages = PageCount(files, size.PerPage());
    TWaitCursor wait;
    FBusy = true;
    TFinally restore([this] {
        FBusy = false;
        ImprimerVisible = true;
        LabelP.clear();
        LabelPVisible = false;
    });

    // The cells are laid out on a portrait page, whatever the last job used.
    FPrinter.SetOrientation(poPortrait);
    const TSheetMapping map = TSheetMapping::Of(FPrinter);
    FPrinter.BeginDoc();
    try {
        ImprimerVisible = false;
        LabelP.clear();
        LabelPVisible = true;
        Progress();
        int k = 0;
        for (int page = 1; page <= pages; ++page) {
            TCanvas& canvas = FPrinter.Canvas();
            canvas.Brush.Style = bsClear;
            canvas.Font.Color = clBlack;
            canvas.Font.Size = 10;
            const std::string pageText = "Page " + std::to_string(page) + " sur " + std::to_string(pages);
            const int width = FPrinter.PageWidth();
            canvas.TextOut(0, 0, "CORVINEL");
            canvas.TextOut(width - canvas.TextWidth(pageText), 0, pageText);
            canvas.TextOut((width - canvas.TextWidth(folder)) / 2, 0, folder);

            TCanvas& preview = Imod.Canvas();
            preview.Brush.Style = bsSolid;
            preview.Brush.Color = clWhite;
            preview.FillRect(Rect(0, 0, PreviewWidth, PreviewHeight));
            LabelP = "Page " + std::to_string(page) + "/" + std::to_string(pages);
            Progress();

            for (int r = 0; r < size.Rows && k < files; ++r)
                for (int c = 0; c < size.Columns && k < files; ++c) {
                    const TRect cell = size.CellRect(c, r);
                    FillPreviewCell(cell);
                    Progress();
                    const std::string& name = names[static_cast<std::size_t>(k)];
                    PrintCell(canvas, map, size, cell, FileInFolder(folder, name), name);
                    ++k;
                }
            if (k < files)
                FPrinter.NewPage();
        }
        FPrinter.EndDoc();
    } catch (...) {
        // Whatever broke the job off, nothing half done goes out.
        FPrinter.Abort();
        throw;
    }
}
