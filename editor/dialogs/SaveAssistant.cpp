#include "SaveAssistant.h"

#include "PhotoMetadata.h"

#include "Application.h"
#include "AtomicFile.h"
#include "Bitmap.h"
#include "Canvas.h"
#include "Desktop.h"
#include "Document.h"
#include "EditorFrame.h"
#include "Exceptions.h"
#include "GifSaveEncoder.h"
#include "Jpeg.h"
#include "MessageBoxes.h"
#include "Picture.h"
#include "PngCodec.h"

#include <QCoreApplication>
#include <QDir>
#include <QObject>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

namespace {

struct TTabFormat {
    const char* Extension;
    const char* Filter;
};

constexpr std::array<TTabFormat, SaveTabCount> TabFormats{{
    {"bmp", "Bitmaps (*.bmp)|*.bmp"},
    {"gif", "Compuserve Images (*.gif)|*.gif"},
    {"jpg", "JPEG Images (*.jpg)|*.jpg"},
    {"png", "Portable Network Images (*.png)|*.png"},
}};

const TTabFormat& TabFormat(int tab)
{
    if (tab < 0 || tab >= SaveTabCount)
        throw Exception("Onglet inconnu : " + std::to_string(tab));
    return TabFormats[static_cast<std::size_t>(tab)];
}

// Removes a file when the scope ends, however it ends.
class TFileRemover {
public:
    explicit TFileRemover(std::string path) : FPath(std::move(path)) {}
    ~TFileRemover()
    {
        std::error_code ignored;
        std::filesystem::remove(FPath, ignored);
    }
    TFileRemover(const TFileRemover&) = delete;
    TFileRemover& operator=(const TFileRemover&) = delete;

private:
    std::string FPath;
};

// Whether two settings make the same file on a tab: each tab reads its own
// control only.
bool SameFile(const TSaveSettings& a, const TSaveSettings& b, int tab)
{
    switch (tab) {
    case stGIF:
        return a.Colors16 == b.Colors16;
    case stJPG:
        return a.JpegPosition == b.JpegPosition;
    case stPNG:
        return a.PngLevel == b.PngLevel;
    default:
        return true;
    }
}

std::vector<std::uint8_t> ReadWholeFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw EFOpenError("Impossible d'ouvrir le fichier " + path);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        throw EReadError("Erreur de lecture du fichier " + path);
    return bytes;
}

} // namespace

// The private folder of a showing. It holds its folder open, so that the
// folder it made is told from one another program puts under the same name
// once it was removed (the held folder's identity cannot be given to
// another meanwhile). At its end it removes the folder only while that is
// still its own: a name that another program took is left alone.
class TPrivateFolder {
public:
    TPrivateFolder() : FDir(QDir::tempPath() + QStringLiteral("/corvinel-XXXXXX"))
    {
        if (!FDir.isValid())
            throw EFCreateError("Impossible de créer le dossier temporaire des aperçus : " +
                                FDir.errorString().toStdString());
        FHandle = ::open(Path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat made {};
        if (FHandle < 0 || ::fstat(FHandle, &made) != 0) {
            if (FHandle >= 0)
                ::close(FHandle);
            throw EFCreateError("Impossible d'ouvrir le dossier temporaire des aperçus " + Path());
        }
        FDevice = made.st_dev;
        FInode = made.st_ino;
    }
    ~TPrivateFolder()
    {
        if (!Own())
            FDir.setAutoRemove(false);
        if (FHandle >= 0)
            ::close(FHandle);
    }
    TPrivateFolder(const TPrivateFolder&) = delete;
    TPrivateFolder& operator=(const TPrivateFolder&) = delete;

    std::string Path() const { return FDir.path().toStdString(); }
    // Whether the folder under its name is still the one it made.
    bool Own() const
    {
        struct stat now {};
        return FHandle >= 0 && ::lstat(Path().c_str(), &now) == 0 && S_ISDIR(now.st_mode) &&
               now.st_dev == FDevice && now.st_ino == FInode;
    }

private:
    QTemporaryDir FDir;
    int FHandle = -1;
    dev_t FDevice = 0;
    ino_t FInode = 0;
};

std::string FileSizeText(std::uint64_t bytes)
{
    const std::string digits = std::to_string(bytes);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text += ' ';
        text += digits[i];
    }
    return text;
}

std::string DownloadTimeText(std::uint64_t bytes)
{
    // Tenths of a second at 5000 bytes a second.
    std::string text = std::to_string(bytes / 500);
    text.insert(text.size() - 1, ".");
    if (text.front() == '.')
        text.insert(0, "0");
    return text;
}

