// a3m.h: the match columns of A2M and A3M alignments.
//
// Contents:
//   is_annotation_record  whether a record is one of HH-suite's annotation pseudo-sequences
//   count_match_states    the match states of a row
//   keep_match_states     drops a row's insert states
//   looks_like_a3m        whether ragged FASTA records are A3M whose format was not named
//   keep_match_columns    drops the annotation records and every row's insert states
//   FirstRecordSeeker     skips the lines before the first record
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

#include "core/records.h"

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

// Skips the text before the first line that starts with ">" (an "#A3M#" line, comments).
class FirstRecordSeeker {
public:
    // The offset in `data` at which the first record starts, or `size` when it does not start
    // in this piece; once found, every later piece passes whole (offset 0).
    std::size_t skip(const char* data, std::size_t size);

private:
    bool found_ = false;
    bool at_line_start_ = true;
};

}  // namespace marrowind::detail

#endif
