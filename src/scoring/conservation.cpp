// conservation.cpp: the per-column conservation score.
//
// Contents: ConsScore.
//
// A column's score is the mean similarity of all pairs of its residues, each pair weighted by
// the product of its two sequences' weights. The summary score groups columns by exact equality
// of these doubles, so two columns holding the same residues must give the same bits: every
// column therefore runs the very same sequence of operations, pair by pair in a fixed order.
#include "scoring/conservation.h"

#include "scoring/exact/stages.h"


void ConsScore(Alignment* alignment, Matrix* matrix, Data* data)
{
    marrowind::compute_column_scores(*alignment, *matrix, data->weights, data->scores);
}
