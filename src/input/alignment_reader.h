// alignment_reader.h: reading an alignment in any of the formats, as the library and the
// program read it.
//
// Contents:
//   AlignmentParser           the library's reader: any format, detected or named, refused
//                             unless its rows share one length
//   FastaOrInterleavedParser  the program's reader: FASTA, or Stockholm or Clustal where the
//                             FASTA rule finds no record
//   ReadFastaOrInterleaved    the program's reader on a file
//
// Both take decompressed text in pieces of any size (see input/text_stream.h for gzip data).
#ifndef MARROWIND_INPUT_ALIGNMENT_READER_H
#define MARROWIND_INPUT_ALIGNMENT_READER_H

#include <cstddef>
#include <exception>
#include <memory>
#include <optional>
#include <string>

#include "core/records.h"
#include "input/a3m.h"
#include "input/fasta.h"
#include "input/formats.h"
#include "input/interleaved.h"
#include "marrowind/readers.h"

namespace marrowind::detail {

class AlignmentParser {
public:
    // `source` names the text in messages and gives detection's suffix rule.
    AlignmentParser(std::string source, AlignmentFormat format);

    // Parses the next `size` bytes of text. Throws MalformedAlignment as soon as the text is
    // known to be at fault, InputError for an alignment larger than the records hold,
    // OutOfMemory.
    void feed(const char* data, std::size_t size);

    // Ends the text. Returns the alignment (at least one sequence, every row of one length,
    // A2M and A3M as their match columns) and stores the format read in `format`. Throws as
    // feed does, and MalformedAlignment "<source>: no sequences" or "<source>: sequences differ
    // in length (...)".
    std::unique_ptr<Alignment> finish(AlignmentFormat& format);

    // After finish: the chains of a complex that an A2M or A3M file's first line describes
    // (see read_complex_chains), or none.
    std::vector<ComplexChain> take_chains() { return std::move(chains_); }

private:
    void start(AlignmentFormat format);
    // Starts the parser of the format that the held start of the text names.
    void start_detected();
    void parse(const char* data, std::size_t size);

    const std::string source_;
    AlignmentFormat format_;
    bool detecting_;
    std::optional<FormatSniffer> sniffer_;  // while the format is not yet known
    std::unique_ptr<Alignment> alignment_;
    std::optional<FastaParser> fasta_;      // FASTA, A2M and A3M
    std::unique_ptr<InterleavedParser> interleaved_;
    FirstRecordSeeker first_record_;        // A2M and A3M
    std::vector<ComplexChain> chains_;      // A2M and A3M from ColabFold
    std::size_t records_cut_ = 0;           // A2M and A3M records whose inserts are dropped
};

class FastaOrInterleavedParser {
public:
    // `source` names the text in messages.
    explicit FastaOrInterleavedParser(std::string source);

    // Parses the next `size` bytes as FastaParser::feed does. A fault of the other format is
    // held back: it matters only if the FASTA rule finds no record.
    void feed(const char* data, std::size_t size);

    // Ends the text. Returns the FASTA records exactly as ParseFasta gives them (none when
    // there are none), unless there are none and the text's first non-blank line opens a
    // Stockholm or Clustal file: then its sequences in that format, their lengths unchecked.
    // Throws what FastaParser throws, and MalformedAlignment for a faulty Stockholm or Clustal
    // file that is read as such.
    std::unique_ptr<Alignment> finish();

private:
    void start_other();
    void parse_other(const char* data, std::size_t size);
    void drop_other();

    const std::string source_;
    std::unique_ptr<Alignment> fasta_alignment_;
    FastaParser fasta_;
    std::optional<FormatSniffer> sniffer_;   // until the first line tells the other format
    std::unique_ptr<Alignment> other_alignment_;
    std::unique_ptr<InterleavedParser> other_;
    std::exception_ptr other_failure_;
};

}  // namespace marrowind::detail

// Reads the alignment file at `path`, plain or gzip-compressed, as ReadFasta does; a file in
// which the FASTA rule finds no record but whose first non-blank line opens a Stockholm or
// Clustal file is read in that format. Throws what ReadFasta throws, and MalformedAlignment
// for a faulty Stockholm or Clustal file.
Alignment* ReadFastaOrInterleaved(const char* path);

#endif
