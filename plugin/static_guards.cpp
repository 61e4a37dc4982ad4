// The guards of function-local statics, kept by the library itself.
//
// The static runtime's guards (win32 thread model) share one mutex that the
// first guarded initialisation of each load makes: a semaphore, never closed.
// A host that loads and unloads the library lost one handle per load. These
// three definitions replace the runtime's (the linker then takes none of its
// own); a guard here needs no system object: the first byte says done (the
// compiler's inline check reads it), the second says an initialisation is
// in progress.
#include <windows.h>

#include <atomic>
#include <cstdint>

namespace {

std::atomic<char>& Done(int64_t* guard)
{
    return *reinterpret_cast<std::atomic<char>*>(reinterpret_cast<char*>(guard));
}

std::atomic<char>& Busy(int64_t* guard)
{
    return *reinterpret_cast<std::atomic<char>*>(reinterpret_cast<char*>(guard) + 1);
}

}  // namespace

// 1: the caller initialises and then calls release (or abort, if it
// throws); 0: the object is made. Another thread's initialisation in
// progress is waited for, as with the runtime's own guards.
extern "C" int __cxa_guard_acquire(int64_t* guard)
{
    for (;;) {
        if (Done(guard).load(std::memory_order_acquire))
            return 0;
        char idle = 0;
        if (Busy(guard).compare_exchange_strong(idle, 1, std::memory_order_acquire)) {
            if (!Done(guard).load(std::memory_order_acquire))
                return 1;
            Busy(guard).store(0, std::memory_order_release);
            return 0;
        }
        Sleep(0);
    }
}

extern "C" void __cxa_guard_release(int64_t* guard)
{
    Done(guard).store(1, std::memory_order_release);
    Busy(guard).store(0, std::memory_order_release);
}

extern "C" void __cxa_guard_abort(int64_t* guard)
{
    Busy(guard).store(0, std::memory_order_release);
}
