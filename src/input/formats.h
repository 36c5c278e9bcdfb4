// formats.h: telling an alignment's format from its first line.
//
// Contents:
//   format_of_first_line  the format that the start of a text's first non-blank line names
//   not_an_alignment      the error for a text in no known format
//   FormatSniffer         holds back the start of a text until its format is known
//
// format_name, parse_format_name and detect_format (<marrowind/readers.h>) are defined here
// too.
#ifndef MARROWIND_INPUT_FORMATS_H
#define MARROWIND_INPUT_FORMATS_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "marrowind/errors.h"
#include "marrowind/readers.h"

namespace marrowind::detail {

// `text` starts at the first byte of a text that is not blank (see input/lines.h) and holds at
// least the 11 bytes after it, or all of the text when it is shorter. Returns the format that
// detect_format gives, or none when it knows none.
std::optional<AlignmentFormat> format_of_first_line(std::string_view text,
                                                    std::string_view source);

// "<source>: not an alignment in a known format (fasta, stockholm, a2m, a3m, clustal)", "the
// input" standing for an empty source.
MalformedAlignment not_an_alignment(const std::string& source);

// Whether a line that is not blank, leading blank bytes removed, opens a Clustal file.
bool starts_clustal(std::string_view line);

class FormatSniffer {
public:
    explicit FormatSniffer(std::string source) : source_(std::move(source)) {}

    // Takes the next piece of the text. Returns true once the start of the text tells what it
    // is (or, after end(), all of it has been seen); the text taken so far is then in held().
    bool take(const char* data, std::size_t size);

    // The text has ended.
    void end() { ended_ = true; }

    // The format detected, none when the text is in no known format; only once take()
    // returned true or end() was called.
    std::optional<AlignmentFormat> format() const;

    // The text taken so far, to be handed on once the format is known; release() frees it.
    const std::string& held() const { return held_; }
    void release() { std::string().swap(held_); }

private:
    bool decided() const;

    const std::string source_;
    std::string held_;
    bool ended_ = false;
};

}  // namespace marrowind::detail

#endif
