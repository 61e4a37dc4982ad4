// The test program's own operator new: it counts the allocations made while
// counting is on, and fails the n-th of them on demand, as a process out of
// memory would. Left out under the sanitizers, which bring their own.
#pragma once

#include <atomic>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZVK_COUNT_ALLOCATIONS 0
#else
#define ZVK_COUNT_ALLOCATIONS 1
#endif

namespace zvk::test {

extern std::atomic<bool> counting;
// Allocations since counting was last set to 0 by the test.
extern std::atomic<long> allocations;
// While counting: the allocation with this number fails (0: none does).
extern std::atomic<long> failingAllocation;

}  // namespace zvk::test
