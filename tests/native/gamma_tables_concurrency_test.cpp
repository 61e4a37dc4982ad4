// The published tables under concurrent rebuilds: a frame always sees one
// whole set, readers never block writers, and no rebuild request is lost.
// Meant to run under ThreadSanitizer as well (preset native-tsan).
#include "gamma/gamma_tables.h"
#include "gamma/kernel_timing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "tests/native/built_tables.h"

namespace zvk {
namespace {

bool Same(const TableSet* a, const TableSet& b)
{
    return a && std::memcmp(a, &b, sizeof b) == 0;
}

TEST(GammaTablesConcurrency, AReaderKeepsItsSetWhileNewOnesArePublished)
{
    GammaTables tables;
    ASSERT_TRUE(tables.EnsureAllocated());
    tables.BuildChannels(200, 200, 200);
    const GammaTables::Reader held(tables);
    const TableSet before = *held.get();
    tables.BuildChannel(kGreen, 50);
    tables.BuildChannel(kRed, 1000);
    EXPECT_TRUE(Same(held.get(), before));
    EXPECT_TRUE(Same(GammaTables::Reader(tables).get(), Built(1000, 50, 200)));
}

// With every slot published or held, a rebuild cannot start; it must not be
// dropped but done by the reader that lets go first.
TEST(GammaTablesConcurrency, ARequestWaitingForAFreeSlotIsBuiltOnRelease)
{
    GammaTables tables;
    ASSERT_TRUE(tables.EnsureAllocated());
    std::vector<std::unique_ptr<GammaTables::Reader>> readers;
    for (int i = 0; i < GammaTables::kSlots; ++i) {
        tables.BuildChannels(100 + i, 100, 100);
        readers.push_back(std::make_unique<GammaTables::Reader>(tables));
    }
    for (int i = 0; i < GammaTables::kSlots; ++i)
        EXPECT_TRUE(Same(readers[static_cast<size_t>(i)]->get(), Built(100 + i, 100, 100))) << "reader " << i;

    tables.BuildChannel(kBlue, 700);
    EXPECT_TRUE(Same(GammaTables::Reader(tables).get(), Built(100 + GammaTables::kSlots - 1, 100, 100)))
        << "built into a slot that a reader holds";
    readers.erase(readers.begin() + 1);
    EXPECT_TRUE(Same(GammaTables::Reader(tables).get(), Built(100 + GammaTables::kSlots - 1, 100, 700)));
    for (size_t i = 0; i < readers.size(); ++i)
        EXPECT_TRUE(Same(readers[i]->get(), Built(100 + (i == 0 ? 0 : static_cast<int>(i) + 1), 100, 100)))
            << "reader " << i << " saw its set change";
}

// Every frame counts itself in the published word; after 2^24 frames
// without a rebuild that count wraps. Slots must still be freed exactly when
// their last reader lets go: a leaked slot would stop rebuilds after a few.
TEST(GammaTablesPool, ReaderCountWrapFreesSlotsExactly)
{
    GammaTables tables;
    ASSERT_TRUE(tables.EnsureAllocated());
    tables.BuildChannels(200, 100, 100);
    for (uint32_t frame = 0; frame < (1u << 24) + 5; ++frame)
        GammaTables::Reader reader(tables);
    {
        const GammaTables::Reader held(tables);
        tables.BuildChannel(kGreen, 300);
        EXPECT_TRUE(Same(held.get(), Built(200, 100, 100))) << "a held set was rebuilt";
    }
    // Two readers hold two sets and a third is published: only with the
    // first set's slot freed is there room for one more.
    tables.BuildChannel(kGreen, 301);
    const GammaTables::Reader first(tables);
    tables.BuildChannel(kGreen, 302);
    const GammaTables::Reader second(tables);
    tables.BuildChannel(kGreen, 303);
    tables.BuildChannel(kGreen, 304);
    EXPECT_TRUE(Same(GammaTables::Reader(tables).get(), Built(200, 304, 100)));
    EXPECT_TRUE(Same(first.get(), Built(200, 301, 100)));
    EXPECT_TRUE(Same(second.get(), Built(200, 302, 100)));
}

// One thread rebuilds between two gamma triples as fast as it can, another
// corrects frames: each frame must equal the frame corrected with one of the
// two whole sets.
TEST(GammaTablesConcurrency, EveryFrameIsCorrectedWithOneWholeSet)
{
    GammaTables tables;
    ASSERT_TRUE(tables.EnsureAllocated());
    const int32_t a[3] = {200, 50, 316}, b[3] = {31, 1000, 100};
    tables.BuildChannels(a[0], a[1], a[2]);

    // Every value in every channel, so that a torn table shows in the frame.
    std::vector<uint8_t> rgb(3 * 256 * 4), yuv(4 * 256 * 8);
    std::mt19937 random(21);
    for (size_t i = 0; i < rgb.size(); ++i)
        rgb[i] = static_cast<uint8_t>(i / 3);
    for (uint8_t& byte : yuv)
        byte = static_cast<uint8_t>(random());
    const TableSet setA = Built(a[0], a[1], a[2]), setB = Built(b[0], b[1], b[2]);
    std::vector<uint8_t> rgbA = rgb, rgbB = rgb, yuvA = yuv, yuvB = yuv;
    CorrectRgb24(rgbA.data(), 256 * 4, setA.lut);
    CorrectRgb24(rgbB.data(), 256 * 4, setB.lut);
    CorrectYuvAveraged(yuvA.data(), 256 * 8 * 2, setA.yuvDelta);
    CorrectYuvAveraged(yuvB.data(), 256 * 8 * 2, setB.yuvDelta);
    ASSERT_NE(rgbA, rgbB);
    ASSERT_NE(yuvA, yuvB);

    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            const int32_t* g = i % 2 ? a : b;
            tables.BuildChannels(g[0], g[1], g[2]);
        }
        done.store(true);
    });
    const Kernels& kernels = BestKernels();
    int frames = 0, torn = 0, sawA = 0, sawB = 0;
    while (!done.load() || frames < 50) {
        std::vector<uint8_t> f1 = rgb, f2 = yuv;
        {
            const GammaTables::Reader reader(tables);
            kernels.rgb24(f1.data(), 256 * 4, reader->lut);
            kernels.yuvAveraged(f2.data(), 256 * 8 * 2, reader->yuvDelta);
        }
        const bool isA = f1 == rgbA && f2 == yuvA, isB = f1 == rgbB && f2 == yuvB;
        torn += !isA && !isB;
        sawA += isA;
        sawB += isB;
        ++frames;
    }
    writer.join();
    EXPECT_EQ(torn, 0) << "of " << frames << " frames";
    EXPECT_GT(sawA + sawB, 0);
    std::printf("%d frames: %d with the first set, %d with the second\n", frames, sawA, sawB);
}

