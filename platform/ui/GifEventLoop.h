#pragma once
// Joins the GIF painters to the Qt event loop: painting that painter threads
// ask of the user-interface thread runs there as a queued call, inline
// painters keep the program's events moving while they wait, and a quit
// request ends them.

class QCoreApplication;

// Call once, on the user-interface thread, after the application object is
// made. RemoveGifEventLoop undoes it (before the application goes).
void InstallGifEventLoop(QCoreApplication& app);
void RemoveGifEventLoop();

// Installs on construction and removes on destruction.
class TGifEventLoop {
public:
    explicit TGifEventLoop(QCoreApplication& app) { InstallGifEventLoop(app); }
    ~TGifEventLoop() { RemoveGifEventLoop(); }
    TGifEventLoop(const TGifEventLoop&) = delete;
    TGifEventLoop& operator=(const TGifEventLoop&) = delete;
};
