// Animation of GIF pictures: clocks, the queue of calls painter threads
// have run on the owner's thread, the painter, and the image's drawing,
// which starts painters and waits for them.

#include "GifPainter.h"

#include "Canvas.h"
#include "Numeric.h"

#include <algorithm>
#include <chrono>
#include <deque>

// ---------------------------------------------------------------------------
// Clocks

void TGIFWakeEvent::Signal()
{
    {
        std::lock_guard<std::mutex> guard(Lock);
        Signalled = true;
    }
    Condition.notify_all();
}

namespace {

class TSystemClock final : public TGIFClock {
public:
    std::int64_t Now() override
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    bool WaitFor(TGIFWakeEvent& event, std::int64_t ms) override
    {
        std::unique_lock<std::mutex> lock(event.Lock);
        const bool woken = ms < 0 ? (event.Condition.wait(lock, [&] { return event.Signalled; }), true)
                                  : event.Condition.wait_for(lock, std::chrono::milliseconds(ms),
                                                             [&] { return event.Signalled; });
        event.Signalled = false;
        return woken;
    }
    void Sleep(std::int64_t ms) override
    {
        if (ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        else
            std::this_thread::yield();
    }
};

} // namespace

TGIFClock& GIFSystemClock()
{
    static TSystemClock clock;
    return clock;
}

bool TGIFManualClock::WaitFor(TGIFWakeEvent& event, std::int64_t ms)
{
    const std::int64_t end = FNow.load() + ms;
    {
        std::lock_guard<std::mutex> guard(FLock);
        FWaiting.push_back(&event);
        FWaits.push_back(ms);
    }
    FChanged.notify_all();
    bool woken;
    {
        std::unique_lock<std::mutex> lock(event.Lock);
        event.Condition.wait(lock, [&] { return event.Signalled || (ms >= 0 && FNow.load() >= end); });
        woken = event.Signalled;
        event.Signalled = false;
    }
    std::lock_guard<std::mutex> guard(FLock);
    FWaiting.erase(std::find(FWaiting.begin(), FWaiting.end(), &event));
    return woken;
}

void TGIFManualClock::Sleep(std::int64_t ms)
{
    {
        std::lock_guard<std::mutex> guard(FLock);
        FSleeps.push_back(ms);
    }
    FNow += std::max<std::int64_t>(ms, 0);
}

void TGIFManualClock::Advance(std::int64_t ms)
{
    std::lock_guard<std::mutex> guard(FLock);
    FNow += ms;
    for (TGIFWakeEvent* event : FWaiting) {
        std::lock_guard<std::mutex> eventGuard(event->Lock);
        event->Condition.notify_all();
    }
}

bool TGIFManualClock::AwaitWaits(std::size_t count, int seconds)
{
    std::unique_lock<std::mutex> lock(FLock);
    return FChanged.wait_for(lock, std::chrono::seconds(seconds), [&] { return FWaits.size() >= count; });
}

std::vector<std::int64_t> TGIFManualClock::Waits()
{
    std::lock_guard<std::mutex> guard(FLock);
    return FWaits;
}

std::vector<std::int64_t> TGIFManualClock::Sleeps()
{
    std::lock_guard<std::mutex> guard(FLock);
    return FSleeps;
}

// ---------------------------------------------------------------------------
// Calls run on the owner's thread

namespace {

struct SyncCall {
    std::thread::id Owner;
    const std::function<void()>* Body = nullptr;
    bool Started = false;
    bool Done = false;
    std::exception_ptr Error;
};

struct SyncQueue {
    std::mutex Lock;
    std::condition_variable Changed;
    std::deque<SyncCall*> Calls;
    std::function<void(std::thread::id)> Notifier;
    std::function<bool()> EventPump;
};

SyncQueue& Queue()
{
    static SyncQueue queue;
    return queue;
}

// Runs fn on owner's thread; false when halted is set before it started.
bool Synchronize(std::thread::id owner, const std::function<void()>& fn, const std::atomic<bool>& halted)
{
    SyncQueue& q = Queue();
    SyncCall call;
    call.Owner = owner;
    call.Body = &fn;
    std::function<void(std::thread::id)> notifier;
    {
        std::lock_guard<std::mutex> guard(q.Lock);
        if (halted.load())
            return false;
        q.Calls.push_back(&call);
        notifier = q.Notifier;
    }
    q.Changed.notify_all();
    if (notifier)
        notifier(owner);
    std::unique_lock<std::mutex> lock(q.Lock);
    q.Changed.wait(lock, [&] { return call.Done || (halted.load() && !call.Started); });
    if (!call.Done) {
        q.Calls.erase(std::find(q.Calls.begin(), q.Calls.end(), &call));
        return false;
    }
    if (call.Error)
        std::rethrow_exception(call.Error);
    return true;
}

// Wakes the painter threads waiting on the queue (after a halt).
void WakeSynchronizeWaiters()
{
    SyncQueue& q = Queue();
    { std::lock_guard<std::mutex> guard(q.Lock); }
    q.Changed.notify_all();
}

SyncCall* NextCallFor(SyncQueue& q, std::thread::id me)
{
    for (SyncCall* call : q.Calls)
        if (call->Owner == me && !call->Started)
            return call;
    return nullptr;
}

int RunQueued(std::unique_lock<std::mutex>& lock)
{
    SyncQueue& q = Queue();
    const std::thread::id me = std::this_thread::get_id();
    int count = 0;
    while (SyncCall* call = NextCallFor(q, me)) {
        call->Started = true;
        lock.unlock();
        try {
            (*call->Body)();
        } catch (...) {
            call->Error = std::current_exception();
        }
        lock.lock();
        call->Done = true;
        q.Calls.erase(std::find(q.Calls.begin(), q.Calls.end(), call));
        q.Changed.notify_all();
        ++count;
    }
    return count;
}

// The painter whose call the owner's thread is running, if any.
// The painters whose calls this thread is running, innermost last (a
// handler may run other painters' calls while it waits).
thread_local std::vector<TGIFPainter*> RunningPainters;

// Whether this thread is inside a call of painter: its thread waits for
// that call to return and cannot be waited for here.
bool RunningHere(const TGIFPainter* painter)
{
    return std::find(RunningPainters.begin(), RunningPainters.end(), painter) != RunningPainters.end();
}

} // namespace

int GIFPumpSynchronized()
{
    std::unique_lock<std::mutex> lock(Queue().Lock);
    return RunQueued(lock);
}

int GIFPumpSynchronizedFor(int ms)
{
    SyncQueue& q = Queue();
    const std::thread::id me = std::this_thread::get_id();
    std::unique_lock<std::mutex> lock(q.Lock);
    q.Changed.wait_for(lock, std::chrono::milliseconds(ms), [&] { return NextCallFor(q, me) != nullptr; });
    return RunQueued(lock);
}

void SetGIFSyncNotifier(std::function<void(std::thread::id owner)> notifier)
{
    std::lock_guard<std::mutex> guard(Queue().Lock);
    Queue().Notifier = std::move(notifier);
}

void SetGIFEventPump(std::function<bool()> pump)
{
    std::lock_guard<std::mutex> guard(Queue().Lock);
    Queue().EventPump = std::move(pump);
}

bool GIFPumpEvents()
{
    std::function<bool()> pump;
    {
        std::lock_guard<std::mutex> guard(Queue().Lock);
        pump = Queue().EventPump;
    }
    return pump ? pump() : true;
}

// ---------------------------------------------------------------------------
// Painter

namespace {

TRect Sized(const TBitmap& bitmap)
{
    return TRect{0, 0, bitmap.Width(), bitmap.Height()};
}

std::unique_ptr<TBitmap> CopyOfArea(TCanvas& canvas, const TRect& area, TColor brush)
{
    auto bitmap = std::make_unique<TBitmap>(area.Width(), area.Height(), pf24bit);
    bitmap->Canvas().Brush.Color = brush;
    bitmap->Canvas().Brush.Style = bsSolid;
    bitmap->Canvas().CopyMode = cmSrcCopy;
    // A surface that cannot be read back (a printer's page) counts as the
    // background colour.
    if (canvas.SourceBitmap())
        bitmap->Canvas().CopyRect(Sized(*bitmap), canvas, area);
    else
        bitmap->Canvas().FillRect(Sized(*bitmap));
    return bitmap;
}

} // namespace

TGIFPainter::TGIFPainter(TGifPicture& image, TGIFPainter** slot, TCanvas& canvas, std::uint16_t options,
                         const TRect& rect, std::shared_ptr<TBitmap> keepAlive)
    : Image(&image), Canvas(&canvas), PaintRect(rect), PaintOptions(options), Speed(image.PlaybackSpeed),
      Clock(image.Clock ? image.Clock : &GIFSystemClock()), FSlot(slot), FKeepAlive(std::move(keepAlive)),
      FCanvasToken(canvas.AliveToken()), FOwner(std::this_thread::get_id())
{
    if (FSlot)
        *FSlot = this;
    if (image.PaintBackdropColor != clNone)
        BackgroundColor = image.PaintBackdropColor;
    else if (image.Header.GlobalTable.EntryCount() > 0)
        BackgroundColor = image.ScreenBackgroundColor();
    else
        BackgroundColor = clWhite;

    unsigned disposals = 0;
    for (int i = 0; i < image.Frames.Count(); ++i) {
        const TGIFExtensionList& list = image.Frames.Frame(i)->ExtensionList();
        for (int e = 0; e < list.ItemCount(); ++e)
            if (auto* control = dynamic_cast<TGIFGraphicControlExtension*>(list.ItemAt(e)))
                disposals |= 1u << control->DisposalMethod();
    }
    if (options & poClearBackground)
        disposals |= 1u << 2;
    if (rect.IsEmpty())
        return;
    if ((disposals & (1u << 2)) && (options & poTransparent))
        BackgroundCapture = CopyOfArea(canvas, rect, BackgroundColor);
    if (disposals & ((1u << 2) | (1u << 3))) {
        SavedScreen = CopyOfArea(canvas, rect, BackgroundColor);
        ScratchBuffer = std::make_unique<TBitmap>(rect.Width(), rect.Height(), pf24bit);
        ScratchBuffer->Canvas().Brush.Color = BackgroundColor;
    }
}

TGIFPainter::~TGIFPainter()
{
    Halt();
    Join();
}

void TGIFPainter::Run()
{
    if (Threaded() && !FThread.joinable() && !FFinished.load())
        FThread = std::thread([this] {
            Execute();
            if (FOrphaned.load()) {
                FThread.detach();
                delete this;
            }
        });
}

void TGIFPainter::Halt()
{
    FTerminated = true;
    FWakeEvent.Signal();
    WakeSynchronizeWaiters();
}

void TGIFPainter::Restart()
{
    FRestartRequested = true;
    FWakeEvent.Signal();
}

void TGIFPainter::Join()
{
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
        FThread.join();
}

std::exception_ptr TGIFPainter::TakeKeptException()
{
    std::exception_ptr e = FKeptException;
    FKeptException = nullptr;
    return e;
}

bool TGIFPainter::CanvasAlive() const
{
    return Image && !FCanvasToken.expired();
}

bool TGIFPainter::CallInContext(const std::function<void()>& fn)
{
    auto guarded = [&] {
        // The canvas or the image went while the call waited: stop.
        if (!CanvasAlive()) {
            FTerminated = true;
            return;
        }
        RunningPainters.push_back(this);
        struct Back {
            ~Back() { RunningPainters.pop_back(); }
        } back;
        fn();
    };
    if (!Threaded()) {
        if (FTerminated.load())
            return false;
        guarded();
        return !FTerminated.load();
    }
    if (!Synchronize(FOwner, guarded, FTerminated))
        return false;
    return !FTerminated.load();
}

bool TGIFPainter::Fire(const TGIFNotifyEvent& handler)
{
    if (!handler)
        return !FTerminated.load();
    return CallInContext([&] { handler(*this); });
}

TGIFPainter::FrameFacts TGIFPainter::Facts(int index)
{
    FrameFacts facts;
    CallInContext([&] {
        if (index < 0 || index >= Image->Frames.Count())
            return;
        TGIFSubImage& frame = *Image->Frames.Frame(index);
        facts.Exists = true;
        facts.Empty = frame.IsEmpty();
        if (facts.Empty)
            return;
        const TGIFExtensionList& list = frame.ExtensionList();
        for (int e = 0; e < list.ItemCount(); ++e) {
            TGIFItem* item = list.ItemAt(e);
            if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(item); loop && !facts.HasLoop) {
                facts.HasLoop = true;
                facts.LoopCount = loop->LoopCount;
            } else if (auto* control = dynamic_cast<TGIFGraphicControlExtension*>(item)) {
                facts.Disposal = control->DisposalMethod();
            }
        }
        facts.Delay = frame.DelayTime();
        // The frame is prepared before its delay is measured.
        frame.RenderedBitmap();
    });
    return facts;
}

