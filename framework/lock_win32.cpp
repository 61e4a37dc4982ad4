#include <windows.h>

#include "framework/lock.h"

namespace zvk::fw {

Lock::Lock() : impl_(new CRITICAL_SECTION)
{
    InitializeCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
}

Lock::~Lock()
{
    DeleteCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
    delete static_cast<CRITICAL_SECTION*>(impl_);
}

void Lock::Acquire()
{
    EnterCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
}

bool Lock::TryAcquire()
{
    return TryEnterCriticalSection(static_cast<CRITICAL_SECTION*>(impl_)) != FALSE;
}

void Lock::Release()
{
    LeaveCriticalSection(static_cast<CRITICAL_SECTION*>(impl_));
}

}  // namespace zvk::fw
