// The live settings: what the dialog's writes do to the store and the
// tables, and the frame path and the dialog on two threads at once (also run
// under ThreadSanitizer, preset native-tsan).
#include "live/live_settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/native/built_tables.h"
#include "tests/native/settings_fakes.h"

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
        ASSERT_TRUE(tables.EnsureAllocated());
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

// Two writers move red (one also cancels) while the frame path switches
// between the two sections, never waiting: a frame that found the store held
// stays in the section before. Every frame sees the green and blue tables of
// the section it is corrected for, and a write never changes another
// channel of either section.
TEST_F(LiveSettingsTest, TheDialogAndTheFramePathNeverMixSections)
{
    live.TakeSnapshot();
    std::atomic<bool> stop{false};
    std::atomic<int> wrongSets{0};
    std::atomic<int> frames{0};
    std::atomic<int> deferred{0};
    std::thread frameThread([&] {
        for (int64_t i = 0; !stop.load(); ++i) {
            const int64_t wanted = 1 + (i & 1);
            const LiveSettings::FrameView view = live.EnterSection(wanted);
            if (view.section != wanted)
                deferred.fetch_add(1);
            const TableSet expected = Built(100, GreenOf(view.section), GreenOf(view.section));
            const GammaTables::Reader held(tables);
            // Red may be a writer's newest; green and blue are the section's.
            if (!SameBlock(held.get(), expected, kGreen) || !SameBlock(held.get(), expected, kBlue))
                wrongSets.fetch_add(1);
            frames.fetch_add(1);
        }
    });
    std::thread secondWriter([&] {
        for (int32_t gamma = 10; !stop.load(); gamma = gamma % 990 + 13) {
            live.MoveGamma(kRed, gamma);
            live.SetDialogPos(gamma, -gamma);
        }
    });
    for (int round = 0; round < 200; ++round) {
        for (int32_t gamma = 10; gamma < 1000; gamma += 97)
            live.MoveGamma(kRed, gamma);
        if (round % 20 == 0)
            live.RestoreSnapshot();
    }
    while (frames.load() < 1000)
        std::this_thread::yield();
    stop.store(true);
    secondWriter.join();
    frameThread.join();
    live.RestoreSnapshot();
    EXPECT_EQ(wrongSets.load(), 0);
    std::printf("frames %d, of which %d stayed in the section before\n", frames.load(), deferred.load());

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

// Once the writers stop, the next frames settle on the current section's
// last values: a switch deferred while the store was held is made later.
TEST_F(LiveSettingsTest, ASwitchDeferredByAWriterIsMadeByALaterFrame)
{
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int32_t gamma = 10; !stop.load(); gamma = gamma % 990 + 7)
            live.MoveGamma(kRed, gamma);
    });
    for (int64_t i = 0; i < 20000; ++i)
        live.EnterSection(1 + (i & 1));
    stop.store(true);
    writer.join();
    live.MoveGamma(kRed, 321);
    LiveSettings::FrameView view = live.EnterSection(1);
    view = live.EnterSection(1);
    EXPECT_EQ(view.section, 1);
    EXPECT_EQ(live.Current().sectionId, 1);
    EXPECT_EQ(live.Current().GGamma, 150);
    const GammaTables::Reader held(tables);
    EXPECT_TRUE(SameBlock(held.get(), Built(100, 150, 150), kGreen));
}

// Before the first frame no section is current: what the window changes is
// what the first section starts with, field by field; Cancel before it
// brings back the values of the opening.
class BeforeTheFirstFrame : public ::testing::Test {
protected:
    void SetUp() override
    {
        live.Load("ZVK_Gamma", nullptr);
        ASSERT_TRUE(tables.EnsureAllocated());
        // New sections start unlinked with green 150.
        store.defaults.Binding = 0;
        store.defaults.GGamma = 150;
    }

    SettingsStore store;
    GammaTables tables;
    LiveSettings live{store, tables};
};

