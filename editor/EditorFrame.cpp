#include "EditorFrame.h"

#include "Application.h"
#include "Canvas.h"
#include "Clipboard.h"
#include "Exceptions.h"
#include "GifPicture.h"
#include "Jpeg.h"
#include "MessageBoxes.h"
#include "Numeric.h"
#include "PhotoMetadata.h"
#include "Picture.h"
#include "PngCodec.h"
#include "Desktop.h"

#include <QUrl>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <system_error>

std::string StartDir;

const TKernel3x3 SharpenKernel = TKernel3x3::FromRows({{-4, 0, -4}, {0, 40, 0}, {-4, 0, -4}});
const TKernel3x3 SharpenMoreKernel = TKernel3x3::FromRows({{-4, -2, -4}, {-2, 40, -2}, {-4, -2, -4}});
const TKernel3x3 SoftenKernel = TKernel3x3::FromRows({{1, 1, 1}, {1, 12, 1}, {1, 1, 1}});
const TKernel3x3 SoftenMoreKernel = TKernel3x3::FromRows({{1, 2, 1}, {2, 8, 2}, {1, 2, 1}});

namespace {

const char* const ScanName = "*scan*";
const char* const PasteName = "*pp*";

const char* const UnavailableText = "Cette fenêtre n'est pas disponible dans cette version de Corvinel.";
const char* const SaveNotActiveText =
    "L'image à enregistrer n'a pas pu être mise au premier plan : elle n'a pas été enregistrée.";
const char* const DirectSaveFormatsText =
    "Corvinel n'enregistre directement que les fichiers .bmp, .gif, .jpg, .jpeg et .png : "
    "l'image n'a pas été enregistrée.";

std::string LowerCase(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool IsUntitled(const std::string& fileName)
{
    return LowerCase(ExtractFileName(fileName)) == LowerCase(UntitledName);
}


std::string SizeText(int width, int height)
{
    return std::to_string(width) + " x " + std::to_string(height);
}

} // namespace

const char* const OpenFailedText = "Impossible d'ouvrir le fichier ";
const char* const SaveFailedText = "Impossible d'enregistrer le fichier ";

void NameFileInError(Exception& error, const std::string& what, const std::string& fileName)
{
    // The silent exception stays silent; a text that names the file already
    // is not told twice.
    if (dynamic_cast<EAbort*>(&error) || error.Message.find(fileName) != std::string::npos)
        return;
    error.Message = what + fileName + " : " + error.Message;
}

std::string IncompleteFileText(const std::string& fileName, const std::string& warning)
{
    return "Le fichier " + fileName + " est incomplet : seule la partie lue de l'image est affichée (" + warning +
           ").";
}

std::string CurrentStartDir()
{
    std::string dir = std::filesystem::current_path().string();
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

std::string ProgramStartDir()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !program.is_absolute() || !program.has_parent_path())
        return CurrentStartDir();
    std::string dir = program.parent_path().string();
    if (dir.empty() || dir.back() != '/')
        dir += '/';
    return dir;
}

int FitZoom(int width, int height, int roomWidth, int roomHeight)
{
    if (roomWidth <= 0 || roomHeight <= 0)
        return 0;
    // height / i <= room exactly when i >= height / room.
    const long long byHeight = (static_cast<long long>(std::max(height, 0)) + roomHeight - 1) / roomHeight;
    const long long byWidth = (static_cast<long long>(std::max(width, 0)) + roomWidth - 1) / roomWidth;
    const long long i = std::max({1LL, byHeight, byWidth});
    return i == 1 ? 0 : static_cast<int>(1 - i);
}

std::string ExpandFileName(const std::string& path)
{
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (error)
        return path;
    return absolute.lexically_normal().string();
}

bool OpenLink(IDesktop& desktop, IMessageBoxes& boxes, const std::string& link)
{
    if (desktop.OpenUrl(link))
        return true;
    boxes.MessageDlg("Le lien " + link + " n'a pas pu \u00EAtre ouvert : aucun programme ne le prend en charge.", mtError,
                     Btn(mbOK));
    return false;
}

