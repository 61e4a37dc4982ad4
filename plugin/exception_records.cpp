// Each thread's record of its C++ exceptions, kept by the library itself.
//
// The static runtime keeps it in emulated thread-local storage, which
// allocates it at a thread's first throw and ends the process when the
// allocation fails. A thread's first exception in this library is a
// std::bad_alloc, raised exactly when memory has run out: the host would die
// of the one failure the entry points are there to absorb. These two
// definitions replace the runtime's (the linker then takes none of its own);
// the records come from a reserve in the image.
#include "plugin/exception_records.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cxxabi.h>

namespace __cxxabiv1 {
// The runtime's layout of the record, which it reads and writes itself.
struct __cxa_eh_globals {
    void* caughtExceptions;
    unsigned int uncaughtExceptions;
};
}  // namespace __cxxabiv1

namespace {

using Record = __cxxabiv1::__cxa_eh_globals;

// Threads that run library code at once: the host's few, the window's, the
// poster and the slice workers. More take theirs from the heap.
constexpr int kReserved = 64;
Record gReserve[kReserved];
std::atomic<bool> gTaken[kReserved];

// Before the library's slot exists and after it is gone, only the loader's
// thread runs library code (static constructors, destructors).
Record gLoaderRecord;
DWORD gSlot = TLS_OUT_OF_INDEXES;

Record* NewRecord()
{
    for (int i = 0; i < kReserved; ++i)
        if (!gTaken[i].load(std::memory_order_relaxed) && !gTaken[i].exchange(true, std::memory_order_acquire))
            return &gReserve[i];
    if (void* heap = std::calloc(1, sizeof(Record)))
        return static_cast<Record*>(heap);
    std::abort();  // 64 threads inside the library, and no memory left
}

void FreeRecord(Record* record)
{
    if (record >= gReserve && record < gReserve + kReserved) {
        *record = Record();
        gTaken[record - gReserve].store(false, std::memory_order_release);
    } else {
        std::free(record);
    }
}

}  // namespace

extern "C" __cxxabiv1::__cxa_eh_globals* __cxxabiv1::__cxa_get_globals() noexcept
{
    if (gSlot == TLS_OUT_OF_INDEXES)
        return &gLoaderRecord;
    // Asked for in the middle of a throw: the caller's last error stays.
    const DWORD lastError = GetLastError();
    Record* record = static_cast<Record*>(TlsGetValue(gSlot));
    if (!record) {
        record = NewRecord();
        // A slot above the first 64 needs memory of the system's for each
        // thread. Without it the thread shares the loader's record: one
        // record for all its calls, rather than a new one for each.
        if (!TlsSetValue(gSlot, record)) {
            FreeRecord(record);
            record = &gLoaderRecord;
        }
    }
    SetLastError(lastError);
    return record;
}

extern "C" __cxxabiv1::__cxa_eh_globals* __cxxabiv1::__cxa_get_globals_fast() noexcept
{
    return __cxa_get_globals();
}

namespace zvk {

bool AttachExceptionRecords()
{
    gSlot = TlsAlloc();
    return gSlot != TLS_OUT_OF_INDEXES;
}

void ThreadEndsExceptionRecords()
{
    if (gSlot == TLS_OUT_OF_INDEXES)
        return;
    if (Record* record = static_cast<Record*>(TlsGetValue(gSlot))) {
        TlsSetValue(gSlot, nullptr);
        FreeRecord(record);
    }
}

void DetachExceptionRecords()
{
    // This thread's record, if any, stays valid: it is in the reserve or,
    // with the slot gone, replaced by the loader's. Records other threads
    // took from the heap beyond the reserve are left behind.
    if (gSlot == TLS_OUT_OF_INDEXES)
        return;
    ThreadEndsExceptionRecords();
    TlsFree(gSlot);
    gSlot = TLS_OUT_OF_INDEXES;
}

}  // namespace zvk