void TGIFPainter::WaitForFrame(int& delay, std::int64_t& lastTime, std::int64_t& lastWait)
{
    if (delay <= 0)
        return;
    if (!FHasPainted.load())
        FPaintsNothingYet = true;
    const bool threaded = Threaded();
    const std::int64_t now = Clock->Now();
    std::int64_t wait;
    if (Speed > 0) {
        const std::int64_t late = (now - lastTime - lastWait) / 2;
        wait = MulDiv(static_cast<std::int32_t>(std::clamp<std::int64_t>(delay * GIFDelayUnitMs - late, INT32_MIN / 2,
                                                                          INT32_MAX / 2)),
                      100, Speed);
        lastWait = wait;
    } else {
        wait = threaded ? -1 : std::int64_t{GIFMaximumInlineDelay} * GIFDelayUnitMs;
    }
    lastTime = now;
    if (threaded) {
        if (wait > 0 || Speed == 0) {
            if (FTerminated.load())
                return;
            if (Clock->WaitFor(FWakeEvent, Speed == 0 ? -1 : wait)) {
                lastWait = 0;
                lastTime = Clock->Now();
            }
        }
        return;
    }
    if (wait < 1)
        wait = 1;
    std::int64_t t = Clock->Now();
    while (wait > 0 && !FTerminated.load() && !FRestartRequested.load()) {
        Clock->Sleep(std::min<std::int64_t>(wait, GIFInlineSleepSlice));
        wait -= Clock->Now() - t;
        t = Clock->Now();
        if (!GIFPumpEvents())
            Halt();
        if (!Image)
            Halt();
    }
}