bool SameFile(const std::string& a, const std::string& b)
{
    std::error_code error;
    const std::filesystem::path ca = std::filesystem::weakly_canonical(ExpandFileName(a), error);
    if (error)
        return ExpandFileName(a) == ExpandFileName(b);
    const std::filesystem::path cb = std::filesystem::weakly_canonical(ExpandFileName(b), error);
    if (error)
        return ExpandFileName(a) == ExpandFileName(b);
    return ca == cb;
}

int GifFileFrames(const std::string& path)
{
    try {
        TGifPicture gif;
        gif.LoadFromFile(path);
        return gif.FrameCount();
    } catch (const std::exception&) {
        return 0;
    }
}

bool ConfirmGifFramesLost(IMessageBoxes& boxes, const std::string& documentPath, const std::string& target)
{
    if (IsUntitled(documentPath) || LowerCase(ExtractExtension(target)) != "gif" || !SameFile(documentPath, target))
        return true;
    std::error_code error;
    if (!std::filesystem::is_regular_file(target, error))
        return true;
    const int frames = GifFileFrames(target);
    if (frames <= 1)
        return true;
    const int lost = frames - 1;
    const std::string text = "Le fichier " + ExtractFileName(target) + " est une animation de " +
                             std::to_string(frames) + " images. Seule l'image affichée sera enregistrée : " +
                             (lost == 1 ? std::string("l'autre image sera perdue.")
                                        : "les " + std::to_string(lost) + " autres images seront perdues.") +
                             "\n\nEnregistrer quand même ?";
    return boxes.MessageBox(text, MsgDlgCaption(mtConfirmation), MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) ==
           IDYES;
}

std::vector<TRect> TileRects(int count, int width, int height, bool horizontal)
{
    std::vector<TRect> rects;
    if (count <= 0)
        return rects;
    const int total = horizontal ? height : width;
    for (int i = 0; i < count; ++i) {
        const int from = static_cast<int>(static_cast<long long>(total) * i / count);
        const int to = static_cast<int>(static_cast<long long>(total) * (i + 1) / count);
        rects.push_back(horizontal ? Rect(0, from, width, to) : Rect(from, 0, to, height));
    }
    return rects;
}

TPoint DocumentClientSize(std::int64_t shownWidth, std::int64_t shownHeight, int areaWidth, int areaHeight,
                          int left, int top)
{
    const std::int64_t width = std::min<std::int64_t>(std::int64_t{areaWidth} - WindowMarginX - left, shownWidth);
    const std::int64_t height = std::min<std::int64_t>(std::int64_t{areaHeight} - WindowMarginY - top, shownHeight);
    return TPoint{static_cast<int>(std::max<std::int64_t>(1, width)),
                  static_cast<int>(std::max<std::int64_t>(1, height))};
}

TPoint TWindowCascade::Next(int width, int height, int areaWidth, int areaHeight, int step,
                            const std::function<bool(int left, int top)>& keeps)
{
    const std::int64_t at = std::int64_t{FNext} * std::max(step, 0);
    const bool fits = at + width <= areaWidth && at + height <= areaHeight &&
                      (!keeps || keeps(static_cast<int>(at), static_cast<int>(at)));
    if (!fits) {
        FNext = 1;
        return TPoint{0, 0};
    }
    ++FNext;
    return TPoint{static_cast<int>(at), static_cast<int>(at)};
}

TEditorFrame::TEditorFrame(IFrameWindows& windows, const TEditorServices& services)
    : FWindows(windows), FServices(services)
{
}

void TEditorFrame::FormCreate()
{
    StartDir = ProgramStartDir();
    ChildCount = 0;
    EnableImageCommands(false);
}

TDocument* TEditorFrame::ActiveDocument()
{
    IChildWindow* child = FWindows.ActiveChild();
    return child ? child->Document() : nullptr;
}

