// The calls of the DLL that the fault host can make fail, and the wrappers
// that stand in for them in the DLL's import table. A wrapper counts every
// call; the plan says which call of which function fails (the n-th only, or
// every one from the n-th on), and a failing wrapper answers as the system
// does when it runs out: a null handle, FALSE, INVALID_HANDLE_VALUE, no bytes
// written, with the error a caller would find in GetLastError.
#pragma once

#include <windows.h>

#include <atomic>

namespace zvk::fault {

// One entry per function; the order is the report's.
enum Call {
    kMalloc, kCalloc, kRealloc, kAlignedMalloc,
    kCreateFileA, kReadFile, kWriteFile, kGetFileSize, kFlushFileBuffers, kMoveFileExA, kDeleteFileA,
    kSetFileAttributesA, kGetFileAttributesA, kCreateDirectoryA,
    kRegOpenKeyExA, kRegQueryValueExA, kSHGetSpecialFolderPathA, kGetModuleFileNameA,
    kCreateThread, kCreateEventA, kCreateSemaphoreW, kDuplicateHandle, kTlsAlloc, kSetWindowsHookExA,
    kCreateDialogParamA, kDialogBoxParamA, kGetDC, kCreateCompatibleDC, kCreateCompatibleBitmap, kCreatePen,
    kCreateSolidBrush, kSelectObject, kPostMessageA, kSendMessageTimeoutA, kSetTimer,
    kCallCount
};

struct CallEntry {
    const char* module;  // as the import table names it, any letter case
    const char* name;
    void* wrapper;
};
extern const CallEntry kCalls[kCallCount];

// Which call fails. Disarmed, the wrappers only count.
struct Plan {
    int call = -1;
    long at = 0;
    bool onward = false;
};
void Arm(const Plan& plan);
void Disarm();

// Calls of each function since the process started, and how many were
// made to fail.
long CallsOf(int call);
long FailedCalls();
// The step of the session the first failed call came in ("" before any),
// and whether any failed call came in the given step.
const char* FirstFailureStep();
bool FailedIn(const char* step);
// The step the session is in, for the report.
void SetStep(const char* step);

// Called by the DLL's runtime when it ends the process (std::terminate: an
// exception left our code, or the runtime's own memory ran out).
void __cdecl AbortInDll();

int CallIndex(const char* name);

}  // namespace zvk::fault
