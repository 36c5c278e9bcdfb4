// matrix.h: the substitution matrix record, its reader, its rescaling and residue-pair lookup.
//
// Contents:
//   Matrix           letters and raw integer scores as read, plus the rescaled lookup table
//   MatrixRecord     a rescaled Matrix as the library's SubstitutionMatrix holds it
//   kMatrixCapacity  the most letters a matrix may have (300)
//   MatrixWarningSink  hears of the faults that the reader reads past
//   ReadMatrix       reads a matrix file into a new Matrix
//   ParseMatrix      reads a matrix from any stream (used by ReadMatrix and the library)
//   TransformMatrix  rescales raw scores to 0..1 in a table indexed by character codes
//   is_gap           "-" and "X" are gaps; nothing else is
//   Mut              score of two residues: 0..1, and 0 for gaps and unknown characters
#ifndef MARROWIND_MATRIX_MATRIX_H
#define MARROWIND_MATRIX_MATRIX_H

#include <functional>
#include <istream>
#include <string>
#include <utility>
#include <vector>

#include "core/records.h"

constexpr int kMatrixCapacity = 300;

struct Matrix {
    int nres;                            // number of letters in the header
    std::vector<char> letters;           // header letters; entries from nres on are 0
    std::vector<std::vector<int>> raw;   // raw[r][c]: score of letter r against letter c
    f2dsquare lookup;                    // rescaled scores by (unsigned) character codes

    Matrix();
};

// Receives each warning about a matrix file that is read all the same: one line without a line
// end, "<source> line <n>: <fault>; <consequence>", for instance "m.mat2 line 2: header letter
// 'a' is lower case; alignments are read in upper case, so its scores are never used".
using MatrixWarningSink = std::function<void(const std::string& warning)>;

// Reads the matrix file at path. Throws marrowind::InputError when the file cannot be opened
// or read, or is not a well-formed matrix ("!!!! Error in Matrix !!!!\n" plus a line that
// names the file and says what is wrong). When `warn` is given, it hears, in file order, of
// each fault that the format reads past: a header letter in lower case, a header entry longer
// than one letter, a letter listed again, a row whose scores are not all whole numbers, lines
// after the last score row (to find those, the file is read to its end).
Matrix* ReadMatrix(const char* path, const MatrixWarningSink& warn = nullptr);

// Reads a matrix from a stream; `source` names it in messages. Same errors and warnings as
// ReadMatrix.
Matrix* ParseMatrix(std::istream& in, const std::string& source,
                    const MatrixWarningSink& warn = nullptr);

// Fills lookup: the rescaled score (raw - lo) / (hi - lo), in single precision, at the cell of
// each pair of header letters, and the marker 50 everywhere else. Throws marrowind::InputError
// when all scores are equal, since such a table has no range to rescale ("!!!! Error in Matrix
// !!!!\n<source>: all scores are equal, ...\n", `source` naming the file the matrix came from).
void TransformMatrix(Matrix* matrix, const std::string& source = "the matrix");

namespace marrowind::detail {

// What a SubstitutionMatrix of the library holds: a read and rescaled Matrix, and the warnings
// its reading gave.
struct MatrixRecord : ::Matrix {
    MatrixRecord(::Matrix&& matrix, std::vector<std::string> warnings)
        : ::Matrix(std::move(matrix)), warnings(std::move(warnings)) {}
    std::vector<std::string> warnings;
};

}  // namespace marrowind::detail

inline int is_gap(const char& c) { return c == '-' || c == 'X'; }

inline double Mut(const Matrix* matrix, const char& a, const char& b)
{
    const double value = matrix->lookup.access(static_cast<unsigned char>(a),
                                                static_cast<unsigned char>(b));
    if (is_gap(a) || is_gap(b)) return 0.0;
    if (value > 1.0) return 0.0;  // the marker of a pair that has no score
    return value;
}

#endif
