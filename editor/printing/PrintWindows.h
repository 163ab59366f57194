#pragma once
// The printing dialogs as windows of the frame: single-picture printing and
// contact sheets. TPrintWindows shows them and hands every other window to
// the next set of windows, so that it composes with the program's other
// dialogs.

#include "ImpVignettes.h"
#include "Services.h"

#include <QPointer>

#include <functional>

class IPrintDialog;
class QMdiArea;
class QWidget;
class TDocument;
class TFimp;
class TFimpV;
class TMainForm;
class TPrinter;

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

    // The dialogs, made on first use and kept with their states.
    TFimp& Fimp();
    TFimpV& FimpV();

private:
    IEditorWindows& FNext;
    TPrinter& FPrinter;
    IPrintDialog& FDialog;
    QPointer<TFimp> FFimp;
    QPointer<TFimpV> FFimpV;
};

// The thumbnail browser among the windows of an MDI area: the first one
// whose window is a contact-sheet source; null when none is open.
IContactSheetSource* FindContactSheetSource(QMdiArea& area);

// Gives the printing windows the frame's active document, its browser and
// the frame as their parent, and makes the dialogs.
void AttachToFrame(TPrintWindows& windows, TMainForm& frame);
