// distance_kernel_portable.cpp: the pair distances in plain C++, for any matrix and processor.
//
// Contents: PortableDistanceKernel, make_portable_distance_kernel.
//
// The similarities are summed in column order, as CalcPairDist sums them, so any matrix gives
// the plain loop's bits. The columns that count are found from bit masks of each sequence's
// gap columns instead of a test in the summing loop.
#include <bitset>

#include "scoring/parallel/buffers.h"
#include "scoring/kernels/distance_kernel.h"
#include "scoring/reference/distance_formula.h"

namespace marrowind {

namespace {

class PortableDistanceKernel final : public DistanceKernel {
public:
    // The class codes row by row, and for each sequence a bit mask of its gap columns.
    PortableDistanceKernel(const Alignment& alignment, const ResidueClasses& classes,
                           double divisor)
        : classes_(classes), nseq_(alignment.nseq), length_(alignment.length),
          divisor_(divisor)
    {
        codes_ = CodeBuffer(static_cast<std::size_t>(nseq_) * length_, 0);
        gap_masks_ = allocate<uint64_t>(static_cast<std::size_t>(nseq_) * gap_words());
        for (int i = 0; i < nseq_; ++i) {
            uint8_t* row = &codes_[static_cast<std::size_t>(i) * length_];
            encode_residues(classes_, alignment.seqs[i].seq.data(),
                            static_cast<std::size_t>(length_), row);
            uint64_t* mask = gap_masks_.data() + static_cast<std::size_t>(i) * gap_words();
            for (int k = 0; k < length_; ++k)
                if (row[k] == ResidueClasses::kGapClass) mask[k / 64] |= uint64_t{1} << (k % 64);
        }
    }

    std::size_t row_table_bytes() const override { return 0; }
    void prepare_row(int, uint8_t*) const override {}

    // The plain ordered sums, four pairs at a time so that their additions overlap.
    void compare_tile(int i, const uint8_t*, int tile, int end, double* out) const override
    {
        const int count = classes_.count;
        const double* value = classes_.value.data();
        const uint8_t* x = &codes_[static_cast<std::size_t>(i) * length_];
        int j = std::max(tile, i + 1);
        for (; j + 4 <= end; j += 4) {
            const uint8_t* y[4];
            for (int t = 0; t < 4; ++t) y[t] = &codes_[static_cast<std::size_t>(j + t) * length_];
            double sum[4] = {0.0, 0.0, 0.0, 0.0};
            for (int k = 0; k < length_; ++k) {
                const double* row = value + static_cast<std::size_t>(x[k]) * count;
                for (int t = 0; t < 4; ++t) sum[t] += row[y[t][k]];
            }
            for (int t = 0; t < 4; ++t)
                out[j + t] = distance_from_similarity(sum[t], counted_columns(i, j + t)) / divisor_;
        }
        for (; j < end; ++j) {
            const uint8_t* y = &codes_[static_cast<std::size_t>(j) * length_];
            double sum = 0.0;
            for (int k = 0; k < length_; ++k)
                sum += value[static_cast<std::size_t>(x[k]) * count + y[k]];
            out[j] = distance_from_similarity(sum, counted_columns(i, j)) / divisor_;
        }
    }

private:
    // In 64 bits: a length near the largest int must not overflow on the way.
    int gap_words() const { return static_cast<int>((std::int64_t{length_} + 63) / 64); }

    // All columns but those where both sequences hold a gap.
    int64_t counted_columns(int i, int j) const
    {
        const uint64_t* a = gap_masks_.data() + static_cast<std::size_t>(i) * gap_words();
        const uint64_t* b = gap_masks_.data() + static_cast<std::size_t>(j) * gap_words();
        int64_t both_gaps = 0;
        for (int w = 0; w < gap_words(); ++w)
            both_gaps += static_cast<int64_t>(std::bitset<64>(a[w] & b[w]).count());
        return length_ - both_gaps;
    }

    const ResidueClasses& classes_;
    int nseq_;
    int length_;
    double divisor_;
    CodeBuffer codes_;
    std::vector<uint64_t> gap_masks_;
};

}  // namespace

std::unique_ptr<DistanceKernel> make_portable_distance_kernel(const Alignment& alignment,
                                                              const ResidueClasses& classes,
                                                              double divisor)
{
    return make_owned<PortableDistanceKernel>(alignment, classes, divisor);
}

}  // namespace marrowind
