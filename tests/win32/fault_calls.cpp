#include "tests/win32/fault_calls.h"

#include <malloc.h>
#include <shlobj.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tests/win32/guest_host.h"

namespace zvk::fault {
namespace {

std::atomic<int> gCall{-1};
std::atomic<long> gAt{0};
std::atomic<bool> gOnward{false};
std::atomic<long> gCalls[kCallCount];
std::atomic<long> gFailed{0};
std::atomic<const char*> gStep{"load"};
std::atomic<const char*> gFirstFailureStep{""};
// The steps failed calls came in (the session names a dozen).
std::atomic<const char*> gFailedSteps[16];

// Counts the call; true when the plan makes it fail, with the error set.
bool Fails(Call call, DWORD error)
{
    const long n = ++gCalls[call];
    if (gCall.load() != call || n < gAt.load() || (n != gAt.load() && !gOnward.load()))
        return false;
    for (std::atomic<const char*>& step : gFailedSteps) {
        const char* none = nullptr;
        if (step.load() == gStep.load() || step.compare_exchange_strong(none, gStep.load()))
            break;
    }
    if (gFailed++ == 0) {
        gFirstFailureStep = gStep.load();
        std::fprintf(stderr, "injected: %s #%ld fails (%s)\n", kCalls[call].name, n, gStep.load());
        std::fflush(stderr);
    }
    SetLastError(error);
    return true;
}

void* __cdecl FakeMalloc(size_t size)
{
    if (Fails(kMalloc, ERROR_NOT_ENOUGH_MEMORY)) {
        errno = ENOMEM;
        return nullptr;
    }
    return std::malloc(size);
}

void* __cdecl FakeCalloc(size_t count, size_t size)
{
    if (Fails(kCalloc, ERROR_NOT_ENOUGH_MEMORY)) {
        errno = ENOMEM;
        return nullptr;
    }
    return std::calloc(count, size);
}

void* __cdecl FakeRealloc(void* block, size_t size)
{
    if (Fails(kRealloc, ERROR_NOT_ENOUGH_MEMORY)) {
        errno = ENOMEM;
        return nullptr;
    }
    return std::realloc(block, size);
}

void* __cdecl FakeAlignedMalloc(size_t size, size_t alignment)
{
    if (Fails(kAlignedMalloc, ERROR_NOT_ENOUGH_MEMORY)) {
        errno = ENOMEM;
        return nullptr;
    }
    return _aligned_malloc(size, alignment);
}

HANDLE WINAPI FakeCreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                              DWORD disposition, DWORD flags, HANDLE pattern)
{
    // An antivirus holding the file.
    if (Fails(kCreateFileA, ERROR_SHARING_VIOLATION))
        return INVALID_HANDLE_VALUE;
    return CreateFileA(path, access, share, security, disposition, flags, pattern);
}

BOOL WINAPI FakeReadFile(HANDLE file, void* data, DWORD size, DWORD* got, OVERLAPPED* overlapped)
{
    if (Fails(kReadFile, ERROR_READ_FAULT)) {
        if (got)
            *got = 0;
        return FALSE;
    }
    return ReadFile(file, data, size, got, overlapped);
}

BOOL WINAPI FakeWriteFile(HANDLE file, const void* data, DWORD size, DWORD* put, OVERLAPPED* overlapped)
{
    if (Fails(kWriteFile, ERROR_DISK_FULL)) {
        if (put)
            *put = 0;
        return FALSE;
    }
    return WriteFile(file, data, size, put, overlapped);
}

DWORD WINAPI FakeGetFileSize(HANDLE file, DWORD* high)
{
    if (Fails(kGetFileSize, ERROR_ACCESS_DENIED))
        return INVALID_FILE_SIZE;
    return GetFileSize(file, high);
}

BOOL WINAPI FakeFlushFileBuffers(HANDLE file)
{
    if (Fails(kFlushFileBuffers, ERROR_DISK_FULL))
        return FALSE;
    return FlushFileBuffers(file);
}

BOOL WINAPI FakeMoveFileExA(LPCSTR from, LPCSTR to, DWORD flags)
{
    if (Fails(kMoveFileExA, ERROR_SHARING_VIOLATION))
        return FALSE;
    return MoveFileExA(from, to, flags);
}

BOOL WINAPI FakeDeleteFileA(LPCSTR path)
{
    if (Fails(kDeleteFileA, ERROR_SHARING_VIOLATION))
        return FALSE;
    return DeleteFileA(path);
}

BOOL WINAPI FakeSetFileAttributesA(LPCSTR path, DWORD attributes)
{
    if (Fails(kSetFileAttributesA, ERROR_ACCESS_DENIED))
        return FALSE;
    return SetFileAttributesA(path, attributes);
}

DWORD WINAPI FakeGetFileAttributesA(LPCSTR path)
{
    if (Fails(kGetFileAttributesA, ERROR_ACCESS_DENIED))
        return INVALID_FILE_ATTRIBUTES;
    return GetFileAttributesA(path);
}

BOOL WINAPI FakeCreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security)
{
    if (Fails(kCreateDirectoryA, ERROR_DISK_FULL))
        return FALSE;
    return CreateDirectoryA(path, security);
}

