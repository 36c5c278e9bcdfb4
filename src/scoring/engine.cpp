// engine.cpp: the fast scoring stages, their threads and their portable inner loops.
//
// Contents:
//   best_kernel_level, supported_kernel_levels, kernel_level_name
//   run_on_threads          runs a worker on every thread, the caller included
//   PairDistanceRows        the pair distances, row by row in ascending order
//   compute_weights, compute_distance_table
//   ColumnScorer            the column scores, blocks of columns on every thread
//   compute_column_scores
#include "scoring/engine.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include <sys/mman.h>

#include "core/pages.h"
#include "marrowind/errors.h"
#include "scoring/kernels_avx512.h"
#include "scoring/pair_distance.h"
#include "scoring/residue_classes.h"

#ifdef MARROWIND_PLAIN_STAGES
#include "scoring/plain_loops.h"
#endif

namespace marrowind {

KernelLevel best_kernel_level()
{
    return avx512::cpu_supports() ? KernelLevel::kAvx512 : KernelLevel::kPortable;
}

std::vector<KernelLevel> supported_kernel_levels()
{
    std::vector<KernelLevel> levels = {KernelLevel::kPortable};
    if (avx512::cpu_supports()) levels.push_back(KernelLevel::kAvx512);
    return levels;
}

const char* kernel_level_name(KernelLevel level)
{
    return level == KernelLevel::kAvx512 ? "avx512" : "portable";
}

namespace {

int thread_count(const ScoringOptions& options, long long work_items)
{
    int threads = options.threads;
    if (threads <= 0) threads = static_cast<int>(std::thread::hardware_concurrency());
    if (threads <= 0) threads = 1;
    return static_cast<int>(std::max(1LL, std::min<long long>(threads, work_items)));
}

// Runs worker(t) for t = 0 .. threads-1 (or fewer), t = 0 on the calling thread. The first
// exception thrown by any worker is rethrown here once all have finished.
template <typename Worker>
void run_on_threads(int threads, Worker&& worker)
{
    std::exception_ptr failure;
    std::mutex failure_lock;
    auto guarded = [&](int t) {
        try {
            worker(t);
        } catch (...) {
            std::lock_guard<std::mutex> lock(failure_lock);
            if (!failure) failure = std::current_exception();
        }
    };
    // The work is handed out through shared counters, so a helper thread that the system cannot
    // start (little address space left, a thread limit) only means fewer hands on it.
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(guarded, t);
        } catch (const std::system_error&) {
            break;
        } catch (const std::bad_alloc&) {
            break;
        }
    }
    guarded(0);
    for (std::thread& helper : helpers) helper.join();
    if (failure) std::rethrow_exception(failure);
}

template <typename T>
std::vector<T> allocate(std::size_t count, T fill = T())
{
    try {
        return std::vector<T>(count, fill);
    } catch (const std::bad_alloc&) {
        throw OutOfMemory(static_cast<long long>(count));
    }
}

// The AVX-512 distance kernel sums whole units out of order, in byte planes of 32-bit lanes, and
// looks levels up with byte permutes: it needs values below 2^32 units, sums that are exact in
// any order, and few classes and levels.
KernelLevel distance_path(const ResidueClasses& classes, int length, KernelLevel wanted)
{
    const bool fits = classes.max_units < (uint64_t{1} << 32) && length < (1 << 24) &&
                      classes.sums_are_exact(length) && classes.count <= kMaxKernelClasses &&
                      !classes.distance_level.empty() &&
                      classes.distance_level_value.size() <= kMaxDistanceLevels;
    return wanted == KernelLevel::kAvx512 && avx512::cpu_supports() && fits
               ? KernelLevel::kAvx512
               : KernelLevel::kPortable;
}

// The AVX-512 column kernel looks up levels with byte permutes and products with double
// permutes: it needs few classes and levels. Every other case runs the portable loop.
KernelLevel column_path(const ResidueClasses& classes, KernelLevel wanted)
{
    const bool levels_fit = classes.count <= kMaxKernelClasses && !classes.column_level.empty() &&
                            classes.column_level_value.size() <= kMaxColumnLevels;
    if (wanted == KernelLevel::kAvx512 && avx512::cpu_supports() && levels_fit)
        return KernelLevel::kAvx512;
    return KernelLevel::kPortable;
}

