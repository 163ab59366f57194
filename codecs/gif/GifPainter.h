#pragma once
// Animation of GIF pictures: the painter that shows the frames in turn with
// their delays, disposal methods and loop counts, on a thread of its own or
// inline; the clock it waits with (a manual one for tests); and the queue
// through which painter threads have their painting run on the thread that
// owns the canvas.

#include "GifPicture.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

// Timing of the painters, in milliseconds and delay units.
constexpr int GIFDelayUnitMs = 12;
constexpr int GIFDefaultDelay = 10;
constexpr int GIFMinimumDelay = 3;
constexpr int GIFMaximumInlineDelay = 1000;
constexpr int GIFInlineSleepSlice = 100;

// An auto-reset event: Signal wakes one wait, or the next one.
class TGIFWakeEvent {
public:
    void Signal();
    std::mutex Lock;
    std::condition_variable Condition;
    bool Signalled = false;
};

class TGIFClock {
public:
    virtual ~TGIFClock() = default;
    virtual std::int64_t Now() = 0;
    // Waits until the event is signalled (true, the event reset) or ms have
    // passed (false); ms below 0 waits for the signal alone.
    virtual bool WaitFor(TGIFWakeEvent& event, std::int64_t ms) = 0;
    virtual void Sleep(std::int64_t ms) = 0;
};

// The steady clock of the system.
TGIFClock& GIFSystemClock();

// A clock that moves only when told. Sleep moves it at once by the time
// asked; a wait on an event ends when the event is signalled or when
// Advance has moved the clock past its end. Every wait and sleep is
// recorded.
class TGIFManualClock : public TGIFClock {
public:
    std::int64_t Now() override { return FNow.load(); }
    bool WaitFor(TGIFWakeEvent& event, std::int64_t ms) override;
    void Sleep(std::int64_t ms) override;
    void Advance(std::int64_t ms);
    // Blocks until count waits on events have started (real time, at most
    // the given seconds); false when they did not.
    bool AwaitWaits(std::size_t count, int seconds = 10);
    // The lengths asked of WaitFor and Sleep, in order.
    std::vector<std::int64_t> Waits();
    std::vector<std::int64_t> Sleeps();

private:
    std::atomic<std::int64_t> FNow{0};
    std::mutex FLock;
    std::condition_variable FChanged;
    std::vector<TGIFWakeEvent*> FWaiting;
    std::vector<std::int64_t> FWaits;
    std::vector<std::int64_t> FSleeps;
};

// Calls that a painter thread has run on the thread that owns its canvas,
// as queued calls the owner runs while it waits for painters or from its
// event loop.
// Runs the calls queued for the calling thread; answers how many ran.
int GIFPumpSynchronized();
// Waits up to ms for a call queued for the calling thread and runs what is
// queued; answers how many ran.
int GIFPumpSynchronizedFor(int ms);
// Called from the painter thread whenever a call is queued for owner; an
// event loop uses it to run GIFPumpSynchronized on that thread soon.
void SetGIFSyncNotifier(std::function<void(std::thread::id owner)> notifier);
// What inline painters and Draw's first-frame wait run between their
// waits: handles pending events of the program and answers false once the
// program has been asked to quit. None: nothing to handle, never quit.
void SetGIFEventPump(std::function<bool()> pump);
bool GIFPumpEvents();

class TGIFPainter {
public:
    // Made by TGifPicture::StartPainter only.
    TGIFPainter(TGifPicture& image, TGIFPainter** slot, TCanvas& canvas, std::uint16_t options, const TRect& rect,
                std::shared_ptr<TBitmap> keepAlive);
    ~TGIFPainter();
    TGIFPainter(const TGIFPainter&) = delete;
    TGIFPainter& operator=(const TGIFPainter&) = delete;

    // Threaded: starts the thread. Inline: nothing.
    void Run();
    // Asks the painter to stop: a wait or a pending paint ends at once.
    void Halt();
    bool Terminated() const { return FTerminated.load(); }
    bool Threaded() const { return (PaintOptions & poThreaded) != 0; }
    bool Finished() const { return FFinished.load(); }
    // Runs the animation to its end (the thread's body; inline painters
    // run it from StartPainter).
    void Execute();
    // Waits for the thread to end (not from the thread itself).
    void Join();
    // The error that stopped the run, if any, taken once.
    std::exception_ptr TakeKeptException();
    // Asks for the run to start again from frame 0 at the end of this one.
    void Restart();

    TGifPicture* Image;
    TCanvas* Canvas;
    TRect PaintRect;
    std::uint16_t PaintOptions;
    int Speed;
    // Read and moved by the handlers (on the owner's thread).
    int CurrentFrame = -1;
    std::uint8_t FrameDisposal = 1;
    std::uint8_t PreviousDisposal = 1;
    std::unique_ptr<TBitmap> SavedScreen;
    std::unique_ptr<TBitmap> ScratchBuffer;
    std::unique_ptr<TBitmap> BackgroundCapture;
    bool HasPainted() const { return FHasPainted.load(); }
    // Nothing painted in this run although the painter has been through
    // every frame once, or must first wait out a frame's delay (which a
    // file may make as long as it likes): whoever waits for its first
    // painted frame waits in vain.
    bool PaintsNothingYet() const { return FPaintsNothingYet.load(); }

    TGIFNotifyEvent AnimationStartHandler;
    TGIFNotifyEvent FramePaintHandler;
    TGIFNotifyEvent FrameDoneHandler;
    TGIFNotifyEvent LoopRestartHandler;
    TGIFNotifyEvent AnimationEndHandler;

    TGIFClock* Clock;
    TColor BackgroundColor = clWhite;

private:
    friend class TGifPicture;
    struct FrameFacts {
        bool Exists = false;
        bool Empty = true;
        int Disposal = 1;
        int Delay = 0;
        bool HasLoop = false;
        int LoopCount = 0;
    };
    // Runs fn on the owner's thread (at once when inline); false when the
    // painter was halted first or its canvas is gone.
    bool CallInContext(const std::function<void()>& fn);
    bool Fire(const TGIFNotifyEvent& handler);
    bool CanvasAlive() const;
    FrameFacts Facts(int index);
    void WaitForFrame(int& delay, std::int64_t& lastTime, std::int64_t& lastWait);
    void PaintFrame();
    void PaintDirect();
    void PaintBuffered();
    void RestoreBackground(const TGIFSubImage& frame);
    void Detach();

    TGIFPainter** FSlot;
    std::shared_ptr<TBitmap> FKeepAlive;
    std::weak_ptr<const void> FCanvasToken;
    std::thread::id FOwner;
    std::thread FThread;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FFinished{false};
    std::atomic<bool> FHasPainted{false};
    std::atomic<bool> FPaintsNothingYet{false};
    std::atomic<bool> FRestartRequested{false};
    // Set when the image went while this thread waited for one of its
    // calls: nobody is left to wait for the thread, which frees the
    // painter itself when its run ends.
    std::atomic<bool> FOrphaned{false};
    TGIFWakeEvent FWakeEvent;
    std::exception_ptr FKeptException;
};