// Init again and again (each allocates the pool, as the first Init does)
// while a reader holds sets and a builder rebuilds between two triples, as
// the frame path and the window's thread do: the pool must never move or be
// cleared under them, and every slot must still come free afterwards (a
// reader count lost at an Init would keep its slot held for good).
TEST(GammaTablesConcurrency, AllocatingAgainLeavesReadersAndBuildersAlone)
{
    GammaTables tables;
    ASSERT_TRUE(tables.EnsureAllocated());
    const int32_t a[3] = {200, 50, 316}, b[3] = {31, 1000, 100};
    const TableSet setA = Built(a[0], a[1], a[2]), setB = Built(b[0], b[1], b[2]);
    tables.BuildChannels(a[0], a[1], a[2]);
    std::atomic<bool> stop{false};
    std::atomic<int> reads{0}, builds{0}, wrong{0};
    std::thread reader([&] {
        while (!stop.load()) {
            const GammaTables::Reader held(tables);
            const bool isA = Same(held.get(), setA);
            const bool whole = isA || Same(held.get(), setB);
            std::this_thread::yield();  // holds the set a while
            wrong += whole && Same(held.get(), isA ? setA : setB) ? 0 : 1;
            ++reads;
        }
    });
    std::thread builder([&] {
        for (int i = 0; !stop.load(); ++i) {
            const int32_t* g = i % 2 ? a : b;
            tables.BuildChannels(g[0], g[1], g[2]);
            ++builds;
        }
    });
    int allocations = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while ((allocations < 2000 || reads.load() < 2000 || builds.load() < 2000) &&
           std::chrono::steady_clock::now() < deadline) {
        EXPECT_TRUE(tables.EnsureAllocated());
        ++allocations;
        std::this_thread::yield();
    }
    stop.store(true);
    reader.join();
    builder.join();
    EXPECT_EQ(wrong.load(), 0) << "of " << reads.load() << " reads beside " << allocations << " allocations";
    EXPECT_GE(reads.load(), 2000);
    EXPECT_GE(builds.load(), 2000);
    for (int i = 0; i < 2 * GammaTables::kSlots; ++i) {
        tables.BuildChannels(300 + i, 100, 100);
        EXPECT_TRUE(Same(GammaTables::Reader(tables).get(), Built(300 + i, 100, 100))) << "build " << i;
    }
}

