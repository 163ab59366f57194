#include "Application.h"

#include "Beep.h"
#include "Desktop.h"
#include "Exceptions.h"

#include <QCursor>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QMetaObject>
#include <QThread>

#include <new>

TApplication* Application = nullptr;

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv)
{
    Application = this;
    // The pictures' code may beep from any thread; the beep itself is
    // sounded on the thread of the windows.
    SetBeepHook([this] {
        if (QThread::currentThread() == thread())
            SoundBeep();
        else
            QMetaObject::invokeMethod(this, [this] { SoundBeep(); }, Qt::QueuedConnection);
    });
    if (FQtFrench.load(QStringLiteral("qtbase_fr"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(&FQtFrench);
}

TApplication::~TApplication()
{
    SetBeepHook(nullptr);
    if (Application == this)
        Application = nullptr;
}

std::function<void()> TApplication::SetBeepSound(std::function<void()> sound)
{
    return std::exchange(FBeepSound, std::move(sound));
}

void TApplication::SoundBeep()
{
    if (FBeepSound)
        FBeepSound();
    else
        QApplication::beep();
}

void TApplication::SetTitle(const std::string& title)
{
    FTitle = title;
    setApplicationName(QString::fromStdString(title));
}

std::string ErrorBoxText(const std::string& message)
{
    if (!message.empty() && message.back() == '.')
        return message;
    return message + ".";
}

std::string ApplicationTitle()
{
    return Application ? Application->Title() : std::string();
}

void TApplication::ShowException(const std::exception& e)
{
    if (dynamic_cast<const EAbort*>(&e))
        return;
    MessageBox(ErrorBoxText(e.what()), FTitle, MB_OK | MB_ICONSTOP);
}

void TApplication::HandleException()
{
    const std::exception_ptr error = std::current_exception();
    if (!error)
        return;
    // No box where no click or key could reach it.
    WhenInputTaken([this, error] { ShowError(error); });
}

void TApplication::ShowError(const std::exception_ptr& error)
{
    // Nothing leaves here: a failure of the box itself is dropped, since
    // there is no one left to show it to.
    try {
        try {
            std::rethrow_exception(error);
        } catch (const std::bad_alloc&) {
            ShowException(EOutOfMemory("Mémoire insuffisante"));
        } catch (const std::exception& e) {
            ShowException(e);
        } catch (...) {
            ShowException(Exception("Erreur inconnue"));
        }
    } catch (...) {
    }
}

int TApplication::MessageBox(const std::string& text, const std::string& caption, unsigned flags)
{
    return FMessageBoxes->MessageBox(text, caption, flags);
}

int TApplication::MessageDlg(const std::string& text, TMsgDlgType type, TMsgDlgButtons buttons)
{
    return FMessageBoxes->MessageDlg(text, type, buttons);
}

void TApplication::SetMessageBoxes(IMessageBoxes* boxes)
{
    FMessageBoxes = boxes ? boxes : &FQtMessageBoxes;
}

void TApplication::SetFileDialogs(IFileDialogs* dialogs)
{
    FFileDialogs = dialogs ? dialogs : &FQtFileDialogs;
}

void TApplication::ProcessMessages()
{
    QCoreApplication::processEvents();
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        HandleException();
        return true;
    }
}

TWaitCursor::TWaitCursor() : FSet(qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr)
{
    if (FSet)
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
}

TWaitCursor::~TWaitCursor()
{
    if (FSet)
        QGuiApplication::restoreOverrideCursor();
}
