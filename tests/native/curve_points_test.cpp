// Resampling a lookup table onto the curve view's columns.
#include "dialog/curve_points.h"

#include <gtest/gtest.h>

#include <vector>

namespace zvk {
namespace {

std::vector<int32_t> Rows(const std::vector<int32_t>& table, int count, int width, int height, int sampling,
                          int32_t maxValue = 255)
{
    std::vector<int32_t> rows(static_cast<size_t>(width), -1);
    ResampleTable(table.data(), count, width, height, sampling, maxValue, rows.data());
    return rows;
}

std::vector<int32_t> Identity()
{
    std::vector<int32_t> table(256);
    for (int i = 0; i < 256; ++i)
        table[static_cast<size_t>(i)] = i;
    return table;
}

TEST(CurvePoints, FewerColumnsThanEntriesSampleTheMiddleOfEachRun)
{
    EXPECT_NEAR(CurvePosition(0, 148, 256), 0.364865, 1e-6);
    EXPECT_NEAR(CurvePosition(147, 148, 256), 254.635135, 1e-6);
    for (int i = 0; i < 148; ++i)
        EXPECT_NEAR(CurvePosition(i, 148, 256), (i + 0.5) * 256 / 148 - 0.5, 1e-9) << i;
}

TEST(CurvePoints, AtLeastAsManyColumnsAsEntriesShowBothEndsExactly)
{
    for (int width : {256, 300, 1024}) {
        EXPECT_EQ(CurvePosition(0, width, 256), 0.0) << width;
        EXPECT_EQ(CurvePosition(width - 1, width, 256), 255.0) << width;
    }
}

// The entry after the last is a poison value: reading it would show.
TEST(CurvePoints, AWholePositionReadsOnlyItsEntryEvenWhenLinear)
{
    const std::vector<int32_t> table = {0, 100, 200, 1 << 20};
    // Five columns over three entries: positions 0, 0.5, 1, 1.5, 2.
    EXPECT_EQ(Rows(table, 3, 5, 201, kSampleLinear, 200), (std::vector<int32_t>{0, 50, 100, 150, 200}));
    EXPECT_EQ(Rows(table, 3, 5, 201, kSampleStep, 200), (std::vector<int32_t>{0, 0, 100, 100, 200}));
}

TEST(CurvePoints, ZeroIsTheBottomRowAndTheMaximumTheTop)
{
    const std::vector<int32_t> rows = Rows(Identity(), 256, 256, 87, kSampleLinear);
    EXPECT_EQ(rows.front(), 0);
    EXPECT_EQ(rows.back(), 86);
    for (size_t i = 1; i < rows.size(); ++i)
        EXPECT_GE(rows[i], rows[i - 1]) << i;
}

TEST(CurvePoints, LinearSamplingInterpolatesStepSamplingTruncates)
{
    // 148 columns, 256 entries: column 0 sits at 0.364865.
    std::vector<int32_t> table = Identity();
    table[0] = 0;
    table[1] = 255;
    const int32_t linear = Rows(table, 256, 148, 256, kSampleLinear)[0];
    const int32_t step = Rows(table, 256, 148, 256, kSampleStep)[0];
    EXPECT_EQ(linear, static_cast<int32_t>(255 * CurvePosition(0, 148, 256) + 0.5));
    EXPECT_EQ(step, 0);
}

}  // namespace
}  // namespace zvk
