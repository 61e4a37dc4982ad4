// Resampling of a lookup table onto the columns of the curve view: one row
// per column, counted upward from the bottom row. Portable arithmetic, kept
// apart from the drawing.
#pragma once

#include <cstdint>

namespace zvk {

enum CurveSampling { kSampleStep = 0, kSampleLinear = 1 };

// Table position shown by column `column` of a view `width` columns wide,
// for a table of `count` entries.
double CurvePosition(int column, int width, int count);

// Fills rows[0 .. width-1] with the row of each column for the table
// (count >= 2 entries), maxValue drawn on the top row height-1.
void ResampleTable(const int32_t* table, int count, int width, int height, int sampling, int32_t maxValue,
                   int32_t* rows);

}  // namespace zvk
