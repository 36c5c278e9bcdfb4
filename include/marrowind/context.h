// context.h: what a column's score is read with: how many sequences stand behind it, where it
// lies among the other columns' scores, and the scores around it.
//
// Contents:
//   ColumnOccupancy     per column: the sequences that hold a residue, the gap fraction and
//                       the weighted occupancy
//   column_occupancy    computes them for chosen columns of an alignment
//   is_reliable         whether a column has enough residues and few enough gaps
//   ScoreStatistics     the number, mean and standard deviation of a list's finite scores
//   score_statistics    computes them, over a list or over chosen entries of it
//   standard_score      a score's z: (score - mean) / standard deviation
//   kGradeEdges         the edges of the nine grades, on the scale of z
//   conservation_grade  a grade from 1 to 9 (9 the most conserved) from z
//   smoothed_scores     the centred mean of an odd number of neighbouring scores
//
// Every figure is computed in a fixed order, so it is the same to the last bit on every run.
// Nothing here prints or ends the process; arguments that do not fit together (weights that
// are not one per sequence, a column past the end, an even window) throw std::invalid_argument.
#ifndef MARROWIND_CONTEXT_H
#define MARROWIND_CONTEXT_H

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "marrowind/marrowind.h"

namespace marrowind {

// A column holds a residue of a sequence when that sequence's byte there, read as the scoring
// reads it ("." as "-", a-z as A-Z, unless normalise_residues is false), is a letter of the
// matrix and no gap ("-" or "X"): exactly the bytes whose pairs can score above 0. Every other
// byte (a gap, a letter the matrix lacks) counts as a gap here.
struct ColumnOccupancy {
    // Per chosen column: how many sequences hold a residue there (r).
    std::vector<std::int64_t> residues;
    // (n - r) / n for n sequences: the share of sequences with a gap there.
    std::vector<double> gap_fraction;
    // The summed weight of the sequences that hold a residue there, divided by the summed
    // weight of all sequences (each sum in sequence order): the share of residues counted with
    // the weights normalised to sum to 1, so that near-copies of one sequence count about as
    // one. Where the weights sum to 0 (all sequences alike, or only one) or are not finite,
    // every sequence counts alike and this is r / n.
    std::vector<double> weighted_occupancy;
};

// The occupancy of `columns` (0-based indices, in any order, repeats allowed) of the aligned
// `sequences`, one entry per listed column in the order listed. `weights` holds one weight per
// sequence (ConservationScores::weights). Throws std::invalid_argument when the weights are
// not one per sequence, the sequences differ in length, or a column is past their end.
ColumnOccupancy column_occupancy(const std::vector<std::string_view>& sequences,
                                 const SubstitutionMatrix& matrix,
                                 const std::vector<double>& weights,
                                 const std::vector<std::size_t>& columns,
                                 bool normalise_residues = true);

// As above, for every column in order.
ColumnOccupancy column_occupancy(const std::vector<std::string_view>& sequences,
                                 const SubstitutionMatrix& matrix,
                                 const std::vector<double>& weights,
                                 bool normalise_residues = true);

// Whether a column's score stands on enough evidence: at least `min_residues` sequences hold a
// residue there and its gap fraction is at most `max_gap_fraction`.
bool is_reliable(std::int64_t residues, double gap_fraction, std::int64_t min_residues,
                 double max_gap_fraction);

// The finite scores of a list (a not-a-number or infinite score is left out): their number,
// their mean (their sum in list order, divided by their number) and their population standard
// deviation (the square root of the mean of the squared differences from that mean, summed in
// list order: divided by the number of scores, not one less). Mean and deviation are
// not-a-number when there is no finite score.
struct ScoreStatistics {
    std::size_t scored = 0;
    double mean = 0.0;
    double standard_deviation = 0.0;
};

// The statistics of scores[0], ..., scores[count - 1].
ScoreStatistics score_statistics(const double* scores, std::size_t count);

// The statistics of scores[rows[0]], ..., scores[rows[count - 1]]: the entries of a longer list
// that a table shows (the columns of the reference's residues), without copying them. Throws
// std::invalid_argument when a row is negative or not below `size`, the list's length.
ScoreStatistics score_statistics(const double* scores, std::size_t size,
                                 const std::int32_t* rows, std::size_t count);

// (score - mean) / standard_deviation; 0 when the deviation is 0 (every finite score equal);
// not-a-number for a score that is not finite or statistics of no scores.
double standard_score(double score, const ScoreStatistics& statistics);

// The eight edges between the nine grades: bins half a standard deviation wide, grade 5
// centred on the mean.
inline constexpr double kGradeEdges[8] = {-1.75, -1.25, -0.75, -0.25, 0.25, 0.75, 1.25, 1.75};

// 1 plus the number of kGradeEdges at or below z: 1 for z below -1.75, 5 for z from -0.25 up to
// (not including) 0.25, 9 for z of 1.75 or more; so the grade never falls as z rises. 0 for a
// not-a-number z (no score).
int conservation_grade(double z);

// For each entry k of the list scores[rows[0]], ..., scores[rows[count - 1]] (scores[0], ...,
// scores[count - 1] when rows is null) from `first` up to (not including) `last`: the mean of
// the finite entries among the `window` entries centred on it, entries k - h to k + h for
// h = (window - 1) / 2, in list order. At the ends of the list the window holds only the
// entries that exist (k - h below 0 or k + h past the end are left out, never wrapped or
// mirrored), so the first entry's mean is over h + 1 entries. Not-a-number where the window
// holds no finite score. Each mean is summed afresh, so it does not depend on `first`. Throws
// std::invalid_argument for an even window, first > last or last > count, or a row outside
// 0 to size - 1.
std::vector<double> smoothed_scores(const double* scores, std::size_t size,
                                    const std::int32_t* rows, std::size_t count,
                                    std::size_t window, std::size_t first, std::size_t last);

// smoothed_scores of a whole list.
std::vector<double> smoothed_scores(const std::vector<double>& scores, std::size_t window);

}  // namespace marrowind

#endif
