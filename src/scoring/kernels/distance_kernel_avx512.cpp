// distance_kernel_avx512.cpp: the pair distances on AVX-512, layout and limits (x86-64 only).
//
// Contents: LevelTables, Avx512DistanceKernel, avx512_distance_kernel_fits,
//           make_avx512_distance_kernel.
//
// The similarities are whole multiples of one unit (see residue_classes.h). While every
// partial sum of a pair stays below 2^53 units it is exact, so the order of its additions
// cannot change it: the kernel (inner_loops_avx512.h) counts units in integers, one sequence
// against sixteen at a time, four columns per step, looking each pair's level up with byte
// permutes, and forms each distance from the unit and column counts as the plain loop would.
// Every pair reads the sixteen from a layout of the whole alignment; partners are classified
// and transposed into one block of that layout as they are compared.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <vector>

#include "scoring/kernels/distance_kernel.h"
#include "scoring/kernels/inner_loops_avx512.h"
#include "scoring/parallel/buffers.h"
#include "scoring/parallel/worker_threads.h"

namespace marrowind {

namespace {

static_assert(DistanceKernel::kTile == 2 * kDistanceBlock,
              "a tile is the two blocks that distance_row compares at a time");

// For each class, its level against every class, padded to 32 bytes so that a row's table is
// filled with copies of one fixed size: with the class as the earlier sequence of the pair
// (as_row) and as the later one (as_column); and the planes that turn a level into the four
// bytes of its units, then whether it counts (inner_loops_avx512.h).
struct LevelTables {
    using Levels = std::array<uint8_t, kMaxKernelClasses>;
    std::vector<Levels> as_row;
    std::vector<Levels> as_column;
    std::array<uint8_t, kDistancePlanes * 64> planes{};
};

LevelTables make_level_tables(const ResidueClasses& classes)
{
    LevelTables tables;
    const auto count = static_cast<std::size_t>(classes.count);
    tables.as_row = allocate<LevelTables::Levels>(count, {});
    tables.as_column = allocate<LevelTables::Levels>(count, {});
    for (std::size_t a = 0; a < count; ++a)
        for (std::size_t b = 0; b < count; ++b) {
            tables.as_row[a][b] = classes.distance_level[a * count + b];
            tables.as_column[a][b] = classes.distance_level[b * count + a];
        }
    for (int p = 0; p < kDistancePlanes; ++p)
        for (std::size_t level = 0; level < classes.distance_level_value.size(); ++level)
            tables.planes[64 * p + level] =
                p < 4 ? static_cast<uint8_t>(classes.distance_level_units[level] >> (8 * p))
                      : classes.distance_level_counts[level];
    return tables;
}

class Avx512DistanceKernel final : public DistanceKernel {
public:
    Avx512DistanceKernel(const ResidueRows& rows, const ResidueClasses& classes,
                         double divisor, int threads, DistancePairs pairs)
        : rows_(rows), classes_(classes), nseq_(rows.nseq()), length_(rows.length()),
          divisor_(divisor),
          // A row compared with earlier partners reads the pair from the other side, which
          // only a matrix that is not symmetric tells apart.
          row_tables_(pairs == DistancePairs::kPartners && !classes.symmetric ? 2 : 1),
          tables_(make_level_tables(classes))
    {
        if (pairs == DistancePairs::kEveryPair)
            build_layout(threads);
        else
            residues_ = &rows;
    }

    // For each quad of columns, the row's level against every class at each of the four
    // columns: with the row as the earlier sequence of its pairs, then (for a matrix that is
    // not symmetric, against earlier partners) as the later one.
    std::size_t row_table_bytes() const override
    {
        return static_cast<std::size_t>(row_tables_) * levels_bytes();
    }

    // Columns past the end are gaps: a gap against a gap neither counts nor adds anything.
    void prepare_row(int i, uint8_t* table) const override
    {
        const uint8_t* x = rows_[i];
        for (int k = 0; k < quads() * kQuad; ++k) {
            const uint8_t code = k < length_ ? classes_.class_of[x[k]]
                                             : ResidueClasses::kGapClass;
            const std::size_t at = static_cast<std::size_t>(k / kQuad) * 128 + 32 * (k % kQuad);
            std::memcpy(&table[at], tables_.as_row[code].data(), kMaxKernelClasses);
            if (row_tables_ == 2)
                std::memcpy(&table[levels_bytes() + at], tables_.as_column[code].data(),
                            kMaxKernelClasses);
        }
    }

