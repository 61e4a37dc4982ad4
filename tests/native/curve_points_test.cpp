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

// Worked by hand: with fewer columns than entries, column i of w shows the
// middle of its run of count / w entries, (i + 0.5) * count / w - 0.5.
TEST(CurvePoints, FewerColumnsThanEntriesSampleTheMiddleOfEachRun)
{
    struct Case {
        int column, width, count;
        double position;
    };
    const Case cases[] = {
        {0, 148, 256, 0.364865},  {1, 148, 256, 2.094595}, {74, 148, 256, 128.364865},
        {147, 148, 256, 254.635135}, {0, 2, 4, 0.5},      {1, 2, 4, 2.5},
        {0, 3, 4, 0.166667},      {2, 3, 4, 2.833333},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(CurvePosition(c.column, c.width, c.count), c.position, 1e-6)
            << "column " << c.column << " of " << c.width << " over " << c.count << " entries";
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

// Rows worked by hand from the positions: linear sampling interpolates
// between entries, step sampling takes the entry below; the value is scaled
// to the rows and rounded half up.
TEST(CurvePoints, LinearSamplingInterpolatesStepSamplingTruncates)
{
    struct Case {
        std::vector<int32_t> table;
        int width, height, sampling;
        int32_t maxValue;
        std::vector<int32_t> rows;
    };
    const Case cases[] = {
        // Positions 0.5 and 2.5.
        {{0, 10, 20, 30}, 2, 31, kSampleLinear, 30, {5, 25}},
        {{0, 10, 20, 30}, 2, 31, kSampleStep, 30, {0, 20}},
        // Positions 0.1667, 1.5 and 2.8333.
        {{0, 240, 240, 240}, 3, 256, kSampleLinear, 255, {40, 240, 240}},
        {{0, 240, 240, 240}, 3, 256, kSampleStep, 255, {0, 240, 240}},
        // Positions 0, 0.5 and 1: 127.5 of 255 is row 50 of 0..100.
        {{0, 255}, 3, 101, kSampleLinear, 255, {0, 50, 100}},
        {{0, 255}, 3, 101, kSampleStep, 255, {0, 0, 100}},
        // 0.25 of a row rounds down, 0.5 up.
        {{0, 1}, 3, 2, kSampleLinear, 2, {0, 0, 1}},
        // No scale: flat.
        {{0, 255}, 3, 101, kSampleLinear, 0, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        const int count = static_cast<int>(c.table.size());
        EXPECT_EQ(Rows(c.table, count, c.width, c.height, c.sampling, c.maxValue), c.rows)
            << count << " entries on " << c.width << " columns, " << c.height << " rows, sampling " << c.sampling
            << ", maximum " << c.maxValue;
    }
}

}  // namespace
}  // namespace zvk
