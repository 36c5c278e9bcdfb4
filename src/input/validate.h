// validate.h: acceptance and normalisation of an alignment before it is scored.
//
// Contents:
//   CheckSeqs             refuses an empty or ragged alignment; turns "." into "-" and a-z into A-Z
//   check_rows            the same refusals, the residues left as they are (in a record, or
//                         held elsewhere)
//   check_column_count    refuses a sequence longer than an alignment can hold
//   check_sequence_count  refuses more sequences than an alignment can hold
#ifndef MARROWIND_INPUT_VALIDATE_H
#define MARROWIND_INPUT_VALIDATE_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"

// On return the alignment has at least one sequence, every seq is as long as the first, and
// no seq holds "." or a lower-case letter a to z; every other byte is left as it is.
// Throws marrowind::InputError:
//   "\nError: No sequences parsed from FASTA file\n" when there are no sequences;
//   "\nError: sequences in input aren't aligned to the same length (first sequence is of
//   length L but sequence with index i is of length n)\n" for the first (lowest index)
//   sequence whose length differs from the first one's.
void CheckSeqs(Alignment* alignment);

namespace marrowind::detail {

// The checks of CheckSeqs without its normalisation, for residues compared exactly as given:
// throws the same InputErrors and changes nothing.
void check_rows(const Alignment& alignment);
// The same for rows held elsewhere, sequence i being rows[i].
void check_rows(const std::vector<std::string_view>& rows);

// Throws marrowind::InputError when sequence `index` of `source` (a file's path; empty for
// sequences held in memory) has more than kMostColumns columns: "\nError: <source>: sequence
// with index <index> has more than 2147483647 columns, the most an alignment can hold\n".
void check_column_count(const std::string& source, std::size_t index, std::size_t columns);

// Throws marrowind::InputError when `count` is more than kMostSequences: "\nError: <source>
// holds more than 2147483646 sequences, the most an alignment can hold\n".
void check_sequence_count(const std::string& source, std::size_t count);

}  // namespace marrowind::detail

#endif
