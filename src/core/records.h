// records.h: the plain records that carry one alignment through a run.
//
// Contents:
//   f2dsquare      square table of single-precision floats, stored row by row
//   Prot           one sequence: name and residues
//   Alignment      all sequences of an alignment, with their count and common length
//   Data           per-run results: distance table, sequence weights, column scores
//   AssignDataMem  sizes the weights and scores of a Data for an alignment
//   FreeData       releases a Data made with new
//   FreeAl         kept for callers of the in-memory entry points; releases nothing
//   resize_report_stream  where f2dsquare::resize reports a failure, per thread
#ifndef MARROWIND_CORE_RECORDS_H
#define MARROWIND_CORE_RECORDS_H

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// A dim x dim table of floats in one contiguous block; cell (row, col) is entry row*dim + col.
// access and assign check nothing: callers keep row and col inside 0..dim-1.
struct f2dsquare {
    std::vector<float> cells;
    int32_t dim;

    explicit f2dsquare(int side);

    const float& access(const int& row, const int& col) const { return cells[row * dim + col]; }
    void assign(const int& row, const int& col, const float& value) { cells[row * dim + col] = value; }

    // Gives the table side*side cells; existing entries keep their linear positions and new
    // ones are 0. A negative side throws boost::numeric::negative_overflow and changes nothing.
    // When storage cannot be had, a line saying so goes to std::cerr and the allocation
    // failure propagates with dim unchanged.
    void resize(int side);
};

struct Prot {
    std::string name;
    std::string seq;

    Prot() = default;
    Prot(const Prot& other) = default;
    Prot(Prot&& other) noexcept = default;
    Prot& operator=(const Prot& other) = default;
    Prot& operator=(Prot&& other) noexcept = default;
};

// The largest alignment the records hold: nseq and length are signed 32-bit, and Data keeps one
// weight more than there are sequences.
constexpr std::int64_t kMostColumns = INT32_MAX;
constexpr std::int64_t kMostSequences = INT32_MAX - 1;

struct Alignment {
    int32_t nseq;
    int32_t length;
    std::vector<Prot> seqs;

    // Like the records it models, a new alignment has no sequences and leaves nseq and
    // length for whoever fills it; they start at 0 here so that nothing reads garbage.
    Alignment() : nseq(0), length(0) {}
};

struct Data {
    int32_t size;       // nseq + 1 once AssignDataMem has run
    f2dsquare dist;     // pairwise distances; 1 x 1 until a stage resizes it
    double* weights;    // size entries; entry i belongs to sequence i, the last is spare
    double* scores;     // length entries; entry i belongs to column i

    Data() : size(0), dist(1), weights(nullptr), scores(nullptr) {}
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;
};

// Allocates weights (nseq + 1 doubles) and then scores (length doubles), uncleared.
// Throws marrowind::OutOfMemory with the element count of the allocation that failed.
void AssignDataMem(Alignment* alignment, Data* data);

// Releases weights, then scores, then the record itself (which must come from new).
void FreeData(Data* data);

// Does nothing: an alignment is released only by deleting it.
void FreeAl(Alignment* alignment);

namespace marrowind::detail {

// The stream on which f2dsquare::resize reports a failure: std::cerr, unless the calling thread
// has set its own. A helper thread that works ahead of the program holds its report back this
// way, so that the report appears where a run without the helper prints it.
std::ostream*& resize_report_stream();

}  // namespace marrowind::detail

#endif
