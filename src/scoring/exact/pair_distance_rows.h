// pair_distance_rows.h: every pair's distance, computed on several threads, handed over in order.
//
// Contents:
//   PairDistanceRows  the rows of the pair-distance triangle, group by group in ascending order
#ifndef MARROWIND_SCORING_EXACT_PAIR_DISTANCE_ROWS_H
#define MARROWIND_SCORING_EXACT_PAIR_DISTANCE_ROWS_H

#include <cstddef>
#include <functional>

#include "scoring/kernels/distance_kernel.h"

namespace marrowind {

class PairDistanceRows {
public:
    // Rows in a group: at most this many.
    static constexpr int kMaxGroup = 16;

    // consume(first, end, rows) receives the rows [first, end) of one group: rows[(i - first)
    // * nseq + j] for j > i is the distance between sequences i and j as the kernel gives it.
    using Consumer = std::function<void(int first, int end, const double* rows)>;

    // `threads`: at most this many take part.
    PairDistanceRows(const DistanceKernel& kernel, int nseq, int length, int threads);

    // Calls consume for every group of rows in ascending order, one group at a time, on
    // whichever thread holds the hand-over lock, and progress (if any) now and then on the
    // calling thread with the fraction of the pairs handed over. Throws OutOfMemory.
    void run(const Consumer& consume, const std::function<void(double)>& progress) const;

private:
    int rows_per_group() const;
    int ring_slots(int groups) const;
    void compute_rows(int first_row, int end_row, double* out, uint8_t* row_tables) const;

    const DistanceKernel& kernel_;
    int nseq_;
    int length_;
    int threads_;
};

}  // namespace marrowind

#endif
