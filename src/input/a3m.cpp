// a3m.cpp: match columns of A2M and A3M alignments.
//
// Contents: is_annotation_record, count_match_states, keep_match_states, looks_like_a3m,
// keep_match_columns, FirstRecordSeeker.
#include "input/a3m.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "core/allocation.h"

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
            return at;
        }
        at_line_start_ = data[at] == '\n' || data[at] == '\r';
    }
    return size;
}

}  // namespace marrowind::detail
