// partners.cpp: drawing each sequence's partners.
//
// Contents: Generator, PartnerSampler.
#include "scoring/approximate/partners.h"

#include <algorithm>
#include <cstddef>

#include "scoring/parallel/buffers.h"

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

}  // namespace

PartnerSampler::PartnerSampler(int nseq, int sample, uint64_t seed)
    : nseq_(nseq), sample_(partners_each(nseq, sample)), seed_(seed)
{
    if (sample_ < nseq - 1) {
        std::size_t slots = 1;
        while (slots < 2 * static_cast<std::size_t>(sample_)) slots *= 2;
        slots_ = allocate<int>(slots, kEmpty);
    }
    partners_ = allocate<int>(static_cast<std::size_t>(sample_));
}

const std::vector<int>& PartnerSampler::draw(int index)
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

// Adds rank to the open-addressed set; false when it was there already.
bool PartnerSampler::insert(int rank)
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

}  // namespace marrowind
