// The published tables under concurrent rebuilds: a frame always sees one
// whole set, readers never block writers, and no rebuild request is lost.
// Meant to run under ThreadSanitizer as well (preset native-tsan).
#include "gamma/gamma_tables.h"
#include "gamma/kernels.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <random>
#include <thread>
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
    ASSERT_TRUE(tables.Allocate());
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
    ASSERT_TRUE(tables.Allocate());
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
    ASSERT_TRUE(tables.Allocate());
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
    ASSERT_TRUE(tables.Allocate());
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

// Two writers on different channels (dialog and frame path) and a reader that
// holds sets: when they stop, the tables hold each writer's last request.
TEST(GammaTablesConcurrency, ConcurrentWritersLoseNoRequest)
{
    GammaTables tables;
    ASSERT_TRUE(tables.Allocate());
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

}  // namespace
}  // namespace zvk
