#include "gamma/frame_slices.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "gamma/as_double.h"

namespace zvk {

void CorrectFrameSlice(void* job, int slice, int slices)
{
    const FrameJob& frame = *static_cast<const FrameJob*>(job);
    const FrameSlice part = SliceOfFrame(frame.count, slice, slices);
    if (part.count == 0)
        return;
    switch (frame.kernel) {
    case FrameKernel::kYuvFirstPixel:
        return frame.kernels->yuvFirstPixel(frame.pixels + size_t{part.start} * 2, part.count, frame.tables->yuvDelta);
    case FrameKernel::kYuvAveraged:
        return frame.kernels->yuvAveraged(frame.pixels + size_t{part.start} * 2, part.count, frame.tables->yuvDelta);
    case FrameKernel::kRgb24:
        return frame.kernels->rgb24(frame.pixels + size_t{part.start} * 3, part.count, frame.tables->lut);
    }
}

namespace {

// Large enough to show the steady speed, small enough to stay in the
// second-level cache as a frame just written by a decoder would be.
constexpr uint32_t kSpeedPixels = 32768;
constexpr int kSpeedRuns = 3;

double FastestNsPerPixel(const Kernels& kernels, FrameKernel kernel, const TableSet& tables,
                         const std::vector<uint8_t>& source)
{
    using Clock = std::chrono::steady_clock;
    std::vector<uint8_t> frame(source.size());
    FrameJob job{&kernels, kernel, &tables, frame.data(), kSpeedPixels};
    double best = 1e30;
    for (int run = -1; run < kSpeedRuns; ++run) {  // one run to warm up
        std::memcpy(frame.data(), source.data(), frame.size());
        const Clock::time_point start = Clock::now();
        CorrectFrameSlice(&job, 0, 1);
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        if (run >= 0 && ns < best)
            best = ns;
    }
    return best / kSpeedPixels;
}

}  // namespace

KernelSpeeds MeasureKernelSpeeds(const Kernels& kernels)
{
    TableSet tables{};
    BuildTimingTables(tables);
    const std::vector<uint8_t> source = TimingBytes(3 * size_t{kSpeedPixels}, 7);
    return {FastestNsPerPixel(kernels, FrameKernel::kYuvFirstPixel, tables, source),
            FastestNsPerPixel(kernels, FrameKernel::kYuvAveraged, tables, source),
            FastestNsPerPixel(kernels, FrameKernel::kRgb24, tables, source)};
}

int SliceCount(double nsPerPixel, uint64_t pixels, int processors)
{
    const double ns = AsDouble(nsPerPixel * static_cast<double>(pixels));
    if (!(ns > kSliceTargetNs) || processors < 2)
        return 1;
    const int limit = processors < kMaxSlices ? processors : kMaxSlices;
    const double wanted = std::ceil(AsDouble(ns / kSliceTargetNs));
    return wanted >= limit ? limit : static_cast<int>(wanted);
}

}  // namespace zvk