// Two writers on different channels (dialog and frame path) and a reader that
// holds sets: when they stop, the tables hold each writer's last request.
TEST(GammaTablesConcurrency, ConcurrentWritersLoseNoRequest)
{
    GammaTables tables;
    ASSERT_TRUE(tables.EnsureAllocated());
    std::atomic<bool> stop{false};
    std::thread reader([&] {
        while (!stop.load()) {
            const GammaTables::Reader held(tables);
            std::this_thread::yield();
        }
    });
    auto writer = [&](int channel, int32_t last) {
        return std::thread([&tables, channel, last] {
            for (int i = 0; i < 150; ++i)
                tables.BuildChannel(channel, 50 + i);
            tables.BuildChannel(channel, last);
        });
    };
    std::thread red = writer(kRed, 777), blue = writer(kBlue, 20);
    red.join();
    blue.join();
    stop.store(true);
    reader.join();
    TableSet expected{};  // green was never built: still zero
    BuildChannel(expected, kRed, 777);
    BuildChannel(expected, kBlue, 20);
    EXPECT_TRUE(Same(GammaTables::Reader(tables).get(), expected));
}

// Races two writers for the last free slot, trial after trial: three readers
// hold the published set and two older ones, then the first writer builds
// into the free slot while the second, on its own thread and let go at the
// same moment, comes in at a different point of that build each trial (the
// first writer's last run sets the scale: TSan slows it tenfold). Only
// trials in which the second came in while the first was still at work show
// anything, so the race goes on until there are enough of those or its time
// is up (a busy machine may run the two threads on one core for a while).
using Writer = std::function<void(GammaTables&)>;
using SetCheck = std::function<bool(const TableSet*)>;
using Clock = std::chrono::steady_clock;
struct RaceOutcome {
    int trials = 0, overlapped = 0, wrong = 0;
};
RaceOutcome RaceForTheLastFreeSlot(const Writer& first, const Writer& second, const SetCheck& whileHeld,
                                   const SetCheck& afterwards)
{
    constexpr int kEnoughOverlaps = 200;
    const auto deadline = Clock::now() + std::chrono::milliseconds(1500);
    RaceOutcome outcome;
    GammaTables tables;
    if (!tables.EnsureAllocated())
        return outcome;
    std::atomic<int> go{0}, done{0};
    std::atomic<bool> firstAtWork{false};
    std::atomic<int> overlapped{0};
    std::atomic<int64_t> firstTook{0};  // nanoseconds
    std::thread other([&] {
        for (int trial = 1;; ++trial) {
            // Spins a while before yielding, so as to be off the mark at once.
            int now;
            for (int spins = 0; (now = go.load()) != trial && now >= 0; ++spins) {
                if (spins > 20000)
                    std::this_thread::yield();
            }
            if (now < 0)
                break;
            const auto until = Clock::now() + std::chrono::nanoseconds(firstTook.load() * (trial * 37 % 100) / 100);
            while (Clock::now() < until) {
            }
            overlapped.fetch_add(firstAtWork.load());
            second(tables);
            done.store(trial);
        }
    });
    for (int& trial = outcome.trials; overlapped.load() < kEnoughOverlaps && Clock::now() < deadline;) {
        bool right;
        {
            std::optional<GammaTables::Reader> held[3];
            for (int i = 0; i < 3; ++i) {
                tables.BuildChannels(100, 100, 102 - i);
                held[i].emplace(tables);
            }
            firstAtWork.store(true);
            const auto start = Clock::now();
            go.store(++trial);
            first(tables);
            firstAtWork.store(false);
            firstTook.store(std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count());
            while (done.load() != trial)
                std::this_thread::yield();
            right = whileHeld(GammaTables::Reader(tables).get());
        }
        right = afterwards(GammaTables::Reader(tables).get()) && right;
        outcome.wrong += !right;
    }
    go.store(-1);
    other.join();
    outcome.overlapped = overlapped.load();
    return outcome;
}

