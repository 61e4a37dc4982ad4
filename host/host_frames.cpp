// Frames through Process from a thread of their own while the dialog is open,
// as a host's video thread does, and a check of what they came out as.
//   framethread start SECTION W H FORMAT VARIANT
//   framethread stop [MIN]
//   framecheck R G B | framecheck dialog
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

#include "host/host_ui.h"

namespace zvkhost {
namespace {

class FrameThread {
public:
    bool Running() const { return thread_.joinable(); }

    void Start(int64_t section, const zvk::FrameFormat& format)
    {
        format_ = format;
        const size_t pixels = static_cast<size_t>(format.width) * static_cast<size_t>(format.height);
        source_.resize(pixels * (format.colourFormat == zvk::kYuv422 ? 2 : 3));
        // Every byte value in every colour position: 3 and 256 share no factor.
        for (size_t i = 0; i < source_.size(); ++i)
            source_[i] = static_cast<uint8_t>(i);
        stop_ = false;
        started_ = 0;
        latestFrame_ = -1;
        thread_ = std::thread([this, section] { Run(section); });
    }

    int64_t Stop()
    {
        stop_ = true;
        thread_.join();
        return started_;
    }

    // The first frame whose Process call began after now, once it is done.
    bool NextFrame(std::vector<uint8_t>& frame)
    {
        const int64_t wanted = started_;
        for (int waited = 0; waited < 5000; waited += 5) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                if (latestFrame_ >= wanted) {
                    frame = latest_;
                    return true;
                }
            }
            Sleep(5);
        }
        return false;
    }

    const std::vector<uint8_t>& Source() const { return source_; }
    const zvk::FrameFormat& Format() const { return format_; }

private:
    void Run(int64_t section)
    {
        alignas(4) uint8_t record[sizeof(zvk::SectionInfo) + 16] = {};
        auto* info = reinterpret_cast<zvk::SectionInfo*>(record);
        info->idLow = static_cast<int32_t>(static_cast<uint64_t>(section) & 0xFFFFFFFFu);
        info->idHigh = static_cast<int32_t>(static_cast<uint64_t>(section) >> 32);
        std::vector<uint8_t> buffer(source_.size());
        zvk::FrameParams params = {};
        params.pixels = buffer.data();
        params.section = info;
        while (!stop_) {
            std::memcpy(buffer.data(), source_.data(), buffer.size());
            const int64_t number = started_++;
            Plugin().process(&params);
            std::lock_guard<std::mutex> lock(mutex_);
            latest_ = buffer;
            latestFrame_ = number;
        }
    }

    zvk::FrameFormat format_ = {};
    std::vector<uint8_t> source_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> started_{0};
    std::mutex mutex_;
    std::vector<uint8_t> latest_;
    int64_t latestFrame_ = -1;
} gFrames;

// The plug-in's table formula written out again, independently of its code.
std::vector<uint8_t> GammaTable(int gamma)
{
    std::vector<uint8_t> table(256);
    const double exponent = 100.0 / gamma;
    for (int i = 0; i < 256; ++i)
        table[static_cast<size_t>(i)] =
            static_cast<uint8_t>(std::pow(i * 0.00392156862745098, exponent) * 255.0 + 0.5);
    return table;
}

// "3.16" as 316: the value text of a dialog row in hundredths.
bool ParseValueText(const std::string& text, int& hundredths)
{
    std::string digits;
    for (const char c : text)
        if (c != '.')
            digits += c;
    return text.size() > 3 && text[text.size() - 3] == '.' && ParseNumber(digits, hundredths);
}

bool DialogGammas(int gamma[3], std::string& error)
{
    const HWND dialog = FindSettingsDialog();
    static const int kTexts[3] = {5058, 5059, 5060};
    std::string texts[3];
    OnUi([&] {
        for (int c = 0; c < 3 && dialog; ++c) {
            char text[64] = {};
            GetDlgItemTextA(dialog, kTexts[c], text, sizeof text);
            texts[c] = text;
        }
    });
    for (int c = 0; c < 3; ++c) {
        if (!ParseValueText(texts[c], gamma[c])) {
            error = dialog ? "value text '" + texts[c] + "' is not a gamma" : "no dialog to read gammas from";
            return false;
        }
    }
    return true;
}

