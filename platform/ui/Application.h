#pragma once
// TApplication: the programs' application object over QApplication. It holds
// the title, owns the way message boxes and file dialogs are shown, and is
// the error box of the programs: an exception that escapes an event handler
// is shown here and the program goes on.

#include "FileDialogs.h"
#include "MessageBoxes.h"

#include <QApplication>
#include <QTranslator>

#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>

class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;

    const std::string& Title() const { return FTitle; }
    void SetTitle(const std::string& title);

    // Shows an exception in the error box: the application's title, the error
    // icon, one OK button, the text ending in ".". EAbort shows nothing.
    void ShowException(const std::exception& e);
    // Shows the exception being handled; call it inside a catch block only.
    // It never throws. While the user's input is dropped (a wait that runs
    // the event loop) the box waits until input is taken again.
    void HandleException();

    // Runs fn; an exception it raises goes to the error box instead of on.
    template <class F>
    void Protect(F&& fn)
    {
        try {
            std::forward<F>(fn)();
        } catch (...) {
            HandleException();
        }
    }

    // Application.MessageBox and MessageDlg, through the message-box interface.
    int MessageBox(const std::string& text, const std::string& caption, unsigned flags);
    int MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons);

    IMessageBoxes& MessageBoxes() { return *FMessageBoxes; }
    IFileDialogs& FileDialogs() { return *FFileDialogs; }
    // Replaces the Qt boxes or dialogs (tests do); null restores the Qt ones.
    // The object stays the caller's and must outlive its use here.
    void SetMessageBoxes(IMessageBoxes* boxes);
    void SetFileDialogs(IFileDialogs* dialogs);

    // Handles the pending events, so that windows repaint during long work.
    static void ProcessMessages();

    // The beep the pictures' code sounds from any thread is sounded here,
    // on the thread of the windows: the system's beep unless sound (an empty
    // function: the system's again) replaces it. Answers the sound it
    // replaces.
    std::function<void()> SetBeepSound(std::function<void()> sound);

    // Delivers every event inside a guard: an exception escaping a handler is
    // shown and the event counts as handled.
    bool notify(QObject* receiver, QEvent* event) override;

private:
    void ShowError(const std::exception_ptr& error);
    void SoundBeep();

    std::string FTitle;
    // Qt's own texts (standard dialogs, context menus) in French, when the
    // system has the translations.
    QTranslator FQtFrench;
    TQtMessageBoxes FQtMessageBoxes;
    TQtFileDialogs FQtFileDialogs;
    IMessageBoxes* FMessageBoxes = &FQtMessageBoxes;
    IFileDialogs* FFileDialogs = &FQtFileDialogs;
    std::function<void()> FBeepSound;
};

// The application object of the running program (null before and after it).
extern TApplication* Application;

// The title of the running application ("" without one).
std::string ApplicationTitle();

// The text the error box shows for a message: a "." appended unless it
// already ends in one.
std::string ErrorBoxText(const std::string& message);

// Wraps a handler for a Qt connection so that its exceptions stop at the
// error box and never unwind through Qt's signal machinery:
//   connect(action, &QAction::triggered, this, Guarded([this] { Open(); }));
// The handler takes no arguments; the signal's arguments are dropped.
template <class F>
auto Guarded(F fn)
{
    return [fn = std::move(fn)]() mutable {
        try {
            fn();
        } catch (...) {
            if (Application)
                Application->HandleException();
        }
    };
}

// The hourglass cursor for the life of the object (nothing without an
// application object, as in tests of the programs' logic).
class TWaitCursor {
public:
    TWaitCursor();
    ~TWaitCursor();
    TWaitCursor(const TWaitCursor&) = delete;
    TWaitCursor& operator=(const TWaitCursor&) = delete;

private:
    bool FSet;
};
