#include "gamma/kernels.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace zvk {
namespace {

inline int32_t Clamp255(int32_t value)
{
    return value < 0 ? 0 : value > 255 ? 255 : value;
}

// One pixel's change vector {dY, dU, dY, dV}, summed over the three channels.
struct Change {
    int32_t dY, dU, dV;
};

inline Change PixelChange(int32_t y, int32_t blueOffset, int32_t greenOffset,
                          int32_t redOffset, const YuvDeltaEntry* yuvDelta)
{
    const YuvDeltaEntry& r = yuvDelta[Clamp255(y + redOffset)];
    const YuvDeltaEntry& g = yuvDelta[256 + Clamp255(y + greenOffset)];
    const YuvDeltaEntry& b = yuvDelta[512 + Clamp255(y + blueOffset)];
    return {r.dY0 + g.dY0 + b.dY0, r.dU + g.dU + b.dU, r.dV + g.dV + b.dV};
}

// Both YUV kernels share the per-word arithmetic and differ only in how the
// two pixels' chroma changes are combined.
template <bool kAveraged>
void CorrectYuv(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    const uint32_t words = count >> 1;
    for (uint32_t n = 0; n < words; ++n, pixels += 4) {
        const int32_t y0 = pixels[0], cb = pixels[1], y1 = pixels[2], cr = pixels[3];
        const int32_t blueOffset = FixedProduct(cb - 128, kUB);
        const int32_t greenOffset = FixedProduct(cb - 128, kUG) + FixedProduct(cr - 128, kVG);
        const int32_t redOffset = FixedProduct(cr - 128, kVR);
        const Change c1 = PixelChange(y0, blueOffset, greenOffset, redOffset, yuvDelta);
        const Change c2 = PixelChange(y1, blueOffset, greenOffset, redOffset, yuvDelta);

        pixels[0] = static_cast<uint8_t>(Clamp255(y0 + c1.dY));
        pixels[2] = static_cast<uint8_t>(Clamp255(y1 + c2.dY));
        if (kAveraged) {
            // Arithmetic shift: the average rounds toward minus infinity.
            pixels[1] = static_cast<uint8_t>(Clamp255((2 * cb + c1.dU + c2.dU) >> 1));
            pixels[3] = static_cast<uint8_t>(Clamp255((2 * cr + c1.dV + c2.dV) >> 1));
        } else {
            pixels[1] = static_cast<uint8_t>(Clamp255(cb + c1.dU));
            pixels[3] = static_cast<uint8_t>(Clamp255(cr + c1.dV));
        }
    }
}

}  // namespace

void CorrectYuvFirstPixel(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    CorrectYuv<false>(pixels, count, yuvDelta);
}

void CorrectYuvAveraged(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta)
{
    CorrectYuv<true>(pixels, count, yuvDelta);
}

void CorrectRgb24(uint8_t* pixels, uint32_t count, const int32_t* lut)
{
    for (uint32_t n = 0; n < count; ++n, pixels += 3) {
        pixels[0] = static_cast<uint8_t>(lut[512 + pixels[0]]);
        pixels[1] = static_cast<uint8_t>(lut[256 + pixels[1]]);
        pixels[2] = static_cast<uint8_t>(lut[pixels[2]]);
    }
}

const Kernels& PortableKernels()
{
    static const Kernels kernels = {CorrectYuvFirstPixel, CorrectYuvAveraged, CorrectRgb24};
    return kernels;
}

