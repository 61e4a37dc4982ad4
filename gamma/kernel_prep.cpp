#include "gamma/kernel_prep.h"

namespace zvk {
namespace {

constexpr uint64_t PositionMask(int phase, int position)
{
    uint64_t mask = 0;
    for (int j = 0; j < 64; ++j)
        if ((64 * phase + j) % 3 == position)
            mask |= uint64_t{1} << j;
    return mask;
}

// Packs with per-channel biases for dY and for dU and dV (red, green, blue).
YuvPrep PackWithBiases(const YuvDeltaEntry* yuvDelta, uint32_t* packed, const int32_t (&yBias)[3],
                       const int32_t (&chromaBias)[3])
{
    bool identity = true;
    bool inRange = true;
    for (int i = 0; i < 768; ++i) {
        const int32_t dY = yuvDelta[i].dY0, dU = yuvDelta[i].dU, dV = yuvDelta[i].dV;
        identity &= (dY | dU | dV) == 0;
        inRange &= dY >= -149 && dY <= 149 && dU >= -127 && dU <= 127 && dV >= -127 && dV <= 127;
        const int32_t yb = yBias[i / 256], cb = chromaBias[i / 256];
        packed[i] = static_cast<uint32_t>(dY + yb) | static_cast<uint32_t>(dU + cb) << kPackedUShift |
                    static_cast<uint32_t>(dV + cb) << kPackedVShift;
    }
    return identity ? YuvPrep::kIdentity : inRange ? YuvPrep::kPacked : YuvPrep::kOutOfRange;
}

}  // namespace

const uint64_t kBgrGreenMasks[3] = {PositionMask(0, 1), PositionMask(1, 1), PositionMask(2, 1)};
const uint64_t kBgrRedMasks[3] = {PositionMask(0, 2), PositionMask(1, 2), PositionMask(2, 2)};

YuvPrep PackYuvDeltas(const YuvDeltaEntry* yuvDelta, uint32_t* packed)
{
    constexpr int32_t y = kPackedYBias, c = kPackedChromaBias;
    return PackWithBiases(yuvDelta, packed, {y, y, y}, {c, c, c});
}

YuvPrep PackYuvDeltasSummedBias(const YuvDeltaEntry* yuvDelta, uint32_t* packed)
{
    static_assert(149 + 149 + 214 == kSummedBias && 127 + 127 + 258 == kSummedBias, "each field sums to the bias");
    return PackWithBiases(yuvDelta, packed, {149, 149, 214}, {127, 127, 258});
}

YuvPrep SplitYuvDeltas(const YuvDeltaEntry* yuvDelta, YuvDeltaPlanes& planes)
{
    bool identity = true;
    bool inRange = true;
    bool narrow = true;
    for (int i = 0; i < 768; ++i) {
        const int32_t dY = yuvDelta[i].dY0, dU = yuvDelta[i].dU, dV = yuvDelta[i].dV;
        identity &= (dY | dU | dV) == 0;
        inRange &= dY >= -149 && dY <= 149 && dU >= -127 && dU <= 127 && dV >= -127 && dV <= 127;
        narrow &= dY >= -128 && dY <= 127;
    }
    planes.narrowLuma = narrow;
    const int32_t yBias = narrow ? static_cast<int32_t>(kNarrowYBias) : static_cast<int32_t>(kPackedYBias);
    for (int i = 0; i < 768; ++i) {
        const auto y = static_cast<uint32_t>(yuvDelta[i].dY0 + yBias);
        planes.yLow[i] = static_cast<uint8_t>(y);
        planes.yHigh[i] = static_cast<uint8_t>(y >> 8);
        planes.u[i] = static_cast<uint8_t>(yuvDelta[i].dU + 127);
        planes.v[i] = static_cast<uint8_t>(yuvDelta[i].dV + 127);
    }
    return identity ? YuvPrep::kIdentity : inRange ? YuvPrep::kPacked : YuvPrep::kOutOfRange;
}

bool IsIdentityLut(const int32_t* lut)
{
    bool identity = true;
    for (int i = 0; i < 768; ++i)
        identity &= (lut[i] & 0xFF) == (i & 0xFF);
    return identity;
}

void LutBytes(const int32_t* lut, uint8_t* bytes)
{
    for (int i = 0; i < 768; ++i)
        bytes[i] = static_cast<uint8_t>(lut[i]);
}

}  // namespace zvk
