#include <mutex>

#include "framework/lock.h"

namespace zvk::fw {

Lock::Lock() : impl_(new std::mutex) {}

Lock::~Lock()
{
    delete static_cast<std::mutex*>(impl_);
}

void Lock::Acquire()
{
    static_cast<std::mutex*>(impl_)->lock();
}

bool Lock::TryAcquire()
{
    return static_cast<std::mutex*>(impl_)->try_lock();
}

void Lock::Release()
{
    static_cast<std::mutex*>(impl_)->unlock();
}

}  // namespace zvk::fw
