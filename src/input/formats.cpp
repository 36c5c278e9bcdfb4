// formats.cpp: format names and detection.
//
// Contents: format_name, parse_format_name, detect_format, format_of_first_line,
// not_an_alignment, starts_clustal, FormatSniffer.
#include "input/formats.h"

#include <algorithm>
#include <cctype>

#include "core/allocation.h"
#include "input/lines.h"
#include "input/text_stream.h"

namespace marrowind {

namespace {

constexpr std::string_view kStockholmHeader = "# STOCKHOLM";
// The first words of the Clustal files that Clustal and other aligners write.
constexpr std::string_view kClustalHeaders[] = {"CLUSTAL", "MUSCLE", "PROBCONS", "MSAPROBS",
                                                "Kalign"};

bool starts_with(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// The suffix of a file name after its last dot, as a path's extension: the dot must be in the
// last component and not lead it. A ".gz" is looked through.
std::string lower_extension(std::string_view source)
{
    if (source.size() >= 3 && source.substr(source.size() - 3) == ".gz")
        source.remove_suffix(3);
    const std::size_t slash = source.rfind('/');
    const std::size_t name = slash == std::string_view::npos ? 0 : slash + 1;
    const std::size_t dot = source.rfind('.');
    if (dot == std::string_view::npos || dot < name) return "";
    const std::string_view stem = source.substr(name, dot - name);
    if (std::all_of(stem.begin(), stem.end(), [](char c) { return c == '.'; })) return "";
    std::string extension(source.substr(dot));
    for (char& c : extension)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

}  // namespace

const char* format_name(AlignmentFormat format)
{
    switch (format) {
    case AlignmentFormat::kDetect: return "detect";
    case AlignmentFormat::kFasta: return "fasta";
    case AlignmentFormat::kStockholm: return "stockholm";
    case AlignmentFormat::kA2m: return "a2m";
    case AlignmentFormat::kA3m: return "a3m";
    case AlignmentFormat::kClustal: return "clustal";
    }
    return "detect";
}

std::optional<AlignmentFormat> parse_format_name(std::string_view name)
{
    for (const AlignmentFormat format : kAlignmentFormats)
        if (name == format_name(format)) return format;
    return std::nullopt;
}

AlignmentFormat detect_format(std::string_view text, const std::string& source)
{
    text = detail::without_byte_order_mark(text);
    std::size_t first = 0;
    while (first < text.size() && detail::is_blank_byte(text[first])) ++first;
    const std::optional<AlignmentFormat> format =
        detail::format_of_first_line(text.substr(first), source);
    if (!format) throw detail::not_an_alignment(source);
    return *format;
}

namespace detail {

bool starts_clustal(std::string_view line)
{
    return std::any_of(std::begin(kClustalHeaders), std::end(kClustalHeaders),
                       [line](std::string_view header) { return starts_with(line, header); });
}

std::optional<AlignmentFormat> format_of_first_line(std::string_view text,
                                                    std::string_view source)
{
    if (starts_with(text, kStockholmHeader)) return AlignmentFormat::kStockholm;
    if (starts_clustal(text)) return AlignmentFormat::kClustal;
    const std::string extension = lower_extension(source);
    if (extension == ".a2m") return AlignmentFormat::kA2m;
    if (extension == ".a3m") return AlignmentFormat::kA3m;
    if (starts_with(text, "#")) return AlignmentFormat::kA3m;  // HH-suite's "#A3M#", a comment
    if (starts_with(text, ">")) return AlignmentFormat::kFasta;
    return std::nullopt;
}

MalformedAlignment not_an_alignment(const std::string& source)
{
    std::string names;
    for (const AlignmentFormat format : kAlignmentFormats)
        names += std::string(names.empty() ? "" : ", ") + format_name(format);
    return MalformedAlignment((source.empty() ? "the input" : source) +
                              ": not an alignment in a known format (" + names + ")");
}

bool FormatSniffer::take(const char* data, std::size_t size)
{
    append_bytes(held_, data, size);
    return decided();
}

bool FormatSniffer::decided() const
{
    if (ended_) return true;
    const auto first = std::find_if_not(held_.begin(), held_.end(), is_blank_byte);
    return held_.end() - first >= static_cast<std::ptrdiff_t>(kStockholmHeader.size());
}

std::optional<AlignmentFormat> FormatSniffer::format() const
{
    const auto first = std::find_if_not(held_.begin(), held_.end(), is_blank_byte);
    return format_of_first_line(
        std::string_view(held_).substr(static_cast<std::size_t>(first - held_.begin())),
        source_);
}

}  // namespace detail

}  // namespace marrowind
