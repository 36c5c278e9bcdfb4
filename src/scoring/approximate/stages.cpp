// stages.cpp: sampled weights and grouped column scores.
//
// Contents: compute_sampled_weights, compute_grouped_column_scores.
//
// Weights: each sequence is compared with its partners (partners.h) by the pair distances'
// kernel, which reads the earlier sequence of each pair first (Mut need not be symmetric) and
// gives each distance the bits of CalcPairDist, divided by the number of partners.
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
#include <cstddef>

#include "scoring/approximate/partners.h"
#include "scoring/kernels/kernel_selection.h"
#include "scoring/kernels/residue_classes.h"
#include "scoring/parallel/buffers.h"
#include "scoring/parallel/worker_threads.h"

namespace marrowind {

void compute_sampled_weights(const ResidueRows& rows, const Matrix& matrix, double* weights,
                             const ScoringOptions& options)
{
    if (options.sample < 1)
        throw InputError("\nError: the sample of partners per sequence must be at least 1\n");
    const int nseq = rows.nseq();
    constexpr int kSequencesPerClaim = 64;
    const int claims = (nseq + kSequencesPerClaim - 1) / kSequencesPerClaim;
    const int threads = thread_count(options.threads, claims);
    const int partners_each = PartnerSampler::partners_each(nseq, options.sample);
    const ResidueClasses classes = make_residue_classes(matrix, rows.read_as_scored());
    // Each term divided before it is added, as the exact weights take theirs.
    const auto kernel =
        make_distance_kernel(rows, classes, static_cast<double>(partners_each),
                             options.kernel, threads, DistancePairs::kPartners);
    const int group = kernel->partner_group();
    struct Scratch {
        PartnerSampler sampler;
        CodeBuffer row_table;
        CodeBuffer work;
        std::vector<double> terms;
    };
    std::atomic<int> next_claim(0);
    std::atomic<int> finished(0);
    run_on_threads(
        threads,
        [&](int) {
            return Scratch{PartnerSampler(nseq, options.sample, options.seed),
                           CodeBuffer(kernel->row_table_bytes()),
                           CodeBuffer(kernel->partner_work_bytes()),
                           allocate<double>(static_cast<std::size_t>(partners_each))};
        },
        [&](int t, Scratch& scratch) {
            for (int claim = next_claim++; claim < claims; claim = next_claim++) {
                const int end = std::min(nseq, (claim + 1) * kSequencesPerClaim);
                for (int i = claim * kSequencesPerClaim; i < end; ++i) {
                    const std::vector<int>& partners = scratch.sampler.draw(i);
                    kernel->prepare_row(i, scratch.row_table.data());
                    // Groups never straddle i: the partners before it read the pair from the
                    // other side.
                    const int before = static_cast<int>(
                        std::lower_bound(partners.begin(), partners.end(), i) - partners.begin());
                    for (int p = 0; p < partners_each;) {
                        const int size = std::min(group, (p < before ? before : partners_each) - p);
                        kernel->prefetch_partners(partners.data() + p + size,
                                                  std::min(group, partners_each - p - size));
                        kernel->compare_partners(i, scratch.row_table.data(), &partners[p], size,
                                                 scratch.work.data(), &scratch.terms[p]);
                        p += size;
                    }
                    // In ascending order of the partner, as the exact weights take their terms.
                    double weight = 0.0;
                    for (const double term : scratch.terms) weight += term;
                    weights[i] = weight;
                }
                ++finished;
                if (t == 0 && options.progress)
                    options.progress(static_cast<double>(finished) / claims);
            }
        });
}

void compute_grouped_column_scores(const ResidueRows& rows, const Matrix& matrix,
                                   const double* weights, double* scores,
                                   const ScoringOptions& options)
{
    const int nseq = rows.nseq();
    const int length = rows.length();
    if (length <= 0) return;
    const ResidueClasses classes = make_residue_classes(matrix, rows.read_as_scored());
    const int count = classes.count;
    const double* value = classes.value.data();
    const bool symmetric = classes.symmetric;

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
                    const uint8_t* row = rows[i] + first;
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