TEST_F(BeforeTheFirstFrame, TheFirstSectionTakesWhatTheWindowChanged)
{
    live.TakeSnapshot();
    // The window opened: the curve shows the values it shows, not Init's zeros.
    EXPECT_TRUE(Same(GammaTables::Reader(tables).get(), Built(100, 100, 100)));
    live.SetBinding(0);
    live.MoveGamma(kRed, 316);
    live.SetEnable(0);
    const LiveSettings::FrameView first = live.EnterSection(10);
    EXPECT_TRUE(first.switched);
    EXPECT_FALSE(first.enable);
    const SettingsRecord now = live.Current();
    EXPECT_EQ(now.sectionId, 10);
    EXPECT_EQ(now.RGamma, 316);
    EXPECT_EQ(now.GGamma, 150) << "a field the window left alone comes from the section";
    EXPECT_EQ(now.Binding, 0);
    EXPECT_EQ(now.Enable, 0);
    EXPECT_TRUE(Same(GammaTables::Reader(tables).get(), Built(316, 150, 100)));

    // Only the first section: the next one starts from its own record.
    live.EnterSection(20);
    EXPECT_EQ(live.Current().RGamma, 100);
    EXPECT_EQ(live.Current().Enable, 1);
}

TEST_F(BeforeTheFirstFrame, CancelBringsBackTheOpeningValues)
{
    live.SetBinding(0);
    live.MoveGamma(kBlue, 200);
    live.TakeSnapshot();
    live.MoveGamma(kRed, 500);
    live.RestoreSnapshot();
    EXPECT_EQ(live.Current().RGamma, 100);
    EXPECT_EQ(live.Current().BGamma, 200);
    live.EnterSection(10);
    EXPECT_EQ(live.Current().RGamma, 100);
    EXPECT_EQ(live.Current().BGamma, 200) << "changed before the window opened, still the first section's";
}

TEST_F(BeforeTheFirstFrame, ALoadForgetsWhatTheWindowChanged)
{
    live.MoveGamma(kRed, 500);
    live.Load("ZVK_Gamma", nullptr);
    live.EnterSection(10);
    EXPECT_EQ(live.Current().RGamma, 100);
}

// A thread that holds the store never holds up a frame: here a save whose
// write takes its time (a slow disk). A frame of a new section only tries
// the lock: it keeps the section before and returns at once, and a later
// frame makes the switch. The write waits until the frame has returned,
// 5 s at most: a frame that waits for the lock ends only after that.
class SlowToWrite : public fake::System {
public:
    std::unique_ptr<File> CreateForWriting(const std::string& path) override
    {
        writing = true;
        for (int ms = 0; ms < 5000 && !frameReturned; ++ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        frameReturnedWhileWriting = frameReturned.load();
        return System::CreateForWriting(path);
    }
    std::atomic<bool> writing{false};
    std::atomic<bool> frameReturned{false};
    std::atomic<bool> frameReturnedWhileWriting{false};
};

TEST(LiveSettingsLock, AFrameNeverWaitsForAThreadHoldingTheStore)
{
    SlowToWrite system;
    SettingsStore store;
    store.UsePlatform(&system, &system);
    GammaTables tables;
    ASSERT_TRUE(tables.EnsureAllocated());
    LiveSettings live{store, tables};
    live.Load("ZVK_Gamma", nullptr);
    live.EnterSection(1);
    std::thread saver([&] { live.Save(); });
    while (!system.writing)
        std::this_thread::yield();
    const LiveSettings::FrameView view = live.EnterSection(2);
    system.frameReturned = true;
    saver.join();
    EXPECT_TRUE(system.frameReturnedWhileWriting) << "the frame waited for the thread that held the store";
    EXPECT_EQ(view.section, 1) << "the frame keeps the section before";
    EXPECT_EQ(live.EnterSection(2).section, 2) << "a later frame makes the switch";
}

}  // namespace
}  // namespace zvk