// A byte buffer for the class codes of a whole alignment: 64-byte aligned, its pages mapped at
// once, and for large alignments backed by huge pages where the system allows, since the pair
// loops sweep the whole buffer again and again and would otherwise spend their time on address
// translation.
class CodeBuffer {
public:
    CodeBuffer() = default;
    CodeBuffer(std::size_t size, uint8_t fill) : CodeBuffer(size)
    {
        std::memset(bytes_.get(), fill, size);
    }
    // Uninitialised, for a caller that writes every byte.
    explicit CodeBuffer(std::size_t size)
    {
        constexpr std::size_t kHugePage = std::size_t{2} << 20;
        const std::size_t alignment = size >= 4 * kHugePage ? kHugePage : 64;
        void* block = nullptr;
        if (posix_memalign(&block, alignment, std::max<std::size_t>(size, 1)) != 0)
            throw OutOfMemory(static_cast<long long>(size));
        if (alignment == kHugePage) madvise(block, size, MADV_HUGEPAGE);  // a hint; may be refused
        map_pages_now(block, size);
        bytes_.reset(static_cast<uint8_t*>(block));
    }
    uint8_t* data() const { return bytes_.get(); }
    uint8_t& operator[](std::size_t at) const { return bytes_.get()[at]; }

private:
    struct Free {
        void operator()(uint8_t* block) const { std::free(block); }
    };
    std::unique_ptr<uint8_t, Free> bytes_;
};

// The pair distances, each divided by `divisor` (1 for the distances themselves): the weights
// take every distance divided by nseq - 1, and the divisions are cheaper in vector lanes on
// the threads that compute the distances than one by one where the rows are handed over.
class PairDistanceRows {
public:
    PairDistanceRows(const Alignment& alignment, const ResidueClasses& classes, double divisor,
                     const ScoringOptions& options)
        : alignment_(alignment), classes_(classes), nseq_(alignment.nseq),
          length_(alignment.length), divisor_(divisor)
    {
        path_ = distance_path(classes, length_, options.kernel);
        threads_ = thread_count(options, nseq_);
        if (path_ == KernelLevel::kAvx512)
            build_avx512_layout();
        else
            build_row_codes();
    }

