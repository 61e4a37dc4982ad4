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

const Kernels& BestKernels()
{
    return PortableKernels();
}

}  // namespace zvk
