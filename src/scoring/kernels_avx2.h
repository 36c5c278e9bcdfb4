// kernels_avx2.h: inner loops of the scoring stages for AVX2 processors.
//
// Contents:
//   avx2::cpu_supports   whether this processor has AVX2
//   kAvx2DistanceBlock   sequences per block of the distance layout
//   avx2::distance_row   unit sums and counted columns of one sequence against blocks of 8
//
// Compiled for AVX2 only inside these functions, which must only be called when cpu_supports()
// is true. The column scores have no AVX2 kernel: gathering their values measured slower than
// the portable loop, so AVX2 processors run that one.
#ifndef MARROWIND_SCORING_KERNELS_AVX2_H
#define MARROWIND_SCORING_KERNELS_AVX2_H

#include <cstddef>
#include <cstdint>

namespace marrowind {

// Distance layout: sequences in blocks of 8; block b holds, for each column k, 8 bytes: the class
// codes of sequences 8b .. 8b + 7 at column k.
constexpr int kAvx2DistanceBlock = 8;

namespace avx2 {

bool cpu_supports();

// For blocks [first_block, end_block) of `layout` (each length * 8 bytes): sets units[s] to the
// sum of unit_table[x_k * classes + y_k] over the columns k, and both_gaps[s] to the number of
// columns where both residues are gaps (class 0), s counted from the first sequence of
// first_block. row holds the class codes of the row's sequence. flush_every: the most columns
// whose units fit a 32-bit sum.
void distance_row(const uint8_t* row, const uint8_t* layout, int length, int first_block,
                  int end_block, const uint32_t* unit_table, int classes, int flush_every,
                  uint64_t* units, uint32_t* both_gaps);

}  // namespace avx2
}  // namespace marrowind

#endif
