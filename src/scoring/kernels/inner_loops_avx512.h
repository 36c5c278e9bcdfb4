// inner_loops_avx512.h: inner loops of the scoring stages for AVX-512 processors.
//
// Contents:
//   avx512::cpu_supports   whether this processor has the instructions the kernels use
//   kDistanceBlock ...     layout constants of the distance kernel
//   avx512::distance_row   unit and count sums of one sequence against blocks of 16 sequences
//   avx512::finish_distances  pair distances from those sums, divided as the caller asks
//   avx512::gather_block   one block of the distance layout from any 16 sequences' residues
//   ColumnKernelTables     what the column kernel needs of the residue classes
//   avx512::column_block   weighted pair sums of a block of columns
//
// These functions are compiled for AVX-512 (F, BW, DQ, VBMI, VNNI) and must only be called when
// cpu_supports() is true. They take plain arrays, so that nothing else is compiled for it. They
// exist only in builds for x86-64 (MARROWIND_AVX512_KERNELS); the constants serve the kernels'
// limits and layouts (distance_kernel_avx512.cpp, column_kernel_avx512.cpp).
#ifndef MARROWIND_SCORING_KERNELS_INNER_LOOPS_AVX512_H
#define MARROWIND_SCORING_KERNELS_INNER_LOOPS_AVX512_H

#include <cstddef>
#include <cstdint>

namespace marrowind {

// Distance kernel layout: sequences in blocks of 16, columns in quads of 4. Block b holds, for
// each quad q, 64 bytes: byte 4s + p is the class code of sequence 16b + s at column 4q + p,
// plus 32p. A row's level table holds, for each quad, 128 bytes: byte 32p + c is the distance
// level of the row's class at column 4q + p against class c.
constexpr int kDistanceBlock = 16;
constexpr int kQuad = 4;
constexpr int kMaxKernelClasses = 32;
constexpr int kMaxDistanceLevels = 64;
constexpr int kDistancePlanes = 5;  // four bytes of the units, then the count

// Column kernel: a block holds 1, 2, 4 or 8 vectors of 8 columns; class codes below 32 and at
// most 32 levels. A block is a run of 64-byte units, each holding 8 / vectors sequences in
// ascending order (the last unit padded with gap codes): column 8g + i of the sequence in slot p
// lies in byte 8i + vectors * p + g, so that the levels of a vector (g) of any slot are one byte
// apart by 8 and a load at offset vectors * p + g puts them in the low bytes of 64-bit lanes.
constexpr int kColumnUnitBytes = 64;
constexpr int kMaxColumnVectors = 8;
constexpr int kMaxColumnLevels = 32;
constexpr int column_byte(int vectors, int slot, int column)
{
    return 8 * (column % 8) + vectors * slot + column / 8;
}

struct ColumnKernelTables {
    const uint8_t* level;        // level[a * classes + b]
    int classes;                 // at most kMaxKernelClasses
    const double* level_value;   // kMaxColumnLevels entries, zero beyond the last level
    int levels;                  // at most kMaxColumnLevels
    const uint8_t* scores_zero;  // scores_zero[a]: class a scores 0 against every class
};

namespace avx512 {

bool cpu_supports();

// For blocks [first_block, end_block) of `layout` (each quads * 64 bytes): adds to units[s] and
// counts[s], s counted from the first sequence of first_block, the row's units and counted
// columns against each sequence. planes: 5 tables of 64 bytes, indexed by level: the four bytes
// of the level's units, then 1 if the level counts.
void distance_row(const uint8_t* row_levels, const uint8_t* layout, int quads, int first_block,
                  int end_block, const uint8_t* planes, uint64_t* units, uint32_t* counts);

// out[s] for s in [0, n): the distance of a pair with units[s] units of value in counts[s]
// counted columns, divided by divisor: (1 - (units * unit) / count) / divisor, and 0 where no
// column counts. Every lane performs the scalar code's operations, each correctly rounded, so
// the bits are the same. Needs units below 2^53 and counts below 2^24.
void finish_distances(const uint64_t* units, const uint32_t* counts, int n, double unit,
                      double divisor, double* out);

// One block of the distance layout (quads * 64 bytes, see above) for the sequences whose
// residues rows[0..count) point to, `length` bytes each, count at most 16: each byte the class
// of its residue (class_of, 256 entries, codes below 32) plus 32 times its place in its quad,
// and the gap class past `length`. The bytes of sequences past count are zero.
void gather_block(const uint8_t* const* rows, int count, int length, const uint8_t* class_of,
                  uint8_t* block);

// num[0..8 * vectors) for a block of `vectors` vectors (1, 2, 4 or 8) of nseq sequences laid
// out as above: the weighted pair sums in the plain order, pair (j, k) adding
// (w_j * w_k) * value; where den is not null, *den = the sum of w_j * w_k in the same order.
void column_block(const uint8_t* codes, int nseq, int vectors, const double* weights,
                  const ColumnKernelTables& tables, double* num, double* den);

}  // namespace avx512
}  // namespace marrowind

#endif
