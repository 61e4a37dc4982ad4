// A frame that brings a new section allocates nothing: the heap's lock may
// be held by a descheduled thread, and a frame must not wait for one. Counts
// every operator new of the process while frames enter new sections. Left
// out under the sanitizers, which bring operator new of their own.
#include "live/live_settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <new>

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZVK_COUNT_ALLOCATIONS 0
#else
#define ZVK_COUNT_ALLOCATIONS 1
#endif

#if ZVK_COUNT_ALLOCATIONS
namespace {

std::atomic<bool> counting{false};
std::atomic<long> allocations{0};

void* Allocate(std::size_t size)
{
    if (counting.load(std::memory_order_relaxed))
        allocations.fetch_add(1, std::memory_order_relaxed);
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

namespace zvk {
namespace {

TEST(LiveSettingsRoom, FramesOfNewSectionsAllocateNothing)
{
#if !ZVK_COUNT_ALLOCATIONS
    GTEST_SKIP() << "the sanitizer's operator new cannot be counted";
#else
    SettingsStore store;
    GammaTables tables;
    ASSERT_TRUE(tables.Allocate());
    LiveSettings live{store, tables};
    live.Load("ZVK_Gamma", nullptr);
    int64_t next = 1;
    // What the host and the window do between runs of new sections, each
    // off the frame path.
    const struct {
        const char* after;
        std::function<void()> call;
    } steps[] = {
        {"Load", [] {}},
        {"SetFormat's MakeRoom", [&] { live.MakeRoom(); }},
        {"the window's opening", [&] { live.TakeSnapshot(); }},
        {"the window's refresh", [&] { live.Current(); }},
        {"Cancel", [&] { live.RestoreSnapshot(); }},
    };
    for (const auto& step : steps) {
        step.call();
        allocations = 0;
        counting = true;
        for (int i = 0; i < 200; ++i)
            live.EnterSection(next++);
        counting = false;
        EXPECT_EQ(allocations.load(), 0) << "200 new sections after " << step.after;
    }
    EXPECT_EQ(store.Records().size(), 1000u);
    // The count itself works: room runs out at last.
    allocations = 0;
    counting = true;
    for (int i = 0; i < 1000; ++i)
        live.EnterSection(next++);
    counting = false;
    EXPECT_GT(allocations.load(), 0);
#endif
}

}  // namespace
}  // namespace zvk