std::string SaveTabExtension(int tab)
{
    return TabFormat(tab).Extension;
}

std::string SaveTabFilter(int tab)
{
    return TabFormat(tab).Filter;
}

std::string SaveTargetName(const std::string& chosen, int tab)
{
    const std::string own = SaveTabExtension(tab);
    const std::string name = ExtractFileName(chosen);
    const std::string extension = ExtractExtension(name);
    // A dot-file (".photo") has a name but no extension.
    const bool hasExtension = !extension.empty() && name.size() > extension.size() + 1;
    if (!hasExtension)
        return chosen + (chosen.back() == '.' ? "" : ".") + own;
    const TGraphicClass named = TPicture::FindGraphicClass(extension);
    if (extension == own || (named && named == TPicture::FindGraphicClass(own)))
        return chosen;
    if (!named)
        return chosen + "." + own;
    return chosen.substr(0, chosen.size() - extension.size()) + own;
}

std::unique_ptr<TGraphic> PrepareEncoder(const TBitmap& picture, const TSaveSettings& settings)
{
    switch (settings.Tab) {
    case stGIF:
        return MakeGifEncoder(picture, settings.Colors16);
    case stJPG: {
        auto jpeg = std::make_unique<TJPEGImage>();
        jpeg->Assign(picture);
        // Quality 0 at the slider's end is libjpeg's lowest, 1.
        jpeg->SetCompressionQuality(100 - settings.JpegPosition);
        return jpeg;
    }
    case stPNG: {
        auto png = std::make_unique<TPngPicture>();
        png->Assign(picture);
        png->CompressionLevel = static_cast<std::uint8_t>(std::clamp(settings.PngLevel, 0, 9));
        return png;
    }
    default:
        return nullptr;
    }
}

TSavePreview MakeSavePreview(const TBitmap& picture, const TSaveSettings& settings, const std::string& folder)
{
    TSavePreview preview;
    preview.Settings = settings;
    const std::unique_ptr<TGraphic> encoder = PrepareEncoder(picture, settings);
    const std::string file = folder + "/tempo." + SaveTabExtension(settings.Tab);
    const TFileRemover remover(file);
    if (encoder)
        encoder->SaveToFile(file);
    else
        picture.SaveToFile(file);

    // The document shows the file as its format's reader gives it.
    TPicture loaded;
    loaded.LoadFromFile(file);
    if (!loaded.Graphic() || loaded.Width() <= 0 || loaded.Height() <= 0)
        throw EInvalidGraphic("Image vide : " + file);
    preview.Picture = std::make_unique<TBitmap>(loaded.Width(), loaded.Height(), pf24bit);
    preview.Picture->Canvas().Draw(0, 0, *loaded.Graphic());

    preview.Bytes = ReadWholeFile(file);
    preview.Size = preview.Bytes.size();
    return preview;
}

// ---------------------------------------------------------------------------

TFsauveLogic::TFsauveLogic(ITimerClock& clock, IMessageBoxes& boxes, ISaveAsDialog& saveDialog, bool threaded)
    : Pause(clock, TPauseMode::KeepRunning, 500), FBoxes(boxes), FSaveDialog(saveDialog), FThreaded(threaded),
      FContext(std::make_unique<QObject>())
{
    Pause.OnTimer = [this] { pauseTimer(); };
}

TFsauveLogic::~TFsauveLogic()
{
    Pause.Stop();
    RetireJob();
    // The encodings still running use this object's context: they end
    // first.
    for (TRetired& retired : FRetired)
        retired.Job.wait();
}

bool TFsauveLogic::GifAvailable()
{
    return GifEncoderAvailable();
}

std::string TFsauveLogic::TempFolder() const
{
    return FTemp ? FTemp->Path() : std::string();
}

void TFsauveLogic::FormActivate(TDocument& document)
{
    CloseConfirmed = false;
    if (!Session.Begin(document))
        return;
    FSaved = false;
    FLast.reset();
    // Another picture: no figures of an earlier showing stand.
    FFigures = {};
    ShowFigures();
    auto work = std::make_shared<TBitmap>();
    work->Assign(Session.WorkBitmap());
    FWork = std::move(work);
    MakeTempFolder();
    PCChange();
}

void TFsauveLogic::MakeTempFolder()
{
    if (FTemp && FTemp->Own())
        return;
    // A folder of the showing's own: no other program or user can place or
    // read the files there. One removed under the dialog is not made again
    // under its name, which another program may have taken meanwhile; the
    // folder left goes without touching what now stands under that name.
    FTemp.reset();
    FTemp = std::make_unique<TPrivateFolder>();
}

