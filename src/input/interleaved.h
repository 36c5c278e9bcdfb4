// interleaved.h: the readers of interleaved alignments, Stockholm and Clustal.
//
// Contents:
//   InterleavedParser  what both share: lines, the header line, blocks of sequence lines
//   StockholmParser    Stockholm: markup checked and set aside, one alignment closed by "//"
//   ClustalParser      Clustal: residue counts and conservation lines set aside
//
// An interleaved alignment gives each sequence's residues in stretches, one stretch per block,
// every block listing the same sequences in the same order. The parsers take the text in
// pieces of any size, keep only the sequences, and refuse a text that breaks its format's
// rules (see <marrowind/readers.h>) with a MalformedAlignment whose reason names the source
// and the line at fault: "<source>: not a valid Stockholm alignment: line 6: ...". They do not
// compare the sequences' lengths.
#ifndef MARROWIND_INPUT_INTERLEAVED_H
#define MARROWIND_INPUT_INTERLEAVED_H

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/records.h"
#include "input/lines.h"

namespace marrowind::detail {

class InterleavedParser {
public:
    virtual ~InterleavedParser() = default;

    // Parses the next `size` bytes of the text. Throws MalformedAlignment, InputError for more
    // sequences or columns than an alignment holds, OutOfMemory.
    void feed(const char* data, std::size_t size);

    // Ends the text; on return the target holds the sequences in the order of the first block,
    // nseq and length (the last sequence's) set. Throws as feed does.
    void finish();

protected:
    // Records go into `target`, which must be empty and outlive the parser; `format` names the
    // format in messages ("Stockholm").
    InterleavedParser(Alignment& target, std::string source, const char* format);

    // Refuses the text: the reason names the line when `number` is above 0.
    [[noreturn]] void refuse(long number, const std::string& problem) const;

    // The stretch of residues that a sequence line gives.
    void add_to_block(long number, std::string_view name, std::string_view residues);
    // Closes the block being read, if any: a block after the first must list every sequence.
    void end_block();
    bool first_block_done() const { return first_block_done_; }
    // The position of a sequence of the first block, or none.
    std::optional<std::size_t> index_of(std::string_view name);
    const Alignment& alignment() const { return alignment_; }

private:
    // Whether the first line that is not blank, its leading blank bytes removed, opens the file.
    virtual bool opens_file(std::string_view line) const = 0;
    // What the first line must be, for the message: "a \"CLUSTAL\" line".
    virtual const char* header_line() const = 0;
    // A line after the header line, counted from 1 at the text's first line.
    virtual void take_body_line(long number, std::string_view line) = 0;
    // The text has ended; the format's last checks.
    virtual void finish_body() = 0;

    void take_line(std::string_view line);

    Alignment& alignment_;
    const std::string source_;
    const char* const format_;
    LineSplitter lines_;
    long line_number_ = 0;
    bool header_seen_ = false;

    std::unordered_map<std::string, std::size_t> index_;  // name -> position in the first block
    std::string name_key_;                                // a name looked up in index_
    std::size_t in_block_ = 0;  // sequence lines of the block being read
    long block_line_ = 0;       // the line that starts it
    bool first_block_done_ = false;
};

class StockholmParser : public InterleavedParser {
public:
    StockholmParser(Alignment& target, std::string source);

private:
    bool opens_file(std::string_view line) const override;
    const char* header_line() const override;
    void take_body_line(long number, std::string_view line) override;
    void finish_body() override;

    // A line starting with "#="; `fields` are its first two fields and the rest.
    void take_markup(long number, std::string_view line,
                     const std::vector<std::string_view>& fields);
    // A "#=GS" or "#=GR" line names a sequence, which must be one of the alignment's.
    void note_named(long number, std::string_view name);
    void check_pending_names();
    // Ends a block, and checks the names given so far once the first block is complete.
    void close_block();

    bool ended_ = false;  // the "//" line has been read
    // Names given by markup before the first block was complete, checked once it is.
    std::vector<std::pair<long, std::string>> pending_names_;
    std::optional<std::pair<long, std::string>> unknown_name_;  // the first markup at fault

    // "#=GR" (per sequence) and "#=GC" annotations, by (per sequence, name, feature), in the
    // order of their first lines: that line and the columns given so far.
    struct Annotation {
        bool per_sequence;
        std::string name;
        std::string feature;
        long first_line;
        std::size_t columns;
    };
    std::vector<Annotation> annotations_;
    std::map<std::tuple<bool, std::string, std::string>, std::size_t> annotation_index_;
};

class ClustalParser : public InterleavedParser {
public:
    ClustalParser(Alignment& target, std::string source);

private:
    bool opens_file(std::string_view line) const override;
    const char* header_line() const override;
    void take_body_line(long number, std::string_view line) override;
    void finish_body() override;
};

}  // namespace marrowind::detail

#endif
