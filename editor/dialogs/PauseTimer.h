#pragma once
// The pause before a preview: a timer that a slider's changes start, whose
// event recomputes the preview. Dialogs use it in one of two ways: the wait
// restarts on every change (one preview after the last movement), or a
// running wait is left alone (at most one preview per interval during a
// drag). The clock it runs on is given, so that tests turn the time by hand.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

// Where timer events come from.
class ITimerClock {
public:
    using TTicket = std::uint64_t;
    virtual ~ITimerClock() = default;
    // Calls callback once, milliseconds from now; answers a ticket that
    // Cancel takes (never 0).
    virtual TTicket Schedule(int milliseconds, std::function<void()> callback) = 0;
    // Forgets a scheduled call; a ticket that already ran or is unknown is
    // ignored.
    virtual void Cancel(TTicket ticket) = 0;
};

// A clock that moves only when told, for tests.
class TManualClock : public ITimerClock {
public:
    TTicket Schedule(int milliseconds, std::function<void()> callback) override;
    void Cancel(TTicket ticket) override;

    // Moves the time on, running every call that falls due on the way, in
    // the order of their times (calls scheduled meanwhile included).
    void Advance(int milliseconds);
    std::int64_t Now() const { return FNow; }
    // The calls still waiting.
    std::size_t Pending() const { return FCalls.size(); }

private:
    struct TCall {
        std::int64_t Due = 0;
        std::function<void()> Callback;
    };
    std::int64_t FNow = 0;
    TTicket FNext = 1;
    std::map<TTicket, TCall> FCalls;
};

// The event loop's clock: Qt timers on the user-interface thread. A
// callback's exception goes to the application's error box.
class TQtClock : public ITimerClock {
public:
    TQtClock();
    ~TQtClock() override;
    TTicket Schedule(int milliseconds, std::function<void()> callback) override;
    void Cancel(TTicket ticket) override;

private:
    struct TState;
    std::shared_ptr<TState> FState;
};

// The clock of the running program.
ITimerClock& ProgramClock();

enum class TPauseMode {
    RestartOnChange, // every change starts the wait anew
    KeepRunning,     // a change while waiting changes nothing
};

// A timer with an interval and an enabled state, as the forms' timers:
// enabling a stopped timer starts a wait of one interval, disabling it
// drops the wait, setting the state it already has does nothing. While
// enabled it fires once per interval.
class TPauseTimer {
public:
    TPauseTimer(ITimerClock& clock, TPauseMode mode, int interval = 500);
    ~TPauseTimer();
    TPauseTimer(const TPauseTimer&) = delete;
    TPauseTimer& operator=(const TPauseTimer&) = delete;

    std::function<void()> OnTimer;

    TPauseMode Mode() const { return FMode; }
    int Interval() const { return FInterval; }
    bool Enabled() const { return FEnabled; }
    void SetEnabled(bool enabled);

    // A change of the control the timer waits for, by the timer's mode.
    void Changed();
    // No event after this until the next change.
    void Stop() { SetEnabled(false); }

private:
    void Start();
    void Fire();

    ITimerClock& FClock;
    TPauseMode FMode;
    int FInterval;
    bool FEnabled = false;
    ITimerClock::TTicket FTicket = 0;
};
