// plain_loops.h: the scoring stages as plain loops, the reference definition of their results.
//
// Contents:
//   plain::weights         the weights of the command-line run, pair by pair
//   plain::distance_table  the single-precision table of pair distances
//   plain::column_scores   the column scores, column by column
//
// Each is the most direct reading of its stage: every residue pair through Mut, every sum in
// the order of the loops. The fast stages must give exactly these bits on every kernel and
// thread count; the tests compare them bit for bit, the benchmarks measure the fast stages
// against them, and a yardstick build of the program (MARROWIND_PLAIN_STAGES) runs them in
// place of the fast stages.
#ifndef MARROWIND_SCORING_REFERENCE_PLAIN_LOOPS_H
#define MARROWIND_SCORING_REFERENCE_PLAIN_LOOPS_H

#include "core/records.h"
#include "matrix/matrix.h"

namespace marrowind {
namespace plain {

void weights(const Alignment& alignment, const Matrix& matrix, double* weights);
void distance_table(const Alignment& alignment, const Matrix& matrix, f2dsquare& dist);
void column_scores(const Alignment& alignment, const Matrix& matrix, const double* weights,
                   double* scores);

}  // namespace plain
}  // namespace marrowind

#endif