void TGIFPainter::Execute()
{
    try {
        const bool threaded = Threaded();
        FRestartRequested = true;
        while (FRestartRequested.load() && !FTerminated.load()) {
            CurrentFrame = 0;
            if (!Fire(AnimationStartHandler))
                break;
            FHasPainted = false;
            FPaintsNothingYet = false;
            FRestartRequested = false;
            int loopsLeft = 1;
            int loopStart = 0;
            bool loopSeen = false;
            int delay = threaded ? 0 : 1;
            PreviousDisposal = 1;
            std::int64_t lastTime = Clock->Now();
            std::int64_t lastWait = 0;
            auto running = [&] { return !FTerminated.load() && !FRestartRequested.load(); };
            while ((loopsLeft != 0 || (PaintOptions & poLoopForever)) && running()) {
                CurrentFrame = loopStart;
                if (FHasPainted.load() && !Fire(LoopRestartHandler))
                    break;
                while (running()) {
                    const FrameFacts facts = Facts(CurrentFrame);
                    if (!facts.Exists && !FHasPainted.load())
                        FPaintsNothingYet = true;
                    if (!facts.Exists || !running())
                        break;
                    if (facts.Empty) {
                        // Nothing to show: passed over.
                        ++CurrentFrame;
                        continue;
                    }
                    WaitForFrame(delay, lastTime, lastWait);
                    if (FTerminated.load() || !Fire(FramePaintHandler))
                        break;
                    FrameDisposal = static_cast<std::uint8_t>(facts.Disposal);
                    if (facts.HasLoop && !loopSeen) {
                        loopSeen = true;
                        loopsLeft = facts.LoopCount;
                        if (threaded && (facts.LoopCount == 0 || (PaintOptions & poLoopForever)))
                            loopsLeft = -1;
                        loopStart = CurrentFrame;
                    }
                    if (!CallInContext([&] { PaintFrame(); }))
                        break;
                    PreviousDisposal = FrameDisposal;
                    delay = GIFDefaultDelay;
                    if (facts.Delay != 0) {
                        delay = std::max(facts.Delay, GIFMinimumDelay);
                        if (!threaded)
                            delay = std::min(delay, GIFMaximumInlineDelay);
                    }
                    const int shown = CurrentFrame;
                    if (!Fire(FrameDoneHandler))
                        break;
                    if (CurrentFrame == shown)
                        ++CurrentFrame;
                    if (!(PaintOptions & poAnimate))
                        break;
                }
                if (loopsLeft > 0)
                    --loopsLeft;
                if (!((PaintOptions & poAnimate) && (PaintOptions & poLoop)))
                    break;
            }
        }
        CurrentFrame = -1;
        // A halted painter, inline or threaded, no longer calls anyone.
        Fire(AnimationEndHandler);
    } catch (...) {
        FTerminated = true;
        FKeptException = std::current_exception();
    }
    Detach();
}

