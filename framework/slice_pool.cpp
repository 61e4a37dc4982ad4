#include "framework/slice_pool.h"

#include <atomic>
#include <cstdint>
#include <new>

namespace zvk::fw {

struct SlicePool::Worker {
    Crew* crew = nullptr;
    ThreadHandle thread;
    AutoResetEvent wake;
};

// Everything the workers touch, in one block that outlives them. The pool
// and every started worker hold it; the last to let go deletes it, so Stop
// never waits for a worker to end (under the loader lock a thread cannot).
struct SlicePool::Crew {
    Worker workers[kMaxThreads - 1];
    int started = 0;
    std::atomic<int> holders{1};
    AutoResetEvent done;
    std::atomic<bool> stopping{false};
    // The current Run's slice count (bits 8..15) and the next slice nobody
    // has taken yet (bits 0..7). Whoever is free takes the next one, the
    // caller too once its own is done, so a frame never waits for a worker
    // that has not woken yet, only for slices that are being corrected.
    std::atomic<uint32_t> claim{0};
    // Slices of the current Run not yet finished: the one who finishes the
    // last signals the caller, unless that is the caller.
    std::atomic<int> remaining{0};
    // Written by the caller before it publishes claim; read only after a
    // slice was taken.
    Job job = nullptr;
    void* context = nullptr;
};

namespace {

constexpr uint32_t kSliceBits = 8;
constexpr uint32_t kNextMask = (1u << kSliceBits) - 1;

}  // namespace

// Takes and corrects slices until none is left; true if this thread
// finished the Run's last slice.
bool SlicePool::TakeSlices(Crew& crew)
{
    bool finishedLast = false;
    uint32_t claim = crew.claim.load(std::memory_order_acquire);
    for (;;) {
        const uint32_t next = claim & kNextMask, slices = claim >> kSliceBits;
        if (next >= slices)
            return finishedLast;
        if (!crew.claim.compare_exchange_weak(claim, claim + 1, std::memory_order_acq_rel, std::memory_order_acquire))
            continue;
        crew.job(crew.context, static_cast<int>(next), static_cast<int>(slices));
        finishedLast = crew.remaining.fetch_sub(1, std::memory_order_acq_rel) == 1;
        claim = crew.claim.load(std::memory_order_acquire);
    }
}

void SlicePool::LetGo(Crew* crew)
{
    if (crew->holders.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete crew;
}

SlicePool::~SlicePool()
{
    if (!crew_)
        return;
    // Not stopped: the workers may still be parked on the crew's events, so
    // the crew stays; only the thread handles are let go.
    for (int w = 0; w < crew_->started; ++w)
        ReleaseThread(crew_->workers[w].thread);
    crew_ = nullptr;
}

void SlicePool::WorkerMain(void* raw)
{
    Worker& worker = *static_cast<Worker*>(raw);
    Crew& crew = *worker.crew;
    for (;;) {
        worker.wake.Wait();
        if (crew.stopping.load(std::memory_order_acquire))
            break;
        if (TakeSlices(crew))
            crew.done.Signal();
    }
    LetGo(&crew);
}

bool SlicePool::Start(int threads)
{
    threads = threads < 1 ? 1 : threads > kMaxThreads ? kMaxThreads : threads;
    if (crew_ && threads == Threads())
        return true;
    Stop();
    if (threads == 1)
        return true;

    auto* crew = new (std::nothrow) Crew;
    if (!crew)
        return false;
    bool valid = crew->done.IsValid();
    for (int w = 0; w < threads - 1; ++w)
        valid = valid && crew->workers[w].wake.IsValid();
    for (int w = 0; valid && w < threads - 1; ++w) {
        Worker& worker = crew->workers[w];
        worker.crew = crew;
        crew->holders.fetch_add(1, std::memory_order_relaxed);
        if (!StartThread(WorkerMain, &worker, worker.thread)) {
            crew->holders.fetch_sub(1, std::memory_order_relaxed);
            break;
        }
        ++crew->started;
    }
    if (crew->started == 0) {
        delete crew;
        return false;
    }
    crew_ = crew;
    threads_.store(1 + crew->started, std::memory_order_relaxed);
    priorityApplied_ = false;
    gate_.store(kOpen, std::memory_order_release);
    return crew->started == threads - 1;
}

void SlicePool::Stop()
{
    if (!crew_)
        return;
    // Close the gate; a Run that holds it finishes its frame and closes it
    // behind itself, and no other Run gets in meanwhile.
    for (;;) {
        int gate = gate_.load(std::memory_order_acquire);
        if (gate == kClosed || (gate == kOpen && gate_.compare_exchange_strong(gate, kClosed, std::memory_order_acquire)))
            break;
        if (gate == kInUse)
            gate_.compare_exchange_strong(gate, kClosing, std::memory_order_relaxed);
        SleepBriefly();
    }
    threads_.store(1, std::memory_order_relaxed);
    Crew* const crew = crew_;
    crew_ = nullptr;
    crew->stopping.store(true, std::memory_order_release);
    for (int w = 0; w < crew->started; ++w) {
        crew->workers[w].wake.Signal();
        ReleaseThread(crew->workers[w].thread);
    }
    LetGo(crew);
}

void SlicePool::FollowCallerPriority()
{
    const ThreadPriority caller = CurrentThreadPriority();
    if (priorityApplied_ && caller == applied_)
        return;
    for (int w = 0; w < crew_->started; ++w)
        ApplyThreadPriority(crew_->workers[w].thread, caller);
    applied_ = caller;
    priorityApplied_ = true;
}

void SlicePool::Run(Job job, void* context, int slices)
{
    int open = kOpen;
    if (slices < 2 || !gate_.compare_exchange_strong(open, kInUse, std::memory_order_acquire, std::memory_order_relaxed)) {
        job(context, 0, 1);
        return;
    }
    const int threads = Threads();
    const int n = slices > threads ? threads : slices;
    FollowCallerPriority();
    Crew& crew = *crew_;
    crew.job = job;
    crew.context = context;
    crew.remaining.store(n, std::memory_order_relaxed);
    // Slice 0 is the caller's; the others go to whoever takes them first.
    crew.claim.store(static_cast<uint32_t>(n) << kSliceBits | 1u, std::memory_order_release);
    for (int w = 0; w < n - 1; ++w)
        crew.workers[w].wake.Signal();
    job(context, 0, n);
    bool finishedLast = crew.remaining.fetch_sub(1, std::memory_order_acq_rel) == 1;
    finishedLast = TakeSlices(crew) || finishedLast;
    if (!finishedLast)
        crew.done.Wait();
    int inUse = kInUse;
    if (!gate_.compare_exchange_strong(inUse, kOpen, std::memory_order_release, std::memory_order_relaxed))
        gate_.store(kClosed, std::memory_order_release);  // Stop is waiting
}

}  // namespace zvk::fw
