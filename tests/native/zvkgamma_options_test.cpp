#include "tools/zvkgamma_options.h"

#include <gtest/gtest.h>

#include <sstream>

namespace zvk {
namespace {

std::vector<std::string> Split(const std::string& line)
{
    std::istringstream words(line);
    std::vector<std::string> args;
    for (std::string word; words >> word;)
        args.push_back(word);
    return args;
}

TEST(ParseGammaText, RoundsDecimalDigitsToNearestHundredth)
{
    const struct {
        const char* text;
        int64_t hundredths;
    } cases[] = {
        {"1.8", 180},   {"1.80", 180},  {"1", 100},      {"10", 1000},   {"10.00", 1000},
        {"0.1", 10},    {".5", 50},     {"2.", 200},     {"1.004", 100}, {"1.005", 101},
        {"1.0049999", 100}, {"0.095", 10}, {"1.999", 200}, {"+1.5", 150},  {"-0.5", -50},
    };
    for (const auto& c : cases) {
        int64_t hundredths = -1;
        EXPECT_TRUE(ParseGammaText(c.text, hundredths)) << c.text;
        EXPECT_EQ(hundredths, c.hundredths) << c.text;
    }
    // Too many digits for any integer type must still read as too big.
    int64_t huge = 0;
    EXPECT_TRUE(ParseGammaText("18446744073709551617000000000.5", huge));
    EXPECT_GT(huge, 1000);

    for (const char* text : {"", ".", "1.8.1", "1,8", "abc", "1e2", "0x10", "1.8 ", "-"}) {
        int64_t hundredths = 0;
        EXPECT_FALSE(ParseGammaText(text, hundredths)) << "'" << text << "'";
    }
}

TEST(ParseOptions, AcceptsWhatTheUsageOffers)
{
    const struct {
        const char* line;
        PixelFormat format;
        YuvVariant variant;
        uint32_t width, height;
        int32_t red, green, blue;
        const char* input;
        const char* output;
        Progress progress;
    } cases[] = {
        {"--format yuy2 --size 640x360 --gamma 1.8,1.8,1.8", PixelFormat::kYuy2,
         YuvVariant::kFirstPixel, 640, 360, 180, 180, 180, "", "", Progress::kAuto},
        {"--format=bgr24 --size=3X1 --gamma=0.1,1,10.00 -i a.raw -o b.raw", PixelFormat::kBgr24,
         YuvVariant::kFirstPixel, 3, 1, 10, 100, 1000, "a.raw", "b.raw", Progress::kAuto},
        {"--gamma 2.5 --variant averaged --size 16384x16384 --format yuy2 -q", PixelFormat::kYuy2,
         YuvVariant::kAveraged, 16384, 16384, 250, 250, 250, "", "", Progress::kOff},
        {"--format yuy2 --variant first --size 2x1 --gamma 1,2,3 --input - --output - --progress",
         PixelFormat::kYuy2, YuvVariant::kFirstPixel, 2, 1, 100, 200, 300, "", "", Progress::kOn},
        // The last of a repeated option counts.
        {"--format bgr24 --size 1x1 --gamma 3 --gamma 1.234,1.235,4 --format yuy2 --size 8x8",
         PixelFormat::kYuy2, YuvVariant::kFirstPixel, 8, 8, 123, 124, 400, "", "", Progress::kAuto},
    };
    for (const auto& c : cases) {
        const ParseResult result = ParseOptions(Split(c.line));
        ASSERT_TRUE(result.ok) << c.line << ": " << result.error;
        const Options& o = result.options;
        EXPECT_EQ(o.format, c.format) << c.line;
        EXPECT_EQ(o.variant, c.variant) << c.line;
        EXPECT_EQ(o.width, c.width) << c.line;
        EXPECT_EQ(o.height, c.height) << c.line;
        EXPECT_EQ(o.gamma[0], c.red) << c.line;
        EXPECT_EQ(o.gamma[1], c.green) << c.line;
        EXPECT_EQ(o.gamma[2], c.blue) << c.line;
        EXPECT_EQ(o.input, c.input) << c.line;
        EXPECT_EQ(o.output, c.output) << c.line;
        EXPECT_EQ(o.progress, c.progress) << c.line;
        EXPECT_FALSE(o.help) << c.line;
    }
}

TEST(ParseOptions, RejectsWithTextNamingTheProblem)
{
    const std::string ok = " --format yuy2 --size 640x360 --gamma 1.8";
    const struct {
        std::string line;
        const char* error;
    } cases[] = {
        {"", "missing --format"},
        {"--format yuy2 --gamma 1", "missing --size"},
        {"--format yuy2 --size 2x2", "missing --gamma"},
        {"--bogus" + ok, "unknown option '--bogus'"},
        {"-x" + ok, "unknown option '-x'"},
        {"stray" + ok, "unexpected argument 'stray'"},
        {ok + " --gamma", "option --gamma needs a value"},
        {"--size --gamma 1 --format yuy2", "option --size needs a value"},
        {ok + " -o", "option -o needs a value"},
        {ok + " --output=", "--output needs a file name"},
        {ok + " --quiet=1", "option --quiet takes no value"},
        {"--format yuv" + ok.substr(14), "--format 'yuv' is not one of yuy2, bgr24"},
        {ok + " --variant avg", "--variant 'avg' is not one of first, averaged"},
        {"--format bgr24 --variant first --size 2x2 --gamma 1", "--variant applies only to --format yuy2"},
        {ok + " --size 640", "--size '640' is not WIDTHxHEIGHT"},
        {ok + " --size 640x", "is not WIDTHxHEIGHT"},
        {ok + " --size -2x2", "is not WIDTHxHEIGHT"},
        {ok + " --size 0x360", "--size 0x360 is out of range: width and height must be 1 to 16384"},
        {ok + " --size 640x16385", "out of range"},
        {ok + " --size 99999999999999999999x1", "out of range"},
        {ok + " --size 641x360", "yuy2 needs an even width"},
        {ok + " --gamma 10.01", "10.01 is out of range 0.10 to 10.00"},
        {ok + " --gamma 1,1,0.094", "0.094 is out of range"},
        {ok + " --gamma -1", "-1 is out of range"},
        {ok + " --gamma 0", "0 is out of range"},
        {ok + " --gamma 1,2", "needs three values R,G,B"},
        {ok + " --gamma 1,2,3,4", "needs three values"},
        {ok + " --gamma 1,,2", "'' is not a decimal number"},
        {ok + " --gamma 1.8x", "'1.8x' is not a decimal number"},
    };
    for (const auto& c : cases) {
        const ParseResult result = ParseOptions(Split(c.line));
        EXPECT_FALSE(result.ok) << c.line;
        EXPECT_NE(result.error.find(c.error), std::string::npos)
            << c.line << "\n  expected: " << c.error << "\n  got: " << result.error;
    }
}

TEST(ParseOptions, HelpWinsOverMissingOptions)
{
    for (const char* line : {"--help", "-h", "--format yuy2 -h --bogus"}) {
        const ParseResult result = ParseOptions(Split(line));
        EXPECT_TRUE(result.ok) << line;
        EXPECT_TRUE(result.options.help) << line;
    }
}

TEST(Options, FrameBytesDoNotWrapAtTheLargestSize)
{
    Options options;
    options.width = kMaxSide;
    options.height = kMaxSide;
    options.format = PixelFormat::kBgr24;
    EXPECT_EQ(options.FrameBytes(), size_t{805306368});
    options.format = PixelFormat::kYuy2;
    EXPECT_EQ(options.FrameBytes(), size_t{536870912});
}

}  // namespace
}  // namespace zvk
