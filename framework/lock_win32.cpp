#include <windows.h>

#include "framework/lock.h"

namespace zvk::fw {

static_assert(sizeof(CRITICAL_SECTION) <= 64 && alignof(CRITICAL_SECTION) <= 8, "the lock fits its storage");

Lock::Lock()
{
    InitializeCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(impl_));
}

Lock::~Lock()
{
    DeleteCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(impl_));
}

void Lock::Acquire()
{
    EnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(impl_));
}

bool Lock::TryAcquire()
{
    return TryEnterCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(impl_)) != FALSE;
}

void Lock::Release()
{
    LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(impl_));
}

}  // namespace zvk::fw
