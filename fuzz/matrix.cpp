// matrix.cpp: fuzz target for the matrix reader followed by the rescaling.
//
// Contents: LLVMFuzzerTestOneInput.
//
// Any bytes may arrive as a matrix file. Whatever the reader accepts, the rescaled table must
// give every pair of character codes a similarity from 0 to 1, never a not-a-number, and every
// warning must be one line that names the input.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "check.h"
#include "marrowind/errors.h"
#include "matrix/matrix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    try {
        std::unique_ptr<Matrix> matrix(
            ParseMatrix(in, "fuzz input", [](const std::string& warning) {
                FUZZ_CHECK(warning.rfind("fuzz input line ", 0) == 0);
                FUZZ_CHECK(warning.find('\n') == std::string::npos);
            }));
        FUZZ_CHECK(matrix->nres >= 1 && matrix->nres <= kMatrixCapacity);
        TransformMatrix(matrix.get());
        for (int a = 0; a < 256; ++a) {
            for (int b = 0; b < 256; ++b) {
                const double similarity =
                    Mut(matrix.get(), static_cast<char>(a), static_cast<char>(b));
                FUZZ_CHECK(similarity >= 0.0 && similarity <= 1.0);
            }
        }
    } catch (const marrowind::Error&) {
        // A refused matrix is a reported input error, not a finding.
    }
    return 0;
}
