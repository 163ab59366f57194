#include "EditorDialogs.h"

#include "Application.h"
#include "ImageDialogs.h"
#include "PauseTimer.h"

// The application's message boxes at the time of each question.
class TEditorDialogs::TApplicationBoxes : public IMessageBoxes {
public:
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override
    {
        return Boxes().MessageBox(text, caption, flags);
    }
    int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons) override
    {
        return Boxes().MessageDlg(text, type, buttons);
    }

private:
    IMessageBoxes& Boxes()
    {
        if (Application)
            return Application->MessageBoxes();
        return FQt;
    }
    TQtMessageBoxes FQt;
};

TEditorDialogs::TEditorDialogs(IEditorWindows* later)
    : FLater(later), FApplicationBoxes(std::make_unique<TApplicationBoxes>())
{
}

TEditorDialogs::~TEditorDialogs()
{
    // Dialogs made without a frame window are this object's.
    for (QWidget* dialog : std::initializer_list<QWidget*>{FContrast, FGrey, FHalftone, FFilters, FResize, FSave})
        if (dialog && !dialog->parent())
            delete dialog;
}

IEditorWindows& TEditorDialogs::Later() const
{
    return FLater ? *FLater : const_cast<TNoEditorWindows&>(FNone);
}

void TEditorDialogs::Create(QWidget* frame, std::function<TDocument*()> activeDocument, const std::string& startDir,
                            IMessageBoxes* boxes, ITimerClock* clock)
{
    if (FContrast)
        return;
    FActiveDocument = std::move(activeDocument);
    IMessageBoxes& questions = boxes ? *boxes : *FApplicationBoxes;
    FContrast = new TFcontraste(clock ? *clock : ProgramClock(), frame);
    FGrey = new TFgris(frame);
    FHalftone = new TFtrame(frame);
    FFilters = new TFfiltres(questions, startDir, nullptr, frame);
    FResize = new TFkavrel(questions, frame);
    FSave = new TFsauve(clock ? *clock : ProgramClock(), questions, nullptr, true, frame);
    FSave->Logic().Browser = {[this] { return FBrowserShown && FBrowserShown(); },
                              [this](const std::string& path) { BrowserFileSaved(path); },
                              [this](const std::string& path) { BrowserFileAdded(path); }};
}

bool TEditorDialogs::Has(TEditorWindow window) const
{
    switch (window) {
    case TEditorWindow::Contrast:
        return FContrast;
    case TEditorWindow::Grey:
        return FGrey;
    case TEditorWindow::Halftone:
        return FHalftone;
    case TEditorWindow::Filters:
        return FFilters;
    case TEditorWindow::Resize:
        return FResize;
    case TEditorWindow::SaveAssistant:
        return FSave;
    default:
        return Later().Has(window);
    }
}

void TEditorDialogs::ShowModal(TEditorWindow window)
{
    TImageDialog* dialog = nullptr;
    switch (window) {
    case TEditorWindow::Contrast:
        dialog = FContrast;
        break;
    case TEditorWindow::Grey:
        dialog = FGrey;
        break;
    case TEditorWindow::Halftone:
        dialog = FHalftone;
        break;
    case TEditorWindow::Filters:
        dialog = FFilters;
        break;
    case TEditorWindow::Resize:
        dialog = FResize;
        break;
    case TEditorWindow::SaveAssistant:
        dialog = FSave;
        break;
    default:
        Later().ShowModal(window);
        return;
    }
    // The image dialogs work on the active document; without one there is
    // nothing to show.
    TDocument* document = FActiveDocument ? FActiveDocument() : nullptr;
    if (dialog && document)
        dialog->Execute(*document);
}

bool TEditorDialogs::HasBrowser() const
{
    return Later().HasBrowser();
}

void TEditorDialogs::OpenBrowser()
{
    Later().OpenBrowser();
}

void TEditorDialogs::CloseBrowser()
{
    Later().CloseBrowser();
}

void TEditorDialogs::BrowserFileSaved(const std::string& path)
{
    Later().BrowserFileSaved(path);
}

void TEditorDialogs::BrowserFileAdded(const std::string& path)
{
    Later().BrowserFileAdded(path);
}

void TEditorDialogs::SetBrowserShown(std::function<bool()> shown)
{
    FBrowserShown = std::move(shown);
}
