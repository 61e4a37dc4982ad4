#include "framework/module_lifetime.h"

#include <windows.h>

#include <cstdint>

#include "framework/module_state.h"

namespace zvk::fw {
namespace {

constexpr DWORD kPollMs = 2;

// The library's own image: where its code lies.
bool InLibraryImage(uintptr_t address)
{
    const auto base = reinterpret_cast<uintptr_t>(OwnModule());
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    return address >= base && address - base < nt->OptionalHeader.SizeOfImage;
}

uintptr_t InstructionPointer(const CONTEXT& context)
{
#if defined(_WIN64)
    return context.Rip;  // the x86-64 test build
#else
    return context.Eip;
#endif
}

// True when the thread has left the library: no call into it is in
// progress anywhere, and the thread is not in the last instructions of
// one. Checked with the thread stopped, so that it cannot enter again
// between the two looks.
bool HasLeft(HANDLE thread)
{
    if (::WaitForSingleObject(thread, 0) == WAIT_OBJECT_0)
        return !LibraryCodeRunning();
    if (LibraryCodeRunning() || ::SuspendThread(thread) == static_cast<DWORD>(-1))
        return false;
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL;
    const bool left = ::GetThreadContext(thread, &context) && !LibraryCodeRunning() && !InLibraryImage(InstructionPointer(context));
    ::ResumeThread(thread);
    return left;
}

DWORD WINAPI ReleaseWhenLeft(void* parameter)
{
    const HANDLE thread = static_cast<HANDLE>(parameter);
    while (!HasLeft(thread))
        ::Sleep(kPollMs);
    ::CloseHandle(thread);
    ::FreeLibraryAndExitThread(OwnModule(), 0);
}

}  // namespace

void LetGoWhenLeft(LibraryReference reference)
{
    if (!reference)
        return;
    HANDLE self = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &self,
                           THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | SYNCHRONIZE, FALSE, 0))
        return;
    const HANDLE releaser = ::CreateThread(nullptr, 0, ReleaseWhenLeft, self, 0, nullptr);
    if (!releaser) {
        ::CloseHandle(self);
        return;
    }
    // The releaser lets go of it now: the reference is the library's own.
    reference.module_ = nullptr;
    ::CloseHandle(releaser);
}

}  // namespace zvk::fw
