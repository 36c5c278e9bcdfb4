// interleaved.cpp: the Stockholm and Clustal readers.
//
// Contents: InterleavedParser, StockholmParser, ClustalParser.
#include "input/interleaved.h"

#include <algorithm>

#include "core/allocation.h"
#include "input/formats.h"
#include "input/validate.h"
#include "marrowind/errors.h"

namespace marrowind::detail {

namespace {

constexpr std::string_view kBlockOrder = " (every block lists the same sequences in the same order)";

bool starts_with(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

std::string_view without_leading_blanks(std::string_view line)
{
    std::size_t first = 0;
    while (first < line.size() && is_blank_byte(line[first])) ++first;
    return line.substr(first);
}

std::string text(std::string_view bytes) { return std::string(bytes); }

}  // namespace

InterleavedParser::InterleavedParser(Alignment& target, std::string source, const char* format)
    : alignment_(target), source_(std::move(source)), format_(format)
{
    alignment_.nseq = 0;
    alignment_.length = 0;
}

void InterleavedParser::feed(const char* data, std::size_t size)
{
    lines_.feed(data, size, [this](std::string_view line) { take_line(line); });
}

void InterleavedParser::finish()
{
    lines_.finish([this](std::string_view line) { take_line(line); });
    if (!header_seen_) refuse(0, std::string("it does not start with ") + header_line());
    finish_body();
    std::vector<Prot>& records = alignment_.seqs;
    // Rows grew stretch by stretch and may have room to spare; a large alignment cannot.
    for (Prot& record : records)
        or_out_of_memory(static_cast<long long>(record.seq.size()),
                         [&] { record.seq.shrink_to_fit(); });
    alignment_.nseq = static_cast<int32_t>(records.size());
    alignment_.length = records.empty() ? 0 : static_cast<int32_t>(records.back().seq.size());
}

void InterleavedParser::take_line(std::string_view line)
{
    ++line_number_;
    if (header_seen_) {
        take_body_line(line_number_, line);
    } else if (!is_blank(line)) {
        if (!opens_file(without_leading_blanks(line)))
            refuse(0, std::string("it does not start with ") + header_line());
        header_seen_ = true;
    }
}

void InterleavedParser::refuse(long number, const std::string& problem) const
{
    const std::string where = number > 0 ? "line " + std::to_string(number) + ": " : "";
    throw MalformedAlignment(source_ + ": not a valid " + format_ + " alignment: " + where +
                             problem);
}

std::optional<std::size_t> InterleavedParser::index_of(std::string_view name)
{
    name_key_.assign(name);
    const auto found = index_.find(name_key_);
    if (found == index_.end()) return std::nullopt;
    return found->second;
}

void InterleavedParser::add_to_block(long number, std::string_view name,
                                     std::string_view residues)
{
    std::vector<Prot>& records = alignment_.seqs;
    if (in_block_ == 0) block_line_ = number;
    const std::size_t position = in_block_;
    // After the first block, the expected name needs no look-up: the names are distinct.
    const bool expected =
        first_block_done_ && position < records.size() && records[position].name == name;
    if (!expected) {
        // The block read so far lists the first in_block_ sequences of the first block.
        const std::optional<std::size_t> known = index_of(name);
        if (known && (!first_block_done_ || *known < in_block_))
            refuse(number, text(name) + " appears twice in one block");
        if (first_block_done_) {
            const std::string wanted = position < records.size() ? records[position].name : "none";
            refuse(number, text(name) + " where the first block has " + wanted + text(kBlockOrder));
        }
        check_sequence_count(source_, records.size() + 1);
        or_out_of_memory(static_cast<long long>(records.size() + 1), [&] {
            index_.emplace(name, records.size());
            records.emplace_back();
            records.back().name.assign(name);
        });
    }
    ++in_block_;
    std::string& row = records[position].seq;
    check_column_count(source_, position, row.size() + residues.size());
    append_bytes(row, residues.data(), residues.size());
}

void InterleavedParser::end_block()
{
    if (first_block_done_ && in_block_ > 0 && in_block_ < alignment_.seqs.size())
        refuse(block_line_, "the block starting here lacks " + alignment_.seqs[in_block_].name +
                                text(kBlockOrder));
    if (in_block_ > 0) first_block_done_ = true;
    in_block_ = 0;
}

StockholmParser::StockholmParser(Alignment& target, std::string source)
    : InterleavedParser(target, std::move(source), "Stockholm")
{
}

bool StockholmParser::opens_file(std::string_view line) const
{
    return starts_with(line, "# STOCKHOLM 1.");
}

const char* StockholmParser::header_line() const { return "a \"# STOCKHOLM 1.0\" line"; }

void StockholmParser::take_body_line(long number, std::string_view line)
{
    if (ended_) {
        if (is_blank(line)) return;
        refuse(number, starts_with(line, "# STOCKHOLM")
                           ? "a second alignment starts here; give one alignment per file"
                           : "text after the \"//\" line that ends the alignment");
    }
    // Two fields and the rest tell every kind of line apart.
    const std::vector<std::string_view> fields = split_fields(line, 3);
    if (fields.empty()) {
        close_block();
    } else if (fields.size() == 1 && fields[0] == "//") {
        close_block();
        ended_ = true;
    } else if (starts_with(line, "#=")) {
        take_markup(number, line, fields);
    } else if (line[0] == '#') {
        // a comment
    } else if (fields.size() != 2) {
        refuse(number,
               "a sequence line is a name and its residues, with no space among the residues");
    } else {
        add_to_block(number, fields[0], fields[1]);
    }
}

void StockholmParser::take_markup(long number, std::string_view line,
                                  const std::vector<std::string_view>& fields)
{
    const std::string_view tag = fields[0];
    // Each markup's least number of fields, what they must hold, and whether it names a
    // sequence or annotates columns.
    struct Markup {
        std::string_view tag;
        std::size_t fields;
        const char* needs;
    };
    static constexpr Markup kMarkup[] = {
        {"#=GF", 2, "a feature"},
        {"#=GS", 3, "a sequence name and a feature"},
        {"#=GR", 4, "a sequence name, a feature and its annotation"},
        {"#=GC", 3, "a feature and its annotation"},
    };
    const auto markup = std::find_if(std::begin(kMarkup), std::end(kMarkup),
                                     [tag](const Markup& m) { return m.tag == tag; });
    if (markup == std::end(kMarkup))
        refuse(number, "unknown markup " + text(tag) + " (there are #=GF, #=GS, #=GR and #=GC)");
    // The last part is the rest of the line: a "#=GS" text or an annotation may hold spaces.
    const std::vector<std::string_view> parts = split_fields(line, markup->fields);
    if (parts.size() < markup->fields) refuse(number, text(tag) + " needs " + markup->needs);
    if (tag == "#=GF" && fields[1] == "ID" && fields.size() < 3)
        refuse(number, "#=GF ID needs the alignment's name");
    if (tag == "#=GS" || tag == "#=GR") note_named(number, parts[1]);
    if (tag == "#=GR" || tag == "#=GC") {
        const bool per_sequence = tag == "#=GR";
        auto key = std::make_tuple(per_sequence, text(per_sequence ? parts[1] : ""),
                                   text(per_sequence ? parts[2] : parts[1]));
        auto found = annotation_index_.find(key);
        if (found == annotation_index_.end()) {
            found = annotation_index_.emplace(key, annotations_.size()).first;
            annotations_.push_back(
                {per_sequence, std::get<1>(key), std::get<2>(key), number, 0});
        }
        annotations_[found->second].columns += trimmed(parts.back()).size();
    }
}

void StockholmParser::note_named(long number, std::string_view name)
{
    if (!first_block_done()) {
        pending_names_.emplace_back(number, name);
    } else if (!unknown_name_ && !index_of(name)) {
        unknown_name_.emplace(number, name);
    }
}

void StockholmParser::check_pending_names()
{
    // Every sequence is in the first block, so its names settle the earlier markup's.
    for (const auto& [number, name] : pending_names_) {
        if (!unknown_name_ && !index_of(name)) unknown_name_.emplace(number, name);
    }
    std::vector<std::pair<long, std::string>>().swap(pending_names_);
}

void StockholmParser::close_block()
{
    end_block();
    if (first_block_done() && !pending_names_.empty()) check_pending_names();
}

void StockholmParser::finish_body()
{
    if (!ended_) refuse(0, "it does not end with a \"//\" line");
    const std::vector<Prot>& records = alignment().seqs;
    if (records.empty()) refuse(0, "it holds no sequences");
    if (unknown_name_)
        refuse(unknown_name_->first,
               "markup for " + unknown_name_->second + ", which is no sequence of the alignment");
    for (const Annotation& annotation : annotations_) {
        const std::size_t expected =
            annotation.per_sequence ? records[*index_of(annotation.name)].seq.size()
                                    : records[0].seq.size();
        if (annotation.columns != expected)
            refuse(annotation.first_line, "the " + annotation.feature + " annotation has " +
                                              std::to_string(annotation.columns) +
                                              " columns, the sequences " +
                                              std::to_string(expected));
    }
}

ClustalParser::ClustalParser(Alignment& target, std::string source)
    : InterleavedParser(target, std::move(source), "Clustal")
{
}

bool ClustalParser::opens_file(std::string_view line) const { return starts_clustal(line); }

const char* ClustalParser::header_line() const { return "a \"CLUSTAL\" line"; }

void ClustalParser::take_body_line(long number, std::string_view line)
{
    const std::vector<std::string_view> fields = split_fields(line, 4);
    const auto is_digit = [](char c) { return c >= '0' && c <= '9'; };
    const auto is_mark = [](char c) {
        return c == ' ' || c == '\t' || c == '*' || c == ':' || c == '.' || c == '\r';
    };
    if (fields.empty()) {
        end_block();
    } else if (is_blank_byte(line[0])) {
        if (!std::all_of(line.begin(), line.end(), is_mark))
            refuse(number, "a line that starts with a space holds conservation marks (*, :, .) "
                           "only");
    } else if (fields.size() == 2 ||
               (fields.size() == 3 && std::all_of(fields[2].begin(), fields[2].end(), is_digit))) {
        add_to_block(number, fields[0], fields[1]);
    } else {
        refuse(number,
               "a sequence line is a name and its residues, perhaps followed by their count");
    }
}

void ClustalParser::finish_body()
{
    end_block();
    if (alignment().seqs.empty()) refuse(0, "it holds no sequences");
}

}  // namespace marrowind::detail
