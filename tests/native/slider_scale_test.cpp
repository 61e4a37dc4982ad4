// The logarithmic slider scale both ways and the value text. Built for the
// native core and for 32-bit Windows, whose runtime's pow and log10 the DLL
// uses.
#include "dialog/slider_scale.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace zvk {
namespace {

std::string Text(int32_t gamma)
{
    char text[kGammaTextSize];
    FormatGamma(gamma, text);
    return text;
}

TEST(SliderScale, PositionsGiveTheirGammaAndText)
{
    const struct {
        int position;
        int32_t gamma;
        const char* text;
    } cases[] = {
        {0, 10, "0.10"},   {1, 10, "0.10"},   {2, 10, "0.10"},    {50, 31, "0.31"},
        {100, 100, "1.00"}, {150, 316, "3.16"}, {200, 1000, "10.00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PositionToGamma(c.position), c.gamma) << "position " << c.position;
        EXPECT_EQ(Text(PositionToGamma(c.position)), c.text) << "position " << c.position;
    }
}

// Both directions truncate, so a value taken back lands on the first
// position that gives it, or one below; the values never fall as the slider
// moves right.
TEST(SliderScale, EveryValueTakenBackLandsOnItsFirstPositionOrOneBelow)
{
    int32_t previous = 0;
    int first = 0;
    for (int p = kSliderMin; p <= kSliderMax; ++p) {
        const int32_t gamma = PositionToGamma(p);
        EXPECT_GE(gamma, 10) << p;
        EXPECT_LE(gamma, 1000) << p;
        EXPECT_GE(gamma, previous) << p;
        if (gamma != previous)
            first = p;
        previous = gamma;
        const int back = PositionOfGamma(gamma);
        EXPECT_TRUE(back == first || back == first - 1)
            << "position " << p << " gamma " << gamma << " back " << back << " first " << first;
    }
    EXPECT_EQ(PositionOfGamma(316), 149);
    // Exact powers of ten land exactly: 1.00 stands in the middle.
    EXPECT_EQ(PositionOfGamma(10), 0);
    EXPECT_EQ(PositionOfGamma(100), 100);
    EXPECT_EQ(PositionOfGamma(1000), 200);
}

// A settings file can hold any number: the slider stands at the nearest end,
// the text shows the exact value and fits.
TEST(SliderScale, StoredValuesOutsideTheRange)
{
    const struct {
        int32_t gamma;
        int position;
        const char* text;
    } cases[] = {
        {1200, 200, "12.00"},          {-5, 0, "-0.05"}, {0, 0, "0.00"}, {9, 0, "0.09"},
        {INT_MAX, 200, "21474836.47"}, {INT_MIN, 0, "-21474836.48"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PositionOfGamma(c.gamma), c.position) << "gamma " << c.gamma;
        EXPECT_EQ(Text(c.gamma), c.text) << "gamma " << c.gamma;
    }
}

}  // namespace
}  // namespace zvk
