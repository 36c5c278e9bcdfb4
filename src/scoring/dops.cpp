// dops.cpp: the DOPS score of an alignment.
//
// Contents: BinIndex, FindScore, log2s, DopsScore, CalculateDops, print_dops_line.
//
// The columns are grouped into bins of exactly equal score, in order of first appearance, and
// the figure is the Shannon entropy of the columns' spread over the bins, as a percentage of
// the largest entropy that many columns can have (every column in a bin of its own). It is 100
// when all scores differ and 0 when all are equal.
#include "scoring/dops.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <memory>

#include "marrowind/errors.h"
#include "marrowind/output.h"
#include "scoring/parallel/buffers.h"

namespace {

// The bins of a table found by their score: an open-addressing index of bin numbers, with at
// least twice as many slots as columns, taken in one allocation. It finds the same bin as a
// linear search of the table, so that a million columns do not take a million searches each.
class BinIndex {
public:
    explicit BinIndex(int length)
    {
        while ((std::size_t{1} << bits_) < 2 * static_cast<std::size_t>(length)) ++bits_;
        const std::size_t slots = std::size_t{1} << bits_;
        slots_ = marrowind::allocate_array<int>(slots);
        std::fill_n(slots_.get(), slots, kEmpty);
    }

    // The slot that holds the number of the bin whose score equals x, or else the empty slot
    // where that number belongs. x is a number: a not-a-number equals no bin.
    int& bin_for(double x, const FreqScore* bins)
    {
        // Equal scores must meet in one slot: -0.0 equals 0.0 but has bits of its own.
        const double key_value = x == 0.0 ? 0.0 : x;
        uint64_t key;
        std::memcpy(&key, &key_value, sizeof key);
        const std::size_t mask = (std::size_t{1} << bits_) - 1;
        for (std::size_t at = (key * kMixer) >> (64 - bits_);; at = (at + 1) & mask) {
            int& bin = slots_[at];
            if (bin == kEmpty || bins[bin].score == x) return bin;
        }
    }

    static constexpr int kEmpty = -1;

private:
    static constexpr uint64_t kMixer = 0x9E3779B97F4A7C15u;  // 2^64 over the golden ratio

    int bits_ = 1;
    std::unique_ptr<int[]> slots_;
};

}  // namespace

FreqScore* FindScore(FreqScore* bins, int nbins, double x)
{
    for (int b = 0; b < nbins; ++b) {
        if (bins[b].score == x) return &bins[b];
    }
    return nullptr;
}

double log2s(double x) { return std::log(x) / std::log(2.0); }

double DopsScore(int length, const double* scores)
{
    // One column has no spread to measure: both the entropy and its maximum are 0, and their
    // ratio would be 0/0. Such an alignment is as uniform as can be, so it scores 0.
    if (length == 1) return 0.0;

    // One slot per column, the most bins there can be. No columns need no table, and an
    // allocation of none is no failure.
    const std::unique_ptr<FreqScore[]> bins =
        marrowind::allocate_array<FreqScore>(static_cast<std::size_t>(length));

    // Binning is by plain equality, in order of first appearance. A not-a-number score equals
    // nothing and opens a bin of its own every time.
    BinIndex index(length);
    int nbins = 0;
    for (int j = 0; j < length; ++j) {
        const double x = scores[j];
        if (x == x) {
            int& bin = index.bin_for(x, bins.get());
            if (bin != BinIndex::kEmpty) {
                ++bins[bin].count;
                continue;
            }
            bin = nbins;
        }
        bins[nbins].count = 1;
        bins[nbins].score = x;
        ++nbins;
    }

    double sum = 0.0;
    for (int b = 0; b < nbins; ++b) {
        bins[b].freq = static_cast<double>(bins[b].count) / static_cast<double>(length);
        sum = sum + bins[b].freq * std::log(bins[b].freq);
    }

    const double entropy = (-1.0 * sum) / std::log(2.0);
    const double max_entropy = -1.0 * log2s(1.0 / static_cast<double>(length));
    double dops = (100.0 * entropy) / max_entropy;
    // A single bin gives an entropy of -0.0; the comparison turns it into 0.0 so that the
    // figure never prints as -0.000. With no columns the figure is 0.0 / -inf, also 0.
    if (dops <= 0.0) dops = 0.0;
    return dops;
}

void CalculateDops(Alignment* alignment, Data* data)
{
    marrowind::detail::print_dops_line(DopsScore(alignment->length, data->scores));
}

void marrowind::detail::print_dops_line(double dops)
{
    if (std::printf("DOPS score: %s\n", marrowind::format_dops(dops).c_str()) < 0)
        throw marrowind::OutputError("standard output");
}