IChildWindow* TEditorFrame::WindowOf(const TDocument& document)
{
    for (IChildWindow* child : FWindows.Children())
        if (child->Document() == &document)
            return child;
    return nullptr;
}

TDocument* TEditorFrame::OpenImage(const std::string& fileName)
{
    std::string name = fileName;
    // The same file open already: that window comes to the front.
    for (IChildWindow* child : FWindows.Children()) {
        TDocument* document = child->Document();
        if (!document || IsUntitled(document->FileName))
            continue;
        if (name != ScanName && name != PasteName && SameFile(document->FileName, name)) {
            child->Focus();
            return document;
        }
    }

    // The picture is read before a window exists, so that a failure leaves
    // none behind.
    std::unique_ptr<TBitmap> bitmap;
    std::string readWarning;
    std::shared_ptr<const TPhotoMetadata> metadata;
    {
        TWaitCursor wait;
        if (name == ScanName || name == PasteName) {
            bitmap = name == ScanName ? FServices.Scanner->ScanToBitmap() : FServices.Clipboard->GetBitmap();
            if (!bitmap)
                return nullptr;
            name = UntitledName;
            bitmap->SetPixelFormat(pf24bit);
        } else if (name == UntitledName) {
            bitmap = std::make_unique<TBitmap>(NewImageWidth, NewImageHeight, pf24bit);
        } else {
            try {
                TPicture picture;
                picture.LoadFromFile(name);
                if (!picture.Graphic() || picture.Width() <= 0 || picture.Height() <= 0)
                    throw EInvalidGraphic("Image vide");
                bitmap = std::make_unique<TBitmap>(FlattenPicture(picture));
                readWarning = picture.Graphic()->ReadWarning();
                // What the camera recorded goes back into the file with a JPEG save.
                metadata = TPhotoMetadata::Of(picture.Graphic());
            } catch (Exception& e) {
                NameFileInError(e, OpenFailedText, name);
                throw;
            }
        }
        if (bitmap->Empty())
            throw EInvalidGraphic("Image vide");
    }

    auto created = std::make_unique<TDocument>(States);
    TDocument& document = *created;
    document.SetPicture(std::move(*bitmap));
    bitmap.reset();
    document.Metadata = std::move(metadata);
    IChildWindow* window = FWindows.CreateDocumentWindow(std::move(created));
    ++ChildCount;

    const int w = document.Picture().Width();
    const int h = document.Picture().Height();
    document.Aspect = StoreSingle(static_cast<Extended>(h) / w);
    // The picture is fitted into the room the window has where it sits.
    // The window is placed where it keeps the zoom and size it has at the
    // top-left corner of the frame's client area, so that where it goes
    // never makes it smaller.
    const TFitArea client = FWindows.FitArea(*window);
    auto zoomAt = [&](int left, int top) {
        int zoom = FitZoom(w, h, client.ClientWidth - left, client.ClientHeight - FitMarginY - top);
        while (zoom < 0 && !document.ZoomAllowed(zoom))
            ++zoom;
        return zoom;
    };
    auto sizeAt = [&](int zoom, int left, int top) {
        return DocumentClientSize(document.DisplayWidth(zoom), document.DisplayHeight(zoom), client.ClientWidth,
                                  client.ClientHeight, left, top);
    };
    const int cornerZoom = zoomAt(0, 0);
    const TPoint cornerSize = sizeAt(cornerZoom, 0, 0);
    FWindows.PlaceWindow(*window, cornerSize.X, cornerSize.Y, [&](int left, int top) {
        return zoomAt(left, top) == cornerZoom && sizeAt(cornerZoom, left, top) == cornerSize;
    });
    const TFitArea area = FWindows.FitArea(*window);
    document.Zoom = zoomAt(area.Left, area.Top);

    document.SetXorPen();
    document.SelVisible = false;
    document.Moving = false;
    document.Modified = false;
    document.StartX = -1;
    document.StartY = -1;
    document.Affiche(0, 0);

    document.FileName = name;
    std::string caption = ExtractFileName(name) + ZoomText(document.Zoom);
    if (ExtractFileName(name) == UntitledName)
        document.Modified = true;
    if (document.Modified)
        caption += "*";
    document.SetCaptionText(caption);

    EnableImageCommands(true);
    States.SetEnabled("brecadrer", false);
    States.SetPanel(1, SizeText(w, h));
    // A damaged file still opens with what it holds; the user is told, so
    // that the filled part is not taken for the picture.
    if (!readWarning.empty())
        FServices.Boxes->MessageDlg(IncompleteFileText(name, readWarning), mtWarning, Btn(mbOK));
    return &document;
}

