// column_kernel_avx512.cpp: the column scores on AVX-512, layout and limits (x86-64 only).
//
// Contents: Avx512ColumnKernel, avx512_column_kernel_fits, make_avx512_column_kernel.
//
// Up to 64 columns side by side, each keeping its own sum in the plain order; each pair's terms
// are taken from a small table of its weight times the matrix's few distinct values, looked up
// by level with byte and double permutes (inner_loops_avx512.h).
#include <algorithm>
#include <array>

#include "scoring/kernels/column_kernel.h"
#include "scoring/kernels/inner_loops_avx512.h"
#include "scoring/parallel/buffers.h"

namespace marrowind {

namespace {

class Avx512ColumnKernel final : public ColumnKernel {
public:
    explicit Avx512ColumnKernel(const ResidueClasses& classes) : classes_(classes)
    {
        std::copy(classes.column_level_value.begin(), classes.column_level_value.end(),
                  level_values_.begin());
    }

    int max_block_vectors() const override { return kMaxColumnVectors; }

    // Units of 64 bytes, each holding 8 / vectors sequences.
    std::size_t block_bytes(int nseq, int vectors) const override
    {
        const int rows = kColumnUnitBytes / (8 * vectors);
        return static_cast<std::size_t>((nseq + rows - 1) / rows) * kColumnUnitBytes;
    }

    // The kernel takes a unit's columns and sequences interleaved (column_byte).
    void lay_out_row(const uint8_t* codes, int columns, int vectors, int nseq, int seq,
                     uint8_t* block) const override
    {
        const int rows = kColumnUnitBytes / (8 * vectors);
        uint8_t* unit = block + static_cast<std::size_t>(seq / rows) * kColumnUnitBytes;
        const int last_slot = seq == nseq - 1 ? rows - 1 : seq % rows;
        for (int slot = seq % rows; slot <= last_slot; ++slot)
            for (int c = 0; c < 8 * vectors; ++c)
                unit[column_byte(vectors, slot, c)] =
                    slot == seq % rows && c < columns ? codes[c] : ResidueClasses::kGapClass;
    }

    void score_block(const uint8_t* block, int nseq, int vectors, const double* weights,
                     double* num, double* den) const override
    {
        const ColumnKernelTables tables = {classes_.column_level.data(), classes_.count,
                                           level_values_.data(),
                                           static_cast<int>(classes_.column_level_value.size()),
                                           classes_.scores_zero.data()};
        avx512::column_block(block, nseq, vectors, weights, tables, num, den);
    }

private:
    const ResidueClasses& classes_;
    std::array<double, kMaxColumnLevels> level_values_{};  // zero beyond the last level
};

}  // namespace

// The kernel looks levels up with byte permutes and products with double permutes: it needs
// few classes and levels.
bool avx512_column_kernel_fits(const ResidueClasses& classes)
{
    return classes.count <= kMaxKernelClasses && !classes.column_level.empty() &&
           classes.column_level_value.size() <= kMaxColumnLevels;
}

std::unique_ptr<ColumnKernel> make_avx512_column_kernel(const ResidueClasses& classes)
{
    return make_owned<Avx512ColumnKernel>(classes);
}

}  // namespace marrowind