void TGIFPainter::Detach()
{
    if (TGifPicture* image = Image) {
        std::lock_guard<std::mutex> guard(image->FPaintersLock);
        if (FSlot && *FSlot == this)
            *FSlot = nullptr;
        FFinished = true;
    } else {
        FFinished = true;
    }
}

void TGIFPainter::PaintFrame()
{
    if (CurrentFrame < 0 || CurrentFrame >= Image->Frames.Count()) {
        FTerminated = true;
        return;
    }
    if (SavedScreen)
        PaintBuffered();
    else
        PaintDirect();
}

void TGIFPainter::PaintDirect()
{
    Image->Frames.Frame(CurrentFrame)
        ->DrawFrame(*Canvas, PaintRect, (PaintOptions & poTile) != 0, (PaintOptions & poTransparent) != 0);
    FHasPainted = true;
}

void TGIFPainter::RestoreBackground(const TGIFSubImage& frame)
{
    TCanvas& saved = SavedScreen->Canvas();
    const TRect whole = Sized(*SavedScreen);
    const int imageWidth = std::max(Image->GetWidth(), 1);
    const int imageHeight = std::max(Image->GetHeight(), 1);
    const bool tile = (PaintOptions & poTile) != 0;
    auto restore = [&](const TRect& r) {
        if (BackgroundCapture) {
            saved.CopyMode = cmSrcCopy;
            saved.CopyRect(r, BackgroundCapture->Canvas(), r);
        } else {
            saved.Brush.Color = BackgroundColor;
            saved.Brush.Style = bsSolid;
            saved.FillRect(r);
        }
    };
    auto tiles = [&] {
        // The saved screen's own coordinates: it covers PaintRect from 0, 0.
        for (int top = frame.FrameTop(); top < whole.Bottom; top += imageHeight)
            for (int left = frame.FrameLeft(); left < whole.Right; left += imageWidth)
                restore(TRect{left, top, left + frame.FrameWidth(), top + frame.FrameHeight()});
    };
    auto placed = [&] {
        restore(TRect{MulDiv(frame.FrameLeft(), whole.Right, imageWidth),
                      MulDiv(frame.FrameTop(), whole.Bottom, imageHeight),
                      MulDiv(frame.FrameLeft() + frame.FrameWidth(), whole.Right, imageWidth),
                      MulDiv(frame.FrameTop() + frame.FrameHeight(), whole.Bottom, imageHeight)});
    };
    if (PaintOptions & poTransparent) {
        if (tile)
            tiles();
        else
            placed();
    } else if (tile && frame.FrameWidth() != Image->GetWidth() && frame.FrameHeight() != Image->GetHeight()) {
        tiles();
    } else {
        placed();
    }
}

