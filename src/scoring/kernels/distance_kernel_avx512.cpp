// distance_kernel_avx512.cpp: the pair distances on AVX-512, layout and limits (x86-64 only).
//
// Contents: Avx512DistanceKernel, avx512_distance_kernel_fits, make_avx512_distance_kernel.
//
// The similarities are whole multiples of one unit (see residue_classes.h). While every
// partial sum of a pair stays below 2^53 units it is exact, so the order of its additions
// cannot change it: the kernel (inner_loops_avx512.h) counts units in integers, one sequence
// against sixteen at a time, four columns per step, looking each pair's level up with byte
// permutes, and forms each distance from the unit and column counts as the plain loop would.
#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <vector>

#include "scoring/parallel/buffers.h"
#include "scoring/kernels/distance_kernel.h"
#include "scoring/kernels/inner_loops_avx512.h"
#include "scoring/parallel/worker_threads.h"

namespace marrowind {

namespace {

static_assert(DistanceKernel::kTile == 2 * kDistanceBlock,
              "a tile is the two blocks that distance_row compares at a time");

class Avx512DistanceKernel final : public DistanceKernel {
public:
    Avx512DistanceKernel(const Alignment& alignment, const ResidueClasses& classes,
                         double divisor, int threads)
        : alignment_(alignment), classes_(classes), nseq_(alignment.nseq),
          length_(alignment.length), divisor_(divisor),
          tables_(make_avx512_distance_tables(classes))
    {
        build_layout(threads);
    }

    // For each quad of columns, the row's level against every class at each of the four
    // columns.
    std::size_t row_table_bytes() const override { return static_cast<std::size_t>(quads()) * 128; }

    void prepare_row(int i, uint8_t* table) const override
    {
        for (int q = 0; q < quads(); ++q)
            for (int p = 0; p < kQuad; ++p)
                std::memcpy(&table[static_cast<std::size_t>(q) * 128 + 32 * p],
                            &tables_.as_row[code_at(i, kQuad * q + p)][0], kMaxKernelClasses);
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

private:
    int quads() const { return (length_ + kQuad - 1) / kQuad; }
    int blocks() const { return (nseq_ + kDistanceBlock - 1) / kDistanceBlock; }

    // Columns past the end and sequences past the last are gaps: a gap against a gap neither
    // counts nor adds anything.
    uint8_t code_at(int sequence, int column) const
    {
        if (sequence >= nseq_ || column >= length_) return ResidueClasses::kGapClass;
        return classes_.class_of[static_cast<unsigned char>(alignment_.seqs[sequence].seq[column])];
    }

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
                        encode_residues(classes_, alignment_.seqs[i].seq.data(),
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

    const Alignment& alignment_;
    const ResidueClasses& classes_;
    int nseq_;
    int length_;
    double divisor_;
    Avx512DistanceTables tables_;
    CodeBuffer codes_;
};

}  // namespace

// Each class's levels padded to 32 bytes, so that a row's table is filled with copies of one
// fixed size.
Avx512DistanceTables make_avx512_distance_tables(const ResidueClasses& classes)
{
    Avx512DistanceTables tables;
    const auto count = static_cast<std::size_t>(classes.count);
    tables.as_row = allocate<Avx512DistanceTables::Levels>(count, {});
    tables.as_column = allocate<Avx512DistanceTables::Levels>(count, {});
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

std::unique_ptr<DistanceKernel> make_avx512_distance_kernel(const Alignment& alignment,
                                                            const ResidueClasses& classes,
                                                            double divisor, int threads)
{
    return make_owned<Avx512DistanceKernel>(alignment, classes, divisor, threads);
}

}  // namespace marrowind