LONG WINAPI FakeRegOpenKeyExA(HKEY key, LPCSTR name, DWORD options, REGSAM access, HKEY* result)
{
    if (Fails(kRegOpenKeyExA, ERROR_NOT_ENOUGH_MEMORY))
        return ERROR_NOT_ENOUGH_MEMORY;
    return RegOpenKeyExA(key, name, options, access, result);
}

LONG WINAPI FakeRegQueryValueExA(HKEY key, LPCSTR name, DWORD* reserved, DWORD* type, BYTE* data, DWORD* size)
{
    if (Fails(kRegQueryValueExA, ERROR_NOT_ENOUGH_MEMORY))
        return ERROR_NOT_ENOUGH_MEMORY;
    return RegQueryValueExA(key, name, reserved, type, data, size);
}

BOOL WINAPI FakeSHGetSpecialFolderPathA(HWND owner, LPSTR path, int folder, BOOL create)
{
    if (Fails(kSHGetSpecialFolderPathA, ERROR_NOT_ENOUGH_MEMORY))
        return FALSE;
    return SHGetSpecialFolderPathA(owner, path, folder, create);
}

DWORD WINAPI FakeGetModuleFileNameA(HMODULE module, LPSTR path, DWORD size)
{
    if (Fails(kGetModuleFileNameA, ERROR_NOT_ENOUGH_MEMORY))
        return 0;
    return GetModuleFileNameA(module, path, size);
}

HANDLE WINAPI FakeCreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                               void* parameter, DWORD flags, DWORD* id)
{
    if (Fails(kCreateThread, ERROR_NOT_ENOUGH_MEMORY))
        return nullptr;
    return CreateThread(security, stack, start, parameter, flags, id);
}

HANDLE WINAPI FakeCreateEventA(LPSECURITY_ATTRIBUTES security, BOOL manual, BOOL initial, LPCSTR name)
{
    if (Fails(kCreateEventA, ERROR_NO_SYSTEM_RESOURCES))
        return nullptr;
    return CreateEventA(security, manual, initial, name);
}

HANDLE WINAPI FakeCreateSemaphoreW(LPSECURITY_ATTRIBUTES security, LONG initial, LONG maximum, LPCWSTR name)
{
    if (Fails(kCreateSemaphoreW, ERROR_NO_SYSTEM_RESOURCES))
        return nullptr;
    return CreateSemaphoreW(security, initial, maximum, name);
}

BOOL WINAPI FakeDuplicateHandle(HANDLE sourceProcess, HANDLE source, HANDLE targetProcess, HANDLE* target,
                                DWORD access, BOOL inherit, DWORD options)
{
    if (Fails(kDuplicateHandle, ERROR_NO_SYSTEM_RESOURCES))
        return FALSE;
    return DuplicateHandle(sourceProcess, source, targetProcess, target, access, inherit, options);
}

DWORD WINAPI FakeTlsAlloc()
{
    if (Fails(kTlsAlloc, ERROR_NO_MORE_ITEMS))
        return TLS_OUT_OF_INDEXES;
    return TlsAlloc();
}

