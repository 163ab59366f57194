#include "BrowserWindows.h"

#include "Bwin.h"
#include "MainForm.h"

#include <QMdiSubWindow>

TBrowserWindows::TBrowserWindows(IEditorWindows& next) : FNext(next)
{
}

TMainForm* TBrowserWindows::Frame() const
{
    return FFrame ? FFrame : MainForm;
}

void TBrowserWindows::OpenBrowser()
{
    if (BW) {
        BW->Focus();
        return;
    }
    TMainForm* frame = Frame();
    if (!frame)
        return;
    TBrowserHost host;
    host.States = &frame->Frame().States;
    host.OpenImage = [frame](const std::string& fileName) { frame->OpenImage(fileName); };
    BW = new TBW(host, nullptr, FNamespace);
    QMdiSubWindow* sub = ShowBrowser(frame->ClientArea(), BW);
    frame->PlaceNewWindow(sub, sub->size());
}

void TBrowserWindows::CloseBrowser()
{
    if (TBW* browser = BW)
        browser->Close();
}

void TBrowserWindows::BrowserFileSaved(const std::string& path)
{
    if (BW)
        BW->Miseajourvignette(path);
}

void TBrowserWindows::BrowserFileAdded(const std::string& path)
{
    if (BW)
        BW->Ajoutevignette(path);
}