    void compare_tile(int i, const uint8_t* table, int tile, int tile_end,
                      double* out) const override
    {
        const int first_block = tile / kDistanceBlock;
        const int end_block = std::min(blocks(), (tile_end + kDistanceBlock - 1) / kDistanceBlock);
        const int base = first_block * kDistanceBlock;
        uint64_t units[kTile] = {};
        uint32_t counts[kTile] = {};
        avx512::distance_row(table, codes_.data(), quads(), first_block, end_block,
                             tables_.planes.data(), units, counts);
        const int first = std::max(tile, i + 1);
        avx512::finish_distances(units + (first - base), counts + (first - base),
                                 tile_end - first, classes_.unit, divisor_, out + first);
    }

    // A group of partners is laid out as one block of the tiles' layout, in registers, and
    // compared as a tile's block is.
    int partner_group() const override { return kDistanceBlock; }
    std::size_t partner_work_bytes() const override
    {
        return static_cast<std::size_t>(quads()) * 64;
    }

    void compare_partners(int i, const uint8_t* table, const int* partners, int count,
                          uint8_t* work, double* out) const override
    {
        const uint8_t* rows[kDistanceBlock];
        for (int t = 0; t < count; ++t) rows[t] = (*residues_)[partners[t]];
        avx512::gather_block(rows, count, length_, classes_.class_of.data(), work);
        const bool partners_first = partners[0] < i;
        uint64_t units[kDistanceBlock] = {};
        uint32_t counts[kDistanceBlock] = {};
        avx512::distance_row(partners_first && row_tables_ == 2 ? table + levels_bytes() : table,
                             work, quads(), 0, 1, tables_.planes.data(), units, counts);
        avx512::finish_distances(units, counts, count, classes_.unit, divisor_, out);
    }

    void prefetch_partners(const int* partners, int count) const override
    {
        residues_->prefetch(partners, count);
    }

private:
    int quads() const { return (length_ + kQuad - 1) / kQuad; }
    int blocks() const { return (nseq_ + kDistanceBlock - 1) / kDistanceBlock; }
    std::size_t levels_bytes() const { return static_cast<std::size_t>(quads()) * 128; }

    // Every byte of the layout is written once, by the threads side by side, each taking the
    // next block of sixteen sequences, so that the first touches of fresh pages are shared out
    // too.
    void build_layout(int threads)
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
        run_on_threads(
            std::min(threads, blocks()),
            [&](int) {
                return allocate<uint8_t>(static_cast<std::size_t>(quads()) * kQuad,
                                         ResidueClasses::kGapClass);
            },
            [&](int, std::vector<uint8_t>& row) {
                for (int b = next_block++; b < blocks(); b = next_block++) {
                    for (int i = b * kDistanceBlock; i < (b + 1) * kDistanceBlock; ++i) {
                        if (i >= nseq_) {  // sequences past the last are gaps
                            for (int q = 0; q < quads(); ++q)
                                store_quad(i, q, 0x01010101u * ResidueClasses::kGapClass);
                            continue;
                        }
                        encode_residues(classes_, reinterpret_cast<const char*>(rows_[i]),
                                        static_cast<std::size_t>(length_), row.data());
                        for (int q = 0; q < quads(); ++q) {
                            uint32_t word;
                            std::memcpy(&word, &row[static_cast<std::size_t>(q) * kQuad],
                                        sizeof word);
                            store_quad(i, q, word);
                        }
                    }
                }
            });
    }

    const ResidueRows& rows_;
    const ResidueClasses& classes_;
    int nseq_;
    int length_;
    double divisor_;
    int row_tables_;
    LevelTables tables_;
    CodeBuffer codes_;                       // every pair: the layout of the whole alignment
    const ResidueRows* residues_ = nullptr;  // partners: the residues where they lie
};

}  // namespace

// The kernel sums units in byte planes of 32-bit lanes and looks levels up with byte
// permutes: it needs values below 2^32 units, sums that are exact in any order, and few
// classes and levels.
bool avx512_distance_kernel_fits(const ResidueClasses& classes, int length)
{
    return classes.max_units < (uint64_t{1} << 32) && length < (1 << 24) &&
           classes.sums_are_exact(length) && classes.count <= kMaxKernelClasses &&
           !classes.distance_level.empty() &&
           classes.distance_level_value.size() <= kMaxDistanceLevels;
}

std::unique_ptr<DistanceKernel> make_avx512_distance_kernel(const ResidueRows& rows,
                                                            const ResidueClasses& classes,
                                                            double divisor, int threads,
                                                            DistancePairs pairs)
{
    return make_owned<Avx512DistanceKernel>(rows, classes, divisor, threads, pairs);
}

}  // namespace marrowind