void TGIFPainter::PaintBuffered()
{
    TGIFSubImage& frame = *Image->Frames.Frame(CurrentFrame);
    const bool tile = (PaintOptions & poTile) != 0;
    const bool transparent = (PaintOptions & poTransparent) != 0;
    const TRect whole = Sized(*SavedScreen);
    if ((PaintOptions & poClearBackground) && CurrentFrame == 0)
        RestoreBackground(frame);
    auto show = [&](TBitmap& from) {
        Canvas->CopyMode = cmSrcCopy;
        Canvas->CopyRect(PaintRect, from.Canvas(), whole);
    };
    switch (FrameDisposal) {
    case 0:
    case 1:
        frame.DrawFrame(SavedScreen->Canvas(), whole, tile, transparent);
        show(*SavedScreen);
        break;
    case 2:
        frame.DrawFrame(SavedScreen->Canvas(), whole, tile, transparent);
        show(*SavedScreen);
        RestoreBackground(frame);
        break;
    case 3:
        if (PreviousDisposal <= 1) {
            frame.DrawFrame(*Canvas, PaintRect, tile, transparent);
        } else if (PreviousDisposal <= 3) {
            ScratchBuffer->Canvas().CopyMode = cmSrcCopy;
            ScratchBuffer->Canvas().CopyRect(whole, SavedScreen->Canvas(), whole);
            frame.DrawFrame(ScratchBuffer->Canvas(), whole, tile, transparent);
            show(*ScratchBuffer);
        } else {
            return;
        }
        break;
    default:
        return;
    }
    FHasPainted = true;
}

