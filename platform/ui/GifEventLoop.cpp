// The GIF painters and the Qt event loop.

#include "GifEventLoop.h"

#include "GifPainter.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QMetaObject>

#include <atomic>
#include <thread>

namespace {

// Notes the program's quit request as it passes.
class TQuitWatch : public QObject {
public:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Quit)
            QuitRequested = true;
        return QObject::eventFilter(watched, event);
    }
    std::atomic<bool> QuitRequested{false};
};

TQuitWatch* Watch = nullptr;

} // namespace

void InstallGifEventLoop(QCoreApplication& app)
{
    RemoveGifEventLoop();
    Watch = new TQuitWatch;
    app.installEventFilter(Watch);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, Watch, [] { Watch->QuitRequested = true; });
    const std::thread::id uiThread = std::this_thread::get_id();
    QCoreApplication* target = &app;
    SetGIFSyncNotifier([uiThread, target](std::thread::id owner) {
        // Other owners (worker threads) run their painters' calls themselves.
        if (owner == uiThread)
            QMetaObject::invokeMethod(target, [] { GIFPumpSynchronized(); }, Qt::QueuedConnection);
    });
    SetGIFEventPump([] {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        GIFPumpSynchronized();
        return !(Watch && Watch->QuitRequested.load());
    });
}

void RemoveGifEventLoop()
{
    SetGIFSyncNotifier(nullptr);
    SetGIFEventPump(nullptr);
    delete Watch;
    Watch = nullptr;
}
