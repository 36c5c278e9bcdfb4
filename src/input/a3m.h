// a3m.h: the match columns of A2M and A3M alignments.
//
// Contents:
//   is_annotation_record  whether a record is one of HH-suite's annotation pseudo-sequences
//   count_match_states    the match states of a row
//   keep_match_states     drops a row's insert states
//   looks_like_a3m        whether ragged FASTA records are A3M whose format was not named
//   keep_match_columns    drops the annotation records and every row's insert states
//   FirstRecordSeeker     skips the lines before the first record, keeping the first line
//   read_complex_chains   the chains of a complex that ColabFold's first line describes
//
// A2M and A3M write the residues aligned to a model's match states in upper case, with "-" for
// a deletion, and insert states (residues that no other sequence is aligned to) in lower case;
// A2M pads the inserts with "." so that every row has one length, A3M leaves them out. Only the
// match columns form the alignment.
#ifndef MARROWIND_INPUT_A3M_H
#define MARROWIND_INPUT_A3M_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "marrowind/readers.h"

namespace marrowind::detail {

// Whether the first word of a record's name is ss_pred, ss_conf, ss_dssp, sa_dssp or ss_cons:
// secondary structure and solvent accessibility that HH-suite writes as records.
bool is_annotation_record(std::string_view name);

// The bytes of `row` that are no lower-case letter a to z and no ".".
std::size_t count_match_states(std::string_view row);

// Removes every lower-case letter a to z and every "." from `row`, and gives back its room.
void keep_match_states(std::string& row);

// Whether records whose rows differ in length are A3M: the first record that is no annotation
// (the query) has match states, and every record that is no annotation has as many.
bool looks_like_a3m(const Alignment& alignment);

// Drops the annotation records and every row's insert states; sets nseq and length.
void keep_match_columns(Alignment& alignment);

// Skips the text before the first line that starts with ">" (an "#A3M#" line, comments),
// keeping the first line of the text when it comes before the first record.
class FirstRecordSeeker {
public:
    // The offset in `data` at which the first record starts, or `size` when it does not start
    // in this piece; once found, every later piece passes whole (offset 0).
    std::size_t skip(const char* data, std::size_t size);

    // The text's first line, without its line end, when it comes before the first record and
    // is at most kLongestKeptLine bytes long; empty otherwise.
    const std::string& first_line() const { return first_line_; }

    static constexpr std::size_t kLongestKeptLine = 1 << 16;

private:
    bool found_ = false;
    bool at_line_start_ = true;
    bool in_first_line_ = true;
    std::string first_line_;
};

// The most chains, copies included, that a complex's line may name.
constexpr std::int64_t kMostComplexCopies = 100000;

// The chains of a complex, from the first line of an A3M file that ColabFold wrote for it:
// "#" and the lengths of its distinct chains, a tab, and how many copies of each the complex
// holds, each a list of whole numbers separated by commas ("#101,59\t1,2": a chain of 101
// residues once, one of 59 twice). The chains' match columns lie one after another, in that
// order, and must add up to the alignment's `columns`. A line of another shape (a comment,
// "#A3M#") gives no chains. Throws MalformedAlignment, naming `source` and line 1, when the
// two lists differ in number, a number is 0, the lengths pass kMostColumns or the copies
// kMostComplexCopies, or the lengths do not add up to `columns`.
std::vector<ComplexChain> read_complex_chains(std::string_view line, std::int64_t columns,
                                              const std::string& source);

}  // namespace marrowind::detail

#endif
