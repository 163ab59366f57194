// Corvinel: the photo editor's start-up.

#include "About.h"
#include "Application.h"
#include "BrowserWindows.h"
#include "Clipboard.h"
#include "EditorDialogs.h"
#include "Formats.h"
#include "GifEventLoop.h"
#include "GifPicture.h"
#include "MainForm.h"
#include "PrintWindows.h"
#include "Printer.h"
#include "ScanDialogs.h"
#include "photo.h"

#include <QScreen>

int main(int argc, char** argv)
{
    // Module start-up: the image routines' tables, then every picture format.
    InitPhotoTables();
    RegisterPictureFormats();
    // A GIF picture put on the clipboard carries its GIF stream as well.
    SetGIFClipboardSink(PlaceClipboardFormat);

    TApplication app(argc, argv);
    app.SetTitle("Corvinel");
    // Animated GIFs paint through the event loop.
    TGifEventLoop gifLoop(app);
    try {
        // The printing dialogs come after the image dialogs.
        TNoEditorWindows noWindows;
        TAboutWindows about(noWindows);
        TQtPrintDialog printDialog;
        TPrintWindows printing(about, Printer(), printDialog);
        // The thumbnail browser sits between the two.
        TBrowserWindows browser(printing);
        // The image dialogs are made once, over the frame.
        TEditorDialogs dialogs(&browser);
        TMainFormServices services;
        services.Windows = &dialogs;
        TQtScanDialogs scanDialogs(app.MessageBoxes());
        TSaneScanner scanner(app.MessageBoxes(), scanDialogs);
        services.Scanner = &scanner;
        TMainForm frame(services);
        scanDialogs.SetParent(&frame);
        about.Create(&frame);
        dialogs.Create(&frame, [&frame] { return frame.Frame().ActiveDocument(); }, StartDir);
        dialogs.SetBrowserShown([&frame] { return frame.Frame().States.Checked("Bparcourir"); });
        AttachToFrame(printing, frame);
        browser.SetFrame(&frame);
        // Where no window manager maximises it, the frame still takes the screen.
        frame.setGeometry(frame.screen()->availableGeometry());
        frame.showMaximized();
        return app.exec();
    } catch (...) {
        app.HandleException();
        return 1;
    }
}
