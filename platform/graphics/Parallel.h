#pragma once
// One pool of worker threads shared by the whole program, sized to the
// machine. Work that splits into independent pieces runs on it; a piece of
// work started from inside a worker runs on that worker alone, so nested
// work never waits for the pool it runs on.

#include <cstddef>
#include <functional>

namespace parallel {

// The threads work is split over, the caller's own included; 1 runs
// everything on the calling thread.
unsigned ThreadCount();
// 0 chooses one thread for each processor of the machine.
void SetThreadCount(unsigned count);
// The number of processors of the machine.
unsigned ProcessorCount();

// Calls body(begin, end) for pieces of [0, count) of at most grain items
// each, on the pool's threads and the caller's, and returns when all are
// done. Pieces may run in any order and at the same time. The first
// exception a piece raises is raised again here, after the other pieces
// have finished; the pieces not started by then are left out.
void For(std::size_t count, std::size_t grain, const std::function<void(std::size_t, std::size_t)>& body);

// A grain that splits count items into a few pieces for each thread.
std::size_t GrainFor(std::size_t count);

// True on one of the pool's threads, and on a thread while it runs pieces
// of work of For.
bool InWorker();

// Sets the thread count for a scope and restores it after.
class TThreadCountScope {
public:
    explicit TThreadCountScope(unsigned count) : FSaved(ThreadCount()) { SetThreadCount(count); }
    ~TThreadCountScope() { SetThreadCount(FSaved); }
    TThreadCountScope(const TThreadCountScope&) = delete;
    TThreadCountScope& operator=(const TThreadCountScope&) = delete;

private:
    unsigned FSaved;
};

} // namespace parallel
