// conservation.cpp: the per-column conservation score.
//
// Contents: ConsScore.
//
// A column's score is the mean similarity of all pairs of its residues, each pair weighted by
// the product of its two sequences' weights. The summary score groups columns by exact equality
// of these doubles, so two columns holding the same residues must give the same bits: every
// column therefore runs the very same sequence of operations, pair by pair in a fixed order.
#include "scoring/conservation.h"

#include "scoring/engine.h"

#ifdef MARROWIND_PLAIN_STAGES
#include "reference/plain_loops.h"
#endif

void ConsScore(Alignment* alignment, Matrix* matrix, Data* data)
{
#ifdef MARROWIND_PLAIN_STAGES
    plain::column_scores(*alignment, *matrix, data->weights, data->scores);
#else
    marrowind::compute_column_scores(*alignment, *matrix, data->weights, data->scores);
#endif
}
