// pipeline.cpp: the scoring stages of one run, in order.
//
// Contents: new_results, weigh, run_pipeline.
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

void weigh(FrontEnd& front_end, Alignment& alignment, const Matrix& matrix, Data& data,
           const ScoringOptions& options)
{
    if (options.mode == ScoringMode::kApproximate) {
        front_end.begin(ScoringStage::kWeights);
        compute_sampled_weights(alignment, matrix, data.weights, options);
        return;
    }
    if (!options.single_precision_distances) {
        front_end.begin(ScoringStage::kWeights);
        compute_weights(alignment, matrix, data.weights, options);
        return;
    }
    or_out_of_memory(static_cast<long long>(alignment.nseq) * alignment.nseq,
                     [&] { data.dist.resize(alignment.nseq); });
    front_end.begin(ScoringStage::kDistances);
    compute_distance_table(alignment, matrix, data.dist, options);
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
    if (options.normalise_residues)
        CheckSeqs(&alignment);
    else
        check_rows(alignment);
    AssignDataMem(&alignment, &data);

    const Matrix& matrix = front_end.matrix();
    weigh(front_end, alignment, matrix, data, options);
    front_end.begin(ScoringStage::kColumnScores);
    if (options.mode == ScoringMode::kApproximate)
        compute_grouped_column_scores(alignment, matrix, data.weights, data.scores, options);
    else
        compute_column_scores(alignment, matrix, data.weights, data.scores, options);
    front_end.deliver(alignment, data);

    front_end.begin(ScoringStage::kDops);
    run.dops = DopsScore(alignment.length, data.scores);
    return run;
}

}  // namespace marrowind::detail
