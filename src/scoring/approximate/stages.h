// stages.h: the approximate scoring stages, linear in the number of sequences.
//
// Contents:
//   compute_sampled_weights        each weight as the mean distance to a sample of partners
//   compute_grouped_column_scores  the column scores summed by residue class
//
// The exact stages take every pair of sequences, for the weights and again in every column,
// which puts alignments of a million sequences out of reach. Here a weight averages the
// distances to a random sample of the other sequences, and a column's weighted sum over pairs
// is regrouped by residue class: the weights of a class summed, then one product per pair of
// classes. The regrouping is an identity, so the column scores depart from the exact ones only
// through the sampled weights and in their last few bits. Both stages give the same bits for
// every thread count and kernel level. ScoringMode (<marrowind/marrowind.h>) describes the mode.
// Both read the rows where they lie (residue_rows.h).
#ifndef MARROWIND_SCORING_APPROXIMATE_STAGES_H
#define MARROWIND_SCORING_APPROXIMATE_STAGES_H

#include "marrowind/marrowind.h"
#include "matrix/matrix.h"
#include "scoring/kernels/residue_rows.h"

namespace marrowind {

// weights[i] = the sum over the partners j of sequence i, in ascending order, of
// CalcPairDist(earlier, later) / (number of partners): with every other sequence as a partner,
// the bits of the exact weights. options.sample and options.seed choose the partners
// (partners.h). Throws InputError for a sample below 1, OutOfMemory.
void compute_sampled_weights(const ResidueRows& rows, const Matrix& matrix, double* weights,
                             const ScoringOptions& options);

// scores[c] = sum over pairs j < k of w_j w_k Mut(a_jc, a_kc) / sum over pairs of w_j w_k (0
// when that is 0), as the exact column scores, summed by residue class. Throws OutOfMemory.
void compute_grouped_column_scores(const ResidueRows& rows, const Matrix& matrix,
                                   const double* weights, double* scores,
                                   const ScoringOptions& options);

}  // namespace marrowind

#endif
