// column_kernel_avx512.cpp: the column scores on AVX-512, layout and limits (x86-64 only).
//
// Contents: Avx512ColumnKernel, avx512_column_kernel_fits, make_avx512_column_kernel.
//
// 64 columns side by side, each keeping its own sum in the plain order; each pair's terms are
// taken from a small table of its weight times the matrix's few distinct values, looked up by
// level with byte and double permutes (inner_loops_avx512.h).
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

    int block_columns() const override { return kColumnBlock; }

    // The kernel takes a block's columns interleaved (column_lane).
    void lay_out_row(const uint8_t* codes, int columns, uint8_t* row) const override
    {
        if (columns < kColumnBlock) std::fill_n(row, kColumnBlock, ResidueClasses::kGapClass);
        for (int c = 0; c < columns; ++c) row[column_lane(c)] = codes[c];
    }

    void score_block(const uint8_t* block, int nseq, int columns, const double* weights,
                     double* num) const override
    {
        const ColumnKernelTables tables = {classes_.column_level.data(), classes_.count,
                                           level_values_.data(),
                                           static_cast<int>(classes_.column_level_value.size()),
                                           classes_.scores_zero.data()};
        avx512::column_block(block, kColumnBlock, nseq, columns, weights, tables, num);
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
