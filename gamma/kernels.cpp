#include "gamma/kernels.h"


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
