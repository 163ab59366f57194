#include "Parallel.h"

#include <algorithm>
#include <cstdint>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace parallel {

namespace {

thread_local bool tInWorker = false;

std::atomic<unsigned> gThreadCount{0}; // 0 until first asked: the processor count

// One call of For: its pieces are claimed one by one by every thread that
// takes part.
struct Job {
    const std::function<void(std::size_t, std::size_t)>* Body = nullptr;
    std::size_t Count = 0;
    std::size_t Grain = 1;
    std::atomic<std::size_t> Next{0};
    unsigned Helpers = 0;    // workers that joined (under the pool's lock)
    unsigned MaxHelpers = 0; // workers that may join
    std::mutex ErrorLock;
    std::exception_ptr Error;

    void Work()
    {
        for (;;) {
            const std::size_t begin = Next.fetch_add(Grain, std::memory_order_relaxed);
            if (begin >= Count)
                return;
            const std::size_t end = std::min(Count, begin + Grain);
            try {
                (*Body)(begin, end);
            } catch (...) {
                std::lock_guard<std::mutex> guard(ErrorLock);
                if (!Error)
                    Error = std::current_exception();
                Next.store(Count, std::memory_order_relaxed);
            }
        }
    }
};

class Pool {
public:
    // Runs the job with up to helpers workers beside the caller, who holds
    // SubmitLock.
    void Run(Job& job, unsigned helpers)
    {
        {
            std::lock_guard<std::mutex> guard(FLock);
            try {
                while (FThreads.size() < helpers)
                    FThreads.emplace_back([this] { WorkerLoop(); });
            } catch (const std::system_error&) {
                // No more threads to be had: the ones there are do the work.
            }
            job.MaxHelpers = helpers;
            FJob = &job;
            ++FGeneration;
        }
        FWake.notify_all();
        job.Work();
        std::unique_lock<std::mutex> lock(FLock);
        FIdle.wait(lock, [this] { return FBusy == 0; });
        FJob = nullptr;
    }

    std::mutex& SubmitLock() { return FSubmit; }

private:
    void WorkerLoop()
    {
        tInWorker = true;
        std::uint64_t seen = 0;
        std::unique_lock<std::mutex> lock(FLock);
        for (;;) {
            FWake.wait(lock, [&] { return FJob && FGeneration != seen; });
            seen = FGeneration;
            Job* job = FJob;
            if (job->Helpers >= job->MaxHelpers)
                continue;
            ++job->Helpers;
            ++FBusy;
            lock.unlock();
            job->Work();
            lock.lock();
            if (--FBusy == 0)
                FIdle.notify_all();
        }
    }

    std::mutex FSubmit; // one job at a time
    std::mutex FLock;
    std::condition_variable FWake, FIdle;
    std::vector<std::thread> FThreads;
    Job* FJob = nullptr;
    std::uint64_t FGeneration = 0;
    unsigned FBusy = 0;
};

Pool& ThePool()
{
    // Never destroyed: its threads wait for work until the program ends.
    static Pool* pool = new Pool;
    return *pool;
}

} // namespace

unsigned ProcessorCount()
{
    static const unsigned count = std::max(1u, std::thread::hardware_concurrency());
    return count;
}

unsigned ThreadCount()
{
    const unsigned n = gThreadCount.load(std::memory_order_relaxed);
    return n ? n : ProcessorCount();
}

void SetThreadCount(unsigned count) { gThreadCount.store(count, std::memory_order_relaxed); }

bool InWorker() { return tInWorker; }

std::size_t GrainFor(std::size_t count)
{
    const std::size_t pieces = std::size_t{4} * ThreadCount();
    return std::max<std::size_t>(1, (count + pieces - 1) / pieces);
}

void For(std::size_t count, std::size_t grain, const std::function<void(std::size_t, std::size_t)>& body)
{
    if (count == 0)
        return;
    grain = std::max<std::size_t>(grain, 1);
    const unsigned threads = ThreadCount();
    // Work from inside a worker, work of one piece, a single thread, or a
    // pool busy with another caller's work: all on this thread.
    if (threads <= 1 || count <= grain || tInWorker) {
        body(0, count);
        return;
    }
    Pool& pool = ThePool();
    Job job;
    job.Body = &body;
    job.Count = count;
    job.Grain = grain;
    const std::size_t pieces = (count + grain - 1) / grain;
    const unsigned helpers = static_cast<unsigned>(std::min<std::size_t>(threads - 1, pieces - 1));
    std::unique_lock<std::mutex> submit(pool.SubmitLock(), std::try_to_lock);
    if (!submit.owns_lock()) {
        body(0, count);
        return;
    }
    // Work started by the pieces this thread runs stays on this thread too.
    struct InJob {
        InJob() { tInWorker = true; }
        ~InJob() { tInWorker = false; }
    } inJob;
    pool.Run(job, helpers);
    if (job.Error)
        std::rethrow_exception(job.Error);
}

} // namespace parallel
