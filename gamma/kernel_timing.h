// Gamma engine: the kernels timed once, at the first Init: which variant of
// a level runs each kernel, and how fast the chosen kernels are on one core
// (what the frame plan cuts frames by). Portable; calls only the C++
// standard library.
#pragma once

#include <string>

#include "gamma/frame_slices.h"
#include "gamma/kernels.h"

namespace zvk {

// How long one pixel takes on one core with each kernel, in nanoseconds.
struct KernelSpeeds {
    double yuvFirstPixel;
    double yuvAveraged;
    double rgb24;
    double Of(FrameKernel kernel) const
    {
        return kernel == FrameKernel::kRgb24 ? rgb24 : kernel == FrameKernel::kYuvAveraged ? yuvAveraged : yuvFirstPixel;
    }
};

// The kernels of a level and, where it has variants, for each kernel the
// variant that was fastest on scratch frames; with the speed of each chosen
// kernel, from the same runs (a millisecond or two in all). report says in
// one line what was chosen and why.
struct KernelChoice {
    Kernels kernels;
    KernelSpeeds speeds;
    std::string report;
};
KernelChoice ChooseKernels(KernelLevel level);

// What Init installs: ChooseKernels(BestKernelLevel()), made on the first
// call only.
const Kernels& BestKernels();
const KernelSpeeds& BestKernelSpeeds();
const char* BestKernelsReport();

}  // namespace zvk
