// distance_kernel.h: the inner loop of the pair distances, one interface for every kernel.
//
// Contents:
//   DistanceKernel                 compares one sequence with a tile of others
//   make_portable_distance_kernel  plain C++ over class codes, for any matrix and processor
//   avx512_distance_kernel_fits    whether a matrix and length suit the AVX-512 kernel
//   make_avx512_distance_kernel    the AVX-512 kernel (only where it is compiled)
//   Avx512DistanceTables           its level tables, also for pairs chosen at random
//
// A kernel holds the alignment in whatever layout its loops read, built once when it is made;
// the pair-distance rows (pair_distance_rows.h) share its work out over threads and tiles.
#ifndef MARROWIND_SCORING_KERNELS_DISTANCE_KERNEL_H
#define MARROWIND_SCORING_KERNELS_DISTANCE_KERNEL_H

#include <cstddef>
#include <cstdint>
#include <memory>

#include <array>
#include <vector>

#include "core/records.h"
#include "scoring/kernels/inner_loops_avx512.h"
#include "scoring/kernels/residue_classes.h"

namespace marrowind {

class DistanceKernel {
public:
    // Sequences compared with one row at a time: a tile starts at a multiple of kTile. A group
    // of rows is compared with one tile before the next, so that the tile is read from memory
    // once per group instead of once per row: the whole alignment is far larger than the caches.
    static constexpr int kTile = 32;

    virtual ~DistanceKernel() = default;

    // The bytes of the table that prepare_row fills for a row (0: the kernel needs none).
    virtual std::size_t row_table_bytes() const = 0;
    virtual void prepare_row(int row, uint8_t* table) const = 0;

    // out[j] for j in [max(tile, row + 1), tile_end), tile_end - tile at most kTile: the
    // distance of sequences row and j divided by the kernel's divisor, with the bits of
    // CalcPairDist(...) / divisor. `table` is the row's, as prepare_row left it.
    virtual void compare_tile(int row, const uint8_t* table, int tile, int tile_end,
                              double* out) const = 0;
};

// The weights take every distance divided by nseq - 1 (`divisor`; 1 for the distances
// themselves), and the divisions cost less in the kernels than where the rows are handed over.
// Each throws OutOfMemory.
std::unique_ptr<DistanceKernel> make_portable_distance_kernel(const Alignment& alignment,
                                                              const ResidueClasses& classes,
                                                              double divisor);

// The AVX-512 kernel, defined only where it is compiled (MARROWIND_AVX512_KERNELS). It builds
// its layout on up to `threads` threads.
bool avx512_distance_kernel_fits(const ResidueClasses& classes, int length);
std::unique_ptr<DistanceKernel> make_avx512_distance_kernel(const Alignment& alignment,
                                                            const ResidueClasses& classes,
                                                            double divisor, int threads);

// The AVX-512 kernel's tables for a matrix (only where it is compiled; for a matrix that
// avx512_distance_kernel_fits): for each class, its level against every class, padded to 32
// bytes, with the class as the earlier sequence of the pair (as_row) and as the later one
// (as_column); and the planes that turn a level into the four bytes of its units, then whether
// it counts (inner_loops_avx512.h). Throws OutOfMemory.
struct Avx512DistanceTables {
    using Levels = std::array<uint8_t, kMaxKernelClasses>;
    std::vector<Levels> as_row;
    std::vector<Levels> as_column;
    std::array<uint8_t, kDistancePlanes * 64> planes{};
};
Avx512DistanceTables make_avx512_distance_tables(const ResidueClasses& classes);

}  // namespace marrowind

#endif
