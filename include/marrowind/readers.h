// readers.h: reading multiple sequence alignments in the formats the field uses.
//
// Contents:
//   AlignmentFormat          FASTA, Stockholm, A2M, A3M, Clustal, or detect it from the text
//   kAlignmentFormats        every format that a text can be read in, in a fixed order
//   format_name              "fasta", "stockholm", "a2m", "a3m", "clustal"
//   parse_format_name        the format of such a name
//   ResidueRange             the residues of a full sequence that an aligned one holds
//   ComplexChain             a chain of a complex whose columns an A3M file from ColabFold
//                            lays one after another
//   AlignedSequences         names, rows of equal length, ranges, the format read, the source,
//                            and a complex's chains
//   column_chains            the chain of each column of a complex
//   read_alignment           reads an alignment file, plain or gzip-compressed
//   parse_alignment          reads an alignment held in memory
//   AlignmentReader          reads an alignment that arrives in pieces (a pipe, a socket)
//   detect_format            the format that a text's first line names
//   AlignmentSizeEstimate    the size of an alignment file, told from its first record or block
//   estimate_alignment_size  estimates it without reading the alignment
//
// Every reader streams its input: the text is never held whole, only the sequences read from
// it. Input whose first two bytes are gzip's magic number (1f 8b) is decompressed on the way,
// exactly as read_fasta decompresses a file, and a UTF-8 byte-order mark (EF BB BF) at the start
// of the text, which editors write to mark the encoding, is skipped: it is no part of the
// alignment, in any format. Residues are kept byte for byte, as written: one
// byte is one column, "." and lower case stay as they are (score_alignment normalises them).
//
// The formats:
// - FASTA: as read_fasta reads it (a line starting with ">" starts a record, every other line
//   is appended to it).
// - A2M and A3M: FASTA in which lower-case letters (and "." in A2M) are insert states, residues
//   that no other sequence is aligned to. They are dropped, and only the match columns (upper
//   case and "-") are kept. Lines before the first record ("#A3M#" and other comments) and
//   HH-suite's annotation records ss_pred, ss_conf, ss_dssp, sa_dssp and ss_cons are dropped.
//   A first line that ColabFold writes for a complex, "#" with the chains' lengths and how
//   many copies of each the complex holds ("#101,59\t1,2"), gives the chains (see
//   ComplexChain).
// - Stockholm: a "# STOCKHOLM 1.x" line, blocks of "name residues" lines separated by blank
//   lines, markup ("#=GF feature text", "#=GS name feature text", "#=GR name feature
//   annotation", "#=GC feature annotation") and comment lines among them, and a closing "//".
//   Every block lists the same sequences in the same order, none twice; "#=GF ID" needs the
//   alignment's name; "#=GS" and "#=GR" name sequences of the alignment; "#=GR" and "#=GC"
//   annotations are as long as the sequences; nothing but blank lines follows "//".
// - Clustal: a first line starting with "CLUSTAL", "MUSCLE", "PROBCONS", "MSAPROBS" or
//   "Kalign", then blocks of "name residues" lines, each perhaps ending in a count of residues,
//   and under each block perhaps a line of conservation marks ("*", ":", ".") that starts with
//   a space. Every block lists the same sequences in the same order.
// In every format a line ends at a line feed, a carriage return and line feed, or a lone
// carriage return (old Mac files), and line numbers in messages count them so.
//
// Failures are the exceptions of <marrowind/errors.h>: InputError for a file that cannot be
// opened or read, DamagedCompressedData for gzip data that cannot be decompressed whole,
// MalformedAlignment for a text that the readers refuse (its reason() is one line naming the
// source and, where there is one, the line at fault), OutOfMemory. Nothing here prints.
#ifndef MARROWIND_READERS_H
#define MARROWIND_READERS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "marrowind/errors.h"

