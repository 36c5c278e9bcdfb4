// library.cpp: the C++ library interface, on the same stages as the command-line program.
//
// Contents: read_fasta, parse_fasta, gunzip, SubstitutionMatrix, score_alignment,
// score_alignment_views, pair_distance, default_thread_count, dops_score.
#include <functional>
#include <memory>
#include <sstream>
#include <string_view>

#include "core/allocation.h"
#include "core/cpus.h"
#include "core/records.h"
#include "input/fasta.h"
#include "input/gzip.h"
#include "input/validate.h"
#include "marrowind/marrowind.h"
#include "matrix/matrix.h"
#include "pipeline/pipeline.h"
#include "scoring/dops.h"
#include "scoring/weights.h"

namespace marrowind {

namespace {

Sequences to_sequences(std::unique_ptr<Alignment> alignment)
{
    Sequences sequences;
    sequences.names.reserve(alignment->seqs.size());
    sequences.residues.reserve(alignment->seqs.size());
    for (Prot& prot : alignment->seqs) {
        sequences.names.push_back(std::move(prot.name));
        sequences.residues.push_back(std::move(prot.seq));
    }
    return sequences;
}

// An alignment record of the sequences' count and length, without their residues; refused
// when larger than the records hold.
std::unique_ptr<Alignment> record_of(const std::vector<std::string_view>& sequences)
{
    detail::check_sequence_count("", sequences.size());
    for (std::size_t i = 0; i < sequences.size(); ++i)
        detail::check_column_count("", i, sequences[i].size());
    auto alignment = std::make_unique<Alignment>();
    alignment->nseq = static_cast<int32_t>(sequences.size());
    alignment->length =
        sequences.empty() ? 0 : static_cast<int32_t>(sequences.front().size());
    return alignment;
}

// The same, holding copies of the sequences as given.
std::unique_ptr<Alignment> alignment_of(const std::vector<std::string_view>& sequences)
{
    auto alignment = record_of(sequences);
    alignment->seqs.resize(sequences.size());
    for (std::size_t i = 0; i < sequences.size(); ++i) alignment->seqs[i].seq = sequences[i];
    return alignment;
}

// The library's side of a run: the caller's sequences, scored where they lie, and matrix, each
// stage told to the caller's report.
class SequencesRun : public detail::FrontEnd {
public:
    SequencesRun(const std::vector<std::string_view>& sequences, const ::Matrix& matrix,
                 const std::function<void(ScoringStage)>& stage_begins)
        : sequences_(sequences), matrix_(matrix), stage_begins_(stage_begins)
    {
    }
    std::unique_ptr<Alignment> take_alignment() override { return record_of(sequences_); }
    const std::vector<std::string_view>* rows_in_place() override { return &sequences_; }
    const ::Matrix& matrix() override { return matrix_; }
    void begin(ScoringStage stage) override
    {
        if (stage_begins_) stage_begins_(stage);
    }

private:
    const std::vector<std::string_view>& sequences_;
    const ::Matrix& matrix_;
    const std::function<void(ScoringStage)>& stage_begins_;
};

// Reads a matrix with `read` (given where to send the warnings), rescales it, and keeps it
// with its warnings.
std::shared_ptr<const detail::MatrixRecord> read_and_transform(
    const std::function<::Matrix*(const MatrixWarningSink&)>& read, const std::string& source)
{
    std::vector<std::string> warnings;
    std::unique_ptr<::Matrix> matrix(
        read([&warnings](const std::string& warning) { warnings.push_back(warning); }));
    TransformMatrix(matrix.get(), source);
    return std::make_shared<const detail::MatrixRecord>(std::move(*matrix), std::move(warnings));
}

}  // namespace

Sequences read_fasta(const std::string& path)
{
    return to_sequences(std::unique_ptr<Alignment>(ReadFasta(path.c_str())));
}

Sequences parse_fasta(std::string_view text)
{
    return to_sequences(std::unique_ptr<Alignment>(ParseFasta(text)));
}

std::string gunzip(const std::string& data, const std::string& source)
{
    std::string text;
    detail::GzipInflater inflater(source);
    inflater.feed(data.data(), data.size(), [&text](const char* piece, std::size_t size) {
        detail::or_out_of_memory(static_cast<long long>(text.size() + size),
                                 [&] { text.append(piece, size); });
    });
    inflater.finish();
    return text;
}

SubstitutionMatrix::SubstitutionMatrix(std::shared_ptr<const detail::MatrixRecord> matrix)
    : matrix_(std::move(matrix))
{
}

SubstitutionMatrix SubstitutionMatrix::load(const std::string& path)
{
    return SubstitutionMatrix(read_and_transform(
        [&path](const MatrixWarningSink& warn) { return ReadMatrix(path.c_str(), warn); }, path));
}

SubstitutionMatrix SubstitutionMatrix::load(std::istream& in, const std::string& source)
{
    return SubstitutionMatrix(read_and_transform(
        [&](const MatrixWarningSink& warn) { return ParseMatrix(in, source, warn); }, source));
}

SubstitutionMatrix SubstitutionMatrix::parse(const std::string& text, const std::string& source)
{
    std::istringstream in(text);
    return load(in, source);
}

double SubstitutionMatrix::similarity(char a, char b) const { return Mut(matrix_.get(), a, b); }

std::string SubstitutionMatrix::letters() const
{
    return std::string(matrix_->letters.data(), static_cast<std::size_t>(matrix_->nres));
}

const std::vector<std::string>& SubstitutionMatrix::warnings() const { return matrix_->warnings; }

ConservationScores score_alignment(const std::vector<std::string>& sequences,
                                   const SubstitutionMatrix& matrix, const ScoringOptions& options)
{
    return score_alignment_views(
        std::vector<std::string_view>(sequences.begin(), sequences.end()), matrix, options);
}

ConservationScores score_alignment_views(const std::vector<std::string_view>& sequences,
                                         const SubstitutionMatrix& matrix,
                                         const ScoringOptions& options)
{
    SequencesRun front_end(sequences, matrix.record(), options.stage_begins);
    const detail::ScoredAlignment run = detail::run_pipeline(front_end, options);

    ConservationScores result;
    result.weights.assign(run.data->weights, run.data->weights + run.alignment->nseq);
    result.column_scores.assign(run.data->scores, run.data->scores + run.alignment->length);
    result.dops = run.dops;
    result.approximate = options.mode == ScoringMode::kApproximate;
    return result;
}

double pair_distance(std::string_view first, std::string_view second,
                     const SubstitutionMatrix& matrix, bool normalise_residues)
{
    const std::unique_ptr<Alignment> alignment = alignment_of({first, second});
    if (normalise_residues)
        CheckSeqs(alignment.get());
    else
        detail::check_rows(*alignment);
    return CalcPairDist(alignment->seqs[0], alignment->seqs[1], &matrix.record(),
                        alignment->length);
}

int default_thread_count() { return detail::default_thread_count(); }

double dops_score(const std::vector<double>& column_scores)
{
    return DopsScore(static_cast<int>(column_scores.size()), column_scores.data());
}

}  // namespace marrowind