HHOOK WINAPI FakeSetWindowsHookExA(int type, HOOKPROC procedure, HINSTANCE module, DWORD thread)
{
    if (Fails(kSetWindowsHookExA, ERROR_NOT_ENOUGH_MEMORY))
        return nullptr;
    return SetWindowsHookExA(type, procedure, module, thread);
}

HWND WINAPI FakeCreateDialogParamA(HINSTANCE module, LPCSTR name, HWND parent, DLGPROC procedure, LPARAM parameter)
{
    if (Fails(kCreateDialogParamA, ERROR_NOT_ENOUGH_MEMORY))
        return nullptr;
    return CreateDialogParamA(module, name, parent, procedure, parameter);
}

INT_PTR WINAPI FakeDialogBoxParamA(HINSTANCE module, LPCSTR name, HWND parent, DLGPROC procedure, LPARAM parameter)
{
    if (Fails(kDialogBoxParamA, ERROR_NOT_ENOUGH_MEMORY))
        return -1;
    return DialogBoxParamA(module, name, parent, procedure, parameter);
}

HDC WINAPI FakeGetDC(HWND window)
{
    if (Fails(kGetDC, ERROR_NOT_ENOUGH_MEMORY))
        return nullptr;
    return GetDC(window);
}

HDC WINAPI FakeCreateCompatibleDC(HDC dc)
{
    if (Fails(kCreateCompatibleDC, ERROR_NOT_ENOUGH_MEMORY))
        return nullptr;
    return CreateCompatibleDC(dc);
}

HBITMAP WINAPI FakeCreateCompatibleBitmap(HDC dc, int width, int height)
{
    if (Fails(kCreateCompatibleBitmap, ERROR_NOT_ENOUGH_MEMORY))
        return nullptr;
    return CreateCompatibleBitmap(dc, width, height);
}

HPEN WINAPI FakeCreatePen(int style, int width, COLORREF colour)
{
    if (Fails(kCreatePen, ERROR_NOT_ENOUGH_MEMORY))
        return nullptr;
    return CreatePen(style, width, colour);
}

HBRUSH WINAPI FakeCreateSolidBrush(COLORREF colour)
{
    if (Fails(kCreateSolidBrush, ERROR_NOT_ENOUGH_MEMORY))
        return nullptr;
    return CreateSolidBrush(colour);
}

HGDIOBJ WINAPI FakeSelectObject(HDC dc, HGDIOBJ object)
{
    if (Fails(kSelectObject, ERROR_INVALID_HANDLE))
        return nullptr;
    return SelectObject(dc, object);
}

BOOL WINAPI FakePostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The queue is full (10,000 messages).
    if (Fails(kPostMessageA, ERROR_NOT_ENOUGH_QUOTA))
        return FALSE;
    return PostMessageA(window, message, wParam, lParam);
}

LRESULT WINAPI FakeSendMessageTimeoutA(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT flags,
                                       UINT timeout, PDWORD_PTR result)
{
    if (Fails(kSendMessageTimeoutA, ERROR_TIMEOUT))
        return 0;
    return SendMessageTimeoutA(window, message, wParam, lParam, flags, timeout, result);
}

UINT_PTR WINAPI FakeSetTimer(HWND window, UINT_PTR id, UINT ms, TIMERPROC procedure)
{
    if (Fails(kSetTimer, ERROR_NO_SYSTEM_RESOURCES))
        return 0;
    return SetTimer(window, id, ms, procedure);
}

template <class F>
void* Address(F* function)
{
    return reinterpret_cast<void*>(function);
}

}  // namespace

