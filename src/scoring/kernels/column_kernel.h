// column_kernel.h: the inner loop of the column scores, one interface for every kernel.
//
// Contents:
//   ColumnKernel                 weighted pair sums of a block of columns
//   make_portable_column_kernel  plain C++ over class codes, for any matrix and processor
//   avx512_column_kernel_fits    whether a matrix suits the AVX-512 kernel
//   make_avx512_column_kernel    the AVX-512 kernel (only where it is compiled)
//
// The column scorer (column_scorer.h) lays the alignment out block by block, each sequence's
// codes of one block of columns together, and shares the blocks out over threads; a kernel
// says how wide a block is, where in it each column goes, and sums a block's pairs.
#ifndef MARROWIND_SCORING_KERNELS_COLUMN_KERNEL_H
#define MARROWIND_SCORING_KERNELS_COLUMN_KERNEL_H

#include <cstdint>
#include <memory>

#include "scoring/kernels/residue_classes.h"

namespace marrowind {

class ColumnKernel {
public:
    virtual ~ColumnKernel() = default;

    // Columns in a block, and bytes in each sequence's row of a block.
    virtual int block_columns() const = 0;

    // One sequence's row of a block: the codes of its first `columns` columns (at most
    // block_columns()) placed where the kernel reads them; every other byte a gap.
    virtual void lay_out_row(const uint8_t* codes, int columns, uint8_t* row) const = 0;

    // num[0..columns) for a block whose rows lie one after another, nseq of them: for each
    // column the sum over pairs j < k, in the plain order, of (weights[j] * weights[k]) times
    // the pair's value. num has room for block_columns() entries.
    virtual void score_block(const uint8_t* block, int nseq, int columns, const double* weights,
                             double* num) const = 0;
};

// Each throws OutOfMemory.
std::unique_ptr<ColumnKernel> make_portable_column_kernel(const ResidueClasses& classes);

// The AVX-512 kernel, defined only where it is compiled (MARROWIND_AVX512_KERNELS).
bool avx512_column_kernel_fits(const ResidueClasses& classes);
std::unique_ptr<ColumnKernel> make_avx512_column_kernel(const ResidueClasses& classes);

}  // namespace marrowind

#endif
