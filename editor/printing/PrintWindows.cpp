#include "PrintWindows.h"

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

IContactSheetSource* FindContactSheetSource(QMdiArea& area)
{
    for (QMdiSubWindow* sub : area.subWindowList())
        if (auto* source = dynamic_cast<IContactSheetSource*>(sub->widget()))
            return source;
    return nullptr;
}

void AttachToFrame(TPrintWindows& windows, TMainForm& frame)
{
    windows.Parent = &frame;
    windows.ActiveDocument = [&frame] { return frame.Frame().ActiveDocument(); };
    windows.FindBrowser = [&frame] { return FindContactSheetSource(*frame.ClientArea()); };
    // Both dialogs are made now, once, and keep their states from one
    // showing to the next.
    windows.Fimp();
    windows.FimpV();
}
