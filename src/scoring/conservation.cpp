// conservation.cpp: the per-column conservation score.
//
// Contents: ConsScore.
//
// A column's score is the mean similarity of all pairs of its residues, each pair weighted by
// the product of its two sequences' weights. The summary score groups columns by exact equality
// of these doubles, so two columns holding the same residues must give the same bits: every
// column therefore runs the very same sequence of operations, pair by pair in a fixed order.
#include "scoring/conservation.h"

void ConsScore(Alignment* alignment, Matrix* matrix, Data* data)
{
    const int nseq = alignment->nseq;
    const double* weights = data->weights;
    for (int i = 0; i < alignment->length; ++i) {
        double num = 0.0;
        double den = 0.0;
        for (int j = 0; j < nseq; ++j) {
            const char a = alignment->seqs[j].seq[i];
            const double wj = weights[j];
            for (int k = j + 1; k < nseq; ++k) {
                const char b = alignment->seqs[k].seq[i];
                const double wk = weights[k];
                const double m = Mut(matrix, a, b);
                num = num + (wj * wk) * m;
                den = den + wj * wk;
            }
        }
        // A not-a-number den also compares unequal to 0 and is divided by.
        data->scores[i] = (den != 0.0) ? num / den : 0.0;
    }
}
