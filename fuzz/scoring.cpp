// scoring.cpp: differential fuzz target for the scoring of a small alignment against a small
// matrix: every kernel and thread count against the plain loops, bit for bit.
//
// Contents: same_bits, expect_every_path_matches_plain, LLVMFuzzerTestOneInput.
//
// The input is the text of a matrix file, a NUL byte, and then the aligned sequences, one per
// line. They go through the library interface as a program that uses it would, and every figure
// must stay in its range: weights and column scores from 0 to 1, the DOPS score from 0 to 100.
// An alignment and matrix that the library accepts are then scored on every kernel level this
// processor runs, on one thread and on two to four (the input's size picks how many), and the
// weights, the column scores and the distance table must have exactly the plain loops' bits, as
// must the approximate mode's weights when every other sequence is a partner.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "check.h"
#include "core/records.h"
#include "input/validate.h"
#include "marrowind/errors.h"
#include "marrowind/marrowind.h"
#include "scoring/approximate/stages.h"
#include "scoring/exact/stages.h"
#include "scoring/reference/plain_loops.h"

namespace {

// Compares the first n values bit for bit (so -0.0 differs from 0.0 and a NaN equals itself).
// An empty vector may hold no storage at all, which memcmp must not be given.
template <typename T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b, std::size_t n)
{
    return n == 0 || std::memcmp(a.data(), b.data(), n * sizeof(T)) == 0;
}

void expect_every_path_matches_plain(const std::vector<std::string>& sequences,
                                     const Matrix& matrix, int many_threads)
{
    Alignment alignment;
    for (const std::string& sequence : sequences) {
        alignment.seqs.emplace_back();
        alignment.seqs.back().seq = sequence;
    }
    alignment.nseq = static_cast<int>(sequences.size());
    alignment.length = static_cast<int>(sequences[0].size());
    CheckSeqs(&alignment);  // the normalisation that the library applies
    const int nseq = alignment.nseq;
    const std::size_t length = static_cast<std::size_t>(alignment.length);

    std::vector<double> plain_weights(static_cast<std::size_t>(nseq));
    marrowind::plain::weights(alignment, matrix, plain_weights.data());
    std::vector<double> plain_scores(length);
    marrowind::plain::column_scores(alignment, matrix, plain_weights.data(), plain_scores.data());
    f2dsquare plain_dist(nseq);
    marrowind::plain::distance_table(alignment, matrix, plain_dist);

    for (const marrowind::KernelLevel level : marrowind::supported_kernel_levels()) {
        for (const int threads : {1, many_threads}) {
            marrowind::ScoringOptions options;
            options.kernel = level;
            options.threads = threads;
            std::vector<double> weights(plain_weights.size());
            marrowind::compute_weights(alignment, matrix, weights.data(), options);
            FUZZ_CHECK(same_bits(weights, plain_weights, weights.size()));
            std::vector<double> scores(length);
            marrowind::compute_column_scores(alignment, matrix, plain_weights.data(),
                                             scores.data(), options);
            FUZZ_CHECK(same_bits(scores, plain_scores, length));
            f2dsquare dist(nseq);
            marrowind::compute_distance_table(alignment, matrix, dist, options);
            FUZZ_CHECK(same_bits(dist.cells, plain_dist.cells, dist.cells.size()));
            // Every other sequence a partner: the sampled weights are the exact ones.
            options.mode = marrowind::ScoringMode::kApproximate;
            options.sample = nseq;
            marrowind::compute_sampled_weights(alignment, matrix, weights.data(), options);
            FUZZ_CHECK(same_bits(weights, plain_weights, weights.size()));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    const void* separator = std::memchr(text, '\0', size);
    if (separator == nullptr) return 0;
    const std::size_t matrix_size = static_cast<std::size_t>(static_cast<const char*>(separator) - text);
    const std::string matrix_text(text, matrix_size);
    std::vector<std::string> sequences;
    std::istringstream lines(std::string(text + matrix_size + 1, size - matrix_size - 1));
    for (std::string line; std::getline(lines, line);) sequences.push_back(line);
    try {
        const auto matrix = marrowind::SubstitutionMatrix::parse(matrix_text);
        const marrowind::ConservationScores scores = marrowind::score_alignment(sequences, matrix);

        FUZZ_CHECK(scores.weights.size() == sequences.size());
        FUZZ_CHECK(scores.column_scores.size() == sequences[0].size());
        for (const double weight : scores.weights) FUZZ_CHECK(weight >= 0.0 && weight <= 1.0);
        for (const double score : scores.column_scores) FUZZ_CHECK(score >= 0.0 && score <= 1.0);
        // The entropy and its maximum are computed along different roads, so all-distinct
        // scores may land a rounding step above 100.
        FUZZ_CHECK(scores.dops >= 0.0 && scores.dops <= 100.0 + 1e-9);

        // Each run of threads costs as much as the rest together under the sanitizers, so an
        // input tries one count of several, as reproducibly as everything else it decides.
        expect_every_path_matches_plain(sequences, matrix.record(), 2 + static_cast<int>(size % 3));
    } catch (const marrowind::Error&) {
        // A refused matrix or alignment is a reported input error, not a finding.
    }
    return 0;
}