// ---------------------------------------------------------------------------
// The image's drawing

namespace {

void TileDraw(TCanvas& canvas, const TRect& rect, const TBitmap& bitmap, bool tile, int width, int height)
{
    const TRect source{0, 0, bitmap.Width(), bitmap.Height()};
    if (!tile) {
        canvas.StretchBitmap(rect, bitmap, source, cmSrcCopy);
        return;
    }
    width = std::max(width, 1);
    height = std::max(height, 1);
    for (int top = rect.Top; top < rect.Bottom; top += height)
        for (int left = rect.Left; left < rect.Right; left += width)
            canvas.StretchBitmap(TRect{left, top, left + width, top + height}, bitmap, source, cmSrcCopy);
}

} // namespace

TBitmap* TGifPicture::NewCachedBitmap()
{
    if (!FCachedBitmap) {
        // True colour, so that frames with tables of their own keep their
        // colours in the animation.
        auto bitmap = std::make_shared<TBitmap>(GetWidth(), GetHeight(), pf24bit);
        WatchCachedBitmap(*bitmap);
        FCachedBitmap = std::move(bitmap);
    }
    return FCachedBitmap.get();
}

void TGifPicture::WatchCachedBitmap(TBitmap& bitmap)
{
    // Every change of the bitmap, by a painter too, is a change of the image.
    bitmap.OnChange = [this](TGraphic&) { Changed(); };
    bitmap.Canvas().OnChange = [this] { Changed(); };
}

TBitmap* TGifPicture::RenderedBitmap()
{
    if (GetEmpty())
        return nullptr;
    if (!FCachedBitmap) {
        auto bitmap = std::make_shared<TBitmap>(GetWidth(), GetHeight(), pf24bit);
        TGIFSubImage& first = *Frames.Frame(0);
        if (first.FrameWidth() == GetWidth() && first.FrameHeight() == GetHeight()) {
            if (TBitmap* rendered = first.RenderedBitmap()) {
                bitmap->Assign(*rendered);
                bitmap->SetPixelFormat(pf24bit);
            }
        } else if (!bitmap->Empty()) {
            first.DrawFrame(bitmap->Canvas(), TRect{0, 0, GetWidth(), GetHeight()}, false, false);
        }
        WatchCachedBitmap(*bitmap);
        FCachedBitmap = std::move(bitmap);
    }
    return FCachedBitmap.get();
}

TGIFPainter* TGifPicture::DrawPainter()
{
    std::lock_guard<std::mutex> guard(FPaintersLock);
    return FDrawPainter;
}

int TGifPicture::PainterCount()
{
    std::lock_guard<std::mutex> guard(FPaintersLock);
    return static_cast<int>(std::count_if(FPainters.begin(), FPainters.end(),
                                          [](const std::unique_ptr<TGIFPainter>& p) { return !p->Finished(); }));
}

void TGifPicture::HaltDrawPainter()
{
    std::lock_guard<std::mutex> guard(FPaintersLock);
    if (FDrawPainter)
        FDrawPainter->Halt();
}

std::vector<std::unique_ptr<TGIFPainter>>::iterator TGifPicture::FindPainter(const TGIFPainter* painter)
{
    return std::find_if(FPainters.begin(), FPainters.end(),
                        [painter](const std::unique_ptr<TGIFPainter>& p) { return p.get() == painter; });
}

