// residue_rows.h: where the residues of every sequence lie, for the scoring stages.
//
// Contents:
//   ResidueRows    the rows of an alignment: its own, or held elsewhere and read in place
//   holding_copies an Alignment record of copies of the rows, for code that reads records
//
// The stages never compare residue bytes directly: they read them through the residue classes
// (residue_classes.h). So they can score rows that they do not own, as a caller holds them,
// without a normalised copy: the classes can read "." as "-" and a-z as A-Z, exactly as
// validation would have rewritten the bytes (ResidueRows::read_as_scored). A caller with a
// million sequences in memory then scores them without holding them twice.
#ifndef MARROWIND_SCORING_KERNELS_RESIDUE_ROWS_H
#define MARROWIND_SCORING_KERNELS_RESIDUE_ROWS_H

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "core/records.h"

namespace marrowind {

class ResidueRows {
public:
    // The rows of an alignment, as they are (normalised if validation has run). Implicit, so
    // that every stage takes an Alignment as readily as rows held elsewhere. The alignment must
    // outlive the rows. Throws OutOfMemory.
    ResidueRows(const Alignment& alignment);  // NOLINT(google-explicit-constructor)

    // Rows held elsewhere, each of at least `length` bytes, which must outlive these. With
    // read_as_scored, "." is scored as "-" and a-z as A-Z. Throws OutOfMemory.
    ResidueRows(const std::vector<std::string_view>& rows, int length, bool read_as_scored);

    int nseq() const { return static_cast<int>(rows_.size()); }
    int length() const { return length_; }

    // Whether the residue classes must read "." as "-" and a-z as A-Z.
    bool read_as_scored() const { return read_as_scored_; }

    // The residues of a sequence, length() bytes.
    const uint8_t* operator[](int sequence) const { return rows_[sequence]; }

    // The alignment these are the rows of; nullptr for rows held elsewhere.
    const Alignment* alignment() const { return alignment_; }

    // Asks for the residues of sequences[0..count) to be brought into the cache.
    void prefetch(const int* sequences, int count) const
    {
        for (int t = 0; t < count; ++t)
            for (int k = 0; k < length_; k += 64) __builtin_prefetch(rows_[sequences[t]] + k);
    }

private:
    const Alignment* alignment_ = nullptr;
    int length_;
    bool read_as_scored_ = false;
    std::vector<const uint8_t*> rows_;
};

// An alignment record holding a copy of every row (unnamed), "." and a-z rewritten when the
// rows are read as scored: the form that the plain loops and the column scorer's layout read.
// Throws OutOfMemory.
std::unique_ptr<Alignment> holding_copies(const ResidueRows& rows);

}  // namespace marrowind

#endif
