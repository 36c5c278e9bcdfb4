// weights.cpp: pairwise sequence distances and sequence weights.
//
// Contents: CalcPairDist, CalcWeights2, CalcDists, CalcWeights.
//
// A sequence's weight is its mean distance to all the others, so a sequence unlike the rest
// weighs more than one of a group of near-copies. The column scores are later grouped by exact
// equality, so every rounding step below (where a value passes through single precision, when
// the division happens, the order of the additions) is part of the result.
#include "scoring/weights.h"

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
    if (count == 0) return 0.0;
    // The count goes through single precision, which is exact up to 2^24 columns.
    return 1.0 - sum / static_cast<double>(static_cast<float>(count));
}

void CalcWeights2(const Alignment* alignment, const Matrix* matrix, Data* data)
{
    const int nseq = alignment->nseq;
    double* weights = data->weights;
    for (int i = 0; i < nseq; ++i) weights[i] = 0.0;

    // Each pair's distance is computed once and shared by both of its sequences. Every term is
    // divided before it is added, so a weight receives its terms in ascending order of the
    // other sequence's index: first from the rows above it (as j), then from its own row.
    const double divisor = static_cast<double>(nseq - 1);
    for (int i = 0; i < nseq; ++i) {
        for (int j = i + 1; j < nseq; ++j) {
            const double d =
                CalcPairDist(alignment->seqs[i], alignment->seqs[j], matrix, alignment->length) /
                divisor;
            weights[i] += d;
            weights[j] += d;
        }
    }
}

void CalcDists(Alignment* alignment, Matrix* matrix, Data* data)
{
    const int nseq = alignment->nseq;
    f2dsquare& dist = data->dist;
    for (int i = 0; i < nseq; ++i) dist.assign(i, i, 0.0f);
    for (int i = 0; i < nseq; ++i) {
        for (int j = i + 1; j < nseq; ++j) {
            const float d = static_cast<float>(
                CalcPairDist(alignment->seqs[i], alignment->seqs[j], matrix, alignment->length));
            dist.assign(i, j, d);
            dist.assign(j, i, d);
        }
    }
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
