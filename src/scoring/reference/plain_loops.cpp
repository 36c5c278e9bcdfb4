// plain_loops.cpp: the plain scoring loops.
//
// Contents: plain::weights, plain::distance_table, plain::column_scores.
#include "scoring/reference/plain_loops.h"

#include "scoring/weights.h"

namespace marrowind {
namespace plain {

void weights(const Alignment& alignment, const Matrix& matrix, double* weights)
{
    const int nseq = alignment.nseq;
    for (int i = 0; i < nseq; ++i) weights[i] = 0.0;
    const double divisor = static_cast<double>(nseq - 1);
    for (int i = 0; i < nseq; ++i) {
        for (int j = i + 1; j < nseq; ++j) {
            const double d =
                CalcPairDist(alignment.seqs[i], alignment.seqs[j], &matrix, alignment.length) /
                divisor;
            weights[i] += d;
            weights[j] += d;
        }
    }
}

void distance_table(const Alignment& alignment, const Matrix& matrix, f2dsquare& dist)
{
    for (int i = 0; i < alignment.nseq; ++i) dist.assign(i, i, 0.0f);
    for (int i = 0; i < alignment.nseq; ++i) {
        for (int j = i + 1; j < alignment.nseq; ++j) {
            const float d = static_cast<float>(
                CalcPairDist(alignment.seqs[i], alignment.seqs[j], &matrix, alignment.length));
            dist.assign(i, j, d);
            dist.assign(j, i, d);
        }
    }
}

void column_scores(const Alignment& alignment, const Matrix& matrix, const double* weights,
                   double* scores)
{
    const int nseq = alignment.nseq;
    for (int i = 0; i < alignment.length; ++i) {
        double num = 0.0;
        double den = 0.0;
        for (int j = 0; j < nseq; ++j) {
            const char a = alignment.seqs[j].seq[i];
            const double wj = weights[j];
            for (int k = j + 1; k < nseq; ++k) {
                const double wk = weights[k];
                num = num + (wj * wk) * Mut(&matrix, a, alignment.seqs[k].seq[i]);
                den = den + wj * wk;
            }
        }
        scores[i] = (den != 0.0) ? num / den : 0.0;
    }
}

}  // namespace plain
}  // namespace marrowind
