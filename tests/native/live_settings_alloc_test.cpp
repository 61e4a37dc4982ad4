// A frame that brings a new section allocates nothing: the heap's lock may
// be held by a descheduled thread, and a frame must not wait for one. Counts
// every operator new of the process (tests/native/test_new.h) while frames
// enter new sections.
#include "live/live_settings.h"

#include <gtest/gtest.h>

#include <functional>
#include <new>

#include "tests/native/test_new.h"

namespace zvk {
namespace {

using test::allocations;
using test::counting;

// A session after Load, with the table pool made.
class LiveSettingsRoom : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(tables.EnsureAllocated());
        live.Load("ZVK_Gamma", nullptr);
    }

    SettingsStore store;
    GammaTables tables;
    LiveSettings live{store, tables};
};

TEST_F(LiveSettingsRoom, FramesOfNewSectionsAllocateNothing)
{
#if !ZVK_COUNT_ALLOCATIONS
    GTEST_SKIP() << "the sanitizer's operator new cannot be counted";
#else
    int64_t next = 1;
    // What the host and the window do between runs of new sections, each
    // off the frame path.
    const struct {
        const char* after;
        std::function<void()> call;
    } steps[] = {
        {"Load", [] {}},
        {"SetFormat's ReserveSections", [&] { live.ReserveSections(); }},
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

// Memory that runs out inside a call of the host's or the window's never
// leaves the store's lock held: with every allocation of each call failing
// in turn, a frame of a new section right after it still gets the lock
// (a lock left held would keep every later frame in the section before,
// and hang the window's next call: the first one found ends the test).
TEST_F(LiveSettingsRoom, NoCallLeavesTheLockHeldWhenMemoryRunsOut)
{
#if !ZVK_COUNT_ALLOCATIONS
    GTEST_SKIP() << "the sanitizer's operator new cannot be counted";
#else
    int64_t next = 1;
    const struct {
        const char* name;
        std::function<void()> call;
    } calls[] = {
        {"Load", [&] { live.Load("ZVK_Gamma", nullptr); }},
        {"ReserveSections", [&] { live.ReserveSections(); }},
        {"Save", [&] { live.Save(); }},
        {"SaveIfFree", [&] { live.SaveIfFree(); }},
        {"TakeSnapshot", [&] { live.TakeSnapshot(); }},
        {"Current", [&] { live.Current(); }},
        {"RestoreSnapshot", [&] { live.RestoreSnapshot(); }},
    };
    for (const auto& c : calls) {
        for (long failing = 1;; ++failing) {
            // Room used up, so that the calls that make room allocate.
            for (int i = 0; i < 200; ++i)
                live.EnterSection(next++);
            allocations = 0;
            test::failingAllocation = failing;
            counting = true;
            try {
                c.call();
            } catch (const std::bad_alloc&) {
            }
            counting = false;
            test::failingAllocation = 0;
            const int64_t fresh = next++;
            ASSERT_EQ(live.EnterSection(fresh).section, fresh)
                << c.name << " with allocation " << failing << " failing left the store's lock held";
            if (allocations.load() < failing)
                break;  // the call made fewer allocations: every one has failed once
        }
    }
#endif
}

}  // namespace
}  // namespace zvk