const CallEntry kCalls[kCallCount] = {
    {"msvcrt.dll", "malloc", Address(FakeMalloc)},
    {"msvcrt.dll", "calloc", Address(FakeCalloc)},
    {"msvcrt.dll", "realloc", Address(FakeRealloc)},
    {"msvcrt.dll", "_aligned_malloc", Address(FakeAlignedMalloc)},
    {"kernel32.dll", "CreateFileA", Address(FakeCreateFileA)},
    {"kernel32.dll", "ReadFile", Address(FakeReadFile)},
    {"kernel32.dll", "WriteFile", Address(FakeWriteFile)},
    {"kernel32.dll", "GetFileSize", Address(FakeGetFileSize)},
    {"kernel32.dll", "FlushFileBuffers", Address(FakeFlushFileBuffers)},
    {"kernel32.dll", "MoveFileExA", Address(FakeMoveFileExA)},
    {"kernel32.dll", "DeleteFileA", Address(FakeDeleteFileA)},
    {"kernel32.dll", "SetFileAttributesA", Address(FakeSetFileAttributesA)},
    {"kernel32.dll", "GetFileAttributesA", Address(FakeGetFileAttributesA)},
    {"kernel32.dll", "CreateDirectoryA", Address(FakeCreateDirectoryA)},
    {"advapi32.dll", "RegOpenKeyExA", Address(FakeRegOpenKeyExA)},
    {"advapi32.dll", "RegQueryValueExA", Address(FakeRegQueryValueExA)},
    {"shell32.dll", "SHGetSpecialFolderPathA", Address(FakeSHGetSpecialFolderPathA)},
    {"kernel32.dll", "GetModuleFileNameA", Address(FakeGetModuleFileNameA)},
    {"kernel32.dll", "CreateThread", Address(FakeCreateThread)},
    {"kernel32.dll", "CreateEventA", Address(FakeCreateEventA)},
    {"kernel32.dll", "CreateSemaphoreW", Address(FakeCreateSemaphoreW)},
    {"kernel32.dll", "DuplicateHandle", Address(FakeDuplicateHandle)},
    {"kernel32.dll", "TlsAlloc", Address(FakeTlsAlloc)},
    {"user32.dll", "SetWindowsHookExA", Address(FakeSetWindowsHookExA)},
    {"user32.dll", "CreateDialogParamA", Address(FakeCreateDialogParamA)},
    {"user32.dll", "DialogBoxParamA", Address(FakeDialogBoxParamA)},
    {"user32.dll", "GetDC", Address(FakeGetDC)},
    {"gdi32.dll", "CreateCompatibleDC", Address(FakeCreateCompatibleDC)},
    {"gdi32.dll", "CreateCompatibleBitmap", Address(FakeCreateCompatibleBitmap)},
    {"gdi32.dll", "CreatePen", Address(FakeCreatePen)},
    {"gdi32.dll", "CreateSolidBrush", Address(FakeCreateSolidBrush)},
    {"gdi32.dll", "SelectObject", Address(FakeSelectObject)},
    {"user32.dll", "PostMessageA", Address(FakePostMessageA)},
    {"user32.dll", "SendMessageTimeoutA", Address(FakeSendMessageTimeoutA)},
    {"user32.dll", "SetTimer", Address(FakeSetTimer)},
};

void Arm(const Plan& plan)
{
    gAt = plan.at;
    gOnward = plan.onward;
    gCall = plan.call;
}

void Disarm()
{
    gCall = -1;
}

long CallsOf(int call)
{
    return gCalls[call].load();
}

long FailedCalls()
{
    return gFailed.load();
}

const char* FirstFailureStep()
{
    return gFirstFailureStep.load();
}

bool FailedIn(const char* step)
{
    for (const std::atomic<const char*>& failed : gFailedSteps) {
        if (failed.load() && std::strcmp(failed.load(), step) == 0)
            return true;
    }
    return false;
}

void SetStep(const char* step)
{
    gStep = step;
}

int CallIndex(const char* name)
{
    for (int i = 0; i < kCallCount; ++i) {
        if (std::strcmp(kCalls[i].name, name) == 0)
            return i;
    }
    return -1;
}

void __cdecl AbortInDll()
{
    const auto from = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
    std::fprintf(stderr, "\nFATAL: the DLL's runtime called abort (std::terminate: an exception left the DLL, or the"
                         " runtime ran out of memory) from DLL+0x%lx, step %s\n",
                 static_cast<unsigned long>(from - gDllBase.load()), gStep.load());
    std::fflush(stderr);
    TerminateProcess(GetCurrentProcess(), 3);
}

}  // namespace zvk::fault