    // Calls consume(first, end, rows) for groups of rows [first, end) in ascending order, one
    // group at a time (on whichever thread holds the hand-over lock); rows[(i - first) * nseq
    // + j] for j > i is the distance between sequences i and j, divided by the divisor.
    //
    // The threads are started once. Each takes the next group of rows, computes it into a ring
    // of slots, and then hands over whatever groups are complete, in order; a group waits for
    // its slot until the group that last used it has been handed over.
    template <typename Consumer>
    void run(Consumer&& consume, const std::function<void(double)>& progress)
    {
        if (nseq_ < 2) return;
        const int rows = nseq_ - 1;  // the last sequence has no pair after it
        const int group = rows_per_group();
        const int groups = (rows + group - 1) / group;
        const std::size_t slot_size = static_cast<std::size_t>(group) * nseq_;
        const int slots = ring_slots(groups);
        // Left uninitialised: every distance is written before it is handed over.
        const std::size_t ring_size = static_cast<std::size_t>(slots) * slot_size;
        std::unique_ptr<double[]> ring(new (std::nothrow) double[ring_size]);
        if (!ring) throw OutOfMemory(static_cast<long long>(ring_size * sizeof(double)));
        map_pages_now(ring.get(), ring_size * sizeof(double));
        std::unique_ptr<std::atomic<int>[]> filled_by(new std::atomic<int>[slots]);
        for (int s = 0; s < slots; ++s) filled_by[s].store(-1);

        std::atomic<int> next_group(0);
        std::atomic<int> handed_over(0);
        std::mutex hand_over_lock;
        auto hand_over = [&] {
            std::unique_lock<std::mutex> lock(hand_over_lock, std::try_to_lock);
            if (!lock.owns_lock()) return;  // the holder hands over every group ready
            for (int g = handed_over.load(std::memory_order_relaxed);
                 g < groups && filled_by[g % slots].load(std::memory_order_acquire) == g; ++g) {
                consume(g * group, std::min(rows, (g + 1) * group),
                        &ring[static_cast<std::size_t>(g % slots) * slot_size]);
                handed_over.store(g + 1, std::memory_order_release);
            }
        };
        const double total_pairs = 0.5 * nseq_ * (nseq_ - 1.0);
        auto pairs_before_row = [&](double i) { return i * (nseq_ - 1.0) - 0.5 * i * (i - 1.0); };

        run_on_threads(std::min(threads_, groups), [&](int t) {
            Scratch scratch = make_scratch(group);
            for (int g = next_group++; g < groups; g = next_group++) {
                while (handed_over.load(std::memory_order_acquire) + slots <= g) {
                    hand_over();
                    std::this_thread::yield();
                }
                double* slot = &ring[static_cast<std::size_t>(g % slots) * slot_size];
                compute_rows(g * group, std::min(rows, (g + 1) * group), slot, scratch);
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

    // Rows in a group: at most this many.
    static constexpr int kMaxGroup = 16;

private:
    // Sequences compared at a time: two AVX-512 blocks. A group of rows is
    // compared with one tile before the next, so the tile is read from memory once per group
    // instead of once per row: the whole alignment is far larger than the caches.
    static constexpr int kTile = 32;

    struct Scratch {
        CodeBuffer row_tables;  // row_table_bytes() per row of the group
        uint64_t units[kTile];
        uint32_t counts[kTile];
    };

    int quads() const { return (length_ + kQuad - 1) / kQuad; }
    int blocks() const { return (nseq_ + kDistanceBlock - 1) / kDistanceBlock; }

    std::size_t row_table_bytes() const
    {
        return path_ == KernelLevel::kAvx512 ? static_cast<std::size_t>(quads()) * 128 : 0;
    }

    // As many rows as keep their tables within half a megabyte, the size of a core's cache,
    // and the ring (a slot per thread and one more) within 64 MB.
    int rows_per_group() const
    {
        const std::size_t bytes = std::max<std::size_t>(
            {row_table_bytes(), static_cast<std::size_t>(length_), std::size_t{1}});
        const std::size_t ring_rows = (std::size_t{64} << 20) /
                                      (sizeof(double) * static_cast<std::size_t>(nseq_)) /
                                      static_cast<std::size_t>(threads_ + 1);
        return static_cast<int>(
            std::clamp<std::size_t>(std::min((std::size_t{1} << 19) / bytes, ring_rows), 1,
                                    kMaxGroup));
    }

    // A slot per thread and one more, so that no thread waits on the one handing over. More
    // would smooth out uneven groups, but fresh memory is dear: first touches of its pages can
    // cost as much time as the rows computed in them.
    int ring_slots(int groups) const { return std::min(groups, threads_ + 1); }

    Scratch make_scratch(int group) const
    {
        Scratch scratch;
        scratch.row_tables = CodeBuffer(static_cast<std::size_t>(group) * row_table_bytes());
        return scratch;
    }

    uint8_t* row_table(const Scratch& scratch, int row_in_group) const
    {
        return scratch.row_tables.data() +
               static_cast<std::size_t>(row_in_group) * row_table_bytes();
    }

    // Rows [first_row, end_row) into out (a row of nseq doubles each), tile by tile.
    void compute_rows(int first_row, int end_row, double* out, Scratch& scratch) const
    {
        for (int i = first_row; i < end_row; ++i)
            prepare_row(i, row_table(scratch, i - first_row));
        for (int tile = (first_row + 1) / kTile * kTile; tile < nseq_; tile += kTile) {
            const int tile_end = std::min(nseq_, tile + kTile);
            for (int i = first_row; i < end_row && i + 1 < tile_end; ++i)
                compute_tile(i, row_table(scratch, i - first_row), tile, tile_end,
                             out + static_cast<std::size_t>(i - first_row) * nseq_, scratch);
        }
    }

    // Columns past the end and sequences past the last are gaps: a gap against a gap neither
    // counts nor adds anything.
    uint8_t code_at(int sequence, int column) const
    {
        if (sequence >= nseq_ || column >= length_) return ResidueClasses::kGapClass;
        return classes_.class_of[static_cast<unsigned char>(alignment_.seqs[sequence].seq[column])];
    }

    // Every byte of the layout is written once, by the threads side by side, each taking the
    // next block of sixteen sequences, so that the first touches of fresh pages are shared out
    // too. Blocks are claimed through a counter, so a thread that could not start leaves its
    // share to the others.
    void build_avx512_layout()
    {
        const std::size_t block_bytes = static_cast<std::size_t>(quads()) * 64;
        codes_ = CodeBuffer(static_cast<std::size_t>(blocks()) * block_bytes);
        // A sequence's four codes of one quad are adjacent, each plus 32 times its position
        // in the quad: one little-endian 32-bit word (codes stay below 32, so no byte carries).
        constexpr uint32_t kQuadOffsets = 0x60402000u;
        auto store_quad = [&](int sequence, int quad, uint32_t word) {
            word += kQuadOffsets;
            std::memcpy(&codes_[static_cast<std::size_t>(sequence / kDistanceBlock) * block_bytes +
                                static_cast<std::size_t>(quad) * 64 +
                                kQuad * (sequence % kDistanceBlock)],
                        &word, sizeof word);
        };
        std::atomic<int> next_block(0);
        run_on_threads(std::min(threads_, blocks()), [&](int) {
            std::vector<uint8_t> row = allocate<uint8_t>(
                static_cast<std::size_t>(quads()) * kQuad, ResidueClasses::kGapClass);
            for (int b = next_block++; b < blocks(); b = next_block++) {
                for (int i = b * kDistanceBlock; i < (b + 1) * kDistanceBlock; ++i) {
                    if (i >= nseq_) {  // sequences past the last are gaps
                        for (int q = 0; q < quads(); ++q)
                            store_quad(i, q, 0x01010101u * ResidueClasses::kGapClass);
                        continue;
                    }
                    encode_residues(classes_, alignment_.seqs[i].seq.data(),
                                    static_cast<std::size_t>(length_), row.data());
                    for (int q = 0; q < quads(); ++q) {
                        uint32_t word;
                        std::memcpy(&word, &row[static_cast<std::size_t>(q) * kQuad], sizeof word);
                        store_quad(i, q, word);
                    }
                }
            }
        });
        // Each class's levels padded to 32 bytes, so that a row's table is filled with copies
        // of one fixed size.
        level_rows_.assign(static_cast<std::size_t>(classes_.count), {});
        for (int a = 0; a < classes_.count; ++a)
            std::copy_n(&classes_.distance_level[static_cast<std::size_t>(a) * classes_.count],
                        classes_.count, level_rows_[a].begin());
        for (int p = 0; p < kDistancePlanes; ++p)
            for (std::size_t level = 0; level < classes_.distance_level_value.size(); ++level)
                planes_[64 * p + level] =
                    p < 4 ? static_cast<uint8_t>(classes_.distance_level_units[level] >> (8 * p))
                          : classes_.distance_level_counts[level];
    }

    // In 64 bits: a length near the largest int must not overflow on the way.
    int gap_words() const { return static_cast<int>((std::int64_t{length_} + 63) / 64); }

    // The class codes row by row, and for each sequence a bit mask of its gap columns: a pair's
    // columns that count are all but those where both masks have a bit.
    void build_row_codes()
    {
        codes_ = CodeBuffer(static_cast<std::size_t>(nseq_) * length_, 0);
        gap_masks_ = allocate<uint64_t>(static_cast<std::size_t>(nseq_) * gap_words());
        for (int i = 0; i < nseq_; ++i) {
            uint8_t* row = &codes_[static_cast<std::size_t>(i) * length_];
            encode_residues(classes_, alignment_.seqs[i].seq.data(),
                            static_cast<std::size_t>(length_), row);
            uint64_t* mask = gap_masks_.data() + static_cast<std::size_t>(i) * gap_words();
            for (int k = 0; k < length_; ++k)
                if (row[k] == ResidueClasses::kGapClass) mask[k / 64] |= uint64_t{1} << (k % 64);
        }
    }

    int64_t counted_columns(int i, int j) const
    {
        const uint64_t* a = gap_masks_.data() + static_cast<std::size_t>(i) * gap_words();
        const uint64_t* b = gap_masks_.data() + static_cast<std::size_t>(j) * gap_words();
        int64_t both_gaps = 0;
        for (int w = 0; w < gap_words(); ++w) both_gaps += __builtin_popcountll(a[w] & b[w]);
        return length_ - both_gaps;
    }

    // For each quad of columns, the row's level against every class at each of the four columns.
    void prepare_row(int i, uint8_t* table) const
    {
        if (path_ == KernelLevel::kAvx512)
            for (int q = 0; q < quads(); ++q)
                for (int p = 0; p < kQuad; ++p)
                    std::memcpy(&table[static_cast<std::size_t>(q) * 128 + 32 * p],
                                &level_rows_[code_at(i, kQuad * q + p)][0], kMaxKernelClasses);
    }

    // out[j] for j in [max(tile, i + 1), tile_end).
    void compute_tile(int i, const uint8_t* table, int tile, int tile_end, double* out,
                      Scratch& scratch) const
    {
        if (path_ == KernelLevel::kPortable) {
            compute_portable(i, std::max(tile, i + 1), tile_end, out);
            return;
        }
        const int first_block = tile / kDistanceBlock;
        const int end_block = std::min(blocks(), (tile_end + kDistanceBlock - 1) / kDistanceBlock);
        const int base = first_block * kDistanceBlock;
        std::fill_n(scratch.units, kTile, 0);
        std::fill_n(scratch.counts, kTile, 0);
        avx512::distance_row(table, codes_.data(), quads(), first_block, end_block,
                             planes_, scratch.units, scratch.counts);
        // Exact sums: every partial sum of the values is a whole number of units below 2^53.
        const int first = std::max(tile, i + 1);
        avx512::finish_distances(scratch.units + (first - base), scratch.counts + (first - base),
                                 tile_end - first, classes_.unit, divisor_, out + first);
    }

    // The plain ordered sums, four pairs at a time so that their additions overlap.
    void compute_portable(int i, int first, int end, double* out) const
    {
        const int count = classes_.count;
        const double* value = classes_.value.data();
        const uint8_t* x = &codes_[static_cast<std::size_t>(i) * length_];
        int j = first;
        for (; j + 4 <= end; j += 4) {
            const uint8_t* y[4];
            for (int t = 0; t < 4; ++t) y[t] = &codes_[static_cast<std::size_t>(j + t) * length_];
            double sum[4] = {0.0, 0.0, 0.0, 0.0};
            for (int k = 0; k < length_; ++k) {
                const double* row = value + static_cast<std::size_t>(x[k]) * count;
                for (int t = 0; t < 4; ++t) sum[t] += row[y[t][k]];
            }
            for (int t = 0; t < 4; ++t)
                out[j + t] = pair_distance(sum[t], counted_columns(i, j + t)) / divisor_;
        }
        for (; j < end; ++j) {
            const uint8_t* y = &codes_[static_cast<std::size_t>(j) * length_];
            double sum = 0.0;
            for (int k = 0; k < length_; ++k)
                sum += value[static_cast<std::size_t>(x[k]) * count + y[k]];
            out[j] = pair_distance(sum, counted_columns(i, j)) / divisor_;
        }
    }

    const Alignment& alignment_;
    const ResidueClasses& classes_;
    int nseq_;
    int length_;
    double divisor_;
    int threads_ = 1;
    KernelLevel path_ = KernelLevel::kPortable;
    CodeBuffer codes_;
    uint8_t planes_[kDistancePlanes * 64] = {};
    std::vector<std::array<uint8_t, kMaxKernelClasses>> level_rows_;
    std::vector<uint64_t> gap_masks_;
};

class ColumnScorer {
public:
    ColumnScorer(const Alignment& alignment, const ResidueClasses& classes,
                 const double* weights, const ScoringOptions& options)
        : classes_(classes), weights_(weights), nseq_(alignment.nseq), length_(alignment.length)
    {
        path_ = column_path(classes, options.kernel);
        block_ = path_ == KernelLevel::kAvx512 ? kColumnBlock : kPortableBlock;
        blocks_ = static_cast<int>((std::int64_t{length_} + block_ - 1) / block_);
        threads_ = thread_count(options, blocks_);
        build_layout(alignment, options);
        scores_zero_.resize(static_cast<std::size_t>(classes.count));
        for (int a = 0; a < classes.count; ++a)
            scores_zero_[a] = std::all_of(classes.value.begin() + a * classes.count,
                                          classes.value.begin() + (a + 1) * classes.count,
                                          [](double v) { return v == 0.0; });
        if (path_ == KernelLevel::kAvx512) {
            level_values_.fill(0.0);
            std::copy(classes.column_level_value.begin(), classes.column_level_value.end(),
                      level_values_.begin());
        }
    }

    void run(double* scores, const std::function<void(double)>& progress)
    {
        // The denominator takes every pair whatever its residues, so it is the same for every
        // column; it is summed once, in the plain order, by the calling thread while the others
        // start on the blocks. The blocks leave their numerators in scores until it is known.
        double den = 0.0;
        const int blocks = blocks_;
        std::atomic<int> next_block(0);
        std::atomic<int> finished(0);
        run_on_threads(threads_, [&](int t) {
            if (t == 0)
                for (int j = 0; j < nseq_; ++j)
                    for (int k = j + 1; k < nseq_; ++k) den = den + weights_[j] * weights_[k];
            std::vector<double> num(static_cast<std::size_t>(block_));
            for (int b = next_block++; b < blocks; b = next_block++) {
                score_block(b, num.data());
                std::copy_n(num.data(), std::min(block_, length_ - b * block_),
                            scores + static_cast<std::size_t>(b) * block_);
                ++finished;
                if (t == 0 && progress) progress(static_cast<double>(finished) / blocks);
            }
        });
        for (int c = 0; c < length_; ++c) scores[c] = den != 0.0 ? scores[c] / den : 0.0;
    }

private:
    static constexpr int kPortableBlock = 32;
    static constexpr int kPortableGroup = 8;

    uint8_t* block_codes(int block, int sequence) const
    {
        return &codes_[(static_cast<std::size_t>(block) * nseq_ + sequence) * block_];
    }

    // Block by block: the codes of every sequence in one block of columns lie together, so
    // that the pair loops stream through memory. Columns past the end are gaps. The AVX-512
    // kernel takes its block's columns interleaved (column_lane). The threads take sequences
    // a few dozen at a time and write each of their cells whole.
    void build_layout(const Alignment& alignment, const ScoringOptions& options)
    {
        constexpr int kSequencesPerClaim = 64;
        codes_ = CodeBuffer(static_cast<std::size_t>(blocks_) * nseq_ * block_);
        const bool interleaved = path_ == KernelLevel::kAvx512;
        const int claims = (nseq_ + kSequencesPerClaim - 1) / kSequencesPerClaim;
        std::atomic<int> next_claim(0);
        run_on_threads(thread_count(options, claims), [&](int) {
            std::vector<uint8_t> row = allocate<uint8_t>(static_cast<std::size_t>(length_));
            for (int claim = next_claim++; claim < claims; claim = next_claim++) {
                const int end = std::min(nseq_, (claim + 1) * kSequencesPerClaim);
                for (int i = claim * kSequencesPerClaim; i < end; ++i) {
                    encode_residues(classes_, alignment.seqs[i].seq.data(),
                                    static_cast<std::size_t>(length_), row.data());
                    for (int b = 0; b < blocks_; ++b) {
                        uint8_t* block = block_codes(b, i);
                        const int columns = std::min(block_, length_ - b * block_);
                        if (columns < block_) std::memset(block, ResidueClasses::kGapClass, block_);
                        for (int c = 0; c < columns; ++c)
                            block[interleaved ? column_lane(c) : c] = row[b * block_ + c];
                    }
                }
            }
        });
    }

    void score_block(int block, double* num) const
    {
        if (path_ == KernelLevel::kAvx512) {
            const ColumnKernelTables tables = {classes_.column_level.data(), classes_.count,
                                               level_values_.data(),
                                               static_cast<int>(classes_.column_level_value.size()),
                                               scores_zero_.data()};
            avx512::column_block(block_codes(block, 0), static_cast<std::size_t>(block_), nseq_,
                                 std::min(block_, length_ - block * block_), weights_, tables,
                                 num);
        } else {
            score_block_portable(block, num);
        }
    }

    // Each column keeps its own sum, which receives its terms in the plain order; eight columns
    // at a time keep their sums in registers. A sequence whose residues in those columns all
    // score 0 against everything (gaps, unknown letters) adds +0.0 with every pair, which
    // changes no sum, so its pairs are skipped there.
    void score_block_portable(int block, double* num) const
    {
        const int count = classes_.count;
        for (int group = 0; group < block_; group += kPortableGroup) {
            double sums[kPortableGroup] = {};
            const double* rows[kPortableGroup];
            for (int j = 0; j + 1 < nseq_; ++j) {
                const uint8_t* x = block_codes(block, j) + group;
                bool all_zero = true;
                for (int c = 0; c < kPortableGroup; ++c) {
                    rows[c] = &classes_.value[static_cast<std::size_t>(x[c]) * count];
                    all_zero = all_zero && scores_zero_[x[c]];
                }
                if (all_zero) continue;
                const double weight_j = weights_[j];
                for (int k = j + 1; k < nseq_; ++k) {
                    const double weight = weight_j * weights_[k];
                    const uint8_t* y = block_codes(block, k) + group;
                    for (int c = 0; c < kPortableGroup; ++c)
                        sums[c] = sums[c] + weight * rows[c][y[c]];
                }
            }
            std::copy_n(sums, kPortableGroup, num + group);
        }
    }

    const ResidueClasses& classes_;
    const double* weights_;
    int nseq_;
    int length_;
    int threads_ = 1;
    KernelLevel path_ = KernelLevel::kPortable;
    int block_ = kPortableBlock;
    int blocks_ = 0;
    CodeBuffer codes_;
    std::vector<uint8_t> scores_zero_;
    std::array<double, kMaxColumnLevels> level_values_{};
};

}  // namespace

ScoringPaths chosen_paths(const Matrix& matrix, int length, KernelLevel wanted)
{
    const ResidueClasses classes = make_residue_classes(matrix);
    return {distance_path(classes, length, wanted), column_path(classes, wanted)};
}

#ifdef MARROWIND_PLAIN_STAGES
// A yardstick build: the stages run the plain loops, and the timing script measures the program
// against it.
void compute_weights(const Alignment& alignment, const Matrix& matrix, double* weights,
                     const ScoringOptions&)
{
    plain::weights(alignment, matrix, weights);
}

void compute_distance_table(const Alignment& alignment, const Matrix& matrix, f2dsquare& dist,
                            const ScoringOptions&)
{
    plain::distance_table(alignment, matrix, dist);
}

void compute_column_scores(const Alignment& alignment, const Matrix& matrix,
                           const double* weights, double* scores, const ScoringOptions&)
{
    plain::column_scores(alignment, matrix, weights, scores);
}
#else
void compute_weights(const Alignment& alignment, const Matrix& matrix, double* weights,
                     const ScoringOptions& options)
{
    const int nseq = alignment.nseq;
    std::fill_n(weights, nseq, 0.0);
    const ResidueClasses classes = make_residue_classes(matrix);
    PairDistanceRows rows(alignment, classes, static_cast<double>(nseq - 1), options);
    // Each weight receives its terms in the plain order: from the rows above it, one per row
    // in ascending order, then its own row in ascending order. A group's pairs among its own
    // rows are taken row by row; past the group, each weight takes the group's terms row by
    // row, while the rows' own sums advance side by side, each still in ascending order, so
    // that their additions overlap instead of waiting on each other.
    rows.run(
        [&](int first, int end, const double* terms) {
            double own[PairDistanceRows::kMaxGroup];
            auto row = [&](int i) { return terms + static_cast<std::size_t>(i - first) * nseq; };
            for (int i = first; i < end; ++i) {
                double sum = weights[i];
                for (int j = i + 1; j < end; ++j) {
                    sum += row(i)[j];
                    weights[j] += row(i)[j];
                }
                own[i - first] = sum;
            }
            for (int j = end; j < nseq; ++j) {
                double weight = weights[j];
                for (int i = first; i < end; ++i) {
                    own[i - first] += row(i)[j];
                    weight += row(i)[j];
                }
                weights[j] = weight;
            }
            for (int i = first; i < end; ++i) weights[i] = own[i - first];
        },
        options.progress);
}

void compute_distance_table(const Alignment& alignment, const Matrix& matrix, f2dsquare& dist,
                            const ScoringOptions& options)
{
    for (int i = 0; i < alignment.nseq; ++i) dist.assign(i, i, 0.0f);
    const ResidueClasses classes = make_residue_classes(matrix);
    PairDistanceRows rows(alignment, classes, 1.0, options);
    rows.run(
        [&](int first, int end, const double* distances) {
            for (int i = first; i < end; ++i) {
                const double* row =
                    distances + static_cast<std::size_t>(i - first) * alignment.nseq;
                for (int j = i + 1; j < alignment.nseq; ++j) {
                    const float d = static_cast<float>(row[j]);
                    dist.assign(i, j, d);
                    dist.assign(j, i, d);
                }
            }
        },
        options.progress);
}

void compute_column_scores(const Alignment& alignment, const Matrix& matrix,
                           const double* weights, double* scores, const ScoringOptions& options)
{
    if (alignment.length <= 0) return;
    const ResidueClasses classes = make_residue_classes(matrix);
    ColumnScorer scorer(alignment, classes, weights, options);
    scorer.run(scores, options.progress);
}

#endif

}  // namespace marrowind
