// entry_points.cpp: scoring of sequences held as strings, for programs that link the library.
//
// Contents:
//   ScoreAlignment, FindSeqDist, OpenFiles
//   end_with            writes a failure's message and ends the process
//
// Unlike the C++ interface, these functions end the process on any failure, as the command-line
// program does, and read their matrix from one fixed path. They are built on the C++ interface
// alone (<marrowind/marrowind.h>): residues compared exactly as the caller wrote them, and the
// weights taken from the table of pair distances rounded to single precision.
#include "marrowind/api.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "marrowind/errors.h"
#include "marrowind/marrowind.h"

#ifndef MARROWIND_FIXED_MATRIX_PATH
#define MARROWIND_FIXED_MATRIX_PATH \
    "/usr/local/svn/source/Gildmoor/trunk/src/Marrowind/PET91mod.mat2"
#endif

namespace {

const char* const kFixedMatrixPath = MARROWIND_FIXED_MATRIX_PATH;
// Columns are counted in 32 bits, as in every alignment the library holds.
constexpr std::size_t kMostColumns = INT32_MAX;

[[noreturn]] void end_with(const marrowind::Error& error)
{
    std::fputs(error.what(), stderr);
    std::exit(error.exit_status());
}

[[noreturn]] void refuse_argument(const char* function, const std::string& problem)
{
    end_with(marrowind::InputError(std::string("\nError: ") + function + ": " + problem + "\n"));
}

// The caller's strings must hold at least `columns` bytes; strnlen never reads past a NUL.
void require_columns(const char* function, const char* text, const std::string& which,
                     std::size_t columns)
{
    if (text == nullptr) refuse_argument(function, which + " is a null pointer");
    const std::size_t held = strnlen(text, columns);
    if (held < columns)
        refuse_argument(function, which + " holds " + std::to_string(held) + " bytes but " +
                                      std::to_string(columns) + " columns are compared");
}

double* score_alignment(char** seqs, int count, std::size_t length)
{
    // Only the first string's length of each string is scored.
    std::vector<std::string_view> sequences;
    sequences.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) sequences.emplace_back(seqs[i], length);
    const marrowind::SubstitutionMatrix matrix =
        marrowind::SubstitutionMatrix::load(kFixedMatrixPath);

    marrowind::ScoringOptions options;
    options.normalise_residues = false;
    options.single_precision_distances = true;
    options.stage_begins = [](marrowind::ScoringStage stage) {
        using marrowind::ScoringStage;
        if (stage == ScoringStage::kDistances)
            std::fputs("Calculate sequence distances....\n", stderr);
        if (stage == ScoringStage::kWeights)
            std::fputs("Calculating sequence weights....\n", stderr);
        if (stage == ScoringStage::kColumnScores)
            std::fputs("Calculating positional conservation scores....\n", stderr);
    };
    const marrowind::ConservationScores scores =
        marrowind::score_alignment_views(sequences, matrix, options);
    std::cerr << "bob" << std::endl;

    double* result = static_cast<double*>(std::malloc(sizeof(double) * length));
    if (result == nullptr && length > 0)
        throw marrowind::OutOfMemory(static_cast<long long>(length));
    std::copy(scores.column_scores.begin(), scores.column_scores.end(), result);
    return result;
}

double find_seq_dist(const char* first, const char* second, std::size_t columns)
{
    const marrowind::SubstitutionMatrix matrix =
        marrowind::SubstitutionMatrix::load(kFixedMatrixPath);
    std::fputs("Calculate sequence distances....\n", stderr);
    // The distance as a table of single-precision distances holds it.
    return static_cast<float>(marrowind::pair_distance(std::string_view(first, columns),
                                                       std::string_view(second, columns), matrix,
                                                       /*normalise_residues=*/false));
}

}  // namespace

double* ScoreAlignment(char** seqs, int count)
{
    const char* const function = "ScoreAlignment";
    if (seqs == nullptr) refuse_argument(function, "the sequence array is a null pointer");
    if (count < 1)
        refuse_argument(function, "the sequence count is " + std::to_string(count) +
                                       "; at least 1 is needed");
    if (seqs[0] == nullptr) refuse_argument(function, "sequence 0 is a null pointer");
    const std::size_t length = std::strlen(seqs[0]);
    if (length > kMostColumns)
        refuse_argument(function, "sequence 0 has " + std::to_string(length) +
                                       " columns; an alignment holds at most " +
                                       std::to_string(kMostColumns));
    for (int i = 1; i < count; ++i)
        require_columns(function, seqs[i], "sequence " + std::to_string(i), length);
    try {
        return score_alignment(seqs, count, length);
    } catch (const marrowind::Error& error) {
        end_with(error);
    } catch (const std::bad_alloc&) {
        end_with(marrowind::OutOfMemory(1));
    }
}

double FindSeqDist(const char* first, const char* second, int columns)
{
    const char* const function = "FindSeqDist";
    if (columns < 0)
        refuse_argument(function, "the column count is " + std::to_string(columns) +
                                       "; it cannot be negative");
    require_columns(function, first, "the first sequence", static_cast<std::size_t>(columns));
    require_columns(function, second, "the second sequence", static_cast<std::size_t>(columns));
    try {
        return find_seq_dist(first, second, static_cast<std::size_t>(columns));
    } catch (const marrowind::Error& error) {
        end_with(error);
    } catch (const std::bad_alloc&) {
        end_with(marrowind::OutOfMemory(1));
    }
}

void OpenFiles(const char* path, FILE** stream, char* mode)
{
    *stream = std::fopen(path, mode);
    if (*stream == nullptr) end_with(marrowind::InputError::cannot_open(path));
}
