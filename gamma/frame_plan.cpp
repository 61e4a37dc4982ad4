#include "gamma/frame_plan.h"

namespace zvk {

FramePlan PlanFrames(FrameKernel kernel, uint32_t pixels, const KernelSpeeds* speeds, int processors)
{
    const uint32_t least = kernel == FrameKernel::kRgb24 ? 1 : 2;
    if (pixels < least)
        return {0, kernel, 1};
    return {pixels, kernel, speeds ? SliceCount(speeds->Of(kernel), pixels, processors) : 1};
}

}  // namespace zvk
