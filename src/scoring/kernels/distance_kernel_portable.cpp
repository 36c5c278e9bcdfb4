// distance_kernel_portable.cpp: the pair distances in plain C++, for any matrix and processor.
//
// Contents: PortableDistanceKernel, make_portable_distance_kernel.
//
// Every pair of a tile sums its similarities in column order, as CalcPairDist sums them, so any
// matrix gives the reference bits. A row and its partners sum whole units in integers where
// every order of the additions gives the same double (ResidueClasses::sums_are_exact), else
// similarities in column order. The columns that count are found from bit masks of each
// sequence's gap columns instead of a test in the summing loops.
#include <algorithm>
#include <bitset>

#include "scoring/kernels/distance_kernel.h"
#include "scoring/parallel/buffers.h"
#include "scoring/reference/distance_formula.h"

namespace marrowind {

namespace {

// GCC's vectorised form of the partners' sums emulates the table lookups lane by lane through
// the stack and runs several times slower than scalar code.
#if defined(__GNUC__) && !defined(__clang__)
#define MARROWIND_KEEP_SCALAR __attribute__((optimize("no-tree-vectorize")))
#else
#define MARROWIND_KEEP_SCALAR
#endif

// The sums of one row against four partners, in plain locals, so that they stay in registers:
// terms[row_offsets[k] + class of partner t at column k], for k in column order.
template <typename Sum, typename Term>
MARROWIND_KEEP_SCALAR void sum_four(
    const Term* terms, const uint32_t* row_offsets, const uint8_t* class_of,
    const uint8_t* const* partners, int length, Sum* sums)
{
    const uint8_t* y0 = partners[0];
    const uint8_t* y1 = partners[1];
    const uint8_t* y2 = partners[2];
    const uint8_t* y3 = partners[3];
    Sum s0{}, s1{}, s2{}, s3{};
    for (int k = 0; k < length; ++k) {
        const Term* row = terms + row_offsets[k];
        s0 += row[class_of[y0[k]]];
        s1 += row[class_of[y1[k]]];
        s2 += row[class_of[y2[k]]];
        s3 += row[class_of[y3[k]]];
    }
    sums[0] = s0;
    sums[1] = s1;
    sums[2] = s2;
    sums[3] = s3;
}

// The terms of a row's pairs, indexed by the row's class times the number of classes plus the
// partner's class: with the row as the earlier sequence of the pair (as_row) and as the later
// (as_partner). Small enough to stay in the nearest cache, which the partners' loads need.
template <typename Term>
struct PairTerms {
    std::vector<Term> as_row;
    std::vector<Term> as_partner;
};

// term_of(cell): the term of the class pair at cell a * count + b, a the earlier sequence's.
template <typename Term, typename TermOf>
PairTerms<Term> make_pair_terms(int count, TermOf term_of)
{
    const std::size_t cells = static_cast<std::size_t>(count) * count;
    PairTerms<Term> terms{allocate<Term>(cells), allocate<Term>(cells)};
    for (int a = 0; a < count; ++a)
        for (int b = 0; b < count; ++b) {
            terms.as_row[a * count + b] = term_of(a * count + b);
            terms.as_partner[b * count + a] = term_of(a * count + b);
        }
    return terms;
}

class PortableDistanceKernel final : public DistanceKernel {
public:
    PortableDistanceKernel(const ResidueRows& rows, const ResidueClasses& classes,
                           double divisor, DistancePairs pairs)
        : classes_(classes), nseq_(rows.nseq()), length_(rows.length()),
          divisor_(divisor),
          in_units_(classes.sums_are_exact(length_) && classes.max_units < (uint64_t{1} << 32))
    {
        if (pairs == DistancePairs::kEveryPair) {
            codes_ = CodeBuffer(static_cast<std::size_t>(nseq_) * length_);  // encoded below
        } else {
            residues_ = &rows;
            make_partner_terms();
        }
        // Each sequence's gap columns as bits, from its codes: laid out for the tiles, or
        // encoded one sequence at a time for the partners.
        gap_masks_ = allocate<uint64_t>(static_cast<std::size_t>(nseq_) * gap_words());
        std::vector<uint8_t> row_codes =
            allocate<uint8_t>(pairs == DistancePairs::kPartners ? length_ : 0);
        for (int i = 0; i < nseq_; ++i) {
            uint8_t* row = pairs == DistancePairs::kEveryPair ? codes(i) : row_codes.data();
            encode_residues(classes_, reinterpret_cast<const char*>(rows[i]),
                            static_cast<std::size_t>(length_), row);
            uint64_t* mask = gap_masks_.data() + static_cast<std::size_t>(i) * gap_words();
            for (int k = 0; k < length_; ++k)
                if (row[k] == ResidueClasses::kGapClass) mask[k / 64] |= uint64_t{1} << (k % 64);
        }
    }

    // Partners: for each column, the row's class times the number of classes.
    std::size_t row_table_bytes() const override
    {
        return residues_ ? sizeof(uint32_t) * static_cast<std::size_t>(length_) : 0;
    }

