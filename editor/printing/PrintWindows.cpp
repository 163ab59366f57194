#include "PrintWindows.h"

#include "BrowserFiles.h"
#include "Fimp.h"
#include "FimpV.h"
#include "MainForm.h"

#include <QMdiArea>
#include <QMdiSubWindow>

TPrintWindows::TPrintWindows(IEditorWindows& next, TPrinter& printer, IPrintDialog& dialog)
    : FNext(next), FPrinter(printer), FDialog(dialog)
{
}

TPrintWindows::~TPrintWindows()
{
    // Dialogs without a parent are this object's; the others go with it.
    delete FFimp.data();
    delete FFimpV.data();
}

bool TPrintWindows::Has(TEditorWindow window) const
{
    return window == TEditorWindow::Print || window == TEditorWindow::ContactSheet || FNext.Has(window);
}

TFimp& TPrintWindows::Fimp()
{
    if (!FFimp)
        FFimp = new TFimp(FPrinter, FDialog, [this] { return ActiveDocument ? ActiveDocument() : nullptr; }, Parent);
    return *FFimp;
}

TFimpV& TPrintWindows::FimpV()
{
    if (!FFimpV)
        FFimpV = new TFimpV(FPrinter, FDialog, [this] { return FindBrowser ? FindBrowser() : nullptr; }, Parent);
    return *FFimpV;
}

void TPrintWindows::ShowModal(TEditorWindow window)
{
    switch (window) {
    case TEditorWindow::Print:
        Fimp().exec();
        break;
    case TEditorWindow::ContactSheet:
        FimpV().exec();
        break;
    default:
        FNext.ShowModal(window);
        break;
    }
}

std::string TBrowserSheetSource::Directory() const
{
    return List ? List->BrowseDirectory() : std::string();
}

std::vector<std::string> TBrowserSheetSource::FileNames() const
{
    return List ? List->BrowseFiles() : std::vector<std::string>();
}

IContactSheetSource* TPrintWindows::BrowserIn(QMdiArea& area)
{
    FBrowser.List = FindBrowserFileList(&area);
    return FBrowser.List ? &FBrowser : nullptr;
}

void AttachToFrame(TPrintWindows& windows, TMainForm& frame)
{
    windows.Parent = &frame;
    windows.ActiveDocument = [&frame] { return frame.Frame().ActiveDocument(); };
    windows.FindBrowser = [&windows, &frame] { return windows.BrowserIn(*frame.ClientArea()); };
    // Both dialogs are made now, once, and keep their states from one
    // showing to the next.
    windows.Fimp();
    windows.FimpV();
}
