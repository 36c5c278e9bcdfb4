// column_scorer.h: the column scores of an alignment, blocks of columns on several threads.
//
// Contents:
//   ColumnBlock         one block of columns: where it starts, how many columns, how wide
//   plan_column_blocks  cuts the columns into blocks that keep every thread busy
//   ColumnScorer        lays the alignment out for a column kernel and scores every column
#ifndef MARROWIND_SCORING_EXACT_COLUMN_SCORER_H
#define MARROWIND_SCORING_EXACT_COLUMN_SCORER_H

#include <cstddef>
#include <functional>
#include <vector>

#include "scoring/kernels/column_kernel.h"
#include "scoring/kernels/residue_rows.h"
#include "scoring/parallel/buffers.h"

namespace marrowind {

struct ColumnBlock {
    int first;    // its first column
    int columns;  // columns it holds, at most 8 * vectors
    int vectors;  // its width in vectors of 8 columns: 1, 2, 4 ... up to the kernel's widest
};

// Blocks for `columns` columns (at least 1) on `threads` threads, in column order: blocks of
// max_vectors vectors while more than a round of them is left for every thread, then the rest
// shared out so that each thread gets about as many vectors as any other, its share cut into
// widths of powers of two, the widest first. Threads that take the blocks in order then
// finish together, and no thread is left without columns while there are vectors to share.
std::vector<ColumnBlock> plan_column_blocks(int columns, int threads, int max_vectors);

class ColumnScorer {
public:
    // Lays the rows out; they are not read again after. `threads` as ScoringOptions::threads
    // asks. Throws OutOfMemory.
    ColumnScorer(const ResidueRows& rows, const ResidueClasses& classes,
                 const ColumnKernel& kernel, int threads);

    // scores[0..length) as the plain column loop leaves them; progress (if any) is called now
    // and then on the calling thread with the fraction of the columns done. Throws
    // OutOfMemory.
    void run(const double* weights, double* scores,
             const std::function<void(double)>& progress) const;

private:
    void lay_out(const ResidueRows& rows, const ResidueClasses& classes);

    const ColumnKernel& kernel_;
    int nseq_;
    int length_;
    int threads_;
    std::vector<ColumnBlock> blocks_;
    std::vector<std::size_t> offsets_;  // where each block's codes start
    CodeBuffer codes_;
};

}  // namespace marrowind

#endif
