#include "QtTestApp.h"

#include "Formats.h"
#include "photo.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace testqt {

namespace {

TApplication* TheApp = nullptr;

class TAppEnvironment : public ::testing::Environment {
public:
    void TearDown() override
    {
        delete TheApp;
        TheApp = nullptr;
    }
};

[[maybe_unused]] ::testing::Environment* const Environment =
    ::testing::AddGlobalTestEnvironment(new TAppEnvironment);

} // namespace

void InitOnce()
{
    static const bool done = [] {
        InitPhotoTables();
        RegisterPictureFormats();
        return true;
    }();
    (void)done;
}

TApplication& App(const char* title)
{
    InitOnce();
    if (!TheApp) {
        static int argc = 1;
        static char name[] = "corvinel_tests";
        static char* argv[] = {name, nullptr};
        TheApp = new TApplication(argc, argv);
        TheApp->SetTitle(title);
        TheApp->SetMessageBoxes(&Boxes());
        TheApp->SetFileDialogs(&Dialogs());
    }
    return *TheApp;
}

TScriptedMessageBoxes& Boxes()
{
    static TScriptedMessageBoxes boxes;
    return boxes;
}

TScriptedFileDialogs& Dialogs()
{
    static TScriptedFileDialogs dialogs;
    return dialogs;
}

void ResetScripts()
{
    Boxes().Calls.clear();
    Boxes().Answers.clear();
    Dialogs().Filters.clear();
    Dialogs().Answers.clear();
}

bool WaitFor(const std::function<bool()>& pred, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs)
            return pred();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void Pump(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

} // namespace testqt
