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
    while (line < end) {
        const char* newline =
            static_cast<const char*>(std::memchr(line, '\n', static_cast<std::size_t>(end - line)));
        if (newline == nullptr) {
            append_bytes(partial_line_, line, static_cast<std::size_t>(end - line));
            // A residue line without an end yet is held whole: it must not outgrow the limit
            // either (one byte more for a carriage return that may end it).
            if (partial_line_[0] != '>' && working_.seq.size() + partial_line_.size() > 1)
                check_column_count(source_, current_index(),
                                   working_.seq.size() + partial_line_.size() - 1);
            return;
        }
        if (partial_line_.empty()) {
            take_line(line, static_cast<std::size_t>(newline - line));
        } else {
            append_bytes(partial_line_, line, static_cast<std::size_t>(newline - line));
            take_line(partial_line_.data(), partial_line_.size());
            partial_line_.clear();
        }
        line = newline + 1;
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
    if (size > 0 && line[size - 1] == '\r') --size;
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
    parser.feed(text.data(), text.size());
    parser.finish();
    return alignment.release();
}
