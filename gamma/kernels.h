// Gamma engine: the pixel kernels that apply a TableSet to a frame in place.
// The portable kernels here are the reference that every faster version must
// match byte for byte.
#pragma once

#include <cstddef>
#include <cstdint>

#include "gamma/gamma_tables.h"

namespace zvk {

// count is in pixels. The YUV kernels correct count / 2 words (a last odd
// pixel stays as it is); the RGB kernel corrects count three-byte pixels.
using YuvKernel = void (*)(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta);
using RgbKernel = void (*)(uint8_t* pixels, uint32_t count, const int32_t* lut);

struct Kernels {
    YuvKernel yuvFirstPixel;
    YuvKernel yuvAveraged;
    RgbKernel rgb24;
};

void CorrectYuvFirstPixel(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta);
void CorrectYuvAveraged(uint8_t* pixels, uint32_t count, const YuvDeltaEntry* yuvDelta);
void CorrectRgb24(uint8_t* pixels, uint32_t count, const int32_t* lut);

// The portable kernels above, as a set.
const Kernels& PortableKernels();

// Instruction-set levels with kernels of their own, in increasing order.
// Every level gives results identical to the portable kernels, byte for byte.
enum class KernelLevel { kPortable = 0, kSse2 = 1, kAvx2 = 2, kAvx512 = 3 };
constexpr int kKernelLevelCount = 4;

// Whether this build has kernels for the level and this CPU can run them.
bool HasKernelLevel(KernelLevel level);
// The kernels of the highest available level not above the one asked for.
const Kernels& SelectKernels(KernelLevel level);
KernelLevel BestKernelLevel();
const char* KernelLevelName(KernelLevel level);

// A level may offer several kernel sets, identical in results but not in
// speed on every CPU: AVX2 reads its tables either with scalar loads or
// with gathers, which are fast on some CPUs and slow on others (AMD before
// Zen 4, Intel parts with the 2023 gather microcode); SSE2 reads BGR24
// bytes either as words or out of vector lanes, which wins on cores short
// of load slots (Atom class). Variants may share a kernel. Variant 0 is
// what SelectKernels gives; an unavailable level has no variant.
int KernelVariantCount(KernelLevel level);
const Kernels& SelectKernelVariant(KernelLevel level, int variant);
const char* KernelVariantName(KernelLevel level, int variant);

// Fixed-point YUV-to-RGB constants, 12 fraction bits.
constexpr int32_t kUB = 7258;
constexpr int32_t kUG = -1410;
constexpr int32_t kVG = -2925;
constexpr int32_t kVR = 5743;

// floor(a * k / 4096), computed as a 16 x 16 multiply keeping the high half.
constexpr int32_t FixedProduct(int32_t a, int32_t k)
{
    return ((16 * a) * k) >> 16;
}

}  // namespace zvk
