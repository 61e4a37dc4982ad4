// The live settings: what the dialog's writes do to the store and the
// tables, and the frame path and the dialog on two threads at once (also run
// under ThreadSanitizer, preset native-tsan).
#include "plugin/live_settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/native/built_tables.h"

namespace zvk {
namespace {

bool Same(const TableSet* a, const TableSet& b)
{
    return a && std::memcmp(a, &b, sizeof b) == 0;
}

bool SameBlock(const TableSet* a, const TableSet& b, int channel)
{
    return a && std::memcmp(a->lut + 256 * channel, b.lut + 256 * channel, 256 * sizeof(int32_t)) == 0 &&
           std::memcmp(a->yuvDelta + 256 * channel, b.yuvDelta + 256 * channel, 256 * sizeof(YuvDeltaEntry)) == 0;
}

// A store with no file, sections 1 and 2 unlinked, green and blue 150 and 250.
class LiveSettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        store.Load("ZVK_Gamma", nullptr);
        ASSERT_TRUE(tables.Allocate());
        for (const auto& [section, gamma] : {std::pair{1, 150}, std::pair{2, 250}}) {
            live.EnterSection(section);
            live.SetBinding(0);
            live.MoveGamma(kGreen, gamma);
            live.MoveGamma(kBlue, gamma);
        }
    }
    static int32_t GreenOf(int64_t section) { return section == 1 ? 150 : 250; }

    SettingsStore store;
    GammaTables tables;
    LiveSettings live{store, tables};
};

TEST_F(LiveSettingsTest, AMoveWritesOneChannelOrAllThreeWhenLinked)
{
    live.MoveGamma(kRed, 316);
    EXPECT_EQ(live.Current().RGamma, 316);
    EXPECT_TRUE(Same(GammaTables::Reader(tables).get(), Built(316, 250, 250)));

    live.SetBinding(1);
    EXPECT_TRUE(live.MoveGamma(kGreen, 31));
    const SettingsRecord now = live.Current();
    EXPECT_EQ(now.RGamma, 31);
    EXPECT_EQ(now.GGamma, 31);
    EXPECT_EQ(now.BGamma, 31);
    EXPECT_TRUE(Same(GammaTables::Reader(tables).get(), Built(31, 31, 31)));
}

TEST_F(LiveSettingsTest, ASwitchRebuildsAllThreeAndNamesTheDialogOnlyThen)
{
    int window = 0;
    live.SetRefreshWindow(&window);
    const LiveSettings::FrameView switched = live.EnterSection(1);
    EXPECT_TRUE(switched.switched);
    EXPECT_EQ(switched.refreshWindow, &window);
    EXPECT_TRUE(Same(GammaTables::Reader(tables).get(), Built(100, 150, 150)));
    const LiveSettings::FrameView same = live.EnterSection(1);
    EXPECT_FALSE(same.switched);
    EXPECT_EQ(same.refreshWindow, nullptr);
    live.SetEnable(0);
    EXPECT_FALSE(live.EnterSection(1).enable);
}

TEST_F(LiveSettingsTest, DefaultsKeepTheSectionAndTheSnapshot)
{
    live.TakeSnapshot();
    live.MoveGamma(kRed, 500);
    live.ResetToDefaults();
    EXPECT_EQ(live.Current().sectionId, 2);
    EXPECT_EQ(live.Current().GGamma, 100);
    EXPECT_TRUE(Same(GammaTables::Reader(tables).get(), Built(100, 100, 100)));
    live.RestoreSnapshot();
    EXPECT_EQ(live.Current().GGamma, 250);
    EXPECT_TRUE(Same(GammaTables::Reader(tables).get(), Built(100, 250, 250)));
}

// The dialog moves red (and restores) while the frame path switches between
// the two sections. Every frame sees the tables of the section it entered,
// and a dialog write never changes another channel of either section.
TEST_F(LiveSettingsTest, TheDialogAndTheFramePathNeverMixSections)
{
    live.TakeSnapshot();
    std::atomic<bool> stop{false};
    std::atomic<int> wrongSets{0};
    std::thread frames([&] {
        for (int64_t i = 0; !stop.load(); ++i) {
            const int64_t section = 1 + (i & 1);
            live.EnterSection(section);
            const TableSet expected = Built(100, GreenOf(section), GreenOf(section));
            const GammaTables::Reader held(tables);
            // Red may be the dialog's newest; green and blue are the section's.
            if (!SameBlock(held.get(), expected, kGreen) || !SameBlock(held.get(), expected, kBlue))
                wrongSets.fetch_add(1);
        }
    });
    for (int round = 0; round < 200; ++round) {
        for (int32_t gamma = 10; gamma < 1000; gamma += 97)
            live.MoveGamma(kRed, gamma);
        if (round % 20 == 0)
            live.RestoreSnapshot();
    }
    live.RestoreSnapshot();
    stop.store(true);
    frames.join();
    EXPECT_EQ(wrongSets.load(), 0);

    // Cancel brought every section back exactly.
    live.EnterSection(3);
    for (const SettingsRecord& record : store.Records()) {
        if (record.sectionId == 3)
            continue;
        EXPECT_EQ(record.RGamma, 100) << record.sectionId;
        EXPECT_EQ(record.GGamma, GreenOf(record.sectionId)) << record.sectionId;
        EXPECT_EQ(record.BGamma, GreenOf(record.sectionId)) << record.sectionId;
    }
}

}  // namespace
}  // namespace zvk
