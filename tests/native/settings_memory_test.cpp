// The store when memory runs out: every allocation of a Load and of a switch
// to a new section failing in turn, through the test program's operator new.
#include <gtest/gtest.h>

#include <string>

#include "settings/settings_store.h"
#include "tests/native/settings_fakes.h"
#include "tests/native/test_new.h"

namespace zvk {
namespace {

using fake::kIniPath;

constexpr char kText[] =
    "[DIALOG]\r\nDlgWndPosX=5\r\nDlgWndPosY=6\r\n[DEFAULT]\r\nRGamma=150\r\n[10]\r\nRGamma=200\r\nBinding=0\r\n"
    "[20]\r\nGGamma=50\r\nEnable=0\r\n";

// Either everything the file says, or (memory ran out part-way) the built-in
// defaults with the file left alone; a new section either made current or,
// without memory for it, nothing changed.
TEST(SettingsStoreMemory, EveryAllocationOfALoadAndASwitchFailingInTurn)
{
#if !ZVK_COUNT_ALLOCATIONS
    GTEST_SKIP() << "the sanitizer's operator new cannot fail on demand";
#else
    fake::System reference;
    reference.files[kIniPath] = kText;
    SettingsStore whole;
    whole.UsePlatform(&reference, &reference);
    whole.Load("ZVK_Gamma", nullptr);
    ASSERT_EQ(whole.Records().size(), 2u);

    int partialLoads = 0, refusedSwitches = 0;
    for (long n = 1;; ++n) {
        fake::System system;
        system.files[kIniPath] = kText;
        SettingsStore store;
        store.UsePlatform(&system, &system);
        test::allocations = 0;
        test::failingAllocation = n;
        test::counting = true;
        store.Load("ZVK_Gamma", nullptr);
        const size_t loaded = store.Records().size();
        const int32_t selected = store.SelectSection(30);
        test::counting = false;
        test::failingAllocation = 0;
        const std::string label = "allocation " + std::to_string(n) + " failing";

        const bool partial = loaded == 0;
        if (partial) {
            ++partialLoads;
            EXPECT_TRUE(store.defaults == kBuiltInDefaults) << label;
        } else {
            ASSERT_EQ(loaded, 2u) << label;
            for (size_t i = 0; i < loaded; ++i)
                EXPECT_TRUE(store.Records()[i] == whole.Records()[i]) << label;
        }
        if (selected < 0) {
            ++refusedSwitches;
            EXPECT_EQ(store.Records().size(), loaded) << label;
            EXPECT_EQ(store.CurrentIndex(), -1) << label;
        } else {
            ASSERT_EQ(selected, 1) << label;
            ASSERT_EQ(store.Records().size(), loaded + 1) << label;
            EXPECT_EQ(store.current.sectionId, 30) << label;
        }
        store.Save();
        if (partial) {
            EXPECT_EQ(system.files[kIniPath], kText) << label << ": a partial load must leave the file alone";
        }
        if (test::allocations < n)
            break;  // nothing failed: every allocation has had its turn
    }
    EXPECT_GT(partialLoads, 0);
    EXPECT_GT(refusedSwitches, 0);
#endif
}

}  // namespace
}  // namespace zvk
