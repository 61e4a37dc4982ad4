// Every dispatch level against the portable kernels, byte for byte. Built for
// both the native and the 32-bit Windows tests.
#include "gamma/frame_slices.h"
#include "gamma/kernel_timing.h"
#include "gamma/kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "tests/native/built_tables.h"
#include "tests/native/guarded_page.h"

// GCC 12 warns about the guarded copies below for sizes no call passes.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Warray-bounds"
#pragma GCC diagnostic ignored "-Wstringop-overflow"
#pragma GCC diagnostic ignored "-Wstringop-overread"
#endif

namespace zvk {
namespace {

// Tables no gamma produces but the kernels must treat the same way: random
// deltas at and within the bounds BuildChannel keeps, and random lut entries
// whose upper bits the kernels must ignore.
TableSet RandomTables(std::mt19937& random, int yBound, int chromaBound)
{
    TableSet set{};
    auto pick = [&](int bound) { return static_cast<int16_t>(static_cast<int>(random() % (2 * bound + 1)) - bound); };
    for (int i = 0; i < 768; ++i) {
        const int16_t dY = random() % 8 == 0 ? static_cast<int16_t>(random() % 2 ? yBound : -yBound) : pick(yBound);
        set.yuvDelta[i] = {dY, pick(chromaBound), dY, pick(chromaBound)};
        set.lut[i] = static_cast<int32_t>(random());
    }
    return set;
}

// Every entry at the same deltas: with the bounds BuildChannel keeps, the
// sums of three entries (and of two pixels' chroma) reach their extremes
// in every field the fast kernels pack them into.
TableSet UniformTables(int16_t dY, int16_t dChroma)
{
    TableSet set{};
    for (YuvDeltaEntry& e : set.yuvDelta)
        e = {dY, dChroma, dY, dChroma};
    return set;
}

struct Level {
    const char* name;
    const Kernels* kernels;
};

// The kernel sets to compare with the portable kernels: every variant of
// every level this CPU has.
std::vector<Level> FastLevels()
{
    std::vector<Level> levels;
    for (int l = 1; l < kKernelLevelCount; ++l) {
        const auto level = static_cast<KernelLevel>(l);
        for (int v = 0; v < KernelVariantCount(level); ++v)
            levels.push_back({KernelVariantName(level, v), &SelectKernelVariant(level, v)});
    }
    return levels;
}

constexpr FrameKernel kAllKernels[] = {FrameKernel::kYuvFirstPixel, FrameKernel::kYuvAveraged, FrameKernel::kRgb24};

const char* Name(FrameKernel which)
{
    return which == FrameKernel::kYuvFirstPixel ? "CorrectYuvFirstPixel"
           : which == FrameKernel::kYuvAveraged ? "CorrectYuvAveraged"
                                                : "CorrectRgb24";
}

// The frame path's own dispatch, one slice for the whole frame.
void RunKernel(const Kernels& k, FrameKernel which, uint8_t* pixels, uint32_t count, const TableSet& set)
{
    FrameJob job = {&k, which, &set, pixels, count};
    CorrectFrameSlice(&job, 0, 1);
}

uint32_t BytesPerPixel(FrameKernel which)
{
    return which == FrameKernel::kRgb24 ? 3 : 2;
}

// Runs the portable kernel and the level's kernel on copies of frame, placed
// at offset inside buffers with guard bytes, and reports the first byte that
// differs (the guards included).
::testing::AssertionResult SameAsPortable(const Level& level, FrameKernel which, const std::vector<uint8_t>& frame,
                                          size_t offset, const TableSet& set)
{
    const size_t guard = 64;
    std::vector<uint8_t> expected(offset, 0xA5);
    expected.insert(expected.end(), frame.begin(), frame.end());
    expected.resize(expected.size() + guard, 0xA5);
    std::vector<uint8_t> actual = expected;
    const auto count = static_cast<uint32_t>(frame.size() / BytesPerPixel(which));
    RunKernel(PortableKernels(), which, expected.data() + offset, count, set);
    RunKernel(*level.kernels, which, actual.data() + offset, count, set);
    for (size_t i = 0; i < expected.size(); ++i) {
        if (expected[i] != actual[i]) {
            const long byte = static_cast<long>(i) - static_cast<long>(offset);
            return ::testing::AssertionFailure()
                   << level.name << " " << Name(which) << ", " << count << " pixels at offset "
                   << offset << ": byte " << byte << " is " << int{actual[i]} << ", portable gives "
                   << int{expected[i]} << " (input " << (byte >= 0 && static_cast<size_t>(byte) < frame.size() ? int{frame[static_cast<size_t>(byte)]} : -1) << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

std::vector<uint8_t> RandomBytes(std::mt19937& random, size_t size)
{
    std::vector<uint8_t> bytes(size);
    for (uint8_t& b : bytes)
        b = static_cast<uint8_t>(random());
    return bytes;
}

TEST(KernelLevels, DispatchOffersEveryLevelTheCpuHas)
{
    EXPECT_TRUE(HasKernelLevel(KernelLevel::kPortable));
#if defined(__i386__) || defined(__x86_64__)
    // Every x86 CPU this plug-in meets has SSE2; without it the tests below
    // would silently compare nothing.
    EXPECT_TRUE(HasKernelLevel(KernelLevel::kSse2));
#endif
    for (int l = 0; l < kKernelLevelCount; ++l) {
        const auto level = static_cast<KernelLevel>(l);
        const Kernels& chosen = SelectKernels(level);
        if (HasKernelLevel(level) && level != KernelLevel::kPortable) {
            EXPECT_NE(chosen.rgb24, PortableKernels().rgb24) << KernelLevelName(level);
        }
        if (!HasKernelLevel(level)) {
            EXPECT_EQ(&chosen, &SelectKernels(static_cast<KernelLevel>(l - 1))) << KernelLevelName(level);
        }
    }
    EXPECT_TRUE(HasKernelLevel(BestKernelLevel()));
    std::string names;
    for (const Level& level : FastLevels())
        names += std::string(" ") + level.name;
    RecordProperty("levels", names);
    std::printf("levels tested:%s\n", names.c_str());
}

// Init's choice takes each kernel from one of the level's variants, the two
// YUV kernels from the same one, and says which it took (the first, where
// variants share a kernel).
TEST(KernelLevels, ChoiceTakesEachKernelFromAVariantOfTheLevel)
{
    std::vector<std::pair<KernelLevel, KernelChoice>> choices;
    for (int l = 0; l < kKernelLevelCount; ++l)
        if (HasKernelLevel(static_cast<KernelLevel>(l)))
            choices.emplace_back(static_cast<KernelLevel>(l), ChooseKernels(static_cast<KernelLevel>(l)));
    choices.emplace_back(BestKernelLevel(), KernelChoice{BestKernels(), BestKernelSpeeds(), BestKernelsReport()});
    for (const auto& [level, choice] : choices) {
        int yuvFrom = -1, rgbFrom = -1;
        for (int v = 0; v < KernelVariantCount(level); ++v) {
            const Kernels& k = SelectKernelVariant(level, v);
            if (yuvFrom < 0 && choice.kernels.yuvFirstPixel == k.yuvFirstPixel && choice.kernels.yuvAveraged == k.yuvAveraged)
                yuvFrom = v;
            if (rgbFrom < 0 && choice.kernels.rgb24 == k.rgb24)
                rgbFrom = v;
        }
        ASSERT_GE(yuvFrom, 0) << KernelLevelName(level);
        ASSERT_GE(rgbFrom, 0) << KernelLevelName(level);
        if (KernelVariantCount(level) > 1) {
            const std::string yuv = std::string("YUV ") + KernelVariantName(level, yuvFrom) + " (";
            const std::string rgb = std::string("BGR24 ") + KernelVariantName(level, rgbFrom) + " (";
            EXPECT_NE(choice.report.find(yuv), std::string::npos) << choice.report;
            EXPECT_NE(choice.report.find(rgb), std::string::npos) << choice.report;
        }
    }
}

// Every (U, V) with lumas at and around the clamping edges, then every
// (Y0, Y1) with chroma at the extremes and the centre: each index a word's
// arithmetic can produce, through each level's vector lanes.
TEST(KernelLevels, YuvMatchesPortableForEveryChromaAndLumaPair)
{
    std::vector<uint8_t> byChroma;
    const uint8_t lumas[][2] = {{0, 255}, {1, 254}, {16, 235}, {127, 128}, {255, 0}, {60, 200}};
    for (int u = 0; u < 256; ++u)
        for (int v = 0; v < 256; ++v)
            for (const auto& y : lumas)
                byChroma.insert(byChroma.end(), {y[0], static_cast<uint8_t>(u), y[1], static_cast<uint8_t>(v)});
    std::vector<uint8_t> byLuma;
    const uint8_t chromas[][2] = {{0, 0}, {255, 255}, {0, 255}, {255, 0}, {128, 128}, {90, 240}, {127, 129}};
    for (int y0 = 0; y0 < 256; ++y0)
        for (int y1 = 0; y1 < 256; ++y1)
            for (const auto& c : chromas)
                byLuma.insert(byLuma.end(), {static_cast<uint8_t>(y0), c[0], static_cast<uint8_t>(y1), c[1]});

    std::mt19937 random(11);
    const TableSet sets[] = {Built(200, 200, 200), Built(1000, 10, 316),      Built(10, 1000, 55),
                             RandomTables(random, 149, 127), UniformTables(149, 127), UniformTables(-149, -127),
                             UniformTables(149, -127),       UniformTables(-149, 127)};
    for (const Level& level : FastLevels())
        for (const TableSet& set : sets)
            for (FrameKernel which : {FrameKernel::kYuvFirstPixel, FrameKernel::kYuvAveraged}) {
                EXPECT_TRUE(SameAsPortable(level, which, byChroma, 0, set));
                EXPECT_TRUE(SameAsPortable(level, which, byLuma, 0, set));
            }
}

TEST(KernelLevels, RgbMatchesPortableForEveryValueInEveryChannel)
{
    std::vector<uint8_t> frame;
    for (int i = 0; i < 256; ++i)
        for (int j = 0; j < 256; j += 5)
            frame.insert(frame.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(j), static_cast<uint8_t>(255 - i)});
    std::mt19937 random(12);
    const TableSet sets[] = {Built(200, 200, 200), Built(1000, 10, 316), RandomTables(random, 149, 127)};
    for (const Level& level : FastLevels())
        for (const TableSet& set : sets)
            EXPECT_TRUE(SameAsPortable(level, FrameKernel::kRgb24, frame, 0, set));
}

// Every length from 0 to 300 pixels (every head and tail a vector loop can
// leave) at a random misalignment, with random gammas including the ends of
// the dialog's range and values only a hand-edited file holds.
TEST(KernelLevels, RandomFramesOfEveryLengthMatchPortable)
{
    const int32_t gammas[] = {10, 1000, 100, 0, -7, INT32_MIN, INT32_MAX, 1, 5000, 99, 101};
    std::mt19937 random(13);
    auto gamma = [&] { return random() % 2 ? gammas[random() % 11] : static_cast<int32_t>(10 + random() % 991); };
    for (uint32_t count = 0; count <= 300; ++count) {
        const TableSet set = count % 7 == 0 ? RandomTables(random, 149, 127) : Built(gamma(), gamma(), gamma());
        const size_t offset = random() % 64;
        for (const Level& level : FastLevels())
            for (FrameKernel which : kAllKernels) {
                const std::vector<uint8_t> frame = RandomBytes(random, count * BytesPerPixel(which));
                ASSERT_TRUE(SameAsPortable(level, which, frame, offset, set));
            }
    }
}

// The fast loops load a vector or two ahead of the bytes they correct; a
// frame that ends where readable memory ends shows whether any load goes
// past it (a fault ends the test). Every length up to a few hundred pixels
// covers each loop's first and last steps and every tail.
TEST(KernelLevels, FramesEndingAtUnreadableMemoryMatchPortable)
{
    std::mt19937 random(18);
    const TableSet set = Built(250, 40, 700);
    GuardedPage page(3 * 4100);
    ASSERT_TRUE(page.valid());
    for (const Level& level : FastLevels())
        for (FrameKernel which : kAllKernels)
            for (uint32_t count = 0; count <= 4099; count += count < 400 ? 1 : 1231) {
                const size_t bytes = size_t{count} * BytesPerPixel(which);
                const std::vector<uint8_t> frame = RandomBytes(random, bytes);
                std::vector<uint8_t> expected = frame;
                RunKernel(PortableKernels(), which, expected.data(), count, set);
                uint8_t* at = page.EndingAt(bytes);
                std::copy(frame.begin(), frame.end(), at);
                RunKernel(*level.kernels, which, at, count, set);
                ASSERT_TRUE(std::equal(expected.begin(), expected.end(), at)) << level.name << " " << Name(which) << " " << count;
            }
}

TEST(KernelLevels, LargeFramesMatchPortable)
{
    std::mt19937 random(14);
    const TableSet set = Built(250, 40, 700);
    for (uint32_t count : {720u * 576u, 4099u})
        for (const Level& level : FastLevels())
            for (FrameKernel which : kAllKernels) {
                const std::vector<uint8_t> frame = RandomBytes(random, count * BytesPerPixel(which));
                EXPECT_TRUE(SameAsPortable(level, which, frame, 3, set));
            }
}

// Deltas past the bounds BuildChannel keeps cannot come from any gamma, but
// the fast kernels must still agree with the portable ones on them.
TEST(KernelLevels, TablesBeyondTheDeltaBoundsMatchPortable)
{
    std::mt19937 random(15);
    for (int round = 0; round < 4; ++round) {
        TableSet set = RandomTables(random, 149, 127);
        set.yuvDelta[random() % 768].dU = static_cast<int16_t>(round % 2 ? 128 : -128);
        set.yuvDelta[random() % 768].dY0 = static_cast<int16_t>(round < 2 ? 150 : -150);
        const std::vector<uint8_t> frame = RandomBytes(random, 4 * 1000);
        for (const Level& level : FastLevels())
            for (FrameKernel which : {FrameKernel::kYuvFirstPixel, FrameKernel::kYuvAveraged})
                EXPECT_TRUE(SameAsPortable(level, which, frame, 1, set));
    }
}

TEST(KernelLevels, IdentityTablesLeaveEveryByteUnchanged)
{
    std::mt19937 random(16);
    const TableSet set = Built(100, 100, 100);
    for (const Level& level : FastLevels())
        for (FrameKernel which : kAllKernels)
            for (uint32_t count : {2u, 37u, 1920u * 2u + 1u}) {
                const std::vector<uint8_t> frame = RandomBytes(random, count * BytesPerPixel(which));
                std::vector<uint8_t> copy = frame;
                RunKernel(*level.kernels, which, copy.data(), count, set);
                EXPECT_EQ(copy, frame) << level.name << " " << Name(which) << " " << count;
            }
}

// Zero tables (Init's state before the first build) are not the identity for
// RGB: every byte becomes 0. A shortcut for identity must not fire here.
TEST(KernelLevels, ZeroTablesMatchPortable)
{
    std::mt19937 random(17);
    const TableSet set{};
    for (const Level& level : FastLevels())
        for (FrameKernel which : kAllKernels)
            EXPECT_TRUE(SameAsPortable(level, which, RandomBytes(random, 999 * BytesPerPixel(which)), 5, set));
}

}  // namespace
}  // namespace zvk
