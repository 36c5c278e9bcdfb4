// column_scorer.cpp: the column scorer: its blocks, their layout, their threads and the final
// division.
//
// Contents: plan_column_blocks, ColumnScorer.
//
// Every column keeps its own numerator, which receives its terms in the plain order whichever
// thread scores its block. The denominator takes every pair whatever its residues, so it is the
// same for every column; the first block's kernel sums it in the plain order beside its
// columns, where its chain of additions waits on nothing else.
#include "scoring/exact/column_scorer.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>

#include "scoring/parallel/worker_threads.h"

namespace marrowind {

std::vector<ColumnBlock> plan_column_blocks(int columns, int threads, int max_vectors)
{
    const int vectors = static_cast<int>((std::int64_t{columns} + 7) / 8);
    threads = std::max(1, std::min(threads, vectors));
    std::vector<int> widths;
    reserve(widths, static_cast<std::size_t>(vectors));
    int left = vectors;
    while (left > std::int64_t{threads} * max_vectors) {
        widths.push_back(max_vectors);
        left -= max_vectors;
    }
    // The last round: `left` vectors in shares that differ by at most one vector.
    const std::size_t round_start = widths.size();
    for (int t = 0; t < threads; ++t) {
        const int share = left / threads + (t < left % threads ? 1 : 0);
        for (int width = max_vectors; width >= 1; width /= 2)
            if (share & width) widths.push_back(width);
    }
    std::sort(widths.begin() + static_cast<std::ptrdiff_t>(round_start), widths.end(),
              std::greater<int>());

    std::vector<ColumnBlock> blocks;
    reserve(blocks, widths.size());
    int first = 0;
    for (int width : widths) {
        blocks.push_back({first, static_cast<int>(std::min<std::int64_t>(
                                     8 * width, std::int64_t{columns} - first)),
                          width});
        first += blocks.back().columns;
    }
    return blocks;
}

ColumnScorer::ColumnScorer(const ResidueRows& rows, const ResidueClasses& classes,
                           const ColumnKernel& kernel, int threads)
    : kernel_(kernel), nseq_(rows.nseq()), length_(rows.length()),
      threads_(thread_count(threads, (std::int64_t{length_} + 7) / 8)),
      blocks_(plan_column_blocks(length_, threads_, kernel.max_block_vectors()))
{
    offsets_ = allocate<std::size_t>(blocks_.size());
    std::size_t bytes = 0;
    for (std::size_t b = 0; b < blocks_.size(); ++b) {
        offsets_[b] = bytes;
        bytes += kernel_.block_bytes(nseq_, blocks_[b].vectors);
    }
    codes_ = CodeBuffer(bytes);
    lay_out(rows, classes);
}

// Block by block: the codes of every sequence in one block of columns lie together, so that the
// pair loops stream through memory. The threads take sequences a few dozen at a time and write
// each of their rows whole, so that the first touches of fresh pages are shared out too.
void ColumnScorer::lay_out(const ResidueRows& rows, const ResidueClasses& classes)
{
    constexpr int kSequencesPerClaim = 64;
    const int claims = (nseq_ + kSequencesPerClaim - 1) / kSequencesPerClaim;
    std::atomic<int> next_claim(0);
    run_on_threads(
        thread_count(threads_, claims),
        [&](int) { return allocate<uint8_t>(static_cast<std::size_t>(length_)); },
        [&](int, std::vector<uint8_t>& codes) {
            for (int claim = next_claim++; claim < claims; claim = next_claim++) {
                const int end = std::min(nseq_, (claim + 1) * kSequencesPerClaim);
                for (int i = claim * kSequencesPerClaim; i < end; ++i) {
                    encode_residues(classes, reinterpret_cast<const char*>(rows[i]),
                                    static_cast<std::size_t>(length_), codes.data());
                    for (std::size_t b = 0; b < blocks_.size(); ++b)
                        kernel_.lay_out_row(codes.data() + blocks_[b].first, blocks_[b].columns,
                                            blocks_[b].vectors, nseq_, i,
                                            codes_.data() + offsets_[b]);
                }
            }
        });
}

void ColumnScorer::run(const double* weights, double* scores,
                       const std::function<void(double)>& progress) const
{
    const int blocks = static_cast<int>(blocks_.size());
    double den = 0.0;
    std::atomic<int> next_block(0);
    std::atomic<std::int64_t> columns_done(0);
    run_on_threads(
        thread_count(threads_, blocks),
        [&](int) {
            return allocate<double>(8 * static_cast<std::size_t>(kernel_.max_block_vectors()));
        },
        [&](int t, std::vector<double>& num) {
            for (int b = next_block++; b < blocks; b = next_block++) {
                const ColumnBlock& block = blocks_[b];
                kernel_.score_block(codes_.data() + offsets_[b], nseq_, block.vectors, weights,
                                    num.data(), b == 0 ? &den : nullptr);
                std::copy_n(num.data(), block.columns, scores + block.first);
                columns_done += block.columns;
                if (t == 0 && progress) progress(static_cast<double>(columns_done) / length_);
            }
        });
    for (int c = 0; c < length_; ++c) scores[c] = den != 0.0 ? scores[c] / den : 0.0;
}

}  // namespace marrowind
