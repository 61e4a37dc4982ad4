#include "tools/zvkgamma_options.h"

#include "gamma/gamma_tables.h"

namespace zvk {
namespace {

std::string Quoted(const std::string& text)
{
    return "'" + text + "'";
}

// Removes blanks around one comma-separated item ("1.8, 2" is fine when quoted).
std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A positive decimal integer, saturating at limit + 1 so that huge inputs stay
// "too big" instead of wrapping.
bool ParseCount(const std::string& text, uint32_t limit, uint32_t& value)
{
    if (text.empty())
        return false;
    uint64_t accumulated = 0;
    for (char c : text) {
        if (!IsDigit(c))
            return false;
        accumulated = accumulated * 10 + static_cast<uint64_t>(c - '0');
        if (accumulated > limit)
            accumulated = uint64_t{limit} + 1;
    }
    value = static_cast<uint32_t>(accumulated);
    return true;
}

bool ParseFormat(const std::string& value, Options& options, std::string& error)
{
    if (value == "yuy2") {
        options.format = PixelFormat::kYuy2;
    } else if (value == "bgr24") {
        options.format = PixelFormat::kBgr24;
    } else {
        error = "--format " + Quoted(value) + " is not one of yuy2, bgr24";
        return false;
    }
    return true;
}

bool ParseVariant(const std::string& value, Options& options, std::string& error)
{
    if (value == "first") {
        options.variant = YuvVariant::kFirstPixel;
    } else if (value == "averaged") {
        options.variant = YuvVariant::kAveraged;
    } else {
        error = "--variant " + Quoted(value) + " is not one of first, averaged";
        return false;
    }
    return true;
}

bool ParseSize(const std::string& value, Options& options, std::string& error)
{
    const size_t x = value.find_first_of("xX");
    uint32_t width = 0;
    uint32_t height = 0;
    if (x == std::string::npos || !ParseCount(value.substr(0, x), kMaxSide, width) ||
        !ParseCount(value.substr(x + 1), kMaxSide, height)) {
        error = "--size " + Quoted(value) + " is not WIDTHxHEIGHT, e.g. 640x360";
        return false;
    }
    if (width < 1 || width > kMaxSide || height < 1 || height > kMaxSide) {
        error = "--size " + value + " is out of range: width and height must be 1 to " +
                std::to_string(kMaxSide);
        return false;
    }
    options.width = width;
    options.height = height;
    return true;
}

bool ParseGammas(const std::string& value, Options& options, std::string& error)
{
    std::vector<std::string> items;
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(',', start);
        items.push_back(Trimmed(value.substr(start, comma - start)));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (items.size() != 1 && items.size() != 3) {
        error = "--gamma " + Quoted(value) + " needs three values R,G,B (or one for all)";
        return false;
    }
    int32_t gamma[3];
    for (size_t n = 0; n < items.size(); ++n) {
        int64_t hundredths = 0;
        if (!ParseGammaText(items[n], hundredths)) {
            error = "--gamma " + Quoted(value) + ": " + Quoted(items[n]) +
                    " is not a decimal number like 1.8";
            return false;
        }
        if (hundredths < kMinGamma || hundredths > kMaxGamma) {
            error = "--gamma " + Quoted(value) + ": " + items[n] +
                    " is out of range 0.10 to 10.00";
            return false;
        }
        gamma[n] = static_cast<int32_t>(hundredths);
    }
    for (size_t n = 0; n < 3; ++n)
        options.gamma[n] = gamma[items.size() == 1 ? 0 : n];
    return true;
}

bool ParseFileName(const std::string& name, const std::string& value, std::string& file,
                   std::string& error)
{
    if (value.empty()) {
        error = name + " needs a file name (or - for the standard stream)";
        return false;
    }
    file = value == "-" ? std::string() : value;
    return true;
}

}  // namespace

size_t Options::FrameBytes() const
{
    return size_t{width} * height * (format == PixelFormat::kYuy2 ? 2 : 3);
}

bool ParseGammaText(const std::string& text, int64_t& hundredths)
{
    size_t pos = 0;
    const bool negative = !text.empty() && text[0] == '-';
    if (!text.empty() && (text[0] == '-' || text[0] == '+'))
        ++pos;
    int64_t whole = 0;
    int digits = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos, ++digits) {
        // Anything this big is out of range anyway; stop before it can overflow.
        if (whole < 1000000)
            whole = whole * 10 + (text[pos] - '0');
    }
    int fraction[3] = {0, 0, 0};
    if (pos < text.size() && text[pos] == '.') {
        ++pos;
        for (int place = 0; pos < text.size() && IsDigit(text[pos]); ++pos, ++digits, ++place) {
            if (place < 3)
                fraction[place] = text[pos] - '0';
        }
    }
    if (digits == 0 || pos != text.size())
        return false;
    // Decimal digits, not a double: 1.005 must round to 101, not to 100.
    const int64_t value = whole * 100 + fraction[0] * 10 + fraction[1] + (fraction[2] >= 5 ? 1 : 0);
    hundredths = negative ? -value : value;
    return true;
}

