// kernel_selection.h: which kernel each scoring stage runs on, and making it.
//
// Contents:
//   distance_kernel_level  the level that the pair distances run on
//   column_kernel_level    the level that the column scores run on
//   make_distance_kernel   the kernel of the pair distances for a matrix, length and level
//   make_column_kernel     the kernel of the column scores for a matrix and level
//
// kernel_selection.cpp also defines best_kernel_level, supported_kernel_levels and
// kernel_level_name (<marrowind/marrowind.h>), which make the same choice. A level runs only
// where it is compiled in and the processor has its instructions, and only for a matrix within
// its kernel's limits (too many letters or distinct values, or sums too wide to be exact in any
// order, are not); every other case runs the portable kernel.
#ifndef MARROWIND_SCORING_KERNELS_KERNEL_SELECTION_H
#define MARROWIND_SCORING_KERNELS_KERNEL_SELECTION_H

#include <memory>

#include "marrowind/marrowind.h"
#include "scoring/kernels/column_kernel.h"
#include "scoring/kernels/distance_kernel.h"
#include "scoring/kernels/residue_classes.h"

namespace marrowind {

// The level of each stage's kernel for this matrix (and length) when `wanted` is asked for.
KernelLevel distance_kernel_level(const ResidueClasses& classes, int length, KernelLevel wanted);
KernelLevel column_kernel_level(const ResidueClasses& classes, KernelLevel wanted);

// Throws OutOfMemory. `divisor`, `threads` and `pairs` as make_portable_distance_kernel and
// make_avx512_distance_kernel take them; the kernel reads `rows`, which must outlive it.
std::unique_ptr<DistanceKernel> make_distance_kernel(const ResidueRows& rows,
                                                     const ResidueClasses& classes,
                                                     double divisor, KernelLevel wanted,
                                                     int threads, DistancePairs pairs);

// Throws OutOfMemory.
std::unique_ptr<ColumnKernel> make_column_kernel(const ResidueClasses& classes,
                                                 KernelLevel wanted);

}  // namespace marrowind

#endif
