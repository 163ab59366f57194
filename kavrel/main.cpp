// kavrel: the batch resizer's start-up.

#include "Application.h"
#include "Formats.h"
#include "GifEventLoop.h"
#include "Unit1.h"
#include "Unit2.h"
#include "photo.h"

#include <QGuiApplication>
#include <QScreen>

namespace {

void CentreOnScreen(QWidget& w)
{
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        w.move(area.center() - QPoint(w.width() / 2, w.height() / 2));
    }
}

} // namespace

int main(int argc, char** argv)
{
    // Module start-up: the image routines' tables, then every picture format.
    InitPhotoTables();
    RegisterPictureFormats();

    TApplication app(argc, argv);
    app.SetTitle("Kavrel");
    // Animated GIFs paint through the event loop.
    TGifEventLoop gifLoop(app);
    try {
        TForm1 form;
        Form1 = &form;
        TFap about;
        Fap = &about;
        CentreOnScreen(form);
        CentreOnScreen(about);
        form.show();
        const int code = app.exec();
        Fap = nullptr;
        Form1 = nullptr;
        return code;
    } catch (...) {
        app.HandleException();
        return 1;
    }
}