TDocument* TEditorFrame::DuplicateChild(TDocument& source)
{
    NewImageWidth = source.Picture().Width();
    NewImageHeight = source.Picture().Height();
    TDocument* copy = OpenImage(UntitledName);
    if (!copy)
        return nullptr;
    copy->SetPicture(*source.CopyWithoutFrame());
    copy->SetXorPen();
    copy->Affiche(0, 0);
    return copy;
}

void TEditorFrame::ShowWindow(TEditorWindow window)
{
    if (FServices.Windows->Has(window))
        FServices.Windows->ShowModal(window);
    else
        FServices.Boxes->MessageDlg(UnavailableText, mtInformation, Btn(mbOK));
}

void TEditorFrame::ShowSaveAssistantFor(TDocument& document)
{
    // The assistant saves the active document: the one to save comes first.
    if (IChildWindow* window = WindowOf(document); window && ActiveDocument() != &document)
        window->Focus();
    // Never another picture in its place: that one would be taken as saved
    // and closed unsaved.
    if (ActiveDocument() != &document) {
        CloseConfirmed = false;
        FServices.Boxes->MessageDlg(SaveNotActiveText, mtWarning, Btn(mbOK));
        return;
    }
    ShowWindow(TEditorWindow::SaveAssistant);
}

void TEditorFrame::SaveDocument(TDocument& document)
{
    const std::string path = ExpandFileName(document.FileName);
    if (IsUntitled(path)) {
        CloseConfirmed = false;
        ShowSaveAssistantFor(document);
        return;
    }
    const std::string extension = ExtractExtension(path);
    if (extension != "bmp" && extension != "gif" && extension != "jpg" && extension != "jpeg" &&
        extension != "png") {
        CloseConfirmed = false;
        if (FServices.Windows->Has(TEditorWindow::SaveAssistant))
            ShowSaveAssistantFor(document);
        else
            FServices.Boxes->MessageDlg(DirectSaveFormatsText, mtWarning, Btn(mbOK));
        return;
    }

    // One picture written over an animation: the user decides first.
    if (extension == "gif" && !ConfirmGifFramesLost(*FServices.Boxes, document.FileName, path)) {
        CloseConfirmed = false;
        return;
    }

    try {
        TWaitCursor wait;
        const std::unique_ptr<TBitmap> picture = document.CopyWithoutFrame();
        if (extension == "bmp") {
            picture->SaveToFile(path);
        } else if (extension == "gif") {
            // Octree to 256 colours with Floyd-Steinberg dithering.
            TGifPicture gif;
            gif.ReductionMethod = rdOctree;
            gif.SetPaletteBits(8);
            gif.DitherMethod = dtFloydSteinberg;
            gif.Assign(*picture);
            gif.SaveToFile(path);
        } else if (extension == "png") {
            TPngPicture png;
            png.Assign(*picture);
            png.CompressionLevel = 9;
            png.SaveToFile(path);
        } else {
            TJPEGImage jpeg;
            jpeg.Assign(*picture);
            jpeg.SetCompressionQuality(85);
            SaveJpegFile(jpeg, document.Metadata.get(), path);
        }
    } catch (Exception& e) {
        NameFileInError(e, SaveFailedText, path);
        throw;
    }
    if (States.Checked("Bparcourir"))
        FServices.Windows->BrowserFileSaved(path);
    CloseConfirmed = true;
}

