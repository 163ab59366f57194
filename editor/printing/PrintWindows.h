#pragma once
// The printing dialogs as windows of the frame: single-picture printing and
// contact sheets. TPrintWindows shows them and hands every other window to
// the next set of windows, so that it composes with the program's other
// dialogs.

#include "ImpVignettes.h"
#include "Services.h"

#include <QPointer>

#include <functional>
#include <string>
#include <vector>

class IPrintDialog;
class QMdiArea;
class QWidget;
class TDocument;
class TFimp;
class TFimpV;
class TMainForm;
class TPrinter;

class IBrowserFileList;

// The thumbnail browser's files as the contact sheets read them.
class TBrowserSheetSource : public IContactSheetSource {
public:
    IBrowserFileList* List = nullptr;
    std::string Directory() const override;
    std::vector<std::string> FileNames() const override;
};

class TPrintWindows : public IEditorWindows {
public:
    TPrintWindows(IEditorWindows& next, TPrinter& printer, IPrintDialog& dialog);
    ~TPrintWindows() override;
    TPrintWindows(const TPrintWindows&) = delete;
    TPrintWindows& operator=(const TPrintWindows&) = delete;

    // Where the dialogs find their work, and the window they sit over.
    std::function<TDocument*()> ActiveDocument;
    std::function<IContactSheetSource*()> FindBrowser;
    QWidget* Parent = nullptr;

    bool Has(TEditorWindow window) const override;
    void ShowModal(TEditorWindow window) override;
    bool HasBrowser() const override { return FNext.HasBrowser(); }
    void OpenBrowser() override { FNext.OpenBrowser(); }
    void CloseBrowser() override { FNext.CloseBrowser(); }
    void BrowserFileSaved(const std::string& path) override { FNext.BrowserFileSaved(path); }

    // The browser of an MDI area, found by its type (whatever its caption),
    // as the contact sheets read it; null when none is open.
    IContactSheetSource* BrowserIn(QMdiArea& area);

    // The dialogs, made on first use and kept with their states.
    TFimp& Fimp();
    TFimpV& FimpV();

private:
    IEditorWindows& FNext;
    TPrinter& FPrinter;
    IPrintDialog& FDialog;
    QPointer<TFimp> FFimp;
    QPointer<TFimpV> FFimpV;
    TBrowserSheetSource FBrowser;
};

// Gives the printing windows the frame's active document, its browser and
// the frame as their parent, and makes the dialogs.
void AttachToFrame(TPrintWindows& windows, TMainForm& frame);
