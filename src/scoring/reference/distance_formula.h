// distance_formula.h: the distance of two aligned sequences from their summed similarity.
//
// Contents:
//   distance_from_similarity  1 - mean similarity over the columns that count
//
// Every way to the distances ends here, the plain pair loop and the fast kernels alike (the
// AVX-512 finisher performs these same operations in vector lanes), so that all give the
// same bits.
#ifndef MARROWIND_SCORING_REFERENCE_DISTANCE_FORMULA_H
#define MARROWIND_SCORING_REFERENCE_DISTANCE_FORMULA_H

#include <cstdint>

namespace marrowind {

// `similarity`: the pair's residue similarities summed over every column; `counted_columns`:
// the columns in which at least one of the two holds a residue. A pair with no such column is
// at distance 0. The count passes through single precision before the division, which is exact
// up to 2^24 columns.
inline double distance_from_similarity(double similarity, int64_t counted_columns)
{
    if (counted_columns == 0) return 0.0;
    return 1.0 - similarity / static_cast<double>(static_cast<float>(counted_columns));
}

}  // namespace marrowind

#endif
