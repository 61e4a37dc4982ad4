#include <windows.h>

#include <atomic>
#include <new>

#include "framework/lock.h"
#include "framework/threads.h"

namespace zvk::fw {
namespace {

// The lock is the id of the thread that holds it, or 0. Not a critical
// section: one whose owner the host killed (TerminateThread, a thread that
// died inside a frame's section switch) stays taken for good, and every
// later Acquire, Close's save among them, would wait forever.
using Owner = std::atomic<DWORD>;
static_assert(sizeof(Owner) <= 64 && alignof(Owner) <= 8, "the lock fits its storage");

Owner& OwnerOf(unsigned char* impl)
{
    return *std::launder(reinterpret_cast<Owner*>(impl));
}

}  // namespace

Lock::Lock()
{
    new (impl_) Owner(0);
}

Lock::~Lock()
{
    OwnerOf(impl_).~Owner();
}

void Lock::Acquire()
{
    Owner& owner = OwnerOf(impl_);
    const DWORD me = GetCurrentThreadId();
    for (unsigned attempt = 0;; ++attempt) {
        DWORD holder = 0;
        if (owner.compare_exchange_strong(holder, me, std::memory_order_acquire))
            return;
        // Held for long: the holder may be dead, which nothing else tells.
        if (attempt % 16 == 15 && ThreadIdGone(holder) &&
            owner.compare_exchange_strong(holder, me, std::memory_order_acquire))
            return;
        // The lock is held for microseconds; give the holder the processor.
        Sleep(attempt < 4 ? 0 : 1);
    }
}

bool Lock::TryAcquire()
{
    DWORD holder = 0;
    return OwnerOf(impl_).compare_exchange_strong(holder, GetCurrentThreadId(), std::memory_order_acquire);
}

void Lock::Release()
{
    OwnerOf(impl_).store(0, std::memory_order_release);
}

}  // namespace zvk::fw
