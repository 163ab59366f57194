#include "Document.h"

#include "BitmapView.h"
#include "Canvas.h"
#include "Clipboard.h"
#include "CommandStates.h"
#include "MessageBoxes.h"
#include "Numeric.h"
#include "PixelMemory.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <vector>

bool CloseConfirmed = false;

namespace {

// The largest size a widget can take (QWIDGETSIZE_MAX).
constexpr std::int64_t MaxDisplaySize = (1 << 24) - 1;

std::string SizeText(int width, int height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

// Draws the frame again when it leaves scope: a copy of the picture taken
// without the frame gives it back even when the copy fails.
class TFrameRemoved {
public:
    explicit TFrameRemoved(TDocument& document) : FDocument(document), FShown(document.SelVisible)
    {
        if (FShown)
            FDocument.Trace();
    }
    ~TFrameRemoved()
    {
        if (FShown)
            FDocument.Trace();
    }
    TFrameRemoved(const TFrameRemoved&) = delete;
    TFrameRemoved& operator=(const TFrameRemoved&) = delete;

private:
    TDocument& FDocument;
    bool FShown;
};

} // namespace

std::string ExtractFileName(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ZoomText(int zoom)
{
    if (zoom >= 0)
        return "(" + std::to_string(static_cast<long long>(zoom) + 1) + ":1)";
    return "(1:" + std::to_string(1 - static_cast<long long>(zoom)) + ")";
}

float ZoomFactor(int zoom)
{
    if (zoom >= 0)
        return StoreSingle(static_cast<Extended>(zoom) + 1);
    return StoreSingle(1.0L / (std::llabs(static_cast<long long>(zoom)) + 1));
}

namespace {
// Documents alive; when the last goes, the pixel memory kept for reuse is
// given back to the system.
std::atomic<int> gLiveDocuments{0};

// The undo memory of the whole program (user-interface thread only): the
// documents that may hold snapshots, the bytes these hold together, and the
// number of the last snapshot taken.
std::vector<TDocument*> gUndoHolders;
std::size_t gUndoBytes = 0;
std::uint64_t gUndoSerial = 0;

std::size_t& UndoBudgetValue()
{
    static std::size_t budget = TDocument::DefaultUndoBudget();
    return budget;
}
} // namespace

TDocument::TDocument(TCommandStates& frame) : FFrame(frame)
{
    ++gLiveDocuments;
    gUndoHolders.push_back(this);
    SelVisible = false;
    annuleselection();
    Selection = TRect{};
}

TDocument::~TDocument()
{
    ReleaseUndo();
    gUndoHolders.erase(std::remove(gUndoHolders.begin(), gUndoHolders.end(), this), gUndoHolders.end());
    FPicture = TBitmap();
    if (--gLiveDocuments == 0)
        pixelmemory::Trim();
}

void TDocument::SetPicture(const TBitmap& bitmap)
{
    FPicture.Assign(bitmap);
    PictureAssigned();
}

void TDocument::SetPicture(TBitmap&& bitmap)
{
    FPicture.Assign(std::move(bitmap));
    PictureAssigned();
}

void TDocument::PictureAssigned()
{
    if (FPicture.PixelFormat() != pf24bit)
        FPicture.SetPixelFormat(pf24bit);
    if (View)
        View->Repaint();
}

void TDocument::PictureChanged()
{
    if (View)
        View->Repaint();
}

int TDocument::PenWidth() const
{
    const float f = Factor();
    if (f >= 1)
        return 1;
    return static_cast<int>(Round(1.0L / static_cast<Extended>(f)));
}

int TDocument::ToPicture(int controlCoordinate) const
{
    return static_cast<int>(Round(static_cast<Extended>(controlCoordinate) / static_cast<Extended>(Factor())));
}

std::int64_t TDocument::DisplayWidth(int zoom) const
{
    return ZoomedSize(FPicture.Width(), zoom);
}

std::int64_t TDocument::DisplayHeight(int zoom) const
{
    return ZoomedSize(FPicture.Height(), zoom);
}

bool TDocument::ZoomAllowed(int zoom) const
{
    const std::int64_t w = DisplayWidth(zoom);
    const std::int64_t h = DisplayHeight(zoom);
    return w >= 1 && h >= 1 && w <= MaxDisplaySize && h <= MaxDisplaySize;
}

void TDocument::SetXorPen()
{
    TCanvas& canvas = FPicture.Canvas();
    canvas.Pen.Color = clWhite;
    canvas.Pen.Style = psSolid;
    canvas.Pen.Mode = pmXor;
    canvas.Brush.Style = bsClear;
}

void TDocument::SetUndoCommands(bool enabled)
{
    FFrame.SetEnabled("bannuler", enabled);
    FFrame.SetEnabled("Annulerladernireaction1", enabled);
}

void TDocument::SetCaptionText(const std::string& caption)
{
    if (FCaption == caption)
        return;
    FCaption = caption;
    if (View)
        View->CaptionChanged();
}

void TDocument::EnsureStar()
{
    if (FCaption.empty() || FCaption.back() != '*')
        SetCaptionText(FCaption + "*");
}

void TDocument::RemoveStar()
{
    if (!FCaption.empty() && FCaption.back() == '*')
        SetCaptionText(FCaption.substr(0, FCaption.size() - 1));
}

namespace {

std::size_t SnapshotBytes(const TBitmap& bitmap)
{
    return static_cast<std::size_t>(bitmap.Height()) *
           BytesPerScanline(static_cast<std::size_t>(bitmap.Width()), bitmap.BitsPerPixel());
}

} // namespace

std::size_t TDocument::DefaultUndoBudget()
{
    return pixelmemory::Allowance();
}

std::size_t TDocument::TotalUndoBytes()
{
    return gUndoBytes;
}

std::size_t TDocument::UndoBudget()
{
    return UndoBudgetValue();
}

void TDocument::SetUndoBudget(std::size_t bytes)
{
    UndoBudgetValue() = bytes;
}

void TDocument::DropOldestSnapshot()
{
    const std::size_t bytes = SnapshotBytes(*FUndo.front().Bitmap);
    FUndoBytes -= bytes;
    gUndoBytes -= bytes;
    FUndo.pop_front();
    FUndoDropped = true;
}

void TDocument::MakeRoomFor(std::size_t need)
{
    while (gUndoBytes + need > UndoBudget()) {
        // The oldest snapshot that may go: every other document keeps its
        // newest one, this one is about to get a new one.
        TDocument* oldest = nullptr;
        for (TDocument* document : gUndoHolders) {
            const std::size_t keep = document == this ? 0 : 1;
            if (document->FUndo.size() > keep &&
                (!oldest || document->FUndo.front().Serial < oldest->FUndo.front().Serial))
                oldest = document;
        }
        if (!oldest)
            return;
        oldest->DropOldestSnapshot();
    }
}

void TDocument::memorise()
{
    // Room first, so that the copy never comes on top of a full budget.
    const std::size_t need = SnapshotBytes(FPicture);
    while (FUndo.size() >= static_cast<std::size_t>(MaxUndo))
        DropOldestSnapshot();
    MakeRoomFor(need);
    TUndoEntry entry;
    entry.Bitmap = std::make_unique<TBitmap>();
    entry.Bitmap->Assign(FPicture);
    entry.Selection = Selection;
    entry.SelVisible = SelVisible;
    entry.Moving = Moving;
    entry.LastX = LastX;
    entry.LastY = LastY;
    entry.Zoom = Zoom;
    entry.Serial = ++gUndoSerial;
    FUndo.push_back(std::move(entry));
    FUndoBytes += need;
    gUndoBytes += need;
    Modified = true;
    FFrame.SetEnabled("benr", true);
    SetUndoCommands(true);
    EnsureStar();
}

void TDocument::restitue()
{
    if (FUndo.empty())
        return;
    TUndoEntry& entry = FUndo.back();
    FPicture.Assign(*entry.Bitmap);
    SetXorPen();
    Selection = entry.Selection;
    SelVisible = entry.SelVisible;
    Moving = entry.Moving;
    LastX = entry.LastX;
    LastY = entry.LastY;
    Zoom = entry.Zoom;
    Affiche(0, 0);
    const std::size_t bytes = SnapshotBytes(*entry.Bitmap);
    FUndoBytes -= bytes;
    gUndoBytes -= bytes;
    FUndo.pop_back();
    // Only the whole stack undone brings back the picture as it was opened;
    // when older snapshots went, the picture still differs from its file.
    if (FUndo.empty()) {
        SetUndoCommands(false);
        if (!FUndoDropped) {
            FFrame.SetEnabled("benr", false);
            Modified = false;
        }
    }
    FFrame.SetPanel(3, SelVisible ? SizeText(Selection.Width(), Selection.Height()) : "0 x 0");
    if (!FUndo.empty())
        EnsureStar();
    else
        RemoveStar();
    if (ExtractFileName(FileName) == UntitledName)
        Modified = true;
    if (Modified)
        EnsureStar();
}

void TDocument::ShowSelectionSize()
{
    FFrame.SetPanel(3, SizeText(Selection.Width(), Selection.Height()));
}

void TDocument::Trace()
{
    SetXorPen();
    TCanvas& canvas = FPicture.Canvas();
    canvas.Pen.Width = PenWidth();
    canvas.Rectangle(Selection);
    ShowSelectionSize();
    if (View)
        View->Repaint();
}

void TDocument::annuleselection()
{
    if (SelVisible) {
        Trace();
        SelVisible = false;
        Moving = false;
        Selection = Rect(-1, -1, -1, -1);
    }
    FFrame.SetPanel(3, "0 x 0");
}

void TDocument::Affiche(int centerXPercent, int centerYPercent)
{
    if (View)
        View->Redisplay(centerXPercent, centerYPercent);
    std::string caption = ExtractFileName(FileName) + ZoomText(Zoom);
    FFrame.SetEnabled("brecadrer", SelVisible);
    SetUndoCommands(!FUndo.empty());
    FFrame.SetPanel(1, SizeText(FPicture.Width(), FPicture.Height()));
    if (Modified)
        caption += "*";
    SetCaptionText(caption);
}

std::unique_ptr<TBitmap> TDocument::CopyWithoutFrame()
{
    TFrameRemoved removed(*this);
    auto copy = std::make_unique<TBitmap>();
    copy->Assign(FPicture);
    return copy;
}

void TDocument::ToPP(IClipboard& clipboard)
{
    TFrameRemoved removed(*this);
    clipboard.SetBitmap(FPicture);
}

bool TDocument::ZoomBy(int delta, int centerXPercent, int centerYPercent)
{
    const long long target = static_cast<long long>(Zoom) + delta;
    if (target < -(1LL << 30) || target > (1LL << 30) || !ZoomAllowed(static_cast<int>(target)))
        return false;
    if (SelVisible)
        Trace();
    Zoom = static_cast<int>(target);
    Affiche(centerXPercent, centerYPercent);
    if (SelVisible)
        Trace();
    return true;
}

bool TDocument::SetZoomStep(int zoom)
{
    return ZoomBy(static_cast<int>(static_cast<long long>(zoom) - Zoom));
}

void TDocument::FormActivate()
{
    SetUndoCommands(!FUndo.empty());
    FFrame.SetPanel(1, SizeText(FPicture.Width(), FPicture.Height()));
    EnableImageCommands(FFrame, true);
    FFrame.SetEnabled("brecadrer", SelVisible);
    if (SelVisible)
        ShowSelectionSize();
}

bool TDocument::FormCloseQuery(IMessageBoxes& boxes, const std::function<void()>& save)
{
    if (!Modified)
        return true;
    const int answer = boxes.MessageBox("Voulez-vous enregistrer les changemements ?", ExtractFileName(FileName),
                                        MB_YESNOCANCEL | MB_ICONEXCLAMATION);
    if (answer == IDNO) {
        CloseConfirmed = true;
        return true;
    }
    CloseConfirmed = false;
    if (answer != IDYES)
        return false;
    save();
    return CloseConfirmed;
}

void TDocument::ReleaseUndo()
{
    FUndo.clear();
    gUndoBytes -= FUndoBytes;
    FUndoBytes = 0;
    FUndoDropped = false;
}

void TDocument::MouseDown(int x, int y)
{
    StartX = ToPicture(x);
    StartY = ToPicture(y);
    if (!SelVisible)
        return;
    if (Selection.Left < StartX && StartX < Selection.Right && Selection.Top < StartY && StartY < Selection.Bottom) {
        Moving = true;
    } else {
        Trace();
        SelVisible = false;
        Moving = false;
    }
}

bool TDocument::MouseMove(int x, int y, bool leftButton)
{
    MouseX = x;
    MouseY = y;
    const int px = ToPicture(x);
    const int py = ToPicture(y);
    FFrame.SetPanel(2, "x=" + std::to_string(px) + " y=" + std::to_string(py));
    const bool overSelection = SelVisible && Selection.Left < px && px < Selection.Right && Selection.Top < py &&
                               py < Selection.Bottom;
    if (leftButton) {
        const int width = FPicture.Width();
        const int height = FPicture.Height();
        if (Moving) {
            if (SelVisible)
                Trace();
            const int dx = px - LastX;
            if (Selection.Left + static_cast<long long>(dx) >= 0 &&
                Selection.Right + static_cast<long long>(dx) <= width) {
                Selection.Left += dx;
                Selection.Right += dx;
            }
            const int dy = py - LastY;
            if (Selection.Top + static_cast<long long>(dy) >= 0 &&
                Selection.Bottom + static_cast<long long>(dy) <= height) {
                Selection.Top += dy;
                Selection.Bottom += dy;
            }
            Trace();
            SelVisible = true;
        } else if (StartX != -1) {
            if (SelVisible)
                Trace();
            SelVisible = false;
            if (px != StartX && py != StartY) {
                TRect r = Rect(std::min(StartX, px), std::min(StartY, py), std::max(StartX, px), std::max(StartY, py));
                r.Left = std::clamp(r.Left, 0, width);
                r.Right = std::clamp(r.Right, 0, width);
                r.Top = std::clamp(r.Top, 0, height);
                r.Bottom = std::clamp(r.Bottom, 0, height);
                if (r.IsEmpty()) {
                    // Pressed on the edge and dragged outward: nothing of the
                    // picture lies inside, so there is no selection.
                    Selection = Rect(-1, -1, -1, -1);
                    FFrame.SetPanel(3, "0 x 0");
                } else {
                    Selection = r;
                    Trace();
                    SelVisible = true;
                }
            }
        }
    }
    LastX = px;
    LastY = py;
    return overSelection;
}

void TDocument::MouseUp(int x, int y)
{
    if (ToPicture(x) == StartX && ToPicture(y) == StartY)
        annuleselection();
    FFrame.SetEnabled("brecadrer", SelVisible);
}

void TDocument::MouseWheel(int direction)
{
    // The point under the pointer, from the size shown before the step.
    const std::int64_t w = DisplayWidth();
    const std::int64_t h = DisplayHeight();
    const int cx = w > 0 ? static_cast<int>(Round(static_cast<Extended>(MouseX) / w * 100)) : 0;
    const int cy = h > 0 ? static_cast<int>(Round(static_cast<Extended>(MouseY) / h * 100)) : 0;
    ZoomBy(direction > 0 ? 1 : -1, cx, cy);
}
