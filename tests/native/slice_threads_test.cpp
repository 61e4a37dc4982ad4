// Slice threads: the frame split, when to split, and the pool that runs the
// slices. Built natively (also under ThreadSanitizer, preset native-tsan) and
// for 32-bit Windows, where the pool runs on the Win32 threads of the DLL.
#include "framework/slice_pool.h"
#include "gamma/frame_plan.h"
#include "gamma/frame_slices.h"
#include "gamma/kernel_timing.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/native/built_tables.h"
#include "tests/native/random_bytes.h"
#include "tests/native/thread_count.h"

namespace zvk {
namespace {

using fw::SlicePool;

TEST(FrameSlices, TileTheFrameOnPixelPairsForAnyCountAndSliceCount)
{
    std::vector<uint32_t> counts;
    for (uint32_t c = 0; c <= 70; ++c)
        counts.push_back(c);
    for (uint32_t c : {1920u * 1080u, 1920u * 1080u + 1u, 3840u * 2160u + 3u, 0x7FFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu})
        counts.push_back(c);
    for (uint32_t count : counts)
        for (int slices = 1; slices <= 9; ++slices) {
            uint32_t next = 0, smallest = std::numeric_limits<uint32_t>::max(), largest = 0;
            for (int i = 0; i < slices; ++i) {
                const FrameSlice part = SliceOfFrame(count, i, slices);
                ASSERT_EQ(part.start, next) << count << " pixels, slice " << i << " of " << slices;
                ASSERT_EQ(part.start % 2, 0u) << count << " pixels, slice " << i << " of " << slices;
                if (i + 1 < slices) {
                    ASSERT_EQ(part.count % 2, 0u) << count << " pixels, slice " << i << " of " << slices;
                }
                next = part.start + part.count;
                const uint32_t pairs = part.count / 2;
                smallest = pairs < smallest ? pairs : smallest;
                largest = pairs > largest ? pairs : largest;
            }
            EXPECT_EQ(next, count) << count << " pixels in " << slices << " slices";
            EXPECT_LE(largest - smallest, 1u) << count << " pixels in " << slices << " slices: uneven";
        }
}

TEST(FrameSlices, SliceCountSplitsOnlyFramesOverAMillisecond)
{
    struct Case {
        double nsPerPixel;
        uint64_t pixels;
        int processors;
        int slices;
    };
    const Case cases[] = {
        {0.4, 1920 * 1080, 2, 1},        // 0.83 ms: one core is enough
        {1.0, 1000000, 8, 1},            // exactly 1 ms
        {1.0, 1000002, 8, 2},            // just over
        {1.0, 1920 * 1080, 2, 2},        // 2.07 ms
        {1.0, 1920 * 1080, 8, 3},        // three slices of 0.69 ms
        {1.0, 1920 * 1080, 1, 1},        // one processor: no thread
        {0.5, 3840 * 2160, 8, 4},        // 4.1 ms
        {2.0, 3840 * 2160, 8, 4},        // 16.6 ms: never more than four
        {2.0, 3840 * 2160, 3, 3},        // never more than the processors
        {2.0, 3840 * 2160, 0, 1},        // a count the system could not give
        {0.0, 3840 * 2160, 4, 1},
        {std::nan(""), 3840 * 2160, 4, 1},  // a failed measurement
        {1e9, 0xFFFFFFFFull, 4, 4},
    };
    for (const Case& c : cases)
        EXPECT_EQ(SliceCount(c.nsPerPixel, c.pixels, c.processors), c.slices)
            << c.nsPerPixel << " ns x " << c.pixels << " pixels on " << c.processors << " processors";
}

// Each kernel cut by its own speed; too few pixels for the kernel, or no
// speeds yet, and the frame is left whole or alone.
TEST(FramePlan, FollowsTheKernelsSpeedThePixelsAndTheProcessors)
{
    constexpr FrameKernel kFirst = FrameKernel::kYuvFirstPixel, kAveraged = FrameKernel::kYuvAveraged,
                          kRgb = FrameKernel::kRgb24;
    // YUV first pixel 0.4 ns, averaged 1.0 ns, BGR24 2.0 ns per pixel.
    const KernelSpeeds speeds = {0.4, 1.0, 2.0};
    struct Case {
        FrameKernel kernel;
        uint32_t pixels;
        const KernelSpeeds* speeds;
        int processors;
        uint32_t plannedPixels;
        int slices;
    };
    const Case cases[] = {
        {kRgb, 0, &speeds, 4, 0, 1},                  // no frame
        {kRgb, 1, &speeds, 4, 1, 1},                  // one BGR24 pixel is corrected
        {kFirst, 1, &speeds, 4, 0, 1},                // a YUV word needs two
        {kAveraged, 1, &speeds, 4, 0, 1},
        {kAveraged, 2, &speeds, 4, 2, 1},
        {kFirst, 1920 * 1080, &speeds, 4, 1920 * 1080, 1},     // 0.83 ms
        {kAveraged, 1920 * 1080, &speeds, 4, 1920 * 1080, 3},  // 2.07 ms
        {kRgb, 1920 * 1080, &speeds, 4, 1920 * 1080, 4},       // 4.1 ms
        {kRgb, 1920 * 1080, &speeds, 2, 1920 * 1080, 2},       // no more than the processors
        {kRgb, 1920 * 1080, &speeds, 1, 1920 * 1080, 1},
        {kRgb, 1920 * 1080, nullptr, 4, 1920 * 1080, 1},       // not timed yet
        {kFirst, 3840 * 2160 + 1, &speeds, 8, 3840 * 2160 + 1, 4},  // an odd last pixel
        {kRgb, 0xFFFFFFFFu, &speeds, 64, 0xFFFFFFFFu, kMaxSlices},
    };
    for (const Case& c : cases) {
        const FramePlan plan = PlanFrames(c.kernel, c.pixels, c.speeds, c.processors);
        EXPECT_TRUE(plan.kernel == c.kernel && plan.pixels == c.plannedPixels && plan.slices == c.slices)
            << "kernel " << static_cast<int>(c.kernel) << ", " << c.pixels << " pixels, "
            << (c.speeds ? "timed" : "not timed") << ", " << c.processors << " processors: got " << plan.pixels
            << " pixels in " << plan.slices << " slices, expected " << c.plannedPixels << " in " << c.slices;
    }
}

TEST(FrameSlices, MeasuredSpeedsArePerPixelNanoseconds)
{
    const KernelSpeeds& speeds = BestKernelSpeeds();
    for (FrameKernel kernel : {FrameKernel::kYuvFirstPixel, FrameKernel::kYuvAveraged, FrameKernel::kRgb24}) {
        const double ns = speeds.Of(kernel);
        // A frame pixel takes somewhere between a few hundredths of a cycle
        // and a few hundred cycles on anything that runs this.
        EXPECT_TRUE(ns > 0.005 && ns < 500.0) << static_cast<int>(kernel) << ": " << ns << " ns per pixel";
    }
}

struct Level {
    std::string name;
    const Kernels* kernels;
};

std::vector<Level> AllLevels()
{
    std::vector<Level> levels;
    for (int l = 0; l < kKernelLevelCount; ++l) {
        const auto level = static_cast<KernelLevel>(l);
        for (int v = 0; v < KernelVariantCount(level); ++v)
            levels.push_back({KernelVariantName(level, v), &SelectKernelVariant(level, v)});
    }
    return levels;
}

const char* Name(FrameKernel kernel)
{
    return kernel == FrameKernel::kYuvFirstPixel ? "YuvFirstPixel" : kernel == FrameKernel::kYuvAveraged ? "YuvAveraged" : "Rgb24";
}

// The frame split through the pool gives, for every level, kernel, size and
// slice count, the bytes of one thread over the whole frame, and writes
// nothing outside it.
TEST(SliceThreads, EverySplitGivesTheBytesOfOneThread)
{
    SlicePool pool;
    ASSERT_TRUE(pool.Start(4));
    ASSERT_EQ(pool.Threads(), 4);
    const TableSet tables = Built(250, 40, 700);
    const uint32_t counts[] = {1, 2, 3, 5, 7, 9, 33, 1001, 4097, 1920 * 9 + 1, 1920 * 40 + 1};
    const size_t guard = 64;
    uint32_t seed = 1;
    for (const Level& level : AllLevels())
        for (FrameKernel kernel : {FrameKernel::kYuvFirstPixel, FrameKernel::kYuvAveraged, FrameKernel::kRgb24})
            for (uint32_t count : counts) {
                const size_t bytes = size_t{count} * (kernel == FrameKernel::kRgb24 ? 3 : 2);
                const std::vector<uint8_t> source = RandomBytes(bytes + 2 * guard, ++seed);
                std::vector<uint8_t> whole = source;
                FrameJob one{level.kernels, kernel, &tables, whole.data() + guard, count};
                CorrectFrameSlice(&one, 0, 1);
                for (int slices = 1; slices <= 4; ++slices) {
                    std::vector<uint8_t> split = source;
                    FrameJob job{level.kernels, kernel, &tables, split.data() + guard, count};
                    pool.Run(CorrectFrameSlice, &job, slices);
                    for (size_t i = 0; i < split.size(); ++i)
                        ASSERT_EQ(split[i], whole[i]) << level.name << " " << Name(kernel) << ", " << count << " pixels in "
                                                      << slices << " slices: byte " << static_cast<long>(i) - long{guard};
                }
            }
    pool.Stop();
}

// Slice 0 (the caller's) holds on until the other slices are done or
// `waitUs` has passed, so that the workers take them, not the caller.
bool OthersFinishWhileSliceZeroHolds(std::atomic<int>& others, int slices, int waitUs)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::microseconds(waitUs);
    while (others.load(std::memory_order_acquire) < slices - 1 && std::chrono::steady_clock::now() < end)
        std::this_thread::yield();
    return others.load(std::memory_order_acquire) == slices - 1;
}

// What each slice saw: who ran it, at which priority, how often, and whether
// the others were done while the caller held slice 0.
struct Record {
    std::thread::id thread[SlicePool::kMaxThreads];
    fw::ThreadPriority priority[SlicePool::kMaxThreads];
    int runs[SlicePool::kMaxThreads] = {};
    int slices[SlicePool::kMaxThreads] = {};
    std::atomic<int> others{0};
    bool othersMeanwhile = false;
};

void RecordSlice(void* context, int slice, int slices)
{
    auto& record = *static_cast<Record*>(context);
    record.thread[slice] = std::this_thread::get_id();
    record.priority[slice] = fw::CurrentThreadPriority();
    ++record.runs[slice];
    record.slices[slice] = slices;
    if (slice != 0)
        record.others.fetch_add(1, std::memory_order_release);
    else
        record.othersMeanwhile = OthersFinishWhileSliceZeroHolds(record.others, slices, 10000000);
}

// Runs one recorded Run and checks that each of the `expected` slices ran
// once with that count, slice 0 on the caller, the others on workers while
// the caller was busy with its own.
::testing::AssertionResult RunsEachSliceOnce(SlicePool& pool, int asked, int expected)
{
    Record record;
    pool.Run(RecordSlice, &record, asked);
    for (int i = 0; i < SlicePool::kMaxThreads; ++i) {
        const int runs = i < expected ? 1 : 0;
        if (record.runs[i] != runs || (runs && record.slices[i] != expected))
            return ::testing::AssertionFailure() << "asked for " << asked << " of " << pool.Threads() << ": slice " << i
                                                 << " ran " << record.runs[i] << " times as one of " << record.slices[i];
        if (i > 0 && runs && record.thread[i] == std::this_thread::get_id())
            return ::testing::AssertionFailure() << "slice " << i << " ran on the caller's thread";
    }
    if (record.thread[0] != std::this_thread::get_id())
        return ::testing::AssertionFailure() << "slice 0 ran on another thread than the caller's";
    if (!record.othersMeanwhile)
        return ::testing::AssertionFailure() << "the workers did not take the other slices while the caller held slice 0";
    return ::testing::AssertionSuccess();
}

TEST(SlicePool, RunsEachSliceOnceWithSliceZeroOnTheCaller)
{
    for (int threads = 1; threads <= SlicePool::kMaxThreads; ++threads) {
        SlicePool pool;
        ASSERT_TRUE(pool.Start(threads));
        ASSERT_EQ(pool.Threads(), threads);
        EXPECT_TRUE(RunsEachSliceOnce(pool, threads, threads));
        EXPECT_TRUE(RunsEachSliceOnce(pool, 1, 1));
        EXPECT_TRUE(RunsEachSliceOnce(pool, 0, 1));
        EXPECT_TRUE(RunsEachSliceOnce(pool, threads + 3, threads));  // never more slices than threads
        EXPECT_TRUE(RunsEachSliceOnce(pool, 2, threads < 2 ? threads : 2));
        pool.Stop();
    }
}

TEST(SlicePool, StartsAndStopsInAnyOrder)
{
    SlicePool pool;
    pool.Stop();  // never started
    EXPECT_TRUE(RunsEachSliceOnce(pool, 4, 1));
    ASSERT_TRUE(pool.Start(4));
    pool.Stop();  // no Run in between
    pool.Stop();
    EXPECT_EQ(pool.Threads(), 1);
    EXPECT_TRUE(RunsEachSliceOnce(pool, 4, 1));

    ASSERT_TRUE(pool.Start(3));
    EXPECT_TRUE(RunsEachSliceOnce(pool, 3, 3));
    ASSERT_TRUE(pool.Start(3));  // again with the same count: the same workers
    EXPECT_TRUE(RunsEachSliceOnce(pool, 3, 3));
    ASSERT_TRUE(pool.Start(2));  // another count
    EXPECT_EQ(pool.Threads(), 2);
    EXPECT_TRUE(RunsEachSliceOnce(pool, 4, 2));
    ASSERT_TRUE(pool.Start(9));  // beyond the most
    EXPECT_EQ(pool.Threads(), SlicePool::kMaxThreads);
    EXPECT_TRUE(RunsEachSliceOnce(pool, 4, 4));
    ASSERT_TRUE(pool.Start(1));
    EXPECT_EQ(pool.Threads(), 1);
    EXPECT_TRUE(RunsEachSliceOnce(pool, 4, 1));
    pool.Stop();
}

// Every slice of every Run is done when Run returns: a lost wake-up would
// hang here, a missed wait would show as a short count. Slice 0 holds on a
// little, so that the workers take part.
struct Tally {
    std::atomic<int> total{0};
    std::atomic<int> others{0};
    int perSlice[SlicePool::kMaxThreads] = {};
};

void CountSlice(void* context, int slice, int slices)
{
    auto& tally = *static_cast<Tally*>(context);
    ++tally.perSlice[slice];  // plain: only the pool's ordering protects it
    tally.total.fetch_add(1, std::memory_order_relaxed);
    if (slice != 0)
        tally.others.fetch_add(1, std::memory_order_release);
    else
        OthersFinishWhileSliceZeroHolds(tally.others, slices, 200);
}

TEST(SlicePool, ManyRunsEachFinishEverySlice)
{
    SlicePool pool;
    ASSERT_TRUE(pool.Start(4));
    Tally tally;
    const int runs = 2000;
    for (int r = 0; r < runs; ++r) {
        const int slices = 1 + r % 4;
        const int before = tally.total.load(std::memory_order_relaxed);
        tally.others = 0;
        pool.Run(CountSlice, &tally, slices);
        ASSERT_EQ(tally.total.load(std::memory_order_relaxed) - before, slices) << "run " << r;
    }
    EXPECT_EQ(tally.perSlice[0], runs);
    EXPECT_EQ(tally.perSlice[1], runs * 3 / 4);
    EXPECT_EQ(tally.perSlice[2], runs / 2);
    EXPECT_EQ(tally.perSlice[3], runs / 4);
    pool.Stop();
}

// The system's own count of the process's threads reaches `wanted` within
// `ms` milliseconds.
bool ThreadsBecome(int wanted, int ms)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (test::ThreadsInProcess() != wanted) {
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Stop waits for no worker, but the workers end soon after it (the system
// takes a thread off its list a moment after it ends).
TEST(SlicePool, WorkersAreGoneSoonAfterStop)
{
    // A sanitizer's runtime starts a thread of its own with the first new
    // thread; let that happen before counting.
    std::thread([] {}).join();
    const int before = test::ThreadsInProcess();
    ASSERT_GT(before, 0);
    const int started = 5000, stopped = 5000;
    SlicePool pool;
    for (int threads : {4, 2, 3}) {
        ASSERT_TRUE(pool.Start(threads));
        EXPECT_TRUE(ThreadsBecome(before + threads - 1, started))
            << test::ThreadsInProcess() << " threads with " << threads << ", " << before << " before Start";
        Tally tally;
        pool.Run(CountSlice, &tally);
        if (threads == 3)  // a Start with another count stops the old workers first
            continue;
        pool.Stop();
        EXPECT_TRUE(ThreadsBecome(before, stopped))
            << test::ThreadsInProcess() << " threads after Stop, " << before << " before Start";
    }
    ASSERT_TRUE(pool.Start(2));
    EXPECT_TRUE(ThreadsBecome(before + 1, stopped)) << test::ThreadsInProcess() << " threads, " << before << " before";
    pool.Stop();
    EXPECT_TRUE(ThreadsBecome(before, stopped)) << test::ThreadsInProcess() << " threads after Stop, " << before << " before";
}

// The host may call Process on one thread, then on another.
TEST(SlicePool, RunsFromOneCallerThreadThenAnother)
{
    SlicePool pool;
    ASSERT_TRUE(pool.Start(3));
    for (int caller = 0; caller < 4; ++caller) {
        ::testing::AssertionResult result = ::testing::AssertionFailure();
        std::thread([&] { result = RunsEachSliceOnce(pool, 3, 3); }).join();
        EXPECT_TRUE(result) << "caller " << caller;
    }
    pool.Stop();
}

// Each of a Run's slices once, whatever the pool is doing meanwhile.
struct Once {
    int runs[SlicePool::kMaxThreads] = {};
    int slices[SlicePool::kMaxThreads] = {};
};

void CountOnce(void* context, int slice, int slices)
{
    auto& once = *static_cast<Once*>(context);
    ++once.runs[slice];
    once.slices[slice] = slices;
}

// The host may call Process on two threads at once, or Close on one while
// another is in Process: a Run that cannot have the workers corrects the
// whole frame itself, never waiting, and Stop waits for the Run in flight.
TEST(SlicePool, RunsDuringOtherRunsStartsAndStopsDoEverySliceOnce)
{
    SlicePool pool;
    ASSERT_TRUE(pool.Start(3));
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0}, split{0}, whole{0};
    auto caller = [&] {
        for (int r = 0; !done.load(); ++r) {
            Once once;
            pool.Run(CountOnce, &once, 1 + r % 4);
            const int n = once.slices[0];
            bool right = n >= 1 && n <= 1 + r % 4;
            for (int i = 0; i < SlicePool::kMaxThreads; ++i)
                right = right && once.runs[i] == (i < n ? 1 : 0) && once.slices[i] == (i < n ? n : 0);
            wrong += right ? 0 : 1;
            (n > 1 ? split : whole) += 1;
        }
    };
    std::thread first(caller), second(caller);
    for (int round = 0; round < 60; ++round) {
        ASSERT_TRUE(pool.Start(2 + round % 3));
        std::this_thread::sleep_for(std::chrono::microseconds(500));
        if (round % 2)
            pool.Stop();
    }
    done = true;
    first.join();
    second.join();
    pool.Stop();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(split.load(), 0) << "no Run had the workers";
    EXPECT_GT(whole.load(), 0);
}

// A Run whose caller never comes back (the host killed it inside a frame)
// blocks nothing: Stop, Shut and Start return at once, and later Runs on
// other threads have workers again once a Start made new ones. Here the
// caller is held inside slice 0 instead of killed; let go at the end, it
// must still finish its own frame whole.
struct Held {
    std::atomic<bool> inside{false};
    std::atomic<bool> release{false};
    Once once;
};

void HoldSliceZero(void* context, int slice, int slices)
{
    auto& held = *static_cast<Held*>(context);
    CountOnce(&held.once, slice, slices);
    if (slice != 0)
        return;
    held.inside = true;
    while (!held.release)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST(SlicePool, ACallerThatNeverReturnsBlocksNothing)
{
    // What the pool is asked while the caller is held: Stop, Start with the
    // same count (the held crew is not idle, so it is replaced), Shut.
    enum class Then { kStop, kStartAgain, kShut };
    for (const Then then : {Then::kStop, Then::kStartAgain, Then::kShut}) {
        SlicePool pool;
        ASSERT_TRUE(pool.Start(3));
        Held held;
        std::thread caller([&] { pool.Run(HoldSliceZero, &held, 3); });
        while (!held.inside)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto start = std::chrono::steady_clock::now();
        if (then == Then::kStop)
            pool.Stop();
        else if (then == Then::kShut)
            pool.Shut();
        ASSERT_EQ(pool.Start(3), then != Then::kShut) << "Start after " << static_cast<int>(then);
        EXPECT_TRUE(RunsEachSliceOnce(pool, 3, then == Then::kShut ? 1 : 3)) << "then " << static_cast<int>(then);
        // Not timed as a speed: a wait for the held caller would never end.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
        held.release = true;
        caller.join();
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(held.once.runs[i], 1) << "slice " << i << ", then " << static_cast<int>(then);
        pool.Reopen();
        EXPECT_TRUE(pool.Start(2));
        EXPECT_TRUE(RunsEachSliceOnce(pool, 2, 2));
    }
}

// Start, Stop and Shut on several threads at once, beside Runs: every Run
// does each slice once, no crew is lost or freed twice (the sanitizers
// see both), and once all are done a Shut leaves no workers and refuses
// Starts until Reopen.
TEST(SlicePool, StartsStopsAndShutsOnManyThreadsAtOnce)
{
    SlicePool pool;
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0};
    auto caller = [&] {
        for (int r = 0; !done.load(); ++r) {
            Once once;
            pool.Run(CountOnce, &once, 1 + r % 4);
            const int n = once.slices[0];
            for (int i = 0; i < SlicePool::kMaxThreads; ++i)
                wrong += once.runs[i] == (i < n ? 1 : 0) ? 0 : 1;
        }
    };
    auto changer = [&](unsigned seed) {
        std::mt19937 random(seed);
        for (int round = 0; round < 200; ++round) {
            switch (random() % 5) {
            case 0: pool.Stop(); break;
            case 1: pool.Shut(); break;
            case 2: pool.Reopen(); break;
            default: pool.Start(1 + static_cast<int>(random() % 4)); break;
            }
        }
    };
    std::thread first(caller), second(caller);
    std::thread changers[] = {std::thread(changer, 1u), std::thread(changer, 2u), std::thread(changer, 3u)};
    for (std::thread& thread : changers)
        thread.join();
    done = true;
    first.join();
    second.join();
    EXPECT_EQ(wrong.load(), 0);
    pool.Shut();
    EXPECT_FALSE(pool.Start(3));
    EXPECT_EQ(pool.Threads(), 1);
    pool.Reopen();
    EXPECT_TRUE(pool.Start(3));
    EXPECT_EQ(pool.Threads(), 3);
}

// Workers run at the priority of the thread that calls Run, also after the
// caller changes it, and when the next Run comes from another thread.
TEST(SlicePool, WorkersTakeTheCallersPriority)
{
    SlicePool pool;
    ASSERT_TRUE(pool.Start(4));
    auto allAt = [&](fw::ThreadPriority wanted) {
        Record record;
        pool.Run(RecordSlice, &record);
        if (!record.othersMeanwhile)
            return ::testing::AssertionFailure() << "the caller ran the workers' slices";
        for (int i = 0; i < 4; ++i)
            if (record.priority[i] != wanted)
                return ::testing::AssertionFailure() << "slice " << i << " ran at " << record.priority[i].level << "/"
                                                     << record.priority[i].policy << ", the caller at " << wanted.level
                                                     << "/" << wanted.policy;
        return ::testing::AssertionSuccess();
    };
    std::thread([&] {
        ASSERT_TRUE(fw::SetCurrentThreadPriority(fw::NormalThreadPriority()));
        EXPECT_TRUE(allAt(fw::NormalThreadPriority()));
        ASSERT_TRUE(fw::SetCurrentThreadPriority(fw::LowerThreadPriority()));
        EXPECT_TRUE(allAt(fw::LowerThreadPriority()));
        EXPECT_TRUE(allAt(fw::LowerThreadPriority()));
    }).join();
    std::thread([&] {
        ASSERT_TRUE(fw::SetCurrentThreadPriority(fw::NormalThreadPriority()));
        EXPECT_TRUE(allAt(fw::NormalThreadPriority()));
    }).join();
    pool.Stop();
}

// The processors this process may use: at least one, no more than the
// machine has.
TEST(SlicePool, ProcessorCountIsWithinTheMachines)
{
    const int processors = fw::ProcessorCount();
    EXPECT_GE(processors, 1);
    if (std::thread::hardware_concurrency() > 0) {
        EXPECT_LE(processors, static_cast<int>(std::thread::hardware_concurrency()));
    }
}

}  // namespace
}  // namespace zvk
