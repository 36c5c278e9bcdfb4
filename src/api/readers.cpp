// readers.cpp: the library's alignment readers, on the core's streaming parsers.
//
// Contents: range_label, aligned_sequences, read_alignment, parse_alignment, AlignmentReader,
// column_chains.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "core/records.h"
#include "input/alignment_reader.h"
#include "input/text_stream.h"
#include "marrowind/readers.h"

namespace marrowind {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// The value of decimal digits, none when it does not fit.
std::optional<std::int64_t> decimal(std::string_view digits)
{
    std::int64_t value = 0;
    for (const char c : digits) {
        if (value > (INT64_MAX - (c - '0')) / 10) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The range that a name ending in "/start-end" labels.
std::optional<ResidueRange> range_label(std::string_view name)
{
    std::size_t end_digits = name.size();
    while (end_digits > 0 && is_digit(name[end_digits - 1])) --end_digits;
    if (end_digits == name.size() || end_digits == 0 || name[end_digits - 1] != '-')
        return std::nullopt;
    const std::size_t dash = end_digits - 1;
    std::size_t start_digits = dash;
    while (start_digits > 0 && is_digit(name[start_digits - 1])) --start_digits;
    if (start_digits == dash || start_digits == 0 || name[start_digits - 1] != '/')
        return std::nullopt;
    const std::optional<std::int64_t> start =
        decimal(name.substr(start_digits, dash - start_digits));
    const std::optional<std::int64_t> end = decimal(name.substr(end_digits));
    if (!start || !end) return std::nullopt;
    return ResidueRange{*start, *end};
}

// The records moved, one at a time, into the library's form.
AlignedSequences aligned_sequences(std::unique_ptr<Alignment> alignment, AlignmentFormat format,
                                   const std::string& source, std::vector<ComplexChain> chains)
{
    AlignedSequences result;
    result.format = format;
    result.source = source;
    result.chains = std::move(chains);
    std::vector<Prot>& records = alignment->seqs;
    result.names.reserve(records.size());
    result.sequences.reserve(records.size());
    result.ranges.reserve(records.size());
    for (Prot& record : records) {
        result.ranges.push_back(range_label(record.name));
        result.names.push_back(std::move(record.name));
        result.sequences.push_back(std::move(record.seq));
    }
    return result;
}

}  // namespace

class AlignmentReader::Parts {
public:
    Parts(const std::string& source, AlignmentFormat format)
        : source(source), decoder(source), parser(source, format)
    {
    }
    const std::string source;
    detail::TextDecoder decoder;
    detail::AlignmentParser parser;
};

AlignmentReader::AlignmentReader(const std::string& source, AlignmentFormat format)
    : parts_(std::make_unique<Parts>(source, format))
{
}

AlignmentReader::~AlignmentReader() = default;

void AlignmentReader::feed(const char* data, std::size_t size)
{
    detail::AlignmentParser& parser = parts_->parser;
    parts_->decoder.feed(data, size, [&parser](const char* text, std::size_t length) {
        parser.feed(text, length);
    });
}

AlignedSequences AlignmentReader::finish()
{
    detail::AlignmentParser& parser = parts_->parser;
    parts_->decoder.finish([&parser](const char* text, std::size_t length) {
        parser.feed(text, length);
    });
    AlignmentFormat format = AlignmentFormat::kDetect;
    std::unique_ptr<Alignment> alignment = parser.finish(format);
    return aligned_sequences(std::move(alignment), format, parts_->source, parser.take_chains());
}

AlignedSequences read_alignment(const std::string& path, AlignmentFormat format)
{
    detail::AlignmentParser parser(path, format);
    detail::stream_file(path, [&parser](const char* text, std::size_t size) {
        parser.feed(text, size);
    });
    AlignmentFormat read = AlignmentFormat::kDetect;
    std::unique_ptr<Alignment> alignment = parser.finish(read);
    return aligned_sequences(std::move(alignment), read, path, parser.take_chains());
}

AlignedSequences parse_alignment(std::string_view text, AlignmentFormat format,
                                 const std::string& source)
{
    AlignmentReader reader(source, format);
    reader.feed(text.data(), text.size());
    return reader.finish();
}

std::vector<std::int32_t> column_chains(const std::vector<ComplexChain>& chains)
{
    std::vector<std::int32_t> chain_of;
    for (std::size_t i = 0; i < chains.size(); ++i)
        chain_of.insert(chain_of.end(), static_cast<std::size_t>(chains[i].length),
                        static_cast<std::int32_t>(i));
    return chain_of;
}

}  // namespace marrowind
