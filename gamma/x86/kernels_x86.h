// Gamma engine, internal: the x86 kernel sets, one per instruction-set level.
// Each lives in its own file, compiled with that level's flags; only the
// dispatcher calls the sets, after checking the CPU.
#pragma once

#include "gamma/kernels.h"

namespace zvk {

const Kernels& Sse2Kernels();
// The same YUV kernels; BGR24 takes its bytes out of vector lanes, which
// is faster where loads and stores are scarce (Atom-class cores).
const Kernels& Sse2LanesKernels();
// Scalar table reads, and gathers: which is faster depends on the CPU.
const Kernels& Avx2Kernels();
const Kernels& Avx2GatherKernels();
const Kernels& Avx512Kernels();

// CorrectRgb24 with scalar table reads, four pixels per step as three
// little-endian 32-bit loads and stores; the SSE2 and AVX2 levels share it.
// Returns at once for an identity lut.
void CorrectRgb24Words(uint8_t* pixels, uint32_t count, const int32_t* lut);

// Table j serves byte j of a 12-byte group of four pixels: its channel is
// j % 3 (blue, green, red) and its place in a 32-bit word is j % 4, so each
// entry holds the corrected byte already shifted there.
using Rgb24WordTables = uint32_t[12][256];
void BuildRgb24WordTables(const int32_t* lut, Rgb24WordTables& tables);

}  // namespace zvk
