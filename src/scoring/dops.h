// dops.h: the DOPS score, a one-figure summary of how varied an alignment's column scores are.
//
// Contents:
//   FreqScore     one bin: the columns whose scores are exactly equal
//   FindScore     the first bin of a table whose score equals a value
//   log2s         base-2 logarithm as ln(x) / ln(2)
//   DopsScore     entropy of the column scores over their bins, as a percentage of log2(length)
//   CalculateDops computes the figure for an alignment and prints it on standard output
//   print_dops_line prints a figure as CalculateDops does
#ifndef MARROWIND_SCORING_DOPS_H
#define MARROWIND_SCORING_DOPS_H

#include "core/records.h"

struct FreqScore {
    int count;     // columns in the bin (at least 1 once the bin exists)
    double score;  // the score shared by the bin's columns: the first such column's value
    double freq;   // count / length, set when the entropy is taken
};

// Scans bins 0..nbins-1 upward and returns the first whose score compares equal to x (0.0 equals
// -0.0, a not-a-number equals nothing), or nullptr when there is none.
FreqScore* FindScore(FreqScore* bins, int nbins, double x);

// ln(x) / ln(2.0): minus infinity at 0, not-a-number for negative x.
double log2s(double x);

// The DOPS figure of `length` column scores: 100 * H / log2(length), H being the entropy in
// bits of the spread of the columns over bins of exactly equal score; 0.0 where that is not
// positive, and 0.0 for one column or none. Prints nothing. Throws marrowind::OutOfMemory with
// the element count of a table that cannot be allocated: `length` for the bin table.
double DopsScore(int length, const double* scores);

// Prints "DOPS score: %6.3f\n" with the alignment's figure on standard output. Throws
// marrowind::OutputError("standard output") when that write fails, and OutOfMemory as
// DopsScore does.
void CalculateDops(Alignment* alignment, Data* data);

namespace marrowind::detail {

// Prints "DOPS score: %6.3f\n" on standard output. Throws marrowind::OutputError("standard
// output") when that write fails.
void print_dops_line(double dops);

}  // namespace marrowind::detail

#endif
