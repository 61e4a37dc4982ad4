// Gamma engine, internal: the per-call preparation the fast kernels share.
// Compiled without any instruction-set flag, so every level can call it.
#pragma once

#include <cstdint>

#include "gamma/gamma_tables.h"

namespace zvk {

// One YuvDeltaEntry in 32 bits, biased so that the sum of three entries (one
// per channel) and the sum of two pixels' chroma never carry across fields:
// bits 0..9 dY + 149, bits 10..20 dU + 127, bits 21..31 dV + 127.
constexpr uint32_t kPackedYBias = 149;
constexpr uint32_t kPackedChromaBias = 127;
constexpr int kPackedUShift = 10;
constexpr int kPackedVShift = 21;

enum class YuvPrep {
    kIdentity,    // every delta is zero: the frame stays as it is
    kPacked,      // packed[] holds all 768 entries
    kOutOfRange,  // an entry exceeds what packing holds: use the portable kernel
};

// Fills packed[768] from yuvDelta. Only dY0 counts: the kernels add the
// first luma lane to both pixels, as the portable kernels do.
YuvPrep PackYuvDeltas(const YuvDeltaEntry* yuvDelta, uint32_t* packed);

// The same fields with the biases spread over the channels so that each
// field of a sum of three entries (red, green, blue) carries exactly
// kSummedBias: dY biased by 149, 149, 214 and dU, dV by 127, 127, 258. A
// kernel then removes the bias by widening samples to sample - 512. Every
// sum stays below 1024 in each field.
constexpr uint32_t kSummedBias = 512;
YuvPrep PackYuvDeltasSummedBias(const YuvDeltaEntry* yuvDelta, uint32_t* packed);

// Scratch on a 64-byte boundary, aligned by hand: a 32-bit Windows build
// does not keep alignas(64) for locals.
template <typename T>
class AlignedScratch {
public:
    T& get() { return *reinterpret_cast<T*>(raw_ + (64 - reinterpret_cast<uintptr_t>(raw_) % 64) % 64); }

private:
    unsigned char raw_[sizeof(T) + 64];
};

// The same deltas as byte planes for kernels that look up bytes in
// registers: dU + 127 and dV + 127, and dY either as dY + 128 in one byte
// (narrowLuma, true for every gamma from 10 to 1000) or as dY + 149 split
// into its low byte and its high bit. Each plane is 768 bytes in the usual
// channel blocks.
struct YuvDeltaPlanes {
    alignas(64) uint8_t yLow[768];
    alignas(64) uint8_t yHigh[768];
    alignas(64) uint8_t u[768];
    alignas(64) uint8_t v[768];
    bool narrowLuma;
};
constexpr uint32_t kNarrowYBias = 128;
YuvPrep SplitYuvDeltas(const YuvDeltaEntry* yuvDelta, YuvDeltaPlanes& planes);

// Whether lut maps every channel's value to itself in its low 8 bits, the
// only bits a kernel stores.
bool IsIdentityLut(const int32_t* lut);

// Low 8 bits of every lut entry, for kernels that look up bytes.
void LutBytes(const int32_t* lut, uint8_t* bytes);

// Bit j is set when byte j of a 64-byte vector starting at frame byte
// 64 * phase is a green (or red) byte of a BGR24 frame. Defined out of line
// so that kernels load them from memory: built from immediates they would
// go through the stack on 32-bit x86, and stall every step.
extern const uint64_t kBgrGreenMasks[3];
extern const uint64_t kBgrRedMasks[3];

}  // namespace zvk
