#include "tests/native/test_new.h"

#include <cstdlib>
#include <new>

namespace zvk::test {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};
std::atomic<long> failingAllocation{0};

}  // namespace zvk::test

#if ZVK_COUNT_ALLOCATIONS
namespace {

void* Allocate(std::size_t size)
{
    using namespace zvk::test;
    if (counting.load(std::memory_order_relaxed)) {
        const long n = allocations.fetch_add(1, std::memory_order_relaxed) + 1;
        if (n == failingAllocation.load(std::memory_order_relaxed))
            throw std::bad_alloc();
    }
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t size)
{
    return Allocate(size);
}
void* operator new[](std::size_t size)
{
    return Allocate(size);
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}
#endif
