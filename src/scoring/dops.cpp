// dops.cpp: the DOPS score of an alignment.
//
// Contents: FindScore, log2s, DopsScore, CalculateDops, print_dops_line.
//
// The columns are grouped into bins of exactly equal score, in order of first appearance, and
// the figure is the Shannon entropy of the columns' spread over the bins, as a percentage of
// the largest entropy that many columns can have (every column in a bin of its own). It is 100
// when all scores differ and 0 when all are equal.
#include "scoring/dops.h"

#include <cmath>
#include <cstdio>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "marrowind/errors.h"

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

    // One slot per column, the most bins there can be. No columns need no table, and a null
    // pointer from malloc(0) is not a failure.
    FreqScore* bins = nullptr;
    if (length > 0) {
        bins = static_cast<FreqScore*>(std::malloc(sizeof(FreqScore) * static_cast<size_t>(length)));
        if (bins == nullptr) throw marrowind::OutOfMemory(length);
    }

    // Binning is by plain equality: bins are found through the score's bits (with -0.0 read as
    // 0.0, which it equals), in the same order of first appearance as a linear search would
    // give, so that a million columns do not take a million searches each. A not-a-number score
    // equals nothing and opens a bin of its own every time.
    int nbins = 0;
    std::unordered_map<uint64_t, int> bin_of_bits;
    for (int j = 0; j < length; ++j) {
        const double x = scores[j];
        if (x != x) {
            bins[nbins].count = 1;
            bins[nbins].score = x;
            ++nbins;
            continue;
        }
        const double key_value = x == 0.0 ? 0.0 : x;
        uint64_t key;
        std::memcpy(&key, &key_value, sizeof key);
        const auto [found, inserted] = bin_of_bits.emplace(key, nbins);
        if (!inserted) {
            ++bins[found->second].count;
        } else {
            bins[nbins].count = 1;
            bins[nbins].score = x;
            ++nbins;
        }
    }

    double sum = 0.0;
    for (int b = 0; b < nbins; ++b) {
        bins[b].freq = static_cast<double>(bins[b].count) / static_cast<double>(length);
        sum = sum + bins[b].freq * std::log(bins[b].freq);
    }
    std::free(bins);

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
    print_dops_line(DopsScore(alignment->length, data->scores));
}

void print_dops_line(double dops)
{
    if (std::printf("DOPS score: %6.3f\n", dops) < 0)
        throw marrowind::OutputError("standard output");
}
