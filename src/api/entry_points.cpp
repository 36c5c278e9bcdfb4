// entry_points.cpp: scoring of sequences held as strings, for programs that link the library.
//
// Contents:
//   ScoreAlignment, FindSeqDist, OpenFiles
//   end_with            writes a failure's message and ends the process
//
// Unlike the C++ interface, these functions end the process on any failure, as the command-line
// program does, and read their matrix from one fixed path. They run the stages without the
// alignment validation, so residues are compared exactly as the caller wrote them, and take the
// weights from the table of pairwise distances.
#include "marrowind/api.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>
#include <string>

#include "core/records.h"
#include "marrowind/errors.h"
#include "matrix/matrix.h"
#include "pipeline/pipeline.h"
#include "scoring/weights.h"

#ifndef MARROWIND_FIXED_MATRIX_PATH
#define MARROWIND_FIXED_MATRIX_PATH \
    "/usr/local/svn/source/Gildmoor/trunk/src/Marrowind/PET91mod.mat2"
#endif

namespace {

const char* const kFixedMatrixPath = MARROWIND_FIXED_MATRIX_PATH;

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
                     int columns)
{
    if (text == nullptr) refuse_argument(function, which + " is a null pointer");
    const std::size_t held = strnlen(text, static_cast<std::size_t>(columns));
    if (held < static_cast<std::size_t>(columns))
        refuse_argument(function, which + " holds " + std::to_string(held) + " bytes but " +
                                      std::to_string(columns) + " columns are compared");
}

std::unique_ptr<Matrix> fixed_matrix()
{
    std::unique_ptr<Matrix> matrix(ReadMatrix(kFixedMatrixPath));
    TransformMatrix(matrix.get());
    return matrix;
}

template <typename T>
std::unique_ptr<T> new_record()
{
    std::unique_ptr<T> record(new (std::nothrow) T());
    if (!record) throw marrowind::OutOfMemory(1);
    return record;
}

// The entry points' side of a run: the caller's strings scored exactly as given, with the fixed
// matrix read once the alignment is built, the weights taken from the single-precision table
// of distances, and their own progress lines.
class InMemoryRun : public marrowind::detail::FrontEnd {
public:
    InMemoryRun(char** seqs, int count) : seqs_(seqs), count_(count) {}

    std::unique_ptr<Alignment> take_alignment() override
    {
        auto alignment = new_record<Alignment>();
        alignment->seqs.resize(static_cast<std::size_t>(count_));
        alignment->length = static_cast<int32_t>(std::strlen(seqs_[0]));
        alignment->nseq = count_;
        for (int i = 0; i < count_; ++i) {
            alignment->seqs[i].name = "Seq " + std::to_string(i);
            alignment->seqs[i].seq = seqs_[i];
        }
        matrix_ = fixed_matrix();
        return alignment;
    }

    const Matrix& matrix() override { return *matrix_; }

    void begin(marrowind::detail::Stage stage) override
    {
        using marrowind::detail::Stage;
        if (stage == Stage::kDistances) std::fputs("Calculate sequence distances....\n", stderr);
        if (stage == Stage::kWeights) std::fputs("Calculating sequence weights....\n", stderr);
        if (stage == Stage::kColumnScores)
            std::fputs("Calculating positional conservation scores....\n", stderr);
    }

    void deliver(const Alignment&, const Data&) override { std::cerr << "bob" << std::endl; }

private:
    char** seqs_;
    int count_;
    std::unique_ptr<Matrix> matrix_;
};

double* score_alignment(char** seqs, int count)
{
    InMemoryRun front_end(seqs, count);
    marrowind::detail::PipelineSettings settings;
    settings.validate = false;
    settings.weights = marrowind::detail::WeightSource::kDistanceTable;
    settings.dops = false;
    const marrowind::detail::ScoredAlignment run =
        marrowind::detail::run_pipeline(front_end, settings);

    const std::size_t length = static_cast<std::size_t>(run.alignment->length);
    double* result = static_cast<double*>(std::malloc(sizeof(double) * length));
    if (result == nullptr && length > 0) throw marrowind::OutOfMemory(run.alignment->length);
    std::copy(run.data->scores, run.data->scores + length, result);
    return result;
}

double find_seq_dist(const char* first, const char* second, int columns)
{
    auto alignment = new_record<Alignment>();
    alignment->seqs.resize(2);
    alignment->length = columns;
    alignment->nseq = 2;
    alignment->seqs[0].name = "Seq 1";
    alignment->seqs[0].seq = first;
    alignment->seqs[1].name = "Seq 2";
    alignment->seqs[1].seq = second;
    const std::unique_ptr<Matrix> matrix = fixed_matrix();
    auto data = new_record<Data>();
    data->dist.resize(2);

    std::fputs("Calculate sequence distances....\n", stderr);
    CalcDists(alignment.get(), matrix.get(), data.get());
    const double distance = data->dist.access(0, 1);
    FreeAl(alignment.get());
    return distance;
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
    if (count > kMostSequences)
        refuse_argument(function, "the sequence count is " + std::to_string(count) +
                                       "; an alignment holds at most " +
                                       std::to_string(kMostSequences));
    if (length > static_cast<std::size_t>(kMostColumns))
        refuse_argument(function, "sequence 0 has " + std::to_string(length) +
                                       " columns; an alignment holds at most " +
                                       std::to_string(kMostColumns));
    for (int i = 1; i < count; ++i)
        require_columns(function, seqs[i], "sequence " + std::to_string(i),
                        static_cast<int>(length));
    try {
        return score_alignment(seqs, count);
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
    require_columns(function, first, "the first sequence", columns);
    require_columns(function, second, "the second sequence", columns);
    try {
        return find_seq_dist(first, second, columns);
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