void TGifPicture::DropCachedBitmap()
{
    HaltDrawPainter();
    // A painter still drawing into the bitmap holds its own reference.
    FCachedBitmap.reset();
}

void TGifPicture::ReapPainters(bool all)
{
    std::vector<std::unique_ptr<TGIFPainter>> done;
    {
        std::lock_guard<std::mutex> guard(FPaintersLock);
        for (auto it = FPainters.begin(); it != FPainters.end();) {
            // A painter whose call is running on this thread cannot be
            // waited for here; it ends after the call.
            const bool busy = *it && RunningHere(it->get());
            if ((all && !busy) || (*it)->Finished()) {
                if (FDrawPainter == it->get())
                    FDrawPainter = nullptr;
                done.push_back(std::move(*it));
                it = FPainters.erase(it);
            } else {
                ++it;
            }
        }
    }
    std::vector<std::string> errors;
    for (auto& painter : done) {
        painter->Halt();
        painter->Join();
        if (std::exception_ptr e = painter->TakeKeptException()) {
            try {
                std::rethrow_exception(e);
            } catch (const Exception& error) {
                errors.push_back(error.Message);
            } catch (const std::exception& error) {
                errors.push_back(error.what());
            } catch (...) {
                errors.push_back("Unknown painter error");
            }
        }
    }
    done.clear();
    if (PainterErrorHandler)
        for (const std::string& message : errors)
            PainterErrorHandler(message);
}

void TGifPicture::StopDrawPainter()
{
    TGIFPainter* painter = nullptr;
    {
        std::lock_guard<std::mutex> guard(FPaintersLock);
        painter = FDrawPainter;
        if (painter)
            painter->Halt();
    }
    if (painter && !RunningHere(painter)) {
        // Halting cancels a pending call, so the join cannot wait on us.
        std::unique_ptr<TGIFPainter> owned;
        {
            std::lock_guard<std::mutex> guard(FPaintersLock);
            auto it = FindPainter(painter);
            if (it != FPainters.end()) {
                owned = std::move(*it);
                FPainters.erase(it);
            }
            if (FDrawPainter == painter)
                FDrawPainter = nullptr;
        }
        if (owned) {
            owned->Join();
            if (std::exception_ptr e = owned->TakeKeptException(); e && PainterErrorHandler) {
                try {
                    std::rethrow_exception(e);
                } catch (const Exception& error) {
                    PainterErrorHandler(error.Message);
                } catch (...) {
                    PainterErrorHandler("Painter error");
                }
            }
        }
    }
    DropCachedBitmap();
}

void TGifPicture::StopAllPainters()
{
    {
        std::lock_guard<std::mutex> guard(FPaintersLock);
        for (auto it = FPainters.rbegin(); it != FPainters.rend(); ++it)
            (*it)->Halt();
        for (TGIFPainter* painter : FInlinePainters)
            painter->Halt();
    }
    ReapPainters(true);
    DropCachedBitmap();
}

