// stages.h: the exact scoring stages: pair distances, sequence weights and column scores.
//
// Contents:
//   compute_weights        the weights of the command-line run (same bits as the plain loop)
//   compute_distance_table the single-precision table of pair distances
//   compute_column_scores  the column scores (same bits as the plain loop)
//
// Every level and every thread count gives the same bits as the plain loops
// (reference/plain_loops.h), which sum each figure in a fixed order. The column scores keep that
// order column by column, with many columns side by side in vector lanes. The pair distances sum
// values that are whole multiples of one unit; while such sums stay below 2^53 units every
// partial sum is exact and the order of the additions cannot matter, so the fast level counts
// units in integers (it falls back to the ordered sum otherwise). The weights are then
// accumulated in exactly the plain order.
//
// The pieces: kernels/kernel_selection.h chooses and makes each stage's kernel,
// pair_distance_rows.h and column_scorer.h run a kernel on several threads
// (parallel/worker_threads.h), and stages.cpp puts each stage together. KernelLevel and
// ScoringOptions are public: <marrowind/marrowind.h>. Every stage reads the rows where they lie
// (kernels/residue_rows.h): an Alignment's own, or a caller's, read as validation would leave
// them.
#ifndef MARROWIND_SCORING_EXACT_STAGES_H
#define MARROWIND_SCORING_EXACT_STAGES_H

#include "core/records.h"
#include "marrowind/marrowind.h"
#include "matrix/matrix.h"
#include "scoring/kernels/residue_rows.h"

namespace marrowind {

// weights[0..nseq) as the plain pair loop leaves them. Throws OutOfMemory.
void compute_weights(const ResidueRows& rows, const Matrix& matrix, double* weights,
                     const ScoringOptions& options = ScoringOptions());

// dist(i, j) for all i, j below nseq: the pair distance rounded to single precision, 0 on the
// diagonal. dist must have side at least nseq. Throws OutOfMemory.
void compute_distance_table(const ResidueRows& rows, const Matrix& matrix, f2dsquare& dist,
                            const ScoringOptions& options = ScoringOptions());

// scores[0..length) as the plain column loop leaves them. Throws OutOfMemory.
void compute_column_scores(const ResidueRows& rows, const Matrix& matrix,
                           const double* weights, double* scores,
                           const ScoringOptions& options = ScoringOptions());

}  // namespace marrowind

#endif
