// pipeline.h: the one sequence of scoring stages that the program and both library interfaces run.
//
// Contents:
//   FrontEnd        what a front end adapts: where the alignment and the matrix come from,
//                   how progress is shown, where the scored alignment goes
//   ScoredAlignment the records of a scored alignment and its DOPS score
//   run_pipeline    every stage, in order
//
// A run, in order: create the results record; take the alignment from the front end; validate
// it, and normalise it unless its residues are compared exactly as given (rows that the front
// end holds elsewhere are scored where they lie instead, the residue classes reading them as
// normalised); size the results;
// take the matrix; weights (from full-precision pair distances, from a single-precision table
// of them, or from sampled partners); column scores; hand the scored alignment to the front
// end; the DOPS score. Every failure is one of the exceptions of <marrowind/errors.h>; the
// front ends decide how to report it.
#ifndef MARROWIND_PIPELINE_PIPELINE_H
#define MARROWIND_PIPELINE_PIPELINE_H

#include <memory>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "matrix/matrix.h"
#include "scoring/exact/stages.h"

namespace marrowind::detail {

class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // The alignment to score; the pipeline owns it from here on.
    virtual std::unique_ptr<Alignment> take_alignment() = 0;
    // Rows held elsewhere that the run scores where they lie, or nullptr (the default) for the
    // residues of the alignment taken. With rows, the alignment taken is a record of their
    // count and length only, without residues, and the rows must outlive the run.
    virtual const std::vector<std::string_view>* rows_in_place() { return nullptr; }
    // The rescaled matrix, asked for once the alignment is validated and the results sized;
    // it must outlive the run.
    virtual const Matrix& matrix() = 0;
    // Told as each stage begins.
    virtual void begin(ScoringStage) {}
    // Given the scored alignment after the column scores, before the DOPS score.
    virtual void deliver(const Alignment&, const Data&) {}
};

struct DataReleaser {
    void operator()(Data* data) const { FreeData(data); }
};

struct ScoredAlignment {
    std::unique_ptr<Alignment> alignment;
    std::unique_ptr<Data, DataReleaser> data;  // weights, column scores (and the table)
    double dops = 0.0;
};

// Runs every stage for `front_end` as `options` say (which weights, which residues, threads,
// kernels; ScoringOptions::stage_begins is the front end's business, see FrontEnd::begin).
// Throws what the stages and the front end throw: InputError, OutOfMemory (with the element
// count that could not be had), OutputError.
ScoredAlignment run_pipeline(FrontEnd& front_end, const ScoringOptions& options);

}  // namespace marrowind::detail

#endif