ParseResult ParseOptions(const std::vector<std::string>& args)
{
    using Handler = bool (*)(const std::string&, Options&, std::string&);
    struct ValueOption {
        const char* longName;
        const char* shortName;
        Handler handler;
    };
    static const ValueOption kValueOptions[] = {
        {"--format", nullptr, ParseFormat},
        {"--variant", nullptr, ParseVariant},
        {"--size", nullptr, ParseSize},
        {"--gamma", nullptr, ParseGammas},
        {"--input", "-i",
         [](const std::string& v, Options& o, std::string& e) {
             return ParseFileName("--input", v, o.input, e);
         }},
        {"--output", "-o",
         [](const std::string& v, Options& o, std::string& e) {
             return ParseFileName("--output", v, o.output, e);
         }},
    };

    ParseResult result;
    Options& options = result.options;
    bool haveFormat = false, haveVariant = false, haveSize = false, haveGamma = false;

    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string name = arg;
        std::string value;
        bool inlineValue = false;
        const size_t eq = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            inlineValue = true;
        }

        if (name == "--help" || name == "-h" || name == "--quiet" || name == "-q" ||
            name == "--progress") {
            if (inlineValue) {
                result.error = "option " + name + " takes no value";
                return result;
            }
            if (name == "--help" || name == "-h") {
                options.help = true;
                result.ok = true;
                return result;
            }
            options.progress = name == "--progress" ? Progress::kOn : Progress::kOff;
            continue;
        }

        const ValueOption* option = nullptr;
        for (const ValueOption& candidate : kValueOptions) {
            if (name == candidate.longName ||
                (candidate.shortName != nullptr && name == candidate.shortName))
                option = &candidate;
        }
        if (option == nullptr) {
            result.error = (arg.size() > 1 && arg[0] == '-' ? "unknown option " : "unexpected argument ") +
                           Quoted(arg);
            return result;
        }
        if (!inlineValue) {
            // A following option is a forgotten value, not a value.
            if (i + 1 >= args.size() || args[i + 1].compare(0, 2, "--") == 0) {
                result.error = "option " + name + " needs a value";
                return result;
            }
            value = args[++i];
        }
        if (!option->handler(value, options, result.error))
            return result;
        const std::string longName = option->longName;
        haveFormat |= longName == "--format";
        haveVariant |= longName == "--variant";
        haveSize |= longName == "--size";
        haveGamma |= longName == "--gamma";
    }

    if (!haveFormat) {
        result.error = "missing --format (yuy2 or bgr24)";
    } else if (!haveSize) {
        result.error = "missing --size WIDTHxHEIGHT";
    } else if (!haveGamma) {
        result.error = "missing --gamma R,G,B";
    } else if (haveVariant && options.format != PixelFormat::kYuy2) {
        result.error = "--variant applies only to --format yuy2";
    } else if (options.format == PixelFormat::kYuy2 && options.width % 2 != 0) {
        result.error = "--size " + std::to_string(options.width) + "x" +
                       std::to_string(options.height) +
                       ": yuy2 needs an even width (two pixels share one word)";
    } else {
        result.ok = true;
    }
    return result;
}

const char* UsageText()
{
    return "Usage: zvkgamma --format yuy2|bgr24 [--variant first|averaged] --size WxH\n"
           "                --gamma R,G,B [-i IN] [-o OUT] [--quiet|--progress]\n"
           "\n"
           "Corrects the red, green and blue gamma of raw video frames, frame by frame.\n"
           "Frames are packed back to back with unpadded rows, as FFmpeg's rawvideo\n"
           "writes them.\n"
           "\n"
           "  --format yuy2|bgr24   yuy2: packed YUV 4:2:2, bytes Y0 U Y1 V (FFmpeg yuyv422)\n"
           "                        bgr24: three bytes B G R per pixel (FFmpeg bgr24)\n"
           "  --variant first|averaged\n"
           "                        yuy2 only: chroma moves by the first pixel's change of\n"
           "                        each pair (first, the default) or by the average of both\n"
           "  --size WxH            frame size in pixels, 1 to 16384 each way; yuy2 needs\n"
           "                        an even width\n"
           "  --gamma R,G,B         gammas from 0.10 to 10.00 (1.00 leaves a channel as it\n"
           "                        is), rounded to hundredths; one value sets all three\n"
           "  -i, --input IN        read from IN instead of standard input\n"
           "  -o, --output OUT      write to OUT instead of standard output; OUT is replaced\n"
           "                        only when every frame was written\n"
           "  -q, --quiet           no progress line\n"
           "      --progress        progress line even when standard error is not a terminal\n"
           "  -h, --help            this text\n"
           "\n"
           "Without --quiet, progress (frames, frames per second) is shown when standard\n"
           "error is a terminal. An input that ends inside a frame is an error: the whole\n"
           "frames before it are written to standard output, and -o OUT is left as it was.\n"
           "Exit status: 0 done, 1 input, output or partial-frame error, 2 bad command line.\n"
           "\n"
           "Example:\n"
           "  ffmpeg -i in.mp4 -vf scale=640:360 -f rawvideo -pix_fmt yuyv422 - |\n"
           "    zvkgamma --format yuy2 --size 640x360 --gamma 1.8,1.8,1.8 |\n"
           "    ffmpeg -f rawvideo -pix_fmt yuyv422 -s 640x360 -framerate 25 -i - out.mp4\n";
}

}  // namespace zvk
