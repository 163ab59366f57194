#pragma once
// The logic of the save assistant (TFsauve): the active document saved as
// BMP, GIF, JPEG or PNG after a preview of what the file will look like, how
// large it will be and how long it takes to download at 5 Ko/s. Each preview
// really encodes the picture into a file of the dialog's own temporary
// folder, loads that file back into the document, measures it and deletes
// it. The picture the document had when the assistant opened comes back at
// every close, also after a save. The form (Fsauve) holds the controls and
// calls these.

#include "PauseTimer.h"
#include "PreviewSession.h"

#include <array>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class IMessageBoxes;
class QObject;
class TBitmap;
class TDocument;
class TGraphic;
class TPrivateFolder;
class TWaitCursor;

// The tabs, in the order of the page control.
enum TSaveTab : int { stBMP = 0, stGIF = 1, stJPG = 2, stPNG = 3 };
constexpr int SaveTabCount = 4;

// "12 345": the decimal digits in groups of three from the right.
std::string FileSizeText(std::uint64_t bytes);
// The download time at 5000 bytes a second in tenths: "2.4", "0.9".
std::string DownloadTimeText(std::uint64_t bytes);

// The extension a tab writes ("bmp", "gif", "jpg", "png") and the filter
// of its save dialog.
std::string SaveTabExtension(int tab);
std::string SaveTabFilter(int tab);
// The name a file is written under on a tab: a name without an extension
// (or with one that names no picture format) gets the tab's; a name whose
// extension names another picture format gets the tab's in its place; an
// extension of the tab's own format ("JPEG" on the JPG tab) is kept.
std::string SaveTargetName(const std::string& chosen, int tab);

// What a preview is made with: the tab and the settings it reads.
struct TSaveSettings {
    int Tab = stBMP;
    int JpegPosition = 20; // the JPG slider; the quality is 100 - position
    int PngLevel = 9;      // the PNG slider, the compression level
    bool Colors16 = false; // the GIF tab's "16"
    bool operator==(const TSaveSettings&) const = default;
};

// The encoder a tab saves with, made from the picture and the settings:
// null for BMP (the picture itself is written).
std::unique_ptr<TGraphic> PrepareEncoder(const TBitmap& picture, const TSaveSettings& settings);

// One preview made: the picture decoded from the file, the size and the
// bytes a save writes (a photo's JPEG with its camera data put in).
struct TSavePreview {
    TSaveSettings Settings;
    std::unique_ptr<TBitmap> Picture;
    std::uint64_t Size = 0;
    std::vector<std::uint8_t> Bytes;
};

// Encodes the picture with the settings into folder/"tempo.<ext>", loads
// it back through the picture registry, measures and deletes it. The file
// is gone afterwards, also when a step fails.
TSavePreview MakeSavePreview(const TBitmap& picture, const TSaveSettings& settings, const std::string& folder);

// The save dialog: a filter, a default extension and a proposed file name;
// answers the chosen path (the dialog asks before an existing file is
// replaced) or false when cancelled.
class ISaveAsDialog {
public:
    virtual ~ISaveAsDialog() = default;
    virtual bool Execute(const std::string& filter, const std::string& defaultExt, const std::string& folder,
                         const std::string& proposed, std::string& fileName) = 0;
};

// Where a saved file is told to the thumbnail browser.
struct TSaveBrowserHooks {
    // Whether the browser is open (its toggle is down).
    std::function<bool()> Shown;
    // The file was written again under its own path / under a new one.
    std::function<void(const std::string&)> Refresh;
    std::function<void(const std::string&)> Add;
};

class TFsauveLogic {
public:
    // threaded: previews are encoded off the user-interface thread, the
    // last request winning; else each runs at once.
    TFsauveLogic(ITimerClock& clock, IMessageBoxes& boxes, ISaveAsDialog& saveDialog, bool threaded);
    ~TFsauveLogic();
    TFsauveLogic(const TFsauveLogic&) = delete;
    TFsauveLogic& operator=(const TFsauveLogic&) = delete;