TGIFPainter* TGifPicture::StartPainter(TGIFPainter** slot, TCanvas& canvas, std::uint16_t options, const TRect& rect)
{
    ReapPainters(false);
    if (GetEmpty() || rect.Left >= rect.Right || rect.Top >= rect.Bottom) {
        if (slot)
            *slot = nullptr;
        return nullptr;
    }
    if (Frames.Count() == 1)
        options = static_cast<std::uint16_t>(options & ~(poThreaded | poAnimate));
    std::shared_ptr<TBitmap> keepAlive;
    if (FCachedBitmap && &FCachedBitmap->Canvas() == &canvas)
        keepAlive = FCachedBitmap;

    auto make = [&] {
        auto painter = std::make_unique<TGIFPainter>(*this, nullptr, canvas, options, rect, keepAlive);
        painter->AnimationStartHandler = AnimationStartHandler;
        painter->FramePaintHandler = FramePaintHandler;
        painter->FrameDoneHandler = FrameDoneHandler;
        painter->LoopRestartHandler = LoopRestartHandler;
        painter->AnimationEndHandler = AnimationEndHandler;
        return painter;
    };
    if (options & poThreaded) {
        auto painter = make();
        TGIFPainter* raw = painter.get();
        std::lock_guard<std::mutex> guard(FPaintersLock);
        raw->FSlot = slot;
        if (slot)
            *slot = raw;
        FPainters.push_back(std::move(painter));
        return raw;
    }

    // Inline: the run happens here. The image may go during it (from an
    // event its pump handled); the painter then stops and only the local
    // state is touched afterwards.
    auto painter = make();
    std::weak_ptr<const int> life = FLife;
    {
        std::lock_guard<std::mutex> guard(FPaintersLock);
        painter->FSlot = slot;
        if (slot)
            *slot = painter.get();
        FInlinePainters.push_back(painter.get());
    }
    painter->Execute();
    std::exception_ptr error = painter->TakeKeptException();
    if (!life.expired()) {
        std::lock_guard<std::mutex> guard(FPaintersLock);
        FInlinePainters.erase(std::find(FInlinePainters.begin(), FInlinePainters.end(), painter.get()));
        if (slot && *slot == painter.get())
            *slot = nullptr;
    }
    painter.reset();
    if (error)
        std::rethrow_exception(error);
    return nullptr;
}

void TGifPicture::Draw(TCanvas& canvas, const TRect& rect)
{
    if (FDrawing || Frames.Count() == 0 || rect.IsEmpty())
        return;
    FDrawing = true;
    // An inline painter's event pump may destroy the image.
    struct Clear {
        std::weak_ptr<const int> Life;
        bool& Flag;
        ~Clear()
        {
            if (!Life.expired())
                Flag = false;
        }
    } clear{FLife, FDrawing};
    const bool tile = (PaintOptions & poTile) != 0;
    const bool transparent = (PaintOptions & poTransparent) != 0;
    // Still pictures, and surfaces that do not live on screen (a printer's
    // page): frame 0 alone.
    if (Frames.Count() == 1 || !(PaintOptions & poAnimate) || !canvas.SourceBitmap()) {
        Frames.Frame(0)->DrawFrame(canvas, rect, tile, transparent);
        return;
    }
    ReapPainters(false);
    const bool direct = (PaintOptions & poDirectToCanvas) != 0;
    if (FCachedBitmap && !direct) {
        TileDraw(canvas, rect, *FCachedBitmap, tile, GetWidth(), GetHeight());
        return;
    }
    {
        std::lock_guard<std::mutex> guard(FPaintersLock);
        if (FDrawPainter && FDrawPainter->Canvas == &canvas && FDrawPainter->PaintRect == rect)
            return;
    }
    StopDrawPainter();
    TCanvas* target = &canvas;
    TRect area = rect;
    if (!direct) {
        TBitmap* cached = NewCachedBitmap();
        if (cached->Empty())
            return;
        area = TRect{0, 0, cached->Width(), cached->Height()};
        // What shows through transparent pixels: the canvas under rect.
        cached->Canvas().CopyMode = cmSrcCopy;
        cached->Canvas().CopyRect(area, canvas, rect);
        target = &cached->Canvas();
    }
    TGIFPainter* painter = StartPainter(&FDrawPainter, *target, PaintOptions, area);
    if (!painter)
        return;
    painter->Run();
    if (direct)
        return;
    // Wait for the first frame. Disposal methods that paint nothing, a
    // loop count of 0 and long delays can keep that frame away for ever:
    // the wait also ends when the painter shows it will not come soon.
    bool painted = false;
    for (;;) {
        {
            std::lock_guard<std::mutex> guard(FPaintersLock);
            // A handler run below may already have reaped it.
            if (FindPainter(painter) == FPainters.end())
                break;
            painted = painter->HasPainted();
            if (FDrawPainter != painter || painter->Terminated() || painted || painter->PaintsNothingYet())
                break;
        }
        GIFPumpSynchronizedFor(5);
    }
    if (!FCachedBitmap)
        return;
    // Frame 0 then stands for the picture until the painter paints.
    if (!painted)
        Frames.Frame(0)->DrawFrame(FCachedBitmap->Canvas(), area, tile, transparent);
    TileDraw(canvas, rect, *FCachedBitmap, tile, GetWidth(), GetHeight());
}