void TFsauveLogic::FormClose()
{
    Pause.Stop();
    // A long encoding does not hold the close up: it ends on its own and
    // takes the folder with it.
    RetireJob();
    FTemp.reset();
    FWork.reset();
    FLast.reset();
    TDocument* document = Session.Document();
    Session.End();
    // A save is not undone by the restore: the file holds the picture the
    // document shows again.
    if (document && FSaved) {
        document->Modified = false;
        document->RemoveStar();
    }
    FSaved = false;
}

void TFsauveLogic::SetTab(int tab)
{
    if (tab < 0 || tab >= SaveTabCount)
        return;
    Settings.Tab = tab;
    PCChange();
}

void TFsauveLogic::PCChange()
{
    if (!Session.Active() || !FWork)
        return;
    if (Settings.Tab == stGIF && !GifAvailable()) {
        ShowUnavailable();
        return;
    }
    TSavePreview preview;
    try {
        if (FThreaded) {
            // The newest request wins: one encoding at a time, the next one
            // reads the settings when it starts.
            if (FJob.valid())
                FPending = true;
            else
                StartJob();
            Changed();
            return;
        }
        TWaitCursor wait;
        MakeTempFolder();
        preview = MakeSavePreview(*FWork, Settings, TempFolder());
    } catch (...) {
        // What the dialog shows is never that of another setting.
        DropPreview();
        throw;
    }
    Show(std::move(preview));
}

void TFsauveLogic::calChange(int jpegPosition, int pngLevel)
{
    Settings.JpegPosition = jpegPosition;
    Settings.PngLevel = pngLevel;
    ShowFigures();
    Pause.SetEnabled(true);
}

void TFsauveLogic::pauseTimer()
{
    Pause.SetEnabled(false);
    PCChange();
}

void TFsauveLogic::Rcoul16Click(bool colors16)
{
    Settings.Colors16 = colors16;
    ShowFigures();
    PCChange();
}

void TFsauveLogic::WaitIdle()
{
    // The windows keep repainting while it waits, a large picture taking
    // seconds to encode; what the user does to them meanwhile is dropped.
    // An error met meanwhile is shown when the wait ends, input taken
    // again and the wait cursor gone.
    if (!FJob.valid())
        return;
    const TInputPause paused;
    const TWaitCursor wait;
    while (FJob.valid()) {
        if (FJob.wait_for(std::chrono::milliseconds(20)) == std::future_status::ready)
            JobDone(FGeneration);
        else if (QCoreApplication::instance())
            QCoreApplication::processEvents();
    }
}

bool TFsauveLogic::enregistrerClick()
{
    TDocument* document = Session.Document();
    if (!document || !FWork)
        return false;
    if (Settings.Tab == stGIF && !GifAvailable()) {
        FBoxes.MessageDlg("L'enregistrement au format GIF n'est pas disponible dans cette version.", mtWarning,
                          Btn(mbOK));
        return false;
    }
    // What is saved is what the dialog shows: a movement still waiting for
    // its preview is previewed first (off the user-interface thread when
    // previews are, the window repainting meanwhile).
    Pause.Stop();
    if (!FLast || !(FLast->Settings == Settings)) {
        TWaitCursor wait;
        PCChange();
    }
    WaitIdle();
    // A preview that failed was told (once the user could answer the box);
    // nothing unpreviewed is written.
    if (!FLast || !(FLast->Settings == Settings))
        return false;

    const int tab = Settings.Tab;
    const std::string oldPath = document->FileName;
    const bool untitled = ExtractFileName(oldPath) == UntitledName;
    const std::string folder = untitled ? std::string() : std::filesystem::path(oldPath).parent_path().string();
    std::string chosen;
    if (!FSaveDialog.Execute(SaveTabFilter(tab), SaveTabExtension(tab), folder, ExtractFileName(oldPath), chosen) ||
        chosen.empty())
        return false;
    const std::string path = std::filesystem::absolute(std::filesystem::path(chosen)).lexically_normal().string();
    const std::string target = SaveTargetName(path, tab);
    std::error_code error;
    const bool replaced = std::filesystem::exists(target, error);
    if (target != path && replaced &&
        FBoxes.MessageDlg("Le fichier " + ExtractFileName(target) + " existe déjà. Voulez-vous le remplacer ?",
                          mtConfirmation, mbYes | mbNo) != mrYes)
        return false;
    if (!ConfirmGifFramesLost(FBoxes, oldPath, target))
        return false;

    {
        TWaitCursor wait;
        // The bytes previewed and measured, camera data included.
        const std::vector<std::uint8_t>& bytes = FLast->Bytes;
        try {
            AtomicWriteFile(target, [&bytes](TStream& stream) { stream.WriteBuffer(bytes.data(), bytes.size()); });
        } catch (Exception& e) {
            NameFileInError(e, SaveFailedText, target);
            throw;
        }
    }

    // The bookkeeping follows the write: a failed write changed nothing.
    document->FileName = target;
    document->SetCaptionText(ExtractFileName(target));
    document->Modified = false;
    document->Affiche(0, 0);
    if (Browser.Shown && Browser.Shown()) {
        // A file written over has its tile already: it is redrawn, not doubled.
        if (oldPath == target || replaced) {
            if (Browser.Refresh)
                Browser.Refresh(target);
        } else if (Browser.Add) {
            Browser.Add(target);
        }
    }
    FSaved = true;
    CloseConfirmed = true;
    return true;
}

