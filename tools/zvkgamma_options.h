// Command line of zvkgamma, parsed into Options or an error text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zvk {

enum class PixelFormat { kYuy2, kBgr24 };
enum class YuvVariant { kFirstPixel, kAveraged };
enum class Progress { kAuto, kOn, kOff };

// Largest width and height accepted: 16K on each side keeps one frame
// (at most 16384 x 16384 x 3 bytes, 768 MiB) within 32-bit sizes and counts.
constexpr uint32_t kMaxSide = 16384;

struct Options {
    PixelFormat format = PixelFormat::kYuy2;
    YuvVariant variant = YuvVariant::kFirstPixel;
    uint32_t width = 0;
    uint32_t height = 0;
    int32_t gamma[3] = {100, 100, 100};  // red, green, blue, in hundredths
    std::string input;                   // empty: standard input
    std::string output;                  // empty: standard output
    Progress progress = Progress::kAuto;
    bool help = false;

    size_t FrameBytes() const;
};

struct ParseResult {
    bool ok = false;
    Options options;
    std::string error;  // what is wrong, when !ok
};

// args excludes the program name.
ParseResult ParseOptions(const std::vector<std::string>& args);

// A gamma as the dialog shows it ("1.8", "1.80", "10") in hundredths, rounded
// to nearest with halves up; false when the text is not a plain decimal.
bool ParseGammaText(const std::string& text, int64_t& hundredths);

const char* UsageText();

}  // namespace zvk
