// stages.cpp: the exact scoring stages, put together from their kernels, rows and scorers.
//
// Contents: compute_weights, compute_distance_table, compute_column_scores.
//
// Each stage recasts the matrix as residue classes, has its kernel chosen (kernel_selection.h)
// and runs it on its threads (pair_distance_rows.h, column_scorer.h); this file holds what the
// stages do with the results: the order in which the weights take their terms, and the
// single-precision table. A yardstick build (MARROWIND_PLAIN_STAGES) runs the plain loops
// instead, for the timing script to measure the program against.
#include "scoring/exact/stages.h"

#include <algorithm>
#include <memory>

#include "scoring/exact/column_scorer.h"
#include "scoring/exact/pair_distance_rows.h"
#include "scoring/kernels/kernel_selection.h"
#include "scoring/kernels/residue_classes.h"
#include "scoring/parallel/worker_threads.h"
#include "scoring/reference/plain_loops.h"

namespace marrowind {

#ifdef MARROWIND_PLAIN_STAGES
namespace {

// The alignment record that the rows belong to, or, for rows held elsewhere, `copy` made to
// hold them: the plain loops read records.
const Alignment& as_record(const ResidueRows& rows, std::unique_ptr<Alignment>& copy)
{
    if (rows.alignment()) return *rows.alignment();
    copy = holding_copies(rows);
    return *copy;
}

}  // namespace

void compute_weights(const ResidueRows& rows, const Matrix& matrix, double* weights,
                     const ScoringOptions&)
{
    std::unique_ptr<Alignment> copy;
    plain::weights(as_record(rows, copy), matrix, weights);
}

void compute_distance_table(const ResidueRows& rows, const Matrix& matrix, f2dsquare& dist,
                            const ScoringOptions&)
{
    std::unique_ptr<Alignment> copy;
    plain::distance_table(as_record(rows, copy), matrix, dist);
}

void compute_column_scores(const ResidueRows& rows, const Matrix& matrix,
                           const double* weights, double* scores, const ScoringOptions&)
{
    std::unique_ptr<Alignment> copy;
    plain::column_scores(as_record(rows, copy), matrix, weights, scores);
}
#else
namespace {

// The rows of every pair's distance divided by `divisor`, handed to consume in ascending order.
void for_distance_rows(const ResidueRows& rows, const Matrix& matrix, double divisor,
                       const ScoringOptions& options, const PairDistanceRows::Consumer& consume)
{
    const ResidueClasses classes = make_residue_classes(matrix, rows.read_as_scored());
    const int threads = thread_count(options.threads, rows.nseq());
    const auto kernel = make_distance_kernel(rows, classes, divisor, options.kernel, threads,
                                             DistancePairs::kEveryPair);
    PairDistanceRows(*kernel, rows.nseq(), rows.length(), threads)
        .run(consume, options.progress);
}

}  // namespace

void compute_weights(const ResidueRows& rows, const Matrix& matrix, double* weights,
                     const ScoringOptions& options)
{
    const int nseq = rows.nseq();
    std::fill_n(weights, nseq, 0.0);
    // Each weight receives its terms in the plain order: from the rows above it, one per row
    // in ascending order, then its own row in ascending order. A group's pairs among its own
    // rows are taken row by row; past the group, each weight takes the group's terms row by
    // row, while the rows' own sums advance side by side, each still in ascending order, so
    // that their additions overlap instead of waiting on each other.
    for_distance_rows(
        rows, matrix, static_cast<double>(nseq - 1), options,
        [&](int first, int end, const double* terms) {
            double own[PairDistanceRows::kMaxGroup];
            auto row = [&](int i) { return terms + static_cast<std::size_t>(i - first) * nseq; };
            for (int i = first; i < end; ++i) {
                double sum = weights[i];
                for (int j = i + 1; j < end; ++j) {
                    sum += row(i)[j];
                    weights[j] += row(i)[j];
                }
                own[i - first] = sum;
            }
            for (int j = end; j < nseq; ++j) {
                double weight = weights[j];
                for (int i = first; i < end; ++i) {
                    own[i - first] += row(i)[j];
                    weight += row(i)[j];
                }
                weights[j] = weight;
            }
            for (int i = first; i < end; ++i) weights[i] = own[i - first];
        });
}

void compute_distance_table(const ResidueRows& rows, const Matrix& matrix, f2dsquare& dist,
                            const ScoringOptions& options)
{
    const int nseq = rows.nseq();
    for (int i = 0; i < nseq; ++i) dist.assign(i, i, 0.0f);
    for_distance_rows(rows, matrix, 1.0, options,
                      [&](int first, int end, const double* distances) {
                          for (int i = first; i < end; ++i) {
                              const double* row =
                                  distances + static_cast<std::size_t>(i - first) * nseq;
                              for (int j = i + 1; j < nseq; ++j) {
                                  const float d = static_cast<float>(row[j]);
                                  dist.assign(i, j, d);
                                  dist.assign(j, i, d);
                              }
                          }
                      });
}

void compute_column_scores(const ResidueRows& rows, const Matrix& matrix,
                           const double* weights, double* scores, const ScoringOptions& options)
{
    if (rows.length() <= 0) return;
    const ResidueClasses classes = make_residue_classes(matrix, rows.read_as_scored());
    const auto kernel = make_column_kernel(classes, options.kernel);
    // The scorer lays the rows out in its blocks once, where they lie, then reads only its
    // layout.
    const ColumnScorer scorer(rows, classes, *kernel, options.threads);
    scorer.run(weights, scores, options.progress);
}
#endif

}  // namespace marrowind
