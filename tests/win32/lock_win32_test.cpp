// The store's lock on Windows: a holder the host killed (TerminateThread,
// or a thread killed inside a frame's section switch) never lets go, and
// the next Acquire must take the lock over instead of waiting for good;
// a live holder is waited for, and the lock still excludes.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "framework/lock.h"

namespace zvk {
namespace {

struct Holder {
    fw::Lock* lock;
    HANDLE holding;  // set once the lock is taken
};

DWORD WINAPI HoldForever(void* raw)
{
    auto* holder = static_cast<Holder*>(raw);
    holder->lock->Acquire();
    SetEvent(holder->holding);
    for (;;)
        Sleep(1000);
}

// Starts a thread that takes the lock and keeps it until it is killed.
HANDLE StartHolder(Holder& holder)
{
    holder.holding = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HANDLE thread = CreateThread(nullptr, 0, HoldForever, &holder, 0, nullptr);
    WaitForSingleObject(holder.holding, INFINITE);
    CloseHandle(holder.holding);
    return thread;
}

TEST(Lock, AHolderTheHostKilledIsTakenOverAndTheLockStillExcludes)
{
    // Whether anyone besides the holder keeps a handle to the dead thread
    // (the system keeps the thread object then) must not matter.
    for (const bool handleKept : {false, true}) {
        fw::Lock lock;
        Holder holder = {&lock, nullptr};
        const HANDLE thread = StartHolder(holder);
        EXPECT_FALSE(lock.TryAcquire()) << "a live holder's lock was taken";
        TerminateThread(thread, 1);
        WaitForSingleObject(thread, INFINITE);
        if (!handleKept)
            CloseHandle(thread);

        // Two threads need it at once: each gets it in turn, never both.
        std::atomic<int> inside{0}, overlaps{0}, turns{0};
        auto user = [&] {
            for (int i = 0; i < 50; ++i) {
                lock.Acquire();
                overlaps += inside.fetch_add(1) != 0;
                Sleep(0);
                inside.fetch_sub(1);
                ++turns;
                lock.Release();
            }
        };
        std::thread first(user), second(user);
        // Not a speed: a wait for the dead holder never ends.
        const DWORD start = GetTickCount();
        while (turns < 100 && GetTickCount() - start < 20000)
            Sleep(5);
        ASSERT_EQ(turns.load(), 100) << "the dead holder's lock was never taken over; handle kept " << handleKept;
        first.join();
        second.join();
        EXPECT_EQ(overlaps.load(), 0) << "two threads held the lock at once";
        EXPECT_TRUE(lock.TryAcquire()) << "released, the lock is free again";
        lock.Release();
        if (handleKept)
            CloseHandle(thread);
    }
}

}  // namespace
}  // namespace zvk
