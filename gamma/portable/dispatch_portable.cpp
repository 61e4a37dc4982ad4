// Builds for CPUs without kernels of their own: the portable kernels only.
#include "gamma/kernels.h"

namespace zvk {

bool HasKernelLevel(KernelLevel level)
{
    return level == KernelLevel::kPortable;
}

const Kernels& SelectKernels(KernelLevel)
{
    return PortableKernels();
}

KernelLevel BestKernelLevel()
{
    return KernelLevel::kPortable;
}

int KernelVariantCount(KernelLevel level)
{
    return level == KernelLevel::kPortable ? 1 : 0;
}

const Kernels& SelectKernelVariant(KernelLevel, int)
{
    return PortableKernels();
}

const char* KernelVariantName(KernelLevel level, int)
{
    return KernelLevelName(level);
}

}  // namespace zvk
