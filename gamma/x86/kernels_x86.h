// Gamma engine, internal: the x86 kernel sets, one per instruction-set level.
// Each lives in its own file, compiled with that level's flags; only the
// dispatcher calls the sets, after checking the CPU.
#pragma once

#include "gamma/kernels.h"

namespace zvk {

const Kernels& Sse2Kernels();
// Scalar table reads, and gathers: which is faster depends on the CPU.
const Kernels& Avx2Kernels();
const Kernels& Avx2GatherKernels();
const Kernels& Avx512Kernels();

// CorrectRgb24 with scalar table reads, four pixels per step as three
// little-endian 32-bit loads and stores; the SSE2 and AVX2 levels share it.
// Returns at once for an identity lut.
void CorrectRgb24Words(uint8_t* pixels, uint32_t count, const int32_t* lut);

}  // namespace zvk
