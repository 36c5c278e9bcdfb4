// weights.h: pairwise sequence distances and the sequence weights derived from them.
//
// Contents:
//   CalcPairDist  distance of two aligned sequences: 1 - mean residue similarity
//   CalcWeights2  each sequence's mean distance to the others, without keeping distances
//   CalcDists     fills the distance table of a Data for every pair of sequences
//   CalcWeights   each sequence's mean distance to the others, read from the distance table
//
// None of these routines prints anything; the callers report progress.
#ifndef MARROWIND_SCORING_WEIGHTS_H
#define MARROWIND_SCORING_WEIGHTS_H

#include "core/records.h"
#include "matrix/matrix.h"

// Distance between a and b over their first n columns: 1 - (sum of Mut) / (number of columns
// in which at least one of the two holds a non-gap). Columns where both hold a gap ("-" or
// "X") are left out; with no column left the distance is 0.0. Both sequences must hold at
// least n characters.
double CalcPairDist(const Prot& a, const Prot& b, const Matrix* matrix, int n);

// weights[i] = sum over j != i of dist(i, j) / (nseq - 1), with full-precision distances,
// each divided before it is added, terms added in ascending order of j. Writes entries
// 0..nseq-1 only; the distance table is not touched. With one sequence the weight is 0.0.
void CalcWeights2(const Alignment* alignment, const Matrix* matrix, Data* data);

// Stores every pairwise distance, rounded to single precision, in data->dist (symmetric,
// diagonal 0). The caller must have sized dist to at least nseq x nseq.
void CalcDists(Alignment* alignment, Matrix* matrix, Data* data);

// weights[i] = (sum over j != i of dist(i, j), ascending j) / (nseq - 1), reading the table
// that CalcDists filled. With one sequence there is nothing to average and the weight is 0.0.
void CalcWeights(Alignment* alignment, Data* data);

#endif
