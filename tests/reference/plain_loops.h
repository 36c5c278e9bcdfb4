// plain_loops.h: the scoring stages as plain loops, the yardstick of the fast stages.
//
// Contents: plain_weights, plain_distance_table, plain_column_scores.
//
// Each is the most direct reading of its stage: every residue pair through Mut, every sum in
// the order of the loops. The tests compare every fast path with these bit for bit, and the
// benchmarks measure the fast paths against them.
#ifndef MARROWIND_TESTS_REFERENCE_PLAIN_LOOPS_H
#define MARROWIND_TESTS_REFERENCE_PLAIN_LOOPS_H

#include "core/records.h"
#include "matrix/matrix.h"

namespace plain {

void weights(const Alignment& alignment, const Matrix& matrix, double* weights);
void distance_table(const Alignment& alignment, const Matrix& matrix, f2dsquare& dist);
void column_scores(const Alignment& alignment, const Matrix& matrix, const double* weights,
                   double* scores);

}  // namespace plain

#endif