bool TEditorFrame::DocumentCloseQuery(TDocument& document)
{
    return document.FormCloseQuery(*FServices.Boxes, [this, &document] { SaveDocument(document); });
}

void TEditorFrame::DocumentClosed(TDocument& document)
{
    document.ReleaseUndo();
    if (ChildCount < 2) {
        EnableImageCommands(false);
        States.SetEnabled("bannuler", false);
        States.SetEnabled("Annulerladernireaction1", false);
        States.SetEnabled("bduplique", false);
    }
    --ChildCount;
}

bool TEditorFrame::FormClose()
{
    const std::vector<IChildWindow*> children = FWindows.Children();
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
        CloseConfirmed = true;
        (*it)->Close();
        if (!CloseConfirmed)
            return false;
    }
    if (FServices.Clipboard->HasBitmap() &&
        FServices.Boxes->MessageBox("Vider le presse-papier avant de quitter ?", "Le presse-papier contient une image",
                                    MB_YESNO | MB_ICONQUESTION) == IDYES)
        FServices.Clipboard->Clear();
    return true;
}

void TEditorFrame::Preamble(TDocument& document)
{
    document.memorise();
    if (document.SelVisible)
        document.Trace();
    document.SelVisible = false;
    document.Moving = false;
    document.Selection = Rect(-1, -1, -1, -1);
}

void TEditorFrame::ApplyKernel(TKernel3x3 kernel)
{
    TDocument* document = ActiveDocument();
    if (!document)
        return;
    TWaitCursor wait;
    Preamble(*document);
    // The filter builds its result beside the picture and puts it in the
    // picture's place: no copy beyond the undo snapshot.
    Convolve3x3(document->Picture(), kernel);
    document->PictureChanged();
    document->Modified = true;
}

void TEditorFrame::RotateActiveChild(int direction)
{
    TDocument* document = ActiveDocument();
    if (!document)
        return;
    TWaitCursor wait;
    Preamble(*document);
    Rotate90(document->Picture(), direction);
    document->PictureChanged();
    const TBitmap& turned = document->Picture();
    document->Aspect = StoreSingle(static_cast<Extended>(turned.Height()) / turned.Width());
    document->Affiche(0, 0);
    document->Modified = true;
}

void TEditorFrame::CropActiveChild()
{
    TDocument* document = ActiveDocument();
    if (!document || !document->SelVisible)
        return;
    TWaitCursor wait;
    const TBitmap& picture = document->Picture();
    TRect s = document->Selection;
    s.Left = std::clamp(s.Left, 0, picture.Width());
    s.Right = std::clamp(s.Right, 0, picture.Width());
    s.Top = std::clamp(s.Top, 0, picture.Height());
    s.Bottom = std::clamp(s.Bottom, 0, picture.Height());
    if (s.IsEmpty())
        return;
    Preamble(*document);
    auto part = std::make_unique<TBitmap>(s.Width(), s.Height(), pf24bit);
    for (int y = 0; y < s.Height(); ++y)
        std::memcpy(part->ScanLine(y), picture.ScanLine(s.Top + y) + static_cast<std::size_t>(s.Left) * 3,
                    static_cast<std::size_t>(s.Width()) * 3);
    document->SetPicture(*part);
    document->Modified = true;
    document->Aspect = StoreSingle(static_cast<Extended>(part->Height()) / part->Width());
    // A small part at a strong reduction would show as nothing.
    while (document->Zoom < 0 && !document->ZoomAllowed(document->Zoom))
        ++document->Zoom;
    document->Affiche(0, 0);
}

void TEditorFrame::benrClick()
{
    if (TDocument* document = ActiveDocument())
        SaveDocument(*document);
}

void TEditorFrame::BenrsousClick()
{
    if (ActiveDocument())
        ShowWindow(TEditorWindow::SaveAssistant);
}

void TEditorFrame::bscanClick()
{
    OpenImage(ScanName);
}

void TEditorFrame::bsourcescanClick()
{
    FServices.Scanner->SelectScanner();
}