    // The controls' states, kept from one showing to the next.
    TSaveSettings Settings;
    TSaveBrowserHooks Browser;
    TPreviewSession Session;
    TPauseTimer Pause;
    // The size and time labels of the four tabs: the figures of a tab's
    // last preview while the settings shown are those it was made with,
    // else empty.
    std::array<std::string, SaveTabCount> SizeLabels;
    std::array<std::string, SaveTabCount> TimeLabels;
    // Told when a label or the busy state changed (a preview ended).
    std::function<void()> OnChanged;
    // Whether the GIF tab can encode in this build.
    static bool GifAvailable();

    // The start of a showing: CloseConfirmed false, snapshot, the private
    // folder, the active tab's preview. A preview finding the folder gone
    // (a cleaner removed it) makes it again.
    void FormActivate(TDocument& document);
    // The end of a showing: the wait dropped, a running preview waited for,
    // the folder removed, the document's picture as it was at activation.
    void FormClose();

    // The tab changed (and the common step of the handlers below): the
    // active tab's encoder and preview.
    void PCChange();
    void SetTab(int tab);
    // Both sliders: the value labels follow, the figures of the setting
    // left go; a preview comes after the pause (a wait already running is
    // not restarted).
    void calChange(int jpegPosition, int pngLevel);
    void pauseTimer();
    // The colour choice: previewed at once.
    void Rcoul16Click(bool colors16);
    // ENREGISTRER: the preview brought up to date with the settings shown,
    // the save dialog, the write. True when the file was written (the form
    // then closes).
    bool enregistrerClick();

    // A preview is being encoded (or waits to be).
    bool Busy() const { return FJob.valid() || FPending; }
    // The last preview shown (null before the first).
    const TSavePreview* LastPreview() const { return FLast.get(); }
    // The private folder of the showing ("" when none is open).
    std::string TempFolder() const;
    // Waits until no preview is being encoded and shows the last one; the
    // windows repaint meanwhile, and an error met is shown once the user's
    // input is taken again.
    void WaitIdle();
    // Encodings left running by closes and not ended yet.
    std::size_t RetiredCount() const { return FRetired.size(); }

private:
    struct TOutcome {
        TSavePreview Preview;
        std::exception_ptr Error;
    };
    // A tab's last preview measured: what it was made with and its size.
    struct TFigures {
        TSaveSettings Settings;
        std::uint64_t Size = 0;
    };
    // An encoding left running by a close: it ends on its own, then its
    // folder goes.
    struct TRetired {
        std::uint64_t Generation = 0;
        std::future<TOutcome> Job;
        std::unique_ptr<TPrivateFolder> Folder;
    };
    void StartJob();
    void JobDone(std::uint64_t generation);
    // The running encoding (if any) goes on alone, its result unused.
    void RetireJob();
    void Show(TSavePreview preview);
    // No preview stands: the document shows its own picture.
    void DropPreview();
    void ShowUnavailable();
    // The labels from the figures that belong to the settings shown.
    void ShowFigures();
    // The private folder, made again when it is gone or another stands
    // under its name.
    void MakeTempFolder();
    void Changed();

    IMessageBoxes& FBoxes;
    ISaveAsDialog& FSaveDialog;
    bool FThreaded;
    std::unique_ptr<TPrivateFolder> FTemp;
    std::shared_ptr<const TBitmap> FWork;
    std::unique_ptr<TSavePreview> FLast;
    std::array<std::optional<TFigures>, SaveTabCount> FFigures;
    bool FSaved = false;

    // The preview being encoded off the user-interface thread.
    std::future<TOutcome> FJob;
    std::uint64_t FGeneration = 0;
    std::vector<TRetired> FRetired;
    bool FPending = false;
    std::unique_ptr<TWaitCursor> FBusyCursor;
    std::unique_ptr<QObject> FContext;
};
