#include "PauseTimer.h"

#include "Application.h"

#include <QTimer>

#include <algorithm>
#include <utility>

ITimerClock::TTicket TManualClock::Schedule(int milliseconds, std::function<void()> callback)
{
    const TTicket ticket = FNext++;
    FCalls[ticket] = TCall{FNow + std::max(milliseconds, 0), std::move(callback)};
    return ticket;
}

void TManualClock::Cancel(TTicket ticket)
{
    FCalls.erase(ticket);
}

void TManualClock::Advance(int milliseconds)
{
    const std::int64_t target = FNow + std::max(milliseconds, 0);
    for (;;) {
        // The earliest call due by the target; equal times in ticket order.
        auto next = FCalls.end();
        for (auto it = FCalls.begin(); it != FCalls.end(); ++it)
            if (it->second.Due <= target && (next == FCalls.end() || it->second.Due < next->second.Due))
                next = it;
        if (next == FCalls.end())
            break;
        FNow = next->second.Due;
        std::function<void()> callback = std::move(next->second.Callback);
        FCalls.erase(next);
        callback();
    }
    FNow = target;
}

struct TQtClock::TState {
    ITimerClock::TTicket Next = 1;
    std::map<ITimerClock::TTicket, QTimer*> Timers;
};

TQtClock::TQtClock() : FState(std::make_shared<TState>()) {}

TQtClock::~TQtClock()
{
    for (auto& entry : FState->Timers)
        delete entry.second;
    FState->Timers.clear();
}

ITimerClock::TTicket TQtClock::Schedule(int milliseconds, std::function<void()> callback)
{
    const TTicket ticket = FState->Next++;
    auto* timer = new QTimer;
    timer->setSingleShot(true);
    std::weak_ptr<TState> weak = FState;
    QObject::connect(timer, &QTimer::timeout, timer, [weak, ticket, timer, callback = std::move(callback)] {
        const std::shared_ptr<TState> state = weak.lock();
        if (!state)
            return;
        const auto it = state->Timers.find(ticket);
        if (it == state->Timers.end())
            return;
        state->Timers.erase(it);
        timer->deleteLater();
        try {
            callback();
        } catch (...) {
            if (Application)
                Application->HandleException();
        }
    });
    FState->Timers[ticket] = timer;
    timer->start(std::max(milliseconds, 0));
    return ticket;
}

void TQtClock::Cancel(TTicket ticket)
{
    const auto it = FState->Timers.find(ticket);
    if (it == FState->Timers.end())
        return;
    it->second->stop();
    it->second->deleteLater();
    FState->Timers.erase(it);
}

ITimerClock& ProgramClock()
{
    static TQtClock clock;
    return clock;
}

TPauseTimer::TPauseTimer(ITimerClock& clock, TPauseMode mode, int interval)
    : FClock(clock), FMode(mode), FInterval(std::max(interval, 1))
{
}

TPauseTimer::~TPauseTimer()
{
    if (FTicket)
        FClock.Cancel(FTicket);
}

void TPauseTimer::SetEnabled(bool enabled)
{
    if (enabled == FEnabled)
        return;
    FEnabled = enabled;
    if (FEnabled) {
        Start();
    } else if (FTicket) {
        FClock.Cancel(FTicket);
        FTicket = 0;
    }
}

void TPauseTimer::Changed()
{
    if (FMode == TPauseMode::RestartOnChange)
        SetEnabled(false);
    SetEnabled(true);
}

void TPauseTimer::Start()
{
    FTicket = FClock.Schedule(FInterval, [this] { Fire(); });
}

void TPauseTimer::Fire()
{
    FTicket = 0;
    if (!FEnabled)
        return;
    if (OnTimer)
        OnTimer();
    // Still enabled after the event: the next interval, as a form's timer.
    if (FEnabled && !FTicket)
        Start();
}
