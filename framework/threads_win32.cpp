#include <windows.h>

#include <new>
#include <utility>

#include "framework/module_lifetime.h"
#include "framework/threads.h"

namespace zvk::fw {
namespace {

// Small stacks: the kernels need a few kilobytes, and a host's 32-bit
// address space is not ours to spend.
constexpr SIZE_T kStackReserve = 256 * 1024;

struct Start {
    ThreadMain main;
    void* context;
    LibraryReference library;  // handed to the thread
};

DWORD WINAPI ThreadEntry(void* raw)
{
    auto* start = static_cast<Start*>(raw);
    const ThreadMain main = start->main;
    void* const context = start->context;
    LibraryReference library = std::move(start->library);
    delete start;
    main(context);
    library.LeaveThread();
}

}  // namespace

bool StartThread(ThreadMain main, void* context, ThreadHandle& thread)
{
    LibraryReference library = LibraryReference::Take();
    if (!library)
        return false;
    auto* start = new (std::nothrow) Start{main, context, std::move(library)};
    HANDLE handle = start ? CreateThread(nullptr, kStackReserve, ThreadEntry, start, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr)
                          : nullptr;
    if (!handle) {
        LibraryReference unused = start ? std::move(start->library) : std::move(library);
        delete start;
        unused.ReleaseUnused();
        return false;
    }
    thread.impl = handle;
    return true;
}

void ReleaseThread(ThreadHandle& thread)
{
    if (!thread.impl)
        return;
    CloseHandle(thread.impl);
    thread.impl = nullptr;
}

AutoResetEvent::AutoResetEvent() : impl_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

AutoResetEvent::~AutoResetEvent()
{
    if (impl_)
        CloseHandle(impl_);
}

void AutoResetEvent::Wait()
{
    if (impl_)
        WaitForSingleObject(impl_, INFINITE);
}

void AutoResetEvent::Signal()
{
    if (impl_)
        SetEvent(impl_);
}

ThreadPriority CurrentThreadPriority()
{
    const int level = GetThreadPriority(GetCurrentThread());
    return {level == THREAD_PRIORITY_ERROR_RETURN ? THREAD_PRIORITY_NORMAL : level, 0};
}

void ApplyThreadPriority(const ThreadHandle& thread, ThreadPriority priority)
{
    if (thread.impl)
        SetThreadPriority(thread.impl, priority.level);
}

bool SetCurrentThreadPriority(ThreadPriority priority)
{
    return SetThreadPriority(GetCurrentThread(), priority.level) != 0;
}

ThreadPriority LowerThreadPriority()
{
    return {THREAD_PRIORITY_BELOW_NORMAL, 0};
}

ThreadPriority NormalThreadPriority()
{
    return {THREAD_PRIORITY_NORMAL, 0};
}

void SleepBriefly()
{
    Sleep(1);
}

bool ThreadIdGone(unsigned long id)
{
    const HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (!thread)
        return GetLastError() == ERROR_INVALID_PARAMETER;
    const bool gone = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return gone;
}

int ProcessorCount()
{
    DWORD_PTR process = 0, system = 0;
    int count = 0;
    if (GetProcessAffinityMask(GetCurrentProcess(), &process, &system))
        for (; process; process &= process - 1)
            ++count;
    if (count > 0)
        return count;
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors > 0 ? static_cast<int>(info.dwNumberOfProcessors) : 1;
}

}  // namespace zvk::fw
