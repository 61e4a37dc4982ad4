#include "gamma/frame_slices.h"

#include <cmath>

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
