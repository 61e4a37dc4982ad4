// Chooses among the x86 kernel sets by what this CPU (and its OS, for the
// wider registers) supports. Compiled without instruction-set flags.
#include <cstddef>

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

struct Variant {
    const Kernels& (*kernels)();
    const char* name;
};

// Each level's kernel sets, the default first.
const Variant kPortableVariants[] = {{PortableKernels, "portable"}};
const Variant kSse2Variants[] = {{Sse2Kernels, "sse2"}, {Sse2LanesKernels, "sse2-lanes"}};
const Variant kAvx2Variants[] = {{Avx2Kernels, "avx2"}, {Avx2GatherKernels, "avx2-gather"}};
#if ZVK_HAVE_AVX512
const Variant kAvx512Variants[] = {{Avx512Kernels, "avx512"}};
#endif

template <size_t kCount>
int Count(const Variant (&)[kCount])
{
    return static_cast<int>(kCount);
}

const Variant* VariantsOf(KernelLevel level, int& count)
{
    switch (level) {
    case KernelLevel::kPortable:
        count = Count(kPortableVariants);
        return kPortableVariants;
    case KernelLevel::kSse2:
        count = Count(kSse2Variants);
        return kSse2Variants;
    case KernelLevel::kAvx2:
        count = Count(kAvx2Variants);
        return kAvx2Variants;
#if ZVK_HAVE_AVX512
    case KernelLevel::kAvx512:
        count = Count(kAvx512Variants);
        return kAvx512Variants;
#endif
    default:
        count = 0;
        return nullptr;
    }
}

const Kernels& KernelsOf(KernelLevel level)
{
    int count = 0;
    const Variant* variants = VariantsOf(level, count);
    return count > 0 ? variants[0].kernels() : PortableKernels();
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

int KernelVariantCount(KernelLevel level)
{
    if (!HasKernelLevel(level))
        return 0;
    int count = 0;
    VariantsOf(level, count);
    return count;
}

const Kernels& SelectKernelVariant(KernelLevel level, int variant)
{
    int count = 0;
    const Variant* variants = VariantsOf(level, count);
    return variant > 0 && variant < count && HasKernelLevel(level) ? variants[variant].kernels() : SelectKernels(level);
}

const char* KernelVariantName(KernelLevel level, int variant)
{
    int count = 0;
    const Variant* variants = VariantsOf(level, count);
    return variant >= 0 && variant < count ? variants[variant].name : KernelLevelName(level);
}

}  // namespace zvk
