#include <mutex>
#include <new>

#include "framework/lock.h"

namespace zvk::fw {

static_assert(sizeof(std::mutex) <= 64 && alignof(std::mutex) <= 8, "the lock fits its storage");

Lock::Lock()
{
    new (impl_) std::mutex;
}

Lock::~Lock()
{
    std::launder(reinterpret_cast<std::mutex*>(impl_))->~mutex();
}

void Lock::Acquire()
{
    std::launder(reinterpret_cast<std::mutex*>(impl_))->lock();
}

bool Lock::TryAcquire()
{
    return std::launder(reinterpret_cast<std::mutex*>(impl_))->try_lock();
}

void Lock::Release()
{
    std::launder(reinterpret_cast<std::mutex*>(impl_))->unlock();
}

}  // namespace zvk::fw
