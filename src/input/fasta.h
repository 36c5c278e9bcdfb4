// fasta.h: reading an aligned FASTA file into an Alignment.
//
// Contents:
//   FastaParser  incremental parser: feed it bytes in pieces of any size, then finish()
//   ReadFasta    reads a file into a new Alignment
//   ParseFasta   reads text held in memory into a new Alignment
//
// The reader only splits the text into records; it does not look at the residues. A header
// line starts with ">" and its name is the rest of the line. Every other line is appended to
// the current record as it stands; blank lines add nothing; lines before the first header
// belong to the first record, and without any header they are dropped. A line ends at a line
// feed, a carriage return and line feed, or a lone carriage return (old Mac files), so files
// from every system read alike.
#ifndef MARROWIND_INPUT_FASTA_H
#define MARROWIND_INPUT_FASTA_H

#include <cstddef>
#include <string>
#include <string_view>

#include "core/records.h"

namespace marrowind::detail {

class FastaParser {
public:
    // The room for records that the program's reader makes when it starts.
    static constexpr std::size_t kInitialRecordRoom = 10000;

    // Records go into `target`, which must be empty and outlive the parser. `source` names the
    // text in messages: a file's path, or empty for text held in memory. `record_room` records
    // are reserved at once (the library's readers, which often read small alignments one after
    // another, start with none and let the list grow).
    FastaParser(Alignment& target, std::string source,
                std::size_t record_room = kInitialRecordRoom);

    // Parses the next `size` bytes of the text. Throws marrowind::OutOfMemory, and
    // marrowind::InputError as soon as a sequence or the number of sequences outgrows what an
    // alignment can hold (see check_column_count), before storing more of it.
    void feed(const char* data, std::size_t size);

    // Ends the text: stores the last record and sets nseq and length.
    void finish();

    // The header lines seen so far.
    int records_seen() const { return record_count_; }

private:
    void take_line(const char* line, std::size_t size);
    void store_working_record();
    // The record that residue lines go to; lines before the first header go to the first.
    std::size_t current_index() const
    {
        return record_count_ > 0 ? static_cast<std::size_t>(record_count_ - 1) : 0;
    }

    Alignment& alignment_;
    const std::string source_;
    Prot working_;
    int record_count_ = 0;
    std::string partial_line_;  // the unfinished line at the end of the last piece
    bool after_cr_ = false;     // the last piece ended in a carriage return that ended a line
};

}  // namespace marrowind::detail

// Reads the FASTA file at `path`, plain or gzip-compressed (known by its first two bytes; see
// input/gzip.h): a compressed file gives what its text gives. A UTF-8 byte-order mark at the
// start of the text is skipped (see input/text_stream.h). A file without any header line
// yields an alignment with no sequences (nseq 0). Throws marrowind::InputError when the file
// cannot be opened, a read fails or the gzip data is damaged or cut short ("\nError: <path>
// could not be read\n"; a directory counts as unreadable) or the alignment is larger than the
// records hold, and marrowind::OutOfMemory.
Alignment* ReadFasta(const char* path);

// Parses FASTA text held in memory; otherwise as ReadFasta.
Alignment* ParseFasta(std::string_view text);

#endif
