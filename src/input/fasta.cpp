// fasta.cpp: the FASTA alignment reader.
//
// Contents: FastaParser, ReadFasta, ParseFasta.
#include "input/fasta.h"

#include <cstring>
#include <memory>
#include <utility>

#include "core/allocation.h"
#include "input/text_stream.h"
#include "input/validate.h"
#include "marrowind/errors.h"

namespace {

// The first `byte` in [from, to), or `to` when there is none.
const char* find_byte(const char* from, const char* to, char byte)
{
    const void* found = std::memchr(from, byte, static_cast<std::size_t>(to - from));
    return found != nullptr ? static_cast<const char*>(found) : to;
}

std::unique_ptr<Alignment> new_alignment()
{
    return marrowind::detail::or_out_of_memory(1, [] { return std::make_unique<Alignment>(); });
}

}  // namespace

marrowind::detail::FastaParser::FastaParser(Alignment& target, std::string source,
                                            std::size_t record_room)
    : alignment_(target), source_(std::move(source))
{
    marrowind::detail::or_out_of_memory(static_cast<long long>(record_room),
                                        [&] { alignment_.seqs.reserve(record_room); });
    alignment_.length = 0;
}

void marrowind::detail::FastaParser::feed(const char* data, std::size_t size)
{
    const char* const end = data + size;
    const char* line = data;
    // A line feed right after a line's carriage return is the second byte of its line end.
    if (after_cr_ && line < end) {
        if (*line == '\n') ++line;
        after_cr_ = false;
    }
    // Carriage returns are looked for ahead of the lines, once each, so that a file without
    // any costs one scan of each piece.
    const char* next_cr = find_byte(line, end, '\r');
    while (line < end) {
        if (next_cr < line) next_cr = find_byte(line, end, '\r');
        const char* const line_end = find_byte(line, next_cr, '\n');
        if (line_end == end) {
            append_bytes(partial_line_, line, static_cast<std::size_t>(end - line));
            // A residue line without an end yet is held whole: it must not outgrow the limit
            // either.
            if (partial_line_[0] != '>')
                check_column_count(source_, current_index(),
                                   working_.seq.size() + partial_line_.size());
            return;
        }
        if (partial_line_.empty()) {
            take_line(line, static_cast<std::size_t>(line_end - line));
        } else {
            append_bytes(partial_line_, line, static_cast<std::size_t>(line_end - line));
            take_line(partial_line_.data(), partial_line_.size());
            partial_line_.clear();
        }
        line = line_end + 1;
        if (*line_end == '\r') {
            if (line == end)
                after_cr_ = true;
            else if (*line == '\n')
                ++line;
        }
    }
}

void marrowind::detail::FastaParser::finish()
{
    // A last line without a newline is a line like any other; an empty one adds nothing.
    if (!partial_line_.empty()) {
        take_line(partial_line_.data(), partial_line_.size());
        partial_line_.clear();
    }
    if (record_count_ > 0) store_working_record();
    alignment_.nseq = record_count_;
}

void marrowind::detail::FastaParser::take_line(const char* line, std::size_t size)
{
    if (size > 0 && line[0] == '>') {
        check_sequence_count(source_, static_cast<std::size_t>(record_count_) + 1);
        if (record_count_ > 0) store_working_record();
        working_.name.assign(line + 1, size - 1);
        ++record_count_;
    } else {
        check_column_count(source_, current_index(), working_.seq.size() + size);
        append_bytes(working_.seq, line, size);
    }
}

void marrowind::detail::FastaParser::store_working_record()
{
    const std::size_t length = working_.seq.size();
    // The record keeps an exact copy of the residues: the working string grew line by line
    // and may have half as much room again, which a million records cannot spare. It keeps
    // its room for the next record.
    Prot record;
    record.name = std::move(working_.name);
    marrowind::detail::or_out_of_memory(static_cast<long long>(length),
                                        [&] { record.seq.assign(working_.seq); });
    marrowind::detail::or_out_of_memory(static_cast<long long>(alignment_.seqs.size() + 1),
                                        [&] { alignment_.seqs.push_back(std::move(record)); });
    alignment_.length = static_cast<int32_t>(length);
    working_.name = std::string();
    working_.seq.clear();
    // The records of an alignment share one length, so room for the last one is exactly
    // what the next one needs: no string ends up with spare capacity.
    marrowind::detail::or_out_of_memory(static_cast<long long>(length),
                                        [&] { working_.seq.reserve(length); });
}

Alignment* ReadFasta(const char* path)
{
    auto alignment = new_alignment();
    marrowind::detail::FastaParser parser(*alignment, path);
    marrowind::detail::stream_file(path, [&parser](const char* text, std::size_t size) {
        parser.feed(text, size);
    });
    parser.finish();
    return alignment.release();
}

Alignment* ParseFasta(std::string_view text)
{
    auto alignment = new_alignment();
    marrowind::detail::FastaParser parser(*alignment, "");
    text = marrowind::detail::without_byte_order_mark(text);
    parser.feed(text.data(), text.size());
    parser.finish();
    return alignment.release();
}
