#pragma once
// What the programs ask of the desktop: opening a link in the program
// the desktop chooses for it, and running another program to its end.

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QObject;

class IDesktop {
public:
    virtual ~IDesktop() = default;
    // Starts a program and waits for its end; see ExecAndWait.
    virtual bool ExecAndWait(const std::string& program) = 0;
    // Opens a link (mailto:, file:, http:...) with the desktop's program for it;
    // false when none took it. A desktop without links takes none.
    virtual bool OpenUrl(const std::string& url)
    {
        (void)url;
        return false;
    }
};

// Starts the program at this path, with no arguments and without a shell,
// its output going where this program's goes, and waits for its end with no
// time limit. Meanwhile the windows keep repainting, and the user's clicks,
// keys and requests to close them are dropped. False when the program could
// not be started, true once it ended.
bool ExecAndWait(const std::string& program);

// While one lives, the user's clicks, keys and requests to close the
// program's windows are dropped, not kept for later; painting, resizing and
// timers go on. For waits that run the event loop.
class TInputPause {
public:
    TInputPause();
    ~TInputPause();
    TInputPause(const TInputPause&) = delete;
    TInputPause& operator=(const TInputPause&) = delete;

private:
    std::unique_ptr<QObject> FBlocker;
};

// Whether a TInputPause lives: what the user does is being dropped.
bool InputPaused();
// Runs the action at once, or, while input is dropped, when the last
// TInputPause ends: what the user must answer (an error box) is not shown
// where no click or key could reach it. An action run late that raises is
// dropped.
void WhenInputTaken(std::function<void()> action);

// The desktop's own (QDesktopServices) and ExecAndWait above.
class TQtDesktop : public IDesktop {
public:
    bool ExecAndWait(const std::string& program) override;
    bool OpenUrl(const std::string& url) override;
};

// For tests: records the requests, runs nothing, answers ExecResult.
class TRecordingDesktop : public IDesktop {
public:
    bool ExecAndWait(const std::string& program) override
    {
        Executed.push_back(program);
        return ExecResult;
    }
    bool OpenUrl(const std::string& url) override
    {
        Urls.push_back(url);
        return UrlResult;
    }

    std::vector<std::string> Executed;
    bool ExecResult = false;
    std::vector<std::string> Urls;
    bool UrlResult = true;
};
