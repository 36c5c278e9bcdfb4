// kernel_selection.cpp: the kernel levels, and the choice of each stage's kernel.
//
// Contents: distance_kernel_level, column_kernel_level, best_kernel_level,
//           supported_kernel_levels, kernel_level_name, make_distance_kernel, make_column_kernel.
//
// The AVX-512 kernels are compiled only for x86-64 (MARROWIND_AVX512_KERNELS); this is the one
// place that knows whether they are there.
#include "scoring/kernels/kernel_selection.h"

#include "scoring/kernels/inner_loops_avx512.h"
#include "scoring/parallel/buffers.h"

namespace marrowind {

namespace {

#ifdef MARROWIND_AVX512_KERNELS
constexpr bool kAvx512Compiled = true;
#else
constexpr bool kAvx512Compiled = false;
#endif

// The AVX-512 functions are named only in discarded branches where they are not compiled in.
bool avx512_runs_here()
{
    if constexpr (kAvx512Compiled)
        return avx512::cpu_supports();
    else
        return false;
}

}  // namespace

KernelLevel distance_kernel_level(const ResidueClasses& classes, int length, KernelLevel wanted)
{
    if constexpr (kAvx512Compiled)
        if (wanted == KernelLevel::kAvx512 && avx512_runs_here() &&
            avx512_distance_kernel_fits(classes, length))
            return KernelLevel::kAvx512;
    return KernelLevel::kPortable;
}

KernelLevel column_kernel_level(const ResidueClasses& classes, KernelLevel wanted)
{
    if constexpr (kAvx512Compiled)
        if (wanted == KernelLevel::kAvx512 && avx512_runs_here() &&
            avx512_column_kernel_fits(classes))
            return KernelLevel::kAvx512;
    return KernelLevel::kPortable;
}

KernelLevel best_kernel_level()
{
    return avx512_runs_here() ? KernelLevel::kAvx512 : KernelLevel::kPortable;
}

std::vector<KernelLevel> supported_kernel_levels()
{
    std::vector<KernelLevel> levels = allocate<KernelLevel>(avx512_runs_here() ? 2 : 1);
    levels.back() = best_kernel_level();
    return levels;
}

const char* kernel_level_name(KernelLevel level)
{
    return level == KernelLevel::kAvx512 ? "avx512" : "portable";
}

std::unique_ptr<DistanceKernel> make_distance_kernel(const ResidueRows& rows,
                                                     const ResidueClasses& classes,
                                                     double divisor, KernelLevel wanted,
                                                     int threads, DistancePairs pairs)
{
    if constexpr (kAvx512Compiled)
        if (distance_kernel_level(classes, rows.length(), wanted) == KernelLevel::kAvx512)
            return make_avx512_distance_kernel(rows, classes, divisor, threads, pairs);
    return make_portable_distance_kernel(rows, classes, divisor, pairs);
}

std::unique_ptr<ColumnKernel> make_column_kernel(const ResidueClasses& classes,
                                                 KernelLevel wanted)
{
    if constexpr (kAvx512Compiled)
        if (column_kernel_level(classes, wanted) == KernelLevel::kAvx512)
            return make_avx512_column_kernel(classes);
    return make_portable_column_kernel(classes);
}

}  // namespace marrowind
