// pair_distance_rows.cpp: the pair-distance rows, their groups, their ring and their threads.
//
// Contents: PairDistanceRows.
//
// The threads are started once. Each takes the next group of rows, computes it into a ring of
// slots, and then hands over whatever groups are complete, in order; a group waits for its slot
// until the group that last used it has been handed over. So the consumer sees every row in
// ascending order whatever the number of threads, and memory stays a few groups of rows.
#include "scoring/exact/pair_distance_rows.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "core/pages.h"
#include "scoring/parallel/buffers.h"
#include "scoring/parallel/worker_threads.h"

namespace marrowind {

PairDistanceRows::PairDistanceRows(const DistanceKernel& kernel, int nseq, int length,
                                   int threads)
    : kernel_(kernel), nseq_(nseq), length_(length), threads_(threads)
{
}

// As many rows as keep their tables (or, without tables, their codes) within half a megabyte,
// the size of a core's cache, and the ring (a slot per thread and one more) within 64 MB.
int PairDistanceRows::rows_per_group() const
{
    const std::size_t bytes = std::max<std::size_t>(
        {kernel_.row_table_bytes(), static_cast<std::size_t>(length_), std::size_t{1}});
    const std::size_t ring_rows = (std::size_t{64} << 20) /
                                  (sizeof(double) * static_cast<std::size_t>(nseq_)) /
                                  static_cast<std::size_t>(threads_ + 1);
    return static_cast<int>(std::clamp<std::size_t>(
        std::min((std::size_t{1} << 19) / bytes, ring_rows), 1, kMaxGroup));
}

// A slot per thread and one more, so that no thread waits on the one handing over. More would
// smooth out uneven groups, but fresh memory is dear: first touches of its pages can cost as
// much time as the rows computed in them.
int PairDistanceRows::ring_slots(int groups) const { return std::min(groups, threads_ + 1); }

// Rows [first_row, end_row) into out (a row of nseq doubles each), tile by tile.
void PairDistanceRows::compute_rows(int first_row, int end_row, double* out,
                                    uint8_t* row_tables) const
{
    const std::size_t table_bytes = kernel_.row_table_bytes();
    auto table = [&](int i) {
        return row_tables + static_cast<std::size_t>(i - first_row) * table_bytes;
    };
    for (int i = first_row; i < end_row; ++i) kernel_.prepare_row(i, table(i));
    constexpr int kTile = DistanceKernel::kTile;
    for (int tile = (first_row + 1) / kTile * kTile; tile < nseq_; tile += kTile) {
        const int tile_end = std::min(nseq_, tile + kTile);
        for (int i = first_row; i < end_row && i + 1 < tile_end; ++i)
            kernel_.compare_tile(i, table(i), tile, tile_end,
                                 out + static_cast<std::size_t>(i - first_row) * nseq_);
    }
}

void PairDistanceRows::run(const Consumer& consume,
                           const std::function<void(double)>& progress) const
{
    if (nseq_ < 2) return;
    const int rows = nseq_ - 1;  // the last sequence has no pair after it
    const int group = rows_per_group();
    const int groups = (rows + group - 1) / group;
    const std::size_t slot_size = static_cast<std::size_t>(group) * nseq_;
    const int slots = ring_slots(groups);
    // Left uninitialised: every distance is written before it is handed over.
    const std::size_t ring_size = static_cast<std::size_t>(slots) * slot_size;
    const std::unique_ptr<double[]> ring = allocate_array<double>(ring_size);
    map_pages_now(ring.get(), ring_size * sizeof(double));
    const std::unique_ptr<std::atomic<int>[]> filled_by =
        allocate_array<std::atomic<int>>(static_cast<std::size_t>(slots));
    for (int s = 0; s < slots; ++s) filled_by[s].store(-1);
    auto slot = [&](int g) { return &ring[static_cast<std::size_t>(g % slots) * slot_size]; };

    std::atomic<int> next_group(0);
    std::atomic<int> handed_over(0);
    std::mutex hand_over_lock;
    auto hand_over = [&] {
        std::unique_lock<std::mutex> lock(hand_over_lock, std::try_to_lock);
        if (!lock.owns_lock()) return;  // the holder hands over every group ready
        for (int g = handed_over.load(std::memory_order_relaxed);
             g < groups && filled_by[g % slots].load(std::memory_order_acquire) == g; ++g) {
            consume(g * group, std::min(rows, (g + 1) * group), slot(g));
            handed_over.store(g + 1, std::memory_order_release);
        }
    };
    const double total_pairs = 0.5 * nseq_ * (nseq_ - 1.0);
    auto pairs_before_row = [&](double i) { return i * (nseq_ - 1.0) - 0.5 * i * (i - 1.0); };

    run_on_threads(
        std::min(threads_, groups),
        [&](int) {
            return CodeBuffer(static_cast<std::size_t>(group) * kernel_.row_table_bytes());
        },
        [&](int t, CodeBuffer& row_tables) {
            for (int g = next_group++; g < groups; g = next_group++) {
                while (handed_over.load(std::memory_order_acquire) + slots <= g) {
                    hand_over();
                    std::this_thread::yield();
                }
                compute_rows(g * group, std::min(rows, (g + 1) * group), slot(g),
                             row_tables.data());
                filled_by[g % slots].store(g, std::memory_order_release);
                hand_over();
                if (t == 0 && progress) {
                    const int done_rows = std::min(rows, handed_over.load() * group);
                    progress(pairs_before_row(done_rows) / total_pairs);
                }
            }
            // The calling thread returns only once every row has been handed over.
            while (t == 0 && handed_over.load(std::memory_order_acquire) < groups) {
                hand_over();
                std::this_thread::yield();
            }
        });
}

}  // namespace marrowind
