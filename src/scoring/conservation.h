// conservation.h: the per-column conservation score of an alignment.
//
// Contents:
//   ConsScore  weighted mean residue-pair similarity of every column
#ifndef MARROWIND_SCORING_CONSERVATION_H
#define MARROWIND_SCORING_CONSERVATION_H

#include "core/records.h"
#include "matrix/matrix.h"

// scores[i] = sum over pairs j < k of (wj*wk)*Mut(a_ij, a_ik), divided by the sum over the same
// pairs of wj*wk; 0.0 when that denominator is 0 (one sequence, or all weights 0). Gaps pair
// with similarity 0 but keep their full weight. Needs weights 0..nseq-1 filled and scores sized
// to length; prints nothing.
void ConsScore(Alignment* alignment, Matrix* matrix, Data* data);

#endif
