// residue_classes.h: a matrix recast for fast scoring: residue bytes sorted into classes.
//
// Contents:
//   ResidueClasses       the classes of a matrix, their pair values and their levels
//   make_residue_classes builds them from a transformed Matrix
//   encode_residues      maps a string of residues to class codes
//
// Mut compares bytes through a 300 x 300 table with tests for gaps and unknown letters. Most of
// the 256 bytes behave alike: every gap byte scores 0 with everything, and so does every byte
// that is not a letter of the matrix. So the bytes fall into a few classes: class 0 holds the
// gaps, class 1 every byte the matrix does not know, and each further class one letter of the
// matrix. A pair of classes then has one value, exactly Mut's value for any pair of its bytes,
// and the scoring loops can index small dense tables with one-byte codes.
//
// Levels number the distinct values a pair can take. For the pair distances a level is the
// value together with whether the column counts (it does unless both residues are gaps); for
// the column scores only the value matters. With few levels, a pair's contribution can be
// looked up by level with byte permutes.
#ifndef MARROWIND_SCORING_KERNELS_RESIDUE_CLASSES_H
#define MARROWIND_SCORING_KERNELS_RESIDUE_CLASSES_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "matrix/matrix.h"

namespace marrowind {

struct ResidueClasses {
    static constexpr uint8_t kGapClass = 0;
    static constexpr uint8_t kUnknownClass = 1;

    std::array<uint8_t, 256> class_of{};  // class of every byte value
    int count = 0;                         // number of classes, at most 258

    // value[a * count + b]: Mut of a byte of class a against a byte of class b.
    std::vector<double> value;
    // value[a * count + b] == value[b * count + a] for every pair of classes, so that a pair
    // may be read from either side.
    bool symmetric = true;
    // scores_zero[a]: class a scores 0 against every class (the gaps, unknown bytes), so that
    // every pair with it adds +0.0 to a sum and the column loops may leave it out.
    std::vector<uint8_t> scores_zero;

    // Pair distances: level of a class pair, and per level its value and whether it counts.
    std::vector<uint8_t> distance_level;  // count * count entries
    std::vector<double> distance_level_value;
    std::vector<uint8_t> distance_level_counts;

    // Column scores: level of a class pair (0 for the value 0) and the value of each level.
    std::vector<uint8_t> column_level;  // count * count entries
    std::vector<double> column_level_value;

    // Every value is a float widened to double, so a whole multiple of `unit`, the smallest
    // unit in the last place among the nonzero values: value = units * unit, exactly.
    double unit = 1.0;
    std::vector<uint64_t> distance_level_units;
    uint64_t max_units = 0;

    // True when a sum of `columns` values is exact in double precision whatever the order of
    // its additions: every partial sum is then a whole number of units below 2^53.
    bool sums_are_exact(int64_t columns) const;
};

// With read_as_scored, every byte falls into the class of the byte that validation would
// make of it ("." into the gaps' class, a-z into the classes of A-Z), so that rows that were
// never normalised score as if they had been. Throws OutOfMemory.
ResidueClasses make_residue_classes(const Matrix& matrix, bool read_as_scored = false);

// Writes the class codes of residues[0..length) to codes.
void encode_residues(const ResidueClasses& classes, const char* residues, std::size_t length,
                     uint8_t* codes);

}  // namespace marrowind

#endif
