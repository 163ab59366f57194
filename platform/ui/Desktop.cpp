#include "Desktop.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QEventLoop>
#include <QProcess>
#include <QUrl>

#include <utility>
#include <vector>

namespace {

// Drops what the user does to the program's windows while another program
// runs: clicks, keys, the wheel and requests to close. Everything else
// (painting, resizing, timers) goes on.
class TInputBlocker : public QObject {
public:
    explicit TInputBlocker(QCoreApplication& application) : FApplication(application)
    {
        FApplication.installEventFilter(this);
    }
    ~TInputBlocker() override { FApplication.removeEventFilter(this); }
    TInputBlocker(const TInputBlocker&) = delete;
    TInputBlocker& operator=(const TInputBlocker&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::Wheel:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
        case QEvent::DragEnter:
        case QEvent::Drop:
            return true;
        case QEvent::Close:
            event->ignore();
            return true;
        default:
            return QObject::eventFilter(watched, event);
        }
    }

private:
    QCoreApplication& FApplication;
};

int PauseDepth = 0;
std::vector<std::function<void()>> WaitingForInput;

} // namespace

TInputPause::TInputPause()
{
    if (QCoreApplication* application = QCoreApplication::instance())
        FBlocker = std::make_unique<TInputBlocker>(*application);
    ++PauseDepth;
}

TInputPause::~TInputPause()
{
    FBlocker.reset();
    if (--PauseDepth > 0)
        return;
    // Input is taken again: what waited for it comes now, in its order.
    std::vector<std::function<void()>> actions;
    actions.swap(WaitingForInput);
    for (const std::function<void()>& action : actions) {
        try {
            action();
        } catch (...) {
        }
    }
}

bool InputPaused()
{
    return PauseDepth > 0;
}

void WhenInputTaken(std::function<void()> action)
{
    if (!action)
        return;
    if (InputPaused())
        WaitingForInput.push_back(std::move(action));
    else
        action();
}

bool ExecAndWait(const std::string& program)
{
    if (program.empty())
        return false;
    QProcess process;
    process.setProgram(QString::fromStdString(program));
    process.setArguments({});
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.start();
    if (!process.waitForStarted(-1))
        return false;
    QCoreApplication* application = QCoreApplication::instance();
    if (!application) {
        process.waitForFinished(-1);
        return true;
    }
    // The windows keep painting while the program runs; what the user does
    // to them meanwhile is dropped, not kept for later.
    const TInputPause paused;
    QEventLoop loop;
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    if (process.state() != QProcess::NotRunning)
        loop.exec();
    return true;
}

bool TQtDesktop::ExecAndWait(const std::string& program)
{
    return ::ExecAndWait(program);
}

bool TQtDesktop::OpenUrl(const std::string& url)
{
    return QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}
