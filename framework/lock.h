// The one kind of lock the plug-in takes: never held across a frame, and
// the frame path only ever tries it. Not recursive.
// Portable interface. On Windows a lock of our own (no threads runtime is
// pulled in) that an Acquire takes over from a holder the host killed; a
// POSIX mutex natively, where nothing kills a thread.
#pragma once

namespace zvk::fw {

class Lock {
public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void Acquire();
    // Takes the lock only if no one holds it; never waits.
    bool TryAcquire();
    void Release();

private:
    // The system's lock lives in the object: made in a static constructor,
    // it must not need memory (a failed allocation there would end the host).
    alignas(8) unsigned char impl_[64];
};

class LockGuard {
public:
    explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Acquire(); }
    ~LockGuard() { lock_.Release(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Lock& lock_;
};

// Takes the lock only if it is free; lets go on every way out, a throw
// included.
class TryLockGuard {
public:
    explicit TryLockGuard(Lock& lock) : lock_(lock), held_(lock.TryAcquire()) {}
    ~TryLockGuard()
    {
        if (held_)
            lock_.Release();
    }
    TryLockGuard(const TryLockGuard&) = delete;
    TryLockGuard& operator=(const TryLockGuard&) = delete;
    bool Held() const { return held_; }

private:
    Lock& lock_;
    bool held_;
};

}  // namespace zvk::fw
