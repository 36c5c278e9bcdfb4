// partners.h: the partners whose distances a sequence's sampled weight averages.
//
// Contents:
//   PartnerSampler  draws each sequence's partners, reusing its memory from one to the next
//
// Each sequence's partners are drawn by a generator of its own, seeded by the seed and the
// sequence's index, so that which thread weighs which sequence cannot matter.
#ifndef MARROWIND_SCORING_APPROXIMATE_PARTNERS_H
#define MARROWIND_SCORING_APPROXIMATE_PARTNERS_H

#include <algorithm>
#include <cstdint>
#include <vector>

namespace marrowind {

class PartnerSampler {
public:
    // For nseq sequences, `sample` partners each (at least 1). Throws OutOfMemory.
    PartnerSampler(int nseq, int sample, uint64_t seed);

    // The number of partners each sequence has: sample, or nseq - 1 where that is fewer.
    static int partners_each(int nseq, int sample)
    {
        return std::max(0, std::min(sample, nseq - 1));
    }

    // The indices, ascending, of the partners of sequence `index`: all the others when sample
    // >= nseq - 1, else `sample` of them drawn without replacement by a generator seeded by
    // (seed, index) alone. Valid until the next draw.
    const std::vector<int>& draw(int index);

private:
    static constexpr int kEmpty = -1;

    bool insert(int rank);

    int nseq_;
    int sample_;
    uint64_t seed_;
    std::vector<int> slots_;
    std::vector<int> partners_;
};

}  // namespace marrowind

#endif
