// stages.cpp: sampled weights and grouped column scores.
//
// Contents: sampled_partners, compute_sampled_weights, compute_grouped_column_scores.
//
// Weights: each sequence's partners are drawn by a generator of its own, seeded by the seed and
// the sequence's index, so that which thread weighs which sequence cannot matter. A pair's
// distance reads the earlier sequence's residue first (Mut need not be symmetric) and sums its
// similarities as the exact stage does: in integer units where every order of the additions
// gives the same double (ResidueClasses::sums_are_exact), else in column order.
//
// Column scores: with W(a) the summed weight of the sequences holding residue class a in a
// column, the weighted sum over pairs j < k of w_j w_k S(a_j, a_k) is
//   sum over a of D(a) S(a, a) + sum over a < b of W(a) W(b) S(a, b)
// for a symmetric S, where D(a) = sum over pairs j < k within class a of w_j w_k. D is kept as
// the sequences go by (D(a) += w W(a) before W(a) += w), so every term is a product of
// non-negative sums: nothing cancels, unlike the textbook form (sum over a, b of W(a) W(b)
// S(a, b) - sum of w^2 S(a_i, a_i)) / 2. For a matrix that is not symmetric, each sequence adds
// w_k times the sum over a of W(a) S(a, a_k), W holding the sequences before it. Gaps and
// letters the matrix lacks score 0 against everything, so they add nothing to a numerator but
// their pairs count in the denominator, as in the exact scores.
#include "scoring/approximate/stages.h"

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cstddef>
#include <cstring>

#include "scoring/parallel/buffers.h"
#include "scoring/reference/distance_formula.h"
#include "scoring/kernels/distance_kernel.h"
#include "scoring/kernels/kernel_selection.h"
#include "scoring/kernels/residue_classes.h"
#include "scoring/parallel/worker_threads.h"

namespace marrowind {

namespace {

// SplitMix64: tiny state, a full period, and any two seeds start streams that look unrelated,
// which is what a million independently seeded streams need.
class Generator {
public:
    Generator(uint64_t seed, uint64_t stream) : state_(mix(mix(seed) ^ stream)) {}

    // Uniform on [0, bound), bound > 0: the high half of a 128-bit product, redrawn for the few
    // low halves that would favour some results (Lemire's method).
    uint64_t below(uint64_t bound)
    {
        unsigned __int128 product = static_cast<unsigned __int128>(next()) * bound;
        if (static_cast<uint64_t>(product) < bound) {
            const uint64_t threshold = (0 - bound) % bound;
            while (static_cast<uint64_t>(product) < threshold)
                product = static_cast<unsigned __int128>(next()) * bound;
        }
        return static_cast<uint64_t>(product >> 64);
    }

private:
    static uint64_t mix(uint64_t z)
    {
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    uint64_t next() { return mix(state_ += 0x9e3779b97f4a7c15ULL); }

    uint64_t state_;
};

// Draws partner sets, reusing its memory from one sequence to the next.
class PartnerSampler {
public:
    PartnerSampler(int nseq, int sample, uint64_t seed)
        : nseq_(nseq), sample_(std::min(sample, nseq - 1)), seed_(seed)
    {
        if (sample_ < nseq - 1) {
            std::size_t slots = 1;
            while (slots < 2 * static_cast<std::size_t>(sample_)) slots *= 2;
            slots_ = allocate<int>(slots, kEmpty);
        }
        partners_ = allocate<int>(static_cast<std::size_t>(std::max(sample_, 0)));
    }

    // The partners of `index`, ascending.
    const std::vector<int>& draw(int index)
    {
        const int others = nseq_ - 1;
        if (sample_ == others) {
            for (int j = 0, k = 0; j < nseq_; ++j)
                if (j != index) partners_[k++] = j;
            return partners_;
        }
        // Floyd's algorithm: every set of sample_ among the others equally likely, one draw
        // per member. Draws are ranks among the others, skipping `index` itself.
        std::fill(slots_.begin(), slots_.end(), kEmpty);
        Generator generator(seed_, static_cast<uint64_t>(index));
        int k = 0;
        for (int t = others - sample_; t < others; ++t) {
            const int rank = static_cast<int>(generator.below(static_cast<uint64_t>(t) + 1));
            int member = rank;
            if (!insert(rank)) {
                // Every member so far is below t, so t is new.
                insert(t);
                member = t;
            }
            partners_[k++] = member;
        }
        std::sort(partners_.begin(), partners_.end());
        for (int& partner : partners_)
            if (partner >= index) ++partner;
        return partners_;
    }

private:
    static constexpr int kEmpty = -1;

