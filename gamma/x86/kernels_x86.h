// Gamma engine, internal: the x86 kernel sets, one per instruction-set level.
// Each lives in its own file, compiled with that level's flags; only the
// dispatcher calls these, after checking the CPU.
#pragma once

#include "gamma/kernels.h"

namespace zvk {

const Kernels& Sse2Kernels();
// Scalar table reads, and gathers: which is faster depends on the CPU.
const Kernels& Avx2Kernels();
const Kernels& Avx2GatherKernels();
const Kernels& Avx512Kernels();

}  // namespace zvk
