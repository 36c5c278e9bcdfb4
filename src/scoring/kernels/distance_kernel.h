// distance_kernel.h: the inner loops of the pair distances, one interface for every kernel.
//
// Contents:
//   DistancePairs                  which pairs a kernel is made for: every pair, or partners
//   DistanceKernel                 compares one sequence with a tile of others, or with partners
//   make_portable_distance_kernel  plain C++ over class codes, for any matrix and processor
//   avx512_distance_kernel_fits    whether a matrix and length suit the AVX-512 kernel
//   make_avx512_distance_kernel    the AVX-512 kernel (only where it is compiled)
//
// Every kernel gives each pair the bits of CalcPairDist (the reference loop), divided by the
// kernel's divisor. The exact stages compare every pair: the kernel lays the alignment out once,
// in whatever layout its loops read, and the pair-distance rows (exact/pair_distance_rows.h)
// share its tiles out over threads. The approximate stages compare each sequence with a few
// partners drawn from all over the alignment: the kernel then reads the residues where the
// alignment holds them, since a second copy of a million sequences would cost more than it saves.
#ifndef MARROWIND_SCORING_KERNELS_DISTANCE_KERNEL_H
#define MARROWIND_SCORING_KERNELS_DISTANCE_KERNEL_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "scoring/kernels/residue_classes.h"
#include "scoring/kernels/residue_rows.h"
#include "scoring/parallel/buffers.h"

namespace marrowind {

enum class DistancePairs {
    kEveryPair,  // compare_tile, over a layout of the whole alignment built when it is made
    kPartners,   // compare_partners, over the alignment's residues where they lie
};

class DistanceKernel {
public:
    // Sequences compared with one row at a time: a tile starts at a multiple of kTile. A group
    // of rows is compared with one tile before the next, so that the tile is read from memory
    // once per group instead of once per row: the whole alignment is far larger than the caches.
    static constexpr int kTile = 32;

    virtual ~DistanceKernel() = default;

    // The bytes of the table that prepare_row fills for a row (0: the kernel needs none). The
    // tables and working memory that a kernel is given start on a 64-byte boundary.
    virtual std::size_t row_table_bytes() const = 0;
    virtual void prepare_row(int row, uint8_t* table) const = 0;

    // Every pair (a kernel made for kEveryPair): out[j] for j in [max(tile, row + 1),
    // tile_end), tile_end - tile at most kTile: the distance of sequences row and j divided by
    // the kernel's divisor. `table` is the row's, as prepare_row left it.
    virtual void compare_tile(int row, const uint8_t* table, int tile, int tile_end,
                              double* out) const = 0;

    // Partners (a kernel made for kPartners): out[t] for t < count, count at most
    // partner_group(): the distance of sequences row and partners[t] divided by the kernel's
    // divisor, the earlier of the two read first. The partners are all before row or all after
    // it; `table` is the row's, as prepare_row left it, and `work` a thread's own
    // partner_work_bytes().
    virtual int partner_group() const = 0;
    virtual std::size_t partner_work_bytes() const = 0;
    virtual void compare_partners(int row, const uint8_t* table, const int* partners, int count,
                                  uint8_t* work, double* out) const = 0;

    // Asks for the residues of partners[0..count) to be brought into the cache: partners are
    // scattered over the whole alignment, and the next group's wait for memory then overlaps
    // the comparisons of this one.
    virtual void prefetch_partners(const int* partners, int count) const = 0;
};

// The weights take every distance divided by the number of distances they average (`divisor`;
// 1 for the distances themselves), and the divisions cost less in the kernels than where the
// distances are summed. Each throws OutOfMemory.
std::unique_ptr<DistanceKernel> make_portable_distance_kernel(const ResidueRows& rows,
                                                              const ResidueClasses& classes,
                                                              double divisor,
                                                              DistancePairs pairs);

// The AVX-512 kernel, defined only where it is compiled (MARROWIND_AVX512_KERNELS). It lays the
// alignment out for every pair on up to `threads` threads.
bool avx512_distance_kernel_fits(const ResidueClasses& classes, int length);
std::unique_ptr<DistanceKernel> make_avx512_distance_kernel(const ResidueRows& rows,
                                                            const ResidueClasses& classes,
                                                            double divisor, int threads,
                                                            DistancePairs pairs);

}  // namespace marrowind

#endif
