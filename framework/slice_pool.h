// Slice threads: a frame too big for one core is split into slices that a
// few threads correct at once, the calling thread taking one itself.
// Portable; calls only framework/threads.h.
//
// The workers are made once by Start and park on an event of their own (no
// spinning) until a Run wakes them. The caller corrects slice 0, then, like
// the workers, takes whatever slice no one has taken yet: Run waits only for
// slices being corrected, never for a worker the system has not woken yet,
// and allocates nothing. Workers take the priority of the thread that calls
// Run (checked every Run, applied only when it changed). With one thread
// there is no worker and Run is a plain call.
//
// Start, Stop and Run may be called from any thread, but from one at a time.
// Stop must run before the pool goes, and never under the loader lock: it
// waits for the workers, whose exit takes that lock. The destructor waits for
// nothing (at process exit the workers are gone already): it only lets go of
// what it holds.
#pragma once

#include "framework/threads.h"

namespace zvk::fw {

class SlicePool {
public:
    static constexpr int kMaxThreads = 4;
    // Corrects slice `slice` of `slices` (0 <= slice < slices).
    using Job = void (*)(void* context, int slice, int slices);

    SlicePool() = default;
    ~SlicePool();
    SlicePool(const SlicePool&) = delete;
    SlicePool& operator=(const SlicePool&) = delete;

    // Makes threads - 1 workers (threads limited to 1..kMaxThreads). Running
    // already with that many, it does nothing; with another count, it stops
    // the old workers first. True when every worker asked for runs; where the
    // system refuses one, the pool runs with those it got (Threads() says).
    bool Start(int threads);
    // Wakes the workers, tells them to end, waits for them. Harmless twice or
    // without Start.
    void Stop();
    // Threads a Run uses: 1 plus the running workers.
    int Threads() const { return threads_; }

    // Runs job(context, i, n) once for every i in 0..n-1, slice 0 on the
    // calling thread, and returns when all are done. n is Threads(), or
    // `slices` when fewer (at least 1).
    void Run(Job job, void* context) { Run(job, context, threads_); }
    void Run(Job job, void* context, int slices);

private:
    struct Crew;
    struct Worker;
    static void WorkerMain(void* raw);
    static bool TakeSlices(Crew& crew);
    void FollowCallerPriority();

    Crew* crew_ = nullptr;
    int threads_ = 1;
    ThreadPriority applied_{};
    bool priorityApplied_ = false;
};

}  // namespace zvk::fw
