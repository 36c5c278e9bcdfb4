// column_kernel.h: the inner loop of the column scores, one interface for every kernel.
//
// Contents:
//   ColumnKernel                 weighted pair sums of a block of columns
//   make_portable_column_kernel  plain C++ over class codes, for any matrix and processor
//   avx512_column_kernel_fits    whether a matrix suits the AVX-512 kernel
//   make_avx512_column_kernel    the AVX-512 kernel (only where it is compiled)
//
// The column scorer (column_scorer.h) cuts the columns into blocks of whole vectors of 8
// columns, 1, 2, 4 or 8 vectors wide, has each block laid out as its kernel reads it, and shares
// the blocks out over threads; a kernel says how wide a block may be and how many bytes it
// takes, places each sequence's codes in it, and sums a block's pairs.
#ifndef MARROWIND_SCORING_KERNELS_COLUMN_KERNEL_H
#define MARROWIND_SCORING_KERNELS_COLUMN_KERNEL_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include "scoring/kernels/residue_classes.h"

namespace marrowind {

class ColumnKernel {
public:
    virtual ~ColumnKernel() = default;

    // The widest block, in vectors of 8 columns: 1, 2, 4 or 8.
    virtual int max_block_vectors() const = 0;

    // Bytes of a block of `vectors` vectors for nseq sequences, a multiple of 64.
    virtual std::size_t block_bytes(int nseq, int vectors) const = 0;

    // Places sequence `seq`'s codes of a block in it: codes[0..columns) (columns at most
    // 8 * vectors) for the block's first columns, a gap in its other columns; the last sequence
    // (seq == nseq - 1) also fills whatever padding follows it. Each sequence writes bytes of
    // its own, so that sequences may be laid out on different threads.
    virtual void lay_out_row(const uint8_t* codes, int columns, int vectors, int nseq, int seq,
                             uint8_t* block) const = 0;

    // num[0..8 * vectors) for a laid-out block: for each column the sum over pairs j < k, in
    // the plain order, of (weights[j] * weights[k]) times the pair's value. Where den is not
    // null, *den becomes the sum over the same pairs, in the same order, of weights[j] *
    // weights[k]: the denominator of every column, summed beside the block's own.
    virtual void score_block(const uint8_t* block, int nseq, int vectors, const double* weights,
                             double* num, double* den) const = 0;
};

// Each throws OutOfMemory.
std::unique_ptr<ColumnKernel> make_portable_column_kernel(const ResidueClasses& classes);

// The AVX-512 kernel, defined only where it is compiled (MARROWIND_AVX512_KERNELS).
bool avx512_column_kernel_fits(const ResidueClasses& classes);
std::unique_ptr<ColumnKernel> make_avx512_column_kernel(const ResidueClasses& classes);

}  // namespace marrowind

#endif
