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
// Run may be called from any thread at any time. A Run that finds the pool
// busy with another Run, or being started or stopped, corrects the whole
// frame on its own thread: it never waits and never fails. Start and Stop
// may be called from any thread, one at a time; they wait for a Run in
// flight (one frame at most), never for a worker: Stop tells the workers to
// end and lets them go, and the last one out frees what they share. So Stop
// may run under the loader lock (from a DllMain), where a worker's exit
// must wait until the lock is free. The destructor waits for nothing either
// (at process exit the workers are gone already): it only lets go of what
// it holds.
#pragma once

#include <atomic>

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
    // Tells the workers to end and returns without waiting for them; they
    // end as soon as the system lets them. Harmless twice or without Start.
    void Stop();
    // Threads a Run uses: 1 plus the running workers.
    int Threads() const { return threads_.load(std::memory_order_relaxed); }

    // Runs job(context, i, n) once for every i in 0..n-1, slice 0 on the
    // calling thread, and returns when all are done. n is Threads(), or
    // `slices` when fewer (at least 1).
    void Run(Job job, void* context) { Run(job, context, Threads()); }
    void Run(Job job, void* context, int slices);

private:
    struct Crew;
    struct Worker;
    static void WorkerMain(void* raw);
    // One holder of the crew lets go; the last deletes it.
    static void LetGo(Crew* crew);
    static bool TakeSlices(Crew& crew);
    void FollowCallerPriority();

    // Who may use the workers: no one (no workers, or Start or Stop at
    // work), anyone, the one Run that has them, or that Run while Stop
    // waits for it to close the gate behind it.
    enum Gate { kClosed, kOpen, kInUse, kClosing };

    std::atomic<int> gate_{kClosed};
    std::atomic<int> threads_{1};
    Crew* crew_ = nullptr;  // changed only by Start and Stop, behind the closed gate
    // Used only by the Run that holds the gate.
    ThreadPriority applied_{};
    bool priorityApplied_ = false;
};

}  // namespace zvk::fw
