// lines.cpp: lines and fields.
//
// Contents: is_blank, trimmed, split_fields, LineSplitter.
#include "input/lines.h"

#include <algorithm>

#include "core/allocation.h"

namespace marrowind::detail {

namespace {

std::size_t skip_blank(std::string_view text, std::size_t at)
{
    while (at < text.size() && is_blank_byte(text[at])) ++at;
    return at;
}

}  // namespace

bool is_blank(std::string_view line)
{
    return std::all_of(line.begin(), line.end(), is_blank_byte);
}

std::string_view trimmed(std::string_view line)
{
    const std::size_t first = skip_blank(line, 0);
    std::size_t last = line.size();
    while (last > first && is_blank_byte(line[last - 1])) --last;
    return line.substr(first, last - first);
}

std::vector<std::string_view> split_fields(std::string_view line, std::size_t most)
{
    std::vector<std::string_view> fields;
    std::size_t at = skip_blank(line, 0);
    while (at < line.size()) {
        if (fields.size() + 1 == most) {
            fields.push_back(line.substr(at));
            break;
        }
        std::size_t end = at;
        while (end < line.size() && !is_blank_byte(line[end])) ++end;
        fields.push_back(line.substr(at, end - at));
        at = skip_blank(line, end);
    }
    return fields;
}

void LineSplitter::feed(const char* data, std::size_t size, const LineSink& take)
{
    std::size_t at = 0;
    if (after_cr_ && size > 0) {
        if (data[0] == '\n') at = 1;
        after_cr_ = false;
    }
    while (at < size) {
        std::size_t end = at;
        while (end < size && data[end] != '\n' && data[end] != '\r') ++end;
        if (end == size) {
            append_bytes(partial_, data + at, size - at);
            return;
        }
        if (partial_.empty()) {
            take(std::string_view(data + at, end - at));
        } else {
            append_bytes(partial_, data + at, end - at);
            take(partial_);
            partial_.clear();
        }
        at = end + 1;
        if (data[end] == '\r') {
            if (at == size)
                after_cr_ = true;
            else if (data[at] == '\n')
                ++at;
        }
    }
}

void LineSplitter::finish(const LineSink& take)
{
    if (!partial_.empty()) take(partial_);
    partial_.clear();
}

}  // namespace marrowind::detail