    void prepare_row(int i, uint8_t* table) const override
    {
        if (!residues_) return;
        const uint8_t* x = (*residues_)[i];
        uint32_t* offsets = reinterpret_cast<uint32_t*>(table);
        for (int k = 0; k < length_; ++k)
            offsets[k] = static_cast<uint32_t>(classes_.class_of[x[k]]) * classes_.count;
    }

    // The plain ordered sums, four pairs at a time so that their additions overlap.
    void compare_tile(int i, const uint8_t*, int tile, int end, double* out) const override
    {
        const int count = classes_.count;
        const double* value = classes_.value.data();
        const uint8_t* x = codes(i);
        int j = std::max(tile, i + 1);
        for (; j + 4 <= end; j += 4) {
            const uint8_t* y[4];
            for (int t = 0; t < 4; ++t) y[t] = codes(j + t);
            double sum[4] = {0.0, 0.0, 0.0, 0.0};
            for (int k = 0; k < length_; ++k) {
                const double* row = value + static_cast<std::size_t>(x[k]) * count;
                for (int t = 0; t < 4; ++t) sum[t] += row[y[t][k]];
            }
            for (int t = 0; t < 4; ++t) out[j + t] = distance(i, j + t, sum[t]);
        }
        for (; j < end; ++j) {
            const uint8_t* y = codes(j);
            double sum = 0.0;
            for (int k = 0; k < length_; ++k)
                sum += value[static_cast<std::size_t>(x[k]) * count + y[k]];
            out[j] = distance(i, j, sum);
        }
    }

    int partner_group() const override { return 4; }
    std::size_t partner_work_bytes() const override { return 0; }

    void compare_partners(int i, const uint8_t* table, const int* partners, int count, uint8_t*,
                          double* out) const override
    {
        const bool partners_first = partners[0] < i;
        const auto* offsets = reinterpret_cast<const uint32_t*>(table);
        if (in_units_) {
            uint64_t units[4];
            sum_partners(partners_first ? unit_terms_.as_partner : unit_terms_.as_row, offsets,
                         partners, count, units);
            for (int t = 0; t < count; ++t)
                out[t] = distance(i, partners[t], static_cast<double>(units[t]) * classes_.unit);
        } else {
            double sums[4];
            sum_partners(partners_first ? value_terms_.as_partner : value_terms_.as_row, offsets,
                         partners, count, sums);
            for (int t = 0; t < count; ++t) out[t] = distance(i, partners[t], sums[t]);
        }
    }

    void prefetch_partners(const int* partners, int count) const override
    {
        residues_->prefetch(partners, count);
    }

private:
    // In 64 bits: a length near the largest int must not overflow on the way.
    int gap_words() const { return static_cast<int>((std::int64_t{length_} + 63) / 64); }

    uint8_t* codes(int i) const { return &codes_[static_cast<std::size_t>(i) * length_]; }

    // A pair's distance from its summed similarity, divided for the weights.
    double distance(int i, int j, double similarity) const
    {
        return distance_from_similarity(similarity, counted_columns(i, j)) / divisor_;
    }

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

    void make_partner_terms()
    {
        if (in_units_)
            unit_terms_ = make_pair_terms<uint32_t>(classes_.count, [&](int cell) {
                return static_cast<uint32_t>(
                    classes_.distance_level_units[classes_.distance_level[cell]]);
            });
        else
            value_terms_ = make_pair_terms<double>(classes_.count,
                                                   [&](int cell) { return classes_.value[cell]; });
    }

    // sums[t] for t < count: the row's terms against partner t, in column order.
    template <typename Sum, typename Term>
    void sum_partners(const std::vector<Term>& terms, const uint32_t* offsets,
                      const int* partners, int count, Sum* sums) const
    {
        const uint8_t* class_of = classes_.class_of.data();
        const uint8_t* y[4];
        for (int t = 0; t < count; ++t) y[t] = (*residues_)[partners[t]];
        if (count == 4) {
            sum_four(terms.data(), offsets, class_of, y, length_, sums);
            return;
        }
        for (int t = 0; t < count; ++t) {
            Sum sum{};
            for (int k = 0; k < length_; ++k) sum += terms[offsets[k] + class_of[y[t][k]]];
            sums[t] = sum;
        }
    }

    const ResidueClasses& classes_;
    int nseq_;
    int length_;
    double divisor_;
    bool in_units_;
    CodeBuffer codes_;                       // every pair: the class codes, row by row
    const ResidueRows* residues_ = nullptr;  // partners: the residues where they lie
    PairTerms<uint32_t> unit_terms_;         // partners, sums in units
    PairTerms<double> value_terms_;          // partners, sums in column order
    std::vector<uint64_t> gap_masks_;
};

}  // namespace

std::unique_ptr<DistanceKernel> make_portable_distance_kernel(const ResidueRows& rows,
                                                              const ResidueClasses& classes,
                                                              double divisor,
                                                              DistancePairs pairs)
{
    return make_owned<PortableDistanceKernel>(rows, classes, divisor, pairs);
}

}  // namespace marrowind
