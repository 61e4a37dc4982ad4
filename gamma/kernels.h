// Gamma engine: the pixel kernels that apply a TableSet to a frame in place.
// The portable kernels here are the reference that every faster version must
// match byte for byte.
#pragma once

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
