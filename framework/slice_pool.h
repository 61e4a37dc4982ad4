// Slice threads: a frame too big for one core is split into slices that a
// few threads correct at once, the calling thread taking one itself.
// Portable; calls only framework/threads.h.
//
// The workers are made by Start and park on an event of their own (no
// spinning) until a Run wakes them. The caller corrects slice 0, then, like
// the workers, takes whatever slice no one has taken yet: Run waits only for
// slices being corrected, never for a worker the system has not woken yet,
// and allocates nothing. Workers take the priority of the thread that calls
// Run (checked every Run, applied only when it changed). With one thread
// there is no worker and Run is a plain call.
//
// Every call may come from any thread at any time, beside any other, and
// none of them waits for another thread: the host may kill a thread
// anywhere, inside a Run included, and may call Stop under the loader lock.
// - A Run that finds the workers busy with another Run, or none, corrects
//   the whole frame on its own thread.
// - Start and Stop take the workers away from the pool in one atomic step,
//   whatever a Run is doing with them: the workers are told to end and the
//   Run in flight, if any, finishes its frame with them and lets go. The
//   last holder out frees what they share. A Run whose thread died holds
//   the few hundred bytes it had for good; nothing waits for it.
// - Shut stops and refuses every Start until Reopen, so that a Start racing
//   a Shut on another thread never leaves workers behind it.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/threads.h"

namespace zvk::fw {

class SlicePool {
public:
    static constexpr int kMaxThreads = 4;
    // Corrects slice `slice` of `slices` (0 <= slice < slices).
    using Job = void (*)(void* context, int slice, int slices);

    SlicePool() = default;
    ~SlicePool() { Stop(); }
    SlicePool(const SlicePool&) = delete;
    SlicePool& operator=(const SlicePool&) = delete;

    // Makes threads - 1 workers (threads limited to 1..kMaxThreads). With
    // that many idle already, it does nothing; otherwise the old workers are
    // stopped. True when every worker asked for runs; where the system
    // refuses one, the pool runs with those it got (Threads() says). False,
    // and nothing started, while the pool is shut.
    bool Start(int threads);
    // Tells the workers to end and returns without waiting for them; they
    // end as soon as the system lets them. Harmless twice or without Start.
    void Stop();
    // Stop, and no Start succeeds until Reopen.
    void Shut();
    void Reopen();
    // Threads a Run uses: 1 plus the running workers.
    int Threads() const;

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
    static Crew* CrewOf(uintptr_t gate);
    static bool HandedOver(Crew& crew);
    static bool TakeSlices(Crew& crew);
    static void FollowCallerPriority(Crew& crew);
    // Tells a crew taken off the gate to end; `gate` is the word it was
    // taken with.
    static void Retire(uintptr_t gate);

    // The gate: the crew (aligned, so its low bits are free), its thread
    // count less one, and whether a Run holds it, in one word, so that
    // taking the crew away and taking it for a frame exclude each other
    // without a lock. No crew: 0, or kShut.
    std::atomic<uintptr_t> gate_{0};
};

}  // namespace zvk::fw
