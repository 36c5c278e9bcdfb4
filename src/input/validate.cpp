// validate.cpp: alignment validation and residue normalisation.
//
// Contents: CheckSeqs, check_column_count, check_sequence_count.
#include "input/validate.h"

#include <string>

#include "marrowind/errors.h"

namespace {

// "." is the other common gap symbol; the scoring knows only "-". Lower case becomes upper
// case exactly as toupper does in the POSIX locale: a to z only, every other byte unchanged.
// Selects rather than branches, so that the compiler can treat many bytes at once.
void normalise_residues(std::string& seq)
{
    for (char& c : seq) {
        const unsigned char byte = static_cast<unsigned char>(c);
        const bool lower = static_cast<unsigned char>(byte - 'a') < 26;
        const unsigned char upper = lower ? static_cast<unsigned char>(byte - ('a' - 'A')) : byte;
        c = static_cast<char>(byte == '.' ? '-' : upper);
    }
}

}  // namespace

void CheckSeqs(Alignment* alignment)
{
    if (alignment->nseq <= 0 || alignment->seqs.empty())
        throw marrowind::InputError("\nError: No sequences parsed from FASTA file\n");

    const int32_t first_length = static_cast<int32_t>(alignment->seqs[0].seq.size());
    for (int32_t i = 0; i < alignment->nseq; ++i) {
        std::string& seq = alignment->seqs[i].seq;
        const int32_t length = static_cast<int32_t>(seq.size());
        if (length != first_length)
            throw marrowind::InputError(
                "\nError: sequences in input aren't aligned to the same length (first sequence is "
                "of length " + std::to_string(first_length) + " but sequence with index " +
                std::to_string(i) + " is of length " + std::to_string(length) + ")\n");
        normalise_residues(seq);
    }
}

namespace marrowind::detail {

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
