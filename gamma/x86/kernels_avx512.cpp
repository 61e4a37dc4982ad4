// AVX-512 kernels (F, BW, VBMI). Until they exist here the level reuses the
// AVX2 set, so dispatch and tests already cover it.
#include "gamma/x86/kernels_x86.h"

namespace zvk {

const Kernels& Avx512Kernels()
{
    return Avx2Kernels();
}

}  // namespace zvk
