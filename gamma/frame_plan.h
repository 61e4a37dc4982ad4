// Gamma engine: what the frames of one format need, decided once per format
// from the kernel, the pixel count, the kernels' speeds and the processors.
// Portable; calls only the C++ standard library.
#pragma once

#include <cstdint>

#include "gamma/frame_slices.h"
#include "gamma/kernel_timing.h"

namespace zvk {

// No pixels: frames are left as they are.
struct FramePlan {
    uint32_t pixels;
    FrameKernel kernel;
    int slices;
};

// The plan for frames of `pixels` pixels corrected by `kernel`. A frame too
// small for the kernel (a YUV kernel needs a pixel pair) is left as it is.
// Unknown speeds (nullptr: no Init has timed the kernels yet) keep a frame
// in one slice, as does SliceCount for a frame one core corrects quickly.
FramePlan PlanFrames(FrameKernel kernel, uint32_t pixels, const KernelSpeeds* speeds, int processors);

}  // namespace zvk