void TEditorFrame::bcollerClick()
{
    if (FServices.Clipboard->HasBitmap())
        OpenImage(PasteName);
    else
        FServices.Boxes->MessageDlg("Pas d'image dans le Presse-papiers", mtInformation, Btn(mbOK));
}

void TEditorFrame::bdupliqueClick()
{
    if (TDocument* document = ActiveDocument())
        DuplicateChild(*document);
}

void TEditorFrame::bcopierClick()
{
    if (TDocument* document = ActiveDocument()) {
        TWaitCursor wait;
        document->ToPP(*FServices.Clipboard);
    }
}

void TEditorFrame::bannulerClick()
{
    if (TDocument* document = ActiveDocument())
        document->restitue();
}

void TEditorFrame::brecadrerClick()
{
    CropActiveChild();
    States.SetPanel(3, "0 x 0");
}

void TEditorFrame::blplusClick()
{
    if (TDocument* document = ActiveDocument())
        document->ZoomBy(1);
}

void TEditorFrame::blmoinsClick()
{
    if (TDocument* document = ActiveDocument())
        document->ZoomBy(-1);
}

void TEditorFrame::bcontrasteClick()
{
    if (ActiveDocument())
        ShowWindow(TEditorWindow::Contrast);
}

void TEditorFrame::bgrisClick()
{
    if (ActiveDocument())
        ShowWindow(TEditorWindow::Grey);
}

void TEditorFrame::btrameClick()
{
    TDocument* document = ActiveDocument();
    if (!document)
        return;
    // The frame is taken off at its own pen width before the step changes.
    document->SetZoomStep(0);
    ShowWindow(TEditorWindow::Halftone);
}

void TEditorFrame::bfiltrepClick()
{
    if (ActiveDocument())
        ShowWindow(TEditorWindow::Filters);
}

void TEditorFrame::BkavrelClick()
{
    if (ActiveDocument())
        ShowWindow(TEditorWindow::Resize);
}

void TEditorFrame::bimprimerClick()
{
    if (ActiveDocument())
        ShowWindow(TEditorWindow::Print);
}

void TEditorFrame::bimpvClick()
{
    ShowWindow(TEditorWindow::ContactSheet);
}

void TEditorFrame::HelpAbout1Execute()
{
    ShowWindow(TEditorWindow::AboutBox);
}

void TEditorFrame::baideClick()
{
    const QString page = QString::fromStdString(StartDir + "aide/corvinel.htm");
    OpenLink(*FServices.Shell, *FServices.Boxes, QUrl::fromLocalFile(page).toString().toStdString());
}

void TEditorFrame::bkavrelcClick()
{
    const std::string program = StartDir + "kavrel";
    if (FServices.Shell->ExecAndWait(program))
        return;
    std::error_code error;
    if (!std::filesystem::exists(program, error))
        FServices.Boxes->MessageDlg("Le programme de redimensionnement groupé est introuvable : " + program + ".",
                                    mtError, Btn(mbOK));
    else
        FServices.Boxes->MessageDlg("Impossible de lancer le programme de redimensionnement groupé " + program + ".",
                                    mtError, Btn(mbOK));
}

void TEditorFrame::FileCloseItemClick()
{
    if (IChildWindow* child = FWindows.ActiveChild())
        child->Close();
}

void TEditorFrame::BparcourirClick(bool down)
{
    States.SetChecked("Bparcourir", down);
    States.SetChecked("Parcourir1", down);
    if (down) {
        if (FServices.Windows->HasBrowser()) {
            FServices.Windows->OpenBrowser();
        } else {
            States.SetChecked("Bparcourir", false);
            States.SetChecked("Parcourir1", false);
            FServices.Boxes->MessageDlg(UnavailableText, mtInformation, Btn(mbOK));
        }
    } else if (FServices.Windows->HasBrowser()) {
        FServices.Windows->CloseBrowser();
    }
}

void TEditorFrame::Parcourir1Click()
{
    BparcourirClick(!States.Checked("Bparcourir"));
}
