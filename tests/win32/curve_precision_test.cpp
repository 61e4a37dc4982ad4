// The curve resampling of the 32-bit build against the same arithmetic done
// in plain doubles. GCC 12 evaluates the build's floating point on the x87,
// where an intermediate kept at 80 bits can put a point one row off; the
// reference runs on SSE2, whose doubles round every step. No window needed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "dialog/curve_points.h"
#include "gamma/gamma_tables.h"
#include "tests/native/built_tables.h"

namespace zvk {
namespace {

// noipa keeps the reference out of GCC's local calling conventions: GCC 12
// passes a local function's doubles in SSE registers, and the static Linux
// i686 build of this file then fails to compile.
#if defined(__i386__)
#define ZVK_SSE2_DOUBLES __attribute__((target("sse2,fpmath=sse"), noipa))
#else
#define ZVK_SSE2_DOUBLES
#endif

ZVK_SSE2_DOUBLES double ReferencePosition(int column, int width, int count)
{
    double scale, span, offset;
    if (count <= width) {
        scale = 1.0 / (width - 1);
        span = count - 1;
        offset = 0.0;
    } else {
        scale = 1.0 / width;
        span = count;
        offset = 0.5 * count / width - 0.5;
    }
    return (column * scale) * span + offset;
}

ZVK_SSE2_DOUBLES void ReferenceRows(const int32_t* table, int count, int width, int height, int sampling,
                                    int32_t maxValue, int32_t* rows)
{
    for (int i = 0; i < width; ++i) {
        const double t = ReferencePosition(i, width, count);
        const int k = static_cast<int>(t);
        const double f = t - k;
        double v = table[k];
        if (sampling == kSampleLinear && f != 0.0)
            v = table[k] + (table[k + 1] - table[k]) * f;
        rows[i] = static_cast<int32_t>(v * (height - 1) / maxValue + 0.5);
    }
}

// The reference is only worth something if it really runs on SSE2: at
// 111 x 104 the identity's column 55 (t = 127.5) is 51.5 rows up in doubles,
// rounds to 52, while 80-bit intermediates land just below and give 51.
TEST(CurvePrecision, TheReferenceRoundsLikeDoubles)
{
    std::vector<int32_t> identity(256);
    for (int i = 0; i < 256; ++i)
        identity[static_cast<size_t>(i)] = i;
    std::vector<int32_t> rows(111);
    ReferenceRows(identity.data(), 256, 111, 104, kSampleLinear, 255, rows.data());
    EXPECT_EQ(ReferencePosition(55, 111, 256), 127.5);
    EXPECT_EQ(rows[55], 52);
}

TEST(CurvePrecision, PositionsAreTheDoublesOfThePlainFormula)
{
    int differing = 0;
    std::ostringstream first;
    first.precision(17);
    for (int count : {2, 3, 17, 256, 1000}) {
        for (int width = 2; width <= 1200; ++width) {
            for (int column = 0; column < width; ++column) {
                const double ours = CurvePosition(column, width, count);
                const double reference = ReferencePosition(column, width, count);
                if (std::memcmp(&ours, &reference, sizeof ours) != 0 && ++differing <= 5)
                    first << " count " << count << " width " << width << " column " << column << ": "
                          << ours << " vs " << reference << ";";
            }
        }
    }
    EXPECT_EQ(differing, 0) << "first:" << first.str();
}

// Every control size the window may have, from small fonts up to high DPI,
// for the identity and some gammas as the dialog draws them (linear), and
// the identity with step sampling.
TEST(CurvePrecision, RowsMatchDoublePrecisionAtEverySize)
{
    // Gamma 1.00 is the identity.
    struct Curve {
        int32_t gamma;
        int sampling;
        std::vector<int32_t> table;
    };
    std::vector<Curve> curves;
    for (const auto& [gamma, sampling] : {std::pair{100, kSampleLinear}, {10, kSampleLinear}, {45, kSampleLinear},
                                          {180, kSampleLinear}, {1000, kSampleLinear}, {100, kSampleStep}}) {
        const TableSet set = Built(gamma, gamma, gamma);
        curves.push_back({gamma, sampling, std::vector<int32_t>(set.lut, set.lut + 256)});
    }
    std::vector<int32_t> ours(300);
    std::vector<int32_t> reference(300);
    int sizes = 0;
    int differingSizes = 0;
    std::ostringstream first;
    for (int width = 80; width <= 300; ++width) {
        for (int height = 60; height <= 400; ++height) {
            ++sizes;
            bool differs = false;
            for (const Curve& curve : curves) {
                ResampleTable(curve.table.data(), 256, width, height, curve.sampling, 255, ours.data());
                ReferenceRows(curve.table.data(), 256, width, height, curve.sampling, 255, reference.data());
                for (size_t i = 0; i < static_cast<size_t>(width) && !differs; ++i) {
                    if (ours[i] == reference[i])
                        continue;
                    differs = true;
                    if (differingSizes < 5)
                        first << " " << width << " x " << height << " gamma " << curve.gamma << " sampling "
                              << curve.sampling << " column " << i << ": row " << ours[i] << " vs "
                              << reference[i] << ";";
                }
            }
            differingSizes += differs;
        }
    }
    EXPECT_EQ(differingSizes, 0) << "of " << sizes << " sizes; first:" << first.str();
}

}  // namespace
}  // namespace zvk
