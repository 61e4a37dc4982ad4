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
// and every started worker hold it; the last to let go deletes it, so
// nothing ever waits for a worker to end (under the loader lock a thread
// cannot) or for a Run to finish.
struct alignas(8) SlicePool::Crew {
    ~Crew()
    {
        for (int w = 0; w < started; ++w)
            ReleaseThread(workers[w].thread);
    }

    Worker workers[kMaxThreads - 1];
    int started = 0;
    std::atomic<int> holders{1};
    AutoResetEvent done;
    std::atomic<bool> stopping{false};
    std::atomic<int> handover{0};
    // The current Run's slice count (bits 8..15) and the next slice nobody
    // has taken yet (bits 0..7). Whoever is free takes the next one, the
    // caller too once its own is done, so a frame never waits for a worker
    // that has not woken yet, only for slices that are being corrected.
    std::atomic<uint32_t> claim{0};
    // Slices of the current Run not yet finished: the one who finishes the
    // last signals the caller, unless that is the caller.
    std::atomic<int> remaining{0};
    // Written by the Run that holds the gate, before it publishes claim;
    // read only after a slice was taken.
    Job job = nullptr;
    void* context = nullptr;
    // The priority the workers were last given; only the Run that holds
    // the gate uses it.
    ThreadPriority applied{};
    bool priorityApplied = false;
};

namespace {

constexpr uint32_t kSliceBits = 8;
constexpr uint32_t kNextMask = (1u << kSliceBits) - 1;

// The gate word's low bits.
constexpr uintptr_t kInUse = 1;       // a Run holds the crew
constexpr uintptr_t kWorkersShift = 1;  // workers started, 1..3
constexpr uintptr_t kLowBits = 7;
constexpr uintptr_t kShut = kInUse;   // no crew, and none until Reopen

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

SlicePool::Crew* SlicePool::CrewOf(uintptr_t gate)
{
    return reinterpret_cast<Crew*>(gate & ~kLowBits);
}

namespace {

int ThreadsOf(uintptr_t gate)
{
    return 1 + static_cast<int>(gate >> kWorkersShift & 3);
}

}  // namespace

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

int SlicePool::Threads() const
{
    return ThreadsOf(gate_.load(std::memory_order_acquire));
}

void SlicePool::Retire(uintptr_t gate)
{
    Crew* const crew = CrewOf(gate);
    if (!crew)
        return;
    crew->stopping.store(true, std::memory_order_release);
    for (int w = 0; w < crew->started; ++w)
        crew->workers[w].wake.Signal();
    if (!(gate & kInUse) || HandedOver(*crew))
        LetGo(crew);
}

// A crew taken away while a Run holds it: the pool's hold goes with the
// second of the two to be done with it, the Run and the one who took it.
bool SlicePool::HandedOver(Crew& crew)
{
    return crew.handover.fetch_add(1, std::memory_order_acq_rel) == 1;
}

bool SlicePool::Start(int threads)
{
    static_assert(alignof(Crew) > ((kMaxThreads - 1) << kWorkersShift | kInUse), "the gate's low bits are free");
    threads = threads < 1 ? 1 : threads > kMaxThreads ? kMaxThreads : threads;
    uintptr_t gate = gate_.load(std::memory_order_acquire);
    if (gate == kShut)
        return false;
    // Kept only when idle: a Run holding it may be one whose thread died.
    if (CrewOf(gate) && !(gate & kInUse) && ThreadsOf(gate) == threads)
        return true;

    uintptr_t word = 0;
    Crew* crew = nullptr;
    if (threads > 1) {
        crew = new (std::nothrow) Crew;
        if (!crew) {
            Stop();
            return false;
        }
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
            Stop();
            return false;
        }
        word = reinterpret_cast<uintptr_t>(crew) | static_cast<uintptr_t>(crew->started) << kWorkersShift;
    }
    // Once published, another thread may retire and free it at any moment.
    const bool allStarted = ThreadsOf(word) == threads;
    // Published in one step; whatever crew it replaces is retired.
    gate = gate_.load(std::memory_order_acquire);
    do {
        if (gate == kShut) {
            Retire(word);
            return false;
        }
    } while (!gate_.compare_exchange_weak(gate, word, std::memory_order_acq_rel, std::memory_order_acquire));
    Retire(gate);
    return allStarted;
}

void SlicePool::Stop()
{
    uintptr_t gate = gate_.load(std::memory_order_acquire);
    do {
        if (gate == 0 || gate == kShut)
            return;
    } while (!gate_.compare_exchange_weak(gate, 0, std::memory_order_acq_rel, std::memory_order_acquire));
    Retire(gate);
}

void SlicePool::Shut()
{
    Retire(gate_.exchange(kShut, std::memory_order_acq_rel));
}

void SlicePool::Reopen()
{
    uintptr_t shut = kShut;
    gate_.compare_exchange_strong(shut, 0, std::memory_order_acq_rel);
}

void SlicePool::FollowCallerPriority(Crew& crew)
{
    const ThreadPriority caller = CurrentThreadPriority();
    if (crew.priorityApplied && caller == crew.applied)
        return;
    for (int w = 0; w < crew.started; ++w)
        ApplyThreadPriority(crew.workers[w].thread, caller);
    crew.applied = caller;
    crew.priorityApplied = true;
}

void SlicePool::Run(Job job, void* context, int slices)
{
    uintptr_t open = gate_.load(std::memory_order_acquire);
    if (slices < 2 || !CrewOf(open) || (open & kInUse) ||
        !gate_.compare_exchange_strong(open, open | kInUse, std::memory_order_acq_rel, std::memory_order_relaxed)) {
        job(context, 0, 1);
        return;
    }
    Crew& crew = *CrewOf(open);
    const int threads = 1 + crew.started;
    const int n = slices > threads ? threads : slices;
    FollowCallerPriority(crew);
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
    uintptr_t held = open | kInUse;
    if (!gate_.compare_exchange_strong(held, open, std::memory_order_acq_rel, std::memory_order_relaxed) &&
        HandedOver(crew))
        LetGo(&crew);
}

}  // namespace zvk::fw