TEST(GammaTablesConcurrency, ARequestLeftToABuildThatFillsThePoolIsNotLost)
{
    const TableSet both = Built(200, 555, 100);
    const RaceOutcome race = RaceForTheLastFreeSlot(
        [](GammaTables& t) { t.BuildChannel(kRed, 200); }, [](GammaTables& t) { t.BuildChannel(kGreen, 555); },
        [](const TableSet*) { return true; }, [&](const TableSet* set) { return Same(set, both); });
    EXPECT_EQ(race.wrong, 0) << "of " << race.trials << " trials";
    std::printf("%d trials, %d overlapped\n", race.trials, race.overlapped);
}

// A linked slider and a section switch at the same moment: whichever comes
// second, each is published as one whole set.
TEST(GammaTablesConcurrency, TwoTriplesRequestedAtOnceArePublishedWhole)
{
    const TableSet before = Built(100, 100, 100), linked = Built(200, 200, 200), section = Built(50, 60, 70);
    const RaceOutcome race = RaceForTheLastFreeSlot(
        [](GammaTables& t) { t.BuildChannels(200, 200, 200); }, [](GammaTables& t) { t.BuildChannels(50, 60, 70); },
        [&](const TableSet* set) { return Same(set, before) || Same(set, linked) || Same(set, section); },
        [&](const TableSet* set) { return Same(set, linked) || Same(set, section); });
    EXPECT_EQ(race.wrong, 0) << "of " << race.trials << " trials";
    std::printf("%d trials, %d overlapped\n", race.trials, race.overlapped);
}

// Which requested gamma built a block: every candidate's blocks differ.
class BlockIndex {
public:
    bool Add(int channel, int32_t gamma)
    {
        TableSet set{};
        BuildChannel(set, channel, gamma);
        return gammas_[channel].emplace(Key(set, channel), gamma).second;
    }
    // 0 when no candidate built this block.
    int32_t Find(const TableSet& set, int channel) const
    {
        const auto found = gammas_[channel].find(Key(set, channel));
        return found == gammas_[channel].end() ? 0 : found->second;
    }

private:
    static std::string Key(const TableSet& set, int channel)
    {
        std::string key(reinterpret_cast<const char*>(set.lut + 256 * channel), 256 * sizeof(int32_t));
        key.append(reinterpret_cast<const char*>(set.yuvDelta + 256 * channel), 256 * sizeof(YuvDeltaEntry));
        return key;
    }
    std::unordered_map<std::string, int32_t> gammas_[3];
};

