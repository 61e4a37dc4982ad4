// Chooses among the x86 kernel sets by what this CPU (and its OS, for the
// wider registers) supports. Compiled without instruction-set flags.
#include "gamma/x86/kernels_x86.h"

namespace zvk {
namespace {

bool CpuSupports(KernelLevel level)
{
    switch (level) {
    case KernelLevel::kPortable:
        return true;
    case KernelLevel::kSse2:
        return __builtin_cpu_supports("sse2");
    case KernelLevel::kAvx2:
        return __builtin_cpu_supports("avx2");
    case KernelLevel::kAvx512:
        return ZVK_HAVE_AVX512 && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vbmi");
    }
    return false;
}

const Kernels& KernelsOf(KernelLevel level)
{
    switch (level) {
    case KernelLevel::kSse2:
        return Sse2Kernels();
    case KernelLevel::kAvx2:
        return Avx2Kernels();
#if ZVK_HAVE_AVX512
    case KernelLevel::kAvx512:
        return Avx512Kernels();
#endif
    default:
        return PortableKernels();
    }
}

}  // namespace

bool HasKernelLevel(KernelLevel level)
{
    static const bool cpuInitialised = (__builtin_cpu_init(), true);
    (void)cpuInitialised;
    return CpuSupports(level);
}

const Kernels& SelectKernels(KernelLevel level)
{
    int wanted = static_cast<int>(level);
    if (wanted >= kKernelLevelCount)
        wanted = kKernelLevelCount - 1;
    for (int l = wanted; l > 0; --l) {
        if (HasKernelLevel(static_cast<KernelLevel>(l)))
            return KernelsOf(static_cast<KernelLevel>(l));
    }
    return PortableKernels();
}

KernelLevel BestKernelLevel()
{
    for (int l = kKernelLevelCount - 1; l > 0; --l) {
        if (HasKernelLevel(static_cast<KernelLevel>(l)))
            return static_cast<KernelLevel>(l);
    }
    return KernelLevel::kPortable;
}

const Kernels& BestKernels()
{
    return SelectKernels(BestKernelLevel());
}

}  // namespace zvk