    // Adds rank to the open-addressed set; false when it was there already.
    bool insert(int rank)
    {
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t s = (static_cast<uint32_t>(rank) * 2654435761u) & mask;;
             s = (s + 1) & mask) {
            if (slots_[s] == rank) return false;
            if (slots_[s] == kEmpty) {
                slots_[s] = rank;
                return true;
            }
        }
    }

    int nseq_;
    int sample_;
    uint64_t seed_;
    std::vector<int> slots_;
    std::vector<int> partners_;
};

// Whether Mut(a, b) = Mut(b, a) for every pair of classes.
bool is_symmetric(const ResidueClasses& classes)
{
    const int count = classes.count;
    for (int a = 0; a < count; ++a)
        for (int b = a + 1; b < count; ++b)
            if (classes.value[a * count + b] != classes.value[b * count + a]) return false;
    return true;
}

// A thread's working memory for PairDistances, set by prepare for one sequence at a time.
struct PairScratch {
    std::vector<uint32_t> rows;      // portable: the sequence's class row in the tables, by column
    std::vector<uint8_t> as_row;     // AVX-512: its level tables against later partners
    std::vector<uint8_t> as_column;  // and against earlier ones
    std::vector<uint8_t> block;      // AVX-512: the layout of a group of partners
};

// CalcPairDist of two sequences of the alignment, the earlier one first, for any pairs: one
// sequence against groups of partners. On AVX-512 the partners of a group are laid out as one
// block of the exact stage's kernel and compared by it; elsewhere four at a time in scalar code.
class PairDistances {
public:
    PairDistances(const Alignment& alignment, const ResidueClasses& classes, KernelLevel wanted)
        : classes_(classes), length_(alignment.length),
          quads_((length_ + kQuad - 1) / kQuad),
          words_(static_cast<std::size_t>((int64_t{length_} + 63) / 64)),
          in_units_(classes.sums_are_exact(length_) && classes.max_units < (uint64_t{1} << 32)),
          avx512_(distance_kernel_level(classes, length_, wanted) == KernelLevel::kAvx512),
          symmetric_(is_symmetric(classes))
    {
        // Partners are drawn from all over the alignment: one small table of where each
        // sequence's residues lie saves a second random access per partner.
        residues_ = allocate<const uint8_t*>(static_cast<std::size_t>(alignment.nseq));
        for (int i = 0; i < alignment.nseq; ++i)
            residues_[i] = reinterpret_cast<const uint8_t*>(alignment.seqs[i].seq.data());
#ifdef MARROWIND_AVX512_KERNELS
        if (avx512_) {
            tables_ = make_avx512_distance_tables(classes);
            return;
        }
#endif
        if (in_units_) {
            // Small enough to stay in the nearest cache, which the pairs' loads need.
            const int count = classes.count;
            units_ = allocate<uint32_t>(static_cast<std::size_t>(count) * count);
            reversed_ = allocate<uint32_t>(units_.size());
            for (int a = 0; a < count; ++a)
                for (int b = 0; b < count; ++b) {
                    units_[a * count + b] = static_cast<uint32_t>(
                        classes.distance_level_units[classes.distance_level[a * count + b]]);
                    reversed_[b * count + a] = units_[a * count + b];
                }
        }
        gap_masks_ = allocate<uint64_t>(static_cast<std::size_t>(alignment.nseq) * words_);
        for (int i = 0; i < alignment.nseq; ++i) {
            uint64_t* mask = &gap_masks_[static_cast<std::size_t>(i) * words_];
            const uint8_t* row = residues(i);
            for (int k = 0; k < length_; ++k)
                if (classes.class_of[row[k]] == ResidueClasses::kGapClass)
                    mask[k / 64] |= uint64_t{1} << (k % 64);
        }
    }

    // Partners compared at a time.
    int group() const { return avx512_ ? kDistanceBlock : 4; }