// Two writers request gamma triples (a dialog and section switches), three
// readers hold sets (two frame paths and the curve view). Triple k of writer
// w has gamma kBase[c] + 3 (k + 1) + w in channel c, so each block names its
// triple and its writer. Both writers end with the same triple (writer 2 of
// that naming), which must then be the one published whatever the order of
// their last calls.
TEST(GammaTablesConcurrency, TwoWritersAndThreeReadersSeeOnlyWholeRequestedTriples)
{
    constexpr int kSteps = 200, kRounds = 20;
    constexpr int32_t kBase[3] = {20, 200, 400};
    auto gamma = [&](int channel, int writer, int step) { return kBase[channel] + 3 * (step + 1) + writer; };
    BlockIndex index;
    for (int c = 0; c < 3; ++c) {
        for (int step = -1; step < kSteps; ++step) {
            for (int w = 0; w < 2; ++w)
                ASSERT_TRUE(index.Add(c, gamma(c, w, step))) << "gamma " << gamma(c, w, step) << " not told apart";
        }
        ASSERT_TRUE(index.Add(c, gamma(c, 2, kSteps)));
    }
    struct Findings {
        int holds = 0, unrequested = 0, split = 0, backwards = 0;
    };

    for (int round = 0; round < kRounds; ++round) {
        GammaTables tables;
        ASSERT_TRUE(tables.EnsureAllocated());
        tables.BuildChannels(gamma(kRed, 0, -1), gamma(kGreen, 0, -1), gamma(kBlue, 0, -1));
        std::atomic<bool> stop{false};
        std::atomic<int> readersIn{0};  // writers start once every reader holds sets
        Findings found[3];
        std::vector<std::thread> threads;
        for (Findings& f : found) {
            threads.emplace_back([&tables, &stop, &readersIn, &index, &f, &kBase] {
                int32_t last[3][3] = {};  // newest gamma seen per channel and writer
                while (!stop.load()) {
                    const GammaTables::Reader held(tables);
                    int triple[3];
                    for (int c = 0; c < 3; ++c) {
                        const int32_t g = index.Find(*held.get(), c);
                        if (g == 0) {
                            ++f.unrequested;
                            triple[c] = -c - 1;
                            continue;
                        }
                        triple[c] = g - kBase[c];
                        int32_t& newest = last[c][triple[c] % 3];
                        f.backwards += g < newest;
                        newest = g;
                    }
                    f.split += triple[0] != triple[1] || triple[1] != triple[2];
                    if (++f.holds == 1)
                        readersIn.fetch_add(1);
                    std::this_thread::yield();  // keeps the set a while: slots run out
                }
            });
        }
        std::thread writers[2];
        for (int w = 0; w < 2; ++w) {
            writers[w] = std::thread([&, w] {
                while (readersIn.load() < 3)
                    std::this_thread::yield();
                for (int step = 0; step < kSteps; ++step)
                    tables.BuildChannels(gamma(kRed, w, step), gamma(kGreen, w, step), gamma(kBlue, w, step));
                tables.BuildChannels(gamma(kRed, 2, kSteps), gamma(kGreen, 2, kSteps), gamma(kBlue, 2, kSteps));
            });
        }
        for (std::thread& writer : writers)
            writer.join();
        stop.store(true);
        for (std::thread& reader : threads)
            reader.join();
        for (const Findings& f : found) {
            EXPECT_EQ(f.unrequested, 0) << "of " << f.holds << " holds in round " << round;
            EXPECT_EQ(f.split, 0) << "of " << f.holds << " holds in round " << round;
            EXPECT_EQ(f.backwards, 0) << "of " << f.holds << " holds in round " << round;
        }
        EXPECT_TRUE(Same(GammaTables::Reader(tables).get(),
                         Built(gamma(kRed, 2, kSteps), gamma(kGreen, 2, kSteps), gamma(kBlue, 2, kSteps))))
            << "round " << round;
    }
}

}  // namespace
}  // namespace zvk
