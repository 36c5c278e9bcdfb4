// scoring.cpp: fuzz target for the whole scoring of a small alignment against a small matrix.
//
// Contents: LLVMFuzzerTestOneInput.
//
// The input is the text of a matrix file, a NUL byte, and then the aligned sequences, one per
// line. They go through the library interface as a program that uses it would. Every figure
// must stay in its range: weights and column scores from 0 to 1, the DOPS score from 0 to 100.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "check.h"
#include "marrowind/errors.h"
#include "marrowind/marrowind.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    const void* separator = std::memchr(text, '\0', size);
    if (separator == nullptr) return 0;
    const std::size_t matrix_size = static_cast<std::size_t>(static_cast<const char*>(separator) - text);
    const std::string matrix_text(text, matrix_size);
    std::vector<std::string> sequences;
    std::istringstream lines(std::string(text + matrix_size + 1, size - matrix_size - 1));
    for (std::string line; std::getline(lines, line);) sequences.push_back(line);
    try {
        const auto matrix = marrowind::SubstitutionMatrix::parse(matrix_text);
        const marrowind::ConservationScores scores = marrowind::score_alignment(sequences, matrix);

        FUZZ_CHECK(scores.weights.size() == sequences.size());
        FUZZ_CHECK(scores.column_scores.size() == sequences[0].size());
        for (const double weight : scores.weights) FUZZ_CHECK(weight >= 0.0 && weight <= 1.0);
        for (const double score : scores.column_scores) FUZZ_CHECK(score >= 0.0 && score <= 1.0);
        // The entropy and its maximum are computed along different roads, so all-distinct
        // scores may land a rounding step above 100.
        FUZZ_CHECK(scores.dops >= 0.0 && scores.dops <= 100.0 + 1e-9);
    } catch (const marrowind::Error&) {
        // A refused matrix or alignment is a reported input error, not a finding.
    }
    return 0;
}