    // Asks for the residues of partners[0..count) to be brought into the cache: partners are
    // scattered over the whole alignment, and the next group's wait for memory overlaps the
    // comparisons of this one.
    void prefetch(const int* partners, int count) const
    {
        for (int t = 0; t < count; ++t)
            for (int k = 0; k < length_; k += 64) __builtin_prefetch(residues(partners[t]) + k);
    }

    PairScratch scratch() const
    {
        PairScratch scratch;
        if (avx512_) {
            scratch.as_row = allocate<uint8_t>(static_cast<std::size_t>(quads_) * 128);
            if (!symmetric_) scratch.as_column = allocate<uint8_t>(scratch.as_row.size());
            scratch.block = allocate<uint8_t>(static_cast<std::size_t>(quads_) * 64);
        } else {
            scratch.rows = allocate<uint32_t>(static_cast<std::size_t>(length_));
        }
        return scratch;
    }

    // Sets scratch up for sequence i, once for all its partners.
    void prepare(int i, PairScratch& scratch) const
    {
        const uint8_t* x = residues(i);
#ifdef MARROWIND_AVX512_KERNELS
        if (avx512_) {
            // Each quad of columns: the row's levels at its four columns, 32 bytes each. A
            // symmetric matrix reads the same levels from either side.
            for (int k = 0; k < quads_ * kQuad; ++k) {
                const uint8_t code = k < length_ ? classes_.class_of[x[k]]
                                                 : ResidueClasses::kGapClass;
                const std::size_t at = static_cast<std::size_t>(k / kQuad) * 128 + 32 * (k % kQuad);
                std::memcpy(&scratch.as_row[at], tables_.as_row[code].data(), kMaxKernelClasses);
                if (!symmetric_)
                    std::memcpy(&scratch.as_column[at], tables_.as_column[code].data(),
                                kMaxKernelClasses);
            }
            return;
        }
#endif
        for (int k = 0; k < length_; ++k)
            scratch.rows[k] = static_cast<uint32_t>(classes_.class_of[x[k]]) * classes_.count;
    }

    // out[t] = the distance of sequence i and partners[t], for t < count (at most group()),
    // the partners all before i or all after it; scratch as prepare left it for i.
    void compare(int i, const int* partners, int count, PairScratch& scratch, double* out) const
    {
        const bool partners_first = partners[0] < i;
        uint64_t units[kDistanceBlock] = {};
        uint32_t counts[kDistanceBlock] = {};
#ifdef MARROWIND_AVX512_KERNELS
        if (avx512_) {
            const uint8_t* rows[kDistanceBlock];
            for (int t = 0; t < count; ++t) rows[t] = residues(partners[t]);
            avx512::gather_block(rows, count, length_, classes_.class_of.data(),
                                 scratch.block.data());
            avx512::distance_row(
                (partners_first && !symmetric_ ? scratch.as_column : scratch.as_row).data(),
                scratch.block.data(), quads_, 0, 1, tables_.planes.data(), units, counts);
            for (int t = 0; t < count; ++t)
                out[t] = distance_from_similarity(static_cast<double>(units[t]) * classes_.unit,
                                                  counts[t]);
            return;
        }
#endif
        if (!in_units_) {
            for (int t = 0; t < count; ++t) out[t] = ordered(i, partners[t]);
            return;
        }
        const uint32_t* table = partners_first ? reversed_.data() : units_.data();
        const uint32_t* rows = scratch.rows.data();
        if (count == 4) {
            sum_four(table, rows, residues(partners[0]), residues(partners[1]),
                     residues(partners[2]), residues(partners[3]), units);
        } else {
            const uint8_t* class_of = classes_.class_of.data();
            for (int t = 0; t < count; ++t) {
                const uint8_t* y = residues(partners[t]);
                for (int k = 0; k < length_; ++k) units[t] += table[rows[k] + class_of[y[k]]];
            }
        }
        for (int t = 0; t < count; ++t)
            out[t] = distance_from_similarity(static_cast<double>(units[t]) * classes_.unit,
                                              counted_columns(i, partners[t]));
    }

private:
    // The units of a sequence against four others, summed in plain locals, so that the sums
    // stay in registers. Kept scalar: GCC's vectorised form emulates the table lookups lane by
    // lane through the stack and runs several times slower.
    __attribute__((optimize("no-tree-vectorize"))) void sum_four(
        const uint32_t* table, const uint32_t* rows, const uint8_t* y0, const uint8_t* y1,
        const uint8_t* y2, const uint8_t* y3, uint64_t* sum) const
    {
        const uint8_t* class_of = classes_.class_of.data();
        uint64_t s0 = 0, s1 = 0, s2 = 0, s3 = 0;
        for (int k = 0; k < length_; ++k) {
            const uint32_t* row = table + rows[k];
            s0 += row[class_of[y0[k]]];
            s1 += row[class_of[y1[k]]];
            s2 += row[class_of[y2[k]]];
            s3 += row[class_of[y3[k]]];
        }
        sum[0] = s0;
        sum[1] = s1;
        sum[2] = s2;
        sum[3] = s3;
    }