namespace marrowind {

enum class AlignmentFormat {
    kDetect,  // tell the format from the text (see detect_format)
    kFasta,
    kStockholm,
    kA2m,
    kA3m,
    kClustal,
};

inline constexpr AlignmentFormat kAlignmentFormats[] = {
    AlignmentFormat::kFasta, AlignmentFormat::kStockholm, AlignmentFormat::kA2m,
    AlignmentFormat::kA3m, AlignmentFormat::kClustal};

// "fasta", "stockholm", "a2m", "a3m" or "clustal"; "detect" for kDetect, which
// parse_format_name does not read.
const char* format_name(AlignmentFormat format);

// The format named "fasta", "stockholm", "a2m", "a3m" or "clustal" (exactly so, lower case);
// none for any other name.
std::optional<AlignmentFormat> parse_format_name(std::string_view name);

// The residues start to end (counted from 1) of the full sequence, as Pfam labels an aligned
// stretch in its name "name/start-end".
struct ResidueRange {
    std::int64_t start = 0;
    std::int64_t end = 0;
};

// One distinct chain of a complex. ColabFold writes a complex's alignment with the distinct
// chains' match columns one after another, a query that is their concatenation, and a first
// line "#" + the chains' lengths + a tab + how many copies of each the complex holds (its
// cardinalities), each a list separated by commas: "#101,59\t1,2" is a chain of 101 residues
// once and one of 59 twice, in columns 0-100 and 101-159.
struct ComplexChain {
    std::int64_t first_column = 0;  // its first column, counted from 0
    std::int64_t length = 0;        // its columns
    std::int64_t copies = 1;        // the copies of it in the complex
    // The chain IDs of its copies in ColabFold's models, separated by commas ("A", "B,C"):
    // A to Z, then AA, AB and so on, over the chains and their copies in order.
    std::string chain_ids;
};

struct AlignedSequences {
    std::vector<std::string> names;      // as written: FASTA's header text after ">", Stockholm's
                                         // and Clustal's first field
    std::vector<std::string> sequences;  // one row per name, all of one length, residues as
                                         // written
    // Per sequence, the range its name ends in ("/start-end", decimal digits), or none.
    std::vector<std::optional<ResidueRange>> ranges;
    AlignmentFormat format = AlignmentFormat::kFasta;  // the format read, never kDetect
    std::string source;                                // names the input in messages
    // A2M and A3M whose first line describes a complex: its chains, in column order, their
    // lengths adding up to the columns. Empty for every other alignment.
    std::vector<ComplexChain> chains;
};

// For each of the columns that `chains` cover, in order, the index in `chains` of the chain it
// belongs to; empty when there are no chains.
std::vector<std::int32_t> column_chains(const std::vector<ComplexChain>& chains);

// Reads the alignment file at `path` (opened exactly as given; "/dev/stdin" reads standard
// input), plain or gzip-compressed, in `format`. kDetect tells the format from the text
// (detect_format, with `path` for its suffix rule); FASTA so detected whose rows differ in
// length is read as A3M when its first record other than an annotation (the query) has match
// states (upper case or "-") and every record other than an annotation has as many. Returns
// at least one sequence, all of one length. Throws InputError ("\nError: <path> could not be
// opened\n" or "... could not be read\n"), DamagedCompressedData,
// MalformedAlignment (among others "<path>: no sequences" and "<path>: sequences differ in
// length (<first> has n columns, <name> has m)", and a ColabFold line of chains whose
// lengths do not add up to the columns), OutOfMemory.
AlignedSequences read_alignment(const std::string& path,
                                AlignmentFormat format = AlignmentFormat::kDetect);

// As read_alignment, on a text held in memory (gzip-compressed or not); `source` names it in
// messages and in the result, and gives the suffix rule of detection.
AlignedSequences parse_alignment(std::string_view text,
                                 AlignmentFormat format = AlignmentFormat::kDetect,
                                 const std::string& source = "<text>");

// Reads an alignment that arrives in pieces of any size, as read_alignment reads a file:
// feed() every piece in order, then finish() once.
class AlignmentReader {
public:
    AlignmentReader(const std::string& source, AlignmentFormat format = AlignmentFormat::kDetect);
    ~AlignmentReader();
    AlignmentReader(const AlignmentReader&) = delete;
    AlignmentReader& operator=(const AlignmentReader&) = delete;

    // Reads the next `size` bytes. Throws as soon as the text is known to be at fault
    // (DamagedCompressedData, MalformedAlignment, OutOfMemory); the reader is then spent.
    void feed(const char* data, std::size_t size);

    // Ends the input and returns the alignment. Throws as read_alignment does.
    AlignedSequences finish();

private:
    class Parts;
    std::unique_ptr<Parts> parts_;
};

// The format that a text's first line that is not blank (after a UTF-8 byte-order mark, which
// is skipped) names: "# STOCKHOLM" starts Stockholm,
// "CLUSTAL", "MUSCLE", "PROBCONS", "MSAPROBS" or "Kalign" Clustal; otherwise a `source` whose
// name ends in ".a2m" or ".a3m" (before a ".gz", in any case) is that format; otherwise "#"
// starts A3M (HH-suite's "#A3M#" or a comment) and ">" FASTA. The text is taken as given (gzip
// data is not decompressed here). Throws MalformedAlignment "<source>: not an alignment in a
// known format (fasta, stockholm, a2m, a3m, clustal)" ("the input" for an empty source).
AlignmentFormat detect_format(std::string_view text, const std::string& source = "");

// An alignment's size as told from its file before it is read, for sizing the job that scores
// it: its bytes of text (a gzip file is decompressed to count them); for FASTA, A2M and A3M the
// columns of the first record (its match states in A2M and A3M) and as many sequences as
// records of the first one's size (the bytes of its lines) fill the text; for Stockholm and
// Clustal the sequences of the first block and the residues of its first sequence times the
// number of blocks of the first one's size. Counts are rounded half to even.
struct AlignmentSizeEstimate {
    std::uint64_t text_bytes = 0;
    std::int64_t sequences = 1;
    std::int64_t columns = 0;
};

// Estimates the alignment file at `path`: reads its first record or block and, for gzip data,
// decompresses the rest to count it. A file in no known format gives its text_bytes, one
// sequence and no columns. Throws InputError when the file cannot be opened or read,
// DamagedCompressedData, OutOfMemory.
AlignmentSizeEstimate estimate_alignment_size(const std::string& path);

}  // namespace marrowind

#endif
