#include "gamma/kernel_prep.h"

#include <cstring>

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

}  // namespace

const uint64_t kBgrGreenMasks[3] = {PositionMask(0, 1), PositionMask(1, 1), PositionMask(2, 1)};
const uint64_t kBgrRedMasks[3] = {PositionMask(0, 2), PositionMask(1, 2), PositionMask(2, 2)};

YuvPrep PackYuvDeltas(const YuvDeltaEntry* yuvDelta, uint32_t* packed)
{
    bool identity = true;
    bool inRange = true;
    for (int i = 0; i < 768; ++i) {
        const int32_t dY = yuvDelta[i].dY0, dU = yuvDelta[i].dU, dV = yuvDelta[i].dV;
        identity &= (dY | dU | dV) == 0;
        inRange &= dY >= -149 && dY <= 149 && dU >= -127 && dU <= 127 && dV >= -127 && dV <= 127;
        packed[i] = static_cast<uint32_t>(dY + 149) | static_cast<uint32_t>(dU + 127) << kPackedUShift |
                    static_cast<uint32_t>(dV + 127) << kPackedVShift;
    }
    return identity ? YuvPrep::kIdentity : inRange ? YuvPrep::kPacked : YuvPrep::kOutOfRange;
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

void CorrectRgb24Bytes(uint8_t* pixels, uint32_t count, const int32_t* lut)
{
    if (IsIdentityLut(lut))
        return;
    uint8_t bytes[768];
    LutBytes(lut, bytes);
    const uint8_t* red = bytes;
    const uint8_t* green = bytes + 256;
    const uint8_t* blue = bytes + 512;
    uint32_t n = 0;
    // The channel of a byte is its position modulo three: blue, green, red.
    for (; n + 4 <= count; n += 4, pixels += 12) {
        uint8_t* p = pixels;
        const uint32_t a = blue[p[0]] | green[p[1]] << 8 | red[p[2]] << 16 | uint32_t{blue[p[3]]} << 24;
        const uint32_t b = green[p[4]] | red[p[5]] << 8 | blue[p[6]] << 16 | uint32_t{green[p[7]]} << 24;
        const uint32_t c = red[p[8]] | blue[p[9]] << 8 | green[p[10]] << 16 | uint32_t{red[p[11]]} << 24;
        std::memcpy(p, &a, 4);
        std::memcpy(p + 4, &b, 4);
        std::memcpy(p + 8, &c, 4);
    }
    for (; n < count; ++n, pixels += 3) {
        pixels[0] = blue[pixels[0]];
        pixels[1] = green[pixels[1]];
        pixels[2] = red[pixels[2]];
    }
}

}  // namespace zvk