bool Check(const int gamma[3], std::string& error)
{
    if (!gFrames.Running() || gFrames.Format().colourFormat != zvk::kBgr24) {
        error = "framecheck needs a BGR24 frame thread";
        return false;
    }
    for (int c = 0; c < 3; ++c) {
        if (gamma[c] <= 0) {
            error = "gammas must be positive";
            return false;
        }
    }
    std::vector<uint8_t> frame;
    if (!gFrames.NextFrame(frame)) {
        error = "no frame came through within 5 s";
        return false;
    }
    // Bytes run blue, green, red.
    const std::vector<uint8_t> tables[3] = {GammaTable(gamma[2]), GammaTable(gamma[1]), GammaTable(gamma[0])};
    static const char* const kNames[3] = {"blue", "green", "red"};
    const std::vector<uint8_t>& source = gFrames.Source();
    for (size_t i = 0; i < frame.size(); ++i) {
        const uint8_t expected = tables[i % 3][source[i]];
        if (frame[i] != expected) {
            std::printf("frame byte %zu (%s %u) is %u, expected %u for gammas %d %d %d\n", i, kNames[i % 3],
                        source[i], frame[i], expected, gamma[0], gamma[1], gamma[2]);
            return true;
        }
    }
    std::printf("frames match %d %d %d\n", gamma[0], gamma[1], gamma[2]);
    return true;
}

}  // namespace

bool IsFrameThreadCommand(const std::string& command)
{
    return command == "framethread" || command == "framecheck";
}

void StopFrameThread()
{
    if (gFrames.Running())
        gFrames.Stop();
}

bool FrameThreadCommand(const std::vector<std::string>& words, std::string& error)
{
    const size_t args = words.size() - 1;
    if (words[0] == "framecheck") {
        int gamma[3] = {};
        if (args == 1 && words[1] == "dialog") {
            if (!DialogGammas(gamma, error))
                return false;
        } else if (args != 3 || !ParseNumber(words[1], gamma[0]) || !ParseNumber(words[2], gamma[1]) ||
                   !ParseNumber(words[3], gamma[2])) {
            error = "usage: framecheck R G B | framecheck dialog";
            return false;
        }
        return Check(gamma, error);
    }
    if (args >= 1 && words[1] == "stop") {
        int least = 1;
        if (args > 2 || (args == 2 && !ParseNumber(words[2], least)) || !gFrames.Running()) {
            error = gFrames.Running() ? "usage: framethread stop [MIN]" : "no frame thread runs";
            return false;
        }
        const int64_t ran = gFrames.Stop();
        if (ran >= least)
            std::printf("framethread stopped after at least %d frames\n", least);
        else
            std::printf("framethread stopped after only %lld frames\n", static_cast<long long>(ran));
        return true;
    }
    long long section = 0;
    zvk::FrameFormat format = {};
    int w = 0, h = 0, colour = 0, variant = 0;
    char* end = nullptr;
    const bool parsed = args == 6 && words[1] == "start" && !words[2].empty() &&
                        ((section = std::strtoll(words[2].c_str(), &end, 10)), *end == '\0') &&
                        ParseNumber(words[3], w) && ParseNumber(words[4], h) && ParseNumber(words[5], colour) &&
                        ParseNumber(words[6], variant);
    if (!parsed || w <= 0 || h <= 0 || (colour != zvk::kYuv422 && colour != zvk::kBgr24)) {
        error = "usage: framethread start SECTION W H FORMAT(0|1) VARIANT | framethread stop [MIN]";
        return false;
    }
    if (gFrames.Running()) {
        error = "a frame thread runs already";
        return false;
    }
    format.width = w;
    format.height = h;
    format.colourFormat = colour;
    format.yuvVariant = variant;
    OnUi([&] { Plugin().setFormat(&format); });
    gFrames.Start(section, format);
    return true;
}

}  // namespace zvkhost
