#include "gamma/kernel_timing.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace zvk {
namespace {

// Pixels of the scratch frames: big enough that a run shows the steady
// speed (tens of microseconds), small enough to stay in the second-level
// cache, as a frame a decoder has just written would be.
constexpr uint32_t kTimingPixels = 32768;
constexpr int kTimingRounds = 5;

using Clock = std::chrono::steady_clock;

// Tables away from 1.00 on every channel, so that no identity shortcut
// applies.
void BuildTimingTables(TableSet& tables)
{
    BuildChannel(tables, kRed, 200);
    BuildChannel(tables, kGreen, 50);
    BuildChannel(tables, kBlue, 316);
}

// Pseudo-random bytes, which hit every table entry.
std::vector<uint8_t> TimingBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed;
    for (uint8_t& b : bytes) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

// The fastest of a few runs of each candidate over kTimingPixels, in
// microseconds, the candidates taking turns so that a burst of load
// elsewhere hits all of them. Every run starts from the same bytes.
template <typename Run>
std::vector<double> FastestRuns(int candidates, const std::vector<uint8_t>& source, Run run)
{
    std::vector<double> best(static_cast<size_t>(candidates), 1e30);
    std::vector<uint8_t> frame(source.size());
    for (int round = -1; round < kTimingRounds; ++round) {  // one round to warm up
        for (int c = 0; c < candidates; ++c) {
            std::memcpy(frame.data(), source.data(), frame.size());
            const Clock::time_point start = Clock::now();
            run(c, frame.data());
            const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
            if (round >= 0 && us < best[static_cast<size_t>(c)])
                best[static_cast<size_t>(c)] = us;
        }
    }
    return best;
}

double NsPerPixel(double us)
{
    return us * 1000.0 / kTimingPixels;
}

// The variant to use: the default unless another is clearly faster, since
// which one wins may change with the CPU's microcode, not with the build.
int Fastest(const std::vector<double>& us)
{
    int chosen = 0;
    for (size_t v = 1; v < us.size(); ++v)
        if (us[v] < 0.95 * us[0] && us[v] < us[static_cast<size_t>(chosen)])
            chosen = static_cast<int>(v);
    return chosen;
}

// "avx2 (avx2 12.0 us, avx2-gather 20.1 us)": the chosen variant, then all
// that were timed.
std::string Describe(KernelLevel level, const std::vector<double>& us, int chosen)
{
    std::string text = std::string(KernelVariantName(level, chosen)) + " (";
    char number[64];
    for (size_t v = 0; v < us.size(); ++v) {
        std::snprintf(number, sizeof number, "%s%s %.1f us", v ? ", " : "", KernelVariantName(level, static_cast<int>(v)), us[v]);
        text += number;
    }
    return text + ")";
}

}  // namespace

KernelChoice ChooseKernels(KernelLevel level)
{
    const Clock::time_point start = Clock::now();
    const int variants = KernelVariantCount(level);
    KernelChoice choice{SelectKernels(level), {}, {}};
    TableSet tables{};
    BuildTimingTables(tables);
    const std::vector<uint8_t> source = TimingBytes(3 * size_t{kTimingPixels}, 1);
    // Variants may share a kernel: where none differs, only the default is
    // timed, for its speed. Both YUV kernels read their tables alike;
    // FirstPixel chooses for both.
    bool yuvDiffers = false, rgbDiffers = false;
    for (int v = 1; v < variants; ++v) {
        yuvDiffers |= SelectKernelVariant(level, v).yuvFirstPixel != choice.kernels.yuvFirstPixel;
        rgbDiffers |= SelectKernelVariant(level, v).rgb24 != choice.kernels.rgb24;
    }
    const std::vector<double> yuv = FastestRuns(yuvDiffers ? variants : 1, source, [&](int v, uint8_t* p) {
        SelectKernelVariant(level, v).yuvFirstPixel(p, kTimingPixels, tables.yuvDelta);
    });
    const int yuvChosen = Fastest(yuv);
    choice.kernels.yuvFirstPixel = SelectKernelVariant(level, yuvChosen).yuvFirstPixel;
    choice.kernels.yuvAveraged = SelectKernelVariant(level, yuvChosen).yuvAveraged;
    const std::vector<double> averaged = FastestRuns(1, source, [&](int, uint8_t* p) {
        choice.kernels.yuvAveraged(p, kTimingPixels, tables.yuvDelta);
    });
    const std::vector<double> rgb = FastestRuns(rgbDiffers ? variants : 1, source, [&](int v, uint8_t* p) {
        SelectKernelVariant(level, v).rgb24(p, kTimingPixels, tables.lut);
    });
    const int rgbChosen = Fastest(rgb);
    choice.kernels.rgb24 = SelectKernelVariant(level, rgbChosen).rgb24;
    choice.speeds = {NsPerPixel(yuv[static_cast<size_t>(yuvChosen)]), NsPerPixel(averaged[0]),
                     NsPerPixel(rgb[static_cast<size_t>(rgbChosen)])};

    char averagedText[64], rest[96];
    std::snprintf(averagedText, sizeof averagedText, ", averaged %.1f us", averaged[0]);
    std::snprintf(rest, sizeof rest, "; %u pixels, best of %d runs, timed in %.2f ms", kTimingPixels, kTimingRounds,
                  std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    choice.report = "YUV " + Describe(level, yuv, yuvChosen) + averagedText + ", BGR24 " + Describe(level, rgb, rgbChosen) + rest;
    return choice;
}

namespace {

// Nothing to destroy: at process exit a thread the system killed may hold
// the heap, and a static destructor that frees would wait for it.
struct Chosen {
    Kernels kernels;
    KernelSpeeds speeds;
    char report[512];
};

const Chosen& Best()
{
    static const Chosen chosen = [] {
        const KernelChoice choice = ChooseKernels(BestKernelLevel());
        Chosen kept = {choice.kernels, choice.speeds, {}};
        std::snprintf(kept.report, sizeof kept.report, "%s", choice.report.c_str());
        return kept;
    }();
    return chosen;
}

}  // namespace

const Kernels& BestKernels()
{
    return Best().kernels;
}

const KernelSpeeds& BestKernelSpeeds()
{
    return Best().speeds;
}

const char* BestKernelsReport()
{
    return Best().report;
}

}  // namespace zvk