void TFsauveLogic::StartJob()
{
    FPending = false;
    MakeTempFolder();
    const std::uint64_t generation = ++FGeneration;
    if (!FBusyCursor)
        FBusyCursor = std::make_unique<TWaitCursor>();
    QObject* context = FContext.get();
    FJob = std::async(std::launch::async, [this, work = FWork, settings = Settings, folder = TempFolder(), context,
                                           generation] {
        TOutcome outcome;
        try {
            outcome.Preview = MakeSavePreview(*work, settings, folder);
        } catch (...) {
            outcome.Error = std::current_exception();
        }
        // Told on the user-interface thread; the context goes with the
        // assistant, and a call to a context gone is dropped.
        QMetaObject::invokeMethod(context, [this, generation] { JobDone(generation); }, Qt::QueuedConnection);
        return outcome;
    });
}

void TFsauveLogic::JobDone(std::uint64_t generation)
{
    for (auto it = FRetired.begin(); it != FRetired.end(); ++it)
        if (it->Generation == generation) {
            // Its work is done (it tells only then): its folder goes.
            it->Job.wait();
            FRetired.erase(it);
            return;
        }
    if (!FJob.valid() || generation != FGeneration)
        return;
    TOutcome outcome = FJob.get();
    try {
        if (FPending) {
            // A newer request came meanwhile: this result is stale.
            StartJob();
            return;
        }
        FBusyCursor.reset();
        if (outcome.Error)
            std::rethrow_exception(outcome.Error);
        Show(std::move(outcome.Preview));
    } catch (...) {
        FBusyCursor.reset();
        DropPreview();
        if (Application)
            Application->HandleException();
        else
            throw;
    }
}

void TFsauveLogic::RetireJob()
{
    FPending = false;
    FBusyCursor.reset();
    if (!FJob.valid())
        return;
    FRetired.push_back(TRetired{FGeneration, std::move(FJob), std::move(FTemp)});
    // The folder is the retired job's now; a new showing makes its own.
    ++FGeneration;
}

void TFsauveLogic::Show(TSavePreview preview)
{
    TDocument* document = Session.Document();
    if (!document)
        return;
    const int tab = preview.Settings.Tab;
    // A photo saved as JPEG keeps its camera data, as a direct save does:
    // the size shown is that of the file written, data included.
    if (tab == stJPG && document->Metadata) {
        preview.Bytes =
            document->Metadata->ApplyTo(preview.Bytes, preview.Picture->Width(), preview.Picture->Height());
        preview.Size = preview.Bytes.size();
    }
    document->SetPicture(*preview.Picture);
    document->Affiche(0, 0);
    FFigures[static_cast<std::size_t>(tab)] = TFigures{preview.Settings, preview.Size};
    ShowFigures();
    preview.Picture.reset();
    FLast = std::make_unique<TSavePreview>(std::move(preview));
    Changed();
}

void TFsauveLogic::DropPreview()
{
    FLast.reset();
    if (Session.Active())
        Session.ShowUntouched();
    ShowFigures();
    Changed();
}

void TFsauveLogic::ShowUnavailable()
{
    FFigures[stGIF].reset();
    DropPreview();
}

void TFsauveLogic::ShowFigures()
{
    for (int tab = 0; tab < SaveTabCount; ++tab) {
        const auto i = static_cast<std::size_t>(tab);
        const std::optional<TFigures>& figures = FFigures[i];
        if (figures && SameFile(figures->Settings, Settings, tab)) {
            SizeLabels[i] = FileSizeText(figures->Size);
            TimeLabels[i] = DownloadTimeText(figures->Size);
        } else {
            SizeLabels[i].clear();
            TimeLabels[i].clear();
        }
    }
}

void TFsauveLogic::Changed()
{
    if (OnChanged)
        OnChanged();
}
