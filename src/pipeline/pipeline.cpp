// pipeline.cpp: the scoring stages of one run, in order.
//
// Contents: new_results, validated_rows, weigh, run_pipeline.
#include "pipeline/pipeline.h"

#include <new>

#include "core/allocation.h"
#include "core/cpus.h"
#include "input/validate.h"
#include "marrowind/errors.h"
#include "scoring/approximate/stages.h"
#include "scoring/dops.h"
#include "scoring/weights.h"

namespace marrowind::detail {

namespace {

std::unique_ptr<Data, DataReleaser> new_results()
{
    std::unique_ptr<Data, DataReleaser> data(new (std::nothrow) Data());
    if (!data) throw OutOfMemory(1);
    return data;
}

// Validates the rows to be scored (normalising the alignment's own when asked), and returns
// where they lie.
ResidueRows validated_rows(FrontEnd& front_end, Alignment& alignment,
                           const ScoringOptions& options)
{
    if (const std::vector<std::string_view>* in_place = front_end.rows_in_place()) {
        check_rows(*in_place);
        return ResidueRows(*in_place, alignment.length, options.normalise_residues);
    }
    if (options.normalise_residues)
        CheckSeqs(&alignment);
    else
        check_rows(alignment);
    return ResidueRows(alignment);
}

void weigh(FrontEnd& front_end, Alignment& alignment, const ResidueRows& rows,
           const Matrix& matrix, Data& data, const ScoringOptions& options)
{
    if (options.mode == ScoringMode::kApproximate) {
        front_end.begin(ScoringStage::kWeights);
        compute_sampled_weights(rows, matrix, data.weights, options);
        return;
    }
    if (!options.single_precision_distances) {
        front_end.begin(ScoringStage::kWeights);
        compute_weights(rows, matrix, data.weights, options);
        return;
    }
    or_out_of_memory(static_cast<long long>(alignment.nseq) * alignment.nseq,
                     [&] { data.dist.resize(alignment.nseq); });
    front_end.begin(ScoringStage::kDistances);
    compute_distance_table(rows, matrix, data.dist, options);
    front_end.begin(ScoringStage::kWeights);
    CalcWeights(&alignment, &data);
}

}  // namespace

ScoredAlignment run_pipeline(FrontEnd& front_end, const ScoringOptions& requested)
{
    // The thread count is settled first, so that a bad MARROWIND_THREADS is reported before
    // any work is done.
    ScoringOptions options = requested;
    if (options.threads <= 0) options.threads = default_thread_count();

    ScoredAlignment run;
    run.data = new_results();
    run.alignment = front_end.take_alignment();
    Alignment& alignment = *run.alignment;
    Data& data = *run.data;
    const ResidueRows rows = validated_rows(front_end, alignment, options);
    AssignDataMem(&alignment, &data);

    const Matrix& matrix = front_end.matrix();
    weigh(front_end, alignment, rows, matrix, data, options);
    front_end.begin(ScoringStage::kColumnScores);
    if (options.mode == ScoringMode::kApproximate)
        compute_grouped_column_scores(rows, matrix, data.weights, data.scores, options);
    else
        compute_column_scores(rows, matrix, data.weights, data.scores, options);
    front_end.deliver(alignment, data);

    front_end.begin(ScoringStage::kDops);
    run.dops = DopsScore(alignment.length, data.scores);
    return run;
}

}  // namespace marrowind::detail
