// Corvinel: the photo editor's start-up.

#include "Application.h"
#include "Formats.h"
#include "MainForm.h"
#include "photo.h"

#include <QScreen>

int main(int argc, char** argv)
{
    // Module start-up: the image routines' tables, then every picture format.
    InitPhotoTables();
    RegisterPictureFormats();

    TApplication app(argc, argv);
    app.SetTitle("Corvinel");
    try {
        TMainForm frame;
        // Where no window manager maximises it, the frame still takes the screen.
        frame.setGeometry(frame.screen()->availableGeometry());
        frame.showMaximized();
        return app.exec();
    } catch (...) {
        app.HandleException();
        return 1;
    }
}
