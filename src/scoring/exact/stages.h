// stages.h: the fast scoring stages: pair distances, sequence weights and column scores.
//
// Contents:
//   chosen_paths           the kernel levels a matrix really runs on
//   compute_weights        the weights of the command-line run (same bits as the plain loop)
//   compute_distance_table the single-precision table of pair distances
//   compute_column_scores  the column scores (same bits as the plain loop)
//
// Every level and every thread count gives the same bits as the plain loops (plain_loops.h),
// which sum each figure in a fixed order. The column scores keep that order column by column,
// with many columns side by side in vector lanes. The pair distances sum values that are whole
// multiples of one unit; while such sums stay below 2^53 units every partial sum is exact and
// the order of the additions cannot matter, so the fast level counts units in integers (it
// falls back to the ordered sum otherwise). The weights are then accumulated in exactly the
// plain order.
//
// The pieces: kernel_selection.h chooses and makes each stage's kernel (distance_kernel.h,
// column_kernel.h; the AVX-512 ones only on x86-64), pair_distance_rows.h and column_scorer.h run
// a kernel on several threads (worker_threads.h) over buffers that report OutOfMemory
// (buffers.h), and stages.cpp puts each stage together. KernelLevel and ScoringOptions are
// public: <marrowind/marrowind.h>.
#ifndef MARROWIND_SCORING_EXACT_STAGES_H
#define MARROWIND_SCORING_EXACT_STAGES_H

#include <functional>
#include <vector>

#include "core/records.h"
#include "marrowind/marrowind.h"
#include "matrix/matrix.h"

namespace marrowind {

// The kernel levels that the distances and the column scores would really run for this matrix
// and alignment length when `wanted` is asked for: a matrix outside a kernel's limits (too many
// letters or distinct values, or sums too wide to be exact in any order) runs the portable one.
struct ScoringPaths {
    KernelLevel distances;
    KernelLevel columns;
};
ScoringPaths chosen_paths(const Matrix& matrix, int length, KernelLevel wanted);

// weights[0..nseq) as the plain pair loop leaves them. Throws OutOfMemory.
void compute_weights(const Alignment& alignment, const Matrix& matrix, double* weights,
                     const ScoringOptions& options = ScoringOptions());

// dist(i, j) for all i, j below nseq: the pair distance rounded to single precision, 0 on the
// diagonal. dist must have side at least nseq. Throws OutOfMemory.
void compute_distance_table(const Alignment& alignment, const Matrix& matrix, f2dsquare& dist,
                            const ScoringOptions& options = ScoringOptions());

// scores[0..length) as the plain column loop leaves them. Throws OutOfMemory.
void compute_column_scores(const Alignment& alignment, const Matrix& matrix,
                           const double* weights, double* scores,
                           const ScoringOptions& options = ScoringOptions());

}  // namespace marrowind

#endif
