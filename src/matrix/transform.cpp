// transform.cpp: the Matrix record and the rescaling of its scores.
//
// Contents: Matrix::Matrix, TransformMatrix.
#include <algorithm>

#include "core/allocation.h"

#include "marrowind/errors.h"
#include "matrix/matrix.h"

// The members are sized one after another in the body, so that a failed allocation is reported
// with the number of elements it asked for.
Matrix::Matrix() : nres(0), lookup(1)
{
    using marrowind::detail::or_out_of_memory;
    or_out_of_memory(kMatrixCapacity, [this] { letters.assign(kMatrixCapacity, 0); });
    or_out_of_memory(kMatrixCapacity, [this] {
        raw.assign(kMatrixCapacity, std::vector<int>(kMatrixCapacity, 0));
    });
    or_out_of_memory(static_cast<long long>(kMatrixCapacity) * kMatrixCapacity,
                     [this] { lookup.resize(kMatrixCapacity); });
}

void TransformMatrix(Matrix* matrix, const std::string& source)
{
    const int n = matrix->nres;
    int lo = 10000000;
    int hi = -10000000;
    for (int r = 0; r < n; ++r) {
        for (int c = 0; c < n; ++c) {
            const int v = matrix->raw[r][c];
            if (v < lo) lo = v;
            if (v > hi) hi = v;
        }
    }
    if (n > 0 && hi == lo)
        throw marrowind::InputError("!!!! Error in Matrix !!!!\n" + source +
                                    ": all scores are equal, so they cannot be rescaled\n");

    // The rescaled values are kept in double until the final store, which rounds each one to
    // single precision exactly once. The differences are taken in 64 bits: scores near both
    // ends of the int range would overflow an int difference, and for every table whose
    // differences do fit, the 64-bit ones convert to the very same doubles.
    const double range = static_cast<double>(static_cast<long long>(hi) - lo);
    std::vector<double> scaled(static_cast<std::size_t>(n) * n);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            scaled[static_cast<std::size_t>(r) * n + c] =
                static_cast<double>(static_cast<long long>(matrix->raw[r][c]) - lo) / range;

    std::fill(matrix->lookup.cells.begin(), matrix->lookup.cells.end(), 50.0f);
    for (int r = 0; r < n; ++r) {
        const int row = static_cast<unsigned char>(matrix->letters[r]);
        for (int c = 0; c < n; ++c) {
            const int col = static_cast<unsigned char>(matrix->letters[c]);
            matrix->lookup.assign(row, col,
                                  static_cast<float>(scaled[static_cast<std::size_t>(r) * n + c]));
        }
    }
}