    const uint8_t* residues(int i) const { return residues_[i]; }

    // Every column but those where both hold a gap.
    int64_t counted_columns(int i, int j) const
    {
        const uint64_t* a = &gap_masks_[static_cast<std::size_t>(i) * words_];
        const uint64_t* b = &gap_masks_[static_cast<std::size_t>(j) * words_];
        int64_t both_gaps = 0;
        for (std::size_t w = 0; w < words_; ++w)
            both_gaps += static_cast<int64_t>(std::bitset<64>(a[w] & b[w]).count());
        return length_ - both_gaps;
    }

    // The similarities summed in column order, for matrices whose sums depend on it.
    double ordered(int i, int j) const
    {
        const uint8_t* x = residues(std::min(i, j));
        const uint8_t* y = residues(std::max(i, j));
        const int count = classes_.count;
        double sum = 0.0;
        for (int k = 0; k < length_; ++k)
            sum += classes_.value[static_cast<std::size_t>(classes_.class_of[x[k]]) * count +
                                  classes_.class_of[y[k]]];
        return distance_from_similarity(sum, counted_columns(i, j));
    }

    const ResidueClasses& classes_;
    int length_;
    int quads_;
    std::size_t words_;
    bool in_units_;
    bool avx512_;
    bool symmetric_;
    std::vector<const uint8_t*> residues_;
    std::vector<uint32_t> units_;
    std::vector<uint32_t> reversed_;
    std::vector<uint64_t> gap_masks_;
#ifdef MARROWIND_AVX512_KERNELS
    Avx512DistanceTables tables_;
#endif
};

}  // namespace

std::vector<int> sampled_partners(int nseq, int index, int sample, uint64_t seed)
{
    PartnerSampler sampler(nseq, sample, seed);
    return sampler.draw(index);
}

void compute_sampled_weights(const Alignment& alignment, const Matrix& matrix, double* weights,
                             const ScoringOptions& options)
{
    if (options.sample < 1)
        throw InputError("\nError: the sample of partners per sequence must be at least 1\n");
    const int nseq = alignment.nseq;
    const ResidueClasses classes = make_residue_classes(matrix);
    const PairDistances distances(alignment, classes, options.kernel);
    constexpr int kSequencesPerClaim = 64;
    const int claims = (nseq + kSequencesPerClaim - 1) / kSequencesPerClaim;
    struct Scratch {
        PartnerSampler sampler;
        PairScratch pairs;
        std::vector<double> distances;
    };
    std::atomic<int> next_claim(0);
    std::atomic<int> finished(0);
    run_on_threads(
        thread_count(options.threads, claims),
        [&](int) {
            return Scratch{PartnerSampler(nseq, options.sample, options.seed),
                           distances.scratch(),
                           allocate<double>(static_cast<std::size_t>(
                               std::min(options.sample, std::max(nseq - 1, 0))))};
        },
        [&](int t, Scratch& scratch) {
            for (int claim = next_claim++; claim < claims; claim = next_claim++) {
                const int end = std::min(nseq, (claim + 1) * kSequencesPerClaim);
                for (int i = claim * kSequencesPerClaim; i < end; ++i) {
                    const std::vector<int>& partners = scratch.sampler.draw(i);
                    const int count = static_cast<int>(partners.size());
                    distances.prepare(i, scratch.pairs);
                    // Groups never straddle i: the partners before it read as the pair's row.
                    const int before = static_cast<int>(
                        std::lower_bound(partners.begin(), partners.end(), i) - partners.begin());
                    for (int p = 0; p < count;) {
                        const int side_end = p < before ? before : count;
                        const int group = std::min(distances.group(), side_end - p);
                        distances.prefetch(partners.data() + p + group,
                                           std::min(distances.group(), count - p - group));
                        distances.compare(i, &partners[p], group, scratch.pairs,
                                          &scratch.distances[p]);
                        p += group;
                    }
                    // Each term divided before it is added, in ascending order of the partner,
                    // as the exact weights take theirs.
                    const double divisor = static_cast<double>(count);
                    double weight = 0.0;
                    for (int p = 0; p < count; ++p) weight += scratch.distances[p] / divisor;
                    weights[i] = weight;
                }
                ++finished;
                if (t == 0 && options.progress)
                    options.progress(static_cast<double>(finished) / claims);
            }
        });
}

void compute_grouped_column_scores(const Alignment& alignment, const Matrix& matrix,
                                   const double* weights, double* scores,
                                   const ScoringOptions& options)
{
    const int nseq = alignment.nseq;
    const int length = alignment.length;
    if (length <= 0) return;
    const ResidueClasses classes = make_residue_classes(matrix);
    const int count = classes.count;
    const double* value = classes.value.data();
    const bool symmetric = is_symmetric(classes);

    // The sum of w_j w_k over all pairs j < k, the same for every column.
    double den = 0.0;
    double before = 0.0;
    for (int k = 0; k < nseq; ++k) {
        den += weights[k] * before;
        before += weights[k];
    }

    // Blocks of columns, each scored whole by one thread, reading every sequence in order.
    constexpr int kBlock = 64;
    const int blocks = static_cast<int>((int64_t{length} + kBlock - 1) / kBlock);
    const std::size_t sums = static_cast<std::size_t>(kBlock) * count;
    struct Sums {
        std::vector<double> class_weight;  // W(a) per column of the block
        std::vector<double> within;        // D(a) per column (symmetric), or the numerators
    };
    std::atomic<int> next_block(0);
    std::atomic<int> finished(0);
    run_on_threads(
        thread_count(options.threads, blocks),
        [&](int) { return Sums{allocate<double>(sums), allocate<double>(sums)}; },
        [&](int t, Sums& s) {
            for (int b = next_block++; b < blocks; b = next_block++) {
                const int first = b * kBlock;
                const int columns = std::min(kBlock, length - first);
                std::fill(s.class_weight.begin(), s.class_weight.end(), 0.0);
                std::fill(s.within.begin(), s.within.end(), 0.0);
                for (int i = 0; i < nseq; ++i) {
                    const double w = weights[i];
                    const auto* row =
                        reinterpret_cast<const uint8_t*>(alignment.seqs[i].seq.data()) + first;
                    for (int c = 0; c < columns; ++c) {
                        const uint8_t a = classes.class_of[row[c]];
                        if (classes.scores_zero[a]) continue;
                        double* totals = &s.class_weight[static_cast<std::size_t>(c) * count];
                        if (symmetric) {
                            s.within[static_cast<std::size_t>(c) * count + a] += w * totals[a];
                        } else {
                            double paired = 0.0;
                            for (int e = 0; e < count; ++e)
                                paired += totals[e] * value[e * count + a];
                            s.within[static_cast<std::size_t>(c) * count] += w * paired;
                        }
                        totals[a] += w;
                    }
                }
                for (int c = 0; c < columns; ++c) {
                    const double* totals = &s.class_weight[static_cast<std::size_t>(c) * count];
                    const double* within = &s.within[static_cast<std::size_t>(c) * count];
                    double num = symmetric ? 0.0 : within[0];
                    for (int a = 0; symmetric && a < count; ++a) {
                        if (classes.scores_zero[a]) continue;
                        num += within[a] * value[a * count + a];
                        for (int e = a + 1; e < count; ++e)
                            num += (totals[a] * totals[e]) * value[a * count + e];
                    }
                    scores[first + c] = den != 0.0 ? num / den : 0.0;
                }
                ++finished;
                if (t == 0 && options.progress)
                    options.progress(static_cast<double>(finished) / blocks);
            }
        });
}

}  // namespace marrowind