namespace {

// Pixels of the scratch frames ChooseKernels times: big enough that a run
// shows the steady speed (tens of microseconds), small enough to stay in
// the second-level cache.
constexpr uint32_t kChoicePixels = 32768;
constexpr int kChoiceRounds = 5;

using Clock = std::chrono::steady_clock;

// The fastest of a few runs of each variant of one kernel, in microseconds,
// the variants taking turns so that a burst of load elsewhere hits all of
// them. Every run starts from the same bytes.
template <typename Run>
std::vector<double> FastestRuns(int variants, const std::vector<uint8_t>& source, Run run)
{
    std::vector<double> best(static_cast<size_t>(variants), 1e30);
    std::vector<uint8_t> frame(source.size());
    for (int round = -1; round < kChoiceRounds; ++round) {  // one round to warm up
        for (int v = 0; v < variants; ++v) {
            std::memcpy(frame.data(), source.data(), frame.size());
            const Clock::time_point start = Clock::now();
            run(v, frame.data());
            const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
            if (round >= 0 && us < best[static_cast<size_t>(v)])
                best[static_cast<size_t>(v)] = us;
        }
    }
    return best;
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

// "avx2 (avx2 12.0 us, avx2-gather 20.1 us)": the chosen variant, then all.
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

void BuildTimingTables(TableSet& tables)
{
    BuildChannel(tables, kRed, 200);
    BuildChannel(tables, kGreen, 50);
    BuildChannel(tables, kBlue, 316);
}

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

KernelChoice ChooseKernels(KernelLevel level)
{
    const int variants = KernelVariantCount(level);
    KernelChoice choice{SelectKernels(level), "one variant, nothing measured"};
    if (variants < 2)
        return choice;

    const Clock::time_point start = Clock::now();
    TableSet tables{};
    BuildTimingTables(tables);
    const std::vector<uint8_t> source = TimingBytes(3 * size_t{kChoicePixels}, 1);
    // Variants may share a kernel; only those that differ are timed. Both
    // YUV kernels read their tables alike; FirstPixel speaks for both.
    bool yuvDiffers = false, rgbDiffers = false;
    for (int v = 1; v < variants; ++v) {
        yuvDiffers |= SelectKernelVariant(level, v).yuvFirstPixel != choice.kernels.yuvFirstPixel;
        rgbDiffers |= SelectKernelVariant(level, v).rgb24 != choice.kernels.rgb24;
    }
    std::string yuvReport = std::string(KernelVariantName(level, 0)) + " (the same in every variant)";
    std::string rgbReport = yuvReport;
    if (yuvDiffers) {
        const std::vector<double> yuv = FastestRuns(variants, source, [&](int v, uint8_t* p) {
            SelectKernelVariant(level, v).yuvFirstPixel(p, kChoicePixels, tables.yuvDelta);
        });
        const int chosen = Fastest(yuv);
        choice.kernels.yuvFirstPixel = SelectKernelVariant(level, chosen).yuvFirstPixel;
        choice.kernels.yuvAveraged = SelectKernelVariant(level, chosen).yuvAveraged;
        yuvReport = Describe(level, yuv, chosen);
    }
    if (rgbDiffers) {
        const std::vector<double> rgb = FastestRuns(variants, source, [&](int v, uint8_t* p) {
            SelectKernelVariant(level, v).rgb24(p, kChoicePixels, tables.lut);
        });
        const int chosen = Fastest(rgb);
        choice.kernels.rgb24 = SelectKernelVariant(level, chosen).rgb24;
        rgbReport = Describe(level, rgb, chosen);
    }
    char took[64];
    std::snprintf(took, sizeof took, "; %u pixels, best of %d runs, chosen in %.2f ms", kChoicePixels, kChoiceRounds,
                  std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    choice.report = "YUV " + yuvReport + ", BGR24 " + rgbReport + took;
    return choice;
}

namespace {

// Nothing to destroy: at process exit a thread the system killed may hold
// the heap, and a static destructor that frees would wait for it.
struct Chosen {
    Kernels kernels;
    char report[512];
};

const Chosen& Best()
{
    static const Chosen chosen = [] {
        const KernelChoice choice = ChooseKernels(BestKernelLevel());
        Chosen kept = {choice.kernels, {}};
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

const char* BestKernelsReport()
{
    return Best().report;
}

const char* KernelLevelName(KernelLevel level)
{
    switch (level) {
    case KernelLevel::kPortable:
        return "portable";
    case KernelLevel::kSse2:
        return "sse2";
    case KernelLevel::kAvx2:
        return "avx2";
    case KernelLevel::kAvx512:
        return "avx512";
    }
    return "unknown";
}

}  // namespace zvk
