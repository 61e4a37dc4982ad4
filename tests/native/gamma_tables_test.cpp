#include "gamma/gamma_tables.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "tests/native/built_tables.h"

namespace zvk {
namespace {

bool SameDelta(const YuvDeltaEntry& a, const YuvDeltaEntry& b)
{
    return a.dY0 == b.dY0 && a.dU == b.dU && a.dY1 == b.dY1 && a.dV == b.dV;
}

TEST(BuildChannel, IdentityGammaGivesIdentityLutAndZeroDeltas)
{
    const TableSet set = Built(100, 100, 100);
    for (int i = 0; i < 768; ++i) {
        EXPECT_EQ(set.lut[i], i % 256) << "entry " << i;
        EXPECT_TRUE(SameDelta(set.yuvDelta[i], {0, 0, 0, 0})) << "entry " << i;
    }
}

struct KnownEntry {
    int32_t gamma;
    int channel;
    int input;
    int32_t lut;
    YuvDeltaEntry delta;
};

TEST(BuildChannel, MatchesKnownEntries)
{
    const KnownEntry cases[] = {
        {200, kRed, 128, 181, {15, -8, 15, 26}},
        {200, kGreen, 128, 181, {31, -17, 31, -22}},
        {200, kBlue, 128, 181, {6, 26, 6, -4}},
        {200, kRed, 64, 128, {19, -10, 19, 32}},
        {50, kRed, 128, 64, {-18, 10, -18, -31}},
        {50, kGreen, 128, 64, {-37, 20, -37, 26}},
    };
    for (const KnownEntry& c : cases) {
        TableSet set{};
        BuildChannel(set, c.channel, c.gamma);
        const int index = 256 * c.channel + c.input;
        EXPECT_EQ(set.lut[index], c.lut) << "gamma " << c.gamma << " channel " << c.channel << " input " << c.input;
        const YuvDeltaEntry& d = set.yuvDelta[index];
        EXPECT_TRUE(SameDelta(d, c.delta)) << "gamma " << c.gamma << " channel " << c.channel << " input "
                                           << c.input << ": got {" << d.dY0 << ", " << d.dU << ", " << d.dY1
                                           << ", " << d.dV << "}";
    }
}

TEST(BuildChannel, MatchesKnownLutValuesAtTheEndsOfTheRange)
{
    struct {
        int32_t gamma;
        int input;
        int32_t lut;
    } const cases[] = {
        {10, 1, 0},     {10, 16, 0},     {10, 64, 0},     {10, 128, 0},  {10, 192, 15},
        {10, 255, 255}, {1000, 1, 147}, {1000, 16, 193}, {1000, 128, 238},
    };
    for (const auto& c : cases) {
        TableSet set{};
        BuildChannel(set, kRed, c.gamma);
        EXPECT_EQ(set.lut[c.input], c.lut) << "gamma " << c.gamma << " input " << c.input;
    }
}

// Every property the kernels rely on, over a sweep of gammas including the
// values a hand-edited settings file can hold.
TEST(BuildChannel, EntriesStayInRangeForAnyGamma)
{
    const int32_t gammas[] = {INT32_MIN, -100, -1, 0, 1, 2, 9, 10, 11, 31, 99, 100,
                              101, 316, 999, 1000, 1001, 100000, INT32_MAX};
    for (int32_t gamma : gammas) {
        for (int channel = 0; channel < 3; ++channel) {
            TableSet set{};
            BuildChannel(set, channel, gamma);
            for (int i = 0; i < 256; ++i) {
                const int32_t v = set.lut[256 * channel + i];
                const YuvDeltaEntry& d = set.yuvDelta[256 * channel + i];
                ASSERT_GE(v, 0) << "gamma " << gamma << " input " << i;
                ASSERT_LE(v, 255) << "gamma " << gamma << " input " << i;
                ASSERT_LE(std::abs(d.dY0), 149) << "gamma " << gamma << " input " << i;
                ASSERT_LE(std::abs(d.dU), 127) << "gamma " << gamma << " input " << i;
                ASSERT_LE(std::abs(d.dV), 127) << "gamma " << gamma << " input " << i;
                ASSERT_EQ(d.dY0, d.dY1);
                if (gamma > 100) {
                    ASSERT_GE(v, i) << "gamma " << gamma << " brightens";
                    ASSERT_GE(d.dY0, 0) << "gamma " << gamma;
                }
                if (gamma > 0 && gamma < 100) {
                    ASSERT_LE(v, i) << "gamma " << gamma << " darkens";
                    ASSERT_LE(d.dY0, 0) << "gamma " << gamma;
                }
            }
            if (gamma > 0) {
                EXPECT_EQ(set.lut[256 * channel], 0) << "gamma " << gamma;
                EXPECT_EQ(set.lut[256 * channel + 255], 255) << "gamma " << gamma;
                EXPECT_TRUE(SameDelta(set.yuvDelta[256 * channel], {0, 0, 0, 0})) << "gamma " << gamma;
                EXPECT_TRUE(SameDelta(set.yuvDelta[256 * channel + 255], {0, 0, 0, 0})) << "gamma " << gamma;
            }
        }
    }
}

TEST(BuildChannel, GammaOfZeroOrBelowBuildsAsTheSmallestGamma)
{
    TableSet smallest{};
    BuildChannel(smallest, kGreen, kMinGamma);
    for (int32_t gamma : {0, -1, -100, INT32_MIN}) {
        TableSet set{};
        BuildChannel(set, kGreen, gamma);
        EXPECT_EQ(std::memcmp(&set, &smallest, sizeof set), 0) << "gamma " << gamma;
    }
}

TEST(BuildChannel, TouchesOnlyItsOwnChannel)
{
    TableSet set;
    std::memset(&set, 0x5A, sizeof set);
    TableSet before = set;
    BuildChannel(set, kGreen, 200);
    EXPECT_EQ(std::memcmp(set.lut, before.lut, 256 * sizeof(int32_t)), 0);
    EXPECT_EQ(std::memcmp(set.lut + 512, before.lut + 512, 256 * sizeof(int32_t)), 0);
    EXPECT_EQ(std::memcmp(set.yuvDelta, before.yuvDelta, 256 * sizeof(YuvDeltaEntry)), 0);
    EXPECT_EQ(std::memcmp(set.yuvDelta + 512, before.yuvDelta + 512, 256 * sizeof(YuvDeltaEntry)), 0);
    EXPECT_EQ(set.lut[256 + 128], 181);
}

TEST(GammaTables, AreZeroUntilBuiltAndKeptByALaterEnsureAllocated)
{
    GammaTables tables;
    EXPECT_EQ(GammaTables::Reader(tables).get(), nullptr);
    tables.BuildChannel(kRed, 200);  // before EnsureAllocated: nothing to build
    ASSERT_TRUE(tables.EnsureAllocated());
    const TableSet* first = nullptr;
    {
        const GammaTables::Reader reader(tables);
        first = reader.get();
        for (int i = 0; i < 768; ++i) {
            ASSERT_EQ(reader->lut[i], 0);
            ASSERT_TRUE(SameDelta(reader->yuvDelta[i], {0, 0, 0, 0}));
        }
        EXPECT_EQ(reinterpret_cast<uintptr_t>(reader->lut) % 64, 0u);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(reader->yuvDelta) % 64, 0u);
    }
    tables.BuildChannel(kBlue, 200);
    EXPECT_EQ(GammaTables::Reader(tables)->lut[512 + 128], 181);
    EXPECT_EQ(GammaTables::Reader(tables)->lut[128], 0);
    // Init again: the same pool, the tables as they were.
    ASSERT_TRUE(tables.EnsureAllocated());
    const GammaTables::Reader again(tables);
    EXPECT_EQ(again->lut[512 + 128], 181);
    EXPECT_TRUE(again.get() >= first && again.get() < first + GammaTables::kSlots) << "the pool moved";
}

}  // namespace
}  // namespace zvk
