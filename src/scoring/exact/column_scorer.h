// column_scorer.h: the column scores of an alignment, blocks of columns on several threads.
//
// Contents:
//   ColumnScorer  lays the alignment out for a column kernel and scores every column
#ifndef MARROWIND_SCORING_EXACT_COLUMN_SCORER_H
#define MARROWIND_SCORING_EXACT_COLUMN_SCORER_H

#include <functional>

#include "core/records.h"
#include "scoring/kernels/column_kernel.h"
#include "scoring/parallel/buffers.h"

namespace marrowind {

class ColumnScorer {
public:
    // Lays the alignment out. `threads` as ScoringOptions::threads asks. Throws OutOfMemory.
    ColumnScorer(const Alignment& alignment, const ResidueClasses& classes,
                 const ColumnKernel& kernel, int threads);

    // scores[0..length) as the plain column loop leaves them; progress (if any) is called now
    // and then on the calling thread with the fraction of the blocks done. Throws OutOfMemory.
    void run(const double* weights, double* scores,
             const std::function<void(double)>& progress) const;

private:
    uint8_t* block_codes(int block) const;
    void lay_out(const Alignment& alignment, const ResidueClasses& classes);

    const ColumnKernel& kernel_;
    int nseq_;
    int length_;
    int requested_threads_;
    int block_;   // columns in a block
    int blocks_;
    CodeBuffer codes_;
};

}  // namespace marrowind

#endif
