#include "gamma/kernels.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <vector>

#include "tests/native/built_tables.h"
#include "tests/native/random_bytes.h"

namespace zvk {
namespace {

using Word = std::array<uint8_t, 4>;

Word CorrectWord(YuvKernel kernel, Word word, const TableSet& set)
{
    kernel(word.data(), 2, set.yuvDelta);
    return word;
}


TEST(FixedProduct, RoundsTowardMinusInfinity)
{
    struct {
        int32_t a, k, expected;
    } const cases[] = {
        {-1, kUG, 0},    {1, kUG, -1},    {-128, kUB, -227}, {127, kUB, 225},
        {90 - 128, kUB, -68}, {240 - 128, kVR, 157},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FixedProduct(c.a, c.k), c.expected) << "P(" << c.a << ", " << c.k << ")";
    EXPECT_EQ(FixedProduct(90 - 128, kUG) + FixedProduct(240 - 128, kVG), -67);
}

struct WordCase {
    const char* name;
    int32_t red, green, blue;
    Word in;
    Word averaged;
    Word firstPixel;
};

TEST(YuvKernels, MatchKnownWords)
{
    const WordCase cases[] = {
        {"saturated pair, gamma 2.00", 200, 200, 200, {81, 90, 145, 240}, {115, 98, 189, 215}, {115, 96, 189, 222}},
        {"grey pair, gamma 2.00", 200, 200, 200, {100, 128, 200, 128}, {158, 129, 225, 128}, {158, 129, 225, 129}},
        {"mixed gammas", 200, 100, 50, {81, 90, 145, 240}, {82, 74, 139, 244}, {82, 84, 139, 244}},
    };
    for (const WordCase& c : cases) {
        const TableSet set = Built(c.red, c.green, c.blue);
        EXPECT_EQ(CorrectWord(CorrectYuvAveraged, c.in, set), c.averaged) << c.name;
        EXPECT_EQ(CorrectWord(CorrectYuvFirstPixel, c.in, set), c.firstPixel) << c.name;
    }
}

TEST(Rgb24Kernel, LooksUpEachChannelInItsOwnBlock)
{
    const TableSet set = Built(200, 200, 200);
    uint8_t pixel[3] = {192, 128, 64};
    CorrectRgb24(pixel, 1, set.lut);
    EXPECT_EQ(pixel[0], 221);
    EXPECT_EQ(pixel[1], 181);
    EXPECT_EQ(pixel[2], 128);

    // Distinct gammas show that blue reads the blue block and red the red one.
    const TableSet mixed = Built(200, 100, 50);
    uint8_t other[3] = {128, 128, 128};
    CorrectRgb24(other, 1, mixed.lut);
    EXPECT_EQ(other[0], mixed.lut[512 + 128]);
    EXPECT_EQ(other[1], 128);
    EXPECT_EQ(other[2], mixed.lut[128]);
}

TEST(Kernels, IdentityTablesLeaveEveryByteUnchanged)
{
    const TableSet set = Built(100, 100, 100);
    const std::vector<uint8_t> frame = RandomBytes(3 * 4099, 7);
    for (const Kernels* k : {&PortableKernels()}) {
        std::vector<uint8_t> yuv = frame;
        k->yuvFirstPixel(yuv.data(), 4099, set.yuvDelta);
        EXPECT_EQ(yuv, frame);
        k->yuvAveraged(yuv.data(), 4099, set.yuvDelta);
        EXPECT_EQ(yuv, frame);
        std::vector<uint8_t> rgb = frame;
        k->rgb24(rgb.data(), 4099, set.lut);
        EXPECT_EQ(rgb, frame);
    }
}

// Every (U, V) with a sweep of lumas: all that a word's arithmetic can see.
// Clamping must keep every output in range and every table index in bounds,
// so tables poisoned outside 0..767 would show up under the sanitizers.
TEST(YuvKernels, EveryChromaPairStaysInRange)
{
    const TableSet set = Built(1000, 10, 316);
    std::vector<uint8_t> frame;
    for (int u = 0; u < 256; ++u)
        for (int v = 0; v < 256; ++v)
            for (int y : {0, 1, 127, 254, 255})
                frame.insert(frame.end(), {static_cast<uint8_t>(y), static_cast<uint8_t>(u),
                                           static_cast<uint8_t>(255 - y), static_cast<uint8_t>(v)});
    std::vector<uint8_t> first = frame, averaged = frame;
    CorrectYuvFirstPixel(first.data(), static_cast<uint32_t>(frame.size() / 2), set.yuvDelta);
    CorrectYuvAveraged(averaged.data(), static_cast<uint32_t>(frame.size() / 2), set.yuvDelta);
    // The two variants agree on luma and differ only in chroma.
    for (size_t i = 0; i < frame.size(); i += 4) {
        ASSERT_EQ(first[i], averaged[i]);
        ASSERT_EQ(first[i + 2], averaged[i + 2]);
    }
    EXPECT_NE(first, averaged);
}

TEST(YuvKernels, LeaveTheUnpairedLastPixelAndEverythingPastTheFrame)
{
    const TableSet set = Built(200, 200, 200);
    for (uint32_t count : {2u, 3u, 5u, 8u, 9u}) {
        for (YuvKernel kernel : {CorrectYuvFirstPixel, CorrectYuvAveraged}) {
            std::vector<uint8_t> frame(2 * count + 16, 0);
            for (size_t i = 0; i < frame.size(); ++i)
                frame[i] = static_cast<uint8_t>(60 + i);
            const std::vector<uint8_t> before = frame;
            kernel(frame.data(), count, set.yuvDelta);
            const size_t touched = 4 * (count / 2);
            for (size_t i = touched; i < frame.size(); ++i)
                ASSERT_EQ(frame[i], before[i]) << "count " << count << " byte " << i;
            EXPECT_NE(frame[0], before[0]) << "count " << count;
        }
    }
}

TEST(Rgb24Kernel, StopsAtTheLastPixel)
{
    const TableSet set = Built(200, 200, 200);
    for (uint32_t count : {1u, 2u, 7u}) {
        std::vector<uint8_t> frame(3 * count + 8, 100);
        CorrectRgb24(frame.data(), count, set.lut);
        for (size_t i = 0; i < frame.size(); ++i)
            ASSERT_EQ(frame[i], i < 3 * count ? set.lut[100] : 100)
                << "count " << count << " byte " << i;
    }
}

}  // namespace
}  // namespace zvk
