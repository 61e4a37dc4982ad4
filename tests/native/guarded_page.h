// Memory that ends in a page nothing may touch, so that a kernel reading or
// writing past the end of its frame faults instead of passing unnoticed
// (sanitizers do not see loads in inline assembly).
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace zvk {

class GuardedPage {
public:
    // size readable and writable bytes, then the guard page.
    explicit GuardedPage(size_t size)
    {
#ifdef _WIN32
        SYSTEM_INFO info;
        GetSystemInfo(&info);
        page_ = info.dwPageSize;
#else
        page_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
        usable_ = (size + page_ - 1) / page_ * page_;
#ifdef _WIN32
        base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, usable_ + page_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
        DWORD old = 0;
        if (base_)
            VirtualProtect(base_ + usable_, page_, PAGE_NOACCESS, &old);
#else
        void* p = mmap(nullptr, usable_ + page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        base_ = p == MAP_FAILED ? nullptr : static_cast<uint8_t*>(p);
        if (base_)
            mprotect(base_ + usable_, page_, PROT_NONE);
#endif
    }
    ~GuardedPage()
    {
#ifdef _WIN32
        if (base_)
            VirtualFree(base_, 0, MEM_RELEASE);
#else
        if (base_)
            munmap(base_, usable_ + page_);
#endif
    }
    GuardedPage(const GuardedPage&) = delete;
    GuardedPage& operator=(const GuardedPage&) = delete;

    bool valid() const { return base_ != nullptr; }
    // The first of size bytes that end right before the guard page.
    uint8_t* EndingAt(size_t size) const { return base_ + usable_ - size; }

private:
    size_t page_ = 0, usable_ = 0;
    uint8_t* base_ = nullptr;
};

}  // namespace zvk
