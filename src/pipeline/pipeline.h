// pipeline.h: the one sequence of scoring stages that the program and both library interfaces run.
//
// Contents:
//   Stage           the stages a front end is told about as they begin
//   WeightSource    where the weights come from: pair distances, or a single-precision table
//   FrontEnd        what a front end adapts: where the alignment and the matrix come from,
//                   how progress is shown, where the scored alignment goes
//   PipelineSettings validation, weight source, DOPS score, scoring options
//   ScoredAlignment the records of a scored alignment and its DOPS score
//   run_pipeline    every stage, in order
//
// A run, in order: create the results record; take the alignment from the front end; validate
// and normalise it (unless the front end scores its strings exactly as given); size the
// results; take the matrix; weights; column scores; hand the scored alignment to the front
// end; the DOPS score. Every failure is one of the exceptions of <marrowind/errors.h>; the
// front ends decide how to report it.
#ifndef MARROWIND_PIPELINE_PIPELINE_H
#define MARROWIND_PIPELINE_PIPELINE_H

#include <memory>

#include "core/records.h"
#include "matrix/matrix.h"
#include "scoring/exact/stages.h"

namespace marrowind::detail {

enum class Stage {
    kDistances,     // the table of pair distances (WeightSource::kDistanceTable only)
    kWeights,       // the sequence weights
    kColumnScores,  // the column scores
    kDops,          // the DOPS score
};

enum class WeightSource {
    kPairDistances,  // each pair's distance in double precision, as the program weights
    kDistanceTable,  // a table of distances in single precision, then the weights from it
};

class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // The alignment to score; the pipeline owns it from here on.
    virtual std::unique_ptr<Alignment> take_alignment() = 0;
    // The rescaled matrix, asked for once the alignment is validated and the results sized;
    // it must outlive the run.
    virtual const Matrix& matrix() = 0;
    // Told as each stage begins.
    virtual void begin(Stage) {}
    // Given the scored alignment after the column scores, before the DOPS score.
    virtual void deliver(const Alignment&, const Data&) {}
};

struct PipelineSettings {
    bool validate = true;  // CheckSeqs: refuse empty or ragged alignments, normalise residues
    WeightSource weights = WeightSource::kPairDistances;
    bool dops = true;      // compute the DOPS score
    ScoringOptions options;
};

struct DataReleaser {
    void operator()(Data* data) const { FreeData(data); }
};

struct ScoredAlignment {
    std::unique_ptr<Alignment> alignment;
    std::unique_ptr<Data, DataReleaser> data;  // weights, column scores (and the table)
    double dops = 0.0;                         // 0.0 unless settings.dops
};

// Runs every stage for `front_end`. Throws what the stages and the front end throw: InputError,
// OutOfMemory (with the element count that could not be had), OutputError.
ScoredAlignment run_pipeline(FrontEnd& front_end, const PipelineSettings& settings);

}  // namespace marrowind::detail

#endif
