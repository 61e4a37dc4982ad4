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
    // Table j serves byte j of a 12-byte group of four pixels: its channel
    // is j % 3 (blue, green, red) and its place in a 32-bit word is j % 4,
    // so each entry holds the corrected byte already shifted there. An
    // output word is then four loads or-ed together, and 32-bit x86 has
    // registers to spare for the loop.
    uint32_t tables[12][256];
    for (int j = 0; j < 12; ++j) {
        const int32_t* block = lut + 256 * (2 - j % 3);
        const int shift = 8 * (j % 4);
        for (int i = 0; i < 256; ++i)
            tables[j][i] = (static_cast<uint32_t>(block[i]) & 0xFF) << shift;
    }
    auto word = [&tables](int k, uint32_t w) {
        const uint32_t(*t)[256] = tables + 4 * k;
        return t[0][w & 0xFF] | t[1][(w >> 8) & 0xFF] | t[2][(w >> 16) & 0xFF] | t[3][w >> 24];
    };
    uint32_t n = 0;
    for (; n + 4 <= count; n += 4, pixels += 12) {
        uint32_t a, b, c;
        std::memcpy(&a, pixels, 4);
        std::memcpy(&b, pixels + 4, 4);
        std::memcpy(&c, pixels + 8, 4);
        a = word(0, a);
        b = word(1, b);
        c = word(2, c);
        std::memcpy(pixels, &a, 4);
        std::memcpy(pixels + 4, &b, 4);
        std::memcpy(pixels + 8, &c, 4);
    }
    for (; n < count; ++n, pixels += 3) {
        pixels[0] = static_cast<uint8_t>(tables[0][pixels[0]]);
        pixels[1] = static_cast<uint8_t>(tables[1][pixels[1]] >> 8);
        pixels[2] = static_cast<uint8_t>(tables[2][pixels[2]] >> 16);
    }
}

}  // namespace zvk
