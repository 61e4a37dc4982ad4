// The few thread primitives the slice pool needs, portable. Behind them: the
// Win32 kernel calls in the DLL (CreateThread and events, nothing from a
// threads runtime, so the DLL still loads on Windows XP), POSIX threads
// natively.
//
// On Windows a thread of ours holds the library while it runs, and so is
// never joined: framework/module_lifetime.h says why.
#pragma once

namespace zvk::fw {

using ThreadMain = void (*)(void* context);

// A started thread; null until StartThread, again after ReleaseThread.
struct ThreadHandle {
    void* impl = nullptr;
};

// Runs main(context) on a new thread. False (and no thread) if the system
// refuses one.
bool StartThread(ThreadMain main, void* context, ThreadHandle& thread);
// Lets the handle go without waiting; the thread runs on on its own.
void ReleaseThread(ThreadHandle& thread);

// A wake-up for one waiting thread: Signal sets it, Wait blocks until it is
// set and clears it again. A Signal with no one waiting is kept for the next
// Wait; two Signals before a Wait count once.
class AutoResetEvent {
public:
    AutoResetEvent();
    ~AutoResetEvent();
    AutoResetEvent(const AutoResetEvent&) = delete;
    AutoResetEvent& operator=(const AutoResetEvent&) = delete;

    // False if the system gave no event; Wait and Signal then do nothing.
    bool IsValid() const { return impl_ != nullptr; }
    void Wait();
    void Signal();

private:
    void* impl_;
};

// A thread's scheduling priority as the system states it: on Windows the
// level of GetThreadPriority (policy unused), on POSIX the policy and its
// priority.
struct ThreadPriority {
    int level = 0;
    int policy = 0;
    bool operator==(const ThreadPriority& other) const { return level == other.level && policy == other.policy; }
    bool operator!=(const ThreadPriority& other) const { return !(*this == other); }
};

ThreadPriority CurrentThreadPriority();
// Gives a started thread that priority; silently keeps the old one where the
// system does not allow it (raising a priority may need rights we lack).
void ApplyThreadPriority(const ThreadHandle& thread, ThreadPriority priority);
// Sets the calling thread's own priority; false where the system refuses.
bool SetCurrentThreadPriority(ThreadPriority priority);
// Priorities a test can set without special rights: one below the normal
// one, and the normal one.
ThreadPriority LowerThreadPriority();
ThreadPriority NormalThreadPriority();

// Gives up the processor for about a millisecond.
void SleepBriefly();

// True only when the system says that no thread with this id runs any more
// (Windows: one the host killed inside a call of ours never says so itself).
// A query that fails for another reason counts as alive; natively, where
// nothing kills our callers, always false.
bool ThreadIdGone(unsigned long id);

// Processors this process may run on (at least 1).
int ProcessorCount();

}  // namespace zvk::fw
