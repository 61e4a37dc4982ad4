// Shared by the benchmarks: the frame sizes, the gamma used, test frames, and
// the in-place streaming pass every kernel is measured against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "gamma/kernels.h"

namespace zvk::bench {

struct FrameSize {
    const char* name;
    uint32_t width, height;
};

constexpr FrameSize kFrameSizes[] = {{"720x576", 720, 576}, {"1920x1080", 1920, 1080}, {"3840x2160", 3840, 2160}};

enum class Kernel { kYuvFirstPixel, kYuvAveraged, kRgb24 };
constexpr Kernel kAllKernels[] = {Kernel::kYuvFirstPixel, Kernel::kYuvAveraged, Kernel::kRgb24};

const char* KernelName(Kernel kernel);
uint32_t BytesPerPixel(Kernel kernel);
void RunKernel(const Kernels& kernels, Kernel kernel, uint8_t* pixels, uint32_t count, const TableSet& set);

// A non-identity set (red 2.00, green 0.50, blue 3.16) so no shortcut applies.
TableSet BenchTables();
TableSet IdentityTables();

// Pseudo-random bytes: every table entry gets hit, no branch is predictable.
std::vector<uint8_t> RandomFrame(size_t bytes, uint32_t seed);

// Reads and writes every byte once, in place, as fast as this CPU can: the
// practical memory limit of an in-place kernel over the same buffer.
void StreamInPlace(uint8_t* bytes, size_t size);

}  // namespace zvk::bench
