// Gamma engine: a frame cut into slices that threads may correct at once,
// and when cutting pays. Portable; calls only the C++ standard library.
#pragma once

#include <cstdint>

#include "gamma/kernels.h"

namespace zvk {

// Pixels start .. start + count - 1 of a frame.
struct FrameSlice {
    uint32_t start;
    uint32_t count;
};

// Slice `slice` of `slices` over a frame of `count` pixels. Slices start on
// pixel pairs (a YUV word never straddles two) and the last one takes an
// odd pixel, so for any count and any number of slices they tile the frame
// with no gap and no overlap. A slice may be empty when pairs are few.
constexpr FrameSlice SliceOfFrame(uint32_t count, int slice, int slices)
{
    const uint64_t pairs = count / 2;
    const auto start = static_cast<uint32_t>(pairs * static_cast<uint64_t>(slice) / static_cast<uint64_t>(slices) * 2);
    const uint32_t end = slice + 1 >= slices
                             ? count
                             : static_cast<uint32_t>(pairs * static_cast<uint64_t>(slice + 1) / static_cast<uint64_t>(slices) * 2);
    return {start, end - start};
}

enum class FrameKernel { kYuvFirstPixel, kYuvAveraged, kRgb24 };

// One frame's correction, shared by all its slices.
struct FrameJob {
    const Kernels* kernels;
    FrameKernel kernel;
    const TableSet* tables;
    uint8_t* pixels;
    uint32_t count;
};

// Corrects slice `slice` of `slices` of the FrameJob at `job`: the shape of
// the slice pool's job, so a frame is split by handing this over.
void CorrectFrameSlice(void* job, int slice, int slices);

// A frame that one core corrects within this time is not split.
constexpr double kSliceTargetNs = 1e6;
constexpr int kMaxSlices = 4;

// How many slices a frame of `pixels` should be cut into: 1 (no thread)
// when one core corrects it within kSliceTargetNs, else enough that a slice
// takes about that long or less, at most kMaxSlices and never more than the
// processors.
int SliceCount(double nsPerPixel, uint64_t pixels, int processors);

}  // namespace zvk
