// column_scorer.cpp: the column scorer: its layout, its threads and the final division.
//
// Contents: ColumnScorer.
//
// Every column keeps its own numerator, which receives its terms in the plain order whichever
// thread scores its block. The denominator takes every pair whatever its residues, so it is the
// same for every column and is summed once, in the plain order.
#include "scoring/exact/column_scorer.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <vector>

#include "scoring/parallel/worker_threads.h"

namespace marrowind {

ColumnScorer::ColumnScorer(const Alignment& alignment, const ResidueClasses& classes,
                           const ColumnKernel& kernel, int threads)
    : kernel_(kernel), nseq_(alignment.nseq), length_(alignment.length),
      requested_threads_(threads),
      block_(kernel.block_columns()),
      blocks_(static_cast<int>((std::int64_t{length_} + block_ - 1) / block_))
{
    lay_out(alignment, classes);
}

uint8_t* ColumnScorer::block_codes(int block) const
{
    return &codes_[static_cast<std::size_t>(block) * nseq_ * block_];
}

// Block by block: the codes of every sequence in one block of columns lie together, so that the
// pair loops stream through memory. The threads take sequences a few dozen at a time and write
// each of their rows whole, so that the first touches of fresh pages are shared out too.
void ColumnScorer::lay_out(const Alignment& alignment, const ResidueClasses& classes)
{
    constexpr int kSequencesPerClaim = 64;
    codes_ = CodeBuffer(static_cast<std::size_t>(blocks_) * nseq_ * block_);
    const int claims = (nseq_ + kSequencesPerClaim - 1) / kSequencesPerClaim;
    std::atomic<int> next_claim(0);
    run_on_threads(
        thread_count(requested_threads_, claims),
        [&](int) { return allocate<uint8_t>(static_cast<std::size_t>(length_)); },
        [&](int, std::vector<uint8_t>& codes) {
            for (int claim = next_claim++; claim < claims; claim = next_claim++) {
                const int end = std::min(nseq_, (claim + 1) * kSequencesPerClaim);
                for (int i = claim * kSequencesPerClaim; i < end; ++i) {
                    encode_residues(classes, alignment.seqs[i].seq.data(),
                                    static_cast<std::size_t>(length_), codes.data());
                    for (int b = 0; b < blocks_; ++b)
                        kernel_.lay_out_row(&codes[static_cast<std::size_t>(b) * block_],
                                            std::min(block_, length_ - b * block_),
                                            block_codes(b) + static_cast<std::size_t>(i) * block_);
                }
            }
        });
}

void ColumnScorer::run(const double* weights, double* scores,
                       const std::function<void(double)>& progress) const
{
    // The calling thread sums the denominator while the others start on the blocks, which leave
    // their numerators in scores until it is known.
    double den = 0.0;
    std::atomic<int> next_block(0);
    std::atomic<int> finished(0);
    run_on_threads(
        thread_count(requested_threads_, blocks_),
        [&](int) { return allocate<double>(static_cast<std::size_t>(block_)); },
        [&](int t, std::vector<double>& num) {
            if (t == 0)
                for (int j = 0; j < nseq_; ++j)
                    for (int k = j + 1; k < nseq_; ++k) den = den + weights[j] * weights[k];
            for (int b = next_block++; b < blocks_; b = next_block++) {
                const int columns = std::min(block_, length_ - b * block_);
                kernel_.score_block(block_codes(b), nseq_, columns, weights, num.data());
                std::copy_n(num.data(), columns, scores + static_cast<std::size_t>(b) * block_);
                ++finished;
                if (t == 0 && progress) progress(static_cast<double>(finished) / blocks_);
            }
        });
    for (int c = 0; c < length_; ++c) scores[c] = den != 0.0 ? scores[c] / den : 0.0;
}

}  // namespace marrowind
