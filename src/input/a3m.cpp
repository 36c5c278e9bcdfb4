// a3m.cpp: match columns of A2M and A3M alignments.
//
// Contents: is_annotation_record, count_match_states, keep_match_states, looks_like_a3m,
// keep_match_columns, FirstRecordSeeker, read_complex_chains.
#include "input/a3m.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "core/allocation.h"
#include "marrowind/errors.h"

namespace marrowind::detail {

namespace {

constexpr std::string_view kAnnotationRecords[] = {"ss_pred", "ss_conf", "ss_dssp", "sa_dssp",
                                                   "ss_cons"};

// The bytes that separate the words of a name: ASCII white space and the information
// separators 1C to 1F, which Unicode counts as white space too.
bool separates_words(char c)
{
    const unsigned char byte = static_cast<unsigned char>(c);
    return byte == ' ' || (byte >= '\t' && byte <= '\r') || (byte >= 0x1c && byte <= 0x1f);
}

bool is_insert_state(char c) { return (c >= 'a' && c <= 'z') || c == '.'; }

}  // namespace

std::size_t count_match_states(std::string_view row)
{
    return row.size() -
           static_cast<std::size_t>(std::count_if(row.begin(), row.end(), is_insert_state));
}

bool is_annotation_record(std::string_view name)
{
    std::size_t first = 0;
    while (first < name.size() && separates_words(name[first])) ++first;
    std::size_t end = first;
    while (end < name.size() && !separates_words(name[end])) ++end;
    const std::string_view word = name.substr(first, end - first);
    return std::find(std::begin(kAnnotationRecords), std::end(kAnnotationRecords), word) !=
           std::end(kAnnotationRecords);
}

void keep_match_states(std::string& row)
{
    const auto kept = std::remove_if(row.begin(), row.end(), is_insert_state);
    if (kept == row.end()) return;
    row.erase(kept, row.end());
    // An A3M row may carry many times its match states in inserts.
    or_out_of_memory(static_cast<long long>(row.size()), [&] { row.shrink_to_fit(); });
}

bool looks_like_a3m(const Alignment& alignment)
{
    std::optional<std::size_t> query_columns;
    for (const Prot& record : alignment.seqs) {
        if (is_annotation_record(record.name)) continue;
        const std::size_t columns = count_match_states(record.seq);
        if (!query_columns) {
            if (columns == 0) return false;
            query_columns = columns;
        } else if (columns != *query_columns) {
            return false;
        }
    }
    return query_columns.has_value();
}

void keep_match_columns(Alignment& alignment)
{
    std::vector<Prot>& records = alignment.seqs;
    records.erase(std::remove_if(records.begin(), records.end(),
                                 [](const Prot& record) {
                                     return is_annotation_record(record.name);
                                 }),
                  records.end());
    for (Prot& record : records) keep_match_states(record.seq);
    alignment.nseq = static_cast<int32_t>(records.size());
    alignment.length = records.empty() ? 0 : static_cast<int32_t>(records.back().seq.size());
}

std::size_t FirstRecordSeeker::skip(const char* data, std::size_t size)
{
    if (found_) return 0;
    for (std::size_t at = 0; at < size; ++at) {
        if (at_line_start_ && data[at] == '>') {
            found_ = true;
            in_first_line_ = false;
            return at;
        }
        at_line_start_ = data[at] == '\n' || data[at] == '\r';
        if (at_line_start_) in_first_line_ = false;
        if (!in_first_line_) continue;
        if (first_line_.size() == kLongestKeptLine) {
            in_first_line_ = false;  // too long for a line of chains
            first_line_.clear();
        } else {
            first_line_ += data[at];
        }
    }
    return size;
}

namespace {

// The whole numbers of a list "5,12,3", none when it has any other shape.
std::optional<std::vector<std::string_view>> number_list(std::string_view text)
{
    std::vector<std::string_view> numbers;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string_view number = text.substr(start, comma - start);
        if (number.empty() ||
            !std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return std::nullopt;
        numbers.push_back(number);
        if (comma == text.size()) return numbers;
        start = comma + 1;
    }
}

// ColabFold names the chains of its model A to Z, then AA, AB, and so on, over the distinct
// chains and their copies in order.
std::string chain_id(std::int64_t index)
{
    std::string id;
    for (++index; index > 0; index = (index - 1) / 26)
        id.insert(id.begin(), static_cast<char>('A' + (index - 1) % 26));
    return id;
}

}  // namespace

std::vector<ComplexChain> read_complex_chains(std::string_view line, std::int64_t columns,
                                              const std::string& source)
{
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
    const std::size_t tab = line.find('\t');
    if (line.empty() || line[0] != '#' || tab == std::string_view::npos) return {};
    const auto lengths = number_list(line.substr(1, tab - 1));
    const auto copies = number_list(line.substr(tab + 1));
    if (!lengths || !copies) return {};

    const std::string at = source + ": line 1: ColabFold's line of chains ";
    if (lengths->size() != copies->size())
        throw MalformedAlignment(at + "gives " + std::to_string(lengths->size()) +
                                 " lengths but " + std::to_string(copies->size()) +
                                 " numbers of copies");
    // Counted while they stay within `most` (so that no sum overflows).
    const auto value = [&at](std::string_view digits, const char* what, std::int64_t most,
                             const char* limit) {
        std::int64_t number = 0;
        for (const char c : digits) {
            number = number * 10 + (c - '0');
            if (number > most) throw MalformedAlignment(at + limit);
        }
        if (number < 1)
            throw MalformedAlignment(at + "gives " + what + " of 0; each must be at least 1");
        return number;
    };
    const std::string too_many_columns =
        "names more than " + std::to_string(kMostColumns) + " columns";
    const std::string too_many_copies =
        "names more than " + std::to_string(kMostComplexCopies) + " chains, copies included";
    std::vector<ComplexChain> chains(lengths->size());
    std::int64_t column = 0;
    std::int64_t copy = 0;
    for (std::size_t i = 0; i < chains.size(); ++i) {
        ComplexChain& chain = chains[i];
        chain.first_column = column;
        chain.length =
            value((*lengths)[i], "a length", kMostColumns - column, too_many_columns.c_str());
        chain.copies = value((*copies)[i], "a number of copies", kMostComplexCopies - copy,
                             too_many_copies.c_str());
        for (std::int64_t k = 0; k < chain.copies; ++k, ++copy)
            chain.chain_ids += (k ? "," : "") + chain_id(copy);
        column += chain.length;
    }
    if (column != columns)
        throw MalformedAlignment(at + "has chains of " + std::string(line.substr(1, tab - 1)) +
                                 " residues, " + std::to_string(column) +
                                 " columns in all, but the alignment has " +
                                 std::to_string(columns));
    return chains;
}

}  // namespace marrowind::detail
