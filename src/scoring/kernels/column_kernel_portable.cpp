// column_kernel_portable.cpp: the column scores in plain C++, for any matrix and processor.
//
// Contents: PortableColumnKernel, make_portable_column_kernel.
#include <algorithm>
#include <cstring>

#include "scoring/kernels/column_kernel.h"
#include "scoring/parallel/buffers.h"

namespace marrowind {

namespace {

// Each column keeps its own sum, which receives its terms in the plain order; eight columns at
// a time keep their sums in registers. A sequence whose residues in those columns all score 0
// against everything (gaps, unknown letters) adds +0.0 with every pair, which changes no sum,
// so its pairs are skipped there.
class PortableColumnKernel final : public ColumnKernel {
public:
    explicit PortableColumnKernel(const ResidueClasses& classes) : classes_(classes) {}

    int block_columns() const override { return kBlock; }

    void lay_out_row(const uint8_t* codes, int columns, uint8_t* row) const override
    {
        std::memcpy(row, codes, static_cast<std::size_t>(columns));
        std::memset(row + columns, ResidueClasses::kGapClass,
                    static_cast<std::size_t>(kBlock - columns));
    }

    void score_block(const uint8_t* block, int nseq, int, const double* weights,
                     double* num) const override
    {
        const int count = classes_.count;
        for (int group = 0; group < kBlock; group += kGroup) {
            double sums[kGroup] = {};
            const double* rows[kGroup];
            for (int j = 0; j + 1 < nseq; ++j) {
                const uint8_t* x = block + static_cast<std::size_t>(j) * kBlock + group;
                bool all_zero = true;
                for (int c = 0; c < kGroup; ++c) {
                    rows[c] = &classes_.value[static_cast<std::size_t>(x[c]) * count];
                    all_zero = all_zero && classes_.scores_zero[x[c]];
                }
                if (all_zero) continue;
                const double weight_j = weights[j];
                for (int k = j + 1; k < nseq; ++k) {
                    const double weight = weight_j * weights[k];
                    const uint8_t* y = block + static_cast<std::size_t>(k) * kBlock + group;
                    for (int c = 0; c < kGroup; ++c) sums[c] = sums[c] + weight * rows[c][y[c]];
                }
            }
            std::copy_n(sums, kGroup, num + group);
        }
    }

private:
    static constexpr int kBlock = 32;
    static constexpr int kGroup = 8;

    const ResidueClasses& classes_;
};

}  // namespace

std::unique_ptr<ColumnKernel> make_portable_column_kernel(const ResidueClasses& classes)
{
    return make_owned<PortableColumnKernel>(classes);
}

}  // namespace marrowind
