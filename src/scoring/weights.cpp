// weights.cpp: pairwise sequence distances and sequence weights.
//
// Contents: CalcPairDist, CalcWeights2, CalcDists, CalcWeights.
//
// A sequence's weight is its mean distance to all the others, so a sequence unlike the rest
// weighs more than one of a group of near-copies. The column scores are later grouped by exact
// equality, so every rounding step below (where a value passes through single precision, when
// the division happens, the order of the additions) is part of the result.
#include "scoring/weights.h"

#include "scoring/exact/stages.h"
#include "scoring/reference/distance_formula.h"

double CalcPairDist(const Prot& a, const Prot& b, const Matrix* matrix, int n)
{
    const char* x = a.seq.data();
    const char* y = b.seq.data();
    double sum = 0.0;
    int count = 0;
    for (int k = 0; k < n; ++k) {
        sum += Mut(matrix, x[k], y[k]);
        // A gap against a residue counts with similarity 0; a gap against a gap is not a
        // column this pair shares, so it does not count at all.
        if (!(is_gap(x[k]) && is_gap(y[k]))) ++count;
    }
    return marrowind::distance_from_similarity(sum, count);
}

void CalcWeights2(const Alignment* alignment, const Matrix* matrix, Data* data)
{
    // Each pair's distance is computed once and shared by both of its sequences; every term is
    // divided before it is added, and a weight receives its terms in ascending order of the
    // other sequence's index. The engine keeps that order on every thread and kernel.
    marrowind::compute_weights(*alignment, *matrix, data->weights);
}

void CalcDists(Alignment* alignment, Matrix* matrix, Data* data)
{
    marrowind::compute_distance_table(*alignment, *matrix, data->dist);
}

void CalcWeights(Alignment* alignment, Data* data)
{
    const int nseq = alignment->nseq;
    if (nseq == 1) {
        // A lone sequence has no distances to average. Its weight is never used (the column
        // scores take weights only in pairs), and 0.0 keeps it a finite, harmless value.
        data->weights[0] = 0.0;
        return;
    }
    // The divisor passes through single precision before it is widened.
    const double divisor = static_cast<double>(static_cast<float>(nseq - 1));
    for (int i = 0; i < nseq; ++i) {
        double sum = 0.0;
        for (int j = 0; j < nseq; ++j) {
            if (j != i) sum += static_cast<double>(data->dist.access(i, j));
        }
        data->weights[i] = sum / divisor;
    }
}
