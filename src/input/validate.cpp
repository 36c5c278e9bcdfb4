// validate.cpp: alignment validation and residue normalisation.
//
// Contents: CheckSeqs, check_rows, check_column_count, check_sequence_count.
#include "input/validate.h"

#include <string>

#include "core/residues.h"
#include "marrowind/errors.h"

void CheckSeqs(Alignment* alignment)
{
    marrowind::detail::check_rows(*alignment);
    // The checks come first: a refused alignment is never scored, so its residues may as well
    // stay as they were.
    for (Prot& prot : alignment->seqs)
        for (char& c : prot.seq)
            c = static_cast<char>(marrowind::detail::as_scored(static_cast<unsigned char>(c)));
}

namespace marrowind::detail {

namespace {

// The refusals of check_rows over `count` sequences, sequence i holding length_of(i) bytes.
template <typename LengthOf>
void check_row_lengths(std::size_t count, const LengthOf& length_of)
{
    if (count == 0) throw InputError("\nError: No sequences parsed from FASTA file\n");

    const int32_t first_length = static_cast<int32_t>(length_of(0));
    for (std::size_t i = 0; i < count; ++i) {
        const int32_t length = static_cast<int32_t>(length_of(i));
        if (length != first_length)
            throw InputError(
                "\nError: sequences in input aren't aligned to the same length (first sequence is "
                "of length " + std::to_string(first_length) + " but sequence with index " +
                std::to_string(i) + " is of length " + std::to_string(length) + ")\n");
    }
}

}  // namespace

void check_rows(const Alignment& alignment)
{
    const bool empty = alignment.nseq <= 0 || alignment.seqs.empty();
    check_row_lengths(empty ? 0 : static_cast<std::size_t>(alignment.nseq),
                      [&](std::size_t i) { return alignment.seqs[i].seq.size(); });
}

void check_rows(const std::vector<std::string_view>& rows)
{
    check_row_lengths(rows.size(), [&](std::size_t i) { return rows[i].size(); });
}

void check_column_count(const std::string& source, std::size_t index, std::size_t columns)
{
    if (columns <= static_cast<std::size_t>(kMostColumns)) return;
    throw InputError("\nError: " + (source.empty() ? "" : source + ": ") +
                                "sequence with index " + std::to_string(index) +
                                " has more than " + std::to_string(kMostColumns) +
                                " columns, the most an alignment can hold\n");
}

void check_sequence_count(const std::string& source, std::size_t count)
{
    if (count <= static_cast<std::size_t>(kMostSequences)) return;
    throw InputError("\nError: " + (source.empty() ? "the alignment" : source) +
                                " holds more than " + std::to_string(kMostSequences) +
                                " sequences, the most an alignment can hold\n");
}

}  // namespace marrowind::detail
