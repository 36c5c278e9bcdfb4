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
// a time (a vector) keep their sums in registers. A sequence whose residues in those columns
// all score 0 against everything (gaps, unknown letters) adds +0.0 with every pair, which
// changes no sum, so its pairs are skipped there.
class PortableColumnKernel final : public ColumnKernel {
public:
    explicit PortableColumnKernel(const ResidueClasses& classes) : classes_(classes) {}

    int max_block_vectors() const override { return kMaxVectors; }

    // Each sequence's codes of the block in a row of their own.
    std::size_t block_bytes(int nseq, int vectors) const override
    {
        const std::size_t bytes = static_cast<std::size_t>(nseq) * kVector * vectors;
        return (bytes + 63) / 64 * 64;
    }

    void lay_out_row(const uint8_t* codes, int columns, int vectors, int, int seq,
                     uint8_t* block) const override
    {
        const int width = kVector * vectors;
        uint8_t* row = block + static_cast<std::size_t>(seq) * width;
        std::memcpy(row, codes, static_cast<std::size_t>(columns));
        std::memset(row + columns, ResidueClasses::kGapClass,
                    static_cast<std::size_t>(width - columns));
    }

    void score_block(const uint8_t* block, int nseq, int vectors, const double* weights,
                     double* num, double* den) const override
    {
        const int count = classes_.count;
        const std::size_t width = static_cast<std::size_t>(kVector) * vectors;
        double den_sum = 0.0;
        for (int group = 0; group < kVector * vectors; group += kVector) {
            // The first vector's pair loop also sums the denominator, when it is asked for.
            const bool with_den = den != nullptr && group == 0;
            double sums[kVector] = {};
            const double* rows[kVector];
            for (int j = 0; j + 1 < nseq; ++j) {
                const uint8_t* x = block + static_cast<std::size_t>(j) * width + group;
                bool all_zero = true;
                for (int c = 0; c < kVector; ++c) {
                    rows[c] = &classes_.value[static_cast<std::size_t>(x[c]) * count];
                    all_zero = all_zero && classes_.scores_zero[x[c]];
                }
                const double weight_j = weights[j];
                if (all_zero) {
                    if (with_den)
                        for (int k = j + 1; k < nseq; ++k) den_sum = den_sum + weight_j * weights[k];
                    continue;
                }
                for (int k = j + 1; k < nseq; ++k) {
                    const double weight = weight_j * weights[k];
                    const uint8_t* y = block + static_cast<std::size_t>(k) * width + group;
                    for (int c = 0; c < kVector; ++c) sums[c] = sums[c] + weight * rows[c][y[c]];
                    if (with_den) den_sum = den_sum + weight;
                }
            }
            std::copy_n(sums, kVector, num + group);
        }
        if (den != nullptr) *den = den_sum;
    }

private:
    static constexpr int kVector = 8;      // columns whose sums stay in registers together
    static constexpr int kMaxVectors = 4;  // a block of 32 columns at most

    const ResidueClasses& classes_;
};

}  // namespace

std::unique_ptr<ColumnKernel> make_portable_column_kernel(const ResidueClasses& classes)
{
    return make_owned<PortableColumnKernel>(classes);
}

}  // namespace marrowind
