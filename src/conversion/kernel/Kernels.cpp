#include "conversion/kernel/Kernel.h"

namespace fanjian::kernel {

std::span<const Kernel> Kernels() noexcept
{
    static constexpr Kernel kKernels[] = {
#if defined(__SSE2__)
        {"sse2", &ConvertSse2, &ConvertUtf8Sse2},
#endif
        {"portable", &ConvertPortable, &ConvertUtf8Portable},
    };
    return kKernels;
}

} // namespace fanjian::kernel
